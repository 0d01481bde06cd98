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
    Domain d{};
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    for (float& p : d.param) p = kMissing;
    d.clat = clat;
    d.clon = clon;
    d.dx = dx;
    d.dy = dy;
    d.nx = nx;
    d.ny = ny;
    d.ellipse = 0;
    return d;
}

double angle_difference(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

TEST(MapDomain, ActivationAndDefaults)
{
    EXPECT_EQ(MAP_domain(nullptr), -1);
    EXPECT_EQ(MAP_get_proj(), -9999);
    float x, y;
    EXPECT_EQ(MAP_tran(12.5f, -40.0f, &x, &y), 1);  // no projection: the output is the input
    EXPECT_EQ(x, 12.5f);
    EXPECT_EQ(y, -40.0f);
    EXPECT_EQ(MAP_in_domain(1e6f, 1e6f), 1);

    Domain dom = make_domain(1, kMissing, kMissing, 45.0f, -100.0f);
    EXPECT_EQ(MAP_domain(&dom), 0);
    Domain copy{};
    EXPECT_EQ(MAP_get_domain(&copy), &copy);
    EXPECT_EQ(copy.plat, 45.0f);  // unset projection point takes the centre
    EXPECT_EQ(copy.plon, -100.0f);
    EXPECT_EQ(MAP_get_domain(nullptr)->proj, 1);
    EXPECT_EQ(MAP_get_clat(), 45.0f);
    EXPECT_EQ(MAP_get_clon(), -100.0f);
    EXPECT_EQ(MAP_tran_center(&x, &y), 1);
    EXPECT_NEAR(x, 0.0f, 1e-5);  // the centre lies on the central meridian
    EXPECT_EQ(MAP_proj_str("lc"), 4);
    EXPECT_EQ(MAP_proj_str(nullptr), -1);
}

TEST(MapDomain, SettersResetDerivedValues)
{
    Domain dom = make_domain(5, 40, -100, 40, -100);
    MAP_domain(&dom);
    float x, y;
    MAP_tran(0.0f, 0.0f, &x, &y);
    EXPECT_GT(std::hypot(x, y), 10.0f);
    MAP_coord(0.0f, 0.0f);
    EXPECT_EQ(MAP_tran(0.0f, 0.0f, &x, &y), 1);
    EXPECT_NEAR(x, 0.0f, 1e-5);
    EXPECT_NEAR(y, 0.0f, 1e-5);
    // True latitudes only apply to Lambert domains.
    const float tlats[2] = {40.0f, 40.0f};
    EXPECT_EQ(MAP_proj_coord(tlats), -1);
    Domain lambert = make_domain(4, 40, -100, 40, -100);
    MAP_domain(&lambert);
    EXPECT_EQ(MAP_proj_coord(tlats), 0);
    EXPECT_NEAR(MAP_factor(40.0f, -100.0f), 1.0f, 1e-5);  // true scale on the new tangent latitude
    EXPECT_EQ(MAP_proj_coord(nullptr), -1);
    MAP_proj(3);
    EXPECT_EQ(MAP_get_proj(), 3);
    EXPECT_EQ(MAP_tran(0.0f, -100.0f, &x, &y), 1);
    EXPECT_NEAR(y, 0.0f, 1e-5);
}

TEST(MapForward, DescribedEdgeCases)
{
    float x, y, x2, y2;
    Domain polar = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&polar);
    ASSERT_EQ(MAP_tran(60.0f, -105.0f, &x, &y), 1);
    EXPECT_NEAR(x, 0.0f, 1e-5);
    EXPECT_NEAR(y, -1.866025 * kR * std::tan(15.0 * M_PI / 180.0), 1e-4);
    MAP_tran(-80.0f, 20.0f, &x, &y);  // a northern map shows nothing south of 75S
    MAP_tran(-75.0f, 20.0f, &x2, &y2);
    EXPECT_EQ(x, x2);
    EXPECT_EQ(y, y2);

    Domain latlon = make_domain(2, 0, 170, 0, 170);
    MAP_domain(&latlon);
    MAP_tran(10.0f, -170.0f, &x, &y);
    EXPECT_NEAR(x, 20.0f, 1e-4);
    EXPECT_NEAR(y, 10.0f, 1e-6);

    Domain merc = make_domain(3, 0, 0, 0, 0);
    MAP_domain(&merc);
    MAP_tran(0.0f, 30.0f, &x, &y);
    EXPECT_NEAR(y, 0.0f, 1e-5);
    EXPECT_NEAR(x, kR * M_PI / 6.0, 1e-4);
    MAP_tran(89.95f, 0.0f, &x, &y);
    MAP_tran(89.9f, 0.0f, &x2, &y2);
    EXPECT_NEAR(y, y2, 1e-4);
    EXPECT_TRUE(std::isfinite(y));
    MAP_tran(90.0f, 0.0f, &x, &y);  // the pole itself stays finite
    EXPECT_NEAR(y, y2, 1e-4);

    Domain ortho = make_domain(5, 40, -100, 40, -100);
    MAP_domain(&ortho);
    EXPECT_EQ(MAP_tran(-40.0f, 80.0f, &x, &y), 0);
    EXPECT_EQ(x, kMissing);

    Domain sat = make_domain(9, 0, -75, 0, -75);
    MAP_domain(&sat);
    ASSERT_EQ(MAP_tran(0.0f, -75.0f, &x, &y), 1);
    EXPECT_NEAR(x, 0.0f, 1e-5);
    EXPECT_NEAR(y, 0.0f, 1e-5);
    EXPECT_EQ(MAP_tran(0.0f, 15.0f, &x, &y), 0);
    // The scan-angle plane: the earth's limb seen from 42164 km is 8.7 degrees off nadir.
    Domain scan = sat;
    scan.param[1] = 1;
    MAP_domain(&scan);
    ASSERT_EQ(MAP_tran(0.0f, 0.0f, &x, &y), 1);
    EXPECT_LT(x / 421.61f, std::asin(kR / 421.61));
}

TEST(MapForward, BadInputIsRejectedNotTransformed)
{
    Domain polar = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&polar);
    float x = 0, y = 0, lat, lon;
    EXPECT_EQ(MAP_tran(kMissing, 10.0f, &x, &y), 0);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(MAP_tran(95.0f, 10.0f, &x, &y), 0);
    EXPECT_EQ(MAP_tran(std::numeric_limits<float>::quiet_NaN(), 10.0f, &x, &y), 0);
    EXPECT_EQ(MAP_tran(10.0f, std::numeric_limits<float>::infinity(), &x, &y), 0);
    EXPECT_EQ(MAP_tran(10.0f, 10.0f, nullptr, &y), 0);
    EXPECT_EQ(MAP_untran(kMissing, 0.0f, &lat, &lon), 0);
    EXPECT_EQ(lat, kMissing);
    // A huge longitude is folded, not looped over.
    EXPECT_EQ(MAP_tran(10.0f, 1e30f, &x, &y), 1);
    EXPECT_TRUE(std::isfinite(x));
    // Longitudes outside -180..180 equal their folded value.
    float x2, y2;
    MAP_tran(40.0f, 700.0f, &x, &y);
    MAP_tran(40.0f, -20.0f, &x2, &y2);
    EXPECT_NEAR(x, x2, 1e-4);
    EXPECT_NEAR(y, y2, 1e-4);
    // Unknown codes give no transform rather than the input unchanged.
    MAP_proj(77);
    EXPECT_EQ(MAP_tran(10.0f, 10.0f, &x, &y), 0);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(MAP_untran(1.0f, 1.0f, &lat, &lon), 0);
}

TEST(MapForward, DegenerateLambertConeGivesMissingNotNaN)
{
    Domain flat = make_domain(4, 10, 0, 10, 0);
    flat.param[0] = 0.0f;
    flat.param[1] = 0.0f;
    MAP_domain(&flat);
    float x = 0, y = 0, lat, lon;
    EXPECT_EQ(MAP_tran(10.0f, 5.0f, &x, &y), 0);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(y, kMissing);
    EXPECT_EQ(MAP_untran(1.0f, 1.0f, &lat, &lon), 0);
    EXPECT_EQ(lat, kMissing);
    Domain pole = make_domain(4, 10, 0, 10, 0);
    pole.param[0] = 90.0f;
    pole.param[1] = 60.0f;
    MAP_domain(&pole);
    EXPECT_EQ(MAP_tran(10.0f, 5.0f, &x, &y), 0);
    // One true latitude given makes a tangent cone, the same as giving it twice.
    Domain one = make_domain(4, 40, -100, 40, -100);
    one.param[0] = 35.0f;
    Domain twice = one;
    twice.param[1] = 35.0f;
    float x1, y1;
    MAP_domain(&one);
    ASSERT_EQ(MAP_tran(50.0f, -80.0f, &x1, &y1), 1);
    MAP_domain(&twice);
    MAP_tran(50.0f, -80.0f, &x, &y);
    EXPECT_EQ(x, x1);
    EXPECT_EQ(y, y1);
    // A southern tangent cone given as a positive latitude is the mirror of the northern one.
    Domain south = make_domain(4, -40, -100, -40, -100);
    south.param[0] = 35.0f;
    MAP_domain(&south);
    ASSERT_EQ(MAP_tran(-50.0f, -80.0f, &x, &y), 1);
    EXPECT_NEAR(x, x1, 1e-4);
    EXPECT_NEAR(y, -y1, 1e-4);
}

TEST(MapGrid, LimitsAndGridTransforms)
{
    Domain dom = make_domain(1, 60, -105, 40, -100, 1.2f, 1.2f, 25, 17);
    MAP_domain(&dom);
    float cx, cy;
    MAP_tran_center(&cx, &cy);
    MAP_limits lim{};
    EXPECT_EQ(MAP_get_limits(&lim), 0);
    EXPECT_EQ(MAP_get_limits(nullptr), -1);
    EXPECT_NEAR(lim.x_min, cx - 1.2 * 12, 1e-4);
    EXPECT_NEAR(lim.x_max, cx + 1.2 * 12, 1e-4);
    EXPECT_NEAR(lim.y_min, cy - 1.2 * 8, 1e-4);
    EXPECT_NEAR(lim.y_max, cy + 1.2 * 8, 1e-4);
    float x, y, gx, gy;
    EXPECT_EQ(MAP_get_up_left(&x, &y), 0);
    EXPECT_EQ(x, lim.x_min);
    EXPECT_EQ(y, lim.y_max);
    EXPECT_EQ(MAP_grid_tran(0.0f, 0.0f, &x, &y), 0);
    EXPECT_EQ(x, lim.x_min);
    EXPECT_EQ(y, lim.y_max);
    EXPECT_EQ(MAP_grid_untran(lim.x_max, lim.y_min, &gx, &gy), 0);
    EXPECT_NEAR(gx, 24.0f, 1e-4);
    EXPECT_NEAR(gy, 16.0f, 1e-4);
    const float cells[][2] = {{0, 0}, {3.5f, 7.25f}, {24, 16}, {-2, 30}};
    for (const auto& c : cells) {
        MAP_grid_tran(c[0], c[1], &x, &y);
        MAP_grid_untran(x, y, &gx, &gy);
        EXPECT_NEAR(gx, c[0], 1e-4);
        EXPECT_NEAR(gy, c[1], 1e-4);
    }
    EXPECT_EQ(MAP_grid_tran(kMissing, 1.0f, &x, &y), -1);
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(y, kMissing);
    EXPECT_EQ(MAP_grid_untran(1.0f, kMissing, &gx, &gy), -1);
    EXPECT_EQ(gx, kMissing);

    EXPECT_EQ(MAP_in_domain(cx, cy), 1);
    EXPECT_EQ(MAP_in_domain(lim.x_max + 0.1f, cy), 0);
    EXPECT_EQ(MAP_in_grid_domain(lim.x_max + 3.5f, cy), 1);
    EXPECT_EQ(MAP_in_grid_domain(lim.x_max + 3.7f, cy), 0);
    EXPECT_EQ(MAP_in_grid_domain(cx, lim.y_min - 3.7f), 0);
    EXPECT_EQ(MAP_in_domain(kMissing, cy), 0);
}

TEST(MapGrid, LimitsUnsetWithoutGridOrVisibleCentre)
{
    Domain no_grid = make_domain(1, 60, -105, 40, -100, kMissing, kMissing, -9999, -9999);
    MAP_domain(&no_grid);
    EXPECT_EQ(MAP_set_limits(), -1);
    float x, y;
    EXPECT_EQ(MAP_grid_tran(1.0f, 1.0f, &x, &y), -1);
    Domain hidden_centre = make_domain(5, 40, -100, -40, 80);
    MAP_domain(&hidden_centre);
    EXPECT_EQ(MAP_set_limits(), -1);
}

TEST(MapGrid, DomainToDomainTransformRestoresActiveDomain)
{
    Domain target = make_domain(4, 25, -95, 38, -98, 0.4f, 0.4f, 61, 41);
    Domain source = make_domain(1, 60, -105, 40, -100, 1.2f, 1.2f, 25, 17);
    MAP_domain(&target);
    MAP_limits before{};
    MAP_get_limits(&before);
    float sx, sy;
    MAP_domain(&source);
    MAP_tran(42.0f, -90.0f, &sx, &sy);
    MAP_domain(&target);
    float tx, ty, expect_x, expect_y;
    ASSERT_EQ(MAP_domain_tran(&source, &target, sx, sy, &tx, &ty), 1);
    MAP_tran(42.0f, -90.0f, &expect_x, &expect_y);
    EXPECT_NEAR(tx, expect_x, 1e-4);
    EXPECT_NEAR(ty, expect_y, 1e-4);
    // The active domain is the same afterwards, limits included.
    MAP_domain(&target);
    MAP_domain_tran(&target, &source, tx, ty, &sx, &sy);
    MAP_limits after{};
    MAP_get_limits(&after);
    EXPECT_EQ(MAP_get_proj(), 4);
    EXPECT_EQ(after.x_min, before.x_min);
    EXPECT_EQ(after.y_max, before.y_max);
    // Equal domains copy the point, whatever it is.
    Domain same = target;
    same.plat = kMissing;  // unset equals the centre only when the centre matches
    same.plat = target.plat;
    EXPECT_EQ(MAP_domain_tran(&target, &same, 1234.5f, -5.0f, &tx, &ty), 1);
    EXPECT_EQ(tx, 1234.5f);
    EXPECT_EQ(ty, -5.0f);
    // A point that the second domain hides.
    Domain ortho = make_domain(5, 40, -100, 40, -100);
    Domain latlon = make_domain(2, 0, 0, 0, 0);
    EXPECT_EQ(MAP_domain_tran(&latlon, &ortho, 80.0f, -40.0f, &tx, &ty), 0);
    EXPECT_EQ(tx, kMissing);
    EXPECT_EQ(MAP_domain_tran(nullptr, &ortho, 1.0f, 1.0f, &tx, &ty), 0);
}

TEST(MapDirections, OffsetMovesAlongTheEarth)
{
    Domain latlon = make_domain(2, 0, 0, 0, 0);
    MAP_domain(&latlon);
    float x, y;
    ASSERT_EQ(MAP_offset(10.0f, 40.0f, 0.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(x, 10.0f, 1e-4);
    EXPECT_NEAR(y, 41.0f, 1e-4);
    ASSERT_EQ(MAP_offset(10.0f, 60.0f, 90.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(x, 12.0f, 1e-3);  // a degree of longitude is half as long at 60N
    EXPECT_NEAR(y, 60.0f, 1e-4);
    // Across the pole the move comes down the far meridian.
    ASSERT_EQ(MAP_offset(10.0f, 89.5f, 0.0f, 111.195f, &x, &y), 1);
    EXPECT_NEAR(y, 89.5f, 1e-3);
    EXPECT_NEAR(x, -170.0f, 1e-3);
    EXPECT_EQ(MAP_offset(10.0f, 90.0f, 0.0f, 10.0f, &x, &y), 0);  // no direction at the pole
    EXPECT_EQ(x, kMissing);
    EXPECT_EQ(MAP_offset(kMissing, 10.0f, 0.0f, 10.0f, &x, &y), 0);
}

TEST(MapDirections, PlaneDirectionOnPolarStereographic)
{
    Domain north = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&north);
    float x1, y1, x2, y2;
    MAP_tran(40.0f, -80.0f, &x1, &y1);
    MAP_tran(50.0f, -80.0f, &x2, &y2);
    EXPECT_LT(angle_difference(MAP_dir(x1, y1, x2, y2), 0.0), 1e-3);  // poleward is north
    EXPECT_NEAR(MAP_dir(x2, y2, x1, y1), 180.0f, 1e-3);
    Domain south = make_domain(1, -60, 30, -60, 30);
    MAP_domain(&south);
    MAP_tran(-50.0f, 70.0f, &x1, &y1);
    MAP_tran(-40.0f, 70.0f, &x2, &y2);
    EXPECT_LT(angle_difference(MAP_dir(x1, y1, x2, y2), 0.0), 1e-3);  // away from the south pole is north
    Domain latlon = make_domain(2, 0, 0, 0, 0);
    MAP_domain(&latlon);
    EXPECT_NEAR(MAP_dir(0, 0, 1, 0), 90.0f, 1e-4);
    EXPECT_NEAR(MAP_dir(0, 0, -1, -1), 225.0f, 1e-4);
    EXPECT_EQ(MAP_dir(kMissing, 0, 1, 1), kMissing);
}

// The plane direction of a short move along geographic direction dir, measured on the map.
double measured_plane_direction(float lat, float lon, float dir)
{
    float x, y, x2, y2;
    MAP_tran(lat, lon, &x, &y);
    MAP_offset(x, y, dir, 0.5f, &x2, &y2);
    return std::atan2(static_cast<double>(x2) - x, static_cast<double>(y2) - y) * 180.0 / M_PI;
}

TEST(MapDirections, AdjustmentMatchesTheMapAndInverts)
{
    Domain lambert_south = make_domain(4, -25, 130, -30, 135);
    lambert_south.param[0] = -30;
    lambert_south.param[1] = -60;
    const Domain domains[] = {
        make_domain(1, 60, -105, 60, -105),
        make_domain(1, -60, 30, -60, 30),
        make_domain(4, 25, -95, 38, -98),
        lambert_south,
        make_domain(9, 0, -75, 0, -75),
    };
    const float points[][2] = {{40, -80}, {-35, 40}, {30, -120}, {-40, 150}, {10, -60}};
    for (std::size_t i = 0; i < std::size(domains); ++i) {
        MAP_domain(&domains[i]);
        float lat = points[i][0], lon = points[i][1], x, y;
        ASSERT_EQ(MAP_tran(lat, lon, &x, &y), 1);
        for (float dir : {0.0f, 45.0f, 130.0f, 270.0f}) {
            float plane = MAP_dir_adj(dir, x, y);
            EXPECT_LT(angle_difference(plane, measured_plane_direction(lat, lon, dir)), 0.2)
                << "proj " << domains[i].proj << " dir " << dir;
            EXPECT_LT(angle_difference(MAP_undir_adj(plane, x, y), dir), 0.05) << "proj " << domains[i].proj;
        }
    }
    // Projections without rotation return the direction unchanged.
    Domain merc = make_domain(3, 0, 0, 0, 0);
    MAP_domain(&merc);
    EXPECT_EQ(MAP_dir_adj(123.0f, 5.0f, 5.0f), 123.0f);
    EXPECT_EQ(MAP_undir_adj(123.0f, 5.0f, 5.0f), 123.0f);
    EXPECT_EQ(MAP_uvdir_adj(1.0f, 1.0f, 5.0f, 5.0f), 0.0f);
    EXPECT_EQ(MAP_dir_adj(kMissing, 5.0f, 5.0f), kMissing);
}

TEST(MapDirections, PolarStereographicRotation)
{
    Domain north = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&north);
    float x, y;
    MAP_tran(50.0f, -15.0f, &x, &y);  // 90 degrees east of the central meridian
    EXPECT_NEAR(MAP_dir_adj(0.0f, x, y), 270.0f, 1e-3);
    EXPECT_NEAR(MAP_uvdir_adj(1.0f, 0.0f, x, y), 90.0f, 1e-3);
    // At the pole directions refer to the zero meridian.
    EXPECT_NEAR(MAP_dir_adj(0.0f, 0.0f, 0.0f), 360.0f - 105.0f, 1e-3);
    Domain south = make_domain(1, -60, -105, -60, -105);
    MAP_domain(&south);
    EXPECT_NEAR(MAP_dir_adj(0.0f, 0.0f, 0.0f), 105.0f, 1e-3);
}

TEST(MapScale, FactorsAreTrueScale)
{
    Domain north = make_domain(1, 60, -105, 60, -105);
    MAP_domain(&north);
    const double table[][2] = {{60, 1.0}, {90, 1.866025 / 2.0}, {0, 1.866025}, {30, 1.866025 / 1.5}};
    for (const auto& row : table) EXPECT_NEAR(MAP_factor(static_cast<float>(row[0]), 0.0f), row[1], 1e-5) << row[0];
    // A southern map is finite at its own pole.
    Domain south = make_domain(1, -60, 0, -60, 0);
    MAP_domain(&south);
    EXPECT_NEAR(MAP_factor(-90.0f, 0.0f), 1.866025 / 2.0, 1e-5);
    EXPECT_NEAR(MAP_factor(-60.0f, 0.0f), 1.0, 1e-5);
    south.param[0] = 60.0f;  // a southern true latitude given by its size
    MAP_domain(&south);
    EXPECT_NEAR(MAP_factor(-60.0f, 0.0f), 1.0, 1e-5);
    Domain lambert = make_domain(4, 25, -95, 38, -98);
    MAP_domain(&lambert);
    EXPECT_NEAR(MAP_factor(30.0f, 0.0f), 1.0f, 1e-5);
    EXPECT_NEAR(MAP_factor(60.0f, 0.0f), 1.0f, 1e-5);
    EXPECT_LT(MAP_factor(45.0f, 0.0f), 1.0f);
    EXPECT_GT(MAP_factor(20.0f, 0.0f), 1.0f);
    // Numerically: plane distance over earth distance for a short north-south step.
    float x1, y1, x2, y2;
    MAP_tran(45.0f, -95.0f, &x1, &y1);
    MAP_tran(45.1f, -95.0f, &x2, &y2);
    double earth = kR * 0.1 * M_PI / 180.0;
    EXPECT_NEAR(std::hypot(x2 - x1, y2 - y1) / earth, MAP_factor(45.05f, -95.0f), 1e-3);
    Domain merc = make_domain(3, 0, 0, 0, 0);
    MAP_domain(&merc);
    EXPECT_EQ(MAP_factor(45.0f, 0.0f), 1.0f);
}

TEST(MapDiagrams, ThermodynamicDiagramsRoundTrip)
{
    // Temperatures -40..40 C, pressures 100..1050 mb.
    Domain skewt = make_domain(40, kMissing, kMissing, 0.0f, 575.0f, 1.0f, 1.0f, 81, 951);
    const MAP_limits view{0, 400, 0, 300};
    MAP_set_view(&view);
    const int codes[] = {40, 41, 42, 43, 44};
    for (int code : codes) {
        skewt.proj = code;
        MAP_domain(&skewt);
        for (float t : {-35.0f, 0.0f, 25.0f})
            for (float p : {1000.0f, 700.0f, 250.0f}) {
                float x, y, back_t, back_p;
                ASSERT_EQ(MAP_tran(t, p, &x, &y), 1) << code;
                ASSERT_EQ(MAP_untran(x, y, &back_t, &back_p), 1) << code;
                EXPECT_NEAR(back_t, t, 1e-3) << code;
                EXPECT_NEAR(back_p, p, 1e-4 * p) << code;
            }
        float x, y;
        EXPECT_EQ(MAP_tran(kMissing, 500.0f, &x, &y), 0) << code;
        EXPECT_EQ(x, kMissing);
    }
}

TEST(MapDiagrams, SkewTGeometry)
{
    Domain skewt = make_domain(40, kMissing, kMissing, 0.0f, 575.0f, 1.0f, 1.0f, 81, 951);
    const MAP_limits view{0, 400, 0, 300};
    MAP_set_view(&view);
    MAP_domain(&skewt);
    MAP_limits lim{};
    MAP_get_limits(&lim);
    // The frame is the unskewed box: T -40..40 along the bottom, -ln p from 1050 to 100 mb.
    EXPECT_NEAR(lim.x_min, -40.0f, 1e-4);
    EXPECT_NEAR(lim.x_max, 40.0f, 1e-4);
    EXPECT_NEAR(lim.y_min, -std::log(1050.0), 1e-5);
    EXPECT_NEAR(lim.y_max, -std::log(100.0), 1e-5);
    float x_bottom, y_bottom, x_top, y_top;
    MAP_tran(0.0f, 1050.0f, &x_bottom, &y_bottom);
    MAP_tran(0.0f, 100.0f, &x_top, &y_top);
    EXPECT_NEAR(x_bottom, 0.0f, 1e-4);
    // An isotherm crosses the frame's height shifted by its width times the view's aspect.
    EXPECT_NEAR(x_top - x_bottom, 80.0 * 300.0 / 400.0, 1e-3);
    EXPECT_NEAR(y_bottom, -std::log(1050.0), 1e-5);
    // Emagram and Stuve are plain.
    skewt.proj = 42;
    MAP_domain(&skewt);
    MAP_tran(12.0f, 500.0f, &x_top, &y_top);
    EXPECT_EQ(x_top, 12.0f);
    EXPECT_NEAR(y_top, -std::log(500.0), 1e-5);
    skewt.proj = 41;
    MAP_domain(&skewt);
    MAP_tran(12.0f, 500.0f, &x_top, &y_top);
    EXPECT_NEAR(y_top, -std::pow(500.0, 0.285714), 1e-4);
    // Potential temperature diagram: y is ln theta.
    skewt.proj = 44;
    MAP_domain(&skewt);
    MAP_tran(0.0f, 500.0f, &x_top, &y_top);
    EXPECT_NEAR(y_top, std::log(273.15 * std::pow(2.0, 0.286)), 1e-5);
    // Tephigram without a view falls back to (T, ln p).
    const MAP_limits no_view{kMissing, kMissing, kMissing, kMissing};
    MAP_set_view(&no_view);
    skewt.proj = 43;
    MAP_domain(&skewt);
    MAP_tran(5.0f, 700.0f, &x_top, &y_top);
    EXPECT_EQ(x_top, 5.0f);
    EXPECT_NEAR(y_top, std::log(700.0), 1e-5);
}

TEST(MapDiagrams, ChartsAndHodograph)
{
    Domain chart = make_domain(20, kMissing, kMissing, 50.0f, 10.0f, 2.0f, 1.0f, 51, 21);
    MAP_domain(&chart);
    MAP_limits lim{};
    MAP_get_limits(&lim);
    EXPECT_NEAR(lim.x_min, 0.0f, 1e-5);
    EXPECT_NEAR(lim.x_max, 100.0f, 1e-5);
    EXPECT_NEAR(lim.y_min, 0.0f, 1e-5);
    EXPECT_NEAR(lim.y_max, 20.0f, 1e-5);
    float x, y, a, b;
    MAP_tran(30.0f, 5.0f, &x, &y);
    EXPECT_NEAR(x, 30.0f, 1e-5);
    EXPECT_NEAR(y, 5.0f, 1e-5);
    chart.proj = 25;  // y reversed
    MAP_domain(&chart);
    MAP_tran(30.0f, 5.0f, &x, &y);
    EXPECT_NEAR(y, -5.0f, 1e-5);
    MAP_untran(x, y, &a, &b);
    EXPECT_NEAR(b, 5.0f, 1e-5);
    chart.proj = 22;
    MAP_domain(&chart);
    MAP_tran(30.0f, 500.0f, &x, &y);
    EXPECT_NEAR(y, -std::log(500.0), 1e-5);
    EXPECT_EQ(MAP_tran(30.0f, 0.0f, &x, &y), 0);  // no logarithm of zero
    chart.proj = 99;
    MAP_domain(&chart);
    MAP_tran(30.0f, 5.0f, &x, &y);
    EXPECT_EQ(y, -5.0f);

    Domain hodo = make_domain(23, kMissing, kMissing, -50.0f, -50.0f, 100.0f, 100.0f, 11, 11);
    MAP_domain(&hodo);
    MAP_get_limits(&lim);
    EXPECT_EQ(lim.x_min, -50.0f);
    EXPECT_EQ(lim.x_max, 50.0f);
    EXPECT_EQ(lim.y_max, 50.0f);
    MAP_tran(90.0f, 20.0f, &x, &y);
    EXPECT_NEAR(x, 20.0f, 1e-5);
    EXPECT_NEAR(y, 0.0f, 1e-5);
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
    // Re-initialising clears the cells.
    ASSERT_EQ(MAP_plot_grid_init(), 0);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    // A plot limit of 2 gives four plot cells per grid cell.
    MAP_set_plot_limit(2);
    ASSERT_EQ(MAP_plot_grid_init(), 0);
    EXPECT_EQ(MAP_plot_grid(-0.2f, 0.1f), 1);
    EXPECT_EQ(MAP_plot_grid(0.2f, 0.1f), 1);
    EXPECT_EQ(MAP_plot_grid(0.3f, 0.2f), 0);
    // Without a grid every point may be plotted.
    Domain none = make_domain(2, 0, 0, 0, 0, 1.0f, 1.0f, 0, 0);
    MAP_domain(&none);
    EXPECT_EQ(MAP_plot_grid_init(), -1);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    EXPECT_EQ(MAP_plot_grid(0.0f, 0.0f), 1);
    MAP_set_plot_limit(1);
}

}  // namespace
