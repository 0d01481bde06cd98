// loopstub: a stand-in loop window. It owns one window's queue (or listening socket),
// serves up to 19 clients through the channel's server operations and answers like a
// small animation window, so that reelctl and the resource exchange have a peer.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mqueue.hpp"
#include "string.hpp"

namespace {

constexpr int kFirstWindow = 20;
constexpr int kStopGraceMs = 2000;     // time given to clients to remove the queue

enum class Mode { normal, not_running, silent };

struct Options {
    bool window_given = false;         // otherwise: the first free one from kFirstWindow
    int window = 0;
    int transport = 0;
    Mode mode = Mode::normal;
};

int channel_id = -1;

// Interrupt, hang-up or terminate: take the queue away and leave at once. Doing it here rather
// than by a flag means a signal that arrives just before a blocking wait is not lost.
void on_signal(int)
{
    if (channel_id >= 0) MQ_del(channel_id);
    _exit(0);
}

// One adjustable setting of the animation.
struct Setting {
    const char* name;
    const char* help;
    std::string value;
    bool (*valid)(const char*);
};

// Reads a whole decimal integer within [low, high].
bool read_int(const char* text, long low, long high, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && value >= low && value <= high;
}

bool is_count(const char* text)
{
    long value = 0;
    return read_int(text, 0, 99999, value);
}
bool is_direction(const char* text)
{
    return stricmp(text, "forward") == 0 || stricmp(text, "backward") == 0 || stricmp(text, "rock") == 0;
}
// A title must leave room for "title=" and the newline in one reply line, or the
// line that shows it would be cut.
bool is_title(const char* text) { return std::strlen(text) <= 100; }

std::array<Setting, 5> settings{{
    {"rate", "frames per second (0-99999)", "10", is_count},
    {"dwell", "extra pause on the last frame, tenths of a second", "5", is_count},
    {"direction", "forward, backward or rock", "forward", is_direction},
    {"frame", "current frame number", "1", is_count},
    {"title", "window title (up to 100 characters)", "loopstub", is_title},
}};

Setting* find_setting(const char* name)
{
    for (auto& setting : settings)
        if (stricmp(setting.name, name) == 0) return &setting;
    return nullptr;
}

void usage()
{
    std::printf(
        "loopstub: a stand-in loop window answering the loop-control channel\n"
        "   loopstub [-wn window] [-qtype sock|mqueue] [-notrunning] [-silent]\n"
        " -wn window   window number (above 1000: the key or port itself);\n"
        "              without it the first free window from 20 is taken\n"
        " -qtype type  transport: mqueue (default) or sock (loopback TCP)\n"
        " -notrunning  answer every request with status -9 (loop not running)\n"
        " -silent      never answer anything\n"
        "Prints the window number once the channel is open; SIGINT, SIGHUP or\n"
        "SIGTERM removes the queue and ends it.\n");
}

// Returns 0 on success, 1 after --help, -1 on a bad argument.
int parse_args(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto take_value = [&]() -> bool {
            if (!value.empty()) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help" || arg == "-help") {
            usage();
            return 1;
        } else if (arg == "-wn" || arg == "-window_num") {
            long window = 0;
            if (!take_value() || !read_int(value.c_str(), 0, INT_MAX, window)) return -1;
            options.window_given = true;
            options.window = static_cast<int>(window);
            if (options.window > 1000) options.window -= MQ_REELCTL_OFFSET;   // a key given directly
        } else if (arg == "-qtype") {
            if (!take_value()) return -1;
            if (value == "sock") options.transport = 1;
            else if (value == "mqueue") options.transport = 0;
            else return -1;
        } else if (arg == "-notrunning") {
            options.mode = Mode::not_running;
        } else if (arg == "-silent") {
            options.mode = Mode::silent;
        } else {
            return -1;
        }
    }
    return 0;
}

void reply_help(int qid, int conn_id)
{
    static const char* const lines[] = {
        "Commands:\n",
        "  show                  list every setting\n",
        "  NAME                  print one setting\n",
        "  NAME VALUE            change one setting\n",
        "  query res NAME        resource value (resource exchange)\n",
        "  set res NAME VALUE    change a resource (resource exchange)\n",
        "  quit                  end this conversation\n",
        "  stop                  stop the loop window\n",
    };
    for (const char* line : lines) MQ_sput(qid, conn_id, 1, "%s", line);
    MQ_sput(qid, conn_id, 0, "Settings: rate, dwell, direction, frame, title\n");
}

void reply_show(int qid, int conn_id)
{
    for (std::size_t i = 0; i < settings.size(); ++i)
        MQ_sput(qid, conn_id, i + 1 < settings.size() ? 1 : 0, "%s=%s\n", settings[i].name,
                settings[i].value.c_str());
}

// Resource exchange: value lines carry status 0; a non-zero status ends the answer.
void reply_query_res(int qid, int conn_id, const char* name)
{
    if (Setting* setting = find_setting(name)) MQ_sput(qid, conn_id, 0, "%s\n", setting->value.c_str());
    MQ_sput(qid, conn_id, 1, "!end %s\n", name);
}

void reply_set_res(int qid, int conn_id, const char* name, const char* value)
{
    Setting* setting = find_setting(name);
    if (setting != nullptr && setting->valid(value)) setting->value = value;
    MQ_sput(qid, conn_id, 1, "!%s %s\n", setting != nullptr ? "set" : "ignored", name);
}

void reply_setting(int qid, int conn_id, Setting& setting, const char* value)
{
    if (*value != '\0') {
        if (!setting.valid(value)) {
            MQ_sput(qid, conn_id, 0, "Bad value for %s: %.40s%s (%s)\n", setting.name, value,
                    std::strlen(value) > 40 ? "..." : "", setting.help);
            return;
        }
        setting.value = value;
    }
    MQ_sput(qid, conn_id, 0, "%s=%s\n", setting.name, setting.value.c_str());
}

// Sends status -2 to every open connection; the server operations skip closed ones.
void announce_stop(int qid)
{
    for (int conn_id = MQ_FIRST_CONN; conn_id <= MQ_LAST_CONN; ++conn_id)
        MQ_sput(qid, conn_id, MQ_STATUS_STOPPED, "Loop window stopped\n");
}

// Answers one request. Returns false when the window must stop.
bool answer(int qid, int conn_id, char* request, Mode mode)
{
    wstrim_string(request);
    if (mode == Mode::not_running) {
        MQ_sput(qid, conn_id, MQ_STATUS_NOT_RUNNING, "Loop not running\n");
        return true;
    }
    char word[MQ_ITEM_SIZE] = "";
    char name[MQ_ITEM_SIZE] = "";
    int rest = 0;
    std::sscanf(request, "%119s %n", word, &rest);
    const char* after_word = request + rest;

    if (std::strcmp(request, "quit") == 0) {
        MQ_sput(qid, conn_id, -1, "Goodbye\n");
    } else if (std::strcmp(request, "stop") == 0) {
        announce_stop(qid);
        return false;
    } else if (std::strcmp(request, "help") == 0) {
        reply_help(qid, conn_id);
    } else if (std::strcmp(request, "show") == 0) {
        reply_show(qid, conn_id);
    } else if (std::strncmp(request, "query res ", 10) == 0) {
        reply_query_res(qid, conn_id, request + 10);
    } else if (std::strncmp(request, "set res ", 8) == 0) {
        int value_at = 0;
        std::sscanf(request + 8, "%119s %n", name, &value_at);
        reply_set_res(qid, conn_id, name, value_at > 0 ? request + 8 + value_at : "");
    } else if (Setting* setting = find_setting(word)) {
        reply_setting(qid, conn_id, *setting, after_word);
    } else {
        // Echo only so much that the line keeps its end.
        MQ_sput(qid, conn_id, 0, "Unknown command: %.80s%s (type help)\n", request,
                std::strlen(request) > 80 ? "..." : "");
    }
    return true;
}

// After "stop" the clients remove the queue; take it away ourselves if nobody does.
void await_queue_removal(int window, int qid, int transport)
{
    if (transport == 0) {
        for (int waited = 0; waited < kStopGraceMs; waited += 10) {
            if (MQ_open(window) == -1) return;
            usleep(10000);
        }
    }
    MQ_del(qid);
}

}  // namespace

int main(int argc, char** argv)
{
    // A closed standard stream would be handed to a client's socket by accept, and our
    // messages would then reach that client as replies.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    Options options;
    int parsed = parse_args(argc, argv, options);
    if (parsed > 0) return 0;
    if (parsed < 0) {
        std::fprintf(stderr, "loopstub: bad arguments (try --help)\n");
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal closed: no queue left behind. Under nohup the window keeps running.
    struct sigaction hangup {};
    sigaction(SIGHUP, nullptr, &hangup);
    if (hangup.sa_handler != SIG_IGN) sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    MQ_offset(MQ_REELCTL_OFFSET);
    MQ_settype(options.transport);
    int window = options.window_given ? options.window : MQ_find(kFirstWindow);
    if (!options.window_given && window < 0) {
        std::fprintf(stderr, "loopstub: no free window\n");
        return 1;
    }
    int qid = MQ_create(window);
    if (qid < 0) {
        std::fprintf(stderr, "loopstub: unable to open window %d\n", window);
        // A window killed without its chance to clean up leaves its queue behind.
        // reelctl reads a number above 1000 as the key itself.
        if (options.transport == 0 && MQ_open(window) > 0)
            std::fprintf(stderr, "loopstub: its queue exists; when no loop window serves it, remove it with: "
                                 "reelctl -wn=%lld clean\n",
                         window > 1000 ? static_cast<long long>(window) + MQ_REELCTL_OFFSET : window);
        return 1;
    }
    channel_id = qid;
    std::printf("%d\n", window);
    std::fflush(stdout);

    bool running = true;
    while (running) {
        if (options.mode == Mode::silent) {
            pause();
            continue;
        }
        if (MQ_swait(qid) < 0) break;   // queue removed from outside: nothing left to serve
        // Take everything pending; a bad message (-1) just ends this round.
        for (;;) {
            int conn_id = -1;
            char request[MQ_ITEM_SIZE];
            int got = MQ_sget(qid, &conn_id, request);
            if (got == 1) running = answer(qid, conn_id, request, options.mode);
            if (got <= 0 || !running) break;
        }
    }
    if (running) MQ_del(qid);
    else await_queue_removal(window, qid, options.transport);
    channel_id = -1;
    return 0;
}
