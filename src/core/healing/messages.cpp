#include "core/healing/messages.hpp"

#include <initializer_list>

#include "core/common/text.hpp"

namespace tarvo::healing {

namespace {

std::string cat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (auto p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (auto p : parts) out.append(p);
  return out;
}

std::string num(long long n) { return std::to_string(n); }

}  // namespace

std::string provider_init_failed(std::string_view error) {
  return cat({"SELF_HEALING: No se pudo inicializar proveedor de IA: ", error});
}

std::string html_capture_failed(std::string_view error) {
  return cat({"SELF_HEALING: Error capturando HTML: ", error});
}

std::string provider_call_failed(std::string_view error) {
  return cat({"SELF_HEALING: Error llamando a proveedor de IA: ", error});
}

std::string invalid_selector_answer(std::string_view answer) {
  return cat({"SELF_HEALING: Selector inválido recibido de IA: ", quoted_answer(answer)});
}

std::string quoted_answer(std::string_view answer) {
  constexpr std::size_t kShown = 200;
  const std::size_t length = utf8_length(answer);
  if (length <= kShown) return std::string(answer);
  return cat({utf8_prefix(answer, kShown), "... (", std::to_string(length), " caracteres)"});
}

std::string salesforce_count_failed(std::string_view error) {
  return cat({"SELF_HEALING (Salesforce): Error validando selector: ", error});
}

std::string salesforce_not_unique(long long count) {
  return cat({"SELF_HEALING (Salesforce): El selector no es único en Salesforce (", num(count),
              " elementos encontrados). Rechazando."});
}

std::string interactable_check_failed(std::string_view error) {
  return cat({"SELF_HEALING: No se pudo validar interactuabilidad: ", error});
}

std::string visibility_check_failed(std::string_view error) {
  return cat({"SELF_HEALING: No se pudo verificar visibilidad: ", error});
}

std::string selector_not_visible(std::string_view selector) {
  return cat({"SELF_HEALING: Selector '", selector, "' encontró elemento pero NO es visible."});
}

std::string selector_matches_none(std::string_view selector) {
  return cat({"SELF_HEALING: Selector '", selector, "' encontró 0 elementos. Rechazando."});
}

std::string selector_matches_many(std::string_view selector, long long count) {
  return cat({"SELF_HEALING: Selector '", selector, "' encontró ", num(count),
              " elementos. Intentando con elementos visibles/interactuables..."});
}

std::string using_visible_element(long long index, long long count) {
  return cat({"SELF_HEALING: Usando elemento #", num(index + 1), " de ", num(count), " (primer visible/interactuable)"});
}

std::string no_visible_element(long long count) {
  return cat({"SELF_HEALING: Ningún elemento visible de ", num(count), ". Usando el primero como fallback."});
}

std::string selector_check_failed(std::string_view selector, std::string_view error) {
  return cat({"SELF_HEALING: Error verificando selector '", selector, "': ", error});
}

std::string using_cached_selector(std::string_view selector) {
  return cat({"SELF_HEALING: Usando selector cacheado: ", selector});
}

std::string searching_alternative(long long max_attempts) {
  return cat({"   🔍 SELF-HEALING: Buscando selector alternativo (máx ", num(max_attempts), " intentos con IA)..."});
}

std::string ai_call_line(long long attempt) { return cat({"   🤖 Llamada IA #", num(attempt), "..."}); }

std::string suggestion_line(std::string_view selector) { return cat({"   💡 IA sugiere: ", selector}); }

std::string rejected_line(std::string_view reason) { return cat({"   ❌ Rechazado: ", reason}); }

std::string no_valid_selector(long long attempts) {
  return cat({"\n⚠️ SELF-HEALING: No se encontró selector válido después de ", num(attempts), " intento(s)"});
}

std::string original_selector_line(std::string_view selector) { return cat({"   Original: ", selector}); }

std::string failed_attempt_line(std::string_view selector, std::string_view reason) {
  return cat({"     - '", selector, "' → ", reason});
}

std::string healed_original_line(std::string_view selector) {
  return cat({"   Selector original (fallido): ", selector});
}

std::string healed_suggested_line(std::string_view selector) {
  return cat({"   Selector sugerido por IA:    ", selector});
}

std::string healed_element_line(std::string_view element_name) { return cat({"   Elemento: ", element_name}); }

std::string healed_action_line(std::string_view action) { return cat({"   Acción: ", action}); }

std::string resolved_in_attempt(long long attempt) {
  return cat({"   🔄 Resuelto en intento #", num(attempt), " de IA"});
}

std::string using_nth_visible(long long index) {
  return cat({"   ℹ️  Múltiples elementos, usando el #", num(index + 1), " (visible)"});
}

std::string elements_found_none_visible(long long count) {
  return cat({num(count), " elementos encontrados (ninguno visible/interactuable)"});
}

std::string veto_check_failed(std::string_view error) { return cat({"comprobación fallida: ", error}); }

std::string no_len_failure(std::string_view type_name) {
  return cat({"object of type '", type_name, "' has no len()"});
}

std::string no_strip_failure(std::string_view type_name) {
  return cat({"'", type_name, "' object has no attribute 'strip'"});
}

std::string missing_factory_failure(std::string_view module, std::string_view name) {
  return cat({"cannot import name '", name, "' from '", module, "'"});
}

std::string success_rate(long long total, long long successful) {
  if (total == 0) return "N/A";
  double rate = static_cast<double>(successful) / static_cast<double>(total) * 100.0;
  return format_fixed1(rate) + "%";
}

std::string report_message(bool success, std::string_view original, std::string_view suggested) {
  if (success)
    return cat({"🔧 Self-Healing activado: Se buscaba el localizador '", original, "' y la IA creó '", suggested,
                "' para avanzar."});
  return cat({"⚠️ Self-Healing intentado pero falló: Se buscaba '", original, "', la IA sugirió '", suggested,
              "' pero no se encontró el elemento."});
}

}  // namespace tarvo::healing
