// netCDF access layer: one current file and one current position (start and count per
// dimension), so that callers write and read records field by field ("temperature of station
// record 12") without carrying netCDF ids and index arrays around. The layer owns no layout:
// callers define dimensions, variables and attributes themselves.
//
// Contract shared by every function:
// - One current file per process (CDF_open / CDF_set_fd). With no current file (-1) or a
//   variable id of -1, puts return 0 without touching the library and gets return their
//   "no data" value, so that callers may skip variables a file lacks: look a variable up
//   with CDF_get_var (-1 when absent) and pass the result straight on.
// - Positions: CDF_set_pos / CDF_set_range set start/count for up to CDF_MAX_DIMS dimensions;
//   they persist until the next CDF_set_pos, CDF_set_range or CDF_set_shape (which shares the
//   start array to hold the dimension ids of the next definitions).
// - Library errors are passed through unchanged (netCDF's negative results); whether the
//   library prints them is set by CDF_print_errors. The layer never lets the library end the
//   process on an error.
// - Gets convert from the variable's stored type (byte, char, short, int, float, double) to
//   the type asked for, so a float read of a double or short variable is safe.
// - Array transfers move the product of the counts of the variable's dimensions; the caller's
//   array must hold that many elements.
// - Texts (CDF_put_str / CDF_get_str) run along the variable's last dimension after a
//   CDF_set_pos of the others; the variable needs exactly one dimension more than the position.
//
// Writing record r of a station file, then reading it back:
//   CDF_open("obs.nc", 1); rec = CDF_def_dim("recNum", 0); len = CDF_def_dim("name_len", 8);
//   CDF_set_shape(1, rec); t = CDF_def_float_var("temp");
//   CDF_set_shape(2, rec, len); id = CDF_def_char_var("id"); CDF_end_def();
//   CDF_set_pos(1, r); CDF_put_float(t, 21.5f); CDF_put_str(id, "DEN"); CDF_close();
//   CDF_open("obs.nc", 0); CDF_set_pos(1, r); CDF_get_float(CDF_get_var("temp"));
//   CDF_get_str(CDF_get_var("id"), 8, text /* 9 bytes */);
#pragma once

inline constexpr int CDF_MAX_DIMS = 10;

// netCDF external type codes used by CDF_def_var.
enum : int { CDF_BYTE = 1, CDF_CHAR = 2, CDF_SHORT = 3, CDF_LONG = 4, CDF_FLOAT = 5, CDF_DOUBLE = 6 };

// Makes val the current netCDF id (-1: no current file). Returns 0.
int CDF_set_fd(int val);
// 1: the library prints its errors (never exits); anything else: silent. Returns 0.
int CDF_print_errors(int val);
// access 0 opens read-only, 1 creates (replacing an existing file, define mode follows). The
// id becomes current and is returned; -1 on failure (no current file then).
int CDF_open(const char* filename, int access);
// Defines a dimension of size entries (0 = the unlimited record dimension). Dimension id, or -1.
int CDF_def_dim(const char* name, long size);
int CDF_end_def();  // leaves define mode: 0, or -1
int CDF_close();    // closes the current file (no current file afterwards): 0, or -1
// Id of a named dimension, -1 when absent or no file.
int CDF_get_dim(const char* name);
// Length of dimension dim (-1: the unlimited record dimension); -1 when unknown or no file.
long CDF_get_dim_size(int dim);
// Stores n (0-CDF_MAX_DIMS) dimension ids as the shape of the next CDF_def_*_var calls.
// Returns 0, -1 for n out of range.
int CDF_set_shape(int n, ...);
// Defines variable name of external type (CDF_BYTE .. CDF_DOUBLE) over ndims dimension ids
// given as further int arguments. Variable id, or -1.
int CDF_def_var(const char* name, int type, int ndims, ...);
// Define over the shape of CDF_set_shape: float, 32-bit integer, short, byte, char. Id or -1.
int CDF_def_float_var(const char* name);
int CDF_def_long_var(const char* name);
int CDF_def_short_var(const char* name);
int CDF_def_byte_var(const char* name);
int CDF_def_char_var(const char* name);
// Id of a named variable, -1 when absent or no file.
int CDF_get_var(const char* name);
// Global text attribute (stored without a terminating zero). Put: 0, or -1.
int CDF_put_glob_att(const char* name, const char* value);
// Reads a global text attribute into value (size bytes, terminated, cut to fit). 0, or -1
// when absent, not text, or no file (value is then empty).
int CDF_get_glob_att(const char* name, char* value, int size = 80);
// "long_name" and "units" text attributes of variable id, each only when non-null and non-empty.
int CDF_put_base_att(int id, const char* long_name, const char* units);
// "valid_range" as two floats / two 32-bit integers.
int CDF_put_float_range_att(int id, float min, float max);
int CDF_put_long_range_att(int id, long min, long max);
int CDF_put_fill_att(int id);                 // "_FillValue" float -9999
int CDF_put_long_fill_att(int id, long val);  // "_FillValue" 32-bit integer val
// Position of single values: start[k] = k-th index, count[k] = 1 for k < n. 0, -1 for bad n.
int CDF_set_pos(int n, ...);
// Hyperslab: n pairs (start, count). 0, -1 for bad n.
int CDF_set_range(int n, ...);
// One value at the current position. 0, or the library's error.
int CDF_put_float(int var, float value);
int CDF_put_long(int var, long value);  // a value outside 32 bits is the library's range error
int CDF_put_short(int var, short value);
int CDF_put_byte(int var, signed char value);
int CDF_put_char(int var, char value);
// The current hyperslab from array (float / signed byte elements).
int CDF_put_float_array(int var, const float* array);
int CDF_put_byte_array(int var, const signed char* array);
// Text with its terminating zero along one more dimension after the position
// (start 0, count strlen + 1). 0, or the library's error (also when no dimension is left).
int CDF_put_str(int var, const char* str);
// Reads len characters along one more dimension into str (len + 1 bytes) and terminates it.
// 1, 0 when no file or variable, -1 on a library error (str is then empty).
int CDF_get_str(int var, int len, char* str);
// One value at the current position; -9999 when no file or variable (or on an error).
float CDF_get_float(int var);
double CDF_get_double(int var);
long CDF_get_long(int var);
int CDF_get_byte(int var);  // -1 when no file or variable
int CDF_get_char(int var);  // ' ' (32) when no file or variable
// The current hyperslab into array. 0, -1 when no file or variable or on a library error.
int CDF_get_float_array(int var, float* array);
int CDF_get_double_array(int var, double* array);
int CDF_get_byte_array(int var, signed char* array);
