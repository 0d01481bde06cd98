// Line input, byte order and numeric helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools.hpp"

namespace {

// A temporary stream holding exactly the given bytes, positioned at the start.
struct TempStream {
  std::FILE* file;
  explicit TempStream(const std::string& bytes) : file(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
  }
  ~TempStream() { std::fclose(file); }
  TempStream(const TempStream&) = delete;
  TempStream& operator=(const TempStream&) = delete;
};

bool little_endian_machine() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Every (result, text) pair a reader gives until end of file, and the final -1.
template <typename Reader>
std::vector<std::pair<int, std::string>> read_all(const std::string& bytes, Reader read) {
  TempStream in(bytes);
  std::vector<std::pair<int, std::string>> got;
  char line[161];
  for (int result = 0; result >= 0 && got.size() < 20;) {
    result = read(in.file, line);
    got.emplace_back(result, result >= 0 ? line : "");
  }
  return got;
}

using Lines = std::vector<std::pair<int, std::string>>;

}  // namespace

TEST(LineInput, LinesPiecesAndEndings) {
  const std::string x160(160, 'x'), x161(161, 'x');
  const struct {
    const char* what;
    std::string bytes;
    int limit;
    Lines lines;
  } cases[] = {
      {"empty line inside", "abc\n\nde", 160, {{3, "abc"}, {0, ""}, {2, "de"}, {-1, ""}}},
      {"final newline", "one\ntwo\n", 160, {{3, "one"}, {3, "two"}, {-1, ""}}},
      {"leading empty line", "\nabc", 160, {{0, ""}, {3, "abc"}, {-1, ""}}},
      {"leading empty lines", "\n\nabc\n", 160, {{0, ""}, {0, ""}, {3, "abc"}, {-1, ""}}},
      {"trailing empty lines", "abc\n\n\n", 160, {{3, "abc"}, {0, ""}, {0, ""}, {-1, ""}}},
      {"consecutive empty lines", "a\n\n\nb\n", 160, {{1, "a"}, {0, ""}, {0, ""}, {1, "b"}, {-1, ""}}},
      {"only a newline", "\n", 160, {{0, ""}, {-1, ""}}},
      {"nothing", "", 160, {{-1, ""}}},
      {"CR LF", "abc\r\n\r\nd\r\n", 160, {{4, "abc\r"}, {1, "\r"}, {2, "d\r"}, {-1, ""}}},
      {"CR LF then empty", "abc\r\n\n", 160, {{4, "abc\r"}, {0, ""}, {-1, ""}}},
      // Long lines come back in pieces; a line exactly at the limit leaves no empty piece,
      // and an empty line after it still counts.
      {"pieces", "abcdefg\nxy\n", 4, {{4, "abcd"}, {3, "efg"}, {2, "xy"}, {-1, ""}}},
      {"exact limit", "abcd\nef", 4, {{4, "abcd"}, {2, "ef"}, {-1, ""}}},
      {"exact limit, empty after", "abcd\n\nef\n", 4, {{4, "abcd"}, {0, ""}, {2, "ef"}, {-1, ""}}},
      {"exact limit, no newline", "abcd", 4, {{4, "abcd"}, {-1, ""}}},
      {"160 and newline", x160 + "\n\nend\n", 160, {{160, x160}, {0, ""}, {3, "end"}, {-1, ""}}},
      {"160 without newline", x160, 160, {{160, x160}, {-1, ""}}},
      {"161 and newline", x161 + "\n\n", 160, {{160, x160}, {1, "x"}, {0, ""}, {-1, ""}}},
      {"161 without newline", x161, 160, {{160, x160}, {1, "x"}, {-1, ""}}},
      {"400", std::string(400, 'x') + "\nend\n", 160,
       {{160, x160}, {160, x160}, {80, std::string(80, 'x')}, {3, "end"}, {-1, ""}}},
  };
  for (const auto& c : cases) {
    const int limit = c.limit;
    auto reader = [limit](std::FILE* f, char* s) { return limit == 160 ? fgetline(f, s) : fgetnline(f, s, limit); };
    EXPECT_EQ(read_all(c.bytes, reader), c.lines) << c.what;
  }
}

// A skipped line ends at its newline: the empty line after it is a line of its own, also
// when the stream is read again from the start or a second stream is read in between.
TEST(LineInput, SkipKeepsTheFollowingEmptyLine) {
  TempStream in("abc\n\nxyz\n");
  TempStream other("\nq\n");
  char line[161];
  EXPECT_EQ(fskipline(in.file), 0);
  EXPECT_EQ(fgetline(in.file, line), 0);
  EXPECT_EQ(fgetline(other.file, line), 0);
  EXPECT_EQ(fgetline(in.file, line), 3);
  EXPECT_STREQ(line, "xyz");
  EXPECT_EQ(fgetline(other.file, line), 1);
  std::rewind(in.file);
  EXPECT_EQ(fgetline(in.file, line), 3);
  EXPECT_EQ(fskipline(in.file), 0) << "the newline of abc";
  EXPECT_EQ(fgetline(in.file, line), 0) << "the empty line";
  std::rewind(in.file);
  EXPECT_EQ(fgetline(in.file, line), 3) << "a newline pending elsewhere is not skipped here";
  EXPECT_STREQ(line, "abc");

  // A stream closed with a newline pending, and a new one (likely at the same address)
  // that starts with an empty line.
  for (int round = 0; round < 3; ++round) {
    std::FILE* first = std::tmpfile();
    std::fputs("\n", first);
    std::rewind(first);
    EXPECT_EQ(fgetline(first, line), 0);
    std::fclose(first);
    TempStream second("\nabc\n");
    EXPECT_EQ(fgetline(second.file, line), 0) << "the new stream's first line is empty";
    EXPECT_EQ(fgetline(second.file, line), 3);
  }
}

TEST(LineInput, StringSkipAndRawCleaning) {
  TempStream in("first\n\nthird line\nfourth\n");
  char line[161];
  EXPECT_EQ(fgetstring(in.file, line, 160), 1);
  EXPECT_EQ(fgetstring(in.file, line, 160), 0);
  EXPECT_EQ(fgetstring(in.file, line, 3), 1);
  EXPECT_STREQ(line, "thi");
  EXPECT_EQ(fskipline(in.file), 0);  // rest of "third line"
  EXPECT_EQ(fgetstring(in.file, line, 160), 1);
  EXPECT_STREQ(line, "fourth");
  EXPECT_EQ(fskipline(in.file), 0);  // its newline
  EXPECT_EQ(fskipline(in.file), -1);

  // A carriage return ends the text; controls, blanks and high bytes become blanks.
  auto raw = [](std::FILE* f, char* s) { return fget_rawstring(f, s, 160); };
  EXPECT_EQ(read_all("AB\tC\r\nx\x01y\xc3z  \r\n\r\nlast", raw),
            (Lines{{1, "AB C"}, {1, "x y z  "}, {1, ""}, {1, "last"}, {-1, ""}}));
  // NUL padding is a control character like any other: the text after it stays.
  EXPECT_EQ(read_all(std::string("AB\0CD\0\0\r\n\0\n", 10), raw),
            (Lines{{1, "AB CD  "}, {1, " "}, {-1, ""}}));
}

TEST(LineInput, BadArgumentsFailWithoutTouchingMemory) {
  TempStream in("abc\n");
  char line[8] = "keep";
  EXPECT_EQ(fgetnline(in.file, line, 0), -1);
  EXPECT_EQ(fgetnline(nullptr, line, 4), -1);
  EXPECT_EQ(fgetnline(in.file, nullptr, 4), -1);
  EXPECT_EQ(fskipline(nullptr), -1);
  EXPECT_EQ(fgetnline(in.file, line, 7), 3) << "the stream is still usable";
}

TEST(ByteOrder, ReadsFilesWrittenInBothOrders) {
  const std::string big_endian("\x00\x00\x01\x02\x01\x02", 6);
  const std::string little_endian("\x02\x01\x00\x00\x02\x01", 6);
  for (const int flag : {1, 2}) {
    swap_setup(flag);
    TempStream in(flag == 1 ? big_endian : little_endian);
    std::int32_t value = 0;
    std::int16_t shortval = 0;
    EXPECT_EQ(fread_long_swap(&value, in.file), 1);
    EXPECT_EQ(value, 258) << "flag " << flag;
    EXPECT_EQ(fread_short_swap(&shortval, in.file), 1);
    EXPECT_EQ(shortval, 258) << "flag " << flag;
    EXPECT_EQ(fread_long_swap(&value, in.file), 0);
    EXPECT_EQ(value, 258) << "a failed read leaves the value alone";
  }
  // A file cut inside a value: nothing of it reaches the caller's variable.
  for (const int flag : {-1, 1, 2}) {
    swap_setup(flag);
    TempStream cut(std::string("\x01\x02\x03", 3));
    std::int32_t value = 77;
    double real = 1.5;
    EXPECT_EQ(fread_long_swap(&value, cut.file), 0);
    EXPECT_EQ(value, 77) << "flag " << flag;
    std::rewind(cut.file);
    EXPECT_EQ(fread_double_swap(&real, cut.file), 0);
    EXPECT_EQ(real, 1.5) << "flag " << flag;
  }
  swap_setup(0);
}

TEST(ByteOrder, WriteLeavesCallerValueSwappedAndReadsBack) {
  swap_setup(little_endian_machine() ? 1 : 2);  // foreign order: swapping on
  std::FILE* out = std::tmpfile();
  std::int32_t value = 258;
  std::int16_t shortval = 258;
  double real = 1234.5678;
  EXPECT_EQ(fwrite_long_swap(&value, out), 1);
  EXPECT_EQ(fwrite_short_swap(&shortval, out), 1);
  EXPECT_EQ(swap_double(&real), 0);
  std::fwrite(&real, 8, 1, out);
  EXPECT_EQ(value, 0x02010000);
  EXPECT_EQ(shortval, 0x0201);
  std::rewind(out);
  value = shortval = 0;
  real = 0;
  EXPECT_EQ(fread_long_swap(&value, out), 1);
  EXPECT_EQ(fread_short_swap(&shortval, out), 1);
  EXPECT_EQ(fread_double_swap(&real, out), 1);
  EXPECT_EQ(value, 258);
  EXPECT_EQ(shortval, 258);
  EXPECT_DOUBLE_EQ(real, 1234.5678);
  std::fclose(out);

  swap_setup(little_endian_machine() ? 2 : 1);  // native order: nothing moves
  value = 258;
  EXPECT_EQ(swap_long(&value), -1);
  EXPECT_EQ(value, 258);
  swap_setup(0);
}

TEST(ByteOrder, SwitchAndArrays) {
  swap_setup(-1);
  std::uint16_t s = 0x0102;
  EXPECT_EQ(swap_short(&s), -1);
  EXPECT_EQ(s, 0x0102);
  swap_setup(7);  // unknown flag: swap everything
  std::uint32_t longs[3] = {0x01020304, 0x0a0b0c0d, 0};
  std::uint16_t shorts[2] = {0x0102, 0xa0b0};
  EXPECT_EQ(swap_longs(longs, 3), 0);
  EXPECT_EQ(swap_shorts(shorts, 2), 0);
  EXPECT_EQ(longs[0], 0x04030201u);
  EXPECT_EQ(longs[1], 0x0d0c0b0au);
  EXPECT_EQ(longs[2], 0u);
  EXPECT_EQ(shorts[0], 0x0201);
  EXPECT_EQ(shorts[1], 0xb0a0);
  swap_setup(0);
}

TEST(Numeric, LinearInterpolation) {
  struct Case {
    float x, a, b, y1, y2, expected;
  };
  const Case cases[] = {
      {5, 0, 10, 0, 100, 50},         {0, 0, 10, 3, 7, 3},     {10, 0, 10, 3, 7, 7},
      {15, 0, 10, 0, 100, 150},       {-1, 0, 1, 2, 4, 0},
      {850, 1000, 700, 20, 5, 12.5f},
      {3, 3, 3, 8, 9, 8},  // zero-width interval: the start value, not infinity
  };
  for (const auto& c : cases)
    EXPECT_NEAR(linear_interp(c.x, c.a, c.b, c.y1, c.y2), c.expected, 1e-4f)
        << c.x << " in " << c.a << ".." << c.b;
}

TEST(Numeric, FloatCodes) {
  struct Case {
    float x;
    int code;
  };
  const Case cases[] = {
      {0.0f, 0},      {1.0f, 10},      {5.5f, 55},       {9.99f, 99},      {10.0f, 110},
      {99.9f, 199},   {123.4f, 212},   {-123.4f, -212},  {1000.0f, 310},   {45678.0f, 445},
      {0.55f, 955},   {0.1f, 910},     {0.012f, 812},    {-0.55f, -955},   {0x1p-15f, 530},
      {0x1p-28f, 137}, {1e-10f, 0},    {-9999.0f, -399}, {INFINITY, 0},    {NAN, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(float2int(c.x), c.code) << c.x;
}
