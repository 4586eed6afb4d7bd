// Oriented bounding box and its fit to point sets.
#pragma once

#include "dgMatrix.h"
#include "dgQuaternion.h"

// A rigid frame, half-extents along its axes and the radius of the sphere
// about the centre that encloses the box.
class dgOrientedBox {
public:
    // Rows 0-2 the box axes (unit when fitted), row 3 the centre with w = 1.
    dgMatrix frame;
    // Half-extents along the frame's x, y, z axes; never negative.
    float size[3];
    // Length of (size[0], size[1], size[2]).
    float radius;

    // Identity frame, zero size.
    dgOrientedBox();
    // Frame from a unit quaternion and centre; half-extents from halfExtents
    // x, y, z (signs dropped).
    dgOrientedBox(const dgQuaternion& rotation, const dgVector& position, const dgVector& halfExtents);

    void setMatrix(const dgMatrix& matrix);
    // Stores |x|, |y|, |z| and the radius.
    void setSize(float x, float y, float z);

    // Fits the box to count points of x, y, z floats strideInBytes apart (the
    // stride is used in whole floats). Without givenFrame the axes are the
    // principal axes of the points; with one its axes are kept and the box is
    // centred on the points. Every half-extent is padded by 0.002. With no
    // points the box becomes empty: givenFrame (or the identity) and size 0.
    void fitPoints(const float* points, int32_t strideInBytes, int32_t count,
                   const dgMatrix* givenFrame = nullptr);
    // As fitPoints over the points named by indices (point k starts at float
    // k * strideInBytes / 4).
    void fitIndexedPoints(const float* points, int32_t strideInBytes, const uint32_t* indices,
                          int32_t indexCount, const dgMatrix* givenFrame = nullptr);

    // Sets frame to the principal axes (rows 0-2, position at the origin) of
    // the points scaled component-wise by weights, and spreads to the variances
    // along those axes (w = 1). With no points: identity frame, zero spreads.
    void fitAxes(const dgVector& weights, dgVector& spreads, const float* points, int32_t strideInBytes,
                 int32_t count);
    void fitAxes(const dgVector& weights, dgVector& spreads, const float* points, int32_t strideInBytes,
                 const uint32_t* indices, int32_t indexCount);

    // Bounds of the points relative to the frame: their offsets from the frame
    // position along rows 0, 1, 2. With no points min stays at 1e10 and max at
    // -1e10. Both outputs get w = 1.
    void calcBounds(const float* points, int32_t strideInBytes, int32_t count, dgVector& outMin,
                    dgVector& outMax) const;
    void calcBounds(const float* points, int32_t strideInBytes, const uint32_t* indices, int32_t indexCount,
                    dgVector& outMin, dgVector& outMax) const;

private:
    template <class Points>
    void fit(const Points& points, int32_t count, const dgMatrix* givenFrame);
    template <class Points>
    void fitAxesOver(const dgVector& weights, dgVector& spreads, const Points& points, int32_t count);
    template <class Points>
    void boundsOver(const Points& points, int32_t count, dgVector& outMin, dgVector& outMax) const;
};

// min(|a|, |b|) / max(|a|, |b|), the denominator raised to at least 1e-12:
// 1 for equal spreads, 0 when either is 0.
float dgOrientedBoxSpreadRatio(float a, float b);

// Process-wide box with the identity frame and zero size; same address on
// every call.
const dgOrientedBox* dgGetDefaultOrientedBox();
