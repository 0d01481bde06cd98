// GRIB grid files: every message of the ecCodes-written fixtures decoded and compared value by
// value and in geometry with ecCodes' own decode; wrappers, positioning by grid number, the
// header index file, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "grib1_helpers.hpp"
#include "mess.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kData = std::string(QAZ_TEST_DATA) + "/grib1/";

std::string scratch(const char* name) { return (scratch_dir("test_grd_grib") / name).string(); }

struct Quiet {
    M_type saved = MESS_get();
    Quiet() { MESS_set(0, M_none); }
    ~Quiet() { MESS_set(0, saved); }
};

struct Expect {
    int nx, ny, proj;
    double clat, clon, dx, dy, plat, plon, p0, p1, tol;
    int ltype, level, var, time;
    std::vector<double> values;
};

std::vector<Expect> load_expect(const std::string& path) {
    std::vector<Expect> out;
    std::ifstream in(path);
    std::string head, vals;
    while (std::getline(in, head) && std::getline(in, vals)) {
        Expect e{};
        std::istringstream h(head);
        h >> e.nx >> e.ny >> e.proj >> e.clat >> e.clon >> e.dx >> e.dy >> e.plat >> e.plon >>
            e.p0 >> e.p1 >> e.tol >> e.ltype >> e.level >> e.var >> e.time;
        std::istringstream v(vals);
        double x;
        while (v >> x) e.values.push_back(x);
        out.push_back(std::move(e));
    }
    return out;
}

class Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(Fixture, EveryMessageMatchesTheOracle) {
    const std::string name = GetParam();
    const auto expect = load_expect(kData + name + ".expect");
    ASSERT_FALSE(expect.empty()) << name;
    GribFile file(kData + name + ".grib1");
    ASSERT_NE(file.gf.file, nullptr);
    for (std::size_t m = 0; m < expect.size(); ++m) {
        SCOPED_TRACE(name + " message " + std::to_string(m));
        const Expect& e = expect[m];
        Report r;
        ASSERT_EQ(file.read(&r, int(m)), 0);
        EXPECT_EQ(r.version, 1);
        EXPECT_EQ(r.domain.proj, e.proj);
        ASSERT_EQ(r.domain.nx, e.nx);
        ASSERT_EQ(r.domain.ny, e.ny);
        EXPECT_NEAR(r.domain.clat, e.clat, 0.05);
        EXPECT_NEAR(r.domain.clon, e.clon, 0.05);
        if (e.dx != -9999) {
            EXPECT_NEAR(r.domain.dx, e.dx, 1e-3);
            EXPECT_NEAR(r.domain.dy, e.dy, 1e-3);
        }
        if (e.plon != -9999) {
            EXPECT_NEAR(r.domain.plon, e.plon > 180 ? e.plon - 360 : e.plon, 1e-3);
        }
        if (e.plat != -9999) {
            EXPECT_NEAR(r.domain.plat, e.plat, 1e-3);
        }
        if (e.p0 != -9999) {
            EXPECT_NEAR(r.domain.param[0], e.p0, 1e-3);
            EXPECT_NEAR(r.domain.param[1], e.p1, 1e-3);
        }
        EXPECT_EQ(r.ltype, e.ltype);
        EXPECT_EQ(r.level, e.level);
        EXPECT_EQ(r.var, e.var);
        EXPECT_EQ(r.time, e.time);
        ASSERT_NE(r.grid, nullptr);
        ASSERT_EQ(e.values.size(), std::size_t(e.nx) * std::size_t(e.ny));
        int bad = 0;
        for (std::size_t i = 0; i < e.values.size() && bad < 5; ++i) {
            const double want = e.values[i], got = r.grid[i];
            if (want == -9999 || got == -9999) {
                if (want != got) ++bad;
                EXPECT_EQ(got, want) << "point " << i;
            } else if (std::fabs(got - want) > e.tol + 1e-6 * std::fabs(want)) {
                ++bad;
                ADD_FAILURE() << "point " << i << ": " << got << " want " << want;
            }
        }
    }
    Report past;
    EXPECT_EQ(file.read(&past, int(expect.size())), -1);
}

INSTANTIATE_TEST_SUITE_P(Oracle, Fixture,
                         ::testing::Values("ll_scan", "ll_bits", "ll_bitmap", "projections",
                                           "reduced_ll"));

// Wrapped messages: the kind is learned and each heading read.
struct WrapCase {
    const char* name;
    int kind;
    std::string before1, before2, after;
    const char* heading;
};

TEST(GribWrappers, EachKindFindsEveryMessage) {
    Msg1 a;
    a.latlon(3, 2, 10, 0, 9, 2, 0);
    a.data({0, 1, 2, 3, 4, 5}, 4, 100.0);
    const Bytes m1 = a.build();
    a.pds[8] = 7;
    const Bytes m2 = a.build();
    auto old_len = [](const Bytes& m) { return std::to_string(m.size()); };
    const WrapCase cases[] = {
        {"qaz", GRIB_WRAP_QAZ, "** HTRA98 KWBC 151200\n", "\n** HHRA50 KWBC 151200\n", "\n",
         "HTRA98 KWBC 151200"},
        {"ldm", GRIB_WRAP_LDM, "\x01\r\r\n123\r\r\nHTRA98 KWBC 151200\r\r\n",
         "\x01\r\r\n124\r\r\nHHRA50 KWBC 151200\r\r\n", "\r\r\n\x03", "HTRA98 KWBC 151200"},
        {"old", GRIB_WRAP_OLD_QAZ,
         "GRIB: " + old_len(m1) + "\n\x01\r\r\nskip\r\r\nHTRA98 KWBC 151200\r\r\n",
         "GRIB: " + old_len(m2) + "\n\x01\r\r\nskip\r\r\nHHRA50 KWBC 151200\r\r\n", "\n",
         "HTRA98 KWBC 151200"},
        {"raw", GRIB_WRAP_RAW, "", "", "", "GRIB01 KXXX 010000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file(c.before1.begin(), c.before1.end());
        file.insert(file.end(), m1.begin(), m1.end());
        file.insert(file.end(), c.after.begin(), c.after.end());
        file.insert(file.end(), c.before2.begin(), c.before2.end());
        file.insert(file.end(), m2.begin(), m2.end());
        file.insert(file.end(), c.after.begin(), c.after.end());
        const std::string path = scratch(c.name);
        write_file(path, file);
        GribFile f(path);
        Report r1, r2;
        ASSERT_EQ(f.read(&r1, 0), 0);
        EXPECT_EQ(f.gf.itype, c.kind);
        char heading[19];
        grib_get_wmo_gf(&f.gf, heading);
        EXPECT_STREQ(heading, c.heading);
        EXPECT_EQ(r1.var, 11);
        ASSERT_EQ(f.read(&r2, 1), 0);
        EXPECT_EQ(r2.var, 7);
        EXPECT_EQ(r2.grid[5], 105.0f);
        Report r3;
        EXPECT_EQ(f.read(&r3, 2), -1);
        // Back to the first grid: rewinds and finds it again.
        Report again;
        ASSERT_EQ(f.read(&again, 0), 0);
        EXPECT_EQ(again.var, 11);
    }
}

// An old-form length no file can hold is not taken as the record's end (the sanitizer build
// saw the offset sum overflow): the message behind it still reads, and nothing follows it.
TEST(GribWrappers, OldFormLengthBeyondAnyFile) {
    Quiet quiet;
    Msg1 a;
    a.latlon(3, 2, 10, 0, 9, 2, 0);
    a.data({0, 1, 2, 3, 4, 5}, 4, 100.0);
    const Bytes m = a.build();
    const std::string head = "GRIB: 9223372036854775806\n\x01\r\r\nskip\r\r\nHTRA98 KWBC 151200\r\r\n";
    Bytes file(head.begin(), head.end());
    file.insert(file.end(), m.begin(), m.end());
    const std::string path = scratch("old_huge_length");
    write_file(path, file);
    GribFile f(path);
    Report r, next;
    ASSERT_EQ(f.read(&r, 0), 0);
    EXPECT_EQ(r.grid[5], 105.0f);
    EXPECT_EQ(f.read(&next, 1), -1);
}

TEST(GribWrappers, FalseStartsBeforeAMessageAreSkipped) {
    Quiet quiet;
    const Bytes good = read_file(kData + "ll_bits.grib1");
    Bytes file;
    for (int i = 0; i < 3000; ++i) {  // indicator sections whose messages never end
        const unsigned char junk[] = {'G', 'R', 'I', 'B', 0x00, 0x80, 0x00, 0x01};
        file.insert(file.end(), junk, junk + sizeof junk);
    }
    file.insert(file.end(), good.begin(), good.end());
    const std::string path = scratch("false_starts.grib");
    write_file(path, file);
    GribFile f(path);
    Report r;
    ASSERT_EQ(f.read(&r, 0), 0);
    EXPECT_EQ(f.gf.cur_pos, off_t(3000 * 8));
    Report last;
    EXPECT_EQ(f.read(&last, 17), 0);
}

TEST(GribPositions, ForwardBackwardAndRepeatedReads) {
    GribFile f(kData + "ll_bits.grib1");
    Report a, b, c, d;
    ASSERT_EQ(f.read(&a, 5, 1), 0);  // header only, stepping over 0-4
    EXPECT_EQ(a.grid, nullptr);
    EXPECT_EQ(f.gf.num, 5);
    ASSERT_EQ(f.read(&b, 5), 0);     // same grid again, now with values
    ASSERT_NE(b.grid, nullptr);
    ASSERT_EQ(f.read(&c, 2), 0);     // backwards
    ASSERT_EQ(f.read(&d, 5), 0);
    for (int i = 0; i < 45; ++i) EXPECT_EQ(b.grid[i], d.grid[i]);
    GRD_info info;
    ASSERT_EQ(grd_grib_getinfo(0, &f.gf, &info), 0);
    EXPECT_EQ(info.date.year, 2026);
    EXPECT_EQ(info.date.month, 1);
    EXPECT_EQ(info.date.day, 15);
    EXPECT_EQ(info.date.hour, 12);
    EXPECT_EQ(f.gf.grid, 1);
    // A position set from outside: the message at that offset is the grid named.
    Report e;
    ASSERT_EQ(f.read(&e, 3), 0);
    const off_t third = f.gf.cur_pos;
    f.gf.new_pos = third;
    f.gf.num = 7;
    Report g;
    ASSERT_EQ(f.read(&g, 7), 0);
    EXPECT_EQ(f.gf.cur_pos, third);
    for (int i = 0; i < 45; ++i) EXPECT_EQ(g.grid[i], e.grid[i]);
}

TEST(GribPositions, HeaderOnlyReadsLeaveTheDataUnread) {
    GribFile f(kData + "projections.grib1");
    Report head;
    ASSERT_EQ(f.read(&head, 0, 2), 0);
    EXPECT_EQ(head.domain.proj, 1);
    const GribStream* st = grib_stream(&f.gf);
    EXPECT_TRUE(st->partial);
    EXPECT_LT(st->msg.size(), st->length);
    unsigned char* raw = nullptr;  // the whole message is fetched when asked for
    const long n = grib_get_raw_gf(&f.gf, &raw, 0);
    EXPECT_EQ(std::uint64_t(n), st->length);
    ASSERT_GT(n, 4);
    EXPECT_EQ(std::memcmp(raw + n - 4, "7777", 4), 0);
    std::free(raw);
    Report whole;
    ASSERT_EQ(f.read(&whole, 0), 0);
    ASSERT_NE(whole.grid, nullptr);
    Report next;
    ASSERT_EQ(f.read(&next, 1), 0);
    EXPECT_EQ(next.domain.proj, 4);
}

TEST(GribPositions, TwoFilesReadInTurnKeepTheirOwnPlaces) {
    GribFile a(kData + "ll_bits.grib1"), b(kData + "ll_scan.grib1");
    for (int g = 0; g < 6; ++g) {
        Report ra, rb;
        ASSERT_EQ(a.read(&ra, g), 0);
        ASSERT_EQ(b.read(&rb, g), 0);
        EXPECT_EQ(ra.domain.nx, 9);
        EXPECT_EQ(rb.domain.nx, 13);
        EXPECT_EQ(a.gf.num, g);
        EXPECT_EQ(b.gf.num, g);
    }
}

TEST(GribPositions, APipeIsRefusedWithAMessage) {
    Quiet quiet;
    GribFile f(kData + "ll_bits.grib1");
    std::fclose(f.gf.file);
    f.gf.file = popen(("cat " + kData + "ll_bits.grib1").c_str(), "r");
    ASSERT_NE(f.gf.file, nullptr);
    Report r;
    EXPECT_EQ(f.read(&r, 0), -1);
    GRD_info info;
    EXPECT_EQ(grd_grib_getinfo(0, &f.gf, &info), -1);
    pclose(f.gf.file);
    f.gf.file = nullptr;
}

TEST(GribHeaderIndex, LinesGiveTheReport) {
    const std::string path = scratch("index.txt");
    {
        std::ofstream idx(path);
        idx << "0 500 mb Temp / GRIB S7 M39 G211 T12 L100 H500 V11\n"
            << "1000 Height / 39 212 24 100 850 7\n"
            << "2000 Other / 98:39 215 36 105 2 11\n"
            << "3000 Huge / GRIB S2000000000 M2000000000 G211 T12 L100 H500 V11\n";
    }
    GribFile f(kData + "ll_bits.grib1");
    ASSERT_EQ(grd_grib_hdr_open(&f.gf, path.c_str()), 0);
    Report a, b, c, d;
    ASSERT_EQ(f.read(&a, 0, 2), 0);
    EXPECT_EQ(a.source, 7);
    EXPECT_EQ(a.model, 39);
    EXPECT_EQ(a.type, 211);
    EXPECT_EQ(a.time, 12);
    EXPECT_EQ(a.ltype, 100);
    EXPECT_EQ(a.level, 500);
    EXPECT_EQ(a.var, 11);
    EXPECT_STREQ(a.units, "K");
    EXPECT_EQ(a.domain.proj, 4);
    EXPECT_EQ(a.domain.nx, 93);
    ASSERT_EQ(f.read(&c, 2, 1), 0);
    EXPECT_EQ(c.source, 98);
    EXPECT_EQ(c.type, 215);
    EXPECT_EQ(c.var, 11);
    ASSERT_EQ(f.read(&b, 1, 1), 0);  // backwards in the index
    EXPECT_EQ(b.type, 212);
    EXPECT_EQ(b.level, 850);
    EXPECT_EQ(f.gf.cur_pos, 1000);
    // Numbers too large to combine into a model code still give a report (and no overflow).
    Report huge;
    ASSERT_EQ(f.read(&huge, 3, 2), 0);
    EXPECT_EQ(huge.source, 2000000000);
    EXPECT_EQ(f.read(&d, 4, 1), -1);
}

// Damaged files: every fixture cut at many offsets and with random bytes changed must read
// without a crash, hang or sanitizer report; every result is an ordinary one.
TEST(GribDamage, TruncatedAndFlippedFilesFailCleanly) {
    Quiet quiet;
    std::mt19937 rng(12345);
    for (const char* name : {"ll_scan", "ll_bits", "ll_bitmap", "projections", "reduced_ll"}) {
        const Bytes whole = read_file(kData + name + ".grib1");
        ASSERT_FALSE(whole.empty());
        std::vector<Bytes> variants;
        for (std::size_t cut = 0; cut < whole.size(); cut += 1 + whole.size() / 97)
            variants.emplace_back(whole.begin(), whole.begin() + long(cut));
        for (int k = 0; k < 60; ++k) {
            Bytes b = whole;
            const int flips = 1 + int(rng() % 6);
            for (int j = 0; j < flips; ++j) b[rng() % b.size()] = static_cast<unsigned char>(rng());
            variants.push_back(std::move(b));
        }
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const std::string path = scratch("damaged.grib1");
            write_file(path, variants[v]);
            GribFile f(path);
            for (int g = 0; g < 40; ++g) {
                Report r;
                const int res = f.read(&r, g);
                ASSERT_LE(res, 1);
                if (res == -1) break;
            }
        }
    }
}

// Edition 2 messages through the grid-file layer: several fields in one message, mixed with
// edition 1 messages in one file, and a message without a product.
TEST(GribEdition2, FieldsOfOneMessageAreGridsInTurn) {
    const Bytes ed2 = read_file(std::string(QAZ_TEST_DATA) + "/grib2/multi_field.grib2");
    if (ed2.empty()) GTEST_SKIP() << "no edition 2 fixture";
    const Bytes ed1 = read_file(kData + "ll_bitmap.grib1");
    Bytes mixed = ed1;
    mixed.insert(mixed.end(), ed2.begin(), ed2.end());
    mixed.insert(mixed.end(), ed1.begin(), ed1.end());
    const std::string path = scratch("mixed.grib");
    write_file(path, mixed);

    GribFile f(path);
    std::vector<Report> seq(7);
    const int conts[7] = {0, 0, 1, 1, 0, 0, 0};
    for (int g = 0; g < 7; ++g) {
        SCOPED_TRACE(g);
        ASSERT_EQ(f.read(&seq[g], g), 0);
        EXPECT_EQ(seq[g].version, (g >= 2 && g <= 4) ? 2 : 1);
        EXPECT_EQ(f.gf.cont, conts[g]);
        ASSERT_NE(seq[g].grid, nullptr);
    }
    Report end;
    EXPECT_EQ(f.read(&end, 7), -1);
    // Straight to the last field of the message, and the middle one again: same values.
    for (int g : {4, 3, 3, 6, 2}) {
        SCOPED_TRACE(g);
        GribFile direct(path);
        Report r;
        ASSERT_EQ(direct.read(&r, g), 0);
        const int n = r.domain.nx * r.domain.ny;
        ASSERT_EQ(n, seq[g].domain.nx * seq[g].domain.ny);
        for (int i = 0; i < n; ++i) ASSERT_EQ(r.grid[i], seq[g].grid[i]) << i;
        Report again;
        ASSERT_EQ(direct.read(&again, g), 0);
        for (int i = 0; i < n; ++i) ASSERT_EQ(again.grid[i], r.grid[i]) << i;
    }

    // The identification and grid sections alone: no product.
    std::size_t pos = 16;
    Bytes head(ed2.begin(), ed2.begin() + 16);
    while (pos + 5 <= ed2.size()) {
        const std::size_t len = (std::size_t(ed2[pos]) << 24) | (std::size_t(ed2[pos + 1]) << 16) |
                                (std::size_t(ed2[pos + 2]) << 8) | ed2[pos + 3];
        if (ed2[pos + 4] > 3 || len < 5) break;
        head.insert(head.end(), ed2.begin() + long(pos), ed2.begin() + long(pos + len));
        pos += len;
    }
    head.insert(head.end(), {'7', '7', '7', '7'});
    put(head, 8, head.size(), 8);
    const std::string empty_path = scratch("noproduct.grib2");
    write_file(empty_path, head);
    Quiet quiet;
    GribFile e(empty_path);
    Report none;
    EXPECT_EQ(e.read(&none, 0), 1);
}

TEST(GribWrite, CarriedMessageIsWrittenUnchanged) {
    GribFile in(kData + "projections.grib1");
    Report r;
    ASSERT_EQ(in.read(&r, 1), 0);
    unsigned char* raw = nullptr;
    const long n = grib_get_raw_gf(&in.gf, &raw, 0);
    ASSERT_GT(n, 0);
    const std::string path = scratch("copy.grib1");
    GRD_file out;
    std::memset(&out, 0, sizeof out);
    out.file = std::fopen(path.c_str(), "wb");
    Report carry;
    carry.source = int(n);
    carry.grid = reinterpret_cast<float*>(raw);  // freed by the report
    ASSERT_EQ(grd_grib_write(&out, &carry), 0);
    std::fclose(out.file);
    GribFile back(path);
    Report r2;
    ASSERT_EQ(back.read(&r2, 0), 0);
    EXPECT_EQ(r2.domain.proj, 4);
    for (int i = 0; i < r.domain.nx * r.domain.ny; ++i) EXPECT_EQ(r.grid[i], r2.grid[i]);
    Quiet quiet;
    unsigned char small[8];
    unsigned char* sp = small;
    EXPECT_EQ(grib_get_raw_gf(&in.gf, &sp, sizeof small), -1);
}

}  // namespace
