// CF netCDF grid reader: the input is a classic netCDF file. It is recognised, opened, its
// information read and every grid it claims read with values and header only. (netCDF-4 input
// is left out: its parsing belongs to the HDF5 library, not to this reader.)
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.hpp"
#include "grd_cf_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = false;
    if (!started) {
        started = true;
        MESS_set(0, 0);  // the reader's messages are expected here; keep the output short
        unsetenv("GRIDVAR");
    }
    if (size < 4 || std::memcmp(data, "CDF", 3) != 0) return 0;
    const std::string path = fuzz::write_file("input.nc", data, size);
    grd_cf_is_cf(path.c_str());
    GRD_file gf{};
    gf.access = 0;
    if (grd_cf_open(&gf, path.c_str(), 0) != 0) return 0;
    GRD_info info{};
    if (grd_cf_getinfo(&gf, &info) == 0) {
        for (long g = 0; g < gf.max_num && g < 64; ++g) {
            for (int rep_type : {0, 1}) {
                GRD_report grd{};
                DOM_init(&grd.domain);
                int num = static_cast<int>(g);
                if (grd_cf_read(&gf, &grd, rep_type, &num) == 0 && rep_type == 0 && grd.grid) {
                    // Every value the reader claims must be there to read.
                    volatile float sum = 0;
                    const long n = static_cast<long>(grd.domain.nx) * grd.domain.ny;
                    for (long i = 0; i < n; ++i) sum = sum + grd.grid[i];
                }
                std::free(grd.grid);
            }
        }
    }
    grd_cf_close(&gf);
    return 0;
}
