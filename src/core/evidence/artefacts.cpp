#include "core/evidence/artefacts.hpp"

#include <cctype>
#include <cstdint>

#include "core/common/text.hpp"

namespace tarvo::evidence {

namespace {

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i.
// Invalid bytes give U+FFFD and advance by one.
char32_t next_code_point(std::string_view text, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = byte(i);
  std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  i += len;
  return cp;
}

// The unaccented ASCII letter of a Latin-1 or Latin Extended-A letter, or 0.
char unaccented(char32_t cp) {
  static constexpr std::string_view latin1 =  // U+00C0 .. U+00FF
      "AAAAAAACEEEEIIIIDNOOOOO_OUUUUYTs"
      "aaaaaaaceeeeiiiidnooooo_ouuuuyty";
  if (cp >= 0xC0 && cp <= 0xFF) {
    char c = latin1[cp - 0xC0];
    return c == '_' ? 0 : c;
  }
  static constexpr std::string_view ext_a =  // U+0100 .. U+017F, base letters
      "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlLlLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
  if (cp >= 0x100 && cp <= 0x17F) return ext_a[cp - 0x100];
  return 0;
}

bool is_safe_ascii(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool is_edge_char(char c) { return c == '.' || c == '_' || c == '-'; }

void trim_edges(std::string& s) {
  std::size_t b = 0;
  while (b < s.size() && is_edge_char(s[b])) ++b;
  std::size_t e = s.size();
  while (e > b && is_edge_char(s[e - 1])) --e;
  s = s.substr(b, e - b);
}

// "...-retry12" / "...-page3" -> "..._retry12" / "..._page3".
void neutralise_suffix(std::string& s) {
  for (std::string_view word : {"-retry", "-page"}) {
    std::size_t digits = 0;
    while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[s.size() - 1 - digits]))) ++digits;
    if (digits == 0 || s.size() < digits + word.size()) continue;
    std::size_t at = s.size() - digits - word.size();
    if (std::string_view(s).substr(at, word.size()) == word) s[at] = '_';
  }
}

}  // namespace

std::string safe_name(std::string_view text, std::size_t max_bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = next_code_point(text, i);
    char c = 0;
    if (cp < 0x80 && is_safe_ascii(static_cast<char>(cp)))
      c = static_cast<char>(cp);
    else if (char base = unaccented(cp))
      c = base;
    else
      c = '_';
    if (c == '_' && !out.empty() && out.back() == '_') continue;
    out.push_back(c);
  }
  trim_edges(out);
  if (max_bytes == 0) max_bytes = 1;
  if (out.size() > max_bytes) {
    out.resize(max_bytes);
    trim_edges(out);
  }
  neutralise_suffix(out);
  if (out.empty()) out = "unnamed";
  return out;
}

std::string unique_name(const std::string& stem, const std::function<bool(const std::string&)>& taken) {
  if (!taken(stem)) return stem;
  for (long long n = 2;; ++n) {
    std::string candidate = stem + "-" + std::to_string(n);
    if (!taken(candidate)) return candidate;
  }
}

std::string artefact_path(std::string_view feature_dir, std::string_view stem, long long retry, long long page,
                          std::string_view ext) {
  std::string path(feature_dir);
  path += '/';
  path += stem;
  if (retry > 0) path += "-retry" + std::to_string(retry);
  if (page > 1) path += "-page" + std::to_string(page);
  path += '.';
  path += ext;
  return path;
}

std::optional<ArtefactMode> parse_artefact_mode(std::string_view text, ArtefactMode fallback) {
  std::string t = to_lower(trim(text));
  if (t.empty()) return fallback;
  if (t == "off") return ArtefactMode::Off;
  if (t == "on") return ArtefactMode::On;
  if (t == "retain-on-failure") return ArtefactMode::RetainOnFailure;
  return std::nullopt;
}

std::string_view mode_name(ArtefactMode mode) {
  switch (mode) {
    case ArtefactMode::Off: return "off";
    case ArtefactMode::On: return "on";
    case ArtefactMode::RetainOnFailure: return "retain-on-failure";
  }
  return "off";
}

bool keep_artefact(ArtefactMode mode, bool failed) {
  return mode == ArtefactMode::On || (mode == ArtefactMode::RetainOnFailure && failed);
}

std::string evidence_failed(std::string_view error) { return "⚠️ Evidencias no guardadas: " + std::string(error); }

}  // namespace tarvo::evidence
