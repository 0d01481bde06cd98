// Upper-air report tools: emptying a record, the mandatory-level index, opening a file by
// name or date, finding and listing stations, printing a report, and cutting a layer of
// levels out of a report.
#pragma once

#include "mess.hpp"
#include "ua_read.hpp"

inline constexpr int UPA_ID_SIZE = 11;  // bytes of a station identifier (UPA_report::id)

// Empties a record: id and area "", wmo and time -9999, lat, lon, elev and every level
// value -9999, all counts 0. Returns 0 (-1 for null).
int UPA_initialize(UPA_report* report);
// man index 1-16 of a mandatory pressure (mb): 1000, 925, 850, 700, 500, 400, 300, 250, 200,
// 150, 100, 70, 50, 30, 20, 10; 0 for any other pressure.
int UPA_mandatory(float pres);
// The mandatory pressure (mb) of man index 1-16, -9999 for other indices.
float UPA_mandatory_pres(int index);

// Opens an upper-air file for reading and reads its header into info (may be null). The
// name is filename when not empty, else the file of date under the current naming
// convention (FILE_set_name). *f_type as for UPA_open (0: detect). Prints
// "UPA_open_file: Unable to open file:%s\n" on failure. The descriptor, or -1.
int UPA_open_file(const char* filename, const Date* date, int* f_type, UPA_info* info);
// Finds the first station whose identifier equals id (case ignored) or whose WMO number
// is the number id gives, and reads it with rep_type into report. Searches the open file
// from its first station. The station's index, or -1 when absent or unreadable.
int UPA_get_station(int cvt_fd, const char* id, UPA_report* report, int rep_type);
// As UPA_get_station (any station when id is empty), for the sounding whose observation time
// is time (UTC seconds since 1970): archive files hold many soundings of one station. The
// index, or -1 when there is none.
int UPA_get_station_at(int cvt_fd, const char* id, int time, UPA_report* report, int rep_type);
// Lists the identifiers of the open file: fills ids (rows of UPA_ID_SIZE bytes, at most
// max_ids; ids may be null) and prints them ten to a line at level (M_none: no print).
// The number of stations in the file.
int UPA_list_stations(int cvt_fd, char (*ids)[UPA_ID_SIZE], int max_ids, M_type level);
// Prints a report as a table (station line, levels 0-23 with a pressure, significant
// and wind levels) at level. Returns 0 (-1 for null).
int UPA_print_report(const UPA_report* report, M_type level);
// Collects the surface, mandatory (1-21) and significant temperature levels of report whose
// pressure lies in [p_top, p_bot] mb into levels (room for max_levels), ordered by decreasing
// pressure. Where a significant level repeats a mandatory pressure the mandatory one (with
// height and wind) is kept. Levels below ground (pressure above the surface pressure) are
// dropped. The count.
int UPA_make_layer(const UPA_report* report, float p_bot, float p_top, UPA_level* levels, int max_levels);
