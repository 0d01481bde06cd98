// End-to-end tests: reelctl and loopstub as separate processes over real System V
// queues and loopback TCP. Every test uses keys and ports derived from its own process
// id, and guards kill the loopstub child and remove every queue, also on failure.
// Build the reelctl and loopstub targets before running these.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kReelctl = QAZ_BIN_DIR "/reelctl";
const std::string kLoopstub = QAZ_BIN_DIR "/loopstub";
constexpr int kWindowBase = 6496;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

// Names that would let the caller's environment steer the programs under test.
const char* const kScrubbedEnv[] = {"qazwindownum", "qazparam", "qazcommand", "qazmess",
                                    "qazdefault",   "qazbatch", "qazhelp",    "qazfile"};

[[noreturn]] void exec_child(const std::vector<std::string>& args)
{
    for (const char* name : kScrubbedEnv) unsetenv(name);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Runs a program to its end with input on stdin; killed after limit_secs.
Result run(const std::vector<std::string>& args, const std::string& input = "", int limit_secs = 30)
{
    int in[2], out[2], err[2];
    if (pipe(in) < 0 || pipe(out) < 0 || pipe(err) < 0) return {};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        exec_child(args);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) (void)!write(in[1], input.data(), input.size());
    close(in[1]);

    Result result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_streams = 2;
    auto deadline = start + std::chrono::seconds(limit_secs);
    while (open_streams > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_streams;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

int count_of(const std::string& text, const std::string& piece)
{
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

// Queue keys given as window numbers above 1000 are used as the key itself.
int unique_key(int n) { return 0x52000000 + (static_cast<int>(getpid()) & 0xffff) * 64 + n; }
int unique_port(int n) { return 30000 + (static_cast<int>(getpid()) % 1000) * 25 + n; }

void remove_queue(int key)
{
    int id = msgget(key, 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
}

bool queue_exists(int key) { return msgget(key, 0) >= 0; }

// Removes the listed queue keys when the test ends.
struct QueueGuard {
    std::vector<int> keys;
    ~QueueGuard()
    {
        for (int key : keys) remove_queue(key);
    }
};

// A loopstub child on one key/port; stopped and cleaned up on destruction.
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
            close(out[1]);
            exec_child(args);
        }
        close(out[1]);
        out_ = out[0];
        // The window number on stdout says the channel is open.
        pollfd pfd{out_, POLLIN, 0};
        char buffer[64] = {};
        ready_ = poll(&pfd, 1, 5000) > 0 && read(out_, buffer, sizeof buffer - 1) > 0;
    }
    ~Stub()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (!socket_) remove_queue(key_);
    }
    bool ready() const { return ready_; }
    // True when the stub ends by itself within limit_ms.
    bool exits_within(int limit_ms)
    {
        for (int waited = 0; waited < limit_ms; waited += 10) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return exited_ = true;
            usleep(10000);
        }
        return false;
    }
    Stub(const Stub&) = delete;
    Stub& operator=(const Stub&) = delete;

private:
    int key_;
    bool socket_;
    pid_t pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    bool exited_ = false;
};

struct Transport {
    const char* name;
    bool socket;
};

class ReelctlEndToEnd : public ::testing::TestWithParam<Transport> {
protected:
    bool socket() const { return GetParam().socket; }
    int address(int n) const { return socket() ? unique_port(n) : unique_key(n); }
    // reelctl against window `addr` with the test's transport and a short time-out.
    std::vector<std::string> reelctl(int addr, std::vector<std::string> words, const char* timeout = "to=3")
    {
        std::string params = std::string(timeout) + (socket() ? ",qtype=sock" : "");
        std::vector<std::string> args{kReelctl, "-wn=" + std::to_string(addr), "-pa", params};
        args.insert(args.end(), words.begin(), words.end());
        return args;
    }
};

TEST_P(ReelctlEndToEnd, OneShotMultiLineReplyIsPrintedWhole)
{
    Stub stub(address(0), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(0), {"help"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Commands:\n"), 0u) << r.out;
    EXPECT_NE(r.out.find("  stop                  stop the loop window\nSettings: rate"), std::string::npos);
    EXPECT_EQ(count_of(r.out, "\n"), 9);
    // Progress lines are mess level: hidden for a one-shot command.
    EXPECT_EQ(r.out.find("Opening message queue"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_P(ReelctlEndToEnd, SettingsPersistAndProgressShowsOnRequest)
{
    Stub stub(address(1), socket());
    ASSERT_TRUE(stub.ready());
    Result set = run(reelctl(address(1), {"-me", "mess", "rate", "7"}));
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("Opening message queue\n"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("Connected to QAZloop\n"), std::string::npos);
    EXPECT_NE(set.out.find("Command:rate 7\nrate=7\n"), std::string::npos);

    Result get = run(reelctl(address(1), {"rate"}));
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "rate=7\n");

    Result bad = run(reelctl(address(1), {"direction", "sideways"}));
    EXPECT_EQ(bad.status, 0);
    EXPECT_NE(bad.out.find("Bad value for direction: sideways"), std::string::npos);
}

TEST_P(ReelctlEndToEnd, TextIsSentVerbatimNeverAsAFormat)
{
    Stub stub(address(2), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(2), {"%s%n%x%p"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Unknown command: %s%n%x%p (type help)\n");
}

TEST_P(ReelctlEndToEnd, MinusOneReplyEndsQuietlyWithStatus0)
{
    Stub stub(address(3), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(3), {"quit"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_LT(r.seconds, 2.0) << "no second quit may wait for an answer";
    // The window still serves the next client.
    EXPECT_EQ(run(reelctl(address(3), {"frame"})).out, "frame=1\n");
}

TEST_P(ReelctlEndToEnd, StopRemovesTheQueueAndExits7)
{
    Stub stub(address(4), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(4), {"stop"}));
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_EQ(r.err, "") << "the queue must be removed once, by reelctl";
    EXPECT_TRUE(stub.exits_within(3000));
    if (!socket()) {
        EXPECT_FALSE(queue_exists(address(4)));
    }
    Result after = run(reelctl(address(4), {"rate"}));
    EXPECT_EQ(after.status, 7);
}

TEST_P(ReelctlEndToEnd, NotRunningExits14WithItsMessage)
{
    Stub stub(address(5), socket(), {"-notrunning"});
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(5), {"rate", "5"}));
    EXPECT_EQ(r.status, 14);
    EXPECT_EQ(r.err, "QAZloop not running, reelctl stopped!\n");
    EXPECT_LT(r.seconds, 2.0);
}

TEST_P(ReelctlEndToEnd, SilentServerTimesOutWithStatus7)
{
    Stub stub(address(6), socket(), {"-silent"});
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(6), {"help"}, "to=1"));
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Queue not responding!!\n"), std::string::npos) << r.err;
    EXPECT_GT(r.seconds, 0.8);
    EXPECT_LT(r.seconds, 4.0);
}

TEST_P(ReelctlEndToEnd, MissingWindowExits7)
{
    if (!socket()) remove_queue(address(7));
    Result r = run(reelctl(address(7), {"help"}));
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "QAZloop program not running or no message queue exists\n");
}

TEST_P(ReelctlEndToEnd, InteractiveInputEndingAtEndOfFile)
{
    Stub stub(address(8), socket());
    ASSERT_TRUE(stub.ready());
    Result r = run(reelctl(address(8), {}), "frame 42\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "frame=42"), 1) << "the last line must not be sent again:\n" << r.out;
    EXPECT_NE(r.out.find("   Type help for help\nMessage:1: frame=42\nMessage:2: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Message:3:"), std::string::npos);
    EXPECT_LT(r.seconds, 2.0);

    // A quit line ends the loop; nothing after it is sent.
    Result q = run(reelctl(address(8), {}), "quit\nframe 7\n");
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out.find("Message:2:"), std::string::npos) << q.out;
    EXPECT_EQ(run(reelctl(address(8), {"frame"})).out, "frame=42\n");
}

TEST_P(ReelctlEndToEnd, MalformedTrafficLeavesTheWindowServing)
{
    Stub stub(address(9), socket());
    ASSERT_TRUE(stub.ready());
    if (socket()) {
        for (const std::string& junk : {std::string(1, '\0'), std::string("\x80/x"), std::string("\x02" "F1")}) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(address(9)));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
            usleep(50000);
            close(fd);
        }
    } else {
        int qid = msgget(address(9), 0);
        ASSERT_GE(qid, 0);
        struct {
            long mtype;
            char mtext[200];
        } msg{};
        msg.mtype = 1;
        std::memset(msg.mtext, 'x', sizeof msg.mtext);
        msg.mtext[0] = '3';
        ASSERT_EQ(msgsnd(qid, &msg, 120, 0), 0);   // unterminated
        msg.mtext[0] = 'Z';
        msg.mtext[5] = '\0';
        ASSERT_EQ(msgsnd(qid, &msg, 120, 0), 0);   // connection id 42
        msg.mtext[0] = '\x01';
        ASSERT_EQ(msgsnd(qid, &msg, 120, 0), 0);   // connection id far below 3
        ASSERT_EQ(msgsnd(qid, &msg, 200, 0), 0);   // oversized
    }
    Result r = run(reelctl(address(9), {"frame"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "frame=1\n");
}

INSTANTIATE_TEST_SUITE_P(Transports, ReelctlEndToEnd,
                         ::testing::Values(Transport{"mqueue", false}, Transport{"sock", true}),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

TEST(Reelctl, HelpListing)
{
    // "-h" gives "alloc" back as the command: help wins, nothing is allocated.
    Result r = run({kReelctl, "-h", "alloc"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> expected{
        "reelctl : This program makes changes to the qazloop program",
        "reelctl syntax (version:",   // version text checked below
        "   reelctl [options...]",
        "Keyed options...",
        " -df file    Resource/defaults file name",
        " -na name    Program name",
        " -h          Print this help",
        " -ba         Run program in batch mode",
        " -me level   Message level to be displayed:",
        "               none,print,error,warn,mess,out1,*out2,out3,out4,debug",
        " -fp path    File path",
        " -wn",                       // option text of the window number is free
        " -pa param[,...]  Program parameters",
        "Positional options...",
        " command     Commands to be run",
    };
    std::vector<std::string> got = lines_of(r.out);
    ASSERT_EQ(got.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i == 1) {
            EXPECT_EQ(got[i].rfind(expected[i], 0), 0u);
            EXPECT_NE(got[i].find("-LINUX-X11)"), std::string::npos) << got[i];
        } else if (i == 11) {
            EXPECT_EQ(got[i].rfind(" -wn", 0), 0u) << got[i];
            EXPECT_NE(got[i].find("  QAZLoop window number"), std::string::npos) << got[i];
        } else {
            EXPECT_EQ(got[i], expected[i]);
        }
    }
}

TEST(Reelctl, OverlongCommandIsRefused)
{
    Result r = run({kReelctl, "-wn=" + std::to_string(unique_key(20)), std::string(119, 'a')});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("longer than 118"), std::string::npos) << r.err;
}

TEST(Loopstub, HelpAndBadArguments)
{
    Result help = run({kLoopstub, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("-wn window"), std::string::npos);
    Result bad = run({kLoopstub, "-wn", "x"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad arguments"), std::string::npos);
}

TEST(Loopstub, TerminationRemovesTheQueue)
{
    int key = unique_key(40);
    {
        Stub stub(key, false);
        ASSERT_TRUE(stub.ready());
        EXPECT_TRUE(queue_exists(key));
    }
    // The guard's SIGTERM made the stub remove its own queue; the guard found nothing.
    EXPECT_FALSE(queue_exists(key));
}

// Raw client over the queue: connect request, then its id.
int raw_connect(int qid)
{
    struct {
        long mtype;
        char mtext[120];
    } msg{};
    msg.mtype = 1;
    std::strcpy(msg.mtext, "/0");
    if (msgsnd(qid, &msg, sizeof msg.mtext, 0) < 0) return -1;
    for (int tries = 0; tries < 300; ++tries) {
        if (msgrcv(qid, &msg, sizeof msg.mtext, 2, IPC_NOWAIT) >= 0) return std::atoi(msg.mtext + 1);
        usleep(10000);
    }
    return -1;
}

TEST(Loopstub, StopTellsEveryClientAndCleansUpAfterThem)
{
    int key = unique_key(41);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    int qid = msgget(key, 0);
    ASSERT_GE(qid, 0);
    int first = raw_connect(qid);
    int second = raw_connect(qid);
    ASSERT_EQ(first, 3);
    ASSERT_EQ(second, 4);
    struct {
        long mtype;
        char mtext[120];
    } msg{};
    msg.mtype = 1;
    std::strcpy(msg.mtext, "4stop");
    ASSERT_EQ(msgsnd(qid, &msg, sizeof msg.mtext, 0), 0);
    for (int id : {first, second}) {
        long got = -1;
        for (int tries = 0; tries < 300 && got < 0; ++tries) {
            got = msgrcv(qid, &msg, sizeof msg.mtext, id, IPC_NOWAIT);
            if (got < 0) usleep(10000);
        }
        ASSERT_EQ(got, 120) << id;
        EXPECT_EQ(msg.mtext[0], '.') << id;
    }
    // Nobody removed the queue: the stub does it after a grace period.
    EXPECT_TRUE(stub.exits_within(4000));
    EXPECT_FALSE(queue_exists(key));
}

int first_free_window(int from)
{
    for (int w = from; w < from + 50; ++w)
        if (!queue_exists(kWindowBase + w)) return w;
    return -1;
}

// The only test on the fixed window numbers from 20: alloc searches there.
TEST(Reelctl, FixedWindowsAllocAndTest)
{
    QueueGuard guard;
    int first = first_free_window(20);
    ASSERT_GE(first, 20);
    std::string by_window = "-wn=" + std::to_string(first);
    std::string by_key = "-wn=" + std::to_string(kWindowBase + first);

    for (const auto& option : {by_window, by_key}) {
        Result r = run({kReelctl, option, "test"});
        EXPECT_EQ(r.status, 7) << option;
        EXPECT_EQ(r.out, "not found\n");
    }
    guard.keys.push_back(kWindowBase + first);
    ASSERT_GE(msgget(kWindowBase + first, IPC_CREAT | IPC_EXCL | 0600), 0);
    for (const auto& option : {by_window, by_key}) {
        Result r = run({kReelctl, option, "test"});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out, "found\n");
    }

    int second = first_free_window(first + 1);
    ASSERT_GT(second, first);
    guard.keys.push_back(kWindowBase + second);
    ASSERT_GE(msgget(kWindowBase + second, IPC_CREAT | IPC_EXCL | 0600), 0);
    int expected = first_free_window(20);
    ASSERT_GT(expected, second);
    if (first == 20 && second == 21) {
        EXPECT_EQ(expected, 22);
    }

    Result alloc = run({kReelctl, "alloc"});
    EXPECT_EQ(alloc.status, 0);
    EXPECT_EQ(alloc.out, std::to_string(expected) + "\n");
    EXPECT_FALSE(queue_exists(kWindowBase + expected));

    guard.keys.push_back(kWindowBase + expected);
    Result create = run({kReelctl, "ALLOC_CREATE"});
    EXPECT_EQ(create.status, 0);
    EXPECT_EQ(create.out, "+" + std::to_string(expected) + "\n");
    EXPECT_TRUE(queue_exists(kWindowBase + expected));
}

TEST(Reelctl, CleanRemovesOrReportsTheQueue)
{
    int key = unique_key(30);
    QueueGuard guard{{key}};
    remove_queue(key);
    ASSERT_GE(msgget(key, IPC_CREAT | IPC_EXCL | 0600), 0);
    Result r = run({kReelctl, "-wn=" + std::to_string(key), "clean"});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(queue_exists(key));

    Result missing = run({kReelctl, "-wn=" + std::to_string(key), "clean"});
    EXPECT_EQ(missing.status, 7);
    EXPECT_EQ(missing.err,
              "Message queue not found!\nQAZloop program not running or no message queue exists\n");
}

TEST(Reelctl, ClearMesgDrainsEveryType)
{
    int key = unique_key(31);
    QueueGuard guard{{key}};
    remove_queue(key);
    int qid = msgget(key, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_GE(qid, 0);
    auto fill = [&] {
        struct {
            long mtype;
            char mtext[120];
        } msg{};
        for (long type : {1L, 2L, 5L, 21L}) {
            msg.mtype = type;
            ASSERT_EQ(msgsnd(qid, &msg, sizeof msg.mtext, 0), 0);
        }
    };
    for (const auto& words : std::vector<std::vector<std::string>>{{"clear mesg"}, {"clear", "mesg"}}) {
        fill();
        std::vector<std::string> args{kReelctl, "-wn=" + std::to_string(key)};
        args.insert(args.end(), words.begin(), words.end());
        Result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        struct msqid_ds info {};
        ASSERT_EQ(msgctl(qid, IPC_STAT, &info), 0);
        EXPECT_EQ(info.msg_qnum, 0u);
    }
}

TEST(Reelctl, TwentiethClientGetsNoAnswer)
{
    int key = unique_key(32);
    Stub stub(key, false);
    ASSERT_TRUE(stub.ready());
    int qid = msgget(key, 0);
    ASSERT_GE(qid, 0);
    struct {
        long mtype;
        char mtext[120];
    } msg{};
    for (int client = 0; client < 19; ++client) {
        msg.mtype = 1;
        std::memset(msg.mtext, 0, sizeof msg.mtext);
        std::strcpy(msg.mtext, "/0");
        ASSERT_EQ(msgsnd(qid, &msg, sizeof msg.mtext, 0), 0);
        long got = -1;
        for (int tries = 0; tries < 300 && got < 0; ++tries) {
            got = msgrcv(qid, &msg, sizeof msg.mtext, 2, IPC_NOWAIT);
            if (got < 0) usleep(10000);
        }
        ASSERT_GE(got, 0) << "client " << client;
        EXPECT_EQ(std::atoi(msg.mtext + 1), 3 + client);
    }
    Result r = run({kReelctl, "-wn=" + std::to_string(key), "-pa", "to=1", "help"});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("Queue not responding!!"), std::string::npos) << r.err;
}

}  // namespace
