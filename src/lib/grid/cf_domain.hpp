// The one mapping between a map Domain and its CF (Climate and Forecast conventions) description:
// the grid_mapping attributes, the 1-D coordinates and the 2-D latitude/longitude of every point.
// The netCDF writer and reader, the pictures and any binding use it, so all agree.
#pragma once
#include <string>
#include <vector>

#include "maptran.hpp"

// One attribute of the grid_mapping variable: text when text is not empty, else numbers.
struct CF_attribute {
    std::string name;
    std::string text;
    std::vector<double> values;
};

// latlon: x/y are longitudes/latitudes in degrees (1-D lon/lat coordinates); otherwise x/y are
// projection coordinates in xy_units ("m", or "radian" for the geostationary scan angles).
// x holds nx values west to east, y holds ny values in the grid's row order: row 0 north.
struct CF_grid {
    bool latlon = false;
    std::string mapping_name;  // grid_mapping_name
    std::vector<CF_attribute> attributes;  // grid_mapping_name first
    std::vector<double> x;
    std::vector<double> y;
    std::string xy_units;
};

// Fills *out from an earth domain with a grid. 0 ok; -1 with a message when the projection has
// no CF form (gnomonic, Mollweide, charts, diagrams) or the domain has no grid.
int CF_describe_domain(const Domain* dom, CF_grid* out);

// The reverse, for readers: a Domain (with nx, ny from x, y) from a grid_mapping name, its
// attributes and the 1-D coordinates (either row order; the spacing must be even). 0 ok; -1 with
// a message when the library has no projection for the mapping or the coordinates are unusable.
int CF_domain_from_mapping(const CF_grid* in, Domain* dom);

// Latitude and longitude (degrees) of every grid point, row by row from row 0 (north), through
// the library's own transforms; -9999 where a point is off the earth. 0 ok; -1 with a message
// for a domain without an earth projection or grid.
int CF_domain_latlon(const Domain* dom, std::vector<double>* lat, std::vector<double>* lon);

// The value of a numeric attribute of in (first value), or fallback when it is absent.
double CF_attribute_value(const CF_grid* in, const char* name, double fallback);
