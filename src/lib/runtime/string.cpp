#include "string.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
int lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

// Removes every character for which drop() holds, keeping the others in order.
template <typename Pred>
void remove_if_char(char* string, Pred drop) {
  char* out = string;
  for (const char* in = string; *in; ++in)
    if (!drop(*in)) *out++ = *in;
  *out = '\0';
}

void remove_line_ends(char* string) {
  remove_if_char(string, [](char c) { return c == '\n' || c == '\r'; });
}

// One malloc'd buffer holding the items and a malloc'd array of starts, as the
// splitters hand them to callers (free_parsed_array releases both).
int hand_over(char* buffer, const std::vector<char*>& starts, bool null_end, int* argc,
              char*** argv) {
  const std::size_t entries = starts.size() + (null_end ? 1 : 0);
  auto** array = static_cast<char**>(std::malloc(entries * sizeof(char*)));
  if (!array) {
    std::free(buffer);
    return -1;
  }
  for (std::size_t i = 0; i < starts.size(); ++i) array[i] = starts[i];
  if (null_end) array[starts.size()] = nullptr;
  *argc = static_cast<int>(starts.size());
  *argv = array;
  return 0;
}

}  // namespace

int fill_string(char* string, char tar, char fill) {
  if (!string) return 0;
  for (char* p = string; *p; ++p)
    if (*p == tar) *p = fill;
  return 0;
}

int strip_string(char* string, char tar) {
  if (!string) return 0;
  remove_if_char(string, [tar](char c) { return c == tar; });
  return 0;
}

int wsstrip_string(char* string) {
  if (!string) return 1;
  remove_line_ends(string);
  return 1;
}

int wstrim_string(char* string) {
  if (!string) return 1;
  remove_line_ends(string);
  trim_string(string);
  return 1;
}

int trim_string(char* string) {
  if (!string) return 0;
  std::size_t len = std::strlen(string);
  while (len > 0 && string[len - 1] == ' ') --len;
  string[len] = '\0';
  return 0;
}

int trim_cr_string(char* string) {
  if (!string) return 0;
  std::size_t len = std::strlen(string);
  while (len > 0 && string[len - 1] == '\r') --len;
  string[len] = '\0';
  return 0;
}

int strip_spaces(char* string) {
  if (!string) return 0;
  trim_string(string);
  char* out = string;
  for (const char* in = string; *in; ++in)
    if (!(*in == ' ' && out > string && out[-1] == ' ')) *out++ = *in;
  *out = '\0';
  return 0;
}

int strip_escape(char* string) {
  if (!string) return 0;
  char* out = string;
  for (const char* in = string; *in; ++in) {
    if (*in == '\\') {
      ++in;
      if (!*in) break;  // a trailing backslash escapes nothing
    }
    *out++ = *in;
  }
  *out = '\0';
  return 0;
}

// Shifting by more than the text holds leaves it empty instead of moving
// bytes from outside the text.
int shift_string(char* string, int num) {
  if (!string) return 0;
  const std::size_t len = std::strlen(string);
  if (num < 0) {
    const std::size_t drop = static_cast<std::size_t>(-static_cast<long>(num));
    if (drop >= len) {
      string[0] = '\0';
    } else {
      std::memmove(string, string + drop, len - drop + 1);
    }
  } else {
    const std::size_t drop = static_cast<std::size_t>(num);
    string[drop >= len ? 0 : len - drop] = '\0';
  }
  return 0;
}

int up_string(char* string) {
  if (!string || !*string) return 0;
  for (char* p = string; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return 1;
}

int low_string(char* string) {
  if (!string || !*string) return 0;
  for (char* p = string; *p; ++p) *p = static_cast<char>(lower(*p));
  return 1;
}

int string_is_float(const char* string) {
  if (!string) return 0;
  return (std::strchr(string, '.') || std::strchr(string, 'E')) ? 1 : 0;
}

int string_is_alpha(const char* string) {
  if (!string || !*string) return 0;
  for (const char* p = string; *p; ++p)
    if (!std::isalpha(static_cast<unsigned char>(*p))) return 0;
  return 1;
}

int string_is_num(const char* string) {
  if (!string || !*string) return 0;
  const char* p = string;
  if (*p == '-') ++p;
  for (; *p; ++p)
    if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
  return 1;
}

int string_is_num_len(const char* string, int len) {
  if (!string || len <= 0) return 0;
  for (int i = 0; i < len; ++i)  // stops at the terminator, which is no digit
    if (!std::isdigit(static_cast<unsigned char>(string[i]))) return 0;
  return 1;
}

int string_is_blank(const char* string) {
  if (!string) return 1;
  for (const char* p = string; *p; ++p)
    if (static_cast<unsigned char>(*p) >= '!') return 0;
  return 1;
}

char* create_string(const char* string) {
  if (!string) return nullptr;
  const std::size_t size = std::strlen(string) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy) std::memcpy(copy, string, size);
  return copy;
}

// A null oldstr starts a new list, so no delimiter leads it.
char* create_strcat(const char* oldstr, const char* delim, const char* string) {
  if (!string) return nullptr;
  if (!oldstr) return create_string(string);
  if (!delim) delim = "";
  const std::size_t a = std::strlen(oldstr), b = std::strlen(delim), c = std::strlen(string);
  auto* joined = static_cast<char*>(std::malloc(a + b + c + 1));
  if (!joined) return nullptr;
  std::memcpy(joined, oldstr, a);
  std::memcpy(joined + a, delim, b);
  std::memcpy(joined + a + b, string, c + 1);
  return joined;
}

int clean_line(char* line) {
  if (!line || !*line) return 0;
  auto is_control = [](unsigned char c) { return c < 0x20 || c == 0x7f; };
  std::size_t len = std::strlen(line);
  while (len > 0 && is_control(static_cast<unsigned char>(line[len - 1]))) --len;
  line[len] = '\0';
  for (std::size_t i = 0; i < len; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (is_control(c) || c >= 0x80) line[i] = ' ';
  }
  return 1;
}

void free_parsed_array(int argc, char** argv) {
  if (!argv) return;
  if (argc > 0) std::free(argv[0]);
  std::free(argv);
}

int searchstr(char** s1, int n, const char* s2) {
  if (!s1 || !s2) return 0;
  for (int i = 0; i < n; ++i)
    if (s1[i] && stricmp(s1[i], s2) == 0) return 1;
  return 0;
}

char* strlstr(const char* s1, const char* s2) {
  if (!s1 || !s2) return nullptr;
  const char* last = nullptr;
  for (const char* hit = std::strstr(s1, s2); hit; hit = *hit ? std::strstr(hit + 1, s2) : nullptr)
    last = hit;
  return const_cast<char*>(last);
}

int stricmp(const char* s1, const char* s2) {
  if (!s1 || !s2) return 1;
  for (;; ++s1, ++s2) {
    const int a = lower(*s1), b = lower(*s2);
    if (a != b || a == 0) return a - b;
  }
}

int strnicmp(const char* s1, const char* s2, int n) {
  if (!s1 || !s2) return 1;
  if (n < 1) n = 1;
  for (int i = 0; i < n; ++i) {
    const int a = lower(s1[i]), b = lower(s2[i]);
    if (a != b || a == 0) return a - b;
  }
  return 0;
}

// A shorter str2 is padded with terminators rather than read past its end.
char* strntcpy(char* str1, const char* str2, int n) {
  if (!str1) return str1;
  if (n < 0) n = 0;
  if (!str2) str2 = "";
  std::strncpy(str1, str2, static_cast<std::size_t>(n));
  str1[n] = '\0';
  return str1;
}

int strmcat(char* s1, const char* s2, int m) {
  if (!s1 || !s2 || m < 0) return 0;
  const std::size_t held = std::strlen(s1);
  if (held >= static_cast<std::size_t>(m)) return 0;
  std::strncat(s1, s2, static_cast<std::size_t>(m) - held);
  return 1;
}

int parse_string(const char* string, char delim, int* argc, char*** argv) {
  if (argc) *argc = 0;
  if (argv) *argv = nullptr;
  if (!string || !*string || !argc || !argv) return -1;
  char* buffer = create_string(string);
  if (!buffer) return -1;
  std::size_t len = std::strlen(buffer);
  while (len > 0 && buffer[len - 1] == delim) --len;
  buffer[len] = '\0';
  std::vector<char*> starts{buffer};
  for (char* p = buffer; *p; ++p) {
    if (*p == delim) {
      *p = '\0';
      starts.push_back(p + 1);
    }
  }
  return hand_over(buffer, starts, false, argc, argv);
}

// Items are found and terminated in one pass, so the count always matches the
// array. A later item in double quotes runs to the next quote (or the end when none closes it);
// text glued to a closing quote belongs to no item.
int parse_command(const char* string, int* argc, char*** argv) {
  if (argc) *argc = 0;
  if (argv) *argv = nullptr;
  if (!string || !argc || !argv) return -1;
  while (is_blank(*string)) ++string;
  if (!*string) return -1;
  char* buffer = create_string(string);
  if (!buffer) return -1;
  std::size_t len = std::strlen(buffer);
  while (len > 0 && is_blank(buffer[len - 1])) --len;
  buffer[len] = '\0';

  // The first word is taken as it stands, so the array starts at the buffer
  // that free_parsed_array releases.
  std::vector<char*> starts{buffer};
  char* p = buffer;
  while (*p && !is_blank(*p)) ++p;
  if (*p) *p++ = '\0';
  while (is_blank(*p)) ++p;
  while (*p) {
    if (*p == '"') {
      starts.push_back(p + 1);
      char* close = std::strchr(p + 1, '"');
      if (!close) break;
      *close = '\0';
      p = close + 1;
      while (*p && !is_blank(*p)) ++p;
    } else {
      starts.push_back(p);
      while (*p && !is_blank(*p)) ++p;
    }
    if (*p) *p++ = '\0';
    while (is_blank(*p)) ++p;
  }
  return hand_over(buffer, starts, true, argc, argv);
}

int parse_command_line(const char* command, const char* string, int* argc, char*** argv) {
  if (argc) *argc = 0;
  if (argv) *argv = nullptr;
  if (!command) command = "";
  if (!string) string = "";
  const std::size_t size = std::strlen(command) + std::strlen(string) + 2;
  std::vector<char> line(size);
  str_format(line.data(), size, "%s %s", command, string);
  return parse_command(line.data(), argc, argv);
}

char* set_num(char* str, const char* format, double x) {
  if (!str) return str;
  if (std::fabs(x) < 1e-5) x = 0.0;
  int size = 2;
  if (x != 0.0 && std::isfinite(x)) size = static_cast<int>(std::floor(std::log10(std::fabs(x))));
  // Missing numbers: a free width, three significant digits, no minimum decimals.
  int width = 0, digits = 3, min_decimals = 0;
  if (format) std::sscanf(format, "%d.%d.%d", &width, &digits, &min_decimals);
  if (digits < 0) digits = 0;
  if (digits > 20) digits = 20;
  if (min_decimals < 0) min_decimals = 0;
  if (min_decimals > 20) min_decimals = 20;
  if (width <= 0) width = digits + 1;
  if (width > 9) width = 9;
  int decimals = digits - size - 1;
  if (decimals < min_decimals) decimals = min_decimals;
  if (decimals > 20) decimals = 20;
  if (width < decimals) width = decimals;
  // Fixed point would overrun the caller's SET_NUM_SIZE buffer for huge values.
  if (str_format(str, SET_NUM_SIZE, "%*.*f", width, decimals, x) != 0)
    str_format(str, SET_NUM_SIZE, "%*.*e", width, digits > 1 ? digits - 1 : 0, x);
  return str;
}

// An answer read with its line end ("2\n", "dewp\n") or trailing blanks is still that
// choice.
int chk_arg(const char* arg, char** items, int num_items) {
  if (!arg) return -9999;
  std::string answer(arg);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
  if (items)
    for (int i = 0; i < num_items; ++i)
      if (items[i] && stricmp(items[i], answer.c_str()) == 0) return i;
  if (answer.empty()) return -9999;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(answer.c_str(), &end, 10);
  if (errno != 0 || end == answer.c_str() || *end != '\0') return -9999;
  if (value >= 1 && value <= num_items) return static_cast<int>(value);
  return -9999;
}

int str_copy(char* dst, std::size_t dst_size, const char* src) {
  if (!dst || dst_size == 0) return -1;
  if (!src) src = "";
  const std::size_t len = std::strlen(src);
  if (len < dst_size) {
    std::memcpy(dst, src, len + 1);
    return 0;
  }
  std::memcpy(dst, src, dst_size - 1);
  dst[dst_size - 1] = '\0';
  return -1;
}

int str_format(char* dst, std::size_t dst_size, const char* fmt, ...) {
  if (!dst || dst_size == 0) return -1;
  if (!fmt) {
    dst[0] = '\0';
    return 0;
  }
  va_list args;
  va_start(args, fmt);
  const int needed = std::vsnprintf(dst, dst_size, fmt, args);
  va_end(args);
  if (needed < 0) {
    dst[0] = '\0';
    return -1;
  }
  return static_cast<std::size_t>(needed) < dst_size ? 0 : -1;
}

int printf_number_kind(const char* fmt)
{
    if (!fmt) return 0;
    int conversions = 0, kind = 0;
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        ++p;
        while (*p && std::strchr("-+ #0", *p)) ++p;
        while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
        if (*p == '.') {
            ++p;
            while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
        }
        if (*p && std::strchr("fFeEgG", *p))
            kind = 1;
        else if (*p == 'd' || *p == 'i')
            kind = 2;
        else
            return 0;
        ++conversions;
    }
    return conversions == 1 ? kind : 0;
}
