// In-process tests of the loop-control channel: handshake and slots, framing limits, the
// handling of malformed messages on both transports, waits and time-outs. The library
// plays one side, raw messages the other. Queues use private keys (offset 0) and are
// removed by the fixtures whatever the outcome.
#include <sys/mman.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "channel_helpers.hpp"
#include "mess.hpp"
#include "mqueue.hpp"
#include "resrc.hpp"

using namespace chan_test;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

// Sends body as type to qid from a child process after delay_ms. The moment of the
// send is kept in memory shared with the child, so that a wait can be judged by how
// long it took after the message arrived, not by how fast the child got to run.
class LateSender {
public:
    LateSender(int qid, long type, const std::string& body, int delay_ms)
    {
        void* shared = mmap(nullptr, sizeof(Clock::time_point), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) return;
        sent_at_ = new (shared) Clock::time_point();
        child_ = fork();
        if (child_ == 0) {
            usleep(delay_ms * 1000);
            *sent_at_ = Clock::now();
            raw_send(qid, type, body);
            _exit(0);
        }
    }
    ~LateSender()
    {
        if (child_ > 0) waitpid(child_, nullptr, 0);
        if (sent_at_ != nullptr) munmap(sent_at_, sizeof(Clock::time_point));
    }
    // Time from the send to now; the child must have sent already.
    Clock::duration since_sent() const { return sent_at_ != nullptr ? Clock::now() - *sent_at_ : Clock::duration::max(); }

private:
    pid_t child_ = -1;
    Clock::time_point* sent_at_ = nullptr;
};

class QueueChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        MESS_set(0, M_warn);
        MQ_settype(0);
        MQ_offset(0);
        MQ_timeout(5);
        MQ_timeout_func(nullptr);
        key_ = unique_key(counter_++);
        remove_queue(key_);
        qid_ = MQ_create(key_);
        ASSERT_GE(qid_, 0);
    }
    void TearDown() override
    {
        for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(qid_, id, -1, "bye");
        msgctl(qid_, IPC_RMID, nullptr);
    }
    // Handshake with this process's own server operations.
    int connect_client()
    {
        int conn_id = -1;
        char item[MQ_ITEM_SIZE];
        if (MQ_put(qid_, -1, "%d", 1000) != 0 || MQ_sget(qid_, &conn_id, item) != 2 || conn_id < 0) return -1;
        EXPECT_EQ(MQ_get(qid_, MQ_TYPE_CONNECT, item), MQ_STATUS_CONNECT);
        EXPECT_EQ(std::to_string(conn_id), item);
        return conn_id;
    }

    static inline int counter_ = 0;
    int key_ = 0;
    int qid_ = -1;
};

TEST_F(QueueChannel, ConversationAndSlotLifecycle)
{
    int conn_id = connect_client();
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);
    ASSERT_EQ(MQ_put(qid_, conn_id, "%s", "rate 5"), 0);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(MQ_sget(qid_, &from, item), 1);
    EXPECT_EQ(from, conn_id);
    EXPECT_STREQ(item, "rate 5");
    EXPECT_EQ(MQ_sget(qid_, &from, item), 0) << "nothing pending: no wait";

    const std::pair<int, const char*> reply[] = {{1, "one\n"}, {3, "two\n"}, {0, "last\n"}, {-1, "bye"}};
    for (auto [status, text] : reply) EXPECT_EQ(MQ_sput(qid_, conn_id, status, "%s", text), 0);
    for (auto [status, text] : reply) {
        EXPECT_EQ(MQ_get(qid_, conn_id, item), status);
        EXPECT_STREQ(item, text);
    }
    EXPECT_EQ(MQ_sput(qid_, conn_id, 0, "late"), -1) << "a negative status closes the slot";
    EXPECT_EQ(pending(qid_), 0);
    // A freed slot is handed out again, but after every slot freed before it: its last
    // holder may not have read its goodbye yet, and the next holder clears old replies.
    std::vector<int> ids;
    for (int i = 0; i < MQ_MAX_CLIENTS; ++i) ids.push_back(connect_client());
    EXPECT_EQ(ids.front(), conn_id + 1);
    EXPECT_EQ(ids.back(), conn_id);
}

// A window may count down its remaining lines from above 9, or end with any negative
// status; both must reach the client unchanged.
TEST_F(QueueChannel, StatusesBeyondOneDigit)
{
    const std::vector<std::vector<int>> conversations = {{12, 11, 10, 3, 0}, {12, -12}, {79, -176}};
    for (const auto& statuses : conversations) {
        int conn_id = connect_client();
        ASSERT_GT(conn_id, 0);
        for (int status : statuses) EXPECT_EQ(MQ_sput(qid_, conn_id, status, "line %d\n", status), 0) << status;
        char item[MQ_ITEM_SIZE];
        for (int status : statuses) {
            EXPECT_EQ(MQ_get(qid_, conn_id, item), status);
            EXPECT_EQ(item, "line " + std::to_string(status) + "\n");
        }
        if (statuses.back() < 0) EXPECT_EQ(MQ_sput(qid_, conn_id, 0, "late"), -1) << "closed by the negative status";
        else MQ_sput(qid_, conn_id, -1, "bye"), raw_receive(qid_, conn_id);
    }
    EXPECT_EQ(pending(qid_), 0);
}

TEST_F(QueueChannel, NineteenSlotsThenSilence)
{
    for (int expected = MQ_FIRST_CONN; expected <= MQ_LAST_CONN; ++expected) ASSERT_EQ(connect_client(), expected);
    ASSERT_EQ(MQ_put(qid_, -1, "%d", 1000), 0);
    int conn_id = 77;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 2);
    EXPECT_EQ(conn_id, -1) << "reset, then left unchanged";
    EXPECT_EQ(raw_receive(qid_, MQ_TYPE_CONNECT), -1) << "the 20th client must get no answer";
    ASSERT_EQ(MQ_sput(qid_, 9, -1, "bye"), 0);
    raw_receive(qid_, 9);
    EXPECT_EQ(connect_client(), 9);
}

// A grant lying in the queue may be on its way to a client that asked first and has not
// yet read it. A client starting then must not take it away for good: both are served.
TEST_F(QueueChannel, AGrantOnItsWayIsNeverTakenFromItsClient)
{
    ASSERT_EQ(raw_send(qid_, 1, body_of('/', "1000")), 0);   // the first client asks...
    int first_id = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(MQ_sget(qid_, &first_id, item), 2);              // ...and is granted, unread
    pid_t second = fork();
    if (second == 0) {
        MQ_timeout(3);
        const int id = MQ_connect(qid_);
        _exit(id >= MQ_FIRST_CONN && id <= MQ_LAST_CONN ? 0 : 1);
    }
    // Serve the second client's connect request (and anything else it sends).
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    int served = 0;
    while (served == 0 && Clock::now() < deadline) {
        int conn_id = -1;
        const int got = MQ_sget(qid_, &conn_id, item);
        if (got == 2) served = conn_id;
        else if (got == 1 && std::string(item) == "quit") MQ_sput(qid_, conn_id, -1, "bye");
        else usleep(1000);
    }
    int status = 0;
    waitpid(second, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second client connected";
    std::string grant;
    EXPECT_EQ(raw_receive(qid_, MQ_TYPE_CONNECT, &grant, 2000), 120) << "the first client still gets a grant";
    EXPECT_NE(served, -1);
}

// A client that said "quit" may not yet have read its goodbye when the next client
// connects; that one clears old replies of its new id, so it must not get the same id.
TEST_F(QueueChannel, AGoodbyeNotYetReadSurvivesTheNextConnect)
{
    const int leaving = connect_client();
    ASSERT_EQ(MQ_sput(qid_, leaving, -1, "Goodbye"), 0);   // unread so far
    pid_t next = fork();
    if (next == 0) {
        MQ_timeout(3);
        _exit(MQ_connect(qid_) > 0 ? 0 : 1);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    while (MQ_sget(qid_, &from, item) != 2 && Clock::now() < deadline) usleep(1000);
    int status = 0;
    waitpid(next, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(from, leaving);
    std::string goodbye;
    EXPECT_EQ(raw_receive(qid_, leaving, &goodbye, 1000), 120) << "the goodbye is still there to read";
}

TEST_F(QueueChannel, ServerRefusesRepliesToClosedOrImpossibleIds)
{
    int open_id = connect_client();
    ASSERT_GT(open_id, 0);
    const struct {
        int qid, conn_id, flag;
    } cases[] = {
        {qid_, open_id + 1, 0}, {qid_, 0, 0},  {qid_, 1, 0},        {qid_, -4, 0},        {qid_, 22, 0},
        {qid_, 1000, 0},        {qid_, 2, 0},  {-1, open_id, 0},    {qid_, open_id, 80},  {qid_, open_id, -177},
        {qid_, open_id, -48},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MQ_sput(c.qid, c.conn_id, c.flag, "x"), -1) << "conn " << c.conn_id << " flag " << c.flag;
    EXPECT_EQ(pending(qid_), 0);
    EXPECT_EQ(MQ_sput(qid_, open_id, 0, "still open"), 0) << "a refused status must not close the slot";
}

TEST_F(QueueChannel, ServerTraceFormats)
{
    MESS_set(1, 0x80000000u);
    testing::internal::CaptureStdout();
    int conn_id = connect_client();
    std::string trace = testing::internal::GetCapturedStdout();
    MESS_set(0, M_warn);
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);
    EXPECT_NE(trace.find("PUT:-1:/1000\nSGET:/1000\nSPUT:2:23:"), std::string::npos) << trace;
    EXPECT_NE(trace.find("GET:23\n"), std::string::npos) << trace;
}

TEST_F(QueueChannel, BodiesAreAlways120BytesAndTextIsCut)
{
    ASSERT_EQ(MQ_put(qid_, 5, "%s", std::string(200, 'a').c_str()), 0);
    std::string body;
    ASSERT_EQ(raw_receive(qid_, MQ_TYPE_REQUEST, &body), MQ_BODY_SIZE);
    EXPECT_EQ(body, body_of('5', std::string(MQ_TEXT_MAX, 'a')));
    ASSERT_EQ(MQ_put(qid_, 5, "%s", "x"), 0);
    ASSERT_EQ(raw_receive(qid_, MQ_TYPE_REQUEST, &body), MQ_BODY_SIZE);
    EXPECT_EQ(body, body_of('5', "x")) << "zero padding, no stale bytes";

    ASSERT_EQ(MQ_put(qid_, 5, "%s", "%s%n%x"), 0);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(MQ_sget(qid_, &from, item), 1);
    EXPECT_STREQ(item, "%s%n%x");
}

TEST_F(QueueChannel, ClientRefusesImpossibleConnectionIds)
{
    for (int bad : {2, 22, -2, INT_MAX, INT_MIN}) EXPECT_EQ(MQ_put(qid_, bad, "%s", "x"), -1) << bad;
    EXPECT_EQ(pending(qid_), 0);
    // A receive for type 0 or 1 would take the server's requests.
    ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, body_of('3', "rate")), 0);
    for (int bad : {0, 1, -3, 22, 400}) {
        char reply[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_get(qid_, bad, reply), -1) << bad;
        EXPECT_STREQ(reply, "");
    }
    EXPECT_EQ(pending(qid_), 1);
}

TEST_F(QueueChannel, ServerRejectsMalformedRequests)
{
    const struct {
        const char* what;
        std::string body;
        int result;
        int conn_id;
        std::string text;
    } cases[] = {
        {"unterminated 120-byte body", '3' + std::string(MQ_BODY_SIZE - 1, 'x'), -1, 55, ""},
        {"oversized body", '3' + std::string(300, 'y'), -1, 55, ""},
        {"empty body", "", -1, 55, ""},
        {"code below connect", body_of('.', "x"), -1, 55, ""},
        {"id 0", body_of('0', "x"), -1, 55, ""},
        {"id 2", body_of('2', "x"), -1, 55, ""},
        {"id 22", body_of('F', "x"), -1, 55, ""},
        {"code NUL", body_of('\0', "x"), -1, 55, ""},
        {"code 0xff", body_of('\xff', "x"), -1, 55, ""},
        {"lowest id", body_of('3', "ok"), 1, 3, "ok"},
        {"highest id", body_of('E', "ok"), 1, 21, "ok"},
        {"text filling the body", '4' + std::string(MQ_BODY_SIZE - 2, 'z') + '\0', 1, 4,
         std::string(MQ_BODY_SIZE - 2, 'z')},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, c.body), 0) << c.what;
        int conn_id = 55;
        char item[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_sget(qid_, &conn_id, item), c.result) << c.what;
        EXPECT_EQ(conn_id, c.result < 0 ? -1 : c.conn_id) << c.what;
        EXPECT_EQ(item, c.text) << c.what;
        EXPECT_EQ(pending(qid_), 0) << c.what << ": a bad message must not block the queue";
    }
}

TEST_F(QueueChannel, ClientRejectsMalformedReplies)
{
    const struct {
        std::string body;
        int status;
        const char* text;
    } cases[] = {
        {'0' + std::string(MQ_BODY_SIZE - 1, 'x'), -1, ""}, {'1' + std::string(250, 'x'), -1, ""},
        {body_of('A', "seventeen"), 17, "seventeen"},        {body_of('\0', "nul"), -1, ""},
        {body_of('\x80', "high bit"), -176, "high bit"},     {body_of('&', "below -9"), -10, "below -9"},
        {body_of('\x7f', "highest"), 79, "highest"},
        {body_of('\'', "not running"), -9, "not running"},   {body_of('.', "stopped"), -2, "stopped"},
        {body_of('9', "more"), 9, "more"},                   {"0", 0, ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(raw_send(qid_, 7, c.body), 0);
        char reply[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_get(qid_, 7, reply), c.status) << c.text;
        EXPECT_STREQ(reply, c.text);
    }
    EXPECT_EQ(pending(qid_), 0);
}

TEST_F(QueueChannel, WaitsWakeAsSoonAsAMessageArrives)
{
    // The receive sleeps until the reply is there: one wake-up, not a series of polls.
    MESS_set(1, 0x80000000u);
    testing::internal::CaptureStdout();
    char item[MQ_ITEM_SIZE];
    {
        LateSender sender(qid_, 6, body_of('0', "ready"), 50);
        EXPECT_EQ(MQ_get(qid_, 6, item), 0);
        EXPECT_LT(sender.since_sent(), milliseconds(100));
    }
    std::string trace = testing::internal::GetCapturedStdout();
    MESS_set(0, M_warn);
    EXPECT_STREQ(item, "ready");
    EXPECT_EQ(trace, "GET-MSG:6 120 0 1\nGET:0ready\n");

    // The server's wait leaves the request for MQ_sget.
    {
        LateSender sender(qid_, MQ_TYPE_REQUEST, body_of('4', "frame"), 50);
        EXPECT_EQ(MQ_swait(qid_), 1);
        EXPECT_LT(sender.since_sent(), milliseconds(100));
    }
    int conn_id = -1;
    EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 1);
    EXPECT_STREQ(item, "frame");
}

void ignore_signal(int) {}

TEST_F(QueueChannel, WaitsEndOnRemovalOrSignal)
{
    int removed = MQ_create(key_ + 32);
    ASSERT_GE(removed, 0);
    ASSERT_EQ(MQ_del(removed), 0);
    EXPECT_EQ(MQ_del(removed), -1);
    EXPECT_EQ(MQ_del(-3), 0) << "negative ids are ignored";
    auto start = Clock::now();
    char reply[MQ_ITEM_SIZE] = "junk";
    EXPECT_EQ(MQ_get(removed, 5, reply), -1);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(MQ_swait(removed), -1);
    EXPECT_EQ(MQ_swait(-1), -1);
    EXPECT_LT(Clock::now() - start, milliseconds(500));

    ASSERT_EQ(raw_send(qid_, 5, body_of('0', "reply")), 0);   // not a request: no wake-up
    struct sigaction action {}, previous{};
    action.sa_handler = ignore_signal;
    sigaction(SIGALRM, &action, &previous);
    alarm(1);
    EXPECT_EQ(MQ_swait(qid_), 0);
    sigaction(SIGALRM, &previous, nullptr);
}

volatile sig_atomic_t handler_runs = 0;
int handler_queue = -1;

void post_late_reply(int)
{
    handler_runs = handler_runs + 1;
    raw_send(handler_queue, 6, body_of('0', "late"));
}

TEST_F(QueueChannel, TimeOutRunsTheHandlerOrEndsWithStatus7)
{
    handler_runs = 0;
    handler_queue = qid_;
    MQ_timeout(1);
    MQ_timeout_func(post_late_reply);
    char reply[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_get(qid_, 6, reply), 0) << "the wait carries on after the handler";
    EXPECT_STREQ(reply, "late");
    EXPECT_EQ(handler_runs, 1);

    MQ_timeout_func(nullptr);
    EXPECT_EXIT(MQ_get(qid_, 6, reply), ::testing::ExitedWithCode(7), "Queue not responding!!");
}

// Shrinks the queue to a few bodies and fills it with messages of type; false when the
// queue could not be made full.
bool fill_queue(int qid, long type)
{
    struct msqid_ds info {};
    if (msgctl(qid, IPC_STAT, &info) != 0) return false;
    info.msg_qbytes = 3 * MQ_BODY_SIZE;   // lowering needs no privilege, only ownership
    if (msgctl(qid, IPC_SET, &info) != 0) return false;
    // Whole bodies first, then single bytes: not even a short message fits any more.
    int i = 0;
    while (i < 1000 && raw_send(qid, type, body_of('1', "unread\n")) == 0) ++i;
    while (i < 1000 && raw_send(qid, type, "1") == 0) ++i;
    return i < 1000 && errno == EAGAIN;
}

struct ChildRun {
    int status = -1;
    double seconds = 0;
    std::string err;
};

// Runs body in a child (killed after 15 s: the fault under test is a hang); its exit
// status, how long it took and what it wrote to standard error.
template <typename Body>
ChildRun in_child(Body body)
{
    ChildRun run;
    int err[2];
    if (pipe(err) != 0) return run;
    const auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        close(err[0]);
        _exit(body());
    }
    close(err[1]);
    int wstatus = 0;
    for (int waited_ms = 0; waitpid(pid, &wstatus, WNOHANG) == 0; waited_ms += 10) {
        if (waited_ms == 15000) kill(pid, SIGKILL);
        usleep(10000);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    char buffer[512];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, static_cast<size_t>(n));
    close(err[0]);
    return run;
}

// A client that never reads its replies must not stop the window: the reply is given up
// after the time-out, later ones to that client are not waited for again, and sending
// works again once there is room.
TEST_F(QueueChannel, ServerGivesUpRepliesToAFullQueue)
{
    int conn_id = connect_client();
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);
    if (!fill_queue(qid_, conn_id)) GTEST_SKIP() << "the queue could not be shrunk and filled";
    MQ_timeout(1);
    ChildRun run = in_child([&] {
        int failures = 0;
        if (MQ_sput(qid_, conn_id, 1, "first") != -1) failures |= 1;
        const auto second = Clock::now();
        if (MQ_sput(qid_, conn_id, 0, "second") != -1) failures |= 2;
        if (Clock::now() - second > milliseconds(300)) failures |= 4;
        raw_receive(qid_, conn_id);
        if (MQ_sput(qid_, conn_id, 0, "room again") != 0) failures |= 8;
        return failures;
    });
    EXPECT_EQ(run.status, 0) << "failed checks (bits): " << run.status;
    EXPECT_GE(run.seconds, 0.9);
    EXPECT_LT(run.seconds, 5.0);
    int warnings = 0;
    for (auto at = run.err.find("queue full"); at != std::string::npos; at = run.err.find("queue full", at + 1)) ++warnings;
    EXPECT_EQ(warnings, 1) << "once, for the reply that was waited on:\n" << run.err;

    // A connect grant that cannot be sent leaves the slot free for the next client.
    while (raw_receive(qid_, 0) >= 0) {
    }
    // A short request: taking it must not make room for the 120-byte grant.
    ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, std::string("/1000")), 0);
    ASSERT_TRUE(fill_queue(qid_, 99));
    run = in_child([&] {
        int granted = -1;
        char item[MQ_ITEM_SIZE];
        if (MQ_sget(qid_, &granted, item) != 2 || granted != -1) return 1;
        while (raw_receive(qid_, 0) >= 0) {
        }
        return connect_client() == MQ_FIRST_CONN + 1 ? 0 : 2;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.seconds, 5.0);
    while (raw_receive(qid_, 0) >= 0) {
    }
}

TEST_F(QueueChannel, ManagementOpenCreateFindClear)
{
    EXPECT_EQ(MQ_open(key_), qid_);
    EXPECT_EQ(MQ_create(key_), -1) << "creation is exclusive";
    EXPECT_EQ(MQ_create(-1), -2);

    int base = key_ + 40;
    for (int w = base; w < base + 3; ++w) remove_queue(w);
    EXPECT_EQ(MQ_open(base), -1);
    EXPECT_EQ(MQ_find(base), base);
    int first = MQ_create(base);
    int second = MQ_create(base + 1);
    EXPECT_EQ(MQ_find(base), base + 2);
    EXPECT_EQ(MQ_find(base + 1), base + 2);
    MQ_del(first);
    EXPECT_EQ(MQ_find(base), base);
    MQ_del(second);

    // Key 0 would be a fresh private queue at every call: it is no window.
    MQ_offset(-5);
    EXPECT_EQ(MQ_open(5), -1);
    EXPECT_EQ(MQ_create(5), -1);
    MQ_offset(0);
    EXPECT_EQ(MQ_find(INT_MAX - 10), INT_MAX - 10) << "no overflow near the top";

    for (long type : {2L, 2L, 5L, 1L}) ASSERT_EQ(raw_send(qid_, type, body_of('0', "x")), 0);
    ASSERT_EQ(raw_send(qid_, 2, std::string(400, 'q')), 0);
    EXPECT_EQ(MQ_clear(qid_, 2), -1);
    EXPECT_EQ(pending(qid_), 2);
    EXPECT_EQ(MQ_clear(qid_, 0), -1);
    EXPECT_EQ(pending(qid_), 0);
}

TEST(ChannelFind, FiftyCandidatesThenNone)
{
    MESS_set(0, M_warn);
    MQ_settype(0);
    MQ_offset(0);
    // A key range of its own, apart from the fixtures' keys.
    const int base = 0x51400000 + (static_cast<int>(getpid()) & 0xffff) * 64;
    std::vector<int> ids;
    for (int w = base; w < base + 51; ++w) {
        remove_queue(w);
        if (w < base + 50) ids.push_back(MQ_create(w));
    }
    for (int id : ids) ASSERT_GE(id, 0);
    EXPECT_EQ(MQ_find(base), -1) << "the 51st window is not a candidate";
    EXPECT_EQ(MQ_find(base + 1), base + 50);
    MQ_del(ids.back());
    EXPECT_EQ(MQ_find(base), base + 49) << "the 50th is";
    for (int id : ids) MQ_del(id);
}

TEST(ChannelParams, ParameterResourceSetsTransportAndTimeout)
{
    MESS_set(0, M_warn);
    // The transport shows in MQ_clear: queues answer -1, sockets 0.
    const std::pair<const char*, int> cases[] = {
        {"qtype=sock", 0}, {"QTYPE=SOCK", 0}, {"qtype=sock,qtype=mqueue", -1}, {"to=5,qtype=sock", 0},
        {"to", 0},         {"to=", 0},        {"to=abc,qtype=mqueue", -1},     {"to=-4", -1},
        {"qtype=other", -1},
    };
    for (auto [value, clear_result] : cases) {
        RES_put("parameter", value);
        testing::internal::CaptureStderr();
        EXPECT_EQ(MQ_params(), 0) << value;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(MQ_clear(-1, 0), clear_result) << value;
        // Every value that is not applied says so; a misspelt transport included.
        const bool applied = std::strstr(value, "other") == nullptr && std::strcmp(value, "to") != 0 &&
                             std::strcmp(value, "to=") != 0 && std::strstr(value, "abc") == nullptr &&
                             std::strcmp(value, "to=-4") != 0;
        EXPECT_EQ(err.empty(), applied) << value << ": " << err;
    }
    MQ_settype(0);
}

// Reads one frame; "" with code 0 on failure or end of stream.
std::string read_frame(int fd, char* code)
{
    *code = 0;
    pollfd pfd{fd, POLLIN, 0};
    signed char length = 0;
    if (poll(&pfd, 1, 3000) <= 0 || recv(fd, &length, 1, 0) != 1 || length < 1) return "";
    std::string body(static_cast<size_t>(length), '\0');
    if (recv(fd, body.data(), body.size(), MSG_WAITALL) != length) return "";
    *code = body[0];
    return body.substr(1);
}

class StreamChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        MESS_set(0, M_warn);
        MQ_settype(1);
        MQ_offset(0);
        MQ_timeout(5);
        port_ = unique_port(counter_++);
    }
    void TearDown() override
    {
        for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(1, id, -1, "bye");
        for (int fd : fds_) close(fd);
        MQ_del(1);
        MQ_settype(0);
    }
    int client()
    {
        int fd = raw_connect(port_);
        if (fd >= 0) fds_.push_back(fd);
        return fd;
    }
    // The server call after its wait, as a server loop would make it.
    int sget(int* conn_id, char* item)
    {
        int got = 0;
        for (int round = 0; round < 3 && got == 0; ++round)
            if (MQ_swait(1) == 1) got = MQ_sget(1, conn_id, item);
        return got;
    }
    int handshake(int fd)
    {
        raw_write(fd, frame('/', "1000"));
        int conn_id = -1;
        char item[MQ_ITEM_SIZE], code;
        if (sget(&conn_id, item) != 2) return -1;
        EXPECT_EQ(read_frame(fd, &code), std::to_string(conn_id));
        EXPECT_EQ(code, '2');
        return conn_id;
    }

    static inline int counter_ = 0;
    int port_ = 0;
    std::vector<int> fds_;
};

TEST_F(StreamChannel, PortsOutsideTheirRangeAreNoWindow)
{
    for (int window : {0, -5, 65536, 70000 + port_, INT_MAX}) {
        EXPECT_EQ(MQ_create(window), -1) << window;
        EXPECT_EQ(MQ_open(window), -1) << window;
    }
    MQ_offset(65530);
    EXPECT_EQ(MQ_find(0), 0) << "only ports that exist are offered";
    EXPECT_EQ(MQ_find(6), -1);
    MQ_offset(0);
}

TEST_F(StreamChannel, ServerHandshakeRequestAndReply)
{
    MESS_set(1, 0x80000000u);
    testing::internal::CaptureStdout();
    ASSERT_EQ(MQ_create(port_), 1);
    int fd = client();
    sockaddr_in local{};
    socklen_t local_size = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size);
    ASSERT_EQ(handshake(fd), MQ_FIRST_CONN);
    std::string trace = testing::internal::GetCapturedStdout();
    MESS_set(0, M_warn);
    const std::string expected = "Socket bind on port: " + std::to_string(port_) + " - 0\nSocket listen...: 0\n" +
                                 "Connection made from 7F000001 on port " + std::to_string(ntohs(local.sin_port)) +
                                 "\nReceived: 6 5 47 => 1000\nSend: 3 2 50 => 3\n";
    EXPECT_EQ(trace, expected);
    raw_write(fd, frame('3', "show"));
    int from = -1;
    char item[MQ_ITEM_SIZE], code;
    ASSERT_EQ(sget(&from, item), 1);
    EXPECT_EQ(from, MQ_FIRST_CONN);
    EXPECT_STREQ(item, "show");
    EXPECT_EQ(MQ_sput(1, from, 0, "rate=%d\n", 10), 10) << "L + 1 bytes";
    EXPECT_EQ(read_frame(fd, &code), "rate=10\n");
    EXPECT_EQ(code, '0');
}

TEST_F(StreamChannel, ServerSendsStatusesBeyondOneDigit)
{
    ASSERT_EQ(MQ_create(port_), 1);
    int fd = client();
    int conn_id = handshake(fd);
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);
    for (int status : {12, 11, 10, 3, 0, -12}) {
        EXPECT_EQ(MQ_sput(1, conn_id, status, "%d", status), 1 + static_cast<int>(std::to_string(status).size()) + 1);
        char code;
        EXPECT_EQ(read_frame(fd, &code), std::to_string(status));
        EXPECT_EQ(code, static_cast<char>('0' + status));
    }
    EXPECT_EQ(MQ_sput(1, conn_id, 0, "late"), -1) << "closed by the negative status";
}

TEST_F(StreamChannel, AStreamThatHangsUpFreesEverySlotItOpened)
{
    ASSERT_EQ(MQ_create(port_), 1);
    int greedy = client();
    for (int expected = MQ_FIRST_CONN; expected <= MQ_LAST_CONN; ++expected) ASSERT_EQ(handshake(greedy), expected);
    shutdown(greedy, SHUT_RDWR);
    int conn_id = 42;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(sget(&conn_id, item), -1) << "client disconnect";
    EXPECT_EQ(handshake(client()), MQ_FIRST_CONN) << "the next client must find every slot free";
}

TEST_F(StreamChannel, ServerDropsMalformedFramesAndFreesTheSlot)
{
    ASSERT_EQ(MQ_create(port_), 1);
    const struct {
        const char* what;
        std::string bytes;
        bool out_of_step;
    } cases[] = {
        {"length 0", std::string(1, '\0') + "3abc", true},
        {"length -128", "\x80" "3abc", true},
        {"length -1", "\xff" "3abc", true},
        {"length above the text limit", "\x7f" "3" + std::string(126, 'x'), true},
        {"id 22", frame('F', "x"), false},
        {"id 2", frame('2', "x"), false},
    };
    for (const auto& c : cases) {
        int fd = client();
        ASSERT_EQ(handshake(fd), MQ_FIRST_CONN) << c.what << ": a dropped stream must free its slot";
        raw_write(fd, c.bytes);
        int conn_id = 42;
        char item[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(sget(&conn_id, item), -1) << c.what;
        EXPECT_EQ(conn_id, 42) << c.what;
        if (!c.out_of_step) {
            shutdown(fd, SHUT_RDWR);
            EXPECT_EQ(sget(&conn_id, item), -1) << "client disconnect";
            continue;
        }
        pollfd pfd{fd, POLLIN, 0};
        char byte;
        EXPECT_TRUE(poll(&pfd, 1, 3000) == 1 && recv(fd, &byte, 1, 0) <= 0) << c.what << ": stream must be closed";
    }
}

TEST_F(StreamChannel, AFrameTrickledByteByByteIsDroppedInTime)
{
    ASSERT_EQ(MQ_create(port_), 1);
    int fd = client();
    ASSERT_EQ(handshake(fd), MQ_FIRST_CONN);
    // Every byte comes within the per-read wait, the whole frame does not.
    const std::string bytes = frame('3', "rate 5");
    pid_t child = fork();
    if (child == 0) {
        for (char byte : bytes) {
            send(fd, &byte, 1, MSG_NOSIGNAL);
            usleep(1500 * 1000);
        }
        _exit(0);
    }
    auto start = Clock::now();
    int conn_id = 42;
    char item[MQ_ITEM_SIZE] = "junk";
    EXPECT_EQ(sget(&conn_id, item), -1);
    EXPECT_LT(Clock::now() - start, milliseconds(7000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(conn_id, 42);
    EXPECT_EQ(handshake(client()), MQ_FIRST_CONN) << "the slow stream is gone with its slot";
}

TEST_F(StreamChannel, ClientReadsFramesAndRejectsBadOnes)
{
    EXPECT_EQ(MQ_open(port_), -1) << "nobody listens yet";
    char reply[MQ_ITEM_SIZE] = "junk";
    EXPECT_EQ(MQ_get(1, 4, reply), -1);
    EXPECT_EQ(MQ_put(1, 4, "%s", "x"), -1);

    int listener = listen_loopback(port_);
    ASSERT_GE(listener, 0);
    fds_.push_back(listener);
    const struct {
        std::string bytes;   // empty: the server closes
        int status;
        const char* text;
    } cases[] = {
        {frame('1', "first\n") + frame('0', "last\n"), 1, "first\n"},
        {frame('\'', "off"), -9, "off"},
        {frame('A', "seventeen"), 17, "seventeen"},
        {frame('0' + 12, "12\n") + frame('0' + 11, "11\n"), 12, "12\n"},
        {frame(static_cast<char>('0' - 12), "bye"), -12, "bye"},
        {frame('\0', "nul"), -1, ""},
        {std::string(1, '\0') + "0x", -1, ""},
        {"\xf0" "0x", -1, ""},
        {"", -1, ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(MQ_open(port_), 1);
        int server = accept(listener, nullptr, nullptr);
        EXPECT_EQ(MQ_put(1, 4, "%s", "help"), 6);
        char code;
        EXPECT_EQ(read_frame(server, &code), "help");
        EXPECT_EQ(code, '4');
        if (c.bytes.empty()) shutdown(server, SHUT_RDWR);
        else raw_write(server, c.bytes);
        EXPECT_EQ(MQ_get(1, 4, reply), c.status) << c.text;
        EXPECT_STREQ(reply, c.text);
        close(server);
        MQ_del(1);
    }
}

}  // namespace
