// Text helpers shared by the C++ core. All texts are UTF-8 std::string.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// Full Unicode lower/upper-casing of UTF-8 text (code-point mapping through the
// C.UTF-8 locale), so "DEBERÍA" lowers to "debería" as Python's str.lower() does.
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

// Strips white space at both ends, as Python's str.strip() with no argument does
// (ASCII white space plus the Unicode space separators).
std::string trim(std::string_view text);

// Splits at every occurrence of sep; keeps empty parts ("a,,b" -> "a","","b").
std::vector<std::string> split(std::string_view text, std::string_view sep);

std::string join(const std::vector<std::string>& parts, std::string_view sep);

bool contains(std::string_view text, std::string_view needle);
bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);

// Every occurrence of what replaced by with, left to right, as Python's
// str.replace does (what must not be empty).
std::string replace_all(std::string_view text, std::string_view what, std::string_view with);

// An on/off text is on exactly when, lower-cased, it equals "true".
bool flag_true(std::string_view text);

// Strict numeric conversions in Python's int()/float() manner: surrounding white
// space allowed, the whole rest must be the number. nullopt when it is not one.
std::optional<long long> parse_int(std::string_view text);
std::optional<double> parse_double(std::string_view text);

// Number of Unicode code points in UTF-8 text, and the first n code points.
std::size_t utf8_length(std::string_view text);
std::string utf8_prefix(std::string_view text, std::size_t n);

// The text with every byte that is not part of valid UTF-8 written as \xNN, so
// it can go into an error message (which must be valid UTF-8 to reach Python).
std::string escape_invalid_utf8(std::string_view text);

// Python's format(value, ".1f"): one digit after the point, correctly rounded.
std::string format_fixed1(double value);

// Python's repr() of a float for the common cases ("1.0", "0.5", "1e+20").
std::string format_real(double value);

}  // namespace tarvo
