// Accumulator of polyhedral mass-property integrals (the divergence-theorem
// method over closed faces: volume, first and second moments, products).
// Faces must be outward-oriented (counter-clockwise seen from outside) and
// together close the volume.
#pragma once

#include <cstdint>

#include "dgMatrix.h"
#include "dgPlane.h"
#include "dgVector.h"

struct dgVolumeIntegrals {
    // Axes of the current face: C is the dominant axis of its normal,
    // A = (C + 1) mod 3, B = (A + 1) mod 3.
    int32_t A;
    int32_t B;
    int32_t C;
    // Volume.
    float T0;
    // First moments x, y, z, doubled (callers multiply by 0.5).
    float T1[3];
    // Integrals of x^2, y^2, z^2 (unscaled; divide by 3).
    float T2[3];
    // Integrals of xy, yz, zx (unscaled; divide by 2).
    float TP[3];
    // Projection integrals of the current face.
    float P1, Pa, Pb, Paa, Pbb, Pab, Paaa, Pbbb, Paab, Pabb;
    // Face integrals of the current face.
    float Fa, Fb, Fc, Faa, Fbb, Fcc, Faaa, Fbbb, Fccc, Faab, Fbbc, Fcca;

    // All zero.
    dgVolumeIntegrals();

    // Adds one face given its unit plane (normal x, y, z; offset w) and its
    // count points (x, y, z read); only T0 and T1 change. A face whose normal
    // has squared length at most 1e-8 adds nothing.
    void addFace(int32_t count, const dgPlane& plane, const dgVector* points);
    // Adds one face of count packed x, y, z float triples to every integral
    // (T0, T1, T2, TP); the plane comes from its first three points.
    void addFaceWithInertia(int32_t count, const float* points);

private:
    void selectAxes(const dgVector& normal);
    void projectionIntegrals(int32_t count, const float* points, int32_t strideFloats, bool thirdOrder);
};
