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

constexpr int X = DATE_MISSING;

Date make(int year, int month, int day, int hour = 0, int min = 0, int sec = 0) {
    return Date{year, month, day, X, X, hour, min, sec};
}

int ymd(int y, int m, int d) { return y * 10000 + m * 100 + d; }
int hhmm(const Date& d) { return d.hour * 100 + d.min; }

// '9' stands for any digit, 'A' for an upper-case letter; other characters must match.
bool has_shape(const char* text, const char* shape) {
    for (; *shape; ++text, ++shape)
        if (*shape == '9' ? !std::isdigit(static_cast<unsigned char>(*text))
            : *shape == 'A' ? !std::isupper(static_cast<unsigned char>(*text))
                            : *text != *shape)
            return false;
    return *text == '\0';
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

// Every day 1970-2099 at several times of day: seconds agree with timegm, and the date comes
// back whole (weekday and day of year included).
TEST_F(DateTest, SecondsAgreeWithLibcForEveryDayAndRoundTrip) {
    const int times[][3] = {{0, 0, 0}, {6, 30, 15}, {12, 0, 1}, {23, 59, 59}};
    int failures = 0;
    const time_t end = 4102444800;  // 2100-01-01
    for (time_t day = 0; day < end && failures < 5; day += 86400) {
        struct tm ref {};
        gmtime_r(&day, &ref);
        for (const auto& hms : times) {
            Date d = make(ref.tm_year + 1900, ref.tm_mon + 1, ref.tm_mday, hms[0], hms[1], hms[2]);
            const std::int64_t want = day + hms[0] * 3600 + hms[1] * 60 + hms[2];
            const std::int64_t got = DATE_num_sec(&d);
            Date back{};
            DATE_get_gmdate(&got, &back);
            if (got != want || back.year != d.year || back.month != d.month ||
                back.day != d.day || back.hour != hms[0] || back.min != hms[1] ||
                back.sec != hms[2] || back.wday != ref.tm_wday || back.jday != ref.tm_yday + 1) {
                ADD_FAILURE() << d.year << "-" << d.month << "-" << d.day << " got " << got
                              << " want " << want;
                ++failures;
            }
        }
    }
}

TEST_F(DateTest, SecondsOfKnownDates) {
    const struct {
        Date date;
        std::int64_t secs;
    } cases[] = {
        {make(1970, 1, 1), 0},
        {make(2000, 3, 1), 951868800},
        {make(26, 12, 7, 12), 1796644800},               // two-digit year 26 is 2026
        {make(2038, 1, 19, 3, 14, 8), 2147483648LL},     // one past the 32-bit limit
        {make(2100, 3, 1), 4107542400LL},                // 2100 is not a leap year
        {make(2400, 2, 29), 13574563200LL},              // 2400 is
    };
    for (auto c : cases) EXPECT_EQ(DATE_num_sec(&c.date), c.secs) << c.date.year;
    for (std::int64_t secs : {0LL, 2147483648LL, 4107542400LL, 5680281599LL}) {
        const time_t t = static_cast<time_t>(secs);
        struct tm b {};
        gmtime_r(&t, &b);
        EXPECT_EQ(DATE_num_sec_tm(&b), secs);  // full years, 2100 and later included
    }
}

// Stray fields are normalised and written back into the caller's record.
TEST_F(DateTest, NormalisationRulesWriteBack) {
    const struct {
        Date in, out;
    } cases[] = {
        {make(0, 6, 1), make(2000, 6, 1)},     {make(49, 6, 1), make(2049, 6, 1)},
        {make(50, 6, 1), make(1950, 6, 1)},    {make(99, 6, 1), make(1999, 6, 1)},
        {make(150, 6, 1), make(2050, 6, 1)},   {make(199, 6, 1), make(2099, 6, 1)},
        {make(-1, 6, 1), make(1980, 6, 1)},    {make(X, 6, 1), make(1980, 6, 1)},
        {make(2026, 0, 5), make(2026, 1, 5)},  {make(2026, 13, 5), make(2026, 1, 5)},
        {make(2026, 3, -1), make(2026, 3, 1)}, {make(2026, 3, 32), make(2026, 3, 1)},
        {make(2026, 3, 0), make(2026, 3, 0)},
        {make(2026, 3, 4, 24, 60, 60), make(2026, 3, 4)},
        {make(2026, 3, 4, -1, X, -1), make(2026, 3, 4)},
    };
    for (const auto& c : cases) {
        Date d = c.in;
        DATE_num_sec(&d);
        EXPECT_EQ(ymd(d.year, d.month, d.day), ymd(c.out.year, c.out.month, c.out.day))
            << ymd(c.in.year, c.in.month, c.in.day);
        EXPECT_EQ(d.hour * 10000 + d.min * 100 + d.sec, 0);
        EXPECT_EQ(d.jday, X);
    }
    // Day 0 is the last of the previous month; an overlong day runs into the next month.
    const struct {
        Date a, b;
    } same[] = {{make(2024, 3, 0), make(2024, 2, 29)},
                {make(2026, 1, 0), make(2025, 12, 31)},
                {make(2026, 4, 31), make(2026, 5, 1)}};
    for (auto c : same) EXPECT_EQ(DATE_num_sec(&c.a), DATE_num_sec(&c.b));
}

TEST_F(DateTest, DayNumbersAndTheirInverse) {
    EXPECT_EQ(DATE_date_days(1970, 1, 1), 1);
    EXPECT_EQ(DATE_date_days(1971, 1, 1), 366);
    EXPECT_EQ(DATE_date_days(2026, 13, 5), DATE_date_days(2026, 1, 5));
    int y = 0, m = 0, d = 0;
    EXPECT_EQ(DATE_days_date(1, &y, &m, &d), 0);
    EXPECT_EQ(ymd(y, m, d), 19700101);
    DATE_days_date(366, &y, &m, &d);
    EXPECT_EQ(ymd(y, m, d), 19710101);
    DATE_days_date(DATE_date_days(2100, 2, 28) + 1, &y, &m, &d);
    EXPECT_EQ(ymd(y, m, d), 21000301);
    // Every day 1970-2199 there and back, in step with the seconds.
    int bad = 0;
    for (std::int64_t n = 1; n <= DATE_date_days(2199, 12, 31) && bad < 5; ++n) {
        DATE_days_date(n, &y, &m, &d);
        Date date = make(y, m, d);
        if (DATE_date_days(y, m, d) != n || DATE_num_sec(&date) != (n - 1) * 86400) {
            ADD_FAILURE() << "day " << n << " -> " << ymd(y, m, d);
            ++bad;
        }
    }
}

TEST_F(DateTest, DayOfYearConversions) {
    const struct {
        int year, julian, month, day;
    } cases[] = {
        {2024, 60, 2, 29},  {2023, 60, 3, 1},  {2023, 400, 12, 31}, {2024, 366, 12, 31},
        {2023, 0, 1, 1},    {2023, -5, 1, 1},  {2100, 60, 3, 1},    {2000, 60, 2, 29},
        {2023, 32, 2, 1},   {2023, 31, 1, 31},
    };
    for (const auto& c : cases) {
        int m = 0, d = 0;
        DATE_julian_monday(c.year, c.julian, &m, &d);
        EXPECT_EQ(m * 100 + d, c.month * 100 + c.day) << c.year << " day " << c.julian;
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
    EXPECT_EQ(j, 340);
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
    EXPECT_EQ(DATE_time_date(90061, &y, &m, &d), 1);
    EXPECT_EQ(y * 10000 + m * 100 + d, 250101);  // hours are not limited to 23
    DATE_time_date(INT64_MIN, &y, &m, &d);
    Date out{};
    const std::int64_t beyond = INT64_MAX / 2;
    EXPECT_EQ(DATE_get_gmdate(&beyond, &out), -1);
    EXPECT_EQ(out.year, X);
    // The C library still breaks down the day after the last one a Date can hold; its
    // year must be refused, not wrapped.
    Date last = make(INT32_MAX, 12, 31, 23, 59, 59);
    const std::int64_t past_last = DATE_num_sec(&last) + 1;
    EXPECT_EQ(DATE_get_gmdate(&past_last, &out), -1);
    EXPECT_EQ(out.year, X);
    EXPECT_EQ(DATE_get_localdate(&past_last, &out), -1);
    const std::int64_t at_last = past_last - 1;
    EXPECT_EQ(DATE_get_gmdate(&at_last, &out), 0);
    EXPECT_EQ(out.year, INT32_MAX);
}

TEST_F(DateTest, NamesSharedRecordAndCurrentTexts) {
    EXPECT_STREQ(DATE_month(12), "DEC");
    EXPECT_STREQ(DATE_month_lower(6), "jun");
    EXPECT_STREQ(DATE_month_long(9), "September");
    for (int bad : {0, 13, X})
        EXPECT_STREQ(std::string(DATE_month(bad)).append(DATE_month_lower(bad))
                         .append(DATE_month_long(bad)).c_str(), "");
    Date* a = DATE_to_struct(2026, 12, 7, 6, 30);
    Date* b = DATE_to_struct(2027, 1, 2, 3, 4);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->year * 100 + a->sec, 202700);

    char text[64];
    DATE_get_current_str(text, sizeof text);
    EXPECT_TRUE(has_shape(text, "99 AAA 99  99:99:99Z")) << text;
    char exact[DATE_CURRENT_LEN + 1];
    std::memset(exact, '#', sizeof exact);
    DATE_get_current_str(exact);  // the default size holds the whole text
    EXPECT_EQ(std::strlen(exact), DATE_CURRENT_LEN - 1);
    EXPECT_EQ(exact[DATE_CURRENT_LEN], '#');
    DATE_get_current_str(exact, 5);
    EXPECT_EQ(std::strlen(exact), 4u);
    DATE_get_simple_current_str(text, sizeof text);
    EXPECT_TRUE(has_shape(text, "99-99:99Z")) << text;
    std::int64_t secs = 0;
    EXPECT_EQ(DATE_get_time(&secs), secs);
}

TEST_F(DateTest, TimeZoneTexts) {
    const struct {
        const char* text;
        const char* suffix;
        int offset, pm;
    } cases[] = {
        {"+EST:-5", " EST", -18000, 1},   {"-CST:-6", " CST", -21600, -1},
        {"IST:5.5", " IST", 19800, 0},    {"+LONGNAME:-3", " LONG", -10800, 1},
        {"-NST:-3.5", " NST", -12600, -1},
    };
    for (const auto& c : cases) {
        DATE_reset_TZ();
        EXPECT_EQ(DATE_set_TZ(c.text), 0) << c.text;
        EXPECT_STREQ(DATE_get_tz_str(), c.suffix) << c.text;
        EXPECT_EQ(DATE_get_tz_off(), c.offset) << c.text;
        EXPECT_EQ(DATE_get_tz_pm(), c.pm) << c.text;
    }
    DATE_set_TZ("-CST:-6");
    DATE_set_TZ("MST:-7");  // no sign: the clock mode already chosen stays
    EXPECT_EQ(DATE_get_tz_pm(), -1);
    DATE_reset_TZ();
    for (const char* bad : {"EST", "-EST", "EST:", "EST:abc", "EST:99", "", (const char*)nullptr}) {
        EXPECT_EQ(DATE_set_TZ(bad), -1) << (bad ? bad : "null");
        EXPECT_STREQ(DATE_get_tz_str(), "Z");
        EXPECT_EQ(DATE_get_tz_off() + DATE_get_tz_pm(), 0);
    }
}

class DecodeTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        RES_clear();
        FILE_reset_time();
        DATE_set_range(-15, 10);
    }
    void TearDown() override { SetUp(); }
    // Sets the decoding time for date with an optional "decode_hour" value.
    static Date decode(const char* decode_hour, Date date) {
        if (decode_hour) RES_put("decode_hour", decode_hour);
        EXPECT_EQ(DATE_set_datim(&date), 0);
        Date out{};
        DATE_get_datim(&out);
        return out;
    }
};

// The default window (-15/+10 min) around 00:00 and 12:30, and wider windows across the
// hour and day wrap of the observation clock.
TEST_F(DecodeTimeTest, WindowAroundTheDecodingTime) {
    const struct {
        int at, pre, post, obs, inside;  // decoding hour x 100 + minute on 2026-12-07
    } cases[] = {
        {0, -15, 10, 2355, 1},  {0, -15, 10, 2345, 1},    {0, -15, 10, 2344, 0},
        {0, -15, 10, 10, 1},    {0, -15, 10, 11, 0},      {0, -15, 10, 1200, 0},
        {0, -15, 10, X, 0},     {0, -15, 10, 2460, 0},    {0, -15, 10, 1275, 0},
        {0, -15, 10, -5, 0},    {1230, -15, 10, 1215, 1}, {1230, -15, 10, 1214, 0},
        {1230, -15, 10, 1241, 0},
        {2300, -120, 120, 10, 1},    // next day, +70 min
        {2300, -120, 120, 2059, 0},  // -121 min
        {100, -120, 120, 2330, 1},   // previous day, -90 min
        {100, -120, 120, 1300, 0},
    };
    for (const auto& c : cases) {
        DATE_set_range(c.pre, c.post);
        decode(nullptr, make(2026, 12, 7, c.at / 100, c.at % 100));
        EXPECT_EQ(DATE_chk_range(c.obs), c.inside) << c.at << " obs " << c.obs;
    }
}

TEST_F(DecodeTimeTest, DecodeHourForms) {
    const Date at_1445 = make(2026, 12, 7, 14, 45);
    const struct {
        const char* value;
        Date date;
        int day, time, pre, post;
    } cases[] = {
        {"12:30-20+5", at_1445, 20261207, 1230, -20, 5},
        {"12:30", at_1445, 20261207, 1230, -15, 10},
        {"12:30-20", at_1445, 20261207, 1230, -20, 10},
        {"6", at_1445, 20261207, 600, -15, 10},
        {"6-30+0", at_1445, 20261207, 600, -30, 0},
        {":-30+20", at_1445, 20261207, 1445, -30, 20},
        {"cu:cu-10+10", at_1445, 20261207, 1445, -10, 10},
        {"CU:CU-10", at_1445, 20261207, 1445, -15, 10},  // one number: no window
        {"cu-3-10+10", make(2026, 12, 7, 2, 20), 20261206, 2320, -10, 10},
        {"cu-10+5", at_1445, 20261207, 1400, -10, 5},
        {"cu-2", at_1445, 20261207, 1245, -15, 10},
        {"Cu:30-5+5", at_1445, 20261207, 1430, -5, 5},
        {"cu:30", at_1445, 20261207, 1430, -15, 10},
        {"cu:30-5", at_1445, 20261207, 1430, -15, 10},  // one number: no window
        {"-306", make(2026, 12, 7, 14), 20261207, 1500, -15, 10},
        {"-306", make(2026, 12, 7, 11), 20261207, 900, -15, 10},
        {"-2306", make(2026, 12, 7, 23), 20261208, 1700, -15, 10},  // carried, not wrapped
        {"12:-1530", make(2026, 12, 7, 8, 44), 20261207, 1245, -15, 10},
        {" 12:30-20+5 \n", at_1445, 20261207, 1230, -20, 5},  // blanks around the form
        {"\tcu-2 ", at_1445, 20261207, 1245, -15, 10},
    };
    // An observation time minutes away from hhmm, on the 24-hour clock.
    auto moved = [](int time, int minutes) {
        const int total = ((time / 100) * 60 + time % 100 + minutes + 1440) % 1440;
        return total / 60 * 100 + total % 60;
    };
    for (const auto& c : cases) {
        SetUp();
        const Date got = decode(c.value, c.date);
        EXPECT_EQ(ymd(got.year, got.month, got.day), c.day) << c.value;
        EXPECT_EQ(hhmm(got), c.time) << c.value;
        EXPECT_EQ(DATE_chk_range(moved(c.time, c.pre)), 1) << c.value;
        EXPECT_EQ(DATE_chk_range(moved(c.time, c.pre - 1)), 0) << c.value;
        EXPECT_EQ(DATE_chk_range(moved(c.time, c.post)), 1) << c.value;
        EXPECT_EQ(DATE_chk_range(moved(c.time, c.post + 1)), 0) << c.value;
    }
}

// The clock requested of the file selection replaces the date's own, cycles included; a
// "decode_hour" clock overrides it, a window-only value does not.
TEST_F(DecodeTimeTest, RequestedClockAndItsOverrides) {
    const Date at_1445 = make(2026, 12, 7, 14, 45);
    Date request = make(X, X, X, 6, X);
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 645);  // minute of the date kept
    request.min = 30;
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 630);
    request = make(X, X, X, -312, X);
    FILE_set_time(&request);
    EXPECT_EQ(hhmm(decode(nullptr, at_1445)), 1545);  // 12 + 3
    EXPECT_EQ(hhmm(decode("9", at_1445)), 900);
    RES_clear();
    // A stray clock field at the int limit: the cycle arithmetic must not overflow.
    const Date stray = decode(nullptr, make(2026, 12, 7, 2147483647, 2147483647));
    EXPECT_TRUE(stray.hour >= 0 && stray.hour <= 23 && stray.min >= 0 && stray.min <= 59);
    EXPECT_EQ(hhmm(decode(":-5+5", at_1445)), 1545);
}

TEST_F(DecodeTimeTest, UnusableValuesAreIgnored) {
    for (const char* bad :
         {"garbage", "12:xx", ":-30", "12-5+", "cu-", "-300", "12+5-3", "12 30", " "}) {
        SetUp();
        EXPECT_EQ(decode(bad, make(2026, 12, 7, 14, 45)).hour, 14) << bad;
        EXPECT_EQ(DATE_chk_range(1430), 1) << bad;  // the default window still holds
        EXPECT_EQ(DATE_chk_range(1429), 0) << bad;
    }
    SetUp();
    EXPECT_EQ(hhmm(decode(nullptr, make(2026, 12, 7, X, X))), 0);  // no clock: midnight
    EXPECT_EQ(DATE_set_datim(nullptr), -1);
}

}  // namespace
