// Sounding calculations: the parcel ascent and the whole index set on a 100-level sounding
// (median time per sounding over repetitions), and soundcalc on a file of 1000 soundings
// (soundings per second).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "calc.hpp"
#include "ua_calc.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float M = -9999.0f;

// A warm-season sounding: 100 significant levels from the surface to 100 mb, the mandatory
// levels and 30 wind levels; jitter varies it from one station to the next.
void make_report(UPA_report* r, int station, float jitter)
{
    UPA_initialize(r);
    std::snprintf(r->id, sizeof r->id, "S%03d", station % 1000);
    r->wmo = 70000 + station;
    r->lat = 35.0f + 0.01f * (station % 100);
    r->lon = -97.0f;
    r->elev = 300.0f;
    auto temp_at = [jitter](double p) {
        double t = 28.0 + jitter - 44.0 * std::log(980.0 / p);
        return static_cast<float>(std::max(t, -62.0));
    };
    auto dew_at = [&](double p) { return static_cast<float>(temp_at(p) - 4.0 - 0.04 * (980.0 - p)); };
    const float mand[] = {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100};
    const int mand_index[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    r->man[0] = {980, 300, temp_at(980), dew_at(980), 170, 12};
    for (int k = 0; k < 11; ++k) {
        float p = mand[k];
        float h = static_cast<float>(44330.0 * (1.0 - std::pow(p / 1013.25, 0.190263)));
        r->man[mand_index[k]] = {p, h, p <= 980 ? temp_at(p) : M, p <= 980 ? dew_at(p) : M, 180.0f + 0.08f * (980 - p),
                                 15.0f + 0.06f * (980 - p)};
    }
    r->numman = 17;
    r->numsig = 100;
    for (int i = 0; i < 100; ++i) {
        float p = 980.0f - 8.8f * i;
        r->sig[i] = {p, temp_at(p), dew_at(p)};
    }
    r->numwnd = 30;
    for (int i = 0; i < 30; ++i)
        r->wnd[i] = {1000.0f * i, 170.0f + 3.0f * i, 12.0f + 2.0f * i};
}

void BM_parcel_calc(benchmark::State& state)
{
    auto r = std::make_unique<UPA_report>();
    auto tv = std::make_unique<THERM_values>();
    make_report(r.get(), 1, 0.0f);
    THERM_calc(r.get(), tv.get());
    state.counters["levels"] = tv->num_sm;
    PARCEL_params pp;
    for (auto _ : state) {
        UPA_level parcel = tv->sfc;
        parcel_calc(tv->sm, tv->num_sm, &parcel, 1, M, 0.0f, &pp);
        benchmark::DoNotOptimize(pp);
    }
    state.counters["cape"] = pp.Bplus;
}
BENCHMARK(BM_parcel_calc)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_index_set(benchmark::State& state)
{
    auto r = std::make_unique<UPA_report>();
    auto tv = std::make_unique<THERM_values>();
    make_report(r.get(), 1, 0.0f);
    for (auto _ : state) {
        THERM_calc(r.get(), tv.get());
        benchmark::DoNotOptimize(THERM_indices(tv.get()));
    }
    state.counters["levels"] = tv->num_sm;
}
BENCHMARK(BM_index_set)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

// Writes 1000 soundings in the "QAZUPA+" layout and times the soundcalc program over them.
void BM_soundcalc_file(benchmark::State& state)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("bench_sound." + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string file = (dir / "thousand.upa").string();
    int type = UPA_TEXT_PLUS;
    int fd = UPA_open(file.c_str(), 1, &type);
    if (fd < 0) {
        state.SkipWithError("cannot write the sounding file");
        return;
    }
    UPA_info info{};
    std::snprintf(info.datim, sizeof info.datim, "00Z 20 MAY 26");
    UPA_putinfo(fd, &info);
    auto r = std::make_unique<UPA_report>();
    int statnum = 0;
    for (int i = 0; i < 1000; ++i) {
        make_report(r.get(), i, 0.004f * i);
        UPA_write(fd, r.get(), UPA_REP_ALL, &statnum);
    }
    UPA_close(fd);
    std::string cmd = std::string(QAZ_BIN_DIR) + "/soundcalc " + file + " -me error > /dev/null";
    double soundings = 0.0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("soundcalc failed");
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        soundings += 1000.0;
    }
    state.counters["soundings_per_s"] = benchmark::Counter(soundings, benchmark::Counter::kIsRate);
    fs::remove_all(dir);
}
BENCHMARK(BM_soundcalc_file)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
