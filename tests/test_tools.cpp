// Line input, byte order and numeric helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

}  // namespace

TEST(LineInput, LinesEmptyLineAndMissingFinalNewline) {
  TempStream in("abc\n\nde");
  char line[161];
  EXPECT_EQ(fgetline(in.file, line), 3);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(fgetline(in.file, line), 0);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(fgetline(in.file, line), 2);
  EXPECT_STREQ(line, "de");
  EXPECT_EQ(fgetline(in.file, line), -1);
  EXPECT_EQ(fgetline(in.file, line), -1);
}

TEST(LineInput, FinalNewlineGivesEndOfFileNotAnEmptyLine) {
  TempStream in("one\ntwo\n");
  char line[161];
  EXPECT_EQ(fgetline(in.file, line), 3);
  EXPECT_EQ(fgetline(in.file, line), 3);
  EXPECT_STREQ(line, "two");
  EXPECT_EQ(fgetline(in.file, line), -1);
}

TEST(LineInput, LongLinesComeBackInPiecesWithoutOverrun) {
  TempStream in("abcdefg\nxy\n");
  char piece[5];
  std::memset(piece, '#', sizeof piece);
  EXPECT_EQ(fgetnline(in.file, piece, 4), 4);
  EXPECT_STREQ(piece, "abcd");
  EXPECT_EQ(fgetnline(in.file, piece, 4), 3);
  EXPECT_STREQ(piece, "efg");
  EXPECT_EQ(fgetnline(in.file, piece, 4), 2);
  EXPECT_STREQ(piece, "xy");
  EXPECT_EQ(fgetnline(in.file, piece, 4), -1);

  // A line exactly at the limit must not make its newline look like an empty line.
  TempStream exact("abcd\nef\n");
  EXPECT_EQ(fgetnline(exact.file, piece, 4), 4);
  EXPECT_EQ(fgetnline(exact.file, piece, 4), 2);
  EXPECT_STREQ(piece, "ef");

  std::string big(400, 'x');
  TempStream longline(big + "\nend\n");
  char line[161];
  EXPECT_EQ(fgetline(longline.file, line), 160);
  EXPECT_EQ(std::strlen(line), 160u);
  EXPECT_EQ(fgetline(longline.file, line), 160);
  EXPECT_EQ(fgetline(longline.file, line), 80);
  EXPECT_EQ(fgetline(longline.file, line), 3);
  EXPECT_STREQ(line, "end");
}

TEST(LineInput, BadArgumentsFailWithoutTouchingMemory) {
  TempStream in("abc\n");
  char line[8] = "keep";
  EXPECT_EQ(fgetnline(in.file, line, 0), -1);
  EXPECT_EQ(fgetnline(nullptr, line, 4), -1);
  EXPECT_EQ(fgetnline(in.file, nullptr, 4), -1);
  EXPECT_EQ(fgetline(nullptr, line), -1);
  EXPECT_EQ(fskipline(nullptr), -1);
}

TEST(LineInput, StringAndSkipResults) {
  TempStream in("first\n\nthird line\nfourth\n");
  char line[161];
  EXPECT_EQ(fgetstring(in.file, line, 160), 1);
  EXPECT_STREQ(line, "first");
  EXPECT_EQ(fgetstring(in.file, line, 160), 0);
  EXPECT_EQ(fgetstring(in.file, line, 3), 1);
  EXPECT_STREQ(line, "thi");
  EXPECT_EQ(fskipline(in.file), 0);  // rest of "third line"
  EXPECT_EQ(fgetstring(in.file, line, 160), 1);
  EXPECT_STREQ(line, "fourth");
  EXPECT_EQ(fskipline(in.file), 0);  // its newline
  EXPECT_EQ(fskipline(in.file), -1);
  EXPECT_EQ(fgetstring(in.file, line, 160), -1);
}

TEST(LineInput, CarriageReturnEndings) {
  // The plain readers keep the carriage return; the raw reader ends the text there.
  TempStream plain("abc\r\nde\r\n");
  char line[161];
  EXPECT_EQ(fgetline(plain.file, line), 4);
  EXPECT_STREQ(line, "abc\r");

  TempStream raw("AB\tC\r\nx\x01y\xc3z  \r\n\r\nlast");
  EXPECT_EQ(fget_rawstring(raw.file, line, 160), 1);
  EXPECT_STREQ(line, "AB C");
  EXPECT_EQ(fget_rawstring(raw.file, line, 160), 1);
  EXPECT_STREQ(line, "x y z  ");
  // A line holding only a carriage return reads as non-empty and cleans to nothing.
  EXPECT_EQ(fget_rawstring(raw.file, line, 160), 1);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(fget_rawstring(raw.file, line, 160), 1);
  EXPECT_STREQ(line, "last");
  EXPECT_EQ(fget_rawstring(raw.file, line, 160), -1);
}

TEST(ByteOrder, ReadsFilesWrittenInBothOrders) {
  const std::string big_endian("\x00\x00\x01\x02\x01\x02", 6);
  const std::string little_endian("\x02\x01\x00\x00\x02\x01", 6);
  const bool little = little_endian_machine();

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

  // The bytes 00 00 01 02 read raw on this machine, after swap_setup of the machine order.
  swap_setup(little ? 2 : 1);
  TempStream same(big_endian);
  std::int32_t raw = 0;
  EXPECT_EQ(fread_long_swap(&raw, same.file), 1);
  std::int32_t expected;
  std::memcpy(&expected, big_endian.data(), 4);
  EXPECT_EQ(raw, expected);
  swap_setup(0);
}

TEST(ByteOrder, DoublesRoundTrip) {
  swap_setup(0);  // always swap
  double value = 1234.5678;
  unsigned char bytes[8];
  std::memcpy(bytes, &value, 8);
  EXPECT_EQ(swap_double(&value), 0);
  unsigned char swapped[8];
  std::memcpy(swapped, &value, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(swapped[i], bytes[7 - i]);

  TempStream in(std::string(reinterpret_cast<char*>(swapped), 8));
  double back = 0;
  EXPECT_EQ(fread_double_swap(&back, in.file), 1);
  EXPECT_DOUBLE_EQ(back, 1234.5678);
}

TEST(ByteOrder, SwapSwitchAndArrays) {
  swap_setup(-1);
  std::uint16_t s = 0x0102;
  std::uint32_t l = 0x01020304;
  EXPECT_EQ(swap_short(&s), -1);
  EXPECT_EQ(swap_long(&l), -1);
  EXPECT_EQ(s, 0x0102);
  EXPECT_EQ(l, 0x01020304u);

  swap_setup(7);  // unknown flag: swap everything
  EXPECT_EQ(swap_short(&s), 0);
  EXPECT_EQ(s, 0x0201);
  std::uint32_t longs[3] = {0x01020304, 0x0a0b0c0d, 0};
  std::uint16_t shorts[2] = {0x0102, 0xa0b0};
  EXPECT_EQ(swap_longs(longs, 3), 0);
  EXPECT_EQ(longs[0], 0x04030201u);
  EXPECT_EQ(longs[1], 0x0d0c0b0au);
  EXPECT_EQ(longs[2], 0u);
  EXPECT_EQ(swap_shorts(shorts, 2), 0);
  EXPECT_EQ(shorts[0], 0x0201);
  EXPECT_EQ(shorts[1], 0xb0a0);
  swap_setup(0);
}

TEST(ByteOrder, WriteLeavesCallerValueSwapped) {
  swap_setup(little_endian_machine() ? 1 : 2);  // foreign order: swapping on
  std::FILE* out = std::tmpfile();
  std::int32_t value = 258;
  std::int16_t shortval = 258;
  EXPECT_EQ(fwrite_long_swap(&value, out), 1);
  EXPECT_EQ(fwrite_short_swap(&shortval, out), 1);
  EXPECT_NE(value, 258);
  std::int32_t back = value;
  swap_long(&back);
  EXPECT_EQ(back, 258);

  std::rewind(out);
  std::int32_t read_value = 0;
  std::int16_t read_short = 0;
  EXPECT_EQ(fread_long_swap(&read_value, out), 1);
  EXPECT_EQ(fread_short_swap(&read_short, out), 1);
  EXPECT_EQ(read_value, 258);
  EXPECT_EQ(read_short, 258);
  std::fclose(out);

  swap_setup(little_endian_machine() ? 2 : 1);  // native order: value untouched
  std::FILE* native = std::tmpfile();
  value = 258;
  EXPECT_EQ(fwrite_long_swap(&value, native), 1);
  EXPECT_EQ(value, 258);
  std::fclose(native);
  swap_setup(0);
}

TEST(Numeric, LinearInterpolation) {
  struct Case {
    float x, a, b, y1, y2, expected;
  };
  const Case cases[] = {
      {5, 0, 10, 0, 100, 50},     {0, 0, 10, 3, 7, 3},        {10, 0, 10, 3, 7, 7},
      {15, 0, 10, 0, 100, 150},   {850, 1000, 700, 20, 5, 12.5f}, {-1, 0, 1, 2, 4, 0},
      {3, 3, 3, 8, 9, 8},  // zero-width interval: the start value, not infinity
  };
  for (const auto& c : cases) {
    const float r = linear_interp(c.x, c.a, c.b, c.y1, c.y2);
    EXPECT_TRUE(std::isfinite(r));
    EXPECT_NEAR(r, c.expected, 1e-4f) << c.x << " in " << c.a << ".." << c.b;
  }
}

TEST(Numeric, FloatCodes) {
  struct Case {
    float x;
    int code;
  };
  const Case cases[] = {
      {0.0f, 0},      {1.0f, 10},      {5.5f, 55},       {9.99f, 99},     {10.0f, 110},
      {99.9f, 199},   {123.4f, 212},   {-123.4f, -212},  {1000.0f, 310},  {45678.0f, 445},
      {0.55f, 955},   {0.1f, 910},     {0.012f, 812},    {-0.55f, -955},  {0x1p-15f, 530},
      {0x1p-28f, 137},   {1e-10f, 0},     {-9999.0f, -399},
  };
  for (const auto& c : cases) EXPECT_EQ(float2int(c.x), c.code) << c.x;
  EXPECT_EQ(float2int(INFINITY), 0);
  EXPECT_EQ(float2int(NAN), 0);
}
