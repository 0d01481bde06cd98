// Private interface between the GRIB message layer (finding messages, wrappers, edition 1,
// the grid-file glue) and the edition 2 decoder with the unpackers. A message is decoded from
// memory: the stream layer reads one whole message into a buffer and every section reader
// works inside that buffer with bounds-checked reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "grd_read.hpp"

// Unpacks count unsigned integers of nbits bits (0-32) each, most significant bit first,
// starting bit_offset bits into src (src_bytes long). nbits 0 gives zeros. Returns 0, or -1
// (nothing written) when the values would run past the end of src or nbits is above 32.
int grib_unpack_uint(const unsigned char* src, std::size_t src_bytes, std::uint64_t bit_offset,
                     int nbits, std::size_t count, std::uint32_t* out);

// Decodes the next field of an edition 2 message held in msg (len bytes, from "GRIB" to "7777").
// *pos is the offset of the next section to read: 16 (just after the indicator section) for the
// first field, or the value a previous call left. Sections are read in the order met until a
// section 7 completes a field; sections 1 to 6 met on the way update the message state, which
// lives until a call with *pos == 16 starts a new message. rep_type 1 or 2: header only (section
// 7 is stepped over). On return *pos is the offset just after the section 7 read (or where
// decoding stopped). Returns 0 for a field decoded, 1 when the message ends without another
// field ("No product found\n"), negative for damaged input (a message printed).
int grib2_decode_field(const unsigned char* msg, std::size_t len, std::size_t* pos,
                       GRD_report* grd, int rep_type);

// Ensemble and probability extension of a product (edition 1 octets 41-55; edition 2 product
// templates 4.1, 4.2, 4.5, 4.11, 4.12 and the local 50008).
struct GribEnsemble {
    int ens;        // 1 when the product carries ensemble information, else 0
    int type;       // ensemble type (1 high-res control, 2 low-res control, 3 negative, 4 ...)
    int id;         // member id
    int prod;       // product: 1 member, 2 mean, 11/12 spread, ...
    int smooth;
    int prob_var;   // probability products: the variable the probability is about
    int prob_type;  // 1 below prob_low, 2 above prob_up, 3 between (edition 1 codes)
    float prob_low;
    float prob_up;
};
// Makes grd->info from the variable, level and time, and applies the ensemble and probability
// adjustments (description prefix, var offsets, unit "%") shared by both editions; ens may be
// null. Implemented with the edition 1 decoder.
void grib_describe(GRD_report* grd, const GribEnsemble* ens);
