// Resource-file reader: "key value" lines with comments, quoted values and conditional
// blocks selected by tags (DEF/UNDEF/IF/ELIF/ELSE/END), and the matching of keys such as
// "*window_num" or "reelctl.window_num" against the running program.
#pragma once
#include <cstddef>
#include <string>

// Size of every key/value buffer of this module: a line holds at most 249 characters.
inline constexpr std::size_t DEF_LINE_SIZE = 250;
inline constexpr int DEF_MAX_TAGS = 10;
inline constexpr int DEF_MAX_NEST = 10;

// The program name keys are matched against (initially "Qaz").
const char* DEF_prog();
// Sets the program name (null or empty restores "Qaz").
void DEF_name(const char* name);
// Sets the program title given with the `name` option (null clears it). A title starting
// with '+' is matched as a sub-name of the program ("prog.title.resource").
void DEF_title(const char* title);
// Forgets every tag.
void DEF_clr_tag();
// Adds a tag (case-insensitive); 0, or -1 when DEF_MAX_TAGS are set or str is empty.
int DEF_tag(const char* str);
// 1 when str is a tag, else 0.
int DEF_is_tag(const char* str);
// Opens a resource file (null or empty: ".qazdef"); for a directory the first of
// "qaz.cfg", ".qazdef", "Qaz.res" inside it. Closes any open file. 0, or -1 when none can
// be opened or the file is not trusted (owned by neither this user nor root, writable by
// group or others, or in such a directory unless it is sticky and the file this user's;
// a symbolic link is judged by its target and by its own owner and directory), which is
// warned once with the file's name and the reason.
int DEF_open(const char* filename);
// Reads the next entry of the open file: key (lower case, one trailing ':' removed) into
// resrc and value into value, both DEF_LINE_SIZE bytes. 1 for an entry, -1 at the end.
int DEF_get(char* resrc, char* value);
void DEF_close();
// 1 when key names resource resrc of this program ('*' matches any text), else 0.
int DEF_cmp(const char* resrc, const char* key);
// 1 when key applies to this program, judged by its own last component, else 0.
int DEF_valid(const char* key);
// Copies the last component of str (after its last '.' or '*') into ostr
// (DEF_LINE_SIZE bytes); returns ostr.
char* DEF_parse_name(const char* str, char* ostr);
// Environment value for resource resrc: the first set of "qaz<prog>.<resrc>", env and
// "qaz<resrc>", copied into value (DEF_LINE_SIZE bytes; a longer value is cut with a
// warning). 1 when found, 0 when none is set.
int DEF_env(const char* resrc, const char* env, char* value);
// As above, without a length limit.
int DEF_env(const char* resrc, const char* env, std::string& value);
