// Active domain, limits, grid and domain transforms, directions, scale factors, diagrams and
// the plot occupancy grid.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "maptran.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kR = 63.7122;

Domain make_domain(int proj, float plat, float plon, float clat, float clon, float dx = 1.0f, float dy = 1.0f,
                   int nx = 21, int ny = 21)
{
    Domain d{proj, plat, plon, {kMissing, kMissing, kMissing, kMissing, kMissing}, clat, clon, dx, dy, nx, ny, 0};
    return d;
}

Point fwd(float lat, float lon)
{
    Point p{kMissing, kMissing};
    EXPECT_EQ(MAP_tran(lat, lon, &p.x, &p.y), 1) << lat << "," << lon;
    return p;
}

double angle_difference(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

TEST(MapDomain, ActivationDefaultsAndCacheReset)
{
    EXPECT_EQ(MAP_domain(nullptr), -1);
    EXPECT_EQ(MAP_get_proj(), -9999);
    Point p = fwd(12.5f, -40.0f);  // no projection: the output is the input
    EXPECT_EQ(p.x, 12.5f);
    EXPECT_EQ(p.y, -40.0f);

    Domain dom = make_domain(5, kMissing, kMissing, 40.0f, -100.0f);
    EXPECT_EQ(MAP_domain(&dom), 0);
    Domain copy{};
    EXPECT_EQ(MAP_get_domain(&copy), &copy);
    EXPECT_EQ(copy.plat, 40.0f);  // an unset projection point takes the centre
    EXPECT_EQ(copy.plon, -100.0f);
    EXPECT_EQ(MAP_get_domain(nullptr)->proj, 5);
    EXPECT_EQ(MAP_proj_str("lc"), 4);
    // Changing the projection point must not reuse the previous one's constants.
    MAP_coord(0.0f, 0.0f);
    p = fwd(0.0f, 0.0f);
    EXPECT_NEAR(std::hypot(p.x, p.y), 0.0, 1e-5);
    const float tlats[2] = {40.0f, 40.0f};
    EXPECT_EQ(MAP_proj_coord(tlats), -1);  // only Lambert domains have true latitudes
    Domain lambert = make_domain(4, 40, -100, 40, -100);
    MAP_domain(&lambert);
    EXPECT_EQ(MAP_proj_coord(tlats), 0);
    EXPECT_NEAR(MAP_factor(40.0f, -100.0f), 1.0f, 1e-5);
    MAP_proj(3);
    EXPECT_NEAR(fwd(0.0f, -100.0f).y, 0.0f, 1e-5);
}

TEST(MapForward, DescribedEdgeCases)
{
    Domain polar = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&polar);
    Point p = fwd(60.0f, -105.0f);
    EXPECT_NEAR(p.x, 0.0f, 1e-5);
    EXPECT_NEAR(p.y, -1.866025 * kR * std::tan(15.0 * M_PI / 180.0), 1e-4);
    EXPECT_EQ(fwd(-80.0f, 20.0f).y, fwd(-75.0f, 20.0f).y);  // nothing south of 75S

    Domain latlon = make_domain(2, 0, 170, 0, 170);
    MAP_domain(&latlon);
    EXPECT_NEAR(fwd(10.0f, -170.0f).x, 20.0f, 1e-4);

    Domain merc = make_domain(3, 0, 0, 0, 0);
    MAP_domain(&merc);
    EXPECT_NEAR(fwd(0.0f, 30.0f).y, 0.0f, 1e-5);
    EXPECT_NEAR(fwd(89.95f, 0.0f).y, fwd(89.9f, 0.0f).y, 1e-4);
    EXPECT_NEAR(fwd(90.0f, 0.0f).y, fwd(89.9f, 0.0f).y, 1e-4);

    Domain scan = make_domain(9, 0, -75, 0, -75);
    scan.param[1] = 1;  // scan angles: the limb seen from 42161 km is 8.7 degrees off nadir
    MAP_domain(&scan);
    EXPECT_LT(fwd(0.0f, -5.0f).x / 421.61f, std::asin(kR / 421.61));
    EXPECT_NEAR(fwd(0.0f, -75.0f).x, 0.0f, 1e-5);
}

TEST(MapForward, BadInputIsRejectedNotTransformed)
{
    Domain polar = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&polar);
    float x = 0, y = 0, lat, lon;
    const float bad[][2] = {{kMissing, 10}, {95, 10}, {std::numeric_limits<float>::quiet_NaN(), 10},
                            {10, std::numeric_limits<float>::infinity()}};
    for (const auto& b : bad) {
        EXPECT_EQ(MAP_tran(b[0], b[1], &x, &y), 0) << b[0] << "," << b[1];
        EXPECT_EQ(x, kMissing);
    }
    EXPECT_EQ(MAP_tran(10.0f, 10.0f, nullptr, &y), 0);
    EXPECT_EQ(MAP_untran(kMissing, 0.0f, &lat, &lon), 0);
    EXPECT_EQ(lat, kMissing);
    EXPECT_TRUE(std::isfinite(fwd(10.0f, 1e30f).x));  // folded, not looped over
    EXPECT_NEAR(fwd(40.0f, 700.0f).x, fwd(40.0f, -20.0f).x, 1e-4);
    MAP_proj(77);  // a code without a transform does not pass points through
    EXPECT_EQ(MAP_tran(10.0f, 10.0f, &x, &y), 0);
    EXPECT_EQ(x, kMissing);
}

TEST(MapForward, LambertConeEdgeCases)
{
    float x = 0, y = 0, lat, lon;
    for (float tlat : {0.0f, 90.0f}) {  // a flat cone, a degenerate true latitude
        Domain bad = make_domain(4, 10, 0, 10, 0);
        bad.param[0] = bad.param[1] = tlat;
        MAP_domain(&bad);
        EXPECT_EQ(MAP_tran(10.0f, 5.0f, &x, &y), 0) << tlat;
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(MAP_untran(1.0f, 1.0f, &lat, &lon), 0);
    }
    // One true latitude makes a tangent cone, the same as giving it twice.
    Domain one = make_domain(4, 40, -100, 40, -100);
    one.param[0] = 35.0f;
    Domain twice = one;
    twice.param[1] = 35.0f;
    MAP_domain(&one);
    Point p1 = fwd(50.0f, -80.0f);
    MAP_domain(&twice);
    EXPECT_EQ(fwd(50.0f, -80.0f).x, p1.x);
    // A southern tangent cone given as a positive latitude mirrors the northern one.
    Domain south = make_domain(4, -40, -100, -40, -100);
    south.param[0] = 35.0f;
    MAP_domain(&south);
    Point p2 = fwd(-50.0f, -80.0f);
    EXPECT_NEAR(p2.x, p1.x, 1e-4);
    EXPECT_NEAR(p2.y, -p1.y, 1e-4);
}

TEST(MapGrid, LimitsGridTransformsAndDomainTests)
{
    Domain dom = make_domain(1, 60, -105, 40, -100, 1.2f, 1.2f, 25, 17);
    MAP_domain(&dom);
    Point c = fwd(40.0f, -100.0f);
    MAP_limits lim{};
    EXPECT_EQ(MAP_get_limits(&lim), 0);
    EXPECT_NEAR(lim.x_min, c.x - 1.2 * 12, 1e-4);
    EXPECT_NEAR(lim.y_max, c.y + 1.2 * 8, 1e-4);
    float x, y, gx, gy;
    MAP_get_up_left(&x, &y);
    EXPECT_EQ(x, lim.x_min);
    EXPECT_EQ(y, lim.y_max);
    EXPECT_EQ(MAP_grid_tran(0.0f, 0.0f, &x, &y), 0);
    EXPECT_EQ(x, lim.x_min);
    EXPECT_EQ(y, lim.y_max);
    EXPECT_EQ(MAP_grid_untran(lim.x_max, lim.y_min, &gx, &gy), 0);
    EXPECT_NEAR(gx, 24.0f, 1e-4);
    EXPECT_NEAR(gy, 16.0f, 1e-4);
    EXPECT_EQ(MAP_grid_tran(kMissing, 1.0f, &x, &y), -1);
    EXPECT_EQ(y, kMissing);
    EXPECT_EQ(MAP_grid_untran(1.0f, kMissing, &gx, &gy), -1);
    EXPECT_EQ(gx, kMissing);
    EXPECT_EQ(MAP_in_domain(c.x, c.y), 1);
    EXPECT_EQ(MAP_in_domain(lim.x_max + 0.1f, c.y), 0);
    EXPECT_EQ(MAP_in_grid_domain(lim.x_max + 3.5f, c.y), 1);  // widened by three spacings
    EXPECT_EQ(MAP_in_grid_domain(c.x, lim.y_min - 3.7f), 0);
    // No limits without a grid or with the centre hidden.
    Domain no_grid = make_domain(1, 60, -105, 40, -100, kMissing, kMissing, -9999, -9999);
    MAP_domain(&no_grid);
    EXPECT_EQ(MAP_set_limits(), -1);
    EXPECT_EQ(MAP_grid_tran(1.0f, 1.0f, &x, &y), -1);
    Domain hidden_centre = make_domain(5, 40, -100, -40, 80);
    MAP_domain(&hidden_centre);
    EXPECT_EQ(MAP_set_limits(), -1);
}

TEST(MapGrid, DomainToDomainTransformRestoresActiveDomain)
{
    Domain target = make_domain(4, 25, -95, 38, -98, 0.4f, 0.4f, 61, 41);
    Domain source = make_domain(1, 60, -105, 40, -100, 1.2f, 1.2f, 25, 17);
    MAP_domain(&source);
    Point s = fwd(42.0f, -90.0f);
    MAP_domain(&target);
    MAP_limits before{}, after{};
    MAP_get_limits(&before);
    float tx, ty;
    ASSERT_EQ(MAP_domain_tran(&source, &target, s.x, s.y, &tx, &ty), 1);
    Point expected = fwd(42.0f, -90.0f);
    EXPECT_NEAR(tx, expected.x, 1e-4);
    EXPECT_NEAR(ty, expected.y, 1e-4);
    MAP_get_limits(&after);
    EXPECT_EQ(MAP_get_proj(), 4);
    EXPECT_EQ(after.x_min, before.x_min);
    EXPECT_EQ(after.y_max, before.y_max);
    Domain same = target;
    EXPECT_EQ(MAP_domain_tran(&target, &same, 1234.5f, -5.0f, &tx, &ty), 1);  // copied as is
    EXPECT_EQ(tx, 1234.5f);
    Domain ortho = make_domain(5, 40, -100, 40, -100);
    Domain latlon = make_domain(2, 0, 0, 0, 0);
    EXPECT_EQ(MAP_domain_tran(&latlon, &ortho, 80.0f, -40.0f, &tx, &ty), 0);  // hidden there
    EXPECT_EQ(tx, kMissing);
    EXPECT_EQ(MAP_domain_tran(nullptr, &ortho, 1.0f, 1.0f, &tx, &ty), 0);

    // The active record itself may be either domain: a grid point onto the map in use.
    MAP_domain(&target);
    ASSERT_EQ(MAP_domain_tran(&source, MAP_get_domain(nullptr), s.x, s.y, &tx, &ty), 1);
    EXPECT_NEAR(tx, expected.x, 1e-4);
    EXPECT_NEAR(ty, expected.y, 1e-4);
    EXPECT_EQ(MAP_get_proj(), 4);
    MAP_domain(&source);
    ASSERT_EQ(MAP_domain_tran(MAP_get_domain(nullptr), &target, s.x, s.y, &tx, &ty), 1);
    EXPECT_NEAR(tx, expected.x, 1e-4);
    EXPECT_NEAR(ty, expected.y, 1e-4);
    EXPECT_EQ(MAP_get_proj(), 1);
}

TEST(MapDirections, OffsetMovesAlongTheEarth)
{
    Domain latlon = make_domain(2, 0, 0, 0, 0);
    MAP_domain(&latlon);
    float x, y;
    ASSERT_EQ(MAP_offset(10.0f, 40.0f, 0.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(y, 41.0f, 1e-4);
    ASSERT_EQ(MAP_offset(10.0f, 60.0f, 90.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(x, 12.0f, 1e-3);  // a degree of longitude is half as long at 60N
    ASSERT_EQ(MAP_offset(10.0f, 89.5f, 0.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(y, 89.5f, 1e-3);  // across the pole, down the far meridian
    EXPECT_NEAR(x, -170.0f, 1e-3);
    EXPECT_EQ(MAP_offset(10.0f, 90.0f, 0.0f, 10.0f, &x, &y), 0);  // no direction at the pole
    EXPECT_EQ(x, kMissing);
}

TEST(MapDirections, PlaneDirectionOnPolarStereographic)
{
    Domain north = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&north);
    Point a = fwd(40.0f, -80.0f), b = fwd(50.0f, -80.0f);
    EXPECT_LT(angle_difference(MAP_dir(a.x, a.y, b.x, b.y), 0.0), 1e-3);  // poleward is north
    EXPECT_LT(angle_difference(MAP_dir(b.x, b.y, a.x, a.y), 180.0), 1e-3);
    Domain south = make_domain(1, -60, 30, -60, 30);
    MAP_domain(&south);
    a = fwd(-50.0f, 70.0f);
    b = fwd(-40.0f, 70.0f);
    EXPECT_LT(angle_difference(MAP_dir(a.x, a.y, b.x, b.y), 0.0), 1e-3);  // away from the south pole
    EXPECT_EQ(MAP_dir(kMissing, 0, 1, 1), kMissing);
}

// The plane direction of a short move along geographic direction dir, measured on the map.
double measured_plane_direction(float lat, float lon, float dir)
{
    Point p = fwd(lat, lon);
    float x2, y2;
    MAP_offset(p.x, p.y, dir, 0.5f, &x2, &y2);
    return std::atan2(static_cast<double>(x2) - p.x, static_cast<double>(y2) - p.y) * 180.0 / M_PI;
}

TEST(MapDirections, AdjustmentMatchesTheMapAndInverts)
{
    Domain lambert_south = make_domain(4, -25, 130, -30, 135);
    lambert_south.param[0] = -30;
    lambert_south.param[1] = -60;
    const Domain domains[] = {make_domain(1, 60, -105, 60, -105), make_domain(1, -60, 30, -60, 30),
                              make_domain(4, 25, -95, 38, -98), lambert_south, make_domain(9, 0, -75, 0, -75)};
    const float points[][2] = {{40, -80}, {-35, 40}, {30, -120}, {-40, 150}, {10, -60}};
    for (std::size_t i = 0; i < std::size(domains); ++i) {
        MAP_domain(&domains[i]);
        Point p = fwd(points[i][0], points[i][1]);
        for (float dir : {0.0f, 45.0f, 130.0f, 270.0f}) {
            float plane = MAP_dir_adj(dir, p.x, p.y);
            EXPECT_LT(angle_difference(plane, measured_plane_direction(points[i][0], points[i][1], dir)), 0.2)
                << "proj " << domains[i].proj << " dir " << dir;
            EXPECT_LT(angle_difference(MAP_undir_adj(plane, p.x, p.y), dir), 0.05) << "proj " << domains[i].proj;
        }
    }
    // Polar stereographic: 90 degrees east of the central meridian north points along -x; at the
    // pole itself directions refer to the zero meridian.
    MAP_domain(&domains[0]);
    Point east = fwd(50.0f, -15.0f);
    EXPECT_NEAR(MAP_dir_adj(0.0f, east.x, east.y), 270.0f, 1e-3);
    EXPECT_NEAR(MAP_uvdir_adj(1.0f, 0.0f, east.x, east.y), 90.0f, 1e-3);
    EXPECT_NEAR(MAP_dir_adj(0.0f, 0.0f, 0.0f), 360.0f - 105.0f, 1e-3);
    Domain merc = make_domain(3, 0, 0, 0, 0);
    MAP_domain(&merc);
    EXPECT_EQ(MAP_dir_adj(123.0f, 5.0f, 5.0f), 123.0f);
    EXPECT_EQ(MAP_uvdir_adj(1.0f, 1.0f, 5.0f, 5.0f), 0.0f);
}

TEST(MapScale, FactorsAreTrueScale)
{
    Domain north = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&north);
    const double table[][2] = {{60, 1.0}, {90, 1.866025 / 2.0}, {0, 1.866025}};
    for (const auto& row : table) EXPECT_NEAR(MAP_factor(static_cast<float>(row[0]), 0.0f), row[1], 1e-5) << row[0];
    Domain south = make_domain(1, -60, 0, -60, 0);
    south.param[0] = 60.0f;  // a southern true latitude given by its size
    MAP_domain(&south);
    EXPECT_NEAR(MAP_factor(-90.0f, 0.0f), 1.866025 / 2.0, 1e-5);  // finite at its own pole
    EXPECT_NEAR(MAP_factor(-60.0f, 0.0f), 1.0, 1e-5);
    Domain lambert = make_domain(4, 25, -95, 38, -98);
    MAP_domain(&lambert);
    EXPECT_NEAR(MAP_factor(30.0f, 0.0f), 1.0f, 1e-5);
    EXPECT_NEAR(MAP_factor(60.0f, 0.0f), 1.0f, 1e-5);
    // Plane distance over earth distance for a short north-south step.
    Point a = fwd(45.0f, -95.0f), b = fwd(45.1f, -95.0f);
    EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y) / (kR * 0.1 * M_PI / 180.0), MAP_factor(45.05f, -95.0f), 1e-3);
}

TEST(MapDiagrams, ThermodynamicDiagramsRoundTrip)
{
    // Temperatures -40..40 C, pressures 100..1050 mb.
    Domain diagram = make_domain(40, kMissing, kMissing, 0.0f, 575.0f, 1.0f, 1.0f, 81, 951);
    const MAP_limits view{0, 400, 0, 300};
    MAP_set_view(&view);
    for (int code : {40, 41, 42, 43, 44}) {
        diagram.proj = code;
        MAP_domain(&diagram);
        for (float t : {-35.0f, 0.0f, 25.0f})
            for (float p : {1000.0f, 700.0f, 250.0f}) {
                Point pt = fwd(t, p);
                float back_t, back_p;
                ASSERT_EQ(MAP_untran(pt.x, pt.y, &back_t, &back_p), 1) << code;
                EXPECT_NEAR(back_t, t, 1e-3) << code;
                EXPECT_NEAR(back_p, p, 1e-4 * p) << code;
            }
        float x, y;
        EXPECT_EQ(MAP_tran(kMissing, 500.0f, &x, &y), 0) << code;
    }
    // Skew-T frame: the unskewed box; an isotherm shifts by the width times the view's aspect.
    diagram.proj = 40;
    MAP_domain(&diagram);
    MAP_limits lim{};
    MAP_get_limits(&lim);
    EXPECT_NEAR(lim.x_min, -40.0f, 1e-4);
    EXPECT_NEAR(lim.y_min, -std::log(1050.0), 1e-5);
    EXPECT_NEAR(lim.y_max, -std::log(100.0), 1e-5);
    EXPECT_NEAR(fwd(0.0f, 1050.0f).x, 0.0f, 1e-4);
    EXPECT_NEAR(fwd(0.0f, 100.0f).x, 80.0 * 300.0 / 400.0, 1e-3);
    // Tephigram without a view falls back to (T, ln p).
    const MAP_limits no_view{kMissing, kMissing, kMissing, kMissing};
    MAP_set_view(&no_view);
    diagram.proj = 43;
    MAP_domain(&diagram);
    EXPECT_NEAR(fwd(5.0f, 700.0f).y, std::log(700.0), 1e-5);
}

TEST(MapDiagrams, ChartsAndHodograph)
{
    Domain chart = make_domain(25, kMissing, kMissing, 50.0f, 10.0f, 2.0f, 1.0f, 51, 21);
    MAP_domain(&chart);
    MAP_limits lim{};
    MAP_get_limits(&lim);  // data 0..100 by 0..20, y reversed about its lower edge
    EXPECT_NEAR(lim.x_max, 100.0f, 1e-5);
    EXPECT_NEAR(lim.y_min, -20.0f, 1e-5);
    float a, b;
    Point p = fwd(30.0f, 5.0f);
    EXPECT_NEAR(p.y, -5.0f, 1e-5);
    MAP_untran(p.x, p.y, &a, &b);
    EXPECT_NEAR(b, 5.0f, 1e-5);
    chart.proj = 22;
    MAP_domain(&chart);
    EXPECT_EQ(MAP_tran(30.0f, 0.0f, &a, &b), 0);  // no logarithm of zero pressure

    Domain hodo = make_domain(23, kMissing, kMissing, -50.0f, -50.0f, 100.0f, 100.0f, 11, 11);
    MAP_domain(&hodo);
    MAP_get_limits(&lim);
    EXPECT_EQ(lim.x_max, 50.0f);
    p = fwd(90.0f, 20.0f);
    EXPECT_NEAR(p.x, 20.0f, 1e-5);
    EXPECT_NEAR(p.y, 0.0f, 1e-5);
    MAP_untran(-10.0f, -10.0f, &a, &b);
    EXPECT_NEAR(a, 225.0f, 1e-4);
    EXPECT_NEAR(b, std::sqrt(200.0f), 1e-4);
}

TEST(MapPlotGrid, RefusesSecondPlotInACell)
{
    Domain dom = make_domain(2, 0, 0, 0, 0, 1.0f, 1.0f, 11, 11);  // x, y from -5 to 5
    MAP_domain(&dom);
    MAP_set_plot_limit(1);
    ASSERT_EQ(MAP_plot_grid_init(), 0);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    EXPECT_EQ(MAP_plot_grid(0.3f, -0.2f), 0);  // same cell
    EXPECT_EQ(MAP_plot_grid(1.0f, 0.0f), 1);
    EXPECT_EQ(MAP_plot_grid(9.0f, 0.0f), 0);   // outside
    EXPECT_EQ(MAP_plot_grid(-5.0f, 5.0f), 1);  // corner grid point
    MAP_set_plot_limit(2);  // four plot cells per grid cell, all clear again
    ASSERT_EQ(MAP_plot_grid_init(), 0);
    EXPECT_EQ(MAP_plot_grid(-0.2f, 0.1f), 1);
    EXPECT_EQ(MAP_plot_grid(0.2f, 0.1f), 1);
    EXPECT_EQ(MAP_plot_grid(0.3f, 0.2f), 0);
    EXPECT_EQ(MAP_plot_grid(std::numeric_limits<float>::quiet_NaN(), 0.0f), 0);
    // A grid size whose cell count overflows an int is refused, not wrapped round; plots
    // then go unchecked as without a grid.
    Domain huge = make_domain(2, 0, 0, 0, 0, 1.0f, 1.0f, 1000000, 1000000);
    MAP_domain(&huge);
    EXPECT_EQ(MAP_plot_grid_init(), -1);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    huge.nx = huge.ny = 50000;  // 2.5e9 cells: fits no int either
    MAP_domain(&huge);
    EXPECT_EQ(MAP_plot_grid_init(), -1);
    Domain none = make_domain(2, 0, 0, 0, 0, 1.0f, 1.0f, 0, 0);  // without a grid all may plot
    MAP_domain(&none);
    EXPECT_EQ(MAP_plot_grid_init(), -1);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    MAP_set_plot_limit(1);
}

}  // namespace
