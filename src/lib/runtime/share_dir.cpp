// The data directory of the library: decided once per process from where the program runs.
#include "share_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

std::string& chosen()
{
    static std::string dir;
    return dir;
}

bool is_directory(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executable_dir()
{
    char buf[4096];
    const ssize_t len = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (len <= 0) return "";
    std::string path(buf, static_cast<std::size_t>(len));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string find_share_dir()
{
    if (is_directory(chosen())) return chosen();
    const std::string exe = executable_dir();
#ifdef QAZ_BUILD_TREE
    // A program of the build tree uses the data of the source tree it was built from.
    const std::string build = QAZ_BUILD_TREE;
    if (!exe.empty() && exe.compare(0, build.size(), build) == 0 &&
        (exe.size() == build.size() || exe[build.size()] == '/') && is_directory(QAZ_SOURCE_SHARE))
        return QAZ_SOURCE_SHARE;
#endif
    if (!exe.empty() && is_directory(exe + "/../share/qaz")) return exe + "/../share/qaz";
#ifdef QAZ_SHARE_DIR
    if (is_directory(QAZ_SHARE_DIR)) return QAZ_SHARE_DIR;
#endif
    return "";
}

}  // namespace

const char* QAZ_share_dir()
{
    static std::string found;
    static bool decided = false;
    static std::string decided_for;
    // Decided again only when a program names its package directory after the first call.
    if (!decided || decided_for != chosen()) {
        found = find_share_dir();
        decided_for = chosen();
        decided = true;
    }
    return found.c_str();
}

int QAZ_set_share_dir(const char* dir)
{
    chosen() = dir ? dir : "";
    return 0;
}
