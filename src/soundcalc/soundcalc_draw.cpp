// soundcalc's picture output: one thermodynamic diagram per station, the station identifier
// put into the file name before its ".png".
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
    float sign;  // -1: inhibition, stored as a positive energy, is shown negative
};
// The indices a forecaster reads first beside the diagram, parcel energies first.
constexpr TableLine kTable[] = {
    {TI_cape, "SBCAPE", "J/kg", 1},       {TI_cin, "SBCIN", "J/kg", -1},
    {TI_ml_cape, "MLCAPE", "J/kg", 1},    {TI_ml_cin, "MLCIN", "J/kg", -1},
    {TI_mu_cape, "MUCAPE", "J/kg", 1},    {TI_lifted_index, "LI", "C", 1},
    {TI_lcl, "LCL", "mb", 1},             {TI_lfc, "LFC", "mb", 1},
    {TI_el, "EL", "mb", 1},               {TI_dcape, "DCAPE", "J/kg", 1},
    {TI_precip_water, "PW", "in", 1},     {TI_k_index, "K", "", 1},
    {TI_total_totals, "TT", "", 1},       {TI_lapse_700_500, "LR 700-500", "C/km", 1},
    {TI_helicity_1km, "SRH 0-1 km", "m2/s2", 1}, {TI_helicity_3km, "SRH 0-3 km", "m2/s2", 1},
    {TI_shear_6km, "Shear 0-6 km", "kt", 1},     {TI_eff_srh, "Eff. SRH", "m2/s2", 1},
    {TI_eff_shear, "Eff. shear", "kt", 1},       {TI_stp, "STP (eff.)", "", 1},
    {TI_scp, "SCP", "", 1},
};
constexpr int kTableNotes = 2;

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

DRAW_parcel parcel_of(float start, const PARCEL_params& pp)
{
    if (start == -9999.0f || pp.plcl == -9999.0f || pp.tlcl == -9999.0f) return {-9999.0f, -9999.0f, -9999.0f};
    return {start, pp.plcl, pp.tlcl};
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
        DRAW_index table[sizeof kTable / sizeof kTable[0] + kTableNotes];
        int n = 0;
        for (const TableLine& line : kTable) {
            float v = tv.index[line.index];
            table[n++] = {line.label, v == -9999.0f ? v : line.sign * v, line.units};
        }
        table[n++] = {"CIN < 0: inhibition (J/kg)", -9999.0f, nullptr};
        table[n++] = {"Hodograph: kt, RM right mover", -9999.0f, nullptr};
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
        opts.sfc_parcel = parcel_of(tv.sfc.p, tv.sfc_parcel);
        opts.ml_parcel = parcel_of(tv.sfc.p, tv.ml_parcel);
        opts.mu_parcel = parcel_of(tv.mu_level.p, tv.mu_parcel);
        opts.lfc = tv.index[TI_lfc] > 0 ? tv.index[TI_lfc] : -9999.0f;
        opts.el = tv.index[TI_el] > 0 ? tv.index[TI_el] : -9999.0f;
        opts.storm_dir = tv.index[TI_rm_dir];
        opts.storm_spd = tv.index[TI_rm_spd];
        std::string file = station_file(pattern_, tv.id);
        if (DRAW_diagram_png(tv.sm, tv.num_sm, tv.sw, tv.num_sw, table, n, file.c_str(), &opts) != 0)
            ok_ = false;
        else
            MESS_print(M_mess, "soundcalc: wrote %s\n", file.c_str());
    }
    bool finish() override
    {
        DRAW_release();
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
