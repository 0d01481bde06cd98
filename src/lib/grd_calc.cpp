// Finite-difference calculus on grids. Spacings are true distances in units of 100 km: on
// latitude/longitude grids cos(lat) x 1.11195 x dx by row, on projected grids the plane
// spacing divided by the map factor at each point. Vorticity, divergence, deformation and the
// Laplacian carry the metric terms of the coordinates (u tan(lat) / a on the sphere, the
// gradient of the map factor on a projection), so that solid-body rotation has vorticity
// 2 omega sin(lat) on any grid. Loops run over whole rows; a row without missing values
// takes a branch-free path.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "grd_tool_internal.hpp"
#include "maptran.hpp"
#include "string.hpp"

using grd::kMissing;

namespace {

constexpr double kDegToRad = 0.017453292519943334;
constexpr double kKmPerDegree = 1.11195;                    // 100 km per degree of latitude
constexpr double kEarthRadius = kKmPerDegree / kDegToRad;   // 100 km
constexpr double kTwoOmega = 14.584;                        // 10^-5 per second
constexpr double kPoleTolerance = 1e-4;

// Geometry of one domain, kept for the next call on the same domain.
struct Geometry {
    Domain dom{};
    int nx = 0, ny = 0;
    bool latlon = false;
    bool valid = false;
    bool any_bad = false;              // projected: points where the map factor is unusable
    // latitude/longitude grids, per row
    std::vector<float> sx_row;         // 1 / hx
    std::vector<float> ky_row;         // (1/hx) dhx/dy = -tan(lat) / a
    std::vector<float> lat_row;
    std::vector<char> pole;            // row at a pole
    float sy = 0;                      // 1 / hy
    // projected grids, per point
    std::vector<float> sx, sy_pt, kx, ky, lat;
    std::vector<char> bad;
    // rows handed to the kernels
    std::vector<float> zeros, row_a, row_b, sy_const;

    const float* row_sx(int j)
    {
        if (!latlon) return &sx[static_cast<std::size_t>(j) * nx];
        std::fill(row_a.begin(), row_a.end(), sx_row[j]);
        return row_a.data();
    }
    const float* row_sy(int j)
    {
        return latlon ? sy_const.data() : &sy_pt[static_cast<std::size_t>(j) * nx];
    }
    const float* row_kx(int j) { return latlon ? zeros.data() : &kx[static_cast<std::size_t>(j) * nx]; }
    const float* row_ky(int j)
    {
        if (!latlon) return &ky[static_cast<std::size_t>(j) * nx];
        std::fill(row_b.begin(), row_b.end(), ky_row[j]);
        return row_b.data();
    }
    float lat_at(int j, int i) const
    {
        return latlon ? lat_row[j] : lat[static_cast<std::size_t>(j) * nx + i];
    }
};

Geometry geo;

void build_latlon(Geometry& g)
{
    const Domain& d = g.dom;
    g.sx_row.assign(g.ny, 0.0f);
    g.ky_row.assign(g.ny, 0.0f);
    g.lat_row.assign(g.ny, 0.0f);
    g.pole.assign(g.ny, 0);
    g.sy = static_cast<float>(1.0 / (kKmPerDegree * d.dy));
    for (int j = 0; j < g.ny; ++j) {
        const double lat = grd::latlon_row_lat(d, j);
        g.lat_row[j] = static_cast<float>(lat);
        if (std::fabs(std::fabs(lat) - 90.0) < kPoleTolerance || std::fabs(lat) > 90.0) {
            g.pole[j] = 1;
            continue;
        }
        const double c = std::cos(lat * kDegToRad);
        g.sx_row[j] = static_cast<float>(1.0 / (c * kKmPerDegree * d.dx));
        g.ky_row[j] = static_cast<float>(-std::tan(lat * kDegToRad) / kEarthRadius);
    }
    g.sy_const.assign(g.nx, g.sy);
}

// Per-point map factors, spacings and the metric coefficients -(1/m) dm/dx, -(1/m) dm/dy.
void build_projected(Geometry& g)
{
    const Domain& d = g.dom;
    const std::size_t n = static_cast<std::size_t>(g.nx) * g.ny;
    const double stretch = d.param[2] != -9999.0f ? d.param[2] : 1.0;
    const double hx = d.dx * stretch, hy = d.dy * stretch;
    std::vector<float> m(n, 1.0f);
    g.lat.assign(n, kMissing);
    g.bad.assign(n, 0);
    g.any_bad = false;
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&d);
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
            float x = 0, y = 0, lat = 0, lon = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            float f = -9999.0f;
            if (MAP_untran(x, y, &lat, &lon) == 1) {
                f = MAP_factor(lat, lon);
                g.lat[k] = lat;
            }
            if (f == -9999.0f || !(f > 0.0f) || !std::isfinite(f)) {
                g.bad[k] = 1;
                g.any_bad = true;
                f = 1.0f;
            }
            m[k] = f;
        }
    MAP_domain(&saved);
    g.sx.resize(n);
    g.sy_pt.resize(n);
    g.kx.assign(n, 0.0f);
    g.ky.assign(n, 0.0f);
    for (std::size_t k = 0; k < n; ++k) {
        g.sx[k] = static_cast<float>(m[k] / hx);
        g.sy_pt[k] = static_cast<float>(m[k] / hy);
    }
    // d(m)/dX in the plane (centred inside, one-sided at the edges); -(1/m) dm/dx = -dm/dX.
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
            if (g.nx > 1) {
                const int a = std::max(i - 1, 0), b = std::min(i + 1, g.nx - 1);
                g.kx[k] = static_cast<float>(-(m[k - i + b] - m[k - i + a]) / ((b - a) * hx));
            }
            if (g.ny > 1) {
                const int up = std::max(j - 1, 0), down = std::min(j + 1, g.ny - 1);
                g.ky[k] = static_cast<float>(-(m[static_cast<std::size_t>(up) * g.nx + i] -
                                               m[static_cast<std::size_t>(down) * g.nx + i]) /
                                             ((down - up) * hy));
            }
        }
}

Geometry* geometry(const GRD_report* grid)
{
    const Domain& d = grid->domain;
    if (geo.valid && std::memcmp(&geo.dom, &d, sizeof d) == 0) return &geo;
    geo = Geometry{};
    geo.dom = d;
    geo.nx = d.nx;
    geo.ny = d.ny;
    geo.latlon = d.proj == 2;
    if (d.dx <= 0.0f || d.dy <= 0.0f || d.dx == -9999.0f || d.dy == -9999.0f) {
        MESS_print(M_error, "Grid spacing %g x %g cannot be used for derivatives\n", d.dx, d.dy);
        return nullptr;
    }
    geo.zeros.assign(d.nx, 0.0f);
    geo.row_a.assign(d.nx, 0.0f);
    geo.row_b.assign(d.nx, 0.0f);
    if (geo.latlon) build_latlon(geo);
    else build_projected(geo);
    geo.valid = true;
    return &geo;
}

// Reusable work arrays: a derivative pass over a million points should not fault in fresh
// pages on every call.
std::vector<float> work[6];

float* workspace(int slot, long n)
{
    if (static_cast<long>(work[slot].size()) < n) work[slot].resize(static_cast<std::size_t>(n));
    return work[slot].data();
}

bool row_has_missing(const float* z, int nx)
{
    int count = 0;
    for (int i = 0; i < nx; ++i) count += z[i] == kMissing;
    return count != 0;
}

std::vector<char> missing_rows(const float* z, int nx, int ny)
{
    std::vector<char> rows(ny);
    for (int j = 0; j < ny; ++j) rows[j] = row_has_missing(z + static_cast<long>(j) * nx, nx);
    return rows;
}

// One-sided or centred difference by the missing-neighbour rules: a, b the values to the
// lower and higher side (null outside the grid), c the centre; s = 1 / spacing.
inline float careful_diff(const float* lo, float c, const float* hi, float s)
{
    if (c == kMissing) return kMissing;
    const bool has_lo = lo && *lo != kMissing, has_hi = hi && *hi != kMissing;
    if (has_lo && has_hi) return (*hi - *lo) * 0.5f * s;
    if (has_hi) return (*hi - c) * s;
    if (has_lo) return (c - *lo) * s;
    return 0.0f;
}

// d/dx of every row into out.
void field_dx(Geometry& g, const float* z, float* out)
{
    const int nx = g.nx;
    for (int j = 0; j < g.ny; ++j) {
        const float* zr = z + static_cast<long>(j) * nx;
        float* o = out + static_cast<long>(j) * nx;
        if (g.latlon && g.pole[j]) {
            std::fill(o, o + nx, kMissing);
            continue;
        }
        const float* s = g.row_sx(j);
        if (nx < 2) {
            o[0] = zr[0] == kMissing ? kMissing : 0.0f;
        } else if (!row_has_missing(zr, nx)) {
            o[0] = (zr[1] - zr[0]) * s[0];
            for (int i = 1; i < nx - 1; ++i) o[i] = (zr[i + 1] - zr[i - 1]) * 0.5f * s[i];
            o[nx - 1] = (zr[nx - 1] - zr[nx - 2]) * s[nx - 1];
        } else {
            for (int i = 0; i < nx; ++i)
                o[i] = careful_diff(i > 0 ? zr + i - 1 : nullptr, zr[i], i < nx - 1 ? zr + i + 1 : nullptr, s[i]);
        }
    }
}

// d/dy (northward, towards row 0) of every row into out.
void field_dy(Geometry& g, const float* z, const std::vector<char>& miss, float* out)
{
    const int nx = g.nx, ny = g.ny;
    for (int j = 0; j < ny; ++j) {
        const float* zc = z + static_cast<long>(j) * nx;
        const float* zn = j > 0 ? zc - nx : nullptr;       // row to the north
        const float* zs = j < ny - 1 ? zc + nx : nullptr;  // row to the south
        float* o = out + static_cast<long>(j) * nx;
        const float* s = g.row_sy(j);
        const bool clean = !miss[j] && (!zn || !miss[j - 1]) && (!zs || !miss[j + 1]);
        if (!zn && !zs) {
            for (int i = 0; i < nx; ++i) o[i] = zc[i] == kMissing ? kMissing : 0.0f;
        } else if (clean && zn && zs) {
            for (int i = 0; i < nx; ++i) o[i] = (zn[i] - zs[i]) * 0.5f * s[i];
        } else if (clean && zs) {
            for (int i = 0; i < nx; ++i) o[i] = (zc[i] - zs[i]) * s[i];
        } else if (clean) {
            for (int i = 0; i < nx; ++i) o[i] = (zn[i] - zc[i]) * s[i];
        } else {
            for (int i = 0; i < nx; ++i)
                o[i] = careful_diff(zs ? zs + i : nullptr, zc[i], zn ? zn + i : nullptr, s[i]);
        }
    }
}

// Second difference along a line of n values at stride step; s2 = 1 / spacing^2.
inline float careful_second(const float* z, int i, int n, long step, float s2)
{
    auto at = [&](int k) { return k >= 0 && k < n ? z[k * step] : kMissing; };
    const float c = at(i);
    if (c == kMissing) return kMissing;
    const float lo = at(i - 1), hi = at(i + 1);
    if (lo != kMissing && hi != kMissing) return (hi + lo - 2.0f * c) * s2;
    const float hi2 = at(i + 2), lo2 = at(i - 2);
    if (hi != kMissing && hi2 != kMissing) return (c + hi2 - 2.0f * hi) * s2;
    if (lo != kMissing && lo2 != kMissing) return (c + lo2 - 2.0f * lo) * s2;
    return 0.0f;
}

void field_d2x(Geometry& g, const float* z, float* out)
{
    const int nx = g.nx;
    for (int j = 0; j < g.ny; ++j) {
        const float* zr = z + static_cast<long>(j) * nx;
        float* o = out + static_cast<long>(j) * nx;
        if (g.latlon && g.pole[j]) {
            std::fill(o, o + nx, kMissing);
            continue;
        }
        const float* s = g.row_sx(j);
        if (nx >= 3 && !row_has_missing(zr, nx)) {
            o[0] = (zr[0] + zr[2] - 2.0f * zr[1]) * s[0] * s[0];
            for (int i = 1; i < nx - 1; ++i) o[i] = (zr[i + 1] + zr[i - 1] - 2.0f * zr[i]) * s[i] * s[i];
            o[nx - 1] = (zr[nx - 1] + zr[nx - 3] - 2.0f * zr[nx - 2]) * s[nx - 1] * s[nx - 1];
        } else {
            for (int i = 0; i < nx; ++i) o[i] = careful_second(zr, i, nx, 1, s[i] * s[i]);
        }
    }
}

void field_d2y(Geometry& g, const float* z, const std::vector<char>& miss, float* out)
{
    const int nx = g.nx, ny = g.ny;
    for (int j = 0; j < ny; ++j) {
        const float* zc = z + static_cast<long>(j) * nx;
        float* o = out + static_cast<long>(j) * nx;
        const float* s = g.row_sy(j);
        const bool inner = j > 0 && j < ny - 1 && !miss[j - 1] && !miss[j] && !miss[j + 1];
        if (inner) {
            const float* zn = zc - nx;
            const float* zs = zc + nx;
            for (int i = 0; i < nx; ++i) o[i] = (zn[i] + zs[i] - 2.0f * zc[i]) * s[i] * s[i];
        } else {
            // The column runs south from row 0: index j, stride nx.
            for (int i = 0; i < nx; ++i) o[i] = careful_second(z + i, j, ny, nx, s[i] * s[i]);
        }
    }
}

bool prepare_output(const char* name, const GRD_report* in, GRD_report* out)
{
    if (!grd::has_values(in) || !out) {
        MESS_print(M_error, "%s: No grid values\n", name);
        return false;
    }
    if (out != in && out->domain.nx <= 0) GRD_copy_info(out, in);
    if (out->domain.nx != in->domain.nx || out->domain.ny != in->domain.ny) {
        MESS_print(M_error, "%s: Grids of different sizes\n", name);
        return false;
    }
    if (!out->grid && GRD_alloc(out) < 0) {
        MESS_print(M_error, "%s: No memory for grid field\n", name);
        return false;
    }
    return true;
}

bool same(const char* name, const GRD_report* a, const GRD_report* b)
{
    if (grd::same_shape(a, b)) return true;
    MESS_print(M_error, "%s: Grids missing or of different sizes\n", name);
    return false;
}

// Points whose map factor is unusable get no derivative.
void blank_bad(const Geometry& g, float* out)
{
    if (g.latlon || !g.any_bad) return;
    const std::size_t n = g.bad.size();
    for (std::size_t k = 0; k < n; ++k)
        if (g.bad[k]) out[k] = kMissing;
}

inline float pick(bool missing, float value) { return missing ? kMissing : value; }

enum class Pair { vorticity, divergence, stretch, shear };

// Combines du/dx, du/dy, dv/dx, dv/dy with the metric terms for the four wind operators.
int wind_operator(const char* name, Pair kind, const GRD_report* ugrid, const GRD_report* vgrid,
                  const GRD_report* zgrid, GRD_report* ogrid)
{
    if (!same(name, ugrid, vgrid) || (zgrid && !same(name, ugrid, zgrid))) return -1;
    if (!prepare_output(name, ugrid, ogrid)) return -1;
    Geometry* g = geometry(ugrid);
    if (!g) return -1;
    const long n = GRD_num_points(ugrid);
    const int nx = g->nx;
    const float* u = ugrid->grid;
    const float* v = vgrid->grid;
    float* a = workspace(0, n);   // derivative of v or u along x
    float* b = workspace(1, n);   // derivative along y
    if (kind == Pair::vorticity || kind == Pair::shear) {
        field_dx(*g, v, a);
        field_dy(*g, u, missing_rows(u, nx, g->ny), b);
    } else {
        field_dx(*g, u, a);
        field_dy(*g, v, missing_rows(v, nx, g->ny), b);
    }
    const float* z = zgrid ? zgrid->grid : nullptr;
    float* o = ogrid->grid;
    for (int j = 0; j < g->ny; ++j) {
        const float* kx = g->row_kx(j);
        const float* ky = g->row_ky(j);
        const long base = static_cast<long>(j) * nx;
        for (int i = 0; i < nx; ++i) {
            const long k = base + i;
            const bool miss = a[k] == kMissing || b[k] == kMissing || u[k] == kMissing || v[k] == kMissing;
            float r = 0;
            switch (kind) {
                case Pair::vorticity: r = a[k] - b[k] + v[k] * kx[i] - u[k] * ky[i]; break;
                case Pair::divergence: r = a[k] + b[k] + u[k] * kx[i] + v[k] * ky[i]; break;
                case Pair::stretch: r = a[k] - b[k] + v[k] * ky[i] - u[k] * kx[i]; break;
                case Pair::shear: r = a[k] + b[k] - v[k] * kx[i] - u[k] * ky[i]; break;
            }
            o[k] = pick(miss, r);
        }
        if (z) {
            // Flux convergence: -(divergence) x z.
            for (int i = 0; i < nx; ++i) {
                const long k = base + i;
                o[k] = pick(o[k] == kMissing || z[k] == kMissing, -o[k] * z[k]);
            }
        }
    }
    blank_bad(*g, o);
    return 0;
}

}  // namespace

int GRD_dx(const GRD_report* grid, GRD_report* ogrid)
{
    if (!prepare_output("GRD_dx", grid, ogrid)) return -1;
    Geometry* g = geometry(grid);
    if (!g) return -1;
    if (ogrid->grid == grid->grid) {
        float* tmp = workspace(0, GRD_num_points(grid));
        field_dx(*g, grid->grid, tmp);
        std::memcpy(ogrid->grid, tmp, static_cast<std::size_t>(GRD_num_points(grid)) * sizeof(float));
    } else {
        field_dx(*g, grid->grid, ogrid->grid);
    }
    blank_bad(*g, ogrid->grid);
    return 0;
}

int GRD_dy(const GRD_report* grid, GRD_report* ogrid)
{
    if (!prepare_output("GRD_dy", grid, ogrid)) return -1;
    Geometry* g = geometry(grid);
    if (!g) return -1;
    const long n = GRD_num_points(grid);
    float* tmp = workspace(0, n);
    field_dy(*g, grid->grid, missing_rows(grid->grid, g->nx, g->ny), tmp);
    std::memcpy(ogrid->grid, tmp, static_cast<std::size_t>(n) * sizeof(float));
    blank_bad(*g, ogrid->grid);
    return 0;
}

int GRD_laplacian(const GRD_report* grid, GRD_report* ogrid)
{
    if (!prepare_output("GRD_laplacian", grid, ogrid)) return -1;
    Geometry* g = geometry(grid);
    if (!g) return -1;
    const long n = GRD_num_points(grid);
    const int nx = g->nx;
    const std::vector<char> miss = missing_rows(grid->grid, nx, g->ny);
    float* xx = workspace(0, n);
    float* yy = workspace(1, n);
    field_d2x(*g, grid->grid, xx);
    field_d2y(*g, grid->grid, miss, yy);
    float* o = ogrid->grid;
    if (g->latlon) {
        // On the sphere the second differences miss -tan(lat)/a dz/dy.
        float* dy = workspace(2, n);
        field_dy(*g, grid->grid, miss, dy);
        for (int j = 0; j < g->ny; ++j) {
            const float ky = g->ky_row[j];
            const long base = static_cast<long>(j) * nx;
            for (int i = 0; i < nx; ++i) {
                const long k = base + i;
                o[k] = pick(xx[k] == kMissing || yy[k] == kMissing || dy[k] == kMissing,
                            xx[k] + yy[k] + ky * dy[k]);
            }
        }
    } else {
        // A conformal map: m^2 times the plane Laplacian, which the local spacings give.
        for (long k = 0; k < n; ++k) o[k] = pick(xx[k] == kMissing || yy[k] == kMissing, xx[k] + yy[k]);
    }
    blank_bad(*g, o);
    return 0;
}

int GRD_converge(const GRD_report* ugrid, const GRD_report* vgrid, const GRD_report* zgrid,
                 GRD_report* ogrid)
{
    if (wind_operator("GRD_converge", Pair::divergence, ugrid, vgrid, zgrid, ogrid) < 0) return -1;
    if (!zgrid) {
        const long n = GRD_num_points(ogrid);
        float* o = ogrid->grid;
        for (long k = 0; k < n; ++k) o[k] = pick(o[k] == kMissing, -o[k]);
    }
    return 0;
}

int GRD_vorticity(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid)
{
    return wind_operator("GRD_vorticity", Pair::vorticity, ugrid, vgrid, nullptr, ogrid);
}

int GRD_deformation1(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid)
{
    return wind_operator("GRD_deformation1", Pair::stretch, ugrid, vgrid, nullptr, ogrid);
}

int GRD_deformation2(const GRD_report* ugrid, const GRD_report* vgrid, GRD_report* ogrid)
{
    return wind_operator("GRD_deformation2", Pair::shear, ugrid, vgrid, nullptr, ogrid);
}

int GRD_advection(const GRD_report* ugrid, const GRD_report* vgrid, const GRD_report* zgrid,
                  GRD_report* ogrid)
{
    const char* name = "GRD_advection";
    if (!same(name, ugrid, vgrid) || !same(name, ugrid, zgrid)) return -1;
    if (!prepare_output(name, zgrid, ogrid)) return -1;
    Geometry* g = geometry(zgrid);
    if (!g) return -1;
    const long n = GRD_num_points(zgrid);
    float* zx = workspace(0, n);
    float* zy = workspace(1, n);
    field_dx(*g, zgrid->grid, zx);
    field_dy(*g, zgrid->grid, missing_rows(zgrid->grid, g->nx, g->ny), zy);
    const float* u = ugrid->grid;
    const float* v = vgrid->grid;
    float* o = ogrid->grid;
    for (long k = 0; k < n; ++k) {
        const bool miss = zx[k] == kMissing || zy[k] == kMissing || u[k] == kMissing || v[k] == kMissing;
        o[k] = pick(miss, -(u[k] * zx[k] + v[k] * zy[k]));
    }
    blank_bad(*g, o);
    return 0;
}

// Coriolis parameter (10^-5 / s) at every point of grid into f; false without a usable domain.
bool grd::coriolis_field(const GRD_report* grid, std::vector<float>& f)
{
    Geometry* g = geometry(grid);
    if (!g) return false;
    const long n = GRD_num_points(grid);
    f.resize(static_cast<std::size_t>(n));
    for (int j = 0; j < g->ny; ++j)
        for (int i = 0; i < g->nx; ++i) {
            const float lat = g->lat_at(j, i);
            f[static_cast<std::size_t>(j) * g->nx + i] =
                lat == kMissing ? kMissing : static_cast<float>(kTwoOmega * std::sin(lat * kDegToRad));
        }
    return true;
}

int GRD_coriolis(GRD_report* grid, const char* oper)
{
    if (!grd::has_values(grid) || !oper) return -1;
    enum { add, sub, rsub, mul, div, rdiv } op;
    if (stricmp(oper, "add") == 0) op = add;
    else if (stricmp(oper, "sub") == 0) op = sub;
    else if (stricmp(oper, "sub-") == 0) op = rsub;
    else if (stricmp(oper, "mul") == 0) op = mul;
    else if (stricmp(oper, "div") == 0) op = div;
    else if (stricmp(oper, "div-") == 0) op = rdiv;
    else {
        MESS_print(M_error, "GRD_coriolis: Unknown operator: %s\n", oper);
        return -1;
    }
    std::vector<float> f;
    if (!grd::coriolis_field(grid, f)) return -1;
    const long n = GRD_num_points(grid);
    float* v = grid->grid;
    for (long k = 0; k < n; ++k) {
        const float a = v[k], c = f[static_cast<std::size_t>(k)];
        if (a == kMissing) continue;
        if (c == kMissing) {
            v[k] = kMissing;
            continue;
        }
        switch (op) {
            case add: v[k] = a + c; break;
            case sub: v[k] = a - c; break;
            case rsub: v[k] = c - a; break;
            case mul: v[k] = a * c; break;
            // f vanishes on the equator: no quotient there rather than an infinity in a file.
            case div: v[k] = std::fabs(c) < 1e-6f ? kMissing : a / c; break;
            case rdiv: v[k] = a == 0.0f ? kMissing : c / a; break;
        }
    }
    return 0;
}

int GRD_correct_UV(GRD_report* ugrid, GRD_report* vgrid)
{
    if (!grd::same_shape(ugrid, vgrid)) return -1;
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&ugrid->domain);
    const int nx = ugrid->domain.nx, ny = ugrid->domain.ny;
    constexpr double kRadToDeg = 57.295779513082195;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const long k = static_cast<long>(j) * nx + i;
            const float u = ugrid->grid[k], v = vgrid->grid[k];
            if (u == kMissing || v == kMissing) continue;
            const double s = std::hypot(u, v);
            double d = s < 0.01 ? 0.0 : std::atan2(-u, -v) * kRadToDeg;
            float x = 0, y = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            // The direction is grid-relative: turn it back to a geographic one.
            d = MAP_undir_adj(static_cast<float>(d), x, y);
            ugrid->grid[k] = static_cast<float>(-s * std::sin(d * kDegToRad));
            vgrid->grid[k] = static_cast<float>(-s * std::cos(d * kDegToRad));
        }
    MAP_domain(&saved);
    return 0;
}
