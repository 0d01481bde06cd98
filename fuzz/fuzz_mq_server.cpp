// Loop-control requests as the window's server end receives them. Queue transport: the
// input is a series of messages, each a length byte (0..255) and that many body bytes,
// sent with type 1 to a private queue and each taken with MQ_sget; every granted connection is
// answered and closed again so that slots do not run out. Stream transport: the same
// bytes, unframed, written by a client to the window's listening socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>

#include "fuzz_common.hpp"
#include "mqueue.hpp"

namespace {

int qid = -1;
int port = -1;

struct RawMessage {
    long mtype;
    char mtext[512];
};

void remove_queue() { if (qid >= 0) msgctl(qid, IPC_RMID, nullptr); }

// Takes every reply (types 2..21) off the queue, so that it never fills: a full queue
// makes the server wait seconds for room.
void drain_replies()
{
    RawMessage msg;
    for (long type = MQ_TYPE_CONNECT; type <= MQ_LAST_CONN; ++type)
        while (msgrcv(qid, &msg, sizeof msg.mtext, type, IPC_NOWAIT | MSG_NOERROR) >= 0) {
        }
}

void drain()
{
    RawMessage msg;
    while (msgrcv(qid, &msg, sizeof msg.mtext, 0, IPC_NOWAIT | MSG_NOERROR) >= 0) {
    }
}

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    close(fd);
    return ntohs(addr.sin_port);
}

void answer(int id, int conn_id, char* item)
{
    MQ_sput(id, conn_id, 1, "%s", item);
    MQ_sput(id, conn_id, 12, "line");
    MQ_sput(id, conn_id, -1, "bye");
}

void serve_queue(const uint8_t* data, size_t size)
{
    // One request at a time, each served before the next: a queue filled with requests
    // leaves no room for replies, and the server then waits seconds for some (by design).
    MQ_settype(0);
    char item[MQ_ITEM_SIZE];
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        RawMessage msg{};
        msg.mtype = MQ_TYPE_REQUEST;
        std::memcpy(msg.mtext, data + at + 1, length);
        msgsnd(qid, &msg, length, IPC_NOWAIT);
        at += 1 + length;
        int conn_id = -1;
        for (int round = 0; round < 4; ++round) {
            const int got = MQ_sget(qid, &conn_id, item);
            if (got == 0) break;
            if (got > 0 && conn_id >= MQ_FIRST_CONN) answer(qid, conn_id, item);
            drain_replies();
        }
    }
    for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(qid, id, -1, "bye");
    drain();
}

void serve_stream(const uint8_t* data, size_t size)
{
    MQ_settype(1);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        send(client, data, size, MSG_NOSIGNAL);
        shutdown(client, SHUT_WR);
        char item[MQ_ITEM_SIZE];
        int conn_id = -1;
        // Until nothing is left: a refused request leaves the stream open, and only its end
        // (or a frame out of step) closes it; a stream left open would keep the next
        // input's connection waiting in the backlog.
        for (int round = 0, idle = 0; round < 1000 && idle < 3; ++round) {
            const int got = MQ_sget(1, &conn_id, item);
            idle = got == 0 ? idle + 1 : 0;
            if (got > 0 && conn_id >= MQ_FIRST_CONN) answer(1, conn_id, item);
        }
        for (int id = MQ_FIRST_CONN; id <= MQ_LAST_CONN; ++id) MQ_sput(1, id, -1, "bye");
    }
    close(client);
    MQ_settype(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::start();
    qid = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (qid < 0) std::abort();
    std::atexit(remove_queue);
    MQ_timeout(0);
    MQ_offset(0);
    MQ_settype(1);
    for (int tries = 0; tries < 20 && port < 0; ++tries) {
        const int candidate = free_port();
        if (candidate > 0 && MQ_create(candidate) == 1) port = candidate;
    }
    MQ_settype(0);
    if (port < 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    MQ_timeout(0);
    serve_queue(data, size);
    serve_stream(data, size);
    return 0;
}
