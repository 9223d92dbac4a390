#include "core/config/settings.hpp"

#include <cmath>

#include "core/common/text.hpp"

namespace tarvo::config {
namespace {

using K = SettingKind;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

long long to_int_or_throw(const std::string& name, const std::string& text) {
  auto v = parse_int(text);
  if (!v) throw ConfigError(name + ": " + quoted(text) + " is not a valid integer");
  return *v;
}

double to_real_or_throw(const std::string& name, const std::string& text) {
  auto v = parse_double(text);
  if (!v) throw ConfigError(name + ": " + quoted(text) + " is not a valid real number");
  return *v;
}

const SettingRow* find_row(const std::string& key) {
  for (const auto& row : settings_table())
    if (key == row.key) return &row;
  return nullptr;
}

const char* kind_name(const SettingValue& v) {
  switch (v.index()) {
    case 0: return "text";
    case 1: return "integer";
    case 2: return "real";
    case 3: return "flag";
    default: return "list";
  }
}

std::string key_label(const std::string& key) { return "config['" + key + "']"; }

[[noreturn]] void wrong_kind(const std::string& key, const SettingValue& v, const char* wanted) {
  throw ConfigError(key_label(key) + ": expected " + wanted + ", got a " + kind_name(v));
}

}  // namespace

const std::vector<SettingRow>& settings_table() {
  static const std::vector<SettingRow> rows = {
      {"browser", "BROWSER", "chromium", K::LowerString},
      {"headless", "HEADLESS", "false", K::Flag},
      {"timeout", "TIMEOUT", "30000", K::Integer},
      {"navigation_timeout", "NAVIGATION_TIMEOUT", "30000", K::Integer},
      {"viewport_width", "VIEWPORT_WIDTH", "1920", K::Viewport},
      {"viewport_height", "VIEWPORT_HEIGHT", "1080", K::Viewport},
      {"device_scale_factor", "DEVICE_SCALE_FACTOR", "1", K::Real},
      {"slow_mo", "SLOW_MO", "0", K::Integer},
      {"browser_args", "BROWSER_ARGS", "", K::List},
      {"browser_config_preset", "BROWSER_CONFIG_PRESET", "", K::String},
      {"browser_config_file", "BROWSER_CONFIG_FILE", "", K::String},
      {"browser_memory_limit", "BROWSER_MEMORY_LIMIT", "4096", K::Integer},
      {"browser_proxy", "BROWSER_PROXY", "", K::String},
      {"browser_downloads_dir", "BROWSER_DOWNLOADS_DIR", "downloads", K::String},
      {"browser_download_behavior", "BROWSER_DOWNLOAD_BEHAVIOR", "auto", K::String},
      {"chrome_disable_security", "CHROME_DISABLE_SECURITY", "false", K::Flag},
      {"chrome_enable_logging", "CHROME_ENABLE_LOGGING", "false", K::Flag},
      {"chrome_log_level", "CHROME_LOG_LEVEL", "INFO", K::String},
      {"chrome_disable_extensions", "CHROME_DISABLE_EXTENSIONS", "true", K::Flag},
      {"chrome_disable_plugins", "CHROME_DISABLE_PLUGINS", "true", K::Flag},
      {"chrome_disable_images", "CHROME_DISABLE_IMAGES", "false", K::Flag},
      {"chrome_disable_javascript", "CHROME_DISABLE_JAVASCRIPT", "false", K::Flag},
      {"firefox_profile_path", "FIREFOX_PROFILE_PATH", "", K::String},
      {"firefox_disable_addons", "FIREFOX_DISABLE_ADDONS", "true", K::Flag},
      {"firefox_private_mode", "FIREFOX_PRIVATE_MODE", "false", K::Flag},
      {"webkit_disable_features", "WEBKIT_DISABLE_FEATURES", "", K::List},
      {"record_video", "RECORD_VIDEO", "false", K::Flag},
      {"video_dir", "VIDEO_DIR", "videos", K::String},
      {"video_size", "VIDEO_SIZE", "1280x720", K::String},
      {"video_mode", "VIDEO_MODE", "retain-on-failure", K::String},
      {"cleanup_old_videos", "CLEANUP_OLD_VIDEOS", "true", K::Flag},
      {"video_max_age_hours", "VIDEO_MAX_AGE_HOURS", "168", K::Integer},
      {"base_url", "BASE_URL", "", K::String},
      {"json_poms_path", "JSON_POMS_PATH", "json_poms", K::String},
      {"allure_results_dir", "ALLURE_RESULTS_DIR", "allure-results", K::String},
      {"html_reports_dir", "HTML_REPORTS_DIR", "html-reports", K::String},
      {"screenshots_dir", "SCREENSHOTS_DIR", "screenshots", K::String},
      {"downloads_dir", "DOWNLOADS_DIR", "downloads", K::String},
      {"log_level", "LOG_LEVEL", "INFO", K::String},
      {"log_file", "LOG_FILE", "", K::String},
      {"ignore_https_errors", "IGNORE_HTTPS_ERRORS", "false", K::Flag},
      {"user_agent", "BROWSER_USER_AGENT", "", K::UserAgent},
      {"auto_screenshot_on_failure", "AUTO_SCREENSHOT_ON_FAILURE", "true", K::Flag},
      {"auto_wait_for_load", "AUTO_WAIT_FOR_LOAD", "true", K::Flag},
      {"retry_failed_steps", "RETRY_FAILED_STEPS", "0", K::Integer},
      {"retry_failed_scenarios", "RETRY_FAILED_SCENARIOS", "false", K::Flag},
      {"max_scenario_retries", "MAX_SCENARIO_RETRIES", "1", K::Integer},
      {"stealth_mode", "STEALTH_MODE", "false", K::Flag},
      {"geolocation_enabled", "GEOLOCATION_ENABLED", "false", K::Flag},
      {"geolocation_latitude", "GEOLOCATION_LATITUDE", "0", K::Real},
      {"geolocation_longitude", "GEOLOCATION_LONGITUDE", "0", K::Real},
      {"geolocation_accuracy", "GEOLOCATION_ACCURACY", "100", K::Real},
      {"parallel_workers", "PARALLEL_WORKERS", "4", K::Integer},
      {"max_browser_instances", "MAX_BROWSER_INSTANCES", "10", K::Integer},
      {"browser_pool_size", "BROWSER_POOL_SIZE", "5", K::Integer},
      {"worker_timeout", "WORKER_TIMEOUT", "300", K::Integer},
      {"test_email", "TEST_EMAIL", "", K::String},
      {"test_password", "TEST_PASSWORD", "", K::String},
      {"test_user_name", "TEST_USER_NAME", "", K::String},
      {"api_base_url", "API_BASE_URL", "", K::String},
  };
  return rows;
}

StringList split_list_setting(const std::string& text) {
  if (text.empty()) return {};
  return split(text, ",");
}

SettingMap load_config(const Environment& env) {
  SettingMap out;
  for (const auto& row : settings_table()) {
    const std::string name = row.variable;
    switch (row.kind) {
      case K::String:
        out.set(row.key, env.get_or(name, row.default_text));
        break;
      case K::LowerString:
        out.set(row.key, to_lower(env.get_or(name, row.default_text)));
        break;
      case K::Flag:
        out.set(row.key, flag_true(env.get_or(name, row.default_text)));
        break;
      case K::Integer:
        out.set(row.key, to_int_or_throw(name, env.get_or(name, row.default_text)));
        break;
      case K::Real:
        out.set(row.key, to_real_or_throw(name, env.get_or(name, row.default_text)));
        break;
      case K::Viewport: {
        // An empty value counts as unset here, unlike the other numeric settings.
        std::string text = env.get_or(name, "");
        if (text.empty()) text = row.default_text;
        out.set(row.key, to_int_or_throw(name, text));
        break;
      }
      case K::List:
        out.set(row.key, split_list_setting(env.get_or(name, "")));
        break;
      case K::UserAgent: {
        std::string primary = env.get_or("BROWSER_USER_AGENT", "");
        out.set(row.key, !primary.empty() ? primary : env.get_or("USER_AGENT", ""));
        break;
      }
    }
  }
  return out;
}

SettingValue table_default(const std::string& key) {
  const SettingRow* row = find_row(key);
  if (!row) return std::string();
  switch (row->kind) {
    case K::Flag: return flag_true(row->default_text);
    case K::Integer:
    case K::Viewport: return *parse_int(row->default_text);
    case K::Real: return *parse_double(row->default_text);
    case K::List: return StringList{};
    default: return std::string(row->default_text);
  }
}

std::string get_string(const SettingMap& s, const std::string& key, const std::string& fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<std::string>(v)) return *p;
  if (auto p = std::get_if<long long>(v)) return std::to_string(*p);
  if (auto p = std::get_if<double>(v)) return format_real(*p);
  if (auto p = std::get_if<bool>(v)) return *p ? "True" : "False";
  wrong_kind(key, *v, "a text");
}

bool get_flag(const SettingMap& s, const std::string& key, bool fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<bool>(v)) return *p;
  if (auto p = std::get_if<std::string>(v)) return flag_true(*p);
  if (auto p = std::get_if<long long>(v)) return *p != 0;
  if (auto p = std::get_if<double>(v)) return *p != 0.0;
  return !std::get<StringList>(*v).empty();
}

long long get_int(const SettingMap& s, const std::string& key, long long fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<long long>(v)) return *p;
  if (auto p = std::get_if<bool>(v)) return *p ? 1 : 0;
  if (auto p = std::get_if<double>(v)) {
    if (std::isfinite(*p) && std::trunc(*p) == *p) return static_cast<long long>(*p);
    throw ConfigError(key_label(key) + ": " + format_real(*p) + " is not a valid integer");
  }
  if (auto p = std::get_if<std::string>(v)) return to_int_or_throw(key_label(key), *p);
  wrong_kind(key, *v, "an integer");
}

double get_real(const SettingMap& s, const std::string& key, double fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<double>(v)) return *p;
  if (auto p = std::get_if<long long>(v)) return static_cast<double>(*p);
  if (auto p = std::get_if<bool>(v)) return *p ? 1.0 : 0.0;
  if (auto p = std::get_if<std::string>(v)) return to_real_or_throw(key_label(key), *p);
  wrong_kind(key, *v, "a real number");
}

StringList get_list(const SettingMap& s, const std::string& key) {
  const SettingValue* v = s.find(key);
  if (!v) return {};
  if (auto p = std::get_if<StringList>(v)) return *p;
  if (auto p = std::get_if<std::string>(v)) return split_list_setting(*p);
  wrong_kind(key, *v, "a list of texts");
}

std::string get_string(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  auto p = std::get_if<std::string>(&d);
  return get_string(s, key, p ? *p : std::string());
}
bool get_flag(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_flag(s, key, std::holds_alternative<bool>(d) && std::get<bool>(d));
}
long long get_int(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_int(s, key, std::holds_alternative<long long>(d) ? std::get<long long>(d) : 0);
}
double get_real(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_real(s, key, std::holds_alternative<double>(d) ? std::get<double>(d) : 0.0);
}

}  // namespace tarvo::config
