// Domain strings, regions, the region file and domain comparison/printing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "files.hpp"
#include "flag.hpp"
#include "maptran.hpp"
#include "region.hpp"
#include "resrc.hpp"

namespace {

const std::string data_dir = QAZ_TEST_DATA "/";
const std::string station_file = data_dir + "cty_small.cty";
constexpr float unset = -9999.0f;

struct Expected {
    int proj;
    float plat, plon, clat, clon;
    int nx, ny;
    float dx, dy;
    int ellipse;
};

void expect_domain(const Domain& got, const Expected& want, const std::string& what)
{
    EXPECT_EQ(got.proj, want.proj) << what;
    EXPECT_FLOAT_EQ(got.plat, want.plat) << what;
    EXPECT_FLOAT_EQ(got.plon, want.plon) << what;
    EXPECT_FLOAT_EQ(got.clat, want.clat) << what;
    EXPECT_FLOAT_EQ(got.clon, want.clon) << what;
    EXPECT_EQ(got.nx, want.nx) << what;
    EXPECT_EQ(got.ny, want.ny) << what;
    EXPECT_FLOAT_EQ(got.dx, want.dx) << what;
    EXPECT_FLOAT_EQ(got.dy, want.dy) << what;
    EXPECT_EQ(got.ellipse, want.ellipse) << what;
}

class RegionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RES_clear();
        RES_put("file_path", data_dir.c_str());
        DOM_set_prompt_region(1);
        FLAG_set_batch(0);
    }
    void TearDown() override
    {
        RES_clear();
        FLAG_set_batch(0);
    }

    Domain decode(const std::string& text, int expected_result)
    {
        Domain domain;
        DOM_init(&domain);
        EXPECT_EQ(DOM_decode(text.c_str(), &domain), expected_result) << text;
        return domain;
    }
};

TEST_F(RegionTest, EveryLayoutOfTheTable)
{
    const struct {
        const char* text;
        Expected want;
    } table[] = {
        {"size,640,480", {51, unset, unset, unset, unset, 640, 480, unset, unset, 0}},
        {"lc,-95,38,-98,49,33,1.5,1.25", {4, unset, -95, 38, -98, 49, 33, 1.5f, 1.25f, 0}},
        {"lc:30,-95,38,-98,49,33,1.5,1.25", {4, unset, -95, 38, -98, 49, 33, 1.5f, 1.25f, 0}},  // PL wins
        {"merc,10,20,30,40,0.5,0.25", {3, unset, unset, 10, 20, 30, 40, 0.5f, 0.25f, 0}},
        {"lc,-95,38,-98,0.4,0.3", {4, unset, -95, 38, -98, 25, 17, 0.4f, 0.3f, 0}},
        // P,LAT,LON,NX,NY,DX is shadowed: six items after a keyword always read as P,PL,LAT,LON,DX,DY.
        {"ll,10,20,30,40,0.5", {2, unset, 10, 20, 30, 25, 17, 40, 0.5f, 0}},
        // ... unless its LAT would lie beyond a pole: then the items are P,LAT,LON,NX,NY,DX.
        {"lc,40,-100,25,17,0.5", {4, unset, unset, 40, -100, 25, 17, 0.5f, 0.5f, 0}},
        // A diagram's centre is no latitude and may take any value.
        {"skewt,-100,575,81,951,1,1", {40, unset, unset, -100, 575, 81, 951, 1, 1, 0}},
        {"40,-100,30,20,0.5,0.25", {1, unset, unset, 40, -100, 30, 20, 0.5f, 0.25f, 0}},
        {"lc:25:-95,38,-98,0.4,0.4", {4, 25, -95, 38, -98, 25, 17, 0.4f, 0.4f, 0}},
        {"40,-100,30,20,0.5", {1, unset, unset, 40, -100, 30, 20, 0.5f, 0.5f, 0}},
        {"ortho,40,-100,0.8", {5, unset, unset, 40, -100, 25, 17, 0.8f, 0.8f, 0}},
        {"40,-100,30,20", {1, unset, unset, 40, -100, 30, 20, 1.2f, 1.2f, 0}},
        {"40,-100,0.7", {1, unset, unset, 40, -100, 25, 17, 0.7f, 0.7f, 0}},
        {"moll,10,20", {7, unset, unset, 10, 20, 25, 17, 1.2f, 1.2f, 0}},
        {"zoom,10,20", {50, unset, unset, 10, 20, 25, 17, 1.0f, 1.0f, 0}},
        {"40,-100", {1, unset, unset, 40, -100, 25, 17, 1.2f, 1.2f, 0}},
        {" 40 , -100 ", {1, unset, unset, 40, -100, 25, 17, 1.2f, 1.2f, 0}},
        {"ps:e:60:-105,40,-100,1.2", {1, 60, -105, 40, -100, 25, 17, 1.2f, 1.2f, 1}},
        {"ps : E : 60 : -105 , 40 , -100 , 1.2", {1, 60, -105, 40, -100, 25, 17, 1.2f, 1.2f, 1}},
        {"sat:e:-75,0,-75,0.5", {9, unset, -75, 0, -75, 25, 17, 0.5f, 0.5f, 1}},
        {"lc::-95,38,-98", {4, unset, -95, 38, -98, 25, 17, 1.2f, 1.2f, 0}},
    };
    for (const auto& row : table) expect_domain(decode(row.text, 1), row.want, row.text);
}

TEST_F(RegionTest, ProjectionValuesFillPoleThenParameters)
{
    const Domain domain = decode("lc:e:25:-95:30::7:8,38,-98", 1);  // an empty value keeps the default
    const float want[5] = {30, unset, 7, 8, unset};
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(domain.param[i], want[i]) << i;
    decode("lc:1:2:3:4:5:6:7,38,-98", 255);  // more values than the record holds
    decode("lc:abc,38,-98", 255);
    const Domain empty_plon = decode("ps:,40,-100", 1);  // a single empty value keeps the default too
    EXPECT_EQ(empty_plon.plon, unset);
    EXPECT_EQ(empty_plon.proj, 1);
}

TEST_F(RegionTest, AmbiguousStringsTakeTheEarlierLayout)
{
    // Six items after a projection: plon comes first, never nx/ny.
    Domain domain = decode("ps,-105,40,-100,2,3", 1);
    expect_domain(domain, {1, unset, -105, 40, -100, 25, 17, 2, 3, 0}, "P,PL,LAT,LON,DX,DY");
    // Grid sizes must be whole numbers: a fraction moves the string to the next layout.
    domain = decode("40,-100,30.5,20,0.5", 255);
    domain = decode("40,-100,30,20,0.5,0.5", 1);
    EXPECT_EQ(domain.nx, 30);
    // An unknown keyword fits no layout with a projection.
    decode("bogus,40,-100", 255);
    decode("40,-100,1,2,3,4,5,6,7", 255);
    decode("40,,-100", 255);
}

TEST_F(RegionTest, MissingAndInvalidStrings)
{
    Domain domain;
    domain.proj = 3;
    EXPECT_EQ(DOM_decode("miss", &domain), -9999);
    expect_domain(domain, {-9999, unset, unset, unset, unset, -9999, -9999, unset, unset, 0}, "miss");
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), -9999);
    EXPECT_EQ(DOM_decode("", &domain), -9999);
    EXPECT_EQ(DOM_decode(nullptr, &domain), -9999);
    EXPECT_EQ(DOM_decode("MISS", &domain), -9999);

    // Only an empty text and "miss" mean no domain; every other unknown word is refused aloud.
    const struct {
        const char* text;
        int result;
    } words[] = {{" miss ", -9999}, {"  ", -9999}, {"none", 255}, {"NONE", 255}, {"missing", 255}};
    for (const auto& w : words) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(DOM_decode(w.text, &domain), w.result) << w.text;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("Invalid plot domain") != std::string::npos, w.result == 255) << w.text << ": " << err;
    }

    Domain kept = decode("40,-100", 1);
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), 1);
    EXPECT_EQ(DOM_decode("no_such_region", &kept), 255);
    EXPECT_EQ(FLAG_get(DOM_REGION_FLAG), 255);
    EXPECT_FLOAT_EQ(kept.clat, 40.0f);  // a failed decode leaves the domain alone
    EXPECT_EQ(DOM_decode("40,-100", nullptr), 255);
    char key[64] = "";  // the whole string is file-name key r, valid or not
    FILE_get_key('r', key);
    EXPECT_STREQ(key, "no_such_region");
}

TEST_F(RegionTest, HostileStringsFailCleanly)
{
    // Grids without points or spacing would divide by zero in the grid transforms.
    for (const char* text : {"40,-100,0,17", "40,-100,25,-3", "40,-100,0", "40,-100,1,0", "40,-100,1e40",
                             "40,-100,99999999,2", "size,1e20,5", "size,-3,5", ",,,,", ":::", "id:", "ps:e:e:e,1,2", "40,nan",
                             "merc,91,0", "-95,-100", "ps,40,-100,0,17,1"})
        decode(text, 255);
    std::string many = "40";
    for (int i = 0; i < 5000; ++i) many += ",1";
    decode(many, 255);
    decode(std::string(2000, 'x'), 255);
    decode(std::string(600, 'x') + ":co", 255);  // file name longer than any path
}

TEST_F(RegionTest, StationItemsCentreOnTheStation)
{
    const std::string at_denver = "id:" + station_file + ":KDEN";
    Domain domain = decode(at_denver, 1);
    expect_domain(domain, {1, unset, unset, 39.85f, -104.66f, 25, 17, 1.2f, 1.2f, 0}, at_denver);
    domain = decode(at_denver + ",0.5", 1);  // LAT,LON,DX with the station for LAT and LON
    EXPECT_FLOAT_EQ(domain.dx, 0.5f);
    domain = decode("lc," + at_denver + ",1,2", 1);  // P,LAT,LON,DX,DY
    expect_domain(domain, {4, unset, unset, 39.85f, -104.66f, 25, 17, 1, 2, 0}, "lc,station,1,2");
    domain = decode("ll," + at_denver + ",31,21,0.5,0.25", 1);  // P,LAT,LON,NX,NY,DX,DY
    EXPECT_EQ(domain.nx, 31);
    EXPECT_FLOAT_EQ(domain.dy, 0.25f);
    // The layouts with a PL item take the station in their LAT place too.
    domain = decode("ps,-100," + at_denver + ",31,21,0.5,0.25", 1);  // P,PL,LAT,LON,NX,NY,DX,DY
    expect_domain(domain, {1, unset, -100, 39.85f, -104.66f, 31, 21, 0.5f, 0.25f, 0}, "P,PL,station,NX,NY,DX,DY");
    domain = decode("lc:25:-95,-97," + at_denver + ",0.4,0.3", 1);  // P,PL,LAT,LON,DX,DY
    expect_domain(domain, {4, 25, -97, 39.85f, -104.66f, 25, 17, 0.4f, 0.3f, 0}, "P,PL,station,DX,DY");
    decode("id:" + station_file + ":NOWHERE", 255);
    decode("id:", 255);
    // The default station file is looked for in the file_path directory.
    RES_put("file_path", QAZ_SHARE_SRC "/");
    domain = decode("id:KDEN", 1);
    EXPECT_NEAR(domain.clat, 39.87f, 0.05f);
}

TEST_F(RegionTest, OneLayoutAtATime)
{
    const auto set = [](std::vector<std::string> items, Domain* domain, int i1, int i2 = 0, int i3 = 0, int i4 = 0,
                        int i5 = 0, int i6 = 0) {
        std::vector<char*> argv;
        for (std::string& item : items) argv.push_back(item.data());
        return DOM_set_params(static_cast<int>(argv.size()), argv.data(), domain, i1, i2, i3, i4, i5, i6);
    };
    Domain domain;
    DOM_init(&domain);
    EXPECT_EQ(set({"lc:25:-95", "38", "-98", "0.4", "0.3"}, &domain, DOM_P_PROJ, DOM_P_CLAT, DOM_P_CLON, DOM_P_DX,
                  DOM_P_DY),
              0);
    EXPECT_EQ(domain.proj, 4);
    EXPECT_FLOAT_EQ(domain.plat, 25);
    EXPECT_FLOAT_EQ(domain.plon, -95);
    EXPECT_FLOAT_EQ(domain.clat, 38);
    EXPECT_FLOAT_EQ(domain.clon, -98);
    EXPECT_FLOAT_EQ(domain.dx, 0.4f);
    EXPECT_FLOAT_EQ(domain.dy, 0.3f);
    // An item left over, an item missing or one that does not read: non-zero.
    EXPECT_NE(set({"40", "-100", "5"}, &domain, DOM_P_CLAT, DOM_P_CLON), 0);
    EXPECT_NE(set({"40"}, &domain, DOM_P_CLAT, DOM_P_CLON), 0);
    EXPECT_NE(set({"40", "west"}, &domain, DOM_P_CLAT, DOM_P_CLON), 0);
    domain.proj = 4;
    EXPECT_EQ(set({"none", "1"}, &domain, DOM_P_CLAT, DOM_P_CLON), 0);
    EXPECT_EQ(domain.proj, -9999);
    EXPECT_EQ(set({"MISS"}, &domain, DOM_P_PROJ), 0);

    // A station is looked up afresh on every call: after the directory changes the
    // station file there answers.
    const std::string item = "id:KDEN";
    EXPECT_NE(set({item}, &domain, DOM_P_STATION), 0);  // no station file among the fixtures
    RES_put("file_path", QAZ_SHARE_SRC "/");
    ASSERT_EQ(set({item}, &domain, DOM_P_STATION), 0);
    EXPECT_NEAR(domain.clat, 39.87f, 0.05f);
}

TEST_F(RegionTest, RegionItemsAndTheRegionFile)
{
    const Expected colorado{1, unset, unset, 39, -105.5f, 25, 17, 0.6f, 0.6f, 0};
    expect_domain(decode("co", 2), colorado, "co");
    expect_domain(decode("CO", 2), colorado, "CO");
    expect_domain(decode("alias", 2), colorado, "alias names another region");
    expect_domain(decode("fi:qaz.reg", 2), colorado, "first region of the file");
    expect_domain(decode("qaz.reg:co", 2), colorado, "FILE:NAME");
    expect_domain(decode("qaz.reg:", 2), colorado, "FILE: loads the menu");
    expect_domain(decode("hid", 2), {4, 25, -95, 38, -98, 25, 17, 0.4f, 0.4f, 0}, "hidden line");
    // The file's line wins over the built-in region of the same name.
    expect_domain(decode("ne", 2), {1, unset, unset, 40, -100, 25, 17, 2, 2, 0}, "ne from the file");
    // Regions naming each other in a ring, and lines that hold no domain, fail cleanly.
    decode("loop1", 255);
    decode("bad", 255);
    decode("broken", 255);
    decode("no_such.reg:co", 255);
}

TEST_F(RegionTest, LongAbbreviationsAreFoundWhole)
{
    // The menu shows five characters of an abbreviation; the file still answers to all of it.
    char path[] = "/tmp/qaz_reg_XXXXXX";
    FILE* out = fdopen(mkstemp(path), "w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "europe Europe 1 lc:50:10,52,10,41,33,1.5,1.5\n");
    std::fclose(out);
    char text[DOM_LINE_SIZE] = "";
    EXPECT_EQ(DOM_search_file(path, "europe", text), 1);
    EXPECT_STREQ(text, "lc:50:10,52,10,41,33,1.5,1.5");
    text[0] = '\0';
    EXPECT_EQ(DOM_search_file(path, "EUROP", text), 1);  // the menu's answer
    EXPECT_STREQ(text, "lc:50:10,52,10,41,33,1.5,1.5");
    EXPECT_EQ(DOM_search_file(path, "euro", text), 0);
    std::remove(path);
}

TEST_F(RegionTest, BuiltInRegionsWhenTheFileHasNone)
{
    const Expected us{1, unset, -97, 39, -97, 25, 17, 2.3f, 2.3f, 0};
    expect_domain(decode("us", 2), us, "us is not in the test file");
    RES_put("file_path", "/nonexistent/dir/");
    expect_domain(decode("us", 2), us, "no region file at all");
    expect_domain(decode("sp", 2), {1, unset, -100, 32.5f, -100, 25, 17, 1.2f, 1.2f, 0}, "built-in sp");
    Domain domain;
    EXPECT_EQ(DOM_get_def_region("xx", &domain), 0);
}

// A file_path of "none" names no directory: the region and station files are those where
// the program stands, not some "none/" below it.
TEST_F(RegionTest, FilePathNoneMeansTheWorkingDirectory)
{
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(QAZ_TEST_DATA), 0);
    for (const char* none : {"none", "NONE"}) {
        RES_put("file_path", none);
        Domain domain = decode("co", 2);
        EXPECT_FLOAT_EQ(domain.clon, -105.5f) << none;
        EXPECT_EQ(DOM_decode(("id:" + std::string("cty_small.cty") + ":KDEN").c_str(), &domain), 1) << none;
    }
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(RegionTest, VariableRegionAsksForItsCentre)
{
    char path[] = "/tmp/region_answers_XXXXXX";
    const int handle = mkstemp(path);
    ASSERT_GE(handle, 0);
    FILE* answers = fdopen(handle, "w");
    std::fputs("45\n-90\n", answers);
    std::fclose(answers);
    ASSERT_NE(std::freopen(path, "r", stdin), nullptr);
    // The test file's "var" line names itself: the built-in region answers.
    const Domain domain = decode("var", 2);
    expect_domain(domain, {1, unset, -90, 45, -90, 25, 17, 1.2f, 1.2f, 0}, "var");
    decode("var", 255);  // no answers left
    std::remove(path);
}

TEST_F(RegionTest, PriorityFollowsTheDomainHeight)
{
    const struct {
        const char* text;
        int priority;
    } table[] = {
        {"40,-100", 3},                 // 16 x 1.2 = 19.2
        {"us", 2},                      // 16 x 2.3 = 36.8
        {"40,-100,10,5,1,13", 1},       // 4 x 13 = 52
        {"40,-100,10,5,1,12.5", 2},     // exactly 50 is not above 50
        {"40,-100,10,5,1,1", 5},        // 4
        {"40,-100,10,5,1,0.75", 6},     // 3
        {"40,-100,10,5,1,0.8", 5},      // 3.2
        {"40,-100,10,9,1,1", 4},        // 8
    };
    for (const auto& row : table) {
        decode(row.text, row.text == std::string("us") ? 2 : 1);
        EXPECT_EQ(DOM_get_prior(), row.priority) << row.text;
    }
    const struct {
        const char* setting;
        int priority;
    } adjust[] = {{"+2", 5}, {"-1", 2}, {"7", 7}, {"x", 3}};
    for (const auto& row : adjust) {
        RES_put("stat_prior", row.setting);
        decode("40,-100", 1);
        EXPECT_EQ(DOM_get_prior(), row.priority) << row.setting;
    }
    DOM_set_prior(9);
    EXPECT_EQ(DOM_get_prior(), 9);
    DOM_set_loc_prior(4);
    EXPECT_EQ(DOM_get_loc_prior(), 4);
}

TEST_F(RegionTest, ProjectionKeywords)
{
    const struct {
        const char* word;
        int code;
    } table[] = {
        {"ll", 2},      {"LATLON", 2},   {"lat", 2},     {"polar", 1},   {"ps", 1},      {"pstereo", 1},
        {"sat", 9},     {"lamb", 4},     {"Lambert", 4}, {"lc", 4},      {"la", 8},      {"lambaz", 8},
        {"gnom", 6},    {"ortho", 5},    {"moll", 7},    {"merc", 3},    {"pixel", 99},  {"xy", 20},
        {"xlogy", 22},  {"xlogp", 22},   {"cat", 24},    {"skewt", 40},  {"ema", 42},    {"teph", 43},
        {"rteph", 44},  {"therm", 40},   {"stuve", 41},  {"hodo", 23},   {"vert", 22},   {"xp", 25},
        {"zoom", 50},   {"size", 51},    {"miss", -9999}, {"xpx", -1},   {"p", -1},      {"l", -1},
        {"missing", -1}, {"", -1},       {"xz", -1},
    };
    for (const auto& row : table) EXPECT_EQ(DOM_proj_str(row.word), row.code) << row.word;
    EXPECT_EQ(DOM_proj_str(nullptr), -1);
}

TEST_F(RegionTest, MenuAndFileListing)
{
    EXPECT_STREQ(DOM_get_region_name(0), "Return to previous menu");
    ASSERT_EQ(DOM_read_menu("qaz.reg"), 1);
    EXPECT_STREQ(DOM_get_region_name(1), "Colorado");
    EXPECT_STREQ(DOM_get_region_name(2), "Same as colorado");
    EXPECT_STREQ(DOM_get_region_name(3), "Wide latlon with a l");  // cut to 20 characters
    EXPECT_STREQ(DOM_get_region_name(9), "Variable");
    EXPECT_STREQ(DOM_get_region_name(10), "");  // the broken line is no region
    EXPECT_STREQ(DOM_get_region_name(-1), "");
    EXPECT_EQ(DOM_read_menu("no_such.reg"), 0);
    EXPECT_STREQ(DOM_get_region_name(1), "Colorado");  // a missing file keeps the menu

    char text[DOM_LINE_SIZE];
    ASSERT_EQ(DOM_search_file("qaz.reg", "WIDE", text), 1);
    EXPECT_STREQ(text, "ll,0,0,361,181,1,1");
    ASSERT_EQ(DOM_search_file("qaz.reg", nullptr, text), 1);
    EXPECT_STREQ(text, "ps,39,-105.5,0.6");
    EXPECT_EQ(DOM_search_file("qaz.reg", "nothing", text), 0);
    char tiny[5];
    EXPECT_EQ(DOM_search_file("qaz.reg", "wide", tiny, sizeof tiny), 0);  // would not fit

    testing::internal::CaptureStdout();
    EXPECT_EQ(DOM_print_file("qaz.reg"), 1);
    const std::string listing = testing::internal::GetCapturedStdout();
    EXPECT_EQ(listing.rfind(" Abbr    Description\nco       Colorado", 0), 0u) << listing;
}

TEST_F(RegionTest, RegionFromResources)
{
    Domain domain;
    EXPECT_EQ(DOM_get_region(&domain, 1), 0);
    EXPECT_EQ(DOM_get_grid_domain(&domain), 0);
    EXPECT_EQ(DOM_get_region(&domain, 4), 2);  // first menu region of the file: co
    EXPECT_FLOAT_EQ(domain.clon, -105.5f);
    RES_put("region", "40,-100");
    RES_put("plot_domain", "ll,10,20");
    EXPECT_EQ(DOM_get_region(&domain, 1), 1);
    EXPECT_EQ(domain.proj, 2);
    EXPECT_EQ(DOM_get_region(&domain, 2), 1);  // flag 2 ignores plot_domain
    EXPECT_EQ(domain.proj, 1);
    RES_put("grid_domain", "merc,0,0");
    EXPECT_EQ(DOM_get_grid_domain(&domain), 1);
    EXPECT_EQ(domain.proj, 3);
}

TEST_F(RegionTest, RegionPrompt)
{
    Domain domain;
    DOM_set_prompt_region(0);
    EXPECT_EQ(DOM_prompt_region(&domain, 1), 0);
    DOM_set_prompt_region(1);
    FLAG_set_batch(1);
    EXPECT_EQ(DOM_prompt_region(&domain, 1), 2);
    EXPECT_FLOAT_EQ(domain.clon, -105.5f);
    FLAG_set_batch(0);

    char path[] = "/tmp/region_prompt_XXXXXX";
    const int handle = mkstemp(path);
    ASSERT_GE(handle, 0);
    FILE* answers = fdopen(handle, "w");
    std::fputs("list\nnot,a,domain\n3\n0\n", answers);  // listing, a bad answer, entry 3, return
    std::fclose(answers);
    ASSERT_NE(std::freopen(path, "r", stdin), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(DOM_prompt_region(&domain, 0), 2);
    EXPECT_EQ(domain.proj, 2);  // entry 3 is "wide"
    EXPECT_EQ(DOM_prompt_region(&domain, 0), 0);
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("Region Menu"), std::string::npos);
    EXPECT_NE(shown.find("Enter the region: "), std::string::npos);
    EXPECT_EXIT(DOM_prompt_region(&domain, 0), testing::ExitedWithCode(0), "");  // input ended
    std::remove(path);
}

TEST_F(RegionTest, CompareDomains)
{
    const Domain a = decode("lc:25:-95,38,-98,0.4,0.4", 1);
    Domain b = a;
    EXPECT_EQ(DOM_comp(&a, &b), 1);
    // An unset pole equals the other side's centre.
    const Domain c = decode("ps,40,-100", 1);
    Domain d = c;
    d.plat = 40;
    d.plon = -100;
    EXPECT_EQ(DOM_comp(&c, &d), 1);
    EXPECT_EQ(DOM_comp(&d, &c), 1);
    d.plon = -101;
    EXPECT_EQ(DOM_comp(&c, &d), 0);
    // Every field counts, exactly.
    for (int field = 0; field < 11; ++field) {
        b = a;
        float* floats[] = {&b.plat, &b.plon, &b.param[4], &b.clat, &b.clon, &b.dx, &b.dy};
        if (field < 7) *floats[field] += 0.001f;
        else if (field == 7) b.proj = 1;
        else if (field == 8) b.nx = 26;
        else if (field == 9) b.ny = 18;
        else b.ellipse = 1;
        EXPECT_EQ(DOM_comp(&a, &b), 0) << field;
        EXPECT_EQ(DOM_comp_proj(&a, &b), field < 3 || field == 7 || field == 10 ? 0 : 1) << field;
    }
    EXPECT_EQ(DOM_comp(&a, nullptr), 0);
}

std::string printed(const Domain& domain)
{
    testing::internal::CaptureStdout();
    DOM_print(M_print, &domain);
    return testing::internal::GetCapturedStdout();
}

TEST_F(RegionTest, PrintedDomainsDecodeBack)
{
    Domain domain = decode("ps:e:60:-105,40,-100,1.2", 1);
    EXPECT_EQ(printed(domain), "pstereo:e:60.000:-105.000:::,40.000,-100.000,25,17,1.2000,1.2000\n");
    const char* const strings[] = {
        "ps,40,-100",         "ll,10,20,30,40,0.5,0.25", "merc,10,20",       "lc:25:-95,38,-98,0.4,0.4",
        "ortho,40,-100",      "gn,40,-100",               "moll,0,0,40,20,2", "la:45:-100,45,-100",
        "sat:e:-75,0,-75,0.5", "xy,1,2",                  "xlogp,0,500",      "cat,1,2",
        "skewt,0,700",        "stuve,0,700",              "ema,0,700",        "zoom,1,2",
        "pix,100,200",        "lc:25:-95:33.5:45,38,-98",
    };
    for (const char* text : strings) {
        const Domain original = decode(text, 1);
        const std::string line = printed(original);
        ASSERT_FALSE(line.empty()) << text;
        const Domain back = decode(line.substr(0, line.size() - 1), 1);
        EXPECT_EQ(DOM_comp(&original, &back), 1) << text << " -> " << line;
    }
    // Codes without a name print without one and cannot be read back.
    Domain tephi = domain;
    tephi.proj = 43;
    EXPECT_EQ(printed(tephi).rfind(":e:60.000", 0), 0u);
    Domain hodograph = domain;
    hodograph.proj = 23;
    const std::string polar = printed(hodograph);
    EXPECT_EQ(decode(polar.substr(0, polar.size() - 1), 1).proj, 1);
    // Nothing at a level that is switched off.
    testing::internal::CaptureStdout();
    DOM_print(M_debug, &domain);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(SharedRegionFile, EveryLineDecodes)
{
    RES_clear();
    RES_put("file_path", QAZ_SHARE_SRC "/");
    std::ifstream file(QAZ_SHARE_SRC "/qaz.reg");
    ASSERT_TRUE(file.good());
    std::string line;
    int regions = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string abbr, description, domain_text;
        int display = -1;
        ASSERT_TRUE(fields >> abbr >> description >> display >> domain_text) << line;
        EXPECT_LE(abbr.size(), 5u) << line;
        EXPECT_LE(description.size(), 20u) << line;
        ++regions;
        if (abbr == "var") continue;  // asks for its centre
        Domain by_string, by_name;
        EXPECT_EQ(DOM_decode(domain_text.c_str(), &by_string), 1) << line;
        EXPECT_EQ(DOM_decode(abbr.c_str(), &by_name), 2) << line;
        EXPECT_EQ(DOM_comp(&by_string, &by_name), 1) << line;
        Domain built_in;
        if (DOM_get_def_region(abbr.c_str(), &built_in)) {
            EXPECT_EQ(DOM_comp(&built_in, &by_name), 1) << line;
        }
        // Every region must be a usable map: its centre shows on it.
        ASSERT_EQ(MAP_domain(&by_name), 0) << line;
        float x = 0, y = 0;
        EXPECT_EQ(MAP_tran_center(&x, &y), 1) << line;
        EXPECT_EQ(MAP_in_domain(x, y), 1) << line;
    }
    EXPECT_GE(regions, 30);
    RES_clear();
}

struct Landmark {
    const char* name;
    float lat, lon;
};

struct RegionLandmarks {
    const char* region;
    std::vector<Landmark> places;
};

// Each named region's map must show the places that make it that region: capitals, the main
// cities and the far ends of each country.
const std::vector<RegionLandmarks>& region_landmarks()
{
    static const std::vector<RegionLandmarks> table = {
        {"us",
         {{"Seattle", 47.6, -122.3}, {"Miami", 25.8, -80.2}, {"Caribou", 46.9, -68.0},
          {"San Diego", 32.7, -117.2}, {"Brownsville", 25.9, -97.5}}},
        {"ne",
         {{"Boston", 42.36, -71.06}, {"Caribou", 46.87, -68.0}, {"New York", 40.7, -74.0},
          {"Burlington", 44.48, -73.2}}},
        {"at",
         {{"Washington", 38.9, -77.0}, {"Raleigh", 35.8, -78.6}, {"Pittsburgh", 40.4, -80.0},
          {"Norfolk", 36.85, -76.29}}},
        {"se",
         {{"Atlanta", 33.75, -84.39}, {"Miami", 25.8, -80.2}, {"New Orleans", 29.95, -90.07},
          {"Charlotte", 35.2, -80.8}}},
        {"mw",
         {{"Chicago", 41.88, -87.63}, {"Minneapolis", 44.98, -93.27}, {"Detroit", 42.33, -83.05},
          {"St Louis", 38.63, -90.2}}},
        {"sp",
         {{"Dallas", 32.8, -96.8}, {"Oklahoma City", 35.5, -97.5}, {"Houston", 29.76, -95.37},
          {"Amarillo", 35.2, -101.8}, {"Wichita", 37.7, -97.3}}},
        {"nw",
         {{"Seattle", 47.6, -122.3}, {"Boise", 43.6, -116.2}, {"Helena", 46.6, -112.0},
          {"Portland", 45.5, -122.7}}},
        {"sw",
         {{"Phoenix", 33.45, -112.07}, {"Los Angeles", 34.05, -118.24}, {"Las Vegas", 36.17, -115.14},
          {"Denver", 39.74, -104.99}, {"Salt Lake City", 40.76, -111.89}, {"San Francisco", 37.77, -122.42}}},
        {"na",
         {{"Anchorage", 61.2, -149.9}, {"Mexico City", 19.43, -99.13}, {"St John's", 47.56, -52.71},
          {"Miami", 25.8, -80.2}, {"Los Angeles", 34.05, -118.24}, {"Iqaluit", 63.75, -68.5}}},
        {"sa",
         {{"Caracas", 10.5, -66.9}, {"Recife", -8.05, -34.9}, {"Lima", -12.05, -77.04},
          {"Buenos Aires", -34.6, -58.38}, {"Punta Arenas", -53.15, -70.9}, {"Bogota", 4.71, -74.07}}},
        {"eu",
         {{"Lisbon", 38.72, -9.14}, {"Moscow", 55.75, 37.62}, {"Oslo", 59.9, 10.75}, {"Athens", 37.98, 23.73},
          {"Reykjavik", 64.15, -21.94}, {"Dublin", 53.35, -6.26}}},
        {"af",
         {{"Cairo", 30.04, 31.24}, {"Cape Town", -33.92, 18.42}, {"Dakar", 14.69, -17.44},
          {"Tunis", 36.8, 10.18}, {"Mogadishu", 2.05, 45.32}, {"Antananarivo", -18.88, 47.51}}},
        {"as",
         {{"Tokyo", 35.68, 139.69}, {"Mumbai", 19.08, 72.88}, {"Bangkok", 13.75, 100.5},
          {"Ankara", 39.93, 32.86}, {"Yakutsk", 62.03, 129.7}, {"Riyadh", 24.71, 46.68}}},
        {"au",
         {{"Sydney", -33.87, 151.21}, {"Perth", -31.95, 115.86}, {"Darwin", -12.46, 130.84},
          {"Hobart", -42.88, 147.33}, {"Cairns", -16.92, 145.77}, {"Adelaide", -34.93, 138.6}}},
        {"an",
         {{"South Pole", -90, 0}, {"McMurdo", -77.85, 166.67}, {"Peninsula", -63.3, -57.0},
          {"Mawson", -67.6, 62.87}}},
        {"nh",
         {{"North Pole", 90, 0}, {"Equator 0E", 0.5, 0}, {"Equator 90E", 0.5, 90}, {"Equator 180", 0.5, 180},
          {"Equator 90W", 0.5, -90}}},
        {"sh",
         {{"South Pole", -90, 0}, {"Equator 0E", -0.5, 0}, {"Equator 90E", -0.5, 90},
          {"Equator 180", -0.5, 180}, {"Equator 90W", -0.5, -90}}},
        {"conus",
         {{"Seattle", 47.6, -122.3}, {"Miami", 25.8, -80.2}, {"Caribou", 46.9, -68.0},
          {"San Diego", 32.7, -117.2}, {"Brownsville", 25.9, -97.5}}},
        {"ak",
         {{"Anchorage", 61.2, -149.9}, {"Fairbanks", 64.84, -147.72}, {"Utqiagvik", 71.29, -156.79},
          {"Juneau", 58.3, -134.4}, {"Nome", 64.5, -165.4}, {"Kodiak", 57.79, -152.4}}},
        {"hi",
         {{"Honolulu", 21.3, -157.86}, {"Hilo", 19.72, -155.08}, {"Lihue", 21.98, -159.37},
          {"Kahului", 20.89, -156.47}}},
        {"ca",
         {{"Vancouver", 49.28, -123.12}, {"Toronto", 43.65, -79.38}, {"Halifax", 44.65, -63.57},
          {"St John's", 47.56, -52.71}, {"Whitehorse", 60.72, -135.06}, {"Yellowknife", 62.45, -114.37},
          {"Iqaluit", 63.75, -68.5}, {"Resolute", 74.7, -94.83}}},
        {"mx",
         {{"Mexico City", 19.43, -99.13}, {"Tijuana", 32.53, -117.02}, {"Cancun", 21.16, -86.85},
          {"Monterrey", 25.69, -100.32}, {"Tapachula", 14.9, -92.26}, {"La Paz", 24.14, -110.31}}},
        {"gb",
         {{"London", 51.5, -0.13}, {"Edinburgh", 55.95, -3.19}, {"Belfast", 54.6, -5.93},
          {"Plymouth", 50.37, -4.14}, {"Kirkwall", 58.98, -2.96}, {"Norwich", 52.63, 1.3},
          {"Dublin", 53.35, -6.26}}},
        {"fr",
         {{"Paris", 48.86, 2.35}, {"Marseille", 43.3, 5.37}, {"Brest", 48.39, -4.49},
          {"Strasbourg", 48.58, 7.75}, {"Lille", 50.63, 3.06}, {"Ajaccio", 41.93, 8.74},
          {"Perpignan", 42.7, 2.9}, {"Biarritz", 43.48, -1.56}}},
        {"de",
         {{"Berlin", 52.52, 13.40}, {"Munich", 48.14, 11.58}, {"Hamburg", 53.55, 9.99}, {"Kiel", 54.32, 10.13},
          {"Aachen", 50.78, 6.08}, {"Dresden", 51.05, 13.74}, {"Freiburg", 47.99, 7.85},
          {"Garmisch", 47.49, 11.1}}},
        {"sc",
         {{"Oslo", 59.91, 10.75}, {"Stockholm", 59.33, 18.07}, {"Copenhagen", 55.68, 12.57},
          {"Helsinki", 60.17, 24.94}, {"Bergen", 60.39, 5.32}, {"Trondheim", 63.43, 10.39},
          {"Tromso", 69.65, 18.96}, {"Malmo", 55.6, 13.0}}},
        {"med",
         {{"Gibraltar", 36.14, -5.35}, {"Marseille", 43.3, 5.37}, {"Trieste", 45.65, 13.77},
          {"Athens", 37.98, 23.73}, {"Beirut", 33.89, 35.5}, {"Alexandria", 31.2, 29.92},
          {"Tunis", 36.8, 10.18}, {"Benghazi", 32.1, 20.07}}},
        {"jp",
         {{"Tokyo", 35.68, 139.69}, {"Osaka", 34.69, 135.5}, {"Sapporo", 43.06, 141.35},
          {"Fukuoka", 33.59, 130.4}, {"Kagoshima", 31.6, 130.56}, {"Wakkanai", 45.42, 141.67},
          {"Kushiro", 42.98, 144.38}}},
        {"cn",
         {{"Beijing", 39.9, 116.4}, {"Shanghai", 31.23, 121.47}, {"Urumqi", 43.83, 87.62},
          {"Kashgar", 39.47, 75.99}, {"Harbin", 45.8, 126.53}, {"Lhasa", 29.65, 91.1},
          {"Hong Kong", 22.3, 114.17}, {"Haikou", 20.04, 110.34}}},
        {"in",
         {{"Delhi", 28.61, 77.21}, {"Mumbai", 19.08, 72.88}, {"Chennai", 13.08, 80.27},
          {"Kolkata", 22.57, 88.36}, {"Thiruvananthapuram", 8.52, 76.94}, {"Srinagar", 34.08, 74.8},
          {"Dibrugarh", 27.47, 94.9}, {"Bhuj", 23.25, 69.67}}},
        {"nz",
         {{"Auckland", -36.85, 174.76}, {"Wellington", -41.29, 174.78}, {"Christchurch", -43.53, 172.64},
          {"Invercargill", -46.41, 168.35}, {"Kaitaia", -35.11, 173.26}, {"Gisborne", -38.66, 178.02}}},
        {"br",
         {{"Brasilia", -15.8, -47.9}, {"Manaus", -3.12, -60.02}, {"Porto Alegre", -30.03, -51.23},
          {"Recife", -8.05, -34.9}, {"Boa Vista", 2.82, -60.67}, {"Rio Branco", -9.97, -67.81}}},
        {"atl",
         {{"Azores", 37.74, -25.67}, {"Bermuda", 32.3, -64.78}, {"Reykjavik", 64.15, -21.94},
          {"Lisbon", 38.72, -9.14}, {"New York", 40.7, -74}, {"St John's", 47.56, -52.71}}},
        {"pac",
         {{"Honolulu", 21.3, -157.86}, {"Tokyo", 35.68, 139.69}, {"Kodiak", 57.79, -152.4},
          {"Seattle", 47.6, -122.3}, {"San Francisco", 37.77, -122.42}, {"Midway", 28.2, -177.37}}},
        {"glob",
         {{"North Pole", 90, 0}, {"South Pole", -90, 0}, {"Date line", 0, 180}, {"Greenwich", 51.48, 0}}},
        {"glob2",
         {{"North Pole", 90, 0}, {"South Pole", -90, 0}, {"Date line", 0, 180}, {"Greenwich", 51.48, 0}}},
        {"glob5",
         {{"North Pole", 90, 0}, {"South Pole", -90, 0}, {"Date line", 0, 180}, {"Greenwich", 51.48, 0}}},
    };
    return table;
}

TEST(SharedRegionFile, EveryRegionShowsItsPlaces)
{
    RES_clear();
    RES_put("file_path", QAZ_SHARE_SRC "/");
    for (const RegionLandmarks& entry : region_landmarks()) {
        Domain domain;
        ASSERT_EQ(DOM_decode(entry.region, &domain), 2) << entry.region;
        ASSERT_EQ(MAP_domain(&domain), 0) << entry.region;
        for (const Landmark& place : entry.places) {
            float x = 0, y = 0;
            ASSERT_EQ(MAP_tran(place.lat, place.lon, &x, &y), 1) << entry.region << ": " << place.name;
            EXPECT_EQ(MAP_in_domain(x, y), 1) << entry.region << " does not show " << place.name;
        }
    }
    RES_clear();
}

TEST(SharedRegionFile, EveryRegionIsASensibleMap)
{
    RES_clear();
    RES_put("file_path", QAZ_SHARE_SRC "/");
    char domain_text[DOM_LINE_SIZE];
    int checked = 0;
    for (const RegionLandmarks& entry : region_landmarks()) {
        ASSERT_EQ(DOM_search_file("qaz.reg", entry.region, domain_text, sizeof domain_text), 1) << entry.region;
        ++checked;
    }
    std::ifstream file(QAZ_SHARE_SRC "/qaz.reg");
    std::string line;
    int regions = 0;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string abbr;
        if (line.empty() || line[0] == '#' || !(fields >> abbr) || abbr == "var") continue;
        ++regions;
        Domain domain;
        ASSERT_EQ(DOM_decode(abbr.c_str(), &domain), 2) << abbr;
        ASSERT_EQ(MAP_domain(&domain), 0) << abbr;
        // A grid of at least 5 x 5 points, spaced alike both ways, 100 km to a whole globe across.
        EXPECT_GE(domain.nx, 5) << abbr;
        EXPECT_GE(domain.ny, 5) << abbr;
        EXPECT_FLOAT_EQ(domain.dx, domain.dy) << abbr;
        MAP_limits limits;
        MAP_get_limits(&limits);
        double width = limits.x_max - limits.x_min, height = limits.y_max - limits.y_min;
        EXPECT_GT(width, 1.0) << abbr;
        EXPECT_GT(height, 1.0) << abbr;
        EXPECT_LT(width / height, 3.0) << abbr;
        EXPECT_GT(width / height, 1.0 / 3.0) << abbr;
        // Every corner and edge midpoint is a real place on the earth.
        for (float gx : {0.0f, (domain.nx - 1) / 2.0f, domain.nx - 1.0f})
            for (float gy : {0.0f, (domain.ny - 1) / 2.0f, domain.ny - 1.0f}) {
                float x = 0, y = 0, lat = 0, lon = 0;
                ASSERT_EQ(MAP_grid_tran(gx, gy, &x, &y), 0) << abbr;
                ASSERT_EQ(MAP_untran(x, y, &lat, &lon), 1) << abbr << " at grid " << gx << "," << gy;
                EXPECT_TRUE(std::isfinite(lat) && std::isfinite(lon)) << abbr;
                EXPECT_LE(std::fabs(lat), 90.0f) << abbr;
                EXPECT_LE(std::fabs(lon), 180.0f) << abbr;
            }
    }
    // Every region of the file has its places listed above.
    EXPECT_EQ(checked, regions);
    RES_clear();
}

} // namespace

namespace {

TEST(RegionResources, ConversionDecodesIntoADomain)
{
    RES_clear();
    RES_put("file_path", QAZ_TEST_DATA "/");
    Domain domain;
    DOM_init(&domain);
    EXPECT_EQ(RES_conv_data("lc:25:-95,38,-98,0.4,0.4", &domain, CV_domain), 1);
    EXPECT_EQ(domain.proj, 4);
    EXPECT_FLOAT_EQ(domain.plat, 25.0f);
    EXPECT_EQ(RES_conv_data("co", &domain, CV_region), 1);
    EXPECT_FLOAT_EQ(domain.clon, -105.5f);
    EXPECT_EQ(RES_conv_data("miss", &domain, CV_region), 1);
    EXPECT_EQ(domain.proj, -9999);
    EXPECT_EQ(RES_conv_data("not,a,domain", &domain, CV_domain), 0);
    EXPECT_EQ(RES_conv_data("40,-100", nullptr, CV_region), 1);
    RES_clear();
}

} // namespace
