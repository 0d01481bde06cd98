// GRIB edition 2 product definition section (templates 4.0, 4.1, 4.2, 4.5, 4.8, 4.9, 4.11,
// 4.12 and the local 50008), the level and time rules, and the parameter table file.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "files.hpp"
#include "grib.hpp"
#include "grib2_internal.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

// ---- Parameter table -----------------------------------------------------------------------

const char* const kParamFile = "grib2_var.lup";
const char* const kWmoFile = "grib2_wmo.lup";

using ParamRows = std::shared_ptr<const std::vector<GribParam>>;
struct ParamTable {
    std::string path;               // file the rows came from ("" = none loaded)
    ParamRows rows = std::make_shared<const std::vector<GribParam>>();
};
ParamTable g_table;
// Decoders on several threads share the table: it is swapped under the lock, and each lookup
// scans the rows it took, so that no thread waits for another's scan.
std::mutex g_table_lock;

std::string param_file_path(const char* file = kParamFile) {
    char path[FILE_NAME_SIZE];
    const char* directory = RES_get("file_path");
    // "none" names no directory, as everywhere a path resource is read.
    if (directory && stricmp(directory, "none") == 0) directory = nullptr;
    FILE_add_path(directory, file, path, sizeof path);
#ifdef QAZ_SHARE_DIR
    // Without a file_path setting the installed copy serves as the default.
    if ((!directory || !*directory) && !FILE_exist(path)) {
        char shared[FILE_NAME_SIZE];
        FILE_add_path(QAZ_share_dir(), file, shared, sizeof shared);
        if (FILE_exist(shared)) return shared;
    }
#endif
    return path;
}

// The table is read once per file name: a model run decodes hundreds of fields.
ParamRows param_rows() {
    const std::string path = param_file_path();
    const std::lock_guard<std::mutex> hold(g_table_lock);
    if (path == g_table.path) return g_table.rows;
    g_table.path = path;
    auto rows = std::make_shared<std::vector<GribParam>>();
    g_table.rows = rows;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        MESS_print(M_debug, "GRIB_get_ver2_param: no parameter table %s\n", path.c_str());
        return g_table.rows;
    }
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        if (line[0] == '#') continue;
        GribParam gp;
        GribParam_init(&gp);
        gp.ver = 2;
        if (std::sscanf(line, "%d %d %d %d %19s %29s %79[^\n]", &gp.src, &gp.disc, &gp.cat,
                        &gp.param, gp.name, gp.units, gp.lname) >= 6)
            rows->push_back(gp);
    }
    std::fclose(f);
    return g_table.rows;
}

// WMO code table 4.2, kept beside the parameter table: names for the parameters the
// library has no row for.
struct WmoParam {
    std::string units;
    std::string long_name;
};
struct WmoTable {
    std::map<std::uint32_t, WmoParam> rows;  // discipline << 16 | category << 8 | number
};
// One table per file name, kept for the whole process and never changed once read: decoders
// on several threads look rows up without holding the lock.
std::map<std::string, std::unique_ptr<const WmoTable>> g_wmo;
std::mutex g_wmo_lock;

std::uint32_t wmo_key(int disc, int cat, int param) {
    return (std::uint32_t(disc & 0xff) << 16) | (std::uint32_t(cat & 0xff) << 8) | std::uint32_t(param & 0xff);
}

const WmoTable& wmo_table(const std::string& path) {
    const std::lock_guard<std::mutex> hold(g_wmo_lock);
    auto& slot = g_wmo[path];
    if (slot) return *slot;
    auto table = std::make_unique<WmoTable>();
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            if (line[0] == '#') continue;
            int d, c, n, used = 0;
            if (std::sscanf(line, "%d %d %d%n", &d, &c, &n, &used) != 3 || line[used] != '\t') continue;
            char* units = line + used + 1;
            char* tab = std::strchr(units, '\t');
            if (!tab) continue;
            *tab = '\0';
            char* name = tab + 1;
            name[std::strcspn(name, "\r\n")] = '\0';
            table->rows[wmo_key(d, c, n)] = WmoParam{units, name};
        }
        std::fclose(f);
    } else {
        MESS_print(M_debug, "GRIB_get_ver2_param: no WMO parameter table %s\n", path.c_str());
    }
    slot = std::move(table);
    return *slot;
}

const WmoParam* wmo_param(int disc, int cat, int param) {
    if (disc < 0 || disc > 255 || cat < 0 || cat > 255 || param < 0 || param > 255) return nullptr;
    const WmoTable& table = wmo_table(param_file_path(kWmoFile));
    const auto it = table.rows.find(wmo_key(disc, cat, param));
    return it == table.rows.end() ? nullptr : &it->second;
}

// ---- Times and levels ------------------------------------------------------------------------

// Hours of a time span in a unit of code table 4.4; units without a fixed length in hours
// keep their count.
std::int64_t to_hours(std::int64_t value, int unit) {
    switch (unit) {
    case 0: return value / 60;          // minute
    case 1: return value;               // hour
    case 2: return value * 24;          // day
    case 10: return value * 3;
    case 11: return value * 6;
    case 12: return value * 12;
    case 13: return value / 3600;       // second
    default: return value;
    }
}

int clamp_int(std::int64_t v) {
    return v > INT32_MAX || v < INT32_MIN ? -9999 : int(v);
}

// Scaled value of a fixed surface: missing as NaN.
double surface_value(const unsigned char* p) {
    const int scale_octet = p[0];
    if (scale_octet == 255 || (p[1] == 0xff && p[2] == 0xff)) return NAN;
    const int scale = g2_s8(p);
    return double(g2_s32(p + 1)) * std::pow(10.0, -scale);
}

void set_level(const unsigned char* s, G2Product& pr) {
    const int type1 = s[22], type2 = s[28];
    double a = surface_value(s + 23), b = surface_value(s + 29);
    MESS_print(M_debug, "Scale: %d\n", g2_s8(s + 23));
    MESS_print(M_debug, "LEV %d %d %f %f\n", type1, type2, a, b);
    const bool layer = type2 != 255;
    if (std::isnan(a) && s[23] == 255) b = NAN;
    // A damaged scale can make a level of 1e65: clamp before converting, which is undefined
    // for values outside the target type.
    auto ilevel = [](double v) -> std::int64_t {
        if (std::isnan(v)) return -9999;
        return std::int64_t(std::fmax(-1e15, std::fmin(1e15, v)));
    };
    auto level = [&](double v) { return std::isnan(v) ? -9999 : clamp_int(ilevel(v)); };
    int ltype = type1, lev = level(a);
    switch (type1) {
    case 100:
        if (!layer) { ltype = 100; lev = level(a / 100); }
        else { ltype = 101; lev = clamp_int(ilevel(a / 1000) * 1000 + ilevel(b / 1000)); }
        break;
    case 101: ltype = 102; lev = 0; break;
    case 102:
        if (!layer) { ltype = 103; lev = level(a); }
        else { ltype = 104; lev = clamp_int(ilevel(a / 100) * 1000 + ilevel(b / 100)); }
        break;
    case 103:
        if (!layer) { ltype = 105; lev = level(a + 0.5); }
        else { ltype = 106; lev = clamp_int(ilevel(a / 100) * 1000 + ilevel(b / 100)); }
        break;
    case 104:
        if (!layer) { ltype = 107; lev = level(10000 * a + 0.01); }
        else { ltype = 108; lev = clamp_int(ilevel(0.01 + 100 * a) * 1000 + ilevel(0.01 + 100 * b)); }
        break;
    case 105: ltype = 109; lev = level(a); break;
    case 106:
        if (!layer) { ltype = 111; lev = level(0.01 + 100 * a); }
        else { ltype = 112; lev = clamp_int(ilevel(0.01 + 100 * a) * 1000 + ilevel(0.01 + 100 * b)); }
        break;
    case 107: ltype = layer ? 114 : 113; lev = level(a); break;
    case 108:
        if (!layer) { ltype = 115; lev = level(a / 100); }
        else { ltype = 116; lev = clamp_int(ilevel(a / 100) * 1000 + ilevel(b / 100)); }
        break;
    case 109: {
        ltype = 117;
        const double pv = 1e6 * a;
        lev = level(pv < 0 ? pv - 0.01 : pv + 0.01);
        break;
    }
    case 111:
        // Eta runs from 0 to 1: kept in ten-thousandths (hundredths for a layer) as in
        // edition 1, or every eta level would read 0.
        if (!layer) { ltype = 119; lev = level(10000 * a + 0.01); }
        else { ltype = 120; lev = clamp_int(ilevel(0.01 + 100 * a) * 1000 + ilevel(0.01 + 100 * b)); }
        break;
    case 160: break;  // depth below sea level: the same code and metres in edition 1
    default:
        // Surfaces whose number means another level type in edition 1 (113 isentropic, 117
        // potential vorticity, 119 eta, ...) get 1000 + their number.
        if (type1 >= 112 && type1 <= 199) ltype = 1000 + type1;
        break;
    }
    pr.ltype = ltype;
    pr.level = lev;
}

// Time of a statistically processed product: start, length and the edition 1 range code.
int statistical_time(std::int64_t start, const unsigned char* stat, int fallback_code) {
    // stat points at the statistical process octet; the time unit and length follow it.
    const int process = stat[0];
    const int unit = stat[2];
    const std::int64_t length = to_hours(g2_u32(stat + 3), unit);
    std::int64_t code;
    switch (process) {
    case 0: code = 3000000; break;   // average
    case 1: code = 4000000; break;   // accumulation
    case 2: code = 6000000; break;   // maximum
    case 3: code = 7000000; break;   // minimum
    case 4: code = 5000000; break;   // difference
    default: code = fallback_code; break;
    }
    if (start < 0 || start > 999 || length < 0 || start + length > 999999) return -9999;
    return clamp_int(start * 1000 + start + length + code);
}

// Edition 1 ensemble type of code table 4.6.
int ensemble_type(int code) {
    switch (code) {
    case 0:
    case 1: return 1;   // control
    case 2: return 2;   // negatively perturbed
    case 3: return 3;   // positively perturbed
    case 4: return 5;   // multi-model: the whole ensemble
    default: return 3;  // other perturbed forecasts
    }
}

// Edition 1 product of a derived forecast (code table 4.7).
int derived_product(int code) {
    switch (code) {
    case 2:
    case 4: return 11;  // spread
    case 3: return 12;
    default: return 2;  // means
    }
}

double scaled_limit(const unsigned char* p) {
    if (p[0] == 255) return NAN;
    return double(g2_s32(p + 1)) * std::pow(10.0, -g2_s8(p));
}

// Probability definition (octets 37-47 of 4.5 and 4.9): edition 1 type 1 below the lower
// limit, 2 above the upper, 3 between.
void set_probability(const unsigned char* p, GribEnsemble& e) {
    const int type = p[0];
    const double low = scaled_limit(p + 1), up = scaled_limit(p + 6);
    auto fin = [](double v) { return std::isnan(v) ? -9999.f : float(v); };
    e.ens = 1;
    e.type = 5;
    e.prod = 0;
    switch (type) {
    case 0: e.prob_type = 1; e.prob_low = fin(low); break;
    case 1: e.prob_type = 2; e.prob_up = fin(up); break;
    case 2: e.prob_type = 3; e.prob_low = fin(low); e.prob_up = fin(up); break;
    case 3: e.prob_type = 2; e.prob_up = fin(low); break;   // above the lower limit
    case 4: e.prob_type = 1; e.prob_low = fin(up); break;   // below the upper limit
    default: e.prob_type = 0; break;
    }
}

struct TemplateInfo {
    int number;
    std::size_t min_len;  // octets the template needs
    const char* text;
};
constexpr TemplateInfo kTemplates[] = {
    {0, 34, "4.0: Analysis or forecast on horizontal level at a fixed time\n"},
    {1, 37, "4.1: Individual ensemble member, horizontal level, fixed time\n"},
    {2, 36, "4.2: Derived forecast based on all ensemble members, horizontal level, fixed time\n"},
    {5, 47, "4.5: Probability forecast, horizontal level, fixed time\n"},
    {8, 58, "4.8: Average, accumulation or extreme value on horizontal level at a fixed time\n"},
    {9, 71, "4.9: Probability forecast, horizontal level/layer, time range\n"},
    {11, 61, "4.11: Individual ensemble member, horizontal level, time range\n"},
    {12, 60, "4.12: Derived forecast based on all ensemble members, horizontal level, time range\n"},
    {50008, 14, "JMA local sect 50008\n"},
};

// Number of a parameter without a library name.
int fallback_number(int disc, int cat, int param) {
    return clamp_int(std::int64_t(disc) * 1000000 + std::int64_t(cat) * 1000 + param);
}

}  // namespace

void GribParam_init(GribParam* gp) {
    gp->ind = gp->src = gp->disc = gp->cat = gp->param = -9999;
    gp->ver = 2;
    gp->name[0] = gp->units[0] = gp->lname[0] = '\0';
}

int GRIB_get_ver2_param(GribParam* result, int src, int disc, int cat, int param) {
    GribParam_init(result);
    MESS_print(M_debug, "get_ver2_param %d %d %d %d\n", src, disc, cat, param);
    const ParamRows rows = param_rows();
    for (const GribParam& row : *rows) {
        if ((row.src != 0 && row.src != src) || row.disc != disc || row.cat != cat || row.param != param)
            continue;
        *result = row;
        result->ind = VAR_search_var_num(row.name);
        if (result->ind < 0) {
            // A name of the table the library does not know: known from now on by it.
            result->ind = fallback_number(disc, cat, param);
            VAR_add_wmo_name(result->ind, row.name, row.units, row.lname);
        }
        MESS_print(M_debug, "GPARAM: %s %s %d\n", result->name, result->units, result->ind);
        return 1;
    }
    result->src = src;
    result->disc = disc;
    result->cat = cat;
    result->param = param;
    result->ind = fallback_number(disc, cat, param);
    MESS_print(M_debug, "VER2: %d %d %d %d\n", src, disc, cat, param);
    if (const WmoParam* w = wmo_param(disc, cat, param)) {
        str_format(result->name, sizeof result->name, "%d.%d.%d", disc, cat, param);
        str_copy(result->units, sizeof result->units, w->units == "-" ? "" : w->units.c_str());
        str_copy(result->lname, sizeof result->lname, w->long_name.c_str());
        VAR_add_wmo_name(result->ind, nullptr, result->units, result->lname);
    }
    return 0;
}

int grib2_section4(const unsigned char* s, std::size_t slen, G2State& st) {
    G2Product& pr = st.prod;
    pr = G2Product{};
    if (slen < 9) {
        MESS_print(M_error, "GRIB_PDS: section of %zu octets\n", slen);
        return -1;
    }
    const int tmpl = int(g2_u16(s + 7));
    const TemplateInfo* info = nullptr;
    for (const TemplateInfo& t : kTemplates)
        if (t.number == tmpl) info = &t;
    if (!info) {
        // Unknown products keep their fields unset: the values can still be read.
        MESS_print(M_warn, "GRIB_PDS: product template %d is not supported\n", tmpl);
        pr.valid = true;
        return 0;
    }
    if (slen < info->min_len) {
        MESS_print(M_error, "GRIB_PDS: template %d in %zu octets\n", tmpl, slen);
        return -1;
    }
    MESS_print(M_debug, "%s", info->text);
    const int category = s[9], number = s[10];
    GribParam gp;
    GRIB_get_ver2_param(&gp, st.source, st.discipline, category, number);
    pr.var = gp.ind;
    str_copy(pr.units, sizeof pr.units, gp.units);
    pr.model = s[13];
    if (tmpl == 50008) {
        pr.ltype = 1;
        pr.level = 0;
        pr.time = 0;
        pr.valid = true;
        return 0;
    }
    const std::int64_t forecast = to_hours(g2_s32(s + 18), s[17]);
    pr.time = clamp_int(forecast);
    set_level(s, pr);
    GribEnsemble& e = pr.ens;
    e = GribEnsemble{};
    switch (tmpl) {
    case 1:
    case 11:
        e.ens = 1;
        e.type = ensemble_type(s[34]);
        e.id = s[35];
        e.prod = 1;
        pr.has_ens = true;
        MESS_print(M_debug, "Ens: %d %d %d %d\n", e.type, e.id, e.prod, e.smooth);
        break;
    case 2:
    case 12:
        e.ens = 1;
        e.type = 5;
        e.prod = derived_product(s[34]);
        pr.has_ens = true;
        break;
    case 5:
    case 9:
        set_probability(s + 36, e);
        e.prob_var = pr.var;
        pr.var = 191;
        pr.has_ens = e.prob_type != 0;
        break;
    default: break;
    }
    // Statistical templates: the process octet lies after the end-of-interval time.
    switch (tmpl) {
    case 8: pr.time = statistical_time(forecast, s + 46, 2000000); break;
    case 9: pr.time = statistical_time(forecast, s + 59, 3000000); break;
    case 11: pr.time = statistical_time(forecast, s + 49, 3000000); break;
    case 12: pr.time = statistical_time(forecast, s + 48, 3000000); break;
    default: break;
    }
    pr.valid = true;
    return 0;
}

void grib2_fill_report(const G2State& st, GRD_report* grd) {
    grd->version = 2;
    grd->source = st.source;
    grd->date = st.date;
    if (st.grid.valid) {
        grd->type = st.grid.type;
        grd->domain = st.grid.dv;
    }
    const G2Product& pr = st.prod;
    grd->model = pr.model;
    grd->ltype = pr.ltype;
    grd->level = pr.level;
    grd->time = pr.time;
    grd->var = pr.var;
    str_copy(grd->units, sizeof grd->units, pr.units);
    MESS_print(M_debug, "Source: %d\n", grd->source);
    MESS_print(M_debug, "Model: %d\n", grd->model);
    MESS_print(M_debug, "Init time: %d/%d/%d %2.2d:%2.2d\n", grd->date.month, grd->date.day,
               grd->date.year, grd->date.hour, grd->date.min);
    MESS_print(M_debug, "Grid type: %d\n", grd->type);
    MESS_print(M_debug, "Grid time: %d\n", grd->time);
    MESS_print(M_debug, "Level type: %d\n", grd->ltype);
    MESS_print(M_debug, "Level: %d\n", grd->level);
    MESS_print(M_debug, "Variable: %d %s\n", grd->var, grd->units);
    grib_describe(grd, pr.has_ens ? &pr.ens : nullptr);
    const std::int64_t model = std::int64_t(st.source) * 1000 + pr.model;
    DATE_make_label_for_time(grd->time, clamp_int(model), &grd->date, grd->datim, sizeof grd->datim);
}

int GRIB_ver2_param_by_name(const char* name, GribParam* result) {
    if (!name || !result) return 0;
    const ParamRows rows = param_rows();
    for (const GribParam& row : *rows) {
        if (stricmp(row.name, name) != 0) continue;
        return GRIB_get_ver2_param(result, row.src, row.disc, row.cat, row.param);
    }
    GribParam_init(result);
    return 0;
}
