// The retry pass over the scenarios that failed during the run: its attempt
// loop and the report it prints. The work on Python objects (the runner
// context, pages, execute_steps) sits behind RetryTarget.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "core/lifecycle/messages.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "services/console.hpp"

namespace tarvo::lifecycle {

enum class RetryResult { Passed, StillFailing, Error };

struct RetryOutcome {
  RetryResult result = RetryResult::StillFailing;
  std::string error_text;  // for Error: the failure's text
};

class RetryTarget {
 public:
  virtual ~RetryTarget() = default;
  // The entry's name as printed. A failure here is not caught by the pass.
  virtual std::string name(std::size_t entry) = 0;
  // Re-runs the entry's scenario once. A failure of the re-run itself is
  // reported as RetryResult::Error with its text, never thrown.
  virtual RetryOutcome run(std::size_t entry) = 0;
  // Makes sure a browser and a page exist; reports its own failures.
  virtual void ensure_browser() = 0;
  // Closes the context's page when there is one; failures ignored.
  virtual void close_page() = 0;
  // Called after each attempt's header with the entries about to be re-run, so
  // a target that re-runs them all at once (one process for the attempt) can do
  // it here and then answer run() from what it found. Does nothing by default.
  virtual void begin_attempt(const std::vector<std::size_t>& /*entries*/) {}
  // Told before each attempt's re-runs, so evidence and results can name the
  // attempt (retry 1, 2, ...).
  virtual void attempt_started(long long /*attempt*/) {}
};

// Runs the whole pass: nothing when retries are off or nothing failed;
// otherwise header, browser check, up to max_retries attempts (stopping once
// every entry passed), the still-failing summary, the page close and the
// closing rule. Returns the entries still failing at the end, in order.
// A run the user interrupted (Ctrl-C) is ending: when retries are on and
// scenarios failed, one line says they are not retried and nothing else runs.
std::vector<std::size_t> run_retry_pass(const RetrySettings& settings, std::size_t entry_count,
                                        RetryTarget& target, Console& console, bool interrupted = false);

}  // namespace tarvo::lifecycle
