// Date labels in the three clock modes, forecast texts, formats, sequence forms, reading
// labels back, and cutting at the caller's buffer size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "date.hpp"
#include "var_tool.hpp"

namespace {

constexpr int X = DATE_MISSING;

Date make(int year, int month, int day, int hour = X, int min = X) {
    return Date{year, month, day, X, X, hour, min, X};
}

std::string label(const Date& d) {
    char buf[64];
    EXPECT_EQ(DATE_make_label(&d, buf, sizeof buf), 0);
    return buf;
}

// "yyyy-mm-dd hh:mm:ss" with "xx" for unset fields, to compare a whole date at once.
std::string fields(const Date& d) {
    auto two = [](int v) { return v == X ? std::string("xx") : std::to_string(100 + v).substr(1); };
    return std::to_string(d.year) + "-" + two(d.month) + "-" + two(d.day) + " " + two(d.hour) +
           ":" + two(d.min) + ":" + two(d.sec);
}

std::string forecast(int fhour, const char* model, const Date& d) {
    char buf[96];
    DATE_make_label_for_time_mod(fhour, model, &d, buf, sizeof buf);
    return buf;
}

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        DATE_reset_TZ();
    }
    void TearDown() override { DATE_reset_TZ(); }
};

TEST_F(LabelTest, StandardLabelsInUtc) {
    struct Case {
        Date date;
        const char* text;
    } cases[] = {
        {make(2026, 12, 7, 12), "12Z  7 DEC 26"},
        {make(2026, 12, 7, 12, 30), "1230Z  7 DEC 26"},
        {make(2026, 12, 7, 12, 0), "1200Z  7 DEC 26"},
        {make(2026, 12, 7), " 7 DEC 26"},
        {make(2026, 12, X), "DEC 26"},
        {make(2026, X, X), "26"},
        {make(2005, 1, 17, 0), "00Z 17 JAN 05"},
        {make(26, 12, 7, 6), "06Z  7 DEC 26"},
        {make(2026, 12, 7, 25, 75), "0000Z  7 DEC 26"},  // stray clock fields read as 0
        {make(-5, 3, X), "MAR 80"},                      // negative year counts as 1980
    };
    for (const auto& c : cases) EXPECT_EQ(label(c.date), c.text);
}

TEST_F(LabelTest, TwelveHourClockWithUtcInBrackets) {
    ASSERT_EQ(DATE_set_TZ("-CST:-6"), 0);
    struct Case {
        Date date;
        const char* text;
    } cases[] = {
        {make(2026, 12, 7, 12), "6 AM CST [12Z]  7 DEC 26"},
        {make(2026, 12, 7, 12, 30), "6:30 AM CST [1230Z]  7 DEC 26"},
        {make(2026, 12, 8, 3), "9 PM CST [03Z]  7 DEC 26"},  // local day is the day before
        {make(2026, 12, 7, 18), "12 PM CST [18Z]  7 DEC 26"},
        {make(2026, 12, 7, 6), "12 AM CST [06Z]  7 DEC 26"},
        {make(2027, 1, 1, 5, 59), "11:59 PM CST [0559Z] 31 DEC 26"},
        {make(2026, 12, 7), " 7 DEC 26"},  // a day has no clock to move
    };
    for (const auto& c : cases) EXPECT_EQ(label(c.date), c.text);
}

TEST_F(LabelTest, TwelveHourClockAndNamed24HourZone) {
    ASSERT_EQ(DATE_set_TZ("+EST:-5"), 0);
    EXPECT_EQ(label(make(2026, 12, 7, 12)), "7 AM EST  7 DEC 26");
    EXPECT_EQ(label(make(2026, 12, 7, 17, 5)), "12:05 PM EST  7 DEC 26");
    EXPECT_EQ(label(make(2026, 12, 7, 4)), "11 PM EST  6 DEC 26");

    DATE_reset_TZ();
    ASSERT_EQ(DATE_set_TZ("CET:1"), 0);
    EXPECT_EQ(label(make(2026, 12, 7, 12)), "13 CET  7 DEC 26");
    EXPECT_EQ(label(make(2026, 12, 31, 23, 30)), "0030 CET  1 JAN 27");

    DATE_reset_TZ();
    ASSERT_EQ(DATE_set_TZ("IST:5.5"), 0);
    EXPECT_EQ(label(make(2026, 12, 7, 12, 0)), "1730 IST  7 DEC 26");
    // An hour-only date still shows its minutes where the zone is off the whole hour.
    EXPECT_EQ(label(make(2026, 12, 7, 12)), "1730 IST  7 DEC 26");
}

TEST_F(LabelTest, ForecastHourTexts) {
    struct Case {
        int fhour, flag;
        const char* text;
    } cases[] = {
        {36, 1, "1.5 day"}, {36, 0, "36 hour"}, {12, 1, "0.5 day"}, {12, 0, "12 hour"},
        {24, 1, "1 day"},   {48, 1, "2 day"},   {60, 1, "2.5 day"}, {60, 0, "60 hour"},
        {84, 0, "3.5 day"}, {96, 0, "4 day"},   {61, 0, "61 hour"}, {72, 1, "3 day"},
        {803, 0, "3 day"},  {902, 1, "2 month"}, {0, 1, ""},        {X, 0, ""},
        {-6, 0, "-6 hour"}, {6, 1, "6 hour"},
    };
    for (const auto& c : cases) {
        char buf[DATE_FHOUR_LEN];
        EXPECT_STREQ(DATE_fhour_label(buf, c.fhour, c.flag), c.text) << c.fhour << " " << c.flag;
    }
}

// fhour packs t1 x 1000000 + t2 x 1000 + t3; the hour shown is t3 below type 6, else t2.
TEST_F(LabelTest, ForecastLabelsByPacking) {
    const Date ref = make(2026, 12, 7, 12);
    struct Case {
        int fhour;
        const char* model;
        const char* text;
    } cases[] = {
        {12, "GFS", "12 hour GFS valid 0Z TUE  8 DEC 26"},
        {6012, "GFS", "12 hour GFS valid 0Z TUE  8 DEC 26"},  // range 6-12: shows 12
        {3000012, "GFS", "12 hour GFS valid 0Z TUE  8 DEC 26"},
        {0, "GFS", "GFS analysis for 12Z  7 DEC 26"},
        {0, "", "Analysis for 12Z  7 DEC 26"},
        {0, nullptr, "Analysis for 12Z  7 DEC 26"},
        {X, "NAM", "NAM analysis for 12Z  7 DEC 26"},
        {7006000, "GFS", "6 hour GFS analysis valid 12Z  7 DEC 26"},     // t1 7: shows t2
        {7006800, "GFS", "6 hour GFS analysis starting 12Z  7 DEC 26"},  // 800: a starting period
        {7006000, "", "6 hour Analysis valid 12Z  7 DEC 26"},
        {803, "GFS", "3 day GFS valid 12Z THU 10 DEC 26"},  // days, not 803 hours
        {6, "RUC", "6 hour RUC valid 18Z MON  7 DEC 26"},
    };
    for (const auto& c : cases) EXPECT_EQ(forecast(c.fhour, c.model, ref), c.text) << c.fhour;

    // Without an hour the day forms start at 12 hours and no clock is shown; the year of
    // such a day is blank-led, not zero-filled.
    EXPECT_EQ(forecast(24, "GFS", make(2026, 12, 7)), "1 day GFS valid TUE  8 DEC 26");
    EXPECT_EQ(forecast(24, "GFS", make(2005, 1, 3)), "1 day GFS valid TUE  4 JAN  5");
    EXPECT_EQ(forecast(7006000, "GFS", make(2005, 1, 3)), "6 hour GFS analysis valid  3 JAN  5");
    EXPECT_EQ(forecast(12, "GFS", make(2005, 1, 3, 12)), "12 hour GFS valid 0Z TUE  4 JAN 05");
    // A month code moves the calendar month and stops at the month's last day.
    EXPECT_EQ(forecast(901, "CFS", make(2026, 1, 31, 0)), "1 month CFS valid 0Z SAT 28 FEB 26");
    EXPECT_EQ(forecast(901, "CFS", make(2024, 1, 31, 0)), "1 month CFS valid 0Z THU 29 FEB 24");
    // Stray fields are read as 1 (month, day) and 0 (hour).
    EXPECT_EQ(forecast(0, "GFS", make(2026, 14, 40, 30)), "GFS analysis for 00Z  1 JAN 26");
    // Months added to the last year a Date holds must not wrap the year (the sanitizer
    // build traps the overflow).
    const Date last_year = make(INT32_MAX, 12, 7, 12);
    EXPECT_EQ(forecast(999, "CFS", last_year).substr(0, 22), "99 month CFS valid 12Z");
}

TEST_F(LabelTest, ForecastLabelsInDisplayZone) {
    ASSERT_EQ(DATE_set_TZ("-CST:-6"), 0);
    EXPECT_EQ(forecast(12, "GFS", make(2026, 12, 7, 12)),
              "12 hour GFS valid 6 PM CST [00Z] MON  7 DEC 26");
    DATE_reset_TZ();
    ASSERT_EQ(DATE_set_TZ("+EST:-5"), 0);
    EXPECT_EQ(forecast(12, "GFS", make(2026, 12, 7, 12, 30)),
              "12 hour GFS valid 7:30 PM EST MON  7 DEC 26");
}

TEST_F(LabelTest, ForecastLabelsFromModelNumberAndSeconds) {
    const std::int64_t t = 1796644800;  // 2026-12-07 12Z
    const struct {
        int fhour;
        std::int64_t secs;
        int result;
        const char* text;
    } cases[] = {
        {12, t, 0, "12 hour GFS valid 00Z TUE  8 DEC 26"},
        {0, t, 0, "GFS analysis for 12Z  7 DEC 26"},
        {7006000, t, 0, "6 hour GFS analysis valid 12Z  7 DEC 26"},
        {7006900, t, 0, "6 hour GFS analysis starting 12Z  7 DEC 26"},
        {0, 0, -1, "GFS analysis"},
        {6, t + 1800, 0, "6 hour GFS valid 1830Z MON  7 DEC 26"},
    };
    char buf[96];
    for (const auto& c : cases) {
        EXPECT_EQ(DATE_make_label_for(c.fhour, 7096, c.secs, buf, sizeof buf), c.result);
        EXPECT_STREQ(buf, c.text);
    }
    Date ref = make(2026, 12, 7, 12);
    EXPECT_EQ(DATE_make_label_for_time(12, 7084, &ref, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "12 hour NAM valid 0Z TUE  8 DEC 26");
    // Model names: a bare process number is from centre 7; a listed centre names itself,
    // other centres by WMO common table C-11 (55 is one), a centre outside it is unknown.
    const std::string names = std::string(VAR_model(96)) + "," + VAR_model(7086) + "," +
                              VAR_model(7999) + "," + VAR_model(98001) + "," + VAR_model(999) +
                              "," + VAR_model(X) + "," + VAR_model(55555) + "," + VAR_model(3555);
    EXPECT_EQ(names, "GFS,RUC,NCEP,ECMWF,Unknown,Unknown,San Francisco,Unknown");
}

TEST_F(LabelTest, ValidTimeLabels) {
    const Date at_12z = make(2026, 12, 7, 12), day = make(2026, 12, 7), day_2005 = make(2005, 1, 3);
    const struct {
        int fhour;
        const Date* date;
        const char* zone;
        const char* text;
    } cases[] = {
        {12, &at_12z, nullptr, "00Z TUE  8 DEC 26"},
        {6012, &at_12z, nullptr, "00Z TUE  8 DEC 26"},
        {X, &at_12z, nullptr, "12Z MON  7 DEC 26"},
        {24, &day, nullptr, "TUE  8 DEC 26"},
        {24, &day_2005, nullptr, "TUE  4 JAN 05"},  // zero-filled year, unlike the forecast label
        {12, &at_12z, "-CST:-6", "6 PM CST [00Z] MON  7 DEC 26"},
    };
    char buf[64];
    for (const auto& c : cases) {
        DATE_reset_TZ();
        if (c.zone) DATE_set_TZ(c.zone);
        EXPECT_EQ(DATE_make_label_valid_time(c.fhour, c.date, buf, sizeof buf), 0);
        EXPECT_STREQ(buf, c.text);
    }
    EXPECT_EQ(DATE_make_label_valid_time(12, nullptr, buf, sizeof buf), -1);
}

TEST_F(LabelTest, FormatCodes) {
    char buf[96];
    Date d = make(2026, 12, 7, 6, 5);
    EXPECT_EQ(DATE_format_label(buf, "%x %F %f|%y%m%d%h%n|%M|%q%%", 36, "GFS", &d, sizeof buf), 0);
    EXPECT_STREQ(buf, "GFS 36 hour 36|2612070605|DEC|q%");
    Date day = make(2026, 12, 7);
    DATE_format_label(buf, "%F/%h%n/%d%%", 36, nullptr, &day, sizeof buf);
    EXPECT_STREQ(buf, "1.5 day//07%");
    DATE_format_label(buf, "%F %x", 3006036, nullptr, &d, sizeof buf);  // shows t3
    EXPECT_STREQ(buf, "36 hour ");
    DATE_format_label(buf, "trailing %", 0, nullptr, &d, sizeof buf);
    EXPECT_STREQ(buf, "trailing ");
    EXPECT_EQ(DATE_format_label(buf, nullptr, 0, nullptr, &d, sizeof buf), -1);
    EXPECT_EQ(DATE_format_label(nullptr, "%y", 0, nullptr, &d, 10), -1);
}

TEST_F(LabelTest, SequenceFormsNormaliseAndRoundTrip) {
    char buf[DATE_SEQ_LEN];
    Date d = make(2026, 12, 7, 6, 0), back{};
    EXPECT_EQ(DATE_make_seq(&d, buf), 0);
    EXPECT_STREQ(buf, "202612070600");
    EXPECT_EQ(DATE_decode_seq(buf, &back), 0);
    EXPECT_EQ(fields(back), "2026-12-07 06:00:xx");
    Date stray = make(-3, 0, 40, 24, -1);
    DATE_make_seq(&stray, buf);
    EXPECT_STREQ(buf, "198001010000");
    EXPECT_EQ(fields(stray), "1980-01-01 00:00:xx");  // written back
    EXPECT_EQ(DATE_decode_seq("20261207", &back), 0);
    EXPECT_EQ(fields(back), "2026-12-07 xx:xx:xx");  // a day: the clock stays unset
    EXPECT_EQ(DATE_decode_seq("not a date", &back), -1);
    EXPECT_EQ(back.year, X);
    EXPECT_EQ(DATE_make_seq(&d, nullptr), -1);
    EXPECT_EQ(DATE_decode_seq(nullptr, &back), -1);
}

TEST_F(LabelTest, ReadsEveryLabelForm) {
    const struct {
        const char* text;
        const char* date;
    } cases[] = {
        {"12Z  7 DEC 26", "2026-12-07 12:xx:xx"},
        {"1230Z  7 DEC 26", "2026-12-07 12:30:xx"},
        {"0005Z 17 JAN 05", "2005-01-17 00:05:xx"},
        {"12:30:05Z  7 DEC 26", "2026-12-07 12:30:05"},
        {"GFS analysis for 06Z 31 may 99", "1999-05-31 06:xx:xx"},
        {"header 630Z  7 DEC 26", "2026-12-07 06:30:xx"},  // blank-led hour: one digit
        {"18Z  1 JAN 49", "2049-01-01 18:xx:xx"},
        {"18Z  1 JAN 50", "1950-01-01 18:xx:xx"},
        // Display-zone labels: the bracketed UTC clock gives the offset, whatever the
        // reader's own zone.
        {"9 PM CST [03Z]  7 DEC 26", "2026-12-08 03:xx:xx"},
        {"11:59 PM CST [0559Z] 31 DEC 26", "2027-01-01 05:59:xx"},
        // Trailing blanks and line ends, as read from a file, change nothing: the windows
        // at the end must not shift onto the minutes.
        {"1200Z  7 DEC 26 ", "2026-12-07 12:00:xx"},
        {"header 1230Z  7 DEC 26\r\n", "2026-12-07 12:30:xx"},
        {"12:30:05Z  7 DEC 26\t", "2026-12-07 12:30:05"},
        {"GFS analysis for 06Z 31 may 99  ", "1999-05-31 06:xx:xx"},
        // A four-digit year at the start is read whole, not as its first two digits.
        {"12Z  7 DEC 2026", "2026-12-07 12:xx:xx"},
        {"12Z  7 DEC  5 GFS", "2005-12-07 12:xx:xx"},  // a blank-led year as written
        // Hour and minute only from three or four digits before the Z; two digits after
        // leading blanks are an hour alone.
        {"AVN  06Z 17 DEC 26", "2026-12-17 06:xx:xx"},
        {"ETA  12Z  7 DEC 26", "2026-12-07 12:xx:xx"},
        {" 12Z  7 DEC 26", "2026-12-07 12:xx:xx"},
        {"  6Z  7 DEC 26", "2026-12-07 06:xx:xx"},
        {" 630Z  7 DEC 26", "2026-12-07 06:30:xx"},
        {"  630Z  7 DEC 26", "2026-12-07 06:30:xx"},
        {" 1230Z  7 DEC 26", "2026-12-07 12:30:xx"},
        {"ETA 1230Z 17 DEC 26", "2026-12-17 12:30:xx"},
        {"NAM 0630Z  7 DEZ 26", "2026-12-07 06:30:xx"},
    };
    for (const auto& c : cases) {
        Date d{};
        EXPECT_EQ(DATE_decode_label(c.text, &d), 0) << c.text;
        EXPECT_EQ(fields(d), c.date) << c.text;
    }
    // Without brackets an unknown zone cannot be undone: refused, not guessed.
    for (const char* bad : {"", "hello", "12Z  7 XYZ 26", "1 2 3 4", "7 AM EST  7 DEC 26",
                            "12Z  7 DEC 261", "12Z  7 DEC 202612", "x 1230Z  7 DEC 2026",
                            "12Z  7 DEC 0699",
                            // An hour above 23 or a minute above 59 in any form.
                            "6 AM [99Z]  7 DEC 26", "6 AM [0660Z]  7 DEC 26", "6 AM [2400Z]  7 DEC 26",
                            "6:75 AM [12Z]  7 DEC 26", "2460Z  7 DEC 26", "1275Z  7 DEC 26", "24Z  7 DEC 26",
                            "12:60:00Z  7 DEC 26", "12:00:60Z  7 DEC 26", "x12345Z  7 DEC 26"}) {
        Date d = make(1, 1, 1, 1, 1);
        EXPECT_EQ(DATE_decode_label(bad, &d), -1) << bad;
        EXPECT_EQ(d.year, X) << bad;
    }
    Date d{};
    EXPECT_EQ(DATE_decode_label(nullptr, &d), -1);
}

// Whatever the standard label writes in UTC comes back as the same date.
TEST_F(LabelTest, LabelsRoundTripThroughTheReader) {
    for (int year : {1999, 2000, 2026, 2049}) {
        for (int month = 1; month <= 12; ++month) {
            for (int day : {1, 9, 10, 28}) {
                for (int hour : {0, 5, 12, 23}) {
                    for (int min : {X, 0, 7, 59}) {
                        const Date d = make(year, month, day, hour, min);
                        const std::string text = label(d);
                        Date back{};
                        ASSERT_EQ(DATE_decode_label(text.c_str(), &back), 0) << text;
                        ASSERT_EQ(fields(back), fields(d)) << text;
                    }
                }
            }
        }
    }
}

// Labels written in a display zone read back as the UTC date they were made from: the
// bracketed UTC clock gives the offset whatever zone the reader has; without brackets the
// reader's zone must be the writer's.
TEST_F(LabelTest, ZoneLabelsRoundTripThroughTheReader) {
    for (const char* zone : {"-CST:-6", "+EST:-5", "CET:1", "-IST:5.5", "+NST:-3.5", "JST:9"}) {
        DATE_reset_TZ();
        ASSERT_EQ(DATE_set_TZ(zone), 0);
        const bool half_hour = DATE_get_tz_off() % 3600 != 0;
        for (int day : {1, 7, 31}) {
            for (int hour : {0, 3, 11, 12, 13, 23}) {
                for (int min : {X, 0, 45}) {
                    Date d = make(2026, 12, day, hour, min);
                    const std::string text = label(d);
                    Date back{};
                    ASSERT_EQ(DATE_decode_label(text.c_str(), &back), 0) << zone << " " << text;
                    if (min == X && half_hour) d.min = 0;
                    EXPECT_EQ(fields(back), fields(d)) << text;
                }
            }
        }
    }
}

TEST_F(LabelTest, MonthNames) {
    struct Case {
        const char* text;
        int month;
    } cases[] = {
        {"JAN", 1},  {"jan", 1},  {"FEB", 2},  {"MAR", 3}, {"APR", 4},       {"MAY", 5},
        {"JUN", 6},  {"jun", 6},  {"JUL", 7},  {"AUG", 8}, {"SEP", 9},       {"OCT", 10},
        {"NOV", 11}, {"DEC", 12}, {"dec", 12}, {"Jun", 0}, {"DECEMBER", 12}, {"FRI", 2},
        {"SUN", 9},  {"JA", 0},   {"", 0},     {"jUN", 0},
        // Decided by letters, so names spelt otherwise decode too.
        {"FEV", 2},  {"fev", 2},  {"AVR", 4},  {"MRZ", 0}, {"OKT", 10},      {"DEZ", 12},
        {"GEN", 0},  {"MAI", 0},  {"AGO", 0},  {"Fev", 0}, {"J1N", 0},       {"JAX", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(DATE_decode_month(c.text), c.month) << c.text;
    EXPECT_EQ(DATE_decode_month(nullptr), 0);
}

// Every writer stops at the caller's size: exact size fits, one less cuts one character,
// and nothing past the size is touched.
TEST_F(LabelTest, WritersCutAtTheBufferSize) {
    const Date d = make(2026, 12, 7, 12, 30);
    const std::string full = "1230Z  7 DEC 26";
    for (std::size_t size : {full.size() + 1, full.size(), std::size_t{5}, std::size_t{1}}) {
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        DATE_make_label(&d, buf, size);
        EXPECT_EQ(std::string(buf), full.substr(0, size - 1)) << size;
        EXPECT_EQ(buf[size], '#') << size;
    }
    // The default size is the 40-byte label field: a long forecast label is cut to 39.
    ASSERT_EQ(DATE_set_TZ("-CST:-6"), 0);
    char field[DATE_LABEL_LEN + 8];
    std::memset(field, '#', sizeof field);
    const Date ref = make(2026, 12, 7, 12);
    DATE_make_label_for_time_mod(12, "A-LONG-MODEL-NAME", &ref, field);
    EXPECT_EQ(std::strlen(field), DATE_LABEL_LEN - 1);
    EXPECT_EQ(field[DATE_LABEL_LEN], '#');

    char tiny[4];
    std::memset(tiny, '#', sizeof tiny);
    DATE_fhour_label(tiny, 902, 0, 3);
    EXPECT_STREQ(tiny, "2 ");
    std::string long_format(200, 'a');
    long_format += "%M";
    char small[16];
    DATE_format_label(small, long_format.c_str(), 0, nullptr, &d, sizeof small);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    Date seq = d;
    char seqbuf[8];
    DATE_make_seq(&seq, seqbuf, sizeof seqbuf);
    EXPECT_STREQ(seqbuf, "2026120");
}

TEST_F(LabelTest, NullArgumentsFailCleanly) {
    char buf[40];
    const Date d = make(2026, 12, 7, 12);
    EXPECT_EQ(DATE_make_label(&d, nullptr), -1);
    EXPECT_EQ(DATE_make_label(nullptr, buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(DATE_make_label_for_time_mod(12, "GFS", nullptr, buf), -1);
    EXPECT_EQ(DATE_make_label_for_time_mod(12, "GFS", &d, nullptr), -1);
    EXPECT_EQ(DATE_make_label_for(12, 7096, 1796644800, nullptr), -1);
    EXPECT_EQ(DATE_fhour_label(nullptr, 12, 0), nullptr);
}

}  // namespace
