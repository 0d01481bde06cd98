// Sounding merge and interpolation: one UPA_report's mandatory, significant and wind lists
// become ordered UPA_level arrays (temperature by decreasing pressure, wind by increasing
// height); missing heights, pressures and temperatures are filled hydrostatically; a sounding
// is interpolated to requested levels in pressure, height or potential temperature.
// Units as in UPA_level (mb, m, C, deg, kt); -9999 marks a missing value.
#pragma once

#include "ua_read.hpp"

// Capacity (levels) every merge output buffer must have: enough for any report, all of its
// levels together with the mandatory ones counted in both the temperature and wind soundings.
inline constexpr int UPA_MERGE_MAX = 2 * UPA_MAN_LEVELS + UPA_SIG_LEVELS + UPA_WND_LEVELS + 4;
// Entries of a man_index array: report man indices 0 (surface) to 23 (maximum wind).
inline constexpr int UPA_MAN_INDEX = 24;

// Temperature sounding by decreasing pressure into merge (UPA_MERGE_MAX levels); man_index
// (UPA_MAN_INDEX ints, may be null) gets each man level's position or -9999. Levels below
// the surface, out of pressure order or superadiabatic by more than 3 K are left out.
// Returns the number of levels written (0 for a null or empty report).
int UPA_sm_merge(const UPA_report* report, UPA_level* merge, int* man_index);
// Wind sounding by increasing height (wind-level heights converted from ft to m); arguments
// and result as UPA_sm_merge. Levels out of height order are left out.
int UPA_wm_merge(const UPA_report* report, UPA_level* merge, int* man_index);
// Temperature and wind levels in one array by decreasing pressure: the wind-only levels get
// their pressure from the temperature sounding's heights; winds whose pressure cannot be
// derived are left out. man_index as for UPA_sm_merge. Returns the number of levels.
int UPA_sw_merge(const UPA_report* report, UPA_level* merge, int* man_index);

// Merges two arrays ordered by decreasing pressure into out (in1_num + in2_num levels at
// most); at equal pressure each value comes from in1 unless missing there. Returns the count.
int UPA_merge_array(const UPA_level* in1, int in1_num, const UPA_level* in2, int in2_num, UPA_level* out);
// As UPA_merge_array for wind arrays ordered by increasing height; in2 levels without a
// direction and in1 levels without a direction are dropped. Returns the count.
int UPA_wnd_merge_array(const UPA_level* in1, int in1_num, const UPA_level* in2, int in2_num, UPA_level* out);

// Pressure of lev[*ind], or 1000 when *ind is -9999 (or ind is null).
float UPA_sfc_pres(const UPA_level* lev, const int* ind);
// Top of the layer of thickness thick above bottom in coordinate coord (pressure codes:
// bottom - thick; height and theta codes: bottom + thick). A missing thick takes the coordinate's
// default (10 mb, 50 m, 5 K); a missing bottom or unknown coordinate gives -9999.
float UPA_thick_top(int coord, float bottom, float thick);
// Bottom of the layer below top (pressure: top + thick, others top - thick); defaults 20 mb,
// 200 m, 2 K.
float UPA_thick_bottom(int coord, float top, float thick);
// The level's value in coordinate coord: -ln p, h (m) or theta (K); -9999 when it cannot be
// computed or coord is not a vertical coordinate code.
float UPA_get_level(int coord, const UPA_level* level);

// Interpolates the sounding levels[num_level] (ordered upward) at num_result requested values
// of coord (pressure codes: mb; height codes: m; theta codes: K) into result[num_result].
// Coordinate 1 gives the surface level (THERM_get_sfc) in result[0] and returns 1. Values
// outside the sounding give levels with every value missing. Wind direction turns the short
// way round. Returns the number of result levels, 0 for bad arguments.
int UPA_interp_levels(const UPA_level* levels, int num_level, int coord, const float* values, UPA_level* result,
                      int num_result);
// One-value form: 1 when value lies inside the sounding (result filled), else 0 (result
// holds missing values).
int UPA_interp(const UPA_level* levels, int num_level, int coord, float value, UPA_level* result);

// Fills missing temperatures linearly in pressure between known ones. Returns 0.
int UPA_calc_temp(UPA_level* levels, int num);
// Fills missing heights hydrostatically (R = 287.05, g = 9.8), runs corrected to meet the next
// known height. 0, or -1 when no level has a height.
int UPA_calc_height(UPA_level* level, int num);
// Fills missing pressures of levels with a height hydrostatically. Returns 0.
int UPA_calc_press(UPA_level* level, int num);
