#include "bindings/locmender/adapters.hpp"

#include <nanobind/stl/string.h>

#include "core/healing/messages.hpp"

namespace tarvo::py {

ScriptValue to_script_value(nb::handle value) {
  ScriptValue v;
  v.type_name = py::type_name(value);
  if (value.is_none()) return ScriptValue::null();
  v.truthy = truthy(value);
  if (PyBool_Check(value.ptr())) {
    v.kind = ScriptValue::Kind::Bool;
  } else if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) {
    v.kind = ScriptValue::Kind::Number;
  } else if (PyUnicode_Check(value.ptr())) {
    v.kind = ScriptValue::Kind::Text;
    v.text = utf8_of(value, Surrogates::Replace);
  } else {
    v.kind = ScriptValue::Kind::Other;
  }
  return v;
}

long long PyLocator::count() {
  return guarded<PageError>(slot_, [&] { return nb::cast<long long>(locator_.attr("count")()); });
}

std::unique_ptr<Locator> PyLocator::nth(long long index) {
  nb::object n = guarded<PageError>(slot_, [&] { return nb::object(locator_.attr("nth")(index)); });
  return std::make_unique<PyLocator>(std::move(n), slot_);
}

bool PyLocator::is_visible() {
  return guarded<PageError>(slot_, [&] { return truthy(locator_.attr("is_visible")()); });
}

// Page evaluations of the healing path go through page_eval, which bounds the
// whole call: Playwright's own evaluate never returns on a page whose script is
// stuck in a loop.
constexpr const char* kPageEvalModule = "tarvolab_framework.core.page_eval";

ScriptValue PyLocator::evaluate(const std::string& script) {
  return guarded<PageError>(slot_, [&] {
    return to_script_value(import_attr(kPageEvalModule, "evaluate_for_healing")(locator_, script));
  });
}

std::string PyPage::url() {
  return guarded<PageError>(slot_, [&] { return to_str(page_.attr("url"), Surrogates::Replace); });
}

std::string PyPage::title() {
  return guarded<PageError>(
      slot_, [&] { return to_str(import_attr(kPageEvalModule, "title_for_healing")(page_), Surrogates::Replace); });
}

ScriptValue PyPage::evaluate(const std::string& script) {
  return guarded<PageError>(slot_, [&] {
    return to_script_value(import_attr(kPageEvalModule, "evaluate_for_healing")(page_, script));
  });
}

std::unique_ptr<Locator> PyPage::locator(const std::string& selector) {
  nb::object loc = guarded<PageError>(slot_, [&] { return nb::object(page_.attr("locator")(selector)); });
  return std::make_unique<PyLocator>(std::move(loc), slot_);
}

std::optional<std::string> PyProvider::generate(const std::string& prompt, double temperature) {
  // The prompt holds the step text and the page's HTML: secrets (typed
  // passwords, secret settings) are masked before it leaves the process.
  nb::object reply = guarded<ProviderError>(slot_, [&] {
    nb::object masked = import_attr("tarvolab_framework.core.secrets", "mask")(py_str(prompt));
    return nb::object(provider_.attr("generate")(masked, nb::arg("temperature") = temperature));
  });
  std::optional<std::string> text;
  std::optional<std::string> wrong_kind;
  auto failure = attempt([&] {
    if (!truthy(reply)) return;
    if (!PyUnicode_Check(reply.ptr())) {
      wrong_kind = healing::no_strip_failure(py::type_name(reply));
      return;
    }
    text = utf8_of(reply, Surrogates::Replace);
  });
  if (failure) fail<ProviderError>(slot_, std::move(*failure));
  if (wrong_kind) throw ProviderError(*wrong_kind);
  return text;
}

AiProvider* PyProviderSlot::stored() {
  auto provider = get_attr(owner_, "_provider");
  if (!provider || provider->is_none()) return nullptr;
  current_ = std::make_unique<PyProvider>(*provider, slot_);
  return current_.get();
}

AiProvider* PyProviderSlot::create(const std::optional<std::string>& model) {
  constexpr const char* kModule = "tarvolab_framework.core.ai_provider";
  constexpr const char* kFactory = "get_ai_provider";
  nb::object created;
  bool missing_name = false;
  auto failure = attempt([&] {
    nb::object module = nb::module_::import_(kModule);
    auto factory = get_attr(module, kFactory);
    if (!factory) {
      missing_name = true;
      return;
    }
    nb::object model_arg = model ? nb::object(py_str(*model)) : nb::none();
    created = (*factory)(nb::arg("model") = model_arg);
  });
  if (missing_name)
    throw ProviderError(healing::missing_factory_failure(kModule, kFactory), true);
  if (failure) {
    bool recoverable = failure->is_import_error() || failure->is_value_error();
    fail<ProviderError>(slot_, std::move(*failure), recoverable);
  }
  nb::setattr(owner_, "_provider", created);
  if (created.is_none()) return nullptr;
  current_ = std::make_unique<PyProvider>(created, slot_);
  return current_.get();
}

void PyLogSink::append(const healing::HealingEntry& e) {
  nb::dict d;
  d["timestamp"] = e.timestamp;
  d["feature"] = e.feature;
  d["scenario"] = e.scenario;
  d["step"] = e.step;
  d["element_name"] = e.element_name;
  d["action"] = e.action;
  d["original_selector"] = e.original_selector;
  d["suggested_selector"] = e.suggested_selector;
  d["page_url"] = e.page_url;
  d["success"] = e.success;
  nb::getattr(owner_, "healing_log").attr("append")(d);
}

}  // namespace tarvo::py
