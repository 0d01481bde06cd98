// Grid sets: records, the 60-grid table, request matching, bilinear values, remapping,
// mosaics, statistics and thresholds. Files are read and written in grd_file.cpp.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "grd_tool_internal.hpp"
#include "grib.hpp"
#include "maptran.hpp"
#include "region.hpp"
#include "string.hpp"
#include "unittool.hpp"

using grd::kMissing;

namespace {

GRD_report table[GRD_MAX_GRIDS];
bool table_ready = false;
VAR_data request;
int request_num = -9999;
bool request_set = false;

void clear_request(VAR_data* req)
{
    for (int& v : req->var) v = -9999;
    req->ltype = req->level = req->time = -9999;
    req->units[0] = '\0';
}

bool parse_int(const char* text, int* out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    *out = static_cast<int>(v);
    return true;
}

// An edition 2 parameter written as its triplet "discipline.category.number": the library
// number the decoder gives it (through the parameter table), or -9999.
int triplet_var(const char* text)
{
    int d = 0, c = 0, n = 0, used = 0;
    if (std::sscanf(text, "%d.%d.%d%n", &d, &c, &n, &used) != 3 || text[used] != '\0') return -9999;
    if (d < 0 || d > 255 || c < 0 || c > 255 || n < 0 || n > 255) return -9999;
    GribParam gp;
    GRIB_get_ver2_param(&gp, 0, d, c, n);
    return gp.ind;
}

// Library level type of an edition 2 fixed-surface type (a single surface).
int level_type_of_edition2(int surface)
{
    static const int kMapped[][2] = {{100, 100}, {101, 102}, {102, 103}, {103, 105}, {104, 107}, {105, 109},
                                     {106, 111}, {107, 113}, {108, 115}, {109, 117}, {111, 119}};
    for (const auto& m : kMapped)
        if (m[0] == surface) return m[1];
    if (surface >= 112 && surface <= 199 && surface != 160) return 1000 + surface;
    return surface;
}

void ensure_table()
{
    if (table_ready) return;
    for (auto& g : table) grd::clear_report(&g);
    table_ready = true;
}

}  // namespace

void grd::clear_report(GRD_report* g)
{
    std::memset(g, 0, sizeof *g);
    GRD_init_report(g);
}

bool grd::has_values(const GRD_report* g) { return g && g->grid && GRD_num_points(g) > 0; }

bool grd::same_shape(const GRD_report* a, const GRD_report* b)
{
    return has_values(a) && has_values(b) && a->domain.nx == b->domain.nx && a->domain.ny == b->domain.ny;
}

namespace {

std::string domain_text(const Domain& d)
{
    char text[160];
    str_format(text, sizeof text, "proj %d %.4f,%.4f %dx%d spacing %.4f x %.4f", d.proj, d.clat, d.clon, d.nx, d.ny,
               d.dx, d.dy);
    return text;
}

bool near_angle(float a, float b)
{
    if (a == -9999.0f || b == -9999.0f) return a == b;
    const double d = std::fmod(std::fabs(static_cast<double>(a) - b), 360.0);
    return std::min(d, 360.0 - d) <= 1e-3;
}

bool near_spacing(float a, float b) { return std::fabs(a - b) <= 1e-4 * std::max(std::fabs(a), std::fabs(b)); }

}  // namespace

bool grd::same_domain(const GRD_report* a, const GRD_report* b, const char* who)
{
    const Domain& x = a->domain;
    const Domain& y = b->domain;
    auto pole = [](float p, float c) { return p == -9999.0f ? c : p; };
    bool same = x.proj == y.proj && x.nx == y.nx && x.ny == y.ny && near_angle(x.clat, y.clat) &&
                near_angle(x.clon, y.clon) && near_spacing(x.dx, y.dx) && near_spacing(x.dy, y.dy);
    // The pole and parameters place a projected grid; a latitude/longitude grid has none.
    if (same && x.proj != 2) {
        same = near_angle(pole(x.plat, x.clat), pole(y.plat, y.clat)) && near_angle(pole(x.plon, x.clon), pole(y.plon, y.clon));
        for (int k = 0; k < 3 && same; ++k) same = near_angle(x.param[k], y.param[k]);
    }
    if (!same)
        MESS_print(M_error, "%s: grids on different domains: %s and %s\n", who, domain_text(x).c_str(),
                   domain_text(y).c_str());
    return same;
}

long GRD_num_points(const GRD_report* grid)
{
    if (!grid || grid->domain.nx <= 0 || grid->domain.ny <= 0) return 0;
    const long n = static_cast<long>(grid->domain.nx) * grid->domain.ny;
    return n > grd::kMaxPoints ? 0 : n;
}

int GRD_alloc(GRD_report* grid)
{
    if (!grid) return -1;
    std::free(grid->grid);
    grid->grid = nullptr;
    const long n = GRD_num_points(grid);
    if (n <= 0) {
        MESS_print(M_error, "GRD_alloc: Unusable grid size %d x %d\n", grid->domain.nx, grid->domain.ny);
        return -1;
    }
    grid->grid = static_cast<float*>(std::malloc(static_cast<std::size_t>(n) * sizeof(float)));
    if (!grid->grid) {
        MESS_print(M_error, "GRD_alloc: No memory for %ld values\n", n);
        return -1;
    }
    for (long i = 0; i < n; ++i) grid->grid[i] = kMissing;
    return 0;
}

int GRD_copy_info(GRD_report* out, const GRD_report* in)
{
    if (!out || !in || out == in) return 0;
    std::free(out->grid);
    *out = *in;
    out->grid = nullptr;
    return 0;
}

int GRD_copy(GRD_report* out, const GRD_report* in)
{
    if (!out || !in || out == in) return 0;
    GRD_copy_info(out, in);
    if (!grd::has_values(in)) return 0;
    if (GRD_alloc(out) < 0) return -1;
    std::memcpy(out->grid, in->grid, static_cast<std::size_t>(GRD_num_points(in)) * sizeof(float));
    return 0;
}

int GRD_units(GRD_report* grid, const char* units)
{
    if (!grd::has_values(grid) || !units || !*units) return -1;
    if (stricmp(grid->units, units) == 0) return 0;
    double scale = 1.0, offset = 0.0;
    const int known = UNIT_linear(grid->units, units, &scale, &offset);
    if (known < 0) {
        MESS_print(M_error, "GRD_units: Unable to read the units file %s\n", UNIT_file_name().c_str());
        return -1;
    }
    // Relabelling values the table cannot convert would pass them off as another unit.
    if (known == 0) {
        MESS_print(M_error, "GRD_units: No conversion from %s to %s in %s\n",
                   grid->units[0] ? grid->units : "(no unit)", units, UNIT_file_name().c_str());
        return -1;
    }
    const long n = GRD_num_points(grid);
    float* v = grid->grid;
    for (long i = 0; i < n; ++i)
        if (v[i] != kMissing) v[i] = static_cast<float>(v[i] * scale + offset);
    str_copy(grid->units, sizeof grid->units, units);
    GRD_make_datatype(grid);
    return 0;
}

int GRD_info_text(const GRD_report* grid, char* text, std::size_t size)
{
    // The forecast time as a forecaster reads it ("24 h", "max 2-14 h"), not its coded form.
    char when[40];
    VAR_time_text(grid->time, when, static_cast<int>(sizeof when));
    str_format(text, size, "%s %s %-8s %s %dx%d %s", grid->datim, when[0] ? when : "-",
               VAR_model(VAR_model_code(grid->source, grid->model)), grid->info, grid->domain.nx, grid->domain.ny, grid->units);
    return 0;
}

void GRD_print_info(M_type mess, const GRD_report* grid)
{
    if (!grid) return;
    char text[256];
    GRD_info_text(grid, text, sizeof text);
    MESS_print(mess, "%s\n", text);
}

int GRD_init()
{
    ensure_table();
    for (auto& g : table) {
        std::free(g.grid);
        grd::clear_report(&g);
    }
    GRD_set_request(nullptr, -9999);
    return 0;
}

GRD_report* GRD_get_grid(int n)
{
    ensure_table();
    return n >= 0 && n < GRD_MAX_GRIDS ? &table[n] : nullptr;
}

int GRD_free_grid(int n)
{
    GRD_report* g = GRD_get_grid(n);
    if (!g) return -1;
    std::free(g->grid);
    grd::clear_report(g);
    return 0;
}

void GRD_set_request(const VAR_data* req, int grid_num)
{
    if (req) request = *req;
    else clear_request(&request);
    request_set = true;
    request_num = grid_num;
}

void grd::get_request(VAR_data* req, int* grid_num)
{
    if (!request_set) GRD_set_request(nullptr, -9999);
    *req = request;
    *grid_num = request_num;
}

int GRD_parse_params(const char* text, VAR_data* req, int* grid_num)
{
    clear_request(req);
    *grid_num = -9999;
    if (!text || !*text) return 0;
    char buffer[256];
    if (str_copy(buffer, sizeof buffer, text) < 0) {
        MESS_print(M_error, "GRD_parse_params: Request too long: %s\n", text);
        return -1;
    }
    char* save = nullptr;
    for (char* item = strtok_r(buffer, ",", &save); item; item = strtok_r(nullptr, ",", &save)) {
        char* eq = std::strchr(item, '=');
        if (!eq) {
            MESS_print(M_error, "GRD_parse_params: Expected key=value: %s\n", item);
            return -1;
        }
        *eq = '\0';
        const char* key = item;
        const char* value = eq + 1;
        bool ok = true;
        if (stricmp(key, "var") == 0 || stricmp(key, "variable") == 0) {
            char vars[128];
            str_copy(vars, sizeof vars, value);
            int n = 0;
            char* vsave = nullptr;
            for (char* v = strtok_r(vars, "/", &vsave); v && n < 5; v = strtok_r(nullptr, "/", &vsave)) {
                int num = -9999;
                if (!parse_int(v, &num)) num = triplet_var(v);
                if (num == -9999) num = grd::var_num(v);
                if (num == -9999) {
                    MESS_print(M_error, "GRD_parse_params: Unknown variable: %s\n", v);
                    return -1;
                }
                req->var[n++] = num;
            }
        } else if (stricmp(key, "lev") == 0 || stricmp(key, "level") == 0) {
            ok = parse_int(value, &req->level);
        } else if (stricmp(key, "ltype") == 0) {
            ok = parse_int(value, &req->ltype);
        } else if (stricmp(key, "ltype2") == 0) {
            ok = parse_int(value, &req->ltype);
            if (ok) req->ltype = level_type_of_edition2(req->ltype);
        } else if (stricmp(key, "time") == 0) {
            ok = parse_int(value, &req->time);
        } else if (stricmp(key, "num") == 0 || stricmp(key, "grid_num") == 0) {
            ok = parse_int(value, grid_num);
        } else if (stricmp(key, "units") == 0) {
            str_copy(req->units, sizeof req->units, value);
        } else {
            MESS_print(M_error, "GRD_parse_params: Unknown item: %s\n", key);
            return -1;
        }
        if (!ok) {
            MESS_print(M_error, "GRD_parse_params: Not a number: %s=%s\n", key, value);
            return -1;
        }
    }
    return 0;
}

int GRD_test(const GRD_report* grid, const VAR_data* params, int kind)
{
    bool var_ok = false;
    for (int v : params->var)
        if (v != -9999 && v == grid->var) var_ok = true;
    bool ok = var_ok;
    if (params->ltype != -9999 && params->ltype != grid->ltype) ok = false;
    if (params->level != -9999 && params->level != grid->level) ok = false;
    if (params->time != -9999) {
        const int have = params->time > 1000 ? grid->time : grid->time % 1000;
        if (have != params->time) ok = false;
    }
    if (kind != -9999 && kind != grid->type) ok = false;
    MESS_print(M_debug, "Searching: T-%d:%d LT-%d:%d L-%d:%d V-%d,%d,%d,%d,%d:%d G-%d:%d = %d\n",
               params->time, grid->time, params->ltype, grid->ltype, params->level, grid->level,
               params->var[0], params->var[1], params->var[2], params->var[3], params->var[4],
               grid->var, kind, grid->type, ok ? 1 : 0);
    return ok ? 1 : 0;
}

float GRD_get_value(const GRD_report* grid, float gx, float gy)
{
    if (!grd::has_values(grid)) return kMissing;
    const int nx = grid->domain.nx, ny = grid->domain.ny;
    // Columns around the whole earth: the last column's neighbour to the east is the first.
    const bool periodic = MAP_periodic_columns(&grid->domain) == nx;
    if (periodic && std::isfinite(gx)) {
        gx = std::fmod(gx, static_cast<float>(nx));
        if (gx < 0.0f) gx += static_cast<float>(nx);
        if (gx >= static_cast<float>(nx)) gx = 0.0f;  // -tiny + nx rounds to nx
    }
    if (!(gx >= 0.0f && gy >= 0.0f) || (!periodic && gx > nx - 0.9999f) || gy > ny - 0.9999f) return kMissing;
    int x = static_cast<int>(gx), y = static_cast<int>(gy);
    if (x > nx - 1) x = nx - 1;
    if (y > ny - 1) y = ny - 1;
    const float fx = gx - x, fy = gy - y;
    // Beyond the last column or row: the point itself, or across the seam the first column.
    const int x1 = x + 1 < nx ? x + 1 : (periodic ? 0 : x);
    const int y1 = y + 1 < ny ? y + 1 : y;
    const float* row0 = grid->grid + static_cast<long>(y) * nx;
    const float* row1 = grid->grid + static_cast<long>(y1) * nx;
    const float c = row0[x], e = row0[x1], f = row1[x], g = row1[x1];
    if (c == kMissing || e == kMissing || f == kMissing || g == kMissing) return kMissing;
    return (1 - fx) * (1 - fy) * c + fx * (1 - fy) * e + (1 - fx) * fy * f + fx * fy * g;
}

int GRD_get_position(const GRD_report* grid, float lat, float lon, float* gx, float* gy)
{
    *gx = *gy = kMissing;
    if (!grid) return -1;
    MAP_keep_domain guard;
    MAP_domain(&grid->domain);
    float x = 0, y = 0;
    if (MAP_tran(lat, lon, &x, &y) != 1) return -1;
    if (MAP_grid_untran(x, y, gx, gy) < 0) return -1;
    // On a grid around the earth every longitude lies between two columns.
    const int period = MAP_periodic_columns(&grid->domain);
    if (period > 0) {
        *gx = std::fmod(*gx, static_cast<float>(period));
        if (*gx < 0.0f) *gx += static_cast<float>(period);
    }
    return 0;
}

int GRD_remap(GRD_report* ogrid, const Domain* domain, const GRD_report* igrid)
{
    if (!ogrid || !domain || !grd::has_values(igrid) || ogrid == igrid) return -1;
    GRD_copy_info(ogrid, igrid);
    ogrid->domain = *domain;
    if (GRD_alloc(ogrid) < 0) return -1;
    const int nx = domain->nx, ny = domain->ny;
    const long n = GRD_num_points(ogrid);
    if (DOM_comp(domain, &igrid->domain)) {
        std::memcpy(ogrid->grid, igrid->grid, static_cast<std::size_t>(n) * sizeof(float));
        return 0;
    }
    // Two passes, one per active domain, instead of switching domains for every point.
    std::vector<float> lat(static_cast<std::size_t>(n)), lon(static_cast<std::size_t>(n));
    MAP_keep_domain guard;
    MAP_domain(domain);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const long k = static_cast<long>(j) * nx + i;
            float x = 0, y = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            if (MAP_untran(x, y, &lat[k], &lon[k]) != 1) lat[k] = kMissing;
        }
    MAP_domain(&igrid->domain);
    for (long k = 0; k < n; ++k) {
        if (lat[k] == kMissing) continue;
        float x = 0, y = 0, gx = 0, gy = 0;
        if (MAP_tran(lat[k], lon[k], &x, &y) != 1) continue;
        // A grid around the whole earth interpolates across its seam (GRD_get_value).
        MAP_grid_untran(x, y, &gx, &gy);
        ogrid->grid[k] = GRD_get_value(igrid, gx, gy);
    }
    return 0;
}

int GRD_piece_setup(GRD_report* grid, int nx, int ny, const GRD_report* igrid)
{
    if (!grid || nx < 1 || ny < 1) return -1;
    const GRD_report* tile = igrid ? igrid : grid;
    Domain td = tile->domain;
    if (td.nx < 2 || td.ny < 2) return -1;
    const long mnx = static_cast<long>(nx) * (td.nx - 1) + 1, mny = static_cast<long>(ny) * (td.ny - 1) + 1;
    if (mnx * mny > grd::kMaxPoints) {
        MESS_print(M_error, "GRD_piece_setup: Mosaic of %ld x %ld points is too large\n", mnx, mny);
        return -1;
    }
    Domain md = td;
    {
        // The mosaic keeps the tile's projection: pin the pole and central longitude first,
        // since unset ones follow the centre, which moves.
        MAP_keep_domain guard;
        MAP_domain(&td);
        if (md.plat == -9999.0f) md.plat = td.clat;
        if (md.plon == -9999.0f) md.plon = td.clon;
        float left = 0, top = 0;
        MAP_get_up_left(&left, &top);
        md.nx = static_cast<int>(mnx);
        md.ny = static_cast<int>(mny);
        const float cx = left + td.dx * (md.nx - 1) / 2.0f, cy = top - td.dy * (md.ny - 1) / 2.0f;
        MAP_domain(&md);
        float lat = 0, lon = 0;
        if (MAP_untran(cx, cy, &lat, &lon) != 1) return -1;
        md.clat = lat;
        md.clon = lon;
    }
    if (igrid && igrid != grid) {
        GRD_copy_info(grid, igrid);
        grid->domain = md;
        return GRD_alloc(grid);
    }
    // The tile itself becomes the mosaic: its values move into a mosaic-sized array as the
    // top-left tile, so the record never describes more points than it holds.
    float* mosaic = static_cast<float*>(std::malloc(static_cast<std::size_t>(mnx * mny) * sizeof(float)));
    if (!mosaic) {
        MESS_print(M_error, "GRD_piece_setup: No memory for a mosaic of %ld x %ld points\n", mnx, mny);
        return -1;
    }
    std::fill(mosaic, mosaic + mnx * mny, kMissing);
    if (grid->grid)
        for (int j = 0; j < td.ny; ++j)
            std::copy(grid->grid + static_cast<long>(j) * td.nx, grid->grid + static_cast<long>(j + 1) * td.nx,
                      mosaic + j * mnx);
    std::free(grid->grid);
    grid->grid = mosaic;
    grid->domain = md;
    return 0;
}

int GRD_piece_grid(GRD_report* grid, int x, int y, const GRD_report* igrid)
{
    if (!grd::has_values(grid) || !grd::has_values(igrid) || x < 0 || y < 0) return -1;
    const int tnx = igrid->domain.nx, tny = igrid->domain.ny;
    const long col = static_cast<long>(x) * (tnx - 1), row = static_cast<long>(y) * (tny - 1);
    const int mnx = grid->domain.nx, mny = grid->domain.ny;
    if (tnx > mnx || tny > mny || col + tnx > mnx || row + tny > mny) return -1;
    for (int j = 0; j < tny; ++j) {
        const float* src = igrid->grid + static_cast<long>(j) * tnx;
        float* dst = grid->grid + (row + j) * mnx + col;
        for (int i = 0; i < tnx; ++i)
            if (src[i] != kMissing) dst[i] = src[i];
    }
    return 0;
}

int GRD_maxmin(const GRD_report* grid, float* max, float* min)
{
    *max = *min = kMissing;
    if (!grd::has_values(grid)) return 0;
    const long n = GRD_num_points(grid);
    bool any = false;
    float hi = 0, lo = 0;
    for (long i = 0; i < n; ++i) {
        const float v = grid->grid[i];
        if (v == kMissing) continue;
        if (!any || v > hi) hi = v;
        if (!any || v < lo) lo = v;
        any = true;
    }
    if (!any) return 0;
    *max = hi;
    *min = lo;
    return 1;
}

int GRD_stats(const char* oper, const GRD_report* grid, float* p)
{
    p[0] = p[1] = kMissing;
    if (!oper || !grd::has_values(grid)) return 0;
    float hi = 0, lo = 0;
    if (stricmp(oper, "max") == 0 || stricmp(oper, "min") == 0 || stricmp(oper, "maxmin") == 0) {
        GRD_maxmin(grid, &hi, &lo);
        if (stricmp(oper, "max") == 0) p[0] = hi;
        else if (stricmp(oper, "min") == 0) p[0] = lo;
        else {
            p[0] = hi;
            p[1] = lo;
        }
        return 1;
    }
    const bool avg = stricmp(oper, "avg") == 0, avgnum = stricmp(oper, "avgnum") == 0;
    if (!avg && !avgnum) return 0;
    const long n = GRD_num_points(grid);
    double sum = 0;
    long count = 0;
    for (long i = 0; i < n; ++i)
        if (grid->grid[i] != kMissing) {
            sum += grid->grid[i];
            ++count;
        }
    if (count > 0) {
        p[0] = static_cast<float>(sum / count);
        if (avgnum) p[1] = static_cast<float>(count);
    }
    return 1;
}

int GRD_cutoff(GRD_report* ogrid, const char* cmd, const GRD_report* igrid, float cutoff, float nval)
{
    if (!cmd || !grd::has_values(igrid)) return -1;
    const bool lower = stricmp(cmd, "lower") == 0, higher = stricmp(cmd, "higher") == 0;
    if (!lower && !higher) {
        MESS_print(M_error, "GRD_cutoff: Unknown operator: %s\n", cmd);
        return -1;
    }
    if (ogrid != igrid && GRD_copy(ogrid, igrid) < 0) return -1;
    const long n = GRD_num_points(ogrid);
    float* v = ogrid->grid;
    for (long i = 0; i < n; ++i) {
        if (v[i] == kMissing) continue;
        if (lower ? v[i] < cutoff : v[i] > cutoff) v[i] = nval;
    }
    return 0;
}
