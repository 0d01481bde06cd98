// Reading and writing one 1440 x 721 grid as a binary "QAZGRID" file (type 3) and as a binary
// "QAZGRID4" file, against a plain fwrite of the same number of value bytes and a plain fread
// of the same file, in the same run and alternately.
// Prints the median of each and the ratio to the plain copy (target: within 1.5).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "grd_read.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

constexpr int kNx = 1440, kNy = 721, kRuns = 101;
constexpr std::size_t kPoints = static_cast<std::size_t>(kNx) * kNy;

// Medians (ms) of the plain copy and of the grid call, run alternately so that both see the
// same load on the machine.
std::pair<double, double> median_pair(const std::function<bool()>& plain, const std::function<bool()>& grid)
{
    std::vector<double> t_plain, t_grid;
    auto time = [](const std::function<bool()>& run) {
        const auto start = std::chrono::steady_clock::now();
        if (!run()) {
            std::fprintf(stderr, "bench_grd: a run failed\n");
            std::exit(1);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    for (int k = 0; k < kRuns; ++k) {
        t_plain.push_back(time(plain));
        t_grid.push_back(time(grid));
    }
    for (auto* t : {&t_plain, &t_grid}) std::nth_element(t->begin(), t->begin() + kRuns / 2, t->end());
    return {t_plain[kRuns / 2], t_grid[kRuns / 2]};
}

bool plain_write(const std::string& path, const std::vector<float>& values)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(values.data(), sizeof(float), values.size(), f) == values.size();
    return std::fclose(f) == 0 && ok;
}

// The whole grid file, header and all, in one fread: the same bytes the grid call reads.
bool plain_read(const std::string& path, std::vector<char>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    return ok;
}

std::size_t file_size(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

bool grd_write(const std::string& path, int type, int itype, GRD_report* grd)
{
    int t = type;
    const int fd = GRD_open(path.c_str(), 1, &t);
    if (fd < 0) return false;
    GRD_get_gfile(fd)->itype = itype;
    GRD_info info{};
    const bool ok = GRD_putinfo(fd, &info) == 0 && GRD_write(fd, grd, 0, 0) == 0;
    return GRD_close(fd) == 0 && ok;
}

bool grd_read(const std::string& path, GRD_report* grd)
{
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    if (fd < 0) return false;
    GRD_info info{};
    int num = 0;
    const bool ok = GRD_getinfo(fd, &info) == 0 && GRD_read(fd, grd, 0, &num) == 0;
    GRD_close(fd);
    return ok && grd->domain.nx == kNx;
}

}  // namespace

int main()
{
    MESS_set(0, M_error);
    const std::string dir = "/tmp/bench_grd." + std::to_string(getpid());
    const std::string plain = dir + ".plain", t3 = dir + ".t3", t4 = dir + ".t4";

    GRD_report grd;
    GRD_init_report(&grd);
    Domain& d = grd.domain;
    d.proj = 2;
    d.clat = 0;
    d.clon = 179.875f;
    d.dx = d.dy = 0.25f;
    d.nx = kNx;
    d.ny = kNy;
    std::snprintf(grd.datim, sizeof grd.datim, "00Z  1 JAN 26");
    std::snprintf(grd.info, sizeof grd.info, "500 mb Height");
    grd.grid = static_cast<float*>(std::malloc(kPoints * sizeof(float)));
    for (std::size_t k = 0; k < kPoints; ++k) grd.grid[k] = 5000.0f + 100.0f * std::sin(0.001f * k);
    std::vector<float> values(grd.grid, grd.grid + kPoints);
    GRD_report back;
    GRD_init_report(&back);

    struct Row {
        const char* name;
        double plain, grd;
    };
    std::vector<Row> rows;
    auto add = [&](const char* name, const std::function<bool()>& p, const std::function<bool()>& g) {
        const auto [tp, tg] = median_pair(p, g);
        rows.push_back({name, tp, tg});
    };
    add("type 3 write", [&] { return plain_write(plain, values); }, [&] { return grd_write(t3, 3, 0, &grd); });
    std::vector<char> bytes3(file_size(t3)), bytes4;
    add("type 3 read", [&] { return plain_read(t3, bytes3); }, [&] { return grd_read(t3, &back); });
    add("type 4 binary write", [&] { return plain_write(plain, values); }, [&] { return grd_write(t4, 4, 3, &grd); });
    bytes4.resize(file_size(t4));
    add("type 4 binary read", [&] { return plain_read(t4, bytes4); }, [&] { return grd_read(t4, &back); });

    std::printf("%d x %d grid, median of %d runs\n", kNx, kNy, kRuns);
    std::printf("%-22s %12s %12s %8s\n", "case", "plain (ms)", "grid (ms)", "ratio");
    for (const Row& r : rows) std::printf("%-22s %12.3f %12.3f %8.2f\n", r.name, r.plain, r.grd, r.grd / r.plain);
    for (const std::string& p : {plain, t3, t4}) std::remove(p.c_str());
    GRD_free_report(&grd);
    GRD_free_report(&back);
    return 0;
}
