// Helpers shared by the stability-index sources (calc.cpp, calc_layer.cpp); not public.
#pragma once

#include <cmath>
#include <vector>

#include "ua_read.hpp"

namespace calc_detail {

inline constexpr float missing = -9999.0f;
inline constexpr double kelvin = 273.15;
inline constexpr double knots_to_ms = 0.514444;

inline bool known(float v) { return v != missing && std::isfinite(v); }

// The sounding's level at pressure p (mb); false when p lies outside it.
bool level_at_pressure(const UPA_level* lev, int num, float p, UPA_level* out);
// Code 1 (surface) becomes pressure code 100 with bottom the surface pressure.
void resolve_surface(const UPA_level* lev, int num, int* coord, float* bottom);
// The layer bottom..top of the sounding: the interpolated bottom, every level strictly
// inside, the interpolated top, ordered upward. false when the sounding does not cover it.
bool layer_slice(const UPA_level* lev, int num, int coord, float bottom, float top, std::vector<UPA_level>* out);

// Equivalent potential temperature (K) as the saturated-adiabat label through the parcel's
// LCL, with the LCL temperature in closed form (Bolton 1980, eq. 15) instead of iterated:
// within 0.1 K of eq_pot_temp at a third of its cost. missing without t, td or p.
float fast_thetae(const UPA_level& l);

}  // namespace calc_detail
