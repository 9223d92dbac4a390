#include "core/lifecycle/messages.hpp"

namespace tarvo::lifecycle {

namespace {

std::string cat(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + b.size());
  out.append(a);
  out.append(b);
  return out;
}

std::string cat(std::string_view a, std::string_view b, std::string_view c) {
  std::string out = cat(a, b);
  out.append(c);
  return out;
}

const std::string kRule(60, '=');

}  // namespace

std::string reusing_existing_page(std::string_view url) {
  return cat("♻️ Reutilizando página existente (URL: ", url, ")");
}

std::string reusing_browser_page(std::string_view url) {
  return cat("♻️ Reutilizando página del browser (URL: ", url, ")");
}

std::string page_check_failed(std::string_view error) {
  return cat("No se pudo verificar páginas existentes: ", error);
}

std::string timeouts_configured(std::string_view timeout, std::string_view navigation_timeout) {
  return cat(cat("Timeout configurado: ", timeout, "ms, navegación: "), navigation_timeout, "ms");
}

std::string tag_setup_failed(std::string_view error) { return cat("Error configurando tags: ", error); }

std::string switched_to_first_tab(std::size_t page_count) {
  return cat("Cambiado al primer tab (total: ", std::to_string(page_count), " tabs abiertos)");
}

std::string first_tab_failed(std::string_view error) { return cat("No se pudo cambiar al primer tab: ", error); }

std::string scenario_starting(std::string_view scenario_name) { return cat("Iniciando escenario: ", scenario_name); }

std::string extra_windows_closed(std::size_t closed) {
  return cat("🧹 Cerradas ", std::to_string(closed), " ventana(s) extra del escenario");
}

std::string extra_windows_failed(std::string_view error) { return cat("Error cerrando ventanas extra: ", error); }

std::string registered_for_retry(std::string_view scenario_name) {
  return cat("📝 Escenario fallido registrado para reintento: ", scenario_name);
}

std::string meridio_before_scenario_failed(std::string_view error) {
  return cat("⚠️ Error en before_scenario Meridio: ", error);
}

std::string jira_after_scenario_failed(std::string_view error) {
  return cat("⚠️ Error en after_scenario Jira/Xray: ", error);
}

std::string meridio_after_scenario_failed(std::string_view error) {
  return cat("⚠️ Error en after_scenario Meridio: ", error);
}

std::string tarvo_after_scenario_failed(std::string_view error) {
  return cat("[TARVO-TM] Error en after_scenario: ", error);
}

std::string jira_before_feature_failed(std::string_view error) {
  return cat("⚠️ Error en before_feature Jira/Xray: ", error);
}

std::string jira_after_feature_failed(std::string_view error) {
  return cat("⚠️ Error en after_feature Jira/Xray: ", error);
}

std::string closing_pages_failed(std::string_view error) {
  return cat("⚠️ Error cerrando páginas en after_feature: ", error);
}

std::string video_processing_failed(std::string_view error) {
  return cat("⚠️ Error procesando videos con intro: ", error);
}

// ---- retry pass ---------------------------------------------------------------

std::string retry_opening_rule() { return "\n" + kRule; }
std::string retry_closing_rule() { return kRule + "\n"; }
std::string retry_rule() { return kRule; }

std::vector<std::string> retry_header(std::size_t failed_count, long long max_retries) {
  return {retry_opening_rule(),
          "🔄 REINTENTOS: " + std::to_string(failed_count) + " escenario(s) fallido(s) detectado(s)",
          "   Máximo reintentos configurados: " + std::to_string(max_retries), retry_rule()};
}

std::vector<std::string> attempt_header(long long attempt, long long max_retries, std::size_t remaining) {
  return {"\n🔄 Reintento " + std::to_string(attempt) + "/" + std::to_string(max_retries) + "...",
          "   Escenarios a reintentar: " + std::to_string(remaining)};
}

std::string retrying_line(std::string_view name) { return cat("\n   ▶ Reintentando: ", name); }
std::string passed_line(long long attempt) { return "   ✅ Pasó en reintento " + std::to_string(attempt); }
std::string retry_error_line(std::string_view error) { return cat("   ⚠️ Error: ", error); }
std::string all_passed_line(long long attempt) {
  return "\n✅ ¡Todos los escenarios pasaron en el reintento " + std::to_string(attempt) + "!";
}

std::vector<std::string> still_failing_summary(const std::vector<std::string>& names, long long max_retries) {
  std::vector<std::string> lines;
  lines.push_back("\n❌ " + std::to_string(names.size()) + " escenario(s) siguen fallando después de " +
                  std::to_string(max_retries) + " reintento(s):");
  for (const auto& n : names) lines.push_back("   - " + n);
  return lines;
}

std::string retry_browser_failed(std::string_view error) {
  return cat("   ⚠️ Error preparando browser para reintento: ", error);
}

std::string page_preparation_failed(std::string_view error) { return cat("      ⚠️ Error preparando página: ", error); }
std::string step_assertion_line(std::string_view error) { return cat("      ASSERT: ", error); }
std::string step_error_line(std::string_view error) { return cat("      ERROR: ", error); }

}  // namespace tarvo::lifecycle
