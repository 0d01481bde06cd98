#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "string.hpp"

namespace {

std::vector<std::string> items_of(int argc, char** argv) {
  std::vector<std::string> items;
  for (int i = 0; i < argc; ++i) items.emplace_back(argv[i] ? argv[i] : "<null>");
  return items;
}

using InPlace = int (*)(char*);
struct InPlaceCase {
  const char* name;
  InPlace fn;
  const char* input;
  const char* expected;
  int result;
};

}  // namespace

TEST(TextInPlace, EditsMatchTable) {
  const InPlaceCase cases[] = {
      {"wsstrip", wsstrip_string, "a\r\nb \n", "ab ", 1},
      {"wstrim", wstrim_string, "a b \r\n", "a b", 1},
      {"trim", trim_string, "  x  ", "  x", 0},
      {"trim_cr", trim_cr_string, "x\r\r", "x", 0},
      {"strip_spaces", strip_spaces, "a   b  c   ", "a b c", 0},
      {"strip_escape", strip_escape, "a\\,b\\\\c\\", "a,b\\c", 0},
      {"up", up_string, "aBc1", "ABC1", 1},
      {"up empty", up_string, "", "", 0},
      {"low", low_string, "AbC", "abc", 1},
      {"clean_line", clean_line, "a\tb\x80" "c\r\n\x01", "a b c", 1},
      {"clean_line empty", clean_line, "", "", 0},
  };
  for (const auto& c : cases) {
    std::string buffer = c.input;
    EXPECT_EQ(c.fn(buffer.data()), c.result) << c.name;
    EXPECT_STREQ(buffer.c_str(), c.expected) << c.name;
  }
  EXPECT_EQ(up_string(nullptr), 0);
  EXPECT_EQ(clean_line(nullptr), 0);
}

TEST(TextInPlace, FillStripAndShift) {
  char text[] = "a-b-c";
  fill_string(text, '-', '+');
  EXPECT_STREQ(text, "a+b+c");
  strip_string(text, '+');
  EXPECT_STREQ(text, "abc");

  const struct {
    const char* input;
    int num;
    const char* expected;
  } shifts[] = {{"abcdef", -2, "cdef"}, {"abcdef", 2, "abcd"}, {"abc", -3, ""},
                {"abc", 10, ""},        {"abc", -10, ""},     {"abc", 0, "abc"}};
  for (const auto& s : shifts) {
    std::string buffer = s.input;
    shift_string(buffer.data(), s.num);
    EXPECT_STREQ(buffer.c_str(), s.expected) << s.input << " by " << s.num;
  }
}

TEST(TextTests, Classification) {
  EXPECT_EQ(string_is_float("1.5"), 1);
  EXPECT_EQ(string_is_float("1E5"), 1);
  EXPECT_EQ(string_is_float("1e5"), 0);  // only the upper-case exponent counts
  EXPECT_EQ(string_is_alpha("abcXYZ"), 1);
  EXPECT_EQ(string_is_alpha("ab1"), 0);
  EXPECT_EQ(string_is_num("-123"), 1);
  EXPECT_EQ(string_is_num("-"), 1);
  EXPECT_EQ(string_is_num("1-2"), 0);
  EXPECT_EQ(string_is_num(""), 0);
  EXPECT_EQ(string_is_num_len("12ab", 2), 1);
  EXPECT_EQ(string_is_num_len("12ab", 3), 0);
  EXPECT_EQ(string_is_num_len("12", 5), 0);  // never reads past the terminator
  EXPECT_EQ(string_is_blank(nullptr), 1);
  EXPECT_EQ(string_is_blank(" \t\r\n"), 1);
  EXPECT_EQ(string_is_blank(" !"), 0);
}

TEST(TextCompare, CaseInsensitiveAndSearches) {
  EXPECT_EQ(stricmp("Hello", "hELLO"), 0);
  EXPECT_LT(stricmp("abc", "abd"), 0);
  EXPECT_EQ(stricmp(nullptr, "a"), 1);
  EXPECT_EQ(strnicmp("Abc", "aBd", 2), 0);
  EXPECT_NE(strnicmp("Abc", "aBd", 3), 0);
  EXPECT_NE(strnicmp("x", "y", 0), 0);  // the first character is always compared
  char* names[] = {const_cast<char*>("alpha"), const_cast<char*>("Beta")};
  EXPECT_EQ(searchstr(names, 2, "BETA"), 1);
  EXPECT_EQ(searchstr(names, 1, "beta"), 0);
  const char* hay = "abcabcab";
  EXPECT_EQ(strlstr(hay, "ab"), hay + 6);
  EXPECT_EQ(strlstr(hay, "x"), nullptr);
}

TEST(TextCopy, BoundedHelpersAtExactSizeAndOneBelow) {
  char dst[6];
  EXPECT_EQ(str_copy(dst, 6, "hello"), 0);
  EXPECT_STREQ(dst, "hello");
  EXPECT_EQ(str_copy(dst, 5, "hello"), -1);
  EXPECT_STREQ(dst, "hell");
  EXPECT_EQ(str_copy(dst, 1, "hello"), -1);
  EXPECT_STREQ(dst, "");
  EXPECT_EQ(str_copy(dst, 0, "x"), -1);
  EXPECT_EQ(str_copy(nullptr, 4, "x"), -1);

  EXPECT_EQ(str_format(dst, 6, "%s%d", "abc", 12), 0);
  EXPECT_STREQ(dst, "abc12");
  EXPECT_EQ(str_format(dst, 5, "%s%d", "abc", 12), -1);
  EXPECT_STREQ(dst, "abc1");

  char exact[4] = "zzz";
  EXPECT_STREQ(strntcpy(exact, "ab", 3), "ab");  // short source is padded, not over-read
  char sum[8] = "abc";
  EXPECT_EQ(strmcat(sum, "defgh", 5), 1);
  EXPECT_STREQ(sum, "abcde");
  EXPECT_EQ(strmcat(sum, "x", 5), 0);
  EXPECT_STREQ(sum, "abcde");
}

TEST(TextAlloc, CreateAndConcatenate) {
  char* copy = create_string("abc");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "abc");
  char* joined = create_strcat(copy, ", ", "d");
  ASSERT_NE(joined, nullptr);
  EXPECT_STREQ(joined, "abc, d");
  char* started = create_strcat(nullptr, ",", "first");
  EXPECT_STREQ(started, "first");
  EXPECT_EQ(create_strcat("a", ",", nullptr), nullptr);
  EXPECT_EQ(create_string(nullptr), nullptr);
  std::free(copy);
  std::free(joined);
  std::free(started);
}

TEST(Splitters, ParseStringKeepsEmptyItemsDropsTrailingDelims) {
  const struct {
    const char* input;
    std::vector<std::string> expected;
  } cases[] = {
      {"a,,b,", {"a", "", "b"}},
      {",a", {"", "a"}},
      {",,,", {""}},
      {"one", {"one"}},
  };
  for (const auto& c : cases) {
    int argc = -1;
    char** argv = nullptr;
    ASSERT_EQ(parse_string(c.input, ',', &argc, &argv), 0) << c.input;
    EXPECT_EQ(items_of(argc, argv), c.expected) << c.input;
    free_parsed_array(argc, argv);
  }
  int argc = 5;
  char** argv = reinterpret_cast<char**>(&argc);
  EXPECT_EQ(parse_string("", ',', &argc, &argv), -1);
  EXPECT_EQ(argc, 0);
  EXPECT_EQ(argv, nullptr);
}

TEST(Splitters, ParseCommandGroupsQuotesAndEndsWithNull) {
  int argc = 0;
  char** argv = nullptr;
  ASSERT_EQ(parse_command("   plot \"a b\"   c  ", &argc, &argv), 0);
  ASSERT_EQ(argc, 3);
  EXPECT_EQ(items_of(argc, argv), (std::vector<std::string>{"plot", "a b", "c"}));
  EXPECT_EQ(argv[3], nullptr);
  free_parsed_array(argc, argv);

  // An unclosed quote runs to the end; an empty pair is an empty item.
  ASSERT_EQ(parse_command("x \"\" \"y z", &argc, &argv), 0);
  EXPECT_EQ(items_of(argc, argv), (std::vector<std::string>{"x", "", "y z"}));
  free_parsed_array(argc, argv);

  ASSERT_EQ(parse_command_line("cmd", "a  \"b c\"", &argc, &argv), 0);
  EXPECT_EQ(items_of(argc, argv), (std::vector<std::string>{"cmd", "a", "b c"}));
  free_parsed_array(argc, argv);

  EXPECT_EQ(parse_command("   ", &argc, &argv), -1);
  EXPECT_EQ(parse_command(nullptr, &argc, &argv), -1);
}

TEST(NumberHelpers, SetNumWidthAndDecimals) {
  const struct {
    const char* format;
    double x;
    const char* expected;
  } cases[] = {
      {"6.3.0", 123.456, "   123"},     // %6.0f
      {"6.3.0", 0.01234, "0.0123"},     // %6.4f
      {"6.3.0", 0.0, "     0"},         // zero counts as size 2
      {"0.3.0", 1.5, "1.50"},           // width 0 becomes digits + 1
      {"5.3.2", 1234.5, "1234.50"},     // minimum decimals win
      {"12.2.0", 5.0, "      5.0"},     // width above 9 becomes 9
      {"6.3.0", 0.000001, "     0"},    // below 1e-5 is zero
  };
  for (const auto& c : cases) {
    char out[SET_NUM_SIZE];
    EXPECT_STREQ(set_num(out, c.format, c.x), c.expected) << c.format << " " << c.x;
  }
  char huge[SET_NUM_SIZE];
  set_num(huge, "6.3.3", 1e300);  // fixed point would need 300 digits
  EXPECT_LT(std::strlen(huge), SET_NUM_SIZE);
}

TEST(NumberHelpers, ChkArgByNameOrNumber) {
  char* items[] = {const_cast<char*>("temp"), const_cast<char*>("dewp")};
  EXPECT_EQ(chk_arg("DEWP", items, 2), 1);
  EXPECT_EQ(chk_arg("2", items, 2), 2);
  EXPECT_EQ(chk_arg("3", items, 2), -9999);
  EXPECT_EQ(chk_arg("0", items, 2), -9999);
  EXPECT_EQ(chk_arg("2x", items, 2), -9999);
  EXPECT_EQ(chk_arg("2\n", items, 2), 2);   // an answer read with its line end
  EXPECT_EQ(chk_arg(" 1 ", items, 2), 1);
  EXPECT_EQ(chk_arg("Temp \r\n", items, 2), 0);
  EXPECT_EQ(chk_arg(" ", items, 2), -9999);
  EXPECT_EQ(chk_arg("wind", items, 2), -9999);
}

// Random texts built from the characters the splitters care about: under the
// sanitizers any overrun or miscount between counting and splitting shows up.
TEST(Splitters, RandomTextsKeepInvariants) {
  const char alphabet[] = {' ', '"', 'a', ',', '\t', 'b'};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const unsigned len = next() % 24;
    for (unsigned i = 0; i < len; ++i) text += alphabet[next() % sizeof alphabet];
    int argc = 0;
    char** argv = nullptr;
    if (parse_command(text.c_str(), &argc, &argv) == 0) {
      ASSERT_GE(argc, 1) << text;
      EXPECT_EQ(argv[argc], nullptr) << text;
      for (int i = 0; i < argc; ++i) EXPECT_LE(std::strlen(argv[i]), text.size()) << text;
      free_parsed_array(argc, argv);
    }
    if (parse_string(text.c_str(), ',', &argc, &argv) == 0) {
      int commas = 0;
      std::string trimmed = text;
      while (!trimmed.empty() && trimmed.back() == ',') trimmed.pop_back();
      for (char c : trimmed) commas += c == ',';
      EXPECT_EQ(argc, commas + 1) << text;
      free_parsed_array(argc, argv);
    }
    char number[SET_NUM_SIZE];
    const std::string format = std::to_string(static_cast<int>(next() % 30) - 5) + "." +
                               std::to_string(next() % 25) + "." + std::to_string(next() % 25);
    const double value = (static_cast<double>(next()) - 32768.0) * std::pow(10.0, next() % 80 - 40.0);
    set_num(number, format.c_str(), value);
    EXPECT_LT(std::strlen(number), SET_NUM_SIZE) << format;
  }
}

TEST(PrintfNumberKind, OneNumberConversionOnly)
{
    struct Case {
        const char* fmt;
        int kind;
    } cases[] = {{"%f", 1},      {"%14.8e", 1}, {"%-+ #08.3G", 1}, {"T=%.1f%%", 1}, {"%5d", 2},
                 {"%i items", 2}, {"", 0},      {"text", 0},        {"%s", 0},      {"%f %f", 0},
                 {"%n", 0},      {"%ld", 0},    {"%*d", 0},         {"%", 0},       {"%%", 0},
                 {"%.f", 1},     {"%hn", 0},    {"%1$f", 0}};
    for (const Case& c : cases) EXPECT_EQ(printf_number_kind(c.fmt), c.kind) << c.fmt;
    EXPECT_EQ(printf_number_kind(nullptr), 0);
}
