// The data directory found without file_path: the build tree's programs use the source tree's
// share/, a directory a program names comes first when it exists.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "share_dir.hpp"

namespace {

std::string canonical(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::weakly_canonical(path, ignored).string();
}

TEST(ShareDir, ChoosesTheNamedThenTheBuildTreesDirectory)
{
    EXPECT_EQ(canonical(QAZ_share_dir()), canonical(QAZ_SHARE_SRC)) << "a program of the build tree";
    const std::string other = QAZ_TEST_DATA;
    const struct {
        const char* named;
        std::string expected;
    } cases[] = {
        {other.c_str(), other},                           // an existing directory named first
        {"/nonexistent/share/qaz", QAZ_SHARE_SRC},        // a moved-away one is passed over
        {"", QAZ_SHARE_SRC},                              // cleared
        {nullptr, QAZ_SHARE_SRC},
    };
    for (const auto& c : cases) {
        QAZ_set_share_dir(c.named);
        EXPECT_EQ(canonical(QAZ_share_dir()), canonical(c.expected)) << (c.named ? c.named : "null");
    }
}

}  // namespace
