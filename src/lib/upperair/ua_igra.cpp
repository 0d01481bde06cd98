// Station files of the integrated global radiosonde archive, version 2: every sounding is a
// header record ("#", station, date, hour, release time, level count, sources, position)
// followed by that many fixed-column data records (level types, elapsed time, pressure in
// Pa, geopotential height in m, temperature and dew-point depression in tenths of C,
// relative humidity in tenths of %, direction in degrees, speed in tenths of m/s, with
// quality flags after pressure, height and temperature). -9999 is missing, -8888 a value
// removed by quality assurance; both read as unknown.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mess.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kKnotsPerMps = 1.0f / 0.5144f;

struct Sounding {
    char id[11] = "";
    char area[11] = "";
    int wmo = -9999;
    float lat = -9999.0f, lon = -9999.0f;
    int time = -9999;
    std::vector<UpaProfileLevel> levels;
};

class IgraSoundings : public UpaSoundings {
public:
    std::vector<Sounding> soundings;
    int count() const override { return static_cast<int>(soundings.size()); }
    int read(int n, UPA_report* r) override {
        if (n < 0 || n >= count()) return -1;
        const Sounding& s = soundings[static_cast<std::size_t>(n)];
        str_copy(r->id, sizeof r->id, s.id);
        str_copy(r->area, sizeof r->area, s.area);
        r->wmo = s.wmo;
        r->lat = s.lat;
        r->lon = s.lon;
        r->time = s.time;
        upa_profile_to_report(s.levels, r);
        return 0;
    }
};

// Columns first..last (1-based, inclusive) as an integer; false when not one (blanks around
// it are allowed, an all-blank field is not).
bool field(const std::string& line, std::size_t first, std::size_t last, long* out) {
    if (line.size() < last) return false;
    const std::string text = line.substr(first - 1, last - first + 1);
    std::size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return false;
    std::size_t b = text.find_last_not_of(' ');
    std::size_t i = a;
    if (text[i] == '-' || text[i] == '+') ++i;
    if (i > b) return false;
    for (std::size_t k = i; k <= b; ++k)
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    *out = std::strtol(text.c_str() + a, nullptr, 10);
    return true;
}

bool flag_ok(char c) { return c == ' ' || c == 'A' || c == 'B'; }

float value(long v, float scale) { return v == -9999 || v == -8888 ? UPA_MISS : static_cast<float>(v) * scale; }

// The header record; false when damaged. The station name is set as far as it can be read.
bool read_header(const std::string& line, Sounding* s, long* levels) {
    std::string station = line.size() >= 12 ? line.substr(1, 11) : line.substr(1);
    while (!station.empty() && station.back() == ' ') station.pop_back();
    if (station.size() == 11 && station[2] == 'M' && station.compare(3, 3, "000") == 0) {
        str_copy(s->id, sizeof s->id, station.c_str() + 6);  // WMO network: the index number
        long wmo;
        if (field(station, 7, 11, &wmo)) s->wmo = static_cast<int>(wmo);
    } else if (station.size() > 3) {
        std::size_t from = 3;
        while (from + 1 < station.size() && station[from] == '0') ++from;
        str_copy(s->id, sizeof s->id, station.c_str() + from);
    } else {
        str_copy(s->id, sizeof s->id, station.c_str());
    }
    if (station.size() >= 2) str_copy(s->area, sizeof s->area, station.substr(0, 2).c_str());
    long year, month, day, hour, reltime, lat, lon;
    if (!field(line, 14, 17, &year) || !field(line, 19, 20, &month) || !field(line, 22, 23, &day) ||
        !field(line, 25, 26, &hour) || !field(line, 28, 31, &reltime) || !field(line, 33, 36, levels) ||
        !field(line, 56, 62, &lat) || !field(line, 64, 71, &lon))
        return false;
    if (*levels < 0 || std::labs(lat) > 900000 || std::labs(lon) > 1800000) return false;
    s->lat = static_cast<float>(lat) / 10000.0f;
    s->lon = static_cast<float>(lon) / 10000.0f;
    // A missing nominal hour takes the release time.
    int hh = static_cast<int>(hour), mm = 0;
    if (hour == 99 && reltime != 9999 && reltime / 100 != 99) {
        hh = static_cast<int>(reltime / 100);
        mm = reltime % 100 == 99 ? 0 : static_cast<int>(reltime % 100);
    }
    s->time = upa_utc_seconds(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day), hh, mm);
    return s->time != -9999;
}

// One data record; false when damaged.
bool read_level(const std::string& line, UpaProfileLevel* l) {
    long type1, type2, etime, press, gph, temp, rh, dpdp, wdir, wspd;
    if (line.size() < 51 || !field(line, 1, 1, &type1) || !field(line, 2, 2, &type2) || !field(line, 4, 8, &etime) ||
        !field(line, 10, 15, &press) || !field(line, 17, 21, &gph) || !field(line, 23, 27, &temp) ||
        !field(line, 29, 33, &rh) || !field(line, 35, 39, &dpdp) || !field(line, 41, 45, &wdir) ||
        !field(line, 47, 51, &wspd))
        return false;
    if (type1 < 1 || type1 > 3 || type2 < 0 || type2 > 2 || !flag_ok(line[15]) || !flag_ok(line[21]) ||
        !flag_ok(line[27]))
        return false;
    l->p = value(press, 0.01f);
    l->h = value(gph, 1.0f);
    l->t = value(temp, 0.1f);
    const float depression = value(dpdp, 0.1f);
    l->td = upa_known(l->t) && upa_known(depression) ? l->t - depression : UPA_MISS;
    l->dir = value(wdir, 1.0f);
    l->spd = value(wspd, 0.1f * kKnotsPerMps);
    if ((upa_known(l->p) && (l->p <= 0.0f || l->p > 1100.0f)) || (upa_known(l->t) && std::fabs(l->t) > 150.0f) ||
        (upa_known(l->dir) && (l->dir < 0.0f || l->dir > 360.0f)) || (upa_known(l->spd) && l->spd < 0.0f) ||
        (upa_known(depression) && depression < 0.0f))
        return false;
    if (type1 == 1) l->flags |= UPA_LEV_STANDARD;
    if (type2 == 1) l->flags |= UPA_LEV_SURFACE;
    if (type2 == 2) l->flags |= UPA_LEV_TROPOPAUSE;
    if (type1 == 3) l->flags |= UPA_LEV_SIGWIND;
    else if (type1 == 2 && type2 == 0) l->flags |= UPA_LEV_SIGTEMP;
    return true;
}

bool is_header(const std::string& line) { return !line.empty() && line[0] == '#'; }

}  // namespace

bool upa_is_igra(const std::string& head) {
    // "#" and an 11-character station, then the year in columns 14-17.
    const std::size_t end = head.find('\n');
    const std::string line = head.substr(0, end);
    long year;
    return line.size() >= 71 && line[0] == '#' && line[12] == ' ' && field(line, 14, 17, &year);
}

std::unique_ptr<UpaSoundings> upa_igra_load(const char* filename) {
    std::vector<std::string> lines;
    if (!upa_read_lines(filename, lines)) return nullptr;
    auto list = std::make_unique<IgraSoundings>();
    std::size_t i = 0;
    while (i < lines.size()) {
        if (!is_header(lines[i])) {
            if (lines[i].find_first_not_of(' ') != std::string::npos)
                MESS_print(M_warn, "UPA_read: %s: line %d: data record outside a sounding skipped\n", filename,
                           static_cast<int>(i + 1));
            ++i;
            continue;
        }
        Sounding s;
        long count = 0;
        const std::size_t header = i++;
        if (!read_header(lines[header], &s, &count)) {
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: damaged header record, sounding skipped\n",
                       filename, s.id[0] ? s.id : "(unknown)", static_cast<int>(header + 1));
            while (i < lines.size() && !is_header(lines[i])) ++i;
            continue;
        }
        int damaged = 0;
        long read = 0;
        for (; i < lines.size() && !is_header(lines[i]); ++i, ++read) {
            UpaProfileLevel l;
            if (read < count && read_level(lines[i], &l)) {
                s.levels.push_back(l);
            } else if (!damaged) {
                damaged = static_cast<int>(i + 1);
            }
        }
        if (damaged) {
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: damaged data record, sounding skipped\n", filename,
                       s.id, damaged);
        } else if (read < count) {
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: sounding truncated (%ld of %ld levels), skipped\n",
                       filename, s.id, static_cast<int>(header + 1), read, count);
        } else {
            list->soundings.push_back(std::move(s));
        }
    }
    if (list->soundings.empty()) {
        MESS_print(M_error, "UPA_open: no sounding could be read from archive file: %s\n", filename);
        return nullptr;
    }
    return list;
}
