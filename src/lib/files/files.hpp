// File names and files: standard-stream names, path joining, "~" expansion, tests on
// names, directory creation, opening files and pipes, and the library's file kinds.
#pragma once
#include <cstddef>
#include <cstdio>

// File-system helpers

// Room for a file name (terminator included); longer names are cut with a warning.
inline constexpr std::size_t FILE_NAME_SIZE = 160;

// File kinds recognised by FILE_type from a file's leading text.
inline constexpr int FILE_TYPE_UNKNOWN = -1;
inline constexpr int FILE_TYPE_RAW = 5;    // "QAZRAW"
inline constexpr int FILE_TYPE_GRID = 6;   // "QAZGRID"
inline constexpr int FILE_TYPE_META = 8;   // "QAZMETA"
inline constexpr int FILE_TYPE_IMAGE = 9;  // "QAZIMG"
inline constexpr int FILE_TYPE_SFC = 11;   // "QAZSFC"
inline constexpr int FILE_TYPE_UPA = 12;   // "QAZUPA"

// 1 for a standard-stream name: "", "-", "std" or "stdn" (any case); else 0.
int FILE_is_stdio(const char* file);
// 1 for a name beginning "/", "." or "~"; else 0.
int FILE_fullpath(const char* filename);
// Writes file itself (standard-stream name or full path) or path + "/" + file into filename
// (size bytes, FILE_NAME_SIZE by default). Returns filename.
char* FILE_add_path(const char* path, const char* file, char* filename,
                    std::size_t size = FILE_NAME_SIZE);
// Appends "/" to a non-empty path not ending in one; path holds size bytes. 0, or -1 (path
// unchanged) when there is no room.
int FILE_add_path_delim(char* path, std::size_t size = FILE_NAME_SIZE);
// Expands a leading "~" or "~user" into the home directory into filename (size bytes);
// other names and unknown users are copied unchanged. Returns filename.
char* FILE_add_user_path(const char* file, char* filename, std::size_t size = FILE_NAME_SIZE);
// 1 for a standard-stream name or an existing name ("~" expanded); else 0.
int FILE_exist(const char* file);
// 1 when the name ("~" expanded) exists and is a directory / regular file / FIFO /
// character or block device; else 0.
int FILE_is_dir(const char* file);
int FILE_is_file(const char* file);
int FILE_is_fifo(const char* file);
int FILE_is_device(const char* file);
// Size in bytes, or -1 when the name cannot be examined.
long long FILE_size(const char* file);
// Modification time in seconds since 1970, or -1.
long long FILE_modtime(const char* file);
// Removes the file: 0 on success, -1 on failure (as unlink).
int FILE_delete(const char* file);
// Creates the missing directories of dir ("\" read as "/", rewritten in place; a leading
// "~" is the home directory); with flag 1 the last component is a file name and is not
// created. 1 when the parent already existed, else 0.
int FILE_make_dir(char* dir, int flag);
// Opens a file: a standard-stream name gives stdin (access "r...") or stdout; "|cmd" runs
// cmd through the shell with a pipe; other names are "~" expanded and, for writing or
// appending, their directories created ("\" read as "/"). The stream, or null (also for a
// directory opened for reading). Close with FILE_close.
FILE* FILE_open(const char* file, const char* access);
// Closes a stream from FILE_open: pipes are waited for, standard streams stay open.
// 0 on success (for a pipe: the command's wait status), -1 on failure.
int FILE_close(FILE* fp);
// What to do with an existing output file: 1 overwrite, 2 append, 3 keep and use it,
// 0 no decision. flag 2 offers append, flag 1 does not; answer flag 15 and batch mode
// decide without a prompt. A stored "append" answer holds only under flag 2: flag 1
// then keeps the file (3), other flags get 0.
int FILE_overwrite(const char* filename, int flag);
// The file kind (FILE_TYPE_...) from the first bytes of a regular file; a missing
// "name-suffix" is looked up as "name". FILE_TYPE_UNKNOWN (-1) for other or unreadable
// files, directories, FIFOs and devices (they are not read).
int FILE_type(const char* filename);
// Sets the process-wide sharing mode (initially 1).
void QAZ_share(int mode);
int QAZ_get_share();  // the sharing mode

// Data-file naming and search by date

struct Date;

inline constexpr std::size_t FILE_KEY_SIZE = 30;       // key text (29 characters)
inline constexpr std::size_t FILE_EXT_INFO_SIZE = 40;  // extra information of a grid name
inline constexpr std::size_t FILE_EXT_SIZE = 20;       // extension from a partial type match
// Text of FILE_get_name_conv: "late_off conv hconv".
inline constexpr std::size_t FILE_CONV_SIZE = 2 * FILE_NAME_SIZE + 16;

// Convention and state. File-name buffers below hold FILE_NAME_SIZE bytes; longer
// names and templates are cut.
//
// Selects the convention of a data type from the name-convention file ("name_conv" in
// "file_path"). "none" clears it (0); "@TEMPLATE" uses TEMPLATE (1); ":K=VALUE" parts
// set keys. 1 on a match, 0 when the type text itself became the template.
int FILE_set_name(const char* type);
// Reads "late_off conv [hconv]". 0, or -1 when nothing could be read.
int FILE_set_name_conv(const char* str);
// Writes "late_off conv hconv" into str (size bytes, FILE_CONV_SIZE). Returns 0.
int FILE_get_name_conv(char* str, std::size_t size = FILE_CONV_SIZE);
// One save slot for the convention, the current file name and its kind. Return 0.
int FILE_save_name_conv();
int FILE_restore_name_conv();
// Step between successive files and unit of the latest-file search, seconds.
int FILE_set_late_off(int val);
int FILE_get_late_off();
// Minimum size in bytes a file needs to count as present; the program's value (when not
// 0) takes precedence over the convention file's.
int FILE_set_min_size(int val);
int FILE_get_min_size();
// The requested time: fields other than -9999 replace those of every date named; a
// negative hour or minute -XXYY is a cycle (period YY, offset XX), a negative day a period.
int FILE_set_time(const Date* date);
int FILE_get_time(Date* date);
int FILE_reset_time();  // year, month, day, hour and minute back to -9999
// Key text for the template code %K: at most 29 characters, blanks become "_". 0, -1 for null.
int FILE_set_key(char key, const char* str);
// Copies the key text into str (FILE_KEY_SIZE bytes). 0, -1 for null.
int FILE_get_key(char key, char* str);
// Sets the current file name and marks it as given literally. Returns 0.
int FILE_set_filename(const char* str);
// Copies the current file name into str when not null; returns the module's copy.
char* FILE_get_filename(char* str);
// 0: plain names; 1: names may carry extra information after "#", "-", "+" or ":".
int FILE_set_type(int type);
char* FILE_get_ext_info();               // the extra information cut from the last name
int FILE_set_ext_info(const char* str);  // at most 39 characters. Returns 0.
int FILE_get_date(Date* date);           // the date of the last name built or read
// Cuts name (in place) at the first "#", "-", "+" or ":" from the third character of its
// last path component on, and keeps the cut text as extra information. 1 when something
// was cut, else 0.
int FILE_extract_extra_info(char* name);

// Naming, interpreting, listing.
//
// Builds the file name of datim (null: the last file date) into out_file and the current
// name. 0 when built from the template; 1 when the literal name or the standard stream
// was used instead.
int FILE_set_date(const Date* datim, char* out_file);
// The companion header file's name. 1 when a name was written, 0 when datim's year is
// unset (out_file untouched) or there is no header template (out_file emptied).
int FILE_hdr_set_date(const Date* datim, char* out_file);
// Names the file of datim plus offset seconds; returns the number of steps offset makes
// (offset / late offset, or offset / 100000 without a late offset).
int FILE_set_date_off(const Date* datim, int offset, char* out_file);
// Interprets a name typed by the user or given in a resource into out_file: a literal
// "@name", the standard stream, a time expression ("la", "cu...", "#yyyymmddhhnn"), or a
// name matched against the template (its date kept). "exit" ends the process.
// 0, or -1 for null arguments.
int FILE_set_file(const char* file, char* out_file);
// Names the file of a time expression (null: "la") into filename (FILE_NAME_SIZE bytes):
// [#YYYYMMDDHHNN] [+|-offset] [la[#COUNT]] [+|-offset], offsets DdH:M, Dd, H:M or H
// (backward without a sign); the base is "qazcurtime" (same digits) or the clock; "la"
// steps back to the newest file above the minimum size. Returns that time in seconds
// since 1970 rounded down to a multiple of the late offset (one hour when unset).
long long FILE_set_current(const char* cur, char* filename);
// Prints the files matching the template in columns. The number of files found.
int FILE_list_file();
// Chooses the input file from the "filename" resource, the "current" resource (or "la"
// in batch mode) or interactively; outfile gets the name. 1 when it exists, 0 when a
// "filename" entry does not; otherwise ends the process with status 10 after the tries.
int FILE_get_file(const char* prompt, char* outfile);
// As FILE_get_file with a single prompt and no forced end: 1 when the file exists, else 0.
int FILE_get_file_only(const char* prompt, char* outfile);

// Series of files ("filename" list, or "num_hour" around a first date).
//
// Starts a series at datim (null: the last file date). Returns 0.
int FILE_first(const Date* datim);
// Next file of the series into file: 1, or 0 when the series is over.
int FILE_get_next(char* file);
// Names the file one step after / before the series position. Return 1.
int FILE_next_file(char* file);
int FILE_prev_file(char* file);
// Seconds of the "num_hour" resource (H:M, H or :M, optional ",skip"); def_hours without it.
int FILE_num_hour();
// Seconds of the skip after the comma of "num_hour"; the late offset without one.
int FILE_get_skip();
// The late offset, or 100000 when it is not positive.
int FILE_get_offset();
int FILE_set_def_hours(int hours);  // default series length in hours. Returns 0.
// Entries of the list less one in list mode, else the series length in seconds.
int FILE_get_num_file();
int FILE_get_nsecs();          // position of the series, seconds from the first date
int FILE_set_nsecs(int val);   // Returns 0.
int FILE_get_num_hour();       // the series length in seconds
// Prints text and then the first date at a debug level. Returns 0.
int FILE_print_first_date(const char* text);

// Resource conversions of the time and file options.
//
// Requested time from the "hour" option: "H", "H:M", ":M", or a cycle "-XXYY" (period YY,
// offset XX, e.g. -306 = 03, 09, 15, 21) for the hour or the minute. Only the fields given
// change. 0, or -1 (nothing changed) for text that is none of these.
int FILE_set_hour(const char* text);
// Answer to the overwrite question from the "file_param" option: "over" 1, "app" 2,
// "use" 3 (any case, also abbreviated, or the digit), stored in flag 15. The answer, or
// -1 (flag unchanged) when no item is recognised.
int FILE_set_file_param(const char* text);
