// Text rules of the self-healing manager: settings, selector gate, answer
// cleaning, prompts, truncation and the healing log texts.
#include <gtest/gtest.h>

#include "core/common/local_time.hpp"
#include "core/healing/healing_settings.hpp"
#include "core/healing/healing_text.hpp"
#include "core/healing/messages.hpp"

using namespace tarvo;
using namespace tarvo::healing;

namespace {

MapEnvironment env_of(const std::string& name, const std::string& value) {
  MapEnvironment env;
  env.set(name, value);
  return env;
}

PromptContext sample_context() {
  return {"#old-login", "login_button", "hacer click en el elemento", "When hago clic en entrar",
          "Acceso válido", "Login", "https://example.com/login", "Entrar", "<button id=\"go\">Go</button>"};
}

// The whole prompt for sample_context(), written out with real line breaks.
const std::string kExpectedPrompt = R"P(Eres un experto en automatización de pruebas con Playwright. Un selector ha fallado y necesito que analices el HTML actual de la página para encontrar el selector correcto.



## CONTEXTO DE LA PRUEBA

- **Feature:** Login
- **Escenario:** Acceso válido
- **Paso actual:** When hago clic en entrar
- **Acción deseada:** hacer click en el elemento
- **Nombre del elemento en el POM:** login_button
- **URL actual:** https://example.com/login
- **Título de la página:** Entrar
- **¿Es Salesforce?**: No

## SELECTOR QUE FALLÓ

```
#old-login
```

## INSTRUCCIONES CRÍTICAS

1. Analiza el HTML de la página que te proporciono abajo.
2. Basándote en el CONTEXTO DE LA PRUEBA (nombre del elemento, acción deseada, paso del test), identifica cuál es el elemento correcto en el HTML.
3. Genera UN SOLO selector CSS o XPath que localice ese elemento de forma precisa y ÚNICA.
4. ⚠️ **CRÍTICO**: El selector DEBE encontrar exactamente 1 elemento (no cero, no múltiples).
5. El selector debe ser lo más específico posible para evitar falsos positivos y ambigüedad.
6. Prioriza selectores por: id > data-testid > aria-label > XPath específico > clase única.
7. NO inventes elementos. Si no encuentras un elemento que corresponda al contexto, responde SOLO con: NO_MATCH

## REGLAS CRÍTICAS

- ⚠️ El selector DEBE corresponder exactamente al objetivo de la prueba. No selecciones elementos ambiguos.
- ⚠️ Si el selector puede encontrar múltiples elementos, es INVÁLIDO. Debe ser único.
- Considera el nombre del elemento "login_button" como pista de qué se busca.
- La acción "hacer click en el elemento" te indica qué tipo de elemento es:
  - "click" → botón, link, elemento interactuable
  - "fill" → input, textarea, campo de entrada
  - "select" → select, dropdown, elemento con opciones
- Si hay ambigüedad entre varios elementos, elige el que mejor corresponda al contexto del escenario.
- En Salesforce, prioriza selectores con atributos de prueba (data-testid, aria-label) sobre clases dinámicas.

## HTML ACTUAL DE LA PÁGINA

```html
<button id="go">Go</button>
```

## RESPUESTA

Responde ÚNICAMENTE con el selector (CSS o XPath), sin explicaciones, sin comillas, sin formato markdown. Solo el selector en una línea.
Si es XPath, debe empezar con // o /
Si es CSS, debe ser un selector CSS válido.
Si es ambiguo o no encuentras exactamente 1 elemento, responde: NO_MATCH)P";

const std::string kSalesforceSection = R"P(
## INSTRUCCIONES ESPECIALES PARA SALESFORCE

Salesforce usa Lightning Web Components con características especiales:
1. **Shadow DOM**: Los elementos pueden estar dentro de web components con shadow DOM
   - Usa atributos data-testid, aria-label cuando estén disponibles
   - Busca elementos con namespaces force:* o atributos slds-*
   
2. **Selectores recomendados en Salesforce** (en orden de preferencia):
   - data-testid="..." (más confiable)
   - aria-label="..." (visible para usuarios y IA)
   - role="..." con aria-label (combinados)
   - Clases slds-* combinadas con role (NO solo clases dinámicas)
   - XPath específico si es necesario
   
3. **Selectores a EVITAR en Salesforce**:
   - ❌ Clases dinámicas como "slds-button__text" solas
   - ❌ IDs generados automáticamente (force-id-2847, etc.)
   - ❌ Selectores vagos que pueden match múltiples componentes
   - ❌ XPath muy genérico que sea ambiguo
   
4. **CRÍTICO - Unicidad del selector**:
   - El selector DEBE encontrar exactamente 1 elemento, no más
   - Si hay varios botones similares, el selector debe distinguir el correcto
   - Usa aria-label o data-testid para resolver ambigüedad
)P";

}  // namespace

TEST(HealingSettings, DefaultsAndConversions) {
  MapEnvironment empty;
  auto s = HealingSettings::from_environment(empty);
  EXPECT_FALSE(s.enabled);
  EXPECT_FALSE(s.model.has_value());
  EXPECT_FALSE(s.auto_update_pom);
  EXPECT_EQ(s.max_retries, 2);
  EXPECT_TRUE(s.log_suggestions);
  EXPECT_EQ(s.max_html_length, 15000);
  EXPECT_DOUBLE_EQ(s.confidence_threshold, 0.7);

  MapEnvironment env({{"SELF_HEALING_ENABLED", "TrUe"}, {"SELF_HEALING_MODEL", ""},
                      {"SELF_HEALING_MAX_RETRIES", " 0 "}, {"SELF_HEALING_LOG_SUGGESTIONS", "yes"}});
  s = HealingSettings::from_environment(env);
  EXPECT_TRUE(s.enabled);
  EXPECT_FALSE(s.model.has_value());
  EXPECT_EQ(s.max_retries, 0);
  EXPECT_FALSE(s.log_suggestions);
  for (const char* on : {"1", "yes", "on"})
    EXPECT_FALSE(HealingSettings::from_environment(env_of("SELF_HEALING_ENABLED", on)).enabled);
}

TEST(HealingSettings, ConversionFailureNamesVariableAndValue) {
  try {
    HealingSettings::from_environment(env_of("SELF_HEALING_MAX_HTML_LENGTH", "lots"));
    FAIL() << "no error";
  } catch (const SettingError& e) {
    EXPECT_NE(std::string(e.what()).find("SELF_HEALING_MAX_HTML_LENGTH"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("'lots'"), std::string::npos);
  }
  EXPECT_THROW(HealingSettings::from_environment(env_of("SELF_HEALING_CONFIDENCE_THRESHOLD", "high")),
               SettingError);
  EXPECT_THROW(HealingSettings::from_environment(env_of("SELF_HEALING_MAX_RETRIES", "2.5")),
               SettingError);
}

TEST(SelectorGate, AcceptsSelectorsAndXPath) {
  for (const char* ok : {"//button[@id='x']", "/html/body", "/!!anything", "#a", "input[name='user']",
                         "div > a.btn", "a:nth-child(2)", "input[placeholder=\"Tu nombre\"]", "#niño",
                         "button.acción", "div\n> a", "a,b", "ul ~ li + li", "#日本語",
                         "div\u00a0> a", "#a\r\n"})
    EXPECT_TRUE(is_valid_selector(ok)) << ok;
}

TEST(SelectorGate, RejectsProseUrlsAndForeignCharacters) {
  for (const char* bad : {"", "#", "a[href*='/login']", "NO_MATCH", "no_match", "Sorry, I cannot help",
                          "Error: nothing", "see www.example.com", "#errorMessage", "http://x", "no match",
                          "No se encontró", "a!b", "a%b", "a&b", "a?b", "a{b}", "a;b", "#x/y"})
    EXPECT_FALSE(is_valid_selector(bad)) << bad;
  // A single multi-byte character is still one character.
  EXPECT_FALSE(is_valid_selector("ñ"));
}

TEST(SelectorGate, LengthIsCapped) {
  const std::string at_cap = "#" + std::string(kMaxSelectorLength - 1, 'a');
  EXPECT_TRUE(is_valid_selector(at_cap));
  EXPECT_FALSE(is_valid_selector(at_cap + "a"));
  // The cap counts characters, not bytes, and holds for XPath too.
  std::string wide = "#";
  for (std::size_t i = 1; i < kMaxSelectorLength; ++i) wide += "ñ";
  EXPECT_TRUE(is_valid_selector(wide));
  EXPECT_FALSE(is_valid_selector("//" + std::string(kMaxSelectorLength, 'a')));
  EXPECT_FALSE(is_valid_selector("#" + std::string(1 << 20, 'a')));
}

TEST(AnswerCleaning, LongAnswersQuotedShort) {
  EXPECT_EQ(quoted_answer("#a"), "#a");
  const std::string long_answer = std::string(199, 'x') + "ñy" + std::string(10000, 'z');
  EXPECT_EQ(quoted_answer(long_answer), std::string(199, 'x') + "ñ... (10201 caracteres)");
}

TEST(SelectorGate, WhiteSpaceIsPythonsSet) {
  // The information separators count as white space; U+180E and U+200B do not.
  for (const char* ok : {"a\x1c", "a\x1f" "b", "a\u2003b", "a\u3000", "a\u0085b", "a\n\n"})
    EXPECT_TRUE(is_valid_selector(ok)) << ok;
  for (const char* bad : {"a\u180e", "a\u200bb", "a\x1b", "a\x7f"})
    EXPECT_FALSE(is_valid_selector(bad)) << bad;
}

TEST(AnswerCleaning, FencesBackticksAndExtraLines) {
  EXPECT_EQ(clean_ai_answer("   #login-button \n"), "#login-button");
  EXPECT_EQ(clean_ai_answer("```css\n#login\n```"), "css");
  EXPECT_EQ(clean_ai_answer("```\n#login\n```"), "#login");
  EXPECT_EQ(clean_ai_answer("`#login`"), "#login");
  EXPECT_EQ(clean_ai_answer("#login\nThis is the button because..."), "#login");
  EXPECT_EQ(clean_ai_answer(" `` ``` ` "), "");
  EXPECT_EQ(clean_ai_answer("no_match"), "no_match");
}

TEST(HtmlTruncation, ByCodePointsWithMarker) {
  EXPECT_EQ(truncate_html("ñññ", 3), "ñññ");
  EXPECT_EQ(truncate_html("ññññ", 3), std::string("ñññ") + "\n<!-- [HTML TRUNCADO - se muestran los primeros elementos] -->");
  EXPECT_EQ(truncate_html("", 0), "");
}

TEST(Prompts, WholeFirstPrompt) {
  EXPECT_EQ(build_prompt(sample_context()), kExpectedPrompt);
}

TEST(Prompts, SalesforceSectionAndField) {
  auto c = sample_context();
  c.page_url = "https://ACME.Lightning.Force.com/lightning/r/Account";
  std::string p = build_prompt(c);
  std::string intro_end = "para encontrar el selector correcto.\n\n";
  auto at = p.find(intro_end);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(p.substr(at + intro_end.size(), kSalesforceSection.size()), kSalesforceSection);
  EXPECT_EQ(p.substr(at + intro_end.size() + kSalesforceSection.size(), 28), "\n\n## CONTEXTO DE LA PRUEBA\n\n");
  EXPECT_NE(p.find("- **¿Es Salesforce?**: Sí, aplicar reglas especiales\n"), std::string::npos);
  c.page_url = "https://login.salesforce.com/";
  EXPECT_TRUE(url_is_salesforce(c.page_url));
  EXPECT_FALSE(url_is_salesforce("https://example.com/force"));
}

TEST(Prompts, RetrySectionStandsBeforeEveryHtmlHeading) {
  auto c = sample_context();
  std::vector<FailedAttempt> failed{{"#a", "0 elementos encontrados en la página"},
                                    {"#b", "ya rechazado en ejecución anterior"}};
  const std::string section =
      "\n## ⚠️ SELECTORES YA INTENTADOS (TODOS FALLARON)\n\nLos siguientes selectores fueron sugeridos previamente "
      "pero NO funcionaron:\n\n  1. `#a` → ❌ 0 elementos encontrados en la página\n  2. `#b` → ❌ ya rechazado en "
      "ejecución anterior\n\n**IMPORTANTE:** NO repitas ninguno de estos selectores. Necesito una alternativa "
      "DIFERENTE.\nAnaliza el HTML más cuidadosamente. Tal vez el elemento:\n- Tiene un ID o clase diferente al "
      "esperado\n- Está dentro de un iframe o shadow DOM\n- Usa un atributo name, placeholder, aria-label u otro "
      "identificador\n- Requiere un XPath más específico\n";
  const std::string heading = "## HTML ACTUAL DE LA PÁGINA";
  std::string expected = kExpectedPrompt;
  expected.replace(expected.find(heading), heading.size(), section + "\n" + heading);
  EXPECT_EQ(build_retry_prompt(c, failed), expected);

  c.html_content = "<p>## HTML ACTUAL DE LA PÁGINA</p>";
  std::string twice = build_retry_prompt(c, failed);
  std::size_t n = 0;
  for (auto pos = twice.find(section + "\n" + heading); pos != std::string::npos;
       pos = twice.find(section + "\n" + heading, pos + 1))
    ++n;
  EXPECT_EQ(n, 2u);
}

TEST(HealingLogTexts, TimestampRateAndMessages) {
  EXPECT_EQ(iso_timestamp({2026, 1, 2, 3, 4, 5, 0}), "2026-01-02T03:04:05");
  EXPECT_EQ(iso_timestamp({2026, 1, 2, 3, 4, 5, 42}), "2026-01-02T03:04:05.000042");
  EXPECT_EQ(success_rate(0, 0), "N/A");
  EXPECT_EQ(success_rate(3, 1), "33.3%");
  EXPECT_EQ(success_rate(3, 2), "66.7%");
  EXPECT_EQ(success_rate(3, 3), "100.0%");
  EXPECT_EQ(success_rate(2, 1), "50.0%");
  EXPECT_EQ(report_message(true, "#old", "#new >> nth=1"),
            "🔧 Self-Healing activado: Se buscaba el localizador '#old' y la IA creó '#new >> nth=1' para avanzar.");
  EXPECT_EQ(report_message(false, "#old", "#x"),
            "⚠️ Self-Healing intentado pero falló: Se buscaba '#old', la IA sugirió '#x' pero no se encontró el "
            "elemento.");
}

// The catalogue's texts with values, byte for byte (the fixed ones are checked
// through the healing loop); counts and positions are shown from 1.
TEST(HealingLogTexts, CatalogueLinesWithValues) {
  EXPECT_EQ(salesforce_not_unique(3),
            "SELF_HEALING (Salesforce): El selector no es único en Salesforce (3 elementos encontrados). Rechazando.");
  EXPECT_EQ(selector_matches_many("a.b", 4),
            "SELF_HEALING: Selector 'a.b' encontró 4 elementos. Intentando con elementos visibles/interactuables...");
  EXPECT_EQ(using_visible_element(1, 4), "SELF_HEALING: Usando elemento #2 de 4 (primer visible/interactuable)");
  EXPECT_EQ(no_visible_element(5), "SELF_HEALING: Ningún elemento visible de 5. Usando el primero como fallback.");
  EXPECT_EQ(selector_check_failed("#x", "boom"), "SELF_HEALING: Error verificando selector '#x': boom");
  EXPECT_EQ(searching_alternative(3), "   🔍 SELF-HEALING: Buscando selector alternativo (máx 3 intentos con IA)...");
  EXPECT_EQ(no_valid_selector(2), "\n⚠️ SELF-HEALING: No se encontró selector válido después de 2 intento(s)");
  EXPECT_EQ(failed_attempt_line("#x", "0 elementos"), "     - '#x' → 0 elementos");
  EXPECT_EQ(healed_suggested_line("#y >> nth=1"), "   Selector sugerido por IA:    #y >> nth=1");
  EXPECT_EQ(using_nth_visible(0), "   ℹ️  Múltiples elementos, usando el #1 (visible)");
  EXPECT_EQ(elements_found_none_visible(2), "2 elementos encontrados (ninguno visible/interactuable)");
  EXPECT_EQ(veto_check_failed("KeyError: 'x'"), "comprobación fallida: KeyError: 'x'");
  EXPECT_EQ(no_len_failure("int"), "object of type 'int' has no len()");
  EXPECT_EQ(no_strip_failure("dict"), "'dict' object has no attribute 'strip'");
  EXPECT_EQ(missing_factory_failure("pkg.mod", "make"), "cannot import name 'make' from 'pkg.mod'");
  const std::string long_answer(300, 'a');
  EXPECT_EQ(invalid_selector_answer(long_answer),
            "SELF_HEALING: Selector inválido recibido de IA: " + std::string(200, 'a') + "... (300 caracteres)");
}
