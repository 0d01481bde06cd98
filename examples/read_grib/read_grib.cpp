// Lists the fields of a grid file (GRIB, netCDF, ...), reads one and prints its value at a
// latitude/longitude.   read_grib FILE LAT LON [FIELD]
#include <qaz/grd_read.hpp>
#include <qaz/grd_tool.hpp>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FILE LAT LON [FIELD]\n", argv[0]);
        return 1;
    }
    int type = 0;  // recognised from the file
    const int fd = GRD_open(argv[1], 0, &type);
    GRD_info info{};
    if (fd < 0 || GRD_getinfo(fd, &info) != 0) return 1;

    GRD_report grid;
    GRD_init_report(&grid);
    for (int n = 0;; ++n) {
        int num = n;
        const int result = GRD_read(fd, &grid, 2, &num);  // 2: header and description only
        if (result < 0) break;                            // end of file
        if (result > 0) continue;                         // a GRIB message without a product
        n = num;
        std::printf("%3d  %s  %s\n", n, grid.datim, grid.info);
    }

    int field = argc > 4 ? std::atoi(argv[4]) : 0;
    float gx, gy;
    if (GRD_read(fd, &grid, 0, &field) != 0 ||
        GRD_get_position(&grid, std::atof(argv[2]), std::atof(argv[3]), &gx, &gy) != 0) {
        GRD_close(fd);
        return 1;
    }
    std::printf("%s at %s, %s: %g %s\n", grid.info, argv[2], argv[3], GRD_get_value(&grid, gx, gy), grid.units);
    GRD_free_report(&grid);
    GRD_close(fd);
    return 0;
}
