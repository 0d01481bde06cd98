// libFuzzer target for the upper-air readers: the input bytes become a file that is opened
// with type detection and read station by station with every part selection.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
    const std::string path = fuzz::write_file("input", data, size);

    int f_type = 0;
    const int fd = UPA_open(path.c_str(), 0, &f_type);
    if (fd < 0) return 0;
    UPA_info info{};
    UPA_getinfo(fd, &info);
    UPA_report report;
    const int parts[] = {UPA_REP_ALL, UPA_REP_ID, UPA_REP_SURFACE, 3, UPA_REP_TROP, UPA_REP_LOCATION};
    for (int n = 0; n < 200; ++n) {
        int statnum = n;
        if (UPA_read(fd, &report, parts[n % 6], &statnum) < 0) break;
        if (report.numsig > UPA_SIG_LEVELS || report.numwnd > UPA_WND_LEVELS || report.numman > UPA_MAN_LEVELS)
            std::abort();
    }
    // Backward and repeated positioning over whatever was readable.
    for (int n : {1, 0, 0}) {
        int statnum = n;
        UPA_read(fd, &report, UPA_REP_ALL, &statnum);
    }
    UPA_close(fd);
    return 0;
}
