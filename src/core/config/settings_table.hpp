// Every setting the framework and its Python components read from the
// environment, one row each. The row says how the text becomes a value (kind,
// default, range, blank and white-space rules), who reads it and when, whether
// it is one of the keys of FrameworkConfig.config, and what it is for.
//
// Conversions (settings.hpp), the validator (config_schema.py), the Python
// components' reads (tarvolab_framework.core.settings) and the README's
// settings section (scripts/gen_settings_doc.py) all come from this table.
// A new setting is a new row here; nothing else lists settings.
#pragma once
#include <string>
#include <vector>

namespace tarvo::config {

enum class SettingKind {
  Text,       // the text as it stands
  LowerText,  // the text lower-cased
  Flag,       // true exactly when the text, lower-cased, equals "true"
  Integer,    // a signed whole number (surrounding white space allowed)
  Real,       // a real number, decimal or exponent notation
  List,       // texts split at every ","; unset or empty gives no item
  UserAgent,  // BROWSER_USER_AGENT when non-empty, else USER_AGENT, else ""
};

struct SettingRow {
  // Key in FrameworkConfig.config for the settings dictionary's rows; the
  // variable's name in lower case for the others.
  const char* name;
  const char* variable;
  const char* default_text;  // used when the variable is not set
  SettingKind kind;
  bool in_config = false;  // one of the keys of FrameworkConfig.config
  // Inclusive range of a number setting; a value outside is an error naming the
  // variable (or the key, for an edited settings dictionary).
  double low = 0;
  double high = 0;
  bool trimmed = false;           // surrounding white space is removed first
  bool blank_is_default = false;  // an empty text counts as unset
  const char* choices = "";       // accepted values, "|"-separated ("" for any)
  // "VARIABLE=v1|v2": the setting has an effect only when that other setting
  // has one of those values (flags compare as "true"/"false"). "" for always.
  const char* needs = "";
  const char* reader = "";  // the component that reads it
  const char* when = "";    // the moment it is read
  const char* description = "";
};

// Every row: first the settings dictionary in its key order, then the others.
const std::vector<SettingRow>& settings_table();

// The row of an environment variable or a dictionary key; nullptr when none.
const SettingRow* find_setting(const std::string& variable);
const SettingRow* find_config_key(const std::string& key);

bool is_number_kind(SettingKind kind);
const char* kind_name(SettingKind kind);  // "text", "integer", ...

}  // namespace tarvo::config
