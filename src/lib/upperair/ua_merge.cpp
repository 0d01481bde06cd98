// Sounding merge. Every merge writes through one guarded appender that only accepts a level
// above the last one written (equal levels are combined), so duplicate, out-of-order or
// below-ground levels in a damaged report are dropped instead of producing a sounding that
// folds back on itself.
#include "ua_merge.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "mess.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_merge_internal.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float missing = -9999.0f;
constexpr double gas_constant = 287.05;
constexpr double gravity = 9.8;
constexpr double lapse = 0.0065;
constexpr double std_sfc_temp = 288.15;
constexpr double kelvin = 273.15;
constexpr double feet_to_m = 0.3048;
constexpr float same_pressure = 0.05f;   // mb: levels closer than this are one level
constexpr float same_height = 1.0f;      // m
constexpr float superadiabatic_limit = 3.0f;
constexpr float surface_slack = 30.0f;   // m: surface-height estimates differ by this much
constexpr int man_walk_end = 22;         // man 1..21 are pressure levels
constexpr int trop_index = 22;
constexpr int maxwind_index = 23;

bool known(float v) { return v != missing && std::isfinite(v); }

UPA_level empty_level() { return {missing, missing, missing, missing, missing, missing}; }

UPA_level from_man(const UPA_man& m) { return {m.p, m.h, m.t, m.td, m.dir, m.spd}; }

// Takes each missing value of into from from.
void fill_missing(UPA_level& into, const UPA_level& from)
{
    if (!known(into.p)) into.p = from.p;
    if (!known(into.h)) into.h = from.h;
    if (!known(into.t)) into.t = from.t;
    if (!known(into.td)) into.td = from.td;
    if (!known(into.dir) || !known(into.spd)) {
        into.dir = from.dir;
        into.spd = from.spd;
    }
}

bool usable_pressure(float p) { return known(p) && p > 0.0f && std::isfinite(p); }

// Appends levels by decreasing pressure: a level at the last pressure is combined into it, a
// level at a greater pressure is refused. Returns the position used, or -1.
struct PressureSink {
    UPA_level* out;
    int count = 0;
    int put(const UPA_level& lev)
    {
        if (!usable_pressure(lev.p) || count >= UPA_MERGE_MAX) return -1;
        if (count > 0) {
            UPA_level& last = out[count - 1];
            if (std::fabs(last.p - lev.p) < same_pressure) {
                fill_missing(last, lev);
                return count - 1;
            }
            if (lev.p > last.p) return -1;
        }
        out[count] = lev;
        return count++;
    }
};

// The same by increasing height for wind soundings.
struct HeightSink {
    UPA_level* out;
    int count = 0;
    int put(const UPA_level& lev)
    {
        if (!known(lev.h) || !std::isfinite(lev.h) || count >= UPA_MERGE_MAX) return -1;
        if (count > 0) {
            UPA_level& last = out[count - 1];
            if (std::fabs(last.h - lev.h) < same_height) {
                fill_missing(last, lev);
                return count - 1;
            }
            if (lev.h < last.h) return -1;
        }
        out[count] = lev;
        return count++;
    }
};

void clear_index(int* man_index)
{
    if (man_index) std::fill(man_index, man_index + UPA_MAN_INDEX, static_cast<int>(missing));
}

// Which of n values to keep so that the kept ones follow each other in order (follows(a, b):
// b may come after a) and are as many as possible, the earliest of equal choices. A value
// out of order is dropped by itself, whereas taking each value that continues from the last
// one kept would let one damaged value drop every value after it. usable(i) false: never kept.
template <class Usable, class Follows>
std::vector<bool> longest_ordered_run(int n, Usable usable, Follows follows)
{
    std::vector<int> length(n, 0), before(n, -1);
    int best = -1;
    for (int i = 0; i < n; ++i) {
        if (!usable(i)) continue;
        length[i] = 1;
        for (int j = 0; j < i; ++j)
            if (length[j] > 0 && follows(j, i) && length[j] + 1 > length[i]) {
                length[i] = length[j] + 1;
                before[i] = j;
            }
        if (best < 0 || length[i] > length[best]) best = i;
    }
    std::vector<bool> keep(n, false);
    for (int i = best; i >= 0; i = before[i]) keep[i] = true;
    return keep;
}

// Significant levels in report order, the longest run of them going upward.
std::vector<UPA_level> ordered_sig_levels(const UPA_report& r)
{
    int numsig = std::clamp(r.numsig, 0, UPA_SIG_LEVELS);
    std::vector<bool> keep = longest_ordered_run(
        numsig, [&r](int i) { return usable_pressure(r.sig[i].p); },
        [&r](int a, int b) { return r.sig[a].p > r.sig[b].p; });
    std::vector<UPA_level> sigs;
    for (int i = 0; i < numsig; ++i) {
        const UPA_sig& s = r.sig[i];
        if (!keep[i]) {
            MESS_print(M_debug, "BAD: %d = %1.0f\n", i, s.p);
            continue;
        }
        sigs.push_back({s.p, missing, s.t, s.td, missing, missing});
    }
    return sigs;
}

int man_count(const UPA_report& r) { return std::clamp(r.numman, 0, UPA_MAN_LEVELS); }

// A mandatory level's pressure is fixed by its slot (1-16): a pressure that differs was
// damaged (925 decoded as 92.5) and is dropped alone instead of ending the sounding there.
bool man_pressure_fits(int m, float p)
{
    if (!usable_pressure(p)) return false;
    float slot = UPA_mandatory_pres(m);
    return !known(slot) || std::fabs(p - slot) < 0.5f;
}

// The level a sounding starts from: the report's surface, or, for a sounding whose
// significant levels begin above 500 mb, its lowest mandatory level with a known height.
// Sets *sfc_man to the man index used.
UPA_level find_surface(const UPA_report& r, float first_sig_p, int* sfc_man)
{
    *sfc_man = 0;
    if (known(first_sig_p) && first_sig_p < 500.0f) {
        int end = std::min(man_count(r), man_walk_end);
        for (int m = 1; m < end; ++m) {
            if (man_pressure_fits(m, r.man[m].p) && known(r.man[m].h)) {
                *sfc_man = m;
                return from_man(r.man[m]);
            }
        }
    }
    return from_man(r.man[0]);
}

// Shifts every index at or after pos by one (a level was inserted at pos).
void shift_index(int* idx, int pos)
{
    for (int m = 0; m < UPA_MAN_INDEX; ++m)
        if (idx[m] != static_cast<int>(missing) && idx[m] >= pos) ++idx[m];
}

// Inserts lev at its pressure place, or combines it with a level of equal pressure.
// Returns the position, or -1 when it lies below the bottom of the sounding.
int insert_by_pressure(UPA_level* merge, int* count, const UPA_level& lev, int* idx, bool interpolate_temps)
{
    int n = *count;
    int pos = 0;
    while (pos < n && merge[pos].p > lev.p + same_pressure) ++pos;
    if (pos < n && std::fabs(merge[pos].p - lev.p) < same_pressure) {
        fill_missing(merge[pos], lev);
        return pos;
    }
    if (pos == 0 || n >= UPA_MERGE_MAX) return -1;
    UPA_level inserted = lev;
    if (interpolate_temps && pos < n) {
        const UPA_level& below = merge[pos - 1];
        const UPA_level& above = merge[pos];
        if (known(below.t) && known(above.t))
            inserted.t = interp_temp(below.t, above.t, below.p, above.p, lev.p);
        if (known(below.td) && known(above.td))
            inserted.td = interp_temp(below.td, above.td, below.p, above.p, lev.p);
    }
    std::copy_backward(merge + pos, merge + n, merge + n + 1);
    merge[pos] = inserted;
    *count = n + 1;
    shift_index(idx, pos);
    return pos;
}

// Removes levels whose potential temperature falls more than 3 K below the last accepted one.
int superadiabatic_filter(UPA_level* merge, int n, int* idx)
{
    std::vector<int> new_pos(n, static_cast<int>(missing));
    float last_theta = missing;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        float theta = known(merge[i].t) ? pot_temp(merge[i].t + static_cast<float>(kelvin), merge[i].p) : missing;
        if (known(theta) && known(last_theta) && theta < last_theta - superadiabatic_limit) {
            MESS_print(M_debug, "BAD: %d = %1.0f\n", i, merge[i].p);
            continue;
        }
        if (known(theta)) last_theta = theta;
        new_pos[i] = kept;
        merge[kept++] = merge[i];
    }
    for (int m = 0; m < UPA_MAN_INDEX; ++m)
        if (idx[m] >= 0 && idx[m] < n) idx[m] = new_pos[idx[m]];
    return kept;
}

int finish_index(const int* idx, int* man_index)
{
    if (man_index) std::copy(idx, idx + UPA_MAN_INDEX, man_index);
    return 0;
}

// Standard-atmosphere height (m) of a pressure (mb).
float std_height(float p)
{
    return static_cast<float>((std_sfc_temp - std_sfc_temp * std::pow(p / 1013.25, 0.190263)) / lapse);
}

double mean_kelvin(float t1, float t2, float h_fallback)
{
    if (known(t1) && known(t2)) return (t1 + t2) / 2.0 + kelvin;
    if (known(t1)) return t1 + kelvin;
    if (known(t2)) return t2 + kelvin;
    double t = std_sfc_temp - lapse * (known(h_fallback) ? h_fallback : 0.0);
    return t > 150.0 ? t : kelvin;
}

// Height of pressure p carried hydrostatically from (p1, h1).
float carry_height(float p1, float h1, float t1, float p, float t)
{
    double tbar = mean_kelvin(t1, t, h1);
    return static_cast<float>(h1 + gas_constant * tbar / gravity * std::log(static_cast<double>(p1) / p));
}

// Height (m) of the surface: reported, the station elevation, or carried hydrostatically
// from the lowest mandatory level with a height.
float surface_height(const UPA_report& r, const UPA_level& sfc, float sfc_p)
{
    if (known(sfc.h)) return sfc.h;
    if (known(r.elev)) return r.elev;
    int end = std::min(man_count(r), man_walk_end);
    for (int m = 1; m < end; ++m) {
        const UPA_man& man = r.man[m];
        if (man_pressure_fits(m, man.p) && known(man.h) && man.p <= sfc_p)
            return carry_height(man.p, man.h, man.t, sfc_p, sfc.t);
    }
    return missing;
}

// Hydrostatic thickness (m) from level a up to level b of a merged temperature sounding,
// layer by layer; NAN where a temperature is unknown (no evidence either way).
double hydrostatic_dz(const UPA_level* lev, int a, int b)
{
    double dz = 0.0;
    for (int i = a; i < b; ++i) {
        if (!known(lev[i].t) || !known(lev[i + 1].t)) return NAN;
        double tbar = (static_cast<double>(lev[i].t) + lev[i + 1].t) / 2.0 + kelvin;
        dz += gas_constant * tbar / gravity * std::log(static_cast<double>(lev[i].p) / lev[i + 1].p);
    }
    return dz;
}

// Heights of two levels agree with the temperatures between them: reported heights are
// rounded and the temperatures sampled, so a few tens of metres and a few percent pass.
bool heights_agree(const UPA_level* lev, int a, int b)
{
    double dz = hydrostatic_dz(lev, a, b);
    if (std::isnan(dz)) return true;
    return std::fabs(static_cast<double>(lev[b].h) - lev[a].h - dz) <= 50.0 + 0.03 * std::fabs(dz);
}

// Reported heights that do not rise with the level, or that disagree with the hydrostatic
// heights of the levels around them while those agree with each other, are dropped: one
// damaged height would otherwise bend every height, thickness and energy computed from it.
void drop_bad_heights(UPA_level* merge, int n)
{
    std::vector<UPA_level> filled(merge, merge + n);
    UPA_calc_temp(filled.data(), n);
    std::vector<bool> rising = longest_ordered_run(
        n, [&](int i) { return known(merge[i].h); }, [&](int a, int b) { return merge[b].h > merge[a].h; });
    std::vector<int> with_h;
    for (int i = 0; i < n; ++i) {
        if (!known(merge[i].h)) continue;
        if (!rising[i]) {
            MESS_print(M_debug, "BAD height: %d = %1.0f at %1.0f mb\n", i, merge[i].h, merge[i].p);
            merge[i].h = missing;
            continue;
        }
        with_h.push_back(i);
    }
    const UPA_level* f = filled.data();
    auto agree = [&](int a, int b) { return heights_agree(f, with_h[a], with_h[b]); };
    int k = static_cast<int>(with_h.size());
    std::vector<bool> bad(k, false);
    for (int j = 0; k >= 3 && j < k; ++j) {
        // The neighbours must vouch for each other, else the fault may be theirs.
        if (j == 0) bad[j] = !agree(0, 1) && agree(1, 2);
        else if (j == k - 1) bad[j] = !agree(k - 2, k - 1) && agree(k - 3, k - 2);
        else bad[j] = !agree(j - 1, j) && !agree(j, j + 1) && agree(j - 1, j + 1);
    }
    for (int j = 0; j < k; ++j) {
        if (!bad[j]) continue;
        int i = with_h[j];
        MESS_print(M_debug, "BAD height: %d = %1.0f at %1.0f mb\n", i, merge[i].h, merge[i].p);
        merge[i].h = missing;
    }
}

enum class Coord { none, pressure, height, theta };

Coord coord_kind(int code)
{
    switch (code) {
        case 1: case 100: case 101: case 102: case 115: case 116: return Coord::pressure;
        case 103: case 104: case 105: case 106: return Coord::height;
        case 113: case 114: return Coord::theta;
        default: return Coord::none;
    }
}

float coord_value(Coord kind, const UPA_level& lev)
{
    switch (kind) {
        case Coord::pressure:
            return usable_pressure(lev.p) ? static_cast<float>(-std::log(static_cast<double>(lev.p))) : missing;
        case Coord::height: return known(lev.h) ? lev.h : missing;
        case Coord::theta:
            if (!usable_pressure(lev.p) || !known(lev.t)) return missing;
            return pot_temp(lev.t + static_cast<float>(kelvin), lev.p);
        default: return missing;
    }
}

float lerp(float a, float b, double frac)
{
    if (!known(a) || !known(b)) return missing;
    return static_cast<float>(a + (static_cast<double>(b) - a) * frac);
}

// Direction at frac of the way from lower d1 to upper d2, turning the short way round.
float interp_direction(float d1, float d2, double frac)
{
    double diff = static_cast<double>(d2) - d1;
    if (diff > 180.0) diff -= 360.0;
    if (diff < -180.0) diff += 360.0;
    double dir = d1 + diff * frac;
    if (dir < 0.0) dir += 360.0;
    if (dir > 360.0) dir -= 360.0;
    return static_cast<float>(dir);
}

bool has_wind(const UPA_level& lev) { return known(lev.dir) && known(lev.spd); }

// The usable levels of a sounding in one coordinate. Pressure and height columns read the
// caller's array in place: the pressure key is -p, which orders like -ln p, so logarithms
// are taken only for the two levels around a requested value. A theta column owns a copy
// with temperatures filled, cut at the first level without a theta.
class Column {
public:
    Column(const UPA_level* levels, int num, Coord kind) : kind_(kind), lev_(levels), n_(std::max(num, 0))
    {
        if (kind != Coord::theta) return;
        owned_.assign(levels, levels + n_);
        UPA_calc_temp(owned_.data(), n_);
        for (const UPA_level& l : owned_) {
            float theta = coord_value(Coord::theta, l);
            if (!known(theta)) break;
            theta_.push_back(theta);
        }
        lev_ = owned_.data();
        n_ = static_cast<int>(theta_.size());
    }
    Column(const Column&) = delete;   // a theta column points into its own copy
    Column& operator=(const Column&) = delete;
    int size() const { return n_; }
    const UPA_level& level(int i) const { return lev_[i]; }
    bool usable(int i) const
    {
        switch (kind_) {
            case Coord::pressure: return usable_pressure(lev_[i].p);
            case Coord::height: return known(lev_[i].h);
            default: return true;
        }
    }
    double key(int i) const
    {
        switch (kind_) {
            case Coord::pressure: return -static_cast<double>(lev_[i].p);
            case Coord::height: return lev_[i].h;
            default: return theta_[i];
        }
    }
    // Key of a requested value (pressure mb, height m, theta K); NAN when unusable.
    double request(float value) const
    {
        if (!known(value)) return NAN;
        if (kind_ == Coord::pressure) return value > 0.0f ? -static_cast<double>(value) : NAN;
        return value;
    }
    // A level at the requested value (to rounding: 1e-5 in ln p, 1 cm, 1 mK) is taken as it
    // is. A wider equality would hand out a neighbouring level for the requested one: a
    // significant level at 853 mb for 850, or the surface at 848 mb for 850 mb below ground.
    bool same(int i, double x) const
    {
        if (kind_ == Coord::pressure) {
            double ratio = key(i) / x;
            return ratio > 1.0 - 1e-5 && ratio < 1.0 + 1e-5;
        }
        return std::fabs(key(i) - x) < (kind_ == Coord::height ? 0.01 : 0.001);
    }
    // Position of x between levels a and b, 0 at a and 1 at b, in the coordinate.
    double fraction(int a, int b, double x) const
    {
        if (kind_ == Coord::pressure) return std::log(x / key(a)) / std::log(key(b) / key(a));
        return (x - key(a)) / (key(b) - key(a));
    }

private:
    Coord kind_;
    const UPA_level* lev_;
    int n_;
    std::vector<UPA_level> owned_;
    std::vector<float> theta_;
};

// Wind at key x from the nearest usable levels with a wind at or below position lo and at or
// above hi.
void interp_wind(const Column& col, int lo, int hi, double x, UPA_level* res)
{
    int below = lo;
    while (below >= 0 && !(col.usable(below) && has_wind(col.level(below)))) --below;
    int above = hi;
    while (above < col.size() && !(col.usable(above) && has_wind(col.level(above)))) ++above;
    if (below < 0 || above >= col.size()) return;
    const UPA_level& a = col.level(below);
    const UPA_level& b = col.level(above);
    if (below == above || col.key(above) == col.key(below)) {
        res->dir = a.dir;
        res->spd = a.spd;
        return;
    }
    double frac = col.fraction(below, above, x);
    res->dir = interp_direction(a.dir, b.dir, frac);
    res->spd = lerp(a.spd, b.spd, frac);
}

void interp_in_column(const Column& col, Coord kind, float value, UPA_level* res)
{
    *res = empty_level();
    double x = col.request(value);
    if (std::isnan(x)) return;
    int n = col.size();
    for (int i = 0; i < n; ++i) {
        if (col.usable(i) && col.same(i, x)) {
            *res = col.level(i);
            if (!has_wind(*res)) {
                res->dir = res->spd = missing;
                interp_wind(col, i, i, col.key(i), res);
            }
            return;
        }
    }
    int prev = -1;
    for (int i = 0; i < n; ++i) {
        if (!col.usable(i)) continue;
        if (prev >= 0) {
            double c1 = col.key(prev);
            double c2 = col.key(i);
            if ((x > c1 && x < c2) || (x < c1 && x > c2)) {
                double frac = col.fraction(prev, i, x);
                const UPA_level& a = col.level(prev);
                const UPA_level& b = col.level(i);
                if (kind == Coord::pressure) {
                    res->p = value;
                } else if (usable_pressure(a.p) && usable_pressure(b.p)) {
                    res->p = static_cast<float>(a.p * std::pow(static_cast<double>(b.p) / a.p, frac));
                }
                res->h = kind == Coord::height ? value : lerp(a.h, b.h, frac);
                res->t = lerp(a.t, b.t, frac);
                res->td = lerp(a.td, b.td, frac);
                interp_wind(col, prev, i, x, res);
                return;
            }
        }
        prev = i;
    }
}

// Merge of two sorted arrays: before(a, b) when a lies below b; same(a, b) for one level.
template <class Before, class Same, class Keep2>
int merge_sorted(const UPA_level* in1, int n1, const UPA_level* in2, int n2, UPA_level* out, int* map1, Before before,
                 Same same, Keep2 keep2, bool drop1_without_dir)
{
    int i = 0, j = 0, k = 0;
    n1 = std::max(n1, 0);
    n2 = std::max(n2, 0);
    while (i < n1 || j < n2) {
        if (i >= n1) {
            if (keep2(in2[j])) out[k++] = in2[j];
            ++j;
            continue;
        }
        if (j < n2 && before(in2[j], in1[i])) {
            if (keep2(in2[j])) out[k++] = in2[j];
            ++j;
            continue;
        }
        if (drop1_without_dir && !known(in1[i].dir)) {
            if (map1) map1[i] = static_cast<int>(missing);
            ++i;
            continue;
        }
        UPA_level lev = in1[i];
        if (j < n2 && same(in2[j], in1[i])) {
            fill_missing(lev, in2[j]);
            ++j;
        }
        if (map1) map1[i] = k;
        out[k++] = lev;
        ++i;
    }
    return k;
}

}  // namespace

int UPA_sm_merge(const UPA_report* report, UPA_level* merge, int* man_index)
{
    int idx[UPA_MAN_INDEX];
    std::fill(idx, idx + UPA_MAN_INDEX, static_cast<int>(missing));
    clear_index(man_index);
    if (!report || !merge) return 0;
    const UPA_report& r = *report;
    std::vector<UPA_level> sigs = ordered_sig_levels(r);
    PressureSink sink{merge};
    int numman = man_count(r);

    if (numman == 0) {
        for (const UPA_level& s : sigs) sink.put(s);
        if (sink.count > 0 && merge[0].p > 500.0f) {
            merge[0].h = r.man[0].h;
            idx[0] = 0;
        }
        int n = superadiabatic_filter(merge, sink.count, idx);
        drop_bad_heights(merge, n);
        finish_index(idx, man_index);
        return n;
    }

    int sfc_man = 0;
    UPA_level sfc = find_surface(r, sigs.empty() ? missing : sigs[0].p, &sfc_man);
    if (usable_pressure(sfc.p)) {
        idx[0] = sink.put(sfc);
        if (sfc_man > 0) idx[sfc_man] = idx[0];
        MESS_print(M_debug, "SFC: %1.0f\n", sfc.p);
    }
    std::size_t s = 0;
    auto put_sig = [&](std::size_t k) {
        int pos = sink.put(sigs[k]);
        if (pos < 0) MESS_print(M_debug, "BAD: %d = %1.0f\n", static_cast<int>(k), sigs[k].p);
        else MESS_print(M_debug, "PS: %d = %1.0f\n", pos, sigs[k].p);
        // Without a reported surface the first low significant level is the surface.
        if (pos == 0 && idx[0] < 0 && sigs[k].p > 600.0f) {
            if (!known(merge[0].h)) merge[0].h = r.man[0].h;
            idx[0] = 0;
        }
    };
    int walk_end = std::min(numman, man_walk_end);
    for (int m = 1; m < walk_end; ++m) {
        const UPA_man& man = r.man[m];
        if (!man_pressure_fits(m, man.p)) {
            MESS_print(M_debug, "bad mand: %d = %1.0f\n", m, man.p);
            continue;
        }
        while (s < sigs.size() && sigs[s].p > man.p + same_pressure) put_sig(s++);
        MESS_print(M_debug, "P-: %d = %1.0f\n", m, man.p);
        int pos = sink.put(from_man(man));
        if (pos < 0) {
            MESS_print(M_debug, "bad mand: %d = %1.0f\n", m, man.p);
            continue;
        }
        if (idx[m] < 0) idx[m] = pos;
        MESS_print(M_debug, "PM: %d = %1.0f\n", pos, man.p);
        while (s < sigs.size() && std::fabs(sigs[s].p - man.p) < same_pressure) fill_missing(merge[pos], sigs[s++]);
    }
    while (s < sigs.size()) put_sig(s++);

    int n = sink.count;
    if (usable_pressure(r.man[trop_index].p)) {
        UPA_level trop = from_man(r.man[trop_index]);
        int pos = insert_by_pressure(merge, &n, trop, idx, false);
        if (pos >= 0) idx[trop_index] = pos;
    }
    if (usable_pressure(r.man[maxwind_index].p)) {
        const UPA_man& mw = r.man[maxwind_index];
        UPA_level wind{mw.p, missing, missing, missing, mw.dir, mw.spd};
        int pos = insert_by_pressure(merge, &n, wind, idx, true);
        if (pos >= 0) idx[maxwind_index] = pos;
    }
    n = superadiabatic_filter(merge, n, idx);
    drop_bad_heights(merge, n);
    finish_index(idx, man_index);
    return n;
}

int UPA_wm_merge(const UPA_report* report, UPA_level* merge, int* man_index)
{
    int idx[UPA_MAN_INDEX];
    std::fill(idx, idx + UPA_MAN_INDEX, static_cast<int>(missing));
    clear_index(man_index);
    if (!report || !merge) return 0;
    const UPA_report& r = *report;
    std::vector<UPA_level> sigs = ordered_sig_levels(r);
    int sfc_man = 0;
    UPA_level sfc = find_surface(r, sigs.empty() ? missing : sigs[0].p, &sfc_man);
    float sfc_p = usable_pressure(sfc.p) ? sfc.p : 1000.0f;

    float sfc_h = surface_height(r, sfc, sfc_p);
    // Wind-level heights count from sea level, as the mandatory heights do; an entry at 0 ft
    // is the surface wind, at the station's elevation. Any other entry below the station
    // lies under ground.
    int numwnd = std::clamp(r.numwnd, 0, UPA_WND_LEVELS);
    auto wind_height = [&r, sfc_h](int i) -> float {
        if (r.wnd[i].h == 0.0f) return known(sfc_h) ? sfc_h : 0.0f;
        return static_cast<float>(r.wnd[i].h * feet_to_m);
    };
    // Wind levels in report order, the longest run of them going upward: one damaged great
    // height would otherwise hold back every wind level after it.
    std::vector<bool> keep = longest_ordered_run(
        numwnd, [&r](int i) { return known(r.wnd[i].h) && known(r.wnd[i].dir) && known(r.wnd[i].spd); },
        [&r](int a, int b) { return r.wnd[a].h < r.wnd[b].h; });
    std::vector<UPA_level> winds;
    for (int i = 0; i < numwnd; ++i) {
        const UPA_wnd& w = r.wnd[i];
        if (!keep[i]) continue;
        float h = wind_height(i);
        if (known(sfc_h) && h < sfc_h - same_height) {
            MESS_print(M_debug, "HW: %d = %.0f below ground\n", i, h);
            continue;
        }
        winds.push_back({missing, h, missing, missing, w.dir, w.spd});
    }
    HeightSink sink{merge};
    std::size_t w = 0;
    auto put_wind = [&](std::size_t k) {
        int pos = sink.put(winds[k]);
        MESS_print(M_debug, "HW: %d = %.0f %.0f %.0f\n", pos, winds[k].h, winds[k].dir, winds[k].spd);
    };
    int walk_end = std::min(man_count(r), man_walk_end);
    for (int m = 0; m < walk_end; ++m) {
        UPA_level man = from_man(r.man[m]);
        bool fits = m == 0 ? usable_pressure(man.p) : man_pressure_fits(m, man.p);
        if (!fits || !has_wind(man) || man.p > sfc_p + same_pressure) {
            MESS_print(M_debug, "bad mand: %d = %1.0f\n", m, man.p);
            continue;
        }
        if (!known(man.h)) man.h = m == sfc_man && known(sfc_h) ? sfc_h : std_height(man.p);
        while (w < winds.size() && winds[w].h < man.h - same_height) put_wind(w++);
        int pos = sink.put(man);
        if (pos < 0) {
            MESS_print(M_debug, "bad mand: %d = %1.0f\n", m, man.p);
            continue;
        }
        idx[m] = pos;
        MESS_print(M_debug, "HM: %d = %1.0f %.0f %.0f\n", pos, man.p, man.dir, man.spd);
        while (w < winds.size() && std::fabs(winds[w].h - man.h) < same_height) {
            MESS_print(M_debug, "HW+ %d = %1.0f %.0f %.0f\n", pos, winds[w].h, winds[w].dir, winds[w].spd);
            ++w;
        }
    }
    while (w < winds.size()) put_wind(w++);
    finish_index(idx, man_index);
    return sink.count;
}

int UPA_sw_merge(const UPA_report* report, UPA_level* merge, int* man_index)
{
    clear_index(man_index);
    if (!report || !merge) return 0;
    std::vector<UPA_level> temps(UPA_MERGE_MAX);
    std::vector<UPA_level> winds(UPA_MERGE_MAX);
    int sm_index[UPA_MAN_INDEX];
    int n_sm = UPA_sm_merge(report, temps.data(), sm_index);
    int n_wm = UPA_wm_merge(report, winds.data(), nullptr);
    return UPA_sw_combine(temps.data(), n_sm, sm_index, winds.data(), n_wm, merge, man_index);
}

int UPA_sw_combine(const UPA_level* temps, int n_sm, const int* sm_index, const UPA_level* winds, int n_wm,
                   UPA_level* merge, int* man_index)
{
    clear_index(man_index);
    if (!temps || !winds || !merge) return 0;
    n_sm = std::clamp(n_sm, 0, UPA_MERGE_MAX);
    n_wm = std::clamp(n_wm, 0, UPA_MERGE_MAX);
    std::vector<UPA_level> heights(temps, temps + n_sm);
    UPA_calc_temp(heights.data(), n_sm);
    bool have_heights = UPA_calc_height(heights.data(), n_sm) == 0;
    std::vector<UPA_level> placed;
    float last_p = std::numeric_limits<float>::infinity();
    for (int i = 0; i < n_wm; ++i) {
        UPA_level lev = winds[i];
        // A wind a few metres under the first temperature level is the surface wind.
        if (!usable_pressure(lev.p) && have_heights && n_sm > 0 && known(heights[0].h) && lev.h <= heights[0].h &&
            lev.h > heights[0].h - surface_slack)
            lev.p = heights[0].p;
        if (!usable_pressure(lev.p)) {
            UPA_level at;
            if (!have_heights || !UPA_interp(heights.data(), n_sm, 103, lev.h, &at) || !usable_pressure(at.p)) {
                MESS_print(M_debug, "HW: %d = %1.0f\n", i, lev.h);
                continue;
            }
            lev.p = at.p;
        }
        if (lev.p >= last_p) continue;
        MESS_print(M_debug, "HM: %d = %1.0f\n", i, lev.p);
        last_p = lev.p;
        placed.push_back(lev);
    }
    std::vector<int> map(n_sm, static_cast<int>(missing));
    auto before = [](const UPA_level& a, const UPA_level& b) { return a.p > b.p + same_pressure; };
    auto same = [](const UPA_level& a, const UPA_level& b) { return std::fabs(a.p - b.p) < same_pressure; };
    auto keep = [](const UPA_level& a) { return usable_pressure(a.p); };
    int n = merge_sorted(temps, n_sm, placed.data(), static_cast<int>(placed.size()), merge, map.data(), before,
                         same, keep, false);
    if (man_index)
        for (int m = 0; m < UPA_MAN_INDEX; ++m)
            man_index[m] = sm_index && sm_index[m] >= 0 && sm_index[m] < n_sm ? map[sm_index[m]] : static_cast<int>(missing);
    return n;
}

int UPA_merge_array(const UPA_level* in1, int in1_num, const UPA_level* in2, int in2_num, UPA_level* out)
{
    if (!out || (!in1 && in1_num > 0) || (!in2 && in2_num > 0)) return 0;
    auto before = [](const UPA_level& a, const UPA_level& b) { return a.p > b.p; };
    auto same = [](const UPA_level& a, const UPA_level& b) { return a.p == b.p; };
    auto keep = [](const UPA_level& a) { return known(a.p); };
    return merge_sorted(in1, in1_num, in2, in2_num, out, nullptr, before, same, keep, false);
}

int UPA_wnd_merge_array(const UPA_level* in1, int in1_num, const UPA_level* in2, int in2_num, UPA_level* out)
{
    if (!out || (!in1 && in1_num > 0) || (!in2 && in2_num > 0)) return 0;
    auto before = [](const UPA_level& a, const UPA_level& b) { return a.h < b.h; };
    auto same = [](const UPA_level& a, const UPA_level& b) { return a.h == b.h; };
    auto keep = [](const UPA_level& a) { return known(a.h) && known(a.dir); };
    return merge_sorted(in1, in1_num, in2, in2_num, out, nullptr, before, same, keep, true);
}

float UPA_sfc_pres(const UPA_level* lev, const int* ind)
{
    if (!lev || !ind || *ind == static_cast<int>(missing) || *ind < 0) return 1000.0f;
    return lev[*ind].p;
}

float UPA_thick_top(int coord, float bottom, float thick)
{
    Coord kind = coord_kind(coord);
    if (kind == Coord::none || !known(bottom)) return missing;
    if (!known(thick)) thick = kind == Coord::pressure ? 10.0f : kind == Coord::height ? 50.0f : 5.0f;
    return kind == Coord::pressure ? bottom - thick : bottom + thick;
}

float UPA_thick_bottom(int coord, float top, float thick)
{
    Coord kind = coord_kind(coord);
    if (kind == Coord::none || !known(top)) return missing;
    if (!known(thick)) thick = kind == Coord::pressure ? 20.0f : kind == Coord::height ? 200.0f : 2.0f;
    return kind == Coord::pressure ? top + thick : top - thick;
}

float UPA_get_level(int coord, const UPA_level* level)
{
    if (!level) return missing;
    return coord_value(coord_kind(coord), *level);
}

int UPA_interp_levels(const UPA_level* levels, int num_level, int coord, const float* values, UPA_level* result,
                      int num_result)
{
    if (!result || num_result <= 0) return 0;
    for (int i = 0; i < num_result; ++i) result[i] = empty_level();
    if (!levels || num_level <= 0) return num_result;
    if (coord == 1) {
        THERM_get_sfc(levels, num_level, &result[0]);
        return 1;
    }
    Coord kind = coord_kind(coord);
    if (kind == Coord::none || !values) return 0;
    Column col(levels, num_level, kind);
    for (int i = 0; i < num_result; ++i) interp_in_column(col, kind, values[i], &result[i]);
    return num_result;
}

int UPA_interp(const UPA_level* levels, int num_level, int coord, float value, UPA_level* result)
{
    if (!result) return 0;
    if (UPA_interp_levels(levels, num_level, coord, &value, result, 1) != 1) return 0;
    return known(result->p) || known(result->h) ? 1 : 0;
}

int UPA_calc_temp(UPA_level* levels, int num)
{
    if (!levels) return 0;
    for (int i = 0; i < num; ++i) {
        if (known(levels[i].t) || !usable_pressure(levels[i].p)) continue;
        int below = i - 1;
        while (below >= 0 && !(known(levels[below].t) && usable_pressure(levels[below].p))) --below;
        int above = i + 1;
        while (above < num && !(known(levels[above].t) && usable_pressure(levels[above].p))) ++above;
        if (below < 0 || above >= num || levels[above].p == levels[below].p) continue;
        double frac = (static_cast<double>(levels[i].p) - levels[below].p) / (static_cast<double>(levels[above].p) - levels[below].p);
        levels[i].t = lerp(levels[below].t, levels[above].t, frac);
    }
    return 0;
}

int UPA_calc_height(UPA_level* level, int num)
{
    if (!level || num <= 0) return -1;
    int first = 0;
    while (first < num && !(known(level[first].h) && usable_pressure(level[first].p))) ++first;
    if (first >= num) return -1;
    // Below the first known height: carry downward.
    for (int i = first - 1, ref = first; i >= 0; --i) {
        if (!usable_pressure(level[i].p)) continue;
        level[i].h = carry_height(level[ref].p, level[ref].h, level[ref].t, level[i].p, level[i].t);
        ref = i;
    }
    int anchor = first;   // last level with a reported height
    int prev = first;     // last level with any height
    std::vector<int> run;
    for (int i = first + 1; i < num; ++i) {
        if (!usable_pressure(level[i].p)) continue;
        if (known(level[i].h)) {
            if (!run.empty()) {
                float predicted = carry_height(level[prev].p, level[prev].h, level[prev].t, level[i].p, level[i].t);
                double error = level[i].h - predicted;
                double span = static_cast<double>(level[anchor].p) - level[i].p;
                for (int k : run) {
                    double frac = span != 0.0 ? (static_cast<double>(level[anchor].p) - level[k].p) / span : 0.0;
                    level[k].h = static_cast<float>(level[k].h + error * frac);
                }
                run.clear();
            }
            anchor = prev = i;
            continue;
        }
        level[i].h = carry_height(level[prev].p, level[prev].h, level[prev].t, level[i].p, level[i].t);
        run.push_back(i);
        prev = i;
    }
    return 0;
}

int UPA_calc_press(UPA_level* level, int num)
{
    if (!level) return 0;
    float sfc_t = num > 0 ? level[0].t : missing;
    float sfc_h = num > 0 && known(level[0].h) ? level[0].h : 0.0f;
    for (int i = 0; i < num; ++i) {
        if (usable_pressure(level[i].p) || !known(level[i].h)) continue;
        int ref = i - 1;
        while (ref >= 0 && !(usable_pressure(level[ref].p) && known(level[ref].h))) --ref;
        if (ref < 0) {
            ref = i + 1;
            while (ref < num && !(usable_pressure(level[ref].p) && known(level[ref].h))) ++ref;
            if (ref >= num) continue;
        }
        double h_mean = (static_cast<double>(level[ref].h) + level[i].h) / 2.0;
        double tbar;
        if (known(level[i].t) || known(level[ref].t)) tbar = mean_kelvin(level[i].t, level[ref].t, missing);
        else if (known(sfc_t)) tbar = sfc_t + kelvin - lapse * (h_mean - sfc_h);
        else tbar = std_sfc_temp - lapse * h_mean;
        if (tbar < 150.0) tbar = kelvin;
        level[i].p = static_cast<float>(level[ref].p *
                                        std::exp(gravity * (static_cast<double>(level[ref].h) - level[i].h) / (gas_constant * tbar)));
    }
    return 0;
}
