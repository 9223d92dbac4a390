// In-memory tabs, browser session and engine for the lifecycle and launch
// tests. Every call is written to a shared event list so tests can check order.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/config/launch.hpp"
#include "services/browser.hpp"

namespace tarvo::testing {

using Events = std::vector<std::string>;

struct FakeTab : Tab {
  std::string name;
  std::string url_text = "about:blank";
  Events* events = nullptr;
  bool closed = false;
  bool says_closed = false;  // is_closed() true while url still answers (Playwright's cache)
  bool close_fails = false;
  bool url_fails = false;
  bool viewport_fails = false;
  std::optional<ViewportSize> viewport;

  FakeTab(std::string n, Events* e, std::string url = "about:blank")
      : name(std::move(n)), url_text(std::move(url)), events(e) {}

  void note(const std::string& what) {
    if (events) events->push_back(what + " " + name);
  }
  bool is_closed() override { return says_closed || closed; }
  std::string url() override {
    if (url_fails) throw PageError("Target page, context or browser has been closed");
    return url_text;
  }
  void close() override {
    note("close");
    if (close_fails) throw PageError("close failed");
    closed = true;
  }
  void bring_to_front() override {
    if (closed) throw PageError("Target page, context or browser has been closed");
    note("front");
  }
  std::optional<ViewportSize> viewport_size() override { return viewport; }
  void set_viewport_size(const ViewportSize& size) override {
    if (viewport_fails) throw PageError("no viewport");
    viewport = size;
  }
  bool same_as(const Tab& other) const override { return this == &other; }
};

inline std::shared_ptr<FakeTab> tab(const std::string& name, Events* events = nullptr,
                                    const std::string& url = "about:blank") {
  return std::make_shared<FakeTab>(name, events, url);
}

struct FakeSession : BrowserSession {
  Events* events = nullptr;
  bool has_browser = true;
  std::optional<bool> connected = true;
  bool probe_fails = false;
  bool relaunch_fails = false;
  bool listing_fails = false;
  bool create_fails = false;
  TabPtr current;
  bool page_slot = true;  // the context has a `page` attribute
  std::vector<std::vector<TabPtr>> contexts;
  std::optional<SavedViewport> saved;
  int relaunches = 0;
  int created = 0;

  void note(const std::string& what) {
    if (events) events->push_back(what);
  }
  std::optional<bool> browser_connected() override {
    if (!has_browser) return std::nullopt;
    if (probe_fails) throw PageError("probe failed");
    return connected;
  }
  void relaunch_browser() override {
    note("relaunch");
    if (relaunch_fails) throw std::runtime_error("cannot launch");
    ++relaunches;
    connected = true;
    contexts.clear();
  }
  TabPtr page() override { return current; }
  void set_page(const TabPtr& page) override {
    current = page;
    page_slot = true;
  }
  void clear_page() override {
    if (page_slot) current = nullptr;
  }
  std::optional<std::vector<TabPtr>> first_context_pages() override {
    if (listing_fails) throw PageError("contexts unavailable");
    if (!has_browser || contexts.empty()) return std::nullopt;
    return contexts.front();
  }
  std::optional<std::vector<TabPtr>> all_pages() override {
    if (listing_fails) throw PageError("contexts unavailable");
    if (!has_browser) return std::nullopt;
    std::vector<TabPtr> out;
    for (const auto& c : contexts) out.insert(out.end(), c.begin(), c.end());
    return out;
  }
  TabPtr create_page() override {
    note("create");
    if (create_fails) throw std::runtime_error("browser gone");
    ++created;
    auto page = tab("new" + std::to_string(created), events);
    if (!contexts.empty()) contexts.front().push_back(page);
    return page;
  }
  std::optional<SavedViewport> saved_viewport() override { return saved; }
  void set_saved_viewport(const std::optional<SavedViewport>& s) override { saved = s; }
};

}  // namespace tarvo::testing

namespace tarvo::testing {

// Records each launch and connection as "<engine> <what>"; engines listed in
// failing_launches fail their launch (a channel launch is "chromium/chrome").
struct FakeDriver : BrowserDriver {
  std::vector<std::string> calls;
  std::vector<config::LaunchOptions> launched;
  std::vector<std::string> failing_launches;
  bool connect_fails = false;

  void launch(const std::string& engine, const config::LaunchOptions& options) override {
    std::string name = options.channel ? engine + "/" + *options.channel : engine;
    calls.push_back("launch " + name);
    for (const auto& f : failing_launches)
      if (f == name) throw PageError("Executable doesn't exist at /opt/google/chrome/chrome");
    launched.push_back(options);
  }
  void connect(const std::string& engine, const config::BrowserPlan& plan) override {
    calls.push_back((plan.source == config::BrowserSource::Connect ? "connect " : "connect_over_cdp ") + engine +
                    " " + plan.endpoint);
    if (connect_fails) throw PageError("ECONNREFUSED");
  }
};

// Records each call of a relaunch; the listed calls fail ("close", "launch",
// "stop", "start").
struct FakeRuntime : BrowserRuntime {
  Events calls;
  std::vector<std::string> failing;
  bool driver = true;   // a driver is running
  bool browser = true;  // a browser is kept

  void call(const std::string& name) {
    calls.push_back(name);
    for (const auto& f : failing)
      if (f == name) throw PageError(name + ": Target page, context or browser has been closed");
  }
  void close_browser() override {
    browser = false;
    call("close");
  }
  bool has_driver() override { return driver; }
  void launch_on_driver() override {
    call("launch");
    browser = true;
  }
  void stop_driver() override {
    driver = false;
    call("stop");
  }
  void start_driver() override {
    call("start");
    driver = true;
    browser = true;
  }
};

}  // namespace tarvo::testing
