// GRIB grid files: placeholder until the GRIB decoders land.
#include "grd_internal.hpp"
#include "mess.hpp"

namespace {
int unsupported() {
    MESS_print(M_error, "GRD: GRIB decoding is not available in this build\n");
    return -1;
}
}  // namespace

int grd_grib_getinfo(int, GRD_file*, GRD_info*) { return unsupported(); }
int grd_grib_read(int, GRD_file*, GRD_report*, int, int*) { return unsupported(); }
int grd_grib_write(GRD_file*, GRD_report*) { return unsupported(); }
int grd_grib_rewind(GRD_file*) { return 0; }
int grd_grib_hdr_open(GRD_file*, const char*) { return unsupported(); }
