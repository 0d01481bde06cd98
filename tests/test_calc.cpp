// Stability indices: a real-looking sounding against independent reference values
// (scripts/sounding_oracle.py), analytic layer cases, and the edge cases of damaged soundings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "calc.hpp"
#include "sounding_fixture.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_merge.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float M = -9999.0f;

UPA_level L(float p, float h, float t, float td, float dir = M, float spd = M) { return {p, h, t, td, dir, spd}; }

class Reference : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fixture_load(std::string(QAZ_TEST_DATA) + "/sounding_ref.txt", &report));
        tv = std::make_unique<THERM_values>();
        ASSERT_GT(THERM_calc(&report, tv.get()), 0);
        THERM_indices(tv.get());
    }
    UPA_report report;
    std::unique_ptr<THERM_values> tv;
};

// Merged profile: the order and membership follow from the merge rules alone (1000 mb is below
// the 965 mb surface, the tropopause at 180 mb is a significant level already, the maximum wind
// at 260 mb is inserted); heights of the significant levels come from the hypsometric equation.
TEST_F(Reference, MergedProfileMatchesReference)
{
    const float pressures[] = {965, 940, 925, 900, 870, 850, 820, 780, 700, 650, 600, 550, 500,
                               450, 400, 350, 300, 260, 250, 200, 180, 150, 120, 100, 70};
    const float heights[] = {360.0,   592.1,   733.0,   972.3,   1266.4,  1467.0,  1776.8,  2205.9,  3115.0,
                             3722.0,  4366.5,  5055.1,  5795.0,  6596.3,  7474.0,  8444.6,  9532.0,  10511.2,
                             10774.0, 12236.0, 12907.7, 14054.0, 15437.4, 16552.0, 18731.0};
    ASSERT_EQ(tv->num_sm, 25);
    for (int i = 0; i < 25; ++i) {
        EXPECT_FLOAT_EQ(tv->sm[i].p, pressures[i]) << i;
        // The reported heights are hydrostatic; the reference carries each height from the level
        // below, the library also spreads the rounding of the next reported height (< 1 m).
        EXPECT_NEAR(tv->sm[i].h, heights[i], 3.0) << "p=" << pressures[i];
    }
    EXPECT_EQ(tv->sm_index[0], 0);
    EXPECT_EQ(tv->sm_index[1], -9999);  // 1000 mb lies below ground
    EXPECT_EQ(tv->sm_index[3], 5);
    EXPECT_EQ(tv->sm_index[22], 20);
    EXPECT_EQ(tv->sm_index[23], 17);
    EXPECT_FLOAT_EQ(tv->sm[17].dir, 250.0f);
    EXPECT_FLOAT_EQ(tv->sm[17].spd, 85.0f);
    EXPECT_NEAR(tv->sm[17].t, -43.064, 0.005);  // ln p interpolation between 300 and 250 mb
    EXPECT_FLOAT_EQ(tv->sm[20].dir, 255.0f);  // tropopause wind merged into the 180 mb level
}

struct IndexCase {
    THERM_index index;
    double expected;
    double tolerance;
    const char* reason;
};

TEST_F(Reference, IndicesMatchIndependentValues)
{
    const IndexCase cases[] = {
        {TI_total_totals, 57.0, 1e-3, "exact arithmetic of mandatory levels"},
        {TI_vertical_totals, 32.0, 1e-3, "exact"},
        {TI_cross_totals, 25.0, 1e-3, "exact"},
        {TI_k_index, 35.0, 1e-3, "exact"},
        {TI_sweat, 548.348, 0.01, "exact but for float sine"},
        {TI_precip_water, 1.2811, 0.015, "Bolton's vapour pressure vs the library's: under 1 %"},
        {TI_freezing_level, 605.556, 0.01, "linear crossing between 650 and 600 mb"},
        {TI_lifted_index, -8.979, 0.2, "Bolton theta-e isoline vs the library's adiabat label at 500 mb"},
        {TI_lcl, 834.54, 3.0, "Bolton's LCL formula vs the library's iteration"},
        {TI_lfc, 729.5, 10.5, "one 10 mb layer of the ascent"},
        {TI_el, 179.5, 10.5, "one 10 mb layer"},
        {TI_cape, 2839.3, 0.04 * 2839.3, "the adiabat difference (< 0.5 K) accumulates over 650 mb of ascent"},
        {TI_cin, 121.0, 0.05 * 121.0, "small sum of dry and low saturated layers"},
        {TI_lapse_700_500, 7.463, 1e-3, "exact from reported heights"},
        {TI_thickness, 5750.0, 1e-3, "reported 500 and 1000 mb heights (1000 mb under ground)"},
    };
    for (const IndexCase& c : cases)
        EXPECT_NEAR(tv->index[c.index], c.expected, c.tolerance) << THERM_index_name(c.index) << ": " << c.reason;
    EXPECT_NEAR(tv->index[TI_wmax], std::sqrt(2.0 * tv->index[TI_cape]), 0.01);
}

TEST_F(Reference, EveryIndexHasAValueAndNoneIsNaN)
{
    for (int i = 0; i < THERM_NUM_INDEX; ++i) {
        EXPECT_FALSE(std::isnan(tv->index[i])) << THERM_index_name(i);
        EXPECT_NE(tv->index[i], M) << THERM_index_name(i);
    }
    EXPECT_GE(tv->index[TI_cin], 0.0f);
    EXPECT_GE(tv->index[TI_ml_cape], 0.0f);
    EXPECT_GE(tv->index[TI_mu_cape], tv->index[TI_cape] - 1.0f);
    EXPECT_EQ(THERM_index_find("cape"), TI_cape);
    EXPECT_EQ(THERM_index_find("nope"), -1);
    EXPECT_EQ(THERM_index_name(THERM_NUM_INDEX), nullptr);
}

// The engineered saturated ascent must agree with the library's own adiabat.
TEST_F(Reference, ParcelFollowsTheSaturatedAdiabat)
{
    const PARCEL_params& pp = tv->sfc_parcel;
    double t500 = temp_on_satad(pp.Satad, 500.0f) - 273.15;
    UPA_level env;
    ASSERT_EQ(UPA_interp(tv->sm, tv->num_sm, 100, 500.0f, &env), 1);
    EXPECT_NEAR(tv->index[TI_lifted_index], env.t - t500, 0.05);
}

TEST(FixedIndices, TotalsOfTheDocumentedCase)
{
    const UPA_level lev[] = {L(1000, 100, 25, 18), L(850, 1500, 20, 15), L(700, 3100, 5, -5), L(500, 5800, -10, -20)};
    EXPECT_FLOAT_EQ(total_totals(lev, 4), 55.0f);
    EXPECT_FLOAT_EQ(vertical_totals(lev, 4), 30.0f);
    EXPECT_FLOAT_EQ(cross_totals(lev, 4), 25.0f);
    EXPECT_FLOAT_EQ(k_index(lev, 4), 20.0f + 15.0f + 10.0f - 10.0f);
}

// A level whose vapour pressure reaches its total pressure (a damaged pressure, or a dew
// point no air can hold there) holds no finite amount of water: it is bridged like a level
// without dew point instead of adding millions of inches.
TEST(FixedIndices, PrecipitableWaterSkipsImpossibleVapour)
{
    std::vector<UPA_level> lev = {L(1000, 100, 25, 18), L(850, 1500, 18, 12), L(700, 3000, 8, 0),
                                  L(500, 5800, -10, -20), L(300, 9500, -40, -50)};
    const float clean = precip_water(lev.data(), static_cast<int>(lev.size()));
    ASSERT_GT(clean, 0.5f);
    ASSERT_LT(clean, 2.0f);
    struct Case {
        const char* name;
        int at;
        UPA_level level;
    } cases[] = {
        {"pressure damaged to 1 mb above the top", 5, L(1, 31000, 20, 15)},
        {"pressure damaged to 0.01 mb between levels", 2, L(0.01f, 1200, 20, 15)},
        {"boiling dew point aloft", 5, L(200, 11800, 99.8f, 99.8f)},
    };
    for (const Case& c : cases) {
        std::vector<UPA_level> damaged = lev;
        damaged.insert(damaged.begin() + c.at, c.level);
        const float pw = precip_water(damaged.data(), static_cast<int>(damaged.size()));
        EXPECT_NEAR(pw, clean, 0.01f) << c.name;
    }
}

TEST(FixedIndices, SweatTermsDropOut)
{
    struct Case {
        float td850, dir850, expected;
    } cases[] = {
        // dew point below zero: no dew-point term; TT = 20 - 3 + 20 = 37 adds nothing.
        {-3.0f, 200.0f, 2 * 20 + 30 + 125 * (0.2 + std::sin(40 * M_PI / 180))},
        // 850 mb direction 130: no shear term.
        {10.0f, 130.0f, 120 + 20 * (50 - 49) + 2 * 20 + 30},
    };
    for (const Case& c : cases) {
        const UPA_level lev[] = {L(1000, 100, 25, 18), L(850, 1500, 20, c.td850, c.dir850, 20),
                                 L(500, 5800, -10, -20, 240, 30)};
        EXPECT_NEAR(sweat_index(lev, 3), c.expected, 0.01) << c.td850 << " " << c.dir850;
    }
    const UPA_level no_wind[] = {L(850, 1500, 20, 10), L(500, 5800, -10, -20)};
    EXPECT_EQ(sweat_index(no_wind, 2), M);
}

TEST(EdgeCases, SoundingStartingAloftHasNoLowLevelIndices)
{
    const UPA_level lev[] = {L(450, 6500, -15, -25), L(400, 7300, -20, -30), L(300, 9300, -35, -45)};
    EXPECT_EQ(lifted_index(lev, 3, 100, 450, 0, 300), M);
    EXPECT_EQ(precip_water(lev, 3), M);
    EXPECT_EQ(freezing_level(lev, 3), M);
}

TEST(EdgeCases, FreezingAtTheSurface)
{
    const UPA_level lev[] = {L(950, 300, -2, -4), L(850, 1200, -5, -8), L(700, 2800, -12, -20)};
    EXPECT_FLOAT_EQ(freezing_level(lev, 3), -1.0f);
    EXPECT_FLOAT_EQ(wet_bulb_zero(lev, 3), -1.0f);
}

TEST(EdgeCases, StableParcelNeverBecomesBuoyant)
{
    // Dry, strongly stable: the parcel is colder than its environment all the way up.
    std::vector<UPA_level> lev;
    for (int i = 0; i <= 80; ++i) {
        float p = 1000.0f - 10.0f * i;
        lev.push_back(L(p, M, 10.0f - 0.02f * i, -30.0f));
    }
    UPA_calc_height(lev.data(), static_cast<int>(lev.size()));  // no heights: stays relative
    PARCEL_params pp;
    UPA_level blev = lev[0];
    ASSERT_EQ(parcel_calc(lev.data(), static_cast<int>(lev.size()), &blev, 100, 1000, 0, &pp), 1);
    EXPECT_FLOAT_EQ(pp.lfc, -1.0f);
    EXPECT_FLOAT_EQ(pp.Bplus, 0.0f);
    EXPECT_FLOAT_EQ(pp.wmax, 0.0f);
    EXPECT_GT(pp.Bminus, 0.0f);
    EXPECT_GT(pp.cap, 0.0f);
}

// Damaged soundings: nothing crashes, nothing is NaN, energies are never negative.
TEST(EdgeCases, DamagedSoundingsGiveMissingOrSaneValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<std::vector<UPA_level>> soundings = {
        {},
        {L(M, M, M, M)},
        {L(900, 1000, 20, 10)},
        {L(900, 1000, 20, 10), L(900, 1000, 20, 10), L(900, 1000, 20, 10)},         // duplicates
        {L(850, 1500, 20, 10), L(900, 1000, 22, 12), L(500, 5800, -10, -20)},       // out of order
        {L(1000, 100, 30, 25), L(700, M, M, M), L(500, 5800, -5, -20), L(200, 12000, -55, -70)},
        {L(1000, 100, 30, 40), L(500, 5800, -5, -20), L(100, 16000, -60, -80)},     // td above t
        {L(0, 0, 0, 0), L(-5, 0, 0, 0)},
        {L(1000, 100, nan, 10), L(500, 5800, -5, nan)},
    };
    for (std::size_t s = 0; s < soundings.size(); ++s) {
        const UPA_level* lev = soundings[s].data();
        int n = static_cast<int>(soundings[s].size());
        float values[] = {total_totals(lev, n), k_index(lev, n), sweat_index(lev, n), energy_index(lev, n),
                          precip_water(lev, n), freezing_level(lev, n), lifted_index(lev, n, 1, M, 0, 500),
                          lifted_index(lev, n, 100, 1000, 100, 500), wet_bulb_zero(lev, n), max_temperature(lev, n),
                          thickness(lev, n, 1000, 500), lapse_rate(lev, n, 100, 1000, 500),
                          static_stability(lev, n, 100, 850, 500), cap_strength(lev, n, 1, M, 50),
                          pr_ccl(lev, n, 1, M, 900, nullptr), bulk_richardson(lev, n, 1000, nullptr)};
        for (float v : values) EXPECT_FALSE(std::isnan(v)) << "sounding " << s;
        PARCEL_params pp;
        parcel_calc(lev, n, nullptr, 1, M, 0, &pp);
        for (float v : {pp.Bplus, pp.Bminus, pp.wmax, pp.cap}) {
            EXPECT_FALSE(std::isnan(v)) << "sounding " << s;
            EXPECT_TRUE(v == M || v >= 0.0f) << "sounding " << s << " " << v;
        }
    }
    PARCEL_params pp;
    EXPECT_EQ(parcel_calc(nullptr, 0, nullptr, 100, 1000, 0, &pp), 0);
    EXPECT_EQ(pp.Bplus, M);
    EXPECT_EQ(pp.lfc, M);
    EXPECT_EQ(parcel_calc(soundings[5].data(), 4, nullptr, 100, M, 0, &pp), 0);
}

TEST(EdgeCases, ReportWithoutLevels)
{
    UPA_report r;
    fixture_clear(&r);
    auto tv = std::make_unique<THERM_values>();
    EXPECT_EQ(THERM_calc(&r, tv.get()), -1);
    EXPECT_EQ(THERM_indices(tv.get()), 0);
    for (float v : tv->index) EXPECT_EQ(v, M);
    EXPECT_EQ(THERM_calc(nullptr, tv.get()), -1);
}

// Random reports, full to the level limits, with absurd and non-finite values: every index
// is missing or finite and the energies stay non-negative (run under the sanitizers too).
TEST(EdgeCases, RandomReportsStaySane)
{
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> any(-2000.0f, 2000.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    auto value = [&](float lo, float hi) {
        switch (pick(rng)) {
            case 0: return M;
            case 1: return any(rng);
            case 2: return std::numeric_limits<float>::quiet_NaN();
            default: return std::uniform_real_distribution<float>(lo, hi)(rng);
        }
    };
    auto tv = std::make_unique<THERM_values>();
    UPA_report r;
    for (int round = 0; round < 60; ++round) {
        fixture_clear(&r);
        r.numman = UPA_MAN_LEVELS;
        r.numsig = UPA_SIG_LEVELS;
        r.numwnd = UPA_WND_LEVELS;
        r.elev = value(0, 3000);
        for (UPA_man& m : r.man) m = {value(5, 1050), value(0, 30000), value(-80, 40), value(-90, 30), value(0, 360), value(0, 200)};
        for (UPA_sig& sg : r.sig) sg = {value(5, 1050), value(-80, 40), value(-90, 30)};
        for (UPA_wnd& w : r.wnd) w = {value(0, 60000), value(0, 360), value(0, 200)};
        if (round % 2 == 0)  // half of them ordered, as a real report mostly is
            for (int i = 0; i < UPA_SIG_LEVELS; ++i) r.sig[i].p = 1000.0f - 4.5f * i;
        THERM_calc(&r, tv.get());
        ASSERT_LE(tv->num_sm, UPA_MERGE_MAX);
        ASSERT_LE(tv->num_sw, UPA_MERGE_MAX);
        THERM_indices(tv.get());
        for (int i = 0; i < THERM_NUM_INDEX; ++i) EXPECT_TRUE(std::isfinite(tv->index[i])) << THERM_index_name(i);
        for (THERM_index e : {TI_cape, TI_cin, TI_ml_cape, TI_ml_cin, TI_mu_cape, TI_wmax})
            EXPECT_TRUE(tv->index[e] == M || tv->index[e] >= 0.0f) << THERM_index_name(e) << " " << tv->index[e];
    }
}

// Analytic layers: straight-line hodograph, isothermal and constant-lapse columns.
std::vector<UPA_level> wind_column(float u_top_ms)
{
    std::vector<UPA_level> lev;
    for (int i = 0; i <= 30; ++i) {
        double h = 100.0 * i;
        double u = u_top_ms * h / 3000.0;  // westerly increasing with height, v = 0
        double spd = std::fabs(u) / 0.514444;
        float p = static_cast<float>(1000.0 * std::exp(-h / 8000.0));
        lev.push_back(L(p, static_cast<float>(h), 15.0f - 0.0065f * static_cast<float>(h), 5.0f, u >= 0 ? 270.0f : 90.0f,
                        static_cast<float>(spd)));
    }
    return lev;
}

TEST(Layers, HelicityOfAStraightHodograph)
{
    std::vector<UPA_level> lev = wind_column(20.0f);
    // Storm moving to the south-east at (10, -5) m/s: SRH = -cy x 20 = 100 m2/s2.
    float stm_spd = static_cast<float>(std::hypot(10.0, 5.0) / 0.514444);
    float stm_dir = static_cast<float>(std::atan2(-10.0, 5.0) * 180.0 / M_PI + 360.0);
    HELICITY_params hp;
    ASSERT_EQ(helicity(lev.data(), 31, 103, 0, 3000, stm_dir, stm_spd, &hp), 1);
    EXPECT_NEAR(hp.tot_hel, 100.0, 0.5);
    EXPECT_NEAR(hp.neg_hel, 0.0, 1e-3);
    EXPECT_NEAR(hp.hor_vort, 1000.0 * 20.0 / 3000.0, 0.01);
    EXPECT_NEAR(hp.dir_shr, 270.0, 0.01);
    EXPECT_GT(hp.rel_hel, 0.0);
    EXPECT_LE(hp.rel_hel, 1.0);
    SHEAR_params sp;
    ASSERT_EQ(shear_layer(lev.data(), 31, 103, 0, 3000, &sp), 1);
    EXPECT_EQ(sp.pos_shr, 0.0f);  // a straight westerly hodograph turns neither way
    EXPECT_EQ(sp.neg_shr, 0.0f);
    float dir, spd;
    ASSERT_EQ(layer_wind_mean(lev.data(), 31, 103, 0, 3000, &dir, &spd), 1);
    EXPECT_NEAR(dir, 270.0, 0.01);
    // Mass-weighted mean of u = 20 h / 3000 with p = 1000 exp(-h / 8000): 9.374 m/s.
    EXPECT_NEAR(spd * 0.514444, 9.374, 0.01);
    EXPECT_NEAR(energy_helicity(2000.0f, 100.0f), 1.25, 1e-6);
    EXPECT_EQ(helicity(lev.data(), 31, 103, 0, 9000, stm_dir, stm_spd, &hp), 0);  // top not covered
    EXPECT_EQ(hp.tot_hel, M);
}

// Veering and backing are decided by the turn of the wind between levels; a layer whose wind
// only changes speed turns neither way, and rounding in unit conversions (16 kt read back as
// 15.9999 kt) must not move its shear from one side to the other.
TEST(Layers, ShearSidesFollowTheTurnOfTheWind)
{
    struct Case {
        const char* name;
        float dir_bottom, dir_top, scale;
        bool veer, back;
    };
    const Case cases[] = {
        {"veering", 180, 270, 1.0f, true, false},        {"backing", 270, 180, 1.0f, false, true},
        {"speed only", 270, 270, 1.0f, false, false},   {"speed only, rounded", 270, 270, 0.99999f, false, false},
        {"speed only, south", 180, 180, 0.99999f, false, false},
    };
    for (const Case& c : cases) {
        std::vector<UPA_level> lev;
        for (int i = 0; i <= 30; ++i) {
            float h = 100.0f * i;
            float dir = c.dir_bottom + (c.dir_top - c.dir_bottom) * i / 30.0f;
            lev.push_back(L(static_cast<float>(1000.0 * std::exp(-h / 8000.0)), h, 15.0f, 5.0f, dir,
                            (10.0f + i) * (i % 2 ? c.scale : 1.0f)));
        }
        SHEAR_params sp;
        ASSERT_EQ(shear_layer(lev.data(), 31, 103, 0, 3000, &sp), 1) << c.name;
        EXPECT_EQ(sp.pos_shr > 0.0f, c.veer) << c.name << " " << sp.pos_shr;
        EXPECT_EQ(sp.neg_shr > 0.0f, c.back) << c.name << " " << sp.neg_shr;
        EXPECT_GE(sp.pos_shr, 0.0f) << c.name;
        EXPECT_GE(sp.neg_shr, 0.0f) << c.name;
    }
}

TEST(Layers, LapseRatesThicknessAndStability)
{
    std::vector<UPA_level> lev = wind_column(10.0f);
    EXPECT_NEAR(lapse_rate(lev.data(), 31, 103, 0, 3000), 6.5, 1e-3);
    float theta0 = pot_temp(288.15f, lev[0].p);
    float theta30 = pot_temp(static_cast<float>(288.15 - 19.5), lev[30].p);
    EXPECT_NEAR(theta_lapse_rate(lev.data(), 31, 103, 0, 3000), (theta30 - theta0) / 3.0, 0.01);
    EXPECT_GT(static_stability(lev.data(), 31, 103, 0, 3000), 0.0f);
    EXPECT_NEAR(thickness(lev.data(), 31, lev[0].p, lev[10].p), 1000.0, 0.5);
    EXPECT_EQ(thickness(lev.data(), 31, 1100, 500), M);
    EXPECT_NEAR(mean_value(lev.data(), 31, "hag", 103, 0, 3000), 1406.0, 2.0);  // mass weighted, as above
    EXPECT_NEAR(mean_value(lev.data(), 31, "temp", 103, 1000, 1000.5f), 8.5, 0.01);
    EXPECT_EQ(mean_value(lev.data(), 31, "nosuch", 103, 0, 3000), M);
}

struct VariableCase {
    int type;
    double expected;
    double tolerance;
};

TEST(Layers, VariablesOfOneLevel)
{
    const UPA_level lev = L(1000, 100, 20, 10);
    const VariableCase cases[] = {
        {1, 20.0, 0}, {2, 10.0, 0}, {3, 52.5, 0.5}, {4, 293.15, 0.01}, {5, 10.0, 0}, {6, 7.7, 0.1},
        {13, 293.15, 0.01}, {15, 100.0, 0}, {16, 1000.0, 0}, {17, -9999, 0}, {0, -9999, 0},
    };
    for (const VariableCase& c : cases) EXPECT_NEAR(variable_calc(c.type, &lev), c.expected, c.tolerance) << c.type;
    EXPECT_GT(variable_calc(11, &lev), variable_calc(4, &lev));   // theta-e above theta
    EXPECT_LT(variable_calc(9, &lev), 20.0f);                      // wet bulb between td and t
    EXPECT_GT(variable_calc(9, &lev), 10.0f);
}

}  // namespace

namespace {

// Reports built level by level: the first level is the surface, the others mandatory
// (placed in their slots) or significant; every height is carried hydrostatically from the
// surface, so that the reported heights are sound unless a case damages one. Mandatory
// levels under the surface get the height of the surface temperature carried down and no
// temperature, as reports give them.
struct Lvl {
    float p, t, td;
    bool sig = false;
    float dir = M, spd = M;
};

UPA_report built_report(float sfc_h, const std::vector<Lvl>& lv, const std::vector<Lvl>& below = {})
{
    UPA_report r;
    fixture_clear(&r);
    std::snprintf(r.id, sizeof r.id, "BLT");
    r.elev = sfc_h;
    r.man[0] = {lv[0].p, sfc_h, lv[0].t, lv[0].td, lv[0].dir, lv[0].spd};
    r.numman = 17;
    double h = sfc_h;
    for (std::size_t i = 1; i < lv.size(); ++i) {
        double tbar = (lv[i - 1].t + lv[i].t) / 2.0 + 273.15;
        h += 287.05 * tbar / 9.8 * std::log(static_cast<double>(lv[i - 1].p) / lv[i].p);
        if (lv[i].sig) {
            r.sig[r.numsig++] = {lv[i].p, lv[i].t, lv[i].td};
        } else {
            r.man[UPA_mandatory(lv[i].p)] = {lv[i].p, static_cast<float>(std::round(h)), lv[i].t, lv[i].td, lv[i].dir,
                                             lv[i].spd};
        }
    }
    for (const Lvl& b : below) {
        double hb = sfc_h - 287.05 * (lv[0].t + 273.15) / 9.8 * std::log(static_cast<double>(b.p) / lv[0].p);
        r.man[UPA_mandatory(b.p)] = {b.p, static_cast<float>(std::round(hb)), M, M, M, M};
    }
    return r;
}

std::unique_ptr<THERM_values> profile_of(const UPA_report& r)
{
    auto tv = std::make_unique<THERM_values>();
    THERM_calc(&r, tv.get());
    THERM_indices(tv.get());
    return tv;
}

float man_h(const UPA_report& r, float p) { return r.man[UPA_mandatory(p)].h; }

// A winter inversion at sea level: no parcel becomes buoyant. The 925 mb values lie on the
// ln p line between their neighbours and it has no wind, so that losing the level changes
// no index.
UPA_report winter_report()
{
    return built_report(10, {{1012, -10, -12, false, 360, 10}, {1000, -11, -13, false, 10, 15},
                             {960, -4, -12, true},                {925, -4.9f, -12.9f},
                             {850, -7, -15, false, 260, 30},       {700, -16, -26, false, 270, 40},
                             {500, -32, -42, false, 270, 50},      {400, -42, -52, false, 270, 60},
                             {300, -52, -62, false, 270, 70},      {250, -55, -65, false, 270, 75},
                             {200, -56, -66, false, 270, 70},      {150, -57, -67, false, 270, 60},
                             {100, -60, -70, false, 270, 50}});
}

// A dry station whose surface lies at 848 mb: 850 mb is under ground.
std::vector<Lvl> elevated_levels()
{
    return {{848, 30, 0, false, 200, 10},  {700, 18, -5, false, 250, 30},  {500, -8, -25, false, 260, 40},
            {400, -18, -35, false, 265, 50}, {300, -33, -45, false, 270, 60}, {250, -43, -55, false, 270, 65},
            {200, -53, -65, false, 270, 60}, {150, -60, -70, false, 270, 50}, {100, -65, -75, false, 270, 40}};
}

// A fixed-level index is taken at the level itself, never at a neighbour within 1 % of its
// pressure, and never outside the sounding.
TEST(ReportedLevels, FixedLevelIndicesUseTheLevelItselfOrNothing)
{
    UPA_report elevated = built_report(1530, elevated_levels(), {{1000, M, M}, {925, M, M}, {850, M, M}});
    auto tv = profile_of(elevated);
    for (THERM_index i : {TI_total_totals, TI_vertical_totals, TI_cross_totals, TI_k_index, TI_sweat,
                          TI_energy_index, TI_static_stability})
        EXPECT_EQ(tv->index[i], M) << "848 mb station: " << THERM_index_name(i);

    UPA_report beside = built_report(100, {{1000, 28, 20}, {853, 18, 14, true}, {850, 16, 9}, {700, 6, -5},
                                           {500, -12, -25}, {300, -38, -50}, {200, -55, -65}, {100, -65, -75}});
    tv = profile_of(beside);
    struct Case {
        THERM_index index;
        float expected;
    } cases[] = {{TI_total_totals, 16 + 9 + 24}, {TI_vertical_totals, 16 + 12}, {TI_cross_totals, 9 + 12},
                 {TI_k_index, 16 + 9 + 12 - 11}};
    for (const Case& c : cases) EXPECT_FLOAT_EQ(tv->index[c.index], c.expected) << "853 mb beside 850: " << THERM_index_name(c.index);
}

// The 1000-500 mb thickness is the difference of the reported heights: not of a level near
// 1000 mb, and also where 1000 mb lies under ground.
TEST(ReportedLevels, ThicknessFromReportedHeights)
{
    const std::vector<Lvl> above = {{500, -12, -25}, {300, -38, -50}, {200, -55, -65}, {100, -65, -75}};
    struct Case {
        const char* name;
        UPA_report report;
    };
    std::vector<Lvl> near = {{1009, 28, 20}, {1000, 27, 19}, {850, 16, 9}, {700, 6, -5}};
    std::vector<Lvl> high = {{965, 27, 19}, {925, 24, 17}, {850, 16, 9}, {700, 6, -5}};
    near.insert(near.end(), above.begin(), above.end());
    high.insert(high.end(), above.begin(), above.end());
    const Case cases[] = {{"surface 1009 mb", built_report(20, near)},
                          {"1000 mb under ground", built_report(360, high, {{1000, M, M}})}};
    for (const Case& c : cases) {
        auto tv = profile_of(c.report);
        EXPECT_FLOAT_EQ(tv->index[TI_thickness], man_h(c.report, 500) - man_h(c.report, 1000)) << c.name;
    }
}

// One damaged mandatory height or pressure is dropped alone: every index stays as it is
// without the damage.
TEST(ReportedLevels, OneDamagedMandatoryValueChangesNoIndex)
{
    const UPA_report intact = winter_report();
    auto good = profile_of(intact);
    ASSERT_EQ(good->index[TI_cape], 0.0f);
    struct Case {
        const char* name;
        int slot;
        float UPA_man::*field;
        float value;
    } cases[] = {{"925 mb height 51 m", 2, &UPA_man::h, 51},
                 {"925 mb pressure 92.5", 2, &UPA_man::p, 92.5f},
                 {"850 mb height 700 m high", 3, &UPA_man::h, intact.man[3].h + 700},
                 {"700 mb height 600 m low", 4, &UPA_man::h, intact.man[4].h - 600}};
    for (const Case& c : cases) {
        UPA_report damaged = intact;
        damaged.man[c.slot].*c.field = c.value;
        auto bad = profile_of(damaged);
        for (int i = 0; i < THERM_NUM_INDEX; ++i) {
            float a = good->index[i], b = bad->index[i];
            if (a == M || b == M) EXPECT_EQ(a, b) << c.name << ": " << THERM_index_name(i);
            else EXPECT_NEAR(b, a, std::max(0.5, 0.02 * std::fabs(a))) << c.name << ": " << THERM_index_name(i);
        }
    }
}

// Wind-level heights are above sea level; a 0 ft entry is the surface wind and entries
// under the station are dropped: the same winds give the same helicity either way.
TEST(ReportedLevels, WindHeightsAtAnElevatedStation)
{
    const std::vector<UPA_wnd> aloft = {{5020, 200, 10},  {6000, 210, 15},  {8000, 230, 25},
                                        {10000, 250, 30}, {12000, 260, 35}, {15000, 270, 40},
                                        {20000, 275, 50}, {25000, 280, 55}, {30000, 280, 65}};
    struct Case {
        const char* name;
        std::vector<UPA_wnd> first;
    } cases[] = {{"heights as given", {}},
                 {"with a 0 ft surface entry", {{0, 200, 10}}},
                 {"with an entry under ground", {{0, 200, 10}, {3000, 90, 40}}}};
    float reference = M;
    for (const Case& c : cases) {
        UPA_report r = built_report(1530, elevated_levels(), {{1000, M, M}, {925, M, M}, {850, M, M}});
        for (const UPA_wnd& w : c.first) r.wnd[r.numwnd++] = w;
        for (const UPA_wnd& w : aloft) r.wnd[r.numwnd++] = w;
        auto tv = profile_of(r);
        ASSERT_GT(tv->num_wm, 5) << c.name;
        EXPECT_NEAR(tv->wm[0].h, 1530.0f, 1e-3) << c.name;
        EXPECT_NEAR(tv->wm[1].h, 6000 * 0.3048f, 0.01) << c.name;
        ASSERT_NE(tv->index[TI_helicity_3km], M) << c.name;
        if (reference == M) reference = tv->index[TI_helicity_3km];
        EXPECT_NEAR(tv->index[TI_helicity_3km], reference, 0.5) << c.name;
    }
}

// Without a level of free convection there is no positive energy and no inhibition; -1 is
// never shown as a pressure.
TEST(ParcelIndices, NoFreeConvectionAndFreezingAtTheSurface)
{
    auto tv = profile_of(winter_report());
    struct Case {
        THERM_index index;
        float expected;
    } cases[] = {{TI_cape, 0},     {TI_cin, M},    {TI_lfc, M},    {TI_el, M},  {TI_wmax, 0},
                 {TI_ml_cape, 0},  {TI_ml_cin, M}, {TI_ml_lfc, M}, {TI_mu_cape, 0},
                 {TI_freezing_level, M}, {TI_wet_bulb_zero, M}};
    for (const Case& c : cases) EXPECT_EQ(tv->index[c.index], c.expected) << THERM_index_name(c.index);
}

// The cap is the greatest excess of the environment over the parcel at the sounding's own
// levels: an inversion top between two 10 mb steps of the ascent is not missed.
TEST(ParcelIndices, CapAtAnInversionTop)
{
    std::vector<UPA_level> lev = {L(1000, 100, 25, 22), L(960, M, 21.5f, 20), L(910, M, 18, 12),
                                  L(905, M, 24, 0),     L(890, M, 21, -2),    L(700, M, 8, -10),
                                  L(500, M, -12, -30),  L(300, M, -40, -55),  L(200, M, -55, -65)};
    UPA_calc_height(lev.data(), static_cast<int>(lev.size()));
    PARCEL_params pp;
    UPA_level blev = lev[0];
    ASSERT_EQ(parcel_calc(lev.data(), static_cast<int>(lev.size()), &blev, 100, 1000, 0, &pp), 1);
    ASSERT_GT(pp.plcl, 905.0f);
    double expected = 24.0 + 273.15 - temp_on_satad(pp.Satad, 905.0f);
    EXPECT_NEAR(pp.cap, expected, 0.05);
}

// A sounding cut off low gives missing for what needs the levels above its top, not values
// that look whole.
TEST(ParcelIndices, CutOffSoundingGivesMissingAboveItsTop)
{
    UPA_report r;
    ASSERT_TRUE(fixture_load(std::string(QAZ_TEST_DATA) + "/sounding_ref.txt", &r));
    r.numman = 5;   // up to 700 mb
    for (int m = 5; m < UPA_MAN_LEVELS; ++m) r.man[m] = {M, M, M, M, M, M};
    int kept = 0;
    for (int i = 0; i < r.numsig; ++i)
        if (r.sig[i].p >= 700) r.sig[kept++] = r.sig[i];
    r.numsig = kept;
    r.numwnd = 3;
    auto tv = profile_of(r);
    EXPECT_TRUE(THERM_incomplete(tv.get()));
    for (THERM_index i : {TI_cape, TI_el, TI_wmax, TI_mu_cape, TI_ml_cape, TI_precip_water, TI_total_totals})
        EXPECT_EQ(tv->index[i], M) << THERM_index_name(i);
    EXPECT_NE(tv->index[TI_lcl], M);
    auto whole = profile_of([] {
        UPA_report full;
        fixture_load(std::string(QAZ_TEST_DATA) + "/sounding_ref.txt", &full);
        return full;
    }());
    EXPECT_FALSE(THERM_incomplete(whole.get()));
}

}  // namespace
