// Loop-control channel: System V queue and loopback TCP transports, client and server.
#include "mqueue.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

constexpr M_type M_trace = 0x80000000u;   // channel trace: top debug bit only
constexpr int kSlots = 25;                // conn[] size; entries 0..19 are used
constexpr int kUsedSlots = MQ_MAX_CLIENTS + 1;
// A status travels as one code byte, '0' + status, read as a signed char (what a peer
// gets by storing '0' + status in a char here): -176 to 79, except -48, whose code
// would be the NUL byte that marks no status at all.
constexpr int kMinStatus = SCHAR_MIN - '0';
constexpr int kMaxStatus = SCHAR_MAX - '0';
constexpr int kConnectCode = '0' - 1;     // '/' marks a connect request
constexpr int kStreamReadSecs = 5;        // rest of a frame after its first byte
constexpr int kServerSendSecs = 5;        // room for a reply when the time-out is off

int transport = 0;                        // 0 message queue, 1 TCP socket
int key_offset = 0;
int timeout_secs = MQ_DEFAULT_TIMEOUT;
MQ_handler* to_func = nullptr;
struct sigaction top_func;                // handler in force before the last arming
int conn[kSlots] = {};
int msgqid = -1;
int sock1 = -1;
int sock2 = -1;
// The client connection this process holds (queue transport), for a time-out to give
// back: a window that answers late must still learn that we left.
volatile sig_atomic_t held_qid = -1;
volatile sig_atomic_t held_conn = -1;
bool stream_slot[kSlots] = {};            // slots opened over the current client stream sock2
bool send_stalled[kSlots] = {};           // a reply to this connection id was given up
// When each slot was last freed (a count of frees, 0 = never). A client that said "quit"
// may not yet have read the goodbye on its id; the next holder of that id clears old
// replies from the queue as it connects. Granting the slot freed longest ago keeps a
// just-freed id out of use until every other free id has been granted.
unsigned long freed_at[kSlots] = {};
unsigned long frees = 0;

void free_slot(int slot)
{
    conn[slot] = 0;
    freed_at[slot] = ++frees;
}

bool queue_transport() { return transport == 0; }

// The queue key or TCP port of window num. False when there is none: key 0 would make
// a new private queue at every call, and ports end at 65535 (a larger number would
// silently wrap onto some other port).
bool window_address(int num, int& address, bool quiet = false)
{
    long long value = static_cast<long long>(key_offset) + num;
    bool valid = queue_transport() ? value != 0 && value >= INT_MIN && value <= INT_MAX
                                   : value >= 1 && value <= 65535;
    if (!valid) {
        if (!quiet) MESS_print(M_warn, "MQ: window %d gives no valid %s (%lld)\n", num, queue_transport() ? "key" : "port", value);
        return false;
    }
    address = static_cast<int>(value);
    return true;
}

void close_fd(int& fd)
{
    if (fd >= 0) close(fd);
    fd = -1;
}

// The client stream is gone, and with it every connection it opened: their slots are
// free again (otherwise one client could hold all of them for good by connecting
// repeatedly before it hangs up).
void close_stream()
{
    close_fd(sock2);
    for (int slot = 0; slot < kSlots; ++slot) {
        if (stream_slot[slot]) free_slot(slot);
        stream_slot[slot] = false;
    }
}

void install_alarm_handler(MQ_handler* handler)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocked send or receive must come back with EINTR so that the
    // guard can decide whether to carry on.
    action.sa_flags = 0;
    sigaction(SIGALRM, &action, &top_func);
}

// Fills a queue body: code character, text cut at MQ_TEXT_MAX, zero padding.
void fill_body(mqueuebuf& buf, int code, const char* text)
{
    std::memset(buf.mtext, 0, sizeof buf.mtext);
    buf.mtext[0] = static_cast<char>(code);
    str_copy(buf.mtext + 1, MQ_TEXT_MAX + 1, text);
}

// A received body is usable when it holds a code character and a terminated text
// inside the MQ_BODY_SIZE bytes (the buffer is zeroed before each receive).
bool body_terminated(const mqueuebuf& buf, long received)
{
    if (received < 1) return false;
    return std::memchr(buf.mtext + 1, '\0', MQ_BODY_SIZE - 1) != nullptr;
}

bool status_valid(int status) { return status >= kMinStatus && status <= kMaxStatus && status != -'0'; }

// The status a received code byte carries.
int status_of(int code_byte) { return static_cast<signed char>(code_byte) - '0'; }

bool request_code_valid(int code)
{
    return code == kConnectCode || (code >= '0' + MQ_FIRST_CONN && code <= '0' + MQ_LAST_CONN);
}

// Formats into text (MQ_TEXT_MAX + 1 bytes); false when the text had to be cut.
bool format_text(char* text, const char* format, va_list args)
{
    text[0] = '\0';
    if (format == nullptr) return true;
    return std::vsnprintf(text, MQ_TEXT_MAX + 1, format, args) <= MQ_TEXT_MAX;
}

long receive(int qid, mqueuebuf& buf, long type, int flags)
{
    std::memset(&buf, 0, sizeof buf);
    return msgrcv(qid, &buf, MQ_BODY_SIZE, type, flags | MSG_NOERROR);
}

// --- stream frames ---

int send_all(int fd, const char* data, int size)
{
    int sent = 0;
    while (sent < size) {
        ssize_t n = send(fd, data + sent, static_cast<size_t>(size - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        sent += static_cast<int>(n);
    }
    return sent;
}

int send_frame(int fd, int code, const char* text)
{
    if (fd < 0) return -1;
    int text_len = static_cast<int>(strnlen(text, MQ_TEXT_MAX));
    char frame[MQ_TEXT_MAX + 2];
    int length = 1 + text_len;
    frame[0] = static_cast<char>(length);
    frame[1] = static_cast<char>(code);
    std::memcpy(frame + 2, text, static_cast<size_t>(text_len));
    int written = send_all(fd, frame, length + 1);
    MESS_print(M_trace, "Send: %d %d %d => %.*s\n", written, length, code, text_len, text);
    return written;
}

// Reads exactly size bytes; when wait_secs > 0 the whole read must end within wait_secs
// (a client that trickles a frame byte by byte cannot hold the server for long).
// Returns size, 0 when the peer closed, -1 on failure or when the wait ran out.
int recv_exact(int fd, char* data, int size, int wait_secs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_secs);
    int got = 0;
    while (got < size) {
        if (wait_secs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return -1;
            pollfd pfd{fd, POLLIN, 0};
            int ready = poll(&pfd, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return -1;
        }
        ssize_t n = recv(fd, data + got, static_cast<size_t>(size - got), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return 0;
        if (n < 0) return -1;
        got += static_cast<int>(n);
    }
    return got;
}

// Reads the rest of a frame whose length byte is known. Lengths of 0 or below or above
// the protocol's limit leave the stream out of step: the caller must drop it.
// Returns the code character (text into item), 0 when the peer closed, -1 when malformed.
int read_frame_body(int fd, signed char length, char* item, int wait_secs, bool& closed)
{
    closed = false;
    if (length < 1 || length > MQ_TEXT_MAX + 1) {
        MESS_print(M_warn, "MQ: bad frame length %d, dropping the stream\n", length);
        return -1;
    }
    char body[MQ_TEXT_MAX + 2] = {};
    int got = recv_exact(fd, body, length, wait_secs);
    if (got == 0) {
        closed = true;
        return 0;
    }
    if (got != length) return -1;
    int code = static_cast<unsigned char>(body[0]);
    std::memcpy(item, body + 1, static_cast<size_t>(length - 1));
    item[length - 1] = '\0';
    MESS_print(M_trace, "Received: %d %d %d => %s\n", got + 1, length, code, item);
    return code;
}

}  // namespace

// ---------------------------------------------------------------- configuration

int MQ_params()
{
    int count = 0;
    char** values = nullptr;
    count = RES_getvals("parameter", &count, &values);
    for (int i = 0; i < count; ++i) {
        const char* value = values[i];
        if (strnicmp(value, "to", 2) == 0) {
            // "to=30": the number starts at the fourth character.
            char* end = nullptr;
            long secs = std::strlen(value) > 3 ? std::strtol(value + 3, &end, 10) : -1;
            if (end == nullptr || end == value + 3 || secs < 0 || secs > 86400)
                MESS_print(M_warn, "MQ_params: bad time-out: %s\n", value);
            else
                timeout_secs = static_cast<int>(secs);
        } else if (stricmp(value, "qtype=sock") == 0) {
            transport = 1;
        } else if (stricmp(value, "qtype=mqueue") == 0) {
            transport = 0;
        } else if (strnicmp(value, "qtype", 5) == 0) {
            // A misspelt transport would otherwise talk over the queue without a word.
            MESS_print(M_warn, "MQ_params: unknown transport ignored: %s\n", value);
        }
    }
    if (values != nullptr) free_parsed_array(count, values);
    return 0;
}

int MQ_offset(int ind)
{
    key_offset = ind;
    return 0;
}

int MQ_settype(int ind)
{
    transport = ind;
    return 0;
}

int MQ_timeout(int val)
{
    timeout_secs = val < 0 ? 0 : val;
    return 0;
}

int MQ_timeout_func(MQ_handler* func)
{
    to_func = func;
    return 0;
}

// ---------------------------------------------------------------- time-out guard

int MQ_enable_alarm()
{
    install_alarm_handler(to_func != nullptr ? to_func : MQ_intrp);
    if (timeout_secs > 0) alarm(static_cast<unsigned>(timeout_secs));
    return 0;
}

int MQ_disable_alarm()
{
    alarm(0);
    return 0;
}

void MQ_intrp(int)
{
    // Without a "quit" the window, once it answers again, would keep our slot for good.
    MQ_hangup(held_qid, held_conn);
    MESS_print(M_warn, "Queue not responding!!\n");
    QAZ_exit(7);
}

// ---------------------------------------------------------------- queue management

int MQ_open(int num)
{
    int address = 0;
    if (!window_address(num, address)) return -1;
    if (queue_transport()) {
        install_alarm_handler(MQ_intrp);
        int id = msgget(static_cast<key_t>(address), 0);
        if (id < 0) return errno == ENOENT ? -1 : 0;
        msgqid = id;
        return id;
    }
    close_fd(sock1);
    sock1 = socket(AF_INET, SOCK_STREAM, 0);
    if (sock1 < 0) return -1;
    MESS_print(M_trace, "Opened socket\n");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(address));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock1, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        close_fd(sock1);
        return -1;
    }
    MESS_print(M_trace, "Connected to socket\n");
    return 1;
}

int MQ_create(int num)
{
    if (num == -1) return -2;
    int address = 0;
    if (!window_address(num, address)) return -1;
    if (queue_transport()) {
        int id = msgget(static_cast<key_t>(address), IPC_CREAT | IPC_EXCL | 0600);
        if (id < 0) {
            MESS_print(M_error, "MQ_create: Unable to create queue %d: %s\n", address, std::strerror(errno));
            return -1;
        }
        msgqid = id;
        return id;
    }
    close_stream();
    close_fd(sock1);
    sock1 = socket(AF_INET, SOCK_STREAM, 0);
    if (sock1 < 0) return -1;
    int reuse = 1;
    setsockopt(sock1, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    int port = address;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    // Clients only ever connect over loopback; do not offer the control channel to
    // other hosts.
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int bound = bind(sock1, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    MESS_print(M_trace, "Socket bind on port: %d - %d\n", port, bound);
    if (bound < 0) {
        MESS_print(M_error, "MQ_create: Unable to bind port %d: %s\n", port, std::strerror(errno));
        close_fd(sock1);
        return -1;
    }
    int listening = listen(sock1, 100);
    MESS_print(M_trace, "Socket listen...: %d\n", listening);
    sock2 = -1;
    int on = 1;
    ioctl(sock1, FIONBIO, &on);
    return 1;
}

int MQ_find(int ind)
{
    for (long long candidate = ind; candidate < ind + 50LL && candidate <= INT_MAX; ++candidate) {
        int num = static_cast<int>(candidate);
        int address = 0;
        if (!window_address(num, address, true)) continue;   // not a window at all
        int found = MQ_open(num);
        if (!queue_transport()) close_fd(sock1);
        if (found == -1) return num;
    }
    return -1;
}

int MQ_del(int id)
{
    if (!queue_transport()) {
        close_stream();
        close_fd(sock1);
        return 0;
    }
    if (id < 0) return 0;
    struct msqid_ds msctl {};
    return msgctl(id, IPC_RMID, &msctl) < 0 ? -1 : 0;
}

int MQ_clear(int id, int index)
{
    if (!queue_transport()) return 0;
    if (id < 0 || index < 0) return -1;
    mqueuebuf msgb;
    while (receive(id, msgb, index, IPC_NOWAIT) >= 0) {
    }
    return -1;
}

// ---------------------------------------------------------------- client side

// Every connect reply travels under the same message type and says nothing of whom it
// answers, so a grant found in the queue may belong to a client that is still waiting
// for it: nothing is drained here. Any grant is a slot that is free for whoever takes
// it. Each connect request brings one grant and each waiting client takes one, so a
// client takes another's grant only when that one will take the next. A grant whose
// client gave up stays in the queue until the next client to connect takes it; its
// slot is used by that client, not held for good.
int MQ_connect(int id)
{
    char item[MQ_ITEM_SIZE];
    if (MQ_put(id, -1, "%d", static_cast<int>(getuid())) < 0) return -1;
    MQ_enable_alarm();
    int status = MQ_get(id, MQ_TYPE_CONNECT, item);
    int conn_id = -1;
    if (status == MQ_STATUS_CONNECT) {
        char* end = nullptr;
        long value = std::strtol(item, &end, 10);
        if (end != item && value >= MQ_FIRST_CONN && value <= MQ_LAST_CONN) {
            conn_id = static_cast<int>(value);
            // Replies left over from an earlier holder of this id are not ours.
            MQ_clear(id, conn_id);
            held_qid = id;
            held_conn = conn_id;
        } else {
            MESS_print(M_warn, "MQ_connect: bad connection id: %s\n", item);
        }
    }
    MQ_disable_alarm();
    return conn_id;
}

int MQ_put(int id, int conn_id, const char* format, ...)
{
    char text[MQ_TEXT_MAX + 1];
    va_list args;
    va_start(args, format);
    bool whole = format_text(text, format, args);
    va_end(args);
    // A cut command may mean something else to the server; say so.
    if (!whole) MESS_print(M_warn, "MQ_put: request cut to %d characters\n", MQ_TEXT_MAX);
    // Range first: '0' + a huge id would overflow before the code could be checked.
    if (conn_id != -1 && (conn_id < MQ_FIRST_CONN || conn_id > MQ_LAST_CONN)) {
        MESS_print(M_error, "MQ_put: bad connection id %d\n", conn_id);
        return -1;
    }
    int code = '0' + conn_id;
    if (!queue_transport()) return send_frame(sock1, code, text);

    mqueuebuf buf;
    buf.mtype = MQ_TYPE_REQUEST;
    fill_body(buf, code, text);
    MESS_print(M_trace, "PUT:%d:%s\n", conn_id, buf.mtext);
    MQ_enable_alarm();
    int result;
    // A custom time-out handler returns into the send: carry on waiting.
    while ((result = msgsnd(id, &buf, MQ_BODY_SIZE, 0)) < 0 && errno == EINTR) {
    }
    MQ_disable_alarm();
    return result;
}

int MQ_get(int id, int conn_id, char* item)
{
    if (item == nullptr) return -1;
    item[0] = '\0';
    if (!queue_transport()) {
        if (sock1 < 0) return -1;
        MQ_enable_alarm();
        signed char length = 0;
        int got;
        while ((got = static_cast<int>(recv(sock1, &length, 1, 0))) < 0 && errno == EINTR) {
        }
        const bool reset = got < 0 && errno == ECONNRESET;   // a killed window may reset
        int code = -1;
        bool closed = true;
        if (got == 1) code = read_frame_body(sock1, length, item, 0, closed);
        MQ_disable_alarm();
        // Tell a vanished window from a reply that ends the conversation: both give -1.
        if (got == 0 || reset || (got == 1 && closed))
            MESS_print(M_warn, "MQ_get: the loop window closed the connection\n");
        if (got != 1 || closed || code < 0) {
            // Closed, failed or out of step: this stream carries nothing more.
            close_fd(sock1);
            item[0] = '\0';
            return -1;
        }
        if (!status_valid(status_of(code))) {
            MESS_print(M_warn, "MQ_get: bad status character %d\n", code);
            item[0] = '\0';
            return -1;
        }
        return status_of(code);
    }

    if (conn_id < MQ_TYPE_CONNECT || conn_id > MQ_LAST_CONN) {
        MESS_print(M_error, "MQ_get: bad connection id %d\n", conn_id);
        return -1;
    }
    mqueuebuf buf;
    long received = -1;
    int wakeups = 0;
    int failure = 0;
    MQ_enable_alarm();
    for (;;) {
        errno = 0;
        received = receive(id, buf, conn_id, 0);
        failure = errno;   // before the trace, which may touch errno
        ++wakeups;
        MESS_print(M_trace, "GET-MSG:%d %ld %d %d\n", conn_id, received, failure, wakeups);
        if (received >= 0 || (failure != EINTR && failure != ENOMSG)) break;
    }
    MQ_disable_alarm();
    if (received < 0) {
        // The queue went away under the wait (the window stopped without a word):
        // say so, as the -1 alone reads like an ordinary end of the conversation.
        if (failure == EIDRM || failure == EINVAL)
            MESS_print(M_warn, "MQ_get: the loop window's queue is gone\n");
        return -1;
    }
    if (!body_terminated(buf, received)) {
        MESS_print(M_warn, "MQ_get: malformed message ignored\n");
        return -1;
    }
    int status = status_of(buf.mtext[0]);
    if (!status_valid(status)) {
        MESS_print(M_warn, "MQ_get: bad status character %d\n", buf.mtext[0]);
        return -1;
    }
    MESS_print(M_trace, "GET:%s\n", buf.mtext);
    str_copy(item, MQ_ITEM_SIZE, buf.mtext + 1);
    // The window has closed the connection: the id may soon be somebody else's.
    if (status < 0 && id == held_qid && conn_id == held_conn) held_conn = -1;
    return status;
}

int MQ_hangup(int id, int conn_id)
{
    // Only system calls here: this runs inside a signal handler.
    if (!queue_transport() || id < 0 || conn_id < MQ_FIRST_CONN || conn_id > MQ_LAST_CONN) return 0;
    mqueuebuf buf;
    std::memset(&buf, 0, sizeof buf);
    buf.mtype = MQ_TYPE_REQUEST;
    buf.mtext[0] = static_cast<char>('0' + conn_id);
    std::memcpy(buf.mtext + 1, "quit", 4);
    return msgsnd(id, &buf, MQ_BODY_SIZE, IPC_NOWAIT);
}

// ---------------------------------------------------------------- server side

namespace {

// Grants a slot to a connect request: on the queue the free slot freed longest ago
// (never-used slots first, lowest first), on a stream, where nothing of an old holder
// can linger, the lowest free one. Its id, or -1 (and no reply) when all are taken. A grant that could
// not be sent leaves the slot free: nobody will ever use it or say goodbye on it.
int accept_connect(int id)
{
    int chosen = -1;
    for (int slot = 1; slot < kUsedSlots; ++slot)
        if (!conn[slot] && (chosen < 0 || (queue_transport() && freed_at[slot] < freed_at[chosen]))) chosen = slot;
    if (chosen < 0) return -1;
    conn[0] = 1;
    int sent = MQ_sput(id, MQ_TYPE_CONNECT, MQ_STATUS_CONNECT, "%d", chosen + 2);
    conn[0] = 0;
    if (sent < 0) return -1;
    conn[chosen] = 1;
    send_stalled[chosen] = false;   // a new client: the last holder's stall is not its own
    return chosen + 2;
}

// A reply on the queue. A client that stopped reading (killed, stuck) lets its replies
// pile up until the queue is full; a blocking send would then stop the window for good.
// Room is awaited for the channel's time-out at most, then the reply is dropped. Later
// replies to the same connection get a single try until one goes through again, so a
// long listing to a dead client does not cost one time-out per line.
int send_reply(int id, const mqueuebuf& buf, int conn_id)
{
    using Clock = std::chrono::steady_clock;
    const int secs = timeout_secs > 0 ? timeout_secs : kServerSendSecs;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(secs);
    bool& stalled = send_stalled[conn_id - 2];
    useconds_t pause = 1000;
    for (;;) {
        if (msgsnd(id, &buf, MQ_BODY_SIZE, IPC_NOWAIT) == 0) {
            stalled = false;
            return 0;
        }
        if (errno != EAGAIN && errno != EINTR) return -1;
        if (stalled || Clock::now() >= deadline) break;
        usleep(pause);
        if (pause < 50000) pause *= 2;
    }
    if (!stalled)
        MESS_print(M_warn, "MQ_sput: queue full for %d s, reply to connection %d dropped\n", secs, conn_id);
    stalled = true;
    return -1;
}

// Dispatches one received request on its code character. Returns 1 or 2, -1 if bad.
int handle_request(int id, int code, const char* text, int* conn_id, char* item)
{
    if (!request_code_valid(code)) {
        MESS_print(M_warn, "MQ_sget: bad connection id %d in request ignored\n", code - '0');
        return -1;
    }
    if (code == kConnectCode) {
        item[0] = '\0';
        int granted = accept_connect(id);
        if (granted > 0) {
            *conn_id = granted;
            if (!queue_transport()) stream_slot[granted - 2] = true;
        }
        return 2;
    }
    *conn_id = code - '0';
    str_copy(item, MQ_ITEM_SIZE, text);
    return 1;
}

int sget_stream(int id, int* conn_id, char* item)
{
    if (sock2 < 0) {
        sockaddr_in peer{};
        socklen_t peer_len = sizeof peer;
        sock2 = accept(sock1, reinterpret_cast<sockaddr*>(&peer), &peer_len);
        if (sock2 < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            MESS_print(M_debug, "Accept failed\n");
            MESS_print(M_error, "accept: %s\n", std::strerror(errno));
            return -1;
        }
        int off = 0;
        ioctl(sock2, FIONBIO, &off);
        MESS_print(M_trace, "Connection made from %X on port %d\n", ntohl(peer.sin_addr.s_addr),
                   ntohs(peer.sin_port));
    }
    pollfd pfd{sock2, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0) return 0;
    signed char length = 0;
    ssize_t got = recv(sock2, &length, 1, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    bool closed = got == 0;
    int code = -1;
    if (got == 1) code = read_frame_body(sock2, length, item, kStreamReadSecs, closed);
    if (closed) {
        MESS_print(M_debug, "Client disconnect\n");
        close_stream();
        return -1;
    }
    if (code < 0) {
        close_stream();
        return -1;
    }
    char text[MQ_ITEM_SIZE];
    str_copy(text, sizeof text, item);
    return handle_request(id, code, text, conn_id, item);
}

}  // namespace

int MQ_sget(int id, int* conn_id, char* item)
{
    if (id < 0 || conn_id == nullptr || item == nullptr) return -1;
    item[0] = '\0';
    if (!queue_transport()) return sget_stream(id, conn_id, item);

    *conn_id = -1;
    mqueuebuf buf;
    long received = receive(id, buf, MQ_TYPE_REQUEST, IPC_NOWAIT);
    if (received < 0) return errno == ENOMSG ? 0 : -1;
    if (!body_terminated(buf, received)) {
        MESS_print(M_warn, "MQ_sget: malformed request ignored\n");
        return -1;
    }
    MESS_print(M_trace, "SGET:%s\n", buf.mtext);
    return handle_request(id, static_cast<unsigned char>(buf.mtext[0]), buf.mtext + 1, conn_id, item);
}

int MQ_swait(int id)
{
    if (id < 0) return -1;
    if (!queue_transport()) {
        pollfd pfd{sock2 >= 0 ? sock2 : sock1, POLLIN, 0};
        if (pfd.fd < 0) return -1;
        int ready = poll(&pfd, 1, -1);
        if (ready < 0) return errno == EINTR ? 0 : -1;
        return (pfd.revents & POLLNVAL) ? -1 : 1;
    }
    // A receive with room for no text leaves a waiting message in place (E2BIG): a
    // blocking look at the queue that wakes as soon as a request arrives.
    mqueuebuf probe;
    if (msgrcv(id, &probe, 0, MQ_TYPE_REQUEST, 0) >= 0) return 1;   // an empty body, taken
    if (errno == E2BIG) return 1;
    return errno == EINTR ? 0 : -1;
}

int MQ_sput(int id, int conn_id, int flag, const char* format, ...)
{
    if (id < 0 || conn_id < MQ_TYPE_CONNECT || conn_id > MQ_LAST_CONN) return -1;
    if (!conn[conn_id - 2]) return -1;
    if (!status_valid(flag)) {
        MESS_print(M_error, "MQ_sput: bad status %d\n", flag);
        return -1;
    }
    char text[MQ_TEXT_MAX + 1];
    va_list args;
    va_start(args, format);
    format_text(text, format, args);
    va_end(args);
    if (flag < 0) {
        free_slot(conn_id - 2);
        stream_slot[conn_id - 2] = false;
    }
    int code = '0' + flag;
    if (!queue_transport()) return send_frame(sock2, code, text);
    mqueuebuf buf;
    buf.mtype = conn_id;
    fill_body(buf, code, text);
    MESS_print(M_trace, "SPUT:%d:%s:", conn_id, buf.mtext);
    int result = send_reply(id, buf, conn_id);
    MESS_print(M_trace, "%d\n", result);
    return result;
}
