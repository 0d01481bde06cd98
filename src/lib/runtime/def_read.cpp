// Resource-file reader and key matching.
#include "def_read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files.hpp"
#include "mess.hpp"
#include "string.hpp"

namespace {

constexpr const char* kDefaultProg = "Qaz";
constexpr const char* kDefaultFile = ".qazdef";
constexpr const char* kDirFiles[] = {"qaz.cfg", ".qazdef", "Qaz.res"};
// Longest line text accepted; longer lines are skipped rather than split into pieces.
constexpr std::size_t kMaxLine = DEF_LINE_SIZE - 1;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// One open IF block. `enclosing_active` remembers whether the text around it was read at
// all: a block inside a skipped region never becomes active, whatever its tags.
struct Block {
    bool active;
    bool branch_taken;
    bool enclosing_active;
};

std::string prog_name = kDefaultProg;
std::string prog_title;
std::vector<std::string> tags;
std::unique_ptr<std::FILE, FileCloser> def_file;
std::vector<Block> blocks;
// True until the first line of the open file has been read.
bool at_file_start = false;

bool all_blocks_active() {
    return std::all_of(blocks.begin(), blocks.end(), [](const Block& b) { return b.active; });
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_directory(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

// Resource values can run commands (a message copy to "|cmd"), so a file that another
// user could have placed or changed must not configure the program: neither in the
// directory where it starts (a shared project directory, /tmp) nor anywhere else on the
// search path. Whoever may rename a directory anywhere above the file may put a tree of
// their own in its place, so every directory the name passes through is judged, from the
// root down, as the kernel reaches it: each must be owned by this user or root and
// writable by neither group nor others, unless it is sticky (others can then add entries
// but not move ours). The file itself must be owned by this user or root and writable by
// neither; in a sticky shared directory it must be this user's own. A symbolic link is
// followed where it points, and the link itself must pass the owner and directory rules,
// or whoever may write its directory could point it at a file of ours that was never
// meant as resources.
bool trusted_owner(uid_t owner) { return owner == getuid() || owner == 0; }

bool others_may_write(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// Empty when dir (with status st) may lie on a trusted path, else the reason it may not.
std::string directory_distrust(const std::string& dir, const struct stat& st) {
    if (!trusted_owner(st.st_uid))
        return "its directory " + dir + " is owned by another user (uid " + std::to_string(st.st_uid) + ")";
    if (others_may_write(st) && (st.st_mode & S_ISVTX) == 0)
        return "its directory " + dir + " is writable by group or others";
    return "";
}

// Walks name component by component, following symbolic links, and judges every
// directory on the way and every link met. Empty when all pass; else the first reason.
// On success *parent holds the status of the directory the file itself is in.
std::string path_distrust(const std::string& name, struct stat* parent) {
    std::vector<std::string> pending;  // components still to walk, the next one last
    const auto push_path = [&pending](const std::string& path) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t slash = std::min(path.find('/', start), path.size());
            if (slash > start) parts.push_back(path.substr(start, slash - start));
            start = slash + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    std::string current = "/";
    struct stat current_st {};
    if (::stat("/", &current_st) != 0) return "the root directory cannot be examined";
    std::string reason = directory_distrust("/", current_st);
    if (!reason.empty()) return reason;
    if (name.empty() || name[0] != '/') {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd) return "the working directory cannot be resolved";
        push_path(name);
        push_path(cwd.get());
    } else {
        push_path(name);
    }
    const auto child = [&current](const std::string& part) {
        return current == "/" ? "/" + part : current + "/" + part;
    };
    int links_left = 40;
    while (!pending.empty()) {
        const std::string part = pending.back();
        pending.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            current = std::filesystem::path(current).parent_path().string();
            if (current.empty()) current = "/";
            if (::stat(current.c_str(), &current_st) != 0) return "its directory " + current + " cannot be examined";
            continue;
        }
        const std::string next = child(part);
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) return next + " cannot be examined";
        if (S_ISLNK(st.st_mode)) {
            if (--links_left < 0) return "too many symbolic links";
            if (!trusted_owner(st.st_uid))
                return "a symbolic link owned by another user (uid " + std::to_string(st.st_uid) + ")";
            if (others_may_write(current_st) && st.st_uid != getuid())
                return "a symbolic link whose directory " + current + " is writable by group or others";
            std::vector<char> target(4097);  // a link longer than a path can be is refused
            const ssize_t got = ::readlink(next.c_str(), target.data(), target.size());
            if (got <= 0 || static_cast<std::size_t>(got) >= target.size())
                return "the symbolic link " + next + " cannot be read";
            const std::string to(target.data(), static_cast<std::size_t>(got));
            push_path(to);
            if (!to.empty() && to[0] == '/') {
                current = "/";
                if (::stat("/", &current_st) != 0) return "the root directory cannot be examined";
            }
            continue;
        }
        if (pending.empty()) break;  // the file itself; judged by the caller
        if (!S_ISDIR(st.st_mode)) return next + " is not a directory";
        reason = directory_distrust(next, st);
        if (!reason.empty()) return reason;
        current = next;
        current_st = st;
    }
    *parent = current_st;
    return "";
}

// Empty when the file opened as name (whose status is target) may be read, else the reason.
std::string file_distrust(const std::string& name, const struct stat& target) {
    if (!trusted_owner(target.st_uid)) return "owned by another user (uid " + std::to_string(target.st_uid) + ")";
    if (others_may_write(target)) return "writable by group or others";
    struct stat parent {};
    std::string reason = path_distrust(name, &parent);
    if (!reason.empty()) return reason;
    // In a sticky shared directory only the file's owner can replace it: that must be us.
    if (others_may_write(parent) && target.st_uid != getuid())
        return "its directory is writable by group or others and the file is not this user's";
    return "";
}

// Opens name for reading when it may be trusted; null otherwise (a refusal is warned).
// Opened without waiting, so that a FIFO planted under a resource file's name cannot
// hold the program before its owner is known.
std::FILE* open_trusted(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat target {};
    std::string reason = ::fstat(fd, &target) != 0 ? "its status cannot be read" : file_distrust(name, target);
    if (!reason.empty()) {
        MESS_print(M_warn, "DEF_open: resource file %s ignored: %s\n", name.c_str(), reason.c_str());
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "r");
    if (!file) ::close(fd);
    return file;
}

// Reads one line without its end-of-line characters; false at end of file. Only the start
// of an over-long line is kept (it is skipped anyway), so a file without line ends, such
// as a binary file named by mistake, cannot take the memory with it.
bool read_line(std::FILE* f, std::string& line) {
    constexpr std::size_t kKeep = 4 * DEF_LINE_SIZE;
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kKeep) line.push_back(static_cast<char>(c));
    }
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

// Splits a line into key and value; a value opening with '"' runs to the next '"'.
// Returns the number of words found (0, 1 or 2).
int split_line(const std::string& line, std::string& key, std::string& value) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && is_blank(line[i])) ++i;
    std::size_t start = i;
    while (i < n && !is_blank(line[i])) ++i;
    key.assign(line, start, i - start);
    value.clear();
    if (key.empty()) return 0;
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) return 1;
    if (line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        const std::size_t end = close == std::string::npos ? n : close;
        value.assign(line, i + 1, end - i - 1);
    } else {
        start = i;
        while (i < n && !is_blank(line[i])) ++i;
        value.assign(line, start, i - start);
    }
    return 2;
}

void remove_tag(const std::string& tag) {
    std::erase_if(tags, [&](const std::string& t) { return stricmp(t.c_str(), tag.c_str()) == 0; });
}

// Handles a directive line; false when the key is not a directive.
bool handle_directive(const std::string& key, const std::string& value) {
    if (key == "DEF") {
        if (all_blocks_active()) DEF_tag(value.c_str());
    } else if (key == "UNDEF") {
        if (all_blocks_active()) remove_tag(value);
    } else if (key == "IF") {
        const bool enclosing = all_blocks_active();
        const bool on = enclosing && DEF_is_tag(value.c_str());
        if (blocks.size() >= static_cast<std::size_t>(DEF_MAX_NEST))
            MESS_print(M_warn, "DEF_get: more than %d nested if blocks\n", DEF_MAX_NEST);
        blocks.push_back({on, on, enclosing});
    } else if (key == "ELIF") {
        if (blocks.empty()) {
            MESS_print(M_warn, "DEF_get: elif without an if\n");
        } else {
            Block& b = blocks.back();
            const bool on = b.enclosing_active && !b.branch_taken && DEF_is_tag(value.c_str());
            b.active = on;
            b.branch_taken = b.branch_taken || on;
        }
    } else if (key == "ELSE") {
        if (blocks.empty()) {
            MESS_print(M_warn, "DEF_get: else without an if\n");
        } else {
            Block& b = blocks.back();
            b.active = b.enclosing_active && !b.branch_taken;
            b.branch_taken = true;
        }
    } else if (key == "END") {
        if (blocks.empty())
            MESS_print(M_warn, "DEF_get: end without an if\n");
        else
            blocks.pop_back();
    } else {
        return false;
    }
    return true;
}

bool same_letter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Glob match where '*' stands for any text (also empty); both must end together. Keys
// are read in lower case, so letters compare without regard to case: a program or title
// named "Radar" is still reached by a key written "Radar.window_num".
bool wildcard_match(const char* key, const char* text) {
    const char* star = nullptr;   // last '*' seen in key
    const char* resume = nullptr; // text position that '*' currently covers up to
    while (*text) {
        if (*key == '*') {
            star = key++;
            resume = text;
        } else if (*key && same_letter(*key, *text)) {
            ++key;
            ++text;
        } else if (star) {
            key = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*key == '*') ++key;
    return *key == '\0';
}

// "prog.resrc", "title.resrc" or, for a title "+sub", "prog.sub.resrc".
std::string qualified_name(const char* resrc) {
    if (!prog_title.empty() && prog_title[0] == '+')
        return prog_name + "." + prog_title.substr(1) + "." + resrc;
    const std::string& prog = prog_title.empty() ? prog_name : prog_title;
    return prog + "." + resrc;
}

std::string last_component(const char* str) {
    const std::string s = str ? str : "";
    const std::size_t cut = s.find_last_of(".*");
    return cut == std::string::npos ? s : s.substr(cut + 1);
}

}  // namespace

const char* DEF_prog() { return prog_name.c_str(); }

void DEF_name(const char* name) { prog_name = (name && *name) ? name : kDefaultProg; }

void DEF_title(const char* title) { prog_title = title ? title : ""; }

void DEF_clr_tag() { tags.clear(); }

int DEF_tag(const char* str) {
    if (!str || !*str) return -1;
    if (tags.size() >= static_cast<std::size_t>(DEF_MAX_TAGS)) {
        MESS_print(M_warn, "DEF_tag: more than %d tags, %s ignored\n", DEF_MAX_TAGS, str);
        return -1;
    }
    tags.emplace_back(str);
    return 0;
}

int DEF_is_tag(const char* str) {
    if (!str || !*str) return 0;
    return std::any_of(tags.begin(), tags.end(),
                       [&](const std::string& t) { return stricmp(t.c_str(), str) == 0; })
               ? 1
               : 0;
}

int DEF_open(const char* filename) {
    DEF_close();
    std::string name = (filename && *filename) ? filename : kDefaultFile;
    // A search path set in quotes ("~/etc:.") reaches us with its "~" unexpanded.
    if (name[0] == '~') {
        std::vector<char> expanded(4096);
        name = FILE_add_user_path(name.c_str(), expanded.data(), expanded.size());
    }
    if (is_directory(name)) {
        const std::string dir = name.back() == '/' ? name : name + "/";
        name.clear();
        for (const char* candidate : kDirFiles) {
            if (exists(dir + candidate)) {
                name = dir + candidate;
                break;
            }
        }
        if (name.empty()) return -1;
    }
    if (is_directory(name)) return -1;
    def_file.reset(open_trusted(name));
    if (!def_file) return -1;
    at_file_start = true;
    MESS_print(0x80000000u, "DEF_open: reading %s\n", name.c_str());
    return 0;
}

int DEF_get(char* resrc, char* value) {
    if (!def_file) return -1;
    std::string line, key, val;
    while (read_line(def_file.get(), line)) {
        // Editors that save UTF-8 with a byte-order mark would otherwise hide the first
        // key behind three invisible bytes.
        if (at_file_start && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        at_file_start = false;
        if (line.size() > kMaxLine) {
            MESS_print(M_warn, "DEF_get: line longer than %zu characters skipped: %.40s...\n",
                       kMaxLine, line.c_str());
            continue;
        }
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        const int words = split_line(line, key, val);
        if (words == 0 || handle_directive(key, val)) continue;
        if (words < 2 || !all_blocks_active()) continue;
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!key.empty() && key.back() == ':') key.pop_back();
        if (key.empty()) continue;   // a lone ":" names nothing
        if (resrc) str_copy(resrc, DEF_LINE_SIZE, key.c_str());
        if (value) str_copy(value, DEF_LINE_SIZE, val.c_str());
        return 1;
    }
    return -1;
}

void DEF_close() {
    if (!blocks.empty() && def_file)
        MESS_print(M_warn, "DEF_get: %zu if block(s) not closed by end\n", blocks.size());
    def_file.reset();
    blocks.clear();
}

int DEF_cmp(const char* resrc, const char* key) {
    if (!resrc || !key) return 0;
    return wildcard_match(key, qualified_name(resrc).c_str()) ? 1 : 0;
}

int DEF_valid(const char* key) {
    if (!key) return 0;
    return DEF_cmp(last_component(key).c_str(), key);
}

char* DEF_parse_name(const char* str, char* ostr) {
    if (ostr) str_copy(ostr, DEF_LINE_SIZE, last_component(str).c_str());
    return ostr;
}

int DEF_env(const char* resrc, const char* env, std::string& value) {
    if (!resrc) return 0;
    std::vector<std::string> names;
    names.push_back("qaz" + qualified_name(resrc));
    if (env && *env) names.emplace_back(env);
    names.push_back(std::string("qaz") + resrc);
    for (const std::string& n : names) {
        if (const char* v = std::getenv(n.c_str())) {
            value = v;
            return 1;
        }
    }
    return 0;
}

int DEF_env(const char* resrc, const char* env, char* value) {
    std::string found;
    if (!DEF_env(resrc, env, found)) return 0;
    if (value && str_copy(value, DEF_LINE_SIZE, found.c_str()) != 0)
        MESS_print(M_warn, "DEF_env: value of %s cut to %zu characters\n", resrc, DEF_LINE_SIZE - 1);
    return 1;
}
