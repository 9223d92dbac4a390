// The AI model as the self-healing core sees it: one text-generation call,
// plus the lazily created provider slot with its factory.
#pragma once
#include <optional>
#include <string>

#include "services/port_error.hpp"

namespace tarvo {

class ProviderError : public PortError {
 public:
  // recoverable: the factory could not load a module or name, or rejected a
  // value. Such a failure disables healing instead of reaching the caller.
  ProviderError(const std::string& text, bool recoverable = false)
      : PortError(text), recoverable_(recoverable) {}
  bool recoverable() const { return recoverable_; }

 private:
  bool recoverable_;
};

class AiProvider {
 public:
  virtual ~AiProvider() = default;
  // The model's answer; nullopt for an empty or absent answer. Throws
  // ProviderError when the call fails or the answer is not a text.
  virtual std::optional<std::string> generate(const std::string& prompt, double temperature) = 0;
};

// Holds the run's provider. The owner decides where it lives (the bindings
// keep it as the manager's Python attribute `_provider`).
class AiProviderSlot {
 public:
  virtual ~AiProviderSlot() = default;
  // The stored provider, or nullptr when none has been created yet.
  virtual AiProvider* stored() = 0;
  // Calls the factory with the model setting, stores the result and returns
  // it. Throws ProviderError on failure (nothing is stored then).
  virtual AiProvider* create(const std::optional<std::string>& model) = 0;
};

}  // namespace tarvo
