// Maps: a grid shaded on its own projection, with contours, coastlines, borders, a
// latitude/longitude net, a colour bar and the title lines.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "draw_internal.hpp"
#include "mess.hpp"
#include "string.hpp"

using namespace draw_detail;

namespace {

constexpr int kTitleHeight = 58;
constexpr int kBarWidth = 110;
constexpr int kMargin = 12;
constexpr int kLeftLabels = 40;  // latitude labels left of the frame
constexpr int kBottom = 30;      // longitude labels under it

// Where the map goes on the picture, and the plane window it shows.
struct Layout {
    double x0, y0;        // pixel of the plane window's upper-left corner
    double scale;         // pixels per plane unit
    double px_w, px_h;    // map size in pixels
    MAP_limits window;    // plane window: the grid's cells, half a spacing beyond the outer points
};

bool is_earth(int proj) { return MAP_is_earth(proj); }

bool make_layout(const GRD_report* grd, const DRAW_map_opts* opts, Layout& out)
{
    const Domain& dom = grd->domain;
    if (!is_earth(dom.proj) || dom.nx < 1 || dom.ny < 1 || !(dom.dx > 0) || !(dom.dy > 0)) return false;
    if (MAP_domain(&dom) != 0) return false;
    MAP_limits lim;
    if (MAP_set_limits() != 0 || MAP_get_limits(&lim) != 0) return false;
    lim.x_min -= dom.dx / 2;
    lim.x_max += dom.dx / 2;
    lim.y_min -= dom.dy / 2;
    lim.y_max += dom.dy / 2;
    double aw = opts->width - 2 * kMargin - kLeftLabels - kBarWidth, ah = opts->height - kTitleHeight - kBottom;
    if (aw < 10 || ah < 10) return false;
    double sx = aw / (lim.x_max - lim.x_min), sy = ah / (lim.y_max - lim.y_min);
    out.scale = std::fmin(sx, sy);
    out.px_w = (lim.x_max - lim.x_min) * out.scale;
    out.px_h = (lim.y_max - lim.y_min) * out.scale;
    out.x0 = kMargin + kLeftLabels + (aw - out.px_w) / 2;
    out.y0 = kTitleHeight + (ah - out.px_h) / 2;
    out.window = lim;
    return std::isfinite(out.scale) && out.scale > 0;
}

inline void plane_to_pixel(const Layout& L, double x, double y, double& px, double& py)
{
    px = L.x0 + (x - L.window.x_min) * L.scale;
    py = L.y0 + (L.window.y_max - y) * L.scale;
}

// Draws a polyline of earth points, breaking it where a point cannot be shown or where the line
// jumps across the map (a date-line wrap on a global map).
template <typename Fn>
void earth_polyline(cairo_t* cr, const Layout& L, std::size_t n, Fn point)
{
    bool pen_down = false;
    double last_x = 0, last_y = 0;
    for (std::size_t i = 0; i < n; ++i) {
        float lat, lon, x, y;
        point(i, lat, lon);
        if (!MAP_tran(lat, lon, &x, &y)) {
            pen_down = false;
            continue;
        }
        double px, py;
        plane_to_pixel(L, x, y, px, py);
        if (pen_down && (std::fabs(px - last_x) > L.px_w / 3 || std::fabs(py - last_y) > L.px_h / 3)) pen_down = false;
        if (pen_down)
            cairo_line_to(cr, px, py);
        else
            cairo_move_to(cr, px, py);
        pen_down = true;
        last_x = px;
        last_y = py;
    }
}

void shade(const GRD_report* grd, const Layout& L, const DRAW_scale& scale, cairo_surface_t* surface)
{
    const Domain& dom = grd->domain;
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    int width = cairo_image_surface_get_width(surface);
    int height = cairo_image_surface_get_height(surface);
    int px0 = std::max(0, static_cast<int>(std::floor(L.x0)));
    int py0 = std::max(0, static_cast<int>(std::floor(L.y0)));
    int px1 = std::min(width, static_cast<int>(std::ceil(L.x0 + L.px_w)));
    int py1 = std::min(height, static_cast<int>(std::ceil(L.y0 + L.px_h)));
    // The plane window maps to grid indices by a shift and a scale, so the column of every
    // pixel of a row is worked out once.
    std::vector<int> column(std::max(0, px1 - px0), -1);
    // Around the earth, the half cells beyond either edge belong to the column across the seam.
    const bool periodic = MAP_periodic_columns(&dom) == dom.nx;
    float gx, gy;
    for (int px = px0; px < px1; ++px) {
        double x = L.window.x_min + (px + 0.5 - L.x0) / L.scale;
        double y = L.window.y_max - (py0 + 0.5 - L.y0) / L.scale;
        if (MAP_grid_untran(static_cast<float>(x), static_cast<float>(y), &gx, &gy) != 0) continue;
        long i = std::lround(gx);
        if (periodic) i = (i % dom.nx + dom.nx) % dom.nx;
        if (i >= 0 && i < dom.nx) column[px - px0] = static_cast<int>(i);
    }
    for (int py = py0; py < py1; ++py) {
        double x = L.window.x_min + (px0 + 0.5 - L.x0) / L.scale;
        double y = L.window.y_max - (py + 0.5 - L.y0) / L.scale;
        if (MAP_grid_untran(static_cast<float>(x), static_cast<float>(y), &gx, &gy) != 0) continue;
        long j = std::lround(gy);
        if (j < 0 || j >= dom.ny) continue;
        const float* row = grd->grid + static_cast<long>(j) * dom.nx;
        auto* out = reinterpret_cast<std::uint32_t*>(data + static_cast<long>(py) * stride);
        int last_i = -2;
        std::uint32_t last_pixel = 0;
        bool last_present = false;
        for (int px = px0; px < px1; ++px) {
            int i = column[px - px0];
            if (i < 0) continue;
            if (i != last_i) {
                unsigned char rgb[3];
                last_present = DRAW_value_color(&scale, row[i], rgb) == 0;
                last_pixel = 0xff000000u | (std::uint32_t(rgb[0]) << 16) | (std::uint32_t(rgb[1]) << 8) | rgb[2];
                last_i = i;
            }
            if (last_present) out[px] = last_pixel;
        }
    }
    cairo_surface_mark_dirty(surface);
}

// Marching squares: a segment wherever a contour level crosses a cell whose four corners are
// present. Segments are not joined into lines; at picture scale that is invisible.
void contours(cairo_t* cr, const GRD_report* grd, const Layout& L, float cint, ContourLabels* labels)
{
    const Domain& dom = grd->domain;
    if (!(cint > 0) || dom.nx < 2 || dom.ny < 2) return;
    auto pixel_of = [&](double gx, double gy, double& px, double& py) {
        float x, y;
        if (MAP_grid_tran(static_cast<float>(gx), static_cast<float>(gy), &x, &y) != 0) return false;
        plane_to_pixel(L, x, y, px, py);
        return true;
    };
    long segments = 0;
    // Around the earth the cell across the seam shows at both edges of the map.
    const bool periodic = MAP_periodic_columns(&dom) == dom.nx;
    const int first = periodic ? -1 : 0, last = periodic ? dom.nx - 1 : dom.nx - 2;
    for (int j = 0; j + 1 < dom.ny; ++j) {
        const float* r0 = grd->grid + static_cast<long>(j) * dom.nx;
        const float* r1 = r0 + dom.nx;
        for (int i = first; i <= last; ++i) {
            const int a = (i + dom.nx) % dom.nx, b = (i + 1) % dom.nx;
            float v[4] = {r0[a], r0[b], r1[b], r1[a]};  // corners counter-clockwise
            if (v[0] == GRD_MISSING || v[1] == GRD_MISSING || v[2] == GRD_MISSING || v[3] == GRD_MISSING) continue;
            float lo = std::fmin(std::fmin(v[0], v[1]), std::fmin(v[2], v[3]));
            float hi = std::fmax(std::fmax(v[0], v[1]), std::fmax(v[2], v[3]));
            if (!(hi > lo)) continue;
            const double cx[4] = {double(i), double(i + 1), double(i + 1), double(i)};
            const double cy[4] = {double(j), double(j), double(j + 1), double(j + 1)};
            for (double level = std::ceil(lo / cint) * cint; level <= hi; level += cint) {
                double pts[4][2];
                int n = 0;
                for (int e = 0; e < 4 && n < 4; ++e) {
                    float a = v[e], b = v[(e + 1) % 4];
                    if ((a < level) == (b < level)) continue;
                    double f = (level - a) / (b - a);
                    pts[n][0] = cx[e] + f * (cx[(e + 1) % 4] - cx[e]);
                    pts[n][1] = cy[e] + f * (cy[(e + 1) % 4] - cy[e]);
                    ++n;
                }
                for (int k = 0; k + 1 < n; k += 2) {
                    double ax, ay, bx, by;
                    if (!pixel_of(pts[k][0], pts[k][1], ax, ay) || !pixel_of(pts[k + 1][0], pts[k + 1][1], bx, by))
                        continue;
                    cairo_move_to(cr, ax, ay);
                    cairo_line_to(cr, bx, by);
                    if (labels && (segments & 7) == 0)
                        labels->offer(level, (ax + bx) / 2, (ay + by) / 2, std::atan2(by - ay, bx - ax));
                    if (++segments % 4096 == 0) cairo_stroke(cr);
                }
            }
        }
    }
    cairo_stroke(cr);
}

// The latitude and longitude extent of the map, sampled on a coarse net of pixels.
void earth_extent(const Layout& L, double& lat_lo, double& lat_hi, double& lon_span)
{
    lat_lo = 90;
    lat_hi = -90;
    double lon_lo = 360, lon_hi = -360;
    for (int a = 0; a <= 24; ++a)
        for (int b = 0; b <= 24; ++b) {
            float x = static_cast<float>(L.window.x_min + (L.window.x_max - L.window.x_min) * a / 24.0);
            float y = static_cast<float>(L.window.y_min + (L.window.y_max - L.window.y_min) * b / 24.0);
            float lat, lon;
            if (!MAP_untran(x, y, &lat, &lon)) continue;
            lat_lo = std::fmin(lat_lo, lat);
            lat_hi = std::fmax(lat_hi, lat);
            lon_lo = std::fmin(lon_lo, lon);
            lon_hi = std::fmax(lon_hi, lon);
        }
    lon_span = lon_hi - lon_lo;
}

struct EdgeLabel {
    double x, y;
    std::string text;
};

std::string degrees(double v, bool lat)
{
    double a = std::fabs(v);
    if (a > 180) a = 360 - a;
    char buf[24];
    const char* hemi = a < 1e-6 || (!lat && std::fabs(a - 180) < 1e-6) ? "" : lat ? (v > 0 ? "N" : "S") : (v > 0 ? "E" : "W");
    std::snprintf(buf, sizeof buf, "%g\u00b0%s", a, hemi);
    return buf;
}

// Lines of latitude and longitude; each labelled where it leaves the map through the left
// (latitudes) or the bottom edge (longitudes).
void graticule(cairo_t* cr, const Layout& L, double lat_lo, double lat_hi, double lon_span, std::vector<EdgeLabel>& labels)
{
    double span = std::fmax(lat_hi - lat_lo, std::fmin(lon_span, 360.0) / 2);
    double step = span > 90 ? 30 : span > 40 ? 10 : span > 16 ? 5 : span > 6 ? 2 : 1;
    double left = L.x0, bottom = L.y0 + L.px_h;
    auto crossing = [&](std::size_t n, auto point, bool lat, double value) {
        bool have = false, found = false;
        double px0 = 0, py0 = 0;
        double end_x = 0, end_y = -1e9;  // a meridian's southernmost point on the map
        for (std::size_t k = 0; k < n; ++k) {
            float la, lo, x, y;
            point(k, la, lo);
            if (!MAP_tran(la, lo, &x, &y)) {
                have = false;
                continue;
            }
            double px, py;
            plane_to_pixel(L, x, y, px, py);
            if (!lat && py <= bottom && py > end_y) {
                end_x = px;
                end_y = py;
            }
            if (have && std::fabs(px - px0) < L.px_w / 3) {
                if (lat && (px0 - left) * (px - left) <= 0 && px != px0) {
                    double yy = py0 + (left - px0) / (px - px0) * (py - py0);
                    if (yy > L.y0 + 6 && yy < bottom - 6) labels.push_back({left - 4, yy + 4, degrees(value, true)});
                }
                if (!lat && (py0 - bottom) * (py - bottom) <= 0 && py != py0) {
                    double xx = px0 + (bottom - py0) / (py - py0) * (px - px0);
                    if (xx > left + 10 && xx < L.x0 + L.px_w - 10) labels.push_back({xx, bottom + 15, degrees(value, false)});
                    found = true;
                }
            }
            have = true;
            px0 = px;
            py0 = py;
        }
        // On a global map the meridians end at the pole, half a grid step inside the frame.
        if (!lat && !found && end_y > bottom - 6 && end_x > left + 10 && end_x < L.x0 + L.px_w - 10)
            labels.push_back({end_x, bottom + 15, degrees(value, false)});
    };
    for (double lat = std::ceil(-90 / step) * step; lat <= 90; lat += step) {
        if (lat < lat_lo - step || lat > lat_hi + step) continue;
        auto point = [&](std::size_t k, float& la, float& lo) {
            la = static_cast<float>(lat);
            lo = static_cast<float>(-180.0 + 0.5 * k);
        };
        earth_polyline(cr, L, 721, point);
        if (std::fabs(lat) < 89.9) crossing(721, point, true, lat);
    }
    double lat_a = std::fmax(-90.0, lat_lo - step), lat_b = std::fmin(90.0, lat_hi + step);
    std::size_t n = static_cast<std::size_t>((lat_b - lat_a) / 0.25) + 1;
    for (double lon = -180; lon < 180; lon += step) {
        auto point = [&](std::size_t k, float& la, float& lo) {
            la = static_cast<float>(std::fmin(lat_b, lat_a + 0.25 * k));
            lo = static_cast<float>(lon);
        };
        earth_polyline(cr, L, n, point);
        crossing(n, point, false, lon);
    }
    cairo_stroke(cr);
}

void edge_labels(cairo_t* cr, const std::vector<EdgeLabel>& labels, const Layout& L)
{
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
    std::vector<const EdgeLabel*> shown;
    for (const EdgeLabel& l : labels) {
        bool crowded = false;
        for (const EdgeLabel* s : shown)
            if (std::fabs(s->x - l.x) < 34 && std::fabs(s->y - l.y) < 12) crowded = true;
        if (crowded) continue;
        shown.push_back(&l);
        text(cr, l.x, l.y, l.text.c_str(), 10, l.x < L.x0 ? 2 : 1);
    }
}

// Coastlines or borders of one level. Lakes (coast level 2) are drawn only when they span at
// least min_extent pixels: at the scale of a continent, thousands of ponds are clutter.
void geo_lines(cairo_t* cr, const Layout& L, const std::vector<GeoLine>& lines, int level, double min_extent)
{
    long n = 0;
    for (const GeoLine& line : lines) {
        if (line.level != level) continue;
        if (min_extent > 0) {
            float lat_lo = 90, lat_hi = -90, lon_lo = 360, lon_hi = -360;
            for (std::size_t k = 0; k < line.lat.size(); ++k) {
                lat_lo = std::min(lat_lo, line.lat[k]);
                lat_hi = std::max(lat_hi, line.lat[k]);
                lon_lo = std::min(lon_lo, line.lon[k]);
                lon_hi = std::max(lon_hi, line.lon[k]);
            }
            // Degrees to pixels near the lake: one degree of latitude is 1.11 plane units.
            double extent = std::max<double>(lat_hi - lat_lo, (lon_hi - lon_lo) * std::cos((lat_lo + lat_hi) * M_PI / 360));
            if (extent * 1.1119 * L.scale < min_extent) continue;
        }
        earth_polyline(cr, L, line.lat.size(), [&](std::size_t k, float& la, float& lo) {
            la = line.lat[k];
            lo = line.lon[k] > 180.0f ? line.lon[k] - 360.0f : line.lon[k];
        });
        if (++n % 512 == 0) cairo_stroke(cr);
    }
    cairo_stroke(cr);
}

void colour_bar(cairo_t* cr, const DRAW_map_opts* opts, const DRAW_scale& scale, const char* units)
{
    double x = opts->width - kBarWidth + 14, w = 22;
    double top = kTitleHeight + 24, bottom = opts->height - kBottom - 14;
    if (bottom - top < 20) return;
    int steps = static_cast<int>(bottom - top);
    for (int k = 0; k < steps; ++k) {
        float value = scale.lo + (scale.hi - scale.lo) * (k + 0.5f) / steps;
        unsigned char rgb[3] = {255, 255, 255};
        DRAW_value_color(&scale, value, rgb);
        cairo_set_source_rgb(cr, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0);
        cairo_rectangle(cr, x, bottom - k - 1, w, 1.0);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, x + 0.5, top + 0.5, w - 1, bottom - top - 1);
    cairo_stroke(cr);
    double step = nice_step(scale.hi - scale.lo, 6);
    for (double v = std::ceil(scale.lo / step) * step; v <= scale.hi + step * 1e-6; v += step) {
        double y = bottom - (v - scale.lo) / (scale.hi - scale.lo) * (bottom - top);
        cairo_move_to(cr, x + w, y);
        cairo_line_to(cr, x + w + 5, y);
        cairo_stroke(cr);
        char label[32];
        double shown = std::fabs(v) < step * 1e-6 ? 0.0 : v;
        std::snprintf(label, sizeof label, "%g", shown);
        text(cr, x + w + 8, y + 4, label, 11);
    }
    char unit[32];
    DRAW_unit_text(units, unit, sizeof unit);
    text(cr, x + w / 2, top - 8, unit[0] ? unit : "(no unit)", 12, 1);
}

double knots_per_unit(const char* units)
{
    if (!units) return 1.943844;
    if (std::strcmp(units, "kt") == 0 || std::strcmp(units, "kts") == 0 || std::strcmp(units, "knots") == 0) return 1.0;
    if (std::strcmp(units, "km/h") == 0 || std::strcmp(units, "kph") == 0) return 1.0 / 1.852;
    return 1.943844;  // m/s, the unit of model winds
}

// Winds at grid points thinned to about one per spacing pixels: barbs in kt or arrows scaled
// to the spacing at the fastest wind. Components are earth-relative: the way north points at
// each place on the map turns them.
void map_winds(cairo_t* cr, const GRD_report* grd, const Layout& L, const DRAW_map_opts& opts)
{
    const GRD_report* u = opts.wind_u;
    const GRD_report* v = opts.wind_v;
    const Domain& dom = grd->domain;
    if (!u->grid || !v->grid || u->domain.nx != dom.nx || u->domain.ny != dom.ny || v->domain.nx != dom.nx ||
        v->domain.ny != dom.ny)
        return;
    double spacing = opts.wind_spacing > 4 ? opts.wind_spacing : 42;
    double cell = std::min(dom.dx, dom.dy) * L.scale;  // pixels per grid step
    int stride = std::max(1, static_cast<int>(std::lround(spacing / std::max(cell, 1e-3))));
    double factor = knots_per_unit(u->units);
    double fastest = 0;
    if (opts.wind_style == 2) {
        long n = static_cast<long>(dom.nx) * dom.ny;
        for (long k = 0; k < n; ++k)
            if (u->grid[k] != GRD_MISSING && v->grid[k] != GRD_MISSING)
                fastest = std::max(fastest, std::hypot(static_cast<double>(u->grid[k]), static_cast<double>(v->grid[k])));
    }
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_set_line_width(cr, 1.1);
    for (int j = stride / 2; j < dom.ny; j += stride)
        for (int i = stride / 2; i < dom.nx; i += stride) {
            long k = static_cast<long>(j) * dom.nx + i;
            float uu = u->grid[k], vv = v->grid[k];
            if (uu == GRD_MISSING || vv == GRD_MISSING || !std::isfinite(uu) || !std::isfinite(vv)) continue;
            float x, y, lat, lon, nx_, ny_;
            if (MAP_grid_tran(static_cast<float>(i), static_cast<float>(j), &x, &y) != 0 || !MAP_untran(x, y, &lat, &lon))
                continue;
            double px, py;
            plane_to_pixel(L, x, y, px, py);
            if (px < L.x0 || px > L.x0 + L.px_w || py < L.y0 || py > L.y0 + L.px_h) continue;
            // North on the picture at this point, from a step towards the pole.
            float step_lat = lat > 89.9f ? lat - 0.1f : lat + 0.1f;
            if (!MAP_tran(step_lat, lon, &nx_, &ny_)) continue;
            double nx = (nx_ - x) * (lat > 89.9f ? -1 : 1), ny = -(ny_ - y) * (lat > 89.9f ? -1 : 1);
            double norm = std::hypot(nx, ny);
            if (!(norm > 0)) continue;
            nx /= norm;
            ny /= norm;
            double ex = -ny, ey = nx;  // east: north turned clockwise on the y-down picture
            double speed = std::hypot(static_cast<double>(uu), static_cast<double>(vv));
            if (!(speed > 0)) {
                if (opts.wind_style != 2) barb(cr, px, py, 0, -1, 0, 1);
                continue;
            }
            // Unit vector towards where the wind comes from, in pixels.
            double wx = -(uu * ex + vv * nx) / speed, wy = -(uu * ey + vv * ny) / speed;
            if (opts.wind_style == 2)
                arrow(cr, px, py, wx, wy, fastest > 0 ? spacing * 0.9 * speed / fastest : 0);
            else
                barb(cr, px, py, wx, wy, speed * factor, lat < 0 ? -1 : 1);
        }
}

}  // namespace

void DRAW_map_defaults(DRAW_map_opts* opts)
{
    if (!opts) return;
    *opts = DRAW_map_opts{1000, 700, -9999.0f, DRAW_PALETTE_AUTO, nullptr, nullptr, nullptr,
                          1,    -1,  nullptr,  nullptr,           1,       42};
}

int DRAW_map_pixel(const GRD_report* grd, const DRAW_map_opts* opts, float lat, float lon, float* px, float* py)
{
    if (!grd || !px || !py) return 0;
    DRAW_map_opts defaults;
    DRAW_map_defaults(&defaults);
    if (!opts) opts = &defaults;
    MAP_keep_domain guard;
    Layout L;
    if (!make_layout(grd, opts, L)) return 0;
    float x, y;
    if (!MAP_tran(lat, lon, &x, &y)) return 0;
    double dx, dy;
    plane_to_pixel(L, x, y, dx, dy);
    *px = static_cast<float>(dx);
    *py = static_cast<float>(dy);
    return dx >= L.x0 && dx <= L.x0 + L.px_w && dy >= L.y0 && dy <= L.y0 + L.px_h;
}

int DRAW_map_png(const GRD_report* grd, const char* filename, const DRAW_map_opts* opts_in)
{
    DRAW_map_opts opts;
    DRAW_map_defaults(&opts);
    if (opts_in) opts = *opts_in;
    if (opts.width <= 0) opts.width = 1000;
    if (opts.height <= 0) opts.height = 700;
    if (opts.width > 20000 || opts.height > 20000) {
        MESS_print(M_error, "DRAW: Picture size %dx%d is too large\n", opts.width, opts.height);
        return -1;
    }
    if (!grd || !grd->grid) {
        MESS_print(M_error, "DRAW: No grid values to draw\n");
        return -1;
    }
    DRAW_scale scale;
    if (DRAW_map_scale(grd, opts.palette, &scale) != 0) {
        MESS_print(M_error, "DRAW: The grid has no values to draw\n");
        return -1;
    }
    MAP_keep_domain guard;
    Layout L;
    if (!make_layout(grd, &opts, L)) {
        MESS_print(M_error, "DRAW: The grid's projection (%d) cannot be drawn as a map\n", grd->domain.proj);
        return -1;
    }
    Canvas canvas(opts.width, opts.height);
    if (!canvas.ok()) {
        MESS_print(M_error, "DRAW: Unable to make a %dx%d picture\n", opts.width, opts.height);
        return -1;
    }
    cairo_t* cr = canvas.cr();
    shade(grd, L, scale, canvas.surface());

    cairo_save(cr);
    cairo_rectangle(cr, L.x0, L.y0, L.px_w, L.px_h);
    cairo_clip(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    double lat_lo, lat_hi, lon_span;
    earth_extent(L, lat_lo, lat_hi, lon_span);
    char res = (lat_hi - lat_lo) < 40 && lon_span < 60 ? 'i' : 'l';
    cairo_set_line_width(cr, 0.6);
    cairo_set_source_rgba(cr, 0.25, 0.25, 0.25, 0.6);
    double dashes[] = {3.0, 3.0};
    cairo_set_dash(cr, dashes, 2, 0);
    std::vector<EdgeLabel> edge;
    graticule(cr, L, lat_lo, lat_hi, lon_span, edge);
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
    cairo_set_line_width(cr, 0.45);
    geo_lines(cr, L, border_lines(opts.coast_dir, res), 2, 0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.8);
    geo_lines(cr, L, border_lines(opts.coast_dir, res), 1, 0);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    const std::vector<GeoLine>& coast = coast_lines(opts.coast_dir, res);
    geo_lines(cr, L, coast, 1, 0);
    cairo_set_line_width(cr, 0.7);
    geo_lines(cr, L, coast, 2, std::max(8.0, 0.012 * std::max(L.px_w, L.px_h)));
    ContourLabels labels(L.x0, L.y0, L.x0 + L.px_w, L.y0 + L.px_h, 220);
    struct Mark {
        Extreme e;
        double x, y;
    };
    std::vector<Mark> marks;
    if (opts.extremes == 1 || (opts.extremes == -1 && wants_extremes(grd)))
        for (const Extreme& e : find_extremes(grd)) {
            float x, y;
            if (MAP_grid_tran(static_cast<float>(e.i), static_cast<float>(e.j), &x, &y) != 0) continue;
            Mark m{e, 0, 0};
            plane_to_pixel(L, x, y, m.x, m.y);
            labels.block(m.x, m.y);
            labels.block(m.x, m.y + 14);
            marks.push_back(m);
        }
    if (opts.cint > 0) {
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_set_line_width(cr, 1.1);
        contours(cr, grd, L, opts.cint, opts.contour_labels == 1 ? &labels : nullptr);
        labels.draw(cr, opts.cint);
    }
    if (opts.wind_u && opts.wind_v) map_winds(cr, grd, L, opts);
    for (const Mark& m : marks) draw_extreme(cr, m.x, m.y, m.e, grd->units);
    cairo_restore(cr);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, L.x0 - 0.5, L.y0 - 0.5, L.px_w + 1, L.px_h + 1);
    cairo_stroke(cr);
    edge_labels(cr, edge, L);
    colour_bar(cr, &opts, scale, grd->units);
    char what[96], when[96];
    DRAW_map_titles(grd, what, sizeof what, when, sizeof when);
    cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, kMargin, 24, opts.title ? opts.title : what, 17);
    text(cr, kMargin, 46, opts.time_label ? opts.time_label : when, 13);
    if (opts.wind_u && opts.wind_v)
        text(cr, L.x0 + L.px_w, 46,
             opts.wind_style == 2 ? "Arrows: wind, longest the fastest" : "Barbs: wind in kt (pennant 50, barb 10, half 5)",
             11, 2);
    return canvas.write_png(filename);
}
