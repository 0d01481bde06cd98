// Alphanumeric "GRID" bulletins (type 22).
#include "grd_formats.hpp"
#include "mess.hpp"

int grd_bul_getinfo(GRD_file*, GRD_info*) { return -1; }
int grd_bul_read(GRD_file*, GRD_report*, int, int*) { return -1; }
