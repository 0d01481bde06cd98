// Reading and writing a 0.25-degree global grid (1440 x 721) as a netCDF grid file, against
// the plain netCDF calls that move the same values, in the same run.
#include <benchmark/benchmark.h>
#include <netcdf.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "grd_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

constexpr int kNx = 1440;
constexpr int kNy = 721;

const std::string& scratch(const char* name)
{
    static std::map<std::string, std::string> paths;
    auto& p = paths[name];
    if (p.empty()) p = "/tmp/bench_grd_nc." + std::to_string(getpid()) + "." + name;
    return p;
}

std::vector<float>& values()
{
    static std::vector<float> v = [] {
        std::vector<float> out(static_cast<size_t>(kNx) * kNy);
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<float>(i % 9973) * 0.25f;
        return out;
    }();
    return v;
}

GRD_report report()
{
    GRD_report r{};
    DOM_init(&r.domain);
    r.domain.proj = 2;
    r.domain.nx = kNx;
    r.domain.ny = kNy;
    r.domain.clat = 0;
    r.domain.clon = 179.875f;
    r.domain.dx = r.domain.dy = 0.25f;
    r.source = 7;
    r.model = 96;
    r.var = 11;
    r.grid = values().data();
    return r;
}

bool library_write(const std::string& path)
{
    GRD_file gf{};
    if (grd_nc_open(&gf, path.c_str(), 1) != 0) return false;
    GRD_info info{};
    info.max_x = kNx;
    info.max_y = kNy;
    info.date = Date{2026, 12, 7, -9999, -9999, 0, -9999, -9999};
    GRD_report r = report();
    const bool ok = grd_nc_putinfo(&gf, &info) == 0 && grd_nc_write(&gf, &r, 0, 0) == 0;
    return grd_nc_close(&gf) == 0 && ok;
}

bool plain_write(const std::string& path)
{
    int ncid, grid, y, x, var;
    if (nc_create(path.c_str(), NC_CLOBBER, &ncid) != NC_NOERR) return false;
    nc_def_dim(ncid, "grid", NC_UNLIMITED, &grid);
    nc_def_dim(ncid, "y", kNy, &y);
    nc_def_dim(ncid, "x", kNx, &x);
    const int dims[3] = {grid, y, x};
    nc_def_var(ncid, "values", NC_FLOAT, 3, dims, &var);
    nc_enddef(ncid);
    const size_t start[3] = {0, 0, 0};
    const size_t count[3] = {1, kNy, kNx};
    const bool ok = nc_put_vara_float(ncid, var, start, count, values().data()) == NC_NOERR;
    return nc_close(ncid) == NC_NOERR && ok;
}

void BM_LibraryWrite(benchmark::State& state)
{
    for (auto _ : state)
        if (!library_write(scratch("lib.nc"))) state.SkipWithError("write failed");
}

void BM_PlainWrite(benchmark::State& state)
{
    for (auto _ : state)
        if (!plain_write(scratch("plain.nc"))) state.SkipWithError("write failed");
}

void BM_LibraryRead(benchmark::State& state)
{
    library_write(scratch("lib_in.nc"));
    for (auto _ : state) {
        GRD_file gf{};
        GRD_info info{};
        GRD_report r{};
        int num = 0;
        if (grd_nc_open(&gf, scratch("lib_in.nc").c_str(), 0) != 0 ||
            grd_nc_getinfo(&gf, &info) != 0 || grd_nc_read(&gf, &r, 0, &num) != 0)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(r.grid);
        std::free(r.grid);
        grd_nc_close(&gf);
    }
}

void BM_PlainRead(benchmark::State& state)
{
    plain_write(scratch("plain_in.nc"));
    std::vector<float> out(static_cast<size_t>(kNx) * kNy);
    for (auto _ : state) {
        int ncid, var;
        const size_t start[3] = {0, 0, 0};
        const size_t count[3] = {1, kNy, kNx};
        if (nc_open(scratch("plain_in.nc").c_str(), NC_NOWRITE, &ncid) != NC_NOERR ||
            nc_inq_varid(ncid, "values", &var) != NC_NOERR ||
            nc_get_vara_float(ncid, var, start, count, out.data()) != NC_NOERR)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(out.data());
        nc_close(ncid);
    }
}

BENCHMARK(BM_LibraryWrite)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_LibraryRead)->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->Repetitions(9);

// Keeps the medians so that the ratios can be printed after the run.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
            if (run.aggregate_name == "median") {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpu_medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
    std::map<std::string, double> cpu_medians;  // steadier on a shared machine
};

}  // namespace

int main(int argc, char** argv)
{
    MESS_set(0, M_error);
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"lib.nc", "plain.nc", "lib_in.nc", "plain_in.nc"})
        std::remove(scratch(name).c_str());
    auto& m = reporter.medians;
    auto& c = reporter.cpu_medians;
    for (const char* op : {"Write", "Read"}) {
        const std::string lib = "BM_Library" + std::string(op), plain = "BM_Plain" + std::string(op);
        if (m[lib] > 0 && m[plain] > 0 && c[lib] > 0 && c[plain] > 0)
            std::printf("netCDF grid %-5s median %.2f ms (cpu %.2f), plain %.2f ms (cpu %.2f), "
                        "ratio %.2f (cpu %.2f; target <= 1.5)\n",
                        op, m[lib], c[lib], m[plain], c[plain], m[lib] / m[plain], c[lib] / c[plain]);
    }
    benchmark::Shutdown();
    return 0;
}
