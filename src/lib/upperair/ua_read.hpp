// Upper-air (radiosonde) files: one station report at a time in coded text, "QAZUPA" text,
// netCDF, binary and XML layouts, all mapped to and from the single record UPA_report.
// Units: pressure mb, man heights m, temperatures and dew points C, direction deg, speed kt,
// wnd heights ft; -9999 marks an unknown value.
#pragma once

#include "date.hpp"

inline constexpr int UPA_MAN_LEVELS = 25;
inline constexpr int UPA_SIG_LEVELS = 200;
inline constexpr int UPA_WND_LEVELS = 100;

// One level of a merged sounding.
struct UPA_level {
    float p;    // mb
    float h;    // m
    float t;    // C
    float td;   // C
    float dir;  // deg
    float spd;  // kt
};

struct UPA_man {
    float p, h, t, td, dir, spd;
};
struct UPA_sig {
    float p, t, td;
};
struct UPA_wnd {
    float h, dir, spd;
};

// One station report. man index: 0 surface; 1-16 the mandatory pressures 1000, 925, 850, 700,
// 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10 mb; 17-21 further levels above 10 mb;
// 22 tropopause; 23 maximum wind; 24 unused by the file formats.
struct UPA_report {
    char id[11];
    char area[11];
    int wmo;
    float lat;   // deg N
    float lon;   // deg E
    float elev;  // m
    int time;
    int type;
    UPA_man man[UPA_MAN_LEVELS];
    int numman;
    UPA_sig sig[UPA_SIG_LEVELS];
    int numsig;
    UPA_wnd wnd[UPA_WND_LEVELS];
    int numwnd;
};

// File header.
struct UPA_info {
    char datim[40];  // date label line
    char file[20];   // file date code
    char* cmdline;   // history text (owned by the reader or the caller as documented)
    Date date;
};

// ---- File types ----------------------------------------------------------------------
// Type codes of UPA_open: 1 coded text to 500 mb, 2 coded text to 100 mb, 3 "QAZUPA",
// 4 "QAZUPA+", 5 "QAZUPAx", 11 netCDF by "station" (knots, feet), 12 netCDF by "report"
// (m/s, metres), 41 binary record and 51 XML (both write only). Read only, each decoded as
// a whole when opened: 21 BUFR radiosonde reports (WMO templates 3 09 052 and 3 09 057,
// editions 3 and 4), 22 TEMP bulletins (parts A to D), 23 radiosonde archive station files
// (version 2 text, every sounding of the station by time), 24 sounding tables (PRES HGHT
// TEMP ... columns). For these, time is the observation time in UTC seconds since 1970.
inline constexpr int UPA_CODED_SHORT = 1;
inline constexpr int UPA_CODED_LONG = 2;
inline constexpr int UPA_TEXT = 3;
inline constexpr int UPA_TEXT_PLUS = 4;
inline constexpr int UPA_TEXT_X = 5;
inline constexpr int UPA_NETCDF_STATION = 11;
inline constexpr int UPA_NETCDF_REPORT = 12;
inline constexpr int UPA_BUFR = 21;
inline constexpr int UPA_TEMP = 22;
inline constexpr int UPA_IGRA = 23;
inline constexpr int UPA_TABLE = 24;
inline constexpr int UPA_BINARY = 41;
inline constexpr int UPA_XML = 51;

// rep_type values of UPA_read: 0 surface, 1-16 one mandatory level (into man[0]),
// 22 tropopause, 23 maximum wind, 30 whole report, 31 identifier, 32 identifier, WMO number
// and position.
inline constexpr int UPA_REP_SURFACE = 0;
inline constexpr int UPA_REP_TROP = 22;
inline constexpr int UPA_REP_MAXWIND = 23;
inline constexpr int UPA_REP_ALL = 30;
inline constexpr int UPA_REP_ID = 31;
inline constexpr int UPA_REP_LOCATION = 32;

// ---- Files (one open at a time) --------------------------------------------------------
// Type code of an existing file, or -1 (unreadable or not an upper-air file).
int UPA_chktype(const char* filename);
// Opens filename for reading (f_access 0) or writing (1). *f_type 0 (reading only) asks for
// detection and receives the type found. Replaces any file already open. Returns a
// descriptor (stream number or netCDF id), -1 on failure or for an unknown type.
int UPA_open(const char* filename, int f_access, int* f_type);
// Closes the open file (XML: writes the closing tag first). 0, or -1 when none is open.
int UPA_close(int cvt_fd);
// Reads the header into info (datim, date; netCDF also file). 0 for the text types, 1 for
// netCDF and the others, -1 when no file is open or the header cannot be read.
int UPA_getinfo(int cvt_fd, UPA_info* info);
// Writes the header of the open file from info. 0, or -1 for an unsupported type.
int UPA_putinfo(int cvt_fd, UPA_info* info);
// Back to the first station (text types skip the header again). 0, or -1 for other types.
int UPA_rewind(int cvt_fd);
// Reads station *statnum (0-based) with the part rep_type selects into report (emptied
// first). 0, or -1 at end of file, past the last station or for an unsupported rep_type.
int UPA_read(int cvt_fd, UPA_report* report, int rep_type, int* statnum);
// Writes report: appended (text, XML, binary) or as record *statnum (netCDF). The text and
// XML types advance *statnum by one. 0, or -1 for an unsupported type.
int UPA_write(int cvt_fd, UPA_report* report, int rep_type, int* statnum);

// ---- Group codecs ----------------------------------------------------------------------
// Decode one five-character group (PPhhh, TTTdd, dddff). A group starting with "X", or
// short or non-numeric, is missing: both values -9999, result -1. decd_ph also accepts
// "PP/" (pressure only: height -9999, result -1). decd_wd: ddd 999, a speed above 250 kt or
// a direction above 360 give missing values with result 0.
int decd_ph(const char* group, float* pres, float* hght);
int decd_td(const char* group, float* temp, float* dewpt);
int decd_wd(const char* group, float* dir, float* spd);
// Encode two values into the module's encode buffer (UPA_encd_buffer). 0, or -1 after
// writing the missing group ("X" for the "QAZUPA" types, "99999" otherwise).
int encd_ph(float pres, float hght);
int encd_td(float temp, float dewpt);
int encd_wd(float dir, float spd);
// The text of the last encode (at most 9 characters).
const char* UPA_encd_buffer();
