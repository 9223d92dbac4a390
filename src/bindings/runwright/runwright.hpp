// Registration entry points of the runwright extension module, one per source file.
#pragma once
#include <nanobind/nanobind.h>

namespace tarvo::py::runwright {

namespace nb = nanobind;

// startup.cpp
void bind_standard_facilities(nb::module_& m);
void bind_playwright(nb::module_& m);
void apply_startup_switches(nb::module_& m);
void bind_outside_services(nb::module_& m);

// framework_config.cpp
void register_framework_config(nb::module_& m);
// Raises ValueError naming config[key] when an edited settings value is of the
// wrong kind or outside the key's range.
void check_setting_value(const char* key, nb::handle value);

// settings.cpp: the settings table and single-setting reads for Python
void register_settings(nb::module_& m);

// lifecycle.cpp: setup_framework_context, setup_scenario_context, auto_after_scenario,
// auto_before_feature, auto_after_feature
void register_lifecycle(nb::module_& m);

// integrations.cpp: _setup_*_integration, _auto_after_all_integrations
void register_integrations(nb::module_& m);

// retry.cpp: _ensure_browser_for_retry, _execute_retry, auto_after_all
void register_retry(nb::module_& m);

// scale.cpp: planning of parallel and sharded runs, the retry pass run in batches
void register_scale(nb::module_& m);
// evidence.cpp: _final_outcome, _run_exit_status, _safe_name, _artefact_path, ...
void register_evidence(nb::module_& m);
// secrets.cpp: _mask_secrets, _is_secret_name, _is_maskable_value
void register_secrets(nb::module_& m);

// The runwright module object, for code that looks up the module's own
// attributes (its bound outside services) at the moment of use.
nb::module_ this_module();

}  // namespace tarvo::py::runwright
