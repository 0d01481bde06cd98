// Pictures read back from their PNG files: shading, missing points, coastlines where the
// transforms put them, and a sounding's temperature line on a skew-T.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "draw.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "scratch_dir.hpp"

namespace {

constexpr float kMissing = -9999.0f;

struct Png {
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> s{nullptr, cairo_surface_destroy};
    explicit Png(const std::string& path) : s(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
    bool ok() const { return cairo_surface_status(s.get()) == CAIRO_STATUS_SUCCESS; }
    void rgb(int x, int y, int out[3]) const
    {
        unsigned char* d = cairo_image_surface_get_data(s.get());
        int stride = cairo_image_surface_get_stride(s.get());
        std::uint32_t v = *reinterpret_cast<std::uint32_t*>(d + y * stride + x * 4);
        out[0] = (v >> 16) & 255;
        out[1] = (v >> 8) & 255;
        out[2] = v & 255;
    }
};

struct Grid {
    GRD_report rep{};
    std::vector<float> values;
    Grid(const Domain& dom, float (*field)(int, int))
    {
        rep.domain = dom;
        values.resize(static_cast<std::size_t>(dom.nx) * dom.ny);
        for (int j = 0; j < dom.ny; ++j)
            for (int i = 0; i < dom.nx; ++i) values[j * dom.nx + i] = field(i, j);
        rep.grid = values.data();
        std::snprintf(rep.info, sizeof rep.info, "Test field");
        std::snprintf(rep.units, sizeof rep.units, "K");
    }
};

Domain make(int proj, float plat, float plon, float clat, float clon, float dx, int nx, int ny)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    d.clat = clat;
    d.clon = clon;
    d.dx = d.dy = dx;
    d.nx = nx;
    d.ny = ny;
    if (proj == 4) d.param[0] = d.param[1] = 38.5f;
    if (proj == 1) d.param[0] = 60.0f;
    return d;
}

// The east coast of North America on the three projections grids come on.
const Domain kCoastDomains[] = {
    make(2, kMissing, kMissing, 36.0f, -76.0f, 0.25f, 81, 61),  // latitude/longitude, 0.25 degrees
    make(1, 90.0f, -76.0f, 36.0f, -76.0f, 0.2f, 61, 51),        // polar stereographic, 20 km
    make(4, 38.5f, -76.0f, 36.0f, -76.0f, 0.2f, 61, 51),        // Lambert conformal, 20 km
};

class Draw : public ::testing::Test {
protected:
    std::string path(const char* name) const { return (scratch_dir("qaz_draw") / name).string(); }
};

TEST_F(Draw, GridPointPixelHasTheColourBarColourOfItsValueAndMissingPointsStayWhite)
{
    for (const Domain& dom : kCoastDomains) {
        Grid g(dom, [](int i, int j) { return (i == 10 && j == 12) ? kMissing : 250.0f + i * 0.5f - j * 0.3f; });
        DRAW_map_opts opts;
        DRAW_map_defaults(&opts);
        opts.coast_dir = "/nonexistent";  // shading alone
        std::string file = path("shade.png");
        ASSERT_EQ(DRAW_map_png(&g.rep, file.c_str(), &opts), 0);
        Png png(file);
        ASSERT_TRUE(png.ok());
        DRAW_scale scale;
        ASSERT_EQ(DRAW_map_scale(&g.rep, opts.palette, &scale), 0);
        EXPECT_EQ(scale.palette, DRAW_PALETTE_SEQUENTIAL);
        // Pixels of grid points, found through the grid's own transform.
        struct Probe {
            int i, j;
        } probes[] = {{3, 4}, {41, 29}, {70, 55}, {10, 12}};  // off the 2-degree net: its dashes cover the shade
        for (const Probe& p : probes) {
            MAP_domain(&dom);
            float x, y, lat, lon;
            ASSERT_EQ(MAP_grid_tran(static_cast<float>(p.i), static_cast<float>(p.j), &x, &y), 0);
            ASSERT_EQ(MAP_untran(x, y, &lat, &lon), 1);
            if (p.i >= dom.nx || p.j >= dom.ny) continue;
            float px, py;
            ASSERT_EQ(DRAW_map_pixel(&g.rep, &opts, lat, lon, &px, &py), 1);
            int got[3];
            png.rgb(static_cast<int>(px), static_cast<int>(py), got);
            unsigned char want[3] = {255, 255, 255};
            DRAW_value_color(&scale, g.values[p.j * dom.nx + p.i], want);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 1) << "proj " << dom.proj << " point " << p.i << "," << p.j;
        }
    }
}

TEST_F(Draw, CoastlinesLieWhereTheTransformPutsKnownCapes)
{
    if (access("/usr/share/gmt-gshhg/binned_GSHHS_i.nc", R_OK) != 0) GTEST_SKIP() << "no coastline set";
    struct Cape {
        const char* name;
        float lat, lon;
    } capes[] = {{"Cape Hatteras", 35.2232f, -75.5298f}, {"Cape Lookout", 34.5833f, -76.5367f}};
    for (const Domain& dom : kCoastDomains) {
        Grid g(dom, [](int, int) { return 280.0f; });  // one colour: a mid-ramp teal
        DRAW_map_opts opts;
        DRAW_map_defaults(&opts);
        std::string file = path("coast.png");
        ASSERT_EQ(DRAW_map_png(&g.rep, file.c_str(), &opts), 0);
        Png png(file);
        ASSERT_TRUE(png.ok());
        for (const Cape& cape : capes) {
            float px, py;
            ASSERT_EQ(DRAW_map_pixel(&g.rep, &opts, cape.lat, cape.lon, &px, &py), 1);
            int darkest = 1000;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    int rgb[3];
                    png.rgb(static_cast<int>(px) + dx, static_cast<int>(py) + dy, rgb);
                    darkest = std::min(darkest, rgb[0] + rgb[1] + rgb[2]);
                }
            EXPECT_LT(darkest, 200) << cape.name << " on projection " << dom.proj;
        }
    }
}

TEST_F(Draw, SkewTTemperatureLinePassesThroughItsLevels)
{
    UPA_level levels[] = {{1000, 110, 25, 20, 180, 10}, {850, 1500, 16, 12, 210, 25}, {700, 3100, 6, -4, 240, 40},
                          {500, 5800, -12, -30, 250, 55}, {300, 9400, -40, -55, 260, 80}, {200, 12000, -55, -70, 260, 90}};
    DRAW_index table[] = {{"LI", -6.2f, "C"}, {"CAPE", 2400.0f, "J/kg"}, {"PW", kMissing, "mm"}};
    for (int proj : {40, 41, 42, 43, 44}) {
        DRAW_diagram_opts opts;
        DRAW_diagram_defaults(&opts);
        opts.proj = proj;
        std::string file = path("skewt.png");
        ASSERT_EQ(DRAW_diagram_png(levels, 6, levels, 6, table, 3, file.c_str(), &opts), 0) << proj;
        Png png(file);
        ASSERT_TRUE(png.ok());
        for (const UPA_level& l : {levels[1], levels[3]}) {
            float px, py;
            ASSERT_EQ(DRAW_diagram_pixel(&opts, l.t, l.p, &px, &py), 1) << proj;
            int rgb[3];
            png.rgb(static_cast<int>(px), static_cast<int>(py), rgb);
            EXPECT_GT(rgb[0], 150) << "proj " << proj << " at " << l.p;  // the red temperature line
            EXPECT_LT(rgb[1], 110) << "proj " << proj << " at " << l.p;
        }
    }
}

TEST_F(Draw, BadRequestsFailWithoutAPicture)
{
    Grid g(kCoastDomains[0], [](int, int) { return 1.0f; });
    MESS_reset();
    EXPECT_EQ(DRAW_map_png(&g.rep, "/nonexistent-dir/x.png", nullptr), -1);
    Grid none(kCoastDomains[0], [](int, int) { return kMissing; });
    EXPECT_EQ(DRAW_map_png(&none.rep, path("none.png").c_str(), nullptr), -1);
    GRD_report diagram_grid = g.rep;
    diagram_grid.domain.proj = 40;
    EXPECT_EQ(DRAW_map_png(&diagram_grid, path("diagram.png").c_str(), nullptr), -1);
    DRAW_diagram_opts opts;
    DRAW_diagram_defaults(&opts);
    opts.p_top = 2000;  // above the bottom
    EXPECT_EQ(DRAW_diagram_png(nullptr, 0, nullptr, 0, nullptr, 0, path("d.png").c_str(), &opts), -1);
    EXPECT_EQ(DRAW_diagram_png(nullptr, 0, nullptr, 0, nullptr, 0, "/nonexistent-dir/d.png", nullptr), -1);
}

TEST(DrawScale, DivergingForFieldsCentredOnZero)
{
    Domain dom = make(2, kMissing, kMissing, 0, 0, 1, 3, 1);
    struct Case {
        float a, b, c;
        const char* units;
        int palette;
    } cases[] = {{-4, 0, 5, "", DRAW_PALETTE_DIVERGING},
                 {-1, 0, 9, "", DRAW_PALETTE_SEQUENTIAL},
                 {1e-5f, 2e-5f, 3e-5f, "/s", DRAW_PALETTE_DIVERGING},
                 {270, 280, 290, "K", DRAW_PALETTE_SEQUENTIAL}};
    for (const Case& c : cases) {
        float v[3] = {c.a, c.b, c.c};
        GRD_report r{};
        r.domain = dom;
        r.grid = v;
        std::snprintf(r.units, sizeof r.units, "%s", c.units);
        DRAW_scale s;
        ASSERT_EQ(DRAW_map_scale(&r, DRAW_PALETTE_AUTO, &s), 0);
        EXPECT_EQ(s.palette, c.palette) << c.a << " " << c.c;
        if (s.palette == DRAW_PALETTE_DIVERGING) {
            EXPECT_EQ(s.lo, -s.hi);
            unsigned char mid[3];
            DRAW_value_color(&s, 0.0f, mid);
            EXPECT_GT(mid[0] + mid[1] + mid[2], 700);  // zero is white
        }
    }
}

// Text drawing keeps font caches to the end of the process; the sanitizer build checks leaks.
class ReleaseFonts : public ::testing::Environment {
public:
    void TearDown() override { DRAW_release(); }
};
const auto* const release_fonts = ::testing::AddGlobalTestEnvironment(new ReleaseFonts);

}  // namespace
