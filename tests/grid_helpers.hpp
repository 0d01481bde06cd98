// Small in-memory grids for the grid-set and grid-math tests.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "grd_tool.hpp"
#include "region.hpp"

inline constexpr float kMiss = -9999.0f;
inline constexpr double kRad = 0.017453292519943334;
inline constexpr double kEarth = 1.11195 / kRad;   // 100 km

// Owns one grid record and its values.
struct TestGrid {
    GRD_report g{};
    TestGrid()
    {
        std::memset(&g, 0, sizeof g);
        g.type = g.source = g.version = g.model = g.ltype = g.level = g.time = g.var = -9999;
        DOM_init(&g.domain);
    }
    explicit TestGrid(const Domain& d) : TestGrid()
    {
        g.domain = d;
        g.source = 1;
        GRD_alloc(&g);
    }
    ~TestGrid() { std::free(g.grid); }
    TestGrid(const TestGrid&) = delete;
    TestGrid& operator=(const TestGrid&) = delete;
    float& at(int i, int j) { return g.grid[static_cast<long>(j) * g.domain.nx + i]; }
    int nx() const { return g.domain.nx; }
    int ny() const { return g.domain.ny; }
};

inline Domain latlon_domain(float clat, float clon, int nx, int ny, float dx, float dy)
{
    Domain d;
    DOM_init(&d);
    d.proj = 2;
    d.clat = clat;
    d.clon = clon;
    d.nx = nx;
    d.ny = ny;
    d.dx = dx;
    d.dy = dy;
    return d;
}

inline Domain projected_domain(int proj, float plat, float plon, float clat, float clon, int nx, int ny,
                               float dxy)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    d.clat = clat;
    d.clon = clon;
    d.nx = nx;
    d.ny = ny;
    d.dx = dxy;
    d.dy = dxy;
    if (proj == 4) {
        d.param[0] = 25.0f;
        d.param[1] = 25.0f;
    }
    return d;
}

// Fills a grid from f(lat, lon, x, y) at each point (plane x, y of its domain).
inline void fill(TestGrid& t, const std::function<float(double, double, float, float)>& f)
{
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&t.g.domain);
    for (int j = 0; j < t.ny(); ++j)
        for (int i = 0; i < t.nx(); ++i) {
            float x = 0, y = 0, lat = 0, lon = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            MAP_untran(x, y, &lat, &lon);
            t.at(i, j) = f(lat, lon, x, y);
        }
    MAP_domain(&saved);
}

// Latitude and longitude of every point, for checks.
inline void point_lat_lon(const Domain& d, int i, int j, float* lat, float* lon)
{
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&d);
    float x = 0, y = 0;
    MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
    MAP_untran(x, y, lat, lon);
    MAP_domain(&saved);
}

// Latitude (radians) of row j of a latitude/longitude domain.
inline double grd_lat(const Domain& d, int j)
{
    return (d.clat - d.dy * (d.ny - 1) / 2.0 + static_cast<double>(d.dy) * (d.ny - 1 - j)) * kRad;
}
