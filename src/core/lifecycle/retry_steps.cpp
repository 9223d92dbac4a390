#include "core/lifecycle/retry_steps.hpp"

#include "core/common/text.hpp"

namespace tarvo::lifecycle {

std::string build_steps_text(const std::vector<StepLine>& steps) {
  std::string text;
  for (const auto& s : steps) {
    text += trim(s.keyword);
    text += ' ';
    text += s.name;
    text += '\n';
  }
  return text;
}

bool steps_text_blank(const std::string& text) { return trim(text).empty(); }

}  // namespace tarvo::lifecycle
