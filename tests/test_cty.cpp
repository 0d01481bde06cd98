// Station file reader and station database.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cty_tool.hpp"
#include "files.hpp"
#include "region.hpp"
#include "resrc.hpp"

namespace {

const std::string data_dir = QAZ_TEST_DATA "/";
const char* const fixture = "cty_small.cty";

// Latitude-longitude domains (plane units are degrees). The central one spans x -23..23
// and y 27..53 once widened by three spacings: Colorado and Kansas, not the buoy off the coast.
const Domain central_us{2, -9999, -9999, {-9999, -9999, -9999, -9999, -9999}, 40, -100, 1, 1, 41, 21, 0};
const Domain globe{2, -9999, -9999, {-9999, -9999, -9999, -9999, -9999}, 0, 0, 1, 1, 361, 181, 0};

class CtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RES_clear();
        RES_put("file_path", data_dir.c_str());
        CTY_set_id_type(0);
    }
    void TearDown() override
    {
        CTY_clear();
        CTY_data_size(0);
        CTY_enter_func(nullptr);
        CTY_set_id_type(0);
        RES_clear();
    }

    std::vector<std::string> loaded_ids()
    {
        std::vector<std::string> ids;
        TAB_table* table = CTY_get_table();
        for (void* data = TAB_first(table); data; data = TAB_next(table))
            ids.push_back(static_cast<stat_FULL_data*>(data)->id);
        return ids;
    }
};

using Ids = std::vector<std::string>;

// Station a lookup found (its identifier), or "" when it found none.
std::string found_id(int found, const char* id)
{
    return found ? id : "";
}

TEST_F(CtyTest, ReaderDecodesEveryField)
{
    const int fd = CTY_open((data_dir + fixture).c_str(), 0, 7);
    ASSERT_GT(fd, 0);
    CTY_info info{};
    ASSERT_EQ(CTY_getinfo(fd, &info), 0);
    EXPECT_EQ(info.dtype, 7);
    std::vector<CTY_data> records;
    std::vector<int> fields;
    CTY_data city;
    for (int read; (read = CTY_read(fd, &city)) >= 0;) {
        records.push_back(city);
        fields.push_back(read);
    }
    // The comment line is no record; a damaged priority (KBAD) stops its record at 4 fields
    // and a short line (KSHO) reads 5, without disturbing the records after them.
    // A latitude beyond the pole (XBAD) loses its position.
    EXPECT_EQ(fields, (std::vector<int>{10, 10, 10, 10, 10, 10, 10, 4, 10, 5, 10, 10, 10, 5}));
    ASSERT_EQ(records.size(), 14u);
    EXPECT_STREQ(records[0].name, "Denver");
    EXPECT_STREQ(records[0].state, "CO");
    EXPECT_STREQ(records[0].region, "US");
    EXPECT_FLOAT_EQ(records[0].lat, 39.85f);
    EXPECT_FLOAT_EQ(records[0].lon, -104.66f);
    EXPECT_EQ(records[0].num, 1);
    const struct {
        int index;
        const char* id;
        int prior;
        char mos, ua;
        float el;  // above 9000 m is missing; 9000 itself is kept
        int wmo;
    } table[] = {
        {0, "KDEN", 3, '*', '*', 1640, 72565}, {1, "KBDU", 5, ' ', ' ', 1612, 99999},
        {2, "ENGM", 2, ' ', ' ', 208, 1384},    {3, "4-", 6, ' ', ' ', -9999, 41001},
        {4, "KXXX", 4, ' ', ' ', -9999, 72451}, {5, "KLIM", 4, ' ', ' ', 9000, 72452},
        {7, "KBAD", 9, ' ', ' ', -9999, -9999}, {9, "KSHO", 3, ' ', ' ', -9999, -9999},
    };
    for (const auto& row : table) {
        const CTY_data& got = records[row.index];
        EXPECT_STREQ(got.id, row.id);
        EXPECT_EQ(got.prior, row.prior) << row.id;
        EXPECT_EQ(got.mos, row.mos) << row.id;
        EXPECT_EQ(got.ua, row.ua) << row.id;
        EXPECT_FLOAT_EQ(got.el, row.el) << row.id;
        EXPECT_EQ(got.wmo, row.wmo) << row.id;
    }
    EXPECT_FLOAT_EQ(records[7].lat, -9999.0f);

    ASSERT_EQ(CTY_rewind(fd), 0);
    ASSERT_EQ(CTY_read(fd, &city), 10);
    EXPECT_STREQ(city.id, "KDEN");
    EXPECT_EQ(CTY_close(fd), 0);
    EXPECT_EQ(CTY_read(fd, &city), -1);
    EXPECT_EQ(CTY_close(fd), -1);
    EXPECT_EQ(CTY_rewind(fd), -1);
}

TEST_F(CtyTest, ReaderRefusesBadModesAndLongFields)
{
    EXPECT_EQ(CTY_open((data_dir + fixture).c_str(), 2, 0), -1);
    EXPECT_EQ(CTY_open(nullptr, 0, 0), -1);
    EXPECT_EQ(CTY_open((data_dir + "no_such.cty").c_str(), 0, 0), -1);
    CTY_data city;
    EXPECT_EQ(CTY_read(12345, &city), -1);
    // Over-long fields are cut to their arrays, never written past them.
    char path[] = "/tmp/cty_long_XXXXXX";
    FILE* out = fdopen(mkstemp(path), "w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "%s STATE REGION %s 1 10 20 30 40 50\n", std::string(60, 'N').c_str(), std::string(30, 'I').c_str());
    std::fclose(out);
    const int fd = CTY_open(path, 0, 0);
    ASSERT_GT(fd, 0);
    EXPECT_LT(CTY_read(fd, &city), 10);
    EXPECT_EQ(std::strlen(city.name), 20u);
    CTY_close(fd);
    std::remove(path);
}

TEST_F(CtyTest, LongNamesAreCutWithoutShiftingTheRecord)
{
    char path[] = "/tmp/cty_names_XXXXXX";
    FILE* out = fdopen(mkstemp(path), "w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "Minneapolis-St_Paul_International MN US KMSP *2 44.88 -93.22 255 72658 1\r\n");
    std::fprintf(out, "Somewhere XX US TOOLONGID1 2 44.00 -93.00 255 72000 2\n");
    std::fprintf(out, "Elsewhere\tMN\tUS\tKXYZ\t3\t45.00\t-94.00\tnan\t72001\t3\n");
    std::fprintf(out, "Halfway MN US KHLF 3 45.5 -94.5 300 7200x 4\n");
    std::fclose(out);
    const int fd = CTY_open(path, 0, 0);
    ASSERT_GT(fd, 0);
    CTY_data city;
    ASSERT_EQ(CTY_read(fd, &city), 10);  // a whole record, not a shifted one
    EXPECT_STREQ(city.name, "Minneapolis-St_Paul_");
    EXPECT_STREQ(city.state, "MN");
    EXPECT_STREQ(city.id, "KMSP");
    EXPECT_EQ(city.prior, 2);
    EXPECT_EQ(city.mos, '*');
    EXPECT_FLOAT_EQ(city.lat, 44.88f);
    EXPECT_FLOAT_EQ(city.el, 255.0f);
    EXPECT_EQ(city.wmo, 72658);
    EXPECT_EQ(city.num, 1);
    // An identifier cut short would be another station's key: the record stops there.
    EXPECT_EQ(CTY_read(fd, &city), 3);
    EXPECT_STREQ(city.id, "");
    EXPECT_FLOAT_EQ(city.lat, -9999.0f);
    ASSERT_EQ(CTY_read(fd, &city), 10);  // tabs separate too; an elevation that is no number is missing
    EXPECT_STREQ(city.id, "KXYZ");
    EXPECT_FLOAT_EQ(city.el, -9999.0f);
    EXPECT_EQ(CTY_read(fd, &city), 8);   // a damaged number ends the record
    EXPECT_EQ(city.wmo, -9999);
    EXPECT_EQ(CTY_read(fd, &city), -1);
    CTY_close(fd);
    std::remove(path);
}

TEST_F(CtyTest, GetFindsByIdentifierNameOrNumber)
{
    CTY_data city;
    const struct {
        const char* key;
        const char* id;
    } table[] = {
        {"kden", "KDEN"}, {"oslo", "ENGM"}, {"01384", "ENGM"},  // the file stores 1384
        {"72565", "KDEN"}, {"1384", ""}, {"b41001", ""}, {"NOPE", ""},
    };
    for (const auto& row : table) EXPECT_EQ(found_id(CTY_get(fixture, row.key, &city), city.id), row.id) << row.key;
    float lat = 0, lon = 0;
    EXPECT_EQ(CTY_get_loc(fixture, "SEQM", &lat, &lon), 1);
    EXPECT_FLOAT_EQ(lat, -0.13f);
    EXPECT_FLOAT_EQ(lon, -78.36f);
    EXPECT_EQ(CTY_get_loc("no_such.cty", "KDEN", &lat, &lon), 0);
}

TEST_F(CtyTest, StationFileChoiceAndRecordEstimate)
{
    int estimate = -1;
    int fd = CTY_open_file(fixture, &estimate);
    ASSERT_GT(fd, 0);
    CTY_close(fd);
    EXPECT_EQ(estimate, static_cast<int>(FILE_size((data_dir + fixture).c_str()) / 59));
    RES_put("city_file", fixture);
    fd = CTY_open_file(nullptr, &estimate);
    EXPECT_GT(fd, 0);
    CTY_close(fd);
    RES_put("city_file", "NONE");
    EXPECT_EQ(CTY_open_file(nullptr, &estimate), -1);
    EXPECT_EQ(CTY_store(nullptr, CTY_STORE_FULL, &central_us, 10), 0);
    EXPECT_EQ(CTY_search("KDEN", nullptr), 0);
    EXPECT_EQ(CTY_store(fixture, 4, &central_us, 10), 0);
}

TEST_F(CtyTest, StoreFiltersByDomainPriorityAndSelection)
{
    const Ids all{"KDEN", "KBDU", "KXXX", "KLIM", "K-"};
    const struct {
        int prior;
        const char* stat_prior;
        const char* identifier;
        Ids ids;
    } table[] = {
        {10, nullptr, nullptr, all},    {4, nullptr, nullptr, {"KDEN", "KXXX", "KLIM"}},
        {-9999, nullptr, nullptr, all},  // unset stat_prior: every priority up to 10
        {-9999, "3", nullptr, {"KDEN"}}, {10, nullptr, "all", all},
        {10, nullptr, "kden,KBDU", {"KDEN", "KBDU"}}, {10, nullptr, "KS", {"KXXX", "KLIM"}},  // state code
        {10, nullptr, "KB*", {"KBDU"}},  {10, nullptr, "72469", {"K-"}}, {10, nullptr, "ENGM", {}},
    };
    for (const auto& row : table) {
        RES_clear();
        RES_put("file_path", data_dir.c_str());
        if (row.stat_prior) RES_put("stat_prior", row.stat_prior);
        if (row.identifier) RES_put("identifier", row.identifier);
        ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, row.prior), 0);
        EXPECT_EQ(loaded_ids(), row.ids) << row.prior << " " << (row.identifier ? row.identifier : "");
    }
    const struct {
        const char* setting;
        int prior;
    } priors[] = {{"3", 3}, {"+2", 2}, {"abc", 10}};
    for (const auto& row : priors) {
        RES_put("stat_prior", row.setting);
        EXPECT_EQ(CTY_get_prior(), row.prior) << row.setting;
    }
    char pattern[] = "KD?N";
    char* list[] = {pattern};
    EXPECT_EQ(CTY_ids_cmp(1, list, "kden"), 0);
    EXPECT_EQ(CTY_ids_cmp(1, list, "KDENX"), -1);
    EXPECT_EQ(CTY_ids_cmp(0, nullptr, "anything"), 0);
}

TEST_F(CtyTest, SearchByIdentifierNumberAndDerivedIdentifier)
{
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &globe, 10), 0);
    CTY_data city;
    const struct {
        const char* key;
        const char* id;
    } table[] = {
        {"KDEN", "KDEN"}, {"72565", "KDEN"}, {"K2565", "KDEN"}, {"EN384", "ENGM"},
        {"b41001", "4-"}, {"41001", ""},     {"kden", ""},      {"XXXX", ""},
    };
    for (const auto& row : table) EXPECT_EQ(found_id(CTY_search(row.key, &city), city.id), row.id) << row.key;
}

TEST_F(CtyTest, LocationIdentifiersFollowTheIdType)
{
    const struct {
        int id_type;
        const char* key;
        const char* location_id;
    } table[] = {
        {0, "72469", "72469"}, {0, "KDEN", "KDEN"},   {0, "b41001", "b41001"}, {1, "KBDU", "KBDU"},
        {1, "72565", "72565"}, {2, "K2469", "K2469"}, {2, "b41001", "b41001"}, {2, "KDEN", "KDEN"},
    };
    for (const auto& row : table) {
        CTY_set_id_type(row.id_type);
        ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &globe, 10), 0);
        CTY_locate where{};
        EXPECT_EQ(found_id(CTY_search(row.key, &where), where.id), row.location_id) << row.id_type << row.key;
    }
    CTY_set_id_type(0);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &central_us, 10), 0);
    CTY_locate denver{};
    ASSERT_EQ(CTY_search("KDEN", &denver), 1);
    EXPECT_EQ(denver.wmo, 72565);
    EXPECT_EQ(denver.pr, 3);
    EXPECT_FLOAT_EQ(denver.el, 1640.0f);
    EXPECT_NEAR(denver.x, -4.66f, 1e-4);  // degrees east of the centre
    EXPECT_NEAR(denver.y, 39.85f, 1e-4);
}

struct Row {
    float lat, lon;
    const char* id;
};

TEST_F(CtyTest, NearestLocationSearchesGrowingSquares)
{
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY_LOC, &globe, 10), 0);
    const struct {
        float lat, lon;
        const char* id;
    } table[] = {
        {39.85f, -104.66f, "KDEN"}, {39.95f, -104.66f, "KDEN"},  // a tenth away: first ring
        {39.85f, -104.76f, "KDEN"}, {41.00f, -104.66f, "KBDU"},
        {0.02f, 10.00f, "XEQU"},     // across the equator from a station just south of it
        {20.30f, 20.30f, "XCOR"},    // on the south-west corner of a ring
        {-17.0f, -179.95f, "NFXX"},  // across the date line
        {60.2f, 16.0f, "ENGM"},      {60.2f, 16.2f, ""},  // 5.1 degrees east of Oslo: beyond the last ring
        {-60.0f, -30.0f, ""},        {1e30f, 0.0f, ""},
    };
    for (const auto& row : table) {
        CTY_locate where{};
        EXPECT_EQ(found_id(CTY_search_loc(row.lat, row.lon, &where), where.id), row.id) << row.lat << " " << row.lon;
    }
    // Within one ring the straight neighbour wins over a diagonal one entered before it;
    // a station alone on the south-west diagonal is still found.
    ASSERT_GT(CTY_store("cty_ring.cty", CTY_STORE_XY_LOC, &globe, 10), 0);
    for (const auto& row : {Row{30.0f, 30.0f, "XNTH"}, Row{-9.8f, -9.8f, "XSWD"}, Row{-9.5f, -9.5f, "XSWD"}}) {
        CTY_locate where{};
        EXPECT_EQ(found_id(CTY_search_loc(row.lat, row.lon, &where), where.id), row.id) << row.lat << " " << row.lon;
    }
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &globe, 10), 0);
    CTY_locate where{};
    EXPECT_EQ(CTY_search_loc(39.85f, -104.66f, &where), 0);  // no location key in this layout
}

struct Block {
    char used;
    int prior;
};

void fill_block(const CTY_data* station, void* block)
{
    *static_cast<Block*>(block) = Block{'y', station->prior};
}

TEST_F(CtyTest, CallerDataFollowsEveryStation)
{
    CTY_data_size(sizeof(Block));
    CTY_enter_func(fill_block);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 10), 0);
    auto* denver = static_cast<Block*>(CTY_get_data("KDEN"));
    ASSERT_NE(denver, nullptr);
    EXPECT_EQ(denver->used, 'y');
    EXPECT_EQ(denver->prior, 3);
    EXPECT_EQ(CTY_get_data("72565"), denver);
    EXPECT_EQ(CTY_get_data("ENGM"), nullptr);
    std::vector<int> priors;
    for (void* block = CTY_next_data(0); block; block = CTY_next_data(1)) priors.push_back(static_cast<Block*>(block)->prior);
    EXPECT_EQ(priors, (std::vector<int>{3, 5, 4, 4, 7}));
    CTY_clear_data(1);
    EXPECT_EQ(denver->used, '\0');
    EXPECT_EQ(denver->prior, 3);
    CTY_clear_data(0);
    EXPECT_EQ(CTY_get_data("KDEN"), nullptr);
    EXPECT_EQ(CTY_next_data(0), nullptr);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY_LOC, &central_us, 10), 0);
    ASSERT_NE(CTY_get_data("KBDU"), nullptr);
    EXPECT_EQ(static_cast<Block*>(CTY_get_data("KBDU"))->prior, 5);
}

TEST_F(CtyTest, SimpleEntriesOnlyInFullRecordTables)
{
    ASSERT_EQ(CTY_make_entry_simple("SHIP1", "99001"), 0);
    CTY_data city;
    ASSERT_EQ(CTY_search("99001", &city), 1);
    EXPECT_STREQ(city.id, "SHIP1");
    EXPECT_EQ(city.wmo, 99001);
    EXPECT_FLOAT_EQ(city.lat, -9999.0f);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 10), 0);
    ASSERT_EQ(CTY_make_entry_simple("XTRA", "12345"), 0);
    EXPECT_EQ(CTY_search("XTRA", &city), 1);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &central_us, 10), 0);
    EXPECT_EQ(CTY_make_entry_simple("XTRA", "12345"), -1);
}

TEST_F(CtyTest, SharedStationFileLoads)
{
    RES_put("file_path", QAZ_SHARE_SRC "/");
    CTY_data city;
    ASSERT_EQ(CTY_get(nullptr, "KDEN", &city), 1);
    EXPECT_NEAR(city.lat, 39.86, 0.1);
    EXPECT_NEAR(city.lon, -104.67, 0.1);
    Domain europe;
    ASSERT_EQ(DOM_decode("eu", &europe), 2);
    ASSERT_GT(CTY_store(nullptr, CTY_STORE_XY_LOC, &europe, 10), 0);
    EXPECT_GT(CTY_get_table()->num_entry, 300);
    CTY_locate where{};
    EXPECT_EQ(CTY_search("EDDF", &where), 1);
}

} // namespace
