#include "files.hpp"

#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "date.hpp"
#include "flag.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "system.hpp"
#include "tools.hpp"

// File-system helpers

namespace {

// Opens name for reading without waiting: a FIFO that no program writes to would otherwise
// hold the open forever. Once open, reads wait again as usual (a FIFO without a writer reads
// as an empty file). A directory opens but yields nothing, so it is refused here.
FILE* open_for_reading(const std::string& name, const char* access) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    MESS_print(M_debug, "FILE_open: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    MESS_print(M_debug, "FILE_open: %s is a directory\n", name.c_str());
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    MESS_print(M_debug, "FILE_open: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  FILE* fp = ::fdopen(fd, access);
  if (!fp) ::close(fd);
  return fp;
}

int shared = 1;
// Streams FILE_open started with popen: they must be closed with pclose.
std::vector<FILE*> open_pipes;

struct MagicEntry {
  const char* text;
  int code;
};
// Longer magics sharing a beginning with shorter ones come first.
constexpr MagicEntry kMagics[] = {
    {"QAZSFC", FILE_TYPE_SFC},   {"QAZUPA", FILE_TYPE_UPA},  {"QAZRAW", FILE_TYPE_RAW},
    {"QAZGRID", FILE_TYPE_GRID}, {"QAZMETA", FILE_TYPE_META}, {"QAZIMG", FILE_TYPE_IMAGE},
};

const char* home_of_current_user() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return std::getenv("HOME");
}

// "~" expansion into a std::string, so names are never cut on the way.
std::string expand_user(const char* file) {
  if (!file) return {};
  if (file[0] != '~') return file;
  const char* rest = std::strchr(file, '/');
  const char* home = nullptr;
  if (file[1] == '\0' || file[1] == '/') {
    home = home_of_current_user();
  } else {
    const std::string user(file + 1, rest ? static_cast<std::size_t>(rest - file - 1)
                                          : std::strlen(file + 1));
    if (const passwd* pw = getpwnam(user.c_str()); pw) home = pw->pw_dir;
  }
  if (!home) return file;
  return std::string(home) + (rest ? rest : "");
}

bool stat_name(const char* file, struct stat* info) {
  if (!file || !*file) return false;
  return stat(expand_user(file).c_str(), info) == 0;
}

bool exists(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0;
}

void copy_name(const char* function, char* dst, std::size_t size, const char* src) {
  if (str_copy(dst, size, src) != 0)
    MESS_print(M_warn, "%s: file name cut to %zu characters: %s\n", function,
               size > 0 ? size - 1 : 0, src ? src : "");
}

}  // namespace

int FILE_is_stdio(const char* file) {
  if (!file) return 0;
  if (file[0] == '\0' || std::strcmp(file, "-") == 0) return 1;
  return (stricmp(file, "std") == 0 || stricmp(file, "stdn") == 0) ? 1 : 0;
}

int FILE_fullpath(const char* filename) {
  if (!filename) return 0;
  return (filename[0] == '/' || filename[0] == '.' || filename[0] == '~') ? 1 : 0;
}

char* FILE_add_path(const char* path, const char* file, char* filename, std::size_t size) {
  if (!filename || size == 0) return filename;
  if (!file) file = "";
  if (FILE_is_stdio(file) || FILE_fullpath(file) || !path || !*path) {
    copy_name("FILE_add_path", filename, size, file);
    return filename;
  }
  const bool has_delim = path[std::strlen(path) - 1] == '/';
  const std::string joined = std::string(path) + (has_delim ? "" : "/") + file;
  copy_name("FILE_add_path", filename, size, joined.c_str());
  return filename;
}

int FILE_add_path_delim(char* path, std::size_t size) {
  if (!path) return -1;
  const std::size_t len = std::strlen(path);
  if (len == 0 || path[len - 1] == '/') return 0;
  if (len + 2 > size) {
    MESS_print(M_warn, "FILE_add_path_delim: no room for the delimiter: %s\n", path);
    return -1;
  }
  path[len] = '/';
  path[len + 1] = '\0';
  return 0;
}

char* FILE_add_user_path(const char* file, char* filename, std::size_t size) {
  if (!filename || size == 0) return filename;
  copy_name("FILE_add_user_path", filename, size, expand_user(file).c_str());
  return filename;
}

int FILE_exist(const char* file) {
  if (FILE_is_stdio(file)) return 1;
  struct stat info;
  return stat_name(file, &info) ? 1 : 0;
}

int FILE_is_dir(const char* file) {
  struct stat info;
  return (stat_name(file, &info) && S_ISDIR(info.st_mode)) ? 1 : 0;
}

int FILE_is_file(const char* file) {
  struct stat info;
  return (stat_name(file, &info) && S_ISREG(info.st_mode)) ? 1 : 0;
}

int FILE_is_fifo(const char* file) {
  struct stat info;
  return (stat_name(file, &info) && S_ISFIFO(info.st_mode)) ? 1 : 0;
}

int FILE_is_device(const char* file) {
  struct stat info;
  return (stat_name(file, &info) && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) ? 1 : 0;
}

long long FILE_size(const char* file) {
  struct stat info;
  return stat_name(file, &info) ? static_cast<long long>(info.st_size) : -1;
}

long long FILE_modtime(const char* file) {
  struct stat info;
  return stat_name(file, &info) ? static_cast<long long>(info.st_mtime) : -1;
}

int FILE_delete(const char* file) {
  if (!file || !*file) return -1;
  return unlink(expand_user(file).c_str());
}

// The directory itself (flag 0) is created as well when only it is missing: stopping
// at an existing parent would leave the directory the caller asked for uncreated.
int FILE_make_dir(char* dir, int flag) {
  if (!dir || !*dir) return 0;
  fill_string(dir, '\\', '/');
  // "~/out" means the home directory's "out", never a directory named "~" where we stand.
  const std::string whole = expand_user(dir);
  const std::size_t last = whole.size() > 1 ? whole.rfind('/') : std::string::npos;
  const bool has_parent = last != std::string::npos && last > 0;
  const std::string parent = has_parent ? whole.substr(0, last) : "";
  const bool parent_exists = has_parent ? exists(parent) : true;
  const std::string target = flag >= 1 ? parent : whole;
  if (target.empty() || exists(target)) return parent_exists ? 1 : 0;

  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t slash = whole.find('/', begin);
    parts.push_back(whole.substr(begin, slash == std::string::npos ? slash : slash - begin));
    if (slash == std::string::npos) break;
    begin = slash + 1;
  }
  const int to_create = static_cast<int>(parts.size()) - std::max(flag, 0);
  std::string built;
  for (int i = 0; i < to_create; ++i) {
    if (!parts[i].empty()) {
      built += parts[i];
      if (mkdir(built.c_str(), 0755) != 0 && errno != EEXIST)
        MESS_print(M_debug, "FILE_make_dir: cannot create %s: %s\n", built.c_str(),
                   std::strerror(errno));
    }
    built += '/';
  }
  return parent_exists ? 1 : 0;
}

FILE* FILE_open(const char* file, const char* access) {
  if (!file || !access || !*access) {
    MESS_print(M_error, "FILE_open: no file name or access given\n");
    return nullptr;
  }
  if (FILE_is_stdio(file)) return access[0] == 'r' ? stdin : stdout;
  if (file[0] == '|') {
    // A pipe is read or written, never appended to or opened in binary mode.
    const char* mode = access[0] == 'r' ? "r" : "w";
    std::fflush(nullptr);
    FILE* fp = popen(file + 1, mode);
    if (fp)
      open_pipes.push_back(fp);
    else
      MESS_print(M_debug, "FILE_open: cannot start %s: %s\n", file + 1, std::strerror(errno));
    return fp;
  }
  std::string name = expand_user(file);
  if (access[0] == 'w' || access[0] == 'a') {
    std::vector<char> dir(name.begin(), name.end());
    dir.push_back('\0');
    FILE_make_dir(dir.data(), 1);
    // The directories were made for the name with "\" read as "/": the file goes there.
    name = dir.data();
  } else if (std::strchr(access, '+') == nullptr) {
    return open_for_reading(name, access);
  }
  FILE* fp = std::fopen(name.c_str(), access);
  if (!fp) MESS_print(M_debug, "FILE_open: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
  return fp;
}

int FILE_close(FILE* fp) {
  if (!fp) return -1;
  if (fp == stdin || fp == stdout || fp == stderr) return std::fflush(fp) == 0 ? 0 : -1;
  const auto pipe = std::find(open_pipes.begin(), open_pipes.end(), fp);
  if (pipe != open_pipes.end()) {
    open_pipes.erase(pipe);
    return pclose(fp);
  }
  return std::fclose(fp) == 0 ? 0 : -1;
}

int FILE_overwrite(const char* filename, int flag) {
  if (!filename || FILE_is_stdio(filename) || !FILE_exist(filename)) return 1;
  if (const int answer = FLAG_get(15); answer > 0) {
    if (answer != 2 || flag == 2) return answer;
    // "app" given for every output must not append where this caller cannot: keeping the
    // file is the one choice left that loses nothing.
    MESS_print(M_warn, "FILE_overwrite: %s: this output cannot append, %s\n", filename,
               flag == 1 ? "file kept" : "no decision");
    return flag == 1 ? 3 : 0;
  }
  if (FLAG_batch()) return 3;
  if (flag != 1 && flag != 2) return 0;
  // Built whole: a long name must not cut off the question the answer refers to.
  const char* question = flag == 2 ? ": exists overwrite (Y,N,Use,Over,App): "
                                    : ": exists overwrite (Y,N,Use,Over): ";
  const std::string prompt = std::string(filename) + question;
  char answer[10] = "";
  QAZ_prompts(prompt.c_str(), answer, sizeof answer);
  const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(answer[0])));
  if (first == 'Y' || first == 'O') return 1;
  if (flag == 2 && first == 'A') return 2;
  return 3;
}

int FILE_type(const char* filename) {
  if (!filename || !*filename) return FILE_TYPE_UNKNOWN;
  std::string name = expand_user(filename);
  struct stat info;
  if (stat(name.c_str(), &info) != 0) {
    // The suffix belongs to the file's own name: a "-" in a directory name is no suffix.
    const std::size_t base = name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1;
    const std::size_t dash = name.find('-', base);
    if (dash == std::string::npos || dash == base) return FILE_TYPE_UNKNOWN;
    name.erase(dash);
    if (stat(name.c_str(), &info) != 0) return FILE_TYPE_UNKNOWN;
  }
  // Only regular files are read: a FIFO or terminal would wait for input, and whatever
  // was read from it would be lost to the reader that follows.
  if (!S_ISREG(info.st_mode)) return FILE_TYPE_UNKNOWN;
  FILE* fp = std::fopen(name.c_str(), "rb");
  if (!fp) return FILE_TYPE_UNKNOWN;
  char head[11] = "";
  const std::size_t got = std::fread(head, 1, 10, fp);
  std::fclose(fp);
  head[got] = '\0';
  for (const MagicEntry& magic : kMagics)
    if (std::strncmp(head, magic.text, std::strlen(magic.text)) == 0) return magic.code;
  return FILE_TYPE_UNKNOWN;
}

void QAZ_share(int mode) { shared = mode; }
int QAZ_get_share() { return shared; }

// Data-file naming and search by date

namespace {

constexpr int kUnset = -9999;
constexpr int kLateUnset = -9999;
constexpr int kDefaultSearchCount = 500;
constexpr int kNoLateStep = 100000;  // series step when a template names no time of day

struct Convention {
  std::string conv;   // active template; empty = no convention
  std::string hconv;  // template of the companion header file
  int late_off = 3600;
  std::string filename;
  int filename_type = 0;
};

Convention current;
Convention saved;
char filename_buf[FILE_NAME_SIZE] = "";  // what FILE_get_filename hands out
int min_size = 0;
int rmin_size = 0;
std::string ext;
char ext_info[FILE_EXT_INFO_SIZE] = "";
int file_type = 0;
Date unset_date() {
  Date d{};
  d.year = d.month = d.day = d.jday = d.wday = d.hour = d.min = kUnset;
  d.sec = 0;
  return d;
}
Date set = unset_date();
Date file_date = unset_date();
std::string keys[256];
int retry = 4;

std::vector<std::string> files;
int numfile = 0;
int file_ind = 0;
Date first_date = unset_date();
int secs = 0;
int nsecs = 0;
int offset = 0;
int skip = 0;
int num_hour = 0;
int def_hours = 0;

std::string cut(const std::string& text, std::size_t size) {
  return text.size() < size ? text : text.substr(0, size - 1);
}

void set_filename(const std::string& name, int type) {
  current.filename = cut(name, FILE_NAME_SIZE);
  current.filename_type = type;
  str_copy(filename_buf, sizeof filename_buf, current.filename.c_str());
}

void clear_date_fields(Date* d) { d->year = d->month = d->day = d->hour = d->min = kUnset; }

// Resource text, or null when the resource is absent or empty.
const char* resource_value(const char* name) {
  const char* value = RES_get(name);
  return value && *value ? value : nullptr;
}

// A directory resource: "none" names no directory, as in the program's own path target.
const char* path_value(const char* name) {
  const char* value = resource_value(name);
  return value && stricmp(value, "none") == 0 ? nullptr : value;
}

const char* path_resource(char code) {
  switch (code) {
    case 'C': return "con_path";
    case 'D': return "data_path";
    case 'F': return "file_path";
    case 'R': return "raw_path";
    case 'G': return "grid_path";
    case 'I': return "image_path";
    case 'W': return "watch_path";
    case 'T': return "text_path";
    case 'M': return "model_path";
    case 'S': return "sat_path";
    default: return nullptr;
  }
}

bool is_date_code(char code) { return std::strchr("Yybmdjhn", code) != nullptr; }

int date_code_width(char code) {
  switch (code) {
    case 'Y': return 4;
    case 'b': case 'j': return 3;
    default: return 2;
  }
}

// A directory value written before a "/" of the template loses its own trailing "/".
std::string directory_text(const char* value, const char* next) {
  std::string dir = value ? value : ".";
  if (*next == '/' && dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// One template code: "%", an optional width or rounding N, and the code character.
struct Code {
  int width = 1;
  bool has_width = false;
  char code = '\0';
  std::string name;  // for %{NAME}
  const char* next = nullptr;  // template text after the code
};

// Reads the code at tmpl (which points at "%"). A "%" ending the template is a literal.
Code read_code(const char* tmpl) {
  Code c;
  const char* p = tmpl + 1;
  if (std::isdigit(static_cast<unsigned char>(*p))) {
    c.has_width = true;
    c.width = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      if (c.width < 1000) c.width = c.width * 10 + (*p - '0');
      ++p;
    }
    if (c.width < 1) c.width = 1;  // a width of 0 would divide by zero when rounding
  }
  if (*p == '\0') {
    c.code = '%';
    c.next = p;
    return c;
  }
  c.code = *p++;
  if (c.code == '{') {
    const char* close = std::strchr(p, '}');
    const std::size_t len = close ? static_cast<std::size_t>(close - p) : std::strlen(p);
    c.name.assign(p, len);
    p += len;
    if (*p == '}') ++p;
  }
  c.next = p;
  return c;
}

// Late offset bookkeeping: cycles set it, other time codes offer a step, the smallest wins.
struct LateOffset {
  int value = kLateUnset;
  void cycle(int seconds) { value = seconds; }
  void offer(int seconds) {
    if (value == kLateUnset || seconds < value) value = seconds;
  }
};

// Period and offset of a cycle written -XXYY; period 0 means "no cycle".
struct Cycle {
  int offset = 0;
  int period = 0;
};
Cycle cycle_of(int requested) {
  Cycle c;
  // Beyond six digits a value cannot be -XXYY; it would also overflow when negated.
  if (requested >= 0 || requested == kUnset || requested < -999999) return c;
  c.offset = -requested / 100;
  c.period = -requested % 100;
  return c;
}

// Period in days of a requested day written negative; 0 when there is none.
int day_period() {
  if (set.day >= 0 || set.day == kUnset || set.day < -366) return 0;
  return -set.day;
}

void note_time_code(char code, int width, LateOffset& late) {
  switch (code) {
    case 'd':
    case 'j': {
      if (day_period() > 0)
        late.cycle(day_period() * 86400);
      else
        late.offer(width * 86400);
      break;
    }
    case 'h': {
      const Cycle c = cycle_of(set.hour);
      if (c.period > 0)
        late.cycle(c.period * 3600);
      else
        late.offer(width * 3600);
      break;
    }
    case 'n': {
      const Cycle c = cycle_of(set.min);
      if (c.period > 0)
        late.cycle(c.period * 60);
      else
        late.offer(width * 60);
      break;
    }
    default:
      break;
  }
}

int round_down(int value, int width) { return value < 0 ? value : value / width * width; }

// The value written for an hour or minute (limit 24 or 60): requested, cycled or the
// date's own.
int clock_field(int requested, int own, int width, int limit) {
  if (requested >= 0) return round_down(requested, width);
  const Cycle c = cycle_of(requested);
  if (c.period > 0 && own >= 0) {
    // Wide arithmetic: a stray clock field near the int limit must not overflow.
    long long cycled = static_cast<long long>(own) / c.period * c.period + c.offset;
    // A period that does not divide the day (or hour) has no cycle time in its last
    // block: take the one before rather than write an hour 29 or a minute 65.
    if (own < limit && cycled >= limit && cycled - c.period >= 0) cycled -= c.period;
    return static_cast<int>(std::min<long long>(cycled, INT_MAX));
  }
  return round_down(own, width);
}

std::string two_digits(int value) {
  char text[16];
  if (value < 0) return "00";
  str_format(text, sizeof text, "%2.2d", value);
  return text;
}

// Writes one date code of d into out and records the written field in file_date.
void write_date_code(const Code& c, const Date& d, std::string& out) {
  char text[16];
  const int n = c.width;
  switch (c.code) {
    case 'Y': {
      const int year = set.year != kUnset ? set.year : round_down(d.year, n);
      if (year < 0) {
        out += "0000";
      } else {
        str_format(text, sizeof text, "%4.4d", year % 10000);
        out += text;
      }
      file_date.year = year;
      break;
    }
    case 'y': {
      const int year = set.year != kUnset ? set.year : d.year;
      if (year < 0) {
        out += "00";
      } else {
        out += two_digits(set.year != kUnset ? year % 100 : round_down(year % 100, n));
        file_date.year = year;
      }
      break;
    }
    case 'm':
    case 'b': {
      const int month = set.month != kUnset ? set.month : round_down(d.month, n);
      if (c.code == 'm') {
        out += two_digits(month);
      } else if (month >= 1 && month <= 12) {
        out += DATE_month_lower(month);
      } else {
        out += "xxx";
      }
      file_date.month = month;
      break;
    }
    case 'd':
    case 'j': {
      int day = d.day;
      if (set.day > 0)
        day = set.day;
      else if (day_period() > 0 && day >= 0)
        day = day / day_period() * day_period();
      else
        day = round_down(day, n);
      file_date.day = day;
      if (c.code == 'd') {
        out += two_digits(day);
        break;
      }
      const int year = set.year != kUnset ? set.year : d.year;
      const int month = set.month != kUnset ? set.month : d.month;
      int julian = 0;
      if (day >= 0 && month >= 1) DATE_monday_julian(year, month, day, &julian);
      str_format(text, sizeof text, "%3.3d", julian < 0 ? 0 : julian % 1000);
      out += text;
      break;
    }
    case 'h': {
      const int hour = clock_field(set.hour, d.hour, n, 24);
      out += two_digits(hour);
      file_date.hour = hour;
      break;
    }
    case 'n': {
      const int minute = clock_field(set.min, d.min, n, 60);
      out += two_digits(minute);
      file_date.min = minute;
      break;
    }
    default:
      break;
  }
}

// Key text for a code, cut or padded with "_" to an explicit width.
std::string key_text(const Code& c) {
  const std::string& key = keys[static_cast<unsigned char>(c.code)];
  if (key.empty()) return "0";
  if (!c.has_width) return key;
  std::string text = key.substr(0, static_cast<std::size_t>(c.width));
  text.resize(static_cast<std::size_t>(c.width), '_');
  return text;
}

// Directory of a literal full-path name that holds as many separators as the template.
bool extracted_path(const std::string& tmpl, std::string& path) {
  if (current.filename_type != 1 || !FILE_fullpath(current.filename.c_str())) return false;
  const long wanted = std::count_if(tmpl.begin(), tmpl.end(), [](char ch) { return ch == '/' || ch == ':'; });
  if (wanted == 0) return false;
  const std::string& name = current.filename;
  long counted = 0;
  for (long i = static_cast<long>(name.size()) - 1; i >= 0; --i) {
    if (name[i] == '/' || (name[i] == ':' && i == 1)) {
      if (++counted == wanted) {
        path = name.substr(0, static_cast<std::size_t>(i));
        MESS_print(M_debug, "Extracted path: %s\n", path.c_str());
        return true;
      }
    }
  }
  return false;
}

// Literal template text as it appears in a name: a blank is written "_", braces vanish.
void append_literal(char ch, std::string& out) {
  if (ch == ' ')
    out += '_';
  else if (ch != '{' && ch != '}')
    out += ch;
}

// Walks a template: each code is handed to on_code(code, out), literal text is copied.
// The name builder and the listing pattern differ only in what a code writes.
template <typename OnCode>
std::string walk_template(const std::string& tmpl, OnCode on_code) {
  std::string out;
  const char* p = tmpl.c_str();
  while (*p) {
    if (*p == '%') {
      const Code c = read_code(p);
      p = c.next;
      on_code(c, out);
      continue;
    }
    append_literal(*p++, out);
  }
  return out;
}

// Expands a template for date d; the late offset of its time codes goes to late.
std::string expand(const std::string& tmpl, const Date& d, LateOffset& late) {
  std::string path;
  const bool use_path = extracted_path(tmpl, path);
  return walk_template(tmpl, [&](const Code& c, std::string& out) {
    if (is_date_code(c.code)) {
      write_date_code(c, d, out);
      note_time_code(c.code, c.width, late);
    } else if (const char* res = path_resource(c.code)) {
      out += use_path ? path : directory_text(path_value(res), c.next);
    } else if (c.code == '{') {
      if (use_path) {
        out += path;
      } else if (const char* value = resource_value(c.name.c_str())) {
        out += value;
      }
    } else if (c.code == 'e') {
      out += ext;
    } else if (c.code == '%') {
      out += '%';
    } else {
      out += key_text(c);
    }
  });
}

// Builds a name for d (null: file_date) with the data or header template.
int build_name(const Date* datim, char* out_file, bool for_header) {
  if (current.conv.empty()) {
    const std::string name = current.filename.empty() ? "filename" : current.filename;
    str_copy(out_file, FILE_NAME_SIZE, name.c_str());
    current.filename_type = 1;
    return 1;
  }
  if (FILE_is_stdio(current.conv.c_str())) {
    str_copy(out_file, FILE_NAME_SIZE, "-");
    current.filename_type = 0;
    return 1;
  }
  const std::string& tmpl = for_header ? current.hconv : current.conv;
  const Date d = datim ? *datim : file_date;
  if (!for_header) current.late_off = kLateUnset;
  if (datim) clear_date_fields(&file_date);
  if (d.year == kUnset && !current.filename.empty()) {
    str_copy(out_file, FILE_NAME_SIZE, current.filename.c_str());
    current.filename_type = 1;
    return 1;
  }
  LateOffset late;
  const std::string name = expand(tmpl, d, late);
  if (str_copy(out_file, FILE_NAME_SIZE, name.c_str()) != 0)
    MESS_print(M_warn, "FILE_set_date: file name cut to %zu characters: %s\n",
               FILE_NAME_SIZE - 1, name.c_str());
  if (!for_header) {
    current.late_off = late.value;
    // The kind stays: neighbours of a name the user gave keep coming from its directory.
    set_filename(name, current.filename_type);
  }
  return 0;
}

// ---- Interpreting names --------------------------------------------------------------

bool read_digits(const char*& p, int count, int& value) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(p[i]))) return false;
    v = v * 10 + (p[i] - '0');
  }
  value = v;
  p += count;
  return true;
}

// "yyyy[mm[dd[hh[nn]]]]" into the year..minute fields that are present; how many were read.
int read_date_digits(const char*& p, Date& d) {
  int value = 0;
  if (!read_digits(p, 4, value)) return 0;
  d.year = value;
  int* fields[] = {&d.month, &d.day, &d.hour, &d.min};
  int count = 1;
  for (int* field : fields) {
    if (!read_digits(p, 2, value)) break;
    *field = value;
    ++count;
  }
  return count;
}

// Decodes the characters of a date code into file_date. False when they do not decode.
bool decode_date_code(char code, const std::string& text) {
  int value = 0;
  if (code == 'b') {
    const int month = DATE_decode_month(text.c_str());
    if (month == 0) return false;
    file_date.month = month;
    return true;
  }
  const char* p = text.c_str();
  if (!read_digits(p, static_cast<int>(text.size()), value)) return false;
  switch (code) {
    case 'Y': file_date.year = value; break;
    case 'y': file_date.year = value > 49 ? 1900 + value : 2000 + value; break;
    case 'm': file_date.month = value; break;
    case 'd': file_date.day = value; break;
    case 'h': file_date.hour = value; break;
    case 'n': file_date.min = value; break;
    case 'j': {
      int year = file_date.year != kUnset ? file_date.year : set.year;
      if (year == kUnset) year = 2001;  // no year known: a common year
      DATE_julian_monday(year, value, &file_date.month, &file_date.day);
      break;
    }
    default: return false;
  }
  return true;
}

// The literal template text after pos, up to the next code.
std::string literal_run(const char* p) {
  std::string text;
  for (; *p && *p != '%'; ++p) append_literal(*p, text);
  return text;
}

// Walks the template and the name together; see the state w below.
std::string match_name(const std::string& tmpl, const std::string& name) {
  // w: 0 at the start; 1 after a path code or a group in braces; 2 after a date code;
  // 3 when the name ended right after a matched literal.
  int w = 0;
  LateOffset late;
  std::string out;
  std::size_t ni = 0;
  const bool name_has_slash = name.find('/') != std::string::npos;
  const bool full = FILE_fullpath(name.c_str()) != 0;
  const char* p = tmpl.c_str();
  auto rest_of_name = [&]() {
    if (ni < name.size()) out += name.substr(ni);
    ni = name.size();
  };
  bool ended = false;
  int julian = 0;  // day of year read from the name, 0 when none
  // A literal character of the template against the name; false when matching ends.
  auto literal = [&](char ch) {
    const bool name_left = ni < name.size();
    if (name_left && name[ni] == ch) {
      // The name holds this very character: take it from both.
      out += ch;
      ++ni;
      if (w > 0 && ni == name.size()) w = 3;
    } else if (w >= 2 && name_left) {
      rest_of_name();
      return false;
    } else if (w > 0) {
      out += ch;
      if (name_left && !name_has_slash) ++ni;
    } else {
      rest_of_name();
      return false;
    }
    return true;
  };
  while (*p && !ended) {
    MESS_print(M_debug, "FILES:%s:%s:%s:%s:%s:%d\n", p, name.c_str() + ni, out.c_str(),
               tmpl.c_str(), ext.c_str(), w);
    if (*p == '%') {
      const Code c = read_code(p);
      if (c.code == '%') {
        p = c.next;
        ended = !literal('%');
        continue;
      }
      p = c.next;
      if (is_date_code(c.code)) {
        const auto width = static_cast<std::size_t>(date_code_width(c.code));
        const std::string text = name.substr(ni, width);
        if (text.size() < width || !decode_date_code(c.code, text)) {
          rest_of_name();
          ended = true;
          break;
        }
        if (c.code == 'j') julian = std::atoi(text.c_str());
        out += text;
        ni += width;
        w = 2;
        note_time_code(c.code, c.width, late);
      } else if (path_resource(c.code) || c.code == '{') {
        if (full) {
          long separators = 0;
          for (const char* q = p; *q; ++q)
            if (*q == '/' || *q == '\\' || *q == ':') ++separators;
          long counted = 0;
          std::size_t cut_at = name.size();
          for (std::size_t i = name.size(); i-- > ni && counted < separators;) {
            const char ch = name[i];
            if (ch == '/' || ch == '\\' || ch == ':') {
              ++counted;
              cut_at = i;
            }
          }
          if (counted < separators) {
            rest_of_name();
            ended = true;
            break;
          }
          out += name.substr(ni, cut_at - ni);
          ni = cut_at;
        } else {
          const char* value = c.code == '{' ? resource_value(c.name.c_str())
                                            : path_value(path_resource(c.code));
          if (c.code == '{')
            out += value ? value : "";
          else
            out += directory_text(value, p);
          if (*p == '/') {
            out += '/';
            ++p;
          }
        }
        w = 1;
      } else if (c.code == 'e') {
        const std::string anchor = literal_run(p);
        const std::size_t at =
            anchor.empty() ? name.size() : name.find(anchor, ni);
        if (at == std::string::npos) {
          rest_of_name();
          ended = true;
          break;
        }
        if (ext.empty()) {
          // The name keeps its own text even when the remembered extension is cut.
          const std::string text = name.substr(ni, at - ni);
          ext = cut(text, FILE_EXT_SIZE);
          out += text;
        } else {
          out += ext;
        }
        ni = at;
      } else {
        if (keys[static_cast<unsigned char>(c.code)].empty()) {
          rest_of_name();
          ended = true;
          break;
        }
        const std::string key = key_text(c);
        out += key;
        ni = std::min(name.size(), ni + key.size());
      }
      continue;
    }
    if (*p == '{') {
      const char* close = std::strchr(p + 1, '}');
      const std::size_t len = close ? static_cast<std::size_t>(close - p - 1) : std::strlen(p + 1);
      out.append(p + 1, len);
      p += len + 1;
      if (*p == '}') ++p;
      w = 1;
      continue;
    }
    if (*p == '}') {
      ++p;
      continue;
    }
    if (*p == '*') {
      rest_of_name();
      ended = true;
      break;
    }
    const char ch = *p == ' ' ? '_' : *p;
    ++p;
    ended = !literal(ch);
  }
  // Text after the end of the template is kept: the name is never shortened.
  rest_of_name();
  // A year read after the day of year decides whether that day falls in a leap year.
  if (julian > 0 && file_date.year != kUnset)
    DATE_julian_monday(file_date.year, julian, &file_date.month, &file_date.day);
  if (late.value != kLateUnset) current.late_off = late.value;
  MESS_print(M_debug, "FILES:%s:%s:%d\n", tmpl.c_str(), out.c_str(), w);
  DATE_print(M_debug, &file_date);
  return out;
}

bool starts_with_nocase(const char* text, const char* prefix) {
  return strnicmp(text, prefix, static_cast<int>(std::strlen(prefix))) == 0;
}

// ---- Time expressions ----------------------------------------------------------------

// Reads "DdH:M", "Dd", "H:M" or "H" in seconds; p is advanced past it.
long long read_offset(const char*& p) {
  auto number = [&p]() {
    long long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      if (v < 100000000) v = v * 10 + (*p - '0');
      ++p;
    }
    return v;
  };
  long long seconds = 0;
  long long first = number();
  if (*p == 'd' || *p == 'D') {
    ++p;
    seconds = first * 86400;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return seconds;
    first = number();
  }
  seconds += first * 3600;
  if (*p == ':' && std::isdigit(static_cast<unsigned char>(p[1]))) {
    ++p;
    seconds += number() * 60;
  }
  return seconds;
}

// An optional sign and offset. direction becomes +1 or -1 when a sign is written.
long long read_signed_offset(const char*& p, int& direction) {
  int sign = -1;
  if (*p == '+' || *p == '-') {
    sign = *p == '+' ? 1 : -1;
    direction = sign;
    ++p;
  }
  if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
  return sign * read_offset(p);
}

// Base date from "yyyy[mm[dd[hh[nn]]]]"; missing month and day are the first.
bool base_from_digits(const char*& p, long long& base) {
  Date d = unset_date();
  if (read_date_digits(p, d) == 0) return false;
  if (d.month == kUnset) d.month = 1;
  if (d.day == kUnset) d.day = 1;
  if (d.hour == kUnset) d.hour = 0;
  if (d.min == kUnset) d.min = 0;
  d.sec = 0;
  base = DATE_num_sec(&d);
  return true;
}

long long base_time(const char*& p) {
  long long base = 0;
  if (*p == '#' && std::isdigit(static_cast<unsigned char>(p[1]))) {
    ++p;
    if (base_from_digits(p, base)) return base;
  }
  if (const char* env = std::getenv("qazcurtime"); env && *env) {
    const char* q = env[0] == '#' ? env + 1 : env;
    if (base_from_digits(q, base)) return base;
    MESS_print(M_warn, "FILE_set_current: qazcurtime is not a date yyyymmddhhnn: %s\n", env);
  }
  return DATE_get_time(nullptr);
}

// Moves base back to the latest time whose fields match the requested ones.
long long pull_back(long long base) {
  Date d{};
  std::int64_t t = base;
  DATE_get_gmdate(&t, &d);
  if (set.month >= 1 && set.month <= 12) {
    if (set.month > d.month) --d.year;
    d.month = set.month;
  }
  if (set.day >= 1) {
    if (set.day > d.day) {
      if (--d.month < 1) {
        d.month = 12;
        --d.year;
      }
    }
    d.day = set.day;
  }
  t = DATE_num_sec(&d);
  if (set.hour >= 0 && set.hour <= 23) {
    DATE_get_gmdate(&t, &d);
    if (set.hour > d.hour) {
      t -= 86400;
      DATE_get_gmdate(&t, &d);
    }
    d.hour = set.hour;
    t = DATE_num_sec(&d);
  }
  if (set.min >= 0 && set.min <= 59) {
    DATE_get_gmdate(&t, &d);
    if (set.min > d.min) {
      t -= 3600;
      DATE_get_gmdate(&t, &d);
    }
    d.min = set.min;
    t = DATE_num_sec(&d);
  }
  return t;
}

// The step of the latest-file search and of rounding: one hour without a late offset.
int search_step() { return current.late_off > 0 ? current.late_off : 3600; }

void name_time(long long t, char* out_file) {
  Date d{};
  std::int64_t when = t;
  DATE_get_gmdate(&when, &d);
  FILE_set_date(&d, out_file);
}

bool big_enough(const char* name) {
  const long long size = FILE_size(name);
  const int threshold = rmin_size > 0 ? rmin_size : min_size;
  return size > threshold;
}

// ---- Series --------------------------------------------------------------------------

// "H:M", "H" or ":M" in seconds; the minutes take the sign of the text.
int hours_minutes(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  long long hours = 0, minutes = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) hours = std::min(hours * 10 + (*p++ - '0'), 1000000LL);
  if (*p == ':') {
    ++p;
    while (std::isdigit(static_cast<unsigned char>(*p))) minutes = std::min(minutes * 10 + (*p++ - '0'), 1000000LL);
  }
  // Half the int range keeps the series arithmetic (position plus step) from overflowing.
  const long long total = std::min(hours * 3600 + minutes * 60, static_cast<long long>(INT_MAX / 2));
  return static_cast<int>(negative ? -total : total);
}

bool list_mode() { return numfile > 0 && !(numfile == 1 && num_hour != 0); }

void name_offset(long long delta, char* file) {
  Date d = first_date;
  if (d.year == kUnset) {
    FILE_set_date(&d, file);
    return;
  }
  std::int64_t t = DATE_num_sec(&d) + delta;
  DATE_get_gmdate(&t, &d);
  FILE_set_date(&d, file);
}

// Prints names in columns filled across, as a terminal listing does.
void print_columns(const std::vector<std::string>& names) {
  std::size_t width = 80;
  if (const char* cols = std::getenv("COLUMNS"); cols) {
    const long v = std::strtol(cols, nullptr, 10);
    if (v > 0 && v < 1000) width = static_cast<std::size_t>(v);
  }
  std::size_t longest = 1;
  for (const auto& n : names) longest = std::max(longest, n.size());
  const std::size_t column = longest + 2;
  const std::size_t per_line = std::max<std::size_t>(1, width / column);
  std::string line;
  for (std::size_t i = 0; i < names.size(); ++i) {
    line += names[i];
    const bool last_in_line = (i + 1) % per_line == 0 || i + 1 == names.size();
    if (last_in_line) {
      MESS_print(M_print, "%s\n", line.c_str());
      line.clear();
    } else {
      line.append(column - names[i].size(), ' ');
    }
  }
}

std::string list_pattern() {
  return walk_template(current.conv, [](const Code& c, std::string& out) {
    switch (c.code) {
      case 'Y': out += "?[0-9]??"; break;
      case 'y': case 'm': case 'd': case 'h': case 'n': out += "[0-9]?"; break;
      case 'b': out += "?[a-z]?"; break;
      case 'j': out += "?[0-9]?"; break;
      case 'e': out += ext.empty() ? "*" : ext; break;
      case '%': out += '%'; break;
      case '{': {
        if (const char* v = resource_value(c.name.c_str())) out += v;
        break;
      }
      default:
        if (const char* res = path_resource(c.code)) {
          out += directory_text(path_value(res), c.next);
        } else if (!keys[static_cast<unsigned char>(c.code)].empty()) {
          out += key_text(c);
        } else {
          out += c.has_width ? std::string(static_cast<std::size_t>(c.width), '?') : "*";
        }
    }
  });
}

// The interactive choice; tries answers, returns true when the file exists.
bool prompt_for_file(const char* prompt, char* outfile, int tries) {
  char answer[80];
  for (int i = 0; i < tries; ++i) {
    if (!QAZ_prompts(prompt ? prompt : "File: ", answer, sizeof answer)) return false;
    if (stricmp(answer, "exit") == 0) QAZ_exit(0);
    if (stricmp(answer, "list") == 0) {
      FILE_list_file();
      continue;
    }
    if (answer[0] == '#' || starts_with_nocase(answer, "la")) {
      FILE_set_current(answer, outfile);
      MESS_print(M_mess, "Current filename: %s\n", outfile);
    } else if (starts_with_nocase(answer, "cu")) {
      FILE_set_current(answer + 2, outfile);
      MESS_print(M_mess, "Current filename: %s\n", outfile);
    } else {
      FILE_set_file(answer, outfile);
    }
    if (FILE_exist(outfile)) return true;
    MESS_print(M_warn, "File not found: %s\n", outfile);
  }
  return false;
}

// Steps 1 and 2 of the choice. 1 or 0 when decided, -1 to go on interactively.
int choose_without_prompt(char* outfile, bool force_end) {
  int count = 0;
  char** values = nullptr;
  if (RES_getvals("filename", &count, &values) > 0 && values) {
    std::string first = values[0] ? values[0] : "";
    free_parsed_array(count, values);
    if (stricmp(first.c_str(), "list") == 0) {
      FILE_list_file();
      QAZ_exit(0);
    }
    char name[FILE_NAME_SIZE];
    FILE_set_file(first.c_str(), name);
    str_copy(outfile, FILE_NAME_SIZE, name);
    return FILE_exist(outfile) ? 1 : 0;
  }
  if (values) free_parsed_array(count, values);
  const char* cur = RES_get("current");
  if (!cur && !FLAG_batch()) return -1;
  FILE_set_current(cur ? cur : "la", outfile);
  if (FILE_exist(outfile)) {
    MESS_print(M_mess, "Current filename: %s\n", outfile);
    return 1;
  }
  if (!force_end) return 0;
  MESS_print(M_warn, "File not found: %s\n", outfile);
  QAZ_exit(10);
}

}  // namespace

int FILE_set_name(const char* type) {
  set_filename("", 0);
  // The minimum size and the extension belong to the convention line; a new selection
  // starts without them, so no extension of an earlier type renames the files of this one.
  min_size = 0;
  ext.clear();
  if (!type) {
    MESS_print(M_error, "FILE_set_name: no data type given\n");
    current.conv.clear();
    current.hconv.clear();
    return 0;
  }
  if (stricmp(type, "none") == 0) {
    current.conv.clear();
    current.hconv.clear();
    return 0;
  }
  if (type[0] == '@') {
    current.conv = cut(type + 1, FILE_NAME_SIZE);
    current.hconv.clear();
    return 1;
  }
  // Cut ":K=VALUE" parts off the type, setting key K.
  std::string rest = type;
  for (std::size_t i = rest.find(':'); i != std::string::npos; i = rest.find(':', i)) {
    if (i + 2 < rest.size() && rest[i + 2] == '=') {
      const std::size_t end = rest.find(':', i + 3);
      const std::string value = rest.substr(i + 3, end == std::string::npos ? std::string::npos : end - i - 3);
      MESS_print(M_debug, "KEY: %c = %s\n", rest[i + 1], value.c_str());
      FILE_set_key(rest[i + 1], value.c_str());
      rest.erase(i, end == std::string::npos ? std::string::npos : end - i);
    } else {
      ++i;
    }
  }
  const char* conv_name = resource_value("name_conv");
  const char* directory = path_value("file_path");
  char path[FILE_NAME_SIZE];
  FILE_add_path(directory, conv_name ? conv_name : "name_conv", path);
#ifdef QAZ_SHARE_DIR
  // Without "file_path" the installed file serves when none is where we stand.
  if (!directory && !FILE_exist(path)) {
    char shared_path[FILE_NAME_SIZE];
    FILE_add_path(QAZ_share_dir(), conv_name ? conv_name : "name_conv", shared_path);
    if (FILE_exist(shared_path)) str_copy(path, sizeof path, shared_path);
  }
#endif
  std::unique_ptr<FILE, int (*)(FILE*)> table(std::fopen(path, "r"), &std::fclose);
  if (!table) {
    MESS_print(M_warn, "FILE_set_name: No file name convention file: %s\n", path);
    current.conv = cut(rest, FILE_NAME_SIZE);
    current.hconv.clear();
    return 0;
  }
  MESS_print(M_debug, "Opening name convention file: %s\n", path);
  char line[FILE_NAME_SIZE + 1];
  int length;
  while ((length = fgetline(table.get(), line)) >= 0) {
    // Only the first 160 characters of a line count; the rest must not pass for a line.
    // Skipping to the newline also serves a line that fills the limit exactly.
    if (length >= static_cast<int>(FILE_NAME_SIZE)) fskipline(table.get());
    if (line[0] == '#') continue;
    std::istringstream fields(line);
    std::string table_type, tmpl, htmpl, size_text;
    if (!(fields >> table_type)) continue;
    fields >> tmpl >> htmpl >> size_text;
    const bool exact = stricmp(table_type.c_str(), rest.c_str()) == 0;
    if (!exact && !starts_with_nocase(rest.c_str(), table_type.c_str())) continue;
    if (exact) {
      MESS_print(M_debug, "File name match for: %s\n", rest.c_str());
    } else {
      const std::size_t underscore = rest.rfind('_');
      ext = underscore == std::string::npos ? "" : cut(rest.substr(underscore + 1), FILE_EXT_SIZE);
      MESS_print(M_debug, "File name partial match for: %s-%s ext: %s\n", rest.c_str(),
                 table_type.c_str(), ext.c_str());
    }
    current.conv = cut(tmpl, FILE_NAME_SIZE);
    current.hconv = htmpl == "-" ? "" : cut(htmpl, FILE_NAME_SIZE);
    min_size = size_text.empty() ? 0 : std::atoi(size_text.c_str());
    return 1;
  }
  MESS_print(M_warn, "No file name conversion for: %s\n", rest.c_str());
  current.conv = cut(rest, FILE_NAME_SIZE);
  current.hconv.clear();
  return 0;
}

int FILE_set_name_conv(const char* str) {
  if (!str) return -1;
  std::istringstream fields(str);
  int late = 0;
  if (!(fields >> late)) return -1;
  current.late_off = late;
  current.hconv.clear();
  std::string tmpl, htmpl;
  if (fields >> tmpl) current.conv = cut(tmpl, FILE_NAME_SIZE);
  if (fields >> htmpl) current.hconv = cut(htmpl, FILE_NAME_SIZE);
  return 0;
}

int FILE_get_name_conv(char* str, std::size_t size) {
  if (!str) return -1;
  str_format(str, size, "%d %s %s", current.late_off, current.conv.c_str(), current.hconv.c_str());
  return 0;
}

int FILE_save_name_conv() {
  saved = current;
  return 0;
}

int FILE_restore_name_conv() {
  current = saved;
  str_copy(filename_buf, sizeof filename_buf, current.filename.c_str());
  return 0;
}

int FILE_set_late_off(int val) {
  current.late_off = val;
  return 0;
}
int FILE_get_late_off() { return current.late_off; }

int FILE_set_min_size(int val) {
  rmin_size = val;
  return 0;
}
int FILE_get_min_size() { return rmin_size != 0 ? rmin_size : min_size; }

int FILE_set_time(const Date* date) {
  if (!date) return -1;
  set = *date;
  return 0;
}

int FILE_get_time(Date* date) {
  if (!date) return -1;
  *date = set;
  return 0;
}

int FILE_reset_time() {
  clear_date_fields(&set);
  return 0;
}

int FILE_set_key(char key, const char* str) {
  if (!str) return -1;
  std::string text = cut(str, FILE_KEY_SIZE);
  std::replace(text.begin(), text.end(), ' ', '_');
  keys[static_cast<unsigned char>(key)] = text;
  return 0;
}

int FILE_get_key(char key, char* str) {
  if (!str) return -1;
  str_copy(str, FILE_KEY_SIZE, keys[static_cast<unsigned char>(key)].c_str());
  return 0;
}

int FILE_set_filename(const char* str) {
  set_filename(str ? str : "", 1);
  return 0;
}

char* FILE_get_filename(char* str) {
  if (str) str_copy(str, FILE_NAME_SIZE, filename_buf);
  return filename_buf;
}

int FILE_set_type(int type) {
  file_type = type;
  return 0;
}

char* FILE_get_ext_info() { return ext_info; }

int FILE_set_ext_info(const char* str) {
  str_copy(ext_info, sizeof ext_info, str ? str : "");
  return 0;
}

int FILE_get_date(Date* date) {
  if (!date) return -1;
  *date = file_date;
  return 0;
}

int FILE_extract_extra_info(char* name) {
  if (!name || std::strlen(name) < 3) return 0;
  // Directory names such as "nam-12km" or "2026-12" carry no extra information: the
  // search starts in the file's own name, at its third character.
  const char* slash = std::strrchr(name, '/');
  char* base = slash ? name + (slash - name) + 1 : name;
  char* mark = std::strpbrk(base + std::min<std::size_t>(2, std::strlen(base)), "#-+:");
  if (!mark) return 0;
  str_copy(ext_info, sizeof ext_info, mark);
  *mark = '\0';
  return 1;
}

int FILE_set_date(const Date* datim, char* out_file) {
  if (!out_file) return -1;
  return build_name(datim, out_file, false);
}

int FILE_hdr_set_date(const Date* datim, char* out_file) {
  if (!out_file) return -1;
  const Date d = datim ? *datim : file_date;
  if (d.year == kUnset) return 0;
  if (current.hconv.empty()) {
    out_file[0] = '\0';
    return 0;
  }
  // The header is a companion: its template may lack the data file's finer fields, and
  // naming it must not change the date later names are built from.
  const Date data_date = file_date;
  build_name(&d, out_file, true);
  file_date = data_date;
  return out_file[0] != '\0' ? 1 : 0;
}

int FILE_set_date_off(const Date* datim, int offset_secs, char* out_file) {
  if (!out_file) return -1;
  Date d = datim ? *datim : file_date;
  if (d.year != kUnset) {
    std::int64_t t = DATE_num_sec(&d) + offset_secs;
    DATE_get_gmdate(&t, &d);
  }
  FILE_set_date(&d, out_file);
  return current.late_off > 0 ? offset_secs / current.late_off : offset_secs / kNoLateStep;
}

int FILE_set_file(const char* file, char* out_file) {
  if (!file || !out_file) {
    MESS_print(M_error, "FILE_set_file: no file name given\n");
    return -1;
  }
  clear_date_fields(&file_date);
  std::string name = file;
  // A time expression keeps its "#": there it is a base date or a search count.
  const bool expression = name[0] == '#' || starts_with_nocase(name.c_str(), "la") ||
                          starts_with_nocase(name.c_str(), "cu");
  if (file_type == 0 && !expression) {
    const std::size_t hash = name.find('#', 1);
    if (hash != std::string::npos) {
      const char* p = name.c_str() + hash + 1;
      Date requested = set;
      read_date_digits(p, requested);
      set = requested;
      name.erase(hash);
    }
  } else if (file_type == 1 && name.size() > 1 && !expression) {
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    FILE_extract_extra_info(buffer.data() + 1);
    name = buffer.data();
  }
  file_date = set;
  if (stricmp(name.c_str(), "exit") == 0) QAZ_exit(0);
  if (name[0] == '@') {
    set_filename(name.substr(1), 1);
    str_copy(out_file, FILE_NAME_SIZE, current.filename.c_str());
    return 0;
  }
  if (FILE_is_stdio(name.c_str()) || (!current.conv.empty() && FILE_is_stdio(current.conv.c_str()))) {
    str_copy(out_file, FILE_NAME_SIZE, "-");
    return 0;
  }
  if (current.conv.empty()) {
    set_filename(name, 1);
    str_copy(out_file, FILE_NAME_SIZE, current.filename.c_str());
    return 0;
  }
  if (name[0] == '#' || starts_with_nocase(name.c_str(), "la") ||
      starts_with_nocase(name.c_str(), "cu")) {
    FILE_set_current(starts_with_nocase(name.c_str(), "cu") ? name.c_str() + 2 : name.c_str(),
                     out_file);
    MESS_print(M_mess, "Current filename: %s\n", out_file);
    return 0;
  }
  std::string result;
  if (stricmp(name.c_str(), "none") == 0 ||
      (FILE_fullpath(name.c_str()) && FILE_fullpath(current.conv.c_str())))
    result = name;
  else
    result = match_name(current.conv, name);
  set_filename(result, 1);
  if (str_copy(out_file, FILE_NAME_SIZE, result.c_str()) != 0)
    MESS_print(M_warn, "FILE_set_file: file name cut to %zu characters: %s\n",
               FILE_NAME_SIZE - 1, result.c_str());
  return 0;
}

long long FILE_set_current(const char* cur, char* filename) {
  char scratch[FILE_NAME_SIZE];
  char* out_file = filename ? filename : scratch;
  const char* p = cur ? cur : "la";
  if (starts_with_nocase(p, "cu")) p += 2;

  long long t = pull_back(base_time(p));
  int direction = -1;
  long long shift = read_signed_offset(p, direction);
  t += shift;
  MESS_print(M_debug, "CUR1:%d %d %d %d\n", set.year, set.month, set.day, set.hour);
  MESS_print(M_debug, "CUR1:%s %d\n", cur ? cur : "la", static_cast<int>(shift));

  if (*p == 'l' || *p == 'L') {
    ++p;
    if (*p == 'a' || *p == 'A') ++p;
    int count = kDefaultSearchCount;
    if (*p == '#' && std::isdigit(static_cast<unsigned char>(p[1]))) {
      ++p;
      count = 0;
      while (std::isdigit(static_cast<unsigned char>(*p))) {
        if (count < 1000000) count = count * 10 + (*p - '0');
        ++p;
      }
    }
    bool found = false;
    for (int step = 0; step < count; ++step) {
      name_time(t, out_file);
      MESS_print(M_debug, "LATE:%d %d %d %d %d\n", step, count, current.late_off, min_size, rmin_size);
      MESS_print(M_debug, "LATE: %s\n", out_file);
      if (big_enough(out_file)) {
        found = true;
        break;
      }
      if (step + 1 < count) t += direction * search_step();
    }
    MESS_print(M_debug, "LATEST: %s %s %d\n", out_file, found ? "found" : "not found", count);
  }

  int second_direction = -1;
  shift = read_signed_offset(p, second_direction);
  t += shift;
  MESS_print(M_debug, "CUR2:%d %d %d %d\n", set.year, set.month, set.day, set.hour);
  MESS_print(M_debug, "CUR2:%d\n", static_cast<int>(shift));
  if (*p)
    MESS_print(M_warn, "FILE_set_current: text not understood after the time expression: %s\n", p);

  name_time(t, out_file);
  const long long step = search_step();
  return t >= 0 ? t / step * step : -((-t + step - 1) / step) * step;
}

int FILE_list_file() {
  const std::string pattern = list_pattern();
  MESS_print(M_debug, "SEARCH: %s\n", pattern.c_str());
  glob_t found{};
  // A path resource written "~/data" must list what the readers would open there.
  const int status = glob(expand_user(pattern.c_str()).c_str(), 0, nullptr, &found);
  std::vector<std::string> names;
  if (status == 0)
    for (std::size_t i = 0; i < found.gl_pathc; ++i) names.emplace_back(found.gl_pathv[i]);
  globfree(&found);
  if (names.empty()) {
    MESS_print(M_print, "No files found: %s\n", pattern.c_str());
    return 0;
  }
  print_columns(names);
  return static_cast<int>(names.size());
}

int FILE_get_file(const char* prompt, char* outfile) {
  if (!outfile) return 0;
  const int decided = choose_without_prompt(outfile, true);
  if (decided >= 0) return decided;
  MESS_print(M_print, "List of available files:\n");
  FILE_list_file();
  MESS_print(M_print, "\n");
  if (prompt_for_file(prompt, outfile, retry)) return 1;
  QAZ_exit(10);
}

int FILE_get_file_only(const char* prompt, char* outfile) {
  if (!outfile) return 0;
  const int decided = choose_without_prompt(outfile, false);
  if (decided >= 0) return decided;
  MESS_print(M_print, "List of available files:\n");
  FILE_list_file();
  MESS_print(M_print, "\n");
  return prompt_for_file(prompt, outfile, 1) ? 1 : 0;
}

int FILE_first(const Date* datim) {
  files.clear();
  int count = 0;
  char** values = nullptr;
  if (RES_getvals("filename", &count, &values) > 0 && values) {
    for (int i = 0; i < count; ++i) files.emplace_back(values[i] ? values[i] : "");
  }
  if (values) free_parsed_array(count, values);
  if (!files.empty() && (starts_with_nocase(files[0].c_str(), "la") ||
                         starts_with_nocase(files[0].c_str(), "cu")))
    files.clear();
  numfile = static_cast<int>(files.size());
  file_ind = 0;
  first_date = datim ? *datim : file_date;
  num_hour = FILE_num_hour();
  skip = FILE_get_skip();
  offset = FILE_get_offset();
  if (skip > 0 && skip >= offset) offset *= skip / offset;
  // Wide arithmetic: a late offset set near the int limit must not overflow the rounding.
  if (num_hour >= 0)
    secs = 0;
  else
    secs = static_cast<int>(std::max<long long>(
        -((-static_cast<long long>(num_hour) + offset - 1) / offset) * offset, INT_MIN));
  nsecs = secs;
  return 0;
}

int FILE_get_next(char* file) {
  if (!file) return 0;
  if (list_mode()) {
    if (file_ind >= numfile) return 0;
    FILE_set_file(files[static_cast<std::size_t>(file_ind++)].c_str(), file);
    return 1;
  }
  if ((num_hour >= 0 && nsecs > num_hour) || (num_hour < 0 && nsecs > 0)) return 0;
  MESS_print(M_debug, " in: ");
  DATE_print(M_debug, &first_date);
  if (num_hour == 0 && !current.filename.empty())
    str_copy(file, FILE_NAME_SIZE, current.filename.c_str());
  else
    name_offset(nsecs, file);
  MESS_print(M_debug, "out: ");
  DATE_print(M_debug, &file_date);
  MESS_print(M_debug, "NEXT: %d %d %d %d %d %s\n", secs, nsecs, offset, skip, num_hour, file);
  nsecs += offset;
  return 1;
}

int FILE_next_file(char* file) {
  if (!file) return 0;
  name_offset(static_cast<long long>(secs) + offset, file);
  return 1;
}

int FILE_prev_file(char* file) {
  if (!file) return 0;
  name_offset(static_cast<long long>(secs) - offset, file);
  return 1;
}

int FILE_num_hour() {
  const char* value = resource_value("num_hour");
  if (!value) return def_hours;
  const std::string text = value;
  return hours_minutes(text.substr(0, text.find(',')));
}

int FILE_get_skip() {
  if (const char* value = resource_value("num_hour")) {
    const std::string text = value;
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos) return hours_minutes(text.substr(comma + 1));
  }
  return current.late_off;
}

int FILE_get_offset() { return current.late_off > 0 ? current.late_off : kNoLateStep; }

int FILE_set_def_hours(int hours) {
  // Held to the range of the "num_hour" resource: hours * 3600 overflows an int beyond
  // some 68 years, and the series adds its step to this length.
  def_hours = static_cast<int>(std::clamp(static_cast<long long>(hours) * 3600,
                                          static_cast<long long>(-(INT_MAX / 2)),
                                          static_cast<long long>(INT_MAX / 2)));
  return 0;
}

int FILE_get_num_file() { return list_mode() ? numfile - 1 : num_hour; }
int FILE_get_nsecs() { return nsecs; }
int FILE_set_nsecs(int val) {
  nsecs = val;
  return 0;
}
int FILE_get_num_hour() { return num_hour; }

int FILE_print_first_date(const char* text) {
  MESS_print(M_debug, "%s", text ? text : "");
  DATE_print(M_debug, &first_date);
  return 0;
}

namespace {

constexpr int kOverwriteFlag = 15;  // the command-line answer FILE_overwrite consults

// One field of the "hour" option: a clock value up to limit, or a cycle -XXYY whose
// period is at most period_limit and larger than its offset. False when malformed.
bool read_hour_field(const std::string& text, int limit, int period_limit, int& value) {
  if (text.empty()) return false;
  const bool cycle = text[0] == '-';
  const std::string digits = cycle ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 4 ||
      !std::all_of(digits.begin(), digits.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
    return false;
  const int number = std::atoi(digits.c_str());
  if (!cycle) {
    if (number > limit) return false;
    value = number;
    return true;
  }
  const int period = number % 100;
  const int cycle_offset = number / 100;
  if (period < 1 || period > period_limit || cycle_offset >= period) return false;
  value = -number;
  return true;
}

}  // namespace

int FILE_set_hour(const char* text) {
  if (!text || !*text) {
    MESS_print(M_warn, "FILE_set_hour: no hour given\n");
    return -1;
  }
  const std::string value = text;
  const std::size_t colon = value.find(':');
  const std::string hour_text = value.substr(0, colon);
  const std::string min_text = colon == std::string::npos ? "" : value.substr(colon + 1);
  int hour = kUnset, minute = kUnset;
  const bool hour_ok = hour_text.empty() || read_hour_field(hour_text, 23, 24, hour);
  const bool min_ok = colon == std::string::npos || read_hour_field(min_text, 59, 60, minute);
  if (!hour_ok || !min_ok || (hour_text.empty() && colon == std::string::npos)) {
    MESS_print(M_warn, "FILE_set_hour: not an hour H, H:M, :M or cycle -XXYY: %s\n", text);
    return -1;
  }
  Date requested{};
  FILE_get_time(&requested);
  if (!hour_text.empty()) requested.hour = hour;
  if (colon != std::string::npos) requested.min = minute;
  FILE_set_time(&requested);
  return 0;
}

int FILE_set_file_param(const char* text) {
  if (!text) return -1;
  struct Answer {
    const char* word;
    int value;
  };
  constexpr Answer answers[] = {{"over", 1}, {"app", 2}, {"use", 3}};
  int result = -1;
  std::istringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    int found = -1;
    if (item.size() == 1 && item[0] >= '1' && item[0] <= '3') found = item[0] - '0';
    for (const Answer& a : answers)
      // "o", "over" and "overwrite" all name the same answer.
      if (found < 0 && strnicmp(item.c_str(), a.word,
                                static_cast<int>(std::min(item.size(), std::strlen(a.word)))) == 0)
        found = a.value;
    if (found < 0) {
      MESS_print(M_warn, "FILE_set_file_param: unknown file parameter: %s\n", item.c_str());
      continue;
    }
    result = found;
  }
  if (result > 0) FLAG_set(kOverwriteFlag, result);
  return result;
}
