// Which page a scenario runs on and what is tidied around it: reuse of a live
// page, a new browser for a dead one, the @mobile viewport and its restore,
// the first tab brought forward, extra windows closed at scenario end and every
// page closed at feature end. Plain C++ on the browser ports; the bindings
// adapt behave's context and Playwright's objects.
//
// A failure of a port that a step guards is turned into its text before the
// step logs or prints it; any other failure leaves these functions unchanged.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/browser.hpp"
#include "services/console.hpp"
#include "services/logger.hpp"

namespace tarvo::lifecycle {

// Viewport applied to a scenario tagged "mobile".
inline constexpr int kMobileViewportWidth = 375;
inline constexpr int kMobileViewportHeight = 667;
// Page time-outs (milliseconds) when the settings carry none.
inline constexpr long long kDefaultTimeoutMs = 30000;
inline constexpr long long kDefaultNavigationTimeoutMs = 30000;
// Video directory when the settings carry none.
inline constexpr std::string_view kDefaultVideoDir = "videos";

// True when one of the tags, lower-cased, is exactly "mobile".
bool has_mobile_tag(const std::vector<std::string>& tags);

// At scenario start the first tab is brought to the front only when the first
// browser context holds two or more pages.
bool should_switch_to_first_tab(std::size_t page_count);

// At scenario end every page after the first one of the first browser context
// is closed; this is how many.
std::size_t extra_window_count(std::size_t page_count);

// The URL of a page that is still open. Playwright answers `url` from its own
// cache even after the page closed, so a page that says it is closed fails the
// probe too (PageError); otherwise a closed page would be handed to the
// scenario's steps.
std::string live_url(Tab& page);

// A browser whose process died (a crash, the OOM killer) would be handed to
// every later scenario, each failing at once: it is noticed here (the browser
// says it is disconnected) and launched again, once per death; the page of the
// dead browser is dropped. A probe that fails counts as connected; a relaunch
// that fails leaves this function.
void ensure_live_browser(BrowserSession& session, Console& console, Logger& log);

// Finds a live page for the scenario: the context's page, else the first page
// of the browser's first context, else a new one (whose failure leaves this
// function). Leaves it in the context's page slot.
void choose_page(BrowserSession& session, Console& console, Logger& log);

// A scenario tagged "mobile" gets the mobile viewport. The page is reused by
// the next scenarios of the feature, so the viewport it had before is
// remembered (page, size) and put back when a later scenario without the tag
// runs on that same page. A page without a fixed viewport (maximised window)
// has no size to put back and is left alone. `tags` is read here; a failure
// of the whole step is a warning.
void apply_scenario_viewport(BrowserSession& session, const std::function<std::vector<std::string>()>& tags,
                             Logger& log);

// With two or more pages in the first context, the first one is brought to
// the front and becomes the scenario's page. A failure is a debug record.
void bring_first_tab_forward(BrowserSession& session, Logger& log);

// At scenario end every page after the first one of the first context is
// closed (one that fails to close does not keep the others open) and the first
// becomes the context's page. A failure is a debug record.
void close_extra_windows(BrowserSession& session, Logger& log);

// At feature end every page of every context is closed (each on its own) and
// the page slot emptied. A failure is printed.
void close_all_pages(BrowserSession& session, Console& console, Logger& log);

}  // namespace tarvo::lifecycle
