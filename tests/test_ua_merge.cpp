// Sounding merge, array merges, hydrostatic filling and interpolation in each coordinate.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sounding_fixture.hpp"
#include "thm_tool.hpp"
#include "ua_merge.hpp"

namespace {

constexpr float M = -9999.0f;

UPA_level L(float p, float h, float t, float td, float dir = M, float spd = M) { return {p, h, t, td, dir, spd}; }

struct Merged {
    std::vector<UPA_level> lev = std::vector<UPA_level>(UPA_MERGE_MAX);
    int idx[UPA_MAN_INDEX];
    int n = 0;
};

Merged sm(const UPA_report& r)
{
    Merged m;
    m.n = UPA_sm_merge(&r, m.lev.data(), m.idx);
    return m;
}

void add_sig(UPA_report* r, float p, float t, float td) { r->sig[r->numsig++] = {p, t, td}; }

UPA_report basic_report()
{
    UPA_report r;
    fixture_clear(&r);
    r.man[0] = {1000, 100, 20, 10, 180, 10};
    r.man[3] = {850, 1500, 12, 5, 200, 20};
    r.man[4] = {700, 3100, 2, -8, 230, 30};
    r.man[5] = {500, 5800, -15, -30, 250, 40};
    r.numman = 17;
    return r;
}

std::vector<float> pressures(const Merged& m)
{
    std::vector<float> p;
    for (int i = 0; i < m.n; ++i) p.push_back(m.lev[i].p);
    return p;
}

TEST(SmMerge, SignificantLevelsOnly)
{
    UPA_report r;
    fixture_clear(&r);
    add_sig(&r, 990, 25, 15);
    add_sig(&r, 900, 20, 10);
    add_sig(&r, 700, 5, -5);
    Merged m = sm(r);
    ASSERT_EQ(m.n, 3);
    EXPECT_EQ(pressures(m), (std::vector<float>{990, 900, 700}));
    EXPECT_FLOAT_EQ(m.lev[1].t, 20.0f);
    EXPECT_EQ(m.lev[1].h, M);
    EXPECT_EQ(m.lev[1].dir, M);
}

TEST(SmMerge, InterleavesAndConsumesEqualPressures)
{
    UPA_report r = basic_report();
    add_sig(&r, 1000, 20, 10);
    add_sig(&r, 900, 16, 8);
    add_sig(&r, 850, 12.5, 6);  // same pressure as a mandatory level: consumed
    add_sig(&r, 600, -6, -20);
    Merged m = sm(r);
    EXPECT_EQ(pressures(m), (std::vector<float>{1000, 900, 850, 700, 600, 500}));
    EXPECT_FLOAT_EQ(m.lev[2].t, 12.0f);  // the mandatory values win
    EXPECT_FLOAT_EQ(m.lev[2].h, 1500.0f);
    const int expected_index[] = {0, -9999, -9999, 2, 3, 5};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(m.idx[k], expected_index[k]) << k;
}

TEST(SmMerge, TropopauseMergedAtExistingPressureAndMaxWindInserted)
{
    UPA_report r = basic_report();
    add_sig(&r, 1000, 20, 10);
    add_sig(&r, 600, -6, -20);
    r.man[22] = {700, M, 2.5, -9, 235, 33};  // tropopause at an existing pressure
    r.man[23] = {650, M, M, M, 240, 60};
    Merged m = sm(r);
    EXPECT_EQ(pressures(m), (std::vector<float>{1000, 850, 700, 650, 600, 500}));
    EXPECT_EQ(m.idx[22], 2);
    EXPECT_EQ(m.idx[23], 3);
    EXPECT_EQ(m.idx[4], 2);  // 700 mb untouched by the tropopause
    EXPECT_EQ(m.idx[5], 5);  // shifted by the inserted maximum wind
    EXPECT_FLOAT_EQ(m.lev[3].spd, 60.0f);
    EXPECT_NEAR(m.lev[3].t, interp_temp(2, -6, 700, 600, 650), 1e-4);
}

TEST(SmMerge, SuperadiabaticLevelsRemoved)
{
    struct Case {
        float theta_drop;
        int expected_levels;
    } cases[] = {{3.5f, 2}, {2.5f, 3}};
    for (const Case& c : cases) {
        UPA_report r;
        fixture_clear(&r);
        double theta0 = 300.0;
        auto t_of = [](double theta, double p) { return static_cast<float>(theta * std::pow(p / 1000.0, 0.286) - 273.15); };
        add_sig(&r, 1000, t_of(theta0, 1000), 0);
        add_sig(&r, 950, t_of(theta0 - c.theta_drop, 950), -5);
        add_sig(&r, 900, t_of(theta0 + 1, 900), -8);
        Merged m = sm(r);
        EXPECT_EQ(m.n, c.expected_levels) << c.theta_drop;
    }
}

TEST(SmMerge, DamagedReportsDropBadLevels)
{
    UPA_report r = basic_report();
    add_sig(&r, 1000, 20, 10);
    add_sig(&r, 900, 16, 8);
    add_sig(&r, 900, 15, 7);     // duplicate
    add_sig(&r, 950, 18, 9);     // out of order
    add_sig(&r, M, 5, 0);        // no pressure
    add_sig(&r, 1050, 30, 20);   // below ground
    r.man[6] = {M, 7000, -25, -40, 250, 50};
    r.numsig = 6;
    Merged m = sm(r);
    EXPECT_EQ(pressures(m), (std::vector<float>{1000, 900, 850, 700, 500}));
    r.numsig = 100000;           // absurd counts are clamped
    r.numman = -4;
    EXPECT_LE(sm(r).n, UPA_MERGE_MAX);
    EXPECT_EQ(UPA_sm_merge(nullptr, m.lev.data(), m.idx), 0);
}

// One significant level whose pressure was damaged to a small value must not take every
// level after it down with it: the levels that keep the report's order are the good ones.
TEST(SmMerge, OneDamagedLowPressureDropsOnlyItself)
{
    struct Case {
        const char* name;
        std::vector<float> sig;
        std::vector<float> merged;
    } cases[] = {
        {"damaged 95 mb in the middle", {1000, 900, 95, 800, 600}, {1000, 900, 850, 800, 700, 600, 500}},
        {"damaged 1 mb second", {1000, 1, 900, 800, 600}, {1000, 900, 850, 800, 700, 600, 500}},
        {"two damaged in a row", {1000, 900, 95, 90, 800, 650, 600}, {1000, 900, 850, 800, 700, 650, 600, 500}},
        {"ordered report unchanged", {1000, 900, 800, 600}, {1000, 900, 850, 800, 700, 600, 500}},
    };
    for (const Case& c : cases) {
        UPA_report r = basic_report();
        for (float p : c.sig) add_sig(&r, p, 20.0f - 0.05f * (1000.0f - p), 0.0f - 0.05f * (1000.0f - p));
        Merged m = sm(r);
        EXPECT_EQ(pressures(m), c.merged) << c.name;
    }
}

TEST(SmMerge, SoundingStartingAloftUsesLowestMandatoryWithHeight)
{
    UPA_report r = basic_report();
    r.man[0] = {M, M, M, M, M, M};
    add_sig(&r, 450, -20, -35);
    add_sig(&r, 400, -25, -40);
    Merged m = sm(r);
    ASSERT_GE(m.n, 1);
    EXPECT_FLOAT_EQ(m.lev[0].p, 850.0f);
    EXPECT_EQ(m.idx[0], 0);
    EXPECT_EQ(m.idx[3], 0);
}

TEST(WmMerge, WindLevelsInMetres)
{
    UPA_report r;
    fixture_clear(&r);
    r.wnd[0] = {0, 180, 10};
    r.wnd[1] = {1000, 200, 20};
    r.wnd[2] = {2000, 220, 30};
    r.numwnd = 3;
    std::vector<UPA_level> w(UPA_MERGE_MAX);
    ASSERT_EQ(UPA_wm_merge(&r, w.data(), nullptr), 3);
    const float heights[] = {0.0f, 304.8f, 609.6f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(w[i].h, heights[i], 1e-3);
        EXPECT_EQ(w[i].p, M);
    }
}

// One wind level whose height was damaged to a great value must not hold back the levels
// after it, with or without mandatory levels to interleave.
TEST(WmMerge, OneDamagedGreatHeightDropsOnlyItself)
{
    for (bool with_mandatory : {false, true}) {
        UPA_report r;
        fixture_clear(&r);
        if (with_mandatory) {
            r.man[0] = {1000, 0, 20, 10, 180, 10};
            r.man[3] = {850, 1500, 12, 5, 200, 20};
            r.numman = 17;
        }
        const float feet[] = {0, 1000, 99000, 2000, 3000};
        for (float h : feet) r.wnd[r.numwnd++] = {h, 190, 15};
        std::vector<UPA_level> w(UPA_MERGE_MAX);
        const int n = UPA_wm_merge(&r, w.data(), nullptr);
        std::vector<float> heights;
        for (int i = 0; i < n; ++i) heights.push_back(std::round(w[i].h * 10.0f) / 10.0f);
        const std::vector<float> expected =
            with_mandatory ? std::vector<float>{0, 304.8f, 609.6f, 914.4f, 1500} : std::vector<float>{0, 304.8f, 609.6f, 914.4f};
        EXPECT_EQ(heights, expected) << (with_mandatory ? "with" : "without") << " mandatory levels";
    }
}

// Wind-level heights count from sea level: the 0 ft entry is the surface wind at the
// station's elevation, an entry under the station is dropped. (This replaces a rule that
// lifted a whole list starting at 0 ft by the surface height.)
TEST(WmMerge, WindHeightsAboveSeaLevelAtAnElevatedStation)
{
    UPA_report r;
    fixture_clear(&r);
    r.elev = 400.0f;
    r.man[0] = {960, M, 25, 15, 180, 10};
    r.numman = 1;
    r.wnd[0] = {0, 180, 10};
    r.wnd[1] = {1000, 200, 20};
    r.wnd[2] = {2000, 210, 25};
    r.numwnd = 3;
    std::vector<UPA_level> w(UPA_MERGE_MAX);
    ASSERT_EQ(UPA_wm_merge(&r, w.data(), nullptr), 2);
    EXPECT_NEAR(w[0].h, 400.0f, 1e-3);
    EXPECT_FLOAT_EQ(w[0].p, 960.0f);   // the surface wind merged into the surface
    EXPECT_NEAR(w[1].h, 609.6f, 1e-3);
    EXPECT_FLOAT_EQ(w[1].dir, 210.0f);
}

TEST(WmMerge, MandatoryWindsByHeight)
{
    UPA_report r = basic_report();
    r.man[4].h = M;  // standard-atmosphere height for 700 mb: 3012 m
    r.man[5].dir = M;
    r.wnd[0] = {328, 180, 10};     // 100 m: merged into the surface
    r.wnd[1] = {3000, 190, 15};
    r.wnd[2] = {20000, 240, 35};
    r.wnd[3] = {15000, 230, 30};   // out of order
    r.numwnd = 4;
    std::vector<UPA_level> w(UPA_MERGE_MAX);
    int idx[UPA_MAN_INDEX];
    int n = UPA_wm_merge(&r, w.data(), idx);
    ASSERT_EQ(n, 5);
    const float heights[] = {100.0f, 914.4f, 1500.0f, 3012.0f, 6096.0f};
    for (int i = 0; i < n; ++i) EXPECT_NEAR(w[i].h, heights[i], 1.0) << i;
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[3], 2);
    EXPECT_EQ(idx[5], M);  // 500 mb has no direction
}

TEST(SwMerge, WindLevelsPlacedByPressure)
{
    UPA_report r = basic_report();
    add_sig(&r, 1000, 20, 10);
    r.wnd[0] = {3000, 190, 15};    // 914 m: between 1000 and 850 mb
    r.numwnd = 1;
    std::vector<UPA_level> out(UPA_MERGE_MAX);
    int idx[UPA_MAN_INDEX];
    int n = UPA_sw_merge(&r, out.data(), idx);
    ASSERT_EQ(n, 5);
    EXPECT_GT(out[1].p, 850.0f);
    EXPECT_LT(out[1].p, 1000.0f);
    EXPECT_FLOAT_EQ(out[1].dir, 190.0f);
    EXPECT_EQ(idx[3], 2);
    EXPECT_EQ(idx[5], 4);
}

TEST(ArrayMerge, PressureAndHeightOrders)
{
    const UPA_level a[] = {L(1000, M, 20, M), L(850, 1500, M, 5), L(500, 5800, -15, -30)};
    const UPA_level b[] = {L(925, 800, 16, 9), L(850, 1490, 12, 4, 200, 20), L(700, 3100, 2, -8)};
    UPA_level out[6];
    ASSERT_EQ(UPA_merge_array(a, 3, b, 3, out), 5);
    EXPECT_FLOAT_EQ(out[1].p, 925.0f);
    EXPECT_FLOAT_EQ(out[2].h, 1500.0f);  // from in1
    EXPECT_FLOAT_EQ(out[2].t, 12.0f);    // missing in in1, from in2
    EXPECT_FLOAT_EQ(out[2].dir, 200.0f);

    const UPA_level w1[] = {L(M, 0, M, M, 180, 10), L(M, 500, M, M, M, M), L(M, 1000, M, M, 200, 20)};
    const UPA_level w2[] = {L(M, 250, M, M, 190, 15), L(M, 600, M, M, M, M), L(M, 1000, M, M, 210, 25)};
    ASSERT_EQ(UPA_wnd_merge_array(w1, 3, w2, 3, out), 3);
    EXPECT_FLOAT_EQ(out[1].h, 250.0f);
    EXPECT_FLOAT_EQ(out[2].dir, 200.0f);
}

TEST(Hydrostatic, HeightsTemperaturesAndPressures)
{
    // Isothermal 0 C column: h = (R T / g) ln(p0 / p).
    const double scale = 287.05 * 273.15 / 9.8;
    UPA_level lev[] = {L(1000, 0, 0, M), L(900, M, 0, M), L(800, M, M, M), L(700, M, 0, M)};
    UPA_calc_temp(lev, 4);
    EXPECT_FLOAT_EQ(lev[2].t, 0.0f);
    ASSERT_EQ(UPA_calc_height(lev, 4), 0);
    for (int i = 1; i < 4; ++i) EXPECT_NEAR(lev[i].h, scale * std::log(1000.0 / lev[i].p), 0.5) << i;

    // A run is corrected to meet the next reported height.
    UPA_level run[] = {L(1000, 0, 0, M), L(900, M, 0, M), L(800, 1800, 0, M)};
    ASSERT_EQ(UPA_calc_height(run, 3), 0);
    double off = 1800.0 - scale * std::log(1000.0 / 800.0);
    EXPECT_NEAR(run[1].h, scale * std::log(1000.0 / 900.0) + off * 0.5, 0.5);

    UPA_level none[] = {L(1000, M, 0, M)};
    EXPECT_EQ(UPA_calc_height(none, 1), -1);

    UPA_level press[] = {L(1000, 0, 0, M), L(M, 1000, 0, M)};
    UPA_calc_press(press, 2);
    EXPECT_NEAR(press[1].p, 1000.0 * std::exp(-1000.0 / scale), 0.05);
}

struct InterpCase {
    int coord;
    float value;
    float p, h, t;
};

TEST(Interpolation, EachCoordinate)
{
    // Isothermal 0 C column with winds: heights hydrostatic, theta rises with height.
    const double scale = 287.05 * 273.15 / 9.8;
    std::vector<UPA_level> lev;
    for (float p : {1000.0f, 900.0f, 800.0f, 700.0f})
        lev.push_back(L(p, static_cast<float>(scale * std::log(1000.0 / p)), 0, -10, 270, 20));
    float theta900 = pot_temp(273.15f, 900.0f);
    float p_mid = static_cast<float>(std::sqrt(900.0 * 800.0));
    float h_mid = (lev[1].h + lev[2].h) / 2.0f;
    const InterpCase cases[] = {
        {100, 900.0f, 900.0f, lev[1].h, 0.0f},           // a level itself
        {100, p_mid, p_mid, h_mid, 0.0f},                // halfway in ln p
        {103, h_mid, p_mid, h_mid, 0.0f},                // halfway in height
        {113, theta900, 900.0f, lev[1].h, 0.0f},         // theta of a level
        {100, 1050.0f, M, M, M},                         // below the sounding
        {103, 99999.0f, M, M, M},                        // above it
    };
    for (const InterpCase& c : cases) {
        UPA_level r;
        int inside = UPA_interp(lev.data(), 4, c.coord, c.value, &r);
        EXPECT_EQ(inside, c.p != M ? 1 : 0) << c.coord << " " << c.value;
        EXPECT_NEAR(r.p, c.p, 0.5) << c.coord << " " << c.value;
        EXPECT_NEAR(r.h, c.h, 2.0) << c.coord << " " << c.value;
        EXPECT_NEAR(r.t, c.t, 1e-3) << c.coord << " " << c.value;
    }
    UPA_level sfc[2];
    EXPECT_EQ(UPA_interp_levels(lev.data(), 4, 1, nullptr, sfc, 1), 1);
    EXPECT_FLOAT_EQ(sfc[0].p, 1000.0f);
    EXPECT_EQ(UPA_interp(lev.data(), 4, 999, 900.0f, sfc), 0);
}

TEST(Interpolation, WindTurnsTheShortWay)
{
    struct Case {
        float lower, upper, expected;
    } cases[] = {{350, 20, 5}, {20, 350, 5}, {90, 180, 135}, {10, 300, 335}, {300, 10, 335}};
    for (const Case& c : cases) {
        const UPA_level lev[] = {L(1000, 0, 10, 0, c.lower, 10), L(800, 2000, 0, -10, c.upper, 30)};
        UPA_level r;
        ASSERT_EQ(UPA_interp(lev, 2, 103, 1000.0f, &r), 1);
        EXPECT_NEAR(r.dir, c.expected, 1e-3) << c.lower << " -> " << c.upper;
        EXPECT_NEAR(r.spd, 20.0f, 1e-3);
    }
    // Speed from the nearest levels that have a wind.
    const UPA_level gap[] = {L(1000, 0, 10, 0, 180, 10), L(900, 1000, 5, -5), L(800, 2000, 0, -10, 180, 30)};
    UPA_level r;
    ASSERT_EQ(UPA_interp(gap, 3, 103, 1500.0f, &r), 1);
    EXPECT_NEAR(r.spd, 25.0f, 1e-3);
}

TEST(Layers, ThicknessHelpers)
{
    EXPECT_FLOAT_EQ(UPA_thick_top(100, 1000, 50), 950.0f);
    EXPECT_FLOAT_EQ(UPA_thick_top(103, 1000, M), 1050.0f);
    EXPECT_FLOAT_EQ(UPA_thick_top(113, 300, M), 305.0f);
    EXPECT_FLOAT_EQ(UPA_thick_top(100, M, 50), M);
    EXPECT_FLOAT_EQ(UPA_thick_bottom(100, 500, M), 520.0f);
    EXPECT_FLOAT_EQ(UPA_thick_bottom(104, 500, M), 300.0f);
    EXPECT_FLOAT_EQ(UPA_thick_bottom(7, 500, M), M);
    const UPA_level lev = L(1000, 100, 0, M);
    EXPECT_NEAR(UPA_get_level(100, &lev), -std::log(1000.0), 1e-5);
    EXPECT_FLOAT_EQ(UPA_get_level(105, &lev), 100.0f);
    EXPECT_FLOAT_EQ(UPA_get_level(50, &lev), M);
    int ind = M;
    EXPECT_FLOAT_EQ(UPA_sfc_pres(&lev, &ind), 1000.0f);
}

}  // namespace
