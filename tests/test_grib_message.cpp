// GRIB fields decoded away from the grid-file table: a field located by GRD_read, loaded by
// GRIB_load_message and decoded by GRIB_decode_message equals GRD_read's full read, on one
// thread or on several at once; the last error text is kept per thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cf_domain.hpp"
#include "grib.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "scratch_dir.hpp"

namespace {

const std::string kData = std::string(QAZ_TEST_DATA) + "/";

struct Quiet {
    M_type saved = MESS_get();
    Quiet() { MESS_set(0, M_none); }
    ~Quiet() { MESS_set(0, saved); }
};

struct Grid {
    GRD_report r;
    Grid() { GRD_init_report(&r); }
    ~Grid() { GRD_free_report(&r); }
    std::vector<float> values() const {
        return std::vector<float>(r.grid, r.grid + std::size_t(r.domain.nx) * r.domain.ny);
    }
};

struct Located {
    GRIB_location loc;
    std::vector<float> values;  // as GRD_read gives them
    Domain domain;
    int var, ltype, level, time;
};

// Every grid of a file: its location (from a header-only read) and GRD_read's full read.
std::vector<Located> locate_all(const std::string& path) {
    std::vector<Located> out;
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return out;
    GRD_info info{};
    EXPECT_EQ(GRD_getinfo(fd, &info), 0);
    for (int n = 0;; ++n) {
        Grid head, full;
        int reached = n;
        const int r = GRD_read(fd, &head.r, 2, &reached);
        if (r == -1) break;
        if (r != 0) continue;
        Located l{};
        EXPECT_EQ(GRIB_get_location(fd, &l.loc), 0);
        reached = n;
        EXPECT_EQ(GRD_read(fd, &full.r, 0, &reached), 0);
        l.values = full.values();
        l.domain = full.r.domain;
        l.var = full.r.var;
        l.ltype = full.r.ltype;
        l.level = full.r.level;
        l.time = full.r.time;
        out.push_back(l);
    }
    GRD_close(fd);
    return out;
}

std::vector<float> decode(const std::string& path, const GRIB_location& loc, Grid* g) {
    std::vector<unsigned char> msg;
    EXPECT_EQ(GRIB_load_message(path.c_str(), &loc, &msg), 0);
    EXPECT_EQ(GRIB_decode_message(msg.data(), msg.size(), loc.edition, loc.field, &g->r, 0), 0);
    return g->r.grid ? g->values() : std::vector<float>{};
}

const char* const kFiles[] = {
    "grib1/projections.grib1", "grib1/ll_scan.grib1", "grib1/ll_bitmap.grib1",
    "grib1/reduced_ll.grib1", "grib2/multi_field.grib2", "grib2/lambert.grib2",
    "grib2/polar.grib2", "grib2/mercator.grib2", "grib2/complex.grib2", "grib2/jpeg.grib2",
    "grib2/ccsds.grib2", "grib2/bitmap.grib2", "grib2/thinned.grib2", "grib2/scan_modes.grib2",
};

class Files : public ::testing::TestWithParam<const char*> {};

TEST_P(Files, DecodedFromItsLocationAsGrdReadReadsIt) {
    Quiet quiet;
    RES_put("file_path", QAZ_SHARE_SRC "/");
    const std::string path = kData + GetParam();
    const auto all = locate_all(path);
    ASSERT_FALSE(all.empty());
    for (std::size_t k = 0; k < all.size(); ++k) {
        SCOPED_TRACE(std::string(GetParam()) + " grid " + std::to_string(k));
        Grid g;
        EXPECT_EQ(decode(path, all[k].loc, &g), all[k].values);
        EXPECT_EQ(std::memcmp(&g.r.domain, &all[k].domain, sizeof(Domain)), 0);
        EXPECT_EQ(g.r.var, all[k].var);
        EXPECT_EQ(g.r.ltype, all[k].ltype);
        EXPECT_EQ(g.r.level, all[k].level);
        EXPECT_EQ(g.r.time, all[k].time);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Files, ::testing::ValuesIn(kFiles));

TEST(GribMessage, FieldsOfOneMessageAreNumberedInIt) {
    Quiet quiet;
    const auto all = locate_all(kData + "grib2/multi_field.grib2");
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].loc.offset, all[1].loc.offset);
    EXPECT_EQ(all[0].loc.field, 0);
    EXPECT_EQ(all[1].loc.field, 1);
    // A field number past the message's last field.
    std::vector<unsigned char> msg;
    ASSERT_EQ(GRIB_load_message((kData + "grib2/multi_field.grib2").c_str(), &all[0].loc, &msg), 0);
    Grid g;
    EXPECT_EQ(GRIB_decode_message(msg.data(), msg.size(), 2, 40, &g.r, 0), 1);
}

TEST(GribMessage, LocationAndLoadRefuseWhatIsNoMessage) {
    Quiet quiet;
    GRIB_location loc{};
    EXPECT_EQ(GRIB_get_location(-1, &loc), -1);
    int type = 0;
    const std::string path = kData + "grib2/lambert.grib2";
    const int fd = GRD_open(path.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(GRIB_get_location(fd, &loc), -1);  // nothing read yet
    GRD_close(fd);

    const auto all = locate_all(path);
    ASSERT_FALSE(all.empty());
    std::vector<unsigned char> msg;
    GRIB_location moved = all[0].loc;
    moved.offset += 1;
    MESS_clear_last_error();
    EXPECT_EQ(GRIB_load_message(path.c_str(), &moved, &msg), -1);
    EXPECT_NE(std::string(MESS_last_error()).find("gone or damaged"), std::string::npos);
    // The file cut short after the listing.
    const auto cut = scratch_dir("test_grib_message") / "cut.grib2";
    std::filesystem::copy_file(path, cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, std::uintmax_t(all[0].loc.length / 2));
    EXPECT_EQ(GRIB_load_message(cut.c_str(), &all[0].loc, &msg), -1);
    EXPECT_EQ(GRIB_load_message((kData + "absent.grib2").c_str(), &all[0].loc, &msg), -1);
    // A damaged message decodes to a failure, not to values.
    ASSERT_EQ(GRIB_load_message(path.c_str(), &all[0].loc, &msg), 0);
    std::vector<unsigned char> bad(msg.begin(), msg.begin() + 40);
    bad.insert(bad.end(), {'7', '7', '7', '7'});
    Grid g;
    EXPECT_EQ(GRIB_decode_message(bad.data(), bad.size(), 2, 0, &g.r, 0), -2);
}

TEST(GribMessage, ThreadsDecodingDifferentProjectionsAtOnceAgreeWithOne) {
    Quiet quiet;
    struct Job {
        std::string path;
        Located field;
    };
    std::vector<Job> jobs;
    for (const char* f : {"grib2/lambert.grib2", "grib2/polar.grib2", "grib2/mercator.grib2",
                          "grib1/projections.grib1", "grib2/multi_field.grib2"})
        for (const Located& l : locate_all(kData + f)) jobs.push_back({kData + f, l});
    ASSERT_GE(jobs.size(), 6u);
    // Grid coordinates keep a domain active for a whole grid: the other thread's decoding must
    // not move it.
    std::vector<std::vector<double>> lats(jobs.size()), lons(jobs.size());
    for (std::size_t k = 0; k < jobs.size(); ++k)
        ASSERT_EQ(CF_domain_latlon(&jobs[k].field.domain, &lats[k], &lons[k]), 0);
    std::vector<int> mismatches(2, 0);
    auto work = [&](int id) {
        for (int round = 0; round < 20; ++round)
            for (std::size_t k = 0; k < jobs.size(); ++k) {
                const Job& j = jobs[id == 0 ? k : jobs.size() - 1 - k];
                Grid g;
                std::vector<unsigned char> msg;
                if (GRIB_load_message(j.path.c_str(), &j.field.loc, &msg) != 0 ||
                    GRIB_decode_message(msg.data(), msg.size(), j.field.loc.edition,
                                        j.field.loc.field, &g.r, 0) != 0 ||
                    g.values() != j.field.values ||
                    std::memcmp(&g.r.domain, &j.field.domain, sizeof(Domain)) != 0)
                    ++mismatches[std::size_t(id)];
                const std::size_t m = id == 0 ? k : jobs.size() - 1 - k;
                std::vector<double> lat, lon;
                if (CF_domain_latlon(&j.field.domain, &lat, &lon) != 0 || lat != lats[m] ||
                    lon != lons[m])
                    ++mismatches[std::size_t(id)];
            }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

TEST(MessLastError, KeptPerThreadWhateverTheMask) {
    Quiet quiet;  // nothing printed, still kept
    MESS_clear_last_error();
    MESS_print(M_error, "first failure\n");
    EXPECT_STREQ(MESS_last_error(), "first failure");
    std::string seen_there;
    std::thread t([&] {
        seen_there = MESS_last_error();
        MESS_print(M_error, "other thread\n");
    });
    t.join();
    EXPECT_EQ(seen_there, "");
    EXPECT_STREQ(MESS_last_error(), "first failure");
    MESS_print(M_mess, "not an error\n");
    EXPECT_STREQ(MESS_last_error(), "first failure");
    MESS_clear_last_error();
    EXPECT_STREQ(MESS_last_error(), "");
}

}  // namespace
