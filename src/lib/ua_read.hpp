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
