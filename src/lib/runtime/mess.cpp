#include "mess.hpp"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "date.hpp"
#include "files.hpp"
#include "flag.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

constexpr M_type kInitialLevel = 0xfffff;
constexpr int kDefaultLines = 22;
constexpr M_type kErrorBits = 0x30;
constexpr M_type kWarnBits = 0xc0;

M_type mess_level = kInitialLevel;
int mess_set = 0;
int mess_out = 1;
int page = 1;
int lines = 0;
int max_lines = kDefaultLines;
FILE* ofile = nullptr;
FILE* pfile = nullptr;
char filename[FILE_NAME_SIZE] = "";
// The copy reopened for every message failed to open: said once, not at every message.
bool reopen_failed = false;
// Opening a copy file may itself report through MESS_print; nested calls then
// only reach the console instead of recursing into the files.
int print_depth = 0;
// Decoders may run on several threads: one message reaches the outputs at a time (recursive,
// since opening a copy file may print).
std::recursive_mutex print_lock;
// The last error each thread reported, whatever the mask: a caller that lists many items, or
// turns failures into its own exceptions (the Python module), hands it on.
thread_local std::string last_error;

struct LevelWord {
  const char* word;
  std::size_t match_len;
  M_type mask;
};
constexpr LevelWord kLevelWords[] = {
    {"print", 5, M_print}, {"error", 5, M_error}, {"warn", 4, M_warn}, {"mess", 4, M_mess},
    {"out1", 4, M_out1},   {"out2", 4, M_out2},   {"out3", 4, M_out3}, {"out4", 4, M_out4},
    {"debug", 5, M_debug}, {"none", 4, M_none},
};

// Every bit below the highest set bit of level is set too; 0 stays 0.
M_type fill_below(M_type level) {
  if (level == 0) return 0;
  M_type top = 0x80000000u;
  while (!(level & top)) top >>= 1;
  return top | (top - 1);
}

void close_copy_file() {
  if (pfile) FILE_close(pfile);
  pfile = nullptr;
}

// A copy file that cannot be opened is absent: messages then still reach the console,
// also when the setting asked for the file alone.
void open_copy_file(const char* name, const char* access, int mode) {
  close_copy_file();
  mess_out = mode;
  int reason = 0;
  if (name && *name) {
    pfile = FILE_open(name, access);
    reason = errno;
  }
  if (pfile) return;
  if (mess_out == 0) mess_out = 1;
  if (!name || !*name)
    MESS_print(M_warn, "MESS_set_str: no file name given for the message copy\n");
  else
    MESS_print(M_warn, "MESS_set_str: Unable to open message file: %s (%s)\n", name,
               std::strerror(reason));
}

// The text after the item's keyword and one separator character.
const char* name_after(const char* item, std::size_t keyword_len) {
  return std::strlen(item) > keyword_len ? item + keyword_len + 1 : "";
}

void apply_level_word(const char* item) {
  char sign = '\0';
  if (item[0] == '+' || item[0] == '-') sign = *item++;
  bool known = false;
  M_type mask = 0;
  for (const LevelWord& entry : kLevelWords) {
    if (strnicmp(item, entry.word, static_cast<int>(entry.match_len)) == 0) {
      mask = entry.mask;
      known = true;
    }
  }
  // A typing slip must not silence errors along with everything else.
  if (!known) {
    MESS_print(M_warn, "MESS_set_str: unknown message level: %s\n", item);
    return;
  }
  const std::size_t len = std::strlen(item);
  const char last = len > 0 ? static_cast<char>(std::tolower(static_cast<unsigned char>(item[len - 1]))) : '\0';
  if (last >= 'a' && last <= 'd') {
    static constexpr M_type kBitOfGroup[] = {0x11111111u, 0x22222222u, 0x44444444u, 0x88888888u};
    mask &= kBitOfGroup[last - 'a'];
  }
  if (sign == '+')
    mess_level |= mask;
  else if (sign == '-')
    mess_level &= ~mask;
  else
    mess_level = fill_below(mask);
}

void apply_setting(const char* item) {
  if (strnicmp(item, "@fi", 3) == 0) {
    open_copy_file(name_after(item, 3), "a", -1);
  } else if (strnicmp(item, "+fi", 3) == 0) {
    open_copy_file(name_after(item, 3), "a", 1);
  } else if (strnicmp(item, "-fi", 3) == 0) {
    open_copy_file(name_after(item, 3), "w", 1);
  } else if (strnicmp(item, "dfi", 3) == 0) {
    close_copy_file();
    mess_out = 2;
    reopen_failed = false;
    if (str_copy(filename, sizeof filename, name_after(item, 3)) != 0)
      MESS_print(M_warn, "MESS_set_str: message file name cut: %s\n", filename);
  } else if (strnicmp(item, "fi", 2) == 0) {
    open_copy_file(name_after(item, 2), "a", 0);
  } else if (stricmp(item, "nopage") == 0) {
    page = 0;
  } else if (stricmp(item, "page") == 0) {
    page = 2;
  } else if (strnicmp(item, "line", 4) == 0) {
    const int value = std::atoi(name_after(item, 4));
    max_lines = value > 0 ? value : kDefaultLines;
  } else if (*item) {
    apply_level_word(item);
  }
}

int count_newlines(const char* text) {
  int count = 0;
  for (; *text; ++text)
    if (*text == '\n') ++count;
  return count;
}

void write_file(FILE* fp, const std::string& text) {
  std::fputs(text.c_str(), fp);
  std::fflush(fp);
}

void write_copies(const std::string& text) {
  if (ofile) write_file(ofile, text);
  if (mess_out == 2 && filename[0]) {
    close_copy_file();  // a copy opened before the switch to mode 2 would leak
    pfile = FILE_open(filename, "a");
    const int reason = errno;
    if (!pfile && !reopen_failed)  // nested: reaches the console only
      MESS_print(M_warn, "MESS_print: Unable to open message file: %s (%s)\n", filename,
                 std::strerror(reason));
    reopen_failed = !pfile;
  }
  if (pfile) {
    if (mess_out == -1) {
      char stamp[DATE_CURRENT_LEN];
      DATE_get_current_str(stamp, sizeof stamp);
      std::fprintf(pfile, "%s -- ", stamp);
    }
    write_file(pfile, text);
  }
  if (mess_out == 2) close_copy_file();
}

std::string format_text(const char* mess, va_list args) {
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, mess, args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), mess, again);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(again);
  return text;
}

}  // namespace

void MESS_set(int oper, M_type level) {
  if (oper <= 4) ++mess_set;
  if (oper > 15 && mess_set != 0) return;
  switch (oper) {
    case 0: case 10: case 20: mess_level = fill_below(level); break;
    case 1: case 11: case 21: mess_level |= level; break;
    case -1: case 9: case 19: mess_level &= ~level; break;
    default: break;
  }
}

void MESS_set_str(const char* str) {
  ++mess_set;
  int count = 0;
  char** items = nullptr;
  if (parse_string(str, ',', &count, &items) != 0) return;
  // "warn, +debug" as typed in a quoted resource value: blanks around items mean nothing.
  for (int i = 0; i < count; ++i) {
    char* item = items[i];
    while (*item == ' ' || *item == '\t') ++item;
    std::size_t len = std::strlen(item);
    while (len > 0 && (item[len - 1] == ' ' || item[len - 1] == '\t')) item[--len] = '\0';
    apply_setting(item);
  }
  free_parsed_array(count, items);
}

M_type MESS_get() { return mess_level; }
const char* MESS_last_error() { return last_error.c_str(); }
void MESS_clear_last_error() { last_error.clear(); }
int MESS_check(M_type level) { return (level & mess_level) ? 1 : 0; }
int MESS_check_set() { return mess_set; }
int MESS_get_max_lines() { return max_lines; }

int MESS_print(M_type type, const char* mess, ...) {
  if (!mess) return 0;
  const bool error = (type & kErrorBits) != 0;
  if (!(type & mess_level) && !error) return 0;
  va_list args;
  va_start(args, mess);
  std::string text = format_text(mess, args);
  va_end(args);
  if (error) {
    last_error = text;
    while (!last_error.empty() && (last_error.back() == '\n' || last_error.back() == '\r'))
      last_error.pop_back();
  }
  if (!(type & mess_level)) return 0;

  const std::lock_guard<std::recursive_mutex> hold(print_lock);

  if (print_depth == 0) {
    ++print_depth;
    write_copies(text);
    --print_depth;
  }
  if (mess_out == 0) return 0;

  if (type & (kErrorBits | kWarnBits)) {
    std::fflush(stdout);
    std::fputs(text.c_str(), stderr);
  } else {
    std::fputs(text.c_str(), stdout);
  }
  if (page == 2) {
    lines += count_newlines(mess);
    if (lines > max_lines) MESS_hold(type, "Press return to continue\n");
  }
  return 1;
}


void MESS_hold(M_type type, const char* mess) {
  if (!(type & mess_level) || mess_out == 0 || FLAG_batch() || page == 0) return;
  const bool to_stderr = (type & kErrorBits) && (type & kWarnBits);
  if (mess) std::fputs(mess, to_stderr ? stderr : stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  std::getchar();
  lines = 0;
}

int MESS_file(const char* name, const char* access) {
  MESS_file_close();
  if (!name || !access) return -1;
  ofile = FILE_open(name, access);
  if (!ofile) {
    const int reason = errno;
    MESS_print(M_warn, "MESS_file: Unable to open output file: %s (%s)\n", name, std::strerror(reason));
    return -1;
  }
  return 0;
}

void MESS_file_close() {
  if (ofile) FILE_close(ofile);
  ofile = nullptr;
}

void MESS_set_out(int val) { mess_out = val; }
void MESS_set_page(int val) { page = val; }

void MESS_print_prog(const char* string) {
  MESS_print(M_mess, "      %s (Ver %s)\n\n", string ? string : "", QAZ_version());
}

void MESS_reset() {
  MESS_file_close();
  close_copy_file();
  mess_level = kInitialLevel;
  mess_set = 0;
  mess_out = 1;
  page = 1;
  lines = 0;
  max_lines = kDefaultLines;
  filename[0] = '\0';
  reopen_failed = false;
}
