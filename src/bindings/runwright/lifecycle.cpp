// The run-lifecycle functions of runwright: the one-call set-up of a run on the
// runner context, the per-scenario page set-up, the scenario-end bookkeeping and
// the two feature hooks. Texts and rules come from core/lifecycle; this file only
// walks the runner's and Playwright's objects.
//
// Every Playwright call (page url, close, viewport, bring_to_front, create_page)
// may switch greenlets, so it runs inside attempt(): the failure comes back as a
// value and no C++ exception is in flight when the code then logs, prints or
// raises it again unchanged.
#include <nanobind/nanobind.h>

#include <string>
#include <vector>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/config/settings.hpp"
#include "core/evidence/artefacts.hpp"
#include "core/lifecycle/run_setup.hpp"
#include "core/lifecycle/scenario_messages.hpp"

namespace tarvo::py::runwright {

namespace {

namespace lc = tarvo::lifecycle;

constexpr const char* kContextHelpersModule = "tarvolab_framework.core.context_helpers";
constexpr const char* kDataSnapshotModule = "tarvolab_framework.core.data_snapshot_manager";
constexpr const char* kAiReportModule = "tarvolab_framework.core.ai_report_generator";
constexpr const char* kAiAnalysisModule = "tarvolab_framework.core.ai_analysis_report";
constexpr const char* kVideoManagerModule = "tarvolab_framework.core.video_manager";
constexpr const char* kEvidenceModule = "tarvolab_framework.core.evidence";

// Calls evidence.<function>(args...). Evidence is a by-product of the run: its
// failure prints one warning and changes nothing else.
template <typename... Args>
void evidence_call(const char* function, Args... args) {
  if (auto failure = attempt([&] { import_attr(kEvidenceModule, function)(args...); }))
    print_line(std::string(tarvo::evidence::kEvidenceFailed) + failure->text);
}

// Writes one record through the runner context's own logger (read at each use,
// as the steps may replace it).
void log(nb::handle context, const char* level, std::string_view message) {
  attr_or_raise(context, "logger").attr(level)(py_str(message));
}

// Runs f; a missing attribute or key is ignored, anything else is raised again.
template <typename F>
void ignoring_missing(F&& f) {
  if (auto failure = attempt(std::forward<F>(f))) {
    if (!failure->is_a(PyExc_AttributeError) && !failure->is_a(PyExc_KeyError)) reraise(*failure);
  }
}

std::size_t py_len(nb::handle seq) {
  Py_ssize_t n = PyObject_Length(seq.ptr());
  if (n < 0) throw nb::python_error();
  return static_cast<std::size_t>(n);
}

nb::object item(nb::handle seq, std::size_t index) {
  PyObject* r = PySequence_GetItem(seq.ptr(), static_cast<Py_ssize_t>(index));
  if (!r) throw nb::python_error();
  return nb::steal(r);
}

// A Python list copy of an iterable (the pages or contexts of the moment).
std::vector<nb::object> as_vector(nb::handle iterable) {
  std::vector<nb::object> out;
  for (nb::handle h : iterable) out.push_back(nb::borrow(h));
  return out;
}

// The pages of the browser's first context, or nullopt when context.browser is
// missing or false or the browser has no context yet.
std::optional<nb::object> first_context_pages(nb::handle context) {
  auto browser = get_true_attr(context, "browser");
  if (!browser) return std::nullopt;
  nb::object contexts = browser->attr("contexts");
  if (py_len(contexts) == 0) return std::nullopt;
  return item(contexts, 0).attr("pages");
}

nb::object settings_get(nb::handle context, const char* key, nb::handle fallback) {
  nb::object config = attr_or_raise(context, "framework_config").attr("config");
  return config.attr("get")(key, fallback);
}

// The status's name: behave's Status enum carries it as `name`; plain texts are
// taken as they are.
std::string status_name(nb::handle status) {
  if (PyUnicode_Check(status.ptr())) return to_str(status);
  if (auto name = get_attr(status, "name")) return to_str(*name);
  return to_str(status);
}

void install_context_helpers(nb::handle context) {
  nb::module_ helpers = nb::module_::import_(kContextHelpersModule);
  helpers.attr("setup_context_helpers")(context);
  helpers.attr("add_bulk_operations")(context);
  helpers.attr("setup_advanced_helpers")(context);
}

// Calls hooks.<method>(args...) of an integration switched on through the
// context's `enabled` flag; a failure is printed with the integration's prefix.
template <typename... Args>
void notify_integration(nb::handle context, const char* enabled, const char* hooks, const char* method,
                        std::string (*failed)(std::string_view), Args... args) {
  if (!attr_true(context, enabled) || !has_attr(context, hooks)) return;
  auto failure = attempt([&] { nb::getattr(context, hooks).attr(method)(args...); });
  if (failure) print_line(failed(failure->text));
}

// ---- run start -----------------------------------------------------------

void setup_framework_context(nb::object context, nb::object env_file) {
  if (!env_file.is_none() && !PyUnicode_Check(env_file.ptr())) {
    throw nb::type_error(
        ("setup_framework_context(): 'env_file' must be a str or None, not " + class_name(env_file)).c_str());
  }
  nb::module_ rw = this_module();

  nb::object framework_config = rw.attr("FrameworkConfig")(env_file);
  nb::setattr(context, "framework_config", framework_config);

  nb::object logger = framework_config.attr("setup_logging")();
  nb::setattr(context, "logger", logger);

  nb::object browser = reraising([&] { return framework_config.attr("setup_playwright")(); });
  nb::setattr(context, "browser", browser);

  nb::object element_locator_cls = rw.attr("ElementLocator");
  nb::object variable_manager_cls = rw.attr("VariableManager");
  nb::object snapshot_cls = import_attr(kDataSnapshotModule, "DataSnapshotManager");
  nb::object ai_report_cls = import_attr(kAiReportModule, "AIReportGenerator");

  nb::object element_locator = element_locator_cls();
  nb::setattr(context, "element_locator", element_locator);
  nb::object variable_manager = variable_manager_cls();
  nb::setattr(context, "variable_manager", variable_manager);
  nb::setattr(element_locator, "variable_manager", variable_manager);
  nb::setattr(context, "data_snapshot", snapshot_cls());
  nb::setattr(context, "locmender", nb::getattr(element_locator, "locmender"));

  nb::setattr(context, "_current_step_is_desktop", nb::bool_(false));
  nb::setattr(context, "_current_step_is_api", nb::bool_(false));
  nb::setattr(context, "_current_step_is_mobile", nb::bool_(false));
  nb::setattr(context, "_jira_config_scenario_results", nb::list());
  nb::setattr(context, "_soft_assertion_failed_scenarios_count", nb::int_(0));
  nb::setattr(context, "last_api_response", nb::none());

  PyEnvironment env;
  if (config::read_flag(env, std::string(lc::kGenerateAiReportVar))) {
    nb::setattr(context, "ai_report_generator", ai_report_cls());
  }
  if (config::read_flag(env, std::string(lc::kGenerateAiAnalysisReportVar))) {
    nb::object report = import_attr(kAiAnalysisModule, "AIAnalysisReport")();
    nb::setattr(context, "ai_analysis_report", report);
    report.attr("start")();
  }

  nb::object test_data;
  if (auto failure = attempt([&] { test_data = framework_config.attr("get_test_data")(); })) {
    log(context, "warning", lc::test_data_failed(failure->text));
    test_data = nb::dict();
  }
  nb::setattr(context, "test_data", test_data);

  rw.attr("_setup_jira_xray_integration")(context);
  rw.attr("_setup_meridio_integration")(context);
  rw.attr("_setup_tarvo_tm_integration")(context);
}

// ---- scenario start ------------------------------------------------------

// The URL of a page that is still open. Playwright answers `url` from its own
// cache even after the page closed, so a page that says it is closed fails the
// probe too; otherwise a closed page would be handed to the scenario's steps.
std::string live_url(nb::handle page) {
  if (auto is_closed = get_attr(page, "is_closed")) {
    if (PyCallable_Check(is_closed->ptr()) && truthy((*is_closed)()))
      throw std::runtime_error("Target page has been closed");
  }
  return to_str(nb::getattr(page, "url"));
}

// The page is reused by the next scenarios of the feature, so the mobile
// viewport of a @mobile scenario would stay on it. The viewport the page had
// before is kept in a run-level attribute (page, size) and put back when a later
// scenario without the tag runs on that same page. A page without a fixed
// viewport (maximised window) has no size to put back and is left alone.
constexpr const char* kMobileRestore = "_mobile_viewport_restore";

void remember_viewport_before_mobile(nb::handle context, nb::handle page) {
  (void)attempt([&] {
    auto marker = get_attr(context, kMobileRestore);
    if (marker && !marker->is_none() && nb::object((*marker)[0]).is(page)) return;  // already mobile
    nb::object previous = nb::none();
    if (auto size = get_attr(page, "viewport_size")) previous = *size;
    nb::setattr(context, kMobileRestore, nb::make_tuple(page, previous));
  });
}

void restore_viewport_after_mobile(nb::handle context) {
  auto marker = get_attr(context, kMobileRestore);
  if (!marker || marker->is_none()) return;
  nb::setattr(context, kMobileRestore, nb::none());
  nb::object saved_page = (*marker)[0];
  nb::object saved_size = (*marker)[1];
  auto page = get_attr(context, "page");
  if (page && saved_page.is(*page) && !saved_size.is_none()) page->attr("set_viewport_size")(saved_size);
}

// Sets a run-level attribute of the runner context. behave drops what a hook
// sets inside a scenario when the scenario ends; its root layer is kept for the
// run (a plain object just gets the attribute).
void set_run_attribute(nb::handle context, const char* name, nb::handle value) {
  if (auto set_root = get_attr(context, "_set_root_attribute"); set_root && PyCallable_Check(set_root->ptr()))
    (*set_root)(name, value);
  else
    nb::setattr(context, name, value);
}

// A browser whose process died (a crash, the OOM killer) would be handed to
// every later scenario, each failing at once: it is noticed here (Playwright
// marks it disconnected) and launched again, once per death; the page of the
// dead browser is dropped. A relaunch that fails reaches the hook.
void ensure_live_browser(nb::handle context) {
  auto browser = get_true_attr(context, "browser");
  if (!browser) return;
  auto is_connected = get_attr(*browser, "is_connected");
  if (!is_connected || !PyCallable_Check(is_connected->ptr())) return;
  bool connected = true;
  (void)attempt([&] { connected = truthy((*is_connected)()); });
  if (connected) return;
  print_line(lc::kBrowserDied);
  nb::object framework_config = nb::getattr(context, "framework_config");
  nb::object fresh = reraising([&] { return framework_config.attr("relaunch_browser")(); });
  set_run_attribute(context, "browser", fresh);
  if (has_attr(context, "page")) nb::setattr(context, "page", nb::none());
  log(context, "info", lc::kBrowserRelaunched);
}

// Finds a live page for the scenario: the context's page, else the first page
// of the browser's first context, else a new one. Leaves it in context.page.
void choose_page(nb::handle context) {
  ensure_live_browser(context);
  bool ready = false;

  if (auto page = get_true_attr(context, "page")) {
    auto failure = attempt([&] {
      std::string url = live_url(*page);
      log(context, "info", lc::reusing_existing_page(url));
      ready = true;
    });
    if (failure) log(context, "debug", lc::kPreviousPageInvalid);
  }

  if (!ready) {
    auto failure = attempt([&] {
      auto pages = first_context_pages(context);
      if (!pages || py_len(*pages) == 0) return;
      nb::object candidate = item(*pages, 0);
      // A page closed since the last scenario fails its probe: a new page is
      // made below, so that failure is expected and not reported.
      (void)attempt([&] {
        std::string url = live_url(candidate);
        set_in_scope(context, "page", candidate);
        log(context, "info", lc::reusing_browser_page(url));
        ready = true;
      });
    });
    if (failure) log(context, "debug", lc::page_check_failed(failure->text));
  }

  if (!ready) {
    nb::object target = nb::none();
    if (auto browser = get_true_attr(context, "browser")) {
      nb::object contexts = reraising([&]() -> nb::object { return browser->attr("contexts"); });
      if (py_len(contexts) > 0) target = item(contexts, 0);
    }
    nb::object options = get_attr(context, "browser_context_options").value_or(nb::none());
    nb::object framework_config = nb::getattr(context, "framework_config");
    nb::object page = reraising([&] {
      return framework_config.attr("create_page")(nb::arg("context") = target,
                                                  nb::arg("custom_context_options") = options);
    });
    set_in_scope(context, "page", page);
    log(context, "info", lc::kNewPageCreated);
  }
}

void setup_scenario_context(nb::object context, nb::object scenario) {
  if (auto snapshot = get_attr(context, "data_snapshot")) {
    snapshot->attr("set_scenario")(nb::getattr(scenario, "name"));
  }

  if (attr_true(context, "browser_disabled")) {
    log(context, "info", lc::kBrowserDisabled);
    install_context_helpers(context);
    evidence_call("scenario_started", context, scenario);
    return;
  }

  choose_page(context);

  if (auto page = get_true_attr(context, "page")) {
    nb::object timeout = settings_get(context, "timeout", nb::int_(lc::kDefaultTimeoutMs));
    nb::object navigation = settings_get(context, "navigation_timeout", nb::int_(lc::kDefaultNavigationTimeoutMs));
    check_setting_value("timeout", timeout);
    check_setting_value("navigation_timeout", navigation);
    reraising([&] {
      page->attr("set_default_timeout")(timeout);
      page->attr("set_default_navigation_timeout")(navigation);
    });
    log(context, "debug", lc::timeouts_configured(to_str(timeout), to_str(navigation)));
  }

  install_context_helpers(context);

  if (auto failure = attempt([&] {
        auto tags = get_attr(scenario, "tags");
        bool mobile = false;
        if (tags && truthy(*tags)) {
          std::vector<std::string> names;
          for (nb::handle tag : *tags) names.push_back(to_str(tag));
          mobile = lc::has_mobile_tag(names);
        }
        if (!mobile) {
          restore_viewport_after_mobile(context);
          return;
        }
        nb::object page = nb::getattr(context, "page");
        remember_viewport_before_mobile(context, page);
        nb::dict size;
        size["width"] = lc::kMobileViewportWidth;
        size["height"] = lc::kMobileViewportHeight;
        page.attr("set_viewport_size")(size);
      })) {
    log(context, "warning", lc::tag_setup_failed(failure->text));
  }

  if (auto failure = attempt([&] {
        auto pages = first_context_pages(context);
        if (!pages) return;
        std::size_t count = py_len(*pages);
        if (!lc::should_switch_to_first_tab(count)) return;
        nb::object first = item(*pages, 0);
        first.attr("bring_to_front")();
        set_in_scope(context, "page", first);
        log(context, "info", lc::switched_to_first_tab(count));
      })) {
    log(context, "debug", lc::first_tab_failed(failure->text));
  }

  ignoring_missing([&] {
    if (has_attr(context, "api_listening_active")) nb::setattr(context, "api_listening_active", nb::bool_(false));
  });
  ignoring_missing([&] {
    nb::setattr(context, "_current_step_is_desktop", nb::bool_(false));
    nb::setattr(context, "_current_step_is_api", nb::bool_(false));
    nb::setattr(context, "_current_step_is_mobile", nb::bool_(false));
  });
  ignoring_missing([&] {
    if (!has_attr(context, "_jira_config_scenario_results")) {
      nb::setattr(context, "_jira_config_scenario_results", nb::list());
    }
  });

  notify_integration(context, "meridio_enabled", "meridio_hooks", "before_scenario",
                     &lc::meridio_before_scenario_failed, context, scenario);

  // Trace chunk and video offset of the scenario start on its page.
  evidence_call("scenario_started", context, scenario);

  log(context, "info", lc::scenario_starting(to_str(nb::getattr(scenario, "name"))));
}

// ---- scenario end --------------------------------------------------------

void close_extra_windows(nb::handle context) {
  auto failure = attempt([&] {
    auto first_pages = first_context_pages(context);
    if (!first_pages) return;
    std::vector<nb::object> pages = as_vector(*first_pages);
    std::size_t extra = lc::extra_window_count(pages.size());
    if (extra == 0) return;
    for (std::size_t i = 1; i < pages.size(); ++i) {
      (void)attempt([&] { pages[i].attr("close")(); });  // one stuck window must not keep the others open
    }
    set_in_scope(context, "page", pages[0]);
    log(context, "info", lc::extra_windows_closed(extra));
  });
  if (failure) log(context, "debug", lc::extra_windows_failed(failure->text));
}

void register_for_retry(nb::handle context, nb::handle scenario) {
  nb::object retry_enabled = settings_get(context, "retry_failed_scenarios", nb::bool_(false));
  bool failed = lc::is_failed_status(status_name(nb::getattr(scenario, "status")));
  if (!failed || !truthy(retry_enabled)) return;
  // A scenario stopped by Ctrl-C did not fail: the user asked the run to end.
  if (attr_true(context, "aborted")) return;

  if (!has_attr(context, "_failed_scenarios_for_retry")) {
    nb::setattr(context, "_failed_scenarios_for_retry", nb::list());
  }
  nb::dict entry;
  entry["file"] = nb::getattr(scenario, "feature").attr("filename");
  entry["line"] = nb::getattr(scenario, "line");
  entry["name"] = nb::getattr(scenario, "name");
  entry["scenario_obj"] = scenario;
  nb::getattr(context, "_failed_scenarios_for_retry").attr("append")(entry);
  log(context, "info", lc::registered_for_retry(to_str(nb::getattr(scenario, "name"))));
}

void auto_after_scenario(nb::object context, nb::object scenario) {
  // First: the screenshots need every page the scenario opened, which the
  // window clean-up below closes.
  evidence_call("scenario_finished", context, scenario);
  close_extra_windows(context);
  register_for_retry(context, scenario);

  notify_integration(context, "jira_xray_enabled", "jira_xray_hooks", "after_scenario",
                     &lc::jira_after_scenario_failed, context, scenario);
  notify_integration(context, "meridio_enabled", "meridio_hooks", "after_scenario",
                     &lc::meridio_after_scenario_failed, context, scenario);

  if (auto failure = attempt([&] {
        auto tarvo = get_true_attr(context, "tarvo_tm_hooks");
        if (!tarvo || !truthy(nb::getattr(*tarvo, "is_configured"))) return;
        tarvo->attr("after_scenario")(context, scenario);
      })) {
    print_line(lc::tarvo_after_scenario_failed(failure->text));
  }

  // Not guarded: a scenario the analysis report cannot record fails the
  // after-scenario hook with the report's own failure.
  if (auto report = get_true_attr(context, "ai_analysis_report")) report->attr("record_scenario")(scenario);
}

// ---- feature hooks -------------------------------------------------------

void auto_before_feature(nb::object context, nb::object feature) {
  notify_integration(context, "jira_xray_enabled", "jira_xray_hooks", "before_feature",
                     &lc::jira_before_feature_failed, context, feature);
}

void auto_after_feature(nb::object context, nb::object feature) {
  // The videos' paths are read from the pages before they close; the files are
  // complete (and can be kept or dropped) only once they have closed.
  evidence_call("feature_pages_closing", context, feature);
  if (auto failure = attempt([&] {
        auto browser = get_true_attr(context, "browser");
        if (!browser) return;
        for (const nb::object& browser_context : as_vector(browser->attr("contexts"))) {
          for (const nb::object& page : as_vector(browser_context.attr("pages"))) {
            (void)attempt([&] { page.attr("close")(); });  // the next page is still closed
          }
        }
        if (has_attr(context, "page")) nb::setattr(context, "page", nb::none());
        log(context, "info", lc::kPagesClosedAfterFeature);
      })) {
    print_line(lc::closing_pages_failed(failure->text));
  }
  evidence_call("feature_finished", context, feature);

  if (auto failure = attempt([&] {
        if (!has_attr(context, "framework_config")) return;
        if (!truthy(settings_get(context, "record_video", nb::bool_(false)))) return;
        nb::object video_dir = settings_get(context, "video_dir", py_str(lc::kDefaultVideoDir));
        import_attr(kVideoManagerModule, "process_videos_with_intro")(video_dir);
      })) {
    print_line(lc::video_processing_failed(failure->text));
  }

  notify_integration(context, "jira_xray_enabled", "jira_xray_hooks", "after_feature",
                     &lc::jira_after_feature_failed, context, feature);
}

}  // namespace

void register_lifecycle(nb::module_& m) {
  m.def("setup_framework_context", &setup_framework_context, nb::arg("context"),
        nb::arg("env_file").none() = nb::none(),
        "Setup completo del framework SIN cleanup_error");
  m.def("setup_scenario_context", &setup_scenario_context, nb::arg("context"), nb::arg("scenario").none(),
        "Prepares the runner context for one scenario: a live page, time-outs, helpers, mobile viewport.");
  m.def("auto_after_scenario", &auto_after_scenario, nb::arg("context"), nb::arg("scenario").none(),
        "Closes extra windows, registers a failed scenario for retry and notifies the integrations.");
  m.def("auto_before_feature", &auto_before_feature, nb::arg("context"), nb::arg("feature").none(),
        "Tells the Jira/Xray integration that a feature starts.");
  m.def("auto_after_feature", &auto_after_feature, nb::arg("context"), nb::arg("feature").none(),
        "Closes every page, post-processes recorded videos and tells the Jira/Xray integration.");
}

}  // namespace tarvo::py::runwright
