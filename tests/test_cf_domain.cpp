// Domain <-> CF grid_mapping: every earth projection with a CF form comes back as the same grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cf_domain.hpp"
#include "region.hpp"

namespace {

Domain make_domain(int proj, float plat, float plon, float clat, float clon, int nx, int ny, float dx, float dy,
                   float p0 = -9999.0f, float p1 = -9999.0f, int ellipse = 0)
{
    Domain d;
    DOM_init(&d);
    d.proj = proj;
    d.plat = plat;
    d.plon = plon;
    d.clat = clat;
    d.clon = clon;
    d.nx = nx;
    d.ny = ny;
    d.dx = dx;
    d.dy = dy;
    d.param[0] = p0;
    d.param[1] = p1;
    d.ellipse = ellipse;
    return d;
}

struct Case {
    const char* label;
    Domain dom;
    const char* mapping;
};

const Case cases[] = {
    {"latlon", make_domain(2, -9999, -9999, 45, 10, 37, 21, 0.5f, 0.25f), "latitude_longitude"},
    {"latlon 0-360", make_domain(2, -9999, -9999, 0, 180, 360, 181, 1, 1), "latitude_longitude"},
    {"polar north", make_domain(1, 90, -105, 55, -100, 40, 30, 0.6f, 0.6f, 60), "polar_stereographic"},
    {"polar south", make_domain(1, -90, 30, -70, 40, 30, 25, 0.5f, 0.5f), "polar_stereographic"},
    {"mercator", make_domain(3, -9999, -9999, 20, -60, 50, 40, 0.4f, 0.4f), "mercator"},
    {"lambert 2 parallels", make_domain(4, 40, -97, 38, -95, 60, 45, 0.3f, 0.3f, 33, 45), "lambert_conformal_conic"},
    {"lambert tangent", make_domain(4, 25, -95, 35, -95, 30, 20, 0.4f, 0.4f, 25), "lambert_conformal_conic"},
    {"lambert south", make_domain(4, -30, 140, -30, 135, 30, 20, 0.5f, 0.5f, -20, -40), "lambert_conformal_conic"},
    {"orthographic", make_domain(5, 45, 0, 45, 5, 30, 30, 1, 1), "orthographic"},
    {"lambert azimuthal", make_domain(8, 52, 10, 50, 12, 40, 30, 0.5f, 0.5f), "lambert_azimuthal_equal_area"},
    {"satellite angles", make_domain(9, 0, 0, 0, 0, 41, 41, 1.5f, 1.5f, 421.64f, 1), "geostationary"},
    {"satellite tangent ellipse", make_domain(9, 0, -75, 10, -80, 31, 25, 1.2f, 1.2f, -9999, -9999, 1),
     "geostationary"},
};

TEST(CfDomain, EveryProjectionComesBackAsTheSameGrid)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CF_grid grid;
        ASSERT_EQ(CF_describe_domain(&c.dom, &grid), 0);
        EXPECT_EQ(grid.mapping_name, c.mapping);
        ASSERT_FALSE(grid.attributes.empty());
        EXPECT_EQ(grid.attributes[0].name, "grid_mapping_name");
        ASSERT_EQ(grid.x.size(), static_cast<std::size_t>(c.dom.nx));
        ASSERT_EQ(grid.y.size(), static_cast<std::size_t>(c.dom.ny));
        EXPECT_GT(grid.y.front(), grid.y.back()) << "row 0 is north";

        Domain back;
        ASSERT_EQ(CF_domain_from_mapping(&grid, &back), 0);
        EXPECT_EQ(back.proj, c.dom.proj);
        EXPECT_EQ(back.nx, c.dom.nx);
        EXPECT_EQ(back.ny, c.dom.ny);
        EXPECT_NEAR(back.dx, c.dom.dx, 1e-4 * c.dom.dx);
        EXPECT_NEAR(back.dy, c.dom.dy, 1e-4 * c.dom.dy);

        std::vector<double> lat1, lon1, lat2, lon2;
        ASSERT_EQ(CF_domain_latlon(&c.dom, &lat1, &lon1), 0);
        ASSERT_EQ(CF_domain_latlon(&back, &lat2, &lon2), 0);
        for (std::size_t k = 0; k < lat1.size(); ++k) {
            if (lat1[k] == -9999.0) {
                EXPECT_EQ(lat2[k], -9999.0);
                continue;
            }
            ASSERT_NEAR(lat2[k], lat1[k], 1e-4) << "point " << k;
            ASSERT_NEAR(std::remainder(lon2[k] - lon1[k], 360.0), 0.0, 1e-4) << "point " << k;
        }

        // The same grid read south to north.
        CF_grid flipped = grid;
        std::reverse(flipped.y.begin(), flipped.y.end());
        Domain back_flipped;
        ASSERT_EQ(CF_domain_from_mapping(&flipped, &back_flipped), 0);
        EXPECT_NEAR(back_flipped.clat, back.clat, 1e-4);
        EXPECT_NEAR(back_flipped.clon, back.clon, 1e-4);
    }
}

TEST(CfDomain, ProjectionsWithoutCfFormAreRefused)
{
    for (int proj : {6, 7, 20, 40, 99}) {
        Domain d = make_domain(proj, 45, 0, 45, 0, 10, 10, 1, 1);
        CF_grid grid;
        EXPECT_EQ(CF_describe_domain(&d, &grid), -1) << proj;
    }
    Domain no_grid = make_domain(1, 90, 0, 60, 0, -9999, -9999, -9999, -9999);
    CF_grid grid;
    EXPECT_EQ(CF_describe_domain(&no_grid, &grid), -1);
}

TEST(CfDomain, UnusableMappingsAreRefused)
{
    const auto grid_of = [](const char* name, std::vector<CF_attribute> attrs, std::vector<double> x,
                            std::vector<double> y) {
        CF_grid g;
        g.mapping_name = name;
        g.attributes = std::move(attrs);
        g.x = std::move(x);
        g.y = std::move(y);
        g.xy_units = "m";
        return g;
    };
    const CF_grid bad[] = {
        grid_of("transverse_mercator", {}, {0, 1000}, {0, 1000}),
        grid_of("lambert_conformal_conic", {}, {0, 1000}, {0, 1000}),
        grid_of("mercator", {{"standard_parallel", "", {30}}}, {0, 1000}, {0, 1000}),
        grid_of("polar_stereographic", {}, {0, 1000, 5000}, {0, 1000}),
        grid_of("geostationary", {}, {0, 0.01}, {0, 0.01}),
        grid_of("polar_stereographic", {}, {}, {0, 1000}),
    };
    for (const CF_grid& g : bad) {
        Domain d;
        EXPECT_EQ(CF_domain_from_mapping(&g, &d), -1) << g.mapping_name;
    }
}

TEST(CfDomain, FalseOriginAndKilometresAreHonoured)
{
    Domain dom = make_domain(1, 90, -105, 55, -100, 20, 10, 0.6f, 0.6f, 60);
    CF_grid grid;
    ASSERT_EQ(CF_describe_domain(&dom, &grid), 0);
    for (double& v : grid.x) v = (v + 2.0e6) / 1000.0;
    for (double& v : grid.y) v = (v - 3.0e6) / 1000.0;
    grid.xy_units = "km";
    for (CF_attribute& a : grid.attributes) {
        if (a.name == "false_easting") a.values = {2.0e6};
        if (a.name == "false_northing") a.values = {-3.0e6};
    }
    Domain back;
    ASSERT_EQ(CF_domain_from_mapping(&grid, &back), 0);
    EXPECT_NEAR(back.clat, dom.clat, 1e-4);
    EXPECT_NEAR(back.clon, dom.clon, 1e-4);
    EXPECT_NEAR(back.dx, dom.dx, 1e-5);
}

}  // namespace
