// Conversions of the settings table: the settings dictionary built from the
// environment, single settings read by their variable at the moment a component
// needs them, and typed access to a (possibly caller-edited) settings map.
#pragma once
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/settings_value.hpp"
#include "core/config/settings_table.hpp"
#include "services/environment.hpp"

namespace tarvo::config {

// A setting whose text or value cannot be converted, or lies outside its range.
// Derives from std::invalid_argument so the bindings raise it as ValueError.
class ConfigError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Builds the settings dictionary (the rows with in_config, in table order) from
// the environment as it stands now. Throws ConfigError naming the variable and
// its text when a number setting is not a number or is out of its range.
SettingMap load_config(const Environment& env);

// One setting by its row or its variable, read from the environment now and
// converted by its row. A variable that is not in the table is a programming
// error (std::logic_error): every setting must have a row.
SettingValue read_setting(const Environment& env, const SettingRow& row);
SettingValue read_setting(const Environment& env, const std::string& variable);
std::string read_text(const Environment& env, const std::string& variable);
bool read_flag(const Environment& env, const std::string& variable);
long long read_int(const Environment& env, const std::string& variable);
double read_real(const Environment& env, const std::string& variable);

// A row's value for a text (nullopt: unset); what read_setting does once the
// text is read.
SettingValue convert_setting(const SettingRow& row, const std::optional<std::string>& text);

// The comma rule for list settings: unset or empty gives an empty list, otherwise
// the text is split at every "," with the parts kept as they are.
StringList split_list_setting(const std::string& text);

// Throws ConfigError "<label>: <value> is out of range (<low> to <high>)" when a
// number row's value lies outside its range (NaN is outside every range).
void check_range(const SettingRow& row, double value, const std::string& label, const std::string& value_text);

// Typed reads of a settings map. A missing key gives `fallback`; a value of
// another kind is converted where the conversion is unambiguous (an integer
// where a real is wanted, a numeric text, a flag text, a comma-separated text
// for a list) and otherwise throws ConfigError naming the key. Numbers are
// checked against the key's range, so an edited dictionary cannot hand the
// browser a value the environment could not have given.
std::string get_string(const SettingMap& s, const std::string& key, const std::string& fallback);
bool get_flag(const SettingMap& s, const std::string& key, bool fallback);
long long get_int(const SettingMap& s, const std::string& key, long long fallback);
double get_real(const SettingMap& s, const std::string& key, double fallback);
StringList get_list(const SettingMap& s, const std::string& key);

// The same reads with the table default of the key as the fallback.
std::string get_string(const SettingMap& s, const std::string& key);
bool get_flag(const SettingMap& s, const std::string& key);
long long get_int(const SettingMap& s, const std::string& key);
double get_real(const SettingMap& s, const std::string& key);

// The table default of a key, converted to its kind (for reads of missing keys).
SettingValue table_default(const std::string& key);

}  // namespace tarvo::config
