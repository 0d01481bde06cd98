// Map transforms: earth (lat, lon) <-> plane coordinates of the active domain's projection,
// plane <-> grid indices, and the same machinery for charts and thermodynamic diagrams.
// Plane units are hundreds of kilometres; angles are degrees; -9999 marks a missing value.
#pragma once

#include <memory>
#include <vector>

// A map domain. DOM_init sets proj, nx, ny to -9999, every float to -9999.0, ellipse to 0.
struct Domain {
    int proj;        // projection code (1-11 earth, 20-25 charts, 40-44 diagrams, 99 pixel); -9999 none
    float plat;      // projection pole / tangent latitude; -9999 = use clat
    float plon;      // projection central longitude; -9999 = use clon
    float param[5];  // true latitudes, satellite distance, scan flag; -9999 = default
    float clat;      // latitude of the domain centre (or centre value on a diagram)
    float clon;      // longitude of the domain centre
    float dx;        // grid spacing in x, plane units
    float dy;        // grid spacing in y, plane units
    int nx;          // number of grid columns
    int ny;          // number of grid rows
    int ellipse;     // 0 spherical earth; non-zero ellipsoidal earth (satellite view)
};

// The two latitude/longitude codes beside plain latitude/longitude (2):
//
// 10  Gaussian latitude/longitude. param[0] = N, the number of latitude circles between a pole
//     and the equator. x is the longitude offset from plon in degrees, as on code 2; y is the
//     row coordinate, in degrees, that puts the 2N Gaussian latitudes at equal steps of 90/N:
//     Gaussian latitude k (0 the northernmost) has y = 90 - (k + 1/2) 90/N, and y runs
//     linearly between neighbouring latitudes (and on to the poles at +-90). dy = 90/N; dx is
//     the longitude step; clat is the true latitude of the centre.
// 11  Rotated latitude/longitude. param[0], param[1] = latitude and longitude of the southern
//     pole of the rotated system (missing: -90 and 0, no rotation); param[2] = angle (degrees,
//     missing = 0) by which the rotated system is then turned eastward about its own polar
//     axis, so that a point's rotated longitude is that before the turn less the angle. The
//     earth is first turned by param[1] about the polar axis, then by 90 + param[0] along the
//     turned zero meridian.
//     x is the rotated longitude less that of the centre (clat, clon: geographic), in degrees;
//     y the rotated latitude. dx, dy are rotated degrees.
inline constexpr int MAP_GAUSSIAN = 10;
inline constexpr int MAP_ROTATED = 11;
// Largest Gaussian N accepted (operational grids reach a few thousand).
inline constexpr int MAP_MAX_GAUSSIAN_N = 8192;

// True for the codes whose inputs are latitude and longitude (1-11).
bool MAP_is_earth(int proj);

// The 2n Gaussian latitudes (degrees, north to south) of the grid with n latitude circles
// between a pole and the equator: the roots of the Legendre polynomial of degree 2n, exact to
// double precision. Null (with a message) for n outside 1..MAP_MAX_GAUSSIAN_N.
std::shared_ptr<const std::vector<double>> MAP_gaussian_lats(int n);
// Index (0 northernmost) of the Gaussian latitude of n nearest lat, or -1 when lat lies more
// than a tenth of a row from every one of them.
int MAP_gaussian_row(int n, double lat);

// Rotated latitude/longitude (degrees, -180..180) of a geographic point under the rotation in
// param[0..2] of dom, as on code 11, and back.
void MAP_rotate(const Domain* dom, double lat, double lon, double* rlat, double* rlon);
void MAP_unrotate(const Domain* dom, double rlat, double rlon, double* lat, double* lon);

// Number of columns in one turn of the earth when the domain's columns wrap around it (a
// latitude/longitude, Gaussian or rotated grid whose nx columns span 360 degrees: column nx
// is column 0 again), else 0.
int MAP_periodic_columns(const Domain* dom);

// Plane extent of a domain (or of the output device for MAP_set_view).
struct MAP_limits {
    float x_min;
    float x_max;
    float y_min;
    float y_max;
};

struct Point {
    float x;
    float y;
};

struct EarthPoint {
    float lat;
    float lon;
};

// Makes *dom the active domain and computes its limits. 0; -1 (projection none) for a null dom.
int MAP_domain(const Domain* dom);
// Copies the active domain into *dom and returns dom; with a null dom returns the module's record.
Domain* MAP_get_domain(Domain* dom);

// Keeps the caller's active domain across code that switches domains: saved when made,
// made active again when it goes out of scope, whatever path the code takes.
class MAP_keep_domain {
public:
    MAP_keep_domain() { MAP_get_domain(&saved_); }
    ~MAP_keep_domain() { MAP_domain(&saved_); }
    MAP_keep_domain(const MAP_keep_domain&) = delete;
    MAP_keep_domain& operator=(const MAP_keep_domain&) = delete;

private:
    Domain saved_{};
};

// Prints the active domain at the print level.
void MAP_print_domain();

// Sets only the projection code (caches reset). Returns 0.
int MAP_proj(int proj);
// The active projection code (-9999 none).
int MAP_get_proj();
// Sets the projection pole/tangent latitude and central longitude (degrees). Returns 0.
int MAP_coord(float rlat, float rlon);
float MAP_get_clat();
float MAP_get_clon();
// Lambert domains: value[0], value[1] become the two true latitudes. 0; -1 for other projections.
int MAP_proj_coord(const float* value);
// Projection keyword to code (as DOM_proj_str); -1 for unknown or null text.
int MAP_proj_str(const char* text);

// Earth (degrees) to plane. 1; 0 with *x = *y = -9999 when the point cannot be shown.
int MAP_tran(float lat, float lon, float* x, float* y);
// Plane to earth (degrees, lon in -180..180). 1; 0 with -9999 outputs when the point is invalid.
int MAP_untran(float x, float y, float* lat, float* lon);
// MAP_tran / MAP_untran in double precision (for coordinates written to files); same results.
int MAP_tran_d(double lat, double lon, double* x, double* y);
int MAP_untran_d(double x, double y, double* lat, double* lon);
// MAP_tran / MAP_untran on points; same results.
int MAP_tran_ep(const EarthPoint* ept, Point* pt);
int MAP_tran_pe(const Point* pt, EarthPoint* ept);
// Plane position of the domain centre (clat, clon); result as MAP_tran.
int MAP_tran_center(float* x, float* y);

// Recomputes the plane limits of the active domain. 0; -1 (limits unset) without a usable grid
// or when the centre cannot be shown.
int MAP_set_limits();
// Copies the active limits into *lim. 0; -1 for a null lim.
int MAP_get_limits(MAP_limits* lim);
// Sets the device extent used by the diagram projections (skew, tephigram scaling) and
// recomputes a diagram's limits. 0; -1 for a null vp.
int MAP_set_view(const MAP_limits* vp);
// Upper-left plane corner (x_min, y_max). Returns 0.
int MAP_get_up_left(float* x, float* y);

// Grid indices (column gx, row gy from the top) to plane. 0; -1 with -9999 outputs for a missing input.
int MAP_grid_tran(float gx, float gy, float* x, float* y);
// Plane to grid indices; results as MAP_grid_tran.
int MAP_grid_untran(float x, float y, float* gx, float* gy);

// 1 when the plane point lies within the limits, give or take single-precision rounding (always 1
// without a projection), else 0.
int MAP_in_domain(float x, float y);
// As MAP_in_domain with the limits widened by three grid spacings on every side.
int MAP_in_grid_domain(float x, float y);

// Plane point (x1, y1) of domain1 to the plane of domain2. 1; 0 with -9999 outputs when it cannot
// be shown there. The active domain is left unchanged.
int MAP_domain_tran(const Domain* domain1, const Domain* domain2, float x1, float y1, float* x2,
                    float* y2);

// Moves plane point (xi, yi) by rad km towards dir (degrees clockwise from north). 1; 0 with -9999.
int MAP_offset(float xi, float yi, float dir, float rad, float* xf, float* yf);
// Direction (degrees clockwise from north, 0..360) from plane point 1 to point 2; geographic
// on a polar stereographic map.
float MAP_dir(float x1, float y1, float x2, float y2);
// Geographic direction at plane point (x, y) to the plane direction (degrees, 0..360).
float MAP_dir_adj(float dir, float x, float y);
// Plane direction at (x, y) back to a geographic direction (degrees, 0..360).
float MAP_undir_adj(float dir, float x, float y);
// Rotation (degrees) at (x, y) from grid-relative to earth-relative wind: earth direction =
// grid direction + angle. Non-zero only on polar stereographic maps; 0 elsewhere.
float MAP_uvdir_adj(float u, float v, float x, float y);
// Map scale factor at (lat, lon): (1 + sin tlat1) / (1 + sin lat) on a northern polar
// stereographic map (1.866 / (1 + sin lat) for 60N) and its mirror on a southern one; the true
// scale on Lambert conformal maps; 1 otherwise. -9999 where the scale is infinite.
float MAP_factor(float lat, float lon);

// Subdivides each grid cell into val x val plot cells (val <= 1: one per grid cell).
void MAP_set_plot_limit(int val);
// Allocates and clears the plot occupancy grid for the active domain. 0; -1 without a grid.
int MAP_plot_grid_init();
// 1 when (x, y) may be plotted (and marks its cell) or no grid is in use; 0 outside the grid
// or when its cell is already taken.
int MAP_plot_grid(float x, float y);
