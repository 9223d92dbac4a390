// Model answers, cleaned and taken through a whole healing on a fake page that
// holds an element for every answer: the cleaning is stable, only answers that
// pass the selector check are used, and no answer makes a giant console line,
// log entry or prompt. The input is up to three answers separated by NUL bytes.
#include "fuzz_common.hpp"
#include "core/healing/messages.hpp"
#include "test_healing_fakes.hpp"

using namespace tarvo;
using namespace tarvo::healing;
using namespace tarvo::healing::testing;

namespace {

void check_cleaning(const std::string& answer) {
  const std::string cleaned = clean_ai_answer(answer);
  fuzz::check(cleaned.find('\n') == std::string::npos, "cleaned answer is one line", cleaned);
  fuzz::check(cleaned.find('`') == std::string::npos, "cleaned answer holds no backtick", cleaned);
  fuzz::check(trim(cleaned) == cleaned, "cleaned answer is trimmed", cleaned);
  fuzz::check(clean_ai_answer(cleaned) == cleaned, "cleaning is stable", cleaned);
  const std::string quoted = quoted_answer(cleaned);
  fuzz::check(utf8_length(quoted) <= 240, "quoted answer stays short", quoted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> answers = fuzz::parts_of(data, size);
  if (answers.size() > 3) answers.resize(3);

  RecordingConsole console;
  RecordingLogger log;
  FakeSlot slot;
  VectorSink sink;
  HealingIo io{console, log, slot, sink, &fixed_clock};
  FakePage page;
  HealingSettings settings;
  settings.enabled = true;
  Locmender manager{settings};
  for (const auto& answer : answers) {
    check_cleaning(answer);
    page.elements[clean_ai_answer(answer)] = {FakeElement{}};
    slot.provider.answers.push_back(answer);
  }

  std::optional<std::string> healed = manager.attempt_heal(
      io, page, {"#old", "login_button", "click", "When I click", "Login", "Access"});

  const std::size_t longest_allowed = 4 * kMaxSelectorLength + 200;
  for (const auto& line : console.lines)
    fuzz::check(line.size() <= 2 * longest_allowed, "console lines stay short", line);
  for (const auto& record : log.records)
    fuzz::check(record.message.size() <= longest_allowed, "log messages stay short", record.message);
  for (const auto& entry : sink.entries)
    fuzz::check(is_valid_selector(entry.suggested_selector), "logged suggestions passed the check",
                entry.suggested_selector);
  for (const auto& prompt : slot.provider.prompts)
    fuzz::check(prompt.size() <= 8000 + 3 * longest_allowed, "prompts stay bounded", prompt);
  if (healed) {
    fuzz::check(is_valid_selector(*healed), "healed selector passed the check", *healed);
    bool from_an_answer = false;
    for (const auto& answer : answers) from_an_answer = from_an_answer || clean_ai_answer(answer) == *healed;
    fuzz::check(from_an_answer, "healed selector is a cleaned answer", *healed);
  }
  return 0;
}
