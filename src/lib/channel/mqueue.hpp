// Loop-control channel: a small request/reply protocol between clients and a loop
// window, over one System V message queue per window (default) or one TCP stream on
// the loopback interface. Key or port = offset + window number.
//
// Queue transport: every message body is exactly MQ_BODY_SIZE bytes: a code character
// ('0' + connection id from a client, '0' + status from the server) and a terminated
// text of at most MQ_TEXT_MAX characters. Message type 1 carries requests, type 2
// connect replies, types 3..21 the replies of one connection.
// Stream transport: frames of [L = 1 + text length][code][text], L a signed byte.
//
// Status of a reply: 2 connect accepted, > 0 a line with more to come, 0 the last line,
// < 0 the server closes the connection (-2 loop stopped, -3 / -9 loop not running).
// Any status whose code byte ('0' + status as a signed char) is not NUL travels: -176
// to 79 except -48.
#pragma once

inline constexpr int MQ_BODY_SIZE = 120;      // bytes sent and received per queue message
inline constexpr int MQ_TEXT_MAX = 118;       // longest text of one message
inline constexpr int MQ_ITEM_SIZE = 120;      // size a caller's item buffer must have
inline constexpr int MQ_FIRST_CONN = 3;       // connection ids run 3..21
inline constexpr int MQ_LAST_CONN = 21;
inline constexpr int MQ_MAX_CLIENTS = 19;
inline constexpr int MQ_TYPE_REQUEST = 1;     // message type of every request
inline constexpr int MQ_TYPE_CONNECT = 2;     // message type of connect replies
inline constexpr int MQ_STATUS_CONNECT = 2;   // status of a connect reply
inline constexpr int MQ_STATUS_STOPPED = -2;
inline constexpr int MQ_STATUS_NOT_RUNNING = -9;
inline constexpr int MQ_DEFAULT_TIMEOUT = 20; // seconds
inline constexpr int MQ_REELCTL_OFFSET = 6496;

// System V message layout; only MQ_BODY_SIZE bytes of mtext travel.
struct mqueuebuf {
    long mtype;
    char mtext[124];
};

// Time-out handler: receives the signal number like any signal handler.
using MQ_handler = void(int);

// --- configuration (each returns 0) ---
// Applies the comma-separated `parameter` resource: "to=N" time-out in seconds,
// "qtype=sock" / "qtype=mqueue" transport; later values win.
int MQ_params();
int MQ_offset(int ind);                  // base added to window numbers
int MQ_settype(int ind);                 // 0 message queue, 1 TCP socket
int MQ_timeout(int val);                 // seconds; 0 disables the time-out
int MQ_timeout_func(MQ_handler* func);   // handler run on time-out instead of MQ_intrp; nullptr restores it

// --- time-out guard ---
int MQ_enable_alarm();                   // installs the handler, arms `timeout` seconds; 0
int MQ_disable_alarm();                  // cancels the alarm; 0
// Default time-out handler: warns "Queue not responding!!" and exits with status 7.
void MQ_intrp(int sig = 0);

// --- queue management ---
// Looks up window num's queue without creating it: its id, -1 when absent, 0 when it
// exists but cannot be opened. Socket: connects to port offset+num; 1, or -1.
int MQ_open(int num);
// Creates window num's queue (0600, exclusive): its id or -1; -2 for num -1.
// Socket: listening non-blocking socket on port offset+num; 1, or -1.
int MQ_create(int num);
// First window number in ind..ind+49 with no queue, or -1 when all are taken.
int MQ_find(int ind);
// Removes the queue (negative id ignored) / closes the sockets; 0, or -1 on failure.
int MQ_del(int msgqid);
// Discards pending messages of type index (0: all) without waiting; -1. Socket: 0.
int MQ_clear(int msgqid, int index);

// --- client side ---
// Connect handshake; the new connection id (3..21) or -1.
int MQ_connect(int msgqid);
// Sends one request with connection id conn_id (-1 for a connect request); the text is
// formatted printf-style and cut at MQ_TEXT_MAX characters. Queue: 0 or -1 (time-out
// guarded); socket: bytes written or -1.
int MQ_put(int msgqid, int conn_id, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Waits for one reply to conn_id; copies its text into item (MQ_ITEM_SIZE bytes) and
// returns its status; -1 with an empty item on failure or a malformed message.
int MQ_get(int msgqid, int conn_id, char* item);
// Leaves connection conn_id from a signal handler (async-signal-safe): queue transport,
// a "quit" request sent without waiting, so that the server frees the connection's
// slot; 0 or -1. Socket: nothing to do (a closed stream frees its slots); 0.
int MQ_hangup(int msgqid, int conn_id);

// --- server side ---
// Takes one request without waiting. Returns 1 (request: *conn_id, item set), 2
// (connect handled; *conn_id is the new id, unchanged when all slots are taken or the
// grant could not be sent),
// 0 when nothing is pending, -1 on error or a malformed message. item: MQ_ITEM_SIZE bytes.
int MQ_sget(int msgqid, int* conn_id, char* item);
// Blocks until a request (or a connect) is pending for MQ_sget, without taking it, or
// until a signal arrives. 1 pending, 0 interrupted, -1 when the queue or socket is gone.
int MQ_swait(int msgqid);
// Sends a reply with status flag (-176..79, not -48) to connection conn_id (negative flag
// closes it); -1 without sending when the connection is not open or the flag cannot
// travel; else the send result. Queue: a
// full queue is waited on for the time-out (5 s when it is off), then the reply is
// dropped with a warning and -1; further replies to that connection get one try only
// until one goes through.
int MQ_sput(int msgqid, int conn_id, int flag, const char* format, ...) __attribute__((format(printf, 4, 5)));
