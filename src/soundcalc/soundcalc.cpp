// soundcalc: reads an upper-air file, merges each station's report into one profile and
// computes its stability indices; writes them as a raw point file with one declared field
// per index, or prints them as a table.
// Exit status: 0 done, 1 no input named, 2 unreadable file or no sounding in it,
// 3 a requested station is not in the file, 4 the output file cannot be written.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files.hpp"
#include "flag.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "resrc.hpp"
#include "soundcalc_out.hpp"
#include "string.hpp"
#include "system.hpp"
#include "ua_calc.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoInput = 1;
constexpr int kExitBadFile = 2;
constexpr int kExitUnknownStation = 3;
constexpr int kExitBadOutput = 4;
constexpr const char* kDefaultType = "upa_cvt";

res_type res_key[] = {RES_help,    RES_batch,      RES_message,   RES_file_path, RES_data_path, RES_raw_path,
                      RES_name_conv, RES_current, RES_identifier, RES_out_file, RES_parameter, RES_plot_domain,
                      RES_null};
res_type res_pos[] = {RES_filename, RES_null};

// Names the input file from "filename", or from "current" through the naming convention.
bool input_file(char* name)
{
    const char* given = RES_get("filename");
    const char* current = RES_get("current");
    if ((!given || !*given) && !current) return false;
    if (given && *given) {
        str_copy(name, FILE_NAME_SIZE, given);
        return true;
    }
    const char* type = RES_get("name_conv");
    FILE_set_name(type && *type ? type : kDefaultType);
    FILE_set_current(current, name);
    return name[0] != '\0';
}

// Index numbers chosen with "parameter" (comma-separated names), or all of them.
std::vector<int> chosen_indices(bool* ok)
{
    std::vector<int> chosen;
    *ok = true;
    int count = 0;
    char** names = nullptr;
    if (RES_getvals("parameter", &count, &names) > 0 && names) {
        for (int i = 0; i < count; ++i) {
            int index = THERM_index_find(names[i]);
            if (index < 0) {
                MESS_print(M_error, "soundcalc: unknown index: %s\n", names[i]);
                *ok = false;
            } else {
                chosen.push_back(index);
            }
        }
    }
    if (names) free_parsed_array(count, names);
    if (chosen.empty() && *ok)
        for (int i = 0; i < THERM_NUM_INDEX; ++i) chosen.push_back(i);
    return chosen;
}

std::vector<std::string> requested_stations()
{
    std::vector<std::string> ids;
    int count = 0;
    char** values = nullptr;
    if (RES_getvals("identifier", &count, &values) > 0 && values)
        for (int i = 0; i < count; ++i)
            if (values[i] && *values[i]) ids.emplace_back(values[i]);
    if (values) free_parsed_array(count, values);
    return ids;
}

// True when output names the file input names (also through a link): writing it would
// empty the file while it is being read.
bool output_is_input(const char* output, const char* input)
{
    if (!output || !*output || FILE_is_stdio(output) || FILE_is_stdio(input)) return false;
    std::error_code ec;
    return std::filesystem::equivalent(output, input, ec) && !ec;
}

void print_help()
{
    char prog[RES_PROGNAME_SIZE];
    RES_get_progname(prog, sizeof prog);
    MESS_print(M_print, "%s : This program computes stability indices of upper-air soundings\n", prog);
    RES_help_print(prog, res_key, res_pos);
    MESS_print(M_print,
               "\nThe input is a file name, or a date (current) under the naming convention given by\n"
               "name_conv (default %s). Without out_file the indices are printed as a table;\n"
               "parameter selects indices by name (tt,ki,cape,...). An out_file ending in .png\n"
               "gets one diagram per station (NAME_ID.png); plot_domain picks the diagram\n"
               "(skewt, stuve, ema, teph, rteph).\n",
               kDefaultType);
}

}  // namespace

int main(int argc, char** argv)
{
    RES_init(argc, argv, res_key, res_pos);
    if (FLAG_help()) {
        print_help();
        QAZ_exit(kExitOk);
    }
    bool parameters_ok;
    std::vector<int> indices = chosen_indices(&parameters_ok);
    if (!parameters_ok) QAZ_exit(kExitNoInput);

    char name[FILE_NAME_SIZE] = "";
    if (!input_file(name)) {
        MESS_print(M_error, "soundcalc: no upper-air file given (a file name, or current with name_conv)\n");
        QAZ_exit(kExitNoInput);
    }
    const char* out_name = RES_get("out_file");
    if (output_is_input(out_name, name)) {
        MESS_print(M_error, "soundcalc: the output file is the input file: %s\n", out_name);
        QAZ_exit(kExitBadOutput);
    }
    int type = 0;
    UPA_info info{};
    int fd = UPA_open_file(name, nullptr, &type, &info);
    if (fd < 0) {
        MESS_print(M_error, "soundcalc: cannot read upper-air file: %s\n", name);
        QAZ_exit(kExitBadFile);
    }

    std::unique_ptr<SoundOutput> out;
    if (out_name && *out_name && is_picture_name(out_name)) {
        // A diagram is named by its projection word alone (skewt, stuve, ema, teph, rteph).
        const char* diagram = RES_get("plot_domain");
        out = make_diagram_output(out_name, &info, diagram && *diagram ? DOM_proj_str(diagram) : 40);
    } else {
        out = out_name && *out_name ? make_raw_output(out_name, &info, indices) : make_table_output(indices);
    }
    if (!out) {
        UPA_close(fd);
        QAZ_exit(kExitBadOutput);
    }

    auto report = std::make_unique<UPA_report>();
    auto profile = std::make_unique<THERM_values>();
    auto process = [&]() {
        THERM_calc(report.get(), profile.get());
        THERM_indices(profile.get());
        if (THERM_incomplete(profile.get())) {
            if (profile->top_p != -9999.0f)
                MESS_print(M_warn, "soundcalc: station %s: the sounding ends at %.0f mb: it is incomplete, indices "
                                   "that need the levels above are missing\n", profile->id, profile->top_p);
            else
                MESS_print(M_warn, "soundcalc: station %s: the sounding has no temperatures: it is incomplete\n",
                           profile->id);
        }
        out->station(*profile);
    };

    int status = kExitOk;
    int done = 0;
    std::vector<std::string> ids = requested_stations();
    if (ids.empty()) {
        for (int statnum = 0;; ++statnum) {
            int n = statnum;
            if (UPA_read(fd, report.get(), UPA_REP_ALL, &n) < 0) break;
            process();
            ++done;
        }
        if (done == 0) {
            MESS_print(M_error, "soundcalc: no sounding could be read from: %s\n", name);
            status = kExitBadFile;
        }
    } else {
        for (const std::string& id : ids) {
            if (UPA_get_station(fd, id.c_str(), report.get(), UPA_REP_ALL) < 0) {
                MESS_print(M_error, "soundcalc: station %s not found in %s\n", id.c_str(), name);
                status = kExitUnknownStation;
                continue;
            }
            process();
            ++done;
        }
    }
    UPA_close(fd);
    if (!out->finish() && status == kExitOk) status = kExitBadOutput;
    // A raw file written to the standard output must hold nothing but the file.
    bool raw_on_stdout = out_name && *out_name && FILE_is_stdio(out_name);
    if (!raw_on_stdout) MESS_print(M_mess, "soundcalc: %d soundings\n", done);
    QAZ_exit(status);
}
