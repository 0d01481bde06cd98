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

Domain latlon_domain(float clat, float clon, int nx, int ny)
{
    Domain domain;
    DOM_init(&domain);
    domain.proj = 2;
    domain.clat = clat;
    domain.clon = clon;
    domain.nx = nx;
    domain.ny = ny;
    domain.dx = domain.dy = 1.0f;
    return domain;
}

// Colorado-Kansas window: x -23..23, y 27..53 once widened by three spacings.
const Domain central_us = latlon_domain(40.0f, -100.0f, 41, 21);
const Domain globe = latlon_domain(0.0f, 0.0f, 361, 181);

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

TEST_F(CtyTest, ReaderDecodesPriorityMarksElevationAndNumbers)
{
    const int fd = CTY_open((data_dir + fixture).c_str(), 0, 7);
    ASSERT_GT(fd, 0);
    CTY_info info{};
    ASSERT_EQ(CTY_getinfo(fd, &info), 0);
    EXPECT_EQ(info.dtype, 7);

    std::vector<CTY_data> records;
    std::vector<int> fields;
    CTY_data city;
    int read;
    while ((read = CTY_read(fd, &city)) >= 0) {
        records.push_back(city);
        fields.push_back(read);
    }
    ASSERT_EQ(records.size(), 13u);  // the comment line is no record
    EXPECT_EQ(fields, (std::vector<int>{10, 10, 10, 10, 10, 10, 10, 4, 10, 5, 10, 10, 10}));

    const CTY_data& denver = records[0];
    EXPECT_STREQ(denver.name, "Denver");
    EXPECT_STREQ(denver.state, "CO");
    EXPECT_STREQ(denver.region, "US");
    EXPECT_STREQ(denver.id, "KDEN");
    EXPECT_EQ(denver.prior, 3);
    EXPECT_EQ(denver.mos, '*');
    EXPECT_EQ(denver.ua, '*');
    EXPECT_FLOAT_EQ(denver.lat, 39.85f);
    EXPECT_FLOAT_EQ(denver.lon, -104.66f);
    EXPECT_FLOAT_EQ(denver.el, 1640.0f);
    EXPECT_EQ(denver.wmo, 72565);
    EXPECT_EQ(denver.num, 1);

    EXPECT_EQ(records[1].prior, 5);
    EXPECT_EQ(records[1].mos, ' ');
    EXPECT_EQ(records[1].ua, ' ');
    EXPECT_EQ(records[2].wmo, 1384);

    // Elevations above 9000 m are missing; 9000 itself is kept.
    EXPECT_FLOAT_EQ(records[3].el, -9999.0f);  // 9999
    EXPECT_FLOAT_EQ(records[4].el, -9999.0f);  // 9500
    EXPECT_FLOAT_EQ(records[5].el, 9000.0f);

    // A damaged priority stops the record before its position.
    EXPECT_FLOAT_EQ(records[7].lat, -9999.0f);
    EXPECT_EQ(records[7].wmo, -9999);
    // A short line keeps the missing markers for what it lacks.
    EXPECT_FLOAT_EQ(records[9].lat, -9999.0f);
    EXPECT_FLOAT_EQ(records[9].el, -9999.0f);

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
    const int handle = mkstemp(path);
    ASSERT_GE(handle, 0);
    FILE* out = fdopen(handle, "w");
    std::fprintf(out, "%s %s %s %s 1 10 20 30 40 50\n", std::string(60, 'N').c_str(), "STATE", "REGION",
                 std::string(30, 'I').c_str());
    std::fclose(out);
    const int fd = CTY_open(path, 0, 0);
    ASSERT_GT(fd, 0);
    EXPECT_LT(CTY_read(fd, &city), 10);
    EXPECT_EQ(std::strlen(city.name), 20u);
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
        {"kden", "KDEN"}, {"KDEN", "KDEN"}, {"oslo", "ENGM"}, {"01384", "ENGM"}, {"72565", "KDEN"}, {"b41001", nullptr},
        {"1384", nullptr}, {"NOPE", nullptr},
    };
    for (const auto& row : table) {
        const int found = CTY_get(fixture, row.key, &city);
        if (row.id) {
            EXPECT_EQ(found, 1) << row.key;
            EXPECT_STREQ(city.id, row.id) << row.key;
        } else {
            EXPECT_EQ(found, 0) << row.key;
        }
    }
    float lat = 0.0f, lon = 0.0f;
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
    const long long bytes = FILE_size((data_dir + fixture).c_str());
    EXPECT_EQ(estimate, static_cast<int>(bytes / 59));

    RES_put("city_file", fixture);
    fd = CTY_open_file(nullptr, &estimate);
    EXPECT_GT(fd, 0);
    CTY_close(fd);
    RES_put("city_file", "NONE");
    EXPECT_EQ(CTY_open_file(nullptr, &estimate), -1);
    EXPECT_EQ(CTY_store(nullptr, CTY_STORE_FULL, &central_us, 10), 0);
    EXPECT_EQ(CTY_search("KDEN", nullptr), 0);
}

TEST_F(CtyTest, StoreKeepsTheDomainAndPriority)
{
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 10), 0);
    EXPECT_EQ(loaded_ids(), (Ids{"KDEN", "KBDU", "KXXX", "KLIM", "K-"}));
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 4), 0);
    EXPECT_EQ(loaded_ids(), (Ids{"KDEN", "KXXX", "KLIM"}));
    // Unset stat_prior: everything up to 10.
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, -9999), 0);
    EXPECT_EQ(loaded_ids().size(), 5u);
    RES_put("stat_prior", "3");
    EXPECT_EQ(CTY_get_prior(), 3);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, -9999), 0);
    EXPECT_EQ(loaded_ids(), (Ids{"KDEN"}));
    RES_put("stat_prior", "+2");  // a region adjustment, no priority of its own
    EXPECT_EQ(CTY_get_prior(), 2);
    RES_put("stat_prior", "abc");
    EXPECT_EQ(CTY_get_prior(), 10);
    EXPECT_EQ(CTY_store(fixture, 4, &central_us, 10), 0);
}

TEST_F(CtyTest, StoreFollowsTheIdentifierSelection)
{
    const struct {
        const char* list;
        Ids ids;
    } table[] = {
        {"all", {"KDEN", "KBDU", "KXXX", "KLIM", "K-"}},
        {"kden,KBDU", {"KDEN", "KBDU"}},
        {"KS", {"KXXX", "KLIM"}},
        {"KB*", {"KBDU"}},
        {"72469", {"K-"}},
        {"ENGM", {}},
    };
    for (const auto& row : table) {
        RES_put("identifier", row.list);
        ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 10), 0);
        EXPECT_EQ(loaded_ids(), row.ids) << row.list;
    }
    char one[] = "KD?N";
    char* list[] = {one};
    EXPECT_EQ(CTY_ids_cmp(1, list, "kden"), 0);
    EXPECT_EQ(CTY_ids_cmp(1, list, "KDENX"), -1);
    EXPECT_EQ(CTY_ids_cmp(0, nullptr, "anything"), 0);
    EXPECT_EQ(CTY_id_cmp("K*", "KDEN"), 1);
    EXPECT_EQ(CTY_id_cmp("K*", "ENGM"), 0);
}

TEST_F(CtyTest, SearchByIdentifierNumberAndDerivedIdentifier)
{
    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &globe, 10), 0);
    CTY_data city;
    const struct {
        const char* key;
        const char* id;
    } table[] = {
        {"KDEN", "KDEN"}, {"72565", "KDEN"}, {"K2565", "KDEN"}, {"EN384", "ENGM"}, {"b41001", "4-"},
        {"41001", nullptr}, {"kden", nullptr}, {"XXXX", nullptr},
    };
    for (const auto& row : table) {
        const int found = CTY_search(row.key, &city);
        if (row.id) {
            EXPECT_EQ(found, 1) << row.key;
            EXPECT_STREQ(city.id, row.id) << row.key;
        } else {
            EXPECT_EQ(found, 0) << row.key;
        }
    }
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
        ASSERT_EQ(CTY_search(row.key, &where), 1) << row.id_type << " " << row.key;
        EXPECT_STREQ(where.id, row.location_id) << row.id_type << " " << row.key;
    }
    CTY_set_id_type(0);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &central_us, 10), 0);
    CTY_locate denver{};
    ASSERT_EQ(CTY_search("KDEN", &denver), 1);
    EXPECT_EQ(denver.wmo, 72565);
    EXPECT_EQ(denver.pr, 3);
    EXPECT_FLOAT_EQ(denver.el, 1640.0f);
    EXPECT_NEAR(denver.x, -4.66f, 1e-4);  // latitude-longitude plane: degrees from the centre
    EXPECT_NEAR(denver.y, 39.85f, 1e-4);
}

TEST_F(CtyTest, NearestLocationSearchesGrowingSquares)
{
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY_LOC, &globe, 10), 0);
    const struct {
        float lat, lon;
        const char* id;  // null: nothing within reach
    } table[] = {
        {39.85f, -104.66f, "KDEN"},  // on the spot
        {39.95f, -104.66f, "KDEN"},  // a tenth north: first ring
        {39.85f, -104.76f, "KDEN"},
        {41.00f, -104.66f, "KBDU"},  // Boulder is a little closer to the north
        {0.02f, 10.00f, "XEQU"},     // across the equator from a station just south of it
        {20.30f, 20.30f, "XCOR"},    // exactly on the south-west corner of a ring
        {-17.0f, -179.95f, "NFXX"},  // across the date line
        {-60.0f, -30.0f, nullptr},
        {60.2f, 16.2f, nullptr},     // 5.1 degrees east of Oslo: beyond the last ring
    };
    for (const auto& row : table) {
        CTY_locate where{};
        const int found = CTY_search_loc(row.lat, row.lon, &where);
        if (row.id) {
            EXPECT_EQ(found, 1) << row.lat << " " << row.lon;
            EXPECT_STREQ(where.id, row.id) << row.lat << " " << row.lon;
        } else {
            EXPECT_EQ(found, 0) << row.lat << " " << row.lon;
        }
    }
    CTY_locate where{};
    EXPECT_EQ(CTY_search_loc(60.2f, 16.0f, &where), 1);
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY, &globe, 10), 0);
    EXPECT_EQ(CTY_search_loc(39.85f, -104.66f, &where), 0);  // no location key in this layout
}

struct Block {
    char used;
    int prior;
};

void fill_block(const CTY_data* station, void* block)
{
    auto* data = static_cast<Block*>(block);
    data->used = 'y';
    data->prior = station->prior;
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
    for (void* block = CTY_next_data(0); block; block = CTY_next_data(1))
        priors.push_back(static_cast<Block*>(block)->prior);
    EXPECT_EQ(priors, (std::vector<int>{3, 5, 4, 4, 7}));

    CTY_clear_data(1);
    EXPECT_EQ(static_cast<Block*>(CTY_get_data("KDEN"))->used, '\0');
    EXPECT_EQ(static_cast<Block*>(CTY_get_data("KDEN"))->prior, 3);
    CTY_clear_data(0);
    EXPECT_EQ(CTY_get_data("KDEN"), nullptr);
    EXPECT_EQ(CTY_next_data(0), nullptr);

    // Location layouts carry caller data the same way.
    ASSERT_GT(CTY_store(fixture, CTY_STORE_XY_LOC, &central_us, 10), 0);
    ASSERT_NE(CTY_get_data("KBDU"), nullptr);
    EXPECT_EQ(static_cast<Block*>(CTY_get_data("KBDU"))->prior, 5);
}

TEST_F(CtyTest, SimpleEntriesOnlyInFullRecordTables)
{
    CTY_clear();
    ASSERT_EQ(CTY_make_entry_simple("SHIP1", "99001"), 0);
    CTY_data city;
    ASSERT_EQ(CTY_search("SHIP1", &city), 1);
    EXPECT_EQ(city.wmo, 99001);
    EXPECT_FLOAT_EQ(city.lat, -9999.0f);
    ASSERT_EQ(CTY_search("99001", &city), 1);
    EXPECT_STREQ(city.id, "SHIP1");

    ASSERT_GT(CTY_store(fixture, CTY_STORE_FULL, &central_us, 10), 0);
    ASSERT_EQ(CTY_make_entry_simple("XTRA", "12345"), 0);
    EXPECT_EQ(CTY_search("12345", &city), 1);
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
    ASSERT_EQ(DOM_decode("ll,50,10,61,41,1,1", &europe), 1);
    ASSERT_GT(CTY_store(nullptr, CTY_STORE_XY_LOC, &europe, 10), 0);
    EXPECT_GT(CTY_get_table()->num_entry, 300);
    CTY_locate where{};
    EXPECT_EQ(CTY_search("EDDF", &where), 1);
}

} // namespace
