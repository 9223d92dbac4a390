#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/common/text.hpp"
#include "core/healing/healing_text.hpp"

namespace tarvo::healing {

bool url_is_salesforce(std::string_view url) {
  std::string lowered = to_lower(url);
  return contains(lowered, kSalesforceDomain) || contains(lowered, kLightningDomain);
}

namespace {

// Answers that are messages rather than selectors.
constexpr std::string_view kInvalidPatterns[] = {"http",  "www.",  "no se encontr", "no_match",
                                                 "no match", "error", "sorry"};

// Characters a CSS selector may use; \w in its Unicode meaning. White space is
// spelled out as the set Python's str.isspace() and trim() use (PCRE2's \s
// leaves out the separators U+001C..U+001F and takes in U+180E).
constexpr const char* kSelectorPattern =
    R"(^[a-zA-Z#.\[\]@\-_:="\'\t\n\x0b\f\r\x1c-\x1f \x{85}\x{a0}\x{1680}\x{2000}-\x{200a}\x{2028}\x{2029})"
    R"(\x{202f}\x{205f}\x{3000}\w\(\)>~\+\*\^$|,]+$)";

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

const pcre2_code* selector_regex() {
  static const std::unique_ptr<pcre2_code, CodeDeleter> code = [] {
    int err = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* c = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kSelectorPattern), PCRE2_ZERO_TERMINATED,
                                  PCRE2_UTF | PCRE2_UCP, &err, &offset, nullptr);
    return std::unique_ptr<pcre2_code, CodeDeleter>(c);
  }();
  return code.get();
}

}  // namespace

bool is_valid_selector(std::string_view selector) {
  if (selector.empty()) return false;
  // Byte length bounds the character count from both sides (1..4 bytes each),
  // so a huge answer is refused without counting it.
  if (selector.size() > 4 * kMaxSelectorLength) return false;
  const std::size_t length = utf8_length(selector);
  if (length < 2 || length > kMaxSelectorLength) return false;
  if (starts_with(selector, "/")) return true;  // XPath, including "//"
  std::string lowered = to_lower(selector);
  for (auto pattern : kInvalidPatterns)
    if (contains(lowered, pattern)) return false;
  const pcre2_code* re = selector_regex();
  if (!re) return false;
  std::unique_ptr<pcre2_match_data, MatchDeleter> md(pcre2_match_data_create_from_pattern(re, nullptr));
  int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(selector.data()), selector.size(), 0, 0,
                       md.get(), nullptr);
  return rc >= 0;
}

std::string clean_ai_answer(std::string_view reply) {
  std::string text = trim(reply);
  text = trim(replace_all(replace_all(text, "```", ""), "`", ""));
  std::size_t nl = text.find('\n');
  if (nl != std::string::npos) text = trim(std::string_view(text).substr(0, nl));
  return text;
}

std::string truncate_html(const std::string& html, long long max_length) {
  long long length = static_cast<long long>(utf8_length(html));
  if (length <= max_length) return html;
  // A negative limit counts from the end, as a slice [:n] does.
  long long keep = max_length >= 0 ? max_length : std::max(0LL, length + max_length);
  std::string cut = utf8_prefix(html, static_cast<std::size_t>(keep));
  cut.append(kTruncationMarker);
  return cut;
}

namespace {
constexpr const char* kIntro =
    "Eres un experto en automatización de pruebas con Playwright. Un selector ha fallado y necesito que analices el HTML actual de la página para encontrar el selector correcto.\n\n";
constexpr const char* kContextHeading =
    "\n\n## CONTEXTO DE LA PRUEBA\n\n- **Feature:** ";
constexpr const char* kScenarioField =
    "\n- **Escenario:** ";
constexpr const char* kStepField =
    "\n- **Paso actual:** ";
constexpr const char* kActionField =
    "\n- **Acción deseada:** ";
constexpr const char* kElementField =
    "\n- **Nombre del elemento en el POM:** ";
constexpr const char* kUrlField =
    "\n- **URL actual:** ";
constexpr const char* kTitleField =
    "\n- **Título de la página:** ";
constexpr const char* kSalesforceField =
    "\n- **¿Es Salesforce?**: ";
constexpr const char* kFailedHeading =
    "\n\n## SELECTOR QUE FALLÓ\n\n```\n";
constexpr const char* kCriticalRules =
    "\n```\n\n## INSTRUCCIONES CRÍTICAS\n\n1. Analiza el HTML de la página que te proporciono abajo.\n2. Basándote en el CONTEXTO DE LA PRUEBA (nombre del elemento, acción deseada, paso del test), identifica cuál es el elemento correcto en el HTML.\n3. Genera UN SOLO selector CSS o XPath que localice ese elemento de forma precisa y ÚNICA.\n4. ⚠️ **CRÍTICO**: El selector DEBE encontrar exactamente 1 elemento (no cero, no múltiples).\n5. El selector debe ser lo más específico posible para evitar falsos positivos y ambigüedad.\n6. Prioriza selectores por: id > data-testid > aria-label > XPath específico > clase única.\n7. NO inventes elementos. Si no encuentras un elemento que corresponda al contexto, responde SOLO con: NO_MATCH\n\n## REGLAS CRÍTICAS\n\n- ⚠️ El selector DEBE corresponder exactamente al objetivo de la prueba. No selecciones elementos ambiguos.\n- ⚠️ Si el selector puede encontrar múltiples elementos, es INVÁLIDO. Debe ser único.\n- Considera el nombre del elemento \"";
constexpr const char* kActionHint =
    "\" como pista de qué se busca.\n- La acción \"";
constexpr const char* kActionKinds =
    "\" te indica qué tipo de elemento es:\n  - \"click\" → botón, link, elemento interactuable\n  - \"fill\" → input, textarea, campo de entrada\n  - \"select\" → select, dropdown, elemento con opciones\n- Si hay ambigüedad entre varios elementos, elige el que mejor corresponda al contexto del escenario.\n- En Salesforce, prioriza selectores con atributos de prueba (data-testid, aria-label) sobre clases dinámicas.\n\n## HTML ACTUAL DE LA PÁGINA\n\n```html\n";
constexpr const char* kAnswerRules =
    "\n```\n\n## RESPUESTA\n\nResponde ÚNICAMENTE con el selector (CSS o XPath), sin explicaciones, sin comillas, sin formato markdown. Solo el selector en una línea.\nSi es XPath, debe empezar con // o /\nSi es CSS, debe ser un selector CSS válido.\nSi es ambiguo o no encuentras exactamente 1 elemento, responde: NO_MATCH";
constexpr const char* kSalesforceSection =
    "\n## INSTRUCCIONES ESPECIALES PARA SALESFORCE\n\nSalesforce usa Lightning Web Components con características especiales:\n1. **Shadow DOM**: Los elementos pueden estar dentro de web components con shadow DOM\n   - Usa atributos data-testid, aria-label cuando estén disponibles\n   - Busca elementos con namespaces force:* o atributos slds-*\n   \n2. **Selectores recomendados en Salesforce** (en orden de preferencia):\n   - data-testid=\"...\" (más confiable)\n   - aria-label=\"...\" (visible para usuarios y IA)\n   - role=\"...\" con aria-label (combinados)\n   - Clases slds-* combinadas con role (NO solo clases dinámicas)\n   - XPath específico si es necesario\n   \n3. **Selectores a EVITAR en Salesforce**:\n   - ❌ Clases dinámicas como \"slds-button__text\" solas\n   - ❌ IDs generados automáticamente (force-id-2847, etc.)\n   - ❌ Selectores vagos que pueden match múltiples componentes\n   - ❌ XPath muy genérico que sea ambiguo\n   \n4. **CRÍTICO - Unicidad del selector**:\n   - El selector DEBE encontrar exactamente 1 elemento, no más\n   - Si hay varios botones similares, el selector debe distinguir el correcto\n   - Usa aria-label o data-testid para resolver ambigüedad\n";
constexpr const char* kHtmlHeading = "## HTML ACTUAL DE LA PÁGINA";
}  // namespace

std::string build_prompt(const PromptContext& c) {
  bool salesforce = url_is_salesforce(c.page_url);
  std::string p;
  p.reserve(4000 + c.html_content.size());
  p += kIntro;
  p += salesforce ? kSalesforceSection : "";
  p += kContextHeading;
  p += c.feature_name;
  p += kScenarioField;
  p += c.scenario_name;
  p += kStepField;
  p += c.step_text;
  p += kActionField;
  p += c.action_context;
  p += kElementField;
  p += c.element_name;
  p += kUrlField;
  p += c.page_url;
  p += kTitleField;
  p += c.page_title;
  p += kSalesforceField;
  p += salesforce ? "Sí, aplicar reglas especiales" : "No";
  p += kFailedHeading;
  p += c.failed_selector;
  p += kCriticalRules;
  p += c.element_name;
  p += kActionHint;
  p += c.action_context;
  p += kActionKinds;
  p += c.html_content;
  p += kAnswerRules;
  return p;
}

std::string build_retry_prompt(const PromptContext& c, const std::vector<FailedAttempt>& failed) {
  std::string section =
      "\n## ⚠️ SELECTORES YA INTENTADOS (TODOS FALLARON)\n\n"
      "Los siguientes selectores fueron sugeridos previamente pero NO funcionaron:\n\n";
  for (std::size_t i = 0; i < failed.size(); ++i)
    section += "  " + std::to_string(i + 1) + ". `" + failed[i].selector + "` → ❌ " + failed[i].reason + "\n";
  section +=
      "\n**IMPORTANTE:** NO repitas ninguno de estos selectores. Necesito una alternativa DIFERENTE.\n"
      "Analiza el HTML más cuidadosamente. Tal vez el elemento:\n"
      "- Tiene un ID o clase diferente al esperado\n"
      "- Está dentro de un iframe o shadow DOM\n"
      "- Usa un atributo name, placeholder, aria-label u otro identificador\n"
      "- Requiere un XPath más específico\n";
  std::string base = build_prompt(c);
  const std::string heading = kHtmlHeading;
  if (base.find(heading) == std::string::npos) return base + "\n" + section;
  // Every occurrence gets the section in front, like str.replace.
  return replace_all(base, heading, section + "\n" + heading);
}

}  // namespace tarvo::healing
