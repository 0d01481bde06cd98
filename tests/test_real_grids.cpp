// Operational model grids written as domain strings: the corner points of each grid must land on
// the coordinates that the published grid definitions give, and every grid point on the position
// an independent projection tool computes for it.
//
// A published grid is given by its first point, spacing, size and projection; ours by its centre.
// The centres below are the middle points of the published grids, reproduced from the published
// first point and spacing on the grid's own sphere. Earth radius: the NCEP grids use 6371.2 km,
// the 3 km rapid-refresh grid 6371.229 km, ours 6371.22 km; over 5000 km these differ by less
// than 20 m, well inside the 0.1 km allowed at the corners (the published coordinates carry three
// decimals, about 55 m).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "maptran.hpp"
#include "proj_helpers.hpp"
#include "region.hpp"

namespace {

constexpr double kEarthKm = 6371.22;
constexpr double kUnitKm = 100.0;  // plane units are 100 km

struct PublishedGrid {
    const char* name;
    const char* domain;         // our domain string for the grid
    bool north_first;           // rows stored from the north: the first point is the north-west corner
    double first_lat, first_lon;  // grid point (1,1)
    double last_lat, last_lon;    // grid point (nx,ny)
    const char* proj_params;    // the same projection for the independent tool ("" for lat/lon)
};

// Longitudes as published east of Greenwich (0..360) are written here as -180..180.
const PublishedGrid kGrids[] = {
    {"NCEP 211: 81 km Lambert, tangent 25N", "lc:25:-95:25:25,40.605687,-100.554768,93,65,0.812705,0.812705", false,
     12.190, -133.459, 57.290, -49.385, "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=-95"},
    {"NCEP 212: 40 km Lambert, tangent 25N", "lc:25:-95:25:25,40.605687,-100.554768,185,129,0.4063525,0.4063525",
     false, 12.190, -133.459, 57.290, -49.385, "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=-95"},
    {"NCEP 218: 12 km Lambert, tangent 25N", "lc:25:-95:25:25,40.622527,-100.578821,614,428,0.1219058,0.1219058",
     false, 12.190, -133.459, 57.328, -49.420, "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=-95"},
    {"NCEP 130: 13 km Lambert, tangent 25N", "lc:25:-95:25:25,39.959084,-98.219897,451,337,0.13545087,0.13545087",
     false, 16.281, -126.138, 55.481, -57.380, "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=-95"},
    {"NCEP 221: 32 km Lambert, tangent 50N", "lc:50:-107:50:50,48.807457,-106.781691,349,277,0.3246341,0.3246341",
     false, 1.000, -145.500, 46.352, -2.566, "+proj=lcc +lat_1=50 +lat_2=50 +lat_0=50 +lon_0=-107"},
    {"3 km rapid-refresh CONUS Lambert, tangent 38.5N", "lc:38.5:-97.5:38.5:38.5,38.497247,-97.505977,1799,1059,0.03,0.03",
     false, 21.138123, -122.719528, 47.842195, -60.917193, "+proj=lcc +lat_1=38.5 +lat_2=38.5 +lat_0=38.5 +lon_0=-97.5"},
    {"NCEP 104: 91 km polar stereographic", "ps:60:-105,45.180889,-106.590677,147,110,0.9075464,0.9075464", false,
     -0.268, -139.475, 32.747, -14.598, "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-105"},
    {"NCEP 240: 4.8 km hydrologic polar stereographic", "ps:60:-105,39.755435,-97.118182,1121,881,0.047625,0.047625",
     false, 23.117, -119.023, 45.619, -59.959, "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-105"},
    {"NCEP 242: 11 km Alaska polar stereographic", "ps:60:-135,59.646133,-155.338794,553,425,0.1125,0.1125", false,
     30.000, -173.000, 70.111, -62.850, "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-135"},
    // Mercator true at 20N with 160 km spacing there: 1.6 / cos(20) plane units at the equator.
    {"NCEP 204: 160 km Mercator across the date line", "merc,24.663413,-179.564210,93,68,1.7026844,1.7026844", false,
     -25.000, 110.000, 60.644, -109.129, "+proj=merc +lon_0=-179.56421"},
    {"NCEP 2: 2.5 degree global latitude-longitude", "ll,0,178.75,144,73,2.5,2.5", true, 90.0, 0.0, -90.0, 357.5, ""},
    {"1 degree global latitude-longitude", "ll,0,179.5,360,181,1,1", true, 90.0, 0.0, -90.0, 359.0, ""},
    {"0.25 degree global latitude-longitude", "ll,0,179.875,1440,721,0.25,0.25", true, 90.0, 0.0, -90.0, 359.75, ""},
};

double distance_km(double lat1, double lon1, double lat2, double lon2)
{
    const double r = M_PI / 180.0;
    double dlat = (lat2 - lat1) * r, dlon = (lon2 - lon1) * r;
    double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
               std::cos(lat1 * r) * std::cos(lat2 * r) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2.0 * kEarthKm * std::asin(std::min(1.0, std::sqrt(a)));
}

Domain decode_grid(const PublishedGrid& grid)
{
    Domain domain;
    DOM_init(&domain);
    EXPECT_EQ(DOM_decode(grid.domain, &domain), 1) << grid.name;
    EXPECT_EQ(MAP_domain(&domain), 0) << grid.name;
    return domain;
}

// Earth position of grid point (column i, row j) counted as the published grid counts them,
// from 0 at its first point.
bool grid_point(const Domain& domain, bool north_first, int i, int j, double& lat, double& lon)
{
    float gy = static_cast<float>(north_first ? j : domain.ny - 1 - j);
    float x = 0, y = 0, flat = 0, flon = 0;
    if (MAP_grid_tran(static_cast<float>(i), gy, &x, &y) != 0) return false;
    if (MAP_untran(x, y, &flat, &flon) != 1) return false;
    lat = flat;
    lon = flon;
    return true;
}

TEST(PublishedGrids, CornersLandOnThePublishedCoordinates)
{
    for (const PublishedGrid& grid : kGrids) {
        Domain domain = decode_grid(grid);
        double lat = 0, lon = 0;
        ASSERT_TRUE(grid_point(domain, grid.north_first, 0, 0, lat, lon)) << grid.name;
        EXPECT_LT(distance_km(lat, lon, grid.first_lat, grid.first_lon), 0.1)
            << grid.name << ": first point " << lat << "," << lon;
        ASSERT_TRUE(grid_point(domain, grid.north_first, domain.nx - 1, domain.ny - 1, lat, lon)) << grid.name;
        EXPECT_LT(distance_km(lat, lon, grid.last_lat, grid.last_lon), 0.1)
            << grid.name << ": last point " << lat << "," << lon;
        // The centre given in the string is the middle grid point.
        ASSERT_TRUE(grid_point(domain, grid.north_first, (domain.nx - 1) / 2, (domain.ny - 1) / 2, lat, lon));
        if (domain.nx % 2 == 1 && domain.ny % 2 == 1) {
            EXPECT_LT(distance_km(lat, lon, domain.clat, domain.clon), 0.01) << grid.name;
        }
    }
}

TEST(PublishedGrids, LongitudesWrittenEastOfGreenwich)
{
    // Grid tables give longitudes from 0 to 360 east; the same grids written so land alike, and
    // positions still come back in -180..180.
    const struct {
        const char* east;
        const char* west;
    } pairs[] = {
        {"lc:25:265:25:25,40.605687,259.445232,93,65,0.812705,0.812705",
         "lc:25:-95:25:25,40.605687,-100.554768,93,65,0.812705,0.812705"},
        {"ps:60:255,45.180889,253.409323,147,110,0.9075464,0.9075464",
         "ps:60:-105,45.180889,-106.590677,147,110,0.9075464,0.9075464"},
        {"merc,24.663413,180.43579,93,68,1.7026844,1.7026844", "merc,24.663413,-179.564210,93,68,1.7026844,1.7026844"},
        {"ll,0,539.5,360,181,1,1", "ll,0,179.5,360,181,1,1"},
    };
    for (const auto& pair : pairs) {
        Domain east, west;
        ASSERT_EQ(DOM_decode(pair.east, &east), 1) << pair.east;
        ASSERT_EQ(DOM_decode(pair.west, &west), 1) << pair.west;
        for (int corner = 0; corner < 4; ++corner) {
            float gx = corner % 2 ? east.nx - 1.0f : 0.0f, gy = corner / 2 ? east.ny - 1.0f : 0.0f;
            float x = 0, y = 0, lat_e = 0, lon_e = 0, lat_w = 0, lon_w = 0;
            MAP_domain(&east);
            MAP_grid_tran(gx, gy, &x, &y);
            ASSERT_EQ(MAP_untran(x, y, &lat_e, &lon_e), 1) << pair.east;
            MAP_domain(&west);
            MAP_grid_tran(gx, gy, &x, &y);
            ASSERT_EQ(MAP_untran(x, y, &lat_w, &lon_w), 1) << pair.west;
            EXPECT_LT(distance_km(lat_e, lon_e, lat_w, lon_w), 0.01) << pair.east << " corner " << corner;
            EXPECT_GE(lon_e, -180.0f) << pair.east;
            EXPECT_LE(lon_e, 180.0f) << pair.east;
        }
    }
}

TEST(PublishedGrids, GridPointsMapBackToTheirIndices)
{
    // Earth point to grid index and back, at points spread over each whole grid.
    for (const PublishedGrid& grid : kGrids) {
        Domain domain = decode_grid(grid);
        for (int j = 0; j < domain.ny; j += std::max(1, domain.ny / 9))
            for (int i = 0; i < domain.nx; i += std::max(1, domain.nx / 9)) {
                double lat = 0, lon = 0;
                ASSERT_TRUE(grid_point(domain, grid.north_first, i, j, lat, lon)) << grid.name << " " << i << "," << j;
                if (std::fabs(lat) > 89.99) continue;  // a pole row has no single longitude
                float x = 0, y = 0, gx = 0, gy = 0;
                ASSERT_EQ(MAP_tran(static_cast<float>(lat), static_cast<float>(lon), &x, &y), 1) << grid.name;
                ASSERT_EQ(MAP_grid_untran(x, y, &gx, &gy), 0);
                double row = grid.north_first ? gy : domain.ny - 1 - gy;
                // A hundredth of a cell, or 1 m on the finest grids (single-precision plane units).
                double cell_tol = std::max(0.01, 0.001 / (domain.dx * kUnitKm));
                EXPECT_NEAR(gx, i, cell_tol) << grid.name << " at " << lat << "," << lon;
                EXPECT_NEAR(row, j, cell_tol) << grid.name << " at " << lat << "," << lon;
            }
    }
}

TEST(PublishedGrids, EdgePointsLieInTheirOwnDomain)
{
    // The outermost rows and columns belong to the grid, also after a trip to the earth and back
    // (single-precision plane units round them a metre either way); a hundredth of a cell
    // beyond is outside.
    for (const PublishedGrid& grid : kGrids) {
        Domain domain = decode_grid(grid);
        int outside = 0, outside_after_trip = 0, index_outside = 0;
        for (int j = 0; j < domain.ny; ++j)
            for (int i = 0; i < domain.nx; ++i) {
                if (i > 0 && i < domain.nx - 1 && j > 0 && j < domain.ny - 1) continue;
                float x = 0, y = 0, lat = 0, lon = 0, gx = 0, gy = 0;
                MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
                outside += MAP_in_domain(x, y) ? 0 : 1;
                if (MAP_untran(x, y, &lat, &lon) != 1 || std::fabs(lat) > 89.99f) continue;
                MAP_tran(lat, lon, &x, &y);
                outside_after_trip += MAP_in_domain(x, y) ? 0 : 1;
                MAP_grid_untran(x, y, &gx, &gy);
                if (gx < -1e-3f || gy < -1e-3f || gx > domain.nx - 1 + 1e-3f || gy > domain.ny - 1 + 1e-3f) ++index_outside;
            }
        EXPECT_EQ(outside, 0) << grid.name;
        EXPECT_EQ(outside_after_trip, 0) << grid.name;
        EXPECT_EQ(index_outside, 0) << grid.name;
        MAP_limits limits;
        MAP_get_limits(&limits);
        float beyond_x = 0.01f * domain.dx, beyond_y = 0.01f * domain.dy;
        EXPECT_EQ(MAP_in_domain(limits.x_max + beyond_x, limits.y_max), 0) << grid.name;
        EXPECT_EQ(MAP_in_domain(limits.x_min - beyond_x, limits.y_min), 0) << grid.name;
        EXPECT_EQ(MAP_in_domain(limits.x_min, limits.y_min - beyond_y), 0) << grid.name;
        EXPECT_EQ(MAP_in_domain(limits.x_max, limits.y_max + beyond_y), 0) << grid.name;
    }
}

TEST(PublishedGrids, LatitudeLongitudeGridsFollowTheirSpacing)
{
    for (const PublishedGrid& grid : kGrids) {
        if (grid.proj_params[0] != '\0') continue;
        Domain domain = decode_grid(grid);
        for (int j = 0; j < domain.ny; j += 7)
            for (int i = 0; i < domain.nx; i += 11) {
                double lat = 0, lon = 0;
                ASSERT_TRUE(grid_point(domain, true, i, j, lat, lon));
                EXPECT_NEAR(lat, grid.first_lat - j * domain.dy, 1e-3) << grid.name << " " << i << "," << j;
                EXPECT_NEAR(std::remainder(lon - (grid.first_lon + i * domain.dx), 360.0), 0.0, 1e-3)
                    << grid.name << " " << i << "," << j;
                EXPECT_GE(lon, -180.0);
                EXPECT_LE(lon, 180.0);
            }
    }
}

TEST(PublishedGrids, WindDirectionsTurnByTheConeAngle)
{
    // Grid-relative winds of these grids are turned to the earth by n (lon - LoV), with n the
    // sine of the tangent latitude of a Lambert grid, 1 on a polar stereographic grid and 0 on
    // a cylindrical one; a northerly wind west of LoV blows towards the upper right of the map.
    for (const PublishedGrid& grid : kGrids) {
        Domain domain = decode_grid(grid);
        double cone = domain.proj == 4 ? std::sin(domain.param[0] * M_PI / 180.0) : domain.proj == 1 ? 1.0 : 0.0;
        for (int j = 0; j < domain.ny; j += std::max(1, domain.ny / 5))
            for (int i = 0; i < domain.nx; i += std::max(1, domain.nx / 5)) {
                double lat = 0, lon = 0;
                ASSERT_TRUE(grid_point(domain, grid.north_first, i, j, lat, lon));
                if (std::fabs(lat) > 89.9) continue;
                float x = 0, y = 0;
                ASSERT_EQ(MAP_tran(static_cast<float>(lat), static_cast<float>(lon), &x, &y), 1);
                double turn = -cone * std::remainder(lon - domain.plon, 360.0);
                for (float direction : {0.0f, 90.0f, 225.0f}) {
                    double plane = MAP_dir_adj(direction, x, y);
                    EXPECT_NEAR(std::remainder(plane - (direction + turn), 360.0), 0.0, 0.01)
                        << grid.name << " at " << lat << "," << lon << " direction " << direction;
                    EXPECT_NEAR(std::remainder(MAP_undir_adj(static_cast<float>(plane), x, y) - direction, 360.0), 0.0,
                                0.01)
                        << grid.name << " at " << lat << "," << lon;
                }
            }
    }
}

// ---- every grid point against the PROJ command-line tool ----

TEST(PublishedGridsVersusProj, EveryGridPointIsWhereProjPutsIt)
{
    if (!proj_tool_available()) GTEST_SKIP() << "proj not on PATH";
    for (const PublishedGrid& grid : kGrids) {
        if (grid.proj_params[0] == '\0') continue;
        Domain domain = decode_grid(grid);
        // The grid's centre, then our earth position of each sampled grid point.
        std::vector<std::array<double, 2>> points{{domain.clon, domain.clat}};
        std::vector<std::array<int, 2>> index;
        for (int j = 0; j < domain.ny; j += std::max(1, domain.ny / 12))
            for (int i = 0; i < domain.nx; i += std::max(1, domain.nx / 12)) {
                double lat = 0, lon = 0;
                ASSERT_TRUE(grid_point(domain, grid.north_first, i, j, lat, lon)) << grid.name;
                points.push_back({lon, lat});
                index.push_back({i, j});
            }
        auto metres = run_proj(grid.proj_params, points);
        ASSERT_EQ(metres.size(), points.size()) << grid.name;
        // proj's offset of each of our points from the centre must be a whole number of grid
        // spacings (rows counted northward, as in these grids). Mercator spacing is true at 20N.
        double spacing_m = domain.dx * kUnitKm * 1000.0;
        double centre_i = (domain.nx - 1) / 2.0, centre_j = (domain.ny - 1) / 2.0;
        for (std::size_t k = 1; k < metres.size(); ++k) {
            double east = metres[k][0] - metres[0][0], north = metres[k][1] - metres[0][1];
            const auto& ij = index[k - 1];
            // 5 m: our plane units are single-precision floats up to 150 units (1.5 m steps).
            EXPECT_NEAR(east, (ij[0] - centre_i) * spacing_m, 5.0) << grid.name << " point " << ij[0] << "," << ij[1];
            EXPECT_NEAR(north, (ij[1] - centre_j) * spacing_m, 5.0) << grid.name << " point " << ij[0] << "," << ij[1];
        }
    }
}

}  // namespace
