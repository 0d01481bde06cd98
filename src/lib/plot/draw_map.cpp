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
constexpr int kBottom = 16;

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
    double aw = opts->width - 2 * kMargin - kBarWidth, ah = opts->height - kTitleHeight - kBottom;
    if (aw < 10 || ah < 10) return false;
    double sx = aw / (lim.x_max - lim.x_min), sy = ah / (lim.y_max - lim.y_min);
    out.scale = std::fmin(sx, sy);
    out.px_w = (lim.x_max - lim.x_min) * out.scale;
    out.px_h = (lim.y_max - lim.y_min) * out.scale;
    out.x0 = kMargin + (aw - out.px_w) / 2;
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
void contours(cairo_t* cr, const GRD_report* grd, const Layout& L, float cint)
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

void graticule(cairo_t* cr, const Layout& L, double lat_lo, double lat_hi, double lon_span)
{
    double span = std::fmax(lat_hi - lat_lo, std::fmin(lon_span, 360.0) / 2);
    double step = span > 90 ? 30 : span > 40 ? 10 : span > 16 ? 5 : span > 6 ? 2 : 1;
    for (double lat = std::ceil(-90 / step) * step; lat <= 90; lat += step) {
        if (lat < lat_lo - step || lat > lat_hi + step) continue;
        earth_polyline(cr, L, 721, [&](std::size_t k, float& la, float& lo) {
            la = static_cast<float>(lat);
            lo = static_cast<float>(-180.0 + 0.5 * k);
        });
    }
    double lat_a = std::fmax(-90.0, lat_lo - step), lat_b = std::fmin(90.0, lat_hi + step);
    std::size_t n = static_cast<std::size_t>((lat_b - lat_a) / 0.25) + 1;
    for (double lon = -180; lon < 180; lon += step) {
        earth_polyline(cr, L, n, [&](std::size_t k, float& la, float& lo) {
            la = static_cast<float>(std::fmin(lat_b, lat_a + 0.25 * k));
            lo = static_cast<float>(lon);
        });
    }
    cairo_stroke(cr);
}

void geo_lines(cairo_t* cr, const Layout& L, const std::vector<GeoLine>& lines)
{
    long n = 0;
    for (const GeoLine& line : lines) {
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
        unsigned char rgb[3];
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
    text(cr, x + w / 2, top - 8, units && *units ? units : "(no unit)", 12, 1);
}

}  // namespace

void DRAW_map_defaults(DRAW_map_opts* opts)
{
    if (!opts) return;
    *opts = DRAW_map_opts{1000, 700, -9999.0f, DRAW_PALETTE_AUTO, nullptr, nullptr, nullptr};
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
    graticule(cr, L, lat_lo, lat_hi, lon_span);
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_set_line_width(cr, 0.7);
    geo_lines(cr, L, border_lines(opts.coast_dir, res));
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    geo_lines(cr, L, coast_lines(opts.coast_dir, res));
    if (opts.cint > 0) {
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_set_line_width(cr, 1.1);
        contours(cr, grd, L, opts.cint);
    }
    cairo_restore(cr);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, L.x0 - 0.5, L.y0 - 0.5, L.px_w + 1, L.px_h + 1);
    cairo_stroke(cr);
    colour_bar(cr, &opts, scale, grd->units);
    std::string title;
    if (opts.title) {
        title = opts.title;
    } else {
        title = grd->info;
        if (grd->units[0] && !std::strstr(grd->info, grd->units)) title += std::string(" (") + grd->units + ")";
    }
    text(cr, kMargin, 24, title.c_str(), 17);
    text(cr, kMargin, 46, opts.time_label ? opts.time_label : grd->datim, 13);
    return canvas.write_png(filename);
}
