// Private interface between the upper-air file dispatcher (ua_read.cpp) and the layouts
// that live in their own source files. Not part of the public library headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
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

// The soundings of a file that is decoded as a whole when opened (BUFR, TEMP bulletins,
// the radiosonde archive, sounding tables): read-only, addressed by index.
class UpaSoundings {
public:
    virtual ~UpaSoundings() = default;
    virtual int count() const = 0;
    // Fills report (already emptied) with sounding n; 0, or -1 when it cannot be read.
    virtual int read(int n, UPA_report* report) = 0;
};

// Soundings held decoded in memory.
class UpaSoundingList : public UpaSoundings {
public:
    std::vector<UPA_report> reports;
    int count() const override { return static_cast<int>(reports.size()); }
    int read(int n, UPA_report* report) override {
        if (n < 0 || n >= count()) return -1;
        *report = reports[static_cast<std::size_t>(n)];
        return 0;
    }
};

// One level of a complete profile as the archive formats give it, before it is fitted into
// the fixed lists of UPA_report. Heights are geopotential metres above sea level.
struct UpaProfileLevel {
    float p = -9999.0f, h = -9999.0f, t = -9999.0f, td = -9999.0f, dir = -9999.0f, spd = -9999.0f;
    unsigned flags = 0;  // UPA_LEV_* bits
};
inline constexpr unsigned UPA_LEV_SURFACE = 1u << 0;
inline constexpr unsigned UPA_LEV_STANDARD = 1u << 1;
inline constexpr unsigned UPA_LEV_TROPOPAUSE = 1u << 2;
inline constexpr unsigned UPA_LEV_MAXWIND = 1u << 3;
inline constexpr unsigned UPA_LEV_SIGTEMP = 1u << 4;  // significant temperature or humidity
inline constexpr unsigned UPA_LEV_SIGWIND = 1u << 5;

// Fits a profile into report: the surface, the mandatory levels (flagged or at a mandatory
// pressure, else interpolated in ln p inside the profile), tropopause and maximum wind, and
// the temperature and wind levels. When the profile has more levels than the record holds,
// it keeps the flagged levels and then, one at a time, the level that linear interpolation
// between those kept misses most, so that the stored profile follows the full one as
// closely as the record allows. report->elev, when unknown, becomes the surface height.
void upa_profile_to_report(const std::vector<UpaProfileLevel>& levels, UPA_report* report);

// UTC seconds of a calendar time, -9999 when a field is out of range.
int upa_utc_seconds(int year, int month, int day, int hour, int minute);
// The whole file as text lines (line ends and carriage returns removed); false, after a
// message, when it cannot be read.
bool upa_read_lines(const char* filename, std::vector<std::string>& lines);
// Parses a number filling the whole of text (surrounding blanks allowed); false otherwise.
bool upa_parse_number(const std::string& text, double* value);

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
    std::unique_ptr<UpaSoundings> soundings;  // the whole-file types
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
// Whole-file types: each decodes filename and returns its soundings, or null after a
// message when nothing in it can be read. Damaged records are refused with a message naming
// the station and the line (or message), and the rest still reads.
std::unique_ptr<UpaSoundings> upa_bufr_load(const char* filename);   // ua_bufr.cpp
std::unique_ptr<UpaSoundings> upa_temp_load(const char* filename);   // ua_temp.cpp
std::unique_ptr<UpaSoundings> upa_igra_load(const char* filename);   // ua_igra.cpp
std::unique_ptr<UpaSoundings> upa_table_load(const char* filename);  // ua_table.cpp
// Detection from the first bytes of a file (head holds at most a few kilobytes).
bool upa_is_bufr(const std::string& head);
bool upa_is_temp(const std::string& head);
bool upa_is_igra(const std::string& head);
bool upa_is_table(const std::string& head);

// netCDF (ua_netcdf.cpp).
int upa_nc_chktype(const char* filename);
int upa_nc_open(UpaState& st, const char* filename, int f_access);
int upa_nc_getinfo(UpaState& st, UPA_info* info);
int upa_nc_putinfo(UpaState& st, const UPA_info* info);
int upa_nc_read(UpaState& st, UPA_report* report, int rep_type, int statnum);
int upa_nc_write(UpaState& st, const UPA_report* report, int statnum);
int upa_nc_close(UpaState& st);
