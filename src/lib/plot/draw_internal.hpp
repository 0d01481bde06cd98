// Shared pieces of the picture writers: the Cairo canvas, colour tables, text and the
// binned coastline set. Not a public header.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "draw.hpp"

namespace draw_detail {

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// A white ARGB picture with its drawing context.
class Canvas {
public:
    Canvas(int width, int height);
    bool ok() const;
    cairo_t* cr() const { return cr_.get(); }
    cairo_surface_t* surface() const { return surface_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }
    // Writes the picture; -1 with a message naming the file and the system's reason.
    int write_png(const char* filename) const;

private:
    int width_, height_;
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface_;
    std::unique_ptr<cairo_t, ContextFree> cr_;
};

// Text in the house font; align 0 left, 1 centre, 2 right of x; y is the baseline.
void text(cairo_t* cr, double x, double y, const char* str, double size, int align = 0);

// Round step of about range / count: 1, 2 or 5 times a power of ten.
double nice_step(double range, int count);

// One coastline or border piece in degrees.
struct GeoLine {
    std::vector<float> lat, lon;
    int level;  // coastlines: 1 shore, 2 lake; borders: 1 national, 2 first-level (states)
};
// Coastlines (levels 1-2: shores and lakes) and borders (national and first-level) of the binned set in dir
// at resolution letter res ('c', 'l', 'i'). Loaded once per process and resolution; an empty
// list (and one warning per process) when the set cannot be read.
const std::vector<GeoLine>& coast_lines(const char* dir, char res);
const std::vector<GeoLine>& border_lines(const char* dir, char res);

}  // namespace draw_detail

namespace draw_detail {

// The hodograph of a diagram in the square left, top, size, framing the trace and the storm
// motion (deg, kt; -9999 none): calm at pixel (cx, cy), radius pixels for max_kt (the rings'
// reach); ok false when fewer than two winds have a height.
struct HodoBox {
    double left, top, size;  // square of the inset, pixels
    double cx, cy, radius;
    double max_kt;
    double ground;           // m, height of the lowest wind
    bool ok;
};
HodoBox hodograph_box(double left, double top, double size, const UPA_level* winds, int n, float storm_dir,
                      float storm_spd);
// Pixel of the wind (u, v in kt, towards which it blows) on the inset.
void hodograph_point(const HodoBox& box, double u, double v, double* px, double* py);
// Rings, the wind trace coloured by height above the lowest wind (0-1, 1-3, 3-6, 6-10 km), dots
// at 1 and 3 km, and the storm motion (deg, kt; -9999 none) with its 0-1 and 0-3 km sweep.
void draw_hodograph(cairo_t* cr, const HodoBox& box, const UPA_level* winds, int n, float storm_dir, float storm_spd);

}  // namespace draw_detail

namespace draw_detail {

// Contour labels: candidate places along the lines are offered in drawing order; one is kept
// when no label of its level lies within spacing pixels and no label at all within a label's
// length, and none within a margin of the frame.
class ContourLabels {
public:
    ContourLabels(double left, double top, double right, double bottom, double spacing)
        : left_(left), top_(top), right_(right), bottom_(bottom), spacing_(spacing) {}
    void offer(double level, double x, double y, double angle);
    // Keeps labels away from (x, y): an H or L mark.
    void block(double x, double y);
    // Each kept label: the value (decimals as the interval needs) on a white box along the line.
    void draw(cairo_t* cr, double cint) const;

private:
    struct Label {
        double level, x, y, angle;
    };
    double left_, top_, right_, bottom_, spacing_;
    std::vector<Label> kept_;
};

// A high or low centre at grid point (i, j).
struct Extreme {
    bool high;
    int i, j;
    float value;
};
// True for fields whose centres forecasters mark: heights and pressures.
bool wants_extremes(const GRD_report* grd);
std::vector<Extreme> find_extremes(const GRD_report* grd);
// A blue H or red L centred on (x, y) with the value under it.
void draw_extreme(cairo_t* cr, double x, double y, const Extreme& e, const char* units);

// Wind barbs (kt) or arrows on a map: staff from (x, y) towards where the wind comes from;
// (ux, uy) is the unit vector in pixels pointing that way; feathers on the side forecasters
// of that hemisphere expect (south: side -1).
void barb(cairo_t* cr, double x, double y, double ux, double uy, double kt, int side);
void arrow(cairo_t* cr, double x, double y, double ux, double uy, double length);

}  // namespace draw_detail
