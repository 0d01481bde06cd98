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

}  // namespace
