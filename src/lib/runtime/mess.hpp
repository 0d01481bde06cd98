// Message printer: every text the library writes goes through MESS_print, filtered by a
// level mask of eight 4-bit groups; optional copy file, extra output file and paging.
#pragma once
#include <cstdint>
#include <cstdio>

#include "share_dir.hpp"

using M_type = std::uint32_t;

// Level masks (a keyword's letter a-d keeps one bit of each group).
inline constexpr M_type M_print = 0xfu;
inline constexpr M_type M_error = 0x30u;
inline constexpr M_type M_warn = 0xc0u;
inline constexpr M_type M_mess = 0xf00u;
inline constexpr M_type M_out1 = 0xf000u;
inline constexpr M_type M_out2 = 0xf0000u;
inline constexpr M_type M_out3 = 0xf00000u;
inline constexpr M_type M_out4 = 0xf000000u;
inline constexpr M_type M_debug = 0xf0000000u;
inline constexpr M_type M_none = 0u;

// oper: 0/10/20 set (fills every bit below the highest), 1/11/21 add, -1/9/19 remove.
// Operations above 15 are defaults, ignored once the user chose a level.
void MESS_set(int oper, M_type level);
// Applies a comma-separated message setting, item by item: "@fi=name" (time-stamped copy),
// "+fi=name" / "-fi=name" (copy appended / truncated), "dfi=name" (reopened per message),
// "fi=name" (file only), "page", "nopage", "line=N", or a level word with optional +/- and
// a-d letter ("warn", "+debugd", "-errora"). Blanks around items are ignored; unknown
// words are reported and ignored. A copy file that cannot be opened is reported once, at
// warning level with the system's reason; messages then go to the console.
void MESS_set_str(const char* str);
M_type MESS_get();
int MESS_check(M_type level);        // 1 when level shares a bit with the current mask
int MESS_check_set();                // count of explicit settings
int MESS_get_max_lines();
// Prints when type is enabled; 1 when the text reached the console, else 0.
int MESS_print(M_type type, const char* mess, ...) __attribute__((format(printf, 2, 3)));
// Text of the last error-level message of this thread (printed or not, newline dropped), so
// that a caller listing many items can say why one failed; "" after MESS_clear_last_error.
// Never null.
const char* MESS_last_error();
void MESS_clear_last_error();
// "Press return" hold: prints mess and waits for one character from stdin, unless type is
// disabled, output is file-only, batch mode is on or paging is off.
void MESS_hold(M_type type, const char* mess);
// Opens an extra output file (FILE_open names, "|cmd" too) receiving every enabled
// message; access as for fopen. 0, or -1 when it could not be opened.
int MESS_file(const char* filename, const char* access);
void MESS_file_close();              // closes the extra output file
void MESS_set_out(int val);          // -1 stamped copy+console, 0 file only, 1 copy+console, 2 reopen per message
void MESS_set_page(int val);         // 0 never hold, 1 hold on request, 2 automatic paging
// Prints the banner "      <string> (Ver <version>)" and a blank line at mess level.
void MESS_print_prog(const char* string);
// Back to the start-up state: initial mask, no settings counted, files closed.
void MESS_reset();
