// One value of the settings dictionary, and the ordered dictionary itself.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tarvo {

using StringList = std::vector<std::string>;
using SettingValue = std::variant<std::string, long long, double, bool, StringList>;

// Insertion-ordered map, as the Python dict built from it keeps the table's order.
class SettingMap {
 public:
  void set(const std::string& key, SettingValue value) {
    for (auto& [k, v] : entries_)
      if (k == key) { v = std::move(value); return; }
    entries_.emplace_back(key, std::move(value));
  }
  const SettingValue* find(const std::string& key) const {
    for (auto& [k, v] : entries_)
      if (k == key) return &v;
    return nullptr;
  }
  bool has(const std::string& key) const { return find(key) != nullptr; }
  const std::vector<std::pair<std::string, SettingValue>>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }

 private:
  std::vector<std::pair<std::string, SettingValue>> entries_;
};

}  // namespace tarvo
