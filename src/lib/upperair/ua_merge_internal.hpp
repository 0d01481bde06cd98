// Merge steps shared with the thermodynamic profile module; not public.
#pragma once

#include "ua_merge.hpp"

// UPA_sw_merge from an already merged temperature sounding (temps, its man index) and wind
// sounding, so that a caller holding both does not merge the report twice.
int UPA_sw_combine(const UPA_level* temps, int n_sm, const int* sm_index, const UPA_level* winds, int n_wm,
                   UPA_level* merge, int* man_index);
