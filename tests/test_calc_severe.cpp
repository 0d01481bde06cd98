// Severe-weather parameters of the shipped sample soundings, each against a hand computation
// from the merged profile (simple sums over the sounding's own levels, written out here), and
// the composite parameters against worked examples of their published formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "calc.hpp"
#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kKnot = 0.514444;

struct Sample {
    std::unique_ptr<THERM_values> tv = std::make_unique<THERM_values>();
};

Sample load(const char* id)
{
    Sample s;
    int type = 0;
    UPA_info info{};
    int fd = UPA_open_file(QAZ_SHARE_SRC "/sample_upa.txt", nullptr, &type, &info);
    EXPECT_GE(fd, 0);
    auto report = std::make_unique<UPA_report>();
    EXPECT_GE(UPA_get_station(fd, id, report.get(), UPA_REP_ALL), 0) << id;
    UPA_close(fd);
    EXPECT_GT(THERM_calc(report.get(), s.tv.get()), 0);
    THERM_indices(s.tv.get());
    return s;
}

const char* const kStations[] = {"PLN", "RVR", "MSA", "CAP"};

struct UV {
    double h, u, v;  // m, m/s
};
std::vector<UV> winds(const THERM_values& tv)
{
    std::vector<UV> out;
    for (int i = 0; i < tv.num_sw; ++i) {
        const UPA_level& l = tv.sw[i];
        if (l.h == kMissing || l.dir == kMissing || l.spd == kMissing) continue;
        if (!out.empty() && l.h <= out.back().h) continue;
        double a = l.dir * M_PI / 180, s = l.spd * kKnot;
        out.push_back({l.h, -s * std::sin(a), -s * std::cos(a)});
    }
    return out;
}
UV at(const std::vector<UV>& w, double h)
{
    for (std::size_t k = 0; k + 1 < w.size(); ++k)
        if (h >= w[k].h && h <= w[k + 1].h) {
            double f = (h - w[k].h) / (w[k + 1].h - w[k].h);
            return {h, w[k].u + f * (w[k + 1].u - w[k].u), w[k].v + f * (w[k + 1].v - w[k].v)};
        }
    return {h, NAN, NAN};
}
// Exact mean of the piecewise-linear wind between two heights (trapezoids).
UV mean(const std::vector<UV>& w, double bottom, double top)
{
    std::vector<UV> pts{at(w, bottom)};
    for (const UV& p : w)
        if (p.h > bottom && p.h < top) pts.push_back(p);
    pts.push_back(at(w, top));
    double su = 0, sv = 0;
    for (std::size_t k = 0; k + 1 < pts.size(); ++k) {
        double dh = pts[k + 1].h - pts[k].h;
        su += dh * (pts[k].u + pts[k + 1].u) / 2;
        sv += dh * (pts[k].v + pts[k + 1].v) / 2;
    }
    return {0, su / (top - bottom), sv / (top - bottom)};
}

TEST(SevereSample, BulkShearAndSupercellMotionByHand)
{
    for (const char* id : kStations) {
        Sample s = load(id);
        const THERM_values& tv = *s.tv;
        std::vector<UV> w = winds(tv);
        double h0 = tv.sfc.h;
        UV a = at(w, h0), b = at(w, h0 + 6000);
        EXPECT_NEAR(tv.index[TI_shear_6km], std::hypot(b.u - a.u, b.v - a.v) / kKnot, 0.05) << id;
        // Right mover: 0-6 km mean wind plus 7.5 m/s at right angles (clockwise) to the shear
        // from the 0-0.5 km to the 5.5-6 km mean wind.
        UV m = mean(w, h0, h0 + 6000), lo = mean(w, h0, h0 + 500), hi = mean(w, h0 + 5500, h0 + 6000);
        double su = hi.u - lo.u, sv = hi.v - lo.v, sh = std::hypot(su, sv);
        double ru = m.u + 7.5 * sv / sh, rv = m.v - 7.5 * su / sh;
        double dir = std::atan2(-ru, -rv) * 180 / M_PI;
        if (dir < 0) dir += 360;
        EXPECT_NEAR(tv.index[TI_rm_spd], std::hypot(ru, rv) / kKnot, 0.3) << id;
        EXPECT_NEAR(tv.index[TI_rm_dir], dir, 1.0) << id;
    }
}

TEST(SevereSample, EffectiveLayerHelicityAndShearByHand)
{
    int with_layer = 0;
    for (const char* id : kStations) {
        Sample s = load(id);
        const THERM_values& tv = *s.tv;
        // The layer: the first run of levels whose parcels have CAPE >= 100 and CIN <= 250.
        float bottom = kMissing, top = kMissing;
        for (int i = tv.sfc_ind; i < tv.num_sm; ++i) {
            UPA_level p = tv.sm[i];
            if (p.p < tv.sfc.p - 500 || p.td == kMissing) break;
            PARCEL_params pp;
            bool ok = parcel_calc(tv.sm, tv.num_sm, &p, 100, p.p, 0, &pp) == 1 && pp.Bplus >= 100 && pp.Bminus <= 250;
            if (ok && bottom == kMissing) bottom = tv.sm[i].p;
            if (ok) top = tv.sm[i].p;
            if (!ok && bottom != kMissing) break;
        }
        EXPECT_EQ(tv.index[TI_eff_bottom], bottom) << id;
        EXPECT_EQ(tv.index[TI_eff_top], top) << id;
        if (bottom == kMissing) continue;
        ++with_layer;
        float hb = height_of_pressure(tv.sm, tv.num_sm, bottom), ht = height_of_pressure(tv.sm, tv.num_sm, top);
        // Helicity relative to the right mover: the sum of the cross products of successive
        // storm-relative winds through the layer.
        std::vector<UV> w = winds(tv);
        double a = tv.index[TI_rm_dir] * M_PI / 180, sp = tv.index[TI_rm_spd] * kKnot;
        double cu = -sp * std::sin(a), cv = -sp * std::cos(a);
        std::vector<UV> layer{at(w, hb)};
        for (const UV& p : w)
            if (p.h > hb && p.h < ht) layer.push_back(p);
        layer.push_back(at(w, ht));
        double srh = 0;
        for (std::size_t k = 0; k + 1 < layer.size(); ++k)
            srh += (layer[k + 1].u - cu) * (layer[k].v - cv) - (layer[k].u - cu) * (layer[k + 1].v - cv);
        // The library interpolates the layer's ends in ln p, this sum linearly in height.
        EXPECT_NEAR(tv.index[TI_eff_srh], srh, 0.015 * std::fabs(srh) + 2.0) << id;
        // Bulk shear from the layer bottom to half the most-unstable parcel's EL height.
        float el_h = height_of_pressure(tv.sm, tv.num_sm, tv.mu_parcel.el);
        UV b0 = at(w, hb), b1 = at(w, hb + 0.5 * (el_h - hb));
        EXPECT_NEAR(tv.index[TI_eff_shear], std::hypot(b1.u - b0.u, b1.v - b0.v) / kKnot, 0.05) << id;
    }
    EXPECT_EQ(with_layer, 4);  // every sample is a severe-weather day
}

TEST(SevereSample, DowndraftEnergyByHand)
{
    for (const char* id : kStations) {
        Sample s = load(id);
        const THERM_values& tv = *s.tv;
        // Origin: the lowest theta-e of the lowest 400 mb; the wet-bulb parcel sinks on its
        // saturated adiabat; energy Rd * sum (Te - Tp) dln p over the sounding's own levels.
        int origin = -1;
        float lowest = 1e9f;
        for (int i = tv.sfc_ind; i < tv.num_sm && tv.sm[i].p >= tv.sfc.p - 400; ++i) {
            const UPA_level& l = tv.sm[i];
            if (l.td == kMissing) continue;
            float te = eq_pot_temp(l.t + 273.15f, l.td + 273.15f, l.p);
            if (te > 0 && te < lowest) {
                lowest = te;
                origin = i;
            }
        }
        ASSERT_GE(origin, 0) << id;
        const UPA_level& o = tv.sm[origin];
        float tw = wet_bulb(o.t + 273.15f, o.td + 273.15f, o.p);
        float label = thetae_on_satad(tw, o.p);
        double energy = 0;
        for (int i = origin; i > tv.sfc_ind; --i) {
            const UPA_level& up = tv.sm[i];
            const UPA_level& dn = tv.sm[i - 1];
            double d_up = up.t + 273.15 - temp_on_satad(label, up.p);
            double d_dn = dn.t + 273.15 - temp_on_satad(label, dn.p);
            energy += 287.05 * (d_up + d_dn) / 2 * std::log(dn.p / up.p);
        }
        EXPECT_NEAR(tv.index[TI_dcape], energy, 0.06 * energy + 20) << id;
        EXPECT_GT(energy, 300) << id;  // dry air aloft over a moist surface layer
    }
}

TEST(SevereFormulas, WorkedExamplesOfTheCompositeParameters)
{
    struct Stp {
        float mlcape, lcl, esrh, ebwd, mlcin, want;
    } stp[] = {
        {1500, 1000, 150, 20, 0, 1.0f},        // every term 1
        {3000, 500, 300, 35, -100, 4.0f},      // 2 x 1 x 2 x 1.5 (shear term capped) x 0.667
        {2000, 1500, 200, 25, -30, 1.111f},    // 1.333 x 0.5 x 1.333 x 1.25 x 1
        {2000, 2500, 200, 25, -30, 0.0f},      // LCL above 2 km
        {2000, 800, 200, 12, -30, 0.0f},       // shear below 12.5 m/s
        {2000, 800, 200, 25, -250, 0.0f},      // inhibition beyond -200 J/kg
    };
    for (const Stp& c : stp) EXPECT_NEAR(sig_tornado(c.mlcape, c.lcl, c.esrh, c.ebwd, c.mlcin), c.want, 0.002) << c.mlcape;
    struct Scp {
        float mucape, esrh, ebwd, want;
    } scp[] = {{2000, 100, 25, 4.0f}, {1000, 50, 15, 0.75f}, {3000, 200, 8, 0.0f}, {2500, -50, 20, -2.5f}};
    for (const Scp& c : scp) EXPECT_NEAR(supercell_composite(c.mucape, c.esrh, c.ebwd), c.want, 1e-4) << c.mucape;
    EXPECT_EQ(sig_tornado(kMissing, 1000, 150, 20, 0), kMissing);
    EXPECT_EQ(supercell_composite(2000, kMissing, 20), kMissing);
}

TEST(SevereSample, CompositesUseTheSoundingsIngredients)
{
    for (const char* id : kStations) {
        Sample s = load(id);
        const THERM_values& tv = *s.tv;
        const float* ix = tv.index;
        float lcl_agl = height_of_pressure(tv.sm, tv.num_sm, tv.ml_parcel.plcl) - tv.sfc.h;
        float ebwd = static_cast<float>(ix[TI_eff_shear] * kKnot);
        EXPECT_NEAR(ix[TI_stp], sig_tornado(ix[TI_ml_cape], lcl_agl, ix[TI_eff_srh], ebwd, -ix[TI_ml_cin]), 1e-4) << id;
        EXPECT_NEAR(ix[TI_scp], supercell_composite(ix[TI_mu_cape], ix[TI_eff_srh], ebwd), 1e-4) << id;
    }
}

TEST(SevereEdges, SoundingsThatCannotCarryTheParameters)
{
    // A calm, dry, stable sounding: no inflow layer, no shear, composites zero.
    std::vector<UPA_level> calm;
    for (int k = 0; k < 20; ++k) {
        float p = 1000 - 45.0f * k, h = 110 + 450.0f * k;
        calm.push_back({p, h, 10 - 2.0f * k, -20 - 2.0f * k, 0, 0});
    }
    float bottom, top;
    EXPECT_EQ(effective_layer(calm.data(), 20, &bottom, &top), 0);
    EXPECT_EQ(bottom, kMissing);
    EXPECT_NEAR(bulk_shear(calm.data(), 20, 110, 6110), 0.0f, 1e-4);
    float rd, rs;
    EXPECT_EQ(storm_motion(calm.data(), 20, 110, &rd, &rs, nullptr, nullptr), 1);
    EXPECT_NEAR(rs, 0.0f, 1e-4);  // no shear: no deviation from a calm mean wind
    // Too short for 0-6 km, or nothing at all.
    EXPECT_EQ(bulk_shear(calm.data(), 5, 110, 6110), kMissing);
    EXPECT_EQ(storm_motion(calm.data(), 5, 110, &rd, &rs, nullptr, nullptr), 0);
    EXPECT_EQ(rd, kMissing);
    EXPECT_EQ(downdraft_cape(nullptr, 0), kMissing);
    EXPECT_EQ(effective_layer(nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(height_of_pressure(calm.data(), 20, 1050), kMissing);
    EXPECT_NEAR(height_of_pressure(calm.data(), 20, 1000), 110, 1e-3);
}

}  // namespace
