// The ports the lifecycle core (core/lifecycle/page_policy) works on, for one
// hook call on behave's runner context: the browser session (the context's
// browser, page and remembered viewport, Playwright's pages), the context's
// logger and the console. A Python failure behind a port waits in slot() for
// run_core to raise it again unchanged.
#pragma once
#include <memory>

#include "bindings/common/pyutil.hpp"
#include "services/browser.hpp"

namespace tarvo::py::runwright {

class ScenarioPorts {
 public:
  explicit ScenarioPorts(nb::handle context);
  ~ScenarioPorts();
  ScenarioPorts(const ScenarioPorts&) = delete;
  ScenarioPorts& operator=(const ScenarioPorts&) = delete;

  FailureSlot& slot();
  BrowserSession& session();
  Logger& log();
  Console& console();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tarvo::py::runwright
