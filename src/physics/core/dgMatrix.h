// 4x4 single-precision matrix in the row-vector convention.
//
// Rows: front (x axis), up (y axis), right (z axis), position. A point p maps
// to p.x*front + p.y*up + p.z*right + position, so A*B applies A first, then B.
// For a rigid matrix rows 0-2 are an orthonormal rotation with w = 0 and the
// position row has w = 1.
#pragma once

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
    dgVector rotateVector(const dgVector& v) const {
        return dgVector(v.x * front.x + v.y * up.x + v.z * right.x,
                        v.x * front.y + v.y * up.y + v.z * right.y,
                        v.x * front.z + v.y * up.z + v.z * right.z, 1.0f);
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
        return dgVector(v.x * front.x + v.y * up.x + v.z * right.x + position.x,
                        v.x * front.y + v.y * up.y + v.z * right.y + position.y,
                        v.x * front.z + v.y * up.z + v.z * right.z + position.z, position.w);
    }

    // Inverse of a rigid transform applied to v; w = 1.
    dgVector inverseTransformVector(const dgVector& v) const { return inverseRotateVector(v.sub(position)); }

    // Full 4x4 product this*b, w column included.
    dgMatrix multiply(const dgMatrix& b) const {
        dgMatrix out;
        for (int i = 0; i < 4; i++) {
            const dgVector& r = (*this)[i];
            out[i] = dgVector(r.x * b.front.x + r.y * b.up.x + r.z * b.right.x + r.w * b.position.x,
                              r.x * b.front.y + r.y * b.up.y + r.z * b.right.y + r.w * b.position.y,
                              r.x * b.front.z + r.y * b.up.z + r.z * b.right.z + r.w * b.position.z,
                              r.x * b.front.w + r.y * b.up.w + r.z * b.right.w + r.w * b.position.w);
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
