// tarvolab_framework.core.runwright: FrameworkConfig and the run-lifecycle and
// integration functions. The load order below is the module's start-up order:
// standard facilities, the Playwright sync API, the quieting switches, the
// outside services, then the definitions.
#include <nanobind/nanobind.h>

#include "bindings/runwright/runwright.hpp"

namespace nb = nanobind;

NB_MODULE(runwright, m) {
  m.doc() =
      "FrameworkConfig (settings, browser launch, contexts and pages) and the run-lifecycle and "
      "integration functions that the hooks call: setup_framework_context, setup_scenario_context, "
      "auto_before_feature, auto_after_feature, auto_after_scenario, auto_after_all.";
  // Playwright keeps caller frames alive (for its stack traces) that reach the
  // runner context and so our objects; they are still referenced when the
  // interpreter exits, which is expected, not a leak worth a warning.
  nb::set_leak_warnings(false);
  tarvo::py::runwright::bind_standard_facilities(m);
  tarvo::py::runwright::bind_playwright(m);
  tarvo::py::runwright::apply_startup_switches(m);
  tarvo::py::runwright::bind_outside_services(m);
  tarvo::py::runwright::register_settings(m);
  tarvo::py::runwright::register_framework_config(m);
  tarvo::py::runwright::register_lifecycle(m);
  tarvo::py::runwright::register_integrations(m);
  tarvo::py::runwright::register_retry(m);
  tarvo::py::runwright::register_scale(m);
  tarvo::py::runwright::register_evidence(m);
  tarvo::py::runwright::register_secrets(m);
}
