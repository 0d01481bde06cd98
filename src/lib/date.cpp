// Date arithmetic, display zone, decoding window and date labels. All times are UTC
// inside the library; the display zone is applied only when a label is written.
#include "date.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mess.hpp"
#include "string.hpp"

namespace {

constexpr const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kMonthsLower[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kMonthsLong[12] = {"January", "February", "March",     "April",
                                         "May",     "June",     "July",      "August",
                                         "September", "October", "November", "December"};
constexpr const char* kWeekdays[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};

// Days before month m (index m-1); index 12 is the length of the year.
constexpr int kNumDay[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr int kNumDayLeap[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

// Display zone.
char tz_str[7] = "Z";
int tz_off = 0;
int tz_pm = 0;

}  // namespace

const char* DATE_month(int month) {
    return (month >= 1 && month <= 12) ? kMonths[month - 1] : "";
}

const char* DATE_month_lower(int month) {
    return (month >= 1 && month <= 12) ? kMonthsLower[month - 1] : "";
}

const char* DATE_month_long(int month) {
    return (month >= 1 && month <= 12) ? kMonthsLong[month - 1] : "";
}

const char* DATE_weekday(int wday) {
    return (wday >= 0 && wday <= 6) ? kWeekdays[wday] : "";
}

int DATE_is_leap(int year) {
    return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

std::int64_t DATE_get_time(std::int64_t* secs) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (secs) *secs = now;
    return now;
}

int DATE_get_current_str(char* str, std::size_t size) {
    if (!str) return -1;
    const std::time_t now = std::time(nullptr);
    struct tm t {};
    gmtime_r(&now, &t);
    str_format(str, size, "%2.2d %s %2.2d  %2.2d:%2.2d:%2.2dZ", (t.tm_year + 1900) % 100,
               DATE_month(t.tm_mon + 1), t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return 0;
}

int DATE_set_TZ(const char* str) {
    if (!str) return -1;
    const char* p = str;
    int pm = tz_pm;
    if (*p == '-') {
        pm = -1;
        ++p;
    } else if (*p == '+') {
        pm = 1;
        ++p;
    }
    const char* colon = std::strchr(p, ':');
    if (!colon) {
        MESS_print(M_warn, "DATE_set_TZ: Time zone needs NAME:HOURS, ignored: %s\n", str);
        return -1;
    }
    char* end = nullptr;
    const double hours = std::strtod(colon + 1, &end);
    if (end == colon + 1 || !std::isfinite(hours) || std::fabs(hours) > 24.0) {
        MESS_print(M_warn, "DATE_set_TZ: Bad hour offset in time zone, ignored: %s\n", str);
        return -1;
    }
    const std::string name(p, static_cast<std::size_t>(colon - p));
    std::string suffix = " " + name.substr(0, 4);
    str_copy(tz_str, sizeof tz_str, suffix.c_str());
    tz_off = static_cast<int>(hours * 3600.0);
    tz_pm = pm;
    return 0;
}

int DATE_get_tz_off() { return tz_off; }
const char* DATE_get_tz_str() { return tz_str; }
int DATE_get_tz_pm() { return tz_pm; }
