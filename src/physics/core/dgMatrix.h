// 4x4 single-precision matrix in the row-vector convention.
//
// Rows: front (x axis), up (y axis), right (z axis), position. A point p maps
// to p.x*front + p.y*up + p.z*right + position, so A*B applies A first, then B.
// For a rigid matrix rows 0-2 are an orthonormal rotation with w = 0 and the
// position row has w = 1.
#pragma once

#include <xmmintrin.h>

#include "dgPlane.h"
#include "dgVector.h"

struct dgQuaternion;

struct alignas(16) dgMatrix {
    dgVector front;
    dgVector up;
    dgVector right;
    dgVector position;

    dgMatrix() = default;

    // Copies all sixteen floats as given, each row's w included.
    dgMatrix(const dgVector& front_, const dgVector& up_, const dgVector& right_, const dgVector& position_)
        : front(front_), up(up_), right(right_), position(position_) {}

    // Rotation rows from a unit quaternion; position row (p.x, p.y, p.z, 1).
    static dgMatrix fromQuaternion(const dgQuaternion& q, const dgVector& position);

    // i in [0, 3]: front, up, right, position.
    dgVector& operator[](int i) { return reinterpret_cast<dgVector*>(this)[i]; }

    const dgVector& operator[](int i) const { return reinterpret_cast<const dgVector*>(this)[i]; }

    // v.x*front + v.y*up + v.z*right; w = 1.
    // The products and sums below are the scalar ones lane by lane, in the
    // same order and unfused, so the packed forms give their bits.
    dgVector rotateVector(const dgVector& v) const {
        dgVector out;
        _mm_store_ps(&out.x, withW(rotated(v), _mm_set1_ps(1.0f)));
        return out;
    }

    // A plane given in global space, expressed in this matrix's local space:
    // normal' = transposed rotation times normal, d' = normal . position + d.
    dgPlane untransformPlane(const dgPlane& plane) const {
        return dgPlane(inverseRotateVector(plane), plane.dot(position) + plane.w);
    }

    // Transposed rotation: (front.v, up.v, right.v, 1).
    dgVector inverseRotateVector(const dgVector& v) const {
        return dgVector(v.dot(front), v.dot(up), v.dot(right), 1.0f);
    }

    // rotateVector(v) + position; w = position.w.
    dgVector transformVector(const dgVector& v) const {
        const __m128 p = _mm_load_ps(&position.x);
        dgVector out;
        _mm_store_ps(&out.x, withW(_mm_add_ps(rotated(v), p), p));
        return out;
    }

    // Inverse of a rigid transform applied to v; w = 1.
    dgVector inverseTransformVector(const dgVector& v) const { return inverseRotateVector(v.sub(position)); }

    // Full 4x4 product this*b, w column included.
    // Row i of the product is ((r.x b.front + r.y b.up) + r.z b.right) +
    // r.w b.position in every lane, w included.
    dgMatrix multiply(const dgMatrix& b) const {
        const __m128 b0 = _mm_load_ps(&b.front.x);
        const __m128 b1 = _mm_load_ps(&b.up.x);
        const __m128 b2 = _mm_load_ps(&b.right.x);
        const __m128 b3 = _mm_load_ps(&b.position.x);
        dgMatrix out;
        for (int i = 0; i < 4; i++) {
            const __m128 r = _mm_load_ps(&(*this)[i].x);
            const __m128 sum = _mm_add_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_shuffle_ps(r, r, _MM_SHUFFLE(0, 0, 0, 0)), b0),
                                      _mm_mul_ps(_mm_shuffle_ps(r, r, _MM_SHUFFLE(1, 1, 1, 1)), b1)),
                           _mm_mul_ps(_mm_shuffle_ps(r, r, _MM_SHUFFLE(2, 2, 2, 2)), b2)),
                _mm_mul_ps(_mm_shuffle_ps(r, r, _MM_SHUFFLE(3, 3, 3, 3)), b3));
            _mm_store_ps(&out[i].x, sum);
        }
        return out;
    }

    dgMatrix operator*(const dgMatrix& b) const { return multiply(b); }

    // Inverse of a rigid matrix (transposed rotation, rotated negated position).
    // Meaningless for matrices with scale or shear.
    dgMatrix inverse() const {
        return dgMatrix(dgVector(front.x, up.x, right.x, 0.0f), dgVector(front.y, up.y, right.y, 0.0f),
                        dgVector(front.z, up.z, right.z, 0.0f),
                        dgVector(-position.dot(front), -position.dot(up), -position.dot(right), 1.0f));
    }

    // Transforms count points of three floats read at src (srcStrideBytes apart)
    // and writes x, y, z only at dst (dstStrideBytes apart). src and dst may be
    // the same array with the same stride.
    void transformPoints(float* dst, int32_t dstStrideBytes, const float* src, int32_t srcStrideBytes,
                         int32_t count) const;

    // Axis-aligned bounds (w = 1) of the eight transformed corners of a box.
    void transformBox(const dgVector& boxMin, const dgVector& boxMax, dgVector& outMin,
                      dgVector& outMax) const;

    // Inverse of the upper-left 3x3, which must be symmetric and non-singular
    // (an inertia tensor of a body with mass): only the upper triangle is read.
    // Rows 0-2 get w = 0; row 3 is (0, 0, 0, 1).
    dgMatrix symmetricInverse() const;

    // Jacobi decomposition of the symmetric upper-left 3x3 (upper triangle read).
    // On return rows 0-2 are the unit eigenvectors (a right-handed frame, w = 0)
    // in the order of eigenValues = (e0, e1, e2, 1), unsorted; row 3 is
    // (0, 0, 0, 1). Without convergence after 50 sweeps the matrix becomes the
    // identity and eigenValues hold the last diagonal.
    void eigenVectors(dgVector& eigenValues);

    // (ax, ay, az, 0) in radians with this = Rx(ax)*Ry(ay)*Rz(az). Near
    // |ay| = 90 degrees only ax is recovered and az is 0.
    void getEulerAngles(dgVector& angles) const;

private:
    // (v.x front + v.y up) + v.z right in every lane (w meaningless).
    __m128 rotated(const dgVector& v) const {
        const __m128 a = _mm_load_ps(&v.x);
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(0, 0, 0, 0)), _mm_load_ps(&front.x)),
                                     _mm_mul_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(1, 1, 1, 1)), _mm_load_ps(&up.x))),
                          _mm_mul_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 2, 2)), _mm_load_ps(&right.x)));
    }
    // xyz's x, y, z with w's w.
    static __m128 withW(__m128 xyz, __m128 w) {
        const __m128 t = _mm_shuffle_ps(xyz, w, _MM_SHUFFLE(3, 3, 2, 2));
        return _mm_shuffle_ps(xyz, t, _MM_SHUFFLE(2, 0, 1, 0));
    }
};

static_assert(sizeof(dgMatrix) == 64 && alignof(dgMatrix) == 16, "dgMatrix must be four dgVector rows");

// Shared constants, built on first use.
const dgMatrix& dgGetIdentityMatrix();
const dgMatrix& dgGetZeroMatrix();

// Rotations about one axis; angle in radians, counter-clockwise looking down the
// axis (x maps towards y under dgRotationMatrixZ).
dgMatrix dgRotationMatrixX(float angle);
dgMatrix dgRotationMatrixY(float angle);
dgMatrix dgRotationMatrixZ(float angle);
