// Private interface of the CF netCDF grid files (grd_cf.cpp writes, grd_cf_read.cpp reads):
// the vocabulary both sides share. Not part of the public library headers.
#pragma once

#include <cstdint>
#include <string>

#include "grd_read.hpp"

// Entry points used by the grid-file dispatcher (grd_read.cpp).
int grd_cf_open(GRD_file* gf, const char* filename, int f_access);
int grd_cf_getinfo(GRD_file* gf, GRD_info* info);
int grd_cf_putinfo(GRD_file* gf, GRD_info* info);
int grd_cf_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum);
int grd_cf_write(GRD_file* gf, GRD_report* grd);
int grd_cf_rewind(GRD_file* gf);
int grd_cf_close(GRD_file* gf);
// The writing side (grd_cf.cpp), called by the two above.
int grd_cf_open_write(GRD_file* gf, const char* filename);
int grd_cf_close_write(GRD_file* gf);
// True when a netCDF file (classic or netCDF-4) is to be read as CF rather than in the
// library's own layout or as a model file: no "grid" dimension and some CF marking.
bool grd_cf_is_cf(const char* filename);

namespace cfgrid {

inline constexpr float kFill = -9999.0f;  // _FillValue written: the library's missing value

// Unit text of the library ("m/s", "kg/m^2", "mb", "gpm") in UDUNITS spelling ("m s-1",
// "kg m-2", "hPa", "m"), and back.
std::string to_udunits(const std::string& units);
std::string from_udunits(const std::string& units);

// CF standard name of a library variable number ("" when the table has none), and the variable
// number of a standard name (-1 when unknown).
const char* standard_name(int var);
int var_of_standard_name(const std::string& name);

// A level type's coordinate: units, positive direction and standard name ("" when none).
struct LevelInfo {
    int ltype;
    const char* long_name;
    const char* units;
    const char* positive;
    const char* standard_name;
};
// The level type's entry, or null for a level type without a value (surface, sea level, ...).
const LevelInfo* level_info(int ltype);
// The level type of a vertical coordinate read from a file: from its standard name and units.
int ltype_of_coordinate(const std::string& standard_name, const std::string& units,
                        const std::string& positive);

// The statistic of a coded forecast time (library form: kind x 1000000 + start x 1000 + end):
// kind 0 plain hour. cell_methods text of the kind ("" for none), and the kind of a text.
struct TimeCode {
    int kind = 0;     // 0 plain forecast hour; 2 valid over a range; 3 mean; 4 sum; 5 difference;
                      // 6 maximum; 7 minimum
    int start = 0;    // hours from the reference time
    int end = 0;      // forecast hour (range end)
    bool known = true;  // false for forms with no hour count (months, unknown codes)
};
TimeCode decode_time(int coded);
int encode_time(const TimeCode& t);
const char* cell_method_of(int kind);
int kind_of_cell_methods(const std::string& text);

// Seconds since 1970 of a Date (UTC), and the Date of seconds since 1970.
std::int64_t date_seconds(const Date& date);
Date seconds_date(std::int64_t secs);
// Parses CF time units "<unit> since <date>[ <time>][ <zone>]": seconds per unit and the base in
// seconds since 1970. False when the text is not a CF time unit or uses another calendar.
bool parse_time_units(const std::string& units, double* unit_seconds, std::int64_t* base);

}  // namespace cfgrid
