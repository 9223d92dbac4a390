#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "core/scale/plan.hpp"

using namespace tarvo::scale;

namespace {
std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(ScalePlan, ShardTextsAreParsedOrRefusedByName) {
  auto s = parse_shard("2/3");
  EXPECT_EQ(s.index, 2);
  EXPECT_EQ(s.total, 3);
  EXPECT_EQ(parse_shard(" 1 / 1 ").total, 1);
  for (const char* bad : {"3/2", "0/2", "a/b", "1/0", "1", "1/2/3", "", "-1/2", "1/x"}) {
    std::string what = error_of([&] { parse_shard(bad); });
    EXPECT_NE(what.find(std::string("--shard '") + bad + "'"), std::string::npos) << bad << " -> " << what;
  }
  EXPECT_NE(error_of([] { parse_shard("3/2"); }).find("between 1 and 2"), std::string::npos);
}

TEST(ScalePlan, WorkerCountIsCheckedAndClamped) {
  auto p = plan_workers("-j", "2", 4, "10");
  EXPECT_EQ(p.workers, 2);
  EXPECT_TRUE(p.notes.empty());
  p = plan_workers("PARALLEL_WORKERS", "8", 3, "10");
  EXPECT_EQ(p.workers, 3);
  ASSERT_EQ(p.notes.size(), 1u);
  EXPECT_NE(p.notes[0].find("3 feature(s)"), std::string::npos);
  p = plan_workers("-j", "6", 10, "2");
  EXPECT_EQ(p.workers, 2);
  EXPECT_NE(p.notes[0].find("MAX_BROWSER_INSTANCES=2"), std::string::npos);
  EXPECT_EQ(plan_workers("-j", "4", 0, "10").workers, 1);
  for (const char* bad : {"0", "-3", "dos", ""}) {
    std::string what = error_of([&] { plan_workers("PARALLEL_WORKERS", bad, 4, "10"); });
    EXPECT_NE(what.find("PARALLEL_WORKERS"), std::string::npos) << bad;
  }
  EXPECT_NE(error_of([] { plan_workers("-j", "2", 4, "0"); }).find("MAX_BROWSER_INSTANCES"), std::string::npos);
  EXPECT_EQ(parse_worker_timeout(" 30 "), 30);
  EXPECT_NE(error_of([] { parse_worker_timeout("0"); }).find("WORKER_TIMEOUT"), std::string::npos);
  EXPECT_NE(error_of([] { parse_worker_timeout("5m"); }).find("'5m'"), std::string::npos);
}

TEST(ScalePlan, LongestFirstUsesRecordedDurationsThenTheirMean) {
  Durations d{{"a.feature", 1.0}, {"b.feature", 9.0}, {"c.feature", 5.0}};
  EXPECT_DOUBLE_EQ(estimated_duration("new.feature", d), 5.0);
  EXPECT_DOUBLE_EQ(estimated_duration("new.feature", {}), 1.0);
  auto order = longest_first({"a.feature", "c.feature", "b.feature", "new.feature"}, d);
  EXPECT_EQ(order, (std::vector<std::string>{"b.feature", "c.feature", "new.feature", "a.feature"}));
  // Without durations the order is the path order.
  EXPECT_EQ(longest_first({"z", "m", "a"}, {}), (std::vector<std::string>{"a", "m", "z"}));
}

TEST(ScalePlan, ShardsCoverEveryFeatureOnceAndBalanceByDuration) {
  std::vector<std::string> features;
  Durations d;
  for (int i = 0; i < 23; ++i) {
    std::string f = "f" + std::to_string(i) + ".feature";
    features.push_back(f);
    d[f] = (i * 7) % 11 + 1;
  }
  for (long long n : {1, 2, 3, 5}) {
    std::multiset<std::string> seen;
    double max_load = 0, total = 0;
    for (long long i = 1; i <= n; ++i) {
      auto slice = shard_slice(features, d, {i, n});
      double load = 0;
      for (const auto& f : slice) {
        seen.insert(f);
        load += d[f];
      }
      max_load = std::max(max_load, load);
      total += load;
      // The same input gives the same slice, whatever order the files were found in.
      auto shuffled = features;
      std::reverse(shuffled.begin(), shuffled.end());
      EXPECT_EQ(shard_slice(shuffled, d, {i, n}), slice);
    }
    EXPECT_EQ(seen.size(), features.size());
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), features.size());
    // Greedy longest-first stays within the longest feature of the ideal split.
    EXPECT_LE(max_load, total / n + 11.0) << n;
  }
  // More shards than features: the extra shards are empty, not an error.
  EXPECT_TRUE(shard_slice({"a", "b"}, {}, {3, 3}).empty());
}
