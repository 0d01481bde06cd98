// WMO number <-> derived location identifier.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools.hpp"

namespace {

std::string id_of(int wmo)
{
    char id[6] = "?????";
    EXPECT_EQ(wmo_to_id(id, wmo), 0) << wmo;
    return id;
}

TEST(WmoToId, KnownPrefixesAndDigitForms)
{
    const struct {
        int wmo;
        const char* id;
    } table[] = {
        {1001, "EN001"},   {1499, "EN499"},   {2000, "ES000"},   {2699, "ES699"},  {3000, "EG000"},
        {3772, "EG772"},   {3949, "EG949"},   {20000, "U0000"},  {27612, "U7612"}, {29999, "U9999"},
        {30000, "X0000"},  {38880, "X8880"},  {50000, "Z0000"},  {54511, "Z4511"}, {72503, "K2503"},
        {74494, "K4494"},  {71628, "CY628"},  {94767, "Y4767"},  {10384, "ED384"}, {16716, "LG716"},
        {91182, "PH182"},  {98429, "RP429"},
    };
    for (const auto& row : table) EXPECT_EQ(id_of(row.wmo), row.id) << row.wmo;
}

TEST(WmoToId, NumbersOutsideEveryRangeKeepTheirDigits)
{
    // Block 05, 18, 99 (ships) and 89 (Antarctica) hold no national prefix.
    for (int wmo : {0, 5123, 18000, 89001, 99999}) {
        char expected[6];
        std::snprintf(expected, sizeof expected, "%5.5d", wmo);
        EXPECT_EQ(id_of(wmo), expected);
    }
}

TEST(WmoToId, RejectsNumbersThatDoNotFitFiveDigits)
{
    char id[6] = "junk";
    EXPECT_EQ(wmo_to_id(id, -9999), -1);
    EXPECT_STREQ(id, "");
    std::strcpy(id, "junk");
    EXPECT_EQ(wmo_to_id(id, 100000), -1);
    EXPECT_STREQ(id, "");
    EXPECT_EQ(wmo_to_id(nullptr, 72503), -1);
}

TEST(WmoRoundTrip, EveryNumberComesBack)
{
    // Covers every range, the gaps between them and their edges.
    int failures = 0;
    for (int wmo = 0; wmo <= 99999; ++wmo) {
        char id[6];
        int back = -1;
        if (wmo_to_id(id, wmo) != 0 || id_to_wmo(id, &back) != 0 || back != wmo) {
            if (++failures < 5) ADD_FAILURE() << wmo << " -> " << id << " -> " << back;
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(IdToWmo, AcceptsLowerCaseAndPlainDigits)
{
    int wmo = 0;
    EXPECT_EQ(id_to_wmo("en001", &wmo), 0);
    EXPECT_EQ(wmo, 1001);
    EXPECT_EQ(id_to_wmo("k2503", &wmo), 0);
    EXPECT_EQ(wmo, 72503);
    EXPECT_EQ(id_to_wmo("72503", &wmo), 0);
    EXPECT_EQ(wmo, 72503);
}

TEST(IdToWmo, RejectsIdentifiersNoNumberLeadsTo)
{
    int wmo = 0;
    for (const char* id : {"KDEN", "KDENX", "EN50", "EN5000", "EN500",  // EN only covers 01000-01499
                           "QQ123", "K1234",                            // no such prefix / K holds 72, 74
                           "E1-23", "", "12a45", "ZZZZZ"}) {
        EXPECT_EQ(id_to_wmo(id, &wmo), -1) << id;
        EXPECT_EQ(wmo, -9999) << id;
    }
    EXPECT_EQ(id_to_wmo(nullptr, &wmo), -1);
    EXPECT_EQ(id_to_wmo("EN001", nullptr), -1);
}

} // namespace
