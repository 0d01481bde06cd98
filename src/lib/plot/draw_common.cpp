// Canvas, colours, text and the binned coastline set shared by the map and diagram writers.
#include <fontconfig/fontconfig.h>
#include <netcdf.h>

#include <array>
#include <cstdint>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "draw_internal.hpp"
#include "mess.hpp"

namespace draw_detail {

Canvas::Canvas(int width, int height)
    : width_(width), height_(height),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height))
{
    if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS) return;
    cr_.reset(cairo_create(surface_.get()));
    cairo_set_source_rgb(cr_.get(), 1, 1, 1);
    cairo_paint(cr_.get());
}

bool Canvas::ok() const
{
    return surface_ && cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS && cr_ &&
           cairo_status(cr_.get()) == CAIRO_STATUS_SUCCESS;
}

namespace {
cairo_status_t write_stream(void* closure, const unsigned char* data, unsigned int length)
{
    FILE* f = static_cast<FILE*>(closure);
    return std::fwrite(data, 1, length, f) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}
struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};
}  // namespace

int Canvas::write_png(const char* filename) const
{
    if (!filename || !*filename) {
        MESS_print(M_error, "DRAW: No picture file name\n");
        return -1;
    }
    std::unique_ptr<FILE, FileClose> f(std::fopen(filename, "wb"));
    if (!f) {
        MESS_print(M_error, "DRAW: Unable to write picture file %s: %s\n", filename, std::strerror(errno));
        return -1;
    }
    cairo_surface_flush(surface_.get());
    errno = 0;
    cairo_status_t status = cairo_surface_write_to_png_stream(surface_.get(), write_stream, f.get());
    int close_rc = std::fclose(f.release());
    if (status != CAIRO_STATUS_SUCCESS || close_rc != 0) {
        MESS_print(M_error, "DRAW: Unable to write picture file %s: %s\n", filename,
                   errno ? std::strerror(errno) : cairo_status_to_string(status));
        return -1;
    }
    return 0;
}

void text(cairo_t* cr, double x, double y, const char* str, double size, int align)
{
    if (!str || !*str) return;
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, str, &ext);
    double dx = align == 1 ? -ext.x_advance / 2 : align == 2 ? -ext.x_advance : 0.0;
    cairo_move_to(cr, x + dx, y);
    cairo_show_text(cr, str);
}

double nice_step(double range, int count)
{
    if (!(range > 0) || count < 1) return 1.0;
    double raw = range / count;
    double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double f = raw / mag;
    double step = f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10;
    return step * mag;
}

// ---- binned coastline set ----
//
// The set divides the earth into square bins (Bin_size_in_minutes) numbered from the north-west
// corner eastwards, row after row southwards. Each bin holds segments; each segment is a run of
// points given as unsigned 16-bit offsets (1/65535 of the bin size) from the bin's south-west
// corner. A segment's point count is the distance to the next segment's first point; the
// coastline file packs its shore level into bits 6-8 of the per-segment word.
namespace {

struct NcClose {
    void operator()(int* id) const
    {
        nc_close(*id);
        delete id;
    }
};

bool get_scalar(int nc, const char* name, int& out)
{
    int var;
    return nc_inq_varid(nc, name, &var) == NC_NOERR && nc_get_var_int(nc, var, &out) == NC_NOERR;
}

template <typename T>
bool get_array(int nc, const char* name, std::vector<T>& out, std::size_t n)
{
    int var;
    if (nc_inq_varid(nc, name, &var) != NC_NOERR) return false;
    out.assign(n, T{});
    if (n == 0) return true;
    if constexpr (sizeof(T) == 2)
        return nc_get_var_short(nc, var, reinterpret_cast<short*>(out.data())) == NC_NOERR;
    else
        return nc_get_var_int(nc, var, reinterpret_cast<int*>(out.data())) == NC_NOERR;
}

bool read_binned(const std::string& path, bool coast, std::vector<GeoLine>& lines)
{
    int id = -1;
    if (nc_open(path.c_str(), NC_NOWRITE, &id) != NC_NOERR) return false;
    std::unique_ptr<int, NcClose> guard(new int(id));
    int bin_minutes = 0, nlon_bins = 0, nbins = 0, nsegs = 0, npts = 0;
    if (!get_scalar(id, "Bin_size_in_minutes", bin_minutes) ||
        !get_scalar(id, "N_bins_in_360_longitude_range", nlon_bins) || !get_scalar(id, "N_bins_in_file", nbins) ||
        !get_scalar(id, "N_segments_in_file", nsegs) || !get_scalar(id, "N_points_in_file", npts))
        return false;
    if (bin_minutes <= 0 || nlon_bins <= 0 || nbins <= 0 || nsegs < 0 || npts < 0 || nbins > 1000000 ||
        nsegs > 10000000 || npts > 100000000)
        return false;
    std::vector<int> first_seg, seg_first_pt, seg_info;
    std::vector<short> seg_count, seg_level;
    std::vector<std::uint16_t> rel_lon, rel_lat;
    if (!get_array(id, "Id_of_first_segment_in_a_bin", first_seg, nbins) ||
        !get_array(id, "N_segments_in_a_bin", seg_count, nbins) ||
        !get_array(id, "Id_of_first_point_in_a_segment", seg_first_pt, nsegs) ||
        !get_array(id, "Relative_longitude_from_SW_corner_of_bin", rel_lon, npts) ||
        !get_array(id, "Relative_latitude_from_SW_corner_of_bin", rel_lat, npts))
        return false;
    if (coast) {
        if (!get_array(id, "Embedded_npts_levels_exit_entry_for_a_segment", seg_info, nsegs)) return false;
    } else if (!get_array(id, "Hierarchial_level_of_a_segment", seg_level, nsegs)) {
        return false;
    }
    double bin_deg = bin_minutes / 60.0;
    for (int b = 0; b < nbins; ++b) {
        double sw_lon = (b % nlon_bins) * bin_deg;
        double sw_lat = 90.0 - (b / nlon_bins + 1) * bin_deg;
        for (int k = 0; k < seg_count[b]; ++k) {
            long s = static_cast<long>(first_seg[b]) + k;
            if (s < 0 || s >= nsegs) break;
            int level = coast ? (seg_info[s] >> 6) & 7 : seg_level[s];
            if (level < 1 || level > 2) continue;
            long p0 = seg_first_pt[s];
            long p1 = s + 1 < nsegs ? seg_first_pt[s + 1] : npts;
            if (p0 < 0 || p1 > npts || p1 - p0 < 2) continue;
            GeoLine line;
            line.level = level;
            line.lat.reserve(p1 - p0);
            line.lon.reserve(p1 - p0);
            for (long p = p0; p < p1; ++p) {
                line.lon.push_back(static_cast<float>(sw_lon + rel_lon[p] * bin_deg / 65535.0));
                line.lat.push_back(static_cast<float>(sw_lat + rel_lat[p] * bin_deg / 65535.0));
            }
            lines.push_back(std::move(line));
        }
    }
    return true;
}

const std::vector<GeoLine>& load(const char* dir, char res, bool coast)
{
    static std::map<std::string, std::vector<GeoLine>> cache;
    static bool warned = false;
    std::string base = dir && *dir ? dir : "/usr/share/gmt-gshhg";
    std::string path = base + (coast ? "/binned_GSHHS_" : "/binned_border_") + res + ".nc";
    auto it = cache.find(path);
    if (it != cache.end()) return it->second;
    std::vector<GeoLine>& lines = cache[path];
    if (!read_binned(path, coast, lines)) {
        lines.clear();
        if (!warned)
            MESS_print(M_warn, "DRAW: No coastline set at %s: maps are drawn without coastlines\n", path.c_str());
        warned = true;
    }
    return lines;
}

}  // namespace

const std::vector<GeoLine>& coast_lines(const char* dir, char res) { return load(dir, res, true); }
const std::vector<GeoLine>& border_lines(const char* dir, char res) { return load(dir, res, false); }

}  // namespace draw_detail

// ---- colours ----
namespace {
struct Anchor {
    float at;
    unsigned char r, g, b;
};
// A perceptually uniform ramp from dark blue-violet through teal and green to yellow.
constexpr std::array<Anchor, 9> kSequential{{{0.000f, 68, 1, 84},
                                             {0.125f, 71, 44, 122},
                                             {0.250f, 59, 81, 139},
                                             {0.375f, 44, 113, 142},
                                             {0.500f, 33, 144, 141},
                                             {0.625f, 39, 173, 129},
                                             {0.750f, 92, 200, 99},
                                             {0.875f, 170, 220, 50},
                                             {1.000f, 253, 231, 37}}};
// Blue through white (zero) to red, equal lightness steps on both sides.
constexpr std::array<Anchor, 11> kDiverging{{{0.0f, 5, 48, 97},
                                             {0.1f, 33, 102, 172},
                                             {0.2f, 67, 147, 195},
                                             {0.3f, 146, 197, 222},
                                             {0.4f, 209, 229, 240},
                                             {0.5f, 247, 247, 247},
                                             {0.6f, 253, 219, 199},
                                             {0.7f, 244, 165, 130},
                                             {0.8f, 214, 96, 77},
                                             {0.9f, 178, 24, 43},
                                             {1.0f, 103, 0, 31}}};

// Amounts: pale green through green and blue to purple; the first shade is light so that a
// trace reads as little.
constexpr std::array<Anchor, 7> kAmount{{{0.00f, 218, 240, 208},
                                         {0.15f, 150, 210, 140},
                                         {0.30f, 65, 170, 90},
                                         {0.50f, 40, 130, 190},
                                         {0.70f, 45, 70, 170},
                                         {0.85f, 120, 40, 160},
                                         {1.00f, 160, 20, 110}}};

template <std::size_t N>
void ramp(const std::array<Anchor, N>& table, float f, unsigned char rgb[3])
{
    if (!(f > 0.0f)) f = 0.0f;
    if (f > 1.0f) f = 1.0f;
    std::size_t i = 1;
    while (i < N - 1 && table[i].at < f) ++i;
    const Anchor& a = table[i - 1];
    const Anchor& b = table[i];
    float w = (f - a.at) / (b.at - a.at);
    rgb[0] = static_cast<unsigned char>(std::lround(a.r + w * (b.r - a.r)));
    rgb[1] = static_cast<unsigned char>(std::lround(a.g + w * (b.g - a.g)));
    rgb[2] = static_cast<unsigned char>(std::lround(a.b + w * (b.b - a.b)));
}
}  // namespace

int DRAW_value_color(const DRAW_scale* scale, float value, unsigned char rgb[3])
{
    if (!scale || !rgb || value == GRD_MISSING || !std::isfinite(value)) return -1;
    float span = scale->hi - scale->lo;
    float f = span > 0.0f ? (value - scale->lo) / span : 0.5f;
    if (scale->palette == DRAW_PALETTE_AMOUNT) {
        // Zero, and the packing noise of a few thousandths of the largest amount, stay unshaded.
        if (!(value > scale->lo + 1e-3f * span)) return -1;
        ramp(kAmount, f, rgb);
        return 0;
    }
    if (scale->palette == DRAW_PALETTE_DIVERGING)
        ramp(kDiverging, f, rgb);
    else
        ramp(kSequential, f, rgb);
    return 0;
}

int DRAW_map_scale(const GRD_report* grd, int palette, DRAW_scale* scale)
{
    if (!grd || !grd->grid || !scale || grd->domain.nx <= 0 || grd->domain.ny <= 0) return -1;
    long n = static_cast<long>(grd->domain.nx) * grd->domain.ny;
    float lo = 0, hi = 0;
    bool any = false;
    long present = 0, zeros = 0;
    for (long i = 0; i < n; ++i) {
        float v = grd->grid[i];
        if (v == GRD_MISSING || !std::isfinite(v)) continue;
        if (!any) lo = hi = v;
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
        any = true;
        ++present;
        zeros += v == 0.0f;
    }
    if (!any) return -1;
    if (palette == DRAW_PALETTE_AUTO && lo >= 0.0f && hi > 0.0f && zeros * 10 >= present * 3)
        palette = DRAW_PALETTE_AMOUNT;
    if (palette == DRAW_PALETTE_AUTO) {
        bool per_second = std::strcmp(grd->units, "/s") == 0 || std::strstr(grd->units, "/s") == grd->units;
        bool straddles = lo < 0 && hi > 0 && std::fmin(-lo, hi) >= 0.25f * std::fmax(-lo, hi);
        palette = per_second || straddles ? DRAW_PALETTE_DIVERGING : DRAW_PALETTE_SEQUENTIAL;
    }
    scale->palette = palette;
    if (palette == DRAW_PALETTE_DIVERGING) {
        float m = std::fmax(std::fabs(lo), std::fabs(hi));
        scale->lo = -m;
        scale->hi = m;
    } else if (palette == DRAW_PALETTE_AMOUNT) {
        scale->lo = std::fmin(lo, 0.0f);
        scale->hi = hi;
    } else {
        scale->lo = lo;
        scale->hi = hi;
    }
    if (scale->hi == scale->lo) {  // a constant field still gets a usable bar
        scale->lo -= 1.0f;
        scale->hi += 1.0f;
    }
    return 0;
}

void DRAW_release()
{
    cairo_debug_reset_static_data();
    FcFini();
}
