// WMO number <-> derived location identifier.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools.hpp"

namespace {

TEST(WmoToId, PrefixesAndDigitForms)
{
    const struct {
        int wmo;
        const char* id;
    } table[] = {
        {1001, "EN001"},  {1499, "EN499"},  {2000, "ES000"},  {3949, "EG949"},  {20000, "U0000"},
        {29999, "U9999"}, {38880, "X8880"}, {54511, "Z4511"}, {72503, "K2503"}, {74494, "K4494"},
        {71628, "CY628"}, {94767, "Y4767"}, {16716, "LG716"}, {98429, "RP429"},
        // Small territories inside a neighbour's block take their own prefix.
        {8495, "LX495"},  {8594, "GV594"},  {61980, "FM980"}, {61990, "FI990"}, {63980, "FS980"},
        {78397, "MK397"}, {91245, "PW245"}, {91376, "PK376"}, {91334, "PT334"},
        // Antarctic stations at the end of block 88 keep their digits.
        {88963, "88963"},
        // Blocks without a national prefix (05, 18, Antarctica, ships) keep their digits.
        {0, "00000"},     {5123, "05123"},  {89001, "89001"}, {99999, "99999"},
    };
    for (const auto& row : table) {
        char id[6] = "?????";
        EXPECT_EQ(wmo_to_id(id, row.wmo), 0) << row.wmo;
        EXPECT_STREQ(id, row.id) << row.wmo;
    }
    char id[6] = "junk";
    EXPECT_EQ(wmo_to_id(id, -9999), -1);
    EXPECT_STREQ(id, "");
    EXPECT_EQ(wmo_to_id(id, 100000), -1);
    EXPECT_EQ(wmo_to_id(nullptr, 72503), -1);
}

TEST(WmoRoundTrip, EveryNumberComesBack)
{
    // Every range, the gaps between them and their edges.
    int failures = 0;
    for (int wmo = 0; wmo <= 99999; ++wmo) {
        char id[6];
        int back = -1;
        if ((wmo_to_id(id, wmo) != 0 || id_to_wmo(id, &back) != 0 || back != wmo) && ++failures < 5)
            ADD_FAILURE() << wmo << " -> " << id << " -> " << back;
    }
    EXPECT_EQ(failures, 0);
}

TEST(IdToWmo, AcceptsAnyCaseRejectsWhatLeadsNowhere)
{
    int wmo = 0;
    EXPECT_EQ(id_to_wmo("en001", &wmo), 0);
    EXPECT_EQ(wmo, 1001);
    EXPECT_EQ(id_to_wmo("k2503", &wmo), 0);
    EXPECT_EQ(wmo, 72503);
    EXPECT_EQ(id_to_wmo("72503", &wmo), 0);
    EXPECT_EQ(wmo, 72503);
    // EN covers only 01000-01499; K only blocks 72 and 74; QQ is no prefix.
    for (const char* id : {"KDEN", "KDENX", "EN50", "EN5000", "EN500", "QQ123", "K1234", "E1-23", "", "12a45"}) {
        EXPECT_EQ(id_to_wmo(id, &wmo), -1) << id;
        EXPECT_EQ(wmo, -9999) << id;
    }
    EXPECT_EQ(id_to_wmo(nullptr, &wmo), -1);
    EXPECT_EQ(id_to_wmo("EN001", nullptr), -1);
}

} // namespace
