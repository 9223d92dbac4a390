#include "core/lifecycle/action_inference.hpp"

#include <algorithm>

#include "core/common/text.hpp"

namespace tarvo::lifecycle {

const std::vector<KeywordGroup>& keyword_table() {
  // Spanish first-person verbs and English verbs side by side: step texts are
  // written in either language. Matching is by substring, so "presion" covers
  // "presiono"/"presionar" and "paso el mouse" is matched as a whole phrase.
  static const std::vector<KeywordGroup> table = {
      {{"click", "clic", "presion", "pulso", "tap"}, "hacer click en el elemento"},
      {{"relleno", "escribo", "ingreso", "fill", "type", "input"}, "escribir texto en el campo"},
      {{"verifico", "valido", "compruebo", "assert", "should", "debería"},
       "verificar/validar el elemento"},
      {{"selecciono", "select", "elijo", "choose"}, "seleccionar una opción"},
      {{"espero", "wait", "aguardo"}, "esperar a que el elemento esté disponible"},
      {{"obtengo", "extraigo", "get", "extract", "leo"}, "obtener/extraer información del elemento"},
      {{"scroll", "desplazo"}, "hacer scroll hacia el elemento"},
      {{"hover", "paso el mouse", "muevo"}, "pasar el mouse sobre el elemento"},
      {{"drag", "arrastro"}, "arrastrar el elemento"},
  };
  return table;
}

std::string infer_action_from_step(std::string_view step_text) {
  const std::string lowered = to_lower(step_text);
  for (const KeywordGroup& group : keyword_table()) {
    for (std::string_view word : group.words) {
      if (lowered.find(word) != std::string::npos) return std::string(group.description);
    }
  }
  std::string fallback(kFallbackPrefix);
  fallback += utf8_prefix(step_text, kFallbackLength);
  fallback += ")";
  return fallback;
}

bool is_no_browser_tag(std::string_view tag) { return to_lower(tag) == kNoBrowserTag; }

bool has_no_browser_tag(const std::vector<std::string>& tags) {
  return std::any_of(tags.begin(), tags.end(), [](const std::string& t) { return is_no_browser_tag(t); });
}

}  // namespace tarvo::lifecycle
