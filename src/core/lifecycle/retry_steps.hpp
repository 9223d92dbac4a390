// The text a retried scenario hands to the runner's execute_steps.
#pragma once
#include <string>
#include <vector>

namespace tarvo::lifecycle {

struct StepLine {
  std::string keyword;  // "Given ", "And", ... as the runner stores it
  std::string name;     // the step text after the keyword
};

// One line per step: the keyword without surrounding blanks, one space, the
// name, a line feed. Tables and multi-line texts are not carried over.
std::string build_steps_text(const std::vector<StepLine>& steps);

// True when the text has nothing to run (empty or only white space).
bool steps_text_blank(const std::string& text);

}  // namespace tarvo::lifecycle
