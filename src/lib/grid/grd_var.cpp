// The variable-descriptor calls of the grid tools, kept in one place.
#include "grd_tool_internal.hpp"
#include "string.hpp"

int grd::var_num(const char* name)
{
    if (!name || !*name) return -9999;
    const int num = VAR_search_var_num(name);
    return num < 0 ? -9999 : num;
}

int GRD_make_datatype(GRD_report* grid)
{
    if (!grid) return -1;
    VAR_make_datatype(grid->time, grid->ltype, grid->level, grid->var, grid->units, grid->info,
                          sizeof grid->info);
    return 0;
}
