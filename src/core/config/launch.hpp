// Browser launch: the launch options and the merged command-line arguments,
// from the settings, a named preset and a JSON flag file.
#pragma once
#include <optional>
#include <stdexcept>
#include <string_view>
#include <string>

#include "core/common/settings_value.hpp"
#include "core/config/messages.hpp"
#include "services/browser.hpp"
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

// The plan's lines of messages.hpp: the endpoint in use, the ignored options.
std::string remote_browser_line(const BrowserPlan& plan);
std::string ignored_options_line(const BrowserPlan& plan);
// The one message of a failed connection: names the variable and the endpoint,
// then the first line of the driver's error (its call log is left out).
std::string connect_failed_message(const BrowserPlan& plan, const std::string& error_text);

// ---- starting the browser ---------------------------------------------------

// The driver engine that connects to a remote browser: Playwright's connect()
// talks to a server of the configured engine; connect_over_cdp() is Chromium's.
std::string connect_engine(const BrowserPlan& plan, const std::string& browser);

// Starts the run's browser for the settings, in this order of choice:
//  * an endpoint (plan_browser) connects instead of launching; the launch
//    options a connection ignores are printed once, while `ignored_reported`
//    is false (the caller keeps it for the process), then the endpoint line;
//  * "firefox" and "webkit" launch those engines;
//  * "chrome" tries the installed Chrome (channel "chrome"); when that launch
//    fails, the failure and the fall-back are printed and Chromium is launched
//    with TARVO_CHROMIUM_EXECUTABLE, as any other name does ("🌐 Usando
//    Chromium" only for the name "chromium").
// A failure of the last launch or of the connection leaves this function.
void start_browser(BrowserDriver& driver, const SettingMap& settings, LaunchOptions options, const Environment& env,
                   Console& console, bool& ignored_reported);

// A new browser in place of one whose process died. The dead browser is closed
// quietly. The driver outlives a killed browser, so the new one is launched on
// the running driver; when there is none, or that launch fails (the driver died
// too), the driver is stopped quietly and a new one started. A failure of that
// last start leaves this function.
void relaunch_browser(BrowserRuntime& runtime);

}  // namespace tarvo::config
