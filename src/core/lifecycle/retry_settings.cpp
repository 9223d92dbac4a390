#include "core/lifecycle/retry_settings.hpp"

#include <stdexcept>

#include "core/common/text.hpp"

namespace tarvo::lifecycle {

long long parse_max_retries(const std::string& text) {
  auto n = parse_int(text);
  if (!n)
    throw std::invalid_argument("MAX_SCENARIO_RETRIES debe ser un número entero, valor recibido: '" +
                                escape_invalid_utf8(text) + "'");
  return *n;
}

RetrySettings read_retry_settings(const Environment& env) {
  RetrySettings s;
  s.max_retries = parse_max_retries(env.get_or("MAX_SCENARIO_RETRIES", "1"));
  s.enabled = flag_true(env.get_or("RETRY_FAILED_SCENARIOS", "false"));
  return s;
}

}  // namespace tarvo::lifecycle
