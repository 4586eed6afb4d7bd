#include "dgQuaternion.h"

#include "dgMatrix.h"

#include <cmath>

dgQuaternion dgQuaternion::fromAxisAngle(const dgVector& unitAxis, float angle) {
    const float s = std::sin(angle * 0.5f);
    const float c = std::cos(angle * 0.5f);
    return dgQuaternion(unitAxis.x * s, unitAxis.y * s, unitAxis.z * s, c);
}

dgQuaternion dgQuaternion::fromMatrix(const dgMatrix& m) {
    dgQuaternion q;
    const float trace = m[0][0] + m[1][1] + m[2][2];
    if (trace > 0.0f) {
        float s = std::sqrt(trace + 1.0f);
        q.w = 0.5f * s;
        s = 0.5f / s;
        q.x = (m[2][1] - m[1][2]) * s;
        q.y = (m[0][2] - m[2][0]) * s;
        q.z = (m[1][0] - m[0][1]) * s;
    } else {
        // Build from the largest diagonal entry so the square root stays well
        // away from zero.
        static const int next[3] = {1, 2, 0};
        int i = 0;
        if (m[1][1] > m[0][0]) {
            i = 1;
        }
        if (m[2][2] > m[i][i]) {
            i = 2;
        }
        const int j = next[i];
        const int k = next[j];
        float s = std::sqrt(m[i][i] - m[j][j] - m[k][k] + 1.0f);
        q[i] = 0.5f * s;
        s = 0.5f / s;
        q.w = (m[k][j] - m[j][k]) * s;
        q[j] = (m[j][i] + m[i][j]) * s;
        q[k] = (m[k][i] + m[i][k]) * s;
    }
    // The formulas above are for column vectors; our rows are transposed.
    q.x = -q.x;
    q.y = -q.y;
    q.z = -q.z;
    return q;
}

dgQuaternion dgQuaternion::slerp(const dgQuaternion& q1, float t) const {
    const float dotProduct = dot(q1);
    dgQuaternion q;
    if ((dotProduct + 1.0f) > 1.0e-5f) {
        float k0;
        float k1;
        if (dotProduct < 0.99999f) {
            const float angle = std::acos(dotProduct);
            const float sinAngle = std::sin(angle);
            k0 = std::sin((1.0f - t) * angle) / sinAngle;
            k1 = std::sin(t * angle) / sinAngle;
        } else {
            // Nearly equal: linear interpolation avoids dividing by sin(~0).
            k0 = 1.0f - t;
            k1 = t;
        }
        q = dgQuaternion(k0 * x + k1 * q1.x, k0 * y + k1 * q1.y, k0 * z + k1 * q1.z, k0 * w + k1 * q1.w);
    } else {
        // Nearly opposite: the arc is undefined, so swing through a quaternion
        // orthogonal to this one; that keeps the result unit length.
        const float k0 = std::sin((1.0f - t) * 1.570795f);
        const float k1 = std::sin(t * 1.570795f);
        q = dgQuaternion(k0 * x - k1 * y, k0 * y + k1 * x, k0 * z - k1 * w, k0 * w + k1 * z);
    }

    const float len2 = q.dot(q);
    if (len2 < 0.9999f) {
        const float invLen = 1.0f / std::sqrt(len2);
        q = dgQuaternion(q.x * invLen, q.y * invLen, q.z * invLen, q.w * invLen);
    }
    return q;
}

dgVector dgQuaternion::calcAverageOmega(const dgQuaternion& q1, float timestep) const {
    const dgQuaternion r(inverse() * q1);
    const float len2 = r.x * r.x + r.y * r.y + r.z * r.z;
    if (len2 < 1.0e-10f) {
        return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    const float len = std::sqrt(len2);
    const float angle = 2.0f * std::atan2(len, r.w);
    const float k = (angle / timestep) / len;
    return dgVector(r.x * k, r.y * k, r.z * k, 1.0f);
}
