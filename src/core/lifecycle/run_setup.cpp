#include "core/lifecycle/run_setup.hpp"

#include "core/common/text.hpp"

namespace tarvo::lifecycle {

bool ai_report_enabled(const std::optional<std::string>& value) { return flag_true(value.value_or("true")); }

bool ai_analysis_report_enabled(const std::optional<std::string>& value) {
  return flag_true(value.value_or("false"));
}

std::string test_data_failed(std::string_view error) {
  std::string out = "Error configurando datos de prueba: ";
  out.append(error);
  return out;
}

}  // namespace tarvo::lifecycle
