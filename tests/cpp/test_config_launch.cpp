#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "core/common/text.hpp"
#include "core/config/launch.hpp"
#include "core/config/settings.hpp"

using namespace tarvo;
using namespace tarvo::config;
namespace fs = std::filesystem;

namespace {
SettingMap settings(std::map<std::string, std::string> vars) { return load_config(MapEnvironment(std::move(vars))); }

class ConfigFlagFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvo_flags_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& text) {
    std::string path = (dir_ / "flags.json").string();
    std::ofstream(path) << text;
    return path;
  }
  fs::path dir_;
  RecordingConsole console_;
};
}  // namespace

TEST(ConfigLaunch, DefaultChromium) {
  RecordingConsole console;
  LaunchOptions o = build_launch_options(settings({}), console);
  EXPECT_FALSE(o.headless);
  EXPECT_EQ(o.slow_mo, 0);
  EXPECT_EQ(o.downloads_path, "downloads");
  EXPECT_EQ(o.args, (StringList{"--disable-extensions", "--disable-plugins"}));
  EXPECT_FALSE(o.channel);
  EXPECT_TRUE(console.lines.empty());
}

TEST(ConfigLaunch, HeadlessFirefoxAndProxyOrder) {
  RecordingConsole console;
  auto s = settings({{"HEADLESS", "true"}, {"BROWSER", "firefox"}, {"BROWSER_PROXY", "http://p:1"},
                     {"DOWNLOADS_DIR", ""}, {"BROWSER_MEMORY_LIMIT", "512"}});
  LaunchOptions o = build_launch_options(s, console);
  EXPECT_FALSE(o.downloads_path);
  EXPECT_EQ(o.args, (StringList{"--safe-mode", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                                "--disable-web-security", "--disable-features=VizDisplayCompositor",
                                "--max_old_space_size=512", "--proxy-server=http://p:1"}));
}

// The settings of a launch: the dictionary plus the launch-only settings.
SettingMap launch(std::map<std::string, std::string> vars) {
  MapEnvironment env(std::move(vars));
  return launch_settings(load_config(env), env);
}

TEST(ConfigLaunch, HeadlessWebSecurityIsALaunchSettingOutsideTheDictionary) {
  MapEnvironment env({{"HEADLESS", "true"}, {"HEADLESS_WEB_SECURITY", "true"}});
  SettingMap config = load_config(env);
  // The dictionary keeps its fixed keys; the launch reads the variable by its row.
  EXPECT_FALSE(config.has("headless_web_security"));
  const SettingRow* row = find_setting("HEADLESS_WEB_SECURITY");
  ASSERT_NE(row, nullptr);
  EXPECT_FALSE(row->in_config);
  EXPECT_EQ(find_config_key("headless_web_security"), nullptr);
  SettingMap s = launch_settings(config, env);
  EXPECT_TRUE(get_flag(s, "headless_web_security"));
  EXPECT_TRUE(get_flag(s, "headless"));
  // Read when the launch is planned, not when the dictionary was built.
  env.set("HEADLESS_WEB_SECURITY", "0");
  EXPECT_FALSE(get_flag(launch_settings(config, env), "headless_web_security"));
  MapEnvironment unset;
  EXPECT_FALSE(get_flag(launch_settings(load_config(unset), unset), "headless_web_security"));
  // A value the caller put in the map already is kept.
  config.set("headless_web_security", true);
  EXPECT_TRUE(get_flag(launch_settings(config, env), "headless_web_security"));
}

TEST(ConfigLaunch, HeadlessWebSecurityKeepsSandboxAndSameOrigin) {
  RecordingConsole console;
  auto on = launch({{"HEADLESS", "true"}, {"HEADLESS_WEB_SECURITY", "true"}});
  EXPECT_EQ(build_launch_options(on, console).args,
            (StringList{"--disable-extensions", "--disable-plugins", "--disable-dev-shm-usage", "--disable-gpu",
                        "--disable-features=VizDisplayCompositor", "--max_old_space_size=4096"}));
  EXPECT_FALSE(headless_security_notice(on));
  // The default keeps both flags and says so once at run start.
  auto off = launch({{"HEADLESS", "true"}});
  EXPECT_EQ(headless_security_notice(off),
            "ℹ️ HEADLESS=true añade --disable-web-security y --no-sandbox al navegador "
            "(HEADLESS_WEB_SECURITY=true los deja fuera)");
  // A visible browser gets neither flag from this rule, and no notice.
  EXPECT_FALSE(headless_security_notice(launch({{"HEADLESS_WEB_SECURITY", "false"}})));
  EXPECT_TRUE(console.lines.empty());
}

TEST(ConfigLaunch, BrowserArgsTrimmedAndPresetNotDeduplicated) {
  RecordingConsole console;
  auto args = merge_launch_args(settings({{"BROWSER_ARGS", "  --one ,, ,\t--two"}, {"BROWSER_CONFIG_PRESET", "cicd"}}),
                                console);
  ASSERT_EQ(args.size(), 2u + 15u + 2u);
  EXPECT_EQ(args[0], "--one");
  EXPECT_EQ(args[1], "--two");
  EXPECT_EQ(args[2], "--no-sandbox");
  EXPECT_EQ(std::count(args.begin(), args.end(), "--disable-extensions"), 2);
  EXPECT_EQ(std::count(args.begin(), args.end(), "--disable-plugins"), 2);
}

TEST(ConfigLaunch, PresetTable) {
  EXPECT_EQ(preset_args("performance").size(), 12u);
  EXPECT_EQ(preset_args("mobile").back(), "--force-device-scale-factor=2");
  EXPECT_EQ(preset_args("cicd").size(), 15u);
  EXPECT_EQ(preset_args("security_disabled").front(), "--disable-web-security");
  EXPECT_TRUE(preset_args("CICD").empty());
  EXPECT_TRUE(preset_args(" cicd").empty());
}

TEST(ConfigLaunch, EngineRules) {
  auto s = settings({{"BROWSER", "chrome"}, {"CHROME_DISABLE_SECURITY", "true"}, {"CHROME_DISABLE_EXTENSIONS", "no"},
                     {"CHROME_DISABLE_IMAGES", "true"}, {"CHROME_DISABLE_JAVASCRIPT", "true"},
                     {"CHROME_ENABLE_LOGGING", "true"}});
  EXPECT_EQ(browser_specific_args(s),
            (StringList{"--disable-web-security", "--disable-features=VizDisplayCompositor",
                        "--ignore-certificate-errors", "--ignore-ssl-errors", "--disable-plugins",
                        "--blink-settings=imagesEnabled=false", "--disable-javascript", "--enable-logging",
                        "--log-level=info"}));
  EXPECT_EQ(browser_specific_args(settings({{"BROWSER", "firefox"}, {"FIREFOX_PRIVATE_MODE", "true"}})),
            (StringList{"--private-window", "--safe-mode"}));
  EXPECT_EQ(browser_specific_args(settings({{"BROWSER", "webkit"}, {"WEBKIT_DISABLE_FEATURES", " a ,, b"}})),
            (StringList{"--disable-a", "--disable-b"}));
  EXPECT_TRUE(browser_specific_args(settings({{"BROWSER", "edge"}})).empty());

  EXPECT_EQ(engine_for("firefox"), Engine::Firefox);
  EXPECT_EQ(engine_for("webkit"), Engine::Webkit);
  EXPECT_EQ(engine_for("chrome"), Engine::Chrome);
  EXPECT_EQ(engine_for("edge"), Engine::Chromium);
}

TEST_F(ConfigFlagFile, ArgsTakenAsTheyStand) {
  std::string path = write(R"({"args": [" --flag ", "--x"], "other": 1})");
  EXPECT_EQ(load_flag_file(path, console_), (StringList{" --flag ", "--x"}));
  EXPECT_EQ(load_flag_file(write(R"({"other": 1})"), console_), StringList{});
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(ConfigFlagFile, NullArgsMeanNoArgsSilently) {
  EXPECT_TRUE(load_flag_file(write(R"({"args": null})"), console_).empty());
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(ConfigFlagFile, MalformedFilesReportAndGiveNothing) {
  const std::string prefix = "⚠️ Error cargando archivo de configuración ";
  struct Case {
    std::string text;
    std::string reason_part;
  } cases[] = {
      {R"(["--a"])", "not a JSON object"},
      {R"({"args": "--a"})", "\"args\" is not a list"},
      {R"({"args": ["--a", 3]})", "item 1 is not a text"},
      {R"({"args": [)", "parse_error"},
  };
  for (const auto& c : cases) {
    console_.lines.clear();
    std::string path = write(c.text);
    EXPECT_TRUE(load_flag_file(path, console_).empty()) << c.text;
    ASSERT_EQ(console_.lines.size(), 1u) << c.text;
    EXPECT_EQ(console_.lines[0].rfind(prefix + path + ": ", 0), 0u) << console_.lines[0];
    EXPECT_NE(console_.lines[0].find(c.reason_part), std::string::npos) << console_.lines[0];
  }
  console_.lines.clear();
  std::string missing = (dir_ / "absent.json").string();
  EXPECT_TRUE(load_flag_file(missing, console_).empty());
  ASSERT_EQ(console_.lines.size(), 1u);
  EXPECT_EQ(console_.lines[0], prefix + missing + ": [Errno 2] No such file or directory: '" + missing + "'");
}

TEST_F(ConfigFlagFile, PathWithNulIsRefusedNotCut) {
  // Cut at the NUL the name would open this valid file instead.
  std::string path = write(R"({"args": ["--wrong-file"]})");
  std::string with_nul = path + std::string("\0.json", 6);
  EXPECT_TRUE(load_flag_file(with_nul, console_).empty());
  ASSERT_EQ(console_.lines.size(), 1u);
  EXPECT_NE(console_.lines[0].find("embedded null byte"), std::string::npos);
}

TEST_F(ConfigFlagFile, HostileFilesAreMalformedNotFatal) {
  // Nesting far beyond any real file: refused by depth, not by a stack overflow.
  std::string deep = R"({"args": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
  // A raw NUL after a valid document: the parser would stop there and accept it.
  std::string trailing_nul = std::string(R"({"args": ["--a"]})") + '\0';
  // Bytes that are not UTF-8 inside a flag: the parser quotes them in its error.
  std::string bad_utf8 = "{\"args\": [\"--a\xff\xfe\"]}";
  struct Case {
    std::string text, reason_part;
  } cases[] = {
      {deep, "nested deeper than 64 levels"},
      {trailing_nul, "NUL byte at offset 17"},
      {bad_utf8, "\\xff"},
  };
  for (const auto& c : cases) {
    console_.lines.clear();
    EXPECT_TRUE(load_flag_file(write(c.text), console_).empty());
    ASSERT_EQ(console_.lines.size(), 1u);
    EXPECT_NE(console_.lines[0].find(c.reason_part), std::string::npos) << console_.lines[0];
    EXPECT_EQ(escape_invalid_utf8(console_.lines[0]), console_.lines[0]) << "not valid UTF-8";
  }
  // Nesting within the limit in a member the reader ignores is still fine.
  std::string nested_other = R"({"args": ["--ok"], "notes": )" + std::string(60, '[') + std::string(60, ']') + "}";
  console_.lines.clear();
  EXPECT_EQ(load_flag_file(write(nested_other), console_), StringList{"--ok"});
  EXPECT_TRUE(console_.lines.empty());
}

TEST_F(ConfigFlagFile, OnlyRegularFilesUpToOneMebibyteAreRead) {
  std::string fifo = (dir_ / "flags.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string huge = R"({"args": ["--a"], "pad": ")" + std::string(1 << 20, ' ') + "\"}";
  struct Case {
    std::string path, reason;
  } cases[] = {
      {fifo, "is not a regular file"},  // would block the run start in open()
      {"/dev/zero", "is not a regular file"},  // would never end
      {dir_.string(), "[Errno 21] Is a directory: '" + dir_.string() + "'"},
      {write(huge), "larger than 1048576 bytes"},
  };
  for (const auto& c : cases) {
    console_.lines.clear();
    EXPECT_TRUE(load_flag_file(c.path, console_).empty()) << c.path;
    ASSERT_EQ(console_.lines.size(), 1u);
    EXPECT_NE(console_.lines[0].find(c.reason), std::string::npos) << console_.lines[0];
  }
  std::string at_limit = R"({"args": ["--a"], "pad": ")";
  at_limit += std::string((1 << 20) - at_limit.size() - 2, ' ') + "\"}";
  ASSERT_EQ(at_limit.size(), 1u << 20);
  EXPECT_EQ(load_flag_file(write(at_limit), console_), StringList{"--a"});
}

TEST(ConfigFlagFileText, RefusedItemQuotedShortAndPathMadePrintable) {
  try {
    flag_file_args(R"({"args": [")" + std::string(5000, 'x') + R"(", {"k": ")" + std::string(5000, 'y') + R"("}]})");
    FAIL() << "an object item was accepted";
  } catch (const FlagFileError& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("item 1 is not a text"), std::string::npos);
    EXPECT_LT(what.size(), 200u);
  }
  RecordingConsole console;
  std::string path = "/nonexistent/fl\xff" "ags.json";
  EXPECT_TRUE(load_flag_file(path, console).empty());
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_EQ(escape_invalid_utf8(console.lines[0]), console.lines[0]);
  EXPECT_NE(console.lines[0].find("fl\\xffags.json"), std::string::npos) << console.lines[0];
}

TEST_F(ConfigFlagFile, MergedBetweenPresetAndEngineRules) {
  std::string path = write(R"({"args": ["--from-file"]})");
  auto args = merge_launch_args(settings({{"BROWSER_ARGS", "--first"}, {"BROWSER_CONFIG_PRESET", "mobile"},
                                          {"BROWSER_CONFIG_FILE", path}}),
                                console_);
  ASSERT_EQ(args.size(), 1u + 5u + 1u + 2u);
  EXPECT_EQ(args[0], "--first");
  EXPECT_EQ(args[6], "--from-file");
  EXPECT_EQ(args[7], "--disable-extensions");
}

TEST(ConfigLaunch, ChromiumExecutableFromEnvironment) {
  using Vars = std::map<std::string, std::string>;
  EXPECT_FALSE(chromium_executable(MapEnvironment()));
  EXPECT_FALSE(chromium_executable(MapEnvironment(Vars{{"TARVO_CHROMIUM_EXECUTABLE", ""}})));
  EXPECT_EQ(chromium_executable(MapEnvironment(Vars{{"TARVO_CHROMIUM_EXECUTABLE", "/usr/bin/chromium"}})),
            "/usr/bin/chromium");
}

// ---- launch or connect ------------------------------------------------------

namespace {
BrowserPlan plan_for(std::map<std::string, std::string> vars) {
  MapEnvironment env(vars);
  SettingMap s = load_config(env);
  RecordingConsole console;
  return plan_browser(s, build_launch_options(s, console), env);
}
std::string plan_error(std::map<std::string, std::string> vars) {
  try {
    plan_for(std::move(vars));
  } catch (const ConfigError& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(ConfigBrowserPlan, NoEndpointLaunchesLocally) {
  auto p = plan_for({{"BROWSER_WS_ENDPOINT", "  "}});
  EXPECT_EQ(p.source, BrowserSource::Launch);
  EXPECT_FALSE(p.report_ignored);
}

TEST(ConfigBrowserPlan, WsEndpointConnectsAndNamesWhatALocalLaunchWouldHaveUsed) {
  auto p = plan_for({{"BROWSER_WS_ENDPOINT", " ws://10.0.0.5:3000/abc "},
                     {"HEADLESS", "true"},
                     {"TIMEOUT", "12000"},
                     {"SLOW_MO", "50"},
                     {"TARVO_CHROMIUM_EXECUTABLE", "/usr/lib/chromium/chromium"}});
  EXPECT_EQ(p.source, BrowserSource::Connect);
  EXPECT_EQ(p.endpoint, "ws://10.0.0.5:3000/abc");
  EXPECT_EQ(p.timeout_ms, 12000);
  EXPECT_EQ(p.slow_mo, 50);
  // Default Chromium rules (2) + the six head-less flags.
  EXPECT_EQ(p.ignored, (StringList{"args (8)", "downloads_path", "headless", "executable_path"}));
  EXPECT_TRUE(p.report_ignored);
  EXPECT_EQ(remote_browser_line(p), "🌐 Usando navegador remoto (BROWSER_WS_ENDPOINT): ws://10.0.0.5:3000/abc");
  EXPECT_EQ(ignored_options_line(p),
            "ℹ️ Navegador remoto: se ignoran las opciones de lanzamiento local: args (8), downloads_path, headless, "
            "executable_path");
  EXPECT_EQ(connect_failed_message(p, "BrowserType.connect: connect ECONNREFUSED 10.0.0.5:3000\nCall log:\n  - x"),
            "No se pudo conectar al navegador remoto BROWSER_WS_ENDPOINT=ws://10.0.0.5:3000/abc en 12000 ms: "
            "BrowserType.connect: connect ECONNREFUSED 10.0.0.5:3000");
}

TEST(ConfigBrowserPlan, OnlyTheFirstWorkerReportsTheIgnoredOptions) {
  EXPECT_TRUE(plan_for({{"BROWSER_WS_ENDPOINT", "ws://h:1/"}, {"TARVO_WORKER_ID", "1"}}).report_ignored);
  EXPECT_FALSE(plan_for({{"BROWSER_WS_ENDPOINT", "ws://h:1/"}, {"TARVO_WORKER_ID", "2"}}).report_ignored);
  EXPECT_FALSE(plan_for({{"BROWSER_WS_ENDPOINT", "ws://h:1/"}, {"TARVO_WORKER_ID", "retry"}}).report_ignored);
  // Nothing to ignore: nothing to say.
  auto quiet = plan_for({{"BROWSER_WS_ENDPOINT", "ws://h:1/"}, {"DOWNLOADS_DIR", ""},
                         {"CHROME_DISABLE_EXTENSIONS", "false"}, {"CHROME_DISABLE_PLUGINS", "false"}});
  EXPECT_TRUE(quiet.ignored.empty());
  EXPECT_FALSE(quiet.report_ignored);
}

TEST(ConfigBrowserPlan, CdpEndpointForChromiumOnly) {
  auto p = plan_for({{"BROWSER_CDP_ENDPOINT", "http://127.0.0.1:9222"}, {"BROWSER", "chrome"}});
  EXPECT_EQ(p.source, BrowserSource::ConnectOverCdp);
  EXPECT_NE(std::find(p.ignored.begin(), p.ignored.end(), "channel"), p.ignored.end());
  EXPECT_NE(plan_error({{"BROWSER_CDP_ENDPOINT", "http://h:9222"}, {"BROWSER", "firefox"}}).find("BROWSER=chromium"),
            std::string::npos);
}

TEST(ConfigBrowserPlan, BadEndpointsAreRefusedByName) {
  EXPECT_NE(plan_error({{"BROWSER_WS_ENDPOINT", "http://h:1/"}}).find("BROWSER_WS_ENDPOINT: 'http://h:1/'"),
            std::string::npos);
  EXPECT_NE(plan_error({{"BROWSER_WS_ENDPOINT", "ws://"}}).find("BROWSER_WS_ENDPOINT"), std::string::npos);
  EXPECT_NE(plan_error({{"BROWSER_CDP_ENDPOINT", "localhost:9222"}}).find("BROWSER_CDP_ENDPOINT: 'localhost:9222'"),
            std::string::npos);
  EXPECT_NE(plan_error({{"BROWSER_WS_ENDPOINT", "ws://h:1/"}, {"BROWSER_CDP_ENDPOINT", "http://h:2"}})
                .find("both set"),
            std::string::npos);
}
