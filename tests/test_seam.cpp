// Grids around the whole earth are periodic: point values, remaps and centred derivatives treat
// the gap between the last column and 360 degrees as interior, on latitude/longitude and
// Gaussian grids alike.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "grid_helpers.hpp"
#include "maptran.hpp"
#include "scratch_dir.hpp"

namespace {

// 1-degree columns from 0 to 359 E, rows from 60N down.
Domain global_1deg(int ny)
{
    return latlon_domain(60.0f - 0.5f * (ny - 1), 179.5f, 360, ny, 1.0f, 1.0f);
}

// The whole Gaussian grid of N = 32, 128 columns from 0 E.
Domain global_gaussian()
{
    Domain d;
    DOM_init(&d);
    d.proj = MAP_GAUSSIAN;
    d.param[0] = 32;
    d.nx = 128;
    d.ny = 64;
    d.dx = 2.8125f;
    d.dy = 90.0f / 32;
    d.clat = 0;
    d.clon = 178.59375f;  // half way from 0 to 357.1875
    return d;
}

// Longitude of column i and latitude of row j of a domain.
void place(const Domain& d, int i, int j, double* lat, double* lon)
{
    MAP_keep_domain keep;
    MAP_domain(&d);
    float x, y, la, lo;
    MAP_grid_tran(float(i), float(j), &x, &y);
    MAP_untran(x, y, &la, &lo);
    *lat = la;
    *lon = lo;
}

struct SeamCase {
    const char* name;
    Domain domain;
};

std::vector<SeamCase> seam_cases() { return {{"latlon_1deg", global_1deg(21)}, {"gaussian_n32", global_gaussian()}}; }

// A field that rises along each row and falls back across the seam: bilinear interpolation
// between the last column and the first is exact for it.
float column_field(int i, int j) { return float(3 * i + 2 * j); }

TEST(Seam, GlobalGridsAreNamedPeriodicAndOthersNot)
{
    for (const SeamCase& c : seam_cases()) EXPECT_EQ(MAP_periodic_columns(&c.domain), c.domain.nx) << c.name;
    Domain short_of_a_turn = latlon_domain(50, 179, 359, 21, 1.0f, 1.0f);
    EXPECT_EQ(MAP_periodic_columns(&short_of_a_turn), 0);
    Domain polar = projected_domain(1, 90, -105, 45, -100, 360, 21, 1.0f);
    EXPECT_EQ(MAP_periodic_columns(&polar), 0);
}

TEST(Seam, PointValuesBetweenTheLastColumnAndTheFirst)
{
    for (const SeamCase& c : seam_cases()) {
        SCOPED_TRACE(c.name);
        TestGrid g(c.domain);
        for (int j = 0; j < g.ny(); ++j)
            for (int i = 0; i < g.nx(); ++i) g.at(i, j) = column_field(i, j);
        const int last = g.nx() - 1, row = 7;
        double lat, last_lon;
        place(c.domain, last, row, &lat, &last_lon);
        if (last_lon < 0) last_lon += 360;
        for (double f : {0.1, 0.5, 0.9}) {
            // The same place written east (357.x) and west (-2.x) of the meridian.
            for (double shift : {0.0, -360.0}) {
                const double lon = last_lon + f * c.domain.dx + shift;
                float gx, gy;
                ASSERT_EQ(GRD_get_position(&g.g, float(lat), float(lon), &gx, &gy), 0) << lon;
                EXPECT_NEAR(gx, last + f, 1e-3) << lon;
                const float expected = float((1 - f) * column_field(last, row) + f * column_field(0, row));
                // Single-precision plane coordinates: a few millionths of a column.
                const double across = std::fabs(column_field(last, row) - column_field(0, row));
                EXPECT_NEAR(GRD_get_value(&g.g, gx, gy), expected, 2e-5 * across + 1e-3) << lon;
            }
        }
    }
}

TEST(Seam, RemapOntoADomainAcrossTheMeridian)
{
    for (const SeamCase& c : seam_cases()) {
        SCOPED_TRACE(c.name);
        TestGrid g(c.domain);
        for (int j = 0; j < g.ny(); ++j)
            for (int i = 0; i < g.nx(); ++i) g.at(i, j) = column_field(i, j);
        double lat, last_lon;
        place(c.domain, 0, 5, &lat, &last_lon);
        // Five columns from 3 W to 1 E on the latitude of row 5: every one has a value, and
        // those west of 0 E fall between the last column and the first.
        const Domain small = latlon_domain(float(lat), -1.0f, 5, 1, 1.0f, 1.0f);
        TestGrid out;
        ASSERT_EQ(GRD_remap(&out.g, &small, &g.g), 0);
        for (int i = 0; i < 5; ++i) {
            const double lon = -3.0 + i;
            const double col = lon < 0 ? (lon + 360) / c.domain.dx : lon / c.domain.dx;
            const int a = int(col) % c.domain.nx, b = (a + 1) % c.domain.nx;
            const double f = col - std::floor(col);
            EXPECT_NEAR(out.at(i, 0), (1 - f) * column_field(a, 5) + f * column_field(b, 5), 2e-3) << lon;
        }
    }
}

// Solid-body rotation about an axis through the equator at 180 E: across 0 E the winds turn
// and the vorticity 2 W cos(angle from the axis) / a varies along the rows. With the seam
// treated as interior the edge columns are as good as their neighbours; one-sided differences
// there would be several times worse.
TEST(Seam, SolidBodyVorticityAtTheEdgeColumns)
{
    for (const SeamCase& c : seam_cases()) {
        SCOPED_TRACE(c.name);
        Domain d = c.domain;
        if (d.proj == 2) d = global_1deg(101);  // 60N to 40S
        TestGrid u(d), v(d), rv;
        const double w = 10.0;
        const double axis[3] = {-1, 0, 0};
        std::vector<double> expected(static_cast<std::size_t>(d.nx) * d.ny);
        for (int j = 0; j < d.ny; ++j)
            for (int i = 0; i < d.nx; ++i) {
                double lat, lon;
                place(d, i, j, &lat, &lon);
                const double p = lat * kRad, l = lon * kRad;
                const double r[3] = {std::cos(p) * std::cos(l), std::cos(p) * std::sin(l), std::sin(p)};
                const double east[3] = {-std::sin(l), std::cos(l), 0};
                const double north[3] = {-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l), std::cos(p)};
                const double vel[3] = {w * (axis[1] * r[2] - axis[2] * r[1]), w * (axis[2] * r[0] - axis[0] * r[2]),
                                       w * (axis[0] * r[1] - axis[1] * r[0])};
                u.at(i, j) = float(vel[0] * east[0] + vel[1] * east[1] + vel[2] * east[2]);
                v.at(i, j) = float(vel[0] * north[0] + vel[1] * north[1] + vel[2] * north[2]);
                expected[static_cast<std::size_t>(j) * d.nx + i] =
                    2.0 * w * (axis[0] * r[0] + axis[1] * r[1] + axis[2] * r[2]) / kEarth;
            }
        ASSERT_EQ(GRD_vorticity(&u.g, &v.g, &rv.g), 0);
        double edge = 0, inner = 0;
        for (int j = 1; j < d.ny - 1; ++j)
            for (int i = 0; i < d.nx; ++i) {
                const double err = std::fabs(rv.at(i, j) - expected[static_cast<std::size_t>(j) * d.nx + i]);
                if (i == 0 || i == d.nx - 1)
                    edge = std::max(edge, err);
                else if (i <= 2 || i >= d.nx - 3)
                    inner = std::max(inner, err);
            }
        EXPECT_LT(edge, 1.5 * inner + 1e-9) << "edge " << edge << " beside it " << inner;
        EXPECT_LT(edge, 5e-3 * 2.0 * w / kEarth);
    }
}

TEST(Seam, GridcalcGivesAValueWestOfTheMeridian)
{
    const std::string command = "cd " + scratch_dir("seam").string() + " && " QAZ_BIN_DIR "/gridcalc -fp " QAZ_SHARE_SRC
                                "/ -fm %.3f " QAZ_TEST_DATA "/grids/seam_ll1.grib2 val ll 51.47,-0.45 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_TRUE(p);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    double value = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "%lf", &value), 1) << out;
    // Row 8.53 (value + 4.265), 0.55 of the way from column 359 (359) to column 0 (0).
    EXPECT_NEAR(value, 0.45 * 359 + 0.5 * 8.53, 0.01) << out;
}

}  // namespace
