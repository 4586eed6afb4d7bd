// The ellipsoid with semi-axes rx, ry, rz along the x, y and z axes of its
// offset matrix.
//
// It is a sphere of radius 1 whose every query runs on the unit sphere after
// the diagonal scaling by the radii: directions are scaled by the radii and
// renormalised, points divided by them, results multiplied back. Its support
// points therefore lie on the unit sphere's angle grid (step of radius 1,
// N = 256) stretched by the radii, whatever the radii are, and its volume and
// inertia come from the sphere's polygon walk stretched the same way.
//
// The convex base's cached data (coarse vertices, local box, centre of mass)
// are the unit sphere's; every operation that uses them scales first. The
// ellipse has no tables of its own and counts as a live sphere.
//
// Created by the world's shape factory (for three radii that differ) with the
// signature of {3, rx, ry, rz, offset matrix}; storage from the block cache.
#pragma once

#include <cstdint>

#include "dgCollisionSphere.h"

class dgCollisionEllipse : public dgCollisionSphere {
    DG_DECLARE_CLASS(dgCollisionEllipse, dgCollisionSphere)

public:
    // Radii taken by absolute value (the factory passes them positive); a
    // zero radius gives a degenerate shape.
    dgCollisionEllipse(uint32_t signature, float rx, float ry, float rz, const dgMatrix& offsetMatrix);
    ~dgCollisionEllipse() override;

    // Box of the unit sphere's local box under the matrix with its rows 0-2
    // scaled by rx, ry, rz: tight when the matrix does not rotate, otherwise
    // the box of the rotated circumscribing box. w = matrix.position.w.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // The sphere's kWalkTriangles triangles stretched by the radii, placed by
    // offset matrix * body matrix, face id 0. The offset matrix is not touched.
    // Returns the corners reported.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // The unit sphere's cast of the segment divided by the radii (t is the
    // same for both). On a hit the normal is the ellipsoid's unit outward
    // normal at the hit point.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // The convex base's procedure on the unit sphere with the fluid plane
    // carried into the unit sphere's space; centroid and volume carried back.
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;
    // Type 3, rx, ry, rz, the offset matrix.
    uint32_t calcSignature() const override;
    // The unit sphere's grid support for normalise(d * radii), multiplied by
    // the radii; w = 1. The zero direction gives (0, 0, rz).
    dgVector supportVertex(const dgVector& direction) const override;
    // One point: the centre of the ellipse in which the plane through point
    // with normal `normal` cuts the ellipsoid (the origin for a plane through
    // the origin). w = 1. Returns 1.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // (rx, ry, rz, 0) and their inverses.
    dgVector getRadii() const { return dgVector(m_rx, m_ry, m_rz, 0.0f); }
    dgVector getInverseRadii() const { return dgVector(m_invRx, m_invRy, m_invRz, 0.0f); }

protected:
    float m_rx;
    float m_ry;
    float m_rz;
    float m_invRx;
    float m_invRy;
    float m_invRz;
};
