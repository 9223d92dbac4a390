#include <nanobind/stl/string.h>

#include <type_traits>
#include <variant>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/lifecycle/startup_switches.hpp"

namespace tarvo::py::runwright {

constexpr const char* kRunwright = "tarvolab_framework.core.runwright";

nb::module_ this_module() { return nb::module_::import_(kRunwright); }

void bind_standard_facilities(nb::module_& m) {
  m.attr("os") = nb::module_::import_("os");
  m.attr("logging") = nb::module_::import_("logging");
  m.attr("warnings") = nb::module_::import_("warnings");
  m.attr("Path") = nb::module_::import_("pathlib").attr("Path");
  m.attr("load_dotenv") = import_dependency(kRunwright, "dotenv").attr("load_dotenv");
}

void bind_playwright(nb::module_& m) {
  nb::module_ api = import_dependency(kRunwright, "playwright.sync_api");
  m.attr("sync_playwright") = api.attr("sync_playwright");
  m.attr("Browser") = api.attr("Browser");
  m.attr("BrowserContext") = api.attr("BrowserContext");
  m.attr("Page") = api.attr("Page");
}

namespace {

nb::handle warning_category(lifecycle::WarningCategory category) {
  switch (category) {
    case lifecycle::WarningCategory::FutureWarning:
      return PyExc_FutureWarning;
    case lifecycle::WarningCategory::UserWarning:
      return PyExc_UserWarning;
    case lifecycle::WarningCategory::Any:
      break;
  }
  return PyExc_Warning;
}

void add_ignore_filter(nb::module_& m, const lifecycle::IgnoreWarnings& rule) {
  m.attr("warnings").attr("filterwarnings")("ignore", nb::arg("message") = rule.message,
                                            nb::arg("category") = warning_category(rule.category),
                                            nb::arg("module") = rule.module);
}

// behave warns through Context._emit_warning when a context layer masks an
// attribute of another; the switch replaces it for the whole process. The
// replacement is a plain Python function so that behave's class never holds a
// reference into this extension at interpreter shutdown.
void silence_runner_context(nb::module_& m) {
  nb::object context_class = import_dependency(kRunwright, "behave.runner").attr("Context");
  m.attr("Context") = context_class;
  if (!nb::hasattr(context_class, "_emit_warning")) return;
  nb::object noop =
      nb::module_::import_("builtins").attr("eval")("lambda *args, **kwargs: None", nb::dict());
  nb::setattr(context_class, "_emit_warning", noop);
}

}  // namespace

// Quieting switches, read from os.environ once at load, before the outside
// services (and the model libraries they may pull in) are imported.
void apply_startup_switches(nb::module_& m) {
  PyEnvironment env;
  for (const lifecycle::StartupAction& action : lifecycle::startup_actions(env)) {
    std::visit(
        [&](const auto& a) {
          using A = std::decay_t<decltype(a)>;
          if constexpr (std::is_same_v<A, lifecycle::SetEnvironment>) {
            env.set(a.name, a.value);
          } else if constexpr (std::is_same_v<A, lifecycle::IgnoreWarnings>) {
            add_ignore_filter(m, a);
          } else {
            silence_runner_context(m);
          }
        },
        action);
  }
}

void bind_outside_services(nb::module_& m) {
  m.attr("ElementLocator") =
      import_dependency(kRunwright, "tarvolab_framework.core.element_locator").attr("ElementLocator");
  m.attr("VariableManager") =
      import_dependency(kRunwright, "tarvolab_framework.core.variable_manager").attr("VariableManager");
}

}  // namespace tarvo::py::runwright
