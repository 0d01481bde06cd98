// libFuzzer target for the GRIB reader: the input becomes a file that is opened as a GRIB grid
// file and read grid by grid with values, through message finding, the wrappers and both
// editions' decoders; the same bytes are also decoded directly as one edition 0/1 message.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "grd_internal.hpp"
#include "grib1_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"

// Until the variable-descriptor and grid-layer modules are linked in, stand-ins keep the
// target linkable; the library's own definitions take precedence where they exist.
namespace {

void clear(GRD_report* r) {
    std::memset(r, 0, sizeof *r);
    DOM_init(&r->domain);
}

const std::string& input_path() {
    static const std::string path = "/tmp/fuzz_grib." + std::to_string(getpid());
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MESS_set(0, M_none);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (int edition : {0, 1}) {
        GRD_report r;
        clear(&r);
        grib1_decode(data, size, edition, &r, 0);
        std::free(r.grid);
    }
    std::FILE* out = std::fopen(input_path().c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    GRD_file gf;
    std::memset(&gf, 0, sizeof gf);
    gf.file = std::fopen(input_path().c_str(), "rb");
    if (!gf.file) return 0;
    gf.type = GRD_TYPE_GRIB;
    gf.fd = 1;
    gf.new_pos = -1;
    GRD_info info;
    grd_grib_getinfo(0, &gf, &info);
    for (int g = 0; g < 64; ++g) {
        GRD_report r;
        clear(&r);
        int num = g;
        const int res = grd_grib_read(0, &gf, &r, 0, &num);
        std::free(r.grid);
        if (res == -1) break;
    }
    // Backwards and header-only reads take the other positioning paths.
    GRD_report r;
    clear(&r);
    int num = 0;
    grd_grib_read(0, &gf, &r, 1, &num);
    std::free(r.grid);
    if (gf.priv_free) gf.priv_free(gf.priv);
    std::fclose(gf.file);
    return 0;
}
