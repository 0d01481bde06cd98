// Helpers of the GRIB edition 1 tests: an open GRIB grid file without the slot table, a
// builder of hand-made edition 0/1 messages, and the report clean-up.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "grd_internal.hpp"
#include "grib1_internal.hpp"
#include "region.hpp"
#include "string.hpp"
#include "var_tool.hpp"

using Bytes = std::vector<unsigned char>;

inline void init_report(GRD_report* r) {
    std::memset(r, 0, sizeof *r);
    r->type = r->source = r->version = r->model = r->ltype = r->level = r->time = r->var = -9999;
    DOM_init(&r->domain);
}


// A report that frees its values.
struct Report : GRD_report {
    Report() { init_report(this); }
    ~Report() { std::free(grid); }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
};

// A GRIB grid file opened for reading outside the slot table.
struct GribFile {
    GRD_file gf;
    explicit GribFile(const std::string& path) {
        std::memset(&gf, 0, sizeof gf);
        gf.file = std::fopen(path.c_str(), "rb");
        gf.type = GRD_TYPE_GRIB;
        gf.fd = gf.file ? 1 : -1;
        gf.new_pos = -1;
    }
    ~GribFile() {
        if (gf.priv_free) gf.priv_free(gf.priv);
        if (gf.file) std::fclose(gf.file);
        if (gf.hfile) std::fclose(gf.hfile);
    }
    GribFile(const GribFile&) = delete;
    GribFile& operator=(const GribFile&) = delete;
    int read(GRD_report* r, int num, int rep_type = 0) {
        int n = num;
        return grd_grib_read(0, &gf, r, rep_type, &n);
    }
};

inline void put(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i, v >>= 8) b[at + std::size_t(i)] = static_cast<unsigned char>(v & 0xff);
}
// Sign-and-magnitude with the sign in the top bit of n bytes.
inline void put_sm(Bytes& b, std::size_t at, long v, int n) {
    const std::uint64_t sign = std::uint64_t(1) << (8 * n - 1);
    put(b, at, v < 0 ? (std::uint64_t(-v) | sign) : std::uint64_t(v), n);
}

// IBM single float of a value (positive or negative, non-zero).
inline void put_ibm(Bytes& b, std::size_t at, double v) {
    if (v == 0) {
        put(b, at, 0, 4);
        return;
    }
    const int sign = v < 0;
    v = v < 0 ? -v : v;
    int e = 64;
    while (v >= 1.0) { v /= 16; ++e; }
    while (v < 1.0 / 16) { v *= 16; --e; }
    const auto mant = static_cast<std::uint32_t>(v * 16777216.0);
    put(b, at, (std::uint64_t(sign) << 31) | (std::uint64_t(e) << 24) | mant, 4);
}

// Packs values of nbits bits, most significant first.
inline Bytes pack_bits(const std::vector<std::uint32_t>& vals, int nbits) {
    Bytes out((vals.size() * std::size_t(nbits) + 7) / 8 + 1, 0);
    std::uint64_t bit = 0;
    for (std::uint32_t v : vals)
        for (int i = nbits - 1; i >= 0; --i, ++bit)
            if ((v >> i) & 1u) out[bit >> 3] |= static_cast<unsigned char>(0x80u >> (bit & 7));
    return out;
}

// An edition 0/1 message put together from its parts.
struct Msg1 {
    int edition = 1;
    Bytes pds = Bytes(28, 0);
    Bytes gds;  // whole section, or empty
    Bytes bms;  // whole section, or empty
    Bytes bds;  // whole section

    Msg1() {
        put(pds, 0, 28, 3);
        pds[3] = 2;    // table version
        pds[4] = 7;    // centre
        pds[5] = 39;   // process
        pds[6] = 255;  // grid id: none predefined
        pds[8] = 11;   // parameter
        pds[9] = 100;  // level type
        put(pds, 10, 500, 2);
        pds[12] = 26;
        pds[13] = 1;
        pds[14] = 15;
        pds[15] = 12;
        pds[17] = 1;
        pds[24] = 21;
    }
    // A data section of simple packing: value = (ref + X 2^E) 10^-D.
    void data(const std::vector<std::uint32_t>& x, int nbits, double ref, int e = 0) {
        Bytes bits = pack_bits(x, nbits);
        bds.assign(11, 0);
        bds.insert(bds.end(), bits.begin(), bits.end());
        if (bds.size() % 2) bds.push_back(0);
        put(bds, 0, bds.size(), 3);
        put_sm(bds, 4, e, 2);
        put_ibm(bds, 6, ref);
        bds[10] = static_cast<unsigned char>(nbits);
    }
    // A latitude/longitude grid section.
    void latlon(int nx, int ny, double la1, double lo1, double la2, double lo2, int scan) {
        gds.assign(32, 0);
        put(gds, 0, 32, 3);
        gds[4] = 255;
        put(gds, 6, unsigned(nx), 2);
        put(gds, 8, unsigned(ny), 2);
        put_sm(gds, 10, std::lround(la1 * 1000), 3);
        put_sm(gds, 13, std::lround(lo1 * 1000), 3);
        gds[16] = 0x80;
        put_sm(gds, 17, std::lround(la2 * 1000), 3);
        put_sm(gds, 20, std::lround(lo2 * 1000), 3);
        put(gds, 23, nx > 1 ? unsigned(std::lround(std::abs(lo2 - lo1) * 1000 / (nx - 1))) : 0, 2);
        put(gds, 25, ny > 1 ? unsigned(std::lround(std::abs(la2 - la1) * 1000 / (ny - 1))) : 0, 2);
        gds[27] = static_cast<unsigned char>(scan);
    }
    void bitmap(const std::vector<int>& on) {
        Bytes bits((on.size() + 7) / 8, 0);
        for (std::size_t i = 0; i < on.size(); ++i)
            if (on[i]) bits[i >> 3] |= static_cast<unsigned char>(0x80u >> (i & 7));
        bms.assign(6, 0);
        bms.insert(bms.end(), bits.begin(), bits.end());
        put(bms, 0, bms.size(), 3);
        bms[3] = static_cast<unsigned char>(bits.size() * 8 - on.size());
    }
    Bytes build() {
        pds[7] = static_cast<unsigned char>((gds.empty() ? 0 : 0x80) | (bms.empty() ? 0 : 0x40));
        Bytes m = {'G', 'R', 'I', 'B'};
        if (edition == 1) m.insert(m.end(), {0, 0, 0, 1});
        for (const Bytes* s : {&pds, &gds, &bms, &bds}) m.insert(m.end(), s->begin(), s->end());
        m.insert(m.end(), {'7', '7', '7', '7'});
        if (edition == 1) put(m, 4, m.size(), 3);
        return m;
    }
};

inline void write_file(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline Bytes read_file(const std::string& path) {
    Bytes out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    unsigned char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}
