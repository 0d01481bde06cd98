// Upper-air files: group codecs, type detection, every writable layout written and read
// back, station positioning, rep_type parts, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "scratch_dir.hpp"
#include "string.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

std::string scratch(const char* name) { return (scratch_dir("test_ua_read") / name).string(); }

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A sounding with every mandatory level to 10 mb, levels above, tropopause, maximum wind,
// significant and wind levels; values chosen to be exactly representable by the codecs.
UPA_report make_report(const char* id, int wmo, float lat, float lon, float shift) {
    UPA_report r;
    UPA_initialize(&r);
    str_copy(r.id, sizeof r.id, id);
    r.wmo = wmo;
    r.lat = lat;
    r.lon = lon;
    const float p[16] = {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10};
    const float h[16] = {110, 790, 1512, 3120, 5760, 7400, 9500, 10760, 12180, 13920, 16420, 18580, 20640, 23830, 26400, 31000};
    const float t[16] = {24.2f, 20.4f, 18.0f, 6.2f, -11.3f, -21.5f, -37.1f, -46.5f, -55.1f, -59.3f, -65.7f, -63.1f, -59.5f, -55.3f, -51.7f, -45.1f};
    for (int i = 0; i < 16; ++i) {
        UPA_man& m = r.man[i + 1];
        m = {p[i], h[i], t[i] + shift, t[i] + shift - 3.0f, static_cast<float>(180 + 5 * i), static_cast<float>(10 + 5 * i)};
    }
    r.man[0] = {1004, 300, 26.2f + shift, 19.2f + shift, 170, 15};
    r.man[17] = {7, 33700, -41.1f, -9999, 270, 40};
    r.man[18] = {5, 35800, -38.3f, -9999, 270, 35};
    r.numman = 19;
    r.man[22] = {215, -9999, -57.3f, -9999, 250, 75};
    r.man[23] = {250, -9999, -9999, -9999, 255, 105};
    const float sp[] = {1004, 962, 850, 793, 615, 500, 472, 215, 100, 45};
    const float st[] = {26.2f, 23.6f, 18.0f, 14.2f, 1.4f, -11.3f, -13.5f, -57.3f, -65.7f, -58.3f};
    r.numsig = 10;
    for (int i = 0; i < r.numsig; ++i) r.sig[i] = {sp[i], st[i] + shift, st[i] + shift - 4.2f};
    const float wh[] = {0, 1000, 2000, 3000, 5000, 7000, 10000, 14000, 20000, 30000, 50000};
    r.numwnd = 11;
    for (int i = 0; i < r.numwnd; ++i) r.wnd[i] = {wh[i], static_cast<float>(170 + 10 * i), static_cast<float>(15 + 5 * i)};
    return r;
}

int write_file(const std::string& path, int type, const UPA_report* reports, int n) {
    int f_type = type;
    const int fd = UPA_open(path.c_str(), 1, &f_type);
    if (fd < 0) return -1;
    UPA_info info{};
    str_copy(info.datim, sizeof info.datim, "00Z 12 MAY 26");
    str_copy(info.file, sizeof info.file, "26051200");
    UPA_putinfo(fd, &info);
    int statnum = 0;
    for (int i = 0; i < n; ++i) {
        if (type == UPA_NETCDF_STATION || type == UPA_NETCDF_REPORT) statnum = i;  // records are addressed
        if (UPA_write(fd, const_cast<UPA_report*>(&reports[i]), UPA_REP_ALL, &statnum) < 0) return -1;
    }
    return UPA_close(fd);
}

void expect_level(const UPA_man& got, const UPA_man& want, const std::string& where) {
    const float* g = &got.p;
    const float* w = &want.p;
    const char* names[] = {"p", "h", "t", "td", "dir", "spd"};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(g[k], w[k], 0.11f) << where << " " << names[k];
}

}  // namespace

TEST(UaCodec, GroupsFromTheFormatDefinition) {
    struct PH {
        const char* group;
        float p, h;
        int rc;
    } ph[] = {
        {"85512", 850, 1512, 0},  {"00550", 1000, -50, 0},   {"10650", 100, 16500, 0},
        {"85/", 850, -9999, -1},  {"92790", 925, 790, 0},     {"70120", 700, 3120, 0},
        {"70950", 700, 2950, 0},  {"30950", 300, 9500, 0},    {"30020", 300, 10200, 0},
        {"05064", 50, 20640, 0},  {"-7370", 7, 33700, 0},     {"99123", -9999, -9999, -1},
        {"X", -9999, -9999, -1},  {"8551", -9999, -9999, -1}, {"85a12", -9999, -9999, -1},
        {"", -9999, -9999, -1},   {"855123", -9999, -9999, -1},
    };
    for (const PH& c : ph) {
        float p, h;
        EXPECT_EQ(decd_ph(c.group, &p, &h), c.rc) << c.group;
        EXPECT_EQ(p, c.p) << c.group;
        EXPECT_EQ(h, c.h) << c.group;
    }
    struct TD {
        const char* group;
        float t, td;
        int rc;
    } td[] = {
        {"12326", -12.3f, -14.9f, 0}, {"25276", 25.2f, -0.8f, 0}, {"25250", 25.2f, 20.2f, 0},
        {"99999", -9999, -9999, -1},  {"12399", -12.3f, -9999, 0}, {"1232", -9999, -9999, -1},
        {"X", -9999, -9999, -1},      {"12-26", -9999, -9999, -1},
    };
    for (const TD& c : td) {
        float t, d;
        EXPECT_EQ(decd_td(c.group, &t, &d), c.rc) << c.group;
        EXPECT_NEAR(t, c.t, 1e-4) << c.group;
        EXPECT_NEAR(d, c.td, 1e-4) << c.group;
    }
    struct WD {
        const char* group;
        float dir, spd;
        int rc;
    } wd[] = {
        {"27605", 275, 105, 0}, {"99999", -9999, -9999, 0}, {"36099", 360, 99, 0},
        {"27860", -9999, -9999, 0} /* 360 kt */, {"36510", -9999, -9999, 0}, {"2760", -9999, -9999, -1},
    };
    for (const WD& c : wd) {
        float d, s;
        EXPECT_EQ(decd_wd(c.group, &d, &s), c.rc) << c.group;
        EXPECT_EQ(d, c.dir) << c.group;
        EXPECT_EQ(s, c.spd) << c.group;
    }
}

TEST(UaCodec, EncodeAndMissingGroups) {
    struct Enc {
        int which;  // 0 ph, 1 td, 2 wd
        float a, b;
        const char* text;
        int rc;
    } cases[] = {
        {1, -12.4f, -15.0f, "12326", 0}, {2, 273, 105, "27605", 0},  {0, 850, 1512, "85512", 0},
        {0, 1000, -50, "00550", 0},      {0, 100, 16500, "10650", 0}, {0, 850, -9999, "85/", 0},
        {0, 7, 33700, "-7370", 0},       {1, 25.3f, -9999, "25299", 0}, {1, 20, -40, "20098", 0},
        {1, 150, 0, "99999", -1},        {2, -9999, 10, "99999", -1}, {2, 90, 600, "99999", -1},
        {0, -9999, 100, "99999", -1},    {0, 1e30f, 1e30f, "99999", -1},
    };
    for (const Enc& c : cases) {
        const int rc = c.which == 0 ? encd_ph(c.a, c.b) : c.which == 1 ? encd_td(c.a, c.b) : encd_wd(c.a, c.b);
        EXPECT_EQ(rc, c.rc) << c.text;
        EXPECT_STREQ(UPA_encd_buffer(), c.text);
    }
}

TEST(UaTool, MandatoryAndInitialize) {
    const float p[] = {1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(UPA_mandatory(p[i]), i + 1);
    for (float other : {0.0f, 7.0f, 900.0f, 1013.0f, -9999.0f}) EXPECT_EQ(UPA_mandatory(other), 0);
    UPA_report r = make_report("ABC", 1, 1, 1, 0);
    UPA_initialize(&r);
    EXPECT_STREQ(r.id, "");
    EXPECT_EQ(r.wmo, -9999);
    EXPECT_EQ(r.numman + r.numsig + r.numwnd, 0);
    EXPECT_EQ(r.man[24].spd, -9999.0f);
    EXPECT_EQ(r.sig[199].td, -9999.0f);
}

TEST(UaFile, TypeDetection) {
    struct Case {
        const char* text;
        int type;
    } cases[] = {
        {"QAZUPA\n00Z 12 MAY 26\nABC\n", 3},
        {"QAZUPA+\n00Z 12 MAY 26\nABC\n", 4},
        {"QAZUPAx\n00Z 12 MAY 26\nABC\n", 5},
        {"00Z 12 MAY 26\nOUN 00110 ...\n12 850 ...\n", 1},
        {"00Z 12 MAY 26\nOUN 00110 ...\n40740 ...\n", 2},
        {" 0Z 12 MAY 26\nOUN\n 5 850\n", 1},
        {"hello\nworld\n", -1},
        {"", -1},
        {"CDF but not really\n", -1},
    };
    int k = 0;
    for (const Case& c : cases) {
        const std::string path = scratch(("detect" + std::to_string(k++)).c_str());
        write_text(path, c.text);
        EXPECT_EQ(UPA_chktype(path.c_str()), c.type) << c.text;
    }
    EXPECT_EQ(UPA_chktype(scratch("does_not_exist").c_str()), -1);
}

// Every readable text type round trip: what each layout keeps must come back.
TEST(UaFile, TextTypesRoundTrip) {
    const UPA_report in[3] = {make_report("OUN", 72357, 35.18f, -97.44f, 0), make_report("DDC", 72451, 37.77f, -99.97f, 1.0f),
                              make_report("AMA", 72363, 35.23f, -101.7f, -2.0f)};
    for (int type : {1, 2, 3, 4, 5}) {
        const std::string path = scratch(("rt" + std::to_string(type)).c_str());
        ASSERT_EQ(write_file(path, type, in, 3), 0) << type;
        EXPECT_EQ(UPA_chktype(path.c_str()), type);
        int f_type = 0;
        const int fd = UPA_open(path.c_str(), 0, &f_type);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(f_type, type);
        UPA_info info{};
        EXPECT_EQ(UPA_getinfo(fd, &info), 0);
        EXPECT_STREQ(info.datim, "00Z 12 MAY 26");
        EXPECT_EQ(info.date.day, 12);
        EXPECT_EQ(info.date.month, 5);
        for (int s = 0; s < 3; ++s) {
            UPA_report out;
            int statnum = s;
            ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ALL, &statnum), 0) << type << " station " << s;
            const std::string where = "type " + std::to_string(type) + " station " + std::to_string(s);
            EXPECT_STREQ(out.id, in[s].id) << where;
            if (type == 5) {
                EXPECT_EQ(out.wmo, in[s].wmo);
                EXPECT_NEAR(out.lat, in[s].lat, 0.006);
                EXPECT_NEAR(out.lon, in[s].lon, 0.006);
            }
            const int* levels;
            int nlev;
            static const int kShort[] = {1, 3, 4, 5}, kLong[] = {1, 3, 4, 5, 6, 7, 9, 11};
            static int kAll[21];
            for (int i = 0; i < 21; ++i) kAll[i] = i + 1;
            if (type == 1) {
                levels = kShort, nlev = 4;
            } else if (type == 2) {
                levels = kLong, nlev = 8;
            } else {
                levels = kAll, nlev = 18;
            }
            for (int k = 0; k < nlev; ++k) {
                UPA_man want = in[s].man[levels[k]];
                // Dew points come back within the depression's coding step.
                EXPECT_NEAR(out.man[levels[k]].td, want.td, 0.11f) << where;
                expect_level(out.man[levels[k]], want, where + " man " + std::to_string(levels[k]));
            }
            // The surface comes back from the first significant and wind levels.
            EXPECT_EQ(out.man[0].p, 1004.0f) << where;
            EXPECT_NEAR(out.man[0].t, in[s].man[0].t, 0.11f) << where;
            EXPECT_EQ(out.man[0].dir, 170.0f) << where;
            if (type >= 3) {
                EXPECT_EQ(out.numman, 19);
                EXPECT_EQ(out.man[22].p, 215.0f);
                EXPECT_NEAR(out.man[22].t, -57.3f, 0.11f);
                EXPECT_EQ(out.man[23].p, 250.0f);
                EXPECT_EQ(out.man[23].spd, 105.0f);
                // 850, 500 and 100 are mandatory with a known height: not repeated.
                EXPECT_EQ(out.numsig, 7) << where;
                EXPECT_EQ(out.sig[0].p, 1004.0f) << where;  // written "004", read 1004
                EXPECT_EQ(out.sig[6].p, 45.0f);
                EXPECT_EQ(out.numwnd, 11);
                EXPECT_EQ(out.wnd[10].h, 50000.0f);
            } else {
                EXPECT_EQ(out.numman, type == 1 ? 6 : 12);
                EXPECT_EQ(out.sig[0].p, 1004.0f);
                EXPECT_EQ(out.numsig, type == 1 ? 4 : 6) << where;
                EXPECT_EQ(out.numwnd, type == 1 ? 8 : 11) << where;
            }
        }
        UPA_report out;
        int past = 3;
        EXPECT_EQ(UPA_read(fd, &out, UPA_REP_ALL, &past), -1);
        EXPECT_EQ(UPA_close(fd), 0);
    }
}

TEST(UaFile, PositioningForwardBackwardRepeatedAndParts) {
    UPA_report in[5];
    const char* ids[] = {"S00", "S01", "S02", "S03", "S04"};
    for (int i = 0; i < 5; ++i) in[i] = make_report(ids[i], 70000 + i, 30 + i, -100 + i, static_cast<float>(i));
    for (int type : {1, 2, 3, 4, 5}) {
        const std::string path = scratch(("pos" + std::to_string(type)).c_str());
        ASSERT_EQ(write_file(path, type, in, 5), 0);
        int f_type = 0;
        const int fd = UPA_open(path.c_str(), 0, &f_type);
        ASSERT_GE(fd, 0);
        UPA_info info{};
        UPA_getinfo(fd, &info);
        for (int n : {0, 3, 3, 1, 4, 4, 0, 2, 2, 2, 4}) {
            UPA_report out;
            int statnum = n;
            ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ID, &statnum), 0) << type << " " << n;
            EXPECT_STREQ(out.id, ids[n]) << "type " << type;
            EXPECT_EQ(statnum, n);
        }
        UPA_report out;
        int statnum = 2;
        ASSERT_EQ(UPA_read(fd, &out, 3, &statnum), 0);  // 850 mb into man[0]
        EXPECT_EQ(out.numman, 1);
        EXPECT_EQ(out.man[0].p, 850.0f);
        EXPECT_EQ(out.man[0].h, 1512.0f);
        ASSERT_EQ(UPA_read(fd, &out, UPA_REP_SURFACE, &statnum), 0);
        EXPECT_EQ(out.man[0].p, 1004.0f);
        EXPECT_EQ(UPA_read(fd, &out, 17, &statnum), -1);  // no such part
        if (type >= 3) {
            ASSERT_EQ(UPA_read(fd, &out, UPA_REP_TROP, &statnum), 0);
            EXPECT_EQ(out.man[0].p, 215.0f);
        }
        EXPECT_EQ(UPA_get_station(fd, "s03", &out, UPA_REP_ALL), 3);
        EXPECT_STREQ(out.id, "S03");
        EXPECT_EQ(UPA_get_station(fd, "NONE", &out, UPA_REP_ALL), -1);
        if (type == UPA_TEXT_X) {
            EXPECT_EQ(UPA_get_station(fd, "70002", &out, UPA_REP_LOCATION), 2);  // by WMO number
            EXPECT_STREQ(out.id, "S02");
            EXPECT_NEAR(out.lat, 32.0, 1e-4);
        }
        char list[8][UPA_ID_SIZE];
        EXPECT_EQ(UPA_list_stations(fd, list, 8, M_none), 5);
        EXPECT_STREQ(list[4], "S04");
        EXPECT_EQ(UPA_rewind(fd), 0);
        UPA_close(fd);
    }
}

TEST(UaFile, HighPressureSignificantLevelsComeBackAbove1000) {
    UPA_report r = make_report("HI", 1, 1, 1, 0);
    r.numsig = 3;
    r.sig[0] = {1012, 20, 10};
    r.sig[1] = {1000.5f, 19, 9};
    r.sig[2] = {5, -40, -50};
    for (int type : {2, 3, 4}) {
        const std::string path = scratch(("hp" + std::to_string(type)).c_str());
        ASSERT_EQ(write_file(path, type, &r, 1), 0);
        int f_type = 0;
        const int fd = UPA_open(path.c_str(), 0, &f_type);
        UPA_report out;
        int statnum = 0;
        ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ALL, &statnum), 0);
        EXPECT_EQ(out.sig[0].p, 1012.0f) << type;
        EXPECT_EQ(out.sig[1].p, 1000.0f) << type;
        if (type != 2) {
            EXPECT_EQ(out.sig[2].p, 5.0f) << type;
        }
        UPA_close(fd);
    }
}

TEST(UaFile, Type5StationTokenAndLevelLimits) {
    const std::string path = scratch("limits5");
    std::string text = "QAZUPAx\n00Z 12 MAY 26\n72451:ABC:37.77:-99.97";
    for (int i = 0; i < 48; ++i) text += " X";  // 16 missing mandatory triples
    text += "\n";
    text += "X X X X X\n";
    for (int i = 0; i < 250; ++i) text += "850 10050 ";
    text += "X\n";
    for (int i = 0; i < 150; ++i) text += "05 27010 ";
    text += "$\nNEXT X\n$\n";
    write_text(path, text);
    int f_type = 0;
    const int fd = UPA_open(path.c_str(), 0, &f_type);
    ASSERT_EQ(f_type, 5);
    UPA_report out;
    int statnum = 0;
    ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ALL, &statnum), 0);
    EXPECT_EQ(out.wmo, 72451);
    EXPECT_STREQ(out.id, "ABC");
    EXPECT_NEAR(out.lat, 37.77, 1e-4);
    EXPECT_NEAR(out.lon, -99.97, 1e-4);
    EXPECT_EQ(out.numsig, UPA_SIG_LEVELS);
    EXPECT_EQ(out.numwnd, UPA_WND_LEVELS);
    statnum = 1;
    ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ID, &statnum), 0);
    EXPECT_STREQ(out.id, "NEXT");
    UPA_close(fd);
}

TEST(UaFile, DamagedFilesFailWithoutCrashing) {
    const char* texts[] = {
        "QAZUPA\n",
        "QAZUPA\n00Z 12 MAY 26\nABC 00110 \xff\xfe 99999",
        "QAZUPA+\n00Z 12 MAY 26\nABC -1 -2 -3 -4 88 77 X $",
        "00Z 12 MAY 26\nABC 00110\n99 850 12326\n",
        "00Z 12 MAY 26\nABC\n-5\n\n\n\n\n\n\n\n",
        "QAZUPAx\n00Z\n::::::::::::::::::::::::::::::::::::: X",
    };
    int k = 0;
    for (const char* text : texts) {
        const std::string path = scratch(("bad" + std::to_string(k++)).c_str());
        write_text(path, text);
        int f_type = 0;
        const int fd = UPA_open(path.c_str(), 0, &f_type);
        if (fd < 0) continue;
        UPA_info info{};
        UPA_getinfo(fd, &info);
        UPA_report out;
        for (int n = 0; n < 4; ++n) {
            int statnum = n;
            if (UPA_read(fd, &out, UPA_REP_ALL, &statnum) < 0) break;
            EXPECT_LE(out.numsig, UPA_SIG_LEVELS);
            EXPECT_LE(out.numwnd, UPA_WND_LEVELS);
        }
        UPA_close(fd);
    }
    // A netCDF file cut short: detection or reading fails cleanly.
    UPA_report good = make_report("NC", 1, 1, 1, 0);
    const std::string nc = scratch("cut.nc");
    ASSERT_EQ(write_file(nc, UPA_NETCDF_REPORT, &good, 1), 0);
    for (std::size_t keep : {3000u, 600u, 40u}) {
        std::ifstream in(nc, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string cut = scratch(("cut" + std::to_string(keep) + ".nc").c_str());
        write_text(cut, bytes.substr(0, keep));
        int f_type = 0;
        const int fd = UPA_open(cut.c_str(), 0, &f_type);
        if (fd < 0) continue;
        UPA_report out;
        int statnum = 0;
        UPA_read(fd, &out, UPA_REP_ALL, &statnum);
        EXPECT_LE(out.numsig, UPA_SIG_LEVELS);
        UPA_close(fd);
    }
    // A header whose name length asks for a gigabyte is refused before the library sees it.
    const std::string huge = scratch("huge.nc");
    write_text(huge, std::string("CDF\x01\0\0\0\0\0\0\0\x0a\0\0\0\x01\x40\0\0\0station", 27));
    EXPECT_EQ(UPA_chktype(huge.c_str()), -1);

    // Records a cut file lacks are past the end, not zeros.
    UPA_report two[2] = {make_report("R0", 1, 1, 1, 0), make_report("R1", 2, 2, 2, 0)};
    const std::string full = scratch("two.nc");
    ASSERT_EQ(write_file(full, UPA_NETCDF_STATION, two, 2), 0);
    std::ifstream in(full, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = scratch("one_and_a_bit.nc");
    write_text(cut, bytes.substr(0, bytes.size() - 100));
    int t = 0;
    const int cfd = UPA_open(cut.c_str(), 0, &t);
    ASSERT_GE(cfd, 0);
    UPA_report got;
    int statnum = 0;
    EXPECT_EQ(UPA_read(cfd, &got, UPA_REP_ALL, &statnum), 0);
    EXPECT_STREQ(got.id, "R0");
    statnum = 1;
    EXPECT_EQ(UPA_read(cfd, &got, UPA_REP_ALL, &statnum), -1);
    UPA_close(cfd);

    int f_type = 41;
    EXPECT_EQ(UPA_open(scratch("x41").c_str(), 0, &f_type), -1);  // write-only layout
    f_type = 7;
    EXPECT_EQ(UPA_open(scratch("x7").c_str(), 1, &f_type), -1);
    UPA_report r;
    statnum = 0;
    EXPECT_EQ(UPA_read(0, &r, UPA_REP_ALL, &statnum), -1);  // nothing open
    EXPECT_EQ(UPA_close(0), -1);
}

TEST(UaFile, SampleSoundingFileReads) {
    const std::string path = std::string(QAZ_SHARE_SRC) + "/sample_upa.txt";
    int f_type = 0;
    const int fd = UPA_open_file(path.c_str(), nullptr, &f_type, nullptr);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(f_type, UPA_TEXT_X);
    UPA_report r;
    int n = 0;
    for (;; ++n) {
        int statnum = n;
        if (UPA_read(fd, &r, UPA_REP_ALL, &statnum) < 0) break;
        EXPECT_GT(r.man[0].p, 900.0f) << r.id;
        EXPECT_GT(r.man[0].t, r.man[0].td) << r.id;
        EXPECT_GE(r.numsig, 10) << r.id;
        EXPECT_EQ(r.numwnd, 16) << r.id;
        EXPECT_NEAR(r.man[5].h, 5800.0f, 150.0f) << r.id;  // 500 mb height of a warm spring day
        EXPECT_EQ(r.man[22].p, 188.0f) << r.id;
    }
    EXPECT_EQ(n, 4);
    UPA_close(fd);
}

TEST(UaFile, XmlDocument) {
    UPA_report r = make_report("A&B", 72451, 37.77f, -99.97f, 0);
    const std::string path = scratch("doc.xml");
    ASSERT_EQ(write_file(path, UPA_XML, &r, 1), 0);
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string xml = ss.str();
    const char* expected[] = {
        "<qazupa date=\"00Z 12 MAY 26\">\n<obs wmo=\"72451\" id=\"A&amp;B\" lat=\"37.77\" lon=\"-99.97\">\n  <mand_level>\n",
        "    <level type=\"sfc\" pres.mb=\"1004\" hght.m=\"300\" temp.C=\"26.2\" dewp.C=\"19.2\" wdir.deg=\"170\" wspd.knt=\"15\"/>\n",
        "    <level pres.mb=\"850\" hght.m=\"1512\" temp.C=\"18.0\" dewp.C=\"15.0\" wdir.deg=\"190\" wspd.knt=\"20\"/>\n",
        "    <level pres.mb=\"7\" hght.m=\"33700\" temp.C=\"-41.1\" wdir.deg=\"270\" wspd.knt=\"40\"/>\n",
        "    <level type=\"trop\" pres.mb=\"215\" temp.C=\"-57.3\" wdir.deg=\"250\" wspd.knt=\"75\"/>\n",
        "    <level type=\"mwnd\" pres.mb=\"250\" wdir.deg=\"255\" wspd.knt=\"105\"/>\n  </mand_level>\n  <sig_level>\n",
        "    <level pres.mb=\"45.0\" temp.C=\"-58.3\" dewp.C=\"-62.5\"/>\n  </sig_level>\n  <wnd_level>\n",
        "    <level hght.m=\"50000\" wdir.deg=\"270\" wspd.knt=\"65\"/>\n  </wnd_level>\n</obs>\n</qazupa>\n",
    };
    for (const char* part : expected) EXPECT_NE(xml.find(part), std::string::npos) << part << "\n----\n" << xml;
}

TEST(UaFile, BinaryRecord) {
    UPA_report r = make_report("OUN", 72357, 35.18f, -97.44f, 0);
    r.time = 1200;
    const std::string path = scratch("rec.bin");
    int f_type = UPA_BINARY;
    const int fd = UPA_open(path.c_str(), 1, &f_type);
    ASSERT_GE(fd, 0);
    UPA_info info{};
    info.date = {2026, 5, 12, -9999, -9999, 0, 0, 0};
    ASSERT_EQ(UPA_putinfo(fd, &info), 0);
    int statnum = 0;
    ASSERT_EQ(UPA_write(fd, &r, UPA_REP_ALL, &statnum), 0);
    r.id[0] = '7';  // identifiers not starting with a letter are left out
    r.wmo = -9999;
    ASSERT_EQ(UPA_write(fd, &r, UPA_REP_ALL, &statnum), 0);
    UPA_close(fd);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string header = "00:00Z XXX MAY 12 2026";
    ASSERT_EQ(bytes.size(), header.size() + 2 * (12 + 66));
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    const std::string rec = bytes.substr(header.size(), 78);
    EXPECT_EQ(rec.substr(0, 12), std::string("OUN\0\0" "72357\0\0", 12));
    auto value = [&rec](int k) {
        return static_cast<int16_t>((static_cast<unsigned char>(rec[12 + 2 * k]) << 8) | static_cast<unsigned char>(rec[13 + 2 * k]));
    };
    const int want[33] = {3518, -9743, 18, 0, 6, -11, 0, 1512, 3120, 5760, 0, 0, 0, 0, 0, 19, 19, 20, 0,
                          20, 25, 30, 0, 3, 3, 3, 9999, 5650, 1200, 0, 0, 0, 0};
    for (int k = 0; k < 33; ++k) EXPECT_EQ(value(k), want[k]) << "value " << k;
    EXPECT_EQ(bytes.substr(header.size() + 78, 12), std::string("\0\0\0\0\0" "99999\0\0", 12));
}

namespace {

std::string run(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

}  // namespace

// netCDF layouts: read back by the library and checked independently with ncdump.
TEST(UaFile, NetcdfRoundTripCheckedWithNcdump) {
    const UPA_report in[2] = {make_report("OUN", 72357, 35.18f, -97.44f, 0), make_report("DDC", 72451, 37.77f, -99.97f, 1.0f)};
    for (int type : {UPA_NETCDF_STATION, UPA_NETCDF_REPORT}) {
        const std::string path = scratch(("ua" + std::to_string(type) + ".nc").c_str());
        int f_type = type;
        const int fd = UPA_open(path.c_str(), 1, &f_type);
        ASSERT_GE(fd, 0);
        UPA_info info{};
        str_copy(info.datim, sizeof info.datim, "00Z 12 MAY 26");
        str_copy(info.file, sizeof info.file, "26051200");
        ASSERT_EQ(UPA_putinfo(fd, &info), 0);
        for (int s = 0; s < 2; ++s) {
            int statnum = s;
            ASSERT_EQ(UPA_write(fd, const_cast<UPA_report*>(&in[s]), UPA_REP_ALL, &statnum), 0);
            EXPECT_EQ(statnum, s);  // records are addressed, not appended
        }
        ASSERT_EQ(UPA_close(fd), 0);
        EXPECT_EQ(UPA_chktype(path.c_str()), type);

        const bool metres = type == UPA_NETCDF_REPORT;
        const std::string header = run("ncdump -h " + path);
        for (const char* want : {metres ? "report = UNLIMITED ; // (2 currently)" : "station = UNLIMITED ; // (2 currently)",
                                 "mant_level = 25 ;", "sigt_level = 200 ;", "sigw_level = 100 ;", "string_len = 11 ;",
                                 ":title = \"Upper Air Observations\" ;", ":version = \"2.0\" ;", ":filetime = \"00Z 12 MAY 26\" ;",
                                 ":yymmddhh = \"26051200\" ;", "Number of Significant Levels wrt T",
                                 metres ? "SPD_sigw:units = \"meters/second\" ;" : "spd_sigw:units = \"knots\" ;",
                                 metres ? "Z_sigw:units = \"meters\" ;" : "z_sigw:units = \"feet\" ;"})
            EXPECT_NE(header.find(want), std::string::npos) << want << "\n" << header;
        const std::string data = run("ncdump -v id,idn,num_sigt," + std::string(metres ? "SPD_man,Z_sigw" : "spd_man,z_sigw") + " " + path);
        EXPECT_NE(data.find("\"OUN\""), std::string::npos) << data;
        EXPECT_NE(data.find("idn = 72357, 72451 ;"), std::string::npos) << data;
        EXPECT_NE(data.find("num_sigt = 10, 10 ;"), std::string::npos) << data;
        // 10 kt surface-to-1000 mb wind: 5.144 m/s in type 12; 1000 ft: 304.8 m.
        EXPECT_NE(data.find(metres ? "7.716, 10.288" : "15, 10, 15, 20"), std::string::npos) << data;
        EXPECT_NE(data.find(metres ? "0, 304.8, 609.6" : "0, 1000, 2000"), std::string::npos) << data;

        int rtype = 0;
        const int rd = UPA_open(path.c_str(), 0, &rtype);
        ASSERT_GE(rd, 0);
        EXPECT_EQ(rtype, type);
        UPA_info rinfo{};
        EXPECT_EQ(UPA_getinfo(rd, &rinfo), 1);
        EXPECT_STREQ(rinfo.datim, "00Z 12 MAY 26");
        EXPECT_STREQ(rinfo.file, "26051200");
        for (int s : {1, 0, 0}) {
            UPA_report out;
            int statnum = s;
            ASSERT_EQ(UPA_read(rd, &out, UPA_REP_ALL, &statnum), 0);
            EXPECT_STREQ(out.id, in[s].id);
            EXPECT_STREQ(out.area, "UN");
            EXPECT_EQ(out.wmo, in[s].wmo);
            EXPECT_FLOAT_EQ(out.lon, in[s].lon);
            EXPECT_EQ(out.elev, 300.0f);
            EXPECT_EQ(out.numman, 25);
            EXPECT_EQ(out.numsig, 10);
            EXPECT_EQ(out.numwnd, 11);
            const float tol = metres ? 0.02f : 0.0f;  // knots -> m/s -> knots is not exact
            for (int i = 0; i < UPA_MAN_LEVELS; ++i) {
                EXPECT_EQ(out.man[i].p, in[s].man[i].p) << i;
                EXPECT_EQ(out.man[i].t, in[s].man[i].t) << i;
                EXPECT_NEAR(out.man[i].spd, in[s].man[i].spd, std::max(tol * std::fabs(in[s].man[i].spd), 1e-6f)) << i;
            }
            EXPECT_NEAR(out.wnd[10].h, 50000.0f, 1.0f);
            EXPECT_EQ(out.sig[9].p, 45.0f);
        }
        UPA_report out;
        int statnum = 2;
        EXPECT_EQ(UPA_read(rd, &out, UPA_REP_ALL, &statnum), -1);
        statnum = 1;
        ASSERT_EQ(UPA_read(rd, &out, 3, &statnum), 0);
        EXPECT_EQ(out.man[0].p, 850.0f);
        EXPECT_EQ(UPA_close(rd), 0);

        // A version-1 file (no "version" attribute) stores longitudes with the other sign.
        const std::string cdl = scratch("v1.cdl"), v1 = scratch(("v1_" + std::to_string(type) + ".nc").c_str());
        run("ncdump " + path + " | grep -v ':version = ' > " + cdl + " && ncgen -o " + v1 + " " + cdl);
        int t1 = 0;
        const int r1 = UPA_open(v1.c_str(), 0, &t1);
        ASSERT_GE(r1, 0);
        statnum = 0;
        ASSERT_EQ(UPA_read(r1, &out, UPA_REP_ALL, &statnum), 0);
        EXPECT_FLOAT_EQ(out.lon, 97.44f);
        UPA_close(r1);
    }
}

TEST(UaFile, NetcdfWithout925LevelKeepsIndices) {
    UPA_report r = make_report("OLD", 1, 1, 1, 0);
    for (int i = 2; i < 24; ++i) r.man[i] = r.man[i + 1];  // a file without the 925 mb slot
    const std::string path = scratch("no925.nc");
    ASSERT_EQ(write_file(path, UPA_NETCDF_STATION, &r, 1), 0);
    int f_type = 0;
    const int fd = UPA_open(path.c_str(), 0, &f_type);
    UPA_report out;
    int statnum = 0;
    ASSERT_EQ(UPA_read(fd, &out, UPA_REP_ALL, &statnum), 0);
    EXPECT_EQ(out.man[2].p, -9999.0f);
    EXPECT_EQ(out.man[3].p, 850.0f);
    EXPECT_EQ(out.man[5].p, 500.0f);
    ASSERT_EQ(UPA_read(fd, &out, 5, &statnum), 0);
    EXPECT_EQ(out.man[0].p, 500.0f);
    UPA_close(fd);
}
