// GRIB fields decoded away from the grid-file table: a field's location in its file, loading
// that message through a stream of its own, and decoding one field of a message in memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "grib1_internal.hpp"
#include "mess.hpp"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int GRIB_get_location(int grd_fd, GRIB_location* loc) {
    GRD_file* gf = GRD_get_gfile(grd_fd);
    if (!loc || !gf || gf->type != GRD_TYPE_GRIB || !gf->file) return -1;
    const GribStream* st = grib_stream(gf);
    if (!st || st->loaded_num < 0 || st->msg_start < 0 || st->edition < 0) return -1;
    loc->offset = st->msg_start;
    loc->length = long(st->length);
    loc->edition = st->edition;
    loc->field = st->edition == 2 ? st->ed2_field : 0;
    return 0;
}

int GRIB_load_message(const char* filename, const GRIB_location* loc,
                      std::vector<unsigned char>* msg) {
    if (!filename || !loc || !msg) return -1;
    if (loc->offset < 0 || loc->length < 8) {
        MESS_print(M_error, "GRIB_load_message: no message at offset %lld of %s\n",
                   static_cast<long long>(loc->offset), filename);
        return -1;
    }
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(filename, "rb"));
    if (!f) {
        MESS_print(M_error, "GRIB_load_message: cannot open %s\n", filename);
        return -1;
    }
    msg->resize(std::size_t(loc->length));
    if (fseeko(f.get(), loc->offset, SEEK_SET) != 0 ||
        std::fread(msg->data(), 1, msg->size(), f.get()) != msg->size() ||
        std::memcmp(msg->data(), "GRIB", 4) != 0 ||
        std::memcmp(msg->data() + msg->size() - 4, "7777", 4) != 0) {
        MESS_print(M_error, "GRIB_load_message: the message at offset %lld of %s is gone or "
                   "damaged\n", static_cast<long long>(loc->offset), filename);
        msg->clear();
        return -1;
    }
    return 0;
}

int GRIB_decode_message(const unsigned char* msg, std::size_t len, int edition, int field,
                        GRD_report* grd, int rep_type) {
    if (!msg || !grd || len < 8 || field < 0) return -2;
    if (edition != 2) {
        if (field != 0) return 1;
        return grib1_decode(msg, len, edition, grd, rep_type) == 0 ? 0 : -2;
    }
    // Earlier fields of the message define the grid and bit map that later ones may reuse.
    std::size_t pos = 16;
    for (int i = 0; i < field; ++i) {
        GRD_report scratch;
        GRD_init_report(&scratch);
        const int r = grib2_decode_field(msg, len, &pos, &scratch, 1);
        std::free(scratch.grid);
        if (r != 0) return r < 0 ? -2 : 1;
    }
    const int r = grib2_decode_field(msg, len, &pos, grd, rep_type);
    return r < 0 ? -2 : r;
}
