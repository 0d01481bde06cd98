// Private interface between the edition 2 section decoders (grib2*.cpp) and the unpackers
// (grib_unpack.cpp). Values travel as floats: the unpackers write the packed values compact
// in scan order at the start of the grid array, and grib2_place_values spreads them over the
// grid (bit map, scanning direction, thinned rows) in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "grib_internal.hpp"

// Octet readers on a bounds-checked section: the callers check lengths first.
inline std::uint32_t g2_u16(const unsigned char* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }
inline std::uint32_t g2_u32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
// Sign-and-magnitude numbers of 1, 2 and 4 octets.
inline int g2_s8(const unsigned char* p) { return (p[0] & 0x80) ? -int(p[0] & 0x7f) : int(p[0]); }
inline int g2_s16(const unsigned char* p) {
    const int mag = int(g2_u16(p) & 0x7fff);
    return (p[0] & 0x80) ? -mag : mag;
}
inline std::int64_t g2_s32(const unsigned char* p) {
    const std::int64_t mag = g2_u32(p) & 0x7fffffffu;
    return (p[0] & 0x80) ? -mag : mag;
}
double g2_ieee(const unsigned char* p);

// Linear value of a packed integer: (ref + X 2^E) 10^-D, kept as bias + X * mult.
struct G2Scale {
    double ref;    // reference value R
    double sfac;   // 2^E
    double dscale; // 10^-D
    double bias() const { return ref * dscale; }
    double mult() const { return sfac * dscale; }
};

// Simple packing: count values of nbits each from bit 0 of data (bytes long) into out.
// 0, or -1 with a message when the section holds too few bits.
int grib2_unpack_simple(const unsigned char* data, std::size_t bytes, int nbits, std::size_t count,
                        const G2Scale& scale, float* out);

// Complex packing (order 0) and complex packing with spatial differencing (order 1 or 2).
struct G2Complex {
    int nbits;          // bits of the group references
    int miss_type;      // missing-value management 0, 1, 2
    float miss1, miss2; // substitutes (decoded as missing)
    std::uint32_t num_groups;
    int ref_gwidth, nbits_gwidth;
    std::uint32_t ref_glen;
    int inc_glen;
    std::uint32_t last_glen;
    int nbits_glen;
    int order;          // 0 none, 1 or 2
    int spat_bytes;     // octets of each extra descriptor
};
// count values (the data points of section 5) into out; missing values become -9999.
int grib2_unpack_complex(const unsigned char* data, std::size_t bytes, const G2Complex& cp,
                         std::size_t count, const G2Scale& scale, float* out);

// JPEG 2000 code stream (count samples expected; the image must hold exactly that many).
int grib2_unpack_jpeg2000(const unsigned char* data, std::size_t bytes, int nbits,
                          std::size_t count, const G2Scale& scale, float* out);

// CCSDS (AEC) packing; out must have room for count floats.
struct G2Ccsds {
    int nbits;
    int flags;
    int block_size;
    int rsi;
};
int grib2_unpack_ccsds(const unsigned char* data, std::size_t bytes, const G2Ccsds& cc,
                       std::size_t count, const G2Scale& scale, float* out);

// Run-length packing: level indices and run digits; writes up to count values (the rest -9999).
int grib2_unpack_runlength(const unsigned char* data, std::size_t bytes, int nbits, int max_val,
                           const std::vector<float>& levels, std::size_t count, float* out);

// Geometry of the values of one field in scan order.
struct G2Layout {
    int nx, ny;                     // output grid (nx = longest row of a thinned grid)
    int scan;                       // scanning mode flags
    const std::vector<int>* rows;   // points per row of a thinned grid, or null
    std::size_t scan_points;        // points in the scan (nx x ny, or the sum of the rows)
    bool periodic_rows = false;     // thinned rows around the whole earth: expanded periodically
};
// Spreads the `packed` compact values at the start of grid (room for nx x ny floats) over
// the grid: points whose bit-map bit is 0 (bitmap may be null) and points past the packed
// values are -9999; row 0 ends at the northern edge, columns run west to east.
// 0, or -1 with a message (no memory for a thinned or column-ordered grid).
int grib2_place_values(float* grid, std::size_t packed, const G2Layout& lay,
                       const unsigned char* bitmap);

// Simple packing on periodic thinned rows scanned from the north-west, no bit map: unpacks
// each row and expands it into grid (room for nx x ny floats) in one pass. 1 done; 0 the
// layout is not one of these (nothing written); -1 with a message (data too short).
int grib2_unpack_simple_rows(const unsigned char* data, std::size_t bytes, int nbits, const G2Scale& scale,
                             const G2Layout& lay, float* grid);

// Number of set bits among the first nbits bits of bm.
std::size_t grib2_count_bits(const unsigned char* bm, std::size_t nbits);

// ---- Message state shared by the section decoders ----------------------------------------

#include "date.hpp"
#include "maptran.hpp"

// Largest grid accepted: far above any operational grid, low enough that a forged size
// cannot ask for an absurd allocation when the field is constant or compressed.
inline constexpr std::size_t G2_MAX_POINTS = std::size_t(1) << 28;

struct G2Grid {
    bool valid = false;
    Domain dv{};
    int nx = 0, ny = 0;
    int scan = 0;
    std::vector<int> rows;     // thinned grid: points per row (empty for a regular grid)
    bool periodic_rows = false;  // thinned rows that each go once around the earth
    std::size_t npts = 0;      // points in the scan
    int type = 0;              // synthesised grid number
};

struct G2Product {
    bool valid = false;
    int model = -9999, ltype = -9999, level = -9999, time = -9999, var = -9999;
    char units[15] = "";
    bool has_ens = false;
    GribEnsemble ens{};
};

struct G2Data {
    bool valid = false;
    int temp = -1;
    std::size_t data_pnts = 0;
    G2Scale scale{0.0, 1.0, 1.0};
    int nbits = 0;
    G2Complex cp{};
    G2Ccsds cc{};
    int max_val = 0;
    std::vector<float> levels;  // run-length representative values of levels 1, 2, ...
};

struct G2State {
    const unsigned char* msg = nullptr;  // message being decoded (caller's buffer)
    std::size_t len = 0;
    std::size_t pos = 0;                 // next section head
    std::size_t sect_start = 0;          // head of the section announced last
    int sect = -1;
    std::size_t slen = 0;
    int discipline = -9999;
    bool have_ids = false;
    int source = -9999, subcentre = -9999;
    Date date{};
    G2Grid grid;
    G2Product prod;
    G2Data drs;
    const unsigned char* bitmap = nullptr;  // bits of the bit map in force (inside msg), or null
    std::size_t bitmap_bits = 0;
    const unsigned char* last_bitmap = nullptr;  // last bit map defined in this message, for 254
    std::size_t last_bitmap_bits = 0;
    int fields = 0;                      // fields decoded from this message
};

G2State& grib2_state();
// Section decoders: s points at the section head, slen its length (checked to lie inside the
// message). 0, or -1 with a message.
int grib2_section3(const unsigned char* s, std::size_t slen, G2State& st);
int grib2_section4(const unsigned char* s, std::size_t slen, G2State& st);
// Gaussian rows of N = n from latitude lat1 to lat2 (ny rows) into dv: proj, param[0], dy and
// clat. 0, or -1 with a message when they are not Gaussian latitudes of n.
int g2_gaussian_domain(int n, double lat1, double lat2, std::uint64_t ny, Domain* dv);
// Copies the product, grid and identification of the state into grd and makes the texts.
void grib2_fill_report(const G2State& st, GRD_report* grd);
