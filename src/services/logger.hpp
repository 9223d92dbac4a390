// Log records. The bindings forward to Python's logging under the module's
// logger name; tests collect the records.
#pragma once
#include <string>
#include <vector>

namespace tarvo {

enum class LogLevel { Debug, Info, Warning, Error };

class Logger {
 public:
  virtual ~Logger() = default;
  virtual void log(LogLevel level, const std::string& message) = 0;
  void debug(const std::string& m) { log(LogLevel::Debug, m); }
  void info(const std::string& m) { log(LogLevel::Info, m); }
  void warning(const std::string& m) { log(LogLevel::Warning, m); }
  void error(const std::string& m) { log(LogLevel::Error, m); }
};

class RecordingLogger : public Logger {
 public:
  struct Record {
    LogLevel level;
    std::string message;
  };
  void log(LogLevel level, const std::string& message) override { records.push_back({level, message}); }
  std::vector<Record> records;
};

}  // namespace tarvo
