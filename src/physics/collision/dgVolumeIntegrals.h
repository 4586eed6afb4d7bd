// Accumulator of polyhedral mass-property integrals (the divergence-theorem
// method over closed faces: volume, first and second moments, products).
// Faces must be outward-oriented (counter-clockwise seen from outside) and
// together close the volume.
//
// The integrals are taken about a reference point (the origin unless given;
// the first point of the walk for a whole shape's faces) and summed in
// double: a shape far from the origin keeps the precision of its own size,
// and the shift to the centre of mass is made once, from the result.
#pragma once

#include <cstdint>

#include "dgMatrix.h"
#include "dgPlane.h"
#include "dgVector.h"

class dgCollision;

struct dgVolumeIntegrals {
    // Axes of the current face: C is the dominant axis of its normal,
    // A = (C + 1) mod 3, B = (A + 1) mod 3.
    int32_t A;
    int32_t B;
    int32_t C;
    // Reference point the integrals below are taken about.
    double origin[3];
    // Volume.
    double T0;
    // First moments x, y, z, doubled (callers multiply by 0.5).
    double T1[3];
    // Integrals of x^2, y^2, z^2, tripled (callers divide by 3).
    double T2[3];
    // Integrals of xy, yz, zx, doubled (callers divide by 2).
    double TP[3];
    // Projection integrals of the current face.
    double P1, Pa, Pb, Paa, Pbb, Pab, Paaa, Pbbb, Paab, Pabb;
    // Face integrals of the current face.
    double Fa, Fb, Fc, Faa, Fbb, Fcc, Faaa, Fbbb, Fccc, Faab, Fbbc, Fcca;

    // All zero; integrals about the origin.
    dgVolumeIntegrals();
    // All zero; integrals about point (x, y, z).
    explicit dgVolumeIntegrals(const dgVector& point);

    // Adds one face given its plane and its count points (x, y, z read); only
    // T0 and T1 change. The plane is expressed about the reference point
    // (offset w = -normal . (p - origin)); its normal need not be unit. A face
    // whose normal has squared length at most 1e-8 adds nothing.
    void addFace(int32_t count, const dgPlane& plane, const dgVector* points);
    // Adds one face of count packed x, y, z float triples to every integral
    // (T0, T1, T2, TP); the plane comes from all its points (Newell's sums).
    // Only a face without area adds nothing, whatever the shape's size.
    void addFaceWithInertia(int32_t count, const float* points);
    // Adds every face of shape's own face walk, placed in the frame of a body
    // standing at the origin (so the shape's offset matrix is applied), to
    // every integral, taken about the walk's first point. For an accumulator
    // to which nothing has been added yet.
    void addShapeFaces(const dgCollision& shape);

    // First moments (doubled), diagonal second moments (tripled) and products
    // (doubled) about the origin rather than the reference point.
    void momentsAboutOrigin(double first[3], double second[3], double products[3]) const;
    // Adds the integrals of another closed part, taken about its own
    // reference point, shifted to this one's (fixed: given, or set by a
    // face already added).
    void addPart(const dgVolumeIntegrals& part);
    // Centroid of the integrated volume. A volume that is zero or not finite
    // divides as 0.001, only to keep the division defined.
    void centroid(double centre[3]) const;
    // Centroid and diagonal inertia per unit volume about it, each written to
    // x, y, z only (w untouched). True when all six values are finite floats.
    bool massProperties(dgVector& inertia, dgVector& centre) const;

private:
    // Takes the first point of the next face added as the reference point
    // (before any face has been added).
    void anchorAtFirstPoint();
    void selectAxes(const double* normal);
    // Fixes the reference point at the given one when it is still pending.
    void anchor(const float* point);
    // Over the points taken about the reference point.
    void projectionIntegrals(int32_t count, const float* points, int32_t strideFloats, bool thirdOrder);
    // Face integrals and their sums for the plane (n, w) about the reference
    // point.
    void addFaceIntegrals(const double* n, double w, bool thirdOrder);

    // Set until the first face fixes the reference point.
    bool m_anchorPending;
};
