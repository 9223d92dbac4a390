// Step action inference on arbitrary step texts: always one of the table's
// descriptions or the fallback with at most 80 characters of the step, and
// valid UTF-8 whenever the step text is.
#include "fuzz_common.hpp"
#include "core/lifecycle/action_inference.hpp"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string step = fuzz::text_of(data, size);
  const std::string action = lifecycle::infer_action_from_step(step);
  fuzz::check(!action.empty(), "description is never empty");
  bool from_table = false;
  for (const auto& group : lifecycle::keyword_table()) from_table = from_table || action == group.description;
  if (!from_table) {
    fuzz::check(starts_with(action, lifecycle::kFallbackPrefix) && ends_with(action, ")"), "fallback shape", action);
    std::string_view quoted(action);
    quoted = quoted.substr(lifecycle::kFallbackPrefix.size(), quoted.size() - lifecycle::kFallbackPrefix.size() - 1);
    fuzz::check(starts_with(step, quoted), "fallback quotes the start of the step", action);
    fuzz::check(utf8_length(quoted) <= lifecycle::kFallbackLength, "fallback quotes at most 80 characters", action);
  }
  if (fuzz::is_valid_utf8(step)) fuzz::check(fuzz::is_valid_utf8(action), "valid UTF-8 in, valid UTF-8 out", action);
  (void)lifecycle::is_no_browser_tag(step);
  return 0;
}
