// Wind symbols shared by maps and diagrams: barbs in knots and arrows.
#include <cmath>

#include "draw_internal.hpp"

namespace draw_detail {

void barb(cairo_t* cr, double x, double y, double ux, double uy, double kt, int side)
{
    if (kt < 2.5) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, 4, 0, 2 * M_PI);
        cairo_stroke(cr);
        return;
    }
    const double len = 28, gap = 5, feather = 11;
    double fx = -uy * side, fy = ux * side;  // feather side
    double tx = x + ux * len, ty = y + uy * len;
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, tx, ty);
    cairo_stroke(cr);
    int knots = static_cast<int>(std::lround(kt / 5.0) * 5);
    double pos = 0;
    while (knots >= 50) {
        double bx = tx - ux * pos, by = ty - uy * pos;
        cairo_move_to(cr, bx, by);
        cairo_line_to(cr, bx + fx * feather - ux * 2, by + fy * feather - uy * 2);
        cairo_line_to(cr, bx - ux * gap, by - uy * gap);
        cairo_close_path(cr);
        cairo_fill(cr);
        pos += gap + 1;
        knots -= 50;
    }
    while (knots >= 10) {
        double bx = tx - ux * pos, by = ty - uy * pos;
        cairo_move_to(cr, bx, by);
        cairo_line_to(cr, bx + fx * feather + ux * 3, by + fy * feather + uy * 3);
        cairo_stroke(cr);
        pos += gap;
        knots -= 10;
    }
    if (knots >= 5) {
        if (pos == 0) pos = gap;
        double bx = tx - ux * pos, by = ty - uy * pos;
        cairo_move_to(cr, bx, by);
        cairo_line_to(cr, bx + fx * feather / 2 + ux * 1.5, by + fy * feather / 2 + uy * 1.5);
        cairo_stroke(cr);
    }
}

void arrow(cairo_t* cr, double x, double y, double ux, double uy, double length)
{
    if (length < 1) return;
    // The arrow points downwind: from the point away from where the wind comes.
    double tx = x - ux * length, ty = y - uy * length;
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, tx, ty);
    cairo_stroke(cr);
    double head = std::min(7.0, length * 0.4);
    double px = -uy, py = ux;
    cairo_move_to(cr, tx, ty);
    cairo_line_to(cr, tx + ux * head + px * head * 0.5, ty + uy * head + py * head * 0.5);
    cairo_line_to(cr, tx + ux * head - px * head * 0.5, ty + uy * head - py * head * 0.5);
    cairo_close_path(cr);
    cairo_fill(cr);
}

}  // namespace draw_detail
