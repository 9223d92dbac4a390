// The browser page as the self-healing core sees it. The bindings adapt
// Playwright's sync page and locator objects; tests use in-memory fakes.
// Every operation that fails in the browser (page closed, bad selector,
// evaluation error) throws PageError carrying the failure's own text.
#pragma once
#include <memory>
#include <string>

#include "services/port_error.hpp"

namespace tarvo {

class PageError : public PortError {
 public:
  using PortError::PortError;
};

// The value a page script returned, reduced to what callers decide on.
struct ScriptValue {
  enum class Kind { Null, Bool, Number, Text, Other };
  Kind kind = Kind::Null;
  bool truthy = false;    // the value's truth in the host language
  std::string text;       // the text for Kind::Text
  std::string type_name;  // host-language type name ("NoneType", "int", "list", ...)

  static ScriptValue null() { return {Kind::Null, false, "", "NoneType"}; }
  static ScriptValue boolean(bool b) { return {Kind::Bool, b, "", "bool"}; }
  static ScriptValue of_text(std::string t) {
    bool non_empty = !t.empty();
    return {Kind::Text, non_empty, std::move(t), "str"};
  }
};

class Locator {
 public:
  virtual ~Locator() = default;
  virtual long long count() = 0;
  virtual std::unique_ptr<Locator> nth(long long index) = 0;
  // Immediate query, no waiting.
  virtual bool is_visible() = 0;
  // Runs script with the matched element as its argument.
  virtual ScriptValue evaluate(const std::string& script) = 0;
};

class Page {
 public:
  virtual ~Page() = default;
  virtual std::string url() = 0;
  virtual std::string title() = 0;
  virtual ScriptValue evaluate(const std::string& script) = 0;
  virtual std::unique_ptr<Locator> locator(const std::string& selector) = 0;
};

}  // namespace tarvo
