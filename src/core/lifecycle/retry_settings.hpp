// Settings of the end-of-run retry pass, read from the environment when the run
// ends: RETRY_FAILED_SCENARIOS (default "false") and MAX_SCENARIO_RETRIES
// (default "1", the number of extra attempts).
#pragma once
#include <string>
#include <string_view>

#include "services/environment.hpp"

namespace tarvo::lifecycle {

struct RetrySettings {
  bool enabled = false;
  long long max_retries = 1;
};

// Reads MAX_SCENARIO_RETRIES first, then the switch, so a bad number fails the
// run end whether or not retries are on. Throws std::invalid_argument naming the
// variable and its value when the number is not an integer or out of range.
RetrySettings read_retry_settings(const Environment& env);

// The number of attempts from its text; throws std::invalid_argument as above.
long long parse_max_retries(const std::string& text);

// A scenario counts as failed for the retry pass when its status is "failed",
// or one of the statuses newer runners use for failures that are not
// assertions ("error", "hook_error").
bool is_failed_status(std::string_view status_name);

}  // namespace tarvo::lifecycle
