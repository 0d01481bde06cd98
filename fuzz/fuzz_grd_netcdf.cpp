// netCDF grid reader: the input is a netCDF file (library layout or model file). It is
// opened, its information read and every grid it claims read with values and header only.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "grd_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

// One private file per process, removed at exit.
const std::string& input_path()
{
    static const struct Path {
        std::string dir;
        std::string file;
        Path()
        {
            char name[] = "/tmp/qaz_fuzz_nc.XXXXXX";
            if (mkdtemp(name) == nullptr) std::abort();
            dir = name;
            file = dir + "/input.nc";
        }
        ~Path()
        {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    } path;
    return path.file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = false;
    if (!started) {
        started = true;
        MESS_set(0, 0);  // the reader's messages are expected here; keep the output short
        unsetenv("GRIDVAR");
        unsetenv("GRIBQP");
    }
    const std::string& path = input_path();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }

    GRD_file gf{};
    if (grd_nc_open(&gf, path.c_str(), 0) != 0) return 0;
    GRD_info info{};
    if (grd_nc_getinfo(&gf, &info) == 0) {
        for (long g = 0; g < gf.max_num && g < 64; ++g) {
            for (int rep_type : {0, 1}) {
                GRD_report grd{};
                DOM_init(&grd.domain);
                int num = static_cast<int>(g);
                if (grd_nc_read(&gf, &grd, rep_type, &num) == 0 && rep_type == 0 && grd.grid) {
                    // Every value the reader claims must be there to read.
                    volatile float sum = 0;
                    const long n = static_cast<long>(grd.domain.nx) * grd.domain.ny;
                    for (long i = 0; i < n; ++i) sum = sum + grd.grid[i];
                }
                std::free(grd.grid);
            }
        }
        int past = static_cast<int>(gf.max_num);
        GRD_report grd{};
        grd_nc_read(&gf, &grd, 0, &past);
        std::free(grd.grid);
        grd_nc_rewind(&gf);
    }
    grd_nc_close(&gf);
    if (gf.priv && gf.priv_free) gf.priv_free(gf.priv);
    return 0;
}
