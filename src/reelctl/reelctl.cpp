// reelctl: changes the settings of a running loop window by sending it text commands
// over the loop-control channel and printing its replies. Exit status 0, 7 or 14.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/msg.h>
#include <unistd.h>

#include "flag.hpp"
#include "mess.hpp"
#include "mqueue.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 7;
constexpr int kExitNotRunning = 14;
constexpr int kFirstWindow = 20;
constexpr int kSearchedWindows = 50;     // alloc looks at windows 20 to 69
constexpr int kCreateAttempts = 10;      // alloc_create: windows tried before giving up
constexpr int kMessageSize = 120;        // command buffer
constexpr int kLineChars = 79;          // longest interactive line, newline not counted

int qid = -1;
volatile sig_atomic_t connect_id = 2;   // this client's connection id
int window_num = 0;
int messnum = 0;
volatile sig_atomic_t qazlooping = 0;
volatile sig_atomic_t slot_held = 0;     // the window keeps a slot for connect_id
char temp_str[kMessageSize];

res_type res_key[] = {RES_help, RES_batch, RES_message, RES_file_path, RES_window_num, RES_parameter, RES_null};
res_type res_pos[] = {RES_command, RES_null};

constexpr int kNotSent = -100;           // the request never left: the window said nothing

// Sends one request and prints every reply line at level. Returns the last status, or
// kNotSent when the request could not be sent (the window's queue is gone).
int process_mess(M_type level, const char* item)
{
    if (MQ_put(qid, connect_id, "%s", item) < 0) return kNotSent;
    char reply[MQ_ITEM_SIZE];
    int status;
    while ((status = MQ_get(qid, connect_id, reply)) > 0) MESS_print(level, "%s", reply);
    if (status == 0) MESS_print(level, "%s", reply);
    if (status < 0) slot_held = 0;   // the window has closed this connection
    if (status == MQ_STATUS_STOPPED) qazlooping = 0;
    return status;
}

// Interrupted (Ctrl-C, hang-up, kill, output closed) while connected: say goodbye to the window, or
// it keeps this connection's slot for good and, after 19 such, takes no client at all.
void on_interrupt(int sig)
{
    if (slot_held) MQ_hangup(qid, connect_id);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A command the window never received is a failure, not the end of a conversation.
[[noreturn]] void not_sent()
{
    MESS_print(M_error, "Unable to send to QAZloop program\n");
    QAZ_exit(kExitFailed);
}

// Creates the queue of window, found free from the first window on; the window number,
// or -1. Callers started together all find the same free window and only one creates
// it: the others move on to the next free one, a few times and within the searched range.
int create_free_window(int window)
{
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        if (window < kFirstWindow || window >= kFirstWindow + kSearchedWindows) return -1;
        if (MQ_create(window) >= 0) return window;
        window = MQ_find(window + 1);
    }
    return -1;
}

[[noreturn]] void allocate(bool create)
{
    MESS_print(M_out2, "Allocating new message queue\n");
    int window = MQ_find(kFirstWindow);
    if (create) window = create_free_window(window);
    if (window < 0) {
        MESS_print(M_error, "Unable to Allocate new message queue\n");
        QAZ_exit(kExitFailed);
    }
    MESS_print(M_print, create ? "+%d\n" : "%d\n", window);
    QAZ_exit(kExitOk);
}

[[noreturn]] void test_queue()
{
    MESS_print(M_out2, "Testing for queue existence\n");
    if (MQ_open(window_num) == -1) {
        MESS_print(M_print, "not found\n");
        QAZ_exit(kExitFailed);
    }
    MESS_print(M_print, "found\n");
    QAZ_exit(kExitOk);
}

// Removes the queue and exits; returns only when there is no queue to clean.
void clean_queue()
{
    int id = MQ_open(window_num);
    if (id == -1) {
        MESS_print(M_error, "Message queue not found!\n");
        return;
    }
    MESS_print(M_mess, "Cleaning up message queue\n");
    if (MQ_del(id) < 0) MESS_print(M_error, "Unable to clean up queue!\n");
    QAZ_exit(kExitFailed);
}

// Drains every message of the window's queue and exits. A drain that could not read
// the queue (another user's window, a queue removed meanwhile) left everything in place:
// that is a failure, not an empty queue.
[[noreturn]] void clear_messages()
{
    if (MQ_clear(qid, 0) == 0) QAZ_exit(kExitOk);   // stream transport: nothing is queued
    struct msqid_ds info {};
    if (msgctl(qid, IPC_STAT, &info) < 0) {
        MESS_print(M_error, "Unable to clear message queue: %s\n", std::strerror(errno));
        QAZ_exit(kExitFailed);
    }
    QAZ_exit(kExitOk);
}

enum class Line { text, end, too_long, nul };

// Reads one line of at most kLineChars characters with its newline into line
// (kLineChars + 2 bytes). The whole line is consumed whatever it holds, so an overlong
// or binary line never spills into the next command.
Line read_line(char* line)
{
    int length = 0;
    bool nul = false;
    int c = EOF;
    while ((c = std::getchar()) != EOF) {
        if (c == '\0') nul = true;
        if (length <= kLineChars) line[length] = static_cast<char>(c);
        ++length;
        if (c == '\n') break;
    }
    if (c == EOF && length == 0) return Line::end;
    const int chars = c == '\n' ? length - 1 : length;
    if (chars > kLineChars) return Line::too_long;
    line[length] = '\0';
    // The request would be cut at the NUL byte: a command nobody typed.
    return nul ? Line::nul : Line::text;
}

// Reads lines until the conversation ends. End of input closes the conversation
// politely instead of repeating the last line.
int interactive()
{
    MESS_print(M_print, "   Type help for help\n");
    int status = 0;
    while (qazlooping && status >= 0) {
        MESS_print(M_print, "Message:%d: ", messnum);
        std::fflush(stdout);
        char line[kLineChars + 2];           // text, newline, terminator
        const Line got = read_line(line);
        if (got == Line::end) {
            MESS_print(M_print, "\n");   // end the prompt's line
            status = process_mess(M_print, "quit");
            break;
        }
        if (got == Line::too_long) {
            // Sending the pieces of an overlong line as separate commands would run
            // commands nobody typed.
            MESS_print(M_error, "Line longer than %d characters ignored\n", kLineChars);
            continue;
        }
        if (got == Line::nul) {
            MESS_print(M_error, "Line with a NUL byte ignored\n");
            continue;
        }
        if (line[0] != '\0') {
            ++messnum;
            status = process_mess(M_print, line);
            if (status == kNotSent) not_sent();
        }
    }
    return status;
}

// Copies the command into message with newlines turned into blanks. False when it is
// longer than one request can carry.
bool take_command(const char* command, char* message)
{
    if (std::strlen(command) > static_cast<std::size_t>(MQ_TEXT_MAX)) {
        MESS_print(M_error, "reelctl: command longer than %d characters\n", MQ_TEXT_MAX);
        return false;
    }
    str_copy(message, kMessageSize, command);
    for (char* c = message; *c != '\0'; ++c)
        if (*c == '\n') *c = ' ';
    return true;
}

// A closed standard stream would be handed to the window's socket by the next open,
// and our own output would then reach the window as requests.
void open_standard_streams()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
}

}  // namespace

int main(int argc, char** argv)
{
    open_standard_streams();
    RES_init(argc, argv, res_key, res_pos);
    if (FLAG_help()) {
        RES_get_progname(temp_str, sizeof temp_str);
        MESS_print(M_print, "%s : This program makes changes to the qazloop program\n", temp_str);
        RES_help_print(temp_str, res_key, res_pos);
        QAZ_exit(kExitOk);
    }

    MQ_params();
    MQ_offset(MQ_REELCTL_OFFSET);
    // A window number that is no number must not fall back to window 0, which may well
    // be somebody's running window.
    const char* window_text = RES_get("window_num");
    if (RES_getval("window_num", &window_num, CV_int) != 1 && window_text != nullptr && *window_text != '\0') {
        MESS_print(M_error, "reelctl: bad window number: %s\n", window_text);
        QAZ_exit(kExitFailed);
    }
    if (window_num > 1000) window_num -= MQ_REELCTL_OFFSET;   // a key given directly

    char message[kMessageSize] = "";
    const char* command = RES_get("command");
    bool have_command = command != nullptr && *command != '\0';
    if (have_command) {
        if (!take_command(command, message)) QAZ_exit(kExitFailed);
        if (!MESS_check_set()) MESS_set(0, 255);
    }
    MESS_print_prog("QAZLOOP PARAMETER SETTING PROGRAM");

    if (have_command) {
        if (strnicmp(message, "alloc_create", 10) == 0) allocate(true);
        if (strnicmp(message, "alloc", 5) == 0) allocate(false);
        if (std::strncmp(message, "test", 4) == 0) test_queue();
        if (std::strncmp(message, "clean", 5) == 0) clean_queue();
    }

    MESS_print(M_mess, "Opening message queue\n");
    qid = MQ_open(window_num);
    if (qid == -1) {
        MESS_print(M_error, "QAZloop program not running or no message queue exists\n");
        QAZ_exit(kExitFailed);
    }
    if (!have_command) MESS_print(M_mess, "Message queue opened (id:%d)\n", qid);
    else if (std::strncmp(message, "clear mesg", 10) == 0) clear_messages();

    messnum = 1;
    // No connect replies are drained: one lying in the queue may be another client's,
    // still on its way to it (see MQ_connect).
    connect_id = MQ_connect(qid);
    if (connect_id == -1) {
        MESS_print(M_error, "Unable to connect to QAZloop program\n");
        QAZ_exit(kExitFailed);
    }
    qazlooping = 1;
    slot_held = 1;
    // SIGPIPE: the reader of our output went away (reelctl ... | head -1). A signal
    // ignored from the start (nohup, a background job) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        if (std::signal(sig, on_interrupt) == SIG_IGN) std::signal(sig, SIG_IGN);
    MESS_print(M_mess, "Connected to QAZloop\n");

    int status;
    if (have_command) {
        MESS_print(M_mess, "Command:%s\n", message);
        status = process_mess(M_print, message);
        if (status == kNotSent) not_sent();
        // A negative status means the server already closed this connection: a "quit"
        // would never be answered.
        if (qazlooping && status >= 0) status = process_mess(M_print, "quit");
    } else {
        status = interactive();
    }

    if (status == MQ_STATUS_NOT_RUNNING) {
        MESS_print(M_error, "QAZloop not running, reelctl stopped!\n");
        QAZ_exit(kExitNotRunning);
    }
    if (qazlooping) QAZ_exit(kExitOk);
    if (MQ_del(qid) < 0) MESS_print(M_error, "Removing message queue: %s\n", std::strerror(errno));
    QAZ_exit(kExitFailed);
}
