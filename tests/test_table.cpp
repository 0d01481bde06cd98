// Multi-key hash table.
#include <gtest/gtest.h>

#include <cstring>
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

TEST(TableHash, FollowsTheDocumentedRecurrence)
{
    TAB_table tab;
    TAB_init(&tab);
    ASSERT_EQ(TAB_create(&tab, 35177, 4, 1), 0);
    const struct {
        const char* key;
        int hash;
    } table[] = {
        {"", 0},
        {"a", 97},
        {"ab", (97 * 257 + 98) % 35177},
        {"KDEN", ((((75 * 257 + 68) % 35177) * 257 + 69) % 35177 * 257 + 78) % 35177},
    };
    for (const auto& row : table) EXPECT_EQ(TAB_key(&tab, row.key), row.hash) << row.key;
    TAB_clear(&tab);
    ASSERT_EQ(TAB_create(&tab, 7, 4, 1), 0);
    EXPECT_EQ(TAB_key(&tab, "ab"), (97 * 257 + 98) % 35177 % 7);
    // Bytes above 127 must not turn the hash negative.
    const int high = TAB_key(&tab, "\xe9\xff\x80");
    EXPECT_GE(high, 0);
    EXPECT_LT(high, 7);
    EXPECT_EQ(TAB_key(&tab, nullptr), -1);
    TAB_clear(&tab);
    EXPECT_EQ(TAB_key(&tab, "a"), -1);
}

TEST_F(TableTest, RejectsBadLayouts)
{
    EXPECT_EQ(TAB_create(&tab, 0, 4, 1), -1);
    EXPECT_EQ(TAB_create(&tab, 10, 4, 0), -1);
    EXPECT_EQ(TAB_create(&tab, 10, 4, 5), -1);
    EXPECT_EQ(TAB_create(&tab, 10, -1, 2), -1);
    Record record{1, ""};
    EXPECT_EQ(TAB_enter(&tab, &record, "a"), -1);  // never created
    EXPECT_EQ(TAB_first(&tab), nullptr);
}

TEST_F(TableTest, EveryKeyFindsTheSameSharedRecord)
{
    ASSERT_EQ(TAB_create(&tab, 11, sizeof(Record), 3), 0);
    Record record{42, "denver"};
    ASSERT_EQ(TAB_enter(&tab, &record, "KDEN", "72565", "  399 -1047"), 0);
    auto* by_id = static_cast<Record*>(TAB_search(&tab, 1, "KDEN"));
    ASSERT_NE(by_id, nullptr);
    EXPECT_EQ(by_id, TAB_search(&tab, 2, "72565"));
    EXPECT_EQ(by_id, TAB_search(&tab, 3, "  399 -1047"));
    EXPECT_STREQ(by_id->text, "denver");
    // The table holds a copy, not the caller's record.
    EXPECT_NE(by_id, &record);
    by_id->value = 7;
    EXPECT_EQ(value_of(2, "72565"), 7);
    // Keys are only found under their own key number.
    EXPECT_EQ(TAB_search(&tab, 2, "KDEN"), nullptr);
    EXPECT_EQ(TAB_search(&tab, 1, "kden"), nullptr);
}

TEST_F(TableTest, KeyNumbersOutsideTheTableFindNothing)
{
    ASSERT_EQ(TAB_create(&tab, 5, sizeof(Record), 2), 0);
    enter2(1, "a", "b");
    EXPECT_EQ(TAB_search(&tab, 0, "a"), nullptr);
    EXPECT_EQ(TAB_search(&tab, 3, "a"), nullptr);
    EXPECT_EQ(TAB_search(&tab, 4, "b"), nullptr);
    EXPECT_EQ(TAB_search(&tab, -1, "a"), nullptr);
    EXPECT_EQ(TAB_search(&tab, 5, "a"), nullptr);
    void* found[2];
    EXPECT_EQ(TAB_searches(&tab, 3, "a", found, 2), 0);
}

TEST_F(TableTest, DuplicatesAreKeptAndTheFirstEnteredWins)
{
    // One bucket: every key shares the chain, so order and matching are exercised fully.
    ASSERT_EQ(TAB_create(&tab, 1, sizeof(Record), 2), 0);
    enter2(1, "KDEN", "72565");
    enter2(2, "KBOU", "72469");
    enter2(3, "KDEN", "99999");
    enter2(4, "KXXX", "72565");
    EXPECT_EQ(tab.num_entry, 4);
    EXPECT_EQ(value_of(1, "KDEN"), 1);
    EXPECT_EQ(value_of(2, "72565"), 1);
    EXPECT_EQ(value_of(1, "KBOU"), 2);
    EXPECT_EQ(value_of(2, "99999"), 3);
    EXPECT_EQ(value_of(1, "KDE"), -1);

    void* found[4] = {};
    ASSERT_EQ(TAB_searches(&tab, 1, "KDEN", found, 4), 2);
    EXPECT_EQ(static_cast<Record*>(found[0])->value, 1);
    EXPECT_EQ(static_cast<Record*>(found[1])->value, 3);
    EXPECT_EQ(TAB_searches(&tab, 2, "72565", found, 1), 1);  // limited by max
    EXPECT_EQ(static_cast<Record*>(found[0])->value, 1);
    EXPECT_EQ(TAB_searches(&tab, 2, "00000", found, 4), 0);
}

TEST_F(TableTest, IteratesInInsertionOrderWhateverTheBuckets)
{
    ASSERT_EQ(TAB_create(&tab, 3, sizeof(Record), 2), 0);
    std::vector<int> entered;
    for (int i = 0; i < 50; ++i) {
        const std::string key = "S" + std::to_string(i * 37 % 101);
        enter2(i, key.c_str(), std::to_string(i).c_str());
        entered.push_back(i);
    }
    std::vector<int> seen;
    for (void* data = TAB_first(&tab); data; data = TAB_next(&tab)) seen.push_back(static_cast<Record*>(data)->value);
    EXPECT_EQ(seen, entered);
    EXPECT_EQ(TAB_next(&tab), nullptr);  // stays at the end
    ASSERT_NE(TAB_first(&tab), nullptr);  // and restarts
    EXPECT_EQ(static_cast<Record*>(TAB_first(&tab))->value, 0);
}

TEST_F(TableTest, ClearEmptiesAndTheTableCanBeRebuilt)
{
    ASSERT_EQ(TAB_create(&tab, 4, sizeof(Record), 2), 0);
    for (int i = 0; i < 20; ++i) enter2(i, std::to_string(i).c_str(), "same");
    TAB_clear(&tab);
    EXPECT_EQ(tab.num_entry, 0);
    EXPECT_EQ(TAB_first(&tab), nullptr);
    EXPECT_EQ(TAB_search(&tab, 1, "3"), nullptr);
    TAB_clear(&tab);  // twice is harmless
    ASSERT_EQ(TAB_create(&tab, 4, sizeof(Record), 1), 0);
    Record record{99, ""};
    ASSERT_EQ(TAB_enter(&tab, &record, "x"), 0);
    EXPECT_EQ(value_of(1, "x"), 99);
    // Creating over a filled table releases the old one (checked by the leak sanitizer).
    ASSERT_EQ(TAB_create(&tab, 2, sizeof(Record), 2), 0);
    EXPECT_EQ(TAB_search(&tab, 1, "x"), nullptr);
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
    EXPECT_EQ(value_of(2, "99999"), 0);
    EXPECT_EQ(value_of(1, "19999"), 19999);
}

TEST_F(TableTest, AMissingKeyEntersNothing)
{
    ASSERT_EQ(TAB_create(&tab, 4, sizeof(Record), 2), 0);
    Record record{5, ""};
    EXPECT_EQ(TAB_enter(&tab, &record, "only", static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(tab.num_entry, 0);
    EXPECT_EQ(TAB_search(&tab, 1, "only"), nullptr);
}

TEST_F(TableTest, ZeroDataSizeStillKeysRecords)
{
    ASSERT_EQ(TAB_create(&tab, 4, 0, 1), 0);
    ASSERT_EQ(TAB_enter(&tab, nullptr, "k"), 0);
    EXPECT_NE(TAB_search(&tab, 1, "k"), nullptr);
}

} // namespace
