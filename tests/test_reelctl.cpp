// End-to-end tests: reelctl and loopstub as separate processes over real System V queues
// and loopback TCP. Keys and ports derive from the test's process id (window numbers
// above 1000 are keys); guards kill the loopstub child and remove every queue, also on
// failure. Build the reelctl and loopstub targets before running these.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>

#include <algorithm>
#include <numeric>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "channel_helpers.hpp"
#include "mqueue.hpp"

using namespace chan_test;

namespace {

const std::string kReelctl = QAZ_BIN_DIR "/reelctl";
const std::string kLoopstub = QAZ_BIN_DIR "/loopstub";
constexpr int kWindowBase = 6496;

struct Result {
    int status = -1;
    std::string out, err;
    double seconds = 0;
};

[[noreturn]] void exec_child(const std::vector<std::string>& args)
{
    // Nothing from the caller's environment may steer the programs under test.
    for (const char* name : {"qazwindownum", "qazparam", "qazcommand", "qazmess", "qazdefault", "qazbatch"})
        unsetenv(name);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

std::string slurp(FILE* file)
{
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

constexpr int kOwnUser = -1;
constexpr int kNobody = 65534;

// Runs a program to its end (killed after 30 s) with input on its standard input, as
// user as_user when one is given (the test must then run as root).
Result run(const std::vector<std::string>& args, const std::string& input = "", int as_user = kOwnUser)
{
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    int in[2];
    if (out == nullptr || err == nullptr || pipe(in) < 0) return {};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        close(in[1]);
        if (as_user != kOwnUser && (setgid(as_user) != 0 || setuid(as_user) != 0)) _exit(126);
        exec_child(args);
    }
    close(in[0]);
    signal(SIGPIPE, SIG_IGN);
    (void)!write(in[1], input.data(), input.size());   // short texts: they fit the pipe
    close(in[1]);
    int wstatus = 0;
    for (int waited_ms = 0; waitpid(pid, &wstatus, WNOHANG) == 0; waited_ms += 2) {
        if (waited_ms == 30000) kill(pid, SIGKILL);
        usleep(2000);
    }
    Result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

// A program left running with its standard input open, for tests that act on it midway.
struct Running {
    pid_t pid = -1;
    int in = -1;
    FILE* out = nullptr;
    FILE* err = nullptr;
};

// out_fd, when given, becomes the child's standard output instead of a file.
Running start(const std::vector<std::string>& args, const std::vector<int>& closed_fds = {}, int out_fd = -1)
{
    Running child;
    child.out = std::tmpfile();
    child.err = std::tmpfile();
    int in[2];
    if (child.out == nullptr || child.err == nullptr || pipe(in) < 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(in[0], 0);
        dup2(out_fd >= 0 ? out_fd : fileno(child.out), 1);
        dup2(fileno(child.err), 2);
        close(in[1]);
        for (int fd : closed_fds) close(fd);
        signal(SIGPIPE, SIG_DFL);   // as from a shell, whatever this process ignores
        exec_child(args);
    }
    close(in[0]);
    child.in = in[1];
    return child;
}

std::string file_text(FILE* file)
{
    std::string text;
    std::fflush(file);
    std::string buffer(4096, '\0');
    for (off_t at = 0;; at += static_cast<off_t>(buffer.size())) {
        ssize_t n = pread(fileno(file), buffer.data(), buffer.size(), at);
        if (n <= 0) break;
        text.append(buffer.data(), static_cast<size_t>(n));
    }
    return text;
}

// Waits (up to 10 s) until the child has written piece to its standard output.
bool wait_for_output(const Running& child, const std::string& piece)
{
    for (int waited = 0; waited < 10000; waited += 10) {
        if (file_text(child.out).find(piece) != std::string::npos) return true;
        usleep(10000);
    }
    return false;
}

// Closes the child's input and waits for its end (killed after 30 s); raw wait status.
int finish(Running& child, Result* result = nullptr)
{
    if (child.in >= 0) close(child.in);
    child.in = -1;
    int wstatus = 0;
    for (int waited_ms = 0; waitpid(child.pid, &wstatus, WNOHANG) == 0; waited_ms += 10) {
        if (waited_ms == 30000) kill(child.pid, SIGKILL);
        usleep(10000);
    }
    if (result != nullptr) {
        result->status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        result->out = file_text(child.out);
        result->err = file_text(child.err);
    }
    std::fclose(child.out);
    std::fclose(child.err);
    return wstatus;
}

int count_of(const std::string& text, const std::string& piece)
{
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

bool queue_exists(int key) { return msgget(key, 0) >= 0; }

// A new, empty queue under key, in place of any left from an earlier run; its id or -1.
int fresh_queue(int key)
{
    remove_queue(key);
    return msgget(key, IPC_CREAT | IPC_EXCL | 0600);
}

// The window's side of a connect, played by a test: takes the request, grants the id.
void grant_connection(int qid, int id)
{
    std::string request;
    EXPECT_GT(raw_receive(qid, 1, &request, 5000), 0) << "no connect request";
    EXPECT_EQ(raw_send(qid, 2, body_of('2', std::to_string(id))), 0);
}

// The next request on the window's queue (code character and text), waiting up to 5 s.
std::string next_request(int qid)
{
    std::string request;
    EXPECT_GT(raw_receive(qid, 1, &request, 5000), 0) << "no request";
    return request;
}

struct QueueGuard {
    std::vector<int> keys;
    ~QueueGuard()
    {
        for (int key : keys) remove_queue(key);
    }
};

// A loopstub child on one key or port, stopped and cleaned up on destruction.
class Stub {
public:
    Stub(int key, bool socket, std::vector<std::string> extra = {}) : key_(key), socket_(socket)
    {
        if (!socket) remove_queue(key);
        std::vector<std::string> args{kLoopstub, "-wn", std::to_string(key)};
        if (socket) args.insert(args.end(), {"-qtype", "sock"});
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) < 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            exec_child(args);
        }
        close(out[1]);
        // The window number on its output says the channel is open.
        pollfd pfd{out[0], POLLIN, 0};
        char buffer[64];
        ready_ = poll(&pfd, 1, 5000) > 0 && read(out[0], buffer, sizeof buffer) > 0;
        close(out[0]);
    }
    ~Stub()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!socket_) remove_queue(key_);
    }
    bool ready() const { return ready_; }
    bool exits_within(int limit_ms)
    {
        for (int waited = 0; waited < limit_ms && !exited_; waited += 10) {
            exited_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
            if (!exited_) usleep(10000);
        }
        return exited_;
    }

private:
    int key_;
    bool socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
    bool exited_ = false;
};

struct Transport {
    const char* name;
    bool socket;
};
void PrintTo(const Transport& transport, std::ostream* os) { *os << transport.name; }

class ReelctlEndToEnd : public ::testing::TestWithParam<Transport> {
protected:
    bool socket() const { return GetParam().socket; }
    int address(int n) const { return socket() ? unique_port(n) : unique_key(n); }
    std::vector<std::string> reelctl(int addr, std::vector<std::string> words, const char* timeout = "to=3")
    {
        std::vector<std::string> args{kReelctl, "-wn=" + std::to_string(addr), "-pa",
                                      std::string(timeout) + (socket() ? ",qtype=sock" : "")};
        args.insert(args.end(), words.begin(), words.end());
        return args;
    }
};

TEST_P(ReelctlEndToEnd, OneShotRepliesAndSettings)
{
    Stub stub(address(0), socket());
    ASSERT_TRUE(stub.ready());
    Result help = run(reelctl(address(0), {"help"}));
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.out.find("Commands:\n"), 0u) << "progress lines are hidden for a one-shot command";
    EXPECT_NE(help.out.find("stop the loop window\nSettings: rate"), std::string::npos) << "every line of the reply";
    EXPECT_EQ(count_of(help.out, "\n"), 9);
    EXPECT_EQ(help.err, "");

    Result set = run(reelctl(address(0), {"-me", "mess", "rate", "7"}));
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("Opening message queue\n"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("Connected to QAZloop\nCommand:rate 7\nrate=7\n"), std::string::npos) << set.out;
    EXPECT_EQ(run(reelctl(address(0), {"rate"})).out, "rate=7\n");
    EXPECT_EQ(run(reelctl(address(0), {"%s%n%x%p"})).out, "Unknown command: %s%n%x%p (type help)\n");

    // A -1 reply prints nothing and ends at once: no second "quit" waiting for an answer.
    Result quit = run(reelctl(address(0), {"quit"}));
    EXPECT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(quit.out, "");
    EXPECT_LT(quit.seconds, 2.0);
    EXPECT_EQ(run(reelctl(address(0), {"frame"})).out, "frame=1\n") << "the window still serves";
}

TEST_P(ReelctlEndToEnd, StopRemovesTheQueueAndExits7)
{
    Stub stub(address(1), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(1), {"stop"}));
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "") << "the queue is removed once, by reelctl";
    EXPECT_TRUE(stub.exits_within(3000));
    EXPECT_FALSE(queue_exists(address(1)));
    EXPECT_EQ(run(reelctl(address(1), {"rate"})).status, 7);
}

TEST_P(ReelctlEndToEnd, NotRunningExits14WithItsMessage)
{
    Stub stub(address(2), socket(), {"-notrunning"});
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(2), {"rate", "5"}));
    EXPECT_EQ(r.status, 14);
    EXPECT_EQ(r.err, "QAZloop not running, reelctl stopped!\n");
    EXPECT_LT(r.seconds, 2.0);
}

TEST_P(ReelctlEndToEnd, SilentServerTimesOutAndMissingWindowFails)
{
    Stub stub(address(3), socket(), {"-silent"});
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(3), {"help"}, "to=1"));
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Queue not responding!!\n"), std::string::npos) << r.err;
    EXPECT_GT(r.seconds, 0.8);
    EXPECT_LT(r.seconds, 4.0);

    Result missing = run(reelctl(address(4), {"help"}));
    EXPECT_EQ(missing.status, 7);
    EXPECT_EQ(missing.err, "QAZloop program not running or no message queue exists\n");
}

TEST_P(ReelctlEndToEnd, InteractiveInputEndingAtEndOfFile)
{
    Stub stub(address(5), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(5), {}), "frame 42\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "frame=42"), 1) << "the last line must not be sent again:\n" << r.out;
    EXPECT_NE(r.out.find("   Type help for help\nMessage:1: frame=42\nMessage:2: \n"), std::string::npos) << r.out;
    EXPECT_LT(r.seconds, 2.0);

    const std::string longest = "title " + std::string(73, 't');   // 79 characters
    Result longer = run(reelctl(address(5), {}), "frame " + std::string(74, '9') + "\nframe\n" + longest + "\ntitle\n");
    EXPECT_EQ(longer.status, 0);
    EXPECT_NE(longer.err.find("Line longer than 79 characters ignored"), std::string::npos) << longer.err;
    EXPECT_NE(longer.out.find("Message:1: Message:1: frame=42\n"), std::string::npos) << longer.out;
    EXPECT_EQ(count_of(longer.out, "title=" + std::string(73, 't') + "\n"), 2) << longer.out;

    Result q = run(reelctl(address(5), {}), "quit\nframe 7\n");
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out.find("Message:2:"), std::string::npos) << "nothing is read after quit:\n" << q.out;
    EXPECT_EQ(run(reelctl(address(5), {"frame"})).out, "frame=42\n");
}

TEST_P(ReelctlEndToEnd, MalformedTrafficLeavesTheWindowServing)
{
    Stub stub(address(6), socket());
    ASSERT_TRUE(stub.ready());
    if (socket()) {
        for (const std::string& junk : {std::string(1, '\0'), std::string("\x80/x"), frame('F', "1")}) {
            int fd = raw_connect(address(6));
            ASSERT_GE(fd, 0);
            raw_write(fd, junk);
            usleep(50000);
            close(fd);
        }
    } else {
        int qid = msgget(address(6), 0);
        ASSERT_GE(qid, 0);
        for (const std::string& junk : {'3' + std::string(119, 'x'), body_of('Z', "x"), body_of('\x01', "x"),
                                       '\x01' + std::string(300, 'x')})
            ASSERT_EQ(raw_send(qid, 1, junk), 0);
    }
    Result r = run(reelctl(address(6), {"frame"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "frame=1\n");
}

// The channel's trace (top debug bit) in the order of the exchange: connect, the
// command, its reply, "quit" and its goodbye.
TEST_P(ReelctlEndToEnd, ChannelTraceFormats)
{
    Stub stub(address(7), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(7), {"-me", "print,error,warn,+debugd", "frame"}));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string uid = std::to_string(getuid());
    const int uid_length = static_cast<int>(uid.size()) + 1;
    std::vector<std::string> expected;
    if (socket()) {
        expected = {"Opened socket\n",
                    "Connected to socket\n",
                    "Send: " + std::to_string(uid_length + 1) + " " + std::to_string(uid_length) + " 47 => " + uid + "\n",
                    "Received: 3 2 50 => 3\n",
                    "Send: 7 6 51 => frame\n",
                    "Received: 10 9 48 => frame=1\n\n",
                    "frame=1\n",
                    "Send: 6 5 51 => quit\n",
                    "Received: 10 9 47 => Goodbye\n\n"};
    } else {
        expected = {"PUT:-1:/" + uid + "\n", "GET-MSG:2 120 0 1\n", "GET:23\n",
                    "PUT:3:3frame\n",         "GET-MSG:3 120 0 1\n", "GET:0frame=1\n\n",
                    "frame=1\n",              "PUT:3:3quit\n",       "GET-MSG:3 120 0 1\n",
                    "GET:/Goodbye\n\n"};
    }
    std::size_t at = 0;
    for (const auto& line : expected) {
        auto found = r.out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "after offset " << at << " in:\n" << r.out;
        at = found + line.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, ReelctlEndToEnd,
                         ::testing::Values(Transport{"mqueue", false}, Transport{"sock", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reelctl, HelpListingAndOverlongCommand)
{
    // "-h" gives "alloc" back as the command: help wins, nothing is allocated.
    Result r = run({kReelctl, "-h", "alloc"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> expected{
        "reelctl : This program makes changes to the qazloop program\n",
        "reelctl syntax (version:",   // then the version text
        "\n   reelctl [options...]\nKeyed options...\n"
        " -df file    Resource/defaults file name\n -na name    Program name\n"
        " -h          Print this help\n -ba         Run program in batch mode\n"
        " -me level   Message level to be displayed:\n"
        "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"
        " -fp path    File path\n -wn",      // the option text of the window number is free
        "  QAZLoop window number\n -pa param[,...]  Program parameters\n"
        "Positional options...\n command     Commands to be run\n",
    };
    std::size_t at = 0;
    for (const auto& piece : expected) {
        auto found = r.out.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << "\nin:\n" << r.out;
        EXPECT_LT(found - at, 30u) << "only the version or the option text in between";
        at = found + piece.size();
    }
    EXPECT_EQ(at, r.out.size());

    Result longer = run({kReelctl, "-wn=" + std::to_string(unique_key(20)), std::string(119, 'a')});
    EXPECT_EQ(longer.status, 7);
    EXPECT_NE(longer.err.find("longer than 118"), std::string::npos) << longer.err;
}

TEST(Reelctl, WindowNumberThatIsNoNumberIsRefused)
{
    for (const char* bad : {"abc", "99999999999", "-"}) {
        Result r = run({kReelctl, std::string("-wn=") + bad, "test"});
        EXPECT_EQ(r.status, 7) << bad;
        EXPECT_EQ(r.out, "") << bad << ": window 0 must not be looked at";
        EXPECT_NE(r.err.find(std::string("reelctl: bad window number: ") + bad + "\n"), std::string::npos) << r.err;
    }
}

TEST(Reelctl, LoadsNoDataFormatLibraries)
{
    FILE* listing = popen(("ldd " + kReelctl + " 2>&1").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    std::string libraries;
    for (int c; (c = std::fgetc(listing)) != EOF;) libraries += static_cast<char>(c);
    pclose(listing);
    EXPECT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    for (const char* name : {"netcdf", "openjp2", "jasper", "hdf5"})
        EXPECT_EQ(libraries.find(name), std::string::npos) << name << " in\n" << libraries;
}

int first_free_window(int from)
{
    for (int w = from; w < from + 50; ++w)
        if (!queue_exists(kWindowBase + w)) return w;
    return -1;
}

// Held while a test uses the fixed window numbers from 20, where alloc searches: the
// same test run from another build tree at the same time would take the same windows.
struct FixedWindowLock {
    int fd = open("/tmp/qaz_fixed_windows.lock", O_RDONLY | O_CREAT, 0644);
    FixedWindowLock()
    {
        if (fd >= 0) flock(fd, LOCK_EX);
    }
    ~FixedWindowLock()
    {
        if (fd >= 0) close(fd);
    }
};

// The only test on the fixed window numbers from 20.
TEST(Reelctl, FixedWindowsAllocAndTest)
{
    FixedWindowLock lock;
    QueueGuard guard;
    int first = first_free_window(20);
    ASSERT_GE(first, 20);
    const std::string options[] = {"-wn=" + std::to_string(first), "-wn=" + std::to_string(kWindowBase + first)};
    for (const auto& option : options) EXPECT_EQ(run({kReelctl, option, "test"}).out, "not found\n");
    EXPECT_EQ(run({kReelctl, options[0], "test"}).status, 7);

    guard.keys.push_back(kWindowBase + first);
    ASSERT_GE(msgget(kWindowBase + first, IPC_CREAT | IPC_EXCL | 0600), 0);
    for (const auto& option : options) {
        Result r = run({kReelctl, option, "test"});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out, "found\n");
    }

    int second = first_free_window(first + 1);
    guard.keys.push_back(kWindowBase + second);
    ASSERT_GE(msgget(kWindowBase + second, IPC_CREAT | IPC_EXCL | 0600), 0);
    int expected = first_free_window(20);
    if (first == 20 && second == 21) {
        EXPECT_EQ(expected, 22);
    }
    Result alloc = run({kReelctl, "alloc"});
    EXPECT_EQ(alloc.status, 0);
    EXPECT_EQ(alloc.out, std::to_string(expected) + "\n");
    EXPECT_FALSE(queue_exists(kWindowBase + expected)) << "alloc creates nothing";

    guard.keys.push_back(kWindowBase + expected);
    Result create = run({kReelctl, "ALLOC_CREATE"});
    EXPECT_EQ(create.status, 0);
    EXPECT_EQ(create.out, "+" + std::to_string(expected) + "\n");
    EXPECT_TRUE(queue_exists(kWindowBase + expected));
}

// Callers started together can all find the same free window; each must still end up
// with a queue of its own, and none may report a window it did not create.
TEST(Reelctl, SimultaneousAllocCreateGetDistinctWindows)
{
    FixedWindowLock lock;
    QueueGuard guard;
    std::vector<int> taken_before;
    for (int w = 20; w < 80; ++w)
        if (queue_exists(kWindowBase + w)) taken_before.push_back(w);
    auto new_windows = [&] {
        std::vector<int> made;
        for (int w = 20; w < 80; ++w)
            if (queue_exists(kWindowBase + w) &&
                std::find(taken_before.begin(), taken_before.end(), w) == taken_before.end())
                made.push_back(w);
        return made;
    };
    constexpr int kCallers = 6;
    for (int round = 0; round < 3; ++round) {
        std::vector<Running> callers;
        for (int i = 0; i < kCallers; ++i) callers.push_back(start({kReelctl, "alloc_create"}));
        std::vector<Result> results(kCallers);
        for (int i = 0; i < kCallers; ++i) finish(callers[i], &results[i]);
        const std::vector<int> made = new_windows();
        for (int w : made) guard.keys.push_back(kWindowBase + w);

        std::vector<int> printed;
        for (const Result& r : results) {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            int window = -1;
            if (std::sscanf(r.out.c_str(), "+%d", &window) == 1) printed.push_back(window);
        }
        std::sort(printed.begin(), printed.end());
        EXPECT_EQ(printed, made) << "every caller its own window, each one created";
        for (int w : made) remove_queue(kWindowBase + w);
    }
}

#if defined(__x86_64__)
// Runs "reelctl alloc_create" traced, playing another caller that wins the race: at each
// of the first `steals` queue creations the key is created by the test just before
// reelctl's own call. The keys so taken are added to stolen. status -2 when tracing is
// not possible here.
Result alloc_create_losing_races(int steals, std::vector<int>& stolen)
{
    Result result;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);   // the leak check cannot run traced
        exec_child({kReelctl, "alloc_create"});
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);   // stopped at the exec, or gone when tracing was refused
    if (!WIFSTOPPED(wstatus)) {
        result.status = -2;
        return result;
    }
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    bool entering = true;
    int deliver = 0;
    for (;;) {
        if (ptrace(PTRACE_SYSCALL, pid, nullptr, deliver) != 0) break;
        deliver = 0;
        if (waitpid(pid, &wstatus, 0) < 0 || WIFEXITED(wstatus) || WIFSIGNALED(wstatus)) break;
        if (WSTOPSIG(wstatus) != (SIGTRAP | 0x80)) {
            deliver = WSTOPSIG(wstatus);
            continue;
        }
        user_regs_struct regs{};
        if (entering && ptrace(PTRACE_GETREGS, pid, nullptr, &regs) == 0 && regs.orig_rax == SYS_msgget &&
            (regs.rsi & IPC_CREAT) && steals > 0) {
            --steals;
            const int key = static_cast<int>(regs.rdi);
            if (msgget(key, IPC_CREAT | IPC_EXCL | 0600) >= 0) stolen.push_back(key);
        }
        entering = !entering;
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = slurp(out);
    result.err = slurp(err);
    return result;
}

// A caller that loses the race for its free window moves on to the next free one, and
// gives up after a bounded number of losses without claiming any window.
TEST(Reelctl, AllocCreateLosingTheRaceTakesTheNextWindow)
{
    FixedWindowLock lock;
    QueueGuard guard;
    std::vector<int> free_before;
    for (int w = 20; w < 70 && free_before.size() < 3; ++w)
        if (!queue_exists(kWindowBase + w)) free_before.push_back(w);
    ASSERT_EQ(free_before.size(), 3u);
    const int expected = free_before[2];
    guard.keys.push_back(kWindowBase + expected);
    std::vector<int> stolen;
    Result r = alloc_create_losing_races(2, stolen);
    for (int key : stolen) guard.keys.push_back(key);
    if (r.status == -2) GTEST_SKIP() << "tracing a child is not permitted here";
    EXPECT_EQ(stolen, (std::vector<int>{kWindowBase + free_before[0], kWindowBase + free_before[1]})) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "+" + std::to_string(expected) + "\n");
    EXPECT_TRUE(queue_exists(kWindowBase + expected));

    for (int key : stolen) remove_queue(key);
    stolen.clear();
    r = alloc_create_losing_races(1000, stolen);
    for (int key : stolen) guard.keys.push_back(key);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "") << "no window may be claimed";
    EXPECT_NE(r.err.find("Unable to Allocate new message queue"), std::string::npos) << r.err;
    EXPECT_GE(stolen.size(), 2u);
    EXPECT_LE(stolen.size(), 20u) << "the retries must be bounded";
}
#endif

TEST(Reelctl, CleanAndClearMesg)
{
    int key = unique_key(30);
    QueueGuard guard{{key}};
    int qid = fresh_queue(key);
    ASSERT_GE(qid, 0);
    const std::string window = "-wn=" + std::to_string(key);
    for (const auto& words : std::vector<std::vector<std::string>>{{"clear mesg"}, {"clear", "mesg"}}) {
        for (long type : {1L, 2L, 5L, 21L}) ASSERT_EQ(raw_send(qid, type, body_of('0', "x")), 0);
        std::vector<std::string> args{kReelctl, window};
        args.insert(args.end(), words.begin(), words.end());
        Result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pending(qid), 0);
    }

    Result clean = run({kReelctl, window, "clean"});
    EXPECT_EQ(clean.status, 7);
    EXPECT_EQ(clean.out + clean.err, "");
    EXPECT_FALSE(queue_exists(key));
    Result missing = run({kReelctl, window, "clean"});
    EXPECT_EQ(missing.status, 7);
    EXPECT_EQ(missing.err, "Message queue not found!\nQAZloop program not running or no message queue exists\n");
}

// A window whose queue belongs to another user: it is there, but nothing may be drained
// or removed, and a drain that could not read the queue is no success.
TEST(Reelctl, QueueOfAnotherUser)
{
    if (getuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    int key = unique_key(33);
    QueueGuard guard{{key}};
    int qid = fresh_queue(key);
    ASSERT_GE(qid, 0);
    ASSERT_EQ(raw_send(qid, 2, body_of('2', "3")), 0);
    const std::string window = "-wn=" + std::to_string(key);

    Result test = run({kReelctl, window, "test"}, "", kNobody);
    if (test.status == 127) GTEST_SKIP() << "the build tree is closed to other users";
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(test.out, "found\n") << test.err;

    Result clear = run({kReelctl, window, "clear mesg"}, "", kNobody);
    EXPECT_EQ(clear.status, 7) << "nothing was drained";
    EXPECT_EQ(clear.err, "Unable to clear message queue: Permission denied\n");

    Result talk = run({kReelctl, window, "-pa", "to=5", "frame"}, "", kNobody);
    EXPECT_EQ(talk.status, 7);
    EXPECT_EQ(talk.err, "Unable to connect to QAZloop program\n");
    EXPECT_LT(talk.seconds, 3.0) << "no wait for an answer that cannot come";

    Result clean = run({kReelctl, window, "clean"}, "", kNobody);
    EXPECT_EQ(clean.status, 7);
    EXPECT_EQ(clean.err, "Unable to clean up queue!\n");
    EXPECT_TRUE(queue_exists(key));
    EXPECT_EQ(pending(qid), 1);
}

// The window's queue vanishes after the connect (the loop program went away): a command
// typed then never reaches it, and the conversation must not end as a success.
TEST(Reelctl, CommandThatCannotBeSentIsAFailure)
{
    int key = unique_key(34);
    QueueGuard guard{{key}};
    int qid = fresh_queue(key);
    ASSERT_GE(qid, 0);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[1]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(fileno(err), 2);
        exec_child({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=3"});
    }
    close(in[0]);
    // Play the window for the handshake, then take its queue away.
    grant_connection(qid, 3);
    for (int waited = 0; waited < 5000 && pending(qid) > 0; waited += 10) usleep(10000);
    msgctl(qid, IPC_RMID, nullptr);
    signal(SIGPIPE, SIG_IGN);
    (void)!write(in[1], "frame\n", 6);
    close(in[1]);
    int wstatus = 0;
    for (int waited_ms = 0; waitpid(pid, &wstatus, WNOHANG) == 0; waited_ms += 10) {
        if (waited_ms == 10000) kill(pid, SIGKILL);
        usleep(10000);
    }
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 7) << wstatus;
    EXPECT_EQ(slurp(err), "Unable to send to QAZloop program\n");
}

// Connect request written by hand; the id granted, or -1.
int queue_connect(int qid)
{
    std::string reply;
    if (raw_send(qid, 1, body_of('/', "0")) < 0 || raw_receive(qid, 2, &reply, 3000) < 0) return -1;
    return std::atoi(reply.c_str() + 1);
}

// True when all 19 slots of the window can be connected at once (each grant distinct).
bool all_slots_free(int qid)
{
    std::vector<int> ids;
    for (int client = 0; client < MQ_MAX_CLIENTS; ++client) ids.push_back(queue_connect(qid));
    std::sort(ids.begin(), ids.end());
    std::vector<int> all(MQ_MAX_CLIENTS);
    std::iota(all.begin(), all.end(), MQ_FIRST_CONN);
    return ids == all;
}

// Interrupting an interactive session must not cost the window a connection slot:
// after 19 such, it would answer nobody.
TEST(Reelctl, InterruptedSessionGivesItsSlotBack)
{
    int key = unique_key(35);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        Running session = start({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=5"});
        ASSERT_TRUE(wait_for_output(session, "Message:1: ")) << sig;
        kill(session.pid, sig);
        int wstatus = finish(session);
        EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == sig) << "ends as interrupted: " << wstatus;
    }
    // Output into a pipe whose reader has gone (reelctl | head -1): the first prompt
    // cannot be written.
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    close(out[0]);
    Running piped = start({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=5"}, {}, out[1]);
    close(out[1]);
    int wstatus = finish(piped);
    EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGPIPE) << wstatus;

    // A hang-up ignored from the start (nohup) stays ignored: the session carries on.
    Running kept = start({"/bin/sh", "-c", "trap '' HUP; exec " + kReelctl + " -wn=" + std::to_string(key) + " -pa to=5"});
    ASSERT_TRUE(wait_for_output(kept, "Message:1: "));
    kill(kept.pid, SIGHUP);
    usleep(100000);
    EXPECT_EQ(waitpid(kept.pid, nullptr, WNOHANG), 0) << "still running";
    (void)!write(kept.in, "rate\n", 5);
    Result r;
    finish(kept, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("rate=10"), std::string::npos) << r.out;
    EXPECT_TRUE(all_slots_free(msgget(key, 0))) << "every interrupted session said goodbye";
}

// A window too slow for the time-out still gets a "quit" to find when it catches up;
// otherwise every such time-out would cost it a slot for good.
TEST(Reelctl, TimeOutLeavesAQuitForTheSlowWindow)
{
    int key = unique_key(38);
    QueueGuard guard{{key}};
    int qid = fresh_queue(key);
    ASSERT_GE(qid, 0);
    Running client = start({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=1", "rate"});
    std::string request;
    grant_connection(qid, 4);
    EXPECT_EQ(next_request(qid).substr(0, 5), "4rate");
    Result r;
    finish(client, &r);
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Queue not responding!!"), std::string::npos) << r.err;
    ASSERT_EQ(raw_receive(qid, 1, &request), 120);
    EXPECT_EQ(request, body_of('4', "quit"));
    EXPECT_EQ(pending(qid), 0) << "one goodbye";
}

// Bytes that are no text must not turn into a different command, nor swallow the next.
TEST(Reelctl, InteractiveLineWithANulByteIsIgnored)
{
    int key = unique_key(36);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    const std::string window = "-wn=" + std::to_string(key);
    Result r = run({kReelctl, window, "-pa", "to=5"}, std::string("rate 3\0\x01\xff\nrate 6\n", 16));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Line with a NUL byte ignored\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("longer than"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Message:1: Message:1: rate=6\n"), std::string::npos) << r.out;
    EXPECT_EQ(run({kReelctl, window, "rate"}).out, "rate=6\n");
}

// Reads one stream frame (waiting up to 5 s): its code and text, or code 0 when none came.
std::string read_stream_frame(int fd, char* code)
{
    *code = 0;
    char header[2];
    std::string text;
    for (int got = 0; got < 2;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0) return text;
        ssize_t n = recv(fd, header + got, 2 - got, 0);
        if (n <= 0) return text;
        got += static_cast<int>(n);
    }
    if (header[0] < 1) return text;
    text.resize(static_cast<size_t>(header[0] - 1));
    for (size_t got = 0; got < text.size();) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0) return text;
        ssize_t n = recv(fd, text.data() + got, text.size() - got, 0);
        if (n <= 0) return text;
        got += static_cast<size_t>(n);
    }
    *code = header[1];
    return text;
}

// The window disappears while reelctl waits for its reply (the test plays the window,
// so the moment is exact). The exit stays 0, but the operator learns what happened.
TEST(Reelctl, WindowVanishingDuringTheReplyIsReported)
{
    int key = unique_key(37);
    QueueGuard guard{{key}};
    int qid = fresh_queue(key);
    ASSERT_GE(qid, 0);
    Running queue_client = start({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=5", "rate"});
    grant_connection(qid, 3);
    EXPECT_EQ(next_request(qid).substr(0, 5), "3rate");
    msgctl(qid, IPC_RMID, nullptr);
    Result r;
    finish(queue_client, &r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "MQ_get: the loop window's queue is gone\n");

    int port = unique_port(8);
    int listener = listen_loopback(port);
    ASSERT_GE(listener, 0);
    // An orderly close, then a reset (what a killed window with unread data gives).
    for (bool reset : {false, true}) {
        Running stream_client = start({kReelctl, "-wn=" + std::to_string(port), "-pa", "to=5,qtype=sock", "rate"});
        pollfd pfd{listener, POLLIN, 0};
        ASSERT_GT(poll(&pfd, 1, 10000), 0);
        int server = accept(listener, nullptr, nullptr);
        char code = 0;
        read_stream_frame(server, &code);
        EXPECT_EQ(code, '/');
        raw_write(server, frame('2', "3"));
        EXPECT_EQ(read_stream_frame(server, &code), "rate");
        if (reset) {
            linger hard{1, 0};
            setsockopt(server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(server);
        finish(stream_client, &r);
        EXPECT_EQ(r.status, 0) << reset;
        EXPECT_EQ(r.err, "MQ_get: the loop window closed the connection\n") << reset;
    }
    close(listener);
}

// Started with its output closed, reelctl must not print into the window's stream: the
// window would read its own replies and the trace back as requests.
TEST(Reelctl, ClosedOutputNeverReachesTheWindow)
{
    int port = unique_port(9);
    int listener = listen_loopback(port);
    ASSERT_GE(listener, 0);
    Running client = start({kReelctl, "-wn=" + std::to_string(port), "-pa", "to=5,qtype=sock", "-me",
                            "print,error,warn,+debugd", "rate"},
                           {1});
    pollfd pfd{listener, POLLIN, 0};
    ASSERT_GT(poll(&pfd, 1, 10000), 0);
    int server = accept(listener, nullptr, nullptr);
    char code = 0;
    read_stream_frame(server, &code);
    EXPECT_EQ(code, '/');
    raw_write(server, frame('2', "3"));
    EXPECT_EQ(read_stream_frame(server, &code), "rate");
    raw_write(server, frame('0', "rate=10\n"));
    EXPECT_EQ(read_stream_frame(server, &code), "quit");
    EXPECT_EQ(code, '3');
    raw_write(server, frame('/', "Goodbye\n"));
    Result r;
    finish(client, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string rest;
    char buffer[512];
    // The client has ended: whatever it wrote is here already.
    for (ssize_t n; (n = recv(server, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        rest.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(rest, "") << "nothing but requests on the stream";
    close(server);
    close(listener);
}

// A window busy past a client's time-out grants that client a slot later, when nobody
// waits any more. The next client takes that grant and uses its slot; the grant of its own
// request is taken by the client after it, so that every slot stays usable.
TEST(Reelctl, GrantNobodyTookIsUsedByTheNextClients)
{
    int key = unique_key(39);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    int qid = msgget(key, 0);
    ASSERT_EQ(raw_send(qid, 1, body_of('/', "0")), 0);
    std::string grant;
    ASSERT_EQ(raw_receive(qid, 2, &grant, 3000), 120);   // the late grant, left lying
    ASSERT_EQ(raw_send(qid, 2, grant), 0);
    Result r = run({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=5", "rate"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "rate=10\n");
    EXPECT_TRUE(all_slots_free(qid)) << "all 19 slots usable after a client gave up";
}

// Many one-shot clients at once on one window: a grant on its way to one client must never
// be taken and hung up by another starting up, or that client waits out its time-out.
TEST(Reelctl, ConcurrentOneShotClientsAreAllAnswered)
{
    int key = unique_key(40);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    constexpr int kClients = 8;
    constexpr int kRequests = 25;
    std::vector<pid_t> workers;
    for (int c = 0; c < kClients; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kRequests; ++i) {
                Result one = run({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=4", "rate"});
                if (one.status != 0 || one.out != "rate=10\n") ++failures;
            }
            _exit(failures > 0 ? 1 : 0);
        }
        workers.push_back(pid);
    }
    int failed_workers = 0;
    for (pid_t pid : workers) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed_workers;
    }
    EXPECT_EQ(failed_workers, 0) << "every request answered";
    EXPECT_TRUE(all_slots_free(msgget(key, 0))) << "every slot given back";
}

TEST(Reelctl, TwentiethClientGetsNoAnswer)
{
    int key = unique_key(32);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    int qid = msgget(key, 0);
    for (int client = 0; client < 19; ++client) ASSERT_EQ(queue_connect(qid), 3 + client);
    Result r = run({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=1", "help"});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Queue not responding!!"), std::string::npos) << r.err;
}

TEST(Loopstub, HelpArgumentsAndCleanTermination)
{
    Result help = run({kLoopstub, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("-wn window"), std::string::npos);
    Result bad = run({kLoopstub, "-wn", "x"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad arguments"), std::string::npos);

    int key = unique_key(40);
    {
        Stub stub(key, false);
        ASSERT_TRUE(stub.ready());
        ASSERT_TRUE(queue_exists(key));
        Result rival = run({kLoopstub, "-wn", std::to_string(key)});
        EXPECT_EQ(rival.status, 1) << "a window's queue has one owner";
        EXPECT_TRUE(queue_exists(key));
    }
    EXPECT_FALSE(queue_exists(key));

    // Keys just above 1000 are below the base: still keys, not "find a free window".
    int small_key = 1001 + static_cast<int>(getpid()) % 5000;
    Stub small(small_key, false);
    ASSERT_TRUE(small.ready());
    EXPECT_TRUE(queue_exists(small_key));
    EXPECT_EQ(run({kReelctl, "-wn=" + std::to_string(small_key), "frame"}).out, "frame=1\n");
}

// A window closed by its terminal takes its queue along; a queue left behind by a killed
// one blocks the window number, and the refusal says how to free it.
TEST(Loopstub, HangUpCleansUpAndAStaleQueueIsExplained)
{
    int key = unique_key(42);
    QueueGuard guard{{key}};
    remove_queue(key);
    Running stub = start({kLoopstub, "-wn", std::to_string(key)});
    ASSERT_TRUE(wait_for_output(stub, "\n"));
    ASSERT_TRUE(queue_exists(key));
    kill(stub.pid, SIGHUP);
    int wstatus = finish(stub);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    EXPECT_FALSE(queue_exists(key));

    // Under nohup the window outlives its terminal.
    Running kept = start({"/bin/sh", "-c", "trap '' HUP; exec " + kLoopstub + " -wn " + std::to_string(key)});
    ASSERT_TRUE(wait_for_output(kept, "\n"));
    kill(kept.pid, SIGHUP);
    EXPECT_EQ(run({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=5", "frame"}).out, "frame=1\n");
    kill(kept.pid, SIGTERM);
    finish(kept);
    EXPECT_FALSE(queue_exists(key));

    ASSERT_GE(msgget(key, IPC_CREAT | IPC_EXCL | 0600), 0);   // as a SIGKILLed window leaves it
    Result refused = run({kLoopstub, "-wn", std::to_string(key)});
    EXPECT_EQ(refused.status, 1);
    const std::string advice = "reelctl -wn=" + std::to_string(key) + " clean\n";
    ASSERT_NE(refused.err.find(advice), std::string::npos) << refused.err;
    EXPECT_EQ(run({kReelctl, "-wn=" + std::to_string(key), "clean"}).status, 7);
    EXPECT_FALSE(queue_exists(key)) << "the advice works";
}

// Replies that echo the operator's text still end their line.
TEST(Loopstub, LongEchoesKeepTheirLineEnd)
{
    int key = unique_key(43);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    const std::string window = "-wn=" + std::to_string(key);
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"title", std::string(101, 'x')}, {std::string(115, 'y')}, {"rate", std::string(100, '9')}}) {
        std::vector<std::string> args{kReelctl, window};
        args.insert(args.end(), words.begin(), words.end());
        Result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.back(), '\n') << r.out;
        EXPECT_EQ(count_of(r.out, "\n"), 1) << r.out;
    }
    const std::string title(100, 't');
    EXPECT_EQ(run({kReelctl, window, "title", title}).out, "title=" + title + "\n");
}

// Started with its output closed, loopstub must not write its messages into a client's
// stream: a bad request's warning would arrive there as a reply.
TEST(Loopstub, ClosedOutputNeverReachesAClient)
{
    int port = unique_port(10);
    Running stub = start({kLoopstub, "-wn", std::to_string(port), "-qtype", "sock"}, {1, 2});
    int fd = -1;
    for (int waited = 0; waited < 10000 && (fd = raw_connect(port)) < 0; waited += 10) usleep(10000);
    ASSERT_GE(fd, 0);
    raw_write(fd, frame('Z', "x"));   // a request from no connection: warned about
    raw_write(fd, frame('/', "0"));
    char code = 0;
    EXPECT_EQ(read_stream_frame(fd, &code), "3");
    EXPECT_EQ(code, '2');
    close(fd);
    kill(stub.pid, SIGTERM);
    finish(stub);
}

TEST(Loopstub, StopTellsEveryClientAndCleansUpAfterThem)
{
    int key = unique_key(41);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    int qid = msgget(key, 0);
    ASSERT_EQ(queue_connect(qid), 3);
    ASSERT_EQ(queue_connect(qid), 4);
    ASSERT_EQ(raw_send(qid, 1, body_of('4', "stop")), 0);
    for (long id : {3L, 4L}) {
        std::string reply;
        ASSERT_EQ(raw_receive(qid, id, &reply, 3000), 120) << id;
        EXPECT_EQ(reply[0], '.') << id;
    }
    EXPECT_TRUE(stub.exits_within(4000)) << "nobody removed the queue: the stub does after a grace period";
    EXPECT_FALSE(queue_exists(key));
}

// A window that counts its remaining lines down from above 9, and one that ends the
// conversation with -12: every line is printed, and "quit" goes only to the first.
TEST(Reelctl, RepliesWithStatusesBeyondOneDigit)
{
    const struct {
        std::vector<int> statuses;
        std::string out;
        bool quit_expected;
    } cases[] = {
        {{12, 11, 10, 3, 0}, "12\n11\n10\n3\n0\n", true},
        {{12, -12}, "12\n", false},
    };
    int key = unique_key(44);
    QueueGuard guard{{key}};
    for (const auto& c : cases) {
        int qid = fresh_queue(key);
        ASSERT_GE(qid, 0);
        Running client = start({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=3", "count"});
        grant_connection(qid, 5);
        EXPECT_EQ(next_request(qid).substr(0, 6), "5count");
        for (int status : c.statuses)
            raw_send(qid, 5, body_of(static_cast<char>('0' + status), std::to_string(status) + "\n"));
        if (c.quit_expected) {
            EXPECT_EQ(next_request(qid), body_of('5', "quit"));
            raw_send(qid, 5, body_of('0' - 1, "Goodbye\n"));
        }
        Result r;
        finish(client, &r);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(pending(qid), 0) << "no quit after the window ended the conversation";
    }
}

}  // namespace
