// Test-management integrations: detection and set-up at run start, and the
// run-end dispatch (integrations, AI reports, soft-assertion summary).
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/integrations/integration_texts.hpp"
#include "core/integrations/messages.hpp"

namespace tarvo::py::runwright {

namespace {

using integrations::IntegrationSetup;

// Raises ImportError(text) as a Python exception (not nb::import_error, a C++
// exception that attempt() would not see as an ImportError), so the set-up
// prints the "not available" message as for a module that fails to load.
[[noreturn]] void raise_import_error(const std::string& text) {
  PyErr_SetString(PyExc_ImportError, text.c_str());
  throw nb::python_error();
}

// The integration class, loaded now from its module. A module that loads but
// lacks the class is a loading failure, as "from module import name" is.
nb::object load_component(const IntegrationSetup& s) {
  nb::object module = nb::module_::import_(s.module.c_str());
  auto cls = get_attr(module, s.component.c_str());
  if (!cls) raise_import_error(integrations::missing_component_text(s));
  return *cls;
}

bool tool_enabled(const IntegrationSetup& s) {
  PyEnvironment env;
  return integrations::integration_enabled(s, env);
}

// Jira/Xray and Meridio: flag + object, success line, messages on failure.
void setup_flagged_integration(nb::handle context, const IntegrationSetup& s) {
  const char* flag = s.enabled_attr.c_str();
  auto failure = attempt([&] {
    if (!tool_enabled(s)) {
      nb::setattr(context, flag, nb::bool_(false));
      return;
    }
    nb::object cls = load_component(s);
    nb::object hooks = cls();
    nb::setattr(context, s.hooks_attr.c_str(), hooks);
    nb::setattr(context, flag, nb::bool_(true));
    hooks.attr("before_all")(context);
    print_line(s.success);
  });
  if (!failure) return;
  nb::setattr(context, flag, nb::bool_(false));
  print_line(integrations::setup_failure_message(s, failure->is_import_error(), failure->text));
}

void setup_jira_xray_integration(nb::handle context) {
  setup_flagged_integration(context, integrations::jira_xray_setup());
}

void setup_meridio_integration(nb::handle context) {
  setup_flagged_integration(context, integrations::meridio_setup());
}

// Tarvo Test Manager: the object itself (or None) is the switch; silent on success.
void setup_tarvo_tm_integration(nb::handle context) {
  const IntegrationSetup& s = integrations::tarvo_tm_setup();
  const char* attr = s.hooks_attr.c_str();
  auto failure = attempt([&] {
    if (!tool_enabled(s)) {
      nb::setattr(context, attr, nb::none());
      return;
    }
    nb::object cls = load_component(s);
    nb::object integration = cls();
    nb::setattr(context, attr, integration);
    if (truthy(nb::getattr(integration, "is_configured"))) integration.attr("before_all")(context);
  });
  if (!failure) return;
  nb::setattr(context, attr, nb::none());
  print_line(integrations::setup_failure_message(s, failure->is_import_error(), failure->text));
}

void print_lines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) print_line(l);
}

// The six run-end steps. Condition reads stand outside the guards: a missing
// attribute reads as its default, any other failure ends the function.
void auto_after_all_integrations(nb::handle context) {
  const IntegrationSetup& jira = integrations::jira_xray_setup();
  const IntegrationSetup& meridio = integrations::meridio_setup();
  const IntegrationSetup& tarvo = integrations::tarvo_tm_setup();

  // 1. Jira/Xray, unless its run end was already handled elsewhere.
  if (attr_true(context, "jira_xray_enabled") && has_attr(context, "jira_xray_hooks")) {
    if (!attr_true(context, "_jira_config_processed")) {
      printing_failure(jira.after_all_error_prefix,
              [&] { nb::getattr(context, "jira_xray_hooks").attr("after_all")(context); });
    }
  }

  // 2. Meridio.
  if (attr_true(context, "meridio_enabled") && has_attr(context, "meridio_hooks")) {
    printing_failure(meridio.after_all_error_prefix,
            [&] { nb::getattr(context, "meridio_hooks").attr("after_all")(context); });
  }

  // 3. Tarvo Test Manager, guarded as a whole (the is_configured read included).
  printing_failure(tarvo.after_all_error_prefix, [&] {
    auto integration = get_true_attr(context, "tarvo_tm_hooks");
    if (!integration) return;
    if (truthy(nb::getattr(*integration, "is_configured"))) integration->attr("after_all")(context);
  });

  // 4. AI validation report, only when the hooks are not driven by the plug-in system.
  if (has_attr(context, "ai_report_generator") && !has_attr(context, "_using_plugin_system")) {
    printing_failure(&integrations::validation_report_failed, [&] {
      nb::object path = nb::getattr(context, "ai_report_generator").attr("generate_report")();
      if (truthy(path)) print_lines(integrations::validation_report_block(to_str(path)));
    });
  }

  // 5. AI analysis report.
  if (attr_true(context, "ai_analysis_report")) {
    printing_failure(&integrations::analysis_report_failed, [&] {
      nb::object path = nb::getattr(context, "ai_analysis_report").attr("generate")();
      if (truthy(path)) print_lines(integrations::analysis_report_block(to_str(path)));
    });
  }

  // 6. Soft-assertion summary: count > 0, compared as Python compares it.
  if (auto count = get_attr(context, "_soft_assertion_failed_scenarios_count")) {
    if (truthy(*count)) {
      nb::object zero = nb::int_(0);
      int above = PyObject_RichCompareBool(count->ptr(), zero.ptr(), Py_GT);
      if (above < 0) throw nb::python_error();
      if (above == 1) print_lines(integrations::soft_assertion_block(to_str(*count)));
    }
  }
}

}  // namespace

void register_integrations(nb::module_& m) {
  m.def("_setup_jira_xray_integration", &setup_jira_xray_integration, nb::arg("context"),
        "Detects and sets up the Jira/Xray integration (JIRA_ENABLED).");
  m.def("_setup_meridio_integration", &setup_meridio_integration, nb::arg("context"),
        "Detects and sets up the Meridio integration (MERIDIO_ENABLED).");
  m.def("_setup_tarvo_tm_integration", &setup_tarvo_tm_integration, nb::arg("context"),
        "Detects and sets up the Tarvo Test Manager integration (TARVO_TM_ENABLED).");
  m.def("_auto_after_all_integrations", &auto_after_all_integrations, nb::arg("context"),
        "Run-end calls of the integrations, the AI reports and the soft-assertion summary.");
}

}  // namespace tarvo::py::runwright
