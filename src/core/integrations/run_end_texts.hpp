// Console texts of the run-end dispatch: the framed report blocks and the
// soft-assertion summary.
#pragma once
#include <string>
#include <vector>

namespace tarvo::integrations {

// "\n" + 70 '=' and 70 '=' + "\n": the rules framing a run-end block.
std::string block_opening_rule();
std::string block_closing_rule();

// The three lines announcing a written AI report.
std::vector<std::string> validation_report_block(const std::string& path);
std::vector<std::string> analysis_report_block(const std::string& path);

// The four lines of the soft-assertion summary for a positive count, given as
// its decimal text; the caller decides whether the count is above zero.
std::vector<std::string> soft_assertion_block(const std::string& count_text);
// Same for a C++ count: empty for zero or a negative count.
std::vector<std::string> soft_assertion_block(long long count);

extern const char* const kValidationReportError;  // "⚠️ Error generando reporte de IA: "
extern const char* const kAnalysisReportError;    // "⚠️ Error generando reporte de analisis IA: "

}  // namespace tarvo::integrations
