// The run-lifecycle functions of runwright: the one-call set-up of a run on the
// runner context, the per-scenario page set-up, the scenario-end bookkeeping and
// the two feature hooks. Texts and rules come from core/lifecycle (the page
// choice and tidying in page_policy, called on the ports of browser_ports);
// this file walks the runner's objects and calls the core.
//
// Every Playwright call (page url, close, viewport, bring_to_front, create_page)
// may switch greenlets, so it runs inside attempt(): the failure comes back as a
// value and no C++ exception is in flight when the code then logs, prints or
// raises it again unchanged.
#include <nanobind/nanobind.h>

#include <string>
#include <vector>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/browser_ports.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/config/settings.hpp"
#include "core/evidence/artefacts.hpp"
#include "core/lifecycle/page_policy.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "core/lifecycle/run_setup.hpp"
#include "core/lifecycle/messages.hpp"

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
  printing_failure(&tarvo::evidence::evidence_failed, [&] { import_attr(kEvidenceModule, function)(args...); });
}

// Writes one record through the runner context's own logger (read at each use,
// as the steps may replace it).
void log(nb::handle context, const char* level, std::string_view message) {
  attr_or_raise(context, "logger").attr(level)(py_str(message));
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
  printing_failure(failed, [&] { nb::getattr(context, hooks).attr(method)(args...); });
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

// The scenario's tag names, as texts.
std::vector<std::string> tag_names(nb::handle scenario) {
  std::vector<std::string> names;
  auto tags = get_attr(scenario, "tags");
  if (tags && truthy(*tags)) {
    for (nb::handle tag : *tags) names.push_back(to_str(tag));
  }
  return names;
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

  ScenarioPorts io(context);
  run_core(io.slot(), [&] { lc::choose_page(io.session(), io.console(), io.log()); });

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

  run_core(io.slot(), [&] {
    lc::apply_scenario_viewport(
        io.session(), [&] { return guarded<PageError>(io.slot(), [&] { return tag_names(scenario); }); }, io.log());
    lc::bring_first_tab_forward(io.session(), io.log());
  });

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
  {
    ScenarioPorts io(context);
    run_core(io.slot(), [&] { lc::close_extra_windows(io.session(), io.log()); });
  }
  register_for_retry(context, scenario);

  notify_integration(context, "jira_xray_enabled", "jira_xray_hooks", "after_scenario",
                     &lc::jira_after_scenario_failed, context, scenario);
  notify_integration(context, "meridio_enabled", "meridio_hooks", "after_scenario",
                     &lc::meridio_after_scenario_failed, context, scenario);

  printing_failure(&lc::tarvo_after_scenario_failed, [&] {
    auto tarvo = get_true_attr(context, "tarvo_tm_hooks");
    if (!tarvo || !truthy(nb::getattr(*tarvo, "is_configured"))) return;
    tarvo->attr("after_scenario")(context, scenario);
  });

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
  {
    ScenarioPorts io(context);
    run_core(io.slot(), [&] { lc::close_all_pages(io.session(), io.console(), io.log()); });
  }
  evidence_call("feature_finished", context, feature);

  printing_failure(&lc::video_processing_failed, [&] {
    if (!has_attr(context, "framework_config")) return;
    if (!truthy(settings_get(context, "record_video", nb::bool_(false)))) return;
    nb::object video_dir = settings_get(context, "video_dir", py_str(lc::kDefaultVideoDir));
    import_attr(kVideoManagerModule, "process_videos_with_intro")(video_dir);
  });

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
