// In-place text utilities, splitters and small number/choice helpers.
#pragma once
#include <cstddef>

int fill_string(char* string, char tar, char fill);
int strip_string(char* string, char tar);
int wsstrip_string(char* string);
int wstrim_string(char* string);
int trim_string(char* string);
int trim_cr_string(char* string);
int strip_spaces(char* string);
int strip_escape(char* string);
int shift_string(char* string, int num);
int up_string(char* string);
int low_string(char* string);
int string_is_float(const char* string);
int string_is_alpha(const char* string);
int string_is_num(const char* string);
int string_is_num_len(const char* string, int len);
int string_is_blank(const char* string);
char* create_string(const char* string);                 // malloc'd copy; free()
char* create_strcat(const char* oldstr, const char* delim, const char* string);
int clean_line(char* line);
void free_parsed_array(int argc, char** argv);
int searchstr(char** s1, int n, const char* s2);
char* strlstr(const char* s1, const char* s2);
int stricmp(const char* s1, const char* s2);
int strnicmp(const char* s1, const char* s2, int n);
// Copies exactly n characters of str2 and a terminator: str1 must hold n+1.
char* strntcpy(char* str1, const char* str2, int n);
int strmcat(char* s1, const char* s2, int m);

// Splitters: the array and its single text buffer belong to the caller (free_parsed_array).
int parse_string(const char* string, char delim, int* argc, char*** argv);
int parse_command(const char* string, int* argc, char*** argv);
int parse_command_line(const char* command, const char* string, int* argc, char*** argv);

char* set_num(char* str, const char* format, double x);
int chk_arg(const char* arg, char** items, int num_items);

// Bounded copy into a caller's fixed array of dst_size bytes: always terminates, never
// overruns. Returns 0 when src fitted whole, -1 when it was cut (or dst is unusable).
int str_copy(char* dst, std::size_t dst_size, const char* src);
// Bounded formatted write with the same guarantees as str_copy.
int str_format(char* dst, std::size_t dst_size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
