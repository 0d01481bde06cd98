// Finite-difference calculus on analytic fields whose answers are known, on latitude/longitude,
// polar stereographic and Lambert grids, with the edge, missing-point and pole rules.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <string>
#include <vector>

#include "grid_helpers.hpp"
#include "vecttool.hpp"

namespace {

using Op = int (*)(const GRD_report*, const GRD_report*, GRD_report*);

// Largest |out - expected| over present interior points (a border of `margin` left out).
template <class F>
double worst_error(TestGrid& out, int margin, F expected, int* present = nullptr)
{
    double worst = 0;
    int count = 0;
    for (int j = margin; j < out.ny() - margin; ++j)
        for (int i = margin; i < out.nx() - margin; ++i) {
            const float v = out.at(i, j);
            if (v == kMiss) continue;
            ++count;
            worst = std::max(worst, std::fabs(v - expected(i, j)));
        }
    if (present) *present = count;
    return worst;
}

TEST(GrdCalcLatLon, LinearFieldsGiveTheirSlopeEverywhereIncludingEdges)
{
    const Domain d = latlon_domain(20.0f, -100.0f, 21, 17, 2.0f, 2.5f);
    TestGrid zx(d), zy(d), ox, oy;
    fill(zx, [](double, double lon, float, float) { return static_cast<float>(3.0 * lon); });
    fill(zy, [](double lat, double, float, float) { return static_cast<float>(-2.0 * lat); });
    ASSERT_EQ(GRD_dx(&zx.g, &ox.g), 0);
    ASSERT_EQ(GRD_dy(&zy.g, &oy.g), 0);
    for (int j = 0; j < d.ny; ++j) {
        float lat = 0, lon = 0;
        point_lat_lon(d, 0, j, &lat, &lon);
        const double slope_x = 3.0 / (std::cos(lat * kRad) * 1.11195);
        for (int i = 0; i < d.nx; ++i) {
            EXPECT_NEAR(ox.at(i, j), slope_x, 2e-3 * slope_x) << i << "," << j;
            EXPECT_NEAR(oy.at(i, j), -2.0 / 1.11195, 2e-3) << i << "," << j;
        }
    }
}

TEST(GrdCalcLatLon, MissingCentreGivesMissingThereAndOneSidedAround)
{
    const Domain d = latlon_domain(0.0f, 0.0f, 5, 5, 1.0f, 1.0f);
    TestGrid z(d), ox, oy;
    fill(z, [](double lat, double lon, float, float) { return static_cast<float>(lon + 2.0 * lat); });
    z.at(2, 2) = kMiss;
    z.at(0, 0) = kMiss;
    ASSERT_EQ(GRD_dx(&z.g, &ox.g), 0);
    ASSERT_EQ(GRD_dy(&z.g, &oy.g), 0);
    EXPECT_EQ(ox.at(2, 2), kMiss);
    EXPECT_EQ(oy.at(2, 2), kMiss);
    EXPECT_EQ(ox.at(0, 0), kMiss);
    // Neighbours of the hole use the present side only, which for a linear field is exact.
    struct P {
        int i, j;
    };
    for (P p : {P{1, 2}, P{3, 2}, P{2, 1}, P{2, 3}, P{1, 0}, P{0, 1}}) {
        float lat = 0, lon = 0;
        point_lat_lon(d, p.i, p.j, &lat, &lon);
        EXPECT_NEAR(ox.at(p.i, p.j), 1.0 / (std::cos(lat * kRad) * 1.11195), 1e-3) << p.i << "," << p.j;
        EXPECT_NEAR(oy.at(p.i, p.j), 2.0 / 1.11195, 1e-3) << p.i << "," << p.j;
    }
    // A point with both neighbours missing along x has derivative 0.
    TestGrid z2(latlon_domain(0.0f, 0.0f, 3, 1, 1.0f, 1.0f)), o2;
    z2.at(0, 0) = kMiss;
    z2.at(1, 0) = 5.0f;
    z2.at(2, 0) = kMiss;
    ASSERT_EQ(GRD_dx(&z2.g, &o2.g), 0);
    EXPECT_EQ(o2.at(1, 0), 0.0f);
}

TEST(GrdCalcLatLon, PoleRowIsMissingInEveryXDerivative)
{
    // Rows from 90N down to 30N.
    const Domain d = latlon_domain(60.0f, 0.0f, 36, 13, 10.0f, 5.0f);
    TestGrid u(d), v(d), z(d);
    fill(u, [](double lat, double, float, float) { return static_cast<float>(std::cos(lat * kRad)); });
    fill(v, [](double, double lon, float, float) { return static_cast<float>(lon / 100.0); });
    fill(z, [](double lat, double lon, float, float) { return static_cast<float>(lat + lon); });
    TestGrid dx, rv, cv, ad, dy;
    ASSERT_EQ(GRD_dx(&z.g, &dx.g), 0);
    ASSERT_EQ(GRD_vorticity(&u.g, &v.g, &rv.g), 0);
    ASSERT_EQ(GRD_converge(&u.g, &v.g, nullptr, &cv.g), 0);
    ASSERT_EQ(GRD_advection(&u.g, &v.g, &z.g, &ad.g), 0);
    ASSERT_EQ(GRD_dy(&z.g, &dy.g), 0);
    for (int i = 0; i < d.nx; ++i) {
        EXPECT_EQ(dx.at(i, 0), kMiss);
        EXPECT_EQ(rv.at(i, 0), kMiss);
        EXPECT_EQ(cv.at(i, 0), kMiss);
        EXPECT_EQ(ad.at(i, 0), kMiss);
        EXPECT_NE(dy.at(i, 0), kMiss);   // the y derivative is defined there
        EXPECT_NE(rv.at(i, 1), kMiss);
    }
}

// Solid-body rotation about the earth's axis: eastward wind W cos(lat), vorticity
// 2 W sin(lat) / a and no divergence.
TEST(GrdCalcLatLon, SolidBodyRotationHasVorticityTwoOmegaSinLat)
{
    const Domain d = latlon_domain(0.0f, 0.0f, 73, 61, 2.5f, 2.5f);   // 75S..75N
    TestGrid u(d), v(d), rv, dv;
    const double w = 10.0;
    fill(u, [&](double lat, double, float, float) { return static_cast<float>(w * std::cos(lat * kRad)); });
    fill(v, [](double, double, float, float) { return 0.0f; });
    ASSERT_EQ(GRD_vorticity(&u.g, &v.g, &rv.g), 0);
    ASSERT_EQ(GRD_converge(&u.g, &v.g, nullptr, &dv.g), 0);
    const double err = worst_error(rv, 1, [&](int, int j) {
        return 2.0 * w * std::sin(grd_lat(d, j)) / kEarth;
    });
    EXPECT_LT(err, 1e-3 * 2.0 * w / kEarth);
    EXPECT_LT(worst_error(dv, 0, [](int, int) { return 0.0; }), 1e-6);
}

TEST(GrdCalcLatLon, QuadraticLaplacianAndUniformAdvection)
{
    const Domain d = latlon_domain(10.0f, -90.0f, 31, 25, 1.0f, 1.0f);
    TestGrid z(d), lap, u(d), v(d), lin(d), adv;
    // z = phi^2 (radians): Laplacian (2 - 2 phi tan phi) / a^2, exact for second differences.
    fill(z, [](double lat, double, float, float) { return static_cast<float>(std::pow(lat * kRad, 2) * 1e4); });
    ASSERT_EQ(GRD_laplacian(&z.g, &lap.g), 0);
    const double lap_err = worst_error(lap, 1, [&](int, int j) {
        const double phi = grd_lat(d, j);
        return 1e4 * (2.0 - 2.0 * phi * std::tan(phi)) / (kEarth * kEarth);
    });
    EXPECT_LT(lap_err, 2e-3 * 2e4 / (kEarth * kEarth));
    // A uniform wind carrying a field linear in latitude: -(v dz/dy).
    fill(u, [](double, double, float, float) { return 7.0f; });
    fill(v, [](double, double, float, float) { return -4.0f; });
    fill(lin, [](double lat, double, float, float) { return static_cast<float>(5.0 * lat); });
    ASSERT_EQ(GRD_advection(&u.g, &v.g, &lin.g, &adv.g), 0);
    EXPECT_LT(worst_error(adv, 0, [](int, int) { return 4.0 * 5.0 / 1.11195; }), 1e-3);
}

TEST(GrdCalcLatLon, DeformationSignsAndCoriolisTerms)
{
    const Domain d = latlon_domain(0.0f, 0.0f, 11, 11, 1.0f, 1.0f);
    TestGrid zero(d), ramp(d), out1, out2, calm_u(d), calm_v(d), av;
    fill(zero, [](double, double, float, float) { return 0.0f; });
    fill(ramp, [](double, double lon, float, float) { return static_cast<float>(lon); });
    // v growing eastward: shearing deformation dv/dx + du/dy is positive.
    ASSERT_EQ(GRD_deformation2(&zero.g, &ramp.g, &out2.g), 0);
    EXPECT_NEAR(out2.at(5, 5), 1.0 / 1.11195, 1e-3);
    // u growing eastward: stretching deformation du/dx - dv/dy is positive.
    ASSERT_EQ(GRD_deformation1(&ramp.g, &zero.g, &out1.g), 0);
    EXPECT_NEAR(out1.at(5, 5), 1.0 / 1.11195, 1e-3);

    // Absolute vorticity of calm air at 30N is f = 7.292 (10^-5 / s).
    const Domain d30 = latlon_domain(30.0f, 0.0f, 5, 5, 1.0f, 1.0f);
    TestGrid cu(d30), cv(d30), out;
    fill(cu, [](double, double, float, float) { return 0.0f; });
    fill(cv, [](double, double, float, float) { return 0.0f; });
    GRD_report* grids[GRD_MATH_OPERANDS] = {&out.g, &cu.g, &cv.g};
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    ASSERT_EQ(GRD_math("avort", grids, values), 1);
    EXPECT_NEAR(out.at(2, 2), 7.292, 1e-3);

    // Heights rising northward: westward geostrophic wind in the northern hemisphere.
    TestGrid hgt(d30), ug;
    fill(hgt, [](double lat, double, float, float) { return static_cast<float>(5500.0 + 10.0 * lat); });
    GRD_report* g2[GRD_MATH_OPERANDS] = {&ug.g, &hgt.g};
    ASSERT_EQ(GRD_math("ugeos", g2, values), 1);
    EXPECT_LT(ug.at(2, 2), 0.0f);
    EXPECT_NEAR(ug.at(2, 2), -9.8 * (10.0 / 1.11195) / 7.292, 0.05);
}

TEST(GrdCalcLatLon, EquatorGivesNoGeostrophicWind)
{
    const Domain d = latlon_domain(0.0f, 0.0f, 5, 5, 1.0f, 1.0f);
    TestGrid hgt(d), ug;
    fill(hgt, [](double lat, double, float, float) { return static_cast<float>(10.0 * lat); });
    GRD_report* g[GRD_MATH_OPERANDS] = {&ug.g, &hgt.g};
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    ASSERT_EQ(GRD_math("ugeos", g, values), 1);
    EXPECT_EQ(ug.at(2, 2), kMiss);
    EXPECT_NE(ug.at(2, 0), kMiss);
    TestGrid one(d);
    fill(one, [](double, double, float, float) { return 1.0f; });
    ASSERT_EQ(GRD_coriolis(&one.g, "div"), 0);
    EXPECT_EQ(one.at(2, 2), kMiss);
    EXPECT_TRUE(std::isfinite(one.at(2, 0)));
}

// Distance from the north pole (100 km) has a gradient of length 1 and the Laplacian
// cot(colatitude) / a on the sphere; solid-body rotation has vorticity 2 W sin(lat) / a. On a
// projection this holds only with the map factor and its gradient.
struct ProjCase {
    const char* name;
    Domain domain;
    double grad_tol, lap_tol, vort_tol;
};

class GrdCalcProjected : public ::testing::TestWithParam<ProjCase> {};

TEST_P(GrdCalcProjected, AnalyticFieldsOnTheSphere)
{
    const ProjCase& pc = GetParam();
    const Domain& d = pc.domain;
    TestGrid rho(d), gx, gy, lap, u(d), v(d), vort, div;
    fill(rho, [](double lat, double, float, float) { return static_cast<float>(kEarth * (90.0 - lat) * kRad); });
    ASSERT_EQ(GRD_dx(&rho.g, &gx.g), 0);
    ASSERT_EQ(GRD_dy(&rho.g, &gy.g), 0);
    ASSERT_EQ(GRD_laplacian(&rho.g, &lap.g), 0);
    const double w = 20.0;
    fill(u, [&](double lat, double, float x, float y) {
        const double east = MAP_dir_adj(90.0f, x, y) * kRad;
        return static_cast<float>(w * std::cos(lat * kRad) * std::sin(east));
    });
    fill(v, [&](double lat, double, float x, float y) {
        const double east = MAP_dir_adj(90.0f, x, y) * kRad;
        return static_cast<float>(w * std::cos(lat * kRad) * std::cos(east));
    });
    ASSERT_EQ(GRD_vorticity(&u.g, &v.g, &vort.g), 0);
    ASSERT_EQ(GRD_converge(&u.g, &v.g, nullptr, &div.g), 0);
    double worst_grad = 0, worst_lap = 0, worst_vort = 0, worst_div = 0;
    int checked = 0;
    for (int j = 1; j < d.ny - 1; ++j)
        for (int i = 1; i < d.nx - 1; ++i) {
            float lat = 0, lon = 0;
            point_lat_lon(d, i, j, &lat, &lon);
            if (std::fabs(lat) > 84.0f) continue;   // the distance field has a cone at each pole
            ++checked;
            const double colat = (90.0 - lat) * kRad;
            worst_grad = std::max(worst_grad, std::fabs(std::hypot(gx.at(i, j), gy.at(i, j)) - 1.0));
            worst_lap = std::max(worst_lap, std::fabs(lap.at(i, j) - 1.0 / (std::tan(colat) * kEarth)) * kEarth);
            const double expected = 2.0 * w * std::sin(lat * kRad) / kEarth;
            worst_vort = std::max(worst_vort, std::fabs(vort.at(i, j) - expected) / std::fabs(expected));
            worst_div = std::max(worst_div, std::fabs(div.at(i, j)) / std::fabs(expected));
        }
    EXPECT_GT(checked, 100);
    EXPECT_LT(worst_grad, pc.grad_tol) << pc.name;
    EXPECT_LT(worst_lap, pc.lap_tol) << pc.name;
    EXPECT_LT(worst_vort, pc.vort_tol) << pc.name;
    EXPECT_LT(worst_div, pc.vort_tol) << pc.name;
}

// True latitudes as given (-9999 each: the projection's defaults).
Domain true_lats(Domain d, float first, float second)
{
    d.param[0] = first;
    d.param[1] = second;
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Projections, GrdCalcProjected,
    ::testing::Values(ProjCase{"polar stereographic", projected_domain(1, 90.0f, -105.0f, 60.0f, -105.0f, 41, 41, 1.0f), 2e-3, 0.02, 5e-3},
                      ProjCase{"Lambert", projected_domain(4, 25.0f, -95.0f, 40.0f, -95.0f, 51, 41, 0.8f), 2e-3, 0.02, 5e-3},
                      ProjCase{"Mercator20", projected_domain(3, 0.0f, -60.0f, 20.0f, -60.0f, 41, 41, 0.5f), 2e-3, 0.02, 5e-3},
                      ProjCase{"Mercator55", projected_domain(3, 0.0f, 10.0f, 55.0f, 10.0f, 41, 41, 0.5f), 2e-3, 0.02, 5e-3},
                      // Southern maps, secant cones and default true latitudes read their
                      // parameters differently; each must give the factor of its own transform.
                      ProjCase{"PolarSouth", projected_domain(1, -90.0f, 30.0f, -60.0f, 30.0f, 41, 41, 1.0f), 2e-3, 0.02, 5e-3},
                      ProjCase{"PolarSouthTrue70", true_lats(projected_domain(1, -90.0f, 30.0f, -60.0f, 30.0f, 41, 41, 1.0f), 70.0f, -9999.0f), 2e-3, 0.02, 5e-3},
                      ProjCase{"LambertSecant", true_lats(projected_domain(4, 40.0f, 10.0f, 45.0f, 10.0f, 51, 41, 0.8f), 30.0f, 60.0f), 2e-3, 0.02, 5e-3},
                      ProjCase{"LambertDefault", true_lats(projected_domain(4, 40.0f, 10.0f, 45.0f, 10.0f, 51, 41, 0.8f), -9999.0f, -9999.0f), 2e-3, 0.02, 5e-3},
                      ProjCase{"LambertSouth", true_lats(projected_domain(4, -35.0f, 140.0f, -35.0f, 140.0f, 51, 41, 0.8f), -25.0f, -45.0f), 2e-3, 0.02, 5e-3}),
    [](const ::testing::TestParamInfo<ProjCase>& info) {
        const std::string name = info.param.name;
        return name.find(' ') != std::string::npos ? name.substr(0, 5) : name;
    });

// Grids whose axes are oblique on the earth have no map factor that makes derivatives right:
// every derivative is refused rather than computed with a factor of 1.
TEST(GrdCalcProjected, ObliqueProjectionsRefuseDerivatives)
{
    const struct {
        const char* name;
        int proj;
    } cases[] = {{"orthographic", 5}, {"gnomonic", 6}, {"Mollweide", 7}, {"azimuthal equal-area", 8}, {"satellite", 9}};
    for (const auto& c : cases) {
        const Domain d = projected_domain(c.proj, 45.0f, 10.0f, 45.0f, 10.0f, 9, 9, 0.5f);
        TestGrid u(d), v(d), out, out2;
        fill(u, [](double lat, double, float, float) { return static_cast<float>(lat); });
        fill(v, [](double, double lon, float, float) { return static_cast<float>(lon); });
        EXPECT_EQ(GRD_dx(&u.g, &out.g), -1) << c.name;
        EXPECT_EQ(GRD_vorticity(&u.g, &v.g, &out2.g), -1) << c.name;
    }
}

TEST(GrdCalcProjected, GridRelativeWindsBecomeEarthRelative)
{
    const Domain d = projected_domain(1, 90.0f, -105.0f, 60.0f, -105.0f, 9, 9, 5.0f);
    TestGrid u(d), v(d);
    fill(u, [](double, double, float x, float y) {
        float uu = 0, vv = 0;
        wind2vect(&uu, &vv, MAP_dir_adj(200.0f, x, y), 10.0f);
        return uu;
    });
    fill(v, [](double, double, float x, float y) {
        float uu = 0, vv = 0;
        wind2vect(&uu, &vv, MAP_dir_adj(200.0f, x, y), 10.0f);
        return vv;
    });
    ASSERT_EQ(GRD_correct_UV(&u.g, &v.g), 0);
    float ue = 0, ve = 0;
    wind2vect(&ue, &ve, 200.0f, 10.0f);
    for (int j = 0; j < d.ny; ++j)
        for (int i = 0; i < d.nx; ++i) {
            EXPECT_NEAR(u.at(i, j), ue, 1e-3) << i << "," << j;
            EXPECT_NEAR(v.at(i, j), ve, 1e-3) << i << "," << j;
        }
}

}  // namespace
