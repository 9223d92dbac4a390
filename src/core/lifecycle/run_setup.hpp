// Decisions and texts of the run-start set-up of the runner context that need
// no Python: the AI report switches and the test-data warning.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::lifecycle {

inline constexpr std::string_view kGenerateAiReportVar = "GENERATE_AI_REPORT";
inline constexpr std::string_view kGenerateAiAnalysisReportVar = "GENERATE_AI_ANALYSIS_REPORT";

// The AI validation report is on unless the variable says otherwise (default
// "true"); the comparison is with "true" after lower-casing, no trimming.
bool ai_report_enabled(const std::optional<std::string>& value);

// The AI analysis report is off unless the variable is "true" (any case).
bool ai_analysis_report_enabled(const std::optional<std::string>& value);

// Warning logged when the test data cannot be loaded.
std::string test_data_failed(std::string_view error);

}  // namespace tarvo::lifecycle
