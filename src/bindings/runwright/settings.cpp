// The settings table for Python: the rows as plain dicts, and single settings
// read from os.environ (or converted from a given text) by the table's rules.
// tarvolab_framework.core.settings wraps these for the Python components and
// config_schema.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/common/text.hpp"
#include "core/config/settings.hpp"

namespace tarvo::py::runwright {
namespace {

using namespace nb::literals;
using namespace tarvo::config;

nb::object value_to_py(const SettingValue& v) {
  if (auto p = std::get_if<std::string>(&v)) return py_str(*p);
  if (auto p = std::get_if<long long>(&v)) return nb::steal(PyLong_FromLongLong(*p));
  if (auto p = std::get_if<double>(&v)) return nb::steal(PyFloat_FromDouble(*p));
  if (auto p = std::get_if<bool>(&v)) return nb::bool_(*p);
  nb::list out;
  for (const auto& item : std::get<StringList>(v)) out.append(py_str(item));
  return out;
}

nb::tuple split_choices(const char* text) {
  nb::list out;
  if (*text)
    for (const auto& part : split(text, "|")) out.append(py_str(part));
  return nb::tuple(out);
}

nb::dict row_to_py(const SettingRow& row) {
  nb::dict d;
  d["name"] = py_str(row.name);
  d["variable"] = py_str(row.variable);
  d["default"] = py_str(row.default_text);
  d["kind"] = py_str(kind_name(row.kind));
  d["in_config"] = nb::bool_(row.in_config);
  const bool ranged = is_number_kind(row.kind) && (row.low != 0 || row.high != 0);
  auto number = [&](double v) -> nb::object {
    if (row.kind == SettingKind::Integer) return nb::steal(PyLong_FromLongLong(static_cast<long long>(v)));
    return nb::steal(PyFloat_FromDouble(v));
  };
  d["low"] = ranged ? number(row.low) : nb::none();
  d["high"] = ranged ? number(row.high) : nb::none();
  d["trimmed"] = nb::bool_(row.trimmed);
  d["blank_is_default"] = nb::bool_(row.blank_is_default);
  d["choices"] = split_choices(row.choices);
  std::string needs = row.needs;
  auto eq = needs.find('=');
  if (eq == std::string::npos) {
    d["needs"] = nb::none();
  } else {
    d["needs"] = nb::make_tuple(py_str(needs.substr(0, eq)), split_choices(row.needs + eq + 1));
  }
  d["reader"] = py_str(row.reader);
  d["when"] = py_str(row.when);
  d["description"] = py_str(row.description);
  return d;
}

const SettingRow& row_or_key_error(nb::handle variable) {
  const SettingRow* row = find_setting(utf8_of(variable));
  if (!row) {
    PyErr_SetObject(PyExc_KeyError, variable.ptr());
    throw nb::python_error();
  }
  return *row;
}

}  // namespace

void register_settings(nb::module_& m) {
  m.def(
      "_settings_table",
      [] {
        nb::list rows;
        for (const auto& row : settings_table()) rows.append(row_to_py(row));
        return nb::tuple(rows);
      },
      "Every setting of the framework as a dict (name, variable, default, kind, in_config, low, high, "
      "trimmed, blank_is_default, choices, needs, reader, when, description), settings dictionary first.");
  m.def(
      "_read_setting",
      [](nb::str variable) {
        const SettingRow& row = row_or_key_error(variable);
        PyEnvironment env;
        return value_to_py(read_setting(env, row));
      },
      "variable"_a,
      "The setting's value from os.environ as it stands, converted by its row; ValueError naming the "
      "variable for a bad or out-of-range number, KeyError for a variable that is not a setting.");
  m.def(
      "_convert_setting",
      [](nb::str variable, nb::object text) {
        const SettingRow& row = row_or_key_error(variable);
        std::optional<std::string> given;
        if (!text.is_none()) {
          if (!PyUnicode_Check(text.ptr())) throw nb::type_error("text must be a str or None");
          given = utf8_of(text);
        }
        return value_to_py(convert_setting(row, given));
      },
      "variable"_a, "text"_a.none(),
      "The value a text (None: unset) gives the setting, as _read_setting would convert it.");
}

}  // namespace tarvo::py::runwright
