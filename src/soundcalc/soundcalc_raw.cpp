// soundcalc's raw point-file output.
#include "mess.hpp"
#include "soundcalc_out.hpp"

std::unique_ptr<SoundOutput> make_raw_output(const char* filename, const UPA_info*, const std::vector<int>&)
{
    MESS_print(M_error, "soundcalc: raw output not available: %s\n", filename);
    return nullptr;
}
