// netCDF grid files: the library's own layout (a "grid" record dimension, one record per grid)
// and model netCDF files (one variable per quantity over time, level, latitude, longitude).
//
// Library layout: new files declare "values" as (grid, y, x) so that any netCDF reader sees
// row 0 (the northern edge) first and x along the rows; older files declared (grid, x, y) but
// hold the same bytes, since both were filled from the same x-fastest array. The order is
// told by the variable's dimensions (GRD_file.yx_order).
//
// Model files carry GRD_file.itype = the file class from their title (10, 20, 30, 40, plus
// the tropopause / maximum-wind / 72-hour digit, plus 100 without an "rtime" dimension); a
// title of no known class gets 90 so that a model file never looks like the library layout.
#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "cdf_internal.hpp"
#include "date.hpp"
#include "grd_internal.hpp"
#include "maptran.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"

namespace {

constexpr int kStrLen = 50;           // "string_len" of the library layout
constexpr float kHuge = 1e30f;        // model files mark missing values at or above this
constexpr int kUnknownClass = 90;     // model file whose title names no known class
constexpr size_t kMaxAttLen = 4096;   // longest attribute text or array the reader takes

// Reader state kept beside the GRD_file record.
struct NcPriv {
    off_t file_size = -1;  // bytes on disk when read; bounds what a classic file can hold
    bool classic = false;  // classic or 64-bit-offset form: values are stored uncompressed
    int rec_dim = -1;      // model files: the "rtime" record dimension
    // Library layout, beyond the fixed ids of GRD_file (absent in older files: -1).
    int param_id[3] = {-1, -1, -1};  // projection parameters param[0..2]
    int units_id = -1;               // unit text of the values
};

void free_priv(void* p) { delete static_cast<NcPriv*>(p); }

NcPriv* priv_of(GRD_file* gf) { return static_cast<NcPriv*>(gf->priv); }

// Look-ups of names a file may lack run with the library silent.
int find_dim(int ncid, const char* name)
{
    cdfx::Opts quiet(0);
    return ncdimid(ncid, name);
}

int find_var(int ncid, const char* name)
{
    cdfx::Opts quiet(0);
    return ncvarid(ncid, name);
}

long dim_len(int ncid, int dim)
{
    long len = -1;
    if (dim < 0 || ncdiminq(ncid, dim, nullptr, &len) == -1) return -1;
    return len;
}

template <class T>
bool first_att_value(int ncid, int var, const char* name, size_t len, double* value)
{
    std::vector<T> v(len);
    if (ncattget(ncid, var, name, v.data()) == -1) return false;
    *value = static_cast<double>(v[0]);
    return true;
}

// Numeric attribute (first element) of var (NC_GLOBAL for the file); false when absent.
bool get_att_number(int ncid, int var, const char* name, double* value)
{
    cdfx::Opts quiet(0);
    nc_type type;
    int len = 0;
    if (ncattinq(ncid, var, name, &type, &len) == -1 || len < 1 ||
        static_cast<size_t>(len) > kMaxAttLen)
        return false;
    const size_t n = static_cast<size_t>(len);
    switch (type) {
    case NC_BYTE: return first_att_value<signed char>(ncid, var, name, n, value);
    case NC_SHORT: return first_att_value<short>(ncid, var, name, n, value);
    case NC_INT: return first_att_value<int>(ncid, var, name, n, value);
    case NC_FLOAT: return first_att_value<float>(ncid, var, name, n, value);
    case NC_DOUBLE: return first_att_value<double>(ncid, var, name, n, value);
    default: return false;
    }
}

// Integer from a number, -9999 for NaN or values outside the int range.
int to_int(double v)
{
    if (!(v > -2147483648.0 && v < 2147483647.0)) return -9999;
    return static_cast<int>(std::lround(v));
}

bool get_att_int(int ncid, int var, const char* name, int* value)
{
    double v;
    if (!get_att_number(ncid, var, name, &v)) return false;
    *value = to_int(v);
    return true;
}

// Text attribute into out (size bytes, terminated; trailing blanks and zeros dropped).
bool get_att_text(int ncid, int var, const char* name, char* out, size_t size)
{
    out[0] = '\0';
    cdfx::Opts quiet(0);
    nc_type type;
    int len = 0;
    if (ncattinq(ncid, var, name, &type, &len) == -1 || type != NC_CHAR || len < 0 ||
        static_cast<size_t>(len) > kMaxAttLen)
        return false;
    std::string text(static_cast<size_t>(len), '\0');
    if (len > 0 && ncattget(ncid, var, name, text.data()) == -1) return false;
    text.resize(std::strlen(text.c_str()));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    str_copy(out, size, text.c_str());
    return true;
}

int put_text_att(int ncid, int var, const char* name, const char* text)
{
    return ncattput(ncid, var, name, NC_CHAR, static_cast<int>(std::strlen(text)), text);
}

int put_short_att(int ncid, const char* name, int value)
{
    const short v = cdfx::convert<short>(value);
    return ncattput(ncid, NC_GLOBAL, name, NC_SHORT, 1, &v);
}

// Number stored at element `index` of a 1-D (or record-first) variable; false when absent.
bool get_number_at(int ncid, int var, long index, double* value)
{
    if (var < 0) return false;
    static const std::vector<long> zeros(NC_MAX_VAR_DIMS, 0);
    std::vector<long> start = zeros;
    start[0] = index;
    return cdfx::get(ncid, var, start.data(), nullptr, value) == 0;
}

// A record's text (record-first char variable of two dimensions) into out (size bytes).
void get_record_text(int ncid, int var, long rec, char* out, size_t size)
{
    out[0] = '\0';
    nc_type type;
    int ndims;
    int dims[NC_MAX_VAR_DIMS];
    if (!cdfx::var_shape(ncid, var, &type, &ndims, dims) || ndims != 2 || type != NC_CHAR) return;
    long len = dim_len(ncid, dims[1]);
    if (len <= 0) return;
    if (len > kStrLen) len = kStrLen;
    char text[kStrLen + 1] = {};
    const long start[2] = {rec, 0};
    const long count[2] = {1, len};
    if (cdfx::get(ncid, var, start, count, text) != 0) return;
    text[kStrLen] = '\0';
    str_copy(out, size, text);
}

// Writes text with its terminating zero (cut to the string length) at record rec.
int put_record_text(int ncid, int var, long rec, const char* text)
{
    if (var < 0) return 0;
    char buf[kStrLen];
    str_copy(buf, sizeof buf, text);
    const long start[2] = {rec, 0};
    const long count[2] = {1, static_cast<long>(std::strlen(buf)) + 1};
    return ncvarput(ncid, var, start, count, buf) == -1 ? -1 : 0;
}

// Dates in files carry a full or a two-digit year; 1900-based years from old writers too.
int full_year(int year)
{
    if (year >= 0 && year < 50) return year + 2000;
    if (year >= 50 && year < 200) return year + 1900;
    return year;
}

void set_file_date(GRD_file* gf, GRD_info* info, int year, int month, int day, int hour)
{
    DATE_init(&info->date);
    info->date.year = year;
    info->date.month = month;
    info->date.day = day;
    info->date.hour = hour;
    gf->date = info->date;
    DATE_make_label(&info->date, info->datim, sizeof info->datim);
    str_copy(gf->datim, sizeof gf->datim, info->datim);
}

// Largest grid (values) the file may claim: a classic file stores every value, so it cannot
// hold more than its size allows; other forms are bounded by the transfer limit.
bool grid_size_ok(GRD_file* gf, long nx, long ny, int elem_size)
{
    if (nx <= 0 || ny <= 0) return false;
    if (static_cast<unsigned long>(nx) > cdfx::kMaxValues / static_cast<unsigned long>(ny))
        return false;
    const NcPriv* p = priv_of(gf);
    if (p && p->classic && p->file_size >= 0)
        return static_cast<off_t>(nx) * ny * elem_size <= p->file_size;
    return true;
}

int elem_size_of(int ncid, int var)
{
    nc_type type;
    int ndims;
    if (!cdfx::var_shape(ncid, var, &type, &ndims)) return 1;
    return nctypelen(type);
}

float* alloc_grid(GRD_report* grd, size_t n)
{
    std::free(grd->grid);
    grd->grid = static_cast<float*>(std::malloc(n * sizeof(float)));
    return grd->grid;
}

// ---- Size check of classic files -----------------------------------------------------------
// The library reads the part of a truncated classic file that is missing as zeros, without
// an error. The header (the public classic format: magic, record count, dimension, attribute
// and variable lists) says where every variable's data starts, so the size the data needs
// is known before any value is read.

class HeaderReader {
public:
    HeaderReader(const std::vector<unsigned char>& bytes, bool wide) : b_(bytes), wide_(wide) {}
    bool ok() const { return ok_; }
    std::uint64_t u32()
    {
        if (!need(4)) return 0;
        const std::uint64_t v = (std::uint64_t{b_[pos_]} << 24) | (std::uint64_t{b_[pos_ + 1]} << 16) |
                                (std::uint64_t{b_[pos_ + 2]} << 8) | b_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    std::uint64_t u64()
    {
        const std::uint64_t high = u32();
        return (high << 32) | u32();
    }
    std::uint64_t count() { return wide_ ? u64() : u32(); }  // element counts (64-bit in CDF-5)
    void skip(std::uint64_t n)
    {
        const std::uint64_t padded = (n + 3) / 4 * 4;
        if (padded < n) ok_ = false;
        if (!need(padded)) return;
        pos_ += static_cast<size_t>(padded);
    }
    void skip_name() { skip(count()); }
    // A list of n entries of at least `each` bytes must fit in what is left: a damaged count
    // is refused here instead of being handed to the library, which allocates by it.
    std::uint64_t list(std::uint64_t each)
    {
        const std::uint64_t n = count();
        if (ok_ && n > (b_.size() - pos_) / each) ok_ = false;
        return ok_ ? n : 0;
    }

private:
    bool need(std::uint64_t n)
    {
        if (!ok_ || n > b_.size() - pos_) ok_ = false;
        return ok_;
    }
    const std::vector<unsigned char>& b_;
    bool wide_;
    size_t pos_ = 0;
    bool ok_ = true;
};

int classic_type_size(std::uint64_t type)
{
    switch (type) {
    case 1: case 2: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 5: case 9: return 4;
    case 6: case 10: case 11: return 8;
    default: return 0;
    }
}

void skip_attributes(HeaderReader& h)
{
    h.u32();  // tag, or zero when absent
    const std::uint64_t n = h.list(12);
    for (std::uint64_t i = 0; i < n && h.ok(); ++i) {
        h.skip_name();
        const int size = classic_type_size(h.u32());
        const std::uint64_t values = h.count();
        if (size == 0 || values > (std::uint64_t{1} << 40)) return h.skip(~std::uint64_t{0});
        h.skip(values * static_cast<std::uint64_t>(size));
    }
}

// Bytes a classic file's data needs from the header in bytes; -1 when the header cannot be
// read from them (too short, or not a classic header).
long long required_size(const std::vector<unsigned char>& bytes)
{
    if (bytes.size() < 8 || bytes[0] != 'C' || bytes[1] != 'D' || bytes[2] != 'F') return -1;
    const int version = bytes[3];
    if (version != 1 && version != 2 && version != 5) return -1;
    HeaderReader h(bytes, version == 5);
    h.u32();  // magic
    const std::uint64_t numrecs = version == 5 ? h.u64() : h.u32();
    const bool streaming = version != 5 && numrecs == 0xffffffffu;

    h.u32();
    std::vector<std::uint64_t> dims(static_cast<size_t>(h.list(8)));
    for (auto& len : dims) {
        h.skip_name();
        len = h.count();
    }
    skip_attributes(h);

    struct Var {
        bool record;
        unsigned __int128 data;  // bytes of one record's (or the whole) data, unpadded
        std::uint64_t vsize;
        std::uint64_t begin;
    };
    std::vector<Var> vars;
    h.u32();
    const std::uint64_t nvars = h.list(24);
    for (std::uint64_t i = 0; i < nvars && h.ok(); ++i) {
        h.skip_name();
        const std::uint64_t ndims = h.list(4);
        if (ndims > NC_MAX_VAR_DIMS) return -1;
        Var v{false, 1, 0, 0};
        for (std::uint64_t k = 0; k < ndims && h.ok(); ++k) {
            const std::uint64_t id = h.count();
            if (id >= dims.size()) return -1;
            // The record dimension may only come first (the library divides by the sizes).
            if (dims[id] == 0) {
                if (k != 0) return -1;
                v.record = true;
            } else {
                v.data *= dims[id];
            }
            if (v.data > (static_cast<unsigned __int128>(1) << 80)) return -1;
        }
        skip_attributes(h);
        const int type_size = classic_type_size(h.u32());
        if (type_size == 0) return -1;
        v.data *= static_cast<unsigned>(type_size);
        v.vsize = h.count();
        v.begin = version == 1 ? h.u32() : h.u64();
        vars.push_back(v);
    }
    if (!h.ok()) return -1;
    unsigned __int128 recsize = 0;
    int record_vars = 0;
    for (const auto& v : vars)
        if (v.record) {
            recsize += v.vsize;
            ++record_vars;
        }
    if (record_vars == 1)
        for (const auto& v : vars)
            if (v.record) recsize = v.data;  // a lone record variable is not padded
    unsigned __int128 needed = 0;
    for (const auto& v : vars) {
        unsigned __int128 end = v.begin;
        if (!v.record) end += v.data;
        else if (!streaming && numrecs > 0) end += recsize * (numrecs - 1) + v.data;
        if (end > needed) needed = end;
    }
    const unsigned __int128 cap = static_cast<unsigned __int128>(1) << 62;
    return static_cast<long long>(needed > cap ? cap : needed);
}

// Bytes a classic file's data needs; -1 when its header is too large to check here (the
// library then decides alone); -2 when the header does not fit in the file or is damaged.
// Reads only as much of the file as the header takes.
long long classic_required_size(const char* filename, off_t file_size)
{
    constexpr off_t kMaxHeader = 16 << 20;
    FILE* f = std::fopen(filename, "rb");
    if (!f) return -1;
    std::vector<unsigned char> bytes;
    long long needed = -1;
    for (off_t want = 64 << 10;; want *= 4) {
        const off_t limit = std::min({want, file_size, kMaxHeader});
        const size_t have = bytes.size();
        bytes.resize(static_cast<size_t>(limit));
        bytes.resize(have + std::fread(bytes.data() + have, 1, bytes.size() - have, f));
        needed = required_size(bytes);
        if (needed >= 0 || limit == file_size || limit == kMaxHeader ||
            static_cast<off_t>(bytes.size()) < limit)
            break;
    }
    std::fclose(f);
    if (needed < 0 && bytes.size() == static_cast<size_t>(file_size)) return -2;
    return needed;
}

// ---- Library layout ------------------------------------------------------------------------

struct IdField {
    const char* var;
    int GRD_file::*id;
};

// The record numbers written as shorts, in file order.
struct ShortField {
    const char* var;
    int GRD_file::*id;
    int GRD_report::*value;
};

constexpr ShortField kShorts[] = {
    {"source", &GRD_file::source_id, &GRD_report::source},
    {"version", &GRD_file::version_id, &GRD_report::version},
    {"model", &GRD_file::model_id, &GRD_report::model},
    {"type", &GRD_file::type_id, &GRD_report::type},
    {"ltype", &GRD_file::ltype_id, &GRD_report::ltype},
    {"level", &GRD_file::level_id, &GRD_report::level},
    {"time", &GRD_file::time_id, &GRD_report::time},
    {"var", &GRD_file::var_id, &GRD_report::var},
};

struct GeomField {
    const char* var;
    int GRD_file::*id;
    float Domain::*value;
};

constexpr GeomField kGeometry[] = {
    {"lat1", &GRD_file::lat1_id, &Domain::clat}, {"lat2", &GRD_file::lat2_id, &Domain::plat},
    {"lon1", &GRD_file::lon1_id, &Domain::clon}, {"lon2", &GRD_file::lon2_id, &Domain::plon},
    {"dx", &GRD_file::dx_id, &Domain::dx},       {"dy", &GRD_file::dy_id, &Domain::dy},
};

constexpr IdField kOtherIds[] = {
    {"x_coord", &GRD_file::x_coord_id}, {"y_coord", &GRD_file::y_coord_id},
    {"proj", &GRD_file::proj_id},       {"datim", &GRD_file::datim_id},
    {"info", &GRD_file::info_id},       {"nx", &GRD_file::nx_id},
    {"ny", &GRD_file::ny_id},
};

// Variable definitions of a new file: name, type, shape (1 grid, 2 grid+string, 3 grid+y+x),
// then the "name", "long_name" and "units" attributes and whether "_FillValue" is set.
struct VarDef {
    const char* var;
    nc_type type;
    int shape;
    const char* name;
    const char* long_name;
    const char* units;
    bool fill;
};

constexpr VarDef kValuesDef = {"values", NC_FLOAT, 3, "VALUES", "Grid values", nullptr, true};
constexpr VarDef kCoordDefs[] = {
    {"x_coord", NC_FLOAT, 3, "X_COORD", "X coordinate gridpoint locations", "DEG", true},
    {"y_coord", NC_FLOAT, 3, "Y_COORD", "Y coordinate gridpoint locations", "DEG", true},
};
constexpr VarDef kProjDefs[] = {
    {"proj", NC_SHORT, 1, "PROJ", "Projection", nullptr, false},
    {"lat1", NC_FLOAT, 1, "CLAT", "Grid central latitude", "DEG", false},
    {"lat2", NC_FLOAT, 1, "LAT2", "Grid secondary latitude", "DEG", false},
    {"lon1", NC_FLOAT, 1, "CLON", "Grid central longitude", "DEG", false},
    {"lon2", NC_FLOAT, 1, "LON2", "Grid secondary longitude", "DEG", false},
    {"dx", NC_FLOAT, 1, "DX", "Grid spacing in X direction", "100 KM", false},
    {"dy", NC_FLOAT, 1, "DY", "Grid spacing in Y direction", "100 KM", false},
    // Without them a Lambert or polar stereographic grid's true latitudes fall back to
    // defaults on reading and the grid lands elsewhere.
    {"param1", NC_FLOAT, 1, "PARAM1", "Projection parameter 1", nullptr, false},
    {"param2", NC_FLOAT, 1, "PARAM2", "Projection parameter 2", nullptr, false},
    {"param3", NC_FLOAT, 1, "PARAM3", "Projection parameter 3", nullptr, false},
};
constexpr const char* kParamVars[3] = {"param1", "param2", "param3"};
constexpr VarDef kRecordDefs[] = {
    {"datim", NC_CHAR, 2, "DATETIME", "Grid date/time information", nullptr, false},
    {"info", NC_CHAR, 2, "INFO", "Grid variable information", nullptr, false},
    {"source", NC_INT, 1, "SOURCE", "Grid creation source", nullptr, false},
    {"version", NC_SHORT, 1, "VERSION", "Grid encoding version", nullptr, false},
    {"model", NC_INT, 1, "MODEL", "Model name", nullptr, false},
    {"type", NC_INT, 1, "TYPE", "Model grid type", nullptr, false},
    {"ltype", NC_SHORT, 1, "LTYPE", "Vertical level type", nullptr, false},
    {"level", NC_INT, 1, "LEVEL", "Vertical level value", nullptr, false},
    {"time", NC_INT, 1, "TIME", "Forecast time", "HOUR", false},
    {"var", NC_INT, 1, "VAR", "Grid variable type", nullptr, false},
    {"nx", NC_SHORT, 1, "NX", "Gridpoints in X direction", nullptr, false},
    {"ny", NC_SHORT, 1, "NY", "Gridpoints in Y direction", nullptr, false},
    {"units", NC_CHAR, 2, "UNITS", "Units of the grid values", nullptr, false},
};

int define_var(int ncid, const VarDef& def, const int* dims)
{
    const int var = ncvardef(ncid, def.var, def.type, def.shape, dims);
    if (var < 0) return -1;
    if (put_text_att(ncid, var, "name", def.name) == -1 ||
        put_text_att(ncid, var, "long_name", def.long_name) == -1)
        return -1;
    if (def.units && put_text_att(ncid, var, "units", def.units) == -1) return -1;
    if (def.fill) {
        const float fill = GRD_MISSING;
        if (ncattput(ncid, var, "_FillValue", NC_FLOAT, 1, &fill) == -1) return -1;
    }
    return var;
}

void lookup_ids(GRD_file* gf)
{
    const int ncid = gf->fd;
    gf->values_id[0] = find_var(ncid, "values");
    for (const auto& f : kShorts) gf->*f.id = find_var(ncid, f.var);
    for (const auto& f : kGeometry) gf->*f.id = find_var(ncid, f.var);
    for (const auto& f : kOtherIds) gf->*f.id = find_var(ncid, f.var);
    if (NcPriv* p = priv_of(gf)) {
        for (int k = 0; k < 3; ++k) p->param_id[k] = find_var(ncid, kParamVars[k]);
        p->units_id = find_var(ncid, "units");
    }
}

int lib_getinfo(GRD_file* gf, GRD_info* info, int grid_dim)
{
    const int ncid = gf->fd;
    gf->itype = 0;
    gf->max_num = dim_len(ncid, grid_dim);
    lookup_ids(gf);
    const int values = gf->values_id[0];
    nc_type type;
    int ndims = 0;
    int dims[NC_MAX_VAR_DIMS];
    if (gf->max_num < 0 || !cdfx::var_shape(ncid, values, &type, &ndims, dims) || ndims != 3 ||
        dims[0] != grid_dim || type == NC_CHAR) {
        MESS_print(M_error, "GRD_getinfo: netCDF grid file without a usable \"values\" variable\n");
        return -1;
    }
    const int x_dim = find_dim(ncid, "x");
    const int y_dim = find_dim(ncid, "y");
    if (dims[1] == y_dim && dims[2] == x_dim) gf->yx_order = 1;
    else if (dims[1] == x_dim && dims[2] == y_dim) gf->yx_order = 0;
    else {
        MESS_print(M_error, "GRD_getinfo: netCDF \"values\" is not over (grid, y, x) or (grid, x, y)\n");
        return -1;
    }
    gf->x_dim = x_dim;
    gf->y_dim = y_dim;
    gf->x_size = dim_len(ncid, x_dim);
    gf->y_size = dim_len(ncid, y_dim);

    int grid_type = 0, year = -9999, month = -9999, day = -9999, hour = -9999;
    get_att_int(ncid, NC_GLOBAL, "grid_type", &grid_type);
    get_att_int(ncid, NC_GLOBAL, "year", &year);
    get_att_int(ncid, NC_GLOBAL, "month", &month);
    get_att_int(ncid, NC_GLOBAL, "day", &day);
    get_att_int(ncid, NC_GLOBAL, "hour", &hour);
    gf->grid = grid_type == 1 ? 1 : 0;
    info->grid_type = gf->grid;
    info->max_x = static_cast<int>(gf->x_size);
    info->max_y = static_cast<int>(gf->y_size);
    set_file_date(gf, info, year == -9999 ? year : full_year(year), month, day, hour);
    return 0;
}

int record_int(int ncid, int var, long rec)
{
    double v;
    return get_number_at(ncid, var, rec, &v) ? to_int(v) : -9999;
}

int lib_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    const int ncid = gf->fd;
    const long rec = *grdnum;
    if (rec < 0 || rec >= gf->max_num) {
        MESS_print(M_warn, "GRD_read: grid %ld is past the end of the netCDF file (%ld grids)\n",
                   rec, gf->max_num);
        return -1;
    }
    get_record_text(ncid, gf->datim_id, rec, grd->datim, sizeof grd->datim);
    get_record_text(ncid, gf->info_id, rec, grd->info, sizeof grd->info);
    for (const auto& f : kShorts) grd->*f.value = record_int(ncid, gf->*f.id, rec);
    const int nx = record_int(ncid, gf->nx_id, rec);
    const int ny = record_int(ncid, gf->ny_id, rec);
    if (nx <= 0 || ny <= 0 || nx > gf->x_size || ny > gf->y_size ||
        !grid_size_ok(gf, nx, ny, elem_size_of(ncid, gf->values_id[0]))) {
        MESS_print(M_error,
                   "GRD_read: netCDF grid %ld claims %d x %d points in a file of %ld x %ld\n",
                   rec, nx, ny, gf->x_size, gf->y_size);
        return -1;
    }

    DOM_init(&grd->domain);
    grd->domain.nx = nx;
    grd->domain.ny = ny;
    if (gf->grid == 0) {
        const int proj = record_int(ncid, gf->proj_id, rec);
        grd->domain.proj = gf->proj_id >= 0 ? proj : (grd->model > 9 ? 2 : 1);
        for (const auto& f : kGeometry) {
            double v;
            if (get_number_at(ncid, gf->*f.id, rec, &v)) grd->domain.*f.value = static_cast<float>(v);
        }
        if (const NcPriv* p = priv_of(gf))
            for (int k = 0; k < 3; ++k) {
                double v;
                if (get_number_at(ncid, p->param_id[k], rec, &v)) grd->domain.param[k] = static_cast<float>(v);
            }
    } else {
        grd->domain.proj = grd->model > 9 ? 2 : 1;
    }
    grd->date = gf->date;
    grd->units[0] = '\0';
    if (const NcPriv* p = priv_of(gf); p && p->units_id >= 0)
        get_record_text(ncid, p->units_id, rec, grd->units, sizeof grd->units);

    if (rep_type != 1 && rep_type != 2) {
        if (!alloc_grid(grd, static_cast<size_t>(nx) * ny)) {
            MESS_print(M_error, "GRD_read: no memory for a %d x %d grid\n", nx, ny);
            return -1;
        }
        // The bytes are the x-fastest rows in either declared order.
        const long start[3] = {rec, 0, 0};
        const long count_yx[3] = {1, ny, nx};
        const long count_xy[3] = {1, nx, ny};
        if (cdfx::get(ncid, gf->values_id[0], start, gf->yx_order ? count_yx : count_xy,
                      grd->grid) != 0) {
            MESS_print(M_error, "GRD_read: unable to read the values of netCDF grid %ld\n", rec);
            std::free(grd->grid);
            grd->grid = nullptr;
            return -1;
        }
    }
    gf->num = static_cast<int>(rec);
    *grdnum = static_cast<int>(rec);
    return 0;
}

// Longitude and latitude of every gridpoint (x fastest, row 0 north) for the coordinate
// variables of a grid_type 1 file; -9999 where the projection has no earth point. The
// active map domain is restored afterwards.
void gridpoint_coordinates(const Domain& domain, std::vector<float>& lon, std::vector<float>& lat)
{
    const size_t n = static_cast<size_t>(domain.nx) * domain.ny;
    lon.assign(n, GRD_MISSING);
    lat.assign(n, GRD_MISSING);
    Domain saved;
    MAP_get_domain(&saved);
    if (MAP_domain(&domain) == 0) {
        for (int j = 0; j < domain.ny; ++j)
            for (int i = 0; i < domain.nx; ++i) {
                float x, y, plat, plon;
                const size_t k = static_cast<size_t>(j) * domain.nx + i;
                if (MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y) == 0 &&
                    MAP_untran(x, y, &plat, &plon) == 1) {
                    lat[k] = plat;
                    lon[k] = plon;
                }
            }
    }
    MAP_domain(&saved);
}

// New files hold the record numbers that codes can make large (grid numbers of edition 2
// grids, ensemble and probability variables, coded forecast times) as ints; older files and
// the sizes keep shorts, and a short that cannot hold the value would silently turn into
// another number.
int put_record_short(int ncid, int var, long rec, int value, const char* what)
{
    if (var < 0) return 0;
    const long start[1] = {rec};
    nc_type type = NC_SHORT;
    if (ncvarinq(ncid, var, nullptr, &type, nullptr, nullptr, nullptr) != -1 && type == NC_INT)
        return ncvarput1(ncid, var, start, &value) == -1 ? -1 : 0;
    if (value < -32768 || value > 32767) {
        MESS_print(M_warn, "GRD_write: %s %d does not fit the netCDF file; written as missing\n",
                   what, value);
        value = -9999;
    }
    const short v = static_cast<short>(value);
    return ncvarput1(ncid, var, start, &v) == -1 ? -1 : 0;
}

int put_record_float(int ncid, int var, long rec, float value)
{
    if (var < 0) return 0;
    const long start[1] = {rec};
    return ncvarput1(ncid, var, start, &value) == -1 ? -1 : 0;
}

// ---- Model files ---------------------------------------------------------------------------

bool starts_with(const char* text, const char* prefix)
{
    return strnicmp(text, prefix, static_cast<int>(std::strlen(prefix))) == 0;
}

bool is_any(const char* text, std::initializer_list<const char*> options)
{
    for (const char* o : options)
        if (stricmp(text, o) == 0) return true;
    return false;
}

// Library variable number of a model variable by its unit text.
struct ModelVar {
    std::initializer_list<const char*> names;
    int (*number)(const char* units);
};

const ModelVar kModelVars[] = {
    {{"pressure", "Psl", "Ptrop", "Pmaxwind", "P"},
     [](const char* u) { return is_any(u, {"pascals", "Pa"}) ? 101 : 1; }},
    {{"gpt_hgt", "H", "Zsfc", "Ztrop", "Zwind", "Z"},
     [](const char* u) { return is_any(u, {"geopotential meters", "gp m"}) ? 102 : 2; }},
    {{"temp", "Ttrop", "T"},
     [](const char* u) { return starts_with(u, "kelvin") || starts_with(u, "degK") ? 104 : 4; }},
    {{"rel_hum", "RH"}, [](const char*) { return 13; }},
    {{"lift_indx", "LI"}, [](const char*) { return 15; }},
    {{"u_wind", "Utrop", "Umaxwind", "Usfc", "U"}, [](const char*) { return 23; }},
    {{"v_wind", "Vtrop", "Vmaxwind", "Vsfc", "V"}, [](const char*) { return 24; }},
    {{"vert_vel", "omega"},
     [](const char* u) { return is_any(u, {"pascals/second", "Pa/second", "Pa/s"}) ? 140 : 40; }},
    {{"precip"}, [](const char*) { return 50; }},
    {{"snow"}, [](const char*) { return 51; }},
    {{"sea_temp", "SST"},
     [](const char* u) { return is_any(u, {"degC", "celsius"}) ? 62 : is_any(u, {"degK"}) ? 161 : 61; }},
    {{"wave_hgt"}, [](const char* u) { return std::strcmp(u, "meters") == 0 ? 164 : 64; }},
    {{"wave_per"}, [](const char*) { return 76; }},
    {{"wave_dir"}, [](const char* u) { return starts_with(u, "degrees") ? 175 : 75; }},
};

// Variable number of a named model variable, -1 when the name is not one of the table.
int model_var_number(const char* name, const char* units)
{
    for (const auto& v : kModelVars)
        for (const char* n : v.names)
            if (stricmp(name, n) == 0) return v.number(units);
    return -1;
}

// Level type of a variable without a level dimension: the file's tropopause or maximum-wind
// class, else the variable's own special level (sea level 12, the lifted-index layer 9),
// else the surface (1).
int single_level_type(const char* name, int file_class)
{
    const int digit = file_class % 10;
    if (digit == 1 || std::strstr(name, "trop")) return 7;
    if (digit == 2 || std::strstr(name, "maxwind") || stricmp(name, "Zwind") == 0) return 6;
    if (stricmp(name, "Psl") == 0) return 12;
    if (is_any(name, {"lift_indx", "LI"})) return 9;
    return 1;
}

int title_class(const char* title)
{
    int file_class = kUnknownClass;
    if (starts_with(title, "NMC Early")) file_class = 10;
    else if (starts_with(title, "NMC Exten")) file_class = 20;
    else if (starts_with(title, "ECMWF:")) file_class = 30;
    else if (starts_with(title, "NMC Globa")) file_class = 40;
    if (std::strstr(title, "Trop")) file_class += 1;
    if (std::strstr(title, "Maximum")) file_class += 2;
    if (std::strstr(title, "72 hours")) file_class += 3;
    return file_class;
}

// Where a model variable's grids lie: which leading dimension runs over time and which over
// level, and how many of each.
struct VarLayout {
    int ndims = 0;
    int dims[NC_MAX_VAR_DIMS];
    int t_axis = -1;
    int z_axis = -1;
    long nt = 1;
    long nz = 1;
};

bool layout_of(GRD_file* gf, int var, VarLayout* l)
{
    *l = VarLayout{};
    nc_type type;
    if (!cdfx::var_shape(gf->fd, var, &type, &l->ndims, l->dims) || l->ndims < 2 ||
        type == NC_CHAR || l->dims[l->ndims - 2] != gf->y_dim || l->dims[l->ndims - 1] != gf->x_dim)
        return false;
    const int rec_dim = priv_of(gf) ? priv_of(gf)->rec_dim : -1;
    for (int k = 0; k < l->ndims - 2; ++k) {
        if (l->dims[k] == gf->t_dim) l->t_axis = k;
        else if (l->dims[k] == gf->z_dim) l->z_axis = k;
        if (dim_len(gf->fd, l->dims[k]) <= 0) return false;  // no records, nothing to read
    }
    if (l->t_axis < 0)
        for (int k = 0; k < l->ndims - 2; ++k)
            if (l->dims[k] == rec_dim) l->t_axis = k;
    if (l->t_axis >= 0) l->nt = dim_len(gf->fd, l->dims[l->t_axis]);
    if (l->z_axis >= 0) l->nz = dim_len(gf->fd, l->dims[l->z_axis]);
    return l->nt > 0 && l->nz > 0;
}

int first_dim(int ncid, const char* a, const char* b)
{
    const int d = find_dim(ncid, a);
    return d >= 0 ? d : find_dim(ncid, b);
}

// The reference time from "year"/"month"/"day"/"hour", else from the text "reftime"
// ("1996-05-01 12:00" and the like).
void model_ref_time(GRD_file* gf, GRD_info* info)
{
    const int ncid = gf->fd;
    int year = -9999, month = -9999, day = -9999, hour = -9999;
    double v;
    if (get_number_at(ncid, find_var(ncid, "year"), 0, &v)) {
        year = to_int(v);
        if (get_number_at(ncid, find_var(ncid, "month"), 0, &v)) month = to_int(v);
        if (get_number_at(ncid, find_var(ncid, "day"), 0, &v)) day = to_int(v);
        if (get_number_at(ncid, find_var(ncid, "hour"), 0, &v)) hour = to_int(v);
    } else {
        const int var = find_var(ncid, "reftime");
        nc_type type;
        int ndims;
        int dims[NC_MAX_VAR_DIMS];
        if (cdfx::var_shape(ncid, var, &type, &ndims, dims) && type == NC_CHAR && ndims >= 1) {
            long start[NC_MAX_VAR_DIMS] = {};
            long count[NC_MAX_VAR_DIMS];
            for (int k = 0; k < ndims; ++k) count[k] = 1;
            const long len = dim_len(ncid, dims[ndims - 1]);
            count[ndims - 1] = len < 16 ? len : 16;
            char text[17] = {};
            if (len > 0 && cdfx::get(ncid, var, start, count, text) == 0) {
                int* fields[4] = {&year, &month, &day, &hour};
                int found = 0;
                for (const char* c = text; *c && found < 4;) {
                    if (*c >= '0' && *c <= '9') {
                        char* end;
                        *fields[found++] = static_cast<int>(std::strtol(c, &end, 10) % 100000);
                        c = end;
                    } else {
                        ++c;
                    }
                }
            }
        }
    }
    // Unusable fields fall back to 1980, January, the first, 00 UTC.
    year = full_year(year);
    if (year < 1900 || year > 2199) year = 1980;
    if (month < 1 || month > 12) month = 1;
    if (day < 1 || day > 31) day = 1;
    if (hour < 0 || hour > 23) hour = 0;
    set_file_date(gf, info, year, month, day, hour);
}

int model_getinfo(GRD_file* gf, GRD_info* info)
{
    const int ncid = gf->fd;
    gf->x_dim = first_dim(ncid, "lon", "x");
    gf->y_dim = first_dim(ncid, "lat", "y");
    gf->z_dim = first_dim(ncid, "level", "plevl");
    gf->t_dim = first_dim(ncid, "frtime", "anltime");
    const int rec_dim = find_dim(ncid, "rtime");
    if (priv_of(gf)) priv_of(gf)->rec_dim = rec_dim;
    gf->x_size = dim_len(ncid, gf->x_dim);
    gf->y_size = dim_len(ncid, gf->y_dim);
    gf->z_size = dim_len(ncid, gf->z_dim);
    gf->t_size = dim_len(ncid, gf->t_dim);
    if (gf->x_size <= 0 || gf->y_size <= 0) {
        MESS_print(M_error, "GRD_getinfo: netCDF file has neither a \"grid\" dimension nor "
                   "longitude and latitude dimensions\n");
        return -1;
    }

    char title[81];
    get_att_text(ncid, NC_GLOBAL, "title", title, sizeof title);
    int file_class = title_class(title);
    const char* gridvar = std::getenv("GRIDVAR");
    str_copy(gf->var_nm, sizeof gf->var_nm, gridvar ? gridvar : "");

    int ndims, nvars, natts, unlimited;
    if (ncinquire(ncid, &ndims, &nvars, &natts, &unlimited) == -1) return -1;
    gf->var_num = 0;
    gf->max_num = 0;
    for (int var = 0; var < nvars; ++var) {
        char name[NC_MAX_NAME + 1] = {};
        nc_type type;
        int vdims;
        int dims[NC_MAX_VAR_DIMS];
        if (ncvarinq(ncid, var, name, &type, &vdims, dims, nullptr) == -1) continue;
        MESS_print(M_debug, "VAR: %d %s\n", var, name);
        if (stricmp(name, "trop") == 0) file_class = file_class / 10 * 10 + 1;
        if (stricmp(name, "maxwind") == 0) file_class = file_class / 10 * 10 + 2;
        char units[80];
        get_att_text(ncid, var, "units", units, sizeof units);
        int number = model_var_number(name, units);
        if (number < 0 && gf->var_nm[0] && std::strcmp(name, gf->var_nm) == 0) number = 0;
        VarLayout layout;
        if (number < 0 || !layout_of(gf, var, &layout)) continue;
        if (gf->var_num >= static_cast<int>(std::size(gf->var))) {
            MESS_print(M_debug, "GRD_getinfo: variable %s left out (15 variables at most)\n", name);
            continue;
        }
        gf->var[gf->var_num] = number;
        gf->values_id[gf->var_num] = var;
        ++gf->var_num;
        gf->max_num += layout.nt * layout.nz;
    }
    gf->itype = file_class + (rec_dim < 0 ? 100 : 0);
    gf->grid = 0;
    info->grid_type = 0;
    info->max_x = static_cast<int>(gf->x_size);
    info->max_y = static_cast<int>(gf->y_size);
    model_ref_time(gf, info);
    return 0;
}

// Number at element `index` of the coordinate variable named after dimension dim.
bool coordinate_value(int ncid, int dim, long index, double* value)
{
    char name[NC_MAX_NAME + 1] = {};
    if (dim < 0 || ncdiminq(ncid, dim, name, nullptr) == -1) return false;
    return get_number_at(ncid, find_var(ncid, name), index, value);
}

int centre_number(int ncid, const char* name)
{
    double v;
    if (get_number_at(ncid, find_var(ncid, name), 0, &v)) return to_int(v);
    int value;
    return get_att_int(ncid, NC_GLOBAL, name, &value) ? value : -9999;
}

// A 1-D coordinate variable over dim, read whole; empty when absent or of another shape.
std::vector<double> coordinates(int ncid, const char* name, int dim, long len)
{
    const int var = find_var(ncid, name);
    nc_type type;
    int ndims;
    int dims[NC_MAX_VAR_DIMS];
    if (len < 2 || !cdfx::var_shape(ncid, var, &type, &ndims, dims) || ndims != 1 ||
        dims[0] != dim || type == NC_CHAR)
        return {};
    std::vector<double> values(static_cast<size_t>(len));
    const long start[1] = {0};
    const long count[1] = {len};
    if (cdfx::get(ncid, var, start, count, values.data()) != 0) return {};
    return values;
}

struct ModelGeometry {
    bool flip = true;        // file rows run south to north: memory row 0 is the last one
    bool extra_col = false;  // one more column repeating the first
};

ModelGeometry model_geometry(GRD_file* gf, GRD_report* grd)
{
    ModelGeometry g;
    Domain& d = grd->domain;
    DOM_init(&d);
    d.nx = static_cast<int>(gf->x_size);
    d.ny = static_cast<int>(gf->y_size);
    grd->type = -9999;
    bool projected = false;
    const auto lat = coordinates(gf->fd, "lat", gf->y_dim, gf->y_size);
    const auto lon = coordinates(gf->fd, "lon", gf->x_dim, gf->x_size);
    if (!lat.empty() && !lon.empty()) {
        d.proj = 2;
        d.dx = static_cast<float>(lon[1] - lon[0]);
        d.dy = static_cast<float>(std::fabs(lat[1] - lat[0]));
        d.clat = static_cast<float>((lat.front() + lat.back()) / 2);
        d.clon = static_cast<float>((lon.front() + lon.back()) / 2);
        g.flip = lat.front() < lat.back();
        projected = true;
    } else if (gf->x_size == 83 && gf->y_size == 83) {
        d.proj = 1;
        d.clat = 50.8936f;
        d.clon = -103.1524f;
        d.plon = -105.0f;
        d.dx = d.dy = 0.9075464f;
        projected = true;
    }
    const int model = grd->model;
    if (model == 83 && !projected) {
        if (gf->x_size == 93 && gf->y_size == 65) {
            grd->type = 211;
            d.proj = 4;
            d.clat = 40.62f;
            d.clon = -100.51f;
            d.nx = 93;
            d.ny = 65;
            d.dx = d.dy = 0.6263f;
            d.plon = -95.0f;
            d.param[0] = 25.0f;
            d.param[1] = 25.0f;
            d.param[2] = 1.277f;
        } else {
            MESS_print(M_warn, "GRD_read: model 83 grid of %ld x %ld points is not grid 211\n",
                       gf->x_size, gf->y_size);
        }
    }
    if (model == 39 || model == 64) {
        grd->type = 50;
    } else if ((model == 69 || model == 78) && grd->time >= 73) {
        grd->type = 11;
        g.extra_col = true;
        d.nx += 1;
        if (d.dx != -9999.0f && d.clon != -9999.0f) d.clon += d.dx / 2;
    } else {
        for (int m : {69, 78, 77, 10, 25, 44, 31, 40})
            if (model == m) grd->type = 11;
    }
    return g;
}

// Moves the file's rows into the report (flipped and widened as the geometry says) and marks
// the model's missing values.
void place_rows(const std::vector<float>& rows, long file_nx, const ModelGeometry& g, GRD_report* grd)
{
    const int nx = grd->domain.nx;
    const int ny = grd->domain.ny;
    for (int j = 0; j < ny; ++j) {
        const float* src = rows.data() + static_cast<size_t>(g.flip ? ny - 1 - j : j) * file_nx;
        float* dst = grd->grid + static_cast<size_t>(j) * nx;
        std::memcpy(dst, src, static_cast<size_t>(file_nx) * sizeof(float));
        if (g.extra_col) dst[file_nx] = src[0];
    }
    const size_t n = static_cast<size_t>(nx) * ny;
    for (size_t i = 0; i < n; ++i)
        if (!(grd->grid[i] < kHuge)) grd->grid[i] = GRD_MISSING;
}

int model_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    const int ncid = gf->fd;
    long wanted = *grdnum;
    int index = -1;
    VarLayout layout;
    for (int i = 0; wanted >= 0 && i < gf->var_num; ++i) {
        if (!layout_of(gf, gf->values_id[i], &layout)) continue;
        const long grids = layout.nt * layout.nz;
        if (wanted < grids) {
            index = i;
            break;
        }
        wanted -= grids;
    }
    if (index < 0) {
        MESS_print(M_warn, "GRD_read: grid %d is past the end of the netCDF file (%ld grids)\n",
                   *grdnum, gf->max_num);
        return -1;
    }
    const long t = wanted / layout.nz;
    const long z = wanted % layout.nz;
    const int var = gf->values_id[index];
    if (!grid_size_ok(gf, gf->x_size, gf->y_size, elem_size_of(ncid, var))) {
        MESS_print(M_error, "GRD_read: netCDF grid of %ld x %ld points is larger than the file\n",
                   gf->x_size, gf->y_size);
        return -1;
    }
    char name[NC_MAX_NAME + 1] = {};
    ncvarinq(ncid, var, name, nullptr, nullptr, nullptr, nullptr);

    grd->var = gf->var[index];
    grd->source = centre_number(ncid, "grib_center");
    grd->model = centre_number(ncid, "grib_model");
    grd->version = 1;
    grd->date = gf->date;
    double v;
    grd->time = 0;
    if (layout.t_axis >= 0 && layout.dims[layout.t_axis] == gf->t_dim &&
        coordinate_value(ncid, gf->t_dim, t, &v))
        grd->time = to_int(v);
    if (layout.z_axis >= 0) {
        grd->ltype = 10;
        grd->level = coordinate_value(ncid, gf->z_dim, z, &v) ? to_int(v) : -9999;
    } else {
        grd->ltype = single_level_type(name, gf->itype);
        grd->level = 0;
    }
    if (grd->var == 50)
        if (const char* qp = std::getenv("GRIBQP")) grd->time += std::atoi(qp);

    char units[80];
    get_att_text(ncid, var, "units", units, sizeof units);
    str_copy(grd->units, sizeof grd->units, units);
    if (grd->var == 0) {
        char long_name[80];
        get_att_text(ncid, var, "long_name", long_name, sizeof long_name);
        str_format(grd->info, sizeof grd->info, "%s (%s)", long_name, units);
    } else if (layout.z_axis >= 0) {
        str_format(grd->info, sizeof grd->info, "%d mb %s (%s)", grd->level, name, units);
    } else {
        str_format(grd->info, sizeof grd->info, "%s (%s)", name, units);
    }

    const ModelGeometry geometry = model_geometry(gf, grd);
    long start[NC_MAX_VAR_DIMS] = {};
    long count[NC_MAX_VAR_DIMS];
    for (int k = 0; k < layout.ndims; ++k) count[k] = 1;
    if (layout.t_axis >= 0) start[layout.t_axis] = t;
    if (layout.z_axis >= 0) start[layout.z_axis] = z;

    float first;
    bool ok = cdfx::get(ncid, var, start, nullptr, &first) == 0;
    if (ok && rep_type != 1 && rep_type != 2) {
        count[layout.ndims - 2] = gf->y_size;
        count[layout.ndims - 1] = gf->x_size;
        std::vector<float> rows(static_cast<size_t>(gf->x_size * gf->y_size));
        ok = cdfx::get(ncid, var, start, count, rows.data()) == 0 &&
             alloc_grid(grd, static_cast<size_t>(grd->domain.nx) * grd->domain.ny);
        if (ok) place_rows(rows, gf->x_size, geometry, grd);
    }
    if (!ok) {
        MESS_print(M_error, "GRD_read: unable to read netCDF variable %s\n", name);
        if (rep_type != 1 && rep_type != 2) {
            std::free(grd->grid);
            grd->grid = nullptr;
        }
        return -1;
    }
    // A grid that starts missing carries no usable identification.
    if (!(first < kHuge)) grd->source = grd->var = grd->ltype = grd->level = grd->time = -9999;
    // Centre and process come from the file and may be any number: combine them only when
    // they are a real centre (below 1000) and process.
    const bool coded = grd->source > 0 && grd->source < 1000 && grd->model >= 0 && grd->model < 1000;
    DATE_make_label_for_time(grd->time < 0 ? 0 : grd->time, coded ? grd->source * 1000 + grd->model : grd->model,
                             &gf->date, grd->datim, sizeof grd->datim);
    gf->cur_var = index;
    gf->num = *grdnum;
    return 0;
}
}  // namespace

long long grd_nc_classic_required_size(const char* filename, off_t file_size)
{
    return classic_required_size(filename, file_size);
}

int grd_nc_open(GRD_file* gf, const char* filename, int f_access)
{
    gf->fd = -1;
    gf->type = GRD_TYPE_NETCDF;
    gf->access = f_access;
    gf->cur_var = -1;
    for (int& id : gf->values_id) id = -1;
    gf->x_coord_id = gf->y_coord_id = gf->proj_id = gf->lat1_id = gf->lat2_id = gf->lon1_id =
        gf->lon2_id = gf->datim_id = gf->info_id = gf->source_id = gf->version_id =
            gf->model_id = gf->type_id = gf->ltype_id = gf->level_id = gf->time_id = gf->var_id =
                gf->dx_id = gf->dy_id = gf->nx_id = gf->ny_id = -1;
    gf->x_dim = gf->y_dim = gf->z_dim = gf->t_dim = -1;
    if (!filename || (f_access != 0 && f_access != 1)) return -1;

    auto priv = new NcPriv;
    if (f_access == 0) {
        struct stat st;
        if (stat(filename, &st) == 0) priv->file_size = st.st_size;
        if (FILE* f = std::fopen(filename, "rb")) {
            char magic[4] = {};
            priv->classic = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "CDF", 3) == 0;
            std::fclose(f);
        }
    }
    if (priv->classic && priv->file_size >= 0) {
        const long long needed = classic_required_size(filename, priv->file_size);
        const char* fault = needed == -2 ? "has a damaged header"
                            : needed > priv->file_size ? "is truncated" : nullptr;
        if (fault) {
            MESS_print(M_error, "GRD_open: netCDF file %s %s (%lld bytes)\n", filename, fault,
                       static_cast<long long>(priv->file_size));
            delete priv;
            return -1;
        }
    }
    int id;
    {
        cdfx::Opts quiet(0);
        id = f_access == 0 ? ncopen(filename, NC_NOWRITE) : nccreate(filename, NC_CLOBBER);
    }
    ncopts = NC_VERBOSE;
    if (id < 0) {
        delete priv;
        MESS_print(M_error, "GRD_open: Unable to open netCDF file: %s\n", filename);
        return -1;
    }
    gf->fd = id;
    gf->priv = priv;
    gf->priv_free = free_priv;
    return 0;
}

int grd_nc_putinfo(GRD_file* gf, GRD_info* info)
{
    if (!gf || gf->fd < 0 || !info) return -1;
    const int ncid = gf->fd;
    if (info->max_x <= 0 || info->max_y <= 0) {
        MESS_print(M_error, "GRD_putinfo: netCDF grid size %d x %d is not usable\n", info->max_x,
                   info->max_y);
        return -1;
    }
    cdfx::never_fatal();
    const int grid_dim = ncdimdef(ncid, "grid", NC_UNLIMITED);
    const int x_dim = ncdimdef(ncid, "x", info->max_x);
    const int y_dim = ncdimdef(ncid, "y", info->max_y);
    const int str_dim = ncdimdef(ncid, "string_len", kStrLen);
    if (grid_dim < 0 || x_dim < 0 || y_dim < 0 || str_dim < 0) return -1;
    const int shape1[1] = {grid_dim};
    const int shape2[2] = {grid_dim, str_dim};
    const int shape3[3] = {grid_dim, y_dim, x_dim};
    auto dims_of = [&](const VarDef& d) {
        return d.shape == 1 ? shape1 : d.shape == 2 ? shape2 : shape3;
    };
    gf->grid = info->grid_type == 1 ? 1 : 0;
    gf->yx_order = 1;
    gf->x_dim = x_dim;
    gf->y_dim = y_dim;
    gf->x_size = info->max_x;
    gf->y_size = info->max_y;
    gf->max_num = 0;

    if (define_var(ncid, kValuesDef, shape3) < 0) return -1;
    if (gf->grid == 1) {
        for (const auto& d : kCoordDefs)
            if (define_var(ncid, d, dims_of(d)) < 0) return -1;
    } else {
        for (const auto& d : kProjDefs)
            if (define_var(ncid, d, dims_of(d)) < 0) return -1;
    }
    for (const auto& d : kRecordDefs)
        if (define_var(ncid, d, dims_of(d)) < 0) return -1;

    if (put_text_att(ncid, NC_GLOBAL, "source", "QAZ") == -1 ||
        put_text_att(ncid, NC_GLOBAL, "version", "1.0") == -1 ||
        put_short_att(ncid, "grid_type", gf->grid) == -1 ||
        put_short_att(ncid, "year", info->date.year) == -1 ||
        put_short_att(ncid, "month", info->date.month) == -1 ||
        put_short_att(ncid, "day", info->date.day) == -1 ||
        put_short_att(ncid, "hour", info->date.hour) == -1)
        return -1;
    if (ncendef(ncid) == -1) return -1;
    lookup_ids(gf);
    gf->date = info->date;
    return 0;
}

int grd_nc_write(GRD_file* gf, GRD_report* grd, int /*rep_type*/, int grd_num)
{
    if (!gf || gf->fd < 0 || !grd || !grd->grid) return -1;
    const int ncid = gf->fd;
    const int nx = grd->domain.nx;
    const int ny = grd->domain.ny;
    if (gf->values_id[0] < 0) {
        MESS_print(M_error, "GRD_write: netCDF grid file has no header (GRD_putinfo first)\n");
        return -1;
    }
    if (grd_num < 0 || nx <= 0 || ny <= 0 || nx > gf->x_size || ny > gf->y_size) {
        MESS_print(M_error, "GRD_write: grid %d of %d x %d points does not fit the netCDF file "
                   "(%ld x %ld)\n", grd_num, nx, ny, gf->x_size, gf->y_size);
        return -1;
    }
    cdfx::never_fatal();
    const long rec = grd_num;
    const long start[3] = {rec, 0, 0};
    const long count_yx[3] = {1, ny, nx};
    const long count_xy[3] = {1, nx, ny};
    if (ncvarput(ncid, gf->values_id[0], start, gf->yx_order ? count_yx : count_xy, grd->grid) ==
        -1)
        return -1;
    if (put_record_text(ncid, gf->datim_id, rec, grd->datim) != 0 ||
        put_record_text(ncid, gf->info_id, rec, grd->info) != 0)
        return -1;
    if (gf->grid == 1 && gf->x_coord_id >= 0 && gf->y_coord_id >= 0 && grd->domain.proj > 0) {
        std::vector<float> lon, lat;
        gridpoint_coordinates(grd->domain, lon, lat);
        if (ncvarput(ncid, gf->x_coord_id, start, gf->yx_order ? count_yx : count_xy,
                     lon.data()) == -1 ||
            ncvarput(ncid, gf->y_coord_id, start, gf->yx_order ? count_yx : count_xy,
                     lat.data()) == -1)
            return -1;
    }
    if (gf->grid == 0) {
        if (put_record_short(ncid, gf->proj_id, rec, grd->domain.proj, "projection") != 0)
            return -1;
        for (const auto& f : kGeometry)
            if (put_record_float(ncid, gf->*f.id, rec, grd->domain.*f.value) != 0) return -1;
        if (const NcPriv* p = priv_of(gf))
            for (int k = 0; k < 3; ++k)
                if (put_record_float(ncid, p->param_id[k], rec, grd->domain.param[k]) != 0) return -1;
    }
    if (const NcPriv* p = priv_of(gf); p && p->units_id >= 0 &&
                                       put_record_text(ncid, p->units_id, rec, grd->units) != 0)
        return -1;
    for (const auto& f : kShorts)
        if (put_record_short(ncid, gf->*f.id, rec, grd->*f.value, f.var) != 0) return -1;
    if (put_record_short(ncid, gf->nx_id, rec, nx, "nx") != 0 ||
        put_record_short(ncid, gf->ny_id, rec, ny, "ny") != 0)
        return -1;
    if (rec >= gf->max_num) gf->max_num = rec + 1;
    gf->num = grd_num;
    return 0;
}

int grd_nc_rewind(GRD_file* gf)
{
    if (!gf) return -1;
    gf->cur_var = -1;
    gf->num = 0;
    return 0;
}

int grd_nc_close(GRD_file* gf)
{
    if (!gf) return -1;
    int result = 0;
    if (gf->fd >= 0) {
        cdfx::never_fatal();
        result = ncclose(gf->fd) == -1 ? -1 : 0;
    }
    gf->fd = -1;
    if (gf->priv && gf->priv_free == free_priv) {
        free_priv(gf->priv);
        gf->priv = nullptr;
        gf->priv_free = nullptr;
    }
    return result;
}

int grd_nc_getinfo(GRD_file* gf, GRD_info* info)
{
    if (!gf || gf->fd < 0 || !info) return -1;
    cdfx::never_fatal();
    info->datim[0] = '\0';
    info->max_x = info->max_y = 0;
    info->grid_type = 0;
    DATE_init(&info->date);
    gf->cur_var = -1;
    gf->num = 0;
    const int grid_dim = find_dim(gf->fd, "grid");
    if (grid_dim >= 0) return lib_getinfo(gf, info, grid_dim);
    return model_getinfo(gf, info);
}

int grd_nc_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    if (!gf || gf->fd < 0 || !grd || !grdnum) return -1;
    cdfx::never_fatal();
    // As for the other file types, a header-only read leaves no values: those of an earlier
    // grid would otherwise stand beside this grid's (perhaps larger) size.
    if (rep_type == 1 || rep_type == 2) GRD_free_report(grd);
    if (gf->itype == 0) {
        if (gf->values_id[0] < 0) {
            MESS_print(M_error, "GRD_read: netCDF file information not read (GRD_getinfo first)\n");
            return -1;
        }
        return lib_read(gf, grd, rep_type, grdnum);
    }
    return model_read(gf, grd, rep_type, grdnum);
}
