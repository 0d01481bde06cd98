// Picture writers: a 1440 x 721 global field to a 1000 x 700 map with coastlines (target under
// 0.5 s), the same with contours, contour labels and wind barbs (under 0.5 s), and a skew-T of
// a 100-level sounding with its parcels, marks and hodograph (under 60 ms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
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

void BM_GlobalWindMap(benchmark::State& state)
{
    Domain d;
    DOM_init(&d);
    d.proj = 2;
    d.clat = 0;
    d.clon = 0;
    d.dx = d.dy = 0.25f;
    d.nx = 1440;
    d.ny = 721;
    const std::size_t n = 1440 * 721;
    std::vector<float> u(n), v(n), speed(n);
    for (int j = 0; j < 721; ++j)
        for (int i = 0; i < 1440; ++i) {
            double lat = (90 - 0.25 * j) * M_PI / 180, lon = (-180 + 0.25 * i) * M_PI / 180;
            std::size_t k = static_cast<std::size_t>(j) * 1440 + i;
            u[k] = static_cast<float>(30 * std::cos(2 * lat) * std::cos(lat) + 8 * std::sin(3 * lon) * std::cos(lat));
            v[k] = static_cast<float>(10 * std::cos(4 * lon) * std::sin(2 * lat));
            speed[k] = std::hypot(u[k], v[k]);
        }
    GRD_report ur{}, vr{}, sr{};
    ur.domain = vr.domain = sr.domain = d;
    ur.grid = u.data();
    vr.grid = v.data();
    sr.grid = speed.data();
    std::snprintf(ur.units, sizeof ur.units, "m/s");
    std::snprintf(sr.info, sizeof sr.info, "250 mb Wind speed");
    DRAW_map_opts o;
    DRAW_map_defaults(&o);
    o.cint = 5;
    o.wind_u = &ur;
    o.wind_v = &vr;
    std::string file = out_file("wind.png");
    for (auto _ : state) benchmark::DoNotOptimize(DRAW_map_png(&sr, file.c_str(), &o));
    unlink(file.c_str());
}
BENCHMARK(BM_GlobalWindMap)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

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
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    o.lfc = 800;
    o.el = 250;
    o.ml_parcel = {1000, 880, 288};  // a drier mixed layer: its own path
    o.storm_dir = 240;
    o.storm_spd = 25;
    std::string file = out_file("skewt.png");
    for (auto _ : state)
        benchmark::DoNotOptimize(DRAW_diagram_png(lev.data(), 100, lev.data(), 100, table, 2, file.c_str(), &o));
    unlink(file.c_str());
}
BENCHMARK(BM_SkewT)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
