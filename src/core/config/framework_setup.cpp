#include "core/config/framework_setup.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <stdexcept>

#include "core/common/text.hpp"
#include "core/config/settings.hpp"

namespace tarvo::config {
std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string os_error(int err, const std::string& path) {
  return "[Errno " + std::to_string(err) + "] " + std::strerror(err) + ": '" + path + "'";
}

std::vector<std::string> dotenv_candidates(const std::string& cwd) {
  std::vector<std::string> out;
  std::string dir = cwd;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  while (true) {
    out.push_back(join_path(dir.empty() ? "/" : dir, ".env"));
    if (dir.empty() || dir == "/") break;
    auto slash = dir.rfind('/');
    if (slash == std::string::npos) break;  // relative path without a parent part
    dir = slash == 0 ? "/" : dir.substr(0, slash);
  }
  return out;
}

std::optional<std::string> find_dotenv(const std::string& cwd, const std::function<bool(const std::string&)>& exists) {
  for (const auto& candidate : dotenv_candidates(cwd))
    if (exists(candidate)) return candidate;
  return std::nullopt;
}

bool dotenv_is_own(const std::string& cwd, const std::string& path) {
  auto candidates = dotenv_candidates(cwd);
  return !candidates.empty() && candidates.front() == path;
}

const std::vector<std::string>& dotenv_own_only_variables() {
  static const std::vector<std::string> names{"TARVO_CHROMIUM_EXECUTABLE"};
  return names;
}

bool show_validation_errors(const std::string& log_level_env) {
  std::string level = to_upper(log_level_env);
  return level == "DEBUG" || level == "INFO" || level == "WARNING";
}

bool show_validation_warnings(const std::string& log_level_env) { return to_upper(log_level_env) == "DEBUG"; }

std::optional<std::string> validation_more_line(std::size_t count) {
  if (count <= kMaxErrorsShown) return std::nullopt;
  return validation_more_problems_line(count - kMaxErrorsShown);
}

std::vector<std::string> validation_report(const std::vector<std::string>& errors,
                                           const std::vector<std::string>& warnings,
                                           const std::optional<std::string>& log_level_env) {
  std::vector<std::string> lines;
  if (!errors.empty() && show_validation_errors(log_level_env.value_or("INFO"))) {
    lines.push_back(validation_errors_heading(errors.size()));
    for (std::size_t i = 0; i < errors.size() && i < kMaxErrorsShown; ++i)
      lines.push_back(validation_error_line(errors[i]));
    if (auto more = validation_more_line(errors.size())) lines.push_back(*more);
    lines.push_back("");
  }
  if (!warnings.empty() && show_validation_warnings(log_level_env.value_or("")))
    for (std::size_t i = 0; i < warnings.size() && i < kMaxWarningsShown; ++i)
      lines.push_back(validation_warning_line(warnings[i]));
  return lines;
}

int log_level_value(const std::string& name) {
  const std::string n = to_upper(name);
  if (n == "CRITICAL" || n == "FATAL") return 50;
  if (n == "ERROR") return 40;
  if (n == "WARNING" || n == "WARN") return 30;
  if (n == "INFO") return 20;
  if (n == "DEBUG") return 10;
  if (n == "NOTSET") return 0;
  return 30;
}

std::vector<std::pair<std::string, std::string>> test_data(const SettingMap& s) {
  return {
      {"email", get_string(s, "test_email", "")},
      {"password", get_string(s, "test_password", "")},
      {"user_name", get_string(s, "test_user_name", "")},
      {"api_base_url", get_string(s, "api_base_url", "")},
      {"base_url", get_string(s, "base_url", "")},
  };
}

}  // namespace tarvo::config
