// CF netCDF grid files, reading side: classic, 64-bit offset, CDF5 and netCDF-4/HDF5 files of any
// origin. Every variable over two horizontal dimensions with latitude/longitude coordinates or a
// grid_mapping the library has a projection for is a stack of grids, one per time, level and any
// other leading index; GRD_read numbers them variable by variable.
#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cf_domain.hpp"
#include "date.hpp"
#include "grd_cf_internal.hpp"
#include "grd_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

using namespace cfgrid;

constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxPoints = std::size_t{1} << 28;  // largest grid read: 2 GB of doubles

struct Horizontal {
    int x_dim = -1, y_dim = -1;
    std::string mapping;  // grid_mapping variable name ("" none)
    Domain dom{};
    bool flip_x = false;  // file's x runs east to west
    bool flip_y = false;  // file's y runs south to north (row 0 must be north)
};

struct Variable {
    int id = -1;
    std::string name;
    int number = 0;        // library variable number
    int ltype = 1, level = 0;
    std::size_t horizontal = 0;
    int ndims = 0;
    int dims[NC_MAX_VAR_DIMS] = {};
    int t_axis = -1, z_axis = -1;
    std::vector<std::size_t> lengths;  // of the leading dimensions
    std::vector<std::int64_t> ref;     // reference time per time index (seconds since 1970)
    std::vector<int> coded;            // forecast time per time index
    std::vector<int> levels;           // level per level index
    double scale = 1.0, offset = 0.0;
    std::vector<double> missing;       // raw values that mean missing
    double valid_min = -HUGE_VAL, valid_max = HUGE_VAL;
    bool float_type = false;
    std::string units, long_name;
    int source = -9999, model = -9999, grid_number = -9999;
    std::size_t grids = 1;             // product of the leading lengths
};

struct CfReader {
    int ncid = -1;
    std::string filename;
    std::vector<Horizontal> horizontals;
    std::vector<Variable> vars;
    std::vector<std::size_t> first;  // index of each variable's first grid
    std::size_t total = 0;
};

void free_reader(void* p)
{
    auto* r = static_cast<CfReader*>(p);
    if (r->ncid >= 0) nc_close(r->ncid);
    delete r;
}

CfReader* reader_of(GRD_file* gf) { return gf && gf->priv_free == free_reader ? static_cast<CfReader*>(gf->priv) : nullptr; }

std::string att_text(int ncid, int var, const char* name)
{
    nc_type type;
    size_t len = 0;
    if (nc_inq_att(ncid, var, name, &type, &len) != NC_NOERR || type != NC_CHAR || len > kMaxText) return "";
    std::string text(len, '\0');
    if (len && nc_get_att_text(ncid, var, name, text.data()) != NC_NOERR) return "";
    text.resize(std::strlen(text.c_str()));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    return text;
}

std::vector<double> att_numbers(int ncid, int var, const char* name)
{
    nc_type type;
    size_t len = 0;
    if (nc_inq_att(ncid, var, name, &type, &len) != NC_NOERR || type == NC_CHAR || type == NC_STRING || len == 0 ||
        len > kMaxText)
        return {};
    std::vector<double> v(len);
    if (nc_get_att_double(ncid, var, name, v.data()) != NC_NOERR) return {};
    return v;
}

bool att_number(int ncid, int var, const char* name, double* value)
{
    const std::vector<double> v = att_numbers(ncid, var, name);
    if (v.empty() || !std::isfinite(v[0])) return false;
    *value = v[0];
    return true;
}

std::string var_name(int ncid, int var)
{
    char name[NC_MAX_NAME + 1] = {};
    if (nc_inq_varname(ncid, var, name) != NC_NOERR) return "";
    return name;
}

std::string dim_name(int ncid, int dim)
{
    char name[NC_MAX_NAME + 1] = {};
    if (nc_inq_dimname(ncid, dim, name) != NC_NOERR) return "";
    return name;
}

// The coordinate variable of a dimension (1-D, same name), or -1.
int coordinate_var(int ncid, int dim)
{
    int var;
    if (nc_inq_varid(ncid, dim_name(ncid, dim).c_str(), &var) != NC_NOERR) return -1;
    int nd = 0;
    if (nc_inq_varndims(ncid, var, &nd) != NC_NOERR || nd != 1) return -1;
    return var;
}

std::vector<double> values_of(int ncid, int var)
{
    int nd = 0;
    int dims[NC_MAX_VAR_DIMS];
    if (var < 0 || nc_inq_varndims(ncid, var, &nd) != NC_NOERR || nd > 1 || nc_inq_vardimid(ncid, var, dims) != NC_NOERR)
        return {};
    size_t len = 1;
    if (nd == 1 && nc_inq_dimlen(ncid, dims[0], &len) != NC_NOERR) return {};
    if (len > (1u << 26)) return {};
    std::vector<double> v(len);
    if (len && nc_get_var_double(ncid, var, v.data()) != NC_NOERR) return {};
    double scale = 1.0, offset = 0.0;
    att_number(ncid, var, "scale_factor", &scale);
    att_number(ncid, var, "add_offset", &offset);
    for (double& x : v) x = x * scale + offset;
    return v;
}

bool is_longitude(int ncid, int var)
{
    if (var < 0) return false;
    const std::string units = att_text(ncid, var, "units"), sn = att_text(ncid, var, "standard_name");
    return sn == "longitude" || units == "degrees_east" || units == "degree_east" || units == "degree_E" ||
           units == "degrees_E" || units == "degreeE" || units == "degreesE";
}

bool is_latitude(int ncid, int var)
{
    if (var < 0) return false;
    const std::string units = att_text(ncid, var, "units"), sn = att_text(ncid, var, "standard_name");
    return sn == "latitude" || units == "degrees_north" || units == "degree_north" || units == "degree_N" ||
           units == "degrees_N" || units == "degreeN" || units == "degreesN";
}

bool is_time(int ncid, int var)
{
    double unit;
    std::int64_t base;
    return var >= 0 && parse_time_units(att_text(ncid, var, "units"), &unit, &base);
}

// Names listed in a variable's "coordinates" attribute.
std::vector<std::string> coordinate_names(int ncid, int var)
{
    std::vector<std::string> names;
    const std::string text = att_text(ncid, var, "coordinates");
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find(' ', pos);
        const std::string word = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!word.empty()) names.push_back(word);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return names;
}

int find_var(int ncid, const std::string& name)
{
    int var;
    return nc_inq_varid(ncid, name.c_str(), &var) == NC_NOERR ? var : -1;
}

// A referenced auxiliary variable of var with the given standard name, or -1.
int aux_with_standard_name(int ncid, int var, const char* sn)
{
    for (const std::string& n : coordinate_names(ncid, var)) {
        const int id = find_var(ncid, n);
        if (id >= 0 && att_text(ncid, id, "standard_name") == sn) return id;
    }
    return -1;
}

// The horizontal grid of the last two dimensions of var. Index into r.horizontals, or -1 with
// *why set.
long horizontal_of(CfReader& r, int var, int y_dim, int x_dim, std::string* why)
{
    const int ncid = r.ncid;
    const std::string mapping = att_text(ncid, var, "grid_mapping");
    for (std::size_t h = 0; h < r.horizontals.size(); ++h)
        if (r.horizontals[h].x_dim == x_dim && r.horizontals[h].y_dim == y_dim && r.horizontals[h].mapping == mapping)
            return static_cast<long>(h);
    const int xv = coordinate_var(ncid, x_dim), yv = coordinate_var(ncid, y_dim);
    CF_grid grid;
    if (is_longitude(ncid, xv) && is_latitude(ncid, yv)) {
        grid.latlon = true;
        grid.mapping_name = "latitude_longitude";
    } else if (!mapping.empty()) {
        const int mv = find_var(ncid, mapping);
        if (mv < 0) {
            *why = "its grid_mapping variable \"" + mapping + "\" is missing";
            return -1;
        }
        grid.mapping_name = att_text(ncid, mv, "grid_mapping_name");
        int natts = 0;
        nc_inq_varnatts(ncid, mv, &natts);
        for (int a = 0; a < natts; ++a) {
            char name[NC_MAX_NAME + 1] = {};
            if (nc_inq_attname(ncid, mv, a, name) != NC_NOERR) continue;
            CF_attribute attr{name, att_text(ncid, mv, name), att_numbers(ncid, mv, name)};
            grid.attributes.push_back(std::move(attr));
        }
        if (grid.mapping_name == "latitude_longitude") grid.latlon = true;
        if (xv < 0 || yv < 0) {
            *why = "it has no x/y coordinate variables";
            return -1;
        }
        grid.xy_units = att_text(ncid, xv, "units");
    } else {
        *why = "it has neither latitude/longitude coordinates nor a grid_mapping";
        return -1;
    }
    grid.x = values_of(ncid, xv);
    grid.y = values_of(ncid, yv);
    if (grid.x.empty() || grid.y.empty()) {
        *why = "its x/y coordinates cannot be read";
        return -1;
    }
    Horizontal h;
    h.x_dim = x_dim;
    h.y_dim = y_dim;
    h.mapping = mapping;
    h.flip_x = grid.x.size() > 1 && grid.x.back() < grid.x.front();
    h.flip_y = grid.y.size() > 1 && grid.y.back() > grid.y.front();
    if (h.flip_x) std::reverse(grid.x.begin(), grid.x.end());
    if (CF_domain_from_mapping(&grid, &h.dom) != 0) {
        *why = "its grid cannot be placed on a map projection";
        return -1;
    }
    r.horizontals.push_back(h);
    return static_cast<long>(r.horizontals.size() - 1);
}

// Level of a coordinate value in the library's unit for the level type.
int level_value(double value, int ltype, const std::string& units)
{
    if (ltype == 100 && (units == "Pa" || units == "pascal" || units == "pascals")) value /= 100.0;
    if ((ltype == 103 || ltype == 105 || ltype == 160) && units == "km") value *= 1000.0;
    if (!std::isfinite(value) || std::fabs(value) > 2e9) return -9999;
    return static_cast<int>(std::lround(value));
}

// Seconds of a time value in a file's unit, bounded so that sums of them cannot overflow.
std::int64_t seconds_of(double value, double unit)
{
    const double secs = value * unit;
    if (!std::isfinite(secs)) return 0;
    return static_cast<std::int64_t>(std::llround(std::clamp(secs, -1e15, 1e15)));
}

// Times of var's time axis: reference time and coded forecast time of each index.
void read_times(CfReader& r, Variable& v, int time_var, std::size_t nt)
{
    const int ncid = r.ncid;
    double unit = 3600.0;
    std::int64_t base = 0;
    parse_time_units(att_text(ncid, time_var, "units"), &unit, &base);
    const std::string calendar = att_text(ncid, time_var, "calendar");
    if (!calendar.empty() && calendar != "standard" && calendar != "gregorian" && calendar != "proleptic_gregorian")
        MESS_print(M_warn, "GRD_getinfo: variable %s: dates of the %s calendar are counted as Gregorian ones\n",
                   v.name.c_str(), calendar.c_str());
    std::vector<double> valid = values_of(ncid, time_var);
    valid.resize(nt, 0.0);
    const int kind = kind_of_cell_methods(att_text(ncid, v.id, "cell_methods"));
    std::vector<double> bounds;
    const std::string bname = att_text(ncid, time_var, "bounds");
    if (!bname.empty()) {
        const int bv = find_var(ncid, bname);
        int nd = 0;
        int bdims[NC_MAX_VAR_DIMS];
        size_t rows = 0, cols = 0;
        // Only a (time, 2) array fills the buffer exactly.
        if (bv >= 0 && nc_inq_varndims(ncid, bv, &nd) == NC_NOERR && nd == 2 &&
            nc_inq_vardimid(ncid, bv, bdims) == NC_NOERR && nc_inq_dimlen(ncid, bdims[0], &rows) == NC_NOERR &&
            nc_inq_dimlen(ncid, bdims[1], &cols) == NC_NOERR && rows == nt && cols == 2) {
            bounds.resize(nt * 2);
            if (nc_get_var_double(ncid, bv, bounds.data()) != NC_NOERR) bounds.clear();
        }
    }
    std::vector<double> ref;
    double ref_unit = unit;
    std::int64_t ref_base = base;
    const int rv = aux_with_standard_name(ncid, v.id, "forecast_reference_time");
    if (rv >= 0 && parse_time_units(att_text(ncid, rv, "units"), &ref_unit, &ref_base)) ref = values_of(ncid, rv);
    v.ref.resize(nt);
    v.coded.resize(nt);
    for (std::size_t t = 0; t < nt; ++t) {
        const std::int64_t valid_s = base + seconds_of(valid[t], unit);
        std::int64_t ref_s = valid_s;
        if (!ref.empty()) ref_s = ref_base + seconds_of(ref[ref.size() == 1 ? 0 : std::min(t, ref.size() - 1)], ref_unit);
        TimeCode c;
        auto hours = [](std::int64_t later, std::int64_t earlier) {
            return static_cast<int>(std::clamp<std::int64_t>((later - earlier) / 3600, -1, 1000000));
        };
        c.end = hours(valid_s, ref_s);
        if (!bounds.empty()) {
            const std::int64_t b0 = base + seconds_of(bounds[2 * t], unit);
            const std::int64_t b1 = base + seconds_of(bounds[2 * t + 1], unit);
            if (ref.empty()) ref_s = b0;
            if (b1 > b0) {
                c.kind = kind ? kind : 2;
                c.start = hours(b0, ref_s);
                c.end = hours(b1, ref_s);
            }
        }
        // Hours the coded forms cannot hold (plain hours from 800 on are day and month codes).
        if (c.start < 0 || c.end < 0 || c.end > (c.kind ? 999 : 799) || c.start > 999) c = TimeCode{};
        v.ref[t] = ref_s;
        v.coded[t] = encode_time(c);
    }
}

// Short names other tools give common fields when they give no standard name.
int var_of_short_name(const std::string& name)
{
    struct Entry {
        const char* name;
        int var;
    };
    static const Entry names[] = {
        {"z", 7},    {"gh", 7},   {"t", 11},  {"t2m", 11}, {"d2m", 17}, {"u", 33},  {"u10", 33}, {"v", 34},
        {"v10", 34}, {"w", 39},   {"q", 51},  {"r", 52},   {"msl", 2},  {"sp", 1},  {"tp", 61},  {"tcc", 71},
        {"sst", 80}, {"vo", 43},  {"d", 44},  {"pv", 4},   {"mx2t", 15}, {"mn2t", 16},
    };
    for (const Entry& e : names)
        if (name == e.name) return e.var;
    return -1;
}

// Fills v from the file's variable var. false (with *why) when it holds no grids.
bool describe_variable(CfReader& r, int var, Variable& v, std::string* why)
{
    const int ncid = r.ncid;
    nc_type type;
    if (nc_inq_var(ncid, var, nullptr, &type, &v.ndims, v.dims, nullptr) != NC_NOERR || v.ndims < 2) return false;
    if (type == NC_CHAR || type == NC_STRING || type > NC_STRING) return false;
    v.id = var;
    v.name = var_name(ncid, var);
    const int y_dim = v.dims[v.ndims - 2], x_dim = v.dims[v.ndims - 1];
    const long h = horizontal_of(r, var, y_dim, x_dim, why);
    if (h < 0) return false;
    v.horizontal = static_cast<std::size_t>(h);
    v.float_type = type == NC_FLOAT || type == NC_DOUBLE;
    for (int k = 0; k < v.ndims - 2; ++k) {
        size_t len = 0;
        nc_inq_dimlen(ncid, v.dims[k], &len);
        if (len == 0) return false;  // no records yet
        v.lengths.push_back(len);
        if (len > (std::size_t{1} << 24) || v.grids * len > (std::size_t{1} << 24)) return false;
        v.grids *= len;
        const int cv = coordinate_var(ncid, v.dims[k]);
        if (v.t_axis < 0 && is_time(ncid, cv)) v.t_axis = k;
        else if (v.z_axis < 0 && cv >= 0 && !is_time(ncid, cv)) v.z_axis = k;
    }

    // Variable number: the library's own attribute, its abbreviation, then its standard name.
    double number;
    if (att_number(ncid, var, "variable_number", &number)) v.number = static_cast<int>(number);
    else if (VAR_search_var_num(v.name.c_str()) > 0) v.number = VAR_search_var_num(v.name.c_str());
    else if (var_of_standard_name(att_text(ncid, var, "standard_name")) > 0)
        v.number = var_of_standard_name(att_text(ncid, var, "standard_name"));
    else v.number = std::max(0, var_of_short_name(v.name));
    v.units = att_text(ncid, var, "units_text");
    if (v.units.empty()) v.units = from_udunits(att_text(ncid, var, "units"));
    v.long_name = att_text(ncid, var, "long_name");
    if (att_number(ncid, var, "centre", &number)) v.source = static_cast<int>(number);
    if (att_number(ncid, var, "model", &number)) v.model = static_cast<int>(number);
    if (att_number(ncid, var, "grid_number", &number)) v.grid_number = static_cast<int>(number);

    att_number(ncid, var, "scale_factor", &v.scale);
    att_number(ncid, var, "add_offset", &v.offset);
    for (const char* name : {"_FillValue", "missing_value"})
        for (double m : att_numbers(ncid, var, name)) v.missing.push_back(m);
    const std::vector<double> range = att_numbers(ncid, var, "valid_range");
    if (range.size() == 2) {
        v.valid_min = range[0];
        v.valid_max = range[1];
    }
    att_number(ncid, var, "valid_min", &v.valid_min);
    att_number(ncid, var, "valid_max", &v.valid_max);
    // Without a declared fill value, netCDF's default for the type marks unwritten values.
    if (att_numbers(ncid, var, "_FillValue").empty())
        v.missing.push_back(type == NC_FLOAT ? NC_FILL_FLOAT : type == NC_DOUBLE ? NC_FILL_DOUBLE
                            : type == NC_SHORT ? NC_FILL_SHORT : type == NC_INT ? NC_FILL_INT
                            : type == NC_BYTE ? NC_FILL_BYTE : NC_FILL_DOUBLE);

    // Levels.
    if (v.z_axis >= 0) {
        const int cv = coordinate_var(ncid, v.dims[v.z_axis]);
        const std::string units = att_text(ncid, cv, "units");
        if (att_number(ncid, cv, "level_type", &number)) v.ltype = static_cast<int>(number);
        else v.ltype = ltype_of_coordinate(att_text(ncid, cv, "standard_name"), units, att_text(ncid, cv, "positive"));
        for (double z : values_of(ncid, cv)) v.levels.push_back(level_value(z, v.ltype, units));
        v.levels.resize(v.lengths[v.z_axis], -9999);
    } else if (att_number(ncid, var, "level_type", &number)) {
        v.ltype = static_cast<int>(number);
        v.level = att_number(ncid, var, "level", &number) ? static_cast<int>(number) : 0;
    } else {
        // A scalar vertical coordinate (2 m height, 850 hPa) names the level.
        v.ltype = 1;
        for (const std::string& n : coordinate_names(ncid, var)) {
            const int id = find_var(ncid, n);
            int nd = 1;
            if (id < 0 || nc_inq_varndims(ncid, id, &nd) != NC_NOERR || nd != 0 || is_time(ncid, id)) continue;
            const std::string sn = att_text(ncid, id, "standard_name"), units = att_text(ncid, id, "units");
            if (sn != "height" && sn != "air_pressure" && sn != "altitude" && sn != "depth" &&
                att_text(ncid, id, "axis") != "Z" && att_text(ncid, id, "positive").empty())
                continue;
            v.ltype = ltype_of_coordinate(sn, units, att_text(ncid, id, "positive"));
            const std::vector<double> z = values_of(ncid, id);
            v.level = z.empty() ? 0 : level_value(z[0], v.ltype, units);
            break;
        }
    }
    // Times.
    if (v.t_axis >= 0) {
        read_times(r, v, coordinate_var(ncid, v.dims[v.t_axis]), v.lengths[v.t_axis]);
    } else {
        int time_var = -1;
        for (const std::string& n : coordinate_names(ncid, var)) {
            const int id = find_var(ncid, n);
            if (is_time(ncid, id) && att_text(ncid, id, "standard_name") != "forecast_reference_time") time_var = id;
        }
        if (time_var < 0) time_var = find_var(ncid, "time");
        if (time_var >= 0 && is_time(ncid, time_var)) {
            read_times(r, v, time_var, 1);
        } else {
            v.ref.assign(1, 0);
            v.coded.assign(1, 0);
        }
    }
    return true;
}

// The indices of grid g of a variable along its leading dimensions.
void leading_indices(const Variable& v, std::size_t g, std::vector<std::size_t>& index)
{
    index.assign(v.lengths.size(), 0);
    for (std::size_t k = v.lengths.size(); k-- > 0;) {
        index[k] = g % v.lengths[k];
        g /= v.lengths[k];
    }
}

void fill_header(const CfReader& r, const Variable& v, std::size_t g, GRD_report* grd)
{
    std::vector<std::size_t> index;
    leading_indices(v, g, index);
    const std::size_t t = v.t_axis >= 0 ? index[v.t_axis] : 0;
    GRD_free_report(grd);
    GRD_init_report(grd);
    grd->domain = r.horizontals[v.horizontal].dom;
    grd->var = v.number;
    grd->ltype = v.ltype;
    grd->level = v.z_axis >= 0 ? v.levels[index[v.z_axis]] : v.level;
    grd->time = v.coded[t];
    grd->date = seconds_date(v.ref[t]);
    grd->source = v.source;
    grd->model = v.model;
    grd->type = v.grid_number;
    grd->version = 0;
    str_copy(grd->units, sizeof grd->units, v.units.c_str());
    // Centre and process come from the file: their combined code may not fit an int.
    const long long model_code = static_cast<long long>(v.source > 0 ? v.source : 0) * 1000 + (v.model > 0 ? v.model : 0);
    DATE_make_label_for_time(grd->time, static_cast<int>(std::min<long long>(model_code, INT_MAX)), &grd->date,
                             grd->datim, sizeof grd->datim);
    if (v.number > 0 && VAR_var_name(v.number)[0]) {
        VAR_make_datatype(grd->time, grd->ltype, grd->level, grd->var, grd->units, grd->info, sizeof grd->info);
    } else {
        const std::string text = (v.long_name.empty() ? v.name : v.long_name) + " (" + v.units + ")";
        str_copy(grd->info, sizeof grd->info, text.c_str());
    }
}

bool read_values(const CfReader& r, const Variable& v, std::size_t g, GRD_report* grd)
{
    const Horizontal& h = r.horizontals[v.horizontal];
    const std::size_t nx = static_cast<std::size_t>(h.dom.nx), ny = static_cast<std::size_t>(h.dom.ny);
    std::vector<std::size_t> index;
    leading_indices(v, g, index);
    std::vector<size_t> start(index.begin(), index.end()), count(index.size(), 1);
    start.push_back(0);
    start.push_back(0);
    count.push_back(ny);
    count.push_back(nx);
    // The size comes from the file: refuse what no grid of the library holds rather than
    // attempt an allocation that cannot succeed.
    if (nx * ny > kMaxPoints) {
        MESS_print(M_error, "GRD_read: variable %s of %s: a grid of %zu x %zu points is too large\n", v.name.c_str(),
                   r.filename.c_str(), nx, ny);
        return false;
    }
    std::vector<double> raw;
    try {
        raw.resize(nx * ny);
    } catch (const std::bad_alloc&) {
        MESS_print(M_error, "GRD_read: Unable to allocate %zu grid values\n", nx * ny);
        return false;
    }
    const int status = nc_get_vara_double(r.ncid, v.id, start.data(), count.data(), raw.data());
    if (status != NC_NOERR) {
        MESS_print(M_error, "GRD_read: variable %s of %s: %s\n", v.name.c_str(), r.filename.c_str(), nc_strerror(status));
        return false;
    }
    grd->grid = static_cast<float*>(std::malloc(nx * ny * sizeof(float)));
    if (!grd->grid) {
        MESS_print(M_error, "GRD_read: Unable to allocate %zu grid values\n", nx * ny);
        return false;
    }
    for (std::size_t j = 0; j < ny; ++j) {
        const std::size_t row = h.flip_y ? ny - 1 - j : j;
        for (std::size_t i = 0; i < nx; ++i) {
            const double x = raw[row * nx + (h.flip_x ? nx - 1 - i : i)];
            bool missing = !std::isfinite(x) || x < v.valid_min || x > v.valid_max;
            for (double m : v.missing)
                if (x == m || (v.float_type && std::fabs(x - m) <= 1e-6 * std::fabs(m))) missing = true;
            const double value = x * v.scale + v.offset;
            grd->grid[j * nx + i] = missing || std::fabs(value) > 3e38 ? GRD_MISSING : static_cast<float>(value);
        }
    }
    return true;
}

bool has_marking(int ncid)
{
    const std::string conventions = att_text(ncid, NC_GLOBAL, "Conventions");
    if (conventions.find("CF") != std::string::npos || conventions.find("COARDS") != std::string::npos) return true;
    const std::string title = att_text(ncid, NC_GLOBAL, "title");
    if (title.rfind("NMC", 0) == 0 || title.rfind("ECMWF:", 0) == 0) return false;
    for (const char* model_dim : {"rtime", "frtime", "anltime"}) {
        int dim;
        if (nc_inq_dimid(ncid, model_dim, &dim) == NC_NOERR) return false;
    }
    int nvars = 0;
    nc_inq_nvars(ncid, &nvars);
    for (int v = 0; v < nvars; ++v)
        if (is_latitude(ncid, v) || !att_text(ncid, v, "grid_mapping").empty()) return true;
    return false;
}

// Why a classic file cannot be handed to the netCDF library (its header damaged, its data cut
// short), or null.
const char* classic_fault(const char* filename)
{
    struct stat st {};
    char magic[4] = {};
    FILE* f = std::fopen(filename, "rb");
    if (!f) return nullptr;
    const bool classic = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "CDF", 3) == 0;
    std::fclose(f);
    if (!classic || stat(filename, &st) != 0) return nullptr;
    const long long needed = grd_nc_classic_required_size(filename, st.st_size);
    if (needed == -2) return "has a damaged header";
    if (needed > static_cast<long long>(st.st_size)) return "is truncated";
    return nullptr;
}

}  // namespace

bool grd_cf_is_cf(const char* filename)
{
    int ncid;
    if (!filename || classic_fault(filename) || nc_open(filename, NC_NOWRITE, &ncid) != NC_NOERR) return false;
    int dim;
    const bool library_layout = nc_inq_dimid(ncid, "grid", &dim) == NC_NOERR;
    const bool cf = !library_layout && has_marking(ncid);
    nc_close(ncid);
    return cf;
}

int grd_cf_open(GRD_file* gf, const char* filename, int f_access)
{
    if (!gf || !filename) return -1;
    gf->fd = -1;
    if (f_access == 1) return grd_cf_open_write(gf, filename);
    // A damaged or truncated classic file is refused before the netCDF library reads it.
    if (const char* fault = classic_fault(filename)) {
        MESS_print(M_error, "GRD_open: netCDF file %s %s\n", filename, fault);
        return -1;
    }
    auto r = std::make_unique<CfReader>();
    r->filename = filename;
    const int status = nc_open(filename, NC_NOWRITE, &r->ncid);
    if (status != NC_NOERR) {
        MESS_print(M_error, "GRD_open: Unable to open netCDF file %s: %s\n", filename, nc_strerror(status));
        return -1;
    }
    gf->fd = r->ncid;
    gf->priv = r.release();
    gf->priv_free = free_reader;
    return 0;
}

int grd_cf_getinfo(GRD_file* gf, GRD_info* info)
{
    CfReader* r = reader_of(gf);
    if (!r || !info) return -1;
    info->datim[0] = '\0';
    info->max_x = info->max_y = 0;
    info->grid_type = 1;
    DATE_init(&info->date);
    r->vars.clear();
    r->horizontals.clear();
    r->first.clear();
    r->total = 0;
    const char* only = std::getenv("GRIDVAR");
    int nvars = 0;
    nc_inq_nvars(r->ncid, &nvars);
    std::string reasons;
    for (int var = 0; var < nvars; ++var) {
        const std::string name = var_name(r->ncid, var);
        int nd = 0;
        nc_inq_varndims(r->ncid, var, &nd);
        if (nd < 2 || (only && only[0] && name != only)) continue;
        // Auxiliary latitude/longitude and bounds are coordinates, not data.
        if (is_latitude(r->ncid, var) || is_longitude(r->ncid, var) || name.find("bnds") != std::string::npos ||
            name.find("bounds") != std::string::npos)
            continue;
        Variable v;
        std::string why;
        if (!describe_variable(*r, var, v, &why)) {
            if (!why.empty()) reasons += "\n  " + name + ": " + why;
            continue;
        }
        r->first.push_back(r->total);
        r->total += v.grids;
        const Horizontal& h = r->horizontals[v.horizontal];
        info->max_x = std::max(info->max_x, h.dom.nx);
        info->max_y = std::max(info->max_y, h.dom.ny);
        r->vars.push_back(std::move(v));
    }
    if (r->vars.empty()) {
        MESS_print(M_error, "GRD_getinfo: netCDF file %s holds no grid: no variable over latitude/longitude or "
                   "projection x/y coordinates with a known grid_mapping%s\n",
                   r->filename.c_str(), reasons.c_str());
        return -1;
    }
    info->date = seconds_date(r->vars[0].ref[0]);
    gf->date = info->date;
    DATE_make_label(&info->date, info->datim, sizeof info->datim);
    gf->max_num = static_cast<long>(r->total);
    gf->var_num = static_cast<int>(r->vars.size());
    gf->num = 0;
    gf->grid = 1;
    return 0;
}

int grd_cf_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    CfReader* r = reader_of(gf);
    if (!r || !grd || !grdnum) return -1;
    if (r->vars.empty()) {
        MESS_print(M_error, "GRD_read: netCDF file information not read (GRD_getinfo first)\n");
        return -1;
    }
    if (*grdnum < 0 || static_cast<std::size_t>(*grdnum) >= r->total) return -1;
    const std::size_t n = static_cast<std::size_t>(*grdnum);
    const std::size_t vi = static_cast<std::size_t>(std::upper_bound(r->first.begin(), r->first.end(), n) - r->first.begin()) - 1;
    const Variable& v = r->vars[vi];
    fill_header(*r, v, n - r->first[vi], grd);
    gf->num = *grdnum;
    if (rep_type == 1 || rep_type == 2) return 0;
    return read_values(*r, v, n - r->first[vi], grd) ? 0 : -1;
}

int grd_cf_rewind(GRD_file* gf)
{
    if (!gf) return -1;
    gf->num = 0;
    return 0;
}

int grd_cf_close(GRD_file* gf)
{
    if (!gf) return -1;
    int result = 0;
    if (gf->access == 1) {
        result = grd_cf_close_write(gf);
    }
    if (gf->priv && gf->priv_free) gf->priv_free(gf->priv);
    gf->priv = nullptr;
    gf->priv_free = nullptr;
    gf->fd = -1;
    return result;
}
