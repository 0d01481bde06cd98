// Resource exchange with a running loop window, against the loopstub program run as a
// separate process on its own queue key.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mqueue.hpp"
#include "resrc.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kLoopstub = std::string(QAZ_BIN_DIR) + "/loopstub";

// A loopstub process on queue key `key`; killed and its queue removed on destruction,
// whatever happened in the test.
class Loopstub {
public:
    Loopstub(int key, const char* mode) : key_(key) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            const std::string wn = std::to_string(key);
            if (mode)
                execl(kLoopstub.c_str(), "loopstub", "-wn", wn.c_str(), mode, static_cast<char*>(nullptr));
            else
                execl(kLoopstub.c_str(), "loopstub", "-wn", wn.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The stub prints its window number once its queue exists.
        char line[32] = "";
        FILE* f = fdopen(out[0], "r");
        ready_ = f && std::fgets(line, sizeof line, f) != nullptr;
        if (f) std::fclose(f);
        else close(out[0]);
    }
    ~Loopstub() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        const int qid = msgget(key_, 0);
        if (qid >= 0) msgctl(qid, IPC_RMID, nullptr);
    }
    bool ready() const { return ready_; }

private:
    int key_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

int unused_key(int salt) { return 200000 + (static_cast<int>(getpid()) % 100000) * 4 + salt; }

std::string write_file(const std::string& name, const std::string& text) {
    const std::filesystem::path& dir = scratch_dir("qaz_resrc_window_test");
    const std::string path = (dir / name).string();
    std::ofstream(path) << text;
    return path;
}

std::string get(const char* name) {
    const char* v = RES_get(name);
    return v ? v : "<absent>";
}

class ResrcWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kLoopstub.c_str(), X_OK) != 0) GTEST_SKIP() << "loopstub not built";
        RES_clear();
        MQ_offset(0);
        MQ_settype(0);
        MQ_timeout(10);
        unsetenv("qazdefault");
    }
    void TearDown() override { RES_clear(); }

    // Definitions named like the stub's settings, plus one the stub does not know.
    void decode(const std::string& path, std::vector<const char*> words) {
        RES_fill_obj(&defs_[0], "title", "qaztitle", "ti", CV_string, nullptr, nullptr);
        RES_fill_obj(&defs_[1], "rate", "qazrate", "ra", CV_int, &rate_, nullptr);
        RES_fill_obj(&defs_[2], "direction", "qazdirection", "di", CV_string, nullptr, nullptr);
        RES_fill_obj(&defs_[3], "speedup", "qazspeedup", "su", CV_string, nullptr, nullptr);
        defs_[4] = RES_defobj{};
        words.insert(words.begin(), "prog");
        const std::string option = "-df=" + path;
        words.insert(words.begin() + 1, option.c_str());
        RES_decode(nullptr, nullptr, static_cast<int>(words.size()), words.data(), defs_);
    }

    RES_defobj defs_[5];
    int rate_ = -1;
};

TEST_F(ResrcWindowTest, ValuesComeFromTheWindowAndGoBackToIt) {
    const int key = unused_key(0);
    Loopstub stub(key, nullptr);
    ASSERT_TRUE(stub.ready());
    const std::string window = "#" + std::to_string(key);
    const std::string file = write_file("own.def", "*.direction backward\n*.speedup 3\n");

    // The window's values replace those of earlier files; the command line is sent to it.
    decode(file + ":" + window, {"-rate", "42"});
    EXPECT_EQ(get("title"), "loopstub");
    EXPECT_EQ(get("direction"), "forward");
    EXPECT_EQ(get("speedup"), "3");   // unknown to the window: the program's own value stays
    EXPECT_EQ(rate_, 42);

    // A second program reading the window sees the value set by the first one.
    RES_clear();
    rate_ = -1;
    decode(window, {"-direction", "rock"});
    EXPECT_EQ(rate_, 42);
    EXPECT_EQ(get("title"), "loopstub");

    RES_clear();
    decode(window, {});
    EXPECT_EQ(get("direction"), "rock");
}

// A window has 19 connection slots: a search path naming it more often than that only
// works when every connection but the last is ended before the next one is made.
TEST_F(ResrcWindowTest, EarlierWindowsInThePathAreLeft) {
    const int key = unused_key(0);
    Loopstub stub(key, nullptr);
    ASSERT_TRUE(stub.ready());
    MQ_timeout(3);
    std::string path;
    for (int i = 0; i < 25; ++i) path += (i ? ":#" : "#") + std::to_string(key);
    testing::internal::CaptureStderr();
    decode(path, {"-rate", "9"});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("unable to connect"), std::string::npos) << err;
    EXPECT_EQ(rate_, 9);
    EXPECT_EQ(get("title"), "loopstub");
}

TEST_F(ResrcWindowTest, OverlongRequestIsNotSent) {
    const int key = unused_key(1);
    Loopstub stub(key, nullptr);
    ASSERT_TRUE(stub.ready());
    const std::string window = "#" + std::to_string(key);
    const std::string long_title(MQ_TEXT_MAX, 't');   // "set res title <118 chars>" is too long
    testing::internal::CaptureStderr();
    decode(window, {"-title", long_title.c_str()});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("request too long"), std::string::npos) << err;
    EXPECT_EQ(get("title"), long_title);   // still stored locally

    RES_clear();
    decode(window, {});
    EXPECT_EQ(get("title"), "loopstub");   // the window did not receive a cut text
}

TEST_F(ResrcWindowTest, MissingOrClosingWindowIsSkipped) {
    const int absent = unused_key(2);
    const std::string file = write_file("fallback.def", "*.rate 7\n");
    testing::internal::CaptureStderr();
    decode(file + ":#" + std::to_string(absent), {"-title", "x"});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("QAZloop window: " + std::to_string(absent) +
                       " not running or no message queue exists\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(rate_, 7);
    EXPECT_EQ(get("title"), "x");

    // A window that closes the connection at the first query: nothing more is sent to it,
    // so decoding ends at once instead of waiting for replies that never come.
    const int key = unused_key(3);
    Loopstub stub(key, "-notrunning");
    ASSERT_TRUE(stub.ready());
    RES_clear();
    rate_ = -1;
    const auto start = std::chrono::steady_clock::now();
    decode(file + ":#" + std::to_string(key), {"-title", "y"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_EQ(rate_, 7);
    EXPECT_EQ(get("title"), "y");

    testing::internal::CaptureStderr();
    decode("#notanumber", {});
    EXPECT_NE(testing::internal::GetCapturedStderr().find("notanumber"), std::string::npos);
}

}  // namespace
