// Output that cannot be written is a failure of the program: a full disc shows only when the
// buffered data is flushed at the close, and that must still change the exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace {

struct Case {
    const char* name;
    std::string command;   // run in the shell, its own output discarded
};

TEST(WriteFailures, FullDiscGivesANonZeroExit)
{
    // A program run as root that replaced the device (a create with truncation by a library
    // that unlinks first) would leave a plain file that takes every write.
    struct stat st {};
    if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "/dev/full is not the full device here";
    const std::string gridcalc = QAZ_BIN_DIR "/gridcalc -fp " QAZ_SHARE_SRC "/ " QAZ_SHARE_SRC "/sample.grb2,var=7 copy = ";
    const std::string soundcalc = QAZ_BIN_DIR "/soundcalc -fp " QAZ_SHARE_SRC "/ " QAZ_SHARE_SRC "/sample_upa.txt ";
    const Case cases[] = {
        {"gridcalc file", gridcalc + "/dev/full"},
        {"gridcalc standard output", gridcalc + "- > /dev/full"},
        {"soundcalc raw file", soundcalc + "-of /dev/full"},
        {"soundcalc raw on standard output", soundcalc + "-of - > /dev/full"},
        {"soundcalc table", soundcalc + "> /dev/full"},
    };
    for (const Case& c : cases) {
        const int wstatus = std::system(("(" + c.command + ") 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(wstatus)) << c.name;
        EXPECT_NE(WEXITSTATUS(wstatus), 0) << c.name;
    }
}

}  // namespace
