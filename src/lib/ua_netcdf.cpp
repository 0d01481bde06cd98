// netCDF upper-air files (types 11 and 12).
#include "ua_internal.hpp"

int upa_nc_chktype(const char*) { return -1; }
int upa_nc_open(UpaState&, const char*, int) { return -1; }
int upa_nc_getinfo(UpaState&, UPA_info*) { return -1; }
int upa_nc_putinfo(UpaState&, const UPA_info*) { return -1; }
int upa_nc_read(UpaState&, UPA_report*, int, int) { return -1; }
int upa_nc_write(UpaState&, const UPA_report*, int) { return -1; }
int upa_nc_close(UpaState&) { return -1; }
