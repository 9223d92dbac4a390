#include "core/lifecycle/retry_steps.hpp"

#include "core/common/text.hpp"

namespace tarvo::lifecycle {

namespace {

// A table cell as the runner's parser reads it back: "|" escaped, line breaks
// (which a feature file cannot hold inside a cell) written as blanks.
std::string cell(const std::string& value) {
  std::string out = replace_all(value, "|", "\\|");
  out = replace_all(out, "\r\n", " ");
  out = replace_all(out, "\n", " ");
  return replace_all(out, "\r", " ");
}

void add_row(std::string& text, const std::vector<std::string>& cells) {
  text += "  |";
  for (const auto& c : cells) text += " " + cell(c) + " |";
  text += '\n';
}

// The doc string's delimiter: """ unless a line of the text starts with it
// (which would end the text early), then '''.
std::string delimiter_for(const std::string& text) {
  for (const auto& line : split(text, "\n"))
    if (starts_with(trim(line), "\"\"\"")) return "'''";
  return "\"\"\"";
}

}  // namespace

std::string build_step_text(const StepLine& s) {
  std::string text = trim(s.keyword);
  text += ' ';
  text += s.name;
  text += '\n';
  if (s.table) {
    add_row(text, s.table->headings);
    for (const auto& row : s.table->rows) add_row(text, row);
  }
  if (s.text) {
    // Every line is indented as much as the delimiters, which the parser strips.
    std::string delim = delimiter_for(*s.text);
    text += "  " + delim + "\n";
    for (const auto& line : split(*s.text, "\n")) text += line.empty() ? "\n" : "  " + line + "\n";
    text += "  " + delim + "\n";
  }
  return text;
}

void resolve_continuation_keywords(std::vector<StepLine>& steps) {
  std::string opening;
  std::string previous_type;
  for (auto& s : steps) {
    if (s.step_type.empty()) {
      previous_type.clear();
      opening.clear();
      continue;
    }
    if (s.step_type != previous_type || opening.empty()) {
      opening = s.keyword;
    } else {
      s.keyword = opening;
    }
    previous_type = s.step_type;
  }
}

std::string build_steps_text(const std::vector<StepLine>& steps) {
  std::string text;
  for (const auto& s : steps) text += build_step_text(s);
  return text;
}

bool steps_text_blank(const std::string& text) { return trim(text).empty(); }

}  // namespace tarvo::lifecycle
