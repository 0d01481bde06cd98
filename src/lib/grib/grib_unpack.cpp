// Bit unpacking and the GRIB packings (simple, complex with spatial differencing, JPEG 2000,
// CCSDS, run-length). Every unpacker writes its values compact, in scan order, at the start of
// the caller's array; placing them on the grid is done afterwards.
#include <algorithm>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <array>
#include <utility>
#include <cstring>

#include <memory>

#include "grib2_internal.hpp"
#include "mess.hpp"

#ifdef QAZ_HAVE_OPENJPEG
#include <openjpeg.h>
#endif
#ifdef QAZ_HAVE_AEC
#include <libaec.h>
#endif

namespace {

// Big-endian 64-bit load of 8 bytes at p (the caller guarantees they exist).
inline std::uint64_t load_be64(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return __builtin_bswap64(w);
}

// Big-endian load of up to 8 bytes at p where fewer than 8 remain in the buffer: the bytes past
// the end read as zero.
inline std::uint64_t load_be64_tail(const unsigned char* p, std::size_t avail) {
    std::uint64_t w = 0;
    for (std::size_t i = 0; i < 8; ++i) w = (w << 8) | (i < avail ? p[i] : 0u);
    return w;
}

// One value of NBITS bits at bit position pos, wherever it lies in the buffer.
template <int NBITS>
inline std::uint32_t extract_tail(const unsigned char* src, std::size_t src_bytes,
                                  std::uint64_t pos) {
    const std::size_t byte = pos >> 3;
    const std::uint64_t w = load_be64_tail(src + byte, src_bytes - byte);
    return static_cast<std::uint32_t>((w << (pos & 7)) >> (64 - NBITS));
}

// Width fixed at compile time so that shifts and masks are constants; the bulk of the values
// is read with one unaligned 64-bit load each and no branch. sink(i, value) receives them.
template <int NBITS, class Sink>
inline void unpack_into(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                        std::size_t count, Sink sink) {
    std::size_t i = 0;
    if constexpr (NBITS == 8 || NBITS == 16 || NBITS == 24 || NBITS == 32) {
        if ((bit_offset & 7) == 0) {
            constexpr int nbytes = NBITS / 8;
            const unsigned char* p = src + (bit_offset >> 3);
            for (; i < count; ++i, p += nbytes) {
                std::uint32_t v = p[0];
                if constexpr (nbytes > 1) v = (v << 8) | p[1];
                if constexpr (nbytes > 2) v = (v << 8) | p[2];
                if constexpr (nbytes > 3) v = (v << 8) | p[3];
                sink(i, v);
            }
            return;
        }
    }
    if constexpr (NBITS == 12) {
        // Two values per three bytes when the run starts on a byte boundary.
        if ((bit_offset & 7) == 0) {
            const unsigned char* p = src + (bit_offset >> 3);
            for (; i + 1 < count; i += 2, p += 3) {
                sink(i, (std::uint32_t(p[0]) << 4) | (p[1] >> 4));
                sink(i + 1, (std::uint32_t(p[1] & 0x0f) << 8) | p[2]);
            }
            if (i < count) sink(i, (std::uint32_t(p[0]) << 4) | (p[1] >> 4));
            return;
        }
    }
    // Values whose 8-byte window lies wholly inside the buffer.
    std::size_t safe = 0;
    if (src_bytes >= 8) {
        const std::uint64_t last_start = (std::uint64_t(src_bytes) - 8) * 8;  // bit
        if (last_start >= bit_offset)
            safe = std::min<std::uint64_t>(count, (last_start - bit_offset) / NBITS + 1);
    }
    std::uint64_t pos = bit_offset;
    for (; i < safe; ++i, pos += NBITS) {
        const std::uint64_t w = load_be64(src + (pos >> 3));
        sink(i, static_cast<std::uint32_t>((w << (pos & 7)) >> (64 - NBITS)));
    }
    for (; i < count; ++i, pos += NBITS) sink(i, extract_tail<NBITS>(src, src_bytes, pos));
}

template <int NBITS>
void unpack_fixed(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                  std::size_t count, std::uint32_t* out) {
    unpack_into<NBITS>(src, src_bytes, bit_offset, count,
                       [out](std::size_t i, std::uint32_t v) { out[i] = v; });
}

// Unpacking and scaling in one pass: no intermediate integer array.
template <int NBITS>
void unpack_scaled(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                   std::size_t count, double bias, double mult, float* out) {
    unpack_into<NBITS>(src, src_bytes, bit_offset, count, [=](std::size_t i, std::uint32_t v) {
        out[i] = static_cast<float>(bias + double(v) * mult);
    });
}

using UnpackFn = void (*)(const unsigned char*, std::size_t, std::uint64_t, std::size_t,
                          std::uint32_t*);

using ScaledFn = void (*)(const unsigned char*, std::size_t, std::uint64_t, std::size_t, double,
                          double, float*);

template <std::size_t... I>
constexpr auto make_unpack_table(std::index_sequence<I...>) {
    return std::array<UnpackFn, sizeof...(I)>{&unpack_fixed<int(I) + 1>...};
}
template <std::size_t... I>
constexpr auto make_scaled_table(std::index_sequence<I...>) {
    return std::array<ScaledFn, sizeof...(I)>{&unpack_scaled<int(I) + 1>...};
}
constexpr auto kUnpack = make_unpack_table(std::make_index_sequence<32>{});
constexpr auto kScaled = make_scaled_table(std::make_index_sequence<32>{});

}  // namespace

int grib_unpack_uint(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                     int nbits, std::size_t count, std::uint32_t* out) {
    if (nbits < 0 || nbits > 32) return -1;
    const std::uint64_t total_bits = std::uint64_t(src_bytes) * 8;
    if (bit_offset > total_bits) return -1;
    if (nbits > 0 && count > (total_bits - bit_offset) / std::uint64_t(nbits)) return -1;
    if (count == 0) return 0;
    if (nbits == 0) {
        std::fill(out, out + count, 0u);
        return 0;
    }
    kUnpack[nbits - 1](src, src_bytes, bit_offset, count, out);
    return 0;
}

double g2_ieee(const unsigned char* p) {
    const std::uint32_t bits = g2_u32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::size_t grib2_count_bits(const unsigned char* bm, std::size_t nbits) {
    std::size_t n = 0;
    const std::size_t whole = nbits / 8;
    std::size_t i = 0;
    for (; i + 8 <= whole; i += 8) n += std::size_t(__builtin_popcountll(load_be64(bm + i)));
    for (; i < whole; ++i) n += std::size_t(__builtin_popcount(bm[i]));
    if (nbits & 7) n += std::size_t(__builtin_popcount(bm[whole] >> (8 - (nbits & 7))));
    return n;
}

namespace {

inline bool too_short(std::size_t bytes, std::uint64_t bits_needed) {
    return bits_needed > std::uint64_t(bytes) * 8;
}

// Fills count values with one constant.
void fill_constant(float* out, std::size_t count, float value) { std::fill(out, out + count, value); }

// ---- Complex packing -------------------------------------------------------------------

struct GroupTables {
    std::vector<std::uint32_t> refs, widths, lengths;
};

// Rounds a bit position up to the next octet.
inline std::uint64_t octet_align(std::uint64_t bit) { return (bit + 7) & ~std::uint64_t(7); }

int read_groups(const unsigned char* data, std::size_t bytes, const G2Complex& cp,
                std::size_t count, std::uint64_t* bitpos, GroupTables* g) {
    const std::size_t ng = cp.num_groups;
    if (ng > count || (ng == 0 && count > 0)) {
        MESS_print(M_error, "GRIB_DS: %u groups for %zu values\n", cp.num_groups, count);
        return -1;
    }
    if (cp.nbits > 32 || cp.nbits_gwidth > 32 || cp.nbits_glen > 32) {
        MESS_print(M_error, "GRIB_DS: more than 32 bits per group descriptor\n");
        return -1;
    }
    g->refs.resize(ng);
    g->widths.resize(ng);
    g->lengths.resize(ng);
    if (ng == 0) return 0;
    std::uint64_t pos = *bitpos;
    if (grib_unpack_uint(data, bytes, pos, cp.nbits, ng, g->refs.data()) < 0) goto short_section;
    pos = octet_align(pos + std::uint64_t(cp.nbits) * ng);
    if (grib_unpack_uint(data, bytes, pos, cp.nbits_gwidth, ng, g->widths.data()) < 0) goto short_section;
    pos = octet_align(pos + std::uint64_t(cp.nbits_gwidth) * ng);
    if (grib_unpack_uint(data, bytes, pos, cp.nbits_glen, ng, g->lengths.data()) < 0) goto short_section;
    pos = octet_align(pos + std::uint64_t(cp.nbits_glen) * ng);
    {
        std::uint64_t total = 0, value_bits = 0;
        for (std::size_t k = 0; k < ng; ++k) {
            const std::uint64_t width = std::uint64_t(cp.ref_gwidth) + g->widths[k];
            if (width > 32) {
                MESS_print(M_error, "GRIB_DS: group width of %llu bits\n", (unsigned long long)width);
                return -1;
            }
            g->widths[k] = std::uint32_t(width);
            const std::uint64_t len = k + 1 == ng ? cp.last_glen
                                                  : std::uint64_t(cp.ref_glen) + std::uint64_t(g->lengths[k]) * std::uint64_t(cp.inc_glen);
            total += len;
            if (total > count) break;
            g->lengths[k] = std::uint32_t(len);
            value_bits += len * width;
        }
        if (total != count) {
            MESS_print(M_error, "GRIB_DS: group lengths add up to %llu, not %zu values\n",
                       (unsigned long long)total, count);
            return -1;
        }
        if (too_short(bytes, pos + value_bits)) goto short_section;
    }
    *bitpos = pos;
    return 0;
short_section:
    MESS_print(M_error, "GRIB_DS: group descriptors run past the data section\n");
    return -1;
}

// Undoes the spatial differencing while the values stream out: missing points are not part
// of the differenced sequence. Arithmetic wraps (unsigned) so that hostile input stays defined.
template <int ORDER>
struct Differencer {
    std::uint64_t first0, first1, minsd;
    std::uint64_t prev = 0, prev2 = 0;
    std::size_t seen = 0;
    inline std::int64_t next(std::uint64_t d) {
        std::uint64_t v;
        if constexpr (ORDER == 0) {
            return std::int64_t(d);
        } else if constexpr (ORDER == 1) {
            v = seen == 0 ? first0 : d + minsd + prev;
        } else {
            v = seen == 0 ? first0 : seen == 1 ? first1 : d + minsd + 2 * prev - prev2;
        }
        prev2 = prev;
        prev = v;
        ++seen;
        return std::int64_t(v);
    }
};

template <int ORDER, bool MISSING>
int decode_groups(const unsigned char* data, std::size_t bytes, std::uint64_t pos,
                  const G2Complex& cp, const GroupTables& g, Differencer<ORDER> diff,
                  const G2Scale& scale, float* out) {
    const double bias = scale.bias(), mult = scale.mult();
    constexpr std::size_t kChunk = 4096;
    std::uint32_t tmp[kChunk];
    const std::uint32_t ref_ones = cp.nbits > 0 ? std::uint32_t((std::uint64_t(1) << cp.nbits) - 1) : 0;
    std::size_t o = 0;
    const std::size_t ng = g.refs.size();
    for (std::size_t k = 0; k < ng; ++k) {
        const std::uint32_t len = g.lengths[k];
        const int width = int(g.widths[k]);
        const std::uint64_t ref = g.refs[k];
        if (width == 0) {
            bool miss = false;
            if constexpr (MISSING) {
                miss = cp.nbits > 0 && (ref == ref_ones || (cp.miss_type == 2 && ref == ref_ones - 1));
            }
            if (miss) {
                fill_constant(out + o, len, GRD_MISSING);
            } else if constexpr (ORDER == 0) {
                fill_constant(out + o, len, float(bias + double(ref) * mult));
            } else {
                for (std::uint32_t i = 0; i < len; ++i) out[o + i] = float(bias + double(diff.next(ref)) * mult);
            }
            o += len;
            continue;
        }
        const std::uint32_t ones = std::uint32_t((std::uint64_t(1) << width) - 1);
        for (std::uint32_t done = 0; done < len;) {
            const std::size_t n = std::min<std::size_t>(kChunk, len - done);
            kUnpack[width - 1](data, bytes, pos, n, tmp);
            pos += std::uint64_t(width) * n;
            float* dst = out + o;
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t x = tmp[i];
                if constexpr (MISSING) {
                    if (x == ones || (cp.miss_type == 2 && x == ones - 1)) {
                        dst[i] = GRD_MISSING;
                        continue;
                    }
                }
                dst[i] = float(bias + double(diff.next(ref + x)) * mult);
            }
            o += n;
            done += std::uint32_t(n);
        }
    }
    return 0;
}

template <int ORDER>
int decode_groups_order(const unsigned char* data, std::size_t bytes, std::uint64_t pos,
                        const G2Complex& cp, const GroupTables& g, const std::int64_t* extra,
                        const G2Scale& scale, float* out) {
    Differencer<ORDER> diff{std::uint64_t(extra[0]), std::uint64_t(extra[1]), std::uint64_t(extra[2])};
    if (cp.miss_type == 0) return decode_groups<ORDER, false>(data, bytes, pos, cp, g, diff, scale, out);
    return decode_groups<ORDER, true>(data, bytes, pos, cp, g, diff, scale, out);
}

}  // namespace

int grib2_unpack_simple(const unsigned char* data, std::size_t bytes, int nbits, std::size_t count,
                        const G2Scale& scale, float* out) {
    if (nbits < 0 || nbits > 32) {
        MESS_print(M_error, "GRIB_DS: %d bits per value\n", nbits);
        return -1;
    }
    if (nbits == 0) {
        fill_constant(out, count, float(scale.bias()));
        return 0;
    }
    if (too_short(bytes, std::uint64_t(nbits) * count)) {
        MESS_print(M_error, "GRIB_DS: %zu values of %d bits run past the data section\n", count, nbits);
        return -1;
    }
    kScaled[nbits - 1](data, bytes, 0, count, scale.bias(), scale.mult(), out);
    return 0;
}

int grib2_unpack_complex(const unsigned char* data, std::size_t bytes, const G2Complex& cp,
                         std::size_t count, const G2Scale& scale, float* out) {
    // A field that is constant where present is written with 0 bits, no groups and often no
    // extra descriptors at all: it is the reference value, as under simple packing (a bit
    // map, applied by the caller, still marks the missing points).
    if (cp.nbits == 0) {
        fill_constant(out, count, float(scale.bias()));
        return 0;
    }
    std::uint64_t pos = 0;
    std::int64_t extra[3] = {0, 0, 0};  // first value(s) and overall minimum of the differences
    if (cp.order != 0) {
        if (cp.order != 1 && cp.order != 2) {
            MESS_print(M_error, "GRIB_DS: spatial differencing of order %d\n", cp.order);
            return -1;
        }
        if (cp.spat_bytes < 1 || cp.spat_bytes > 4) {
            MESS_print(M_error, "GRIB_DS: extra descriptors of %d octets\n", cp.spat_bytes);
            return -1;
        }
        const int ndesc = cp.order + 1;
        if (std::size_t(ndesc * cp.spat_bytes) > bytes) {
            MESS_print(M_error, "GRIB_DS: extra descriptors run past the data section\n");
            return -1;
        }
        std::int64_t vals[3];
        for (int k = 0; k < ndesc; ++k) {
            const unsigned char* p = data + k * cp.spat_bytes;
            std::int64_t mag = p[0] & 0x7f;
            for (int b = 1; b < cp.spat_bytes; ++b) mag = (mag << 8) | p[b];
            vals[k] = (p[0] & 0x80) ? -mag : mag;
        }
        extra[0] = vals[0];
        extra[1] = cp.order == 2 ? vals[1] : 0;
        extra[2] = vals[ndesc - 1];
        pos = std::uint64_t(ndesc) * cp.spat_bytes * 8;
        MESS_print(M_debug, "DS1 %lld %lld %lld\n", (long long)extra[0], (long long)extra[1],
                   (long long)extra[2]);
    }
    GroupTables g;
    if (read_groups(data, bytes, cp, count, &pos, &g) < 0) return -1;
    switch (cp.order) {
    case 1: return decode_groups_order<1>(data, bytes, pos, cp, g, extra, scale, out);
    case 2: return decode_groups_order<2>(data, bytes, pos, cp, g, extra, scale, out);
    default: return decode_groups_order<0>(data, bytes, pos, cp, g, extra, scale, out);
    }
}

// ---- JPEG 2000 -------------------------------------------------------------------------

#ifdef QAZ_HAVE_OPENJPEG
namespace {

struct MemSource {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
};

OPJ_SIZE_T mem_read(void* buf, OPJ_SIZE_T n, void* user) {
    auto* m = static_cast<MemSource*>(user);
    if (m->pos >= m->size) return OPJ_SIZE_T(-1);
    const std::size_t take = std::min<std::size_t>(n, m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, take);
    m->pos += take;
    return take;
}
OPJ_OFF_T mem_skip(OPJ_OFF_T n, void* user) {
    auto* m = static_cast<MemSource*>(user);
    if (n < 0) {
        const std::size_t back = std::min<std::size_t>(std::size_t(-n), m->pos);
        m->pos -= back;
        return -OPJ_OFF_T(back);
    }
    const std::size_t fwd = std::min<std::size_t>(std::size_t(n), m->size - m->pos);
    m->pos += fwd;
    return OPJ_OFF_T(fwd);
}
OPJ_BOOL mem_seek(OPJ_OFF_T n, void* user) {
    auto* m = static_cast<MemSource*>(user);
    if (n < 0 || std::uint64_t(n) > m->size) return OPJ_FALSE;
    m->pos = std::size_t(n);
    return OPJ_TRUE;
}
void opj_quiet(const char* msg, void*) { MESS_print(M_debug, "openjpeg: %s", msg); }

struct CodecDel { void operator()(opj_codec_t* c) const { opj_destroy_codec(c); } };
struct StreamDel { void operator()(opj_stream_t* s) const { opj_stream_destroy(s); } };
struct ImageDel { void operator()(opj_image_t* i) const { opj_image_destroy(i); } };

}  // namespace
#endif

int grib2_unpack_jpeg2000(const unsigned char* data, std::size_t bytes, int nbits,
                          std::size_t count, const G2Scale& scale, float* out) {
    if (nbits == 0) {
        fill_constant(out, count, float(scale.bias()));
        return 0;
    }
    if (count == 0) return 0;
#ifdef QAZ_HAVE_OPENJPEG
    MemSource src{data, bytes, 0};
    std::unique_ptr<opj_codec_t, CodecDel> codec(opj_create_decompress(OPJ_CODEC_J2K));
    std::unique_ptr<opj_stream_t, StreamDel> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!codec || !stream) {
        MESS_print(M_error, "jpc_decode error\n");
        return -1;
    }
    opj_set_error_handler(codec.get(), opj_quiet, nullptr);
    opj_set_warning_handler(codec.get(), opj_quiet, nullptr);
    opj_set_info_handler(codec.get(), opj_quiet, nullptr);
    opj_stream_set_user_data(stream.get(), &src, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes);
    opj_stream_set_read_function(stream.get(), mem_read);
    opj_stream_set_skip_function(stream.get(), mem_skip);
    opj_stream_set_seek_function(stream.get(), mem_seek);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_image_t* raw_image = nullptr;
    if (!opj_setup_decoder(codec.get(), &params) ||
        !opj_read_header(stream.get(), codec.get(), &raw_image)) {
        if (raw_image) opj_image_destroy(raw_image);
        MESS_print(M_error, "jpc_decode error\n");
        return -1;
    }
    std::unique_ptr<opj_image_t, ImageDel> image(raw_image);
    // The size check comes before the decode so that a forged header cannot make the codec
    // allocate an image of any size.
    const std::uint64_t width = image->x1 - image->x0, height = image->y1 - image->y0;
    if (image->numcomps < 1 || width * height != count) {
        MESS_print(M_error, "GRIB_DS: JPEG 2000 image of %llux%llu for %zu values\n",
                   (unsigned long long)width, (unsigned long long)height, count);
        return -1;
    }
    if (!opj_decode(codec.get(), stream.get(), image.get()) ||
        !opj_end_decompress(codec.get(), stream.get())) {
        MESS_print(M_error, "jpc_decode error\n");
        return -1;
    }
    const opj_image_comp_t& comp = image->comps[0];
    if (!comp.data || std::uint64_t(comp.w) * comp.h != count) {
        MESS_print(M_error, "GRIB_DS: JPEG 2000 image of %ux%u for %zu values\n", comp.w, comp.h, count);
        return -1;
    }
    MESS_print(M_debug, "JAS %u %u = %u\n", comp.w, comp.h, comp.prec);
    const double bias = scale.bias(), mult = scale.mult();
    const OPJ_INT32* samples = comp.data;
    for (std::size_t i = 0; i < count; ++i) out[i] = float(bias + double(samples[i]) * mult);
    return 0;
#else
    (void)data;
    (void)bytes;
    (void)out;
    MESS_print(M_error, "jpc_decode error\n");
    return -1;
#endif
}

// ---- CCSDS -----------------------------------------------------------------------------

namespace {
// Converts count samples of SIZE bytes (native order) held at the start of out's storage into
// floats, from the last down, so each float is written after its sample (and every later one)
// has been read.
template <class Sample>
void samples_to_float(float* out, std::size_t count, double bias, double mult) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(out);
    for (std::size_t i = count; i-- > 0;) {
        Sample s;
        std::memcpy(&s, base + i * sizeof(Sample), sizeof s);
        const float v = float(bias + double(s) * mult);
        std::memcpy(out + i, &v, sizeof v);
    }
}
}  // namespace

int grib2_unpack_ccsds(const unsigned char* data, std::size_t bytes, const G2Ccsds& cc,
                       std::size_t count, const G2Scale& scale, float* out) {
    if (cc.nbits == 0) {
        fill_constant(out, count, float(scale.bias()));
        return 0;
    }
    if (count == 0) return 0;
    if (cc.nbits < 0 || cc.nbits > 32) {
        MESS_print(M_error, "GRIB_DS: %d bits per value\n", cc.nbits);
        return -1;
    }
#ifdef QAZ_HAVE_AEC
    // Byte order and the 3-byte form only shape the decoder's output, not the code stream:
    // samples are taken in native order, one, two or four bytes wide.
    const int flags = cc.flags & ~(AEC_DATA_MSB | AEC_DATA_3BYTE);
    const std::size_t sample = cc.nbits <= 8 ? 1 : cc.nbits <= 16 ? 2 : 4;
    aec_stream strm{};
    strm.next_in = data;
    strm.avail_in = bytes;
    // The samples are decoded into the value array itself (4 bytes per value, never less than a
    // sample) and widened to floats in place.
    strm.next_out = reinterpret_cast<unsigned char*>(out);
    strm.avail_out = count * sample;
    strm.bits_per_sample = unsigned(cc.nbits);
    strm.block_size = unsigned(cc.block_size);
    strm.rsi = unsigned(cc.rsi);
    strm.flags = unsigned(flags);
    // Settings the decoder refuses are refused here first: its set-up does not release what
    // it took when it refuses them.
    const bool block_ok = (flags & AEC_NOT_ENFORCE) ? cc.block_size > 0 && cc.block_size <= 64 && cc.block_size % 2 == 0
                                                    : cc.block_size == 8 || cc.block_size == 16 ||
                                                          cc.block_size == 32 || cc.block_size == 64;
    if (!block_ok || cc.rsi < 1 || cc.rsi > 4096 || ((flags & AEC_RESTRICTED) && cc.nbits > 4)) {
        MESS_print(M_error, "GRIB_DS: CCSDS block size %d, interval %d\n", cc.block_size, cc.rsi);
        return -1;
    }
    const int rc = aec_buffer_decode(&strm);
    if (rc != AEC_OK || strm.total_out != count * sample) {
        MESS_print(M_error, "GRIB_DS: CCSDS decode failed (%d): %zu of %zu samples\n", rc,
                   std::size_t(strm.total_out / sample), count);
        return -1;
    }
    const double bias = scale.bias(), mult = scale.mult();
    const bool sgn = (flags & AEC_DATA_SIGNED) != 0;
    if (sample == 1) {
        if (sgn) samples_to_float<std::int8_t>(out, count, bias, mult);
        else samples_to_float<std::uint8_t>(out, count, bias, mult);
    } else if (sample == 2) {
        if (sgn) samples_to_float<std::int16_t>(out, count, bias, mult);
        else samples_to_float<std::uint16_t>(out, count, bias, mult);
    } else {
        if (sgn) samples_to_float<std::int32_t>(out, count, bias, mult);
        else samples_to_float<std::uint32_t>(out, count, bias, mult);
    }
    return 0;
#else
    (void)data;
    (void)bytes;
    (void)scale;
    (void)out;
    MESS_print(M_error, "GRIB_DS: CCSDS packing is not available in this build\n");
    return -1;
#endif
}

// ---- Run-length ------------------------------------------------------------------------

int grib2_unpack_runlength(const unsigned char* data, std::size_t bytes, int nbits, int max_val,
                           const std::vector<float>& levels, std::size_t count, float* out) {
    if (nbits < 1 || nbits > 16) {
        MESS_print(M_error, "GRIB_DS: run-length codes of %d bits\n", nbits);
        return -1;
    }
    const std::int64_t top = (std::int64_t(1) << nbits) - 1;
    const std::int64_t base = top - max_val;  // values a run digit can take
    const std::size_t ncodes = std::size_t(std::uint64_t(bytes) * 8 / unsigned(nbits));
    std::size_t filled = 0;
    auto level_value = [&](std::uint32_t index) {
        // Level 0 is the missing level; representative values start at level 1.
        return index >= 1 && index <= levels.size() ? levels[index - 1] : GRD_MISSING;
    };
    auto put = [&](std::uint32_t index, std::uint64_t run) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(run, count - filled));
        fill_constant(out + filled, n, level_value(index));
        filled += n;
    };
    constexpr std::size_t kChunk = 4096;
    std::uint32_t codes[kChunk];
    bool have = false;
    std::uint32_t index = 0;
    std::uint64_t run = 0, mult = 1;
    for (std::size_t c = 0; c < ncodes && filled < count; c += kChunk) {
        const std::size_t n = std::min(kChunk, ncodes - c);
        grib_unpack_uint(data, bytes, std::uint64_t(c) * unsigned(nbits), nbits, n, codes);
        for (std::size_t k = 0; k < n && filled < count; ++k) {
            const std::int64_t code = codes[k];
            if (code <= max_val) {
                if (have) put(index, run);
                have = true;
                index = std::uint32_t(code);
                run = 1;
                mult = 1;
            } else if (have && base > 0) {
                // Run digits, least significant first; saturate instead of overflowing.
                const std::uint64_t digit = std::uint64_t(code - max_val - 1);
                if (mult <= count) run = std::min<std::uint64_t>(run + digit * mult, std::uint64_t(count) + 1);
                mult = mult <= count ? mult * std::uint64_t(base) : mult;
            }
        }
    }
    if (have && filled < count) put(index, run);
    fill_constant(out + filled, count - filled, GRD_MISSING);
    return 0;
}

// ---- Placement -------------------------------------------------------------------------

namespace {

inline bool bit_set(const unsigned char* bm, std::size_t i) { return (bm[i >> 3] >> (7 - (i & 7))) & 1; }

// Stretches n values (west to east) linearly over nx columns.
void stretch_row(const float* v, int n, float* dst, int nx) {
    if (n <= 0) {
        fill_constant(dst, std::size_t(nx), GRD_MISSING);
        return;
    }
    if (n == nx) {
        std::copy(v, v + n, dst);
        return;
    }
    const double step = nx > 1 ? double(n - 1) / double(nx - 1) : 0.0;
    int next = n > 1 ? 2 : 1;
    float a = v[0], b = n > 1 ? v[1] : v[0];
    double f = 0;
    for (int c = 0; c < nx; ++c) {
        if (f >= 1 && next < n) {
            a = b;
            b = v[next++];
            f -= 1;
        }
        dst[c] = (a == GRD_MISSING || b == GRD_MISSING) ? GRD_MISSING : float(f * b + (1 - f) * a);
        f += step;
    }
}

// Column c of a row of n values around the earth, expanded to nx columns, lies at c n / nx
// points along the row. The position is taken in double precision: the error, below 1e-12,
// is far inside the 1/nx that separates a fraction from a whole number, and 1e-9 settles
// columns that fall on a point. v has room for n + 1 values.
inline void wrap_columns_from(const float* v, int n, float* dst, int nx, int c, int end) {
    const double per_column = double(n) / double(nx);
    for (; c < end; ++c) {
        const double pos = double(c) * per_column + 1e-9;
        const int i = int(pos);
        const float f = float(pos - double(i));
        const float a = v[i], b = v[i + 1];
        dst[c] = a + f * (b - a);
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QAZ_WRAP_AVX2 1
// Eight columns at a time without gathers: eight columns span at most eight points (n <= nx),
// so both neighbours of each come from two loads and a lane permutation. Within a block the
// offsets r + k n (r the remainder at the block's first column) stay below 9 nx, exact in
// single precision, and their quotient by nx is off by far less than 1/nx before the floor.
// stream: write past the caches (a grid far larger than they are, not read again soon).
__attribute__((target("avx2"))) void wrap_columns_avx2(const float* v, int n, float* dst, int nx, bool stream) {
    const double per_column = double(n) / double(nx);
    const float inv = 1.0f / float(nx);
    const __m256i k_n = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(n));
    const __m256i nx8 = _mm256_set1_epi32(nx);
    const __m256 inv8 = _mm256_set1_ps(inv), settle = _mm256_set1_ps(1e-5f);
    int c = 0;
    if (stream) {
        // Up to the first column on a 32-byte boundary one by one; the stores need it.
        const std::uintptr_t misalign = reinterpret_cast<std::uintptr_t>(dst) & 31;
        if (misalign % sizeof(float) != 0) stream = false;
        c = stream ? std::min(nx, int(((32 - misalign) & 31) / sizeof(float))) : 0;
        wrap_columns_from(v, n, dst, nx, 0, c);
    }
    for (; c + 8 <= nx; c += 8) {
        const int first = int(double(c) * per_column + 1e-9);
        const int r = int(std::int64_t(c) * n - std::int64_t(first) * nx);
        const __m256i t = _mm256_add_epi32(_mm256_set1_epi32(r), k_n);
        const __m256i idx = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(t), inv8), settle));
        const __m256i rem = _mm256_sub_epi32(t, _mm256_mullo_epi32(idx, nx8));
        const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(rem), inv8);
        const __m256 a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(v + first), idx);
        const __m256 b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(v + first + 1), idx);
        const __m256 value = _mm256_add_ps(a, _mm256_mul_ps(f, _mm256_sub_ps(b, a)));
        if (stream)
            _mm256_stream_ps(dst + c, value);
        else
            _mm256_storeu_ps(dst + c, value);
    }
    if (stream) _mm_sfence();
    wrap_columns_from(v, n, dst, nx, c, nx);
}
#endif

#ifdef QAZ_WRAP_AVX2
// 16-bit values starting on a byte boundary, scaled: the same arithmetic as unpack_scaled
// (double product and sum, then single precision), eight at a time.
__attribute__((target("avx2"))) void unpack16_scaled_avx2(const unsigned char* p, std::size_t count, double bias,
                                                        double mult, float* out) {
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m256d bias4 = _mm256_set1_pd(bias), mult4 = _mm256_set1_pd(mult);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8, p += 16) {
        const __m128i raw = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
        const __m256i wide = _mm256_cvtepu16_epi32(raw);
        const __m256d lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(wide));
        const __m256d hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(wide, 1));
        _mm_storeu_ps(out + i, _mm256_cvtpd_ps(_mm256_add_pd(bias4, _mm256_mul_pd(lo, mult4))));
        _mm_storeu_ps(out + i + 4, _mm256_cvtpd_ps(_mm256_add_pd(bias4, _mm256_mul_pd(hi, mult4))));
    }
    for (; i < count; ++i, p += 2) out[i] = static_cast<float>(bias + double((unsigned(p[0]) << 8) | p[1]) * mult);
}
#endif

void wrap_columns(const float* v, int n, float* dst, int nx, bool stream) {
#ifdef QAZ_WRAP_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && nx <= 16384) {  // the block offsets stay exact in single precision
        wrap_columns_avx2(v, n, dst, nx, stream);
        return;
    }
#endif
    wrap_columns_from(v, n, dst, nx, 0, nx);
}

// Expands a row of n values that goes once around the earth to nx columns (n <= nx) by linear
// interpolation, the last value leading back to the first. v has room for n + 8 values.
// may_miss: the row can hold -9999 (missing), which leaves its neighbouring columns missing.
void wrap_row(float* v, int n, float* dst, int nx, bool may_miss = true, bool stream = false) {
    if (n <= 0) {
        fill_constant(dst, std::size_t(nx), GRD_MISSING);
        return;
    }
    if (n >= nx) {
        std::copy(v, v + nx, dst);
        return;
    }
    v[n] = v[0];
    wrap_columns(v, n, dst, nx, stream);
    if (!may_miss || std::find(v, v + n, GRD_MISSING) == v + n) return;
    // A missing neighbour leaves the column missing.
    const double per_column = double(n) / double(nx);
    for (int c = 0; c < nx; ++c) {
        const int i = int(double(c) * per_column + 1e-9);
        if (v[i] == GRD_MISSING || v[i + 1] == GRD_MISSING) dst[c] = GRD_MISSING;
    }
}

// Is scan row r (0-based, in scan order) running east to west?
inline bool row_reversed(int scan, int r) {
    return ((scan & 0x80) != 0) != ((scan & 0x10) != 0 && (r & 1) != 0);
}

}  // namespace

int grib2_unpack_simple_rows(const unsigned char* data, std::size_t bytes, int nbits, const G2Scale& scale,
                             const G2Layout& lay, float* grid) {
    // Rows scanned west to east from the north, every point packed, each row around the earth.
    if (!lay.rows || !lay.periodic_rows || (lay.scan & 0xf0) != 0 || nbits < 0 || nbits > 32) return 0;
    const std::vector<int>& rows = *lay.rows;
    const int nx = lay.nx, ny = lay.ny;
    if (nbits == 0) {
        fill_constant(grid, std::size_t(nx) * std::size_t(ny), float(scale.bias()));
        return 1;
    }
    if (too_short(bytes, std::uint64_t(nbits) * lay.scan_points)) {
        MESS_print(M_error, "GRIB_DS: %zu values of %d bits run past the data section\n", lay.scan_points, nbits);
        return -1;
    }
    // Each row is unpacked into a buffer that stays in cache and expanded straight into the
    // grid: the packed field is never held whole.
    std::vector<float> row(std::size_t(nx) + 9);
    // Values run from the reference value up by 2^nbits - 1 steps: only a range that takes
    // in -9999 can hold the missing value.
    const double lowest = scale.bias(), highest = scale.bias() + scale.mult() * double((std::uint64_t(1) << nbits) - 1);
    const bool may_miss = std::min(lowest, highest) <= GRD_MISSING && std::max(lowest, highest) >= GRD_MISSING;
    // A grid far beyond the caches is written past them.
    const bool stream = std::size_t(nx) * std::size_t(ny) * sizeof(float) > (std::size_t(16) << 20);
    std::uint64_t bit = 0;
    for (int r = 0; r < ny; ++r) {
        const int n = std::min(rows[std::size_t(r)], nx);
#ifdef QAZ_WRAP_AVX2
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (n > 0 && nbits == 16 && avx2 && bit % 8 == 0)  // bounds checked above: too_short
            unpack16_scaled_avx2(data + bit / 8, std::size_t(n), scale.bias(), scale.mult(), row.data());
        else
#endif
        if (n > 0) kScaled[nbits - 1](data, bytes, bit, std::size_t(n), scale.bias(), scale.mult(), row.data());
        bit += std::uint64_t(rows[std::size_t(r)]) * std::uint64_t(nbits);
        wrap_row(row.data(), n, grid + std::size_t(r) * std::size_t(nx), nx, may_miss, stream);
    }
    return 1;
}

int grib2_place_values(float* grid, std::size_t packed, const G2Layout& lay,
                       const unsigned char* bitmap) {
    const std::size_t npts = lay.scan_points;
    // Spread the packed values over the scan positions, from the end so that nothing is
    // overwritten before it is moved.
    if (bitmap) {
        std::size_t j = grib2_count_bits(bitmap, npts);
        for (std::size_t i = npts; i-- > 0;) {
            if (bit_set(bitmap, i)) {
                --j;
                grid[i] = j < packed ? grid[j] : GRD_MISSING;
            } else {
                grid[i] = GRD_MISSING;
            }
        }
    } else if (packed < npts) {
        fill_constant(grid + packed, npts - packed, GRD_MISSING);
    }
    const int nx = lay.nx, ny = lay.ny;
    const bool north_up = (lay.scan & 0x40) == 0;
    if (lay.rows) {
        const std::vector<int>& rows = *lay.rows;
        auto expand = [&](float* v, int n, float* dst) {
            if (lay.periodic_rows)
                wrap_row(v, n, dst, nx);
            else
                stretch_row(v, n, dst, nx);
        };
        std::vector<float> row(std::size_t(nx) + 9);
        if (north_up) {
            // Row r ends on grid row r, at or after its packed values, and rows after it are
            // done first: every packed row is still in place when its turn comes.
            std::vector<std::size_t> start(std::size_t(ny) + 1, 0);
            for (int r = 0; r < ny; ++r) start[std::size_t(r) + 1] = start[std::size_t(r)] + std::size_t(rows[std::size_t(r)]);
            for (int r = ny - 1; r >= 0; --r) {
                const int n = std::min(rows[std::size_t(r)], nx);
                std::copy(grid + start[std::size_t(r)], grid + start[std::size_t(r)] + std::size_t(n), row.begin());
                if (row_reversed(lay.scan, r)) std::reverse(row.begin(), row.begin() + n);
                expand(row.data(), n, grid + std::size_t(r) * std::size_t(nx));
            }
            return 0;
        }
        std::vector<float> scan(grid, grid + npts);
        std::size_t off = 0;
        for (int r = 0; r < ny; ++r) {
            const int n = std::min(rows[std::size_t(r)], nx);
            std::copy(scan.begin() + std::ptrdiff_t(off), scan.begin() + std::ptrdiff_t(off + std::size_t(n)), row.begin());
            off += std::size_t(rows[std::size_t(r)]);
            if (row_reversed(lay.scan, r)) std::reverse(row.begin(), row.begin() + n);
            expand(row.data(), n, grid + std::size_t(ny - 1 - r) * std::size_t(nx));
        }
        return 0;
    }
    if (lay.scan & 0x20) {
        // Points run down the columns: column c of the scan is grid column c (or nx-1-c).
        std::vector<float> scan(grid, grid + npts);
        for (int c = 0; c < nx; ++c) {
            const bool col_rev = (lay.scan & 0x10) && (c & 1);
            const int dest_col = (lay.scan & 0x80) ? nx - 1 - c : c;
            for (int k = 0; k < ny; ++k) {
                const int r = col_rev ? ny - 1 - k : k;
                const int dest_row = north_up ? r : ny - 1 - r;
                grid[std::size_t(dest_row) * std::size_t(nx) + std::size_t(dest_col)] =
                    scan[std::size_t(c) * std::size_t(ny) + std::size_t(k)];
            }
        }
        return 0;
    }
    const std::size_t w = std::size_t(nx);
    if (!north_up) {
        for (int r = 0; r < ny / 2; ++r)
            std::swap_ranges(grid + std::size_t(r) * w, grid + std::size_t(r + 1) * w,
                             grid + std::size_t(ny - 1 - r) * w);
    }
    if (lay.scan & (0x80 | 0x10)) {
        for (int d = 0; d < ny; ++d) {
            const int r = north_up ? d : ny - 1 - d;  // scan row now held in grid row d
            if (row_reversed(lay.scan, r)) std::reverse(grid + std::size_t(d) * w, grid + std::size_t(d + 1) * w);
        }
    }
    return 0;
}
