// tarvolab_framework.core.locmender: the AI locator self-healing manager.
// The decisions live in the C++ core (core/healing); this file adapts Python
// arguments, keeps `healing_log` and `_provider` as instance attributes (so
// Python sees and may replace them), and re-raises the original Python
// exception when a page or provider failure escapes the core.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "bindings/common/pyutil.hpp"
#include "bindings/locmender/adapters.hpp"
#include "bindings/locmender/fingerprint_matcher.hpp"
#include "core/healing/locmender.hpp"
#include "core/healing/messages.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using tarvo::healing::HealingIo;
using tarvo::healing::HealingSettings;

namespace {

constexpr const char* kLoggerName = "tarvolab_framework.core.locmender";

struct PyLocmender {
  explicit PyLocmender(HealingSettings s) : core(std::move(s)) {}
  tarvo::healing::Locmender core;
};

using Self = nb::pointer_and_handle<PyLocmender>;

// Console, logger, provider slot and log sink for one operation.
struct CallIo {
  explicit CallIo(nb::handle owner) : logger(kLoggerName), providers(owner, slot), sink(owner) {}
  tarvo::py::FailureSlot slot;
  tarvo::py::PyConsole console;
  tarvo::py::PyLogger logger;
  tarvo::py::PyProviderSlot providers;
  tarvo::py::PyLogSink sink;
  HealingIo io{console, logger, providers, sink};
};

// The texts of the healing calls go into a model prompt: Strict (see pyutil).
std::string prompt_text(nb::handle value, const char* function, const char* name) {
  return tarvo::py::text_arg(value, function, name, tarvo::py::Surrogates::Strict);
}

template <typename F>
auto run_core(CallIo& call, F&& f) -> decltype(f()) {
  return tarvo::py::run_core(call.slot, std::forward<F>(f));
}

nb::object optional_text(const std::optional<std::string>& t) {
  return t ? nb::object(tarvo::py::py_str(*t)) : nb::none();
}

tarvo::healing::PromptContext prompt_context(nb::handle failed_selector, nb::handle element_name,
                                             nb::handle action_context, nb::handle step_text,
                                             nb::handle scenario_name, nb::handle feature_name, nb::handle page_url,
                                             nb::handle page_title, nb::handle html_content, const char* fn) {
  return {prompt_text(failed_selector, fn, "failed_selector"), prompt_text(element_name, fn, "element_name"),
          prompt_text(action_context, fn, "action_context"),   prompt_text(step_text, fn, "step_text"),
          prompt_text(scenario_name, fn, "scenario_name"),     prompt_text(feature_name, fn, "feature_name"),
          prompt_text(page_url, fn, "page_url"),               prompt_text(page_title, fn, "page_title"),
          prompt_text(html_content, fn, "html_content")};
}

nb::object summary(Self self) {
  nb::object log = nb::getattr(self.h, "healing_log");
  long long total = 0, successful = 0;
  for (nb::handle entry : log) {
    ++total;
    if (tarvo::py::truthy(entry["success"])) ++successful;
  }
  nb::dict d;
  d["total_attempts"] = total;
  d["successful"] = successful;
  d["failed"] = total - successful;
  d["success_rate"] = tarvo::healing::success_rate(total, successful);
  d["healings"] = log;
  return d;
}

nb::list report_entries(Self self) {
  nb::list out;
  for (nb::handle entry : nb::getattr(self.h, "healing_log")) {
    bool success = tarvo::py::truthy(entry["success"]);
    nb::dict d;
    d["type"] = "self_healing";
    d["status"] = success ? "healed" : "failed";
    d["message"] = tarvo::healing::report_message(success, nb::cast<std::string>(entry["original_selector"]),
                                                  nb::cast<std::string>(entry["suggested_selector"]));
    d["step"] = entry["step"];
    d["scenario"] = entry["scenario"];
    d["feature"] = entry["feature"];
    d["timestamp"] = entry["timestamp"];
    out.append(d);
  }
  return out;
}

}  // namespace

NB_MODULE(locmender, m) {
  m.doc() =
      "Locmender: repairs element locators that stopped matching with a selector suggested by an "
      "AI model and verified on the live page, with a cache, a memory of rejected suggestions and "
      "a healing log for reports.";
  // Playwright keeps caller frames alive (for its stack traces) that reach the
  // runner context and so our objects; they are still referenced when the
  // interpreter exits, which is expected, not a leak worth a warning.
  nb::set_leak_warnings(false);
  tarvo::py::register_config_error(m);
  tarvo::py::bind_fingerprint_matcher(m);
  nb::class_<PyLocmender>(m, "Locmender", nb::dynamic_attr(),
                          "Repairs element locators that stopped matching by asking an AI model for a "
                          "replacement selector and verifying it on the live page.")
      .def("__init__",
           [](Self self) {
             tarvo::py::PyEnvironment env;
             HealingSettings settings = HealingSettings::from_environment(env);
             new (self.p) PyLocmender(std::move(settings));
             nb::setattr(self.h, "healing_log", nb::list());
             nb::setattr(self.h, "_provider", nb::none());
           })
      .def_prop_rw(
          "enabled", [](PyLocmender& t) { return t.core.settings.enabled; },
          [](PyLocmender& t, nb::handle v) { t.core.settings.enabled = tarvo::py::truthy(v); },
          nb::arg("value").none())
      .def_prop_rw(
          "model", [](PyLocmender& t) { return optional_text(t.core.settings.model); },
          [](PyLocmender& t, nb::handle v) {
            if (v.is_none())
              t.core.settings.model.reset();
            else
              t.core.settings.model = prompt_text(v, "model", "model");
          },
          nb::arg("value").none())
      .def_prop_rw(
          "auto_update_pom", [](PyLocmender& t) { return t.core.settings.auto_update_pom; },
          [](PyLocmender& t, nb::handle v) { t.core.settings.auto_update_pom = tarvo::py::truthy(v); },
          nb::arg("value").none())
      .def_prop_rw(
          "max_retries", [](PyLocmender& t) { return t.core.settings.max_retries; },
          [](PyLocmender& t, long long v) { t.core.settings.max_retries = v; })
      .def_prop_rw(
          "log_suggestions", [](PyLocmender& t) { return t.core.settings.log_suggestions; },
          [](PyLocmender& t, nb::handle v) { t.core.settings.log_suggestions = tarvo::py::truthy(v); },
          nb::arg("value").none())
      .def_prop_rw(
          "max_html_length", [](PyLocmender& t) { return t.core.settings.max_html_length; },
          [](PyLocmender& t, long long v) { t.core.settings.max_html_length = v; })
      .def_prop_rw(
          "confidence_threshold", [](PyLocmender& t) { return t.core.settings.confidence_threshold; },
          [](PyLocmender& t, double v) { t.core.settings.confidence_threshold = v; })
      .def_prop_rw(
          "_verified_nth_index", [](PyLocmender& t) { return t.core.verified_nth_index; },
          [](PyLocmender& t, std::optional<long long> v) { t.core.verified_nth_index = v; }, nb::arg("value").none())
      .def_prop_ro(
          "_ai_calls", [](PyLocmender& t) { return t.core.ai_calls; },
          "Number of calls made to the AI provider by this manager so far.")
      .def_prop_ro("_cache",
                   [](PyLocmender& t) {
                     nb::dict d;
                     for (const auto& [key, selector] : t.core.cache.items()) d[key.c_str()] = selector;
                     return d;
                   })
      .def_prop_ro("_failed_suggestions",
                   [](PyLocmender& t) {
                     nb::dict d;
                     for (const auto& [key, selectors] : t.core.failed_suggestions.items()) {
                       nb::list l;
                       for (const auto& s : selectors) l.append(s);
                       d[key.c_str()] = l;
                     }
                     return d;
                   })
      .def(
          "attempt_heal",
          [](Self self, nb::object page, nb::handle failed_selector, nb::handle element_name,
             nb::handle action_context, nb::handle step_text, nb::handle scenario_name, nb::handle feature_name,
             nb::handle html_excerpt, nb::handle veto) {
            const char* fn = "attempt_heal";
            tarvo::healing::HealRequest req{prompt_text(failed_selector, fn, "failed_selector"),
                                            prompt_text(element_name, fn, "element_name"),
                                            prompt_text(action_context, fn, "action_context"),
                                            prompt_text(step_text, fn, "step_text"),
                                            prompt_text(scenario_name, fn, "scenario_name"),
                                            prompt_text(feature_name, fn, "feature_name")};
            if (!html_excerpt.is_none()) req.html_excerpt = prompt_text(html_excerpt, fn, "html_excerpt");
            if (!veto.is_none()) {
              nb::object check = nb::borrow(veto);
              req.veto = [check](const std::string& selector) -> std::optional<std::string> {
                // Runs the owner's check; its own failure refuses the suggestion
                // (KeyboardInterrupt and SystemExit still reach the caller).
                std::optional<std::string> reason;
                auto failure = tarvo::py::attempt([&] {
                  nb::object answer = check(tarvo::py::py_str(selector));
                  if (!answer.is_none() && tarvo::py::truthy(answer)) reason = nb::cast<std::string>(nb::str(answer));
                });
                if (failure) reason = tarvo::healing::veto_check_failed(failure->text);
                return reason;
              };
            }
            CallIo call(self.h);
            tarvo::py::PyPage p(page, call.slot);
            auto healed = run_core(call, [&] { return self.p->core.attempt_heal(call.io, p, req); });
            return optional_text(healed);
          },
          "page"_a.none(), "failed_selector"_a.none(), "element_name"_a.none(), "action_context"_a.none(),
          "step_text"_a.none() = nb::str(""), "scenario_name"_a.none() = nb::str(""),
          "feature_name"_a.none() = nb::str(""), nb::kw_only(), "html_excerpt"_a.none() = nb::none(), "veto"_a.none() = nb::none(),
          "Returns a verified replacement selector for failed_selector, or None. html_excerpt, when given, is "
          "the HTML shown to the model instead of the start of the page body; veto, when given, is called "
          "with each suggestion that passed the page check and refuses it by returning a reason.")
      .def("get_healing_summary", &summary,
           "Counts, success rate and the live healing log (total_attempts, successful, failed, "
           "success_rate, healings).")
      .def("get_healing_report_entries", &report_entries,
           "One report entry (type, status, message, step, scenario, feature, timestamp) per log entry.")
      .def("clear_cache", [](PyLocmender& t) { t.core.clear_cache(); },
           "Forgets healed selectors and rejected suggestions; the log stays.")
      .def("clear_log", [](Self self) { nb::getattr(self.h, "healing_log").attr("clear")(); },
           "Empties the healing log.")
      .def("_get_provider",
           [](Self self) -> nb::object {
             CallIo call(self.h);
             auto* provider = run_core(call, [&] { return self.p->core.get_provider(call.io); });
             if (!provider) return nb::none();
             return nb::getattr(self.h, "_provider");
           })
      .def(
          "_capture_relevant_html",
          [](Self self, nb::object page) {
            CallIo call(self.h);
            tarvo::py::PyPage p(page, call.slot);
            return run_core(call, [&] { return self.p->core.capture_relevant_html(call.io, p); });
          },
          "page"_a.none())
      .def(
          "_build_prompt",
          [](nb::handle, nb::handle a, nb::handle b, nb::handle c, nb::handle d, nb::handle e, nb::handle f,
             nb::handle g, nb::handle h, nb::handle i) {
            return tarvo::healing::build_prompt(prompt_context(a, b, c, d, e, f, g, h, i, "_build_prompt"));
          },
          "failed_selector"_a.none(), "element_name"_a.none(), "action_context"_a.none(), "step_text"_a.none(),
          "scenario_name"_a.none(), "feature_name"_a.none(), "page_url"_a.none(), "page_title"_a.none(),
          "html_content"_a.none())
      .def(
          "_build_retry_prompt",
          [](nb::handle, nb::handle a, nb::handle b, nb::handle c, nb::handle d, nb::handle e, nb::handle f,
             nb::handle g, nb::handle h, nb::handle i, nb::handle failed_attempts) {
            auto ctx = prompt_context(a, b, c, d, e, f, g, h, i, "_build_retry_prompt");
            if (!PyList_Check(failed_attempts.ptr()))
              throw nb::type_error((std::string("_build_retry_prompt() argument 'failed_attempts' must be list, "
                                                "not ") +
                                    tarvo::py::type_name(failed_attempts))
                                       .c_str());
            std::vector<tarvo::healing::FailedAttempt> failed;
            auto record_text = [](nb::handle record, const char* key) {
              nb::object v = record[key];
              return tarvo::py::text_arg(
                  v, std::string("_build_retry_prompt() argument 'failed_attempts': '") + key + "' of a record",
                  tarvo::py::Surrogates::Strict);
            };
            for (nb::handle record : failed_attempts)
              failed.push_back({record_text(record, "selector"), record_text(record, "reason")});
            return tarvo::healing::build_retry_prompt(ctx, failed);
          },
          "failed_selector"_a.none(), "element_name"_a.none(), "action_context"_a.none(), "step_text"_a.none(),
          "scenario_name"_a.none(), "feature_name"_a.none(), "page_url"_a.none(), "page_title"_a.none(),
          "html_content"_a.none(), "failed_attempts"_a.none())
      .def(
          "_call_gemini",
          [](Self self, nb::handle prompt) {
            std::string text = prompt_text(prompt, "_call_gemini", "prompt");
            CallIo call(self.h);
            return optional_text(run_core(call, [&] { return self.p->core.call_ai(call.io, text); }));
          },
          "prompt"_a.none())
      .def(
          "_is_valid_selector",
          [](nb::handle, nb::handle selector) {
            return tarvo::healing::is_valid_selector(prompt_text(selector, "_is_valid_selector", "selector"));
          },
          "selector"_a.none())
      .def(
          "_verify_selector",
          [](Self self, nb::object page, nb::handle selector) {
            std::string sel = prompt_text(selector, "_verify_selector", "selector");
            CallIo call(self.h);
            tarvo::py::PyPage p(page, call.slot);
            return run_core(call, [&] { return self.p->core.verify_selector(call.io, p, sel); });
          },
          "page"_a.none(), "selector"_a.none())
      .def(
          "_verify_single_element",
          [](Self self, nb::object page, nb::handle selector, nb::object locator) {
            std::string sel = prompt_text(selector, "_verify_single_element", "selector");
            CallIo call(self.h);
            tarvo::py::PyPage p(page, call.slot);
            tarvo::py::PyLocator l(locator, call.slot);
            return run_core(call, [&] { return self.p->core.verify_single_element(call.io, p, sel, l); });
          },
          "page"_a.none(), "selector"_a.none(), "locator"_a.none())
      .def(
          "_is_salesforce_page",
          [](Self self, nb::object page) {
            CallIo call(self.h);
            tarvo::py::PyPage p(page, call.slot);
            return run_core(call, [&] { return self.p->core.is_salesforce_page(p); });
          },
          "page"_a.none())
      .def(
          "_validate_salesforce_selector",
          [](Self self, nb::object page, nb::object locator) {
            (void)page;  // the checks use the locator only
            CallIo call(self.h);
            tarvo::py::PyLocator l(locator, call.slot);
            return run_core(call, [&] { return self.p->core.validate_salesforce_selector(call.io, l); });
          },
          "page"_a.none(), "locator"_a.none())
      .def(
          "_register_healing",
          [](Self self, nb::handle failed_selector, nb::handle suggested_selector, nb::handle element_name,
             nb::handle action_context, nb::handle step_text, nb::handle scenario_name, nb::handle feature_name,
             nb::handle page_url, nb::handle success) {
            // Arguments are checked in their order, so the first bad one is named.
            const char* fn = "_register_healing";
            std::string failed = prompt_text(failed_selector, fn, "failed_selector");
            std::string suggested = prompt_text(suggested_selector, fn, "suggested_selector");
            tarvo::healing::HealRequest req{failed,
                                            prompt_text(element_name, fn, "element_name"),
                                            prompt_text(action_context, fn, "action_context"),
                                            prompt_text(step_text, fn, "step_text"),
                                            prompt_text(scenario_name, fn, "scenario_name"),
                                            prompt_text(feature_name, fn, "feature_name")};
            std::string url = prompt_text(page_url, fn, "page_url");
            bool ok = tarvo::py::truthy(success);
            CallIo call(self.h);
            self.p->core.register_healing(call.io, req, suggested, url, ok);
          },
          "failed_selector"_a.none(), "suggested_selector"_a.none(), "element_name"_a.none(),
          "action_context"_a.none(), "step_text"_a.none(), "scenario_name"_a.none(), "feature_name"_a.none(),
          "page_url"_a.none(), "success"_a.none());
}
