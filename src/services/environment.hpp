// The process environment as the core sees it. The bindings implement it over
// Python's os.environ; tests use MapEnvironment.
#pragma once
#include <map>
#include <optional>
#include <string>

namespace tarvo {

class Environment {
 public:
  virtual ~Environment() = default;
  virtual std::optional<std::string> get(const std::string& name) const = 0;
  virtual void set(const std::string& name, const std::string& value) = 0;

  // The variable's text, or fallback when it is not set at all.
  std::string get_or(const std::string& name, const std::string& fallback) const {
    auto v = get(name);
    return v ? *v : fallback;
  }
};

class MapEnvironment : public Environment {
 public:
  MapEnvironment() = default;
  explicit MapEnvironment(std::map<std::string, std::string> vars) : vars_(std::move(vars)) {}
  std::optional<std::string> get(const std::string& name) const override {
    auto it = vars_.find(name);
    if (it == vars_.end()) return std::nullopt;
    return it->second;
  }
  void set(const std::string& name, const std::string& value) override { vars_[name] = value; }
  const std::map<std::string, std::string>& vars() const { return vars_; }

 private:
  std::map<std::string, std::string> vars_;
};

}  // namespace tarvo
