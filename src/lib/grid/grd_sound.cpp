// Soundings from grids: the values of several isobaric grids at one point, one level per
// pressure, in the units of upper-air reports.
#include <algorithm>
#include <map>

#include "grd_tool_internal.hpp"
#include "maptran.hpp"
#include "thm_tool.hpp"
#include "unittool.hpp"
#include "vecttool.hpp"

using grd::kMissing;

namespace {

constexpr int kHeight = 7, kTemperature = 11, kDewPoint = 17, kUWind = 33, kVWind = 34, kRelHum = 52;

struct Level {
    float h = kMissing, t = kMissing, td = kMissing, rh = kMissing, u = kMissing, v = kMissing;
    const GRD_report* wind_grid = nullptr;   // the u grid: its projection turns the wind
};

// Value of g at (lat, lon) in units; false (with a message) when the units file cannot be read,
// since a value left in the grid's own unit would be taken for the wanted one.
bool value_at(const GRD_report* g, float lat, float lon, const char* units, float* out)
{
    *out = kMissing;
    float gx = 0, gy = 0;
    if (GRD_get_position(g, lat, lon, &gx, &gy) < 0) return true;
    const float v = GRD_get_value(g, gx, gy);
    if (!units || !g->units[0] || v == kMissing) {
        *out = v;
        return true;
    }
    double scale = 1, offset = 0;
    const int known = UNIT_linear(g->units, units, &scale, &offset);
    if (known < 0) {
        MESS_print(M_error, "GRD_get_sound: the units file %s cannot be read to convert %s to %s\n",
                   UNIT_file_name().c_str(), g->units, units);
        return false;
    }
    if (known == 0) {
        MESS_print(M_warn, "GRD_get_sound: no conversion from %s to %s: value left out\n", g->units, units);
        return true;
    }
    *out = static_cast<float>(v * scale + offset);
    return true;
}

}  // namespace

int GRD_get_sound(GRD_report* const* grids, int ngrids, float lat, float lon, UPA_level* levels,
                  int max_levels)
{
    if (!grids || !levels || max_levels < 1) return 0;
    std::map<int, Level, std::greater<int>> by_pressure;
    for (int k = 0; k < ngrids; ++k) {
        const GRD_report* g = grids[k];
        if (!grd::has_values(g) || g->ltype != 100 || g->level <= 0) continue;
        Level& l = by_pressure[g->level];
        bool ok = true;
        switch (g->var) {
            case kHeight: ok = value_at(g, lat, lon, "m", &l.h); break;
            case kTemperature: ok = value_at(g, lat, lon, "C", &l.t); break;
            case kDewPoint: ok = value_at(g, lat, lon, "C", &l.td); break;
            case kRelHum: ok = value_at(g, lat, lon, nullptr, &l.rh); break;
            case kUWind:
                ok = value_at(g, lat, lon, "kt", &l.u);
                l.wind_grid = g;
                break;
            case kVWind: ok = value_at(g, lat, lon, "kt", &l.v); break;
            default: break;
        }
        if (!ok) return -1;
    }
    MAP_keep_domain keep;
    int n = 0;
    for (const auto& [pressure, l] : by_pressure) {
        if (n >= max_levels) break;
        UPA_level& out = levels[n];
        out.p = static_cast<float>(pressure);
        out.h = l.h;
        out.t = l.t;
        out.td = l.td;
        if (out.td == kMissing && l.rh != kMissing && l.t != kMissing) {
            const float td = dew_temp(l.t + 273.15f, l.rh);
            out.td = td == kMissing ? kMissing : td - 273.15f;
        }
        vect2wind(&out.dir, &out.spd, l.u, l.v);
        // Grid components point along the grid's axes: turn the direction to the earth's north.
        if (out.dir != kMissing && out.spd >= 0.01f && l.wind_grid) {
            MAP_domain(&l.wind_grid->domain);
            float x = 0, y = 0;
            if (MAP_tran(lat, lon, &x, &y) == 1) out.dir = MAP_undir_adj(out.dir, x, y);
        }
        if (out.h == kMissing && out.t == kMissing && out.dir == kMissing) continue;
        ++n;
    }
    return n;
}
