// gridcalc run as a process on grid files written by the library: inventory, point values at
// stations and positions, statistics, a derived field from two grids written to netCDF and
// read back, unit change, remap to a named region, and the failures with their exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "draw.hpp"
#include "grid_helpers.hpp"
#include "scratch_dir.hpp"
#include "date.hpp"
#include "resrc.hpp"
#include "string.hpp"

namespace {

const std::string kGridcalc = QAZ_BIN_DIR "/gridcalc";

struct Outcome {
    int status = -1;
    std::string output;   // standard output and error together
};

Outcome run(const std::string& args)
{
    Outcome r;
    const std::string command = "cd " + scratch_dir("gridcalc").string() + " && " + kGridcalc +
                                " -fp " QAZ_SHARE_SRC "/ " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) r.output += buffer;
    const int wstatus = pclose(p);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return r;
}

std::string path(const char* name) { return (scratch_dir("gridcalc") / name).string(); }

// 500 mb heights rising northward and a wind turning with longitude, on 30..50N 110..90W.
const Domain kDomain = latlon_domain(40.0f, -100.0f, 21, 11, 1.0f, 2.0f);

float height(double lat, double) { return static_cast<float>(5500.0 + 10.0 * lat); }

void write_grids(const char* name, int type, std::vector<GRD_report*> grids)
{
    int f_type = type;
    const int fd = GRD_open(path(name).c_str(), 1, &f_type);
    ASSERT_GE(fd, 0) << name;
    GRD_info info{};
    str_copy(info.datim, sizeof info.datim, grids[0]->datim);
    info.date = grids[0]->date;
    info.max_x = kDomain.nx;
    info.max_y = kDomain.ny;
    ASSERT_EQ(GRD_putinfo(fd, &info), 0);
    for (std::size_t k = 0; k < grids.size(); ++k) ASSERT_EQ(GRD_write(fd, grids[k], 0, static_cast<int>(k)), 0);
    ASSERT_EQ(GRD_close(fd), 0);
}

void describe(TestGrid& t, int var, int level, const char* units)
{
    t.g.var = var;
    t.g.ltype = 100;
    t.g.level = level;
    t.g.time = 0;
    t.g.model = 7096;
    t.g.source = 7;
    t.g.type = 255;
    t.g.date = Date{2026, 1, 1, 1, 4, 12, 0, 0};
    DATE_make_label(&t.g.date, t.g.datim, sizeof t.g.datim);
    str_copy(t.g.units, sizeof t.g.units, units);
    GRD_make_datatype(&t.g);
}

class Gridcalc : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TestGrid z(kDomain), t850(kDomain), t500(kDomain), u(kDomain), v(kDomain);
        fill(z, [](double lat, double lon, float, float) { return height(lat, lon); });
        fill(t850, [](double lat, double, float, float) { return static_cast<float>(300.0 - 0.5 * lat); });
        fill(t500, [](double lat, double, float, float) { return static_cast<float>(270.0 - 0.5 * lat); });
        fill(u, [](double lat, double, float, float) { return static_cast<float>(20.0 * std::cos(lat * kRad)); });
        fill(v, [](double, double lon, float, float) { return static_cast<float>(0.2 * (lon + 100.0)); });
        describe(z, 7, 500, "m");
        describe(t850, 11, 850, "K");
        describe(t500, 11, 500, "K");
        describe(u, 33, 500, "m/s");
        describe(v, 34, 500, "m/s");
        write_grids("z.grd", GRD_TYPE_QAZ, {&z.g});
        write_grids("t.grd", GRD_TYPE_QAZ, {&t850.g, &t500.g});
        write_grids("uv.nc", GRD_TYPE_NETCDF, {&u.g, &v.g});
    }
};

TEST_F(Gridcalc, InventoryListsEveryGridAndTheDomain)
{
    const Outcome r = run("t.grd info");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("  0 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  1 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("850"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Domain: "), std::string::npos) << r.output;
    const Outcome nc = run("uv.nc info");
    EXPECT_EQ(nc.status, 0) << nc.output;
    EXPECT_NE(nc.output.find("  1 "), std::string::npos) << nc.output;
}

TEST_F(Gridcalc, ValuesAtPositionsStationsAndStatistics)
{
    const Outcome ll = run("-fm %.2f z.grd val ll 40,-100 35.5,-95");
    ASSERT_EQ(ll.status, 0) << ll.output;
    EXPECT_EQ(ll.output, "5900.00\n5855.00\n");
    const Outcome station = run("-fm %.1f z.grd val id KDEN");
    ASSERT_EQ(station.status, 0) << station.output;
    // the value is the last line; the station search may say what it looks for first
    const std::string last = station.output.substr(station.output.rfind('\n', station.output.size() - 2) + 1);
    EXPECT_NEAR(std::atof(last.c_str()), height(39.87, 0), 0.05) << station.output;
    const Outcome outside = run("z.grd val ll 10,-100");
    EXPECT_EQ(outside.output, "--\n");
    const Outcome loc = run("z.grd loc ll 40,-100");
    EXPECT_EQ(loc.output, "10.000000 5.000000\n");
    const Outcome stats = run("z.grd maxmin");
    EXPECT_EQ(stats.output, "6000.000000 5800.000000 \n");
    // A format with more than one conversion is refused, not handed to printf.
    const Outcome fmt = run("-fm %s%s z.grd val ll 40,-100");
    EXPECT_EQ(fmt.status, 0);
    EXPECT_NE(fmt.output.find("5900.000000"), std::string::npos) << fmt.output;
}

TEST_F(Gridcalc, VorticityOfTwoGridsWrittenToNetcdfAndReadBack)
{
    const Outcome r = run("uv.nc,var=33 rvort uv.nc,var=34 = vort.nc");
    ASSERT_EQ(r.status, 0) << r.output;
    // The result's variable has no number of its own: it is still found without a request.
    const Outcome stats = run("vort.nc maxmin");
    EXPECT_EQ(stats.status, 0) << stats.output;
    EXPECT_EQ(stats.output.find("past the end"), std::string::npos) << stats.output;
    TestGrid back, u, v, expected;
    GRD_set_request(nullptr, 0);
    ASSERT_GT(GRD_read_file(path("vort.nc").c_str(), &back.g, nullptr, -9999), 0);
    GRD_set_request(nullptr, 0);
    ASSERT_GT(GRD_read_file(path("uv.nc").c_str(), &u.g, nullptr, -9999), 0);
    GRD_set_request(nullptr, 1);
    ASSERT_GT(GRD_read_file(path("uv.nc").c_str(), &v.g, nullptr, -9999), 0);
    ASSERT_EQ(GRD_vorticity(&u.g, &v.g, &expected.g), 0);
    ASSERT_EQ(back.nx(), kDomain.nx);
    ASSERT_EQ(back.ny(), kDomain.ny);
    for (int k = 0; k < kDomain.nx * kDomain.ny; ++k) EXPECT_NEAR(back.g.grid[k], expected.g.grid[k], 1e-5) << k;
}

TEST_F(Gridcalc, UnitChangeAndRemapToANamedRegion)
{
    const Outcome unit = run("t.grd,lev=850 unit C = t850c.grd");
    ASSERT_EQ(unit.status, 0) << unit.output;
    TestGrid c;
    GRD_set_request(nullptr, -9999);
    ASSERT_GT(GRD_read_file(path("t850c.grd").c_str(), &c.g, nullptr, -9999), 0);
    EXPECT_NEAR(c.at(0, 0), 300.0 - 0.5 * 50.0 - 273.15, 1e-3);
    EXPECT_STREQ(c.g.units, "C");

    const Outcome remap = run("z.grd remap mw = z_mw.nc");
    ASSERT_EQ(remap.status, 0) << remap.output;
    TestGrid r;
    ASSERT_GT(GRD_read_file(path("z_mw.nc").c_str(), &r.g, nullptr, -9999), 0);
    EXPECT_EQ(r.g.domain.proj, 1);
    int present = 0;
    for (int j = 0; j < r.ny(); ++j)
        for (int i = 0; i < r.nx(); ++i) {
            if (r.at(i, j) == kMiss) continue;
            ++present;
            float lat = 0, lon = 0;
            point_lat_lon(r.g.domain, i, j, &lat, &lon);
            EXPECT_NEAR(r.at(i, j), height(lat, lon), 0.05) << i << "," << j;
        }
    EXPECT_GT(present, 0);
}

TEST_F(Gridcalc, FailuresSayWhyAndExitNonZero)
{
    struct Case {
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"nosuch.grd info", 1, "Unable to open grid file: nosuch.grd"},
        {"nosuch.grd max", 1, "Unable to open grid file: nosuch.grd"},
        {"z.grd frobnicate", 3, "Math function not available: frobnicate"},
        {"z.grd,lev=300 max", 2, "No grid matches"},
        {"z.grd add z.grd,var=11 = out.grd", 2, "No grid matches"},
        {"z.grd", 1, "Usage"},
        {"z.grd remap nowhere_region", 1, "Unknown domain"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}

TEST_F(Gridcalc, ArithmeticWithAConstantAndHelp)
{
    const Outcome r = run("z.grd sub 5000 = dz.grd");
    ASSERT_EQ(r.status, 0) << r.output;
    const Outcome v = run("-fm %.1f dz.grd val ll 40,-100");
    EXPECT_EQ(v.output, "900.0\n");
    const Outcome help = run("-help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("-gn number"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("rvort"), std::string::npos) << help.output;
}

}  // namespace

namespace {

TEST_F(Gridcalc, FileWideReductionsAndMosaics)
{
    const Outcome avg = run("t.grd avg = tavg.grd");
    ASSERT_EQ(avg.status, 0) << avg.output;
    const Outcome v = run("-fm %.2f tavg.grd val ll 40,-100");
    EXPECT_EQ(v.output, "265.00\n") << v.output;   // (280 + 250) / 2
    const Outcome mosaic = run("t.grd piece 2x1 = tt.grd");
    ASSERT_EQ(mosaic.status, 0) << mosaic.output;
    TestGrid m;
    GRD_set_request(nullptr, -9999);
    ASSERT_GT(GRD_read_file(path("tt.grd").c_str(), &m.g, nullptr, -9999), 0);
    EXPECT_EQ(m.nx(), 2 * (kDomain.nx - 1) + 1);
    EXPECT_EQ(m.ny(), kDomain.ny);
    EXPECT_NEAR(m.at(0, 0), 300.0 - 25.0, 1e-3);                // left tile: 850 mb
    EXPECT_NEAR(m.at(m.nx() - 1, 0), 270.0 - 25.0, 1e-3);      // right tile: 500 mb
}

}  // namespace

namespace {

TEST_F(Gridcalc, SearchFillsEverySlotFromOnePass)
{
    RES_put("file_path", QAZ_SHARE_SRC "/");
    int type = 0;
    const int fd = GRD_open(path("t.grd").c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    TestGrid slots[3];
    VAR_data req[3];
    int num = 0;
    ASSERT_EQ(GRD_parse_params("var=11,lev=500", &req[0], &num), 0);
    ASSERT_EQ(GRD_parse_params("var=11,lev=850,units=C", &req[1], &num), 0);
    ASSERT_EQ(GRD_parse_params("var=11,lev=700", &req[2], &num), 0);
    GRD_report grids[3];
    for (int k = 0; k < 3; ++k) grids[k] = slots[k].g;
    EXPECT_EQ(GRD_search(fd, grids, req, -9999, -2), 1);   // the first two slots
    EXPECT_EQ(grids[0].level, 500);
    EXPECT_EQ(grids[1].level, 850);
    EXPECT_NEAR(grids[1].grid[0], 300.0 - 25.0 - 273.15, 1e-3);
    GRD_rewind(fd);
    EXPECT_EQ(GRD_search(fd, grids, req, -9999, -3), 0);    // no 700 mb grid
    for (GRD_report& g : grids) std::free(g.grid);
    for (TestGrid& s : slots) s.g.grid = nullptr;
    GRD_close(fd);
}

}  // namespace

namespace {

// The map's pixel of a grid point carries the colour-bar colour of the grid's value there.
TEST_F(Gridcalc, PictureOfTheResultShadedByValue)
{
    const Outcome r = run("z.grd add 0 = z.png -pd size,800,500 -pa cint=50");
    ASSERT_EQ(r.status, 0) << r.output;
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> png(
        cairo_image_surface_create_from_png(path("z.png").c_str()), cairo_surface_destroy);
    ASSERT_EQ(cairo_surface_status(png.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png.get()), 800);
    EXPECT_EQ(cairo_image_surface_get_height(png.get()), 500);

    TestGrid z(kDomain);
    fill(z, [](double lat, double lon, float, float) { return height(lat, lon); });
    DRAW_map_opts opts;
    DRAW_map_defaults(&opts);
    opts.width = 800;
    opts.height = 500;
    DRAW_scale scale;
    ASSERT_EQ(DRAW_map_scale(&z.g, DRAW_PALETTE_AUTO, &scale), 0);
    struct Point {
        float lat, lon;
    } points[] = {{32, -108}, {44, -94}, {48, -91}};  // away from contours and the 5-degree net
    const unsigned char* data = cairo_image_surface_get_data(png.get());
    const int stride = cairo_image_surface_get_stride(png.get());
    for (const Point& p : points) {
        float px, py;
        ASSERT_EQ(DRAW_map_pixel(&z.g, &opts, p.lat, p.lon, &px, &py), 1);
        std::uint32_t pixel;
        std::memcpy(&pixel, data + static_cast<int>(py) * stride + static_cast<int>(px) * 4, 4);
        unsigned char want[3];
        DRAW_value_color(&scale, height(p.lat, p.lon), want);
        EXPECT_NEAR((pixel >> 16) & 255, want[0], 2) << p.lat;
        EXPECT_NEAR((pixel >> 8) & 255, want[1], 2) << p.lat;
        EXPECT_NEAR(pixel & 255, want[2], 2) << p.lat;
    }
    const Outcome bad = run("z.grd add 0 = /nonexistent-dir/z.png");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("Unable to write picture file /nonexistent-dir/z.png"), std::string::npos) << bad.output;
    DRAW_release();
}

}  // namespace

namespace {

// A grid drawn as it is selected (no function), and winds drawn as barbs over their speed;
// a wind map needs a picture to go to.
TEST_F(Gridcalc, SelectedGridAndWindMapsWithoutAFunction)
{
    struct Case {
        const char* args;
        int status;
        const char* file;     // written picture, or null
        const char* message;  // in the output, or null
    } cases[] = {
        {"z.grd = direct.png", 0, "direct.png", nullptr},
        {"uv.nc,var=33 barbs uv.nc,var=34 = wind.png", 0, "wind.png", nullptr},
        {"uv.nc,var=33 arrows uv.nc,var=34 = arrows.png", 0, "arrows.png", nullptr},
        {"uv.nc,var=33 barbs uv.nc,var=34 = wind.grd", 1, nullptr, "give an output file ending in .png"},
        {"uv.nc,var=33 barbs nosuch.grd = w.png", 1, nullptr, "Unable to open grid file: nosuch.grd"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        if (c.message) {
            EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
        }
        if (!c.file) continue;
        std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> png(
            cairo_image_surface_create_from_png(path(c.file).c_str()), cairo_surface_destroy);
        EXPECT_EQ(cairo_surface_status(png.get()), CAIRO_STATUS_SUCCESS) << c.args;
    }
    // The direct picture shades the grid itself: the same pixels as the map drawn in-process.
    TestGrid z(kDomain);
    fill(z, [](double lat, double lon, float, float) { return height(lat, lon); });
    DRAW_map_opts opts;
    DRAW_map_defaults(&opts);
    DRAW_scale scale;
    ASSERT_EQ(DRAW_map_scale(&z.g, DRAW_PALETTE_AUTO, &scale), 0);
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> png(
        cairo_image_surface_create_from_png(path("direct.png").c_str()), cairo_surface_destroy);
    ASSERT_EQ(cairo_surface_status(png.get()), CAIRO_STATUS_SUCCESS);
    float px, py;
    ASSERT_EQ(DRAW_map_pixel(&z.g, &opts, 44, -94, &px, &py), 1);
    std::uint32_t pixel;
    std::memcpy(&pixel, cairo_image_surface_get_data(png.get()) + static_cast<int>(py) * cairo_image_surface_get_stride(png.get()) +
                            static_cast<int>(px) * 4,
                4);
    unsigned char want[3];
    DRAW_value_color(&scale, height(44, -94), want);
    EXPECT_NEAR((pixel >> 16) & 255, want[0], 2);
    EXPECT_NEAR((pixel >> 8) & 255, want[1], 2);
    DRAW_release();
}

}  // namespace
