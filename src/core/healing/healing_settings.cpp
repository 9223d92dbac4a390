#include "core/healing/healing_settings.hpp"

namespace tarvo::healing {

HealingSettings HealingSettings::from_environment(const Environment& env) {
  using namespace config;
  HealingSettings s;
  s.enabled = read_flag(env, "SELF_HEALING_ENABLED");
  std::string model = read_text(env, "SELF_HEALING_MODEL");
  if (!model.empty()) s.model = model;
  s.auto_update_pom = read_flag(env, "SELF_HEALING_AUTO_UPDATE_POM");
  s.max_retries = read_int(env, "SELF_HEALING_MAX_RETRIES");
  s.log_suggestions = read_flag(env, "SELF_HEALING_LOG_SUGGESTIONS");
  s.max_html_length = read_int(env, "SELF_HEALING_MAX_HTML_LENGTH");
  s.confidence_threshold = read_real(env, "SELF_HEALING_CONFIDENCE_THRESHOLD");
  return s;
}

}  // namespace tarvo::healing
