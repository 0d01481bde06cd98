// Thermodynamic profile of one sounding: merge, height filling and the index set.
#include "ua_calc.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "calc_internal.hpp"
#include "string.hpp"
#include "thm_tool.hpp"
#include "ua_merge_internal.hpp"

namespace {

constexpr float missing = -9999.0f;
constexpr double kelvin = 273.15;

bool known(float v) { return v != missing && std::isfinite(v); }

struct IndexEntry {
    THERM_index index;
    const char* name;
    const char* info;
    const char* format;
};

// One line per index: adding an index is one enum entry, one line here and one assignment.
constexpr IndexEntry index_table[] = {
    {TI_total_totals, "tt", "Total totals", "%.1f"},
    {TI_vertical_totals, "vt", "Vertical totals", "%.1f"},
    {TI_cross_totals, "ct", "Cross totals", "%.1f"},
    {TI_k_index, "ki", "K index", "%.1f"},
    {TI_sweat, "sweat", "Severe weather threat index", "%.0f"},
    {TI_energy_index, "ei", "Energy index", "%.2f"},
    {TI_precip_water, "pw", "Precipitable water (in)", "%.2f"},
    {TI_freezing_level, "frz", "Freezing level (mb)", "%.0f"},
    {TI_wet_bulb_zero, "wbz", "Wet-bulb zero (mb)", "%.0f"},
    {TI_lifted_index, "li", "Surface lifted index (C)", "%.1f"},
    {TI_lifted_index_ml, "li100", "Lowest 100 mb mean lifted index (C)", "%.1f"},
    {TI_cape, "cape", "Surface parcel positive energy (J/kg)", "%.0f"},
    {TI_cin, "cin", "Surface-based inhibition CIN (J/kg; raw: magnitude)", "%.0f"},
    {TI_lcl, "lcl", "Lifting condensation level (mb)", "%.0f"},
    {TI_lfc, "lfc", "Level of free convection (mb)", "%.0f"},
    {TI_el, "el", "Equilibrium level (mb)", "%.0f"},
    {TI_mpl, "mpl", "Maximum parcel level (mb)", "%.0f"},
    {TI_wmax, "wmax", "Maximum updraft (m/s)", "%.1f"},
    {TI_cap, "cap", "Cap (C)", "%.1f"},
    {TI_ml_cape, "mlcape", "Mixed-layer positive energy (J/kg)", "%.0f"},
    {TI_ml_cin, "mlcin", "Mixed-layer inhibition CIN (J/kg; raw: magnitude)", "%.0f"},
    {TI_ml_lfc, "mllfc", "Mixed-layer level of free convection (mb)", "%.0f"},
    {TI_mu_cape, "mucape", "Most unstable positive energy (J/kg)", "%.0f"},
    {TI_mu_pres, "mup", "Most unstable parcel pressure (mb)", "%.0f"},
    {TI_ccl, "ccl", "Convective condensation level (mb)", "%.0f"},
    {TI_wbar, "wbar", "Lowest 100 mb mean mixing ratio (g/kg)", "%.1f"},
    {TI_conv_temp, "tconv", "Convective temperature (C)", "%.1f"},
    {TI_lid_strength, "lid", "Lid strength (K)", "%.1f"},
    {TI_thetae_index, "tei", "Theta-e index (K)", "%.1f"},
    {TI_storm_dir, "stmdir", "Storm motion direction (deg)", "%.0f"},
    {TI_storm_spd, "stmspd", "Storm motion speed (kt)", "%.0f"},
    {TI_helicity_3km, "srh3", "0-3 km storm-relative helicity (m2/s2)", "%.0f"},
    {TI_helicity_1km, "srh1", "0-1 km storm-relative helicity (m2/s2)", "%.0f"},
    {TI_shear_pos, "pshr", "0-6 km veering shear (1/s x 1000)", "%.1f"},
    {TI_shear_neg, "nshr", "0-6 km backing shear (1/s x 1000)", "%.1f"},
    {TI_brn, "brn", "Bulk Richardson number", "%.0f"},
    {TI_brn_shear, "brnshr", "Bulk Richardson shear (m2/s2)", "%.0f"},
    {TI_ehi, "ehi", "Energy-helicity index", "%.2f"},
    {TI_max_temp, "tmax", "Maximum temperature (C)", "%.1f"},
    {TI_thickness, "thick", "1000-500 mb thickness (m)", "%.0f"},
    {TI_lapse_700_500, "lr75", "700-500 mb lapse rate (C/km)", "%.1f"},
    {TI_lapse_0_3km, "lr03", "0-3 km lapse rate (C/km)", "%.1f"},
    {TI_static_stability, "stab", "850-500 mb static stability (K/mb)", "%.3f"},
    {TI_shear_6km, "shr6", "0-6 km bulk shear (kt)", "%.0f"},
    {TI_rm_dir, "rmdir", "Right-moving supercell direction (deg)", "%.0f"},
    {TI_rm_spd, "rmspd", "Right-moving supercell speed (kt)", "%.0f"},
    {TI_eff_bottom, "effbot", "Effective inflow layer bottom (mb)", "%.0f"},
    {TI_eff_top, "efftop", "Effective inflow layer top (mb)", "%.0f"},
    {TI_eff_srh, "esrh", "Effective storm-relative helicity (m2/s2)", "%.0f"},
    {TI_eff_shear, "ebwd", "Effective bulk shear (kt)", "%.0f"},
    {TI_dcape, "dcape", "Downdraft energy (J/kg)", "%.0f"},
    {TI_stp, "stp", "Significant tornado parameter (effective layer)", "%.1f"},
    {TI_scp, "scp", "Supercell composite parameter", "%.1f"},
};
static_assert(sizeof(index_table) / sizeof(index_table[0]) == THERM_NUM_INDEX, "one table line per index");

const IndexEntry* entry(int index)
{
    if (index < 0 || index >= THERM_NUM_INDEX) return nullptr;
    return &index_table[index];
}

void reset(THERM_values* tv)
{
    std::fill(tv->index, tv->index + THERM_NUM_INDEX, missing);
}

// The surface-based 0..depth (m) layer in the height coordinate.
float above_ground(const THERM_values& tv, float depth) { return known(tv.sfc.h) ? tv.sfc.h + depth : missing; }

// Highest theta-e level of the lowest 300 mb.
int most_unstable(const THERM_values& tv)
{
    int best = -1;
    float best_thetae = missing;
    for (int i = 0; i < tv.num_sm; ++i) {
        const UPA_level& l = tv.sm[i];
        if (!known(l.p) || l.p < tv.sfc.p - 300.0f) break;
        float te = calc_detail::fast_thetae(l);
        if (known(te) && (best < 0 || te > best_thetae)) {
            best = i;
            best_thetae = te;
        }
    }
    return best;
}

// What an ascent can tell. Without a level of free convection there is no positive area
// and no inhibition to overcome (the inhibition would be the whole column); but only a
// sounding that reaches THERM_COMPLETE_TOP shows that there is none. A parcel still buoyant
// at the top of the sounding has an unknown positive area.
struct AscentResult {
    float cape = missing, cin = missing, lfc = missing, el = missing, mpl = missing, wmax = missing;
};

AscentResult ascent_result(const THERM_values& tv, const PARCEL_params& pp)
{
    AscentResult r;
    bool reaches_top = !THERM_incomplete(&tv);
    if (pp.lfc < 0.0f) {
        if (!reaches_top) return r;
        r.cape = 0.0f;
        r.wmax = 0.0f;
        return r;
    }
    r.lfc = pp.lfc;
    r.cin = pp.Bminus;
    if (!known(pp.el)) return r;
    r.cape = pp.Bplus;
    r.el = pp.el;
    r.mpl = pp.mpl;
    r.wmax = pp.wmax;
    return r;
}

void parcel_indices(THERM_values& tv)
{
    float* ix = tv.index;
    const UPA_level* sm = tv.sm;
    int n = tv.num_sm;
    UPA_level parcel = tv.sfc;
    if (parcel_calc(sm, n, &parcel, 1, missing, 0.0f, &tv.sfc_parcel) == 1) {
        AscentResult r = ascent_result(tv, tv.sfc_parcel);
        ix[TI_cape] = r.cape;
        ix[TI_cin] = r.cin;
        ix[TI_lcl] = tv.sfc_parcel.plcl;
        ix[TI_lfc] = r.lfc;
        ix[TI_el] = r.el;
        ix[TI_mpl] = r.mpl;
        ix[TI_wmax] = r.wmax;
        ix[TI_cap] = tv.sfc_parcel.cap;
    }
    UPA_level mixed{missing, missing, missing, missing, missing, missing};
    if (parcel_calc(sm, n, &mixed, 100, tv.sfc.p, 100.0f, &tv.ml_parcel) == 1) {
        AscentResult r = ascent_result(tv, tv.ml_parcel);
        ix[TI_ml_cape] = r.cape;
        ix[TI_ml_cin] = r.cin;
        ix[TI_ml_lfc] = r.lfc;
    }
    int mu = most_unstable(tv);
    if (mu >= 0) {
        tv.mu_level = sm[mu];
        UPA_level level = sm[mu];
        // Most often the surface parcel itself: its ascent is already done.
        if (mu == tv.sfc_ind && known(tv.sfc_parcel.Bplus)) {
            tv.mu_parcel = tv.sfc_parcel;
            ix[TI_mu_cape] = ascent_result(tv, tv.mu_parcel).cape;
            ix[TI_mu_pres] = level.p;
        } else if (parcel_calc(sm, n, &level, 100, level.p, 0.0f, &tv.mu_parcel) == 1) {
            ix[TI_mu_cape] = ascent_result(tv, tv.mu_parcel).cape;
            ix[TI_mu_pres] = level.p;
        }
    }
}

void wind_indices(THERM_values& tv)
{
    float* ix = tv.index;
    const UPA_level* sw = tv.sw;
    int n = tv.num_sw;
    float h0 = tv.sfc.h;
    float stm_dir = missing, stm_spd = missing;
    float mean_dir, mean_spd;
    if (known(h0) && layer_wind_mean(sw, n, 103, h0, h0 + 6000.0f, &mean_dir, &mean_spd) == 1) {
        stm_dir = mean_dir + 30.0f >= 360.0f ? mean_dir + 30.0f - 360.0f : mean_dir + 30.0f;
        stm_spd = 0.75f * mean_spd;
        ix[TI_storm_dir] = stm_dir;
        ix[TI_storm_spd] = stm_spd;
    }
    if (known(stm_dir) && helicity(sw, n, 103, h0, above_ground(tv, 3000.0f), stm_dir, stm_spd, &tv.hel) == 1)
        ix[TI_helicity_3km] = tv.hel.tot_hel;
    HELICITY_params one_km;
    if (known(stm_dir) && helicity(sw, n, 103, h0, above_ground(tv, 1000.0f), stm_dir, stm_spd, &one_km) == 1)
        ix[TI_helicity_1km] = one_km.tot_hel;
    if (shear_layer(sw, n, 103, h0, above_ground(tv, 6000.0f), &tv.shear) == 1) {
        ix[TI_shear_pos] = tv.shear.pos_shr;
        ix[TI_shear_neg] = tv.shear.neg_shr;
    }
    float brn_shear;
    ix[TI_brn] = bulk_richardson(sw, n, ix[TI_cape], &brn_shear);
    ix[TI_brn_shear] = brn_shear;
    ix[TI_ehi] = energy_helicity(ix[TI_cape], ix[TI_helicity_3km]);
}

// The report's 1000 mb level when the surface lies above it, with a height that agrees with
// the surface's (carried down hydrostatically with the surface temperature); all missing
// otherwise.
UPA_level reported_1000_below_ground(const UPA_report& r, const THERM_values& tv)
{
    UPA_level none{missing, missing, missing, missing, missing, missing};
    const UPA_man& m = r.man[1];
    const UPA_level& sfc = tv.sfc;
    if (r.numman < 2 || m.p != 1000.0f || !known(m.h) || !known(sfc.p) || sfc.p >= 1000.0f || !known(sfc.h) ||
        !known(sfc.t))
        return none;
    double dz = 287.05 * (sfc.t + kelvin) / 9.8 * std::log(1000.0 / sfc.p);
    if (std::fabs(sfc.h - dz - m.h) > 50.0 + 0.1 * dz) return none;
    return {m.p, m.h, m.t, m.td, m.dir, m.spd};
}

// The 1000-500 mb thickness; where 1000 mb lies below ground, from the report's 1000 mb height.
float thickness_1000_500(const THERM_values& tv)
{
    float th = thickness(tv.sm, tv.num_sm, 1000.0f, 500.0f);
    if (known(th) || !known(tv.below_1000.h)) return th;
    UPA_level l500;
    if (UPA_interp(tv.sm, tv.num_sm, 100, 500.0f, &l500) != 1 || !known(l500.h)) return missing;
    return l500.h - tv.below_1000.h;
}

// The effective-layer set: supercell motion, inflow layer with its helicity and shear, and
// the composites (ingredients and formulas in calc_severe.cpp).
void severe_indices(THERM_values& tv)
{
    float* ix = tv.index;
    const float h0 = tv.sfc.h;
    if (!known(h0)) return;
    ix[TI_shear_6km] = bulk_shear(tv.sw, tv.num_sw, h0, h0 + 6000.0f);
    float rm_dir, rm_spd;
    if (storm_motion(tv.sw, tv.num_sw, h0, &rm_dir, &rm_spd, nullptr, nullptr) == 1) {
        ix[TI_rm_dir] = rm_dir;
        ix[TI_rm_spd] = rm_spd;
    }
    ix[TI_dcape] = downdraft_cape(tv.sm, tv.num_sm);
    float bottom, top;
    float esrh = 0.0f, ebwd = 0.0f;  // no inflow layer: no effective helicity or shear
    if (effective_layer(tv.sm, tv.num_sm, &bottom, &top) == 1) {
        ix[TI_eff_bottom] = bottom;
        ix[TI_eff_top] = top;
        float hb = height_of_pressure(tv.sm, tv.num_sm, bottom), ht = height_of_pressure(tv.sm, tv.num_sm, top);
        HELICITY_params hel;
        if (known(hb) && known(ht) && ht == hb)
            esrh = 0.0f;  // a one-level layer has no depth
        else if (known(hb) && known(ht) && known(rm_dir) &&
                 helicity(tv.sw, tv.num_sw, 103, hb, ht, rm_dir, rm_spd, &hel) == 1)
            esrh = hel.tot_hel;
        else
            esrh = missing;
        float el_h = height_of_pressure(tv.sm, tv.num_sm, tv.mu_parcel.el);
        ebwd = known(hb) && known(el_h) && el_h > hb ? bulk_shear(tv.sw, tv.num_sw, hb, hb + 0.5f * (el_h - hb))
                                                     : missing;
    }
    ix[TI_eff_srh] = esrh;
    ix[TI_eff_shear] = ebwd;
    float ebwd_ms = known(ebwd) ? static_cast<float>(ebwd * calc_detail::knots_to_ms) : missing;
    float lcl_h = height_of_pressure(tv.sm, tv.num_sm, tv.ml_parcel.plcl);
    float lcl_agl = known(lcl_h) ? lcl_h - h0 : missing;
    float mlcin = known(ix[TI_ml_cin]) ? -ix[TI_ml_cin] : missing;
    ix[TI_stp] = sig_tornado(ix[TI_ml_cape], lcl_agl, esrh, ebwd_ms, mlcin);
    ix[TI_scp] = supercell_composite(ix[TI_mu_cape], esrh, ebwd_ms);
}

}  // namespace

bool THERM_incomplete(const THERM_values* tv)
{
    return !tv || !known(tv->top_p) || tv->top_p > THERM_COMPLETE_TOP;
}

int THERM_get_sfc(const UPA_level* levels, int num, UPA_level* sfc)
{
    if (sfc) *sfc = {missing, missing, missing, missing, missing, missing};
    if (!levels) return -1;
    int first_with_p = -1;
    for (int i = 0; i < num; ++i) {
        if (!known(levels[i].p) || levels[i].p <= 0.0f) continue;
        if (first_with_p < 0) first_with_p = i;
        if (known(levels[i].t)) {
            if (sfc) *sfc = levels[i];
            return i;
        }
    }
    if (first_with_p >= 0 && sfc) *sfc = levels[first_with_p];
    return first_with_p;
}

int THERM_calc(const UPA_report* report, THERM_values* tv)
{
    if (!tv) return -1;
    reset(tv);
    tv->num_sm = tv->num_wm = tv->num_sw = 0;
    tv->sfc_ind = THERM_get_sfc(nullptr, 0, &tv->sfc);
    tv->below_1000 = tv->sfc;
    tv->top_p = missing;
    tv->mu_level = tv->sfc;
    if (!report) return -1;
    str_copy(tv->id, sizeof tv->id, report->id);
    tv->wmo = report->wmo;
    tv->lat = report->lat;
    tv->lon = report->lon;
    tv->elev = report->elev;
    tv->num_sm = UPA_sm_merge(report, tv->sm, tv->sm_index);
    UPA_calc_height(tv->sm, tv->num_sm);
    tv->num_wm = UPA_wm_merge(report, tv->wm, tv->wm_index);
    tv->num_sw = UPA_sw_combine(tv->sm, tv->num_sm, tv->sm_index, tv->wm, tv->num_wm, tv->sw, nullptr);
    UPA_calc_height(tv->sw, tv->num_sw);
    tv->sfc_ind = THERM_get_sfc(tv->sm, tv->num_sm, &tv->sfc);
    tv->below_1000 = reported_1000_below_ground(*report, *tv);
    tv->top_p = missing;
    for (int i = 0; i < tv->num_sm; ++i)
        if (known(tv->sm[i].t) && known(tv->sm[i].p)) tv->top_p = tv->sm[i].p;
    return tv->num_sm > 0 ? tv->num_sm : -1;
}

int THERM_indices(THERM_values* tv)
{
    if (!tv) return 0;
    reset(tv);
    const UPA_level* sm = tv->sm;
    int n = tv->num_sm;
    float* ix = tv->index;
    if (n <= 0 || tv->sfc_ind < 0) return 0;
    ix[TI_total_totals] = total_totals(sm, n);
    ix[TI_vertical_totals] = vertical_totals(sm, n);
    ix[TI_cross_totals] = cross_totals(sm, n);
    ix[TI_k_index] = k_index(sm, n);
    ix[TI_sweat] = sweat_index(sm, n);
    ix[TI_energy_index] = energy_index(sm, n);
    // The water above the top of a short sounding is unknown.
    if (!THERM_incomplete(tv)) ix[TI_precip_water] = precip_water(sm, n);
    // -1 (freezing at the surface) is not a pressure: shown as missing.
    ix[TI_freezing_level] = freezing_level(sm, n);
    ix[TI_wet_bulb_zero] = wet_bulb_zero(sm, n);
    for (THERM_index i : {TI_freezing_level, TI_wet_bulb_zero})
        if (ix[i] < 0.0f) ix[i] = missing;
    ix[TI_lifted_index] = lifted_index(sm, n, 1, missing, 0.0f, 500.0f);
    ix[TI_lifted_index_ml] = lifted_index(sm, n, 100, tv->sfc.p, 100.0f, 500.0f);
    parcel_indices(*tv);
    float wbar;
    ix[TI_ccl] = pr_ccl(sm, n, 100, tv->sfc.p, tv->sfc.p - 100.0f, &wbar);
    ix[TI_wbar] = wbar;
    if (known(ix[TI_ccl])) {
        float tc = conv_temp(wbar, ix[TI_ccl], tv->sfc.p);
        ix[TI_conv_temp] = tc > 0.0f ? static_cast<float>(tc - kelvin) : missing;
    }
    ix[TI_lid_strength] = cap_strength(sm, n, 1, missing, 50.0f);
    if (thetae_index(sm, n, 100, tv->sfc.p, 400.0f, &tv->thetae) == 1) ix[TI_thetae_index] = tv->thetae.index;
    wind_indices(*tv);
    ix[TI_max_temp] = max_temperature(sm, n);
    ix[TI_thickness] = thickness_1000_500(*tv);
    ix[TI_lapse_700_500] = lapse_rate(sm, n, 100, 700.0f, 500.0f);
    ix[TI_lapse_0_3km] = lapse_rate(sm, n, 103, tv->sfc.h, above_ground(*tv, 3000.0f));
    ix[TI_static_stability] = static_stability(sm, n, 100, 850.0f, 500.0f);
    severe_indices(*tv);
    int count = 0;
    for (float v : tv->index)
        if (known(v)) ++count;
    return count;
}

const char* THERM_index_name(int index)
{
    const IndexEntry* e = entry(index);
    return e ? e->name : nullptr;
}

const char* THERM_index_info(int index)
{
    const IndexEntry* e = entry(index);
    return e ? e->info : nullptr;
}

const char* THERM_index_format(int index)
{
    const IndexEntry* e = entry(index);
    return e ? e->format : nullptr;
}

int THERM_index_find(const char* name)
{
    if (!name) return -1;
    for (const IndexEntry& e : index_table)
        if (std::strcmp(e.name, name) == 0) return e.index;
    return -1;
}
