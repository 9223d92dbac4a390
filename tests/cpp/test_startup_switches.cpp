#include <gtest/gtest.h>

#include "core/lifecycle/startup_switches.hpp"

using namespace tarvo::lifecycle;

namespace {
std::vector<StartupAction> actions_for(std::map<std::string, std::string> vars) {
  tarvo::MapEnvironment env(std::move(vars));
  return startup_actions(env);
}
}  // namespace

TEST(StartupSwitches, NothingHappensWhenNoSwitchIsOn) {
  EXPECT_TRUE(actions_for({}).empty());
  // Only the exact text "true" in any capitalisation turns a switch on.
  EXPECT_TRUE(actions_for({{"HIDE_HF_WARNINGS", "1"},
                           {"HIDE_TRANSFORMERS_WARNINGS", "yes"},
                           {"HIDE_BEHAVE_WARNINGS", " true"}})
                  .empty());
  EXPECT_TRUE(actions_for({{"HIDE_HF_WARNINGS", "true "}, {"HIDE_BEHAVE_WARNINGS", ""}}).empty());
}

TEST(StartupSwitches, EachSwitchHasItsOwnEffectsInOrder) {
  EXPECT_EQ(actions_for({{"HIDE_TRANSFORMERS_WARNINGS", "true"}}),
            (std::vector<StartupAction>{
                SetEnvironment{"TRANSFORMERS_VERBOSITY", "error"},
                SetEnvironment{"TOKENIZERS_PARALLELISM", "false"},
                IgnoreWarnings{WarningCategory::FutureWarning, "transformers", ""},
                IgnoreWarnings{WarningCategory::UserWarning, "transformers", ""},
            }));
  EXPECT_EQ(actions_for({{"HIDE_HF_WARNINGS", "TRUE"}}),
            (std::vector<StartupAction>{
                SetEnvironment{"HF_HUB_DISABLE_SYMLINKS_WARNING", "1"},
                IgnoreWarnings{WarningCategory::Any, "", ".*HF Hub.*"},
            }));
  EXPECT_EQ(actions_for({{"HIDE_BEHAVE_WARNINGS", "True"}}),
            (std::vector<StartupAction>{
                IgnoreWarnings{WarningCategory::UserWarning, "behave", ""},
                SilenceRunnerContextWarnings{},
            }));
}

TEST(StartupSwitches, AllSwitchesApplyTransformersThenHubThenBehave) {
  auto all = actions_for({{"HIDE_BEHAVE_WARNINGS", "true"},
                          {"HIDE_HF_WARNINGS", "true"},
                          {"HIDE_TRANSFORMERS_WARNINGS", "true"}});
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(all[0], StartupAction(SetEnvironment{"TRANSFORMERS_VERBOSITY", "error"}));
  EXPECT_EQ(all[4], StartupAction(SetEnvironment{"HF_HUB_DISABLE_SYMLINKS_WARNING", "1"}));
  EXPECT_EQ(all[7], StartupAction(SilenceRunnerContextWarnings{}));
}
