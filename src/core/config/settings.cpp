#include "core/config/settings.hpp"

#include <cmath>

#include "core/common/text.hpp"

namespace tarvo::config {
namespace {

using K = SettingKind;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// A bound as a person writes it: 2147483647, 0.5, -90.
std::string bound_text(double v) {
  if (std::trunc(v) == v && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
  return format_real(v);
}

bool all_digits(const std::string& text) {
  std::string t = trim(text);
  std::size_t i = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

bool has_range(const SettingRow& row) { return is_number_kind(row.kind) && (row.low != 0 || row.high != 0); }

[[noreturn]] void out_of_range(const SettingRow& row, const std::string& label, const std::string& value_text) {
  throw ConfigError(label + ": " + value_text + " is out of range (" + bound_text(row.low) + " to " +
                    bound_text(row.high) + ")");
}

long long to_int_or_throw(const SettingRow* row, const std::string& label, const std::string& text) {
  auto v = parse_int(text);
  if (!v) {
    // Digits that do not fit 64 bits are a number, just far too large.
    if (row && has_range(*row) && all_digits(text)) out_of_range(*row, label, quoted(text));
    throw ConfigError(label + ": " + quoted(text) + " is not a valid integer");
  }
  if (row) check_range(*row, static_cast<double>(*v), label, quoted(text));
  return *v;
}

double to_real_or_throw(const SettingRow* row, const std::string& label, const std::string& text) {
  auto v = parse_double(text);
  // "nan" converts, but is no amount of anything.
  if (!v || std::isnan(*v)) throw ConfigError(label + ": " + quoted(text) + " is not a valid real number");
  if (row) check_range(*row, *v, label, quoted(text));
  return *v;
}

const char* value_kind_name(const SettingValue& v) {
  switch (v.index()) {
    case 0: return "text";
    case 1: return "integer";
    case 2: return "real";
    case 3: return "flag";
    default: return "list";
  }
}

std::string key_label(const std::string& key) { return "config['" + key + "']"; }

[[noreturn]] void wrong_kind(const std::string& key, const SettingValue& v, const char* wanted) {
  throw ConfigError(key_label(key) + ": expected " + wanted + ", got a " + value_kind_name(v));
}

const SettingRow& row_of(const std::string& variable) {
  const SettingRow* row = find_setting(variable);
  if (!row) throw std::logic_error("setting " + variable + " is not in the settings table");
  return *row;
}

}  // namespace

void check_range(const SettingRow& row, double value, const std::string& label, const std::string& value_text) {
  if (!has_range(row)) return;
  if (!(value >= row.low && value <= row.high)) out_of_range(row, label, value_text);
}

StringList split_list_setting(const std::string& text) {
  if (text.empty()) return {};
  return split(text, ",");
}

SettingValue convert_setting(const SettingRow& row, const std::optional<std::string>& given) {
  std::optional<std::string> text = given;
  if (text && row.trimmed) text = trim(*text);
  if (text && text->empty() && row.blank_is_default) text.reset();
  const std::string value = text ? *text : std::string(row.default_text);
  switch (row.kind) {
    case K::Text:
    case K::UserAgent: return value;
    case K::LowerText: return to_lower(value);
    case K::Flag: return flag_true(value);
    case K::Integer: return to_int_or_throw(&row, row.variable, value);
    case K::Real: return to_real_or_throw(&row, row.variable, value);
    case K::List: return split_list_setting(value);
  }
  return value;
}

SettingValue read_setting(const Environment& env, const SettingRow& row) {
  if (row.kind == K::UserAgent) {
    std::string primary = env.get_or(row.variable, "");
    if (!primary.empty()) return primary;
    return convert_setting(row_of("USER_AGENT"), env.get("USER_AGENT"));
  }
  return convert_setting(row, env.get(row.variable));
}

SettingValue read_setting(const Environment& env, const std::string& variable) {
  return read_setting(env, row_of(variable));
}

std::string read_text(const Environment& env, const std::string& variable) {
  SettingValue v = read_setting(env, variable);
  if (auto p = std::get_if<std::string>(&v)) return *p;
  throw std::logic_error("setting " + variable + " is not a text");
}
bool read_flag(const Environment& env, const std::string& variable) {
  return std::get<bool>(read_setting(env, variable));
}
long long read_int(const Environment& env, const std::string& variable) {
  return std::get<long long>(read_setting(env, variable));
}
double read_real(const Environment& env, const std::string& variable) {
  return std::get<double>(read_setting(env, variable));
}

SettingMap load_config(const Environment& env) {
  SettingMap out;
  for (const auto& row : settings_table())
    if (row.in_config) out.set(row.name, read_setting(env, row));
  return out;
}

SettingValue table_default(const std::string& key) {
  const SettingRow* row = find_config_key(key);
  if (!row) return std::string();
  return convert_setting(*row, std::nullopt);
}

std::string get_string(const SettingMap& s, const std::string& key, const std::string& fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<std::string>(v)) return *p;
  if (auto p = std::get_if<long long>(v)) return std::to_string(*p);
  if (auto p = std::get_if<double>(v)) return format_real(*p);
  if (auto p = std::get_if<bool>(v)) return *p ? "True" : "False";
  wrong_kind(key, *v, "a text");
}

bool get_flag(const SettingMap& s, const std::string& key, bool fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  if (auto p = std::get_if<bool>(v)) return *p;
  if (auto p = std::get_if<std::string>(v)) return flag_true(*p);
  if (auto p = std::get_if<long long>(v)) return *p != 0;
  if (auto p = std::get_if<double>(v)) return *p != 0.0;
  return !std::get<StringList>(*v).empty();
}

long long get_int(const SettingMap& s, const std::string& key, long long fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  const SettingRow* row = find_config_key(key);
  const std::string label = key_label(key);
  if (auto p = std::get_if<long long>(v)) {
    if (row) check_range(*row, static_cast<double>(*p), label, std::to_string(*p));
    return *p;
  }
  if (auto p = std::get_if<bool>(v)) return *p ? 1 : 0;
  if (auto p = std::get_if<double>(v)) {
    if (!std::isfinite(*p) || std::trunc(*p) != *p)
      throw ConfigError(label + ": " + format_real(*p) + " is not a valid integer");
    if (row) check_range(*row, *p, label, format_real(*p));
    // Beyond 64 bits the conversion is undefined; no key's range reaches that far.
    if (!(*p >= -9.2e18 && *p <= 9.2e18)) throw ConfigError(label + ": " + format_real(*p) + " is out of range");
    return static_cast<long long>(*p);
  }
  if (auto p = std::get_if<std::string>(v)) return to_int_or_throw(row, label, *p);
  wrong_kind(key, *v, "an integer");
}

double get_real(const SettingMap& s, const std::string& key, double fallback) {
  const SettingValue* v = s.find(key);
  if (!v) return fallback;
  const SettingRow* row = find_config_key(key);
  const std::string label = key_label(key);
  if (auto p = std::get_if<double>(v)) {
    if (row) check_range(*row, *p, label, format_real(*p));
    return *p;
  }
  if (auto p = std::get_if<long long>(v)) {
    if (row) check_range(*row, static_cast<double>(*p), label, std::to_string(*p));
    return static_cast<double>(*p);
  }
  if (auto p = std::get_if<bool>(v)) return *p ? 1.0 : 0.0;
  if (auto p = std::get_if<std::string>(v)) return to_real_or_throw(row, label, *p);
  wrong_kind(key, *v, "a real number");
}

StringList get_list(const SettingMap& s, const std::string& key) {
  const SettingValue* v = s.find(key);
  if (!v) return {};
  if (auto p = std::get_if<StringList>(v)) return *p;
  if (auto p = std::get_if<std::string>(v)) return split_list_setting(*p);
  wrong_kind(key, *v, "a list of texts");
}

std::string get_string(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  auto p = std::get_if<std::string>(&d);
  return get_string(s, key, p ? *p : std::string());
}
bool get_flag(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_flag(s, key, std::holds_alternative<bool>(d) && std::get<bool>(d));
}
long long get_int(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_int(s, key, std::holds_alternative<long long>(d) ? std::get<long long>(d) : 0);
}
double get_real(const SettingMap& s, const std::string& key) {
  auto d = table_default(key);
  return get_real(s, key, std::holds_alternative<double>(d) ? std::get<double>(d) : 0.0);
}

}  // namespace tarvo::config
