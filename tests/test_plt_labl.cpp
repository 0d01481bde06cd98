// Plot labels: format fields, the overlay rules and the bounded label stores.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "date.hpp"
#include "plt_labl.hpp"

namespace {

class Labels : public ::testing::Test {
protected:
    void SetUp() override
    {
        PLT_init_labels();
        PLT_set_overlay(0);
        PLT_set_label_type(0);
        Date d{2024, 5, 14, 135, 2, 18, 30, 0};
        PLT_label_date(&d);
        PLT_label_for_time(0);
    }
    std::string format(const char* form)
    {
        char out[PLT_LABEL_LEN];
        PLT_label_format(form, out, sizeof out);
        return out;
    }
};

TEST_F(Labels, FormatFields)
{
    char date_label[DATE_LABEL_LEN];
    Date d{2024, 5, 14, 135, 2, 18, 30, 0};
    DATE_make_label(&d, date_label, sizeof date_label);
    char fhour_short[DATE_FHOUR_LEN], fhour_long[DATE_FHOUR_LEN];
    DATE_fhour_label(fhour_short, 36, 0, sizeof fhour_short);
    DATE_fhour_label(fhour_long, 36, 1, sizeof fhour_long);
    struct Case {
        const char* form;
        std::string expected;
    } cases[] = {
        {"%y%m%d/%h", "240514/18"},
        {"%b_%n", "MAY 30"},
        {"100%%_%q%", "100% "},
        {"%D", date_label},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(format(c.form), c.expected) << c.form;
    PLT_label_for_time(36);
    EXPECT_EQ(format("%f"), fhour_short);
    EXPECT_EQ(format("%F"), fhour_long);
    char valid[DATE_LABEL_LEN];
    DATE_make_label_valid_time(36, &d, valid, sizeof valid);
    EXPECT_EQ(format("%V"), valid);
    // %W clears the stored hour for good.
    Date no_hour = d;
    no_hour.hour = DATE_MISSING;
    DATE_make_label_valid_time(36, &no_hour, valid, sizeof valid);
    EXPECT_EQ(format("%W"), valid);
    EXPECT_EQ(format("%h"), "-9999");
}

TEST_F(Labels, FormatIntoASmallBufferIsCut)
{
    char out[5];
    std::memset(out, 'x', sizeof out);
    PLT_label_format("%y%m%d", out, sizeof out);
    EXPECT_STREQ(out, "2405");
}

TEST_F(Labels, OverlayClampingAndCounting)
{
    PLT_set_overlay(9);
    EXPECT_EQ(PLT_get_overlay(), 5);
    EXPECT_EQ(PLT_get_num_over(), 5);
    PLT_set_num_overlay(-2);
    EXPECT_EQ(PLT_get_num_over(), 2);
    PLT_set_num_overlay(1);
    EXPECT_EQ(PLT_get_num_over(), 2);
    PLT_set_overlay_base(7);
    EXPECT_EQ(PLT_get_overlay_base(), 5);
    EXPECT_EQ(PLT_next_overlay(), 6);
    EXPECT_EQ(PLT_next_overlay(), -1);
    // Overlay 6 has no label slot: stores are refused.
    PLT_label_up_left("lost");
    for (int over = 0; over < PLT_LABEL_OVERLAYS; ++over) EXPECT_STREQ(PLT_get_label(0, over), "");
    EXPECT_STREQ(PLT_get_label(0, 6), "");
    EXPECT_STREQ(PLT_get_label(-1, 0), "");
}

// Past the last overlay nothing is stored, whether overlays keep their own labels or append
// to overlay 0.
TEST_F(Labels, OverlaySixStoresNothingWhateverTheLabelType)
{
    for (int type : {-1, 0, 1}) {
        SCOPED_TRACE(type);
        PLT_init_labels();
        PLT_set_overlay(0);
        PLT_set_label_type(type);
        PLT_label_up_left("base");
        PLT_set_overlay(5);
        ASSERT_EQ(PLT_next_overlay(), 6);
        PLT_label_up_left("late");
        PLT_label_strcat(0, "late");
        EXPECT_STREQ(PLT_get_label(0, 0), "base");
        for (int over = 1; over < PLT_LABEL_OVERLAYS; ++over) EXPECT_STREQ(PLT_get_label(0, over), "");
    }
}

TEST_F(Labels, StoreAndAppend)
{
    PLT_label_up_left("500 mb heights");
    PLT_label_low_right("right");
    EXPECT_STREQ(PLT_get_label(0, 0), "500 mb heights");
    EXPECT_STREQ(PLT_get_label(5, 0), "right");
    PLT_set_label_type(-1);
    EXPECT_EQ(PLT_next_overlay(), 1);
    EXPECT_EQ(PLT_get_label_type(), -2);
    PLT_label_up_left("temperature");
    EXPECT_STREQ(PLT_get_label(0, 0), "500 mb heights temperature");
    EXPECT_STREQ(PLT_get_label(0, 1), "");
    // A second append in the same overlay writes at the same place.
    PLT_label_up_left("wind");
    EXPECT_STREQ(PLT_get_label(0, 0), "500 mb heights wind");
    // Positive label type: overlays keep their own labels.
    PLT_set_label_type(1);
    PLT_label_up_center("own");
    EXPECT_STREQ(PLT_get_label(1, 1), "own");
}

TEST_F(Labels, LengthLimits)
{
    std::string limit(68, 'a');
    PLT_label_strcpy(2, limit.c_str());
    EXPECT_EQ(std::string(PLT_get_label(2, 0)), limit);
    std::string over(69, 'b');
    PLT_label_strcpy(2, over.c_str());
    EXPECT_EQ(std::string(PLT_get_label(2, 0)), limit);

    PLT_label_strcpy(3, "base");
    PLT_set_label_type(-1);
    PLT_next_overlay();
    PLT_label_strcat(3, std::string(55, 'c').c_str());   // 4 + 55 = 59: below 60
    EXPECT_EQ(std::strlen(PLT_get_label(3, 0)), 60u);
    PLT_label_strcat(3, std::string(56, 'd').c_str());   // 4 + 56 = 60: refused
    EXPECT_EQ(PLT_get_label(3, 0)[5], 'c');
    PLT_label_strcpy(9, "bad place");
    PLT_label_strcat(-1, "bad place");
}

}  // namespace
