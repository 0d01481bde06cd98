// Raw point-data text files: header with optional field declaration, line positioning,
// value selection by column, field name or name=value token, and the line writer.
#include "raw_read.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "scanp.hpp"
#include "string.hpp"

namespace {

constexpr float kMiss = -9999.0f;
bool known(float v) { return v > -9998.0f; }

struct RawFile {
    bool used = false;
    std::FILE* file = nullptr;
    bool std_stream = false;
    int type = 0;
    int access = 0;
    int num = -1;        // index of the line held in `line`, -1 none
    int ind = 0;         // next value column while iterating
    int cur_field = 0;
    int num_field = 0;
    int field_off = 1;
    int write_off = 3;   // location columns the writer puts on a line (as its header declares)
    char field[RAW_MAX_FIELDS][20] = {};
    char field_info[RAW_MAX_FIELDS][60] = {};
    char field_fmt[RAW_MAX_FIELDS][40] = {};
    int field_ind[RAW_MAX_FIELDS] = {};
    int num_cols = 0;    // value columns found on the current line
    bool header_read = false;
    std::string line;
    RAW_report loc;      // identifier and position of the current line
};

RawFile g_files[RAW_MAX_FILES];
Date g_date;

RawFile* slot(int fd) {
    if (fd < 0 || fd >= RAW_MAX_FILES || !g_files[fd].used) return nullptr;
    return &g_files[fd];
}

// Reads one line: at most `keep` characters kept, a final carriage return dropped. -1 at end
// of file. *ended: the line had its line end (a last line without one was cut off);
// *cut: characters beyond `keep` were dropped.
int read_line(std::FILE* fp, std::string& out, std::size_t keep = RAW_LINE_MAX, bool* ended = nullptr,
              bool* cut = nullptr) {
    out.clear();
    if (ended) *ended = false;
    if (cut) *cut = false;
    int c = std::fgetc(fp);
    if (c == EOF) return -1;
    while (c != EOF && c != '\n') {
        if (out.size() < keep) out.push_back(static_cast<char>(c));
        else if (cut) *cut = true;
        c = std::fgetc(fp);
    }
    if (ended) *ended = c == '\n';
    if (!out.empty() && out.back() == '\r') out.pop_back();
    if (out.find('\0') != std::string::npos) out.resize(out.find('\0'));
    return static_cast<int>(out.size());
}

// Declaration lines are read whole up to what the scanner holds; a longer one is told.
constexpr std::size_t kDeclarationLineMax = 4095;

void clear_report(RAW_report* r) {
    r->type = -9999;
    r->value[0] = r->value[1] = kMiss;
    r->data[0] = '\0';
    r->format[0] = '\0';
}

void set_field_off(RawFile& f) {
    auto is = [&f](int i, const char* a, const char* b) {
        return stricmp(f.field[i], a) == 0 || (b && stricmp(f.field[i], b) == 0);
    };
    if (f.num_field >= 4 && is(1, "lat", "x"))
        f.field_off = 3;
    else if (f.num_field >= 3 && is(1, "p", "pres"))
        f.field_off = 2;
    else
        f.field_off = 1;
}

// Reads declaration tokens until one beginning with "$".
void read_declaration(RawFile& f) {
    std::string line;
    f.num_field = 0;
    bool told_count = false;
    bool cut = false;
    while (read_line(f.file, line, kDeclarationLineMax, nullptr, &cut) >= 0) {
        if (cut)
            MESS_print(M_warn, "RAW_getinfo: a field declaration line is longer than %d characters: fields after it are lost\n",
                       static_cast<int>(kDeclarationLineMax));
        scanp_set(line.c_str());
        char tok[RAW_LINE_MAX + 1];
        while (scanp("%<400s ", tok) == 1) {
            if (tok[0] == '$') {
                set_field_off(f);
                return;
            }
            if (f.num_field >= RAW_MAX_FIELDS) {
                if (!told_count)
                    MESS_print(M_warn, "RAW_getinfo: more than %d fields declared: %s and later ones are ignored\n",
                               RAW_MAX_FIELDS, tok);
                told_count = true;
                continue;
            }
            const int i = f.num_field++;
            // name:info:format; the format follows the last colon, so that a description
            // may hold colons.
            char* info = std::strchr(tok, ':');
            char* fmt = nullptr;
            if (info) {
                *info++ = '\0';
                fmt = std::strrchr(info, ':');
                if (fmt) *fmt++ = '\0';
                fill_string(info, '_', ' ');
            }
            str_copy(f.field[i], sizeof f.field[i], tok);
            str_copy(f.field_info[i], sizeof f.field_info[i], info ? info : "");
            str_copy(f.field_fmt[i], sizeof f.field_fmt[i], fmt ? fmt : "");
        }
    }
    set_field_off(f);
}

int skip_header(RawFile& f) {
    std::string line;
    for (int i = 0; i < 3; ++i)
        if (read_line(f.file, line) < 0) return -1;
    if (f.num_field > 0) {
        // Everything through the line holding the "$" token.
        while (read_line(f.file, line, kDeclarationLineMax) >= 0) {
            scanp_set(line.c_str());
            char tok[RAW_LINE_MAX + 1];
            bool end = false;
            while (scanp("%<400s ", tok) == 1)
                if (tok[0] == '$') end = true;
            if (end) break;
        }
    }
    return 0;
}

// Splits the loaded line into identifier, position and value columns.
void parse_line(RawFile& f) {
    RAW_report& loc = f.loc;
    loc.id[0] = '\0';
    loc.wmo = -9999;
    loc.lat = loc.lon = loc.elev = kMiss;
    scanp_set(f.line.c_str());
    scanp("%<29s ", loc.id);
    if (std::strlen(loc.id) > 4) {
        char* end = nullptr;
        const long w = std::strtol(loc.id, &end, 10);
        if (end != loc.id && *end == '\0' && w >= 0 && w < 100000000) loc.wmo = static_cast<int>(w);
    }
    const int after_id = scanp_off(-1);
    if (f.num_field == 0 || f.field_off == 3) {
        float lat = kMiss, lon = kMiss;
        int mid = 0;
        const int n = scanp("%!-!f %n%!-!f ", &lat, &mid, &lon);
        if (n == 2) {
            loc.lat = lat;
            loc.lon = lon;
        } else if (f.field_off == 3) {
            scanp_off(after_id);
            scanp("%*s %*s ");
        } else {
            scanp_off(after_id);
        }
    } else if (f.field_off == 2) {
        float p = kMiss;
        if (scanp("%f ", &p) == 1)
            loc.lat = p;
        else
            scanp("%*s ");
    }
    f.num_cols = 0;
    while (f.num_cols < RAW_MAX_FIELDS) {
        const int at = scanp_off(-1);
        if (scanp("%*s ") < 0 || scanp_off(-1) == at) break;
        f.field_ind[f.num_cols++] = at;
    }
    f.ind = 0;
}

// The text of value column col of the current line.
std::string column(const RawFile& f, int col) {
    if (col < 0 || col >= f.num_cols) return {};
    std::size_t b = static_cast<std::size_t>(f.field_ind[col]);
    std::size_t e = b;
    while (e < f.line.size() && !std::isspace(static_cast<unsigned char>(f.line[e]))) ++e;
    return f.line.substr(b, e - b);
}

// Loads line n of the data.
int position(int fd, RawFile& f, int n) {
    if (n < 0) return -1;
    if (n == f.num && f.num >= 0) return 0;
    if (!f.header_read && (f.type == 1 || f.type == 2) && f.num == -1) {
        RAW_info scratch{};
        if (RAW_getinfo(fd, &scratch) < 0) return -1;
    }
    if (n < f.num || f.num < -1) {
        if (RAW_rewind(fd) < 0) return -1;
    }
    bool ended = true, cut = false;
    while (f.num < n) {
        if (read_line(f.file, f.line, RAW_LINE_MAX, &ended, &cut) < 0) {
            f.num = -2;  // unknown position: rewind before the next read
            return -1;
        }
        ++f.num;
    }
    if (cut)
        MESS_print(M_warn, "RAW_read: data line %d is longer than %d characters: the rest is ignored\n", n + 1,
                   RAW_LINE_MAX);
    // A writer ends every line: a last line without its end was cut off, and its values
    // would pass for a whole station.
    if (!ended && f.line.find_first_not_of(" \t") != std::string::npos) {
        MESS_print(M_warn, "RAW_read: data line %d has no line end: the file is cut off there, the line is ignored\n",
                   n + 1);
        f.num = -2;
        return -1;
    }
    parse_line(f);
    return 0;
}

void format_number(std::string& out, const char* fmt, const char* fallback, float v, bool integer) {
    if (!known(v)) {
        out += '-';
        return;
    }
    char buf[64];
    const int kind = fmt && *fmt ? printf_number_kind(fmt) : 0;
    // An integer beyond the int range is written whole with "%.0f" (it reads back the same)
    // rather than as the nearest int.
    const bool fits_int = std::fabs(v) < 2.0e9f;
    if (kind == 1)
        str_format(buf, sizeof buf, fmt, static_cast<double>(v));
    else if ((kind == 2 || integer) && !fits_int)
        str_format(buf, sizeof buf, "%.0f", static_cast<double>(v));
    else if (kind == 2)
        str_format(buf, sizeof buf, fmt, static_cast<int>(std::lround(v)));
    else if (integer)
        str_format(buf, sizeof buf, "%d", static_cast<int>(std::lround(v)));
    else
        str_format(buf, sizeof buf, fallback, static_cast<double>(v));
    out += buf;
}

// Value kind of a variable-type name given in "plot_format".
int kind_of_name(const char* name) {
    static const struct {
        const char* name;
        int kind;
    } kinds[] = {{"text", 1}, {"string", 1}, {"id", 1}, {"number", 2}, {"float", 2}, {"real", 2},
                 {"int", 5},  {"integer", 5}, {"wind", 21}, {"pair", 21}, {"vector", 22}};
    for (const auto& k : kinds)
        if (stricmp(name, k.name) == 0) return k.kind;
    return -9999;
}

bool is_text_kind(int k) { return k == 1 || k == 3 || k == 4 || k == 31 || k == 36; }
bool is_pair_kind(int k) { return k == 21 || k == 22 || k == 33 || k == 34; }

}  // namespace

int RAW_chktype(const char* filename) {
    if (!filename) return -1;
    std::FILE* fp = FILE_open(filename, "r");
    if (!fp) return -1;
    const int c = std::fgetc(fp);
    FILE_close(fp);
    return c == 'Q' ? RAW_HEADER : RAW_PLAIN;
}

int RAW_open(const char* filename, int f_access, int* f_type) {
    if (!f_type || f_access < 0 || f_access > 2) return -1;
    if (!filename) filename = "";
    int fd = -1;
    for (int i = 0; i < RAW_MAX_FILES; ++i)
        if (!g_files[i].used) {
            fd = i;
            break;
        }
    if (fd < 0) {
        MESS_print(M_error, "RAW_open: Too many raw files open (%d)\n", RAW_MAX_FILES);
        return -1;
    }
    RawFile& f = g_files[fd];
    f = RawFile{};
    const bool is_std = FILE_is_stdio(filename);
    int type = *f_type;
    if (is_std) {
        type = stricmp(filename, "stdn") == 0 ? RAW_PLAIN : RAW_HEADER;
    } else if (type == 0) {
        if (f_access != 0) return -1;
        type = RAW_chktype(filename);
        if (type < 0) return -1;
    }
    if (type != 1 && type != 2 && type != RAW_PLAIN) return -1;
    if (f_access == 2 && !is_std) {
        const int existing = RAW_chktype(filename);
        if (existing < 1 || existing > 3) return -1;
    }
    const char* mode = f_access == 0 ? "r" : f_access == 1 ? "w" : "a";
    std::FILE* fp = FILE_open(filename, mode);
    if (!fp) return -1;
    f.used = true;
    f.file = fp;
    f.std_stream = is_std;
    f.type = type;
    f.access = f_access;
    f.num = -1;
    *f_type = type;
    return fd;
}

int RAW_getinfo(int raw_fd, RAW_info* info) {
    RawFile* f = slot(raw_fd);
    if (!f || !info || f->access != 0 || (f->type != 1 && f->type != 2)) return -1;
    std::string line;
    if (read_line(f->file, line) < 0 || read_line(f->file, line) < 0) return -1;
    str_copy(info->datim, sizeof info->datim, line.c_str());
    wstrim_string(info->datim);
    char* p = info->datim;
    while (*p == ' ') ++p;
    std::memmove(info->datim, p, std::strlen(p) + 1);
    DATE_decode_label(info->datim, &info->date);
    if (read_line(f->file, line) < 0) return -1;
    if (!line.empty() && line[0] == '!') {
        str_copy(info->info, sizeof info->info, line.c_str() + 1);
        read_declaration(*f);
    } else {
        str_copy(info->info, sizeof info->info, line.c_str());
        f->num_field = 0;
        f->field_off = 1;
    }
    f->num = -1;
    f->header_read = true;
    return 0;
}

namespace {

// A declaration token: blanks become underscores (the reader turns them back in the
// description), and a colon in a name, which would end it, too.
std::string declared(const char* text, bool name) {
    std::string out = text;
    std::replace(out.begin(), out.end(), ' ', '_');
    if (name && out.find(':') != std::string::npos) {
        MESS_print(M_warn, "RAW_putinfo: field name %s holds a colon: written with \"_\"\n", text);
        std::replace(out.begin(), out.end(), ':', '_');
    }
    return out;
}

}  // namespace

int RAW_putinfo(int raw_fd, RAW_info* info) {
    RawFile* f = slot(raw_fd);
    if (!f || !info || f->access == 0) return -1;
    g_date = info->date;
    if (f->num_field == 0) {
        f->write_off = 3;
        std::fprintf(f->file, "QAZRAW\n%s\n%s\n", info->datim, info->info);
        return 0;
    }
    // Location fields declared by the caller ("id", "id p", "id lat lon") are written as
    // declared, and the writer puts exactly those columns; without them the file declares
    // "id lat lon".
    const bool own_location = stricmp(f->field[0], "id") == 0;
    f->write_off = own_location ? f->field_off : 3;
    std::fprintf(f->file, "QAZRAW\n%s\n!%s\n", info->datim, info->info);
    if (own_location) {
        for (int i = 0; i < f->write_off; ++i) std::fprintf(f->file, i ? " %s" : "%s", declared(f->field[i], true).c_str());
        std::fputc('\n', f->file);
    } else {
        std::fputs("id lat lon\n", f->file);
    }
    for (int i = own_location ? f->write_off : 0; i < f->num_field; ++i) {
        if (!own_location &&
            (!stricmp(f->field[i], "id") || !stricmp(f->field[i], "lat") || !stricmp(f->field[i], "lon")))
            continue;
        std::string name = declared(f->field[i], true), text = declared(f->field_info[i], false),
                    fmt = declared(f->field_fmt[i], false);
        if (name.empty()) name.assign(1, '-');
        // The format follows the last colon: a description with a colon keeps an empty one.
        if (fmt.empty() && text.find(':') == std::string::npos && text.empty())
            std::fprintf(f->file, "%s\n", name.c_str());
        else if (fmt.empty() && text.find(':') == std::string::npos)
            std::fprintf(f->file, "%s:%s\n", name.c_str(), text.c_str());
        else
            std::fprintf(f->file, "%s:%s:%s\n", name.c_str(), text.c_str(), fmt.c_str());
    }
    std::fputs("$\n", f->file);
    return 0;
}

int RAW_putheader(int raw_fd, const char* header) {
    RawFile* f = slot(raw_fd);
    if (!f || f->access == 0 || !header) return -1;
    return std::fprintf(f->file, "%s $\n", header) < 0 ? -1 : 0;
}

int RAW_rewind(int raw_fd) {
    RawFile* f = slot(raw_fd);
    if (!f || f->std_stream || f->access != 0) return -1;
    if (std::fseek(f->file, 0L, SEEK_SET) != 0) return -1;
    f->num = -1;
    if (f->type == 1 || f->type == 2) {
        f->header_read = true;
        return skip_header(*f);
    }
    return 0;
}

int RAW_close(int raw_fd) {
    RawFile* f = slot(raw_fd);
    if (!f) return -1;
    // Buffered lines reach the file only here: a full disc or a closed pipe shows now.
    bool ok = f->access == 0 || (std::fputc('\n', f->file) != EOF && std::fflush(f->file) == 0 && !std::ferror(f->file));
    if (f->std_stream)
        ok = std::fflush(f->file) == 0 && ok;
    else
        ok = FILE_close(f->file) == 0 && ok;
    const bool writing = f->access != 0;
    *f = RawFile{};
    if (!ok && writing) {
        MESS_print(M_error, "RAW_close: Unable to finish writing the raw file: %s\n", std::strerror(errno));
        return -1;
    }
    return 0;
}

int RAW_get_num_field(int raw_fd) {
    RawFile* f = slot(raw_fd);
    return f ? f->num_field : -1;
}

int RAW_get_field_ind(int raw_fd, const char* name) {
    RawFile* f = slot(raw_fd);
    if (!f || !name) return -1;
    for (int i = 0; i < f->num_field; ++i)
        if (stricmp(f->field[i], name) == 0) return i;
    return -1;
}

namespace {
template <std::size_t N>
int set_field(int raw_fd, int ind, const char* text, char (RawFile::*table)[RAW_MAX_FIELDS][N]) {
    RawFile* f = slot(raw_fd);
    if (!f || !text || ind < 0 || ind >= RAW_MAX_FIELDS) return -1;
    str_copy((f->*table)[ind], N, text);
    if (ind >= f->num_field) f->num_field = ind + 1;
    set_field_off(*f);
    return 0;
}
template <std::size_t N>
const char* get_field(int raw_fd, int ind, char (RawFile::*table)[RAW_MAX_FIELDS][N]) {
    RawFile* f = slot(raw_fd);
    if (!f || ind < 0 || ind >= f->num_field) return "";
    return (f->*table)[ind];
}
}  // namespace

int RAW_set_field_name(int raw_fd, int ind, const char* name) { return set_field(raw_fd, ind, name, &RawFile::field); }
const char* RAW_get_field_name(int raw_fd, int ind) { return get_field(raw_fd, ind, &RawFile::field); }
int RAW_set_field_info(int raw_fd, int ind, const char* info) { return set_field(raw_fd, ind, info, &RawFile::field_info); }
const char* RAW_get_field_info(int raw_fd, int ind) { return get_field(raw_fd, ind, &RawFile::field_info); }
int RAW_set_field_fmt(int raw_fd, int ind, const char* fmt) { return set_field(raw_fd, ind, fmt, &RawFile::field_fmt); }
const char* RAW_get_field_fmt(int raw_fd, int ind) { return get_field(raw_fd, ind, &RawFile::field_fmt); }

int RAW_dec_line(int raw_fd, int ind, RAW_report* report, const char* str) {
    if (!report || !str) return -1;
    RawFile* f = slot(raw_fd);
    report->value[0] = report->value[1] = kMiss;
    report->format[0] = '\0';
    if (f && ind >= 0 && ind < f->num_field) str_copy(report->format, sizeof report->format, f->field_fmt[ind]);
    std::string token = str;
    const std::size_t eq = token.find('=');
    std::string text = eq == std::string::npos ? token : token.substr(eq + 1);
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const std::string suffix = text.substr(colon + 1);
        text.resize(colon);
        if (!suffix.empty()) {
            if (report->format[0]) {
                strmcat(report->format, ":", sizeof report->format - 1);
                strmcat(report->format, suffix.c_str(), sizeof report->format - 1);
            } else {
                str_copy(report->format, sizeof report->format, suffix.c_str());
            }
        }
    }
    str_copy(report->data, sizeof report->data, text.c_str());
    if (text == "-" || text.empty()) {
        if (text.empty()) report->data[0] = '\0';
        return 0;
    }
    const char c = text[0];
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-') {
        float a = kMiss, b = kMiss;
        scanp_set(text.c_str());
        const int n = scanp("%f", &a);
        if (n == 1) {
            report->value[0] = a;
            if (scanp(",%f", &b) == 1) report->value[1] = b;
        }
    }
    return 0;
}

int RAW_read(int raw_fd, RAW_report* report, const char* rep_type, int* statnum) {
    RawFile* f = slot(raw_fd);
    if (!f || !report || !statnum || f->access != 0) return -1;
    if (position(raw_fd, *f, *statnum) < 0) return -1;
    if (f->line.find_first_not_of(" \t") == std::string::npos) return -1;  // empty line ends the data
    const RAW_report& loc = f->loc;
    str_copy(report->id, sizeof report->id, loc.id);
    report->wmo = loc.wmo;
    report->lat = loc.lat;
    report->lon = loc.lon;
    report->elev = loc.elev;
    clear_report(report);
    const char* sel = rep_type ? rep_type : "1";

    char* end = nullptr;
    const long number = std::strtol(sel, &end, 10);
    const bool numeric = end != sel && *end == '\0';
    auto field_of_col = [f](int col) { return f->num_field > 0 ? col + f->field_off : col; };
    auto take_col = [&](int col) {
        const std::string tok = column(*f, col);
        if (tok.empty()) return 0;
        RAW_dec_line(raw_fd, field_of_col(col), report, tok.c_str());
        report->type = field_of_col(col);
        return 1;
    };

    if (numeric && number == 1) {
        if (f->ind >= f->num_cols) return 0;
        const int col = f->ind++;
        f->cur_field = field_of_col(col);
        return take_col(col);
    }
    if (numeric && number >= 10 && number < 76) return take_col(static_cast<int>(number) - 10);
    if (stricmp(sel, "id") == 0) {
        str_copy(report->data, sizeof report->data, loc.id);
        report->type = 0;
        return 1;
    }
    const int fi = RAW_get_field_ind(raw_fd, sel);
    if (fi >= 0) {
        if (fi >= f->field_off) return take_col(fi - f->field_off);
        if (fi == 1 || fi == 2) {  // a location column
            report->value[0] = fi == 1 ? loc.lat : loc.lon;
            report->type = fi;
            return known(report->value[0]) ? 1 : 0;
        }
    }
    // name=value anywhere on the line
    const std::string key = std::string(sel) + "=";
    for (int col = 0; col < f->num_cols; ++col) {
        const std::string tok = column(*f, col);
        if (tok.size() >= key.size() && strnicmp(tok.c_str(), key.c_str(), static_cast<int>(key.size())) == 0) {
            RAW_dec_line(raw_fd, -1, report, tok.c_str());
            report->type = f->field_ind[col];
            return 1;
        }
    }
    return 0;
}

int RAW_write(int raw_fd, RAW_report* report, int rep_type, int* statnum) {
    RawFile* f = slot(raw_fd);
    if (!f || !report || f->access == 0) return -1;
    if (rep_type != 1 && rep_type != 2 && rep_type != 3 && rep_type != 5) return -1;
    std::string out;
    if (rep_type == 1 || rep_type == 3) {
        std::string id = report->id[0] ? report->id : "-";
        std::replace(id.begin(), id.end(), ' ', '_');
        out += id;
        // Every declared location column is written, "-" when unknown: a left-out column
        // would shift every value after it.
        char buf[48];
        if (f->write_off == 3) {
            const bool at = known(report->lat) && known(report->lon) && std::fabs(report->lat) < 1e7f &&
                            std::fabs(report->lon) < 1e7f;
            if (at) str_format(buf, sizeof buf, " %6.2f %7.2f", report->lat, report->lon);
            else str_copy(buf, sizeof buf, " - -");
            out += buf;
        } else if (f->write_off == 2) {
            if (known(report->lat) && std::fabs(report->lat) < 1e7f) str_format(buf, sizeof buf, " %g", report->lat);
            else str_copy(buf, sizeof buf, " -");
            out += buf;
        }
    }
    if (rep_type == 5) out += '\n';
    if (rep_type == 1 || rep_type == 2) {
        int kind = report->type;
        const char* fmt = nullptr;
        const char* plot_format = RES_get("plot_format");
        if (plot_format && plot_format[0] == '%') {
            kind = RAW_KIND_NUMBER;
            fmt = plot_format;
        } else if (plot_format && plot_format[0]) {
            const int k = kind_of_name(plot_format);
            if (k != -9999) kind = k;
        }
        out += ' ';
        if (is_text_kind(kind)) {
            // A blank inside a text value would split it into two columns.
            std::string text = (report->data[0] == '\0' || report->data[0] == ' ') ? std::string("-") : std::string(report->data);
            std::replace(text.begin(), text.end(), ' ', '_');
            std::replace(text.begin(), text.end(), '\t', '_');
            out += text;
        } else if (kind == RAW_KIND_INTEGER) {
            format_number(out, fmt, "%1.0f", report->value[0], true);
        } else if (is_pair_kind(kind)) {
            format_number(out, fmt, "%1.0f", report->value[0], false);
            out += ',';
            format_number(out, fmt, "%1.0f", report->value[1], false);
        } else {
            format_number(out, fmt, "%1.0f", report->value[0], false);
        }
        if (report->format[0]) {
            out += ':';
            out += report->format;
        }
        if (rep_type == 1) out += '\n';
    }
    if (std::fputs(out.c_str(), f->file) < 0) return -1;
    if (statnum && (rep_type == 1 || rep_type == 5)) ++*statnum;
    return 1;
}
