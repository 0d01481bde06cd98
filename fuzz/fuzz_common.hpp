// Shared set-up of the fuzz targets. The library keeps process-wide state (resources,
// message settings, file conventions, channel slots), so every input starts from the same
// state, and nothing an input names may reach outside this process's own scratch
// directory: no prompts waiting on the terminal, no commands, no files elsewhere.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "date.hpp"
#include "def_read.hpp"
#include "files.hpp"
#include "flag.hpp"
#include "mess.hpp"
#include "resrc.hpp"

namespace fuzz {

// A private directory for this process (removed at exit), made the working directory so
// that relative names an input gives land there.
inline const std::string& work_dir()
{
    static const struct Dir {
        std::string path;
        Dir()
        {
            char name[] = "/tmp/qaz_fuzz.XXXXXX";
            if (mkdtemp(name) == nullptr) std::abort();
            path = name;
            if (chdir(path.c_str()) != 0) std::abort();
        }
        ~Dir()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } dir;
    return dir.path;
}

// Writes data to name inside the work directory (one fixed name per target, so nothing
// accumulates); returns the full path.
inline std::string write_file(const char* name, const uint8_t* data, size_t size)
{
    const std::string path = work_dir() + "/" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// Every message level formatted (so user text passes through every format), written to
// /dev/null only.
inline void quiet_messages()
{
    MESS_reset();
    MESS_set(0, 0xffffffffu);
    MESS_file("/dev/null", "w");
    MESS_set_out(0);
}

// Once per process: no terminal input (prompts read end of file at once), the scratch
// directory, and batch mode.
inline void start()
{
    static bool started = false;
    if (started) return;
    started = true;
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
        dup2(devnull, 0);
        close(devnull);
    }
    umask(022);   // resource files written here must pass the owner and mode rule
    work_dir();
    for (const char* name : {"qazdefault", "qaztz", "qazcurtime", "qazmess", "qazfile"}) unsetenv(name);
}

// Back to the start state between inputs.
inline void reset()
{
    start();
    RES_clear();
    DEF_clr_tag();
    DEF_name(nullptr);
    DEF_title(nullptr);
    DATE_reset_TZ();
    FILE_set_name("none");
    FILE_reset_time();
    FLAG_resetl(-9999);
    FLAG_set_batch(1);
    quiet_messages();
}

inline std::string text(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// Splits at NUL bytes (the pieces an input gives a target taking several texts).
inline std::vector<std::string> split(const uint8_t* data, size_t size, size_t max_pieces = 64)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (pieces.size() >= max_pieces) break;
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

}  // namespace fuzz
