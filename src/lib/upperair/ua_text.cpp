// The self-identifying "QAZUPA" text layouts: type 3 (fixed group counts), type 4
// ("QAZUPA+", variable length, records ended by "$") and type 5 ("QAZUPAx", as 4 with the
// WMO number and position on the station token).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mess.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

constexpr int kFixedEntries = 28;  // significant and wind entries of a type-3 record
constexpr std::size_t kTokenSize = 64;

struct Token {
    char text[kTokenSize];
    bool eof = false;
};

Token next(UpaState& st) {
    Token t;
    t.eof = upa_next_token(st, t.text, sizeof t.text) < 0;
    return t;
}
bool is_x(const Token& t) { return t.text[0] == 'X' && t.text[1] == '\0'; }
bool is_end(const Token& t) { return t.text[0] == '$'; }
bool is_upper_level(const char* s) {
    return s[0] == '-' && std::isdigit(static_cast<unsigned char>(s[1]));
}

// Parses a number filling the whole text; false otherwise.
bool parse_float(const char* s, float lo, float hi, float* out) {
    if (!*s) return false;
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (end == s || *end != '\0' || !(v >= lo && v <= hi)) return false;
    *out = static_cast<float>(v);
    return true;
}

void read_station_token(int type, const char* tok, UPA_report* report) {
    if (type != UPA_TEXT_X || !std::strchr(tok, ':')) {
        str_copy(report->id, sizeof report->id, std::strcmp(tok, "-") == 0 ? "" : tok);
        return;
    }
    std::string parts[4];
    int n = 0;
    for (const char* p = tok; *p && n < 4; ++p) {
        if (*p == ':') {
            ++n;
            continue;
        }
        if (parts[n].size() < 32) parts[n].push_back(*p);
    }
    float wmo;
    if (parse_float(parts[0].c_str(), -9999.0f, 99999.0f, &wmo) && wmo == std::floor(wmo))
        report->wmo = static_cast<int>(wmo);
    str_copy(report->id, sizeof report->id, parts[1] == "-" ? "" : parts[1].c_str());
    float lat, lon;
    if (parse_float(parts[2].c_str(), -90.0f, 90.0f, &lat) && parse_float(parts[3].c_str(), -360.0f, 360.0f, &lon)) {
        report->lat = lat;
        report->lon = lon;
    }
}

void read_triple(UpaState& st, UPA_man* m, const char* first) {
    decd_ph(first, &m->p, &m->h);
    decd_td(next(st).text, &m->t, &m->td);
    decd_wd(next(st).text, &m->dir, &m->spd);
}

// Reads a "pressure TTTdd" pair whose pressure token is already in hand.
void read_sig(UpaState& st, UPA_report* report, const char* pres_tok) {
    const Token group = next(st);
    const float p = upa_sig_pres(pres_tok);
    if (!upa_known(p) || report->numsig >= UPA_SIG_LEVELS) return;
    UPA_sig& s = report->sig[report->numsig++];
    s.p = p;
    decd_td(group.text, &s.t, &s.td);
}

void read_wind(UpaState& st, UPA_report* report, const char* height_tok) {
    const Token group = next(st);
    float hh, dir, spd;
    if (!parse_float(height_tok, 0.0f, 999.0f, &hh) || hh != std::floor(hh)) return;
    decd_wd(group.text, &dir, &spd);
    if (!upa_known(dir) || !upa_known(spd) || report->numwnd >= UPA_WND_LEVELS) return;
    report->wnd[report->numwnd++] = {hh * 1000.0f, dir, spd};
}

// Builds the text of a record: items separated by blanks, line ends on request.
struct Writer {
    std::string out;
    void add(const char* item) {
        out += item;
        out += ' ';
    }
    void newline() {
        if (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
    }
};

void add_triple(Writer& w, UpaState& st, const UPA_man& m) {
    encd_ph(m.p, m.h);
    w.add(st.encd);
    encd_td(m.t, m.td);
    w.add(st.encd);
    encd_wd(m.dir, m.spd);
    w.add(st.encd);
}

bool line_end_after(int type, int level) {
    if (type == UPA_TEXT) return level == 5 || level == 9 || level == 13;
    return level == 4 || level == 8 || level == 12 || level == 16;
}

}  // namespace

int upa_text_read(UpaState& st, UPA_report* report) {
    Token t = next(st);
    if (t.eof) return -1;
    read_station_token(st.type, t.text, report);

    // A file that ends inside a record was cut off: the levels read look like a whole
    // (short) sounding, so the cut is told.
    bool cut = false;
    // Mandatory levels 1 to 16; a type-3 record leaves out a 925 mb level without pressure.
    for (int level = 1; level <= 16; ++level) {
        t = next(st);
        if (t.eof) {
            cut = true;
            break;
        }
        if (is_end(t)) {
            upa_unget_token(st, t.text);
            break;
        }
        int index = level;
        if (st.type == UPA_TEXT && level == 2) {
            float p, h;
            decd_ph(t.text, &p, &h);
            if (!upa_known(p) || p == 850.0f) index = level = 3;
        }
        read_triple(st, &report->man[index], t.text);
    }
    report->numman = 17;
    while (report->numman < 22 && !cut) {
        t = next(st);
        if (t.eof) {
            cut = true;
            break;
        }
        if (!is_upper_level(t.text)) {
            upa_unget_token(st, t.text);
            break;
        }
        read_triple(st, &report->man[report->numman++], t.text);
    }

    // Tropopause "88PPP TTTdd dddff" and maximum wind "77PPP dddff".
    Token trop[3];
    for (Token& x : trop) x = next(st);
    if (std::strncmp(trop[0].text, "88", 2) == 0) {
        float p, h;
        decd_ph(trop[0].text, &p, &h);
        UPA_man& m = report->man[22];
        if (upa_known(h) && h > 0.0f) m.p = h;
        decd_td(trop[1].text, &m.t, &m.td);
        decd_wd(trop[2].text, &m.dir, &m.spd);
    }
    Token mw[2];
    for (Token& x : mw) x = next(st);
    if (std::strncmp(mw[0].text, "77", 2) == 0) {
        float p, h;
        decd_ph(mw[0].text, &p, &h);
        UPA_man& m = report->man[23];
        if (upa_known(h) && h > 0.0f) m.p = h;
        decd_wd(mw[1].text, &m.dir, &m.spd);
    }

    if (st.type == UPA_TEXT) {
        for (int e = 0; e < kFixedEntries && !cut; ++e) {
            t = next(st);
            if (t.eof) cut = true;
            else if (!is_x(t)) read_sig(st, report, t.text);
        }
        for (int e = 0; e < kFixedEntries && !cut; ++e) {
            t = next(st);
            if (t.eof) cut = true;
            else if (!is_x(t)) read_wind(st, report, t.text);
        }
    } else {
        bool ended = cut;
        for (;;) {
            t = next(st);
            if (t.eof) {
                ended = cut = true;
                break;
            }
            if (is_x(t)) break;
            if (is_end(t)) {
                ended = true;
                break;
            }
            read_sig(st, report, t.text);
        }
        while (!ended) {
            t = next(st);
            if (t.eof) cut = true;
            if (t.eof || is_end(t)) break;
            if (is_x(t)) {  // skip to the record end
                while (!t.eof && !is_end(t)) t = next(st);
                cut = t.eof;
                break;
            }
            read_wind(st, report, t.text);
        }
    }
    st.has_pending = false;
    upa_fill_surface(report);
    if (cut) MESS_print(M_warn, "UPA_read: report %s is incomplete: the file ends inside it\n", report->id);
    return 0;
}

int upa_text_skip(UpaState& st) {
    if (st.type == UPA_TEXT) {
        UPA_report scratch;
        UPA_initialize(&scratch);
        return upa_text_read(st, &scratch);
    }
    Token t = next(st);
    if (t.eof) return -1;
    while (!t.eof && !is_end(t)) t = next(st);
    return 0;
}

int upa_text_write(UpaState& st, const UPA_report* report) {
    const int type = st.type;
    Writer w;
    char buf[64];
    std::string id = report->id[0] ? report->id : "-";
    std::replace(id.begin(), id.end(), ' ', '_');
    if (type == UPA_TEXT_X) {
        std::replace(id.begin(), id.end(), ':', '_');
        str_format(buf, sizeof buf, "%5.5d:%s", report->wmo, id.c_str());
        std::string token = buf;
        if (upa_known(report->lat) && upa_known(report->lon) && std::fabs(report->lat) <= 90.0f &&
            std::fabs(report->lon) <= 360.0f) {
            str_format(buf, sizeof buf, ":%.2f:%.2f", report->lat, report->lon);
            token += buf;
        }
        w.add(token.c_str());
    } else {
        w.add(id.c_str());
    }

    for (int level = 1; level <= 16; ++level) {
        if (!(type == UPA_TEXT && level == 2 && !upa_known(report->man[2].p)))
            add_triple(w, st, report->man[level]);
        if (line_end_after(type, level)) w.newline();
    }
    // Levels above 10 mb carry "-N" pressure digits, which only pressures below 10 mb give.
    bool upper = false;
    for (int level = 17; level <= 21; ++level) {
        const float p = report->man[level].p;
        if (!upa_known(p) || p <= 0.0f || p >= 10.0f) break;
        add_triple(w, st, report->man[level]);
        upper = true;
    }
    if (upper) w.newline();

    const UPA_man& trop = report->man[22];
    if (upa_known(trop.p) && trop.p >= 1.0f && trop.p < 1000.0f) {
        str_format(buf, sizeof buf, "88%3.3d", static_cast<int>(trop.p));
        w.add(buf);
        encd_td(trop.t, trop.td);
        w.add(st.encd);
        encd_wd(trop.dir, trop.spd);
        w.add(st.encd);
    } else {
        w.add("X X X");
    }
    const UPA_man& mw = report->man[23];
    if (upa_known(mw.p) && mw.p >= 1.0f && mw.p < 1000.0f) {
        str_format(buf, sizeof buf, "77%3.3d", static_cast<int>(mw.p));
        w.add(buf);
        encd_wd(mw.dir, mw.spd);
        w.add(st.encd);
    } else {
        w.add("X X");
    }
    w.newline();

    // Significant levels; three digits hold 1099 mb at most.
    std::vector<UPA_sig> sig = upa_sig_for_write(report, 0.0f);
    sig.erase(std::remove_if(sig.begin(), sig.end(), [](const UPA_sig& s) { return s.p >= 1100.0f; }),
              sig.end());
    const int max_entries = type == UPA_TEXT ? kFixedEntries : UPA_SIG_LEVELS;
    const int nsig = std::min(static_cast<int>(sig.size()), max_entries);
    int entries = 0;
    auto entry_done = [&]() {
        if (++entries % 7 == 0) w.newline();
    };
    for (int k = 0; k < nsig; ++k) {
        const float p = sig[k].p;
        if (p >= 1000.0f)
            str_format(buf, sizeof buf, "%3.3d", static_cast<int>(p) % 1000);
        else if (p < 10.0f)
            str_format(buf, sizeof buf, "%3.1f", p);
        else
            str_format(buf, sizeof buf, "%3d", static_cast<int>(p));
        w.out += buf;
        w.out += ' ';
        encd_td(sig[k].t, sig[k].td);
        w.add(st.encd);
        entry_done();
    }
    if (type == UPA_TEXT) {
        while (entries < kFixedEntries) {
            w.add("X");
            entry_done();
        }
    } else {
        w.add("X");
        w.newline();
    }

    // Wind levels, heights in thousands of feet.
    std::vector<UPA_wnd> wnd;
    const int nw = std::min(std::max(report->numwnd, 0), UPA_WND_LEVELS);
    for (int i = 0; i < nw; ++i) {
        const UPA_wnd& x = report->wnd[i];
        if (upa_known(x.h) && x.h >= 0.0f && x.h < 999000.0f && upa_known(x.dir) && upa_known(x.spd))
            wnd.push_back(x);
    }
    if (nw == 0 && upa_known(report->man[0].dir) && upa_known(report->man[0].spd))
        wnd.push_back({0.0f, report->man[0].dir, report->man[0].spd});
    const int max_wnd = type == UPA_TEXT ? kFixedEntries : UPA_WND_LEVELS;
    const int nwnd = std::min(static_cast<int>(wnd.size()), max_wnd);
    entries = 0;
    for (int k = 0; k < nwnd; ++k) {
        encd_wd(wnd[k].dir, wnd[k].spd);
        str_format(buf, sizeof buf, "%2.2d %s", static_cast<int>(wnd[k].h + 1.0f) / 1000, st.encd);
        w.add(buf);
        entry_done();
    }
    if (type == UPA_TEXT) {
        while (entries < kFixedEntries) {
            w.add("X");
            entry_done();
        }
    } else {
        w.add("$");
        w.newline();
    }
    if (w.out.back() != '\n') w.newline();
    return std::fputs(w.out.c_str(), st.fp) < 0 ? -1 : 0;
}
