// Pattern scanner over one line of text with a persistent scan offset.
#include "scanp.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kMaxLine = 4095;
constexpr int kDefaultStringMax = 255;

std::string g_line;
std::size_t g_off = 0;

bool space(char c) { return c != '\0' && std::isspace(static_cast<unsigned char>(c)); }

// End of the word starting at pos.
std::size_t word_end(std::size_t pos, std::size_t limit) {
    std::size_t end = pos;
    while (end < g_line.size() && end - pos < limit && !space(g_line[end])) ++end;
    return end;
}

}  // namespace

int scanp_set(const char* line) {
    g_line.assign(line ? line : "");
    if (g_line.size() > kMaxLine) g_line.resize(kMaxLine);
    const std::size_t nul = g_line.find('\0');
    if (nul != std::string::npos) g_line.resize(nul);
    g_off = 0;
    return static_cast<int>(g_line.size());
}

int scanp_off(int offset) {
    if (offset >= 0) g_off = std::min(static_cast<std::size_t>(offset), g_line.size());
    return static_cast<int>(g_off);
}

int scanp(const char* format, ...) {
    if (!format) return 0;
    va_list ap;
    va_start(ap, format);
    const std::size_t start = g_off;
    std::size_t pos = g_off;
    int assigned = 0;
    bool converted = false;  // some conversion was attempted on available text
    bool input_end = false;
    const char* f = format;
    while (*f) {
        if (space(*f)) {
            while (space(*f)) ++f;
            while (pos < g_line.size() && space(g_line[pos])) ++pos;
            continue;
        }
        if (*f != '%') {
            if (pos >= g_line.size()) {
                input_end = true;
                break;
            }
            if (g_line[pos] != *f) break;
            ++pos;
            ++f;
            continue;
        }
        ++f;
        if (*f == '%') {
            if (pos < g_line.size() && g_line[pos] == '%') {
                ++pos;
                ++f;
                continue;
            }
            break;
        }
        bool skip = false;
        int keep_max = -1;
        std::string missing_word;
        bool has_missing = false;
        std::size_t width = 0;
        bool is_long = false;
        // Modifiers and flags in any order before the conversion letter.
        for (;;) {
            if (*f == '*') {
                skip = true;
                ++f;
            } else if (*f == '<') {
                ++f;
                keep_max = 0;
                while (std::isdigit(static_cast<unsigned char>(*f))) keep_max = std::min(keep_max * 10 + (*f++ - '0'), 1 << 20);
            } else if (*f == '!') {
                ++f;
                const char* close = std::strchr(f, '!');
                if (!close) break;
                missing_word.assign(f, close);
                has_missing = true;
                f = close + 1;
            } else if (std::isdigit(static_cast<unsigned char>(*f))) {
                while (std::isdigit(static_cast<unsigned char>(*f))) width = std::min<std::size_t>(width * 10 + (*f++ - '0'), kMaxLine);
            } else if (*f == 'l') {
                is_long = true;
                ++f;
            } else {
                break;
            }
        }
        const char conv = *f;
        if (!conv) break;
        ++f;
        if (conv == 'n') {
            if (!skip) *va_arg(ap, int*) = static_cast<int>(pos - start);
            continue;
        }
        if (conv != 'c')
            while (pos < g_line.size() && space(g_line[pos])) ++pos;
        if (pos >= g_line.size()) {
            input_end = true;
            break;
        }
        converted = true;
        const std::size_t limit = width ? width : kMaxLine;
        if (conv == 's') {
            const std::size_t end = word_end(pos, limit);
            if (!skip) {
                char* dst = va_arg(ap, char*);
                const std::size_t keep = std::min(end - pos, static_cast<std::size_t>(keep_max >= 0 ? keep_max : kDefaultStringMax));
                std::memcpy(dst, g_line.data() + pos, keep);
                dst[keep] = '\0';
                ++assigned;
            }
            pos = end;
        } else if (conv == 'c') {
            const std::size_t n = std::min(width ? width : 1, g_line.size() - pos);
            if (!skip) {
                std::memcpy(va_arg(ap, char*), g_line.data() + pos, n);
                ++assigned;
            }
            pos += n;
        } else if (conv == 'f' || conv == 'e' || conv == 'g' || conv == 'd' || conv == 'i') {
            const bool integer = conv == 'd' || conv == 'i';
            const std::size_t wend = word_end(pos, limit);
            double v;
            std::size_t used;
            if (has_missing && g_line.compare(pos, wend - pos, missing_word) == 0) {
                v = -9999.0;
                used = wend - pos;
            } else {
                const std::string text = g_line.substr(pos, std::min(limit, g_line.size() - pos));
                char* endp = nullptr;
                if (integer) {
                    errno = 0;
                    const long x = std::strtol(text.c_str(), &endp, 10);
                    // A number that does not fit is no number, not the nearest one that does.
                    if (errno == ERANGE || x > 2147483647L || x < -2147483647L - 1) break;
                    v = static_cast<double>(x);
                } else {
                    // Only decimal forms: hexadecimal, infinity and NaN are no numbers here.
                    const std::size_t n = std::strspn(text.c_str(), "+-0123456789.eE");
                    const std::string dec = text.substr(0, n);
                    const char* b = dec.c_str();
                    v = std::strtod(b, &endp);
                    endp = const_cast<char*>(text.c_str()) + (endp - b);
                }
                used = static_cast<std::size_t>(endp - text.c_str());
                if (used == 0 || !std::isfinite(v)) break;
                if (!integer && !is_long && std::fabs(v) > 3.4028234663852886e38) break;
                // A number runs to the end of its word or to a sign that is no part of a
                // number (",", ":", "="): "0x1F" or "12abc" is no 0 or 12.
                const char after = pos + used < g_line.size() && used < limit ? g_line[pos + used] : '\0';
                if (std::isalnum(static_cast<unsigned char>(after)) || after == '.' || after == '_') break;
            }
            if (!skip) {
                if (integer)
                    *va_arg(ap, int*) = static_cast<int>(v);
                else if (is_long)
                    *va_arg(ap, double*) = v;
                else
                    *va_arg(ap, float*) = static_cast<float>(v);
                ++assigned;
            }
            pos += used;
        } else {
            break;  // unknown conversion
        }
    }
    va_end(ap);
    g_off = pos;
    if (input_end && !converted && assigned == 0) return -1;
    return assigned;
}
