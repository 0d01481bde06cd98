// GRIB grid files (type 21): reading by grid number over messages of editions 0, 1 and 2
// (several fields per edition 2 message), header-only reads from a text header index, and
// writing a carried message back unchanged. Positions are kept per file, so reads of several
// GRIB files may interleave.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "date.hpp"
#include "grd_internal.hpp"
#include "grib1_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

// Clears a report the way the grid layer does, without needing it.
void clear_report(GRD_report* r) {
    std::memset(r, 0, sizeof *r);
    r->type = r->source = r->version = r->model = r->ltype = r->level = r->time = r->var = -9999;
    DATE_init(&r->date);
    DOM_init(&r->domain);
    r->grid = nullptr;
}

void reset_cursor(GribStream* st) {
    st->loaded_num = -1;
    st->cursor_num = 0;
    st->cursor_pos = 0;
    st->cursor_in_msg = false;
    st->ed2_pos = st->ed2_field_pos = 16;
    st->ed2_field = 0;
}

// After an edition 2 field: does another field follow inside the message?
bool ed2_more(const GribStream* st) {
    const std::size_t pos = st->ed2_pos, len = st->msg.size();
    if (pos + 4 > len || std::memcmp(st->msg.data() + pos, "7777", 4) == 0) return false;
    return pos + 5 <= len && st->msg[pos + 4] < 8;
}

// Decodes (or, with grd null, steps over) the field at the cursor and advances the cursor.
// 0 decoded, 1 edition 2 message without a product, -1 end of file, other negatives damaged.
int read_field(GRD_file* gf, GribStream* st, GRD_report* grd, int rep_type) {
    if (!st->cursor_in_msg) {
        if (fseeko(gf->file, st->cursor_pos, SEEK_SET) != 0) return -1;
        st->header_only = !grd || rep_type == 1 || rep_type == 2;
        const int h = grib_header_gf(gf);
        st->header_only = false;
        if (h <= 0) return -1;
        st->ed2_pos = 16;
        st->ed2_field = 0;
    } else {
        ++st->ed2_field;
    }
    st->loaded_num = st->cursor_num++;
    int result = 0;
    bool more = false;
    if (st->edition == 2) {
        GRD_report scratch;
        GRD_report* target = grd;
        if (!target) {
            clear_report(&scratch);
            target = &scratch;
        }
        std::size_t pos = st->ed2_pos;
        st->ed2_field_pos = pos;
        const int r = grib2_decode_field(st->msg.data(), st->msg.size(), &pos, target,
                                         grd ? rep_type : 1);
        if (!grd) std::free(scratch.grid);
        st->ed2_pos = pos;
        if (r == 1) {
            result = 1;  // the decoder has said "No product found"
        } else if (r < 0) {
            result = r == -1 ? -2 : r;
        } else {
            more = ed2_more(st);
        }
    } else if (grd) {
        const int r = grib1_decode(st->msg.data(), st->msg.size(), st->edition, grd, rep_type);
        result = r == 0 ? 0 : -2;
    }
    gf->pcont = gf->cont;
    gf->cont = more ? 1 : 0;
    st->cursor_in_msg = more;
    gf->cur_pos = st->rec_start;
    gf->new_pos = more ? st->msg_start + off_t(st->ed2_pos) : st->next_pos;
    st->cursor_pos = st->next_pos;
    return result;
}

// Re-decodes the field already loaded (same grid asked again).
int reread_field(GRD_file* gf, GribStream* st, GRD_report* grd, int rep_type) {
    if (st->partial && rep_type != 1 && rep_type != 2 && !grib_load_whole(gf)) return -2;
    if (st->edition != 2)
        return grib1_decode(st->msg.data(), st->msg.size(), st->edition, grd, rep_type) == 0 ? 0
                                                                                            : -2;
    // Earlier fields of the message set state (grid, bit map) that this one may reuse.
    std::size_t pos = 16;
    GRD_report scratch;
    for (int i = 0; i < st->ed2_field; ++i) {
        clear_report(&scratch);
        const int r = grib2_decode_field(st->msg.data(), st->msg.size(), &pos, &scratch, 1);
        std::free(scratch.grid);
        if (r != 0) return r < 0 ? (r == -1 ? -2 : r) : 1;
    }
    const int r = grib2_decode_field(st->msg.data(), st->msg.size(), &pos, grd, rep_type);
    return r == -1 ? -2 : r;
}

// ---- Header index file -------------------------------------------------------------------

// Fills the report from "/ GRIB Xn ..." items, or from "/ model type time ltype level var", or
// "/ source:model type time ltype level var". false when the line has neither form.
bool parse_description(const char* desc, GRD_report* grd) {
    if (const char* g = std::strstr(desc, "/ GRIB")) {
        const char* p = g + 6;
        char letter;
        int value, used;
        while (std::sscanf(p, " %c%d%n", &letter, &value, &used) == 2) {
            switch (letter) {
            case 'S': grd->source = value; break;
            case 'M': grd->model = value; break;
            case 'G': grd->type = value; break;
            case 'T': grd->time = value; break;
            case 'L': grd->ltype = value; break;
            case 'H': grd->level = value; break;
            case 'V': grd->var = value; break;
            default: break;
            }
            p += used;
        }
        return true;
    }
    const char* slash = std::strrchr(desc, '/');
    if (!slash) return false;
    int v[7];
    const int n = std::sscanf(slash + 1, "%d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4],
                              &v[5]);
    if (n == 6) {
        grd->model = v[0];
        grd->type = v[1];
        grd->time = v[2];
        grd->ltype = v[3];
        grd->level = v[4];
        grd->var = v[5];
        return true;
    }
    if (n == 1 && std::sscanf(slash + 1, "%d:%d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3],
                              &v[4], &v[5], &v[6]) == 7) {
        grd->source = v[0];
        grd->model = v[1];
        grd->type = v[2];
        grd->time = v[3];
        grd->ltype = v[4];
        grd->level = v[5];
        grd->var = v[6];
        return true;
    }
    return false;
}

int read_index(GRD_file* gf, GribStream* st, GRD_report* grd, int rep_type, int want) {
    if (want < st->hdr_line) {
        std::rewind(gf->hfile);
        st->hdr_line = 0;
    }
    char line[512];
    for (;;) {
        if (!std::fgets(line, sizeof line, gf->hfile)) return -1;
        const bool whole = std::strchr(line, '\n') != nullptr;
        if (!whole) {  // an over-long line: drop its rest
            int ch;
            while ((ch = std::fgetc(gf->hfile)) != EOF && ch != '\n') {}
        }
        if (st->hdr_line++ == want) break;
    }
    long long offset = -1;
    int used = 0;
    if (std::sscanf(line, "%lld%n", &offset, &used) != 1 || offset < 0) {
        MESS_print(M_error, "GRD_read: bad header index line %d\n", want);
        return -2;
    }
    char desc[129];
    const char* d = line + used;
    while (*d == ' ' || *d == '\t') ++d;
    str_copy(desc, sizeof desc, d);
    desc[std::strcspn(desc, "\r\n")] = '\0';

    grd->source = gf->grid == 10 ? 98 : 7;
    grd->version = 1;
    grd->date = gf->date;
    if (!parse_description(desc, grd)) {
        MESS_print(M_error, "GRD_read: header index line %d has no product: %s\n", want, desc);
        return -2;
    }
    GRIB_units(grd);
    DOM_init(&grd->domain);
    GRIB_set_domain(grd->type, &grd->domain);
    if (rep_type == 2) {
        VAR_make_datatype(grd->time, grd->ltype, grd->level, grd->var, grd->units, grd->info,
                          sizeof grd->info);
        // The numbers come from a text line: their combination must not overflow.
        const long long model = static_cast<long long>(grd->source) * 1000 + grd->model;
        DATE_make_label_for_time(grd->time, model >= INT_MIN && model <= INT_MAX ? int(model) : -9999,
                                 &grd->date, grd->datim, sizeof grd->datim);
    }
    // A following full read of this grid starts its search at the indexed offset.
    st->loaded_num = -1;
    st->cursor_num = want;
    st->cursor_pos = off_t(offset);
    st->cursor_in_msg = false;
    gf->cur_pos = off_t(offset);
    gf->new_pos = off_t(offset);
    gf->cont = 0;
    return 0;
}

// Messages are found by seeking back and forth: a pipe cannot be read.
bool seekable(GRD_file* gf, const char* who) {
    if (ftello(gf->file) >= 0) return true;
    MESS_print(M_error, "%s: GRIB data must come from a file, not a pipe\n", who);
    return false;
}

}  // namespace

int grd_grib_read(int, GRD_file* gf, GRD_report* grd, int rep_type, int* grdnum) {
    GribStream* st = grib_stream(gf);
    if (!st || !gf->file || !grd || !grdnum || !seekable(gf, "GRD_read")) return -1;
    // A position set from outside (GRD_setpos) since our last read: the record there is grid num.
    if (gf->num != st->seen_num || gf->new_pos != st->seen_new_pos) {
        reset_cursor(st);
        st->cursor_num = gf->num < 0 ? 0 : gf->num;
        st->cursor_pos = gf->new_pos < 0 ? 0 : gf->new_pos;
    }
    const int want = *grdnum < 0 ? 0 : *grdnum;
    int result;
    if ((rep_type == 1 || rep_type == 2) && gf->hfile) {
        result = read_index(gf, st, grd, rep_type, want);
        if (result == 0) gf->num = want;
    } else if (want == st->loaded_num) {
        result = reread_field(gf, st, grd, rep_type);
        gf->num = want;
    } else {
        if (want < st->cursor_num) reset_cursor(st);
        result = 0;
        while (st->cursor_num < want) {
            const int r = read_field(gf, st, nullptr, 1);
            if (r == -1) {
                result = -1;
                break;
            }
        }
        if (result == 0) result = read_field(gf, st, grd, rep_type);
        if (st->loaded_num >= 0) gf->num = st->loaded_num;
    }
    *grdnum = gf->num;
    fseeko(gf->file, gf->cur_pos, SEEK_SET);
    st->seen_num = gf->num;
    st->seen_new_pos = gf->new_pos;
    return result;
}

int grd_grib_getinfo(int, GRD_file* gf, GRD_info* info) {
    GribStream* st = grib_stream(gf);
    if (!st || !info || !gf->file || !seekable(gf, "GRD_getinfo")) return -1;
    info->grid_type = 0;
    const int r = grib_get_info_gf(gf, info);
    reset_cursor(st);
    gf->num = 0;
    gf->new_pos = -1;
    gf->cont = gf->pcont = 0;
    st->seen_num = gf->num;
    st->seen_new_pos = gf->new_pos;
    return r;
}

int grd_grib_write(GRD_file* gf, GRD_report* grd) {
    if (!gf || !gf->file || !grd || !grd->grid || grd->source <= 0) return -1;
    const std::size_t n = std::size_t(grd->source);
    if (std::fwrite(grd->grid, 1, n, gf->file) != n) {
        MESS_print(M_error, "GRD_write: cannot write the GRIB message\n");
        return -1;
    }
    return 0;
}

int grd_grib_rewind(GRD_file* gf) {
    if (!gf) return 0;
    if (gf->file) fseeko(gf->file, 0, SEEK_SET);
    if (gf->hfile) std::rewind(gf->hfile);
    gf->num = 0;
    gf->cur_pos = 0;
    gf->new_pos = -1;
    gf->cont = gf->pcont = 0;
    if (GribStream* st = grib_stream(gf)) {
        reset_cursor(st);
        st->hdr_line = 0;
        st->seen_num = gf->num;
        st->seen_new_pos = gf->new_pos;
    }
    return 0;
}

int grd_grib_hdr_open(GRD_file* gf, const char* filename) {
    if (!gf || !filename) return -1;
    std::FILE* h = std::fopen(filename, "r");
    if (!h) {
        MESS_print(M_error, "GRD_hdr_open: cannot open header index %s\n", filename);
        return -1;
    }
    if (gf->hfile) std::fclose(gf->hfile);
    gf->hfile = h;
    if (GribStream* st = grib_stream(gf)) st->hdr_line = 0;
    return 0;
}
