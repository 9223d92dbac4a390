// Which texts are secret, and how they are masked before they reach a model
// prompt, a log line, a report or a results file.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::secrets {

// What a masked value is replaced with.
inline constexpr std::string_view kMask = "******";

// Shortest value that is masked: shorter values ("1", "on", "abc") would blank
// out ordinary words and numbers all over a report, and are no real secrets.
inline constexpr std::size_t kMinSecretLength = 4;

// A setting whose name says its value is secret: it contains PASSWORD,
// API_KEY, SECRET or TOKEN (case-insensitive). TOKENS (as in MAX_TOKENS) is a
// count, not a credential, and does not count.
bool is_secret_name(std::string_view name);

// Whether a value is worth masking: at least kMinSecretLength bytes after
// trimming blanks, and not a plain switch word (true, false, yes, no, none).
bool is_maskable_value(std::string_view value);

// Every occurrence of every maskable value replaced by kMask, longest value
// first, in one left-to-right pass (a mask is never masked again).
std::string mask_values(std::string_view text, const std::vector<std::string>& values);

// The password of every "scheme://user:password@" in the text replaced by kMask.
std::string mask_url_credentials(std::string_view text);

// The value attribute of every <input type="password"> tag replaced by kMask
// (quoted or bare attribute values, any capitalisation).
std::string mask_password_inputs(std::string_view html);

// All three, in the order above.
std::string mask_all(std::string_view text, const std::vector<std::string>& values);

}  // namespace tarvo::secrets
