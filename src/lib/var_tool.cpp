// Model names by originating centre and generating-process number (the public WMO
// centre table and the generating-process table of the US national centre).
#include "var_tool.hpp"

#include <array>

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
    if (model >= 1000)
        for (const auto& entry : kCentres)
            if (entry.centre == centre) return entry.name;
    return "Unknown";
}
