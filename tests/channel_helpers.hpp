// Raw access to the loop-control wire for tests: System V messages and TCP frames built
// byte by byte, so that tests can send what a well-behaved peer never would.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace chan_test {

// Keys and ports private to this test process (n < 64).
inline int unique_key(int n) { return 0x51000000 + (static_cast<int>(getpid()) & 0xffff) * 64 + n; }
inline int unique_port(int n) { return 21000 + (static_cast<int>(getpid()) % 1400) * 30 + n; }

struct RawMessage {
    long mtype;
    char mtext[512];
};

inline int raw_send(int qid, long type, const std::string& body)
{
    RawMessage msg{};
    msg.mtype = type;
    std::memcpy(msg.mtext, body.data(), body.size());
    return msgsnd(qid, &msg, body.size(), IPC_NOWAIT);
}

// Takes one message of type, waiting up to wait_ms; its size, or -1.
inline long raw_receive(int qid, long type, std::string* body = nullptr, int wait_ms = 0)
{
    RawMessage msg{};
    for (int waited = 0;; waited += 10) {
        long n = msgrcv(qid, &msg, sizeof msg.mtext, type, IPC_NOWAIT);
        if (n >= 0) {
            if (body != nullptr) body->assign(msg.mtext, static_cast<size_t>(n));
            return n;
        }
        if (waited >= wait_ms) return -1;
        usleep(10000);
    }
}

inline int pending(int qid)
{
    struct msqid_ds info {};
    return msgctl(qid, IPC_STAT, &info) < 0 ? -1 : static_cast<int>(info.msg_qnum);
}

inline void remove_queue(int key)
{
    int id = msgget(key, 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
}

// A 120-byte body: code character, text, zero padding.
inline std::string body_of(char code, const std::string& text)
{
    std::string body(120, '\0');
    body[0] = code;
    body.replace(1, text.size(), text);
    return body;
}

inline std::string frame(char code, const std::string& text)
{
    return std::string(1, static_cast<char>(text.size() + 1)) + code + text;
}

inline int raw_connect(int port)
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

inline void raw_write(int fd, const std::string& bytes) { send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

}  // namespace chan_test
