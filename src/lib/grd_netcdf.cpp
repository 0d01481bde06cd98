// netCDF grid files: placeholder until the netCDF reader lands.
#include "grd_internal.hpp"
#include "mess.hpp"

namespace {
int unsupported() {
    MESS_print(M_error, "GRD: netCDF grid files are not supported by this build\n");
    return -1;
}
}  // namespace

int grd_nc_open(GRD_file*, const char*, int) { return unsupported(); }
int grd_nc_getinfo(GRD_file*, GRD_info*) { return unsupported(); }
int grd_nc_putinfo(GRD_file*, GRD_info*) { return unsupported(); }
int grd_nc_read(GRD_file*, GRD_report*, int, int*) { return unsupported(); }
int grd_nc_write(GRD_file*, GRD_report*, int, int) { return unsupported(); }
int grd_nc_rewind(GRD_file*) { return 0; }
int grd_nc_close(GRD_file*) { return 0; }
