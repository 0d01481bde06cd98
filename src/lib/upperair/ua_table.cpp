// Sounding tables as sounding web archives serve them: an optional title line
// ("72451 DDC Dodge City Observations at 00Z 20 May 2026"), a dashed line, a line of column
// names (PRES HGHT TEMP DWPT RELH MIXR DRCT SKNT THTA THTE THTV, any order and subset), a
// line of units, another dashed line, right-aligned rows with blank cells for missing
// values, and often a block of "name: value" station information. Several such soundings
// may follow each other in one file.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "date.hpp"
#include "mess.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

enum Column { kPres, kHght, kTemp, kDwpt, kDrct, kSknt, kSped, kOther };

struct ColumnSpan {
    Column what;
    std::size_t begin, end;  // characters [begin, end) of a row
    double scale = 1.0;      // to the record's unit
    double offset = 0.0;
};

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        std::size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool is_header(const std::string& line) {
    const std::vector<std::string> w = words(line);
    bool pres = false, hght = false;
    for (const std::string& s : w) {
        pres = pres || s == "PRES";
        hght = hght || s == "HGHT";
    }
    return pres && hght;
}

bool is_dashes(const std::string& line) {
    std::size_t n = 0;
    for (char c : line) {
        if (c == '-') ++n;
        else if (c != ' ') return false;
    }
    return n >= 10;
}

Column column_of(const std::string& name) {
    static const struct {
        const char* name;
        Column what;
    } kNames[] = {{"PRES", kPres}, {"HGHT", kHght}, {"TEMP", kTemp}, {"DWPT", kDwpt},
                  {"DRCT", kDrct}, {"SKNT", kSknt}, {"SPED", kSped}};
    for (const auto& n : kNames)
        if (name == n.name) return n.what;
    return kOther;
}

// Column spans from the header: each name is right-aligned in its cell, which reaches back
// to the end of the previous name.
std::vector<ColumnSpan> spans_of(const std::string& header) {
    std::vector<ColumnSpan> out;
    std::size_t i = 0, prev_end = 0;
    while (i < header.size()) {
        while (i < header.size() && header[i] == ' ') ++i;
        std::size_t j = i;
        while (j < header.size() && header[j] != ' ') ++j;
        if (j > i) {
            out.push_back({column_of(header.substr(i, j - i)), prev_end, j});
            prev_end = j;
        }
        i = j;
    }
    return out;
}

// Applies a units line (hPa or mb, m, C or K, knot or m/s); false when a known column has a
// unit this reader cannot convert.
bool apply_units(const std::string& line, std::vector<ColumnSpan>& spans) {
    const std::vector<std::string> w = words(line);
    if (w.size() != spans.size()) return true;  // no units line, or not one unit per column
    for (std::size_t k = 0; k < spans.size(); ++k) {
        std::string u = w[k];
        for (char& c : u) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ColumnSpan& s = spans[k];
        switch (s.what) {
            case kPres:
                if (u == "pa") s.scale = 0.01;
                else if (u != "hpa" && u != "mb") return false;
                break;
            case kHght:
                if (u == "ft") s.scale = 0.3048;
                else if (u != "m") return false;
                break;
            case kTemp:
            case kDwpt:
                if (u == "k") s.offset = -273.15;
                else if (u != "c") return false;
                break;
            case kSknt:
            case kSped:
                if (u == "m/s") s.scale = 1.0 / 0.5144;
                else if (u != "knot" && u != "knots" && u != "kt") return false;
                break;
            default: break;
        }
    }
    return true;
}

bool in_range(Column c, double v) {
    switch (c) {
        case kPres: return v > 0.0 && v <= 1100.0;
        case kHght: return v >= -1000.0 && v <= 100000.0;
        case kTemp:
        case kDwpt: return v >= -150.0 && v <= 80.0;
        case kDrct: return v >= 0.0 && v <= 360.0;
        case kSknt:
        case kSped: return v >= 0.0 && v <= 500.0;
        default: return true;
    }
}

// "260520/0000" (yymmdd/hhmm) to UTC seconds.
int observation_time(const std::string& text) {
    int yy, mm, dd, hh, mi;
    if (std::sscanf(text.c_str(), "%2d%2d%2d/%2d%2d", &yy, &mm, &dd, &hh, &mi) != 5) return -9999;
    return upa_utc_seconds(yy < 50 ? 2000 + yy : 1900 + yy, mm, dd, hh, mi);
}

// The title line: "72451 DDC Dodge City Observations at 00Z 20 May 2026".
void read_title(const std::string& line, UPA_report* r) {
    const std::vector<std::string> w = words(line);
    if (w.empty()) return;
    double num;
    std::size_t next = 0;
    if (upa_parse_number(w[0], &num) && num >= 0 && num <= 99999 && w[0].size() == 5) {
        r->wmo = static_cast<int>(num);
        str_copy(r->id, sizeof r->id, w[0].c_str());
        next = 1;
    }
    if (next < w.size() && w[next] != "Observations") str_copy(r->id, sizeof r->id, w[next].c_str());
    for (std::size_t k = 0; k + 5 < w.size(); ++k) {
        if (w[k] != "at") continue;
        int hour, day, year;
        const int month = DATE_decode_month(w[k + 3].size() >= 3 ? w[k + 3].substr(0, 3).c_str() : "");
        if (std::sscanf(w[k + 1].c_str(), "%2dZ", &hour) == 1 && std::sscanf(w[k + 2].c_str(), "%d", &day) == 1 &&
            std::sscanf(w[k + 4].c_str(), "%d", &year) == 1 && month > 0)
            r->time = upa_utc_seconds(year, month, day, hour, 0);
    }
}

// One "name: value" line of the station information block.
void read_info(const std::string& line, UPA_report* r) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    std::string name = line.substr(0, colon);
    const std::vector<std::string> nw = words(name);
    name.clear();
    for (const std::string& s : nw) name += (name.empty() ? "" : " ") + s;
    const std::vector<std::string> vw = words(line.substr(colon + 1));
    if (vw.empty()) return;
    double v;
    const bool number = upa_parse_number(vw[0], &v);
    if (name == "Station identifier") str_copy(r->id, sizeof r->id, vw[0].c_str());
    else if (name == "Station number" && number && v >= 0 && v <= 99999) r->wmo = static_cast<int>(v);
    else if (name == "Observation time") r->time = observation_time(vw[0]);
    else if (name == "Station latitude" && number && std::fabs(v) <= 90) r->lat = static_cast<float>(v);
    else if (name == "Station longitude" && number && std::fabs(v) <= 360) r->lon = static_cast<float>(v);
    else if (name == "Station elevation" && number && v > -1000 && v < 10000) r->elev = static_cast<float>(v);
}

const char* station_name(const UPA_report& r) { return r.id[0] ? r.id : "(unnamed)"; }

}  // namespace

bool upa_is_table(const std::string& head) {
    std::size_t start = 0;
    for (int n = 0; n < 40 && start < head.size(); ++n) {
        std::size_t end = head.find('\n', start);
        if (end == std::string::npos) end = head.size();
        if (is_header(head.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

std::unique_ptr<UpaSoundings> upa_table_load(const char* filename) {
    std::vector<std::string> lines;
    if (!upa_read_lines(filename, lines)) return nullptr;
    auto list = std::make_unique<UpaSoundingList>();
    std::size_t i = 0;
    while (i < lines.size()) {
        if (!is_header(lines[i])) {
            ++i;
            continue;
        }
        UPA_report r;
        UPA_initialize(&r);
        // The title is the last non-blank, non-dashed line before the header.
        for (std::size_t k = i; k-- > 0 && k + 4 > i;) {
            if (lines[k].find_first_not_of(' ') == std::string::npos || is_dashes(lines[k])) continue;
            read_title(lines[k], &r);
            break;
        }
        std::vector<ColumnSpan> spans = spans_of(lines[i]);
        const std::size_t header_line = i;
        ++i;
        bool units_ok = true;
        if (i < lines.size() && !is_dashes(lines[i])) units_ok = apply_units(lines[i++], spans);
        if (i < lines.size() && is_dashes(lines[i])) ++i;

        std::vector<UpaProfileLevel> levels;
        std::vector<int> bad_lines;
        for (; i < lines.size(); ++i) {
            const std::string& row = lines[i];
            if (row.find_first_not_of(' ') == std::string::npos || is_dashes(row)) continue;
            if (is_header(row) || row.find(':') != std::string::npos || std::isalpha(static_cast<unsigned char>(row[row.find_first_not_of(' ')])))
                break;
            UpaProfileLevel l;
            bool ok = true;
            std::size_t covered = 0;
            for (const ColumnSpan& s : spans) {
                covered = s.end;
                if (s.begin >= row.size()) continue;
                const std::string cell = row.substr(s.begin, s.end - s.begin);
                if (cell.find_first_not_of(' ') == std::string::npos) continue;
                double v;
                if (!upa_parse_number(cell, &v)) {
                    ok = false;
                    continue;
                }
                v = v * s.scale + s.offset;
                if (!in_range(s.what, v)) {
                    ok = false;
                    continue;
                }
                const float f = static_cast<float>(v);
                switch (s.what) {
                    case kPres: l.p = f; break;
                    case kHght: l.h = f; break;
                    case kTemp: l.t = f; break;
                    case kDwpt: l.td = f; break;
                    case kDrct: l.dir = f; break;
                    case kSknt:
                    case kSped: l.spd = f; break;
                    default: break;
                }
            }
            if (row.find_first_not_of(' ', covered) != std::string::npos) ok = false;
            if (!ok || !upa_known(l.p)) {
                bad_lines.push_back(static_cast<int>(i + 1));
                continue;
            }
            levels.push_back(l);
        }
        // The station information block up to the next table.
        for (; i < lines.size() && !is_header(lines[i]); ++i)
            if (lines[i].find(':') != std::string::npos) read_info(lines[i], &r);
        for (int line : bad_lines)
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: damaged table row skipped\n", filename,
                       station_name(r), line);
        if (!units_ok) {
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: unknown units, sounding skipped\n", filename,
                       station_name(r), static_cast<int>(header_line + 2));
            continue;
        }
        // Rows below the station (a 1000 mb line under a high station) carry no temperature:
        // the surface is the first row with one.
        for (UpaProfileLevel& l : levels) {
            if (!upa_known(l.t)) continue;
            l.flags |= UPA_LEV_SURFACE;
            break;
        }
        if (levels.empty()) {
            MESS_print(M_warn, "UPA_read: %s: station %s line %d: sounding without levels skipped\n", filename,
                       station_name(r), static_cast<int>(header_line + 1));
            continue;
        }
        if (upa_known(r.elev)) {
            for (UpaProfileLevel& l : levels)
                if ((l.flags & UPA_LEV_SURFACE) && !upa_known(l.h)) l.h = r.elev;
        }
        upa_profile_to_report(levels, &r);
        list->reports.push_back(r);
    }
    if (list->reports.empty()) {
        MESS_print(M_error, "UPA_open: no sounding could be read from table file: %s\n", filename);
        return nullptr;
    }
    return list;
}
