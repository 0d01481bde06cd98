// GRIB editions 0 and 1: locating the sections of a message held in memory, the grid section
// (latitude/longitude, Mercator, Lambert conformal, polar stereographic, thinned rows), the bit
// map and the simple-packed data section with its special layouts (pole rows, grid 50, grids
// 25/26) and the jump test for transmission noise.
#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "grib1_internal.hpp"
#include "grib2_internal.hpp"
#include "maptran.hpp"
#include "mess.hpp"
#include "region.hpp"

namespace {

// A grid larger than this must be vouched for by the bits its message carries: a constant
// field (no data bits) or thinned rows stretched far beyond their points could otherwise make
// a tiny hostile message ask for gigabytes.
constexpr std::int64_t kMaxPoints = std::int64_t(1) << 25;  // a 0.05-degree global grid fits

// Jump test state (GRIB_set_max_bad); bad starts at -9 until the first data section.
// The test's state is per thread (like the rest of the decoding state); the limit is a setting.
thread_local int g_bad = -9;
std::atomic<int> g_bad_max{-1};

unsigned u16(const unsigned char* p) { return (unsigned(p[0]) << 8) | p[1]; }
unsigned u24(const unsigned char* p) { return (unsigned(p[0]) << 16) | (unsigned(p[1]) << 8) | p[2]; }
// 24-bit sign-and-magnitude millidegrees to degrees.
float deg24(const unsigned char* p) {
    const int v = int(u24(p) & 0x7fffff);
    return float((p[0] & 0x80) ? -v : v) / 1000.0f;
}
float wrap180(float lon) {
    while (lon > 180.0f) lon -= 360.0f;
    while (lon < -180.0f) lon += 360.0f;
    return lon;
}

// Projects through a temporary active domain and restores the caller's one.
class ActiveDomain {
public:
    explicit ActiveDomain(const Domain& d) {
        MAP_get_domain(&saved_);
        MAP_domain(&d);
    }
    ~ActiveDomain() { MAP_domain(&saved_); }
    ActiveDomain(const ActiveDomain&) = delete;
    ActiveDomain& operator=(const ActiveDomain&) = delete;

private:
    Domain saved_;
};

// Centre of a projected grid: the first point moved half the grid extent along x and y.
int projected_centre(Domain* dom, float la1, float lo1, int xsign, int ydir) {
    Domain tmp = *dom;
    tmp.clat = la1;
    tmp.clon = lo1;
    ActiveDomain active(tmp);
    float x0, y0;
    if (!MAP_tran(la1, lo1, &x0, &y0)) return -1;
    const float cx = x0 + xsign * dom->dx * (dom->nx - 1) / 2.0f;
    const float cy = y0 + ydir * dom->dy * (dom->ny - 1) / 2.0f;
    float clat, clon;
    if (!MAP_untran(cx, cy, &clat, &clon)) return -1;
    dom->clat = clat;
    dom->clon = clon;
    return 0;
}

// GRIB edition 1 floating point (IBM single precision) of the rotation angle.
double ibm_float(const unsigned char* p) {
    const int sign = (p[0] & 0x80) ? -1 : 1;
    const int exponent = (p[0] & 0x7f) - 64;
    const unsigned mantissa = u24(p + 1);
    return sign * std::ldexp(double(mantissa), 4 * exponent - 24);
}

int latlon_grid(const unsigned char* g, std::size_t len, int rep, Grib1Context& c, Domain* dom, bool thinned) {
    const float la1 = deg24(g + 10), lo1 = deg24(g + 13), la2 = deg24(g + 17), lo2 = deg24(g + 20);
    const int res = g[16];
    const unsigned di = u16(g + 23), dj = u16(g + 25);
    MESS_print(M_debug, "Lat-Lon Grid\n");
    MESS_print(M_debug, "Res/comp flag: %X\n", res);
    const int xsign = c.xneg ? -1 : 1;
    float span = xsign * (lo2 - lo1);
    if (span < 0) span += 360.0f;
    float dx, dy;
    // The increment is rounded to millidegrees (2.8125 is sent as 2.812): when the corners
    // agree with it, their spacing is the exact one.
    const float corner_dx = dom->nx > 1 ? span / float(dom->nx - 1) : 0.0f;
    if ((res & 0x80) && di != 0xffff && !thinned && std::fabs(corner_dx - di / 1000.0f) > 0.0011f)
        dx = di / 1000.0f;
    else
        dx = corner_dx;
    if ((res & 0x80) && dj != 0xffff)
        dy = dj / 1000.0f;
    else
        dy = dom->ny > 1 ? std::fabs(la2 - la1) / float(dom->ny - 1) : 0.0f;
    if (dx > 30.0f && c.grid_id >= 37 && c.grid_id <= 44) dx = 1.25f;
    dom->proj = 2;
    dom->dx = dx;
    dom->dy = dy;
    dom->clon = wrap180(lo1 + xsign * dx * (dom->nx - 1) / 2.0f);
    dom->clat = la1 + c.ydir * dy * (dom->ny - 1) / 2.0f;
    // Thinned rows around the whole earth (the last point one step short of 360 degrees on
    // from the first) each wrap.
    c.thin_periodic = thinned && dom->nx > 1 && std::fabs(double(span) * dom->nx / (dom->nx - 1) - 360.0) < 0.01;
    if (rep == 4) {
        MESS_print(M_debug, "Gaussian Grid\n");
        if (g2_gaussian_domain(int(dj), la1, la2, std::uint64_t(dom->ny), dom) < 0) return 0;
    } else if (rep == 10) {
        MESS_print(M_debug, "Rotated Lat-Lon Grid\n");
        if (len < 42) return 0;
        const double angle = ibm_float(g + 38);
        if (!std::isfinite(angle) || std::fabs(angle) > 1080) return 0;
        dom->proj = MAP_ROTATED;
        dom->param[0] = deg24(g + 32);
        dom->param[1] = wrap180(deg24(g + 35));
        dom->param[2] = float(angle);
        dom->plat = dom->plon = 0;
        // The corners are rotated coordinates; the centre is geographic.
        double clat = 0, clon = 0;
        MAP_unrotate(dom, dom->clat, dom->clon, &clat, &clon);
        dom->clat = float(clat);
        dom->clon = float(clon);
    }
    return 1;
}

// Type 90: the satellite view. Scan angles count from the sub-satellite point (Xp, Yp grid
// lengths from the sector's origin Xo, Yo); the earth's disc is dx by dy grid lengths across,
// seen from Nr earth radii.
int space_view_grid(const unsigned char* g, std::size_t len, Grib1Context& c, Domain* dom) {
    if (len < 38) return 0;
    MESS_print(M_debug, "Space View Grid\n");
    const float lap = deg24(g + 10), lop = deg24(g + 13);
    const double disc_x = u24(g + 17), disc_y = u24(g + 20);
    const double xp = u16(g + 23), yp = u16(g + 25);
    const double orientation = deg24(g + 28);
    const double nr = u24(g + 31) / 1e6;
    const double xo = u16(g + 34), yo = u16(g + 36);
    if (disc_x < 1 || disc_y < 1 || !(nr > 1.0) || std::fabs(lap) > 1e-3f || orientation != 0 || c.jconsec) {
        MESS_print(M_error, "GRIB_GDB: space view of a %g x %g disc from %g radii, turned %g, is not supported\n",
                   disc_x, disc_y, nr, orientation);
        return 0;
    }
    dom->proj = 9;
    dom->ellipse = (g[16] & 0x40) ? 1 : 0;  // oblate spheroid flag
    dom->plat = 0;
    dom->plon = wrap180(lop);
    const double distance = nr * (dom->ellipse ? 63.781368 : 63.7122);
    dom->param[0] = float(distance);
    dom->param[1] = 1;  // plane in scan angles
    const double disc_angle = 2.0 * std::asin(1.0 / nr);
    const double rx = disc_angle / disc_x, ry = disc_angle / disc_y;
    dom->dx = float(rx * distance);
    dom->dy = float(ry * distance);
    const double xs = c.xneg ? -1.0 : 1.0, ys = c.ydir > 0 ? -1.0 : 1.0;
    const double cx = xs * ((dom->nx - 1) / 2.0 + xo - xp) * rx * distance;
    const double cy = ys * (yp - ((dom->ny - 1) / 2.0 + yo)) * ry * distance;
    Domain probe = *dom;
    probe.clat = 0;
    probe.clon = dom->plon;
    ActiveDomain active(probe);
    float clat, clon;
    if (!MAP_untran(float(cx), float(cy), &clat, &clon)) {
        MESS_print(M_error, "GRIB_GDB: the centre of the space view misses the earth\n");
        return 0;
    }
    dom->clat = clat;
    dom->clon = clon;
    return 1;
}

int mercator_grid(const unsigned char* g, Grib1Context& c, Domain* dom) {
    const float la1 = deg24(g + 10), lo1 = deg24(g + 13), la2 = deg24(g + 17);
    float lo2 = deg24(g + 20);
    MESS_print(M_debug, "Mercator Grid\n");
    float west = c.xneg ? lo2 : lo1, east = c.xneg ? lo1 : lo2;
    if (west > east) east += 360.0f;
    float plon = (west + east) / 2.0f;
    while (plon <= -180.0f) plon += 360.0f;
    dom->proj = 3;
    dom->plat = 0;
    dom->plon = wrap180(plon);
    Domain tmp = *dom;
    tmp.clat = 0;
    tmp.clon = dom->plon;
    ActiveDomain active(tmp);
    float x1, y1, x2, y2;
    if (!MAP_tran(la1, lo1, &x1, &y1) || !MAP_tran(la2, lo2, &x2, &y2)) return 0;
    float xspan = std::fabs(x2 - x1);
    if (dom->nx < 2 || dom->ny < 2) return 0;
    dom->dx = xspan / float(dom->nx - 1);
    dom->dy = std::fabs(y2 - y1) / float(dom->ny - 1);
    float clat, clon;
    if (!MAP_untran(0.0f, (y1 + y2) / 2.0f, &clat, &clon)) return 0;
    dom->clat = clat;
    dom->clon = dom->plon;
    return 1;
}

int conic_grid(const unsigned char* g, std::size_t len, int rep, Grib1Context& c, Domain* dom) {
    const float la1 = deg24(g + 10), lo1 = deg24(g + 13);
    float lov = deg24(g + 17);
    if (lov > 180.0f) lov -= 360.0f;
    const bool south = g[26] & 0x80;
    dom->plon = lov;
    dom->plat = south ? -90.0f : 90.0f;
    dom->dx = u24(g + 20) / 100000.0f;
    dom->dy = u24(g + 23) / 100000.0f;
    if (rep == 3) {
        if (len < 34) return 0;
        MESS_print(M_debug, "Lambert Conformal Grid\n");
        dom->proj = 4;
        dom->param[0] = deg24(g + 28);
        dom->param[1] = deg24(g + 31);
        dom->param[2] = 1;
        MESS_print(M_debug, "Grid parallels: %3.2f N, %3.2f N\n", dom->param[0], dom->param[1]);
    } else {
        MESS_print(M_debug, "Polar Stereographic Grid\n");
        dom->proj = 1;
        dom->param[0] = south ? -60.0f : 60.0f;
    }
    if (projected_centre(dom, la1, lo1, c.xneg ? -1 : 1, c.ydir) < 0) return 0;
    return 1;
}

// Packed points of scanned line s: the special layouts and thinned rows change it.
struct Layout {
    enum Kind { kPlain, kPole, kGrid25, kGrid50 } kind = kPlain;
    int lines = 0;      // scanned lines
    int line_len = 0;   // full line length on the grid
    float dy = 0;
};

int grid50_margin(int row) { return row > 0 ? (row - 1) / 4 : 0; }

}  // namespace

int GRIB_set_max_bad(int val) {
    g_bad_max = val;
    return 0;
}

int grib1_sections(const unsigned char* msg, std::size_t len, int edition, Grib1Sections* s,
                   bool header_only) {
    *s = Grib1Sections{};
    s->msg = msg;
    s->len = len;
    s->edition = edition;
    std::size_t pos = edition == 0 ? 4 : 8;
    const std::size_t end = len >= 4 ? len - 4 : 0;
    auto section = [&](std::size_t min_len, const char* name, std::size_t* at,
                       std::size_t* slen) {
        if (pos + 3 > end) {
            MESS_print(M_error, "GRIB: %s section missing from a %zu-byte message\n", name, len);
            return false;
        }
        const std::size_t l = u24(msg + pos);
        if (l < min_len || l > end - pos) {
            MESS_print(M_error, "GRIB: %s section of %zu bytes does not fit the message\n", name, l);
            return false;
        }
        *at = pos;
        *slen = l;
        pos += l;
        return true;
    };
    if (!section(edition == 0 ? 24 : 28, "product", &s->pds, &s->pds_len)) return -1;
    const int flag = msg[s->pds + 7];
    if ((flag & 0x80) && !section(32, "grid", &s->gds, &s->gds_len)) return -1;
    if (header_only) return 0;
    if ((flag & 0x40) && !section(6, "bit map", &s->bms, &s->bms_len)) return -1;
    // A message above 16 MB (length in 120-byte units) has its data section run to the end.
    if (edition == 1 && (msg[4] & 0x80) && pos + 3 <= end && u24(msg + pos) < 120 &&
        end - pos > 0x7fffff && end - pos >= 11) {
        s->bds = pos;
        s->bds_len = end - pos;
        return 0;
    }
    if (!section(11, "data", &s->bds, &s->bds_len)) return -1;
    return 0;
}

long grib0_length(const unsigned char* head, std::size_t avail, std::size_t* need) {
    std::size_t pos = 4;
    int flag = -1;
    for (int sect = 0; sect < 4; ++sect) {
        if (sect == 1 && !(flag & 0x80)) continue;
        if (sect == 2 && !(flag & 0x40)) continue;
        if (pos + 8 > avail) {
            *need = pos + 8;
            return 0;
        }
        const std::size_t l = u24(head + pos);
        if (l < (sect == 0 ? 24u : 6u)) return -1;
        if (sect == 0) flag = head[pos + 7];
        pos += l;
        if (pos > std::size_t(std::numeric_limits<long>::max() / 2)) return -1;
    }
    return long(pos + 4);
}

int grib1_gdb(const Grib1Sections& s, GRD_report* grd) {
    Grib1Context& c = grib1_context();
    if (!s.gds) return 1;
    const unsigned char* g = s.msg + s.gds;
    const std::size_t len = s.gds_len;
    const int nv = g[3], pvpl = g[4], rep = g[5];
    unsigned nx = u16(g + 6), ny = u16(g + 8);
    MESS_print(M_debug, "Grid description block\n");
    MESS_print(M_debug, "Grid type: %d\n", rep);
    if (rep == 50 || rep == 60 || rep == 70 || rep == 80) {
        MESS_print(M_warn, "GRIB_GDB: spectral coefficients, not a grid (representation %d)\n", rep);
        return 0;
    }
    if (rep != 0 && rep != 1 && rep != 3 && rep != 4 && rep != 5 && rep != 10 && rep != 90) {
        MESS_print(M_warn, "GRIB_GDB: grid representation %d is not supported\n", rep);
        return 0;
    }
    const int mode = g[27];
    c.xneg = (mode & 0x80) != 0;
    c.ydir = (mode & 0x40) ? 1 : -1;
    c.jconsec = (mode & 0x20) != 0;
    c.xalt = (mode & 0x10) != 0;
    MESS_print(M_debug, c.ydir > 0 ? "Gridpoint direction: %x : south to north\n"
                                   : "Gridpoint direction: %x : north to south\n", mode);
    c.thin.clear();
    c.thin_periodic = false;
    const bool thinned = pvpl != 0 && pvpl != 255 && nx == 0xffff && (rep == 0 || rep == 4 || rep == 10);
    if (thinned) {
        // The row list follows the vertical coordinates, if any.
        const std::size_t at = std::size_t(pvpl - 1) + 4 * std::size_t(nv);
        if (c.jconsec || ny == 0 || at + 2 * std::size_t(ny) > len) {
            MESS_print(M_error, "GRIB_GDB: thinned-row list does not fit the grid section\n");
            return -1;
        }
        c.thin.resize(ny);
        nx = 0;
        for (unsigned j = 0; j < ny; ++j) {
            c.thin[j] = int(u16(g + at + 2 * j));
            nx = std::max(nx, unsigned(c.thin[j]));
        }
        MESS_print(M_debug, "Thinning grid\n");
    } else if (nx == 0xffff || ny == 0xffff) {
        MESS_print(M_error, "GRIB_GDB: grid without a row list has no size\n");
        return -1;
    }
    MESS_print(M_debug, "Number of gridpoints: %dx%d\n", nx, ny);
    if (nx == 0 || ny == 0) {
        MESS_print(M_error, "GRIB_GDB: unusable grid size %ux%u\n", nx, ny);
        return -1;
    }
    Domain& dom = grd->domain;
    DOM_init(&dom);
    dom.nx = int(nx);
    dom.ny = int(ny);
    int ok;
    switch (rep) {
    case 0:
    case 4:
    case 10: ok = latlon_grid(g, len, rep, c, &dom, thinned); break;
    case 1: ok = mercator_grid(g, c, &dom); break;
    case 90: ok = space_view_grid(g, len, c, &dom); break;
    default: ok = conic_grid(g, len, rep, c, &dom); break;
    }
    if (ok != 1) {
        MESS_print(M_error, "GRIB_GDB: inconsistent grid geometry\n");
        return 0;
    }
    MESS_print(M_debug, "Grid size: %3.2fx%3.2f\n", dom.dx, dom.dy);
    MESS_print(M_debug, "Grid locate: %3.2f N, %3.2f E\n", dom.clat, dom.clon);
    return 1;
}

int grib1_bmb(const Grib1Sections& s, GRD_report*) {
    Grib1Context& c = grib1_context();
    c.bitmap.clear();
    c.bitmap_bits = c.bitmap_next = 0;
    if (!s.bms) return 1;
    MESS_print(M_debug, "Bit Map section\n");
    const unsigned char* b = s.msg + s.bms;
    if (u16(b + 4) != 0) {
        MESS_print(M_error, "GRIB_BMB: predefined bit map %u is not supported\n", u16(b + 4));
        return -1;
    }
    const std::size_t bytes = s.bms_len - 6;
    const unsigned unused = b[3];
    try {
        c.bitmap.assign(b + 6, b + 6 + bytes);
    } catch (...) {
        return 0;
    }
    c.bitmap_bits = bytes * 8 >= unused ? bytes * 8 - unused : 0;
    return 1;
}

int GRIB_BMB_read() {
    Grib1Context& c = grib1_context();
    if (c.bitmap.empty() || c.bitmap_next >= c.bitmap_bits) return 1;
    const std::size_t i = c.bitmap_next++;
    return (c.bitmap[i >> 3] >> (7 - (i & 7))) & 1;
}

namespace {

// Places one scanned line of decoded values on the grid (row 0 north, columns west to east).
void place_line(const Grib1Context& c, const Layout& lay, float* out, int nx, int ny, int s,
                const float* line, int n, float* stretch) {
    if (c.jconsec) {
        const int col = c.xneg ? nx - 1 - s : s;
        const bool rev = c.xalt && (s & 1);
        for (int t = 0; t < n; ++t) {
            const int tj = rev ? n - 1 - t : t;
            const int row = c.ydir > 0 ? ny - 1 - tj : tj;
            out[std::size_t(row) * nx + col] = line[t];
        }
        return;
    }
    const int row = c.ydir > 0 ? ny - 1 - s : s;
    float* dst = out + std::size_t(row) * nx;
    const bool rev = c.xneg != (c.xalt && (s & 1));
    if ((lay.kind == Layout::kPole || lay.kind == Layout::kGrid25) && n == 1) {
        std::fill(dst, dst + nx, line[0]);
        return;
    }
    if (lay.kind == Layout::kGrid50) {
        const int k = grid50_margin(row);
        std::fill(dst, dst + nx, GRD_MISSING);
        for (int t = 0; t < n && k + t < nx; ++t) dst[rev ? nx - 1 - k - t : k + t] = line[t];
        return;
    }
    if (!c.thin.empty() && n != nx && c.thin_periodic && n > 0) {
        // A row around the earth: column i lies i n / nx points along it, the last point
        // leading back to the first.
        const float inv = 1.0f / float(nx);
        int k = 0, rem = 0;
        for (int i = 0; i < nx; ++i) {
            const float a = line[k], b = line[k + 1 < n ? k + 1 : 0];
            stretch[i] = (a == GRD_MISSING || b == GRD_MISSING) ? GRD_MISSING : a + float(rem) * inv * (b - a);
            rem += n;
            if (rem >= nx) {
                rem -= nx;
                ++k;
            }
        }
        line = stretch;
        n = nx;
    } else if (!c.thin.empty() && n != nx) {
        // Thinned row: spread the n points linearly over the nx columns.
        if (n <= 0) {
            std::fill(stretch, stretch + nx, GRD_MISSING);
        } else {
            double f = 0.0;
            const double step = nx > 1 ? double(n - 1) / double(nx - 1) : 0.0;
            int next = 2;
            float a = line[0], b = n > 1 ? line[1] : line[0];
            for (int i = 0; i < nx; ++i) {
                while (f >= 1.0 - 1e-9 && next < n) {
                    a = b;
                    b = line[next++];
                    f -= 1.0;
                }
                if (f < 0) f = 0;
                stretch[i] = (a == GRD_MISSING || b == GRD_MISSING)
                                 ? GRD_MISSING
                                 : float(f * b + (1.0 - f) * a);
                f += step;
            }
        }
        line = stretch;
        n = nx;
    }
    const int m = std::min(n, nx);
    if (rev)
        for (int i = 0; i < m; ++i) dst[nx - 1 - i] = line[i];
    else
        std::memcpy(dst, line, sizeof(float) * std::size_t(m));
    if (lay.kind == Layout::kGrid25 && nx > 1) {
        dst[rev ? 0 : nx - 1] = dst[rev ? nx - 1 : 0];
    }
}

// Jump test on the raw values of one line: true once the grid is judged noise.
bool jump_test(const std::uint32_t* raw, std::size_t n, std::int64_t limit, int line) {
    if (g_bad_max <= 0 || g_bad == 1) return g_bad == 1;
    int ring[20] = {};
    int sum = 0;
    for (std::size_t i = 1; i < n; ++i) {
        const int slot = int(i % 20);
        sum -= ring[slot];
        const std::int64_t d = std::int64_t(raw[i]) - std::int64_t(raw[i - 1]);
        ring[slot] = (d > limit || -d > limit) ? 1 : 0;
        sum += ring[slot];
        if (sum > g_bad_max) {
            g_bad = 1;
            MESS_print(M_warn, "BAD: %6d %6d %6d %2d %2d\n", line, int(i), int(raw[i]), sum,
                       g_bad_max.load());
            return true;
        }
    }
    return false;
}

}  // namespace

int grib1_bdb(const Grib1Sections& s, GRD_report* grd) {
    Grib1Context& c = grib1_context();
    struct Cleanup {
        Grib1Context& c;
        ~Cleanup() {
            c.bitmap.clear();
            c.bitmap_bits = 0;
            c.thin.clear();
            c.thin_periodic = false;
        }
    } cleanup{c};
    if (!s.bds) return -1;
    const unsigned char* b = s.msg + s.bds;
    const int flag = b[3];
    if (flag & 0xc0) {
        MESS_print(M_error, "GRIB_BDB: %s packing is not supported\n",
                   (flag & 0x80) ? "spherical harmonic" : "second-order");
        return -1;
    }
    const int bpval = b[10];
    if (bpval > 32) {
        MESS_print(M_error, "GRIB_BDB: %d bits per value\n", bpval);
        return -1;
    }
    const double sfac = std::ldexp(1.0, (b[4] & 0x80 ? -1 : 1) * int(((b[4] & 0x7f) << 8) | b[5]));
    const double ref = GRIB_flt_conv(b + 6);
    const double scale = c.dscale * sfac, offset = c.dscale * ref;
    MESS_print(M_debug, "Decimal Scale factor: %f\n", c.dscale);
    MESS_print(M_debug, "Scale factor: %f\n", sfac);
    MESS_print(M_debug, "Reference value: %f\n", ref);
    MESS_print(M_debug, "Bits per value: %d\n", bpval);
    std::int64_t bad_limit = bpval > 0 ? (std::int64_t(1) << (bpval - 1)) : 0;
    if (g_bad == -9 && (grd->ltype == 6 || grd->ltype == 7 || grd->ltype >= 90))
        bad_limit = std::int64_t(1) << bpval;
    g_bad = 0;
    MESS_print(M_debug, "Bad limit value: %d\n", int(bad_limit));

    const int nx = grd->domain.nx, ny = grd->domain.ny;
    if (nx <= 0 || ny <= 0) {
        MESS_print(M_error, "GRIB_BDB: the grid %d has no usable size\n", c.grid_id);
        return -1;
    }
    // Lines as scanned and the points each carries.
    Layout lay;
    lay.line_len = c.jconsec ? ny : nx;
    lay.lines = c.jconsec ? nx : ny;
    const int gid = c.grid_id;
    const bool plain_scan = !c.jconsec && c.thin.empty();
    if (plain_scan && c.pole && nx == (gid <= 24 ? 37 : gid <= 26 ? 73 : 91) &&
        ny == (gid <= 24 ? 37 : gid <= 26 ? 19 : 46)) {
        lay.kind = (gid == 25 || gid == 26) ? Layout::kGrid25 : Layout::kPole;
        lay.dy = grd->domain.dy;
    } else if (plain_scan && gid == 50 && nx == 36 && ny == 33) {
        lay.kind = Layout::kGrid50;
    }
    std::vector<int> counts(std::size_t(lay.lines));
    std::int64_t total = 0;
    for (int sline = 0; sline < lay.lines; ++sline) {
        int n = c.thin.empty() ? lay.line_len : c.thin[std::size_t(sline)];
        if (lay.kind == Layout::kGrid25) n = nx - 1;
        if (lay.kind != Layout::kPlain && lay.kind != Layout::kGrid50) {
            const float lat = c.pole_lat0 + c.ydir * lay.dy * float(sline);
            if (std::fabs(std::fabs(lat) - 90.0f) < 1e-3f) n = 1;
        }
        if (lay.kind == Layout::kGrid50) {
            const int row = c.ydir > 0 ? ny - 1 - sline : sline;
            n = nx - 2 * grid50_margin(row);
        }
        counts[std::size_t(sline)] = n;
        total += n;
    }
    const bool has_bitmap = !c.bitmap.empty() || s.bms;
    if (has_bitmap && std::int64_t(c.bitmap_bits) < total) {
        MESS_print(M_error, "GRIB_BDB: bit map of %zu points for a grid of %lld\n", c.bitmap_bits,
                   static_cast<long long>(total));
        return -1;
    }
    std::int64_t present = total;
    if (has_bitmap) {
        present = 0;
        for (std::int64_t i = 0; i < total; ++i)
            present += (c.bitmap[std::size_t(i >> 3)] >> (7 - (i & 7))) & 1;
    }
    const unsigned char* data = b + 11;
    const std::size_t data_bytes = s.bds_len - 11;
    if (bpval > 0 && present * bpval > std::int64_t(data_bytes) * 8) {
        MESS_print(M_error, "GRIB_BDB: data section holds %zu bytes, the grid needs %lld values "
                   "of %d bits\n", data_bytes, static_cast<long long>(present), bpval);
        return -1;
    }
    const std::int64_t grid_points = std::int64_t(nx) * ny;
    if (grid_points > kMaxPoints &&
        (grid_points > 2 * total || (!has_bitmap && bpval == 0))) {
        MESS_print(M_error, "GRIB_BDB: a %dx%d grid is not backed by the data carried\n", nx, ny);
        return -1;
    }
    c.data = data;
    c.data_bytes = data_bytes;
    c.data_bit = 0;
    c.bpval = bpval;

    const std::size_t points = std::size_t(nx) * std::size_t(ny);
    float* out = static_cast<float*>(std::realloc(grd->grid, points * sizeof(float)));
    if (!out) {
        MESS_print(M_error, "GRIB_BDB: no memory for %zu values\n", points);
        return 0;
    }
    grd->grid = out;
    if (lay.kind == Layout::kGrid50 || !c.thin.empty() || lay.kind != Layout::kPlain)
        std::fill(out, out + points, GRD_MISSING);

    int max_line = std::max(nx, ny);
    for (int n : counts) max_line = std::max(max_line, n);
    std::vector<std::uint32_t> raw(std::size_t(max_line) + 1);
    std::vector<float> line(std::size_t(max_line) + 1), stretch(std::size_t(nx) + 1);
    std::uint64_t bit = 0;
    std::size_t bm = 0;
    bool bad = false;
    // The common case (whole rows, no bit map, no noise test): unpack the whole grid into the
    // value array itself and scale it in place, row order fixed afterwards.
    if (lay.kind == Layout::kPlain && c.thin.empty() && !c.jconsec && !c.xalt && !has_bitmap &&
        g_bad_max <= 0) {
        static_assert(sizeof(float) == sizeof(std::uint32_t));
        auto* as_uint = reinterpret_cast<std::uint32_t*>(out);
        if (grib_unpack_uint(data, data_bytes, 0, bpval, points, as_uint) != 0) {
            MESS_print(M_error, "GRIB_BDB: data run past the data section\n");
            return -1;
        }
        for (std::size_t i = 0; i < points; ++i) {
            std::uint32_t x;
            std::memcpy(&x, out + i, sizeof x);
            out[i] = float(scale * double(x) + offset);
        }
        if (c.ydir > 0)
            for (int top = 0, bottom = ny - 1; top < bottom; ++top, --bottom)
                std::swap_ranges(out + std::size_t(top) * nx, out + std::size_t(top + 1) * nx,
                                 out + std::size_t(bottom) * nx);
        if (c.xneg)
            for (int row = 0; row < ny; ++row)
                std::reverse(out + std::size_t(row) * nx, out + std::size_t(row + 1) * nx);
        return 1;
    }
    for (int sline = 0; sline < lay.lines; ++sline) {
        const int n = counts[std::size_t(sline)];
        std::size_t here = std::size_t(n);
        if (has_bitmap) {
            here = 0;
            for (int t = 0; t < n; ++t)
                here += (c.bitmap[(bm + t) >> 3] >> (7 - ((bm + t) & 7))) & 1;
        }
        if (grib_unpack_uint(data, data_bytes, bit, bpval, here, raw.data()) != 0) {
            MESS_print(M_error, "GRIB_BDB: data run past the data section\n");
            return -1;
        }
        bit += std::uint64_t(here) * std::uint64_t(bpval);
        if (!bad && g_bad_max > 0) bad = jump_test(raw.data(), here, bad_limit, sline);
        std::size_t k = 0;
        for (int t = 0; t < n; ++t) {
            bool on = true;
            if (has_bitmap) on = (c.bitmap[(bm + t) >> 3] >> (7 - ((bm + t) & 7))) & 1;
            if (!on) {
                line[std::size_t(t)] = GRD_MISSING;
                continue;
            }
            const std::uint32_t x = raw[k++];
            line[std::size_t(t)] = bad ? GRD_MISSING : float(scale * double(x) + offset);
        }
        bm += std::size_t(n);
        place_line(c, lay, out, nx, ny, sline, line.data(), n, stretch.data());
    }
    c.data_bit = 0;
    return 1;
}

unsigned GRIB_bit_read(int) {
    Grib1Context& c = grib1_context();
    std::uint32_t v = 0;
    if (!c.data || grib_unpack_uint(c.data, c.data_bytes, c.data_bit, c.bpval, 1, &v) != 0)
        return 0;
    c.data_bit += std::uint64_t(c.bpval);
    return v;
}

int grib1_decode(const unsigned char* msg, std::size_t len, int edition, GRD_report* grd,
                 int rep_type) {
    Grib1Sections s;
    const bool header_only = rep_type == 1 || rep_type == 2;
    if (grib1_sections(msg, len, edition, &s, header_only) < 0) return -1;
    if (grib1_pdb(s, grd, rep_type) < 0) return -1;
    const int g = grib1_gdb(s, grd);
    if (g < 0) return -1;
    if (g == 0) return -2;
    if (rep_type == 1 || rep_type == 2) return 0;
    if (grib1_bmb(s, grd) < 0) return -1;
    const int r = grib1_bdb(s, grd);
    return r == 1 ? 0 : -1;
}
