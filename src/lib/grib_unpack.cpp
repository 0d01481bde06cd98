// Bit unpacking and the GRIB packings (simple, complex with spatial differencing, JPEG 2000,
// CCSDS, run-length). Every unpacker writes its values compact, in scan order, at the start of
// the caller's array; placing them on the grid is done afterwards.
#include <algorithm>
#include <array>
#include <utility>
#include <cstring>

#include "grib_internal.hpp"

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
// is read with one unaligned 64-bit load each and no branch.
template <int NBITS>
void unpack_fixed(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                  std::size_t count, std::uint32_t* out) {
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
                out[i] = v;
            }
            return;
        }
    }
    if constexpr (NBITS == 12) {
        // Two values per three bytes when the run starts on a byte boundary.
        if ((bit_offset & 7) == 0) {
            const unsigned char* p = src + (bit_offset >> 3);
            for (; i + 1 < count; i += 2, p += 3) {
                out[i] = (std::uint32_t(p[0]) << 4) | (p[1] >> 4);
                out[i + 1] = (std::uint32_t(p[1] & 0x0f) << 8) | p[2];
            }
            if (i < count) out[i] = (std::uint32_t(p[0]) << 4) | (p[1] >> 4);
            return;
        }
    }
    // Values whose 8-byte window lies wholly inside the buffer.
    std::size_t safe = 0;
    if (src_bytes >= 8) {
        const std::uint64_t last_start = (std::uint64_t(src_bytes) - 8) * 8;  // bit
        if (last_start >= bit_offset) safe = std::min<std::uint64_t>(count, (last_start - bit_offset) / NBITS + 1);
    }
    std::uint64_t pos = bit_offset;
    for (; i < safe; ++i, pos += NBITS) {
        const std::uint64_t w = load_be64(src + (pos >> 3));
        out[i] = static_cast<std::uint32_t>((w << (pos & 7)) >> (64 - NBITS));
    }
    for (; i < count; ++i, pos += NBITS) out[i] = extract_tail<NBITS>(src, src_bytes, pos);
}

using UnpackFn = void (*)(const unsigned char*, std::size_t, std::uint64_t, std::size_t,
                          std::uint32_t*);

template <std::size_t... I>
constexpr auto make_unpack_table(std::index_sequence<I...>) {
    return std::array<UnpackFn, sizeof...(I)>{&unpack_fixed<int(I) + 1>...};
}
constexpr auto kUnpack = make_unpack_table(std::make_index_sequence<32>{});

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
