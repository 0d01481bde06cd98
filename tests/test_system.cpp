#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "files.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "system.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void clear_table() {
  for (int slot = 0; slot < QAZ_MAX_PROCS; ++slot) QAZ_clr_proc(slot);
}

class System : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qaz_sys_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    clear_table();
    QAZ_set_outfile("");
    QAZ_set_infile("");
  }
  void TearDown() override {
    QAZ_set_outfile("");
    QAZ_set_infile("");
    clear_table();
    fs::remove_all(dir_);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  // Feeds the text to stdin for the prompts.
  void input(const std::string& text) const {
    std::ofstream(path("stdin")) << text;
    ASSERT_NE(std::freopen(path("stdin").c_str(), "r", stdin), nullptr);
  }
  fs::path dir_;
};

// Blocks until the child has ended, leaving it unreaped for the code under test.
void wait_until_ended(int pid) {
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

int return_arg(int arg) { return arg; }
int crash(int) {
  std::abort();
}
// Looks, as another user, at the slot of a process this user may not signal.
int probe_as_nobody(int pid) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 99;
  QAZ_set_proc(0, pid);
  return QAZ_chk_proc(0);
}
int detach_and_mark(int marker_index) {
  const int result = QAZ_back_proc();  // the caller's process exits with 0 here
  const std::string marker = "/tmp/qaz_sys_detached_" + std::to_string(marker_index);
  std::ofstream(marker) << result;
  _exit(0);
}

}  // namespace

TEST(Version, FixedText) {
  const std::string version = QAZ_version();
  EXPECT_GT(version.size(), std::strlen("-LINUX-X11"));
  EXPECT_EQ(version.substr(version.size() - 10), "-LINUX-X11");
  EXPECT_EQ(QAZ_get_pid(), static_cast<int>(getpid()));
}

TEST_F(System, ProcessTableSlots) {
  EXPECT_EQ(QAZ_add_proc(101, "first"), 0);
  EXPECT_EQ(QAZ_add_proc(102, "a_very_long_program_name"), 1);
  EXPECT_STREQ(QAZ_proc_name(1), "a_very_long_pr");  // 14 characters
  EXPECT_EQ(QAZ_proc(102), 1);
  EXPECT_EQ(QAZ_proc(999), -1);
  QAZ_clr_proc(0);
  EXPECT_EQ(QAZ_proc_id(0), -1);
  EXPECT_STREQ(QAZ_proc_name(0), "");
  EXPECT_EQ(QAZ_add_proc(103, "reuse"), 0);  // the first free slot is reused
  EXPECT_GE(QAZ_numproc(), 2);
  QAZ_set_proc(0, 104);
  EXPECT_EQ(QAZ_proc(104), 0);
  for (int pid = 200; pid < 208; ++pid) EXPECT_GE(QAZ_add_proc(pid, "fill"), 2);
  EXPECT_EQ(QAZ_add_proc(300, "eleventh"), -1);
  EXPECT_EQ(QAZ_numproc(), QAZ_MAX_PROCS);
  EXPECT_EQ(QAZ_proc_id(QAZ_MAX_PROCS), -1);  // outside the table
  EXPECT_EQ(QAZ_chk_proc(-1), 0);
}

TEST_F(System, RunForegroundStatuses) {
  char* true_argv[] = {const_cast<char*>("true"), nullptr};
  EXPECT_EQ(QAZ_run("/bin/true", true_argv, nullptr, 0), 0);
  char* false_argv[] = {const_cast<char*>("false"), nullptr};
  EXPECT_EQ(QAZ_run("false", false_argv, nullptr, 0), 1);  // found on the command path
  testing::internal::CaptureStderr();
  char* none_argv[] = {const_cast<char*>("qaz_no_such_program"), nullptr};
  EXPECT_EQ(QAZ_run("qaz_no_such_program", none_argv, nullptr, 0), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Running qaz_no_such_program"),
            std::string::npos);
  EXPECT_EQ(QAZ_run_func(return_arg, 7), 7);
  EXPECT_EQ(QAZ_run_func(crash, 0), 128 + SIGABRT);  // a crash is not reported as success
}

TEST_F(System, RunRedirectsEnvironmentAndDirectory) {
  std::ofstream(path("in.txt")) << "copied\n";
  QAZ_set_infile(path("in.txt").c_str());
  QAZ_set_outfile(path("out.txt").c_str());
  char* cat_argv[] = {const_cast<char*>("cat"), nullptr};
  EXPECT_EQ(QAZ_run("cat", cat_argv, nullptr, 0), 0);
  EXPECT_EQ(read_all(path("out.txt")), "copied\n");

  QAZ_set_infile("");
  char* sh_argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                     const_cast<char*>("echo \"$QAZ_T\""), nullptr};
  char* env[] = {const_cast<char*>("QAZ_T=storm"), nullptr};
  EXPECT_EQ(QAZ_run("/bin/sh", sh_argv, env, 0), 0);
  EXPECT_EQ(read_all(path("out.txt")), "storm\n");

  char* pwd_argv[] = {const_cast<char*>("pwd"), nullptr};
  EXPECT_EQ(QAZ_run("/bin/pwd", pwd_argv, nullptr, 1), 0);
  std::string where = read_all(path("out.txt"));
  ASSERT_FALSE(where.empty());
  where.pop_back();
  EXPECT_EQ(fs::canonical(where), fs::canonical("/bin"));

  // A name longer than the field is refused: its cut form would be some other file.
  const std::string long_name = path("") + std::string(80, 'o');
  const std::string cut_name = long_name.substr(0, QAZ_PROC_FILE_SIZE - 1);
  testing::internal::CaptureStderr();
  QAZ_set_outfile(long_name.c_str());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("ignored"), std::string::npos);
  char* true_argv[] = {const_cast<char*>("true"), nullptr};
  EXPECT_EQ(QAZ_run("true", true_argv, nullptr, 0), 0);
  EXPECT_FALSE(fs::exists(cut_name)) << cut_name;
  EXPECT_FALSE(fs::exists(long_name));

  QAZ_set_infile(path("missing").c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(QAZ_run("cat", cat_argv, nullptr, 0), 1);  // redirection failed
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot redirect"), std::string::npos);
}

TEST_F(System, BackgroundChildrenAndFullTable) {
  char* sleep_argv[] = {const_cast<char*>("sleep"), const_cast<char*>("5"), nullptr};
  const int slot = QAZ_run("sleep", sleep_argv, nullptr, 2);
  ASSERT_GE(slot, 0);
  EXPECT_STREQ(QAZ_proc_name(slot), "sleep");
  EXPECT_EQ(QAZ_chk_proc(slot), 1);
  const int pid = QAZ_proc_id(slot);
  kill(pid, SIGTERM);
  wait_until_ended(pid);
  EXPECT_EQ(QAZ_chk_proc(slot), 0);  // ended: the slot is freed
  EXPECT_EQ(QAZ_proc_id(slot), -1);

  // A background child that ends while a foreground one runs leaves the table.
  char* true_argv[] = {const_cast<char*>("true"), nullptr};
  const int quick = QAZ_run("true", true_argv, nullptr, 2);
  ASSERT_GE(quick, 0);
  wait_until_ended(QAZ_proc_id(quick));
  EXPECT_EQ(QAZ_run("true", true_argv, nullptr, 0), 0);
  EXPECT_EQ(QAZ_proc_id(quick), -1);

  // A process that may not be signalled still exists.
  if (getuid() == 0) {
    EXPECT_EQ(QAZ_run_func(probe_as_nobody, static_cast<int>(getpid())), 1);
  }

  for (int i = 0; i < QAZ_MAX_PROCS; ++i) QAZ_add_proc(1000000 + i, "fake");
  EXPECT_EQ(QAZ_run("true", true_argv, nullptr, 2), 0);  // eleventh: not started
}

// A foreground run waits for its own child only: a stream started by FILE_open that ends
// meanwhile keeps its exit status for FILE_close.
TEST_F(System, RunLeavesOtherChildrenToTheirOwners) {
  char* true_argv[] = {const_cast<char*>("true"), nullptr};
  for (const bool as_func : {false, true}) {
    FILE* stream = FILE_open("|echo x; exit 3", "r");
    ASSERT_NE(stream, nullptr);
    char line[8];
    EXPECT_NE(std::fgets(line, sizeof line, stream), nullptr);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0);  // ended, not reaped
    if (as_func)
      EXPECT_EQ(QAZ_run_func(return_arg, 4), 4);
    else
      EXPECT_EQ(QAZ_run("true", true_argv, nullptr, 0), 0);
    const int status = FILE_close(stream);
    ASSERT_NE(status, -1) << "the stream's status was taken by the run";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
  }
}

TEST_F(System, BackProcDetachesIntoChild) {
  const std::string marker = "/tmp/qaz_sys_detached_" + std::to_string(getpid());
  fs::remove(marker);
  EXPECT_EQ(QAZ_run_func(detach_and_mark, getpid()), 0);  // the parent side exits 0
  for (int tries = 0; tries < 250 && read_all(marker).empty(); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(read_all(marker), "1");
  fs::remove(marker);
}

TEST_F(System, SetCommandAndExit) {
  EXPECT_EQ(QAZ_set_command("set title=Storm"), 1);
  ASSERT_NE(RES_get("title"), nullptr);
  EXPECT_STREQ(RES_get("title"), "Storm");
  EXPECT_EQ(QAZ_set_command("SET  area = big region"), 1);
  EXPECT_STREQ(RES_get("area"), "big region");
  EXPECT_EQ(QAZ_set_command("settings.dat"), 0);  // a word that only begins with set
  EXPECT_EQ(QAZ_set_command("hello"), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(QAZ_set_command("set"), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Set resources"), std::string::npos);
  EXPECT_EXIT(QAZ_set_command("Exit"), ::testing::ExitedWithCode(0), "");
}

TEST_F(System, PromptsAskAgainAfterCommands) {
  testing::internal::CaptureStdout();
  input("set title=Storm\n12.5\n");
  EXPECT_FLOAT_EQ(QAZ_promptf("Value: "), 12.5f);
  EXPECT_STREQ(RES_get("title"), "Storm");
  input("abc\n\n42 more\n");
  EXPECT_EQ(QAZ_promptd("Number: "), 42);
  input("  first second\n");
  char word[81];
  EXPECT_STREQ(QAZ_promptl("Word: ", word), "first");
  input("abcdef\n");
  char small[4];
  EXPECT_STREQ(QAZ_prompts("Text: ", small, sizeof small), "abc");
  input("  \nxy\n");
  char* made = QAZ_prompts("Text: ", nullptr, 10);
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made, "xy");
  std::free(made);
  input(std::string(200, 'a') + "\n7\n");  // an over-long line is dropped whole
  EXPECT_EQ(QAZ_promptd("Number: "), 7);
  // Answers outside the range of the type are no value: never a wrapped or infinite one.
  input("99999999999\n-99999999999\n2147483647\n");
  EXPECT_EQ(QAZ_promptd("Number: "), 2147483647);
  input("1e999\nnan\ninf\n-2.5e3\n");
  EXPECT_FLOAT_EQ(QAZ_promptf("Value: "), -2500.0f);
  input("");  // end of input: no endless asking
  EXPECT_EQ(QAZ_promptd("Number: "), -9999);
  EXPECT_FLOAT_EQ(QAZ_promptf("Value: "), -9999.0f);
  EXPECT_EQ(QAZ_promptl("Word: ", word), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Value: Value: "), std::string::npos);  // asked twice
  input("exit\n");
  EXPECT_EXIT(QAZ_promptd("Number: "), ::testing::ExitedWithCode(0), "");
}

TEST(Timing, SleepAndElapsedTime) {
  QAZ_init_time();
  EXPECT_EQ(QAZ_sleep(0.0f), -1);
  EXPECT_EQ(QAZ_sleep(-1.0f), -1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(QAZ_sleep(1e30f), -1);  // no time value holds it: refused, not cut short
  EXPECT_EQ(QAZ_sleep(std::numeric_limits<float>::infinity()), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(QAZ_sleep_total(), 0.0f);  // refused sleeps do not count
  const float first = QAZ_elapse_time();
  EXPECT_GE(first, 0.0f);
  EXPECT_EQ(QAZ_sleep(0.05f), 0);
  EXPECT_FLOAT_EQ(QAZ_sleep_total(), 0.05f);
  const float second = QAZ_elapse_time();
  EXPECT_GE(second - first, 0.045f);
  EXPECT_LT(second, 5.0f);
  float previous = second;
  for (int i = 0; i < 1000; ++i) {
    const float now = QAZ_elapse_time();
    EXPECT_GE(now, previous);
    previous = now;
  }
}

TEST(Memory, VirtualSizeIsPlausible) {
  const long long size = QAZ_get_virt_mem();
  EXPECT_GT(size, 1024LL * 1024);
}
