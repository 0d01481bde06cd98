// Private interface between the GRIB stream layer (grib_stream.cpp, grib_fd.cpp), the edition
// 0/1 decoder (grib1.cpp, grib1_grid.cpp) and the grid-file glue (grd_grib.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "grib.hpp"
#include "grib_internal.hpp"

// State of one open GRIB file, kept in GRD_file.priv (released through priv_free).
struct GribStream {
    std::vector<unsigned char> msg;  // current message, "GRIB" to "7777"
    int edition = -1;                // of msg; -1 none
    off_t rec_start = -1;            // where the current record (wrapper included) starts
    off_t msg_start = -1;            // offset of the message's "GRIB"
    off_t next_pos = -1;             // where the search for the following message starts
    char wmo[31] = {};               // WMO heading of the current message
    // Header-only loading: an edition 0/1 message of a seekable file may be loaded only up to
    // its grid section (then partial, with "7777" appended so that its sections still close).
    bool header_only = false;        // request for the next load
    bool partial = false;            // msg holds only the head of the message
    std::uint64_t length = 0;        // whole length of the current message
    int last_kind = 0;               // wrapper kind learned from earlier messages (0 none)
    // Reading cursor of the grid-file layer: the next unread field is grid cursor_num, found
    // by searching from cursor_pos, or (cursor_in_msg) inside msg at ed2_pos.
    int loaded_num = -1;             // grid whose message is in msg (-1 none)
    int cursor_num = 0;
    off_t cursor_pos = 0;
    bool cursor_in_msg = false;
    std::size_t ed2_pos = 16;        // edition 2: offset of the next section to decode
    std::size_t ed2_field_pos = 16;  // edition 2: offset where the loaded field started
    int ed2_field = 0;               // edition 2: index of the loaded field in its message
    int seen_num = 0;                // GRD_file.num and new_pos as the last read left them
    off_t seen_new_pos = -1;
    int hdr_line = 0;                // header index file: next line number
    // Starts of messages that could not be delimited (cut short, wrong length, no end
    // marker), each with its reason, in the order found; the scan went on past each.
    std::vector<std::pair<off_t, std::string>> damaged;
};

// The file's stream state, created on first use (null only when out of memory).
GribStream* grib_stream(GRD_file* gf);
// Message finding on a GRD_file; results as the public functions of the same names.
int grib_header_gf(GRD_file* gf);
int grib_header_form(GRD_file* gf, int kind);
long grib_search_gf(GRD_file* gf);
off_t grib_next_gf(GRD_file* gf, int where);
int grib_get_info_gf(GRD_file* gf, GRD_info* info);
long grib_get_raw_gf(GRD_file* gf, unsigned char** buf, long size);
int grib_get_wmo_gf(GRD_file* gf, char* header);
// Edition of the last message found by any file (GRIB_get_version).
void grib_set_last_version(int version);

// Offsets of the sections of an edition 0/1 message held in memory (0 = absent).
struct Grib1Sections {
    const unsigned char* msg = nullptr;
    std::size_t len = 0;
    int edition = 1;
    std::size_t pds = 0, pds_len = 0;
    std::size_t gds = 0, gds_len = 0;
    std::size_t bms = 0, bms_len = 0;
    std::size_t bds = 0, bds_len = 0;
};
// Locates and checks the sections of msg (len bytes from "GRIB"): every section must lie
// inside the message; header_only stops after the grid section. 0, or -1 with a message.
int grib1_sections(const unsigned char* msg, std::size_t len, int edition, Grib1Sections* s,
                   bool header_only = false);
// Loads the whole of the current message again when only its head is held: true when msg is
// then whole.
bool grib_load_whole(GRD_file* gf);
// Total length of an edition 0 message whose first bytes are in head (avail bytes, from "GRIB"),
// walking its sections; 0 when more bytes are needed to tell, -1 when it is not a message.
long grib0_length(const unsigned char* head, std::size_t avail, std::size_t* need);
// The section decoders over one located message. Results as GRIB_PDB, GRIB_GDB, GRIB_BMB,
// GRIB_BDB.
int grib1_pdb(const Grib1Sections& s, GRD_report* grd, int rep_type);
int grib1_gdb(const Grib1Sections& s, GRD_report* grd);
int grib1_bmb(const Grib1Sections& s, GRD_report* grd);
int grib1_bdb(const Grib1Sections& s, GRD_report* grd);
// The whole message: product, grid, then (rep_type not 1 or 2) bit map and data. 0 success,
// -1 damaged, -2 grid not supported (header filled, no values).
int grib1_decode(const unsigned char* msg, std::size_t len, int edition, GRD_report* grd,
                 int rep_type);

// Decoding state that the product section leaves for the grid and data sections.
struct Grib1Context {
    int edition = 1;
    int grid_id = -1;
    double dscale = 1.0;
    int pole = 0;          // predefined grid with single-value pole rows
    float pole_lat0 = 0;   // latitude of the first scanned row of such a grid
    int ydir = 1;          // 1 rows scanned south to north, -1 north to south
    int xneg = 0;          // columns scanned east to west
    int jconsec = 0;       // points consecutive along columns
    int xalt = 0;          // adjacent rows scanned in opposite directions
    std::vector<int> thin; // points per scanned row of a thinned grid (empty: not thinned)
    bool thin_periodic = false;  // thinned rows that each go once around the earth
    std::vector<unsigned char> bitmap;  // bit map bits, most significant first (empty: none)
    std::size_t bitmap_bits = 0;
    std::size_t bitmap_next = 0;        // GRIB_BMB_read position
    // GRIB_bit_read position in the data section of the current message.
    const unsigned char* data = nullptr;
    std::size_t data_bytes = 0;
    std::uint64_t data_bit = 0;
    int bpval = 0;
};
Grib1Context& grib1_context();
