#include "core/common/secrets.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tarvo::secrets {

namespace {

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string upper_copy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upper(c);
  return out;
}

bool starts_with_nocase(std::string_view text, std::size_t at, std::string_view word) {
  if (at + word.size() > text.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (lower(text[at + i]) != lower(word[i])) return false;
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

}  // namespace

bool is_secret_name(std::string_view name) {
  const std::string n = upper_copy(name);
  for (std::string_view word : {"PASSWORD", "API_KEY", "SECRET"})
    if (n.find(word) != std::string::npos) return true;
  for (std::size_t at = n.find("TOKEN"); at != std::string::npos; at = n.find("TOKEN", at + 1)) {
    std::size_t after = at + 5;
    if (after >= n.size() || n[after] != 'S') return true;
  }
  return false;
}

bool is_maskable_value(std::string_view value) {
  while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
  if (value.size() < kMinSecretLength) return false;
  std::string word(value);
  for (char& c : word) c = lower(c);
  return word != "true" && word != "false" && word != "none" && word != "null";
}

std::string mask_values(std::string_view text, const std::vector<std::string>& values) {
  std::vector<std::string_view> secrets;
  for (const auto& v : values)
    if (is_maskable_value(v)) secrets.push_back(v);
  if (secrets.empty()) return std::string(text);
  std::sort(secrets.begin(), secrets.end(), [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
  secrets.erase(std::unique(secrets.begin(), secrets.end()), secrets.end());

  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool hit = false;
    for (std::string_view s : secrets) {
      if (text.compare(i, s.size(), s) == 0) {
        out += kMask;
        i += s.size();
        hit = true;
        break;
      }
    }
    if (!hit) out += text[i++];
  }
  return out;
}

std::string mask_url_credentials(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  for (std::size_t at = text.find("://"); at != std::string_view::npos; at = text.find("://", at + 3)) {
    const std::size_t start = at + 3;
    std::size_t end = start;
    std::optional<std::size_t> colon;
    while (end < text.size()) {
      char c = text[end];
      if (c == '@' || c == '/' || c == '?' || c == '#' || is_blank(c) || c == '"' || c == '\'' || c == '<' ||
          c == '>' || c == '`')
        break;
      if (c == ':' && !colon) colon = end;
      ++end;
    }
    if (end >= text.size() || text[end] != '@' || !colon || *colon + 1 == end) continue;
    out.append(text.substr(copied, *colon + 1 - copied));
    out += kMask;
    copied = end;  // from the '@' on
  }
  out.append(text.substr(copied));
  return out;
}

std::string mask_password_inputs(std::string_view html) {
  struct Span {
    std::size_t begin, end;
  };
  std::string out;
  out.reserve(html.size());
  std::size_t copied = 0;
  std::size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (!starts_with_nocase(html, i + 1, "input") ||
        (i + 6 < html.size() && !is_blank(html[i + 6]) && html[i + 6] != '/' && html[i + 6] != '>')) {
      ++i;
      continue;
    }
    // Walk the tag's attributes up to its closing '>'.
    std::size_t p = i + 6;
    bool is_password = false;
    std::optional<Span> value;
    while (p < html.size() && html[p] != '>') {
      if (is_blank(html[p]) || html[p] == '/') {
        ++p;
        continue;
      }
      std::size_t name_begin = p;
      while (p < html.size() && !is_blank(html[p]) && html[p] != '=' && html[p] != '>' && html[p] != '/') ++p;
      std::string name(html.substr(name_begin, p - name_begin));
      for (char& c : name) c = lower(c);
      while (p < html.size() && is_blank(html[p])) ++p;
      if (p >= html.size() || html[p] != '=') continue;  // attribute without a value
      ++p;
      while (p < html.size() && is_blank(html[p])) ++p;
      Span span{p, p};
      if (p < html.size() && (html[p] == '"' || html[p] == '\'')) {
        char quote = html[p];
        std::size_t close = html.find(quote, p + 1);
        if (close == std::string_view::npos) close = html.size();
        span = {p + 1, close};
        p = close < html.size() ? close + 1 : close;
      } else {
        while (p < html.size() && !is_blank(html[p]) && html[p] != '>') ++p;
        span = {span.begin, p};
      }
      if (name == "type") {
        std::string type(html.substr(span.begin, span.end - span.begin));
        for (char& c : type) c = lower(c);
        is_password = type == "password";
      } else if (name == "value") {
        value = span;
      }
    }
    if (is_password && value && value->end > value->begin) {
      out.append(html.substr(copied, value->begin - copied));
      out += kMask;
      copied = value->end;
    }
    i = p;
  }
  out.append(html.substr(copied));
  return out;
}

std::string mask_all(std::string_view text, const std::vector<std::string>& values) {
  return mask_password_inputs(mask_url_credentials(mask_values(text, values)));
}

}  // namespace tarvo::secrets
