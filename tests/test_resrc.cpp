// Resource database: option syntax, source precedence, positional parameters, storage
// and conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <fstream>
#include <string>
#include <vector>

#include "date.hpp"
#include "flag.hpp"
#include "maptran.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "string.hpp"
#include "scratch_dir.hpp"

namespace {

const res_type kReelKeys[] = {RES_help, RES_batch, RES_message, RES_file_path, RES_window_num, RES_parameter, RES_null};
const res_type kReelPos[] = {RES_command, RES_null};

// Every variable a test here may set; cleared before and after each test.
const char* const kEnvVars[] = {
    "qazdefault", "qazwindownum", "qazwindow_num", "qazreelctl.window_num", "qazfoo.window_num",
    "qazreelctl.sub.window_num", "qazcommand", "qazhelp", "qaztz", "qazparam", "qazparameter",
};

std::string temp_dir() { return scratch_dir("qaz_resrc_test").string(); }

std::string write_file(const std::string& name, const std::string& text) {
    const std::string path = temp_dir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

std::string get(const char* name) {
    const char* v = RES_get(name);
    return v ? v : "<absent>";
}

int window_num() {
    int w = -1;
    return RES_getval("window_num", &w, CV_int) ? w : -1;
}

class ResrcTest : public ::testing::Test {
protected:
    void SetUp() override {
        clean();
        // No resource file unless a test names one.
        setenv("qazdefault", "/nonexistent/qaz_resrc_test", 1);
    }
    void TearDown() override { clean(); }
    static void clean() {
        RES_clear();
        for (const char* v : kEnvVars) unsetenv(v);
    }
    static void init(std::vector<const char*> words, const res_type* keys = kReelKeys,
                     const res_type* pos = kReelPos) {
        RES_init(static_cast<int>(words.size()), words.data(), keys, pos);
    }
};

// ---------------------------------------------------------------------------------------
// Option syntax
// ---------------------------------------------------------------------------------------

struct OptionCase {
    std::vector<const char*> words;
    int window;
    const char* command;   // "<absent>" when no positional word is left
};

TEST_F(ResrcTest, OptionSyntax) {
    const OptionCase cases[] = {
        {{"reelctl", "-wn", "20"}, 20, "<absent>"},
        {{"reelctl", "-window_num=20"}, 20, "<absent>"},
        {{"reelctl", "-window", "20"}, 20, "<absent>"},
        {{"reelctl", "--wn", "20"}, 20, "<absent>"},
        {{"reelctl", "--window_num=20"}, 20, "<absent>"},
        {{"reelctl", "-WN", "20"}, 20, "<absent>"},
        {{"reelctl", "-Window_Num", "20"}, 20, "<absent>"},
        {{"reelctl", "status", "-wn", "20"}, 20, "status"},
        {{"reelctl", "-wn", "20", "status"}, 20, "status"},
        {{"reelctl", "-wn", "-5"}, -5, "<absent>"},
        {{"reelctl", "-5"}, -1, "-5"},
        {{"reelctl", "--", "-wn", "20"}, 20, "<absent>"},
        {{"reelctl", "a", "--", "b"}, -1, "a\nb"},
        {{"reelctl", "-wn=0x1f"}, 31, "<absent>"},
        {{"reelctl", "-wn", "1", "-wn", "2"}, 2, "<absent>"},
        {{"reelctl", "-wn=", "x"}, -1, "x"},
    };
    for (const OptionCase& c : cases) {
        RES_clear();
        testing::internal::CaptureStderr();
        init(c.words);
        const int window = window_num();
        testing::internal::GetCapturedStderr();
        std::string line;
        for (const char* w : c.words) line += std::string(w) + " ";
        EXPECT_EQ(window, c.window) << line;
        EXPECT_EQ(get("command"), c.command) << line;
    }
}

TEST_F(ResrcTest, SwitchesGiveTheFollowingWordBack) {
    init({"reelctl", "-h", "alloc"});
    EXPECT_EQ(FLAG_help(), 1);
    EXPECT_EQ(get("help"), "");
    EXPECT_EQ(get("command"), "alloc");

    RES_clear();
    init({"reelctl", "-h=yes", "alloc"});   // a value given with '=' stays with the option
    EXPECT_EQ(get("help"), "yes");
    EXPECT_EQ(get("command"), "alloc");

    RES_clear();
    init({"reelctl", "alloc"});
    EXPECT_EQ(FLAG_help(), 0);   // flags are reset by every start
    EXPECT_EQ(FLAG_get(FLAG_HELP_INDEX), -9999);
}

TEST_F(ResrcTest, UnknownOptionsAreStoredAsTyped) {
    init({"reelctl", "-Zoom", "5", "-flag", "-x=1", "go"});
    EXPECT_EQ(get("Zoom"), "5");
    EXPECT_EQ(get("flag"), "");
    EXPECT_EQ(get("x"), "1");
    EXPECT_EQ(get("command"), "go");   // "5" was taken as the value, not as a command
}

TEST_F(ResrcTest, DoubleDashFollowingAnOptionIsItsValue) {
    init({"reelctl", "-pa", "--", "go"});
    EXPECT_EQ(get("parameter"), "--");
    EXPECT_EQ(get("command"), "go");

    RES_clear();
    init({"reelctl", "-h", "--", "go"});   // a switch gives it back, and alone it is skipped
    EXPECT_EQ(get("help"), "");
    EXPECT_EQ(get("command"), "go");
}

TEST_F(ResrcTest, AbbreviationBeatsFullNameBeatsLeadingPart) {
    // "in" is the abbreviation of input (first in table order) and of con_interval
    const res_type keys[] = {RES_con_interval, RES_input, RES_inputg, RES_null};
    const res_type none[] = {RES_null};
    init({"prog", "-in", "3"}, keys, none);
    EXPECT_EQ(get("con_interval"), "3");
    EXPECT_EQ(get("input"), "<absent>");

    RES_clear();
    init({"prog", "-inp", "grid"}, keys, none);
    EXPECT_EQ(get("input"), "grid");

    RES_clear();
    init({"prog", "-con", "2.5"}, keys, none);   // leading part of con_interval
    float interval = 0.0f;
    ASSERT_EQ(RES_getval("con_interval", &interval, CV_float), 1);
    EXPECT_FLOAT_EQ(interval, 2.5f);
}

// Leading parts of "name" (exact case) and words beginning "default"/"df" name the
// program and the search path; they never reach a definition by abbreviation.
TEST_F(ResrcTest, NameAndDefaultOptionsAreNoLeadingParts) {
    const res_type keys[] = {RES_name_conv, RES_decode_hour, RES_null};
    const res_type none[] = {RES_null};
    struct Case {
        std::vector<const char*> words;
        const char* name;
        const char* name_conv;
    };
    const Case cases[] = {
        {{"prog", "-n", "foo"}, "foo", "<absent>"},
        {{"prog", "-nam=foo"}, "foo", "<absent>"},
        {{"prog", "-name_", "conv"}, "<absent>", "conv"},   // longer than "name"
        {{"prog", "-Na", "conv"}, "<absent>", "conv"},      // "name" is matched in its own case
        {{"prog", "-nc", "conv", "-na", "foo"}, "foo", "conv"},
    };
    for (const Case& c : cases) {
        RES_clear();
        init(c.words, keys, none);
        EXPECT_EQ(get("name"), c.name) << c.words[1];
        EXPECT_EQ(get("name_conv"), c.name_conv) << c.words[1];
    }

    RES_clear();
    init({"prog", "-dfx", "/nonexistent/qaz_resrc_test/b", "-dec", "6"}, keys, none);
    EXPECT_EQ(get("default"), "/nonexistent/qaz_resrc_test/b");
    EXPECT_EQ(get("decode_hour"), "6");
}

TEST_F(ResrcTest, OptionNamesAreCutAt49Characters) {
    const std::string word = "-" + std::string(49, 'k') + "tail=v";
    init({"reelctl", word.c_str()});
    EXPECT_EQ(get(std::string(49, 'k').c_str()), "v");
}

TEST_F(ResrcTest, PositionalOnlyDefinitionsIgnoreOptions) {
    init({"reelctl", "-command", "x"});
    EXPECT_EQ(get("command"), "x");   // stored as an unknown option, not via the positional definition
    RES_clear();
    init({"reelctl", "-command", "x", "a", "b"});
    EXPECT_EQ(get("command"), "a\nb");
}

// Random command lines built from the pieces the option syntax cares about: under the
// sanitizers any overrun shows up, and every positional word kept must be one given.
TEST_F(ResrcTest, RandomCommandLinesAreReadSafely) {
    const res_type keys[] = {RES_help, RES_batch, RES_file_path, RES_window_num, RES_parameter, RES_null};
    const std::string long_word = "-" + std::string(80, 'w') + "=" + std::string(80, 'v');
    const char* pieces[] = {"-wn", "-h", "--", "-", "-=", "--=x", "-na", "-n", "-pa=a,b", "-ba", "--wi",
                            "5", "-5", "0x", "x=y", "", "-fp", "none", "\"q r\"", long_word.c_str()};
    unsigned seed = 4321;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 400; ++round) {
        std::vector<const char*> words = {"reelctl"};
        const unsigned count = next() % 9;
        for (unsigned i = 0; i < count; ++i) words.push_back(pieces[next() % std::size(pieces)]);
        RES_clear();
        testing::internal::CaptureStderr();
        init(words, keys, kReelPos);
        testing::internal::GetCapturedStderr();
        int n = 0;
        char** items = nullptr;
        RES_getvals("command", &n, &items);
        for (int i = 0; i < n; ++i) {
            bool given = false;
            for (const char* w : words) given = given || std::strcmp(w, items[i]) == 0;
            EXPECT_TRUE(given) << items[i];
        }
        free_parsed_array(n, items);
    }
    MESS_reset();
}

// ---------------------------------------------------------------------------------------
// Sources and precedence
// ---------------------------------------------------------------------------------------

TEST_F(ResrcTest, FileThenEnvironmentThenCommandLine) {
    const std::string file = write_file("prec.def", "reelctl.window_num: 25\nother.window_num: 99\n");
    setenv("qazdefault", file.c_str(), 1);
    init({"reelctl"});
    EXPECT_EQ(window_num(), 25);

    RES_clear();
    init({"/usr/local/bin/other"});
    EXPECT_EQ(window_num(), 99);   // the key names the program

    RES_clear();
    setenv("qazwindow_num", "26", 1);
    init({"reelctl"});
    EXPECT_EQ(window_num(), 26);

    RES_clear();
    setenv("qazwindownum", "27", 1);   // the definition's own variable beats qaz<resource>
    init({"reelctl"});
    EXPECT_EQ(window_num(), 27);

    RES_clear();
    setenv("qazreelctl.window_num", "28", 1);   // the program-specific form beats both
    init({"reelctl"});
    EXPECT_EQ(window_num(), 28);

    RES_clear();
    init({"reelctl", "-wn=30"});
    EXPECT_EQ(window_num(), 30);
}

TEST_F(ResrcTest, DefaultOptionAndVariableNameTheSearchPath) {
    const std::string a = write_file("a.def", "*.window_num 1\n*.parameter from_a\n");
    const std::string b = write_file("b.def", "*.window_num 2\n");
    setenv("qazdefault", a.c_str(), 1);
    init({"reelctl"});
    EXPECT_EQ(window_num(), 1);

    RES_clear();
    init({"reelctl", "-df", (a + ":" + b).c_str(), "cmd"});   // later files win
    EXPECT_EQ(window_num(), 2);
    EXPECT_EQ(get("parameter"), "from_a");
    EXPECT_EQ(get("command"), "cmd");

    RES_clear();
    const std::string option = "-default=" + b;
    init({"reelctl", option.c_str()});
    EXPECT_EQ(window_num(), 2);
}

TEST_F(ResrcTest, ProgramTitleSelectsKeys) {
    const std::string file = write_file("title.def",
                                        "reelctl.window_num 1\nfoo.window_num 2\nreelctl.sub.window_num 3\n"
                                        "foo.colour red\n");
    setenv("qazdefault", file.c_str(), 1);
    init({"reelctl", "-na", "foo", "go"});
    EXPECT_EQ(get("name"), "foo");
    EXPECT_EQ(window_num(), 2);
    EXPECT_EQ(get("colour"), "red");   // undefined key for this program: plain resource
    EXPECT_EQ(get("command"), "go");

    RES_clear();
    init({"reelctl", "-name=+sub"});
    EXPECT_EQ(window_num(), 3);
}

TEST_F(ResrcTest, TagsFromTheSearchPath) {
    const std::string file = write_file("tags.def",
                                        "IF color\n*.parameter colored\nELSE\n*.parameter plain\nEND\n");
    setenv("qazdefault", ("+color:" + file).c_str(), 1);
    init({"reelctl"});
    EXPECT_EQ(get("parameter"), "colored");

    RES_clear();
    setenv("qazdefault", file.c_str(), 1);
    init({"reelctl"});
    EXPECT_EQ(get("parameter"), "plain");

    RES_clear();
    setenv("qazdefault", (file + ":+color").c_str(), 1);   // a tag applies to later files only
    init({"reelctl"});
    EXPECT_EQ(get("parameter"), "plain");
}

TEST_F(ResrcTest, PositionalParameters) {
    init({"reelctl", "set", "speed", "5"});
    EXPECT_EQ(get("command"), "set\nspeed\n5");
    int count = 0;
    char** items = nullptr;
    ASSERT_EQ(RES_getvals("command", &count, &items), 3);
    EXPECT_STREQ(items[0], "set");
    EXPECT_STREQ(items[2], "5");
    free_parsed_array(count, items);

    // the command line replaces a command from the environment rather than extending it
    RES_clear();
    setenv("qazcommand", "old", 1);
    init({"reelctl", "new", "words"});
    EXPECT_EQ(get("command"), "new\nwords");

    // a numbered definition takes its word, an "all" definition the rest
    RES_clear();
    const res_type none[] = {RES_null};
    const res_type pos[] = {RES_filename, RES_values, RES_null};
    init({"prog", "in.dat", "1", "2", "3"}, none, pos);
    EXPECT_EQ(get("filename"), "in.dat");
    EXPECT_EQ(get("value"), "1\n2\n3");

    // without a positional definition the words are dropped
    RES_clear();
    init({"prog", "a", "b"}, none, none);
    EXPECT_EQ(get("command"), "<absent>");
}

TEST_F(ResrcTest, ConversionIntoProgramTargets) {
    int window = 0;
    int icon = -1;
    char** commands = nullptr;
    int ncommands = 0;
    char* params = nullptr;
    char file_name[RES_STRCPY_SIZE] = "";
    RES_defobj table[6];
    RES_fill_obj(&table[0], "window_num", "qazwindownum", "wn", CV_int, &window, nullptr);
    RES_fill_obj(&table[1], "icon", "qazicon", "ic", CV_bool, &icon, nullptr);
    RES_fill_obj(&table[2], "parameter", "qazparam", "pa", CV_string, &params, nullptr);
    RES_fill_obj(&table[3], "command", "qazcommand", RES_POS_ALL, CV_strings, &commands, &ncommands);
    RES_fill_obj(&table[4], "filename", "qazfilename", 1, CV_strcpy, file_name, nullptr);
    table[5] = RES_defobj{};
    // position 1 goes to filename, the rest to command
    const char* words[] = {"prog", "-wn", "0x10", "-ic", "-pa", "a,b", "f.dat", "x", "y"};
    RES_decode(nullptr, nullptr, 9, words, table);
    EXPECT_EQ(window, 16);
    EXPECT_EQ(icon, 1);
    EXPECT_STREQ(params, "a,b");
    EXPECT_EQ(params, RES_get("parameter"));   // a reference to the stored text
    EXPECT_STREQ(file_name, "f.dat");
    ASSERT_EQ(ncommands, 2);
    EXPECT_STREQ(commands[0], "x");
    EXPECT_STREQ(commands[1], "y");
    free_parsed_array(ncommands, commands);
}

// Values left from an earlier decoding must not land in the target that a later table
// keeps at the same place; a full program path still selects the keys of its base name.
TEST_F(ResrcTest, SecondDecodingWithAnotherTable) {
    const std::string file = write_file("second.def", "reelctl.title radar\n");
    setenv("qazdefault", file.c_str(), 1);
    int window = -1;
    char* title = nullptr;
    RES_defobj first[3];
    RES_fill_obj(&first[0], "window_num", "qazwindownum", "wn", CV_int, &window, nullptr);
    RES_fill_obj(&first[1], "title", "qaztitle", "ti", CV_string, &title, nullptr);
    first[2] = RES_defobj{};
    const char* words[] = {"reelctl", "-wn", "5"};
    RES_decode("/usr/local/bin/reelctl", nullptr, 3, words, first);
    EXPECT_EQ(window, 5);
    EXPECT_STREQ(title, "radar");

    setenv("qazdefault", "/nonexistent/qaz_resrc_test", 1);
    int count = -1;
    float scale = -1.0f;
    RES_defobj second[3];
    RES_fill_obj(&second[0], "count", "qazcount", "co", CV_int, &count, nullptr);
    RES_fill_obj(&second[1], "plot_scale", "qazscale", "sc", CV_float, &scale, nullptr);
    second[2] = RES_defobj{};
    const char* more[] = {"other", "-sc", "2"};
    RES_decode(nullptr, nullptr, 3, more, second);
    EXPECT_EQ(count, -1);
    EXPECT_FLOAT_EQ(scale, 2.0f);
    EXPECT_EQ(get("window_num"), "5");   // still readable by name
}

TEST_F(ResrcTest, TimeZoneFromEnvironment) {
    setenv("qaztz", "+EST:-5", 1);
    init({"reelctl"});
    EXPECT_EQ(DATE_get_tz_off(), -18000);
    DATE_set_TZ("Z:0");
}

// ---------------------------------------------------------------------------------------
// Storage
// ---------------------------------------------------------------------------------------

TEST_F(ResrcTest, StoreReplaceAppendAndList) {
    EXPECT_EQ(RES_put("a", "1"), 0);
    EXPECT_EQ(RES_new(4, "b", nullptr, CV_int), 0);
    EXPECT_EQ(RES_put("c", "3"), 0);
    char* a_text = RES_get("a");
    for (int i = 0; i < 100; ++i) RES_put(("filler" + std::to_string(i)).c_str(), "x");
    EXPECT_EQ(RES_get("a"), a_text);   // stays valid while others are added

    EXPECT_EQ(RES_new(7, "a", "one", CV_string), 0);   // keeps its place
    EXPECT_EQ(RES_append(9, "b", "x", CV_float), 0);   // no value yet: stored
    EXPECT_EQ(RES_append(9, "b", "y", CV_float), 0);
    EXPECT_EQ(RES_append(RES_NO_INDEX, "d", "new", CV_string), 0);
    EXPECT_EQ(get("b"), "x\ny");
    EXPECT_EQ(get("d"), "new");
    EXPECT_EQ(get("missing"), "<absent>");
    EXPECT_EQ(RES_new(0, nullptr, "x", CV_string), -1);

    // a value appended or stored again from its own text (RES_get) is read before it moves
    const std::string long_text(40, 'L');
    RES_put("self", long_text.c_str());
    EXPECT_EQ(RES_append(RES_NO_INDEX, "self", RES_get("self"), CV_string), 0);
    EXPECT_EQ(get("self"), long_text + "\n" + long_text);
    EXPECT_EQ(RES_new(RES_NO_INDEX, "self", RES_get("self") + 41, CV_string), 0);
    EXPECT_EQ(get("self"), long_text);

    RES_clear();
    RES_put("a", "1");
    RES_new(RES_NO_INDEX, "b", nullptr, CV_string);
    RES_put("c", "3");
    RES_put("a", "again");
    testing::internal::CaptureStdout();
    RES_list();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a: again\nb:\nc: 3\n");
}

TEST_F(ResrcTest, ListValuesSplitByKind) {
    RES_put("list", "a,b,,c");
    RES_new(0, "lines", "x,y\nz", CV_strings);
    int n = 0;
    char** v = nullptr;
    ASSERT_EQ(RES_getvals("list", &n, &v), 4);
    EXPECT_STREQ(v[2], "");
    EXPECT_STREQ(v[3], "c");
    free_parsed_array(n, v);
    ASSERT_EQ(RES_getvals("lines", &n, &v), 2);
    EXPECT_STREQ(v[0], "x,y");
    free_parsed_array(n, v);
    EXPECT_EQ(RES_getvals("absent", &n, &v), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(v, nullptr);
    RES_new(RES_NO_INDEX, "novalue", nullptr, CV_string);
    EXPECT_EQ(RES_getvals("novalue", &n, &v), 0);
}

TEST_F(ResrcTest, ProgramNames) {
    init({"/opt/qaz/bin/reelctl", "x"});
    EXPECT_STREQ(RES_get_prog(), "/opt/qaz/bin/reelctl");
    char name[RES_PROGNAME_SIZE];
    EXPECT_STREQ(RES_get_progname(name), "reelctl");
    char small[4];
    EXPECT_STREQ(RES_get_progname(small, sizeof small), "ree");   // cut, terminated
    char* copy = RES_get_progname(nullptr);
    EXPECT_STREQ(copy, "reelctl");
    std::free(copy);
    RES_clear();
    EXPECT_EQ(RES_get_prog(), nullptr);
    EXPECT_STREQ(RES_get_progname(name), "Qaz");
}

TEST_F(ResrcTest, StandardDefinitions) {
    RES_defobj obj;
    testing::internal::CaptureStdout();
    RES_enter(&obj, static_cast<res_type>(100));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "100\n");
    EXPECT_STREQ(obj.def, "");

    // every key of the enumeration has a definition, keyed or positional
    std::vector<int> keys = {RES_sat_path};
    for (int k = RES_help; k <= RES_values; ++k) keys.push_back(k);
    for (const int k : keys) {
        RES_enter(&obj, static_cast<res_type>(k));
        EXPECT_GT(std::strlen(obj.def), 0u) << "key " << k;
        EXPECT_TRUE((obj.cmd && *obj.cmd && obj.pos == 0) || (!obj.cmd && obj.pos > 0)) << "key " << k;
    }
}

// ---------------------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------------------

TEST_F(ResrcTest, BooleanWords) {
    struct Case {
        const char* text;
        int result;
        int stored;   // -1: target untouched
    };
    const Case cases[] = {
        {nullptr, 1, 1}, {"", 1, 1},     {"true", 1, 1},  {"ON", 1, 1},   {"Yes", 1, 1},
        {"false", 1, 0}, {"off", 1, 0},  {"NO", 1, 0},    {"maybe", 1, -1}, {"1", 1, -1},
    };
    for (const Case& c : cases) {
        int target = -1;
        testing::internal::CaptureStderr();
        EXPECT_EQ(RES_conv_data(c.text, &target, CV_bool), c.result) << (c.text ? c.text : "(none)");
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(target, c.stored) << (c.text ? c.text : "(none)");
        EXPECT_EQ(err.empty(), c.stored != -1) << "a word that is no yes/no is stored nowhere, with a warning";
    }
    EXPECT_EQ(RES_conv_data("yes", nullptr, CV_bool), 1);
}

TEST_F(ResrcTest, Numbers) {
    struct IntCase {
        const char* text;
        DEF_convert cvt;
        int result;
        long long value;   // expected target when result is 1
    };
    const IntCase cases[] = {
        {"20", CV_int, 1, 20},         {"-20", CV_int, 1, -20},       {"+7", CV_int, 1, 7},
        {"0x1f", CV_int, 1, 31},       {"0XFF", CV_int, 1, 255},      {"12abc", CV_int, 0, 0},
        // a typing slip after the digits refuses the value instead of keeping its start
        {"2O", CV_int, 0, 0},          {"1.5", CV_int, 0, 0},         {"0x1fz", CV_int, 0, 0},
        {"-0x10", CV_int, 0, 0},       {"3O0", CV_short, 0, 0},       {"12 34", CV_long, 0, 0},
        {"5#", CV_color, 0, 0},
        // blanks around the number are no error
        {" 20 ", CV_int, 1, 20},       {"\t-4\n", CV_int, 1, -4},     {" 0x10", CV_int, 1, 16},
        {" 300", CV_short, 1, 300},    {"77 ", CV_long, 1, 77},       {"  ", CV_int, 0, 0},
        {"abc", CV_int, 0, 0},         {"", CV_int, 0, 0},            {"-", CV_int, 0, 0},
        {"0x", CV_int, 0, 0},          {"99999999999", CV_int, 0, 0}, {nullptr, CV_int, 0, 0},
        {"300", CV_short, 1, 300},     {"-3", CV_short, 0, 0},        {"70000", CV_short, 0, 0},
        {"123456789", CV_long, 1, 123456789}, {"-1", CV_long, 0, 0},
        {"5", CV_color, 1, 5},         {"-2", CV_color, 1, -2},       {"red", CV_color, 0, 0},
    };
    for (const IntCase& c : cases) {
        const char* label = c.text ? c.text : "(none)";
        long long got = -77;
        int result;
        testing::internal::CaptureStderr();
        if (c.cvt == CV_short) {
            short s = -77;
            result = RES_conv_data(c.text, &s, c.cvt);
            got = s;
        } else if (c.cvt == CV_long) {
            long l = -77;
            result = RES_conv_data(c.text, &l, c.cvt);
            got = l;
        } else {
            int i = -77;
            result = RES_conv_data(c.text, &i, c.cvt);
            got = i;
        }
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.result) << label << " cvt " << c.cvt;
        EXPECT_EQ(got, c.result ? c.value : -77) << label << " cvt " << c.cvt;
    }

    struct FloatCase {
        const char* text;
        int result;
        float value;
    };
    const FloatCase floats[] = {{"2.5", 1, 2.5f},     {"-1e3", 1, -1000.0f}, {"x", 0, -77.0f},
                                {"1e60", 0, -77.0f},  {" 2.5\t", 1, 2.5f},   {"2.5km", 0, -77.0f},
                                {"1,5", 0, -77.0f},   {"2.O", 0, -77.0f},    {"nan", 0, -77.0f},
                                {"-inf", 0, -77.0f},  {"", 0, -77.0f}};
    for (const FloatCase& c : floats) {
        float f = -77.0f;
        testing::internal::CaptureStderr();
        EXPECT_EQ(RES_conv_data(c.text, &f, CV_float), c.result) << c.text;
        testing::internal::GetCapturedStderr();
        EXPECT_NEAR(f, c.value, 1e-4f) << c.text;
    }
    EXPECT_EQ(RES_conv_data("5", nullptr, CV_int), 1);   // no target: nothing to store

    // the refusal says why
    int target = -77;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RES_conv_data("2O", &target, CV_int), 0);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("not a number"), std::string::npos) << warning;
    EXPECT_NE(warning.find("2O"), std::string::npos) << warning;
    EXPECT_EQ(target, -77);
}

TEST_F(ResrcTest, TextsAndPaths) {
    char* ref = nullptr;
    const char* text = "abc";
    EXPECT_EQ(RES_conv_data(text, &ref, CV_string), 1);
    EXPECT_EQ(ref, text);
    EXPECT_EQ(RES_conv_data(nullptr, &ref, CV_string), 0);

    struct PathCase {
        const char* text;
        const char* expected;
    };
    const PathCase paths[] = {{"/data", "/data/"}, {"/data/", "/data/"}, {"none", ""}, {"NONE", ""}, {"", ""}, {"rel", "rel/"}};
    for (const PathCase& c : paths) {
        char* path = nullptr;
        ASSERT_EQ(RES_conv_data(c.text, &path, CV_path), 1) << c.text;
        EXPECT_STREQ(path, c.expected) << c.text;
        std::free(path);
    }

    // the fixed-size copy is bounded at its documented size, at the limit and one above
    char target[RES_STRCPY_SIZE + 8];
    std::memset(target, '#', sizeof target);
    const std::string fits(RES_STRCPY_SIZE - 1, 'f');
    EXPECT_EQ(RES_conv_data(fits.c_str(), target, CV_strcpy), 1);
    EXPECT_EQ(std::string(target), fits);
    std::memset(target, '#', sizeof target);
    const std::string too_long(RES_STRCPY_SIZE, 'g');
    testing::internal::CaptureStderr();
    EXPECT_EQ(RES_conv_data(too_long.c_str(), target, CV_strcpy), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::strlen(target), RES_STRCPY_SIZE - 1);
    EXPECT_EQ(target[RES_STRCPY_SIZE], '#');   // nothing written past the target
}

TEST_F(ResrcTest, DomainsNeedAValue) {
    for (const DEF_convert cvt : {CV_region, CV_domain}) {
        Domain domain{};
        domain.proj = 7;
        domain.nx = 11;
        EXPECT_EQ(RES_conv_data(nullptr, &domain, cvt), 0) << cvt;
        EXPECT_EQ(domain.proj, 7) << cvt;   // left as the program set it
        EXPECT_EQ(domain.nx, 11) << cvt;
        EXPECT_EQ(RES_conv_data("miss", &domain, cvt), 1) << cvt;
        EXPECT_EQ(domain.proj, -9999) << cvt;
    }
}

TEST_F(ResrcTest, DeviceClasses) {
    struct Case {
        const char* text;
        int device_class;
        const char* rest;   // null: target untouched
    };
    const Case cases[] = {
        {"p", 4, nullptr},         {"Printer,lp0", 4, "lp0"}, {"h", 5, nullptr}, {"Q", 5, nullptr},
        {"m,meta.out", 3, "meta.out"}, {"w", 6, nullptr},    {"d", 1, nullptr}, {",x,y", 1, "x,y"},
        {"", 1, nullptr},
    };
    for (const Case& c : cases) {
        char* rest = nullptr;
        FLAG_set(2, -9999);
        EXPECT_EQ(RES_conv_data(c.text, &rest, CV_device), 1) << c.text;
        EXPECT_EQ(FLAG_get(2), c.device_class) << c.text;
        if (c.rest)
            EXPECT_STREQ(rest, c.rest) << c.text;
        else
            EXPECT_EQ(rest, nullptr) << c.text;
    }
    EXPECT_EQ(RES_conv_data(nullptr, nullptr, CV_device), 0);
    EXPECT_EQ(RES_set_device(nullptr), 1);
    EXPECT_EQ(RES_set_device("xyz"), 1);
}

TEST_F(ResrcTest, CodesOfOtherModulesKeepTheirText) {
    init({"prog", "-ho", "12", "-re", "us", "-pd", "ne", "-cu", "-dr", "map", "-pl", "cf", "-nc", "conv",
          "-pf", "use", "-di", "ldm"},
         std::vector<res_type>{RES_hour, RES_region, RES_plot_domain, RES_current, RES_draw, RES_plot_type,
                               RES_name_conv, RES_file_param, RES_ingestor, RES_null}
             .data(),
         kReelPos);
    EXPECT_EQ(get("hour"), "12");
    EXPECT_EQ(get("region"), "us");
    EXPECT_EQ(get("plot_domain"), "ne");
    EXPECT_EQ(get("current"), "");
    EXPECT_EQ(get("draw"), "map");
    EXPECT_EQ(get("plot_type"), "cf");
    EXPECT_EQ(get("name_conv"), "conv");
    EXPECT_EQ(get("file_param"), "use");
    EXPECT_EQ(get("ingestor"), "ldm");
    testing::internal::CaptureStderr();
    EXPECT_EQ(RES_conv_data("x", nullptr, static_cast<DEF_convert>(24)), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("unknown conversion code 24"), std::string::npos);
}

// Message settings are process-wide and counted, so these run in a fresh process.
void batch_alone_sets_message_level() {
    setenv("qazdefault", "/nonexistent/qaz_resrc_test", 1);
    const char* words[] = {"reelctl", "-ba", "go"};
    RES_init(3, words, kReelKeys, kReelPos);
    const bool ok = FLAG_batch() == 1 && MESS_get() == 0xffu && std::strcmp(RES_get("command"), "go") == 0;
    std::exit(ok ? 0 : 1);
}

void explicit_message_setting_wins_over_batch() {
    setenv("qazdefault", "/nonexistent/qaz_resrc_test", 1);
    const char* words[] = {"reelctl", "-me", "error", "-ba"};
    RES_init(4, words, kReelKeys, kReelPos);
    std::exit(FLAG_batch() == 1 && MESS_get() == 0x3fu ? 0 : 1);
}

TEST(ResrcProcessTest, BatchAndMessageSettings) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(batch_alone_sets_message_level(), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(explicit_message_setting_wins_over_batch(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
