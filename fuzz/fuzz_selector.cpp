// The textual selector check on arbitrary texts: accepted texts are XPath or
// made of selector characters, within the length cap, and free of the
// message patterns that mark prose.
#include "core/healing/healing_text.hpp"
#include "fuzz_common.hpp"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string selector = fuzz::text_of(data, size);
  const bool valid = healing::is_valid_selector(selector);
  if (!valid) return 0;
  const std::size_t length = utf8_length(selector);
  fuzz::check(length >= 2 && length <= healing::kMaxSelectorLength, "accepted length within [2, cap]", selector);
  if (starts_with(selector, "/")) return 0;  // XPath: no further rule
  fuzz::check(fuzz::is_valid_utf8(selector), "accepted CSS selector is valid UTF-8", selector);
  const std::string lowered = to_lower(selector);
  for (std::string_view pattern : {"http", "www.", "no se encontr", "no_match", "no match", "error", "sorry"})
    fuzz::check(!contains(lowered, pattern), "accepted selector holds no message pattern", selector);
  for (char c : std::string_view("/!%&?{};<`\\"))
    fuzz::check(selector.find(c) == std::string::npos, "accepted CSS selector holds no foreign character", selector);
  return 0;
}
