// File-name templates: building names from dates, reading dates back from names, the
// name-convention file, keys, extensions and the extracted-path rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "date.hpp"
#include "files.hpp"
#include "resrc.hpp"

namespace {

Date make_date(int year, int month, int day, int hour, int min = 0) {
  Date d{};
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.min = min;
  d.sec = 0;
  d.jday = d.wday = -9999;
  return d;
}

Date unset() {
  Date d{};
  DATE_init(&d);
  d.sec = 0;
  return d;
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
  std::string name_for(const std::string& tmpl, const Date& d) {
    FILE_set_name(("@" + tmpl).c_str());
    char out[FILE_NAME_SIZE];
    EXPECT_EQ(FILE_set_date(&d, out), 0) << tmpl;
    return out;
  }
  std::string dir_;
};

TEST_F(NameConv, EveryCodeWrittenWithItsLateOffset) {
  struct Case {
    const char* tmpl;
    Date date;
    const char* name;
    int late_off;
  };
  const Case cases[] = {
      {"%D/%y%m%d%h_sao", make_date(2026, 12, 7, 7), "./26120707_sao", 3600},
      {"%y%m%d%3h", make_date(2026, 12, 7, 8), "26120706", 10800},
      {"%Y%m%d%6h", make_date(2026, 12, 7, 23), "2026120718", 21600},
      {"%Y%m%d_%h%n", make_date(2026, 12, 7, 7, 45), "20261207_0745", 60},
      {"%y%m%d%h%15n", make_date(2026, 12, 7, 7, 44), "2612070730", 900},
      {"%b%d.%y", make_date(2026, 12, 7, 7), "dec07.26", 86400},
      {"%Y%j%h", make_date(2026, 12, 7, 7), "202634107", 3600},
      {"%Y%j", make_date(2024, 3, 1, 0), "2024061", 86400},
      {"%2d%h", make_date(2026, 12, 7, 5), "0605", 3600},
      {"%10Y%m", make_date(2026, 12, 7, 5), "202012", -9999},
      {"%y%3m", make_date(2026, 8, 7, 5), "2606", -9999},
      {"%0h", make_date(2026, 12, 7, 5), "05", 3600},  // width 0 counts as 1
      {"data file %%%y", make_date(2026, 12, 7, 5), "data_file_%26", -9999},
      {"{ab}c%y{.x}", make_date(2026, 12, 7, 5), "abc26.x", -9999},
      {"%Y%b%m", unset(), "0000xxx00", -9999},
      {"a%", make_date(2026, 12, 7, 5), "a%", -9999},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(name_for(c.tmpl, c.date), c.name) << c.tmpl;
    EXPECT_EQ(FILE_get_late_off(), c.late_off) << c.tmpl;
  }
}

TEST_F(NameConv, RequestedTimeAndCycles) {
  struct Case {
    int hour, min, day;
    const char* tmpl;
    Date date;
    const char* name;
    int late_off;
  };
  const Case cases[] = {
      {-306, -9999, -9999, "%y%m%d%h", make_date(2026, 12, 7, 14), "26120715", 21600},
      {-306, -9999, -9999, "%y%m%d%h", make_date(2026, 12, 7, 2), "26120703", 21600},
      {12, -9999, -9999, "%y%m%d%h", make_date(2026, 12, 7, 7), "26120712", 3600},
      {14, -9999, -9999, "%3h", make_date(2026, 12, 7, 7), "12", 10800},
      {-9999, -1530, -9999, "%h%n", make_date(2026, 12, 7, 7, 44), "0745", 1800},
      {-9999, -9999, -5, "%d%h", make_date(2026, 12, 7, 7), "0507", 3600},
      {-9999, -9999, -5, "%d", make_date(2026, 12, 7, 7), "05", 432000},
      {-9999, -9999, 20, "%m%d", make_date(2026, 12, 7, 7), "1220", 86400},
      {-300, -9999, -9999, "%h", make_date(2026, 12, 7, 7), "07", 3600},  // no period
  };
  for (const auto& c : cases) {
    Date requested = unset();
    requested.hour = c.hour;
    requested.min = c.min;
    requested.day = c.day;
    FILE_set_time(&requested);
    EXPECT_EQ(name_for(c.tmpl, c.date), c.name) << c.tmpl << " hour " << c.hour;
    EXPECT_EQ(FILE_get_late_off(), c.late_off) << c.tmpl << " hour " << c.hour;
  }
  FILE_reset_time();
  Date back{};
  FILE_get_time(&back);
  EXPECT_EQ(back.hour, -9999);
  EXPECT_EQ(back.day, -9999);
}

TEST_F(NameConv, PathCodesAndResources) {
  EXPECT_EQ(name_for("%D/%y_x", make_date(2026, 12, 7, 7)), "./26_x");
  const char* codes = "CDFRGIWTMS";
  const char* names[] = {"con_path",  "data_path",  "file_path", "raw_path",   "grid_path",
                         "image_path", "watch_path", "text_path", "model_path", "sat_path"};
  for (int i = 0; i < 10; ++i) {
    const std::string value = std::string("/p") + codes[i] + "/";
    RES_put(names[i], value.c_str());
    EXPECT_EQ(name_for(std::string("%") + codes[i] + "/f", make_date(2026, 1, 1, 0)),
              std::string("/p") + codes[i] + "/f");
  }
  RES_put("model", "eta");
  EXPECT_EQ(name_for("%{model}_%h", make_date(2026, 1, 1, 6)), "eta_06");
  EXPECT_EQ(name_for("%{unknown}_%h", make_date(2026, 1, 1, 6)), "_06");
}

TEST_F(NameConv, KeysCutPaddedAndUnset) {
  FILE_set_key('k', "ab cd");
  char key[FILE_KEY_SIZE];
  FILE_get_key('k', key);
  EXPECT_STREQ(key, "ab_cd");
  const Date d = make_date(2026, 12, 7, 7);
  EXPECT_EQ(name_for("x%k.%h", d), "xab_cd.07");
  EXPECT_EQ(name_for("x%3k.%h", d), "xab_.07");
  EXPECT_EQ(name_for("x%7k.%h", d), "xab_cd__.07");
  EXPECT_EQ(name_for("x%q.%h", d), "x0.07");

  FILE_set_key('z', std::string(50, 'z').c_str());
  FILE_get_key('z', key);
  EXPECT_EQ(std::strlen(key), FILE_KEY_SIZE - 1);

  // Keys read back: the key text is skipped in a name.
  FILE_set_name("@%k_%y%m%d%h");
  char out[FILE_NAME_SIZE];
  FILE_set_file("ab_cd_26120707", out);
  Date got{};
  FILE_get_date(&got);
  EXPECT_EQ(got.hour, 7);
  EXPECT_EQ(got.day, 7);
}

TEST_F(NameConv, NamesReadBack) {
  struct Case {
    const char* tmpl;
    const char* name;
    const char* out;
    int year, month, day, hour, min;
  };
  const Case cases[] = {
      {"%y%m%d%h_sao", "26120707_sao", "26120707_sao", 2026, 12, 7, 7, -9999},
      {"%y%m%d%h_sao", "96120707_sao", "96120707_sao", 1996, 12, 7, 7, -9999},
      {"%y%m%d%h_sao", "26120707", "26120707_sao", 2026, 12, 7, 7, -9999},
      {"%D/%y%m%d%h_sao", "26120707_sao", "./26120707_sao", 2026, 12, 7, 7, -9999},
      {"%D/%y%m%d%h_sao", "/data/x/26120707_sao", "/data/x/26120707_sao", 2026, 12, 7, 7, -9999},
      {"%Y%m%d_%h%n", "20261207_0745", "20261207_0745", 2026, 12, 7, 7, 45},
      {"%b%d.%y", "dec07.26", "dec07.26", 2026, 12, 7, -9999, -9999},
      {"%Y%j%h", "202634107", "202634107", 2026, 12, 7, 7, -9999},
      {"obs/%y%m%d", "obs/261207", "obs/261207", 2026, 12, 7, -9999, -9999},
      {"%y%m%d%h_sao", "notes.txt", "notes.txt", -9999, -9999, -9999, -9999, -9999},
      {"%y%m%d%h_sao", "26120707_sao.old", "26120707_sao.old", 2026, 12, 7, 7, -9999},
      {"%y%m*", "2612anything", "2612anything", 2026, 12, -9999, -9999, -9999},
  };
  for (const auto& c : cases) {
    FILE_set_name((std::string("@") + c.tmpl).c_str());
    char out[FILE_NAME_SIZE];
    EXPECT_EQ(FILE_set_file(c.name, out), 0);
    EXPECT_STREQ(out, c.out) << c.tmpl << " " << c.name;
    Date got{};
    FILE_get_date(&got);
    EXPECT_EQ(got.year, c.year) << c.name;
    EXPECT_EQ(got.month, c.month) << c.name;
    EXPECT_EQ(got.day, c.day) << c.name;
    EXPECT_EQ(got.hour, c.hour) << c.name;
    EXPECT_EQ(got.min, c.min) << c.name;
  }
}

TEST_F(NameConv, WrittenNamesReadBackToTheirDate) {
  const char* templates[] = {"%Y%m%d%h%n", "%y%j_%h", "%b%d%y.%h", "%D/%Y/%m/%d%h.grd"};
  const Date d = make_date(2027, 2, 28, 18, 30);
  for (const char* tmpl : templates) {
    const std::string name = name_for(tmpl, d);
    char out[FILE_NAME_SIZE];
    FILE_set_file(name.c_str(), out);
    EXPECT_EQ(name, out) << tmpl;
    Date got{};
    FILE_get_date(&got);
    EXPECT_EQ(got.year, 2027) << tmpl;
    EXPECT_EQ(got.month, 2) << tmpl;
    EXPECT_EQ(got.day, 28) << tmpl;
    EXPECT_EQ(got.hour, 18) << tmpl;
  }
}

TEST_F(NameConv, LiteralStandardStreamAndHashNames) {
  char out[FILE_NAME_SIZE];
  FILE_set_name("@%y%m%d%h");
  FILE_set_file("@my file", out);
  EXPECT_STREQ(out, "my file");
  FILE_set_file("-", out);
  EXPECT_STREQ(out, "-");
  FILE_set_file("none", out);
  EXPECT_STREQ(out, "none");

  FILE_set_name("@-");
  FILE_set_file("26120707", out);
  EXPECT_STREQ(out, "-");
  EXPECT_EQ(FILE_set_date(nullptr, out), 1);
  EXPECT_STREQ(out, "-");

  // A "#" after the first character cuts the name and requests a time.
  FILE_set_name("@%y%m%d%h");
  FILE_set_file("26120707#2026120812", out);
  EXPECT_STREQ(out, "26120707");
  Date requested{};
  FILE_get_time(&requested);
  EXPECT_EQ(requested.year, 2026);
  EXPECT_EQ(requested.day, 8);
  EXPECT_EQ(requested.hour, 12);
  EXPECT_EQ(requested.min, -9999);

  // Without a convention the name is taken as it stands.
  FILE_set_name("none");
  FILE_set_file("plain.dat", out);
  EXPECT_STREQ(out, "plain.dat");
  EXPECT_EQ(FILE_set_date(nullptr, out), 1);
  EXPECT_STREQ(out, "plain.dat");
}

TEST_F(NameConv, ExtractedPathGivesNeighboursFromTheSameDirectory) {
  RES_put("data_path", "/elsewhere/");
  RES_put("model", "/elsewhere");
  char out[FILE_NAME_SIZE];
  FILE_set_name("@%D/%y%m%d%h_sao");
  FILE_set_file("/data/obs/26120707_sao", out);
  EXPECT_STREQ(out, "/data/obs/26120707_sao");
  const Date next = make_date(2026, 12, 7, 8);
  EXPECT_EQ(FILE_set_date(&next, out), 0);
  EXPECT_STREQ(out, "/data/obs/26120708_sao");
  const Date later = make_date(2026, 12, 7, 9);
  FILE_set_date(&later, out);
  EXPECT_STREQ(out, "/data/obs/26120709_sao") << "a series stays in the named directory";

  FILE_set_name("@%{model}/sub/%y%m%d%h");
  FILE_set_file("/data/run/sub/26120707", out);
  EXPECT_STREQ(out, "/data/run/sub/26120707");
  FILE_set_date(&next, out);
  EXPECT_STREQ(out, "/data/run/sub/26120708");

  // A name built from the template is not literal: the resource applies again.
  FILE_set_name("@%D/%y%m%d%h_sao");
  FILE_set_date(&next, out);
  EXPECT_STREQ(out, "/elsewhere/26120708_sao");
}

TEST_F(NameConv, ConventionFileLookup) {
  write_table(
      "# type template header min\n"
      "grd_grd %G/%y%m%d%h.grd - 100\n"
      "SFC  %D/%y%m%d%h.%e\n"
      "upa_cvt %D/%y%m%d%h.upa %D/%y%m%d.hdr\n"
      "sfc_syn %D/never\n");
  char out[FILE_NAME_SIZE];
  const Date d = make_date(2026, 12, 7, 7);

  EXPECT_EQ(FILE_set_name("GRD_grd"), 1);
  EXPECT_EQ(FILE_get_min_size(), 100);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "./26120707.grd");
  EXPECT_EQ(FILE_hdr_set_date(&d, out), 0);
  EXPECT_STREQ(out, "");

  // The earlier, shorter type wins as a partial match and supplies the extension.
  EXPECT_EQ(FILE_set_name("sfc_syn"), 1);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "./26120707.syn");
  EXPECT_EQ(FILE_set_name("sfc_metar"), 1);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "./26120707.metar");

  EXPECT_EQ(FILE_set_name("upa_cvt"), 1);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "./26120707.upa");
  EXPECT_EQ(FILE_hdr_set_date(&d, out), 1);
  EXPECT_STREQ(out, "./261207.hdr");
  char current[FILE_NAME_SIZE];
  FILE_get_filename(current);
  EXPECT_STREQ(current, "./26120707.upa") << "a header name must not replace the data name";
  std::strcpy(out, "keep");
  Date no_year = unset();
  EXPECT_EQ(FILE_hdr_set_date(&no_year, out), 0);
  EXPECT_STREQ(out, "keep");

  // No matching line: the type text becomes the template.
  EXPECT_EQ(FILE_set_name("%y_raw"), 0);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "26_raw");

  // Keys written into the type are cut off before the lookup.
  EXPECT_EQ(FILE_set_name("grd_grd:m=eta:l=500"), 1);
  char key[FILE_KEY_SIZE];
  FILE_get_key('m', key);
  EXPECT_STREQ(key, "eta");
  FILE_get_key('l', key);
  EXPECT_STREQ(key, "500");

  EXPECT_EQ(FILE_set_name("None"), 0);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "filename");
}

TEST_F(NameConv, LongConventionLinesAreCutNotSplit) {
  // The tail of an over-long line must not be read as a line of its own.
  write_table("skip " + std::string(155, 'x') + "upa_long %y%m%d%h\n" + "other %h\n");
  EXPECT_EQ(FILE_set_name("upa_long"), 0);
  EXPECT_EQ(FILE_set_name("other"), 1);
}

TEST_F(NameConv, MissingConventionFileUsesTheTypeAsTemplate) {
  RES_put("file_path", "/nonexistent/dir");
  EXPECT_EQ(FILE_set_name("%y%m%d"), 0);
  char out[FILE_NAME_SIZE];
  const Date d = make_date(2026, 12, 7, 7);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "261207");
}

TEST_F(NameConv, ExtensionLearnedFromAName) {
  write_table("sfc %y%m%d%h.%e\n");
  EXPECT_EQ(FILE_set_name("sfc"), 1);
  char out[FILE_NAME_SIZE];
  FILE_set_file("26120707.synop", out);
  EXPECT_STREQ(out, "26120707.synop");
  const Date d = make_date(2026, 12, 7, 8);
  FILE_set_date(&d, out);
  EXPECT_STREQ(out, "26120708.synop");
}

TEST_F(NameConv, ConventionTextSaveAndRestore) {
  EXPECT_EQ(FILE_set_name_conv("10800 %y%m%d%3h %y%m%d.hdr"), 0);
  char text[FILE_CONV_SIZE];
  FILE_get_name_conv(text);
  EXPECT_STREQ(text, "10800 %y%m%d%3h %y%m%d.hdr");
  FILE_set_filename("/abs/name");
  FILE_save_name_conv();
  FILE_set_name_conv("60 %n");
  FILE_set_filename("other");
  FILE_get_name_conv(text);
  EXPECT_STREQ(text, "60 %n ");
  FILE_restore_name_conv();
  FILE_get_name_conv(text);
  EXPECT_STREQ(text, "10800 %y%m%d%3h %y%m%d.hdr");
  EXPECT_STREQ(FILE_get_filename(nullptr), "/abs/name");
  EXPECT_EQ(FILE_set_name_conv("not a number"), -1);
  // A small caller buffer is cut, not overrun.
  char small[8];
  FILE_get_name_conv(small, sizeof small);
  EXPECT_STREQ(small, "10800 %");
}

TEST_F(NameConv, OverLongTextIsCutNeverOverrun) {
  const std::string tmpl = "@" + std::string(300, 'a') + "%y";
  FILE_set_name(tmpl.c_str());
  struct {
    char name[FILE_NAME_SIZE];
    char canary[8];
  } buffer;
  std::memset(buffer.canary, 'C', sizeof buffer.canary);
  const Date d = make_date(2026, 12, 7, 7);
  FILE_set_date(&d, buffer.name);
  EXPECT_EQ(std::strlen(buffer.name), FILE_NAME_SIZE - 1);
  EXPECT_EQ(std::string(buffer.canary, 8), "CCCCCCCC");

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
  EXPECT_STREQ(early, "-+x");

  FILE_set_type(1);
  FILE_set_name("@%y%m%d%h.grd");
  char out[FILE_NAME_SIZE];
  FILE_set_file("26120707.grd:vort", out);
  EXPECT_STREQ(out, "26120707.grd");
  EXPECT_STREQ(FILE_get_ext_info(), ":vort");
  FILE_set_type(0);
}

}  // namespace

namespace {

TEST(DefaultConventions, ShippedFileCoversTheReaders) {
  RES_clear();
  RES_put("file_path", QAZ_SHARE_SRC);
  RES_put("grid_path", "/g");
  RES_put("model_path", "/m");
  RES_put("data_path", "/d");
  RES_put("raw_path", "/r");
  FILE_reset_time();
  struct Case {
    const char* type;
    const char* name;
  };
  const Case cases[] = {
      {"grd_grd", "/g/26120707.grd"},   {"grd_cdf", "/g/26120707.nc"},
      {"grd_sat", "/g/26120707.sat"},   {"grib", "/m/26120707.grib"},
      {"grib2", "/m/26120707.grib2"},   {"upa_cvt", "/d/26120707.upa"},
      {"upa_snd", "/d/26120707_snd"},   {"upa_cdf", "/d/26120707_upa.nc"},
      {"raw_sao", "/r/26120707.sao"},   {"sfc_metar", "/d/26120707_metar"},
  };
  const Date d = make_date(2026, 12, 7, 7);
  for (const auto& c : cases) {
    EXPECT_EQ(FILE_set_name(c.type), 1) << c.type;
    char out[FILE_NAME_SIZE];
    FILE_set_date(&d, out);
    EXPECT_STREQ(out, c.name) << c.type;
    EXPECT_EQ(FILE_get_late_off(), 3600) << c.type;
    EXPECT_GT(FILE_get_min_size(), 0) << c.type;
  }
  FILE_set_name("none");
  RES_clear();
}

}  // namespace
