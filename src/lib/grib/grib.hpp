// GRIB decoding: finding messages in a stream whatever transmission wrapper surrounds them,
// stepping from message to message, and decoding editions 0 and 1 (product, grid, bit map and
// data sections) into a GRD_report. Every message is read whole into memory and decoded there
// with bounds-checked reads: a damaged or hostile message fails with a message, never an
// overrun. Values land with row 0 at the northern edge and columns running west to east,
// whatever the scanning mode. The grid-file layer (grd_read) drives these for files of type 21.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

#include "grd_read.hpp"

// Wrapper kinds (GRD_file.itype of a GRIB file).
enum : int {
    GRIB_WRAP_QAZ = 1,      // "** " heading line before each message
    GRIB_WRAP_LDM = 2,      // 0x01, CR CR LF, sequence number, CR CR LF, heading, CR CR LF
    GRIB_WRAP_OLD_QAZ = 3,  // "GRIB: <length>" line, then 0x01, CR CR LF, a line, heading
    GRIB_WRAP_RAW = 4       // bare messages
};

// ---- Finding messages ----------------------------------------------------------------
// Finds the next message from the stream's position, learns its wrapper and reads it whole
// into memory. > 0 found, 0 not found (damaged), < 0 end of file.
int GRIB_header(int grd_fd);
// One wrapper form each: 1 found, 0 not this form, -1 end of file.
int GRIB_header_raw(int grd_fd);
int GRIB_header_qaz(int grd_fd);
int GRIB_header_ldm(int grd_fd);
int GRIB_header_old_qaz(int grd_fd);
// Scans to the next "GRIB" indicator section that holds a whole message and reads that message;
// returns the bytes consumed from the stream position, or -1 at end of file.
long GRIB_search(int grd_fd);
// Message starts of the slot's file that the scan had to skip because no whole message began
// there (cut short, damaged length or end marker): returns how many were met so far; with
// index in range also gives that one's offset and reason (text of size bytes, 160 enough).
int GRIB_damaged(int grd_fd, int index, off_t* offset, char* text, std::size_t size);
// Offset just after the current message (its wrapper trailer included); where != 0 also moves
// the stream there. -1 when no message is current.
off_t GRIB_next(int grd_fd, int where);

// ---- Sections of the current edition 0/1 message -------------------------------------
// Product section: 1, or -1 when it is missing or damaged. rep_type 2 also makes the label.
int GRIB_PDB(int grd_fd, GRD_report* grd, int rep_type);
// Grid section: 1, 0 for an unsupported or inconsistent grid, -1 when damaged.
int GRIB_GDB(int grd_fd, GRD_report* grd);
// Bit map section: 1, 0 (no memory), -1 (damaged).
int GRIB_BMB(int grd_fd, GRD_report* grd);
// Data section: fills grd->grid (malloc'd, nx x ny); 1, 0 (no memory), -1 (damaged).
int GRIB_BDB(int grd_fd, GRD_report* grd);

// ---- Product decoding ----------------------------------------------------------------
// Decodes a product section held in pdb (len bytes: at least 28, or 24 in edition 0) into grd:
// centre, model, grid id, level, times, variable, units, domain. The edition is that of the
// message last decoded (1 before any). 1, or -1 when len is too small.
int GRIB_decode_PDB(const unsigned char* pdb, GRD_report* grd, std::size_t len = 28);
// Description (grd->info) with the ensemble/probability forms of the last product decoded. 0.
int GRIB_set_var(GRD_report* grd);
// Maps centre/edition/parameter (grd->source, grd->version, grd->var) to the library variable
// number and unit text (grd->units). 0; 1 when the parameter is unknown (number kept).
int GRIB_units(GRD_report* grd);
// Fills domain for a predefined grid number (21-26, 37-44, 50, 61-64, 211, 212, 215); other
// numbers leave it unchanged. Returns 1.
int GRIB_set_domain(int type, Domain* domain);
// IBM single float of 4 octets; a first octet of 0 gives 0.
float GRIB_flt_conv(const unsigned char* bytes);
// 2 to the power of a 15-bit magnitude with the sign in the top bit of 2 octets.
float GRIB_scl_conv(const unsigned char* bytes);
// Next packed value of the data section of the current message (all bits read: 0).
unsigned GRIB_bit_read(int grd_fd);
// Next bit of the current bit map: 1 when there is no bit map (or it is used up).
int GRIB_BMB_read();

// ---- Whole messages and file information ---------------------------------------------
// Fills info (date and label) from the first message of the file: 0, or -1. Also sets
// GRD_file.grid (edition; 10 for centre 98 edition 0) and GRD_file.date.
int GRIB_get_info(int grd_fd, GRD_info* info);
// Copies the current message (from "GRIB" to "7777") into *buf: when *buf is null a buffer
// is malloc'd for it (the caller frees it), otherwise *buf must hold size bytes. Returns the
// byte count, or -1 (no message, or it does not fit size).
long GRIB_get_raw(int grd_fd, unsigned char** buf, long size);
// Copies up to 18 characters of the current message's WMO heading into header (19 bytes).
int GRIB_get_WMO_header(int grd_fd, char* header);
int GRIB_get_version();        // edition of the last message found (0, 1, 2)
int GRIB_get_type();           // grid id of the last product section decoded
// Jump test for transmission noise: more than val large jumps among the last 20 values of a
// row make the rest of the grid missing; 0 or less disables (the default). Returns 0.
int GRIB_set_max_bad(int val);
// netCDF unit text of a library variable number ("" for others). Never null.
const char* GRIB_cdf_units(int var);

// Edition 2 ---------------------------------------------------------------------------------
// The section functions below work on the edition 2 message held in memory by the last
// grib2_decode_field call (the caller's buffer must still be alive); grd_fd is accepted for
// symmetry with edition 1 and not used.

// One row of the edition 2 parameter table "grib2_var.lup".
struct GribParam {
    int ind;          // library variable number (-9999 unset)
    int ver;          // GRIB edition of the row (2)
    int src;          // centre (0 = any)
    int disc;         // discipline
    int cat;          // parameter category
    int param;        // parameter number
    char name[20];    // library variable name
    char units[30];   // unit text
    char lname[80];   // long name
};
// Sets ind, src, disc, cat, param to -9999 and empties the texts.
void GribParam_init(GribParam* gp);

// Reads the next section head: 1 with GRIB_get_sect() below 9, 0 at "7777" or the message end
// (sect -1) or for a number of 9 and above, -1 when the section does not fit the message.
int GRIB_read_section(int grd_fd);
int GRIB_get_sect();   // number of the section announced last (-1 at the end)
int GRIB_get_slen();   // its length in octets, head included
// Steps over the rest of the section announced last. 1.
int GRIB_skip_section(int grd_fd);
// Section decoders for the section announced last: 1 decoded, 0 damaged or unsupported (a
// message printed). GRIB_IDS sets source and date, GRIB_GDS the domain and grid number,
// GRIB_PDS variable, level, time, units, description and label; GRIB_DS fills grd->grid
// (malloc'd nx x ny floats, row 0 north, columns west to east, -9999 missing).
int GRIB_IDS(int grd_fd, GRD_report* grd);
int GRIB_GDS(int grd_fd, GRD_report* grd);
int GRIB_PDS(int grd_fd, GRD_report* grd);
int GRIB_DRS(int grd_fd, GRD_report* grd);
// Bit map section: 1 with a bit map (new or reused), 0 without, -1 damaged.
int GRIB_BMS(int grd_fd);
int GRIB_DS(int grd_fd, GRD_report* grd);
// Looks up centre src, discipline, category and number in "grib2_var.lup" (directory of the
// resource "file_path"): fills *result from the first matching row (centre 0 matches all);
// without a row, or with a name the library does not know, ind = disc x 1,000,000 + cat x
// 1000 + param. 1 when a row matched, else 0.
int GRIB_get_ver2_param(GribParam* result, int src, int disc, int cat, int param);
// The first row of "grib2_var.lup" whose name is name (case-insensitive), looked up as by
// GRIB_get_ver2_param for its own centre: 1 found, else 0 (*result initialised).
int GRIB_ver2_param_by_name(const char* name, GribParam* result);
// Big-endian IEEE single of 4 octets; a first octet of 0 gives 0.
float GRIB_ieee_float_conv(const unsigned char* bytes);

// ---- Fields decoded away from the grid-file table ------------------------------------------
// A caller that lists a file once and decodes its fields later, on any thread, keeps each
// field's location and decodes the message from memory: no slot, no process-wide state.

// Where a field lives in its file.
struct GRIB_location {
    off_t offset;   // of the message's "GRIB"
    long length;    // of the whole message, "GRIB" to "7777"
    int edition;    // 0, 1 or 2
    int field;      // index of the field inside its message (edition 2 only; else 0)
};
// Location of the grid GRD_read last read from a GRIB slot: 0, or -1 when the slot holds
// no grid read from the data (none yet, or read from a header index file).
int GRIB_get_location(int grd_fd, GRIB_location* loc);
// Reads the message at loc from the named file into msg (resized to loc->length) through its
// own stream. 0; -1 with a message when the file cannot be read there or what is there is
// not a whole message ("GRIB" ... "7777").
int GRIB_load_message(const char* filename, const GRIB_location* loc,
                      std::vector<unsigned char>* msg);
// Decodes field `field` of the whole message msg (len bytes, edition as found) into grd,
// exactly as GRD_read does (rep_type as there). Safe on several threads at once (each
// thread's decoding state is its own). 0; 1 an edition 2 message without that field; -2 a
// damaged or unsupported message (a message printed).
int GRIB_decode_message(const unsigned char* msg, std::size_t len, int edition, int field,
                        GRD_report* grd, int rep_type);
