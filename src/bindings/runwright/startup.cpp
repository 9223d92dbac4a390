#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"

namespace tarvo::py::runwright {

nb::module_ this_module() { return nb::module_::import_("tarvolab_framework.core.runwright"); }

void bind_standard_facilities(nb::module_& m) {
  m.attr("os") = nb::module_::import_("os");
  m.attr("logging") = nb::module_::import_("logging");
  m.attr("warnings") = nb::module_::import_("warnings");
  m.attr("Path") = nb::module_::import_("pathlib").attr("Path");
  m.attr("load_dotenv") = nb::module_::import_("dotenv").attr("load_dotenv");
}

void bind_playwright(nb::module_& m) {
  nb::module_ api = nb::module_::import_("playwright.sync_api");
  m.attr("sync_playwright") = api.attr("sync_playwright");
  m.attr("Browser") = api.attr("Browser");
  m.attr("BrowserContext") = api.attr("BrowserContext");
  m.attr("Page") = api.attr("Page");
}

void apply_startup_switches(nb::module_&) {}

void bind_outside_services(nb::module_& m) {
  m.attr("ElementLocator") = import_attr("tarvolab_framework.core.element_locator", "ElementLocator");
  m.attr("VariableManager") = import_attr("tarvolab_framework.core.variable_manager", "VariableManager");
}

}  // namespace tarvo::py::runwright
