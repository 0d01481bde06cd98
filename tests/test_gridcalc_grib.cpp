// gridcalc on the GRIB 2 sample the project ships: inventory, a point value against the
// analytic field the file was made from, and the vorticity of its winds written to netCDF.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "grid_helpers.hpp"
#include "resrc.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kGridcalc = QAZ_BIN_DIR "/gridcalc";
const std::string kSample = QAZ_SHARE_SRC "/sample.grb2";

struct Outcome {
    int status = -1;
    std::string output;
};

Outcome run(const std::string& args)
{
    Outcome r;
    const std::string command = "cd " + scratch_dir("gridcalc_grib").string() + " && " + kGridcalc +
                                " -fp " QAZ_SHARE_SRC "/ " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) r.output += buffer;
    const int wstatus = pclose(p);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return r;
}

// The 500 mb height the sample was made from.
double z500(double lat, double lon)
{
    const double bump = std::exp(-std::pow((lat - 44.0) / 9.0, 2) - std::pow((lon + 98.0) / 12.0, 2));
    return 5880.0 - 4.5 * std::pow(lat - 20.0, 1.3) - 180.0 * bump;
}

TEST(GridcalcGrib, InventoryOfTheSample)
{
    const Outcome r = run(kSample + " info");
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* text : {"  0 ", "  6 ", "500 mb", "Domain: "})
        EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;
}

TEST(GridcalcGrib, HeightAtAPositionAndAStation)
{
    const Outcome r = run("-fm %.1f " + kSample + ",var=7,lev=500 val ll 44,-98 30.5,-110");
    ASSERT_EQ(r.status, 0) << r.output;
    double first = 0, second = 0;
    ASSERT_EQ(std::sscanf(r.output.c_str(), "%lf %lf", &first, &second), 2) << r.output;
    EXPECT_NEAR(first, z500(44.0, -98.0), 0.5);
    EXPECT_NEAR(second, z500(30.5, -110.0), 0.5);
}

TEST(GridcalcGrib, VorticityOfItsWindsWrittenToNetcdf)
{
    const std::string u = kSample + ",var=33,lev=500", v = kSample + ",var=34,lev=500";
    const Outcome r = run(u + " rvort " + v + " = vort.nc");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string out = (scratch_dir("gridcalc_grib") / "vort.nc").string();
    TestGrid back, ug, vg, expected;
    RES_put("file_path", QAZ_SHARE_SRC "/");   // the edition 2 parameter table
    GRD_set_request(nullptr, 0);
    ASSERT_GT(GRD_read_file(out.c_str(), &back.g, nullptr, -9999), 0);
    VAR_data req;
    int num = 0;
    ASSERT_EQ(GRD_parse_params("var=33,lev=500", &req, &num), 0);
    GRD_set_request(&req, -9999);
    ASSERT_GT(GRD_read_file(kSample.c_str(), &ug.g, nullptr, -9999), 0);
    ASSERT_EQ(GRD_parse_params("var=34,lev=500", &req, &num), 0);
    GRD_set_request(&req, -9999);
    ASSERT_GT(GRD_read_file(kSample.c_str(), &vg.g, nullptr, -9999), 0);
    ASSERT_EQ(GRD_vorticity(&ug.g, &vg.g, &expected.g), 0);
    ASSERT_EQ(back.nx(), 141);
    ASSERT_EQ(back.ny(), 81);
    for (int k = 0; k < 141 * 81; k += 7) EXPECT_NEAR(back.g.grid[k], expected.g.grid[k], 1e-4) << k;
    // Cyclonic at the trough's centre.
    float gx = 0, gy = 0;
    ASSERT_EQ(GRD_get_position(&back.g, 44.0f, -98.0f, &gx, &gy), 0);
    EXPECT_GT(GRD_get_value(&back.g, gx, gy), 0.0f);
}

}  // namespace
