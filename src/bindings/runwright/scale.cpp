// Planning functions for the parallel command (tarvo-run): worker count, shard
// slices, feature order, and the end-of-run retry pass when its attempts are run
// by another process. The decisions are in core/scale and core/lifecycle; this
// file converts and calls.
#include <nanobind/nanobind.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <map>

#include "bindings/common/pyutil.hpp"
#include "bindings/runwright/runwright.hpp"
#include "core/lifecycle/retry_report.hpp"
#include "core/lifecycle/retry_settings.hpp"
#include "core/scale/plan.hpp"

namespace tarvo::py::runwright {
namespace {

using namespace tarvo::scale;
using tarvo::lifecycle::RetryOutcome;
using tarvo::lifecycle::RetryResult;

// The retry pass of a parallel run: each attempt re-runs all its scenarios at
// once through `run_attempt(indices)`, which returns {index: True | False | text}
// (passed, still failing, or the text of an error).
class BatchRetryTarget : public tarvo::lifecycle::RetryTarget {
 public:
  BatchRetryTarget(std::vector<std::string> names, nb::object run_attempt)
      : names_(std::move(names)), run_attempt_(std::move(run_attempt)) {}

  std::string name(std::size_t entry) override { return names_.at(entry); }

  void begin_attempt(const std::vector<std::size_t>& entries) override {
    results_.clear();
    nb::list indices;
    for (std::size_t e : entries) indices.append(e);
    nb::object answer;
    auto failure = attempt([&] { answer = run_attempt_(indices); });
    if (failure) {
      if (failure->is_interrupt()) reraise(*failure);
      for (std::size_t e : entries) results_[e] = {RetryResult::Error, failure->text};
      return;
    }
    for (std::size_t e : entries) {
      nb::object value = answer.attr("get")(e);
      if (value.is_none())
        results_[e] = {RetryResult::Error, "no result"};
      else if (PyBool_Check(value.ptr()))
        results_[e] = {value.ptr() == Py_True ? RetryResult::Passed : RetryResult::StillFailing, ""};
      else
        results_[e] = {RetryResult::Error, to_str(value)};
    }
  }

  RetryOutcome run(std::size_t entry) override {
    auto it = results_.find(entry);
    return it == results_.end() ? RetryOutcome{RetryResult::Error, "no result"} : it->second;
  }

  // The processes that run the attempts bring their own browser and pages.
  void ensure_browser() override {}
  void close_page() override {}

 private:
  std::vector<std::string> names_;
  nb::object run_attempt_;
  std::map<std::size_t, RetryOutcome> results_;
};

std::vector<std::size_t> batch_retry_pass(std::vector<std::string> names, nb::object run_attempt) {
  PyEnvironment env;
  auto settings = tarvo::lifecycle::read_retry_settings(env);
  std::size_t count = names.size();
  BatchRetryTarget target(std::move(names), std::move(run_attempt));
  PyConsole console;
  return tarvo::lifecycle::run_retry_pass(settings, count, target, console);
}

}  // namespace

void register_scale(nb::module_& m) {
  m.def("_plan_shard",
        [](const std::string& text) {
          ShardSpec s = parse_shard(text);
          return std::make_pair(s.index, s.total);
        },
        nb::arg("text"), "(I, N) from a shard text 'I/N'; ValueError naming the text otherwise.");
  m.def("_plan_workers",
        [](const std::string& source, const std::string& requested, std::size_t feature_count,
           const std::string& max_browsers) {
          WorkerPlan p = plan_workers(source, requested, feature_count, max_browsers);
          return std::make_pair(p.workers, p.notes);
        },
        nb::arg("source"), nb::arg("requested"), nb::arg("feature_count"), nb::arg("max_browsers"),
        "(workers, notes): the worker count after the checks and clamps; ValueError for a bad value.");
  m.def("_parse_worker_timeout", &parse_worker_timeout, nb::arg("text"),
        "WORKER_TIMEOUT in seconds; ValueError naming the variable for a bad value.");
  m.def("_longest_first", &longest_first, nb::arg("features"), nb::arg("durations"),
        "The features, longest recorded duration first.");
  m.def("_shard_slice",
        [](const std::vector<std::string>& features, const Durations& durations, long long index, long long total) {
          return shard_slice(features, durations, ShardSpec{index, total});
        },
        nb::arg("features"), nb::arg("durations"), nb::arg("index"), nb::arg("total"),
        "The features that shard index of total runs, balanced by the durations.");
  m.def("_batch_retry_pass", &batch_retry_pass, nb::arg("names"), nb::arg("run_attempt"),
        "The end-of-run retry pass and its report, each attempt run by run_attempt(indices); "
        "returns the indices still failing.");
}

}  // namespace tarvo::py::runwright
