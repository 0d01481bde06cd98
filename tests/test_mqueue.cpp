// In-process tests of the loop-control channel: handshake, slots, framing limits and the
// handling of malformed messages on both transports. Queues use keys private to this
// process (offset 0, window number = key) and are removed by a guard.
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
#include <vector>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "mess.hpp"
#include "mqueue.hpp"
#include "resrc.hpp"

namespace {

int key_base()
{
    return 0x51000000 + (static_cast<int>(getpid()) & 0xffff) * 64;
}

int port_base()
{
    return 21000 + (static_cast<int>(getpid()) % 1400) * 30;
}

// Raw System V message with an arbitrary body of `size` bytes.
int raw_send(int qid, long type, const std::string& body)
{
    struct {
        long mtype;
        char mtext[512];
    } msg{};
    msg.mtype = type;
    std::memcpy(msg.mtext, body.data(), body.size());
    return msgsnd(qid, &msg, body.size(), IPC_NOWAIT);
}

// Receives any pending message of type without waiting; -1 when none.
long raw_receive(int qid, long type, std::string* body = nullptr)
{
    struct {
        long mtype;
        char mtext[512];
    } msg{};
    long n = msgrcv(qid, &msg, sizeof msg.mtext, type, IPC_NOWAIT);
    if (n >= 0 && body != nullptr) body->assign(msg.mtext, static_cast<size_t>(n));
    return n;
}

int pending(int qid)
{
    struct msqid_ds info {};
    if (msgctl(qid, IPC_STAT, &info) < 0) return -1;
    return static_cast<int>(info.msg_qnum);
}

std::string body_of(char code, const std::string& text)
{
    std::string body(MQ_BODY_SIZE, '\0');
    body[0] = code;
    body.replace(1, text.size(), text);
    return body;
}

// Each test owns one fresh queue; every connection slot is closed and the queue
// removed afterwards, whatever the outcome.
class QueueChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        MESS_set(0, M_warn);
        MQ_settype(0);
        MQ_offset(0);
        MQ_timeout(5);
        MQ_timeout_func(nullptr);
        key_ = key_base() + counter_++;
        int stale = msgget(key_, 0);
        if (stale >= 0) msgctl(stale, IPC_RMID, nullptr);
        qid_ = MQ_create(key_);
        ASSERT_GE(qid_, 0);
    }
    void TearDown() override
    {
        for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(qid_, id, -1, "bye");
        msgctl(qid_, IPC_RMID, nullptr);
        MQ_timeout_func(nullptr);
    }
    // Connect handshake with the server operations of this same process.
    int connect_client()
    {
        if (MQ_put(qid_, -1, "%d", 1000) != 0) return -1;
        int conn_id = -1;
        char item[MQ_ITEM_SIZE];
        if (MQ_sget(qid_, &conn_id, item) != 2) return -1;
        if (conn_id < 0) return -1;
        char reply[MQ_ITEM_SIZE];
        if (MQ_get(qid_, MQ_TYPE_CONNECT, reply) != MQ_STATUS_CONNECT) return -1;
        EXPECT_EQ(std::to_string(conn_id), reply);
        return conn_id;
    }

    static inline int counter_ = 0;
    int key_ = 0;
    int qid_ = -1;
};

TEST_F(QueueChannel, RequestAndMultiLineReply)
{
    int conn_id = connect_client();
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);

    ASSERT_EQ(MQ_put(qid_, conn_id, "%s", "rate 5"), 0);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(MQ_sget(qid_, &from, item), 1);
    EXPECT_EQ(from, conn_id);
    EXPECT_STREQ(item, "rate 5");

    EXPECT_EQ(MQ_sput(qid_, conn_id, 1, "line %d\n", 1), 0);
    EXPECT_EQ(MQ_sput(qid_, conn_id, 3, "line %d\n", 2), 0);
    EXPECT_EQ(MQ_sput(qid_, conn_id, 0, "last\n"), 0);
    char reply[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_get(qid_, conn_id, reply), 1);
    EXPECT_STREQ(reply, "line 1\n");
    EXPECT_EQ(MQ_get(qid_, conn_id, reply), 3);
    EXPECT_EQ(MQ_get(qid_, conn_id, reply), 0);
    EXPECT_STREQ(reply, "last\n");

    // Nothing pending: the server call does not wait.
    EXPECT_EQ(MQ_sget(qid_, &from, item), 0);
}

TEST_F(QueueChannel, NegativeStatusClosesTheSlot)
{
    int conn_id = connect_client();
    ASSERT_GT(conn_id, 0);
    EXPECT_EQ(MQ_sput(qid_, conn_id, -1, "bye"), 0);
    char reply[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_get(qid_, conn_id, reply), -1);
    EXPECT_STREQ(reply, "bye");
    // The slot is closed: no more replies go out on it.
    EXPECT_EQ(MQ_sput(qid_, conn_id, 0, "late"), -1);
    EXPECT_EQ(pending(qid_), 0);
    // ...and the next client gets it back.
    EXPECT_EQ(connect_client(), conn_id);
}

TEST_F(QueueChannel, NineteenSlotsThenSilence)
{
    for (int expected = MQ_FIRST_CONN; expected <= MQ_LAST_CONN; ++expected)
        ASSERT_EQ(connect_client(), expected);

    ASSERT_EQ(MQ_put(qid_, -1, "%d", 1000), 0);
    int conn_id = 77;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 2);
    EXPECT_EQ(conn_id, -1);                       // unchanged after the reset to -1
    EXPECT_EQ(raw_receive(qid_, MQ_TYPE_CONNECT), -1) << "the 20th client must get no answer";

    // Freeing one slot in the middle hands exactly that id out next.
    ASSERT_EQ(MQ_sput(qid_, 9, -1, "bye"), 0);
    raw_receive(qid_, 9);
    EXPECT_EQ(connect_client(), 9);
}

TEST_F(QueueChannel, ServerRefusesRepliesToClosedOrImpossibleIds)
{
    struct Case {
        int qid_delta;   // 0: this queue; otherwise a negative id
        int conn_id;
        int flag;
    };
    int open_id = connect_client();
    ASSERT_GT(open_id, 0);
    const Case cases[] = {
        {0, MQ_FIRST_CONN + 1, 0},   // never opened
        {0, 0, 0},   {0, 1, 0},  {0, -4, 0}, {0, 22, 0}, {0, 1000, 0}, {0, 2, 0},
        {-1, open_id, 0},            // negative queue id
        {0, open_id, 10},            // status beyond one signed digit
        {0, open_id, -10},
    };
    for (const Case& c : cases) {
        int qid = c.qid_delta == 0 ? qid_ : -1;
        EXPECT_EQ(MQ_sput(qid, c.conn_id, c.flag, "x"), -1) << "conn " << c.conn_id << " flag " << c.flag;
    }
    EXPECT_EQ(pending(qid_), 0);
    // The bad status must not have closed the open slot.
    EXPECT_EQ(MQ_sput(qid_, open_id, 0, "still open"), 0);
}

TEST_F(QueueChannel, BodiesAreAlways120BytesAndTextIsCut)
{
    std::string longest(200, 'a');
    ASSERT_EQ(MQ_put(qid_, 5, "%s", longest.c_str()), 0);
    std::string body;
    ASSERT_EQ(raw_receive(qid_, MQ_TYPE_REQUEST, &body), MQ_BODY_SIZE);
    EXPECT_EQ(body[0], '5');
    EXPECT_EQ(std::strlen(body.c_str() + 1), static_cast<size_t>(MQ_TEXT_MAX));
    EXPECT_EQ(body[MQ_BODY_SIZE - 1], '\0');

    ASSERT_EQ(MQ_put(qid_, 5, "%s", "x"), 0);
    ASSERT_EQ(raw_receive(qid_, MQ_TYPE_REQUEST, &body), MQ_BODY_SIZE);
    EXPECT_EQ(body, body_of('5', "x"));   // zero padding, no stale bytes

    // Text that looks like a format is carried verbatim when passed as an argument.
    ASSERT_EQ(MQ_put(qid_, 5, "%s", "%s%n%x"), 0);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(MQ_sget(qid_, &from, item), 1);
    EXPECT_STREQ(item, "%s%n%x");
}

TEST_F(QueueChannel, ClientRefusesImpossibleConnectionIds)
{
    EXPECT_EQ(MQ_put(qid_, 2, "%s", "x"), -1);
    EXPECT_EQ(MQ_put(qid_, 22, "%s", "x"), -1);
    EXPECT_EQ(MQ_put(qid_, -2, "%s", "x"), -1);
    EXPECT_EQ(pending(qid_), 0);

    // A receive for type 0 or 1 would take requests meant for the server.
    ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, body_of('3', "rate")), 0);
    char reply[MQ_ITEM_SIZE] = "junk";
    for (int bad : {0, 1, -3, 22, 400}) {
        EXPECT_EQ(MQ_get(qid_, bad, reply), -1) << bad;
        EXPECT_STREQ(reply, "");
    }
    EXPECT_EQ(pending(qid_), 1);
}

TEST_F(QueueChannel, ServerRejectsMalformedRequests)
{
    struct Case {
        const char* what;
        std::string body;
    };
    const Case cases[] = {
        {"unterminated 120-byte body", std::string(1, '3') + std::string(MQ_BODY_SIZE - 1, 'x')},
        {"oversized body", std::string(1, '3') + std::string(300, 'y')},
        {"empty body", std::string()},
        {"code below the connect code", body_of('.', "x")},
        {"code for id 0", body_of('0', "x")},
        {"code for id 2", body_of('2', "x")},
        {"code for id 22", body_of('F', "x")},
        {"code NUL", body_of('\0', "x")},
        {"code 0xff", body_of('\xff', "x")},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, c.body), 0) << c.what;
        int conn_id = 55;
        char item[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_sget(qid_, &conn_id, item), -1) << c.what;
        EXPECT_STREQ(item, "") << c.what;
        EXPECT_EQ(pending(qid_), 0) << c.what << ": a bad message must not block the queue";
    }
    // Highest and lowest valid ids still pass.
    for (char code : {'3', 'E'}) {
        ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, body_of(code, "ok")), 0);
        int conn_id = -1;
        char item[MQ_ITEM_SIZE];
        EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 1);
        EXPECT_EQ(conn_id, code - '0');
        EXPECT_STREQ(item, "ok");
    }
    // A terminated text that fills the body exactly is fine.
    ASSERT_EQ(raw_send(qid_, MQ_TYPE_REQUEST, std::string(1, '4') + std::string(MQ_BODY_SIZE - 2, 'z') + '\0'), 0);
    int conn_id = -1;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 1);
    EXPECT_EQ(std::strlen(item), static_cast<size_t>(MQ_BODY_SIZE - 2));
}

TEST_F(QueueChannel, ClientRejectsMalformedReplies)
{
    struct Case {
        std::string body;
        int status;        // expected result
        const char* text;  // expected item
    };
    const Case cases[] = {
        {std::string(1, '0') + std::string(MQ_BODY_SIZE - 1, 'x'), -1, ""},
        {std::string(1, '1') + std::string(250, 'x'), -1, ""},
        {body_of('A', "too high"), -1, ""},
        {body_of('\0', "nul"), -1, ""},
        {body_of('\x80', "high bit"), -1, ""},
        {body_of('&', "below -9"), -1, ""},
        {body_of('\'', "not running"), -9, "not running"},
        {body_of('.', "stopped"), -2, "stopped"},
        {body_of('9', "more"), 9, "more"},
        {std::string("0"), 0, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(raw_send(qid_, 7, c.body), 0);
        char reply[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_get(qid_, 7, reply), c.status) << c.text;
        EXPECT_STREQ(reply, c.text);
    }
    EXPECT_EQ(pending(qid_), 0);
}

TEST_F(QueueChannel, ReceiveFailsAtOnceOnARemovedQueue)
{
    int removed = MQ_create(key_ + 1000);
    ASSERT_GE(removed, 0);
    ASSERT_EQ(MQ_del(removed), 0);
    EXPECT_EQ(MQ_del(removed), -1);
    EXPECT_EQ(MQ_del(-3), 0);
    auto start = std::chrono::steady_clock::now();
    char reply[MQ_ITEM_SIZE] = "junk";
    EXPECT_EQ(MQ_get(removed, 5, reply), -1);
    EXPECT_STREQ(reply, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(QueueChannel, ReplyIsSeenAsSoonAsItArrives)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        usleep(50000);
        raw_send(qid_, 6, body_of('0', "ready"));
        _exit(0);
    }
    auto start = std::chrono::steady_clock::now();
    char reply[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_get(qid_, 6, reply), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    waitpid(child, nullptr, 0);
    EXPECT_STREQ(reply, "ready");
    EXPECT_LT(waited, std::chrono::milliseconds(90));
}

void ignore_signal(int) {}

TEST_F(QueueChannel, ServerWaitWakesOnARequestAndLeavesItPending)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        usleep(50000);
        raw_send(qid_, MQ_TYPE_REQUEST, body_of('4', "frame"));
        _exit(0);
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MQ_swait(qid_), 1);
    auto waited = std::chrono::steady_clock::now() - start;
    waitpid(child, nullptr, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(40));
    EXPECT_LT(waited, std::chrono::milliseconds(90));
    EXPECT_EQ(pending(qid_), 1);
    int conn_id = -1;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_sget(qid_, &conn_id, item), 1);
    EXPECT_STREQ(item, "frame");

    // Replies to clients (other types) do not wake the server.
    ASSERT_EQ(raw_send(qid_, 5, body_of('0', "reply")), 0);
    struct sigaction action {}, previous{};
    action.sa_handler = ignore_signal;
    sigaction(SIGALRM, &action, &previous);
    alarm(1);
    EXPECT_EQ(MQ_swait(qid_), 0) << "a signal ends the wait";
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_EQ(MQ_swait(-1), -1);
    int removed = MQ_create(key_ + 3000);
    ASSERT_GE(removed, 0);
    MQ_del(removed);
    EXPECT_EQ(MQ_swait(removed), -1);
}

volatile sig_atomic_t handler_runs = 0;
int handler_queue = -1;

void post_late_reply(int)
{
    handler_runs = handler_runs + 1;
    raw_send(handler_queue, 6, body_of('0', "late"));
}

TEST_F(QueueChannel, CustomTimeoutHandlerRunsAndTheWaitGoesOn)
{
    handler_runs = 0;
    handler_queue = qid_;
    MQ_timeout(1);
    MQ_timeout_func(post_late_reply);
    char reply[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_get(qid_, 6, reply), 0);
    EXPECT_STREQ(reply, "late");
    EXPECT_EQ(handler_runs, 1);
}

TEST_F(QueueChannel, DefaultTimeoutEndsWithStatus7)
{
    MQ_timeout(1);
    EXPECT_EXIT(
        {
            char reply[MQ_ITEM_SIZE];
            MQ_get(qid_, 6, reply);
        },
        ::testing::ExitedWithCode(7), "Queue not responding!!");
}

TEST_F(QueueChannel, ClearDrainsOneTypeOrAll)
{
    ASSERT_EQ(raw_send(qid_, 2, body_of('2', "3")), 0);
    ASSERT_EQ(raw_send(qid_, 2, std::string(400, 'q')), 0);
    ASSERT_EQ(raw_send(qid_, 5, body_of('0', "a")), 0);
    ASSERT_EQ(raw_send(qid_, 1, body_of('5', "b")), 0);
    EXPECT_EQ(MQ_clear(qid_, 2), -1);
    EXPECT_EQ(pending(qid_), 2);
    EXPECT_EQ(MQ_clear(qid_, 0), -1);
    EXPECT_EQ(pending(qid_), 0);
    EXPECT_EQ(MQ_clear(-1, 0), -1);
}

TEST_F(QueueChannel, OpenCreateAndFind)
{
    EXPECT_EQ(MQ_open(key_), qid_);
    EXPECT_EQ(MQ_create(key_), -1) << "creation is exclusive";
    EXPECT_EQ(MQ_create(-1), -2);

    int base = key_ + 2000;
    for (int w = base; w < base + 3; ++w) {
        int stale = msgget(w, 0);
        if (stale >= 0) msgctl(stale, IPC_RMID, nullptr);
    }
    EXPECT_EQ(MQ_open(base), -1);
    EXPECT_EQ(MQ_find(base), base);
    int first = MQ_create(base);
    int second = MQ_create(base + 1);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(MQ_find(base), base + 2);
    EXPECT_EQ(MQ_find(base + 1), base + 2);
    MQ_del(first);
    EXPECT_EQ(MQ_find(base), base);
    MQ_del(second);
}

TEST(ChannelParams, ParameterResourceSetsTransportAndTimeout)
{
    MESS_set(0, M_warn);
    // The transport shows in MQ_clear: queues answer -1, sockets 0.
    const struct {
        const char* value;
        int clear_result;
    } cases[] = {
        {"qtype=sock", 0},         {"QTYPE=SOCK", 0},   {"qtype=sock,qtype=mqueue", -1},
        {"to=5,qtype=sock", 0},    {"to", 0},           {"to=", 0},
        {"to=abc,qtype=mqueue", -1}, {"to=-4", -1},     {"qtype=other", -1},
    };
    for (const auto& c : cases) {
        RES_put("parameter", c.value);
        EXPECT_EQ(MQ_params(), 0) << c.value;
        EXPECT_EQ(MQ_clear(-1, 0), c.clear_result) << c.value;
    }
    MQ_settype(0);
}

// --- stream transport: the library plays one side, a raw socket the other ---

int raw_connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string frame(char code, const std::string& text)
{
    return std::string(1, static_cast<char>(text.size() + 1)) + code + text;
}

// Reads one frame; "" with code 0 on failure or end of stream.
std::string read_frame(int fd, char* code)
{
    *code = 0;
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 3000) <= 0) return "";
    signed char length = 0;
    if (recv(fd, &length, 1, 0) != 1 || length < 1) return "";
    std::string body(static_cast<size_t>(length), '\0');
    if (recv(fd, body.data(), body.size(), MSG_WAITALL) != length) return "";
    *code = body[0];
    return body.substr(1);
}

bool peer_closed(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 3000) <= 0) return false;
    char byte;
    return recv(fd, &byte, 1, 0) <= 0;   // end of stream or reset
}

class StreamChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        MESS_set(0, M_warn);
        MQ_settype(1);
        MQ_offset(0);
        MQ_timeout(5);
        port_ = port_base() + counter_++;
    }
    void TearDown() override
    {
        for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(1, id, -1, "bye");
        for (int fd : fds_) close(fd);
        MQ_del(1);
        MQ_settype(0);
    }
    // Polls the server call until it reports something other than "nothing yet".
    int sget(int* conn_id, char* item)
    {
        for (int i = 0; i < 3000; ++i) {
            int got = MQ_sget(1, conn_id, item);
            if (got != 0) return got;
            usleep(1000);
        }
        return 0;
    }
    int client()
    {
        int fd = raw_connect(port_);
        if (fd >= 0) fds_.push_back(fd);
        return fd;
    }
    int handshake(int fd)
    {
        std::string request = frame('/', "1000");
        send(fd, request.data(), request.size(), 0);
        int conn_id = -1;
        char item[MQ_ITEM_SIZE];
        if (sget(&conn_id, item) != 2) return -1;
        char code;
        std::string reply = read_frame(fd, &code);
        EXPECT_EQ(code, '2');
        EXPECT_EQ(reply, std::to_string(conn_id));
        return conn_id;
    }

    static inline int counter_ = 0;
    int port_ = 0;
    std::vector<int> fds_;
};

TEST_F(StreamChannel, ServerHandshakeRequestAndReply)
{
    ASSERT_EQ(MQ_create(port_), 1);
    int fd = client();
    ASSERT_GE(fd, 0);
    int conn_id = handshake(fd);
    ASSERT_EQ(conn_id, MQ_FIRST_CONN);

    std::string request = frame(static_cast<char>('0' + conn_id), "show");
    send(fd, request.data(), request.size(), 0);
    int from = -1;
    char item[MQ_ITEM_SIZE];
    ASSERT_EQ(sget(&from, item), 1);
    EXPECT_EQ(from, conn_id);
    EXPECT_STREQ(item, "show");

    EXPECT_EQ(MQ_sput(1, conn_id, 0, "rate=%d\n", 10), 10);   // L+1 bytes
    char code;
    EXPECT_EQ(read_frame(fd, &code), "rate=10\n");
    EXPECT_EQ(code, '0');
}

TEST_F(StreamChannel, ServerWaitWakesOnConnectionAndData)
{
    ASSERT_EQ(MQ_create(port_), 1);
    int fd = client();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(MQ_swait(1), 1);
    ASSERT_EQ(handshake(fd), MQ_FIRST_CONN);
    std::string request = frame('3', "rate");
    send(fd, request.data(), request.size(), 0);
    EXPECT_EQ(MQ_swait(1), 1);
    int conn_id = -1;
    char item[MQ_ITEM_SIZE];
    EXPECT_EQ(MQ_sget(1, &conn_id, item), 1);
    EXPECT_STREQ(item, "rate");
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
        {"length -128", std::string(1, '\x80') + "3abc", true},
        {"length -1", std::string(1, '\xff') + "3abc", true},
        {"length above the text limit", std::string(1, '\x7f') + '3' + std::string(126, 'x'), true},
        {"bad connection id", frame('F', "x"), false},
        {"id 2", frame('2', "x"), false},
    };
    for (const auto& c : cases) {
        int fd = client();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(handshake(fd), MQ_FIRST_CONN) << c.what << ": a dropped stream must free its slot";
        send(fd, c.bytes.data(), c.bytes.size(), 0);
        int conn_id = 42;
        char item[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(sget(&conn_id, item), -1) << c.what;
        if (c.out_of_step) {
            EXPECT_TRUE(peer_closed(fd)) << c.what << ": the stream is out of step and must go";
        } else {
            shutdown(fd, SHUT_RDWR);
            EXPECT_EQ(sget(&conn_id, item), -1);   // client disconnect
        }
        EXPECT_EQ(conn_id, 42) << c.what;
    }
}

TEST_F(StreamChannel, ClientReadsFramesAndRejectsBadOnes)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    fds_.push_back(listener);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    const struct {
        std::string bytes;
        int status;
        const char* text;
    } cases[] = {
        {frame('1', "first\n") + frame('0', "last\n"), 1, "first\n"},
        {frame('\'', "off"), -9, "off"},
        {frame('A', "bad status"), -1, ""},
        {std::string(1, '\0') + "0x", -1, ""},
        {std::string(1, '\xf0') + "0x", -1, ""},
        {std::string(), -1, ""},   // server closes
    };
    for (const auto& c : cases) {
        ASSERT_EQ(MQ_open(port_), 1);
        int server = accept(listener, nullptr, nullptr);
        ASSERT_GE(server, 0);
        EXPECT_EQ(MQ_put(1, 4, "%s", "help"), 6);
        char code;
        EXPECT_EQ(read_frame(server, &code), "help");
        EXPECT_EQ(code, '4');
        if (!c.bytes.empty()) send(server, c.bytes.data(), c.bytes.size(), 0);
        else shutdown(server, SHUT_RDWR);
        char reply[MQ_ITEM_SIZE] = "junk";
        EXPECT_EQ(MQ_get(1, 4, reply), c.status) << c.text;
        EXPECT_STREQ(reply, c.text);
        close(server);
        MQ_del(1);
    }
}

TEST_F(StreamChannel, OpenFailsWithoutAListener)
{
    EXPECT_EQ(MQ_open(port_), -1);
    char reply[MQ_ITEM_SIZE] = "junk";
    EXPECT_EQ(MQ_get(1, 4, reply), -1);
    EXPECT_EQ(MQ_put(1, 4, "%s", "x"), -1);
    EXPECT_EQ(MQ_clear(1, 0), 0);
}

}  // namespace
