// Bindings of the outcome and artefact decisions (core/lifecycle/outcomes,
// core/evidence/artefacts) for the Python evidence, outcome and runner modules.
// Only conversions here: every rule lives in the core.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <stdexcept>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/evidence/artefacts.hpp"
#include "core/lifecycle/outcomes.hpp"

namespace tarvo::py::runwright {

namespace {

namespace lc = tarvo::lifecycle;
namespace ev = tarvo::evidence;

lc::FinalOutcome outcome_from_name(const std::string& name) {
  for (lc::FinalOutcome o : {lc::FinalOutcome::Passed, lc::FinalOutcome::Failed, lc::FinalOutcome::Flaky,
                             lc::FinalOutcome::PassedWithSoftFailures, lc::FinalOutcome::Skipped}) {
    if (lc::outcome_name(o) == name) return o;
  }
  throw std::invalid_argument("unknown outcome: '" + name + "'");
}

std::vector<lc::FinalOutcome> outcomes_from_names(const std::vector<std::string>& names) {
  std::vector<lc::FinalOutcome> out;
  for (const auto& n : names) out.push_back(outcome_from_name(n));
  return out;
}

ev::ArtefactMode mode_from_name(const std::string& name) {
  auto mode = ev::parse_artefact_mode(name, ev::ArtefactMode::Off);
  if (!mode) throw std::invalid_argument("unknown artefact mode: '" + name + "'");
  return *mode;
}

}  // namespace

void register_evidence(nb::module_& m) {
  m.def(
      "_final_outcome",
      [](const std::string& runner_status, std::size_t soft_failures, bool forced_failure, long long passed_on_retry) {
        return std::string(lc::outcome_name(
            lc::decide_outcome({runner_status, soft_failures, forced_failure, passed_on_retry})));
      },
      nb::arg("runner_status"), nb::arg("soft_failures"), nb::arg("forced_failure"), nb::arg("passed_on_retry"),
      "The scenario's final outcome: passed, failed, flaky, passed-with-soft-failures or skipped.");
  m.def(
      "_outcome_fails_run",
      [](const std::string& outcome, bool fail_on_flaky) {
        return lc::outcome_fails_run(outcome_from_name(outcome), fail_on_flaky);
      },
      nb::arg("outcome"), nb::arg("fail_on_flaky"), "Whether this final outcome makes the run fail.");
  m.def(
      "_run_exit_status",
      [](const std::vector<std::string>& outcomes, bool runner_failed_elsewhere, bool fail_on_flaky) {
        return lc::run_exit_status(outcomes_from_names(outcomes), runner_failed_elsewhere, fail_on_flaky);
      },
      nb::arg("outcomes"), nb::arg("runner_failed_elsewhere"), nb::arg("fail_on_flaky"),
      "The run's exit status (0 or 1) from the final outcomes.");
  m.def(
      "_outcome_summary_lines",
      [](const std::vector<std::tuple<std::string, std::string, long long, std::string>>& entries,
         bool fail_on_flaky) {
        std::vector<lc::SummaryEntry> in;
        for (const auto& [name, outcome, attempt, reason] : entries)
          in.push_back({name, outcome_from_name(outcome), attempt, reason});
        return lc::outcome_summary_lines(in, fail_on_flaky);
      },
      nb::arg("entries"), nb::arg("fail_on_flaky"),
      "Console lines of the run-end summary; entries are (name, outcome, retry attempt, reason).");
  m.def(
      "_xray_status", [](const std::string& outcome) { return lc::xray_status(outcome_from_name(outcome)); },
      nb::arg("outcome"), "PASSED, FAILED or TODO for a final outcome.");
  m.def("_flaky_comment", &lc::flaky_comment, nb::arg("attempt"),
        "The Xray comment of a flaky test, naming the retry attempt that passed.");

  m.def("_safe_name", [](nb::handle text, std::size_t max_bytes) { return ev::safe_name(utf8_of(text), max_bytes); },
        nb::arg("text"), nb::arg("max_bytes") = 80,
        "A file-name component of [A-Za-z0-9._-] only, never '.', '..' or empty.");
  m.def(
      "_unique_name",
      [](const std::string& stem, nb::handle taken) {
        return ev::unique_name(stem, [&](const std::string& s) { return truthy(taken(py_str(s))); });
      },
      nb::arg("stem"), nb::arg("taken"), "The first of stem, stem-2, ... for which taken(name) is false.");
  m.def(
      "_artefact_path",
      [](const std::string& feature_dir, const std::string& stem, long long retry, long long page,
         const std::string& ext) { return ev::artefact_path(feature_dir, stem, retry, page, ext); },
      nb::arg("feature_dir"), nb::arg("stem"), nb::arg("retry"),
        nb::arg("page"), nb::arg("ext"), "'<feature>/<stem>[-retryN][-pageK].<ext>'.");
  m.def(
      "_artefact_mode",
      [](const std::string& text, const std::string& fallback) -> std::optional<std::string> {
        auto mode = ev::parse_artefact_mode(text, mode_from_name(fallback));
        if (!mode) return std::nullopt;
        return std::string(ev::mode_name(*mode));
      },
      nb::arg("text"), nb::arg("fallback"),
      "off, on or retain-on-failure from a setting's text; None for a value that is none of them.");
  m.def(
      "_keep_artefact",
      [](const std::string& mode, bool failed) { return ev::keep_artefact(mode_from_name(mode), failed); },
      nb::arg("mode"), nb::arg("failed"), "Whether an artefact recorded under this mode is kept.");
}

}  // namespace tarvo::py::runwright
