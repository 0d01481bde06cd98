#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "files.hpp"
#include "flag.hpp"
#include "mess.hpp"

namespace {

namespace fs = std::filesystem;

class FileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qaz_fs_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  fs::path dir_;
};

std::string home_dir() {
  const passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

}  // namespace

TEST(FileNames, StandardStreamsAndFullPaths) {
  for (const char* name : {"", "-", "std", "STD", "stdn", "StdN"})
    EXPECT_EQ(FILE_is_stdio(name), 1) << name;
  for (const char* name : {"stdin", "x", "--"}) EXPECT_EQ(FILE_is_stdio(name), 0) << name;
  EXPECT_EQ(FILE_fullpath("/a"), 1);
  EXPECT_EQ(FILE_fullpath("./a"), 1);
  EXPECT_EQ(FILE_fullpath("~/a"), 1);
  EXPECT_EQ(FILE_fullpath("a/b"), 0);
  EXPECT_EQ(FILE_exist("stdn"), 1);
}

TEST(FileNames, AddPathJoinsOnce) {
  const struct {
    const char* path;
    const char* file;
    const char* expected;
  } cases[] = {
      {"data/", "x", "data/x"}, {"data", "x", "data/x"}, {"data", "/abs/x", "/abs/x"},
      {"data", "-", "-"},       {"", "x", "x"},          {nullptr, "x", "x"},
  };
  for (const auto& c : cases) {
    char name[FILE_NAME_SIZE];
    EXPECT_STREQ(FILE_add_path(c.path, c.file, name), c.expected) << c.file;
  }
  char small[8];
  testing::internal::CaptureStderr();
  FILE_add_path("directory", "file", small, sizeof small);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cut"), std::string::npos);
  EXPECT_STREQ(small, "directo");

  char delim[6] = "abcd";
  EXPECT_EQ(FILE_add_path_delim(delim, sizeof delim), 0);
  EXPECT_STREQ(delim, "abcd/");
  EXPECT_EQ(FILE_add_path_delim(delim, sizeof delim), 0);  // already ends in "/"
  char full[5] = "abcd";
  testing::internal::CaptureStderr();
  EXPECT_EQ(FILE_add_path_delim(full, sizeof full), -1);   // no room: left alone
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(full, "abcd");
  char empty[4] = "";
  FILE_add_path_delim(empty, sizeof empty);
  EXPECT_STREQ(empty, "");
}

TEST(FileNames, HomeExpansion) {
  const std::string home = home_dir();
  ASSERT_FALSE(home.empty());
  const passwd* pw = getpwuid(getuid());
  const std::string user = pw->pw_name;
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"~", home},
      {"~/data/x", home + "/data/x"},
      {"~" + user + "/y", home + "/y"},
      {"~no_such_user_qaz/z", "~no_such_user_qaz/z"},
      {"plain/~x", "plain/~x"},
  };
  for (const auto& c : cases) {
    char name[FILE_NAME_SIZE];
    EXPECT_EQ(FILE_add_user_path(c.input.c_str(), name), c.expected) << c.input;
  }
}

TEST_F(FileSystem, KindsSizesAndTimes) {
  write("f.txt", "12345");
  mkfifo(path("pipe").c_str(), 0600);
  EXPECT_EQ(FILE_is_file(path("f.txt").c_str()), 1);
  EXPECT_EQ(FILE_is_dir(dir_.c_str()), 1);
  EXPECT_EQ(FILE_is_dir(path("f.txt").c_str()), 0);
  EXPECT_EQ(FILE_is_fifo(path("pipe").c_str()), 1);
  EXPECT_EQ(FILE_is_device("/dev/null"), 1);
  EXPECT_EQ(FILE_is_device(path("f.txt").c_str()), 0);
  EXPECT_EQ(FILE_size(path("f.txt").c_str()), 5);
  EXPECT_EQ(FILE_size(path("none").c_str()), -1);
  EXPECT_GT(FILE_modtime(path("f.txt").c_str()), 1600000000);
  EXPECT_EQ(FILE_modtime(path("none").c_str()), -1);
  EXPECT_EQ(FILE_exist(path("none").c_str()), 0);
  EXPECT_EQ(FILE_delete(path("f.txt").c_str()), 0);
  EXPECT_EQ(FILE_exist(path("f.txt").c_str()), 0);
  EXPECT_EQ(FILE_delete(path("f.txt").c_str()), -1);
}

TEST_F(FileSystem, MakeDirCreatesMissingComponents) {
  std::string name = path("a\\b/c.dat");  // backslashes count as delimiters
  EXPECT_EQ(FILE_make_dir(name.data(), 1), 0);
  EXPECT_EQ(name, path("a/b/c.dat"));
  EXPECT_TRUE(fs::is_directory(path("a/b")));
  EXPECT_FALSE(fs::exists(path("a/b/c.dat")));
  EXPECT_EQ(FILE_make_dir(name.data(), 1), 1);  // parent exists now

  std::string whole = path("a/b/d");  // flag 0: the directory itself is wanted too
  EXPECT_EQ(FILE_make_dir(whole.data(), 0), 1);
  EXPECT_TRUE(fs::is_directory(path("a/b/d")));

  // "~" is the home directory, not a directory of that name where the program stands.
  const std::string home = home_dir();
  std::string up = "~";  // from the home directory back to the root
  for (std::size_t i = 0; i + 1 < home.size(); ++i)
    if (home[i] == '/' && home[i + 1] != '/') up += "/..";
  const bool tilde_before = fs::exists("~");
  std::string from_home = up + path("h/i.dat");
  EXPECT_EQ(FILE_make_dir(from_home.data(), 1), 0);
  EXPECT_TRUE(fs::is_directory(path("h")));
  EXPECT_EQ(fs::exists("~"), tilde_before);
  EXPECT_EQ(from_home, up + path("h/i.dat")) << "the caller's text keeps its ~";
}

TEST_F(FileSystem, OpenStreamsPipesAndDirectories) {
  EXPECT_EQ(FILE_open("-", "w"), stdout);
  EXPECT_EQ(FILE_open("std", "r"), stdin);
  EXPECT_EQ(FILE_close(stdout), 0);  // standard streams stay open

  FILE* out = FILE_open(path("x/y/z.dat").c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs("data\n", out);
  EXPECT_EQ(FILE_close(out), 0);
  EXPECT_EQ(FILE_size(path("x/y/z.dat").c_str()), 5);

  FILE* in = FILE_open(("|cat " + path("x/y/z.dat")).c_str(), "r");
  ASSERT_NE(in, nullptr);
  char line[16] = "";
  ASSERT_NE(std::fgets(line, sizeof line, in), nullptr);
  EXPECT_STREQ(line, "data\n");
  EXPECT_EQ(FILE_close(in), 0);

  // Appending to a pipe still writes through it.
  FILE* pipe_out = FILE_open(("|cat > " + path("piped")).c_str(), "a");
  ASSERT_NE(pipe_out, nullptr);
  std::fputs("through\n", pipe_out);
  EXPECT_EQ(FILE_close(pipe_out), 0);
  EXPECT_EQ(FILE_size(path("piped").c_str()), 8);

  FILE* failing = FILE_open("|exit 3", "r");
  ASSERT_NE(failing, nullptr);
  EXPECT_NE(FILE_close(failing), 0);  // the command's failure is not lost

  EXPECT_EQ(FILE_open(path("missing").c_str(), "r"), nullptr);
  EXPECT_EQ(FILE_open(nullptr, "r"), nullptr);
  // A directory named as input is refused, not handed out as a stream that reads nothing.
  EXPECT_EQ(FILE_open(dir_.c_str(), "r"), nullptr);

  // A name written with "\" is opened where its directories were made.
  FILE* back = FILE_open(path("p\\q\\r.dat").c_str(), "w");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(FILE_close(back), 0);
  EXPECT_TRUE(fs::is_regular_file(path("p/q/r.dat")));
  EXPECT_FALSE(fs::exists(path("p\\q\\r.dat")));
}

TEST_F(FileSystem, TypeFromMagic) {
  const struct {
    const char* name;
    const char* head;
    int code;
  } cases[] = {
      {"sfc", "QAZSFC 1", FILE_TYPE_SFC},  {"upa", "QAZUPA", FILE_TYPE_UPA},
      {"raw", "QAZRAW\n", FILE_TYPE_RAW},  {"grd", "QAZGRID4xx", FILE_TYPE_GRID},
      {"meta", "QAZMETA", FILE_TYPE_META}, {"img", "QAZIMG", FILE_TYPE_IMAGE},
      {"short", "QAZ", -1},                {"other", "GRIB", -1},
      {"empty", "", -1},
  };
  for (const auto& c : cases) {
    write(c.name, c.head);
    EXPECT_EQ(FILE_type(path(c.name).c_str()), c.code) << c.name;
  }
  EXPECT_EQ(FILE_type(path("grd-1").c_str()), FILE_TYPE_GRID);  // suffix after "-"
  EXPECT_EQ(FILE_type(path("nothing-1").c_str()), -1);
  fs::create_directory(path("run-2"));
  write("run-2/raw", "QAZRAW");
  write("run", "QAZUPA");  // the "-" of the directory is no suffix
  EXPECT_EQ(FILE_type(path("run-2/raw-x").c_str()), FILE_TYPE_RAW);
  EXPECT_EQ(FILE_type(path("run-2/upa").c_str()), -1);
  EXPECT_EQ(FILE_type(path("none").c_str()), -1);
  // A FIFO is not opened: that would wait for a writer and consume its data.
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(FILE_type(path("fifo").c_str()), -1);
  EXPECT_EQ(FILE_type(path("fifo-1").c_str()), -1);
  EXPECT_EQ(FILE_type(dir_.c_str()), -1);
}

TEST_F(FileSystem, OverwriteDecisions) {
  write("old", "x");
  const std::string old = path("old");
  FLAG_reset(-9999);
  EXPECT_EQ(FILE_overwrite(path("new").c_str(), 2), 1);
  EXPECT_EQ(FILE_overwrite("-", 2), 1);
  FLAG_set(15, 2);  // an answer given on the command line
  EXPECT_EQ(FILE_overwrite(old.c_str(), 2), 2);
  // A caller that cannot append never gets "append": the file is kept, with a warning.
  testing::internal::CaptureStderr();
  EXPECT_EQ(FILE_overwrite(old.c_str(), 1), 3);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 7), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot append"), std::string::npos);
  FLAG_set(15, 1);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 1), 1);
  FLAG_set(15, 3);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 1), 3);
  FLAG_set(15, -9999);
  FLAG_set_batch(1);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 2), 3);
  FLAG_set_batch(0);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 7), 0);

  const struct {
    int flag;
    const char* answer;
    int expected;
  } answers[] = {{2, "a\n", 2}, {2, "over\n", 1}, {2, "n\n", 3}, {1, "A\n", 3},
                 {1, "y\n", 1}, {1, "\nUse\n", 3}};
  for (const auto& a : answers) {
    write("answer", a.answer);
    ASSERT_NE(std::freopen(path("answer").c_str(), "r", stdin), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(FILE_overwrite(old.c_str(), a.flag), a.expected) << a.answer;
    const std::string prompt = testing::internal::GetCapturedStdout();
    EXPECT_NE(prompt.find(a.flag == 2 ? "exists overwrite (Y,N,Use,Over,App): "
                                      : "exists overwrite (Y,N,Use,Over): "),
              std::string::npos);
  }
  // A name longer than a file-name buffer still gets the whole question.
  const std::string long_name = path(std::string(200, 'n'));
  write(std::string(200, 'n'), "x");
  write("answer", "a\n");
  ASSERT_NE(std::freopen(path("answer").c_str(), "r", stdin), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(FILE_overwrite(long_name.c_str(), 2), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            long_name + ": exists overwrite (Y,N,Use,Over,App): ");
}
