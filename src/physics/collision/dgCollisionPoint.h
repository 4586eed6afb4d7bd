// The world's point shape: a sphere of radius 1 at the identity offset that
// the world builds once, with a fixed signature, for its point-distance
// query. Its support point is the origin whatever the direction, and it has
// no volume and no inertia; every other operation is the sphere's.
//
// It has no class name of its own and answers to the sphere's class identity
// (as a sphere it counts among the live spheres), so a class test cannot
// tell it from a sphere: recognise it by the world's pointer.
#pragma once

#include <cstdint>

#include "dgCollisionSphere.h"

class dgCollisionPoint : public dgCollisionSphere {
    DG_DECLARE_CLASS_NAMED(dgCollisionPoint, dgCollisionSphere, "dgCollisionSphere")

public:
    // Signature under which the world builds its point shape.
    static constexpr uint32_t kPointSignature = 0x12344321u;

    explicit dgCollisionPoint(uint32_t signature = kPointSignature, float radius = 1.0f,
                              const dgMatrix& offsetMatrix = dgGetIdentityMatrix());
    ~dgCollisionPoint() override;

    // 0.
    float getVolume() const override;
    // Zero inertia and origin (x, y, z; w untouched).
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // The zero vector for any direction.
    dgVector supportVertex(const dgVector& direction) const override;
};
