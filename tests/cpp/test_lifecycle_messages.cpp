#include <gtest/gtest.h>

#include "core/lifecycle/run_setup.hpp"
#include "core/lifecycle/messages.hpp"
#include "core/lifecycle/page_policy.hpp"
#include "core/lifecycle/retry_settings.hpp"

namespace lc = tarvo::lifecycle;

TEST(LifecycleRules, FailedStatusCoversErrorsOfNewerRunners) {
  EXPECT_TRUE(lc::is_failed_status("failed"));
  EXPECT_TRUE(lc::is_failed_status("error"));
  EXPECT_TRUE(lc::is_failed_status("hook_error"));
  for (const char* s : {"passed", "skipped", "untested", "undefined", "Failed", "", "failed "}) {
    EXPECT_FALSE(lc::is_failed_status(s)) << s;
  }
}

TEST(LifecycleRules, MobileTagIsWholeTagAnyCase) {
  EXPECT_TRUE(lc::has_mobile_tag({"smoke", "mobile"}));
  EXPECT_TRUE(lc::has_mobile_tag({"Mobile"}));
  EXPECT_TRUE(lc::has_mobile_tag({"MOBILE"}));
  EXPECT_FALSE(lc::has_mobile_tag({}));
  EXPECT_FALSE(lc::has_mobile_tag({"mobile_only", "no_mobile", "@mobile", " mobile"}));
}

TEST(LifecycleRules, TabDecisionsNeedTwoOrMorePages) {
  EXPECT_FALSE(lc::should_switch_to_first_tab(0));
  EXPECT_FALSE(lc::should_switch_to_first_tab(1));
  EXPECT_TRUE(lc::should_switch_to_first_tab(2));
  EXPECT_EQ(lc::extra_window_count(0), 0u);
  EXPECT_EQ(lc::extra_window_count(1), 0u);
  EXPECT_EQ(lc::extra_window_count(3), 2u);
}

TEST(LifecycleRules, AiReportSwitchesAndDefaults) {
  EXPECT_TRUE(lc::ai_report_enabled(std::nullopt));
  EXPECT_TRUE(lc::ai_report_enabled(std::string("TRUE")));
  EXPECT_FALSE(lc::ai_report_enabled(std::string("yes")));
  EXPECT_FALSE(lc::ai_report_enabled(std::string("1")));
  EXPECT_FALSE(lc::ai_report_enabled(std::string("")));
  EXPECT_FALSE(lc::ai_report_enabled(std::string(" true")));
  EXPECT_FALSE(lc::ai_analysis_report_enabled(std::nullopt));
  EXPECT_TRUE(lc::ai_analysis_report_enabled(std::string("True")));
  EXPECT_FALSE(lc::ai_analysis_report_enabled(std::string("on")));
}

// Most lines are checked through the Python suite; these are the ones only a
// failing driver reaches.
TEST(LifecycleMessages, FailureLinesKeepPrefixAndText) {
  EXPECT_EQ(lc::extra_windows_failed("x"), "Error cerrando ventanas extra: x");
  EXPECT_EQ(lc::video_processing_failed("e"), "⚠️ Error procesando videos con intro: e");
  EXPECT_EQ(lc::timeouts_configured("5000", "7000"), "Timeout configurado: 5000ms, navegación: 7000ms");
  // An empty failure text still keeps the prefix (str() of a bare exception is "").
  EXPECT_EQ(lc::meridio_after_scenario_failed(""), "⚠️ Error en after_scenario Meridio: ");
}
