// Alphanumeric "GRID" bulletins (type 22): latitude/longitude grids of 19 x 15 points coded as
// digit groups. Each grid: an optional "GRID" word; SSGGG (centre/model SS, grid GGG) and two
// further groups; identification groups 1vv 2ll 3ll 6YYMM 7DDHH 8xTTT (each optional, in
// this order; groups starting 0 ignored); coding groups 1xxxs (sign mode), 2d (digits per
// value), 3k and a reference value (scale); then, for grids 1-12, 15 rows each led by a label
// group, a label starting 9 announcing a constant row of one value.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "grd_formats.hpp"
#include "mess.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

constexpr int kCols = 19;
constexpr int kRows = 15;
constexpr float kSpacing = 5.0f;
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

// Centres (latitude, longitude) of grids 1-12.
constexpr float kCentres[12][2] = {{55, -45}, {55, -135}, {55, 135}, {55, 45},   {0, -45},   {0, -135},
                                   {0, 135},  {0, 45},    {-55, -45}, {-55, -135}, {-55, 135}, {-55, 45}};

// Reads the next blank-separated group, remembering where it started so that a group that
// belongs to the next grid can be given back.
struct Groups {
    std::FILE* file;
    off_t start = 0;

    bool next(std::string& tok)
    {
        tok.clear();
        int c = getc_unlocked(file);
        while (c != EOF && std::isspace(c)) c = getc_unlocked(file);
        if (c == EOF) return false;
        start = ftello(file) - 1;
        while (c != EOF && !std::isspace(c)) {
            if (tok.size() < 64) tok.push_back(static_cast<char>(c));
            c = getc_unlocked(file);
        }
        if (c != EOF) ungetc(c, file);
        return true;
    }
    void give_back() { fseeko(file, start, SEEK_SET); }
};

bool all_digits(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

int num(const std::string& s, std::size_t pos, std::size_t len) { return std::atoi(s.substr(pos, len).c_str()); }

int too_short(const char* what)
{
    MESS_print(M_error, "GRD_read: Damaged grid bulletin: %s\n", what);
    return -2;
}

// One value: an optional sign digit, then digits figures, blanks before it skipped.
bool read_value(std::FILE* file, int sign_mode, int digits, long* value)
{
    int c = getc_unlocked(file);
    while (c != EOF && std::isspace(c)) c = getc_unlocked(file);
    bool negative = false;
    if (sign_mode == 1) {
        if (c == EOF || !std::isdigit(c)) return false;
        negative = c == '1';
        c = getc_unlocked(file);
    }
    long v = 0;
    for (int k = 0; k < digits; ++k) {
        if (c == EOF || !std::isdigit(c)) return false;
        v = v * 10 + (c - '0');
        if (k + 1 < digits) c = getc_unlocked(file);
    }
    if (negative || sign_mode == 3) v = -v;
    *value = v;
    return true;
}

int read_bulletin_grid(GRD_file* gf, GRD_report* grd, int store)
{
    Groups groups{gf->file};
    std::string tok;
    if (!groups.next(tok)) return -1;
    if (tok == "GRID" && !groups.next(tok)) return -1;
    if (tok.size() < 5 || !all_digits(tok.substr(0, 5))) return too_short("bad grid group");
    float* values = grd->grid;
    GRD_init_report(grd);
    grd->grid = values;
    grd->source = grd->model = num(tok, 0, 2);
    const int grid_num = num(tok, 2, 3);
    grd->type = grid_num + 70;
    grd->version = 1;
    grd->time = 0;
    for (int k = 0; k < 2; ++k)
        if (!groups.next(tok)) return too_short("no identification");

    // Identification groups, in rising order of their first figure.
    Date date;
    DATE_init(&date);
    int last = 0;
    bool have = groups.next(tok);
    for (; have; have = groups.next(tok)) {
        if (!all_digits(tok)) break;
        const int lead = tok[0] - '0';
        if (lead == 0) continue;
        const std::size_t want = lead <= 3 ? 3 : 5;
        if (lead <= last || tok.size() != want || (lead > 3 && lead < 6) || lead > 8) break;
        last = lead;
        switch (lead) {
        case 1: grd->var = num(tok, 1, 2); break;
        case 2:
            grd->ltype = 10;
            grd->level = num(tok, 1, 2) * 10;
            break;
        case 3:
            grd->level = num(tok, 1, 2) * 10;
            grd->ltype = grd->level == 0 ? 12 : 13;
            break;
        case 6:
            date.year = num(tok, 1, 2);
            date.month = num(tok, 3, 2);
            break;
        case 7:
            date.day = num(tok, 1, 2);
            date.hour = num(tok, 3, 2);
            break;
        case 8: grd->time = num(tok, 2, 3); break;
        }
    }
    if (grd->var == 22) {
        grd->var = gf->wind_dec == 1 ? 24 : 23;
        gf->wind_dec = gf->wind_dec == 1 ? 2 : 1;
    }

    // Coding groups.
    int sign_mode = 0, digits = 3;
    double scale = 1.0, reference = 0.0;
    for (; have && all_digits(tok); have = groups.next(tok)) {
        if (tok[0] == '1' && tok.size() == 5) {
            sign_mode = tok[4] - '0';
        } else if (tok[0] == '2' && tok.size() == 2) {
            digits = tok[1] - '0' - (sign_mode == 1 ? 1 : 0);
        } else if (tok[0] == '3' && tok.size() == 2) {
            const int k = tok[1] - '0';
            scale = k >= 1 && k <= 4 ? std::pow(10.0, -k) : k >= 5 ? std::pow(10.0, k - 4) : 1.0;
            std::string ref;
            if (!groups.next(ref)) return too_short("no reference value");
            char* end = nullptr;
            reference = std::strtod(ref.c_str(), &end);
            if (*end != '\0') return too_short("bad reference value");
            if (grd->var == 4) reference = -reference;
            reference *= scale;
        } else {
            break;
        }
    }
    if (digits < 1 || digits > 9) return too_short("bad digits per value");
    gf->bpval = digits;

    if (date.year >= 0) date.year += date.year < 50 ? 2000 : 1900;
    grd->date = date;
    date.min = date.sec = 0;
    const std::int64_t seconds = grd->date.year != DATE_MISSING ? DATE_num_sec(&date) : 0;
    DATE_make_label_for(grd->time, grd->model, seconds, grd->datim, sizeof grd->datim);
    // The report keeps the bulletin's own numbers (isobaric level type 10, wind components 23
    // and 24 made from direction and speed); the variable table numbers these differently
    // (there 23 and 24 are other quantities), so the description is asked for by its numbers.
    const int described_var = grd->var == 23 ? 33 : grd->var == 24 ? 34 : grd->var;
    const int described_ltype = grd->ltype == 10 ? 100 : grd->ltype;
    VAR_make_datatype(grd->time, described_ltype, grd->level, described_var, nullptr, grd->info, sizeof grd->info);

    if (grid_num < 1 || grid_num > 12) {
        // No values: what was read beyond the groups starts the next grid.
        if (have) groups.give_back();
        GRD_free_report(grd);
        return 0;
    }
    Domain& dom = grd->domain;
    dom.proj = 2;
    dom.clat = kCentres[grid_num - 1][0];
    dom.clon = kCentres[grid_num - 1][1];
    dom.dx = dom.dy = kSpacing;
    dom.nx = kCols;
    dom.ny = kRows;
    if (store && !grd_alloc_values(grd, kCols * kRows)) return -2;

    const bool wind = grd->var == 23 || grd->var == 24;
    auto decode = [&](long v) -> float {
        if (!wind) return static_cast<float>(reference + static_cast<double>(v) * scale);
        const double dir = static_cast<double>(v / 100) * kDegToRad;
        const double speed = static_cast<double>(v % 100);
        return static_cast<float>(grd->var == 23 ? -speed * std::sin(dir) : -speed * std::cos(dir));
    };
    for (int s = 0; s < kRows; ++s) {
        if (s > 0) have = groups.next(tok);
        if (!have) return too_short("too few rows");
        const int row = grid_num <= 4 ? kRows - 1 - s : s;
        float* out = store ? grd->grid + row * kCols : nullptr;
        long v = 0;
        if (tok[0] == '9') {
            if (!read_value(gf->file, sign_mode, digits, &v)) return too_short("bad constant row");
            if (out)
                for (int i = 0; i < kCols; ++i) out[i] = decode(v);
            continue;
        }
        for (int i = 0; i < kCols; ++i) {
            if (!read_value(gf->file, sign_mode, digits, &v)) return too_short("too few values in a row");
            if (out) out[i] = decode(v);
        }
    }
    return 0;
}

}  // namespace

int grd_bul_getinfo(GRD_file* gf, GRD_info* info)
{
    if (!grd_text_state(gf)->seekable) {
        MESS_print(M_error, "GRD_getinfo: Grid bulletins are read from files only\n");
        return -1;
    }
    std::rewind(gf->file);
    gf->wind_dec = 0;
    GRD_report first;
    GRD_init_report(&first);
    const int r = read_bulletin_grid(gf, &first, 0);
    std::rewind(gf->file);
    gf->wind_dec = 0;
    gf->num = 0;
    gf->cur_pos = 0;
    gf->new_pos = -1;
    if (r != 0) {
        if (r == -1) MESS_print(M_error, "GRD_getinfo: Grid bulletin holds no grid\n");
        return -1;
    }
    info->date = first.date;
    gf->date = first.date;
    info->datim[0] = '\0';
    if (first.date.year != DATE_MISSING) DATE_make_label(&first.date, info->datim, sizeof info->datim);
    str_copy(gf->datim, sizeof gf->datim, info->datim);
    info->grid_type = 0;
    info->max_x = kCols;
    info->max_y = kRows;
    return 0;
}

int grd_bul_read(GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum)
{
    if (!grd_text_state(gf)->seekable) return -1;
    return grd_stream_read(gf, grd, rep_type, grdnum, read_bulletin_grid);
}
