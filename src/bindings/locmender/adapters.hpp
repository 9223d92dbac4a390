// Adapters from Playwright's sync page/locator objects and the Python AI
// provider to the self-healing core's interfaces. Every call into Python runs
// inside py::attempt, so a failure is already a value when the adapter throws
// the core's PageError/ProviderError; the original Python exception is kept in
// the FailureSlot so the binding can re-raise it unchanged if it escapes the core.
// KeyboardInterrupt and SystemExit are not turned into core errors: attempt()
// raises them again, the core does not catch them, and they reach the caller.
#pragma once
#include <memory>
#include <optional>

#include "bindings/common/pyutil.hpp"
#include "core/healing/locmender.hpp"

namespace tarvo::py {

ScriptValue to_script_value(nb::handle value);

class PyLocator : public Locator {
 public:
  PyLocator(nb::object locator, FailureSlot& slot) : locator_(std::move(locator)), slot_(slot) {}
  long long count() override;
  std::unique_ptr<Locator> nth(long long index) override;
  bool is_visible() override;
  ScriptValue evaluate(const std::string& script) override;

 private:
  nb::object locator_;
  FailureSlot& slot_;
};

class PyPage : public Page {
 public:
  PyPage(nb::object page, FailureSlot& slot) : page_(std::move(page)), slot_(slot) {}
  std::string url() override;
  std::string title() override;
  ScriptValue evaluate(const std::string& script) override;
  std::unique_ptr<Locator> locator(const std::string& selector) override;

 private:
  nb::object page_;
  FailureSlot& slot_;
};

class PyProvider : public AiProvider {
 public:
  PyProvider(nb::object provider, FailureSlot& slot) : provider_(std::move(provider)), slot_(slot) {}
  std::optional<std::string> generate(const std::string& prompt, double temperature) override;

 private:
  nb::object provider_;
  FailureSlot& slot_;
};

// The provider lives in the manager's Python attribute `_provider`; the
// factory get_ai_provider is looked up on its module at every creation.
class PyProviderSlot : public AiProviderSlot {
 public:
  PyProviderSlot(nb::handle owner, FailureSlot& slot) : owner_(owner), slot_(slot) {}
  AiProvider* stored() override;
  AiProvider* create(const std::optional<std::string>& model) override;

 private:
  nb::handle owner_;
  FailureSlot& slot_;
  std::unique_ptr<PyProvider> current_;
};

// Appends entries, as dicts, to the manager's Python list `healing_log`.
class PyLogSink : public healing::HealingLogSink {
 public:
  explicit PyLogSink(nb::handle owner) : owner_(owner) {}
  void append(const healing::HealingEntry& entry) override;

 private:
  nb::handle owner_;
};

}  // namespace tarvo::py
