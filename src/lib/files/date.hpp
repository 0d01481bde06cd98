// Calendar arithmetic on UTC dates, the display time zone, the decoding time with its
// acceptance window, and the date labels written into headers, titles and listings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "mess.hpp"

// A calendar date and time of day, always UTC. -9999 in a field means "not set": a date
// whose hour is -9999 names a whole day, one whose min is -9999 a whole hour.
struct Date {
    std::int32_t year;   // full year, e.g. 2026
    std::int32_t month;  // 1-12
    std::int32_t day;    // 1-31
    std::int32_t jday;   // day of year, 1-366
    std::int32_t wday;   // day of week, 0 = Sunday ... 6 = Saturday
    std::int32_t hour;   // 0-23
    std::int32_t min;    // 0-59
    std::int32_t sec;    // 0-59
};

inline constexpr int DATE_MISSING = -9999;
// Buffer sizes (bytes, terminator included) the text writers assume when no size is given;
// longer texts are cut, never overrun.
inline constexpr std::size_t DATE_CURRENT_LEN = 21;  // "26 DEC 07  07:06:43Z"
inline constexpr std::size_t DATE_SIMPLE_LEN = 10;   // "07-07:06Z"
inline constexpr std::size_t DATE_SEQ_LEN = 13;      // "202612070600"
inline constexpr std::size_t DATE_LABEL_LEN = 40;    // every date and forecast label
inline constexpr std::size_t DATE_FHOUR_LEN = 20;    // forecast-hour text, "3.5 day"

// ---- Names and printing --------------------------------------------------------------
// Month 1-12 to "JAN".."DEC" / "jan".."dec" / "January".."December"; "" outside 1-12.
const char* DATE_month(int month);
const char* DATE_month_lower(int month);
const char* DATE_month_long(int month);
// Weekday 0-6 (Sunday first) to "SUN".."SAT"; "" outside 0-6.
const char* DATE_weekday(int wday);
// Sets every field to -9999. Returns 0.
int DATE_init(Date* date);
// Prints "year/month/day hh:mm:ss" at the given message level. Returns 0.
int DATE_print(M_type level, const Date* date);

// ---- Current time --------------------------------------------------------------------
// Current time in seconds since 1970, also stored through secs when not null.
std::int64_t DATE_get_time(std::int64_t* secs);
// The C library's broken-down UTC / local time of *secs (null: now); static storage.
struct tm* DATE_get_gmtime(const std::int64_t* secs);
struct tm* DATE_get_localtime(const std::int64_t* secs);
// Fills every field of date from *secs (null: now), in UTC / local time. Returns 0.
int DATE_get_gmdate(const std::int64_t* secs, Date* date);
int DATE_get_localdate(const std::int64_t* secs, Date* date);
int DATE_get_current_gmdate(Date* date);
// Current UTC time as "yy MON dd  hh:mm:ssZ"; str holds size bytes (21 needed). Returns 0.
int DATE_get_current_str(char* str, std::size_t size = DATE_CURRENT_LEN);
// Prints the text of DATE_get_current_str at the level, without newline. Returns 0.
int DATE_print_current(M_type level);
// Current UTC time as "dd-hh:mmZ"; str holds size bytes (10 needed). Returns 0.
int DATE_get_simple_current_str(char* str, std::size_t size = DATE_SIMPLE_LEN);

// ---- Conversions ---------------------------------------------------------------------
// 1 for a Gregorian leap year, else 0.
int DATE_is_leap(int year);
// Seconds since 1970-01-01 00:00 UTC. Normalises *date in place first: years 0-49 are
// 2000-2049, 50-199 are 1950-2099, negative 1980; stray fields become 1 (month, day) or 0.
std::int64_t DATE_num_sec(Date* date);
// Seconds since 1970 of a C library broken-down time (tm_year counts from 1900).
std::int64_t DATE_num_sec_tm(const struct tm* tm);
// Day number with 1970-01-01 as day 1.
std::int64_t DATE_date_days(int year, int month, int day);
// Inverse of DATE_date_days (days >= 1). Returns 0.
int DATE_days_date(std::int64_t days, int* year, int* month, int* day);
// Splits rsecs into whole hours (not limited to 23), minutes and seconds. Returns 1.
int DATE_time_date(std::int64_t rsecs, int* hour, int* min, int* sec);
// Day of year (clamped to 1..365/366) to month and day. Returns 0.
int DATE_julian_monday(int year, int julian, int* month, int* day);
// Month (clamped to 1..12) and day to day of year. Returns 0.
int DATE_monday_julian(int year, int month, int day, int* julian);
// Fills one module-owned Date (sec 0; jday, wday untouched); each call overwrites it.
Date* DATE_to_struct(int year, int month, int day, int hour, int min);

// ---- Display time zone ---------------------------------------------------------------
// "[+|-]NAME:HOURS": "-" 12-hour clock with the UTC hour in brackets, "+" 12-hour clock,
// no sign keeps the clock mode; suffix " NAME" (4 characters at most); offset HOURS x 3600 s.
// Returns 0, or -1 (zone unchanged) for a null text or one without ":HOURS".
int DATE_set_TZ(const char* str);
// Back to UTC: suffix "Z", no offset, 24-hour clock.
void DATE_reset_TZ();
int DATE_get_tz_off();            // seconds added to UTC for display
const char* DATE_get_tz_str();    // suffix after clock times, "Z" by default
int DATE_get_tz_pm();             // 0 24-hour, +1 12-hour, -1 12-hour plus "[hhZ]"

// ---- Decoding time and acceptance window ---------------------------------------------
// Sets the decoding time from date, the requested hour/minute (FILE_get_time) and the
// resource "decode_hour". 0, or -1 for a null date.
int DATE_set_datim(const Date* date);
// Copies the decoding time out. Returns 0.
int DATE_get_datim(Date* date);
// Window from pre minutes (negative = before) to post minutes after the decoding time.
int DATE_set_range(int pre, int post);
// 1 when an observation at hhmm (hour x 100 + minute) on the day nearest to the decoding
// time falls inside the window, else 0 (also for -9999).
int DATE_chk_range(int hhmm);

// ---- Labels --------------------------------------------------------------------------
// Every label writer takes the caller's buffer size (default DATE_LABEL_LEN) and cuts a
// longer text.

// Standard label, e.g. "12Z  7 DEC 26" or "6 AM CST [12Z]  7 DEC 26". 0, or -1 for null str.
int DATE_make_label(const Date* date, char* str, std::size_t size = DATE_LABEL_LEN);
// Fills format (%F %f %x %y %m %M %d %h %n). 0, or -1 for a null str or format.
int DATE_format_label(char* str, const char* format, int fhour, const char* model,
                      const Date* date, std::size_t size = DATE_LABEL_LEN);
// Forecast-hour text ("36 hour", "1.5 day", "2 month"); flag 1 gives day forms from 12 h.
// Returns str.
char* DATE_fhour_label(char* str, int fhour, int flag, std::size_t size = DATE_FHOUR_LEN);
// Forecast label from model number and reference time (seconds since 1970).
// 0, or -1 when seconds is 0 (analysis text written) or str is null.
int DATE_make_label_for(int fhour, int model, std::int64_t seconds, char* str,
                        std::size_t size = DATE_LABEL_LEN);
// Forecast label from model number / model name and the reference date. 0, or -1 for null.
int DATE_make_label_for_time(int fhour, int model, const Date* date, char* str,
                             std::size_t size = DATE_LABEL_LEN);
int DATE_make_label_for_time_mod(int fhour, const char* model, const Date* date, char* str,
                                 std::size_t size = DATE_LABEL_LEN);
// Valid time (date plus the range end of fhour) in the display zone. 0, or -1 for null.
int DATE_make_label_valid_time(int fhour, const Date* date, char* str,
                               std::size_t size = DATE_LABEL_LEN);
// Sequence form "yyyymmddhhmm" (13 bytes); normalises *date in place. 0, or -1 for null.
int DATE_make_seq(Date* date, char* str, std::size_t size = DATE_SEQ_LEN);
// Reads the sequence form back into date. 0, or -1 for a null str or date.
int DATE_decode_seq(const char* str, Date* date);
// Reads a date label back as UTC: "12Z  7 DEC 26", "1230Z  7 DEC 26", "12:30:05Z  7 DEC 26"
// (also at the end of a longer text; trailing blanks and line ends are ignored), a
// display-zone label with the UTC clock in brackets, or one in the current display zone.
// The year has two digits; four only in a label at the start of str. Hour and minute come
// together only from three or four digits before the "Z"; an hour above 23 or a minute
// above 59 matches no form. Unread fields stay -9999. 0, or -1 (date cleared) when no form
// matches or str is null.
int DATE_decode_label(const char* str, Date* date);
// Month number 1-12 from the first three letters (all upper or all lower case): F, S, O,
// N, D decide alone; "JA" is 1; otherwise the first and third letters (J-N 6, J-L 7, M-R 3,
// M-Y 5, A-R 4, A-G 8), so "FEV", "OKT" or "DEZ" decode too. 0 when no rule matches.
int DATE_decode_month(const char* str);
