// What a step is doing, in a few Spanish words, and the browserless-scenario tag.
// Before each step the hook module hands the element locator this description so
// that a failed locator can be explained to the AI model in context.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/lifecycle/messages.hpp"

namespace tarvo::lifecycle {

// One row of the keyword table: the words (matched as substrings of the
// lower-cased step text) and the description returned when one of them occurs.
struct KeywordGroup {
  std::vector<std::string_view> words;
  std::string_view description;
};

// The nine groups in the order they are tried; the first group with a matching
// word wins. Built once, on first use.
const std::vector<KeywordGroup>& keyword_table();

// Start of the description used when no keyword occurs; the step's first
// kFallbackLength code points (as written) and ")" follow it.
inline constexpr std::string_view kFallbackPrefix = "interactuar con el elemento (paso: ";
inline constexpr std::size_t kFallbackLength = 80;

// The action description of a step text (UTF-8). Never empty.
std::string infer_action_from_step(std::string_view step_text);

// The tag that marks a scenario as browserless, compared whole after lower-casing.
inline constexpr std::string_view kNoBrowserTag = "no_browser";

bool is_no_browser_tag(std::string_view tag);
bool has_no_browser_tag(const std::vector<std::string>& tags);

}  // namespace tarvo::lifecycle
