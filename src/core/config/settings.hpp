// The framework's settings dictionary: the 60 fixed settings read from the
// environment, and typed access to a (possibly caller-edited) settings map.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/settings_value.hpp"
#include "services/environment.hpp"

namespace tarvo::config {

// A setting whose text or value cannot be converted. Derives from
// std::invalid_argument so the bindings raise it as ValueError.
class ConfigError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

enum class SettingKind { String, LowerString, Flag, Integer, Real, List, Viewport, UserAgent };

struct SettingRow {
  const char* key;
  const char* variable;
  const char* default_text;
  SettingKind kind;
};

// The 60 rows, in dictionary order.
const std::vector<SettingRow>& settings_table();

// Builds the settings dictionary from the environment as it stands now.
// Throws ConfigError naming the variable and its text when a numeric setting
// is not a number.
SettingMap load_config(const Environment& env);

// The comma rule for list settings: unset or empty gives an empty list, otherwise
// the text is split at every "," with the parts kept as they are.
StringList split_list_setting(const std::string& text);

// Typed reads of a settings map. A missing key gives `fallback`; a value of
// another kind is converted where the conversion is unambiguous (an integer
// where a real is wanted, a numeric text, a flag text, a comma-separated text
// for a list) and otherwise throws ConfigError naming the key.
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
