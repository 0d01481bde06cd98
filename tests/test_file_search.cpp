// Time expressions, the latest-file search, listing, the choice of the input file and
// series of files, against files made in a temporary directory.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "date.hpp"
#include "files.hpp"
#include "files_helpers.hpp"
#include "flag.hpp"
#include "resrc.hpp"

namespace {

using files_test::make_date;
using files_test::U;

long long seconds_of(int year, int month, int day, int hour) {
  Date d = make_date(year, month, day, hour, 0);
  return DATE_num_sec(&d);
}

std::string current(const char* expression) {
  char out[FILE_NAME_SIZE];
  FILE_set_current(expression, out);
  return out;
}

class FileSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_clear();
    FILE_reset_time();
    FILE_set_min_size(0);
    FLAG_set_batch(0);
    setenv("qazcurtime", "202612071234", 1);  // 2026-12-07 12:34 UTC
    char pattern[] = "/tmp/qaz_search_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // 09Z holds data, 10Z is empty, 08Z is larger; nothing else exists.
    make_file("26120709.dat", 10);
    make_file("26120710.dat", 0);
    make_file("26120708.dat", 30);
    RES_put("data_path", dir_.c_str());
    FILE_set_name("@%D/%y%m%d%h.dat");
  }
  void TearDown() override {
    unsetenv("qazcurtime");
    FILE_reset_time();
    FILE_set_min_size(0);
    FILE_set_name("none");
    RES_clear();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void make_file(const std::string& name, int size) {
    std::FILE* f = std::fopen(in_dir(name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < size; ++i) std::fputc('x', f);
    std::fclose(f);
  }
  std::string in_dir(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(FileSearch, TimeExpressionsInEveryWrittenForm) {
  FILE_set_name("@%y%m%d%h");
  const std::pair<const char*, const char*> cases[] = {
      {"cu", "26120712"},          {"", "26120712"},              {"-6", "26120706"},
      {"6", "26120706"},           {"+6", "26120718"},            {"-1d6:30", "26120606"},
      {"-1d", "26120612"},         {"-2:30", "26120710"},         {"+1d2", "26120814"},
      {"cu-3", "26120709"},        {"#202612010000", "26120100"}, {"#2026120100-6", "26113018"},
      {"#202612", "26120100"},     {"#2026120712+1d", "26120812"}, {"#2027", "27010100"},
  };
  for (const auto& [expression, name] : cases) EXPECT_EQ(current(expression), name) << expression;
  char out[FILE_NAME_SIZE];
  EXPECT_EQ(FILE_set_current("cu", out), seconds_of(2026, 12, 7, 12));
  setenv("qazcurtime", "#202612071234", 1);
  EXPECT_EQ(current("cu"), "26120712");

  // Requested fields pull the base back to the latest time that has them.
  struct Case {
    int month, day, hour, min;
    const char* tmpl;
    const char* name;
  };
  const Case pulled[] = {
      {U, U, 18, U, "@%y%m%d%h", "26120618"},     {U, U, 6, U, "@%y%m%d%h", "26120706"},
      {U, 20, U, U, "@%y%m%d%h", "26112012"},     {3, U, U, U, "@%y%m%d%h", "26030712"},
      {U, U, U, 50, "@%y%m%d%h%n", "2612071150"},
  };
  for (const auto& c : pulled) {
    Date requested = make_date(U, c.month, c.day, c.hour, c.min);
    FILE_set_time(&requested);
    FILE_set_name(c.tmpl);
    EXPECT_EQ(current("cu"), c.name) << c.tmpl;
  }
  setenv("qazcurtime", "202701051200", 1);  // a later day in January: back to December
  Date requested = make_date(U, U, 20, U);
  FILE_set_time(&requested);
  FILE_set_name("@%y%m%d%h");
  EXPECT_EQ(current("cu"), "26122012");
}

TEST_F(FileSearch, NoLateOffsetStepsByOneHour) {
  FILE_set_name("none");
  FILE_set_name_conv("0");
  char out[FILE_NAME_SIZE];
  EXPECT_EQ(FILE_set_current("cu", out) % 3600, 0);
  EXPECT_STREQ(out, "filename");
  // A template without a time of day: the search still goes back, an hour at a time.
  FILE_set_name("@%Y%m");
  EXPECT_EQ(FILE_set_current("la#3", out), seconds_of(2026, 12, 7, 10));
  EXPECT_STREQ(out, "202612");
}

TEST_F(FileSearch, LatestFileAboveTheMinimumSize) {
  const std::pair<const char*, const char*> cases[] = {
      {"la", "26120709.dat"},      {"la-3", "26120706.dat"},
      {"-2la", "26120709.dat"},    {"#2026120706+la", "26120708.dat"},
      {"la#3", "26120710.dat"},    {"la#4", "26120709.dat"},  // gives up after its count
  };
  for (const auto& [expression, name] : cases)
    EXPECT_EQ(current(expression), in_dir(name)) << expression;
  EXPECT_EQ(current(nullptr), in_dir("26120709.dat"));
  char out[FILE_NAME_SIZE];
  EXPECT_EQ(FILE_set_current("la", out), seconds_of(2026, 12, 7, 9));
  // Typed as a name, the "#" is still the count, not a requested time.
  FILE_set_file("la#3", out);
  EXPECT_EQ(std::string(out), in_dir("26120710.dat"));
  FILE_set_file("#2026120710la#1", out);  // a base date and a count
  EXPECT_EQ(std::string(out), in_dir("26120710.dat"));
  Date requested{};
  FILE_get_time(&requested);
  EXPECT_EQ(requested.year, U);

  // The program's minimum takes precedence over the convention's.
  FILE_set_min_size(20);
  EXPECT_EQ(current("la"), in_dir("26120708.dat"));
  FILE_set_min_size(0);

  std::FILE* f = std::fopen(in_dir("name_conv").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("obs %D/%y%m%d%h.dat - 15\n", f);
  std::fclose(f);
  RES_put("file_path", dir_.c_str());
  ASSERT_EQ(FILE_set_name("obs"), 1);
  EXPECT_EQ(current("la"), in_dir("26120708.dat"));
  // Another selection does not inherit that type's minimum.
  FILE_set_name("@%D/%y%m%d%h.dat");
  EXPECT_EQ(FILE_get_min_size(), 0);
  EXPECT_EQ(current("la"), in_dir("26120709.dat"));
}

TEST_F(FileSearch, ListingMatchesWithoutAShell) {
  make_file("notes.txt", 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(FILE_list_file(), 3);
  const std::string listed = testing::internal::GetCapturedStdout();
  EXPECT_NE(listed.find(in_dir("26120708.dat")), std::string::npos);
  EXPECT_NE(listed.find(in_dir("26120710.dat")), std::string::npos);
  EXPECT_EQ(listed.find("notes.txt"), std::string::npos);

  // A directory written with "~" lists the files the readers would find there.
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  std::string up = "~";  // from the home directory back to the root
  for (const char* p = user->pw_dir; *p; ++p)
    if (*p == '/' && p[1] && p[1] != '/') up += "/..";
  RES_put("data_path", (up + dir_).c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(FILE_list_file(), 3);
  testing::internal::GetCapturedStdout();
  RES_put("data_path", dir_.c_str());

  // Shell syntax in a template is never run.
  FILE_set_name(("@" + dir_ + "/$(touch " + dir_ + "/ran)%y;touch " + dir_ + "/ran2").c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(FILE_list_file(), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_NE(access(in_dir("ran").c_str(), F_OK), 0);
  EXPECT_NE(access(in_dir("ran2").c_str(), F_OK), 0);
}

TEST_F(FileSearch, InputFileFromResources) {
  char out[FILE_NAME_SIZE];
  RES_put("filename", "26120709");
  EXPECT_EQ(FILE_get_file("File: ", out), 1);
  EXPECT_EQ(std::string(out), in_dir("26120709.dat"));
  RES_put("filename", in_dir("26120711.dat").c_str());
  EXPECT_EQ(FILE_get_file("File: ", out), 0);

  RES_clear();
  RES_put("data_path", dir_.c_str());
  RES_put("current", "la");
  EXPECT_EQ(FILE_get_file("File: ", out), 1);
  EXPECT_EQ(std::string(out), in_dir("26120709.dat"));
  RES_put("current", "-1");
  EXPECT_EQ(FILE_get_file_only("File: ", out), 0);
  EXPECT_EQ(std::string(out), in_dir("26120711.dat"));
  EXPECT_EXIT(FILE_get_file("File: ", out), testing::ExitedWithCode(10), "File not found");

  RES_clear();
  RES_put("data_path", dir_.c_str());
  FLAG_set_batch(1);
  EXPECT_EQ(FILE_get_file_only("File: ", out), 1);
  EXPECT_EQ(std::string(out), in_dir("26120709.dat"));
  FLAG_set_batch(0);
  RES_put("filename", "list");
  EXPECT_EXIT(FILE_get_file("File: ", out), testing::ExitedWithCode(0), "");
}

TEST_F(FileSearch, InputFileChosenInteractively) {
  const std::string answers = in_dir("answers");
  auto answer = [&](const char* text) {
    std::FILE* f = std::fopen(answers.c_str(), "w");
    std::fputs(text, f);
    std::fclose(f);
  };
  char out[FILE_NAME_SIZE];
  // Four wrong answers end with status 10; "list" counts as one.
  answer("nothing1\nnothing2\nlist\nnothing3\n26120708\n");
  EXPECT_EXIT(
      {
        std::freopen(answers.c_str(), "r", stdin);
        FILE_get_file("File: ", out);
      },
      testing::ExitedWithCode(10), "File not found");
  answer("nothing\n26120708\n");
  EXPECT_EXIT(
      {
        std::freopen(answers.c_str(), "r", stdin);
        const int found = FILE_get_file("File: ", out);
        std::exit(found == 1 && std::string(out) == in_dir("26120708.dat") ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
  // End of input is a failed try, not a hang.
  EXPECT_EXIT(
      {
        std::fclose(stdin);
        std::exit(FILE_get_file_only("File: ", out) == 0 ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
}

TEST_F(FileSearch, SeriesAroundTheFirstDate) {
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"-6", {"26120706", "26120709", "26120712"}},
      {"6", {"26120712", "26120715", "26120718"}},
      {"6,6", {"26120712", "26120718"}},
      {"-7", {"26120703", "26120706", "26120709", "26120712"}},
  };
  const Date first = make_date(2026, 12, 7, 12);
  char out[FILE_NAME_SIZE];
  for (const auto& [num_hour, names] : cases) {
    FILE_set_name("@%y%m%d%3h");
    FILE_set_date(&first, out);
    RES_put("num_hour", num_hour);
    FILE_first(&first);
    std::vector<std::string> got;
    while (FILE_get_next(out) && got.size() < 10) got.emplace_back(out);
    EXPECT_EQ(got, std::vector<std::string>(names.begin(), names.end())) << num_hour;
  }
  // A late offset near the int limit with a long backward series: rounded, not overflowed.
  FILE_set_late_off(2000000000);
  RES_put("num_hour", "-1000000");
  FILE_first(&first);
  EXPECT_EQ(FILE_get_nsecs(), -2000000000);
  FILE_set_name("@%y%m%d%3h");
  FILE_set_date(&first, out);
  RES_put("num_hour", "6");
  FILE_first(&first);
  EXPECT_EQ(FILE_next_file(out), 1);
  EXPECT_STREQ(out, "26120715");
  EXPECT_EQ(FILE_prev_file(out), 1);
  EXPECT_STREQ(out, "26120709");
  EXPECT_EQ(FILE_get_num_file(), 21600);

  // A list of names is a series of its own; "la" as its first entry is no list.
  FILE_set_name("none");
  RES_put("filename", "a.dat,b.dat,c.dat");
  FILE_first(nullptr);
  EXPECT_EQ(FILE_get_num_file(), 2);
  std::vector<std::string> got;
  while (FILE_get_next(out) && got.size() < 10) got.emplace_back(out);
  EXPECT_EQ(got, (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
  RES_put("filename", "la");
  RES_put("num_hour", "0");
  FILE_set_name("@%y%m%d%h");
  FILE_set_date(&first, out);
  FILE_first(&first);
  EXPECT_EQ(FILE_get_next(out), 1);
  EXPECT_STREQ(out, "26120712");
  EXPECT_EQ(FILE_get_next(out), 0);
}

TEST(TimeOptions, NumHourForms) {
  RES_clear();
  FILE_set_late_off(3600);
  struct Case {
    const char* text;
    int num_hour, skip;
  };
  const Case cases[] = {
      {"6", 21600, 3600},     {"-6", -21600, 3600},   {"1:30", 5400, 3600},
      {":45", 2700, 3600},    {"-0:30", -1800, 3600}, {"-1:30", -5400, 3600},
      {"6,:30", 21600, 1800}, {"12,2", 43200, 7200},  {"-3,1:30", -10800, 5400},
  };
  for (const auto& c : cases) {
    RES_put("num_hour", c.text);
    EXPECT_EQ(FILE_num_hour(), c.num_hour) << c.text;
    EXPECT_EQ(FILE_get_skip(), c.skip) << c.text;
  }
  RES_clear();
  FILE_set_def_hours(2);
  EXPECT_EQ(FILE_num_hour(), 7200);
  FILE_set_def_hours(1000000);  // as long as a written "num_hour" may be, no overflow
  EXPECT_EQ(FILE_num_hour(), INT_MAX / 2);
  FILE_set_def_hours(-1000000);
  EXPECT_EQ(FILE_num_hour(), -(INT_MAX / 2));
  FILE_set_def_hours(0);
}

TEST(TimeOptions, HourAndFileParameterForms) {
  struct Case {
    const char* text;
    int result, hour, min;
  };
  const Case cases[] = {
      {"12", 0, 12, U},      {"6:30", 0, 6, 30},     {":45", 0, U, 45},     {"-306", 0, -306, U},
      {"0", 0, 0, U},        {"7:-1530", 0, 7, -1530}, {"-0:-1530", -1, U, U}, {"24", -1, U, U},
      {"6:60", -1, U, U},    {"-300", -1, U, U},     {"-1206", -1, U, U},   {"abc", -1, U, U},
      {"", -1, U, U},        {"6:", -1, U, U},       {"12345", -1, U, U},
  };
  for (const auto& c : cases) {
    FILE_reset_time();
    EXPECT_EQ(FILE_set_hour(c.text), c.result) << c.text;
    Date requested{};
    FILE_get_time(&requested);
    EXPECT_EQ(requested.hour, c.hour) << c.text;
    EXPECT_EQ(requested.min, c.min) << c.text;
  }
  FILE_reset_time();

  const std::pair<const char*, int> answers[] = {{"over", 1}, {"Overwrite", 1}, {"app", 2},
                                                 {"APPEND", 2}, {"u", 3},       {"2", 2},
                                                 {"bogus,use", 3}, {"nonsense", -1}};
  for (const auto& [text, answer] : answers) {
    FLAG_set(15, U);
    EXPECT_EQ(FILE_set_file_param(text), answer) << text;
    EXPECT_EQ(FLAG_get(15), answer > 0 ? answer : U) << text;
  }
}

TEST(TimeOptions, CommandLineOptionsReachTheFileSearch) {
  FILE_reset_time();
  const char* argv[] = {"prog", "-ho", "-306", "-pf", "app", "-cu", "la-12", nullptr};
  const res_type keys[] = {RES_hour, RES_file_param, RES_current, RES_null};
  const res_type positional[] = {RES_null};
  RES_init(7, argv, keys, positional);
  Date requested{};
  FILE_get_time(&requested);
  EXPECT_EQ(requested.hour, -306);
  EXPECT_EQ(FLAG_get(15), 2);
  ASSERT_NE(RES_get("current"), nullptr);
  EXPECT_STREQ(RES_get("current"), "la-12");
  EXPECT_EQ(RES_conv_data("6:30", nullptr, CV_hour), 1);
  EXPECT_EQ(RES_conv_data("25", nullptr, CV_hour), 0);
  FILE_get_time(&requested);
  EXPECT_EQ(requested.hour, 6);
  EXPECT_EQ(requested.min, 30);
  FILE_reset_time();
  RES_clear();
}

}  // namespace
