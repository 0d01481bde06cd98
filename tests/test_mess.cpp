#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "flag.hpp"
#include "mess.hpp"
#include "system.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

class Mess : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_reset();
    FLAG_set_batch(0);
    char pattern[] = "/tmp/qaz_mess_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    MESS_reset();
    FLAG_set_batch(0);
    fs::remove_all(dir_);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST_F(Mess, LevelWordsWithLettersAndSigns) {
  const struct {
    const char* setting;
    M_type expected;
  } cases[] = {
      {"warn", 0xff},                  // set fills every bit below the highest
      {"warn,+debugd", 0x800000ff},
      {"-errora", 0xfffef},            // removes only 0x10
      {"errora", 0x1f},
      {"none", 0},
      {"debug", 0xffffffff},
      {"out1c", 0x7fff},
      {"Warning", 0xff},               // matched on its first four letters
      {"print,+ERRORB", 0x2f},
      {"mess,-printa", 0xffe},
      {"bogus", 0xfffff},              // an unknown word is ignored, not "silence all"
      {"warn, +debugd ", 0x800000ff},  // blanks around items, as in a quoted value
  };
  for (const auto& c : cases) {
    MESS_reset();
    testing::internal::CaptureStderr();
    MESS_set_str(c.setting);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(MESS_get(), c.expected) << c.setting;
    EXPECT_EQ(MESS_check_set(), 1) << c.setting;
  }
}

TEST_F(Mess, SetOperationsAndDefaults) {
  MESS_set(20, M_warn);  // a default while the user chose nothing applies
  EXPECT_EQ(MESS_get(), 0xffu);
  EXPECT_EQ(MESS_check_set(), 0);
  MESS_set(1, M_debug);
  EXPECT_EQ(MESS_get(), 0xf00000ffu);
  EXPECT_EQ(MESS_check_set(), 1);
  MESS_set(21, M_mess);  // defaults yield to the explicit choice
  EXPECT_EQ(MESS_get(), 0xf00000ffu);
  MESS_set(-1, M_error);
  EXPECT_EQ(MESS_get(), 0xf00000cfu);
  MESS_set(0, 0);
  EXPECT_EQ(MESS_get(), 0u);
  EXPECT_EQ(MESS_check(M_print), 0);
  MESS_set(11, M_print);
  EXPECT_EQ(MESS_check(M_print), 1);
}

TEST_F(Mess, ConsoleStreamsAndResult) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(MESS_print(M_print, "out %d\n", 1), 1);
  EXPECT_EQ(MESS_print(M_error, "err %s\n", "x"), 1);
  EXPECT_EQ(MESS_print(M_warn, "warn\n"), 1);
  EXPECT_EQ(MESS_print(M_debug, "hidden\n"), 0);
  MESS_print_prog("TITLE");
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, std::string("out 1\n      TITLE (Ver ") + QAZ_version() + ")\n\n");
  EXPECT_EQ(err, "err x\nwarn\n");
}

TEST_F(Mess, CopyFilesAndModes) {
  const std::string trunc = path("sub/trunc.log");
  { std::ofstream(path("keep.log")) << "old\n"; }
  testing::internal::CaptureStdout();
  MESS_set_str(("-fi=" + trunc).c_str());  // the directory is created on the way
  MESS_print(M_print, "one\n");
  MESS_set_str(("+fi=" + path("keep.log")).c_str());
  MESS_print(M_print, "two\n");
  MESS_set_str(("@fi=" + path("stamp.log")).c_str());
  MESS_print(M_print, "three\n");
  MESS_set_str(("fi=" + path("only.log")).c_str());
  EXPECT_EQ(MESS_print(M_print, "four\n"), 0);  // file only: not on the console
  const std::string console = testing::internal::GetCapturedStdout();
  MESS_reset();
  EXPECT_EQ(console, "one\ntwo\nthree\n");
  EXPECT_EQ(read_all(trunc), "one\n");
  EXPECT_EQ(read_all(path("keep.log")), "old\ntwo\n");
  const std::string stamped = read_all(path("stamp.log"));
  EXPECT_NE(stamped.find(" -- three\n"), std::string::npos) << stamped;
  EXPECT_GT(stamped.find(" -- "), 0u);
  EXPECT_EQ(read_all(path("only.log")), "four\n");
}

TEST_F(Mess, ReopenedCopyAndExtraOutputFile) {
  const std::string reopened = path("each.log");
  testing::internal::CaptureStdout();
  MESS_set_str(("dfi=" + reopened).c_str());
  MESS_print(M_print, "a\n");
  fs::remove(reopened);  // closed between messages, so the next one recreates it
  MESS_print(M_print, "b\n");
  ASSERT_EQ(MESS_file(path("extra.log").c_str(), "w"), 0);
  MESS_print(M_print, "c %d\n", 3);
  MESS_print(M_debug, "not enabled\n");
  MESS_file_close();
  MESS_print(M_print, "d\n");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_all(reopened), "b\nc 3\nd\n");
  EXPECT_EQ(read_all(path("extra.log")), "c 3\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(MESS_file(path("missing/x").c_str(), "r"), -1);
  testing::internal::GetCapturedStderr();
}

// A copy file that cannot be opened must not take the console with it.
TEST_F(Mess, UnopenableCopyFileLeavesTheConsole) {
  for (const char* setting : {"fi=/dev/null/no/such.log", "fi", "@fi=/dev/null/x", "-fi="}) {
    MESS_reset();
    testing::internal::CaptureStderr();
    MESS_set_str(setting);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("MESS_set_str: "), std::string::npos) << setting;
    testing::internal::CaptureStdout();
    EXPECT_EQ(MESS_print(M_print, "still here\n"), 1) << setting;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "still here\n") << setting;
  }
}

// The operator learns once, with the reason, that the copy file is not being written,
// also for a copy reopened for every message; the messages still reach the terminal.
TEST_F(Mess, UnopenableCopyFileIsReportedOnceWithItsReason) {
  for (const char* setting : {"+fi=/dev/null/x", "dfi=/dev/null/x"}) {
    MESS_reset();
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    MESS_set_str(setting);
    for (int i = 0; i < 3; ++i) MESS_print(M_print, "line %d\n", i);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "line 0\nline 1\nline 2\n") << setting;
    EXPECT_EQ(count_of(err, "/dev/null/x"), 1) << setting << ":\n" << err;
    EXPECT_NE(err.find("Not a directory"), std::string::npos) << setting << ":\n" << err;
  }
  // Quiet once the operator turned warnings off.
  MESS_reset();
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  MESS_set_str("error,dfi=/dev/null/x");
  MESS_print(M_print, "quiet\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "quiet\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Switching an open copy to the reopened mode closes the first copy before using the
// remembered name.
TEST_F(Mess, SwitchToReopenedCopy) {
  testing::internal::CaptureStdout();
  MESS_set_str(("dfi=" + path("each.log") + ",+fi=" + path("first.log")).c_str());
  MESS_print(M_print, "one\n");
  MESS_set_out(2);
  MESS_print(M_print, "two\n");
  MESS_print(M_print, "three\n");
  testing::internal::GetCapturedStdout();
  MESS_reset();
  EXPECT_EQ(read_all(path("first.log")), "one\n");
  EXPECT_EQ(read_all(path("each.log")), "two\nthree\n");
}

TEST_F(Mess, LineSettings) {
  MESS_set_str("line=5");
  EXPECT_EQ(MESS_get_max_lines(), 5);
  MESS_set_str("line=0");
  EXPECT_EQ(MESS_get_max_lines(), 22);
  MESS_set_str("line=7,line");
  EXPECT_EQ(MESS_get_max_lines(), 22);
}

// Paging counts the newlines of the format text; with 22 lines per page the 23rd
// newline holds once. stdin comes from a file so the hold's read is observable.
TEST_F(Mess, PagingHoldsOnceAndNeverInBatch) {
  const std::string input = path("answers");
  { std::ofstream(input) << "abcdef"; }
  for (const bool batch : {false, true}) {
    MESS_reset();
    FLAG_set_batch(batch ? 1 : 0);
    ASSERT_NE(std::freopen(input.c_str(), "r", stdin), nullptr);
    MESS_set_str("page");
    testing::internal::CaptureStdout();
    for (int i = 0; i < 22; ++i) MESS_print(M_print, "line\n");
    const long before = std::ftell(stdin);
    MESS_print(M_print, "line %d\n", 23);
    const long after = std::ftell(stdin);
    for (int i = 0; i < 21; ++i) MESS_print(M_print, "more\n");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(before, 0) << "batch " << batch;
    EXPECT_EQ(after, batch ? 0 : 1) << "batch " << batch;
    EXPECT_EQ(std::ftell(stdin), batch ? 0 : 1) << "batch " << batch;
    EXPECT_EQ(count_of(out, "Press return to continue\n"), batch ? 0 : 1) << "batch " << batch;
  }
  MESS_reset();
  ASSERT_NE(std::freopen(input.c_str(), "r", stdin), nullptr);
  MESS_set_str("nopage");
  MESS_hold(M_print, "hold\n");
  EXPECT_EQ(std::ftell(stdin), 0);
}

// A requested hold waits with the default paging setting; its prompt goes to standard
// error only for a type with both error and warning bits; disabled types, file-only
// output and batch mode never wait.
TEST_F(Mess, RequestedHoldsAndTheirStream) {
  const std::string input = path("answers");
  { std::ofstream(input) << "abcdef"; }
  ASSERT_NE(std::freopen(input.c_str(), "r", stdin), nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  MESS_hold(M_print, "to out\n");
  MESS_hold(M_error, "error only\n");
  MESS_hold(M_error | M_warn, "to err\n");
  MESS_hold(M_debug, "disabled\n");
  FLAG_set_batch(1);
  MESS_hold(M_print, "batch\n");
  FLAG_set_batch(0);
  MESS_set_str(("fi=" + path("only.log")).c_str());
  MESS_hold(M_print, "file only\n");
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "to out\nerror only\n");
  EXPECT_EQ(err, "to err\n");
  EXPECT_EQ(std::ftell(stdin), 3);
}
