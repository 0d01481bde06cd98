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
        {101, 500300, 13, nullptr, "500-300 mb layer Potential temperature (K)"},
        {100, -9999, 52, nullptr, "mb Relative humidity (%)"},
        {-9999, -9999, 9876, nullptr, "Variable 9876"},
        {77, 12, 91, nullptr, "12 Ice cover"},
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
