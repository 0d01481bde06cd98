// GRIB files as forecasters receive them: bytes before the first message, a damaged message
// among good ones, a file cut short, standard input. Every whole message stays readable and
// listed; what cannot be read is named, with its reason, and makes the run fail.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "grid_helpers.hpp"
#include "mess.hpp"
#include "resrc.hpp"
#include "scratch_dir.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kGridcalc = QAZ_BIN_DIR "/gridcalc";
const std::string kSimple = std::string(QAZ_TEST_DATA) + "/grib2/simple_bits.grib2";

std::string scratch(const std::string& name) { return (scratch_dir("test_grib_inventory") / name).string(); }

Bytes slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const Bytes& b)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::uint64_t be(const unsigned char* p, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// The edition 2 messages of a file.
std::vector<Bytes> messages(const Bytes& file)
{
    std::vector<Bytes> out;
    for (std::size_t p = 0; p + 16 <= file.size();) {
        const std::size_t n = std::size_t(be(file.data() + p + 8, 8));
        out.emplace_back(file.begin() + long(p), file.begin() + long(p + n));
        p += n;
    }
    return out;
}

// Gives a message an unknown data template (5.99): whole, but not decodable.
void unknown_packing(Bytes& m)
{
    for (std::size_t q = 16; q + 5 <= m.size() && std::memcmp(&m[q], "7777", 4) != 0;) {
        const std::size_t len = std::size_t(be(&m[q], 4));
        if (m[q + 4] == 5) m[q + 10] = 99, m[q + 9] = 0;
        q += len;
    }
}

Bytes join(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// A header record of the kind some archives put before the messages: text and binary bytes.
Bytes leading_record(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>("ARCHIVE RECORD\0\1\2\3"[i % 18]);
    return b;
}

struct Outcome {
    int status = -1;
    std::string out;  // standard output
    std::string all;  // standard output and error
};

Outcome run(const std::string& args)
{
    Outcome r;
    const std::string err = scratch("stderr.txt");
    const std::string command = kGridcalc + " -fp " QAZ_SHARE_SRC "/ " + args + " 2>" + err;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) r.out += buffer;
    const int wstatus = pclose(p);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    const Bytes e = slurp(err);
    r.all = r.out + std::string(e.begin(), e.end());
    return r;
}

int count_lines_with(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

struct Quiet {
    M_type saved = MESS_get();
    Quiet() { MESS_set(0, M_none); }
    ~Quiet() { MESS_set(0, saved); }
};

// Values of grid num of a file, read through the grid-file layer.
std::vector<float> values_of(const std::string& path, int num)
{
    TestGrid g;
    GRD_set_request(nullptr, num);
    if (GRD_read_file(path.c_str(), &g.g, nullptr, -9999) <= 0 || !g.g.grid) return {};
    return std::vector<float>(g.g.grid, g.g.grid + long(g.g.domain.nx) * g.g.domain.ny);
}

TEST(GribInventory, EveryMessageOfADamagedFileIsListed)
{
    std::vector<Bytes> msgs = messages(slurp(kSimple));
    ASSERT_EQ(msgs.size(), 15u);
    unknown_packing(msgs[3]);
    msgs[6][15] = static_cast<unsigned char>(msgs[6][15] + 100);  // length past the end marker
    Bytes file = leading_record(12000);
    const Bytes body = join(std::vector<Bytes>(msgs.begin(), msgs.begin() + 14));
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), msgs[14].begin(), msgs[14].begin() + 60);  // cut short
    const std::string path = scratch("damaged.grib2");
    spit(path, file);

    const Outcome r = run(path + " info");
    EXPECT_NE(r.status, 0) << r.all;
    // 14 whole messages: 12 listed as grids, one not decoded with its header and reason,
    // one with a damaged length skipped; the cut message named too.
    EXPECT_EQ(count_lines_with(r.out, " TMP "), 13) << r.out;
    EXPECT_EQ(count_lines_with(r.out, "NOT DECODED: GRIB_DRS: data template 5.99"), 1) << r.out;
    EXPECT_EQ(count_lines_with(r.out, "damaged message at offset"), 2) << r.out;
    EXPECT_NE(r.out.find("cut short"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Domain: "), std::string::npos) << r.out;
    EXPECT_NE(r.all.find("2 damaged messages skipped"), std::string::npos) << r.all;
}

TEST(GribInventory, FileCutShortListsItsWholeMessagesAndFails)
{
    const Bytes whole = slurp(kSimple);
    const std::string path = scratch("cut.grib2");
    spit(path, Bytes(whole.begin(), whole.end() - 10));
    const Outcome r = run(path + " info");
    EXPECT_EQ(r.status, 1) << r.all;
    EXPECT_EQ(count_lines_with(r.out, " TMP "), 14) << r.out;
    EXPECT_NE(r.all.find("cut short"), std::string::npos) << r.all;

    const Outcome good = run(kSimple + " info");
    EXPECT_EQ(good.status, 0) << good.all;
    EXPECT_EQ(count_lines_with(good.out, " TMP "), 15) << good.out;
}

TEST(GribInventory, StandardInputRedirectedOrPiped)
{
    const Outcome redirected = run("- info < " + kSimple);
    EXPECT_EQ(redirected.status, 0) << redirected.all;
    EXPECT_EQ(count_lines_with(redirected.out, " TMP "), 15) << redirected.out;
    const Outcome piped = run("- info < " + kSimple + " > /dev/null; cat " + kSimple + " | " + kGridcalc + " -fp " QAZ_SHARE_SRC "/ - info");
    EXPECT_EQ(count_lines_with(piped.out, " TMP "), 15) << piped.out;
    const Outcome value = run("-,num=2 val 3,4 < " + kSimple);
    EXPECT_EQ(value.status, 0) << value.all;
}

TEST(GribInventory, ColumnsForAForecaster)
{
    const Outcome r = run(std::string(QAZ_TEST_DATA) + "/grib2/products.grib2 info");
    ASSERT_EQ(r.status, 0) << r.all;
    for (const char* text : {"  0 TMP      500 mb", "24 h", "2007-03-23 12Z  2007-03-24 12Z",
                             "ltype=100 lev=500", "APCP     Surface              acc 6-12 h",
                             "max 0-6 h", "avg 12-18 h", "Total precipitation (kg/m^2)"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(r.out.find("F6"), std::string::npos) << r.out;
}

TEST(GribLeadingBytes, MessagesAfterAHeaderRecordAreRead)
{
    const Bytes original = slurp(kSimple);
    for (std::size_t lead : {std::size_t(1), std::size_t(197), std::size_t(12000)}) {
        Bytes file = leading_record(lead);
        file.insert(file.end(), original.begin(), original.end());
        const std::string path = scratch("lead" + std::to_string(lead) + ".grib2");
        spit(path, file);
        EXPECT_EQ(GRD_chktype(path.c_str()), GRD_TYPE_GRIB) << lead;
        const std::vector<float> got = values_of(path, 4), want = values_of(kSimple, 4);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(got, want) << lead;
    }
    // Nothing but the record: still a clear failure.
    const std::string none = scratch("none.grib2");
    spit(none, leading_record(12000));
    EXPECT_EQ(GRD_chktype(none.c_str()), -1);
    const Outcome r = run(none + " info");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.all.find("Unknown or unreadable"), std::string::npos) << r.all;
}

// A damaged first message no longer hides the grids after it.
TEST(GribDamagedMessage, ReadFileAndSearchGoOn)
{
    std::vector<Bytes> msgs = messages(slurp(kSimple));
    unknown_packing(msgs[0]);
    const std::string path = scratch("first_damaged.grib2");
    spit(path, join(msgs));
    RES_put("file_path", QAZ_SHARE_SRC "/");
    Quiet quiet;
    // Every grid of the file is temperature: the first match is the damaged message.
    VAR_data req;
    int num = 0;
    ASSERT_EQ(GRD_parse_params("var=TMP", &req, &num), 0);
    GRD_set_request(&req, -9999);
    TestGrid g;
    ASSERT_EQ(GRD_read_file(path.c_str(), &g.g, nullptr, -9999), 2);
    ASSERT_NE(g.g.grid, nullptr);
    const std::vector<float> want = values_of(kSimple, 1);
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), g.g.grid));

    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    GRD_info info{};
    ASSERT_EQ(GRD_getinfo(fd, &info), 0);
    TestGrid found;
    EXPECT_EQ(GRD_search(fd, &found.g, &req, -9999, 1), 1);
    ASSERT_NE(found.g.grid, nullptr);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), found.g.grid));
    GRD_close(fd);

    // A file whose only grid is damaged fails rather than reporting "no match".
    const std::string only = scratch("only_damaged.grib2");
    spit(only, msgs[0]);
    GRD_set_request(&req, -9999);
    TestGrid none;
    EXPECT_EQ(GRD_read_file(only.c_str(), &none.g, nullptr, -9999), -1);
}

}  // namespace
