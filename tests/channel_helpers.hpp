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

#include <cstdio>
#include <cstring>
#include <string>

namespace chan_test {

// Keys and ports private to this test process (n < 64).
inline int unique_key(int n) { return 0x51000000 + (static_cast<int>(getpid()) & 0xffff) * 64 + n; }

// A TCP socket bound to 127.0.0.1:port (address reuse on), or -1.
inline int bind_loopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A listening socket on 127.0.0.1:port, playing a window's server end; -1 on failure.
inline int listen_loopback(int port)
{
    int fd = bind_loopback(port);
    if (fd >= 0 && listen(fd, 4) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// Ports must stay out of the kernel's ephemeral range: a client stream of another test
// can hold any port there, and then binding it fails. The block of 32 is probed once,
// so a port some other program holds moves this process to the next free block.
inline int port_block()
{
    static const int base = [] {
        int lo = 32768, hi = 60999;
        if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
            if (std::fscanf(f, "%d %d", &lo, &hi) != 2) lo = 32768, hi = 60999;
            std::fclose(f);
        }
        // The wider free span of [10000, lo) and (hi, 65500).
        int first = 10000, last = lo - 1;
        if (65500 - (hi + 1) > last - first) first = hi + 1, last = 65500;
        const int blocks = (last - first + 1) / 32;
        if (blocks <= 0) return 20000;
        const int start = static_cast<int>(getpid()) % blocks;
        for (int i = 0; i < blocks; ++i) {
            const int candidate = first + ((start + i) % blocks) * 32;
            bool free = true;
            for (int p = candidate; p < candidate + 32 && free; ++p) {
                int fd = bind_loopback(p);
                free = fd >= 0;
                if (free) close(fd);
            }
            if (free) return candidate;
        }
        return first + start * 32;
    }();
    return base;
}
inline int unique_port(int n) { return port_block() + n; }

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
