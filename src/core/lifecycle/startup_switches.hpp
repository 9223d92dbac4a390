// Quieting switches read once when the runwright module is loaded. Each switch
// is an environment variable that is on exactly when its text, lower-cased,
// equals "true". Deciding what a switch does needs no Python; the binding only
// carries the resulting actions out on os.environ, the warnings module and the
// runner's Context class.
#pragma once
#include <string>
#include <variant>
#include <vector>

#include "services/environment.hpp"

namespace tarvo::lifecycle {

inline constexpr const char* kHideTransformersWarnings = "HIDE_TRANSFORMERS_WARNINGS";
inline constexpr const char* kHideHfWarnings = "HIDE_HF_WARNINGS";
inline constexpr const char* kHideBehaveWarnings = "HIDE_BEHAVE_WARNINGS";

// Set an environment variable, replacing any value already there.
struct SetEnvironment {
  std::string name;
  std::string value;
  bool operator==(const SetEnvironment&) const = default;
};

// Category of warnings an ignore rule applies to; Any means every category.
enum class WarningCategory { Any, FutureWarning, UserWarning };

// An "ignore" rule for the process's warning filters. Empty message/module
// patterns match everything, as in warnings.filterwarnings.
struct IgnoreWarnings {
  WarningCategory category = WarningCategory::Any;
  std::string module;   // regular expression on the source module name
  std::string message;  // regular expression on the warning text
  bool operator==(const IgnoreWarnings&) const = default;
};

// Replace the runner's Context._emit_warning (masking warnings) by a function
// that does nothing, when the class has that member.
struct SilenceRunnerContextWarnings {
  bool operator==(const SilenceRunnerContextWarnings&) const = default;
};

using StartupAction = std::variant<SetEnvironment, IgnoreWarnings, SilenceRunnerContextWarnings>;

// The actions of the switches that are on, in the order they must be applied:
// transformers, then Hugging Face Hub, then behave; within a switch, in its
// own fixed order.
std::vector<StartupAction> startup_actions(const Environment& env);

}  // namespace tarvo::lifecycle
