#include <gtest/gtest.h>

#include "core/lifecycle/outcomes.hpp"

using namespace tarvo::lifecycle;

namespace {
FinalOutcome outcome(const char* status, std::size_t soft = 0, bool forced = false, long long retry = 0) {
  return decide_outcome({status, soft, forced, retry});
}
}  // namespace

TEST(Outcomes, EachCombinationGivesOneOutcome) {
  EXPECT_EQ(outcome("passed"), FinalOutcome::Passed);
  EXPECT_EQ(outcome("skipped"), FinalOutcome::Skipped);
  EXPECT_EQ(outcome("untested"), FinalOutcome::Skipped);
  // behave 1.3 reports non-assertion failures as error / hook_error; undefined
  // and pending steps did not pass either.
  for (const char* s : {"failed", "error", "hook_error", "undefined", "pending"}) {
    EXPECT_EQ(outcome(s), FinalOutcome::Failed) << s;
    EXPECT_EQ(outcome(s, 0, false, 2), FinalOutcome::Flaky) << s;
  }
  EXPECT_EQ(outcome("passed", 2), FinalOutcome::PassedWithSoftFailures);
  EXPECT_EQ(outcome("failed", 2), FinalOutcome::Failed);
  // A forced failure wins over everything, a retry that passed included.
  EXPECT_EQ(outcome("passed", 0, true), FinalOutcome::Failed);
  EXPECT_EQ(outcome("failed", 0, true, 1), FinalOutcome::Failed);
  EXPECT_EQ(outcome("skipped", 0, true), FinalOutcome::Failed);
  // A retry number on a passed scenario means nothing.
  EXPECT_EQ(outcome("passed", 0, false, 1), FinalOutcome::Passed);

  EXPECT_EQ(outcome_name(FinalOutcome::Flaky), "flaky");
  EXPECT_EQ(outcome_name(FinalOutcome::PassedWithSoftFailures), "passed-with-soft-failures");
}

TEST(Outcomes, ExitStatusFollowsTheFinalOutcomes) {
  using O = FinalOutcome;
  EXPECT_EQ(run_exit_status({}, false, false), 0);
  EXPECT_EQ(run_exit_status({O::Passed, O::Skipped}, false, false), 0);
  // Every failure passed on retry: 0, unless flaky runs are to fail.
  EXPECT_EQ(run_exit_status({O::Passed, O::Flaky}, false, false), 0);
  EXPECT_EQ(run_exit_status({O::Passed, O::Flaky}, false, true), 1);
  EXPECT_EQ(run_exit_status({O::Passed, O::PassedWithSoftFailures}, false, false), 1);
  EXPECT_EQ(run_exit_status({O::Flaky, O::Failed}, false, false), 1);
  // A run-level failure (hook error in before_all, abort) is never hidden.
  EXPECT_EQ(run_exit_status({O::Passed}, true, false), 1);
}

TEST(Outcomes, XrayStatusAndComment) {
  EXPECT_EQ(xray_status(FinalOutcome::Flaky), "PASSED");
  EXPECT_EQ(xray_status(FinalOutcome::PassedWithSoftFailures), "FAILED");
  EXPECT_EQ(xray_status(FinalOutcome::Skipped), "TODO");
  EXPECT_NE(flaky_comment(2).find("reintento 2"), std::string::npos);
}

TEST(Outcomes, SummaryCountsThenProblemsFailuresFirst) {
  std::vector<SummaryEntry> entries = {
      {"ok", FinalOutcome::Passed, 0, ""},
      {"inestable", FinalOutcome::Flaky, 1, ""},
      {"blando", FinalOutcome::PassedWithSoftFailures, 0, ""},
      {"roto", FinalOutcome::Failed, 0, "selector reparado no verificado"},
  };
  auto lines = outcome_summary_lines(entries, false);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[1],
            "📋 RESULTADO FINAL: 4 escenario(s): 1 passed, 1 failed, 1 flaky, 1 passed-with-soft-failures, 0 skipped");
  EXPECT_EQ(lines[2], "   ❌ failed: roto — selector reparado no verificado");
  EXPECT_EQ(lines[3], "   ⚠️ passed-with-soft-failures: blando");
  EXPECT_EQ(lines[4], "   🔁 flaky: inestable (pasó en el reintento 1)");
  EXPECT_EQ(lines[5], "   Estado de salida según los resultados finales: 1");
  auto only_flaky = outcome_summary_lines({{"x", FinalOutcome::Flaky, 1, ""}}, false);
  EXPECT_EQ(only_flaky[only_flaky.size() - 2], "   Estado de salida según los resultados finales: 0");
}
