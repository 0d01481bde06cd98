// GRIB edition 2: walking the sections of a message held in memory, the identification, data
// representation, bit map and data sections, and the public section-by-section interface.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <memory>

#include "grib.hpp"
#include "grib2_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

// Per thread: each thread decodes its own messages (see grib1.cpp).
thread_local G2State g_state;

constexpr std::size_t kIndicatorLen = 16;

// ---- Section 1 ---------------------------------------------------------------------------

int section1(const unsigned char* s, std::size_t slen, G2State& st) {
    if (slen < 19) {
        MESS_print(M_error, "GRIB_IDS: section of %zu octets\n", slen);
        return -1;
    }
    st.source = int(g2_u16(s + 5));
    st.subcentre = int(g2_u16(s + 7));
    DATE_init(&st.date);
    st.date.year = int(g2_u16(s + 12));
    st.date.month = s[14];
    st.date.day = s[15];
    st.date.hour = s[16];
    st.date.min = s[17];
    st.date.sec = s[18];
    st.have_ids = true;
    return 0;
}

// ---- Section 5 ---------------------------------------------------------------------------

int section5(const unsigned char* s, std::size_t slen, G2State& st) {
    G2Data& d = st.drs;
    d = G2Data{};
    if (slen < 11) {
        MESS_print(M_error, "GRIB_DRS: section of %zu octets\n", slen);
        return -1;
    }
    d.data_pnts = g2_u32(s + 5);
    d.temp = int(g2_u16(s + 9));
    auto need = [&](std::size_t n) {
        if (slen >= n) return true;
        MESS_print(M_error, "GRIB_DRS: template 5.%d in %zu octets\n", d.temp, slen);
        return false;
    };
    switch (d.temp) {
    case 0:
    case 2:
    case 3:
    case 40:
    case 40000:
    case 42: {
        if (!need(21)) return -1;
        const int e = g2_s16(s + 15), dec = g2_s16(s + 17);
        d.scale.ref = g2_ieee(s + 11);
        d.scale.sfac = std::ldexp(1.0, e);
        d.scale.dscale = std::pow(10.0, -dec);
        d.nbits = s[19];
        MESS_print(M_debug, "DRS-PTS: %zu REF: %f SFAC: %f DSCL: %f NGREF: %d DTYPE: %d\n", d.data_pnts,
                   d.scale.ref, d.scale.sfac, d.scale.dscale, d.nbits, s[20]);
        break;
    }
    case 200: {
        if (!need(17)) return -1;
        d.nbits = s[11];
        d.max_val = int(g2_u16(s + 12));
        const std::size_t nlev = g2_u16(s + 14);
        const double dscale = std::pow(10.0, -g2_s8(s + 16));
        if (!need(17 + 2 * nlev)) return -1;
        d.levels.resize(nlev);
        for (std::size_t k = 0; k < nlev; ++k) {
            d.levels[k] = float(g2_u16(s + 17 + 2 * k) * dscale);
            MESS_print(M_debug, "  Level: %f\n", d.levels[k]);
        }
        MESS_print(M_debug, "Bits: %d\n", d.nbits);
        MESS_print(M_debug, "Scale: %d %f\n", g2_s8(s + 16), dscale);
        d.valid = true;
        return 0;
    }
    default:
        MESS_print(M_error, "GRIB_DRS: data template 5.%d is not supported\n", d.temp);
        return -1;
    }
    if (d.nbits > 32) {
        MESS_print(M_error, "GRIB_DRS: %d bits per value\n", d.nbits);
        return -1;
    }
    if (d.temp == 2 || d.temp == 3) {
        if (!need(d.temp == 3 ? 49 : 47)) return -1;
        G2Complex& c = d.cp;
        c.nbits = d.nbits;
        c.miss_type = s[22];
        c.miss1 = float(g2_ieee(s + 23));
        c.miss2 = float(g2_ieee(s + 27));
        c.num_groups = g2_u32(s + 31);
        c.ref_gwidth = s[35];
        c.nbits_gwidth = s[36];
        c.ref_glen = g2_u32(s + 37);
        c.inc_glen = s[41];
        c.last_glen = g2_u32(s + 42);
        c.nbits_glen = s[46];
        c.order = d.temp == 3 ? s[47] : 0;
        c.spat_bytes = d.temp == 3 ? s[48] : 0;
        if (c.miss_type > 2) {
            MESS_print(M_error, "GRIB_DRS: missing value management %d\n", c.miss_type);
            return -1;
        }
        MESS_print(M_debug, "%s", d.temp == 3 ? "Grid point - complex packing and spatial differencing\n"
                                              : "Grid point - complex packing\n");
        MESS_print(M_debug, "SPLIT: %d NGRP: %u - MTYPE: %d MISS: %f\n", s[21], c.num_groups,
                   c.miss_type, c.miss1);
        MESS_print(M_debug, "NWDTH: %d NLEN: %d - ORD: %d SPAT: %d\n", c.nbits_gwidth, c.nbits_glen,
                   c.order, c.spat_bytes);
    } else if (d.temp == 42) {
        if (!need(25)) return -1;
        d.cc.nbits = d.nbits;
        d.cc.flags = s[21];
        d.cc.block_size = s[22];
        d.cc.rsi = int(g2_u16(s + 23));
    } else if (d.temp == 0) {
        MESS_print(M_debug, "Grid point - simple packing\n");
    } else if (d.temp != 42) {
        MESS_print(M_debug, "JPEG2000 data compression\n");
    }
    d.valid = true;
    return 0;
}

// ---- Section 6 ---------------------------------------------------------------------------

// 1 with a bit map in force, 0 without, -1 damaged.
int section6(const unsigned char* s, std::size_t slen, G2State& st) {
    if (slen < 6) {
        MESS_print(M_error, "GRIB_BMS: section of %zu octets\n", slen);
        return -1;
    }
    const int indicator = s[5];
    if (indicator == 255) {
        st.bitmap = nullptr;
        st.bitmap_bits = 0;
        return 0;
    }
    if (indicator == 254) {
        if (!st.last_bitmap) {
            MESS_print(M_error, "GRIB_BMS: bit map reused before one was defined\n");
            return -1;
        }
        st.bitmap = st.last_bitmap;
        st.bitmap_bits = st.last_bitmap_bits;
        MESS_print(M_debug, "BMS reuse: %d %zu %zu\n", indicator, st.bitmap_bits, slen);
        return 1;
    }
    if (indicator != 0) {
        MESS_print(M_error, "GRIB_BMS: predefined bit map %d is not supported\n", indicator);
        return -1;
    }
    st.last_bitmap = st.bitmap = s + 6;
    st.last_bitmap_bits = st.bitmap_bits = (slen - 6) * 8;
    MESS_print(M_debug, "BMS: %d %zu %zu\n", indicator, st.bitmap_bits, slen);
    return 1;
}

// ---- Section 7 ---------------------------------------------------------------------------

// Room for the values of a grid, freed with std::free. A global field of tens of millions of
// points is fresh memory on every read: taken in huge pages where the system offers them, its
// first touch costs a few dozen page faults instead of thousands.
float* grib_alloc_values(std::size_t cells) {
    const std::size_t bytes = cells * sizeof(float);
#ifdef MADV_HUGEPAGE
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    if (bytes >= 4 * kHuge) {
        const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        if (void* p = std::aligned_alloc(kHuge, rounded)) {
            madvise(p, rounded, MADV_HUGEPAGE);
            return static_cast<float*>(p);
        }
    }
#endif
    return static_cast<float*>(std::malloc(bytes));
}

struct FreeDel {
    void operator()(float* p) const { std::free(p); }
};

int unpack_field(const G2State& st, const unsigned char* data, std::size_t bytes, std::size_t count,
                 float* out) {
    const G2Data& d = st.drs;
    switch (d.temp) {
    case 0: return grib2_unpack_simple(data, bytes, d.nbits, count, d.scale, out);
    case 2:
    case 3: return grib2_unpack_complex(data, bytes, d.cp, count, d.scale, out);
    case 40:
    case 40000: return grib2_unpack_jpeg2000(data, bytes, d.nbits, count, d.scale, out);
    case 42: return grib2_unpack_ccsds(data, bytes, d.cc, count, d.scale, out);
    case 200:
        MESS_print(M_debug, "Template 7.200\n");
        return grib2_unpack_runlength(data, bytes, d.nbits, d.max_val, d.levels, count, out);
    default: return -1;
    }
}

int section7(const unsigned char* s, std::size_t slen, G2State& st, GRD_report* grd) {
    if (!st.grid.valid || !st.drs.valid) {
        MESS_print(M_error, "GRIB_DS: data section without %s\n",
                   st.grid.valid ? "a data representation" : "a grid definition");
        return -1;
    }
    const G2Grid& g = st.grid;
    const G2Data& d = st.drs;
    const std::size_t npts = g.npts;
    const unsigned char* bitmap = d.temp == 200 ? nullptr : st.bitmap;
    std::size_t present = npts;
    if (bitmap) {
        if (st.bitmap_bits < npts) {
            MESS_print(M_error, "GRIB_DS: bit map of %zu points for a grid of %zu\n", st.bitmap_bits, npts);
            return -1;
        }
        present = grib2_count_bits(bitmap, npts);
    }
    const std::size_t count = d.data_pnts;
    // Without a bit map every grid point is packed: a count that differs is damage, and
    // checking it here keeps a forged grid size from reaching the allocation below.
    if (count > present || (!bitmap && count != present)) {
        MESS_print(M_error, "GRIB_DS: %zu packed values for %zu grid points\n", count, present);
        return -1;
    }
    const std::size_t cells = std::size_t(g.nx) * std::size_t(g.ny);
    // Constant fields and long runs of equal values pack to almost nothing, so a tiny message
    // could ask for gigabytes: a grid above 2^25 points must carry at least one byte of data
    // (or bit map) for every 256 points, far below what any real field compresses to.
    const std::size_t carried = (slen - 5) + (bitmap ? st.bitmap_bits / 8 : 0);
    if (cells > (std::size_t(1) << 25) && carried < cells / 256) {
        MESS_print(M_error, "GRIB_DS: %zu grid points backed by only %zu bytes of data\n", cells, carried);
        return -1;
    }
    // The report's old values give their memory to the new ones: reading field after field
    // then touches no fresh pages (a failure below leaves the report without values).
    const bool same_size = grd->domain.nx > 0 && grd->domain.ny > 0 &&
                           std::size_t(grd->domain.nx) * std::size_t(grd->domain.ny) == cells;
    float* reused = grd->grid && same_size ? grd->grid : nullptr;
    if (reused) grd->grid = nullptr;
    std::unique_ptr<float, FreeDel> values(reused ? reused : grib_alloc_values(cells));
    if (!values) {
        MESS_print(M_error, "GRIB_DS: no memory for %zu values\n", cells);
        return -1;
    }
    const G2Layout lay{g.nx, g.ny, g.scan, g.rows.empty() ? nullptr : &g.rows, npts, g.periodic_rows};
    const int fused = d.temp == 0 && !bitmap ? grib2_unpack_simple_rows(s + 5, slen - 5, d.nbits, d.scale, lay, values.get())
                                             : 0;
    if (fused < 0) return -1;
    if (fused == 0) {
        if (unpack_field(st, s + 5, slen - 5, count, values.get()) < 0) return -1;
        if (grib2_place_values(values.get(), count, lay, bitmap) < 0) return -1;
    }
    std::free(grd->grid);
    grd->grid = values.release();
    grd->domain = g.dv;
    return 0;
}

// Reads the section head at st.pos into st.sect / st.slen. 1 a section, 0 the end marker,
// -1 damaged.
int read_head(G2State& st) {
    const std::size_t p = st.pos;
    if (p + 4 <= st.len && std::memcmp(st.msg + p, "7777", 4) == 0) {
        st.sect = -1;
        st.slen = 0;
        return 0;
    }
    if (p + 5 > st.len) {
        MESS_print(M_error, "GRIB_read_section: message ends inside a section head\n");
        return -1;
    }
    const std::size_t slen = g2_u32(st.msg + p);
    st.sect = st.msg[p + 4];
    st.slen = slen;
    st.sect_start = p;
    if (slen < 5 || slen > st.len - p) {
        MESS_print(M_error, "GRIB_read_section: section %d of %zu octets does not fit the message\n",
                   st.sect, slen);
        return -1;
    }
    MESS_print(M_debug, "section: %d %zu - %zu\n", st.sect, p, slen);
    return 1;
}

int start_message(G2State& st, const unsigned char* msg, std::size_t len) {
    st.grid = G2Grid{};
    st.prod = G2Product{};
    st.drs = G2Data{};
    st.bitmap = st.last_bitmap = nullptr;
    st.bitmap_bits = st.last_bitmap_bits = 0;
    st.have_ids = false;
    st.source = st.subcentre = -9999;
    DATE_init(&st.date);
    st.fields = 0;
    st.msg = msg;
    st.len = 0;
    if (len < kIndicatorLen + 4 || std::memcmp(msg, "GRIB", 4) != 0 || msg[7] != 2) {
        MESS_print(M_error, "GRIB: not an edition 2 message\n");
        return -1;
    }
    std::uint64_t total = 0;
    for (int k = 8; k < 16; ++k) total = (total << 8) | msg[k];
    if (total < kIndicatorLen + 4 || total > len) {
        MESS_print(M_error, "GRIB: message of %llu octets in %zu\n", (unsigned long long)total, len);
        return -1;
    }
    st.len = std::size_t(total);
    st.discipline = msg[6];
    return 0;
}

// Decodes the section announced last (st.sect at st.sect_start). with_values 0 steps over
// section 7. Section 7 fills grd; the others update the message state.
int decode_section(G2State& st, GRD_report* grd, bool with_values) {
    const unsigned char* s = st.msg + st.sect_start;
    const std::size_t slen = st.slen;
    int rc = 0;
    switch (st.sect) {
    case 1: rc = section1(s, slen, st); break;
    case 2: break;  // local use
    case 3: rc = grib2_section3(s, slen, st); break;
    case 4: rc = grib2_section4(s, slen, st); break;
    case 5: rc = section5(s, slen, st); break;
    case 6: rc = section6(s, slen, st) < 0 ? -1 : 0; break;
    case 7:
        if (with_values) rc = section7(s, slen, st, grd);
        if (rc == 0) {
            grib2_fill_report(st, grd);
            ++st.fields;
        }
        break;
    default:
        MESS_print(M_error, "GRIB: unknown section %d\n", st.sect);
        rc = -1;
    }
    st.pos = st.sect_start + slen;
    return rc;
}

// A field that cannot be decoded is still named in listings: the product section of the
// field, when one is readable before the next data section, fills the report's header (the
// grid and values stay unset).
void describe_failed_field(G2State& st, GRD_report* grd, bool product_seen) {
    bool have_product = product_seen;
    while (!have_product && read_head(st) > 0) {
        const int sect = st.sect;
        const unsigned char* s = st.msg + st.sect_start;
        st.pos = st.sect_start + st.slen;
        if (sect == 7) break;
        if (sect == 4) have_product = grib2_section4(s, st.slen, st) == 0;
    }
    if (have_product) grib2_fill_report(st, grd);
}

}  // namespace

G2State& grib2_state() { return g_state; }

int grib2_decode_field(const unsigned char* msg, std::size_t len, std::size_t* pos,
                       GRD_report* grd, int rep_type) {
    G2State& st = g_state;
    if (!msg || !pos || !grd) return -1;
    if (*pos == kIndicatorLen) {
        if (start_message(st, msg, len) < 0) return -1;
    } else {
        // The caller may hand the same message back in another buffer: the state keeps
        // only offsets into it except for the bit maps, which are moved along.
        if (st.len == 0 || len < st.len) {
            MESS_print(M_error, "GRIB: no edition 2 message in decoding\n");
            return -1;
        }
        if (st.msg != msg) {
            if (st.bitmap) st.bitmap = msg + (st.bitmap - st.msg);
            if (st.last_bitmap) st.last_bitmap = msg + (st.last_bitmap - st.msg);
            st.msg = msg;
        }
    }
    st.pos = *pos;
    const bool with_values = rep_type != 1 && rep_type != 2;
    bool product_seen = false;
    for (;;) {
        const int head = read_head(st);
        if (head <= 0) {
            *pos = st.pos;
            if (head < 0) return -2;
            if (st.fields == 0) MESS_print(M_warn, "No product found\n");
            return 1;
        }
        const int sect = st.sect;
        const int rc = decode_section(st, grd, with_values);
        *pos = st.pos;
        if (rc < 0) {
            describe_failed_field(st, grd, product_seen || sect == 4);
            return -2;
        }
        if (sect == 4) product_seen = true;
        if (sect == 7) return 0;
    }
}

// ---- Public section interface ----------------------------------------------------------------

int GRIB_read_section(int) {
    G2State& st = g_state;
    if (!st.msg || st.len == 0) {
        st.sect = -1;
        return 0;
    }
    const int rc = read_head(st);
    if (rc < 0) return -1;
    if (rc == 0) return 0;
    return st.sect < 9 ? 1 : 0;
}

int GRIB_get_sect() { return g_state.sect; }
int GRIB_get_slen() { return int(g_state.slen); }

int GRIB_skip_section(int) {
    G2State& st = g_state;
    MESS_print(M_debug, "skip section: %d - %zu\n", st.sect, st.slen);
    if (st.sect > 0) st.pos = st.sect_start + st.slen;
    return 1;
}

namespace {
// Runs the decoder of the announced section when it is the expected one.
int public_section(int expected, GRD_report* grd, bool fill) {
    G2State& st = g_state;
    if (!st.msg || st.sect != expected) {
        MESS_print(M_error, "GRIB: section %d expected, %d announced\n", expected, st.sect);
        return 0;
    }
    GRD_report scratch;
    std::memset(&scratch, 0, sizeof scratch);
    DOM_init(&scratch.domain);
    const int rc = decode_section(st, grd ? grd : &scratch, true);
    if (rc < 0) return 0;
    if (fill && grd) grib2_fill_report(st, grd);
    return 1;
}
}  // namespace

int GRIB_IDS(int, GRD_report* grd) {
    const int rc = public_section(1, grd, false);
    if (rc == 1 && grd) {
        grd->version = 2;
        grd->source = g_state.source;
        grd->date = g_state.date;
        grd->type = 0;
    }
    return rc;
}

int GRIB_GDS(int, GRD_report* grd) {
    const int rc = public_section(3, grd, false);
    if (rc == 1 && grd) {
        grd->domain = g_state.grid.dv;
        grd->type = g_state.grid.type;
    }
    return rc;
}

int GRIB_PDS(int, GRD_report* grd) { return public_section(4, grd, true); }
int GRIB_DRS(int, GRD_report* grd) { return public_section(5, grd, false); }

int GRIB_BMS(int) {
    G2State& st = g_state;
    if (!st.msg || st.sect != 6) return -1;
    const int rc = section6(st.msg + st.sect_start, st.slen, st);
    st.pos = st.sect_start + st.slen;
    return rc;
}

int GRIB_DS(int, GRD_report* grd) { return grd ? public_section(7, grd, false) : 0; }

float GRIB_ieee_float_conv(const unsigned char* bytes) {
    if (bytes[0] == 0) return 0.0f;
    return float(g2_ieee(bytes));
}
