#include "core/integrations/messages.hpp"

namespace tarvo::integrations {

namespace {
const std::string kRule(70, '=');
}

std::string block_opening_rule() { return "\n" + kRule; }
std::string block_closing_rule() { return kRule + "\n"; }

std::vector<std::string> validation_report_block(const std::string& path) {
  return {block_opening_rule(), "🤖 Reporte de Validaciones IA generado: " + path, block_closing_rule()};
}

std::vector<std::string> analysis_report_block(const std::string& path) {
  return {block_opening_rule(), "📊 Reporte de Analisis IA generado: " + path, block_closing_rule()};
}

std::vector<std::string> soft_assertion_block(const std::string& count_text) {
  return {block_opening_rule(), "⚠️  SOFT ASSERTIONS: " + count_text + " escenario(s) fallaron",
          "   (Behave los muestra como 'passed' pero el reporte HTML muestra el estado real)",
          block_closing_rule()};
}

std::vector<std::string> soft_assertion_block(long long count) {
  if (count <= 0) return {};
  return soft_assertion_block(std::to_string(count));
}

std::string validation_report_failed(std::string_view error) {
  return "⚠️ Error generando reporte de IA: " + std::string(error);
}

std::string analysis_report_failed(std::string_view error) {
  return "⚠️ Error generando reporte de analisis IA: " + std::string(error);
}

}  // namespace tarvo::integrations
