#include <gtest/gtest.h>

#include "core/config/launch.hpp"
#include "core/config/settings.hpp"
#include "test_browser_fakes.hpp"

using namespace tarvo;
using namespace tarvo::config;
using namespace tarvo::testing;

namespace {

using Vars = std::map<std::string, std::string>;

struct BrowserStart : ::testing::Test {
  FakeDriver driver;
  RecordingConsole console;
  bool reported = false;

  void start(Vars vars) {
    MapEnvironment env(vars);
    SettingMap s = load_config(env);
    RecordingConsole build_console;
    start_browser(driver, s, build_launch_options(s, build_console), env, console, reported);
  }
};

}  // namespace

TEST_F(BrowserStart, ChromeIsTriedFirstThroughItsChannel) {
  start({{"BROWSER", "chrome"}, {"TARVO_CHROMIUM_EXECUTABLE", "/usr/bin/chromium"}});
  EXPECT_EQ(driver.calls, std::vector<std::string>{"launch chromium/chrome"});
  ASSERT_EQ(driver.launched.size(), 1u);
  EXPECT_FALSE(driver.launched[0].executable_path);  // the channel finds Chrome itself
  EXPECT_EQ(console.lines, std::vector<std::string>{"🌐 Usando Google Chrome instalado en el sistema"});
}

TEST_F(BrowserStart, ChromeThatFailsFallsBackToChromiumWithItsExecutable) {
  driver.failing_launches = {"chromium/chrome"};
  start({{"BROWSER", "chrome"}, {"TARVO_CHROMIUM_EXECUTABLE", "/usr/bin/chromium"}});
  EXPECT_EQ(driver.calls, (std::vector<std::string>{"launch chromium/chrome", "launch chromium"}));
  ASSERT_EQ(driver.launched.size(), 1u);
  EXPECT_EQ(driver.launched[0].executable_path, std::optional<std::string>("/usr/bin/chromium"));
  EXPECT_FALSE(driver.launched[0].channel);
  EXPECT_EQ(console.lines,
            (std::vector<std::string>{
                "⚠️ No se pudo iniciar Chrome instalado: Executable doesn't exist at /opt/google/chrome/chrome",
                "🔄 Usando Chromium como alternativa"}));
}

TEST_F(BrowserStart, FailedFallBackLeavesTheCaller) {
  driver.failing_launches = {"chromium/chrome", "chromium"};
  EXPECT_THROW(start({{"BROWSER", "chrome"}}), PageError);
  EXPECT_EQ(driver.calls.size(), 2u);
  EXPECT_EQ(console.lines.size(), 2u);
}

TEST_F(BrowserStart, EnginesByName) {
  start({{"BROWSER", "chromium"}, {"TARVO_CHROMIUM_EXECUTABLE", "/usr/bin/chromium"}});
  start({{"BROWSER", "firefox"}, {"TARVO_CHROMIUM_EXECUTABLE", "/usr/bin/chromium"}});
  start({{"BROWSER", "webkit"}});
  start({{"BROWSER", "edge"}});  // any other name is Chromium, without the line
  EXPECT_EQ(driver.calls, (std::vector<std::string>{"launch chromium", "launch firefox", "launch webkit",
                                                    "launch chromium"}));
  EXPECT_EQ(driver.launched[0].executable_path, std::optional<std::string>("/usr/bin/chromium"));
  EXPECT_FALSE(driver.launched[1].executable_path);  // Firefox has its own
  EXPECT_EQ(console.lines, std::vector<std::string>{"🌐 Usando Chromium"});
}

TEST_F(BrowserStart, RemoteEndpointConnectsInsteadOfLaunching) {
  start({{"BROWSER", "firefox"}, {"BROWSER_WS_ENDPOINT", "ws://grid:3000/"}, {"HEADLESS", "true"}});
  EXPECT_EQ(driver.calls, std::vector<std::string>{"connect firefox ws://grid:3000/"});
  ASSERT_EQ(console.lines.size(), 2u);
  EXPECT_EQ(console.lines[0].rfind("ℹ️ Navegador remoto: se ignoran las opciones de lanzamiento local: ", 0), 0u);
  EXPECT_EQ(console.lines[1], "🌐 Usando navegador remoto (BROWSER_WS_ENDPOINT): ws://grid:3000/");
  // The ignored options are said once per process.
  start({{"BROWSER", "firefox"}, {"BROWSER_WS_ENDPOINT", "ws://grid:3000/"}, {"HEADLESS", "true"}});
  EXPECT_EQ(console.lines.size(), 3u);
}

TEST_F(BrowserStart, CdpEndpointUsesChromiumAndAFailedConnectionLeavesTheCaller) {
  start({{"BROWSER", "chrome"}, {"BROWSER_CDP_ENDPOINT", "http://127.0.0.1:9222"}});
  EXPECT_EQ(driver.calls, std::vector<std::string>{"connect_over_cdp chromium http://127.0.0.1:9222"});
  driver.connect_fails = true;
  console.lines.clear();
  EXPECT_THROW(start({{"BROWSER_WS_ENDPOINT", "ws://grid:3000/"}}), PageError);
  EXPECT_TRUE(driver.launched.empty());
  EXPECT_TRUE(console.lines.empty());  // ignored options said already; no "Usando navegador remoto"
}

// ---- relaunch after the browser died ----------------------------------------

TEST(BrowserRelaunch, ReusesTheRunningDriverWhenItsLaunchWorks) {
  FakeRuntime rt;
  relaunch_browser(rt);
  EXPECT_EQ(rt.calls, (Events{"close", "launch"}));
  EXPECT_TRUE(rt.driver);
  EXPECT_TRUE(rt.browser);
}

TEST(BrowserRelaunch, ADeadBrowserThatCannotBeClosedIsForgottenAndReplaced) {
  FakeRuntime rt;
  rt.failing = {"close"};
  relaunch_browser(rt);
  EXPECT_EQ(rt.calls, (Events{"close", "launch"}));
  EXPECT_TRUE(rt.browser);
}

TEST(BrowserRelaunch, ADriverThatCannotLaunchIsStoppedAndANewOneStarted) {
  FakeRuntime rt;
  rt.failing = {"launch"};
  relaunch_browser(rt);
  EXPECT_EQ(rt.calls, (Events{"close", "launch", "stop", "start"}));
  EXPECT_TRUE(rt.driver);
  EXPECT_TRUE(rt.browser);

  FakeRuntime stuck;  // stopping the dead driver fails too: still a new one
  stuck.failing = {"close", "launch", "stop"};
  relaunch_browser(stuck);
  EXPECT_EQ(stuck.calls, (Events{"close", "launch", "stop", "start"}));
  EXPECT_TRUE(stuck.driver);
}

TEST(BrowserRelaunch, WithoutADriverANewOneIsStartedAtOnce) {
  FakeRuntime rt;
  rt.driver = false;
  relaunch_browser(rt);
  EXPECT_EQ(rt.calls, (Events{"close", "start"}));
}

TEST(BrowserRelaunch, AFailedStartLeavesWithTheDriversError) {
  FakeRuntime rt;
  rt.failing = {"launch", "start"};
  try {
    relaunch_browser(rt);
    FAIL() << "the failed start was reported as success";
  } catch (const PageError& e) {
    EXPECT_EQ(std::string(e.what()), "start: Target page, context or browser has been closed");
  }
  EXPECT_EQ(rt.calls, (Events{"close", "launch", "stop", "start"}));
}

TEST(BrowserRelaunch, ASettingsErrorIsNotMistakenForADeadDriver) {
  // A bad setting is not a failed launch: it leaves at once and the driver,
  // which is fine, is not stopped.
  struct BadSettings : FakeRuntime {
    void launch_on_driver() override {
      calls.push_back("launch");
      throw ConfigError("SLOW_MO: 'x' is not an integer");
    }
  } rt;
  EXPECT_THROW(relaunch_browser(rt), ConfigError);
  EXPECT_EQ(rt.calls, (Events{"close", "launch"}));
  EXPECT_TRUE(rt.driver);
}
