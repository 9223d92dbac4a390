#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "core/lifecycle/retry_report.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "core/lifecycle/retry_steps.hpp"

using namespace tarvo;
using namespace tarvo::lifecycle;

TEST(RetrySettings, DefaultsAndParsing) {
  MapEnvironment env;
  auto s = read_retry_settings(env);
  EXPECT_FALSE(s.enabled);
  EXPECT_EQ(s.max_retries, 1);
  env.set("RETRY_FAILED_SCENARIOS", "TRUE");
  env.set("MAX_SCENARIO_RETRIES", " 3 ");
  s = read_retry_settings(env);
  EXPECT_TRUE(s.enabled);
  EXPECT_EQ(s.max_retries, 3);
  env.set("RETRY_FAILED_SCENARIOS", "yes");
  EXPECT_FALSE(read_retry_settings(env).enabled);
}

TEST(RetrySettings, NonIntegerFailsEvenWhenRetriesAreOff) {
  MapEnvironment env;
  env.set("MAX_SCENARIO_RETRIES", "tres");
  try {
    read_retry_settings(env);
    FAIL() << "expected invalid_argument";
  } catch (const std::invalid_argument& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("MAX_SCENARIO_RETRIES"), std::string::npos);
    EXPECT_NE(what.find("'tres'"), std::string::npos);
  }
  for (const char* bad : {"", "2.0", "1e2", "2x"}) EXPECT_THROW(parse_max_retries(bad), std::invalid_argument) << bad;
}

TEST(RetrySteps, KeywordStrippedNameKeptOneLineEach) {
  EXPECT_EQ(build_steps_text({{"Given ", "I open the page"}, {"  And", " x "}, {"Then ", "done"}}),
            "Given I open the page\nAnd  x \nThen done\n");
  EXPECT_EQ(build_steps_text({}), "");
  EXPECT_TRUE(steps_text_blank(""));
  EXPECT_TRUE(steps_text_blank(" \n\t"));
  EXPECT_FALSE(steps_text_blank("Given a\n"));
}

namespace {

// Scripted re-runs: outcomes[entry] lists the results of successive attempts.
struct FakeTarget : RetryTarget {
  std::vector<std::string> names;
  std::map<std::size_t, std::vector<RetryOutcome>> outcomes;
  std::map<std::size_t, std::size_t> calls;
  int ensure_calls = 0, close_calls = 0;
  std::string name(std::size_t e) override { return names.at(e); }
  RetryOutcome run(std::size_t e) override {
    auto& list = outcomes[e];
    std::size_t i = calls[e]++;
    return i < list.size() ? list[i] : RetryOutcome{RetryResult::StillFailing, ""};
  }
  void ensure_browser() override { ++ensure_calls; }
  void close_page() override { ++close_calls; }
  void begin_attempt(const std::vector<std::size_t>& entries) override { batches.push_back(entries); }
  std::vector<std::vector<std::size_t>> batches;
  std::vector<long long> attempts;
  void attempt_started(long long a) override { attempts.push_back(a); }
};

const RetryOutcome kPass{RetryResult::Passed, ""};
const RetryOutcome kFail{RetryResult::StillFailing, ""};

}  // namespace

TEST(RetryPass, OffOrEmptyPrintsNothing) {
  FakeTarget t;
  t.names = {"A"};
  RecordingConsole c;
  auto left = run_retry_pass({false, 1}, 1, t, c);
  EXPECT_TRUE(c.lines.empty());
  EXPECT_EQ(left.size(), 1u);
  run_retry_pass({true, 1}, 0, t, c);
  EXPECT_TRUE(c.lines.empty());
  EXPECT_EQ(t.ensure_calls + t.close_calls, 0);
}

TEST(RetryPass, PassesOnFirstRetry) {
  FakeTarget t;
  t.names = {"Login"};
  t.outcomes[0] = {kPass};
  RecordingConsole c;
  auto left = run_retry_pass({true, 1}, 1, t, c);
  EXPECT_TRUE(left.empty());
  const std::string rule(60, '=');
  std::vector<std::string> expected = {"\n" + rule,
                                       "🔄 REINTENTOS: 1 escenario(s) fallido(s) detectado(s)",
                                       "   Máximo reintentos configurados: 1",
                                       rule,
                                       "\n🔄 Reintento 1/1...",
                                       "   Escenarios a reintentar: 1",
                                       "\n   ▶ Reintentando: Login",
                                       "   ✅ Pasó en reintento 1",
                                       "\n✅ ¡Todos los escenarios pasaron en el reintento 1!",
                                       rule + "\n"};
  EXPECT_EQ(c.lines, expected);
  EXPECT_EQ(t.ensure_calls, 1);
  EXPECT_EQ(t.close_calls, 1);
}

TEST(RetryPass, KeepsFailingThroughAllAttemptsAndMixesResults) {
  FakeTarget t;
  t.names = {"A", "B", "C"};
  t.outcomes[0] = {kFail, kFail, kFail};
  t.outcomes[1] = {kFail, kPass};
  t.outcomes[2] = {RetryOutcome{RetryResult::Error, "kaput"}, kFail, kFail};
  RecordingConsole c;
  auto left = run_retry_pass({true, 3}, 3, t, c);
  EXPECT_EQ(left, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(t.calls[0], 3u);
  EXPECT_EQ(t.calls[1], 2u);  // dropped once it passed
  EXPECT_EQ(t.attempts, (std::vector<long long>{1, 2, 3}));
  auto count = [&](const std::string& l) { return std::count(c.lines.begin(), c.lines.end(), l); };
  EXPECT_EQ(count("   ❌ Sigue fallando"), 6);
  EXPECT_EQ(count("   ⚠️ Error: kaput"), 1);
  EXPECT_EQ(count("   ✅ Pasó en reintento 2"), 1);
  EXPECT_EQ(count("   Escenarios a reintentar: 3"), 2);
  auto it = std::find(c.lines.begin(), c.lines.end(),
                      "\n❌ 2 escenario(s) siguen fallando después de 3 reintento(s):");
  ASSERT_NE(it, c.lines.end());
  EXPECT_EQ(*(it + 1), "   - A");
  EXPECT_EQ(*(it + 2), "   - C");
  EXPECT_EQ(c.lines.back(), std::string(60, '=') + "\n");
}

TEST(RetryPass, ZeroAttemptsReportsEveryEntry) {
  FakeTarget t;
  t.names = {"A", "B"};
  RecordingConsole c;
  auto left = run_retry_pass({true, 0}, 2, t, c);
  EXPECT_EQ(left.size(), 2u);
  EXPECT_TRUE(t.calls.empty());
  EXPECT_EQ(t.ensure_calls, 1);
  std::vector<std::string> tail(c.lines.end() - 4, c.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"\n❌ 2 escenario(s) siguen fallando después de 0 reintento(s):",
                                            "   - A", "   - B", std::string(60, '=') + "\n"}));
}

TEST(RetryPass, EachAttemptIsAnnouncedWithTheEntriesStillFailing) {
  FakeTarget t;
  t.names = {"A", "B", "C"};
  t.outcomes[0] = {kPass};
  t.outcomes[1] = {kFail, kPass};
  t.outcomes[2] = {kFail, kFail, kFail};
  RecordingConsole c;
  auto left = run_retry_pass({true, 3}, 3, t, c);
  EXPECT_EQ(left, (std::vector<std::size_t>{2}));
  EXPECT_EQ(t.batches, (std::vector<std::vector<std::size_t>>{{0, 1, 2}, {1, 2}, {2}}));
}

TEST(RetrySteps, TablesAndDocStringsGoWithTheirStep) {
  StepLine with_table{"Given ", "the rows", StepTable{{"name", "note"}, {{"uno", "a|b"}, {"dos", "x\ny"}}}, {}};
  EXPECT_EQ(build_step_text(with_table),
            "Given the rows\n  | name | note |\n  | uno | a\\|b |\n  | dos | x y |\n");
  StepLine with_text{"When ", "I send", {}, std::string("{\n  \"a\": 1\n\n}")};
  EXPECT_EQ(build_step_text(with_text), "When I send\n  \"\"\"\n  {\n    \"a\": 1\n\n  }\n  \"\"\"\n");
  // A doc string holding the usual delimiter on a line of its own gets the other one.
  StepLine quoting{"Then ", "x", {}, std::string("before\n\"\"\"\nafter")};
  EXPECT_EQ(build_step_text(quoting), "Then x\n  '''\n  before\n  \"\"\"\n  after\n  '''\n");
  EXPECT_EQ(build_steps_text({with_table, {"And ", "plain"}}),
            build_step_text(with_table) + "And plain\n");
}

TEST(RetrySteps, ContinuationStepsTakeTheOpeningKeyword) {
  std::vector<StepLine> steps = {{"Dado ", "a", {}, {}, "given"}, {"Y ", "b", {}, {}, "given"},
                                 {"Cuando ", "c", {}, {}, "when"}, {"Pero ", "d", {}, {}, "when"},
                                 {"* ", "e", {}, {}, ""},            {"And ", "f", {}, {}, "then"}};
  resolve_continuation_keywords(steps);
  std::vector<std::string> keywords;
  for (const auto& s : steps) keywords.push_back(s.keyword);
  EXPECT_EQ(keywords, (std::vector<std::string>{"Dado ", "Dado ", "Cuando ", "Cuando ", "* ", "And "}));
}

TEST(RetryPass, InterruptedRunRetriesNothing) {
  FakeTarget t;
  t.names = {"A", "B"};
  t.outcomes[0] = {kPass};
  RecordingConsole c;
  auto left = run_retry_pass({true, 3}, 2, t, c, /*interrupted=*/true);
  EXPECT_EQ(c.lines, (std::vector<std::string>{
                         "⏹️ Ejecución interrumpida por el usuario: los escenarios fallidos no se reintentan"}));
  EXPECT_EQ(left.size(), 2u);
  EXPECT_EQ(t.calls.size(), 0u);
  EXPECT_EQ(t.ensure_calls + t.close_calls, 0);
  // Retries off: not even that line.
  RecordingConsole quiet;
  run_retry_pass({false, 3}, 2, t, quiet, true);
  EXPECT_TRUE(quiet.lines.empty());
}
