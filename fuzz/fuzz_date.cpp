// Date labels and time texts: labels read back (every form, display zones), month names,
// sequence numbers, zone settings, label formats, the hour option and time expressions
// ("la#3", "-1d6:30", "#202612070600"). The input is split at NUL bytes into the texts.
#include "fuzz_common.hpp"

namespace {

bool huge_search(const std::string& text)
{
    // "la#999999" steps through a million names: slow, not wrong; keep the fuzzer moving.
    for (size_t hash = text.find('#'); hash != std::string::npos; hash = text.find('#', hash + 1)) {
        if (hash == 0 || std::string("lLaA").find(text[hash - 1]) == std::string::npos) continue;
        size_t digits = 0;
        while (hash + 1 + digits < text.size() && text[hash + 1 + digits] >= '0' && text[hash + 1 + digits] <= '9') ++digits;
        if (digits > 4) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    const std::vector<std::string> texts = fuzz::split(data, size, 6);
    auto piece = [&](size_t i) { return i < texts.size() ? texts[i].c_str() : ""; };

    Date date;
    DATE_decode_label(piece(0), &date);
    DATE_decode_month(piece(0));
    Date seq;
    DATE_decode_seq(piece(0), &seq);

    DATE_set_TZ(piece(1));
    char label[DATE_LABEL_LEN];
    DATE_make_label(&date, label);
    DATE_decode_label(label, &seq);
    const int fhour = size >= 4 ? static_cast<int>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned>(data[3]) << 24) : 12;
    DATE_format_label(label, piece(2), fhour, piece(3), &date);
    char fhour_text[DATE_FHOUR_LEN];
    DATE_fhour_label(fhour_text, fhour, size % 2);
    DATE_make_label_for_time_mod(fhour, piece(3), &date, label);
    DATE_make_label_valid_time(fhour, &date, label);
    DATE_make_seq(&seq, label);

    FILE_set_hour(piece(4));
    FILE_set_name("@d%y%m%d%h%n");
    if (!huge_search(piece(5))) {
        char name[FILE_NAME_SIZE];
        FILE_set_current(piece(5), name);
        if (texts.size() > 5) setenv("qazcurtime", piece(0), 1);
        FILE_set_current(piece(5), name);
        unsetenv("qazcurtime");
    }
    return 0;
}
