// Upper-air group codecs (PPhhh, TTTdd, dddff) and the coded text layouts close to the WMO
// TEMP code: type 1 (levels to 500 mb) and type 2 (levels to 100 mb).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_read.hpp"

namespace {

bool digits(const char* s, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}
int number(const char* s, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Magnitudes beyond these cannot be coded and would overflow the integer conversions.
constexpr float kMaxCodable = 1.0e6f;
bool codable(float v) { return upa_known(v) && std::fabs(v) < kMaxCodable; }

int write_missing() {
    UpaState& st = upa_state();
    const bool qazupa = st.type >= UPA_TEXT && st.type <= UPA_TEXT_X;
    str_copy(st.encd, sizeof st.encd, qazupa ? "X" : "99999");
    return -1;
}

// Height from the three hhh digits by the range the pressure level lies in.
float expand_height(int pres, int hhh) {
    switch (pres) {
        case 1000: return hhh >= 500 ? 500.0f - hhh : static_cast<float>(hhh);
        case 925: return static_cast<float>(hhh);
        case 850: return 1000.0f + hhh;
        case 700: return hhh > 500 ? hhh + 2000.0f : hhh + 3000.0f;
        case 500:
        case 400: return 10.0f * hhh;
        case 300:
        case 250: return hhh > 500 ? 10.0f * hhh : 10.0f * hhh + 10000.0f;
        case 200:
        case 150:
        case 100:
        case 70: return 10.0f * hhh + 10000.0f;
        case 50: return 10.0f * hhh + (hhh > 500 ? 10000.0f : 20000.0f);
        case 30:
        case 20: return 10.0f * hhh + 20000.0f;
        case 10: return 10.0f * hhh + (hhh > 500 ? 20000.0f : 30000.0f);
        case 7:
        case 5: return 10.0f * hhh + 30000.0f;
        case 3:
        case 2: return 10.0f * hhh + (hhh > 500 ? 30000.0f : 40000.0f);
        case 1: return 10.0f * hhh + (hhh > 500 ? 40000.0f : 50000.0f);
        default: return static_cast<float>(hhh);
    }
}

const int kLevelsShort[] = {1, 3, 4, 5};
const int kLevelsLong[] = {1, 3, 4, 5, 6, 7, 9, 11};
const int kSlotsShort[] = {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000,
                           12000, 14000, 15000, 16000, 18000};
const int kSlotsLong[] = {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000,
                          12000, 14000, 16000, 20000, 25000, 30000, 35000, 40000, 45000, 50000};

struct CodedLayout {
    int lines;
    const int* levels;
    int num_levels;
    int max_sig;
    const int* slots;
    int num_slots;
    float min_sig_pres;
};
CodedLayout layout(int type) {
    if (type == UPA_CODED_SHORT) return {5, kLevelsShort, 4, 14, kSlotsShort, 16, 500.0f};
    return {7, kLevelsLong, 8, 21, kSlotsLong, 21, 100.0f};
}

}  // namespace

// ---- Group codecs ---------------------------------------------------------------------------

const char* UPA_encd_buffer() { return upa_state().encd; }

int decd_ph(const char* group, float* pres, float* hght) {
    float dummy_p, dummy_h;
    if (!pres) pres = &dummy_p;
    if (!hght) hght = &dummy_h;
    *pres = *hght = UPA_MISS;
    if (!group || group[0] == 'X' || std::strlen(group) < 3) return -1;
    int p;
    if (group[0] == '-' && std::isdigit(static_cast<unsigned char>(group[1]))) {
        p = group[1] - '0';
    } else if (digits(group, 2)) {
        const int pp = number(group, 2);
        if (pp == 99) return -1;
        p = pp == 0 ? 1000 : pp == 92 ? 925 : pp * 10;
    } else {
        return -1;
    }
    const char* rest = group + 2;
    if (rest[0] == '/') {
        if (std::strspn(rest, "/") != std::strlen(rest)) return -1;
        *pres = static_cast<float>(p);
        return -1;
    }
    if (std::strlen(group) != 5 || !digits(rest, 3)) return -1;
    *pres = static_cast<float>(p);
    *hght = expand_height(p, number(rest, 3));
    return 0;
}

int decd_td(const char* group, float* temp, float* dewpt) {
    float dummy_t, dummy_d;
    if (!temp) temp = &dummy_t;
    if (!dewpt) dewpt = &dummy_d;
    *temp = *dewpt = UPA_MISS;
    if (!group || group[0] == 'X' || std::strlen(group) != 5 || !digits(group, 5)) return -1;
    const int ttt = number(group, 3);
    if (ttt == 999) return -1;
    float t = ttt / 10.0f;
    if (ttt % 2) t = -t;
    *temp = t;
    const int dd = number(group + 3, 2);
    if (dd == 99) return 0;
    *dewpt = dd <= 50 ? t - dd / 10.0f : t - (dd - 50);
    return 0;
}

int decd_wd(const char* group, float* dir, float* spd) {
    float dummy_d, dummy_s;
    if (!dir) dir = &dummy_d;
    if (!spd) spd = &dummy_s;
    *dir = *spd = UPA_MISS;
    if (!group || group[0] == 'X' || std::strlen(group) != 5 || !digits(group, 5)) return -1;
    const int ddd = number(group, 3);
    if (ddd == 999) return 0;
    const int speed = (ddd % 5) * 100 + number(group + 3, 2);
    const int direction = ddd - ddd % 5;
    if (speed > 250 || direction > 360) return 0;
    *dir = static_cast<float>(direction);
    *spd = static_cast<float>(speed);
    return 0;
}

int encd_ph(float pres, float hght) {
    UpaState& st = upa_state();
    if (!codable(pres) || pres < 0.0f) return write_missing();
    const int ip = static_cast<int>(pres);
    char pp[4];
    if (pres < 10.0f)
        str_format(pp, sizeof pp, "-%d", ip);
    else
        str_format(pp, sizeof pp, "%2.2d", (ip % 1000) / 10);
    if (!codable(hght)) {
        str_format(st.encd, sizeof st.encd, "%s/", pp);
        return 0;
    }
    if (hght < 0.0f) hght = 500.0f - hght;
    const int ih = static_cast<int>(hght);
    const int hhh = pres <= 500.0f ? (ih % 10000) / 10 : ih % 1000;
    str_format(st.encd, sizeof st.encd, "%s%3.3d", pp, hhh);
    return 0;
}

int encd_td(float temp, float dewpt) {
    UpaState& st = upa_state();
    // Three digits hold 99.8 C at most; beyond that the group could not be read back.
    if (!upa_known(temp) || temp < -99.8f || temp > 99.8f) return write_missing();
    const int t10 = static_cast<int>(10.0f * (temp + 0.01f));
    const int even = t10 - t10 % 2;
    const int ttt = temp < 0.0f ? 1 - even : even;
    int dd = 99;
    if (codable(dewpt)) {
        dd = static_cast<int>(10.0f * (temp - dewpt + 0.01f));
        if (dd < 0) dd = 0;
        if (dd >= 60)
            dd = dd / 10 + 50;
        else if (dd >= 50)
            dd = 50;
        dd = std::min(dd, 98);  // 99 would read back as a missing dew point
    }
    str_format(st.encd, sizeof st.encd, "%3.3d%2.2d", ttt, dd);
    return 0;
}

int encd_wd(float dir, float spd) {
    UpaState& st = upa_state();
    // Speeds of 500 kt and more would spill into the direction digits.
    if (!codable(dir) || !codable(spd) || dir < 0.0f || spd < 0.0f || dir >= 362.5f || spd >= 499.5f)
        return write_missing();
    const int s = static_cast<int>(spd + 0.01f);
    const int ddd = (static_cast<int>(dir + 2.5f) / 5) * 5 + s / 100;
    str_format(st.encd, sizeof st.encd, "%3.3d%2.2d", ddd, s % 100);
    return 0;
}

// Pressure of a significant level as written: "012" (leading zero) is 1012 mb.
float upa_sig_pres(const char* tok) {
    if (!tok || !*tok) return UPA_MISS;
    char* end = nullptr;
    const double v = std::strtod(tok, &end);
    if (end == tok || *end != '\0' || !(v >= 0.0) || v > 2000.0) return UPA_MISS;
    const std::size_t len = std::strlen(tok);
    if (tok[0] == '0' && len == 3 && digits(tok, 3) && v < 100.0) return static_cast<float>(v + 1000.0);
    return v > 0.0 ? static_cast<float>(v) : UPA_MISS;
}

// ---- Coded text layout -----------------------------------------------------------------------

int upa_coded_skip(UpaState& st) {
    const CodedLayout lay = layout(st.type);
    for (int i = 0; i < lay.lines; ++i) {
        int c, n = 0;
        while ((c = std::fgetc(st.fp)) != EOF && c != '\n') ++n;
        if (c == EOF && (i == 0 || n == 0)) return -1;
        if (i == 0 && n == 0) return -1;  // an empty line ends the stations
    }
    return 0;
}

int upa_coded_read(UpaState& st, UPA_report* report) {
    const CodedLayout lay = layout(st.type);
    std::vector<std::string> tok;
    for (int i = 0; i < lay.lines; ++i) {
        std::string line;
        int c;
        bool any = false;
        while ((c = std::fgetc(st.fp)) != EOF && c != '\n') {
            any = true;
            if (line.size() < 1024) line.push_back(static_cast<char>(c));
        }
        if (!any && c == EOF && i == 0) return -1;
        std::size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && static_cast<unsigned char>(line[pos]) <= ' ') ++pos;
            const std::size_t start = pos;
            while (pos < line.size() && static_cast<unsigned char>(line[pos]) > ' ') ++pos;
            if (pos > start) tok.emplace_back(line, start, std::min<std::size_t>(pos - start, 32));
        }
        if (i == 0 && tok.empty()) return -1;
        if (c == EOF) break;
    }
    auto at = [&tok](std::size_t i) { return i < tok.size() ? tok[i].c_str() : ""; };

    str_copy(report->id, sizeof report->id, at(0));
    std::size_t pos = 1;
    for (int k = 0; k < lay.num_levels; ++k) {
        UPA_man& m = report->man[lay.levels[k]];
        decd_ph(at(pos), &m.p, &m.h);
        decd_td(at(pos + 1), &m.t, &m.td);
        decd_wd(at(pos + 2), &m.dir, &m.spd);
        pos += 3;
    }
    report->numman = lay.levels[lay.num_levels - 1] + 1;

    const char* count_tok = at(pos++);
    int count = 0;
    if (std::strlen(count_tok) <= 2 && digits(count_tok, static_cast<int>(std::strlen(count_tok))))
        count = std::min(std::atoi(count_tok), lay.max_sig);
    for (int k = 0; k < lay.max_sig; ++k, pos += 2) {
        if (k >= count) continue;
        const float p = upa_sig_pres(at(pos));
        if (!upa_known(p)) continue;
        UPA_sig& s = report->sig[report->numsig];
        s.p = p;
        decd_td(at(pos + 1), &s.t, &s.td);
        ++report->numsig;
    }
    for (int k = 0; k < lay.num_slots; ++k, ++pos) {
        float dir, spd;
        decd_wd(at(pos), &dir, &spd);
        if (!upa_known(dir) || !upa_known(spd)) continue;
        report->wnd[report->numwnd++] = {static_cast<float>(lay.slots[k]), dir, spd};
    }
    upa_fill_surface(report);
    return 0;
}

int upa_coded_write(UpaState& st, const UPA_report* report) {
    const CodedLayout lay = layout(st.type);
    std::string out = report->id[0] ? report->id : "-";
    std::replace(out.begin(), out.end(), ' ', '_');
    out += ' ';
    for (int k = 0; k < lay.num_levels; ++k) {
        const UPA_man& m = report->man[lay.levels[k]];
        encd_ph(m.p, m.h);
        out += st.encd;
        out += ' ';
        encd_td(m.t, m.td);
        out += st.encd;
        out += ' ';
        encd_wd(m.dir, m.spd);
        out += st.encd;
        out += (k == 3 || k == 7) ? '\n' : ' ';
    }

    std::vector<UPA_sig> sig = upa_sig_for_write(report, lay.min_sig_pres);
    // Three digits hold 1099 mb at most.
    sig.erase(std::remove_if(sig.begin(), sig.end(), [](const UPA_sig& s) { return s.p >= 1100.0f; }),
              sig.end());
    const int n = std::min(static_cast<int>(sig.size()), lay.max_sig);
    char buf[32];
    str_format(buf, sizeof buf, "%2d ", n);
    out += buf;
    for (int k = 0; k < lay.max_sig; ++k) {
        if (k > 0) out += (k % 7 == 0) ? '\n' : ' ';
        if (k < n) {
            encd_td(sig[k].t, sig[k].td);
            str_format(buf, sizeof buf, "%3.3d %s", static_cast<int>(sig[k].p) % 1000, st.encd);
            out += buf;
        } else {
            out += "000 00000";
        }
    }
    out += '\n';

    std::vector<std::string> slot(lay.num_slots, "99999");
    std::vector<bool> used(lay.num_slots, false);
    auto put = [&](int k, float dir, float spd) {
        if (k < 0 || k >= lay.num_slots || used[k]) return;
        encd_wd(dir, spd);
        slot[k] = st.encd;
        used[k] = true;
    };
    const int nw = std::min(std::max(report->numwnd, 0), UPA_WND_LEVELS);
    if (nw == 0) put(0, report->man[0].dir, report->man[0].spd);
    for (int i = 0; i < nw; ++i) {
        const UPA_wnd& w = report->wnd[i];
        if (!codable(w.h) || w.h < 0.0f) continue;
        if (w.h < 10000.0f) {
            put(static_cast<int>(w.h) / 1000, w.dir, w.spd);
            continue;
        }
        for (int k = 0; k < lay.num_slots; ++k)
            if (static_cast<float>(lay.slots[k]) == w.h) put(k, w.dir, w.spd);
    }
    for (int k = 0; k < lay.num_slots; ++k) {
        out += slot[k];
        const bool end = k == 10 || k == 20 || (st.type == UPA_CODED_SHORT && k == 15);
        out += end ? '\n' : ' ';
    }
    if (out.back() != '\n') out.back() = '\n';
    return std::fputs(out.c_str(), st.fp) < 0 ? -1 : 0;
}
