// CF netCDF grid files through GRD_open: grids written and read back on every projection with a
// CF form, files of other tools' shapes, and the failures a user meets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cf_domain.hpp"
#include "grid_helpers.hpp"
#include "scratch_dir.hpp"

namespace {

std::string path(const std::string& name) { return (scratch_dir("grd_cf") / name).string(); }

Domain domain_of(int proj, float plat, float plon, float clat, float clon, int nx, int ny, float dx, float p0 = -9999,
                 float p1 = -9999, int ellipse = 0)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    d.clat = clat;
    d.clon = clon;
    d.nx = nx;
    d.ny = ny;
    d.dx = d.dy = dx;
    d.param[0] = p0;
    d.param[1] = p1;
    d.ellipse = ellipse;
    return d;
}

struct FieldCase {
    int var, ltype, level, time;
    const char* units;
};

// Three times of temperature on two pressure levels, a surface pressure, a 12-hour maximum
// and a 2 m temperature: every axis the writer makes.
const FieldCase kFieldCases[] = {
    {11, 100, 500, 0, "K"},      {11, 100, 850, 0, "K"},  {11, 100, 500, 6, "K"},
    {11, 100, 850, 6, "K"},      {11, 100, 500, 12, "K"}, {7, 100, 500, 6, "gpm"},
    {2, 102, 0, 0, "Pa"},        {15, 105, 2, 6000000 + 12, "K"},
    {33, 100, 250, 6, "m/s"},
};

void fill(GRD_report& g, const FieldCase& s, int k)
{
    g.var = s.var;
    g.ltype = s.ltype;
    g.level = s.level;
    g.time = s.time;
    g.source = 7;
    g.model = 96;
    std::snprintf(g.units, sizeof g.units, "%s", s.units);
    g.date = *DATE_to_struct(2023, 6, 1, 12, 0);
    const long n = static_cast<long>(g.domain.nx) * g.domain.ny;
    for (long p = 0; p < n; ++p) g.grid[p] = static_cast<float>(k * 1000 + p % 977) + 0.25f;
    g.grid[1] = kMiss;  // a missing value stays missing
}

void write_all(const std::string& file, const Domain& dom, int type = GRD_TYPE_CF)
{
    int t = type;
    const int fd = GRD_open(file.c_str(), 1, &t);
    ASSERT_GE(fd, 0);
    GRD_info info{};
    info.max_x = dom.nx;
    info.max_y = dom.ny;
    info.date = *DATE_to_struct(2023, 6, 1, 12, 0);
    ASSERT_EQ(GRD_putinfo(fd, &info), 0);
    int k = 0;
    for (const FieldCase& s : kFieldCases) {
        TestGrid g(dom);
        fill(g.g, s, k);
        ASSERT_EQ(GRD_write(fd, &g.g, 0, k), 0);
        ++k;
    }
    ASSERT_EQ(GRD_close(fd), 0);
}

TEST(GrdCf, EveryProjectionRoundTripsValuesDatesLevelsAndUnits)
{
    const struct {
        const char* label;
        Domain dom;
    } cases[] = {
        {"latlon", domain_of(2, -9999, -9999, 40, -95, 31, 21, 0.5f)},
        {"polar", domain_of(1, 90, -105, 60, -100, 25, 20, 0.6f, 60)},
        {"mercator", domain_of(3, -9999, -9999, 15, -60, 30, 20, 0.5f)},
        {"lambert", domain_of(4, 40, -97, 38, -95, 30, 24, 0.4f, 33, 45)},
        {"orthographic", domain_of(5, 45, 0, 45, 5, 20, 20, 1)},
        {"lambert azimuthal", domain_of(8, 52, 10, 50, 12, 20, 16, 0.5f)},
        {"geostationary", domain_of(9, 0, 0, 0, 0, 31, 31, 2.5f, 421.64f, 1, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string file = path(std::string("rt_") + std::to_string(c.dom.proj) + ".nc");
        write_all(file, c.dom);
        EXPECT_EQ(GRD_chktype(file.c_str()), GRD_TYPE_CF);
        int type = 0;
        const int fd = GRD_open(file.c_str(), 0, &type);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(type, GRD_TYPE_CF);
        GRD_info info{};
        ASSERT_EQ(GRD_getinfo(fd, &info), 0);
        // Every grid written is found once, with its values.
        std::vector<bool> found(std::size(kFieldCases), false);
        for (int n = 0;; ++n) {
            TestGrid back;
            int num = n;
            if (GRD_read(fd, &back.g, 0, &num) != 0) break;
            int k = 0;
            for (; k < static_cast<int>(std::size(kFieldCases)); ++k) {
                const FieldCase& s = kFieldCases[k];
                if (s.var == back.g.var && s.ltype == back.g.ltype && s.level == back.g.level && s.time == back.g.time)
                    break;
            }
            if (k == static_cast<int>(std::size(kFieldCases))) {
                // A slot of the stacked variable that no grid filled: all missing.
                for (long p = 0; p < static_cast<long>(back.nx()) * back.ny(); ++p) ASSERT_EQ(back.g.grid[p], kMiss);
                continue;
            }
            ASSERT_FALSE(found[k]) << "grid " << k << " twice";
            found[k] = true;
            EXPECT_STREQ(back.g.units, kFieldCases[k].units);
            EXPECT_EQ(back.g.date.year, 2023);
            EXPECT_EQ(back.g.date.month, 6);
            EXPECT_EQ(back.g.date.day, 1);
            EXPECT_EQ(back.g.date.hour, 12);
            EXPECT_EQ(back.g.model, 96);
            ASSERT_EQ(back.nx(), c.dom.nx);
            ASSERT_EQ(back.ny(), c.dom.ny);
            TestGrid expected(c.dom);
            fill(expected.g, kFieldCases[k], k);
            for (long p = 0; p < static_cast<long>(back.nx()) * back.ny(); ++p)
                ASSERT_EQ(back.g.grid[p], expected.g.grid[p]) << "grid " << k << " point " << p;
            // The grid lies where it lay.
            std::vector<double> lat1, lon1, lat2, lon2;
            ASSERT_EQ(CF_domain_latlon(&c.dom, &lat1, &lon1), 0);
            ASSERT_EQ(CF_domain_latlon(&back.g.domain, &lat2, &lon2), 0);
            for (std::size_t p = 0; p < lat1.size(); p += 7) {
                ASSERT_NEAR(lat2[p], lat1[p], 1e-4);
                ASSERT_NEAR(std::remainder(lon2[p] - lon1[p], 360.0), 0.0, 1e-4);
            }
        }
        GRD_close(fd);
        for (std::size_t k = 0; k < found.size(); ++k) EXPECT_TRUE(found[k]) << "grid " << k << " lost";
    }
}

TEST(GrdCf, OutputNamesChooseTheLayout)
{
    EXPECT_EQ(GRD_out_file("a.nc"), GRD_TYPE_CF);
    EXPECT_EQ(GRD_out_file("a.NC4"), GRD_TYPE_CF);
    EXPECT_EQ(GRD_out_file("a.cdf"), GRD_TYPE_NETCDF);
    // The library's layout on request is still its own type when read.
    const std::string file = path("own.cdf");
    write_all(file, domain_of(2, -9999, -9999, 40, -95, 11, 7, 1), GRD_TYPE_NETCDF);
    EXPECT_EQ(GRD_chktype(file.c_str()), GRD_TYPE_NETCDF);
}

int run(const std::string& command) { return std::system(command.c_str()); }

// Files of other shapes, written from CDL: each is recognised and read, or refused saying why.
TEST(GrdCf, ForeignFilesAreReadOrRefusedWithAReason)
{
    if (run("command -v ncgen >/dev/null 2>&1") != 0) GTEST_SKIP() << "ncgen missing";
    const std::string packed = R"(netcdf packed {
dimensions: time = UNLIMITED ; lat = 3 ; lon = 4 ;
variables:
 double time(time) ; time:units = "hours since 2023-6-1 12:00:00" ; time:standard_name = "time" ;
 float lat(lat) ; lat:units = "degrees_north" ;
 float lon(lon) ; lon:units = "degrees_east" ;
 short t2m(time, lat, lon) ; t2m:scale_factor = 0.01 ; t2m:add_offset = 280. ; t2m:_FillValue = -32767s ;
   t2m:units = "K" ; t2m:valid_range = -30000s, 30000s ; t2m:standard_name = "air_temperature" ;
   t2m:coordinates = "height" ;
 double height ; height:units = "m" ; height:standard_name = "height" ; height:positive = "up" ;
:Conventions = "CF-1.6" ;
data:
 time = 6 ; lat = 10, 20, 30 ; lon = 0, 10, 20, 30 ; height = 2 ;
 t2m = 0, 100, -32767, 200, 300, 400, 500, 600, 700, 800, 31000, 1000 ;
}
)";
    const std::string cdl = path("packed.cdl"), nc = path("packed.nc");
    FILE* f = std::fopen(cdl.c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs(packed.c_str(), f);
    std::fclose(f);
    ASSERT_EQ(run("ncgen -k nc4 -o " + nc + " " + cdl), 0);
    int type = 0;
    const int fd = GRD_open(nc.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(type, GRD_TYPE_CF) << "netCDF-4 (HDF5) file";
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    TestGrid g;
    int num = 0;
    ASSERT_EQ(GRD_read(fd, &g.g, 0, &num), 0);
    EXPECT_EQ(g.g.var, 11);
    EXPECT_EQ(g.g.ltype, 105);
    EXPECT_EQ(g.g.level, 2);
    EXPECT_EQ(g.g.date.year, 2023);
    EXPECT_EQ(g.g.date.month, 6);
    EXPECT_EQ(g.g.date.day, 1);
    EXPECT_EQ(g.g.date.hour, 18) << "valid time of a file without reference time";
    // Rows south to north in the file: row 0 of the grid is 30N.
    const float expected[12] = {287, 288, kMiss, 290, 283, 284, 285, 286, 280, 281, kMiss, 282};
    for (int p = 0; p < 12; ++p) EXPECT_NEAR(g.g.grid[p], expected[p], 1e-3) << p;
    EXPECT_NEAR(g.g.domain.clat, 20, 1e-5);
    EXPECT_NEAR(g.g.domain.clon, 15, 1e-5);
    GRD_close(fd);

    // Neither layout: a CF file whose variable has no usable coordinates.
    const std::string bare = R"(netcdf bare {
dimensions: y = 3 ; x = 4 ;
variables: float v(y, x) ; v:grid_mapping = "nowhere" ;
:Conventions = "CF-1.8" ;
}
)";
    f = std::fopen(cdl.c_str(), "w");
    std::fputs(bare.c_str(), f);
    std::fclose(f);
    const std::string bare_nc = path("bare.nc");
    ASSERT_EQ(run("ncgen -o " + bare_nc + " " + cdl), 0);
    type = 0;
    const int bad = GRD_open(bare_nc.c_str(), 0, &type);
    ASSERT_GE(bad, 0);
    EXPECT_EQ(type, GRD_TYPE_CF);
    EXPECT_EQ(GRD_getinfo(bad, &info), -1);
    GRD_close(bad);
}

TEST(GrdCf, WriteFailuresAreReported)
{
    int type = GRD_TYPE_CF;
    EXPECT_EQ(GRD_open("/nonexistent-dir/x.nc", 1, &type), -1);
    // A grid written before the header is refused.
    type = GRD_TYPE_CF;
    const int fd = GRD_open(path("early.nc").c_str(), 1, &type);
    ASSERT_GE(fd, 0);
    TestGrid g(domain_of(2, -9999, -9999, 0, 0, 3, 3, 1));
    EXPECT_EQ(GRD_write(fd, &g.g, 0, 0), -1);
    GRD_close(fd);
}

}  // namespace

#include "grd_cf_internal.hpp"

namespace {

TEST(GrdCf, TimeUnitsToUtcSeconds)
{
    const struct {
        const char* units;
        bool ok;
        double unit;
        long long base;
    } cases[] = {
        {"hours since 2023-6-1 12:00:00", true, 3600, 1685620800},
        {"hours since 2023-06-01T12:00:00Z", true, 3600, 1685620800},
        {"days since 1970-01-01", true, 86400, 0},
        {"seconds since 2023-06-01 12", true, 1, 1685620800},
        {"minutes since 2023-06-01 12:00 +02:00", true, 60, 1685613600},
        {"hours since 1850-01-01 00:00:00", true, 3600, -3786825600LL},
        {"Hours since 2000-2-29", true, 3600, 951782400},
        {"months since 2023-01-01", false, 0, 0},
        {"hours", false, 0, 0},
        {"hours since yesterday", false, 0, 0},
        {"hours since 2023-13-01", false, 0, 0},
    };
    for (const auto& c : cases) {
        double unit = 0;
        std::int64_t base = 0;
        ASSERT_EQ(cfgrid::parse_time_units(c.units, &unit, &base), c.ok) << c.units;
        if (!c.ok) continue;
        EXPECT_EQ(unit, c.unit) << c.units;
        EXPECT_EQ(base, c.base) << c.units;
        // And back to a date.
        const Date d = cfgrid::seconds_date(base);
        EXPECT_EQ(cfgrid::date_seconds(d), base) << c.units;
    }
}

TEST(GrdCf, UnitTextsBetweenLibraryAndUdunits)
{
    const struct {
        const char* library;
        const char* udunits;
        const char* back;  // what a file with udunits reads as
    } cases[] = {
        {"m/s", "m s-1", "m/s"},          {"kg/m^2", "kg m-2", "kg/m^2"}, {"m^2/s^2", "m2 s-2", "m^2/s^2"},
        {"/s", "s-1", "/s"},              {"K", "K", "K"},                {"gpm", "m", "m"},
        {"mb", "hPa", "mb"},              {"Pa/s", "Pa s-1", "Pa/s"},     {"%", "%", "%"},
        {"C", "degC", "C"},               {"kg/m^2/s", "kg m-2 s-1", "kg/m^2/s"},
        {"10^-5 /s", "1e-05 s-1", "1e-05 /s"}, {"", "1", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cfgrid::to_udunits(c.library), c.udunits) << c.library;
        EXPECT_EQ(cfgrid::from_udunits(c.udunits), c.back) << c.udunits;
    }
}

TEST(GrdCf, CodedForecastTimes)
{
    const struct {
        int coded;
        int kind, start, end;
        bool known;
    } cases[] = {
        {0, 0, 0, 0, true},           {36, 0, 36, 36, true},         {802, 0, 48, 48, true},
        {6000012, 6, 0, 12, true},    {4006012, 4, 6, 12, true},     {3000024, 3, 0, 24, true},
        {2003006, 2, 3, 6, true},     {903, 0, 0, 0, false},         {99000001, 99, 0, 1, false},
    };
    for (const auto& c : cases) {
        const cfgrid::TimeCode t = cfgrid::decode_time(c.coded);
        EXPECT_EQ(t.known, c.known) << c.coded;
        if (!c.known) continue;
        EXPECT_EQ(t.kind, c.kind) << c.coded;
        EXPECT_EQ(t.start, c.start) << c.coded;
        EXPECT_EQ(t.end, c.end) << c.coded;
        if (c.coded < 800 || c.coded >= 1000000) {
            EXPECT_EQ(cfgrid::encode_time(t), c.coded);
        }
    }
    EXPECT_EQ(cfgrid::kind_of_cell_methods("area: mean time: maximum (interval: 1 hour)"), 6);
    EXPECT_EQ(cfgrid::kind_of_cell_methods("time: sum"), 4);
    EXPECT_EQ(cfgrid::kind_of_cell_methods("area: mean"), 0);
}

}  // namespace
