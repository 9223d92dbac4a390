// The SELF_HEALING_* settings of the self-healing manager, read once per manager.
#pragma once
#include <optional>
#include <string>

#include "core/config/settings.hpp"
#include "services/environment.hpp"

namespace tarvo::healing {

// A SELF_HEALING_* variable whose text cannot be converted or is out of range.
// Reaches Python as ValueError.
using SettingError = config::ConfigError;

struct HealingSettings {
  bool enabled = false;
  std::optional<std::string> model;
  bool auto_update_pom = false;
  long long max_retries = 2;
  bool log_suggestions = true;
  long long max_html_length = 15000;
  double confidence_threshold = 0.7;

  // Reads the settings once through the settings table; throws SettingError
  // naming the variable and value.
  static HealingSettings from_environment(const Environment& env);
};

}  // namespace tarvo::healing
