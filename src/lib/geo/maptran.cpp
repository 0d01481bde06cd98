// Map transforms for the one active domain. Every projection code maps to one handler pair
// (forward, inverse) in a single table; per-domain constants are derived lazily after any change.
#include "maptran.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "mess.hpp"
#include "region.hpp"
#include "thm_tool.hpp"

namespace {

constexpr double deg_to_rad = 0.017453292519943334;
constexpr double rad_to_deg = 57.295779513082195;
constexpr double earth_rad = 63.7122;     // spherical earth, 100 km units
constexpr double earth_maj = 63.781368;   // ellipsoid equatorial radius
constexpr double earth_min = 63.56752;    // ellipsoid polar radius
constexpr double degree_km = 111.195;     // length of one degree of latitude
constexpr double default_sat_rad = 421.61;
constexpr double pi = 3.14159265358979323846;
constexpr float missing = -9999.0f;
constexpr int no_projection = -9999;
constexpr double tiny = 1e-10;
constexpr double kappa_inverse = 1.0 / 0.286;  // undoes the potential-temperature exponent
constexpr long long max_plot_cells = 1LL << 26;  // occupancy cells; far beyond any plot's needs

bool is_missing(double value) { return value == static_cast<double>(missing); }

double sind(double deg) { return std::sin(deg * deg_to_rad); }
double cosd(double deg) { return std::cos(deg * deg_to_rad); }
double tand(double deg) { return std::tan(deg * deg_to_rad); }

// Brings an angle into -180..180 without looping, whatever its size.
double wrap180(double deg) { return std::remainder(deg, 360.0); }

double wrap360(double deg)
{
    double wrapped = std::fmod(deg, 360.0);
    return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

Domain unset_domain()
{
    Domain dom{};
    dom.proj = no_projection;
    dom.plat = dom.plon = missing;
    for (float& p : dom.param) p = missing;
    dom.clat = dom.clon = dom.dx = dom.dy = missing;
    dom.nx = dom.ny = no_projection;
    dom.ellipse = 0;
    return dom;
}

MAP_limits unset_limits() { return {missing, missing, missing, missing}; }

// The rotation of a rotated latitude/longitude domain (code 11).
struct Rotation {
    double sin_south = -1.0, cos_south = 0.0, south_lon = 0.0, angle = 0.0;
    bool valid = true;
};

// Values derived from the active domain, recomputed after every change of domain, projection,
// projection point, true latitudes or view.
struct Derived {
    bool ready = false;
    bool valid = true;          // false when the domain's parameters admit no transform
    double plat = 0.0, plon = 0.0;
    double sin_plat = 0.0, cos_plat = 1.0;
    int hemisphere = 1;         // +1 for a map of the northern hemisphere
    double polar_tlat = 60.0;   // true latitude of the polar stereographic, in the map's hemisphere
    double polar_factor = 0.0;  // F of the polar stereographic
    double cone = 0.0;          // Lambert cone constant n
    double cone_scale = 0.0;    // Lambert M x R
    bool sat_angles = false;    // satellite plane in scan angles rather than tangents
    std::shared_ptr<const std::vector<double>> gauss;  // Gaussian latitudes, north to south
    // Rotated latitude/longitude: the rotation and the rotated longitude of the domain centre
    // (plane x = 0).
    Rotation rotation;
    double centre_rlon = 0.0;
    // Diagrams: the data window (first and second input ranges) and scaling to the view.
    double in1_lo = 0.0, in1_hi = 0.0, in2_lo = 0.0, in2_hi = 0.0;
    double origin_x = 0.0, origin_y = 0.0;
};

struct State {
    Domain domain = unset_domain();
    MAP_limits limits = unset_limits();
    MAP_limits view = unset_limits();
    double xfactor = missing, yfactor = missing;  // diagram scaling to the view
    double mult = missing;                        // skew of the skew-T isotherms
    double tlat1 = 30.0, tlat2 = 60.0;
    double sat_rad = 421.64, sat_rad2 = 421.64 * 421.64, sat_rad4 = sat_rad2 * sat_rad2,
           sat2_earth2 = sat_rad2 - earth_maj * earth_maj;
    double earth_ratio2 = (earth_min / earth_maj) * (earth_min / earth_maj);
    Derived derived;
    int warned_code = 0;
    // Plot occupancy grid.
    std::vector<unsigned char> grid;
    int plot_grid_len = 0;
    int grid_limit = 1;
    int grid_sub = 1;
    int grid_cols = 0, grid_rows = 0;
};

// The active domain is per thread: a thread that decodes a projected grid (the GRIB grid
// sections place it with the transforms) must not move another thread's map.
thread_local State st;

void set_satellite_distance(double distance)
{
    st.sat_rad = distance;
    st.sat_rad2 = distance * distance;
    st.sat_rad4 = st.sat_rad2 * st.sat_rad2;
    st.sat2_earth2 = st.sat_rad2 - earth_maj * earth_maj;
}

void reset_caches()
{
    st.derived.ready = false;
    st.xfactor = st.yfactor = st.mult = missing;
}

// ---- earth projections: inputs are degrees with lon - plon already in -180..180 ----

int polar_forward(double lat, double dlon, double& x, double& y)
{
    const Derived& d = st.derived;
    double s = -d.hemisphere;
    if (s * lat > 75.0) lat = 75.0 * s;
    double e = tand((90.0 + s * lat) / 2.0);
    x = d.polar_factor * e * sind(dlon);
    y = s * d.polar_factor * e * cosd(dlon);
    return 1;
}

int polar_inverse(double x, double y, double& lat, double& lon)
{
    const Derived& d = st.derived;
    double s = -d.hemisphere;
    double rho = std::hypot(x, y);
    lat = s * (2.0 * std::atan(rho / d.polar_factor) * rad_to_deg - 90.0);
    lon = d.plon + std::atan2(x, s * y) * rad_to_deg;
    return 1;
}

int latlon_forward(double lat, double dlon, double& x, double& y)
{
    x = dlon;
    y = lat;
    return 1;
}

int latlon_inverse(double x, double y, double& lat, double& lon)
{
    if (y < -90.0 || y > 90.0) return 0;
    lat = y;
    lon = st.derived.plon + x;
    return 1;
}

// Gaussian rows: plane y puts the Gaussian latitudes at equal steps (see maptran.hpp).
double gaussian_row_y(int rows, int k) { return 90.0 - (k + 0.5) * (180.0 / rows); }

int gaussian_forward(double lat, double dlon, double& x, double& y)
{
    const std::vector<double>& g = *st.derived.gauss;
    const int rows = static_cast<int>(g.size());
    const double first = gaussian_row_y(rows, 0), last = gaussian_row_y(rows, rows - 1);
    x = dlon;
    if (lat >= g.front()) {
        y = first + (lat - g.front()) * (90.0 - first) / (90.0 - g.front());
    } else if (lat <= g.back()) {
        y = last + (lat - g.back()) * (last + 90.0) / (g.back() + 90.0);
    } else {
        // g[k] >= lat > g[k + 1]
        const auto below = std::upper_bound(g.begin(), g.end(), lat, std::greater<double>());
        const int k = static_cast<int>(below - g.begin()) - 1;
        y = gaussian_row_y(rows, k) - (lat - g[k]) / (g[k + 1] - g[k]) * (180.0 / rows);
    }
    return 1;
}

int gaussian_inverse(double x, double y, double& lat, double& lon)
{
    if (y < -90.0 || y > 90.0) return 0;
    const std::vector<double>& g = *st.derived.gauss;
    const int rows = static_cast<int>(g.size());
    const double first = gaussian_row_y(rows, 0), last = gaussian_row_y(rows, rows - 1);
    const double t = (90.0 - y) / (180.0 / rows) - 0.5;  // fractional row
    if (t <= 0.0) {
        lat = g.front() + (y - first) * (90.0 - g.front()) / (90.0 - first);
    } else if (t >= rows - 1) {
        lat = g.back() + (y - last) * (g.back() + 90.0) / (last + 90.0);
    } else {
        const int k = static_cast<int>(t);
        lat = g[k] + (t - k) * (g[k + 1] - g[k]);
    }
    lon = st.derived.plon + x;
    return 1;
}

Rotation rotation_of(const Domain& dom)
{
    Rotation r;
    const double south = is_missing(dom.param[0]) ? -90.0 : dom.param[0];
    r.valid = south >= -90.0 && south <= 90.0;
    r.sin_south = sind(south);
    r.cos_south = cosd(south);
    r.south_lon = is_missing(dom.param[1]) ? 0.0 : dom.param[1];
    r.angle = is_missing(dom.param[2]) ? 0.0 : dom.param[2];
    return r;
}

// Geographic (degrees) to rotated (degrees, longitude before the centre is taken off).
void rotate(const Rotation& r, double lat, double lon, double& rlat, double& rlon)
{
    const double cos_lat = cosd(lat), turned = (lon - r.south_lon) * deg_to_rad;
    const double px = cos_lat * std::cos(turned), py = cos_lat * std::sin(turned), pz = sind(lat);
    const double qx = -px * r.sin_south + pz * r.cos_south;
    const double qz = std::clamp(-px * r.cos_south - pz * r.sin_south, -1.0, 1.0);
    rlat = std::asin(qz) * rad_to_deg;
    rlon = wrap180(std::atan2(py, qx) * rad_to_deg - r.angle);
}

void unrotate(const Rotation& r, double rlat, double rlon, double& lat, double& lon)
{
    const double cos_rlat = cosd(rlat), turned = (rlon + r.angle) * deg_to_rad;
    const double qx = cos_rlat * std::cos(turned), qy = cos_rlat * std::sin(turned), qz = sind(rlat);
    const double px = -qx * r.sin_south - qz * r.cos_south;
    const double pz = std::clamp(qx * r.cos_south - qz * r.sin_south, -1.0, 1.0);
    lat = std::asin(pz) * rad_to_deg;
    lon = wrap180(std::atan2(qy, px) * rad_to_deg + r.south_lon);
}

int rotated_forward(double lat, double dlon, double& x, double& y)
{
    double rlon;
    rotate(st.derived.rotation, lat, dlon + st.derived.plon, y, rlon);
    x = wrap180(rlon - st.derived.centre_rlon);
    return 1;
}

int rotated_inverse(double x, double y, double& lat, double& lon)
{
    if (y < -90.0 || y > 90.0) return 0;
    unrotate(st.derived.rotation, y, x + st.derived.centre_rlon, lat, lon);
    return 1;
}

int mercator_forward(double lat, double dlon, double& x, double& y)
{
    lat = std::clamp(lat, -89.9, 89.9);
    x = earth_rad * dlon * deg_to_rad;
    y = -earth_rad * std::log(tand(45.0 - lat / 2.0));
    return 1;
}

int mercator_inverse(double x, double y, double& lat, double& lon)
{
    lat = 90.0 - 2.0 * std::atan(std::exp(-y / earth_rad)) * rad_to_deg;
    lon = st.derived.plon + x / earth_rad * rad_to_deg;
    return 1;
}

int lambert_forward(double lat, double dlon, double& x, double& y)
{
    const Derived& d = st.derived;
    double h = d.hemisphere;
    lat = h > 0 ? std::max(lat, -89.0) : std::min(lat, 89.0);
    double rho = d.cone_scale * std::pow(tand(45.0 - h * lat / 2.0), d.cone);
    x = rho * sind(d.cone * dlon);
    y = -h * rho * cosd(d.cone * dlon);
    return 1;
}

int lambert_inverse(double x, double y, double& lat, double& lon)
{
    const Derived& d = st.derived;
    double h = d.hemisphere;
    double sign = d.cone < 0.0 ? -1.0 : 1.0;
    double rho = sign * std::hypot(x, y);
    double theta = std::atan2(sign * x, -sign * h * y);
    double ratio = rho / d.cone_scale;
    if (ratio < 0.0) return 0;
    lat = h * (90.0 - 2.0 * std::atan(std::pow(ratio, 1.0 / d.cone)) * rad_to_deg);
    lon = d.plon + theta * rad_to_deg / d.cone;
    return 1;
}

// Shared by the azimuthal inverses: earth point at angular distance c (radians) from the
// projection point along the plane direction of (x, y), rho = hypot(x, y) > 0.
void azimuthal_point(double x, double y, double rho, double c, double& lat, double& lon)
{
    const Derived& d = st.derived;
    double sin_c = std::sin(c), cos_c = std::cos(c);
    double sin_lat = std::clamp(cos_c * d.sin_plat + y * sin_c * d.cos_plat / rho, -1.0, 1.0);
    lat = std::asin(sin_lat) * rad_to_deg;
    lon = d.plon + std::atan2(x * sin_c, rho * d.cos_plat * cos_c - y * d.sin_plat * sin_c) * rad_to_deg;
}

double cos_distance(double lat, double dlon)
{
    const Derived& d = st.derived;
    return d.sin_plat * sind(lat) + d.cos_plat * cosd(lat) * cosd(dlon);
}

int ortho_forward(double lat, double dlon, double& x, double& y)
{
    const Derived& d = st.derived;
    if (cos_distance(lat, dlon) < 0.0) return 0;
    x = earth_rad * cosd(lat) * sind(dlon);
    y = earth_rad * (sind(lat) * d.cos_plat - cosd(lat) * d.sin_plat * cosd(dlon));
    return 1;
}

int ortho_inverse(double x, double y, double& lat, double& lon)
{
    double rho = std::hypot(x, y);
    if (rho > earth_rad) return 0;
    if (rho < tiny) {
        lat = st.derived.plat;
        lon = st.derived.plon;
        return 1;
    }
    azimuthal_point(x, y, rho, std::asin(rho / earth_rad), lat, lon);
    return 1;
}

int gnomonic_forward(double lat, double dlon, double& x, double& y)
{
    const Derived& d = st.derived;
    double cos_c = cos_distance(lat, dlon);
    if (cos_c <= tiny) return 0;  // 90 degrees or more from the tangent point
    x = earth_rad * cosd(lat) * sind(dlon) / cos_c;
    y = earth_rad * (d.cos_plat * sind(lat) - d.sin_plat * cosd(lat) * cosd(dlon)) / cos_c;
    return 1;
}

int gnomonic_inverse(double x, double y, double& lat, double& lon)
{
    double rho = std::hypot(x, y);
    if (rho < tiny) {
        lat = st.derived.plat;
        lon = st.derived.plon;
        return 1;
    }
    azimuthal_point(x, y, rho, std::atan(rho / earth_rad), lat, lon);
    return 1;
}

int mollweide_forward(double lat, double dlon, double& x, double& y)
{
    double target = pi * sind(lat);
    double a = lat * deg_to_rad;
    if (std::fabs(lat) >= 90.0) {
        a = lat > 0 ? pi : -pi;  // the Newton step divides by zero at the poles
    } else {
        for (int step_count = 0; step_count < 15; ++step_count) {
            double slope = std::cos(a) + 1.0;
            if (slope < tiny) break;
            double step = -(std::sin(a) + a - target) / slope;
            a += step;
            if (std::fabs(step) < 1e-10) break;
        }
    }
    x = std::fabs(lat) > 89.99 ? 0.0 : earth_rad * (dlon / 90.0) * std::cos(a / 2.0);
    y = earth_rad * std::sin(a / 2.0);
    return 1;
}

int mollweide_inverse(double x, double y, double& lat, double& lon)
{
    double half_sine = y / earth_rad;
    if (half_sine < -1.0 || half_sine > 1.0) return 0;
    double a = 2.0 * std::asin(half_sine);
    double sin_lat = (a + std::sin(a)) / pi;
    if (sin_lat < -1.0 || sin_lat > 1.0) return 0;
    lat = std::asin(sin_lat) * rad_to_deg;
    double half_cos = std::cos(a / 2.0);
    double dlon = half_cos < tiny ? 0.0 : 90.0 * x / (earth_rad * half_cos);
    if (std::fabs(dlon) > 180.0 + 1e-9) return 0;  // outside the ellipse
    lon = st.derived.plon + dlon;
    return 1;
}

int lambert_az_forward(double lat, double dlon, double& x, double& y)
{
    const Derived& d = st.derived;
    double c = cos_distance(lat, dlon);
    if (1.0 + c < tiny) return 0;  // antipode
    double k = std::sqrt(2.0 / (1.0 + c));
    x = k * earth_rad * cosd(lat) * sind(dlon);
    y = k * earth_rad * (d.cos_plat * sind(lat) - d.sin_plat * cosd(lat) * cosd(dlon));
    return 1;
}

int lambert_az_inverse(double x, double y, double& lat, double& lon)
{
    const Derived& d = st.derived;
    double rho = std::hypot(x, y);
    double half_chord = rho / (2.0 * earth_rad);
    if (half_chord > 1.0) return 0;
    if (rho < tiny) {
        lat = d.plat;
        lon = d.plon;
        return 1;
    }
    double c = 2.0 * std::asin(half_chord);
    if (std::fabs(std::fabs(d.plat) - 90.0) < tiny) {
        double h = d.plat > 0 ? 1.0 : -1.0;
        lat = h * (90.0 - c * rad_to_deg);
        lon = d.plon + std::atan2(x, -h * y) * rad_to_deg;
        return 1;
    }
    azimuthal_point(x, y, rho, c, lat, lon);
    return 1;
}

int satellite_forward(double lat, double dlon, double& x, double& y)
{
    const Domain& dom = st.domain;
    double phi = lat * deg_to_rad;
    if (dom.ellipse) phi = std::atan2(std::sin(phi) * st.earth_ratio2, std::cos(phi));
    double cos_lat = std::cos(phi), sin_lat = std::sin(phi);
    double cos_dlon = cosd(dlon), sin_dlon = sind(dlon);
    if (earth_rad / st.sat_rad > cos_lat * cos_dlon) return 0;
    double r = dom.ellipse ? earth_min / std::sqrt(1.0 - (1.0 - st.earth_ratio2) * cos_lat * cos_lat) : earth_rad;
    double across = r * sin_dlon * cos_lat;
    double along = st.sat_rad - r * cos_lat * cos_dlon;
    double tx = across / along;
    double ty = r * sin_lat / std::sqrt(across * across + along * along);
    if (st.derived.sat_angles) {
        tx = std::atan(tx);
        ty = std::atan(ty);
    }
    x = tx * st.sat_rad;
    y = ty * st.sat_rad;
    return 1;
}

// Follows the line of sight from the satellite and takes its first meeting with the earth.
int satellite_inverse(double x, double y, double& lat, double& lon)
{
    const Domain& dom = st.domain;
    double tx = x / st.sat_rad, ty = y / st.sat_rad;
    if (st.derived.sat_angles) {
        if (std::fabs(tx) >= pi / 2 || std::fabs(ty) >= pi / 2) return 0;
        tx = std::tan(tx);
        ty = std::tan(ty);
    }
    double dz = ty * std::sqrt(1.0 + tx * tx);
    double radius = dom.ellipse ? earth_maj : earth_rad;
    double z_stretch = dom.ellipse ? earth_maj / earth_min : 1.0;
    double q = 1.0 + tx * tx + dz * dz * z_stretch * z_stretch;
    double beyond = dom.ellipse ? st.sat2_earth2 : st.sat_rad2 - radius * radius;
    double disc = st.sat_rad2 - q * beyond;
    if (disc < 0.0) return 0;  // the ray misses the earth
    double t = (st.sat_rad - std::sqrt(disc)) / q;
    double px = st.sat_rad - t, py = t * tx, pz = t * dz;
    double phi = std::atan2(pz, std::hypot(px, py));
    if (dom.ellipse) phi = std::atan2(std::sin(phi), std::cos(phi) * st.earth_ratio2);
    lat = phi * rad_to_deg;
    lon = st.derived.plon + std::atan2(py, px) * rad_to_deg;
    return 1;
}

// ---- charts and diagrams: inputs as given ----

int identity_forward(double a, double b, double& x, double& y)
{
    x = a;
    y = b;
    return 1;
}

int chart_forward(double a, double b, double& x, double& y)
{
    const Derived& d = st.derived;
    x = d.origin_x + (a - d.origin_x) * st.xfactor;
    y = d.origin_y + (b - d.origin_y) * st.yfactor;
    return 1;
}

int chart_inverse(double x, double y, double& a, double& b)
{
    const Derived& d = st.derived;
    a = d.origin_x + (x - d.origin_x) / st.xfactor;
    b = d.origin_y + (y - d.origin_y) / st.yfactor;
    return 1;
}

int chart_reversed_forward(double a, double b, double& x, double& y)
{
    const Derived& d = st.derived;
    x = d.origin_x + (a - d.origin_x) * st.xfactor;
    y = d.origin_y + (d.origin_y - b) * st.yfactor;
    return 1;
}

int chart_reversed_inverse(double x, double y, double& a, double& b)
{
    const Derived& d = st.derived;
    a = d.origin_x + (x - d.origin_x) / st.xfactor;
    b = d.origin_y - (y - d.origin_y) / st.yfactor;
    return 1;
}

int logp_forward(double a, double p, double& x, double& y)
{
    if (p <= 0.0) return 0;
    x = a;
    y = -std::log(p);
    return 1;
}

int logp_inverse(double x, double y, double& a, double& p)
{
    a = x;
    p = std::exp(-y);
    return 1;
}

int hodograph_forward(double dir, double speed, double& x, double& y)
{
    x = speed * sind(dir);
    y = speed * cosd(dir);
    return 1;
}

int hodograph_inverse(double x, double y, double& dir, double& speed)
{
    dir = wrap360(std::atan2(x, y) * rad_to_deg);
    speed = std::hypot(x, y);
    return 1;
}

int skewt_forward(double t, double p, double& x, double& y)
{
    if (p <= 0.0) return 0;
    y = -std::log(p);
    x = t + st.mult * (y - st.derived.origin_y);
    return 1;
}

int skewt_inverse(double x, double y, double& t, double& p)
{
    p = std::exp(-y);
    t = x - st.mult * (y - st.derived.origin_y);
    return 1;
}

int stuve_forward(double t, double p, double& x, double& y)
{
    if (p < 0.0) return 0;
    x = t;
    y = -std::pow(p, 0.285714);
    return 1;
}

int stuve_inverse(double x, double y, double& t, double& p)
{
    if (y > 0.0) return 0;
    t = x;
    p = std::pow(-y, 3.5);
    return 1;
}

int theta_forward(double t, double p, double& x, double& y)
{
    double theta = pot_temp(static_cast<float>(t + 273.15), static_cast<float>(p));
    if (is_missing(theta)) return 0;
    x = t;
    y = std::log(theta);
    return 1;
}

// Pressure (mb) at which temperature t (C) has potential temperature exp(log_theta).
double pressure_on_theta(double t, double log_theta)
{
    return 1000.0 * std::pow((t + 273.15) / std::exp(log_theta), kappa_inverse);
}

int theta_inverse(double x, double y, double& t, double& p)
{
    if (x + 273.15 <= 0.0) return 0;
    t = x;
    p = pressure_on_theta(x, y);
    return 1;
}

// Tephigram: the (T, ln theta) pair scaled to the view, turned by 45 degrees about the view's
// lower-left corner and scaled back. Without a view it falls back to (T, ln p).
int tephigram_forward(double t, double p, double& x, double& y)
{
    const Derived& d = st.derived;
    if (st.xfactor == 0.0) {
        if (p <= 0.0) return 0;
        x = t;
        y = std::log(p);
        return 1;
    }
    double plain_x, plain_y;
    if (!theta_forward(t, p, plain_x, plain_y)) return 0;
    double u = (plain_x - d.origin_x) * st.xfactor;
    double v = (plain_y - d.origin_y) * st.yfactor;
    double turned_u = (u + v) / 2.0;
    double turned_v = v - turned_u;
    x = d.origin_x + turned_u / st.xfactor;
    y = d.origin_y + turned_v / st.yfactor;
    return 1;
}

int tephigram_inverse(double x, double y, double& t, double& p)
{
    const Derived& d = st.derived;
    if (st.xfactor == 0.0) {
        t = x;
        p = std::exp(y);
        return 1;
    }
    double turned_u = (x - d.origin_x) * st.xfactor;
    double turned_v = (y - d.origin_y) * st.yfactor;
    double u = turned_u - turned_v;
    double v = turned_u + turned_v;
    return theta_inverse(d.origin_x + u / st.xfactor, d.origin_y + v / st.yfactor, t, p);
}

int pixel_forward(double a, double b, double& x, double& y)
{
    x = a;
    y = -b;
    return 1;
}

int pixel_inverse(double x, double y, double& a, double& b)
{
    a = x;
    b = -y;
    return 1;
}

using Forward = int (*)(double, double, double&, double&);
using Inverse = int (*)(double, double, double&, double&);

enum class Kind { none, earth, chart, hodograph, skewt, diagram };

struct Projection {
    int code;
    Forward forward;
    Inverse inverse;
    Kind kind;
};

// The one registry of projection codes.
constexpr Projection projections[] = {
    {no_projection, identity_forward, identity_forward, Kind::none},
    {1, polar_forward, polar_inverse, Kind::earth},
    {2, latlon_forward, latlon_inverse, Kind::earth},
    {3, mercator_forward, mercator_inverse, Kind::earth},
    {4, lambert_forward, lambert_inverse, Kind::earth},
    {5, ortho_forward, ortho_inverse, Kind::earth},
    {6, gnomonic_forward, gnomonic_inverse, Kind::earth},
    {7, mollweide_forward, mollweide_inverse, Kind::earth},
    {8, lambert_az_forward, lambert_az_inverse, Kind::earth},
    {9, satellite_forward, satellite_inverse, Kind::earth},
    {MAP_GAUSSIAN, gaussian_forward, gaussian_inverse, Kind::earth},
    {MAP_ROTATED, rotated_forward, rotated_inverse, Kind::earth},
    {20, chart_forward, chart_inverse, Kind::chart},
    {22, logp_forward, logp_inverse, Kind::diagram},
    {23, hodograph_forward, hodograph_inverse, Kind::hodograph},
    {24, chart_forward, chart_inverse, Kind::chart},
    {25, chart_reversed_forward, chart_reversed_inverse, Kind::chart},
    {40, skewt_forward, skewt_inverse, Kind::skewt},
    {41, stuve_forward, stuve_inverse, Kind::diagram},
    {42, logp_forward, logp_inverse, Kind::diagram},
    {43, tephigram_forward, tephigram_inverse, Kind::diagram},
    {44, theta_forward, theta_inverse, Kind::diagram},
    {99, pixel_forward, pixel_inverse, Kind::diagram},
};

const Projection* find_projection(int code)
{
    for (const Projection& p : projections)
        if (p.code == code) return &p;
    return nullptr;
}

thread_local const Projection* active = &projections[0];

bool has_grid(const Domain& dom)
{
    return dom.nx >= 1 && dom.ny >= 1 && !is_missing(dom.dx) && !is_missing(dom.dy) && !is_missing(dom.clat) &&
           !is_missing(dom.clon);
}

void derive_lambert(Derived& d)
{
    // Work in the map's own hemisphere: a southern map's true latitudes count by their size.
    double t1 = d.hemisphere > 0 ? st.tlat1 : std::fabs(st.tlat1);
    double t2 = d.hemisphere > 0 ? st.tlat2 : std::fabs(st.tlat2);
    if (std::fabs(t1 - t2) > 1e-6)
        d.cone = (std::log(cosd(t1)) - std::log(cosd(t2))) /
                 (std::log(tand(45.0 - t1 / 2.0)) - std::log(tand(45.0 - t2 / 2.0)));
    else
        d.cone = sind(t1);
    double m = cosd(t1) / (d.cone * std::pow(tand(45.0 - t1 / 2.0), d.cone));
    d.cone_scale = m * earth_rad;
    // A cone flattened to a plane or a degenerate true latitude has no transform.
    d.valid = std::isfinite(d.cone) && std::fabs(d.cone) > tiny && std::isfinite(d.cone_scale) &&
              std::fabs(d.cone_scale) > tiny;
}

void derive_diagram(Derived& d, Kind kind)
{
    const Domain& dom = st.domain;
    st.xfactor = st.yfactor = 1.0;
    st.mult = 0.0;
    if (!has_grid(dom)) return;
    double half_x = dom.dx * (dom.nx - 1) / 2.0, half_y = dom.dy * (dom.ny - 1) / 2.0;
    d.in1_lo = dom.clat - half_x;
    d.in1_hi = dom.clat + half_x;
    d.in2_lo = dom.clon - half_y;
    d.in2_hi = dom.clon + half_y;
    d.origin_x = d.in1_lo;
    d.origin_y = d.in2_lo;
    bool have_view = !is_missing(st.view.x_min) && st.view.x_max != st.view.x_min && st.view.y_max != st.view.y_min;
    double view_w = have_view ? st.view.x_max - st.view.x_min : 1.0;
    double view_h = have_view ? st.view.y_max - st.view.y_min : 1.0;
    if (kind == Kind::skewt && d.in2_lo > 0.0) {
        d.origin_y = -std::log(d.in2_hi);  // the bottom of the diagram: highest pressure
        double y_span = std::log(d.in2_hi) - std::log(d.in2_lo);
        if (y_span > 0.0) st.mult = (d.in1_hi - d.in1_lo) * (view_h / view_w) / y_span;
    }
    if (active->code == 43) {
        st.xfactor = st.yfactor = 0.0;
        if (!have_view || d.in2_lo <= 0.0) return;
        // Unturned window in (T, ln theta): theta grows with T and falls with p.
        double theta_lo = 0.0, theta_hi = 0.0, unused = 0.0;
        if (!theta_forward(d.in1_lo, d.in2_hi, unused, theta_lo) || !theta_forward(d.in1_hi, d.in2_lo, unused, theta_hi))
            return;
        if (d.in1_hi <= d.in1_lo || theta_hi <= theta_lo) return;
        d.origin_x = d.in1_lo;
        d.origin_y = theta_lo;
        st.xfactor = view_w / (d.in1_hi - d.in1_lo);
        st.yfactor = view_h / (theta_hi - theta_lo);
    }
}

void ensure_derived()
{
    Derived& d = st.derived;
    if (d.ready) return;
    d = Derived{};
    if (!active) {
        d.valid = false;
        d.ready = true;
        return;
    }
    const Domain& dom = st.domain;
    d.plat = is_missing(dom.plat) ? 0.0 : dom.plat;
    d.plon = is_missing(dom.plon) ? 0.0 : dom.plon;
    d.sin_plat = sind(d.plat);
    d.cos_plat = cosd(d.plat);
    d.hemisphere = d.plat >= 0.0 ? 1 : -1;
    // As for Lambert cones, a southern map's true latitude counts by its size.
    d.polar_tlat = d.hemisphere > 0 ? st.tlat1 : -std::fabs(st.tlat1);
    d.polar_factor = (1.0 + d.hemisphere * sind(d.polar_tlat)) * earth_rad;
    d.sat_angles = dom.param[1] == 1.0f;
    switch (active->code) {
    case 1: d.valid = d.polar_factor > tiny; break;
    case 4: derive_lambert(d); break;
    case MAP_GAUSSIAN: {
        const float n = dom.param[0];
        d.gauss = n >= 1.0f && n <= MAP_MAX_GAUSSIAN_N && n == std::floor(n) ? MAP_gaussian_lats(static_cast<int>(n))
                                                                              : nullptr;
        d.valid = d.gauss != nullptr;
        break;
    }
    case MAP_ROTATED: {
        d.rotation = rotation_of(dom);
        d.valid = d.rotation.valid;
        double rlat = 0.0;
        if (!is_missing(dom.clat) && !is_missing(dom.clon)) rotate(d.rotation, dom.clat, dom.clon, rlat, d.centre_rlon);
        break;
    }
    default: break;
    }
    if (active->kind != Kind::earth && active->kind != Kind::none) derive_diagram(d, active->kind);
    d.ready = true;
}

void select_projection(int code)
{
    active = find_projection(code);
    st.domain.proj = code;
    reset_caches();
}

// Domains such as display sizes carry codes without a transform; say so once when one is used.
int unknown_projection()
{
    if (st.warned_code != st.domain.proj)
        MESS_print(M_warn, "MAP_tran: Projection code %d has no transform\n", st.domain.proj);
    st.warned_code = st.domain.proj;
    return 0;
}

void set_missing(float* a, float* b)
{
    if (a) *a = missing;
    if (b) *b = missing;
}

// Forward transform in double precision; 1 shown, 0 hidden or invalid.
int forward(double in1, double in2, double& x, double& y)
{
    if (!active) return unknown_projection();
    ensure_derived();
    if (active->kind == Kind::none) return identity_forward(in1, in2, x, y);
    if (is_missing(in1) || is_missing(in2) || !std::isfinite(in1) || !std::isfinite(in2)) return 0;
    if (!st.derived.valid) return 0;
    if (active->kind == Kind::earth) {
        if (in1 < -90.0 || in1 > 90.0) return 0;
        in2 = wrap180(wrap180(in2) - st.derived.plon);
    }
    if (!active->forward(in1, in2, x, y)) return 0;
    return std::isfinite(x) && std::isfinite(y) ? 1 : 0;
}

int inverse(double x, double y, double& out1, double& out2)
{
    if (!active) return unknown_projection();
    ensure_derived();
    if (active->kind == Kind::none) return identity_forward(x, y, out1, out2);
    if (is_missing(x) || is_missing(y) || !std::isfinite(x) || !std::isfinite(y)) return 0;
    if (!st.derived.valid) return 0;
    if (!active->inverse(x, y, out1, out2)) return 0;
    if (!std::isfinite(out1) || !std::isfinite(out2)) return 0;
    if (active->kind == Kind::earth) out2 = wrap180(out2);
    return 1;
}

// Angle (degrees) of a plane point about the projection pole, measured like a longitude offset.
double pole_angle(double x, double y)
{
    const Derived& d = st.derived;
    if (std::hypot(x, y) < tiny) return active->code == 1 ? -d.plon : 0.0;
    return std::atan2(x, -d.hemisphere * y) * rad_to_deg;
}

bool rotates_with_pole(int code) { return code == 1 || code == 4; }

// Plane displacement of a 1 km move from (x, y) towards geographic direction dir.
bool plane_step(double dir, double x, double y, double& step_x, double& step_y)
{
    float moved_x, moved_y;
    if (!MAP_offset(static_cast<float>(x), static_cast<float>(y), static_cast<float>(dir), 1.0f, &moved_x, &moved_y))
        return false;
    step_x = moved_x - x;
    step_y = moved_y - y;
    return true;
}

}  // namespace

int MAP_domain(const Domain* dom)
{
    if (!dom) {
        select_projection(no_projection);
        st.limits = unset_limits();
        return -1;
    }
    st.domain = *dom;
    Domain& d = st.domain;
    if (is_missing(d.plat)) d.plat = d.clat;
    if (is_missing(d.plon)) d.plon = d.clon;
    switch (d.proj) {
    case 1:
        st.tlat1 = !is_missing(d.param[0]) ? d.param[0] : (d.plat < 0.0f ? -60.0 : 60.0);
        break;
    case 4:
        if (!is_missing(d.param[0])) {
            st.tlat1 = d.param[0];
            // One true latitude given: a tangent cone.
            st.tlat2 = !is_missing(d.param[1]) ? d.param[1] : d.param[0];
        } else {
            st.tlat1 = 30.0;
            st.tlat2 = 60.0;
        }
        break;
    case 9:
        if (!is_missing(d.param[0]) && d.param[0] <= earth_maj)
            MESS_print(M_warn, "MAP_domain: Satellite distance %g lies inside the earth; using %g\n", d.param[0],
                       default_sat_rad);
        set_satellite_distance(!is_missing(d.param[0]) && d.param[0] > earth_maj ? d.param[0] : default_sat_rad);
        break;
    default: break;
    }
    select_projection(d.proj);
    st.earth_ratio2 = (earth_min / earth_maj) * (earth_min / earth_maj);
    MAP_set_limits();
    return 0;
}

Domain* MAP_get_domain(Domain* dom)
{
    if (!dom) return &st.domain;
    *dom = st.domain;
    return dom;
}

void MAP_print_domain() { DOM_print(M_print, &st.domain); }

int MAP_proj(int proj)
{
    select_projection(proj);
    return 0;
}

int MAP_get_proj() { return st.domain.proj; }

int MAP_coord(float rlat, float rlon)
{
    st.domain.plat = rlat;
    st.domain.plon = rlon;
    reset_caches();
    return 0;
}

int MAP_proj_str(const char* text) { return DOM_proj_str(text); }

float MAP_get_clat() { return st.domain.clat; }

float MAP_get_clon() { return st.domain.clon; }

int MAP_proj_coord(const float* value)
{
    if (!value || st.domain.proj != 4) return -1;
    st.tlat1 = value[0];
    st.tlat2 = value[1];
    reset_caches();
    return 0;
}

int MAP_tran(float lat, float lon, float* x, float* y)
{
    double px, py;
    if (!x || !y || !forward(lat, lon, px, py)) {
        set_missing(x, y);
        return 0;
    }
    *x = static_cast<float>(px);
    *y = static_cast<float>(py);
    return 1;
}

int MAP_untran(float x, float y, float* lat, float* lon)
{
    double out1, out2;
    if (!lat || !lon || !inverse(x, y, out1, out2)) {
        set_missing(lat, lon);
        return 0;
    }
    *lat = static_cast<float>(out1);
    *lon = static_cast<float>(out2);
    return 1;
}

int MAP_tran_d(double lat, double lon, double* x, double* y)
{
    double px, py;
    if (!x || !y || !forward(lat, lon, px, py)) {
        if (x) *x = missing;
        if (y) *y = missing;
        return 0;
    }
    *x = px;
    *y = py;
    return 1;
}

int MAP_untran_d(double x, double y, double* lat, double* lon)
{
    double out1, out2;
    if (!lat || !lon || !inverse(x, y, out1, out2)) {
        if (lat) *lat = missing;
        if (lon) *lon = missing;
        return 0;
    }
    *lat = out1;
    *lon = out2;
    return 1;
}

int MAP_tran_ep(const EarthPoint* ept, Point* pt)
{
    if (!ept || !pt) return 0;
    return MAP_tran(ept->lat, ept->lon, &pt->x, &pt->y);
}

int MAP_tran_pe(const Point* pt, EarthPoint* ept)
{
    if (!pt || !ept) return 0;
    return MAP_untran(pt->x, pt->y, &ept->lat, &ept->lon);
}

int MAP_tran_center(float* x, float* y) { return MAP_tran(st.domain.clat, st.domain.clon, x, y); }

int MAP_set_limits()
{
    st.limits = unset_limits();
    const Domain& dom = st.domain;
    if (!active || active->kind == Kind::none || !has_grid(dom)) return -1;
    ensure_derived();
    double half_x = dom.dx * (dom.nx - 1) / 2.0, half_y = dom.dy * (dom.ny - 1) / 2.0;
    MAP_limits lim;
    if (active->kind == Kind::earth) {
        double cx, cy;
        if (!forward(dom.clat, dom.clon, cx, cy)) return -1;
        lim = {static_cast<float>(cx - half_x), static_cast<float>(cx + half_x), static_cast<float>(cy - half_y),
               static_cast<float>(cy + half_y)};
    } else if (active->kind == Kind::hodograph) {
        lim = {dom.clat, dom.clat + dom.dx, dom.clon, dom.clon + dom.dy};
    } else {
        // The diagram's frame: its corners transformed (the skew-T frame before any skew).
        const Derived& d = st.derived;
        double saved_mult = st.mult;
        st.mult = 0.0;
        double xs[4], ys[4];
        const double in1s[4] = {d.in1_lo, d.in1_hi, d.in1_lo, d.in1_hi};
        const double in2s[4] = {d.in2_lo, d.in2_lo, d.in2_hi, d.in2_hi};
        bool all_shown = true;
        for (int corner = 0; corner < 4; ++corner)
            all_shown = all_shown && forward(in1s[corner], in2s[corner], xs[corner], ys[corner]);
        st.mult = saved_mult;
        if (!all_shown) return -1;
        lim = {static_cast<float>(*std::min_element(xs, xs + 4)), static_cast<float>(*std::max_element(xs, xs + 4)),
               static_cast<float>(*std::min_element(ys, ys + 4)), static_cast<float>(*std::max_element(ys, ys + 4))};
    }
    st.limits = lim;
    return 0;
}

int MAP_get_limits(MAP_limits* lim)
{
    if (!lim) return -1;
    *lim = st.limits;
    return 0;
}

int MAP_set_view(const MAP_limits* vp)
{
    if (!vp) return -1;
    st.view = *vp;
    reset_caches();
    // Diagram frames that scale to the view change with it.
    if (active && active->kind != Kind::earth && active->kind != Kind::none) MAP_set_limits();
    return 0;
}

int MAP_get_up_left(float* x, float* y)
{
    if (x) *x = st.limits.x_min;
    if (y) *y = st.limits.y_max;
    return 0;
}

int MAP_grid_tran(float gx, float gy, float* x, float* y)
{
    const Domain& dom = st.domain;
    if (!x || !y || is_missing(gx) || is_missing(gy) || is_missing(st.limits.x_min) || is_missing(dom.dx) ||
        is_missing(dom.dy)) {
        set_missing(x, y);
        return -1;
    }
    *x = static_cast<float>(st.limits.x_min + static_cast<double>(dom.dx) * gx);
    *y = static_cast<float>(st.limits.y_max - static_cast<double>(dom.dy) * gy);
    return 0;
}

int MAP_grid_untran(float x, float y, float* gx, float* gy)
{
    const Domain& dom = st.domain;
    if (!gx || !gy || is_missing(x) || is_missing(y) || is_missing(st.limits.x_min) || is_missing(dom.dx) ||
        is_missing(dom.dy) || dom.dx == 0.0f || dom.dy == 0.0f) {
        set_missing(gx, gy);
        return -1;
    }
    *gx = static_cast<float>((static_cast<double>(x) - st.limits.x_min) / dom.dx);
    *gy = static_cast<float>((static_cast<double>(st.limits.y_max) - y) / dom.dy);
    return 0;
}

namespace {

// Plane coordinates and limits are single-precision: a grid's own edge points, or an edge point
// taken to the earth and back, can land a few units in the last place outside the limits.
double rounding_allowance(float lo, float hi) { return 8.0 * FLT_EPSILON * std::max(std::fabs(lo), std::fabs(hi)); }

int within_limits(float x, float y, double margin_x, double margin_y)
{
    const MAP_limits& lim = st.limits;
    if (st.domain.proj == no_projection || is_missing(lim.x_min)) return 1;
    if (is_missing(x) || is_missing(y)) return 0;
    margin_x += rounding_allowance(lim.x_min, lim.x_max);
    margin_y += rounding_allowance(lim.y_min, lim.y_max);
    return x >= lim.x_min - margin_x && x <= lim.x_max + margin_x && y >= lim.y_min - margin_y &&
           y <= lim.y_max + margin_y;
}

}  // namespace

int MAP_in_domain(float x, float y) { return within_limits(x, y, 0.0, 0.0); }

int MAP_in_grid_domain(float x, float y)
{
    double margin_x = is_missing(st.domain.dx) ? 0.0 : 3.0 * std::fabs(st.domain.dx);
    double margin_y = is_missing(st.domain.dy) ? 0.0 : 3.0 * std::fabs(st.domain.dy);
    return within_limits(x, y, margin_x, margin_y);
}

int MAP_domain_tran(const Domain* domain1, const Domain* domain2, float x1, float y1, float* x2, float* y2)
{
    if (!domain1 || !domain2 || !x2 || !y2) {
        set_missing(x2, y2);
        return 0;
    }
    if (DOM_comp(domain1, domain2)) {
        *x2 = x1;
        *y2 = y1;
        return 1;
    }
    // Either domain may be the module's own record (MAP_get_domain(nullptr)), which the
    // activations below overwrite: work on copies.
    const Domain from = *domain1;
    const Domain to = *domain2;
    // Save the whole module view of the active domain, not just the record, so that true
    // latitudes set by MAP_proj_coord survive.
    Domain saved_domain = st.domain;
    MAP_limits saved_limits = st.limits;
    double saved_tlat1 = st.tlat1, saved_tlat2 = st.tlat2, saved_sat = st.sat_rad;
    float lat, lon;
    MAP_domain(&from);
    int shown = MAP_untran(x1, y1, &lat, &lon);
    MAP_domain(&to);
    if (shown) shown = MAP_tran(lat, lon, x2, y2);
    if (!shown) set_missing(x2, y2);
    st.domain = saved_domain;
    st.tlat1 = saved_tlat1;
    st.tlat2 = saved_tlat2;
    set_satellite_distance(saved_sat);
    select_projection(saved_domain.proj);
    st.limits = saved_limits;
    return shown;
}

int MAP_offset(float xi, float yi, float dir, float rad, float* xf, float* yf)
{
    float lat, lon;
    if (!xf || !yf || is_missing(dir) || is_missing(rad) || !MAP_untran(xi, yi, &lat, &lon)) {
        set_missing(xf, yf);
        return 0;
    }
    double cos_lat = cosd(lat);
    if (cos_lat < tiny) {  // at a pole every direction is south: no east-west step defined
        set_missing(xf, yf);
        return 0;
    }
    double new_lon = lon + rad * sind(dir) / (degree_km * cos_lat);
    double new_lat = lat + rad * cosd(dir) / degree_km;
    // A move across a pole comes down the far meridian.
    if (new_lat > 90.0) {
        new_lat = 180.0 - new_lat;
        new_lon += 180.0;
    } else if (new_lat < -90.0) {
        new_lat = -180.0 - new_lat;
        new_lon += 180.0;
    }
    return MAP_tran(static_cast<float>(new_lat), static_cast<float>(wrap180(new_lon)), xf, yf);
}

float MAP_dir(float x1, float y1, float x2, float y2)
{
    if (is_missing(x1) || is_missing(y1) || is_missing(x2) || is_missing(y2)) return missing;
    double dir = std::atan2(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1) * rad_to_deg;
    if (st.domain.proj == 1) {
        ensure_derived();
        dir += st.derived.hemisphere * pole_angle(x1, y1);
    }
    return static_cast<float>(wrap360(dir));
}

float MAP_dir_adj(float dir, float x, float y)
{
    if (is_missing(dir) || is_missing(x) || is_missing(y)) return missing;
    if (!active) return dir;
    ensure_derived();
    int code = active->code;
    if (rotates_with_pole(code)) return static_cast<float>(wrap360(dir - st.derived.hemisphere * pole_angle(x, y)));
    if (code == 9 || code == MAP_ROTATED) {
        double step_x, step_y;
        if (!plane_step(dir, x, y, step_x, step_y)) return missing;
        return static_cast<float>(wrap360(std::atan2(step_x, step_y) * rad_to_deg));
    }
    return dir;
}

float MAP_undir_adj(float dir, float x, float y)
{
    if (is_missing(dir) || is_missing(x) || is_missing(y)) return missing;
    if (!active) return dir;
    ensure_derived();
    int code = active->code;
    if (rotates_with_pole(code)) return static_cast<float>(wrap360(dir + st.derived.hemisphere * pole_angle(x, y)));
    if (code == 9 || code == MAP_ROTATED) {
        // Express the plane direction in the local north and east steps and read off its bearing.
        double north_x, north_y, east_x, east_y;
        if (!plane_step(0.0, x, y, north_x, north_y) || !plane_step(90.0, x, y, east_x, east_y)) return missing;
        double vx = sind(dir), vy = cosd(dir);
        double det = east_x * north_y - east_y * north_x;
        if (std::fabs(det) < 1e-20) return missing;
        double east = (vx * north_y - vy * north_x) / det;
        double north = (east_x * vy - east_y * vx) / det;
        return static_cast<float>(wrap360(std::atan2(east, north) * rad_to_deg));
    }
    return dir;
}

float MAP_uvdir_adj(float /*u*/, float /*v*/, float x, float y)
{
    if (st.domain.proj != 1) return 0.0f;
    if (is_missing(x) || is_missing(y)) return missing;
    ensure_derived();
    return static_cast<float>(st.derived.hemisphere * pole_angle(x, y));
}

float MAP_factor(float lat, float /*lon*/)
{
    if (!active || is_missing(lat)) return 1.0f;
    ensure_derived();
    const Derived& d = st.derived;
    if (active->code == 1) {
        // True scale at tlat1; the hemisphere sign keeps the far pole of a map finite.
        double denominator = 1.0 + d.hemisphere * sind(lat);
        if (denominator < tiny) return missing;
        return static_cast<float>((1.0 + d.hemisphere * sind(d.polar_tlat)) / denominator);
    }
    if (active->code == 4 && d.valid) {
        double cos_lat = cosd(lat);
        if (cos_lat < tiny) return missing;
        double rho = d.cone_scale * std::pow(tand(45.0 - d.hemisphere * lat / 2.0), d.cone);
        return static_cast<float>(std::fabs(d.cone * rho / (earth_rad * cos_lat)));
    }
    return 1.0f;
}

bool MAP_is_earth(int proj) { return (proj >= 1 && proj <= 9) || proj == MAP_GAUSSIAN || proj == MAP_ROTATED; }

namespace {

// The roots of P_2n by Newton steps on the colatitude, which keeps full precision near the
// poles where the cosine flattens. The starting guess is close enough that a few steps reach
// the last bit; the southern half mirrors the northern one.
std::vector<double> compute_gaussian_lats(int n)
{
    const int degree = 2 * n;
    std::vector<double> lats(static_cast<std::size_t>(degree));
    for (int k = 0; k < n; ++k) {
        double theta = pi * (k + 0.75) / (degree + 0.5);
        bool last_step = false;
        for (int step_count = 0; step_count < 30; ++step_count) {
            const double x = std::cos(theta);
            double p_prev = 1.0, p = x;
            for (int j = 1; j < degree; ++j) {
                // P_{j+1} = x P_j + j / (j + 1) (x P_j - P_{j-1}): the division stays off the
                // chain of dependent steps.
                const double xp = x * p;
                const double p_next = xp + (static_cast<double>(j) / (j + 1.0)) * (xp - p_prev);
                p_prev = p;
                p = p_next;
            }
            // d/dtheta P(cos theta) = -degree (P_{degree-1} - x P) / sin theta
            const double slope = -degree * (p_prev - x * p) / std::sin(theta);
            const double step = p / slope;
            theta -= step;
            // Newton doubles the correct digits: one step after 1e-9 reaches the last bit.
            if (last_step) break;
            last_step = std::fabs(step) < 1e-9;
        }
        // The exact ratio, not rad_to_deg: these latitudes must hold to the last bit.
        lats[static_cast<std::size_t>(k)] = 90.0 - theta * (180.0 / std::numbers::pi);
        lats[static_cast<std::size_t>(degree - 1 - k)] = -lats[static_cast<std::size_t>(k)];
    }
    return lats;
}

struct GaussianCache {
    int n = 0;
    std::shared_ptr<const std::vector<double>> lats;
};

}  // namespace

std::shared_ptr<const std::vector<double>> MAP_gaussian_lats(int n)
{
    if (n < 1 || n > MAP_MAX_GAUSSIAN_N) return nullptr;
    // A few recent grids: switching between two domains must not recompute the roots.
    static GaussianCache cache[4];
    static int next_slot = 0;
    for (const GaussianCache& entry : cache)
        if (entry.n == n) return entry.lats;
    GaussianCache& slot = cache[next_slot];
    next_slot = (next_slot + 1) % 4;
    slot.lats = std::make_shared<const std::vector<double>>(compute_gaussian_lats(n));
    slot.n = n;
    return slot.lats;
}

int MAP_gaussian_row(int n, double lat)
{
    const auto lats = MAP_gaussian_lats(n);
    if (!lats || !std::isfinite(lat)) return -1;
    const std::vector<double>& g = *lats;
    const int below = static_cast<int>(std::upper_bound(g.begin(), g.end(), lat, std::greater<double>()) - g.begin());
    int best = -1;
    double best_gap = 0.0;
    for (int k : {below - 1, below}) {
        if (k < 0 || k >= static_cast<int>(g.size())) continue;
        const double gap = std::fabs(g[static_cast<std::size_t>(k)] - lat);
        if (best < 0 || gap < best_gap) {
            best = k;
            best_gap = gap;
        }
    }
    return best >= 0 && best_gap <= 0.1 * (180.0 / g.size()) ? best : -1;
}

void MAP_rotate(const Domain* dom, double lat, double lon, double* rlat, double* rlon)
{
    if (!dom || !rlat || !rlon) return;
    rotate(rotation_of(*dom), lat, lon, *rlat, *rlon);
}

void MAP_unrotate(const Domain* dom, double rlat, double rlon, double* lat, double* lon)
{
    if (!dom || !lat || !lon) return;
    unrotate(rotation_of(*dom), rlat, rlon, *lat, *lon);
}

int MAP_periodic_columns(const Domain* dom)
{
    if (!dom || (dom->proj != 2 && dom->proj != MAP_GAUSSIAN && dom->proj != MAP_ROTATED) || dom->nx < 2 ||
        is_missing(dom->dx) || !(dom->dx > 0.0f))
        return 0;
    const double turn = static_cast<double>(dom->dx) * dom->nx;
    return std::fabs(turn - 360.0) <= 0.01 * dom->dx ? dom->nx : 0;
}

void MAP_set_plot_limit(int val) { st.grid_limit = val; }

int MAP_plot_grid_init()
{
    const Domain& dom = st.domain;
    st.grid.clear();
    st.plot_grid_len = 0;
    if (dom.nx < 1 || dom.ny < 1) return -1;
    const long long sub = st.grid_limit > 1 ? st.grid_limit : 1;
    // Sizes come from domain strings and callers: count in 64 bits and refuse a grid that
    // would overflow the cell index or exhaust memory instead of wrapping around.
    const long long cols = dom.nx * sub, rows = dom.ny * sub;
    if (cols > max_plot_cells || rows > max_plot_cells || cols * rows > max_plot_cells) {
        MESS_print(M_error, "MAP_plot_grid_init: Plot grid of %lld x %lld cells is too large\n", cols, rows);
        return -1;
    }
    try {
        st.grid.assign(static_cast<std::size_t>(cols * rows), 0);
    } catch (const std::bad_alloc&) {
        MESS_print(M_error, "MAP_plot_grid_init: Out of memory for %lld x %lld cells\n", cols, rows);
        st.grid.clear();
        return -1;
    }
    st.grid_sub = static_cast<int>(sub);
    st.grid_cols = static_cast<int>(cols);
    st.grid_rows = static_cast<int>(rows);
    st.plot_grid_len = static_cast<int>(cols * rows);
    return 0;
}

int MAP_plot_grid(float x, float y)
{
    if (st.grid.empty()) return 1;
    float gx, gy;
    if (MAP_grid_untran(x, y, &gx, &gy) < 0 || !std::isfinite(gx) || !std::isfinite(gy)) return 0;
    int sub = st.grid_sub;
    // Cells are centred on grid points; each is split into sub x sub plot cells.
    double col = std::floor((gx + 0.5) * sub), row = std::floor((gy + 0.5) * sub);
    if (col < 0 || row < 0 || col >= st.grid_cols || row >= st.grid_rows) return 0;
    unsigned char& cell = st.grid[static_cast<std::size_t>(row) * st.grid_cols + static_cast<std::size_t>(col)];
    if (cell) return 0;
    cell = 1;
    return 1;
}
