// The masking rules of core/common/secrets for tarvolab_framework.core.secrets,
// which gathers the secret values (settings, typed passwords) on the Python side.
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/common/secrets.hpp"

namespace tarvo::py::runwright {

void register_secrets(nb::module_& m) {
  m.def(
      "_mask_secrets",
      [](nb::handle text, nb::handle values) {
        std::vector<std::string> secrets;
        for (nb::handle v : values) secrets.push_back(text_arg(v, "_mask_secrets", "values"));
        return py_str(tarvo::secrets::mask_all(text_arg(text, "_mask_secrets", "text"), secrets));
      },
      nb::arg("text").none(), nb::arg("values"),
      "text with the given secret values, URL passwords and password-field values masked.");
  m.def(
      "_is_secret_name", [](nb::handle name) { return tarvo::secrets::is_secret_name(text_arg(name, "_is_secret_name", "name")); },
      nb::arg("name").none(), "Whether a setting of that name holds a secret (PASSWORD, API_KEY, SECRET, TOKEN).");
  m.def(
      "_is_maskable_value",
      [](nb::handle value) { return tarvo::secrets::is_maskable_value(text_arg(value, "_is_maskable_value", "value")); },
      nb::arg("value").none(), "Whether a secret value is long enough to be masked.");
}

}  // namespace tarvo::py::runwright
