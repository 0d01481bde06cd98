// Gaussian (regular and reduced), rotated latitude/longitude and space-view grids against
// ecCodes: every fixture of tests/data/grids was written and decoded by ecCodes
// (scripts/make_grid_fixtures.py); beside it, <name>.expect holds the values and the positions
// ecCodes gives for chosen points. Also the Gaussian latitudes themselves, the new domain
// keywords, and spherical-harmonic fields, which have no grid.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "draw.hpp"
#include "grd_read.hpp"
#include "maptran.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kDir = QAZ_TEST_DATA "/grids/";

struct PointPos {
    int gx, gy;
    double lat, lon;
};

struct Expected {
    int nx = 0, ny = 0;
    std::vector<int> rows;  // reduced grid: points per row
    std::vector<PointPos> points;
    std::vector<double> values;
};

std::vector<Expected> read_expected(const std::string& path)
{
    std::ifstream in(path);
    std::vector<Expected> out;
    std::string word;
    while (in >> word) {
        if (word == "grid") {
            Expected e;
            std::string rows;
            in >> e.nx >> e.ny >> rows;
            if (rows != "-") {  // NOLINT
                std::istringstream rs(rows);
                for (std::string n; std::getline(rs, n, ',');) e.rows.push_back(std::stoi(n));
            }
            out.push_back(e);
        } else if (word == "point") {
            PointPos p{};
            in >> p.gx >> p.gy >> p.lat >> p.lon;
            out.back().points.push_back(p);
        } else if (word == "values") {
            std::size_t n = 0;
            in >> n;
            out.back().values.resize(n);
            for (double& v : out.back().values) in >> v;
        }
    }
    return out;
}

// Every grid of a file, values included.
std::vector<GRD_report> read_all(const std::string& path)
{
    std::vector<GRD_report> out;
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    if (fd < 0) return out;
    for (int n = 0;; ++n) {
        GRD_report r;
        GRD_init_report(&r);
        int num = n;
        if (GRD_read(fd, &r, 0, &num) != 0 || !r.grid) {
            GRD_free_report(&r);
            break;
        }
        out.push_back(r);
    }
    GRD_close(fd);
    return out;
}

void free_all(std::vector<GRD_report>& grids)
{
    for (GRD_report& r : grids) GRD_free_report(&r);
}

double lon_gap(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

// Earth position of grid point (gx, gy) of a domain.
bool position(const Domain& dom, float gx, float gy, float* lat, float* lon)
{
    MAP_keep_domain keep;
    MAP_domain(&dom);
    float x, y;
    MAP_grid_tran(gx, gy, &x, &y);
    return MAP_untran(x, y, lat, lon) == 1;
}

struct GridCase {
    const char* file;
    int proj;
    double position_tolerance;  // degrees
};

class RegularGrids : public testing::TestWithParam<GridCase> {};

TEST_P(RegularGrids, ValuesAndPositionsAgreeWithEccodes)
{
    const GridCase& c = GetParam();
    const std::string base = kDir + c.file;
    const std::string stem = base.substr(0, base.rfind('.'));
    const auto expected = read_expected(stem + ".expect");
    auto grids = read_all(base);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(grids.size(), expected.size());
    for (std::size_t m = 0; m < grids.size(); ++m) {
        SCOPED_TRACE("message " + std::to_string(m));
        const GRD_report& r = grids[m];
        const Expected& e = expected[m];
        EXPECT_EQ(r.domain.proj, c.proj);
        ASSERT_EQ(r.domain.nx, e.nx);
        ASSERT_EQ(r.domain.ny, e.ny);
        for (std::size_t k = 0; k < e.values.size(); ++k)
            ASSERT_NEAR(r.grid[k], e.values[k], 1e-4 * std::fabs(e.values[k]) + 1e-3) << "point " << k;
        for (const PointPos& p : e.points) {
            float lat = 0, lon = 0;
            ASSERT_TRUE(position(r.domain, float(p.gx), float(p.gy), &lat, &lon)) << p.gx << "," << p.gy;
            EXPECT_NEAR(lat, p.lat, c.position_tolerance) << p.gx << "," << p.gy;
            EXPECT_LT(lon_gap(lon, p.lon), c.position_tolerance) << p.gx << "," << p.gy << ": " << lon << " " << p.lon;
        }
    }
    free_all(grids);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RegularGrids,
                         testing::Values(GridCase{"gaussian_g1.grib1", MAP_GAUSSIAN, 1e-4},
                                         GridCase{"gaussian_g2.grib2", MAP_GAUSSIAN, 1e-4},
                                         GridCase{"rotated_g1.grib1", MAP_ROTATED, 1e-4},
                                         GridCase{"rotated_g2.grib2", MAP_ROTATED, 1e-4},
                                         GridCase{"space_view_g1.grib1", 9, 0.02},
                                         GridCase{"space_view_g2.grib2", 9, 0.02}),
                         [](const testing::TestParamInfo<GridCase>& info) {
                             std::string name = info.param.file;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

class ReducedGaussian : public testing::TestWithParam<const char*> {};

// Rows go once around the earth: each is expanded to the longest row by linear
// interpolation that wraps from the last point to the first.
TEST_P(ReducedGaussian, RowsExpandWithinTheirRangeFromTheirFirstPoint)
{
    const std::string base = kDir + GetParam();
    const std::string stem = base.substr(0, base.rfind('.'));
    const auto expected = read_expected(stem + ".expect");
    auto grids = read_all(base);
    ASSERT_EQ(expected.size(), 1u);
    ASSERT_EQ(grids.size(), 1u);
    const Expected& e = expected[0];
    const GRD_report& r = grids[0];
    EXPECT_EQ(r.domain.proj, MAP_GAUSSIAN);
    ASSERT_EQ(r.domain.nx, e.nx);
    ASSERT_EQ(r.domain.ny, e.ny);
    EXPECT_EQ(MAP_periodic_columns(&r.domain), e.nx);
    std::size_t start = 0;
    for (int row = 0; row < e.ny; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const int n = e.rows[std::size_t(row)];
        const double* packed = e.values.data() + start;
        const float* got = r.grid + std::size_t(row) * std::size_t(e.nx);
        const auto [lo, hi] = std::minmax_element(packed, packed + n);
        for (int col = 0; col < e.nx; ++col) {
            ASSERT_GE(got[col], *lo - 1e-3);
            ASSERT_LE(got[col], *hi + 1e-3);
            // Columns that fall on a packed point take its value.
            if ((long(col) * n) % e.nx == 0) {
                ASSERT_NEAR(got[col], packed[long(col) * n / e.nx], 1e-3) << col;
            }
        }
        // Columns past the row's last point lead back towards its first point: the wrap.
        const int col = int(std::floor(double(n - 1) * e.nx / n)) + 1;
        if (col < e.nx) {
            const double f = col * double(n) / e.nx - (n - 1);
            ASSERT_NEAR(got[col], packed[n - 1] + f * (packed[0] - packed[n - 1]), 1e-3);
        }
        float lat = 0, lon = 0;
        ASSERT_TRUE(position(r.domain, 0.f, float(row), &lat, &lon));
        const PointPos& p = e.points[std::size_t(row)];
        EXPECT_NEAR(lat, p.lat, 1e-4);
        EXPECT_LT(lon_gap(lon, p.lon), 1e-4);
        start += std::size_t(n);
    }
    free_all(grids);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReducedGaussian,
                         testing::Values("reduced_gaussian_g1.grib1", "reduced_gaussian_g2.grib2"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// Maps of the new grids: the pixel where the transforms put a grid point has its value's colour.
TEST(NewGridMaps, EachPointIsShadedWhereTheTransformsPutIt)
{
    for (const char* file : {"gaussian_g2.grib2", "rotated_g1.grib1", "space_view_g2.grib2"}) {
        SCOPED_TRACE(file);
        auto grids = read_all(kDir + file);
        ASSERT_FALSE(grids.empty());
        const GRD_report& r = grids.back();
        DRAW_map_opts opts;
        DRAW_map_defaults(&opts);
        opts.coast_dir = "/nonexistent";
        const std::string png = (scratch_dir("grib_grids") / "map.png").string();
        ASSERT_EQ(DRAW_map_png(&r, png.c_str(), &opts), 0);
        cairo_surface_t* surface = cairo_image_surface_create_from_png(png.c_str());
        ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
        DRAW_scale scale;
        ASSERT_EQ(DRAW_map_scale(&r, opts.palette, &scale), 0);
        const int nx = r.domain.nx, ny = r.domain.ny;
        for (int k = 0; k < 3; ++k) {
            const int i = (k + 1) * nx / 4, j = (3 - k) * ny / 4;
            float lat, lon, px, py;
            ASSERT_TRUE(position(r.domain, float(i), float(j), &lat, &lon));
            ASSERT_EQ(DRAW_map_pixel(&r, &opts, lat, lon, &px, &py), 1);
            unsigned char want[3];
            DRAW_value_color(&scale, r.grid[std::size_t(j) * nx + i], want);
            // A dashed graticule line may cross the pixel itself: one of its neighbours will do.
            const unsigned char* data = cairo_image_surface_get_data(surface);
            const int stride = cairo_image_surface_get_stride(surface);
            bool found = false;
            for (int dy = -2; dy <= 2 && !found; ++dy)
                for (int dx = -2; dx <= 2 && !found; ++dx) {
                    const std::uint32_t v =
                        *reinterpret_cast<const std::uint32_t*>(data + (int(py) + dy) * stride + (int(px) + dx) * 4);
                    found = std::abs(int((v >> 16) & 255) - want[0]) <= 1 && std::abs(int((v >> 8) & 255) - want[1]) <= 1 &&
                            std::abs(int(v & 255) - want[2]) <= 1;
                }
            EXPECT_TRUE(found) << i << "," << j;
        }
        cairo_surface_destroy(surface);
        free_all(grids);
    }
}

TEST(SpectralFields, AreNamedAndGiveNoValues)
{
    for (const char* file : {"harmonics.grib1", "harmonics.grib2"}) {
        SCOPED_TRACE(file);
        M_type saved = MESS_get();
        MESS_set(0, M_type(M_error | M_warn));
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        auto grids = read_all(kDir + file);
        const std::string said = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        MESS_set(0, saved);
        EXPECT_TRUE(grids.empty());
        EXPECT_NE(said.find("spectral coefficients, not a grid"), std::string::npos) << said;
        free_all(grids);
    }
}

// The roots of the Legendre polynomial: symmetric, and each a zero of P_2n to the last bits
// (checked by the recurrence in long double), for small and operational N.
TEST(GaussianLatitudes, AreTheRootsOfTheLegendrePolynomial)
{
    for (int n : {1, 2, 24, 320, 1280}) {
        SCOPED_TRACE(n);
        const auto lats = MAP_gaussian_lats(n);
        ASSERT_TRUE(lats);
        ASSERT_EQ(lats->size(), std::size_t(2 * n));
        for (int k = 0; k < 2 * n; ++k) {
            const double lat = (*lats)[std::size_t(k)];
            EXPECT_EQ(lat, -(*lats)[std::size_t(2 * n - 1 - k)]);
            if (k > 0) {
                EXPECT_LT(lat, (*lats)[std::size_t(k - 1)]);
            }
            if (k % 97 != 0 && k != n - 1) continue;
            // P_2n and its slope at x = sin(lat): a root gives |P| far below |P'| x the spacing
            // of doubles.
            const long double x = std::sin(static_cast<long double>(lat) * 3.14159265358979323846264338L / 180);
            long double p0 = 1, p1 = x;
            for (int j = 1; j < 2 * n; ++j) {
                const long double p2 = ((2 * j + 1) * x * p1 - j * p0) / (j + 1);
                p0 = p1;
                p1 = p2;
            }
            const long double slope = 2 * n * (p0 - x * p1) / (1 - x * x);
            EXPECT_LT(std::fabs(double(p1 / slope)), 4e-16) << k;
        }
    }
    // Known values: N = 1 has the latitudes +-asin(1/sqrt(3)).
    EXPECT_DOUBLE_EQ((*MAP_gaussian_lats(1))[0], std::asin(1 / std::sqrt(3.0)) * 180 / M_PI);
    EXPECT_FALSE(MAP_gaussian_lats(0));
    EXPECT_FALSE(MAP_gaussian_lats(MAP_MAX_GAUSSIAN_N + 1));
}

// Rows of a Gaussian domain fall exactly on the Gaussian latitudes, and plane and earth
// positions go back and forth on every code.
TEST(GaussianAndRotatedDomains, RowsSitOnGaussianLatitudesAndTransformsInvert)
{
    Domain g;
    DOM_init(&g);
    g.proj = MAP_GAUSSIAN;
    g.param[0] = 80;
    g.clat = 0;
    g.clon = 180;
    g.nx = 320;
    g.ny = 160;
    g.dx = 1.125f;
    g.dy = 90.0f / 80;
    const auto lats = MAP_gaussian_lats(80);
    for (int row : {0, 1, 40, 79, 80, 159}) {
        float lat, lon;
        ASSERT_TRUE(position(g, 3.f, float(row), &lat, &lon));
        EXPECT_NEAR(lat, (*lats)[std::size_t(row)], 2e-5) << row;
        EXPECT_NEAR(lon, 3.9375, 1e-4);  // 180 - 319 x 1.125 / 2 + 3 x 1.125
    }
    Domain rot;
    DOM_init(&rot);
    rot.proj = MAP_ROTATED;
    rot.param[0] = -35;
    rot.param[1] = 15;
    rot.param[2] = 20;
    rot.clat = 50;
    rot.clon = 10;
    rot.nx = rot.ny = 101;
    rot.dx = rot.dy = 0.2f;
    for (const Domain& dom : {g, rot}) {
        MAP_keep_domain keep;
        MAP_domain(&dom);
        for (float lat : {-70.f, -20.f, 0.f, 33.f, 51.5f, 80.f})
            for (float lon : {-170.f, -60.f, 0.f, 12.5f, 100.f}) {
                float x, y, lat2, lon2;
                ASSERT_EQ(MAP_tran(lat, lon, &x, &y), 1);
                ASSERT_EQ(MAP_untran(x, y, &lat2, &lon2), 1);
                EXPECT_NEAR(lat2, lat, 2e-4) << dom.proj;
                EXPECT_LT(lon_gap(lon2, lon), 2e-4) << dom.proj;
            }
    }
    // Rotation: the rotated south pole is the given point; the rotated equator at rotated
    // longitude 0 lies 90 degrees north of it on its meridian (angle 0).
    rot.param[2] = 0;
    double rlat, rlon, lat, lon;
    MAP_rotate(&rot, -35, 15, &rlat, &rlon);
    EXPECT_NEAR(rlat, -90, 1e-9);
    MAP_unrotate(&rot, 0, 0, &lat, &lon);
    EXPECT_NEAR(lat, 55, 1e-9);
    EXPECT_NEAR(lon, 15, 1e-9);
    // The angle turns the rotated longitudes about the rotated axis.
    rot.param[2] = 20;
    MAP_unrotate(&rot, 0, -20, &lat, &lon);
    EXPECT_NEAR(lat, 55, 1e-9);
    EXPECT_NEAR(lon, 15, 1e-9);
}

TEST(GaussianAndRotatedDomains, DomainStringsNameThem)
{
    struct Case {
        const char* text;
        int proj;
        float param0, param1;
    } cases[] = {
        {"gauss:640,0,180,1280,640,0.28125,0.140625", MAP_GAUSSIAN, 640, -9999},
        {"gaussian:::80,0,0,320,160,1.125,1.125", MAP_GAUSSIAN, 80, -9999},
        {"rotll:::-40:10,50,10,101,101,0.2,0.2", MAP_ROTATED, -40, 10},
    };
    for (const Case& c : cases) {
        Domain d;
        DOM_init(&d);
        ASSERT_EQ(DOM_decode(c.text, &d), 1) << c.text;
        EXPECT_EQ(d.proj, c.proj) << c.text;
        EXPECT_EQ(d.param[0], c.param0) << c.text;
        EXPECT_EQ(d.param[1], c.param1) << c.text;
    }
}

// Map text keeps font caches to the end of the process; the sanitizer build checks leaks.
class ReleaseFonts : public ::testing::Environment {
public:
    void TearDown() override { DRAW_release(); }
};
const auto* const release_fonts = ::testing::AddGlobalTestEnvironment(new ReleaseFonts);

}  // namespace
