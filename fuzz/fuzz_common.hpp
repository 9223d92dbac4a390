// Helpers shared by the fuzz targets: input as text, and property checks that
// abort (a finding for libFuzzer) with a readable reason.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/text.hpp"

namespace tarvo::fuzz {

inline std::string text_of(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The input cut at each NUL byte: several independent texts from one input
// (environment values never hold a NUL, so it is a free separator).
inline std::vector<std::string> parts_of(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      parts.emplace_back();
    else
      parts.back().push_back(static_cast<char>(data[i]));
  }
  return parts;
}

// Strict UTF-8 as Python's decoder takes it (no overlong forms, no encoded
// surrogates, nothing above U+10FFFF), written apart from the core's own
// decoder so that the two check each other.
inline bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n;
    char32_t cp, min;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; min = 0x80; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; min = 0x800; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; min = 0x10000; }
    else return false;
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

[[noreturn]] inline void fail(const char* property, std::string_view detail) {
  std::fprintf(stderr, "property violated: %s\n  %.*s\n", property, static_cast<int>(detail.size() > 400 ? 400 : detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool ok, const char* property, std::string_view detail = {}) {
  if (!ok) fail(property, detail);
}

}  // namespace tarvo::fuzz
