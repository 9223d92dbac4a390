// End-of-run retry of the scenarios that failed, and the run-end hook itself.
// The attempt loop and report live in the core (retry_report); this file does
// the work on the runner context: pages, execute_steps, the feature swap.
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/lifecycle/messages.hpp"
#include "core/lifecycle/retry_report.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "core/lifecycle/retry_steps.hpp"
#include "core/evidence/artefacts.hpp"
#include "core/lifecycle/action_inference.hpp"

namespace tarvo::py::runwright {

namespace {

using namespace tarvo::lifecycle;

nb::object create_page(nb::handle context) {
  return nb::getattr(context, "framework_config").attr("create_page")();
}

// Once before the first attempt: a running browser and a page (the feature end
// closed every page). Failures are printed and the attempts still run.
void ensure_browser_for_retry(nb::handle context) {
  auto failure = attempt([&] {
    auto config = get_true_attr(context, "framework_config");
    if (!config) return;
    nb::object browser = nb::getattr(*config, "browser");
    if (!truthy(browser)) {
      config->attr("setup_playwright")();
      print_line(kBrowserRestarted);
    } else if (auto is_connected = get_attr(browser, "is_connected");
               is_connected && PyCallable_Check(is_connected->ptr()) && !truthy((*is_connected)())) {
      // The browser process died: a new one, also for the runner context.
      nb::setattr(context, "browser", config->attr("relaunch_browser")());
      if (has_attr(context, "page")) nb::setattr(context, "page", nb::none());
      print_line(kBrowserRestarted);
    }
    if (!get_true_attr(context, "page")) nb::setattr(context, "page", config->attr("create_page")());
  });
  if (failure) print_line(retry_browser_failed(failure->text));
}

// A blank page to run on: the current one navigated to about:blank, or a new
// one when there is none or the navigation fails.
std::optional<Failure> prepare_page(nb::handle context) {
  return attempt([&] {
    auto page = get_true_attr(context, "page");
    if (page) {
      auto nav = attempt([&] { page->attr("goto")("about:blank"); });
      if (!nav) return;
      attempt([&] { page->attr("close")(); });  // a page that will not close is dropped anyway
    }
    nb::setattr(context, "page", create_page(context));
  });
}

constexpr const char* kEvidenceModule = "tarvolab_framework.core.evidence";

// One step as the core sees it: keyword, name, and the table and doc string
// that belong to it (behave keeps them as step.table and step.text).
StepLine step_line_of(nb::handle step) {
  StepLine line{to_str(nb::getattr(step, "keyword")), to_str(nb::getattr(step, "name")), {}, {}, ""};
  if (auto type = get_attr(step, "step_type"); type && !type->is_none()) line.step_type = to_str(*type);
  if (auto table = get_attr(step, "table"); table && !table->is_none()) {
    StepTable t;
    for (nb::handle h : nb::getattr(*table, "headings")) t.headings.push_back(to_str(h));
    for (nb::handle row : nb::getattr(*table, "rows")) {
      std::vector<std::string> cells;
      for (nb::handle c : nb::getattr(row, "cells")) cells.push_back(to_str(c));
      t.rows.push_back(std::move(cells));
    }
    line.table = std::move(t);
  }
  if (auto text = get_attr(step, "text"); text && !text->is_none()) line.text = to_str(*text);
  return line;
}

// The scenario's steps. A feature's Background steps run before every
// scenario, and the scenario's own steps rely on them, so behave's
// `background_steps` (when the scenario has any) come first.
std::vector<StepLine> step_lines_of(nb::handle scenario_obj) {
  std::vector<StepLine> lines;
  auto add = [&](nb::handle steps) {
    for (nb::handle step : steps) lines.push_back(step_line_of(step));
  };
  if (auto background = get_attr(scenario_obj, "background_steps"); background && !background->is_none())
    add(*background);
  add(nb::getattr(scenario_obj, "steps"));
  resolve_continuation_keywords(lines);
  return lines;
}

// execute_steps does not call the step hooks, so the element locator is told
// about each re-run step here, as before_step does during the run: a heal made
// in the retry pass then names its step, scenario and feature.
void set_retry_healing_context(nb::handle context, nb::handle scenario_obj, const StepLine& step) {
  auto locator = get_attr(context, "element_locator");
  if (!locator || locator->is_none()) return;
  nb::object scenario_name = py_str("");
  nb::object feature_name = py_str("");
  (void)attempt([&] {
    scenario_name = nb::getattr(scenario_obj, "name");
    if (auto feature = get_true_attr(scenario_obj, "feature")) feature_name = feature->attr("name");
  });
  locator->attr("set_healing_context")(nb::arg("step_text") = py_str(step.name),
                                       nb::arg("scenario_name") = scenario_name,
                                       nb::arg("feature_name") = feature_name,
                                       nb::arg("action_context") = py_str(tarvo::lifecycle::infer_action_from_step(step.name)));
}

// Re-runs one scenario's steps through the runner. True when every step passed.
// Failures of the steps are printed here; a failure in the bookkeeping around
// them (clearing variables, reading the steps or the feature) is raised.
bool execute_retry(nb::handle context, nb::handle scenario_obj, long long retry_attempt) {
  if (auto failure = prepare_page(context)) {
    print_line(page_preparation_failed(failure->text));
    return false;
  }
  if (auto vars = get_attr(context, "variable_manager")) vars->attr("clear_scenario_variables")();

  if (!truthy(scenario_obj) || !has_attr(scenario_obj, "steps")) {
    print_line(kNoValidSteps);
    return false;
  }
  std::vector<StepLine> steps = step_lines_of(scenario_obj);
  if (steps_text_blank(build_steps_text(steps))) {
    print_line(kNoStepsToRun);
    return false;
  }

  // Evidence of the attempt (trace chunk, soft assertions, screenshots) is
  // started and finished around the steps; its own failures are warnings.
  import_attr(kEvidenceModule, "retry_attempt_started")(context, scenario_obj, retry_attempt);

  // The feature and scenario are put back before the failure's text is taken:
  // str() of an exception can fail too, and the runner's must be restored anyway.
  // The scenario is set too because behave 1.3 runs the step hooks for these
  // steps, and they read the running scenario's name from the context.
  // Each step runs on its own, with its table and doc string, so the locator
  // can be told which step is running.
  nb::object original_feature = nb::getattr(context, "feature");
  std::optional<nb::object> original_scenario = get_attr(context, "scenario");
  // capture(): Ctrl-C is raised only after the runner's feature and scenario
  // are back on the context.
  std::optional<Failure> failure = capture([&] {
    nb::setattr(context, "feature", nb::getattr(scenario_obj, "feature"));
    nb::setattr(context, "scenario", scenario_obj);
    for (const StepLine& step : steps) {
      set_retry_healing_context(context, scenario_obj, step);
      context.attr("execute_steps")(py_str(build_step_text(step)));
    }
  });
  const bool failed = failure.has_value();
  nb::setattr(context, "feature", original_feature);
  if (original_scenario) {
    nb::setattr(context, "scenario", *original_scenario);
  } else if (PyObject_HasAttrString(context.ptr(), "scenario") && PyObject_DelAttrString(context.ptr(), "scenario") != 0) {
    PyErr_Clear();  // a context that had no scenario gets none back
  }
  if (failure && !failure->exc.is_none()) {
    if (failure->is_interrupt()) reraise(*failure);  // Ctrl-C or SystemExit: not a failing step, goes on unchanged
    // The step's message may hold half an emoji or a typed password.
    nb::object shown = import_attr("tarvolab_framework.core.secrets", "mask")(py_str(failure->text));
    print_line(failure->is_assertion_error() ? step_assertion_line(to_str(shown)) : step_error_line(to_str(shown)));
  } else if (failure) {
    print_line(step_error_line(failure->text));
  }
  // Soft-assertion failures of the re-run also keep the scenario failing.
  nb::object passed = import_attr(kEvidenceModule, "retry_attempt_finished")(context, scenario_obj, retry_attempt,
                                                                            nb::bool_(!failed));
  return truthy(passed);
}

// The runner context and the recorded failed entries, seen by the attempt loop.
class ContextRetryTarget : public RetryTarget {
 public:
  ContextRetryTarget(nb::handle context, nb::list entries) : context_(context), entries_(std::move(entries)) {}

  void attempt_started(long long attempt) override { attempt_ = attempt; }

  std::string name(std::size_t entry) override { return to_str(nb::object(entries_[entry]["name"])); }

  RetryOutcome run(std::size_t entry) override {
    bool passed = false;
    auto failure = attempt([&] {
      nb::object scenario_obj = nb::object(entries_[entry]).attr("get")("scenario_obj");
      passed = execute_retry(context_, scenario_obj, attempt_);
    });
    if (failure) return {RetryResult::Error, failure->text};
    return {passed ? RetryResult::Passed : RetryResult::StillFailing, ""};
  }

  void ensure_browser() override { ensure_browser_for_retry(context_); }

  void close_page() override {
    attempt([&] {
      if (auto page = get_true_attr(context_, "page")) {
        page->attr("close")();
        nb::setattr(context_, "page", nb::none());
      }
    });
  }

 private:
  nb::handle context_;
  nb::list entries_;
  long long attempt_ = 1;
};

void evidence_guarded(const char* function, nb::handle context) {
  printing_failure(&tarvo::evidence::evidence_failed, [&] { import_attr(kEvidenceModule, function)(context); });
}

// Run end: the retry pass, then the integrations' run-end dispatch. A bad
// MAX_SCENARIO_RETRIES fails the hook before anything else runs.
void auto_after_all(nb::handle context) {
  PyEnvironment env;
  RetrySettings settings = read_retry_settings(env);  // std::invalid_argument reaches Python as ValueError

  // The list is read always, but only looked into when retries are on: with
  // retries off its content must not keep the run-end integrations from running.
  auto failed = get_attr(context, "_failed_scenarios_for_retry");
  nb::list entries;
  if (settings.enabled && failed && truthy(*failed))
    for (nb::handle e : *failed) entries.append(e);

  ContextRetryTarget target(context, entries);
  PyConsole console;
  // After Ctrl-C (the runner marks the run aborted) nothing is retried.
  run_retry_pass(settings, nb::len(entries), target, console, attr_true(context, "aborted"));

  // The final outcomes are settled before the integrations and reports read
  // them; the healing report, the outcome summary and the wait for the video
  // copies come after, so they include the retry pass.
  evidence_guarded("retry_pass_finished", context);
  this_module().attr("_auto_after_all_integrations")(context);
  evidence_guarded("run_finished", context);
}

}  // namespace

void register_retry(nb::module_& m) {
  m.def("_ensure_browser_for_retry", &ensure_browser_for_retry, nb::arg("context"),
        "Makes sure a browser and a page exist before the retry attempts.");
  m.def("_execute_retry",
        [](nb::handle context, nb::handle scenario_obj, nb::handle) { return execute_retry(context, scenario_obj, 1); },
        nb::arg("context"), nb::arg("scenario_obj").none(),
        nb::arg("step_registry").none() = nb::none(),
        "Re-runs a failed scenario's steps through context.execute_steps; True when they all passed.");
  m.def("auto_after_all", &auto_after_all, nb::arg("context"),
        "Hook automático after_all que maneja todas las integraciones y reintentos");
}

}  // namespace tarvo::py::runwright
