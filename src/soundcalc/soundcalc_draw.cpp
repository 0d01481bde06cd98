// soundcalc's picture output: one thermodynamic diagram per station, the station identifier
// put into the file name before its ".png".
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cctype>
#include <string>

#include "draw.hpp"
#include "mess.hpp"
#include "plt_labl.hpp"
#include "soundcalc_out.hpp"
#include "string.hpp"

namespace {

struct TableLine {
    int index;
    const char* label;
    const char* units;
};
// The indices a forecaster reads first beside the diagram.
constexpr TableLine kTable[] = {
    {TI_lifted_index, "LI", "C"},   {TI_cape, "CAPE", "J/kg"},   {TI_cin, "CIN", "J/kg"},
    {TI_mu_cape, "MUCAPE", "J/kg"}, {TI_lcl, "LCL", "mb"},       {TI_lfc, "LFC", "mb"},
    {TI_el, "EL", "mb"},            {TI_precip_water, "PW", "in"}, {TI_k_index, "K", ""},
    {TI_total_totals, "TT", ""},    {TI_helicity_3km, "SRH 0-3 km", "m2/s2"},
    {TI_helicity_1km, "SRH 0-1 km", "m2/s2"}, {TI_lapse_700_500, "LR 700-500", "C/km"},
};

// "dir/skewt.png" and station "OUN" give "dir/skewt_OUN.png"; characters that do not belong in
// a file name are replaced.
std::string station_file(const std::string& pattern, const char* id)
{
    std::string station;
    for (const char* c = id; *c; ++c)
        station += std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' ? *c : '_';
    if (station.empty()) station = "station";
    std::size_t dot = pattern.size() - 4;  // the caller checked the ".png" ending
    return pattern.substr(0, dot) + "_" + station + pattern.substr(dot);
}

class DiagramOutput : public SoundOutput {
public:
    DiagramOutput(std::string pattern, const UPA_info* info, int proj)
        : pattern_(std::move(pattern)), proj_(proj)
    {
        if (info) {
            PLT_label_date(&info->date);
            PLT_label_for_time(0);
            char label[PLT_LABEL_LEN];
            PLT_label_format("%D", label, sizeof label);
            time_label_ = label[0] ? label : info->datim;
        }
    }
    void station(const THERM_values& tv) override
    {
        DRAW_index table[sizeof kTable / sizeof kTable[0]];
        int n = 0;
        for (const TableLine& line : kTable) table[n++] = {line.label, tv.index[line.index], line.units};
        char title[96];
        if (tv.lat != -9999.0f && tv.lon != -9999.0f)
            str_format(title, sizeof title, "%s  %.2f, %.2f", tv.id, tv.lat, tv.lon);
        else
            str_copy(title, sizeof title, tv.id);
        DRAW_diagram_opts opts;
        DRAW_diagram_defaults(&opts);
        opts.proj = proj_;
        opts.title = title;
        opts.time_label = time_label_.empty() ? nullptr : time_label_.c_str();
        std::string file = station_file(pattern_, tv.id);
        if (DRAW_diagram_png(tv.sm, tv.num_sm, tv.sw, tv.num_sw, table, n, file.c_str(), &opts) != 0)
            ok_ = false;
        else
            MESS_print(M_mess, "soundcalc: wrote %s\n", file.c_str());
    }
    bool finish() override
    {
        // Drawing text leaves the font caches of the graphics library and the font
        // configuration holding memory to the end of the process; release them once every
        // diagram is written, so that a leak check at exit passes.
        cairo_debug_reset_static_data();
        FcFini();
        return ok_;
    }

private:
    std::string pattern_;
    int proj_;
    std::string time_label_;
    bool ok_ = true;
};

}  // namespace

bool is_picture_name(const char* filename)
{
    std::string name = filename ? filename : "";
    if (name.size() < 5) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png";
}

std::unique_ptr<SoundOutput> make_diagram_output(const char* filename, const UPA_info* info, int proj)
{
    if (proj < 40 || proj > 44) proj = 40;
    return std::make_unique<DiagramOutput>(filename, info, proj);
}
