// GRIB editions 0 and 1: the product section (variable, level, times, ensembles and
// probabilities), parameter and unit mapping, predefined grids, IBM floats and the description
// text that both editions share.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "date.hpp"
#include "grib1_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

// Decoding state lives per thread: one message is decoded on one thread from start to end, so
// several threads may decode messages of their own at once.
thread_local Grib1Context g_ctx;
thread_local GribEnsemble g_ens{};
thread_local int g_last_grid_id = -1;

int sm16(const unsigned char* p) {
    int v = ((p[0] & 0x7f) << 8) | p[1];
    return (p[0] & 0x80) ? -v : v;
}

// ---- Unit and parameter tables -----------------------------------------------------------

struct UnitRange {
    int first, last;
    const char* units;
};

// WMO code table 2 unit texts of the parameters the library knows (edition 1).
constexpr UnitRange kEd1Units[] = {
    {1, 2, "Pa"}, {26, 26, "Pa"}, {55, 56, "Pa"}, {128, 130, "Pa"},
    {3, 3, "Pa/s"}, {39, 39, "Pa/s"},
    {6, 6, "m^2/s^2"}, {37, 37, "m^2/s^2"}, {190, 190, "m^2/s^2"},
    {7, 9, "m"}, {20, 20, "m"}, {66, 66, "m"}, {83, 83, "m"}, {100, 100, "m"}, {221, 221, "m"},
    {10, 10, "Dobson"},
    {11, 17, "K"}, {80, 80, "K"}, {85, 85, "K"}, {133, 133, "K"},
    {18, 18, "dK"}, {24, 25, "dK"}, {131, 132, "dK"},
    {19, 19, "K/m"}, {21, 21, "Dbz"},
    {27, 27, "gpm"}, {222, 222, "gpm"}, {230, 230, "gpm"},
    {31, 31, "deg"}, {47, 47, "deg"}, {107, 107, "deg"},
    {32, 34, "m/s"}, {40, 40, "m/s"}, {48, 49, "m/s"}, {196, 197, "m/s"},
    {35, 36, "m^2/s"},
    {38, 38, "/s"}, {41, 46, "/s"}, {136, 136, "/s"},
    {50, 51, "kg/kg"}, {53, 53, "kg/kg"}, {76, 76, "kg/kg"}, {153, 154, "kg/kg"},
    {52, 52, "%"}, {60, 60, "%"}, {71, 71, "%"}, {84, 84, "%"}, {193, 195, "%"},
    {201, 201, "%"}, {207, 207, "%"}, {213, 213, "%"},
    {54, 54, "kg/m^2"}, {57, 58, "kg/m^2"}, {61, 63, "kg/m^2"}, {65, 65, "kg/m^2"},
    {86, 86, "kg/m^2"}, {90, 90, "kg/m^2"}, {223, 223, "kg/m^2"},
    {59, 59, "kg/m^2/s"}, {214, 214, "kg/m^2/s"},
    {77, 77, "kg/m^3"}, {108, 108, "s"},
    {111, 114, "W/m^2"}, {121, 122, "W/m^2"}, {145, 145, "W/m^2"}, {155, 155, "W/m^2"},
    {160, 168, "W/m^2"}, {204, 205, "W/m^2"}, {211, 212, "W/m^2"},
    {124, 125, "N/m^2"}, {147, 148, "N/m^2"}, {172, 172, "N/m^2"}, {226, 227, "N/m^2"},
    {135, 135, "kg/kg/s"}, {138, 138, "/s^2"},
    {146, 146, "J/kg"}, {156, 158, "J/kg"},
    {216, 216, "K/s"}, {491, 491, "dBZ"}, {571, 571, "-"},
};

const char* ed1_units(int param) {
    param %= 1000;
    for (const auto& r : kEd1Units)
        if (param >= r.first && param <= r.last) return r.units;
    return "";
}

struct ParamMap {
    int from, to;
    const char* units;
    int ltype, level;  // -1: unchanged
};

// Edition 0 parameters of the other centres, renumbered to the library numbering.
constexpr ParamMap kEd0Map[] = {
    {1, 1, "hPa", -1, -1},   {2, 7, "10 m", -1, -1},   {3, 8, "10 m", -1, -1},
    {4, 11, "C", -1, -1},    {5, 15, "C", -1, -1},     {6, 16, "C", -1, -1},
    {8, 13, "C", -1, -1},    {10, 17, "C", -1, -1},    {11, 18, "dC", -1, -1},
    {15, 131, "dC", -1, -1}, {17, 132, "dC", -1, -1},  {12, 51, ".1 g/kg", -1, -1},
    {14, 53, ".1 g/kg", -1, -1}, {13, 52, "%", -1, -1}, {21, 32, "m/s", -1, -1},
    {23, 33, "m/s", -1, -1}, {24, 34, "m/s", -1, -1},  {29, 35, "10^5 m^2/s", -1, -1},
    {30, 43, "10^-5 /s", -1, -1}, {31, 41, "10^-5 /s", -1, -1}, {40, 38, "mb/s", -1, -1},
    {44, 136, "m/s/km", -1, -1}, {47, 54, "mm", -1, -1}, {48, 63, "mm", -1, -1},
    {50, 61, "mm", -1, -1},  {55, 62, "mm", -1, -1},   {51, 66, "cm", -1, -1},
    {61, 80, ".1 C", -1, -1}, {64, 100, ".5 m", -1, -1}, {75, 107, "10 deg", -1, -1},
    {76, 108, "s", -1, -1},
};

// European centre parameters above 128.
constexpr ParamMap kCentre98Map[] = {
    {129, 6, "m^2/s^2", -1, -1}, {130, 11, "K", -1, -1},   {139, 11, "K", -1, -1},
    {131, 33, "m/s", -1, -1},    {132, 34, "m/s", -1, -1}, {134, 1, "Pa", -1, -1},
    {135, 39, "Pa/s", -1, -1},   {146, 122, "W/m^2", -1, -1}, {147, 121, "W/m^2", -1, -1},
    {151, 1, "Pa", 102, -1},     {157, 52, "%", -1, -1},   {164, 71, "%", 200, 0},
    {165, 33, "m/s", 105, 10},   {166, 34, "m/s", 105, 10}, {167, 11, "K", 105, 2},
    {168, 17, "K", 105, 2},      {172, 81, "", -1, -1},    {176, 111, "W/m^2", -1, -1},
    {177, 112, "W/m^2", -1, -1}, {180, 326, "N/m^2", -1, -1}, {181, 327, "N/m^2", -1, -1},
    {228, 61, "m", -1, -1},
};

template <std::size_t N>
int apply_map(const ParamMap (&map)[N], GRD_report* grd) {
    for (const auto& m : map) {
        if (m.from != grd->var) continue;
        grd->var = m.to;
        str_copy(grd->units, sizeof grd->units, m.units);
        if (m.ltype >= 0) grd->ltype = m.ltype;
        if (m.level >= 0) grd->level = m.level;
        return 0;
    }
    MESS_print(M_warn, "Invalid GRIB variable: %d\n", grd->var);
    return 1;
}

struct CdfUnit {
    int var;
    const char* units;
};
constexpr CdfUnit kCdfUnits[] = {
    {1, "hectopascals"}, {2, "geopotential dekameters"}, {4, "celsius"}, {15, "celsius"},
    {13, "percent"}, {23, "meters/second"}, {24, "meters/second"}, {40, "millibars/second"},
    {50, "kg/m2"}, {61, "0.5 degC"}, {62, "degC"}, {64, "0.5 meters"}, {75, "10 degrees"},
    {76, "seconds"}, {101, "pascals"}, {102, "geopotential meters"}, {104, "kelvin"},
    {140, "pascals/second"}, {161, "degK"}, {164, "meters"}, {175, "degrees"},
};

// ---- Predefined grids -----------------------------------------------------------------------

struct PredefGrid {
    int first, last;
    int proj, nx, ny;
    float dx, dy;
};
constexpr PredefGrid kPredef[] = {
    {21, 24, 2, 37, 37, 5.0f, 2.5f},     {25, 26, 2, 73, 19, 5.0f, 5.0f},
    {37, 44, 2, 73, 73, 1.5f, 1.5f},     {50, 50, 2, 36, 33, 2.5f, 1.25f},
    {61, 64, 2, 91, 46, 2.0f, 2.0f},     {211, 211, 4, 93, 65, 0.8127f, 0.8127f},
    {212, 212, 4, 185, 129, 0.4063f, 0.4063f}, {215, 215, 4, 369, 257, 0.2032f, 0.2032f},
};
struct GridCentre {
    int grid;
    float clat, clon;
};
constexpr GridCentre kCentres[] = {
    {21, 45, 90},   {22, 45, -90},   {23, -45, 90},   {24, -45, -90},  {25, 45, 180},
    {26, -45, 180}, {37, 45, 15},    {38, 45, 105},   {39, 45, -165},  {40, 45, -75},
    {41, -45, 15},  {42, -45, 105},  {43, -45, -165}, {44, -45, -75},  {50, 40, -96.25f},
    {61, 45, 90},   {62, 45, -90},   {63, -45, 90},   {64, -45, -90},
    {211, 40.607f, -100.553f}, {212, 40.606f, -100.554f}, {215, 40.607f, -100.553f},
};

// Forecast time of the product from its time unit, P1, P2, range indicator and N.
int product_time(const unsigned char* p, int current) {
    const int unit = p[17], raw1 = p[18], raw2 = p[19], range = p[20];
    const int count = (p[21] << 8) | p[22];
    // Units of a fixed number of hours (code table 4) are counted in hours, as in edition 2;
    // days and months keep their 800/900 forms.
    auto in_unit = [unit](int v) {
        switch (unit) {
        case 0: return v / 60;     // minute
        case 2: return v + 800;
        case 3: return v + 900;
        case 10: return v * 3;
        case 11: return v * 6;
        case 12: return v * 12;
        case 254: return v / 3600; // second
        default: return v;
        }
    };
    const int p1 = in_unit(raw1), p2 = in_unit(raw2);
    switch (range) {
    case 0: return p1;
    case 1: return 0;
    case 2: case 3: case 4: case 5: return p1 * 1000 + p2 + range * 1000000;
    case 10: return raw1 * 256 + raw2;
    case 113: case 118: return p1 * 1000 + in_unit(count * raw2) + range % 100 * 1000000;
    case 123: return in_unit(count * raw2) + 23000000;
    default: return current;
    }
}

int product_level(int ltype, int o11, int o12, int current) {
    switch (ltype) {
    case 1: case 4: case 6: case 7: case 102: case 200:
        return 0;
    // A hybrid level (109) is one 16-bit number like the other single levels; only 110 is
    // the layer between two hybrid levels.
    case 5: case 100: case 103: case 105: case 107: case 109: case 111: case 113: case 117:
    case 119:
        return o11 * 256 + o12;
    case 101: case 104: case 106: case 108: case 110: case 112: case 114: case 116: case 120:
        return o11 * 1000 + o12;
    default:
        return current;
    }
}

void debug_dump(const unsigned char* p, std::size_t len) {
    if (!MESS_check(M_debug & 0x80000000u)) return;
    for (std::size_t i = 0; i < len && i < 32; ++i)
        MESS_print(M_debug & 0x80000000u, (i % 8 == 7) ? "[%2.2X]\n" : "[%2.2X]", p[i]);
}

}  // namespace

Grib1Context& grib1_context() { return g_ctx; }

// ---- Public conversions -------------------------------------------------------------------

float GRIB_flt_conv(const unsigned char* b) {
    if (b[0] == 0) return 0.0f;
    const int exponent = (b[0] & 0x7f) - 64;
    const std::uint32_t mant = (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
    const double v = std::ldexp(static_cast<double>(mant), 4 * exponent - 24);
    return static_cast<float>((b[0] & 0x80) ? -v : v);
}

float GRIB_scl_conv(const unsigned char* b) {
    return static_cast<float>(std::ldexp(1.0, sm16(b)));
}

const char* GRIB_cdf_units(int var) {
    for (const auto& c : kCdfUnits)
        if (c.var == var) return c.units;
    return "";
}

int GRIB_set_domain(int type, Domain* domain) {
    for (const auto& g : kPredef) {
        if (type < g.first || type > g.last) continue;
        domain->proj = g.proj;
        domain->nx = g.nx;
        domain->ny = g.ny;
        domain->dx = g.dx;
        domain->dy = g.dy;
        for (const auto& c : kCentres)
            if (c.grid == type) {
                domain->clat = c.clat;
                domain->clon = c.clon;
            }
        if (g.proj == 4) {
            domain->plat = 90;
            domain->plon = -95;
            domain->param[0] = 25;
            domain->param[1] = 25;
            domain->param[2] = 1;
        }
    }
    return 1;
}

int GRIB_units(GRD_report* grd) {
    grd->units[0] = '\0';
    if (grd->source == 98 && grd->var > 128) return apply_map(kCentre98Map, grd);
    if (grd->version == 0) return apply_map(kEd0Map, grd);
    str_copy(grd->units, sizeof grd->units, ed1_units(grd->var));
    return 0;
}

// ---- Description shared by both editions --------------------------------------------------

void grib_describe(GRD_report* grd, const GribEnsemble* ens) {
    char text[sizeof grd->info];
    const bool prob = ens && ens->prob_type >= 1 && ens->prob_type <= 3;
    const bool member = ens && ens->ens && !prob;
    VAR_make_datatype(grd->time, grd->ltype, grd->level, grd->var, grd->units, text, sizeof text);
    if (prob) {
        char limit[40];
        const float low = ens->prob_low, up = ens->prob_up;
        if (ens->prob_type == 1)
            str_format(limit, sizeof limit, " below %.2f", low);
        else if (ens->prob_type == 2)
            str_format(limit, sizeof limit, " above %.2f", up);
        else
            str_format(limit, sizeof limit, " in %.2f-%.2f", low, up);
        const float thresh = ens->prob_type == 2 ? up : low;
        const int term = std::isfinite(thresh) ? int(std::fmin(999.0f, std::fmax(0.0f, thresh))) : 0;
        const std::int64_t var = std::int64_t(grd->var) * 10000000 +
                                 std::int64_t(ens->prob_var) * 10000 + ens->prob_type * 1000 + term;
        if (var > 0 && var <= INT32_MAX) grd->var = static_cast<int>(var);
        str_format(grd->info, sizeof grd->info, "%s%s%s%s", text, limit,
                   grd->units[0] ? " " : "", grd->units);
        str_copy(grd->units, sizeof grd->units, "%");
        return;
    }
    if (member && ens->prod == 1) {
        static constexpr const char* kPrefix[] = {"", "Ens[%d] ", "Ens[-%d] ", "Ens[+%d] ",
                                                  "Ens[c%d] ", "Ens[w%d] "};
        char prefix[24] = "";
        if (ens->type >= 1 && ens->type <= 5)
            str_format(prefix, sizeof prefix, kPrefix[ens->type], ens->id);
        str_format(grd->info, sizeof grd->info, "%s%s", prefix, text);
        const std::int64_t var = std::int64_t(grd->var) + std::int64_t(ens->type) * 20000 +
                                 std::int64_t(ens->id) * 1000 + 19280000;
        if (var <= INT32_MAX && var >= INT32_MIN) grd->var = static_cast<int>(var);
        return;
    }
    str_copy(grd->info, sizeof grd->info, text);
    if (member && ens->prod == 2) grd->var += 19000000;
    if (member && (ens->prod == 11 || ens->prod == 12)) grd->var += 19001000;
}

int GRIB_set_var(GRD_report* grd) {
    grib_describe(grd, &g_ens);
    return 0;
}

// ---- Product section ----------------------------------------------------------------------

int GRIB_decode_PDB(const unsigned char* p, GRD_report* grd, std::size_t len) {
    const int edition = g_ctx.edition;
    if (!p || len < (edition == 0 ? 24u : 28u)) {
        MESS_print(M_error, "GRIB_decode_PDB: product section too short (%zu octets)\n", len);
        return -1;
    }
    grd->version = edition;
    grd->source = p[4];
    grd->model = p[5];
    grd->type = g_ctx.grid_id = g_last_grid_id = p[6];
    grd->ltype = p[9];
    int year = p[12];
    const int century = len > 24 ? p[24] : 0;
    if (edition == 1 && century >= 19 && century <= 21 && year >= 1 && year <= 100)
        year += (century - 1) * 100;
    else if (year < 50)
        year += 2000;
    else if (year < 200)
        year += 1900;
    DATE_init(&grd->date);
    grd->date.year = year;
    grd->date.month = p[13];
    grd->date.day = p[14];
    grd->date.hour = p[15];
    grd->date.min = p[16];
    grd->date.sec = 0;
    grd->time = product_time(p, grd->time);
    grd->level = product_level(grd->ltype, p[10], p[11], grd->level);

    const int param = p[8];
    grd->var = param;
    if (p[3] == 129 && param == 212)
        grd->var = 491;
    else if (p[3] != 129 && param == 177 && grd->source != 98)
        grd->var = 571;
    GRIB_units(grd);

    g_ens = GribEnsemble{};
    if (grd->source == 7 && len > 25 && p[25] == 2 && len >= 45) {
        g_ens.ens = 1;
        g_ens.type = p[41];
        g_ens.id = p[42];
        g_ens.prod = p[43];
        g_ens.smooth = p[44];
        MESS_print(M_debug, "Ens: %d %d %d %d\n", g_ens.type, g_ens.id, g_ens.prod, g_ens.smooth);
        if ((param == 191 || param == 192) && len >= 55) {
            g_ens.prob_var = p[45];
            g_ens.prob_type = p[46];
            g_ens.prob_low = GRIB_flt_conv(p + 47);
            g_ens.prob_up = GRIB_flt_conv(p + 51);
            str_copy(grd->units, sizeof grd->units, ed1_units(g_ens.prob_var));
        }
    }
    if (edition == 1) {
        if (grd->model == 44 && grd->ltype == 1 && grd->var == 7) grd->var = 161;
        g_ctx.dscale = std::pow(10.0, -sm16(p + 26));
    } else {
        g_ctx.dscale = 1.0;
    }
    DOM_init(&grd->domain);
    g_ctx.ydir = 1;
    g_ctx.xneg = g_ctx.jconsec = g_ctx.xalt = 0;
    g_ctx.pole = 0;
    g_ctx.thin.clear();
    GRIB_set_domain(g_ctx.grid_id, &grd->domain);
    switch (g_ctx.grid_id) {
    case 21: case 22: case 25: case 61: case 62:
        g_ctx.pole = 1;
        g_ctx.pole_lat0 = 0;
        break;
    case 23: case 24: case 26: case 63: case 64:
        g_ctx.pole = 1;
        g_ctx.pole_lat0 = -90;
        break;
    default:
        break;
    }
    if (MESS_check(M_debug)) {
        MESS_print(M_debug, "Source: %d\n", grd->source);
        MESS_print(M_debug, "Model: %d\n", grd->model);
        MESS_print(M_debug, "Init time: %d/%d/%d %2.2d:%2.2d\n", grd->date.year,
                   grd->date.month, grd->date.day, grd->date.hour, grd->date.min);
        MESS_print(M_debug, "Grid type: %d\n", grd->type);
        MESS_print(M_debug, "Grid time: %d\n", grd->time);
        MESS_print(M_debug, "Time range: %d\n", p[20]);
        MESS_print(M_debug, "Time units: %d\n", p[17]);
        MESS_print(M_debug, "P1,P2: %d,%d\n", p[18], p[19]);
        MESS_print(M_debug, "Level type: %d\n", grd->ltype);
        MESS_print(M_debug, "Flag: %X\n", p[7]);
        MESS_print(M_debug, "Level: [%d %d %d] %d\n", p[9], p[10], p[11], grd->level);
        MESS_print(M_debug, "Variable: [%d] %d %s\n", param, grd->var, grd->units);
    }
    return 1;
}

int grib1_pdb(const Grib1Sections& s, GRD_report* grd, int rep_type) {
    (void)rep_type;
    g_ctx.edition = s.edition;
    if (!s.pds) {
        MESS_print(M_error, "GRIB_PDB: no product section\n");
        return -1;
    }
    const unsigned char* p = s.msg + s.pds;
    debug_dump(p, s.pds_len);
    if (GRIB_decode_PDB(p, grd, s.pds_len) < 0) return -1;
    GRIB_set_var(grd);
    DATE_make_label_for_time(grd->time, grd->source * 1000 + grd->model, &grd->date, grd->datim,
                             sizeof grd->datim);
    return 1;
}

int GRIB_get_type() { return g_last_grid_id; }
