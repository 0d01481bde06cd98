// The archive and exchange formats of soundings: BUFR (written by ecCodes as an oracle),
// TEMP bulletins, radiosonde archive station files and sounding tables (written here by
// hand from each format's documentation). Each carries the reference sounding of
// tests/data/sounding_ref.txt; its levels and indices must come back as from a QAZUPAx file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "mess.hpp"
#include "scratch_dir.hpp"
#include "sounding_fixture.hpp"
#include "ua_calc.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

namespace fs = std::filesystem;
constexpr float M = -9999.0f;

fs::path scratch(const std::string& name) { return scratch_dir("test_ua_formats") / name; }

void write_text(const fs::path& p, const std::string& text)
{
    std::ofstream out(p);
    out << text;
}

UPA_report reference()
{
    UPA_report r;
    EXPECT_TRUE(fixture_load(std::string(QAZ_TEST_DATA) + "/sounding_ref.txt", &r));
    return r;
}

// Every sounding of a file, with the header and the type detected.
struct FileRead {
    int type = 0;
    UPA_info info{};
    std::vector<UPA_report> reports;
    std::string messages;
};

FileRead read_all(const fs::path& p)
{
    FileRead f;
    fs::path log = scratch("messages.log");
    MESS_set(1, M_warn | M_error);
    MESS_file(log.c_str(), "w");
    int fd = UPA_open(p.c_str(), 0, &f.type);
    if (fd >= 0) {
        UPA_getinfo(fd, &f.info);
        for (int n = 0;; ++n) {
            UPA_report r;
            int statnum = n;
            if (UPA_read(fd, &r, UPA_REP_ALL, &statnum) < 0) break;
            f.reports.push_back(r);
        }
        UPA_close(fd);
    }
    MESS_file_close();
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    f.messages = s.str();
    return f;
}

std::unique_ptr<THERM_values> indices_of(const UPA_report& r)
{
    auto tv = std::make_unique<THERM_values>();
    EXPECT_GT(THERM_calc(&r, tv.get()), 0);
    THERM_indices(tv.get());
    return tv;
}

struct IndexTolerance {
    THERM_index index;
    double tolerance;
};

void expect_indices_near(const UPA_report& got, const UPA_report& want, const std::vector<IndexTolerance>& cases,
                         const std::string& what)
{
    auto a = indices_of(got), b = indices_of(want);
    for (const IndexTolerance& c : cases)
        EXPECT_NEAR(a->index[c.index], b->index[c.index], c.tolerance) << what << ": " << THERM_index_name(c.index);
}

const std::vector<IndexTolerance> kThermoIndices = {
    {TI_total_totals, 0.6}, {TI_k_index, 1.0},     {TI_lifted_index, 0.4}, {TI_cape, 120.0},
    {TI_cin, 15.0},         {TI_lcl, 8.0},         {TI_precip_water, 0.05}, {TI_freezing_level, 6.0},
};

// ---- BUFR ---------------------------------------------------------------------------

std::string python()
{
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

bool have_eccodes_python()
{
    static const bool ok = std::system((python() + " -c 'import eccodes' >/dev/null 2>&1").c_str()) == 0;
    return ok;
}

// The reference sounding at two stations (so that messages hold several subsets) as QAZUPAx.
fs::path reference_qazupa()
{
    fs::path p = scratch("ref.upa");
    int type = UPA_TEXT_X;
    int fd = UPA_open(p.c_str(), 1, &type);
    EXPECT_GE(fd, 0);
    UPA_info info{};
    std::snprintf(info.datim, sizeof info.datim, "12Z 20 MAY 26");
    UPA_putinfo(fd, &info);
    int statnum = 0;
    UPA_report r = reference();
    r.lat = 37.76f;
    r.lon = -99.97f;
    for (int wmo : {72451, 72562}) {
        r.wmo = wmo;
        std::snprintf(r.id, sizeof r.id, "S%d", wmo);
        UPA_write(fd, &r, UPA_REP_ALL, &statnum);
    }
    UPA_close(fd);
    return p;
}

fs::path make_bufr(const fs::path& in, int templ, int edition, int per_message)
{
    fs::path out = scratch("t" + std::to_string(templ) + "e" + std::to_string(edition) + ".bufr");
    std::string cmd = python() + " " + std::string(QAZ_SHARE_SRC) + "/../scripts/make_bufr_temp.py " + in.string() +
                      " " + out.string() + " --template " + std::to_string(templ) + " --edition " +
                      std::to_string(edition) + " --per-message " + std::to_string(per_message) +
                      " --date 2026052012";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
}

TEST(UaBufr, BothTemplatesAndEditionsReadBackEveryLevel)
{
    if (!have_eccodes_python()) GTEST_SKIP() << "ecCodes' Python binding is not installed";
    const fs::path src = reference_qazupa();
    const FileRead ref = read_all(src);
    ASSERT_EQ(ref.reports.size(), 2u);
    const UPA_report& want = ref.reports[0];
    struct Case {
        int templ, edition, per_message;
    } cases[] = {{309052, 4, 2}, {309052, 3, 1}, {309057, 4, 1}, {309057, 3, 2}};
    for (const Case& c : cases) {
        const std::string what = "template " + std::to_string(c.templ) + " edition " + std::to_string(c.edition);
        const FileRead f = read_all(make_bufr(src, c.templ, c.edition, c.per_message));
        EXPECT_EQ(f.type, UPA_BUFR) << what;
        ASSERT_EQ(f.reports.size(), 2u) << what << "\n" << f.messages;
        EXPECT_EQ(f.reports[1].wmo, 72562) << what;
        const UPA_report& got = f.reports[0];
        EXPECT_EQ(got.wmo, 72451) << what;
        EXPECT_STREQ(got.id, "72451") << what;
        EXPECT_NEAR(got.lat, 37.76f, 1e-4) << what;
        EXPECT_NEAR(got.lon, -99.97f, 1e-4) << what;
        EXPECT_EQ(got.time, 1779278400) << what;  // 2026-05-20 12 UTC
        EXPECT_STREQ(f.info.datim, "12Z 20 MAY 26") << what;
        // Mandatory, tropopause and maximum-wind levels, exactly as the record had them.
        for (int m : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 22, 23}) {
            const UPA_man &a = got.man[m], &b = want.man[m];
            EXPECT_NEAR(a.p, b.p, 0.01) << what << " man " << m;
            // Speeds travel in tenths of m/s: within 0.1 kt.
            for (auto [x, y, tol] : {std::tuple{a.h, b.h, 0.01}, {a.t, b.t, 0.01}, {a.td, b.td, 0.01},
                                     {a.dir, b.dir, 0.01}, {a.spd, b.spd, 0.1}})
                EXPECT_NEAR(x, y, tol) << what << " man " << m;
        }
        if (c.templ == 309052) {
            // Every significant and wind level, in order.
            ASSERT_EQ(got.numsig, want.numsig) << what;
            for (int i = 0; i < want.numsig; ++i) {
                EXPECT_NEAR(got.sig[i].p, want.sig[i].p, 0.01) << what << " sig " << i;
                EXPECT_NEAR(got.sig[i].t, want.sig[i].t, 0.01) << what << " sig " << i;
                EXPECT_NEAR(got.sig[i].td, want.sig[i].td, 0.01) << what << " sig " << i;
            }
            ASSERT_EQ(got.numwnd, want.numwnd) << what;
            for (int i = 0; i < want.numwnd; ++i) {
                EXPECT_NEAR(got.wnd[i].h, want.wnd[i].h, 2.0) << what << " wnd " << i;  // whole metres in BUFR
                EXPECT_NEAR(got.wnd[i].dir, want.wnd[i].dir, 0.01) << what << " wnd " << i;
                EXPECT_NEAR(got.wnd[i].spd, want.wnd[i].spd, 0.1) << what << " wnd " << i;
            }
            expect_indices_near(got, want,
                                {{TI_total_totals, 0.01}, {TI_k_index, 0.01}, {TI_lifted_index, 0.01}, {TI_cape, 1.0},
                                 {TI_cin, 1.0}, {TI_lcl, 0.1}, {TI_precip_water, 0.001}, {TI_helicity_3km, 1.0}},
                                what);
        } else {
            // The full profile (every 2 mb) is thinned to what the record holds, keeping each
            // reported level; the rest lie on straight lines between them.
            EXPECT_EQ(got.numsig, UPA_SIG_LEVELS) << what;
            for (int i = 0; i < want.numsig; ++i) {
                bool found = false;
                for (int k = 0; k < got.numsig && !found; ++k)
                    found = std::fabs(got.sig[k].p - want.sig[i].p) < 0.01 && std::fabs(got.sig[k].t - want.sig[i].t) < 0.01;
                EXPECT_TRUE(found) << what << " sig level " << want.sig[i].p;
            }
            expect_indices_near(got, want, kThermoIndices, what);
        }
    }
}

TEST(UaBufr, DamagedMessageIsSkippedAndTheRestReads)
{
    if (!have_eccodes_python()) GTEST_SKIP() << "ecCodes' Python binding is not installed";
    const fs::path good = make_bufr(reference_qazupa(), 309052, 4, 1);
    std::ifstream in(good, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t second = bytes.find("BUFR", 4);
    ASSERT_NE(second, std::string::npos);
    struct Case {
        const char* what;
        std::string data;
        std::size_t stations;
        const char* message;
    } cases[] = {
        // A heading before each message, as on the exchange.
        {"headings", "IUSK01 KWBC 201200\r\r\n" + bytes.substr(0, second) + "\r\r\nIUSK02 KWBC 201200\r\r\n" + bytes.substr(second), 2, ""},
        // The first message cut short: its end marker is missing.
        {"truncated", bytes.substr(0, second - 10) + bytes.substr(second), 1, "message 1 at byte 0: truncated"},
        // Data section of the first message overwritten.
        {"damaged", [&] { std::string b = bytes; for (std::size_t i = 60; i < 120; ++i) b[i] = '\xff'; return b; }(), 1, "message 1"},
    };
    for (const Case& c : cases) {
        fs::path p = scratch(std::string(c.what) + ".bufr");
        std::ofstream(p, std::ios::binary) << c.data;
        const FileRead f = read_all(p);
        EXPECT_EQ(f.reports.size(), c.stations) << c.what << "\n" << f.messages;
        if (!f.reports.empty()) {
            EXPECT_EQ(f.reports.back().wmo, 72562) << c.what;
        }
        EXPECT_NE(f.messages.find(c.message), std::string::npos) << c.what << "\n" << f.messages;
    }
}

// ---- TEMP bulletins -------------------------------------------------------------------

// The reference sounding at 72451, 20th 12 UTC, winds in knots (day + 50), in two messages:
// parts A and C first (with a second station in metres per second), parts B, D and the
// wind part by height later; a third station's part A is damaged.
const char* kBulletin =
    "ZCZC 101\r\r\n"
    "USUS41 KWBC 201200\r\r\n"
    "TTAA 70121 72451 99965 30060 17015 00045 ///// ///// 92733 26058 18530\r\r\n"
    "85467 21057 20035 70115 09061 22530 50580 11164 24045 40747 21563\r\r\n"
    "24555 30953 36162 25070 25077 45161 25080 20224 54160 25575 15405\r\r\n"
    "60160 26055 10655 66160 26535 88180 57160 25570 77260 25085 42015\r\r\n"
    "31313 58708 81102 51515 10164 00094 10194 29016=\r\r\n"
    "TTAA 20120 72562 99930 15850 27005 00/// ///// ///// 92560 14056\r\r\n"
    "85250 10457 70870 00160 50560 17964 40725 29164 30920 43760\r\r\n"
    "25050 51160 20180 56760 15370 60160 10610 65960 88200 55960\r\r\n"
    "26010 77999=\r\r\n"
    "TTAA 70121 72469 99840 12X04 31010 00/// ///// /////=\r\r\n"
    "NNNN\r\r\n"
    "ZCZC 102\r\r\n"
    "UMUS41 KWBC 201200\r\r\n"
    "TTCC 70127 72451 70873 631// 27020 88999 77999=\r\r\n"
    "NNNN\r\r\n"
    "ZCZC 103\r\r\n"
    "ULUS41 KWBC 201200\r\r\n"
    "TTBB 7012/ 72451 00965 30060 11940 27458 22900 24058 33870 22057\r\r\n"
    "44820 21463 55780 18064 66650 04062 77600 00563 88550 05563\r\r\n"
    "99450 16164 11350 28563 22180 57160 33120 63160 21212 00965\r\r\n"
    "17015 11930 17525 22900 19035 31313 58708 81102 41414 45758\r\r\n"
    "51515 10164 00094 10194 29016=\r\r\n"
    "TTDD 7012/ 72451 11400 62556=\r\r\n"
    "PPBB 7012/ 72451 90012 17015 17525 19035 90346 20038 21035\r\r\n"
    "22030=\r\r\n"
    "NNNN\r\r\n";

TEST(UaTemp, PartsOfOneStationMergeAcrossMessages)
{
    fs::path p = scratch("bulletin.txt");
    write_text(p, kBulletin);
    const FileRead f = read_all(p);
    EXPECT_EQ(f.type, UPA_TEMP);
    ASSERT_EQ(f.reports.size(), 2u) << f.messages;
    const UPA_report& r = f.reports[0];
    EXPECT_EQ(r.wmo, 72451);
    EXPECT_STREQ(r.id, "72451");
    // Part A: surface, standard levels, tropopause and maximum wind (knots as reported).
    struct ManCase {
        int index;
        UPA_man want;
    } man[] = {
        {0, {965, M, 30.0f, 20.0f, 170, 15}},    {1, {1000, 45, M, M, M, M}},
        {3, {850, 1467, 21.0f, 14.0f, 200, 35}}, {4, {700, 3115, 9.0f, -2.0f, 225, 30}},
        {5, {500, 5800, -11.1f, -25.1f, 240, 45}}, {11, {100, 16550, -66.1f, -76.1f, 265, 35}},
        {12, {70, 18730, -63.1f, M, 270, 20}},    {22, {180, M, -57.1f, -67.1f, 255, 70}},
        {23, {260, M, M, M, 250, 85}},
    };
    for (const ManCase& c : man) {
        const UPA_man& a = r.man[c.index];
        const float got[] = {a.p, a.h, a.t, a.td, a.dir, a.spd};
        const float want[] = {c.want.p, c.want.h, c.want.t, c.want.td, c.want.dir, c.want.spd};
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], want[k], 0.01) << "man " << c.index << " value " << k;
    }
    // Parts B and D: the significant levels, surface first, 40.0 mb from part D last.
    ASSERT_GE(r.numsig, 14);
    EXPECT_FLOAT_EQ(r.sig[0].p, 965.0f);
    EXPECT_NEAR(r.sig[1].t, 27.4f, 0.01);
    EXPECT_NEAR(r.sig[1].td, 19.4f, 0.01);
    EXPECT_NEAR(r.sig[r.numsig - 1].p, 40.0f, 0.01);
    EXPECT_NEAR(r.sig[r.numsig - 1].t, -62.5f, 0.01);
    EXPECT_NEAR(r.sig[r.numsig - 1].td, -68.5f, 0.01);
    // Winds: PPBB by height (300 m units, surface at 0) and the 21212 section by pressure.
    bool at_900m = false, at_930mb = false;
    for (int i = 0; i < r.numwnd; ++i) {
        at_900m = at_900m || (std::fabs(r.wnd[i].h - 900.0f / 0.3048f) < 1.0f && r.wnd[i].dir == 200.0f);
        at_930mb = at_930mb || (r.wnd[i].dir == 175.0f && r.wnd[i].spd == 25.0f);
    }
    EXPECT_TRUE(at_900m);
    EXPECT_TRUE(at_930mb);
    // The second station: wind groups at 1000 mb only (Id 0), speeds in m/s.
    const UPA_report& s = f.reports[1];
    EXPECT_EQ(s.wmo, 72562);
    EXPECT_NEAR(s.man[0].p, 930.0f, 0.01);
    EXPECT_NEAR(s.man[0].spd, 5.0f / 0.5144f, 0.01);
    EXPECT_EQ(s.man[3].dir, M);
    EXPECT_NEAR(s.man[3].h, 1250.0f, 0.01);
    EXPECT_NEAR(s.man[22].p, 200.0f, 0.01);
    // The damaged third station is refused with its number and line; the rest read.
    EXPECT_NE(f.messages.find("station 72469 line 12"), std::string::npos) << f.messages;
    expect_indices_near(r, reference(), kThermoIndices, "TEMP");
}

TEST(UaTemp, DetectionAndSkippedSections)
{
    struct Case {
        const char* text;
        int type;
        std::size_t stations;
        int sig;  // significant levels of the first station
    } cases[] = {
        // Without headings, no "=" before the next part, regional groups that look like levels.
        {"TTBB 7012/ 72451 00965 30060 11940 27458\nTTBB 7012/ 72452 00970 30060 51515 11940 27458=\n", UPA_TEMP, 2, 2},
        // Several stations in one part A after one MiMiMjMj.
        {"TTAA 70121 72451 99965 30060 17015 77999=\n70121 72452 99970 30060 17015 77999=\n", UPA_TEMP, 2, 1},
        // NIL reports hold nothing.
        {"TTAA 70121 72451 NIL=\nTTBB 7012/ 72452 00965 30060=\n", UPA_TEMP, 1, 1},
        {"USUS41 KWBC 201200\nnothing here\n", -1, 0, 0},
    };
    for (const Case& c : cases) {
        fs::path p = scratch("small.txt");
        write_text(p, c.text);
        EXPECT_EQ(UPA_chktype(p.c_str()), c.type) << c.text;
        if (c.type < 0) continue;
        const FileRead f = read_all(p);
        ASSERT_EQ(f.reports.size(), c.stations) << c.text << f.messages;
        EXPECT_EQ(f.reports[0].numsig, c.sig) << c.text;
    }
}

// ---- Radiosonde archive (version 2 station files) -----------------------------------

std::string igra_header(int year, int month, int day, int hour, int levels, double lat, double lon)
{
    char line[96];
    std::snprintf(line, sizeof line, "#USM00072451 %4d %02d %02d %02d %04d %4d %-8s %-8s %7ld %8ld", year, month, day,
                  hour, hour * 100 + 5, levels, "ncdc-gts", "ncdc-gts", std::lround(lat * 10000), std::lround(lon * 10000));
    return std::string(line) + "\n";
}

// One data record: level types, elapsed time, pressure (Pa), height, temperature, humidity,
// dew-point depression (tenths), direction, speed (tenths of m/s); flags after p, h, t.
std::string igra_level(int type1, int type2, float p, float h, float t, float td, float dir, float spd)
{
    auto tenths = [](float v) { return v == M ? -9999L : std::lround(v * 10.0f); };
    char line[96];
    std::snprintf(line, sizeof line, "%d%d %5d %6ld%c%5ld%c%5ld%c%5d %5ld %5ld %5ld", type1, type2, 120,
                  p == M ? -9999L : std::lround(p * 100.0f), p == M ? ' ' : 'B', h == M ? -9999L : std::lround(h),
                  h == M ? ' ' : 'A', tenths(t), t == M ? ' ' : 'B', -9999, t == M || td == M ? -9999L : tenths(t - td),
                  dir == M ? -9999L : std::lround(dir), spd == M ? -9999L : std::lround(spd * 0.5144f * 10.0f));
    return std::string(line) + "\n";
}

std::string igra_reference_sounding(int day)
{
    const UPA_report r = reference();
    std::vector<std::string> lines;
    const UPA_man& s = r.man[0];
    lines.push_back(igra_level(2, 1, s.p, s.h, s.t, s.td, s.dir, s.spd));
    for (int m = 1; m <= 12; ++m) {
        const UPA_man& l = r.man[m];
        lines.push_back(igra_level(1, 0, l.p, l.h, l.t, l.td, l.dir, l.spd));
    }
    for (int i = 1; i < r.numsig; ++i) {
        const UPA_sig& l = r.sig[i];
        lines.push_back(igra_level(2, l.p == r.man[22].p ? 2 : 0, l.p, M, l.t, l.td, M, M));
    }
    for (int i = 1; i < r.numwnd; ++i)
        lines.push_back(igra_level(3, 0, M, r.wnd[i].h * 0.3048f, M, M, r.wnd[i].dir, r.wnd[i].spd));
    std::string text = igra_header(2026, 5, day, 12, static_cast<int>(lines.size()), 37.76, -99.97);
    for (const std::string& l : lines) text += l;
    return text;
}

TEST(UaIgra, EverySoundingOfAStationFileReadsByTime)
{
    std::string text = igra_reference_sounding(19) + igra_reference_sounding(20);
    // A truncated sounding (fewer records than its header says) and a damaged one.
    text += igra_header(2026, 5, 21, 0, 3, 37.76, -99.97) + igra_level(2, 1, 965, 360, 30, 20, 170, 15);
    std::string bad = igra_level(2, 1, 965, 360, 30, 20, 170, 15);
    bad[37] = 'X';  // in the dew-point depression
    text += igra_header(2026, 5, 21, 12, 1, 37.76, -99.97) + bad;
    text += igra_reference_sounding(22);
    fs::path p = scratch("USM00072451-data.txt");
    write_text(p, text);
    const FileRead f = read_all(p);
    EXPECT_EQ(f.type, UPA_IGRA);
    ASSERT_EQ(f.reports.size(), 3u) << f.messages;
    const int day = 86400, may19 = 1779192000;  // 2026-05-19 12 UTC
    const int times[] = {may19, may19 + day, may19 + 3 * day};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(f.reports[i].time, times[i]);
        EXPECT_EQ(f.reports[i].wmo, 72451);
        EXPECT_STREQ(f.reports[i].id, "72451");
        EXPECT_STREQ(f.reports[i].area, "US");
        EXPECT_NEAR(f.reports[i].lat, 37.76f, 1e-4);
        EXPECT_NEAR(f.reports[i].lon, -99.97f, 1e-4);
    }
    EXPECT_NE(f.messages.find("station 72451 line 77: sounding truncated"), std::string::npos) << f.messages;
    EXPECT_NE(f.messages.find("station 72451 line 80: damaged data record"), std::string::npos) << f.messages;

    const UPA_report& r = f.reports[1];
    const UPA_report want = reference();
    EXPECT_NEAR(r.elev, 360.0f, 0.01);
    for (int m : {0, 3, 5, 12}) {
        EXPECT_NEAR(r.man[m].p, want.man[m].p, 0.01) << m;
        EXPECT_NEAR(r.man[m].t, want.man[m].t, 0.01) << m;
        EXPECT_NEAR(r.man[m].spd, want.man[m].spd, 0.1) << m;  // tenths of m/s
    }
    EXPECT_NEAR(r.man[22].p, 180.0f, 0.01);
    EXPECT_EQ(r.numsig, want.numsig);
    EXPECT_EQ(r.numwnd, want.numwnd);
    expect_indices_near(r, want, kThermoIndices, "archive");

    // Reading by time: the sounding of the 20th.
    UPA_report at;
    int type = 0;
    int fd = UPA_open(p.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(UPA_get_station_at(fd, "72451", may19 + day, &at, UPA_REP_ALL), 1);
    EXPECT_EQ(at.time, may19 + day);
    EXPECT_EQ(UPA_get_station_at(fd, "72451", may19 + 2 * day, &at, UPA_REP_ALL), -1);
    UPA_close(fd);
}

// ---- Sounding tables ------------------------------------------------------------------

std::string table_of_reference(bool damaged)
{
    const UPA_report r = reference();
    std::string text = "72451 DDC Dodge City Observations at 12Z 20 May 2026\n\n";
    const char* dashes = "-----------------------------------------------------------------------------\n";
    text += dashes;
    text += "   PRES   HGHT   TEMP   DWPT   RELH   MIXR   DRCT   SKNT   THTA   THTE   THTV\n";
    text += "    hPa     m      C      C      %    g/kg    deg   knot     K      K      K \n";
    text += dashes;
    struct Row {
        float p, h, t, td, dir, spd;
    };
    std::vector<Row> rows;
    for (int m = 0; m <= 12; ++m) {
        const UPA_man& l = r.man[m];
        rows.push_back({l.p, l.h, l.t, l.td, l.dir, l.spd});
    }
    for (int i = 1; i < r.numsig; ++i) rows.push_back({r.sig[i].p, M, r.sig[i].t, r.sig[i].td, M, M});
    std::sort(rows.begin() + 1, rows.end(), [](const Row& a, const Row& b) { return a.p > b.p; });
    std::swap(rows[0], rows[1]);  // 1000 mb (below ground) heads the table
    auto cell = [](float v, const char* fmt) {
        char c[16];
        if (v == M) return std::string(7, ' ');
        std::snprintf(c, sizeof c, fmt, v);
        return std::string(c);
    };
    for (const Row& row : rows) {
        text += cell(row.p, "%7.1f") + cell(row.h, "%7.0f") + cell(row.t, "%7.1f") + cell(row.td, "%7.1f") +
                "     50  10.00" + cell(row.dir, "%7.0f") + cell(row.spd, "%7.0f") + "  300.0  330.0  302.0\n";
        if (damaged && row.p == 700.0f) text += "  650.0   3722    4.O   -8.0\n";
    }
    text += "Station information and sounding indices\n"
            "                         Station identifier: DDC\n"
            "                             Station number: 72451\n"
            "                           Observation time: 260520/1200\n"
            "                           Station latitude: 37.76\n"
            "                          Station longitude: -99.97\n"
            "                          Station elevation: 360.0\n"
            "                            Showalter index: 1.11\n";
    return text;
}

TEST(UaTable, ColumnsBlankCellsAndStationBlock)
{
    fs::path p = scratch("table.txt");
    write_text(p, table_of_reference(false) + "\n" + table_of_reference(true));
    const FileRead f = read_all(p);
    EXPECT_EQ(f.type, UPA_TABLE);
    ASSERT_EQ(f.reports.size(), 2u) << f.messages;
    const UPA_report& r = f.reports[0];
    EXPECT_STREQ(r.id, "DDC");
    EXPECT_EQ(r.wmo, 72451);
    EXPECT_EQ(r.time, 1779278400);
    EXPECT_NEAR(r.lat, 37.76f, 1e-4);
    EXPECT_NEAR(r.elev, 360.0f, 0.01);
    const UPA_report want = reference();
    EXPECT_NEAR(r.man[0].p, 965.0f, 0.01);
    EXPECT_NEAR(r.man[1].h, 45.0f, 0.01);
    EXPECT_EQ(r.man[1].t, M);
    EXPECT_NEAR(r.man[12].td, M, 0.01);  // blank cell
    EXPECT_EQ(r.numsig, want.numsig);
    expect_indices_near(r, want, kThermoIndices, "table");
    // The damaged row (an extra 650 mb line) is refused with the station and its line; the
    // second sounding reads in full.
    EXPECT_EQ(f.reports[1].numsig, want.numsig);
    EXPECT_NE(f.messages.find("station DDC line 57: damaged table row"), std::string::npos) << f.messages;
}

TEST(UaTable, ColumnOrderAndUnits)
{
    const char* text =
        "   HGHT   PRES   TEMP   DWPT   SKNT   DRCT\n"
        "      m    hPa      K      C    m/s    deg\n"
        "-------------------------------------------\n"
        "    360  965.0 303.15   20.0      5    170\n"
        "   1467  850.0 294.15   14.0     10    200\n";
    fs::path p = scratch("units.txt");
    write_text(p, text);
    const FileRead f = read_all(p);
    ASSERT_EQ(f.reports.size(), 1u) << f.messages;
    EXPECT_NEAR(f.reports[0].man[0].t, 30.0f, 0.01);
    EXPECT_NEAR(f.reports[0].man[3].spd, 10.0f / 0.5144f, 0.01);
    EXPECT_NEAR(f.reports[0].man[3].h, 1467.0f, 0.01);
}

TEST(UaTable, LongProfileThinsToTheRecordKeepingItsShape)
{
    // 1 mb steps from 1000 to 201 mb: a straight lapse in ln p with an inversion between 801
    // and 780 mb (its corners at 801 and 780 mb are unflagged levels) and a dry layer above.
    std::string text = "   PRES   HGHT   TEMP   DWPT   DRCT   SKNT\n-----------------------------------------\n";
    auto temp_at = [](int p) {
        float t = 25.0f + 40.0f * std::log(p / 1000.0f);
        if (p <= 801 && p >= 780) t += 0.4f * static_cast<float>(801 - p);
        else if (p < 780) t += 8.4f;
        return t;
    };
    for (int p = 1000; p > 200; --p) {
        char row[64];
        std::snprintf(row, sizeof row, "%7.1f%7s%7.1f%7.1f%7d%7d\n", static_cast<float>(p), p == 1000 ? "    100" : "",
                      temp_at(p), temp_at(p) - (p < 600 ? 30.0f : 5.0f), 200 + (1000 - p) / 10, 10 + (1000 - p) / 20);
        text += row;
    }
    fs::path path = scratch("long.txt");
    write_text(path, text);
    const FileRead f = read_all(path);
    ASSERT_EQ(f.reports.size(), 1u) << f.messages;
    const UPA_report& r = f.reports[0];
    EXPECT_EQ(r.numsig, UPA_SIG_LEVELS);
    EXPECT_EQ(r.numwnd, UPA_WND_LEVELS);
    bool corner_801 = false, corner_780 = false, dry_601 = false;
    for (int i = 0; i < r.numsig; ++i) {
        corner_801 = corner_801 || r.sig[i].p == 801.0f;
        corner_780 = corner_780 || r.sig[i].p == 780.0f;
        dry_601 = dry_601 || r.sig[i].p == 600.0f || r.sig[i].p == 599.0f;
        if (i > 0) {
            EXPECT_LT(r.sig[i].p, r.sig[i - 1].p);
        }
    }
    EXPECT_FLOAT_EQ(r.sig[0].p, 1000.0f);
    EXPECT_FLOAT_EQ(r.sig[r.numsig - 1].p, 201.0f);
    EXPECT_TRUE(corner_801 && corner_780 && dry_601);
    // Mandatory levels come from their rows.
    EXPECT_NEAR(r.man[3].t, temp_at(850), 0.05);
    EXPECT_NEAR(r.man[5].td, temp_at(500) - 30.0f, 0.05);
}

// ---- soundcalc on each format -----------------------------------------------------------

std::string run_soundcalc(const fs::path& file, int* status)
{
    fs::path out = scratch("soundcalc.out");
    std::string cmd = std::string(QAZ_BIN_DIR) + "/soundcalc " + file.string() + " -pa tt,li,cape -me error > " +
                      out.string() + " 2>&1 < /dev/null";
    int rc = std::system(cmd.c_str());
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The index lines of a soundcalc table (station lines left out: the identifiers differ).
std::string index_lines(const std::string& out)
{
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.rfind("  ", 0) == 0) kept += line + "\n";
    return kept;
}

TEST(UaFormats, SoundcalcReadsEveryFormat)
{
    fs::path temp = scratch("sc_bulletin.txt"), igra = scratch("sc_igra.txt"), table = scratch("sc_table.txt");
    write_text(temp, kBulletin);
    write_text(igra, igra_reference_sounding(20));
    write_text(table, table_of_reference(false));
    for (const auto& [what, file] : {std::pair{"TEMP", temp}, {"archive", igra}, {"table", table}}) {
        int status = -1;
        const std::string out = run_soundcalc(file, &status);
        EXPECT_EQ(status, 0) << what << "\n" << out;
        EXPECT_NE(out.find("72451"), std::string::npos) << what << "\n" << out;
        EXPECT_NE(out.find("tt             5"), std::string::npos) << what << "\n" << out;
    }
    // BUFR gives the very table of the QAZUPAx file it was made from.
    if (!have_eccodes_python()) GTEST_SKIP() << "ecCodes' Python binding is not installed";
    const fs::path qazupa = reference_qazupa();
    int status = -1, ref_status = -1;
    const std::string out = run_soundcalc(make_bufr(qazupa, 309052, 4, 1), &status);
    const std::string ref = run_soundcalc(qazupa, &ref_status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(ref_status, 0) << ref;
    EXPECT_NE(index_lines(out), "");
    EXPECT_EQ(index_lines(out), index_lines(ref));
}

}  // namespace
