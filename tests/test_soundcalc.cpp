// soundcalc run as a process: the sample file, station selection, raw output read back,
// input by date, and every failure exit.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "raw_read.hpp"
#include "ua_read.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Outcome run(const std::string& args, const std::string& prefix = "")
{
    static int counter = 0;
    fs::path dir = scratch_dir("test_soundcalc");
    fs::path out = dir / ("out" + std::to_string(counter));
    fs::path err = dir / ("err" + std::to_string(counter++));
    std::string cmd = prefix + std::string(QAZ_BIN_DIR) + "/soundcalc " + args + " > " + out.string() + " 2> " + err.string() +
                      " < /dev/null";
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(out), slurp(err)};
}

const std::string sample = std::string(QAZ_SHARE_SRC) + "/sample_upa.txt";
const std::string damaged = std::string(QAZ_TEST_DATA) + "/sound_damaged.upa";

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

struct Case {
    std::string args;
    int status;
    std::string out_has;   // "" when no output is expected
    std::string err_has;
    int stations;
};

TEST(Soundcalc, ExitStatusesAndMessages)
{
    fs::path garbage = scratch_dir("test_soundcalc") / "garbage.upa";
    std::ofstream(garbage) << "\x7f\x45LF not an upper-air file\n";
    const Case cases[] = {
        {sample, 0, "Station PLN", "", 4},
        {sample + " -id RVR,msa -pa cape,li", 0, "Station MSA", "", 2},
        {sample + " -id 99104 -pa tt", 0, "Station CAP", "", 1},
        {sample + " -id RVR,NOPE", 3, "Station RVR", "station NOPE not found", 1},
        {sample + " -pa cape,bogus", 1, "", "unknown index: bogus", 0},
        {"/nonexistent/file.upa", 2, "", "cannot read upper-air file", 0},
        {garbage.string(), 2, "", "cannot read upper-air file", 0},
        {"", 1, "", "no upper-air file given", 0},
        {damaged + " -pa tt,cape,li,pw", 0, "Station RVR", "", 2},
    };
    for (const Case& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        if (!c.out_has.empty()) {
            EXPECT_NE(r.out.find(c.out_has), std::string::npos) << c.args;
        }
        if (!c.err_has.empty()) {
            EXPECT_NE(r.err.find(c.err_has), std::string::npos) << c.args << "\n" << r.err;
        }
        EXPECT_EQ(count(r.out, "Station "), c.stations) << c.args;
        EXPECT_EQ(r.out.find("nan"), std::string::npos) << c.args;
    }
}

TEST(Soundcalc, HelpListing)
{
    Outcome r = run("-h");
    EXPECT_EQ(r.status, 0);
    for (const char* item : {"-id ident", "-of", "-pa", "-cu", "-nc", "name_conv"})
        EXPECT_NE(r.out.find(item), std::string::npos) << item;
}

TEST(Soundcalc, RawOutputReadsBackLikeTheTable)
{
    fs::path raw = scratch_dir("test_soundcalc") / "indices.raw";
    Outcome w = run(sample + " -pa tt,cape,li,thick -of " + raw.string());
    ASSERT_EQ(w.status, 0) << w.err;
    Outcome t = run(sample + " -pa cape -id MSA");
    ASSERT_EQ(t.status, 0);

    int type = 0;
    int fd = RAW_open(raw.c_str(), 0, &type);
    ASSERT_GE(fd, 0);
    RAW_info info{};
    ASSERT_EQ(RAW_getinfo(fd, &info), 0);
    EXPECT_STREQ(info.datim, "00Z 20 MAY 26");
    EXPECT_EQ(RAW_get_field_ind(fd, "cape"), 4);
    EXPECT_STREQ(RAW_get_field_fmt(fd, 5), "%.1f");
    RAW_report rep;
    int line = 2;
    ASSERT_EQ(RAW_read(fd, &rep, "cape", &line), 1);
    EXPECT_STREQ(rep.id, "MSA");
    EXPECT_NEAR(rep.lat, 37.76, 1e-3);
    std::string cape_text = rep.data;
    EXPECT_NE(t.out.find(" " + cape_text + "  Surface parcel"), std::string::npos) << cape_text << "\n" << t.out;
    EXPECT_GT(rep.value[0], 1000.0f);
    line = 0;
    ASSERT_EQ(RAW_read(fd, &rep, "thick", &line), 1);
    // 1000 mb lies below these stations: the report's heights give it (5890 - 133 m).
    EXPECT_FLOAT_EQ(rep.value[0], 5757.0f);
    line = 4;
    EXPECT_EQ(RAW_read(fd, &rep, "cape", &line), -1);
    RAW_close(fd);

    // On the standard output the file is all there is.
    Outcome piped = run(sample + " -pa li -of -");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.rfind("QAZRAW\n", 0), 0u);
    EXPECT_EQ(piped.out.find("soundings"), std::string::npos);
    EXPECT_EQ(count(piped.out, "\n"), 6 + 4 + 1);   // six header lines, four stations, closing line end

    // The output's directory cannot exist: its parent is a file.
    fs::path blocked = scratch_dir("test_soundcalc") / "plain_file";
    std::ofstream(blocked) << "x";
    Outcome bad = run(sample + " -of " + (blocked / "out.raw").string());
    EXPECT_EQ(bad.status, 4);
    EXPECT_NE(bad.err.find("cannot write raw file"), std::string::npos);
}

// The same soundings written as netCDF (both layouts) and as long coded text give the same
// table: the file type is detected and does not change the merged profile.
TEST(Soundcalc, EveryReadableTypeGivesTheSameIndices)
{
    int type = 0;
    int in = UPA_open(sample.c_str(), 0, &type);
    ASSERT_GE(in, 0);
    UPA_info info{};
    UPA_getinfo(in, &info);
    std::vector<UPA_report> reports;
    for (int n = 0;; ++n) {
        UPA_report r;
        int statnum = n;
        if (UPA_read(in, &r, UPA_REP_ALL, &statnum) < 0) break;
        reports.push_back(r);
    }
    UPA_close(in);
    ASSERT_EQ(reports.size(), 4u);
    const std::string args = " -pa tt,li,cape,srh3 -me error";
    const std::string reference = run(sample + args).out;
    struct Case {
        int type;
        bool same_table;   // coded text keeps 21 significant levels and slot winds only
    } cases[] = {{UPA_NETCDF_STATION, true}, {UPA_NETCDF_REPORT, true}, {UPA_CODED_LONG, false}};
    for (const Case& c : cases) {
        fs::path file = scratch_dir("test_soundcalc") / ("type" + std::to_string(c.type) + ".upa");
        int out_type = c.type;
        int out = UPA_open(file.c_str(), 1, &out_type);
        ASSERT_GE(out, 0) << c.type;
        UPA_putinfo(out, &info);
        int statnum = 0;
        for (UPA_report& r : reports) {
            UPA_write(out, &r, UPA_REP_ALL, &statnum);
            if (c.type == UPA_NETCDF_STATION || c.type == UPA_NETCDF_REPORT) ++statnum;
        }
        UPA_close(out);
        Outcome r = run(file.string() + args);
        EXPECT_EQ(r.status, 0) << c.type << "\n" << r.err;
        EXPECT_EQ(count(r.out, "Station "), 4) << c.type;
        if (c.same_table) {
            EXPECT_EQ(r.out, reference) << c.type;
        } else {
            for (const char* line : {"tt             63.6", "li            -12.8"})
                EXPECT_NE(r.out.find(line), std::string::npos) << c.type << " " << line << "\n" << r.out;
        }
    }
}

// An output that names the input (by the same name, another path or a link) is refused
// before anything is written, and the input keeps every byte; a FIFO nobody writes to
// reads as an empty file instead of holding the program.
TEST(Soundcalc, InputIsNeitherOverwrittenNorWaitedFor)
{
    fs::path dir = scratch_dir("test_soundcalc") / "self";
    fs::create_directories(dir);
    fs::path input = dir / "in.upa";
    fs::copy_file(sample, input, fs::copy_options::overwrite_existing);
    fs::create_symlink(input, dir / "link.upa");
    const std::string original = slurp(input);
    const std::string dotted = (dir / "." / "in.upa").string();
    struct Same {
        std::string output;
    } same[] = {{input.string()}, {dotted}, {(dir / "link.upa").string()}};
    for (const Same& c : same) {
        Outcome r = run(input.string() + " -pa tt -of " + c.output);
        EXPECT_EQ(r.status, 4) << c.output << "\n" << r.err;
        EXPECT_NE(r.err.find("output file is the input file"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(input), original) << c.output;
    }

    fs::path fifo = dir / "nobody.upa";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Outcome r = run("-pa tt " + fifo.string(), "timeout 20 ");   // 124 when it waits
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("cannot read upper-air file"), std::string::npos) << r.err;
}

// A file cut off inside a report: the report is told to be incomplete and what its levels
// cannot give is missing, not a value that looks whole.
TEST(Soundcalc, CutOffReportIsWarnedAndItsIndicesMissing)
{
    const std::string whole = slurp(sample);
    struct Case {
        std::size_t bytes;
        const char* warned;   // station told incomplete, "" for none
    } cases[] = {{whole.size(), ""}, {700, "RVR"}};
    for (const Case& c : cases) {
        fs::path cut = scratch_dir("test_soundcalc") / ("cut" + std::to_string(c.bytes) + ".upa");
        std::ofstream(cut) << whole.substr(0, c.bytes);
        Outcome r = run(cut.string() + " -pa cape,pw");
        EXPECT_EQ(r.status, 0) << r.err;
        if (!*c.warned) {
            EXPECT_EQ(r.err.find("incomplete"), std::string::npos) << r.err;
            EXPECT_EQ(count(r.out, "cape              -"), 0) << r.out;
            continue;
        }
        EXPECT_NE(r.err.find("report " + std::string(c.warned) + " is incomplete"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("station " + std::string(c.warned) + ": the sounding ends at"), std::string::npos) << r.err;
        std::size_t at = r.out.find("Station " + std::string(c.warned));
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_NE(r.out.find("cape              -", at), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("pw                -", at), std::string::npos) << r.out;
    }
}

// Input without station positions (QAZUPA): the raw output keeps its columns, "-" standing
// for the unknown position, so that every index reads back under its own name.
TEST(Soundcalc, RawOutputWithoutPositionsKeepsItsColumns)
{
    int type = 0;
    int in = UPA_open(sample.c_str(), 0, &type);
    ASSERT_GE(in, 0);
    UPA_info info{};
    UPA_getinfo(in, &info);
    std::vector<UPA_report> reports;
    for (int n = 0;; ++n) {
        UPA_report r;
        int statnum = n;
        if (UPA_read(in, &r, UPA_REP_ALL, &statnum) < 0) break;
        reports.push_back(r);
    }
    UPA_close(in);   // one upper-air file is open at a time
    fs::path plain = scratch_dir("test_soundcalc") / "plain.upa";
    int out_type = UPA_TEXT;
    int out = UPA_open(plain.c_str(), 1, &out_type);
    ASSERT_GE(out, 0);
    UPA_putinfo(out, &info);
    int written = 0;
    for (UPA_report& r : reports) UPA_write(out, &r, UPA_REP_ALL, &written);
    UPA_close(out);

    fs::path raw = scratch_dir("test_soundcalc") / "plain.raw";
    Outcome w = run(plain.string() + " -pa tt,li -of " + raw.string());
    ASSERT_EQ(w.status, 0) << w.err;
    Outcome table = run(plain.string() + " -pa tt,li -id MSA");
    int raw_type = 0;
    int fd = RAW_open(raw.c_str(), 0, &raw_type);
    ASSERT_GE(fd, 0);
    RAW_info header{};
    ASSERT_EQ(RAW_getinfo(fd, &header), 0);
    RAW_report rep;
    int line = 2;
    for (const char* name : {"tt", "li"}) {
        ASSERT_EQ(RAW_read(fd, &rep, name, &line), 1) << name;
        EXPECT_STREQ(rep.id, "MSA");
        EXPECT_EQ(rep.lat, -9999.0f) << name;
        EXPECT_NE(table.out.find(std::string(name) + std::string(19 - std::strlen(name) - std::strlen(rep.data), ' ') +
                                 rep.data + "  "),
                  std::string::npos)
            << name << " " << rep.data << "\n" << table.out;
    }
    RAW_close(fd);
}

TEST(Soundcalc, InputChosenByDate)
{
    fs::path data = scratch_dir("test_soundcalc") / "data";
    fs::create_directories(data);
    fs::copy_file(sample, data / "26052000.upa", fs::copy_options::overwrite_existing);
    std::string base = "-fp " + std::string(QAZ_SHARE_SRC) + " -dp " + data.string() + " -pa tt ";
    Outcome ok = run(base + "-cu '#202605200000' -id MSA");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("Station MSA"), std::string::npos);
    Outcome missing = run(base + "-cu '#202605210000'");
    EXPECT_EQ(missing.status, 2);
}

}  // namespace

namespace {

bool is_png(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    char magic[8] = {};
    in.read(magic, 8);
    return in && std::string(magic + 1, 3) == "PNG";
}

TEST(Soundcalc, PictureOutputOneDiagramPerStation)
{
    fs::path dir = scratch_dir("test_soundcalc") / "pictures";
    fs::create_directories(dir);
    for (const char* diagram : {"", " -pd stuve", " -pd teph"}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        Outcome r = run(sample + " -id PLN,RVR -of " + (dir / "skewt.png").string() + diagram);
        EXPECT_EQ(r.status, 0) << diagram << "\n" << r.err;
        EXPECT_TRUE(is_png(dir / "skewt_PLN.png")) << diagram;
        EXPECT_TRUE(is_png(dir / "skewt_RVR.png")) << diagram;
        EXPECT_FALSE(fs::exists(dir / "skewt_MSA.png")) << diagram;
    }
    Outcome r = run(sample + " -id PLN -of /nonexistent-dir/skewt.png");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Unable to write picture file /nonexistent-dir/skewt_PLN.png"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Inhibition reads negative in the table, as forecasters write it, while the raw file keeps
// the stored magnitude that readers of earlier files rely on.
TEST(Soundcalc, InhibitionNegativeInTheTablePositiveInRawFiles)
{
    Outcome t = run(sample + " -pa cin,mlcin -id RVR");
    ASSERT_EQ(t.status, 0) << t.err;
    Outcome raw = run(sample + " -pa cin -id RVR -of -");
    ASSERT_EQ(raw.status, 0) << raw.err;
    std::size_t row = raw.out.rfind("RVR");  // the station's line: id, lat, lon, cin
    ASSERT_NE(row, std::string::npos) << raw.out;
    std::string line = raw.out.substr(row, raw.out.find('\n', row) - row);
    double stored = std::atof(line.substr(line.find_last_of(' ') + 1).c_str());
    EXPECT_GT(stored, 0.0) << raw.out;
    char want[96];
    std::snprintf(want, sizeof want, " -%.0f  Surface-based inhibition CIN", stored);
    EXPECT_NE(t.out.find(want), std::string::npos) << want << "\n" << t.out;
    EXPECT_NE(t.out.find("  mlcin          -"), std::string::npos) << t.out;
}

}  // namespace
