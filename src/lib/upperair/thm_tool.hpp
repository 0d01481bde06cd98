// Thermodynamic and surface-comfort functions: pure, stateless, float in and out.
// Units: temperature K, pressure mb, vapour pressure mb, mixing ratio and specific humidity g/kg,
// relative humidity %, wind m/s, elevation m, angles degrees, distance km. -9999 is missing.
// Inputs that would need a division by zero or a logarithm of a non-positive number give -9999.
#pragma once

// Saturation vapour pressure (mb) over water at t (K). -9999 for t < 0; 0 for t < 100.
float vapor_pr(float t);
// Temperature (K) whose saturation vapour pressure is e (mb). 0 for e <= 0.
float temp_vapor_pr(float e);
// Saturation mixing ratio (g/kg) at temp (K), pr (mb); a temp of 100 or less is a vapour pressure
// (mb). -9999 when an argument is missing or the vapour pressure reaches pr; 0 for temp or pr <= 0.
float mix_ratio(float temp, float pr);
// Specific humidity (g/kg); arguments and results as mix_ratio.
float spec_hum(float temp, float pr);
// Temperature (K) on the saturation mixing-ratio line w (g/kg) at pr (mb). 0 for w or pr <= 0.
float temp_on_mixrat(float w, float pr);
// Relative humidity (%) of dew point td at temperature t (K); when both are 100 or less they are a
// pair of vapour pressures or mixing ratios. Not capped. -9999 for a non-positive argument.
float rel_hum(float t, float td);
// Dew point (K) of temp (K) at rh (%, clamped to 2..100), never above temp. -9999 for missing
// rh or temp <= 0.
float dew_temp(float temp, float rh);
// Potential temperature (K). -9999 for temp or pr <= 0.
float pot_temp(float temp, float pr);
// Temperature (K) on the dry adiabat pot (K) at pr (mb). 0 for pot or pr <= 0.
float temp_on_dryad(float pot, float pr);
// Virtual temperature (K); a dewp of 100 or less is a mixing ratio (g/kg), dewp 0 returns temp.
// -9999 for temp <= 0, dewp < 0 or pr < 0.
float virt_temp(float temp, float dewp, float pr);
// Virtual potential temperature (K); guards as virt_temp, and -9999 for pr <= 0.
float virt_pot_temp(float temp, float dewp, float pr);
// Label (K) of the saturated adiabat through temp (K), pr (mb). 0 for temp or pr <= 0.
float thetae_on_satad(float temp, float pr);
// Temperature (K) on the saturated adiabat labelled pot at pr (mb), by 12 bisection rounds at
// most (the last estimate when they do not converge). -9999 for pot <= 0, pr <= 0 or pr > 2000.
float temp_on_satad(float pot, float pr);
// Lifting condensation level pressure (mb) of a parcel ts, tds (K) at ps (mb).
// -9999 for ts or tds <= 100, ps <= 0, ps > 1100, or a dew point saturated beyond ps.
float lcl_pres(float ts, float tds, float ps);
// Temperature (K) at the LCL pressure pl of a parcel of ts (K) at ps (mb); 0 when invalid.
float lcl_temp(float ts, float ps, float pl);
// Convective temperature (K) at pr for mean mixing ratio wbar (g/kg) and convective condensation
// pressure pc (mb); 0 when invalid.
float conv_temp(float wbar, float pc, float pr);
// Equivalent potential temperature (K); dewp 0 gives pot_temp. -9999 for temp <= 0, dewp < 0,
// pr < 0 or a parcel without a condensation level.
float eq_pot_temp(float temp, float dewp, float pr);
// Wet-bulb temperature (K); guards as eq_pot_temp, 0 for dewp 0.
float wet_bulb(float temp, float dewp, float pr);
// Wet-bulb potential temperature (K): the wet bulb brought to 1000 mb; guards as wet_bulb.
float wet_bulb_pot_temp(float temp, float dewp, float pr);
// Temperature at pr, linear in ln p between (p1, t1) and (p2, t2); one missing temperature gives
// the other. -9999 for p1, p2 or pr <= 0, both temperatures missing, or p1 equal to p2.
float interp_temp(float t1, float t2, float p1, float p2, float pr);
// Heat index (K). -9999 for a negative argument, dewp > temp or temp below 100 K.
float heat_index(float temp, float dewp);
// Humiture (degrees Fahrenheit). -9999 for a negative argument.
float humiture(float temp, float dewp);
// Temperature-humidity index 0.55 temp + 0.2 dewp + 17.5 of the arguments as given.
float temp_hum_index(float temp, float dewp);
// Wind-chill equivalent temperature (K), older formula; temp when ws < 2 or temp > 306.15.
float wind_chill_temp(float temp, float ws);
// Wind-chill temperature (K), newer formula; never above temp.
float wind_chill_temp2(float temp, float ws);
// Wind-chill heat-loss rate (W/m2); 0 (no loss computed) when ws < 2 or temp > 306.15.
float wind_chill(float temp, float ws);
// Station pressure (mb) from altimeter setting alt (mb) and elevation el (m).
// -9999 for alt <= 0, missing el, or an elevation above the standard atmosphere's top.
float sfc_pr_alt(float alt, float el);
// Pressure altitude (m) in the standard atmosphere. -9999 for pres <= 0.
float pres_alt(float pres);
// Great-circle distance (km) between two points (degrees). -9999 for a missing or non-finite
// argument or a latitude beyond a pole.
float calc_earth_dist(float lat1, float lon1, float lat2, float lon2);
