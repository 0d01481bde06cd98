// Private interface between the grid-file dispatcher (grd_read.cpp) and the readers of the
// library's own text and binary grid files (grd_text.cpp) and of "GRID" bulletins
// (grd_bulletin.cpp). Not part of the public library headers.
#pragma once

#include <cstdio>
#include <string>

#include "grd_read.hpp"

// Largest grid accepted at all: 4 G points (16 GB of values).
inline constexpr long long GRD_MAX_POINTS = 1LL << 32;
// Largest grid accepted from a stream whose size cannot be checked (a pipe): 64 M points.
inline constexpr long long GRD_MAX_STREAM_POINTS = 1LL << 26;

// Private state of a stream grid file (GRD_file.priv).
struct GRD_text_state {
    std::string name;            // file name as opened (for external value files)
    std::string pending_label;   // standard input: the first label, already read by getinfo
    bool label_pending = false;
    bool seekable = false;       // regular file: grids are found again by offset
    long long size = -1;         // its size when opened (a grown file is looked at again)
    bool consumed = false;       // stream that cannot seek: grid num has been read
    int wind_dec_at_cur = 0;     // bulletins: wind_dec before the grid at cur_pos
    int wind_dec_after = 0;      // bulletins: wind_dec after the grid at cur_pos
};
inline GRD_text_state* grd_text_state(GRD_file* gf) { return static_cast<GRD_text_state*>(gf->priv); }

// Attaches the text readers' private state (file name, pending label) to a fresh slot.
// 0, or -1 when out of memory.
int grd_text_attach(GRD_file* gf, const char* filename);

// Types 1, 2, 3, 4.
int grd_text_getinfo(GRD_file* gf, GRD_info* info);
int grd_text_putinfo(GRD_file* gf, GRD_info* info);
int grd_text_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum);
int grd_text_write(GRD_file* gf, GRD_report* grd);
int grd_text_rewind(GRD_file* gf);

// Type 22.
int grd_bul_getinfo(GRD_file* gf, GRD_info* info);
int grd_bul_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum);

// Shared by the readers above.
// Reads one line (without its newline and a trailing carriage return) keeping at most max
// characters. 0, or -1 at end of file with nothing read.
int grd_read_line(std::FILE* file, std::string& line, std::size_t max = 1024);
// Bytes from the current offset to the end of a regular file, or -1 for a pipe/terminal.
long long grd_bytes_left(std::FILE* file);
// Room for npts values in grd->grid (reusing a large enough buffer). false when out of memory.
bool grd_alloc_values(GRD_report* grd, long long npts);
// Checks a grid size read from a file: positive, no overflow, and at least min_bytes bytes
// per point left in the stream when its size is known. Prints why and returns false otherwise.
// known_size: the file's size when known (saves asking the system for every grid), else -1.
bool grd_check_size(const char* who, std::FILE* file, int nx, int ny, int min_bytes, long long known_size = -1);
// printf format for text values ("%14.8e" unless GRD_set_format gave another).
const char* grd_value_format();

// One grid reader of a stream type: reads the grid at the stream's position. store 0 skips
// the values. 0 success, -1 clean end of file, -2 damaged grid (message printed).
using grd_grid_reader = int (*)(GRD_file* gf, GRD_report* grd, int store);
// Positions on grid *grdnum and reads it with reader (shared by types 1-4 and 22).
int grd_stream_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum, grd_grid_reader reader);
