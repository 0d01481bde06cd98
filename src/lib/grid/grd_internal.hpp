// Private interface between the grid-file dispatcher (grd_read.cpp) and the readers of the
// formats that live in their own source files. Not part of the public library headers.
#pragma once

#include "grd_read.hpp"

// netCDF grid files (grd_netcdf.cpp). gf is the slot's record, already cleared; the reader
// sets gf->fd. Results as for the public operations of the same name.
int grd_nc_open(GRD_file* gf, const char* filename, int f_access);
int grd_nc_getinfo(GRD_file* gf, GRD_info* info);
int grd_nc_putinfo(GRD_file* gf, GRD_info* info);
int grd_nc_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum);
int grd_nc_write(GRD_file* gf, GRD_report* grd, int rep_type, int grd_num);
int grd_nc_rewind(GRD_file* gf);
int grd_nc_close(GRD_file* gf);
// Bytes a classic netCDF file's data needs: -1 when its header is too large to check, -2 when
// the header is damaged or larger than the file (shared with the CF reader).
long long grd_nc_classic_required_size(const char* filename, off_t file_size);

// GRIB files (grd_grib.cpp). The dispatcher has opened gf->file; these do the rest.
int grd_grib_getinfo(int grd_fd, GRD_file* gf, GRD_info* info);
int grd_grib_read(int grd_fd, GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum);
int grd_grib_write(GRD_file* gf, GRD_report* grd);  // writes the carried message unchanged
int grd_grib_rewind(GRD_file* gf);
int grd_grib_hdr_open(GRD_file* gf, const char* filename);
