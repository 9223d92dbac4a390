#include "core/common/local_time.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tarvo {

LocalTime local_now() {
  auto now = std::chrono::system_clock::now();
  auto secs = std::chrono::time_point_cast<std::chrono::seconds>(now);
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - secs).count();
  std::time_t t = std::chrono::system_clock::to_time_t(secs);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(micros)};
}

std::string iso_timestamp(const LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::string out = buf;
  if (t.microsecond != 0) {
    std::snprintf(buf, sizeof buf, ".%06d", t.microsecond);
    out += buf;
  }
  return out;
}

}  // namespace tarvo
