// GRIB edition 2 decoding speed against ecCodes' C library: a 1440 x 721 field packed simple,
// complex with spatial differencing, JPEG 2000 and CCSDS, each decoded from the message in
// memory by both in the same run. The messages are written by ecCodes (python) when the
// benchmark starts. Prints the median of each and the ratio library / ecCodes. Then a reduced
// Gaussian N1280 field (octahedral rows, 6.6 million points): the library decodes and expands
// it to 5136 x 2560, ecCodes only decodes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "grib_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

#ifdef QAZ_HAVE_ECCODES
#include <eccodes.h>
#endif

namespace {

const char* const kPackings[] = {"grid_simple", "grid_complex_spatial_differencing", "grid_jpeg",
                                 "grid_ccsds"};
const char* const kLabels[] = {"simple", "complex + spatial differencing", "JPEG 2000", "CCSDS"};
const double kTargets[] = {0.67, 0.2, 1.0, 1.0};

std::vector<unsigned char> g_msgs[4];

std::vector<unsigned char> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> g_reduced;

// The reduced Gaussian message, written by the grid fixture script (about 13 MB, not kept).
bool make_reduced() {
    char dir[] = "/tmp/qaz_bench_grib_XXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string cmd = std::string("/usr/bin/python3 '") + QAZ_GRID_SCRIPT + "' --bench " + dir;
    const bool ok = std::system(cmd.c_str()) == 0;
    const std::string path = std::string(dir) + "/reduced_gaussian_n1280.grib2";
    if (ok) g_reduced = slurp(path);
    std::remove(path.c_str());
    rmdir(dir);
    return ok && !g_reduced.empty();
}

bool make_messages() {
    char dir[] = "/tmp/qaz_bench_grib_XXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string cmd = std::string("/usr/bin/python3 '") + QAZ_FIXTURE_SCRIPT + "' --bench " + dir;
    const bool ok = std::system(cmd.c_str()) == 0;
    for (int k = 0; k < 4 && ok; ++k) {
        const std::string path = std::string(dir) + "/" + kPackings[k] + ".grib2";
        g_msgs[k] = slurp(path);
        std::remove(path.c_str());
    }
    rmdir(dir);
    return ok && !g_msgs[0].empty();
}

double decode_library(const std::vector<unsigned char>& msg) {
    GRD_report r;
    std::memset(&r, 0, sizeof r);
    DOM_init(&r.domain);
    std::size_t pos = 16;
    if (grib2_decode_field(msg.data(), msg.size(), &pos, &r, 0) != 0 || !r.grid) std::abort();
    const double probe = r.grid[12345];
    std::free(r.grid);
    return probe;
}

// Reading one field after another into the same report, as a program does: the values'
// memory is reused, as ecCodes' output array is below.
GRD_report g_reduced_report;

double decode_library_reduced(const std::vector<unsigned char>& msg) {
    std::size_t pos = 16;
    if (grib2_decode_field(msg.data(), msg.size(), &pos, &g_reduced_report, 0) != 0 || !g_reduced_report.grid)
        std::abort();
    return g_reduced_report.grid[12345];
}

// Processor time of the calling thread: on a shared machine the wall clock mostly measures
// the other programs.
template <class F>
double cpu_ms(F decode, const std::vector<unsigned char>& msg) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    benchmark::DoNotOptimize(decode(msg));
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return double(b.tv_sec - a.tv_sec) * 1e3 + double(b.tv_nsec - a.tv_nsec) / 1e6;
}

#ifdef QAZ_HAVE_ECCODES
std::vector<double> g_values(1440 * 721);
std::vector<double> g_reduced_values;

double decode_eccodes_reduced(const std::vector<unsigned char>& msg) {
    codes_handle* h = codes_handle_new_from_message(nullptr, msg.data(), msg.size());
    if (!h) std::abort();
    std::size_t n = g_reduced_values.size();
    if (codes_get_double_array(h, "values", g_reduced_values.data(), &n) != 0) std::abort();
    codes_handle_delete(h);
    return g_reduced_values[0];
}

double decode_eccodes(const std::vector<unsigned char>& msg) {
    codes_handle* h = codes_handle_new_from_message(nullptr, msg.data(), msg.size());
    if (!h) std::abort();
    std::size_t n = g_values.size();
    if (codes_get_double_array(h, "values", g_values.data(), &n) != 0) std::abort();
    codes_handle_delete(h);
    return g_values[12345];
}
#endif

template <class F>
double time_ms(F decode, const std::vector<unsigned char>& msg) {
    const auto a = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(decode(msg));
    const auto b = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double median(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void BM_library(benchmark::State& state) {
    const auto& msg = g_msgs[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(decode_library(msg));
    state.SetLabel(kLabels[state.range(0)]);
}
BENCHMARK(BM_library)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

#ifdef QAZ_HAVE_ECCODES
void BM_eccodes(benchmark::State& state) {
    const auto& msg = g_msgs[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(decode_eccodes(msg));
    state.SetLabel(kLabels[state.range(0)]);
}
BENCHMARK(BM_eccodes)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
    MESS_set(0, M_error);
    if (!make_messages()) {
        std::fprintf(stderr, "bench_grib: the benchmark messages could not be written (python3-eccodes)\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    // The comparison table first: medians over interleaved runs of both decoders.
    std::printf("%-32s %12s %12s %8s %8s\n", "packing (1440 x 721)", "library ms", "ecCodes ms", "ratio",
                "target");
    for (int k = 0; k < 4; ++k) {
        // The two decoders take turns so that a change of machine load falls on both alike.
        constexpr int kReps = 21;
        std::vector<double> lib_t, ecc_t;
        for (int i = 0; i < kReps; ++i) {
            lib_t.push_back(time_ms(decode_library, g_msgs[k]));
#ifdef QAZ_HAVE_ECCODES
            ecc_t.push_back(time_ms(decode_eccodes, g_msgs[k]));
#endif
        }
        const double lib = median(lib_t);
#ifdef QAZ_HAVE_ECCODES
        const double ecc = median(ecc_t);
        if (std::fabs(decode_library(g_msgs[k]) - decode_eccodes(g_msgs[k])) > 1e-3)
            std::printf("  (values differ at the probe point)\n");
        std::printf("%-32s %12.3f %12.3f %8.3f %8.2f\n", kLabels[k], lib, ecc, lib / ecc, kTargets[k]);
#else
        std::printf("%-32s %12.3f %12s\n", kLabels[k], lib, "-");
#endif
    }
    if (make_reduced()) {
        constexpr int kReps = 11;
        std::vector<double> lib_t, ecc_t, lib_cpu, ecc_cpu;
        std::memset(&g_reduced_report, 0, sizeof g_reduced_report);
        DOM_init(&g_reduced_report.domain);
#ifdef QAZ_HAVE_ECCODES
        g_reduced_values.resize(6599680);
#endif
        for (int i = 0; i < kReps; ++i) {
            lib_t.push_back(time_ms(decode_library_reduced, g_reduced));
            lib_cpu.push_back(cpu_ms(decode_library_reduced, g_reduced));
#ifdef QAZ_HAVE_ECCODES
            ecc_t.push_back(time_ms(decode_eccodes_reduced, g_reduced));
            ecc_cpu.push_back(cpu_ms(decode_eccodes_reduced, g_reduced));
#endif
        }
        const char* label = "reduced Gaussian N1280 (expanded)";
#ifdef QAZ_HAVE_ECCODES
        std::printf("%-32s %12.3f %12.3f %8.3f %8.2f\n", label, median(lib_t), median(ecc_t), median(lib_t) / median(ecc_t),
                    1.0);
        std::printf("%-32s %12.3f %12.3f %8.3f %8.2f\n", "  the same in processor time", median(lib_cpu), median(ecc_cpu),
                    median(lib_cpu) / median(ecc_cpu), 1.0);
#else
        std::printf("%-32s %12.3f %12s\n", label, median(lib_t), "-");
#endif
        std::free(g_reduced_report.grid);
    } else {
        std::fprintf(stderr, "bench_grib: the reduced Gaussian message could not be written\n");
    }
    std::fflush(stdout);
    if (argc > 1) benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
