// The naming-convention file and file-name templates. The input is split at NUL bytes:
// the convention file (written as "name_conv" in file_path), the type asked for (tried as
// given and as a literal "@template"), a file name to interpret against the convention,
// and a "late_off conv hconv" text.
#include <cctype>

#include "fuzz_common.hpp"

namespace {

bool names_exit(const std::string& text)
{
    // "exit" typed as a file name ends the process by design.
    std::string lower;
    for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return lower.find("exit") != std::string::npos;
}

void name_files(const char* file)
{
    Date date;
    DATE_init(&date);
    date.year = 2026, date.month = 12, date.day = 7, date.hour = 6, date.min = 30;
    char name[FILE_NAME_SIZE];
    FILE_set_date(&date, name);
    FILE_hdr_set_date(&date, name);
    FILE_set_date_off(&date, -3600, name);
    FILE_set_date(nullptr, name);
    if (!names_exit(file)) FILE_set_file(file, name);
    FILE_get_date(&date);
    char conv[FILE_CONV_SIZE];
    FILE_get_name_conv(conv);
    FILE_save_name_conv();
    FILE_restore_name_conv();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    const std::vector<std::string> texts = fuzz::split(data, size, 4);
    auto piece = [&](size_t i) { return i < texts.size() ? texts[i] : std::string(); };
    const std::string conv_file = piece(0);
    fuzz::write_file("name_conv", reinterpret_cast<const uint8_t*>(conv_file.data()), conv_file.size());
    RES_put("file_path", (fuzz::work_dir() + "/").c_str());
    RES_put("data_path", (fuzz::work_dir() + "/data/").c_str());
    RES_put("model", "nam");
    FILE_set_type(static_cast<int>(size % 2));

    FILE_set_name(piece(1).c_str());
    name_files(piece(2).c_str());
    FILE_set_name(("@" + piece(1)).c_str());
    name_files(piece(2).c_str());
    FILE_set_name_conv(piece(3).c_str());
    name_files(piece(2).c_str());
    FILE_set_name("none");
    return 0;
}
