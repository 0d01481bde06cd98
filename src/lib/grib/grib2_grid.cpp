// GRIB edition 2 grid definition section: latitude/longitude, rotated latitude/longitude and
// Gaussian grids (regular or with thinned rows), Mercator, polar stereographic, Lambert
// conformal and space-view grids into a Domain. Spherical-harmonic fields are named and refused.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grib2_internal.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

constexpr std::uint32_t kAllOnes = 0xffffffffu;

// Plane units are hundreds of kilometres; grid lengths come in millimetres.
constexpr double kMmPerPlaneUnit = 1e8;

// fmod, not a loop of 360-degree steps: a damaged angle unit can make a longitude so large
// that subtracting 360 no longer changes it.
double wrap180(double lon) {
    lon = std::fmod(lon, 360.0);
    if (lon > 180) lon -= 360;
    if (lon <= -180) lon += 360;
    return lon;
}

// Runs MAP_tran / MAP_untran on dom without disturbing the active domain of the caller.
class ActiveDomain {
public:
    explicit ActiveDomain(const Domain& dom) {
        MAP_get_domain(&saved_);
        MAP_domain(&dom);
    }
    ~ActiveDomain() { MAP_domain(&saved_); }
    ActiveDomain(const ActiveDomain&) = delete;
    ActiveDomain& operator=(const ActiveDomain&) = delete;

private:
    Domain saved_{};
};

// Centre of a projected grid from its first point and spacing (plane units).
bool projected_centre(Domain* dv, double lat1, double lon1, int scan) {
    ActiveDomain active(*dv);
    float x = 0, y = 0;
    if (!MAP_tran(float(lat1), float(lon1), &x, &y)) return false;
    const double xs = (scan & 0x80) ? -1.0 : 1.0;
    const double ys = (scan & 0x40) ? 1.0 : -1.0;
    const double xc = x + xs * (dv->nx - 1) / 2.0 * dv->dx;
    const double yc = y + ys * (dv->ny - 1) / 2.0 * dv->dy;
    float clat = 0, clon = 0;
    if (!MAP_untran(float(xc), float(yc), &clat, &clon)) return false;
    dv->clat = clat;
    dv->clon = clon;
    return true;
}

// Degrees of a latitude or longitude of template 3.0 in its angle unit.
struct AngleUnit {
    double scale = 1e-6;
    double operator()(std::int64_t v) const { return double(v) * scale; }
};

}  // namespace

int g2_gaussian_domain(int n, double lat1, double lat2, std::uint64_t ny, Domain* dv) {
    const auto lats = MAP_gaussian_lats(n);
    if (!lats) {
        MESS_print(M_error, "GRIB_GDS: Gaussian grid of N = %d is not supported\n", n);
        return -1;
    }
    const int k1 = MAP_gaussian_row(n, lat1), k2 = MAP_gaussian_row(n, lat2);
    if (k1 < 0 || k2 < 0) {
        MESS_print(M_error, "GRIB_GDS: latitudes %g and %g are not both Gaussian latitudes of N = %d\n", lat1, lat2,
                   n);
        return -1;
    }
    const int first = std::min(k1, k2), last = std::max(k1, k2);
    if (std::uint64_t(last - first + 1) != ny) {
        MESS_print(M_error, "GRIB_GDS: %llu rows between Gaussian latitudes %g and %g of N = %d\n",
                   (unsigned long long)ny, lat1, lat2, n);
        return -1;
    }
    const std::vector<double>& g = *lats;
    // The centre lies half way between the outer rows in the row coordinate: on a row, or
    // half way between two.
    const int mid = (first + last) / 2;
    dv->clat = float((first + last) % 2 == 0 ? g[std::size_t(mid)] : (g[std::size_t(mid)] + g[std::size_t(mid) + 1]) / 2);
    dv->proj = MAP_GAUSSIAN;
    dv->param[0] = float(n);
    dv->dy = float(90.0 / n);
    return 0;
}

namespace {

int lat_lon_grid(int tmpl, const unsigned char* s, std::size_t slen, G2State& st, std::uint64_t* nx_out,
                 std::uint64_t* ny_out, double* first_lat, double* first_lon, double* dlon) {
    G2Grid& g = st.grid;
    // Template 3.1 carries the rotation after the octets it shares with 3.0; the row list of a
    // thinned grid follows.
    const std::size_t list_at = tmpl == 1 ? 84 : 72;
    if (slen < list_at) return -1;
    std::uint64_t nx = g2_u32(s + 30), ny = g2_u32(s + 34);
    AngleUnit unit;
    const std::uint32_t basic = g2_u32(s + 38), subdiv = g2_u32(s + 42);
    if (basic != 0 && basic != kAllOnes) {
        if (subdiv == 0 || subdiv == kAllOnes) {
            MESS_print(M_error, "GRIB_GDS: basic angle %u without subdivisions\n", basic);
            return -1;
        }
        unit.scale = double(basic) / double(subdiv);
    }
    const double lat1 = unit(g2_s32(s + 46)), lon1 = unit(g2_s32(s + 50));
    const double lat2 = unit(g2_s32(s + 55)), lon2 = unit(g2_s32(s + 59));
    // Corners off the globe mean a damaged angle unit or corner: nothing could be placed.
    constexpr double kLatLimit = 90.001, kLonLimit = 1080;
    if (std::fabs(lat1) > kLatLimit || std::fabs(lat2) > kLatLimit || std::fabs(lon1) > kLonLimit ||
        std::fabs(lon2) > kLonLimit) {
        MESS_print(M_error, "GRIB_GDS: grid corners %g %g, %g %g lie off the globe\n", lat1, lon1, lat2, lon2);
        return -1;
    }
    g.scan = s[71];
    g.rows.clear();
    if (ny == kAllOnes) {
        MESS_print(M_error, "GRIB_GDS: grids thinned along the columns are not supported\n");
        return -1;
    }
    if (nx == kAllOnes) {
        // Thinned rows: the point counts follow the template.
        const int width = s[10];
        if ((width != 1 && width != 2 && width != 4) || ny == 0 || ny > G2_MAX_POINTS ||
            list_at + ny * std::uint64_t(width) > slen) {
            MESS_print(M_error, "GRIB_GDS: thinned grid without a usable row list\n");
            return -1;
        }
        MESS_print(M_debug, "Thinning grid\n");
        g.rows.resize(std::size_t(ny));
        std::uint64_t total = 0, longest = 0;
        for (std::size_t r = 0; r < ny; ++r) {
            const unsigned char* p = s + list_at + r * std::size_t(width);
            const std::uint64_t n = width == 1 ? p[0] : width == 2 ? g2_u16(p) : g2_u32(p);
            if (n > G2_MAX_POINTS) return -1;
            g.rows[r] = int(n);
            total += n;
            longest = std::max(longest, n);
        }
        nx = longest;
        g.npts = std::size_t(std::min<std::uint64_t>(total, G2_MAX_POINTS + 1));
    }
    // Longitudes measured along the scan direction from the first point to the last.
    double span = (g.scan & 0x80) ? lon1 - lon2 : lon2 - lon1;
    if (span < 0 || span > 360) {
        span = std::fmod(span, 360.0);
        if (span < 0) span += 360;
    }
    const double west = (g.scan & 0x80) ? lon2 : lon1;
    Domain& dv = g.dv;
    dv.proj = 2;
    dv.plat = 0;
    dv.dx = float(nx > 1 ? span / double(nx - 1) : unit(g2_u32(s + 63)));
    dv.dy = float(ny > 1 ? std::fabs(lat2 - lat1) / double(ny - 1) : unit(g2_u32(s + 67)));
    dv.clon = float(wrap180(west + span / 2));
    dv.clat = float((lat1 + lat2) / 2);
    dv.plon = dv.clon;
    // Thinned rows around the whole earth (the last point one step short of 360 degrees from
    // the first) wrap: each row is expanded periodically.
    g.periodic_rows = !g.rows.empty() && nx > 1 && std::fabs(span * double(nx) / double(nx - 1) - 360.0) < 1e-3;
    if (tmpl == 40) {
        MESS_print(M_debug, "Gaussian Grid\n");
        const std::uint32_t n = g2_u32(s + 67);
        if (n > std::uint32_t(MAP_MAX_GAUSSIAN_N) ||
            g2_gaussian_domain(int(n), lat1, lat2, ny, &dv) < 0)
            return -1;
    } else if (tmpl == 1) {
        MESS_print(M_debug, "Rotated Lat-lon Grid\n");
        // The corners and spacing are rotated coordinates; the centre is geographic.
        const double south_lat = unit(g2_s32(s + 72)), south_lon = unit(g2_s32(s + 76));
        const double angle = g2_ieee(s + 80);
        if (std::fabs(south_lat) > kLatLimit || std::fabs(south_lon) > kLonLimit || !std::isfinite(angle) ||
            std::fabs(angle) > kLonLimit) {
            MESS_print(M_error, "GRIB_GDS: rotation pole %g %g, angle %g lie off the globe\n", south_lat, south_lon,
                       angle);
            return -1;
        }
        dv.proj = MAP_ROTATED;
        dv.param[0] = float(south_lat);
        dv.param[1] = float(wrap180(south_lon));
        dv.param[2] = float(angle);
        dv.plat = dv.plon = 0;
        double clat = 0, clon = 0;
        MAP_unrotate(&dv, (lat1 + lat2) / 2, west + span / 2, &clat, &clon);
        dv.clat = float(clat);
        dv.clon = float(clon);
    }
    MESS_print(M_debug, "Lat-lon Grid\n");
    *nx_out = nx;
    *ny_out = ny;
    *first_lat = lat1;
    *first_lon = wrap180(lon1);
    *dlon = dv.dx;
    return 0;
}

int projected_grid(int tmpl, const unsigned char* s, std::size_t slen, G2State& st,
                   std::uint64_t* nx_out, std::uint64_t* ny_out, double* first_lat,
                   double* first_lon) {
    G2Grid& g = st.grid;
    const std::size_t need = tmpl == 10 ? 72 : tmpl == 20 ? 65 : 81;
    if (slen < need) return -1;
    const std::uint64_t nx = g2_u32(s + 30), ny = g2_u32(s + 34);
    const double lat1 = double(g2_s32(s + 38)) * 1e-6, lon1 = wrap180(double(g2_s32(s + 42)) * 1e-6);
    Domain& dv = g.dv;
    dv.nx = int(std::min<std::uint64_t>(nx, G2_MAX_POINTS));
    dv.ny = int(std::min<std::uint64_t>(ny, G2_MAX_POINTS));
    *nx_out = nx;
    *ny_out = ny;
    *first_lat = lat1;
    *first_lon = lon1;
    g.rows.clear();
    if (tmpl == 10) {
        MESS_print(M_debug, "Mercator Grid\n");
        const double lat2 = double(g2_s32(s + 51)) * 1e-6, lon2 = wrap180(double(g2_s32(s + 55)) * 1e-6);
        g.scan = s[59];
        // Columns scanned east to west start at the eastern edge.
        const double west = (g.scan & 0x80) ? lon2 : lon1, east = (g.scan & 0x80) ? lon1 : lon2;
        double mid = west <= east ? (west + east) / 2 : (west + east + 360) / 2;
        if (mid > 180) mid -= 360;
        dv.proj = 3;
        dv.plat = 0;
        dv.plon = float(mid);
        ActiveDomain active(dv);
        float x1, y1, x2, y2;
        if (!MAP_tran(float(lat1), float(lon1), &x1, &y1) || !MAP_tran(float(lat2), float(lon2), &x2, &y2))
            return -1;
        dv.dx = float(nx > 1 ? std::fabs(x2 - x1) / double(nx - 1) : 0.0);
        dv.dy = float(ny > 1 ? std::fabs(y2 - y1) / double(ny - 1) : 0.0);
        float clat, clon;
        if (!MAP_untran((x1 + x2) / 2, (y1 + y2) / 2, &clat, &clon)) return -1;
        dv.clat = clat;
        dv.clon = clon;
        return 0;
    }
    const double lad = double(g2_s32(s + 47)) * 1e-6;
    const double lov = wrap180(double(g2_s32(s + 51)) * 1e-6);
    const bool south = (s[63] & 0x80) != 0;
    g.scan = s[64];
    dv.plon = float(lov);
    dv.plat = south ? -90.f : 90.f;
    dv.dx = float(g2_u32(s + 55) / kMmPerPlaneUnit);
    dv.dy = float(g2_u32(s + 59) / kMmPerPlaneUnit);
    if (tmpl == 20) {
        MESS_print(M_debug, "Polar Stereographic Grid\n");
        dv.proj = 1;
        // The grid lengths are true at LaD: that is the projection's standard parallel.
        const bool lad_usable = std::fabs(lad) > 0 && std::fabs(lad) <= 90 && (lad < 0) == south;
        dv.param[0] = float(lad_usable ? lad : south ? -60.0 : 60.0);
    } else {
        MESS_print(M_debug, "Lambert Conformal Grid\n");
        dv.proj = 4;
        dv.param[0] = float(double(g2_s32(s + 65)) * 1e-6);
        dv.param[1] = float(double(g2_s32(s + 69)) * 1e-6);
        dv.param[2] = 1;
        MESS_print(M_debug, "Grid parallels: %3.2f N, %3.2f N\n", dv.param[0], dv.param[1]);
    }
    MESS_print(M_debug, "Grid start: %3.2f N, %3.2f E\n", lat1, lon1);
    if (!projected_centre(&dv, lat1, lon1, g.scan)) {
        MESS_print(M_error, "GRIB_GDS: first grid point cannot be projected\n");
        return -1;
    }
    return 0;
}

// Template 3.90: the satellite view. The grid counts scan angles from the sub-satellite point
// (Xp, Yp, thousandths of a grid length from the sector's origin Xo, Yo); the earth's disc is
// dx by dy grid lengths across, seen from Nr earth radii.
int space_view_grid(const unsigned char* s, std::size_t slen, G2State& st, std::uint64_t* nx_out,
                    std::uint64_t* ny_out, double* first_lat, double* first_lon) {
    G2Grid& g = st.grid;
    if (slen < 80) return -1;
    const std::uint64_t nx = g2_u32(s + 30), ny = g2_u32(s + 34);
    const double lap = double(g2_s32(s + 38)) * 1e-6, lop = double(g2_s32(s + 42)) * 1e-6;
    const double disc_x = g2_u32(s + 47), disc_y = g2_u32(s + 51);
    const double xp = g2_u32(s + 55) / 1000.0, yp = g2_u32(s + 59) / 1000.0;
    g.scan = s[63];
    const double orientation = double(g2_s32(s + 64)) * 1e-3;
    const double nr = g2_u32(s + 68) / 1e6;
    const double xo = g2_u32(s + 72), yo = g2_u32(s + 76);
    g.rows.clear();
    MESS_print(M_debug, "Space View Grid\n");
    if (disc_x < 1 || disc_y < 1 || !(nr > 1.0) || nr > 1000.0 || std::fabs(lap) > 1e-3 || std::fabs(lop) > 360.0) {
        MESS_print(M_error, "GRIB_GDS: space view of a %g x %g disc from %g radii over %g %g\n", disc_x, disc_y, nr,
                   lap, lop);
        return -1;
    }
    if (orientation != 0.0 || (g.scan & 0x20)) {
        MESS_print(M_error, "GRIB_GDS: space view turned by %g degrees or scanned by columns is not supported\n",
                   orientation);
        return -1;
    }
    // Earth shapes 2, 4, 5, 8 and 9 and the custom ellipsoids are oblate; 0 and 6 are spheres.
    const int shape = s[14];
    Domain& dv = g.dv;
    dv.proj = 9;
    dv.ellipse = shape == 0 || shape == 6 ? 0 : 1;
    dv.plat = 0;
    dv.plon = float(wrap180(lop));
    const double radius = dv.ellipse ? 63.781368 : 63.7122;
    const double distance = nr * radius;
    dv.param[0] = float(distance);
    dv.param[1] = 1;  // plane in scan angles
    const double disc_angle = 2.0 * std::asin(1.0 / nr);
    const double rx = disc_angle / disc_x, ry = disc_angle / disc_y;
    dv.dx = float(rx * distance);
    dv.dy = float(ry * distance);
    dv.nx = int(std::min<std::uint64_t>(nx, G2_MAX_POINTS));
    dv.ny = int(std::min<std::uint64_t>(ny, G2_MAX_POINTS));
    *nx_out = nx;
    *ny_out = ny;
    // Columns run east (westward when scanned backwards), rows south unless scanned north.
    const double xs = (g.scan & 0x80) ? -1.0 : 1.0, ys = (g.scan & 0x40) ? -1.0 : 1.0;
    const double cx = xs * ((double(nx) - 1) / 2 + xo - xp) * rx * distance;
    const double cy = ys * (yp - ((double(ny) - 1) / 2 + yo)) * ry * distance;
    Domain probe = dv;
    probe.clat = 0;
    probe.clon = dv.plon;
    ActiveDomain active(probe);
    float clat = 0, clon = 0, lat1 = 0, lon1 = 0;
    if (!MAP_untran(float(cx), float(cy), &clat, &clon)) {
        MESS_print(M_error, "GRIB_GDS: the centre of the space view misses the earth\n");
        return -1;
    }
    dv.clat = clat;
    dv.clon = clon;
    MAP_untran(float(xs * (xo - xp) * rx * distance), float(ys * (yp - yo) * ry * distance), &lat1, &lon1);
    *first_lat = lat1 == -9999.0f ? 0.0 : lat1;
    *first_lon = lon1 == -9999.0f ? 0.0 : lon1;
    return 0;
}

}  // namespace

int grib2_section3(const unsigned char* s, std::size_t slen, G2State& st) {
    G2Grid& g = st.grid;
    g = G2Grid{};
    if (slen < 14) {
        MESS_print(M_error, "GRIB_GDS: section of %zu octets\n", slen);
        return -1;
    }
    const int tmpl = int(g2_u16(s + 12));
    MESS_print(M_debug, "GDS: %d\n", tmpl);
    DOM_init(&g.dv);
    std::uint64_t nx = 0, ny = 0;
    double lat1 = 0, lon1 = 0, dlon = 0;
    int rc;
    switch (tmpl) {
    case 0:
    case 1:
    case 40: rc = lat_lon_grid(tmpl, s, slen, st, &nx, &ny, &lat1, &lon1, &dlon); break;
    case 10:
    case 20:
    case 30: rc = projected_grid(tmpl, s, slen, st, &nx, &ny, &lat1, &lon1); break;
    case 90: rc = space_view_grid(s, slen, st, &nx, &ny, &lat1, &lon1); break;
    case 50:
    case 51:
    case 52:
    case 53:
        MESS_print(M_error, "GRIB_GDS: spectral coefficients, not a grid (template 3.%d)\n", tmpl);
        return -1;
    default:
        MESS_print(M_error, "GRIB_GDS: grid template %d is not supported\n", tmpl);
        return -1;
    }
    if (rc < 0) {
        MESS_print(M_error, "GRIB_GDS: damaged grid template %d (%zu octets)\n", tmpl, slen);
        return -1;
    }
    if (nx == 0 || ny == 0 || nx > G2_MAX_POINTS || ny > G2_MAX_POINTS || nx * ny > G2_MAX_POINTS) {
        MESS_print(M_error, "GRIB_GDS: grid of %llu x %llu points\n", (unsigned long long)nx,
                   (unsigned long long)ny);
        return -1;
    }
    if (g.rows.empty()) g.npts = std::size_t(nx * ny);
    if (g.npts > G2_MAX_POINTS) return -1;
    const std::uint32_t declared = g2_u32(s + 6);
    if (declared != g.npts)
        MESS_print(M_warn, "GRIB_GDS: grid of %zu points declares %u\n", g.npts, declared);
    g.nx = int(nx);
    g.ny = int(ny);
    g.dv.nx = g.nx;
    g.dv.ny = g.ny;
    MESS_print(M_debug, "Number of gridpoints: %dx%d\n", g.nx, g.ny);
    MESS_print(M_debug, "Gridpoint direction: %x : %s\n", g.scan,
               (g.scan & 0x40) ? "south to north" : "north to south");
    MESS_print(M_debug, "Grid size: %3.2fx%3.2f\n", g.dv.dx, g.dv.dy);
    MESS_print(M_debug, "Grid locate: %3.2f N, %3.2f E\n", g.dv.clat, g.dv.clon);

    // Grid number made from the template, the first point, the width and the spacing.
    const std::int64_t lat_mag = std::llabs(std::llround(lat1 * 1e6)) / 10000000;
    const std::int64_t lon_mag = std::llabs(std::llround(lon1 * 1e6)) / 10000000;
    const std::int64_t t2 = lat_mag + (lat1 < 0 ? 36 : 0);
    const std::int64_t t3 = lon1 < 0 ? 36 - lon_mag : lon_mag;
    const std::int64_t t5 = tmpl == 0 ? std::llround(dlon * 10) : std::int64_t(slen >= 59 ? g2_u32(s + 55) / 1000000 : 0);
    const std::int64_t type = std::int64_t(tmpl) * 10000000 + t2 * 1000000 + t3 * 10000 +
                              std::int64_t(nx / 10) * 100 + t5;
    g.type = int(std::uint32_t(type) & 0x7fffffff);
    g.valid = true;
    return 0;
}
