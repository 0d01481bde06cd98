// Raw point-data files and the pattern scanner: field declaration, every rep_type form,
// line positioning, the writer's value kinds, round trips, and the scanner's modifiers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "raw_read.hpp"
#include "resrc.hpp"
#include "scanp.hpp"
#include "scratch_dir.hpp"

namespace {

std::string scratch(const std::string& name) { return (scratch_dir("test_raw_read") / name).string(); }
void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const char* kDeclared =
    "QAZRAW\n00Z 20 MAY 26\n!Surface values\nid lat lon\nt:Temperature:%1.0f\ntd:Dew_point\nwind::%1.0f\n$\n"
    "DEN 39.77 -104.87 25 - wind=270,15\r\n"
    "72451 37.77 -99.97 31:%.1f 18 180,20\n"
    "OUN - - 29 21\n"
    "\n"
    "AFTER 1 2 3\n";

struct Opened {
    int fd = -1;
    RAW_info info{};
    explicit Opened(const std::string& path) {
        int type = 0;
        fd = RAW_open(path.c_str(), 0, &type);
        if (fd >= 0) RAW_getinfo(fd, &info);
    }
    ~Opened() {
        if (fd >= 0) RAW_close(fd);
    }
};

}  // namespace

TEST(Scanp, PatternsAndModifiers) {
    char s[80];
    float a = 0, b = 0;
    int n = 0;
    scanp_set("  KDEN 39.77 -104.87 rest");
    EXPECT_EQ(scanp("%s ", s), 1);
    EXPECT_STREQ(s, "KDEN");
    EXPECT_EQ(scanp_off(-1), 7);
    EXPECT_EQ(scanp("%!-!f %n%!-!f ", &a, &n, &b), 2);
    EXPECT_FLOAT_EQ(a, 39.77f);
    EXPECT_FLOAT_EQ(b, -104.87f);
    EXPECT_EQ(n, 6);  // characters consumed up to the second number
    EXPECT_EQ(scanp("%*s "), 0);
    EXPECT_EQ(scanp("%s", s), -1);  // nothing left

    scanp_set("- - 5");
    EXPECT_EQ(scanp("%!-!f %!-!f ", &a, &b), 2);
    EXPECT_EQ(a, -9999.0f);
    EXPECT_EQ(b, -9999.0f);
    scanp_set("- 5");
    EXPECT_EQ(scanp("%f ", &a), 0);  // without the modifier "-" is no number
    scanp_set("-7 x");
    EXPECT_EQ(scanp("%!-!f", &a), 1);
    EXPECT_EQ(a, -7.0f);
    scanp_set("NA 3");
    int i = 0;
    EXPECT_EQ(scanp("%!NA!d %d", &i, &n), 2);
    EXPECT_EQ(i, -9999);
    EXPECT_EQ(n, 3);

    // "<N" keeps N characters and consumes the whole word; a width splits the word.
    const std::string longword(300, 'w');
    scanp_set((longword + " next").c_str());
    char small[6];
    EXPECT_EQ(scanp("%<5s ", small), 1);
    EXPECT_STREQ(small, "wwwww");
    EXPECT_EQ(scanp("%s", s), 1);
    EXPECT_STREQ(s, "next");
    scanp_set("abcdef");
    EXPECT_EQ(scanp("%3s", small), 1);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(scanp_off(-1), 3);

    // Offsets: set, clamp, and rescanning from a saved position.
    scanp_set("a b c");
    EXPECT_EQ(scanp_off(99), 5);
    EXPECT_EQ(scanp_off(2), 2);
    EXPECT_EQ(scanp("%s", s), 1);
    EXPECT_STREQ(s, "b");
    // Literal text, non-finite and hexadecimal texts.
    scanp_set("12,34 inf 0x10");
    EXPECT_EQ(scanp("%f,%f ", &a, &b), 2);
    EXPECT_EQ(b, 34.0f);
    EXPECT_EQ(scanp("%f", &a), 0);
    // A number runs to the end of its word (this once read "0x10" as 0).
    scanp_set("0x10");
    EXPECT_EQ(scanp("%f", &a), 0);
    scanp_set(nullptr);
    EXPECT_EQ(scanp("%s", s), -1);
}

TEST(RawFile, DeclarationAndEveryReadForm) {
    const std::string path = scratch("declared.raw");
    write_text(path, kDeclared);
    EXPECT_EQ(RAW_chktype(path.c_str()), 1);
    Opened f(path);
    ASSERT_GE(f.fd, 0);
    EXPECT_STREQ(f.info.datim, "00Z 20 MAY 26");
    EXPECT_STREQ(f.info.info, "Surface values");
    EXPECT_EQ(f.info.date.day, 20);
    EXPECT_EQ(RAW_get_num_field(f.fd), 6);
    EXPECT_EQ(RAW_get_field_ind(f.fd, "TD"), 4);
    EXPECT_STREQ(RAW_get_field_info(f.fd, 3), "Temperature");
    EXPECT_STREQ(RAW_get_field_info(f.fd, 4), "Dew point");
    EXPECT_STREQ(RAW_get_field_fmt(f.fd, 3), "%1.0f");
    EXPECT_STREQ(RAW_get_field_fmt(f.fd, 5), "%1.0f");
    EXPECT_STREQ(RAW_get_field_name(f.fd, 99), "");

    struct Case {
        int line;
        const char* rep;
        int rc;
        float v0, v1;
        const char* data;
        const char* format;
    } cases[] = {
        {0, "10", 1, 25, -9999, "25", "%1.0f"},
        {0, "11", 1, -9999, -9999, "-", ""},
        {0, "t", 1, 25, -9999, "25", "%1.0f"},
        {0, "wind", 1, 270, 15, "270,15", "%1.0f"},
        {0, "gust", 0, -9999, -9999, "", ""},
        {0, "id", 1, -9999, -9999, "DEN", ""},
        {0, "13", 0, -9999, -9999, "", ""},
        {1, "t", 1, 31, -9999, "31", "%1.0f:%.1f"},
        {1, "12", 1, 180, 20, "180,20", "%1.0f"},
        {1, "lat", 1, 37.77f, -9999, "", ""},
        {2, "td", 1, 21, -9999, "21", ""},
        {0, "t", 1, 25, -9999, "25", "%1.0f"},  // back to an earlier line
        {3, "t", -1, 0, 0, "", ""},              // an empty line ends the data
        {9, "t", -1, 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        RAW_report r{};
        int statnum = c.line;
        const int rc = RAW_read(f.fd, &r, c.rep, &statnum);
        const std::string where = std::to_string(c.line) + " " + c.rep;
        EXPECT_EQ(rc, c.rc) << where;
        if (rc < 0) continue;
        EXPECT_NEAR(r.value[0], c.v0, 1e-3) << where;
        EXPECT_NEAR(r.value[1], c.v1, 1e-3) << where;
        EXPECT_STREQ(r.data, c.data) << where;
        EXPECT_STREQ(r.format, c.format) << where;
    }
    RAW_report r{};
    int statnum = 1;
    RAW_read(f.fd, &r, "id", &statnum);
    EXPECT_EQ(r.wmo, 72451);
    EXPECT_NEAR(r.lon, -99.97, 1e-3);
    statnum = 2;
    RAW_read(f.fd, &r, "id", &statnum);
    EXPECT_EQ(r.lat, -9999.0f);
    EXPECT_EQ(r.wmo, -9999);
}

TEST(RawFile, IteratingValuesOfALine) {
    const std::string path = scratch("iterate.raw");
    write_text(path, kDeclared);
    Opened f(path);
    const int want_type[] = {3, 4, 5};
    const char* want_data[] = {"25", "-", "270,15"};
    RAW_report r{};
    for (int k = 0; k < 3; ++k) {
        int statnum = 0;
        ASSERT_EQ(RAW_read(f.fd, &r, "1", &statnum), 1);
        EXPECT_EQ(r.type, want_type[k]);
        EXPECT_STREQ(r.data, want_data[k]);
    }
    int statnum = 0;
    EXPECT_EQ(RAW_read(f.fd, &r, "1", &statnum), 0);
    statnum = 2;
    ASSERT_EQ(RAW_read(f.fd, &r, "1", &statnum), 1);  // a new line starts over
    EXPECT_STREQ(r.data, "29");
}

TEST(RawFile, PlainAndPressureFiles) {
    const std::string plain = scratch("plain.txt");
    write_text(plain, "ABC 39.5 -105 12\nXYZ 7 8\n");
    EXPECT_EQ(RAW_chktype(plain.c_str()), 99);
    Opened p(plain);
    RAW_report r{};
    int statnum = 1;
    ASSERT_EQ(RAW_read(p.fd, &r, "10", &statnum), 0);  // 7 8 is the position
    EXPECT_EQ(r.lat, 7.0f);
    statnum = 0;
    ASSERT_EQ(RAW_read(p.fd, &r, "10", &statnum), 1);
    EXPECT_EQ(r.value[0], 12.0f);
    EXPECT_EQ(r.lat, 39.5f);

    const std::string pres = scratch("pres.raw");
    write_text(pres, "QAZRAW\n12Z 20 MAY 26\n!Sounding\nid p t $\nOUN 850 18.5\n");
    Opened q(pres);
    statnum = 0;
    ASSERT_EQ(RAW_read(q.fd, &r, "t", &statnum), 1);
    EXPECT_EQ(r.lat, 850.0f);
    EXPECT_FLOAT_EQ(r.value[0], 18.5f);
}

TEST(RawFile, WriterKindsAndRoundTrip) {
    const std::string path = scratch("written.raw");
    int type = 1;
    const int fd = RAW_open(path.c_str(), 1, &type);
    ASSERT_GE(fd, 0);
    RAW_set_field_name(fd, 0, "cape");
    RAW_set_field_info(fd, 0, "Parcel energy");
    RAW_set_field_fmt(fd, 0, "%1.0f");
    RAW_set_field_name(fd, 1, "wind");
    RAW_info info{};
    snprintf(info.datim, sizeof info.datim, "00Z 20 MAY 26");
    snprintf(info.info, sizeof info.info, "Indices");
    ASSERT_EQ(RAW_putinfo(fd, &info), 0);
    RAW_report r{};
    snprintf(r.id, sizeof r.id, "OUN");
    r.lat = 35.18f;
    r.lon = -97.44f;
    int statnum = 0;
    struct Put {
        int mode, kind;
        float v0, v1;
        const char* data;
        const char* format;
    } puts[] = {
        {3, 0, 0, 0, "", ""},
        {2, RAW_KIND_NUMBER, 2450.4f, -9999, "", ""},
        {2, RAW_KIND_PAIR, 245, 55, "", ""},
        {2, RAW_KIND_INTEGER, 7.6f, -9999, "", "%d"},
        {2, RAW_KIND_TEXT, 0, 0, "", ""},
        {2, RAW_KIND_TEXT, 0, 0, "TSRA", ""},
        {2, RAW_KIND_PAIR, 180, -9999, "", ""},
        {5, 0, 0, 0, "", ""},
    };
    for (const Put& p : puts) {
        r.type = p.kind;
        r.value[0] = p.v0;
        r.value[1] = p.v1;
        snprintf(r.data, sizeof r.data, "%s", p.data);
        snprintf(r.format, sizeof r.format, "%s", p.format);
        EXPECT_EQ(RAW_write(fd, &r, p.mode, &statnum), 1);
    }
    // A printf format from the resource; one that is not a single number format is refused.
    RES_put("plot_format", "%6.2f");
    r.type = RAW_KIND_TEXT;
    r.value[0] = 1.5f;
    r.format[0] = '\0';
    RAW_write(fd, &r, 1, &statnum);
    RES_put("plot_format", "%s%s%n");
    RAW_write(fd, &r, 1, &statnum);
    RES_put("plot_format", "");
    EXPECT_EQ(statnum, 3);
    RAW_close(fd);

    const std::string text = read_text(path);
    EXPECT_EQ(text,
              "QAZRAW\n00Z 20 MAY 26\n!Indices\nid lat lon\ncape:Parcel_energy:%1.0f\nwind\n$\n"
              "OUN  35.18  -97.44 2450 245,55 8:%d - TSRA 180,-\n"
              "OUN  35.18  -97.44   1.50\n"
              "OUN  35.18  -97.44 2\n\n");

    Opened f(path);
    EXPECT_EQ(RAW_get_num_field(f.fd), 5);
    int line = 0;
    ASSERT_EQ(RAW_read(f.fd, &r, "cape", &line), 1);
    EXPECT_EQ(r.value[0], 2450.0f);
    EXPECT_NEAR(r.lat, 35.18, 1e-4);
    ASSERT_EQ(RAW_read(f.fd, &r, "wind", &line), 1);
    EXPECT_EQ(r.value[1], 55.0f);
}

TEST(RawFile, OpenLimitsAndBadInput) {
    const std::string path = scratch("limit.raw");
    write_text(path, kDeclared);
    int fds[6];
    for (int i = 0; i < 5; ++i) {
        int type = 0;
        fds[i] = RAW_open(path.c_str(), 0, &type);
        EXPECT_EQ(fds[i], i);
    }
    int type = 0;
    EXPECT_EQ(RAW_open(path.c_str(), 0, &type), -1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(RAW_close(fds[i]), 0);
    EXPECT_EQ(RAW_close(2), -1);
    type = 0;
    EXPECT_EQ(RAW_open(scratch("missing").c_str(), 0, &type), -1);
    type = 1;
    EXPECT_EQ(RAW_open(scratch("missing").c_str(), 2, &type), -1);  // append needs a header file
    type = 7;
    EXPECT_EQ(RAW_open(path.c_str(), 0, &type), -1);

    // A declaration that never ends, an overlong line and binary bytes.
    std::string bad = "QAZRAW\nnot a date\n!x\n";
    for (int i = 0; i < 100; ++i) bad += "f" + std::to_string(i) + ":" + std::string(100, 'i') + ":" + std::string(100, 'f') + "\n";
    const std::string bad_path = scratch("bad.raw");
    write_text(bad_path, bad);
    Opened b(bad_path);
    EXPECT_EQ(RAW_get_num_field(b.fd), RAW_MAX_FIELDS);
    RAW_report r{};
    int statnum = 0;
    EXPECT_EQ(RAW_read(b.fd, &r, "1", &statnum), -1);

    const std::string long_path = scratch("long.raw");
    write_text(long_path, "QAZRAW\nx\ny\n" + std::string(5000, 'A') + " 1 2 3\nB\xff\x01 1 2 =:: a=b:c\n");
    Opened l(long_path);
    statnum = 0;
    EXPECT_EQ(RAW_read(l.fd, &r, "1", &statnum), 0);
    EXPECT_EQ(std::string(r.id).size(), 29u);
    statnum = 1;
    EXPECT_EQ(RAW_read(l.fd, &r, "a", &statnum), 1);
    EXPECT_STREQ(r.data, "b");
    EXPECT_STREQ(r.format, "c");
}

namespace {

// Writes one station with the given declaration (names; "" for none) and values.
std::string write_station(const std::string& name, const std::vector<const char*>& fields, RAW_report r,
                          const std::vector<std::pair<int, const char*>>& values, const char* info = "") {
    const std::string path = scratch(name);
    int type = 1;
    const int fd = RAW_open(path.c_str(), 1, &type);
    for (std::size_t i = 0; i < fields.size(); ++i) RAW_set_field_name(fd, static_cast<int>(i), fields[i]);
    if (*info) RAW_set_field_info(fd, static_cast<int>(fields.size()) - 1, info);
    RAW_info header{};
    snprintf(header.datim, sizeof header.datim, "00Z 20 MAY 26");
    RAW_putinfo(fd, &header);
    RAW_write(fd, &r, 3, nullptr);
    for (const auto& [kind, text] : values) {
        r.type = kind;
        snprintf(r.data, sizeof r.data, "%s", text);
        r.value[0] = kind == RAW_KIND_TEXT ? -9999.0f : std::strtof(text, nullptr);
        r.value[1] = -9999.0f;
        RAW_write(fd, &r, 2, nullptr);
    }
    RAW_write(fd, &r, 5, nullptr);
    RAW_close(fd);
    return path;
}

RAW_report station(const char* id, float lat, float lon) {
    RAW_report r{};
    snprintf(r.id, sizeof r.id, "%s", id);
    r.lat = lat;
    r.lon = lon;
    r.format[0] = '\0';
    return r;
}

}  // namespace

// What the writer puts reads back column for column: unknown positions, the declared
// location fields only, texts with blanks, descriptions with colons, great integers.
TEST(RawFile, WrittenFilesReadBackColumnForColumn) {
    RES_put("plot_format", "");
    struct Case {
        const char* name;
        std::vector<const char*> fields;
        RAW_report report;
        std::vector<std::pair<int, const char*>> values;
        const char* field;      // read back by this name
        float value;            // expected value[0] (-9999 missing)
        const char* data;       // expected text
        float lat;              // expected latitude
    };
    const float M = -9999.0f;
    const Case cases[] = {
        {"no position", {"id", "lat", "lon", "t", "td"}, station("PLN", M, M),
         {{RAW_KIND_NUMBER, "25"}, {RAW_KIND_NUMBER, "18"}}, "td", 18, "18", M},
        {"no position, undeclared", {"t", "td"}, station("PLN", M, M),
         {{RAW_KIND_NUMBER, "25"}, {RAW_KIND_NUMBER, "18"}}, "td", 18, "18", M},
        {"pressure file", {"id", "p", "t"}, station("PLN", 850, M), {{RAW_KIND_NUMBER, "12"}}, "t", 12, "12", 850},
        {"text with blanks", {"id", "lat", "lon", "wx", "t"}, station("PLN", 36.6f, -98.9f),
         {{RAW_KIND_TEXT, "light rain"}, {RAW_KIND_NUMBER, "25"}}, "t", 25, "25", 36.6f},
        {"great integer", {"id", "lat", "lon", "n"}, station("PLN", 36.6f, -98.9f),
         {{RAW_KIND_INTEGER, "3000000000"}}, "n", 3.0e9f, "3000000000", 36.6f},
    };
    for (const Case& c : cases) {
        const std::string path = write_station(std::string("rb_") + c.name, c.fields, c.report, c.values);
        Opened f(path);
        ASSERT_GE(f.fd, 0) << c.name;
        RAW_report r{};
        int line = 0;
        ASSERT_EQ(RAW_read(f.fd, &r, c.field, &line), 1) << c.name << "\n" << read_text(path);
        EXPECT_FLOAT_EQ(r.value[0], c.value) << c.name << "\n" << read_text(path);
        EXPECT_STREQ(r.data, c.data) << c.name;
        EXPECT_NEAR(r.lat, c.lat, 1e-3) << c.name << "\n" << read_text(path);
    }

    const std::string described = write_station("described", {"id", "lat", "lon", "t2"}, station("A", 1, 2),
                                                {{RAW_KIND_NUMBER, "5"}}, "Temperature: 2 m");
    Opened d(described);
    EXPECT_STREQ(RAW_get_field_info(d.fd, 3), "Temperature: 2 m") << read_text(described);
}

// Damaged or unusual input gives a missing value or a refusal, never a wrong number or a
// lost field.
TEST(RawFile, ReaderEdges) {
    const std::string head = "QAZRAW\n00Z 20 MAY 26\n!x\nid lat lon t\n$\n";
    std::string many = "QAZRAW\n00Z 20 MAY 26\n!x\nid lat lon";
    for (int i = 0; i < 40; ++i) many += " f" + std::to_string(i) + ":Field_number_" + std::to_string(i);
    many += " $\nSTN 1 2";
    for (int i = 0; i < 40; ++i) many += " " + std::to_string(i);
    many += "\n";
    struct Case {
        const char* name;
        std::string text;
        const char* field;
        int result;       // of RAW_read
        float value;      // value[0]
        float lat;
    };
    const float M = -9999.0f;
    const Case cases[] = {
        {"latitude beyond float", head + "STN 1e40 2 7\n", "t", 1, 7, M},
        {"hexadecimal value", head + "STN 1 2 0x1F\n", "t", 1, M, 1},
        {"declaration over 400 characters", many, "f39", 1, 39, 1},
        {"last record cut off", head + "STN 1 2 7\nCUT 1 2", "t", -1, M, M},
    };
    for (const Case& c : cases) {
        const std::string path = scratch(std::string("edge_") + c.name);
        write_text(path, c.text);
        Opened f(path);
        ASSERT_GE(f.fd, 0) << c.name;
        RAW_report r{};
        int line = c.result < 0 ? 1 : 0;
        EXPECT_EQ(RAW_read(f.fd, &r, c.field, &line), c.result) << c.name;
        if (c.result < 0) continue;
        EXPECT_EQ(r.value[0], c.value) << c.name;
        EXPECT_EQ(r.lat, c.lat) << c.name;
    }
}
