// Browser launch: the launch options and the merged command-line arguments,
// from the settings, a named preset and a JSON flag file.
#pragma once
#include <optional>
#include <stdexcept>
#include <string_view>
#include <string>

#include "core/common/settings_value.hpp"
#include "services/console.hpp"
#include "services/environment.hpp"

namespace tarvo::config {

// Options handed to the engine's launch(), in this key order.
struct LaunchOptions {
  bool headless = false;
  long long slow_mo = 0;
  std::optional<std::string> downloads_path;  // when setting downloads_dir is non-empty
  StringList args;                            // passed only when non-empty
  std::optional<std::string> channel;         // "chrome" while trying the installed Chrome
  std::optional<std::string> executable_path; // Debian Chromium, for launches without channel
};

enum class Engine { Chromium, Firefox, Webkit, Chrome };

// "firefox" and "webkit" pick those engines, "chrome" the installed Chrome through
// Chromium's channel, and any other name Chromium.
Engine engine_for(const std::string& browser);

// The named preset's arguments (exact, case-sensitive name), or an empty list.
StringList preset_args(const std::string& preset);

// A flag file that cannot be used; what() is the reason shown after the path.
struct FlagFileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The "args" list of the text of a flag file. Throws FlagFileError (with a
// valid UTF-8 reason) for text that is not one JSON object (a NUL byte
// anywhere, nesting deeper than 64 levels, malformed or non-UTF-8 JSON), or
// whose "args" is not a list of texts. Absent or null "args" gives no flags.
StringList flag_file_args(std::string_view text);

// The "args" list of a JSON flag file. Any problem (missing or unreadable file,
// a path that is not a regular file, a file larger than 1 MiB,
// malformed JSON, a top level that is not an object, "args" that is not a list
// of texts) prints "⚠️ Error cargando archivo de configuración <path>: <reason>"
// and gives no arguments.
StringList load_flag_file(const std::string& path, Console& console);

// The per-engine arguments built from the settings.
StringList browser_specific_args(const SettingMap& settings);

// The merged argument list, from the six sources in order: BROWSER_ARGS items
// (trimmed, empty ones dropped), the preset, the flag file, the per-engine
// rules, the head-less flags and the proxy. Never de-duplicated.
StringList merge_launch_args(const SettingMap& settings, Console& console);

// Launch options for the settings (without channel or executable path).
LaunchOptions build_launch_options(const SettingMap& settings, Console& console);

// The settings a launch reads: the settings dictionary plus the launch settings
// kept outside it (HEADLESS_WEB_SECURITY), read now from the environment by their
// table rows. A key the dictionary already holds (a caller's own) is kept.
SettingMap launch_settings(const SettingMap& config, const Environment& env);

// Said once at run start: a headless launch turns the same-origin policy and
// the sandbox off unless HEADLESS_WEB_SECURITY is true. Nothing otherwise.
std::optional<std::string> headless_security_notice(const SettingMap& settings);

// The Chromium executable named by TARVO_CHROMIUM_EXECUTABLE, when set and non-empty.
std::optional<std::string> chromium_executable(const Environment& env);

// ---- launch or connect ------------------------------------------------------

// Where the run's browser comes from: a local launch, Playwright's connect() to a
// browser server (BROWSER_WS_ENDPOINT, for example one started with
// `playwright run-server`), or connect_over_cdp() to a running Chromium
// (BROWSER_CDP_ENDPOINT).
enum class BrowserSource { Launch, Connect, ConnectOverCdp };

struct BrowserPlan {
  BrowserSource source = BrowserSource::Launch;
  std::string variable;  // the endpoint's variable, for messages
  std::string endpoint;
  long long timeout_ms = 30000;  // connect time-out: the launch time-out (TIMEOUT)
  long long slow_mo = 0;         // connect() and connect_over_cdp() take it too
  // Launch options that a connection cannot apply, by name ("args (5)",
  // "downloads_path", "headless", "executable_path", "channel").
  StringList ignored;
  // Print the ignored options? Once per run: only the first worker of a
  // parallel run (TARVO_WORKER_ID unset or "1") says it.
  bool report_ignored = false;
};

// Decides launch or connect from the environment and the launch options that a
// local launch would use. Throws ConfigError naming the variable for an endpoint
// that is not a ws://, wss:// (or, for CDP, http:// or https://) address, for both
// endpoints set at once, and for CDP with an engine other than Chromium.
BrowserPlan plan_browser(const SettingMap& settings, const LaunchOptions& local, const Environment& env);

// "🌐 Usando navegador remoto (BROWSER_WS_ENDPOINT): ws://..."
std::string remote_browser_line(const BrowserPlan& plan);
// "ℹ️ Navegador remoto: se ignoran las opciones de lanzamiento local: args (5), headless"
std::string ignored_options_line(const BrowserPlan& plan);
// The one message of a failed connection: names the variable and the endpoint,
// then the first line of the driver's error (its call log is left out).
std::string connect_failed_message(const BrowserPlan& plan, const std::string& error_text);

// Fixed console texts of the launch.
inline constexpr const char* kMsgUsingChrome = "🌐 Usando Google Chrome instalado en el sistema";
inline constexpr const char* kMsgChromeFailedPrefix = "⚠️ No se pudo iniciar Chrome instalado: ";
inline constexpr const char* kMsgChromiumFallback = "🔄 Usando Chromium como alternativa";
inline constexpr const char* kMsgUsingChromium = "🌐 Usando Chromium";
inline constexpr const char* kMsgHeadlessSecurityOff =
    "ℹ️ HEADLESS=true añade --disable-web-security y --no-sandbox al navegador "
    "(HEADLESS_WEB_SECURITY=true los deja fuera)";
inline constexpr const char* kMsgFlagFileErrorPrefix = "⚠️ Error cargando archivo de configuración ";

}  // namespace tarvo::config
