// Line input, byte order and small numeric helpers.
#include "tools.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "mess.hpp"

namespace {

// 1: every swap reverses its value's bytes; 0: swaps do nothing. Data files are written
// in a fixed order, so the default is to assume the foreign order until told otherwise.
int swap = 1;
// First byte of the stored integer 1: 1 on a little-endian machine, 0 on a big-endian one.
int swaptest = 1;

constexpr int line_limit = 160;

// Reads characters other than newline, at most len, into string and terminates it.
// The newline that stops the read stays in the stream. Returns the count read, or -1
// when the stream was already at its end.
int read_piece(std::FILE* ifile, char* string, int len) {
  int count = 0;
  while (count < len) {
    const int c = std::getc(ifile);
    if (c == EOF) {
      string[count] = '\0';
      return count == 0 ? -1 : count;
    }
    if (c == '\n') {
      std::ungetc(c, ifile);
      break;
    }
    string[count++] = static_cast<char>(c);
  }
  string[count] = '\0';
  return count;
}

void reverse_bytes(unsigned char* bytes, int size) {
  for (int i = 0, j = size - 1; i < j; ++i, --j) {
    const unsigned char t = bytes[i];
    bytes[i] = bytes[j];
    bytes[j] = t;
  }
}

int swap_values(void* ptr, int size, int num) {
  if (!swap) return -1;
  if (!ptr || num <= 0) return 0;
  auto* bytes = static_cast<unsigned char*>(ptr);
  for (int i = 0; i < num; ++i) reverse_bytes(bytes + static_cast<long>(i) * size, size);
  return 0;
}

int fread_swap(void* buf, int size, std::FILE* ifile) {
  if (!buf || !ifile) return 0;
  const int count = static_cast<int>(std::fread(buf, static_cast<std::size_t>(size), 1, ifile));
  if (count == 1) swap_values(buf, size, 1);
  return count;
}

int fwrite_swap(void* buf, int size, std::FILE* ofile) {
  if (!buf || !ofile) return 0;
  swap_values(buf, size, 1);
  return static_cast<int>(std::fwrite(buf, static_cast<std::size_t>(size), 1, ofile));
}

}  // namespace

int fgetnline(std::FILE* ifile, char* string, int len) {
  if (!ifile || !string || len < 1) {
    MESS_print(M_error, "fgetnline: invalid stream, buffer or length %d\n", len);
    if (string && len >= 0) string[0] = '\0';
    return -1;
  }
  int count = read_piece(ifile, string, len);
  if (count != 0) return count;
  // Nothing read: the stream stands on the newline left by the previous call.
  std::getc(ifile);
  count = read_piece(ifile, string, len);
  if (count != 0) return count;
  string[0] = '\0';
  return 0;
}

int fgetline(std::FILE* ifile, char* string) { return fgetnline(ifile, string, line_limit); }

int fskipline(std::FILE* ifile) {
  if (!ifile) return -1;
  int c = std::getc(ifile);
  if (c == EOF) return -1;
  while (c != '\n' && c != EOF) c = std::getc(ifile);
  return 0;
}

int fgetstring(std::FILE* ifile, char* string, int len) {
  const int count = fgetnline(ifile, string, len);
  if (count < 0) return -1;
  return count > 0 ? 1 : 0;
}

int fget_rawstring(std::FILE* ifile, char* string, int len) {
  const int result = fgetstring(ifile, string, len);
  if (result <= 0) return result;
  for (auto i = static_cast<long>(std::strlen(string)) - 1; i >= 0; --i) {
    const auto c = static_cast<unsigned char>(string[i]);
    if (c == '\r')
      string[i] = '\0';
    else if (c < '!' || c > 0x7f)
      string[i] = ' ';
  }
  return result;
}

int swap_setup(int flag) {
  const std::int32_t one = 1;
  unsigned char first = 0;
  std::memcpy(&first, &one, 1);
  swaptest = first;
  swap = 1;
  if (flag == -1) swap = 0;
  if (flag == 1 && swaptest == 0) swap = 0;
  if (flag == 2 && swaptest == 1) swap = 0;
  return 0;
}

int swap_short(void* ptr) { return swap_values(ptr, 2, 1); }
int swap_long(void* ptr) { return swap_values(ptr, 4, 1); }
int swap_double(void* ptr) { return swap_values(ptr, 8, 1); }
int swap_shorts(void* ptr, int num) { return swap_values(ptr, 2, num); }
int swap_longs(void* ptr, int num) { return swap_values(ptr, 4, num); }

int fread_short_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 2, ifile); }
int fread_long_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 4, ifile); }
int fread_double_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 8, ifile); }
int fwrite_short_swap(void* buf, std::FILE* ofile) { return fwrite_swap(buf, 2, ofile); }
int fwrite_long_swap(void* buf, std::FILE* ofile) { return fwrite_swap(buf, 4, ofile); }

int fswap(float* x, float* y) {
  if (x && y) {
    const float t = *x;
    *x = *y;
    *y = t;
  }
  return 0;
}

float linear_interp(float x, float a, float b, float y1, float y2) {
  // Equal abscissas would give an infinite or undefined value; the only sensible answer
  // for a zero-width interval is its start value.
  if (a == b) return y1;
  return (x - a) * (y2 - y1) / (b - a) + y1;
}

int float2int(float x) {
  if (x == 0.0f) return 0;
  if (!std::isfinite(x)) {
    MESS_print(M_warn, "float2int: value is not finite\n");
    return 0;
  }
  double a = std::fabs(static_cast<double>(x));
  // Below 1e-9 the exponent code would reach 0 and collide with values from 1 to 10.
  if (a < 1e-9) return 0;
  const int e = static_cast<int>(std::floor(std::log10(a)));
  int exponent_code = e;
  if (e > 0) {
    for (int i = 0; i < e - 1; ++i) a /= 10.0;
  } else if (e == 0) {
    a *= 10.0;
  } else {
    for (int i = 0; i < 1 - e; ++i) a *= 10.0;
    exponent_code = e + 10;
  }
  const int digits = static_cast<int>(a) % 100;
  const int code = 100 * exponent_code + digits;
  return x < 0.0f ? -code : code;
}

// WMO number <-> location identifier
