// Grid operations whose plain reading would corrupt memory or give plainly wrong values: a
// mosaic built in the tile's own record, smoothing that favours far points, soundings from
// projected winds and without the units file.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "grid_helpers.hpp"
#include "resrc.hpp"
#include "scratch_dir.hpp"
#include "string.hpp"
#include "unittool.hpp"
#include "vecttool.hpp"

namespace {

void use_units_in(const std::string& dir)
{
    RES_put("file_path", dir.c_str());
    UNIT_clear_cache();
}

// The record that is the tile becomes the mosaic: its array must hold the whole mosaic (the
// sanitizer build aborts on the overrun otherwise), with the tile's values as the top-left tile.
TEST(GrdHazards, MosaicInTheTilesOwnRecordGrowsItsArray)
{
    struct Case {
        int nx, ny;
    } cases[] = {{2, 2}, {3, 1}, {1, 4}};
    for (const Case& c : cases) {
        TestGrid t(latlon_domain(40, -100, 5, 4, 1, 1));
        for (int k = 0; k < 20; ++k) t.g.grid[k] = static_cast<float>(k);
        ASSERT_EQ(GRD_piece_setup(&t.g, c.nx, c.ny, &t.g), 0);
        ASSERT_EQ(t.nx(), c.nx * 4 + 1);
        ASSERT_EQ(t.ny(), c.ny * 3 + 1);
        EXPECT_EQ(t.at(4, 3), 19.0f);
        EXPECT_EQ(t.at(t.nx() - 1, t.ny() - 1), kMiss);
        float p[2];
        ASSERT_EQ(GRD_stats("maxmin", &t.g, p), 1);   // walks every point of the new size
        EXPECT_EQ(p[0], 19.0f);
        TestGrid tile(latlon_domain(40, -100, 5, 4, 1, 1));
        std::fill(tile.g.grid, tile.g.grid + 20, 50.0f);
        EXPECT_EQ(GRD_piece_grid(&t.g, c.nx - 1, c.ny - 1, &tile.g), 0);
        EXPECT_EQ(t.at(t.nx() - 1, t.ny() - 1), 50.0f);
    }
}

// Smoothing weights exp(r^2 / s): only a negative s makes near points count more.
TEST(GrdHazards, SmoothRefusesAPositiveWidth)
{
    const Domain d = latlon_domain(0, 0, 9, 9, 1, 1);
    struct Case {
        float s;
        bool ok;
    } cases[] = {{-4.0f, true}, {-0.5f, true}, {4.0f, false}, {0.0f, false}};
    for (const Case& c : cases) {
        TestGrid z(d), out;
        for (int k = 0; k < 81; ++k) z.g.grid[k] = 0.0f;
        z.at(4, 4) = 81.0f;
        float values[GRD_MATH_OPERANDS];
        std::fill(values, values + GRD_MATH_OPERANDS, kMiss);
        values[2] = c.s;
        GRD_report* g[GRD_MATH_OPERANDS] = {&out.g, &z.g};
        ASSERT_EQ(GRD_math("smooth", g, values), c.ok ? 1 : 0) << c.s;
        // The peak stays the largest value: the centre weighs most.
        if (c.ok) {
            EXPECT_GT(out.at(4, 4), out.at(0, 0)) << c.s;
        }
    }
}

// Winds of a polar stereographic grid follow its axes; the sounding gives the earth's
// direction. Without the units file no value is taken for a converted one.
TEST(GrdHazards, SoundingWindsAreEarthRelativeAndNeedTheUnitsFile)
{
    const Domain d = projected_domain(1, 90.0f, -105.0f, 50.0f, -105.0f, 21, 21, 1.0f);
    const float lat = 50.0f;
    struct Case {
        float lon;
        float dir;
    } cases[] = {{-105.0f, 270.0f}, {-95.0f, 270.0f}, {-114.0f, 200.0f}, {-97.0f, 45.0f}};
    for (const Case& c : cases) {
        use_units_in(QAZ_SHARE_SRC "/");
        TestGrid u(d), v(d), t(d);
        for (TestGrid* g : {&u, &v, &t}) {
            g->g.ltype = 100;
            g->g.level = 500;
        }
        u.g.var = 33;
        v.g.var = 34;
        t.g.var = 11;
        str_copy(u.g.units, sizeof u.g.units, "m/s");
        str_copy(v.g.units, sizeof v.g.units, "m/s");
        str_copy(t.g.units, sizeof t.g.units, "K");
        // 10 m/s from c.dir on the earth, written in the grid's axes.
        fill(u, [&](double, double, float x, float y) {
            float uu = 0, vv = 0;
            wind2vect(&uu, &vv, MAP_dir_adj(c.dir, x, y), 10.0f);
            return uu;
        });
        fill(v, [&](double, double, float x, float y) {
            float uu = 0, vv = 0;
            wind2vect(&uu, &vv, MAP_dir_adj(c.dir, x, y), 10.0f);
            return vv;
        });
        std::fill(t.g.grid, t.g.grid + 441, 253.15f);
        GRD_report* grids[3] = {&u.g, &v.g, &t.g};
        UPA_level level[2];
        ASSERT_EQ(GRD_get_sound(grids, 3, lat, c.lon, level, 2), 1) << c.lon;
        EXPECT_NEAR(level[0].dir, c.dir, 0.5) << c.lon;
        EXPECT_NEAR(level[0].spd, 19.438f, 0.05) << c.lon;
        EXPECT_NEAR(level[0].t, -20.0f, 1e-3);
        use_units_in(scratch_dir("grd_hazards").string() + "/");
        EXPECT_EQ(GRD_get_sound(grids, 3, lat, c.lon, level, 2), -1) << "no units file";
    }
    use_units_in(QAZ_SHARE_SRC "/");
}

}  // namespace
