// The one final outcome of each scenario, and the run's exit status decided
// from them. The runner's status, the retry pass, the soft assertions and an
// explicit failure reason all feed one decision here, so the console summary,
// the reports, the Xray file and the exit status cannot disagree.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::lifecycle {

enum class FinalOutcome {
  Passed,
  Failed,
  Flaky,                   // failed in the run, passed in the retry pass
  PassedWithSoftFailures,  // passed, but soft assertions failed: counts as failed
  Skipped,
};

// What is known of one scenario at the end of the run.
struct ScenarioFacts {
  std::string runner_status;       // behave's status name ("passed", "failed", "error", ...)
  std::size_t soft_failures = 0;   // failed soft assertions of its run
  bool forced_failure = false;     // failed on purpose by framework code (strict healing, ...)
  long long passed_on_retry = 0;   // the retry attempt that passed; 0 when none did
};

FinalOutcome decide_outcome(const ScenarioFacts& facts);

// "passed", "failed", "flaky", "passed-with-soft-failures", "skipped".
std::string_view outcome_name(FinalOutcome outcome);

// True for a runner status that means the scenario did not pass: failed, error,
// hook_error, undefined, pending... (anything but passed, skipped, untested).
bool runner_status_failed(std::string_view status);

// True when the outcome makes the run fail: failed and passed-with-soft-failures
// always, flaky only when the project asks for it (RETRY_FAIL_ON_FLAKY).
bool outcome_fails_run(FinalOutcome outcome, bool fail_on_flaky);

// 1 when any outcome fails the run or the runner failed for a reason outside
// the scenarios (a run-level hook error, an abort); otherwise 0.
int run_exit_status(const std::vector<FinalOutcome>& outcomes, bool runner_failed_elsewhere,
                    bool fail_on_flaky);

struct OutcomeCounts {
  std::size_t passed = 0, failed = 0, flaky = 0, soft = 0, skipped = 0;
  std::size_t total() const { return passed + failed + flaky + soft + skipped; }
};
OutcomeCounts count_outcomes(const std::vector<FinalOutcome>& outcomes);

// Console lines of the run-end summary: a rule, the counts, one line per
// scenario that did not simply pass (name, outcome, and for flaky the attempt),
// the exit status the outcomes give, and a closing rule.
struct SummaryEntry {
  std::string name;
  FinalOutcome outcome = FinalOutcome::Passed;
  long long passed_on_retry = 0;
  std::string reason;  // a forced failure's reason, or empty
};
std::vector<std::string> outcome_summary_lines(const std::vector<SummaryEntry>& entries, bool fail_on_flaky);

// Xray test status ("PASSED", "FAILED", "TODO") and, for a flaky test, the
// comment that names the attempt that passed.
std::string xray_status(FinalOutcome outcome);
std::string flaky_comment(long long attempt);

// RETRY_FAIL_ON_FLAKY: on exactly when "true" in any capitalisation.
inline constexpr const char* kRetryFailOnFlakyVar = "RETRY_FAIL_ON_FLAKY";

}  // namespace tarvo::lifecycle
