// The set-up steps of the run's FrameworkConfig beside its settings and launch:
// the .env search, the environment-validation report, logger levels, test data
// and the stealth texts. (Old video recordings: video_retention.hpp.)
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/common/settings_value.hpp"
#include "core/config/messages.hpp"
#include "services/console.hpp"

namespace tarvo::config {

// "dir/name", with one slash between them.
std::string join_path(const std::string& dir, const std::string& name);

// Python's OSError text for error number err on path: "[Errno N] <reason>: '<path>'".
std::string os_error(int err, const std::string& path);

// ---- .env search ----------------------------------------------------------
// "<dir>/.env" for the directory and each ancestor, nearest first, ending at the root.
std::vector<std::string> dotenv_candidates(const std::string& cwd);
// The first candidate for which exists() holds, or nullopt.
std::optional<std::string> find_dotenv(const std::string& cwd, const std::function<bool(const std::string&)>& exists);

// Whether a found .env file is the working directory's own (the first
// candidate), rather than one in a parent folder.
bool dotenv_is_own(const std::string& cwd, const std::string& path);
// Variables that only the process environment or the working directory's own
// .env may set: a .env in a shared parent folder (a temporary folder, a CI
// workspace root) must not choose which program runs as the browser.
const std::vector<std::string>& dotenv_own_only_variables();

// ---- validation report ----------------------------------------------------
inline constexpr std::size_t kMaxErrorsShown = 5;
inline constexpr std::size_t kMaxWarningsShown = 3;

// Errors are shown when LOG_LEVEL (default "INFO") is DEBUG, INFO or WARNING.
bool show_validation_errors(const std::string& log_level_env);
// Warnings are shown only when LOG_LEVEL (default empty) is DEBUG.
bool show_validation_warnings(const std::string& log_level_env);
// The line that says how many errors were not listed, or nullopt when every
// error was listed.
std::optional<std::string> validation_more_line(std::size_t count);
// The whole report at once, for a result whose items are already texts.
std::vector<std::string> validation_report(const std::vector<std::string>& errors,
                                           const std::vector<std::string>& warnings,
                                           const std::optional<std::string>& log_level_env);

// ---- logging ----------------------------------------------------------------
inline constexpr const char* kFrameworkLoggerName = "tarvolab_framework";
inline constexpr const char* kLogFormat = "%(asctime)s - %(name)s - %(levelname)s - %(message)s";
// The numeric level of a level name (any capitalisation); WARNING (30) for a
// name that is not a level.
int log_level_value(const std::string& name);

// ---- test data --------------------------------------------------------------
std::vector<std::pair<std::string, std::string>> test_data(const SettingMap& settings);

}  // namespace tarvo::config
