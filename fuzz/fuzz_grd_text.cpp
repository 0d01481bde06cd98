// The library's own grid files and grid bulletins: the input is a file of any type recognised
// by its first bytes (bare text, "QAZGRID" text/binary, "QAZGRID4", "GRID" bulletins); its
// header is read, then every grid forward, backward, again and header-only.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "grd_read.hpp"
#include "mess.hpp"

namespace {

const std::string& input_path()
{
    static const std::string path = "/tmp/fuzz_grd_text." + std::to_string(getpid()) + ".grd";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MESS_set(0, 0);
    const std::string& path = input_path();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    const int detected = GRD_chktype(path.c_str());
    if (detected != 1 && detected != 2 && detected != 4 && detected != 22) return 0;
    int type = 0;
    const int fd = GRD_open(path.c_str(), 0, &type);
    if (fd < 0) return 0;
    GRD_info info{};
    if (GRD_getinfo(fd, &info) == 0) {
        GRD_report grd;
        GRD_init_report(&grd);
        int last = -1;
        for (int n = 0; n < 64; ++n) {
            int num = n;
            if (GRD_read(fd, &grd, 0, &num) != 0) break;
            last = n;
        }
        for (int n : {last, 0, last, last / 2, 1, 1}) {
            int num = n < 0 ? 0 : n;
            GRD_read(fd, &grd, 1, &num);
            num = n < 0 ? 0 : n;
            GRD_read(fd, &grd, 0, &num);
        }
        GRD_rewind(fd);
        int first = 0;
        GRD_read(fd, &grd, 0, &first);
        GRD_free_report(&grd);
    }
    GRD_close(fd);
    return 0;
}
