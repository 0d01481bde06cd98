// CF netCDF grid files, writing side, and the vocabulary shared with the reader (units, standard
// names, level coordinates, coded forecast times, CF dates).
//
// Grids are gathered as they are written and laid out at close: a variable per variable number,
// level type and domain, named by its abbreviation, its grids stacked along time and level, so
// the layout is only known once every grid is in.
#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cf_domain.hpp"
#include "date.hpp"
#include "grd_cf_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "var_tool.hpp"

namespace cfgrid {

namespace {

struct Rename {
    const char* library;
    const char* udunits;
};

// Whole unit texts whose library spelling UDUNITS does not know.
constexpr Rename kUnitNames[] = {
    {"gpm", "m"},     {"deg", "degree"}, {"mb", "hPa"},    {"C", "degC"},      {"F", "degF"},
    {"dK", "K"},      {"Dbz", "dBZ"},    {"Dobson", "DU"}, {"fraction", "1"},  {"prop", "1"},
    {"numeric", "1"}, {"non-dim", "1"},  {"sec", "s"},
};

struct Factor {
    std::string name;
    int power;
};

// "kg/m^2/s" -> kg^1 m^-2 s^-1; "10^-5 /s" keeps the leading number as a factor.
bool split_units(const std::string& text, std::string& scale, std::vector<Factor>& factors)
{
    std::size_t pos = 0;
    const std::size_t n = text.size();
    auto skip_blanks = [&] {
        while (pos < n && (text[pos] == ' ' || text[pos] == '*' || text[pos] == '.')) ++pos;
    };
    skip_blanks();
    // A leading number, or number^power, is a scale factor.
    if (pos < n && (std::isdigit(static_cast<unsigned char>(text[pos])) || text[pos] == '-')) {
        std::size_t end = pos;
        while (end < n && text[end] != ' ' && text[end] != '/') ++end;
        std::string factor = text.substr(pos, end - pos);
        const std::size_t caret = factor.find('^');
        char* stop = nullptr;
        if (caret != std::string::npos) {
            const double base = std::strtod(factor.substr(0, caret).c_str(), &stop);
            const double power = std::strtod(factor.c_str() + caret + 1, nullptr);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%g", std::pow(base, power));
            scale = buf;
        } else {
            scale = factor;
        }
        pos = end;
    }
    int sign = 1;
    while (pos < n) {
        skip_blanks();
        if (pos >= n) break;
        if (text[pos] == '/') {
            sign = -1;
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < n && (std::isalpha(static_cast<unsigned char>(text[end])) || text[end] == '%' || text[end] == '_'))
            ++end;
        if (end == pos) return false;
        Factor f{text.substr(pos, end - pos), 1};
        pos = end;
        if (pos < n && (text[pos] == '^' || (text[pos] == '*' && pos + 1 < n && text[pos + 1] == '*'))) {
            pos += text[pos] == '^' ? 1 : 2;
            char* stop = nullptr;
            f.power = static_cast<int>(std::strtol(text.c_str() + pos, &stop, 10));
            pos = static_cast<std::size_t>(stop - text.c_str());
        } else if (pos < n && (std::isdigit(static_cast<unsigned char>(text[pos])) || text[pos] == '-')) {
            char* stop = nullptr;
            f.power = static_cast<int>(std::strtol(text.c_str() + pos, &stop, 10));
            pos = static_cast<std::size_t>(stop - text.c_str());
        }
        f.power *= sign;
        factors.push_back(f);
    }
    return true;
}

}  // namespace

std::string to_udunits(const std::string& units)
{
    if (units.empty()) return "1";
    for (const Rename& r : kUnitNames)
        if (units == r.library) return r.udunits;
    std::string scale;
    std::vector<Factor> factors;
    if (!split_units(units, scale, factors)) return units;
    std::string out = scale;
    for (Factor& f : factors) {
        for (const Rename& r : kUnitNames)
            if (f.name == r.library && std::strcmp(r.udunits, "1") != 0) f.name = r.udunits;
        if (!out.empty()) out += ' ';
        out += f.name;
        if (f.power != 1) out += std::to_string(f.power);
    }
    return out.empty() ? "1" : out;
}

std::string from_udunits(const std::string& units)
{
    if (units == "1" || units.empty()) return "";
    for (const Rename& r : kUnitNames)
        if (units == r.udunits && std::strcmp(r.udunits, "1") != 0 && std::strcmp(r.library, "gpm") != 0 &&
            std::strcmp(r.library, "dK") != 0 && std::strcmp(r.library, "sec") != 0)
            return r.library;
    std::string scale;
    std::vector<Factor> factors;
    if (units.find('/') != std::string::npos || !split_units(units, scale, factors)) return units;
    std::string num, den;
    for (const Factor& f : factors) {
        std::string& side = f.power > 0 ? num : den;
        const int power = std::abs(f.power);
        if (f.power > 0 && !side.empty()) side += ' ';
        if (f.power < 0) side += '/';
        side += f.name;
        if (power != 1) side += '^' + std::to_string(power);
    }
    std::string out = scale;
    if (!num.empty()) out += (out.empty() ? "" : " ") + num;
    if (!den.empty()) out += (out.empty() || !num.empty() ? "" : " ") + den;
    return out;
}

namespace {

struct StandardName {
    int var;
    const char* name;
};

// CF standard names of the library's variable numbers (GRIB edition 1 table 2).
constexpr StandardName kStandardNames[] = {
    {1, "air_pressure"},
    {2, "air_pressure_at_mean_sea_level"},
    {6, "geopotential"},
    {7, "geopotential_height"},
    {8, "height"},
    {11, "air_temperature"},
    {13, "air_potential_temperature"},
    {14, "equivalent_potential_temperature"},
    {17, "dew_point_temperature"},
    {20, "visibility_in_air"},
    {31, "wind_from_direction"},
    {32, "wind_speed"},
    {33, "eastward_wind"},
    {34, "northward_wind"},
    {35, "atmosphere_horizontal_streamfunction"},
    {36, "atmosphere_horizontal_velocity_potential"},
    {39, "lagrangian_tendency_of_air_pressure"},
    {40, "upward_air_velocity"},
    {41, "atmosphere_absolute_vorticity"},
    {43, "atmosphere_relative_vorticity"},
    {44, "divergence_of_wind"},
    {51, "specific_humidity"},
    {52, "relative_humidity"},
    {53, "humidity_mixing_ratio"},
    {54, "atmosphere_mass_content_of_water_vapor"},
    {55, "water_vapor_partial_pressure_in_air"},
    {57, "water_evapotranspiration_amount"},
    {59, "precipitation_flux"},
    {61, "precipitation_amount"},
    {65, "surface_snow_amount"},
    {66, "surface_snow_thickness"},
    {71, "cloud_area_fraction"},
    {80, "sea_surface_temperature"},
    {81, "land_binary_mask"},
    {84, "surface_albedo"},
    {91, "sea_ice_area_fraction"},
};

constexpr LevelInfo kLevelInfo[] = {
    {20, "isotherm", "K", "up", "air_temperature"},
    {100, "pressure", "hPa", "down", "air_pressure"},
    {101, "pressure layer (top kPa x 1000 + bottom kPa)", "1", "down", ""},
    {103, "altitude above mean sea level", "m", "up", "altitude"},
    {104, "altitude layer (top hm x 1000 + bottom hm)", "1", "up", ""},
    {105, "height above ground", "m", "up", "height"},
    {106, "height layer (top hm x 1000 + bottom hm)", "1", "up", ""},
    {107, "sigma level (1/10000)", "1", "down", ""},
    {108, "sigma layer (top x 1000 + bottom, 1/100)", "1", "down", ""},
    {109, "hybrid level", "1", "down", "model_level_number"},
    {110, "hybrid layer (top x 1000 + bottom)", "1", "down", ""},
    {111, "depth below land surface", "cm", "down", "depth"},
    {112, "depth layer (top cm x 1000 + bottom cm)", "1", "down", ""},
    {113, "isentropic level", "K", "up", "air_potential_temperature"},
    {117, "potential vorticity surface (1e-9 K m2 kg-1 s-1)", "1", "up", ""},
    {160, "depth below sea level", "m", "down", "depth"},
};

}  // namespace

const char* standard_name(int var)
{
    for (const StandardName& s : kStandardNames)
        if (s.var == var) return s.name;
    return "";
}

int var_of_standard_name(const std::string& name)
{
    for (const StandardName& s : kStandardNames)
        if (name == s.name) return s.var;
    return -1;
}

const LevelInfo* level_info(int ltype)
{
    for (const LevelInfo& l : kLevelInfo)
        if (l.ltype == ltype) return &l;
    return nullptr;
}

int ltype_of_coordinate(const std::string& standard_name, const std::string& units, const std::string& positive)
{
    if (standard_name == "air_pressure" || units == "hPa" || units == "Pa" || units == "mb" || units == "millibar" ||
        units == "hectopascal" || units == "pascal")
        return 100;
    if (standard_name == "height") return 105;
    if (standard_name == "altitude") return 103;
    if (standard_name == "model_level_number") return 109;
    if (standard_name == "atmosphere_sigma_coordinate") return 107;
    if (standard_name == "air_potential_temperature") return 113;
    if (standard_name == "depth") return units == "cm" ? 111 : 160;
    if (units == "m" || units == "km") return positive == "down" ? 160 : 105;
    return 109;
}

TimeCode decode_time(int coded)
{
    TimeCode t;
    if (coded >= 0 && coded < 800) {
        t.end = t.start = coded;
        return t;
    }
    if (coded >= 800 && coded < 900) {  // days
        t.end = t.start = (coded - 800) * 24;
        return t;
    }
    if (coded >= 1000000) {
        t.kind = coded / 1000000;
        const int rest = coded % 1000000;
        t.start = rest / 1000;
        t.end = rest % 1000;
        if (t.kind == 13 || t.kind == 18) t.kind = 3;  // averages of forecasts
        if (t.kind == 23) t.kind = 3;
        if (t.kind < 2 || t.kind > 7) t.known = false;
        return t;
    }
    t.known = false;
    t.kind = 0;
    t.start = t.end = 0;
    return t;
}

int encode_time(const TimeCode& t)
{
    if (t.kind == 0) return t.end;
    return t.kind * 1000000 + t.start * 1000 + t.end;
}

const char* cell_method_of(int kind)
{
    switch (kind) {
    case 3: return "mean";
    case 4: return "sum";
    case 6: return "maximum";
    case 7: return "minimum";
    default: return "";
    }
}

int kind_of_cell_methods(const std::string& text)
{
    const std::size_t at = text.find("time:");
    if (at == std::string::npos) return 0;
    std::string rest = text.substr(at + 5);
    while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    struct {
        const char* word;
        int kind;
    } const words[] = {{"mean", 3}, {"sum", 4}, {"maximum", 6}, {"minimum", 7}, {"point", 0}};
    for (const auto& w : words)
        if (rest.compare(0, std::strlen(w.word), w.word) == 0) return w.kind;
    return 0;
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back, for any year.
std::int64_t days_from_civil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

std::int64_t date_seconds(const Date& date)
{
    const int hour = date.hour < 0 ? 0 : date.hour;
    const int min = date.min < 0 ? 0 : date.min;
    const int sec = date.sec < 0 ? 0 : date.sec;
    const int month = date.month < 1 || date.month > 12 ? 1 : date.month;
    const int day = date.day < 1 || date.day > 31 ? 1 : date.day;
    return days_from_civil(date.year, month, day) * 86400 + hour * 3600 + min * 60 + sec;
}

Date seconds_date(std::int64_t secs)
{
    Date d;
    DATE_init(&d);
    // Far outside any forecast: kept within what a Date's fields hold.
    const std::int64_t limit = 86400LL * 366 * 100000;
    if (secs > limit) secs = limit;
    if (secs < -limit) secs = -limit;
    const std::int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    const std::int64_t rest = secs - days * 86400;
    civil_from_days(days, d.year, d.month, d.day);
    d.hour = static_cast<int>(rest / 3600);
    d.min = static_cast<int>(rest / 60 % 60);
    d.sec = static_cast<int>(rest % 60);
    d.jday = static_cast<int>(days - days_from_civil(d.year, 1, 1) + 1);
    d.wday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    return d;
}

bool parse_time_units(const std::string& units, double* unit_seconds, std::int64_t* base)
{
    const std::size_t since = units.find(" since ");
    if (since == std::string::npos) return false;
    std::string unit = units.substr(0, since);
    while (!unit.empty() && unit.front() == ' ') unit.erase(0, 1);
    for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct {
        const char* word;
        double seconds;
    } const words[] = {{"second", 1},   {"sec", 1},     {"s", 1},    {"minute", 60}, {"min", 60},
                       {"hour", 3600},  {"hr", 3600},   {"h", 3600}, {"day", 86400}, {"d", 86400}};
    double secs = 0.0;
    for (const auto& w : words) {
        const std::string word = w.word;
        if (unit == word || unit == word + "s") {
            secs = w.seconds;
            break;
        }
    }
    if (secs == 0.0) return false;
    // "<date>[ |T]<time>[ ][Z|UTC|+hh[:mm]|-hh[:mm]]"; the time and its parts are optional.
    int year = 0, month = 1, day = 1, hour = 0, minute = 0;
    double second = 0.0;
    const std::string when = units.substr(since + 7);
    const char* p = when.c_str();
    int used = 0;
    if (std::sscanf(p, " %d-%d-%d%n", &year, &month, &day, &used) != 3) return false;
    p += used;
    if (*p == ' ' || *p == 'T') {
        const char* t = p + 1;
        while (*t == ' ') ++t;
        if (std::sscanf(t, "%d%n", &hour, &used) == 1 && *t != '+' && *t != '-') {
            t += used;
            if (*t == ':' && std::sscanf(t + 1, "%d%n", &minute, &used) == 1) {
                t += 1 + used;
                if (*t == ':' && std::sscanf(t + 1, "%lf%n", &second, &used) == 1) t += 1 + used;
            }
            p = t;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 24 || minute < 0 || minute > 59)
        return false;
    std::int64_t offset = 0;
    while (*p == ' ') ++p;
    if (*p == '+' || *p == '-') {
        int zh = 0, zm = 0;
        const int sign = *p == '-' ? -1 : 1;
        const int got = std::sscanf(p + 1, "%d:%d", &zh, &zm);
        if (got >= 1 && zh >= 0 && zh <= 14 && zm >= 0 && zm < 60) {
            offset = sign * (zh * 3600LL + zm * 60LL);
        }
    }
    *unit_seconds = secs;
    *base = days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
            static_cast<std::int64_t>(std::clamp(second, 0.0, 61.0)) - offset;
    return true;
}

}  // namespace cfgrid

// ---- the writer --------------------------------------------------------------------------------

namespace {

using namespace cfgrid;

struct Stored {
    GRD_report head;
    std::vector<float> values;
};

struct CfWriter {
    std::string filename;
    int ncid = -1;
    bool defined = false;  // putinfo done
    GRD_info info{};
    std::vector<Stored> grids;
};

void free_writer(void* p)
{
    auto* w = static_cast<CfWriter*>(p);
    if (w->ncid >= 0) nc_close(w->ncid);
    delete w;
}

CfWriter* writer_of(GRD_file* gf) { return gf && gf->priv_free == free_writer ? static_cast<CfWriter*>(gf->priv) : nullptr; }

bool check(int status, const char* what)
{
    if (status == NC_NOERR) return true;
    MESS_print(M_error, "GRD_write: CF netCDF %s: %s\n", what, nc_strerror(status));
    return false;
}

std::string clean_name(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) name = "v" + name;
    return name;
}

bool put_text(int ncid, int var, const char* name, const std::string& text)
{
    return check(nc_put_att_text(ncid, var, name, text.size(), text.c_str()), name);
}

bool put_double(int ncid, int var, const char* name, const std::vector<double>& values)
{
    return check(nc_put_att_double(ncid, var, name, NC_DOUBLE, values.size(), values.data()), name);
}

bool put_int(int ncid, int var, const char* name, int value)
{
    return check(nc_put_att_int(ncid, var, name, NC_INT, 1, &value), name);
}

// One horizontal grid of the file: its dimensions, coordinates and grid mapping.
struct Horizontal {
    Domain dom;
    bool described = false;  // has a CF grid_mapping
    CF_grid cf;
    int x_dim = -1, y_dim = -1;
    int x_var = -1, y_var = -1, lat_var = -1, lon_var = -1, crs_var = -1;
    std::string crs_name, coordinates;
};

// One time axis: (reference seconds, coded time) per index, in the order of valid time.
struct TimeKey {
    std::int64_t ref;
    int coded;
    bool operator<(const TimeKey& o) const
    {
        const std::int64_t valid = ref + decode_time(coded).end * 3600LL;
        const std::int64_t ovalid = o.ref + decode_time(o.coded).end * 3600LL;
        if (valid != ovalid) return valid < ovalid;
        if (ref != o.ref) return ref < o.ref;
        return coded < o.coded;
    }
    bool operator==(const TimeKey& o) const { return ref == o.ref && coded == o.coded; }
};

struct TimeAxis {
    std::vector<TimeKey> keys;
    bool bounds = false;
    int dim = -1, var = -1;
};

struct LevelAxis {
    int ltype;
    std::vector<int> levels;
    int dim = -1, var = -1;
};

struct Group {
    int var, ltype;
    std::size_t horizontal;
    std::string units;
    std::vector<std::size_t> members;
    std::size_t time_axis = 0;
    long level_axis = -1;
    int kind = 0;  // statistic of its times (0 none)
    std::string name;
    int ncvar = -1;
};

std::string suffix(const std::string& base, int n) { return n == 0 ? base : base + std::to_string(n); }

bool define_horizontal(int ncid, Horizontal& h, int index)
{
    const bool latlon = h.described && h.cf.latlon;
    const std::string xn = suffix(latlon ? "lon" : "x", index), yn = suffix(latlon ? "lat" : "y", index);
    if (!check(nc_def_dim(ncid, yn.c_str(), static_cast<size_t>(h.dom.ny), &h.y_dim), "dimension") ||
        !check(nc_def_dim(ncid, xn.c_str(), static_cast<size_t>(h.dom.nx), &h.x_dim), "dimension") ||
        !check(nc_def_var(ncid, yn.c_str(), NC_DOUBLE, 1, &h.y_dim, &h.y_var), "coordinate") ||
        !check(nc_def_var(ncid, xn.c_str(), NC_DOUBLE, 1, &h.x_dim, &h.x_var), "coordinate"))
        return false;
    if (latlon) {
        if (!put_text(ncid, h.x_var, "standard_name", "longitude") || !put_text(ncid, h.x_var, "long_name", "longitude") ||
            !put_text(ncid, h.x_var, "units", "degrees_east") || !put_text(ncid, h.x_var, "axis", "X") ||
            !put_text(ncid, h.y_var, "standard_name", "latitude") || !put_text(ncid, h.y_var, "long_name", "latitude") ||
            !put_text(ncid, h.y_var, "units", "degrees_north") || !put_text(ncid, h.y_var, "axis", "Y"))
            return false;
    } else if (h.described) {
        const bool angles = h.cf.xy_units == "radian";
        const char* xs = angles ? "projection_x_angular_coordinate" : "projection_x_coordinate";
        const char* ys = angles ? "projection_y_angular_coordinate" : "projection_y_coordinate";
        if (!put_text(ncid, h.x_var, "standard_name", xs) || !put_text(ncid, h.x_var, "units", h.cf.xy_units) ||
            !put_text(ncid, h.x_var, "axis", "X") || !put_text(ncid, h.y_var, "standard_name", ys) ||
            !put_text(ncid, h.y_var, "units", h.cf.xy_units) || !put_text(ncid, h.y_var, "axis", "Y"))
            return false;
    } else {
        if (!put_text(ncid, h.x_var, "long_name", "grid column") || !put_text(ncid, h.x_var, "units", "1") ||
            !put_text(ncid, h.y_var, "long_name", "grid row from the north") || !put_text(ncid, h.y_var, "units", "1"))
            return false;
    }
    if (h.described) {
        h.crs_name = suffix("crs", index);
        if (!check(nc_def_var(ncid, h.crs_name.c_str(), NC_INT, 0, nullptr, &h.crs_var), "grid mapping")) return false;
        for (const CF_attribute& a : h.cf.attributes) {
            const bool ok = a.text.empty() ? put_double(ncid, h.crs_var, a.name.c_str(), a.values)
                                           : put_text(ncid, h.crs_var, a.name.c_str(), a.text);
            if (!ok) return false;
        }
    }
    // 2-D latitude/longitude for every earth grid that is not a latitude/longitude grid.
    if (!latlon && h.dom.proj >= 1 && h.dom.proj <= 9) {
        const int dims[2] = {h.y_dim, h.x_dim};
        const std::string lat = suffix("lat", index), lon = suffix("lon", index);
        if (!check(nc_def_var(ncid, lat.c_str(), NC_DOUBLE, 2, dims, &h.lat_var), "latitude") ||
            !check(nc_def_var(ncid, lon.c_str(), NC_DOUBLE, 2, dims, &h.lon_var), "longitude") ||
            !put_text(ncid, h.lat_var, "standard_name", "latitude") ||
            !put_text(ncid, h.lat_var, "units", "degrees_north") ||
            !put_text(ncid, h.lon_var, "standard_name", "longitude") ||
            !put_text(ncid, h.lon_var, "units", "degrees_east"))
            return false;
        const double fill = kFill;
        if (!check(nc_put_att_double(ncid, h.lat_var, "_FillValue", NC_DOUBLE, 1, &fill), "_FillValue") ||
            !check(nc_put_att_double(ncid, h.lon_var, "_FillValue", NC_DOUBLE, 1, &fill), "_FillValue"))
            return false;
        h.coordinates = lat + " " + lon;
    }
    return true;
}

bool write_horizontal(int ncid, const Horizontal& h)
{
    std::vector<double> x(static_cast<size_t>(h.dom.nx)), y(static_cast<size_t>(h.dom.ny));
    if (h.described) {
        x = h.cf.x;
        y = h.cf.y;
    } else {
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
        for (size_t j = 0; j < y.size(); ++j) y[j] = static_cast<double>(j);
    }
    if (!check(nc_put_var_double(ncid, h.x_var, x.data()), "x") || !check(nc_put_var_double(ncid, h.y_var, y.data()), "y"))
        return false;
    if (h.lat_var >= 0) {
        std::vector<double> lat, lon;
        if (CF_domain_latlon(&h.dom, &lat, &lon) != 0) return false;
        if (!check(nc_put_var_double(ncid, h.lat_var, lat.data()), "latitude") ||
            !check(nc_put_var_double(ncid, h.lon_var, lon.data()), "longitude"))
            return false;
    }
    return true;
}

std::string iso_date(std::int64_t secs)
{
    const Date d = seconds_date(secs);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.min, d.sec);
    return text;
}

bool define_time(int ncid, TimeAxis& t, int index, std::int64_t base, int kind)
{
    const std::string name = suffix("time", index);
    if (!check(nc_def_dim(ncid, name.c_str(), t.keys.size(), &t.dim), "time dimension") ||
        !check(nc_def_var(ncid, name.c_str(), NC_DOUBLE, 1, &t.dim, &t.var), "time"))
        return false;
    const std::string units = "hours since " + iso_date(base);
    if (!put_text(ncid, t.var, "standard_name", "time") || !put_text(ncid, t.var, "long_name", "valid time") ||
        !put_text(ncid, t.var, "units", units) || !put_text(ncid, t.var, "calendar", "standard") ||
        !put_text(ncid, t.var, "axis", "T"))
        return false;
    int var;
    const std::string ref = suffix("reference_time", index), period = suffix("forecast_period", index);
    // One reference time for the whole axis (an analysis and its forecasts) is a scalar.
    bool one_ref = true;
    for (const TimeKey& k : t.keys) one_ref = one_ref && k.ref == t.keys[0].ref;
    if (!check(nc_def_var(ncid, ref.c_str(), NC_DOUBLE, one_ref ? 0 : 1, &t.dim, &var), "reference_time") ||
        !put_text(ncid, var, "standard_name", "forecast_reference_time") || !put_text(ncid, var, "units", units) ||
        !put_text(ncid, var, "calendar", "standard") ||
        !check(nc_def_var(ncid, period.c_str(), NC_DOUBLE, 1, &t.dim, &var), "forecast_period") ||
        !put_text(ncid, var, "standard_name", "forecast_period") || !put_text(ncid, var, "units", "hours"))
        return false;
    if (t.bounds) {
        int nv;
        const std::string bname = suffix("time_bnds", index);
        const std::string nvname = "nv";
        if (nc_inq_dimid(ncid, nvname.c_str(), &nv) != NC_NOERR &&
            !check(nc_def_dim(ncid, nvname.c_str(), 2, &nv), "bounds dimension"))
            return false;
        const int dims[2] = {t.dim, nv};
        if (!check(nc_def_var(ncid, bname.c_str(), NC_DOUBLE, 2, dims, &var), "time bounds") ||
            !put_text(ncid, t.var, "bounds", bname))
            return false;
    }
    (void)kind;
    return true;
}

bool write_time(int ncid, const TimeAxis& t, int index, std::int64_t base)
{
    std::vector<double> valid, ref, period, bounds;
    for (const TimeKey& k : t.keys) {
        const TimeCode c = decode_time(k.coded);
        ref.push_back(static_cast<double>(k.ref - base) / 3600.0);
        valid.push_back(ref.back() + c.end);
        period.push_back(c.end);
        bounds.push_back(ref.back() + (c.kind ? c.start : c.end));
        bounds.push_back(ref.back() + c.end);
    }
    int var;
    if (!check(nc_put_var_double(ncid, t.var, valid.data()), "time")) return false;
    // A scalar reference time takes the first value alone.
    if (nc_inq_varid(ncid, suffix("reference_time", index).c_str(), &var) != NC_NOERR ||
        !check(nc_put_var_double(ncid, var, ref.data()), "reference_time"))
        return false;
    if (nc_inq_varid(ncid, suffix("forecast_period", index).c_str(), &var) != NC_NOERR ||
        !check(nc_put_var_double(ncid, var, period.data()), "forecast_period"))
        return false;
    if (t.bounds && (nc_inq_varid(ncid, suffix("time_bnds", index).c_str(), &var) != NC_NOERR ||
                     !check(nc_put_var_double(ncid, var, bounds.data()), "time bounds")))
        return false;
    return true;
}

bool define_level(int ncid, LevelAxis& l, int index)
{
    const std::string name = suffix("level", index);
    if (!check(nc_def_dim(ncid, name.c_str(), l.levels.size(), &l.dim), "level dimension") ||
        !check(nc_def_var(ncid, name.c_str(), NC_DOUBLE, 1, &l.dim, &l.var), "level"))
        return false;
    const LevelInfo* info = level_info(l.ltype);
    if (!put_text(ncid, l.var, "long_name", info ? info->long_name : "level") ||
        !put_text(ncid, l.var, "units", info ? info->units : "1") ||
        !put_text(ncid, l.var, "positive", info ? info->positive : "up") || !put_text(ncid, l.var, "axis", "Z") ||
        !put_int(ncid, l.var, "level_type", l.ltype))
        return false;
    if (info && info->standard_name[0] && !put_text(ncid, l.var, "standard_name", info->standard_name)) return false;
    return true;
}

// Lays out every gathered grid and writes the file.
bool write_file(CfWriter& w)
{
    const int ncid = w.ncid;
    std::vector<Horizontal> horizontals;
    std::vector<Group> groups;
    std::int64_t base = INT64_MAX;
    for (std::size_t k = 0; k < w.grids.size(); ++k) {
        const GRD_report& g = w.grids[k].head;
        base = std::min(base, date_seconds(g.date));
        std::size_t h = 0;
        while (h < horizontals.size() && !DOM_comp(&horizontals[h].dom, &g.domain)) ++h;
        if (h == horizontals.size()) {
            Horizontal added;
            added.dom = g.domain;
            // A projection without a CF form is written on grid indices (with 2-D lat/lon).
            added.described = CF_has_mapping(g.domain.proj) && CF_describe_domain(&g.domain, &added.cf) == 0;
            horizontals.push_back(std::move(added));
        }
        const std::string units = g.units[0] ? g.units : VAR_var_units(g.var);
        std::size_t gi = 0;
        while (gi < groups.size() && !(groups[gi].var == g.var && groups[gi].ltype == g.ltype &&
                                       groups[gi].horizontal == h && groups[gi].units == units))
            ++gi;
        if (gi == groups.size()) {
            Group added;
            added.var = g.var;
            added.ltype = g.ltype;
            added.horizontal = h;
            added.units = units;
            groups.push_back(std::move(added));
        }
        groups[gi].members.push_back(k);
    }

    // Axes: groups with the same times (or levels) share one.
    std::vector<TimeAxis> times;
    std::vector<LevelAxis> levels;
    std::map<std::string, int> name_uses;
    for (Group& gr : groups) {
        std::set<TimeKey> keys;
        std::set<int> lv;
        for (std::size_t m : gr.members) {
            const GRD_report& g = w.grids[m].head;
            keys.insert({date_seconds(g.date), g.time});
            lv.insert(g.level);
            gr.kind = std::max(gr.kind, decode_time(g.time).kind);
        }
        TimeAxis t;
        t.keys.assign(keys.begin(), keys.end());
        for (const TimeKey& k : t.keys) t.bounds = t.bounds || decode_time(k.coded).kind != 0;
        std::size_t ti = 0;
        while (ti < times.size() && !(times[ti].keys == t.keys)) ++ti;
        if (ti == times.size()) times.push_back(t);
        gr.time_axis = ti;
        if (level_info(gr.ltype) || lv.size() > 1) {
            LevelAxis l{gr.ltype, std::vector<int>(lv.begin(), lv.end())};
            std::size_t li = 0;
            while (li < levels.size() && !(levels[li].ltype == l.ltype && levels[li].levels == l.levels)) ++li;
            if (li == levels.size()) levels.push_back(l);
            gr.level_axis = static_cast<long>(li);
        }
        const std::string abbr = VAR_var_name(gr.var);
        gr.name = clean_name(abbr.empty() ? "var" + std::to_string(gr.var) : abbr);
        ++name_uses[gr.name];
    }
    // Abbreviations shared by several variables get the level type, then a count.
    std::set<std::string> taken;
    for (Group& gr : groups) {
        if (name_uses[gr.name] > 1) gr.name += "_" + std::to_string(gr.ltype < 0 ? 0 : gr.ltype);
        std::string name = gr.name;
        for (int n = 2; taken.count(name); ++n) name = gr.name + "_" + std::to_string(n);
        gr.name = name;
        taken.insert(name);
    }

    for (std::size_t h = 0; h < horizontals.size(); ++h)
        if (!define_horizontal(ncid, horizontals[h], static_cast<int>(h))) return false;
    for (std::size_t t = 0; t < times.size(); ++t)
        if (!define_time(ncid, times[t], static_cast<int>(t), base, 0)) return false;
    for (std::size_t l = 0; l < levels.size(); ++l)
        if (!define_level(ncid, levels[l], static_cast<int>(l))) return false;

    for (Group& gr : groups) {
        const Horizontal& h = horizontals[gr.horizontal];
        const TimeAxis& t = times[gr.time_axis];
        int dims[4];
        int nd = 0;
        dims[nd++] = t.dim;
        if (gr.level_axis >= 0) dims[nd++] = levels[static_cast<std::size_t>(gr.level_axis)].dim;
        dims[nd++] = h.y_dim;
        dims[nd++] = h.x_dim;
        if (!check(nc_def_var(ncid, gr.name.c_str(), NC_FLOAT, nd, dims, &gr.ncvar), "variable")) return false;
        const float fill = kFill;
        const GRD_report& first = w.grids[gr.members[0]].head;
        std::string long_name = VAR_var_long_name(gr.var);
        if (long_name.empty()) long_name = first.info[0] ? first.info : gr.name;
        if (!check(nc_put_att_float(ncid, gr.ncvar, "_FillValue", NC_FLOAT, 1, &fill), "_FillValue") ||
            !check(nc_put_att_float(ncid, gr.ncvar, "missing_value", NC_FLOAT, 1, &fill), "missing_value") ||
            !put_text(ncid, gr.ncvar, "long_name", long_name) ||
            !put_text(ncid, gr.ncvar, "units", to_udunits(gr.units)))
            return false;
        // The library's own unit text where UDUNITS spells it otherwise ("gpm"), so that it reads back.
        if (from_udunits(to_udunits(gr.units)) != gr.units && !put_text(ncid, gr.ncvar, "units_text", gr.units))
            return false;
        if (standard_name(gr.var)[0] && !put_text(ncid, gr.ncvar, "standard_name", standard_name(gr.var))) return false;
        std::string coordinates = h.coordinates;
        if (gr.level_axis < 0) {
            // A level type without a value (surface, sea level): kept as attributes.
            if (!put_int(ncid, gr.ncvar, "level_type", gr.ltype) || !put_int(ncid, gr.ncvar, "level", first.level))
                return false;
        }
        coordinates += std::string(coordinates.empty() ? "" : " ") + suffix("reference_time", static_cast<int>(gr.time_axis)) +
                       " " + suffix("forecast_period", static_cast<int>(gr.time_axis));
        if (!put_text(ncid, gr.ncvar, "coordinates", coordinates)) return false;
        if (h.crs_var >= 0 && !put_text(ncid, gr.ncvar, "grid_mapping", h.crs_name)) return false;
        if (gr.kind >= 2 && cell_method_of(gr.kind)[0] &&
            !put_text(ncid, gr.ncvar, "cell_methods", std::string("time: ") + cell_method_of(gr.kind)))
            return false;
        if (!put_int(ncid, gr.ncvar, "variable_number", gr.var) || !put_int(ncid, gr.ncvar, "centre", first.source) ||
            !put_int(ncid, gr.ncvar, "model", first.model) || !put_int(ncid, gr.ncvar, "grid_number", first.type) ||
            !put_text(ncid, gr.ncvar, "description", first.info))
            return false;
    }

    const char* model = VAR_model(w.grids[0].head.model);
    Date now;
    DATE_get_current_gmdate(&now);
    const std::string when = iso_date(date_seconds(now)) + " UTC";
    if (!put_text(ncid, NC_GLOBAL, "Conventions", "CF-1.8") ||
        !put_text(ncid, NC_GLOBAL, "title", w.grids[0].head.info[0] ? w.grids[0].head.info : "grids") ||
        !put_text(ncid, NC_GLOBAL, "source", std::string("model ") + model) ||
        !put_text(ncid, NC_GLOBAL, "history", when + " written by the qaz grid library") ||
        !check(nc_enddef(ncid), "header"))
        return false;

    for (const Horizontal& h : horizontals)
        if (!write_horizontal(ncid, h)) return false;
    for (std::size_t t = 0; t < times.size(); ++t)
        if (!write_time(ncid, times[t], static_cast<int>(t), base)) return false;
    for (const LevelAxis& l : levels) {
        std::vector<double> v(l.levels.begin(), l.levels.end());
        if (!check(nc_put_var_double(ncid, l.var, v.data()), "level")) return false;
    }
    for (const Group& gr : groups) {
        const Horizontal& h = horizontals[gr.horizontal];
        const TimeAxis& t = times[gr.time_axis];
        const LevelAxis* l = gr.level_axis >= 0 ? &levels[static_cast<std::size_t>(gr.level_axis)] : nullptr;
        const std::size_t nz = l ? l->levels.size() : 1;
        const std::size_t plane = static_cast<std::size_t>(h.dom.nx) * static_cast<std::size_t>(h.dom.ny);
        // Time and level slots no grid fills stay missing.
        std::vector<bool> filled(t.keys.size() * nz, false);
        for (std::size_t m : gr.members) {
            const Stored& s = w.grids[m];
            const TimeKey key{date_seconds(s.head.date), s.head.time};
            const std::size_t ti = static_cast<std::size_t>(std::lower_bound(t.keys.begin(), t.keys.end(), key) - t.keys.begin());
            const std::size_t zi =
                l ? static_cast<std::size_t>(std::lower_bound(l->levels.begin(), l->levels.end(), s.head.level) - l->levels.begin()) : 0;
            size_t start[4] = {ti, zi, 0, 0}, count[4] = {1, 1, static_cast<size_t>(h.dom.ny), static_cast<size_t>(h.dom.nx)};
            if (!l) {
                start[1] = 0;
                count[1] = static_cast<size_t>(h.dom.ny);
                count[2] = static_cast<size_t>(h.dom.nx);
            }
            if (!check(nc_put_vara_float(ncid, gr.ncvar, start, count, s.values.data()), "values")) return false;
            filled[ti * nz + zi] = true;
        }
        const std::vector<float> empty(plane, kFill);
        for (std::size_t ti = 0; ti < t.keys.size(); ++ti)
            for (std::size_t zi = 0; zi < nz; ++zi) {
                if (filled[ti * nz + zi]) continue;
                size_t start[4] = {ti, zi, 0, 0}, count[4] = {1, 1, static_cast<size_t>(h.dom.ny), static_cast<size_t>(h.dom.nx)};
                if (!l) {
                    start[1] = 0;
                    count[1] = static_cast<size_t>(h.dom.ny);
                    count[2] = static_cast<size_t>(h.dom.nx);
                }
                if (!check(nc_put_vara_float(ncid, gr.ncvar, start, count, empty.data()), "values")) return false;
            }
    }
    return true;
}

}  // namespace

int grd_cf_putinfo(GRD_file* gf, GRD_info* info)
{
    CfWriter* w = writer_of(gf);
    if (!w || !info) return -1;
    w->info = *info;
    w->defined = true;
    return 0;
}

int grd_cf_write(GRD_file* gf, GRD_report* grd)
{
    CfWriter* w = writer_of(gf);
    if (!w || !grd || !grd->grid) return -1;
    if (!w->defined) {
        MESS_print(M_error, "GRD_write: CF netCDF grid file has no header (GRD_putinfo first)\n");
        return -1;
    }
    const Domain& d = grd->domain;
    if (d.nx <= 0 || d.ny <= 0 || static_cast<long long>(d.nx) * d.ny > (1LL << 31)) {
        MESS_print(M_error, "GRD_write: grid of %d x %d points cannot be written\n", d.nx, d.ny);
        return -1;
    }
    Stored s;
    s.head = *grd;
    s.head.grid = nullptr;
    if (s.head.date.year < 0 || s.head.date.month < 1 || s.head.date.day < 1) s.head.date = w->info.date;
    if (s.head.date.year < 0 || s.head.date.month < 1 || s.head.date.day < 1) {
        DATE_init(&s.head.date);
        s.head.date.year = 1970;
        s.head.date.month = s.head.date.day = 1;
    }
    if (s.head.time < 0 || !decode_time(s.head.time).known) {
        if (s.head.time != -9999)
            MESS_print(M_warn, "GRD_write: forecast time code %d has no hour count; written as hour 0\n", s.head.time);
        s.head.time = 0;
    }
    s.values.assign(grd->grid, grd->grid + static_cast<std::size_t>(d.nx) * static_cast<std::size_t>(d.ny));
    for (float& v : s.values)
        if (!std::isfinite(v)) v = kFill;
    w->grids.push_back(std::move(s));
    gf->num = static_cast<int>(w->grids.size());
    return 0;
}

int grd_cf_open_write(GRD_file* gf, const char* filename)
{
    auto w = std::make_unique<CfWriter>();
    w->filename = filename;
    const int status = nc_create(filename, NC_CLOBBER | NC_64BIT_OFFSET, &w->ncid);
    if (status != NC_NOERR) {
        MESS_print(M_error, "GRD_open: Unable to create netCDF file %s: %s\n", filename, nc_strerror(status));
        return -1;
    }
    gf->fd = w->ncid;
    gf->priv = w.release();
    gf->priv_free = free_writer;
    return 0;
}

int grd_cf_close_write(GRD_file* gf)
{
    CfWriter* w = writer_of(gf);
    if (!w) return -1;
    bool ok = true;
    if (w->grids.empty()) {
        ok = put_text(w->ncid, NC_GLOBAL, "Conventions", "CF-1.8") && check(nc_enddef(w->ncid), "header");
    } else {
        ok = write_file(*w);
    }
    const int status = nc_close(w->ncid);
    w->ncid = -1;
    if (status != NC_NOERR) {
        MESS_print(M_error, "GRD_close: CF netCDF file %s: %s\n", w->filename.c_str(), nc_strerror(status));
        ok = false;
    }
    if (!ok) MESS_print(M_error, "GRD_close: Unable to write the CF netCDF file %s\n", w->filename.c_str());
    return ok ? 0 : -1;
}
