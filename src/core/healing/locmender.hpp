// The AI locator self-healing manager: cache, rejected-suggestion memory,
// verification of suggestions on the live page, and the healing loop.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/common/local_time.hpp"
#include "core/healing/healing_settings.hpp"
#include "core/healing/healing_text.hpp"
#include "services/ai_provider.hpp"
#include "services/console.hpp"
#include "services/logger.hpp"
#include "services/page.hpp"

namespace tarvo::healing {

struct HealingEntry {
  std::string timestamp, feature, scenario, step, element_name, action, original_selector,
      suggested_selector, page_url;
  bool success = false;
};

// Receives every registered healing log entry (the bindings keep the log as a
// Python list; tests keep a vector).
class HealingLogSink {
 public:
  virtual ~HealingLogSink() = default;
  virtual void append(const HealingEntry& entry) = 0;
};

// The outside world one operation talks to.
struct HealingIo {
  Console& console;
  Logger& log;
  AiProviderSlot& providers;
  HealingLogSink& sink;
  LocalTime (*clock)() = &local_now;
};

// Map that keeps insertion order, as the Python views show it.
template <typename V>
class OrderedMap {
 public:
  V* find(const std::string& key) {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }
  V& operator[](const std::string& key) {
    if (V* v = find(key)) return *v;
    index_.emplace(key, items_.size());
    items_.emplace_back(key, V{});
    return items_.back().second;
  }
  void clear() {
    items_.clear();
    index_.clear();
  }
  const std::vector<std::pair<std::string, V>>& items() const { return items_; }

 private:
  std::vector<std::pair<std::string, V>> items_;
  std::map<std::string, std::size_t> index_;
};

struct HealRequest {
  std::string failed_selector, element_name, action_context, step_text, scenario_name, feature_name;
  std::optional<std::string> html_excerpt;  // shown to the model instead of the captured body
  // Consulted for a suggestion that passed the page check: a reason refuses it.
  std::function<std::optional<std::string>(const std::string& selector)> veto;
};

class Locmender {
 public:
  explicit Locmender(HealingSettings s) : settings(std::move(s)) {}

  // Healed selector (possibly with " >> nth=<i>") or nullopt. Failures reading
  // the page URL/title and provider-factory failures that do not disable
  // healing propagate as PageError/ProviderError.
  std::optional<std::string> attempt_heal(HealingIo& io, Page& page, const HealRequest& req);

  AiProvider* get_provider(HealingIo& io);
  std::string capture_relevant_html(HealingIo& io, Page& page);
  std::optional<std::string> call_ai(HealingIo& io, const std::string& prompt);
  bool verify_selector(HealingIo& io, Page& page, const std::string& selector);
  bool verify_single_element(HealingIo& io, Page& page, const std::string& selector, Locator& locator);
  bool is_salesforce_page(Page& page);
  bool validate_salesforce_selector(HealingIo& io, Locator& locator);
  void register_healing(HealingIo& io, const HealRequest& req, const std::string& suggested,
                        const std::string& page_url, bool success);

  void clear_cache() {
    cache.clear();
    failed_suggestions.clear();
  }

  HealingSettings settings;
  OrderedMap<std::string> cache;
  OrderedMap<std::vector<std::string>> failed_suggestions;
  std::optional<long long> verified_nth_index;
  long long ai_calls = 0;  // provider calls made so far (the owner reports calls per heal)
};

}  // namespace tarvo::healing
