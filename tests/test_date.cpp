// Calendar arithmetic against the C library, normalisation of stray fields, day numbers,
// day-of-year conversions, the display zone and the decoding window.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "date.hpp"
#include "files.hpp"
#include "resrc.hpp"

namespace {

Date make(int year, int month, int day, int hour = 0, int min = 0, int sec = 0) {
    return Date{year, month, day, DATE_MISSING, DATE_MISSING, hour, min, sec};
}

// True when text follows shape, where '9' stands for any digit and 'A' for an upper-case
// letter; every other character of shape must appear as it is.
bool has_shape(const char* text, const char* shape) {
    for (; *shape; ++text, ++shape) {
        if (*shape == '9' ? !std::isdigit(static_cast<unsigned char>(*text))
            : *shape == 'A' ? !std::isupper(static_cast<unsigned char>(*text))
                            : *text != *shape)
            return false;
    }
    return *text == '\0';
}

std::int64_t libc_seconds(int year, int month, int day, int hour, int min, int sec) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return static_cast<std::int64_t>(timegm(&t));
}

class DateTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        DATE_reset_TZ();
    }
    void TearDown() override { DATE_reset_TZ(); }
};

// Every day from 1970 through 2099 at several times of day: seconds agree with timegm and
// the broken-down date comes back whole, weekday and day of year included.
TEST_F(DateTest, SecondsAgreeWithLibcForEveryDayAndRoundTrip) {
    const int times[][3] = {{0, 0, 0}, {6, 30, 15}, {12, 0, 1}, {23, 59, 59}};
    int failures = 0;
    std::int64_t day_start = 0;
    for (int year = 1970; year <= 2099 && failures < 5; ++year) {
        for (int month = 1; month <= 12; ++month) {
            const int days_in_month = (month == 2) ? 28 + DATE_is_leap(year)
                                      : (month == 4 || month == 6 || month == 9 || month == 11)
                                          ? 30
                                          : 31;
            for (int day = 1; day <= days_in_month; ++day) {
                for (const auto& hms : times) {
                    Date d = make(year, month, day, hms[0], hms[1], hms[2]);
                    const std::int64_t got = DATE_num_sec(&d);
                    const std::int64_t want =
                        libc_seconds(year, month, day, hms[0], hms[1], hms[2]);
                    if (got != want) {
                        ADD_FAILURE() << year << "-" << month << "-" << day << " got " << got
                                      << " want " << want;
                        ++failures;
                    }
                    Date back{};
                    DATE_get_gmdate(&got, &back);
                    const time_t tt = static_cast<time_t>(want);
                    struct tm ref {};
                    gmtime_r(&tt, &ref);
                    if (back.year != year || back.month != month || back.day != day ||
                        back.hour != hms[0] || back.min != hms[1] || back.sec != hms[2] ||
                        back.wday != ref.tm_wday || back.jday != ref.tm_yday + 1) {
                        ADD_FAILURE() << "round trip of " << year << "-" << month << "-" << day;
                        ++failures;
                    }
                }
                // Consecutive days are exactly 86400 s apart.
                Date midnight = make(year, month, day);
                const std::int64_t start = DATE_num_sec(&midnight);
                if (!(year == 1970 && month == 1 && day == 1) && start - day_start != 86400) {
                    ADD_FAILURE() << "gap before " << year << "-" << month << "-" << day;
                    ++failures;
                }
                day_start = start;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(DateTest, SecondsOfKnownDates) {
    struct Case {
        Date date;
        std::int64_t secs;
    } cases[] = {
        {make(1970, 1, 1), 0},
        {make(2000, 3, 1), 951868800},
        {make(26, 12, 7, 12), 1796644800},        // two-digit year 26 is 2026
        {make(2038, 1, 19, 3, 14, 8), 2147483648LL},  // one past the 32-bit limit
        {make(2100, 3, 1), 4107542400LL},         // 2100 is not a leap year
        {make(2400, 2, 29), 13574563200LL},       // 2400 is
    };
    for (auto& c : cases) {
        Date d = c.date;
        EXPECT_EQ(DATE_num_sec(&d), c.secs) << c.date.year << "-" << c.date.month;
    }
}

// Stray fields are normalised and written back into the caller's record.
TEST_F(DateTest, NormalisationRulesWriteBack) {
    struct Case {
        Date in;
        Date out;  // jday/wday untouched
    } cases[] = {
        {make(0, 6, 1), make(2000, 6, 1)},
        {make(49, 6, 1), make(2049, 6, 1)},
        {make(50, 6, 1), make(1950, 6, 1)},
        {make(99, 6, 1), make(1999, 6, 1)},
        {make(150, 6, 1), make(2050, 6, 1)},
        {make(199, 6, 1), make(2099, 6, 1)},
        {make(-1, 6, 1), make(1980, 6, 1)},
        {make(-9999, 6, 1), make(1980, 6, 1)},
        {make(2026, 0, 5), make(2026, 1, 5)},
        {make(2026, 13, 5), make(2026, 1, 5)},
        {make(2026, 3, -1), make(2026, 3, 1)},
        {make(2026, 3, 32), make(2026, 3, 1)},
        {make(2026, 3, 0), make(2026, 3, 0)},
        {make(2026, 3, 4, 24, 60, 60), make(2026, 3, 4, 0, 0, 0)},
        {make(2026, 3, 4, -1, -1, -1), make(2026, 3, 4, 0, 0, 0)},
        {make(2026, 3, 4, -9999, -9999, -9999), make(2026, 3, 4, 0, 0, 0)},
    };
    for (auto& c : cases) {
        Date d = c.in;
        DATE_num_sec(&d);
        EXPECT_EQ(d.year, c.out.year) << "in year " << c.in.year;
        EXPECT_EQ(d.month, c.out.month) << "in month " << c.in.month;
        EXPECT_EQ(d.day, c.out.day) << "in day " << c.in.day;
        EXPECT_EQ(d.hour, c.out.hour);
        EXPECT_EQ(d.min, c.out.min);
        EXPECT_EQ(d.sec, c.out.sec);
        EXPECT_EQ(d.jday, DATE_MISSING);
    }
}

TEST_F(DateTest, DayZeroAndOverflowingDaysRollOver) {
    Date mar0 = make(2024, 3, 0), feb29 = make(2024, 2, 29);
    EXPECT_EQ(DATE_num_sec(&mar0), DATE_num_sec(&feb29));
    Date jan0 = make(2026, 1, 0), dec31 = make(2025, 12, 31);
    EXPECT_EQ(DATE_num_sec(&jan0), DATE_num_sec(&dec31));
    Date apr31 = make(2026, 4, 31), may1 = make(2026, 5, 1);
    EXPECT_EQ(DATE_num_sec(&apr31), DATE_num_sec(&may1));
    Date day32 = make(2026, 4, 32), apr1 = make(2026, 4, 1);  // 32 is out of range: the 1st
    EXPECT_EQ(DATE_num_sec(&day32), DATE_num_sec(&apr1));
}

TEST_F(DateTest, BrokenDownTimeConvertsBeyond2099) {
    for (std::int64_t secs : {0LL, 951868800LL, 2147483648LL, 4107542400LL, 5680281599LL}) {
        const time_t t = static_cast<time_t>(secs);
        struct tm b {};
        gmtime_r(&t, &b);
        EXPECT_EQ(DATE_num_sec_tm(&b), secs);
    }
}

// Far-out values must neither overflow (the sanitizer build traps it) nor crash.
TEST_F(DateTest, ExtremeInputsStayDefined) {
    Date huge = make(INT32_MAX, 12, 31, 23, 59, 59);
    EXPECT_GT(DATE_num_sec(&huge), 0);
    struct tm far {};
    far.tm_year = INT32_MAX;
    far.tm_mday = 1;
    EXPECT_GT(DATE_num_sec_tm(&far), 0);
    int y = 0, m = 0, d = 0, j = 0;
    DATE_days_date(INT64_MAX, &y, &m, &d);
    DATE_days_date(INT64_MIN, &y, &m, &d);
    DATE_monday_julian(2024, 12, INT32_MAX, &j);
    DATE_time_date(INT64_MIN, &y, &m, &d);
    Date out{};
    const std::int64_t beyond = INT64_MAX / 2;
    EXPECT_EQ(DATE_get_gmdate(&beyond, &out), -1);
    EXPECT_EQ(out.year, DATE_MISSING);
}

TEST_F(DateTest, LeapYears) {
    const int leap[] = {1972, 2000, 2024, 2096, 2400};
    const int common[] = {1900, 1970, 2023, 2100, 2200};
    for (int y : leap) EXPECT_EQ(DATE_is_leap(y), 1) << y;
    for (int y : common) EXPECT_EQ(DATE_is_leap(y), 0) << y;
}

TEST_F(DateTest, DayNumbersAndTheirInverse) {
    EXPECT_EQ(DATE_date_days(1970, 1, 1), 1);
    EXPECT_EQ(DATE_date_days(1971, 1, 1), 366);
    EXPECT_EQ(DATE_date_days(2000, 3, 1), 951868800 / 86400 + 1);
    EXPECT_EQ(DATE_date_days(2026, 13, 5), DATE_date_days(2026, 1, 5));

    int y = 0, m = 0, d = 0;
    EXPECT_EQ(DATE_days_date(1, &y, &m, &d), 0);
    EXPECT_EQ(y * 10000 + m * 100 + d, 19700101);
    DATE_days_date(366, &y, &m, &d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 19710101);

    // Every day 1970-2199 goes there and back, and agrees with the seconds.
    int bad = 0;
    for (std::int64_t n = 1; n <= DATE_date_days(2199, 12, 31) && bad < 5; ++n) {
        DATE_days_date(n, &y, &m, &d);
        Date date = make(y, m, d);
        if (DATE_date_days(y, m, d) != n || DATE_num_sec(&date) != (n - 1) * 86400) {
            ADD_FAILURE() << "day " << n << " -> " << y << "-" << m << "-" << d;
            ++bad;
        }
    }
    DATE_days_date(DATE_date_days(2100, 2, 28) + 1, &y, &m, &d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 21000301);
}

TEST_F(DateTest, DayOfYearConversions) {
    struct Case {
        int year, julian, month, day;
    } cases[] = {
        {2024, 60, 2, 29}, {2023, 60, 3, 1},   {2023, 400, 12, 31}, {2024, 400, 12, 31},
        {2024, 366, 12, 31}, {2023, 1, 1, 1},  {2023, 0, 1, 1},     {2023, -5, 1, 1},
        {2100, 60, 3, 1},  {2000, 60, 2, 29},  {2023, 32, 2, 1},    {2023, 31, 1, 31},
    };
    for (const auto& c : cases) {
        int m = 0, d = 0;
        DATE_julian_monday(c.year, c.julian, &m, &d);
        EXPECT_EQ(m, c.month) << c.year << " day " << c.julian;
        EXPECT_EQ(d, c.day) << c.year << " day " << c.julian;
    }
    for (int year : {2023, 2024}) {
        for (int j = 1; j <= 365 + DATE_is_leap(year); ++j) {
            int m = 0, d = 0, back = 0;
            DATE_julian_monday(year, j, &m, &d);
            DATE_monday_julian(year, m, d, &back);
            ASSERT_EQ(back, j) << year;
        }
    }
    int j = 0;
    DATE_monday_julian(2024, 0, 5, &j);
    EXPECT_EQ(j, 5);
    DATE_monday_julian(2024, 13, 5, &j);
    EXPECT_EQ(j, 335 + 5);
}

TEST_F(DateTest, SplitsSecondsIntoHoursMinutesSeconds) {
    int h = 0, m = 0, s = 0;
    EXPECT_EQ(DATE_time_date(90061, &h, &m, &s), 1);
    EXPECT_EQ(h, 25);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(s, 1);
    DATE_time_date(3599, &h, &m, &s);
    EXPECT_EQ(h * 10000 + m * 100 + s, 5959);
}

TEST_F(DateTest, NamesAndSharedRecord) {
    EXPECT_STREQ(DATE_month(1), "JAN");
    EXPECT_STREQ(DATE_month(12), "DEC");
    EXPECT_STREQ(DATE_month_lower(6), "jun");
    EXPECT_STREQ(DATE_month_long(9), "September");
    for (int bad : {0, 13, -9999}) {
        EXPECT_STREQ(DATE_month(bad), "");
        EXPECT_STREQ(DATE_month_lower(bad), "");
        EXPECT_STREQ(DATE_month_long(bad), "");
    }
    EXPECT_STREQ(DATE_weekday(0), "SUN");
    EXPECT_STREQ(DATE_weekday(7), "");

    Date d{};
    DATE_init(&d);
    EXPECT_EQ(d.year, DATE_MISSING);
    EXPECT_EQ(d.sec, DATE_MISSING);

    Date* a = DATE_to_struct(2026, 12, 7, 6, 30);
    EXPECT_EQ(a->sec, 0);
    Date* b = DATE_to_struct(2027, 1, 2, 3, 4);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->year, 2027);
}

TEST_F(DateTest, CurrentTimeTextsAndTheirBufferSizes) {
    char text[64];
    std::memset(text, 'x', sizeof text);
    DATE_get_current_str(text, sizeof text);
    EXPECT_TRUE(has_shape(text, "99 AAA 99  99:99:99Z"))
        << text;
    EXPECT_EQ(std::strlen(text), DATE_CURRENT_LEN - 1);

    char exact[DATE_CURRENT_LEN + 1];
    std::memset(exact, 'x', sizeof exact);
    DATE_get_current_str(exact);  // default size: the whole text fits
    EXPECT_EQ(std::strlen(exact), DATE_CURRENT_LEN - 1);
    EXPECT_EQ(exact[DATE_CURRENT_LEN], 'x');

    char small[8];
    std::memset(small, 'x', sizeof small);
    DATE_get_current_str(small, 5);
    EXPECT_EQ(std::strlen(small), 4u);
    EXPECT_EQ(small[5], 'x');

    DATE_get_simple_current_str(text, sizeof text);
    EXPECT_TRUE(has_shape(text, "99-99:99Z")) << text;

    std::int64_t secs = 0;
    const std::int64_t now = DATE_get_time(&secs);
    EXPECT_EQ(now, secs);
    EXPECT_GT(now, 1700000000);
}

TEST_F(DateTest, TimeZoneTexts) {
    struct Case {
        const char* text;
        const char* suffix;
        int offset, pm;
    } cases[] = {
        {"+EST:-5", " EST", -18000, 1},
        {"-CST:-6", " CST", -21600, -1},
        {"IST:5.5", " IST", 19800, 0},        // no sign: clock mode unchanged
        {"+LONGNAME:-3", " LONG", -10800, 1},  // at most four letters of the name
        {"-NST:-3.5", " NST", -12600, -1},
    };
    for (const auto& c : cases) {
        DATE_reset_TZ();
        EXPECT_EQ(DATE_set_TZ(c.text), 0) << c.text;
        EXPECT_STREQ(DATE_get_tz_str(), c.suffix) << c.text;
        EXPECT_EQ(DATE_get_tz_off(), c.offset) << c.text;
        EXPECT_EQ(DATE_get_tz_pm(), c.pm) << c.text;
    }
    // A signless text keeps the clock mode already chosen.
    DATE_set_TZ("-CST:-6");
    DATE_set_TZ("MST:-7");
    EXPECT_EQ(DATE_get_tz_pm(), -1);

    // Unusable texts leave the zone alone.
    DATE_reset_TZ();
    for (const char* bad : {"EST", "-EST", "EST:", "EST:abc", "EST:99", ""}) {
        EXPECT_EQ(DATE_set_TZ(bad), -1) << bad;
        EXPECT_STREQ(DATE_get_tz_str(), "Z");
        EXPECT_EQ(DATE_get_tz_off(), 0);
        EXPECT_EQ(DATE_get_tz_pm(), 0);
    }
    EXPECT_EQ(DATE_set_TZ(nullptr), -1);
}

}  // namespace

namespace {

class DecodeTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        RES_clear();
        FILE_reset_time();
        DATE_set_range(-15, 10);
    }
    void TearDown() override {
        RES_clear();
        FILE_reset_time();
        DATE_set_range(-15, 10);
    }
    // Sets the decoding time for date with an optional "decode_hour" value.
    static Date decode(const char* decode_hour, Date date) {
        if (decode_hour) RES_put("decode_hour", decode_hour);
        EXPECT_EQ(DATE_set_datim(&date), 0);
        Date out{};
        DATE_get_datim(&out);
        return out;
    }
};

int hhmm(const Date& d) { return d.hour * 100 + d.min; }

// Which observation times the default window (-15/+10 min) accepts around 00:00 and 12:30,
// including the hour and day wrap of the observation clock.
TEST_F(DecodeTimeTest, WindowAroundTheDecodingTime) {
    decode(nullptr, make(2026, 12, 7, 0, 0));
    const struct {
        int obs, inside;
    } midnight[] = {{2355, 1}, {2345, 1}, {2344, 0}, {0, 1},    {10, 1},   {11, 0},
                    {1200, 0}, {100, 0},  {-9999, 0}, {2460, 0}, {1275, 0}, {-5, 0}};
    for (const auto& c : midnight) EXPECT_EQ(DATE_chk_range(c.obs), c.inside) << c.obs;

    decode(nullptr, make(2026, 12, 7, 12, 30));
    EXPECT_EQ(DATE_chk_range(1215), 1);
    EXPECT_EQ(DATE_chk_range(1214), 0);
    EXPECT_EQ(DATE_chk_range(1240), 1);
    EXPECT_EQ(DATE_chk_range(1241), 0);

    // Wider windows: the observation is put on the day nearest the decoding time.
    DATE_set_range(-120, 120);
    decode(nullptr, make(2026, 12, 7, 23, 0));
    EXPECT_EQ(DATE_chk_range(10), 1);     // next day, +70 min
    EXPECT_EQ(DATE_chk_range(2130), 1);   // -90 min
    EXPECT_EQ(DATE_chk_range(2059), 0);   // -121 min
    decode(nullptr, make(2026, 12, 7, 1, 0));
    EXPECT_EQ(DATE_chk_range(2330), 1);   // previous day, -90 min
    EXPECT_EQ(DATE_chk_range(1300), 0);
}

TEST_F(DecodeTimeTest, DecodeHourForms) {
    const Date at_1445 = make(2026, 12, 7, 14, 45);
    const struct {
        const char* value;
        Date date;
        int year, month, day, time, pre, post;
    } cases[] = {
        {"12:30-20+5", at_1445, 2026, 12, 7, 1230, -20, 5},
        {"12:30", at_1445, 2026, 12, 7, 1230, -15, 10},
        {"12:30-20", at_1445, 2026, 12, 7, 1230, -20, 10},
        {"6", at_1445, 2026, 12, 7, 600, -15, 10},
        {"6-30+0", at_1445, 2026, 12, 7, 600, -30, 0},
        {":-30+20", at_1445, 2026, 12, 7, 1445, -30, 20},
        {"cu:cu-10+10", at_1445, 2026, 12, 7, 1445, -10, 10},
        {"CU:CU-10", at_1445, 2026, 12, 7, 1445, -15, 10},  // one number: no window
        {"cu-3-10+10", make(2026, 12, 7, 2, 20), 2026, 12, 6, 2320, -10, 10},
        {"cu-10+5", at_1445, 2026, 12, 7, 1400, -10, 5},
        {"cu-2", at_1445, 2026, 12, 7, 1245, -15, 10},
        {"Cu:30-5+5", at_1445, 2026, 12, 7, 1430, -5, 5},
        {"cu:30", at_1445, 2026, 12, 7, 1430, -15, 10},
        {"-306", make(2026, 12, 7, 14), 2026, 12, 7, 1500, -15, 10},
        {"-306", make(2026, 12, 7, 11), 2026, 12, 7, 900, -15, 10},
        {"-2306", make(2026, 12, 7, 23), 2026, 12, 8, 1700, -15, 10},  // carried, not wrapped
        {"12:-1530", make(2026, 12, 7, 8, 44), 2026, 12, 7, 1245, -15, 10},
    };
    for (const auto& c : cases) {
        RES_clear();
        DATE_set_range(-15, 10);
        const Date got = decode(c.value, c.date);
        EXPECT_EQ(got.year * 10000 + got.month * 100 + got.day,
                  c.year * 10000 + c.month * 100 + c.day)
            << c.value;
        EXPECT_EQ(hhmm(got), c.time) << c.value;
        // The window edges, seen through the check.
        const int t = c.time;
        auto shifted = [](int time, int minutes) {
            int total = (time / 100) * 60 + time % 100 + minutes;
            total = (total % 1440 + 1440) % 1440;
            return total / 60 * 100 + total % 60;
        };
        EXPECT_EQ(DATE_chk_range(shifted(t, c.pre)), 1) << c.value;
        EXPECT_EQ(DATE_chk_range(shifted(t, c.pre - 1)), 0) << c.value;
        EXPECT_EQ(DATE_chk_range(shifted(t, c.post)), 1) << c.value;
        EXPECT_EQ(DATE_chk_range(shifted(t, c.post + 1)), 0) << c.value;
    }
}

// The hour and minute requested of the file selection replace the date's own, cycles
// included; a "decode_hour" clock overrides them, a window-only value does not.
TEST_F(DecodeTimeTest, RequestedClockAndItsOverrides) {
    const Date at_1445 = make(2026, 12, 7, 14, 45);
    Date request = make(DATE_MISSING, DATE_MISSING, DATE_MISSING, 6, DATE_MISSING);
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 645);  // minute of the date kept
    request.min = 30;
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 630);
    request.hour = -312;
    request.min = DATE_MISSING;
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 1545);  // 12 + 3
    EXPECT_EQ(hhmm(decode("9", at_1445)), 900);
    RES_clear();
    EXPECT_EQ(hhmm(decode(":-5+5", at_1445)), 1545);
}

TEST_F(DecodeTimeTest, UnusableValuesAreIgnored) {
    const Date at_1445 = make(2026, 12, 7, 14, 45);
    for (const char* bad : {"garbage", "12:xx", ":-30", "12-5+", "cu-", "-300", "12+5-3"}) {
        RES_clear();
        DATE_set_range(-15, 10);
        const Date got = decode(bad, at_1445);
        EXPECT_EQ(got.hour, 14) << bad;
        EXPECT_EQ(DATE_chk_range(1430), 1) << bad;  // default window still in force
        EXPECT_EQ(DATE_chk_range(1429), 0) << bad;
    }
    // Without a clock in the date or a request, the decoding time is midnight.
    RES_clear();
    const Date day = decode(nullptr, make(2026, 12, 7, DATE_MISSING, DATE_MISSING));
    EXPECT_EQ(hhmm(day), 0);
    EXPECT_EQ(DATE_set_datim(nullptr), -1);
}

}  // namespace
