// gridcalc as a process: what each form of the command takes and refuses (units, reductions
// and point-wise functions with selections, words it does not use), and the exit status it
// gives for each.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "grid_helpers.hpp"
#include "scratch_dir.hpp"
#include "string.hpp"

namespace {

const std::string kGridcalc = QAZ_BIN_DIR "/gridcalc";

struct Outcome {
    int status = -1;
    std::string output;
};

std::string dir() { return scratch_dir("gridcalc_cmd").string(); }
std::string path(const std::string& name) { return dir() + "/" + name; }

// Runs gridcalc in the scratch directory; fp "" leaves the units table to the option given in
// args.
Outcome run(const std::string& args, bool shipped_units = true)
{
    Outcome r;
    const std::string command = "cd " + dir() + " && " + kGridcalc + (shipped_units ? " -fp " QAZ_SHARE_SRC "/ " : " ") +
                                args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) r.output += buffer;
    const int wstatus = pclose(p);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return r;
}

const Domain kDomain = latlon_domain(40.0f, -100.0f, 21, 11, 1.0f, 2.0f);

void describe(TestGrid& t, int var, int level, const char* units, const char* label = nullptr)
{
    t.g.var = var;
    t.g.ltype = 100;
    t.g.level = level;
    t.g.time = 0;
    t.g.model = 7096;
    t.g.source = 7;
    t.g.type = 255;
    t.g.date = Date{2026, 1, 1, 1, 4, 12, 0, 0};
    if (label) str_copy(t.g.datim, sizeof t.g.datim, label);
    else DATE_make_label(&t.g.date, t.g.datim, sizeof t.g.datim);
    str_copy(t.g.units, sizeof t.g.units, units);
    GRD_make_datatype(&t.g);
}

void write_grids(const std::string& name, int type, std::vector<GRD_report*> grids)
{
    int f_type = type;
    const int fd = GRD_open(path(name).c_str(), 1, &f_type);
    ASSERT_GE(fd, 0) << name;
    GRD_info info{};
    str_copy(info.datim, sizeof info.datim, grids[0]->datim);
    info.date = grids[0]->date;
    info.max_x = grids[0]->domain.nx;
    info.max_y = grids[0]->domain.ny;
    ASSERT_EQ(GRD_putinfo(fd, &info), 0);
    for (std::size_t k = 0; k < grids.size(); ++k) ASSERT_EQ(GRD_write(fd, grids[k], 0, static_cast<int>(k)), 0);
    ASSERT_EQ(GRD_close(fd), 0);
}

// Value printed by "val GX,GY" of a file, or NaN.
double value_of(const std::string& file, const char* at = "10,5")
{
    const Outcome r = run(file + " val " + at);
    if (r.status != 0) return NAN;
    return std::atof(r.output.c_str());
}

class GridcalcCmd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TestGrid p(kDomain);
        fill(p, [](double, double, float, float) { return 85000.0f; });
        describe(p, 1, 850, "Pa");
        write_grids("p.grd", GRD_TYPE_QAZ, {&p.g});
        TestGrid z(kDomain), t850(kDomain), t500(kDomain), u(kDomain), v(kDomain), far(latlon_domain(10, 20, 21, 11, 1, 2));
        fill(z, [](double lat, double, float, float) { return static_cast<float>(5500.0 + 10.0 * lat); });
        fill(t850, [](double lat, double, float, float) { return static_cast<float>(300.0 - 0.5 * lat); });
        fill(t500, [](double lat, double, float, float) { return static_cast<float>(270.0 - 0.5 * lat); });
        fill(u, [](double, double, float, float) { return 10.0f; });
        fill(v, [](double, double, float, float) { return 5.0f; });
        fill(far, [](double, double, float, float) { return 1.0f; });
        describe(z, 7, 500, "m");
        describe(t850, 11, 850, "K");
        describe(t500, 11, 500, "K");
        describe(u, 33, 500, "m/s");
        describe(v, 34, 500, "m/s");
        describe(far, 7, 500, "m");
        write_grids("z.grd", GRD_TYPE_QAZ, {&z.g});
        write_grids("t.grd", GRD_TYPE_QAZ, {&t850.g, &t500.g});
        write_grids("mix.grd", GRD_TYPE_QAZ, {&z.g, &t500.g, &u.g});
        write_grids("uv.grd", GRD_TYPE_QAZ, {&u.g, &v.g});
        write_grids("far.grd", GRD_TYPE_QAZ, {&far.g});
        // A product label that carries no date.
        describe(z, 7, 500, "m", "3 day forecast valid on Sunday");
        write_grids("label.grd", GRD_TYPE_QAZ, {&z.g});
        std::filesystem::create_directories(path("empty"));
        std::filesystem::create_directories(path("a_directory"));
        // The file a naming convention gives for 1 Jan 2026 12 UTC.
        std::filesystem::copy_file(path("z.grd"), path("26010112.grd"), std::filesystem::copy_options::overwrite_existing);
        std::ofstream(path("damaged.grd")) << "QAZGRID\n00Z  1 JAN 99\n1-x\nLL 40 100 1 1 3 2\n1\n2\nabc\n";
        std::ofstream(path("huge.grd")) << "QAZGRID\n00Z  1 JAN 99\n1-x\nLL 40 100 1 1 100000 100000\n1\n";
    }
};

// A unit the table cannot reach fails and writes nothing; common spellings are aliases of the
// table's names. Without the table nothing that needs a conversion goes through.
TEST_F(GridcalcCmd, UnitsAreConvertedOrRefused)
{
    struct Case {
        std::string args;
        bool shipped_units;
        int status;
        double value;   // at 10,5 of out.grd (40 N): NaN when nothing may be written
        const char* says;
    } cases[] = {
        {"t.grd,lev=850 unit furlong", true, 1, NAN, "No conversion from K to furlong"},
        {"t.grd,lev=850 unit m/s", true, 1, NAN, "No conversion"},
        {"t.grd,lev=850 unit \xc2\xb0" "C", true, 0, 6.85, nullptr},
        {"t.grd,lev=850 unit Celsius", true, 0, 6.85, nullptr},
        {"t.grd,lev=850 unit degC", true, 0, 6.85, nullptr},
        {"t.grd,lev=850 unit kelvin", true, 0, 280.0, nullptr},
        {"uv.grd,var=33 unit 'm s**-1'", true, 0, 10.0, nullptr},
        {"uv.grd,var=33 unit 'm s-1'", true, 0, 10.0, nullptr},
        {"t.grd,lev=850 unit F", false, 1, NAN, "units.lup"},
        // Temperature in F, pressure in Pa: both converted, or refused without the table.
        {"f.grd theta p.grd", true, 0, 280.0 * std::pow(1000.0 / 850.0, 0.2857), nullptr},
        {"f.grd theta p.grd", false, 1, NAN, "units.lup"},
    };
    ASSERT_EQ(run("t.grd,lev=850 unit F = f.grd").status, 0);
    for (const Case& c : cases) {
        std::filesystem::remove(path("out.grd"));
        const std::string fp = c.shipped_units ? "" : "-fp " + path("empty") + "/ ";
        const Outcome r = run(fp + c.args + " = out.grd", c.shipped_units);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        if (c.says) {
            EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        }
        if (std::isnan(c.value) && c.status != 0) {
            EXPECT_FALSE(std::filesystem::exists(path("out.grd"))) << c.args;
        } else if (!std::isnan(c.value)) {
            EXPECT_NEAR(value_of("out.grd"), c.value, 0.05) << c.args;
        }
    }
}

// Reductions take exactly the grids the selection names; max, min, sum and avg with operands
// work point by point; words the command does not use are errors.
TEST_F(GridcalcCmd, ReductionsAndPointFunctionsTakeWhatTheyAreGiven)
{
    struct Case {
        const char* args;
        int status;
        double value;   // of r.grd at 10,5 (40 N); NaN: not written
    } cases[] = {
        {"t.grd,lev=500 avg = r.grd", 0, 250.0},
        {"t.grd avg = r.grd", 0, 265.0},
        {"-le 850 t.grd max = r.grd", 0, 280.0},
        {"t.grd,var=11,lev=850 min = r.grd", 0, 280.0},
        {"t.grd,lev=850 max t.grd,lev=500 = r.grd", 0, 280.0},
        {"t.grd,lev=500 max 260 = r.grd", 0, 260.0},
        {"t.grd,lev=500 sum t.grd,lev=850 10 = r.grd", 0, 540.0},
        {"mix.grd avg = r.grd", 1, NAN},   // heights, temperatures and winds do not add up
        {"z.grd sqrt z.grd = r.grd", 1, NAN},
        {"z.grd maxmin extra", 1, NAN},
        {"z.grd info extra", 1, NAN},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path("r.grd"));
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        if (std::isnan(c.value)) EXPECT_FALSE(std::filesystem::exists(path("r.grd"))) << c.args;
        else EXPECT_NEAR(value_of("r.grd"), c.value, 1e-3) << c.args;
    }
}

// Every other form: missing or surplus words, impossible sizes and formats, plot-only
// functions, operands elsewhere on the earth, damaged files, reasons for unreadable files.
TEST_F(GridcalcCmd, FormsSayWhatIsWrongAndExitNonZero)
{
    struct Case {
        std::string args;
        int status;
        const char* says;       // in the output, or null
        const char* not_file;   // must not have been written, or null
    } cases[] = {
        {"z.grd unit", 1, "unit takes", nullptr},
        {"z.grd cor", 1, "cor takes", nullptr},
        {"z.grd piece 65536x65536", 1, "Expected piece", nullptr},
        {"z.grd copy = = x.grd", 1, "one output file", "="},
        {"uv.grd wind", 1, "computes no grid", nullptr},
        {"uv.grd vect", 1, "computes no grid", nullptr},
        {"-pa grdfmt=%99999999999f z.grd copy = fmt.grd", 1, "GRD_set_format", "fmt.grd"},
        {"-pd size,abc z.grd copy = pic.png", 1, "Picture size", "pic.png"},
        {"z.grd add far.grd = sum.grd", 1, "different domains", "sum.grd"},
        {"damaged.grd maxmin", 1, "Bad grid value", nullptr},
        {"huge.grd maxmin", 1, "too large", nullptr},
        {"nosuch.grd maxmin", 1, "nosuch.grd: No such file or directory", nullptr},
        {"a_directory maxmin", 1, "a_directory: is a directory", nullptr},
        {"-cu '#202601011200' '@%y%m%d%h.grd' maxmin", 0, "6000.000000 5800.000000", nullptr},
        {"z.grd projx = px.grd && " + kGridcalc + " px.grd info", 0, "deg", nullptr},
        {"label.grd maxmin", 0, "6000.000000", nullptr},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        if (c.says) {
            EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        }
        if (c.not_file) {
            EXPECT_FALSE(std::filesystem::exists(path(c.not_file))) << c.args;
        }
        EXPECT_EQ(r.output.find("DATE_decode_label"), std::string::npos) << c.args << "\n" << r.output;
    }
    // sub- and div- put the operand first: b - a.
    ASSERT_EQ(run("t.grd,lev=850 sub- t.grd,lev=500 = d.grd").status, 0);
    EXPECT_NEAR(value_of("d.grd"), -30.0, 1e-3);
    // As many operands as a grid set holds, and not one more.
    std::string heights = "z.grd max";
    for (int k = 0; k < 59; ++k) heights += " z.grd";
    EXPECT_EQ(run(heights + " = many.grd").status, 0);
    EXPECT_EQ(run(heights + " z.grd = many.grd").status, 1);
    // The text file gridcalc writes reads back with its date.
    ASSERT_EQ(run("label.grd copy = again.grd").status, 0);
    const Outcome again = run("-me warn again.grd maxmin");
    EXPECT_EQ(again.output.find("DATE_decode_label"), std::string::npos) << again.output;
}

}  // namespace
