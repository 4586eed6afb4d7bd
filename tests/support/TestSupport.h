// Helpers shared by every test suite: pi, random unit directions, and a
// double-precision vector for reference computations built independently of
// the engine's float math. Header-only.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

#include "dgVector.h"

namespace testsupport {

const double kPi = 3.14159265358979323846;

// Double-precision point or direction of a reference computation.
struct D3 {
    double x, y, z;

    double operator[](int32_t i) const { return (i == 0) ? x : ((i == 1) ? y : z); }
    double& operator[](int32_t i) { return (i == 0) ? x : ((i == 1) ? y : z); }
};

inline D3 operator+(const D3& a, const D3& b) {
    return D3{a.x + b.x, a.y + b.y, a.z + b.z};
}
inline D3 operator-(const D3& a, const D3& b) {
    return D3{a.x - b.x, a.y - b.y, a.z - b.z};
}
inline D3 operator*(const D3& a, double s) {
    return D3{a.x * s, a.y * s, a.z * s};
}
inline D3 sub(const D3& a, const D3& b) {
    return a - b;
}
inline double dot(const D3& a, const D3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline D3 cross(const D3& a, const D3& b) {
    return D3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(const D3& a) {
    return std::sqrt(dot(a, a));
}
inline D3 toD3(const dgVector& v) {
    return D3{v.x, v.y, v.z};
}

// Uniform on the unit sphere (normalised Gaussian triple); w = 0.
inline dgVector randomUnit(std::mt19937& rng) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    dgVector d(g(rng), g(rng), g(rng), 0.0f);
    return d.scale(1.0f / std::sqrt(d % d));
}

}  // namespace testsupport
