#include "core/lifecycle/page_policy.hpp"

#include <optional>

#include "core/common/text.hpp"
#include "core/lifecycle/messages.hpp"

namespace tarvo::lifecycle {

namespace {

// Runs f; a port failure comes back as its text, so nothing is in flight when
// the caller logs or prints it.
template <typename F>
std::optional<std::string> failure_of(F&& f) {
  std::optional<std::string> text;
  try {
    f();
  } catch (const PageError& e) {
    text = e.what();
  }
  return text;
}

}  // namespace

bool has_mobile_tag(const std::vector<std::string>& tags) {
  for (const auto& tag : tags) {
    if (to_lower(tag) == "mobile") return true;
  }
  return false;
}

bool should_switch_to_first_tab(std::size_t page_count) { return page_count > 1; }

std::size_t extra_window_count(std::size_t page_count) { return page_count > 1 ? page_count - 1 : 0; }

std::string live_url(Tab& page) {
  if (page.is_closed()) throw PageError("Target page has been closed");
  return page.url();
}

void ensure_live_browser(BrowserSession& session, Console& console, Logger& log) {
  std::optional<bool> connected;
  if (failure_of([&] { connected = session.browser_connected(); })) return;
  if (!connected || *connected) return;
  console.print(std::string(kBrowserDied));
  session.relaunch_browser();
  session.clear_page();
  log.info(std::string(kBrowserRelaunched));
}

void choose_page(BrowserSession& session, Console& console, Logger& log) {
  ensure_live_browser(session, console, log);
  bool ready = false;

  if (TabPtr page = session.page()) {
    auto failure = failure_of([&] {
      std::string url = live_url(*page);
      log.info(reusing_existing_page(url));
      ready = true;
    });
    if (failure) log.debug(std::string(kPreviousPageInvalid));
  }

  if (!ready) {
    auto failure = failure_of([&] {
      auto pages = session.first_context_pages();
      if (!pages || pages->empty()) return;
      TabPtr candidate = pages->front();
      // A page closed since the last scenario fails its probe: a new page is
      // made below, so that failure is expected and not reported.
      (void)failure_of([&] {
        std::string url = live_url(*candidate);
        session.set_page(candidate);
        log.info(reusing_browser_page(url));
        ready = true;
      });
    });
    if (failure) log.debug(page_check_failed(*failure));
  }

  if (!ready) {
    session.set_page(session.create_page());
    log.info(std::string(kNewPageCreated));
  }
}

namespace {

void restore_viewport_after_mobile(BrowserSession& session) {
  auto saved = session.saved_viewport();
  if (!saved) return;
  session.set_saved_viewport(std::nullopt);
  TabPtr page = session.page();
  if (page && saved->page && saved->page->same_as(*page) && saved->size) page->set_viewport_size(*saved->size);
}

void remember_viewport_before_mobile(BrowserSession& session, const TabPtr& page) {
  (void)failure_of([&] {
    auto saved = session.saved_viewport();
    if (saved && saved->page && saved->page->same_as(*page)) return;  // already mobile
    session.set_saved_viewport(SavedViewport{page, page->viewport_size()});
  });
}

}  // namespace

void apply_scenario_viewport(BrowserSession& session, const std::function<std::vector<std::string>()>& tags,
                             Logger& log) {
  auto failure = failure_of([&] {
    if (!has_mobile_tag(tags())) {
      restore_viewport_after_mobile(session);
      return;
    }
    TabPtr page = session.page();
    if (!page) throw PageError("the scenario has no page");
    remember_viewport_before_mobile(session, page);
    page->set_viewport_size(ViewportSize{kMobileViewportWidth, kMobileViewportHeight});
  });
  if (failure) log.warning(tag_setup_failed(*failure));
}

void bring_first_tab_forward(BrowserSession& session, Logger& log) {
  auto failure = failure_of([&] {
    auto pages = session.first_context_pages();
    if (!pages) return;
    std::size_t count = pages->size();
    if (!should_switch_to_first_tab(count)) return;
    TabPtr first = pages->front();
    first->bring_to_front();
    session.set_page(first);
    log.info(switched_to_first_tab(count));
  });
  if (failure) log.debug(first_tab_failed(*failure));
}

void close_extra_windows(BrowserSession& session, Logger& log) {
  auto failure = failure_of([&] {
    auto pages = session.first_context_pages();
    if (!pages) return;
    std::size_t extra = extra_window_count(pages->size());
    if (extra == 0) return;
    for (std::size_t i = 1; i < pages->size(); ++i) {
      (void)failure_of([&] { (*pages)[i]->close(); });  // one stuck window must not keep the others open
    }
    session.set_page(pages->front());
    log.info(extra_windows_closed(extra));
  });
  if (failure) log.debug(extra_windows_failed(*failure));
}

void close_all_pages(BrowserSession& session, Console& console, Logger& log) {
  auto failure = failure_of([&] {
    auto pages = session.all_pages();
    if (!pages) return;
    for (const TabPtr& page : *pages) {
      (void)failure_of([&] { page->close(); });  // the next page is still closed
    }
    session.clear_page();
    log.info(std::string(kPagesClosedAfterFeature));
  });
  if (failure) console.print(closing_pages_failed(*failure));
}

}  // namespace tarvo::lifecycle
