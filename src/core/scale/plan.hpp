// Planning a parallel or sharded run: how many workers, which slice of the
// features a shard runs, and in what order the features are handed out. Pure
// decisions on feature paths and recorded durations; the process work is done
// by the Python command that asks for them.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::scale {

// Seconds a feature took last time, keyed by its path as the command prints it
// (relative to the working directory, '/' separated).
using Durations = std::map<std::string, double>;

// "I/N": shard I (1-based) of N.
struct ShardSpec {
  long long index = 1;
  long long total = 1;
};

// Parses a shard text such as "2/3". Throws std::invalid_argument whose text
// names the bad value ("--shard '3/2': the shard number must be between 1 and 2").
ShardSpec parse_shard(const std::string& text);

// The number of worker processes for a run.
struct WorkerPlan {
  long long workers = 1;
  std::vector<std::string> notes;  // lines to print (a clamp), empty when nothing changed
};

// `requested` comes from `source` ("-j" or "PARALLEL_WORKERS") as text. Zero,
// negative or non-numeric values throw std::invalid_argument naming the source
// and the value. More workers than features, or than MAX_BROWSER_INSTANCES
// allows (each worker holds one browser), are clamped with a note. A run with
// no feature keeps one worker.
WorkerPlan plan_workers(const std::string& source, const std::string& requested, std::size_t feature_count,
                        const std::string& max_browsers_text);

// A positive whole number of seconds from WORKER_TIMEOUT; throws
// std::invalid_argument naming the variable and value otherwise.
long long parse_worker_timeout(const std::string& text);

// The duration to plan with: the recorded one, else the mean of the recorded
// durations of the other features, else 1 second.
double estimated_duration(const std::string& feature, const Durations& durations);

// The features longest first (by estimate), ties in path order.
std::vector<std::string> longest_first(const std::vector<std::string>& features, const Durations& durations);

// The features shard `shard` runs: the features taken longest first are given in
// turn to the shard with the least planned time so far (lowest number on a tie).
// The result depends only on the paths and the durations, so every machine that
// sees the same checkout and durations file computes the same slices, and the N
// slices together hold each feature exactly once. Returned longest first.
std::vector<std::string> shard_slice(const std::vector<std::string>& features, const Durations& durations,
                                     const ShardSpec& shard);

}  // namespace tarvo::scale
