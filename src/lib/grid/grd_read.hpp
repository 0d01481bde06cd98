// Grid files: a table of up to 15 open grid files of eight kinds (bare text, "QAZGRID" text and
// binary, "QAZGRID4" with external values, netCDF in the library's layout, CF netCDF, GRIB editions 1/2, "GRID" bulletins), with one
// set of operations to open, identify, read the file header, read the n-th grid, write and close.
// Values are floats, row after row with x fastest, row 0 at the northern edge; -9999 is missing.
#pragma once

#include <cstdio>
#include <sys/types.h>

#include "date.hpp"
#include "maptran.hpp"

inline constexpr int GRD_MAX_FILES = 15;
inline constexpr float GRD_MISSING = -9999.0f;

// File type codes (GRD_file.type).
enum : int {
    GRD_TYPE_TEXT = 1,      // bare text grid file, no header line
    GRD_TYPE_QAZ = 2,       // "QAZGRID" header line, text values
    GRD_TYPE_QAZBIN = 3,    // "QAZGRID" header line, binary values (only on request)
    GRD_TYPE_QAZ4 = 4,      // "QAZGRID4" header line, values in the file or an external one
    GRD_TYPE_NETCDF = 11,   // netCDF: library layout or model file
    GRD_TYPE_CF = 12,       // netCDF following the CF conventions (classic or netCDF-4), any origin
    GRD_TYPE_GRIB = 21,     // GRIB edition 0/1/2 in any wrapper
    GRD_TYPE_BULLETIN = 22  // alphanumeric "GRID" bulletin
};

// One open grid file. Positions are kept per file so that reads of several files may interleave.
struct GRD_file {
    FILE* file;          // data stream (null for netCDF)
    FILE* hfile;         // GRIB header index file, or null
    char datim[50];      // date label of the first grid (text types)
    Date date;           // file date (GRD_getinfo)
    int fd;              // 1 for an open stdio stream, the netCDF id for netCDF, -1 closed
    int grid;            // netCDF: 1 with x/y coordinate variables; GRIB: edition (10 = centre 98 ed. 0)
    int type;            // file type code
    int itype;           // QAZGRID4: 3 binary values; netCDF: 0 library layout, else model class;
                         // GRIB: wrapper kind 1-4
    int access;          // 0 read, 1 write
    int is_std;          // 1 when the stream is standard input or output (never closed)
    char var_nm[50];     // netCDF: variable named by the environment variable GRIDVAR
    int var[15];         // netCDF model files: library variable number per usable variable
    int var_num;         // entries used in var / values_id
    int cur_var;         // netCDF: variable being read (-1 none yet)
    int num;             // grid the file is positioned at (0-based)
    long max_num;        // netCDF: records on the unlimited dimension, then running count
    long x_size, y_size, z_size, t_size;  // netCDF model files: dimension lengths
    int x_dim, y_dim, z_dim, t_dim;       // netCDF model files: dimension ids
    int values_id[15];   // netCDF ids of the grid value variables
    int x_coord_id, y_coord_id, proj_id, lat1_id, lat2_id, lon1_id, lon2_id, datim_id, info_id,
        source_id, version_id, model_id, type_id, ltype_id, level_id, time_id, var_id, dx_id,
        dy_id, nx_id, ny_id;              // netCDF ids of the library layout (-1 when absent)
    int yx_order;        // netCDF library layout: 1 when "values" is (grid, y, x), 0 for (grid, x, y)
    off_t cur_pos;       // offset where the grid being read starts
    off_t new_pos;       // offset just after the last grid read, -1 unknown
    int cont;            // GRIB edition 2: the next field lies in the same message
    int pcont;           // GRIB edition 2: cont of the previous read
    int wind_dec;        // GRID bulletins: wind direction/speed fields seen (0, 1, 2)
    int bpval;           // GRID bulletins: digits per value
    void* priv;          // private state of a type's reader (GRIB message buffer, ...), owned
    void (*priv_free)(void*);  // releases priv at close
};

// File-level information.
struct GRD_info {
    char datim[40];  // date label
    int max_x;       // largest grid size, used when a netCDF file is created
    int max_y;
    int grid_type;   // 0 projection grid, 1 grid with coordinate variables
    Date date;
};

// One grid.
struct GRD_report {
    int type;         // grid (domain) number: GRIB grid id or model grid number
    int source;       // originating centre; 1 for library text grids; GRIB record written back:
                      // message length in bytes
    int version;      // encoding version (GRIB edition; text grid version 0-4)
    char datim[50];   // date/time label of the grid
    char info[70];    // description of variable and level
    Date date;        // reference (analysis) time
    int model;        // model (generating process) number
    int ltype;        // level type code (var_tool)
    int level;        // level value
    int time;         // forecast hour (coded forms above 800 / 1,000,000 as in GRIB time ranges)
    int var;          // variable number (var_tool)
    char units[15];   // unit text of the values
    Domain domain;    // grid geometry
    float* grid;      // nx x ny values, owned (malloc/free), null when not read
};

// Clears a report: numbers -9999, texts empty, DOM_init'd domain, grid null (not freed).
void GRD_init_report(GRD_report* grd);
// Frees the report's values and sets grid to null.
void GRD_free_report(GRD_report* grd);

// Type code of a file (1, 2, 4, 11, 12, 21, 22), or -1 when it cannot be opened or is not recognised.
int GRD_chktype(const char* filename);
// Opens a grid file: f_access 0 read, 1 write; *f_type 0 = detect (reading). Slot 0-14, or -1.
int GRD_open(const char* filename, int f_access, int* f_type);
// Attaches a GRIB header index file to a GRIB slot: 0, or -1.
int GRD_hdr_open(int grd_fd, const char* filename);
int GRD_getinfo(int grd_fd, GRD_info* info);  // 0, or -1
int GRD_putinfo(int grd_fd, GRD_info* info);  // 0, or -1 for an unknown type
// Reads grid *grdnum (0-based; out: grid reached). rep_type 1 or 2: header only (2 also makes
// the description), else header and values. 0 success; -1 end of file or error; 1 a GRIB
// edition 2 message without a product; other values below 1 from the GRIB decoders.
int GRD_read(int grd_fd, GRD_report* grd, int rep_type, int* grdnum);
// Writes a grid (netCDF: record grd_num). 0, or -1.
int GRD_write(int grd_fd, GRD_report* grd, int rep_type, int grd_num);
int GRD_rewind(int grd_fd);  // 0
int GRD_close(int grd_fd);   // 0 (also for an empty slot), -1 for an unknown type
int GRD_use_hdr_file(int val);
int GRD_set_format(const char* str);  // printf format for text values; empty = "%14.8e"; -1 (cleared) when unusable
GRD_file* GRD_get_gfile(int ind);     // the open file of a slot, or null
off_t GRD_get_pos(int grd_fd);        // offset where the last grid read starts
int GRD_setpos(int grd_fd, off_t offset, int grdnum);  // GRIB files: 1
// Copies up to 160 bytes at the current grid's start into header (at least 161 bytes).
int GRD_get_header(int grd_fd, char* header);
