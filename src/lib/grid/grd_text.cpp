// The library's own grid files: bare text grids (type 1), "QAZGRID" files with text or
// big-endian binary values and grid versions 0-4 (types 2 and 3), and "QAZGRID4" files with a
// domain string per grid (type 4); plus the grid positioning shared with the bulletin reader.
#include <algorithm>
#include <bit>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "grd_formats.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr std::size_t kChunk = 16384;  // values per block of text and binary output

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::vector<std::string> split_blanks(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        std::size_t j = i;
        while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

std::vector<std::string> split_colons(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        out.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) return out;
        start = colon + 1;
    }
}

bool to_float(const std::string& text, float* value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE) return false;
    *value = v;
    return true;
}

bool to_int(const std::string& text, int* value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

// Unit text as stored: "_" stands for a blank.
void set_units(GRD_report* grd, const std::string& text)
{
    std::string units = text;
    for (char& c : units)
        if (c == '_') c = ' ';
    str_copy(grd->units, sizeof grd->units, units.c_str());
}

// Texts written on one line must not carry line breaks.
std::string one_line(const char* text, std::size_t max)
{
    std::string out(text, strnlen(text, max));
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

int damaged(const char* what)
{
    MESS_print(M_error, "GRD_read: Damaged grid file: %s\n", what);
    return -2;
}

#if defined(__x86_64__)
// 32 bytes at a time with one byte shuffle, on processors that have it.
__attribute__((target("avx2"))) std::size_t swap_words_avx2(const unsigned char* in, unsigned char* out,
                                                             std::size_t n)
{
    const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                                           5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i * 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 4), _mm256_shuffle_epi8(v, order));
    }
    return i;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

// Copies n 32-bit words from src to dst (which may be the same), reversing the bytes of each
// on a little-endian machine: the values are big-endian on disk. Runs over every value of a
// grid, so it works on vectors where the processor allows.
void copy_big_endian(const void* src, void* dst, std::size_t n)
{
    if constexpr (std::endian::native != std::endian::little) {
        if (src != dst) std::memmove(dst, src, n * 4);
        return;
    }
    const auto* in = static_cast<const unsigned char*>(src);
    auto* out = static_cast<unsigned char*>(dst);
    std::size_t i = 0;
#if defined(__x86_64__)
    if (kHaveAvx2) i = swap_words_avx2(in, out, n);
#endif
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * 4));
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));  // bytes within halves
        v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));           // halves within words
        v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4), v);
    }
#endif
    for (; i < n; ++i) {
        std::uint32_t w;
        std::memcpy(&w, in + i * 4, 4);
        w = __builtin_bswap32(w);
        std::memcpy(out + i * 4, &w, 4);
    }
}

// n text values ("%f" form, blank or line separated) into out (null: read and drop). In a grid
// file every value ends its line, so a value cut by the end of the file is refused (strict);
// external value files come from other programs and may lack the last line end.
bool read_text_values(std::FILE* file, float* out, long long n, bool strict)
{
    char token[64];
    for (long long k = 0; k < n; ++k) {
        int c = getc_unlocked(file);
        while (c != EOF && std::isspace(c)) c = getc_unlocked(file);
        std::size_t len = 0;
        while (c != EOF && !std::isspace(c)) {
            if (len + 1 < sizeof token) token[len++] = static_cast<char>(c);
            else len = sizeof token;  // too long to be a number
            c = getc_unlocked(file);
            if (len == sizeof token) break;
        }
        if (c == '\n') ungetc(c, file);
        if (c == EOF && strict && len > 0) {
            MESS_print(M_error, "GRD_read: Grid file ends inside value %lld of %lld\n", k + 1, n);
            return false;
        }
        if (len == 0 || len >= sizeof token) {
            MESS_print(M_error, "GRD_read: Missing or bad grid value %lld of %lld\n", k + 1, n);
            return false;
        }
        token[len] = '\0';
        char* end = nullptr;
        const float v = std::strtof(token, &end);
        if (*end != '\0') {
            MESS_print(M_error, "GRD_read: Bad grid value \"%s\"\n", token);
            return false;
        }
        if (out) out[k] = v;
    }
    return true;
}

// n big-endian floats into out (null: skipped), then the newline that ends them.
bool read_binary_values(std::FILE* file, float* out, long long n, bool seekable)
{
    if (out) {
        // One read straight into the grid, then one vector pass turning the bytes round:
        // reading in cache-sized blocks costs more in system calls than it saves here.
        if (std::fread(out, sizeof(float), static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n)) {
            MESS_print(M_error, "GRD_read: Grid file ends inside the binary values\n");
            return false;
        }
        copy_big_endian(out, out, static_cast<std::size_t>(n));
    } else if (seekable) {
        if (fseeko(file, static_cast<off_t>(n) * 4, SEEK_CUR) != 0) return false;
    } else {
        std::vector<float> scratch(kChunk);
        for (long long left = n; left > 0;) {
            const std::size_t part = static_cast<std::size_t>(std::min<long long>(left, kChunk));
            if (std::fread(scratch.data(), sizeof(float), part, file) != part) return false;
            left -= static_cast<long long>(part);
        }
    }
    const int c = getc_unlocked(file);
    if (c != '\n' && c != EOF) ungetc(c, file);
    return true;
}

// The domain line of a version 0-4 grid.
bool read_domain_line(const std::string& line, GRD_report* grd)
{
    std::vector<std::string> tok = split_blanks(line);
    std::size_t i = 0;
    if (i < tok.size() && tok[i][0] == ':') set_units(grd, tok[i++].substr(1));
    if (i >= tok.size()) return false;
    Domain& dom = grd->domain;
    DOM_init(&dom);
    const char first = tok[i][0];
    if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.') {
        // Old form: a polar stereographic grid, clat clon dx nx ny.
        if (tok.size() - i < 5) return false;
        dom.proj = 1;
        if (!to_float(tok[i], &dom.clat) || !to_float(tok[i + 1], &dom.clon) || !to_float(tok[i + 2], &dom.dx) ||
            !to_int(tok[i + 3], &dom.nx) || !to_int(tok[i + 4], &dom.ny))
            return false;
        dom.dy = dom.dx;
        dom.plon = dom.clon;
        return true;
    }
    std::vector<std::string> parts = split_colons(tok[i]);
    static const struct {
        const char* word;
        int proj;
    } words[] = {{"LL", 2}, {"PS", 1}, {"ME", 3}, {"LC", 4}};
    dom.proj = -1;
    for (const auto& w : words)
        if (strcasecmp(parts[0].c_str(), w.word) == 0) dom.proj = w.proj;
    if (dom.proj < 0 || tok.size() - i < 7) return false;
    std::vector<float> values;
    for (std::size_t k = 1; k < parts.size(); ++k) {
        float v = kMissing;
        if (!parts[k].empty() && !to_float(parts[k], &v)) return false;
        values.push_back(v);
    }
    ++i;
    if (!to_float(tok[i], &dom.clat) || !to_float(tok[i + 1], &dom.clon) || !to_float(tok[i + 2], &dom.dx) ||
        !to_float(tok[i + 3], &dom.dy) || !to_int(tok[i + 4], &dom.nx) || !to_int(tok[i + 5], &dom.ny))
        return false;
    switch (dom.proj) {
    case 1:
        dom.plon = values.empty() || values[0] == kMissing ? dom.clon : values[0];
        break;
    case 2:
        if (!values.empty()) dom.plon = values[0];
        break;
    case 4:
        if (values.size() == 1) {
            dom.plon = values[0];
        } else {
            float* targets[] = {&dom.plat, &dom.plon, &dom.param[0], &dom.param[1], &dom.param[2]};
            if (values.size() > std::size(targets)) return false;
            for (std::size_t k = 0; k < values.size(); ++k) *targets[k] = values[k];
        }
        break;
    default:
        break;
    }
    return true;
}

// The whitespace-delimited domain token of a "QAZGRID4" grid and the character after it.
bool read_domain_token(std::FILE* file, GRD_report* grd)
{
    std::string token;
    int c = getc_unlocked(file);
    while (c != EOF && std::isspace(c)) c = getc_unlocked(file);
    while (c != EOF && !std::isspace(c)) {
        if (token.size() >= DOM_LINE_SIZE - 1) return false;
        token.push_back(static_cast<char>(c));
        c = getc_unlocked(file);
    }
    if (token.empty()) return false;
    Domain dom;
    DOM_init(&dom);
    const int result = DOM_decode(token.c_str(), &dom);
    if (result != DOM_DECODE_VALUES && result != DOM_DECODE_REGION) return false;
    grd->domain = dom;
    return true;
}

// Version 4: "kind file offset ydir xdir" names the values in another file.
int read_external_values(GRD_file* gf, const std::string& line, GRD_report* grd, int store)
{
    std::vector<std::string> tok = split_blanks(line);
    long long offset = 0;
    int ydir = 0, xdir = 0;
    char* end = nullptr;
    if (tok.size() < 5) return damaged("value file line");
    offset = std::strtoll(tok[2].c_str(), &end, 10);
    if (*end != '\0' || offset < 0 || !to_int(tok[3], &ydir) || !to_int(tok[4], &xdir))
        return damaged("value file line");
    if (!store) return 0;
    std::string name = tok[1];
    FilePtr values(std::fopen(name.c_str(), "rb"));
    const std::string& own = grd_text_state(gf)->name;
    const std::size_t slash = own.rfind('/');
    if (!values && name[0] != '/' && slash != std::string::npos) {
        // A relative name is also looked for beside the grid file.
        name = own.substr(0, slash + 1) + name;
        values.reset(std::fopen(name.c_str(), "rb"));
    }
    if (!values) {
        MESS_print(M_error, "GRD_read: Unable to open grid file: %s\n", tok[1].c_str());
        return -2;
    }
    const int nx = grd->domain.nx, ny = grd->domain.ny;
    const long long npts = static_cast<long long>(nx) * ny;
    const bool text = tok[0][0] == 'A';
    if (fseeko(values.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return damaged("value file offset");
    const long long left = grd_bytes_left(values.get());
    if (left >= 0 && left < npts * (text ? 1 : 4)) {
        MESS_print(M_error, "GRD_read: Value file %s is too short for %d x %d values\n", name.c_str(), nx, ny);
        return -2;
    }
    std::vector<float> raw(static_cast<std::size_t>(npts));
    if (text) {
        if (!read_text_values(values.get(), raw.data(), npts, false)) return -2;
    } else if (std::fread(raw.data(), sizeof(float), raw.size(), values.get()) != raw.size()) {
        MESS_print(M_error, "GRD_read: Value file %s is too short for %d x %d values\n", name.c_str(), nx, ny);
        return -2;
    }
    if (!grd_alloc_values(grd, npts)) return -2;
    std::size_t k = 0;
    for (int r = 0; r < ny; ++r) {
        const int j = ydir == 1 ? r : ny - 1 - r;
        for (int c = 0; c < nx; ++c) {
            const int i = xdir == 1 ? c : nx - 1 - c;
            grd->grid[static_cast<std::size_t>(j) * nx + i] = raw[k++];
        }
    }
    return 0;
}

// One grid of a type 1-4 file at the stream's position.
int read_text_grid(GRD_file* gf, GRD_report* grd, int store)
{
    GRD_text_state* st = grd_text_state(gf);
    std::FILE* file = gf->file;
    std::string line;
    if (st->label_pending) {
        line = st->pending_label;
        st->label_pending = false;
    } else if (grd_read_line(file, line) < 0) {
        return -1;
    }
    while (line.compare(0, 7, "QAZGRID") == 0) {
        if (gf->type == GRD_TYPE_QAZ4 && line.compare(0, 8, "QAZGRID4") == 0)
            gf->itype = line.size() > 8 && line[8] == 'B' ? 3 : 0;
        if (grd_read_line(file, line) < 0) return -1;
    }

    float* values = grd->grid;
    GRD_init_report(grd);
    grd->grid = values;
    str_copy(grd->datim, sizeof grd->datim, line.c_str());
    DATE_decode_label(grd->datim, &grd->date);

    if (grd_read_line(file, line) < 0) return damaged("no information line");
    int version = 0;
    std::size_t skip = 0;
    if (line.size() >= 2 && line[0] >= '0' && line[0] <= '4' && line[1] == '-') {
        version = line[0] - '0';
        skip = 2;
    }
    if (gf->type == GRD_TYPE_QAZ4) version = gf->itype == 3 ? 3 : 0;
    str_copy(grd->info, sizeof grd->info, line.c_str() + skip);
    grd->version = version;
    grd->source = 1;
    grd->model = 1;

    if (version >= 2) {
        if (grd_read_line(file, line) < 0) return damaged("no numbers line");
        int v[8];
        int used = 0;
        if (std::sscanf(line.c_str(), "%d %d %d %d %d %d %d %d%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                        &v[6], &v[7], &used) != 8)
            return damaged("bad numbers line");
        grd->source = v[0];
        grd->model = v[2];
        grd->type = v[3];
        grd->ltype = v[4];
        grd->level = v[5];
        grd->time = v[6];
        grd->var = v[7];
        const std::size_t colon = line.find(':', static_cast<std::size_t>(used));
        if (colon != std::string::npos) set_units(grd, line.substr(colon + 1));
    }

    if (gf->type == GRD_TYPE_QAZ4) {
        if (!read_domain_token(file, grd)) return damaged("bad domain");
    } else {
        if (grd_read_line(file, line) < 0 || !read_domain_line(line, grd)) return damaged("bad domain line");
    }
    if (version == 1 && grd->domain.clon != kMissing) {
        // A polar stereographic pole longitude taken from the centre is the same west-positive
        // number and turns with it; left alone it would point the grid the other way.
        Domain& dom = grd->domain;
        if (dom.proj == 1 && dom.plon == dom.clon) dom.plon = -dom.plon;
        dom.clon = -dom.clon;
    }

    const int nx = grd->domain.nx, ny = grd->domain.ny;
    const int bytes_per_value = version == 3 ? 4 : version == 4 ? 0 : 1;
    if (!grd_check_size("GRD_read", version == 4 ? nullptr : file, nx, ny, bytes_per_value, st->size)) return -2;
    const long long npts = static_cast<long long>(nx) * ny;

    if (version == 4) {
        if (grd_read_line(file, line) < 0) return damaged("no value file line");
        return read_external_values(gf, line, grd, store);
    }
    if (store && !grd_alloc_values(grd, npts)) return -2;
    float* out = store ? grd->grid : nullptr;
    if (version == 3) return read_binary_values(file, out, npts, st->seekable) ? 0 : -2;
    if (!read_text_values(file, out, npts, true)) return -2;
    const int c = getc_unlocked(file);  // the line end after the last value
    if (c != '\n' && c != EOF) ungetc(c, file);
    return 0;
}

// Domain string item of a number: empty for a missing value.
std::string dom_number(float v)
{
    if (v == kMissing) return "";
    char buf[32];
    str_format(buf, sizeof buf, "%.9g", v);
    return buf;
}

bool write_domain_token(std::FILE* file, const Domain& dom)
{
    static const char* const names[] = {nullptr, "ps", "ll", "me", "lc", "or", "gn", "mo", "la", "sat"};
    if (dom.proj < 1 || dom.proj > 9) return false;
    std::string token = names[dom.proj];
    if (dom.ellipse) token += ":e";
    for (float v : {dom.plat, dom.plon, dom.param[0], dom.param[1], dom.param[2]}) token += ":" + dom_number(v);
    token += "," + dom_number(dom.clat) + "," + dom_number(dom.clon) + "," + std::to_string(dom.nx) + "," +
             std::to_string(dom.ny) + "," + dom_number(dom.dx) + "," + dom_number(dom.dy);
    return std::fprintf(file, "%s\n", token.c_str()) > 0;
}

bool write_domain_line(std::FILE* file, const Domain& dom)
{
    switch (dom.proj) {
    case 2: std::fputs("LL ", file); break;
    case 3: std::fputs("ME ", file); break;
    case 1:
        if (dom.plon != kMissing && dom.plon != dom.clon) std::fprintf(file, "PS:%f ", dom.plon);
        else std::fputs("PS ", file);
        break;
    case 4:
        if (dom.param[0] != kMissing)
            std::fprintf(file, "LC:%f:%f:%f:%f:%f ", dom.plat, dom.plon, dom.param[0], dom.param[1], dom.param[2]);
        else if (dom.plon != kMissing)
            std::fprintf(file, "LC:%f ", dom.plon);
        else
            std::fputs("LC ", file);
        break;
    default: return false;
    }
    return std::fprintf(file, "%f %f %f %f %d %d\n", dom.clat, dom.clon, dom.dx, dom.dy, dom.nx, dom.ny) > 0;
}

bool write_text_values(std::FILE* file, const float* values, long long n)
{
    const char* fmt = grd_value_format();
    std::string buf;
    buf.reserve(kChunk * 16);
    char one[64];
    for (long long k = 0; k < n; ++k) {
        const int len = std::snprintf(one, sizeof one, fmt, static_cast<double>(values[k]));
        buf.append(one, static_cast<std::size_t>(std::clamp(len, 0, static_cast<int>(sizeof one) - 1)));
        buf.push_back('\n');
        if (buf.size() >= kChunk * 15) {
            if (std::fwrite(buf.data(), 1, buf.size(), file) != buf.size()) return false;
            buf.clear();
        }
    }
    return std::fwrite(buf.data(), 1, buf.size(), file) == buf.size();
}

// Turned round in blocks of 1 MB, kept for the next grid: few system calls, no value copied
// twice through the stream's buffer.
bool write_binary_values(std::FILE* file, const float* values, long long n)
{
    constexpr std::size_t kBlock = 262144;
    static std::vector<std::uint32_t> block;
    if (block.size() < kBlock) block.resize(kBlock);
    for (long long done = 0; done < n;) {
        const std::size_t part = static_cast<std::size_t>(std::min<long long>(n - done, kBlock));
        copy_big_endian(values + done, block.data(), part);
        if (std::fwrite(block.data(), sizeof(float), part, file) != part) return false;
        done += static_cast<long long>(part);
    }
    return std::fputc('\n', file) != EOF;
}

}  // namespace

int grd_text_attach(GRD_file* gf, const char* filename)
{
    auto* st = new (std::nothrow) GRD_text_state;
    if (!st) return -1;
    st->name = filename ? filename : "";
    struct stat info {};
    st->seekable = !gf->is_std && fstat(fileno(gf->file), &info) == 0 && S_ISREG(info.st_mode);
    st->size = st->seekable ? info.st_size : -1;
    gf->priv = st;
    gf->priv_free = [](void* p) { delete static_cast<GRD_text_state*>(p); };
    return 0;
}

int grd_text_getinfo(GRD_file* gf, GRD_info* info)
{
    GRD_text_state* st = grd_text_state(gf);
    std::string line;
    if (gf->type == GRD_TYPE_QAZ || gf->type == GRD_TYPE_QAZBIN || gf->type == GRD_TYPE_QAZ4) {
        if (grd_read_line(gf->file, line) < 0) {
            MESS_print(M_error, "GRD_getinfo: Empty grid file\n");
            return -1;
        }
        if (gf->type == GRD_TYPE_QAZ4) gf->itype = line.size() > 8 && line[8] == 'B' ? 3 : 0;
    }
    const off_t label_at = st->seekable ? ftello(gf->file) : 0;
    if (grd_read_line(gf->file, line) < 0) {
        MESS_print(M_error, "GRD_getinfo: Grid file holds no grid\n");
        return -1;
    }
    str_copy(info->datim, sizeof info->datim, line.c_str());
    str_copy(gf->datim, sizeof gf->datim, line.c_str());
    DATE_decode_label(gf->datim, &info->date);
    gf->date = info->date;
    info->grid_type = 0;
    info->max_x = info->max_y = 0;
    gf->num = 0;
    gf->cur_pos = label_at > 0 ? label_at : 0;
    gf->new_pos = -1;
    st->consumed = false;
    if (st->seekable) {
        fseeko(gf->file, gf->cur_pos, SEEK_SET);  // inside the stream's buffer: no system call
    } else {
        st->pending_label = line;
        st->label_pending = true;
    }
    return 0;
}

int grd_text_putinfo(GRD_file* gf, GRD_info*)
{
    const char* header = nullptr;
    if (gf->type == GRD_TYPE_QAZ || gf->type == GRD_TYPE_QAZBIN) header = "QAZGRID\n";
    if (gf->type == GRD_TYPE_QAZ4) header = gf->itype == 3 ? "QAZGRID4B\n" : "QAZGRID4\n";
    if (header && std::fputs(header, gf->file) == EOF) return -1;
    return 0;
}

int grd_text_write(GRD_file* gf, GRD_report* grd)
{
    const Domain& dom = grd->domain;
    if (dom.nx <= 0 || dom.ny <= 0 || static_cast<long long>(dom.nx) * dom.ny > (1LL << 31)) {
        MESS_print(M_error, "GRD_write: Invalid grid size %d x %d\n", dom.nx, dom.ny);
        return -1;
    }
    const bool qaz4 = gf->type == GRD_TYPE_QAZ4;
    const int version = gf->type == GRD_TYPE_QAZBIN ? 3 : qaz4 ? (gf->itype == 3 ? 3 : 0) : 2;
    if (qaz4 ? dom.proj < 1 || dom.proj > 9 : dom.proj < 1 || dom.proj > 4) {
        MESS_print(M_error, "GRD_write: Projection %d cannot be written to this grid file\n", dom.proj);
        return -1;
    }
    std::FILE* file = gf->file;
    // Readers take the grid's date from this line: a product label that does not carry the
    // date ("3 day MRF valid ...") is written as the date's own label.
    std::string label = one_line(grd->datim, sizeof grd->datim);
    char made[DATE_LABEL_LEN];
    if (grd->date.year != DATE_MISSING && grd->date.month != DATE_MISSING &&
        DATE_make_label(&grd->date, made, sizeof made) == 0 && made[0] && label.find(made) == std::string::npos)
        label = made;
    std::fprintf(file, "%s\n%d-%s\n", label.c_str(), version, one_line(grd->info, sizeof grd->info).c_str());
    if (version >= 2) {
        std::string units = one_line(grd->units, sizeof grd->units);
        for (char& c : units)
            if (c == ' ') c = '_';
        std::fprintf(file, "%d %d %d %d %d %d %d %d", grd->source, version, grd->model, grd->type, grd->ltype,
                     grd->level, grd->time, grd->var);
        if (!units.empty()) std::fprintf(file, ":%s", units.c_str());
        std::fputc('\n', file);
    }
    if (!(qaz4 ? write_domain_token(file, dom) : write_domain_line(file, dom))) return -1;
    const long long npts = static_cast<long long>(dom.nx) * dom.ny;
    const bool ok = version == 3 ? write_binary_values(file, grd->grid, npts) : write_text_values(file, grd->grid, npts);
    if (!ok || std::ferror(file)) {
        MESS_print(M_error, "GRD_write: Unable to write the grid\n");
        return -1;
    }
    return 0;
}

int grd_text_rewind(GRD_file* gf)
{
    GRD_text_state* st = grd_text_state(gf);
    gf->num = 0;
    gf->wind_dec = 0;
    if (!st->seekable) return 0;
    std::rewind(gf->file);
    gf->cur_pos = 0;
    gf->new_pos = -1;
    st->wind_dec_at_cur = 0;
    return 0;
}

int grd_text_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    return grd_stream_read(gf, grd, rep_type, grdnum, read_text_grid);
}

namespace {
// Seeks only when the stream is not already there, sparing a system call and the stream's
// buffer when grids are read in order.
bool seek_to(std::FILE* file, off_t pos)
{
    return ftello(file) == pos || fseeko(file, pos, SEEK_SET) == 0;
}
}  // namespace

int grd_stream_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum, grd_grid_reader reader)
{
    GRD_text_state* st = grd_text_state(gf);
    const int want = *grdnum;
    const int store = rep_type == 1 || rep_type == 2 ? 0 : 1;
    if (!store) GRD_free_report(grd);
    if (want < 0) return -1;
    auto fail = [&](int r) {
        GRD_free_report(grd);
        (void)r;
        return -1;
    };
    if (st->seekable) {
        if (want < gf->num) {
            gf->num = 0;
            gf->cur_pos = 0;
            gf->new_pos = -1;
            st->wind_dec_at_cur = 0;
        }
        while (gf->num < want) {
            if (gf->new_pos < 0) {
                GRD_report scratch;
                GRD_init_report(&scratch);
                if (!seek_to(gf->file, gf->cur_pos)) return fail(-2);
                gf->wind_dec = st->wind_dec_at_cur;
                if (const int r = reader(gf, &scratch, 0); r != 0) return fail(r);
                gf->new_pos = ftello(gf->file);
                st->wind_dec_after = gf->wind_dec;
            }
            gf->cur_pos = gf->new_pos;
            gf->new_pos = -1;
            st->wind_dec_at_cur = st->wind_dec_after;
            ++gf->num;
        }
        if (!seek_to(gf->file, gf->cur_pos)) return fail(-2);
        gf->wind_dec = st->wind_dec_at_cur;
        if (const int r = reader(gf, grd, store); r != 0) return fail(r);
        gf->new_pos = ftello(gf->file);
        st->wind_dec_after = gf->wind_dec;
    } else {
        if (want < gf->num || (want == gf->num && st->consumed)) {
            MESS_print(M_error, "GRD_read: Cannot go back to grid %d on a stream\n", want);
            return fail(-2);
        }
        while (gf->num < want) {
            if (!st->consumed) {
                GRD_report scratch;
                GRD_init_report(&scratch);
                if (const int r = reader(gf, &scratch, 0); r != 0) return fail(r);
            }
            st->consumed = false;
            ++gf->num;
        }
        if (const int r = reader(gf, grd, store); r != 0) return fail(r);
        st->consumed = true;
    }
    *grdnum = gf->num;
    return 0;
}
