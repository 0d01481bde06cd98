// Fitting a complete profile (the archive formats give every level with its flags) into the
// fixed lists of UPA_report, and the calendar helper those readers share.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <cstdlib>
#include <fstream>

#include "date.hpp"
#include "files.hpp"
#include "mess.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kFeetPerMetre = 1.0f / 0.3048f;
constexpr int kUpperLevels = 5;  // man 17-21: levels above 10 mb

bool known(float v) { return upa_known(v); }

// The value at x between (x0, v0) and (x1, v1); missing when either end is.
float lerp(float x, float x0, float v0, float x1, float v1) {
    if (!known(v0) || !known(v1)) return UPA_MISS;
    if (x1 == x0) return v0;
    return v0 + (v1 - v0) * (x - x0) / (x1 - x0);
}

// Combines two levels of the same pressure (or height): the first keeps its values, the
// second fills what the first lacks.
void absorb(UpaProfileLevel& into, const UpaProfileLevel& from) {
    float* a[] = {&into.h, &into.t, &into.td, &into.dir, &into.spd};
    const float b[] = {from.h, from.t, from.td, from.dir, from.spd};
    for (int i = 0; i < 5; ++i)
        if (!known(*a[i]) && known(b[i])) *a[i] = b[i];
    into.flags |= from.flags;
}

// Picks at most capacity of the n points (ordered along x) into keep: all of them when they
// fit; else the points must() names, then repeatedly the point whose values the kept
// neighbours interpolate worst. error(i, a, b) is that miss for point i between a and b.
std::vector<int> thin(int n, int capacity, const std::function<bool(int)>& must,
                      const std::function<float(int, int, int)>& error) {
    std::vector<int> keep;
    if (n <= capacity) {
        for (int i = 0; i < n; ++i) keep.push_back(i);
        return keep;
    }
    std::vector<char> kept(static_cast<std::size_t>(n), 0);
    int count = 0;
    for (int i = 0; i < n; ++i)
        if (must(i)) kept[static_cast<std::size_t>(i)] = 1, ++count;
    if (count > capacity) {  // too many flagged levels: thin those as if unflagged
        std::fill(kept.begin(), kept.end(), 0);
        count = 0;
    }
    for (int end : {0, n - 1})
        if (!kept[static_cast<std::size_t>(end)]) kept[static_cast<std::size_t>(end)] = 1, ++count;
    while (count < capacity) {
        int best = -1;
        float best_err = -1.0f;
        int a = 0;
        for (int b = 1; b < n; ++b) {
            if (!kept[static_cast<std::size_t>(b)]) continue;
            for (int i = a + 1; i < b; ++i) {
                const float e = error(i, a, b);
                if (e > best_err) best_err = e, best = i;
            }
            a = b;
        }
        if (best < 0) break;
        kept[static_cast<std::size_t>(best)] = 1;
        ++count;
    }
    for (int i = 0; i < n; ++i)
        if (kept[static_cast<std::size_t>(i)]) keep.push_back(i);
    return keep;
}

float log_p(float p) { return std::log(p); }

// Height (m) at pressure p from the levels that have both, in ln p; standard atmosphere
// outside them.
float height_at(const std::vector<UpaProfileLevel>& by_pres, float p) {
    const UpaProfileLevel* below = nullptr;
    for (const UpaProfileLevel& l : by_pres) {
        if (!known(l.h)) continue;
        if (l.p == p) return l.h;
        if (l.p > p) {
            below = &l;
            continue;
        }
        if (below) return lerp(log_p(p), log_p(below->p), below->h, log_p(l.p), l.h);
        break;
    }
    return static_cast<float>((288.15 - 288.15 * std::pow(p / 1013.25, 0.190263)) / 0.0065);
}

UPA_man man_from(const UpaProfileLevel& l) { return {l.p, l.h, l.t, l.td, l.dir, l.spd}; }

// Fills the mandatory levels the profile lacks from its neighbours, in ln p.
void interpolate_mandatory(const std::vector<UpaProfileLevel>& by_pres, UPA_report* r) {
    for (int m = 1; m <= 16; ++m) {
        if (known(r->man[m].p)) continue;
        const float p = UPA_mandatory_pres(m);
        const UpaProfileLevel* below = nullptr;
        const UpaProfileLevel* above = nullptr;
        for (const UpaProfileLevel& l : by_pres) {
            if (!known(l.t)) continue;
            if (l.p > p) below = &l;
            else if (!above) above = &l;
        }
        if (!below || !above) continue;
        const float x = log_p(p), x0 = log_p(below->p), x1 = log_p(above->p);
        UPA_man& out = r->man[m];
        out.p = p;
        out.h = lerp(x, x0, below->h, x1, above->h);
        out.t = lerp(x, x0, below->t, x1, above->t);
        out.td = lerp(x, x0, below->td, x1, above->td);
        if (known(below->dir) && known(above->dir) && known(below->spd) && known(above->spd)) {
            const float pi = 3.14159265f / 180.0f;
            const float u = lerp(x, x0, -below->spd * std::sin(below->dir * pi), x1, -above->spd * std::sin(above->dir * pi));
            const float v = lerp(x, x0, -below->spd * std::cos(below->dir * pi), x1, -above->spd * std::cos(above->dir * pi));
            out.spd = std::sqrt(u * u + v * v);
            float dir = std::atan2(-u, -v) / pi;
            if (dir <= 0.0f) dir += 360.0f;
            out.dir = out.spd > 0.0f ? dir : 0.0f;
        }
    }
}

}  // namespace

int upa_utc_seconds(int year, int month, int day, int hour, int minute) {
    if (year < 1900 || year > 2099 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59)
        return -9999;
    const std::int64_t days = DATE_date_days(year, month, day) - 1;
    const std::int64_t secs = days * 86400 + hour * 3600 + minute * 60;
    return secs < 0 || secs > 2147483647LL ? -9999 : static_cast<int>(secs);
}

bool upa_read_lines(const char* filename, std::vector<std::string>& lines) {
    std::FILE* fp = FILE_open(filename, "rb");
    if (!fp) {
        MESS_print(M_error, "UPA_open: Unable to open file: %s\n", filename);
        return false;
    }
    std::string line;
    for (int c = std::fgetc(fp);; c = std::fgetc(fp)) {
        if (c == EOF || c == '\n') {
            if (c != EOF || !line.empty()) lines.push_back(line);
            line.clear();
            if (c == EOF) break;
        } else if (c != '\r') {
            line.push_back(static_cast<char>(c));
        }
    }
    FILE_close(fp);
    return true;
}

bool upa_parse_number(const std::string& text, double* value) {
    std::size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return false;
    const std::size_t b = text.find_last_not_of(' ');
    const std::string s = text.substr(a, b - a + 1);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

void upa_profile_to_report(const std::vector<UpaProfileLevel>& levels, UPA_report* r) {
    // Pressure levels in decreasing pressure, one per pressure.
    std::vector<UpaProfileLevel> by_pres;
    std::vector<UpaProfileLevel> height_only;  // winds given by height alone
    for (const UpaProfileLevel& l : levels) {
        if (known(l.p) && l.p > 0.0f) by_pres.push_back(l);
        else if (known(l.h) && known(l.dir) && known(l.spd)) height_only.push_back(l);
    }
    std::stable_sort(by_pres.begin(), by_pres.end(), [](const auto& a, const auto& b) { return a.p > b.p; });
    std::vector<UpaProfileLevel> merged;
    for (const UpaProfileLevel& l : by_pres) {
        if (!merged.empty() && merged.back().p == l.p) absorb(merged.back(), l);
        else merged.push_back(l);
    }
    by_pres.swap(merged);

    // Surface, mandatory, tropopause and maximum wind.
    int surface = -1;
    for (std::size_t i = 0; i < by_pres.size() && surface < 0; ++i)
        if (by_pres[i].flags & UPA_LEV_SURFACE) surface = static_cast<int>(i);
    if (surface < 0 && !by_pres.empty() && by_pres[0].p > 500.0f && known(by_pres[0].t)) surface = 0;
    if (surface >= 0) {
        r->man[0] = man_from(by_pres[static_cast<std::size_t>(surface)]);
        if (!known(r->elev)) r->elev = r->man[0].h;
    }
    std::vector<char> in_man(by_pres.size(), 0);
    int upper = 0;
    bool any_man = false;
    for (std::size_t i = 0; i < by_pres.size(); ++i) {
        const UpaProfileLevel& l = by_pres[i];
        const int m = UPA_mandatory(l.p);
        if (static_cast<int>(i) == surface) {
            // A surface at a mandatory pressure is that level too, but stays the first
            // temperature and wind level.
            if (m > 0) r->man[m] = man_from(l);
            continue;
        }
        if (m > 0) {
            r->man[m] = man_from(l);
            in_man[i] = 1;
            any_man = true;
        } else if ((l.flags & UPA_LEV_STANDARD) && l.p < 10.0f && upper < kUpperLevels) {
            r->man[17 + upper++] = man_from(l);
            in_man[i] = 1;
        }
    }
    for (const UpaProfileLevel& l : by_pres) {
        if ((l.flags & UPA_LEV_TROPOPAUSE) && !known(r->man[22].p))
            r->man[22] = {l.p, UPA_MISS, l.t, l.td, l.dir, l.spd};
        if ((l.flags & UPA_LEV_MAXWIND) && !known(r->man[23].p))
            r->man[23] = {l.p, UPA_MISS, UPA_MISS, UPA_MISS, l.dir, l.spd};
    }
    interpolate_mandatory(by_pres, r);
    for (int m = 1; m <= 16; ++m) any_man = any_man || known(r->man[m].p);
    r->numman = any_man || upper > 0 ? 17 + upper : 0;

    // Temperature levels: the surface first, mandatory levels stay in man only.
    std::vector<const UpaProfileLevel*> temps;
    for (std::size_t i = 0; i < by_pres.size(); ++i)
        if (!in_man[i] && known(by_pres[i].t)) temps.push_back(&by_pres[i]);
    const unsigned sig_flags = UPA_LEV_SURFACE | UPA_LEV_SIGTEMP | UPA_LEV_TROPOPAUSE;
    std::vector<float> ln_p(temps.size());
    for (std::size_t i = 0; i < temps.size(); ++i) ln_p[i] = log_p(temps[i]->p);
    const std::vector<int> sig_keep = thin(
        static_cast<int>(temps.size()), UPA_SIG_LEVELS,
        [&](int i) { return (temps[static_cast<std::size_t>(i)]->flags & sig_flags) != 0; },
        [&](int i, int a, int b) {
            const auto ui = static_cast<std::size_t>(i), ua = static_cast<std::size_t>(a), ub = static_cast<std::size_t>(b);
            const UpaProfileLevel &l = *temps[ui], &la = *temps[ua], &lb = *temps[ub];
            float e = std::fabs(l.t - lerp(ln_p[ui], ln_p[ua], la.t, ln_p[ub], lb.t));
            const float td = lerp(ln_p[ui], ln_p[ua], la.td, ln_p[ub], lb.td);
            if (known(l.td) && known(td)) e = std::max(e, 0.5f * std::fabs(l.td - td));
            return e;
        });
    for (int i : sig_keep) {
        const UpaProfileLevel& l = *temps[static_cast<std::size_t>(i)];
        r->sig[r->numsig++] = {l.p, l.t, l.td};
    }

    // Wind levels by height; pressure levels without a height take one from the profile.
    // Tropopause and maximum-wind levels have their own slots unless also flagged as wind
    // levels.
    std::vector<UpaProfileLevel> winds = height_only;
    for (std::size_t i = 0; i < by_pres.size(); ++i) {
        const UpaProfileLevel& l = by_pres[i];
        if (in_man[i] || !known(l.dir) || !known(l.spd)) continue;
        if ((l.flags & (UPA_LEV_TROPOPAUSE | UPA_LEV_MAXWIND)) && !(l.flags & (UPA_LEV_SIGWIND | UPA_LEV_SURFACE)))
            continue;
        UpaProfileLevel w = l;
        // A surface of unknown height is height 0, as the text layouts write it.
        if (!known(w.h) && static_cast<int>(i) == surface) w.h = known(r->elev) ? r->elev : 0.0f;
        if (!known(w.h)) w.h = height_at(by_pres, l.p);
        winds.push_back(w);
    }
    std::stable_sort(winds.begin(), winds.end(), [](const auto& a, const auto& b) { return a.h < b.h; });
    std::vector<UpaProfileLevel> by_height;
    for (const UpaProfileLevel& w : winds) {
        if (!by_height.empty() && by_height.back().h == w.h) absorb(by_height.back(), w);
        else by_height.push_back(w);
    }
    // Wind components (kt) for the interpolation error.
    std::vector<float> u(by_height.size()), v(by_height.size());
    for (std::size_t i = 0; i < by_height.size(); ++i) {
        const float rad = by_height[i].dir * 3.14159265f / 180.0f;
        u[i] = -by_height[i].spd * std::sin(rad);
        v[i] = -by_height[i].spd * std::cos(rad);
    }
    const std::vector<int> wnd_keep = thin(
        static_cast<int>(by_height.size()), UPA_WND_LEVELS,
        [&](int i) { return (by_height[static_cast<std::size_t>(i)].flags & (UPA_LEV_SURFACE | UPA_LEV_SIGWIND)) != 0; },
        [&](int i, int a, int b) {
            const auto ui = static_cast<std::size_t>(i), ua = static_cast<std::size_t>(a), ub = static_cast<std::size_t>(b);
            const float x = by_height[ui].h, xa = by_height[ua].h, xb = by_height[ub].h;
            return std::hypot(u[ui] - lerp(x, xa, u[ua], xb, u[ub]), v[ui] - lerp(x, xa, v[ua], xb, v[ub]));
        });
    for (int i : wnd_keep) {
        const UpaProfileLevel& w = by_height[static_cast<std::size_t>(i)];
        r->wnd[r->numwnd++] = {w.h * kFeetPerMetre, w.dir, w.spd};
    }
}
