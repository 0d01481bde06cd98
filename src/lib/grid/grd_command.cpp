// The grid command driver: command words name a grid file, a function with its operands and
// optionally "=" and an output file; results are printed or written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cty_tool.hpp"
#include "draw.hpp"
#include "files.hpp"
#include "grib.hpp"
#include "plt_labl.hpp"
#include "grd_tool_internal.hpp"
#include "region.hpp"
#include "resrc.hpp"
#include "string.hpp"

using grd::kMissing;

namespace {

constexpr int kFail = -1;
constexpr int kNoGrid = -2;
constexpr int kBadFunction = -3;

// A grid record that frees its values.
struct Grid {
    GRD_report g{};
    Grid() { grd::clear_report(&g); }
    ~Grid() { std::free(g.grid); }
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;
};

bool parse_float(const char* text, float* out)
{
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text, &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// The base request from the resources "variable", "level", "time" and "grid_num".
struct Request {
    VAR_data req{};
    int num = -9999;
};

bool resource_request(Request* r)
{
    std::string text;
    struct Key {
        const char* resource;
        const char* item;
    } keys[] = {{"variable", "var"}, {"level", "lev"}, {"time", "time"}, {"grid_num", "num"}};
    for (const Key& k : keys) {
        const char* value = RES_get(k.resource);
        if (!value || !*value) continue;
        if (!text.empty()) text += ",";
        text += std::string(k.item) + "=" + value;
    }
    return GRD_parse_params(text.c_str(), &r->req, &r->num) == 0;
}

// Resolves the file part of an operand: an existing name, one in "grid_path", or a time
// expression of the naming convention ("la", "cu", "#YYYYMMDDHHNN", offsets).
bool resolve_file(const char* name, char* path, std::size_t size)
{
    // "-" is standard input.
    if (FILE_exist(name) || std::strcmp(name, "-") == 0) return str_copy(path, size, name) == 0;
    const char* grid_path = RES_get("grid_path");
    if (grid_path && *grid_path && name[0] != '/') {
        char joined[FILE_NAME_SIZE];
        FILE_add_path(grid_path, name, joined, sizeof joined);
        if (FILE_exist(joined)) return str_copy(path, size, joined) == 0;
    }
    // With "current" set, the word names a data type of the naming convention: its file at
    // that time.
    if (const char* current = RES_get("current")) {
        char named[FILE_NAME_SIZE];
        FILE_set_name(name);
        FILE_set_current(*current ? current : "la", named);
        if (named[0] && FILE_exist(named)) return str_copy(path, size, named) == 0;
    }
    const bool time_expr = name[0] == '#' || strnicmp(name, "la", 2) == 0 || strnicmp(name, "cu", 2) == 0;
    if (time_expr) {
        char named[FILE_NAME_SIZE];
        FILE_set_current(name, named);
        if (named[0] && FILE_exist(named)) return str_copy(path, size, named) == 0;
    }
    str_copy(path, size, name);
    return false;
}

// Why a grid file cannot be read: the system's reason.
std::string unreadable_reason(const char* path)
{
    struct stat st {};
    if (::stat(path, &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory";
    if (::access(path, R_OK) != 0) return std::strerror(errno);
    return "";
}

// Resolves the file of an item and says why when it cannot be read.
bool readable_file(const char* name, char* path, std::size_t size)
{
    if (std::strcmp(name, "-") == 0) return str_copy(path, size, name) == 0;   // standard input
    const bool found = resolve_file(name, path, size);
    const std::string why = unreadable_reason(path);
    if (found && why.empty()) return true;
    MESS_print(M_error, "Unable to open grid file: %s: %s\n", name, why.empty() ? "not found" : why.c_str());
    return false;
}

// Splits "file,var=...,lev=..." into the file's path and the request: the base request with
// the item's selections.
int parse_item(const char* item, const Request& base, Request* r, char* path, std::size_t size)
{
    char text[FILE_NAME_SIZE + 100];
    if (str_copy(text, sizeof text, item) < 0) {
        MESS_print(M_error, "Grid file name too long: %s\n", item);
        return kFail;
    }
    *r = base;
    char* comma = std::strchr(text, ',');
    if (comma) {
        *comma = '\0';
        Request extra;
        if (GRD_parse_params(comma + 1, &extra.req, &extra.num) < 0) return kFail;
        for (int k = 0; k < 5; ++k)
            if (extra.req.var[k] != -9999) {
                std::copy(extra.req.var, extra.req.var + 5, r->req.var);
                break;
            }
        if (extra.req.ltype != -9999) r->req.ltype = extra.req.ltype;
        if (extra.req.level != -9999) r->req.level = extra.req.level;
        if (extra.req.time != -9999) r->req.time = extra.req.time;
        if (extra.req.units[0]) str_copy(r->req.units, sizeof r->req.units, extra.req.units);
        if (extra.num != -9999) r->num = extra.num;
    }
    return readable_file(text, path, size) ? 0 : kFail;
}

// Splits "file,var=...,lev=..." and reads the grid the operand and the base request ask for.
int load_grid(const char* item, const Request& base, GRD_report* grid, GRD_info* info)
{
    Request r;
    char path[FILE_NAME_SIZE];
    if (parse_item(item, base, &r, path, sizeof path) < 0) return kFail;
    GRD_set_request(&r.req, r.num);
    const int got = GRD_read_file(path, grid, info, -9999);
    if (got < 0) return kFail;
    if (got == 0) {
        MESS_print(M_error, "No grid matches the request in %s\n", path);
        return kNoGrid;
    }
    return 0;
}

// plot_format is the user's: accept one float conversion and plain text only.
std::string value_format()
{
    const char* fmt = RES_get("plot_format");
    if (!fmt || !*fmt) return "%f";
    if (printf_number_kind(fmt) != 1) {
        MESS_print(M_warn, "Unusable plot_format ignored: %s\n", fmt);
        return "%f";
    }
    return fmt;
}

void print_value(float v, const std::string& fmt)
{
    if (v == kMissing) {
        MESS_print(M_print, "--\n");
        return;
    }
    char text[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, fmt.c_str(), static_cast<double>(v));
#pragma GCC diagnostic pop
    MESS_print(M_print, "%s\n", text);
}

// Positions named by "id" stations, "ll" lat,lon pairs or plain gx,gy grid positions.
int points(const GRD_report* grid, char** words, int n, bool values)
{
    if (n < 1) {
        MESS_print(M_error, "Expected id, ll or grid positions\n");
        return kFail;
    }
    const std::string fmt = value_format();
    int first = 0;
    enum { by_id, by_ll, by_grid } mode = by_grid;
    if (stricmp(words[0], "id") == 0) {
        mode = by_id;
        first = 1;
    } else if (stricmp(words[0], "ll") == 0) {
        mode = by_ll;
        first = 1;
    }
    int status = 0;
    for (int k = first; k < n; ++k) {
        float gx = kMissing, gy = kMissing;
        if (mode == by_grid || mode == by_ll) {
            float a = 0, b = 0;
            char rest = '\0';
            if (std::sscanf(words[k], "%f,%f%c", &a, &b, &rest) != 2) {
                MESS_print(M_error, "Expected two numbers a,b: %s\n", words[k]);
                status = kFail;
                continue;
            }
            if (mode == by_grid) {
                gx = a;
                gy = b;
            } else if (GRD_get_position(grid, a, b, &gx, &gy) < 0) {
                gx = gy = kMissing;
            }
        } else {
            float lat = 0, lon = 0;
            if (!CTY_get_loc(nullptr, words[k], &lat, &lon)) {
                MESS_print(M_error, "Station not found: %s\n", words[k]);
                status = kFail;
                continue;
            }
            if (GRD_get_position(grid, lat, lon, &gx, &gy) < 0) gx = gy = kMissing;
        }
        if (values) print_value(gx == kMissing ? kMissing : GRD_get_value(grid, gx, gy), fmt);
        else MESS_print(M_print, "%f %f\n", gx, gy);
    }
    return status;
}

int print_stats(const char* oper, const GRD_report* grid)
{
    float p[2];
    if (!GRD_stats(oper, grid, p)) return kBadFunction;
    const bool two = stricmp(oper, "maxmin") == 0 || stricmp(oper, "avgnum") == 0;
    for (int k = 0; k < (two ? 2 : 1); ++k) {
        if (p[k] == kMissing) MESS_print(M_print, "-- ");
        else MESS_print(M_print, "%f ", p[k]);
    }
    MESS_print(M_print, "\n");
    return 0;
}

// "2026-12-08 06Z" (a minute only when there is one); "-" when unknown.
std::string date_text(const Date& d)
{
    if (d.year == -9999 || d.month == -9999 || d.day == -9999) return "-";
    char text[40];
    if (d.hour == -9999) str_format(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    else if (d.min > 0) str_format(text, sizeof text, "%04d-%02d-%02d %02d:%02dZ", d.year, d.month, d.day, d.hour, d.min);
    else str_format(text, sizeof text, "%04d-%02d-%02d %02dZ", d.year, d.month, d.day, d.hour);
    return text;
}

// One inventory line: number, abbreviation, level, forecast time, reference and valid
// time, model, long name with unit, the codes a selection uses, and the grid size.
std::string inventory_line(int n, const GRD_report& g)
{
    char abbrev[24], level[48], time[40], select[64];
    VAR_var_abbrev(g.var, abbrev, sizeof abbrev);
    VAR_level_text(g.ltype, g.level, level, sizeof level);
    VAR_time_text(g.time, time, sizeof time);
    Date valid;
    VAR_valid_date(&g.date, g.time, &valid);
    str_format(select, sizeof select, "ltype=%d lev=%d", g.ltype, g.level);
    const char* long_name = VAR_var_long_name(g.var);
    char name[96];
    if (long_name[0]) str_format(name, sizeof name, "%s%s%s%s", long_name, g.units[0] ? " (" : "", g.units, g.units[0] ? ")" : "");
    else str_copy(name, sizeof name, g.info);
    char line[400];
    str_format(line, sizeof line, "%3d %-8s %-20s %-14s %-15s %-15s %-8s %s  %s %dx%d", n, abbrev,
               level[0] ? level : "-", time[0] ? time : "-", date_text(g.date).c_str(),
               date_text(valid).c_str(), VAR_model(VAR_model_code(g.source, g.model)), name, select, g.domain.nx, g.domain.ny);
    return line;
}

// Lists the GRIB message starts the scan has skipped since the last call (printed counts
// how many were listed already). true when there were any.
bool list_skipped_messages(int fd, int* printed)
{
    const int total = GRIB_damaged(fd, -1, nullptr, nullptr, 0);
    bool any = false;
    for (; *printed < total; ++*printed) {
        off_t offset = 0;
        char why[160];
        GRIB_damaged(fd, *printed, &offset, why, sizeof why);
        MESS_print(M_print, "  - damaged message at offset %lld skipped: %s\n", static_cast<long long>(offset), why);
        any = true;
    }
    return any;
}

// Every grid header of a file, numbered, and the domain of the first. A message that cannot
// be decoded is listed with what its header says and the reason, and the listing goes on;
// the result is then a failure, as for a file cut short.
int inventory(const char* item)
{
    char path[FILE_NAME_SIZE];
    char name[FILE_NAME_SIZE + 100];
    str_copy(name, sizeof name, item);
    if (char* comma = std::strchr(name, ',')) *comma = '\0';
    if (!readable_file(name, path, sizeof path)) return kFail;
    int type = 0;
    const int fd = GRD_open(path, 0, &type);
    if (fd < 0) {
        MESS_print(M_error, "Unable to open grid file: %s: not a grid file of a known type\n", path);
        return kFail;
    }
    GRD_info info{};
    if (GRD_getinfo(fd, &info) < 0) {
        GRD_close(fd);
        MESS_print(M_error, "Unable to read grid file: %s\n", path);
        return kFail;
    }
    const bool grib = type == GRD_TYPE_GRIB;
    Grid header;
    Domain first;
    DOM_init(&first);
    int count = 0, failed = 0, skipped_listed = 0;
    bool skipped = false;
    for (int n = 0; !grd::past_end(fd, n); ++n) {
        int reached = n;
        GRD_free_report(&header.g);
        grd::clear_report(&header.g);
        MESS_clear_last_error();
        const int r = GRD_read(fd, &header.g, 2, &reached);
        if (grib && list_skipped_messages(fd, &skipped_listed)) skipped = true;
        if (r == -1) break;
        if (r == 1) continue;  // a message without a product
        n = reached;
        if (r < 0) {
            const char* why = MESS_last_error();
            MESS_print(M_print, "%s  NOT DECODED: %s\n", inventory_line(n, header.g).c_str(),
                       why[0] ? why : "damaged message");
            ++failed;
            continue;
        }
        if (count == 0) first = header.g.domain;
        MESS_print(M_print, "%s\n", inventory_line(n, header.g).c_str());
        ++count;
    }
    if (grib && list_skipped_messages(fd, &skipped_listed)) skipped = true;
    GRD_close(fd);
    if (count == 0 && failed == 0) {
        MESS_print(M_error, "No grids in %s\n", path);
        return skipped ? kFail : kNoGrid;
    }
    if (count > 0) {
        MESS_print(M_print, "Domain: ");
        DOM_print(M_print, &first);
    }
    if (failed || skipped) {
        MESS_print(M_warn, "%s: %d message%s not decoded, %d damaged message%s skipped\n", path, failed,
                   failed == 1 ? "" : "s", skipped_listed, skipped_listed == 1 ? "" : "s");
        return kFail;
    }
    return 0;
}

bool is_picture(const char* name)
{
    std::size_t len = name ? std::strlen(name) : 0;
    return len > 4 && stricmp(name + len - 4, ".png") == 0;
}

// Picture settings from resources: plot_domain "size,W,H" for the picture size; parameter
// items "cint=N" (contour interval) and "palette=seq|div|amount".
bool picture_options(DRAW_map_opts* opts)
{
    DRAW_map_defaults(opts);
    const char* size = RES_get("plot_domain");
    if (size && *size) {
        Domain d;
        DOM_init(&d);
        if (DOM_decode(size, &d) == 1 && d.proj == 51 && d.nx > 0 && d.ny > 0) {
            opts->width = d.nx;
            opts->height = d.ny;
        } else {
            MESS_print(M_error, "Picture size not understood (size,WIDTH,HEIGHT): %s\n", size);
            return false;
        }
    }
    int count = 0;
    char** items = nullptr;
    RES_getvals("parameter", &count, &items);
    for (int k = 0; k < count; ++k) {
        const char* item = items[k];
        if (strnicmp(item, "cint=", 5) == 0) {
            float cint;
            if (parse_float(item + 5, &cint) && cint > 0) opts->cint = cint;
            else MESS_print(M_warn, "Contour interval not understood: %s\n", item);
        } else if (strnicmp(item, "palette=", 8) == 0) {
            opts->palette = strnicmp(item + 8, "div", 3) == 0   ? DRAW_PALETTE_DIVERGING
                            : strnicmp(item + 8, "seq", 3) == 0 ? DRAW_PALETTE_SEQUENTIAL
                            : strnicmp(item + 8, "amo", 3) == 0 ? DRAW_PALETTE_AMOUNT
                                                                : DRAW_PALETTE_AUTO;
        }
    }
    if (items) free_parsed_array(count, items);
    return true;
}

// One map per grid: the first under the given name, further ones (vector results) with
// "_2", "_3", ... before the ".png".
int draw_grids(const char* target, GRD_report* const* grids, int n, const GRD_report* wind_u = nullptr,
               const GRD_report* wind_v = nullptr, int wind_style = 1)
{
    DRAW_map_opts opts;
    if (!picture_options(&opts)) return kFail;
    opts.wind_u = wind_u;
    opts.wind_v = wind_v;
    opts.wind_style = wind_style;
    const std::string name(target);
    int status = 0;
    for (int k = 0; k < n; ++k) {
        std::string file = name;
        if (k > 0) file.insert(file.size() - 4, "_" + std::to_string(k + 1));
        if (DRAW_map_png(grids[k], file.c_str(), &opts) < 0) {
            status = kFail;
            continue;
        }
        MESS_print(M_mess, "Wrote %s\n", file.c_str());
    }
    DRAW_release();
    return status;
}

// "U barbs V = map.png" (or arrows): the wind speed shaded with the winds drawn over it.
int draw_wind(const char* u_item, const char* style, const char* v_item, const char* out, const Request& base)
{
    if (!is_picture(out)) {
        MESS_print(M_error, "%s draws a map: give an output file ending in .png\n", style);
        return kFail;
    }
    Grid u, v, speed;
    GRD_info info{};
    int r = load_grid(u_item, base, &u.g, &info);
    if (r < 0 || (r = load_grid(v_item, base, &v.g, nullptr)) < 0) return r;
    if (!grd::same_shape(&u.g, &v.g) || GRD_copy(&speed.g, &u.g) < 0) {
        MESS_print(M_error, "The wind components are not on one grid\n");
        return kFail;
    }
    const long n = GRD_num_points(&speed.g);
    for (long k = 0; k < n; ++k)
        speed.g.grid[k] = u.g.grid[k] == kMissing || v.g.grid[k] == kMissing ? kMissing
                                                                          : std::hypot(u.g.grid[k], v.g.grid[k]);
    speed.g.var = 32;  // wind speed
    VAR_make_datatype(speed.g.time, speed.g.ltype, speed.g.level, 32, speed.g.units, speed.g.info, sizeof speed.g.info);
    GRD_report* grids[1] = {&speed.g};
    return draw_grids(out, grids, 1, &u.g, &v.g, stricmp(style, "arrows") == 0 ? 2 : 1);
}

int save_or_show(const char* out, GRD_report* const* grids, int n, GRD_info* info)
{
    const char* target = out;
    if (!target || !*target) target = RES_get("out_file");
    if (!target || !*target) {
        for (int k = 0; k < n; ++k) {
            GRD_print_info(M_print, grids[k]);
            print_stats("maxmin", grids[k]);
        }
        return 0;
    }
    if (is_picture(target)) return draw_grids(target, grids, n);
    if (grd::save_grids(target, grids, n, info, GRD_out_file(target)) < 0) return kFail;
    MESS_print(M_mess, "Wrote %s\n", target);
    return 0;
}

bool is_stats(const char* word)
{
    static const char* const kStats[] = {"max", "min", "maxmin", "avg", "avgnum"};
    for (const char* s : kStats)
        if (stricmp(word, s) == 0) return true;
    return false;
}

bool is_arith(const char* word)
{
    static const char* const kOps[] = {"add", "sub", "mul", "div", "mod", "sub-", "div-"};
    for (const char* s : kOps)
        if (stricmp(word, s) == 0) return true;
    return false;
}

// Arithmetic with a constant: "sub-" and "div-" put the constant first.
int constant_arith(GRD_report* out, const GRD_report* in, const char* op, float c)
{
    if (GRD_copy(out, in) < 0) return kFail;
    const long n = GRD_num_points(out);
    float* v = out->grid;
    for (long k = 0; k < n; ++k) {
        const float a = v[k];
        if (a == kMissing) continue;
        float r = kMissing;
        if (stricmp(op, "add") == 0) r = a + c;
        else if (stricmp(op, "sub") == 0) r = a - c;
        else if (stricmp(op, "sub-") == 0) r = c - a;
        else if (stricmp(op, "mul") == 0) r = a * c;
        else if (stricmp(op, "div") == 0) r = c == 0.0f ? kMissing : a / c;
        else if (stricmp(op, "div-") == 0) r = a == 0.0f ? kMissing : c / a;
        else if (stricmp(op, "mod") == 0) r = c == 0.0f ? kMissing : std::fmod(a, c);
        v[k] = std::isfinite(r) ? r : kMissing;
    }
    return 0;
}

bool set_format_from_parameter()
{
    int count = 0;
    char** items = nullptr;
    RES_getvals("parameter", &count, &items);
    bool ok = true;
    for (int k = 0; k < count; ++k)
        if (strnicmp(items[k], "grdfmt", 6) == 0 && items[k][6] != '\0' && GRD_set_format(items[k] + 7) < 0) ok = false;
    if (items) free_parsed_array(count, items);
    return ok;
}

bool is_reduction(const char* word)
{
    return stricmp(word, "sum") == 0 || stricmp(word, "avg") == 0 || stricmp(word, "max") == 0 ||
           stricmp(word, "min") == 0;
}

// Words a form of the command takes after the file and the function word.
bool operand_count(const char* func, int given, int least, int most, const char* usage)
{
    if (given >= least && given <= most) return true;
    MESS_print(M_error, "%s takes %s: %s\n", func, usage, given < least ? "too few words" : "too many words");
    return false;
}

}  // namespace

int GRD_math_file(const char* oper, char** items, int n)
{
    if (!oper || n < 1) return 0;
    const bool sum = stricmp(oper, "sum") == 0, avg = stricmp(oper, "avg") == 0;
    const bool max = stricmp(oper, "max") == 0, min = stricmp(oper, "min") == 0;
    if (!sum && !avg && !max && !min) return 0;
    // The grids the item and the selection resources name, nothing else.
    Request base;
    if (!resource_request(&base)) return 0;
    Request r;
    char path[FILE_NAME_SIZE];
    if (parse_item(items[0], base, &r, path, sizeof path) < 0) return 0;
    int type = 0;
    const int fd = GRD_open(path, 0, &type);
    if (fd < 0) {
        MESS_print(M_error, "Unable to open grid file: %s: not a grid file of a known type\n", path);
        return 0;
    }
    GRD_info info{};
    GRD_getinfo(fd, &info);
    Grid acc, cur;
    std::vector<int> counts;
    int grids = 0;
    for (int num = 0; !grd::past_end(fd, num); ++num) {
        int reached = num;
        std::free(cur.g.grid);
        cur.g.grid = nullptr;
        const int rh = GRD_read(fd, &cur.g, 1, &reached);
        if (rh == -1) break;
        if (rh > 0) continue;   // a message without a product
        if (rh < 0) {
            MESS_print(M_warn, "GRD_math_file: grid %d of %s cannot be decoded, skipped\n", reached, path);
            num = reached;
            continue;
        }
        num = reached;
        if ((r.num >= 0 && num != r.num) || !grd::test_any(&cur.g, &r.req, -9999)) continue;
        reached = num;
        const int rv = GRD_read(fd, &cur.g, 0, &reached);
        if (rv < -1 || (rv == 0 && !cur.g.grid)) {
            MESS_print(M_warn, "GRD_math_file: grid %d of %s cannot be decoded, skipped\n", num, path);
            continue;
        }
        if (rv != 0) {
            GRD_close(fd);
            MESS_print(M_error, "GRD_math_file: Unable to read grid %d of %s\n", num, path);
            return 0;
        }
        if (r.req.units[0] && GRD_units(&cur.g, r.req.units) < 0) {
            GRD_close(fd);
            return 0;
        }
        if (grids == 0) {
            GRD_copy(&acc.g, &cur.g);
            counts.assign(static_cast<std::size_t>(GRD_num_points(&acc.g)), 0);
            for (std::size_t k = 0; k < counts.size(); ++k) counts[k] = acc.g.grid[k] != kMissing;
        } else {
            if (!grd::same_shape(&acc.g, &cur.g) || !grd::same_domain(&acc.g, &cur.g, "GRD_math_file")) {
                GRD_close(fd);
                MESS_print(M_error, "GRD_math_file: Invalid grids\n");
                return 0;
            }
            if (stricmp(acc.g.units, cur.g.units) != 0) {
                GRD_close(fd);
                MESS_print(M_error, "GRD_math_file: grids in %s and %s cannot be combined: select one quantity\n",
                           acc.g.units, cur.g.units);
                return 0;
            }
            for (std::size_t k = 0; k < counts.size(); ++k) {
                const float v = cur.g.grid[k];
                if (v == kMissing) continue;
                float& a = acc.g.grid[k];
                if (counts[k] == 0) a = v;
                else if (sum || avg) a += v;
                else if (max) a = std::max(a, v);
                else a = std::min(a, v);
                ++counts[k];
            }
        }
        ++grids;
    }
    GRD_close(fd);
    if (grids == 0) {
        MESS_print(M_error, "GRD_math_file: No grid matches the request in %s\n", path);
        return 0;
    }
    if (avg)
        for (std::size_t k = 0; k < counts.size(); ++k)
            if (counts[k] > 0) acc.g.grid[k] /= static_cast<float>(counts[k]);
    GRD_report* out[1] = {&acc.g};
    return save_or_show(n > 1 ? items[n - 1] : nullptr, out, 1, &info) == 0 ? 1 : 0;
}

int GRD_math_command(int num, char** cmd)
{
    if (num < 2 || !cmd) {
        MESS_print(M_error, "Expected a grid file and a function\n");
        return kFail;
    }
    if (!set_format_from_parameter()) return kFail;
    Request base;
    if (!resource_request(&base)) return kFail;
    // "=" and one output file end the words.
    const char* out = nullptr;
    int words = num;
    for (int k = 1; k < num; ++k)
        if (std::strcmp(cmd[k], "=") == 0) {
            if (k + 2 != num || std::strcmp(cmd[k + 1], "=") == 0) {
                MESS_print(M_error, "Expected one output file after =\n");
                return kFail;
            }
            out = cmd[k + 1];
            words = k;
            break;
        }
    if (words == 1) {  // "FILE = OUTFILE": the selected grid itself
        Grid only;
        GRD_info info{};
        const int r = load_grid(cmd[0], base, &only.g, &info);
        if (r < 0) return r;
        GRD_report* outs[1] = {&only.g};
        return save_or_show(out, outs, 1, &info);
    }
    const char* func = cmd[1];
    const int extra = words - 2;   // words after the function word
    if (stricmp(func, "info") == 0) {
        if (!operand_count(func, extra, 0, 0, "no further words")) return kFail;
        return inventory(cmd[0]);
    }
    if ((stricmp(func, "barbs") == 0 || stricmp(func, "arrows") == 0) && words == 3)
        return draw_wind(cmd[0], func, cmd[2], out ? out : RES_get("out_file"), base);
    // A reduction names the grids of a file; with operands the same words are point-wise.
    if (is_reduction(func) && extra == 0 && out) {
        char* items[2] = {cmd[0], const_cast<char*>(out)};
        return GRD_math_file(func, items, 2) ? 0 : kFail;
    }
    const bool pointwise = is_reduction(func) && extra > 0;
    if (GRD_is_plot_func(func)) {
        MESS_print(M_error, "%s draws wind symbols or streamlines in a picture; it computes no grid\n", func);
        return kFail;
    }
    if (!is_stats(func) && !is_arith(func) && !GRD_is_math_func(func) &&
        !(stricmp(func, "val") == 0 || stricmp(func, "loc") == 0 || stricmp(func, "domain") == 0 ||
          stricmp(func, "cor") == 0 || stricmp(func, "piece") == 0 || stricmp(func, "unit") == 0 ||
          stricmp(func, "remap") == 0 || stricmp(func, "cutoff") == 0 || stricmp(func, "sum") == 0)) {
        MESS_print(M_error, "GRD_math: Math function not available: %s\n", func);
        return kBadFunction;
    }
    // Check the words of each form before reading anything.
    float c = 0;
    const bool with_constant = is_arith(func) && extra == 1 && parse_float(cmd[2], &c);
    if (stricmp(func, "domain") == 0 || (is_stats(func) && !pointwise)) {
        if (!operand_count(func, extra, 0, 0, "no further words")) return kFail;
    } else if (stricmp(func, "cor") == 0) {
        if (!operand_count(func, extra, 1, 1, "one operator (add, sub, sub-, mul, div, div-)")) return kFail;
    } else if (stricmp(func, "unit") == 0) {
        if (!operand_count(func, extra, 1, 1, "one unit text")) return kFail;
    } else if (stricmp(func, "remap") == 0) {
        if (!operand_count(func, extra, 0, 1, "at most one domain")) return kFail;
    } else if (stricmp(func, "cutoff") == 0) {
        if (!operand_count(func, extra, 2, 3, "lower|higher VALUE [NEW]")) return kFail;
    } else if (stricmp(func, "piece") == 0) {
        if (!operand_count(func, extra, 1, 1, "NXxNY")) return kFail;
    } else if (stricmp(func, "val") == 0 || stricmp(func, "loc") == 0) {
        if (!operand_count(func, extra, 1, 1 << 20, "id, ll or grid positions")) return kFail;
    } else if (!with_constant) {
        int least = 0, most = 0;
        const bool vect = GRD_is_vect_func(func);
        if (grd::math_operands(func, &least, &most)) {
            char usage[64];
            str_format(usage, sizeof usage, "%d to %d operands", least, most);
            if (least == most) str_format(usage, sizeof usage, "%d operand%s", least, least == 1 ? "" : "s");
            // The file is the first operand.
            if (!operand_count(func, extra + 1, least, std::min(most, GRD_MATH_OPERANDS - (vect ? 2 : 1)), usage))
                return kFail;
        }
    }
    Grid first;
    GRD_info info{};
    int r = load_grid(cmd[0], base, &first.g, &info);
    if (r < 0) return r;
    GRD_report* g = &first.g;
    if (stricmp(func, "domain") == 0) {
        DOM_print(M_print, &g->domain);
        return 0;
    }
    if (is_stats(func) && !pointwise) return print_stats(func, g);
    if (stricmp(func, "val") == 0 || stricmp(func, "loc") == 0)
        return points(g, cmd + 2, words - 2, stricmp(func, "val") == 0);

    Grid result, result2;
    if (with_constant) {
        if (constant_arith(&result.g, g, func, c) < 0) return kFail;
    } else if (stricmp(func, "cor") == 0) {
        if (GRD_copy(&result.g, g) < 0 || GRD_coriolis(&result.g, cmd[2]) < 0) return kFail;
    } else if (stricmp(func, "unit") == 0) {
        if (GRD_copy(&result.g, g) < 0 || GRD_units(&result.g, cmd[2]) < 0) return kFail;
    } else if (stricmp(func, "remap") == 0) {
        Domain d;
        DOM_init(&d);
        const int decoded = words >= 3 ? DOM_decode(cmd[2], &d) : DOM_get_grid_domain(&d);
        if (decoded != DOM_DECODE_VALUES && decoded != DOM_DECODE_REGION) {
            MESS_print(M_error, "Unknown domain: %s\n", words >= 3 ? cmd[2] : "");
            return kFail;
        }
        if (GRD_remap(&result.g, &d, g) < 0) return kFail;
    } else if (stricmp(func, "cutoff") == 0) {
        float cut = 0, nval = kMissing;
        if (!parse_float(cmd[3], &cut) || (words >= 5 && !parse_float(cmd[4], &nval))) {
            MESS_print(M_error, "Expected cutoff lower|higher VALUE [NEW]\n");
            return kFail;
        }
        if (GRD_cutoff(&result.g, cmd[2], g, cut, nval) < 0) return kFail;
    } else if (stricmp(func, "piece") == 0) {
        int px = 0, py = 0;
        char rest = '\0';
        // Each count on its own first: their product must not overflow.
        if (std::sscanf(cmd[2], "%dx%d%c", &px, &py, &rest) != 2 || px < 1 || py < 1 || px > GRD_MAX_GRIDS ||
            py > GRD_MAX_GRIDS || px * py > GRD_MAX_GRIDS) {
            MESS_print(M_error, "Expected piece NXxNY with at most %d tiles\n", GRD_MAX_GRIDS);
            return kFail;
        }
        // Tiles are the grids of the file in order, row after row.
        if (GRD_piece_setup(&result.g, px, py, g) < 0) return kFail;
        for (int t = 0; t < px * py; ++t) {
            Grid tile;
            Request one = base;
            one.num = t;
            char item[FILE_NAME_SIZE + 100];
            str_copy(item, sizeof item, cmd[0]);
            if (char* comma = std::strchr(item, ',')) *comma = '\0';
            if (load_grid(item, one, &tile.g, nullptr) < 0 || GRD_piece_grid(&result.g, t % px, t / px, &tile.g) < 0) {
                MESS_print(M_error, "Tile %d does not fit the mosaic\n", t);
                return kFail;
            }
        }
    } else {
        // A grid function: operands are files or numbers after the function word.
        const bool vect = GRD_is_vect_func(func);
        const int first_op = vect ? 2 : 1;
        std::vector<std::unique_ptr<Grid>> operands;
        GRD_report* grids[GRD_MATH_OPERANDS] = {};
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMissing);
        grids[0] = &result.g;
        if (vect) grids[1] = &result2.g;
        grids[first_op] = g;
        int k = first_op + 1;
        for (int w = 2; w < words; ++w, ++k) {
            if (k >= GRD_MATH_OPERANDS) {
                MESS_print(M_error, "Too many operands: at most %d\n", GRD_MATH_OPERANDS - first_op);
                return kFail;
            }
            float value = 0;
            if (parse_float(cmd[w], &value)) {
                values[k] = value;
                continue;
            }
            operands.push_back(std::make_unique<Grid>());
            r = load_grid(cmd[w], base, &operands.back()->g, nullptr);
            if (r < 0) return r;
            grids[k] = &operands.back()->g;
        }
        if (!GRD_math(func, grids, values)) return GRD_is_math_func(func) ? kFail : kBadFunction;
        GRD_report* outs[2] = {&result.g, &result2.g};
        return save_or_show(out, outs, vect ? 2 : 1, &info);
    }
    GRD_report* outs[1] = {&result.g};
    return save_or_show(out, outs, 1, &info);
}
