#include "files.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flag.hpp"
#include "mess.hpp"
#include "string.hpp"
#include "system.hpp"

// File-system helpers

namespace {

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
  const char* last = std::strrchr(dir + 1, '/');
  const std::string parent = last ? std::string(dir, static_cast<std::size_t>(last - dir)) : "";
  const bool parent_exists = last ? exists(parent) : true;
  const std::string target = flag >= 1 ? parent : dir;
  if (target.empty() || exists(target)) return parent_exists ? 1 : 0;

  std::vector<std::string> parts;
  std::size_t begin = 0;
  const std::string whole(dir);
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
  if (const int answer = FLAG_get(15); answer > 0) return answer;
  if (FLAG_batch()) return 3;
  if (flag != 1 && flag != 2) return 0;
  char prompt[FILE_NAME_SIZE + 48];
  str_format(prompt, sizeof prompt,
             flag == 2 ? "%s: exists overwrite (Y,N,Use,Over,App): "
                       : "%s: exists overwrite (Y,N,Use,Over): ",
             filename);
  char answer[10] = "";
  QAZ_prompts(prompt, answer, sizeof answer);
  const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(answer[0])));
  if (first == 'Y' || first == 'O') return 1;
  if (flag == 2 && first == 'A') return 2;
  return 3;
}

int FILE_type(const char* filename) {
  if (!filename || !*filename) return FILE_TYPE_UNKNOWN;
  std::string name = expand_user(filename);
  FILE* fp = std::fopen(name.c_str(), "rb");
  if (!fp) {
    // The suffix belongs to the file's own name: a "-" in a directory name is no suffix.
    const std::size_t base = name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1;
    const std::size_t dash = name.find('-', base);
    if (dash == std::string::npos || dash == base) return FILE_TYPE_UNKNOWN;
    fp = std::fopen(name.substr(0, dash).c_str(), "rb");
    if (!fp) return FILE_TYPE_UNKNOWN;
  }
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
