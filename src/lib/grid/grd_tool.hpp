// Grid sets and grid math: finds requested grids in grid files, interpolates, remaps between
// domains, assembles mosaics, computes statistics, thresholds, point-wise functions and
// finite-difference calculus on GRD_report grids, and drives it all from command words.
// Values: nx x ny floats, row 0 the northern edge, x fastest; -9999 is missing. Derivatives
// are per 100 km (map factors and the sphere's metric terms included), the Coriolis
// parameter in 10^-5 per second.
#pragma once

#include <cstddef>

#include "grd_read.hpp"
#include "mess.hpp"
#include "ua_read.hpp"
#include "var_tool.hpp"

inline constexpr int GRD_MAX_GRIDS = 60;       // grids in the module's table
inline constexpr int GRD_MATH_OPERANDS = 21;   // output + 20 operands in GRD_math arrays

// ---- grid records ------------------------------------------------------------------------

// Allocates grid->grid for domain.nx x domain.ny values, all -9999 (an old array is freed).
// 0; -1 for absurd sizes or no memory.
int GRD_alloc(GRD_report* grid);
// Copies the header of in into out (out's values are freed, out->grid null). 0.
int GRD_copy_info(GRD_report* out, const GRD_report* in);
// Copies header and values (out gets its own array). 0; -1 when memory runs short.
int GRD_copy(GRD_report* out, const GRD_report* in);
// Number of values (nx x ny) of a grid with a usable size, else 0.
long GRD_num_points(const GRD_report* grid);
// Converts every present value to units and sets the unit text (remaking the description).
// 0; -1 without values or units.
int GRD_units(GRD_report* grid, const char* units);
// Prints one line of grid information at level mess: date, forecast time, model,
// description, size and units.
void GRD_print_info(M_type mess, const GRD_report* grid);
// Writes "date, forecast time, model, description, size" into text (size bytes). 0.
int GRD_info_text(const GRD_report* grid, char* text, std::size_t size);

// ---- the 60-grid table -------------------------------------------------------------------

// Frees every grid of the table and clears the request. 0.
int GRD_init();
// Grid n (0..59) of the table, or null.
GRD_report* GRD_get_grid(int n);
// Frees grid n of the table. 0, -1 outside the table.
int GRD_free_grid(int n);

// ---- requests and files ------------------------------------------------------------------

// 1 when the grid matches the request (variables, level type, level, time; kind, when not
// -9999, against the grid's type), else 0.
int GRD_test(const GRD_report* grid, const VAR_data* params, int kind);
// Fills request slots from one pass over an open file (num < 0: all -num slots; otherwise the
// slots whose request names a variable). 1 when every slot is filled, else 0.
int GRD_search(int grd_fd, GRD_report* grids, VAR_data* params, int kind, int num);
// Parses "var=NAME|NUM,lev=N,ltype=N,time=N,num=N,units=TEXT" items (any order, comma
// separated) into req and *grid_num (-9999 when absent). 0; -1 for an unknown item.
int GRD_parse_params(const char* text, VAR_data* req, int* grid_num);
// The request GRD_read_file uses: req (null clears it) and a grid number (-9999 any).
void GRD_set_request(const VAR_data* req, int grid_num);
// Opens filename, reads its information into info (may be null) and the requested grid (grid
// number, else the first grid matching the request and kind; no variable wanted = any grid).
// The grid number + 1; -1 when the file cannot be read; 0 when no grid matches.
int GRD_read_file(const char* filename, GRD_report* grid, GRD_info* info, int kind);
// Writes one grid into a new file of type (GRD_TYPE_*): header and grid. 0; -1.
int GRD_save_file(const char* filename, GRD_report* grid, GRD_info* info, int type);
// Output file type of a file name: ".nc"/".cdf" netCDF, ".grb"/".grib"/".grb2" GRIB (written
// back unchanged only), ".bin" binary "QAZGRID", anything else "QAZGRID" text.
int GRD_out_file(const char* filename);
// Sounding at (lat, lon) from grids on isobaric levels (heights 7, temperatures 11, dew
// points 17 or relative humidity 52, winds 33/34): one level per pressure, highest pressure
// first, in the upper-air units (mb, m, C, kt). The number of levels (at most max_levels).
int GRD_get_sound(GRD_report* const* grids, int ngrids, float lat, float lon, UPA_level* levels,
                  int max_levels);

// ---- positions, remapping, mosaics, statistics --------------------------------------------

// Bilinear value at column gx, row gy (from 0); -9999 outside, without values, or when one
// of the four neighbours is missing.
float GRD_get_value(const GRD_report* grid, float gx, float gy);
// Grid position (gx, gy) of (lat, lon) on the grid's domain. 0; -1 outside the projection.
int GRD_get_position(const GRD_report* grid, float lat, float lon, float* gx, float* gy);
// ogrid = igrid resampled onto domain (bilinear; -9999 outside igrid). 0; -1.
int GRD_remap(GRD_report* ogrid, const Domain* domain, const GRD_report* igrid);
// Prepares an nx x ny mosaic of tiles shaped like igrid (null: grid is sized already),
// filled with -9999. 0; -1.
int GRD_piece_setup(GRD_report* grid, int nx, int ny, const GRD_report* igrid);
// Copies tile (x, y) into the mosaic. 0; -1 when it does not fit.
int GRD_piece_grid(GRD_report* grid, int x, int y, const GRD_report* igrid);
// Largest and smallest present value (-9999 both when none). 1 when any, else 0.
int GRD_maxmin(const GRD_report* grid, float* max, float* min);
// "max", "min", "maxmin", "avg", "avgnum" (any case) into p[0], p[1] (both -9999 first).
// 1; 0 for an unknown operator or a grid without values.
int GRD_stats(const char* oper, const GRD_report* grid, float* p);
// ogrid = copy of igrid with "lower": present values below cutoff, "higher": above it,
// replaced by nval. 0; -1 for an unknown command or no values.
int GRD_cutoff(GRD_report* ogrid, const char* cmd, const GRD_report* igrid, float cutoff, float nval);

// ---- grid math ---------------------------------------------------------------------------

// 20 "wind", 21 "vect", 23 "stream"/"strm", 10 any other known function, else 0.
int GRD_is_math_func(const char* str);
int GRD_is_plot_func(const char* str);   // 1 for "wind", "vect", "stream", "strm"
int GRD_is_vect_func(const char* str);   // 1 for "grad", "vdiff" (two output grids)
// Evaluates function str ("name" or "name-qualifier") into grids[0] (and grids[1] for the
// vector functions). grids and values hold GRD_MATH_OPERANDS entries: grids[i] an operand
// grid or null, values[i] the constant used when grids[i] is null (-9999 none).
// 1 success; 0 for invalid operands or an unknown function.
int GRD_math(const char* str, GRD_report** grids, float* values);
// Checks operands 1..n (2..n+1 for vector functions) and prepares the output(s): header of
// the first grid operand, value array, variable number of func and the units. 1, or 0.
int GRD_math_setup(int n, GRD_report** grids, float* values, const char* func, int kind,
                   const char* units);
// Operand k at point index ptr: its grid value or its constant.
float GRD_get_math_val(int k, long ptr, GRD_report* const* grids, const float* values);
// Number of operands: from 1 up to 20 until an index has neither grid nor constant.
int GRD_find_num_data(GRD_report* const* grids, const float* values);
// Remakes grid->info from its variable, level and units.
int GRD_make_datatype(GRD_report* grid);

// Calculus: ogrid takes the header of the input (when its nx is not positive) and a value
// array (when null). 0; -1 (message "<name>: No memory for grid field") when memory runs
// short or the grids do not match.
int GRD_dx(const GRD_report* grid, GRD_report* ogrid);
int GRD_dy(const GRD_report* grid, GRD_report* ogrid);
int GRD_laplacian(const GRD_report* grid, GRD_report* ogrid);
// -(du/dx + dv/dy), times z when zgrid is not null.
int GRD_converge(const GRD_report* ugrid, const GRD_report* vgrid, const GRD_report* zgrid,
                 GRD_report* ogrid);
int GRD_vorticity(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid);
int GRD_deformation1(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid);
// Shearing deformation dv/dx + du/dy.
int GRD_deformation2(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid);
// -(u dz/dx + v dz/dy).
int GRD_advection(const GRD_report* ugrid, const GRD_report* vgrid, const GRD_report* zgrid,
                  GRD_report* ogrid);
// Combines every present value v with f: "add" v+f, "sub" v-f, "sub-" f-v, "mul" f v,
// "div" v/f, "div-" f/v (f = 0 or v = 0 as divisor gives -9999). 0; -1 unknown operator.
int GRD_coriolis(GRD_report* grid, const char* oper);
// Grid-relative wind components to earth-relative ones, in place. 0; -1.
int GRD_correct_UV(GRD_report* ugrid, GRD_report* vgrid);

// ---- files and commands ------------------------------------------------------------------

// Reduction ("max", "min", "sum", "avg") over every grid of file items[0]; the result is
// written to items[n - 1] when n > 1 after "=", else its statistics printed. 1; 0.
int GRD_math_file(const char* oper, char** items, int n);
// Runs the command words cmd[0..num-1] (grid file, function, operands, "=" output file).
// 0 on success; a negative value with a message on failure.
int GRD_math_command(int num, char** cmd);
