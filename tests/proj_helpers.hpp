// The projection command-line tool as an independent oracle: tests that use it skip when it
// is not installed.
#pragma once
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline bool proj_tool_available() { return std::system("command -v proj >/dev/null 2>&1") == 0; }

// Projects (lon, lat) pairs with proj on the library's sphere (R = 6371.22 km), in metres;
// a point proj rejects comes back as NaN. Empty when proj could not be run.
inline std::vector<std::array<double, 2>> run_proj(const std::string& params,
                                                   const std::vector<std::array<double, 2>>& lonlat)
{
    std::vector<std::array<double, 2>> result;
    char name[] = "/tmp/qaz_proj_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return result;
    close(fd);
    if (FILE* out = std::fopen(name, "w")) {
        for (const auto& p : lonlat) std::fprintf(out, "%.10f %.10f\n", p[0], p[1]);
        std::fclose(out);
        const std::string command = "proj -f %.6f " + params + " +R=6371220 " + name + " 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, pipe)) {
                double x, y;
                if (std::sscanf(line, "%lf %lf", &x, &y) == 2)
                    result.push_back({x, y});
                else
                    result.push_back({NAN, NAN});
            }
            pclose(pipe);
        }
    }
    unlink(name);
    return result;
}
