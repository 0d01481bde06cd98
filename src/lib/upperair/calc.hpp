// Stability indices and layer quantities of a merged sounding: an array of UPA_level ordered
// upward (decreasing pressure, or increasing height for wind soundings), temperatures C.
// Every function returns -9999 (or fills -9999) when the sounding does not cover what it
// needs; none prints anything but debug traces. Layers are given by a vertical coordinate
// code (pressure 1/100/101/102/115/116 in mb, height 103-106 in m, theta 113/114 in K;
// code 1 starts at the surface) with a bottom and a top value.
#pragma once

#include "ua_read.hpp"

struct PARCEL_params {
    float Satad;   // K, label of the parcel's saturated adiabat
    float plcl;    // mb
    float tlcl;    // K
    float cap;     // K, largest environment-minus-parcel difference below 500 mb (>= 0)
    float lfc;     // mb; -1 when the parcel never becomes buoyant
    float el;      // mb
    float mpl;     // mb, maximum parcel level
    float Bel;     // J/kg, positive minus negative energy at the EL
    float Bmpl;    // J/kg
    float Bplus;   // J/kg, positive buoyant energy (>= 0)
    float Bminus;  // J/kg, negative buoyant energy as a positive number (>= 0)
    float wmax;    // m/s, sqrt(2 Bplus)
};

struct HELICITY_params {
    float dir_shr;   // deg, direction of the bulk shear vector over the layer
    float pos_hel;   // m2/s2, storm-relative helicity of the layers turning clockwise
    float neg_hel;   // m2/s2, of the layers turning counter-clockwise (<= 0)
    float tot_hel;   // m2/s2
    float ave_hel;   // m/s2 x 1000, helicity per metre of depth
    float rel_hel;   // relative helicity, -1..1
    float hor_vort;  // 1/s x 1000, mean horizontal vorticity (bulk shear / depth)
    float stm_vort;  // 1/s x 1000, mean streamwise vorticity
};

struct SHEAR_params {
    float pos_shr;   // 1/s x 1000, shear of the veering layers per depth
    float neg_shr;   // 1/s x 1000, shear of the backing layers per depth
};

struct THETAE_params {
    float index;     // K, theta-e at the layer's maximum minus the minimum above it
    float base;      // K, theta-e at the layer bottom
    float top;       // K, theta-e at the layer top
    float max;       // K
    float maxp;      // mb
    float min;       // K
    float minp;      // mb
};

// ---- Fixed-level indices (T, Td interpolated at 850, 700, 500 mb) ----------------------
float total_totals(const UPA_level* lev, int num);     // T850 + Td850 - 2 T500
float vertical_totals(const UPA_level* lev, int num);  // T850 - T500
float cross_totals(const UPA_level* lev, int num);     // Td850 - T500
float k_index(const UPA_level* lev, int num);          // T850 + Td850 - T500 - (T700 - Td700)
float sweat_index(const UPA_level* lev, int num);      // severe-weather threat index
float energy_index(const UPA_level* lev, int num);     // static energy 500 minus 850 mb
float precip_water(const UPA_level* lev, int num);     // inches
float freezing_level(const UPA_level* lev, int num);   // mb of the 0 C level; -1 freezing at the surface

// Environment minus parcel temperature (C) at top for the parcel at bottom (layer mean of
// thickness thick when thick > 0).
float lifted_index(const UPA_level* lev, int num, int coord, float bottom, float thick, float top);
// Lifts the parcel blev (used when it has a pressure; else the level at bottom, or the layer
// mean of thickness thick) and fills params; the chosen parcel is copied into blev (may be
// null). 1, or 0 with Bplus, Bminus, wmax, cap and lfc -9999 for an empty sounding or no parcel.
int parcel_calc(const UPA_level* lev, int num, UPA_level* blev, int coord, float bottom, float thick,
                PARCEL_params* params);
// Buoyant energy (J/kg) of the layer from parcel levels par1..par2 in environment env1..env2:
// (env2.h - env1.h) 9.8 (Tp - Te) / (Te + 273.15) with layer-mean temperatures.
float energy_calc(const UPA_level* par1, const UPA_level* par2, const UPA_level* env1, const UPA_level* env2);
// Derived variable of one level: 1 t (C), 2 td (C), 3 rh (%), 4 theta (K), 5 t - td, 6 mixing
// ratio (g/kg), 7 specific humidity (g/kg), 8 vapour pressure (mb), 9 wet bulb (C), 10 theta-w
// (K), 11 theta-e (K), 12 theta-v (K), 13 theta (K), 14 virtual temperature (C), 15 h (m),
// 16 p (mb); -9999 otherwise.
float variable_calc(int type, const UPA_level* lev);
// Pressure-weighted mean over the layer of the variable named val ("pres", "hght", "hag",
// "temp", "dewp", "dewd", "mrat", "shum", "rhum", "vpres", "vtemp", "theta", "thetae",
// "thetav", "thetaw", "wetblb"), in variable_calc's units.
float mean_value(const UPA_level* lev, int num, const char* val, int coord, float bottom, float top);

// ---- Layer calculations ----------------------------------------------------------------
// Pressure-weighted mean potential temperature (K) and mixing ratio (g/kg) of the layer.
// 1, or 0 with both -9999.
int layer_parcel_mean(const UPA_level* lev, int num, int coord, float bottom, float top, float* obar, float* wbar);
// Pressure-weighted (height-weighted for a wind sounding without pressures) mean wind of the
// layer by components: direction (deg) and speed (kt). 1, or 0 with both -9999.
int layer_wind_mean(const UPA_level* lev, int num, int coord, float bottom, float top, float* dir, float* spd);
// Convective condensation level (mb): where the mixing-ratio line of the layer's mean mixing
// ratio (*wbar, g/kg, may be null) first meets the environment temperature.
float pr_ccl(const UPA_level* lev, int num, int coord, float bottom, float top, float* wbar);
// Lid strength (K): largest saturated wet-bulb potential temperature of the environment
// between the parcel layer's top and 500 mb minus the wet-bulb potential temperature of the
// mean parcel of the layer bottom..bottom+thick.
float cap_strength(const UPA_level* lev, int num, int coord, float bottom, float thick);
// Theta-e profile of the layer (LCL temperature in closed form, Bolton 1980): 1 and a filled
// params, or 0 with -9999 values.
int thetae_index(const UPA_level* lev, int num, int coord, float bottom, float top, THETAE_params* params);
// Storm-relative helicity of the layer for storm motion stm_dir (deg), stm_spd (kt); a missing
// motion is 75 % of the 0-6 km mean wind, turned 30 deg to the right. 1, or 0 with -9999s.
int helicity(const UPA_level* lev, int num, int coord, float bottom, float top, float stm_dir, float stm_spd,
             HELICITY_params* params);
// Veering and backing shear of the layer (layers whose wind keeps its direction count in
// neither). 1, or 0 with -9999s.
int shear_layer(const UPA_level* lev, int num, int coord, float bottom, float top, SHEAR_params* params);
// Bulk Richardson number cape / (0.5 U^2), U the difference of the 0-6 km and 0-500 m mean
// winds (m/s) above the first level; *shear (may be null) gets 0.5 U^2 (m2/s2).
float bulk_richardson(const UPA_level* lev, int num, float cape, float* shear);
// Energy-helicity index cape x helicity / 160000.
float energy_helicity(float cape, float helicity);
// Pressure (mb) of the lowest wet-bulb 0 C crossing; -1 when the surface wet bulb is below 0 C.
float wet_bulb_zero(const UPA_level* lev, int num);
// Expected afternoon maximum temperature (C): the air of 850 mb (100 mb above the surface at
// stations above 875 mb) brought down dry-adiabatically to the surface pressure.
float max_temperature(const UPA_level* lev, int num);
// Thickness (m) between the pressures bottom and top (mb).
float thickness(const UPA_level* lev, int num, float bottom, float top);
// Temperature lapse rate (C/km, positive when cooling upward).
float lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top);
// Potential-temperature lapse rate (K/km).
float theta_lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top);
// Potential-temperature change per 100 mb of ascent (K/100 mb).
float theta_pres_lapse_rate(const UPA_level* lev, int num, int coord, float bottom, float top);
// Static stability -(T/theta) dtheta/dp (K/mb) of the layer, positive when stable.
float static_stability(const UPA_level* lev, int num, int coord, float bottom, float top);

// ---- Severe-weather parameters (calc_severe.cpp) ---------------------------------------
// Arguments: sm the temperature sounding and sw the combined sounding, both by decreasing
// pressure with heights filled (THERM_values::sm, ::sw). Winds in kt, heights in m above sea.

// Bulk wind difference between the heights bottom and top: speed (kt) of the vector
// difference of the interpolated winds; -9999 when the winds do not cover the layer.
float bulk_shear(const UPA_level* sw, int num, float bottom, float top);
// Supercell motion of the right and left movers (deg from which, kt). 1, or 0 with -9999s.
int storm_motion(const UPA_level* sw, int num, float sfc_h, float* rm_dir, float* rm_spd, float* lm_dir,
                 float* lm_spd);
// Effective inflow layer: bottom and top pressures (mb) of the lowest run of levels whose
// parcels have at least 100 J/kg of positive energy and at most 250 J/kg of inhibition.
// 1, or 0 with both -9999 when no level qualifies.
int effective_layer(const UPA_level* sm, int num, float* bottom, float* top);
// Downdraft energy (J/kg, >= 0 where the descending parcel is colder than its surroundings).
float downdraft_cape(const UPA_level* sm, int num);
// Effective-layer significant tornado parameter from mixed-layer CAPE (J/kg), mixed-layer LCL
// height above ground (m), effective helicity (m2/s2), effective bulk shear (m/s) and
// mixed-layer inhibition (J/kg, negative). 0 without an effective layer (helicity 0).
float sig_tornado(float mlcape, float mllcl_agl, float esrh, float ebwd, float mlcin);
// Supercell composite parameter from most-unstable CAPE (J/kg), effective helicity (m2/s2)
// and effective bulk shear (m/s).
float supercell_composite(float mucape, float esrh, float ebwd);
// Height (m) of pressure p (mb) by interpolation in ln p; -9999 outside the sounding.
float height_of_pressure(const UPA_level* sm, int num, float p);
