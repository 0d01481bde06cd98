// gridcalc: the everyday grid tool. Inventories grid files, prints values at stations and
// positions, statistics, and computes derived, converted, remapped and combined grids into
// new files. Exit status 0 on success; 1 for a file that cannot be read or bad arguments, 2
// when no grid matches the request, 3 for an unknown function.
#include <cstdio>

#include "flag.hpp"
#include "grd_tool.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

res_type res_key[] = {RES_help,     RES_batch,       RES_message,  RES_file_path, RES_grid_path,
                      RES_current,  RES_parameter,   RES_plot_format, RES_out_file, RES_grid_domain,
                      RES_variable, RES_level,       RES_time,     RES_grid_num,  RES_city_file,
                      RES_name_conv, RES_plot_domain, RES_null};
res_type res_pos[] = {RES_command, RES_null};

constexpr const char* kUsage =
    "Usage: gridcalc [options] FILE[,var=V,lev=L,time=T,num=N] [FUNCTION [OPERANDS]] [= OUTFILE]\n"
    "  (no function)                 the selected grid itself: FILE,var=... = OUTFILE\n"
    "  info                          inventory of the file and the domain of its first grid\n"
    "  val|loc id ID... | ll LAT,LON... | GX,GY...   value or grid position at points\n"
    "  max min maxmin avg avgnum     statistics of the grid; domain: the grid's domain\n"
    "  add|sub|mul|div|mod|sub-|div- NUMBER          arithmetic with a constant\n"
    "  cor add|sub|sub-|mul|div|div- combine with the Coriolis parameter\n"
    "  unit UNITS | remap DOMAIN | cutoff lower|higher VALUE [NEW] | piece NXxNY\n"
    "  sum|avg|max|min = OUTFILE     reduction over the grids the item selects; with operands,\n"
    "                                point by point\n"
    "  any grid function with operand files or numbers: add sub mul div thick interp sqrt log\n"
    "    pow smooth dewp rhum theta thetae wspd wdir uwnd dot cross vdiff dx dy grad lapl conv\n"
    "    diverg vconv def1 def2 rvort avort adv ugeos vgeos uq vq ...\n"
    "  U barbs|arrows V = MAP.png    wind speed shaded, winds from the U and V grids drawn over it\n"
    "  OUTFILE ending in .nc is written as CF netCDF (.cdf: the library's netCDF layout), .png as\n"
    "    a map (plot_domain size,W,H; parameter cint=N for contours, palette=seq|div|amount),\n"
    "    anything else as a QAZGRID text file.\n";

int exit_status(int result)
{
    if (result >= 0) return 0;
    if (result == -2) return 2;
    if (result == -3) return 3;
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    RES_init(argc, argv, res_key, res_pos);
    if (FLAG_help()) {
        char name[RES_PROGNAME_SIZE];
        RES_get_progname(name, sizeof name);
        MESS_print(M_print, "%s : Grid inventory, values, statistics and grid math\n", name);
        MESS_print(M_print, "%s", kUsage);
        RES_help_print(name, res_key, res_pos);
        QAZ_exit(0);
    }
    int count = 0;
    char** words = nullptr;
    RES_getvals("command", &count, &words);
    if (count < 2) {
        MESS_print(M_error, "%s", kUsage);
        if (words) free_parsed_array(count, words);
        QAZ_exit(1);
    }
    const int result = GRD_math_command(count, words);
    free_parsed_array(count, words);
    QAZ_exit(exit_status(result));
}
