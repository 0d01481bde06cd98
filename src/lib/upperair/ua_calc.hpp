// Thermodynamic profile of one sounding: the report's merged temperature, wind and combined
// arrays with heights filled, and every stability index computed from them. Index values are
// kept in one table (name, description, display format) so that writers need no list of their
// own. Units as in calc.hpp; -9999 marks a value that could not be computed.
#pragma once

#include "calc.hpp"
#include "ua_merge.hpp"

// Index numbers of THERM_values::index.
enum THERM_index {
    TI_total_totals, TI_vertical_totals, TI_cross_totals, TI_k_index, TI_sweat, TI_energy_index,
    TI_precip_water, TI_freezing_level, TI_wet_bulb_zero, TI_lifted_index, TI_lifted_index_ml,
    TI_cape, TI_cin, TI_lcl, TI_lfc, TI_el, TI_mpl, TI_wmax, TI_cap,
    TI_ml_cape, TI_ml_cin, TI_ml_lfc, TI_mu_cape, TI_mu_pres,
    TI_ccl, TI_wbar, TI_conv_temp, TI_lid_strength, TI_thetae_index,
    TI_storm_dir, TI_storm_spd, TI_helicity_3km, TI_helicity_1km, TI_shear_pos, TI_shear_neg,
    TI_brn, TI_brn_shear, TI_ehi, TI_max_temp, TI_thickness, TI_lapse_700_500, TI_lapse_0_3km,
    TI_static_stability,
    TI_shear_6km, TI_rm_dir, TI_rm_spd, TI_eff_bottom, TI_eff_top, TI_eff_srh, TI_eff_shear, TI_dcape,
    TI_stp, TI_scp,
    THERM_NUM_INDEX
};

// About 26 KB: keep it on the heap (std::make_unique), not on a small stack.
struct THERM_values {
    char id[11];
    int wmo;
    float lat, lon, elev;
    UPA_level sm[UPA_MERGE_MAX];  // temperature sounding by decreasing pressure, heights filled
    int num_sm;
    int sm_index[UPA_MAN_INDEX];
    UPA_level wm[UPA_MERGE_MAX];  // wind sounding by increasing height
    int num_wm;
    int wm_index[UPA_MAN_INDEX];
    UPA_level sw[UPA_MERGE_MAX];  // temperatures and winds by decreasing pressure, heights filled
    int num_sw;
    UPA_level sfc;                // surface level and its position in sm (-1 without one)
    int sfc_ind;
    PARCEL_params sfc_parcel;     // surface parcel
    PARCEL_params ml_parcel;      // mean parcel of the lowest 100 mb
    PARCEL_params mu_parcel;      // highest theta-e parcel of the lowest 300 mb
    UPA_level mu_level;
    HELICITY_params hel;          // 0-3 km above ground
    SHEAR_params shear;           // 0-6 km above ground
    THETAE_params thetae;         // surface to 400 mb
    float index[THERM_NUM_INDEX];
    UPA_level below_1000;         // the report's 1000 mb level when it lies below the surface
                                  // (its height still gives the 1000-500 mb thickness)
    float top_p;                  // pressure of the highest level with a temperature, or -9999
};

// A sounding whose highest temperature lies below this pressure (mb) is incomplete: the
// parcel and moisture indices that need the levels above are missing.
inline constexpr float THERM_COMPLETE_TOP = 300.0f;

// Surface level of a merged temperature sounding: the first level with a pressure and a
// temperature (else the first with a pressure) copied into sfc (may be null). Its position,
// or -1 (sfc all missing) when there is none.
int THERM_get_sfc(const UPA_level* levels, int num, UPA_level* sfc);
// Merges report into tv and fills heights; every index is reset to -9999. The number of
// temperature levels, or -1 for a null argument or a report without usable levels.
int THERM_calc(const UPA_report* report, THERM_values* tv);
// Computes every index of tv from its merged arrays. The number of indices that have a value.
int THERM_indices(THERM_values* tv);
// The index table: short name (a field name), description, display format ("%.1f"); null
// outside 0..THERM_NUM_INDEX-1.
const char* THERM_index_name(int index);
const char* THERM_index_info(int index);
const char* THERM_index_format(int index);
// True when tv's sounding ends below THERM_COMPLETE_TOP (or has no temperature at all).
bool THERM_incomplete(const THERM_values* tv);
// Index number of a short name, or -1.
int THERM_index_find(const char* name);
