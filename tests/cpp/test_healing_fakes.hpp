// In-memory page, locator and AI provider for the self-healing tests.
#pragma once
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/healing/locmender.hpp"

namespace tarvo::healing::testing {

struct FakeElement {
  bool visible = true;
  bool interactable = true;  // enabled and laid out
  bool visibility_fails = false;
};

struct FakePage : Page {
  std::string url_text = "https://shop.example.com/login";
  bool url_fails = false;
  std::string title_text = "Tienda";
  std::optional<ScriptValue> html = ScriptValue::of_text("<button id=\"real\">Entrar</button>");
  std::optional<ScriptValue> body_class = ScriptValue::of_text("");
  std::map<std::string, std::vector<FakeElement>> elements;
  std::vector<std::string> bad_selectors;  // count() fails on these
  std::vector<std::string> locator_calls;
  int evaluate_calls = 0;

  std::string url() override {
    if (url_fails) throw PageError("Target page, context or browser has been closed");
    return url_text;
  }
  std::string title() override { return title_text; }
  ScriptValue evaluate(const std::string& script) override {
    ++evaluate_calls;
    const auto& v = script.find("className") != std::string::npos ? body_class : html;
    if (!v) throw PageError("Evaluation failed");
    return *v;
  }
  std::unique_ptr<Locator> locator(const std::string& selector) override;
};

struct FakeLocator : Locator {
  FakePage* page;
  std::string selector;
  std::optional<long long> index;
  FakeLocator(FakePage* p, std::string s, std::optional<long long> i = std::nullopt)
      : page(p), selector(std::move(s)), index(i) {}
  std::vector<FakeElement> matches() {
    for (const auto& bad : page->bad_selectors)
      if (bad == selector) throw PageError("Unexpected token in selector");
    auto it = page->elements.find(selector);
    std::vector<FakeElement> all = it == page->elements.end() ? std::vector<FakeElement>{} : it->second;
    if (!index) return all;
    if (*index < static_cast<long long>(all.size())) return {all[*index]};
    return {};
  }
  long long count() override { return static_cast<long long>(matches().size()); }
  std::unique_ptr<Locator> nth(long long i) override { return std::make_unique<FakeLocator>(page, selector, i); }
  bool is_visible() override {
    auto m = matches();
    if (m.empty()) return false;
    if (m[0].visibility_fails) throw PageError("visibility query failed");
    return m[0].visible;
  }
  ScriptValue evaluate(const std::string&) override {
    auto m = matches();
    if (m.empty()) throw PageError("Timeout waiting for locator");
    return ScriptValue::boolean(m[0].interactable);
  }
};

inline std::unique_ptr<Locator> FakePage::locator(const std::string& selector) {
  locator_calls.push_back(selector);
  return std::make_unique<FakeLocator>(this, selector);
}

struct FakeProvider : AiProvider {
  // nullopt answer = empty reply; "!raise" = the call fails.
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> prompts;
  std::optional<std::string> generate(const std::string& prompt, double temperature) override {
    prompts.push_back(prompt);
    last_temperature = temperature;
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    if (a && *a == "!raise") throw ProviderError("quota exceeded");
    return a;
  }
  double last_temperature = 0;
};

struct FakeSlot : AiProviderSlot {
  FakeProvider provider;
  bool created = false;
  std::optional<ProviderError> factory_error;
  std::vector<std::optional<std::string>> models_asked;
  AiProvider* stored() override { return created ? &provider : nullptr; }
  AiProvider* create(const std::optional<std::string>& model) override {
    models_asked.push_back(model);
    if (factory_error) throw *factory_error;
    created = true;
    return &provider;
  }
};

struct VectorSink : HealingLogSink {
  std::vector<HealingEntry> entries;
  void append(const HealingEntry& e) override { entries.push_back(e); }
};

inline LocalTime fixed_clock() { return {2026, 12, 7, 21, 30, 5, 0}; }

// Everything one test needs, wired together.
struct Rig {
  RecordingConsole console;
  RecordingLogger log;
  FakeSlot slot;
  VectorSink sink;
  HealingIo io{console, log, slot, sink, &fixed_clock};
  FakePage page;
  Locmender manager{enabled_settings()};

  static HealingSettings enabled_settings() {
    HealingSettings s;
    s.enabled = true;
    return s;
  }
  std::optional<std::string> heal(const std::string& failed = "#old-login") {
    return manager.attempt_heal(io, page, {failed, "login_button", "click", "When hago clic en entrar",
                                           "Acceso", "Login"});
  }
  std::vector<std::string> messages(LogLevel level) const {
    std::vector<std::string> out;
    for (const auto& r : log.records)
      if (r.level == level) out.push_back(r.message);
    return out;
  }
};

}  // namespace tarvo::healing::testing
