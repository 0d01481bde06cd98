// Line input with a length limit, byte-order conversion of binary values, and two small
// numeric helpers shared by the file readers and writers.
#pragma once
#include <cstdio>

// Line readers. A line is the text up to, not including, the next newline; the newline is
// left in the stream and skipped by the next call on the same stream (any other newline is
// an empty line, 0). A line longer than the limit comes back in pieces on successive calls.
//
// Reads at most 160 characters into string (which must hold 161). Returns the length,
// 0 for an empty line (string emptied), -1 at end of file or for a null argument.
int fgetline(std::FILE* ifile, char* string);
// Skips the rest of the current line and its newline. 0, or -1 at end of file.
int fskipline(std::FILE* ifile);
// As fgetline with a limit of len characters (string must hold len + 1). Returns the
// number stored, 0 for an empty line, -1 at end of file or for bad arguments.
int fgetnline(std::FILE* ifile, char* string, int len);
// As fgetnline. 1 when a non-empty line was read, 0 for an empty line, -1 at end of file.
int fgetstring(std::FILE* ifile, char* string, int len);
// As fgetstring, then cleans the text: a carriage return ends it, every other control
// character, blank or byte with the high bit set becomes a blank. Same results.
int fget_rawstring(std::FILE* ifile, char* string, int len);

// Byte order. flag: 1 data is big-endian, 2 data is little-endian, -1 never swap; any
// other value swaps every value whatever the machine (also the state before any call).
// Returns 0.
int swap_setup(int flag);
// Reverse the 2, 4 or 8 bytes at ptr when swapping is on. 0; -1 (nothing done) when off.
int swap_short(void* ptr);
int swap_long(void* ptr);
int swap_double(void* ptr);
// The same for num consecutive 2- or 4-byte values. 0; -1 when swapping is off.
int swap_shorts(void* ptr, int num);
int swap_longs(void* ptr, int num);
// Read one 2-, 4- or 8-byte value into buf and swap it when read. Count read (1 or 0).
int fread_short_swap(void* buf, std::FILE* ifile);
int fread_long_swap(void* buf, std::FILE* ifile);
int fread_double_swap(void* buf, std::FILE* ifile);
// Swap the value in buf in place (it stays swapped), then write its 2 or 4 bytes.
// Count written (1 or 0).
int fwrite_short_swap(void* buf, std::FILE* ofile);
int fwrite_long_swap(void* buf, std::FILE* ofile);
// Exchanges two 32-bit values. Returns 0.
int fswap(float* x, float* y);

// (x - a) * (y2 - y1) / (b - a) + y1 in single precision; y1 when a equals b.
float linear_interp(float x, float a, float b, float y1, float y2);
// Compact code of a value: 100 * exponent code + its first two significant digits, negated
// for a negative value (123.4 -> 212, 5.5 -> 55, 0.55 -> 955). 0 for zero, for magnitudes
// below 1e-9 and for values that are not finite.
int float2int(float x);

// WMO number <-> location identifier
// Writes the location identifier derived from WMO block and station number wmo (0-99999)
// into id (6 bytes: a one-letter prefix and "%4.4d" of wmo mod 10000, a two-letter prefix
// and "%3.3d" of wmo mod 1000, or "%5.5d" of wmo outside every range). 0, or -1 with id
// emptied for a number outside 0-99999.
int wmo_to_id(char* id, int wmo);
// The inverse of wmo_to_id (letters in either case, also five plain digits): stores the
// number in *wmo and returns 0, or -1 with *wmo = -9999 when id is no derived identifier.
int id_to_wmo(const char* id, int* wmo);
