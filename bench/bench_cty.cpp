// Loading the whole station file into a continental domain, as a map program does once
// per plot.
#include <benchmark/benchmark.h>

#include "cty_tool.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "resrc.hpp"

namespace {

void load_continent(benchmark::State& state, const char* region, int layout)
{
    RES_clear();
    RES_put("file_path", QAZ_SHARE_SRC "/");
    MESS_set(0, M_error);
    Domain domain;
    if (DOM_decode(region, &domain) != 2) {
        state.SkipWithError("region not found");
        return;
    }
    int stations = 0;
    for (auto _ : state) {
        if (CTY_store(nullptr, layout, &domain, 10) <= 0) {
            state.SkipWithError("station file not found");
            break;
        }
        stations = CTY_get_table()->num_entry;
    }
    state.counters["stations"] = stations;
    CTY_clear();
    RES_clear();
}

void BM_StoreNorthAmericaLocations(benchmark::State& state)
{
    load_continent(state, "na", CTY_STORE_XY_LOC);
}

void BM_StoreEuropeFull(benchmark::State& state)
{
    load_continent(state, "eu", CTY_STORE_FULL);
}

BENCHMARK(BM_StoreNorthAmericaLocations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreEuropeFull)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
