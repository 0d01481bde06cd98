// Words on maps: the title lines, units as a reader writes them, contour labels along the
// lines, H and L at the centres of height and pressure fields, and the latitude/longitude
// labels round the frame.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "date.hpp"
#include "draw_internal.hpp"
#include "string.hpp"
#include "var_tool.hpp"

namespace {

struct UnitText {
    const char* unit;
    const char* text;
};
constexpr UnitText kUnitTexts[] = {{"C", "\u00b0C"},     {"degC", "\u00b0C"}, {"dC", "\u00b0C"},
                                   {"F", "\u00b0F"},     {"degF", "\u00b0F"}, {"percent", "%"},
                                   {"mb", "hPa"},        {"millibar", "hPa"}, {"m_s-1", "m/s"},
                                   {"m s-1", "m/s"},     {"m s**-1", "m/s"},  {"kts", "kt"},
                                   {"knots", "kt"},      {"gpm", "m"}};

std::string reader_unit(const char* units)
{
    if (!units) return "";
    for (const UnitText& u : kUnitTexts)
        if (std::strcmp(units, u.unit) == 0) return u.text;
    return units;
}

// The forecast time as a forecaster reads it ("24 h", "acc 0-6 h"); a range (statistic or
// not) has a dash. Every use of the time texts goes through here and valid_label.
std::string time_text(int coded_time, bool* range)
{
    char text[48] = "";
    VAR_time_text(coded_time, text, sizeof text);
    *range = std::strchr(text, '-') != nullptr;
    return text;
}

// The valid time of a coded forecast time, as a date label; empty when it cannot be had.
std::string valid_label(const Date* reference, int coded_time)
{
    Date valid;
    char label[DATE_LABEL_LEN] = "";
    if (VAR_valid_date(reference, coded_time, &valid) != 0 || DATE_make_label(&valid, label, sizeof label) != 0)
        return "";
    return label;
}

}  // namespace

void DRAW_unit_text(const char* units, char* text, int size)
{
    if (!text || size <= 0) return;
    str_copy(text, static_cast<std::size_t>(size), reader_unit(units).c_str());
}

int DRAW_map_titles(const GRD_report* grd, char* what, int what_size, char* when, int when_size)
{
    if (!grd || !what || !when || what_size <= 0 || when_size <= 0) return -1;
    // What: the description without its unit, the statistic and step range, the reader's unit.
    std::string info = grd->info;
    std::string unit = reader_unit(grd->units);
    if (grd->units[0]) {
        std::string tail = std::string(" (") + grd->units + ")";
        std::size_t at = info.rfind(tail);
        if (at != std::string::npos && at + tail.size() == info.size()) info.erase(at);
    }
    bool range = false;
    std::string step = grd->time == -9999 || grd->time == 0 ? "" : time_text(grd->time, &range);
    if (range) info += ", " + step;
    if (!unit.empty()) info += " (" + unit + ")";
    str_copy(what, static_cast<std::size_t>(what_size), info.c_str());

    // When: valid time first, then the step and the reference time.
    char ref[DATE_LABEL_LEN] = "";
    bool dated = grd->date.year != -9999 && DATE_make_label(&grd->date, ref, sizeof ref) == 0 && ref[0];
    std::string line, valid = dated && !step.empty() ? valid_label(&grd->date, grd->time) : "";
    if (!dated)
        line = grd->datim;
    else if (step.empty())
        line = std::string("Analysis ") + ref;
    else if (valid.empty())
        line = std::string(ref) + "   " + step;
    else
        line = "Valid " + valid + "   (" + (range ? "" : "+" + step + " ") + "from " + ref + ")";
    str_copy(when, static_cast<std::size_t>(when_size), line.c_str());
    return 0;
}

namespace draw_detail {

void ContourLabels::block(double x, double y) { kept_.push_back({NAN, x, y, 0}); }

void ContourLabels::offer(double level, double x, double y, double angle)
{
    if (x < left_ + 18 || x > right_ - 18 || y < top_ + 10 || y > bottom_ - 10) return;
    // Another label of this level within spacing, or of any level within a label's length,
    // keeps this one off.
    for (const Label& l : kept_) {
        double d2 = (l.x - x) * (l.x - x) + (l.y - y) * (l.y - y);
        if (d2 < 45.0 * 45.0 || (l.level == level && d2 < spacing_ * spacing_)) return;
    }
    kept_.push_back({level, x, y, angle});
}

void ContourLabels::draw(cairo_t* cr, double cint) const
{
    int decimals = cint >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(cint) - 1e-9)));
    char text_buf[32];
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10);
    for (const Label& l : kept_) {
        if (std::isnan(l.level)) continue;  // a blocked place, not a label
        double shown = std::fabs(l.level) < cint * 1e-6 ? 0.0 : l.level;
        std::snprintf(text_buf, sizeof text_buf, "%.*f", decimals, shown);
        cairo_text_extents_t ext;
        cairo_text_extents(cr, text_buf, &ext);
        // Text upright whichever way the line runs.
        double a = l.angle;
        if (a > M_PI / 2) a -= M_PI;
        if (a < -M_PI / 2) a += M_PI;
        cairo_save(cr);
        cairo_translate(cr, l.x, l.y);
        cairo_rotate(cr, a);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, -ext.x_advance / 2 - 2, -6.5, ext.x_advance + 4, 13);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_move_to(cr, -ext.x_advance / 2, 3.8);
        cairo_show_text(cr, text_buf);
        cairo_restore(cr);
    }
}

bool wants_extremes(const GRD_report* grd)
{
    std::string info = grd->info;
    for (char& c : info) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return info.find("height") != std::string::npos || info.find("geopot") != std::string::npos ||
           info.find("pressure") != std::string::npos || std::strcmp(grd->units, "gpm") == 0;
}

namespace {
// A centre is closed: every value on the square ring radius r around (i, j) is below it (above
// for a low) by at least margin, and most of the ring lies on the grid. A plateau is no centre.
bool closed(const GRD_report* grd, int i, int j, int r, bool high, float margin)
{
    const Domain& dom = grd->domain;
    float v = grd->grid[static_cast<long>(j) * dom.nx + i];
    int inside = 0, total = 0;
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; dx += (dy == -r || dy == r) ? 1 : 2 * r) {
            ++total;
            int x = i + dx, y = j + dy;
            if (x < 0 || y < 0 || x >= dom.nx || y >= dom.ny) continue;
            float w = grd->grid[static_cast<long>(y) * dom.nx + x];
            if (w == GRD_MISSING || !std::isfinite(w)) continue;
            ++inside;
            if (high ? w > v - margin : w < v + margin) return false;
        }
    return inside * 4 >= total * 3;
}
}  // namespace

std::vector<Extreme> find_extremes(const GRD_report* grd)
{
    std::vector<Extreme> out;
    const Domain& dom = grd->domain;
    int nx = dom.nx, ny = dom.ny;
    if (nx < 5 || ny < 5) return out;
    // Block extremes, kept when they are also the extreme of the 3 x 3 blocks around their
    // block and lie inside the grid: a centre, not a slope running off the edge.
    int block = std::max(2, std::min(nx, ny) / 6);
    int bx = (nx + block - 1) / block, by = (ny + block - 1) / block;
    struct Best {
        float hi = -INFINITY, lo = INFINITY;
        int hi_i = -1, hi_j = -1, lo_i = -1, lo_j = -1;
    };
    std::vector<Best> blocks(static_cast<std::size_t>(bx) * by);
    float all_lo = INFINITY, all_hi = -INFINITY;
    for (int j = 0; j < ny; ++j) {
        const float* row = grd->grid + static_cast<long>(j) * nx;
        for (int i = 0; i < nx; ++i) {
            float v = row[i];
            if (v == GRD_MISSING || !std::isfinite(v)) continue;
            all_lo = std::min(all_lo, v);
            all_hi = std::max(all_hi, v);
            Best& b = blocks[static_cast<std::size_t>(j / block) * bx + i / block];
            if (v > b.hi) {
                b.hi = v;
                b.hi_i = i;
                b.hi_j = j;
            }
            if (v < b.lo) {
                b.lo = v;
                b.lo_i = i;
                b.lo_j = j;
            }
        }
    }
    float range = all_hi - all_lo;
    if (!(range > 0)) return out;
    for (int b = 0; b < bx * by; ++b) {
        int cbx = b % bx, cby = b / bx;
        for (int kind = 0; kind < 2; ++kind) {
            const Best& me = blocks[b];
            int i = kind ? me.lo_i : me.hi_i, j = kind ? me.lo_j : me.hi_j;
            if (i < 1 || j < 1 || i >= nx - 1 || j >= ny - 1) continue;
            float v = kind ? me.lo : me.hi;
            bool best = true;
            float around = v;  // the other extreme of the neighbourhood: how prominent the centre is
            for (int dy = -1; dy <= 1 && best; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int ox = cbx + dx, oy = cby + dy;
                    if (ox < 0 || oy < 0 || ox >= bx || oy >= by) continue;
                    const Best& o = blocks[static_cast<std::size_t>(oy) * bx + ox];
                    if (o.hi_i < 0) continue;
                    if (kind ? o.lo < v : o.hi > v) {
                        best = false;
                        break;
                    }
                    around = kind ? std::max(around, o.hi) : std::min(around, o.lo);
                }
            if (best && std::fabs(v - around) >= 0.05f * range && closed(grd, i, j, std::max(2, block / 2), kind == 0,
                                                                        0.002f * range))
                out.push_back({kind == 0, i, j, v});
        }
    }
    return out;
}

void draw_extreme(cairo_t* cr, double x, double y, const Extreme& e, const char* units)
{
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 24);
    const char* letter = e.high ? "H" : "L";
    cairo_text_extents_t ext;
    cairo_text_extents(cr, letter, &ext);
    if (e.high)
        cairo_set_source_rgb(cr, 0.05, 0.2, 0.85);
    else
        cairo_set_source_rgb(cr, 0.85, 0.05, 0.05);
    cairo_move_to(cr, x - ext.x_advance / 2, y + ext.height / 2);
    cairo_show_text(cr, letter);
    char value[32];
    std::string unit = reader_unit(units);
    std::snprintf(value, sizeof value, std::fabs(e.value) >= 100 ? "%.0f" : "%.3g", e.value);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 10);
    cairo_text_extents_t vext;
    cairo_text_extents(cr, value, &vext);
    cairo_move_to(cr, x - vext.x_advance / 2, y + ext.height / 2 + 13);
    cairo_text_path(cr, value);
    cairo_set_source_rgb(cr, 1, 1, 1);  // a white edge keeps the value readable on any shade
    cairo_set_line_width(cr, 2.5);
    cairo_stroke_preserve(cr);
    if (e.high)
        cairo_set_source_rgb(cr, 0.05, 0.2, 0.85);
    else
        cairo_set_source_rgb(cr, 0.85, 0.05, 0.05);
    cairo_fill(cr);
}

}  // namespace draw_detail
