// The console texts of the integrations' run-end dispatch: the framed report
// blocks, the soft-assertion summary and the report failures. (The set-up
// texts of each test-management tool are columns of its row in
// integration_texts.) One style: a fixed text is a constant; a text with
// values is a function of them.
#pragma once
#include <string>
#include <string_view>
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

// A failure of writing the AI healing report or the AI analysis report.
std::string validation_report_failed(std::string_view error);
std::string analysis_report_failed(std::string_view error);

}  // namespace tarvo::integrations
