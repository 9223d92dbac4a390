// The browser flag-file reader on arbitrary file contents: it either returns the
// "args" texts or refuses the file with a printable reason; it never crashes,
// whatever the nesting, size or encoding.
#include "core/config/launch.hpp"
#include "fuzz_common.hpp"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  try {
    StringList args = config::flag_file_args(text);
    // JSON strings are valid UTF-8 once parsed, and a NUL byte never gets in.
    for (const auto& arg : args) fuzz::check(fuzz::is_valid_utf8(arg), "accepted flag is valid UTF-8", arg);
    fuzz::check(text.find('\0') == std::string::npos, "a file with a NUL byte is refused", text);
  } catch (const config::FlagFileError& e) {
    fuzz::check(fuzz::is_valid_utf8(e.what()), "refusal reason is valid UTF-8", e.what());
    fuzz::check(std::string_view(e.what()).size() < 4096, "refusal reason stays short", e.what());
  }
  return 0;
}
