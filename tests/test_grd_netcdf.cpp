// netCDF grid files: library layout checked by the netCDF tools themselves (ncdump), older axis
// order, model files from ncgen fixtures, and damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "grd_internal.hpp"
#include "region.hpp"
#include "scratch_dir.hpp"
#include "string.hpp"

namespace fs = std::filesystem;

namespace {

const fs::path& dir() { return scratch_dir("test_grd_netcdf"); }

std::string fixture(const char* name) { return std::string(QAZ_TEST_DATA) + "/nc/" + name; }

// Turns CDL text into a netCDF file in the scratch directory.
std::string ncgen_text(const std::string& cdl, const std::string& name)
{
    const fs::path cdl_path = dir() / (name + ".cdl");
    const fs::path nc_path = dir() / (name + ".nc");
    std::ofstream(cdl_path) << cdl;
    const std::string cmd = "ncgen -o '" + nc_path.string() + "' '" + cdl_path.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return nc_path.string();
}

std::string ncgen_fixture(const char* name)
{
    std::ifstream in(fixture(name));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(text.empty()) << name;
    return ncgen_text(text, name);
}

std::string ncdump(const std::string& args)
{
    std::string out;
    if (FILE* pipe = popen(("ncdump " + args + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

// The text between "name =" and the next ";" of an ncdump data section, blanks squeezed.
std::string dumped_data(const std::string& dump, const std::string& name)
{
    const auto data = dump.find("data:");
    const auto at = dump.find("\n " + name + " =", data);
    if (data == std::string::npos || at == std::string::npos) return "";
    const auto begin = dump.find('=', at) + 1;
    const auto end = dump.find(';', begin);
    std::string out;
    for (char c : dump.substr(begin, end - begin))
        if (c != ' ' && c != '\n' && c != '\t') out += c;
    return out;
}

struct Report : GRD_report {
    Report()
        : GRD_report{}
    {
        DOM_init(&domain);
    }
    ~Report() { std::free(grid); }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
};

// A GRD_file as the dispatcher hands it over: cleared.
struct File : GRD_file {
    File()
        : GRD_file{}
    {
        fd = -1;
    }
    ~File()
    {
        if (fd >= 0) grd_nc_close(this);
        if (priv && priv_free) priv_free(priv);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

void fill_grid(Report& r, int nx, int ny, float base)
{
    r.domain.nx = nx;
    r.domain.ny = ny;
    r.grid = static_cast<float*>(std::malloc(sizeof(float) * nx * ny));
    for (int i = 0; i < nx * ny; ++i) r.grid[i] = base + static_cast<float>(i);
}

GRD_info file_info(int max_x, int max_y, int grid_type)
{
    GRD_info info{};
    info.max_x = max_x;
    info.max_y = max_y;
    info.grid_type = grid_type;
    info.date = Date{2026, 12, 7, -9999, -9999, 6, 0, 0};
    return info;
}

// Two projection grids: a full 4 x 3 one and a smaller 3 x 2 one.
std::string write_library_file(const char* name)
{
    const std::string path = (dir() / name).string();
    File gf;
    EXPECT_EQ(grd_nc_open(&gf, path.c_str(), 1), 0);
    GRD_info info = file_info(4, 3, 0);
    EXPECT_EQ(grd_nc_putinfo(&gf, &info), 0);
    for (int g = 0; g < 2; ++g) {
        Report r;
        fill_grid(r, g == 0 ? 4 : 3, g == 0 ? 3 : 2, g == 0 ? 1.0f : 101.0f);
        r.domain.proj = g == 0 ? 1 : 4;
        r.domain.clat = 45.5f;
        r.domain.clon = -100.25f;
        r.domain.plat = g == 0 ? -9999.0f : 25.0f;
        r.domain.plon = -105.0f;
        r.domain.dx = 0.5f;
        r.domain.dy = 0.75f;
        r.source = 7;
        r.version = 2;
        r.model = 84;
        r.type = 221;
        r.ltype = 100;
        r.level = 500 + g;
        r.time = 12 * g;
        r.var = 7;
        str_copy(r.datim, sizeof r.datim, g == 0 ? "06Z  7 DEC 26" : "12 hour NAM valid");
        str_copy(r.info, sizeof r.info, "500 mb Height (m)");
        EXPECT_EQ(grd_nc_write(&gf, &r, 0, g), 0);
    }
    return path;
}

TEST(GrdNetcdfLibrary, NcdumpSeesTheLayoutWithRowZeroFirst)
{
    const std::string path = write_library_file("layout.nc");
    const std::string header = ncdump("-h '" + path + "'");
    for (const char* expected :
         {"grid = UNLIMITED ; // (2 currently)", "x = 4 ;", "y = 3 ;", "string_len = 50 ;",
          "float values(grid, y, x) ;", "values:name = \"VALUES\" ;",
          "values:long_name = \"Grid values\" ;", "values:_FillValue = -9999.f ;",
          "short proj(grid) ;", "int var(grid) ;", "int time(grid) ;", "short nx(grid) ;", "lat1:name = \"CLAT\" ;", "lat1:units = \"DEG\" ;",
          "dx:units = \"100 KM\" ;", "char datim(grid, string_len) ;",
          "char info(grid, string_len) ;", "time:units = \"HOUR\" ;",
          "ny:long_name = \"Gridpoints in Y direction\" ;", ":source = \"QAZ\" ;",
          ":version = \"1.0\" ;", ":grid_type = 0s ;", ":year = 2026s ;", ":month = 12s ;",
          ":day = 7s ;", ":hour = 6s ;"})
        EXPECT_NE(header.find(expected), std::string::npos) << expected << "\n" << header;
    EXPECT_EQ(header.find("x_coord"), std::string::npos);

    const std::string dump = ncdump("'" + path + "'");
    // Grid 0 fills the first rows (north first, x along the row); grid 1 (3 x 2) sits in the
    // upper left corner with the rest as fill.
    EXPECT_EQ(dumped_data(dump, "values"),
              "1,2,3,4,5,6,7,8,9,10,11,12,101,102,103,_,104,105,106,_,_,_,_,_");
    EXPECT_EQ(dumped_data(dump, "nx"), "4,3");
    EXPECT_EQ(dumped_data(dump, "ny"), "3,2");
    EXPECT_EQ(dumped_data(dump, "proj"), "1,4");
    EXPECT_EQ(dumped_data(dump, "lat2"), "-9999,25");
    EXPECT_EQ(dumped_data(dump, "level"), "500,501");
    EXPECT_EQ(dumped_data(dump, "datim"), "\"06Z7DEC26\",\"12hourNAMvalid\"");
}

TEST(GrdNetcdfLibrary, WrittenGridsReadBackInAnyOrder)
{
    const std::string path = write_library_file("roundtrip.nc");
    File gf;
    ASSERT_EQ(grd_nc_open(&gf, path.c_str(), 0), 0);
    GRD_info info{};
    ASSERT_EQ(grd_nc_getinfo(&gf, &info), 0);
    EXPECT_EQ(info.max_x, 4);
    EXPECT_EQ(info.max_y, 3);
    EXPECT_EQ(info.grid_type, 0);
    EXPECT_EQ(info.date.year, 2026);
    EXPECT_EQ(info.date.hour, 6);
    EXPECT_STREQ(info.datim, "06Z  7 DEC 26");
    EXPECT_EQ(gf.yx_order, 1);
    EXPECT_EQ(gf.itype, 0);
    EXPECT_EQ(gf.max_num, 2);

    for (int g : {1, 0, 0, 1}) {
        Report r;
        int num = g;
        ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
        EXPECT_EQ(num, g);
        const int nx = g == 0 ? 4 : 3, ny = g == 0 ? 3 : 2;
        ASSERT_EQ(r.domain.nx, nx);
        ASSERT_EQ(r.domain.ny, ny);
        ASSERT_NE(r.grid, nullptr);
        for (int i = 0; i < nx * ny; ++i) EXPECT_EQ(r.grid[i], (g == 0 ? 1 : 101) + i);
        EXPECT_EQ(r.domain.proj, g == 0 ? 1 : 4);
        EXPECT_FLOAT_EQ(r.domain.clat, 45.5f);
        EXPECT_FLOAT_EQ(r.domain.clon, -100.25f);
        EXPECT_FLOAT_EQ(r.domain.plat, g == 0 ? -9999.0f : 25.0f);
        EXPECT_FLOAT_EQ(r.domain.plon, -105.0f);
        EXPECT_FLOAT_EQ(r.domain.dx, 0.5f);
        EXPECT_FLOAT_EQ(r.domain.dy, 0.75f);
        EXPECT_EQ(r.source, 7);
        EXPECT_EQ(r.version, 2);
        EXPECT_EQ(r.model, 84);
        EXPECT_EQ(r.type, 221);
        EXPECT_EQ(r.ltype, 100);
        EXPECT_EQ(r.level, 500 + g);
        EXPECT_EQ(r.time, 12 * g);
        EXPECT_EQ(r.var, 7);
        EXPECT_STREQ(r.datim, g == 0 ? "06Z  7 DEC 26" : "12 hour NAM valid");
        EXPECT_STREQ(r.info, "500 mb Height (m)");
    }
    // Header only: no values.
    Report head;
    int num = 1;
    ASSERT_EQ(grd_nc_read(&gf, &head, 1, &num), 0);
    EXPECT_EQ(head.grid, nullptr);
    EXPECT_EQ(head.domain.nx, 3);
    // Past the end, and before the start.
    for (int bad : {2, 1000, -1}) {
        Report r;
        num = bad;
        EXPECT_EQ(grd_nc_read(&gf, &r, 0, &num), -1) << bad;
        EXPECT_EQ(r.grid, nullptr);
    }
    EXPECT_EQ(grd_nc_rewind(&gf), 0);
    EXPECT_EQ(gf.num, 0);
}

TEST(GrdNetcdfLibrary, CoordinateGridFileAndLargeCodes)
{
    const std::string path = (dir() / "coords.nc").string();
    {
        File gf;
        ASSERT_EQ(grd_nc_open(&gf, path.c_str(), 1), 0);
        GRD_info info = file_info(2, 2, 1);
        ASSERT_EQ(grd_nc_putinfo(&gf, &info), 0);
        Report r;
        fill_grid(r, 2, 2, 5.0f);
        r.model = 39;
        r.var = 19280011;      // an ensemble variable number: no room in a short
        r.type = 30251006;     // an edition 2 grid number
        r.time = 2000012;      // a coded accumulation time
        r.domain.proj = 2;
        r.domain.clat = 40.0f;
        r.domain.clon = -100.0f;
        r.domain.dx = r.domain.dy = 1.0f;
        ASSERT_EQ(grd_nc_write(&gf, &r, 0, 0), 0);
        Report too_big;
        fill_grid(too_big, 3, 2, 0.0f);
        EXPECT_EQ(grd_nc_write(&gf, &too_big, 0, 1), -1);
        EXPECT_EQ(grd_nc_write(&gf, &r, 0, -1), -1);
    }
    const std::string header = ncdump("-h '" + path + "'");
    EXPECT_NE(header.find("float x_coord(grid, y, x) ;"), std::string::npos) << header;
    EXPECT_NE(header.find("y_coord:units = \"DEG\" ;"), std::string::npos);
    EXPECT_EQ(header.find("proj"), std::string::npos);
    // Gridpoint longitudes grow eastwards along a row; latitudes fall from row 0 (north).
    const std::string dump = ncdump("'" + path + "'");
    float lon[4], lat[4];
    ASSERT_EQ(std::sscanf(dumped_data(dump, "x_coord").c_str(), "%f,%f,%f,%f", &lon[0], &lon[1],
                          &lon[2], &lon[3]), 4) << dump;
    ASSERT_EQ(std::sscanf(dumped_data(dump, "y_coord").c_str(), "%f,%f,%f,%f", &lat[0], &lat[1],
                          &lat[2], &lat[3]), 4) << dump;
    EXPECT_GT(lon[1], lon[0]);
    EXPECT_FLOAT_EQ(lon[2], lon[0]);
    EXPECT_GT(lat[0], lat[2]);
    EXPECT_FLOAT_EQ(lat[1], lat[0]);
    EXPECT_NEAR((lat[0] + lat[2]) / 2, 40.0f, 0.01f);
    EXPECT_NEAR((lon[0] + lon[1]) / 2, -100.0f, 0.01f);

    File gf;
    ASSERT_EQ(grd_nc_open(&gf, path.c_str(), 0), 0);
    GRD_info info{};
    ASSERT_EQ(grd_nc_getinfo(&gf, &info), 0);
    EXPECT_EQ(info.grid_type, 1);
    Report r;
    int num = 0;
    ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
    EXPECT_EQ(r.domain.proj, 2);  // no projection variable: model above 9 is latitude/longitude
    EXPECT_EQ(r.var, 19280011);
    EXPECT_EQ(r.type, 30251006);
    EXPECT_EQ(r.time, 2000012);
    EXPECT_EQ(r.grid[3], 8.0f);
}

TEST(GrdNetcdfLibrary, OldAxisOrderReadsTheSameGrid)
{
    const std::string old_path = ncgen_fixture("old_order.cdl");
    File gf;
    ASSERT_EQ(grd_nc_open(&gf, old_path.c_str(), 0), 0);
    GRD_info info{};
    ASSERT_EQ(grd_nc_getinfo(&gf, &info), 0);
    EXPECT_EQ(gf.yx_order, 0);
    EXPECT_EQ(info.date.year, 1996);
    Report r;
    int num = 0;
    ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
    ASSERT_EQ(r.domain.nx, 3);
    ASSERT_EQ(r.domain.ny, 2);
    const float rows[6] = {1, 2, 3, 4, 5, 6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.grid[i], rows[i]);
    EXPECT_EQ(r.domain.proj, 2);
    EXPECT_FLOAT_EQ(r.domain.dx, 2.5f);
    EXPECT_STREQ(r.info, "500 mb Height (m)");

    // The same grid written now reads identically, and ncdump shows its rows north first.
    const std::string new_path = (dir() / "new_order.nc").string();
    {
        File out;
        ASSERT_EQ(grd_nc_open(&out, new_path.c_str(), 1), 0);
        GRD_info out_info = file_info(3, 2, 0);
        ASSERT_EQ(grd_nc_putinfo(&out, &out_info), 0);
        ASSERT_EQ(grd_nc_write(&out, &r, 0, 0), 0);
    }
    EXPECT_EQ(dumped_data(ncdump("'" + new_path + "'"), "values"), "1,2,3,4,5,6");
    File in;
    ASSERT_EQ(grd_nc_open(&in, new_path.c_str(), 0), 0);
    ASSERT_EQ(grd_nc_getinfo(&in, &info), 0);
    Report again;
    num = 0;
    ASSERT_EQ(grd_nc_read(&in, &again, 0, &num), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(again.grid[i], rows[i]);
}

TEST(GrdNetcdfLibrary, AbsurdGridSizeIsRefused)
{
    const std::string path = ncgen_fixture("bad_nx.cdl");
    File gf;
    ASSERT_EQ(grd_nc_open(&gf, path.c_str(), 0), 0);
    GRD_info info{};
    ASSERT_EQ(grd_nc_getinfo(&gf, &info), 0);
    Report r;
    int num = 0;
    EXPECT_EQ(grd_nc_read(&gf, &r, 0, &num), -1);
    EXPECT_EQ(r.grid, nullptr);
}

// ---- Model files -------------------------------------------------------------------------

// Opens a model fixture and reads its information.
void open_model(File& gf, const std::string& path, GRD_info& info)
{
    ASSERT_EQ(grd_nc_open(&gf, path.c_str(), 0), 0);
    ASSERT_EQ(grd_nc_getinfo(&gf, &info), 0);
}

TEST(GrdNetcdfModel, VariableNumbersFollowNameAndUnits)
{
    struct Case {
        const char* name;
        const char* units;
        int number;
    };
    const Case cases[] = {
        {"pressure", "hectopascals", 1}, {"Psl", "pascals", 101},       {"P", "Pa", 101},
        {"Pmaxwind", "mb", 1},           {"gpt_hgt", "geopotential dekameters", 2},
        {"Z", "gp m", 102},              {"Ztrop", "geopotential meters", 102},
        {"temp", "celsius", 4},          {"T", "kelvin", 104},           {"Ttrop", "degK", 104},
        {"rel_hum", "percent", 13},      {"li", "celsius", 15},          {"u_wind", "m/s", 23},
        {"Usfc", "m/s", 23},             {"V", "m/s", 24},               {"omega", "Pa/s", 140},
        {"vert_vel", "millibars/second", 40},                            {"precip", "mm", 50},
        {"snow", "mm", 51},              {"SST", "0.5 degC", 61},        {"sea_temp", "degC", 62},
        {"SST", "degK", 161},            {"wave_hgt", "meters", 164},    {"wave_hgt", "0.5 meters", 64},
        {"wave_per", "seconds", 76},     {"wave_dir", "degrees", 175},   {"wave_dir", "10 degrees", 75},
    };
    int row = 0;
    for (const auto& c : cases) {
        const std::string cdl = std::string("netcdf t {\ndimensions:\n lat = 2 ;\n lon = 2 ;\n") +
                                "variables:\n float " + c.name + "(lat, lon) ;\n " + c.name +
                                ":units = \"" + c.units + "\" ;\n}\n";
        const std::string path = ncgen_text(cdl, "units" + std::to_string(row++));
        File gf;
        GRD_info info{};
        open_model(gf, path, info);
        ASSERT_EQ(gf.var_num, 1) << c.name;
        EXPECT_EQ(gf.var[0], c.number) << c.name << " " << c.units;
        EXPECT_EQ(gf.itype, 190) << "unknown title, no rtime";
    }
}

TEST(GrdNetcdfModel, GridsWalkVariablesTimesAndLevels)
{
    setenv("GRIBQP", "3", 1);
    unsetenv("GRIDVAR");
    File gf;
    GRD_info info{};
    open_model(gf, ncgen_fixture("model_nmc.cdl"), info);
    EXPECT_EQ(gf.itype, 10);
    EXPECT_EQ(gf.max_num, 12);  // T 2x2, Z 2x2, Psl 2, precip 2; foo unused
    EXPECT_EQ(info.date.year, 1996);
    EXPECT_EQ(info.date.month, 5);
    EXPECT_EQ(info.date.day, 1);
    EXPECT_EQ(info.date.hour, 12);

    struct Expect {
        int num, var, ltype, level, time;
        float first;       // memory row 0 (north), column 0
        const char* info;  // from the file's own names: the numbers mean other things in
                           // the variable table (101 there is a wave direction)
    };
    const Expect expected[] = {
        {0, 104, 10, 500, 0, 20, "500 mb T (kelvin)"},    {1, 104, 10, 850, 0, 120, "850 mb T (kelvin)"},
        {3, 104, 10, 850, 12, 1120, "850 mb T (kelvin)"}, {8, 101, 12, 0, 0, 100020, "Psl (pascals)"},
        {9, 101, 12, 0, 12, 101020, "Psl (pascals)"},     {11, 50, 1, 0, 15, 1, nullptr},
    };
    for (const auto& e : expected) {
        Report r;
        int num = e.num;
        ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0) << e.num;
        EXPECT_EQ(r.var, e.var) << e.num;
        EXPECT_EQ(r.ltype, e.ltype) << e.num;
        EXPECT_EQ(r.level, e.level) << e.num;
        EXPECT_EQ(r.time, e.time) << e.num;
        if (e.info) {
            EXPECT_STREQ(r.info, e.info) << e.num;
        }
        EXPECT_EQ(r.source, 7);
        EXPECT_EQ(r.model, 39);
        EXPECT_EQ(r.type, 50);
        ASSERT_NE(r.grid, nullptr);
        EXPECT_EQ(r.grid[0], e.first) << e.num;
        EXPECT_EQ(r.domain.proj, 2);
        EXPECT_EQ(r.domain.nx, 4);
        EXPECT_EQ(r.domain.ny, 3);
        EXPECT_FLOAT_EQ(r.domain.dx, 2.5f);
        EXPECT_FLOAT_EQ(r.domain.dy, 2.5f);
        EXPECT_FLOAT_EQ(r.domain.clat, 32.5f);
        EXPECT_FLOAT_EQ(r.domain.clon, -106.25f);
    }
    // Grid 3: the 1e30 in the file's first row (south) is missing, in the last memory row.
    Report r;
    int num = 3;
    ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
    EXPECT_EQ(r.grid[2 * 4 + 1], GRD_MISSING);
    EXPECT_EQ(r.grid[2 * 4 + 0], 1100.0f);
    EXPECT_STREQ(r.units, "kelvin");
    // Z was never written: all fill, so the grid carries no identification.
    Report z;
    num = 4;
    ASSERT_EQ(grd_nc_read(&gf, &z, 0, &num), 0);
    EXPECT_EQ(z.grid[0], GRD_MISSING);
    EXPECT_EQ(z.var, -9999);
    EXPECT_EQ(z.level, -9999);
    EXPECT_EQ(z.source, -9999);
    Report z_head;
    num = 4;
    ASSERT_EQ(grd_nc_read(&gf, &z_head, 1, &num), 0);
    EXPECT_EQ(z_head.var, -9999);
    EXPECT_EQ(z_head.grid, nullptr);
    Report end;
    num = 12;
    EXPECT_EQ(grd_nc_read(&gf, &end, 0, &num), -1);
    unsetenv("GRIBQP");
}

TEST(GrdNetcdfModel, GridvarAddsANamedVariable)
{
    setenv("GRIDVAR", "foo", 1);
    File gf;
    GRD_info info{};
    open_model(gf, ncgen_fixture("model_nmc.cdl"), info);
    unsetenv("GRIDVAR");
    EXPECT_EQ(gf.max_num, 14);
    Report r;
    int num = 12;
    ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
    EXPECT_EQ(r.var, 0);
    EXPECT_STREQ(r.info, "Foo thing (m)");
    EXPECT_EQ(r.grid[0], 7.0f);
}

TEST(GrdNetcdfModel, ClassesReferenceTimesAndGeometry)
{
    {  // maximum-wind file, 2005 kept, rows already north first, extra column from hour 73
        File gf;
        GRD_info info{};
        open_model(gf, ncgen_fixture("model_mrf.cdl"), info);
        EXPECT_EQ(gf.itype, 22);
        EXPECT_EQ(info.date.year, 2005);
        EXPECT_EQ(info.date.month, 2);
        Report h72, h84;
        int num = 0;
        ASSERT_EQ(grd_nc_read(&gf, &h72, 0, &num), 0);
        EXPECT_EQ(h72.type, 11);
        EXPECT_EQ(h72.ltype, 6);
        EXPECT_EQ(h72.domain.nx, 3);
        EXPECT_EQ(h72.grid[0], 1.0f);  // lat 60 first in the file and first in memory
        num = 1;
        ASSERT_EQ(grd_nc_read(&gf, &h84, 0, &num), 0);
        EXPECT_EQ(h84.time, 84);
        EXPECT_EQ(h84.domain.nx, 4);
        EXPECT_FLOAT_EQ(h84.domain.clon, h72.domain.clon + 60.0f);
        const float row0[4] = {11, 12, 13, 11};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(h84.grid[i], row0[i]);
        EXPECT_EQ(h84.grid[4 + 3], h84.grid[4]);
    }
    {  // tropopause analysis without rtime, reference time from a damaged "reftime" text,
       // the fixed 83 x 83 polar stereographic grid
        File gf;
        GRD_info info{};
        open_model(gf, ncgen_fixture("model_ps83.cdl"), info);
        EXPECT_EQ(gf.itype, 141);
        EXPECT_EQ(info.date.year, 1996);
        EXPECT_EQ(info.date.month, 1);
        EXPECT_EQ(info.date.day, 1);
        EXPECT_EQ(info.date.hour, 0);
        Report r;
        int num = 0;
        ASSERT_EQ(grd_nc_read(&gf, &r, 1, &num), 0);
        EXPECT_EQ(r.domain.proj, 1);
        EXPECT_EQ(r.domain.nx, 83);
        EXPECT_FLOAT_EQ(r.domain.plon, -105.0f);
        EXPECT_FLOAT_EQ(r.domain.dx, 0.9075464f);
        EXPECT_EQ(r.type, 11);
    }
    {  // unknown class, no reference time at all, model 83 becomes grid 211
        File gf;
        GRD_info info{};
        open_model(gf, ncgen_fixture("model_211.cdl"), info);
        EXPECT_EQ(gf.itype, 190);
        EXPECT_EQ(info.date.year, 1980);
        Report r;
        int num = 0;
        ASSERT_EQ(grd_nc_read(&gf, &r, 0, &num), 0);
        EXPECT_EQ(r.type, 211);
        EXPECT_EQ(r.domain.proj, 4);
        EXPECT_EQ(r.domain.nx, 93);
        EXPECT_EQ(r.domain.ny, 65);
        EXPECT_FLOAT_EQ(r.domain.param[2], 1.277f);
        EXPECT_EQ(r.grid[93 * 65 - 1], GRD_MISSING);
    }
}

// ---- Damaged files -----------------------------------------------------------------------

// Opens, reads the information and every grid; the result of the first failure, or 0.
int read_everything(const std::string& path)
{
    File gf;
    if (grd_nc_open(&gf, path.c_str(), 0) != 0) return -1;
    GRD_info info{};
    if (grd_nc_getinfo(&gf, &info) != 0) return -1;
    for (int g = 0; g < gf.max_num && g < 100; ++g) {
        Report r;
        int num = g;
        if (grd_nc_read(&gf, &r, 0, &num) != 0) return -1;
    }
    return 0;
}

TEST(GrdNetcdfDamaged, TruncatedAndCorruptedFilesFailCleanly)
{
    const std::string good = write_library_file("damage_src.nc");
    ASSERT_EQ(read_everything(good), 0);
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t size = bytes.size();
    ASSERT_GT(size, 100u);

    int n = 0;
    auto variant = [&](const std::string& content) {
        const std::string path = (dir() / ("damaged" + std::to_string(n++) + ".nc")).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    };
    for (size_t cut : {size_t{0}, size_t{3}, size_t{10}, size / 3, size / 2, size - 40, size - 3})
        EXPECT_EQ(read_everything(variant(bytes.substr(0, cut))), -1) << "cut at " << cut;
    // The last two bytes are the padding of the final short: nothing is lost without them.
    EXPECT_EQ(read_everything(variant(bytes.substr(0, size - 2))), 0);
    // Corrupted header bytes (dimension sizes, counts, names): any result but no crash, and
    // nothing claimed beyond what the file holds.
    for (size_t at = 4; at < 200 && at < size; at += 7) {
        std::string bad = bytes;
        bad[at] = static_cast<char>(bad[at] ^ 0x5a);
        read_everything(variant(bad));
        bad[at] = '\xff';
        read_everything(variant(bad));
    }
    EXPECT_EQ(read_everything((dir() / "missing.nc").string()), -1);
}

TEST(GrdNetcdfDamaged, HeaderTheLibraryCannotTakeIsRefusedFirst)
{
    std::ifstream in(ncgen_fixture("old_order.cdl"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "values" over (grid, x, y) is dimension ids 0, 1, 2 after its name.
    const std::string dims_012("values\0\0\0\0\0\3\0\0\0\0\0\0\0\1\0\0\0\2", 24);
    const auto at = bytes.find(dims_012);
    ASSERT_NE(at, std::string::npos);
    struct Case {
        const char* what;
        size_t offset;  // from the dimension list
        std::string patch;
    };
    const Case cases[] = {
        {"record dimension second", 12, std::string("\0\0\0\1\0\0\0\0", 8)},
        {"dimension id out of range", 16, std::string("\0\0\0\x09", 4)},
        {"dimension count beyond the file", 8, std::string("\x7f\xff\xff\xff", 4)},
    };
    for (const auto& c : cases) {
        std::string bad = bytes;
        bad.replace(at + c.offset, c.patch.size(), c.patch);
        const std::string path = (dir() / "bad_header.nc").string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        File gf;
        EXPECT_EQ(grd_nc_open(&gf, path.c_str(), 0), -1) << c.what;
    }
}

// Found by fuzzing: a model file whose centre variable holds 3276800 made the date label's
// centre x 1000 + process overflow.
TEST(GrdNetcdfDamaged, AbsurdCentreNumberReadsWithoutOverflow)
{
    File gf;
    const std::string path = std::string(QAZ_TEST_DATA) + "/nc/model_huge_centre.nc";
    if (grd_nc_open(&gf, path.c_str(), 0) != 0) return;  // refusing the file is as good
    GRD_info info{};
    if (grd_nc_getinfo(&gf, &info) != 0) return;
    for (int n = 0; n < 50; ++n) {
        Report r;
        int num = n;
        if (grd_nc_read(&gf, &r, 0, &num) != 0) break;
        EXPECT_LT(std::strlen(r.datim), sizeof r.datim);
    }
}

}  // namespace
