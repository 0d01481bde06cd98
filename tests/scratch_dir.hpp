// A scratch directory for a test program's files: one per process, removed at exit, since
// the cases of one program run as parallel processes and reuse file names.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>

inline const std::filesystem::path& scratch_dir(const char* prefix)
{
    static const struct Scratch {
        std::filesystem::path path;
        explicit Scratch(const char* name)
            : path(std::filesystem::temp_directory_path() / (std::string(name) + "." + std::to_string(getpid())))
        {
            std::filesystem::create_directories(path);
        }
        ~Scratch()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } scratch(prefix);
    return scratch.path;
}
