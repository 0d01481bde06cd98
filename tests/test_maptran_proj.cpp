// Earth projections: inverse after forward returns the input, hidden points are hidden, and the
// forward transforms agree with the PROJ command-line tool on the same sphere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "maptran.hpp"
#include "proj_helpers.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kUnitMetres = 1e5;  // plane units are 100 km

Domain make_domain(int proj, float plat, float plon, float clat, float clon)
{
    Domain d{};
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    for (float& p : d.param) p = kMissing;
    d.clat = clat;
    d.clon = clon;
    d.dx = d.dy = 1.0f;
    d.nx = d.ny = 21;
    d.ellipse = 0;
    return d;
}

double lon_difference(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

double great_circle_cos(double lat1, double lon1, double lat2, double lon2)
{
    const double r = M_PI / 180.0;
    return std::sin(lat1 * r) * std::sin(lat2 * r) + std::cos(lat1 * r) * std::cos(lat2 * r) * std::cos((lon1 - lon2) * r);
}

struct RoundTripCase {
    const char* name;
    Domain domain;
    double lat_lo, lat_hi;
    double min_cos;  // smallest cosine of the distance from (plat, plon) to test; -2 for all
};

std::vector<RoundTripCase> round_trip_cases()
{
    Domain lambert_south = make_domain(4, -25, 130, -30, 135);
    lambert_south.param[0] = -30;
    lambert_south.param[1] = -60;
    Domain lambert_tangent = make_domain(4, 25, -95, 38, -98);
    lambert_tangent.param[0] = 25;
    Domain satellite_ellipse = make_domain(9, 0, -75, 0, -75);
    satellite_ellipse.ellipse = 1;
    Domain satellite_scan = make_domain(9, 0, 140, 0, 140);
    satellite_scan.param[0] = 421.64f;
    satellite_scan.param[1] = 1;
    return {
        {"polar north", make_domain(1, 60, -105, 60, -105), -60, 89.5, -2},
        {"polar south", make_domain(1, -60, 30, -60, 30), -89.5, 60, -2},
        {"latlon", make_domain(2, 0, 170, 0, 170), -90, 90, -2},
        {"mercator", make_domain(3, 0, -80, 20, -80), -85, 85, -2},
        {"lambert north", make_domain(4, 25, -95, 38, -98), -60, 88, -2},
        {"lambert south", lambert_south, -88, 60, -2},
        {"lambert tangent", lambert_tangent, -60, 88, -2},
        {"orthographic", make_domain(5, 40, -100, 40, -100), -89, 89, 0.05},
        {"gnomonic", make_domain(6, 45, 10, 45, 10), -89, 89, 0.2},
        {"mollweide", make_domain(7, 0, -30, 0, -30), -85, 85, -2},
        {"lambert azimuthal", make_domain(8, 52, 10, 52, 10), -89, 89, -0.95},
        {"lambert azimuthal pole", make_domain(8, 90, -45, 90, -45), -80, 89.5, -2},
        {"satellite", make_domain(9, 0, -75, 0, -75), -75, 75, 0.25},
        {"satellite ellipsoid", satellite_ellipse, -75, 75, 0.25},
        {"satellite scan angles", satellite_scan, -75, 75, 0.25},
    };
}

TEST(MapProjectionRoundTrip, InverseReturnsInputAcrossValidArea)
{
    for (const RoundTripCase& c : round_trip_cases()) {
        ASSERT_EQ(MAP_domain(&c.domain), 0) << c.name;
        double plat = c.domain.plat, plon = c.domain.plon;
        int checked = 0;
        for (double lat = c.lat_lo; lat <= c.lat_hi + 1e-9; lat += (c.lat_hi - c.lat_lo) / 23.0) {
            for (double dlon = -177.5; dlon < 180.0; dlon += 12.5) {
                double lon = std::remainder(plon + dlon, 360.0);
                if (c.min_cos > -2 && great_circle_cos(lat, lon, plat, plon) < c.min_cos) continue;
                float x, y, back_lat, back_lon;
                ASSERT_EQ(MAP_tran(static_cast<float>(lat), static_cast<float>(lon), &x, &y), 1)
                    << c.name << " " << lat << "," << lon;
                ASSERT_EQ(MAP_untran(x, y, &back_lat, &back_lon), 1) << c.name << " " << lat << "," << lon;
                EXPECT_NEAR(back_lat, lat, 1e-4) << c.name << " lon " << lon;
                // Longitude as a distance along the parallel: it is undetermined at the poles.
                double along_parallel = lon_difference(back_lon, lon) * std::cos(lat * M_PI / 180.0);
                EXPECT_LT(along_parallel, 1e-4) << c.name << " lat " << lat << " lon " << lon;
                ++checked;
            }
        }
        EXPECT_GT(checked, 100) << c.name;
    }
}

TEST(MapProjectionRoundTrip, HiddenPointsGiveMissingOutputs)
{
    struct HiddenCase {
        Domain domain;
        float lat, lon;
    };
    const HiddenCase hidden[] = {
        {make_domain(5, 40, -100, 40, -100), -40, 80},   // far side of the globe
        {make_domain(6, 45, 10, 45, 10), -45, -170},     // beyond 90 degrees from the tangent point
        {make_domain(6, 45, 10, 45, 10), -45, 10},       // exactly 90 degrees away
        {make_domain(8, 52, 10, 52, 10), -52, -170},     // antipode
        {make_domain(9, 0, -75, 0, -75), 0, 15},         // 90 degrees of longitude from the satellite
        {make_domain(9, 0, -75, 0, -75), 85, -75},       // over the satellite's horizon
    };
    for (const HiddenCase& h : hidden) {
        MAP_domain(&h.domain);
        float x = 1, y = 1;
        EXPECT_EQ(MAP_tran(h.lat, h.lon, &x, &y), 0) << h.domain.proj << " " << h.lat << "," << h.lon;
        EXPECT_EQ(x, kMissing);
        EXPECT_EQ(y, kMissing);
    }
    // Plane points off the earth are invalid.
    struct OffEarth {
        Domain domain;
        float x, y;
    };
    const OffEarth off[] = {
        {make_domain(5, 40, -100, 40, -100), 60, 40},
        {make_domain(7, 0, 0, 0, 0), 0, 64},
        {make_domain(7, 0, 0, 0, 0), 180, 0},
        {make_domain(8, 52, 10, 52, 10), 130, 0},
        {make_domain(9, 0, -75, 0, -75), 80, 0},
        {make_domain(2, 0, 0, 0, 0), 0, 95},
    };
    for (const OffEarth& o : off) {
        MAP_domain(&o.domain);
        float lat = 1, lon = 1;
        EXPECT_EQ(MAP_untran(o.x, o.y, &lat, &lon), 0) << o.domain.proj << " " << o.x << "," << o.y;
        EXPECT_EQ(lat, kMissing);
        EXPECT_EQ(lon, kMissing);
    }
}

// ---- comparison with the PROJ command-line tool ----

struct ProjCase {
    const char* name;
    Domain domain;
    std::string params;
    double scale;  // our plane units x scale = PROJ metres
    double lat_lo, lat_hi;
};

std::vector<ProjCase> proj_cases()
{
    Domain lambert_south = make_domain(4, -25, 130, -30, 135);
    lambert_south.param[0] = -30;
    lambert_south.param[1] = -60;
    Domain lambert_tangent = make_domain(4, 25, -95, 38, -98);
    lambert_tangent.param[0] = 25;
    Domain polar_ts = make_domain(1, 60, 10, 60, 10);
    polar_ts.param[0] = 70;
    Domain scan = make_domain(9, 0, -75, 0, -75);
    scan.param[1] = 1;  // scan angles times the distance from the earth's centre
    const double sat_rad = 421.61, height = (sat_rad - 63.7122) * kUnitMetres;
    return {
        {"polar north", make_domain(1, 60, -105, 60, -105), "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-105", kUnitMetres, -30, 90},
        {"polar south", make_domain(1, -60, 30, -60, 30), "+proj=stere +lat_0=-90 +lat_ts=-60 +lon_0=30", kUnitMetres, -90, 30},
        {"polar true latitude 70", polar_ts, "+proj=stere +lat_0=90 +lat_ts=70 +lon_0=10", kUnitMetres, -30, 90},
        {"mercator", make_domain(3, 0, -80, 20, -80), "+proj=merc +lon_0=-80", kUnitMetres, -80, 80},
        {"lambert north", make_domain(4, 25, -95, 38, -98), "+proj=lcc +lat_1=30 +lat_2=60 +lat_0=90 +lon_0=-95", kUnitMetres, -40, 89},
        {"lambert south", lambert_south, "+proj=lcc +lat_1=-30 +lat_2=-60 +lat_0=-90 +lon_0=130", kUnitMetres, -89, 40},
        // A southern map given the default true latitudes takes them in its own hemisphere.
        {"lambert south default", make_domain(4, -25, 130, -30, 135), "+proj=lcc +lat_1=-30 +lat_2=-60 +lat_0=-90 +lon_0=130", kUnitMetres, -89, 40},
        {"lambert tangent", lambert_tangent, "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=90 +lon_0=-95", kUnitMetres, -40, 89},
        {"orthographic", make_domain(5, 40, -100, 40, -100), "+proj=ortho +lat_0=40 +lon_0=-100", kUnitMetres, -89, 89},
        // Our Mollweide is the usual one divided by the square root of 2.
        {"mollweide", make_domain(7, 0, -30, 0, -30), "+proj=moll +lon_0=-30", kUnitMetres * std::sqrt(2.0), -85, 85},
        {"lambert azimuthal", make_domain(8, 52, 10, 52, 10), "+proj=laea +lat_0=52 +lon_0=10", kUnitMetres, -85, 89},
        {"gnomonic", make_domain(6, 45, 10, 45, 10), "+proj=gnom +lat_0=45 +lon_0=10", kUnitMetres, -40, 89},
        {"satellite", scan, "+proj=geos +h=" + std::to_string(height) + " +lon_0=-75", kUnitMetres * height / (sat_rad * kUnitMetres), -80, 80},
    };
}

TEST(MapProjectionVersusProj, ForwardAgreesToOneMetre)
{
    if (!proj_tool_available()) GTEST_SKIP() << "proj not on PATH";
    for (const ProjCase& c : proj_cases()) {
        MAP_domain(&c.domain);
        std::vector<std::array<double, 2>> points;
        for (double lat = c.lat_lo; lat <= c.lat_hi + 1e-9; lat += (c.lat_hi - c.lat_lo) / 17.0)
            for (double lon = -175.0; lon < 180.0; lon += 15.0)  // give both sides the same float inputs
                points.push_back({static_cast<float>(lon), static_cast<float>(lat)});
        auto reference = run_proj(c.params, points);
        ASSERT_EQ(reference.size(), points.size()) << c.name;
        int compared = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            float x, y;
            int shown = MAP_tran(static_cast<float>(points[i][1]), static_cast<float>(points[i][0]), &x, &y);
            if (!shown || std::isnan(reference[i][0])) continue;
            // Keep to where single-precision plane units still resolve a metre (below 2^7).
            if (std::fabs(x) > 128.0f || std::fabs(y) > 128.0f) continue;
            EXPECT_NEAR(x * c.scale, reference[i][0], 1.0) << c.name << " at " << points[i][1] << "," << points[i][0];
            EXPECT_NEAR(y * c.scale, reference[i][1], 1.0) << c.name << " at " << points[i][1] << "," << points[i][0];
            ++compared;
        }
        EXPECT_GT(compared, 100) << c.name;
    }
}

TEST(MapProjectionVersusProj, OrthographicHidesWhatProjRejects)
{
    if (!proj_tool_available()) GTEST_SKIP() << "proj not on PATH";
    Domain dom = make_domain(5, 40, -100, 40, -100);
    MAP_domain(&dom);
    std::vector<std::array<double, 2>> points;
    for (double lat = -85; lat <= 85; lat += 10)
        for (double lon = -175; lon < 180; lon += 10) {
            // Stay clear of the horizon itself, where the two may round differently.
            if (std::fabs(great_circle_cos(lat, lon, 40, -100)) < 1e-3) continue;
            points.push_back({lon, lat});
        }
    auto reference = run_proj("+proj=ortho +lat_0=40 +lon_0=-100", points);
    ASSERT_EQ(reference.size(), points.size());
    int hidden = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        float x, y;
        int shown = MAP_tran(static_cast<float>(points[i][1]), static_cast<float>(points[i][0]), &x, &y);
        EXPECT_EQ(shown == 1, !std::isnan(reference[i][0])) << points[i][1] << "," << points[i][0];
        hidden += shown ? 0 : 1;
    }
    EXPECT_GT(hidden, 100);
}

}  // namespace
