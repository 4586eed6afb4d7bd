// Planes stored as (a, b, c, d); the value at p is a*p.x + b*p.y + c*p.z + d,
// signed distance when (a, b, c) is unit length.
#pragma once

#include "dgVector.h"

struct dgPlane : public dgVector {
    dgPlane() = default;

    dgPlane(float a, float b, float c, float d) : dgVector(a, b, c, d) {}

    // Takes the normal's x, y, z; d replaces its w.
    dgPlane(const dgVector& normal, float d) : dgVector(normal) { w = d; }

    // Plane through three points: normal (p1 - p0) x (p2 - p0), not normalised,
    // d = -normal . p0. Counter-clockwise points seen from the normal side.
    dgPlane(const dgVector& p0, const dgVector& p1, const dgVector& p2)
        : dgVector(p1.sub(p0).cross(p2.sub(p0))) {
        w = -dot(p0);
    }

    float evaluate(const dgVector& point) const { return x * point.x + y * point.y + z * point.z + w; }
};

static_assert(sizeof(dgPlane) == 16 && alignof(dgPlane) == 16, "dgPlane must match dgVector");

struct dgPlane64 : public dgVector64 {
    dgPlane64() = default;

    dgPlane64(double a, double b, double c, double d) : dgVector64(a, b, c, d) {}

    dgPlane64(const dgVector64& normal, double d) : dgVector64(normal) { w = d; }

    double evaluate(const dgVector64& point) const { return x * point.x + y * point.y + z * point.z + w; }
};
