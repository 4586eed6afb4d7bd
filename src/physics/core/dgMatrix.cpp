#include "dgMatrix.h"

#include "dgQuaternion.h"

#include <cmath>

const dgMatrix& dgGetIdentityMatrix() {
    static const dgMatrix identity(dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f),
                                   dgVector(0.0f, 0.0f, 1.0f, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    return identity;
}

const dgMatrix& dgGetZeroMatrix() {
    static const dgMatrix zero(dgVector(0.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 0.0f),
                               dgVector(0.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    return zero;
}

dgMatrix dgRotationMatrixX(float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return dgMatrix(dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, c, s, 0.0f), dgVector(0.0f, -s, c, 0.0f),
                    dgVector(0.0f, 0.0f, 0.0f, 1.0f));
}

dgMatrix dgRotationMatrixY(float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return dgMatrix(dgVector(c, 0.0f, -s, 0.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f), dgVector(s, 0.0f, c, 0.0f),
                    dgVector(0.0f, 0.0f, 0.0f, 1.0f));
}

dgMatrix dgRotationMatrixZ(float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return dgMatrix(dgVector(c, s, 0.0f, 0.0f), dgVector(-s, c, 0.0f, 0.0f), dgVector(0.0f, 0.0f, 1.0f, 0.0f),
                    dgVector(0.0f, 0.0f, 0.0f, 1.0f));
}

dgMatrix dgMatrix::fromQuaternion(const dgQuaternion& q, const dgVector& position) {
    const float x2 = 2.0f * q.x * q.x;
    const float y2 = 2.0f * q.y * q.y;
    const float z2 = 2.0f * q.z * q.z;
    const float w2 = 2.0f * q.w * q.w;
    const float xy = 2.0f * q.x * q.y;
    const float xz = 2.0f * q.x * q.z;
    const float yz = 2.0f * q.y * q.z;
    const float xw = 2.0f * q.x * q.w;
    const float yw = 2.0f * q.y * q.w;
    const float zw = 2.0f * q.z * q.w;
    return dgMatrix(
        dgVector(x2 + w2 - 1.0f, xy + zw, xz - yw, 0.0f), dgVector(xy - zw, y2 + w2 - 1.0f, yz + xw, 0.0f),
        dgVector(xz + yw, yz - xw, z2 + w2 - 1.0f, 0.0f), dgVector(position.x, position.y, position.z, 1.0f));
}

namespace {

inline void transformOnePoint(const dgMatrix& m, float* dst, const float* src) {
    // Read all three coordinates before writing: src and dst may alias.
    const float x = src[0];
    const float y = src[1];
    const float z = src[2];
    dst[0] = x * m.front.x + y * m.up.x + z * m.right.x + m.position.x;
    dst[1] = x * m.front.y + y * m.up.y + z * m.right.y + m.position.y;
    dst[2] = x * m.front.z + y * m.up.z + z * m.right.z + m.position.z;
}

inline const float* stepBytes(const float* p, intptr_t bytes) {
    return reinterpret_cast<const float*>(reinterpret_cast<const char*>(p) + bytes);
}

inline float* stepBytes(float* p, intptr_t bytes) {
    return reinterpret_cast<float*>(reinterpret_cast<char*>(p) + bytes);
}

}  // namespace

void dgMatrix::transformPoints(float* dst, int32_t dstStrideBytes, const float* src, int32_t srcStrideBytes,
                               int32_t count) const {
    // Each point is finished before the next is read, which keeps in-place use
    // correct even when the two strides differ.
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        transformOnePoint(*this, dst, src);
        transformOnePoint(*this, stepBytes(dst, dstStrideBytes), stepBytes(src, srcStrideBytes));
        transformOnePoint(*this, stepBytes(dst, 2 * intptr_t(dstStrideBytes)),
                          stepBytes(src, 2 * intptr_t(srcStrideBytes)));
        transformOnePoint(*this, stepBytes(dst, 3 * intptr_t(dstStrideBytes)),
                          stepBytes(src, 3 * intptr_t(srcStrideBytes)));
        dst = stepBytes(dst, 4 * intptr_t(dstStrideBytes));
        src = stepBytes(src, 4 * intptr_t(srcStrideBytes));
    }
    for (; i < count; i++) {
        transformOnePoint(*this, dst, src);
        dst = stepBytes(dst, dstStrideBytes);
        src = stepBytes(src, srcStrideBytes);
    }
}

void dgMatrix::transformBox(const dgVector& boxMin, const dgVector& boxMax, dgVector& outMin,
                            dgVector& outMax) const {
    dgVector corners[8] = {
        dgVector(boxMin.x, boxMin.y, boxMin.z, 1.0f), dgVector(boxMin.x, boxMin.y, boxMax.z, 1.0f),
        dgVector(boxMin.x, boxMax.y, boxMin.z, 1.0f), dgVector(boxMin.x, boxMax.y, boxMax.z, 1.0f),
        dgVector(boxMax.x, boxMin.y, boxMin.z, 1.0f), dgVector(boxMax.x, boxMin.y, boxMax.z, 1.0f),
        dgVector(boxMax.x, boxMax.y, boxMin.z, 1.0f), dgVector(boxMax.x, boxMax.y, boxMax.z, 1.0f),
    };
    transformPoints(&corners[0].x, int32_t(sizeof(dgVector)), &corners[0].x, int32_t(sizeof(dgVector)), 8);

    dgVector lo(corners[0]);
    dgVector hi(corners[0]);
    for (int i = 1; i < 8; i++) {
        for (int j = 0; j < 3; j++) {
            if (corners[i][j] < lo[j]) {
                lo[j] = corners[i][j];
            }
            if (corners[i][j] > hi[j]) {
                hi[j] = corners[i][j];
            }
        }
    }
    outMin = lo;
    outMax = hi;
}

dgMatrix dgMatrix::symmetricInverse() const {
    const float a00 = front.x;
    const float a01 = front.y;
    const float a02 = front.z;
    const float a11 = up.y;
    const float a12 = up.z;
    const float a22 = right.z;

    // The determinant of an inertia tensor loses too much in float when the
    // body is long and thin; double keeps the inverse usable.
    const double det = double(a00) * (double(a11) * a22 - double(a12) * a12) - double(a01) * a01 * a22 -
                       double(a02) * a02 * a11 + 2.0 * a01 * a02 * a12;
    const double invDet = 1.0 / det;

    const float i00 = float((a11 * a22 - a12 * a12) * invDet);
    const float i11 = float((a00 * a22 - a02 * a02) * invDet);
    const float i22 = float((a00 * a11 - a01 * a01) * invDet);
    const float i01 = float((a12 * a02 - a22 * a01) * invDet);
    const float i02 = float((a12 * a01 - a02 * a11) * invDet);
    const float i12 = float((a02 * a01 - a00 * a12) * invDet);

    return dgMatrix(dgVector(i00, i01, i02, 0.0f), dgVector(i01, i11, i12, 0.0f),
                    dgVector(i02, i12, i22, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 1.0f));
}

namespace {

// One Jacobi plane rotation applied to a pair of entries.
inline void jacobiRotate(float& g, float& h, float s, float tau) {
    const float g0 = g;
    const float h0 = h;
    g = g0 - s * (h0 + g0 * tau);
    h = h0 + s * (g0 - h0 * tau);
}

// |a| + g == |a| evaluated without rounding the sum to float: the test asks
// whether g is negligible at the precision of the wider sum.
inline bool negligibleAgainst(float a, float g) {
    const double magnitude = std::fabs(double(a));
    return magnitude + double(g) == magnitude;
}

}  // namespace

void dgMatrix::eigenVectors(dgVector& eigenValues) {
    dgMatrix& a = *this;
    dgMatrix v(dgGetIdentityMatrix());

    float d[3] = {a[0][0], a[1][1], a[2][2]};
    float b[3] = {d[0], d[1], d[2]};
    float z[3] = {0.0f, 0.0f, 0.0f};

    // Upper-triangle pairs in the order they are annihilated, and for each the
    // other two off-diagonal entries that share a row or column with it.
    static const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};

    for (int sweep = 0; sweep < 50; sweep++) {
        const float sm = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (sm < 1.0e-10f) {
            eigenValues = dgVector(d[0], d[1], d[2], 1.0f);
            *this = v.inverse();
            return;
        }

        const float threshold = (sweep < 3) ? sm * 0.022222223f : 0.0f;

        for (int pair = 0; pair < 3; pair++) {
            const int p = pairs[pair][0];
            const int q = pairs[pair][1];
            float& apq = a[p][q];
            const float g = 100.0f * std::fabs(apq);

            if ((sweep > 3) && negligibleAgainst(d[p], g) && negligibleAgainst(d[q], g)) {
                apq = 0.0f;
                continue;
            }
            if (std::fabs(apq) <= threshold) {
                continue;
            }

            float h = d[q] - d[p];
            float t;
            if (negligibleAgainst(h, g)) {
                t = apq / h;
            } else {
                const float theta = 0.5f * h / apq;
                t = 1.0f / (std::fabs(theta) + std::sqrt(1.0f + theta * theta));
                if (theta < 0.0f) {
                    t = -t;
                }
            }
            const float c = 1.0f / std::sqrt(1.0f + t * t);
            const float s = t * c;
            const float tau = s / (1.0f + c);
            h = t * apq;
            z[p] -= h;
            z[q] += h;
            d[p] -= h;
            d[q] += h;
            apq = 0.0f;

            switch (pair) {
                case 0:
                    jacobiRotate(a[0][2], a[1][2], s, tau);
                    break;
                case 1:
                    jacobiRotate(a[0][1], a[1][2], s, tau);
                    break;
                default:
                    jacobiRotate(a[0][1], a[0][2], s, tau);
                    break;
            }
            for (int row = 0; row < 3; row++) {
                jacobiRotate(v[row][p], v[row][q], s, tau);
            }
        }

        for (int i = 0; i < 3; i++) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0f;
        }
    }

    eigenValues = dgVector(d[0], d[1], d[2], 1.0f);
    *this = dgGetIdentityMatrix();
}

void dgMatrix::getEulerAngles(dgVector& angles) const {
    const dgMatrix& m = *this;
    // The clamp keeps asin in its domain; the gimbal branch below uses a wider
    // band so that az is pinned to 0 before the other atan2 pair degenerates.
    const float ay = std::asin(-dgClamp(m[0][2], -0.999999f, 0.999999f));
    float ax;
    float az;
    if (m[0][2] >= 0.99995f) {
        ax = -std::atan2(m[1][0], m[1][1]);
        az = 0.0f;
    } else if (m[0][2] <= -0.99995f) {
        ax = std::atan2(m[1][0], m[1][1]);
        az = 0.0f;
    } else {
        ax = std::atan2(m[1][2], m[2][2]);
        az = std::atan2(m[0][1], m[0][0]);
    }
    angles = dgVector(ax, ay, az, 0.0f);
}
