// Fixed-level stability indices, per-level variables and the parcel ascent.
//
// Sources of the definitions: total totals, vertical and cross totals (Miller 1972, AWS TR-200);
// K index (George 1960); SWEAT (Miller 1972); energy index (static energy difference, Darkow
// 1968); precipitable water as the pressure integral of specific humidity; lifted index
// (Galway 1956); buoyant energy by the parcel method with the layer energy g dz (Tp - Te) / Te.
#include "calc.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calc_internal.hpp"
#include "mess.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_merge.hpp"

using namespace calc_detail;

namespace calc_detail {

bool level_at_pressure(const UPA_level* lev, int num, float p, UPA_level* out)
{
    return UPA_interp(lev, num, 100, p, out) == 1;
}

float fast_thetae(const UPA_level& l)
{
    if (!known(l.t) || !known(l.td) || !known(l.p) || l.p <= 0.0f) return missing;
    double t = l.t + kelvin;
    double td = std::min(l.td, l.t) + kelvin;
    if (td <= 56.0 + 1.0) return missing;
    double tl = 1.0 / (1.0 / (td - 56.0) + std::log(t / td) / 800.0) + 56.0;
    double pl = l.p * std::pow(tl / t, 1.0 / 0.286);
    float label = thetae_on_satad(static_cast<float>(tl), static_cast<float>(pl));
    return label > 0.0f ? label : missing;
}

void resolve_surface(const UPA_level* lev, int num, int* coord, float* bottom)
{
    if (*coord != 1) return;
    UPA_level sfc;
    *coord = 100;
    *bottom = THERM_get_sfc(lev, num, &sfc) >= 0 ? sfc.p : missing;
}

}  // namespace calc_detail

namespace {

constexpr double gravity = 9.8;
constexpr double gas_constant = 287.05;
constexpr double kappa = 0.286;       // as the thermodynamic functions use
constexpr double moist_step = 10.0;   // mb per layer of the saturated ascent

struct FixedLevels {
    UPA_level l850, l700, l500;
    bool ok850, ok700, ok500;
};

FixedLevels fixed_levels(const UPA_level* lev, int num)
{
    FixedLevels f;
    f.ok850 = level_at_pressure(lev, num, 850.0f, &f.l850);
    f.ok700 = level_at_pressure(lev, num, 700.0f, &f.l700);
    f.ok500 = level_at_pressure(lev, num, 500.0f, &f.l500);
    return f;
}

bool all_known(std::initializer_list<float> values)
{
    for (float v : values)
        if (!known(v)) return false;
    return true;
}

float to_kelvin(float c) { return known(c) ? static_cast<float>(c + kelvin) : missing; }

float first_pressure(const UPA_level* lev, int num) { return lev && num > 0 ? lev[0].p : missing; }

bool starts_low(const UPA_level* lev, int num)
{
    float p = first_pressure(lev, num);
    return known(p) && p >= 500.0f;
}

// A parcel's state chosen for lifting (kelvin and mb).
struct Parcel {
    UPA_level level;  // p, t, td in the record's units
    bool ok = false;
};

Parcel layer_or_level_parcel(const UPA_level* lev, int num, int coord, float bottom, float thick)
{
    Parcel parcel;
    resolve_surface(lev, num, &coord, &bottom);
    if (!known(bottom)) return parcel;
    if (UPA_interp(lev, num, coord, bottom, &parcel.level) != 1) return parcel;
    if (known(thick) && thick > 0.0f) {
        float obar, wbar;
        float top = UPA_thick_top(coord, bottom, thick);
        if (layer_parcel_mean(lev, num, coord, bottom, top, &obar, &wbar) == 1) {
            float p = parcel.level.p;
            parcel.level.t = static_cast<float>(temp_on_dryad(obar, p) - kelvin);
            float td = temp_on_mixrat(wbar, p);
            parcel.level.td = td > 0.0f ? static_cast<float>(td - kelvin) : missing;
        }
    }
    parcel.ok = known(parcel.level.p) && known(parcel.level.t) && known(parcel.level.td);
    return parcel;
}

// Environment sample of the ascent: pressure, ln p, temperature (K) and height (m), every
// level usable and the pressures strictly decreasing.
struct EnvPoint {
    double p, lnp, t, h;
};

// Builds the environment once per ascent. Heights are the hydrostatic heights of ln p and
// the virtual temperature, counted from the first level (layer energies need only their
// differences): a damaged reported height cannot then turn a layer's energy over.
void build_environment(const UPA_level* lev, int num, std::vector<EnvPoint>* env)
{
    env->clear();
    static std::vector<double> tv;   // kept between calls, as the environment is
    tv.clear();
    for (int i = 0; i < num; ++i) {
        const UPA_level& l = lev[i];
        if (!known(l.p) || l.p <= 0.0f || !known(l.t) || !std::isfinite(l.p) || !std::isfinite(l.t)) continue;
        if (!env->empty() && l.p >= env->back().p) continue;
        env->push_back({l.p, std::log(static_cast<double>(l.p)), l.t + kelvin, 0.0});
        float virt = known(l.td) ? virt_temp(static_cast<float>(l.t + kelvin), static_cast<float>(std::min(l.td, l.t) + kelvin), l.p)
                                 : missing;
        tv.push_back(virt > 0.0f && std::isfinite(virt) ? virt : l.t + kelvin);
    }
    std::vector<EnvPoint>& e = *env;
    for (std::size_t i = 1; i < e.size(); ++i)
        e[i].h = e[i - 1].h + gas_constant * (tv[i] + tv[i - 1]) / 2.0 / gravity * (e[i - 1].lnp - e[i].lnp);
}

// Saturated-adiabat equation of the thermodynamic functions, f(T) = 0 on the adiabat:
// label x exp(-2.6518986 w / T) - T (1000 / p)^kappa, with w the saturation mixing ratio.
double satad_residual(double label, double t, double p, double dry_factor)
{
    double e = vapor_pr(static_cast<float>(t));
    double w = p - e > 0.0 ? 622.0 * e / (p - e) : HUGE_VAL;
    double latent = std::isinf(w) ? 0.0 : std::exp(-2.6518986 * w / t);
    return label * latent - t * dry_factor;
}

// Temperature on the saturated adiabat at p by secant steps from the previous ascent level,
// whose slope is carried along: two or three residuals per 10 mb instead of a bisection.
double satad_temperature(double label, double p, double guess, double* slope)
{
    double dry_factor = std::pow(1000.0 / p, kappa);
    double t0 = guess;
    double f0 = satad_residual(label, t0, p, dry_factor);
    double s = *slope;
    for (int iter = 0; iter < 8; ++iter) {
        if (!std::isfinite(f0) || s == 0.0 || !std::isfinite(s)) break;
        double t1 = t0 - f0 / s;
        if (!(t1 > 100.0 && t1 < 400.0)) break;
        double f1 = satad_residual(label, t1, p, dry_factor);
        if (t1 != t0) s = (f1 - f0) / (t1 - t0);
        // The step just taken bounds the remaining error well below it (the residual is
        // nearly linear over a few tenths of a kelvin): 0.01 K is finer than the
        // bisection of the thermodynamic functions.
        if (std::fabs(t1 - t0) < 1e-2) {
            *slope = s;
            return t1;
        }
        t0 = t1;
        f0 = f1;
    }
    double t = temp_on_satad(static_cast<float>(label), static_cast<float>(p));
    *slope = -dry_factor;
    return t;
}

// Energy bookkeeping of the ascent.
struct Ascent {
    PARCEL_params* out;
    int state = 0;            // 0 below the LFC, 1 above it, 2 above the EL
    double negative_sum = 0;  // negative energy met above the LFC
    bool previous_positive = false;

    static double layer_energy(double dz, double tp_mean, double te_mean)
    {
        return dz * gravity * (tp_mean - te_mean) / te_mean;
    }
    void dry_layer(double energy)
    {
        if (!std::isfinite(energy)) return;
        if (energy > 0.0) out->Bplus += static_cast<float>(energy);
        else out->Bminus -= static_cast<float>(energy);
    }
    void moist_layer(double energy, double p_mean)
    {
        if (!std::isfinite(energy)) return;
        if (state == 0 && energy >= 0.0) {
            out->lfc = static_cast<float>(p_mean);
            state = 1;
        }
        if (energy < 0.0 && state == 0) out->Bminus -= static_cast<float>(energy);
        if (energy > 0.0) out->Bplus += static_cast<float>(energy);
        if (energy < 0.0 && state >= 1) {
            negative_sum -= energy;
            if (previous_positive && state == 1) {
                out->el = static_cast<float>(p_mean);
                out->Bel = static_cast<float>(out->Bplus - negative_sum);
                state = 2;
            }
        }
        if (state == 2 && !known(out->mpl) && out->Bplus <= negative_sum) {
            out->mpl = static_cast<float>(p_mean);
            out->Bmpl = static_cast<float>(out->Bplus - negative_sum);
        }
        previous_positive = energy > 0.0;
    }
    void cap(double p, double te, double tp)
    {
        if (p > 500.0) out->cap = std::max(out->cap, static_cast<float>(te - tp));
    }
};

void init_parcel(PARCEL_params* p)
{
    *p = {missing, missing, missing, 0.0f, -1.0f, missing, missing, missing, missing, 0.0f, 0.0f, 0.0f};
}

int fail_parcel(PARCEL_params* p)
{
    p->Bplus = p->Bminus = p->wmax = p->cap = p->lfc = missing;
    return 0;
}

// Environment temperature and height at ln p, moving the bracket index k upward.
bool environment_at(const std::vector<EnvPoint>& env, double lnp, std::size_t* k, double* t, double* h)
{
    while (*k + 1 < env.size() && env[*k + 1].lnp >= lnp) ++*k;
    if (*k + 1 >= env.size()) {
        if (*k < env.size() && std::fabs(env[*k].lnp - lnp) < 1e-9) {
            *t = env[*k].t;
            *h = env[*k].h;
            return true;
        }
        return false;
    }
    const EnvPoint& a = env[*k];
    const EnvPoint& b = env[*k + 1];
    double frac = (lnp - a.lnp) / (b.lnp - a.lnp);
    *t = a.t + (b.t - a.t) * frac;
    *h = a.h + (b.h - a.h) * frac;
    return true;
}

// Specific humidity (g/kg) of a level, missing where the dew point's vapour pressure reaches
// the level's pressure: no air holds that (the mixing ratio has no finite value there), and
// the specific-humidity formula would give thousands of g/kg from a damaged level.
float level_spec_hum(const UPA_level& l)
{
    if (!known(l.td) || !known(l.p) || l.p <= 0.0f) return missing;
    float td = to_kelvin(l.td);
    if (!known(mix_ratio(td, l.p))) return missing;
    return spec_hum(td, l.p);
}

}  // namespace

float total_totals(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok500 || !all_known({f.l850.t, f.l850.td, f.l500.t})) return missing;
    return f.l850.t + f.l850.td - 2.0f * f.l500.t;
}

float vertical_totals(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok500 || !all_known({f.l850.t, f.l500.t})) return missing;
    return f.l850.t - f.l500.t;
}

float cross_totals(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok500 || !all_known({f.l850.td, f.l500.t})) return missing;
    return f.l850.td - f.l500.t;
}

float k_index(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok700 || !f.ok500) return missing;
    if (!all_known({f.l850.t, f.l850.td, f.l500.t, f.l700.t, f.l700.td})) return missing;
    return f.l850.t + f.l850.td - f.l500.t - (f.l700.t - f.l700.td);
}

float sweat_index(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok500 || !all_known({f.l500.t, f.l500.dir, f.l850.td})) return missing;
    double s = f.l850.td > 0.0f ? 12.0 * f.l850.td : 0.0;
    if (known(f.l850.t)) {
        double tt = f.l850.t + f.l850.td - 2.0 * f.l500.t;
        if (tt > 49.0) s += 20.0 * (tt - 49.0);
    }
    if (known(f.l850.spd)) s += 2.0 * f.l850.spd;
    if (known(f.l500.spd)) s += f.l500.spd;
    const UPA_level& a = f.l850;
    const UPA_level& b = f.l500;
    if (all_known({a.dir, a.spd, b.spd}) && a.dir >= 135.0f && a.dir <= 250.0f && b.dir >= 210.0f &&
        b.dir <= 310.0f && b.dir > a.dir && a.spd >= 15.0f && b.spd >= 15.0f)
        s += 125.0 * (0.2 + std::sin((b.dir - a.dir) * M_PI / 180.0));
    return static_cast<float>(s);
}

float energy_index(const UPA_level* lev, int num)
{
    FixedLevels f = fixed_levels(lev, num);
    if (!f.ok850 || !f.ok500) return missing;
    auto energy = [](const UPA_level& l) -> double {
        if (!all_known({l.t, l.td, l.h})) return missing;
        float w = mix_ratio(to_kelvin(l.td), l.p);
        if (!known(w)) return missing;
        return 0.24 * (l.t + kelvin) + l.h * 980.0 * 100.0 / 4.2e7 + 0.6 * w;
    };
    double e850 = energy(f.l850);
    double e500 = energy(f.l500);
    if (e850 == missing || e500 == missing) return missing;
    return static_cast<float>(e500 - e850);
}

float precip_water(const UPA_level* lev, int num)
{
    if (!starts_low(lev, num) || num <= 2 || !known(lev[0].td)) return missing;
    double sum = 0.0;
    float p_lower = lev[0].p;
    float q_lower = level_spec_hum(lev[0]);
    if (!known(q_lower)) return missing;
    for (int i = 1; i < num; ++i) {
        const UPA_level& l = lev[i];
        if (!known(l.td) || !known(l.p) || l.p <= 0.0f || l.p >= p_lower) continue;
        float q = level_spec_hum(l);
        if (!known(q)) continue;
        sum += (p_lower - l.p) * ((static_cast<double>(q_lower) + q) / 2000.0) / 2.4892;
        p_lower = l.p;
        q_lower = q;
    }
    return static_cast<float>(sum);
}

float freezing_level(const UPA_level* lev, int num)
{
    if (!starts_low(lev, num)) return missing;
    bool first = true;
    float p_prev = missing, t_prev = missing;
    for (int i = 0; i < num; ++i) {
        const UPA_level& l = lev[i];
        if (!known(l.t) || !known(l.p) || l.p <= 0.0f) continue;
        if (first) {
            first = false;
            if (l.p > 500.0f && l.t < 0.0f) return -1.0f;
        } else if (l.p < p_prev && ((t_prev >= 0.0f && l.t < 0.0f) || (t_prev < 0.0f && l.t >= 0.0f))) {
            return static_cast<float>(p_prev + (static_cast<double>(l.p) - p_prev) * (0.0 - t_prev) / (l.t - t_prev));
        }
        if (known(p_prev) && l.p >= p_prev) continue;
        p_prev = l.p;
        t_prev = l.t;
    }
    return missing;
}

float lifted_index(const UPA_level* lev, int num, int coord, float bottom, float thick, float top)
{
    if (!starts_low(lev, num)) return missing;
    int top_coord = coord == 1 ? 100 : coord;
    Parcel parcel = layer_or_level_parcel(lev, num, coord, bottom, thick);
    UPA_level env_top;
    if (!parcel.ok || UPA_interp(lev, num, top_coord, top, &env_top) != 1 || !known(env_top.t) || !known(env_top.p))
        return missing;
    float t = to_kelvin(parcel.level.t);
    float td = to_kelvin(std::min(parcel.level.td, parcel.level.t));
    float p = parcel.level.p;
    float plcl = lcl_pres(t, td, p);
    if (!known(plcl)) return missing;
    plcl = std::min(plcl, p);
    float tlcl = lcl_temp(t, p, plcl);
    float tp;
    if (env_top.p > plcl) tp = temp_on_dryad(pot_temp(t, p), env_top.p);
    else tp = temp_on_satad(thetae_on_satad(tlcl, plcl), env_top.p);
    if (tp <= 0.0f) return missing;
    return static_cast<float>(env_top.t - (tp - kelvin));
}

float energy_calc(const UPA_level* par1, const UPA_level* par2, const UPA_level* env1, const UPA_level* env2)
{
    if (!par1 || !par2 || !env1 || !env2) return missing;
    if (!all_known({par1->t, par2->t, env1->t, env2->t, env1->h, env2->h})) return missing;
    double tp = (static_cast<double>(par1->t) + par2->t) / 2.0;
    double te = (static_cast<double>(env1->t) + env2->t) / 2.0;
    if (te + kelvin <= 0.0) return missing;
    return static_cast<float>((static_cast<double>(env2->h) - env1->h) * gravity * (tp - te) / (te + kelvin));
}

int parcel_calc(const UPA_level* lev, int num, UPA_level* blev, int coord, float bottom, float thick,
                PARCEL_params* params)
{
    if (!params) return 0;
    init_parcel(params);
    if (!lev || num <= 0) return fail_parcel(params);

    Parcel parcel;
    if (blev && known(blev->p) && blev->p > 0.0f) {
        parcel.level = *blev;
        UPA_level env;
        if (level_at_pressure(lev, num, blev->p, &env)) {
            if (!known(parcel.level.t)) parcel.level.t = env.t;
            if (!known(parcel.level.td)) parcel.level.td = env.td;
        }
        parcel.ok = known(parcel.level.t) && known(parcel.level.td);
    } else {
        if (!known(bottom) && coord != 1) return fail_parcel(params);
        parcel = layer_or_level_parcel(lev, num, coord, bottom, thick);
    }
    if (!parcel.ok) return fail_parcel(params);
    if (blev) *blev = parcel.level;

    static std::vector<EnvPoint> env;   // kept between calls: no allocation per ascent
    build_environment(lev, num, &env);
    double p0 = parcel.level.p;
    double t0 = parcel.level.t + kelvin;
    double td0 = std::min(parcel.level.td, parcel.level.t) + kelvin;
    float plcl_f = lcl_pres(static_cast<float>(t0), static_cast<float>(td0), static_cast<float>(p0));
    if (env.size() < 2 || !known(plcl_f)) return fail_parcel(params);
    double plcl = std::min(static_cast<double>(plcl_f), p0);
    double tlcl = lcl_temp(static_cast<float>(t0), static_cast<float>(p0), static_cast<float>(plcl));
    if (tlcl <= 0.0) return fail_parcel(params);
    params->plcl = static_cast<float>(plcl);
    params->tlcl = static_cast<float>(tlcl);
    double theta = pot_temp(static_cast<float>(tlcl), static_cast<float>(plcl));

    Ascent ascent{params};
    std::size_t k = 0;
    double lnp = std::log(p0);
    double te_prev, h_prev;
    if (!environment_at(env, lnp, &k, &te_prev, &h_prev)) return fail_parcel(params);
    double tp_prev = t0;
    ascent.cap(p0, te_prev, tp_prev);

    // Dry ascent: through every sounding level below the LCL, then to the LCL.
    double lnp_lcl = std::log(plcl);
    for (std::size_t i = k + 1; i < env.size() && env[i].p > plcl; ++i) {
        if (env[i].p >= p0) continue;
        double tp = theta * std::exp(kappa * (env[i].lnp - std::log(1000.0)));
        ascent.dry_layer(Ascent::layer_energy(env[i].h - h_prev, (tp + tp_prev) / 2.0, (env[i].t + te_prev) / 2.0));
        ascent.cap(env[i].p, env[i].t, tp);
        tp_prev = tp;
        te_prev = env[i].t;
        h_prev = env[i].h;
    }
    k = 0;
    double te, h;
    if (plcl < p0 && environment_at(env, lnp_lcl, &k, &te, &h)) {
        ascent.dry_layer(Ascent::layer_energy(h - h_prev, (tlcl + tp_prev) / 2.0, (te + te_prev) / 2.0));
        ascent.cap(plcl, te, tlcl);
        tp_prev = tlcl;
        te_prev = te;
        h_prev = h;
    } else if (plcl < p0) {
        params->Satad = thetae_on_satad(static_cast<float>(tlcl), static_cast<float>(plcl));
        if (params->Bplus > 0.0f) params->wmax = std::sqrt(2.0f * params->Bplus);
        return 1;
    }

    // Saturated ascent in 10 mb layers up to the top of the sounding.
    double label = thetae_on_satad(static_cast<float>(tlcl), static_cast<float>(plcl));
    params->Satad = static_cast<float>(label);
    double p_top = env.back().p;
    double slope = -std::pow(1000.0 / plcl, kappa);
    double tp_before = tp_prev;
    // The cap is met at the sounding's own levels (an inversion top lies on one), not at
    // the 10 mb steps.
    std::size_t next_level = 0;
    while (next_level < env.size() && env[next_level].p >= plcl) ++next_level;
    double lnp_bottom = lnp_lcl;
    for (double p = plcl - moist_step; p > p_top && label > 0.0; p -= moist_step) {
        double p_layer_bottom = p + moist_step;
        double lnp_top = std::log(p);
        if (!environment_at(env, lnp_top, &k, &te, &h)) break;
        double guess = tp_prev + (tp_prev - tp_before);
        double tp = satad_temperature(label, p, guess, &slope);
        if (!std::isfinite(tp) || tp <= 0.0) break;
        // Sounding levels inside the layer: the adiabat is straight in ln p over 10 mb to
        // hundredths of a kelvin.
        for (; next_level < env.size() && env[next_level].p >= p; ++next_level) {
            const EnvPoint& lvl = env[next_level];
            if (lvl.p > 500.0) ascent.cap(lvl.p, lvl.t, tp_prev + (tp - tp_prev) * (lnp_bottom - lvl.lnp) / (lnp_bottom - lnp_top));
        }
        lnp_bottom = lnp_top;
        double energy = Ascent::layer_energy(h - h_prev, (tp + tp_prev) / 2.0, (te + te_prev) / 2.0);
        ascent.moist_layer(energy, (p + p_layer_bottom) / 2.0);
        ascent.cap(p, te, tp);
        tp_before = tp_prev;
        tp_prev = tp;
        te_prev = te;
        h_prev = h;
    }
    if (params->Bplus > 0.0f) params->wmax = std::sqrt(2.0f * params->Bplus);
    MESS_print(M_debug, "parcel: lcl %.0f lfc %.0f el %.0f B+ %.0f B- %.0f\n", params->plcl, params->lfc, params->el,
               params->Bplus, params->Bminus);
    return 1;
}

float variable_calc(int type, const UPA_level* lev)
{
    if (!lev) return missing;
    const float t = to_kelvin(lev->t);
    const float td = to_kelvin(lev->td);
    const float p = known(lev->p) && lev->p > 0.0f ? lev->p : missing;
    auto kelvin_result = [](float v) { return v > 0.0f ? v : missing; };
    auto celsius_result = [](float v) { return v > 0.0f ? static_cast<float>(v - kelvin) : missing; };
    switch (type) {
        case 1: return lev->t;
        case 2: return lev->td;
        case 3: return all_known({t, td}) ? rel_hum(t, td) : missing;
        case 4:
        case 13: return all_known({t, p}) ? kelvin_result(pot_temp(t, p)) : missing;
        case 5: return all_known({lev->t, lev->td}) ? lev->t - lev->td : missing;
        case 6: return all_known({td, p}) ? mix_ratio(td, p) : missing;
        case 7: return all_known({td, p}) ? spec_hum(td, p) : missing;
        case 8: return known(td) ? vapor_pr(td) : missing;
        case 9: return all_known({t, td, p}) ? celsius_result(wet_bulb(t, td, p)) : missing;
        case 10: return all_known({t, td, p}) ? kelvin_result(wet_bulb_pot_temp(t, td, p)) : missing;
        case 11: return all_known({t, td, p}) ? kelvin_result(eq_pot_temp(t, td, p)) : missing;
        case 12: return all_known({t, td, p}) ? kelvin_result(virt_pot_temp(t, td, p)) : missing;
        case 14: return all_known({t, td, p}) ? celsius_result(virt_temp(t, td, p)) : missing;
        case 15: return lev->h;
        case 16: return lev->p;
        default: return missing;
    }
}
