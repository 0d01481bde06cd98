// Upper-air files: the one open file, type detection, headers, station positioning and the
// dispatch to the layouts (coded text, "QAZUPA" text, netCDF, XML, binary).
#include "ua_read.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "files.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

UpaState g_state;

bool is_text_type(int t) { return (t >= UPA_CODED_SHORT && t <= UPA_TEXT_X); }
bool is_qazupa_type(int t) { return t >= UPA_TEXT && t <= UPA_TEXT_X; }
bool is_netcdf_type(int t) { return t == UPA_NETCDF_STATION || t == UPA_NETCDF_REPORT; }
bool is_whole_file_type(int t) { return t >= UPA_BUFR && t <= UPA_TABLE; }

// The first bytes of a file, for detection.
std::string file_head(const char* filename) {
    std::string head;
    std::FILE* fp = FILE_open(filename, "rb");
    if (!fp) return head;
    head.resize(8192);
    head.resize(std::fread(head.data(), 1, head.size(), fp));
    FILE_close(fp);
    return head;
}

int whole_file_type(const char* filename) {
    const std::string head = file_head(filename);
    if (head.empty()) return -1;
    if (upa_is_bufr(head)) return UPA_BUFR;
    if (upa_is_igra(head)) return UPA_IGRA;
    if (upa_is_temp(head)) return UPA_TEMP;
    if (upa_is_table(head)) return UPA_TABLE;
    return -1;
}

std::unique_ptr<UpaSoundings> load_whole_file(int type, const char* filename) {
    switch (type) {
        case UPA_BUFR: return upa_bufr_load(filename);
        case UPA_TEMP: return upa_temp_load(filename);
        case UPA_IGRA: return upa_igra_load(filename);
        case UPA_TABLE: return upa_table_load(filename);
        default: return nullptr;
    }
}

// Header of a whole-file type: the time of its first sounding.
int whole_file_info(UpaState& st, UPA_info* info) {
    UPA_report first;
    UPA_initialize(&first);
    info->datim[0] = '\0';
    DATE_init(&info->date);
    if (!st.soundings || st.soundings->read(0, &first) < 0 || first.time < 0) return 1;
    const std::int64_t secs = first.time;
    Date d;
    DATE_get_gmdate(&secs, &d);
    static const char* const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    str_format(info->datim, sizeof info->datim, "%2.2dZ %2d %s %2.2d", d.hour, d.day,
               months[(d.month + 11) % 12], d.year % 100);
    info->date = d;
    str_format(info->file, sizeof info->file, "%2.2d%2.2d%2.2d%2.2d", d.year % 100, d.month, d.day, d.hour);
    return 1;
}

bool rep_type_known(int rep_type) {
    return (rep_type >= 0 && rep_type <= 16) || rep_type == UPA_REP_TROP ||
           rep_type == UPA_REP_MAXWIND || (rep_type >= UPA_REP_ALL && rep_type <= UPA_REP_LOCATION);
}

// Reads one line (without its newline) keeping at most size-1 characters. -1 at end of file.
int read_line(std::FILE* fp, char* buf, std::size_t size) {
    std::size_t n = 0;
    int c = std::fgetc(fp);
    if (c == EOF) {
        if (size) buf[0] = '\0';
        return -1;
    }
    while (c != EOF && c != '\n') {
        if (n + 1 < size) buf[n++] = static_cast<char>(c);
        c = std::fgetc(fp);
    }
    if (size) buf[n] = '\0';
    return static_cast<int>(n);
}

int skip_lines(std::FILE* fp, int n) {
    for (int i = 0; i < n; ++i) {
        int c;
        do c = std::fgetc(fp);
        while (c != EOF && c != '\n');
        if (c == EOF) return -1;
    }
    return 0;
}

void reset_position(UpaState& st) {
    st.stat_num = 0;
    st.last_stat = -1;
    st.last_pos = -1;
    st.lost = false;
    st.has_pending = false;
    st.pending.clear();
}

// Rewinds a text file and skips its header lines.
int text_rewind(UpaState& st) {
    if (!st.fp || std::fseek(st.fp, 0L, SEEK_SET) != 0) return -1;
    reset_position(st);
    return skip_lines(st.fp, is_qazupa_type(st.type) ? 2 : 1) < 0 ? -1 : 0;
}

int skip_record(UpaState& st) {
    return st.type <= UPA_CODED_LONG ? upa_coded_skip(st) : upa_text_skip(st);
}

// Places the stream at the start of station n.
int position_text(UpaState& st, int n) {
    if (n < 0 || !st.fp) return -1;
    if (!st.lost && n == st.last_stat && st.last_pos >= 0) {
        if (std::fseek(st.fp, st.last_pos, SEEK_SET) != 0) return -1;
        st.has_pending = false;
        st.stat_num = n;
        return 0;
    }
    if (st.lost || n < st.stat_num) {
        if (text_rewind(st) < 0) return -1;
    }
    while (st.stat_num < n) {
        if (skip_record(st) < 0) {
            st.lost = true;
            return -1;
        }
        ++st.stat_num;
    }
    st.last_pos = std::ftell(st.fp);
    st.last_stat = st.last_pos >= 0 ? n : -1;
    return 0;
}

void copy_station(const UPA_report& from, UPA_report* to) {
    str_copy(to->id, sizeof to->id, from.id);
    str_copy(to->area, sizeof to->area, from.area);
    to->wmo = from.wmo;
    to->lat = from.lat;
    to->lon = from.lon;
    to->elev = from.elev;
    to->time = from.time;
    to->type = from.type;
}

}  // namespace

UpaState& upa_state() { return g_state; }

// ---- Shared helpers of the layouts -------------------------------------------------------

std::vector<UPA_sig> upa_sig_for_write(const UPA_report* report, float min_pres) {
    std::vector<UPA_sig> out;
    const int n = std::min(std::max(report->numsig, 0), UPA_SIG_LEVELS);
    for (int i = 0; i < n; ++i) {
        const UPA_sig& s = report->sig[i];
        if (!upa_known(s.p) || s.p <= 0.0f || s.p < min_pres) continue;
        if (!out.empty()) {
            const int m = UPA_mandatory(s.p);
            if (m > 0 && upa_known(report->man[m].h)) continue;
        }
        out.push_back(s);
    }
    if (out.empty() && upa_known(report->man[0].p) && report->man[0].p > 0.0f)
        out.push_back({report->man[0].p, report->man[0].t, report->man[0].td});
    return out;
}

void upa_fill_surface(UPA_report* report) {
    if (report->numsig > 0) {
        const UPA_sig& s = report->sig[0];
        if (s.p > 500.0f) {
            report->man[0].p = s.p;
            report->man[0].t = s.t;
            report->man[0].td = s.td;
        }
    } else if (!upa_known(report->man[1].t)) {
        report->man[0].p = report->man[1].p;
    } else if (!upa_known(report->man[2].t)) {
        report->man[0].p = report->man[2].p;
    }
    if (report->numwnd > 0 && report->wnd[0].h == 0.0f) {
        report->man[0].dir = report->wnd[0].dir;
        report->man[0].spd = report->wnd[0].spd;
    }
}

int upa_next_token(UpaState& st, char* buf, std::size_t size) {
    if (st.has_pending) {
        st.has_pending = false;
        str_copy(buf, size, st.pending.c_str());
        return 0;
    }
    int c = std::fgetc(st.fp);
    while (c != EOF && static_cast<unsigned char>(c) <= ' ') c = std::fgetc(st.fp);
    if (c == EOF) {
        if (size) buf[0] = '\0';
        return -1;
    }
    std::size_t n = 0;
    while (c != EOF && static_cast<unsigned char>(c) > ' ') {
        if (n + 1 < size) buf[n++] = static_cast<char>(c);
        c = std::fgetc(st.fp);
    }
    if (size) buf[n] = '\0';
    return 0;
}

void upa_unget_token(UpaState& st, const char* tok) {
    st.pending = tok;
    st.has_pending = true;
}

// ---- Public operations --------------------------------------------------------------------

int UPA_chktype(const char* filename) {
    if (!filename || !*filename) return -1;
    std::FILE* fp = FILE_open(filename, "r");
    if (!fp) return -1;
    char line1[400], line3[400];
    const int n1 = read_line(fp, line1, sizeof line1);
    const bool have3 = n1 >= 0 && skip_lines(fp, 1) == 0 && read_line(fp, line3, sizeof line3) >= 0;
    FILE_close(fp);
    if (n1 <= 0) return -1;

    char word[10];
    std::size_t w = 0;
    for (const char* p = line1; *p && !std::isspace(static_cast<unsigned char>(*p)) && w < 9; ++p)
        word[w++] = *p;
    word[w] = '\0';

    const int whole = whole_file_type(filename);
    if (whole > 0) return whole;
    const char first = line1[0];
    if (first == 'Q') {
        if (w == 7 && word[6] == '+') return UPA_TEXT_PLUS;
        if (w == 7 && word[6] == 'x') return UPA_TEXT_X;
        return UPA_TEXT;
    }
    if (first == ' ' || first == '0' || first == '1' || first == '2') {
        if (!have3) return -1;
        int num = 0, digits = 0;
        const char* p = line3;
        while (*p == ' ' && digits == 0 && p < line3 + 2) ++p;
        for (; p < line3 + 2 && std::isdigit(static_cast<unsigned char>(*p)); ++p, ++digits)
            num = num * 10 + (*p - '0');
        if (digits == 0) return -1;
        return num < 22 ? UPA_CODED_SHORT : UPA_CODED_LONG;
    }
    if (first == 'C' || (static_cast<unsigned char>(first) == 0x89 && std::strncmp(line1 + 1, "HDF", 3) == 0))
        return upa_nc_chktype(filename);
    return -1;
}

int UPA_open(const char* filename, int f_access, int* f_type) {
    if (!filename || !f_type || (f_access != 0 && f_access != 1)) return -1;
    UpaState& st = g_state;
    if (st.type != 0) UPA_close(-1);
    int type = *f_type;
    if (type == 0) {
        if (f_access != 0) return -1;
        type = UPA_chktype(filename);
        if (type < 0) return -1;
        *f_type = type;
    }
    reset_position(st);
    st.access = f_access;
    if (is_whole_file_type(type)) {
        if (f_access != 0) return -1;  // read only
        st.soundings = load_whole_file(type, filename);
        if (!st.soundings) return -1;
        st.type = type;
        return 0;
    }
    if (is_netcdf_type(type)) {
        st.type = type;
        const int id = upa_nc_open(st, filename, f_access);
        if (id < 0) st.type = 0;
        return id;
    }
    const bool text = is_text_type(type) || type == UPA_XML;
    if (!text && type != UPA_BINARY) return -1;
    if (f_access == 0 && !is_text_type(type)) return -1;  // write-only layouts
    const char* mode = text ? (f_access ? "w" : "r") : (f_access ? "wb" : "rb");
    std::FILE* fp = FILE_open(filename, mode);
    if (!fp) return -1;
    st.fp = fp;
    st.type = type;
    // Readers may go straight to the stations without reading the header.
    if (f_access == 0) text_rewind(st);
    return fileno(fp);
}

int UPA_close(int) {
    UpaState& st = g_state;
    if (st.type == 0) return -1;
    int rc = 0;
    if (is_netcdf_type(st.type)) {
        rc = upa_nc_close(st);
    } else if (st.fp) {
        if (st.type == UPA_XML && st.access == 1) std::fputs("</qazupa>\n", st.fp);
        if (FILE_close(st.fp) != 0) rc = -1;
    }
    st.fp = nullptr;
    st.type = 0;
    st.soundings.reset();
    reset_position(st);
    return rc;
}

int UPA_getinfo(int, UPA_info* info) {
    UpaState& st = g_state;
    if (st.type == 0 || !info) return -1;
    if (is_netcdf_type(st.type)) return upa_nc_getinfo(st, info);
    if (is_whole_file_type(st.type)) return whole_file_info(st, info);
    if (!is_text_type(st.type) || st.access != 0) return 1;
    if (std::fseek(st.fp, 0L, SEEK_SET) != 0) return -1;
    reset_position(st);
    if (is_qazupa_type(st.type) && skip_lines(st.fp, 1) < 0) return -1;
    char line[400];
    if (read_line(st.fp, line, sizeof line) < 0) return -1;
    char* p = line;
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    wstrim_string(p);
    trim_string(p);
    str_copy(info->datim, sizeof info->datim, p);
    DATE_decode_label(info->datim, &info->date);
    return 0;
}

int UPA_putinfo(int, UPA_info* info) {
    UpaState& st = g_state;
    if (st.type == 0 || st.access != 1 || !info) return -1;
    switch (st.type) {
        case UPA_CODED_SHORT:
        case UPA_CODED_LONG: std::fprintf(st.fp, "%s\n", info->datim); return 0;
        case UPA_TEXT: std::fprintf(st.fp, "QAZUPA\n%s\n", info->datim); return 0;
        case UPA_TEXT_PLUS: std::fprintf(st.fp, "QAZUPA+\n%s\n", info->datim); return 0;
        case UPA_TEXT_X: std::fprintf(st.fp, "QAZUPAx\n%s\n", info->datim); return 0;
        case UPA_XML: return upa_xml_header(st, info);
        case UPA_BINARY: return upa_bin_header(st, info);
        case UPA_NETCDF_STATION:
        case UPA_NETCDF_REPORT: return upa_nc_putinfo(st, info);
        default: return -1;
    }
}

int UPA_rewind(int) {
    UpaState& st = g_state;
    if (is_netcdf_type(st.type) || is_whole_file_type(st.type)) {
        reset_position(st);
        return 0;
    }
    if (!is_text_type(st.type) || st.access != 0) return -1;
    return text_rewind(st);
}

int UPA_read(int, UPA_report* report, int rep_type, int* statnum) {
    UpaState& st = g_state;
    if (!report || !statnum || st.access != 0 || !rep_type_known(rep_type)) return -1;
    UPA_initialize(report);
    if (is_netcdf_type(st.type)) return upa_nc_read(st, report, rep_type, *statnum);
    UPA_report full;
    UPA_initialize(&full);
    if (is_whole_file_type(st.type)) {
        if (!st.soundings || st.soundings->read(*statnum, &full) < 0) return -1;
    } else {
        if (!is_text_type(st.type)) return -1;
        if (position_text(st, *statnum) < 0) return -1;
        const int rc = st.type <= UPA_CODED_LONG ? upa_coded_read(st, &full) : upa_text_read(st, &full);
        if (rc < 0) {
            st.lost = true;
            st.last_stat = -1;
            return -1;
        }
    }
    st.stat_num = *statnum + 1;

    switch (rep_type) {
        case UPA_REP_ALL: *report = full; break;
        case UPA_REP_ID: str_copy(report->id, sizeof report->id, full.id); break;
        case UPA_REP_LOCATION:
            str_copy(report->id, sizeof report->id, full.id);
            report->wmo = full.wmo;
            report->lat = full.lat;
            report->lon = full.lon;
            break;
        default:  // one level into man[0]
            copy_station(full, report);
            report->man[0] = full.man[rep_type];
            report->numman = 1;
            break;
    }
    return 0;
}

int UPA_write(int, UPA_report* report, int, int* statnum) {
    UpaState& st = g_state;
    if (!report || st.type == 0 || st.access != 1) return -1;
    int rc;
    switch (st.type) {
        case UPA_CODED_SHORT:
        case UPA_CODED_LONG: rc = upa_coded_write(st, report); break;
        case UPA_TEXT:
        case UPA_TEXT_PLUS:
        case UPA_TEXT_X: rc = upa_text_write(st, report); break;
        case UPA_XML: rc = upa_xml_write(st, report); break;
        case UPA_BINARY: return upa_bin_write(st, report);
        case UPA_NETCDF_STATION:
        case UPA_NETCDF_REPORT: return statnum ? upa_nc_write(st, report, *statnum) : -1;
        default: return -1;
    }
    if (rc == 0 && statnum) ++*statnum;
    return rc;
}
