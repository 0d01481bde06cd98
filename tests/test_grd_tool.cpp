// Units and vectors, request matching, bilinear values, remapping between projections,
// mosaics, statistics, thresholds and the point-wise grid functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>
#include <cmath>
#include <string>

#include "grid_helpers.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "unittool.hpp"
#include "var_tool.hpp"
#include "vecttool.hpp"

namespace {

void use_shipped_units()
{
    RES_put("file_path", QAZ_SHARE_SRC "/");
    UNIT_clear_cache();
}

TEST(UnitCvt, ShippedTableConvertsTheEverydayUnits)
{
    use_shipped_units();
    struct Case {
        const char* in;
        const char* out;
        float value, expected, tol;
    } cases[] = {
        {"K", "C", 273.15f, 0.0f, 1e-3f},        {"C", "F", 100.0f, 212.0f, 1e-3f},
        {"F", "K", 32.0f, 273.15f, 1e-3f},       {"degF", "C", -40.0f, -40.0f, 1e-3f},
        {"mb", "inHg", 1013.25f, 29.921f, 1e-3f}, {"Pa", "hPa", 85000.0f, 850.0f, 1e-2f},
        {"kt", "m/s", 10.0f, 5.14444f, 1e-4f},   {"km/h", "mph", 100.0f, 62.1371f, 1e-3f},
        {"m/s", "knots", 1.0f, 1.94384f, 1e-4f}, {"m", "ft", 1000.0f, 3280.84f, 1e-2f},
        {"kg/m^2", "in", 25.4f, 1.0f, 1e-5f},    {"kg_m-2", "mm", 3.0f, 3.0f, 1e-5f},
        {"m^2/s^2", "dam", 9.80665f * 5520.0f, 552.0f, 1e-2f},
        {"gpm", "ft", 304.8f, 1000.0f, 1e-2f},
        // factors in the texts: a power and a plain number, with blanks or underscores
        {"10^3 m", "m", 5.0f, 5000.0f, 1e-3f},   {"m", "10^-3_m", 2.0f, 2000.0f, 1e-3f},
        {"1000 m", "km", 7.0f, 7.0f, 1e-5f},     {"1e-05 /s", "/s", 3.0f, 3e-5f, 1e-9f},
        {"-m", "m", 4.0f, -4.0f, 1e-6f},         {"10^2 mb", "Pa", 1.0f, 10000.0f, 1e-2f},
        // unchanged: the same text in any case, or no output unit
        {"m/s", "M/S", 3.5f, 3.5f, 0.0f},        {"K", "", 250.0f, 250.0f, 0.0f},
        {"K", "C", -9999.0f, -9999.0f, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(UNIT_cvt(c.in, c.out, c.value), c.expected, c.tol) << c.in << " -> " << c.out;
}

TEST(UnitCvt, CacheServesTheLastPairWithoutTheFile)
{
    use_shipped_units();
    EXPECT_NEAR(UNIT_cvt("C", "K", 10.0f), 283.15f, 1e-3f);
    RES_put("file_path", "/nonexistent/units/dir/");
    EXPECT_NEAR(UNIT_cvt("c", "k", 20.0f), 293.15f, 1e-3f);   // cached, any case
    EXPECT_EQ(UNIT_cvt("kt", "m/s", 1.0f), 0.0f);             // the file is needed: 0
    EXPECT_NEAR(UNIT_cvt("10^3 m", "m", 5.0f), 5000.0f, 1e-3f);  // factors alone need no file
    use_shipped_units();
}

TEST(UnitText, ScaleParseAndChange)
{
    char out[UNIT_TEXT_SIZE];
    UNIT_scale("m/s", "/m", out, 1e-5f);
    EXPECT_STREQ(out, "1e-05 m/s/m");
    UNIT_scale("10^2 m", "/m^2", out, 1e-10f);
    EXPECT_STREQ(out, "1e-08 m/m^2");
    char small[8];
    EXPECT_EQ(UNIT_scale("m/s", "/m", small, 1e-5f, sizeof small), -1);
    EXPECT_EQ(std::string(small), "1e-05 m");
    char var[64], units[64];
    UNIT_parse("500 mb Height  (m)", var, units);
    EXPECT_STREQ(var, "500 mb Height");
    EXPECT_STREQ(units, "m");
    UNIT_parse("Temperature", var, units);
    EXPECT_STREQ(var, "Temperature");
    EXPECT_STREQ(units, "");
    char label[70] = "850 mb Temperature (K)";
    UNIT_change(label, "C");
    EXPECT_STREQ(label, "850 mb Temperature (C)");
}

TEST(Vectors, WindRoundTripsInEveryQuadrantAndCalm)
{
    struct Case {
        float dir, spd, u, v;
    } cases[] = {
        {270.0f, 10.0f, 10.0f, 0.0f}, {45.0f, 5.0f, -3.5355f, -3.5355f}, {135.0f, 5.0f, -3.5355f, 3.5355f},
        {225.0f, 5.0f, 3.5355f, 3.5355f}, {315.0f, 5.0f, 3.5355f, -3.5355f}, {0.0f, 0.0f, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        float u = 0, v = 0, dir = 0, spd = 0;
        ASSERT_EQ(wind2vect(&u, &v, c.dir, c.spd), 0);
        EXPECT_NEAR(u, c.u, 1e-3) << c.dir;
        EXPECT_NEAR(v, c.v, 1e-3) << c.dir;
        ASSERT_EQ(vect2wind(&dir, &spd, u, v), 0);
        EXPECT_NEAR(dir, c.dir, 1e-3) << c.dir;
        EXPECT_NEAR(spd, c.spd, 1e-3) << c.dir;
        // polar form: the direction the vector points to, -180..180
        ASSERT_EQ(vect2polar(&dir, &spd, -u, -v), 0);
        float pu = 0, pv = 0;
        polar2vect(&pu, &pv, dir, spd);
        EXPECT_NEAR(pu, -u, 1e-3);
        EXPECT_NEAR(pv, -v, 1e-3);
        EXPECT_LE(dir, 180.0f);
        EXPECT_GE(dir, -180.0f);
    }
    float dir = 1, spd = 1;
    vect2wind(&dir, &spd, 0.005f, -0.005f);
    EXPECT_EQ(dir, 0.0f);   // calm
    EXPECT_EQ(vect2wind(&dir, &spd, kMiss, 1.0f), -1);
    EXPECT_EQ(dir, kMiss);
    EXPECT_EQ(spd, kMiss);
    float u = 0, v = 0;
    EXPECT_EQ(wind2vect(&u, &v, 10.0f, kMiss), -1);
    EXPECT_EQ(u, kMiss);
    VECT w{};
    EXPECT_EQ(dot_product(VECT{1, 2, 3}, VECT{4, 5, 6}), 32.0f);
    EXPECT_EQ(cross_product(&w, VECT{1, 0, 0}, VECT{0, 1, 0}), 0);
    EXPECT_EQ(w.z, 1.0f);
    EXPECT_EQ(cross_product(&w, VECT{kMiss, 0, 0}, VECT{0, 1, 0}), -1);
    EXPECT_EQ(w.y, kMiss);
    EXPECT_EQ(dot_product(VECT{kMiss, 0, 0}, VECT{1, 1, 1}), kMiss);
}

TEST(GrdTest, RequestMatching)
{
    TestGrid t;
    GRD_report& g = t.g;
    g.var = 4;
    g.ltype = 100;
    g.level = 500;
    g.time = 4000012;
    g.type = 211;
    VAR_data req;
    int num = 0;
    ASSERT_EQ(GRD_parse_params("var=4", &req, &num), 0);
    EXPECT_EQ(GRD_test(&g, &req, -9999), 1);
    req.time = 12;
    EXPECT_EQ(GRD_test(&g, &req, -9999), 1);
    req.time = 4000012;
    EXPECT_EQ(GRD_test(&g, &req, -9999), 1);
    EXPECT_EQ(GRD_test(&g, &req, 212), 0);
    g.time = 12;
    EXPECT_EQ(GRD_test(&g, &req, -9999), 0);
    ASSERT_EQ(GRD_parse_params("lev=500,ltype=100,num=3", &req, &num), 0);
    EXPECT_EQ(num, 3);
    EXPECT_EQ(GRD_test(&g, &req, -9999), 0);   // no variable wanted matches nothing
    ASSERT_EQ(GRD_parse_params("var=7/4,lev=500", &req, &num), 0);
    EXPECT_EQ(GRD_test(&g, &req, -9999), 1);
    EXPECT_EQ(GRD_parse_params("color=red", &req, &num), -1);
    EXPECT_EQ(GRD_parse_params("lev=abc", &req, &num), -1);
}

// A field is selected by short name, edition 1 number or edition 2 triplet; a level type by
// either edition's code.
TEST(GrdTest, SelectionByEitherEdition)
{
    RES_put("file_path", QAZ_SHARE_SRC "/");
    const struct {
        const char* text;
        int var, ltype;
    } cases[] = {
        {"var=TMP", 11, -9999},          {"var=tmp", 11, -9999},
        {"var=11", 11, -9999},           {"var=0.0.0", 11, -9999},
        {"var=0.2.22", 2022, -9999},     // a table row whose name the library lacks
        {"var=GUST", 2022, -9999},       {"var=gust", 2022, -9999},
        {"var=0.19.5", 19005, -9999},    // named from the WMO table only
        {"var=10.3.11", 10003011, -9999},
        {"ltype=105", -9999, 105},       {"ltype2=103", -9999, 105},
        {"ltype2=100", -9999, 100},      {"ltype2=104", -9999, 107},
        {"ltype2=1", -9999, 1},          {"ltype2=117", -9999, 1117},
    };
    for (const auto& c : cases) {
        VAR_data req;
        int num = 0;
        ASSERT_EQ(GRD_parse_params(c.text, &req, &num), 0) << c.text;
        EXPECT_EQ(req.var[0], c.var) << c.text;
        EXPECT_EQ(req.ltype, c.ltype) << c.text;
    }
    VAR_data req;
    int num = 0;
    EXPECT_EQ(GRD_parse_params("var=0.2", &req, &num), -1);
    EXPECT_EQ(GRD_parse_params("var=0.2.999", &req, &num), -1);
    EXPECT_EQ(GRD_parse_params("ltype2=x", &req, &num), -1);
}

TEST(GrdGetValue, BilinearWithEdgesAndMissing)
{
    TestGrid t(latlon_domain(0, 0, 2, 2, 1, 1));
    for (int k = 0; k < 4; ++k) t.g.grid[k] = static_cast<float>(k);
    struct Case {
        float gx, gy, expected;
    } cases[] = {
        {0.5f, 0.5f, 1.5f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 3.0f}, {1.0f, 0.5f, 2.0f},
        {-0.1f, 0.0f, kMiss}, {0.0f, 1.5f, kMiss}, {1.00005f, 0.0f, 1.0f},
    };
    for (const Case& c : cases) EXPECT_NEAR(GRD_get_value(&t.g, c.gx, c.gy), c.expected, 1e-4) << c.gx << "," << c.gy;
    t.g.grid[3] = kMiss;
    EXPECT_EQ(GRD_get_value(&t.g, 0.5f, 0.5f), kMiss);
    EXPECT_EQ(GRD_get_value(&t.g, 0.0f, 0.0f), kMiss);   // a missing neighbour, even at weight 0
}

struct RemapCase {
    const char* name;
    Domain target;
};

class GrdRemap : public ::testing::TestWithParam<RemapCase> {};

// A field linear in latitude and longitude survives lat/lon -> projection exactly (bilinear
// in lat/lon is exact) and comes back within interpolation error.
TEST_P(GrdRemap, LinearFieldThereAndBack)
{
    auto field = [](double lat, double lon) { return static_cast<float>(2.0 * lat + 0.5 * lon); };
    const Domain ll = latlon_domain(40.0f, -100.0f, 81, 51, 1.0f, 1.0f);
    TestGrid src(ll), there, back;
    fill(src, [&](double lat, double lon, float, float) { return field(lat, lon); });
    const Domain& target = GetParam().target;
    ASSERT_EQ(GRD_remap(&there.g, &target, &src.g), 0);
    int present = 0;
    for (int j = 0; j < target.ny; ++j)
        for (int i = 0; i < target.nx; ++i) {
            float lat = 0, lon = 0;
            point_lat_lon(target, i, j, &lat, &lon);
            if (there.at(i, j) == kMiss) continue;
            ++present;
            EXPECT_NEAR(there.at(i, j), field(lat, lon), 2e-3) << i << "," << j;
        }
    EXPECT_GT(present, target.nx * target.ny * 9 / 10);
    ASSERT_EQ(GRD_remap(&back.g, &ll, &there.g), 0);
    int back_present = 0;
    double worst = 0;
    for (int j = 0; j < ll.ny; ++j)
        for (int i = 0; i < ll.nx; ++i) {
            if (back.at(i, j) == kMiss) continue;
            ++back_present;
            worst = std::max(worst, static_cast<double>(std::fabs(back.at(i, j) - src.at(i, j))));
        }
    EXPECT_GT(back_present, 200);
    EXPECT_LT(worst, 0.02);
}

INSTANTIATE_TEST_SUITE_P(
    Projections, GrdRemap,
    ::testing::Values(RemapCase{"polar", projected_domain(1, 90.0f, -100.0f, 40.0f, -100.0f, 40, 30, 1.0f)},
                      RemapCase{"lambert", projected_domain(4, 25.0f, -95.0f, 40.0f, -100.0f, 45, 30, 1.0f)}),
    [](const ::testing::TestParamInfo<RemapCase>& info) { return std::string(info.param.name); });

TEST(GrdRemap, GlobalLatLonInterpolatesAcrossTheSeam)
{
    const Domain global = latlon_domain(0.0f, 179.5f, 360, 121, 1.0f, 1.0f);
    TestGrid src(global), out;
    fill(src, [](double lat, double, float, float) { return static_cast<float>(lat); });
    const Domain across = latlon_domain(0.0f, 0.0f, 11, 5, 0.25f, 1.0f);   // lon -1.25 .. 1.25
    ASSERT_EQ(GRD_remap(&out.g, &across, &src.g), 0);
    for (int i = 0; i < across.nx; ++i) EXPECT_NEAR(out.at(i, 2), 0.0f, 1e-4) << i;
}

TEST(GrdPiece, MosaicOfTilesSharingEdges)
{
    const Domain tile_dom = latlon_domain(50.0f, -100.0f, 5, 5, 1.0f, 1.0f);
    TestGrid tile(tile_dom), mosaic;
    ASSERT_EQ(GRD_piece_setup(&mosaic.g, 2, 2, &tile.g), 0);
    EXPECT_EQ(mosaic.nx(), 9);
    EXPECT_EQ(mosaic.ny(), 9);
    EXPECT_NEAR(mosaic.g.domain.clon, -98.0f, 1e-3);   // top-left corner kept at 52N 102W
    EXPECT_NEAR(mosaic.g.domain.clat, 48.0f, 1e-3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            std::fill(tile.g.grid, tile.g.grid + 25, static_cast<float>(10 * y + x));
            ASSERT_EQ(GRD_piece_grid(&mosaic.g, x, y, &tile.g), 0);
        }
    EXPECT_EQ(mosaic.at(0, 0), 0.0f);
    EXPECT_EQ(mosaic.at(8, 0), 1.0f);
    EXPECT_EQ(mosaic.at(0, 8), 10.0f);
    EXPECT_EQ(mosaic.at(8, 8), 11.0f);
    EXPECT_EQ(GRD_piece_grid(&mosaic.g, 2, 0, &tile.g), -1);   // beyond the mosaic
    TestGrid big(latlon_domain(50.0f, -100.0f, 12, 12, 1.0f, 1.0f));
    EXPECT_EQ(GRD_piece_grid(&mosaic.g, 0, 0, &big.g), -1);
}

TEST(GrdStats, OperatorsThresholdsAndMissing)
{
    TestGrid t(latlon_domain(0, 0, 3, 2, 1, 1));
    const float values[] = {1.0f, kMiss, 4.0f, -2.0f, 3.0f, kMiss};
    std::copy(values, values + 6, t.g.grid);
    struct Case {
        const char* oper;
        int result;
        float p0, p1;
    } cases[] = {
        {"max", 1, 4.0f, kMiss}, {"MIN", 1, -2.0f, kMiss}, {"maxmin", 1, 4.0f, -2.0f},
        {"avg", 1, 1.5f, kMiss}, {"avgnum", 1, 1.5f, 4.0f}, {"median", 0, kMiss, kMiss},
    };
    for (const Case& c : cases) {
        float p[2] = {0, 0};
        EXPECT_EQ(GRD_stats(c.oper, &t.g, p), c.result) << c.oper;
        EXPECT_EQ(p[0], c.p0) << c.oper;
        EXPECT_EQ(p[1], c.p1) << c.oper;
    }
    TestGrid empty(latlon_domain(0, 0, 2, 1, 1, 1));
    float p[2];
    EXPECT_EQ(GRD_stats("avg", &empty.g, p), 1);
    EXPECT_EQ(p[0], kMiss);
    TestGrid lo, hi;
    ASSERT_EQ(GRD_cutoff(&lo.g, "lower", &t.g, 2.0f, 0.0f), 0);
    ASSERT_EQ(GRD_cutoff(&hi.g, "higher", &t.g, 2.0f, 99.0f), 0);
    const float lo_expected[] = {0.0f, kMiss, 4.0f, 0.0f, 3.0f, kMiss};
    const float hi_expected[] = {1.0f, kMiss, 99.0f, -2.0f, 99.0f, kMiss};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(lo.g.grid[k], lo_expected[k]) << k;
        EXPECT_EQ(hi.g.grid[k], hi_expected[k]) << k;
    }
    EXPECT_EQ(GRD_cutoff(&lo.g, "between", &t.g, 2.0f, 0.0f), -1);
}

// Point-wise functions: operands 1 and 2 are grids a and b (or constants), one check point.
TEST(GrdMath, PointFunctionsAndTheirMissingRules)
{
    use_shipped_units();
    const Domain d = latlon_domain(0, 0, 3, 1, 1, 1);
    struct Case {
        const char* func;
        float a, b, c;   // c: third operand, -9999 when unused
        float expected;
        float tol;
    } cases[] = {
        {"add", 2, 3, kMiss, 5, 0},        {"sub", 2, 3, kMiss, -1, 0},       {"mul", 2, 3, kMiss, 6, 0},
        {"div", 6, 3, kMiss, 2, 0},        {"div", 6, 0, kMiss, kMiss, 0},    {"mod", 7, 3, kMiss, 1, 0},
        {"mod", 7, 0, kMiss, kMiss, 0},    {"log", 0, kMiss, kMiss, kMiss, 0}, {"log", -1, kMiss, kMiss, kMiss, 0},
        {"log10", 100, kMiss, kMiss, 2, 1e-6f}, {"sqrt", -4, kMiss, kMiss, kMiss, 0}, {"sqrt", 16, kMiss, kMiss, 4, 0},
        {"asin", 2, kMiss, kMiss, kMiss, 0}, {"pow", 2, 10, kMiss, 1024, 0},  {"atan2", 1, 1, kMiss, 0.785398f, 1e-6f},
        {"interp", 10, 0.25f, 20, 12.5f, 1e-6f}, {"thick", 5700, 1500, kMiss, 4200, 0},
        {"max", 1, kMiss, 3, 3, 0},        {"avg", 1, 5, 3, 3, 0},            {"sum", 1, 5, 3, 9, 0},
        {"wspd", 3, 4, kMiss, 5, 1e-6f},   {"dot", 1, 2, 3, 1 * 3 + 2 * 0.5f, 1e-6f},
    };
    for (const Case& c : cases) {
        TestGrid a(d), out;
        std::fill(a.g.grid, a.g.grid + 3, c.a);
        GRD_report* grids[GRD_MATH_OPERANDS] = {&out.g, &a.g};
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
        values[2] = c.b;
        values[3] = c.c;
        if (std::string(c.func) == "dot") values[4] = 0.5f;
        // "max" skips a missing operand: make operand 2 a grid of missing values.
        TestGrid b(d);
        if (c.b == kMiss && c.c != kMiss) {
            grids[2] = &b.g;
        }
        ASSERT_EQ(GRD_math(c.func, grids, values), 1) << c.func;
        EXPECT_NEAR(out.at(1, 0), c.expected, c.tol) << c.func << " " << c.a << " " << c.b;
    }
    TestGrid a(d), out;
    GRD_report* grids[GRD_MATH_OPERANDS] = {&out.g, &a.g};
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    EXPECT_EQ(GRD_math("frobnicate", grids, values), 0);
    EXPECT_EQ(GRD_math("add", grids, values), 0);   // second operand neither grid nor constant
    EXPECT_EQ(GRD_is_math_func("wind"), 20);
    EXPECT_EQ(GRD_is_math_func("rvort"), 10);
    EXPECT_EQ(GRD_is_math_func("strm"), 23);
    EXPECT_EQ(GRD_is_math_func("nothing"), 0);
    EXPECT_EQ(GRD_is_vect_func("grad"), 1);
}

TEST(GrdMath, ThermodynamicOperandsAreConvertedByTheirUnits)
{
    use_shipped_units();
    const Domain d = latlon_domain(0, 0, 2, 1, 1, 1);
    TestGrid t(d), rh(d), td(d), out1, out2, out3;
    std::fill(t.g.grid, t.g.grid + 2, 20.0f);
    str_copy(t.g.units, sizeof t.g.units, "C");
    std::fill(rh.g.grid, rh.g.grid + 2, 100.0f);
    str_copy(rh.g.units, sizeof rh.g.units, "%");
    std::fill(td.g.grid, td.g.grid + 2, 68.0f);   // 20 C in Fahrenheit
    str_copy(td.g.units, sizeof td.g.units, "F");
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    GRD_report* g1[GRD_MATH_OPERANDS] = {&out1.g, &t.g, &rh.g};
    ASSERT_EQ(GRD_math("dewp", g1, values), 1);
    EXPECT_NEAR(out1.at(0, 0), 293.15f, 0.05f);    // saturated: the dew point is the temperature
    EXPECT_STREQ(out1.g.units, "K");
    GRD_report* g2[GRD_MATH_OPERANDS] = {&out2.g, &t.g, &td.g};
    ASSERT_EQ(GRD_math("rhum", g2, values), 1);
    EXPECT_NEAR(out2.at(0, 0), 100.0f, 0.1f);
    EXPECT_STREQ(out2.g.units, "%");
    values[2] = 1000.0f;
    GRD_report* g3[GRD_MATH_OPERANDS] = {&out3.g, &t.g};
    ASSERT_EQ(GRD_math("theta", g3, values), 1);
    EXPECT_NEAR(out3.at(0, 0), 293.15f, 0.01f);
    EXPECT_EQ(t.at(0, 0), 20.0f);   // operands are never converted in place
}

TEST(GrdMath, SmoothLeavesMissingNeighboursOut)
{
    const Domain d = latlon_domain(0, 0, 9, 9, 1, 1);
    TestGrid z(d), out;
    std::fill(z.g.grid, z.g.grid + 81, 5.0f);
    z.at(4, 3) = kMiss;
    float values[GRD_MATH_OPERANDS];
    std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
    values[2] = -4.0f;
    GRD_report* g[GRD_MATH_OPERANDS] = {&out.g, &z.g};
    ASSERT_EQ(GRD_math("smooth", g, values), 1);
    EXPECT_NEAR(out.at(4, 4), 5.0f, 1e-5);   // a constant field stays constant
    EXPECT_EQ(out.at(4, 3), kMiss);
}

}  // namespace

namespace {

TEST(GrdSound, LevelsFromIsobaricGridsHighestPressureFirst)
{
    use_shipped_units();
    const Domain d = latlon_domain(40.0f, -100.0f, 5, 5, 1.0f, 1.0f);
    struct Field {
        int var, level;
        const char* units;
        float value;
    } fields[] = {
        {7, 500, "m", 5600.0f}, {11, 500, "K", 253.15f}, {52, 500, "%", 100.0f},
        {33, 500, "m/s", 10.0f}, {34, 500, "m/s", 0.0f},
        {7, 850, "m", 1500.0f}, {11, 850, "C", 10.0f}, {17, 850, "C", 5.0f},
        {1, 850, "mb", 0.0f},   // a variable a sounding does not use
    };
    std::vector<std::unique_ptr<TestGrid>> owned;
    std::vector<GRD_report*> grids;
    for (const Field& f : fields) {
        owned.push_back(std::make_unique<TestGrid>(d));
        GRD_report& g = owned.back()->g;
        g.var = f.var;
        g.ltype = 100;
        g.level = f.level;
        str_copy(g.units, sizeof g.units, f.units);
        std::fill(g.grid, g.grid + 25, f.value);
        grids.push_back(&g);
    }
    UPA_level levels[4];
    ASSERT_EQ(GRD_get_sound(grids.data(), static_cast<int>(grids.size()), 40.2f, -99.7f, levels, 4), 2);
    EXPECT_EQ(levels[0].p, 850.0f);
    EXPECT_NEAR(levels[0].h, 1500.0f, 1e-3);
    EXPECT_NEAR(levels[0].t, 10.0f, 1e-3);
    EXPECT_NEAR(levels[0].td, 5.0f, 1e-3);
    EXPECT_EQ(levels[0].dir, kMiss);
    EXPECT_EQ(levels[1].p, 500.0f);
    EXPECT_NEAR(levels[1].t, -20.0f, 1e-3);
    EXPECT_NEAR(levels[1].td, -20.0f, 0.1);            // saturated
    EXPECT_NEAR(levels[1].dir, 270.0f, 1e-3);          // westerly
    EXPECT_NEAR(levels[1].spd, 19.4384f, 1e-3);        // 10 m/s in knots
    EXPECT_EQ(GRD_get_sound(grids.data(), static_cast<int>(grids.size()), 10.0f, -99.7f, levels, 4), 0);
}

}  // namespace

namespace {

TEST(GrdMath, ResultsCarryTheVariableOfTheirFunction)
{
    const Domain d = latlon_domain(40, 0, 3, 3, 1, 1);
    TestGrid u(d), v(d);
    std::fill(u.g.grid, u.g.grid + 9, 1.0f);
    std::fill(v.g.grid, v.g.grid + 9, 2.0f);
    struct Case {
        const char* func;
        const char* var;
    } cases[] = {{"rvort", "vort"}, {"diverg", "div"}, {"wspd", "wspd"}, {"dx", "ddx"}, {"add-thick", "thick"}};
    for (const Case& c : cases) {
        TestGrid out;
        GRD_report* g[GRD_MATH_OPERANDS] = {&out.g, &u.g, &v.g};
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
        ASSERT_EQ(GRD_math(c.func, g, values), 1) << c.func;
        EXPECT_EQ(out.g.var, VAR_search_var_num(c.var)) << c.func;
        EXPECT_NE(out.g.var, -1) << c.func;
    }
}

}  // namespace
