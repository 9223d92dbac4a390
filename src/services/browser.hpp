// The run's browser as the scenario lifecycle and the launch see it: its tabs,
// the page slot of the runner context, and the engine that launches or
// connects. The bindings adapt Playwright's sync objects and behave's context;
// tests use in-memory fakes. Every operation that fails throws PageError
// carrying the failure's own text; the bindings raise the original failure
// again when it leaves the core unhandled.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/page.hpp"

namespace tarvo {

namespace config {
struct LaunchOptions;
struct BrowserPlan;
}  // namespace config

struct ViewportSize {
  long long width = 0;
  long long height = 0;
};

// One tab (a Playwright page).
class Tab {
 public:
  virtual ~Tab() = default;
  // True when the page says it has been closed; false when it cannot tell.
  virtual bool is_closed() = 0;
  virtual std::string url() = 0;
  virtual void close() = 0;
  virtual void bring_to_front() = 0;
  // The fixed viewport, or nullopt for a page without one (maximised window).
  virtual std::optional<ViewportSize> viewport_size() = 0;
  virtual void set_viewport_size(const ViewportSize& size) = 0;
  // The same page object (identity, not equal URLs).
  virtual bool same_as(const Tab& other) const = 0;
};
using TabPtr = std::shared_ptr<Tab>;

// The viewport a page had before a @mobile scenario changed it.
struct SavedViewport {
  TabPtr page;
  std::optional<ViewportSize> size;  // nullopt: the page had no fixed viewport
};

// The runner context's browser and page, for one scenario or feature.
class BrowserSession {
 public:
  virtual ~BrowserSession() = default;
  // Whether the browser's process is still connected; nullopt when there is no
  // browser or it cannot be asked.
  virtual std::optional<bool> browser_connected() = 0;
  // Launches the browser again in place of the dead one (run-wide).
  virtual void relaunch_browser() = 0;
  // The context's page when it is set and true, else nullptr.
  virtual TabPtr page() = 0;
  // Puts a page into the context for the running scenario.
  virtual void set_page(const TabPtr& page) = 0;
  // Empties the context's page slot, when the context has one.
  virtual void clear_page() = 0;
  // The pages of the browser's first context, or nullopt when there is no
  // browser or it has no context yet.
  virtual std::optional<std::vector<TabPtr>> first_context_pages() = 0;
  // Every page of every context of the browser; nullopt when there is no browser.
  virtual std::optional<std::vector<TabPtr>> all_pages() = 0;
  // A new page, in the browser's first context when there is one.
  virtual TabPtr create_page() = 0;
  // The viewport remembered before a @mobile scenario, kept on the context.
  virtual std::optional<SavedViewport> saved_viewport() = 0;
  virtual void set_saved_viewport(const std::optional<SavedViewport>& saved) = 0;
};

// The browser engines of the driver (Playwright's chromium, firefox, webkit):
// what the run's browser is started with. A launch or connection that fails
// throws PageError with the driver's text.
class BrowserDriver {
 public:
  virtual ~BrowserDriver() = default;
  // engine.launch(**options), engine being "chromium", "firefox" or "webkit".
  virtual void launch(const std::string& engine, const config::LaunchOptions& options) = 0;
  // engine.connect() or engine.connect_over_cdp() to the plan's endpoint.
  virtual void connect(const std::string& engine, const config::BrowserPlan& plan) = 0;
};

// The run's browser and the driver it runs on, as a relaunch sees them (the
// framework configuration's `browser` and `playwright`). Calls that fail throw
// PageError with the driver's text.
class BrowserRuntime {
 public:
  virtual ~BrowserRuntime() = default;
  // Closes the run's browser, when there is one; it is forgotten even when
  // closing fails.
  virtual void close_browser() = 0;
  // Whether a driver was started and not stopped since.
  virtual bool has_driver() = 0;
  // Launches the run's browser on the running driver, as the run start does.
  virtual void launch_on_driver() = 0;
  // Stops the running driver; it is forgotten even when stopping fails.
  virtual void stop_driver() = 0;
  // Starts a new driver and the run's browser on it, as the run start does; a
  // failure may be any error (the relaunch lets it through unchanged).
  virtual void start_driver() = 0;
};

}  // namespace tarvo
