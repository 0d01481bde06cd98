// Model names by originating centre and generating-process number (the public WMO
// centre table and the generating-process table of the US national centre).
#include "var_tool.hpp"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <strings.h>

#include "string.hpp"

namespace {

constexpr int kUsCentre = 7;

struct ProcessName {
    int process;
    const char* name;
};

// Generating processes of centre 7; short names because they go into plot titles.
constexpr std::array<ProcessName, 56> kUsProcesses{{
    {2, "UVI"},        {3, "ARL-TDM"},    {5, "SAT-PCP"},    {10, "WAVE"},
    {11, "MGWAVE"},    {12, "SURGE"},     {19, "LFM-ANL"},   {25, "SNOW"},
    {30, "FCSTR"},     {31, "POSTPROC"},  {39, "NGM"},       {42, "GOI"},
    {43, "GOI-FNL"},   {44, "SST"},       {45, "COAST"},     {49, "OZONE"},
    {53, "LFM"},       {64, "ROI"},       {68, "SPEC80"},    {69, "SPEC80"},
    {70, "QLM"},       {73, "FOG"},       {76, "MRF-BC"},    {77, "AVN"},
    {78, "MRF"},       {79, "BACKUP"},    {80, "MRF62"},     {81, "GFS-ANL"},
    {82, "GDAS"},      {83, "ETA"},       {84, "NAM"},       {85, "ETA30"},
    {86, "RUC"},       {87, "ENSEMBLE"},  {88, "WAVE3"},     {89, "NMM"},
    {94, "MRF"},       {95, "MRF"},       {96, "GFS"},       {98, "CFS"},
    {100, "RUC-SFC"},  {101, "RUC-SFC"},  {105, "RUC"},      {107, "GEFS"},
    {108, "LAMP"},     {109, "RTMA"},     {110, "NAM"},      {111, "NAM"},
    {112, "WRF-NMM"},  {113, "SREF"},     {116, "WRF-EM"},   {120, "ICE"},
    {140, "NARR"},     {141, "LDAS"},     {183, "NDFD"},     {199, "CFSR"},
}};

struct CentreName {
    int centre;
    const char* name;
};

// Originating centres (WMO common code table C-1).
constexpr std::array<CentreName, 10> kCentres{{
    {7, "NCEP"},  {8, "NWSTG"}, {9, "NWS"},   {34, "JMA"},   {54, "CMC"},
    {57, "AFWA"}, {58, "FNMOC"}, {74, "UKMO"}, {78, "DWD"},  {98, "ECMWF"},
}};

}  // namespace

const char* VAR_model(int model) {
    if (model < 0) return "Unknown";
    const int centre = model >= 1000 ? model / 1000 : kUsCentre;
    const int process = model % 1000;
    if (centre == kUsCentre)
        for (const auto& entry : kUsProcesses)
            if (entry.process == process) return entry.name;
    if (model >= 1000) {
        for (const auto& entry : kCentres)
            if (entry.centre == centre) return entry.name;
        const char* wmo = VAR_centre_name(centre);
        if (wmo[0]) return wmo;
    }
    return "Unknown";
}

int VAR_model_code(int source, int model)
{
    if (source > 1 && source < 1000 && model >= 0 && model < 1000) return source * 1000 + model;
    return model;
}

// ---- Variables and level types ---------------------------------------------------------------

namespace {

struct VarEntry {
    int num;
    const char* name;
    const char* units;
    const char* long_name;
};

// Library variables: WMO GRIB edition 1 code table 2 (1-127) and the US national centre's
// entries above 127, with the unit spellings the GRIB decoder writes; then the numbers the
// grid readers give to mapped fields (above 255) and derived quantities of the grid math
// (800-899: clear of the edition 1 table and of the numbers edition 2 parameters get
// without a table line, discipline x 1,000,000 + category x 1000 + number). One row per number; a new variable is one row.
constexpr VarEntry kVars[] = {
    {1, "PRES", "Pa", "Pressure"},
    {2, "PRMSL", "Pa", "Pressure reduced to MSL"},
    {3, "PTEND", "Pa/s", "Pressure tendency"},
    {4, "PVORT", "", "Potential vorticity"},
    {5, "ICAHT", "", "ICAO standard atmosphere reference height"},
    {6, "GP", "m^2/s^2", "Geopotential"},
    {7, "HGT", "gpm", "Height"},
    {8, "DIST", "m", "Geometric height"},
    {9, "HSTDV", "m", "Standard deviation of height"},
    {10, "TOZNE", "Dobson", "Total ozone"},
    {11, "TMP", "K", "Temperature"},
    {12, "VTMP", "K", "Virtual temperature"},
    {13, "POT", "K", "Potential temperature"},
    {14, "EPOT", "K", "Pseudo-adiabatic potential temperature"},
    {15, "TMAX", "K", "Maximum temperature"},
    {16, "TMIN", "K", "Minimum temperature"},
    {17, "DPT", "K", "Dew point temperature"},
    {18, "DEPR", "dK", "Dew point depression"},
    {19, "LAPR", "K/m", "Lapse rate"},
    {20, "VIS", "m", "Visibility"},
    {21, "RDSP1", "Dbz", "Radar spectra (1)"},
    {22, "RDSP2", "", "Radar spectra (2)"},
    {23, "RDSP3", "", "Radar spectra (3)"},
    {24, "PLI", "dK", "Parcel lifted index"},
    {25, "TMPA", "dK", "Temperature anomaly"},
    {26, "PRESA", "Pa", "Pressure anomaly"},
    {27, "GPA", "gpm", "Height anomaly"},
    {28, "WVSP1", "", "Wave spectra (1)"},
    {29, "WVSP2", "", "Wave spectra (2)"},
    {30, "WVSP3", "", "Wave spectra (3)"},
    {31, "WDIR", "deg", "Wind direction"},
    {32, "WIND", "m/s", "Wind speed"},
    {33, "UGRD", "m/s", "U wind"},
    {34, "VGRD", "m/s", "V wind"},
    {35, "STRM", "m^2/s", "Stream function"},
    {36, "VPOT", "m^2/s", "Velocity potential"},
    {37, "MNTSF", "m^2/s^2", "Montgomery stream function"},
    {38, "SGCVV", "/s", "Sigma vertical velocity"},
    {39, "VVEL", "Pa/s", "Vertical velocity"},
    {40, "DZDT", "m/s", "Geometric vertical velocity"},
    {41, "ABSV", "/s", "Absolute vorticity"},
    {42, "ABSD", "/s", "Absolute divergence"},
    {43, "RELV", "/s", "Relative vorticity"},
    {44, "RELD", "/s", "Relative divergence"},
    {45, "VUCSH", "/s", "Vertical u shear"},
    {46, "VVCSH", "/s", "Vertical v shear"},
    {47, "DIRC", "deg", "Direction of current"},
    {48, "SPC", "m/s", "Speed of current"},
    {49, "UOGRD", "m/s", "U of current"},
    {50, "VOGRD", "kg/kg", "V of current"},
    {51, "SPFH", "kg/kg", "Specific humidity"},
    {52, "RH", "%", "Relative humidity"},
    {53, "MIXR", "kg/kg", "Humidity mixing ratio"},
    {54, "PWAT", "kg/m^2", "Precipitable water"},
    {55, "VAPP", "Pa", "Vapor pressure"},
    {56, "SATD", "Pa", "Saturation deficit"},
    {57, "EVP", "kg/m^2", "Evaporation"},
    {58, "CICE", "kg/m^2", "Cloud ice"},
    {59, "PRATE", "kg/m^2/s", "Precipitation rate"},
    {60, "TSTM", "%", "Thunderstorm probability"},
    {61, "APCP", "kg/m^2", "Total precipitation"},
    {62, "NCPCP", "kg/m^2", "Large scale precipitation"},
    {63, "ACPCP", "kg/m^2", "Convective precipitation"},
    {64, "SRWEQ", "", "Snowfall rate water equivalent"},
    {65, "WEASD", "kg/m^2", "Water equivalent of snow depth"},
    {66, "SNOD", "m", "Snow depth"},
    {67, "MIXHT", "", "Mixed layer depth"},
    {68, "TTHDP", "", "Transient thermocline depth"},
    {69, "MTHD", "", "Main thermocline depth"},
    {70, "MTHA", "", "Main thermocline anomaly"},
    {71, "TCDC", "%", "Total cloud cover"},
    {72, "CDCON", "", "Convective cloud cover"},
    {73, "LCDC", "", "Low cloud cover"},
    {74, "MCDC", "", "Medium cloud cover"},
    {75, "HCDC", "", "High cloud cover"},
    {76, "CWAT", "kg/kg", "Cloud water"},
    {77, "BLI", "kg/m^3", "Best lifted index"},
    {78, "SNOC", "", "Convective snow"},
    {79, "SNOL", "", "Large scale snow"},
    {80, "WTMP", "K", "Water temperature"},
    {81, "LAND", "", "Land cover"},
    {82, "DSLM", "", "Deviation of sea level from mean"},
    {83, "SFCR", "m", "Surface roughness"},
    {84, "ALBDO", "%", "Albedo"},
    {85, "TSOIL", "K", "Soil temperature"},
    {86, "SOILM", "kg/m^2", "Soil moisture content"},
    {87, "VEG", "", "Vegetation"},
    {88, "SALTY", "", "Salinity"},
    {89, "DEN", "", "Density"},
    {90, "WATR", "kg/m^2", "Water runoff"},
    {91, "ICEC", "", "Ice cover"},
    {92, "ICETK", "", "Ice thickness"},
    {93, "DICED", "", "Direction of ice drift"},
    {94, "SICED", "", "Speed of ice drift"},
    {95, "UICE", "", "U of ice drift"},
    {96, "VICE", "", "V of ice drift"},
    {97, "ICEG", "", "Ice growth rate"},
    {98, "ICED", "", "Ice divergence"},
    {99, "SNOM", "", "Snow melt"},
    {100, "HTSGW", "m", "Significant height of wind waves and swell"},
    {101, "WVDIR", "", "Direction of wind waves"},
    {102, "WVHGT", "", "Significant height of wind waves"},
    {103, "WVPER", "", "Mean period of wind waves"},
    {104, "SWDIR", "", "Direction of swell waves"},
    {105, "SWELL", "", "Significant height of swell waves"},
    {106, "SWPER", "", "Mean period of swell waves"},
    {107, "DIRPW", "deg", "Primary wave direction"},
    {108, "PERPW", "s", "Primary wave mean period"},
    {109, "DIRSW", "", "Secondary wave direction"},
    {110, "PERSW", "", "Secondary wave mean period"},
    {111, "NSWRS", "W/m^2", "Net short wave radiation flux (surface)"},
    {112, "NLWRS", "W/m^2", "Net long wave radiation flux (surface)"},
    {113, "NSWRT", "W/m^2", "Net short wave radiation flux (top)"},
    {114, "NLWRT", "W/m^2", "Net long wave radiation flux (top)"},
    {115, "LWAVR", "", "Long wave radiation flux"},
    {116, "SWAVR", "", "Short wave radiation flux"},
    {117, "GRAD", "", "Global radiation flux"},
    {118, "BRTMP", "", "Brightness temperature"},
    {119, "LWRAD", "", "Long wave radiance"},
    {120, "SWRAD", "", "Short wave radiance"},
    {121, "LHTFL", "W/m^2", "Latent heat net flux"},
    {122, "SHTFL", "W/m^2", "Sensible heat net flux"},
    {123, "BLYDP", "", "Boundary layer dissipation"},
    {124, "UFLX", "N/m^2", "Momentum flux, u component"},
    {125, "VFLX", "N/m^2", "Momentum flux, v component"},
    {126, "WMIXE", "", "Wind mixing energy"},
    {127, "IMGD", "", "Image data"},
    {128, "MSLSA", "Pa", "Mean sea level pressure (standard atmosphere reduction)"},
    {129, "MSLMA", "Pa", "Mean sea level pressure (MAPS reduction)"},
    {130, "MSLET", "Pa", "Mean sea level pressure (model reduction)"},
    {131, "LFTX", "dK", "Surface lifted index"},
    {132, "4LFTX", "dK", "Best (4 layer) lifted index"},
    {133, "KX", "K", "K index"},
    {134, "PRESN", "", "Pressure of level from which parcel was lifted"},
    {135, "MCONV", "kg/kg/s", "Horizontal moisture convergence"},
    {136, "VWSH", "/s", "Vertical speed shear"},
    {138, "BVF2", "/s^2", "Brunt-Vaisala frequency squared"},
    {140, "CRAIN", "", "Categorical rain"},
    {141, "CFRZR", "", "Categorical freezing rain"},
    {142, "CICEP", "", "Categorical ice pellets"},
    {143, "CSNOW", "", "Categorical snow"},
    {144, "SOILW", "", "Volumetric soil moisture content"},
    {145, "PEVPR", "W/m^2", "Potential evaporation rate"},
    {146, "CWORK", "J/kg", "Cloud work function"},
    {147, "UGWD", "N/m^2", "Zonal flux of gravity wave stress"},
    {148, "VGWD", "N/m^2", "Meridional flux of gravity wave stress"},
    {153, "CLWMR", "kg/kg", "Cloud mixing ratio"},
    {154, "O3MR", "kg/kg", "Ozone mixing ratio"},
    {155, "GFLUX", "W/m^2", "Ground heat flux"},
    {156, "CIN", "J/kg", "Convective inhibition"},
    {157, "CAPE", "J/kg", "Convective available potential energy"},
    {158, "TKE", "J/kg", "Turbulent kinetic energy"},
    {160, "CSUSF", "W/m^2", "Clear sky upward solar flux"},
    {161, "CSDSF", "W/m^2", "Clear sky downward solar flux"},
    {162, "CSULF", "W/m^2", "Clear sky upward long wave flux"},
    {163, "CSDLF", "W/m^2", "Clear sky downward long wave flux"},
    {164, "CFNSF", "W/m^2", "Cloud forcing net solar flux"},
    {165, "CFNLF", "W/m^2", "Cloud forcing net long wave flux"},
    {166, "VBDSF", "W/m^2", "Visible beam downward solar flux"},
    {167, "VDDSF", "W/m^2", "Visible diffuse downward solar flux"},
    {168, "NBDSF", "W/m^2", "Near IR beam downward solar flux"},
    {172, "MFLX", "N/m^2", "Momentum flux"},
    {190, "HLCY", "m^2/s^2", "Storm relative helicity"},
    {191, "PROB", "", "Probability"},
    {192, "PROBN", "", "Probability (normalized)"},
    {193, "POP", "%", "Probability of precipitation"},
    {194, "CPOFP", "%", "Probability of frozen precipitation"},
    {195, "CPOZP", "%", "Probability of freezing precipitation"},
    {196, "USTM", "m/s", "U storm motion"},
    {197, "VSTM", "m/s", "V storm motion"},
    {201, "ICWAT", "%", "Ice-free water surface"},
    {204, "DSWRF", "W/m^2", "Downward short wave flux"},
    {205, "DLWRF", "W/m^2", "Downward long wave flux"},
    {207, "MSTAV", "%", "Moisture availability"},
    {211, "USWRF", "W/m^2", "Upward short wave flux"},
    {212, "ULWRF", "W/m^2", "Upward long wave flux"},
    {213, "CDLYR", "%", "Non-convective cloud"},
    {214, "CPRAT", "kg/m^2/s", "Convective precipitation rate"},
    {216, "TTRAD", "K/s", "Temperature tendency by all radiation"},
    {221, "HPBL", "m", "Planetary boundary layer height"},
    {222, "5WAVH", "gpm", "5-wave geopotential height"},
    {223, "CNWAT", "kg/m^2", "Plant canopy surface water"},
    {230, "5WAVA", "gpm", "5-wave geopotential height anomaly"},
    {326, "EWSS", "N/m^2", "East-west surface stress"},
    {327, "NSSS", "N/m^2", "North-south surface stress"},
    {491, "REFC", "dBZ", "Composite reflectivity"},
    {571, "P177", "-", "Local parameter 177"},
    // Derived quantities of the grid math.
    {800, "vort", "/s", "Vorticity"},
    {801, "avort", "/s", "Absolute vorticity"},
    {802, "div", "/s", "Divergence"},
    {803, "adv", "", "Advection"},
    {804, "lapl", "", "Laplacian"},
    {805, "gradmag", "", "Gradient magnitude"},
    {806, "ddx", "", "X derivative"},
    {807, "ddy", "", "Y derivative"},
    {808, "thetae", "K", "Equivalent potential temperature"},
    {809, "theta", "K", "Potential temperature"},
    {810, "wspd", "kt", "Wind speed"},
    {811, "wchill", "C", "Wind chill"},
    {812, "thick", "m", "Thickness"},
    {813, "defm", "/s", "Deformation"},
    {814, "frnt", "", "Frontogenesis"},
    {815, "heatidx", "C", "Heat index"},
    {816, "tdd", "C", "Dew point depression"},
    {817, "geowind", "kt", "Geostrophic wind speed"},
    {818, "ageo", "kt", "Ageostrophic wind speed"},
    {819, "mag", "", "Magnitude"},
};

struct LevelEntry {
    int code;
    const char* text;
    int kind;  // 0 no value, 1 one value, 2 a layer coded top x 1000 + bottom
};

// Level types: WMO GRIB edition 1 code table 3.
constexpr LevelEntry kLevels[] = {
    {1, "Surface", 0},
    {2, "Cloud base", 0},
    {3, "Cloud top", 0},
    {4, "0C isotherm", 0},
    {5, "Condensation level", 0},
    {6, "Max wind", 0},
    {7, "Tropopause", 0},
    {8, "Top of atmosphere", 0},
    {9, "Sea bottom", 0},
    {20, "K isotherm", 1},
    {100, "mb", 1},
    {101, "mb layer", 2},
    {102, "MSL", 0},
    {103, "m MSL", 1},
    {104, "hm MSL layer", 2},
    {105, "m AGL", 1},
    {106, "hm AGL layer", 2},
    {107, "sigma", 1},
    {108, "sigma layer", 2},
    {109, "hybrid", 1},
    {110, "hybrid layer", 2},
    {111, "cm below ground", 1},
    {112, "cm below ground layer", 2},
    {113, "K theta", 1},
    {114, "K theta layer", 2},
    {115, "mb above ground", 1},
    {116, "mb above ground layer", 2},
    {117, "PV units", 1},
    {119, "eta", 1},
    {120, "eta layer", 2},
    {121, "mb layer", 2},
    {125, "cm AGL", 1},
    {128, "sigma layer", 2},
    {141, "mb layer", 2},
    {160, "m below sea level", 1},
    {200, "Atmosphere", 0},
    {201, "Ocean", 0},
};

// Edition 2 parameters named from the WMO tables as the decoder meets them.
struct WmoName {
    std::string name;  // the triplet
    std::string units;
    std::string long_name;
    VarEntry entry;
};
std::map<int, WmoName>& wmo_names()
{
    static std::map<int, WmoName> names;
    return names;
}
// Decoders on several threads add names: an entry is added whole under the lock and never
// changed or removed, so a pointer to it stays good after the lock is let go.
std::shared_mutex wmo_names_lock;

const VarEntry* find_var(int var)
{
    for (const VarEntry& e : kVars)
        if (e.num == var) return &e;
    const std::shared_lock<std::shared_mutex> hold(wmo_names_lock);
    const auto& extra = wmo_names();
    const auto it = extra.find(var);
    return it == extra.end() ? nullptr : &it->second.entry;
}

std::string triplet(int var)
{
    return std::to_string(var / 1000000) + "." + std::to_string(var / 1000 % 1000) + "." +
           std::to_string(var % 1000);
}

const LevelEntry* find_level(int ltype)
{
    for (const LevelEntry& e : kLevels)
        if (e.code == ltype) return &e;
    return nullptr;
}

}  // namespace

int VAR_search_var_num(const char* name)
{
    if (!name) return -1;
    for (const VarEntry& e : kVars)
        if (strcasecmp(e.name, name) == 0) return e.num;
    const std::shared_lock<std::shared_mutex> hold(wmo_names_lock);
    for (const auto& kv : wmo_names())
        if (strcasecmp(kv.second.name.c_str(), name) == 0) return kv.first;
    return -1;
}

int VAR_var_abbrev(int var, char* text, int size)
{
    if (!text || size <= 0) return -1;
    const VarEntry* e = find_var(var);
    std::string s;
    if (e && e->name[0]) {
        s = e->name;
    } else if (var >= 100000000) {
        s = "PROB";  // probability products: variable, threshold and type folded in
    } else if (var >= 19000000 && var < 20000000) {
        // Ensemble products: the variable with the member, mean or spread.
        const int rest = var - 19000000, code = rest / 1000;
        char base[24];
        VAR_var_abbrev(rest % 1000, base, sizeof base);
        static const char* const kKinds[] = {"", "", "-", "+", "c", "w"};
        if (code == 0) s = std::string(base) + ".mean";
        else if (code == 1) s = std::string(base) + ".sprd";
        else if (code >= 300 && (code - 280) / 20 <= 5)
            s = std::string(base) + "[" + kKinds[(code - 280) / 20] + std::to_string((code - 280) % 20) + "]";
        else s = std::to_string(var);
    } else if (var >= 1000 && var < 256000000 && var % 1000000 / 1000 < 256 && var % 1000 < 256) s = triplet(var);
    else if (var == -9999) s = "-";
    else s = std::to_string(var);
    return str_copy(text, static_cast<std::size_t>(size), s.c_str()) < 0 ? -1 : 0;
}

void VAR_add_wmo_name(int var, const char* name, const char* units, const char* long_name)
{
    if (find_var(var) || !long_name || !long_name[0]) return;
    // Looked up before the table is locked for writing: the lookup takes the lock to read.
    const bool own_name = name && name[0] && VAR_search_var_num(name) < 0;
    const std::unique_lock<std::shared_mutex> hold(wmo_names_lock);
    const auto [it, added] = wmo_names().try_emplace(var);
    if (!added) return;  // another thread named it meanwhile
    WmoName& w = it->second;
    w.name = own_name ? name : triplet(var);
    w.units = units ? units : "";
    w.long_name = long_name;
    w.entry = VarEntry{var, w.name.c_str(), w.units.c_str(), w.long_name.c_str()};
}

const char* VAR_var_name(int var)
{
    const VarEntry* e = find_var(var);
    return e ? e->name : "";
}

const char* VAR_var_units(int var)
{
    const VarEntry* e = find_var(var);
    return e ? e->units : "";
}

const char* VAR_var_long_name(int var)
{
    const VarEntry* e = find_var(var);
    return e ? e->long_name : "";
}

const char* VAR_level_text(int ltype)
{
    const LevelEntry* e = find_level(ltype);
    return e ? e->text : "";
}

int VAR_make_datatype(int /*time*/, int ltype, int level, int var, const char* units, char* info, std::size_t size)
{
    if (!info || size == 0) return 0;
    char level_part[48] = "";
    if (ltype != -9999) VAR_level_text(ltype, level, level_part, static_cast<int>(sizeof level_part));
    else if (level != -9999) str_format(level_part, sizeof level_part, "%d", level);

    char var_part[72];
    const VarEntry* v = find_var(var);
    if (v) str_copy(var_part, sizeof var_part, v->long_name);
    else if (var != -9999) str_format(var_part, sizeof var_part, "Variable %d", var);
    else var_part[0] = '\0';

    const char* unit = units && units[0] ? units : v ? v->units : "";
    char unit_part[40] = "";
    if (unit[0]) str_format(unit_part, sizeof unit_part, "(%s)", unit);

    info[0] = '\0';
    for (const char* part : {level_part, var_part, unit_part}) {
        if (!part[0]) continue;
        const std::size_t used = std::strlen(info);
        if (used + 1 >= size) break;
        str_format(info + used, size - used, "%s%s", used ? " " : "", part);
    }
    return 0;
}

void VAR_init_data(VAR_data* data)
{
    if (!data) return;
    for (int& v : data->var) v = -9999;
    data->ltype = data->level = data->time = -9999;
    data->units[0] = '\0';
}
