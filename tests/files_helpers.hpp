// Dates for the file-naming tests: a Date with the clock fields given and the rest unset.
#pragma once
#include "date.hpp"

namespace files_test {

inline constexpr int U = -9999;  // unset field

inline Date make_date(int year, int month, int day, int hour, int min = U) {
  Date d = *DATE_to_struct(year, month, day, hour, min);
  d.jday = d.wday = U;  // the shared date keeps whatever an earlier call left there
  return d;
}

}  // namespace files_test
