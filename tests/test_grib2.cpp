// GRIB edition 2 decoding against ecCodes: every fixture of tests/data/grib2 was written and
// decoded by ecCodes (scripts/make_grib2_fixtures.py); its values and geometry sit beside it
// in <name>.expect. Also damaged messages, and the product rules on hand-made sections.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "grib.hpp"
#include "grib1_helpers.hpp"
#include "grib2_internal.hpp"
#include "maptran.hpp"
#include "resrc.hpp"
#include "var_tool.hpp"

namespace {

// Keeps the expected failure messages of a test off the console.
struct Quiet {
    M_type saved = MESS_get();
    Quiet() { MESS_set(0, M_none); }
    ~Quiet() { MESS_set(0, saved); }
};

Bytes slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The edition 2 messages of a file, each from "GRIB" to "7777".
std::vector<Bytes> messages(const Bytes& file) {
    std::vector<Bytes> out;
    for (std::size_t p = 0; p + 16 <= file.size();) {
        if (std::memcmp(&file[p], "GRIB", 4) != 0) {
            ++p;
            continue;
        }
        std::uint64_t len = 0;
        for (int k = 8; k < 16; ++k) len = (len << 8) | file[p + k];
        if (len < 16 || p + len > file.size()) break;
        out.emplace_back(file.begin() + std::ptrdiff_t(p), file.begin() + std::ptrdiff_t(p + len));
        p += len;
    }
    return out;
}

struct Expected {
    int nx = 0, ny = 0;
    double step = 0;
    std::vector<int> rows;                 // thinned grid: points per row
    std::map<std::string, double> keys;    // ecCodes keys
    std::vector<double> values;
};

std::vector<Expected> read_expected(const std::string& path) {
    std::ifstream in(path);
    std::vector<Expected> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream head(line);
        std::string word, rows;
        std::size_t count = 0;
        Expected e;
        head >> word >> e.nx >> e.ny >> count >> e.step >> rows;
        if (word != "field") break;
        if (rows != "-") {
            std::istringstream rs(rows);
            for (std::string n; std::getline(rs, n, ',');) e.rows.push_back(std::stoi(n));
        }
        std::getline(in, line);
        std::istringstream kv(line);
        while (kv >> word) {
            const auto eq = word.find('=');
            e.keys[word.substr(0, eq)] = std::stod(word.substr(eq + 1));
        }
        while (e.values.size() < count && std::getline(in, line)) {
            std::istringstream vs(line);
            double v;
            while (vs >> v) e.values.push_back(v);
        }
        out.push_back(std::move(e));
    }
    return out;
}

// A thinned row of n values stretched over nx columns: linear between neighbours.
std::vector<double> stretched(const std::vector<double>& v, std::size_t off, int n, int nx) {
    std::vector<double> row(static_cast<std::size_t>(nx));
    for (int c = 0; c < nx; ++c) {
        const double p = nx > 1 ? double(c) * (n - 1) / (nx - 1) : 0;
        const int i = std::min(int(p), n - 1);
        const double f = p - i;
        row[std::size_t(c)] = i + 1 < n ? v[off + std::size_t(i)] * (1 - f) + v[off + std::size_t(i) + 1] * f
                                        : v[off + std::size_t(i)];
    }
    return row;
}

double wrap180(double lon) { return lon > 180 ? lon - 360 : lon; }

// Where the first grid point of the message lies on the library's grid, taken back to the earth.
void expect_first_point(const GRD_report& r, const Expected& e) {
    const int scan = int(e.keys.at("scanningMode"));
    Domain saved;
    MAP_get_domain(&saved);
    MAP_domain(&r.domain);
    float x, y, lat, lon;
    MAP_grid_tran((scan & 0x80) ? float(r.domain.nx - 1) : 0.f, (scan & 0x40) ? float(r.domain.ny - 1) : 0.f, &x, &y);
    MAP_untran(x, y, &lat, &lon);
    MAP_domain(&saved);
    EXPECT_NEAR(lat, e.keys.at("latitudeOfFirstGridPointInDegrees"), 0.02);
    EXPECT_NEAR(wrap180(lon), wrap180(e.keys.at("longitudeOfFirstGridPointInDegrees")), 0.02);
}

void expect_geometry(const GRD_report& r, const Expected& e) {
    const int tmpl = int(e.keys.at("gridDefinitionTemplateNumber"));
    EXPECT_EQ(r.source, int(e.keys.at("centre")));
    EXPECT_EQ(r.domain.nx, e.nx);
    EXPECT_EQ(r.domain.ny, e.ny);
    switch (tmpl) {
    case 0:
        EXPECT_EQ(r.domain.proj, 2);
        if (e.rows.empty()) {
            EXPECT_NEAR(r.domain.dx, e.keys.at("iDirectionIncrementInDegrees"), 1e-4);
            EXPECT_NEAR(r.domain.dy, e.keys.at("jDirectionIncrementInDegrees"), 1e-4);
        }
        EXPECT_NEAR(r.domain.clat, (e.keys.at("latitudeOfFirstGridPointInDegrees") +
                                    e.keys.at("latitudeOfLastGridPointInDegrees")) / 2, 1e-4);
        break;
    case 10: EXPECT_EQ(r.domain.proj, 3); break;
    case 20:
        EXPECT_EQ(r.domain.proj, 1);
        EXPECT_NEAR(r.domain.plon, wrap180(e.keys.at("orientationOfTheGridInDegrees")), 1e-4);
        EXPECT_NEAR(r.domain.param[0], e.keys.at("LaDInDegrees"), 1e-4);
        EXPECT_EQ(r.domain.plat, e.keys.at("projectionCentreFlag") >= 128 ? -90.f : 90.f);
        EXPECT_NEAR(r.domain.dx, e.keys.at("DxInMetres") / 1e5, 1e-6);
        break;
    case 30:
        EXPECT_EQ(r.domain.proj, 4);
        EXPECT_NEAR(r.domain.plon, wrap180(e.keys.at("LoVInDegrees")), 1e-4);
        EXPECT_NEAR(r.domain.param[0], e.keys.at("Latin1InDegrees"), 1e-4);
        EXPECT_NEAR(r.domain.param[1], e.keys.at("Latin2InDegrees"), 1e-4);
        EXPECT_NEAR(r.domain.dx, e.keys.at("DxInMetres") / 1e5, 1e-6);
        EXPECT_NEAR(r.domain.dy, e.keys.at("DyInMetres") / 1e5, 1e-6);
        break;
    }
    if (e.rows.empty()) expect_first_point(r, e);
}

void expect_values(const GRD_report& r, const Expected& e, const std::string& where) {
    ASSERT_NE(r.grid, nullptr) << where;
    std::vector<double> want;
    if (e.rows.empty()) {
        want = e.values;
    } else {
        std::size_t off = 0;
        for (int n : e.rows) {
            const auto row = stretched(e.values, off, n, e.nx);
            want.insert(want.end(), row.begin(), row.end());
            off += std::size_t(n);
        }
    }
    ASSERT_EQ(want.size(), std::size_t(e.nx) * std::size_t(e.ny)) << where;
    int bad = 0;
    for (std::size_t i = 0; i < want.size() && bad < 5; ++i) {
        const double tol = 1e-6 * std::fabs(want[i]) + 1e-6 * e.step + 1e-9;
        if (std::fabs(r.grid[i] - want[i]) > tol) {
            ADD_FAILURE() << where << " point " << i << ": " << r.grid[i] << " != " << want[i];
            ++bad;
        }
    }
}

class Grib2Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(Grib2Fixture, DecodesAsEcCodes) {
    const std::string base = std::string(QAZ_TEST_DATA) + "/grib2/" + GetParam();
    const Bytes file = slurp(base + ".grib2");
    const auto expected = read_expected(base + ".expect");
    ASSERT_FALSE(file.empty());
    ASSERT_FALSE(expected.empty());
    std::size_t field = 0;
    for (const Bytes& msg : messages(file)) {
        std::size_t pos = 16;
        for (;;) {
            Report r;
            const int rc = grib2_decode_field(msg.data(), msg.size(), &pos, &r, 0);
            if (rc == 1) break;
            ASSERT_EQ(rc, 0) << GetParam() << " field " << field;
            ASSERT_LT(field, expected.size());
            const std::string where = std::string(GetParam()) + " field " + std::to_string(field);
            expect_values(r, expected[field], where);
            if (!expected[field].keys.empty()) expect_geometry(r, expected[field]);
            EXPECT_EQ(r.version, 2);
            ++field;
        }
    }
    EXPECT_EQ(field, expected.size());
}

INSTANTIATE_TEST_SUITE_P(Files, Grib2Fixture,
                         ::testing::Values("simple_bits", "constant", "scan_modes", "complex", "jpeg",
                                           "ccsds", "bitmap", "lambert", "polar", "mercator", "thinned",
                                           "multi_field", "runlength", "products", "complex_zero_bits"));

// Time, level and ensemble/probability description of each product template, from the keys
// ecCodes reads in the same message.
TEST(Grib2Product, ProductTemplatesAsEcCodesReadsThem) {
    const std::string base = std::string(QAZ_TEST_DATA) + "/grib2/products";
    const auto expected = read_expected(base + ".expect");
    std::size_t field = 0;
    for (const Bytes& msg : messages(slurp(base + ".grib2"))) {
        Report r;
        std::size_t pos = 16;
        ASSERT_EQ(grib2_decode_field(msg.data(), msg.size(), &pos, &r, 1), 0);
        const auto& k = expected.at(field++).keys;
        const int pdtn = int(k.at("productDefinitionTemplateNumber"));
        const int start = int(k.at("startStep")), end = int(k.at("endStep"));
        if (k.count("typeOfStatisticalProcessing")) {
            const int process = int(k.at("typeOfStatisticalProcessing"));
            const int codes[] = {3000000, 4000000, 6000000, 7000000, 5000000};
            const int code = process <= 4 ? codes[process] : pdtn == 8 ? 2000000 : 3000000;
            EXPECT_EQ(r.time, start * 1000 + end + code) << "template " << pdtn;
        } else {
            EXPECT_EQ(r.time, int(k.at("forecastTime"))) << "template " << pdtn;
        }
        switch (int(k.at("typeOfFirstFixedSurface"))) {
        case 100: EXPECT_EQ(r.ltype, 100); EXPECT_EQ(r.level, int(k.at("level"))); break;
        case 103: EXPECT_EQ(r.ltype, 105); EXPECT_EQ(r.level, int(k.at("level"))); break;
        default: EXPECT_EQ(r.ltype, 1); break;
        }
        if (pdtn == 1 || pdtn == 11) {
            const std::string prefix = "Ens[+" + std::to_string(int(k.at("perturbationNumber"))) + "] ";
            EXPECT_EQ(std::string(r.info).substr(0, prefix.size()), prefix);
        }
        if (pdtn == 5 || pdtn == 9) {
            EXPECT_STREQ(r.units, "%");
            EXPECT_NE(std::string(r.info).find(pdtn == 5 ? " above 2.50" : " above 10.00"), std::string::npos) << r.info;
        }
    }
    EXPECT_EQ(field, expected.size());
}

// Every field of a message, header only: no values, same product.
TEST(Grib2, HeaderOnlyLeavesValuesUnread) {
    const Bytes msg = messages(slurp(std::string(QAZ_TEST_DATA) + "/grib2/multi_field.grib2")).at(0);
    std::size_t pos = 16;
    int fields = 0;
    for (;;) {
        Report r;
        const int rc = grib2_decode_field(msg.data(), msg.size(), &pos, &r, 1);
        if (rc == 1) break;
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(r.grid, nullptr);
        EXPECT_EQ(r.domain.nx, 23);
        ++fields;
    }
    EXPECT_EQ(fields, 3);
}

TEST(Grib2, RunLengthMessageCarriesTheLocalProduct) {
    const Bytes msg = slurp(std::string(QAZ_TEST_DATA) + "/grib2/runlength.grib2");
    std::size_t pos = 16;
    Report r;
    ASSERT_EQ(grib2_decode_field(msg.data(), msg.size(), &pos, &r, 0), 0);
    EXPECT_EQ(r.ltype, 1);
    EXPECT_EQ(r.level, 0);
    EXPECT_EQ(r.time, 0);
    EXPECT_EQ(r.model, 52);
}

// ---- Damaged messages ------------------------------------------------------------------------

// Offsets of the sections of a message: (offset, number).
std::vector<std::pair<std::size_t, int>> section_offsets(const Bytes& msg) {
    std::vector<std::pair<std::size_t, int>> out;
    for (std::size_t p = 16; p + 5 <= msg.size() && std::memcmp(&msg[p], "7777", 4) != 0;) {
        const std::size_t n = g2_u32(&msg[p]);
        out.emplace_back(p, msg[p + 4]);
        if (n < 5) break;
        p += n;
    }
    return out;
}

int decode_all(const Bytes& msg) {
    std::size_t pos = 16;
    int rc = 0;
    for (int k = 0; k < 50; ++k) {
        Report r;
        rc = grib2_decode_field(msg.data(), msg.size(), &pos, &r, 0);
        if (rc != 0) break;
    }
    return rc;
}

Bytes with_total_length(Bytes msg) {
    for (int k = 0; k < 8; ++k) msg[std::size_t(15 - k)] = static_cast<unsigned char>(std::uint64_t(msg.size()) >> (8 * k));
    return msg;
}

Bytes first_message(const char* name) {
    return messages(slurp(std::string(QAZ_TEST_DATA) + "/grib2/" + name + ".grib2")).at(0);
}

// A latitude/longitude grid across the date line: first longitude 350, last 10.
TEST(Grib2, LongitudesAcrossTheDateLine) {
    Bytes msg = first_message("scan_modes");
    for (std::size_t p = 16; p + 5 <= msg.size();) {
        const std::size_t n = g2_u32(&msg[p]);
        if (msg[p + 4] == 3) {
            const std::uint32_t lon1 = 350000000, lon2 = 10000000;
            for (int k = 0; k < 4; ++k) {
                msg[p + 50 + std::size_t(k)] = static_cast<unsigned char>(lon1 >> (24 - 8 * k));
                msg[p + 59 + std::size_t(k)] = static_cast<unsigned char>(lon2 >> (24 - 8 * k));
            }
            break;
        }
        p += n;
    }
    Report r;
    std::size_t pos = 16;
    ASSERT_EQ(grib2_decode_field(msg.data(), msg.size(), &pos, &r, 1), 0);
    EXPECT_FLOAT_EQ(r.domain.dx, 20.0f / 22);
    EXPECT_NEAR(r.domain.clon, 0.0f, 1e-4);
}

// The Mercator fixture scanned east to west: first and last longitudes swap, and the grid
// must stay where it is instead of wrapping round the other side of the globe.
TEST(Grib2, MercatorScannedEastToWest) {
    const Bytes msg = first_message("mercator");
    Bytes west = msg;
    for (auto [off, num] : section_offsets(west)) {
        if (num != 3) continue;
        for (int k = 0; k < 4; ++k) std::swap(west[off + 42 + std::size_t(k)], west[off + 55 + std::size_t(k)]);
        west[off + 59] |= 0x80;
        break;
    }
    Report a, b;
    std::size_t pa = 16, pb = 16;
    ASSERT_EQ(grib2_decode_field(msg.data(), msg.size(), &pa, &a, 0), 0);
    ASSERT_EQ(grib2_decode_field(west.data(), west.size(), &pb, &b, 0), 0);
    EXPECT_NEAR(b.domain.clon, a.domain.clon, 1e-3);
    EXPECT_NEAR(b.domain.clat, a.domain.clat, 1e-3);
    EXPECT_NEAR(b.domain.dx, a.domain.dx, 1e-4);
    // Same points, same places: the columns come back west to east.
    const int nx = a.domain.nx;
    for (int r = 0; r < a.domain.ny; ++r)
        for (int c = 0; c < nx; ++c)
            EXPECT_EQ(b.grid[r * nx + c], a.grid[r * nx + nx - 1 - c]) << r << " " << c;
}

// A damaged angle unit (basic angle 0xfffffffe, one subdivision) puts the corners billions of
// degrees away: a failure, not a hang bringing the longitudes back by 360-degree steps.
TEST(Grib2Damaged, CornersOffTheGlobeFail) {
    Quiet quiet;
    Bytes msg = first_message("scan_modes");
    for (auto [off, num] : section_offsets(msg)) {
        if (num != 3) continue;
        const std::uint32_t basic = 0xfffffffeu, subdiv = 1;
        for (int k = 0; k < 4; ++k) {
            msg[off + 38 + std::size_t(k)] = static_cast<unsigned char>(basic >> (24 - 8 * k));
            msg[off + 42 + std::size_t(k)] = static_cast<unsigned char>(subdiv >> (24 - 8 * k));
        }
        break;
    }
    EXPECT_LT(decode_all(msg), 0);
}

// A constant field packs to nothing: a message of a few hundred bytes declaring 8192 x 8192
// points must not make the decoder allocate and fill a quarter of a gigabyte.
TEST(Grib2Damaged, HugeConstantFieldIsRefused) {
    Quiet quiet;
    Bytes msg = first_message("constant");
    const std::uint32_t side = 8192, points = side * side;
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) msg[at + std::size_t(k)] = static_cast<unsigned char>(v >> (24 - 8 * k));
    };
    for (auto [off, num] : section_offsets(msg)) {
        if (num == 3) {
            put32(off + 6, points);  // number of data points
            put32(off + 30, side);   // Ni
            put32(off + 34, side);   // Nj
        } else if (num == 5) {
            put32(off + 5, points);  // number of packed values
        }
    }
    EXPECT_LT(decode_all(msg), 0);
}

struct Fault {
    const char* file;
    int section;        // section whose octet is changed
    std::size_t octet;  // 1-based within the section
    unsigned char value;
    const char* what;
};

// Each damage must give a failure result, never values.
TEST(Grib2Damaged, FailsWithAMessage) {
    Quiet quiet;
    const Fault faults[] = {
        {"simple_bits", 5, 20, 33, "more than 32 bits per value"},
        {"simple_bits", 5, 9, 0xff, "more packed values than grid points"},
        {"bitmap", 6, 6, 254, "bit map reused before one was defined"},
        {"bitmap", 6, 6, 7, "predefined bit map"},
        {"jpeg", 5, 9, 200, "JPEG 2000 image of the wrong size"},
        {"ccsds", 5, 9, 200, "CCSDS image of the wrong size"},
        {"complex", 5, 37, 40, "group width bits above 32"},
        {"complex", 5, 35, 0xff, "more groups than the section holds"},
        {"scan_modes", 3, 14, 99, "unsupported grid template"},
        {"scan_modes", 3, 31, 0x7f, "grid larger than any allowed"},
    };
    for (const Fault& f : faults) {
        Bytes msg = first_message(f.file);
        bool changed = false;
        for (auto [off, num] : section_offsets(msg)) {
            if (num != f.section) continue;
            msg[off + f.octet - 1] = f.value;
            changed = true;
            break;
        }
        ASSERT_TRUE(changed) << f.what;
        EXPECT_LT(decode_all(msg), 0) << f.what;
    }
}

TEST(Grib2Damaged, BitMapShorterThanTheGrid) {
    Quiet quiet;
    Bytes msg = first_message("bitmap");
    for (auto [off, num] : section_offsets(msg)) {
        if (num != 6) continue;
        // Cut the bit map to 10 octets and close up the message.
        const std::size_t len = g2_u32(&msg[off]);
        msg.erase(msg.begin() + std::ptrdiff_t(off + 16), msg.begin() + std::ptrdiff_t(off + len));
        msg[off] = msg[off + 1] = msg[off + 2] = 0;
        msg[off + 3] = 16;
        break;
    }
    EXPECT_LT(decode_all(with_total_length(msg)), 0);
}

// Truncations at many offsets (with the length fixed up so that the sections get cut) and
// random byte flips: a failure result or values, never a crash or a sanitizer report.
TEST(Grib2Damaged, TruncatedAndFlippedFixturesDoNotCrash) {
    Quiet quiet;
    std::mt19937 rng(8);
    for (const char* name : {"simple_bits", "complex", "jpeg", "ccsds", "bitmap", "lambert", "polar",
                             "thinned", "multi_field", "runlength", "scan_modes"}) {
        for (const Bytes& msg : messages(slurp(std::string(QAZ_TEST_DATA) + "/grib2/" + name + ".grib2"))) {
            const std::size_t step = std::max<std::size_t>(1, msg.size() / 97);
            for (std::size_t cut = 17; cut < msg.size(); cut += step) {
                decode_all(Bytes(msg.begin(), msg.begin() + std::ptrdiff_t(cut)));
                decode_all(with_total_length(Bytes(msg.begin(), msg.begin() + std::ptrdiff_t(cut))));
            }
            for (int k = 0; k < 150; ++k) {
                Bytes bad = msg;
                const int flips = 1 + int(rng() % 3);
                for (int f = 0; f < flips; ++f)
                    bad[16 + rng() % (bad.size() - 16)] = static_cast<unsigned char>(rng());
                decode_all(bad);
            }
        }
    }
    SUCCEED();
}

// ---- Bit unpacking ---------------------------------------------------------------------------

TEST(Grib2Unpack, MatchesBitByBitReadingForEveryWidthAndOffset) {
    std::mt19937 rng(3);
    Bytes buf(64);
    for (auto& b : buf) b = static_cast<unsigned char>(rng());
    for (int nbits = 0; nbits <= 32; ++nbits) {
        for (std::uint64_t offset : {0, 1, 7, 8, 13}) {
            const std::size_t count = nbits ? (buf.size() * 8 - offset) / unsigned(nbits) : 9;
            std::vector<std::uint32_t> got(count + 1);
            ASSERT_EQ(grib_unpack_uint(buf.data(), buf.size(), offset, nbits, count, got.data()), 0);
            for (std::size_t i = 0; i < count; ++i) {
                std::uint64_t v = 0;
                for (int k = 0; k < nbits; ++k) {
                    const std::uint64_t p = offset + i * unsigned(nbits) + unsigned(k);
                    v = (v << 1) | ((buf[p >> 3] >> (7 - (p & 7))) & 1);
                }
                ASSERT_EQ(got[i], v) << nbits << " bits, offset " << offset << ", value " << i;
            }
            if (nbits) {
                EXPECT_EQ(grib_unpack_uint(buf.data(), buf.size(), offset, nbits, count + 1, got.data()), -1);
            }
        }
    }
    std::uint32_t one;
    EXPECT_EQ(grib_unpack_uint(buf.data(), buf.size(), 0, 33, 1, &one), -1);
}

// ---- Complex packing by hand -----------------------------------------------------------------

struct BitWriter {
    Bytes bytes;
    std::uint64_t bit = 0;
    void put(std::uint32_t v, int nbits) {
        for (int k = nbits - 1; k >= 0; --k, ++bit) {
            if (bit / 8 >= bytes.size()) bytes.push_back(0);
            if ((v >> k) & 1) bytes[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
        }
    }
    void align() { bit = (bit + 7) / 8 * 8; }
};

struct Group {
    std::uint32_t ref;
    std::uint32_t width;
    std::uint32_t len;
    std::vector<std::uint32_t> x;
};

// Section 7 data of complex packing: extra descriptors (sign and magnitude, 2 octets), then
// references (4 bits), widths (3 bits), lengths (ref 1, increment 1, 3 bits), values.
Bytes complex_data(const std::vector<Group>& groups, const std::vector<int>& extra) {
    BitWriter w;
    for (int e : extra) w.put((e < 0 ? 0x8000u : 0u) | std::uint32_t(std::abs(e)), 16);
    for (const Group& g : groups) w.put(g.ref, 4);
    w.align();
    for (const Group& g : groups) w.put(g.width, 3);
    w.align();
    for (const Group& g : groups) w.put(g.len - 1, 3);
    w.align();
    for (const Group& g : groups)
        for (std::uint32_t x : g.x) w.put(x, int(g.width));
    w.align();
    return w.bytes;
}

struct ComplexCase {
    const char* what;
    int miss_type;
    int order;
    std::vector<int> extra;
    std::vector<Group> groups;
    std::vector<float> want;
};

TEST(Grib2Unpack, ComplexPackingMissingValuesAndDifferencing) {
    const float M = GRD_MISSING;
    const ComplexCase cases[] = {
        {"primary missing", 1, 0, {}, {{3, 2, 3, {0, 3, 1}}, {15, 0, 2, {}}, {5, 0, 1, {}}}, {3, M, 4, M, M, 5}},
        {"secondary missing", 2, 0, {}, {{4, 2, 4, {0, 3, 2, 1}}, {14, 0, 1, {}}, {15, 0, 1, {}}},
         {4, M, M, 5, M, M}},
        {"no management: all ones is a value", 0, 0, {}, {{1, 2, 2, {3, 0}}, {15, 0, 1, {}}}, {4, 1, 15}},
        {"order 1 skips missing points", 1, 1, {10, -2}, {{0, 3, 5, {0, 3, 7, 1, 2}}}, {10, 11, M, 10, 10}},
        {"order 2", 0, 2, {10, 12, 1}, {{0, 2, 5, {0, 0, 0, 2, 1}}}, {10, 12, 15, 21, 29}},
        {"order 2 across groups", 0, 2, {-3, -1, 0}, {{0, 0, 2, {}}, {1, 1, 3, {0, 1, 0}}},
         {-3, -1, 2, 7, 13}},
    };
    for (const ComplexCase& c : cases) {
        std::uint32_t n = 0;
        for (const Group& g : c.groups) n += g.len;
        G2Complex cp{};
        cp.nbits = 4;
        cp.miss_type = c.miss_type;
        cp.num_groups = std::uint32_t(c.groups.size());
        cp.nbits_gwidth = 3;
        cp.ref_glen = 1;
        cp.inc_glen = 1;
        cp.last_glen = c.groups.back().len;
        cp.nbits_glen = 3;
        cp.order = c.order;
        cp.spat_bytes = c.order ? 2 : 0;
        const Bytes data = complex_data(c.groups, c.extra);
        std::vector<float> out(n);
        ASSERT_EQ(grib2_unpack_complex(data.data(), data.size(), cp, n, G2Scale{0, 1, 1}, out.data()), 0) << c.what;
        EXPECT_EQ(out, c.want) << c.what;
        // Scaled: (R + X 2^E) 10^-D with R 1, E 1, D 1.
        ASSERT_EQ(grib2_unpack_complex(data.data(), data.size(), cp, n, G2Scale{1, 2, 0.1}, out.data()), 0);
        for (std::size_t i = 0; i < n; ++i) {
            if (c.want[i] != M) {
                EXPECT_FLOAT_EQ(out[i], float((1 + 2 * double(c.want[i])) * 0.1)) << c.what;
            }
        }
        // Group lengths that do not add up to the count are refused.
        Quiet quiet;
        EXPECT_EQ(grib2_unpack_complex(data.data(), data.size(), cp, n + 1, G2Scale{0, 1, 1}, out.data()), -1);
    }
}

TEST(Grib2Unpack, RunLengthDigitsAndLevels) {
    // Codes 3, 200, 4 with a largest level of 10 in 8 bits: level 3 runs 1 + (200 - 11) = 190
    // points, then level 4 once; level 0 is missing; the rest of the grid stays missing.
    const std::vector<float> levels = {0.5f, 1.5f, 2.5f, 3.5f};
    const unsigned char codes[] = {3, 200, 4, 0, 11, 1, 12};
    std::vector<float> out(200);
    ASSERT_EQ(grib2_unpack_runlength(codes, sizeof codes, 8, 10, levels, out.size(), out.data()), 0);
    for (std::size_t i = 0; i < 190; ++i) ASSERT_EQ(out[i], 2.5f) << i;
    EXPECT_EQ(out[190], 3.5f);
    EXPECT_EQ(out[191], GRD_MISSING);  // level 0, run 1 + 0
    EXPECT_EQ(out[192], 0.5f);         // level 1, run 1 + 1
    EXPECT_EQ(out[193], 0.5f);
    for (std::size_t i = 194; i < out.size(); ++i) ASSERT_EQ(out[i], GRD_MISSING) << i;
    // A run longer than the grid stops at its end.
    const unsigned char long_run[] = {2, 255, 255, 255};
    ASSERT_EQ(grib2_unpack_runlength(long_run, sizeof long_run, 8, 10, levels, out.size(), out.data()), 0);
    EXPECT_EQ(out.back(), 1.5f);
}

// ---- Section-by-section interface ------------------------------------------------------------

TEST(Grib2Sections, WalkTheFieldsOfAMessage) {
    const std::string base = std::string(QAZ_TEST_DATA) + "/grib2/multi_field";
    const Bytes msg = messages(slurp(base + ".grib2")).at(0);
    const auto expected = read_expected(base + ".expect");
    Report first;
    std::size_t pos = 16;
    ASSERT_EQ(grib2_decode_field(msg.data(), msg.size(), &pos, &first, 0), 0);
    // The two further fields, one section at a time.
    for (int field = 1; field <= 2; ++field) {
        Report r;
        ASSERT_EQ(GRIB_read_section(0), 1);
        ASSERT_EQ(GRIB_get_sect(), 4);
        EXPECT_EQ(GRIB_PDS(0, &r), 1);
        EXPECT_EQ(r.source, 98);
        ASSERT_EQ(GRIB_read_section(0), 1);
        ASSERT_EQ(GRIB_get_sect(), 5);
        EXPECT_EQ(GRIB_DRS(0, &r), 1);
        ASSERT_EQ(GRIB_read_section(0), 1);
        ASSERT_EQ(GRIB_get_sect(), 6);
        EXPECT_EQ(GRIB_BMS(0), field == 1 ? 1 : 0);  // reused, then none
        ASSERT_EQ(GRIB_read_section(0), 1);
        ASSERT_EQ(GRIB_get_sect(), 7);
        EXPECT_GT(GRIB_get_slen(), 5);
        ASSERT_EQ(GRIB_DS(0, &r), 1);
        expect_values(r, expected[std::size_t(field)], "section walk");
    }
    EXPECT_EQ(GRIB_read_section(0), 0);
    EXPECT_EQ(GRIB_get_sect(), -1);
}

// ---- Product section rules -------------------------------------------------------------------

// A product section of template tmpl: category 0, number 0 (temperature), forecast time
// `forecast` in unit `unit`, first surface (type1, scale1, value1), second (type2, ...).
Bytes product(int tmpl, int unit, std::uint32_t forecast, int type1, int scale1, std::uint32_t value1,
              int type2 = 255, int scale2 = 0, std::uint32_t value2 = 0, std::size_t len = 71) {
    Bytes s(len, 0);
    s[3] = static_cast<unsigned char>(len);
    s[4] = 4;
    s[7] = static_cast<unsigned char>(tmpl >> 8);
    s[8] = static_cast<unsigned char>(tmpl);
    s[13] = 96;
    s[17] = static_cast<unsigned char>(unit);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) s[at + std::size_t(k)] = static_cast<unsigned char>(v >> (24 - 8 * k));
    };
    put32(18, forecast);
    s[22] = static_cast<unsigned char>(type1);
    s[23] = static_cast<unsigned char>(scale1);
    put32(24, value1);
    s[28] = static_cast<unsigned char>(type2);
    s[29] = static_cast<unsigned char>(scale2);
    put32(30, value2);
    return s;
}

struct LevelCase {
    int type1, scale1;
    std::uint32_t value1;
    int type2, scale2;
    std::uint32_t value2;
    int ltype, level;
};

TEST(Grib2Product, SurfacesMapToLibraryLevels) {
    const LevelCase cases[] = {
        {100, 0, 50000, 255, 0, 0, 100, 500},          // isobaric, Pa
        {100, 0, 85000, 100, 0, 100000, 101, 85100},   // isobaric layer
        {101, 0, 0, 255, 0, 0, 102, 0},                // mean sea level
        {103, 0, 2, 255, 0, 0, 105, 2},                // 2 m above ground
        {103, 1, 105, 255, 0, 0, 105, 11},             // 10.5 m, rounded
        {104, 4, 9950, 255, 0, 0, 107, 9950},          // sigma 0.995
        {106, 2, 10, 106, 2, 40, 112, 10040},          // soil layer 0.1-0.4 m
        {109, 9, 2000, 255, 0, 0, 117, 2},             // 2 PVU
        {1, 0, 0, 255, 0, 0, 1, 0},                    // ground
        {100, 255, 0xffffffff, 255, 0, 0, 100, -9999}, // missing scale and value
        {103, 0x81, 25, 255, 0, 0, 105, 250},          // negative scale: 25 x 10
    };
    for (const LevelCase& c : cases) {
        G2State st;
        st.source = 7;
        st.discipline = 0;
        const Bytes s = product(0, 1, 6, c.type1, c.scale1, c.value1, c.type2, c.scale2, c.value2);
        ASSERT_EQ(grib2_section4(s.data(), s.size(), st), 0);
        EXPECT_EQ(st.prod.ltype, c.ltype) << c.type1 << " " << c.value1;
        EXPECT_EQ(st.prod.level, c.level) << c.type1 << " " << c.value1;
        EXPECT_EQ(st.prod.time, 6);
    }
}

struct TimeCase {
    int tmpl;
    int unit;
    std::uint32_t forecast;
    std::size_t stat_at;  // 0-based index of the statistical process octet, 0 none
    int process;
    int length_unit;
    std::uint32_t length;
    int time;
};

TEST(Grib2Product, TimeRangesGetTheEditionOneCodes) {
    const TimeCase cases[] = {
        {0, 1, 36, 0, 0, 0, 0, 36},
        {0, 0, 90, 0, 0, 0, 0, 1},            // minutes become whole hours
        {0, 2, 2, 0, 0, 0, 0, 48},            // days
        {8, 1, 6, 46, 1, 1, 6, 4006012},      // 6-12 h accumulation
        {8, 1, 0, 46, 0, 11, 1, 3000006},     // average over one 6-hour unit
        {8, 1, 12, 46, 2, 1, 12, 6012024},    // maximum
        {8, 1, 12, 46, 3, 1, 12, 7012024},    // minimum
        {8, 1, 12, 46, 9, 1, 12, 2012024},    // other process
        {11, 1, 3, 49, 1, 1, 3, 4003006},     // ensemble member accumulation
        {12, 1, 3, 48, 7, 1, 3, 3003006},     // derived forecast, other process
        {9, 1, 0, 59, 1, 1, 24, 4000024},     // probability of a 24-h accumulation
    };
    for (const TimeCase& c : cases) {
        G2State st;
        Bytes s = product(c.tmpl, c.unit, c.forecast, 1, 0, 0);
        if (c.stat_at) {
            s[c.stat_at] = static_cast<unsigned char>(c.process);
            s[c.stat_at + 2] = static_cast<unsigned char>(c.length_unit);
            s[c.stat_at + 6] = static_cast<unsigned char>(c.length);
        }
        ASSERT_EQ(grib2_section4(s.data(), s.size(), st), 0) << c.tmpl;
        EXPECT_EQ(st.prod.time, c.time) << "template " << c.tmpl << " process " << c.process;
    }
}

TEST(Grib2Product, EnsembleAndProbabilityExtensions) {
    G2State st;
    Bytes member = product(1, 1, 24, 1, 0, 0);
    member[34] = 3;  // positively perturbed
    member[35] = 7;  // member 7
    ASSERT_EQ(grib2_section4(member.data(), member.size(), st), 0);
    EXPECT_TRUE(st.prod.has_ens);
    EXPECT_EQ(st.prod.ens.type, 3);
    EXPECT_EQ(st.prod.ens.id, 7);
    EXPECT_EQ(st.prod.ens.prod, 1);

    Bytes prob = product(5, 1, 24, 1, 0, 0);
    prob[36] = 1;                // above the upper limit
    prob[42] = 1;                // scale 1
    prob[46] = 25;               // 2.5
    ASSERT_EQ(grib2_section4(prob.data(), prob.size(), st), 0);
    EXPECT_EQ(st.prod.var, 191);
    EXPECT_EQ(st.prod.ens.prob_type, 2);
    EXPECT_FLOAT_EQ(st.prod.ens.prob_up, 2.5f);
}

TEST(Grib2Product, ParameterTableRowsAndUnknownParameters) {
    RES_put("file_path", QAZ_SHARE_SRC "/");
    GribParam gp;
    EXPECT_EQ(GRIB_get_ver2_param(&gp, 98, 0, 2, 2), 1);
    EXPECT_STREQ(gp.name, "UGRD");
    EXPECT_STREQ(gp.units, "m/s");
    const int known = VAR_search_var_num("UGRD");
    EXPECT_EQ(gp.ind, known >= 0 ? known : 2002);
    EXPECT_EQ(GRIB_get_ver2_param(&gp, 98, 0, 2, 99), 0);
    EXPECT_EQ(gp.ind, 2099);
    // Centre-specific rows match only their centre.
    EXPECT_EQ(GRIB_get_ver2_param(&gp, 7, 0, 1, 192), 1);
    EXPECT_EQ(GRIB_get_ver2_param(&gp, 98, 0, 1, 192), 0);
    EXPECT_EQ(GRIB_get_ver2_param(&gp, 7, 10, 0, 3), 1);
    EXPECT_STREQ(gp.name, "HTSGW");
}

// Parameters the library table lacks are named from WMO code table 4.2, for every discipline
// it covers; the name then serves descriptions, listings and selections.
TEST(Grib2Product, ParametersOutsideTheTableGetWmoNames) {
    RES_put("file_path", QAZ_SHARE_SRC "/");
    const struct {
        int disc, cat, num;
        const char* long_name;
        const char* units;
    } cases[] = {
        {0, 19, 5, "Icing top", "m"},
        {0, 2, 28, "v-component storm motion", "m/s"},
        {1, 0, 5, "Baseflow-groundwater runoff", "kg/m^2"},
        {3, 1, 15, "Clear-sky brightness temperature", "K"},
        {3, 0, 0, "Scaled radiance", ""},
        {4, 2, 5, "HF absorption frequency", "Hz"},
        {10, 3, 11, "Steric change in sea surface height", "m"},
    };
    for (const auto& c : cases) {
        GribParam gp;
        EXPECT_EQ(GRIB_get_ver2_param(&gp, 7, c.disc, c.cat, c.num), 0);
        const int want = c.disc * 1000000 + c.cat * 1000 + c.num;
        EXPECT_EQ(gp.ind, want);
        EXPECT_STREQ(gp.lname, c.long_name);
        EXPECT_STREQ(gp.units, c.units);
        EXPECT_STREQ(VAR_var_long_name(want), c.long_name);
        char abbrev[24];
        VAR_var_abbrev(want, abbrev, sizeof abbrev);
        const std::string triplet = std::to_string(c.disc) + "." + std::to_string(c.cat) + "." + std::to_string(c.num);
        EXPECT_EQ(abbrev, triplet);
        EXPECT_EQ(VAR_search_var_num(triplet.c_str()), want);
    }
    // Local numbers stay unnamed.
    GribParam gp;
    GRIB_get_ver2_param(&gp, 7, 0, 2, 220);
    EXPECT_STREQ(gp.lname, "");
}

TEST(Grib2, IeeeConversion) {
    const unsigned char one[] = {0x3f, 0x80, 0, 0}, minus[] = {0xc0, 0x20, 0, 0}, tiny[] = {0, 0x7f, 0xff, 0xff};
    EXPECT_EQ(GRIB_ieee_float_conv(one), 1.0f);
    EXPECT_EQ(GRIB_ieee_float_conv(minus), -2.5f);
    EXPECT_EQ(GRIB_ieee_float_conv(tiny), 0.0f);
}

}  // namespace
