// Rotation quaternion (x, y, z, w), scalar part last; orientations are unit
// length. The product follows the matrix convention: q0*q1 applies q0 first.
#pragma once

#include "dgVector.h"

struct dgMatrix;

struct dgQuaternion {
    float x;
    float y;
    float z;
    float w;

    dgQuaternion() = default;

    dgQuaternion(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    // Rotation by angle radians about a unit axis.
    static dgQuaternion fromAxisAngle(const dgVector& unitAxis, float angle);

    // Unit quaternion of the rotation rows of m (orthonormal). The sign is
    // whichever the construction yields: q and -q are the same rotation.
    static dgQuaternion fromMatrix(const dgMatrix& m);

    // i in [0, 3]: x, y, z, w.
    float& operator[](int i) { return reinterpret_cast<float*>(this)[i]; }

    const float& operator[](int i) const { return reinterpret_cast<const float*>(this)[i]; }

    // Conjugate: the inverse of a unit quaternion.
    dgQuaternion inverse() const { return dgQuaternion(-x, -y, -z, w); }

    // Four-component dot product.
    float dot(const dgQuaternion& q) const { return x * q.x + y * q.y + z * q.z + w * q.w; }

    // Applying the product equals applying this first, then q1.
    dgQuaternion operator*(const dgQuaternion& q1) const {
        // a = this vector part, b = q1 vector part: w0*b + w1*a - a x b.
        return dgQuaternion(
            w * q1.x + q1.w * x - (y * q1.z - z * q1.y), w * q1.y + q1.w * y - (z * q1.x - x * q1.z),
            w * q1.z + q1.w * z - (x * q1.y - y * q1.x), w * q1.w - (x * q1.x + y * q1.y + z * q1.z));
    }

    // Spherical interpolation, t in [0, 1]. q1 is not sign-flipped, so the path
    // may take the long way round when dot(q0, q1) < 0. Results shorter than
    // unit (squared length below 0.9999) are renormalised.
    dgQuaternion slerp(const dgQuaternion& q1, float t) const;

    // Angular velocity (rad/s, world frame, w = 1) that turns this orientation
    // into q1 over timestep seconds; (0, 0, 0, 0) when they coincide.
    dgVector calcAverageOmega(const dgQuaternion& q1, float timestep) const;
};

static_assert(sizeof(dgQuaternion) == 16, "dgQuaternion must be four packed floats");
