#include "core/lifecycle/outcomes.hpp"

namespace tarvo::lifecycle {

bool runner_status_failed(std::string_view status) {
  return !(status == "passed" || status == "skipped" || status == "untested" || status.empty());
}

FinalOutcome decide_outcome(const ScenarioFacts& f) {
  if (f.forced_failure) return FinalOutcome::Failed;
  if (runner_status_failed(f.runner_status))
    return f.passed_on_retry > 0 ? FinalOutcome::Flaky : FinalOutcome::Failed;
  if (f.runner_status != "passed") return FinalOutcome::Skipped;
  return f.soft_failures > 0 ? FinalOutcome::PassedWithSoftFailures : FinalOutcome::Passed;
}

std::string_view outcome_name(FinalOutcome o) {
  switch (o) {
    case FinalOutcome::Passed: return "passed";
    case FinalOutcome::Failed: return "failed";
    case FinalOutcome::Flaky: return "flaky";
    case FinalOutcome::PassedWithSoftFailures: return "passed-with-soft-failures";
    case FinalOutcome::Skipped: return "skipped";
  }
  return "failed";
}

bool outcome_fails_run(FinalOutcome o, bool fail_on_flaky) {
  switch (o) {
    case FinalOutcome::Failed:
    case FinalOutcome::PassedWithSoftFailures: return true;
    case FinalOutcome::Flaky: return fail_on_flaky;
    default: return false;
  }
}

int run_exit_status(const std::vector<FinalOutcome>& outcomes, bool runner_failed_elsewhere, bool fail_on_flaky) {
  if (runner_failed_elsewhere) return 1;
  for (FinalOutcome o : outcomes)
    if (outcome_fails_run(o, fail_on_flaky)) return 1;
  return 0;
}

OutcomeCounts count_outcomes(const std::vector<FinalOutcome>& outcomes) {
  OutcomeCounts c;
  for (FinalOutcome o : outcomes) {
    switch (o) {
      case FinalOutcome::Passed: ++c.passed; break;
      case FinalOutcome::Failed: ++c.failed; break;
      case FinalOutcome::Flaky: ++c.flaky; break;
      case FinalOutcome::PassedWithSoftFailures: ++c.soft; break;
      case FinalOutcome::Skipped: ++c.skipped; break;
    }
  }
  return c;
}

namespace {
const std::string kRule(70, '=');

std::string mark(FinalOutcome o) {
  switch (o) {
    case FinalOutcome::Failed: return "❌ failed";
    case FinalOutcome::Flaky: return "🔁 flaky";
    case FinalOutcome::PassedWithSoftFailures: return "⚠️ passed-with-soft-failures";
    case FinalOutcome::Skipped: return "⏭️ skipped";
    default: return "✅ passed";
  }
}
}  // namespace

std::vector<std::string> outcome_summary_lines(const std::vector<SummaryEntry>& entries, bool fail_on_flaky) {
  std::vector<FinalOutcome> outcomes;
  for (const auto& e : entries) outcomes.push_back(e.outcome);
  OutcomeCounts c = count_outcomes(outcomes);
  std::vector<std::string> lines;
  lines.push_back("\n" + kRule);
  lines.push_back("📋 RESULTADO FINAL: " + std::to_string(c.total()) + " escenario(s): " +
                  std::to_string(c.passed) + " passed, " + std::to_string(c.failed) + " failed, " +
                  std::to_string(c.flaky) + " flaky, " + std::to_string(c.soft) +
                  " passed-with-soft-failures, " + std::to_string(c.skipped) + " skipped");
  // Failures first, then flaky ones, then soft failures: what needs a look comes first.
  for (FinalOutcome wanted : {FinalOutcome::Failed, FinalOutcome::PassedWithSoftFailures, FinalOutcome::Flaky}) {
    for (const auto& e : entries) {
      if (e.outcome != wanted) continue;
      std::string line = "   " + mark(e.outcome) + ": " + e.name;
      if (e.outcome == FinalOutcome::Flaky) line += " (pasó en el reintento " + std::to_string(e.passed_on_retry) + ")";
      if (!e.reason.empty()) line += " — " + e.reason;
      lines.push_back(line);
    }
  }
  int status = run_exit_status(outcomes, false, fail_on_flaky);
  lines.push_back(status == 0 ? "   Estado de salida según los resultados finales: 0"
                              : "   Estado de salida según los resultados finales: 1");
  lines.push_back(kRule + "\n");
  return lines;
}

std::string xray_status(FinalOutcome o) {
  switch (o) {
    case FinalOutcome::Passed:
    case FinalOutcome::Flaky: return "PASSED";
    case FinalOutcome::Skipped: return "TODO";
    default: return "FAILED";
  }
}

std::string flaky_comment(long long attempt) {
  return "Flaky: falló en la ejecución y pasó en el reintento " + std::to_string(attempt);
}

}  // namespace tarvo::lifecycle
