// Output of soundcalc: one implementation per output form.
#pragma once

#include <memory>
#include <vector>

#include "ua_calc.hpp"
#include "ua_read.hpp"

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Writes the chosen indices of one station.
    virtual void station(const THERM_values& tv) = 0;
    // Ends the output; false when it could not be written completely.
    virtual bool finish() = 0;
};

// Table on the standard output: a station line, then one line per index.
std::unique_ptr<SoundOutput> make_table_output(const std::vector<int>& indices);
// Raw point file with one declared field per index; null (after a message) when the file
// cannot be opened.
std::unique_ptr<SoundOutput> make_raw_output(const char* filename, const UPA_info* info, const std::vector<int>& indices);
// True for an output name ending in ".png" (any case).
bool is_picture_name(const char* filename);
// One thermodynamic diagram per station, written to the name with "_ID" before ".png";
// proj is the diagram projection (40 skew-T, 41 Stuve, 42 emagram, 43 tephigram, 44).
std::unique_ptr<SoundOutput> make_diagram_output(const char* filename, const UPA_info* info, int proj);
