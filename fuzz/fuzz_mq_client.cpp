// Loop-control replies as a client receives them. Queue transport: the input is a series
// of messages, each a length byte (0..255) and that many body bytes, sent with the
// client's connection id as type and read back with MQ_get. Stream transport: the same
// bytes, unframed, written by the window's end of a TCP stream and read with MQ_get until
// the stream ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>

#include "fuzz_common.hpp"
#include "mqueue.hpp"

namespace {

constexpr int kConn = 5;
int qid = -1;
int listener = -1;
int port = -1;

struct RawMessage {
    long mtype;
    char mtext[512];
};

void remove_queue() { if (qid >= 0) msgctl(qid, IPC_RMID, nullptr); }

void read_queue(const uint8_t* data, size_t size)
{
    MQ_settype(0);
    int sent = 0;
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        RawMessage msg{};
        msg.mtype = kConn;
        std::memcpy(msg.mtext, data + at + 1, length);
        if (msgsnd(qid, &msg, length, IPC_NOWAIT) == 0) ++sent;
        at += 1 + length;
    }
    char item[MQ_ITEM_SIZE];
    for (int i = 0; i < sent; ++i) MQ_get(qid, kConn, item);
    MQ_hangup(qid, kConn);
    RawMessage msg;
    while (msgrcv(qid, &msg, sizeof msg.mtext, 0, IPC_NOWAIT | MSG_NOERROR) >= 0) {
    }
}

void read_stream(const uint8_t* data, size_t size)
{
    MQ_settype(1);
    if (MQ_open(port) == 1) {
        int server = accept(listener, nullptr, nullptr);
        if (server >= 0) {
            send(server, data, size, MSG_NOSIGNAL);
            shutdown(server, SHUT_WR);
            char item[MQ_ITEM_SIZE];
            for (int round = 0; round < 1000 && MQ_get(1, kConn, item) >= 0; ++round) {
            }
            close(server);
        }
    }
    MQ_del(1);
    MQ_settype(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::start();
    qid = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    if (qid < 0) std::abort();
    std::atexit(remove_queue);
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        std::abort();
    port = ntohs(addr.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    MQ_timeout(0);
    MQ_offset(0);
    read_queue(data, size);
    read_stream(data, size);
    return 0;
}
