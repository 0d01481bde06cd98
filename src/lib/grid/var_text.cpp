// Texts a forecaster reads for the coded forecast times and level values of grid records:
// "max 2-14 h", "acc 0-6 h", "500-300 mb", "3000-0 m AGL", "sigma 0.995". The coded values
// themselves stay as the decoders store them; only their reading lives here.
#include "var_tool.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "string.hpp"

namespace {

constexpr int kMissing = -9999;

// ---- Forecast times --------------------------------------------------------------------------

// One end of a range: hours below 800, 800 + days, 900 + calendar months.
struct Span {
    int value;
    const char* unit;
};

Span span_of(int coded)
{
    if (coded > 900 && coded < 1000) return {coded - 900, "mon"};
    if (coded >= 800 && coded < 900) return {coded - 800, "d"};
    if (coded == 900) return {0, "mon"};
    return {coded, "h"};
}

std::string span_text(int coded)
{
    const Span s = span_of(coded);
    return std::to_string(s.value) + " " + s.unit;
}

// "2-14 h" when both ends share a unit, "12 h-3 d" otherwise.
std::string range_text(int start, int end)
{
    const Span a = span_of(start), b = span_of(end);
    if (std::string(a.unit) == b.unit)
        return std::to_string(a.value) + "-" + std::to_string(b.value) + " " + b.unit;
    return span_text(start) + "-" + span_text(end);
}

struct RangeKind {
    int code;            // the millions of the coded time
    const char* prefix;  // statistic, "" for a plain range
};

// Statistics of the coded ranges (edition 1 time range indicators 2-5 and the edition 2
// statistical processes mapped onto them).
constexpr RangeKind kRanges[] = {
    {2, ""}, {3, "avg "}, {4, "acc "}, {5, "dif "}, {6, "max "}, {7, "min "},
};

// Coded time split into its parts; kind 0 is a plain forecast time.
struct CodedTime {
    int kind;
    int start;
    int end;
};

CodedTime split_time(int coded)
{
    if (coded < 1000000) return {0, 0, coded};
    return {coded / 1000000, (coded % 1000000) / 1000, coded % 1000};
}

std::string time_text(int coded)
{
    if (coded == kMissing || coded < 0) return "";
    const CodedTime t = split_time(coded);
    if (t.kind == 0) return span_text(t.end);
    for (const RangeKind& r : kRanges)
        if (r.code == t.kind) return r.prefix + range_text(t.start, t.end);
    // Averages and variances of series of forecasts or analyses carry the forecast length
    // and the span the series covers.
    if (t.kind == 13) return "avg of " + span_text(t.start) + " fcsts over " + span_text(t.end);
    if (t.kind == 18) return "var of " + span_text(t.start) + " fcsts over " + span_text(t.end);
    if (t.kind == 23) return "avg of anls over " + span_text(t.end);
    return "range " + std::to_string(t.kind) + " " + range_text(t.start, t.end);
}

// Offset of a coded span from a reference date; months move the calendar.
bool add_span(const Date& ref, int coded, Date* out)
{
    Date copy = ref;
    const bool whole_day = ref.hour == kMissing;
    if (copy.hour == kMissing) copy.hour = 0;
    if (copy.min == kMissing) copy.min = 0;
    if (copy.sec == kMissing) copy.sec = 0;
    std::int64_t seconds = DATE_num_sec(&copy);
    const Span s = span_of(coded);
    if (s.unit[0] == 'm') {
        const std::int64_t months = std::int64_t{copy.month} - 1 + s.value;
        copy.year = static_cast<int>(copy.year + months / 12);
        copy.month = static_cast<int>(months % 12) + 1;
        const int last = copy.month == 2 ? (DATE_is_leap(copy.year) ? 29 : 28)
                         : (copy.month == 4 || copy.month == 6 || copy.month == 9 || copy.month == 11)
                             ? 30 : 31;
        if (copy.day > last) copy.day = last;
        seconds = DATE_num_sec(&copy);
    } else {
        seconds += std::int64_t{s.value} * (s.unit[0] == 'd' ? 86400 : 3600);
    }
    DATE_get_gmdate(&seconds, out);
    if (whole_day) out->hour = out->min = out->sec = kMissing;
    else if (ref.min == kMissing) out->min = out->sec = kMissing;
    return true;
}

// ---- Levels ----------------------------------------------------------------------------------

enum LevelForm {
    kNoValue,     // the name alone
    kValue,       // before + value x mult + after
    kLayer,       // before + top-bottom + after, coded top x 1000 + bottom, each x mult
    kLayer1100,   // layer of two values coded 1100 - hPa
    kSigma1100,   // layer of two sigmas coded 1100 - 1000 sigma
    kMixedLayer,  // top in kPa, bottom coded 1100 - hPa
    kThetaLayer,  // layer of two theta coded 475 - K (a single value when below 1000)
    kPotVort,     // potential vorticity: PVU, or 10^-9 units when large
};

struct LevelText {
    int code;
    const char* name;    // shown without a value, and as the type's name
    LevelForm form;
    const char* before;  // text before the value(s)
    const char* after;   // text after the value(s)
    double mult;         // unit of the coded value in the shown unit
};

// Library level types: GRIB edition 1 code table 3 with the regional centres' cloud and ocean
// layers (200-254), and 1000 + the edition 2 surface types (table 4.5) whose edition 1 number
// means something else.
constexpr LevelText kLevelTexts[] = {
    {1, "Surface", kNoValue, "", "", 1},
    {2, "Cloud base", kNoValue, "", "", 1},
    {3, "Cloud top", kNoValue, "", "", 1},
    {4, "0C isotherm", kNoValue, "", "", 1},
    {5, "Condensation level", kNoValue, "", "", 1},
    {6, "Max wind", kNoValue, "", "", 1},
    {7, "Tropopause", kNoValue, "", "", 1},
    {8, "Top of atmosphere", kNoValue, "", "", 1},
    {9, "Sea bottom", kNoValue, "", "", 1},
    {10, "Entire atmosphere", kNoValue, "", "", 1},
    {11, "Cumulonimbus base", kNoValue, "", "", 1},
    {12, "Cumulonimbus top", kNoValue, "", "", 1},
    {13, "Cloud cover base", kValue, "", " % cloud cover base", 1},
    {14, "Level of free convection", kNoValue, "", "", 1},
    {15, "Convective condensation level", kNoValue, "", "", 1},
    {16, "Equilibrium level", kNoValue, "", "", 1},
    {17, "Most unstable parcel level", kNoValue, "", "", 1},
    {18, "Mixed layer parcel level", kValue, "Mixed layer parcel ", " Pa", 1},
    {20, "Isotherm", kValue, "", " K isotherm", 1},
    {21, "Mass density base", kNoValue, "", "", 1},
    {22, "Mass density top", kNoValue, "", "", 1},
    {23, "Air concentration base", kNoValue, "", "", 1},
    {24, "Air concentration top", kNoValue, "", "", 1},
    {25, "Echo top", kValue, "", " dBZ echo top", 1},
    {26, "Convective cloud layer base", kNoValue, "", "", 1},
    {27, "Convective cloud layer top", kNoValue, "", "", 1},
    {100, "Isobaric", kValue, "", " mb", 1},
    {101, "Isobaric layer", kLayer, "", " mb", 10},
    {102, "MSL", kNoValue, "", "", 1},
    {103, "Altitude", kValue, "", " m MSL", 1},
    {104, "Altitude layer", kLayer, "", " m MSL", 100},
    {105, "Height above ground", kValue, "", " m AGL", 1},
    {106, "Height layer above ground", kLayer, "", " m AGL", 100},
    {107, "Sigma", kValue, "sigma ", "", 1e-4},
    {108, "Sigma layer", kLayer, "sigma ", "", 0.01},
    {109, "Hybrid", kValue, "hybrid ", "", 1},
    {110, "Hybrid layer", kLayer, "hybrid ", "", 1},
    {111, "Depth below ground", kValue, "", " cm below ground", 1},
    {112, "Layer below ground", kLayer, "", " cm below ground", 1},
    {113, "Isentropic", kValue, "", " K theta", 1},
    {114, "Isentropic layer", kThetaLayer, "", " K theta", 1},
    {115, "Pressure above ground", kValue, "", " mb above ground", 1},
    {116, "Pressure layer above ground", kLayer, "", " mb above ground", 1},
    {117, "Potential vorticity", kPotVort, "", " PVU", 1},
    {119, "Eta", kValue, "eta ", "", 1e-4},
    {120, "Eta layer", kLayer, "eta ", "", 0.01},
    {121, "Isobaric layer", kLayer1100, "", " mb", 1},
    {125, "Height above ground", kValue, "", " cm AGL", 1},
    {128, "Sigma layer", kSigma1100, "sigma ", "", 1},
    {141, "Isobaric layer", kMixedLayer, "", " mb", 1},
    {160, "Depth below sea level", kValue, "", " m below sea level", 1},
    {200, "Entire atmosphere", kNoValue, "", "", 1},
    {201, "Entire ocean", kNoValue, "", "", 1},
    {204, "Highest tropospheric freezing level", kNoValue, "", "", 1},
    {206, "Grid-scale cloud bottom", kNoValue, "", "", 1},
    {207, "Grid-scale cloud top", kNoValue, "", "", 1},
    {209, "Boundary-layer cloud bottom", kNoValue, "", "", 1},
    {210, "Boundary-layer cloud top", kNoValue, "", "", 1},
    {211, "Boundary-layer cloud layer", kNoValue, "", "", 1},
    {212, "Low cloud bottom", kNoValue, "", "", 1},
    {213, "Low cloud top", kNoValue, "", "", 1},
    {214, "Low cloud layer", kNoValue, "", "", 1},
    {215, "Cloud ceiling", kNoValue, "", "", 1},
    {220, "Planetary boundary layer", kNoValue, "", "", 1},
    {222, "Middle cloud bottom", kNoValue, "", "", 1},
    {223, "Middle cloud top", kNoValue, "", "", 1},
    {224, "Middle cloud layer", kNoValue, "", "", 1},
    {232, "High cloud bottom", kNoValue, "", "", 1},
    {233, "High cloud top", kNoValue, "", "", 1},
    {234, "High cloud layer", kNoValue, "", "", 1},
    {235, "Ocean isotherm", kValue, "", " C ocean isotherm", 0.1},
    {236, "Ocean layer", kLayer, "", " m below ocean surface", 1},
    {237, "Bottom of ocean mixed layer", kNoValue, "", "", 1},
    {238, "Bottom of ocean isothermal layer", kNoValue, "", "", 1},
    {239, "Ocean layer to the 26C isotherm", kNoValue, "", "", 1},
    {240, "Ocean mixed layer", kNoValue, "", "", 1},
    {242, "Convective cloud bottom", kNoValue, "", "", 1},
    {243, "Convective cloud top", kNoValue, "", "", 1},
    {244, "Convective cloud layer", kNoValue, "", "", 1},
    {245, "Lowest wet-bulb zero", kNoValue, "", "", 1},
    {246, "Max equivalent potential temperature level", kNoValue, "", "", 1},
    {247, "Equilibrium level", kNoValue, "", "", 1},
    {248, "Shallow convective cloud bottom", kNoValue, "", "", 1},
    {249, "Shallow convective cloud top", kNoValue, "", "", 1},
    {251, "Deep convective cloud bottom", kNoValue, "", "", 1},
    {252, "Deep convective cloud top", kNoValue, "", "", 1},
    {253, "Supercooled liquid water bottom", kNoValue, "", "", 1},
    {254, "Supercooled liquid water top", kNoValue, "", "", 1},
    {1113, "Log hybrid", kValue, "log hybrid ", "", 1},
    {1114, "Snow level", kValue, "snow level ", "", 1},
    {1115, "Sigma height", kValue, "sigma height ", "", 1},
    {1117, "Mixed layer depth", kNoValue, "", "", 1},
    {1118, "Hybrid height", kValue, "hybrid height ", "", 1},
    {1119, "Hybrid pressure", kValue, "hybrid pressure ", "", 1},
    {1150, "Generalized height", kValue, "generalized height ", "", 1},
    {1151, "Soil level", kValue, "soil level ", "", 1},
    {1152, "Sea-ice level", kValue, "sea-ice level ", "", 1},
    {1161, "Depth below water surface", kValue, "", " m below water surface", 1},
    {1162, "Lake or river bottom", kNoValue, "", "", 1},
    {1163, "Bottom of sediment layer", kNoValue, "", "", 1},
    {1164, "Bottom of active sediment layer", kNoValue, "", "", 1},
    {1165, "Bottom of thermal wave sediment", kNoValue, "", "", 1},
    {1166, "Mixing layer", kNoValue, "", "", 1},
    {1167, "Bottom of root zone", kNoValue, "", "", 1},
    {1168, "Ocean model level", kValue, "ocean level ", "", 1},
    {1174, "Top of ice on water", kNoValue, "", "", 1},
    {1175, "Top of ice under snow", kNoValue, "", "", 1},
    {1176, "Underside of ice on water", kNoValue, "", "", 1},
    {1177, "Deep soil", kNoValue, "", "", 1},
    {1179, "Top of glacier ice", kNoValue, "", "", 1},
    {1180, "Deep glacier ice", kNoValue, "", "", 1},
};

const LevelText* find_level_text(int code)
{
    for (const LevelText& e : kLevelTexts)
        if (e.code == code) return &e;
    return nullptr;
}

// A number as a forecaster writes it: no trailing zeros, no exponent for ordinary levels.
std::string number_text(double v)
{
    char buf[32];
    if (std::fabs(v - std::round(v)) < 1e-9) std::snprintf(buf, sizeof buf, "%.0f", std::round(v));
    else std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

std::string layer_text(const LevelText& e, double top, double bottom)
{
    return std::string(e.before) + number_text(top) + "-" + number_text(bottom) + e.after;
}

std::string level_text(int ltype, int level)
{
    const LevelText* e = find_level_text(ltype);
    if (!e) {
        if (ltype == kMissing) return "";
        if (level == kMissing) return "level type " + std::to_string(ltype);
        return "level type " + std::to_string(ltype) + " " + std::to_string(level);
    }
    if (e->form == kNoValue || level == kMissing) return e->name;
    const int top = level / 1000, bottom = level % 1000;
    switch (e->form) {
    case kValue:
        return std::string(e->before) + number_text(level * e->mult) + e->after;
    case kLayer:
        return layer_text(*e, top * e->mult, bottom * e->mult);
    case kLayer1100:
        return layer_text(*e, 1100 - top, 1100 - bottom);
    case kSigma1100:
        return layer_text(*e, 1.1 - top / 1000.0, 1.1 - bottom / 1000.0);
    case kMixedLayer:
        return layer_text(*e, top * 10.0, 1100 - bottom);
    case kThetaLayer:
        if (level < 1000) return number_text(level) + e->after;
        return layer_text(*e, 475 - top, 475 - bottom);
    case kPotVort:
        // Edition 2 stores PVU; edition 1 counts in 10^-9 K m^2/kg/s, a thousandth of one.
        return number_text(std::abs(level) >= 100 ? level / 1000.0 : level) + e->after;
    case kNoValue:
        break;
    }
    return e->name;
}

int deliver(const std::string& s, char* text, int size)
{
    if (!text || size <= 0) return -1;
    if (str_copy(text, static_cast<std::size_t>(size), s.c_str()) < 0) return -1;
    return 0;
}

}  // namespace

int VAR_time_text(int coded_time, char* text, int size)
{
    return deliver(time_text(coded_time), text, size);
}

int VAR_valid_date(const Date* reference, int coded_time, Date* valid)
{
    if (!reference || !valid) return -1;
    if (coded_time == kMissing || coded_time < 0 || reference->year == kMissing) {
        DATE_init(valid);
        return -1;
    }
    const CodedTime t = split_time(coded_time);
    if (!add_span(*reference, t.end, valid)) return -1;
    // A series of forecasts of length start whose runs span end: the last one verifies at
    // the span's end plus the forecast length.
    if (t.kind == 13 || t.kind == 18) {
        const Date span_end = *valid;
        return add_span(span_end, t.start, valid) ? 0 : -1;
    }
    return 0;
}

int VAR_level_text(int ltype, int level, char* text, int size)
{
    return deliver(level_text(ltype, level), text, size);
}
