// Pictures written as PNG files: a grid shaded on its own map projection with coastlines,
// borders, latitude/longitude lines, contours and a colour bar; and a thermodynamic diagram
// (skew-T log-p and the other diagram projections) of one sounding. Every position on a
// picture comes from the library's own transforms (maptran), so a latitude/longitude lands
// where the map projection puts it.
#pragma once

#include "grd_read.hpp"
#include "ua_read.hpp"

inline constexpr int DRAW_PALETTE_AUTO = 0;       // diverging for fields centred on zero
inline constexpr int DRAW_PALETTE_SEQUENTIAL = 1; // perceptually uniform ramp, dark to light
inline constexpr int DRAW_PALETTE_DIVERGING = 2;  // blue - white - red, white at zero
inline constexpr int DRAW_PALETTE_AMOUNT = 3;     // light to dark from the first amount; zero and
                                                  // below unshaded (precipitation, probabilities)

// Value range and palette of a shaded field.
struct DRAW_scale {
    float lo;     // value at the bottom of the colour bar
    float hi;     // value at the top
    int palette;  // DRAW_PALETTE_SEQUENTIAL, _DIVERGING or _AMOUNT (never AUTO once chosen)
};

struct DRAW_map_opts {
    int width;               // picture size, pixels (default 1000 x 700)
    int height;
    float cint;              // contour interval; <= 0 or -9999: no contour lines
    int palette;             // DRAW_PALETTE_*
    const char* title;       // first title line; null: the grid's description and unit
    const char* time_label;  // second title line; null: the grid's date label
    const char* coast_dir;   // directory of the binned coastline set; null: the system's
    int contour_labels;      // 1 (default): contour values written along the lines; 0 none
    int extremes;            // H and L at centres: -1 (default) on height and pressure fields, 0
                             // never, 1 always
    const GRD_report* wind_u;  // wind components on grd's grid, earth-relative (m/s unless their
    const GRD_report* wind_v;  // unit says kt or km/h); null: no winds drawn
    int wind_style;          // 1 (default) barbs in kt, 2 arrows
    int wind_spacing;        // pixels between drawn winds (default 42)
};
// Fills the defaults above (1000 x 700, no contours, automatic palette, default texts).
void DRAW_map_defaults(DRAW_map_opts* opts);

// Chooses the range (the grid's minimum and maximum of present values, symmetric about zero
// for the diverging palette) and the palette (AUTO: amount when no value is negative and at
// least 30 % of them are zero; diverging when the values straddle zero and the smaller extreme
// is at least a quarter of the larger, or the unit is "/s"). 0; -1 for a grid without present
// values.
int DRAW_map_scale(const GRD_report* grd, int palette, DRAW_scale* scale);
// Colour (0-255 each) of a value on a scale; values outside the range take the end colours.
// 0; -1 (rgb untouched) for a missing value, and on the amount palette for zero and below.
int DRAW_value_color(const DRAW_scale* scale, float value, unsigned char rgb[3]);

// Title lines of a map of grd: what (description with level, statistic and step range, and the
// unit as a reader writes it) and when (valid time, step and reference time). Each buffer of
// its size (80 is enough); texts are cut to fit. 0; -1 for a null argument.
int DRAW_map_titles(const GRD_report* grd, char* what, int what_size, char* when, int when_size);
// The unit as a reader writes it: "°C" for C or degC, "°F", "%", "hPa" for mb, "m/s" for m_s-1;
// others unchanged. Cut to size.
void DRAW_unit_text(const char* units, char* text, int size);

// Pixel position (x right, y down; centre of the pixel at +0.5) of a latitude/longitude on the
// map picture that DRAW_map_png makes of grd with opts. 1; 0 when the point is not on the map.
int DRAW_map_pixel(const GRD_report* grd, const DRAW_map_opts* opts, float lat, float lon,
                   float* px, float* py);
// Draws grd (values required) to a PNG file. 0; -1 with a message (no values, no usable
// projection, the file cannot be written). A missing coastline set warns once and the map is
// drawn without it.
int DRAW_map_png(const GRD_report* grd, const char* filename, const DRAW_map_opts* opts);

// One line of the diagram's side table.
struct DRAW_index {
    const char* label;  // e.g. "LI"
    float value;        // -9999 prints "M"
    const char* units;  // e.g. "C"; may be null
};                      // null units with value -9999: the label is a note line in small type

// A lifted parcel: where it starts and its condensation point; p -9999 when there is none.
struct DRAW_parcel {
    float p;     // mb, starting pressure
    float plcl;  // mb
    float tlcl;  // K
};

struct DRAW_diagram_opts {
    int width;               // picture size, pixels (default 1000 x 800)
    int height;
    int proj;                // diagram projection: 40 skew-T (default), 41 Stuve, 42 emagram,
                             // 43 tephigram, 44 temperature / log potential temperature
    const char* title;       // first title line (station); may be null
    const char* time_label;  // second title line; may be null
    float p_bottom;          // pressure range, mb (default 1050 to 100)
    float p_top;
    float t_left;            // temperature range at the bottom, C (default -40 to 50)
    float t_right;
    // Surface parcel (p -9999: lifted from the first level with a dew point) with its LFC and
    // EL (mb; -9999: not marked); mixed-layer and most-unstable parcels, drawn where their
    // path differs from the surface one (p -9999: none).
    DRAW_parcel sfc_parcel;
    float lfc, el;
    DRAW_parcel ml_parcel, mu_parcel;
    int hodograph;           // 1 (default): a hodograph inset of the winds with heights
    float storm_dir;         // storm motion shown on the hodograph (deg, kt); -9999: none
    float storm_spd;
};
void DRAW_diagram_defaults(DRAW_diagram_opts* opts);
// Pixel position of temperature t (C) at pressure p (mb) on the diagram. 1; 0 outside.
int DRAW_diagram_pixel(const DRAW_diagram_opts* opts, float t, float p, float* px, float* py);
// Draws a sounding: levels (by decreasing pressure; t, td in C, heights in m; -9999 missing),
// optional wind levels with pressure, height, direction and speed (kt), and the side table.
// Heights above the first level are ticked in km on the pressure axis, and winds with
// heights make the hodograph. 0; -1 with a message.
int DRAW_diagram_png(const UPA_level* levels, int nlevels, const UPA_level* winds, int nwinds,
                     const DRAW_index* table, int ntable, const char* filename,
                     const DRAW_diagram_opts* opts);

// Pixel position of the wind (dir deg, spd kt) on the hodograph inset of the diagram drawn
// with these winds and opts. 1; 0 without an inset.
int DRAW_hodograph_pixel(const DRAW_diagram_opts* opts, const UPA_level* winds, int nwinds, float dir, float spd,
                         float* px, float* py);

// Releases the graphics library's font caches and the font configuration, which text drawing
// keeps to the end of the process; call once after the last picture (a leak check at exit
// then passes). Drawing again afterwards is allowed and loads them anew.
void DRAW_release();
