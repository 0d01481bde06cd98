// Thermodynamic functions. Arithmetic is carried in double and rounded to float on return so that
// chained calls (adiabats, LCL iterations) do not accumulate single-precision error.
#include "thm_tool.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace {

constexpr float missing = -9999.0f;
constexpr double kelvin_offset = 273.15;
constexpr double kappa = 0.286;          // Rd / cp used by the potential temperature
constexpr double epsilon_gkg = 622.0;    // 1000 x Rd / Rv, mixing ratios in g/kg
constexpr double latent_factor = -2.6518986;
constexpr double deg_to_rad = 0.017453292519943334;

bool is_missing(float value) { return value == missing; }

double to_fahrenheit(double kelvin) { return 32.0 + 9.0 * (kelvin - kelvin_offset) / 5.0; }

double vapor_pr_d(double t)
{
    if (t < 0.0) return missing;
    if (t < 100.0) return 0.0;
    double log_e = 23.832241 - 5.02808 * std::log10(t) -
                   1.3816e-7 * std::pow(10.0, 11.344 - 0.0303998 * t) +
                   0.008132801 * std::pow(10.0, 3.49149 - 1302.8844 / t) - 2949.076 / t;
    return std::pow(10.0, log_e);
}

double temp_vapor_pr_d(double e)
{
    if (e <= 0.0) return 0.0;
    double bracket = std::pow(e, 0.0915) - 1.2035;
    return std::pow(10.0, 0.0498646455 * std::log10(e) + 2.4082965) - 7.08475 +
           38.9114 * bracket * bracket;
}

// Vapour pressure behind a "temperature" argument: values of 100 or less already are one.
double vapour_of(double temp) { return temp <= 100.0 ? temp : vapor_pr_d(temp); }

double mix_ratio_d(double temp, double pr)
{
    if (temp == missing || pr == missing) return missing;
    if (temp <= 0.0 || pr <= 0.0) return 0.0;
    double e = vapour_of(temp);
    // Saturation at or above the total pressure has no finite mixing ratio.
    if (pr - e <= 0.0) return missing;
    return epsilon_gkg * e / (pr - e);
}

double pot_temp_d(double temp, double pr)
{
    if (pr <= 0.0 || temp <= 0.0) return missing;
    return temp * std::pow(1000.0 / pr, kappa);
}

double temp_on_dryad_d(double pot, double pr)
{
    if (pot <= 0.0 || pr <= 0.0) return 0.0;
    return pot * std::pow(pr / 1000.0, kappa);
}

double temp_on_mixrat_d(double w, double pr)
{
    if (w <= 0.0 || pr <= 0.0) return 0.0;
    return temp_vapor_pr_d(w * pr / (epsilon_gkg + w));
}

// exp(-2.6518986 w / T): the moisture term of the saturated-adiabat label. An infinite mixing
// ratio (saturation pressure above the air pressure) drives it to 0.
double latent_term(double temp, double pr)
{
    double w = mix_ratio_d(temp, pr);
    if (w == missing) return 0.0;
    return std::exp(latent_factor * w / temp);
}

double thetae_on_satad_d(double temp, double pr)
{
    if (temp <= 0.0 || pr <= 0.0) return 0.0;
    double term = latent_term(temp, pr);
    if (term <= 0.0) return missing;
    return temp * std::pow(1000.0 / pr, kappa) / term;
}

double temp_on_satad_d(double pot, double pr)
{
    if (pot <= 0.0 || pr <= 0.0 || pr > 2000.0) return missing;
    double temp = 253.16;
    double step = 120.0;
    for (int round = 0; round < 12; ++round) {
        double x = pot * latent_term(temp, pr) - pot_temp_d(temp, pr);
        if (x * x < 2e-5) break;
        step /= 2.0;
        temp += x > 0.0 ? step : -step;
    }
    return temp;
}

double lcl_pres_d(double ts, double tds, double ps)
{
    if (ts <= 100.0 || tds <= 100.0 || ps <= 0.0 || ps > 1100.0) return missing;
    double w = mix_ratio_d(tds, ps);
    // A dew point whose vapour pressure reaches the air pressure has no mixing-ratio line to
    // meet: the iteration would only halve the pressure towards zero.
    if (w == missing) return missing;
    double theta = pot_temp_d(ts, ps);
    double p = ps;
    double x = temp_on_mixrat_d(w, p) - temp_on_dryad_d(theta, p);
    for (int corrections = 0; corrections < 8 && x * x > 1e-4; ++corrections) {
        p *= std::pow(2.0, 0.02 * x);
        x = temp_on_mixrat_d(w, p) - temp_on_dryad_d(theta, p);
    }
    return p;
}

double lcl_temp_d(double ts, double ps, double pl) { return temp_on_dryad_d(pot_temp_d(ts, ps), pl); }

bool moist_guard_fails(float temp, float dewp, float pr) { return temp <= 0.0f || dewp < 0.0f || pr < 0.0f; }

// Saturated-adiabat label through the LCL of the parcel; missing without a usable LCL.
double parcel_thetae(double temp, double dewp, double pr)
{
    double pl = lcl_pres_d(temp, dewp, pr);
    if (pl == missing) return missing;
    double tl = lcl_temp_d(temp, pr, pl);
    if (tl <= 0.0) return missing;
    return thetae_on_satad_d(tl, pl);
}

double wet_bulb_at(float temp, float dewp, float pr, double final_pr)
{
    if (moist_guard_fails(temp, dewp, pr)) return missing;
    if (dewp == 0.0f) return 0.0;
    double thetae = parcel_thetae(temp, dewp, pr);
    if (thetae == missing || thetae <= 0.0) return missing;
    return temp_on_satad_d(thetae, final_pr);
}

double wind_chill_speed(double ws) { return std::min(ws, 26.0); }

}  // namespace

float vapor_pr(float t) { return static_cast<float>(vapor_pr_d(t)); }

float temp_vapor_pr(float e) { return static_cast<float>(temp_vapor_pr_d(e)); }

float mix_ratio(float temp, float pr) { return static_cast<float>(mix_ratio_d(temp, pr)); }

float spec_hum(float temp, float pr)
{
    if (is_missing(temp) || is_missing(pr)) return missing;
    if (temp <= 0.0f || pr <= 0.0f) return 0.0f;
    return static_cast<float>(epsilon_gkg * vapour_of(temp) / pr);
}

float temp_on_mixrat(float w, float pr) { return static_cast<float>(temp_on_mixrat_d(w, pr)); }

float rel_hum(float t, float td)
{
    if (t <= 0.0f || td <= 0.0f) return missing;
    if (t <= 100.0f && td <= 100.0f) return static_cast<float>(100.0 * td / t);
    double saturation = vapor_pr_d(t);
    if (saturation <= 0.0) return missing;
    return static_cast<float>(100.0 * vapor_pr_d(td) / saturation);
}

float dew_temp(float temp, float rh)
{
    if (is_missing(rh) || temp <= 0.0f) return missing;
    double clamped = std::clamp(static_cast<double>(rh), 2.0, 100.0);
    double dew = temp_vapor_pr_d(vapor_pr_d(temp) * clamped / 100.0);
    // The inverse vapour-pressure fit overshoots by up to 0.06 K near saturation; a dew point
    // above the air temperature would make saturated air fail the dew-point checks downstream
    // (heat index, relative humidity above 100 %).
    return static_cast<float>(std::min(dew, static_cast<double>(temp)));
}

float pot_temp(float temp, float pr) { return static_cast<float>(pot_temp_d(temp, pr)); }

float temp_on_dryad(float pot, float pr) { return static_cast<float>(temp_on_dryad_d(pot, pr)); }

float virt_temp(float temp, float dewp, float pr)
{
    if (moist_guard_fails(temp, dewp, pr)) return missing;
    if (dewp == 0.0f) return temp;
    double w = dewp <= 100.0f ? dewp : mix_ratio_d(dewp, pr);
    if (w == missing) return missing;
    return static_cast<float>((1.0 + 0.609 * w / 1000.0) * temp);
}

float virt_pot_temp(float temp, float dewp, float pr)
{
    if (moist_guard_fails(temp, dewp, pr) || pr <= 0.0f) return missing;
    if (dewp == 0.0f) return pot_temp(temp, pr);
    float tv = virt_temp(temp, dewp, pr);
    if (is_missing(tv)) return missing;
    return static_cast<float>(tv * std::pow(1000.0 / pr, kappa));
}

float thetae_on_satad(float temp, float pr) { return static_cast<float>(thetae_on_satad_d(temp, pr)); }

float temp_on_satad(float pot, float pr) { return static_cast<float>(temp_on_satad_d(pot, pr)); }

float lcl_pres(float ts, float tds, float ps) { return static_cast<float>(lcl_pres_d(ts, tds, ps)); }

float lcl_temp(float ts, float ps, float pl) { return static_cast<float>(lcl_temp_d(ts, ps, pl)); }

float conv_temp(float wbar, float pc, float pr)
{
    return static_cast<float>(temp_on_dryad_d(pot_temp_d(temp_on_mixrat_d(wbar, pc), pc), pr));
}

float eq_pot_temp(float temp, float dewp, float pr)
{
    if (moist_guard_fails(temp, dewp, pr)) return missing;
    if (dewp == 0.0f) return pot_temp(temp, pr);
    return static_cast<float>(parcel_thetae(temp, dewp, pr));
}

float wet_bulb(float temp, float dewp, float pr) { return static_cast<float>(wet_bulb_at(temp, dewp, pr, pr)); }

float wet_bulb_pot_temp(float temp, float dewp, float pr)
{
    return static_cast<float>(wet_bulb_at(temp, dewp, pr, 1000.0));
}

float interp_temp(float t1, float t2, float p1, float p2, float pr)
{
    if (p1 <= 0.0f || p2 <= 0.0f) return missing;
    if (is_missing(t1) && is_missing(t2)) return missing;
    if (is_missing(t1)) return t2;
    if (is_missing(t2)) return t1;
    // Two levels at one pressure define no slope, and ln(pr) needs a positive pressure.
    if (p1 == p2 || pr <= 0.0f) return missing;
    double slope_span = std::log(static_cast<double>(p1) / p2);
    return static_cast<float>(t1 - (static_cast<double>(t2) - t1) * std::log(static_cast<double>(pr) / p1) /
                                       slope_span);
}

float heat_index(float temp, float dewp)
{
    if (temp < 0.0f || dewp < 0.0f || dewp > temp) return missing;
    double saturation = vapor_pr_d(temp);
    if (saturation <= 0.0) return missing;
    double t = to_fahrenheit(temp);
    double r = 100.0 * vapor_pr_d(dewp) / saturation;
    double h = 1.2 * (t - 68.0) + 60.8 + 0.0936 * r;
    if (h >= 77.0) {
        // The regression was fitted with single-precision powers; keep them so.
        float tf = static_cast<float>(t), rf = static_cast<float>(r);
        float t2 = tf * tf, t3 = t2 * tf, r2 = rf * rf, r3 = r2 * rf;
        h = 16.0 + 0.185212 * t + 5.37941 * r - 0.100254 * t * r + 9.41695e-3 * t2 + 7.28898e-3 * r2 +
            3.45372e-4 * t2 * r - 8.14971e-4 * t * r2 + 1.02102e-5 * t2 * r2 - 3.8646e-5 * t3 +
            2.91583e-5 * r3 + 1.42721e-6 * t3 * r + 1.97483e-7 * t * r3 - 2.18429e-8 * t3 * r2 +
            8.43296e-10 * t2 * r3 - 4.81975e-11 * t3 * r3;
    }
    return static_cast<float>((h - 32.0) * 5.0 / 9.0 + kelvin_offset);
}

float humiture(float temp, float dewp)
{
    if (temp < 0.0f || dewp < 0.0f) return missing;
    double excess = vapor_pr_d(dewp) - 21.0;
    double fahrenheit = to_fahrenheit(temp);
    return static_cast<float>(excess < 0.0 ? fahrenheit : fahrenheit + excess);
}

float temp_hum_index(float temp, float dewp)
{
    if (temp < 0.0f || dewp < 0.0f) return missing;
    return static_cast<float>(0.55 * temp + 0.2 * dewp + 17.5);
}

float wind_chill_temp(float temp, float ws)
{
    if (temp < 0.0f || ws < 0.0f) return missing;
    if (ws < 2.0f || temp > 306.15f) return temp;
    double speed = wind_chill_speed(ws);
    return static_cast<float>(306.15 - (0.474266 + 0.453843 * std::sqrt(speed) - 0.0453843 * speed) *
                                           (306.15 - temp));
}

float wind_chill_temp2(float temp, float ws)
{
    if (temp < 0.0f || ws < 0.0f) return missing;
    double chill = 0.6215 * temp + 116.514 + std::pow(static_cast<double>(ws), 0.16) * (0.4863 * temp - 146.774);
    return static_cast<float>(std::min(chill, static_cast<double>(temp)));
}

float wind_chill(float temp, float ws)
{
    if (temp < 0.0f || ws < 0.0f) return missing;
    if (ws < 2.0f || temp > 306.15f) return 0.0f;
    double speed = wind_chill_speed(ws);
    return static_cast<float>((10.45 + 10.0 * std::sqrt(speed) - speed) * 1.1627 * (306.15 - temp));
}

float sfc_pr_alt(float alt, float el)
{
    if (alt <= 0.0f || is_missing(el)) return missing;
    double ratio = (288.15 - 0.0065 * el) / 288.15;
    if (ratio <= 0.0) return missing;
    return static_cast<float>(alt * std::pow(ratio, 5.2558));
}

float pres_alt(float pres)
{
    if (pres <= 0.0f) return missing;
    if (pres < 226.32f) return static_cast<float>(11000.0 + 6341.62 * std::log(226.32 / pres));
    return static_cast<float>((288.15 - 288.15 * std::pow(pres / 1013.25, 0.190263)) / 0.0065);
}

float calc_earth_dist(float lat1, float lon1, float lat2, float lon2)
{
    // A missing or off-globe position has no distance; a number here would pass a distance test.
    for (float value : {lat1, lon1, lat2, lon2})
        if (is_missing(value) || !std::isfinite(value)) return missing;
    if (std::fabs(lat1) > 90.0f || std::fabs(lat2) > 90.0f) return missing;
    // In double: a single-precision cosine of nearby points is off by kilometres.
    double phi1 = lat1 * deg_to_rad, phi2 = lat2 * deg_to_rad;
    double dlon = (static_cast<double>(lon1) - lon2) * deg_to_rad;
    double cosine = std::sin(phi1) * std::sin(phi2) + std::cos(phi1) * std::cos(phi2) * std::cos(dlon);
    // Rounding can push the cosine just past 1 for coincident points; acos would give NaN.
    cosine = std::clamp(cosine, -1.0, 1.0);
    return static_cast<float>(63.713 * 100.0 * std::acos(cosine));
}
