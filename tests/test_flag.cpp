#include <gtest/gtest.h>

#include <cstdint>

#include "flag.hpp"

TEST(Flags, RangeChecksAndWideValues) {
  FLAG_reset(-9999);
  EXPECT_EQ(FLAG_get(0), -9999);
  EXPECT_EQ(FLAG_set(29, 7), 0);
  EXPECT_EQ(FLAG_get(29), 7);
  EXPECT_EQ(FLAG_set(30, 1), -1);
  EXPECT_EQ(FLAG_set(-1, 1), -1);
  EXPECT_EQ(FLAG_get(30), 0);
  EXPECT_EQ(FLAG_getl(-1), 0);
  const std::int64_t big = std::int64_t{1} << 40;
  EXPECT_EQ(FLAG_setl(3, big), 0);
  EXPECT_EQ(FLAG_getl(3), big);
  FLAG_resetl(big);
  EXPECT_EQ(FLAG_getl(29), big);
}

TEST(Flags, BatchAndHelpNeedPositiveValues) {
  FLAG_reset(-9999);  // the unset value is not "on"
  EXPECT_EQ(FLAG_batch(), 0);
  EXPECT_EQ(FLAG_help(), 0);
  FLAG_set_batch(1);
  EXPECT_EQ(FLAG_batch(), 1);
  EXPECT_EQ(FLAG_get(FLAG_BATCH_INDEX), 1);
  FLAG_set(FLAG_HELP_INDEX, 2);
  EXPECT_EQ(FLAG_help(), 1);
  FLAG_set_batch(0);
  EXPECT_EQ(FLAG_batch(), 0);
}

TEST(PlotSwitches, GroupSumsFollowEveryChange) {
  FLAG_resetplot(1);
  FLAG_setplot(3, 0);
  EXPECT_EQ(FLAG_getplot(0), 5);   // 1..6 with one off
  EXPECT_EQ(FLAG_getplot(12), 15); // 0..11: the sum 5, five of 1..6 and 7..11
  FLAG_setplot(0, 0);              // clears 0..6
  EXPECT_EQ(FLAG_getplot(6), 0);
  EXPECT_EQ(FLAG_getplot(7), 1);
  EXPECT_EQ(FLAG_getplot(0), 0);
  EXPECT_EQ(FLAG_getplot(12), 5);
  FLAG_setplot(12, 1);             // everything back on
  EXPECT_EQ(FLAG_getplot(0), 6);
  EXPECT_EQ(FLAG_getplot(12), 17);
  FLAG_setplot(13, 5);             // outside the table: ignored
  EXPECT_EQ(FLAG_getplot(13), 0);
}
