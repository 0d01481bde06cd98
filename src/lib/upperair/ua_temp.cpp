// TEMP bulletins (WMO FM 35) as exchanged: parts A (TTAA, standard levels to 100 hPa,
// tropopause, maximum wind), B (TTBB, significant temperature levels and the 21212 wind
// section), C and D (TTCC, TTDD, the same above 100 hPa, pressures in tenths there) and the
// wind parts by height (PPBB, PPDD), with or without abbreviated headings, several stations
// per bulletin. The parts of one station and observation time are merged into one report
// wherever they appear in the file. 31313 instrument groups, 41414 cloud groups and the
// regional 51515-59595 sections are skipped.
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "mess.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kKnotsPerMps = 1.0f / 0.5144f;
constexpr float kWindUnitMetres[] = {300.0f, 500.0f};  // PPBB indicator 9 and 1

struct Token {
    std::string text;
    int line;
    bool ends_report;  // the token carried the closing "="
};

enum class Part { None, A, B, C, D, PilotB, PilotD, Other };

Part part_of(const std::string& t) {
    static const struct {
        const char* name;
        Part part;
    } kParts[] = {{"TTAA", Part::A},      {"TTBB", Part::B},      {"TTCC", Part::C},     {"TTDD", Part::D},
                  {"PPBB", Part::PilotB}, {"PPDD", Part::PilotD}, {"PPAA", Part::Other}, {"PPCC", Part::Other},
                  {"UUAA", Part::Other},  {"UUBB", Part::Other},  {"UUCC", Part::Other}, {"UUDD", Part::Other},
                  {"IIAA", Part::Other},  {"IIBB", Part::Other},  {"IICC", Part::Other}, {"IIDD", Part::Other},
                  {"QQAA", Part::Other},  {"QQBB", Part::Other},  {"QQCC", Part::Other}, {"QQDD", Part::Other}};
    for (const auto& p : kParts)
        if (t == p.name) return p.part;
    return Part::None;
}

bool is_group(const std::string& t) {
    if (t.size() != 5) return false;
    for (char c : t)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '/') return false;
    return true;
}
bool all_digits(const std::string& t, std::size_t from, std::size_t n) {
    if (t.size() < from + n) return false;
    for (std::size_t i = from; i < from + n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    return true;
}
int digits(const std::string& t, std::size_t from, std::size_t n) { return std::atoi(t.substr(from, n).c_str()); }

// The file as tokens; the "=" ending a report is kept as a flag on its last token.
std::vector<Token> tokenize(const std::vector<std::string>& lines) {
    std::vector<Token> out;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (std::isspace(static_cast<unsigned char>(line[i])) ||
                                       static_cast<unsigned char>(line[i]) < ' '))
                ++i;
            std::size_t j = i;
            while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j])) &&
                   static_cast<unsigned char>(line[j]) >= ' ' && line[j] != '=')
                ++j;
            if (j > i) out.push_back({line.substr(i, j - i), static_cast<int>(n + 1), false});
            if (j < line.size() && line[j] == '=') {
                if (!out.empty()) out.back().ends_report = true;
                ++j;
            }
            i = j;
        }
    }
    return out;
}

// One report (one part of one station) being read.
class PartReader {
public:
    PartReader(const std::vector<Token>& tokens, std::size_t pos) : t_(tokens), pos_(pos) {}

    bool at_end() const { return ended_ || pos_ >= t_.size(); }
    // The next group of the report, or null at its end.
    const Token* next() {
        if (at_end()) return nullptr;
        // A part indicator starts the next report even when this one lost its "=".
        if (part_of(t_[pos_].text) != Part::None) {
            ended_ = true;
            return nullptr;
        }
        const Token* tok = &t_[pos_++];
        if (tok->ends_report) ended_ = true;
        last_line_ = tok->line;
        return tok;
    }
    const Token* peek() const {
        return at_end() || part_of(t_[pos_].text) != Part::None ? nullptr : &t_[pos_];
    }
    // Skips to the end of the report.
    void skip_rest() {
        while (next()) {
        }
    }
    std::size_t position() const { return pos_; }
    int line() const { return last_line_; }

private:
    const std::vector<Token>& t_;
    std::size_t pos_;
    bool ended_ = false;
    int last_line_ = 0;
};

// TTTdd: temperature in tenths (odd tenths below zero) and dew-point depression.
void decode_temp(const std::string& g, float* t, float* td) {
    *t = *td = UPA_MISS;
    if (!all_digits(g, 0, 3)) return;
    const int ttt = digits(g, 0, 3);
    *t = (ttt % 2 ? -1.0f : 1.0f) * static_cast<float>(ttt) / 10.0f;
    if (!all_digits(g, 3, 2)) return;
    const int dd = digits(g, 3, 2);
    if (dd <= 50) *td = *t - static_cast<float>(dd) / 10.0f;
    else if (dd >= 56) *td = *t - static_cast<float>(dd - 50);
}

// dddff: direction to 5 degrees, the hundreds of the speed in its last digit.
bool decode_wind(const std::string& g, bool knots, float* dir, float* spd) {
    *dir = *spd = UPA_MISS;
    if (!all_digits(g, 0, 5)) return true;
    const int ddd = digits(g, 0, 3), ff = digits(g, 3, 2);
    const int d = ddd - ddd % 5, s = (ddd % 5) * 100 + ff;
    if (d > 360) return false;
    *dir = static_cast<float>(d);
    *spd = static_cast<float>(s) * (knots ? 1.0f : kKnotsPerMps);
    return true;
}

struct Station {
    int wmo = -9999;
    int day = -1, hour = -1;
    std::vector<UpaProfileLevel> levels;
};

// Identification: YYGGx then IIiii. False when damaged.
bool read_ident(PartReader& in, int* day, int* hour, bool* knots, char* id_digit, int* wmo) {
    const Token* yygg = in.next();
    const Token* station = in.next();
    if (!yygg || !station || !is_group(yygg->text) || !all_digits(yygg->text, 0, 4) || !all_digits(station->text, 0, 5))
        return false;
    int yy = digits(yygg->text, 0, 2);
    *knots = yy > 50;
    if (*knots) yy -= 50;
    *day = yy;
    *hour = digits(yygg->text, 2, 2);
    *id_digit = yygg->text[4];
    *wmo = digits(station->text, 0, 5);
    return *day >= 1 && *day <= 31 && *hour <= 23;
}

// Standard-level pressure of a part A or C indicator, 0 when it is none.
float standard_pressure(const std::string& pp, bool part_c) {
    static const char* const kA[] = {"00", "92", "85", "70", "50", "40", "30", "25", "20", "15", "10"};
    static const float kApres[] = {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100};
    static const char* const kC[] = {"70", "50", "30", "20", "10"};
    static const float kCpres[] = {70, 50, 30, 20, 10};
    if (part_c) {
        for (int i = 0; i < 5; ++i)
            if (pp == kC[i]) return kCpres[i];
    } else {
        for (int i = 0; i < 11; ++i)
            if (pp == kA[i]) return kApres[i];
    }
    return 0.0f;
}

// Height (m) of a standard level from its three digits.
float standard_height(float p, const std::string& hhh) {
    if (!all_digits(hhh, 0, 3)) return UPA_MISS;
    const int h = digits(hhh, 0, 3);
    if (p >= 100.0f) {
        char group[8];
        str_format(group, sizeof group, "%2.2d%3.3d", p >= 1000.0f ? 0 : p == 925.0f ? 92 : static_cast<int>(p) / 10, h);
        float pres, hght;
        decd_ph(group, &pres, &hght);
        return hght;
    }
    // Part C: decametres above 10 km, 20 km or 30 km.
    const float dam = 10.0f * static_cast<float>(h);
    if (p == 70.0f) return dam + 10000.0f;
    if (p == 50.0f) return dam + (h > 500 ? 10000.0f : 20000.0f);
    if (p == 30.0f || p == 20.0f) return dam + 20000.0f;
    return dam + (h > 500 ? 20000.0f : 30000.0f);
}

// Lowest pressure (hPa) whose standard level still carries a wind group, from Id.
float last_wind_pressure(char id, bool part_c) {
    if (id == '/') return 1e9f;  // no wind groups at all
    if (!std::isdigit(static_cast<unsigned char>(id))) return 0.0f;
    const int d = id - '0';
    if (part_c) return d == 0 ? 100.0f : static_cast<float>(d) * 10.0f;
    if (d == 0) return 1000.0f;
    if (d == 9) return 925.0f;
    return static_cast<float>(d) * 100.0f;
}

// The 31313 and 41414 sections; true when the group was one of them.
bool skip_section(PartReader& in, const std::string& g) {
    if (g == "31313") {
        in.next();  // instrument and system
        if (const Token* t = in.peek(); t && t->text.size() == 5 && t->text[0] == '8') in.next();  // launch time
        return true;
    }
    if (g == "41414") {
        in.next();
        return true;
    }
    return false;
}

bool is_regional(const std::string& g) {
    // 51515, 52525, ..., 59595.
    return g.size() == 5 && g[0] == '5' && g[2] == '5' && g[4] == '5' && g[1] == g[3] && g[1] >= '1' && g[1] <= '9';
}

// The next token when it is a five-character group, else null (a damaged report).
const Token* next_group(PartReader& in) {
    const Token* t = in.next();
    return t && is_group(t->text) ? t : nullptr;
}

// Parts A and C.
bool read_standard_part(PartReader& in, bool part_c, bool knots, char id, std::vector<UpaProfileLevel>& out) {
    const float wind_limit = last_wind_pressure(id, part_c);
    while (const Token* tok = in.next()) {
        const std::string& g = tok->text;
        if (g == "31313" || g == "41414") {
            skip_section(in, g);
            continue;
        }
        if (is_regional(g)) {
            in.skip_rest();
            break;
        }
        if (!is_group(g)) return false;
        const std::string pp = g.substr(0, 2), rest = g.substr(2);
        UpaProfileLevel l;
        if (pp == "99" && !part_c) {
            const Token* tt = next_group(in);
            const Token* ww = next_group(in);
            if (!tt || !ww || !all_digits(rest, 0, 3)) return false;
            int ppp = digits(rest, 0, 3);
            l.p = static_cast<float>(ppp < 100 ? ppp + 1000 : ppp);
            decode_temp(tt->text, &l.t, &l.td);
            if (!decode_wind(ww->text, knots, &l.dir, &l.spd)) return false;
            l.flags = UPA_LEV_SURFACE;
        } else if (pp == "88") {
            if (rest == "999") continue;
            const Token* tt = next_group(in);
            const Token* ww = next_group(in);
            if (!tt || !ww || !all_digits(rest, 0, 3)) return false;
            l.p = static_cast<float>(digits(rest, 0, 3)) / (part_c ? 10.0f : 1.0f);
            decode_temp(tt->text, &l.t, &l.td);
            if (!decode_wind(ww->text, knots, &l.dir, &l.spd)) return false;
            l.flags = UPA_LEV_TROPOPAUSE;
        } else if (pp == "77" || pp == "66") {
            if (rest == "999") continue;
            const Token* ww = next_group(in);
            if (!ww || !all_digits(rest, 0, 3)) return false;
            l.p = static_cast<float>(digits(rest, 0, 3)) / (part_c ? 10.0f : 1.0f);
            if (!decode_wind(ww->text, knots, &l.dir, &l.spd)) return false;
            l.flags = UPA_LEV_MAXWIND;
            if (const Token* shear = in.peek(); shear && shear->text.size() == 5 && shear->text[0] == '4') in.next();
        } else if (const float p = standard_pressure(pp, part_c); p > 0.0f) {
            const Token* tt = next_group(in);
            if (!tt) return false;
            l.p = p;
            l.h = standard_height(p, rest);
            decode_temp(tt->text, &l.t, &l.td);
            if (p >= wind_limit) {
                const Token* ww = next_group(in);
                if (!ww || !decode_wind(ww->text, knots, &l.dir, &l.spd)) return false;
            }
            l.flags = UPA_LEV_STANDARD;
        } else {
            return false;
        }
        if (!upa_known(l.p) || l.p <= 0.0f) return false;
        out.push_back(l);
    }
    return true;
}

// nnPPP with nn 00, 11, ..., 99 (00 the surface); PPP in hPa, or tenths in part D.
bool sig_pressure(const std::string& g, bool tenths, float* p, bool* surface) {
    if (!all_digits(g, 0, 5) || g[0] != g[1]) return false;
    const int ppp = digits(g, 2, 3);
    *surface = g[0] == '0';
    *p = tenths ? static_cast<float>(ppp) / 10.0f : static_cast<float>(ppp < 100 ? ppp + 1000 : ppp);
    return *p > 0.0f;
}

// Parts B and D: significant temperature levels, then the 21212 winds.
bool read_significant_part(PartReader& in, bool part_d, bool knots, std::vector<UpaProfileLevel>& out) {
    bool winds = false;
    while (const Token* tok = in.next()) {
        const std::string& g = tok->text;
        if (g == "21212") {
            winds = true;
            continue;
        }
        if (g == "31313" || g == "41414") {
            skip_section(in, g);
            winds = false;
            continue;
        }
        if (is_regional(g)) {
            in.skip_rest();
            break;
        }
        UpaProfileLevel l;
        bool surface = false;
        if (!sig_pressure(g, part_d, &l.p, &surface)) return false;
        const Token* value = in.next();
        if (!value || !is_group(value->text)) return false;
        if (winds) {
            if (!decode_wind(value->text, knots, &l.dir, &l.spd)) return false;
            l.flags = UPA_LEV_SIGWIND;
        } else {
            decode_temp(value->text, &l.t, &l.td);
            l.flags = UPA_LEV_SIGTEMP;
        }
        if (surface) l.flags |= UPA_LEV_SURFACE;
        out.push_back(l);
    }
    return true;
}

// Wind parts by height: 9tnu1u2u3 (units of 300 m; 1tnu1u2u3 500 m) and one dddff per unit
// digit given. Altitude 0 is the surface.
bool read_height_winds(PartReader& in, bool knots, std::vector<UpaProfileLevel>& out) {
    while (const Token* tok = in.next()) {
        const std::string& g = tok->text;
        if (g == "21212" || g == "31313" || g == "41414") {
            if (g != "21212") skip_section(in, g);
            continue;
        }
        if (is_regional(g)) {
            in.skip_rest();
            break;
        }
        if (!is_group(g) || (g[0] != '9' && g[0] != '1') || !std::isdigit(static_cast<unsigned char>(g[1])))
            return false;
        const float unit = kWindUnitMetres[g[0] == '1' ? 1 : 0];
        for (int k = 2; k < 5; ++k) {
            if (g[static_cast<std::size_t>(k)] == '/') continue;
            if (!std::isdigit(static_cast<unsigned char>(g[static_cast<std::size_t>(k)]))) return false;
            const Token* ww = in.next();
            if (!ww || !is_group(ww->text)) return false;
            UpaProfileLevel l;
            const int units = (g[1] - '0') * 10 + (g[static_cast<std::size_t>(k)] - '0');
            l.h = static_cast<float>(units) * unit;
            if (!decode_wind(ww->text, knots, &l.dir, &l.spd)) return false;
            l.flags = UPA_LEV_SIGWIND | (units == 0 ? UPA_LEV_SURFACE : 0u);
            if (upa_known(l.dir)) out.push_back(l);
        }
    }
    return true;
}

bool is_ident_start(const std::vector<Token>& t, std::size_t i) {
    return i + 1 < t.size() && is_group(t[i].text) && all_digits(t[i].text, 0, 4) && all_digits(t[i + 1].text, 0, 5) &&
           t[i + 1].text.size() == 5;
}

}  // namespace

bool upa_is_temp(const std::string& head) {
    std::size_t i = 0;
    while (i < head.size()) {
        while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
        std::size_t j = i;
        while (j < head.size() && !std::isspace(static_cast<unsigned char>(head[j]))) ++j;
        const Part p = part_of(head.substr(i, j - i));
        if (p != Part::None && p != Part::Other) return true;
        i = j;
    }
    return false;
}

std::unique_ptr<UpaSoundings> upa_temp_load(const char* filename) {
    std::vector<std::string> lines;
    if (!upa_read_lines(filename, lines)) return nullptr;
    const std::vector<Token> tokens = tokenize(lines);
    std::vector<Station> stations;
    std::map<std::tuple<int, int, int>, std::size_t> index;  // (wmo, day, hour) -> station

    Part part = Part::None;
    bool report_start = false;  // the previous token closed a report
    std::size_t i = 0;
    while (i < tokens.size()) {
        const Token& tok = tokens[i];
        const Part named = part_of(tok.text);
        if (named != Part::None) {
            part = named;
            ++i;
        } else if (!(report_start && part != Part::None && is_ident_start(tokens, i))) {
            // Headings, channel numbers, "NIL" reports and anything between reports.
            report_start = tok.ends_report;
            ++i;
            continue;
        }
        report_start = false;
        const int start_line = i < tokens.size() ? tokens[i].line : tok.line;
        PartReader in(tokens, i);
        if (part == Part::Other) {
            in.skip_rest();
            i = in.position();
            report_start = true;
            continue;
        }
        int day = 0, hour = 0, wmo = -9999;
        bool knots = false;
        char id = '/';
        if (!read_ident(in, &day, &hour, &knots, &id, &wmo)) {
            // A "NIL" report or a damaged identification: nothing to read here.
            const Token* first = i < tokens.size() ? &tokens[i] : nullptr;
            if (!(first && (first->text == "NIL" || (i + 1 < tokens.size() && tokens[i + 1].text == "NIL") ||
                            (i + 2 < tokens.size() && tokens[i + 2].text == "NIL"))))
                MESS_print(M_warn, "UPA_read: %s: line %d: damaged TEMP identification, report skipped\n", filename,
                           start_line);
            in.skip_rest();
            i = in.position();
            report_start = true;
            continue;
        }
        std::vector<UpaProfileLevel> levels;
        bool ok;
        if (const Token* nil = in.peek(); nil && nil->text == "NIL") {
            in.skip_rest();
            ok = true;
        } else {
            switch (part) {
                case Part::A: ok = read_standard_part(in, false, knots, id, levels); break;
                case Part::C: ok = read_standard_part(in, true, knots, id, levels); break;
                case Part::B: ok = read_significant_part(in, false, knots, levels); break;
                case Part::D: ok = read_significant_part(in, true, knots, levels); break;
                default: ok = read_height_winds(in, knots, levels); break;
            }
        }
        if (!ok) {
            MESS_print(M_warn, "UPA_read: %s: station %5.5d line %d: damaged TEMP group, part skipped\n", filename, wmo,
                       in.line());
            in.skip_rest();
        } else if (!in.at_end()) {
            in.skip_rest();
        }
        i = in.position();
        report_start = true;
        if (!ok || levels.empty()) continue;
        const auto key = std::make_tuple(wmo, day, hour);
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, stations.size()).first;
            stations.push_back({wmo, day, hour, {}});
        }
        std::vector<UpaProfileLevel>& all = stations[found->second].levels;
        all.insert(all.end(), levels.begin(), levels.end());
    }

    auto list = std::make_unique<UpaSoundingList>();
    for (const Station& s : stations) {
        UPA_report r;
        UPA_initialize(&r);
        r.wmo = s.wmo;
        str_format(r.id, sizeof r.id, "%5.5d", s.wmo);
        // The bulletin gives day and hour only, no month: time stays unknown.
        upa_profile_to_report(s.levels, &r);
        list->reports.push_back(r);
    }
    if (list->reports.empty()) {
        MESS_print(M_error, "UPA_open: no sounding could be read from TEMP file: %s\n", filename);
        return nullptr;
    }
    return list;
}
