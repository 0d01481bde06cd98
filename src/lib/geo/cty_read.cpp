// Station file access. Lines are read whole and then split, so that a short or damaged
// line costs only its own record instead of shifting every field of the rest of the file.
#include "cty_read.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "mess.hpp"
#include "string.hpp"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::unique_ptr<std::FILE, FileCloser> city_file;
int file_type = 0;
int cty_fd = -1;
int last_fd = 0;

constexpr int line_limit = 500;
constexpr int record_fields = 10;
constexpr float max_elevation = 9000.0f;
const char* const blanks = " \t\r\n\v\f";

bool is_open(int city_fd)
{
    return city_file && city_fd == cty_fd;
}

// PRIORITY is one digit, optionally preceded by '*' (model statistics) and followed by
// '*' (upper-air station).
bool decode_priority(const char* field, CTY_data* city)
{
    const char* c = field;
    city->mos = ' ';
    city->ua = ' ';
    if (*c == '*') {
        city->mos = '*';
        ++c;
    }
    if (*c < '0' || *c > '9') return false;
    city->prior = *c - '0';
    ++c;
    if (*c == '*') {
        city->ua = '*';
        ++c;
    }
    return *c == '\0';
}

// A whole field as a number; a field such as "12abc" is no number.
bool read_real(const char* field, float* value)
{
    char* end = nullptr;
    const float read = std::strtof(field, &end);
    if (end == field || *end != '\0') return false;
    *value = read;
    return true;
}

bool read_whole(const char* field, int* value)
{
    char* end = nullptr;
    const long read = std::strtol(field, &end, 10);
    if (end == field || *end != '\0' || read < INT_MIN || read > INT_MAX) return false;
    *value = static_cast<int>(read);
    return true;
}

// Reads the next line that is neither blank nor a comment into line. false at the end.
bool next_line(std::FILE* file, char* line, int size)
{
    while (std::fgets(line, size, file)) {
        const std::size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] != '\n' && !std::feof(file)) {
            // Longer than any station line: drop the rest of it.
            int c;
            while ((c = std::fgetc(file)) != EOF && c != '\n') {
            }
        }
        const char* text = line + std::strspn(line, " \t\r\n");
        if (*text != '\0' && *text != '#') return true;
    }
    return false;
}

} // namespace

void CTY_data_init(CTY_data* data)
{
    if (!data) return;
    data->name[0] = '\0';
    data->state[0] = '\0';
    data->region[0] = '\0';
    data->id[0] = '\0';
    data->prior = 9;
    data->mos = ' ';
    data->ua = ' ';
    data->lat = -9999.0f;
    data->lon = -9999.0f;
    data->el = -9999.0f;
    data->wmo = -9999;
    data->num = -9999;
}

int CTY_open(const char* filename, int f_access, int f_type)
{
    if (!filename || (f_access != 0 && f_access != 1)) {
        MESS_print(M_error, "CTY_open: Invalid file or access mode\n");
        return -1;
    }
    city_file.reset();
    cty_fd = -1;
    city_file.reset(std::fopen(filename, f_access == 0 ? "r" : "w"));
    if (!city_file) {
        MESS_print(M_debug, "CTY_open: Unable to open %s\n", filename);
        return -1;
    }
    file_type = f_type;
    cty_fd = ++last_fd;
    return cty_fd;
}

int CTY_getinfo(int city_fd, CTY_info* info)
{
    if (!is_open(city_fd) || !info) return -1;
    std::rewind(city_file.get());
    info->dtype = file_type;
    return 0;
}

int CTY_rewind(int city_fd)
{
    if (!is_open(city_fd)) return -1;
    std::rewind(city_file.get());
    return 0;
}

int CTY_close(int city_fd)
{
    if (!is_open(city_fd)) return -1;
    city_file.reset();
    cty_fd = -1;
    return 0;
}

int CTY_read(int city_fd, CTY_data* city)
{
    if (!is_open(city_fd) || !city) return -1;
    char line[line_limit + 2];
    if (!next_line(city_file.get(), line, sizeof line)) return -1;

    CTY_data_init(city);
    char* fields[record_fields] = {};
    int count = 0;
    for (char* token = std::strtok(line, blanks); token && count < record_fields; token = std::strtok(nullptr, blanks))
        fields[count++] = token;

    // Fields are taken whole, each up to its own blank: a long name is cut to its array
    // instead of spilling into the fields after it, which would shift the whole record.
    int read = 0;
    if (read < count) {
        str_copy(city->name, sizeof city->name, fields[read]);
        ++read;
    }
    char* const codes[] = {city->state, city->region, city->id};
    const std::size_t code_sizes[] = {sizeof city->state, sizeof city->region, sizeof city->id};
    for (int code = 0; code < 3 && read < count; ++code, ++read) {
        // A code that does not fit would be a different key once cut: refuse the record.
        if (str_copy(codes[code], code_sizes[code], fields[read]) != 0) {
            MESS_print(M_warn, "CTY_read: Field too long \"%s\" for station %s\n", fields[read], city->name);
            codes[code][0] = '\0';
            return read;
        }
    }
    if (read < count) {
        if (!decode_priority(fields[read], city)) {
            MESS_print(M_warn, "CTY_read: Invalid priority \"%s\" for station %s\n", fields[read], city->id);
            return 4;
        }
        ++read;
    }
    float elevation = -9999.0f;
    float* const reals[] = {&city->lat, &city->lon, &elevation};
    for (int real = 0; real < 3 && read < count; ++real, ++read)
        if (!read_real(fields[read], reals[real])) break;
    if (read == 8)
        for (int* number : {&city->wmo, &city->num}) {
            if (read >= count || !read_whole(fields[read], number)) break;
            ++read;
        }
    if (read >= 7 && !(std::fabs(city->lat) <= 90.0f && std::fabs(city->lon) <= 360.0f)) {
        MESS_print(M_warn, "CTY_read: Invalid position %g %g for station %s\n", city->lat, city->lon, city->id);
        city->lat = city->lon = -9999.0f;
        return 5;
    }
    if (read >= 8) city->el = elevation <= max_elevation ? elevation : -9999.0f;  // 9999 and NaN are missing
    return read;
}
