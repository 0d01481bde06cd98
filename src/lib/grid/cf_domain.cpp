// Domain <-> CF grid_mapping. The library's plane is in hundreds of kilometres with its origin at
// the projection pole (polar stereographic, Lambert) or the projection point; CF projection
// coordinates are metres from the mapping's own origin, so the two differ by a scale and a shift
// that this file alone knows.
#include "cf_domain.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mess.hpp"
#include "region.hpp"

namespace {

// The earth the transforms use (maptran): a sphere, and for the satellite view an ellipsoid.
constexpr double earth_radius_m = 6371220.0;
constexpr double ellipse_major_m = 6378136.8;
constexpr double ellipse_minor_m = 6356752.0;
constexpr double plane_unit_m = 1.0e5;
constexpr double default_sat_distance = 421.61;  // plane units, from the earth's centre
constexpr double earth_major_plane = 63.781368;
constexpr double missing = -9999.0;
constexpr double pi = 3.14159265358979323846;
constexpr double deg_to_rad = pi / 180.0;

bool is_missing(double v) { return v == missing; }

double or_default(double v, double fallback) { return is_missing(v) ? fallback : v; }

CF_attribute number(const char* name, double v) { return {name, "", {v}}; }
CF_attribute numbers(const char* name, std::vector<double> v) { return {name, "", std::move(v)}; }
CF_attribute text(const char* name, const char* t) { return {name, t, {}}; }

// The projection's parameters as maptran settles them for a domain.
struct Params {
    double plat, plon, tlat1, tlat2, sat_distance;
    bool sat_angles;
};

Params params_of(const Domain& dom)
{
    Params p{};
    p.plat = or_default(dom.plat, dom.clat);
    p.plon = or_default(dom.plon, dom.clon);
    const bool south = p.plat < 0.0;
    switch (dom.proj) {
    case 1:
        p.tlat1 = or_default(dom.param[0], south ? -60.0 : 60.0);
        if (south) p.tlat1 = -std::fabs(p.tlat1);
        break;
    case 4:
        p.tlat1 = or_default(dom.param[0], 30.0);
        p.tlat2 = is_missing(dom.param[0]) ? 60.0 : or_default(dom.param[1], dom.param[0]);
        if (south) {
            p.tlat1 = -std::fabs(p.tlat1);
            p.tlat2 = -std::fabs(p.tlat2);
        }
        break;
    case 9:
        p.sat_distance = !is_missing(dom.param[0]) && dom.param[0] > earth_major_plane ? dom.param[0]
                                                                                       : default_sat_distance;
        p.sat_angles = dom.param[1] == 1.0f;
        break;
    default: break;
    }
    return p;
}

void add_earth(std::vector<CF_attribute>& attrs, const Domain& dom)
{
    if (dom.proj == 9 && dom.ellipse) {
        attrs.push_back(number("semi_major_axis", ellipse_major_m));
        attrs.push_back(number("semi_minor_axis", ellipse_minor_m));
    } else {
        attrs.push_back(number("earth_radius", earth_radius_m));
    }
}

// CF origin of the projection coordinates (latitude, longitude), and the mapping's attributes.
struct Mapping {
    int code;
    const char* name;
    void (*attributes)(const Params&, std::vector<CF_attribute>&);
    double (*origin_lat)(const Params&);
};

void polar_attrs(const Params& p, std::vector<CF_attribute>& a)
{
    a.push_back(number("straight_vertical_longitude_from_pole", p.plon));
    a.push_back(number("latitude_of_projection_origin", p.plat < 0.0 ? -90.0 : 90.0));
    a.push_back(number("standard_parallel", p.tlat1));
}
double polar_origin(const Params& p) { return p.plat < 0.0 ? -90.0 : 90.0; }

void mercator_attrs(const Params& p, std::vector<CF_attribute>& a)
{
    a.push_back(number("longitude_of_projection_origin", p.plon));
    a.push_back(number("standard_parallel", 0.0));
}
double zero_origin(const Params&) { return 0.0; }

void lambert_attrs(const Params& p, std::vector<CF_attribute>& a)
{
    if (p.tlat1 == p.tlat2)
        a.push_back(number("standard_parallel", p.tlat1));
    else
        a.push_back(numbers("standard_parallel", {p.tlat1, p.tlat2}));
    a.push_back(number("longitude_of_central_meridian", p.plon));
    a.push_back(number("latitude_of_projection_origin", p.tlat1));
}
double lambert_origin(const Params& p) { return p.tlat1; }

void azimuthal_attrs(const Params& p, std::vector<CF_attribute>& a)
{
    a.push_back(number("longitude_of_projection_origin", p.plon));
    a.push_back(number("latitude_of_projection_origin", p.plat));
}
double azimuthal_origin(const Params& p) { return p.plat; }

void geostationary_attrs(const Params& p, std::vector<CF_attribute>& a)
{
    a.push_back(number("longitude_of_projection_origin", p.plon));
    a.push_back(number("latitude_of_projection_origin", 0.0));
    a.push_back(text("sweep_angle_axis", "y"));
}

// The one table of earth projections with a CF form.
constexpr Mapping mappings[] = {
    {1, "polar_stereographic", polar_attrs, polar_origin},
    {2, "latitude_longitude", nullptr, zero_origin},
    {3, "mercator", mercator_attrs, zero_origin},
    {4, "lambert_conformal_conic", lambert_attrs, lambert_origin},
    {5, "orthographic", azimuthal_attrs, azimuthal_origin},
    {8, "lambert_azimuthal_equal_area", azimuthal_attrs, azimuthal_origin},
    {9, "geostationary", geostationary_attrs, zero_origin},
};

const Mapping* mapping_by_code(int code)
{
    for (const Mapping& m : mappings)
        if (m.code == code) return &m;
    return nullptr;
}

const Mapping* mapping_by_name(const std::string& name)
{
    for (const Mapping& m : mappings)
        if (name == m.name) return &m;
    return nullptr;
}

bool has_grid(const Domain& dom)
{
    return dom.nx >= 1 && dom.ny >= 1 && !is_missing(dom.dx) && !is_missing(dom.dy) && !is_missing(dom.clat) &&
           !is_missing(dom.clon);
}

// Satellite plane coordinates are the scan angle (or its tangent) times the satellite distance.
double sat_plane_to_angle(double v, const Params& p)
{
    return p.sat_angles ? v / p.sat_distance : std::atan(v / p.sat_distance);
}
double sat_angle_to_plane(double a, const Params& p) { return p.sat_angles ? a * p.sat_distance : std::tan(a) * p.sat_distance; }

// Plane coordinate (x or y) of column or row i, as MAP_grid_tran places it but in double.
double plane_at(double centre, double step, int count, int i) { return centre - step * (count - 1) / 2.0 + step * i; }

const CF_attribute* find_attribute(const CF_grid& in, const char* name)
{
    for (const CF_attribute& a : in.attributes)
        if (a.name == name) return &a;
    return nullptr;
}

// Evenly spaced coordinates: first value, step (signed). False when uneven or too short.
bool even_spacing(const std::vector<double>& v, double& first, double& step)
{
    if (v.empty()) return false;
    first = v.front();
    if (v.size() == 1) {
        step = 0.0;
        return true;
    }
    step = (v.back() - v.front()) / static_cast<double>(v.size() - 1);
    if (!std::isfinite(step) || step == 0.0) return false;
    for (std::size_t i = 1; i < v.size(); ++i)
        if (std::fabs(v[i] - (first + step * static_cast<double>(i))) > 1e-3 * std::fabs(step)) return false;
    return true;
}

double unit_to_metres(const std::string& units)
{
    if (units == "km" || units == "kilometre" || units == "kilometer" || units == "kilometres" ||
        units == "kilometers")
        return 1000.0;
    return 1.0;
}

int latlon_from(const CF_grid& in, Domain* dom)
{
    double lon0, dlon, lat0, dlat;
    if (!even_spacing(in.x, lon0, dlon) || !even_spacing(in.y, lat0, dlat)) {
        MESS_print(M_error, "CF grid: latitudes or longitudes are not evenly spaced\n");
        return -1;
    }
    dom->proj = 2;
    dom->nx = static_cast<int>(in.x.size());
    dom->ny = static_cast<int>(in.y.size());
    dom->clon = static_cast<float>(lon0 + dlon * (dom->nx - 1) / 2.0);
    dom->clat = static_cast<float>(lat0 + dlat * (dom->ny - 1) / 2.0);
    dom->dx = static_cast<float>(dlon != 0.0 ? std::fabs(dlon) : 1.0);
    dom->dy = static_cast<float>(dlat != 0.0 ? std::fabs(dlat) : 1.0);
    return 0;
}

}  // namespace

double CF_attribute_value(const CF_grid* in, const char* name, double fallback)
{
    if (!in || !name) return fallback;
    const CF_attribute* a = find_attribute(*in, name);
    return a && !a->values.empty() && std::isfinite(a->values[0]) ? a->values[0] : fallback;
}

int CF_describe_domain(const Domain* dom, CF_grid* out)
{
    if (!dom || !out) return -1;
    *out = CF_grid{};
    const Mapping* m = mapping_by_code(dom->proj);
    if (!m) {
        MESS_print(M_error, "CF grid: projection code %d has no CF grid mapping\n", dom->proj);
        return -1;
    }
    if (!has_grid(*dom)) {
        MESS_print(M_error, "CF grid: the domain has no grid\n");
        return -1;
    }
    const Params p = params_of(*dom);
    MAP_keep_domain keep;
    MAP_domain(dom);
    double cx, cy, ox, oy;
    if (!MAP_tran_d(dom->clat, dom->clon, &cx, &cy) || !MAP_tran_d(m->origin_lat(p), p.plon, &ox, &oy)) {
        MESS_print(M_error, "CF grid: the domain's centre cannot be placed on its projection\n");
        return -1;
    }
    out->mapping_name = m->name;
    out->attributes.push_back(text("grid_mapping_name", m->name));
    out->x.resize(static_cast<std::size_t>(dom->nx));
    out->y.resize(static_cast<std::size_t>(dom->ny));
    if (dom->proj == 2) {
        out->latlon = true;
        add_earth(out->attributes, *dom);
        for (int i = 0; i < dom->nx; ++i) out->x[i] = p.plon + plane_at(cx, dom->dx, dom->nx, i);
        for (int j = 0; j < dom->ny; ++j) out->y[j] = plane_at(cy, -dom->dy, dom->ny, j);
        out->xy_units = "degrees";
        return 0;
    }
    m->attributes(p, out->attributes);
    if (dom->proj == 9) {
        const double major = dom->ellipse ? ellipse_major_m : earth_radius_m;
        out->attributes.push_back(number("perspective_point_height", p.sat_distance * plane_unit_m - major));
    } else {
        out->attributes.push_back(number("false_easting", 0.0));
        out->attributes.push_back(number("false_northing", 0.0));
    }
    add_earth(out->attributes, *dom);
    for (int i = 0; i < dom->nx; ++i) {
        double x = plane_at(cx, dom->dx, dom->nx, i);
        out->x[i] = dom->proj == 9 ? sat_plane_to_angle(x, p) : (x - ox) * plane_unit_m;
    }
    for (int j = 0; j < dom->ny; ++j) {
        double y = plane_at(cy, -dom->dy, dom->ny, j);
        out->y[j] = dom->proj == 9 ? sat_plane_to_angle(y, p) : (y - oy) * plane_unit_m;
    }
    out->xy_units = dom->proj == 9 ? "radian" : "m";
    return 0;
}

int CF_domain_from_mapping(const CF_grid* in, Domain* dom)
{
    if (!in || !dom) return -1;
    DOM_init(dom);
    if (in->x.empty() || in->y.empty()) {
        MESS_print(M_error, "CF grid: no x or y coordinate values\n");
        return -1;
    }
    if (in->latlon || in->mapping_name == "latitude_longitude") return latlon_from(*in, dom);
    const Mapping* m = mapping_by_name(in->mapping_name);
    if (!m) {
        MESS_print(M_error, "CF grid: no projection for grid_mapping_name \"%s\"\n", in->mapping_name.c_str());
        return -1;
    }
    Domain work;
    DOM_init(&work);
    work.proj = m->code;
    auto value = [&](const char* name, double fallback) { return CF_attribute_value(in, name, fallback); };
    const CF_attribute* parallels = find_attribute(*in, "standard_parallel");
    switch (m->code) {
    case 1: {
        const double origin = value("latitude_of_projection_origin", 90.0);
        work.plat = static_cast<float>(origin < 0.0 ? -90.0 : 90.0);
        work.plon = static_cast<float>(value("straight_vertical_longitude_from_pole", 0.0));
        double tlat = value("standard_parallel", missing);
        const double k0 = value("scale_factor_at_projection_origin", missing);
        if (is_missing(tlat)) tlat = is_missing(k0) ? 90.0 : std::asin(std::clamp(2.0 * k0 - 1.0, -1.0, 1.0)) / deg_to_rad;
        work.param[0] = static_cast<float>(origin < 0.0 ? -std::fabs(tlat) : tlat);
        break;
    }
    case 3:
        if (std::fabs(value("standard_parallel", 0.0)) > 1e-6 ||
            std::fabs(value("scale_factor_at_projection_origin", 1.0) - 1.0) > 1e-9) {
            MESS_print(M_error, "CF grid: a Mercator grid true at other than the equator has no projection here\n");
            return -1;
        }
        work.plat = 0.0f;
        work.plon = static_cast<float>(value("longitude_of_projection_origin", 0.0));
        break;
    case 4: {
        if (!parallels || parallels->values.empty()) {
            MESS_print(M_error, "CF grid: a Lambert conformal grid without standard_parallel\n");
            return -1;
        }
        const double t1 = parallels->values[0];
        const double t2 = parallels->values.size() > 1 ? parallels->values[1] : t1;
        work.plat = static_cast<float>(t1 + t2 < 0.0 ? -45.0 : 45.0);  // the hemisphere of the cone
        work.plon = static_cast<float>(value("longitude_of_central_meridian", 0.0));
        work.param[0] = static_cast<float>(t1);
        work.param[1] = static_cast<float>(t2);
        break;
    }
    case 5:
    case 8:
        work.plat = static_cast<float>(value("latitude_of_projection_origin", 0.0));
        work.plon = static_cast<float>(value("longitude_of_projection_origin", 0.0));
        break;
    case 9: {
        const double major = value("semi_major_axis", value("earth_radius", earth_radius_m));
        const double height = value("perspective_point_height", missing);
        if (is_missing(height) || height <= 0.0) {
            MESS_print(M_error, "CF grid: a geostationary grid without perspective_point_height\n");
            return -1;
        }
        const CF_attribute* sweep = find_attribute(*in, "sweep_angle_axis");
        if (sweep && sweep->text == "x") {
            MESS_print(M_error, "CF grid: a geostationary grid swept about the x axis has no projection here\n");
            return -1;
        }
        work.plat = 0.0f;
        work.plon = static_cast<float>(value("longitude_of_projection_origin", 0.0));
        work.param[0] = static_cast<float>((major + height) / plane_unit_m);
        work.ellipse = std::fabs(major - earth_radius_m) > 1.0 ? 1 : 0;
        break;
    }
    default: break;
    }
    const double radius = value("earth_radius", value("semi_major_axis", earth_radius_m));
    if (m->code != 9 && std::fabs(radius - earth_radius_m) > 1000.0)
        MESS_print(M_warn, "CF grid: earth radius %.0f m taken as the library's sphere of %.0f m\n", radius,
                   earth_radius_m);

    // Coordinates to the library's plane.
    std::vector<double> xs = in->x, ys = in->y;
    const Params p = params_of(work);
    if (m->code == 9) {
        const bool metres = !in->xy_units.empty() && in->xy_units[0] == 'm';
        const double height = value("perspective_point_height", 1.0);
        for (double& v : xs) v = metres ? v / height : v;
        for (double& v : ys) v = metres ? v / height : v;
        double first, step;
        // Scan angles evenly spaced: an angle plane; tangents evenly spaced: a tangent plane.
        Params angles = p;
        angles.sat_angles = even_spacing(xs, first, step) && even_spacing(ys, first, step);
        work.param[1] = angles.sat_angles ? 1.0f : missing;
        for (double& v : xs) v = sat_angle_to_plane(v, angles);
        for (double& v : ys) v = sat_angle_to_plane(v, angles);
    } else {
        // False easting and northing are in metres whatever unit the coordinates have.
        const double metres = unit_to_metres(in->xy_units);
        const double fe = value("false_easting", 0.0), fn = value("false_northing", 0.0);
        for (double& v : xs) v = (v * metres - fe) / plane_unit_m;
        for (double& v : ys) v = (v * metres - fn) / plane_unit_m;
    }
    double x0, dx, y0, dy;
    if (!even_spacing(xs, x0, dx) || !even_spacing(ys, y0, dy)) {
        MESS_print(M_error, "CF grid: projection coordinates x/y are not evenly spaced\n");
        return -1;
    }
    MAP_keep_domain keep;
    MAP_domain(&work);
    double ox = 0.0, oy = 0.0;
    if (m->code != 9) {
        double origin_lat = m->origin_lat(p);
        if (m->code == 4) origin_lat = value("latitude_of_projection_origin", p.tlat1);
        if (!MAP_tran_d(origin_lat, p.plon, &ox, &oy)) {
            MESS_print(M_error, "CF grid: the projection origin cannot be placed\n");
            return -1;
        }
    }
    const int nx = static_cast<int>(xs.size()), ny = static_cast<int>(ys.size());
    const double centre_x = ox + x0 + dx * (nx - 1) / 2.0;
    const double centre_y = oy + y0 + dy * (ny - 1) / 2.0;
    double clat, clon;
    if (!MAP_untran_d(centre_x, centre_y, &clat, &clon)) {
        MESS_print(M_error, "CF grid: the grid's centre is off the earth\n");
        return -1;
    }
    *dom = work;
    dom->clat = static_cast<float>(clat);
    dom->clon = static_cast<float>(clon);
    dom->nx = nx;
    dom->ny = ny;
    dom->dx = static_cast<float>(dx != 0.0 ? std::fabs(dx) : 1.0);
    dom->dy = static_cast<float>(dy != 0.0 ? std::fabs(dy) : 1.0);
    return 0;
}

int CF_domain_latlon(const Domain* dom, std::vector<double>* lat, std::vector<double>* lon)
{
    if (!dom || !lat || !lon) return -1;
    if (dom->proj < 1 || dom->proj > 9 || !has_grid(*dom)) {
        MESS_print(M_error, "CF grid: latitude/longitude need an earth projection with a grid\n");
        return -1;
    }
    MAP_keep_domain keep;
    MAP_domain(dom);
    double cx, cy;
    if (!MAP_tran_d(dom->clat, dom->clon, &cx, &cy)) {
        MESS_print(M_error, "CF grid: the domain's centre cannot be placed on its projection\n");
        return -1;
    }
    const std::size_t count = static_cast<std::size_t>(dom->nx) * static_cast<std::size_t>(dom->ny);
    lat->assign(count, missing);
    lon->assign(count, missing);
    std::size_t k = 0;
    for (int j = 0; j < dom->ny; ++j) {
        const double y = plane_at(cy, -dom->dy, dom->ny, j);
        for (int i = 0; i < dom->nx; ++i, ++k) MAP_untran_d(plane_at(cx, dom->dx, dom->nx, i), y, &(*lat)[k], &(*lon)[k]);
    }
    return 0;
}
