// Thermodynamic diagrams of one sounding: background lines, temperature and dew-point
// profiles, the surface parcel's path with its positive and negative areas, wind barbs by
// pressure and a side table of indices.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "draw_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "thm_tool.hpp"

using namespace draw_detail;

namespace {

constexpr int kTitleHeight = 58;
constexpr int kLeft = 52;
constexpr int kBarbColumn = 70;
constexpr int kTable = 220;
constexpr int kBottom = 36;
constexpr float kMissing = -9999.0f;
constexpr double kKelvin = 273.15;

struct Frame {
    double x0, y0, w, h;  // plot area in pixels
    MAP_limits lim;       // plane window of the diagram
};

bool valid_opts(const DRAW_diagram_opts& o)
{
    return o.proj >= 40 && o.proj <= 44 && o.p_bottom > o.p_top && o.p_top > 0 && o.t_right > o.t_left &&
           o.width - kLeft - kBarbColumn - kTable > 50 && o.height - kTitleHeight - kBottom > 50;
}

// Makes the diagram the active domain: its two "earth" inputs are temperature (C) and pressure
// (mb), centred on the middle of each range, and the view is the plot area in pixels.
bool make_frame(const DRAW_diagram_opts& o, Frame& f)
{
    if (!valid_opts(o)) return false;
    f.x0 = kLeft;
    f.y0 = kTitleHeight;
    f.w = o.width - kLeft - kBarbColumn - kTable;
    f.h = o.height - kTitleHeight - kBottom;
    Domain dom;
    DOM_init(&dom);
    dom.proj = o.proj;
    dom.clat = (o.t_left + o.t_right) / 2;
    dom.clon = (o.p_bottom + o.p_top) / 2;
    dom.nx = 2;
    dom.ny = 2;
    dom.dx = o.t_right - o.t_left;
    dom.dy = o.p_bottom - o.p_top;
    if (MAP_domain(&dom) != 0) return false;
    MAP_limits view{0.0f, static_cast<float>(f.w), 0.0f, static_cast<float>(f.h)};
    MAP_set_view(&view);
    if (MAP_get_limits(&f.lim) != 0) return false;
    return f.lim.x_max > f.lim.x_min && f.lim.y_max > f.lim.y_min;
}

bool to_pixel(const Frame& f, double t, double p, double& px, double& py)
{
    float x, y;
    if (!(p > 0) || !MAP_tran(static_cast<float>(t), static_cast<float>(p), &x, &y)) return false;
    px = f.x0 + (x - f.lim.x_min) / (f.lim.x_max - f.lim.x_min) * f.w;
    py = f.y0 + (f.lim.y_max - y) / (f.lim.y_max - f.lim.y_min) * f.h;
    return std::isfinite(px) && std::isfinite(py);
}

// A curve T(p) sampled between two pressures on a logarithmic spacing.
template <typename Fn>
void curve(cairo_t* cr, const Frame& f, double p_from, double p_to, int samples, Fn temp_at)
{
    bool down = false;
    for (int k = 0; k <= samples; ++k) {
        double p = p_from * std::pow(p_to / p_from, static_cast<double>(k) / samples);
        double t = temp_at(p);
        double px, py;
        if (!std::isfinite(t) || t <= -kKelvin || !to_pixel(f, t, p, px, py)) {
            down = false;
            continue;
        }
        if (down)
            cairo_line_to(cr, px, py);
        else
            cairo_move_to(cr, px, py);
        down = true;
    }
    cairo_stroke(cr);
}

void background(cairo_t* cr, const Frame& f, const DRAW_diagram_opts& o)
{
    static const double isobars[] = {1050, 1000, 925, 850, 700, 600, 500, 400, 300, 250, 200, 150, 100, 70, 50};
    cairo_set_line_width(cr, 0.8);
    cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
    for (double p : isobars) {
        if (p > o.p_bottom || p < o.p_top) continue;
        bool down = false;
        for (double t = -160; t <= 80; t += 2) {
            double px, py;
            if (!to_pixel(f, t, p, px, py)) continue;
            down ? cairo_line_to(cr, px, py) : cairo_move_to(cr, px, py);
            down = true;
        }
        cairo_stroke(cr);
    }
    for (double t = -160; t <= 60; t += 10) {
        cairo_set_source_rgb(cr, t == 0 ? 0.2 : 0.6, t == 0 ? 0.2 : 0.6, t == 0 ? 0.8 : 0.6);
        curve(cr, f, o.p_bottom, o.p_top, 16, [t](double) { return t; });
    }
    cairo_set_line_width(cr, 0.7);
    cairo_set_source_rgb(cr, 0.8, 0.55, 0.3);  // dry adiabats
    for (double theta = 230; theta <= 480; theta += 10)
        curve(cr, f, o.p_bottom, o.p_top, 40, [theta](double p) {
            return temp_on_dryad(static_cast<float>(theta), static_cast<float>(p)) - kKelvin;
        });
    // Saturated adiabats and mixing-ratio lines in pale blue and grey, so that the green dew
    // point is the only green on the diagram.
    cairo_set_source_rgb(cr, 0.55, 0.62, 0.85);  // saturated adiabats, labelled by 1000 mb temperature
    for (double t1000 = -20; t1000 <= 36; t1000 += 4) {
        float label = thetae_on_satad(static_cast<float>(t1000 + kKelvin), 1000.0f);
        if (!(label > 0)) continue;
        curve(cr, f, std::min<double>(o.p_bottom, 1050), std::max<double>(o.p_top, 200), 40, [label](double p) {
            float t = temp_on_satad(label, static_cast<float>(p));
            return t > 0 ? t - kKelvin : NAN;
        });
    }
    double dashes[] = {4.0, 3.0};
    cairo_set_dash(cr, dashes, 2, 0);
    cairo_set_source_rgb(cr, 0.62, 0.62, 0.62);  // saturation mixing ratio, g/kg
    static const double ratios[] = {1, 2, 3, 5, 8, 12, 16, 20};
    for (double w : ratios)
        curve(cr, f, o.p_bottom, std::max<double>(o.p_top, 600), 12, [w](double p) {
            float t = temp_on_mixrat(static_cast<float>(w), static_cast<float>(p));
            return t > 0 ? t - kKelvin : NAN;
        });
    cairo_set_dash(cr, nullptr, 0, 0);
}

void axis_labels(cairo_t* cr, const Frame& f, const DRAW_diagram_opts& o)
{
    static const double isobars[] = {1000, 850, 700, 500, 400, 300, 250, 200, 150, 100};
    cairo_set_source_rgb(cr, 0, 0, 0);
    char label[16];
    for (double p : isobars) {
        if (p > o.p_bottom || p < o.p_top) continue;
        double px, py;
        if (!to_pixel(f, o.t_left, p, px, py)) continue;
        std::snprintf(label, sizeof label, "%g", p);
        text(cr, f.x0 - 4, py + 4, label, 11, 2);
    }
    for (double t = -160; t <= 60; t += 10) {
        double px, py;
        if (!to_pixel(f, t, o.p_bottom, px, py) || px < f.x0 || px > f.x0 + f.w) continue;
        std::snprintf(label, sizeof label, "%g", t);
        text(cr, px, f.y0 + f.h + 14, label, 11, 1);
    }
    text(cr, f.x0 + f.w / 2, f.y0 + f.h + 30, "Temperature (C)", 12, 1);
}

// Levels with a known pressure and a known value of the chosen field, by decreasing pressure.
struct Profile {
    std::vector<double> p, v;
};
Profile profile(const UPA_level* lev, int n, bool dew)
{
    Profile out;
    for (int i = 0; i < n; ++i) {
        float v = dew ? lev[i].td : lev[i].t;
        if (lev[i].p == kMissing || !(lev[i].p > 0) || v == kMissing || !std::isfinite(v)) continue;
        if (!out.p.empty() && lev[i].p >= out.p.back()) continue;  // out of order or repeated: skipped
        out.p.push_back(lev[i].p);
        out.v.push_back(v);
    }
    return out;
}

void draw_profile(cairo_t* cr, const Frame& f, const Profile& pr)
{
    bool down = false;
    for (std::size_t k = 0; k < pr.p.size(); ++k) {
        double px, py;
        if (!to_pixel(f, pr.v[k], pr.p[k], px, py)) {
            down = false;
            continue;
        }
        down ? cairo_line_to(cr, px, py) : cairo_move_to(cr, px, py);
        down = true;
    }
    cairo_stroke(cr);
}

// Environment temperature at p by linear interpolation in log p; NaN outside the profile.
double env_at(const Profile& pr, double p)
{
    for (std::size_t k = 0; k + 1 < pr.p.size(); ++k)
        if (p <= pr.p[k] && p >= pr.p[k + 1]) {
            double w = std::log(pr.p[k] / p) / std::log(pr.p[k] / pr.p[k + 1]);
            return pr.v[k] + w * (pr.v[k + 1] - pr.v[k]);
        }
    return NAN;
}

// The surface parcel: dry adiabat to its condensation level, saturated adiabat above.
struct Parcel {
    double ps = 0, plcl = 0, theta = 0, label = 0;
    bool ok = false;
    double temp(double p) const
    {
        if (p >= plcl) return temp_on_dryad(static_cast<float>(theta), static_cast<float>(p)) - kKelvin;
        float t = temp_on_satad(static_cast<float>(label), static_cast<float>(p));
        return t > 0 ? t - kKelvin : NAN;
    }
};
Parcel given_parcel(const DRAW_parcel& given)
{
    Parcel pc;
    if (given.p == kMissing || given.plcl == kMissing || given.tlcl == kMissing || !(given.p > 0) ||
        !(given.plcl > 0) || given.plcl > given.p || !(given.tlcl > 0))
        return pc;
    pc.ps = given.p;
    pc.plcl = given.plcl;
    pc.theta = pot_temp(given.tlcl, given.plcl);
    pc.label = thetae_on_satad(given.tlcl, given.plcl);
    pc.ok = pc.theta > 0 && pc.label > 0;
    return pc;
}

Parcel surface_parcel(const UPA_level* lev, int n)
{
    Parcel pc;
    for (int i = 0; i < n; ++i) {
        const UPA_level& l = lev[i];
        if (l.p == kMissing || l.t == kMissing || l.td == kMissing || !(l.p > 0)) continue;
        float ts = static_cast<float>(l.t + kKelvin), tds = static_cast<float>(std::min(l.td, l.t) + kKelvin);
        float plcl = lcl_pres(ts, tds, l.p);
        if (!(plcl > 0) || plcl > l.p) return pc;
        float tlcl = lcl_temp(ts, l.p, plcl);
        pc.ps = l.p;
        pc.plcl = plcl;
        pc.theta = pot_temp(ts, l.p);
        pc.label = thetae_on_satad(tlcl, plcl);
        pc.ok = pc.theta > 0 && pc.label > 0;
        return pc;
    }
    return pc;
}

void parcel_path(cairo_t* cr, const Frame& f, const Parcel& pc, double p_top)
{
    cairo_set_line_width(cr, 1.4);
    double dashes[] = {6.0, 4.0};
    cairo_set_dash(cr, dashes, 2, 0);
    bool down = false;
    for (double p = pc.ps;; p -= 5) {
        if (p < p_top) p = p_top;
        double t = pc.temp(p), px, py;
        if (!std::isfinite(t) || !to_pixel(f, t, p, px, py)) {
            down = false;
        } else {
            down ? cairo_line_to(cr, px, py) : cairo_move_to(cr, px, py);
            down = true;
        }
        if (p <= p_top) break;
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

void parcel_areas(cairo_t* cr, const Frame& f, const Parcel& pc, const Profile& env, double p_top)
{
    std::vector<double> ps;
    for (double p = pc.ps; p > p_top; p -= 5) ps.push_back(p);
    ps.push_back(p_top);
    std::vector<double> tp(ps.size()), te(ps.size());
    double p_highest_warm = 0;
    for (std::size_t k = 0; k < ps.size(); ++k) {
        tp[k] = pc.temp(ps[k]);
        te[k] = env_at(env, ps[k]);
        if (tp[k] > te[k]) p_highest_warm = ps[k];
    }
    // Positive area wherever the parcel is warmer; negative area only below the last warm
    // layer, the energy the parcel must be lifted through.
    for (std::size_t k = 0; k + 1 < ps.size(); ++k) {
        if (!std::isfinite(tp[k]) || !std::isfinite(tp[k + 1]) || !std::isfinite(te[k]) || !std::isfinite(te[k + 1]))
            continue;
        double diff = (tp[k] - te[k]) + (tp[k + 1] - te[k + 1]);
        if (diff < 0 && !(ps[k + 1] >= p_highest_warm)) continue;
        double ax, ay, bx, by, cx, cy, dx, dy;
        if (!to_pixel(f, tp[k], ps[k], ax, ay) || !to_pixel(f, tp[k + 1], ps[k + 1], bx, by) ||
            !to_pixel(f, te[k + 1], ps[k + 1], cx, cy) || !to_pixel(f, te[k], ps[k], dx, dy))
            continue;
        if (diff > 0)
            cairo_set_source_rgba(cr, 0.95, 0.3, 0.2, 0.35);
        else
            cairo_set_source_rgba(cr, 0.2, 0.4, 0.95, 0.35);
        cairo_move_to(cr, ax, ay);
        cairo_line_to(cr, bx, by);
        cairo_line_to(cr, cx, cy);
        cairo_line_to(cr, dx, dy);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    parcel_path(cr, f, pc, p_top);
}

// Where a parcel's path differs visibly from the surface parcel's.
bool differs(const Parcel& a, const Parcel& b)
{
    return std::fabs(a.label - b.label) > 0.5 || std::fabs(a.plcl - b.plcl) > 5 || std::fabs(a.ps - b.ps) > 5;
}

// A short tick to the right of the parcel's path at p with its name: LCL, LFC, EL.
void parcel_mark(cairo_t* cr, const Frame& f, const Parcel& pc, double p, const char* name)
{
    if (!(p > 0) || p > pc.ps) return;
    double t = pc.temp(p), px, py;
    if (!std::isfinite(t) || !to_pixel(f, t, p, px, py) || py < f.y0 || py > f.y0 + f.h) return;
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, px + 6, py);
    cairo_line_to(cr, px + 24, py);
    cairo_stroke(cr);
    text(cr, px + 27, py + 4, name, 11);
}

// Heights above the first level, every km, ticked inside the pressure axis.
void height_ticks(cairo_t* cr, const Frame& f, const DRAW_diagram_opts& o, const UPA_level* lev, int n)
{
    std::vector<double> p, h;
    for (int i = 0; i < n; ++i) {
        const UPA_level& l = lev[i];
        if (l.p == kMissing || l.h == kMissing || !(l.p > 0) || !std::isfinite(l.h)) continue;
        if (!h.empty() && (l.h <= h.back() || l.p >= p.back())) continue;
        p.push_back(l.p);
        h.push_back(l.h);
    }
    if (h.size() < 2) return;
    cairo_set_source_rgb(cr, 0.45, 0.1, 0.1);
    cairo_set_line_width(cr, 1.2);
    char label[16];
    for (int km = 1; km <= 20; ++km) {
        double target = h.front() + km * 1000.0;
        if (target > h.back()) break;
        std::size_t k = 0;
        while (k + 2 < h.size() && h[k + 1] < target) ++k;
        double w = (target - h[k]) / (h[k + 1] - h[k]);
        double pk = std::exp(std::log(p[k]) + w * (std::log(p[k + 1]) - std::log(p[k])));
        if (pk > o.p_bottom || pk < o.p_top) continue;
        double px, py;
        if (!to_pixel(f, o.t_left, pk, px, py)) continue;
        cairo_move_to(cr, f.x0, py);
        cairo_line_to(cr, f.x0 + 8, py);
        cairo_stroke(cr);
        std::snprintf(label, sizeof label, km == 1 ? "%d km AGL" : "%d km", km);
        text(cr, f.x0 + 10, py + 4, label, 9);
    }
}

// A wind barb at (x, y): the staff points into the wind (dir, deg from north), feathers on
// the clockwise side.
void barb(cairo_t* cr, double x, double y, double dir, double spd)
{
    double a = dir * M_PI / 180;
    draw_detail::barb(cr, x, y, std::sin(a), -std::cos(a), spd, 1);
}

void winds(cairo_t* cr, const Frame& f, const DRAW_diagram_opts& o, const UPA_level* w, int n)
{
    double x = f.x0 + f.w + kBarbColumn - 14;
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.2);
    cairo_move_to(cr, x, f.y0);
    cairo_line_to(cr, x, f.y0 + f.h);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    double last_y = -100;
    for (int i = 0; i < n; ++i) {
        const UPA_level& l = w[i];
        if (l.p == kMissing || l.dir == kMissing || l.spd == kMissing || l.p > o.p_bottom || l.p < o.p_top ||
            l.spd < 0 || l.spd > 500)
            continue;
        double px, py;
        if (!to_pixel(f, o.t_left, l.p, px, py)) continue;
        if (std::fabs(py - last_y) < 12) continue;  // barbs closer than this overlap
        barb(cr, x, py, l.dir, l.spd);
        last_y = py;
    }
}

// The hodograph sits at the foot of the side column, under the table.
HodoBox hodograph_of(const DRAW_diagram_opts& o, const UPA_level* winds, int n)
{
    double size = kTable - 12;
    return hodograph_box(o.width - kTable + 6, o.height - kBottom - size, size, winds, n, o.storm_dir, o.storm_spd);
}

void side_table(cairo_t* cr, const DRAW_diagram_opts& o, const DRAW_index* table, int n)
{
    double x = o.width - kTable + 12, y = kTitleHeight + 14;
    cairo_set_source_rgb(cr, 0, 0, 0);
    text(cr, x, y, "Indices", 14);
    y += 22;
    char line[96];
    for (int i = 0; i < n && y < o.height - (o.hodograph == 1 ? kTable : 10); ++i) {
        if (!table[i].label) continue;
        if (!table[i].units && table[i].value == kMissing) {  // a note in small type
            cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
            text(cr, x, y, table[i].label, 10);
            cairo_set_source_rgb(cr, 0, 0, 0);
            y += 15;
            continue;
        }
        text(cr, x, y, table[i].label, 12);
        if (table[i].value == kMissing || !std::isfinite(table[i].value))
            std::snprintf(line, sizeof line, "M");
        else
            std::snprintf(line, sizeof line, std::fabs(table[i].value) >= 100 ? "%.0f %s" : "%.1f %s", table[i].value,
                          table[i].units ? table[i].units : "");
        text(cr, o.width - 12, y, line, 12, 2);
        y += 19;
    }
}

}  // namespace

void DRAW_diagram_defaults(DRAW_diagram_opts* opts)
{
    if (!opts) return;
    const DRAW_parcel none{kMissing, kMissing, kMissing};
    *opts = DRAW_diagram_opts{1000,  800,      40,       nullptr, nullptr, 1050.0f, 100.0f, -40.0f, 50.0f,
                              none,  kMissing, kMissing, none,    none,    1,       kMissing, kMissing};
}

int DRAW_diagram_pixel(const DRAW_diagram_opts* opts, float t, float p, float* px, float* py)
{
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    if (opts) o = *opts;
    if (!px || !py) return 0;
    MAP_keep_domain guard;
    Frame f;
    double x, y;
    if (!make_frame(o, f) || !to_pixel(f, t, p, x, y)) return 0;
    *px = static_cast<float>(x);
    *py = static_cast<float>(y);
    return x >= f.x0 && x <= f.x0 + f.w && y >= f.y0 && y <= f.y0 + f.h;
}

int DRAW_hodograph_pixel(const DRAW_diagram_opts* opts, const UPA_level* winds, int nwinds, float dir, float spd,
                         float* px, float* py)
{
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    if (opts) o = *opts;
    if (!px || !py || o.hodograph != 1 || !valid_opts(o)) return 0;
    HodoBox box = hodograph_of(o, winds, nwinds);
    if (!box.ok) return 0;
    double a = dir * M_PI / 180.0, x, y;
    hodograph_point(box, -spd * std::sin(a), -spd * std::cos(a), &x, &y);
    *px = static_cast<float>(x);
    *py = static_cast<float>(y);
    return 1;
}

int DRAW_diagram_png(const UPA_level* levels, int nlevels, const UPA_level* wind, int nwind, const DRAW_index* table,
                     int ntable, const char* filename, const DRAW_diagram_opts* opts_in)
{
    DRAW_diagram_opts o;
    DRAW_diagram_defaults(&o);
    if (opts_in) o = *opts_in;
    if (o.width > 20000 || o.height > 20000) {
        MESS_print(M_error, "DRAW: Picture size %dx%d is too large\n", o.width, o.height);
        return -1;
    }
    MAP_keep_domain guard;
    Frame f;
    if (!make_frame(o, f)) {
        MESS_print(M_error, "DRAW: Unusable diagram settings (projection %d, %dx%d pixels)\n", o.proj, o.width, o.height);
        return -1;
    }
    if (!levels) nlevels = 0;
    if (!wind) nwind = 0;
    if (!table) ntable = 0;
    Canvas canvas(o.width, o.height);
    if (!canvas.ok()) {
        MESS_print(M_error, "DRAW: Unable to make a %dx%d picture\n", o.width, o.height);
        return -1;
    }
    cairo_t* cr = canvas.cr();
    Profile temp = profile(levels, nlevels, false), dew = profile(levels, nlevels, true);

    cairo_save(cr);
    cairo_rectangle(cr, f.x0, f.y0, f.w, f.h);
    cairo_clip(cr);
    background(cr, f, o);
    Parcel pc = o.sfc_parcel.p != kMissing ? given_parcel(o.sfc_parcel) : surface_parcel(levels, nlevels);
    if (pc.ok && temp.p.size() >= 2) parcel_areas(cr, f, pc, temp, o.p_top);
    struct Other {
        Parcel pc;
        double r, g, b;
        const char* name;
    } others[] = {{given_parcel(o.ml_parcel), 0.6, 0.35, 0.0, "ML"}, {given_parcel(o.mu_parcel), 0.55, 0.0, 0.65, "MU"}};
    for (const Other& other : others) {
        if (!other.pc.ok || (pc.ok && !differs(other.pc, pc))) continue;
        cairo_set_source_rgb(cr, other.r, other.g, other.b);
        parcel_path(cr, f, other.pc, o.p_top);
        double px, py, t = other.pc.temp(o.p_top + 40);
        if (std::isfinite(t) && to_pixel(f, t, o.p_top + 40, px, py)) text(cr, px + 4, py, other.name, 10);
    }
    cairo_set_line_width(cr, 2.4);
    cairo_set_source_rgb(cr, 0.85, 0.1, 0.1);
    draw_profile(cr, f, temp);
    cairo_set_line_width(cr, 2.8);
    cairo_set_source_rgb(cr, 0.0, 0.55, 0.1);
    draw_profile(cr, f, dew);
    if (pc.ok) {
        parcel_mark(cr, f, pc, pc.plcl, "LCL");
        if (o.lfc != kMissing) parcel_mark(cr, f, pc, o.lfc, "LFC");
        if (o.el != kMissing) parcel_mark(cr, f, pc, o.el, "EL");
    }
    height_ticks(cr, f, o, levels, nlevels);
    cairo_restore(cr);
    if (o.hodograph == 1) draw_hodograph(cr, hodograph_of(o, wind, nwind), wind, nwind, o.storm_dir, o.storm_spd);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, f.x0 - 0.5, f.y0 - 0.5, f.w + 1, f.h + 1);
    cairo_stroke(cr);
    axis_labels(cr, f, o);
    winds(cr, f, o, wind, nwind);
    side_table(cr, o, table, ntable);
    text(cr, kLeft, 24, o.title ? o.title : "Sounding", 17);
    if (o.time_label) text(cr, kLeft, 46, o.time_label, 13);
    return canvas.write_png(filename);
}
