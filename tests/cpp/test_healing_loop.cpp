// The healing loop, page verification and Salesforce rules, over fakes.
#include <gtest/gtest.h>

#include "test_healing_fakes.hpp"

using namespace tarvo;
using namespace tarvo::healing;
using namespace tarvo::healing::testing;

namespace {
using Lines = std::vector<std::string>;
const std::string kSearch = "   🔍 SELF-HEALING: Buscando selector alternativo (máx 3 intentos con IA)...";
}  // namespace

TEST(HealingLoop, DisabledDoesNothing) {
  Rig rig;
  rig.manager.settings.enabled = false;
  rig.page.url_fails = true;  // not even the URL is read
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_TRUE(rig.console.lines.empty());
  EXPECT_TRUE(rig.log.records.empty());
}

TEST(HealingLoop, VerifiedHealIsCachedPerUrl) {
  Rig rig;
  rig.page.elements["#real"] = {FakeElement{}};
  rig.slot.provider.answers = {"#real", "#real"};
  EXPECT_EQ(rig.heal(), "#real");
  EXPECT_EQ(rig.console.lines,
            (Lines{kSearch, "   🤖 Llamada IA #1...", "   💡 IA sugiere: #real", "\n🔧 SELF-HEALING ACTIVADO",
                   "   Selector original (fallido): #old-login", "   Selector sugerido por IA:    #real",
                   "   Elemento: login_button", "   Acción: click",
                   "   ✅ Selector verificado - elemento encontrado e interactuable\n"}));
  ASSERT_EQ(rig.sink.entries.size(), 1u);
  EXPECT_TRUE(rig.sink.entries[0].success);
  EXPECT_EQ(rig.sink.entries[0].timestamp, "2026-12-07T21:30:05");
  EXPECT_EQ(rig.sink.entries[0].page_url, "https://shop.example.com/login");

  rig.console.lines.clear();
  EXPECT_EQ(rig.heal(), "#real");
  EXPECT_TRUE(rig.console.lines.empty());
  EXPECT_EQ(rig.slot.provider.prompts.size(), 1u);
  EXPECT_EQ(rig.sink.entries.size(), 1u);
  EXPECT_EQ(rig.messages(LogLevel::Info).back(), "SELF_HEALING: Usando selector cacheado: #real");

  rig.page.url_text = "https://shop.example.com/other";
  EXPECT_EQ(rig.heal(), "#real");
  EXPECT_EQ(rig.slot.provider.prompts.size(), 2u);  // another URL, another key

  rig.manager.clear_cache();
  EXPECT_TRUE(rig.manager.cache.items().empty());
  EXPECT_EQ(rig.sink.entries.size(), 2u);
}

TEST(HealingLoop, NoMatchEndsAtOnceWithoutSummary) {
  Rig rig;
  rig.slot.provider.answers = {"no_match", "#real"};
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_EQ(rig.console.lines, (Lines{kSearch, "   🤖 Llamada IA #1...", "   ❌ IA no pudo sugerir un selector"}));
  EXPECT_EQ(rig.messages(LogLevel::Info), (Lines{"SELF_HEALING: IA no encontró un selector válido (NO_MATCH)"}));
  EXPECT_EQ(rig.slot.provider.prompts.size(), 1u);
  EXPECT_NEAR(rig.slot.provider.last_temperature, 0.1, 1e-12);
}

TEST(HealingLoop, RejectedThenVerifiedOnSecondCall) {
  Rig rig;
  rig.page.elements["#real"] = {FakeElement{}};
  rig.slot.provider.answers = {"#gone", "#real"};
  EXPECT_EQ(rig.heal(), "#real");
  EXPECT_EQ(rig.console.lines,
            (Lines{kSearch, "   🤖 Llamada IA #1...", "   💡 IA sugiere: #gone",
                   "   ❌ Rechazado: 0 elementos encontrados en la página", "   🔄 Pidiendo alternativa a IA...",
                   "   🤖 Llamada IA #2...", "   💡 IA sugiere: #real", "\n🔧 SELF-HEALING ACTIVADO",
                   "   Selector original (fallido): #old-login", "   Selector sugerido por IA:    #real",
                   "   Elemento: login_button", "   Acción: click", "   🔄 Resuelto en intento #2 de IA",
                   "   ✅ Selector verificado - elemento encontrado e interactuable\n"}));
  ASSERT_EQ(rig.sink.entries.size(), 2u);
  EXPECT_FALSE(rig.sink.entries[0].success);
  EXPECT_EQ(rig.sink.entries[0].suggested_selector, "#gone");
  EXPECT_TRUE(rig.sink.entries[1].success);
  EXPECT_EQ(rig.slot.provider.prompts[0].find("SELECTORES YA INTENTADOS"), std::string::npos);
  EXPECT_NE(rig.slot.provider.prompts[1].find("  1. `#gone` → ❌ 0 elementos encontrados en la página\n"),
            std::string::npos);
  EXPECT_EQ(rig.messages(LogLevel::Warning),
            (Lines{"SELF_HEALING: Selector '#gone' encontró 0 elementos. Rechazando."}));
}

TEST(HealingLoop, RepeatedSuggestionIsSkippedWithoutPageCheck) {
  Rig rig;
  rig.page.elements["#real"] = {FakeElement{}};
  rig.slot.provider.answers = {"#gone", "#gone", "#real"};
  EXPECT_EQ(rig.heal(), "#real");
  Lines expected_start{kSearch,
                       "   🤖 Llamada IA #1...",
                       "   💡 IA sugiere: #gone",
                       "   ❌ Rechazado: 0 elementos encontrados en la página",
                       "   🔄 Pidiendo alternativa a IA...",
                       "   🤖 Llamada IA #2...",
                       "   💡 IA sugiere: #gone",
                       "   ⚠️ Selector ya fue rechazado anteriormente, pidiendo otro...",
                       "   🤖 Llamada IA #3...",
                       "   💡 IA sugiere: #real"};
  EXPECT_EQ(Lines(rig.console.lines.begin(), rig.console.lines.begin() + 10), expected_start);
  EXPECT_NE(rig.slot.provider.prompts[2].find("  2. `#gone` → ❌ ya rechazado en ejecución anterior\n"),
            std::string::npos);
  EXPECT_EQ(rig.sink.entries.size(), 2u);  // the skipped repeat leaves no entry
  // #gone: one locator() for the verification and one for the recount only.
  EXPECT_EQ(std::count(rig.page.locator_calls.begin(), rig.page.locator_calls.end(), "#gone"), 2);
}

TEST(HealingLoop, BudgetRunsOut) {
  Rig rig;
  rig.page.elements["#two"] = {FakeElement{false}, FakeElement{false}};  // accepted: several matches
  rig.page.elements["#hidden"] = {FakeElement{false}};
  rig.slot.provider.answers = {"#a", "#hidden", "#c"};
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_EQ(rig.console.lines,
            (Lines{kSearch,
                   "   🤖 Llamada IA #1...",
                   "   💡 IA sugiere: #a",
                   "   ❌ Rechazado: 0 elementos encontrados en la página",
                   "   🔄 Pidiendo alternativa a IA...",
                   "   🤖 Llamada IA #2...",
                   "   💡 IA sugiere: #hidden",
                   "   ❌ Rechazado: elemento encontrado pero no visible/interactuable",
                   "   🔄 Pidiendo alternativa a IA...",
                   "   🤖 Llamada IA #3...",
                   "   💡 IA sugiere: #c",
                   "   ❌ Rechazado: 0 elementos encontrados en la página",
                   "\n⚠️ SELF-HEALING: No se encontró selector válido después de 3 intento(s)",
                   "   Original: #old-login",
                   "   Intentos fallidos:",
                   "     - '#a' → 0 elementos encontrados en la página",
                   "     - '#hidden' → elemento encontrado pero no visible/interactuable",
                   "     - '#c' → 0 elementos encontrados en la página",
                   "   💡 Sugerencia: Verificar que la página cargó completamente\n"}));
  EXPECT_EQ(rig.sink.entries.size(), 3u);
  EXPECT_TRUE(rig.manager.cache.items().empty());
  ASSERT_EQ(rig.manager.failed_suggestions.items().size(), 1u);
  EXPECT_EQ(rig.manager.failed_suggestions.items()[0].first, "#old-login|https://shop.example.com/login");
  EXPECT_EQ(rig.manager.failed_suggestions.items()[0].second, (Lines{"#a", "#hidden", "#c"}));
  EXPECT_EQ(rig.messages(LogLevel::Warning)[1],
            "SELF_HEALING: Selector '#hidden' encontró elemento pero NO es visible.");
}

TEST(HealingLoop, QuietModeAndSingleCallBudget) {
  Rig rig;
  rig.manager.settings.log_suggestions = false;
  rig.manager.settings.max_retries = 0;
  rig.slot.provider.answers = {"#a", "#b"};
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_EQ(rig.console.lines,
            (Lines{"   🔍 SELF-HEALING: Buscando selector alternativo (máx 1 intentos con IA)...",
                   "   🤖 Llamada IA #1...", "   💡 IA sugiere: #a",
                   "   ❌ Rechazado: 0 elementos encontrados en la página"}));
}

TEST(HealingLoop, SeveralMatchesUseFirstVisibleOfFirstTwo) {
  Rig rig;
  rig.page.elements[".btn"] = {FakeElement{false}, FakeElement{true}, FakeElement{true}};
  rig.slot.provider.answers = {".btn", ".btn"};
  EXPECT_EQ(rig.heal(), ".btn >> nth=1");
  EXPECT_EQ(rig.console.lines[rig.console.lines.size() - 2], "   ℹ️  Múltiples elementos, usando el #2 (visible)");
  EXPECT_EQ(rig.sink.entries.back().suggested_selector, ".btn >> nth=1");
  EXPECT_EQ(rig.messages(LogLevel::Info),
            (Lines{"SELF_HEALING: Selector '.btn' encontró 3 elementos. Intentando con elementos "
                   "visibles/interactuables...",
                   "SELF_HEALING: Usando elemento #2 de 3 (primer visible/interactuable)"}));
  EXPECT_EQ(rig.heal(), ".btn >> nth=1");  // the cache keeps the suffix
}

TEST(Verification, FallbackIndexAndSingleMatchReset) {
  Rig rig;
  rig.page.elements[".row"] = {FakeElement{false}, FakeElement{false}, FakeElement{false}, FakeElement{true},
                               FakeElement{false}};
  rig.page.elements[".first"] = {FakeElement{true, true, true}, FakeElement{false}};
  rig.page.elements["#one"] = {FakeElement{true, true, true}};
  EXPECT_TRUE(rig.manager.verify_selector(rig.io, rig.page, ".row"));
  EXPECT_EQ(rig.manager.verified_nth_index, 0);
  EXPECT_EQ(rig.messages(LogLevel::Warning).back(),
            "SELF_HEALING: Ningún elemento visible de 5. Usando el primero como fallback.");
  // A failing visibility query is skipped on several matches ...
  EXPECT_TRUE(rig.manager.verify_selector(rig.io, rig.page, ".first"));
  EXPECT_EQ(rig.manager.verified_nth_index, 0);
  // ... and accepted on a single match, which also clears the index.
  rig.manager.verified_nth_index = 4;
  EXPECT_TRUE(rig.manager.verify_selector(rig.io, rig.page, "#one"));
  EXPECT_FALSE(rig.manager.verified_nth_index.has_value());
  EXPECT_EQ(rig.messages(LogLevel::Debug).back(), "SELF_HEALING: No se pudo verificar visibilidad: visibility query failed");

  rig.page.bad_selectors = {"div[["};
  EXPECT_FALSE(rig.manager.verify_selector(rig.io, rig.page, "div[["));
  EXPECT_EQ(rig.messages(LogLevel::Error).back(),
            "SELF_HEALING: Error verificando selector 'div[[': Unexpected token in selector");
}

TEST(Salesforce, RecognitionByUrlOrBodyClass) {
  Rig rig;
  rig.page.url_text = "https://acme.LIGHTNING.force.com/x";
  rig.page.body_class.reset();  // would fail if evaluated
  EXPECT_TRUE(rig.manager.is_salesforce_page(rig.page));
  EXPECT_EQ(rig.page.evaluate_calls, 0);
  rig.page.url_text = "https://example.com";
  EXPECT_FALSE(rig.manager.is_salesforce_page(rig.page));  // evaluation failure: not Salesforce
  rig.page.body_class = ScriptValue::of_text("theme SLDS-scope");
  EXPECT_TRUE(rig.manager.is_salesforce_page(rig.page));
  rig.page.body_class = ScriptValue::of_text("");
  EXPECT_FALSE(rig.manager.is_salesforce_page(rig.page));
  rig.page.url_fails = true;
  EXPECT_FALSE(rig.manager.is_salesforce_page(rig.page));
}

TEST(Salesforce, SingleMatchMustBeInteractable) {
  Rig rig;
  rig.page.url_text = "https://acme.my.salesforce.com/home";
  rig.page.elements["#save"] = {FakeElement{true, false}};
  rig.page.elements["#ok"] = {FakeElement{false, true}};  // hidden but laid out: interactability decides
  rig.slot.provider.answers = {"#save", "#ok"};
  EXPECT_EQ(rig.heal(), "#ok");
  EXPECT_EQ(rig.console.lines[3], "   ❌ Rechazado: elemento encontrado pero no visible/interactuable");
  EXPECT_EQ(rig.messages(LogLevel::Warning),
            (Lines{"SELF_HEALING (Salesforce): El selector encontró elemento pero NO es interactuable (podría estar "
                   "deshabilitado o hidden)."}));
  EXPECT_NE(rig.slot.provider.prompts[0].find("Sí, aplicar reglas especiales"), std::string::npos);

  FakeLocator vanished(&rig.page, "#nothing");
  EXPECT_FALSE(rig.manager.validate_salesforce_selector(rig.io, vanished));
  EXPECT_EQ(rig.messages(LogLevel::Warning).back(),
            "SELF_HEALING (Salesforce): El selector no es único en Salesforce (0 elementos encontrados). Rechazando.");
  rig.page.bad_selectors = {"#bad"};
  FakeLocator bad(&rig.page, "#bad");
  EXPECT_FALSE(rig.manager.validate_salesforce_selector(rig.io, bad));
  EXPECT_EQ(rig.messages(LogLevel::Error).back(),
            "SELF_HEALING (Salesforce): Error validando selector: Unexpected token in selector");
}

TEST(Provider, RecoverableFactoryFailureDisablesOnce) {
  Rig rig;
  rig.manager.settings.model = "gemini-x";
  rig.slot.factory_error = ProviderError("No module named 'google'", true);
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_EQ(rig.heal(), std::nullopt);
  EXPECT_FALSE(rig.manager.settings.enabled);
  EXPECT_EQ(rig.messages(LogLevel::Warning),
            (Lines{"SELF_HEALING: No se pudo inicializar proveedor de IA: No module named 'google'"}));
  EXPECT_EQ(rig.slot.models_asked, (std::vector<std::optional<std::string>>{"gemini-x"}));
  EXPECT_TRUE(rig.console.lines.empty());
}

TEST(Provider, OtherFactoryFailureReachesHealCallerButNotAiCall) {
  Rig rig;
  rig.slot.factory_error = ProviderError("boom", false);
  EXPECT_THROW(rig.heal(), ProviderError);
  EXPECT_TRUE(rig.manager.settings.enabled);
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), std::nullopt);
  EXPECT_EQ(rig.messages(LogLevel::Error), (Lines{"SELF_HEALING: Error llamando a proveedor de IA: boom"}));
}

TEST(Provider, AnswersThatEndTheConversation) {
  Rig rig;
  rig.slot.provider.answers = {"!raise", std::nullopt, "``` ```", "NO_MATCH please", "#ok\nbecause"};
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), std::nullopt);
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), std::nullopt);
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), std::nullopt);
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), std::nullopt);
  EXPECT_EQ(rig.manager.call_ai(rig.io, "p"), "#ok");
  EXPECT_EQ(rig.messages(LogLevel::Error), (Lines{"SELF_HEALING: Error llamando a proveedor de IA: quota exceeded"}));
  EXPECT_EQ(rig.messages(LogLevel::Warning), (Lines{"SELF_HEALING: Selector inválido recibido de IA: ",
                                                    "SELF_HEALING: Selector inválido recibido de IA: NO_MATCH please"}));
}

TEST(Provider, OverlongAnswerIsRefusedNotPrintedStoredOrResent) {
  Rig rig;
  const std::string huge = "#" + std::string(1 << 20, 'a');  // one line, 1 MB, selector characters only
  rig.slot.provider.answers = {"#a", huge, "#never-asked"};
  EXPECT_EQ(rig.heal(), std::nullopt);
  std::size_t printed = 0;
  for (const auto& line : rig.console.lines) printed += line.size();
  EXPECT_LT(printed, 2000u);
  EXPECT_EQ(rig.console.lines[5], "   🤖 Llamada IA #2...");
  EXPECT_EQ(rig.console.lines[6], "   ❌ IA no pudo sugerir un selector");
  ASSERT_EQ(rig.sink.entries.size(), 1u);  // only the rejected "#a"
  EXPECT_EQ(rig.manager.failed_suggestions.items()[0].second, (Lines{"#a"}));
  EXPECT_EQ(rig.slot.provider.prompts.size(), 2u);
  auto warnings = rig.messages(LogLevel::Warning);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1], "SELF_HEALING: Selector inválido recibido de IA: #" + std::string(199, 'a') +
                             "... (1048577 caracteres)");
}

TEST(PageFailures, UrlFailureReachesCallerAndCaptureFailureUsesMarker) {
  Rig rig;
  rig.page.url_fails = true;
  EXPECT_THROW(rig.heal(), PageError);

  Rig capture;
  capture.page.html.reset();
  EXPECT_EQ(capture.manager.capture_relevant_html(capture.io, capture.page),
            "<error>No se pudo capturar el HTML de la página</error>");
  capture.page.html = ScriptValue::null();
  EXPECT_EQ(capture.manager.capture_relevant_html(capture.io, capture.page),
            "<error>No se pudo capturar el HTML de la página</error>");
  EXPECT_EQ(capture.messages(LogLevel::Warning),
            (Lines{"SELF_HEALING: Error capturando HTML: Evaluation failed",
                   "SELF_HEALING: Error capturando HTML: object of type 'NoneType' has no len()"}));
  capture.manager.settings.max_html_length = 5;
  capture.page.html = ScriptValue::of_text("<b>ñ</b>");
  EXPECT_EQ(capture.manager.capture_relevant_html(capture.io, capture.page),
            "<b>ñ<\n<!-- [HTML TRUNCADO - se muestran los primeros elementos] -->");

  // Password fields that mirror the typed value do not show it to the model.
  capture.manager.settings.max_html_length = 15000;
  capture.page.html = ScriptValue::of_text(R"(<input type="password" value="hunter2"><input value="name">)");
  EXPECT_EQ(capture.manager.capture_relevant_html(capture.io, capture.page),
            R"(<input type="password" value="******"><input value="name">)");

  // A selector whose recount throws counts as no match.
  Rig bad;
  bad.page.bad_selectors = {"div:has("};
  bad.slot.provider.answers = {"div:has("};
  bad.manager.settings.max_retries = 0;
  EXPECT_EQ(bad.heal(), std::nullopt);
  EXPECT_EQ(bad.console.lines[3], "   ❌ Rechazado: 0 elementos encontrados en la página");
}

TEST(HealingLoop, OwnerVetoAndExcerpt) {
  Rig rig;
  rig.page.elements["#add"] = {FakeElement{}};
  rig.page.elements["#real"] = {FakeElement{}};
  rig.slot.provider.answers = {"#add", "#real"};
  HealRequest req{"#old-login", "remove_button", "click", "", "", "", std::nullopt, {}};
  req.html_excerpt = "<button id=\"real\">Quitar</button>";
  std::vector<std::string> asked;
  req.veto = [&](const std::string& s) -> std::optional<std::string> {
    asked.push_back(s);
    if (s == "#add") return std::string("acción opuesta");
    return std::nullopt;
  };
  EXPECT_EQ(rig.manager.attempt_heal(rig.io, rig.page, req), "#real");
  EXPECT_EQ(asked, (Lines{"#add", "#real"}));
  // The veto's reason is a rejection like the page's own: printed, logged, sent back.
  EXPECT_NE(std::find(rig.console.lines.begin(), rig.console.lines.end(), "   ❌ Rechazado: acción opuesta"),
            rig.console.lines.end());
  ASSERT_EQ(rig.sink.entries.size(), 2u);
  EXPECT_FALSE(rig.sink.entries[0].success);
  ASSERT_EQ(rig.slot.provider.prompts.size(), 2u);
  EXPECT_NE(rig.slot.provider.prompts[1].find("`#add` → ❌ acción opuesta"), std::string::npos);
  // The model saw the excerpt, not the captured body.
  EXPECT_NE(rig.slot.provider.prompts[0].find("<button id=\"real\">Quitar</button>"), std::string::npos);
  EXPECT_EQ(rig.manager.ai_calls, 2);
}
