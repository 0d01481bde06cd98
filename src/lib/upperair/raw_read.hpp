// Raw point-data text files ("QAZRAW"): one station per line with an identifier, an optional
// position and values, under a three-line header that may declare named fields. Values are
// read one at a time into a RAW_report and written back the same way.
#pragma once

#include "date.hpp"

inline constexpr int RAW_MAX_FILES = 5;    // files open at once (descriptors 0-4)
inline constexpr int RAW_MAX_FIELDS = 75;  // declared fields per file
inline constexpr int RAW_LINE_MAX = 400;   // characters read of one data line

// File types: 1 and 2 header files, 99 a plain file without header.
inline constexpr int RAW_HEADER = 1;
inline constexpr int RAW_PLAIN = 99;

// Writer value kinds (RAW_report::type, or the "plot_format" resource): 1, 3, 4, 31, 36 text
// (data); 2 a number (value[0]); 5 an integer; 21, 22, 33, 34 a pair (value[0], value[1]).
inline constexpr int RAW_KIND_TEXT = 1;
inline constexpr int RAW_KIND_NUMBER = 2;
inline constexpr int RAW_KIND_INTEGER = 5;
inline constexpr int RAW_KIND_PAIR = 21;

struct RAW_report {
    char id[30];
    int type;       // reading: field index (or scan position of a name=value token); writing: kind
    int wmo;
    float lat, lon, elev;
    int prior;
    float value[2];  // one or two numbers of the current value; -9999 when missing
    char data[30];   // the value as text
    char format[40]; // display format attached to the value
};

struct RAW_info {
    char datim[50];  // date label line
    char info[50];   // description line
    char file[20];
    char* cmdline;
    Date date;
    int num_stat;
};

// 1 when the file starts with "Q" (a header file), 99 otherwise, -1 when it cannot be opened.
int RAW_chktype(const char* filename);
// Opens filename: f_access 0 read ("r"), 1 write ("w"), 2 append (only to an existing header
// file). "", "-" and "std" are the standard stream as a header file, "stdn" as a plain file.
// *f_type 0 with read access asks for detection. The descriptor 0-4, or -1 (unknown type,
// open failure, or five files already open).
int RAW_open(const char* filename, int f_access, int* f_type);
// Reads the header of a header file opened for reading: datim, date, info and any field
// declaration. 0, or -1 for other files or a missing header.
int RAW_getinfo(int raw_fd, RAW_info* info);
// Remembers info->date and writes the header with the declared fields. 0, or -1.
int RAW_putinfo(int raw_fd, RAW_info* info);
// Writes "header $\n". 0, or -1.
int RAW_putheader(int raw_fd, const char* header);
// Back to the first data line (not for the standard streams). 0, or -1.
int RAW_rewind(int raw_fd);
// Ends an output file with a line end, closes it (not the standard streams) and frees the
// slot. 0, or -1 for a descriptor not open.
int RAW_close(int raw_fd);

// Declaration tables. Indices 0-74; setting an index past the count extends it. Setters
// return 0 or -1; getters return "" for an index not declared (never null).
int RAW_get_num_field(int raw_fd);
int RAW_get_field_ind(int raw_fd, const char* name);  // index of name (case ignored), or -1
int RAW_set_field_name(int raw_fd, int ind, const char* name);  // at most 19 characters
const char* RAW_get_field_name(int raw_fd, int ind);
int RAW_set_field_info(int raw_fd, int ind, const char* info);  // at most 59 characters
const char* RAW_get_field_info(int raw_fd, int ind);
int RAW_set_field_fmt(int raw_fd, int ind, const char* fmt);    // at most 39 characters
const char* RAW_get_field_fmt(int raw_fd, int ind);

// Reads data line *statnum (0-based) and the value rep_type selects: "1" the next value of
// the line on each call (field index in type); "10"-"75" the value in that column minus 10
// after the location columns; a declared field name its column; "id" the identifier; any
// other name a name=value token anywhere on the line (type: its scan position). Result 1
// with a value (value and data missing for "-"), 0 when there is no such value (or no next
// one), -1 at end of file, at an empty line or for a bad descriptor.
int RAW_read(int raw_fd, RAW_report* report, const char* rep_type, int* statnum);
// Writes: rep_type 1 a whole line, 3 starts a line (identifier and position), 2 appends a
// value, 5 ends the line. Lines ended advance *statnum (may be null). 1, or -1.
int RAW_write(int raw_fd, RAW_report* report, int rep_type, int* statnum);
// Decodes one value token ("25", "-", "wind=270,15", "25:%.1f") of field ind into report:
// format, value and data. Returns 0 (-1 for null arguments).
int RAW_dec_line(int raw_fd, int ind, RAW_report* report, const char* str);
