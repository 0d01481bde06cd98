// Grid files: round trips of every writable stream type, positioning, hand-made fixtures of
// the older forms and of bulletins, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "grd_read.hpp"
#include "region.hpp"
#include "scratch_dir.hpp"

namespace {

std::string scratch(const std::string& name) { return (scratch_dir("test_grd_read") / name).string(); }

std::string fixture(const std::string& name) { return std::string(QAZ_TEST_DATA) + "/grd/" + name; }

void write_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A report owning its values.
struct Report {
    GRD_report r;
    Report() { GRD_init_report(&r); }
    ~Report() { GRD_free_report(&r); }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
};

// A grid of the given geometry with values that do not survive a careless rounding.
void make_grid(GRD_report* g, int seed, const Domain& dom, const char* units)
{
    g->domain = dom;
    g->source = 7;
    g->model = 83 + seed;
    g->type = 211;
    g->ltype = 100;
    g->level = 500 + seed;
    g->time = 12 * seed;
    g->var = 7;
    std::snprintf(g->datim, sizeof g->datim, "12Z  7 DEC 26");
    std::snprintf(g->info, sizeof g->info, "500 mb Height grid %d", seed);
    std::snprintf(g->units, sizeof g->units, "%s", units);
    const std::size_t n = static_cast<std::size_t>(dom.nx) * dom.ny;
    g->grid = static_cast<float*>(std::malloc(n * sizeof(float)));
    for (std::size_t k = 0; k < n; ++k)
        g->grid[k] = static_cast<float>(std::sin(0.37 * (k + 1) * (seed + 1)) * 1234.5678 + 1e-3 * k);
    g->grid[n / 2] = -9999.0f;
}

Domain domain(int proj, float plat, float plon, float p0, float p1, float p2, int nx, int ny)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    d.param[0] = p0;
    d.param[1] = p1;
    d.param[2] = p2;
    d.clat = 40.25f;
    d.clon = -100.5f;
    d.dx = 0.8127f;
    d.dy = 0.75f;
    d.nx = nx;
    d.ny = ny;
    return d;
}

constexpr float M = -9999.0f;

// Every projection form of the text domain line.
const std::vector<Domain>& domains()
{
    static const std::vector<Domain> list = {
        domain(1, M, -100.5f, M, M, M, 5, 4),       // "PS"
        domain(1, M, -105.0f, M, M, M, 3, 7),       // "PS:-105"
        domain(2, M, M, M, M, M, 6, 2),             // "LL"
        domain(3, M, M, M, M, M, 1, 1),             // "ME"
        domain(4, M, M, M, M, M, 4, 3),             // "LC"
        domain(4, M, -95.0f, M, M, M, 2, 5),        // "LC:-95"
        domain(4, 90.0f, -95.0f, 25, 25, 1, 7, 3),  // "LC:plat:plon:p0:p1:p2"
    };
    return list;
}

void expect_same_grid(const GRD_report& want, const GRD_report& got, bool text_domain, bool values)
{
    EXPECT_STREQ(want.datim, got.datim);
    EXPECT_STREQ(want.info, got.info);
    EXPECT_STREQ(want.units, got.units);
    EXPECT_EQ(want.source, got.source);
    EXPECT_EQ(want.model, got.model);
    EXPECT_EQ(want.type, got.type);
    EXPECT_EQ(want.ltype, got.ltype);
    EXPECT_EQ(want.level, got.level);
    EXPECT_EQ(want.time, got.time);
    EXPECT_EQ(want.var, got.var);
    const Domain &a = want.domain, &b = got.domain;
    const float tol = text_domain ? 1e-5f : 0.0f;
    EXPECT_EQ(a.proj, b.proj);
    EXPECT_EQ(a.nx, b.nx);
    EXPECT_EQ(a.ny, b.ny);
    EXPECT_NEAR(a.clat, b.clat, tol);
    EXPECT_NEAR(a.clon, b.clon, tol);
    EXPECT_NEAR(a.dx, b.dx, tol);
    EXPECT_NEAR(a.dy, b.dy, tol);
    EXPECT_NEAR(a.plon, b.plon, tol);
    EXPECT_NEAR(a.plat, b.plat, tol);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.param[k], b.param[k], tol);
    if (!values) {
        EXPECT_EQ(got.grid, nullptr);
        return;
    }
    ASSERT_NE(got.grid, nullptr);
    const std::size_t n = static_cast<std::size_t>(a.nx) * a.ny;
    for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(want.grid[k], got.grid[k]) << "value " << k;
}

struct WriteCase {
    const char* name;
    int type;
    int itype;  // type 4: 3 binary values
    int detected;
    int version;
};

const WriteCase kWriteCases[] = {
    {"bare.grd", 1, 0, 1, 2},
    {"text.grd", 2, 0, 2, 2},
    {"bin.grd", 3, 0, 2, 3},
    {"q4text.grd", 4, 0, 4, 0},
    {"q4bin.grd", 4, 3, 4, 3},
};

std::string write_file(const WriteCase& c, std::vector<Report>& grids)
{
    const std::string path = scratch(c.name);
    int type = c.type;
    const int fd = GRD_open(path.c_str(), 1, &type);
    EXPECT_GE(fd, 0);
    if (fd < 0) return path;
    GRD_get_gfile(fd)->itype = c.itype;
    GRD_info info{};
    EXPECT_EQ(GRD_putinfo(fd, &info), 0);
    const char* units[] = {"m/s", "10 gpm", "deg K"};
    for (std::size_t i = 0; i < grids.size(); ++i) {
        make_grid(&grids[i].r, static_cast<int>(i), domains()[i % domains().size()], units[i % 3]);
        if (c.type == 4 && c.itype == 0) {
            // Only binary "QAZGRID4" files carry the numbers line.
            grids[i].r.units[0] = '\0';
            grids[i].r.source = grids[i].r.model = 1;
            grids[i].r.type = grids[i].r.ltype = grids[i].r.level = grids[i].r.time = grids[i].r.var = -9999;
        }
        EXPECT_EQ(GRD_write(fd, &grids[i].r, 0, static_cast<int>(i)), 0);
    }
    EXPECT_EQ(GRD_close(fd), 0);
    return path;
}

class RoundTrip : public testing::TestWithParam<WriteCase> {};

TEST_P(RoundTrip, EveryGridInAnyOrder)
{
    const WriteCase& c = GetParam();
    std::vector<Report> grids(domains().size());
    const std::string path = write_file(c, grids);
    EXPECT_EQ(GRD_chktype(path.c_str()), c.detected);

    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(type, c.detected);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    EXPECT_STREQ(info.datim, "12Z  7 DEC 26");
    EXPECT_EQ(info.date.year, 2026);
    EXPECT_EQ(info.date.hour, 12);

    const bool text_domain = c.type != 4;
    const int n = static_cast<int>(grids.size());
    std::vector<int> order;
    for (int i = 0; i < n; ++i) order.push_back(i);      // forward
    for (int i = n - 1; i >= 0; --i) order.push_back(i);  // backward
    order.insert(order.end(), {3, 3, 1, 6, 0, 0, 5});     // the same again, jumps
    Report got;
    for (int want : order) {
        for (int rep_type : {0, 1}) {
            SCOPED_TRACE(testing::Message() << c.name << " grid " << want << " rep_type " << rep_type);
            int num = want;
            ASSERT_EQ(GRD_read(fd, &got.r, rep_type, &num), 0);
            EXPECT_EQ(num, want);
            EXPECT_EQ(got.r.version, c.version);
            expect_same_grid(grids[want].r, got.r, text_domain, rep_type == 0);
        }
    }
    int past = n;
    EXPECT_EQ(GRD_read(fd, &got.r, 0, &past), -1);
    EXPECT_EQ(got.r.grid, nullptr);
    int first = 0;
    EXPECT_EQ(GRD_rewind(fd), 0);
    ASSERT_EQ(GRD_read(fd, &got.r, 0, &first), 0);
    expect_same_grid(grids[0].r, got.r, text_domain, true);
    EXPECT_EQ(GRD_close(fd), 0);
}

INSTANTIATE_TEST_SUITE_P(Types, RoundTrip, testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(GrdRead, TwoFilesReadInterleaved)
{
    std::vector<Report> a(domains().size()), b(domains().size());
    const std::string pa = write_file(kWriteCases[1], a);
    const std::string pb = write_file(kWriteCases[4], b);
    int ta = 0, tb = 0;
    const int fa = GRD_open(pa.c_str(), 0, &ta), fb = GRD_open(pb.c_str(), 0, &tb);
    ASSERT_GE(fa, 0);
    ASSERT_GE(fb, 0);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fa, &info), 0);
    ASSERT_EQ(GRD_getinfo(fb, &info), 0);
    Report got;
    const int steps[][2] = {{0, 0}, {1, 0}, {1, 1}, {2, 1}, {0, 2}, {5, 3}, {6, 6}, {4, 5}};
    for (const auto& step : steps) {
        int na = step[0], nb = step[1];
        ASSERT_EQ(GRD_read(fa, &got.r, 0, &na), 0);
        expect_same_grid(a[step[0]].r, got.r, true, true);
        ASSERT_EQ(GRD_read(fb, &got.r, 0, &nb), 0);
        expect_same_grid(b[step[1]].r, got.r, false, true);
    }
    EXPECT_EQ(GRD_close(fa), 0);
    EXPECT_EQ(GRD_close(fb), 0);
}

// Hand-made files of the older and rarer forms: the text, the grid it must give.
struct FormCase {
    const char* name;
    const char* text;
    int version;
    Domain dom;
    const char* units;
    std::vector<float> values;
};

const std::vector<FormCase>& form_cases()
{
    static const std::vector<FormCase> cases = {
        {"old domain line", "12Z  7 DEC 26\nOld polar grid\n45.0 -100.0 1.5 2 1\n1.5\n-2.25\n", 0,
         [] {
             Domain d = domain(1, M, -100.0f, M, M, M, 2, 1);
             d.clat = 45.0f, d.clon = -100.0f, d.dx = d.dy = 1.5f;
             return d;
         }(),
         "", {1.5f, -2.25f}},
        {"version 1 west longitudes", "QAZGRID\n00Z  1 JAN 99\n1-West\nLL 40 100 1 2 1 2\n1\n2\n", 1,
         [] {
             Domain d = domain(2, M, M, M, M, M, 1, 2);
             d.clat = 40, d.clon = -100, d.dx = 1, d.dy = 2;
             return d;
         }(),
         "", {1, 2}},
        {"unit token, PS with -9999, old values",
         "QAZGRID\n00Z  1 JAN 99\n0-x\n:deg_C PS:-9999 60 -90 1 1 1 1\n  7e-1  \n", 0,
         [] {
             Domain d = domain(1, M, -90, M, M, M, 1, 1);
             d.clat = 60, d.clon = -90, d.dx = d.dy = 1;
             return d;
         }(),
         "deg C", {0.7f}},
        {"LC with one value is plon", "QAZGRID\n00Z  1 JAN 99\n2-y\n1 2 1 0 0 0 0 0:m/s\nLC:30 35 -95 2 2 1 1\n3\n",
         2,
         [] {
             Domain d = domain(4, M, 30, M, M, M, 1, 1);
             d.clat = 35, d.clon = -95, d.dx = d.dy = 2;
             return d;
         }(),
         "m/s", {3}},
    };
    return cases;
}

TEST(GrdRead, OlderForms)
{
    for (const FormCase& c : form_cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch("form.grd");
        write_bytes(path, c.text);
        int type = 0;
        const int fd = GRD_open(path.c_str(), 0, &type);
        ASSERT_GE(fd, 0);
        GRD_info info{};
        ASSERT_EQ(GRD_getinfo(fd, &info), 0);
        Report got;
        int num = 0;
        ASSERT_EQ(GRD_read(fd, &got.r, 0, &num), 0);
        EXPECT_EQ(got.r.version, c.version);
        EXPECT_STREQ(got.r.units, c.units);
        const Domain& d = got.r.domain;
        EXPECT_EQ(d.proj, c.dom.proj);
        EXPECT_EQ(d.nx, c.dom.nx);
        EXPECT_EQ(d.ny, c.dom.ny);
        EXPECT_FLOAT_EQ(d.clat, c.dom.clat);
        EXPECT_FLOAT_EQ(d.clon, c.dom.clon);
        EXPECT_FLOAT_EQ(d.dx, c.dom.dx);
        EXPECT_FLOAT_EQ(d.dy, c.dom.dy);
        EXPECT_FLOAT_EQ(d.plon, c.dom.plon);
        EXPECT_FLOAT_EQ(d.plat, c.dom.plat);
        ASSERT_NE(got.r.grid, nullptr);
        for (std::size_t k = 0; k < c.values.size(); ++k) EXPECT_FLOAT_EQ(got.r.grid[k], c.values[k]);
        int next = 1;
        EXPECT_EQ(GRD_read(fd, &got.r, 0, &next), -1);
        GRD_close(fd);
    }
}

// Version 4 grids name an external value file: text ("A...") or the machine's own floats,
// filled in either row and column direction.
TEST(GrdRead, ExternalValueFiles)
{
    const float raw[6] = {1, 2, 3, 4, 5, 6};  // file order
    write_bytes(scratch("values.bin"), std::string("PAD!") + std::string(reinterpret_cast<const char*>(raw), sizeof raw));
    write_bytes(scratch("values.txt"), "1 2 3\n4 5 6");
    struct Case {
        const char* line;
        std::vector<float> want;  // row 0 first
    } cases[] = {
        {"A values.txt 0 1 1", {1, 2, 3, 4, 5, 6}},
        {"B values.bin 4 1 1", {1, 2, 3, 4, 5, 6}},
        {"B values.bin 4 -1 1", {4, 5, 6, 1, 2, 3}},
        {"ASCII values.txt 0 1 -1", {3, 2, 1, 6, 5, 4}},
        {"B values.bin 4 0 0", {6, 5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = scratch("v4.grd");
        write_bytes(path, std::string("QAZGRID\n00Z  1 JAN 99\n4-ext\n1 4 1 0 0 0 0 0\nLL 0 0 1 1 3 2\n") + c.line + "\n");
        int type = 0;
        const int fd = GRD_open(path.c_str(), 0, &type);
        ASSERT_GE(fd, 0);
        GRD_info info{};
        ASSERT_EQ(GRD_getinfo(fd, &info), 0);
        Report got;
        int num = 0;
        ASSERT_EQ(GRD_read(fd, &got.r, 0, &num), 0);
        ASSERT_NE(got.r.grid, nullptr);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(got.r.grid[k], c.want[k]) << k;
        GRD_close(fd);
    }
}

TEST(GrdRead, TypeDetection)
{
    const struct {
        const char* bytes;
        int type;
    } cases[] = {
        {" 12Z GRIB", 1}, {"7GRIB", 1}, {"QAZGRID4B\n", 4}, {"QAZGRID\n", 2}, {"CDF\x01", 11},
        {"GRIB....", 21}, {"*header", 21}, {"\x01xx", 21}, {"GRID 07001", 22}, {"TTAA header GRIB", 21},
        {"hello", -1},
    };
    for (const auto& c : cases) {
        const std::string path = scratch("detect");
        write_bytes(path, c.bytes);
        EXPECT_EQ(GRD_chktype(path.c_str()), c.type) << c.bytes;
    }
    EXPECT_EQ(GRD_chktype(scratch("missing").c_str()), -1);
}

TEST(GrdRead, Bulletins)
{
    int type = 0;
    const int fd = GRD_open(fixture("bulletin.txt").c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(type, 22);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    EXPECT_EQ(info.date.year, 2026);
    EXPECT_EQ(info.date.month, 12);
    EXPECT_EQ(info.date.day, 7);
    EXPECT_EQ(info.date.hour, 12);
    Report g;
    // Grid 1: scalar, rows from the bottom up, row 3 of the bulletin constant.
    int num = 0;
    ASSERT_EQ(GRD_read(fd, &g.r, 0, &num), 0);
    EXPECT_EQ(g.r.source, 7);
    EXPECT_EQ(g.r.type, 71);
    EXPECT_EQ(g.r.var, 52);
    EXPECT_EQ(g.r.ltype, 10);
    EXPECT_EQ(g.r.level, 500);
    EXPECT_EQ(g.r.time, 24);
    EXPECT_EQ(g.r.domain.proj, 2);
    EXPECT_EQ(g.r.domain.nx, 19);
    EXPECT_EQ(g.r.domain.ny, 15);
    EXPECT_FLOAT_EQ(g.r.domain.clat, 55);
    EXPECT_FLOAT_EQ(g.r.domain.clon, -45);
    for (int s = 0; s < 15; ++s)
        for (int i = 0; i < 19; ++i) {
            const float want = s == 3 ? 255.5f : 200.0f + 0.1f * static_cast<float>((s * 19 + i) % 1000);
            ASSERT_NEAR(g.r.grid[(14 - s) * 19 + i], want, 1e-3) << s << " " << i;
        }
    // Grids 2 and 3: one wind pair of direction/speed groups gives u then v.
    for (int k : {1, 2}) {
        num = k;
        ASSERT_EQ(GRD_read(fd, &g.r, 0, &num), 0);
        EXPECT_EQ(g.r.var, k == 1 ? 23 : 24);
        for (int s = 0; s < 15; ++s)
            for (int i = 0; i < 19; ++i) {
                const double dir = ((s * 10 + i * 5) % 360) * M_PI / 180.0, speed = (s + i) % 100;
                const double want = k == 1 ? -speed * std::sin(dir) : -speed * std::cos(dir);
                ASSERT_NEAR(g.r.grid[s * 19 + i], want, 1e-4);
            }
    }
    // Grid 13 has a header and no values.
    num = 3;
    ASSERT_EQ(GRD_read(fd, &g.r, 0, &num), 0);
    EXPECT_EQ(g.r.type, 83);
    EXPECT_EQ(g.r.grid, nullptr);
    // Sign digits and values run together, level 0 of type 3 is level type 12.
    num = 4;
    ASSERT_EQ(GRD_read(fd, &g.r, 0, &num), 0);
    EXPECT_EQ(g.r.source, 98);
    EXPECT_EQ(g.r.ltype, 12);
    for (int s = 0; s < 15; ++s)
        for (int i = 0; i < 19; ++i) {
            const float v = 0.001f * static_cast<float>((s * 7 + i) % 1000);
            ASSERT_NEAR(g.r.grid[s * 19 + i], (s + i) % 2 ? -v : v, 1e-6);
        }
    // Back to the pair: the second field is v again, whatever was read before.
    num = 2;
    ASSERT_EQ(GRD_read(fd, &g.r, 1, &num), 0);
    EXPECT_EQ(g.r.var, 24);
    num = 5;
    EXPECT_EQ(GRD_read(fd, &g.r, 0, &num), -1);
    GRD_close(fd);
}

// Every grid of a file (values included), read in order.
std::vector<std::vector<float>> all_values(const std::string& path)
{
    std::vector<std::vector<float>> out;
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    GRD_info info{};
    if (fd < 0 || GRD_getinfo(fd, &info) != 0) return out;
    Report g;
    for (int n = 0;; ++n) {
        int num = n;
        if (GRD_read(fd, &g.r, 0, &num) != 0) break;
        const std::size_t size = g.r.grid ? static_cast<std::size_t>(g.r.domain.nx) * g.r.domain.ny : 0;
        out.emplace_back(g.r.grid, g.r.grid + size);
    }
    GRD_close(fd);
    return out;
}

// A file cut anywhere or with bytes changed: never a crash; a grid that reads from a cut file
// is the whole grid.
TEST(GrdRead, DamagedFiles)
{
    std::vector<std::string> originals;
    for (const WriteCase& c : kWriteCases) {
        std::vector<Report> grids(3);
        originals.push_back(read_bytes(write_file(c, grids)));
    }
    originals.push_back(read_bytes(fixture("bulletin.txt")));
    const std::string path = scratch("damaged.grd");
    for (std::size_t f = 0; f < originals.size(); ++f) {
        const std::string& full = originals[f];
        write_bytes(path, full);
        const std::vector<std::vector<float>> intact = all_values(path);
        ASSERT_GE(intact.size(), 3u);
        for (int mode = 0; mode < 2; ++mode) {
            for (std::size_t cut = 0; cut < full.size(); cut += 1 + full.size() / 97) {
                std::string bytes = full;
                if (mode == 0) bytes.resize(cut);
                else bytes[cut] = static_cast<char>(bytes[cut] ^ 0x5a);
                write_bytes(path, bytes);
                int type = 0;
                const int fd = GRD_open(path.c_str(), 0, &type);
                if (fd < 0) continue;
                GRD_info info{};
                if (GRD_getinfo(fd, &info) == 0) {
                    Report got;
                    for (int n : {0, 1, 2, 3, 1, 0}) {
                        int num = n;
                        const int r = GRD_read(fd, &got.r, 0, &num);
                        if (r != 0) {
                            EXPECT_EQ(got.r.grid, nullptr);
                        } else if (mode == 0 && got.r.grid) {
                            SCOPED_TRACE(testing::Message() << "file " << f << " cut at " << cut << " grid " << n);
                            ASSERT_LT(static_cast<std::size_t>(n), intact.size());
                            const std::vector<float>& want = intact[n];
                            ASSERT_EQ(static_cast<std::size_t>(got.r.domain.nx) * got.r.domain.ny, want.size());
                            for (std::size_t k = 0; k < want.size(); ++k) ASSERT_EQ(got.r.grid[k], want[k]);
                        }
                    }
                }
                GRD_close(fd);
            }
        }
    }
}

TEST(GrdRead, HostileSizes)
{
    const char* files[] = {
        "QAZGRID\n00Z  1 JAN 99\n2-x\n1 2 1 0 0 0 0 0\nLL 0 0 1 1 100000 100000\n1\n",
        "QAZGRID\n00Z  1 JAN 99\n2-x\n1 2 1 0 0 0 0 0\nLL 0 0 1 1 -3 2\n1\n",
        "QAZGRID\n00Z  1 JAN 99\n2-x\n1 2 1 0 0 0 0 0\nLL 0 0 1 1 2147483647 2147483647\n1\n",
        "QAZGRID\n00Z  1 JAN 99\n3-x\n1 3 1 0 0 0 0 0\nLL 0 0 1 1 1000 1000\nabcd\n",
        "QAZGRID\n00Z  1 JAN 99\n3-x\n1 3 1 0 0 0 0 0\nLL 0 0 1 1 2147483647 2147483647\nabcd\n",
        "QAZGRID\n00Z  1 JAN 99\n3-x\n1 3 1 0 0 0 0 0\nLL 0 0 1 1 99999999999 2\nabcd\n",
        "QAZGRID\n00Z  1 JAN 99\n4-x\n1 4 1 0 0 0 0 0\nLL 0 0 1 1 10 10\nB short.bin 0 1 1\n",
        "QAZGRID\n00Z  1 JAN 99\n4-x\n1 4 1 0 0 0 0 0\nLL 0 0 1 1 2 2\nB nowhere.bin 0 1 1\n",
        "QAZGRID\n00Z  1 JAN 99\n2-x\n1 2 1 0 0 0 0 0\nXY 0 0 1 1 1 1\n1\n",
        "QAZGRID\n00Z  1 JAN 99\n2-x\n1 2 1 0 0 0 0 0\nLL 0 0 1 1 1 2\n1\nnot-a-number\n",
    };
    write_bytes(scratch("short.bin"), std::string(40, '\0'));
    for (const char* text : files) {
        SCOPED_TRACE(text);
        const std::string path = scratch("hostile.grd");
        write_bytes(path, text);
        int type = 0;
        const int fd = GRD_open(path.c_str(), 0, &type);
        ASSERT_GE(fd, 0);
        GRD_info info{};
        ASSERT_EQ(GRD_getinfo(fd, &info), 0);
        Report got;
        int num = 0;
        EXPECT_EQ(GRD_read(fd, &got.r, 0, &num), -1);
        EXPECT_EQ(got.r.grid, nullptr);
        GRD_close(fd);
    }
}

TEST(GrdRead, BulletinWithTooFewRows)
{
    const std::string full = read_bytes(fixture("bulletin.txt"));
    const std::size_t second = full.find("GRID", 4);
    const std::size_t cut = full.find('\n', second + 300);  // a few rows into the second grid
    const std::string path = scratch("short_bulletin.txt");
    write_bytes(path, full.substr(0, cut + 1));
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    Report g;
    int num = 0;
    EXPECT_EQ(GRD_read(fd, &g.r, 0, &num), 0);
    num = 1;
    EXPECT_EQ(GRD_read(fd, &g.r, 0, &num), -1);
    EXPECT_EQ(g.r.grid, nullptr);
    GRD_close(fd);
}

// Standard input cannot seek: grids come in order, the first label is the one GRD_getinfo
// read, and going back is refused.
TEST(GrdRead, StandardInput)
{
    std::vector<Report> grids(3);
    const std::string path = write_file(kWriteCases[2], grids);
    ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
    int type = 0;
    const int fd = GRD_open("-", 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(type, 2);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    Report got;
    int num = 0;
    ASSERT_EQ(GRD_read(fd, &got.r, 0, &num), 0);
    expect_same_grid(grids[0].r, got.r, true, true);
    num = 2;  // grid 1 is stepped over
    ASSERT_EQ(GRD_read(fd, &got.r, 0, &num), 0);
    expect_same_grid(grids[2].r, got.r, true, true);
    num = 1;
    EXPECT_EQ(GRD_read(fd, &got.r, 0, &num), -1);
    EXPECT_EQ(GRD_close(fd), 0);
}

TEST(GrdRead, SlotsAndFormats)
{
    Report g;
    int num = 0;
    GRD_info info{};
    for (int bad : {-1, 15, 3}) {
        EXPECT_EQ(GRD_read(bad, &g.r, 0, &num), -1);
        EXPECT_EQ(GRD_getinfo(bad, &info), -1);
        EXPECT_EQ(GRD_get_gfile(bad), nullptr);
    }
    EXPECT_EQ(GRD_close(3), 0);
    // Fifteen files at most.
    std::vector<int> fds;
    for (int k = 0; k < 16; ++k) {
        int type = 2;
        fds.push_back(GRD_open(scratch("slot" + std::to_string(k)).c_str(), 1, &type));
    }
    EXPECT_EQ(fds[14], 14);
    EXPECT_EQ(fds[15], -1);
    for (int fd : fds) GRD_close(fd);
    // A custom value format; one that would read missing arguments is refused.
    for (const char* fmt : {"%s", "%d%f", "%.3f"}) {
        GRD_set_format(fmt);
        std::vector<Report> grids(1);
        const std::string path = write_file(kWriteCases[1], grids);
        const std::string text = read_bytes(path);
        const bool custom = std::string(fmt) == "%.3f";
        const bool exponents = text.find("e+") != std::string::npos || text.find("e-") != std::string::npos;
        EXPECT_EQ(exponents, !custom) << fmt;
    }
    GRD_set_format("");
}

}  // namespace
