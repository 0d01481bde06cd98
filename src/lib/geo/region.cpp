// Regions and domains. A domain string is tried against a fixed list of layouts, longest
// first; the first layout whose every item reads decides what the items mean.
#include "region.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cty_tool.hpp"
#include "files.hpp"
#include "flag.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

constexpr float missing = -9999.0f;
constexpr int default_nx = 25;
constexpr int default_ny = 17;
constexpr float default_spacing = 1.2f;
constexpr float zoom_spacing = 1.0f;
constexpr int proj_ps = 1;
constexpr int proj_zoom = 50;
constexpr int proj_size = 51;
constexpr int max_file_regions = 19;
constexpr std::size_t max_description = 20;
constexpr std::size_t max_abbreviation = 5;
constexpr int max_region_depth = 8;   // regions naming regions: a loop must end somewhere
constexpr int prompt_tries = 5;
const char* const default_region_file = "qaz.reg";

struct Keyword {
    const char* word;
    int compared;   // leading characters compared; 0 for the whole word
    int code;
};

// Tested in order, the first match wins. "lambaz" is what DOM_print writes for the
// azimuthal projection; it must come before "lamb" to decode back to the same code.
constexpr Keyword keywords[] = {
    {"ll", 2, 2},      {"lat", 3, 2},     {"polar", 5, 1},  {"ps", 2, 1},     {"sat", 3, 9},
    {"lambaz", 6, 8},  {"lamb", 4, 4},    {"lc", 2, 4},     {"la", 2, 8},     {"gn", 2, 6},
    {"or", 2, 5},      {"mo", 2, 7},      {"me", 2, 3},     {"pix", 3, 99},   {"xy", 2, 20},
    {"xlogy", 5, 22},  {"xlogp", 5, 22},  {"cat", 3, 24},   {"skewt", 5, 40}, {"ema", 3, 42},
    {"teph", 4, 43},   {"rteph", 5, 44},  {"therm", 5, 40}, {"stuve", 5, 41}, {"hodo", 4, 23},
    {"vert", 4, 22},   {"xp", 0, 25},     {"zoom", 4, 50},  {"size", 4, 51},  {"miss", 0, -9999},
    {"gauss", 5, MAP_GAUSSIAN}, {"rotll", 5, MAP_ROTATED},
};

struct ProjName {
    int code;
    const char* name;
};

constexpr ProjName proj_names[] = {
    {1, "pstereo"}, {2, "latlon"}, {3, "merc"},  {4, "lamb"},   {5, "ortho"},  {6, "gnom"},  {7, "moll"},
    {8, "lambaz"},  {9, "sat"},    {20, "xy"},   {21, "xz"},    {22, "xlogp"}, {23, "polar"}, {24, "cat"},
    {40, "skewt"},  {41, "stuve"}, {42, "ema"},  {50, "zoom"},  {99, "pixel"},
    {MAP_GAUSSIAN, "gauss"}, {MAP_ROTATED, "rotll"},
};

struct BuiltIn {
    const char* abbr;
    const char* name;
    float clat;
    float clon;
    float spacing;
};

// clat/clon of "var" are asked for when it is chosen.
constexpr BuiltIn built_in[] = {
    {"us", "Contiguous US", 39.0f, -97.0f, 2.3f},  {"ne", "New England", 42.0f, -76.0f, 0.9f},
    {"at", "Atlantic", 37.0f, -82.0f, 0.9f},        {"se", "Southeastern", 31.0f, -88.0f, 1.1f},
    {"mw", "Midwestern", 43.0f, -93.0f, 1.1f},      {"sp", "Southern Plains", 32.5f, -100.0f, 1.2f},
    {"nw", "Northwestern", 44.0f, -112.0f, 1.0f},   {"sw", "Southwestern", 37.0f, -112.0f, 1.0f},
    {"var", "Variable", missing, missing, 1.2f},
};

// One layout: the field of each item in order, and what DOM_decode reports for it.
struct Layout {
    int fields[8];
    const char* label;
};

constexpr Layout layouts[] = {
    {{DOM_P_PROJ, DOM_P_NX, DOM_P_NY}, "size,nx,ny"},
    {{DOM_P_PROJ, DOM_P_PLON, DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY, DOM_P_DX, DOM_P_DY},
     "proj,plon,clat,clon,nx,ny,dx,dy"},
    {{DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY, DOM_P_DX, DOM_P_DY}, "proj,clat,clon,nx,ny,dx,dy"},
    {{DOM_P_PROJ, DOM_P_PLON, DOM_P_CLAT, DOM_P_CLON, DOM_P_DX, DOM_P_DY}, "proj,plon,clat,clon,dx,dy"},
    {{DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY, DOM_P_DX}, "proj,clat,clon,nx,ny,dx"},
    {{DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY, DOM_P_DX, DOM_P_DY}, "clat,clon,nx,ny,dx,dy"},
    {{DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON, DOM_P_DX, DOM_P_DY}, "proj,clat,clon,dx,dy"},
    {{DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY, DOM_P_DX}, "clat,clon,nx,ny,dx"},
    {{DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON, DOM_P_DX}, "proj,clat,clon,dx"},
    {{DOM_P_CLAT, DOM_P_CLON, DOM_P_NX, DOM_P_NY}, "clat,clon,nx,ny"},
    {{DOM_P_CLAT, DOM_P_CLON, DOM_P_DX}, "clat,clon,dx"},
    {{DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON}, "proj,clat,clon"},
    {{DOM_P_CLAT, DOM_P_CLON}, "clat,clon"},
    {{DOM_P_STATION}, "id:###"},
    {{DOM_P_REGION}, "reg:REG"},
};
constexpr int size_layout = 0;

MENU_item reg_menu[DOM_MENU_SIZE];
int num_regs = 0;
bool menu_from_file = false;
int priority = -9999;
int loc_prior = -9999;
int prompt_region = 1;
int region_depth = 0;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void fill_menu_item(MENU_item& item, const char* abbr, const char* name, int display)
{
    item = MENU_item{};
    str_copy(item.abbr, sizeof item.abbr, abbr);
    str_copy(item.name, sizeof item.name, name);
    item.index = display;
    item.disp[0] = display;
}

void ensure_menu()
{
    if (num_regs > 0) return;
    fill_menu_item(reg_menu[0], "back", "Return to previous menu", 0);
    int entry = 1;
    for (const BuiltIn& region : built_in) {
        fill_menu_item(reg_menu[entry], region.abbr, region.name, entry);
        ++entry;
    }
    num_regs = entry;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char delim)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(delim, start);
        items.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return items;
}

bool starts_with_nocase(const std::string& text, const char* prefix)
{
    const std::size_t len = std::strlen(prefix);
    return text.size() >= len && strnicmp(text.c_str(), prefix, static_cast<int>(len)) == 0;
}

bool read_float(const std::string& text, float* value)
{
    const std::string item = trimmed(text);
    if (item.empty()) return false;
    char* end = nullptr;
    const float read = std::strtof(item.c_str(), &end);
    if (*end != '\0' || !std::isfinite(read)) return false;
    *value = read;
    return true;
}

bool read_int(const std::string& text, int* value)
{
    const std::string item = trimmed(text);
    if (item.empty()) return false;
    char* end = nullptr;
    const long read = std::strtol(item.c_str(), &end, 10);
    if (*end != '\0' || read < -1000000 || read > 1000000) return false;
    *value = static_cast<int>(read);
    return true;
}

// Region file path: the name in the directory of "file_path"; without that resource the
// installed copy serves when the name is not found where we stand.
std::string region_file_path(const char* file)
{
    const char* name = file && *file ? file : default_region_file;
    char path[FILE_NAME_SIZE];
    const char* directory = RES_get("file_path");
    // "none" names no directory, as everywhere a path resource is read.
    if (directory && stricmp(directory, "none") == 0) directory = nullptr;
    FILE_add_path(directory, name, path, sizeof path);
#ifdef QAZ_SHARE_DIR
    if ((!directory || !*directory) && !FILE_exist(path)) {
        char shared[FILE_NAME_SIZE];
        FILE_add_path(QAZ_share_dir(), name, shared, sizeof shared);
        if (FILE_exist(shared)) return shared;
    }
#endif
    return path;
}

struct RegionLine {
    std::string abbr;       // cut to the menu's five characters
    std::string full_abbr;  // as written: a longer abbreviation is still found by its whole name
    std::string description;
    int display = 0;
    std::string domain;
};

// Reads the region lines of a file (comments and malformed lines skipped); a line with one
// field is a bare domain string. false when the file cannot be opened.
bool read_region_file(const char* file, std::vector<RegionLine>* lines)
{
    const std::string path = region_file_path(file);
    FilePtr input(std::fopen(path.c_str(), "r"));
    if (!input) {
        MESS_print(M_debug, "Unable to open region file: %s\n", path.c_str());
        return false;
    }
    char buffer[DOM_LINE_SIZE + 1];
    while (std::fgets(buffer, sizeof buffer, input.get())) {
        const std::size_t len = std::strlen(buffer);
        if (len > 0 && buffer[len - 1] != '\n' && !std::feof(input.get())) {
            MESS_print(M_warn, "Region file line too long in %s\n", path.c_str());
            int c;
            while ((c = std::fgetc(input.get())) != EOF && c != '\n') {
            }
            continue;
        }
        const std::string line = trimmed(buffer);
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::size_t pos = 0;
        while (pos < line.size()) {
            const std::size_t start = line.find_first_not_of(" \t", pos);
            if (start == std::string::npos) break;
            const std::size_t end = line.find_first_of(" \t", start);
            fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
            pos = end == std::string::npos ? line.size() : end;
        }
        RegionLine region;
        if (fields.size() == 1) {
            region.domain = fields[0];
        } else if (fields.size() == 4 && read_int(fields[2], &region.display)) {
            region.full_abbr = fields[0];
            region.abbr = fields[0].substr(0, max_abbreviation);
            region.description = fields[1].substr(0, max_description);
            for (char& c : region.description)
                if (c == '_') c = ' ';
            region.domain = fields[3];
        } else {
            MESS_print(M_debug, "Region file %s: line skipped: %s\n", path.c_str(), line.c_str());
            continue;
        }
        lines->push_back(region);
    }
    return true;
}

int decode_items(const std::vector<std::string>& items, Domain* domain);

// Decodes the DOMAIN text of a region; regions may name regions, up to a limited depth.
bool decode_region_text(const std::string& text, Domain* domain)
{
    if (region_depth >= max_region_depth) {
        MESS_print(M_warn, "DOM_decode: Regions nested too deeply: %s\n", text.c_str());
        return false;
    }
    ++region_depth;
    Domain decoded;
    DOM_init(&decoded);
    const int result = decode_items(split(text, ','), &decoded);
    --region_depth;
    if (result != DOM_DECODE_VALUES && result != DOM_DECODE_REGION) return false;
    *domain = decoded;
    return true;
}

bool search_and_decode(const char* file, const char* name, Domain* domain)
{
    char text[DOM_LINE_SIZE];
    if (!DOM_search_file(file, name, text, sizeof text)) return false;
    return decode_region_text(text, domain);
}

bool read_region_item(const std::string& item, Domain* domain)
{
    if (item.empty()) return false;
    if (starts_with_nocase(item, "fi:")) return search_and_decode(item.c_str() + 3, nullptr, domain);
    const std::size_t colon = item.find(':');
    if (colon != std::string::npos) {
        const std::string file = item.substr(0, colon);
        const std::string name = item.substr(colon + 1);
        if (name.empty()) {
            if (!DOM_read_menu(file.c_str())) return false;
            return search_and_decode(file.c_str(), num_regs > 1 ? reg_menu[1].abbr : nullptr, domain);
        }
        return search_and_decode(file.c_str(), name.c_str(), domain);
    }
    // A region file line whose DOMAIN is its own name stands for the built-in region.
    char text[DOM_LINE_SIZE];
    if (DOM_search_file(nullptr, item.c_str(), text, sizeof text) && stricmp(trimmed(text).c_str(), item.c_str()) != 0)
        return decode_region_text(text, domain);
    return DOM_get_def_region(item.c_str(), domain) == 1;
}

// The last station item looked up: one decode tries several layouts, and each would
// otherwise read the station file again. Forgotten at the start of every decode.
struct StationLookup {
    std::string item;
    bool found = false;
    float lat = missing;
    float lon = missing;
};
StationLookup last_station;

// "id:IDENT" or "id:FILE:IDENT": the station's position.
bool read_station_item(const std::string& item, float* lat, float* lon)
{
    if (!starts_with_nocase(item, "id:")) return false;
    if (item != last_station.item) {
        const std::string rest = item.substr(3);
        const std::size_t colon = rest.find(':');
        const std::string file = colon == std::string::npos ? "" : rest.substr(0, colon);
        const std::string ident = colon == std::string::npos ? rest : rest.substr(colon + 1);
        last_station = StationLookup{item};
        last_station.found = !ident.empty() && CTY_get_loc(file.empty() ? nullptr : file.c_str(), ident.c_str(),
                                                           &last_station.lat, &last_station.lon) == 1;
    }
    if (!last_station.found) return false;
    *lat = last_station.lat;
    *lon = last_station.lon;
    return true;
}

// Projection item: KEYWORD[:e][:plat][:plon][:param...] or KEYWORD:plon.
bool read_proj_item(const std::string& item, Domain* domain)
{
    std::vector<std::string> parts = split(trimmed(item), ':');
    for (std::string& part : parts) part = trimmed(part);
    const int code = DOM_proj_str(parts[0].c_str());
    if (code == -1) {
        domain->proj = proj_ps;
        return false;
    }
    domain->proj = code;
    std::size_t next = 1;
    if (parts.size() > 1 && stricmp(parts[1].c_str(), "e") == 0) {
        domain->ellipse = 1;
        next = 2;
    }
    const std::size_t values = parts.size() - next;
    // A Gaussian grid has no pole to give: its one value is N.
    if (values == 1 && code == MAP_GAUSSIAN)
        return trimmed(parts[next]).empty() || read_float(parts[next], &domain->param[0]);
    if (values == 1) return trimmed(parts[next]).empty() || read_float(parts[next], &domain->plon);
    float* targets[] = {&domain->plat, &domain->plon, &domain->param[0], &domain->param[1],
                        &domain->param[2], &domain->param[3]};
    if (values > std::size(targets)) return false;
    for (std::size_t i = 0; i < values; ++i) {
        if (trimmed(parts[next + i]).empty()) continue;
        if (!read_float(parts[next + i], targets[i])) return false;
    }
    return true;
}

// Tries one layout on the items; 0 when every item was used and read.
int apply_layout(const std::vector<std::string>& items, const int* fields, int num_fields, Domain* domain)
{
    Domain work;
    DOM_init(&work);
    std::size_t item = 0;
    bool skip_clon = false;
    int result = DOM_DECODE_VALUES;
    for (int f = 0; f < num_fields && fields[f] != 0; ++f) {
        const int field = fields[f];
        if (field == DOM_P_CLON && skip_clon) {
            skip_clon = false;
            continue;
        }
        if (item >= items.size()) return 1;
        const std::string& text = items[item++];
        bool read = false;
        switch (field) {
        case DOM_P_PROJ: read = read_proj_item(text, &work); break;
        case DOM_P_PLON: read = read_float(text, &work.plon); break;
        case DOM_P_STATION: read = read_station_item(text, &work.clat, &work.clon); break;
        case DOM_P_CLAT:
            if (starts_with_nocase(text, "id:")) {
                read = read_station_item(text, &work.clat, &work.clon);
                skip_clon = true;
            } else {
                read = read_float(text, &work.clat);
            }
            break;
        case DOM_P_CLON: read = read_float(text, &work.clon); break;
        // A grid needs at least one point and a spacing other than zero: the grid
        // transforms divide by it.
        case DOM_P_NX: read = read_int(text, &work.nx) && work.nx >= 1; break;
        case DOM_P_NY: read = read_int(text, &work.ny) && work.ny >= 1; break;
        case DOM_P_DX: read = read_float(text, &work.dx) && work.dx != 0.0f; break;
        case DOM_P_DY: read = read_float(text, &work.dy) && work.dy != 0.0f; break;
        case DOM_P_REGION:
            read = read_region_item(trimmed(text), &work);
            result = DOM_DECODE_REGION;
            break;
        default: break;
        }
        if (!read) return 1;
    }
    if (item != items.size()) return 1;
    // On a map (polar stereographic when no keyword is given) a centre beyond a pole means
    // the items were meant for another layout, as "lc,40,-100,25,17,0.5" is P,LAT,LON,NX,NY,DX.
    const bool on_earth = work.proj == -9999 || MAP_is_earth(work.proj);
    if (on_earth && work.clat != missing && std::fabs(work.clat) > 90.0f) return 1;
    *domain = work;
    return result == DOM_DECODE_REGION ? -DOM_DECODE_REGION : 0;
}

void apply_defaults(Domain* domain)
{
    if (domain->proj == -9999) domain->proj = proj_ps;
    if (domain->nx == -9999) domain->nx = default_nx;
    if (domain->ny == -9999) domain->ny = default_ny;
    if (domain->dx == missing) domain->dx = domain->proj == proj_zoom ? zoom_spacing : default_spacing;
    if (domain->dy == missing) domain->dy = domain->dx;
}

// The layouts in order; DOM_DECODE_VALUES, DOM_DECODE_REGION or DOM_DECODE_INVALID.
int decode_items(const std::vector<std::string>& raw_items, Domain* domain)
{
    std::vector<std::string> items;
    for (const std::string& item : raw_items) items.push_back(trimmed(item));
    int index = 0;
    for (const Layout& layout : layouts) {
        const int* fields = layout.fields;
        int num_fields = 0;
        while (num_fields < 8 && fields[num_fields] != 0) ++num_fields;
        // A station item may stand for LAT and LON together wherever LAT appears.
        bool has_station_slot = false;
        for (int f = 0; f < num_fields; ++f) has_station_slot = has_station_slot || fields[f] == DOM_P_CLAT;
        const std::size_t shortest = static_cast<std::size_t>(num_fields) - (has_station_slot ? 1 : 0);
        if (items.size() < shortest || items.size() > static_cast<std::size_t>(num_fields)) {
            ++index;
            continue;
        }
        Domain work;
        const int tried = apply_layout(items, fields, num_fields, &work);
        if (tried > 0 || (index == size_layout && work.proj != proj_size)) {
            ++index;
            continue;
        }
        MESS_print(M_debug, "%2d %s\n", index, layout.label);
        if (tried == -DOM_DECODE_REGION) {
            *domain = work;
            return DOM_DECODE_REGION;
        }
        if (work.proj == proj_size && index != size_layout && num_fields == 3) {
            // size,NX,NY written through P,LAT,LON: the two numbers are the grid size.
            const auto grid_size = [](float value) { return value >= 1.0f && value <= 1.0e6f; };
            if (!grid_size(work.clat) || !grid_size(work.clon)) {
                ++index;
                continue;
            }
            work.nx = static_cast<int>(work.clat);
            work.ny = static_cast<int>(work.clon);
            work.clat = work.clon = missing;
        } else if (index != size_layout) {
            apply_defaults(&work);
        }
        *domain = work;
        return DOM_DECODE_VALUES;
    }
    return DOM_DECODE_INVALID;
}

} // namespace

void DOM_init(Domain* domain)
{
    if (!domain) return;
    domain->proj = -9999;
    domain->plat = missing;
    domain->plon = missing;
    for (float& value : domain->param) value = missing;
    domain->clat = missing;
    domain->clon = missing;
    domain->dx = missing;
    domain->dy = missing;
    domain->nx = -9999;
    domain->ny = -9999;
    domain->ellipse = 0;
}

int DOM_decode(const char* str, Domain* domain)
{
    if (!domain) return DOM_DECODE_INVALID;
    const std::string text = str ? trimmed(str) : "";
    int result;
    if (text.empty() || stricmp(text.c_str(), "miss") == 0) {
        DOM_init(domain);
        result = DOM_MISSING;
    } else {
        const std::vector<std::string> items = split(text, ',');
        last_station = StationLookup{};
        MESS_print(M_debug, "******** PARSING DOMAIN: %d %s\n", static_cast<int>(items.size()), text.c_str());
        Domain decoded;
        DOM_init(&decoded);
        result = decode_items(items, &decoded);
        if (result == DOM_DECODE_INVALID) {
            MESS_print(M_warn, "DOM_decode: Invalid plot domain\n");
        } else {
            *domain = decoded;
            if (domain->ny != -9999 && domain->dy != missing) DOM_set_base_prior((domain->ny - 1) * domain->dy);
        }
    }
    FLAG_set(DOM_REGION_FLAG, result);
    FILE_set_key('r', text.c_str());
    return result;
}

int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2, int i3, int i4, int i5, int i6,
                   int i7, int i8)
{
    if (!domain || paramc < 1 || !paramv) return 1;
    for (int i = 0; i < paramc; ++i)
        if (!paramv[i]) return 1;
    if (stricmp(paramv[0], "miss") == 0 || stricmp(paramv[0], "none") == 0) {
        DOM_init(domain);
        return 0;
    }
    // Each call stands alone: the station file or its directory may have changed since the
    // last decode, so a remembered station lookup must not answer for this one.
    last_station = StationLookup{};
    const int fields[8] = {i1, i2, i3, i4, i5, i6, i7, i8};
    std::vector<std::string> items;
    for (int i = 0; i < paramc; ++i) items.push_back(trimmed(paramv[i]));
    return apply_layout(items, fields, 8, domain) > 0 ? 1 : 0;
}

int DOM_proj_str(const char* proj)
{
    if (!proj) return -1;
    for (const Keyword& keyword : keywords) {
        const bool match = keyword.compared == 0
                               ? stricmp(proj, keyword.word) == 0
                               : static_cast<int>(std::strlen(proj)) >= keyword.compared &&
                                     strnicmp(proj, keyword.word, keyword.compared) == 0;
        if (match) return keyword.code;
    }
    return -1;
}

int DOM_get_def_region(const char* region, Domain* domain)
{
    if (!region || !domain) return 0;
    for (const BuiltIn& entry : built_in) {
        if (stricmp(region, entry.abbr) != 0) continue;
        float clat = entry.clat;
        float clon = entry.clon;
        if (clat == missing) {
            clat = QAZ_promptf("Enter the central latitude: ");
            if (clat == missing) return 0;
            clon = QAZ_promptf("Enter the central longitude: ");
            if (clon == missing) return 0;
        }
        DOM_init(domain);
        domain->proj = proj_ps;
        domain->clat = clat;
        domain->clon = clon;
        domain->plon = clon;
        domain->nx = default_nx;
        domain->ny = default_ny;
        domain->dx = domain->dy = entry.spacing;
        return 1;
    }
    return 0;
}

int DOM_read_menu(const char* file)
{
    ensure_menu();
    std::vector<RegionLine> lines;
    if (!read_region_file(file, &lines)) return 0;
    int entry = 1;
    for (const RegionLine& line : lines) {
        if (line.abbr.empty()) continue;
        if (entry > max_file_regions) break;
        fill_menu_item(reg_menu[entry], line.abbr.c_str(), line.description.c_str(), line.display);
        ++entry;
    }
    num_regs = entry;
    menu_from_file = true;
    return 1;
}

int DOM_search_file(const char* file, const char* str, char* domstr, std::size_t size)
{
    if (!domstr || size == 0) return 0;
    std::vector<RegionLine> lines;
    if (!read_region_file(file, &lines)) return 0;
    for (const RegionLine& line : lines) {
        if (str && stricmp(line.abbr.c_str(), str) != 0 && stricmp(line.full_abbr.c_str(), str) != 0) continue;
        if (str_copy(domstr, size, line.domain.c_str()) != 0) {
            MESS_print(M_warn, "DOM_search_file: Domain of %s too long\n", line.abbr.c_str());
            return 0;
        }
        return 1;
    }
    return 0;
}

int DOM_print_file(const char* file)
{
    std::vector<RegionLine> lines;
    if (!read_region_file(file, &lines)) return 0;
    MESS_print(M_print, " Abbr    Description\n");
    for (const RegionLine& line : lines)
        if (!line.abbr.empty()) MESS_print(M_print, "%-8s %-50s\n", line.abbr.c_str(), line.description.c_str());
    return 1;
}

namespace {

const char* resource_value(const char* name)
{
    const char* value = RES_get(name);
    return value && *value ? value : nullptr;
}

int decode_first_menu_region(Domain* domain)
{
    if (!menu_from_file) DOM_read_menu(nullptr);
    ensure_menu();
    return num_regs > 1 ? DOM_decode(reg_menu[1].abbr, domain) : 0;
}

} // namespace

int DOM_get_region(Domain* domain, int flag)
{
    const char* value = nullptr;
    if (flag == 1 || flag == 3 || flag == 4) value = resource_value("plot_domain");
    if (!value) value = resource_value("region");
    if (value) return DOM_decode(value, domain);
    if (flag == 4) return decode_first_menu_region(domain);
    return 0;
}

int DOM_get_grid_domain(Domain* domain)
{
    for (const char* name : {"grid_domain", "region", "plot_domain"})
        if (const char* value = resource_value(name)) return DOM_decode(value, domain);
    return 0;
}

int DOM_prompt_region(Domain* domain, int flag)
{
    if (!prompt_region) return 0;
    const char* value = flag == 1 ? resource_value("plot_domain") : nullptr;
    if (!value) value = resource_value("region");
    if (value) return DOM_decode(value, domain);
    if (FLAG_batch()) return decode_first_menu_region(domain);
    if (!menu_from_file) DOM_read_menu(nullptr);
    ensure_menu();
    for (int attempt = 0; attempt < prompt_tries; ++attempt) {
        char answer[DOM_LINE_SIZE] = "";
        const int choice = MENU_process("\n        Region Menu\n", "Enter the region: ", reg_menu, num_regs, answer,
                                        sizeof answer);
        if (choice < 0) QAZ_exit(0);
        if (choice == 0) return 0;
        if (stricmp(answer, "list") == 0) {
            DOM_print_file(nullptr);
            continue;
        }
        const int result = DOM_decode(answer, domain);
        if (result == DOM_DECODE_VALUES || result == DOM_DECODE_REGION) return result;
        MESS_print(M_warn, "Invalid domain\n");
    }
    return 0;
}

void DOM_set_prompt_region(int flag)
{
    prompt_region = flag;
}

const char* DOM_get_region_name(int region)
{
    ensure_menu();
    if (region < 0 || region >= num_regs) return "";
    return reg_menu[region].name;
}

void DOM_set_base_prior(float size)
{
    if (size > 50.0f) priority = 1;
    else if (size > 25.0f) priority = 2;
    else if (size > 12.5f) priority = 3;
    else if (size > 6.25f) priority = 4;
    else if (size > 3.0f) priority = 5;
    else priority = 6;
    const char* adjust = RES_get("stat_prior");
    if (!adjust) return;
    if ((adjust[0] == '+' || adjust[0] == '-') && adjust[1] >= '0' && adjust[1] <= '9')
        priority += (adjust[0] == '+' ? 1 : -1) * (adjust[1] - '0');
    else if (adjust[0] >= '0' && adjust[0] <= '9')
        priority = adjust[0] - '0';
}

void DOM_set_prior(int p)
{
    priority = p;
}

int DOM_get_prior()
{
    return priority;
}

void DOM_set_loc_prior(int p)
{
    loc_prior = p;
}

int DOM_get_loc_prior()
{
    return loc_prior;
}

int DOM_comp_proj(const Domain* dom1, const Domain* dom2)
{
    if (!dom1 || !dom2) return 0;
    const auto same_pole = [](float a, float b, float centre_a, float centre_b) {
        return a == b || (a == missing && centre_a == b) || (b == missing && centre_b == a);
    };
    if (dom1->proj != dom2->proj || dom1->ellipse != dom2->ellipse) return 0;
    for (int i = 0; i < 5; ++i)
        if (dom1->param[i] != dom2->param[i]) return 0;
    return same_pole(dom1->plat, dom2->plat, dom1->clat, dom2->clat) &&
                   same_pole(dom1->plon, dom2->plon, dom1->clon, dom2->clon)
               ? 1
               : 0;
}

int DOM_comp(const Domain* dom1, const Domain* dom2)
{
    if (!DOM_comp_proj(dom1, dom2)) return 0;
    return dom1->clat == dom2->clat && dom1->clon == dom2->clon && dom1->dx == dom2->dx && dom1->dy == dom2->dy &&
                   dom1->nx == dom2->nx && dom1->ny == dom2->ny
               ? 1
               : 0;
}

void DOM_print(M_type mess, const Domain* domain)
{
    if (!domain || !MESS_check(mess)) return;
    std::string text;
    for (const ProjName& entry : proj_names)
        if (entry.code == domain->proj) text = entry.name;
    if (domain->ellipse) text += ":e";
    char number[48];
    for (float value : {domain->plat, domain->plon, domain->param[0], domain->param[1], domain->param[2]}) {
        if (value == missing) str_copy(number, sizeof number, ":");
        else str_format(number, sizeof number, ":%3.3f", value);
        text += number;
    }
    MESS_print(mess, "%s,%3.3f,%3.3f,%d,%d,%4.4f,%4.4f\n", text.c_str(), domain->clat, domain->clon, domain->nx,
               domain->ny, domain->dx, domain->dy);
}

float DOM_aspect(const Domain* domain)
{
    if (!domain || domain->nx < 2 || domain->ny < 2) return 1.0f;
    return static_cast<float>(domain->nx - 1) / static_cast<float>(domain->ny - 1);
}
