// Layer means and layer quantities of a sounding.
//
// Sources of the definitions: layer means are pressure (mass) weighted, trapezoidal between
// levels; convective condensation level as the meeting of the mean mixing-ratio line with the
// environment (Hess 1959); lid strength index (Carlson, Benjamin and Lanicci 1983); theta-e
// difference index (Atkins and Wakimoto 1991); storm-relative helicity (Davies-Jones, Burgess
// and Foster 1990) with relative helicity and streamwise vorticity after Davies-Jones (1984)
// and the 30-degrees-right, 75 % default storm motion (Maddox 1976); bulk Richardson number
// (Weisman and Klemp 1982); energy-helicity index (Hart and Korotky 1991); static stability
// -(T/theta) dtheta/dp (Holton, An Introduction to Dynamic Meteorology).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calc.hpp"
#include "calc_internal.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_merge.hpp"

using namespace calc_detail;

namespace {

bool is_pressure_coord(int code)
{
    return code == 1 || code == 100 || code == 101 || code == 102 || code == 115 || code == 116;
}

float request_coord(int coord, float value)
{
    if (!known(value) || !std::isfinite(value)) return missing;
    if (is_pressure_coord(coord)) return value > 0.0f ? static_cast<float>(-std::log(static_cast<double>(value))) : missing;
    return value;
}

// Trapezoidal weighted mean of value_of over the slice: by pressure when every level of the
// slice has one, else by height. missing when no pair of levels carries the value.
template <class ValueOf>
float slice_mean(const std::vector<UPA_level>& slice, ValueOf value_of)
{
    bool by_pressure = std::all_of(slice.begin(), slice.end(), [](const UPA_level& l) { return known(l.p); });
    double sum = 0.0, weight = 0.0;
    for (std::size_t i = 0; i + 1 < slice.size(); ++i) {
        float a = value_of(slice[i]);
        float b = value_of(slice[i + 1]);
        float w1 = by_pressure ? slice[i].p : slice[i].h;
        float w2 = by_pressure ? slice[i + 1].p : slice[i + 1].h;
        if (!known(a) || !known(b) || !known(w1) || !known(w2)) continue;
        double dw = std::fabs(static_cast<double>(w2) - w1);
        sum += (static_cast<double>(a) + b) / 2.0 * dw;
        weight += dw;
    }
    if (weight <= 0.0) {
        // A layer thinner than the level spacing still has the value of its ends.
        if (slice.size() >= 1 && known(value_of(slice[0]))) return value_of(slice[0]);
        return missing;
    }
    return static_cast<float>(sum / weight);
}

bool has_wind(const UPA_level& l) { return known(l.dir) && known(l.spd); }

void wind_components(const UPA_level& l, double* u, double* v)
{
    double rad = l.dir * M_PI / 180.0;
    double spd = l.spd * knots_to_ms;
    *u = -spd * std::sin(rad);
    *v = -spd * std::cos(rad);
}

float direction_of(double u, double v)
{
    if (u == 0.0 && v == 0.0) return 0.0f;
    double dir = std::atan2(-u, -v) * 180.0 / M_PI;
    if (dir < 0.0) dir += 360.0;
    return static_cast<float>(dir);
}

std::vector<UPA_level> wind_levels(const std::vector<UPA_level>& slice)
{
    std::vector<UPA_level> winds;
    for (const UPA_level& l : slice)
        if (has_wind(l)) winds.push_back(l);
    return winds;
}

float first_height(const UPA_level* lev, int num)
{
    for (int i = 0; lev && i < num; ++i)
        if (known(lev[i].h)) return lev[i].h;
    return missing;
}

// Level at a coordinate value, after the surface code is resolved.
bool level_at(const UPA_level* lev, int num, int coord, float value, UPA_level* out)
{
    float bottom = value;
    resolve_surface(lev, num, &coord, &bottom);
    return known(bottom) && UPA_interp(lev, num, coord, bottom, out) == 1;
}

// The bottom and top levels of a layer, both with the listed values known.
bool layer_ends(const UPA_level* lev, int num, int coord, float bottom, float top, UPA_level* b, UPA_level* t)
{
    if (!level_at(lev, num, coord, bottom, b)) return false;
    int top_coord = coord == 1 ? 100 : coord;
    return UPA_interp(lev, num, top_coord, top, t) == 1;
}

float theta_of(const UPA_level& l) { return variable_calc(4, &l); }

}  // namespace

namespace calc_detail {

bool layer_slice(const UPA_level* lev, int num, int coord, float bottom, float top, std::vector<UPA_level>* out)
{
    out->clear();
    if (!lev || num <= 0) return false;
    resolve_surface(lev, num, &coord, &bottom);
    float cb = request_coord(coord, bottom);
    float ct = request_coord(coord, top);
    if (!known(cb) || !known(ct) || cb == ct) return false;
    if (cb > ct) {
        std::swap(cb, ct);
        std::swap(bottom, top);
    }
    UPA_level b, t;
    if (UPA_interp(lev, num, coord, bottom, &b) != 1 || UPA_interp(lev, num, coord, top, &t) != 1) return false;
    out->push_back(b);
    // Inner levels keep clear of the ends by the interpolation's equality distance (a level
    // at an end is that end). In pressure the test runs on p itself.
    bool by_pressure = is_pressure_coord(coord);
    double last = by_pressure ? -static_cast<double>(bottom) : cb;
    double end = by_pressure ? -static_cast<double>(top) : ct;
    for (int i = 0; i < num; ++i) {
        double c;
        if (by_pressure) {
            if (!known(lev[i].p) || lev[i].p <= 0.0f) continue;
            c = -static_cast<double>(lev[i].p);
            if (c <= last * (1.0 - 1e-5) || c >= end * (1.0 + 1e-5)) continue;
        } else {
            float v = UPA_get_level(coord, &lev[i]);
            if (!known(v)) continue;
            c = v;
            if (c <= last + 0.01 || c >= end - 0.01) continue;
        }
        out->push_back(lev[i]);
        last = c;
    }
    out->push_back(t);
    return true;
}

}  // namespace calc_detail

float mean_value(const UPA_level* lev, int num, const char* val, int coord, float bottom, float top)
{
    static const struct {
        const char* name;
        int type;
    } names[] = {{"pres", 16}, {"hght", 15}, {"temp", 1}, {"dewp", 2}, {"dewd", 5}, {"mrat", 6},
                 {"shum", 7},  {"rhum", 3},  {"vpres", 8}, {"vtemp", 14}, {"theta", 4}, {"thetae", 11},
                 {"thetav", 12}, {"thetaw", 10}, {"wetblb", 9}, {"hag", -1}};
    if (!val) return missing;
    int type = 0;
    for (const auto& n : names)
        if (std::strcmp(n.name, val) == 0) type = n.type;
    if (type == 0) return missing;
    std::vector<UPA_level> slice;
    if (!layer_slice(lev, num, coord, bottom, top, &slice)) return missing;
    if (type == -1) {
        UPA_level sfc;
        if (THERM_get_sfc(lev, num, &sfc) < 0 || !known(sfc.h)) return missing;
        float mean = slice_mean(slice, [](const UPA_level& l) { return l.h; });
        return known(mean) ? mean - sfc.h : missing;
    }
    return slice_mean(slice, [type](const UPA_level& l) { return variable_calc(type, &l); });
}

int layer_parcel_mean(const UPA_level* lev, int num, int coord, float bottom, float top, float* obar, float* wbar)
{
    float o = missing, w = missing;
    std::vector<UPA_level> slice;
    if (layer_slice(lev, num, coord, bottom, top, &slice)) {
        o = slice_mean(slice, [](const UPA_level& l) { return variable_calc(4, &l); });
        w = slice_mean(slice, [](const UPA_level& l) { return variable_calc(6, &l); });
    }
    bool ok = known(o) && known(w) && o > 0.0f && w >= 0.0f;
    if (obar) *obar = ok ? o : missing;
    if (wbar) *wbar = ok ? w : missing;
    return ok ? 1 : 0;
}

int layer_wind_mean(const UPA_level* lev, int num, int coord, float bottom, float top, float* dir, float* spd)
{
    if (dir) *dir = missing;
    if (spd) *spd = missing;
    std::vector<UPA_level> slice;
    if (!layer_slice(lev, num, coord, bottom, top, &slice)) return 0;
    std::vector<UPA_level> winds = wind_levels(slice);
    if (winds.empty()) return 0;
    auto u_of = [](const UPA_level& l) { double u, v; wind_components(l, &u, &v); return static_cast<float>(u); };
    auto v_of = [](const UPA_level& l) { double u, v; wind_components(l, &u, &v); return static_cast<float>(v); };
    float u = slice_mean(winds, u_of);
    float v = slice_mean(winds, v_of);
    if (!known(u) || !known(v)) return 0;
    if (dir) *dir = direction_of(u, v);
    if (spd) *spd = static_cast<float>(std::hypot(u, v) / knots_to_ms);
    return 1;
}

float pr_ccl(const UPA_level* lev, int num, int coord, float bottom, float top, float* wbar)
{
    if (wbar) *wbar = missing;
    float obar, w;
    if (layer_parcel_mean(lev, num, coord, bottom, top, &obar, &w) != 1 || w <= 0.0f) return missing;
    if (wbar) *wbar = w;
    double p_prev = missing, diff_prev = missing;
    for (int i = 0; i < num; ++i) {
        const UPA_level& l = lev[i];
        if (!known(l.t) || !known(l.p) || l.p <= 0.0f || (p_prev != missing && l.p >= p_prev)) continue;
        double tw = temp_on_mixrat(w, l.p);
        if (tw <= 0.0) continue;
        double diff = l.t + kelvin - tw;   // environment minus the mixing-ratio line
        if (p_prev != missing && diff_prev > 0.0 && diff <= 0.0) {
            double frac = diff_prev / (diff_prev - diff);
            double lnp = std::log(p_prev) + (std::log(static_cast<double>(l.p)) - std::log(p_prev)) * frac;
            return static_cast<float>(std::exp(lnp));
        }
        if (p_prev == missing && diff <= 0.0) return l.p;   // saturated at the first level
        p_prev = l.p;
        diff_prev = diff;
    }
    return missing;
}

float cap_strength(const UPA_level* lev, int num, int coord, float bottom, float thick)
{
    int c = coord;
    float b = bottom;
    resolve_surface(lev, num, &c, &b);
    float top = UPA_thick_top(c, b, known(thick) && thick > 0.0f ? thick : 50.0f);
    UPA_level base, layer_top;
    float obar, wbar;
    if (!layer_ends(lev, num, c, b, top, &base, &layer_top) || !known(layer_top.p)) return missing;
    if (layer_parcel_mean(lev, num, c, b, top, &obar, &wbar) != 1) return missing;
    float t = temp_on_dryad(obar, base.p);
    float td = temp_on_mixrat(wbar, base.p);
    if (t <= 0.0f || td <= 0.0f) return missing;
    float parcel_thetaw = wet_bulb_pot_temp(t, std::min(t, td), base.p);
    if (parcel_thetaw <= 0.0f) return missing;
    // The saturated wet-bulb potential temperature grows with the saturated-adiabat label of
    // the level: find the largest label, then bring that one adiabat to 1000 mb.
    float label_max = missing;
    for (int i = 0; i < num; ++i) {
        const UPA_level& l = lev[i];
        if (!known(l.t) || !known(l.p) || l.p > layer_top.p || l.p < 500.0f) continue;
        float label = thetae_on_satad(static_cast<float>(l.t + kelvin), l.p);
        if (label > 0.0f) label_max = known(label_max) ? std::max(label_max, label) : label;
    }
    if (!known(label_max)) return missing;
    float lid_max = temp_on_satad(label_max, 1000.0f);
    return lid_max > 0.0f ? lid_max - parcel_thetaw : missing;
}

int thetae_index(const UPA_level* lev, int num, int coord, float bottom, float top, THETAE_params* params)
{
    if (!params) return 0;
    *params = {missing, missing, missing, missing, missing, missing, missing};
    std::vector<UPA_level> slice;
    if (!layer_slice(lev, num, coord, bottom, top, &slice)) return 0;
    std::vector<float> thetae(slice.size());
    for (std::size_t i = 0; i < slice.size(); ++i) thetae[i] = fast_thetae(slice[i]);
    params->base = thetae.front();
    params->top = thetae.back();
    int imax = -1;
    for (std::size_t i = 0; i < slice.size(); ++i)
        if (known(thetae[i]) && (imax < 0 || thetae[i] > thetae[imax])) imax = static_cast<int>(i);
    if (imax < 0) return 0;
    params->max = thetae[imax];
    params->maxp = slice[imax].p;
    int imin = -1;
    for (std::size_t i = imax; i < slice.size(); ++i)
        if (known(thetae[i]) && (imin < 0 || thetae[i] < thetae[imin])) imin = static_cast<int>(i);
    params->min = thetae[imin];
    params->minp = slice[imin].p;
    params->index = params->max - params->min;
    return 1;
}

int helicity(const UPA_level* lev, int num, int coord, float bottom, float top, float stm_dir, float stm_spd,
             HELICITY_params* params)
{
    if (!params) return 0;
    *params = {missing, missing, missing, missing, missing, missing, missing, missing};
    if (!known(stm_dir) || !known(stm_spd)) {
        float h0 = first_height(lev, num);
        float mean_dir, mean_spd;
        if (!known(h0) || layer_wind_mean(lev, num, 103, h0, h0 + 6000.0f, &mean_dir, &mean_spd) != 1) return 0;
        stm_dir = std::fmod(mean_dir + 30.0f, 360.0f);
        stm_spd = 0.75f * mean_spd;
    }
    std::vector<UPA_level> slice;
    if (!layer_slice(lev, num, coord, bottom, top, &slice)) return 0;
    std::vector<UPA_level> winds = wind_levels(slice);
    if (winds.size() < 2) return 0;
    UPA_level storm{missing, missing, missing, missing, stm_dir, stm_spd};
    double cx, cy;
    wind_components(storm, &cx, &cy);
    double pos = 0.0, neg = 0.0, magnitude_sum = 0.0, shear_sum = 0.0, sr_speed_sum = 0.0;
    for (std::size_t i = 0; i + 1 < winds.size(); ++i) {
        double u1, v1, u2, v2;
        wind_components(winds[i], &u1, &v1);
        wind_components(winds[i + 1], &u2, &v2);
        double term = (u2 - cx) * (v1 - cy) - (u1 - cx) * (v2 - cy);
        (term > 0.0 ? pos : neg) += term;
        double du = u2 - u1, dv = v2 - v1;
        double sr_speed = std::hypot((u1 + u2) / 2.0 - cx, (v1 + v2) / 2.0 - cy);
        magnitude_sum += sr_speed * std::hypot(du, dv);
        shear_sum += std::hypot(du, dv);
        if (known(winds[i].h) && known(winds[i + 1].h)) sr_speed_sum += sr_speed * (winds[i + 1].h - winds[i].h);
    }
    double u_bottom, v_bottom, u_top, v_top;
    wind_components(winds.front(), &u_bottom, &v_bottom);
    wind_components(winds.back(), &u_top, &v_top);
    params->dir_shr = direction_of(u_top - u_bottom, v_top - v_bottom);
    params->pos_hel = static_cast<float>(pos);
    params->neg_hel = static_cast<float>(neg);
    params->tot_hel = static_cast<float>(pos + neg);
    params->rel_hel = magnitude_sum > 0.0 ? static_cast<float>((pos + neg) / magnitude_sum) : missing;
    if (known(winds.front().h) && known(winds.back().h) && winds.back().h > winds.front().h) {
        double depth = static_cast<double>(winds.back().h) - winds.front().h;
        params->ave_hel = static_cast<float>(1000.0 * (pos + neg) / depth);
        params->hor_vort = static_cast<float>(1000.0 * shear_sum / depth);
        double mean_sr_speed = sr_speed_sum / depth;
        if (mean_sr_speed > 0.0) params->stm_vort = static_cast<float>(1000.0 * (pos + neg) / (depth * mean_sr_speed));
    }
    return 1;
}

int shear_layer(const UPA_level* lev, int num, int coord, float bottom, float top, SHEAR_params* params)
{
    if (!params) return 0;
    *params = {missing, missing};
    std::vector<UPA_level> slice;
    if (!layer_slice(lev, num, coord, bottom, top, &slice)) return 0;
    std::vector<UPA_level> winds = wind_levels(slice);
    if (winds.size() < 2 || !known(winds.front().h) || !known(winds.back().h)) return 0;
    double depth = static_cast<double>(winds.back().h) - winds.front().h;
    if (depth <= 0.0) return 0;
    double veer = 0.0, back = 0.0;
    for (std::size_t i = 0; i + 1 < winds.size(); ++i) {
        double u1, v1, u2, v2;
        wind_components(winds[i], &u1, &v1);
        wind_components(winds[i + 1], &u2, &v2);
        // Negative: turning clockwise with height. A wind that keeps its direction turns
        // neither way; the cross product of such a pair is rounding noise (the components
        // come from sin and cos of degrees), so turns below a micro-radian count as none.
        double turn = u1 * v2 - v1 * u2;
        double shear = std::hypot(u2 - u1, v2 - v1);
        if (std::fabs(turn) <= 1e-6 * std::hypot(u1, v1) * std::hypot(u2, v2)) continue;
        (turn < 0.0 ? veer : back) += shear;
    }
    params->pos_shr = static_cast<float>(1000.0 * veer / depth);
    params->neg_shr = static_cast<float>(1000.0 * back / depth);
    return 1;
}

float bulk_richardson(const UPA_level* lev, int num, float cape, float* shear)
{
    if (shear) *shear = missing;
    float h0 = first_height(lev, num);
    float d6, s6, d05, s05;
    if (!known(h0) || layer_wind_mean(lev, num, 103, h0, h0 + 6000.0f, &d6, &s6) != 1 ||
        layer_wind_mean(lev, num, 103, h0, h0 + 500.0f, &d05, &s05) != 1)
        return missing;
    UPA_level deep{missing, missing, missing, missing, d6, s6};
    UPA_level low{missing, missing, missing, missing, d05, s05};
    double u6, v6, u05, v05;
    wind_components(deep, &u6, &v6);
    wind_components(low, &u05, &v05);
    double half_square = 0.5 * ((u6 - u05) * (u6 - u05) + (v6 - v05) * (v6 - v05));
    if (shear) *shear = static_cast<float>(half_square);
    if (!known(cape) || cape < 0.0f || half_square <= 0.0) return missing;
    return static_cast<float>(cape / half_square);
}

float energy_helicity(float cape, float helicity_value)
{
    if (!known(cape) || !known(helicity_value)) return missing;
    return static_cast<float>(static_cast<double>(cape) * helicity_value / 160000.0);
}

float wet_bulb_zero(const UPA_level* lev, int num)
{
    if (!lev || num <= 0 || !known(lev[0].p) || lev[0].p < 500.0f) return missing;
    // The wet bulb lies on the saturated adiabat through the level's LCL, so its sign is the
    // sign of that adiabat's label minus the label of 0 C at the level: the iterated wet bulb
    // is needed only at the two levels around the crossing.
    auto sign_of = [](const UPA_level& l) -> double {
        if (!known(l.t) || !known(l.td) || !known(l.p) || l.p <= 0.0f) return NAN;
        float t = static_cast<float>(l.t + kelvin);
        float td = static_cast<float>(std::min(l.td, l.t) + kelvin);
        float pl = lcl_pres(t, td, l.p);
        if (!known(pl)) return NAN;
        float label = thetae_on_satad(lcl_temp(t, l.p, pl), pl);
        float zero = thetae_on_satad(static_cast<float>(kelvin), l.p);
        return label > 0.0f && zero > 0.0f ? static_cast<double>(label) - zero : NAN;
    };
    int prev = -1;
    double sign_prev = 0.0;
    for (int i = 0; i < num; ++i) {
        if (prev >= 0 && known(lev[i].p) && lev[i].p >= lev[prev].p) continue;
        double sign = sign_of(lev[i]);
        if (std::isnan(sign)) continue;
        if (prev < 0) {
            if (lev[i].p > 500.0f && sign < 0.0) return -1.0f;
        } else if ((sign_prev >= 0.0) != (sign >= 0.0)) {
            float w1 = variable_calc(9, &lev[prev]);
            float w2 = variable_calc(9, &lev[i]);
            if (!known(w1) || !known(w2) || w1 == w2) return lev[i].p;
            double p1 = lev[prev].p;
            return static_cast<float>(p1 + (static_cast<double>(lev[i].p) - p1) * (0.0 - w1) / (w2 - w1));
        }
        prev = i;
        sign_prev = sign;
    }
    return missing;
}

float max_temperature(const UPA_level* lev, int num)
{
    UPA_level sfc, mix;
    if (THERM_get_sfc(lev, num, &sfc) < 0 || !known(sfc.p)) return missing;
    float p_mix = sfc.p > 875.0f ? 850.0f : sfc.p - 100.0f;
    if (p_mix <= 0.0f || !level_at_pressure(lev, num, p_mix, &mix) || !known(mix.t)) return missing;
    float t = temp_on_dryad(pot_temp(static_cast<float>(mix.t + kelvin), mix.p), sfc.p);
    return t > 0.0f ? static_cast<float>(t - kelvin) : missing;
}

float thickness(const UPA_level* lev, int num, float bottom, float top)
{
    UPA_level b, t;
    if (!level_at_pressure(lev, num, bottom, &b) || !level_at_pressure(lev, num, top, &t)) return missing;
    if (!known(b.h) || !known(t.h)) return missing;
    return t.h - b.h;
}

float lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top)
{
    UPA_level b, t;
    if (!layer_ends(lev, num, coord, bottom, top, &b, &t)) return missing;
    if (!known(b.t) || !known(t.t) || !known(b.h) || !known(t.h) || t.h == b.h) return missing;
    return static_cast<float>(-1000.0 * (static_cast<double>(t.t) - b.t) / (static_cast<double>(t.h) - b.h));
}

float theta_lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top)
{
    UPA_level b, t;
    if (!layer_ends(lev, num, coord, bottom, top, &b, &t)) return missing;
    float tb = theta_of(b), tt = theta_of(t);
    if (!known(tb) || !known(tt) || !known(b.h) || !known(t.h) || t.h == b.h) return missing;
    return static_cast<float>(1000.0 * (static_cast<double>(tt) - tb) / (static_cast<double>(t.h) - b.h));
}

float theta_pres_lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top)
{
    UPA_level b, t;
    if (!layer_ends(lev, num, coord, bottom, top, &b, &t)) return missing;
    float tb = theta_of(b), tt = theta_of(t);
    if (!known(tb) || !known(tt) || b.p == t.p) return missing;
    return static_cast<float>(100.0 * (static_cast<double>(tt) - tb) / (static_cast<double>(b.p) - t.p));
}

float static_stability(const UPA_level* lev, int num, int coord, float bottom, float top)
{
    UPA_level b, t;
    if (!layer_ends(lev, num, coord, bottom, top, &b, &t)) return missing;
    float tb = theta_of(b), tt = theta_of(t);
    if (!known(tb) || !known(tt) || b.p == t.p) return missing;
    double t_mean = (static_cast<double>(b.t) + t.t) / 2.0 + kelvin;
    double theta_mean = (static_cast<double>(tb) + tt) / 2.0;
    return static_cast<float>(-(t_mean / theta_mean) * (static_cast<double>(tt) - tb) / (static_cast<double>(t.p) - b.p));
}
