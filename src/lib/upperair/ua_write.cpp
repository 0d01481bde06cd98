// Write-only upper-air layouts: the XML document (type 51) and the binary station record
// (type 41) that older display programs read.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "date.hpp"
#include "string.hpp"
#include "tools.hpp"
#include "ua_internal.hpp"

namespace {

// Text safe inside an XML attribute value.
std::string xml_escape(const char* s) {
    std::string out;
    for (; *s; ++s) {
        switch (*s) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (static_cast<unsigned char>(*s) >= ' ') out += *s;
        }
    }
    return out;
}

// Appends name="value" for a known value.
void attr(std::string& line, const char* name, const char* fmt, float v) {
    if (!upa_known(v)) return;
    char buf[48];
    str_format(buf, sizeof buf, fmt, v);
    line += ' ';
    line += name;
    line += "=\"";
    line += buf;
    line += '"';
}

void level_element(std::string& out, const char* type, const UPA_man& m, bool temps) {
    std::string line = "    <level";
    if (type) {
        line += " type=\"";
        line += type;
        line += '"';
    }
    const bool fine = type && upa_known(m.p) && m.p < 100.0f;
    attr(line, "pres.mb", fine ? "%.1f" : "%.0f", m.p);
    attr(line, "hght.m", "%.0f", m.h);
    if (temps) {
        attr(line, "temp.C", "%.1f", m.t);
        attr(line, "dewp.C", "%.1f", m.td);
    }
    attr(line, "wdir.deg", "%.0f", m.dir);
    attr(line, "wspd.knt", "%.0f", m.spd);
    out += line + "/>\n";
}

// A 16-bit field of the binary record; missing or unrepresentable values are 9999.
std::int16_t field(float v, float scale = 1.0f, bool round = false) {
    if (!upa_known(v)) return 9999;
    const double x = round ? std::lround(static_cast<double>(v) * scale) : static_cast<double>(v) * scale;
    if (!(x > -32768.0 && x < 32768.0)) return 9999;
    return static_cast<std::int16_t>(x);
}
std::int16_t position(float v) {
    if (!upa_known(v)) return 9999;
    const double x = 100.0 * v + 0.1;
    if (!(x > -32768.0 && x < 32768.0)) return 9999;
    return static_cast<std::int16_t>(x);
}

}  // namespace

int upa_xml_header(UpaState& st, const UPA_info* info) {
    return std::fprintf(st.fp, "<qazupa date=\"%s\">\n", xml_escape(info->datim).c_str()) < 0 ? -1 : 0;
}

int upa_xml_write(UpaState& st, const UPA_report* r) {
    std::string out = "<obs";
    char buf[48];
    if (r->wmo != -9999) {
        str_format(buf, sizeof buf, " wmo=\"%5.5d\"", r->wmo);
        out += buf;
    }
    out += " id=\"" + xml_escape(r->id) + "\"";
    if (upa_known(r->lat)) {
        attr(out, "lat", "%.2f", r->lat);
        attr(out, "lon", "%.2f", r->lon);
    }
    out += ">\n  <mand_level>\n";
    level_element(out, "sfc", r->man[0], true);
    for (int i = 1; i <= 21; ++i)
        if (upa_known(r->man[i].p)) level_element(out, nullptr, r->man[i], true);
    if (upa_known(r->man[22].p)) level_element(out, "trop", r->man[22], true);
    if (upa_known(r->man[23].p)) level_element(out, "mwnd", r->man[23], false);
    out += "  </mand_level>\n  <sig_level>\n";
    const int nsig = std::min(std::max(r->numsig, 0), UPA_SIG_LEVELS);
    auto sig_element = [&out](float p, float t, float td) {
        std::string line = "    <level";
        attr(line, "pres.mb", upa_known(p) && p < 100.0f ? "%.1f" : "%.0f", p);
        attr(line, "temp.C", "%.1f", t);
        attr(line, "dewp.C", "%.1f", td);
        out += line + "/>\n";
    };
    if (nsig == 0) sig_element(r->man[0].p, r->man[0].t, r->man[0].td);
    for (int i = 0; i < nsig; ++i) sig_element(r->sig[i].p, r->sig[i].t, r->sig[i].td);
    out += "  </sig_level>\n  <wnd_level>\n";
    const int nwnd = std::min(std::max(r->numwnd, 0), UPA_WND_LEVELS);
    auto wnd_element = [&out](float h, float dir, float spd) {
        std::string line = "    <level";
        attr(line, "hght.m", "%.0f", h);
        attr(line, "wdir.deg", "%.0f", dir);
        attr(line, "wspd.knt", "%.0f", spd);
        out += line + "/>\n";
    };
    if (nwnd == 0) wnd_element(0.0f, r->man[0].dir, r->man[0].spd);
    for (int i = 0; i < nwnd; ++i) wnd_element(r->wnd[i].h, r->wnd[i].dir, r->wnd[i].spd);
    out += "  </wnd_level>\n</obs>\n";
    return std::fputs(out.c_str(), st.fp) < 0 ? -1 : 0;
}

int upa_bin_header(UpaState& st, const UPA_info* info) {
    const Date& d = info->date;
    char header[64];
    str_format(header, sizeof header, "%2.2d:%2.2dZ XXX %3s %2d %4d", d.hour < 0 ? 0 : d.hour,
               d.min < 0 ? 0 : d.min, DATE_month(d.month), d.day, d.year);
    if (std::fputs(header, st.fp) < 0) return -1;
    swap_setup(1);  // the record's 16-bit values are big-endian
    return 0;
}

int upa_bin_write(UpaState& st, const UPA_report* r) {
    char id[5] = {0};
    if (std::isalpha(static_cast<unsigned char>(r->id[0])))
        for (int i = 0; i < 5 && r->id[i]; ++i) id[i] = r->id[i];
    char wmo[8] = {0};
    if (r->wmo >= 0 && r->wmo <= 99999)
        str_format(wmo, sizeof wmo, "%5.5d", r->wmo);
    else
        str_copy(wmo, sizeof wmo, "99999");
    if (std::fwrite(id, 1, 5, st.fp) != 5 || std::fwrite(wmo, 1, 7, st.fp) != 7) return -1;

    const UPA_man& m850 = r->man[3];
    const UPA_man& m700 = r->man[4];
    const UPA_man& m500 = r->man[5];
    auto depression = [](const UPA_man& m) {
        return upa_known(m.t) && upa_known(m.td) ? field(m.t - m.td, 1.0f, true) : std::int16_t{9999};
    };
    auto tenth_dir = [](const UPA_man& m) {
        return upa_known(m.dir) ? field(m.dir / 10.0f) : std::int16_t{9999};
    };
    const std::int16_t thickness = upa_known(m500.h) && upa_known(r->man[1].h)
                                       ? field(m500.h - r->man[1].h)
                                       : std::int16_t{9999};
    const std::int16_t values[33] = {
        position(r->lat), position(r->lon),
        field(m850.t, 1.0f, true), 0, field(m700.t, 1.0f, true), field(m500.t, 1.0f, true), 0,
        field(m850.h), field(m700.h), field(m500.h), 0, 0, 0, 0, 0,
        tenth_dir(m850), tenth_dir(m700), tenth_dir(m500), 0,
        field(m850.spd), field(m700.spd), field(m500.spd), 0,
        depression(m850), depression(m700), depression(m500),
        field(r->man[22].h), thickness, r->time > -9999 && r->time < 32768 ? static_cast<std::int16_t>(r->time) : std::int16_t{9999},
        0, 0, 0, 0,
    };
    for (std::int16_t v : values)
        if (fwrite_short_swap(&v, st.fp) != 1) return -1;
    return 0;
}
