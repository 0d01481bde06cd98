// GRIB editions 0 and 1 from hand-made messages: the codes of the product section, the special
// layouts that ecCodes does not write (pole rows, grid 50, grids 25/26, thinned rows), edition
// 0, scanning modes, constant fields, the jump test, and damaged sections.
#include <gtest/gtest.h>

#include <cmath>

#include "grib1_helpers.hpp"
#include "mess.hpp"
#include "scratch_dir.hpp"

namespace {

struct Quiet {
    M_type saved = MESS_get();
    Quiet() { MESS_set(0, M_none); }
    ~Quiet() { MESS_set(0, saved); }
};

int decode(Msg1& m, GRD_report* r, int rep_type = 0) {
    const Bytes b = m.build();
    return grib1_decode(b.data(), b.size(), m.edition, r, rep_type);
}

std::vector<std::uint32_t> ramp(std::size_t n) {
    std::vector<std::uint32_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::uint32_t(i);
    return v;
}

TEST(GribIbmFloat, Conversions) {
    const struct {
        unsigned char b[4];
        float want;
    } cases[] = {
        {{0x41, 0x10, 0x00, 0x00}, 1.0f},    {{0xc2, 0x64, 0x00, 0x00}, -100.0f},
        {{0x42, 0x76, 0xa0, 0x00}, 118.625f}, {{0x00, 0x12, 0x34, 0x56}, 0.0f},
        {{0x40, 0x80, 0x00, 0x00}, 0.5f},    {{0x3f, 0x40, 0x00, 0x00}, 0.015625f},
    };
    for (const auto& c : cases) EXPECT_FLOAT_EQ(GRIB_flt_conv(c.b), c.want);
    const unsigned char neg3[2] = {0x80, 0x03}, pos4[2] = {0x00, 0x04};
    EXPECT_FLOAT_EQ(GRIB_scl_conv(neg3), 0.125f);
    EXPECT_FLOAT_EQ(GRIB_scl_conv(pos4), 16.0f);
}

TEST(GribProduct, TimeRangeCodes) {
    const struct {
        int unit, p1, p2, range, count, want;
    } cases[] = {
        {1, 6, 0, 0, 0, 6},           {2, 3, 0, 0, 0, 803},         {3, 2, 0, 0, 0, 902},
        {12, 2, 0, 0, 0, 24},         {1, 6, 0, 1, 0, 0},           {1, 3, 6, 2, 0, 2003006},
        {1, 0, 12, 4, 0, 4000012},    {1, 0, 6, 3, 0, 3000006},     {1, 12, 24, 5, 0, 5012024},
        {1, 1, 2, 10, 0, 258},        {1, 0, 6, 113, 4, 13000024},  {1, 0, 6, 123, 4, 23000024},
        {2, 0, 1, 123, 5, 23000805},  {1, 6, 0, 118, 2, 18006000},
        // Units of 3 and 6 hours, minutes and seconds count in hours like the others.
        {10, 8, 0, 0, 0, 24},         {11, 4, 0, 0, 0, 24},         {0, 180, 0, 0, 0, 3},
        {254, 0, 0, 0, 0, 0},         {11, 2, 4, 4, 0, 4012024},    {0, 60, 120, 3, 0, 3001002},
    };
    for (const auto& c : cases) {
        Msg1 m;
        m.pds[17] = static_cast<unsigned char>(c.unit);
        m.pds[18] = static_cast<unsigned char>(c.p1);
        m.pds[19] = static_cast<unsigned char>(c.p2);
        m.pds[20] = static_cast<unsigned char>(c.range);
        put(m.pds, 21, unsigned(c.count), 2);
        m.data({1}, 8, 0);
        Report r;
        grib1_context().edition = 1;
        ASSERT_EQ(GRIB_decode_PDB(m.pds.data(), &r, m.pds.size()), 1);
        EXPECT_EQ(r.time, c.want) << "unit " << c.unit << " range " << c.range;
    }
}

TEST(GribProduct, LevelCodes) {
    const struct {
        int ltype, o11, o12, want;
    } cases[] = {
        {1, 3, 4, 0},          {102, 1, 1, 0},     {100, 1, 244, 500}, {105, 0, 2, 2},
        {101, 50, 100, 50100}, {112, 0, 10, 10},   {109, 1, 44, 300},  {110, 1, 2, 1002},
        {107, 1, 44, 300},     {8, 9, 9, -9999},
    };
    for (const auto& c : cases) {
        Msg1 m;
        m.pds[9] = static_cast<unsigned char>(c.ltype);
        m.pds[10] = static_cast<unsigned char>(c.o11);
        m.pds[11] = static_cast<unsigned char>(c.o12);
        Report r;
        grib1_context().edition = 1;
        GRIB_decode_PDB(m.pds.data(), &r, m.pds.size());
        EXPECT_EQ(r.level, c.want) << "level type " << c.ltype;
    }
}

TEST(GribProduct, ParameterMappings) {
    Quiet quiet;
    const struct {
        int source, version, var;
        int want_var;
        const char* units;
        int ltype, level;
    } cases[] = {
        {7, 1, 11, 11, "K", -9999, -9999},       {7, 1, 7, 7, "m", -9999, -9999},
        {7, 1, 61, 61, "kg/m^2", -9999, -9999},  {7, 1, 1191, 1191, "", -9999, -9999},
        {7, 1, 33, 33, "m/s", -9999, -9999},     {7, 1, 491, 491, "dBZ", -9999, -9999},
        {98, 1, 167, 11, "K", 105, 2},           {98, 1, 151, 1, "Pa", 102, -9999},
        {98, 0, 164, 71, "%", 200, 0},           {98, 1, 228, 61, "m", -9999, -9999},
        {98, 1, 250, 250, "", -9999, -9999},     {7, 0, 2, 7, "10 m", -9999, -9999},
        {7, 0, 50, 61, "mm", -9999, -9999},      {7, 0, 99, 99, "", -9999, -9999},
    };
    for (const auto& c : cases) {
        Report r;
        r.source = c.source;
        r.version = c.version;
        r.var = c.var;
        GRIB_units(&r);
        EXPECT_EQ(r.var, c.want_var) << c.source << "/" << c.var;
        EXPECT_STREQ(r.units, c.units) << c.source << "/" << c.var;
        EXPECT_EQ(r.ltype, c.ltype);
        EXPECT_EQ(r.level, c.level);
    }
    EXPECT_STREQ(GRIB_cdf_units(2), "geopotential dekameters");
    EXPECT_STREQ(GRIB_cdf_units(175), "degrees");
    EXPECT_STREQ(GRIB_cdf_units(3), "");
}

TEST(GribProduct, EnsembleAndProbability) {
    Msg1 m;
    m.pds.resize(55, 0);
    put(m.pds, 0, 55, 3);
    m.pds[25] = 2;  // sub-centre: ensemble products
    m.pds[41] = 3;
    m.pds[42] = 2;
    m.pds[43] = 1;
    m.data({1}, 8, 0);
    Report r;
    Msg1 plain = m;
    plain.pds[25] = 0;
    Report base;
    ASSERT_EQ(decode(plain, &base, 1), 0);
    ASSERT_EQ(decode(m, &r, 1), 0);
    EXPECT_EQ(r.var, 11 + 3 * 20000 + 2 * 1000 + 19280000);
    EXPECT_EQ(std::string(r.info), std::string("Ens[+2] ") + base.info);

    m.pds[43] = 2;  // ensemble mean
    Report mean;
    ASSERT_EQ(decode(m, &mean, 1), 0);
    EXPECT_EQ(mean.var, 11 + 19000000);

    m.pds[8] = 191;  // probability of precipitation above 25.4
    m.pds[45] = 61;
    m.pds[46] = 2;
    put_ibm(m.pds, 51, 25.4);
    Report prob;
    ASSERT_EQ(decode(m, &prob, 1), 0);
    EXPECT_EQ(prob.var, 191 * 10000000 + 61 * 10000 + 2 * 1000 + 25);
    EXPECT_STREQ(prob.units, "%");
    EXPECT_NE(std::string(prob.info).find(" above 25.40 kg/m^2"), std::string::npos) << prob.info;
}

TEST(GribGrid, PredefinedDomains) {
    const struct {
        int grid, proj, nx, ny;
        float clat, clon, dx;
    } cases[] = {
        {21, 2, 37, 37, 45, 90, 5},        {26, 2, 73, 19, -45, 180, 5},
        {39, 2, 73, 73, 45, -165, 1.5f},   {50, 2, 36, 33, 40, -96.25f, 2.5f},
        {64, 2, 91, 46, -45, -90, 2},      {212, 4, 185, 129, 40.606f, -100.554f, 0.4063f},
    };
    for (const auto& c : cases) {
        Domain d;
        DOM_init(&d);
        EXPECT_EQ(GRIB_set_domain(c.grid, &d), 1);
        EXPECT_EQ(d.proj, c.proj);
        EXPECT_EQ(d.nx, c.nx);
        EXPECT_EQ(d.ny, c.ny);
        EXPECT_FLOAT_EQ(d.clat, c.clat);
        EXPECT_FLOAT_EQ(d.clon, c.clon);
        EXPECT_FLOAT_EQ(d.dx, c.dx);
    }
    Domain d;
    DOM_init(&d);
    GRIB_set_domain(3, &d);
    EXPECT_EQ(d.proj, -9999);
}

TEST(GribData, PoleRowsOfPredefinedGrids) {
    // Grid 21 scans from the equator north: the last row, at the pole, carries one value.
    Msg1 m;
    m.pds[6] = 21;
    m.data(ramp(36 * 37 + 1), 11, 0);
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    ASSERT_EQ(r.domain.nx, 37);
    for (int i = 0; i < 37; ++i) EXPECT_EQ(r.grid[i], 1332.0f);       // row 0: the pole
    EXPECT_EQ(r.grid[36 * 37], 0.0f);                                  // equator, west
    EXPECT_EQ(r.grid[36 * 37 + 36], 36.0f);

    // Grid 23 starts at the south pole.
    Msg1 s;
    s.pds[6] = 23;
    s.data(ramp(36 * 37 + 1), 11, 0);
    Report rs;
    ASSERT_EQ(decode(s, &rs), 0);
    for (int i = 0; i < 37; ++i) EXPECT_EQ(rs.grid[36 * 37 + i], 0.0f);
    EXPECT_EQ(rs.grid[35 * 37], 1.0f);
    EXPECT_EQ(rs.grid[0], 1332.0f - 36.0f);
}

TEST(GribData, Grid25RepeatsFirstColumnAndGrid50Margins) {
    Msg1 m;
    m.pds[6] = 25;
    m.data(ramp(18 * 72 + 1), 11, 0);
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    ASSERT_EQ(r.domain.nx, 73);
    for (int row = 1; row < 19; ++row)
        EXPECT_EQ(r.grid[row * 73 + 72], r.grid[row * 73]) << row;
    EXPECT_EQ(r.grid[18 * 73 + 71], 71.0f);
    EXPECT_EQ(r.grid[0], 1296.0f);

    Msg1 g;
    g.pds[6] = 50;
    g.data(ramp(964), 10, 0);
    Report r50;
    ASSERT_EQ(decode(g, &r50), 0);
    // The southern row (32, decoded first) keeps 7 missing points at each end.
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(r50.grid[32 * 36 + i], -9999.0f);
        EXPECT_EQ(r50.grid[32 * 36 + 35 - i], -9999.0f);
    }
    EXPECT_EQ(r50.grid[32 * 36 + 7], 0.0f);
    EXPECT_EQ(r50.grid[32 * 36 + 28], 21.0f);
    EXPECT_EQ(r50.grid[0], 964.0f - 36.0f);  // the northern row is whole
    EXPECT_EQ(r50.grid[35], 963.0f);
}

TEST(GribData, ThinnedRowsStretchLinearly) {
    Msg1 m;
    m.latlon(5, 3, 60, 0, 50, 40, 0);
    // A row list of 3 rows behind the 32 fixed octets: 2, 5 and 3 points.
    m.gds[4] = 33;
    put(m.gds, 6, 0xffff, 2);
    for (int n : {2, 5, 3}) m.gds.push_back(0), m.gds.push_back(static_cast<unsigned char>(n));
    put(m.gds, 0, m.gds.size(), 3);
    m.data({0, 8, 0, 1, 2, 3, 4, 10, 20, 30}, 8, 0);
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    ASSERT_EQ(r.domain.nx, 5);
    ASSERT_EQ(r.domain.ny, 3);
    const float want[15] = {0, 2, 4, 6, 8, 0, 1, 2, 3, 4, 10, 15, 20, 25, 30};
    for (int i = 0; i < 15; ++i) EXPECT_FLOAT_EQ(r.grid[i], want[i]) << i;
    EXPECT_FLOAT_EQ(r.domain.dx, 10.0f);
}

TEST(GribData, ScanningModesPutNorthWestFirst) {
    // 3 x 2 values 0..5 in scan order; the wanted layout for each mode, row 0 north.
    const struct {
        int scan;
        float want[6];
    } cases[] = {
        {0x00, {0, 1, 2, 3, 4, 5}}, {0x40, {3, 4, 5, 0, 1, 2}}, {0x80, {2, 1, 0, 5, 4, 3}},
        {0xc0, {5, 4, 3, 2, 1, 0}}, {0x20, {0, 2, 4, 1, 3, 5}}, {0x10, {0, 1, 2, 5, 4, 3}},
    };
    for (const auto& c : cases) {
        Msg1 m;
        const bool north_first = !(c.scan & 0x40), west_first = !(c.scan & 0x80);
        m.latlon(3, 2, north_first ? 10 : 9, west_first ? 0 : 2, north_first ? 9 : 10,
                 west_first ? 2 : 0, c.scan);
        m.data(ramp(6), 3, 0);
        Report r;
        ASSERT_EQ(decode(m, &r), 0);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(r.grid[i], c.want[i]) << "scan " << c.scan;
        EXPECT_FLOAT_EQ(r.domain.clat, 9.5f);
        EXPECT_FLOAT_EQ(r.domain.clon, 1.0f);
    }
}

TEST(GribData, ScalingBitMapAndConstantField) {
    Msg1 m;
    m.latlon(4, 1, 0, 0, 0, 3, 0);
    put_sm(m.pds, 26, 1, 2);  // D = 1
    m.bitmap({1, 0, 1, 1});
    m.data({3, 0, 7}, 4, 100.0, -1);  // (100 + X / 2) / 10
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    EXPECT_FLOAT_EQ(r.grid[0], 10.15f);
    EXPECT_EQ(r.grid[1], -9999.0f);
    EXPECT_FLOAT_EQ(r.grid[2], 10.0f);
    EXPECT_FLOAT_EQ(r.grid[3], 10.35f);

    Msg1 c;
    c.latlon(4, 1, 0, 0, 0, 3, 0);
    c.bitmap({1, 1, 0, 1});
    c.data({}, 0, 287.5);
    Report rc;
    ASSERT_EQ(decode(c, &rc), 0);
    EXPECT_EQ(rc.grid[0], 287.5f);
    EXPECT_EQ(rc.grid[2], -9999.0f);
    EXPECT_EQ(rc.grid[3], 287.5f);
}

TEST(GribData, GridsWiderThanTheOldLimitDecode) {
    Msg1 m;
    m.latlon(3000, 3, 1, 0, -1, 299.9, 0);
    std::vector<std::uint32_t> x(9000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::uint32_t(i % 1000);
    m.data(x, 10, 0);
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    EXPECT_EQ(r.domain.nx, 3000);
    EXPECT_EQ(r.grid[8999], 999.0f);
    EXPECT_EQ(r.grid[3001], 1.0f);
}

TEST(GribData, MessagesAbove16MBCountIn120ByteUnits) {
    const int nx = 4200, ny = 1000;
    Msg1 m;
    m.latlon(nx, ny, 50, 0, 40.01, 41.99, 0);
    std::vector<std::uint32_t> x(std::size_t(nx) * ny);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::uint32_t(i * 2654435761u);
    m.data(x, 32, 0);
    Bytes b = m.build();
    // Pad to a whole number of 120-byte units before "7777"; the data section's length field
    // carries the correction.
    const std::size_t real = b.size();
    const std::size_t units = (real + 119) / 120;
    const std::size_t correction = units * 120 + 4 - real;
    ASSERT_LT(correction, 120u);
    put(b, 4, 0x800000 | units, 3);
    const std::size_t bds = 8 + m.pds.size() + m.gds.size();
    put(b, bds, correction, 3);
    const std::string path = (scratch_dir("test_grib1") / "large.grib").string();
    write_file(path, b);
    GribFile f(path);
    Report r;
    ASSERT_EQ(f.read(&r, 0), 0);
    ASSERT_EQ(r.domain.nx, nx);
    for (std::size_t i : {std::size_t(0), std::size_t(12345), x.size() - 1})
        EXPECT_EQ(r.grid[i], float(x[i])) << i;
}

TEST(GribData, JumpTestBlanksNoisyGrid) {
    Quiet quiet;
    Msg1 m;
    m.latlon(30, 2, 1, 0, 0, 29, 0);
    std::vector<std::uint32_t> x(60, 10);
    for (int i = 0; i < 30; i += 2) x[std::size_t(i)] = 250;  // noise on row 0
    m.data(x, 8, 0);
    m.pds[9] = 1;  // a surface field: the first grid of the process keeps the usual limit
    GRIB_set_max_bad(3);
    Report r;
    ASSERT_EQ(decode(m, &r), 0);
    GRIB_set_max_bad(-1);
    EXPECT_EQ(r.grid[59], -9999.0f);
    Report clean;
    ASSERT_EQ(decode(m, &clean), 0);
    EXPECT_EQ(clean.grid[59], 10.0f);
}

TEST(GribEdition0, FileOfBareMessages) {
    Msg1 m;
    m.edition = 0;
    m.pds.resize(24);
    put(m.pds, 0, 24, 3);
    m.pds[4] = 98;
    m.pds[8] = 130;
    m.pds[6] = 25;
    m.data(ramp(18 * 72 + 1), 11, 0);
    Bytes file = m.build();
    const Bytes again = file;
    file.insert(file.end(), again.begin(), again.end());
    const std::string path = (scratch_dir("test_grib1") / "ed0.grib").string();
    write_file(path, file);
    GribFile f(path);
    Report r1, r2;
    ASSERT_EQ(f.read(&r1, 0), 0);
    EXPECT_EQ(r1.version, 0);
    EXPECT_EQ(r1.var, 11);
    EXPECT_STREQ(r1.units, "K");
    EXPECT_EQ(r1.grid[0], 1296.0f);
    ASSERT_EQ(f.read(&r2, 1), 0);
    Report r3;
    EXPECT_EQ(f.read(&r3, 2), -1);
    GRD_info info;
    ASSERT_EQ(grd_grib_getinfo(0, &f.gf, &info), 0);
    EXPECT_EQ(f.gf.grid, 10);
    EXPECT_EQ(info.date.year, 2026);
}

TEST(GribDamage, InconsistentSectionsFail) {
    Quiet quiet;
    auto base = [] {
        Msg1 m;
        m.latlon(4, 2, 1, 0, 0, 3, 0);
        m.data(ramp(8), 8, 0);
        return m;
    };
    {
        Msg1 m = base();
        m.bds[10] = 33;  // bits per value above 32
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
    }
    {
        Msg1 m = base();
        put(m.gds, 6, 400, 2);  // a grid larger than the data carried
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
    }
    {
        Msg1 m = base();
        m.bitmap({1, 1, 1});  // bit map shorter than the grid
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
    }
    {
        Msg1 m = base();
        Bytes b = m.build();
        put(b, 8 + 28, 5000, 3);  // grid section past the message
        Report r;
        EXPECT_EQ(grib1_decode(b.data(), b.size(), 1, &r, 0), -1);
    }
    {
        Msg1 m = base();
        put(m.gds, 6, 0xffff, 2);  // no size and no row list
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
    }
    {
        Msg1 m = base();
        put(m.gds, 6, 40000, 2);  // a huge constant field: nothing vouches for its size
        put(m.gds, 8, 40000, 2);
        m.data({}, 0, 1.0);
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
        EXPECT_EQ(r.grid, nullptr);
    }
    {
        Msg1 m = base();
        m.bds[3] = 0x40;  // second-order packing
        Report r;
        EXPECT_EQ(decode(m, &r), -1);
    }
    {
        Msg1 m = base();
        m.gds[5] = 4;  // Gaussian grid: header only
        Report r;
        EXPECT_EQ(decode(m, &r), -2);
        EXPECT_EQ(r.var, 11);
    }
}

}  // namespace
