#include "core/common/text.hpp"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <locale.h>

namespace tarvo {
namespace {

locale_t utf8_locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

// Decodes one code point at i and advances i; an invalid byte yields 0xFFFFFFFF
// and advances by one, so callers can pass it through unchanged. Strict as
// Python's decoder: overlong forms, encoded surrogates and values above
// U+10FFFF are invalid (Python would refuse such text as not UTF-8).
char32_t decode(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
  if (extra == 0) { ++i; return c; }
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size()) { ++i; return 0xFFFFFFFF; }
  char32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc >> 6) != 0x2) { ++i; return 0xFFFFFFFF; }
    cp = (cp << 6) | (cc & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFFFFFF;
  }
  i += extra + 1;
  return cp;
}

void encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <typename F>
std::string map_code_points(std::string_view text, F f) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t start = i;
    char32_t cp = decode(text, i);
    if (cp == 0xFFFFFFFF) {  // invalid byte: keep it unchanged
      out.append(text.substr(start, i - start));
      continue;
    }
    encode(f(cp), out);
  }
  return out;
}

// Numbers are read and written with "." as the decimal point whatever locale
// the hosting program selected (a project may call locale.setlocale for its own
// dates or money), as Python's float() and format() do.
class CNumericLocale {
 public:
  CNumericLocale() {
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    previous_ = c ? uselocale(c) : static_cast<locale_t>(0);
  }
  ~CNumericLocale() {
    if (previous_) uselocale(previous_);
  }
  CNumericLocale(const CNumericLocale&) = delete;
  CNumericLocale& operator=(const CNumericLocale&) = delete;

 private:
  locale_t previous_;
};

bool is_space_cp(char32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x1C: case 0x1D:
    case 0x1E: case 0x1F: case 0x20: case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

}  // namespace

std::string to_lower(std::string_view text) {
  locale_t loc = utf8_locale();
  return map_code_points(text, [loc](char32_t cp) -> char32_t {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : cp;
  });
}

std::string to_upper(std::string_view text) {
  locale_t loc = utf8_locale();
  return map_code_points(text, [loc](char32_t cp) -> char32_t {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return loc ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), loc)) : cp;
  });
}

std::string trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  // Advance over leading white space code points.
  while (begin < end) {
    std::size_t i = begin;
    char32_t cp = decode(text, i);
    if (cp == 0xFFFFFFFF || !is_space_cp(cp)) break;
    begin = i;
  }
  // Walk back over trailing white space: find the start of the last code point.
  while (end > begin) {
    std::size_t s = end - 1;
    while (s > begin && (static_cast<unsigned char>(text[s]) >> 6) == 0x2) --s;
    std::size_t i = s;
    char32_t cp = decode(text, i);
    if (cp == 0xFFFFFFFF || i != end || !is_space_cp(cp)) break;
    end = s;
  }
  return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> parts;
  if (sep.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  std::size_t pos = 0;
  while (true) {
    std::size_t next = text.find(sep, pos);
    if (next == std::string_view::npos) {
      parts.emplace_back(text.substr(pos));
      break;
    }
    parts.emplace_back(text.substr(pos, next - pos));
    pos = next + sep.size();
  }
  return parts;
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.append(sep);
    out.append(parts[i]);
  }
  return out;
}

bool contains(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string replace_all(std::string_view text, std::string_view what, std::string_view with) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = text.find(what, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(with);
    pos = hit + what.size();
  }
  out.append(text.substr(pos));
  return out;
}

bool flag_true(std::string_view text) { return to_lower(text) == "true"; }

std::optional<long long> parse_int(std::string_view text) {
  std::string t = trim(text);
  std::string_view v = t;
  if (v.empty()) return std::nullopt;
  bool negative = false;
  if (v.front() == '+' || v.front() == '-') {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (v.empty()) return std::nullopt;
  for (char c : v)
    if (c < '0' || c > '9') return std::nullopt;
  unsigned long long magnitude = 0;
  auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), magnitude);
  if (ec != std::errc() || ptr != v.data() + v.size()) return std::nullopt;
  if (negative) {
    if (magnitude > 9223372036854775808ULL) return std::nullopt;
    return magnitude == 9223372036854775808ULL ? INT64_MIN : -static_cast<long long>(magnitude);
  }
  if (magnitude > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
  return static_cast<long long>(magnitude);
}

std::optional<double> parse_double(std::string_view text) {
  std::string t = trim(text);
  if (t.empty()) return std::nullopt;
  // Python's float() takes decimal and exponent notation, inf and nan; not hex.
  std::string lower = to_lower(t);
  std::string_view body = lower;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) body.remove_prefix(1);
  if (body == "inf" || body == "infinity" || body == "nan") {
    double v = body == "nan" ? NAN : INFINITY;
    return lower.front() == '-' ? -v : v;
  }
  for (char c : body) {
    bool ok = (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == '+' || c == '-';
    if (!ok) return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  CNumericLocale c_numeric;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return std::nullopt;
  return v;
}

std::size_t utf8_length(std::string_view text) {
  std::size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) >> 6) != 0x2) ++n;
  return n;
}

std::string utf8_prefix(std::string_view text, std::size_t n) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) >> 6) != 0x2) {
      if (count == n) return std::string(text.substr(0, i));
      ++count;
    }
  }
  return std::string(text);
}

std::string escape_invalid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t start = i;
    if (decode(text, i) == 0xFFFFFFFF) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[start]));
      out += buf;
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

std::string format_fixed1(double value) {
  char buf[64];
  CNumericLocale c_numeric;
  std::snprintf(buf, sizeof buf, "%.1f", value);  // glibc rounds correctly (half-even on exact ties)
  return buf;
}

std::string format_real(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[64];
  CNumericLocale c_numeric;
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  std::string s = buf;
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

}  // namespace tarvo
