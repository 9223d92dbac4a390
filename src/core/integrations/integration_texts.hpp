// The three test-management integrations as the run sees them: which variable
// switches each one on, where its component lives, which runner-context
// attributes it leaves behind, and the fixed console texts of its set-up and
// run-end calls. Plain data and text builders; the Python glue reads them.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "services/environment.hpp"

namespace tarvo::integrations {

struct IntegrationSetup {
  std::string env_var;         // JIRA_ENABLED, ...
  std::string module;          // dotted module path of the component
  std::string component;       // class name inside that module
  std::string enabled_attr;    // flag attribute on the context; empty when the tool has none
  std::string hooks_attr;      // attribute holding the integration object
  std::string success;         // printed after a complete set-up; empty: nothing printed
  std::string unavailable;     // printed when the component cannot be loaded
  bool unavailable_with_text;  // the loader's text follows the unavailability message
  std::string error_prefix;    // printed, followed by the failure's text, on any other failure
  std::string after_all_error_prefix;  // run-end call failure
};

// A tool is on exactly when its variable, lower-cased, equals "true". No trimming:
// " true" is off. An unset variable is off (the settings table's default).
bool integration_enabled(const IntegrationSetup& setup, const Environment& env);

const IntegrationSetup& jira_xray_setup();
const IntegrationSetup& meridio_setup();
const IntegrationSetup& tarvo_tm_setup();

// The line printed when a set-up failed: the unavailability message for a
// loading failure, else the error prefix followed by the failure's text.
std::string setup_failure_message(const IntegrationSetup& setup, bool loading_failure,
                                  const std::string& failure_text);

// Text of the loading failure raised when a module loads but lacks the class,
// worded as Python's own "from module import name" failure.
std::string missing_component_text(const IntegrationSetup& setup);

}  // namespace tarvo::integrations
