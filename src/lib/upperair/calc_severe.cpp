// Severe-weather parameters of a merged sounding: bulk shear, supercell motion, the effective
// inflow layer, downdraft energy and the composite parameters built on them.
//
// Sources: supercell motion by the internal dynamics method (Bunkers et al. 2000); effective
// inflow layer and effective bulk wind difference (Thompson et al. 2007); downdraft energy of
// the minimum theta-e parcel of the lowest 400 mb (Gilmore and Wicker 1998); effective-layer
// significant tornado parameter (Thompson et al. 2012); supercell composite parameter
// (Thompson et al. 2004, with the effective-layer terms of Thompson et al. 2007).
#include <algorithm>
#include <cmath>
#include <vector>

#include "calc.hpp"
#include "calc_internal.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_merge.hpp"

using namespace calc_detail;

namespace {

constexpr double gas_constant = 287.05;

struct WindPoint {
    double h, u, v;  // m, m/s
};

// The winds of the sounding with a known height, by increasing height.
std::vector<WindPoint> wind_profile(const UPA_level* sw, int num)
{
    std::vector<WindPoint> out;
    if (!sw) return out;
    for (int i = 0; i < num; ++i) {
        const UPA_level& l = sw[i];
        if (!known(l.h) || !known(l.dir) || !known(l.spd) || l.spd < 0.0f) continue;
        if (!out.empty() && l.h <= out.back().h) continue;
        double rad = l.dir * M_PI / 180.0, spd = l.spd * knots_to_ms;
        out.push_back({l.h, -spd * std::sin(rad), -spd * std::cos(rad)});
    }
    return out;
}

bool wind_at(const std::vector<WindPoint>& w, double h, double* u, double* v)
{
    if (w.empty() || h < w.front().h || h > w.back().h) return false;
    auto it = std::lower_bound(w.begin(), w.end(), h, [](const WindPoint& p, double x) { return p.h < x; });
    if (it == w.begin()) {
        *u = it->u;
        *v = it->v;
        return true;
    }
    const WindPoint& a = *(it - 1);
    const WindPoint& b = *it;
    double f = (h - a.h) / (b.h - a.h);
    *u = a.u + f * (b.u - a.u);
    *v = a.v + f * (b.v - a.v);
    return true;
}

// Mean wind of the layer, sampled every 50 m (not weighted by pressure).
bool mean_wind(const std::vector<WindPoint>& w, double bottom, double top, double* u, double* v)
{
    int n = 0;
    double su = 0, sv = 0;
    for (double h = bottom; h <= top + 1e-6; h += 50.0) {
        double a, b;
        if (!wind_at(w, h, &a, &b)) return false;
        su += a;
        sv += b;
        ++n;
    }
    if (n == 0) return false;
    *u = su / n;
    *v = sv / n;
    return true;
}

void to_dir_spd(double u, double v, float* dir, float* spd)
{
    double d = (u == 0.0 && v == 0.0) ? 0.0 : std::atan2(-u, -v) * 180.0 / M_PI;
    if (d < 0.0) d += 360.0;
    *dir = static_cast<float>(d);
    *spd = static_cast<float>(std::hypot(u, v) / knots_to_ms);
}

double clamp01(double x, double hi = 1.0) { return std::max(0.0, std::min(hi, x)); }

}  // namespace

float height_of_pressure(const UPA_level* sm, int num, float p)
{
    if (!sm || !known(p) || p <= 0.0f) return missing;
    for (int i = 0; i + 1 < num; ++i) {
        const UPA_level& a = sm[i];
        const UPA_level& b = sm[i + 1];
        if (!known(a.p) || !known(b.p) || !known(a.h) || !known(b.h) || a.p <= 0.0f || b.p <= 0.0f) continue;
        if (p <= a.p && p >= b.p) {
            if (a.p == b.p) return a.h;
            double f = std::log(a.p / p) / std::log(a.p / b.p);
            return static_cast<float>(a.h + f * (b.h - a.h));
        }
    }
    return missing;
}

float bulk_shear(const UPA_level* sw, int num, float bottom, float top)
{
    if (!known(bottom) || !known(top)) return missing;
    std::vector<WindPoint> w = wind_profile(sw, num);
    double u0, v0, u1, v1;
    if (!wind_at(w, bottom, &u0, &v0) || !wind_at(w, top, &u1, &v1)) return missing;
    return static_cast<float>(std::hypot(u1 - u0, v1 - v0) / knots_to_ms);
}

int storm_motion(const UPA_level* sw, int num, float sfc_h, float* rm_dir, float* rm_spd, float* lm_dir,
                 float* lm_spd)
{
    float dummy;
    if (!rm_dir) rm_dir = &dummy;
    if (!rm_spd) rm_spd = &dummy;
    if (!lm_dir) lm_dir = &dummy;
    if (!lm_spd) lm_spd = &dummy;
    *rm_dir = *rm_spd = *lm_dir = *lm_spd = missing;
    if (!known(sfc_h)) return 0;
    std::vector<WindPoint> w = wind_profile(sw, num);
    double mu, mv, lu, lv, tu, tv;
    // 0-6 km mean wind; shear from the 0-0.5 km to the 5.5-6 km mean wind; the movers lie
    // 7.5 m/s to either side of the mean wind, at right angles to that shear.
    if (!mean_wind(w, sfc_h, sfc_h + 6000.0, &mu, &mv) || !mean_wind(w, sfc_h, sfc_h + 500.0, &lu, &lv) ||
        !mean_wind(w, sfc_h + 5500.0, sfc_h + 6000.0, &tu, &tv))
        return 0;
    double su = tu - lu, sv = tv - lv, s = std::hypot(su, sv);
    double du = 0, dv = 0;
    if (s > 0.0) {
        du = 7.5 * sv / s;
        dv = -7.5 * su / s;
    }
    to_dir_spd(mu + du, mv + dv, rm_dir, rm_spd);
    to_dir_spd(mu - du, mv - dv, lm_dir, lm_spd);
    return 1;
}

int effective_layer(const UPA_level* sm, int num, float* bottom, float* top)
{
    float dummy;
    if (!bottom) bottom = &dummy;
    if (!top) top = &dummy;
    *bottom = *top = missing;
    if (!sm || num < 2) return 0;
    UPA_level sfc;
    int first = THERM_get_sfc(sm, num, &sfc);
    if (first < 0 || !known(sfc.p)) return 0;
    // Search no higher than 500 mb above the surface: no inflow layer starts up there.
    for (int i = first; i < num && known(sm[i].p) && sm[i].p >= sfc.p - 500.0f; ++i) {
        UPA_level parcel = sm[i];
        if (!known(parcel.t) || !known(parcel.td)) {
            if (known(*bottom)) break;
            continue;
        }
        PARCEL_params pp;
        bool qualifies = parcel_calc(sm, num, &parcel, 100, parcel.p, 0.0f, &pp) == 1 && known(pp.Bplus) &&
                         known(pp.Bminus) && pp.Bplus >= 100.0f && pp.Bminus <= 250.0f;
        if (qualifies) {
            if (!known(*bottom)) *bottom = sm[i].p;
            *top = sm[i].p;
        } else if (known(*bottom)) {
            break;
        }
    }
    return known(*bottom) ? 1 : 0;
}

float downdraft_cape(const UPA_level* sm, int num)
{
    if (!sm || num < 2) return missing;
    UPA_level sfc;
    int first = THERM_get_sfc(sm, num, &sfc);
    if (first < 0 || !known(sfc.p)) return missing;
    int origin = -1;
    float lowest = missing;
    for (int i = first; i < num && known(sm[i].p) && sm[i].p >= sfc.p - 400.0f; ++i) {
        float te = fast_thetae(sm[i]);
        if (known(te) && (origin < 0 || te < lowest)) {
            origin = i;
            lowest = te;
        }
    }
    if (origin < 0) return missing;
    // The parcel, cooled to its wet bulb by evaporation, sinks on the saturated adiabat through
    // its condensation level (the label fast_thetae gives) to the surface.
    double p_top = sm[origin].p, p_bottom = sfc.p;
    if (!(p_bottom > p_top)) return 0.0f;
    int steps = std::max(1, static_cast<int>(std::ceil((p_bottom - p_top) / 5.0)));
    double energy = 0.0, prev_diff = 0.0;
    for (int k = 0; k <= steps; ++k) {
        double p = p_top + (p_bottom - p_top) * k / steps;
        UPA_level env;
        float tp = temp_on_satad(lowest, static_cast<float>(p));
        if (!level_at_pressure(sm, num, static_cast<float>(p), &env) || !known(env.t) || !(tp > 0.0f)) return missing;
        double diff = env.t + kelvin - tp;
        if (k > 0) {
            double p_prev = p_top + (p_bottom - p_top) * (k - 1) / steps;
            energy += gas_constant * 0.5 * (diff + prev_diff) * std::log(p / p_prev);
        }
        prev_diff = diff;
    }
    return static_cast<float>(std::max(0.0, energy));
}

float sig_tornado(float mlcape, float mllcl_agl, float esrh, float ebwd, float mlcin)
{
    if (!known(mlcape) || !known(mllcl_agl) || !known(esrh) || !known(ebwd) || !known(mlcin)) return missing;
    double cape_term = std::max(0.0, mlcape / 1500.0);
    double lcl_term = clamp01((2000.0 - mllcl_agl) / 1000.0);
    double srh_term = std::max(0.0, esrh / 150.0);
    double shear_term = ebwd < 12.5 ? 0.0 : std::min(1.5, ebwd / 20.0);
    double cin_term = clamp01((200.0 + mlcin) / 150.0);
    return static_cast<float>(cape_term * lcl_term * srh_term * shear_term * cin_term);
}

float supercell_composite(float mucape, float esrh, float ebwd)
{
    if (!known(mucape) || !known(esrh) || !known(ebwd)) return missing;
    double shear_term = ebwd < 10.0 ? 0.0 : std::min(1.0, ebwd / 20.0);
    return static_cast<float>(std::max(0.0, mucape / 1000.0) * (esrh / 50.0) * shear_term);
}
