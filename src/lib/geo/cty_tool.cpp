// Station database. The table is process-wide: one CTY_store fills it for the domain in
// use, after which decoders and plotters look stations up by any of its keys.
#include "cty_tool.hpp"

#include <fnmatch.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "tools.hpp"

namespace {

constexpr int key_identifier = 1;
constexpr int key_number = 2;
constexpr int key_location = 3;
constexpr int key_size = 16;
constexpr int ring_count = 50;

TAB_table city_tbl{};
int store = 0;
int id_type = 0;
int data_size = 0;
CTY_enter_fn enter_func = nullptr;
stat_FULL_data* stat_FULL_ptr = nullptr;
stat_XY_data* stat_XY_ptr = nullptr;

bool full_layout()
{
    return store == CTY_STORE_FULL;
}

void* caller_block(void* record)
{
    if (!record) return nullptr;
    return full_layout() ? static_cast<stat_FULL_data*>(record)->ptr : static_cast<stat_XY_data*>(record)->ptr;
}

void set_caller_block(void* record, void* block)
{
    if (full_layout()) static_cast<stat_FULL_data*>(record)->ptr = block;
    else static_cast<stat_XY_data*>(record)->ptr = block;
}

bool is_buoy(const CTY_data& city)
{
    return std::strcmp(city.region, "B_") == 0;
}

bool has_no_identifier(const char* id)
{
    return id[0] != '\0' && id[1] == '-';
}

void number_key(const CTY_data& city, char* key, std::size_t size)
{
    if (is_buoy(city)) str_format(key, size, "b%05d", city.wmo);
    else str_format(key, size, "%05d", city.wmo);
}

// Position in tenths of a degree, rounded to whole numbers before formatting: formatting
// the fractional value directly would give "-0" for small negative values and make such
// stations unreachable from the other side of the equator or the prime meridian.
void location_key(long lat10, long lon10, char* key, std::size_t size)
{
    if (lon10 > 1800) lon10 -= 3600;
    if (lon10 < -1800) lon10 += 3600;
    str_format(key, size, "%5ld%6ld", lat10, lon10);
}

void location_id(const CTY_data& city, const char* num_key, char* id, std::size_t size)
{
    switch (id_type) {
    case 1:
        str_copy(id, size, city.wmo == 99999 ? city.id : num_key);
        break;
    case 2:
        if (!has_no_identifier(city.id)) str_copy(id, size, city.id);
        else if (is_buoy(city)) str_format(id, size, "b%05d", city.wmo);
        else if (city.wmo < 0 || city.wmo > 99999 || wmo_to_id(id, city.wmo) != 0) str_copy(id, size, city.id);
        break;
    default:
        str_copy(id, size, has_no_identifier(city.id) ? num_key : city.id);
        break;
    }
}

// Allocates the caller-data block of a new station (first byte 0) and lets the caller's
// function fill it. Null without a block size or when memory runs out.
void* new_caller_block(const CTY_data& city)
{
    if (data_size <= 0) return nullptr;
    void* block = std::calloc(1, static_cast<std::size_t>(data_size));
    if (!block) {
        MESS_print(M_error, "CTY_store: Out of memory for station data\n");
        return nullptr;
    }
    if (enter_func) enter_func(&city, block);
    return block;
}

void free_caller_blocks()
{
    for (void* record = TAB_first(&city_tbl); record; record = TAB_next(&city_tbl)) {
        std::free(caller_block(record));
        set_caller_block(record, nullptr);
    }
}

bool is_digits(const char* text, int count)
{
    for (int i = 0; i < count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// Looks key up under the number key, falling back to the identifier key.
void* lookup(const char* id, const char* num_text)
{
    if (num_text) {
        if (void* found = TAB_search(&city_tbl, key_number, num_text)) return found;
    }
    return TAB_search(&city_tbl, key_identifier, id);
}

// Number key for an identifier given to CTY_search, or null when it is no number form.
const char* search_number_key(const char* id, char* buffer, std::size_t size)
{
    const std::size_t len = std::strlen(id);
    if (len == 5 && is_digits(id, 5)) return id;
    if (len == 6 && id[0] == 'b') return id;
    if (len == 5 && id[0] >= 'A' && id[0] <= 'Z' && is_digits(id + 2, 3)) {
        int wmo = -9999;
        if (id_to_wmo(id, &wmo) == 0) {
            str_format(buffer, size, "%5.5d", wmo);
            return buffer;
        }
    }
    return nullptr;
}

std::string station_file_name(const char* file)
{
    std::string name;
    if (file && *file) name = file;
    else if (const char* resource = RES_get("city_file"); resource && *resource) name = resource;
    else name = "sao.cty";
    return name;
}

int load_station(const CTY_data& city, int prior, int numid, char** ids)
{
    if (city.prior > prior || CTY_data_cmp(numid, ids, &city) < 0) return 0;
    char num_key[key_size];
    number_key(city, num_key, sizeof num_key);
    float x = -9999.0f;
    float y = -9999.0f;
    if (MAP_tran(city.lat, city.lon, &x, &y) != 1 || MAP_in_grid_domain(x, y) != 1) return 0;

    if (full_layout()) {
        stat_FULL_data record{};
        static_cast<CTY_data&>(record) = city;
        record.ptr = new_caller_block(city);
        if (TAB_enter(&city_tbl, &record, city.id, num_key) != 0) {
            std::free(record.ptr);
            return -1;
        }
        return 1;
    }
    stat_XY_data record{};
    location_id(city, num_key, record.id, sizeof record.id);
    record.wmo = city.wmo;
    record.x = x;
    record.y = y;
    record.el = city.el;
    record.pr = city.prior;
    record.ptr = new_caller_block(city);
    int entered;
    if (store == CTY_STORE_XY_LOC) {
        char loc_key[key_size];
        location_key(std::lround(10.0 * city.lat), std::lround(10.0 * city.lon), loc_key, sizeof loc_key);
        entered = TAB_enter(&city_tbl, &record, record.id, num_key, loc_key);
    } else {
        entered = TAB_enter(&city_tbl, &record, record.id, num_key);
    }
    if (entered != 0) {
        std::free(record.ptr);
        return -1;
    }
    return 1;
}

} // namespace

void CTY_data_size(int size)
{
    data_size = size > 0 ? size : 0;
}

void CTY_enter_func(CTY_enter_fn func)
{
    enter_func = func;
}

void CTY_set_id_type(int type)
{
    id_type = type >= 0 && type <= 2 ? type : 0;
}

TAB_table* CTY_get_table()
{
    return &city_tbl;
}

void CTY_clear()
{
    free_caller_blocks();
    TAB_clear(&city_tbl);
    stat_FULL_ptr = nullptr;
    stat_XY_ptr = nullptr;
}

int CTY_get_prior()
{
    const char* value = RES_get("stat_prior");
    if (!value || !*value) return 10;
    char* end = nullptr;
    const long prior = std::strtol(value, &end, 10);
    if (end == value || *end != '\0') return 10;
    return static_cast<int>(prior);
}

int CTY_open_file(const char* file, int* num_stats)
{
    if (num_stats) *num_stats = 0;
    const std::string name = station_file_name(file);
    if (stricmp(name.c_str(), "none") == 0) {
        MESS_print(M_debug, "CTY_open_file: Station database disabled\n");
        return -1;
    }
    char path[FILE_NAME_SIZE];
    const char* directory = RES_get("file_path");
    // "none" names no directory, as everywhere a path resource is read.
    if (directory && stricmp(directory, "none") == 0) directory = nullptr;
    FILE_add_path(directory, name.c_str(), path, sizeof path);
#ifdef QAZ_SHARE_DIR
    // Without a file_path setting the installed copy serves as the default.
    if ((!directory || !*directory) && !FILE_exist(path)) {
        char shared[FILE_NAME_SIZE];
        FILE_add_path(QAZ_share_dir(), name.c_str(), shared, sizeof shared);
        if (FILE_exist(shared)) str_copy(path, sizeof path, shared);
    }
#endif
    const int fd = CTY_open(path, 0, 0);
    if (fd < 0) {
        MESS_print(M_warn, "CTY_open_file: Database file not found: %s\n", path);
        return -1;
    }
    if (num_stats) {
        const long long bytes = FILE_size(path);
        long long estimate = bytes > 0 ? bytes / CTY_BYTES_PER_RECORD : 0;
        if (estimate > CTY_MAX_RECORDS) estimate = CTY_MAX_RECORDS;
        if (estimate < 1) estimate = 1;
        *num_stats = static_cast<int>(estimate);
    }
    return fd;
}

int CTY_get(const char* file, const char* id, CTY_data* data)
{
    if (!id || !data) return 0;
    MESS_print(M_mess, "Searching the city database file for: %s ...\n", id);
    int num_stats = 0;
    const int fd = CTY_open_file(file, &num_stats);
    if (fd < 0) return 0;
    CTY_data city;
    int found = 0;
    while (!found) {
        const int fields = CTY_read(fd, &city);
        if (fields < 0) break;
        if (fields < 7) continue;
        char number[key_size] = "";
        if (city.wmo != -9999) str_format(number, sizeof number, "%05d", city.wmo);
        found = stricmp(city.id, id) == 0 || stricmp(city.name, id) == 0 || (number[0] && stricmp(number, id) == 0);
    }
    CTY_close(fd);
    if (found) *data = city;
    return found;
}

int CTY_get_loc(const char* file, const char* id, float* lat, float* lon)
{
    CTY_data city;
    if (!CTY_get(file, id, &city)) return 0;
    if (lat) *lat = city.lat;
    if (lon) *lon = city.lon;
    return 1;
}

int CTY_store(const char* file, int type, const Domain* domain, int prior)
{
    if (type < CTY_STORE_FULL || type > CTY_STORE_XY_LOC) {
        MESS_print(M_error, "CTY_store: Invalid table layout: %d\n", type);
        return 0;
    }
    CTY_clear();
    store = type;
    int num_stats = 0;
    const int fd = CTY_open_file(file, &num_stats);
    if (fd < 0) return 0;
    if (domain) MAP_domain(domain);
    MESS_print(M_mess, "Reading the city database file...\n");

    int numid = 0;
    char** ids = nullptr;
    RES_getvals("identifier", &numid, &ids);
    if (numid == 1 && stricmp(ids[0], "all") == 0) {
        free_parsed_array(numid, ids);
        numid = 0;
        ids = nullptr;
    }
    if (prior == -9999) prior = CTY_get_prior();

    const int record_size = full_layout() ? sizeof(stat_FULL_data) : sizeof(stat_XY_data);
    const int keys = store == CTY_STORE_XY_LOC ? 3 : 2;
    if (TAB_create(&city_tbl, num_stats, record_size, keys) != 0) {
        if (ids) free_parsed_array(numid, ids);
        CTY_close(fd);
        return 0;
    }

    CTY_data city;
    int fields;
    while ((fields = CTY_read(fd, &city)) >= 0) {
        if (fields < 7) continue;
        if (load_station(city, prior, numid, ids) < 0) break;
    }
    if (ids) free_parsed_array(numid, ids);
    CTY_close(fd);
    MESS_print(M_debug, "CTY_store: %d stations loaded\n", city_tbl.num_entry);
    return fd;
}

int CTY_make_entry_simple(const char* id, const char* wmo)
{
    if (!id || !wmo) return -1;
    if (!city_tbl.table[0]) {
        store = CTY_STORE_FULL;
        if (TAB_create(&city_tbl, 100, sizeof(stat_FULL_data), 2) != 0) return -1;
    } else if (!full_layout()) {
        MESS_print(M_warn, "CTY_make_entry_simple: Station table holds locations, not records\n");
        return -1;
    }
    stat_FULL_data record{};
    CTY_data_init(&record);
    str_copy(record.id, sizeof record.id, id);
    char* end = nullptr;
    const long number = std::strtol(wmo, &end, 10);
    if (end != wmo && *end == '\0') record.wmo = static_cast<int>(number);
    record.ptr = new_caller_block(record);
    if (TAB_enter(&city_tbl, &record, id, wmo) != 0) {
        std::free(record.ptr);
        return -1;
    }
    return 0;
}

int CTY_search(const char* id, void* data)
{
    if (!id || !*id) return 0;
    char buffer[key_size];
    void* found = lookup(id, search_number_key(id, buffer, sizeof buffer));
    if (!found) return 0;
    if (full_layout()) {
        stat_FULL_ptr = static_cast<stat_FULL_data*>(found);
        if (data) *static_cast<CTY_data*>(data) = *stat_FULL_ptr;
    } else {
        stat_XY_ptr = static_cast<stat_XY_data*>(found);
        if (data) *static_cast<CTY_locate*>(data) = *stat_XY_ptr;
    }
    return 1;
}

int CTY_search_loc(float lat, float lon, CTY_locate* data)
{
    if (store != CTY_STORE_XY_LOC || !city_tbl.table[0]) {
        MESS_print(M_debug, "CTY_search_loc: No location table loaded\n");
        return 0;
    }
    if (!(std::fabs(lat) <= 90.0f && std::fabs(lon) <= 360.0f)) return 0;
    const long lat10 = std::lround(10.0 * lat);
    const long lon10 = std::lround(10.0 * lon);
    char key[key_size];
    const auto try_place = [&](long place_lat10, long place_lon10) {
        location_key(place_lat10, place_lon10, key, sizeof key);
        void* found = TAB_search(&city_tbl, key_location, key);
        if (!found) return false;
        stat_XY_ptr = static_cast<stat_XY_data*>(found);
        if (data) *data = *stat_XY_ptr;
        return true;
    };
    // Square rings of growing size. Within a ring the four sides are walked together, each
    // from one cell past its first corner to its last, so in the first ring a station
    // straight north, east, south or west wins over one on a diagonal.
    for (long ring = 0; ring < ring_count; ++ring) {
        for (long step = ring > 0 ? 1 - ring : 0; step <= ring; ++step) {
            if (try_place(lat10 + ring, lon10 + step) || try_place(lat10 + step, lon10 + ring) ||
                try_place(lat10 - ring, lon10 + step) || try_place(lat10 + step, lon10 - ring))
                return 1;
        }
        // The sides above leave out the south-west corner; a station there is as near as
        // the other corners and must not be skipped.
        if (ring > 0 && try_place(lat10 - ring, lon10 - ring)) return 1;
    }
    return 0;
}

void* CTY_get_data(const char* key)
{
    if (!key || !*key || !city_tbl.table[0]) return nullptr;
    const std::size_t len = std::strlen(key);
    char buffer[key_size];
    const char* num_text = nullptr;
    if (len == 5 && key[0] >= '0' && key[0] <= '9') {
        num_text = key;
    } else if (len == 4 && key[0] >= 'a' && key[0] <= 'z') {
        int wmo = -9999;
        if (id_to_wmo(key, &wmo) == 0) {
            str_format(buffer, sizeof buffer, "%5.5d", wmo);
            num_text = buffer;
        }
    }
    return caller_block(lookup(key, num_text));
}

void* CTY_next_data(int next)
{
    void* record = next == 0 ? TAB_first(&city_tbl) : TAB_next(&city_tbl);
    while (record && !caller_block(record)) record = TAB_next(&city_tbl);
    return caller_block(record);
}

void CTY_clear_data(int flag)
{
    if (!flag) {
        free_caller_blocks();
        return;
    }
    for (void* record = TAB_first(&city_tbl); record; record = TAB_next(&city_tbl))
        if (void* block = caller_block(record)) static_cast<char*>(block)[0] = '\0';
}

int CTY_id_cmp(const char* ids, const char* id)
{
    if (!ids || !id) return 0;
    return fnmatch(ids, id, FNM_CASEFOLD) == 0 ? 1 : 0;
}

int CTY_ids_cmp(int numid, char** ids, const char* id)
{
    if (numid <= 0 || !ids) return 0;
    for (int i = 0; i < numid; ++i)
        if (CTY_id_cmp(ids[i], id)) return i;
    return -1;
}

int CTY_data_cmp(int numid, char** ids, const CTY_data* data)
{
    if (numid <= 0 || !ids) return 0;
    if (!data) return -1;
    char number[key_size] = "";
    if (data->wmo != -9999) str_format(number, sizeof number, "%05d", data->wmo);
    for (int i = 0; i < numid; ++i) {
        const char* entry = ids[i];
        if (!entry || !*entry) continue;
        if (CTY_id_cmp(entry, data->id) || (number[0] && std::strcmp(entry, number) == 0)) return i;
        if (std::strlen(entry) == 2 && (stricmp(entry, data->state) == 0 || stricmp(entry, data->region) == 0))
            return i;
    }
    return -1;
}
