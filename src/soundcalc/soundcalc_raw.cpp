// soundcalc's raw point-file output: fields id, lat, lon, then one declared field per index
// with its description and display format; each value is written as formatted text so that
// every index keeps its own precision.
#include "mess.hpp"
#include "raw_read.hpp"
#include "resrc.hpp"
#include "soundcalc_out.hpp"
#include "string.hpp"

namespace {

constexpr int kLocationFields = 3;

class RawOutput : public SoundOutput {
public:
    RawOutput(int fd, std::vector<int> indices) : fd_(fd), indices_(std::move(indices)) {}
    ~RawOutput() override
    {
        if (fd_ >= 0) RAW_close(fd_);
    }
    void station(const THERM_values& tv) override
    {
        RAW_report rep{};
        if (tv.id[0]) str_copy(rep.id, sizeof rep.id, tv.id);
        else str_format(rep.id, sizeof rep.id, "%5.5d", tv.wmo);
        rep.wmo = tv.wmo;
        rep.lat = tv.lat;
        rep.lon = tv.lon;
        rep.elev = tv.elev;
        rep.type = RAW_KIND_TEXT;
        ok_ &= RAW_write(fd_, &rep, 3, nullptr) == 1;
        for (int index : indices_) {
            float v = tv.index[index];
            rep.value[0] = v;
            rep.value[1] = -9999.0f;
            if (v == -9999.0f) rep.data[0] = '\0';
            else str_format(rep.data, sizeof rep.data, THERM_index_format(index), v);
            ok_ &= RAW_write(fd_, &rep, 2, nullptr) == 1;
        }
        ok_ &= RAW_write(fd_, &rep, 5, &line_) == 1;
    }
    bool finish() override
    {
        bool closed = RAW_close(fd_) == 0;
        fd_ = -1;
        return ok_ && closed;
    }

private:
    int fd_;
    std::vector<int> indices_;
    bool ok_ = true;
    int line_ = 0;
};

}  // namespace

std::unique_ptr<SoundOutput> make_raw_output(const char* filename, const UPA_info* info, const std::vector<int>& indices)
{
    int type = RAW_HEADER;
    int fd = RAW_open(filename, 1, &type);
    if (fd < 0) {
        MESS_print(M_error, "soundcalc: cannot write raw file: %s\n", filename);
        return nullptr;
    }
    // The values are written as text in each field's format; a "plot_format" resource
    // must not turn them into numbers of one format.
    RES_put("plot_format", "");
    const char* location[kLocationFields] = {"id", "lat", "lon"};
    for (int i = 0; i < kLocationFields; ++i) RAW_set_field_name(fd, i, location[i]);
    int field = kLocationFields;
    for (int index : indices) {
        RAW_set_field_name(fd, field, THERM_index_name(index));
        RAW_set_field_info(fd, field, THERM_index_info(index));
        RAW_set_field_fmt(fd, field, THERM_index_format(index));
        ++field;
    }
    RAW_info header{};
    str_copy(header.datim, sizeof header.datim, info ? info->datim : "");
    str_copy(header.info, sizeof header.info, "Stability indices");
    if (info) header.date = info->date;
    else DATE_init(&header.date);
    auto out = std::make_unique<RawOutput>(fd, indices);
    if (RAW_putinfo(fd, &header) != 0) {
        MESS_print(M_error, "soundcalc: cannot write raw file: %s\n", filename);
        return nullptr;
    }
    return out;
}
