// Units: converts values between unit texts. A unit text is an optional factor ("10^-3",
// "1000") followed by a unit name; blanks and underscores are the same inside it; a name
// written "-name" has the factor -1. Named conversions (scale and offset) come from the units
// file "units.lup" in the directory of the resource "file_path". -9999 is missing throughout.
#pragma once

#include <cstddef>
#include <string>

// Size of a unit text as grids carry it (GRD_report.units).
inline constexpr std::size_t UNIT_TEXT_SIZE = 15;

// value expressed in ounit instead of iunit. -9999 stays -9999; an empty ounit or equal texts
// leave the value unchanged; names absent from the units file convert by the factors alone;
// 0 when the units file cannot be opened.
float UNIT_cvt(const char* iunit, const char* ounit, float value);
// Writes into out (size bytes) the unit text of a value in unit in scaled by scale, e.g. in
// "m/s", mstr "/m", scale 1e-5 -> "1e-05 m/s/m". Returns 0, -1 when cut short.
int UNIT_scale(const char* in, const char* mstr, char* out, float scale,
               std::size_t size = UNIT_TEXT_SIZE);
// Splits "name (units)" into var (trailing blanks removed) and units; each at least
// strlen(str) + 1 bytes. Both empty when str is null or empty. Returns 0.
int UNIT_parse(const char* str, char* var, char* units);
// Rewrites str (size bytes) as "name (units)" with its name and the new units. 0, -1 when cut.
int UNIT_change(char* str, const char* units, std::size_t size = 70);
// The conversion from iunit to ounit as out = in x *scale + *offset. 1 when known (same
// names, or listed in the units file), 0 when the names are not listed (factors only), -1
// when the units file cannot be read.
int UNIT_linear(const char* iunit, const char* ounit, double* scale, double* offset);
// Path of the units file the conversions read (resource "file_path" and the installed copy).
std::string UNIT_file_name();
// Forgets the cached conversion (the units file may have changed). Returns 0.
int UNIT_clear_cache();
