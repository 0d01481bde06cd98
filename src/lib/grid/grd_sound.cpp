// Soundings from grids: the values of several isobaric grids at one point, one level per
// pressure, in the units of upper-air reports.
#include <algorithm>
#include <map>

#include "grd_tool_internal.hpp"
#include "thm_tool.hpp"
#include "unittool.hpp"
#include "vecttool.hpp"

using grd::kMissing;

namespace {

constexpr int kHeight = 7, kTemperature = 11, kDewPoint = 17, kUWind = 33, kVWind = 34, kRelHum = 52;

struct Level {
    float h = kMissing, t = kMissing, td = kMissing, rh = kMissing, u = kMissing, v = kMissing;
    const char* wind_units = "m/s";
};

float value_at(const GRD_report* g, float lat, float lon, const char* units)
{
    float gx = 0, gy = 0;
    if (GRD_get_position(g, lat, lon, &gx, &gy) < 0) return kMissing;
    const float v = GRD_get_value(g, gx, gy);
    return units && g->units[0] ? UNIT_cvt(g->units, units, v) : v;
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
        switch (g->var) {
            case kHeight: l.h = value_at(g, lat, lon, "m"); break;
            case kTemperature: l.t = value_at(g, lat, lon, "C"); break;
            case kDewPoint: l.td = value_at(g, lat, lon, "C"); break;
            case kRelHum: l.rh = value_at(g, lat, lon, nullptr); break;
            case kUWind: l.u = value_at(g, lat, lon, "kt"); break;
            case kVWind: l.v = value_at(g, lat, lon, "kt"); break;
            default: break;
        }
    }
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
        if (out.h == kMissing && out.t == kMissing && out.dir == kMissing) continue;
        ++n;
    }
    return n;
}
