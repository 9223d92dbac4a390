// The text a retried scenario hands to the runner's execute_steps.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tarvo::lifecycle {

struct StepTable {
  std::vector<std::string> headings;
  std::vector<std::vector<std::string>> rows;
};

struct StepLine {
  std::string keyword;                // "Given ", "And", ... as the runner stores it
  std::string name;                   // the step text after the keyword
  std::optional<StepTable> table;     // the step's data table, when it has one
  std::optional<std::string> text;    // the step's doc string, when it has one
  std::string step_type;              // "given", "when", "then" (behave's step_type); may be empty
};

// Each step is handed to the runner on its own, and a lone "And"/"But" step does
// not parse: a step of the same type as the one before it takes the keyword that
// opened that run of steps ("Given a / And b" -> "Given a", "Given b"), in the
// feature's own language. Steps without a type keep their keyword.
void resolve_continuation_keywords(std::vector<StepLine>& steps);

// One step in Gherkin: the keyword without surrounding blanks, one space, the
// name and a line feed, then its table (cells with "|" written "\|") and its
// doc string (between """ or, when a line of it starts with """, between ''').
// The runner parses this back into the same step, table and text.
std::string build_step_text(const StepLine& step);

// Every step's text, in order.
std::string build_steps_text(const std::vector<StepLine>& steps);

// True when the text has nothing to run (empty or only white space).
bool steps_text_blank(const std::string& text);

}  // namespace tarvo::lifecycle
