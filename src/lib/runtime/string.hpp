// In-place text utilities, splitters and small number/choice helpers.
// Unless stated otherwise, functions work in place on NUL-terminated text and
// accept a null pointer (doing nothing).
#pragma once
#include <cstddef>

int fill_string(char* string, char tar, char fill);  // every tar becomes fill; 0
int strip_string(char* string, char tar);            // removes every tar; 0
int wsstrip_string(char* string);                    // removes every '\n' and '\r'; 1
int wstrim_string(char* string);                     // as wsstrip_string, then trailing blanks; 1
int trim_string(char* string);                       // removes trailing blanks; 0
int trim_cr_string(char* string);                    // removes trailing '\r'; 0
int strip_spaces(char* string);                      // trims, then runs of blanks become one; 0
int strip_escape(char* string);                      // "\x" becomes "x" ("\\" leaves "\"); 0
// num < 0 drops the first -num characters, else the last num (all of them at most); 0.
int shift_string(char* string, int num);
int up_string(char* string);                         // ASCII upper case; 0 null/empty, else 1
int low_string(char* string);                        // ASCII lower case; 0 null/empty, else 1
int string_is_float(const char* string);             // 1 when it holds '.' or 'E'
int string_is_alpha(const char* string);             // 1 when non-empty and all letters
int string_is_num(const char* string);               // 1 for [-]digits (a lone "-" counts); 0 empty
int string_is_num_len(const char* string, int len);  // 1 when the first len characters are digits
int string_is_blank(const char* string);             // 1 for null, empty or only characters below '!'
char* create_string(const char* string);             // malloc'd copy (free()); null for null/no memory
// malloc'd oldstr + delim + string; null when string is null; a null oldstr gives a copy of string.
char* create_strcat(const char* oldstr, const char* delim, const char* string);
// Cuts trailing control characters, blanks earlier controls and bytes >= 0x80; 0 null/empty, else 1.
int clean_line(char* line);
void free_parsed_array(int argc, char** argv);       // releases a splitter result
int searchstr(char** s1, int n, const char* s2);     // 1 when s2 equals one of n texts, any case
char* strlstr(const char* s1, const char* s2);       // last occurrence of s2 in s1, or null
// Case-insensitive: difference of the first differing lower-cased characters; 1 when either is null.
int stricmp(const char* s1, const char* s2);
int strnicmp(const char* s1, const char* s2, int n);  // as stricmp over at most max(n,1) characters
// Copies exactly n characters of str2 (padding with terminators) and a terminator: str1 holds n+1.
char* strntcpy(char* str1, const char* str2, int n);
// Appends s2 so that s1 holds at most m characters (s1 needs m+1 bytes); 0 when s1 already
// holds m or more or either is null, else 1.
int strmcat(char* s1, const char* s2, int m);

// Splitters: the array and its single text buffer belong to the caller (free_parsed_array).
// Splits at every delim (trailing ones dropped, no null entry); -1 (argc 0, argv null) for
// null/empty text or no memory, else 0.
int parse_string(const char* string, char delim, int* argc, char*** argv);
// Splits at runs of blanks; later items may be grouped in double quotes; argv ends with a
// null entry. -1 for null/blank text or no memory, else 0.
int parse_command(const char* string, int* argc, char*** argv);
// parse_command of command + " " + string: the first item is the command.
int parse_command_line(const char* command, const char* string, int* argc, char*** argv);

// Room set_num needs in str; values too wide for fixed point come out in exponent form.
inline constexpr std::size_t SET_NUM_SIZE = 32;
// format "width.digits.min_decimals" (e.g. "6.3.0"); writes x into str (SET_NUM_SIZE bytes).
char* set_num(char* str, const char* format, double x);
// Index (from 0) of the item equal to arg ignoring case; else arg as a number 1..num_items;
// else -9999. Trailing blanks and line ends of arg are ignored.
int chk_arg(const char* arg, char** items, int num_items);

// Bounded copy into a caller's fixed array of dst_size bytes: always terminates, never
// overruns. Returns 0 when src fitted whole, -1 when it was cut (or dst is unusable).
int str_copy(char* dst, std::size_t dst_size, const char* src);
// Bounded formatted write with the same guarantees as str_copy.
int str_format(char* dst, std::size_t dst_size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// What a printf format taken from a file or a resource may be given: 1 when it holds exactly
// one floating conversion (f F e E g G), 2 for exactly one integer conversion (d i), with
// flags, width and precision and any other text ("%%" allowed); 0 for anything else, which
// could make the formatter read arguments that are not there.
int printf_number_kind(const char* fmt);
