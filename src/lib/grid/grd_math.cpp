// Grid math: the table of named functions, operand checks and unit preparation, the
// point-wise evaluation loop and the functions that need each point's position.
#include <algorithm>
#include <initializer_list>
#include <string>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "grd_tool_internal.hpp"
#include "maptran.hpp"
#include "string.hpp"
#include "thm_tool.hpp"
#include "unittool.hpp"
#include "vecttool.hpp"

using grd::kMissing;

namespace {

constexpr int kMaxOperands = GRD_MATH_OPERANDS - 1;
constexpr int kHumidityIsRh = 1;   // flag: the humidity operand is relative humidity (%)

using PointFn = float (*)(const float* a, int flags);

enum class Kind { point, any, position, calculus, vector_out, plot };

struct Call;
using GridFn = int (*)(Call& c);

struct Func {
    const char* name;
    int nops;             // operands (for Kind::any the least number)
    Kind kind;
    const char* conv;     // per operand: T temperature K, H humidity, P pressure mb,
                          // S speed m/s, L length m, '.' as it is
    const char* units;    // result unit text; null: the first operand's; "" see the evaluator
    const char* desc;     // description when the variable has no name of its own
    PointFn point;
    GridFn grid;
};

// One evaluation: converted operands, output(s), flags.
struct Call {
    const Func* f;
    GRD_report* out;
    GRD_report* out2;
    GRD_report* g[GRD_MATH_OPERANDS];     // operand grids (converted copies where needed)
    float c[GRD_MATH_OPERANDS];           // operand constants
    int n;
    int flags;
    long npts;
    const char* first_units;
    // The humidity operand (0: none) is turned into a dew point per point; its kind comes
    // from its unit text.
    int hum_k, temp_k, pres_k;
    int hum_kind;
    float hum_factor;     // to %, or to kg/kg
    float level_p;        // pressure (mb) of the humidity's level when no operand gives one
};

enum HumKind { kHumDew = 0, kHumRh, kHumSpecific, kHumMixing };

bool missing(float v) { return v == kMissing; }

// ---- point functions (a[0] is operand 1) ----

float f_copy(const float* a, int) { return a[0]; }
float f_add(const float* a, int) { return a[0] + a[1]; }
float f_sub(const float* a, int) { return a[0] - a[1]; }
float f_mul(const float* a, int) { return a[0] * a[1]; }
float f_div(const float* a, int) { return a[1] == 0.0f ? kMissing : a[0] / a[1]; }
float f_mod(const float* a, int) { return a[1] == 0.0f ? kMissing : std::fmod(a[0], a[1]); }
float f_interp(const float* a, int) { return a[0] + a[1] * (a[2] - a[0]); }
float f_sqrt(const float* a, int) { return a[0] < 0.0f ? kMissing : std::sqrt(a[0]); }
float f_exp(const float* a, int) { return std::exp(a[0]); }
float f_log(const float* a, int) { return a[0] <= 0.0f ? kMissing : std::log(a[0]); }
float f_log10(const float* a, int) { return a[0] <= 0.0f ? kMissing : std::log10(a[0]); }
float f_abs(const float* a, int) { return std::fabs(a[0]); }
float f_sin(const float* a, int) { return std::sin(a[0]); }
float f_cos(const float* a, int) { return std::cos(a[0]); }
float f_tan(const float* a, int) { return std::tan(a[0]); }
float f_asin(const float* a, int) { return std::fabs(a[0]) > 1.0f ? kMissing : std::asin(a[0]); }
float f_acos(const float* a, int) { return std::fabs(a[0]) > 1.0f ? kMissing : std::acos(a[0]); }
float f_atan(const float* a, int) { return std::atan(a[0]); }
float f_pow(const float* a, int) { return std::pow(a[0], a[1]); }
float f_atan2(const float* a, int) { return std::atan2(a[0], a[1]); }

// Dew point (K) of a humidity operand: itself, or from relative humidity and temperature.
float dew_of(float t, float h, int flags) { return flags & kHumidityIsRh ? dew_temp(t, h) : h; }

float f_dewp(const float* a, int fl) { return dew_of(a[0], a[1], fl); }
float f_rhum(const float* a, int fl) { return fl & kHumidityIsRh ? a[1] : rel_hum(a[0], a[1]); }
float f_wetblb(const float* a, int fl) { return wet_bulb(a[0], dew_of(a[0], a[1], fl), a[2]); }
float f_heat(const float* a, int fl) { return heat_index(a[0], dew_of(a[0], a[1], fl)); }
float f_wchill(const float* a, int) { return wind_chill_temp(a[0], a[1]); }
float f_wchill2(const float* a, int) { return wind_chill_temp2(a[0], a[1]); }
float f_theta(const float* a, int) { return pot_temp(a[0], a[1]); }
float f_thetae(const float* a, int fl) { return eq_pot_temp(a[0], dew_of(a[0], a[1], fl), a[2]); }
float f_vtemp(const float* a, int fl) { return virt_temp(a[0], dew_of(a[0], a[1], fl), a[2]); }
float f_thetav(const float* a, int fl) { return virt_pot_temp(a[0], dew_of(a[0], a[1], fl), a[2]); }
float f_vapor(const float* a, int) { return vapor_pr(a[0]); }
float f_pr_alt(const float* a, int) { return pres_alt(a[0]); }
// Humidity first, then temperature and pressure.
float f_shum(const float* a, int fl) { return spec_hum(dew_of(a[1], a[0], fl), a[2]); }
float f_mixrat(const float* a, int fl) { return mix_ratio(dew_of(a[1], a[0], fl), a[2]); }
float f_spd(const float* a, int) { return std::hypot(a[0], a[1]); }
float f_dot(const float* a, int) { return a[0] * a[2] + a[1] * a[3]; }
float f_cross(const float* a, int) { return a[0] * a[3] - a[1] * a[2]; }

// Showalter index: the 850 mb parcel (temperature a[0], dew point a[1]) lifted to 500 mb,
// subtracted from the 500 mb temperature a[2]; kelvin differences are degrees.
float f_show(const float* a, int fl)
{
    const float t = a[0], td = dew_of(a[0], a[1], fl), t500 = a[2];
    const float plcl = lcl_pres(t, td, 850.0f);
    if (plcl == kMissing || plcl <= 0.0f) return kMissing;
    const float tlcl = lcl_temp(t, 850.0f, plcl);
    if (tlcl <= 0.0f) return kMissing;
    float parcel = 0.0f;
    if (plcl <= 500.0f) {
        parcel = temp_on_dryad(pot_temp(t, 850.0f), 500.0f);
    } else {
        const float label = thetae_on_satad(tlcl, plcl);
        parcel = temp_on_satad(label, 500.0f);
    }
    if (parcel == kMissing || parcel <= 0.0f) return kMissing;
    return t500 - parcel;
}

// ---- evaluators over whole grids ----

float operand(const Call& c, int k, long p) { return c.g[k] ? c.g[k]->grid[p] : c.c[k]; }

// The humidity operand as the function wants it: a dew point (K), or for "rhum" of a relative
// humidity the humidity itself in %.
float humidity_value(const Call& c, const float* a)
{
    const float h = a[c.hum_k - 1];
    const float t = c.temp_k ? a[c.temp_k - 1] : kMissing;
    switch (c.hum_kind) {
        case kHumRh:
            if (c.flags & kHumidityIsRh) return h * c.hum_factor;
            return t == kMissing ? kMissing : dew_temp(t, h * c.hum_factor);
        case kHumSpecific:
        case kHumMixing: {
            const float p = c.pres_k ? a[c.pres_k - 1] : c.level_p;
            double w = h * c.hum_factor;
            if (p == kMissing || !(p > 0.0f) || w <= 0.0 || w >= 1.0) return kMissing;
            if (c.hum_kind == kHumSpecific) w = w / (1.0 - w);
            const double e = w * p / (0.62197 + w);
            const float td = temp_vapor_pr(static_cast<float>(e));
            return td > 0.0f ? td : kMissing;
        }
        default: return h;
    }
}

// All operands present: the function; any missing: -9999. Non-finite results are missing.
int eval_point(Call& c)
{
    float a[kMaxOperands];
    for (long p = 0; p < c.npts; ++p) {
        bool miss = false;
        for (int k = 1; k <= c.n; ++k) {
            a[k - 1] = operand(c, k, p);
            miss = miss || missing(a[k - 1]);
        }
        if (!miss && c.hum_k) {
            a[c.hum_k - 1] = humidity_value(c, a);
            miss = missing(a[c.hum_k - 1]);
        }
        float r = miss ? kMissing : c.f->point(a, c.flags);
        if (!std::isfinite(r)) r = kMissing;
        c.out->grid[p] = r;
    }
    return 0;
}

// max, min, sum, avg over the present operands.
int eval_any(Call& c)
{
    const char* name = c.f->name;
    const int op = name[1] == 'a' ? 0 : name[1] == 'i' ? 1 : name[1] == 'u' ? 2 : 3;
    for (long p = 0; p < c.npts; ++p) {
        int count = 0;
        double acc = 0;
        for (int k = 1; k <= c.n; ++k) {
            const float v = operand(c, k, p);
            if (missing(v)) continue;
            if (count == 0) acc = v;
            else if (op == 0) acc = std::max(acc, static_cast<double>(v));
            else if (op == 1) acc = std::min(acc, static_cast<double>(v));
            else acc += v;
            ++count;
        }
        c.out->grid[p] = count == 0 ? kMissing : static_cast<float>(op == 3 ? acc / count : acc);
    }
    return 0;
}

// Runs fn(i, j, x, y) for every point with the output's domain active.
template <class Fn>
void each_position(const GRD_report* grid, Fn fn)
{
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&grid->domain);
    const int nx = grid->domain.nx, ny = grid->domain.ny;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            float x = 0, y = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            fn(static_cast<long>(j) * nx + i, x, y);
        }
    MAP_domain(&saved);
}

int eval_position(Call& c)
{
    const std::string name = c.f->name;
    float* o = c.out->grid;
    if (name == "lat" || name == "lon") {
        const bool lat = name == "lat";
        each_position(c.out, [&](long p, float x, float y) {
            float la = 0, lo = 0;
            o[p] = MAP_untran(x, y, &la, &lo) == 1 ? (lat ? la : lo) : kMissing;
        });
    } else if (name == "projx" || name == "projy") {
        const bool px = name == "projx";
        each_position(c.out, [&](long p, float x, float y) { o[p] = px ? x : y; });
    } else if (name == "wdir" || name == "dir" || name == "ewdir") {
        // wdir: grid-relative components, geographic direction; ewdir: the direction the
        // components give as they stand.
        const bool adjust = name != "ewdir";
        each_position(c.out, [&](long p, float x, float y) {
            float d = 0, s = 0;
            if (vect2wind(&d, &s, operand(c, 1, p), operand(c, 2, p)) < 0) {
                o[p] = kMissing;
                return;
            }
            o[p] = adjust && s >= 0.01f ? MAP_undir_adj(d, x, y) : d;
        });
    } else if (name == "uwnd" || name == "vwnd" || name == "uwndg" || name == "vwndg") {
        const bool u = name[0] == 'u', grid_rel = name.back() == 'g';
        each_position(c.out, [&](long p, float x, float y) {
            float d = operand(c, 2, p);
            const float s = operand(c, 1, p);
            float uu = 0, vv = 0;
            if (grid_rel && d != kMissing) d = MAP_dir_adj(d, x, y);
            wind2vect(&uu, &vv, d, s);
            o[p] = u ? uu : vv;
        });
    } else if (name == "smooth") {
        return -2;   // handled by eval_smooth
    }
    return 0;
}

// Gaussian-like 9 x 9 mean; missing neighbours are left out of the sum and the weights.
int eval_smooth(Call& c)
{
    const GRD_report* in = c.g[1];
    const float s = c.g[2] ? c.g[2]->grid[0] : c.c[2];
    if (!in || s == 0.0f || missing(s)) return -1;
    if (s > 0.0f) {
        // exp(r^2 / s) grows with the distance: the far corners would outweigh the centre.
        MESS_print(M_error, "GRD_math: smooth needs a negative width (weights exp(r^2 / s)); %g would weight "
                            "distant points more than near ones\n", s);
        return -1;
    }
    constexpr int kReach = 4;
    float w[2 * kReach + 1][2 * kReach + 1];
    for (int dj = -kReach; dj <= kReach; ++dj)
        for (int di = -kReach; di <= kReach; ++di)
            w[dj + kReach][di + kReach] = static_cast<float>(std::exp((di * di + dj * dj) / s));
    const int nx = in->domain.nx, ny = in->domain.ny;
    const float* z = in->grid;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const long p = static_cast<long>(j) * nx + i;
            if (missing(z[p])) {
                c.out->grid[p] = kMissing;
                continue;
            }
            double sum = 0, wsum = 0;
            for (int dj = -kReach; dj <= kReach; ++dj) {
                const int jj = j + dj;
                if (jj < 0 || jj >= ny) continue;
                for (int di = -kReach; di <= kReach; ++di) {
                    const int ii = i + di;
                    if (ii < 0 || ii >= nx) continue;
                    const float v = z[static_cast<long>(jj) * nx + ii];
                    if (missing(v)) continue;
                    sum += w[dj + kReach][di + kReach] * v;
                    wsum += w[dj + kReach][di + kReach];
                }
            }
            c.out->grid[p] = wsum > 0 && std::isfinite(sum / wsum) ? static_cast<float>(sum / wsum) : kMissing;
        }
    return 0;
}

int eval_vdiff(Call& c)
{
    for (long p = 0; p < c.npts; ++p) {
        const float a = operand(c, 1, p), b = operand(c, 2, p), d1 = operand(c, 3, p), d2 = operand(c, 4, p);
        const bool miss = missing(a) || missing(b) || missing(d1) || missing(d2);
        c.out->grid[p] = miss ? kMissing : a - d1;
        c.out2->grid[p] = miss ? kMissing : b - d2;
    }
    return 0;
}

// A result whose unit text does not fit the grid's unit field is refused: a cut text would
// label the values with another unit.
bool set_scaled_units(GRD_report* out, const char* in_units, const char* mstr, float scale)
{
    char full[128];
    UNIT_scale(in_units, mstr, full, scale, sizeof full);
    if (std::strlen(full) >= sizeof out->units) {
        MESS_print(M_error, "GRD_math: the unit text of the result, \"%s\", is longer than the %zu characters a grid "
                            "holds; convert the operand to a shorter unit first\n",
                   full, sizeof out->units - 1);
        return false;
    }
    str_copy(out->units, sizeof out->units, full);
    return true;
}

int eval_calculus(Call& c)
{
    const std::string name = c.f->name;
    GRD_report* o = c.out;
    const GRD_report* z = c.g[1];
    const char* zu = c.first_units;
    if (name == "dx" || name == "dy") {
        const int r = name == "dx" ? GRD_dx(z, o) : GRD_dy(z, o);
        return r == 0 && set_scaled_units(o, zu, "/m", 1e-5f) ? 0 : -1;
    }
    if (name == "grad") {
        const GRD_report* zz = c.g[1];
        if (GRD_dx(zz, o) < 0 || GRD_dy(zz, c.out2) < 0) return -1;
        return set_scaled_units(o, zu, "/m", 1e-5f) && set_scaled_units(c.out2, zu, "/m", 1e-5f) ? 0 : -1;
    }
    if (name == "lapl") {
        const int r = GRD_laplacian(z, o);
        return r == 0 && set_scaled_units(o, zu, "/m^2", 1e-10f) ? 0 : -1;
    }
    if (name == "ugeos" || name == "vgeos") {
        const bool ug = name == "ugeos";
        if ((ug ? GRD_dy(z, o) : GRD_dx(z, o)) < 0) return -1;
        std::vector<float> f;
        if (!grd::coriolis_field(z, f)) return -1;
        for (long p = 0; p < c.npts; ++p) {
            const float d = o->grid[p], fc = f[static_cast<std::size_t>(p)];
            // No geostrophic wind where f vanishes.
            if (missing(d) || missing(fc) || std::fabs(fc) < 1e-6f) {
                o->grid[p] = kMissing;
                continue;
            }
            o->grid[p] = (ug ? -9.8f : 9.8f) * d / fc;
        }
        str_copy(o->units, sizeof o->units, "m/s");
        return 0;
    }
    const GRD_report* u = c.g[1];
    const GRD_report* v = c.g[2];
    if (!u || !v) return -1;
    if (name == "conv" || name == "diverg") {
        if (GRD_converge(u, v, c.g[3], o) < 0) return -1;
        if (name == "diverg") {
            for (long p = 0; p < c.npts; ++p)
                if (!missing(o->grid[p])) o->grid[p] = -o->grid[p];
        }
        return set_scaled_units(o, zu, "/m", 1e-5f) ? 0 : -1;
    }
    if (name == "vconv") {
        if (!c.g[3] || GRD_converge(u, v, c.g[3], o) < 0) return -1;
        return set_scaled_units(o, c.g[3]->units, "/s", 1e-5f) ? 0 : -1;
    }
    if (name == "def1" || name == "def2" || name == "rvort" || name == "avort") {
        int r = name == "def1" ? GRD_deformation1(u, v, o)
                : name == "def2" ? GRD_deformation2(u, v, o)
                                 : GRD_vorticity(u, v, o);
        if (r == 0 && name == "avort") r = GRD_coriolis(o, "add");
        str_copy(o->units, sizeof o->units, "1e-05 /s");
        return r;
    }
    if (name == "adv") {
        if (!c.g[3] || GRD_advection(u, v, c.g[3], o) < 0) return -1;
        return set_scaled_units(o, c.g[3]->units, "/s", 1e-5f) ? 0 : -1;
    }
    if (name == "uq" || name == "vq") {
        const GRD_report* t = c.g[3];
        if (!t) return -1;
        // The level pressure: a fourth operand (grid or number), else the temperature's level.
        const GRD_report* pgrid = c.n >= 4 ? c.g[4] : nullptr;
        float pres = c.n >= 4 && !pgrid ? c.c[4] : kMissing;
        if (!pgrid && missing(pres) && t->ltype == 100 && t->level > 0) pres = static_cast<float>(t->level);
        if (!pgrid && (missing(pres) || pres <= 0.0f)) {
            MESS_print(M_error, "GRD_math: %s needs the level pressure (mb)\n", name.c_str());
            return -1;
        }
        GRD_report du{}, dv{}, tx{}, ty{};
        for (GRD_report* w : {&du, &dv, &tx, &ty}) grd::clear_report(w);
        const bool uq = name == "uq";
        int r = (uq ? GRD_dx(u, &du) : GRD_dy(u, &du)) | (uq ? GRD_dx(v, &dv) : GRD_dy(v, &dv)) |
                GRD_dx(t, &tx) | GRD_dy(t, &ty);
        if (r == 0) {
            for (long p = 0; p < c.npts; ++p) {
                const float pp = pgrid ? pgrid->grid[p] : pres;
                const float k = -287.05f / (100.0f * pp);
                const bool miss = missing(du.grid[p]) || missing(dv.grid[p]) || missing(tx.grid[p]) ||
                                  missing(ty.grid[p]) || missing(pp) || !(pp > 0.0f);
                o->grid[p] = miss ? kMissing : k * (du.grid[p] * tx.grid[p] + dv.grid[p] * ty.grid[p]);
            }
            str_copy(o->units, sizeof o->units, "1e-10 m^2/kg/s");
        }
        for (GRD_report* w : {&du, &dv, &tx, &ty}) std::free(w->grid);
        return r == 0 ? 0 : -1;
    }
    return -1;
}

int eval_plot(Call&) { return 0; }

// Operand conversions: T temperature to K, H humidity (dew point to K or relative humidity
// in %), P pressure to mb, S speed to m/s, L length to m, '.' none.
constexpr const char* kTemp = "K";

const Func kFuncs[] = {
    {"copy", 1, Kind::point, ".", nullptr, nullptr, f_copy, eval_point},
    {"max", 1, Kind::any, "", nullptr, "Maximum", nullptr, eval_any},
    {"min", 1, Kind::any, "", nullptr, "Minimum", nullptr, eval_any},
    {"sum", 1, Kind::any, "", nullptr, "Sum", nullptr, eval_any},
    {"avg", 1, Kind::any, "", nullptr, "Average", nullptr, eval_any},
    {"add", 2, Kind::point, "..", nullptr, "Sum", f_add, eval_point},
    {"sub", 2, Kind::point, "..", nullptr, "Difference", f_sub, eval_point},
    {"mul", 2, Kind::point, "..", nullptr, "Product", f_mul, eval_point},
    {"div", 2, Kind::point, "..", nullptr, "Quotient", f_div, eval_point},
    {"mod", 2, Kind::point, "..", nullptr, "Remainder", f_mod, eval_point},
    {"thick", 2, Kind::point, ".=", nullptr, "Thickness", f_sub, eval_point},
    {"interp", 3, Kind::point, "...", nullptr, "Interpolation", f_interp, eval_point},
    {"sqrt", 1, Kind::point, ".", nullptr, nullptr, f_sqrt, eval_point},
    {"exp", 1, Kind::point, ".", nullptr, nullptr, f_exp, eval_point},
    {"log", 1, Kind::point, ".", nullptr, nullptr, f_log, eval_point},
    {"log10", 1, Kind::point, ".", nullptr, nullptr, f_log10, eval_point},
    {"abs", 1, Kind::point, ".", nullptr, nullptr, f_abs, eval_point},
    {"sin", 1, Kind::point, ".", nullptr, nullptr, f_sin, eval_point},
    {"cos", 1, Kind::point, ".", nullptr, nullptr, f_cos, eval_point},
    {"tan", 1, Kind::point, ".", nullptr, nullptr, f_tan, eval_point},
    {"asin", 1, Kind::point, ".", nullptr, nullptr, f_asin, eval_point},
    {"acos", 1, Kind::point, ".", nullptr, nullptr, f_acos, eval_point},
    {"atan", 1, Kind::point, ".", nullptr, nullptr, f_atan, eval_point},
    {"pow", 2, Kind::point, "..", nullptr, nullptr, f_pow, eval_point},
    {"atan2", 2, Kind::point, "..", nullptr, nullptr, f_atan2, eval_point},
    {"lat", 1, Kind::position, ".", "deg", "Latitude", nullptr, eval_position},
    {"lon", 1, Kind::position, ".", "deg", "Longitude", nullptr, eval_position},
    {"projx", 1, Kind::position, ".", "100 km", "Map x", nullptr, eval_position},
    {"projy", 1, Kind::position, ".", "100 km", "Map y", nullptr, eval_position},
    {"smooth", 2, Kind::position, "..", nullptr, nullptr, nullptr, eval_smooth},
    {"dewp", 2, Kind::point, "TH", kTemp, "Dew Point", f_dewp, eval_point},
    {"rhum", 2, Kind::point, "TH", "%", "Relative Humidity", f_rhum, eval_point},
    {"wetblb", 3, Kind::point, "THP", kTemp, "Wet Bulb", f_wetblb, eval_point},
    {"show", 3, Kind::point, "THT", "dC", "Showalter Index", f_show, eval_point},
    {"wchill", 2, Kind::point, "TS", kTemp, "Wind Chill", f_wchill, eval_point},
    {"wchill2", 2, Kind::point, "TS", kTemp, "Wind Chill", f_wchill2, eval_point},
    {"heat", 2, Kind::point, "TH", kTemp, "Heat Index", f_heat, eval_point},
    {"theta", 2, Kind::point, "TP", kTemp, "Potential Temperature", f_theta, eval_point},
    {"thetae", 3, Kind::point, "THP", kTemp, "Equivalent Potential Temperature", f_thetae, eval_point},
    {"vtemp", 3, Kind::point, "THP", kTemp, "Virtual Temperature", f_vtemp, eval_point},
    {"thetav", 3, Kind::point, "THP", kTemp, "Virtual Potential Temperature", f_thetav, eval_point},
    {"vapor", 1, Kind::point, "T", "mb", "Vapor Pressure", f_vapor, eval_point},
    {"pr_alt", 1, Kind::point, "P", "m", "Pressure Altitude", f_pr_alt, eval_point},
    {"shum", 3, Kind::point, "HTP", "gm/kg", "Specific Humidity", f_shum, eval_point},
    {"mixrat", 3, Kind::point, "HTP", "gm/kg", "Mixing Ratio", f_mixrat, eval_point},
    {"wspd", 2, Kind::point, "SS", "m/s", "Speed", f_spd, eval_point},
    {"spd", 2, Kind::point, "SS", "m/s", "Speed", f_spd, eval_point},
    {"mag", 2, Kind::point, "..", nullptr, "Magnitude", f_spd, eval_point},
    {"wdir", 2, Kind::position, "..", "deg", "Wind Direction", nullptr, eval_position},
    {"dir", 2, Kind::position, "..", "deg", "Direction", nullptr, eval_position},
    {"ewdir", 2, Kind::position, "..", "deg", "Wind Direction", nullptr, eval_position},
    {"uwnd", 2, Kind::position, "S.", "m/s", "U Wind", nullptr, eval_position},
    {"vwnd", 2, Kind::position, "S.", "m/s", "V Wind", nullptr, eval_position},
    {"uwndg", 2, Kind::position, "S.", "m/s", "Grid U Wind", nullptr, eval_position},
    {"vwndg", 2, Kind::position, "S.", "m/s", "Grid V Wind", nullptr, eval_position},
    {"dot", 4, Kind::point, "SSSS", "m/s", "Dot Product", f_dot, eval_point},
    {"cross", 4, Kind::point, "SSSS", "m/s", "Cross Product", f_cross, eval_point},
    {"vdiff", 4, Kind::vector_out, "....", nullptr, "Vector Diff", nullptr, eval_vdiff},
    {"dx", 1, Kind::calculus, ".", "", "X Derivative", nullptr, eval_calculus},
    {"dy", 1, Kind::calculus, ".", "", "Y Derivative", nullptr, eval_calculus},
    {"grad", 1, Kind::vector_out, ".", "", "Gradient", nullptr, eval_calculus},
    {"lapl", 1, Kind::calculus, ".", "", "Laplacian", nullptr, eval_calculus},
    {"conv", 2, Kind::calculus, "SS.", "", "Convergence", nullptr, eval_calculus},
    {"diverg", 2, Kind::calculus, "SS", "", "Divergence", nullptr, eval_calculus},
    {"vconv", 3, Kind::calculus, "SS.", "", "Flux Convergence", nullptr, eval_calculus},
    {"def1", 2, Kind::calculus, "SS", "", "Stretching Deformation", nullptr, eval_calculus},
    {"def2", 2, Kind::calculus, "SS", "", "Shearing Deformation", nullptr, eval_calculus},
    {"rvort", 2, Kind::calculus, "SS", "", "Relative Vorticity", nullptr, eval_calculus},
    {"avort", 2, Kind::calculus, "SS", "", "Absolute Vorticity", nullptr, eval_calculus},
    {"adv", 3, Kind::calculus, "SS.", "", "Advection", nullptr, eval_calculus},
    {"ugeos", 1, Kind::calculus, "L", "", "Geostrophic U Wind", nullptr, eval_calculus},
    {"vgeos", 1, Kind::calculus, "L", "", "Geostrophic V Wind", nullptr, eval_calculus},
    {"uq", 3, Kind::calculus, "SSTP", "", "Q-vector U", nullptr, eval_calculus},
    {"vq", 3, Kind::calculus, "SSTP", "", "Q-vector V", nullptr, eval_calculus},
    {"wind", 0, Kind::plot, "", nullptr, nullptr, nullptr, eval_plot},
    {"vect", 0, Kind::plot, "", nullptr, nullptr, nullptr, eval_plot},
    {"stream", 0, Kind::plot, "", nullptr, nullptr, nullptr, eval_plot},
    {"strm", 0, Kind::plot, "", nullptr, nullptr, nullptr, eval_plot},
};

// Variable names of results whose function word is not itself a variable name.
struct Alias {
    const char* func;
    const char* var;
};
constexpr Alias kAliases[] = {
    {"rvort", "vort"}, {"diverg", "div"},    {"dx", "ddx"},     {"dy", "ddy"},     {"def1", "defm"},
    {"def2", "defm"},  {"heat", "heatidx"},  {"dewp", "DPT"},   {"rhum", "RH"},    {"vtemp", "VTMP"},
    {"shum", "SPFH"},  {"mixrat", "MIXR"},   {"wdir", "WDIR"},  {"ewdir", "WDIR"}, {"uwnd", "UGRD"},
    {"vwnd", "VGRD"},  {"spd", "wspd"},      {"vapor", "VAPP"},
};

// Functions whose word names no quantity: their result has no variable of its own ("div" is
// a quotient, not divergence; "grad" a gradient, not radiation). "copy" and "smooth" keep
// their operand's variable.
constexpr const char* kGeneric[] = {"copy", "max",  "min",  "sum",  "avg",   "add",   "sub", "mul",
                                    "div",  "mod",  "interp", "sqrt", "exp", "log", "log10", "abs",
                                    "sin",  "cos",  "tan",  "asin", "acos",  "atan",  "pow", "atan2",
                                    "smooth", "mag", "dot", "cross", "vdiff", "grad", "lat", "lon",
                                    "projx", "projy", "dir", "ewdir"};

bool keeps_variable(const char* func) { return stricmp(func, "copy") == 0 || stricmp(func, "smooth") == 0; }

const char* variable_name(const char* func)
{
    for (const Alias& a : kAliases)
        if (stricmp(a.func, func) == 0) return a.var;
    for (const char* g : kGeneric)
        if (stricmp(g, func) == 0) return nullptr;
    return func;
}

// Splits "name-qualifier"; base gets the name (size bytes).
const char* split_name(const char* str, char* base, std::size_t size)
{
    const char* dash = std::strchr(str, '-');
    if (!dash || dash == str) {
        str_copy(base, size, str);
        return "";
    }
    const std::size_t len = static_cast<std::size_t>(dash - str);
    str_copy(base, size < len + 1 ? size : len + 1, str);
    return dash + 1;
}

const Func* find_func(const char* str)
{
    if (!str) return nullptr;
    char base[32];
    split_name(str, base, sizeof base);
    for (const Func& f : kFuncs)
        if (stricmp(f.name, base) == 0) return &f;
    return nullptr;
}

const char* target_unit(char code)
{
    switch (code) {
        case 'T': return "K";
        case 'P': return "mb";
        case 'S': return "m/s";
        case 'L': return "m";
        default: return nullptr;
    }
}

bool is_temperature_unit(const char* units)
{
    double s = 0, o = 0;
    return units && *units && UNIT_linear(units, "K", &s, &o) == 1;
}

bool unit_is(const char* units, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (stricmp(units, n) == 0) return true;
    return false;
}

// Kind and scale of a humidity operand from its unit text; false when the text says neither
// a dew point, a relative humidity nor a specific humidity or mixing ratio.
bool humidity_kind(const GRD_report* g, int* kind, float* factor)
{
    *factor = 1.0f;
    if (!g) {
        *kind = kHumRh;   // a number: relative humidity in %
        return true;
    }
    const char* u = g->units;
    if (is_temperature_unit(u)) {
        *kind = kHumDew;
        return true;
    }
    if (unit_is(u, {"%", "percent"})) {
        *kind = kHumRh;
        return true;
    }
    if (unit_is(u, {"1", "fraction", "0-1"})) {
        *kind = kHumRh;
        *factor = 100.0f;
        return true;
    }
    const bool kg = unit_is(u, {"kg/kg", "kg kg-1", "kg kg**-1", "kg kg^-1", "kg_kg-1"});
    const bool g_kg = unit_is(u, {"g/kg", "gm/kg", "g kg-1", "g kg**-1", "g kg^-1", "g_kg-1"});
    if (!kg && !g_kg) return false;
    *factor = kg ? 1.0f : 1e-3f;
    *kind = g->var == grd::var_num("MIXR") ? kHumMixing : kHumSpecific;
    return true;
}

// Converted copy of operand grid g into owned when its units differ from target. Returns the
// grid to use, or null (with a message) when the conversion cannot be made.
GRD_report* converted(GRD_report* g, const char* target, std::unique_ptr<GRD_report, void (*)(GRD_report*)>& owned,
                      const char* func)
{
    if (!g || !target || !*target || !g->units[0] || stricmp(g->units, target) == 0) return g;
    double scale = 1, offset = 0;
    const int known = UNIT_linear(g->units, target, &scale, &offset);
    if (known < 0) {
        MESS_print(M_error, "GRD_math: %s needs the units file to convert %s to %s: %s cannot be read\n", func,
                   g->units, target, UNIT_file_name().c_str());
        return nullptr;
    }
    if (known == 0) {
        MESS_print(M_error, "GRD_math: %s: no conversion from %s to %s\n", func, g->units, target);
        return nullptr;
    }
    if (scale == 1.0 && offset == 0.0) return g;
    owned.reset(new GRD_report);
    grd::clear_report(owned.get());
    if (GRD_copy(owned.get(), g) < 0) return nullptr;
    if (GRD_units(owned.get(), target) < 0) return nullptr;
    return owned.get();
}

void free_report(GRD_report* g)
{
    if (!g) return;
    std::free(g->grid);
    delete g;
}

}  // namespace

int GRD_is_math_func(const char* str)
{
    const Func* f = find_func(str);
    if (!f) return 0;
    if (stricmp(f->name, "wind") == 0) return 20;
    if (stricmp(f->name, "vect") == 0) return 21;
    if (f->kind == Kind::plot) return 23;
    return 10;
}

int GRD_is_plot_func(const char* str)
{
    const Func* f = find_func(str);
    return f && f->kind == Kind::plot ? 1 : 0;
}

int GRD_is_vect_func(const char* str)
{
    const Func* f = find_func(str);
    return f && f->kind == Kind::vector_out ? 1 : 0;
}

float GRD_get_math_val(int k, long ptr, GRD_report* const* grids, const float* values)
{
    if (k < 0 || k >= GRD_MATH_OPERANDS) return kMissing;
    if (grids[k] && grids[k]->grid && ptr >= 0 && ptr < GRD_num_points(grids[k])) return grids[k]->grid[ptr];
    return values[k];
}

int GRD_find_num_data(GRD_report* const* grids, const float* values)
{
    int n = 0;
    for (int k = 1; k <= kMaxOperands; ++k) {
        if (!(grids[k] && grids[k]->grid) && values[k] == kMissing) break;
        n = k;
    }
    return n;
}

int GRD_math_setup(int n, GRD_report** grids, float* values, const char* func, int kind,
                   const char* units)
{
    const bool vect = kind == 1;
    const int first = vect ? 2 : 1;
    if (n < 1 || first + n - 1 > kMaxOperands) return 0;
    const GRD_report* model = nullptr;
    for (int k = first; k < first + n; ++k) {
        if (grids[k] && grd::has_values(grids[k])) {
            if (!model) model = grids[k];
            else if (!grd::same_domain(model, grids[k], func ? func : "GRD_math")) return 0;
        } else if (values[k] == kMissing) {
            return 0;
        }
    }
    if (!model) return 0;
    char base[32];
    const char* qualifier = split_name(func ? func : "", base, sizeof base);
    for (int o = 0; o < (vect ? 2 : 1); ++o) {
        GRD_report* out = grids[o];
        if (!out) return 0;
        if (out->domain.nx <= 0 || !out->grid) {
            if (out->domain.nx <= 0 || out->domain.nx != model->domain.nx || out->domain.ny != model->domain.ny)
                GRD_copy_info(out, model);
            if (GRD_alloc(out) < 0) return 0;
        } else if (out->domain.nx != model->domain.nx || out->domain.ny != model->domain.ny) {
            return 0;
        }
        const char* vname = *qualifier ? qualifier : variable_name(base);
        out->var = vname ? grd::var_num(vname) : keeps_variable(base) ? model->var : -9999;
        if (units && *units) str_copy(out->units, sizeof out->units, units);
        GRD_make_datatype(out);
    }
    return 1;
}

bool grd::math_operands(const char* func, int* least, int* most)
{
    const Func* f = find_func(func);
    if (!f) return false;
    *least = *most = f->nops;
    if (f->kind == Kind::any) *most = kMaxOperands;
    // Optional further operands: z of "conv", the pressure of the Q-vector.
    if (stricmp(f->name, "conv") == 0 || stricmp(f->name, "uq") == 0 || stricmp(f->name, "vq") == 0) ++*most;
    return true;
}

int GRD_math(const char* str, GRD_report** grids_in, float* values_in)
{
    const Func* f = find_func(str);
    if (!f) {
        MESS_print(M_error, "GRD_math: Math function not available: %s\n", str ? str : "");
        return 0;
    }
    // "sub-" and "div-" take their operands the other way round: b - a, b / a.
    GRD_report* grids[GRD_MATH_OPERANDS];
    float values[GRD_MATH_OPERANDS];
    std::copy(grids_in, grids_in + GRD_MATH_OPERANDS, grids);
    std::copy(values_in, values_in + GRD_MATH_OPERANDS, values);
    const std::size_t len = str ? std::strlen(str) : 0;
    if (len > 1 && str[len - 1] == '-' && (stricmp(f->name, "sub") == 0 || stricmp(f->name, "div") == 0)) {
        std::swap(grids[1], grids[2]);
        std::swap(values[1], values[2]);
    }
    if (f->kind == Kind::plot) return 1;
    const bool vect = f->kind == Kind::vector_out;
    const int first = vect ? 2 : 1;
    int n = f->nops;
    const int present = GRD_find_num_data(grids, values) - (first - 1);
    if (f->kind == Kind::any) n = present > n ? present : n;
    // Optional further operands: z of "conv", the pressure of the Q-vector.
    const std::string name = f->name;
    if ((name == "conv" || name == "uq" || name == "vq") && present > n) n = std::min(present, n + 1);
    const GRD_report* first_grid = grids[first];
    const std::string first_units = first_grid ? first_grid->units : "";
    if (!GRD_math_setup(n, grids, values, str, vect ? 1 : 0, nullptr)) {
        MESS_print(M_error, "GRD_math: Invalid grids\n");
        return 0;
    }
    Call c{};
    c.f = f;
    c.out = grids[0];
    c.out2 = vect ? grids[1] : nullptr;
    c.npts = GRD_num_points(c.out);
    c.first_units = first_units.c_str();
    c.level_p = kMissing;
    std::vector<std::unique_ptr<GRD_report, void (*)(GRD_report*)>> owned;
    owned.reserve(GRD_MATH_OPERANDS);
    // Operands keep their indices: operand k of the function is grids[first + k - 1].
    for (int k = 1; k <= n; ++k) {
        const int src = first + k - 1;
        c.g[k] = grids[src] && grids[src]->grid ? grids[src] : nullptr;
        c.c[k] = values[src];
        const char code = k - 1 < static_cast<int>(std::strlen(f->conv)) ? f->conv[k - 1] : '.';
        GRD_report* g = c.g[k];
        const char* target = target_unit(code);
        if (code == '=') target = c.g[1] ? c.g[1]->units : nullptr;   // the unit of operand 1
        if (code == 'H') {
            if (!humidity_kind(g, &c.hum_kind, &c.hum_factor)) {
                MESS_print(M_error,
                           "GRD_math: %s: humidity in \"%s\" is neither a dew point (a temperature unit), a "
                           "relative humidity (%% or fraction) nor a specific humidity or mixing ratio (kg/kg, g/kg)\n",
                           f->name, g->units);
                return 0;
            }
            c.hum_k = k;
            if (c.hum_kind == kHumDew) target = "K";
            if (g && (g->ltype == 100) && g->level > 0) c.level_p = static_cast<float>(g->level);
        }
        if (code == 'T' && !c.temp_k) c.temp_k = k;
        if (code == 'P' && !c.pres_k) c.pres_k = k;
        if (g && target) {
            owned.emplace_back(nullptr, free_report);
            c.g[k] = converted(g, target, owned.back(), f->name);
            if (!c.g[k]) return 0;
        }
    }
    if (c.hum_k) {
        if (c.hum_kind == kHumRh && std::strcmp(f->name, "rhum") == 0) c.flags |= kHumidityIsRh;
        if ((c.hum_kind == kHumSpecific || c.hum_kind == kHumMixing) && !c.pres_k && missing(c.level_p)) {
            MESS_print(M_error, "GRD_math: %s of a specific humidity or mixing ratio needs a pressure: give the "
                                "humidity on a pressure level\n", f->name);
            return 0;
        }
    }
    c.n = n;
    if (!c.first_units[0] && c.g[1]) c.first_units = c.g[1]->units;
    // Calculus on converted winds reads units from the converted grids.
    if (f->kind == Kind::calculus && c.g[1]) c.first_units = c.g[1]->units;
    const int r = f->grid(c);
    if (r < 0) {
        MESS_print(M_error, "GRD_math: Invalid grids\n");
        return 0;
    }
    // Units and description of the result.
    for (GRD_report* out : {c.out, c.out2}) {
        if (!out) continue;
        if (f->units && *f->units) str_copy(out->units, sizeof out->units, f->units);
        else if (!f->units) str_copy(out->units, sizeof out->units, first_units.c_str());
        // Plane coordinates of a latitude/longitude grid are degrees.
        if ((name == "projx" || name == "projy") && out->domain.proj == 2) str_copy(out->units, sizeof out->units, "deg");
        GRD_make_datatype(out);
        if (out->var == -9999 || !out->info[0]) {
            const char* desc = f->desc ? f->desc : f->name;
            if (out->ltype == 100 && out->level != -9999)
                str_format(out->info, sizeof out->info, "%d mb %s (%s)", out->level, desc, out->units);
            else
                str_format(out->info, sizeof out->info, "%s (%s)", desc, out->units);
        }
    }
    return 1;
}
