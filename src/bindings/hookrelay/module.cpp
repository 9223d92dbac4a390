// tarvolab_framework.hooks.hookrelay: the eight runner hooks. Loading binds, in
// this order, the os module, the six run-lifecycle functions of runwright, the
// three soft-assertion hooks and the PluginManager class, then defines the hooks.
// A missing dependency fails the whole load: there is no degraded mode.
#include <nanobind/nanobind.h>

#include <string>

#include "bindings/common/pyutil.hpp"
#include "bindings/hookrelay/hookrelay.hpp"

namespace tarvo::py::hookrelay {

nb::module_ this_module() {
  // The module object outlives every hook call (it is in sys.modules for the
  // run); its attributes are still read at each use.
  static PyObject* module = nullptr;
  if (!module) module = nb::module_::import_(kModuleName).release().ptr();
  return nb::borrow<nb::module_>(module);
}

namespace {

// `from module_name import names...`: each name becomes an attribute of m. A name
// the module lacks fails the load with ImportError, as the import statement does.
template <std::size_t N>
void bind_from(nb::module_& m, const char* module_name, const char* const (&names)[N]) {
  nb::module_ source = import_dependency(kModuleName, module_name);
  for (const char* name : names) {
    if (!nb::hasattr(source, name))
      throw nb::import_error(
          (std::string("cannot import name '") + name + "' from '" + module_name + "'").c_str());
    m.attr(name) = source.attr(name);
  }
}

constexpr const char* kLifecycle[] = {"setup_framework_context", "setup_scenario_context",
                                      "auto_before_feature",     "auto_after_feature",
                                      "auto_after_scenario",     "auto_after_all"};
constexpr const char* kSoftAssertions[] = {"before_scenario_soft_assertions",
                                           "after_step_soft_assertions",
                                           "after_scenario_soft_assertions"};
constexpr const char* kPlugins[] = {"PluginManager"};

}  // namespace
}  // namespace tarvo::py::hookrelay

NB_MODULE(hookrelay, m) {
  using namespace tarvo::py::hookrelay;
  m.doc() =
      "The eight behave hooks of the framework. A project's features/environment.py is one line:\n"
      "    from tarvolab_framework.hooks.hookrelay import *";
  m.attr("os") = nb::module_::import_("os");
  bind_from(m, "tarvolab_framework.core.runwright", kLifecycle);
  bind_from(m, "tarvolab_framework.core.soft_assertion_hooks", kSoftAssertions);
  bind_from(m, "tarvolab_framework.plugins", kPlugins);
  register_hooks(m);
}
