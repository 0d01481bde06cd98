// netCDF access layer: records written field by field and checked with ncdump, type-safe
// reads, and the "no data" results without a file or variable.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cdf.hpp"
#include "scratch_dir.hpp"

namespace {

const std::filesystem::path& dir() { return scratch_dir("test_cdf"); }

std::string ncdump(const std::string& args)
{
    std::string out;
    if (FILE* pipe = popen(("ncdump " + args + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(Cdf, NoFileOrVariableGivesTheNoDataResults)
{
    CDF_set_fd(-1);
    EXPECT_EQ(CDF_put_float(3, 1.0f), 0);
    EXPECT_EQ(CDF_put_long(3, 1), 0);
    EXPECT_EQ(CDF_put_short(3, 1), 0);
    EXPECT_EQ(CDF_put_byte(3, 1), 0);
    EXPECT_EQ(CDF_put_char(3, 'a'), 0);
    EXPECT_EQ(CDF_put_str(3, "abc"), 0);
    float values[2] = {1, 2};
    EXPECT_EQ(CDF_put_float_array(3, values), 0);
    EXPECT_EQ(CDF_get_float(3), -9999.0f);
    EXPECT_EQ(CDF_get_double(3), -9999.0);
    EXPECT_EQ(CDF_get_long(3), -9999);
    EXPECT_EQ(CDF_get_byte(3), -1);
    EXPECT_EQ(CDF_get_char(3), ' ');
    char text[8] = "x";
    EXPECT_EQ(CDF_get_str(3, 4, text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(CDF_get_float_array(3, values), -1);
    EXPECT_EQ(CDF_get_var("t"), -1);
    EXPECT_EQ(CDF_get_dim_size(-1), -1);
    // A missing file is a failure result, not the end of the process (the library's default).
    EXPECT_EQ(CDF_open((dir() / "absent.nc").c_str(), 0), -1);
    EXPECT_EQ(CDF_get_float(0), -9999.0f);
}

// Three stations per record: temperature, id, flag, kind and name.
std::string write_stations()
{
    const std::string path = (dir() / "stations.nc").string();
    CDF_print_errors(1);
    const int fd = CDF_open(path.c_str(), 1);
    EXPECT_GE(fd, 0);
    const int rec = CDF_def_dim("recNum", 0);
    const int station = CDF_def_dim("station", 3);
    const int name_len = CDF_def_dim("name_len", 6);
    CDF_set_shape(2, rec, station);
    const int temp = CDF_def_float_var("temp");
    const int id = CDF_def_long_var("id");
    const int flag = CDF_def_short_var("flag");
    const int kind = CDF_def_byte_var("kind");
    CDF_set_shape(3, rec, station, name_len);
    const int name = CDF_def_char_var("name");
    EXPECT_GE(CDF_def_var("elev", CDF_DOUBLE, 2, rec, station), 0);
    EXPECT_EQ(CDF_put_base_att(temp, "Temperature", "celsius"), 0);
    EXPECT_EQ(CDF_put_base_att(id, "Station id", nullptr), 0);
    EXPECT_EQ(CDF_put_float_range_att(temp, -90.0f, 60.0f), 0);
    EXPECT_EQ(CDF_put_long_range_att(id, 0, 99999), 0);
    EXPECT_EQ(CDF_put_fill_att(temp), 0);
    EXPECT_EQ(CDF_put_long_fill_att(id, -1), 0);
    EXPECT_EQ(CDF_put_glob_att("title", "Station test"), 0);
    EXPECT_EQ(CDF_end_def(), 0);

    for (int r = 0; r < 2; ++r)
        for (int s = 0; s < 3; ++s) {
            CDF_set_pos(2, r, s);
            EXPECT_EQ(CDF_put_float(temp, 10.5f * r + s), 0);
            EXPECT_EQ(CDF_put_long(id, 72000 + 10 * r + s), 0);
            EXPECT_EQ(CDF_put_short(flag, static_cast<short>(s - 1)), 0);
            EXPECT_EQ(CDF_put_byte(kind, static_cast<signed char>(r)), 0);
            EXPECT_EQ(CDF_put_str(name, s == 0 ? "abc" : "DEN"), 0);
            EXPECT_EQ(CDF_put_float(CDF_get_var("elev"), 1000.25f + s), 0);
            EXPECT_EQ(CDF_put_float(-1, 1.0f), 0);  // a variable the file lacks
        }
    // A text longer than its dimension is the library's error, not an overrun.
    CDF_set_pos(2, 0, 2);
    EXPECT_NE(CDF_put_str(name, "much too long"), 0);
    EXPECT_EQ(CDF_close(), 0);
    return path;
}

TEST(Cdf, RecordsWrittenFieldByFieldShowInNcdump)
{
    const std::string path = write_stations();
    const std::string dump = ncdump("'" + path + "'");
    for (const char* expected :
         {"recNum = UNLIMITED ; // (2 currently)", "float temp(recNum, station) ;",
          "int id(recNum, station) ;", "short flag(recNum, station) ;",
          "byte kind(recNum, station) ;", "char name(recNum, station, name_len) ;",
          "temp:long_name = \"Temperature\" ;", "temp:units = \"celsius\" ;",
          "temp:valid_range = -90.f, 60.f ;", "temp:_FillValue = -9999.f ;",
          "id:valid_range = 0, 99999 ;", "id:_FillValue = -1 ;", ":title = \"Station test\" ;",
          "temp =\n  0, 1, 2,\n  10.5, 11.5, 12.5 ;", "id =\n  72000, 72001, 72002,",
          "flag =\n  -1, 0, 1,", "kind =\n  0, 0, 0,"})
        EXPECT_TRUE(contains(dump, expected)) << expected << "\n" << dump;
    EXPECT_FALSE(contains(dump, "id:units"));
    // "abc" went in with its terminating zero: the fourth character is 0, the rest fill.
    const std::string chars = ncdump("-v name '" + path + "'");
    EXPECT_TRUE(contains(chars, " name =\n  \"abc\",\n  \"DEN\",")) << chars;
}

TEST(Cdf, ReadsConvertFromTheStoredType)
{
    const std::string path = write_stations();
    ASSERT_GE(CDF_open(path.c_str(), 0), 0);
    EXPECT_EQ(CDF_get_dim_size(-1), 2);
    EXPECT_EQ(CDF_get_dim_size(CDF_get_dim("station")), 3);
    EXPECT_EQ(CDF_get_dim("nothing"), -1);
    char title[8];
    EXPECT_EQ(CDF_get_glob_att("title", title, sizeof title), 0);
    EXPECT_STREQ(title, "Station");  // cut to the buffer
    const int temp = CDF_get_var("temp"), id = CDF_get_var("id"), flag = CDF_get_var("flag");
    const int kind = CDF_get_var("kind"), name = CDF_get_var("name"), elev = CDF_get_var("elev");
    CDF_set_pos(2, 1, 2);
    EXPECT_EQ(CDF_get_float(temp), 12.5f);
    EXPECT_EQ(CDF_get_double(temp), 12.5);
    EXPECT_EQ(CDF_get_long(id), 72012);
    EXPECT_EQ(CDF_get_float(id), 72012.0f);
    EXPECT_EQ(CDF_get_long(flag), 1);
    EXPECT_EQ(CDF_get_byte(kind), 1);
    EXPECT_EQ(CDF_get_float(elev), 1002.25f);  // a double read as float, no overrun
    char text[7];
    EXPECT_EQ(CDF_get_str(name, 6, text), 1);
    EXPECT_STREQ(text, "DEN");
    CDF_set_pos(3, 0, 0, 3);
    EXPECT_EQ(CDF_get_char(name), 0);  // the terminating zero written after "abc"

    // Arrays: a whole record of the double variable into floats.
    CDF_set_range(2, 0, 1, 0, 3);
    float elevs[3] = {};
    ASSERT_EQ(CDF_get_float_array(elev, elevs), 0);
    EXPECT_EQ(elevs[2], 1002.25f);
    double temps[3] = {};
    CDF_set_range(2, 1, 1, 0, 3);
    ASSERT_EQ(CDF_get_double_array(temp, temps), 0);
    EXPECT_EQ(temps[0], 10.5);
    signed char kinds[3] = {};
    ASSERT_EQ(CDF_get_byte_array(kind, kinds), 0);
    EXPECT_EQ(kinds[1], 1);
    // A text read needs single positions; a range of several records would overrun str.
    CDF_set_range(2, 0, 2, 0, 1);
    EXPECT_EQ(CDF_get_str(name, 6, text), -1);
    EXPECT_EQ(CDF_close(), 0);
    EXPECT_EQ(CDF_get_float(temp), -9999.0f);
}

TEST(Cdf, SetPosOverwritesTheStoredShape)
{
    const std::string path = (dir() / "shape.nc").string();
    ASSERT_GE(CDF_open(path.c_str(), 1), 0);
    const int a = CDF_def_dim("a", 2);
    const int b = CDF_def_dim("b", 5);
    CDF_set_shape(2, a, b);
    CDF_set_pos(1, b);  // the shape is gone: the next definition is over dimension b alone
    const int v = CDF_def_float_var("v");
    ASSERT_GE(v, 0);
    EXPECT_EQ(CDF_end_def(), 0);
    EXPECT_EQ(CDF_close(), 0);
    EXPECT_TRUE(contains(ncdump("-h '" + path + "'"), "float v(b) ;"));
    EXPECT_EQ(CDF_set_pos(11, 0), -1);
    EXPECT_EQ(CDF_set_shape(-1), -1);
}

}  // namespace
