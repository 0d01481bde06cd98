// The station file: records read one by one, then loaded into the lookup table and
// searched by identifier, number and position.
#include "cty_read.hpp"
#include "cty_tool.hpp"
#include "fuzz_common.hpp"
#include "region.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    const std::string path = fuzz::write_file("stations.cty", data, size);
    RES_put("file_path", (fuzz::work_dir() + "/").c_str());

    int fd = CTY_open(path.c_str(), 0, 0);
    if (fd >= 0) {
        CTY_data station;
        CTY_data_init(&station);
        int records = 0;
        while (CTY_read(fd, &station) >= 0 && ++records < 100000) {
        }
        CTY_info info;
        CTY_getinfo(fd, &info);
        CTY_close(fd);
    }

    CTY_data found;
    CTY_get(path.c_str(), "KDEN", &found);
    float lat = 0, lon = 0;
    CTY_get_loc(path.c_str(), "72469", &lat, &lon);

    Domain world;
    DOM_init(&world);
    DOM_decode("0,0", &world);
    for (int layout : {CTY_STORE_FULL, CTY_STORE_XY_LOC}) {
        CTY_set_id_type(static_cast<int>(size % 3));
        if (CTY_store(path.c_str(), layout, &world, 9) > 0) {
            if (layout == CTY_STORE_FULL) {
                CTY_data station;
                CTY_search("KDEN", &station);
                CTY_search("72469", &station);
                CTY_make_entry_simple("QQQQ", "99999");
            } else {
                CTY_locate near;
                CTY_search_loc(39.8f, -104.7f, &near);
                CTY_search("KDEN", &near);
            }
        }
        CTY_clear();
    }
    return 0;
}
