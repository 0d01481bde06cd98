// Vector conversions and products.
#include "vecttool.hpp"

#include <cmath>

namespace {

constexpr float kMissing = -9999.0f;
constexpr double kDegToRad = 0.017453292519943334;
constexpr double kRadToDeg = 57.295779513082195;
constexpr double kCalm = 0.01;

bool missing(float a, float b) { return a == kMissing || b == kMissing; }

int set_missing(float* a, float* b)
{
    *a = kMissing;
    *b = kMissing;
    return -1;
}

}  // namespace

int polar2vect(float* u, float* v, float dir, float spd)
{
    if (missing(dir, spd)) return set_missing(u, v);
    *u = static_cast<float>(spd * std::sin(dir * kDegToRad));
    *v = static_cast<float>(spd * std::cos(dir * kDegToRad));
    return 0;
}

int vect2polar(float* dir, float* spd, float u, float v)
{
    if (missing(u, v)) return set_missing(dir, spd);
    const double speed = std::hypot(static_cast<double>(u), static_cast<double>(v));
    *spd = static_cast<float>(speed);
    *dir = speed < kCalm ? 0.0f : static_cast<float>(std::atan2(u, v) * kRadToDeg);
    return 0;
}

int wind2vect(float* u, float* v, float dir, float spd)
{
    if (missing(dir, spd)) return set_missing(u, v);
    *u = static_cast<float>(-spd * std::sin(dir * kDegToRad));
    *v = static_cast<float>(-spd * std::cos(dir * kDegToRad));
    return 0;
}

int vect2wind(float* dir, float* spd, float u, float v)
{
    if (missing(u, v)) return set_missing(dir, spd);
    const double speed = std::hypot(static_cast<double>(u), static_cast<double>(v));
    *spd = static_cast<float>(speed);
    if (speed < kCalm) {
        *dir = 0.0f;
        return 0;
    }
    double d = std::atan2(-static_cast<double>(u), -static_cast<double>(v)) * kRadToDeg;
    if (d < 0.0) d += 360.0;
    *dir = static_cast<float>(d);
    return 0;
}

float dot_product(VECT u, VECT v)
{
    if (u.x == kMissing || v.x == kMissing) return kMissing;
    return u.x * v.x + u.y * v.y + u.z * v.z;
}

int cross_product(VECT* w, VECT u, VECT v)
{
    if (u.x == kMissing || v.x == kMissing) {
        *w = VECT{kMissing, kMissing, kMissing};
        return -1;
    }
    *w = VECT{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    return 0;
}
