#include <gtest/gtest.h>

#include <algorithm>

#include "core/lifecycle/page_policy.hpp"
#include "test_browser_fakes.hpp"

using namespace tarvo;
using namespace tarvo::testing;
namespace lc = tarvo::lifecycle;

namespace {

std::vector<std::string> messages(const RecordingLogger& log, LogLevel level) {
  std::vector<std::string> out;
  for (const auto& r : log.records)
    if (r.level == level) out.push_back(r.message);
  return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

struct PagePolicy : ::testing::Test {
  Events events;
  FakeSession session;
  RecordingConsole console;
  RecordingLogger log;
  void SetUp() override { session.events = &events; }
};

}  // namespace

// ---- choosing the scenario's page ---------------------------------------------

TEST_F(PagePolicy, LivePageOfTheContextIsReused) {
  auto page = tab("main", &events, "https://shop.test/cart");
  session.current = page;
  lc::choose_page(session, console, log);
  EXPECT_EQ(session.current, page);
  EXPECT_EQ(session.created, 0);
  EXPECT_EQ(messages(log, LogLevel::Info),
            std::vector<std::string>{"♻️ Reutilizando página existente (URL: https://shop.test/cart)"});
  EXPECT_TRUE(console.lines.empty());
}

TEST_F(PagePolicy, DeadPageIsReplacedByTheBrowsersFirstPage) {
  auto dead = tab("dead", &events);
  dead->url_fails = true;
  auto first = tab("first", &events, "https://a.test/");
  session.current = dead;
  session.contexts = {{first}};
  lc::choose_page(session, console, log);
  EXPECT_EQ(session.current, first);
  EXPECT_EQ(messages(log, LogLevel::Debug), std::vector<std::string>{"Página anterior cerrada o inválida"});
  EXPECT_EQ(messages(log, LogLevel::Info),
            std::vector<std::string>{"♻️ Reutilizando página del browser (URL: https://a.test/)"});
}

TEST_F(PagePolicy, PageThatSaysClosedFailsTheProbeThoughItsUrlAnswers) {
  auto stale = tab("stale", &events, "https://cached.test/");
  stale->says_closed = true;
  session.current = stale;
  session.contexts = {{stale}};
  lc::choose_page(session, console, log);
  EXPECT_NE(session.current, stale);
  EXPECT_EQ(session.created, 1);
  // The closed first page of the browser is expected, not reported.
  EXPECT_EQ(messages(log, LogLevel::Debug), std::vector<std::string>{"Página anterior cerrada o inválida"});
  EXPECT_EQ(messages(log, LogLevel::Info), std::vector<std::string>{"🆕 Nueva página creada para el escenario"});
  EXPECT_THROW(lc::live_url(*stale), PageError);
}

TEST_F(PagePolicy, NoPageAnywhereCreatesOneAndAFailedListingIsADebugRecord) {
  session.listing_fails = true;
  lc::choose_page(session, console, log);
  ASSERT_TRUE(session.current);
  EXPECT_EQ(messages(log, LogLevel::Debug),
            std::vector<std::string>{"No se pudo verificar páginas existentes: contexts unavailable"});
  EXPECT_EQ(events, std::vector<std::string>{"create"});
}

TEST_F(PagePolicy, FailedPageCreationLeavesUnchanged) {
  session.create_fails = true;
  EXPECT_THROW(lc::choose_page(session, console, log), std::runtime_error);
  EXPECT_FALSE(session.current);
  EXPECT_TRUE(messages(log, LogLevel::Info).empty());
}

TEST_F(PagePolicy, DeadBrowserIsRelaunchedOnceAndItsPageDropped) {
  auto old = tab("old", &events, "https://a.test/");
  session.current = old;
  session.connected = false;
  lc::choose_page(session, console, log);
  EXPECT_EQ(session.relaunches, 1);
  EXPECT_EQ(console.lines, std::vector<std::string>{
                               "⚠️ El navegador se cerró inesperadamente: se inicia de nuevo para los escenarios siguientes"});
  EXPECT_NE(session.current, old);
  EXPECT_EQ(events, (std::vector<std::string>{"relaunch", "create"}));
  EXPECT_EQ(messages(log, LogLevel::Info),
            (std::vector<std::string>{"🔄 Navegador reiniciado", "🆕 Nueva página creada para el escenario"}));
  // The next scenario finds the new browser connected.
  lc::choose_page(session, console, log);
  EXPECT_EQ(session.relaunches, 1);
}

TEST_F(PagePolicy, BrowserProbeThatFailsOrCannotTellCountsAsConnected) {
  session.probe_fails = true;
  lc::ensure_live_browser(session, console, log);
  session.probe_fails = false;
  session.connected = std::nullopt;
  lc::ensure_live_browser(session, console, log);
  session.has_browser = false;
  lc::ensure_live_browser(session, console, log);
  EXPECT_EQ(session.relaunches, 0);
  EXPECT_TRUE(console.lines.empty());
}

TEST_F(PagePolicy, FailedRelaunchLeavesTheCaller) {
  session.connected = false;
  session.relaunch_fails = true;
  EXPECT_THROW(lc::ensure_live_browser(session, console, log), std::runtime_error);
  EXPECT_EQ(console.lines.size(), 1u);
  EXPECT_TRUE(log.records.empty());
}

// ---- @mobile viewport ---------------------------------------------------------

TEST_F(PagePolicy, MobileViewportIsRestoredForTheNextScenarioOnTheSamePage) {
  auto page = tab("main", &events);
  page->viewport = ViewportSize{1920, 1080};
  session.current = page;
  auto tags = [](std::vector<std::string> t) { return [t] { return t; }; };
  lc::apply_scenario_viewport(session, tags({"Mobile"}), log);
  lc::apply_scenario_viewport(session, tags({"mobile"}), log);  // a second @mobile keeps the desktop size
  ASSERT_TRUE(page->viewport);
  EXPECT_EQ(page->viewport->width, 375);
  EXPECT_EQ(page->viewport->height, 667);
  lc::apply_scenario_viewport(session, tags({"smoke"}), log);
  EXPECT_EQ(page->viewport->width, 1920);
  EXPECT_EQ(page->viewport->height, 1080);
  EXPECT_FALSE(session.saved);
  EXPECT_TRUE(log.records.empty());
}

TEST_F(PagePolicy, RestoreLeavesOtherPagesAndPagesWithoutViewportAlone) {
  auto tags = [](std::vector<std::string> t) { return [t] { return t; }; };
  auto maximised = tab("max", &events);
  session.current = maximised;
  lc::apply_scenario_viewport(session, tags({"mobile"}), log);
  lc::apply_scenario_viewport(session, tags({}), log);
  EXPECT_EQ(maximised->viewport->width, 375);  // nothing to put back

  auto a = tab("a", &events);
  a->viewport = ViewportSize{800, 600};
  session.current = a;
  lc::apply_scenario_viewport(session, tags({"mobile"}), log);
  auto b = tab("b", &events);
  b->viewport = ViewportSize{1024, 768};
  session.current = b;  // the @mobile page was replaced
  lc::apply_scenario_viewport(session, tags({"smoke"}), log);
  EXPECT_EQ(b->viewport->width, 1024);
  EXPECT_FALSE(session.saved);
}

TEST_F(PagePolicy, ViewportFailureIsAWarning) {
  auto page = tab("main", &events);
  page->viewport_fails = true;
  session.current = page;
  lc::apply_scenario_viewport(session, [] { return std::vector<std::string>{"mobile"}; }, log);
  EXPECT_EQ(messages(log, LogLevel::Warning), std::vector<std::string>{"Error configurando tags: no viewport"});
  lc::apply_scenario_viewport(session, []() -> std::vector<std::string> { throw PageError("tags gone"); }, log);
  EXPECT_EQ(messages(log, LogLevel::Warning).back(), "Error configurando tags: tags gone");
}

// ---- tabs and windows ---------------------------------------------------------

TEST_F(PagePolicy, FirstTabIsBroughtForwardOnlyWithTwoOrMorePages) {
  auto first = tab("first", &events);
  auto second = tab("second", &events);
  session.current = second;
  session.contexts = {{first}};
  lc::bring_first_tab_forward(session, log);
  EXPECT_EQ(session.current, second);
  EXPECT_TRUE(events.empty());

  session.contexts = {{first, second}};
  lc::bring_first_tab_forward(session, log);
  EXPECT_EQ(session.current, first);
  EXPECT_EQ(events, std::vector<std::string>{"front first"});
  EXPECT_EQ(messages(log, LogLevel::Info), std::vector<std::string>{"Cambiado al primer tab (total: 2 tabs abiertos)"});

  first->closed = true;
  lc::bring_first_tab_forward(session, log);
  EXPECT_EQ(messages(log, LogLevel::Debug),
            std::vector<std::string>{"No se pudo cambiar al primer tab: Target page, context or browser has been closed"});
}

TEST_F(PagePolicy, ExtraWindowsAreClosedAndTheMainOneKept) {
  auto p1 = tab("p1", &events), p2 = tab("p2", &events), p3 = tab("p3", &events), other = tab("other", &events);
  p2->close_fails = true;
  session.current = p3;
  session.contexts = {{p1, p2, p3}, {other}};
  lc::close_extra_windows(session, log);
  EXPECT_EQ(events, (std::vector<std::string>{"close p2", "close p3"}));
  EXPECT_EQ(session.current, p1);
  EXPECT_FALSE(p1->closed);
  EXPECT_FALSE(other->closed);
  EXPECT_EQ(messages(log, LogLevel::Info), std::vector<std::string>{"🧹 Cerradas 2 ventana(s) extra del escenario"});
}

TEST_F(PagePolicy, SingleWindowIsLeftAloneAndAFailedListingIsADebugRecord) {
  auto only = tab("only", &events), other = tab("other", &events);
  session.current = other;
  session.contexts = {{only}};
  lc::close_extra_windows(session, log);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(session.current, other);
  EXPECT_TRUE(log.records.empty());
  session.listing_fails = true;
  lc::close_extra_windows(session, log);
  EXPECT_EQ(messages(log, LogLevel::Debug),
            std::vector<std::string>{"Error cerrando ventanas extra: contexts unavailable"});
}

TEST_F(PagePolicy, FeatureEndClosesEveryPageEachOnItsOwn) {
  auto a = tab("a", &events), b = tab("b", &events), c = tab("c", &events);
  a->close_fails = true;
  session.current = b;
  session.contexts = {{a, b}, {c}};
  lc::close_all_pages(session, console, log);
  EXPECT_EQ(events, (std::vector<std::string>{"close a", "close b", "close c"}));
  EXPECT_FALSE(session.current);
  EXPECT_EQ(messages(log, LogLevel::Info), std::vector<std::string>{"🧹 Páginas cerradas al finalizar el feature"});

  session.listing_fails = true;
  lc::close_all_pages(session, console, log);
  EXPECT_EQ(console.lines,
            std::vector<std::string>{"⚠️ Error cerrando páginas en after_feature: contexts unavailable"});
}
