// Multi-key hash table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table.hpp"

namespace {

struct Record {
    int value;
    char text[12];
};

class TableTest : public ::testing::Test {
protected:
    void SetUp() override { TAB_init(&tab); }
    void TearDown() override { TAB_clear(&tab); }
    void enter2(int value, const char* key1, const char* key2)
    {
        Record record{value, ""};
        ASSERT_EQ(TAB_enter(&tab, &record, key1, key2), 0);
    }
    int value_of(int keynum, const char* key)
    {
        const auto* found = static_cast<Record*>(TAB_search(&tab, keynum, key));
        return found ? found->value : -1;
    }
    TAB_table tab;
};

TEST_F(TableTest, HashFollowsTheRecurrence)
{
    ASSERT_EQ(TAB_create(&tab, 35177, 4, 1), 0);
    EXPECT_EQ(TAB_key(&tab, ""), 0);
    EXPECT_EQ(TAB_key(&tab, "a"), 97);
    EXPECT_EQ(TAB_key(&tab, "KDEN"), ((((75 * 257 + 68) % 35177) * 257 + 69) % 35177 * 257 + 78) % 35177);
    ASSERT_EQ(TAB_create(&tab, 7, 4, 1), 0);
    EXPECT_EQ(TAB_key(&tab, "ab"), (97 * 257 + 98) % 35177 % 7);
    const int high = TAB_key(&tab, "\xe9\xff\x80");  // bytes above 127 must not go negative
    EXPECT_TRUE(high >= 0 && high < 7);
    EXPECT_EQ(TAB_key(&tab, nullptr), -1);
}

TEST_F(TableTest, BadLayoutsAndMissingKeys)
{
    EXPECT_EQ(TAB_create(&tab, 0, 4, 1), -1);
    EXPECT_EQ(TAB_create(&tab, 10, 4, 0), -1);
    EXPECT_EQ(TAB_create(&tab, 10, 4, 5), -1);
    EXPECT_EQ(TAB_create(&tab, 10, -1, 2), -1);
    Record record{1, ""};
    EXPECT_EQ(TAB_enter(&tab, &record, "a"), -1);  // never created
    ASSERT_EQ(TAB_create(&tab, 4, sizeof(Record), 2), 0);
    EXPECT_EQ(TAB_enter(&tab, &record, "only", static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(tab.num_entry, 0);
    EXPECT_EQ(TAB_search(&tab, 1, "only"), nullptr);
}

TEST_F(TableTest, EveryKeyFindsOneSharedCopy)
{
    ASSERT_EQ(TAB_create(&tab, 11, sizeof(Record), 3), 0);
    Record record{42, "denver"};
    ASSERT_EQ(TAB_enter(&tab, &record, "KDEN", "72565", "  399 -1047"), 0);
    auto* by_id = static_cast<Record*>(TAB_search(&tab, 1, "KDEN"));
    ASSERT_NE(by_id, nullptr);
    EXPECT_NE(by_id, &record);
    EXPECT_EQ(by_id, TAB_search(&tab, 2, "72565"));
    EXPECT_EQ(by_id, TAB_search(&tab, 3, "  399 -1047"));
    EXPECT_STREQ(by_id->text, "denver");
    EXPECT_EQ(TAB_search(&tab, 2, "KDEN"), nullptr);  // only under its own key number
    EXPECT_EQ(TAB_search(&tab, 1, "kden"), nullptr);
    for (int keynum : {-1, 0, 4, 5}) EXPECT_EQ(TAB_search(&tab, keynum, "KDEN"), nullptr) << keynum;
    void* found[2];
    EXPECT_EQ(TAB_searches(&tab, 4, "KDEN", found, 2), 0);
}

TEST_F(TableTest, DuplicatesAreKeptAndTheFirstEnteredWins)
{
    ASSERT_EQ(TAB_create(&tab, 1, sizeof(Record), 2), 0);  // one bucket: everything chains
    enter2(1, "KDEN", "72565");
    enter2(2, "KBOU", "72469");
    enter2(3, "KDEN", "99999");
    enter2(4, "KXXX", "72565");
    EXPECT_EQ(value_of(1, "KDEN"), 1);
    EXPECT_EQ(value_of(2, "72565"), 1);
    EXPECT_EQ(value_of(2, "99999"), 3);
    EXPECT_EQ(value_of(1, "KDE"), -1);
    void* found[4] = {};
    ASSERT_EQ(TAB_searches(&tab, 1, "KDEN", found, 4), 2);
    EXPECT_EQ(static_cast<Record*>(found[1])->value, 3);
    EXPECT_EQ(TAB_searches(&tab, 2, "72565", found, 1), 1);  // limited by max
}

TEST_F(TableTest, ManyRecordsUnderOneKeyKeepTheirOrder)
{
    // Station files give thousands of stations the same "no number" key.
    ASSERT_EQ(TAB_create(&tab, 16, sizeof(Record), 2), 0);
    constexpr int count = 20000;
    for (int i = 0; i < count; ++i) enter2(i, std::to_string(i).c_str(), "99999");
    std::vector<void*> found(count + 1);
    ASSERT_EQ(TAB_searches(&tab, 2, "99999", found.data(), count + 1), count);
    for (int i = 0; i < count; i += 997) EXPECT_EQ(static_cast<Record*>(found[i])->value, i);
    EXPECT_EQ(value_of(1, "19999"), 19999);
}

TEST_F(TableTest, IteratesInInsertionOrderAndClears)
{
    ASSERT_EQ(TAB_create(&tab, 3, sizeof(Record), 2), 0);
    std::vector<int> entered;
    for (int i = 0; i < 50; ++i) {
        enter2(i, ("S" + std::to_string(i * 37 % 101)).c_str(), std::to_string(i).c_str());
        entered.push_back(i);
    }
    std::vector<int> seen;
    for (void* data = TAB_first(&tab); data; data = TAB_next(&tab)) seen.push_back(static_cast<Record*>(data)->value);
    EXPECT_EQ(seen, entered);
    EXPECT_EQ(TAB_next(&tab), nullptr);
    EXPECT_EQ(static_cast<Record*>(TAB_first(&tab))->value, 0);

    // Creating over a filled table releases it (the leak sanitizer checks); clearing twice is harmless.
    ASSERT_EQ(TAB_create(&tab, 2, sizeof(Record), 1), 0);
    EXPECT_EQ(TAB_first(&tab), nullptr);
    TAB_clear(&tab);
    TAB_clear(&tab);
    EXPECT_EQ(tab.num_entry, 0);
    EXPECT_EQ(TAB_search(&tab, 1, "S0"), nullptr);
    ASSERT_EQ(TAB_create(&tab, 4, 0, 1), 0);  // no data bytes still keys the record
    ASSERT_EQ(TAB_enter(&tab, nullptr, "k"), 0);
    EXPECT_NE(TAB_search(&tab, 1, "k"), nullptr);
}

} // namespace
