#include "core/config/launch.hpp"

#include <cerrno>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "core/common/text.hpp"
#include "core/config/framework_setup.hpp"
#include "core/config/settings.hpp"

namespace tarvo::config {
namespace {

void append(StringList& to, const StringList& from) { to.insert(to.end(), from.begin(), from.end()); }

// Deepest nesting a flag file may have. The reader only needs "args" and its
// texts (depth 2); the limit leaves room for other members a team keeps in the
// file while refusing the pathological nesting that would exhaust the stack of
// anything that walks the document recursively.
constexpr std::size_t kMaxFlagFileDepth = 64;
// Longest piece of a refused "args" item quoted in the message.
constexpr std::size_t kMaxQuotedItem = 80;

std::string quoted_item(const nlohmann::json& item) {
  std::string text = item.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (utf8_length(text) <= kMaxQuotedItem) return text;
  return utf8_prefix(text, kMaxQuotedItem) + "...";
}

// Largest flag file read. A real one is a few hundred bytes; the limit keeps a
// path such as /dev/zero or a huge log named by mistake from filling memory.
constexpr std::size_t kMaxFlagFileBytes = 1 << 20;

StringList read_flag_file(const std::string& path) {
  // The C library would stop at the NUL and open another file.
  if (path.find('\0') != std::string::npos) throw FlagFileError("embedded null byte");
  // Only a regular file is read: a FIFO would block the run start in open(),
  // and a device such as /dev/zero never ends.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FlagFileError(os_error(errno, path));
  if (S_ISDIR(st.st_mode)) throw FlagFileError(os_error(EISDIR, path));
  if (!S_ISREG(st.st_mode)) throw FlagFileError("'" + path + "' is not a regular file");
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int err = errno ? errno : ENOENT;
    throw FlagFileError(os_error(err, path));
  }
  std::string text(kMaxFlagFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw FlagFileError("could not read '" + path + "'");
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxFlagFileBytes)
    throw FlagFileError("larger than " + std::to_string(kMaxFlagFileBytes) + " bytes");
  return flag_file_args(text);
}

}  // namespace

StringList flag_file_args(std::string_view text) {
  // A raw NUL byte is never valid JSON (inside a string it must be written
  // \u0000), but the parser takes one as the end of the input and would accept
  // whatever came before it.
  if (std::size_t nul = text.find('\0'); nul != std::string_view::npos)
    throw FlagFileError("NUL byte at offset " + std::to_string(nul) + ": not a JSON text");
  auto depth_guard = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
    if ((event == nlohmann::json::parse_event_t::object_start ||
         event == nlohmann::json::parse_event_t::array_start) &&
        static_cast<std::size_t>(depth) >= kMaxFlagFileDepth)
      throw FlagFileError("JSON nested deeper than " + std::to_string(kMaxFlagFileDepth) + " levels");
    return true;
  };
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text, depth_guard);
  } catch (const nlohmann::json::exception& e) {
    // The parser quotes the bytes it read last, which may be invalid UTF-8.
    throw FlagFileError(escape_invalid_utf8(e.what()));
  }
  if (!doc.is_object()) throw FlagFileError("the top level is not a JSON object");
  auto it = doc.find("args");
  // No "args" member means no arguments. "args": null is treated the same way:
  // the file names no flags, which is not a fault worth a warning.
  if (it == doc.end() || it->is_null()) return {};
  if (!it->is_array()) throw FlagFileError("\"args\" is not a list");
  StringList out;
  std::size_t index = 0;
  for (const auto& item : *it) {
    // A flag that is not a text cannot be passed to the browser; the whole
    // file is refused rather than launching with a partial list.
    if (!item.is_string())
      throw FlagFileError("\"args\" item " + std::to_string(index) + " is not a text: " + quoted_item(item));
    out.push_back(item.get<std::string>());
    ++index;
  }
  return out;
}

Engine engine_for(const std::string& browser) {
  if (browser == "firefox") return Engine::Firefox;
  if (browser == "webkit") return Engine::Webkit;
  if (browser == "chrome") return Engine::Chrome;
  return Engine::Chromium;
}

StringList preset_args(const std::string& preset) {
  static const std::map<std::string, StringList> presets = {
      {"performance",
       {"--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu", "--disable-software-rasterizer",
        "--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows",
        "--disable-renderer-backgrounding", "--disable-field-trial-config", "--disable-back-forward-cache",
        "--disable-ipc-flooding-protection", "--aggressive-cache-discard", "--memory-pressure-off"}},
      {"mobile",
       {"--use-mobile-user-agent", "--touch-events=enabled", "--enable-viewport-meta",
        "--disable-desktop-notifications", "--force-device-scale-factor=2"}},
      {"cicd",
       {"--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu", "--disable-software-rasterizer",
        "--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows",
        "--disable-renderer-backgrounding", "--disable-extensions", "--disable-plugins",
        "--disable-default-apps", "--disable-sync", "--metrics-recording-only", "--no-first-run",
        "--safebrowsing-disable-auto-update", "--disable-background-networking"}},
      {"security_disabled",
       {"--disable-web-security", "--disable-features=VizDisplayCompositor", "--disable-ipc-flooding-protection",
        "--disable-xss-auditor", "--ignore-certificate-errors", "--ignore-ssl-errors",
        "--ignore-certificate-errors-spki-list", "--allow-running-insecure-content"}},
  };
  auto it = presets.find(preset);
  return it == presets.end() ? StringList{} : it->second;
}

StringList load_flag_file(const std::string& path, Console& console) {
  std::string reason;
  try {
    return read_flag_file(path);
  } catch (const std::exception& e) {
    reason = e.what();
  }
  // The path may hold bytes that are not UTF-8 (a name taken from the
  // environment); the console line must stay printable on a strict stdout.
  console.print(flag_file_failed(escape_invalid_utf8(path), escape_invalid_utf8(reason)));
  return {};
}

StringList browser_specific_args(const SettingMap& s) {
  StringList out;
  const std::string browser = get_string(s, "browser");
  if (browser == "chromium" || browser == "chrome") {
    if (get_flag(s, "chrome_disable_security"))
      append(out, {"--disable-web-security", "--disable-features=VizDisplayCompositor",
                   "--ignore-certificate-errors", "--ignore-ssl-errors"});
    if (get_flag(s, "chrome_disable_extensions")) out.push_back("--disable-extensions");
    if (get_flag(s, "chrome_disable_plugins")) out.push_back("--disable-plugins");
    if (get_flag(s, "chrome_disable_images")) out.push_back("--blink-settings=imagesEnabled=false");
    if (get_flag(s, "chrome_disable_javascript")) out.push_back("--disable-javascript");
    if (get_flag(s, "chrome_enable_logging")) {
      out.push_back("--enable-logging");
      out.push_back("--log-level=" + to_lower(get_string(s, "chrome_log_level")));
    }
  } else if (browser == "firefox") {
    if (get_flag(s, "firefox_private_mode")) out.push_back("--private-window");
    if (get_flag(s, "firefox_disable_addons")) out.push_back("--safe-mode");
  } else if (browser == "webkit") {
    for (const auto& item : get_list(s, "webkit_disable_features")) {
      std::string feature = trim(item);
      if (!feature.empty()) out.push_back("--disable-" + feature);
    }
  }
  return out;
}

StringList merge_launch_args(const SettingMap& s, Console& console) {
  StringList args;
  for (const auto& item : get_list(s, "browser_args")) {
    std::string flag = trim(item);
    if (!flag.empty()) args.push_back(flag);
  }
  const std::string preset = get_string(s, "browser_config_preset");
  if (!preset.empty()) append(args, preset_args(preset));
  const std::string file = get_string(s, "browser_config_file");
  if (!file.empty()) append(args, load_flag_file(file, console));
  append(args, browser_specific_args(s));
  if (get_flag(s, "headless")) {
    // HEADLESS_WEB_SECURITY keeps the same-origin policy and the sandbox on.
    if (get_flag(s, "headless_web_security", false))
      append(args, {"--disable-dev-shm-usage", "--disable-gpu", "--disable-features=VizDisplayCompositor"});
    else
      append(args, {"--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu", "--disable-web-security",
                    "--disable-features=VizDisplayCompositor"});
    args.push_back("--max_old_space_size=" + std::to_string(get_int(s, "browser_memory_limit")));
  }
  const std::string proxy = get_string(s, "browser_proxy");
  if (!proxy.empty()) args.push_back("--proxy-server=" + proxy);
  return args;
}

SettingMap launch_settings(const SettingMap& config, const Environment& env) {
  SettingMap out = config;
  const SettingRow* row = find_setting("HEADLESS_WEB_SECURITY");
  if (!out.has(row->name)) out.set(row->name, read_setting(env, *row));
  return out;
}

LaunchOptions build_launch_options(const SettingMap& s, Console& console) {
  LaunchOptions o;
  o.headless = get_flag(s, "headless");
  o.slow_mo = get_int(s, "slow_mo");
  std::string downloads = get_string(s, "downloads_dir");
  if (!downloads.empty()) o.downloads_path = downloads;
  o.args = merge_launch_args(s, console);
  return o;
}

namespace {

bool has_scheme(const std::string& text, std::initializer_list<const char*> schemes) {
  std::string lower = to_lower(text);
  for (const char* scheme : schemes) {
    std::string prefix = std::string(scheme) + "://";
    if (starts_with(lower, prefix) && lower.size() > prefix.size()) return true;
  }
  return false;
}

}  // namespace

BrowserPlan plan_browser(const SettingMap& s, const LaunchOptions& local, const Environment& env) {
  BrowserPlan plan;
  plan.timeout_ms = get_int(s, "timeout", 30000);
  plan.slow_mo = local.slow_mo;
  const std::string ws = read_text(env, "BROWSER_WS_ENDPOINT");
  const std::string cdp = read_text(env, "BROWSER_CDP_ENDPOINT");
  if (ws.empty() && cdp.empty()) return plan;
  if (!ws.empty() && !cdp.empty())
    throw ConfigError("BROWSER_WS_ENDPOINT and BROWSER_CDP_ENDPOINT are both set: set only one");
  if (!ws.empty()) {
    plan.source = BrowserSource::Connect;
    plan.variable = "BROWSER_WS_ENDPOINT";
    plan.endpoint = ws;
    if (!has_scheme(ws, {"ws", "wss"}))
      throw ConfigError("BROWSER_WS_ENDPOINT: '" + escape_invalid_utf8(ws) +
                        "' is not a browser server address (ws://host:port/... or wss://...)");
  } else {
    plan.source = BrowserSource::ConnectOverCdp;
    plan.variable = "BROWSER_CDP_ENDPOINT";
    plan.endpoint = cdp;
    if (!has_scheme(cdp, {"http", "https", "ws", "wss"}))
      throw ConfigError("BROWSER_CDP_ENDPOINT: '" + escape_invalid_utf8(cdp) +
                        "' is not a DevTools address (http://host:port or ws://...)");
    Engine engine = engine_for(get_string(s, "browser", "chromium"));
    if (engine == Engine::Firefox || engine == Engine::Webkit)
      throw ConfigError("BROWSER_CDP_ENDPOINT: connecting over CDP needs BROWSER=chromium or chrome, not " +
                        get_string(s, "browser", "chromium"));
  }
  if (!local.args.empty()) plan.ignored.push_back("args (" + std::to_string(local.args.size()) + ")");
  if (local.downloads_path) plan.ignored.push_back("downloads_path");
  if (local.headless) plan.ignored.push_back("headless");
  Engine engine = engine_for(get_string(s, "browser", "chromium"));
  if (engine == Engine::Chrome) plan.ignored.push_back("channel");
  if ((engine == Engine::Chromium || engine == Engine::Chrome) && chromium_executable(env))
    plan.ignored.push_back("executable_path");
  const std::string worker = read_text(env, "TARVO_WORKER_ID");
  plan.report_ignored = !plan.ignored.empty() && (worker.empty() || worker == "1");
  return plan;
}

std::string remote_browser_line(const BrowserPlan& plan) {
  return remote_browser_line(plan.variable, plan.endpoint);
}

std::string ignored_options_line(const BrowserPlan& plan) {
  return ignored_options_line(plan.ignored);
}

std::string connect_failed_message(const BrowserPlan& plan, const std::string& error_text) {
  std::string first = error_text.substr(0, error_text.find('\n'));
  return connect_failed_message(plan.variable, plan.endpoint, plan.timeout_ms, trim(first));
}

std::optional<std::string> headless_security_notice(const SettingMap& s) {
  if (!get_flag(s, "headless") || get_flag(s, "headless_web_security", false)) return std::nullopt;
  return std::string(kHeadlessSecurityOff);
}

std::optional<std::string> chromium_executable(const Environment& env) {
  std::string path = read_text(env, "TARVO_CHROMIUM_EXECUTABLE");
  if (path.empty()) return std::nullopt;
  return path;
}

std::string connect_engine(const BrowserPlan& plan, const std::string& browser) {
  if (plan.source == BrowserSource::Connect) {
    Engine engine = engine_for(browser);
    if (engine == Engine::Firefox) return "firefox";
    if (engine == Engine::Webkit) return "webkit";
  }
  return "chromium";
}

void start_browser(BrowserDriver& driver, const SettingMap& settings, LaunchOptions options, const Environment& env,
                   Console& console, bool& ignored_reported) {
  const std::string browser = get_string(settings, "browser");
  BrowserPlan plan = plan_browser(settings, options, env);
  if (plan.source != BrowserSource::Launch) {
    if (plan.report_ignored && !ignored_reported) {
      console.print(ignored_options_line(plan));
      ignored_reported = true;
    }
    driver.connect(connect_engine(plan, browser), plan);
    console.print(remote_browser_line(plan));
    return;
  }
  switch (engine_for(browser)) {
    case Engine::Firefox:
      driver.launch("firefox", options);
      return;
    case Engine::Webkit:
      driver.launch("webkit", options);
      return;
    case Engine::Chrome: {
      LaunchOptions with_channel = options;
      with_channel.channel = "chrome";
      std::optional<std::string> failure;
      try {
        driver.launch("chromium", with_channel);
      } catch (const PageError& e) {
        failure = e.what();
      }
      if (!failure) {
        console.print(std::string(kUsingChrome));
        return;
      }
      console.print(chrome_failed(*failure));
      console.print(std::string(kChromiumFallback));
      options.executable_path = chromium_executable(env);
      driver.launch("chromium", options);
      return;
    }
    case Engine::Chromium:
      options.executable_path = chromium_executable(env);
      driver.launch("chromium", options);
      if (browser == "chromium") console.print(std::string(kUsingChromium));
      return;
  }
}

void relaunch_browser(BrowserRuntime& runtime) {
  // Failures are only noted inside the catch blocks: the runtime's calls run
  // Python code, which must not run under a C++ exception being handled.
  try {
    runtime.close_browser();
  } catch (const PageError&) {
    // A dead browser often cannot be closed; it is forgotten all the same.
  }
  if (runtime.has_driver()) {
    bool launched = false;
    try {
      runtime.launch_on_driver();
      launched = true;
    } catch (const PageError&) {
    }
    if (launched) return;
    try {
      runtime.stop_driver();
    } catch (const PageError&) {
    }
  }
  runtime.start_driver();
}

}  // namespace tarvo::config
