// Operands of the grid functions: what their unit texts and levels mean (humidity kinds,
// level pressure, thickness units), which domains may be combined, and what the result is
// called and labelled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fstream>

#include "grid_helpers.hpp"
#include "scratch_dir.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "unittool.hpp"

namespace {

void use_shipped_units()
{
    RES_put("file_path", QAZ_SHARE_SRC "/");
    UNIT_clear_cache();
}

struct Operand {
    float value;        // every point; -9999 with a null units: the operand is a number
    const char* units;
    int var = -9999;
    int ltype = -9999;
    int level = -9999;
};

// Runs func on 3 x 3 operand grids (or numbers) on a latitude/longitude domain; result of the
// centre point, or NaN when the function refuses.
struct MathRun {
    int ok = 0;
    float centre = NAN;
    std::string units, info;
    int var = -9999;
};

MathRun run_math(const char* func, const std::vector<Operand>& ops, const Domain& d = latlon_domain(40, -100, 3, 3, 1, 1))
{
    std::vector<std::unique_ptr<TestGrid>> grids;
    TestGrid out;
    GRD_report* g[GRD_MATH_OPERANDS] = {&out.g};
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    for (std::size_t k = 0; k < ops.size(); ++k) {
        if (!ops[k].units) {
            values[k + 1] = ops[k].value;
            continue;
        }
        grids.push_back(std::make_unique<TestGrid>(d));
        GRD_report& r = grids.back()->g;
        std::fill(r.grid, r.grid + GRD_num_points(&r), ops[k].value);
        str_copy(r.units, sizeof r.units, ops[k].units);
        r.var = ops[k].var;
        r.ltype = ops[k].ltype;
        r.level = ops[k].level;
        g[k + 1] = &r;
    }
    MathRun result;
    result.ok = GRD_math(func, g, values);
    if (result.ok && out.g.grid) {
        result.centre = out.at(1, 1);
        result.units = out.g.units;
        result.info = out.g.info;
        result.var = out.g.var;
    }
    return result;
}

// A humidity operand is read by its unit text: a dew point, a relative humidity in % or as a
// fraction, a specific humidity or mixing ratio in kg/kg or g/kg; any other unit is refused.
// 0.0073 kg/kg at 1000 mb has a vapour pressure of 11.7 mb: dew point 282.4 K.
TEST(GrdOperands, HumidityIsReadByItsUnit)
{
    use_shipped_units();
    const int spfh = VAR_search_var_num("SPFH"), mixr = VAR_search_var_num("MIXR");
    const Operand t{293.15f, "K"};
    struct Case {
        const char* func;
        Operand hum;
        bool ok;
        float expected;
        float tol;
        const char* units;
    } cases[] = {
        {"dewp", {0.0073f, "kg/kg", spfh, 100, 1000}, true, 282.4f, 0.3f, "K"},
        {"dewp", {7.3f, "g/kg", spfh, 100, 1000}, true, 282.4f, 0.3f, "K"},
        {"dewp", {0.0073f, "kg kg-1", spfh, 100, 1000}, true, 282.4f, 0.3f, "K"},
        // a mixing ratio of 7.3 g/kg holds a little less vapour than the same specific humidity
        {"dewp", {7.3f, "g/kg", mixr, 100, 1000}, true, 282.3f, 0.3f, "K"},
        {"dewp", {50.0f, "%"}, true, 282.4f, 0.6f, "K"},
        {"dewp", {0.5f, "1"}, true, 282.4f, 0.6f, "K"},
        {"dewp", {9.25f, "C"}, true, 282.4f, 0.01f, "K"},
        {"rhum", {0.0073f, "kg/kg", spfh, 100, 1000}, true, 49.7f, 1.0f, "%"},
        {"rhum", {0.5f, "fraction"}, true, 50.0f, 1e-3f, "%"},
        {"rhum", {0.0073f, "furlong"}, false, 0, 0, ""},
        {"dewp", {0.0073f, ""}, false, 0, 0, ""},
        // specific humidity without a pressure level has no vapour pressure
        {"dewp", {0.0073f, "kg/kg", spfh, 1, 0}, false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const MathRun r = run_math(c.func, {t, c.hum});
        const std::string what = std::string(c.func) + " " + std::to_string(c.hum.value) + " " + c.hum.units;
        ASSERT_EQ(r.ok, c.ok ? 1 : 0) << what;
        if (!c.ok) continue;
        EXPECT_NEAR(r.centre, c.expected, c.tol) << what;
        EXPECT_EQ(r.units, c.units) << what;
    }
    // Specific humidity with a pressure operand: the pressure comes from it.
    const MathRun wet = run_math("thetae", {t, {0.0073f, "kg/kg", spfh, 1, 0}, {1000.0f, "mb"}});
    ASSERT_EQ(wet.ok, 1);
    const MathRun wet_td = run_math("thetae", {t, {282.42f, "K"}, {1000.0f, "mb"}});
    EXPECT_NEAR(wet.centre, wet_td.centre, 0.5f);
}

// The Q-vector takes the level pressure from a fourth operand (a number or a pressure grid in
// any pressure unit) or from the temperature's isobaric level.
TEST(GrdOperands, QVectorFindsItsLevelPressure)
{
    use_shipped_units();
    const Domain d = latlon_domain(45, -100, 5, 5, 1, 1);
    auto build = [&](std::vector<std::unique_ptr<TestGrid>>& own, const std::vector<Operand>& extra,
                     int tlevel) -> MathRun {
        own.clear();
        for (int k = 0; k < 3; ++k) own.push_back(std::make_unique<TestGrid>(d));
        fill(*own[0], [](double lat, double, float, float) { return static_cast<float>(0.5 * lat); });
        fill(*own[1], [](double, double lon, float, float) { return static_cast<float>(0.3 * lon); });
        fill(*own[2], [](double lat, double lon, float, float) { return static_cast<float>(250.0 - 0.4 * lat + 0.1 * lon); });
        str_copy(own[0]->g.units, sizeof own[0]->g.units, "m/s");
        str_copy(own[1]->g.units, sizeof own[1]->g.units, "m/s");
        str_copy(own[2]->g.units, sizeof own[2]->g.units, "K");
        own[2]->g.ltype = tlevel > 0 ? 100 : 1;
        own[2]->g.level = tlevel;
        TestGrid out;
        GRD_report* g[GRD_MATH_OPERANDS] = {&out.g, &own[0]->g, &own[1]->g, &own[2]->g};
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
        for (const Operand& e : extra) {
            if (!e.units) {
                values[4] = e.value;
                continue;
            }
            own.push_back(std::make_unique<TestGrid>(d));
            std::fill(own.back()->g.grid, own.back()->g.grid + 25, e.value);
            str_copy(own.back()->g.units, sizeof own.back()->g.units, e.units);
            g[4] = &own.back()->g;
        }
        MathRun r;
        r.ok = GRD_math("uq", g, values);
        if (r.ok) r.centre = out.at(2, 2);
        return r;
    };
    std::vector<std::unique_ptr<TestGrid>> own;
    const MathRun at500 = build(own, {}, 500);
    ASSERT_EQ(at500.ok, 1) << "temperature on 500 mb";
    ASSERT_NE(at500.centre, 0.0f);
    struct Case {
        std::vector<Operand> extra;
        int tlevel;
        float ratio;   // result / result at 500 mb
    } cases[] = {
        {{{500.0f, nullptr}}, 0, 1.0f},
        {{{250.0f, nullptr}}, 500, 2.0f},
        {{{250.0f, "mb"}}, 500, 2.0f},
        {{{50000.0f, "Pa"}}, 0, 1.0f},
    };
    for (const Case& c : cases) {
        const MathRun r = build(own, c.extra, c.tlevel);
        ASSERT_EQ(r.ok, 1);
        EXPECT_NEAR(r.centre / at500.centre, c.ratio, 1e-4) << c.extra[0].value << " " << (c.extra[0].units ? c.extra[0].units : "");
    }
    EXPECT_EQ(build(own, {}, 0).ok, 0) << "no level pressure anywhere";
}

// Thickness is a difference of heights in the unit of the first one.
TEST(GrdOperands, ThicknessKeepsTheFirstUnit)
{
    use_shipped_units();
    struct Case {
        Operand a, b;
        float expected;
        const char* units;
    } cases[] = {
        {{552.0f, "dam"}, {300.0f, "dam"}, 252.0f, "dam"},
        {{552.0f, "dam"}, {3000.0f, "m"}, 252.0f, "dam"},
        {{5520.0f, "m"}, {300.0f, "dam"}, 2520.0f, "m"},
    };
    for (const Case& c : cases) {
        const MathRun r = run_math("thick", {c.a, c.b});
        ASSERT_EQ(r.ok, 1);
        EXPECT_NEAR(r.centre, c.expected, 1e-3) << c.a.units << " - " << c.b.units;
        EXPECT_EQ(r.units, c.units);
    }
    EXPECT_EQ(run_math("thick", {{552.0f, "dam"}, {300.0f, "K"}}).ok, 0) << "no conversion from K to dam";
}

// A result is named by what the function computes, never by a variable whose short name
// happens to be the function's word.
TEST(GrdOperands, ResultsAreDescribedByTheirFunction)
{
    use_shipped_units();
    struct Case {
        const char* func;
        const char* has;
        const char* lacks;
    } cases[] = {
        {"div", "Quotient", "Divergence"},
        {"add", "Sum", nullptr},
        {"mod", "Remainder", nullptr},
        {"grad", "Gradient", "radiation"},
    };
    for (const Case& c : cases) {
        const MathRun r = run_math(c.func, {{6.0f, "m"}, {3.0f, "m"}});
        ASSERT_EQ(r.ok, 1) << c.func;
        EXPECT_NE(r.info.find(c.has), std::string::npos) << c.func << ": " << r.info;
        if (c.lacks) {
            EXPECT_EQ(r.info.find(c.lacks), std::string::npos) << c.func << ": " << r.info;
        }
        EXPECT_EQ(r.var, -9999) << c.func;
    }
    const MathRun copy = run_math("copy", {{6.0f, "m", VAR_search_var_num("HGT"), 100, 500}});
    EXPECT_EQ(copy.var, VAR_search_var_num("HGT"));
}

// A unit text that does not fit the grid's unit field refuses the result rather than cutting
// the text into another unit.
TEST(GrdOperands, LongUnitTextsAreRefusedNotCut)
{
    use_shipped_units();
    struct Case {
        const char* func;
        const char* units;
        bool ok;
        const char* result_units;
    } cases[] = {
        {"dx", "m", true, "1e-05 m/m"},
        {"dx", "kg/m^2/s", false, nullptr},
        {"lapl", "m^2/s^2", false, nullptr},
        {"lapl", "K", true, "1e-10 K/m^2"},
    };
    for (const Case& c : cases) {
        const MathRun r = run_math(c.func, {{1.0f, c.units}});
        EXPECT_EQ(r.ok, c.ok ? 1 : 0) << c.func << " " << c.units;
        if (c.ok) {
            EXPECT_EQ(r.units, c.result_units);
        }
    }
}

// Operands of one function share their domain: grids of the same size elsewhere on the earth
// are refused, rounding differences are not.
TEST(GrdOperands, OperandsShareTheirDomain)
{
    use_shipped_units();
    const Domain here = latlon_domain(40, -95, 5, 5, 1, 1);
    struct Case {
        const char* name;
        Domain other;
        bool ok;
    } cases[] = {
        {"same", here, true},
        {"rounding", latlon_domain(40.00001f, -95.00001f, 5, 5, 1.00001f, 1), true},
        {"longitude written 265", latlon_domain(40, 265, 5, 5, 1, 1), true},
        {"elsewhere", latlon_domain(10, 20, 5, 5, 1, 1), false},
        {"other spacing", latlon_domain(40, -95, 5, 5, 0.5f, 0.5f), false},
        {"other projection", projected_domain(1, 90, -95, 40, -95, 5, 5, 1), false},
    };
    for (const Case& c : cases) {
        TestGrid a(here), b(c.other), out, u(here), v(c.other), vort;
        std::fill(a.g.grid, a.g.grid + 25, 1.0f);
        std::fill(b.g.grid, b.g.grid + 25, 2.0f);
        GRD_report* g[GRD_MATH_OPERANDS] = {&out.g, &a.g, &b.g};
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
        EXPECT_EQ(GRD_math("add", g, values), c.ok ? 1 : 0) << c.name;
        std::fill(u.g.grid, u.g.grid + 25, 1.0f);
        std::fill(v.g.grid, v.g.grid + 25, 2.0f);
        EXPECT_EQ(GRD_vorticity(&u.g, &v.g, &vort.g), c.ok ? 0 : -1) << c.name;
    }
}

// NaN and infinity never come out of a reader: values become missing, a header that places
// the grid nowhere is refused.
TEST(GrdOperands, NonFiniteInputIsReadAsMissing)
{
    const std::string dir = scratch_dir("grd_operands").string();
    auto read_text = [&](const std::string& text, GRD_report* r) {
        const std::string path = dir + "/nonfinite.grd";
        std::ofstream(path) << text;
        int type = 0;
        const int fd = GRD_open(path.c_str(), 0, &type);
        if (fd < 0) return -2;
        GRD_info info{};
        GRD_getinfo(fd, &info);
        int num = 0;
        const int rc = GRD_read(fd, r, 0, &num);
        GRD_close(fd);
        return rc;
    };
    TestGrid t;
    ASSERT_EQ(read_text("QAZGRID\n00Z  1 JAN 99\n1-x\nLL 40 100 1 1 3 2\nnan\ninf\n1e39\n-inf\n2.5\n-1e39\n", &t.g), 0);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(t.g.grid[k], k == 4 ? 2.5f : kMiss) << k;
    for (const char* header : {"LL nan 100 1 1 3 2", "LL 40 100 inf 1 3 2", "LL 40 inf 1 1 3 2"}) {
        TestGrid h;
        EXPECT_LT(read_text(std::string("QAZGRID\n00Z  1 JAN 99\n1-x\n") + header + "\n1\n2\n3\n4\n5\n6\n", &h.g), 0)
            << header;
    }
    // netCDF stores NaN as it is; it is read back as missing.
    const Domain d = latlon_domain(40, -100, 3, 2, 1, 1);
    TestGrid w(d);
    const float written[6] = {1.0f, NAN, INFINITY, -INFINITY, 5.0f, 6.0f};
    std::copy(written, written + 6, w.g.grid);
    w.g.var = 11;
    w.g.ltype = 100;
    w.g.level = 500;
    w.g.time = 0;
    str_copy(w.g.units, sizeof w.g.units, "K");
    const std::string nc = dir + "/nonfinite.nc";
    int type = GRD_TYPE_NETCDF;
    const int fd = GRD_open(nc.c_str(), 1, &type);
    ASSERT_GE(fd, 0);
    GRD_info info{};
    info.max_x = 3;
    info.max_y = 2;
    ASSERT_EQ(GRD_putinfo(fd, &info), 0);
    ASSERT_EQ(GRD_write(fd, &w.g, 0, 0), 0);
    ASSERT_EQ(GRD_close(fd), 0);
    TestGrid back;
    GRD_info binfo{};
    ASSERT_GT(GRD_read_file(nc.c_str(), &back.g, &binfo, -9999), 0);
    const float expected[6] = {1.0f, kMiss, kMiss, kMiss, 5.0f, 6.0f};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(back.g.grid[k], expected[k]) << "netCDF " << k;
}

}  // namespace
