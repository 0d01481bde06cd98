// Resource-file reader: key matching, tagged blocks, directories and the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "def_read.hpp"
#include "files.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kData = std::string(QAZ_TEST_DATA) + "/res";

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries read_all(const std::string& file) {
    Entries out;
    if (DEF_open(file.c_str()) != 0) return out;
    char key[DEF_LINE_SIZE];
    char value[DEF_LINE_SIZE];
    while (DEF_get(key, value) == 1) out.emplace_back(key, value);
    DEF_close();
    return out;
}

std::string write_temp(const std::string& name, const std::string& text) {
    const std::filesystem::path& dir = scratch_dir("qaz_def_read_test");
    const std::string path = (dir / name).string();
    std::ofstream(path) << text;
    return path;
}

class DefReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        DEF_close();
        DEF_clr_tag();
        DEF_name("reelctl");
        DEF_title(nullptr);
    }
    void TearDown() override {
        DEF_close();
        DEF_clr_tag();
        DEF_name(nullptr);
        DEF_title(nullptr);
    }
};

struct CmpCase {
    const char* title;   // null: no title
    const char* key;
    int expected;
};

TEST_F(DefReadTest, KeysMatchProgramNameTitleAndWildcards) {
    const CmpCase cases[] = {
        {nullptr, "*window_num", 1},
        {nullptr, "*.window_num", 1},
        {nullptr, "reelctl.window_num", 1},
        {nullptr, "*", 1},
        {nullptr, "reel*num", 1},
        {nullptr, "*ctl*num", 1},
        {nullptr, "r*l*w*_num", 1},
        {nullptr, "other.window_num", 0},
        {nullptr, "reelctl.window", 0},
        {nullptr, "reelctl.window_num.x", 0},
        {nullptr, "window_num", 0},
        {nullptr, "", 0},
        {"foo", "foo.window_num", 1},
        {"foo", "reelctl.window_num", 0},
        {"+sub", "reelctl.sub.window_num", 1},
        {"+sub", "*.sub.window_num", 1},
        {"+sub", "reelctl.window_num", 0},
        // '*' must be able to cover a dot-separated sub-name as well
        {"+sub", "*.window_num", 1},
        {"+sub", "reelctl*window_num", 1},
    };
    for (const CmpCase& c : cases) {
        DEF_title(c.title);
        EXPECT_EQ(DEF_cmp("window_num", c.key), c.expected)
            << "title " << (c.title ? c.title : "(none)") << " key " << c.key;
    }
    EXPECT_EQ(DEF_cmp(nullptr, "*"), 0);
    EXPECT_EQ(DEF_cmp("window_num", nullptr), 0);
}

// Keys come out of a file in lower case; a program or title with capitals must still be
// reachable by its own name.
TEST_F(DefReadTest, KeysReachProgramsAndTitlesWithCapitals) {
    DEF_name("Radar");
    EXPECT_EQ(DEF_cmp("window_num", "radar.window_num"), 1);
    EXPECT_EQ(DEF_cmp("window_num", "Radar.window_num"), 1);
    EXPECT_EQ(DEF_cmp("window_num", "radars.window_num"), 0);
    EXPECT_EQ(DEF_valid("radar.color"), 1);
    DEF_title("+Sat");
    EXPECT_EQ(DEF_cmp("window_num", "radar.sat.window_num"), 1);
    DEF_title("MyLoop");
    EXPECT_EQ(DEF_cmp("window_num", "myloop.window_num"), 1);

    const std::string file = write_temp("capitals.def", "MyLoop.Window_Num: 4\n");
    const Entries got = read_all(file);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(DEF_cmp("window_num", got[0].first.c_str()), 1);
}

TEST_F(DefReadTest, ValidKeysAndLastComponent) {
    struct Case {
        const char* key;
        const char* component;
        int valid;
    };
    const Case cases[] = {
        {"reelctl.color", "color", 1},
        {"*.color", "color", 1},
        {"*color", "color", 1},
        {"other.color", "color", 0},
        {"color", "color", 0},
        {"reelctl.sub.color", "color", 0},
        {"a.b*c", "c", 0},
    };
    char name[DEF_LINE_SIZE];
    for (const Case& c : cases) {
        EXPECT_STREQ(DEF_parse_name(c.key, name), c.component) << c.key;
        EXPECT_EQ(DEF_valid(c.key), c.valid) << c.key;
    }
    EXPECT_EQ(DEF_parse_name("x", nullptr), nullptr);
}

TEST_F(DefReadTest, TaggedBlocksCommentsAndQuotes) {
    ASSERT_EQ(DEF_tag("COLOR"), 0);   // tags compare without regard to case
    ASSERT_EQ(DEF_tag("big"), 0);
    const Entries expected = {
        {"plain.key", "plainvalue"},   {"*.quoted", "two words"}, {"*.unclosed", "runs to the end"},
        {"*.in_color", "yes"},         {"*.in_big", "yes"},       {"*.elif_big", "yes"},
        {"*.defined", "yes"},          {"*.last", "done"},
    };
    EXPECT_EQ(read_all(kData + "/blocks.def"), expected);
}

TEST_F(DefReadTest, UntaggedReadingTakesTheElseBranches) {
    const Entries got = read_all(kData + "/blocks.def");
    const Entries expected = {
        {"plain.key", "plainvalue"}, {"*.quoted", "two words"}, {"*.unclosed", "runs to the end"},
        {"*.not_color", "yes"},      {"*.else_after_elif", "yes"}, {"*.defined", "yes"},
        {"*.last", "done"},
    };
    EXPECT_EQ(got, expected);
}

TEST_F(DefReadTest, StrayDirectivesWarnAndAreIgnored) {
    const std::string file = write_temp("stray.def", "ELSE\nELIF x\nEND\n*.a 1\nIF x\n*.b 2\n");
    testing::internal::CaptureStderr();
    const Entries got = read_all(file);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, (Entries{{"*.a", "1"}}));
    EXPECT_NE(err.find("DEF_get: else without an if\n"), std::string::npos);
    EXPECT_NE(err.find("DEF_get: elif without an if\n"), std::string::npos);
    EXPECT_NE(err.find("DEF_get: end without an if\n"), std::string::npos);
}

// Blocks nested deeper than the limit are warned about but still opened and closed in
// step: what follows the last END is read, a skipped inner branch stays skipped.
TEST_F(DefReadTest, NestingBeyondTheLimit) {
    DEF_tag("on");
    std::string text;
    for (int i = 0; i < DEF_MAX_NEST + 3; ++i) text += "IF on\n";
    text += "*.deep 1\nIF off\n*.hidden 2\nELSE\n*.other 3\nEND\n";
    for (int i = 0; i < DEF_MAX_NEST + 3; ++i) text += "END\n";
    text += "*.after 4\nEND\n*.last 5\n";
    const std::string file = write_temp("deep.def", text);
    testing::internal::CaptureStderr();
    const Entries got = read_all(file);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, (Entries{{"*.deep", "1"}, {"*.other", "3"}, {"*.after", "4"}, {"*.last", "5"}}));
    EXPECT_NE(err.find("nested"), std::string::npos) << err;
    EXPECT_NE(err.find("DEF_get: end without an if\n"), std::string::npos) << err;
}

TEST_F(DefReadTest, LineLengthLimit) {
    // 249 characters fit; a longer line is skipped whole instead of being read in pieces
    const std::string fits_value(249 - 4, 'v');
    const std::string long_value(300, 'w');
    const std::string file = write_temp("long.def", "*.a " + fits_value + "\n*.b " + long_value + " *.c x\n*.d 4\n");
    testing::internal::CaptureStderr();
    const Entries got = read_all(file);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, (Entries{{"*.a", fits_value}, {"*.d", "4"}}));

    // a huge line (a binary file named by mistake) is skipped like any long one
    const std::string huge = write_temp("huge.def", "*.e " + std::string(200000, 'h') + "\n*.f 6");
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_all(huge), (Entries{{"*.f", "6"}}));
    testing::internal::GetCapturedStderr();
}

TEST_F(DefReadTest, WindowsLineEndsAndBlankSeparators) {
    const std::string file = write_temp("crlf.def", "*.a\t1\r\n\r\n  *.B:   2  \r\n");
    EXPECT_EQ(read_all(file), (Entries{{"*.a", "1"}, {"*.b", "2"}}));
}

// A byte-order mark is skipped at the start of the file only.
TEST_F(DefReadTest, ByteOrderMarkBeforeTheFirstKey) {
    const std::string file = write_temp("bom.def", "\xEF\xBB\xBF*.a 1\n\xEF\xBB\xBF*.b 2\n");
    EXPECT_EQ(read_all(file), (Entries{{"*.a", "1"}, {"\xEF\xBB\xBF*.b", "2"}}));
}

TEST_F(DefReadTest, DirectoriesUseTheirResourceFile) {
    EXPECT_EQ(read_all(kData + "/dir_cfg"), (Entries{{"*.from", "cfg"}}));
    EXPECT_EQ(read_all(kData + "/dir_cfg/"), (Entries{{"*.from", "cfg"}}));
    EXPECT_EQ(read_all(kData + "/dir_res"), (Entries{{"*.from", "res"}}));
    EXPECT_EQ(DEF_open((kData + "/no_such_file").c_str()), -1);
    EXPECT_EQ(DEF_open(kData.c_str()), -1);   // a directory without a resource file
    char key[DEF_LINE_SIZE];
    char value[DEF_LINE_SIZE];
    EXPECT_EQ(DEF_get(key, value), -1);       // nothing open
}

// A name beginning with "~" (a search path given in quotes) is the home directory's file.
TEST_F(DefReadTest, HomeDirectoryNames) {
    const std::string relative = "~/.qaz_def_read_test_" + std::to_string(getpid()) + ".def";
    char expanded[4096];
    FILE_add_user_path(relative.c_str(), expanded, sizeof expanded);
    ASSERT_NE(std::string(expanded), relative);
    {
        std::ofstream out(expanded);
        if (!out) GTEST_SKIP() << "home directory not writable";
        out << "*.home yes\n";
    }
    const Entries got = read_all(relative);
    std::filesystem::remove(expanded);
    EXPECT_EQ(got, (Entries{{"*.home", "yes"}}));
}

TEST_F(DefReadTest, TagLimit) {
    for (int i = 0; i < DEF_MAX_TAGS; ++i) EXPECT_EQ(DEF_tag(("t" + std::to_string(i)).c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DEF_tag("one_too_many"), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(DEF_is_tag("T9"), 1);
    EXPECT_EQ(DEF_is_tag("one_too_many"), 0);
    EXPECT_EQ(DEF_tag(""), -1);
    DEF_clr_tag();
    EXPECT_EQ(DEF_is_tag("t0"), 0);
}

TEST_F(DefReadTest, EnvironmentOrder) {
    const char* vars[] = {"qazreelctl.window_num", "qazwindownum", "qazwindow_num", "qazreelctl.sub.window_num"};
    for (const char* v : vars) unsetenv(v);
    std::string value;
    EXPECT_EQ(DEF_env("window_num", "qazwindownum", value), 0);

    setenv("qazwindow_num", "1", 1);
    ASSERT_EQ(DEF_env("window_num", "qazwindownum", value), 1);
    EXPECT_EQ(value, "1");
    setenv("qazwindownum", "2", 1);
    ASSERT_EQ(DEF_env("window_num", "qazwindownum", value), 1);
    EXPECT_EQ(value, "2");
    setenv("qazreelctl.window_num", "3", 1);
    ASSERT_EQ(DEF_env("window_num", "qazwindownum", value), 1);
    EXPECT_EQ(value, "3");

    DEF_title("+sub");
    setenv("qazreelctl.sub.window_num", "4", 1);
    ASSERT_EQ(DEF_env("window_num", "qazwindownum", value), 1);
    EXPECT_EQ(value, "4");

    // the fixed-size form cuts a long value at the buffer size instead of overrunning
    const std::string huge(DEF_LINE_SIZE + 50, 'h');
    setenv("qazreelctl.sub.window_num", huge.c_str(), 1);
    char buf[DEF_LINE_SIZE];
    testing::internal::CaptureStderr();
    EXPECT_EQ(DEF_env("window_num", "qazwindownum", buf), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(buf), huge.substr(0, DEF_LINE_SIZE - 1));
    for (const char* v : vars) unsetenv(v);
}

// Random mixes of directives, quotes, colons and long runs: reading must stay inside its
// buffers, keep its block stack consistent and return only well-formed entries.
TEST_F(DefReadTest, RandomInputIsReadSafely) {
    const std::string long_run(120, 'z');
    const char* pieces[] = {"IF", "ELIF", "ELSE", "END", "DEF", "UNDEF", "a", "*.k:", "\"", "\"x y",
                            "#", " ", "\t", ":", "\r", "B*", long_run.c_str()};
    std::mt19937 rng(12345);
    DEF_tag("a");
    for (int round = 0; round < 50; ++round) {
        std::string text;
        const int lines = 1 + static_cast<int>(rng() % 40);
        for (int l = 0; l < lines; ++l) {
            const int words = static_cast<int>(rng() % 5);
            for (int w = 0; w < words; ++w) text += std::string(pieces[rng() % std::size(pieces)]) + " ";
            text += "\n";
        }
        const std::string file = write_temp("random.def", text);
        testing::internal::CaptureStderr();
        for (const auto& [key, value] : read_all(file)) {
            EXPECT_LT(key.size(), DEF_LINE_SIZE);
            EXPECT_LT(value.size(), DEF_LINE_SIZE);
            EXPECT_FALSE(key.empty());
        }
        testing::internal::GetCapturedStderr();
    }
}

// Resource files that someone else could have written are skipped with one warning that
// names the file and the reason; the user's own files keep being read.
TEST_F(DefReadTest, ResourceFilesOthersCouldWriteAreSkipped) {
    namespace fs = std::filesystem;
    const fs::path base = scratch_dir("qaz_def_read_test") / "trust";
    fs::remove_all(base);
    const bool root = geteuid() == 0;
    constexpr uid_t kOther = 65534;
    const auto dir = [&](const std::string& name, mode_t mode) {
        const fs::path d = base / name;
        fs::create_directories(d);
        chmod(d.c_str(), mode);
        return d;
    };
    const auto file = [](const fs::path& path, mode_t mode, uid_t owner = getuid()) {
        std::ofstream(path) << "*window_num 25\n";
        chmod(path.c_str(), mode);
        if (owner != getuid() && chown(path.c_str(), owner, static_cast<gid_t>(-1)) != 0) return std::string();
        return path.string();
    };
    const auto link = [](const fs::path& at, const std::string& target, uid_t owner = getuid()) {
        fs::create_symlink(target, at);
        if (owner != getuid() && lchown(at.c_str(), owner, static_cast<gid_t>(-1)) != 0) return std::string();
        return at.string();
    };
    const fs::path own = dir("own", 0755), shared = dir("shared", 0777), sticky = dir("sticky", 01777),
                   group_dir = dir("group", 0775), cfg_dir = dir("cfg", 0755);
    const std::string mine = file(own / "mine.def", 0644);
    const std::string group_writable = file(own / "group.def", 0664);
    const std::string shared_file = file(shared / "in_shared.def", 0644);
    file(cfg_dir / "qaz.cfg", 0666);
    // Directories further up: whoever may rename one may swap the whole tree under it.
    dir("open_parent", 0777);
    const fs::path under_open = dir("open_parent/cfg", 0755);
    dir("sticky_parent", 01777);
    const fs::path under_sticky = dir("sticky_parent/cfg", 0755);
    dir("group_grand", 0775);
    dir("group_grand/mid", 0755);
    const fs::path under_group = dir("group_grand/mid/cfg", 0755);
    const fs::path other_owned = dir("other_owned", 0755);
    const fs::path under_other = dir("other_owned/cfg", 0755);
    const std::string in_other_owned = file(under_other / "q.def", 0644);
    const bool other_owner_set = root && chown(other_owned.c_str(), kOther, static_cast<gid_t>(-1)) == 0;
    struct Case {
        const char* what;
        std::string name;   // empty: cannot be set up here (not root)
        const char* reason; // null: read
    };
    const std::vector<Case> cases = {
        {"own file", mine, nullptr},
        {"read-only own file", file(own / "ro.def", 0400), nullptr},
        {"group-writable", group_writable, "writable by group or others"},
        {"world-writable", file(own / "world.def", 0606), "writable by group or others"},
        {"in a world-writable directory", shared_file, "is writable by group or others"},
        {"in a group-writable directory", file(group_dir / "g.def", 0644), "is writable by group or others"},
        {"own file in a sticky directory", file(sticky / "mine.def", 0644), nullptr},
        {"directory form", cfg_dir.string(), "qaz.cfg ignored: writable by group or others"},
        {"link to own file", link(own / "good_link", mine), nullptr},
        {"relative link", link(own / "rel_link", "mine.def"), nullptr},
        {"link to a group-writable file", link(own / "to_group", group_writable), "writable by group or others"},
        {"link to a file in a shared directory", link(own / "to_shared", shared_file), "is writable by group or others"},
        {"own link in a sticky directory", link(sticky / "my_link", mine), nullptr},
        {"link in a shared directory", link(shared / "planted", mine), "shared is writable by group or others"},
        {"world-writable parent", file(under_open / "q.def", 0644), "open_parent is writable by group or others"},
        {"sticky world-writable parent", file(under_sticky / "q.def", 0644), nullptr},
        {"group-writable grandparent", file(under_group / "q.def", 0644), "group_grand is writable by group or others"},
        {"link to a file whose parent's parent is open", link(own / "to_open", (under_open / "q.def").string()),
         "open_parent is writable by group or others"},
        {"relative link up into an open tree", link(own / "up_link", "../open_parent/cfg/q.def"),
         "open_parent is writable by group or others"},
        {"parent owned by another user", other_owner_set ? in_other_owned : "",
         "other_owned is owned by another user (uid 65534)"},
        {"another user's file", root ? file(own / "other.def", 0644, kOther) : "", "owned by another user (uid 65534)"},
        {"another user's file in a sticky directory", root ? file(sticky / "theirs.def", 0644, kOther) : "",
         "owned by another user"},
        {"link to another user's file", root ? link(own / "to_other", (own / "other.def").string()) : "",
         "owned by another user"},
        {"another user's link in a sticky directory", root ? link(sticky / "their_link", mine, kOther) : "",
         "a symbolic link owned by another user (uid 65534)"},
    };
    for (const Case& c : cases) {
        if (c.name.empty()) {
            if (root) ADD_FAILURE() << c.what << ": set-up failed";
            continue;
        }
        testing::internal::CaptureStderr();
        const Entries got = read_all(c.name);
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.reason == nullptr) {
            EXPECT_EQ(got, (Entries{{"*window_num", "25"}})) << c.what;
            EXPECT_EQ(err, "") << c.what;
            continue;
        }
        EXPECT_TRUE(got.empty()) << c.what;
        EXPECT_EQ(err.find("DEF_open: resource file "), 0u) << c.what << ": " << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": one warning";
    }
    if (!root) GTEST_SKIP() << "files of another user need root to make";
}

}  // namespace
