// The variable-descriptor calls of the grid tools, kept in one place.
#include "grd_tool_internal.hpp"
#include "string.hpp"

// TEMPORARY until the variable-descriptor definitions are merged.
#pragma weak VAR_search_var_num
#pragma weak VAR_make_datatype

int grd::var_num(const char* name)
{
    if (!name || !*name || !VAR_search_var_num) return -9999;
    const int num = VAR_search_var_num(name);
    return num < 0 ? -9999 : num;
}

int GRD_make_datatype(GRD_report* grid)
{
    if (!grid) return -1;
    if (VAR_make_datatype)
        VAR_make_datatype(grid->time, grid->ltype, grid->level, grid->var, grid->units, grid->info,
                          sizeof grid->info);
    return 0;
}
