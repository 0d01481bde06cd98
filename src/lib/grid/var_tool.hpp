// Variable descriptors: names of models, variables and levels used in grid and report texts.
// Library variable numbers are those of WMO GRIB edition 1 code table 2 (1 pressure, 7
// geopotential height, 11 temperature, 17 dew point, 33/34 wind components, 52 relative
// humidity, 61 total precipitation, ...) plus the numbers the grid readers assign to older
// library forms and to derived quantities; level type codes are those of GRIB edition 1 code
// table 3 (1 surface, 100 isobaric, 102 mean sea level, 105 height above ground, ...).
#pragma once

#include <cstddef>

#include "date.hpp"

// Short name of a model number, written as centre x 1000 + generating process (a plain
// process number is taken as from the US national centre, 7). A known centre with an
// unlisted process gives the centre's name (only when a centre was written); anything else "Unknown". Never null.
const char* VAR_model(int model);

// Name of an originating centre by WMO common code table C-11 ("" when not in it). Never null.
const char* VAR_centre_name(int centre);
// Model number as the decoders keep it per grid: centre x 1000 + generating process when the
// record carries a GRIB centre (source 2-999), else the process alone (read as centre 7).
int VAR_model_code(int source, int model);

// Library variable number of a short name (case-insensitive), or -1 when unknown.
int VAR_search_var_num(const char* name);
// Short name, unit text and long name of a variable number; "" when unknown. Never null.
const char* VAR_var_name(int var);
const char* VAR_var_units(int var);
const char* VAR_var_long_name(int var);
// Name a variable is listed and selected by: its short name ("TMP"); for an edition 2
// parameter the library has no name for (number discipline x 1,000,000 + category x 1000 +
// number) the triplet "0.14.192"; else the number. text holds size bytes (24 enough).
// 0, or -1 when it does not fit.
int VAR_var_abbrev(int var, char* text, int size);
// Makes an edition 2 parameter the library has no row for known by its WMO name and unit
// (var is the number above): later VAR_var_long_name and VAR_var_units give them.
void VAR_add_wmo_name(int var, const char* units, const char* long_name);
// Text of a level type code ("mb", "Surface", "m AGL", ...); "" when unknown. Never null.
const char* VAR_level_text(int ltype);
// Level as a forecaster reads it: the type's name and the value in its usual unit ("500 mb",
// "500-300 mb", "3000-0 m AGL", "sigma 0.995", "2 PVU", "Low cloud bottom"; a type the table
// lacks as "level type N V"). text holds size bytes (48 are always enough); 0, or -1 when
// it does not fit (the text is then cut) or text is unusable.
int VAR_level_text(int ltype, int level, char* text, int size);
// Forecast time coded as in GRD_report.time, as a forecaster reads it: "24 h", "3 d", "2 mon",
// "max 2-14 h", "acc 0-6 h", "avg 66-72 h", "dif 0-12 h", "12-24 h" (a plain range); "" for
// -9999. text holds size bytes (40 are always enough); 0, or -1 when it does not fit (cut).
int VAR_time_text(int coded_time, char* text, int size);
// Valid time of a coded forecast time from the reference (analysis) date: the end of a
// range, days and calendar months included. 0, or -1 (valid all -9999) for a missing time
// or reference.
int VAR_valid_date(const Date* reference, int coded_time, Date* valid);
// Description of a grid such as "500 mb Height (m)" from level type, level, variable and unit
// text (the variable's own unit when units is null or empty); the forecast time is not part
// of it. Written into info (size bytes, default 70, the size of GRD_report.info). 0.
int VAR_make_datatype(int time, int ltype, int level, int var, const char* units, char* info,
                      std::size_t size = 70);

// A grid request: -9999 in a field means "any".
struct VAR_data {
    int var[5];      // wanted variable numbers (-9999 unused)
    int ltype;       // level type
    int level;       // level value
    int time;        // forecast time
    char units[15];  // output unit text; empty = keep the grid's
};
// Clears a request to "any".
void VAR_init_data(VAR_data* data);
