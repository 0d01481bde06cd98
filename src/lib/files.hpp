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
// Creates the missing directories of dir ("\" read as "/", rewritten in place); with flag 1
// the last component is a file name and is not created. 1 when the parent already
// existed, else 0.
int FILE_make_dir(char* dir, int flag);
// Opens a file: a standard-stream name gives stdin (access "r...") or stdout; "|cmd" runs
// cmd through the shell with a pipe; other names are "~" expanded and, for writing or
// appending, their directories created. The stream or null. Close with FILE_close.
FILE* FILE_open(const char* file, const char* access);
// Closes a stream from FILE_open: pipes are waited for, standard streams stay open.
// 0 on success (for a pipe: the command's wait status), -1 on failure.
int FILE_close(FILE* fp);
// What to do with an existing output file: 1 overwrite, 2 append, 3 keep and use it,
// 0 no decision. flag 2 offers append, flag 1 does not; answer flag 15 and batch mode
// decide without a prompt.
int FILE_overwrite(const char* filename, int flag);
// The file kind (FILE_TYPE_...) from the first bytes; a missing "name-suffix" is looked up
// as "name". FILE_TYPE_UNKNOWN (-1) for other or unreadable files.
int FILE_type(const char* filename);
// Sets the process-wide sharing mode (initially 1).
void QAZ_share(int mode);
int QAZ_get_share();  // the sharing mode
