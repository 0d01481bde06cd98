// File-name templates: building names from dates, reading dates back from names, the
// name-convention file, keys, extensions and the extracted-path rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "date.hpp"
#include "files.hpp"
#include "files_helpers.hpp"
#include "resrc.hpp"

namespace {

using files_test::make_date;
using files_test::U;

void request(int day, int hour, int min) {
  Date r = make_date(U, U, day, hour, min);
  FILE_set_time(&r);
}

class NameConv : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_clear();
    FILE_reset_time();
    FILE_set_type(0);
    FILE_set_name("none");
  }
  void TearDown() override {
    FILE_reset_time();
    FILE_set_name("none");
    RES_clear();
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  // A name-convention file in a fresh directory named by "file_path".
  void write_table(const std::string& text) {
    char pattern[] = "/tmp/qaz_names_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::FILE* f = std::fopen((dir_ + "/name_conv").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
    RES_put("file_path", dir_.c_str());
  }
  static std::string build(const Date& d) {
    char out[FILE_NAME_SIZE];
    FILE_set_date(&d, out);
    return out;
  }
  static std::string name_for(const std::string& tmpl, const Date& d) {
    FILE_set_name(("@" + tmpl).c_str());
    return build(d);
  }
  static std::string interpret(const char* name) {
    char out[FILE_NAME_SIZE];
    FILE_set_file(name, out);
    return out;
  }
  std::string dir_;
};

TEST_F(NameConv, CodesCyclesAndLateOffsets) {
  struct Case {
    const char* tmpl;
    int hour, min;         // of 2026-12-07
    int rday, rhour, rmin;  // requested fields
    const char* name;
    int late_off;
  };
  const Case cases[] = {
      {"%D/%y%m%d%h_sao", 7, U, U, U, U, "./26120707_sao", 3600},
      {"%y%m%d%3h", 8, U, U, U, U, "26120706", 10800},
      {"%Y%m%d%6h", 23, U, U, U, U, "2026120718", 21600},
      {"%Y%m%d_%h%n", 7, 45, U, U, U, "20261207_0745", 60},
      {"%h%15n", 7, 44, U, U, U, "0730", 900},
      {"%b%d.%y", 7, U, U, U, U, "dec07.26", 86400},
      {"%Y%j%h", 7, U, U, U, U, "202634107", 3600},
      {"%2d%h", 5, U, U, U, U, "0605", 3600},
      {"%10Y%3m", 5, U, U, U, U, "202012", U},
      {"%0h", 5, U, U, U, U, "05", 3600},  // a width of 0 counts as 1
      {"data file %%%y", 5, U, U, U, U, "data_file_%26", U},
      {"{ab}c%y{.x}a%", 5, U, U, U, U, "abc26.xa%", U},
      {"%y%m%d%h", 14, U, U, -306, U, "26120715", 21600},
      {"%h", 2, U, U, -306, U, "03", 21600},
      {"%y%m%d%h", 7, U, U, 12, U, "26120712", 3600},
      {"%3h", 7, U, U, 14, U, "12", 10800},
      {"%h%n", 7, 44, U, U, -1530, "0745", 1800},
      {"%d%h", 7, U, -5, U, U, "0507", 3600},
      {"%d", 7, U, -5, U, U, "05", 432000},
      {"%m%d", 7, U, 20, U, U, "1220", 86400},
      {"%h", 7, U, U, -300, U, "07", 3600},  // a period of 0 is no cycle
      // A period that does not divide the day: its last block has no cycle time.
      {"%h", 23, U, U, -910, U, "19", 36000},
      {"%h", 19, U, U, -910, U, "19", 36000},
      {"%h%n", 7, 59, U, U, -1525, "0740", 1500},
  };
  for (const auto& c : cases) {
    request(c.rday, c.rhour, c.rmin);
    EXPECT_EQ(name_for(c.tmpl, make_date(2026, 12, 7, c.hour, c.min)), c.name) << c.tmpl;
    EXPECT_EQ(FILE_get_late_off(), c.late_off) << c.tmpl;
  }
  // A stray clock field at the int limit under a cycle: no overflow, the cycle still steps.
  request(U, -306, -1530);
  EXPECT_FALSE(name_for("%h%n", make_date(2026, 12, 7, 2147483647, 2147483647)).empty());
  EXPECT_EQ(FILE_get_late_off(), 1800);
  FILE_reset_time();
  EXPECT_EQ(name_for("%Y%j", make_date(2024, 3, 1, 0)), "2024061");
  FILE_set_filename("");
  EXPECT_EQ(name_for("%Y%b%m", make_date(U, U, U, U)), "0000xxx00");
}

TEST_F(NameConv, PathCodesResourcesAndKeys) {
  const Date d = make_date(2026, 1, 1, 6);
  const char* codes = "CDFRGIWTMS";
  const char* names[] = {"con_path",  "data_path",  "file_path", "raw_path",   "grid_path",
                         "image_path", "watch_path", "text_path", "model_path", "sat_path"};
  for (int i = 0; i < 10; ++i) {
    const std::string value = std::string("/p") + codes[i];
    EXPECT_EQ(name_for(std::string("%") + codes[i] + "/f", d), "./f");
    RES_put(names[i], (value + "/").c_str());
    EXPECT_EQ(name_for(std::string("%") + codes[i] + "/f", d), value + "/f");
  }
  RES_put("model", "eta");
  EXPECT_EQ(name_for("%{model}_%h%{unknown}", d), "eta_06");

  FILE_set_key('k', "ab cd");
  FILE_set_key('z', std::string(50, 'z').c_str());
  char key[FILE_KEY_SIZE];
  FILE_get_key('k', key);
  EXPECT_STREQ(key, "ab_cd");
  FILE_get_key('z', key);
  EXPECT_EQ(std::strlen(key), FILE_KEY_SIZE - 1);
  EXPECT_EQ(name_for("x%k.%3k.%7k.%q", d), "xab_cd.ab_.ab_cd__.0");
}

// A path resource set to "none" names no directory, as it does for the program's own
// path target: the templates use the working directory, never a directory called "none".
TEST_F(NameConv, PathResourceNoneIsTheWorkingDirectory) {
  const Date d = make_date(2026, 1, 1, 6);
  const char* codes = "CDFRGIWTMS";
  const char* names[] = {"con_path",  "data_path",  "file_path", "raw_path",   "grid_path",
                         "image_path", "watch_path", "text_path", "model_path", "sat_path"};
  for (int i = 0; i < 10; ++i) {
    RES_put(names[i], i % 2 ? "NONE" : "none");
    EXPECT_EQ(name_for(std::string("%") + codes[i] + "/f", d), "./f") << names[i];
  }
  // Names read back and the listing pattern agree with the names built.
  FILE_set_name("@%D/%y%m%d%h_sao");
  EXPECT_EQ(interpret("26120707_sao"), "./26120707_sao");
  Date got{};
  FILE_get_date(&got);
  EXPECT_EQ(std::vector<int>({got.year, got.month, got.day, got.hour}),
            std::vector<int>({2026, 12, 7, 7}));
  FILE_set_name("@%D/%y%m%d%h_qaz_absent");
  testing::internal::CaptureStdout();
  EXPECT_EQ(FILE_list_file(), 0);
  const std::string listed = testing::internal::GetCapturedStdout();
  EXPECT_NE(listed.find(" ./"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("none"), std::string::npos) << listed;
  // The convention file is looked for where we stand, not under "none/".
  testing::internal::CaptureStderr();
  FILE_set_name("qaz_absent_type");
  const std::string warned = testing::internal::GetCapturedStderr();
  EXPECT_EQ(warned.find("none/"), std::string::npos) << warned;
}

TEST_F(NameConv, NamesReadBack) {
  FILE_set_key('k', "ab_cd");
  struct Case {
    const char* tmpl;
    const char* name;
    const char* out;
    int year, month, day, hour, min;
  };
  const Case cases[] = {
      {"%y%m%d%h_sao", "26120707_sao", "26120707_sao", 2026, 12, 7, 7, U},
      {"%y%m%d%h_sao", "96120707_sao", "96120707_sao", 1996, 12, 7, 7, U},
      {"%y%m%d%h_sao", "26120707", "26120707_sao", 2026, 12, 7, 7, U},
      {"%D/%y%m%d%h_sao", "26120707_sao", "./26120707_sao", 2026, 12, 7, 7, U},
      {"%D/%y%m%d%h_sao", "/data/x/26120707_sao", "/data/x/26120707_sao", 2026, 12, 7, 7, U},
      {"%Y%m%d_%h%n", "20261207_0745", "20261207_0745", 2026, 12, 7, 7, 45},
      {"%b%d.%y", "dec07.26", "dec07.26", 2026, 12, 7, U, U},
      {"%Y%j%h", "202634107", "202634107", 2026, 12, 7, 7, U},
      {"%j%Y", "0612024", "0612024", 2024, 3, 1, U, U},  // leap year known only at the end
      {"%j_%y", "366_24", "366_24", 2024, 12, 31, U, U},
      {"%k_%y%m%d%h", "ab_cd_26120707", "ab_cd_26120707", 2026, 12, 7, 7, U},
      {"obs/%y%m%d", "obs/261207", "obs/261207", 2026, 12, 7, U, U},
      {"%y%m%d%h_sao", "notes.txt", "notes.txt", U, U, U, U, U},
      {"%y%m%d%h_sao", "26120707_sao.old", "26120707_sao.old", 2026, 12, 7, 7, U},
      {"%y%m*", "2612anything", "2612anything", 2026, 12, U, U, U},
  };
  for (const auto& c : cases) {
    FILE_set_name((std::string("@") + c.tmpl).c_str());
    EXPECT_EQ(interpret(c.name), c.out) << c.tmpl << " " << c.name;
    Date got{};
    FILE_get_date(&got);
    EXPECT_EQ(std::vector<int>({got.year, got.month, got.day, got.hour, got.min}),
              std::vector<int>({c.year, c.month, c.day, c.hour, c.min}))
        << c.name;
  }
  // Names written from a date read back to that date.
  const Date d = make_date(2027, 2, 28, 18, 30);
  for (const char* tmpl : {"%Y%m%d%h%n", "%y%j_%h", "%b%d%y.%h", "%D/%Y/%m/%d%h.grd"}) {
    const std::string name = name_for(tmpl, d);
    EXPECT_EQ(interpret(name.c_str()), name) << tmpl;
    Date got{};
    FILE_get_date(&got);
    EXPECT_EQ(std::vector<int>({got.year, got.month, got.day, got.hour}),
              std::vector<int>({2027, 2, 28, 18}))
        << tmpl;
  }
}

TEST_F(NameConv, LiteralStandardStreamAndHashNames) {
  FILE_set_name("@%y%m%d%h");
  EXPECT_EQ(interpret("@my file"), "my file");
  EXPECT_EQ(interpret("-"), "-");
  EXPECT_EQ(interpret("none"), "none");
  // A "#" after the first character cuts the name and requests a time.
  EXPECT_EQ(interpret("26120707#2026120812"), "26120707");
  Date requested{};
  FILE_get_time(&requested);
  EXPECT_EQ(std::vector<int>({requested.year, requested.day, requested.hour, requested.min}),
            std::vector<int>({2026, 8, 12, U}));

  char out[FILE_NAME_SIZE];
  FILE_set_name("@-");
  EXPECT_EQ(interpret("26120707"), "-");
  EXPECT_EQ(FILE_set_date(nullptr, out), 1);
  EXPECT_STREQ(out, "-");
  // Without a convention the name is taken as it stands.
  FILE_set_name("none");
  EXPECT_EQ(interpret("plain.dat"), "plain.dat");
  EXPECT_EQ(FILE_set_date(nullptr, out), 1);
  EXPECT_STREQ(out, "plain.dat");
}

TEST_F(NameConv, ExtractedPathGivesNeighboursFromTheSameDirectory) {
  RES_put("data_path", "/elsewhere/");
  RES_put("model", "/elsewhere");
  FILE_set_name("@%D/%y%m%d%h_sao");
  EXPECT_EQ(interpret("/data/obs/26120707_sao"), "/data/obs/26120707_sao");
  EXPECT_EQ(build(make_date(2026, 12, 7, 8)), "/data/obs/26120708_sao");
  EXPECT_EQ(build(make_date(2026, 12, 7, 9)), "/data/obs/26120709_sao") << "a series stays";

  FILE_set_name("@%{model}/sub/%y%m%d%h");
  EXPECT_EQ(interpret("/data/run/sub/26120707"), "/data/run/sub/26120707");
  EXPECT_EQ(build(make_date(2026, 12, 7, 8)), "/data/run/sub/26120708");

  // A name built from the template is not literal: the resource applies again.
  FILE_set_name("@%D/%y%m%d%h_sao");
  EXPECT_EQ(build(make_date(2026, 12, 7, 8)), "/elsewhere/26120708_sao");
}

TEST_F(NameConv, ConventionFileLookup) {
  write_table(
      "# type template header min\n"
      "grd_grd %G/%y%m%d%h.grd - 100\n"
      "SFC  %D/%y%m%d%h.%e\n"
      "upa_cvt %D/%y%m%d%h.upa %D/%y%m%d.hdr\n"
      "sfc_syn %D/never\n"
      "skip " + std::string(155, 'x') + "upa_long %y\n"  // its tail is no line of its own
      "full " + std::string(155, 'x') + "\n"  // exactly as long as a line may be
      "after160 %y.a\n"
      "full " + std::string(315, 'x') + "\n"
      "after320 %y.b\n"
      "ext %y%m%d%h.%e\n");
  const Date d = make_date(2026, 12, 7, 7);
  char out[FILE_NAME_SIZE];

  EXPECT_EQ(FILE_set_name("GRD_grd"), 1);
  EXPECT_EQ(FILE_get_min_size(), 100);
  EXPECT_EQ(build(d), "./26120707.grd");
  EXPECT_EQ(FILE_hdr_set_date(&d, out), 0);
  EXPECT_STREQ(out, "");
  // The earlier, shorter type wins as a partial match and supplies the extension.
  EXPECT_EQ(FILE_set_name("sfc_syn"), 1);
  EXPECT_EQ(build(d), "./26120707.syn");
  EXPECT_EQ(FILE_set_name("sfc_metar"), 1);
  EXPECT_EQ(build(d), "./26120707.metar");
  EXPECT_EQ(FILE_get_min_size(), 0);

  EXPECT_EQ(FILE_set_name("upa_cvt"), 1);
  EXPECT_EQ(build(d), "./26120707.upa");
  EXPECT_EQ(FILE_hdr_set_date(&d, out), 1);
  EXPECT_STREQ(out, "./261207.hdr");
  EXPECT_STREQ(FILE_get_filename(nullptr), "./26120707.upa") << "the header name is apart";
  // So is its date: the data file's hour survives a header template without one.
  Date last{};
  FILE_get_date(&last);
  EXPECT_EQ(last.hour, 7);
  EXPECT_EQ(FILE_set_date(nullptr, out), 0);
  EXPECT_STREQ(out, "./26120707.upa");
  std::strcpy(out, "keep");
  const Date no_year = make_date(U, U, U, U);
  EXPECT_EQ(FILE_hdr_set_date(&no_year, out), 0);
  EXPECT_STREQ(out, "keep");

  // No matching line: the type text becomes the template.
  EXPECT_EQ(FILE_set_name("upa_long"), 0);
  // A line that fills the limit exactly does not swallow the line after it.
  EXPECT_EQ(FILE_set_name("after160"), 1);
  EXPECT_EQ(build(d), "26.a");
  EXPECT_EQ(FILE_set_name("after320"), 1);
  EXPECT_EQ(build(d), "26.b");
  EXPECT_EQ(FILE_set_name("%y_raw"), 0);
  EXPECT_EQ(build(d), "26_raw");
  // Keys written into the type are cut off before the lookup.
  EXPECT_EQ(FILE_set_name("grd_grd:m=eta:l=500"), 1);
  char key[FILE_KEY_SIZE];
  FILE_get_key('m', key);
  EXPECT_STREQ(key, "eta");
  FILE_get_key('l', key);
  EXPECT_STREQ(key, "500");
  // An exact match learns its extension from the first name read.
  EXPECT_EQ(FILE_set_name("ext"), 1);
  EXPECT_EQ(interpret("26120707.synop"), "26120707.synop");
  EXPECT_EQ(build(make_date(2026, 12, 7, 8)), "26120708.synop");

  // An extension longer than its field is remembered cut, but the name read stays whole.
  EXPECT_EQ(FILE_set_name("ext"), 1);
  const std::string long_ext = "26120707.extension_longer_than_twenty";
  EXPECT_EQ(interpret(long_ext.c_str()), long_ext);
  // A new selection forgets the extension of the last one: the name read is the name given.
  FILE_set_name("sfc_metar");
  EXPECT_EQ(FILE_set_name("@%y%m%d%h.%e"), 1);
  EXPECT_EQ(interpret("26120707.synop"), "26120707.synop");

  EXPECT_EQ(FILE_set_name("None"), 0);
  EXPECT_EQ(build(d), "filename");
  RES_put("file_path", "/nonexistent/dir");
  EXPECT_EQ(FILE_set_name("%y%m%d"), 0);
  EXPECT_EQ(build(d), "261207");
}

TEST_F(NameConv, ConventionTextSaveRestoreAndBounds) {
  EXPECT_EQ(FILE_set_name_conv("10800 %y%m%d%3h %y%m%d.hdr"), 0);
  FILE_set_filename("/abs/name");
  FILE_save_name_conv();
  FILE_set_name_conv("60 %n");
  FILE_set_filename("other");
  char text[FILE_CONV_SIZE];
  FILE_get_name_conv(text);
  EXPECT_STREQ(text, "60 %n ");
  FILE_restore_name_conv();
  FILE_get_name_conv(text);
  EXPECT_STREQ(text, "10800 %y%m%d%3h %y%m%d.hdr");
  EXPECT_STREQ(FILE_get_filename(nullptr), "/abs/name");
  EXPECT_EQ(FILE_set_name_conv("not a number"), -1);
  char small[8];
  FILE_get_name_conv(small, sizeof small);
  EXPECT_STREQ(small, "10800 %");

  // Over-long templates and names are cut, never overrun.
  struct {
    char name[FILE_NAME_SIZE];
    char canary[8];
  } buffer;
  std::memset(buffer.canary, 'C', sizeof buffer.canary);
  FILE_set_name(("@" + std::string(300, 'a') + "%y").c_str());
  const Date d = make_date(2026, 12, 7, 7);
  FILE_set_date(&d, buffer.name);
  EXPECT_EQ(std::strlen(buffer.name), FILE_NAME_SIZE - 1);
  FILE_set_file(std::string(500, 'n').c_str(), buffer.name);
  EXPECT_EQ(std::strlen(buffer.name), FILE_NAME_SIZE - 1);
  EXPECT_EQ(std::string(buffer.canary, 8), "CCCCCCCC");
  FILE_set_ext_info(std::string(100, 'e').c_str());
  EXPECT_EQ(std::strlen(FILE_get_ext_info()), FILE_EXT_INFO_SIZE - 1);
}

TEST_F(NameConv, ExtraInformationCutFromGridNames) {
  char name[] = "26120707.grd#500mb";
  EXPECT_EQ(FILE_extract_extra_info(name), 1);
  EXPECT_STREQ(name, "26120707.grd");
  EXPECT_STREQ(FILE_get_ext_info(), "#500mb");
  char early[] = "-+x";  // searching starts at the third character
  EXPECT_EQ(FILE_extract_extra_info(early), 0);

  // Marks in a directory's name are no extra information: only the file's own name has it.
  char in_dir[] = "/data/nam-12km/2026-12/26120707.grd#500";
  EXPECT_EQ(FILE_extract_extra_info(in_dir), 1);
  EXPECT_STREQ(in_dir, "/data/nam-12km/2026-12/26120707.grd");
  EXPECT_STREQ(FILE_get_ext_info(), "#500");
  char plain_in_dir[] = "/data/gfs-0p25/26120707.grd";
  EXPECT_EQ(FILE_extract_extra_info(plain_in_dir), 0);
  EXPECT_STREQ(plain_in_dir, "/data/gfs-0p25/26120707.grd");
  char short_base[] = "/d/a-b";  // the search starts at the file name's third character
  EXPECT_EQ(FILE_extract_extra_info(short_base), 0);
  char base_mark[] = "/d/ab-c";
  EXPECT_EQ(FILE_extract_extra_info(base_mark), 1);
  EXPECT_STREQ(base_mark, "/d/ab");
  char ends_in_slash[] = "/d-x/";
  EXPECT_EQ(FILE_extract_extra_info(ends_in_slash), 0);

  FILE_set_type(1);
  FILE_set_name("@%y%m%d%h.grd");
  EXPECT_EQ(interpret("26120707.grd:vort"), "26120707.grd");
  EXPECT_STREQ(FILE_get_ext_info(), ":vort");
  FILE_set_name("@%D/%y%m%d%h.grd");
  EXPECT_EQ(interpret("/data/nam-12km/26120707.grd+12"), "/data/nam-12km/26120707.grd");
  EXPECT_STREQ(FILE_get_ext_info(), "+12");
  // A time expression keeps its offsets: they are no extra information. Its neighbours
  // come from the directory of the name given before.
  setenv("qazcurtime", "202612071234", 1);
  EXPECT_EQ(interpret("#2026120712-6"), "/data/nam-12km/26120706.grd");
  EXPECT_EQ(interpret("cu-1d"), "/data/nam-12km/26120612.grd");
  unsetenv("qazcurtime");
  FILE_set_type(0);
}

TEST_F(NameConv, RandomTemplatesNamesAndExpressionsStayBounded) {
  // Replays random mixes of codes, literals and separators through every entry point;
  // the sanitizer build turns any overrun into a failure.
  const char* pieces[] = {"%Y", "%y", "%m", "%b", "%d", "%j", "%h", "%n", "%3h", "%0n", "%e",
                          "%D", "%{model}", "%k", "%4k", "%%", "%", "{", "}", "/", ":", "*",
                          " ", "_", "x", "-", "#", "9"};
  const char* expression_pieces[] = {"la", "l", "#", "#2026", "+", "-", "1d", "6", ":", "30",
                                     "cu", "x", "99999999999", "d"};
  FILE_set_key('k', "key");
  std::srand(7);
  char out[FILE_NAME_SIZE + 1];
  out[FILE_NAME_SIZE] = 'C';
  for (int round = 0; round < 300; ++round) {
    std::string tmpl = "@", name, expression;
    for (int i = std::rand() % 12; i >= 0; --i) tmpl += pieces[std::rand() % 28];
    for (int i = std::rand() % 40; i >= 0; --i) name += "0123456789/_.:-#abcdec%"[std::rand() % 23];
    for (int i = std::rand() % 5; i >= 0; --i) expression += expression_pieces[std::rand() % 14];
    FILE_set_name(tmpl.c_str());
    FILE_set_file(name.c_str(), out);
    FILE_set_date(nullptr, out);
    FILE_hdr_set_date(nullptr, out);
    FILE_set_current((expression.substr(0, 6) == "la" ? expression : expression + "la#2").c_str(), out);
    EXPECT_EQ(out[FILE_NAME_SIZE], 'C') << tmpl << " " << name;
    EXPECT_LT(std::strlen(out), FILE_NAME_SIZE);
  }
}

TEST_F(NameConv, ShippedFileCoversTheReaders) {
  RES_put("file_path", QAZ_SHARE_SRC);
  RES_put("grid_path", "/g");
  RES_put("model_path", "/m");
  RES_put("data_path", "/d");
  RES_put("raw_path", "/r");
  const std::pair<const char*, const char*> cases[] = {
      {"grd_grd", "/g/26120707.grd"}, {"grd_cdf", "/g/26120707.nc"},
      {"grd_sat", "/g/26120707.sat"}, {"grib", "/m/26120707.grib"},
      {"grib2", "/m/26120707.grib2"}, {"upa_cvt", "/d/26120707.upa"},
      {"upa_snd", "/d/26120707_snd"}, {"upa_cdf", "/d/26120707_upa.nc"},
      {"raw_sao", "/r/26120707.sao"}, {"sfc_metar", "/d/26120707_metar"},
  };
  for (const auto& [type, name] : cases) {
    EXPECT_EQ(FILE_set_name(type), 1) << type;
    EXPECT_EQ(build(make_date(2026, 12, 7, 7)), name) << type;
    EXPECT_EQ(FILE_get_late_off(), 3600) << type;
    EXPECT_GT(FILE_get_min_size(), 0) << type;
  }
}

}  // namespace
