// libFuzzer target for the raw point-data reader: the input bytes become a file that is
// opened with type detection, its header read, and every line taken apart by every
// selection form (iteration, column, field name, name=value, identifier).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_common.hpp"
#include "mess.hpp"
#include "raw_read.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        MESS_set(0, M_none);
        return true;
    }();
    (void)quiet;
    const std::string path = fuzz::write_file("input", data, size);

    int f_type = 0;
    const int fd = RAW_open(path.c_str(), 0, &f_type);
    if (fd < 0) return 0;
    RAW_info info{};
    if (f_type != RAW_PLAIN) RAW_getinfo(fd, &info);
    const char* second = RAW_get_num_field(fd) > 3 ? RAW_get_field_name(fd, 3) : "t";
    const char* selections[] = {"10", "11", "id", "wind", second, "75", "0"};
    RAW_report report{};
    for (int line = 0; line < 200; ++line) {
        int statnum = line;
        if (RAW_read(fd, &report, "1", &statnum) < 0) break;
        for (int k = 0; k < 80 && RAW_read(fd, &report, "1", &statnum) == 1; ++k) {
        }
        for (const char* sel : selections) RAW_read(fd, &report, sel, &statnum);
    }
    int statnum = 0;
    RAW_read(fd, &report, "10", &statnum);  // back to the first line
    RAW_close(fd);
    return 0;
}
