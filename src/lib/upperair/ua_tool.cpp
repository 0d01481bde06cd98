// Upper-air report tools: record emptying, the mandatory-level index, opening by name or
// date, station search and listing, report printing and layer extraction.
#include "ua_tool.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "files.hpp"
#include "string.hpp"

namespace {

constexpr float kMandatory[16] = {1000, 925, 850, 700, 500, 400, 300, 250,
                                  200,  150, 100, 70,  50,  30,  20,  10};
constexpr float kMiss = -9999.0f;
bool known(float v) { return v > -9998.0f; }

// Prints a value in a column of width w, blank-padded dashes for a missing value.
void cell(char* buf, std::size_t size, float v, int decimals) {
    if (known(v))
        str_format(buf, size, "%8.*f", decimals, v);
    else
        str_copy(buf, size, "       -");
}

}  // namespace

int UPA_initialize(UPA_report* report) {
    if (!report) return -1;
    report->id[0] = '\0';
    report->area[0] = '\0';
    report->wmo = -9999;
    report->time = -9999;
    report->type = 0;
    report->lat = report->lon = report->elev = kMiss;
    for (UPA_man& m : report->man) m = {kMiss, kMiss, kMiss, kMiss, kMiss, kMiss};
    for (UPA_sig& s : report->sig) s = {kMiss, kMiss, kMiss};
    for (UPA_wnd& w : report->wnd) w = {kMiss, kMiss, kMiss};
    report->numman = report->numsig = report->numwnd = 0;
    return 0;
}

int UPA_mandatory(float pres) {
    for (int i = 0; i < 16; ++i)
        if (std::fabs(pres - kMandatory[i]) < 0.01f) return i + 1;
    return 0;
}

float UPA_mandatory_pres(int index) { return index >= 1 && index <= 16 ? kMandatory[index - 1] : kMiss; }

int UPA_open_file(const char* filename, const Date* date, int* f_type, UPA_info* info) {
    char name[FILE_NAME_SIZE] = "";
    if (filename && *filename) {
        str_copy(name, sizeof name, filename);
    } else if (date) {
        FILE_set_date(date, name);
    }
    int local_type = 0;
    if (!f_type) f_type = &local_type;
    const int fd = name[0] ? UPA_open(name, 0, f_type) : -1;
    if (fd < 0) {
        MESS_print(M_error, "UPA_open_file: Unable to open file:%s\n", name);
        return -1;
    }
    if (info) {
        if (UPA_getinfo(fd, info) < 0) {
            MESS_print(M_error, "UPA_open_file: Unable to open file:%s\n", name);
            UPA_close(fd);
            return -1;
        }
    }
    return fd;
}

int UPA_get_station(int cvt_fd, const char* id, UPA_report* report, int rep_type) {
    if (!id || !*id || !report) return -1;
    char* end = nullptr;
    const long wmo = std::strtol(id, &end, 10);
    const bool numeric = end != id && *end == '\0';
    UPA_report probe;
    for (int n = 0;; ++n) {
        int statnum = n;
        if (UPA_read(cvt_fd, &probe, numeric ? UPA_REP_LOCATION : UPA_REP_ID, &statnum) < 0) return -1;
        const bool match = stricmp(probe.id, id) == 0 || (numeric && probe.wmo == wmo);
        if (!match) continue;
        statnum = n;
        return UPA_read(cvt_fd, report, rep_type, &statnum) < 0 ? -1 : n;
    }
}

int UPA_get_station_at(int cvt_fd, const char* id, int time, UPA_report* report, int rep_type) {
    if (!id || !report) return -1;
    char* end = nullptr;
    const long wmo = std::strtol(id, &end, 10);
    const bool numeric = end != id && *end == '\0';
    auto probe = std::make_unique<UPA_report>();
    for (int n = 0;; ++n) {
        int statnum = n;
        if (UPA_read(cvt_fd, probe.get(), UPA_REP_ALL, &statnum) < 0) return -1;
        const bool match = !*id || stricmp(probe->id, id) == 0 || (numeric && probe->wmo == wmo);
        if (!match || probe->time != time) continue;
        statnum = n;
        return UPA_read(cvt_fd, report, rep_type, &statnum) < 0 ? -1 : n;
    }
}

int UPA_list_stations(int cvt_fd, char (*ids)[UPA_ID_SIZE], int max_ids, M_type level) {
    UPA_report probe;
    int n = 0;
    for (;; ++n) {
        int statnum = n;
        if (UPA_read(cvt_fd, &probe, UPA_REP_ID, &statnum) < 0) break;
        if (ids && n < max_ids) str_copy(ids[n], UPA_ID_SIZE, probe.id);
        if (level != M_none) MESS_print(level, "%-10s%s", probe.id, (n % 10 == 9) ? "\n" : " ");
    }
    if (level != M_none && n % 10 != 0) MESS_print(level, "\n");
    return n;
}

int UPA_print_report(const UPA_report* r, M_type level) {
    if (!r) return -1;
    MESS_print(level, "Station %s  WMO %d  lat %.2f lon %.2f elev %.0f\n", r->id, r->wmo, r->lat, r->lon,
               r->elev);
    MESS_print(level, " lev     pres    hght    temp    dewp     dir     spd\n");
    char c[6][16];
    for (int i = 0; i < UPA_MAN_LEVELS; ++i) {
        const UPA_man& m = r->man[i];
        if (!known(m.p)) continue;
        cell(c[0], sizeof c[0], m.p, 1);
        cell(c[1], sizeof c[1], m.h, 0);
        cell(c[2], sizeof c[2], m.t, 1);
        cell(c[3], sizeof c[3], m.td, 1);
        cell(c[4], sizeof c[4], m.dir, 0);
        cell(c[5], sizeof c[5], m.spd, 0);
        MESS_print(level, "%4d %s%s%s%s%s%s\n", i, c[0], c[1], c[2], c[3], c[4], c[5]);
    }
    MESS_print(level, "Significant levels: %d\n", r->numsig);
    for (int i = 0; i < std::min(std::max(r->numsig, 0), UPA_SIG_LEVELS); ++i) {
        cell(c[0], sizeof c[0], r->sig[i].p, 1);
        cell(c[2], sizeof c[2], r->sig[i].t, 1);
        cell(c[3], sizeof c[3], r->sig[i].td, 1);
        MESS_print(level, "%4d %s%s%s\n", i, c[0], c[2], c[3]);
    }
    MESS_print(level, "Wind levels: %d\n", r->numwnd);
    for (int i = 0; i < std::min(std::max(r->numwnd, 0), UPA_WND_LEVELS); ++i) {
        cell(c[1], sizeof c[1], r->wnd[i].h, 0);
        cell(c[4], sizeof c[4], r->wnd[i].dir, 0);
        cell(c[5], sizeof c[5], r->wnd[i].spd, 0);
        MESS_print(level, "%4d %s ft%s%s\n", i, c[1], c[4], c[5]);
    }
    return 0;
}

int UPA_make_layer(const UPA_report* r, float p_bot, float p_top, UPA_level* levels, int max_levels) {
    if (!r || !levels || max_levels <= 0) return 0;
    std::vector<UPA_level> all;
    auto in_layer = [&](float p) { return known(p) && p > 0.0f && p <= p_bot && p >= p_top; };
    const float sfc = r->man[0].p;
    for (int i = 0; i <= 21; ++i) {
        const UPA_man& m = r->man[i];
        if (!in_layer(m.p) || (known(sfc) && m.p > sfc)) continue;
        all.push_back({m.p, m.h, m.t, m.td, m.dir, m.spd});
    }
    for (int i = 0; i < std::min(std::max(r->numsig, 0), UPA_SIG_LEVELS); ++i) {
        const UPA_sig& s = r->sig[i];
        if (!in_layer(s.p) || (known(sfc) && s.p > sfc)) continue;
        const bool dup = std::any_of(all.begin(), all.end(), [&](const UPA_level& l) { return l.p == s.p; });
        if (!dup) all.push_back({s.p, kMiss, s.t, s.td, kMiss, kMiss});
    }
    std::stable_sort(all.begin(), all.end(), [](const UPA_level& a, const UPA_level& b) { return a.p > b.p; });
    // Keep the first of equal pressures (the surface or the mandatory level).
    all.erase(std::unique(all.begin(), all.end(), [](const UPA_level& a, const UPA_level& b) { return a.p == b.p; }),
              all.end());
    const int n = std::min(static_cast<int>(all.size()), max_levels);
    std::copy(all.begin(), all.begin() + n, levels);
    return n;
}
