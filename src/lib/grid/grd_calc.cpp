// Finite-difference calculus on grids. Spacings are true distances in units of 100 km: on
// latitude/longitude grids cos(lat) x 1.11195 x dx by row, on other grids the ground length of
// a grid step at each point (the plane spacing divided by the map factor). Vorticity,
// divergence, deformation and the Laplacian carry the metric terms of the coordinates
// (u tan(lat) / a on the sphere, the change of the step lengths on a projection), so that
// solid-body rotation has vorticity 2 omega sin(lat) on every grid that takes derivatives.
// Loops run over whole rows; a row without missing values takes a branch-free path.
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
    bool latlon = false;               // latitude/longitude, Gaussian or rotated rows and columns
    bool periodic = false;             // columns go around the earth: the edges are neighbours
    bool valid = false;
    bool any_bad = false;              // projected: points where the map factor is unusable
    // latitude/longitude grids, per row
    std::vector<float> sx_row;         // 1 / hx
    std::vector<float> ky_row;         // (1/hx) dhx/dy = -tan(lat) / a
    std::vector<float> lat_row;
    std::vector<char> pole;            // row at a pole
    std::vector<float> sy_row;         // 1 / hy (rows of a Gaussian grid are not evenly spaced)
    std::vector<float> geo_lat_row;    // rotated grids: geographic latitude per point, for f
    // projected grids, per point
    std::vector<float> sx, sy_pt, kx, ky, lat;
    std::vector<float> lcx, lcy;       // Laplacian: coefficients of dz/dx and dz/dy
    std::vector<char> bad;
    std::vector<double> lx, ly;        // projected: step lengths while building
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
        if (!latlon) return &sy_pt[static_cast<std::size_t>(j) * nx];
        std::fill(sy_const.begin(), sy_const.end(), sy_row[j]);
        return sy_const.data();
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
        if (!geo_lat_row.empty()) return geo_lat_row[static_cast<std::size_t>(j) * nx + i];
        return latlon ? lat_row[j] : lat[static_cast<std::size_t>(j) * nx + i];
    }
};

Geometry geo;

// Latitude of each row in the grid's own frame: the plane y of latitude/longitude and rotated
// grids, the Gaussian latitude of a Gaussian one.
std::vector<double> row_latitudes(const Domain& d)
{
    std::vector<double> lats(static_cast<std::size_t>(d.ny));
    if (d.proj == 2) {
        for (int j = 0; j < d.ny; ++j) lats[static_cast<std::size_t>(j)] = grd::latlon_row_lat(d, j);
        return lats;
    }
    MAP_keep_domain keep;
    MAP_domain(&d);
    for (int j = 0; j < d.ny; ++j) {
        float x = 0, y = 0, lat = 0, lon = 0;
        MAP_grid_tran(0.0f, static_cast<float>(j), &x, &y);
        if (d.proj == MAP_GAUSSIAN && MAP_untran(x, y, &lat, &lon) == 1) y = lat;
        lats[static_cast<std::size_t>(j)] = y;
    }
    return lats;
}

void build_latlon(Geometry& g)
{
    const Domain& d = g.dom;
    g.sx_row.assign(g.ny, 0.0f);
    g.ky_row.assign(g.ny, 0.0f);
    g.lat_row.assign(g.ny, 0.0f);
    g.pole.assign(g.ny, 0);
    g.sy_row.assign(g.ny, static_cast<float>(1.0 / (kKmPerDegree * d.dy)));
    const std::vector<double> lats = row_latitudes(d);
    for (int j = 0; j < g.ny; ++j) {
        const double lat = lats[static_cast<std::size_t>(j)];
        g.lat_row[j] = static_cast<float>(lat);
        if (d.proj == MAP_GAUSSIAN && g.ny > 1) {
            // The spacing a centred (or, at an edge, one-sided) difference spans.
            const int up = std::max(j - 1, 0), down = std::min(j + 1, g.ny - 1);
            const double span = lats[static_cast<std::size_t>(up)] - lats[static_cast<std::size_t>(down)];
            if (span > 0.0) g.sy_row[j] = static_cast<float>((down - up) / (kKmPerDegree * span));
        }
        if (std::fabs(std::fabs(lat) - 90.0) < kPoleTolerance || std::fabs(lat) > 90.0) {
            g.pole[j] = 1;
            continue;
        }
        const double c = std::cos(lat * kDegToRad);
        g.sx_row[j] = static_cast<float>(1.0 / (c * kKmPerDegree * d.dx));
        g.ky_row[j] = static_cast<float>(-std::tan(lat * kDegToRad) / kEarthRadius);
    }
    g.sy_const.assign(g.nx, g.sy_row.empty() ? 0.0f : g.sy_row[0]);
    g.geo_lat_row.clear();
    if (d.proj == MAP_ROTATED) {
        // Derivatives live in the rotated frame; the Coriolis parameter needs the true latitude.
        MAP_keep_domain keep;
        MAP_domain(&d);
        g.geo_lat_row.assign(static_cast<std::size_t>(g.nx) * g.ny, kMissing);
        for (int j = 0; j < g.ny; ++j)
            for (int i = 0; i < g.nx; ++i) {
                float x = 0, y = 0, lat = 0, lon = 0;
                MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
                if (MAP_untran(x, y, &lat, &lon) == 1) g.geo_lat_row[static_cast<std::size_t>(j) * g.nx + i] = lat;
            }
    }
}

// How derivatives are taken on each projection. Latitude/longitude rows carry their own
// spacing; on any other grid whose axes cross at right angles on the earth (conformal maps,
// and any orthogonal grid) the ground length of one grid step along x and along y is measured
// from the map transforms at every point, which gives the map factor and its gradient without
// a formula per projection. Grids whose axes are oblique on the earth have no such metric.
enum class Metric { sphere_rows, orthogonal, oblique };

struct ProjMetric {
    int proj;
    const char* name;
    Metric metric;
};

constexpr ProjMetric kProjMetrics[] = {
    {2, "latitude/longitude", Metric::sphere_rows},
    {MAP_GAUSSIAN, "Gaussian", Metric::sphere_rows},
    {MAP_ROTATED, "rotated latitude/longitude", Metric::sphere_rows},
    {1, "polar stereographic", Metric::orthogonal},
    {3, "Mercator", Metric::orthogonal},
    {4, "Lambert conformal", Metric::orthogonal},
    {5, "orthographic", Metric::oblique},
    {6, "gnomonic", Metric::oblique},
    {7, "Mollweide", Metric::oblique},
    {8, "azimuthal equal-area", Metric::oblique},
    {9, "satellite view", Metric::oblique},
};

const ProjMetric* proj_metric(int proj)
{
    for (const ProjMetric& p : kProjMetrics)
        if (p.proj == proj) return &p;
    return nullptr;
}

// Great-circle distance (100 km) between two points given in degrees.
double ground_distance(double lat1, double lon1, double lat2, double lon2)
{
    const double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
    const double dp = p2 - p1, dl = (lon2 - lon1) * kDegToRad;
    const double h = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2.0 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

// Ground length (100 km) of one grid step along the plane direction (ex, ey) centred on plane
// point (x, y); -1 where either end lies off the earth.
double step_length(float x, float y, double hx, double hy, double ex, double ey)
{
    float la1 = 0, lo1 = 0, la2 = 0, lo2 = 0;
    const float ax = static_cast<float>(x - 0.5 * ex * hx), ay = static_cast<float>(y - 0.5 * ey * hy);
    const float bx = static_cast<float>(x + 0.5 * ex * hx), by = static_cast<float>(y + 0.5 * ey * hy);
    if (MAP_untran(ax, ay, &la1, &lo1) != 1 || MAP_untran(bx, by, &la2, &lo2) != 1) return -1.0;
    return ground_distance(la1, lo1, la2, lo2);
}

// The conformal projections of the map transforms whose map factor has a closed form in one
// plane coordinate: the distance from the projection pole (polar stereographic, Lambert) or
// the northing (Mercator). Their parameters are read from the domain exactly as the
// transforms read them; a check against measured steps guards the two against drifting apart.
constexpr double kPlaneEarthRadius = 63.7122;   // sphere of the map transforms, 100 km

struct ConformalFactor {
    int proj = 0;
    double hemisphere = 1.0;
    double polar = 0.0;         // polar stereographic: F, the plane radius of the equator x 2 / (1 + ...)
    double cone = 0.0;          // Lambert cone constant n
    double cone_scale = 0.0;    // Lambert plane radius scale

    // Map factor at plane point (x, y); not finite where the projection has no factor.
    double at(double x, double y) const
    {
        if (proj == 3) return std::cosh(y / kPlaneEarthRadius);
        const double rho2 = x * x + y * y;
        if (proj == 1) return (polar * polar + rho2) / (2.0 * polar * kPlaneEarthRadius);
        const double rho = std::sqrt(rho2);
        // Lambert: t = tan(45 - lat/2) = (rho / scale)^(1/n), cos(lat) = 2t / (1 + t^2).
        const double signed_rho = cone < 0.0 ? -rho : rho;
        const double ratio = signed_rho / cone_scale;
        if (!(ratio > 0.0)) return ratio == 0.0 ? HUGE_VAL : NAN;
        const double t = std::pow(ratio, 1.0 / cone);
        return std::fabs(cone * signed_rho * (1.0 + t * t) / (2.0 * kPlaneEarthRadius * t));
    }
};

bool conformal_factor(const Domain& d, ConformalFactor& f)
{
    auto given = [](float v) { return v != -9999.0f; };
    auto sind = [](double deg) { return std::sin(deg * kDegToRad); };
    auto cosd = [](double deg) { return std::cos(deg * kDegToRad); };
    auto tand = [](double deg) { return std::tan(deg * kDegToRad); };
    const double plat = given(d.plat) ? d.plat : d.clat;
    f.proj = d.proj;
    f.hemisphere = plat >= 0.0 ? 1.0 : -1.0;
    switch (d.proj) {
    case 3: return true;
    case 1: {
        const double tlat = given(d.param[0]) ? d.param[0] : (plat < 0.0 ? -60.0 : 60.0);
        const double true_lat = f.hemisphere > 0 ? tlat : -std::fabs(tlat);
        f.polar = (1.0 + f.hemisphere * sind(true_lat)) * kPlaneEarthRadius;
        return f.polar > 1e-10;
    }
    case 4: {
        double t1 = 30.0, t2 = 60.0;
        if (given(d.param[0])) {
            t1 = d.param[0];
            t2 = given(d.param[1]) ? d.param[1] : d.param[0];
        }
        if (f.hemisphere < 0) {
            t1 = std::fabs(t1);
            t2 = std::fabs(t2);
        }
        f.cone = std::fabs(t1 - t2) > 1e-6 ? (std::log(cosd(t1)) - std::log(cosd(t2))) /
                                                 (std::log(tand(45.0 - t1 / 2.0)) - std::log(tand(45.0 - t2 / 2.0)))
                                           : sind(t1);
        f.cone_scale = cosd(t1) / (f.cone * std::pow(tand(45.0 - t1 / 2.0), f.cone)) * kPlaneEarthRadius;
        return std::isfinite(f.cone) && std::fabs(f.cone) > 1e-10 && std::isfinite(f.cone_scale) &&
               std::fabs(f.cone_scale) > 1e-10;
    }
    default: return false;
    }
}

// Step lengths Lx = Ly = h / m from the closed-form factor, the active map domain being d.
// False (nothing usable written) where the grid reaches a point without a factor, such as the
// pole of a Lambert cone, or the factor disagrees with measured steps: the caller then
// measures every step.
bool conformal_steps(const Geometry& g, std::vector<double>& lx, std::vector<double>& ly)
{
    const Domain& d = g.dom;
    ConformalFactor f;
    if (g.nx < 2 || g.ny < 2 || !conformal_factor(d, f)) return false;
    // Plane coordinates exactly as the transforms place the grid points.
    std::vector<double> xs(g.nx), ys(g.ny);
    for (int i = 0; i < g.nx; ++i) {
        float x = 0, y = 0;
        MAP_grid_tran(static_cast<float>(i), 0.0f, &x, &y);
        xs[i] = x;
    }
    for (int j = 0; j < g.ny; ++j) {
        float x = 0, y = 0;
        MAP_grid_tran(0.0f, static_cast<float>(j), &x, &y);
        ys[j] = y;
    }
    // Ground length of one plane unit where the factor is 1, in the units of the distances.
    const double unit = kEarthRadius / kPlaneEarthRadius;
    const double hx = unit * d.dx, hy = unit * d.dy;
    for (int j = 0; j < g.ny; ++j) {
        double* ax = &lx[static_cast<std::size_t>(j) * g.nx];
        double* ay = &ly[static_cast<std::size_t>(j) * g.nx];
        if (f.proj == 3) {
            // Mercator: one factor per row.
            const double m = f.at(0.0, ys[j]);
            if (!std::isfinite(m) || !(m > 0.0)) return false;
            std::fill(ax, ax + g.nx, hx / m);
            std::fill(ay, ay + g.nx, hy / m);
            continue;
        }
        bool finite = true;
        for (int i = 0; i < g.nx; ++i) {
            const double m = f.at(xs[i], ys[j]);
            finite &= std::isfinite(m) && m > 0.0;
            ax[i] = hx / m;
            ay[i] = hy / m;
        }
        if (!finite) return false;
    }
    // The centre and two corners against measured steps.
    for (const auto& [i, j] : {std::pair{g.nx / 2, g.ny / 2}, std::pair{0, 0}, std::pair{g.nx - 1, g.ny - 1}}) {
        const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
        const double measured = step_length(static_cast<float>(xs[i]), static_cast<float>(ys[j]), d.dx, d.dy, 1.0, 0.0);
        if (!(std::fabs(measured / lx[k] - 1.0) < 1e-3)) {
            MESS_print(M_debug, "Map factor of projection %d differs from measured steps; measuring all\n", d.proj);
            return false;
        }
    }
    return true;
}

// Step lengths from the distances between neighbouring points on the earth, the active map
// domain being the grid's; unusable points marked bad.
void measure_steps(Geometry& g, std::vector<double>& lx, std::vector<double>& ly)
{
    const Domain& d = g.dom;
    const std::size_t n = static_cast<std::size_t>(g.nx) * g.ny;
    const double stretch = d.param[2] != -9999.0f ? d.param[2] : 1.0;
    const double hx = d.dx * stretch, hy = d.dy * stretch;
    g.lat.assign(n, kMissing);
    std::vector<float> lon_of(n, kMissing);
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
            float x = 0, y = 0, lat = 0, lon = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            if (MAP_untran(x, y, &lat, &lon) == 1 && std::isfinite(lat) && std::isfinite(lon)) {
                g.lat[k] = lat;
                lon_of[k] = lon;
            }
        }
    // The step length at a point from the distances to its neighbours on the earth: centred
    // inside, second-order one-sided at an edge or beside a point off the earth.
    auto dist = [&](std::size_t a, std::size_t b) { return ground_distance(g.lat[a], lon_of[a], g.lat[b], lon_of[b]); };
    auto length = [&](std::size_t k, int idx, int count, std::size_t stride) {
        auto on = [&](int at, std::size_t kk) { return at >= 0 && at < count && g.lat[kk] != kMissing; };
        const bool lo = on(idx - 1, k - stride), hi = on(idx + 1, k + stride);
        if (lo && hi) return dist(k - stride, k + stride) / 2.0;
        if (hi) return on(idx + 2, k + 2 * stride) ? 1.5 * dist(k, k + stride) - 0.5 * dist(k + stride, k + 2 * stride)
                                                  : dist(k, k + stride);
        if (lo) return on(idx - 2, k - 2 * stride) ? 1.5 * dist(k, k - stride) - 0.5 * dist(k - stride, k - 2 * stride)
                                                  : dist(k, k - stride);
        return -1.0;
    };
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
            double a = -1.0, b = -1.0;
            if (g.lat[k] != kMissing) {
                a = length(k, i, g.nx, 1);
                b = length(k, j, g.ny, static_cast<std::size_t>(g.nx));
                if (!(a > 0.0) || !(b > 0.0)) {
                    // A grid one point wide: half steps in the plane.
                    float x = 0, y = 0;
                    MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
                    if (!(a > 0.0)) a = step_length(x, y, hx, hy, 1.0, 0.0);
                    if (!(b > 0.0)) b = step_length(x, y, hx, hy, 0.0, 1.0);
                }
            }
            if (g.lat[k] == kMissing || !(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b)) {
                g.bad[k] = 1;
                g.any_bad = true;
                continue;
            }
            lx[k] = a;
            ly[k] = b;
        }
}

void metric_terms(Geometry& g, const std::vector<double>& lx, const std::vector<double>& ly)
{
    const std::size_t n = static_cast<std::size_t>(g.nx) * g.ny;
    g.sx.resize(n);
    g.sy_pt.resize(n);
    g.kx.assign(n, 0.0f);
    g.ky.assign(n, 0.0f);
    g.lcx.assign(n, 0.0f);
    g.lcy.assign(n, 0.0f);
    for (std::size_t k = 0; k < n; ++k) {
        g.sx[k] = static_cast<float>(1.0 / lx[k]);
        g.sy_pt[k] = static_cast<float>(1.0 / ly[k]);
    }
    // Centred inside, one-sided at the edges and next to unusable points.
    auto usable = [&](std::size_t k) { return !g.bad[k]; };
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * g.nx + i;
            if (g.bad[k]) continue;
            const double area = lx[k] * ly[k];
            int a = std::max(i - 1, 0), b = std::min(i + 1, g.nx - 1);
            if (!usable(k - i + a)) a = i;
            if (!usable(k - i + b)) b = i;
            if (b > a) {
                const double dly = (ly[k - i + b] - ly[k - i + a]) / (b - a);
                const double dlx = (lx[k - i + b] - lx[k - i + a]) / (b - a);
                g.kx[k] = static_cast<float>(dly / area);
                // (1/Ly) d(Ly/Lx)/di: zero where the step lengths keep their ratio (conformal maps).
                g.lcx[k] = static_cast<float>(dly / area - dlx / (lx[k] * lx[k]));
            }
            int up = std::max(j - 1, 0), down = std::min(j + 1, g.ny - 1);
            if (!usable(static_cast<std::size_t>(up) * g.nx + i)) up = j;
            if (!usable(static_cast<std::size_t>(down) * g.nx + i)) down = j;
            if (down > up) {
                const std::size_t ku = static_cast<std::size_t>(up) * g.nx + i;
                const std::size_t kd = static_cast<std::size_t>(down) * g.nx + i;
                const double dlx = (lx[ku] - lx[kd]) / (down - up), dly = (ly[ku] - ly[kd]) / (down - up);
                g.ky[k] = static_cast<float>(dlx / area);
                g.lcy[k] = static_cast<float>(dlx / area - dly / (ly[k] * ly[k]));
            }
        }
}

// Per-point step lengths Lx, Ly (100 km), and the metric coefficients of orthogonal
// coordinates: kx = (1/(Lx Ly)) dLy/di, ky = (1/(Lx Ly)) dLx/dj (j northward). On a conformal
// map Lx = Ly = h / m and these reduce to -dm/dX and -dm/dY. Conformal maps with a closed-form
// factor take it (a few operations a point); any other orthogonal grid is measured.
void build_projected(Geometry& g)
{
    const Domain& d = g.dom;
    const std::size_t n = static_cast<std::size_t>(g.nx) * g.ny;
    g.lx.assign(n, 1.0);
    g.ly.assign(n, 1.0);
    g.bad.assign(n, 0);
    g.any_bad = false;
    Domain saved{};
    MAP_get_domain(&saved);
    MAP_domain(&d);
    if (!conformal_steps(g, g.lx, g.ly)) measure_steps(g, g.lx, g.ly);
    MAP_domain(&saved);
    metric_terms(g, g.lx, g.ly);
}

Geometry* geometry(const GRD_report* grid)
{
    const Domain& d = grid->domain;
    if (geo.valid && std::memcmp(&geo.dom, &d, sizeof d) == 0) return &geo;
    // A new domain reuses the arrays of the last: on a large grid, fresh pages cost more than
    // the arithmetic that fills them.
    geo.valid = false;
    geo.any_bad = false;
    geo.dom = d;
    geo.nx = d.nx;
    geo.ny = d.ny;
    const ProjMetric* pm = proj_metric(d.proj);
    if (!pm || pm->metric == Metric::oblique) {
        MESS_print(M_error,
                   "No derivatives on the %s projection (code %d): its grid axes do not cross at right "
                   "angles on the earth\n",
                   pm ? pm->name : "unknown", d.proj);
        return nullptr;
    }
    geo.latlon = pm->metric == Metric::sphere_rows;
    geo.periodic = MAP_periodic_columns(&d) == d.nx && d.nx >= 3;
    if (!std::isfinite(d.dx) || !std::isfinite(d.dy) || d.dx <= 0.0f || d.dy <= 0.0f || d.dx == -9999.0f || d.dy == -9999.0f) {
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

// d/dx of row j into o (nx values).
void row_dx(Geometry& g, const float* z, int j, float* o)
{
    const int nx = g.nx;
    const float* zr = z + static_cast<long>(j) * nx;
    if (g.latlon && g.pole[j]) {
        std::fill(o, o + nx, kMissing);
        return;
    }
    const float* s = g.row_sx(j);
    if (nx < 2) {
        o[0] = zr[0] == kMissing ? kMissing : 0.0f;
    } else if (!row_has_missing(zr, nx)) {
        o[0] = (zr[1] - zr[0]) * s[0];
        for (int i = 1; i < nx - 1; ++i) o[i] = (zr[i + 1] - zr[i - 1]) * 0.5f * s[i];
        o[nx - 1] = (zr[nx - 1] - zr[nx - 2]) * s[nx - 1];
        if (g.periodic) {
            o[0] = (zr[1] - zr[nx - 1]) * 0.5f * s[0];
            o[nx - 1] = (zr[0] - zr[nx - 2]) * 0.5f * s[nx - 1];
        }
    } else {
        // Across the seam of a periodic grid the other edge is the neighbour.
        const float* west_of_first = g.periodic ? zr + nx - 1 : nullptr;
        const float* east_of_last = g.periodic ? zr : nullptr;
        for (int i = 0; i < nx; ++i)
            o[i] = careful_diff(i > 0 ? zr + i - 1 : west_of_first, zr[i], i < nx - 1 ? zr + i + 1 : east_of_last,
                                s[i]);
    }
}

// d/dy (northward, towards row 0) of row j into o.
void row_dy(Geometry& g, const float* z, const std::vector<char>& miss, int j, float* o)
{
    const int nx = g.nx, ny = g.ny;
    const float* zc = z + static_cast<long>(j) * nx;
    const float* zn = j > 0 ? zc - nx : nullptr;       // row to the north
    const float* zs = j < ny - 1 ? zc + nx : nullptr;  // row to the south
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

void field_dx(Geometry& g, const float* z, float* out)
{
    for (int j = 0; j < g.ny; ++j) row_dx(g, z, j, out + static_cast<long>(j) * g.nx);
}

void field_dy(Geometry& g, const float* z, const std::vector<char>& miss, float* out)
{
    for (int j = 0; j < g.ny; ++j) row_dy(g, z, miss, j, out + static_cast<long>(j) * g.nx);
}

// A row of rows j-1..j+1 free of missing values, away from the poles, wide enough for the
// fused kernels.
bool interior_row(const Geometry& g, const std::vector<char>& miss, int j)
{
    return j > 0 && j < g.ny - 1 && g.nx >= 3 && !(g.latlon && g.pole[j]) && !miss[j - 1] && !miss[j] &&
           !miss[j + 1];
}

// Per-row constant (latitude/longitude) or per-point (projected) coefficient.
template <bool kPerPoint>
struct Coef {
    const float* p;
    float c;
    float operator[](int i) const
    {
        if constexpr (kPerPoint) return p[i];
        else return c;
    }
};

// Second difference along a line of n values at stride step; s2 = 1 / spacing^2.
// wrap: the line goes around the earth (k = -1 is n - 1).
inline float careful_second(const float* z, int i, int n, long step, float s2, bool wrap = false)
{
    auto at = [&](int k) {
        if (wrap) k = (k % n + n) % n;
        return k >= 0 && k < n ? z[k * step] : kMissing;
    };
    const float c = at(i);
    if (c == kMissing) return kMissing;
    const float lo = at(i - 1), hi = at(i + 1);
    if (lo != kMissing && hi != kMissing) return (hi + lo - 2.0f * c) * s2;
    const float hi2 = at(i + 2), lo2 = at(i - 2);
    if (hi != kMissing && hi2 != kMissing) return (c + hi2 - 2.0f * hi) * s2;
    if (lo != kMissing && lo2 != kMissing) return (c + lo2 - 2.0f * lo) * s2;
    return 0.0f;
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
    if (!grd::same_shape(a, b)) {
        MESS_print(M_error, "%s: Grids missing or of different sizes\n", name);
        return false;
    }
    return grd::same_domain(a, b, name);
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

// dx_field: derivative along x of v (vorticity, shear) or u; dy_field: along y of u or v.
template <Pair K>
inline float wind_combine(float ax, float by, float u, float v, float kx, float ky)
{
    if constexpr (K == Pair::vorticity) return ax - by + v * kx - u * ky;
    else if constexpr (K == Pair::divergence) return ax + by + u * kx + v * ky;
    else if constexpr (K == Pair::stretch) return ax - by + v * ky - u * kx;
    else return ax + by - v * kx - u * ky;
}

// One interior row in one pass: centred differences and metric terms, no branches.
template <Pair K, bool kPerPoint>
void wind_row(Geometry& g, int j, const float* u, const float* v, float* o)
{
    const int nx = g.nx;
    const long base = static_cast<long>(j) * nx;
    constexpr bool x_of_v = K == Pair::vorticity || K == Pair::shear;
    const float* fx = (x_of_v ? v : u) + base;            // field differenced along x
    const float* fy = (x_of_v ? u : v) + base;            // field differenced along y
    const float* fn = fy - nx;
    const float* fs = fy + nx;
    const float* uc = u + base;
    const float* vc = v + base;
    Coef<kPerPoint> sx{kPerPoint ? &g.sx[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sx_row[j]};
    Coef<kPerPoint> sy{kPerPoint ? &g.sy_pt[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sy_row[j]};
    Coef<kPerPoint> kx{kPerPoint ? &g.kx[static_cast<std::size_t>(base)] : nullptr, 0.0f};
    Coef<kPerPoint> ky{kPerPoint ? &g.ky[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.ky_row[j]};
    o[0] = wind_combine<K>((fx[1] - fx[0]) * sx[0], (fn[0] - fs[0]) * 0.5f * sy[0], uc[0], vc[0], kx[0], ky[0]);
    for (int i = 1; i < nx - 1; ++i)
        o[i] = wind_combine<K>((fx[i + 1] - fx[i - 1]) * 0.5f * sx[i], (fn[i] - fs[i]) * 0.5f * sy[i], uc[i], vc[i],
                               kx[i], ky[i]);
    const int e = nx - 1;
    o[e] = wind_combine<K>((fx[e] - fx[e - 1]) * sx[e], (fn[e] - fs[e]) * 0.5f * sy[e], uc[e], vc[e], kx[e], ky[e]);
    if (g.periodic) {
        o[0] = wind_combine<K>((fx[1] - fx[e]) * 0.5f * sx[0], (fn[0] - fs[0]) * 0.5f * sy[0], uc[0], vc[0], kx[0], ky[0]);
        o[e] = wind_combine<K>((fx[0] - fx[e - 1]) * 0.5f * sx[e], (fn[e] - fs[e]) * 0.5f * sy[e], uc[e], vc[e], kx[e],
                               ky[e]);
    }
}

// A row with missing values or at an edge: derivatives by the careful rules, then combined.
template <Pair K>
void wind_row_careful(Geometry& g, int j, const float* u, const float* v, const std::vector<char>& miss_y,
                      float* a, float* b, float* o)
{
    constexpr bool x_of_v = K == Pair::vorticity || K == Pair::shear;
    row_dx(g, x_of_v ? v : u, j, a);
    row_dy(g, x_of_v ? u : v, miss_y, j, b);
    const long base = static_cast<long>(j) * g.nx;
    const float* kx = g.row_kx(j);
    const float* ky = g.row_ky(j);
    for (int i = 0; i < g.nx; ++i) {
        const float uu = u[base + i], vv = v[base + i];
        const bool miss = a[i] == kMissing || b[i] == kMissing || uu == kMissing || vv == kMissing;
        o[i] = pick(miss, wind_combine<K>(a[i], b[i], uu, vv, kx[i], ky[i]));
    }
}

template <Pair K>
void wind_field(Geometry& g, const float* u, const float* v, float* out)
{
    const std::vector<char> mu = missing_rows(u, g.nx, g.ny), mv = missing_rows(v, g.nx, g.ny);
    std::vector<char> both(mu.size());
    for (std::size_t r = 0; r < both.size(); ++r) both[r] = mu[r] || mv[r];
    constexpr bool x_of_v = K == Pair::vorticity || K == Pair::shear;
    std::vector<float> a(g.nx), b(g.nx);
    for (int j = 0; j < g.ny; ++j) {
        float* o = out + static_cast<long>(j) * g.nx;
        if (interior_row(g, both, j)) {
            if (g.latlon) wind_row<K, false>(g, j, u, v, o);
            else wind_row<K, true>(g, j, u, v, o);
        } else {
            wind_row_careful<K>(g, j, u, v, x_of_v ? mu : mv, a.data(), b.data(), o);
        }
    }
}

// Combines du/dx, du/dy, dv/dx, dv/dy with the metric terms for the four wind operators.
int wind_operator(const char* name, Pair kind, const GRD_report* ugrid, const GRD_report* vgrid,
                  const GRD_report* zgrid, GRD_report* ogrid)
{
    if (!same(name, ugrid, vgrid) || (zgrid && !same(name, ugrid, zgrid))) return -1;
    if (!prepare_output(name, ugrid, ogrid)) return -1;
    Geometry* g = geometry(ugrid);
    if (!g) return -1;
    const long n = GRD_num_points(ugrid);
    // The output may be one of the inputs: work apart, copy at the end.
    const bool aliased = ogrid->grid == ugrid->grid || ogrid->grid == vgrid->grid;
    float* o = aliased ? workspace(0, n) : ogrid->grid;
    switch (kind) {
        case Pair::vorticity: wind_field<Pair::vorticity>(*g, ugrid->grid, vgrid->grid, o); break;
        case Pair::divergence: wind_field<Pair::divergence>(*g, ugrid->grid, vgrid->grid, o); break;
        case Pair::stretch: wind_field<Pair::stretch>(*g, ugrid->grid, vgrid->grid, o); break;
        case Pair::shear: wind_field<Pair::shear>(*g, ugrid->grid, vgrid->grid, o); break;
    }
    if (aliased) std::memcpy(ogrid->grid, o, static_cast<std::size_t>(n) * sizeof(float));
    o = ogrid->grid;
    if (zgrid) {
        // Flux convergence: -(divergence) x z.
        const float* z = zgrid->grid;
        for (long k = 0; k < n; ++k) o[k] = pick(o[k] == kMissing || z[k] == kMissing, -o[k] * z[k]);
    }
    blank_bad(*g, o);
    return 0;
}

template <bool kPerPoint>
void advection_row(Geometry& g, int j, const float* u, const float* v, const float* z, float* o)
{
    const int nx = g.nx;
    const long base = static_cast<long>(j) * nx;
    const float* zc = z + base;
    const float* zn = zc - nx;
    const float* zs = zc + nx;
    const float* uc = u + base;
    const float* vc = v + base;
    Coef<kPerPoint> sx{kPerPoint ? &g.sx[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sx_row[j]};
    Coef<kPerPoint> sy{kPerPoint ? &g.sy_pt[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sy_row[j]};
    o[0] = -(uc[0] * (zc[1] - zc[0]) * sx[0] + vc[0] * (zn[0] - zs[0]) * 0.5f * sy[0]);
    for (int i = 1; i < nx - 1; ++i)
        o[i] = -(uc[i] * (zc[i + 1] - zc[i - 1]) * 0.5f * sx[i] + vc[i] * (zn[i] - zs[i]) * 0.5f * sy[i]);
    const int e = nx - 1;
    o[e] = -(uc[e] * (zc[e] - zc[e - 1]) * sx[e] + vc[e] * (zn[e] - zs[e]) * 0.5f * sy[e]);
    if (g.periodic) {
        o[0] = -(uc[0] * (zc[1] - zc[e]) * 0.5f * sx[0] + vc[0] * (zn[0] - zs[0]) * 0.5f * sy[0]);
        o[e] = -(uc[e] * (zc[0] - zc[e - 1]) * 0.5f * sx[e] + vc[e] * (zn[e] - zs[e]) * 0.5f * sy[e]);
    }
}

template <bool kPerPoint>
void laplacian_row(Geometry& g, int j, const float* z, float* o)
{
    const int nx = g.nx;
    const long base = static_cast<long>(j) * nx;
    const float* zc = z + base;
    const float* zn = zc - nx;
    const float* zs = zc + nx;
    Coef<kPerPoint> sx{kPerPoint ? &g.sx[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sx_row[j]};
    Coef<kPerPoint> sy{kPerPoint ? &g.sy_pt[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.sy_row[j]};
    // The second differences miss the change of the step lengths: -tan(lat)/a dz/dy on the
    // sphere, nothing on a conformal map, both terms on other orthogonal grids.
    Coef<kPerPoint> cy{kPerPoint ? &g.lcy[static_cast<std::size_t>(base)] : nullptr, kPerPoint ? 0.0f : g.ky_row[j]};
    Coef<kPerPoint> cx{kPerPoint ? &g.lcx[static_cast<std::size_t>(base)] : nullptr, 0.0f};
    auto yterm = [&](int i) {
        return (zn[i] + zs[i] - 2.0f * zc[i]) * sy[i] * sy[i] + cy[i] * (zn[i] - zs[i]) * 0.5f * sy[i];
    };
    o[0] = (zc[0] + zc[2] - 2.0f * zc[1]) * sx[0] * sx[0] + cx[0] * (zc[1] - zc[0]) * sx[0] + yterm(0);
    for (int i = 1; i < nx - 1; ++i)
        o[i] = (zc[i + 1] + zc[i - 1] - 2.0f * zc[i]) * sx[i] * sx[i] + cx[i] * (zc[i + 1] - zc[i - 1]) * 0.5f * sx[i] +
               yterm(i);
    const int e = nx - 1;
    o[e] = (zc[e] + zc[e - 2] - 2.0f * zc[e - 1]) * sx[e] * sx[e] + cx[e] * (zc[e] - zc[e - 1]) * sx[e] + yterm(e);
    if (g.periodic) {   // the seam is interior: the other edge is the neighbour
        o[0] = (zc[1] + zc[e] - 2.0f * zc[0]) * sx[0] * sx[0] + cx[0] * (zc[1] - zc[e]) * 0.5f * sx[0] + yterm(0);
        o[e] = (zc[0] + zc[e - 1] - 2.0f * zc[e]) * sx[e] * sx[e] + cx[e] * (zc[0] - zc[e - 1]) * 0.5f * sx[e] +
               yterm(e);
    }
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
    const float* z = grid->grid;
    const std::vector<char> miss = missing_rows(z, nx, g->ny);
    float* o = ogrid->grid == z ? workspace(0, n) : ogrid->grid;
    std::vector<float> xx(nx), yy(nx), dy(nx), dx(nx);
    std::vector<float> column(g->ny);
    for (int j = 0; j < g->ny; ++j) {
        float* orow = o + static_cast<long>(j) * nx;
        if (interior_row(*g, miss, j)) {
            if (g->latlon) laplacian_row<false>(*g, j, z, orow);
            else laplacian_row<true>(*g, j, z, orow);
            continue;
        }
        // Edge rows and rows near missing values: second differences by the careful rules.
        const float* zr = z + static_cast<long>(j) * nx;
        const float* sx = g->row_sx(j);
        const float* sy = g->row_sy(j);
        const bool pole = g->latlon && g->pole[j];
        for (int i = 0; i < nx; ++i) {
            xx[i] = pole ? kMissing : careful_second(zr, i, nx, 1, sx[i] * sx[i], g->periodic);
            yy[i] = careful_second(z + i, j, g->ny, nx, sy[i] * sy[i]);
        }
        row_dy(*g, z, miss, j, dy.data());
        row_dx(*g, z, j, dx.data());
        for (int i = 0; i < nx; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * nx + i;
            const float cy = g->latlon ? g->ky_row[j] : g->lcy[k], cx = g->latlon ? 0.0f : g->lcx[k];
            const bool miss = xx[i] == kMissing || yy[i] == kMissing || dy[i] == kMissing || (cx != 0.0f && dx[i] == kMissing);
            orow[i] = pick(miss, xx[i] + yy[i] + cy * dy[i] + (cx != 0.0f ? cx * dx[i] : 0.0f));
        }
    }
    if (o != ogrid->grid) std::memcpy(ogrid->grid, o, static_cast<std::size_t>(n) * sizeof(float));
    blank_bad(*g, ogrid->grid);
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
    const int nx = g->nx;
    const float* u = ugrid->grid;
    const float* v = vgrid->grid;
    const float* z = zgrid->grid;
    const bool aliased = ogrid->grid == u || ogrid->grid == v || ogrid->grid == z;
    float* o = aliased ? workspace(0, n) : ogrid->grid;
    const std::vector<char> mz = missing_rows(z, nx, g->ny), mu = missing_rows(u, nx, g->ny),
                            mv = missing_rows(v, nx, g->ny);
    std::vector<char> all(mz.size());
    for (std::size_t r = 0; r < all.size(); ++r) all[r] = mz[r] || mu[r] || mv[r];
    std::vector<float> zx(nx), zy(nx);
    for (int j = 0; j < g->ny; ++j) {
        float* orow = o + static_cast<long>(j) * nx;
        if (interior_row(*g, all, j)) {
            if (g->latlon) advection_row<false>(*g, j, u, v, z, orow);
            else advection_row<true>(*g, j, u, v, z, orow);
            continue;
        }
        row_dx(*g, z, j, zx.data());
        row_dy(*g, z, mz, j, zy.data());
        const long base = static_cast<long>(j) * nx;
        for (int i = 0; i < nx; ++i) {
            const float uu = u[base + i], vv = v[base + i];
            const bool miss = zx[i] == kMissing || zy[i] == kMissing || uu == kMissing || vv == kMissing;
            orow[i] = pick(miss, -(uu * zx[i] + vv * zy[i]));
        }
    }
    if (aliased) std::memcpy(ogrid->grid, o, static_cast<std::size_t>(n) * sizeof(float));
    blank_bad(*g, ogrid->grid);
    return 0;
}

// Coriolis parameter (10^-5 / s) at every point of grid into f; false without a usable domain.
bool grd::coriolis_field(const GRD_report* grid, std::vector<float>& f)
{
    if (!grd::has_values(grid)) return false;
    const Domain& d = grid->domain;
    const int nx = d.nx, ny = d.ny;
    f.assign(static_cast<std::size_t>(nx) * ny, kMissing);
    auto coriolis = [](double lat) { return static_cast<float>(kTwoOmega * std::sin(lat * kDegToRad)); };
    if (d.proj == 2) {
        for (int j = 0; j < ny; ++j)
            std::fill_n(f.begin() + static_cast<long>(j) * nx, nx, coriolis(grd::latlon_row_lat(d, j)));
        return true;
    }
    // Only the latitude matters here: every earth projection has one.
    MAP_keep_domain keep;
    MAP_domain(&d);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            float x = 0, y = 0, lat = 0, lon = 0;
            MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y);
            if (MAP_untran(x, y, &lat, &lon) == 1) f[static_cast<std::size_t>(j) * nx + i] = coriolis(lat);
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
