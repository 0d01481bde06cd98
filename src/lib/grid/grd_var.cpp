// The variable-descriptor calls of the grid tools, kept in one place.
#include "grd_tool_internal.hpp"
#include "grib.hpp"
#include "string.hpp"

int grd::var_num(const char* name)
{
    if (!name || !*name) return -9999;
    const int num = VAR_search_var_num(name);
    if (num >= 0) return num;
    // An abbreviation of the edition 2 parameter table the library has no number for.
    GribParam gp;
    if (GRIB_ver2_param_by_name(name, &gp)) return gp.ind;
    return -9999;
}

int GRD_make_datatype(GRD_report* grid)
{
    if (!grid) return -1;
    VAR_make_datatype(grid->time, grid->ltype, grid->level, grid->var, grid->units, grid->info,
                          sizeof grid->info);
    return 0;
}
