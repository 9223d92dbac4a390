#include "core/scale/plan.hpp"

#include <algorithm>
#include <stdexcept>

#include "core/common/text.hpp"

namespace tarvo::scale {
namespace {

[[noreturn]] void bad_shard(const std::string& text, const std::string& why) {
  throw std::invalid_argument("--shard '" + escape_invalid_utf8(text) + "': " + why);
}

long long positive(const std::string& source, const std::string& text, const std::string& what) {
  auto n = parse_int(text);
  if (!n) throw std::invalid_argument(source + ": '" + escape_invalid_utf8(text) + "' is not a whole number");
  if (*n < 1)
    throw std::invalid_argument(source + ": " + std::to_string(*n) + " is not a valid " + what + " (1 or more)");
  return *n;
}

}  // namespace

ShardSpec parse_shard(const std::string& text) {
  auto parts = split(text, "/");
  if (parts.size() != 2) bad_shard(text, "expected I/N, for example 1/3");
  auto index = parse_int(parts[0]);
  auto total = parse_int(parts[1]);
  if (!index || !total) bad_shard(text, "expected I/N with whole numbers, for example 1/3");
  if (*total < 1) bad_shard(text, "the number of shards must be 1 or more");
  if (*index < 1 || *index > *total)
    bad_shard(text, "the shard number must be between 1 and " + std::to_string(*total));
  return {*index, *total};
}

WorkerPlan plan_workers(const std::string& source, const std::string& requested, std::size_t feature_count,
                        const std::string& max_browsers_text) {
  WorkerPlan plan;
  plan.workers = positive(source, requested, "number of workers");
  long long max_browsers = positive("MAX_BROWSER_INSTANCES", max_browsers_text, "number of browsers");
  if (plan.workers > max_browsers) {
    plan.notes.push_back("MAX_BROWSER_INSTANCES=" + std::to_string(max_browsers) + ": " +
                         std::to_string(plan.workers) + " workers reduced to " + std::to_string(max_browsers));
    plan.workers = max_browsers;
  }
  const long long features = static_cast<long long>(feature_count);
  if (features >= 1 && plan.workers > features) {
    plan.notes.push_back(std::to_string(plan.workers) + " workers for " + std::to_string(features) +
                         " feature(s): using " + std::to_string(features));
    plan.workers = features;
  }
  if (features == 0) plan.workers = 1;
  return plan;
}

long long parse_worker_timeout(const std::string& text) { return positive("WORKER_TIMEOUT", text, "time-out in seconds"); }

double estimated_duration(const std::string& feature, const Durations& durations) {
  if (auto it = durations.find(feature); it != durations.end() && it->second >= 0) return it->second;
  double sum = 0;
  std::size_t n = 0;
  for (const auto& [path, seconds] : durations) {
    if (seconds < 0) continue;
    sum += seconds;
    ++n;
  }
  return n ? sum / static_cast<double>(n) : 1.0;
}

std::vector<std::string> longest_first(const std::vector<std::string>& features, const Durations& durations) {
  std::vector<std::pair<double, std::string>> keyed;
  for (const auto& f : features) keyed.emplace_back(estimated_duration(f, durations), f);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first > b.first;
    return a.second < b.second;
  });
  std::vector<std::string> out;
  for (auto& [d, f] : keyed) out.push_back(std::move(f));
  return out;
}

std::vector<std::string> shard_slice(const std::vector<std::string>& features, const Durations& durations,
                                     const ShardSpec& shard) {
  // Duplicates in the input (the same file named twice) are planned once.
  std::vector<std::string> unique = features;
  std::sort(unique.begin(), unique.end());
  unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
  std::vector<double> load(static_cast<std::size_t>(shard.total), 0.0);
  std::vector<std::string> mine;
  for (const auto& f : longest_first(unique, durations)) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < load.size(); ++i)
      if (load[i] < load[best]) best = i;
    load[best] += estimated_duration(f, durations);
    if (static_cast<long long>(best) + 1 == shard.index) mine.push_back(f);
  }
  return mine;
}

}  // namespace tarvo::scale
