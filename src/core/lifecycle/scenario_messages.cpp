#include "core/lifecycle/scenario_messages.hpp"

#include "core/common/text.hpp"

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

}  // namespace

bool is_failed_status(std::string_view status_name) {
  return status_name == "failed" || status_name == "error" || status_name == "hook_error";
}

bool has_mobile_tag(const std::vector<std::string>& tags) {
  for (const auto& tag : tags) {
    if (to_lower(tag) == "mobile") return true;
  }
  return false;
}

bool should_switch_to_first_tab(std::size_t page_count) { return page_count > 1; }

std::size_t extra_window_count(std::size_t page_count) { return page_count > 1 ? page_count - 1 : 0; }

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

}  // namespace tarvo::lifecycle
