#include "core/lifecycle/startup_switches.hpp"

#include "core/config/settings.hpp"

namespace tarvo::lifecycle {

namespace {

// Unset counts as "false" (the table's default); the text is not trimmed.
bool switch_on(const Environment& env, const char* name) { return config::read_flag(env, name); }

}  // namespace

std::vector<StartupAction> startup_actions(const Environment& env) {
  std::vector<StartupAction> actions;
  if (switch_on(env, kHideTransformersWarnings)) {
    actions.emplace_back(SetEnvironment{"TRANSFORMERS_VERBOSITY", "error"});
    actions.emplace_back(SetEnvironment{"TOKENIZERS_PARALLELISM", "false"});
    actions.emplace_back(IgnoreWarnings{WarningCategory::FutureWarning, "transformers", ""});
    actions.emplace_back(IgnoreWarnings{WarningCategory::UserWarning, "transformers", ""});
  }
  if (switch_on(env, kHideHfWarnings)) {
    actions.emplace_back(SetEnvironment{"HF_HUB_DISABLE_SYMLINKS_WARNING", "1"});
    actions.emplace_back(IgnoreWarnings{WarningCategory::Any, "", ".*HF Hub.*"});
  }
  if (switch_on(env, kHideBehaveWarnings)) {
    actions.emplace_back(IgnoreWarnings{WarningCategory::UserWarning, "behave", ""});
    actions.emplace_back(SilenceRunnerContextWarnings{});
  }
  return actions;
}

}  // namespace tarvo::lifecycle
