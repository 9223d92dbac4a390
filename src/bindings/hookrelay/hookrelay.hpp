// Internals of the hookrelay extension module shared between its source files.
#pragma once
#include <nanobind/nanobind.h>

namespace tarvo::py::hookrelay {

namespace nb = nanobind;

inline constexpr const char* kModuleName = "tarvolab_framework.hooks.hookrelay";

// module.cpp: the hookrelay module object, looked up at the moment of use so
// that attributes replaced on it (callees, _plugin_manager) are the ones used.
nb::module_ this_module();

// hooks.cpp: _plugin_manager, _get_plugin_manager, _infer_action_from_step and
// the eight runner hooks.
void register_hooks(nb::module_& m);

}  // namespace tarvo::py::hookrelay
