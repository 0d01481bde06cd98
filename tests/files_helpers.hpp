// Dates for the file-naming tests: a Date with the clock fields given and the rest unset.
#pragma once
#include "date.hpp"

namespace files_test {

inline constexpr int U = -9999;  // unset field

inline Date make_date(int year, int month, int day, int hour, int min = U) {
  Date d{};
  DATE_init(&d);
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.min = min;
  d.sec = 0;
  return d;
}

}  // namespace files_test
