#include "core/lifecycle/retry_settings.hpp"

#include "core/config/settings.hpp"

namespace tarvo::lifecycle {

long long parse_max_retries(const std::string& text) {
  return std::get<long long>(config::convert_setting(*config::find_setting("MAX_SCENARIO_RETRIES"), text));
}

RetrySettings read_retry_settings(const Environment& env) {
  RetrySettings s;
  s.max_retries = config::read_int(env, "MAX_SCENARIO_RETRIES");
  s.enabled = config::read_flag(env, "RETRY_FAILED_SCENARIOS");
  return s;
}

bool is_failed_status(std::string_view status_name) {
  return status_name == "failed" || status_name == "error" || status_name == "hook_error";
}

}  // namespace tarvo::lifecycle
