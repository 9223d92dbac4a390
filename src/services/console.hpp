// User-facing output lines. The bindings print through Python's sys.stdout so the
// runner's capture sees them; tests collect the lines.
#pragma once
#include <string>
#include <vector>

namespace tarvo {

class Console {
 public:
  virtual ~Console() = default;
  // Prints one message followed by a line break, like Python's print().
  virtual void print(const std::string& line) = 0;
};

class RecordingConsole : public Console {
 public:
  void print(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

}  // namespace tarvo
