#include <gtest/gtest.h>

#include <cmath>

#include "thm_tool.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kC = 273.15;

struct Case {
    double input;
    double expected;
    double tolerance;
};

// Independent reference: the standard empirical equivalent potential temperature (Magnus vapour
// pressure, fitted condensation temperature, moisture-dependent exponent).
double reference_thetae(double t, double td, double p)
{
    double e = 6.112 * std::exp(17.67 * (td - kC) / (td - kC + 243.5));
    double r = 622.0 * e / (p - e);
    double tl = 1.0 / (1.0 / (td - 56.0) + std::log(t / td) / 800.0) + 56.0;
    return t * std::pow(1000.0 / p, 0.2854 * (1.0 - 0.28e-3 * r)) *
           std::exp((3.376 / tl - 0.00254) * r * (1.0 + 0.81e-3 * r));
}

TEST(ThmMoisture, SaturationVapourPressureMatchesPublishedTable)
{
    const Case table[] = {
        {kC - 20.0, 1.2540, 0.01}, {kC + 0.0, 6.112, 0.01},  {kC + 10.0, 12.27, 0.02},
        {kC + 20.0, 23.37, 0.03},  {kC + 30.0, 42.43, 0.05}, {kC + 40.0, 73.75, 0.1},
    };
    for (const Case& c : table) EXPECT_NEAR(vapor_pr(c.input), c.expected, c.tolerance) << "T=" << c.input;
}

TEST(ThmMoisture, VapourPressureInverse)
{
    for (double t = 233.15; t <= 318.15; t += 5.0)
        EXPECT_NEAR(temp_vapor_pr(vapor_pr(static_cast<float>(t))), t, 0.15) << t;
}

TEST(ThmMoisture, MixingRatioAndSpecificHumidity)
{
    // Arguments of 100 or less are vapour pressures.
    EXPECT_NEAR(mix_ratio(5.0f, 1000.0f), 622.0 * 5.0 / 995.0, 1e-4);
    EXPECT_NEAR(spec_hum(5.0f, 1000.0f), 622.0 * 5.0 / 1000.0, 1e-4);
    // Saturation at 20 C, 1000 mb: about 14.9 g/kg.
    EXPECT_NEAR(mix_ratio(293.15f, 1000.0f), 14.88, 0.05);
    EXPECT_NEAR(spec_hum(293.15f, 1000.0f), 14.54, 0.05);
    for (float w : {0.5f, 4.0f, 12.0f, 20.0f})
        EXPECT_NEAR(mix_ratio(temp_on_mixrat(w, 850.0f), 850.0f), w, 0.02 * w) << w;
}

TEST(ThmMoisture, RelativeHumidityAndDewPoint)
{
    EXPECT_NEAR(rel_hum(20.0f, 10.0f), 50.0f, 1e-4);  // a pair of vapour pressures
    EXPECT_NEAR(rel_hum(293.15f, 293.15f), 100.0f, 1e-3);
    EXPECT_NEAR(rel_hum(303.15f, 293.15f), 100.0 * 23.37 / 42.43, 0.2);
    EXPECT_GT(rel_hum(290.0f, 295.0f), 100.0f);  // not capped
    EXPECT_EQ(dew_temp(300.0f, 1.0f), dew_temp(300.0f, 2.0f));
    EXPECT_NEAR(dew_temp(300.0f, 150.0f), 300.0f, 0.15);
    EXPECT_NEAR(dew_temp(303.15f, rel_hum(303.15f, 288.15f)), 288.15f, 0.15);
}

TEST(ThmAdiabats, DryAdiabatRoundTrip)
{
    EXPECT_NEAR(pot_temp(273.15f, 500.0f), 333.0, 0.05);  // 0 C at 500 mb
    EXPECT_NEAR(temp_on_dryad(300.0f, 500.0f), 246.05, 0.01);
    EXPECT_NEAR(temp_on_dryad(pot_temp(255.0f, 400.0f), 400.0f), 255.0f, 1e-3);
}

TEST(ThmAdiabats, VirtualTemperature)
{
    EXPECT_NEAR(virt_temp(300.0f, 10.0f, 1000.0f), 300.0 * 1.00609, 1e-3);
    EXPECT_NEAR(virt_temp(300.0f, 293.15f, 1000.0f), 302.72, 0.02);  // a dew point above 100 K
    EXPECT_NEAR(virt_pot_temp(300.0f, 0.0f, 500.0f), pot_temp(300.0f, 500.0f), 1e-3);
    EXPECT_NEAR(virt_pot_temp(300.0f, 10.0f, 500.0f), 300.0 * 1.00609 * std::pow(2.0, 0.286), 1e-2);
}

TEST(ThmAdiabats, SaturatedAdiabatInvertsItsLabel)
{
    for (float p : {1000.0f, 850.0f, 700.0f, 500.0f, 300.0f})
        for (float t : {250.0f, 270.0f, 290.0f, 300.0f}) {
            float label = thetae_on_satad(t, p);
            EXPECT_NEAR(temp_on_satad(label, p), t, 0.1) << t << " K at " << p;
        }
    // A label along a moist adiabat stays the same.
    float label = thetae_on_satad(293.15f, 1000.0f);
    float at500 = temp_on_satad(label, 500.0f);
    EXPECT_NEAR(thetae_on_satad(at500, 500.0f), label, 0.5);
    // The pseudo-adiabat from 20 C at 1000 mb integrated numerically reaches -8.4 C at 500 mb.
    EXPECT_NEAR(at500, kC - 8.45, 0.6);
    // An unattainable label walks up every round: the 12th estimate is returned.
    EXPECT_NEAR(temp_on_satad(1e6f, 2000.0f), 253.16 + 120.0 * (1.0 - std::pow(2.0, -12)), 1e-3);
    EXPECT_TRUE(std::isfinite(temp_on_satad(400.0f, 50.0f)));
}

TEST(ThmLifting, CondensationLevelOfTypicalParcels)
{
    EXPECT_NEAR(lcl_pres(300.0f, 290.0f, 1000.0f), 864.0f, 3.0f);
    // About 125 m per kelvin of dew-point depression near the ground.
    EXPECT_NEAR(lcl_pres(293.15f, 283.15f, 1000.0f), 860.0f, 5.0f);
    EXPECT_NEAR(lcl_pres(295.0f, 295.0f, 950.0f), 950.0f, 1.0f);
    float pl = lcl_pres(300.0f, 290.0f, 1000.0f);
    float tl = lcl_temp(300.0f, 1000.0f, pl);
    EXPECT_NEAR(tl, temp_on_mixrat(mix_ratio(290.0f, 1000.0f), pl), 0.2);
    EXPECT_NEAR(conv_temp(10.0f, 850.0f, 1000.0f),
                temp_on_dryad(pot_temp(temp_on_mixrat(10.0f, 850.0f), 850.0f), 1000.0f), 1e-4);
}

TEST(ThmLifting, EquivalentPotentialAndWetBulb)
{
    const double parcels[][3] = {{303.15, 293.15, 1000.0}, {293.15, 283.15, 1000.0}, {288.15, 285.15, 850.0}};
    for (const auto& p : parcels) {
        float te = eq_pot_temp(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
        EXPECT_NEAR(te, reference_thetae(p[0], p[1], p[2]), 1.5) << p[0] << " " << p[1];
    }
    EXPECT_NEAR(eq_pot_temp(290.0f, 0.0f, 850.0f), pot_temp(290.0f, 850.0f), 1e-3);
    // The wet bulb lies between dew point and temperature; saturated air is its own wet bulb.
    float tw = wet_bulb(303.15f, 293.15f, 1000.0f);
    EXPECT_GT(tw, 293.15f);
    EXPECT_LT(tw, 303.15f);
    EXPECT_NEAR(tw, 295.8f, 1.0f);
    EXPECT_NEAR(wet_bulb(290.0f, 290.0f, 1000.0f), 290.0f, 0.3f);
    EXPECT_NEAR(wet_bulb_pot_temp(290.0f, 290.0f, 1000.0f), 290.0f, 0.3f);
    EXPECT_GT(wet_bulb_pot_temp(280.0f, 275.0f, 700.0f), wet_bulb(280.0f, 275.0f, 700.0f));
}

TEST(ThmLifting, InterpolationInLogPressure)
{
    EXPECT_NEAR(interp_temp(260.0f, 250.0f, 500.0f, 300.0f, 500.0f), 260.0f, 1e-4);
    EXPECT_NEAR(interp_temp(260.0f, 250.0f, 500.0f, 300.0f, 300.0f), 250.0f, 1e-4);
    double mid = std::sqrt(500.0 * 300.0);  // halfway in ln p
    EXPECT_NEAR(interp_temp(260.0f, 250.0f, 500.0f, 300.0f, static_cast<float>(mid)), 255.0f, 1e-3);
}

TEST(ThmSurface, HeatIndex)
{
    // 90 F at 60 % is about 100 F (polynomial branch); 95 F at 60 % about 114 F.
    float t90 = static_cast<float>((90.0 - 32.0) * 5.0 / 9.0 + kC);
    EXPECT_NEAR(heat_index(t90, dew_temp(t90, 60.0f)), (100.0 - 32.0) * 5.0 / 9.0 + kC, 0.8);
    EXPECT_NEAR(heat_index(308.15f, dew_temp(308.15f, 60.0f)), (114.0 - 32.0) * 5.0 / 9.0 + kC, 1.2);
    // Mild air uses the simple estimate.
    float t60 = static_cast<float>((60.0 - 32.0) * 5.0 / 9.0 + kC);
    float td = dew_temp(t60, 50.0f);
    double rh = 100.0 * vapor_pr(td) / vapor_pr(t60);
    double simple = 1.2 * (60.0 - 68.0) + 60.8 + 0.0936 * rh;
    EXPECT_NEAR(heat_index(t60, td), (simple - 32.0) * 5.0 / 9.0 + kC, 0.01);
}

TEST(ThmSurface, WindChill)
{
    EXPECT_EQ(wind_chill_temp(263.15f, 40.0f), wind_chill_temp(263.15f, 26.0f));
    EXPECT_LT(wind_chill_temp(263.15f, 10.0f), 263.15f);
    // Newer formula: -10 C in 20 km/h feels like -17.9 C.
    EXPECT_NEAR(wind_chill_temp2(263.15f, 20.0f / 3.6f), kC - 17.87, 0.15);
    EXPECT_NEAR(wind_chill_temp2(253.15f, 40.0f / 3.6f), kC - 34.1, 0.2);
    // Heat loss: zero when calm or hot, capped wind above 26 m/s.
    EXPECT_NEAR(wind_chill(263.15f, 4.0f), (10.45 + 20.0 - 4.0) * 1.1627 * 43.0, 0.05);
    EXPECT_EQ(wind_chill(263.15f, 30.0f), wind_chill(263.15f, 26.0f));
}

TEST(ThmSurface, AltimeterAndPressureAltitude)
{
    EXPECT_NEAR(sfc_pr_alt(1013.25f, 0.0f), 1013.25f, 1e-3);
    EXPECT_NEAR(sfc_pr_alt(1013.25f, 1000.0f), 898.75f, 0.1);
    EXPECT_NEAR(sfc_pr_alt(1013.25f, 1609.0f), 834.3f, 0.1);
    const Case table[] = {{1013.25, 0.0, 0.5}, {850.0, 1457.0, 2.0}, {500.0, 5574.0, 3.0},
                          {250.0, 10363.0, 5.0}, {200.0, 11784.0, 5.0}, {100.0, 16180.0, 10.0}};
    for (const Case& c : table) EXPECT_NEAR(pres_alt(static_cast<float>(c.input)), c.expected, c.tolerance) << c.input;
}

TEST(ThmSurface, GreatCircleDistance)
{
    EXPECT_NEAR(calc_earth_dist(0.0f, 0.0f, 0.0f, 90.0f), 10008.0f, 1.0f);
    EXPECT_NEAR(calc_earth_dist(90.0f, 0.0f, -90.0f, 0.0f), 20016.0f, 1.0f);
    EXPECT_NEAR(calc_earth_dist(51.5f, 0.0f, 40.7f, -74.0f), 5570.0f, 15.0f);
    // Nearby stations keep their separation: 0.01 degree of latitude is 1.112 km.
    EXPECT_NEAR(calc_earth_dist(45.0f, -93.0f, 45.01f, -93.0f), 1.112f, 0.01f);
    // A point with itself is 0, never NaN from rounding past 1.
    const float points[][2] = {{0, 0}, {45.3f, -93.2f}, {12.34f, 56.78f}, {-33.9f, 151.2f}, {89.9f, 10.0f}, {37.7f, -122.4f}};
    for (const auto& p : points) EXPECT_NEAR(calc_earth_dist(p[0], p[1], p[0], p[1]), 0.0f, 0.01f) << p[0];
    for (float lat = -80.0f; lat <= 80.0f; lat += 7.3f)
        for (float lon = -170.0f; lon <= 170.0f; lon += 23.1f)
            ASSERT_FALSE(std::isnan(calc_earth_dist(lat, lon, lat, lon))) << lat << " " << lon;
}

TEST(ThmGuards, MissingAndZeroResults)
{
    // Missing or invalid inputs give -9999; the functions documented to return 0 (or their
    // argument) do so. Every case would otherwise divide by zero, take a bad logarithm or run on.
    const struct {
        const char* call;
        float actual, expected;
    } table[] = {
        {"vapor_pr(-1.0f)", vapor_pr(-1.0f), kMissing},
        {"vapor_pr(50.0f)", vapor_pr(50.0f), 0.0f},
        {"temp_vapor_pr(0.0f)", temp_vapor_pr(0.0f), 0.0f},
        {"temp_vapor_pr(-3.0f)", temp_vapor_pr(-3.0f), 0.0f},
        {"mix_ratio(kMissing, 1000.0f)", mix_ratio(kMissing, 1000.0f), kMissing},
        {"mix_ratio(290.0f, kMissing)", mix_ratio(290.0f, kMissing), kMissing},
        {"mix_ratio(0.0f, 1000.0f)", mix_ratio(0.0f, 1000.0f), 0.0f},
        {"mix_ratio(290.0f, 0.0f)", mix_ratio(290.0f, 0.0f), 0.0f},
        {"spec_hum(290.0f, -5.0f)", spec_hum(290.0f, -5.0f), 0.0f},
        {"mix_ratio(373.15f, 500.0f)", mix_ratio(373.15f, 500.0f), kMissing},
        {"mix_ratio(50.0f, 50.0f)", mix_ratio(50.0f, 50.0f), kMissing},
        {"temp_on_mixrat(0.0f, 850.0f)", temp_on_mixrat(0.0f, 850.0f), 0.0f},
        {"temp_on_mixrat(5.0f, 0.0f)", temp_on_mixrat(5.0f, 0.0f), 0.0f},
        {"rel_hum(0.0f, 290.0f)", rel_hum(0.0f, 290.0f), kMissing},
        {"rel_hum(290.0f, -1.0f)", rel_hum(290.0f, -1.0f), kMissing},
        {"rel_hum(50.0f, 300.0f)", rel_hum(50.0f, 300.0f), kMissing}, // zero saturation pressure
        {"dew_temp(300.0f, kMissing)", dew_temp(300.0f, kMissing), kMissing},
        {"dew_temp(0.0f, 50.0f)", dew_temp(0.0f, 50.0f), kMissing},
        {"pot_temp(300.0f, 0.0f)", pot_temp(300.0f, 0.0f), kMissing},
        {"pot_temp(0.0f, 500.0f)", pot_temp(0.0f, 500.0f), kMissing},
        {"temp_on_dryad(0.0f, 500.0f)", temp_on_dryad(0.0f, 500.0f), 0.0f},
        {"temp_on_dryad(300.0f, -1.0f)", temp_on_dryad(300.0f, -1.0f), 0.0f},
        {"virt_temp(300.0f, 0.0f, 1000.0f)", virt_temp(300.0f, 0.0f, 1000.0f), 300.0f},
        {"virt_temp(0.0f, 10.0f, 1000.0f)", virt_temp(0.0f, 10.0f, 1000.0f), kMissing},
        {"virt_temp(300.0f, -1.0f, 1000.0f)", virt_temp(300.0f, -1.0f, 1000.0f), kMissing},
        {"virt_temp(300.0f, 10.0f, -1.0f)", virt_temp(300.0f, 10.0f, -1.0f), kMissing},
        {"virt_temp(380.0f, 373.0f, 500.0f)", virt_temp(380.0f, 373.0f, 500.0f), kMissing}, // no finite mixing ratio
        {"virt_pot_temp(300.0f, 10.0f, 0.0f)", virt_pot_temp(300.0f, 10.0f, 0.0f), kMissing},
        {"temp_on_satad(330.0f, 2500.0f)", temp_on_satad(330.0f, 2500.0f), kMissing},
        {"temp_on_satad(0.0f, 500.0f)", temp_on_satad(0.0f, 500.0f), kMissing},
        {"temp_on_satad(330.0f, 0.0f)", temp_on_satad(330.0f, 0.0f), kMissing},
        {"thetae_on_satad(0.0f, 500.0f)", thetae_on_satad(0.0f, 500.0f), 0.0f},
        {"thetae_on_satad(290.0f, 0.0f)", thetae_on_satad(290.0f, 0.0f), 0.0f},
        {"thetae_on_satad(373.15f, 500.0f)", thetae_on_satad(373.15f, 500.0f), kMissing},
        {"lcl_pres(100.0f, 90.0f, 1000.0f)", lcl_pres(100.0f, 90.0f, 1000.0f), kMissing},
        {"lcl_pres(300.0f, 290.0f, 0.0f)", lcl_pres(300.0f, 290.0f, 0.0f), kMissing},
        {"lcl_pres(300.0f, 290.0f, 1200.0f)", lcl_pres(300.0f, 290.0f, 1200.0f), kMissing},
        {"lcl_pres(300.0f, 290.0f, 10.0f)", lcl_pres(300.0f, 290.0f, 10.0f), kMissing}, // e(290 K) is 19 mb
        {"lcl_pres(385.0f, 380.0f, 1000.0f)", lcl_pres(385.0f, 380.0f, 1000.0f), kMissing},
        {"eq_pot_temp(0.0f, 280.0f, 850.0f)", eq_pot_temp(0.0f, 280.0f, 850.0f), kMissing},
        {"eq_pot_temp(290.0f, 280.0f, 0.0f)", eq_pot_temp(290.0f, 280.0f, 0.0f), kMissing},
        {"wet_bulb(290.0f, 0.0f, 1000.0f)", wet_bulb(290.0f, 0.0f, 1000.0f), 0.0f},
        {"wet_bulb(290.0f, -2.0f, 1000.0f)", wet_bulb(290.0f, -2.0f, 1000.0f), kMissing},
        {"interp_temp(kMissing, 250.0f, 500.0f, 300.0f, 400.0f)", interp_temp(kMissing, 250.0f, 500.0f, 300.0f, 400.0f), 250.0f},
        {"interp_temp(260.0f, kMissing, 500.0f, 300.0f, 400.0f)", interp_temp(260.0f, kMissing, 500.0f, 300.0f, 400.0f), 260.0f},
        {"interp_temp(kMissing, kMissing, 500.0f, 300.0f, 400.0f)", interp_temp(kMissing, kMissing, 500.0f, 300.0f, 400.0f), kMissing},
        {"interp_temp(260.0f, 250.0f, 0.0f, 300.0f, 400.0f)", interp_temp(260.0f, 250.0f, 0.0f, 300.0f, 400.0f), kMissing},
        {"interp_temp(260.0f, 250.0f, 500.0f, 500.0f, 400.0f)", interp_temp(260.0f, 250.0f, 500.0f, 500.0f, 400.0f), kMissing},
        {"interp_temp(260.0f, 250.0f, 500.0f, 300.0f, 0.0f)", interp_temp(260.0f, 250.0f, 500.0f, 300.0f, 0.0f), kMissing},
        {"heat_index(303.15f, 313.15f)", heat_index(303.15f, 313.15f), kMissing},
        {"heat_index(-1.0f, 280.0f)", heat_index(-1.0f, 280.0f), kMissing},
        {"heat_index(50.0f, 40.0f)", heat_index(50.0f, 40.0f), kMissing},
        {"wind_chill_temp(263.15f, 1.5f)", wind_chill_temp(263.15f, 1.5f), 263.15f},
        {"wind_chill_temp(310.0f, 10.0f)", wind_chill_temp(310.0f, 10.0f), 310.0f},
        {"wind_chill_temp(-1.0f, 10.0f)", wind_chill_temp(-1.0f, 10.0f), kMissing},
        {"wind_chill_temp2(300.0f, 0.0f)", wind_chill_temp2(300.0f, 0.0f), 300.0f}, // never warmer than the air
        {"wind_chill_temp2(263.0f, -1.0f)", wind_chill_temp2(263.0f, -1.0f), kMissing},
        {"wind_chill(263.15f, 1.0f)", wind_chill(263.15f, 1.0f), 0.0f},
        {"wind_chill(310.0f, 5.0f)", wind_chill(310.0f, 5.0f), 0.0f},
        {"wind_chill(-5.0f, 5.0f)", wind_chill(-5.0f, 5.0f), kMissing},
        {"sfc_pr_alt(0.0f, 100.0f)", sfc_pr_alt(0.0f, 100.0f), kMissing},
        {"sfc_pr_alt(1013.0f, kMissing)", sfc_pr_alt(1013.0f, kMissing), kMissing},
        {"sfc_pr_alt(1013.0f, 50000.0f)", sfc_pr_alt(1013.0f, 50000.0f), kMissing},
        {"pres_alt(0.0f)", pres_alt(0.0f), kMissing},
        {"pres_alt(-10.0f)", pres_alt(-10.0f), kMissing},
        {"calc_earth_dist(kMissing, 10.0f, 45.0f, 10.0f)", calc_earth_dist(kMissing, 10.0f, 45.0f, 10.0f), kMissing},
        {"calc_earth_dist(45.0f, 10.0f, 45.0f, kMissing)", calc_earth_dist(45.0f, 10.0f, 45.0f, kMissing), kMissing},
        {"calc_earth_dist(95.0f, 10.0f, 45.0f, 10.0f)", calc_earth_dist(95.0f, 10.0f, 45.0f, 10.0f), kMissing},
        {"calc_earth_dist(45.0f, NaN, 45.0f, 10.0f)", calc_earth_dist(45.0f, std::nanf(""), 45.0f, 10.0f), kMissing},
    };
    for (const auto& row : table) EXPECT_EQ(row.actual, row.expected) << row.call;
}

}  // namespace
