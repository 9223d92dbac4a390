#include "core/lifecycle/run_setup.hpp"

#include "core/config/settings.hpp"

namespace tarvo::lifecycle {

namespace {
bool flag_setting(std::string_view variable, const std::optional<std::string>& value) {
  return std::get<bool>(config::convert_setting(*config::find_setting(std::string(variable)), value));
}
}  // namespace

bool ai_report_enabled(const std::optional<std::string>& value) { return flag_setting(kGenerateAiReportVar, value); }

bool ai_analysis_report_enabled(const std::optional<std::string>& value) {
  return flag_setting(kGenerateAiAnalysisReportVar, value);
}

std::string test_data_failed(std::string_view error) {
  std::string out = "Error configurando datos de prueba: ";
  out.append(error);
  return out;
}

}  // namespace tarvo::lifecycle
