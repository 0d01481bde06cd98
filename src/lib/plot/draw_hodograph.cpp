// The hodograph inset of a sounding diagram: the wind trace in the plane of its components,
// coloured by height, with the storm motion and the low layers that feed a storm.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "draw_internal.hpp"

namespace draw_detail {

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kTopKm = 10.0;  // the trace ends here: higher winds say little about storms

struct Trace {
    double h, u, v;  // m above the lowest wind; kt towards which the wind blows
};

void components(double dir, double spd, double* u, double* v)
{
    double a = dir * M_PI / 180.0;
    *u = -spd * std::sin(a);
    *v = -spd * std::cos(a);
}

std::vector<Trace> trace(const UPA_level* w, int n, double* ground)
{
    std::vector<Trace> out;
    *ground = kMissing;
    for (int i = 0; w && i < n; ++i) {
        const UPA_level& l = w[i];
        if (l.h == kMissing || l.dir == kMissing || l.spd == kMissing || !std::isfinite(l.h) || l.spd < 0 ||
            l.spd > 400)
            continue;
        if (*ground == kMissing) *ground = l.h;
        double h = l.h - *ground;
        if (!out.empty() && h <= out.back().h) continue;
        if (h > kTopKm * 1000.0 + 1.0) break;
        Trace t{h, 0, 0};
        components(l.dir, l.spd, &t.u, &t.v);
        out.push_back(t);
    }
    return out;
}

// The wind at height h above the lowest wind, by linear interpolation.
bool wind_at(const std::vector<Trace>& tr, double h, double* u, double* v)
{
    for (std::size_t k = 0; k + 1 < tr.size(); ++k)
        if (h >= tr[k].h && h <= tr[k + 1].h) {
            double f = (h - tr[k].h) / (tr[k + 1].h - tr[k].h);
            *u = tr[k].u + f * (tr[k + 1].u - tr[k].u);
            *v = tr[k].v + f * (tr[k + 1].v - tr[k].v);
            return true;
        }
    return false;
}

struct Band {
    double top_km;
    double r, g, b;
};
constexpr Band kBands[] = {{1, 0.85, 0.0, 0.55}, {3, 0.9, 0.15, 0.1}, {6, 0.1, 0.6, 0.1}, {kTopKm, 0.85, 0.65, 0.0}};

}  // namespace

HodoBox hodograph_box(double left, double top, double size, const UPA_level* winds, int n, float storm_dir,
                      float storm_spd)
{
    HodoBox box{};
    std::vector<Trace> tr = trace(winds, n, &box.ground);
    box.ok = tr.size() >= 2 && size >= 60;
    box.size = size;
    box.left = left;
    box.top = top;
    // The view frames the trace, calm and the storm motion, so that a trace lying to one side
    // of calm (as most do) fills the square instead of a quarter of it.
    double u_lo = 0, u_hi = 0, v_lo = 0, v_hi = 0;
    auto take = [&](double u, double v) {
        u_lo = std::min(u_lo, u);
        u_hi = std::max(u_hi, u);
        v_lo = std::min(v_lo, v);
        v_hi = std::max(v_hi, v);
    };
    for (const Trace& t : tr) take(t.u, t.v);
    if (storm_dir != kMissing && storm_spd != kMissing && std::isfinite(storm_dir) && std::isfinite(storm_spd)) {
        double u, v;
        components(storm_dir, storm_spd, &u, &v);
        take(u, v);
    }
    double span = std::max(30.0, std::max(u_hi - u_lo, v_hi - v_lo)) * 1.1 + 6;
    double per_kt = (size - 16) / span;
    box.cx = left + size / 2 - (u_lo + u_hi) / 2 * per_kt;
    box.cy = top + size / 2 + (v_lo + v_hi) / 2 * per_kt;
    // Rings out to the farthest corner of the square.
    double far = 0;
    for (double x : {left, left + size})
        for (double y : {top, top + size}) far = std::max(far, std::hypot(x - box.cx, y - box.cy));
    box.max_kt = std::ceil(far / per_kt / 10.0) * 10.0;
    box.radius = box.max_kt * per_kt;
    return box;
}

void hodograph_point(const HodoBox& box, double u, double v, double* px, double* py)
{
    *px = box.cx + u / box.max_kt * box.radius;
    *py = box.cy - v / box.max_kt * box.radius;
}

void draw_hodograph(cairo_t* cr, const HodoBox& box, const UPA_level* winds, int n, float storm_dir, float storm_spd)
{
    if (!box.ok) return;
    double ground;
    std::vector<Trace> tr = trace(winds, n, &ground);
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.94);
    cairo_rectangle(cr, box.left, box.top, box.size, box.size);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_rectangle(cr, box.left, box.top, box.size, box.size);
    cairo_clip(cr);
    // Rings every 10 kt (labelled every 20), and the axes.
    cairo_set_line_width(cr, 0.6);
    char label[32];
    for (double r = 10; r <= box.max_kt + 1e-6; r += 10) {
        cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
        cairo_arc(cr, box.cx, box.cy, r / box.max_kt * box.radius, 0, 2 * M_PI);
        cairo_stroke(cr);
        if (static_cast<int>(r) % 20 == 0) {
            cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
            std::snprintf(label, sizeof label, "%g", r);
            text(cr, box.cx + r / box.max_kt * box.radius + 2, box.cy + 10, label, 9);
        }
    }
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    cairo_move_to(cr, box.left, box.cy);
    cairo_line_to(cr, box.left + box.size, box.cy);
    cairo_move_to(cr, box.cx, box.top);
    cairo_line_to(cr, box.cx, box.top + box.size);
    cairo_stroke(cr);

    // The storm's inflow: the 0-3 km (light) and 0-1 km (darker) areas swept relative to it.
    double su = 0, sv = 0;
    bool storm = storm_dir != kMissing && storm_spd != kMissing && std::isfinite(storm_dir) && std::isfinite(storm_spd);
    if (storm) components(storm_dir, storm_spd, &su, &sv);
    double sx = 0, sy = 0;
    if (storm) {
        hodograph_point(box, su, sv, &sx, &sy);
        for (double depth : {3000.0, 1000.0}) {
            cairo_move_to(cr, sx, sy);
            for (const Trace& t : tr) {
                if (t.h > depth) break;
                double px, py;
                hodograph_point(box, t.u, t.v, &px, &py);
                cairo_line_to(cr, px, py);
            }
            double u, v, px, py;
            if (wind_at(tr, depth, &u, &v)) {
                hodograph_point(box, u, v, &px, &py);
                cairo_line_to(cr, px, py);
            }
            cairo_close_path(cr);
            cairo_set_source_rgba(cr, depth > 1000 ? 0.95 : 0.85, depth > 1000 ? 0.7 : 0.3, depth > 1000 ? 0.7 : 0.6,
                                  depth > 1000 ? 0.25 : 0.35);
            cairo_fill(cr);
        }
    }

    // The trace, band by band, with the band boundaries interpolated.
    cairo_set_line_width(cr, 2.4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    double bottom_km = 0;
    for (const Band& band : kBands) {
        cairo_set_source_rgb(cr, band.r, band.g, band.b);
        bool down = false;
        auto point = [&](double u, double v) {
            double px, py;
            hodograph_point(box, u, v, &px, &py);
            down ? cairo_line_to(cr, px, py) : cairo_move_to(cr, px, py);
            down = true;
        };
        double u, v;
        if (wind_at(tr, bottom_km * 1000, &u, &v)) point(u, v);
        for (const Trace& t : tr)
            if (t.h > bottom_km * 1000 && t.h < band.top_km * 1000) point(t.u, t.v);
        if (wind_at(tr, band.top_km * 1000, &u, &v)) point(u, v);
        else if (!tr.empty() && tr.back().h > bottom_km * 1000) point(tr.back().u, tr.back().v);
        cairo_stroke(cr);
        bottom_km = band.top_km;
    }
    // Dots at 1 and 3 km.
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (double km : {1.0, 3.0}) {
        double u, v, px, py;
        if (!wind_at(tr, km * 1000, &u, &v)) continue;
        hodograph_point(box, u, v, &px, &py);
        cairo_arc(cr, px, py, 3.2, 0, 2 * M_PI);
        cairo_fill(cr);
        std::snprintf(label, sizeof label, "%g", km);
        text(cr, px + 5, py - 4, label, 10);
    }
    if (storm) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, 1.4);
        cairo_arc(cr, sx, sy, 4.5, 0, 2 * M_PI);
        cairo_move_to(cr, sx - 7, sy);
        cairo_line_to(cr, sx + 7, sy);
        cairo_move_to(cr, sx, sy - 7);
        cairo_line_to(cr, sx, sy + 7);
        cairo_stroke(cr);
        text(cr, sx + 7, sy + 13, "RM", 9);
    }
    // Key of the colours.
    double kx = box.left + 6, ky = box.top + 13;
    bottom_km = 0;
    for (const Band& band : kBands) {
        cairo_set_source_rgb(cr, band.r, band.g, band.b);
        std::snprintf(label, sizeof label, "%g-%g km", bottom_km, band.top_km);
        text(cr, kx, ky, label, 9);
        ky += 11;
        bottom_km = band.top_km;
    }
    cairo_restore(cr);
}

}  // namespace draw_detail
