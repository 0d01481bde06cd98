// Grid calculus on a 1440 x 721 global latitude/longitude field (0.25 degrees): relative
// vorticity, advection and the Laplacian with the library against the same computation in
// NumPy (numpy.gradient with the same spacings, timed inside Python), medians and ratios;
// then the bilinear remap of that field onto a 1799 x 1059 Lambert grid, time per point, and
// the first derivative on a fresh 1799 x 1059 Lambert domain (geometry built on each call).
// Target: the library at least 5 times faster than NumPy for each operator.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "grd_tool.hpp"
#include "region.hpp"

namespace {

constexpr int kNx = 1440, kNy = 721;
constexpr int kRepeats = 15;
constexpr double kRad = 0.017453292519943334;

struct Owned {
    GRD_report g{};
    Owned()
    {
        std::memset(&g, 0, sizeof g);
        DOM_init(&g.domain);
    }
    ~Owned() { std::free(g.grid); }
};

Domain global_domain()
{
    Domain d;
    DOM_init(&d);
    d.proj = 2;
    d.clat = 0.0f;
    d.clon = 179.875f;
    d.nx = kNx;
    d.ny = kNy;
    d.dx = d.dy = 0.25f;
    return d;
}

Domain lambert_domain()
{
    Domain d;
    DOM_init(&d);
    d.proj = 4;
    d.plat = 38.5f;
    d.plon = -97.5f;
    d.param[0] = d.param[1] = 38.5f;
    d.clat = 38.5f;
    d.clon = -97.5f;
    d.nx = 1799;
    d.ny = 1059;
    d.dx = d.dy = 0.03f;   // 3 km
    return d;
}

struct Fields {
    Owned u, v, z;
    Fields()
    {
        for (Owned* o : {&u, &v, &z}) {
            o->g.domain = global_domain();
            GRD_alloc(&o->g);
        }
        for (int j = 0; j < kNy; ++j) {
            const double lat = (90.0 - 0.25 * j) * kRad;
            for (int i = 0; i < kNx; ++i) {
                const double lon = 0.25 * i * kRad;
                const long k = static_cast<long>(j) * kNx + i;
                z.g.grid[k] = static_cast<float>(5500.0 + 150.0 * std::sin(4 * lon) * std::cos(3 * lat) + 200.0 * std::cos(lat));
                u.g.grid[k] = static_cast<float>(20.0 * std::cos(lat) + 8.0 * std::sin(3 * lon) * std::sin(2 * lat));
                v.g.grid[k] = static_cast<float>(10.0 * std::cos(5 * lon) * std::cos(lat));
            }
        }
    }
};

Fields& fields()
{
    static Fields f;
    return f;
}

void BM_Vorticity(benchmark::State& state)
{
    Owned out;
    for (auto _ : state) GRD_vorticity(&fields().u.g, &fields().v.g, &out.g);
}
void BM_Advection(benchmark::State& state)
{
    Owned out;
    for (auto _ : state) GRD_advection(&fields().u.g, &fields().v.g, &fields().z.g, &out.g);
}
void BM_Laplacian(benchmark::State& state)
{
    Owned out;
    for (auto _ : state) GRD_laplacian(&fields().z.g, &out.g);
}
// First derivative on a 1799 x 1059 Lambert grid whose domain changes every call, so the
// grid geometry (step lengths and metric terms) is built each time, as for a program run once
// per field.
void BM_LambertDxFreshDomain(benchmark::State& state)
{
    Owned z, out;
    z.g.domain = lambert_domain();
    GRD_alloc(&z.g);
    const long n = static_cast<long>(z.g.domain.nx) * z.g.domain.ny;
    for (long k = 0; k < n; ++k) z.g.grid[k] = static_cast<float>(k % 1799) * 0.5f + static_cast<float>(k / 1799);
    // One call first: the arrays are faulted in once per process, which this does not time.
    z.g.domain.clon = -97.0f;
    GRD_dx(&z.g, &out.g);
    int flip = 0;
    for (auto _ : state) {
        z.g.domain.clon = (flip ^= 1) ? -97.5f : -97.25f;
        GRD_dx(&z.g, &out.g);
    }
}
BENCHMARK(BM_Vorticity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Advection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Laplacian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LambertDxFreshDomain)->Unit(benchmark::kMillisecond)->Iterations(4);

double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Median CPU time: the machine may be shared, and both sides are single-threaded.
template <class F>
double median_seconds(F f)
{
    std::vector<double> t;
    for (int r = 0; r < kRepeats; ++r) {
        const double start = cpu_seconds();
        f();
        t.push_back(cpu_seconds() - start);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// The same operators in NumPy; prints "name median_seconds" lines and writes its vorticity.
constexpr const char* kPython = R"PY(
import sys, time, numpy as np
d = sys.argv[1]; nx, ny, reps = 1440, 721, 15
u = np.fromfile(d + "/u.bin", dtype=np.float32).reshape(ny, nx)
v = np.fromfile(d + "/v.bin", dtype=np.float32).reshape(ny, nx)
z = np.fromfile(d + "/z.bin", dtype=np.float32).reshape(ny, nx)
lat = np.deg2rad(90.0 - 0.25 * np.arange(ny))
a = 1.11195 / np.deg2rad(1.0)
with np.errstate(divide="ignore"):
    hx = (np.cos(lat) * 1.11195 * 0.25).astype(np.float32)[:, None]
hy = np.float32(1.11195 * 0.25)
ky = (-np.tan(lat) / a).astype(np.float32)[:, None]
def ddx(f): return np.gradient(f, axis=1) / hx
def ddy(f): return -np.gradient(f, hy, axis=0)
def vort(): return ddx(v) - ddy(u) - u * ky
def adv(): return -(u * ddx(z) + v * ddy(z))
def lapl(): return ddx(ddx(z)) + ddy(ddy(z)) + ky * ddy(z)
with np.errstate(all="ignore"):
    for name, f in (("vort", vort), ("adv", adv), ("lapl", lapl)):
        t = []
        for _ in range(reps):
            s = time.process_time(); r = f(); t.append(time.process_time() - s)
        print(name, sorted(t)[len(t) // 2])
        if name == "vort": r.astype(np.float32).tofile(d + "/vort_np.bin")
)PY";

bool write_raw(const std::string& path, const float* data, long n)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, sizeof(float), static_cast<std::size_t>(n), f) == static_cast<std::size_t>(n);
    return std::fclose(f) == 0 && ok;
}

void compare_with_numpy()
{
    Fields& fl = fields();
    const long n = static_cast<long>(kNx) * kNy;
    Owned out;
    const double lib_vort = median_seconds([&] { GRD_vorticity(&fl.u.g, &fl.v.g, &out.g); });
    std::vector<float> vort(out.g.grid, out.g.grid + n);
    const double lib_adv = median_seconds([&] { GRD_advection(&fl.u.g, &fl.v.g, &fl.z.g, &out.g); });
    const double lib_lapl = median_seconds([&] { GRD_laplacian(&fl.z.g, &out.g); });

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("bench_gridmath." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string script = (dir / "np.py").string();
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        std::fputs(kPython, f);
        std::fclose(f);
    }
    write_raw((dir / "u.bin").string(), fl.u.g.grid, n);
    write_raw((dir / "v.bin").string(), fl.v.g.grid, n);
    write_raw((dir / "z.bin").string(), fl.z.g.grid, n);
    std::map<std::string, double> np;
    const std::string command = "/usr/bin/python3 " + script + " " + dir.string();
    if (FILE* p = popen(command.c_str(), "r")) {
        char name[32];
        double seconds = 0;
        while (std::fscanf(p, "%31s %lf", name, &seconds) == 2) np[name] = seconds;
        pclose(p);
    }
    // The two computations must agree before their times mean anything.
    double worst = 0, scale = 0;
    std::vector<float> np_vort(static_cast<std::size_t>(n));
    if (FILE* f = std::fopen((dir / "vort_np.bin").c_str(), "rb")) {
        if (std::fread(np_vort.data(), sizeof(float), np_vort.size(), f) != np_vort.size()) np_vort.clear();
        std::fclose(f);
        for (long k = kNx; k < n - kNx && !np_vort.empty(); ++k) {
            scale = std::max(scale, static_cast<double>(std::fabs(np_vort[k])));
            worst = std::max(worst, static_cast<double>(std::fabs(vort[k] - np_vort[k])));
        }
    }
    std::filesystem::remove_all(dir);

    std::printf("\n%-22s %15s %15s %8s\n", "1440 x 721 lat/lon", "library CPU ms", "NumPy CPU ms", "ratio");
    const struct {
        const char* label;
        const char* key;
        double lib;
    } rows[] = {{"relative vorticity", "vort", lib_vort}, {"advection", "adv", lib_adv}, {"Laplacian", "lapl", lib_lapl}};
    for (const auto& r : rows) {
        const double other = np.count(r.key) ? np[r.key] : 0.0;
        std::printf("%-22s %15.3f %15.3f %8.1f\n", r.label, r.lib * 1e3, other * 1e3, other > 0 ? other / r.lib : 0.0);
    }
    std::printf("vorticity agreement: largest difference %.3g of largest value %.3g\n", worst, scale);

    Owned lambert;
    const Domain target = lambert_domain();
    const double remap = median_seconds([&] { GRD_remap(&lambert.g, &target, &fl.z.g); });
    std::printf("bilinear remap to 1799 x 1059 Lambert: %.1f CPU ms, %.1f ns per output point\n", remap * 1e3,
                remap * 1e9 / (1799.0 * 1059.0));
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    compare_with_numpy();
    return 0;
}
