// The runner hooks. Each one does its own small piece of work, then forwards to
// the run-lifecycle functions, the soft-assertion hooks and the plug-in manager
// in a fixed order: before-hooks call the plug-in manager last, after-hooks call
// it before the framework's own teardown. Callees are read from this module's
// attributes at every call. In a before-hook a failure reaches the runner
// unchanged and the rest of the hook does not run; the after-hooks run all
// their parts first (see FirstFailure).
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bindings/common/pyutil.hpp"
#include "bindings/hookrelay/hookrelay.hpp"
#include "core/lifecycle/action_inference.hpp"

namespace tarvo::py::hookrelay {

namespace {

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

// The function `name` defined by the class `class_name` of `module_name`, or
// nullptr when the module is not loaded or lacks it. Looked up on first use and
// kept: the classes live as long as their modules, which stay loaded.
PyObject* class_function(PyObject*& cache, const char* module_name, const char* class_name, const char* name) {
  if (cache) return cache;
  PyObject* module = PyDict_GetItemString(PyImport_GetModuleDict(), module_name);  // borrowed
  if (!module) return nullptr;
  PyObject* cls = PyObject_GetAttrString(module, class_name);
  if (!cls) {
    PyErr_Clear();
    return nullptr;
  }
  if (PyType_Check(cls)) {
    if (PyObject* fn = type_lookup(reinterpret_cast<PyTypeObject*>(cls), interned_name(name))) cache = Py_NewRef(fn);
  }
  Py_DECREF(cls);
  return cache;
}

// Whether obj.<name> is `fn`, the method its class defines, with nothing on the
// instance hiding it: then calling obj.<name> runs exactly that function.
bool runs_class_function(nb::handle obj, PyObject* fn, const char* name) {
  if (!fn) return false;
  PyObject* key = interned_name(name);
  if (type_lookup(Py_TYPE(obj.ptr()), key) != fn) return false;
  PyObject* dict = PyObject_GenericGetDict(obj.ptr(), nullptr);
  if (!dict) {
    PyErr_Clear();
    return false;
  }
  nb::object guard = nb::steal(dict);
  return PyDict_Check(dict) && !PyDict_Contains(dict, key);
}

constexpr const char* kPluginsModule = "tarvolab_framework.plugins";

// Whether the hook has anything to do on the process's PluginManager: false only
// when the manager is the framework's own class, its method for the hook is the
// class's, and none of its plug-ins defines a callable of that name; the method
// itself would then return at once. Any other manager is always called.
bool plugins_want(nb::handle manager, const char* hook, PyObject*& method_cache) {
  PyObject* fn = class_function(method_cache, kPluginsModule, "PluginManager", hook);
  if (!runs_class_function(manager, fn, hook)) return true;
  auto plugins = get_attr(manager, "plugins");
  if (!plugins || !PyList_Check(plugins->ptr())) return true;
  for (nb::handle plugin : *plugins) {
    auto method = get_attr(plugin, hook);
    if (method && PyCallable_Check(method->ptr())) return true;
  }
  return false;
}

// Calls the plug-in manager's method of the same name as the hook.
template <typename... Args>
void plugin_call(const char* hook, Args&&... args) {
  get_plugin_manager().attr(hook)(std::forward<Args>(args)...);
}

std::string infer_action(nb::handle step_text) {
  return tarvo::lifecycle::infer_action_from_step(text_arg(step_text, "step_text"));
}

// infer_action as a str, remembered per step text: a suite repeats its step
// texts, and before every step the same few are asked for. The memory is
// bounded (emptied when full); its objects are kept for the life of the process.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

nb::object remembered_action(nb::handle step_text) {
  static std::unordered_map<std::string, PyObject*, TextHash, std::equal_to<>> known;
  constexpr std::size_t kMaxRemembered = 4096;
  if (!PyUnicode_Check(step_text.ptr())) return py_str(infer_action(step_text));  // TypeError as before
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(step_text.ptr(), &size);
  if (!data) {  // lone surrogates: worked out each time, as before
    PyErr_Clear();
    return py_str(infer_action(step_text));
  }
  std::string_view text(data, static_cast<std::size_t>(size));
  if (auto found = known.find(text); found != known.end()) return nb::borrow(found->second);
  nb::object action = py_str(infer_action(step_text));
  if (known.size() >= kMaxRemembered) {
    for (auto& [key, value] : known) Py_DECREF(value);
    known.clear();
  }
  known.emplace(std::string(text), Py_NewRef(action.ptr()));
  return action;
}

// The project's .env in the working directory (not a parent), applied over the
// inherited environment before the framework reads its settings. Without the
// python-dotenv package there is nothing to load with, and the step is skipped.
void load_working_directory_dotenv() {
  std::optional<nb::object> load_dotenv;
  if (auto failure = attempt([&] { load_dotenv = get_attr(nb::module_::import_("dotenv"), "load_dotenv"); })) {
    if (failure->is_import_error()) return;
    reraise(*failure);
  }
  if (!load_dotenv) return;
  nb::object os = callee("os");
  nb::object path = os.attr("path").attr("join")(os.attr("getcwd")(), ".env");
  if (!truthy(os.attr("path").attr("isfile")(path))) return;
  (*load_dotenv)(path, nb::arg("override") = true);
}

bool scenario_is_browserless(nb::handle scenario) {
  std::optional<nb::object> tags = get_attr(scenario, "tags");
  if (!tags) return false;
  std::vector<std::string> names;
  for (nb::handle tag : *tags) names.push_back(text_arg(tag, "scenario tag"));
  return tarvo::lifecycle::has_no_browser_tag(names);
}

// Hands the element locator what the step is about, for self-healing.
void set_healing_context(nb::handle context, nb::handle locator, nb::handle step) {
  nb::object scenario_name = py_str("");
  nb::object feature_name = py_str("");
  // The names are a courtesy for the healing prompt: a context that cannot
  // give them (outside a scenario, a failing property) leaves them empty.
  // Ctrl-C and SystemExit still go on (attempt raises them again).
  (void)attempt([&] {
    if (auto scenario = get_true_attr(context, "scenario")) scenario_name = attr_or_raise(*scenario, "name");
    if (auto feature = get_true_attr(context, "feature")) feature_name = attr_or_raise(*feature, "name");
  });

  nb::object step_text = attr_or_raise(step, "name");
  nb::object action_context = remembered_action(step_text);
  // The framework's own ElementLocator keeps four texts as this dictionary
  // (its set_healing_context does exactly this for them): written here, every
  // step saves a call into Python. Any other locator gets the call.
  static PyObject* own_method = nullptr;
  PyObject* fn = class_function(own_method, "tarvolab_framework.core.element_locator", "ElementLocator",
                                "set_healing_context");
  if (PyUnicode_CheckExact(step_text.ptr()) && PyUnicode_CheckExact(scenario_name.ptr()) &&
      PyUnicode_CheckExact(feature_name.ptr()) && runs_class_function(locator, fn, "set_healing_context")) {
    nb::dict values;
    const std::pair<const char*, nb::handle> texts[] = {{"step_text", step_text},
                                                        {"scenario_name", scenario_name},
                                                        {"feature_name", feature_name},
                                                        {"action_context", action_context}};
    for (const auto& [key, text] : texts)
      if (PyDict_SetItem(values.ptr(), interned_name(key), text.ptr()) != 0) throw nb::python_error();
    if (PyObject_SetAttr(locator.ptr(), interned_name("healing_context"), values.ptr()) != 0)
      throw nb::python_error();
    return;
  }
  locator.attr("set_healing_context")(nb::arg("step_text") = step_text,
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
      logger->attr("info")(py_str(tarvo::lifecycle::kNoBrowserMessage));
  }
  callee("setup_scenario_context")(context, scenario);
  callee("before_scenario_soft_assertions")(context, scenario);
  plugin_call("before_scenario", context, scenario);
}

void before_step(nb::object context, nb::object step) {
  if (std::optional<nb::object> locator = get_attr(context, "element_locator"))
    set_healing_context(context, *locator, step);
  static PyObject* method = nullptr;
  nb::object manager = get_plugin_manager();
  if (plugins_want(manager, "before_step", method)) manager.attr("before_step")(context, step);
}

// The soft-assertion step end does nothing when the scenario's collector holds
// no failure; for the framework's own function that case is seen here, without
// the call. A replaced function (tests, projects) is always called.
bool soft_assertions_have_work(nb::handle fn, nb::handle context) {
  static PyObject* own = nullptr;
  if (!own) {
    PyObject* module = PyDict_GetItemString(PyImport_GetModuleDict(), "tarvolab_framework.core.soft_assertion_hooks");
    if (!module) return true;
    PyObject* found = PyObject_GetAttrString(module, "after_step_soft_assertions");
    if (!found) {
      PyErr_Clear();
      return true;
    }
    own = found;  // kept for the life of the process
  }
  if (fn.ptr() != own) return true;
  auto collector = get_attr(context, "soft_assertions");
  if (!collector) return false;
  auto failures = get_attr(*collector, "failures");
  return !failures || !PyList_CheckExact(failures->ptr()) || PyList_Size(failures->ptr()) != 0;
}

void after_step(nb::object context, nb::object step) {
  nb::object soft = callee("after_step_soft_assertions");
  if (soft_assertions_have_work(soft, context)) soft(context, step);
  static PyObject* method = nullptr;
  nb::object manager = get_plugin_manager();
  if (plugins_want(manager, "after_step", method)) manager.attr("after_step")(context, step);
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
