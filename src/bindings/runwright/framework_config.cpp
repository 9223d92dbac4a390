// FrameworkConfig: the run's settings dictionary and its browser. The decisions
// (settings, launch arguments, context options, reports, video retention) are
// made by the C++ core in core/config; this file only moves values between that
// core and Python objects and calls Playwright.
//
// The object keeps all of its state in its instance __dict__ (`_validation_result`,
// `config`, `playwright`, `browser`), so a caller can read and replace each of
// them, and every method reads the `config` dict as it stands at the call.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <climits>
#include <filesystem>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/config/context_options.hpp"
#include "core/config/launch.hpp"
#include "core/config/framework_setup.hpp"
#include "core/config/video_retention.hpp"
#include "core/config/settings.hpp"

namespace tarvo::py::runwright {
namespace {

using namespace nb::literals;
using namespace tarvo::config;

constexpr const char* kModuleLogger = "tarvolab_framework.core.runwright";

// The C++ side of the Python object holds nothing: see the file comment.
struct FrameworkConfigState {};
using Self = nb::pointer_and_handle<FrameworkConfigState>;

[[noreturn]] void refuse_type(const char* where, const char* arg, const char* wanted, nb::handle got) {
  throw nb::type_error((std::string(where) + ": argument '" + arg + "' must be " + wanted + ", not " + class_name(got))
                           .c_str());
}

bool is_str(nb::handle h) { return PyUnicode_Check(h.ptr()); }

bool is_mapping(nb::handle h) {
  if (PyDict_Check(h.ptr())) return true;
  nb::object abc = nb::module_::import_("collections.abc").attr("Mapping");
  int r = PyObject_IsInstance(h.ptr(), abc.ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

// ---- settings map <-> Python dict -------------------------------------------

nb::list to_py_list(const StringList& items) {
  nb::list out;
  for (const auto& item : items) out.append(py_str(item));
  return out;
}

nb::object to_py(const SettingValue& v) {
  if (auto p = std::get_if<std::string>(&v)) return py_str(*p);
  if (auto p = std::get_if<long long>(&v)) return nb::steal(PyLong_FromLongLong(*p));
  if (auto p = std::get_if<double>(&v)) return nb::steal(PyFloat_FromDouble(*p));
  if (auto p = std::get_if<bool>(&v)) return nb::bool_(*p);
  return to_py_list(std::get<StringList>(v));
}

nb::dict to_py_dict(const SettingMap& settings) {
  nb::dict out;
  for (const auto& [key, value] : settings.entries()) out[nb::str(key.c_str(), key.size())] = to_py(value);
  return out;
}

// One value of the Python settings dict; nullopt for None (then the key counts
// as missing and its default applies).
std::optional<SettingValue> from_py(const std::string& key, nb::handle v) {
  if (v.is_none()) return std::nullopt;
  if (PyBool_Check(v.ptr())) return SettingValue(v.ptr() == Py_True);
  if (PyLong_Check(v.ptr())) {
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow) throw ConfigError("config['" + key + "']: " + to_str(v) + " is out of range");
    if (n == -1 && PyErr_Occurred()) throw nb::python_error();
    return SettingValue(n);
  }
  if (PyFloat_Check(v.ptr())) return SettingValue(PyFloat_AsDouble(v.ptr()));
  if (is_str(v)) return SettingValue(utf8_of(v));
  if (PyList_Check(v.ptr()) || PyTuple_Check(v.ptr())) {
    StringList items;
    for (nb::handle item : v) {
      if (!is_str(item))
        throw nb::type_error(("config['" + key + "'] must hold texts only, found " + class_name(item)).c_str());
      items.push_back(utf8_of(item));
    }
    return SettingValue(std::move(items));
  }
  throw nb::type_error(("config['" + key + "'] has a value of unsupported type " + class_name(v)).c_str());
}

// The object's current `config` dict as the core's settings map. Only the
// framework's own keys are read; other keys a project adds are left alone.
SettingMap settings_of(nb::handle self) {
  SettingMap out;
  auto cfg = get_attr(self, "config");
  if (!cfg || cfg->is_none()) return out;
  if (!is_mapping(*cfg)) throw nb::type_error(("FrameworkConfig.config must be a dict, not " + class_name(*cfg)).c_str());
  for (const auto& row : settings_table()) {
    if (!row.in_config) continue;
    nb::str key(row.name);
    int has = PySequence_Contains(cfg->ptr(), key.ptr());
    if (has < 0) throw nb::python_error();
    if (!has) continue;
    nb::object value = nb::steal(PyObject_GetItem(cfg->ptr(), key.ptr()));
    if (!value.is_valid()) throw nb::python_error();
    if (auto converted = from_py(row.name, value)) out.set(row.name, std::move(*converted));
  }
  return out;
}

// ---- .env -------------------------------------------------------------------

// Loads a .env with override and says which file it was. A file found in a
// parent folder may not set the variables that only the process environment or
// the working directory's own .env may set: their former values are put back.
void apply_dotenv(nb::handle env_file) {
  nb::module_ mod = this_module();
  // A named file is handed to the loader as the caller gave it.
  if (!env_file.is_none() && PyUnicode_GetLength(env_file.ptr()) > 0) {
    if (truthy(mod.attr("load_dotenv")(env_file, "override"_a = true)))
      print_line(dotenv_loaded_line(utf8_of(env_file)));
    return;
  }
  std::string cwd = utf8_of(mod.attr("os").attr("getcwd")());
  std::optional<std::string> path = find_dotenv(cwd, [](const std::string& p) {
    std::error_code ec;
    return std::filesystem::exists(p, ec);
  });
  if (!path) return;
  const bool own = dotenv_is_own(cwd, *path);
  PyEnvironment env;
  std::vector<std::pair<std::string, std::optional<std::string>>> kept;
  if (!own)
    for (const auto& name : dotenv_own_only_variables()) kept.emplace_back(name, env.get(name));
  mod.attr("load_dotenv")(py_str(*path), "override"_a = true);
  print_line(dotenv_loaded_line(*path));
  nb::object environ = mod.attr("os").attr("environ");
  for (const auto& [name, before] : kept) {
    if (env.get(name) == before) continue;
    if (before)
      env.set(name, *before);
    else
      environ.attr("pop")(py_str(name), nb::none());
    print_line(dotenv_variable_ignored_line(name, *path));
  }
}

// ---- methods ----------------------------------------------------------------

nb::object load_config_dict() {
  PyEnvironment env;
  return to_py_dict(load_config(env));
}

// Prints the validation report line by line, so lines printed before a failing
// item stay printed.
nb::object validate_environment(nb::handle env_file) {
  nb::object result = nb::none();
  auto failure = attempt([&] {
    nb::object schema = nb::module_::import_("tarvolab_framework.core.config_schema");
    nb::object r = schema.attr("validate_config")("env_file"_a = env_file, "strict"_a = false);
    nb::object builtins = nb::module_::import_("builtins");
    PyEnvironment env;
    nb::object errors = r.attr("errors");
    if (truthy(errors)) {
      nb::list items = nb::borrow<nb::list>(builtins.attr("list")(errors));
      // The settings dictionary does not exist yet: LOG_LEVEL is read as it stands.
      if (show_validation_errors(read_text(env, "LOG_LEVEL"))) {
        print_line(validation_errors_heading(items.size()));
        for (std::size_t i = 0; i < items.size() && i < kMaxErrorsShown; ++i)
          print_line(validation_error_line(to_str(items[i])));
        if (auto more = validation_more_line(items.size())) print_line(*more);
        print_line("");
      }
    }
    nb::object warnings = r.attr("warnings");
    if (truthy(warnings) && show_validation_warnings(read_text(env, "LOG_LEVEL"))) {
      nb::list items = nb::borrow<nb::list>(builtins.attr("list")(warnings));
      for (std::size_t i = 0; i < items.size() && i < kMaxWarningsShown; ++i)
        print_line(validation_warning_line(to_str(items[i])));
    }
    result = r;
  });
  if (failure) {
    PyLogger(kModuleLogger).debug(validation_skipped(failure->text));
    return nb::none();
  }
  return result;
}

nb::dict launch_kwargs(const LaunchOptions& o) {
  nb::dict kw;
  kw["headless"] = nb::bool_(o.headless);
  kw["slow_mo"] = nb::steal(PyLong_FromLongLong(o.slow_mo));
  if (o.downloads_path) kw["downloads_path"] = py_str(*o.downloads_path);
  if (!o.args.empty()) kw["args"] = to_py_list(o.args);
  if (o.channel) kw["channel"] = py_str(*o.channel);
  if (o.executable_path) kw["executable_path"] = py_str(*o.executable_path);
  return kw;
}

// Playwright's engines as the core's BrowserDriver; the browser started last
// is kept. A launch failure waits in the slot (see run_core); a connection
// that fails raises one ConnectionError naming the endpoint (the driver's error
// is its cause), so the run start fails with a message that says what to fix.
class PyDriver : public BrowserDriver {
 public:
  PyDriver(nb::handle driver, FailureSlot& slot) : driver_(driver), slot_(slot) {}
  nb::object browser;

  void launch(const std::string& engine, const LaunchOptions& options) override {
    nb::dict kw = launch_kwargs(options);
    nb::object e = driver_.attr(engine.c_str());
    browser = guarded<PageError>(slot_, [&] { return nb::object(e.attr("launch")(**kw)); });
  }
  void connect(const std::string& engine, const BrowserPlan& plan) override {
    nb::object e = driver_.attr(engine.c_str());
    const char* method = plan.source == BrowserSource::Connect ? "connect" : "connect_over_cdp";
    auto failure = attempt([&] {
      browser = e.attr(method)(py_str(plan.endpoint), "timeout"_a = plan.timeout_ms, "slow_mo"_a = plan.slow_mo);
    });
    if (!failure) return;
    nb::object error = nb::module_::import_("builtins").attr("ConnectionError")(
        py_str(connect_failed_message(plan, failure->text)));
    if (failure->exc.is_valid() && !failure->exc.is_none()) PyException_SetCause(error.ptr(), failure->exc.inc_ref().ptr());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw nb::python_error();
  }

 private:
  nb::handle driver_;
  FailureSlot& slot_;
};

// Said once per process, at the first headless launch; the module attribute
// `_headless_notice_shown` remembers it.
void say_headless_notice(const SettingMap& settings) {
  nb::module_ mod = this_module();
  if (attr_true(mod, "_headless_notice_shown")) return;
  if (auto notice = headless_security_notice(settings)) {
    print_line(*notice);
    mod.attr("_headless_notice_shown") = true;
  }
}

nb::object launch_browser(nb::handle self, nb::handle driver, const SettingMap& settings, LaunchOptions options);

nb::object setup_playwright(nb::handle self) {
  // The options are built first, so a bad setting fails before a driver is
  // started that nobody would stop.
  PyEnvironment env;
  SettingMap settings = launch_settings(settings_of(self), env);
  PyConsole console;
  LaunchOptions options = build_launch_options(settings, console);
  // A bad endpoint fails here too, before the driver starts.
  BrowserPlan plan = plan_browser(settings, options, env);
  if (plan.source == BrowserSource::Launch) say_headless_notice(settings);

  nb::object manager = reraising([&] { return this_module().attr("sync_playwright")(); });
  nb::object driver = reraising([&] { return manager.attr("start")(); });
  nb::setattr(self, "playwright", driver);
  return launch_browser(self, driver, settings, std::move(options));
}

// The configuration's `browser` and `playwright` as the core's BrowserRuntime.
// The settings of a launch are read outside the guard, so a bad setting is
// raised as such instead of counting as a dead driver.
class PyBrowserRuntime : public BrowserRuntime {
 public:
  PyBrowserRuntime(nb::handle self, FailureSlot& slot) : self_(self), slot_(slot) {}

  void close_browser() override {
    auto old = get_attr(self_, "browser");
    nb::setattr(self_, "browser", nb::none());
    if (old && !old->is_none()) guarded<PageError>(slot_, [&] { old->attr("close")(); });
  }
  bool has_driver() override {
    auto driver = get_attr(self_, "playwright");
    return driver && !driver->is_none();
  }
  void launch_on_driver() override {
    PyEnvironment env;
    SettingMap settings = launch_settings(settings_of(self_), env);
    PyConsole console;
    LaunchOptions options = build_launch_options(settings, console);
    nb::object driver = nb::getattr(self_, "playwright");
    guarded<PageError>(slot_, [&] { launch_browser(self_, driver, settings, options); });
  }
  void stop_driver() override {
    nb::object driver = nb::getattr(self_, "playwright");
    nb::setattr(self_, "playwright", nb::none());
    guarded<PageError>(slot_, [&] { driver.attr("stop")(); });
  }
  // Not guarded: the relaunch lets this failure through, and a settings error
  // must stay the ValueError the run start raises.
  void start_driver() override { setup_playwright(self_); }

 private:
  nb::handle self_;
  FailureSlot& slot_;
};

nb::object relaunch_browser(nb::handle self) {
  FailureSlot slot;
  PyBrowserRuntime runtime(self, slot);
  run_core(slot, [&] { tarvo::config::relaunch_browser(runtime); });
  return nb::getattr(self, "browser");
}

nb::object launch_browser(nb::handle self, nb::handle driver, const SettingMap& settings, LaunchOptions options) {
  static bool ignored_reported = false;  // once per process (and, by the plan, per run)
  FailureSlot slot;
  PyDriver engines(driver, slot);
  PyEnvironment env;
  PyConsole console;
  run_core(slot, [&] { start_browser(engines, settings, std::move(options), env, console, ignored_reported); });
  nb::setattr(self, "browser", engines.browser);
  return engines.browser;
}

// Playwright's context options, in the order the framework fills them.
nb::dict context_kwargs(const ContextOptions& o) {
  auto size = [](const Size& s) {
    nb::dict d;
    d["width"] = nb::steal(PyLong_FromLongLong(s.width));
    d["height"] = nb::steal(PyLong_FromLongLong(s.height));
    return d;
  };
  nb::dict kw;
  if (o.viewport) kw["viewport"] = size(*o.viewport);
  if (o.device_scale_factor) kw["device_scale_factor"] = nb::steal(PyFloat_FromDouble(*o.device_scale_factor));
  kw["ignore_https_errors"] = nb::bool_(o.ignore_https_errors);
  if (o.no_viewport) kw["no_viewport"] = nb::bool_(true);
  if (o.record_video_dir) kw["record_video_dir"] = py_str(*o.record_video_dir);
  if (o.record_video_size) kw["record_video_size"] = size(*o.record_video_size);
  if (o.user_agent) kw["user_agent"] = py_str(*o.user_agent);
  if (o.geolocation) {
    nb::dict g;
    g["latitude"] = nb::steal(PyFloat_FromDouble(o.geolocation->latitude));
    g["longitude"] = nb::steal(PyFloat_FromDouble(o.geolocation->longitude));
    g["accuracy"] = nb::steal(PyFloat_FromDouble(o.geolocation->accuracy));
    kw["geolocation"] = g;
  }
  if (o.permissions) kw["permissions"] = to_py_list(*o.permissions);
  return kw;
}

StringList permission_names(nb::handle value, const char* arg) {
  if (!PyList_Check(value.ptr()) && !PyTuple_Check(value.ptr()))
    throw nb::type_error((std::string(arg) + "['permissions'] must be a list of permission names, not " +
                          class_name(value)).c_str());
  StringList names;
  for (nb::handle item : value) {
    if (!is_str(item))
      throw nb::type_error((std::string(arg) + "['permissions'] must hold permission names (str), found " +
                            class_name(item)).c_str());
    names.push_back(utf8_of(item));
  }
  return names;
}

// A plain dict with the items of a caller's mapping (dict(mapping)).
nb::dict dict_copy(nb::handle mapping) {
  nb::dict out;
  if (PyDict_Merge(out.ptr(), mapping.ptr(), 1) != 0) throw nb::python_error();
  return out;
}

void check_options_arg(nb::handle value, const char* where, const char* arg) {
  if (!value.is_none() && !is_mapping(value)) refuse_type(where, arg, "a dict or None", value);
}

nb::object create_context(nb::handle self, nb::handle custom_options) {
  check_options_arg(custom_options, "create_context()", "custom_options");
  auto browser = get_attr(self, "browser");
  if (!browser || browser->is_none()) throw std::runtime_error(std::string(kBrowserNotInitialized));

  SettingMap settings = settings_of(self);
  ContextOptions options = build_context_options(settings);  // a bad video size fails here, before any side effect
  if (options.record_video_dir) {
    this_module().attr("os").attr("makedirs")(py_str(*options.record_video_dir), "exist_ok"_a = true);
    if (get_flag(settings, "cleanup_old_videos"))
      self.attr("_cleanup_old_videos")(py_str(*options.record_video_dir));
  }
  nb::dict kw = context_kwargs(options);

  if (!custom_options.is_none() && truthy(custom_options)) {
    nb::dict extra = dict_copy(custom_options);
    if (extra.contains("permissions") && options.permissions) {
      StringList caller = permission_names(extra["permissions"], "custom_options");
      PyDict_DelItemString(extra.ptr(), "permissions");
      kw["permissions"] = to_py_list(permission_union(*options.permissions, caller));
    }
    if (PyDict_Update(kw.ptr(), extra.ptr()) != 0) throw nb::python_error();
  }
  nb::object new_context = browser->attr("new_context");
  return reraising([&] { return new_context(**kw); });
}

void apply_stealth(nb::handle page) {
  bool missing = false;
  auto failure = attempt([&] {
    nb::object stealth = nb::module_::import_("playwright_stealth");
    if (auto fn = get_attr(stealth, "stealth_sync")) {  // playwright-stealth 1.x
      (*fn)(page);
    } else if (auto cls = get_attr(stealth, "Stealth")) {  // playwright-stealth 2.x
      (*cls)().attr("apply_stealth_sync")(page);
    } else {
      missing = true;
    }
  });
  if (missing || (failure && failure->is_import_error()))
    print_line(kStealthMissing);
  else if (failure)
    print_line(stealth_failed(failure->text));
  else
    print_line(kStealthOn);
}

nb::object create_page(nb::handle self, nb::handle context, nb::handle custom_options) {
  check_options_arg(custom_options, "create_page()", "custom_context_options");
  SettingMap settings = settings_of(self);
  const long long timeout = get_int(settings, "timeout", 30000);
  const long long navigation_timeout = get_int(settings, "navigation_timeout", 30000);
  const bool stealth = get_flag(settings, "stealth_mode", false);

  nb::object ctx;
  if (context.is_none()) {
    ctx = self.attr("create_context")(custom_options);
  } else {
    ctx = nb::borrow(context);
    // An existing context keeps the options it was made with; only geolocation
    // and permissions can still be changed on it.
    if (!custom_options.is_none() && truthy(custom_options)) {
      nb::dict extra = dict_copy(custom_options);
      if (extra.contains("geolocation")) {
        nb::object value = extra["geolocation"];
        reraising([&] { ctx.attr("set_geolocation")(value); });
      }
      if (extra.contains("permissions")) {
        nb::object value = extra["permissions"];
        reraising([&] { ctx.attr("grant_permissions")(value); });
      }
    }
  }
  nb::object page = reraising([&] { return ctx.attr("new_page")(); });
  reraising([&] { page.attr("set_default_timeout")(timeout); });
  reraising([&] { page.attr("set_default_navigation_timeout")(navigation_timeout); });
  if (stealth) apply_stealth(page);
  return page;
}

nb::object setup_logging(nb::handle self) {
  SettingMap settings = settings_of(self);
  const int level = log_level_value(get_string(settings, "log_level", "WARNING"));
  nb::object logging = this_module().attr("logging");
  nb::object logger = logging.attr("getLogger")(kFrameworkLoggerName);
  logger.attr("setLevel")(level);
  if (!truthy(logger.attr("handlers"))) {
    nb::object handler = logging.attr("StreamHandler")();
    handler.attr("setFormatter")(logging.attr("Formatter")(kLogFormat));
    handler.attr("setLevel")(level);
    logger.attr("addHandler")(handler);
  }
  // Log lines may quote step texts and page errors that hold a secret.
  import_attr("tarvolab_framework.core.secrets", "install_log_masking")();
  return logger;
}

nb::dict get_test_data(nb::handle self) {
  nb::dict out;
  for (const auto& [key, value] : test_data(settings_of(self)))
    out[nb::str(key.c_str())] = py_str(value);
  return out;
}

void cleanup(nb::handle self) {
  // Failures of close() and stop() are deliberately ignored: the handles are
  // dropped either way and the caller is tearing down.
  if (auto browser = get_attr(self, "browser"); browser && !browser->is_none()) {
    nb::object b = *browser;
    (void)attempt([&] { b.attr("close")(); });
    nb::setattr(self, "browser", nb::none());
  }
  if (auto driver = get_attr(self, "playwright"); driver && !driver->is_none()) {
    nb::object d = *driver;
    (void)attempt([&] { d.attr("stop")(); });
    nb::setattr(self, "playwright", nb::none());
  }
}

void cleanup_old_videos_method(nb::handle self, nb::handle video_dir) {
  if (!is_str(video_dir) && !PyObject_HasAttrString(video_dir.ptr(), "__fspath__"))
    refuse_type("_cleanup_old_videos()", "video_dir", "a str or path", video_dir);
  std::string dir;
  long long max_age_hours = 0;
  auto failure = attempt([&] {
    dir = to_str(this_module().attr("os").attr("fspath")(video_dir));
    SettingMap settings = settings_of(self);
    if (!settings.has("video_max_age_hours")) throw std::runtime_error("'video_max_age_hours'");
    max_age_hours = get_int(settings, "video_max_age_hours");
  });
  if (failure) {
    print_line(video_cleanup_error_message(failure->text));
    return;
  }
  PyConsole console;
  cleanup_old_videos(dir, max_age_hours, now_seconds(), console, remove_file);
}

}  // namespace

void check_setting_value(const char* key, nb::handle value) {
  const SettingRow* row = find_config_key(key);
  if (!row || !is_number_kind(row->kind)) return;
  auto converted = from_py(key, value);
  if (!converted) return;
  SettingMap one;
  one.set(key, std::move(*converted));
  if (row->kind == SettingKind::Integer)
    (void)get_int(one, key);
  else
    (void)get_real(one, key);
}

void register_framework_config(nb::module_& m) {
  register_config_error(m);
  m.attr("_headless_notice_shown") = false;
  nb::class_<FrameworkConfigState>(m, "FrameworkConfig", nb::dynamic_attr(),
                                   "The run's settings dictionary and its Playwright browser.")
      .def(
          "__init__",
          [](Self self, nb::object env_file) {
            if (!env_file.is_none() && !is_str(env_file))
              refuse_type("FrameworkConfig()", "env_file", "a str or None", env_file);
            new (self.p) FrameworkConfigState();
            // Ready now, so the steps below can go through the object's own methods.
            nb::inst_mark_ready(self.h);
            apply_dotenv(env_file);
            nb::setattr(self.h, "_validation_result", self.h.attr("_validate_environment")(env_file));
            nb::setattr(self.h, "config", self.h.attr("_load_config")());
            nb::setattr(self.h, "playwright", nb::none());
            nb::setattr(self.h, "browser", nb::none());
          },
          "env_file"_a = nb::none())
      .def("_load_config", [](Self) { return load_config_dict(); })
      .def("_validate_environment", [](Self, nb::object env_file) { return validate_environment(env_file); },
           "env_file"_a = nb::none())
      .def("setup_playwright", [](Self self) { return setup_playwright(self.h); },
           "Starts Playwright and launches the configured browser; returns it (also kept as .browser).")
      .def("relaunch_browser", [](Self self) { return relaunch_browser(self.h); },
           "Replaces a browser whose process died with a new one (on the running driver when it still "
           "answers); returns it (also kept as .browser).")
      .def("_get_preset_config",
           [](Self, nb::object preset) {
             if (!is_str(preset)) refuse_type("_get_preset_config()", "preset", "a str", preset);
             return to_py_list(preset_args(utf8_of(preset)));
           },
           "preset"_a.none())
      .def("_load_config_file",
           [](Self, nb::object config_file) {
             if (!is_str(config_file)) refuse_type("_load_config_file()", "config_file", "a str", config_file);
             PyConsole console;
             return to_py_list(load_flag_file(utf8_of(config_file), console));
           },
           "config_file"_a.none())
      .def("_get_browser_specific_args",
           [](Self self) { return to_py_list(browser_specific_args(settings_of(self.h))); })
      .def("create_context", [](Self self, nb::object custom) { return create_context(self.h, custom); },
           "custom_options"_a = nb::none(),
           "A new browser context from the settings; custom_options add or override context options.")
      .def("create_page",
           [](Self self, nb::object context, nb::object custom) { return create_page(self.h, context, custom); },
           "context"_a = nb::none(), "custom_context_options"_a = nb::none(),
           "A new page (in context, or in a new context) with the run's time-outs and, when on, stealth.")
      .def("setup_logging", [](Self self) { return setup_logging(self.h); },
           "The 'tarvolab_framework' logger at LOG_LEVEL, with one console handler.")
      .def("get_test_data", [](Self self) { return get_test_data(self.h); },
           "email, password, user_name, api_base_url and base_url from the settings.")
      .def("cleanup", [](Self self) { cleanup(self.h); },
           "Closes the browser and stops Playwright; never fails.")
      .def("_cleanup_old_videos", [](Self self, nb::object video_dir) { cleanup_old_videos_method(self.h, video_dir); },
           "video_dir"_a.none());
}

}  // namespace tarvo::py::runwright
