// Vectors: wind direction/speed <-> components, dot and cross products. Angles in degrees.
// -9999 is missing: a missing input gives missing outputs.
#pragma once

struct VECT {
    float x;
    float y;
    float z;
};

// u = spd sin(dir), v = spd cos(dir): dir is where the vector points. 0, -1 (outputs -9999).
int polar2vect(float* u, float* v, float dir, float spd);
// spd = |(u, v)|, dir = atan2(u, v) in -180..180 (0 below a speed of 0.01). 0, or -1.
int vect2polar(float* dir, float* spd, float u, float v);
// Meteorological: dir is where the wind comes from. u = -spd sin(dir), v = -spd cos(dir).
int wind2vect(float* u, float* v, float dir, float spd);
// spd = |(u, v)|, dir (where from) in 0..360, 0 below a speed of 0.01 (calm). 0, or -1.
int vect2wind(float* dir, float* spd, float u, float v);
// u . v; -9999 when either x is -9999.
float dot_product(VECT u, VECT v);
// *w = u x v. 0; -1 with w all -9999 when either x is -9999.
int cross_product(VECT* w, VECT u, VECT v);
