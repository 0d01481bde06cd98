// Unit conversions: factors written into the unit texts and named conversions from the units
// file, with a one-entry cache because grids convert the same pair for every point.
#include "unittool.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "files.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr M_type kTrace = 0x40000000u;
constexpr M_type kNoFile = 0x80000000u;
constexpr std::size_t kNameSize = 15;   // unit names in the units file, terminator included
constexpr const char* kUnitsFile = "units.lup";

struct Cache {
    bool valid = false;
    std::string in, out;        // unit texts with blanks for underscores
    double fin = 1.0, fout = 1.0;
    double scale = 1.0, offset = 0.0;
};
Cache cache;

std::string blanks_for_underscores(const char* text)
{
    std::string s = text ? text : "";
    for (char& c : s)
        if (c == '_') c = ' ';
    return s;
}

bool starts_number(const char* p)
{
    if (*p == '+' || *p == '-') ++p;
    if (*p == '.') ++p;
    return std::isdigit(static_cast<unsigned char>(*p)) != 0;
}

// Takes the factor off a unit text: "10^-3 m" -> 0.001 and "m"; "1000 m" -> 1000 and "m";
// "-m" -> -1 and "m". The name keeps inner blanks; leading and trailing ones are dropped.
double take_factor(const std::string& text, std::string& name, const char* tag)
{
    const char* p = text.c_str();
    while (*p == ' ') ++p;
    double factor = 1.0;
    if (starts_number(p)) {
        char* end = nullptr;
        const double base = std::strtod(p, &end);
        if (*end == '^' && starts_number(end + 1)) {
            char* end2 = nullptr;
            const double exponent = std::strtod(end + 1, &end2);
            if (*end2 == ' ' || *end2 == '\0') {
                factor = std::pow(base, exponent);
                MESS_print(kTrace, "%s^: %f^%f %f %s\n", tag, base, exponent, factor, end2);
                p = end2;
            }
        } else if (*end == ' ' || *end == '\0') {
            factor = base;
            MESS_print(kTrace, "%s: %f %s\n", tag, factor, end);
            p = end;
        }
    } else if (*p == '-') {
        factor = -1.0;
        ++p;
        MESS_print(kTrace, "%s-: %f %s\n", tag, factor, p);
    }
    while (*p == ' ') ++p;
    name = p;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return factor;
}

std::string underscores_for_blanks(std::string s)
{
    for (char& c : s)
        if (c == ' ') c = '_';
    return s;
}

// Other common spellings of the names the units file lists (compared ignoring case, blanks
// already turned into underscores).
struct Alias {
    const char* spelling;
    const char* name;
};
constexpr Alias kAliases[] = {
    {"\xc2\xb0" "C", "C"},        {"\xe2\x84\x83", "C"},  {"Celsius", "C"},      {"degree_Celsius", "C"},
    {"degrees_Celsius", "C"}, {"deg_C", "C"},          {"degC", "C"},         {"kelvin", "K"},
    {"kelvins", "K"},         {"degK", "K"},           {"deg_K", "K"},        {"\xc2\xb0" "F", "F"},
    {"Fahrenheit", "F"},      {"degree_Fahrenheit", "F"}, {"deg_F", "F"},     {"degF", "F"},
    {"m_s-1", "m/s"},         {"m_s**-1", "m/s"},      {"m_s^-1", "m/s"},     {"m*s**-1", "m/s"},
    {"metre/second", "m/s"},  {"meter/second", "m/s"}, {"kg_kg-1", "kg/kg"},  {"kg_kg**-1", "kg/kg"},
    {"g_kg-1", "g/kg"},       {"g_kg**-1", "g/kg"},    {"hPa", "mb"},         {"millibar", "mb"},
    {"metre", "m"},           {"meter", "m"},          {"metres", "m"},       {"meters", "m"},
};

// The name the units file uses for a spelling.
std::string canonical(const std::string& name)
{
    for (const Alias& a : kAliases)
        if (stricmp(a.spelling, name.c_str()) == 0) return a.name;
    return name;
}

std::string units_file_path()
{
    char path[FILE_NAME_SIZE];
    const char* directory = RES_get("file_path");
    if (directory && stricmp(directory, "none") == 0) directory = nullptr;
    FILE_add_path(directory, kUnitsFile, path, sizeof path);
#ifdef QAZ_SHARE_DIR
    if ((!directory || !*directory) && !FILE_exist(path)) {
        char shared[FILE_NAME_SIZE];
        FILE_add_path(QAZ_share_dir(), kUnitsFile, shared, sizeof shared);
        if (FILE_exist(shared)) return shared;
    }
#endif
    return path;
}

// "*scale", "+offset", "-offset" or "*scale+offset" / "*scale-offset".
void parse_conversion(const char* word, double* scale, double* offset)
{
    *scale = 1.0;
    *offset = 0.0;
    const char* p = word;
    if (*p == '*') {
        char* end = nullptr;
        *scale = std::strtod(p + 1, &end);
        p = end;
    }
    if (*p == '+' || *p == '-') *offset = std::strtod(p, nullptr);
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// Searches the units file for in -> out. 1 found, 0 not listed, -1 file unreadable.
int lookup(const std::string& in, const std::string& out, double* scale, double* offset)
{
    const std::string path = units_file_path();
    File file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file) {
        MESS_print(kNoFile, "Unable to open units file: %s\n", path.c_str());
        return -1;
    }
    char line[256];
    std::string words[3];
    int have = 0;
    while (std::fgets(line, sizeof line, file.get())) {
        char* save = nullptr;
        for (char* w = strtok_r(line, " \t\r\n", &save); w; w = strtok_r(nullptr, " \t\r\n", &save)) {
            if (have == 0 && w[0] == '#') break;   // comment to the end of the line
            words[have++] = w;
            if (have < 3) continue;
            have = 0;
            if (words[0].size() >= kNameSize) continue;
            if (stricmp(words[0].c_str(), in.c_str()) == 0 && stricmp(words[1].c_str(), out.c_str()) == 0) {
                parse_conversion(words[2].c_str(), scale, offset);
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

std::string UNIT_file_name() { return units_file_path(); }

int UNIT_clear_cache()
{
    cache = Cache{};
    return 0;
}

float UNIT_cvt(const char* iunit, const char* ounit, float value)
{
    if (value == kMissing) return kMissing;
    const std::string in = blanks_for_underscores(iunit);
    const std::string out = blanks_for_underscores(ounit);
    if (stricmp(in.c_str(), out.c_str()) == 0 || (out.empty() && !in.empty())) return value;
    if (!(cache.valid && stricmp(in.c_str(), cache.in.c_str()) == 0 &&
          stricmp(out.c_str(), cache.out.c_str()) == 0)) {
        Cache next;
        std::string in_name, out_name;
        next.fin = take_factor(in, in_name, "ISC");
        next.fout = take_factor(out, out_name, "OSC");
        in_name = canonical(underscores_for_blanks(in_name));
        out_name = canonical(underscores_for_blanks(out_name));
        if (stricmp(in_name.c_str(), out_name.c_str()) != 0) {
            const int found = lookup(in_name, out_name, &next.scale, &next.offset);
            // No file, no answer: caching it would turn the next call into a silent copy.
            if (found < 0) return 0.0f;
            if (found == 0)
                MESS_print(M_debug, "UNIT_cvt: No conversion from %s to %s\n", in_name.c_str(),
                           out_name.c_str());
        }
        MESS_print(kTrace, "%s %s %s %f %f\n", in_name.c_str(), out_name.c_str(), "SC/OF",
                   next.scale, next.offset);
        next.in = in;
        next.out = out;
        next.valid = true;
        cache = next;
    }
    if (cache.fout == 0.0) return kMissing;
    return static_cast<float>((cache.offset + cache.fin * value * cache.scale) / cache.fout);
}

int UNIT_linear(const char* iunit, const char* ounit, double* scale, double* offset)
{
    *scale = 1.0;
    *offset = 0.0;
    const std::string in = blanks_for_underscores(iunit);
    const std::string out = blanks_for_underscores(ounit);
    if (stricmp(in.c_str(), out.c_str()) == 0 || out.empty()) return 1;
    std::string in_name, out_name;
    const double fin = take_factor(in, in_name, "ISC");
    const double fout = take_factor(out, out_name, "OSC");
    if (fout == 0.0) return 0;
    in_name = canonical(underscores_for_blanks(in_name));
    out_name = canonical(underscores_for_blanks(out_name));
    double file_scale = 1.0, file_offset = 0.0;
    int found = 1;
    if (stricmp(in_name.c_str(), out_name.c_str()) != 0) {
        found = lookup(in_name, out_name, &file_scale, &file_offset);
        if (found < 0) return -1;
    }
    *scale = fin * file_scale / fout;
    *offset = file_offset / fout;
    return found;
}

int UNIT_scale(const char* in, const char* mstr, char* out, float scale, std::size_t size)
{
    std::string name;
    const double factor = take_factor(blanks_for_underscores(in), name, "SC-ISC");
    const double scaled = factor * scale;
    const int cut = str_format(out, size, "%.0e %s%s", scaled, name.c_str(), mstr ? mstr : "");
    MESS_print(kTrace, "SC: %s %e = %e = %s %s = %s\n", in ? in : "", factor, scaled, name.c_str(),
               mstr ? mstr : "", out);
    return cut;
}

int UNIT_parse(const char* str, char* var, char* units)
{
    var[0] = '\0';
    units[0] = '\0';
    if (!str || !*str) return 0;
    const char* open = std::strchr(str, '(');
    const std::size_t name_len = open ? static_cast<std::size_t>(open - str) : std::strlen(str);
    std::memcpy(var, str, name_len);
    var[name_len] = '\0';
    trim_string(var);
    if (open) {
        const char* close = std::strchr(open + 1, ')');
        const std::size_t len = close ? static_cast<std::size_t>(close - open - 1) : std::strlen(open + 1);
        std::memcpy(units, open + 1, len);
        units[len] = '\0';
    }
    MESS_print(kTrace, "%s = %s %s\n", str, var, units);
    return 0;
}

int UNIT_change(char* str, const char* units, std::size_t size)
{
    const std::size_t len = std::strlen(str) + 1;
    std::unique_ptr<char[]> var(new char[len]), old(new char[len]);
    UNIT_parse(str, var.get(), old.get());
    return str_format(str, size, "%s (%s)", var.get(), units ? units : "");
}
