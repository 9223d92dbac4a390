// The runner hooks. Each one does its own small piece of work, then forwards to
// the run-lifecycle functions, the soft-assertion hooks and the plug-in manager
// in a fixed order: before-hooks call the plug-in manager last, after-hooks call
// it before the framework's own teardown. Callees are read from this module's
// attributes at every call. In a before-hook a failure reaches the runner
// unchanged and the rest of the hook does not run; the after-hooks run all
// their parts first (see FirstFailure).
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "bindings/common/pyutil.hpp"
#include "bindings/hookrelay/hookrelay.hpp"
#include "hooks/action_inference.hpp"

namespace tarvo::py::hookrelay {

namespace {

// UTF-8 of a str object; TypeError naming `what` for anything else.
std::string text_of(nb::handle h, const char* what) {
  if (!PyUnicode_Check(h.ptr()))
    throw nb::type_error((std::string(what) + " must be str, not " + Py_TYPE(h.ptr())->tp_name).c_str());
  return utf8_of(h);
}

// A module attribute bound at load time (tests and projects may replace it).
nb::object callee(const char* name) { return this_module().attr(name); }

nb::object get_plugin_manager() {
  nb::module_ m = this_module();
  std::optional<nb::object> current = get_attr(m, "_plugin_manager");
  if (current && !current->is_none()) return *current;
  nb::object manager = m.attr("PluginManager")();
  m.attr("_plugin_manager") = manager;
  return manager;
}

// Calls the plug-in manager's method of the same name as the hook.
template <typename... Args>
void plugin_call(const char* hook, Args&&... args) {
  get_plugin_manager().attr(hook)(std::forward<Args>(args)...);
}

std::string infer_action(nb::handle step_text) {
  return tarvo::hooks::infer_action_from_step(text_of(step_text, "step_text"));
}

// The project's .env in the working directory (not a parent), applied over the
// inherited environment before the framework reads its settings. Without the
// python-dotenv package there is nothing to load with, and the step is skipped.
void load_working_directory_dotenv() {
  nb::object load_dotenv;
  try {
    nb::module_ dotenv = nb::module_::import_("dotenv");
    std::optional<nb::object> fn = get_attr(dotenv, "load_dotenv");
    if (!fn) return;
    load_dotenv = *fn;
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_ImportError)) return;
    throw;
  }
  nb::object os = callee("os");
  nb::object path = os.attr("path").attr("join")(os.attr("getcwd")(), ".env");
  if (!truthy(os.attr("path").attr("isfile")(path))) return;
  load_dotenv(path, nb::arg("override") = true);
}

bool scenario_is_browserless(nb::handle scenario) {
  std::optional<nb::object> tags = get_attr(scenario, "tags");
  if (!tags) return false;
  std::vector<std::string> names;
  for (nb::handle tag : *tags) names.push_back(text_of(tag, "scenario tag"));
  return tarvo::hooks::has_no_browser_tag(names);
}

// Hands the element locator what the step is about, for self-healing.
void set_healing_context(nb::handle context, nb::handle locator, nb::handle step) {
  nb::object scenario_name = py_str("");
  nb::object feature_name = py_str("");
  // The names are a courtesy for the healing prompt: a context that cannot
  // give them (outside a scenario, a failing property) leaves them empty.
  // Ctrl-C and SystemExit still go on (attempt raises them again).
  (void)attempt([&] {
    if (auto scenario = get_true_attr(context, "scenario")) scenario_name = scenario->attr("name");
    if (auto feature = get_true_attr(context, "feature")) feature_name = feature->attr("name");
  });

  nb::object action_context = py_str(infer_action(step.attr("name")));
  locator.attr("set_healing_context")(nb::arg("step_text") = step.attr("name"),
                                      nb::arg("scenario_name") = scenario_name,
                                      nb::arg("feature_name") = feature_name,
                                      nb::arg("action_context") = action_context);
}

// The modules the scenario and step hooks call into, imported once at the run
// start rather than inside the first scenario. One that cannot be imported is
// left alone here: the hook that needs it reports the failure as before.
constexpr const char* kScenarioModules[] = {
    "tarvolab_framework.core.context_helpers", "tarvolab_framework.core.outcomes",
    "tarvolab_framework.core.evidence", "tarvolab_framework.core.allure_support"};

void import_scenario_modules() {
  for (const char* name : kScenarioModules) (void)attempt([&] { nb::module_::import_(name); });
}

void before_all(nb::object context) {
  load_working_directory_dotenv();
  callee("setup_framework_context")(context);
  nb::setattr(context, "_using_plugin_system", nb::bool_(true));
  import_scenario_modules();
  plugin_call("before_all", context);
}

void before_feature(nb::object context, nb::object feature) {
  callee("auto_before_feature")(context, feature);
  plugin_call("before_feature", context, feature);
}

void before_scenario(nb::object context, nb::object scenario) {
  if (scenario_is_browserless(scenario)) {
    set_in_scope(context, "browser_disabled", nb::bool_(true));
    if (std::optional<nb::object> logger = get_attr(context, "logger"))
      logger->attr("info")(py_str(tarvo::hooks::kNoBrowserMessage));
  }
  callee("setup_scenario_context")(context, scenario);
  callee("before_scenario_soft_assertions")(context, scenario);
  plugin_call("before_scenario", context, scenario);
}

void before_step(nb::object context, nb::object step) {
  if (std::optional<nb::object> locator = get_attr(context, "element_locator"))
    set_healing_context(context, *locator, step);
  plugin_call("before_step", context, step);
}

void after_step(nb::object context, nb::object step) {
  callee("after_step_soft_assertions")(context, step);
  plugin_call("after_step", context, step);
}

// The after-hooks run every part even when an earlier one fails: a plug-in
// (or the soft-assertion summary) that raises must not cost the framework's own
// teardown (retry registration, results files, the retry pass). The first
// failure is raised again once all parts ran, so the runner still reports it.
// Ctrl-C and SystemExit are not held back (attempt raises them at once).
class FirstFailure {
 public:
  template <typename F>
  void run(F&& f) {
    auto failure = attempt(std::forward<F>(f));
    if (failure && !first_) first_ = std::move(failure);
  }
  void raise_if_any() {
    if (first_) reraise(*first_);
  }

 private:
  std::optional<Failure> first_;
};

void after_scenario(nb::object context, nb::object scenario) {
  FirstFailure failures;
  failures.run([&] { callee("after_scenario_soft_assertions")(context, scenario); });
  failures.run([&] { plugin_call("after_scenario", context, scenario); });
  failures.run([&] { callee("auto_after_scenario")(context, scenario); });
  failures.raise_if_any();
}

void after_feature(nb::object context, nb::object feature) {
  FirstFailure failures;
  failures.run([&] { plugin_call("after_feature", context, feature); });
  failures.run([&] { callee("auto_after_feature")(context, feature); });
  failures.raise_if_any();
}

void after_all(nb::object context) {
  FirstFailure failures;
  failures.run([&] { plugin_call("after_all", context); });
  failures.run([&] { callee("auto_after_all")(context); });
  failures.raise_if_any();
}

}  // namespace

void register_hooks(nb::module_& m) {
  m.attr("_plugin_manager") = nb::none();

  m.def("_get_plugin_manager", &get_plugin_manager,
        "The process's one PluginManager, constructed on first use.");
  m.def("_infer_action_from_step", [](nb::handle step_text) { return py_str(infer_action(step_text)); },
        nb::arg("step_text").none(),
        "Short Spanish description of what a step text does, for the healing context.");

  m.def("before_all", &before_all, nb::arg("context").none(),
        "Loads ./.env with override, sets up the framework context, then calls the plug-ins.");
  m.def("before_feature", &before_feature, nb::arg("context").none(), nb::arg("feature").none(),
        "Tells the framework (Jira/Xray) that a feature starts, then calls the plug-ins.");
  m.def("before_scenario", &before_scenario, nb::arg("context").none(), nb::arg("scenario").none(),
        "Marks @no_browser scenarios, sets up the scenario, soft assertions, then the plug-ins.");
  m.def("before_step", &before_step, nb::arg("context").none(), nb::arg("step").none(),
        "Hands the element locator the step's healing context, then calls the plug-ins.");
  m.def("after_step", &after_step, nb::arg("context").none(), nb::arg("step").none(),
        "Records the step's soft-assertion failures, then calls the plug-ins.");
  m.def("after_scenario", &after_scenario, nb::arg("context").none(), nb::arg("scenario").none(),
        "Closes the scenario's soft assertions, calls the plug-ins, then the framework's scenario end "
        "(extra windows, retry registration, integrations).");
  m.def("after_feature", &after_feature, nb::arg("context").none(), nb::arg("feature").none(),
        "Calls the plug-ins, then closes the feature's pages and post-processes its videos.");
  m.def("after_all", &after_all, nb::arg("context").none(),
        "Calls the plug-ins, then the run end: retries of failed scenarios and the integrations.");

  nb::list all;
  for (const char* name : {"before_all", "before_feature", "before_scenario", "before_step",
                           "after_step", "after_scenario", "after_feature", "after_all"})
    all.append(name);
  m.attr("__all__") = all;
}

}  // namespace tarvo::py::hookrelay
