// Station database: finds one station in the station file, or loads the stations inside a
// domain into a multi-key table (identifier, WMO number, location) where decoders attach
// their own data to each station and plotters find stations by name or nearest place.
#pragma once

#include "cty_read.hpp"
#include "maptran.hpp"
#include "table.hpp"

inline constexpr int CTY_LOC_ID_SIZE = 11;
inline constexpr int CTY_MAX_RECORDS = 4000;   // cap of the record estimate (bucket count)
inline constexpr int CTY_BYTES_PER_RECORD = 59;

// Table layouts for CTY_store.
inline constexpr int CTY_STORE_FULL = 1;      // whole records; keys identifier, number
inline constexpr int CTY_STORE_XY = 2;        // plane locations; keys identifier, number
inline constexpr int CTY_STORE_XY_LOC = 3;    // plane locations; keys identifier, number, location

// One station placed on the active map.
struct CTY_locate {
    char id[CTY_LOC_ID_SIZE];  // location identifier (see CTY_set_id_type)
    int wmo;                   // WMO number, -9999 unknown
    float x;                   // plane coordinates of the active domain
    float y;
    float el;                  // elevation, metres; -9999 missing
    int pr;                    // plotting priority
};

// Table records: the station followed by the caller's data block (null without one).
struct stat_FULL_data : CTY_data {
    void* ptr;
};
struct stat_XY_data : CTY_locate {
    void* ptr;
};

// Fills a fresh caller-data block (first byte already 0) for a station being loaded.
using CTY_enter_fn = void (*)(const CTY_data* station, void* block);

// Size in bytes of the caller-data block given to every loaded station (0: none).
void CTY_data_size(int size);
// Function called for every new caller-data block (null: none).
void CTY_enter_func(CTY_enter_fn func);
// How CTY_store names a located station: 0 the number key when the identifier has "-" as
// second character, else the identifier; 1 the identifier when wmo is 99999, else the
// number key; 2 the identifier, or for a "-" identifier the one derived from the number.
void CTY_set_id_type(int type);
// The station table (empty until CTY_store).
TAB_table* CTY_get_table();
// Frees the table and every caller-data block.
void CTY_clear();
// The resource "stat_prior" as an integer; 10 when unset or not a number.
int CTY_get_prior();
// Opens the station file: file when given, else the resource "city_file", else "sao.cty",
// in the directory of the resource "file_path" ("none" disables the database). Stores the
// record estimate (size / 59 bytes, 1..4000) in *num_stats. The descriptor, or -1.
int CTY_open_file(const char* file, int* num_stats);
// Reads the station file from the start for the first station whose identifier, name or
// "%05d" WMO number equals id (any case). 1 with *data filled, else 0.
int CTY_get(const char* file, const char* id, CTY_data* data);
// As CTY_get, returning the station's position in degrees. 1, or 0 (outputs untouched).
int CTY_get_loc(const char* file, const char* id, float* lat, float* lon);
// Loads the stations of domain (made active; null keeps the active one) with priority at
// most prior (-9999: CTY_get_prior()) and accepted by the resource "identifier", in the
// layout type (CTY_STORE_FULL, _XY, _XY_LOC). Replaces the previous table. A positive
// descriptor of the (since closed) file, or 0 when the file cannot be read.
int CTY_store(const char* file, int type, const Domain* domain, int prior);
// Full-record tables only: enters a station known only by identifier and number text
// (a full-record table is started when none is loaded). 0, or -1.
int CTY_make_entry_simple(const char* id, const char* wmo);
// Finds a loaded station by identifier, five-digit number, "b" + five-digit buoy number or
// derived identifier; copies its CTY_data (full layout) or CTY_locate (location layouts)
// into data when data is not null. 1 when found, else 0.
int CTY_search(const char* id, void* data);
// Location layout CTY_STORE_XY_LOC only: the station nearest (lat, lon) within about five
// degrees, searched in growing squares of tenths of a degree. 1 with *data filled, else 0.
int CTY_search_loc(float lat, float lon, CTY_locate* data);
// The caller-data block of a loaded station (key as for CTY_search), or null.
void* CTY_get_data(const char* key);
// Caller-data blocks in load order: next 0 restarts, other values continue; null at the end.
void* CTY_next_data(int next);
// flag non-zero: empties every caller-data block (first byte 0); 0: frees them.
void CTY_clear_data(int flag);
// Selection list matching. An entry selects a station by identifier (shell pattern with
// "*" and "?" allowed), by five-digit WMO number, or, when it has two characters, by state
// or region code; any case. No list (numid 0) selects every station.
// Index of the first entry selecting data, 0 without a list, -1 when rejected.
int CTY_data_cmp(int numid, char** ids, const CTY_data* data);
// 1 when the entry ids (identifier or pattern) matches id, else 0.
int CTY_id_cmp(const char* ids, const char* id);
// Index of the first entry matching id, 0 without a list, -1 when none matches.
int CTY_ids_cmp(int numid, char** ids, const char* id);
