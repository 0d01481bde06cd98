// Station file access: one plain-text station ("city") file open at a time, read record by
// record. A line holds NAME STATE REGION IDENTIFIER PRIORITY LAT LON ELEVATION WMO NUMBER.
#pragma once

inline constexpr int CTY_NAME_SIZE = 21;
inline constexpr int CTY_CODE_SIZE = 3;
inline constexpr int CTY_ID_SIZE = 10;

// One station record.
struct CTY_data {
    char name[CTY_NAME_SIZE];     // station name (no blanks)
    char state[CTY_CODE_SIZE];    // state or province code
    char region[CTY_CODE_SIZE];   // country or region code; "B_" marks a buoy
    char id[CTY_ID_SIZE];         // identifier; a "-" as second character means none
    int prior;                    // plotting priority 0-9, smaller is more important
    char mos;                     // '*' with model-output statistics, else ' '
    char ua;                      // '*' for an upper-air station, else ' '
    float lat;                    // degrees north
    float lon;                    // degrees east (west negative)
    float el;                     // metres; -9999 when missing
    int wmo;                      // WMO block and station number; -9999 when unknown
    int num;                      // a further station number; -9999 when absent
};

struct CTY_info {
    int dtype;  // the file type given to CTY_open
};

// Opens filename for reading (f_access 0) or writing (1); f_type is remembered for
// CTY_getinfo. A file still open is closed first. A positive descriptor, or -1.
int CTY_open(const char* filename, int f_access, int f_type);
// Rewinds the file and stores its type in info. 0, or -1 without that open file.
int CTY_getinfo(int city_fd, CTY_info* info);
// 0, or -1 without that open file.
int CTY_rewind(int city_fd);
int CTY_close(int city_fd);
// Reads the next station line into city (blank lines and lines beginning "#" are
// skipped). Fields are separated by blanks; a name longer than 20 characters is cut, while
// a state, region or identifier too long for its array ends the record there (warning).
// Returns the number of fields read (10 for a complete record; fields not read keep their
// CTY_data_init values), or -1 at the end of the file or without that file.
int CTY_read(int city_fd, CTY_data* city);
// Empties name, id, state and region; wmo and num -9999; lat, lon, el -9999.0; prior 9;
// mos and ua blank.
void CTY_data_init(CTY_data* data);
