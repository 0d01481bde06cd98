// Private helpers shared by the source files of the grid-set and grid-math module.
#pragma once

#include <cstdlib>
#include <vector>

#include "grd_tool.hpp"

namespace grd {

constexpr float kMissing = -9999.0f;
constexpr long kMaxPoints = 100L * 1000 * 1000;   // largest grid we agree to allocate

// Clears a record like a freshly read empty grid (numbers -9999, texts empty, no values).
void clear_report(GRD_report* grid);
bool has_values(const GRD_report* grid);
// Same nx and ny, both with values.
bool same_shape(const GRD_report* a, const GRD_report* b);
// Same projection and placement, within rounding: 1e-3 degrees for positions and projection
// parameters, a relative 1e-4 for spacings. A mismatch is reported naming both domains, with
// who (the caller) leading the message.
bool same_domain(const GRD_report* a, const GRD_report* b, const char* who);
// Least and most operands of grid function func; false for an unknown function.
bool math_operands(const char* func, int* least, int* most);
// Variable number of a short name, or -9999 when unknown.
int var_num(const char* name);

// Coriolis parameter (10^-5 / s) of every point; -9999 where the position is unknown.
// false without a usable domain.
bool coriolis_field(const GRD_report* grid, std::vector<float>& f);

// Writes n grids into one new file of type. 0; -1.
int save_grids(const char* filename, GRD_report* const* grids, int n, GRD_info* info, int type);

// True when grid n lies beyond a file whose grid count is known (netCDF), so that walking
// a file stops without a warning from the reader.
bool past_end(int grd_fd, int n);
// GRD_test where a request without variables takes any variable, unknown ones included.
int test_any(const GRD_report* grid, const VAR_data* req, int kind);

// The request GRD_set_request stored.
void get_request(VAR_data* req, int* grid_num);

// Latitude of grid row `row` on a latitude/longitude domain.
inline double latlon_row_lat(const Domain& d, int row)
{
    return d.clat - d.dy * (d.ny - 1) / 2.0 + static_cast<double>(d.dy) * (d.ny - 1 - row);
}

}  // namespace grd
