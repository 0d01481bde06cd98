// soundcalc's table output.
#include <cstdio>

#include "mess.hpp"
#include "soundcalc_out.hpp"
#include "string.hpp"

namespace {

class TableOutput : public SoundOutput {
public:
    explicit TableOutput(std::vector<int> indices) : indices_(std::move(indices)) {}
    void station(const THERM_values& tv) override
    {
        MESS_print(M_print, "Station %-8s", tv.id);
        if (tv.wmo != -9999) MESS_print(M_print, " %5.5d", tv.wmo);
        if (tv.lat != -9999.0f) MESS_print(M_print, " %7.2f %8.2f", tv.lat, tv.lon);
        MESS_print(M_print, "  levels %d\n", tv.num_sm);
        for (int index : indices_) {
            char value[32];
            float v = tv.index[index];
            // Inhibition is kept as a positive energy (raw files keep it so) but read as CIN < 0.
            if (v > 0.0f && (index == TI_cin || index == TI_ml_cin)) v = -v;
            if (v == -9999.0f) str_copy(value, sizeof value, "-");
            else str_format(value, sizeof value, THERM_index_format(index), v);
            MESS_print(M_print, "  %-8s %10s  %s\n", THERM_index_name(index), value, THERM_index_info(index));
        }
    }
    bool finish() override { return std::fflush(stdout) == 0; }

private:
    std::vector<int> indices_;
};

}  // namespace

std::unique_ptr<SoundOutput> make_table_output(const std::vector<int>& indices)
{
    return std::make_unique<TableOutput>(indices);
}
