#include "dgOrientedBox.h"

#include <cmath>

namespace {

// Point k of a strided float array.
struct StridedPoints {
    const float* base;
    intptr_t stride;

    const float* operator()(int32_t k) const { return base + intptr_t(k) * stride; }
};

// Point indices[k] of a strided float array.
struct IndexedPoints {
    const float* base;
    intptr_t stride;
    const uint32_t* indices;

    const float* operator()(int32_t k) const { return base + intptr_t(indices[k]) * stride; }
};

// The stride is honoured in whole floats only.
intptr_t floatStride(int32_t strideInBytes) {
    return strideInBytes / int32_t(sizeof(float));
}

struct Moments {
    double sum[3] = {0.0, 0.0, 0.0};
    double xx = 0.0;
    double yy = 0.0;
    double zz = 0.0;
    double xy = 0.0;
    double xz = 0.0;
    double yz = 0.0;

    void accumulate(const float* p, const dgVector& weights) {
        const double x = p[0] * weights.x;
        const double y = p[1] * weights.y;
        const double z = p[2] * weights.z;
        sum[0] += x;
        sum[1] += y;
        sum[2] += z;
        xx += x * x;
        yy += y * y;
        zz += z * z;
        xy += x * y;
        xz += x * z;
        yz += y * z;
    }
};

void growBounds(const dgMatrix& frame, const float* p, dgVector& lo, dgVector& hi) {
    const dgVector offset(p[0] - frame.position.x, p[1] - frame.position.y, p[2] - frame.position.z, 0.0f);
    for (int i = 0; i < 3; i++) {
        const float d = offset.dot(frame[i]);
        if (d < lo[i]) {
            lo[i] = d;
        }
        if (d > hi[i]) {
            hi[i] = d;
        }
    }
}

}  // namespace

dgOrientedBox::dgOrientedBox() : frame(dgGetIdentityMatrix()), size{0.0f, 0.0f, 0.0f}, radius(0.0f) {}

dgOrientedBox::dgOrientedBox(const dgQuaternion& rotation, const dgVector& position,
                             const dgVector& halfExtents)
    : frame(dgMatrix::fromQuaternion(rotation, position)) {
    setSize(halfExtents.x, halfExtents.y, halfExtents.z);
}

void dgOrientedBox::setMatrix(const dgMatrix& matrix) {
    frame = matrix;
}

void dgOrientedBox::setSize(float x, float y, float z) {
    size[0] = std::fabs(x);
    size[1] = std::fabs(y);
    size[2] = std::fabs(z);
    radius = std::sqrt(x * x + y * y + z * z);
}

template <class Points>
void dgOrientedBox::fitAxesOver(const dgVector& weights, dgVector& spreads, const Points& points,
                                int32_t count) {
    if (count <= 0) {
        // No covariance exists; an axis-aligned frame is as good as any.
        frame = dgGetIdentityMatrix();
        spreads = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }

    Moments m;
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        m.accumulate(points(k), weights);
        m.accumulate(points(k + 1), weights);
        m.accumulate(points(k + 2), weights);
        m.accumulate(points(k + 3), weights);
    }
    for (; k < count; k++) {
        m.accumulate(points(k), weights);
    }

    const double invCount = 1.0 / double(count);
    const double mx = m.sum[0] * invCount;
    const double my = m.sum[1] * invCount;
    const double mz = m.sum[2] * invCount;
    const float cxx = float(m.xx * invCount - mx * mx);
    const float cyy = float(m.yy * invCount - my * my);
    const float czz = float(m.zz * invCount - mz * mz);
    const float cxy = float(m.xy * invCount - mx * my);
    const float cxz = float(m.xz * invCount - mx * mz);
    const float cyz = float(m.yz * invCount - my * mz);

    frame.front = dgVector(cxx, cxy, cxz, 1.0f);
    frame.up = dgVector(cxy, cyy, cyz, 1.0f);
    frame.right = dgVector(cxz, cyz, czz, 1.0f);
    frame.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    frame.eigenVectors(spreads);
}

template <class Points>
void dgOrientedBox::boundsOver(const Points& points, int32_t count, dgVector& outMin,
                               dgVector& outMax) const {
    dgVector lo(1.0e10f, 1.0e10f, 1.0e10f, 1.0f);
    dgVector hi(-1.0e10f, -1.0e10f, -1.0e10f, 1.0f);
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        growBounds(frame, points(k), lo, hi);
        growBounds(frame, points(k + 1), lo, hi);
        growBounds(frame, points(k + 2), lo, hi);
        growBounds(frame, points(k + 3), lo, hi);
    }
    for (; k < count; k++) {
        growBounds(frame, points(k), lo, hi);
    }
    outMin = lo;
    outMax = hi;
}

template <class Points>
void dgOrientedBox::fit(const Points& points, int32_t count, const dgMatrix* givenFrame) {
    if (count <= 0) {
        frame = givenFrame ? *givenFrame : dgGetIdentityMatrix();
        setSize(0.0f, 0.0f, 0.0f);
        return;
    }

    dgVector weights(1.0f, 1.0f, 1.0f, 1.0f);
    if (givenFrame) {
        setMatrix(*givenFrame);
    } else {
        dgVector spreads;
        fitAxesOver(weights, spreads, points, count);

        // Nearly equal spreads leave their axes ill-defined (any direction in
        // the plane they span fits); stretching one input axis breaks the tie
        // so the box follows the points' own edges. Bounded to six refits.
        int32_t refits = 0;
        int i = 0;
        while ((i < 3) && (refits < 6)) {
            bool refitted = false;
            for (int j = i + 1; j < 3; j++) {
                if (dgOrientedBoxSpreadRatio(spreads[i], spreads[j]) > 0.9f) {
                    weights[i] *= 2.0f;
                    fitAxesOver(weights, spreads, points, count);
                    refits++;
                    refitted = true;
                    break;
                }
            }
            i = refitted ? 0 : i + 1;
        }
    }

    dgVector lo;
    dgVector hi;
    boundsOver(points, count, lo, hi);

    // Bounds were taken relative to the frame position, so the centre offset
    // is added to it once.
    const dgVector centre((lo + hi).scale(0.5f));
    frame.position =
        frame.position + frame.front.scale(centre.x) + frame.up.scale(centre.y) + frame.right.scale(centre.z);

    setSize((hi.x - lo.x) * 0.5f + 0.002f, (hi.y - lo.y) * 0.5f + 0.002f, (hi.z - lo.z) * 0.5f + 0.002f);
}

void dgOrientedBox::fitPoints(const float* points, int32_t strideInBytes, int32_t count,
                              const dgMatrix* givenFrame) {
    fit(StridedPoints{points, floatStride(strideInBytes)}, count, givenFrame);
}

void dgOrientedBox::fitIndexedPoints(const float* points, int32_t strideInBytes, const uint32_t* indices,
                                     int32_t indexCount, const dgMatrix* givenFrame) {
    fit(IndexedPoints{points, floatStride(strideInBytes), indices}, indexCount, givenFrame);
}

void dgOrientedBox::fitAxes(const dgVector& weights, dgVector& spreads, const float* points,
                            int32_t strideInBytes, int32_t count) {
    fitAxesOver(weights, spreads, StridedPoints{points, floatStride(strideInBytes)}, count);
}

void dgOrientedBox::fitAxes(const dgVector& weights, dgVector& spreads, const float* points,
                            int32_t strideInBytes, const uint32_t* indices, int32_t indexCount) {
    fitAxesOver(weights, spreads, IndexedPoints{points, floatStride(strideInBytes), indices}, indexCount);
}

void dgOrientedBox::calcBounds(const float* points, int32_t strideInBytes, int32_t count, dgVector& outMin,
                               dgVector& outMax) const {
    boundsOver(StridedPoints{points, floatStride(strideInBytes)}, count, outMin, outMax);
}

void dgOrientedBox::calcBounds(const float* points, int32_t strideInBytes, const uint32_t* indices,
                               int32_t indexCount, dgVector& outMin, dgVector& outMax) const {
    boundsOver(IndexedPoints{points, floatStride(strideInBytes), indices}, indexCount, outMin, outMax);
}

float dgOrientedBoxSpreadRatio(float a, float b) {
    const float absA = std::fabs(a);
    const float absB = std::fabs(b);
    return dgMin(absA, absB) / dgMax(dgMax(absA, absB), 1.0e-12f);
}

const dgOrientedBox* dgGetDefaultOrientedBox() {
    static const dgOrientedBox defaultBox;
    return &defaultBox;
}
