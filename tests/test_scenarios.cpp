// Start-up as a program does it: an option table with targets, a command line, the
// environment and a resource file feed the resource database, whose conversions must
// land the values in the date, file-selection, flag and region modules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "date.hpp"
#include "files.hpp"
#include "flag.hpp"
#include "maptran.hpp"
#include "region.hpp"
#include "resrc.hpp"
#include "string.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kUnset = -9999;
constexpr int kOverwriteFlag = 15;
constexpr int kDeviceFlag = 2;

// Every variable a scenario may set; cleared before and after each one.
const char* const kEnvVars[] = {
    "qazdefault", "qazhour", "qazregion", "qazdomain", "qazfileparam", "qazcurrent", "qazfile",
    "qazdata", "qaznameconv", "qazscale", "qazgridtype", "qazdecode", "qazcurtime", "qaztz",
    "qazplotter.hour", "qazplotter.region", "qazstat_prior", "qazprior", "qazwindownum",
};

// What the program under test keeps of its options.
struct Targets {
    int window = -1;
    int grid_type = -1;
    int table = -1;
    float scale = -1.0f;
    float interval = -1.0f;
    char* name_conv = nullptr;
    char* current = nullptr;
    char* data_path = nullptr;
    char* device_rest = nullptr;
    Domain region{};
    Domain plot_domain{};
    char** values = nullptr;
    int nvalues = 0;
};

class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        clean();
        dir_ = fs::temp_directory_path() / ("qaz_scenarios_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "etc");
        fs::create_directories(dir_ / "data");
        // The region file and the name conventions sit in the directory of file_path.
        write("etc/qaz.reg",
              "# test regions\n"
              "lab   Test_Lab     1  lc:25:-95,38,-98,0.4,0.4\n"
              "big   Big_Area     2  40,-100,41,33,2.0\n"
              "alias Alias        0  lab\n");
        write("etc/conv.tbl",
              "# TYPE TEMPLATE HEADER SIZE\n"
              "sfc  %D/%y%m%d%h_sao  -  0\n"
              "cyc  %D/%y%m%d%h.cyc  -  0\n");
        DOM_init(&t_.region);
        DOM_init(&t_.plot_domain);
    }
    void TearDown() override {
        if (t_.values) free_parsed_array(t_.nvalues, t_.values);
        std::free(t_.data_path);
        clean();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    static void clean() {
        RES_clear();
        for (const char* v : kEnvVars) unsetenv(v);
        FLAG_reset(kUnset);
        FILE_reset_time();
        FILE_set_name("none");
        DATE_set_range(-15, 10);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name)) << text;
        return path(name);
    }

    // A plotting program's own table, with a target for each value it keeps.
    void build_table() {
        table_.assign(20, RES_defobj{});
        int i = 0;
        RES_fill_obj(&table_[i++], "hour", "qazhour", "ho", CV_hour, nullptr, nullptr);
        RES_fill_obj(&table_[i++], "region", "qazregion", "re", CV_region, &t_.region, nullptr);
        RES_fill_obj(&table_[i++], "plot_domain", "qazdomain", "pd", CV_domain, &t_.plot_domain, nullptr);
        RES_fill_obj(&table_[i++], "file_param", "qazfileparam", "pf", CV_file_param, nullptr, nullptr);
        RES_fill_obj(&table_[i++], "current", "qazcurrent", "cu", CV_current, &t_.current, nullptr);
        RES_fill_obj(&table_[i++], "name_conv", "qaznameconv", "nc", CV_name, &t_.name_conv, nullptr);
        RES_fill_obj(&table_[i++], "file_path", "qazfile", "fp", CV_path, nullptr, nullptr);
        RES_fill_obj(&table_[i++], "data_path", "qazdata", "dp", CV_path, &t_.data_path, nullptr);
        RES_fill_obj(&table_[i++], "plot_scale", "qazscale", "sc", CV_float, &t_.scale, nullptr);
        RES_fill_obj(&table_[i++], "con_interval", "qazconint", "ci", CV_float, &t_.interval, nullptr);
        RES_fill_obj(&table_[i++], "grid_type", "qazgridtype", "gt", CV_int, &t_.grid_type, nullptr);
        RES_fill_obj(&table_[i++], "window_num", "qazwindownum", "wn", CV_int, &t_.window, nullptr);
        RES_fill_obj(&table_[i++], "table", "qaztable", "ta", CV_bool, &t_.table, nullptr);
        RES_fill_obj(&table_[i++], "device", "qazdevice", "de", CV_device, &t_.device_rest, nullptr);
        RES_fill_obj(&table_[i++], "decode_hour", "qazdecode", "dh", CV_string, nullptr, nullptr);
        RES_fill_obj(&table_[i++], "stat_prior", "qazprior", "pr", CV_int, nullptr, nullptr);
        RES_fill_obj(&table_[i++], "value", "qazvalue", RES_POS_ALL, CV_strings, &t_.values, &t_.nvalues);
        table_[i] = RES_defobj{};
    }

    // Runs the start-up of "plotter" with the resource file (when given) as search path.
    void run(std::vector<const char*> words, const std::string& resource_file = "") {
        setenv("qazdefault", resource_file.empty() ? path("none").c_str() : resource_file.c_str(), 1);
        // The path target is the program's to free; a second start-up makes a new one.
        std::free(t_.data_path);
        t_.data_path = nullptr;
        build_table();
        words.insert(words.begin(), "/usr/local/bin/plotter");
        RES_decode(nullptr, nullptr, static_cast<int>(words.size()), words.data(), table_.data());
    }

    static Date requested() {
        Date d{};
        FILE_get_time(&d);
        return d;
    }

    fs::path dir_;
    Targets t_;
    std::vector<RES_defobj> table_;
};

// ---------------------------------------------------------------------------------------
// Requested time and time selection
// ---------------------------------------------------------------------------------------

// The hour reaches the file search from each source, the command line winning; an hour
// that is no hour leaves the requested time alone.
TEST_F(ScenarioTest, HourFromEverySourceSetsTheRequestedTime) {
    const std::string file = write("plotter.def", "plotter.hour 03\n");
    run({}, file);
    EXPECT_EQ(requested().hour, 3);
    EXPECT_EQ(requested().min, kUnset);

    RES_clear();
    FILE_reset_time();
    setenv("qazhour", "9:30", 1);
    run({}, file);
    EXPECT_EQ(requested().hour, 9);
    EXPECT_EQ(requested().min, 30);

    RES_clear();
    FILE_reset_time();
    run({"-ho", " 18 "}, file);   // blanks of a quoted value are no error
    EXPECT_EQ(requested().hour, 18);
    EXPECT_EQ(requested().min, kUnset);   // only the winning value is converted

    for (const char* bad : {"1O", "25", "12:6O", "x"}) {
        RES_clear();
        FILE_reset_time();
        testing::internal::CaptureStderr();
        run({"-ho", bad}, file);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(requested().hour, kUnset) << bad;
        EXPECT_EQ(requested().min, kUnset) << bad;
    }
}

// A cycle hour names the files of its cycle and is the hour the decoders work for.
TEST_F(ScenarioTest, CycleHourNamesFilesAndSetsTheDecodingTime) {
    setenv("qazfile", path("etc").c_str(), 1);
    run({"-ho", "-306", "-nc", "conv.tbl", "-dp", path("data").c_str()});
    ASSERT_EQ(requested().hour, -306);
    EXPECT_STREQ(t_.name_conv, "conv.tbl");
    EXPECT_EQ(std::string(t_.data_path), path("data") + "/");

    ASSERT_EQ(FILE_set_name("sfc"), 1);
    char name[FILE_NAME_SIZE];
    const Date at14 = *DATE_to_struct(2026, 12, 7, 14, 0);
    FILE_set_date(&at14, name);
    EXPECT_EQ(std::string(name), path("data") + "/26120715_sao");
    EXPECT_EQ(FILE_get_late_off(), 6 * 3600);

    Date decoding{};
    DATE_set_datim(&at14);
    DATE_get_datim(&decoding);
    EXPECT_EQ(decoding.hour, 15);
    EXPECT_EQ(decoding.min, 0);
    const Date at11 = *DATE_to_struct(2026, 12, 7, 11, 0);
    DATE_set_datim(&at11);
    DATE_get_datim(&decoding);
    EXPECT_EQ(decoding.hour, 9);
}

// "decode_hour" from a resource file sets the decoding time and its window.
TEST_F(ScenarioTest, DecodeHourFromAResourceFileSetsTheWindow) {
    const std::string file = write("plotter.def", "*decode_hour 12:00-30+20\n");
    run({}, file);
    const Date at10 = *DATE_to_struct(2026, 12, 7, 10, 0);
    DATE_set_datim(&at10);
    Date decoding{};
    DATE_get_datim(&decoding);
    EXPECT_EQ(decoding.hour, 12);
    EXPECT_EQ(decoding.min, 0);
    EXPECT_EQ(DATE_chk_range(1130), 1);   // 30 minutes before: the edge is inside
    EXPECT_EQ(DATE_chk_range(1129), 0);
    EXPECT_EQ(DATE_chk_range(1220), 1);
    EXPECT_EQ(DATE_chk_range(1221), 0);
}

// "current" and "hour" together choose the input file without asking.
TEST_F(ScenarioTest, CurrentAndHourChooseTheInputFile) {
    write("data/26120706_sao", "obs\n");
    write("data/26120707_sao", "obs\n");
    const std::string file = write("plotter.def",
                                   "*name_conv conv.tbl\n"
                                   "plotter.file_path " + path("etc") + "\n"
                                   "plotter.data_path " + path("data") + "\n");
    run({"-cu", "#202612070700", "-ho", "6"}, file);
    EXPECT_STREQ(t_.current, "#202612070700");
    EXPECT_EQ(t_.current, RES_get("current"));   // a reference to the stored text
    ASSERT_EQ(FILE_set_name("sfc"), 1);
    char chosen[FILE_NAME_SIZE] = "";
    EXPECT_EQ(FILE_get_file_only("File: ", chosen), 1);
    EXPECT_EQ(std::string(chosen), path("data/26120706_sao"));

    // the option alone means "now" both to the file choice and to the program's target
    RES_clear();
    FILE_reset_time();
    t_.current = nullptr;
    setenv("qazcurtime", "202612070700", 1);
    run({"-cu"}, file);
    ASSERT_NE(t_.current, nullptr);
    EXPECT_STREQ(t_.current, "");
    ASSERT_EQ(FILE_set_name("sfc"), 1);
    EXPECT_EQ(FILE_get_file_only("File: ", chosen), 1);
    EXPECT_EQ(std::string(chosen), path("data/26120707_sao"));

    // "la" from the environment: the newest file at or before the base time
    RES_clear();
    FILE_reset_time();
    setenv("qazcurrent", "la#12", 1);
    setenv("qazcurtime", "202612071200", 1);
    run({}, file);
    ASSERT_EQ(FILE_set_name("sfc"), 1);
    EXPECT_EQ(FILE_get_file_only("File: ", chosen), 1);
    EXPECT_EQ(std::string(chosen), path("data/26120707_sao"));
}

// ---------------------------------------------------------------------------------------
// File handling
// ---------------------------------------------------------------------------------------

TEST_F(ScenarioTest, NameConventionFromTheResourceFile) {
    const std::string file = write("plotter.def", "plotter.name_conv: conv.tbl\n");
    setenv("qazfile", path("etc").c_str(), 1);
    setenv("qazdata", "/srv/obs", 1);
    run({}, file);
    EXPECT_STREQ(t_.name_conv, "conv.tbl");
    ASSERT_EQ(FILE_set_name("sfc_metar"), 1);   // a partial match in the program's table
    char name[FILE_NAME_SIZE];
    const Date at7 = *DATE_to_struct(2026, 12, 7, 7, 0);
    FILE_set_date(&at7, name);
    EXPECT_STREQ(name, "/srv/obs/26120707_sao");
}

TEST_F(ScenarioTest, FileParamAnswersTheOverwriteQuestion) {
    const std::string existing = write("data/out.grd", "x");
    setenv("qazfileparam", "app", 1);
    run({});
    EXPECT_EQ(FLAG_get(kOverwriteFlag), 2);
    EXPECT_EQ(FILE_overwrite(existing.c_str(), 2), 2);

    RES_clear();
    FLAG_reset(kUnset);
    run({"-pf", "over"});   // the command line beats the environment
    EXPECT_EQ(FLAG_get(kOverwriteFlag), 1);
    EXPECT_EQ(FILE_overwrite(existing.c_str(), 2), 1);

    RES_clear();
    FLAG_reset(kUnset);
    unsetenv("qazfileparam");
    testing::internal::CaptureStderr();
    run({"-pf", "maybe"});
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FLAG_get(kOverwriteFlag), kUnset);   // no answer: the question stays open
}

// ---------------------------------------------------------------------------------------
// Regions and domains
// ---------------------------------------------------------------------------------------

TEST_F(ScenarioTest, RegionFromAFileAndDomainFromTheCommandLine) {
    const std::string file = write("plotter.def", "plotter.region lab\n");
    setenv("qazfile", path("etc").c_str(), 1);
    run({"-pd", "40,-100"}, file);

    EXPECT_EQ(t_.region.proj, 4);   // the region file's Lambert domain
    EXPECT_FLOAT_EQ(t_.region.plat, 25.0f);
    EXPECT_FLOAT_EQ(t_.region.plon, -95.0f);
    EXPECT_FLOAT_EQ(t_.region.clat, 38.0f);
    EXPECT_FLOAT_EQ(t_.region.clon, -98.0f);
    EXPECT_FLOAT_EQ(t_.region.dx, 0.4f);
    EXPECT_EQ(t_.region.nx, 25);
    EXPECT_EQ(t_.region.ny, 17);

    EXPECT_EQ(t_.plot_domain.proj, 1);
    EXPECT_FLOAT_EQ(t_.plot_domain.clat, 40.0f);
    EXPECT_FLOAT_EQ(t_.plot_domain.clon, -100.0f);
    EXPECT_FLOAT_EQ(t_.plot_domain.dx, 1.2f);
    EXPECT_EQ(t_.plot_domain.nx, 25);

    // the domain converted last leaves its traces for the readers and the plots
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), DOM_DECODE_VALUES);
    char key[FILE_KEY_SIZE] = "";
    FILE_get_key('r', key);
    EXPECT_STREQ(key, "40,-100");
    EXPECT_EQ(DOM_get_prior(), 3);   // (17 - 1) x 1.2
}

TEST_F(ScenarioTest, RegionNamesResolveThroughTheFileAndTheBuiltInTable) {
    setenv("qazfile", path("etc").c_str(), 1);
    run({"-re", "alias"});   // a region file entry naming another entry
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), DOM_DECODE_REGION);
    EXPECT_EQ(t_.region.proj, 4);
    EXPECT_FLOAT_EQ(t_.region.clat, 38.0f);

    RES_clear();
    DOM_init(&t_.region);
    run({"-re", "us"});   // not in the file: built in
    EXPECT_EQ(t_.region.proj, 1);
    EXPECT_FLOAT_EQ(t_.region.clat, 39.0f);
    EXPECT_FLOAT_EQ(t_.region.dx, 2.3f);

    // a slip in a number is no domain: the program keeps what it had
    RES_clear();
    testing::internal::CaptureStderr();
    run({"-re", "40,-1OO"});
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), DOM_DECODE_INVALID);
    EXPECT_EQ(t_.region.proj, 1);
    EXPECT_FLOAT_EQ(t_.region.clat, 39.0f);
}

// ---------------------------------------------------------------------------------------
// Numbers, switches, devices and positional values
// ---------------------------------------------------------------------------------------

TEST_F(ScenarioTest, NumbersWithTypingSlipsAreRefused) {
    const std::string file = write("plotter.def", "*grid_type 2O\n*window_num 12\n");
    testing::internal::CaptureStderr();
    run({"-sc", "1.5x", "-ci", " 2.5 ", "-ta", "-wn", "0x1O"}, file);
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_EQ(t_.grid_type, -1);   // "2O" is not 2
    EXPECT_FLOAT_EQ(t_.scale, -1.0f);
    EXPECT_FLOAT_EQ(t_.interval, 2.5f);
    EXPECT_EQ(t_.table, 1);
    EXPECT_EQ(t_.window, -1);   // the command line's slip does not fall back to the file's 12
    EXPECT_NE(warnings.find("2O"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("1.5x"), std::string::npos) << warnings;

    // the same values read by name later are refused the same way
    int window = -7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RES_getval("window_num", &window, CV_int), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(window, -7);
}

TEST_F(ScenarioTest, DeviceSwitchAndPositionalValues) {
    run({"first", "-de", "P,lp0", "-ta=no", "second"});
    EXPECT_EQ(FLAG_get(kDeviceFlag), 4);
    EXPECT_STREQ(t_.device_rest, "lp0");
    EXPECT_EQ(t_.table, 0);
    ASSERT_EQ(t_.nvalues, 2);
    EXPECT_STREQ(t_.values[0], "first");
    EXPECT_STREQ(t_.values[1], "second");
}

// A program on the standard table has no targets: the time, file and region options
// must still reach their modules, and the region is decoded when the program asks.
TEST_F(ScenarioTest, StandardTableProgram) {
    const std::string file = write("plotter.def", "plotter.region big\nplotter.file_param use\n");
    setenv("qazdefault", file.c_str(), 1);
    setenv("qazfile", path("etc").c_str(), 1);
    setenv("qaztz", "+EST:-5", 1);
    const res_type keys[] = {RES_hour,      RES_region,    RES_file_param, RES_current,
                             RES_name_conv, RES_file_path, RES_data_path,  RES_null};
    const res_type none[] = {RES_null};
    const char* words[] = {"plotter", "-ho", "12:15", "-nc", "conv.tbl"};
    RES_init(5, words, keys, none);
    EXPECT_EQ(requested().hour, 12);
    EXPECT_EQ(requested().min, 15);
    EXPECT_EQ(FLAG_get(kOverwriteFlag), 3);
    EXPECT_EQ(DATE_get_tz_off(), -5 * 3600);
    EXPECT_EQ(FILE_set_name("cyc"), 1);

    Domain domain;
    DOM_init(&domain);
    EXPECT_EQ(DOM_get_region(&domain, 0), DOM_DECODE_REGION);
    EXPECT_FLOAT_EQ(domain.clat, 40.0f);
    EXPECT_EQ(domain.nx, 41);
    EXPECT_EQ(domain.ny, 33);
    EXPECT_FLOAT_EQ(domain.dx, 2.0f);
    DATE_set_TZ("UTC:0");
}

}  // namespace
