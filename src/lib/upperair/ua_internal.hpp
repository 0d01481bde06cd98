// Private interface between the upper-air file dispatcher (ua_read.cpp) and the layouts
// that live in their own source files. Not part of the public library headers.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ua_read.hpp"

inline constexpr float UPA_MISS = -9999.0f;
inline bool upa_known(float v) { return v > -9998.0f; }

// netCDF variable ids of the open file (-1 when the file lacks one).
struct UpaNcVars {
    int id = -1, region = -1, type = -1, idn = -1, lat = -1, lon = -1;
    int num_mant = -1, num_sigt = -1, num_sigw = -1;
    int p_man = -1, z_man = -1, t_man = -1, td_man = -1, dir_man = -1, spd_man = -1;
    int p_sigt = -1, t_sigt = -1, td_sigt = -1;
    int z_sigw = -1, dir_sigw = -1, spd_sigw = -1;
};

// The one open file.
struct UpaState {
    std::FILE* fp = nullptr;
    int type = 0;          // file-type code, 0 when closed
    int access = 0;        // 0 read, 1 write
    int stat_num = 0;      // index of the next station in the stream
    bool lost = false;     // stream position unknown after a failed read: rewind first
    int last_stat = -1;    // station whose start is saved in last_pos
    long last_pos = -1;
    bool has_pending = false;  // one token pushed back by the "QAZUPA" reader
    std::string pending;
    int ncid = -1;
    int nc_version = 2;
    int nc_nrec = 0;       // records in a netCDF file opened for reading
    long long nc_max_rec = 0;  // records its size really holds
    UpaNcVars nc;
    char encd[10] = {0};
};
UpaState& upa_state();

// Significant levels a writer puts out: the report's levels with a known pressure of at
// least min_pres, dropping every level after the first whose pressure is a mandatory level
// with a known height; the surface when none remain.
std::vector<UPA_sig> upa_sig_for_write(const UPA_report* report, float min_pres);
// Pressure (mb) of a significant-level token; a three-digit token with a leading zero is
// 1000 mb or more ("012" is 1012). -9999 for a token that is no pressure.
float upa_sig_pres(const char* tok);
// After a complete read: the surface from the first significant and wind levels.
void upa_fill_surface(UPA_report* report);

// Tokens of the "QAZUPA" readers: next blank-separated word of the stream, at most size-1
// characters kept (the rest skipped). 0, or -1 at end of file.
int upa_next_token(UpaState& st, char* buf, std::size_t size);
void upa_unget_token(UpaState& st, const char* tok);

// Coded text (ua_coded.cpp).
int upa_coded_read(UpaState& st, UPA_report* report);
int upa_coded_skip(UpaState& st);
int upa_coded_write(UpaState& st, const UPA_report* report);
// "QAZUPA" text (ua_text.cpp).
int upa_text_read(UpaState& st, UPA_report* report);
int upa_text_skip(UpaState& st);
int upa_text_write(UpaState& st, const UPA_report* report);
// Write-only layouts (ua_write.cpp).
int upa_xml_header(UpaState& st, const UPA_info* info);
int upa_xml_write(UpaState& st, const UPA_report* report);
int upa_bin_header(UpaState& st, const UPA_info* info);
int upa_bin_write(UpaState& st, const UPA_report* report);
// netCDF (ua_netcdf.cpp).
int upa_nc_chktype(const char* filename);
int upa_nc_open(UpaState& st, const char* filename, int f_access);
int upa_nc_getinfo(UpaState& st, UPA_info* info);
int upa_nc_putinfo(UpaState& st, const UPA_info* info);
int upa_nc_read(UpaState& st, UPA_report* report, int rep_type, int statnum);
int upa_nc_write(UpaState& st, const UPA_report* report, int statnum);
int upa_nc_close(UpaState& st);
