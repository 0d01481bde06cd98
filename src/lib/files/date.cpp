// Date arithmetic, display zone, decoding window and date labels. All times are UTC
// inside the library; the display zone is applied only when a label is written.
#include "date.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "var_tool.hpp"

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

// Decoding time and its acceptance window.
Date file_date{};
std::int64_t base = 0;
std::int64_t begin = 0;
std::int64_t end = 0;
int min_pre = -15;
int min_post = 10;

// The record DATE_to_struct hands out.
Date shared_date{DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING,
                 DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING};

constexpr std::int64_t kSecPerDay = 86400;

const int* day_table(int year) { return DATE_is_leap(year) ? kNumDayLeap : kNumDay; }

// Days from 1970-01-01 to year-month-01 in the proleptic Gregorian calendar, exact for
// every year (the usual era-of-400-years reduction); month must be 1-12.
std::int64_t days_from_civil(std::int64_t year, int month) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Inverse of days_from_civil with a day of month: day 0 is 1970-01-01.
void civil_from_days(std::int64_t z, std::int64_t* year, int* month, int* day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

int clamp_to_int(std::int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int>(v);
}

// False when the year does not fit the record (the C library counts from 1900).
bool fill_from_tm(const struct tm& t, Date* date) {
    if (t.tm_year > INT32_MAX - 1900) return false;
    date->year = t.tm_year + 1900;
    date->month = t.tm_mon + 1;
    date->day = t.tm_mday;
    date->jday = t.tm_yday + 1;
    date->wday = t.tm_wday;
    date->hour = t.tm_hour;
    date->min = t.tm_min;
    date->sec = t.tm_sec;
    return true;
}

// A date shifted by secs, keeping which of hour and minute were set.
Date shift_date(const Date& date, std::int64_t secs) {
    Date copy = date;
    const std::int64_t t = DATE_num_sec(&copy) + secs;
    Date out{};
    DATE_get_gmdate(&t, &out);
    if (date.hour == DATE_MISSING) out.hour = DATE_MISSING;
    if (date.hour == DATE_MISSING || date.min == DATE_MISSING) out.min = DATE_MISSING;
    if (date.hour == DATE_MISSING || date.min == DATE_MISSING || date.sec == DATE_MISSING)
        out.sec = DATE_MISSING;
    return out;
}

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

int DATE_init(Date* date) {
    if (!date) return -1;
    *date = Date{DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING,
                 DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING};
    return 0;
}

int DATE_print(M_type level, const Date* date) {
    if (!date) return -1;
    MESS_print(level, "%d/%d/%d %2.2d:%2.2d:%2.2d\n", date->year, date->month, date->day,
               date->hour, date->min, date->sec);
    return 0;
}

int DATE_is_leap(int year) {
    return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

std::int64_t DATE_get_time(std::int64_t* secs) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (secs) *secs = now;
    return now;
}

struct tm* DATE_get_gmtime(const std::int64_t* secs) {
    static struct tm result;
    const std::time_t t = secs ? static_cast<std::time_t>(*secs) : std::time(nullptr);
    if (!gmtime_r(&t, &result)) return nullptr;
    return &result;
}

struct tm* DATE_get_localtime(const std::int64_t* secs) {
    static struct tm result;
    const std::time_t t = secs ? static_cast<std::time_t>(*secs) : std::time(nullptr);
    if (!localtime_r(&t, &result)) return nullptr;
    return &result;
}

int DATE_get_gmdate(const std::int64_t* secs, Date* date) {
    if (!date) return -1;
    const std::time_t t = secs ? static_cast<std::time_t>(*secs) : std::time(nullptr);
    struct tm b {};
    if (!gmtime_r(&t, &b) || !fill_from_tm(b, date)) {
        MESS_print(M_error, "DATE_get_gmdate: Time out of range: %lld\n",
                   static_cast<long long>(t));
        DATE_init(date);
        return -1;
    }
    return 0;
}

int DATE_get_localdate(const std::int64_t* secs, Date* date) {
    if (!date) return -1;
    const std::time_t t = secs ? static_cast<std::time_t>(*secs) : std::time(nullptr);
    struct tm b {};
    if (!localtime_r(&t, &b) || !fill_from_tm(b, date)) {
        MESS_print(M_error, "DATE_get_localdate: Time out of range: %lld\n",
                   static_cast<long long>(t));
        DATE_init(date);
        return -1;
    }
    return 0;
}

int DATE_get_current_gmdate(Date* date) { return DATE_get_gmdate(nullptr, date); }

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

void DATE_reset_TZ() {
    str_copy(tz_str, sizeof tz_str, "Z");
    tz_off = 0;
    tz_pm = 0;
}

int DATE_get_tz_off() { return tz_off; }
const char* DATE_get_tz_str() { return tz_str; }
int DATE_get_tz_pm() { return tz_pm; }

int DATE_print_current(M_type level) {
    char text[DATE_CURRENT_LEN];
    DATE_get_current_str(text, sizeof text);
    MESS_print(level, "%s", text);
    return 0;
}

int DATE_get_simple_current_str(char* str, std::size_t size) {
    if (!str) return -1;
    Date now{};
    DATE_get_current_gmdate(&now);
    str_format(str, size, "%2.2d-%2.2d:%2.2dZ", now.day, now.hour, now.min);
    return 0;
}

std::int64_t DATE_num_sec(Date* date) {
    if (!date) return 0;
    if (date->year < 0) date->year = 1980;
    if (date->year < 50) date->year += 2000;
    if (date->year < 200) date->year += 1900;
    if (date->month < 1 || date->month > 12) date->month = 1;
    if (date->day < 0 || date->day > 31) date->day = 1;
    if (date->hour < 0 || date->hour > 23) date->hour = 0;
    if (date->min < 0 || date->min > 59) date->min = 0;
    if (date->sec < 0 || date->sec > 59) date->sec = 0;
    // Linear in the day, so day 0 is the last day of the previous month and day 31 of a
    // 30-day month the first of the next.
    const std::int64_t days = days_from_civil(date->year, date->month) + (date->day - 1);
    return days * kSecPerDay + date->hour * 3600 + date->min * 60 + date->sec;
}

std::int64_t DATE_num_sec_tm(const struct tm* tm) {
    if (!tm) return 0;
    // The full year, so that years from 2100 on are not read as two-digit years.
    Date d{clamp_to_int(std::int64_t{tm->tm_year} + 1900), tm->tm_mon + 1, tm->tm_mday,
           DATE_MISSING, DATE_MISSING, tm->tm_hour, tm->tm_min, tm->tm_sec};
    return DATE_num_sec(&d);
}

std::int64_t DATE_date_days(int year, int month, int day) {
    // A month outside 1-12 counts no days before it: the start of the year.
    const int m = (month >= 1 && month <= 12) ? month : 1;
    return days_from_civil(year, m) + day;
}

int DATE_days_date(std::int64_t days, int* year, int* month, int* day) {
    // Beyond some 27 million years either way the calendar arithmetic would overflow.
    constexpr std::int64_t kLimit = 10'000'000'000LL;
    days = std::clamp(days, -kLimit, kLimit);
    std::int64_t y = 0;
    int m = 0, d = 0;
    civil_from_days(days - 1, &y, &m, &d);
    if (year) *year = clamp_to_int(y);
    if (month) *month = m;
    if (day) *day = d;
    return 0;
}

int DATE_time_date(std::int64_t rsecs, int* hour, int* min, int* sec) {
    if (hour) *hour = clamp_to_int(rsecs / 3600);
    if (min) *min = static_cast<int>((rsecs % 3600) / 60);
    if (sec) *sec = static_cast<int>(rsecs % 60);
    return 1;
}

int DATE_julian_monday(int year, int julian, int* month, int* day) {
    const int* table = day_table(year);
    if (julian < 1) julian = 1;
    if (julian > table[12]) julian = table[12];
    int m = 0;
    while (m <= 11 && table[m] < julian) ++m;
    if (month) *month = m;
    if (day) *day = julian - table[m - 1];
    return 0;
}

int DATE_monday_julian(int year, int month, int day, int* julian) {
    if (month < 1) month = 1;
    if (month > 12) month = 12;
    if (julian) *julian = clamp_to_int(std::int64_t{day} + day_table(year)[month - 1]);
    return 0;
}

Date* DATE_to_struct(int year, int month, int day, int hour, int min) {
    shared_date.year = year;
    shared_date.month = month;
    shared_date.day = day;
    shared_date.hour = hour;
    shared_date.min = min;
    shared_date.sec = 0;
    return &shared_date;
}

namespace {

// What a "decode_hour" value asks for; -9999 where it gives nothing.
struct DecodeRequest {
    int hour = DATE_MISSING;
    int min = DATE_MISSING;
    int pre = DATE_MISSING;   // minutes before, written without sign
    int post = DATE_MISSING;  // minutes after
    int back = 0;             // hours to go back from the date passed in
    bool from_date = false;   // hour (and maybe minute) of the date passed in
    bool date_min = false;    // also its minute
};

// Reads an optionally signed decimal at *p; advances past it.
bool read_int(const char*& p, int* value) {
    const char* start = p;
    if (*p == '-' || *p == '+') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        p = start;
        return false;
    }
    long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        v = v * 10 + (*p - '0');
        if (v > 1000000) return false;
        ++p;
    }
    *value = static_cast<int>(*start == '-' ? -v : v);
    return true;
}

// Reads an unsigned decimal introduced by the character sign.
bool read_after(const char*& p, char sign, int* value) {
    if (*p != sign || !std::isdigit(static_cast<unsigned char>(p[1]))) return false;
    ++p;
    return read_int(p, value);
}

// Optional "-P" and "+Q" at the end of a value.
bool read_window(const char*& p, DecodeRequest* r) {
    read_after(p, '-', &r->pre);
    read_after(p, '+', &r->post);
    return *p == '\0';
}

bool starts_with_nocase(const char* s, const char* prefix) {
    for (; *prefix; ++s, ++prefix)
        if (std::tolower(static_cast<unsigned char>(*s)) != *prefix) return false;
    return true;
}

bool valid_cycle(int value) { return value == DATE_MISSING || value >= 0 || (-value) % 100 != 0; }

bool parse_decode_hour_fields(const char* text, DecodeRequest* r) {
    const char* p = text;
    if (starts_with_nocase(p, "cu:cu")) {
        p += 5;
        r->from_date = r->date_min = true;
        if (!read_window(p, r)) return false;
        if (r->pre == DATE_MISSING || r->post == DATE_MISSING) r->pre = r->post = DATE_MISSING;
        return true;
    }
    if (starts_with_nocase(p, "cu")) {
        p += 2;
        r->from_date = true;
        if (*p == ':') {  // cu:M, cu:M-P+Q: the window only with both numbers
            ++p;
            if (!read_int(p, &r->min) || !read_window(p, r)) return false;
            if (r->pre == DATE_MISSING || r->post == DATE_MISSING) r->pre = r->post = DATE_MISSING;
            return true;
        }
        int first = DATE_MISSING;
        if (!read_after(p, '-', &first)) return *p == '\0';
        if (*p == '\0') {  // cu-N
            r->back = first;
            r->date_min = true;
            return true;
        }
        if (*p == '-') {  // cu-N-P+Q
            r->back = first;
            r->date_min = true;
            return read_window(p, r) && r->post != DATE_MISSING;
        }
        r->pre = first;  // cu-P+Q
        return read_after(p, '+', &r->post) && *p == '\0';
    }
    if (*p == ':') {  // :-P+Q keeps the requested clock
        ++p;
        return read_window(p, r) && r->pre != DATE_MISSING && r->post != DATE_MISSING;
    }
    if (!read_int(p, &r->hour)) return false;
    if (*p == ':') {
        ++p;
        if (!read_int(p, &r->min)) return false;
    } else {
        r->min = 0;
    }
    return read_window(p, r);
}

bool parse_decode_hour(const char* text, DecodeRequest* r) {
    return parse_decode_hour_fields(text, r) && valid_cycle(r->hour) && valid_cycle(r->min);
}

// -XXYY: the latest multiple of YY at or before current, plus XX. Other values unchanged.
bool resolve_cycle(int value, int current, int* out) {
    if (value == DATE_MISSING || value >= 0) {
        *out = value;
        return true;
    }
    if (value < -999999) return false;
    const int step = (-value) % 100;
    const int add = (-value) / 100;
    if (step == 0) return false;
    // Wide arithmetic: a stray clock field near the int limit must not overflow.
    *out = clamp_to_int(std::int64_t{current < 0 ? 0 : current} / step * step + add);
    return true;
}

// The requested hour and minute of the file-selection module.
Date requested_time() {
    Date req{};
    DATE_init(&req);
    FILE_get_time(&req);
    return req;
}

// Applies a "decode_hour" value to file_date's day and the clock to decode for; true when
// the value was usable. window_given tells whether it set the acceptance window.
bool apply_decode_hour(const char* value, int* hour, int* min, bool* window_given) {
    // A quoted or "set" value may carry blanks around the form.
    std::string text(value);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
    text.erase(0, first == std::string::npos ? text.size() : first);
    DecodeRequest r;
    if (!parse_decode_hour(text.c_str(), &r)) {
        MESS_print(M_warn, "DATE_set_datim: Unreadable decode_hour, ignored: %s\n", value);
        return false;
    }
    if (r.from_date) {
        Date from = file_date;
        if (r.back != 0) {
            // Going back may cross midnight: the whole date moves.
            from = shift_date(file_date, -static_cast<std::int64_t>(r.back) * 3600);
            file_date.year = from.year;
            file_date.month = from.month;
            file_date.day = from.day;
        }
        r.hour = from.hour;
        if (r.date_min) r.min = from.min;
        else if (r.min == DATE_MISSING) r.min = 0;
    }
    if (r.hour != DATE_MISSING || r.min != DATE_MISSING) {
        *hour = r.hour;
        *min = r.min;
    }
    // A window given in part changes only that part.
    *window_given = r.pre != DATE_MISSING || r.post != DATE_MISSING;
    if (*window_given)
        DATE_set_range(r.pre != DATE_MISSING ? -r.pre : min_pre,
                       r.post != DATE_MISSING ? r.post : min_post);
    return r.hour != DATE_MISSING || r.min != DATE_MISSING;
}

}  // namespace

int DATE_set_datim(const Date* date) {
    if (!date) {
        MESS_print(M_error, "DATE_set_datim: No date given\n");
        return -1;
    }
    file_date = *date;
    const Date req = requested_time();
    int hour = req.hour;
    int min = req.min;
    bool clock_given = false, window_given = false;
    const char* value = RES_get("decode_hour");
    if (value && *value) clock_given = apply_decode_hour(value, &hour, &min, &window_given);

    int cycle_hour = hour, cycle_min = min;
    if (!resolve_cycle(hour, file_date.hour, &cycle_hour) ||
        !resolve_cycle(min, file_date.min, &cycle_min)) {
        MESS_print(M_warn, "DATE_set_datim: Requested cycle -XXYY needs YY above 0, ignored\n");
        cycle_hour = cycle_min = DATE_MISSING;
    }
    if (cycle_hour != DATE_MISSING) file_date.hour = cycle_hour;
    if (cycle_min != DATE_MISSING) file_date.min = cycle_min;
    if (file_date.min == DATE_MISSING) file_date.min = 0;
    // A cycle may land past 23 h or 59 min: carry into the next day rather than wrap to 0.
    if (file_date.hour > 23 || file_date.min > 59) {
        const std::int64_t extra_min =
            std::int64_t{std::max(file_date.hour, 0)} * 60 + std::max(file_date.min, 0);
        file_date.hour = 0;
        file_date.min = 0;
        file_date = shift_date(file_date, extra_min * 60);
    }
    if (clock_given)
        MESS_print(M_mess, "Decoding for: %2.2d:%2.2dZ\n", file_date.hour, file_date.min);
    if (window_given) MESS_print(M_mess, "Decoding range: %d +%d mins\n", min_pre, min_post);
    base = DATE_num_sec(&file_date);
    begin = base + static_cast<std::int64_t>(min_pre) * 60;
    end = base + static_cast<std::int64_t>(min_post) * 60;
    return 0;
}

int DATE_get_datim(Date* date) {
    if (!date) return -1;
    *date = file_date;
    return 0;
}

int DATE_set_range(int pre, int post) {
    min_pre = pre;
    min_post = post;
    return 0;
}

int DATE_chk_range(int hhmm) {
    if (hhmm == DATE_MISSING) return 0;
    const int h = hhmm / 100;
    const int m = hhmm % 100;
    if (hhmm < 0 || h > 23 || m > 59) {
        MESS_print(M_warn, "DATE_chk_range: Bad observation time: %d\n", hhmm);
        return 0;
    }
    const int H = file_date.hour;
    const int M = file_date.min;
    std::int64_t shift = 0;
    if (h != H) {
        const int d = h - H;
        if (H == h + 1 || (h == 23 && H == 0))
            shift = -3600;
        else if (d >= -11 && d <= 11)
            shift = d * 3600;
        else if (d < -11)
            shift = d * 3600 + kSecPerDay;
        else
            shift = -(24 - d) * 3600;
    }
    const std::int64_t t = base + shift + (m - M) * 60;
    const int inside = (begin <= t && t <= end) ? 1 : 0;
    MESS_print(0x40000000u, "%d %lld %lld-%lld = %d\n", hhmm, static_cast<long long>(t - base),
               static_cast<long long>(begin - base), static_cast<long long>(end - base), inside);
    return inside;
}

// ---- Labels ------------------------------------------------------------------------------

namespace {

// The three numbers packed into a forecast hour, with the hour a label shows.
struct ForecastTime {
    int t1 = 0;             // time-range type
    int t2 = 0;             // range start
    int t3 = 0;             // range end or plain hour; the day/month codes 800/900 count as 0
    int t3_raw = 0;         // before that substitution (500 and up mark "starting" periods)
    int shown = DATE_MISSING;
};

ForecastTime split_fhour(int fhour) {
    ForecastTime f;
    if (fhour == DATE_MISSING) return f;
    f.t1 = fhour / 1000000;
    f.t2 = (fhour % 1000000) / 1000;
    f.t3_raw = fhour % 1000;
    f.t3 = f.t3_raw;
    if (f.t2 == 800 || f.t2 == 900) f.t2 = 0;
    if (f.t3 == 800 || f.t3 == 900) f.t3 = 0;
    f.shown = f.t1 < 6 ? f.t3 : f.t2;
    return f;
}

bool is_forecast_shown(int shown) { return shown != 0 && shown != DATE_MISSING; }

int year2(int year) { return (year < 0 ? 1980 : year) % 100; }

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// Writes text into the caller's buffer; -1 when the buffer is unusable.
int deliver(const std::string& text, char* str, std::size_t size) {
    if (!str || size == 0) return -1;
    str_copy(str, size, text.c_str());
    return 0;
}

// Seconds from a reference date to the end of a forecast range of t3 hours; codes above
// 800 are days and above 900 calendar months.
std::int64_t forecast_seconds(const Date& date, int t3) {
    if (t3 > 900) {
        Date copy = date;
        const std::int64_t start = DATE_num_sec(&copy);
        const int months = copy.month - 1 + (t3 - 900);
        // Wide: a year near the int limit must not wrap into the past.
        copy.year = clamp_to_int(std::int64_t{copy.year} + months / 12);
        copy.month = months % 12 + 1;
        const int* table = day_table(copy.year);
        const int last = table[copy.month] - table[copy.month - 1];
        if (copy.day > last) copy.day = last;
        return DATE_num_sec(&copy) - start;
    }
    if (t3 > 800) return static_cast<std::int64_t>(t3 - 800) * kSecPerDay;
    return static_cast<std::int64_t>(t3) * 3600;
}

// The clock as shown in the display zone: local hour H, minute M (-9999: hour only),
// and the UTC hour and minute for the bracketed form.
std::string clock_text(int H, int M, int utc_h, int utc_m, bool pad_hour) {
    const bool with_min = M != DATE_MISSING;
    if (H < 0 || H > 23) H = 0;
    if (with_min && (M < 0 || M > 59)) M = 0;
    std::string s;
    if (tz_pm == 0) {
        if (with_min)
            s = format("%2.2d%2.2d%s", H, M, tz_str);
        else
            s = format(pad_hour ? "%2.2d%s" : "%d%s", H, tz_str);
        return s;
    }
    const int h12 = (H == 0 || H == 12) ? 12 : H % 12;
    const char* half = H >= 12 ? "PM" : "AM";
    if (with_min)
        s = format("%d:%2.2d %s%s", h12, M, half, tz_str);
    else
        s = format("%d %s%s", h12, half, tz_str);
    if (tz_pm < 0) {
        if (utc_h < 0 || utc_h > 23) utc_h = 0;
        if (with_min) {
            if (utc_m < 0 || utc_m > 59) utc_m = 0;
            s += format(" [%2.2d%2.2dZ]", utc_h, utc_m);
        } else {
            s += format(" [%2.2dZ]", utc_h);
        }
    }
    return s;
}

// A UTC date in the display zone, with its clock text. The zone moves only dates that
// carry an hour: a day label stays the day it names.
struct Displayed {
    Date local;
    std::string clock;  // empty when the hour is unset
};

Displayed display(const Date& utc, bool pad_hour) {
    Displayed out{utc, {}};
    if (utc.hour == DATE_MISSING) return out;
    Date norm = utc;
    if (norm.hour < 0 || norm.hour > 23) norm.hour = 0;
    if (norm.min != DATE_MISSING && (norm.min < 0 || norm.min > 59)) norm.min = 0;
    // In a zone off the whole hour an hour-only clock would show the wrong time.
    if (norm.min == DATE_MISSING && tz_off % 3600 != 0) norm.min = 0;
    if (tz_off != 0) out.local = shift_date(norm, tz_off);
    else out.local = norm;
    out.clock = clock_text(out.local.hour, out.local.min, norm.hour, norm.min, pad_hour);
    return out;
}

// Month and day outside their ranges read as 1, a negative year as 1980, a stray hour as 0.
Date normalised_for_label(const Date& date) {
    Date d = date;
    if (d.hour != DATE_MISSING && (d.hour < 0 || d.hour > 23)) d.hour = 0;
    if (d.day != DATE_MISSING && (d.day < 1 || d.day > 31)) d.day = 1;
    if (d.month != DATE_MISSING && (d.month < 1 || d.month > 12)) d.month = 1;
    if (d.year < 0) d.year = 1980;
    return d;
}

std::string standard_label(const Date& date) {
    const Date d = normalised_for_label(date);
    if (d.month == DATE_MISSING) return format("%2.2d", year2(d.year));
    if (d.day == DATE_MISSING) return format("%3s %2.2d", DATE_month(d.month), year2(d.year));
    if (d.hour == DATE_MISSING)
        return format("%2d %3s %2.2d", d.day, DATE_month(d.month), year2(d.year));
    const Displayed shown = display(d, true);
    const Date& l = shown.local;
    return format("%s %2d %3s %2.2d", shown.clock.c_str(), l.day, DATE_month(l.month),
                  year2(l.year));
}

// " [clock] [weekday] dd MON yy" of the valid time. The forecast label writes the year of
// a day without clock as "%2d" (blank-led, " 5" for 2005); the other labels as "%2.2d".
std::string valid_part(const Date& valid, bool weekday, bool pad_hour,
                       bool blank_year_without_clock = false) {
    const Displayed shown = display(valid, pad_hour);
    const Date& l = shown.local;
    std::string s = " ";
    if (!shown.clock.empty()) s += shown.clock + " ";
    if (weekday) s += format("%3s ", DATE_weekday(l.wday));
    const bool blank_year = blank_year_without_clock && shown.clock.empty();
    s += format(blank_year ? "%2d %3s %2d" : "%2d %3s %2.2d", l.day, DATE_month(l.month),
                year2(l.year));
    return s;
}

// The weekday of a date: its own field is not trusted, a label shows the computed one.
Date with_weekday(const Date& date) {
    Date copy = date;
    const std::int64_t t = DATE_num_sec(&copy);
    Date full{};
    DATE_get_gmdate(&t, &full);
    Date out = date;
    out.wday = full.wday;
    out.jday = full.jday;
    out.year = full.year;
    return out;
}

}  // namespace

int DATE_make_label(const Date* date, char* str, std::size_t size) {
    if (!str) return -1;
    if (!date) {
        deliver("", str, size);
        return -1;
    }
    return deliver(standard_label(*date), str, size);
}

char* DATE_fhour_label(char* str, int fhour, int flag, std::size_t size) {
    if (!str) return str;
    std::string s;
    char range[DATE_LABEL_LEN];
    // A statistic over a range ("max 2-14 h"): its coded form is no count of months.
    if (fhour >= 1000000 && VAR_time_text(fhour, range, static_cast<int>(sizeof range)) == 0) s = range;
    else if (fhour > 900) s = format("%d month", fhour - 900);
    else if (fhour > 800) s = format("%d day", fhour - 800);
    else if (flag && fhour == 12) s = "0.5 day";
    else if (flag && fhour == 24) s = "1 day";
    else if (flag && fhour == 36) s = "1.5 day";
    else if (flag && fhour == 48) s = "2 day";
    else if (flag && fhour == 60) s = "2.5 day";
    else if (fhour > 60 && fhour % 24 == 0) s = format("%d day", fhour / 24);
    else if (fhour > 60 && fhour % 24 == 12) s = format("%d.5 day", fhour / 24);
    else if (fhour != 0 && fhour != DATE_MISSING) s = format("%d hour", fhour);
    deliver(s, str, size);
    return str;
}

int DATE_format_label(char* str, const char* format_text, int fhour, const char* model,
                      const Date* date, std::size_t size) {
    if (!str || !format_text) {
        if (str && size) str[0] = '\0';
        return -1;
    }
    const Date none{DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING,
                    DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING};
    const Date& d = date ? *date : none;
    const ForecastTime f = split_fhour(fhour);
    std::string out;
    for (const char* p = format_text; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char code = *++p;
        if (code == '\0') break;
        switch (code) {
            case 'F': {
                char text[DATE_FHOUR_LEN];
                out += DATE_fhour_label(text, f.shown, d.hour == DATE_MISSING, sizeof text);
                break;
            }
            case 'f': out += format("%d", fhour); break;
            case 'x': if (model) out += model; break;
            case 'y': if (d.year != DATE_MISSING) out += format("%2.2d", year2(d.year)); break;
            case 'm': if (d.month != DATE_MISSING) out += format("%2.2d", d.month); break;
            case 'M': out += DATE_month(d.month); break;
            case 'd': if (d.day != DATE_MISSING) out += format("%2.2d", d.day); break;
            case 'h': if (d.hour != DATE_MISSING) out += format("%2.2d", d.hour); break;
            case 'n': if (d.min != DATE_MISSING) out += format("%2.2d", d.min); break;
            default: out += code; break;
        }
    }
    return deliver(out, str, size);
}

int DATE_make_label_for_time_mod(int fhour, const char* model, const Date* date, char* str,
                                 std::size_t size) {
    if (!str) return -1;
    if (!date) {
        deliver("", str, size);
        return -1;
    }
    const bool have_model = model && *model;
    ForecastTime f = split_fhour(fhour);
    char text[DATE_FHOUR_LEN];
    std::string out = DATE_fhour_label(text, f.shown, date->hour == DATE_MISSING, sizeof text);
    if (is_forecast_shown(f.shown)) out += " ";
    if (model) out += model;

    const Date d = normalised_for_label(*date);
    if (f.t1 != 0 || is_forecast_shown(f.shown)) {
        bool weekday = false;
        if (f.t2 <= 0 || f.t3 != 0) {
            out += " valid";
            weekday = true;
        } else if (f.t3_raw >= 500) {
            out += have_model ? " analysis starting" : "Analysis starting";
            f.t3 = 0;
        } else {
            out += have_model ? " analysis valid" : "Analysis valid";
        }
        const Date valid = with_weekday(shift_date(d, forecast_seconds(d, f.t3)));
        out += valid_part(valid, weekday, false, true);
    } else {
        out += have_model ? " analysis for " : "Analysis for ";
        out += standard_label(d);
    }
    return deliver(out, str, size);
}

int DATE_make_label_for_time(int fhour, int model, const Date* date, char* str,
                             std::size_t size) {
    return DATE_make_label_for_time_mod(fhour, VAR_model(model), date, str, size);
}

int DATE_make_label_for(int fhour, int model, std::int64_t seconds, char* str,
                        std::size_t size) {
    if (!str) return -1;
    ForecastTime f = split_fhour(fhour);
    char text[DATE_FHOUR_LEN];
    std::string out = DATE_fhour_label(text, f.shown, 0, sizeof text);
    if (is_forecast_shown(f.shown)) out += " ";
    out += VAR_model(model);
    if (seconds == 0) {
        if (f.shown == 0) out += " analysis";
        deliver(out, str, size);
        return -1;
    }
    bool weekday = false;
    if (f.t2 < 6 || f.t3 != 0) {
        if (f.shown != 0) {
            out += " valid";
            weekday = true;
        } else {
            out += " analysis for";
        }
    } else if (f.t3_raw < 500) {
        out += " analysis valid";
    } else {
        out += " analysis starting";
        f.t3 = 0;
    }
    Date ref{};
    DATE_get_gmdate(&seconds, &ref);
    Date valid = shift_date(ref, forecast_seconds(ref, f.t3));
    // Whole hours read as the hour alone; a minute shows only when there is one.
    if (valid.min == 0) valid.min = DATE_MISSING;
    out += valid_part(valid, weekday, true);
    return deliver(out, str, size);
}

int DATE_make_label_valid_time(int fhour, const Date* date, char* str, std::size_t size) {
    if (!str) return -1;
    if (!date) {
        deliver("", str, size);
        return -1;
    }
    const ForecastTime f = split_fhour(fhour);
    const Date d = normalised_for_label(*date);
    const int t3 = fhour == DATE_MISSING ? 0 : f.t3;
    const Date valid = with_weekday(shift_date(d, forecast_seconds(d, t3)));
    std::string out = valid_part(valid, true, true);
    return deliver(out.substr(1), str, size);
}

int DATE_make_seq(Date* date, char* str, std::size_t size) {
    if (!str) return -1;
    if (!date) {
        deliver("", str, size);
        return -1;
    }
    if (date->year < 0) date->year = 1980;
    if (date->month < 1 || date->month > 12) date->month = 1;
    if (date->day < 0 || date->day > 31) date->day = 1;
    if (date->hour < 0 || date->hour > 23) date->hour = 0;
    if (date->min < 0 || date->min > 59) date->min = 0;
    return deliver(format("%4.4d%2.2d%2.2d%2.2d%2.2d", date->year, date->month, date->day,
                          date->hour, date->min),
                   str, size);
}

int DATE_decode_seq(const char* str, Date* date) {
    if (!str || !date) return -1;
    DATE_init(date);
    const int n = std::sscanf(str, "%4d%2d%2d%2d%2d", &date->year, &date->month, &date->day,
                              &date->hour, &date->min);
    if (n < 1) {
        MESS_print(M_warn, "DATE_decode_seq: Not a date sequence: %s\n", str);
        return -1;
    }
    return 0;
}

int DATE_decode_month(const char* str) {
    if (!str) return 0;
    // Decided by letters, not by whole English names: file names and labels from other
    // sources spell some months otherwise ("FEV", "AVR", "OKT", "DEZ").
    const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    const auto upper = [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; };
    for (int i = 0; i < 3; ++i)
        if (!letter(str[i]) || upper(str[i]) != upper(str[0])) return 0;
    const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(str[0])));
    const char second = static_cast<char>(std::toupper(static_cast<unsigned char>(str[1])));
    const char third = static_cast<char>(std::toupper(static_cast<unsigned char>(str[2])));
    switch (first) {
    case 'F': return 2;
    case 'S': return 9;
    case 'O': return 10;
    case 'N': return 11;
    case 'D': return 12;
    default: break;
    }
    if (first == 'J' && second == 'A') return 1;
    static constexpr struct {
        char first, third;
        int month;
    } kByFirstAndThird[] = {{'J', 'N', 6}, {'J', 'L', 7}, {'M', 'R', 3}, {'M', 'Y', 5}, {'A', 'R', 4}, {'A', 'G', 8}};
    for (const auto& rule : kByFirstAndThird)
        if (rule.first == first && rule.third == third) return rule.month;
    return 0;
}

namespace {

int full_year(int yy) {
    if (yy <= 49) yy += 2000;
    if (yy <= 199) yy += 1900;
    return yy;
}

// Fills date when the fields read make a real date; the month comes from its name.
bool accept(Date* date, int year, const char* month_name, int day, int hour, int min, int sec) {
    const int month = DATE_decode_month(month_name);
    if (month == 0 || day < 1 || day > 31 || hour < 0 || hour > 23) return false;
    if (min != DATE_MISSING && (min < 0 || min > 59)) return false;
    if (sec != DATE_MISSING && (sec < 0 || sec > 59)) return false;
    date->year = full_year(year);
    date->month = month;
    date->day = day;
    date->hour = hour;
    date->min = min;
    date->sec = sec;
    return true;
}

const char* last_chars(const char* str, std::size_t n) {
    const std::size_t len = std::strlen(str);
    return len > n ? str + (len - n) : str;
}

// The forms written in the 24-hour UTC clock. Labels read from files often carry trailing
// blanks or a line end; the forms anchored at the end are matched against the text without
// them and must use up their whole window, so that a shifted window cannot read the
// minutes as the hour. A year followed by more digits is no two-digit year: read at the
// start, a four-digit year from 1900 on is taken whole, anything else is refused.
bool decode_utc_forms(const char* str, Date* date) {
    std::string text(str);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    const auto is_digit = [&](std::size_t i) {
        return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
    };
    int h = 0, m = 0, s = 0, day = 0, yy = 0;
    int year_at = -1, used = -1;
    char mon[4] = {};
    if (std::sscanf(text.c_str(), "%2dZ %2d %3s %n%4d%n", &h, &day, mon, &year_at, &yy, &used) ==
            4 &&
        year_at >= 0 && used >= 0) {
        std::size_t width = 0;
        while (is_digit(year_at + width)) ++width;
        if (static_cast<int>(width) == used - year_at &&
            (width <= 2 || (width == 4 && yy >= 1900)) &&
            accept(date, yy, mon, day, h, DATE_MISSING, DATE_MISSING))
            return true;
    }
    // Hour and minute before the Z: exactly three or four digits, so that "06Z" or "12Z"
    // after blanks is never split into a one-digit hour and a minute.
    const std::size_t window_start = text.size() > 15 ? text.size() - 15 : 0;
    for (std::size_t zulu = text.find('Z', window_start); zulu != std::string::npos; zulu = text.find('Z', zulu + 1)) {
        std::size_t clock_start = zulu;
        while (clock_start > 0 && is_digit(clock_start - 1)) --clock_start;
        const std::size_t width = zulu - clock_start;
        used = -1;
        if ((width == 3 || width == 4) &&
            std::sscanf(text.c_str() + zulu, "Z %2d %3s %2d%n", &day, mon, &yy, &used) == 3 &&
            used == static_cast<int>(text.size() - zulu)) {
            h = std::stoi(text.substr(clock_start, width - 2));
            m = std::stoi(text.substr(zulu - 2, 2));
            if (accept(date, yy, mon, day, h, m, DATE_MISSING)) return true;
        }
    }
    const std::string last19 = last_chars(text.c_str(), 19);
    used = -1;
    if (std::sscanf(last19.c_str(), "%2d:%2d:%2dZ %2d %3s %2d%n", &h, &m, &s, &day, mon, &yy,
                    &used) == 6 &&
        used == static_cast<int>(last19.size()) && accept(date, yy, mon, day, h, m, s))
        return true;
    const std::string last13 = last_chars(text.c_str(), 13);
    // The hour must be the whole clock: not the seconds or minutes of a longer one.
    const std::size_t before = text.size() - last13.size();
    const bool clock_whole = before == 0 || (!is_digit(before - 1) && text[before - 1] != ':');
    used = -1;
    if (clock_whole && std::sscanf(last13.c_str(), "%2dZ %2d %3s %2d%n", &h, &day, mon, &yy, &used) == 4 &&
        used == static_cast<int>(last13.size()) &&
        accept(date, yy, mon, day, h, DATE_MISSING, DATE_MISSING))
        return true;
    return false;
}

// A token made only of digits, min_len to max_len of them.
bool digits(const std::string& tok, std::size_t min_len, std::size_t max_len, int* value) {
    if (tok.size() < min_len || tok.size() > max_len) return false;
    int v = 0;
    for (char c : tok) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// A 12-hour clock "H" or "H:MM" with its "AM"/"PM": the hour 0-23 and minute (or -9999).
bool twelve_hour(const std::string& clock, const std::string& half, int* hour, int* min) {
    if (half != "AM" && half != "PM") return false;
    const std::size_t colon = clock.find(':');
    *min = DATE_MISSING;
    if (!digits(clock.substr(0, colon), 1, 2, hour) || *hour < 1 || *hour > 12) return false;
    if (colon != std::string::npos && (!digits(clock.substr(colon + 1), 2, 2, min) || *min > 59)) return false;
    *hour = *hour % 12 + (half == "PM" ? 12 : 0);
    return true;
}

// A 24-hour clock "HH" or "HHMM", hour 0-23 and minute 0-59.
bool day_clock(const std::string& clock, int* hour, int* min) {
    *min = DATE_MISSING;
    bool read = clock.size() == 4 ? digits(clock.substr(0, 2), 2, 2, hour) && digits(clock.substr(2), 2, 2, min)
                                  : digits(clock, 1, 2, hour);
    return read && *hour <= 23 && (*min == DATE_MISSING || *min <= 59);
}

std::vector<std::string> split_blanks(const char* str) {
    std::vector<std::string> tokens;
    std::string tok;
    for (const char* p = str;; ++p) {
        if (*p == '\0' || std::isspace(static_cast<unsigned char>(*p))) {
            if (!tok.empty()) tokens.push_back(tok);
            tok.clear();
            if (*p == '\0') break;
        } else {
            tok += *p;
        }
    }
    return tokens;
}

// Moves a date read in a display zone back to UTC by offset_min minutes.
void local_to_utc(Date* date, int offset_min) {
    const bool with_min = date->min != DATE_MISSING;
    Date copy = *date;
    if (!with_min) copy.min = 0;
    copy.sec = 0;
    const std::int64_t t = DATE_num_sec(&copy) - static_cast<std::int64_t>(offset_min) * 60;
    DATE_get_gmdate(&t, date);
    date->jday = DATE_MISSING;
    date->wday = DATE_MISSING;
    date->sec = DATE_MISSING;
    if (!with_min) date->min = DATE_MISSING;
}

// Labels written in a display zone, read from their last words. With the UTC clock in
// brackets the zone's offset follows from the two clocks; otherwise the zone name must be
// that of the current display zone.
bool decode_zone_forms(const char* str, Date* date) {
    const std::vector<std::string> t = split_blanks(str);
    const std::size_t n = t.size();
    int day = 0, yy = 0;
    if (n < 5 || !digits(t[n - 3], 1, 2, &day) || !digits(t[n - 1], 2, 2, &yy)) return false;
    const std::string& mon = t[n - 2];
    int hour = 0, min = DATE_MISSING;
    const std::string& word = t[n - 4];
    if (word.size() >= 4 && word.front() == '[' && word.substr(word.size() - 2) == "Z]") {
        int utc_h = 0, utc_m = DATE_MISSING;
        if (!day_clock(word.substr(1, word.size() - 3), &utc_h, &utc_m)) return false;
        // The zone name between the clock and the brackets may be absent.
        const bool unnamed = n >= 6 && twelve_hour(t[n - 6], t[n - 5], &hour, &min);
        if (!unnamed && !(n >= 7 && twelve_hour(t[n - 7], t[n - 6], &hour, &min))) return false;
        if (!accept(date, yy, mon.c_str(), day, hour, min, DATE_MISSING)) return false;
        int diff = (hour * 60 + (min == DATE_MISSING ? 0 : min)) -
                   (utc_h * 60 + (utc_m == DATE_MISSING ? 0 : utc_m));
        diff = ((diff % 1440) + 1440) % 1440;
        if (diff >= 720) diff -= 1440;
        local_to_utc(date, diff);
        if (utc_m != DATE_MISSING && date->min == DATE_MISSING) date->min = utc_m;
        return true;
    }
    if (tz_str[0] != ' ' || word != tz_str + 1) return false;
    const bool ok = tz_pm != 0 ? n >= 6 && twelve_hour(t[n - 6], t[n - 5], &hour, &min)
                               : day_clock(t[n - 5], &hour, &min);
    if (!ok || !accept(date, yy, mon.c_str(), day, hour, min, DATE_MISSING)) return false;
    local_to_utc(date, tz_off / 60);
    return true;
}

}  // namespace

int DATE_decode_label(const char* str, Date* date) {
    if (!date) return -1;
    DATE_init(date);
    if (!str) return -1;
    if (decode_utc_forms(str, date) || decode_zone_forms(str, date)) return 0;
    DATE_init(date);
    MESS_print(M_warn, "DATE_decode_label: Unable to read a date from label: %s\n", str);
    return -1;
}
