// One million forward and one million inverse transforms per earth projection.
// Target: a million polar stereographic transforms in under 0.1 s of CPU.
#include <benchmark/benchmark.h>

#include <vector>

#include "maptran.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr int kCalls = 1000000;

Domain bench_domain(int proj)
{
    Domain d{};
    d.proj = proj;
    d.plat = proj == 1 ? 60.0f : (proj == 9 || proj == 7 || proj == 2 || proj == 3 ? 0.0f : 40.0f);
    d.plon = -100.0f;
    for (float& p : d.param) p = kMissing;
    d.clat = d.plat;
    d.clon = d.plon;
    d.dx = d.dy = 1.0f;
    d.nx = d.ny = 41;
    d.ellipse = 0;
    return d;
}

// Points within 60 degrees of the projection point, visible on every earth projection.
std::vector<EarthPoint> sample_points(const Domain& dom)
{
    std::vector<EarthPoint> points;
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 32; ++j) {
            float lat = (dom.proj == 9 ? 0.0f : dom.plat) - 30.0f + 60.0f * i / 31.0f;
            if (lat > 89.0f) lat = 89.0f;
            points.push_back({lat, dom.plon - 40.0f + 80.0f * j / 31.0f});
        }
    return points;
}

void BM_MapTran(benchmark::State& state)
{
    Domain dom = bench_domain(static_cast<int>(state.range(0)));
    MAP_domain(&dom);
    std::vector<EarthPoint> points = sample_points(dom);
    std::size_t i = 0;
    float x, y;
    for (auto _ : state) {
        const EarthPoint& p = points[i++ & 1023];
        benchmark::DoNotOptimize(MAP_tran(p.lat, p.lon, &x, &y));
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MapUntran(benchmark::State& state)
{
    Domain dom = bench_domain(static_cast<int>(state.range(0)));
    MAP_domain(&dom);
    std::vector<Point> planes;
    for (const EarthPoint& p : sample_points(dom)) {
        Point pt;
        if (MAP_tran_ep(&p, &pt)) planes.push_back(pt);
    }
    while (planes.size() < 1024) planes.push_back(planes[planes.size() % 7]);
    std::size_t i = 0;
    float lat, lon;
    for (auto _ : state) {
        const Point& p = planes[i++ & 1023];
        benchmark::DoNotOptimize(MAP_untran(p.x, p.y, &lat, &lon));
        benchmark::DoNotOptimize(lat);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_MapTran)->DenseRange(1, 9)->Iterations(kCalls)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_MapUntran)->DenseRange(1, 9)->Iterations(kCalls)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
