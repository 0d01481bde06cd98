// libFuzzer target for the upper-air formats decoded as a whole when opened (BUFR, TEMP
// bulletins, radiosonde archive files, sounding tables): the first byte picks the format
// (so that each reader is reached whatever the detection makes of the rest), the other bytes
// are the file. Every sounding is read, by index and by time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_common.hpp"
#include "mess.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        MESS_set(0, M_none);
        return true;
    }();
    (void)quiet;
    if (size < 1) return 0;
    const int types[] = {0, UPA_BUFR, UPA_TEMP, UPA_IGRA, UPA_TABLE};
    int f_type = types[data[0] % 5];  // 0: detected from the file
    const std::string path = fuzz::write_file("input", data + 1, size - 1);
    const int fd = UPA_open(path.c_str(), 0, &f_type);
    if (fd < 0) return 0;
    UPA_info info{};
    UPA_getinfo(fd, &info);
    UPA_report report;
    int last_time = -9999;
    for (int n = 0; n < 500; ++n) {
        int statnum = n;
        if (UPA_read(fd, &report, n % 7 ? UPA_REP_ALL : UPA_REP_LOCATION, &statnum) < 0) break;
        if (report.numsig < 0 || report.numsig > UPA_SIG_LEVELS || report.numwnd < 0 ||
            report.numwnd > UPA_WND_LEVELS || report.numman < 0 || report.numman > UPA_MAN_LEVELS)
            std::abort();
        last_time = report.time;
    }
    UPA_get_station_at(fd, "", last_time, &report, UPA_REP_ALL);
    UPA_rewind(fd);
    UPA_close(fd);
    return 0;
}
