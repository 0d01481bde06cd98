// Variable descriptors: one table gives names, units, long names, level texts and the
// grid descriptions made from them.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "var_tool.hpp"

namespace {

TEST(VarTool, NamesAndNumbersAgree)
{
    const struct {
        const char* name;
        int num;
        const char* units;
    } cases[] = {
        {"PRES", 1, "Pa"},     {"prmsl", 2, "Pa"},   {"HGT", 7, "gpm"},   {"TMP", 11, "K"},
        {"DPT", 17, "K"},      {"UGRD", 33, "m/s"},  {"VGRD", 34, "m/s"}, {"RH", 52, "%"},
        {"APCP", 61, "kg/m^2"}, {"ICEC", 91, ""},    {"CAPE", 157, "J/kg"}, {"REFC", 491, "dBZ"},
        {"vort", 800, "/s"},  {"THETAE", 808, "K"}, {"wspd", 810, "kt"}, {"WDIR", 31, "deg"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VAR_search_var_num(c.name), c.num) << c.name;
        EXPECT_EQ(strcasecmp(VAR_var_name(c.num), c.name), 0) << c.num;
        EXPECT_STREQ(VAR_var_units(c.num), c.units) << c.num;
        EXPECT_STRNE(VAR_var_long_name(c.num), "") << c.num;
    }
    EXPECT_EQ(VAR_search_var_num("no-such"), -1);
    EXPECT_EQ(VAR_search_var_num(nullptr), -1);
    EXPECT_STREQ(VAR_var_name(9876), "");
    EXPECT_STREQ(VAR_var_units(-9999), "");
    EXPECT_STREQ(VAR_var_long_name(255), "");
}

// Every name in the table leads back to its own number (no name used twice).
TEST(VarTool, NamesAreUnique)
{
    std::set<std::string> seen;
    for (int var = 0; var < 5000; ++var) {
        const char* name = VAR_var_name(var);
        if (!name[0]) continue;
        std::string lower(name);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(seen.insert(lower).second) << name;
        EXPECT_EQ(VAR_search_var_num(name), var) << name;
    }
    EXPECT_GE(seen.size(), 120u);
}

TEST(VarTool, Descriptions)
{
    const struct {
        int ltype, level, var;
        const char* units;
        const char* want;
    } cases[] = {
        {100, 500, 7, nullptr, "500 mb Height (gpm)"},
        {105, 2, 11, "", "2 m AGL Temperature (K)"},
        {102, 0, 2, nullptr, "MSL Pressure reduced to MSL (Pa)"},
        {1, 0, 61, "mm", "Surface Total precipitation (mm)"},
        {101, 50030, 13, nullptr, "500-300 mb Potential temperature (K)"},
        {100, -9999, 52, nullptr, "Isobaric Relative humidity (%)"},
        {-9999, -9999, 9876, nullptr, "Variable 9876"},
        {77, 12, 91, nullptr, "level type 77 12 Ice cover"},
        {-9999, 12, 91, nullptr, "12 Ice cover"},
    };
    char info[70];
    for (const auto& c : cases) {
        EXPECT_EQ(VAR_make_datatype(0, c.ltype, c.level, c.var, c.units, info), 0);
        EXPECT_STREQ(info, c.want);
    }
    EXPECT_STREQ(VAR_level_text(1), "Surface");
    EXPECT_STREQ(VAR_level_text(105), "m AGL");
    EXPECT_STREQ(VAR_level_text(999), "");
}

// A long description is cut at the buffer size, exactly and one below.
TEST(VarTool, DescriptionNeverOverruns)
{
    const char* full = "500 mb Height (gpm)";
    const std::size_t len = std::strlen(full);
    for (std::size_t size : {len + 1, len, std::size_t{5}, std::size_t{1}}) {
        char buf[40];
        std::memset(buf, '#', sizeof buf);
        VAR_make_datatype(0, 100, 500, 7, nullptr, buf, size);
        EXPECT_EQ(std::strlen(buf), std::min(len, size - 1)) << size;
        EXPECT_EQ(std::strncmp(buf, full, size - 1), 0);
        EXPECT_EQ(buf[size], '#');
    }
    char big[200];
    const std::string units(150, 'u');
    VAR_make_datatype(0, 100, 500, 7, units.c_str(), big, sizeof big);
    EXPECT_LT(std::strlen(big), sizeof big);
}

// Coded forecast times as the decoders store them, and the text a forecaster reads.
TEST(VarTool, TimeTexts)
{
    const struct {
        int coded;
        const char* want;
    } cases[] = {
        {0, "0 h"},
        {24, "24 h"},
        {803, "3 d"},
        {902, "2 mon"},
        {300, "300 h"},             // edition 1 indicator 10: P1 x 256 + P2
        {6002014, "max 2-14 h"},
        {7000012, "min 0-12 h"},
        {4000006, "acc 0-6 h"},
        {3066072, "avg 66-72 h"},
        {5000012, "dif 0-12 h"},
        {2012024, "12-24 h"},
        {4800803, "acc 0-3 d"},
        {4012803, "acc 12 h-3 d"},
        {13024120, "avg of 24 h fcsts over 120 h"},
        {18006030, "var of 6 h fcsts over 30 h"},
        {23000830, "avg of anls over 30 d"},
        {-9999, ""},
    };
    for (const auto& c : cases) {
        char text[40];
        EXPECT_EQ(VAR_time_text(c.coded, text, sizeof text), 0) << c.coded;
        EXPECT_STREQ(text, c.want) << c.coded;
    }
    char small[6];
    EXPECT_EQ(VAR_time_text(6002014, small, sizeof small), -1);
    EXPECT_STREQ(small, "max 2");
    char exact[11];
    EXPECT_EQ(VAR_time_text(6002014, exact, sizeof exact), 0);
    EXPECT_EQ(VAR_time_text(6002014, exact, sizeof exact - 1), -1);
    EXPECT_EQ(VAR_time_text(24, nullptr, 10), -1);
}

TEST(VarTool, ValidDates)
{
    const Date ref{2026, 1, 31, 31, 6, 12, 0, 0};
    const struct {
        int coded;
        int year, month, day, hour;
    } cases[] = {
        {0, 2026, 1, 31, 12},
        {6002014, 2026, 2, 1, 2},   // end of the range
        {4000006, 2026, 1, 31, 18},
        {803, 2026, 2, 3, 12},
        {901, 2026, 2, 28, 12},     // a calendar month, cut to the month's last day
        {913, 2027, 2, 28, 12},
        {4800803, 2026, 2, 3, 12},
        {13024120, 2026, 2, 6, 12}, // 120 h of runs, then the 24 h forecast
    };
    for (const auto& c : cases) {
        Date v{};
        ASSERT_EQ(VAR_valid_date(&ref, c.coded, &v), 0) << c.coded;
        EXPECT_EQ(v.year, c.year) << c.coded;
        EXPECT_EQ(v.month, c.month) << c.coded;
        EXPECT_EQ(v.day, c.day) << c.coded;
        EXPECT_EQ(v.hour, c.hour) << c.coded;
    }
    Date v{};
    EXPECT_EQ(VAR_valid_date(&ref, -9999, &v), -1);
    EXPECT_EQ(v.year, -9999);
    EXPECT_EQ(VAR_valid_date(nullptr, 6, &v), -1);
}

// Level types and coded values as both decoders store them, and what they print.
TEST(VarTool, LevelTexts)
{
    const struct {
        int ltype, level;
        const char* want;
    } cases[] = {
        {100, 500, "500 mb"},
        {101, 50030, "500-300 mb"},
        {105, 2, "2 m AGL"},
        {106, 30000, "3000-0 m AGL"},
        {107, 9950, "sigma 0.995"},
        {108, 98085, "sigma 0.98-0.85"},
        {109, 30, "hybrid 30"},
        {111, 10, "10 cm below ground"},
        {112, 10040, "10-40 cm below ground"},
        {113, 320, "320 K theta"},
        {116, 30000, "30-0 mb above ground"},
        {117, 2, "2 PVU"},
        {117, -2000, "-2 PVU"},
        {119, 9950, "eta 0.995"},
        {121, 100900, "1000-200 mb"},
        {141, 50100, "500-1000 mb"},
        {103, 3000, "3000 m MSL"},
        {104, 30010, "3000-1000 m MSL"},
        {20, 253, "253 K isotherm"},
        {160, 5, "5 m below sea level"},
        {1, 0, "Surface"},
        {102, 0, "MSL"},
        {212, 0, "Low cloud bottom"},
        {213, 0, "Low cloud top"},
        {222, 0, "Middle cloud bottom"},
        {223, 0, "Middle cloud top"},
        {232, 0, "High cloud bottom"},
        {233, 0, "High cloud top"},
        {244, 0, "Convective cloud layer"},
        {200, 0, "Entire atmosphere"},
        {1117, 0, "Mixed layer depth"},
        {1151, 3, "soil level 3"},
        {100, -9999, "Isobaric"},
        {77, 12, "level type 77 12"},
        {-9999, -9999, ""},
    };
    for (const auto& c : cases) {
        char text[48];
        EXPECT_EQ(VAR_level_text(c.ltype, c.level, text, sizeof text), 0) << c.ltype;
        EXPECT_STREQ(text, c.want) << c.ltype << " " << c.level;
    }
    char exact[7];
    EXPECT_EQ(VAR_level_text(100, 500, exact, sizeof exact), 0);
    EXPECT_EQ(VAR_level_text(100, 500, exact, sizeof exact - 1), -1);
    EXPECT_STREQ(exact, "500 m");
}

// Model names come from the table of the model's own centre; other centres by WMO C-11.
TEST(VarTool, ModelNamesByTheirOwnCentre)
{
    const struct {
        int source, model;
        const char* want;
    } cases[] = {
        {7, 96, "GFS"},
        {98, 112, "ECMWF"},           // not centre 7's process 112
        {74, 45, "UKMO"},
        {85, 1, "French Weather Service - Toulouse"},
        {88, 3, "Oslo"},
        {1, 96, "GFS"},               // a library text grid keeps its process number
        {250, 1, "COnsortium for Small scale MOdelling (COSMO)"},
        {3, 1, "Unknown"},
    };
    for (const auto& c : cases) EXPECT_STREQ(VAR_model(VAR_model_code(c.source, c.model)), c.want) << c.source;
    EXPECT_STREQ(VAR_centre_name(34), "Japanese Meteorological Agency - Tokyo (RSMC)");
    EXPECT_STREQ(VAR_centre_name(3), "");
}

TEST(VarTool, InitData)
{
    VAR_data d;
    std::memset(&d, 1, sizeof d);
    VAR_init_data(&d);
    for (int v : d.var) EXPECT_EQ(v, -9999);
    EXPECT_EQ(d.ltype, -9999);
    EXPECT_EQ(d.level, -9999);
    EXPECT_EQ(d.time, -9999);
    EXPECT_STREQ(d.units, "");
}

}  // namespace
