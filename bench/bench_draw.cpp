// Picture writers: a 1440 x 721 global field to a 1000 x 700 map with coastlines (target under
// 0.5 s), and a skew-T of a 100-level sounding (target under 50 ms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <unistd.h>
#include <vector>

#include "draw.hpp"
#include "region.hpp"

namespace {

std::string out_file(const char* name) { return "/tmp/qaz_bench_" + std::to_string(getpid()) + name; }

void BM_GlobalMap(benchmark::State& state)
{
    Domain d;
    DOM_init(&d);
    d.proj = 2;
    d.clat = 0;
    d.clon = 0;
    d.dx = d.dy = 0.25f;
    d.nx = 1440;
    d.ny = 721;
    std::vector<float> v(1440 * 721);
    for (int j = 0; j < 721; ++j)
        for (int i = 0; i < 1440; ++i) {
            double lat = 90 - 0.25 * j, lon = -180 + 0.25 * i;
            v[j * 1440 + i] = static_cast<float>(300 - 40 * std::pow(std::sin(lat * M_PI / 180), 2) + 5 * std::sin(lon * M_PI / 30));
        }
    GRD_report r{};
    r.domain = d;
    r.grid = v.data();
    DRAW_map_opts o;
    DRAW_map_defaults(&o);
    std::string file = out_file("map.png");
    for (auto _ : state) benchmark::DoNotOptimize(DRAW_map_png(&r, file.c_str(), &o));
    unlink(file.c_str());
}
BENCHMARK(BM_GlobalMap)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_SkewT(benchmark::State& state)
{
    std::vector<UPA_level> lev(100);
    for (int k = 0; k < 100; ++k) {
        float p = 1000.0f - 9.0f * k;
        float h = 44330.0f * (1 - std::pow(p / 1013.25f, 0.1903f));
        float t = 28.0f - 6.5f * h / 1000.0f;
        if (t < -60) t = -60;
        lev[k] = {p, h, t, t - 5.0f - 0.2f * k, 200.0f + k, 10.0f + k * 0.6f};
    }
    DRAW_index table[] = {{"LI", -5.0f, "C"}, {"CAPE", 2000.0f, "J/kg"}};
    std::string file = out_file("skewt.png");
    for (auto _ : state)
        benchmark::DoNotOptimize(DRAW_diagram_png(lev.data(), 100, lev.data(), 100, table, 2, file.c_str(), nullptr));
    unlink(file.c_str());
}
BENCHMARK(BM_SkewT)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
