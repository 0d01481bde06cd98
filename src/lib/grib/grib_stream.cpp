// Finding GRIB messages in a stream: the four transmission wrappers, the indicator section of
// editions 0, 1 and 2, and reading one whole message into memory after checking that its
// length fits the file and that it ends with "7777".
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/stat.h>

#include "date.hpp"
#include "grib1_internal.hpp"
#include "mess.hpp"
#include "string.hpp"

namespace {

thread_local int g_last_version = -1;  // per thread, as the decoding state
constexpr const char* kRawHeading = "GRIB01 KXXX 010000";
constexpr std::size_t kChunk = std::size_t(16) << 20;  // read step for lengths we cannot check

void free_stream(void* p) { delete static_cast<GribStream*>(p); }

// Bytes between offset and the end of a regular file; -1 when the size cannot be known.
long long bytes_left(std::FILE* f, off_t offset) {
    struct stat sb;
    if (fstat(fileno(f), &sb) != 0 || !S_ISREG(sb.st_mode)) return -1;
    return sb.st_size > offset ? static_cast<long long>(sb.st_size - offset) : 0;
}

// Reads exactly n bytes at the end of buf (grown in steps, so that a length that cannot be
// checked against the file size never allocates more than the data really present).
bool read_into(std::FILE* f, std::vector<unsigned char>& buf, std::size_t n) {
    while (n > 0) {
        const std::size_t step = std::min(n, kChunk);
        const std::size_t old = buf.size();
        try {
            buf.resize(old + step);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const std::size_t got = std::fread(buf.data() + old, 1, step, f);
        if (got != step) {
            buf.resize(old + got);
            return false;
        }
        n -= step;
    }
    return true;
}

std::uint64_t be(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Reads the rest of a message of the given length (m holds its first bytes) and checks that
// it ends with "7777". false when it does not fit the file or is not whole.
bool finish_message(std::FILE* f, std::vector<unsigned char>& m, std::uint64_t length,
                    long long left, off_t start, int edition, GribStream* st) {
    st->partial = false;
    if (length < 8 || length > std::uint64_t(PTRDIFF_MAX)) return false;
    if (left >= 0 && length > std::uint64_t(left)) return false;
    if (left >= 0 && length > m.size()) {
        // Look at the end marker first: a file full of false starts must not be read whole
        // once per start.
        unsigned char tail[4];
        const off_t here = ftello(f);
        if (fseeko(f, start + off_t(length) - 4, SEEK_SET) != 0 ||
            std::fread(tail, 1, 4, f) != 4 || std::memcmp(tail, "7777", 4) != 0)
            return false;
        if (fseeko(f, here, SEEK_SET) != 0) return false;
        if (st->header_only && edition < 2) {
            // Only the product and grid sections are wanted: read up to the grid section's end.
            std::size_t pos = edition == 0 ? 4 : 8;
            for (int sect = 0; sect < 2; ++sect) {
                if (m.size() < pos + 8 && !read_into(f, m, pos + 8 - m.size())) return false;
                if (sect == 1 && !(m[(edition == 0 ? 4 : 8) + 7] & 0x80)) break;
                pos += be(m.data() + pos, 3);
                if (pos + 4 > length) return false;
            }
            if (pos + 4 + 64 < length) {
                if (m.size() < pos) {
                    if (!read_into(f, m, pos - m.size())) return false;
                } else {
                    m.resize(pos);
                }
                m.insert(m.end(), {'7', '7', '7', '7'});
                st->partial = true;
                return true;
            }
        }
    }
    if (length > m.size()) {
        if (!read_into(f, m, std::size_t(length) - m.size())) return false;
    } else {
        m.resize(std::size_t(length));
    }
    return std::memcmp(m.data() + m.size() - 4, "7777", 4) == 0;
}

// A "GRIB" that starts no whole message: warned about once, and kept for listings.
void note_damage(GribStream* st, off_t start, long long left, std::uint64_t claimed) {
    for (const auto& d : st->damaged)
        if (d.first == start) return;
    char why[160];
    if (claimed > 0 && left >= 0 && claimed > std::uint64_t(left))
        str_format(why, sizeof why, "message of %llu octets cut short after %lld",
                   static_cast<unsigned long long>(claimed), left);
    else
        str_format(why, sizeof why, "no whole message (length or end marker damaged)");
    MESS_print(M_warn, "GRIB: %s at offset %lld, skipped\n", why, static_cast<long long>(start));
    st->damaged.emplace_back(start, why);
}

// Checks and loads the message whose "GRIB" is at start. 1 loaded, 0 not a whole message
// (the caller scans on from start + 1), -1 end of file.
int load_message(GRD_file* gf, GribStream* st, off_t start) {
    std::FILE* f = gf->file;
    std::vector<unsigned char>& m = st->msg;
    const long long left = bytes_left(f, start);
    auto head = [&](std::size_t n) {
        m.clear();
        return fseeko(f, start, SEEK_SET) == 0 && read_into(f, m, n);
    };
    if (!head(8)) return -1;
    // Octet 8 names the edition, but in edition 0 it is the parameter table version of the
    // product section: a claimed edition must hold a whole message, else edition 0 is tried.
    int edition = -1;
    std::uint64_t length = 0;
    std::uint64_t claimed = 0;  // length the indicator section gives (0 none)
    if (m[7] == 1) claimed = be(m.data() + 4, 3);
    if (m[7] == 2 && head(16)) {
        length = be(m.data() + 8, 8);
        claimed = length;
        if (length >= 16 + 4 && finish_message(f, m, length, left, start, 2, st)) edition = 2;
    }
    if (edition < 0 && head(8) && m[7] == 1) {
        length = be(m.data() + 4, 3);
        if (length >= 51 && finish_message(f, m, length, left, start, 1, st)) edition = 1;
    }
    if (edition < 0 && head(8) && m[7] == 1 && (m[4] & 0x80)) {
        // Messages above 16 MB count their length in units of 120 bytes, and their data
        // section's length field holds the 120-byte padding correction instead.
        const std::uint64_t units = be(m.data() + 4, 3) & 0x7fffff;
        std::size_t pos = 8;
        int flag = -1;
        bool ok = true;
        for (int sect = 0; sect < 3 && ok; ++sect) {
            if (sect == 1 && !(flag & 0x80)) continue;
            if (sect == 2 && !(flag & 0x40)) continue;
            ok = m.size() >= pos + 8 || read_into(f, m, pos + 8 - m.size());
            if (!ok) break;
            if (sect == 0) flag = m[pos + 7];
            const std::size_t l = be(m.data() + pos, 3);
            ok = l >= 6 && (left < 0 || pos + l + 8 <= std::size_t(left));
            pos += l;
        }
        if (ok && (m.size() >= pos + 3 || read_into(f, m, pos + 3 - m.size()))) {
            const std::uint64_t correction = be(m.data() + pos, 3);
            length = units * 120 + 4 - correction;
            if (correction < 120 && length > 0x7fffff &&
                finish_message(f, m, length, left, start, 1, st))
                edition = 1;
        }
    }
    if (edition < 0 && head(8)) {
        for (;;) {
            std::size_t need = 0;
            const long l = grib0_length(m.data(), m.size(), &need);
            if (l < 0) break;
            if (l > 0) {
                length = std::uint64_t(l);
                if (finish_message(f, m, length, left, start, 0, st)) edition = 0;
                break;
            }
            if (left >= 0 && need > std::size_t(left)) break;
            if (!read_into(f, m, need - m.size())) break;
        }
    }
    if (edition < 0) {
        // Octet 8 of a real indicator section is an edition (or, in edition 0, a table
        // version below 128): other "GRIB"s are text, not damage.
        if (m.size() >= 8 && m[7] < 128) note_damage(st, start, left, claimed);
        return 0;
    }
    st->edition = edition;
    st->msg_start = start;
    st->length = length;
    st->next_pos = start + off_t(length);
    g_last_version = edition;
    return 1;
}

// Reads one line of at most cap characters (the newline consumed, CR dropped). false at end
// of file or when the line is longer.
bool read_line(std::FILE* f, char* out, std::size_t cap) {
    std::size_t n = 0;
    for (;;) {
        const int ch = std::fgetc(f);
        if (ch == EOF) return false;
        if (ch == '\n') break;
        if (ch == '\r') continue;
        if (n + 1 >= cap) return false;
        out[n++] = char(ch);
    }
    out[n] = '\0';
    return true;
}

// Skips the bytes that end a previous product (CR, LF, 0x03, NUL). false at end of file.
bool skip_trailer(std::FILE* f) {
    for (;;) {
        const int ch = std::fgetc(f);
        if (ch == EOF) return false;
        if (ch != '\r' && ch != '\n' && ch != 0x03 && ch != 0) {
            std::ungetc(ch, f);
            return true;
        }
    }
}

void set_heading(GribStream* st, const char* text) {
    char h[31];
    str_copy(h, sizeof h, text);
    str_copy(st->wmo, sizeof st->wmo, h);
}

}  // namespace

void grib_set_last_version(int version) { g_last_version = version; }
int GRIB_get_version() { return g_last_version; }

GribStream* grib_stream(GRD_file* gf) {
    if (!gf) return nullptr;
    if (!gf->priv) {
        gf->priv = new (std::nothrow) GribStream;
        gf->priv_free = free_stream;
    }
    return static_cast<GribStream*>(gf->priv);
}

long grib_search_gf(GRD_file* gf) {
    GribStream* st = grib_stream(gf);
    if (!st || !gf->file) return -1;
    std::FILE* f = gf->file;
    const off_t begin = ftello(f);
    static constexpr char kTag[] = "GRIB";
    int matched = 0;
    off_t at = begin;
    for (;;) {
        const int ch = std::fgetc(f);
        if (ch == EOF) return -1;
        ++at;
        if (ch == kTag[matched]) {
            if (++matched < 4) continue;
            const off_t start = at - 4;
            const int r = load_message(gf, st, start);
            if (r == 1) {
                if (fseeko(f, st->next_pos, SEEK_SET) != 0) return -1;
                return long(st->next_pos - begin);
            }
            if (r < 0) return -1;
            at = start + 1;
            if (fseeko(f, at, SEEK_SET) != 0) return -1;
            matched = 0;
        } else {
            matched = (ch == 'G') ? 1 : 0;
        }
    }
}

int grib_header_form(GRD_file* gf, int kind) {
    GribStream* st = grib_stream(gf);
    if (!st || !gf->file) return -1;
    std::FILE* f = gf->file;
    const off_t begin = ftello(f);
    char line[200];
    off_t next_override = -1;
    switch (kind) {
    case GRIB_WRAP_QAZ: {
        if (!skip_trailer(f)) return -1;
        st->rec_start = ftello(f);
        char tag[4] = {};
        if (std::fread(tag, 1, 3, f) != 3) return -1;
        if (std::memcmp(tag, "** ", 3) != 0 || !read_line(f, line, sizeof line)) break;
        set_heading(st, line);
        kind = 0;
        break;
    }
    case GRIB_WRAP_LDM: {
        if (!skip_trailer(f)) return -1;
        st->rec_start = ftello(f);
        if (std::fgetc(f) != 0x01) break;
        char seq[200];
        if (!read_line(f, line, sizeof line) || line[0] != '\0') break;  // CR CR LF
        if (!read_line(f, seq, sizeof seq) || !read_line(f, line, sizeof line)) break;
        set_heading(st, line);
        kind = 0;
        break;
    }
    case GRIB_WRAP_OLD_QAZ: {
        if (!skip_trailer(f)) return -1;
        st->rec_start = ftello(f);
        long length = -1;
        if (!read_line(f, line, sizeof line) || std::sscanf(line, "GRIB: %ld", &length) != 1 ||
            length <= 0)
            break;
        MESS_print(M_debug, "old QAZ: %ld\n", length);
        const off_t here = ftello(f);
        // A length no file can hold is no wrapper: the sum below would overflow.
        if (here < 0 || length >= std::numeric_limits<off_t>::max() - here - 1) break;
        next_override = here + off_t(length) + 1;
        char skip[200];
        if (std::fgetc(f) != 0x01 || !read_line(f, skip, sizeof skip) ||
            !read_line(f, skip, sizeof skip) || !read_line(f, line, sizeof line))
            break;
        set_heading(st, line);
        kind = 0;
        break;
    }
    default:
        st->rec_start = begin;
        set_heading(st, kRawHeading);
        kind = 0;
        break;
    }
    if (kind != 0) {  // not this form
        fseeko(f, begin, SEEK_SET);
        return 0;
    }
    const bool raw = st->rec_start == begin && std::strcmp(st->wmo, kRawHeading) == 0;
    if (grib_search_gf(gf) < 0) return -1;
    if (raw) st->rec_start = st->msg_start;
    if (next_override > st->next_pos) st->next_pos = next_override;
    return 1;
}

int grib_header_gf(GRD_file* gf) {
    GribStream* st = grib_stream(gf);
    if (!st || !gf->file) return -1;
    std::FILE* f = gf->file;
    const off_t begin = ftello(f);
    // The wrapper of the previous message is the likely one.
    if (gf->itype >= 1 && gf->itype <= 4 && gf->itype != GRIB_WRAP_RAW) {
        const int r = grib_header_form(gf, gf->itype);
        if (r != 0) return r;
    }
    // Otherwise tell the wrapper from its first bytes.
    if (fseeko(f, begin, SEEK_SET) != 0 || !skip_trailer(f)) return -1;
    unsigned char head[6] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    fseeko(f, begin, SEEK_SET);
    int kind = GRIB_WRAP_RAW;
    if (got >= 3 && std::memcmp(head, "** ", 3) == 0)
        kind = GRIB_WRAP_QAZ;
    else if (got >= 1 && head[0] == 0x01)
        kind = GRIB_WRAP_LDM;
    else if (got >= 6 && std::memcmp(head, "GRIB: ", 6) == 0)
        kind = GRIB_WRAP_OLD_QAZ;
    int r = grib_header_form(gf, kind);
    if (r == 0 && kind != GRIB_WRAP_RAW) {
        fseeko(f, begin, SEEK_SET);
        kind = GRIB_WRAP_RAW;
        r = grib_header_form(gf, kind);
    }
    if (r == 1) gf->itype = kind;
    return r;
}

off_t grib_next_gf(GRD_file* gf, int where) {
    GribStream* st = grib_stream(gf);
    if (!st || st->msg_start < 0) return -1;
    if (where && gf->file) fseeko(gf->file, st->next_pos, SEEK_SET);
    return st->next_pos;
}

int grib_get_info_gf(GRD_file* gf, GRD_info* info) {
    GribStream* st = grib_stream(gf);
    if (!st || !gf->file || !info) return -1;
    std::FILE* f = gf->file;
    if (fseeko(f, 0, SEEK_SET) != 0) return -1;
    if (grib_header_gf(gf) <= 0) {
        MESS_print(M_error, "GRIB_get_info: no GRIB message found\n");
        fseeko(f, 0, SEEK_SET);
        return -1;
    }
    const std::vector<unsigned char>& m = st->msg;
    Date date;
    DATE_init(&date);
    if (st->edition == 2) {
        if (m.size() < 16 + 21 || m[16 + 4] != 1) {
            MESS_print(M_error, "GRIB_get_info: no identification section\n");
            return -1;
        }
        const unsigned char* s = m.data() + 16;
        date.year = int(be(s + 12, 2));
        date.month = s[14];
        date.day = s[15];
        date.hour = s[16];
        date.min = s[17];
        gf->grid = 2;
    } else {
        const std::size_t pds = st->edition == 0 ? 4 : 8;
        if (m.size() < pds + 24) return -1;
        const unsigned char* p = m.data() + pds;
        int year = p[12];
        year += year < 50 ? 2000 : (year < 200 ? 1900 : 0);
        date.year = year;
        date.month = p[13] > 12 ? 1 : p[13];
        date.day = p[14];
        date.hour = p[15];
        date.min = 0;
        gf->grid = (st->edition == 0 && p[4] == 98) ? 10 : st->edition;
    }
    date.sec = 0;
    info->date = date;
    gf->date = date;
    info->grid_type = 0;
    DATE_make_label(&date, info->datim, sizeof info->datim);
    fseeko(f, 0, SEEK_SET);
    return 0;
}

bool grib_load_whole(GRD_file* gf) {
    GribStream* st = grib_stream(gf);
    if (!st || st->msg.empty()) return false;
    if (!st->partial) return true;
    const off_t here = ftello(gf->file);
    const off_t next = st->next_pos;
    st->header_only = false;
    const int r = load_message(gf, st, st->msg_start);
    st->next_pos = next;  // keep a wrapper's own end
    fseeko(gf->file, here, SEEK_SET);
    return r == 1 && !st->partial;
}

long grib_get_raw_gf(GRD_file* gf, unsigned char** buf, long size) {
    GribStream* st = grib_stream(gf);
    if (!st || !buf || st->msg.empty() || !grib_load_whole(gf)) return -1;
    const std::size_t n = st->msg.size();
    if (!*buf) {
        *buf = static_cast<unsigned char*>(std::malloc(n));
        if (!*buf) return -1;
    } else if (size < 0 || std::size_t(size) < n) {
        MESS_print(M_error, "GRIB_get_raw: message of %zu bytes does not fit %ld\n", n, size);
        return -1;
    }
    std::memcpy(*buf, st->msg.data(), n);
    return long(n);
}

int grib_get_wmo_gf(GRD_file* gf, char* header) {
    GribStream* st = grib_stream(gf);
    if (!header) return -1;
    char h[19];
    str_copy(h, sizeof h, st ? st->wmo : "");
    str_copy(header, sizeof h, h);
    return 0;
}
