// The GRIB operations addressed by grid-file slot: each finds the slot's open file and works
// on the message it holds.
#include "grd_read.hpp"
#include "grib1_internal.hpp"
#include "mess.hpp"
#include "string.hpp"

namespace {

GribStream* stream_of(int grd_fd, GRD_file** gf) {
    *gf = GRD_get_gfile(grd_fd);
    if (!*gf || !(*gf)->file) return nullptr;
    return grib_stream(*gf);
}

// Sections of the slot's current edition 0/1 message; false when there is none.
bool sections_of(int grd_fd, Grib1Sections* s) {
    GRD_file* gf;
    GribStream* st = stream_of(grd_fd, &gf);
    if (!st || st->msg.empty() || st->edition > 1 || !grib_load_whole(gf)) return false;
    return grib1_sections(st->msg.data(), st->msg.size(), st->edition, s) == 0;
}

}  // namespace

int GRIB_header(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_header_gf(gf) : -1;
}
int GRIB_header_raw(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_header_form(gf, GRIB_WRAP_RAW) : -1;
}
int GRIB_header_qaz(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_header_form(gf, GRIB_WRAP_QAZ) : -1;
}
int GRIB_header_ldm(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_header_form(gf, GRIB_WRAP_LDM) : -1;
}
int GRIB_header_old_qaz(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_header_form(gf, GRIB_WRAP_OLD_QAZ) : -1;
}
long GRIB_search(int grd_fd) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_search_gf(gf) : -1;
}
off_t GRIB_next(int grd_fd, int where) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_next_gf(gf, where) : -1;
}

int GRIB_PDB(int grd_fd, GRD_report* grd, int rep_type) {
    Grib1Sections s;
    if (!grd || !sections_of(grd_fd, &s)) return -1;
    return grib1_pdb(s, grd, rep_type);
}
int GRIB_GDB(int grd_fd, GRD_report* grd) {
    Grib1Sections s;
    if (!grd || !sections_of(grd_fd, &s)) return -1;
    return grib1_gdb(s, grd);
}
int GRIB_BMB(int grd_fd, GRD_report* grd) {
    Grib1Sections s;
    if (!grd || !sections_of(grd_fd, &s)) return -1;
    return grib1_bmb(s, grd);
}
int GRIB_BDB(int grd_fd, GRD_report* grd) {
    Grib1Sections s;
    if (!grd || !sections_of(grd_fd, &s)) return -1;
    return grib1_bdb(s, grd);
}

int GRIB_get_info(int grd_fd, GRD_info* info) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_get_info_gf(gf, info) : -1;
}
long GRIB_get_raw(int grd_fd, unsigned char** buf, long size) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_get_raw_gf(gf, buf, size) : -1;
}
int GRIB_get_WMO_header(int grd_fd, char* header) {
    GRD_file* gf;
    return stream_of(grd_fd, &gf) ? grib_get_wmo_gf(gf, header) : -1;
}

int GRIB_damaged(int grd_fd, int index, off_t* offset, char* text, std::size_t size) {
    GRD_file* gf;
    GribStream* st = stream_of(grd_fd, &gf);
    if (!st) return 0;
    const int count = int(st->damaged.size());
    if (index >= 0 && index < count) {
        if (offset) *offset = st->damaged[std::size_t(index)].first;
        if (text && size) str_copy(text, size, st->damaged[std::size_t(index)].second.c_str());
    }
    return count;
}
