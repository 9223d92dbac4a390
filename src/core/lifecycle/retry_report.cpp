#include "core/lifecycle/retry_report.hpp"

namespace tarvo::lifecycle {

std::vector<std::size_t> run_retry_pass(const RetrySettings& settings, std::size_t entry_count,
                                        RetryTarget& target, Console& console, bool interrupted) {
  std::vector<std::size_t> failing;
  for (std::size_t i = 0; i < entry_count; ++i) failing.push_back(i);
  if (!settings.enabled || entry_count == 0) return failing;
  if (interrupted) {
    console.print(std::string(kRetriesSkippedInterrupted));
    return failing;
  }

  auto print_all = [&](const std::vector<std::string>& lines) {
    for (const auto& l : lines) console.print(l);
  };

  print_all(retry_header(entry_count, settings.max_retries));
  target.ensure_browser();

  for (long long attempt = 1; attempt <= settings.max_retries; ++attempt) {
    if (failing.empty()) break;
    print_all(attempt_header(attempt, settings.max_retries, failing.size()));
    target.begin_attempt(failing);
    target.attempt_started(attempt);
    std::vector<std::size_t> still;
    for (std::size_t entry : failing) {
      console.print(retrying_line(target.name(entry)));
      RetryOutcome outcome = target.run(entry);
      switch (outcome.result) {
        case RetryResult::Passed:
          console.print(passed_line(attempt));
          break;
        case RetryResult::StillFailing:
          still.push_back(entry);
          console.print(std::string(kStillFailing));
          break;
        case RetryResult::Error:
          still.push_back(entry);
          console.print(retry_error_line(outcome.error_text));
          break;
      }
    }
    failing = std::move(still);
    if (failing.empty()) {
      console.print(all_passed_line(attempt));
      break;
    }
  }

  if (!failing.empty()) {
    std::vector<std::string> names;
    for (std::size_t entry : failing) names.push_back(target.name(entry));
    print_all(still_failing_summary(names, settings.max_retries));
  }
  target.close_page();
  console.print(retry_closing_rule());
  return failing;
}

}  // namespace tarvo::lifecycle
