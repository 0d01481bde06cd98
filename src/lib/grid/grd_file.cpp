// Grid files seen as grid sets: reading the requested grid of a file, searching an open file
// for several requests, writing result files, and soundings from grids of pressure levels.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "grd_tool_internal.hpp"
#include "string.hpp"
#include "vecttool.hpp"

using grd::kMissing;

namespace {

// Closes a grid-file slot when it goes out of scope.
struct Slot {
    int fd;
    explicit Slot(int f) : fd(f) {}
    ~Slot()
    {
        if (fd >= 0) GRD_close(fd);
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

bool wants_any_variable(const VAR_data& req)
{
    for (int v : req.var)
        if (v != -9999) return false;
    return true;
}

void drop_values(GRD_report* grid)
{
    std::free(grid->grid);
    grid->grid = nullptr;
}

// Reads the values of grid number num into grid and applies the request's unit.
int read_values(int fd, GRD_report* grid, int num, const VAR_data& req)
{
    drop_values(grid);
    int reached = num;
    if (GRD_read(fd, grid, 0, &reached) != 0 || !grid->grid) return -1;
    if (req.units[0]) GRD_units(grid, req.units);
    return reached;
}

// A damaged grid is passed over: the grids after it are still read.
void skip_warning(const char* who, const char* filename, int num)
{
    MESS_print(M_warn, "%s: grid %d%s%s cannot be decoded, skipped\n", who, num, filename[0] ? " of " : "", filename);
}

}  // namespace

bool grd::past_end(int grd_fd, int n)
{
    const GRD_file* gf = GRD_get_gfile(grd_fd);
    return gf && gf->type == GRD_TYPE_NETCDF && gf->access == 0 && n >= gf->max_num;
}

int grd::test_any(const GRD_report* grid, const VAR_data* req, int kind)
{
    if (!wants_any_variable(*req)) return GRD_test(grid, req, kind);
    GRD_report header = *grid;
    VAR_data test = *req;
    header.var = test.var[0] = 0;
    return GRD_test(&header, &test, kind);
}

int GRD_read_file(const char* filename, GRD_report* grid, GRD_info* info, int kind)
{
    if (!filename || !grid) return -1;
    int type = 0;
    Slot slot(GRD_open(filename, 0, &type));
    if (slot.fd < 0) {
        MESS_print(M_error, "GRD_read_file: Unable to open grid file: %s\n", filename);
        return -1;
    }
    GRD_info local{};
    if (GRD_getinfo(slot.fd, info ? info : &local) < 0) {
        MESS_print(M_error, "GRD_read_file: Unable to read grid file: %s\n", filename);
        return -1;
    }
    VAR_data req;
    int wanted_num = -9999;
    grd::get_request(&req, &wanted_num);
    if (wanted_num >= 0) {
        const int got = read_values(slot.fd, grid, wanted_num, req);
        return got < 0 ? 0 : got + 1;
    }
    bool damaged_match = false;
    for (int num = 0; !grd::past_end(slot.fd, num); ++num) {
        int reached = num;
        const int r = GRD_read(slot.fd, grid, 1, &reached);
        if (r == -1) break;
        if (r == 1) continue;   // a message without a product
        num = reached;
        if (r < 0) {
            skip_warning("GRD_read_file", filename, num);
            damaged_match = true;
            continue;
        }
        if (!grd::test_any(grid, &req, kind)) continue;
        const int got = read_values(slot.fd, grid, num, req);
        if (got >= 0) return got + 1;
        skip_warning("GRD_read_file", filename, num);
        damaged_match = true;
    }
    // A grid that could not be decoded may have been the one asked for: a failure, not "no
    // match".
    return damaged_match ? -1 : 0;
}

int GRD_search(int grd_fd, GRD_report* grids, VAR_data* params, int kind, int num)
{
    const int slots = num < 0 ? -num : num;
    auto open_slot = [&](int s) {
        if (grids[s].source != -9999 && grids[s].source != 0 && grids[s].grid) return false;
        if (num < 0) return true;
        return !wants_any_variable(params[s]);
    };
    auto all_found = [&]() {
        for (int s = 0; s < slots; ++s)
            if (open_slot(s)) return false;
        return true;
    };
    if (all_found()) return 1;
    GRD_report header;
    grd::clear_report(&header);
    for (int n = 0; !grd::past_end(grd_fd, n); ++n) {
        int reached = n;
        const int r = GRD_read(grd_fd, &header, 1, &reached);
        if (r == -1) break;
        if (r == 1) continue;
        n = reached;
        if (r < 0) {
            skip_warning("GRD_search", "", n);
            continue;
        }
        for (int s = 0; s < slots; ++s) {
            if (!open_slot(s) || !GRD_test(&header, &params[s], kind)) continue;
            if (read_values(grd_fd, &grids[s], n, params[s]) < 0) skip_warning("GRD_search", "", n);
        }
        if (all_found()) break;
    }
    drop_values(&header);
    return all_found() ? 1 : 0;
}

int GRD_out_file(const char* filename)
{
    if (!filename) return GRD_TYPE_QAZ;
    const char* dot = std::strrchr(filename, '.');
    const char* slash = std::strrchr(filename, '/');
    if (!dot || (slash && dot < slash)) return GRD_TYPE_QAZ;
    if (stricmp(dot, ".nc") == 0 || stricmp(dot, ".cdf") == 0) return GRD_TYPE_NETCDF;
    if (stricmp(dot, ".grb") == 0 || stricmp(dot, ".grib") == 0 || stricmp(dot, ".grb2") == 0 ||
        stricmp(dot, ".grib2") == 0)
        return GRD_TYPE_GRIB;
    if (stricmp(dot, ".bin") == 0) return GRD_TYPE_QAZBIN;
    return GRD_TYPE_QAZ;
}

int grd::save_grids(const char* filename, GRD_report* const* grids, int n, GRD_info* info, int type)
{
    if (!filename || n < 1 || !grd::has_values(grids[0])) return -1;
    if (type == GRD_TYPE_GRIB) {
        MESS_print(M_error, "GRD_save_file: GRIB files are not written: %s\n", filename);
        return -1;
    }
    GRD_info local{};
    if (!info) {
        str_copy(local.datim, sizeof local.datim, grids[0]->datim);
        local.date = grids[0]->date;
        info = &local;
    }
    for (int k = 0; k < n; ++k) {
        info->max_x = std::max(info->max_x, grids[k]->domain.nx);
        info->max_y = std::max(info->max_y, grids[k]->domain.ny);
    }
    int f_type = type;
    Slot slot(GRD_open(filename, 1, &f_type));
    if (slot.fd < 0) {
        MESS_print(M_error, "GRD_save_file: Unable to open grid file: %s\n", filename);
        return -1;
    }
    if (GRD_putinfo(slot.fd, info) < 0) {
        MESS_print(M_error, "GRD_save_file: Unable to write grid file: %s\n", filename);
        return -1;
    }
    for (int k = 0; k < n; ++k)
        if (GRD_write(slot.fd, grids[k], 0, k) < 0) {
            MESS_print(M_error, "GRD_save_file: Unable to write grid file: %s\n", filename);
            return -1;
        }
    return 0;
}

int GRD_save_file(const char* filename, GRD_report* grid, GRD_info* info, int type)
{
    GRD_report* grids[1] = {grid};
    return grd::save_grids(filename, grids, 1, info, type);
}
