// The local wall-clock time, as the healing log and reports write it.
#pragma once
#include <string>

namespace tarvo {

struct LocalTime {
  int year, month, day, hour, minute, second, microsecond;
};
LocalTime local_now();
// YYYY-MM-DDTHH:MM:SS[.ffffff], the fraction omitted when zero.
std::string iso_timestamp(const LocalTime& t);

}  // namespace tarvo
