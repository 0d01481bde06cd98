// What a forecaster reads off a picture, checked in its pixels: contour labels on their lines,
// H at a height maximum, zero amounts left white, barbs pointing into the wind on two
// projections, the LCL mark at the LCL's pressure and the hodograph's 1 km point; and the
// title lines and reader's units.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "draw.hpp"
#include "region.hpp"
#include "scratch_dir.hpp"
#include "thm_tool.hpp"

namespace {

constexpr float kMissing = -9999.0f;

struct Png {
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> s{nullptr, cairo_surface_destroy};
    explicit Png(const std::string& path) : s(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
    bool ok() const { return cairo_surface_status(s.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(s.get()); }
    int height() const { return cairo_image_surface_get_height(s.get()); }
    void rgb(int x, int y, int out[3]) const
    {
        out[0] = out[1] = out[2] = 255;
        if (x < 0 || y < 0 || x >= width() || y >= height()) return;
        unsigned char* d = cairo_image_surface_get_data(s.get());
        int stride = cairo_image_surface_get_stride(s.get());
        std::uint32_t v = *reinterpret_cast<std::uint32_t*>(d + y * stride + x * 4);
        out[0] = (v >> 16) & 255;
        out[1] = (v >> 8) & 255;
        out[2] = v & 255;
    }
    bool dark(int x, int y) const
    {
        int c[3];
        rgb(x, y, c);
        return c[0] + c[1] + c[2] < 200;
    }
    // Any pixel within r of (x, y) for which test holds.
    template <typename Fn>
    bool near(double x, double y, int r, Fn test) const
    {
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
                int c[3];
                rgb(static_cast<int>(x) + dx, static_cast<int>(y) + dy, c);
                if (test(c)) return true;
            }
        return false;
    }
};

std::string path(const char* name) { return (scratch_dir("qaz_draw_marks") / name).string(); }

Domain domain(int proj, float clat, float clon, float dx, int nx, int ny)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.clat = clat;
    d.clon = clon;
    d.dx = d.dy = dx;
    d.nx = nx;
    d.ny = ny;
    if (proj == 4) {
        d.plat = 38.5f;
        d.plon = clon;
        d.param[0] = d.param[1] = 38.5f;
    }
    return d;
}

struct Field {
    GRD_report rep{};
    std::vector<float> v;
    template <typename Fn>
    Field(const Domain& dom, Fn f, const char* info, const char* units)
    {
        rep.domain = dom;
        v.resize(static_cast<std::size_t>(dom.nx) * dom.ny);
        for (int j = 0; j < dom.ny; ++j)
            for (int i = 0; i < dom.nx; ++i) v[j * dom.nx + i] = f(i, j);
        rep.grid = v.data();
        rep.time = 0;
        rep.date = Date{-9999, -9999, -9999, -9999, -9999, -9999, -9999, -9999};
        std::snprintf(rep.info, sizeof rep.info, "%s", info);
        std::snprintf(rep.units, sizeof rep.units, "%s", units);
    }
    float at(int i, int j) const { return v[j * rep.domain.nx + i]; }
};

// Latitude/longitude of grid point (i, j).
void earth_of(const Domain& dom, int i, int j, float* lat, float* lon)
{
    MAP_domain(&dom);
    float x, y;
    MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
    MAP_untran(x, y, lat, lon);
}

DRAW_map_opts quiet_map()
{
    DRAW_map_opts o;
    DRAW_map_defaults(&o);
    o.coast_dir = "/nonexistent";  // no coastlines in the way
    return o;
}

TEST(MapMarks, ContourLabelsSitOnTheirLinesAndNowhereElse)
{
    // Values rise eastward by one per column: the 20 and 40 lines are the columns 20 and 40.
    Domain dom = domain(2, 40, -100, 0.25f, 61, 41);
    Field f(dom, [](int i, int) { return static_cast<float>(i); }, "Test", "K");
    DRAW_map_opts o = quiet_map();
    o.cint = 20;
    o.extremes = 0;
    ASSERT_EQ(DRAW_map_png(&f.rep, path("labels.png").c_str(), &o), 0);
    Png png(path("labels.png"));
    ASSERT_TRUE(png.ok());
    float lat, lon, x20, x40, x_west, y_top, x_east, y_bottom;
    earth_of(dom, 20, 20, &lat, &lon);
    ASSERT_EQ(DRAW_map_pixel(&f.rep, &o, lat, lon, &x20, &y_top), 1);
    earth_of(dom, 40, 20, &lat, &lon);
    ASSERT_EQ(DRAW_map_pixel(&f.rep, &o, lat, lon, &x40, &y_top), 1);
    earth_of(dom, 0, 0, &lat, &lon);
    DRAW_map_pixel(&f.rep, &o, lat, lon, &x_west, &y_top);
    earth_of(dom, 60, 40, &lat, &lon);
    DRAW_map_pixel(&f.rep, &o, lat, lon, &x_east, &y_bottom);
    // White (a label's box) inside the map only beside the two lines, and some beside each.
    int white_by[2] = {0, 0}, white_elsewhere = 0;
    for (int y = static_cast<int>(y_top) + 2; y < static_cast<int>(y_bottom) - 2; ++y)
        for (int x = static_cast<int>(x_west) + 2; x < static_cast<int>(x_east) - 2; ++x) {
            int c[3];
            png.rgb(x, y, c);
            if (c[0] < 250 || c[1] < 250 || c[2] < 250) continue;
            if (std::fabs(x - x20) <= 9) ++white_by[0];
            else if (std::fabs(x - x40) <= 9) ++white_by[1];
            else ++white_elsewhere;
        }
    EXPECT_GT(white_by[0], 20);
    EXPECT_GT(white_by[1], 20);
    EXPECT_EQ(white_elsewhere, 0);
}

TEST(MapMarks, HighMarkAtTheMaximumOfAHeightField)
{
    Domain dom = domain(2, 40, -100, 0.5f, 61, 41);
    auto bump = [](int i, int j) {
        double r2 = (i - 38.0) * (i - 38.0) + (j - 15.0) * (j - 15.0);
        return static_cast<float>(5500 + 200 * std::exp(-r2 / 60.0));
    };
    Field f(dom, bump, "500 mb Height", "gpm");
    float lat, lon, hx, hy, far_x, far_y;
    earth_of(dom, 38, 15, &lat, &lon);
    DRAW_map_opts o = quiet_map();
    ASSERT_EQ(DRAW_map_pixel(&f.rep, &o, lat, lon, &hx, &hy), 1);
    earth_of(dom, 10, 32, &lat, &lon);
    ASSERT_EQ(DRAW_map_pixel(&f.rep, &o, lat, lon, &far_x, &far_y), 1);
    auto blue = [](const int c[3]) { return c[2] > 150 && c[0] < 90 && c[1] < 120; };
    struct Case {
        int extremes;
        bool marked;
    } cases[] = {{-1, true}, {1, true}, {0, false}};
    for (const Case& c : cases) {
        o.extremes = c.extremes;
        ASSERT_EQ(DRAW_map_png(&f.rep, path("high.png").c_str(), &o), 0);
        Png png(path("high.png"));
        ASSERT_TRUE(png.ok());
        EXPECT_EQ(png.near(hx, hy, 9, blue), c.marked) << "extremes " << c.extremes;
        EXPECT_FALSE(png.near(far_x, far_y, 9, blue));
    }
    // A plain field (not a height or pressure) gets no marks unless asked.
    Field plain(dom, bump, "Test", "K");
    o.extremes = -1;
    ASSERT_EQ(DRAW_map_png(&plain.rep, path("plain.png").c_str(), &o), 0);
    Png png(path("plain.png"));
    EXPECT_FALSE(png.near(hx, hy, 9, blue));
}

TEST(MapMarks, ZeroPrecipitationIsUnshadedAndTheFirstAmountLight)
{
    Domain dom = domain(2, 40, -100, 0.25f, 61, 41);
    Field f(dom, [](int i, int j) { return i > 40 && j > 25 ? static_cast<float>(i - 40) : 0.0f; }, "Total precipitation", "kg/m^2");
    DRAW_scale scale;
    ASSERT_EQ(DRAW_map_scale(&f.rep, DRAW_PALETTE_AUTO, &scale), 0);
    EXPECT_EQ(scale.palette, DRAW_PALETTE_AMOUNT);
    unsigned char rgb[3];
    EXPECT_EQ(DRAW_value_color(&scale, 0.0f, rgb), -1);
    ASSERT_EQ(DRAW_value_color(&scale, 1.0f, rgb), 0);
    EXPECT_GT(rgb[0] + rgb[1] + rgb[2], 450);  // a trace is light, not dark purple
    DRAW_map_opts o = quiet_map();
    ASSERT_EQ(DRAW_map_png(&f.rep, path("precip.png").c_str(), &o), 0);
    Png png(path("precip.png"));
    ASSERT_TRUE(png.ok());
    struct Probe {
        int i, j;
        bool shaded;
    } probes[] = {{9, 9, false}, {25, 33, false}, {55, 35, true}};
    for (const Probe& p : probes) {
        float lat, lon, px, py;
        earth_of(dom, p.i, p.j, &lat, &lon);
        ASSERT_EQ(DRAW_map_pixel(&f.rep, &o, lat, lon, &px, &py), 1);
        int c[3];
        png.rgb(static_cast<int>(px), static_cast<int>(py), c);
        unsigned char want[3] = {255, 255, 255};
        EXPECT_EQ(DRAW_value_color(&scale, f.at(p.i, p.j), want) == 0, p.shaded);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], want[k], 1) << p.i << "," << p.j;
    }
    // Other fields keep their palettes.
    Field temp(dom, [](int i, int) { return 270.0f + i; }, "Temperature", "K");
    ASSERT_EQ(DRAW_map_scale(&temp.rep, DRAW_PALETTE_AUTO, &scale), 0);
    EXPECT_EQ(scale.palette, DRAW_PALETTE_SEQUENTIAL);
}

TEST(MapMarks, BarbStaffPointsIntoTheWindOnEveryProjection)
{
    const Domain doms[] = {domain(2, 40, -100, 2.0f, 9, 7), domain(4, 40, -100, 2.0f, 9, 7)};
    struct Wind {
        float u, v;          // m/s, towards which the wind blows
        float dlat, dlon;    // a step towards where it comes from
    } winds[] = {{20, 0, 0, -1}, {0, 20, -1, 0}, {-15, 0, 0, 1}};
    for (const Domain& dom : doms)
        for (const Wind& w : winds) {
            Field speed(dom, [&](int, int) { return std::hypot(w.u, w.v); }, "Wind speed", "m/s");
            Field u(dom, [&](int, int) { return w.u; }, "U", "m/s");
            Field v(dom, [&](int, int) { return w.v; }, "V", "m/s");
            DRAW_map_opts o = quiet_map();
            o.wind_u = &u.rep;
            o.wind_v = &v.rep;
            ASSERT_EQ(DRAW_map_png(&speed.rep, path("barbs.png").c_str(), &o), 0);
            Png png(path("barbs.png"));
            ASSERT_TRUE(png.ok());
            float lat, lon, px, py, ux, uy;
            earth_of(dom, 4, 3, &lat, &lon);
            ASSERT_EQ(DRAW_map_pixel(&speed.rep, &o, lat, lon, &px, &py), 1);
            ASSERT_EQ(DRAW_map_pixel(&speed.rep, &o, lat + w.dlat, lon + w.dlon, &ux, &uy), 1);
            double len = std::hypot(ux - px, uy - py);
            double dx = (ux - px) / len, dy = (uy - py) / len;
            EXPECT_TRUE(png.near(px + 14 * dx, py + 14 * dy, 1, [](const int c[3]) { return c[0] + c[1] + c[2] < 200; }))
                << "proj " << dom.proj << " wind " << w.u << "," << w.v;
            EXPECT_FALSE(png.near(px - 14 * dx, py - 14 * dy, 1, [](const int c[3]) { return c[0] + c[1] + c[2] < 200; }))
                << "proj " << dom.proj << " wind " << w.u << "," << w.v;
        }
}

TEST(MapTitles, ParameterUnitAndTimesAsAReaderWritesThem)
{
    Domain dom = domain(2, 40, -100, 1.0f, 3, 3);
    struct Case {
        const char* info;
        const char* units;
        int time;
        const char* what;
        const char* when_starts;
    } cases[] = {
        {"500 mb Temperature (C)", "C", 0, "500 mb Temperature (\u00b0C)", "Analysis 1200Z  8 MAY 24"},
        {"MSL Pressure (mb)", "mb", 24, "MSL Pressure (hPa)", "Valid 1200Z  9 MAY 24   (+24 h from"},
        {"2 m AGL Relative humidity", "percent", 6, "2 m AGL Relative humidity (%)", "Valid 1800Z  8 MAY 24   (+6 h"},
        {"10 m U wind", "m_s-1", 0, "10 m U wind (m/s)", "Analysis"},
        // Accumulated over 0-6 h (time range 4 from 0 to 6 h): the statistic goes with the name.
        {"Surface Total precipitation", "kg/m^2", 4 * 1000000 + 0 * 1000 + 6, "Surface Total precipitation, acc 0-6 h (kg/m^2)",
         "Valid 1800Z  8 MAY 24   (from 1200Z  8 MAY 24)"},
    };
    for (const Case& c : cases) {
        Field f(dom, [](int, int) { return 1.0f; }, c.info, c.units);
        f.rep.time = c.time;
        f.rep.date = Date{2024, 5, 8, 129, 3, 12, 0, 0};
        char what[80], when[80];
        ASSERT_EQ(DRAW_map_titles(&f.rep, what, sizeof what, when, sizeof when), 0);
        EXPECT_STREQ(what, c.what);
        EXPECT_EQ(std::string(when).rfind(c.when_starts, 0), 0u) << when;
        if (c.time > 0) {
            EXPECT_NE(std::string(when).find("from 1200Z  8 MAY 24)"), std::string::npos) << when;
        }
    }
    char small[8], when[8];
    Field f(dom, [](int, int) { return 1.0f; }, "A long description of a field", "K");
    EXPECT_EQ(DRAW_map_titles(&f.rep, small, sizeof small, when, sizeof when), 0);
    EXPECT_EQ(std::strlen(small), 7u);  // cut, terminated
    EXPECT_EQ(DRAW_map_titles(nullptr, small, sizeof small, when, sizeof when), -1);
}

// The sounding of the skew-T tests: surface 1000 mb at 110 m.
const UPA_level kLevels[] = {{1000, 110, 25, 20, 180, 10}, {850, 1500, 16, 12, 210, 25}, {700, 3100, 6, -4, 240, 40},
                             {500, 5800, -12, -30, 250, 55}, {300, 9400, -40, -55, 260, 80}, {200, 12000, -55, -70, 260, 90}};

TEST(DiagramMarks, LclMarkAtTheLclPressure)
{
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    ASSERT_EQ(DRAW_diagram_png(kLevels, 6, kLevels, 6, nullptr, 0, path("lcl.png").c_str(), &o), 0);
    Png png(path("lcl.png"));
    ASSERT_TRUE(png.ok());
    float ts = 25 + 273.15f, tds = 20 + 273.15f;
    float plcl = lcl_pres(ts, tds, 1000.0f);
    float tlcl = lcl_temp(ts, 1000.0f, plcl) - 273.15f;
    ASSERT_GT(plcl, 900.0f);
    ASSERT_LT(plcl, 960.0f);
    float px, py;
    ASSERT_EQ(DRAW_diagram_pixel(&o, tlcl, plcl, &px, &py), 1);
    EXPECT_TRUE(png.near(px + 15, py, 1, [](const int c[3]) { return c[0] + c[1] + c[2] < 150; }));
    for (float off : {-9.0f, 9.0f})  // a mark 2 pixels thick, no wider
        EXPECT_FALSE(png.dark(static_cast<int>(px + 15), static_cast<int>(py + off))) << off;
}

TEST(DiagramMarks, HodographOneKmPointWhereTheOneKmWindPutsIt)
{
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    ASSERT_EQ(DRAW_diagram_png(kLevels, 6, kLevels, 6, nullptr, 0, path("hodo.png").c_str(), &o), 0);
    Png png(path("hodo.png"));
    ASSERT_TRUE(png.ok());
    // 1 km above the 110 m ground: 1000 of the 1390 m between the first two winds.
    auto comp = [](float dir, float spd, double* u, double* v) {
        *u = -spd * std::sin(dir * M_PI / 180);
        *v = -spd * std::cos(dir * M_PI / 180);
    };
    double u0, v0, u1, v1, w = 1000.0 / 1390.0;
    comp(180, 10, &u0, &v0);
    comp(210, 25, &u1, &v1);
    double u = u0 + w * (u1 - u0), v = v0 + w * (v1 - v0);
    float dir = static_cast<float>(std::atan2(-u, -v) * 180 / M_PI), spd = static_cast<float>(std::hypot(u, v));
    float px, py, qx, qy;
    ASSERT_EQ(DRAW_hodograph_pixel(&o, kLevels, 6, dir, spd, &px, &py), 1);
    EXPECT_TRUE(png.dark(static_cast<int>(px), static_cast<int>(py)));
    // The 3 km dot is elsewhere, and the picture's first wind is not at the 1 km place.
    ASSERT_EQ(DRAW_hodograph_pixel(&o, kLevels, 6, 180, 10, &qx, &qy), 1);
    EXPECT_GT(std::hypot(px - qx, py - qy), 5.0f);
    o.hodograph = 0;
    EXPECT_EQ(DRAW_hodograph_pixel(&o, kLevels, 6, dir, spd, &px, &py), 0);
}

class ReleaseFonts : public ::testing::Environment {
public:
    void TearDown() override { DRAW_release(); }
};
const auto* const release_fonts = ::testing::AddGlobalTestEnvironment(new ReleaseFonts);

}  // namespace
