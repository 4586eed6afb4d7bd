// The collision shape of one vehicle tire: the unit chamfer cylinder (radius
// 1, width 1 along its x axis, fully rounded edges) stretched to the tire's
// width along x and its radius across, placed in the chassis compound at the
// tire's current pose (steer, spin and suspension), and holding the tire's
// contacts of the current sub-step.
//
// The ordinary contact pipeline finds the tire's contacts through the
// stretched support function and plane section; the vehicle joint then takes
// them over (dgVehicleJoint.h). Made and released by the vehicle only; the
// chassis compound holds one reference while the tire is fitted. Tire shapes
// are never shared through the collision cache.
#pragma once

#include <cstdint>

#include "dgCollisionChamferCylinder.h"

class dgBody;
class dgWorld;
struct dgVehicleTire;

class dgCollisionTire : public dgCollisionChamferCylinder {
    DG_DECLARE_CLASS(dgCollisionTire, dgCollisionChamferCylinder)

public:
    // Contacts a tire keeps per sub-step.
    static constexpr int32_t kMaxContacts = 6;

    // One kept contact: normal points from the tire into the other body; its
    // w is the sorting key (how far the normal points down the vehicle's up).
    struct Contact {
        dgBody* body0;
        dgBody* body1;
        dgVector point;
        dgVector normal;
        float penetration;
    };

    // The unit shape stretched by (width, radius, radius) (absolute values,
    // both > 0), tire flag set, user id = collisionId, placed at pose (chassis
    // space) with no suspension offset. Its box, volume and start edges are
    // those of the stretched shape.
    dgCollisionTire(dgWorld* world, dgVehicleTire* tire, float width, float radius, uint32_t collisionId,
                    const dgMatrix& pose);
    ~dgCollisionTire() override;

    // Offset matrix = pose; its position += suspension offset x up. The
    // owner refreshes the chassis's box afterwards (the compound keeps its
    // children's boxes from its last calcAABB).
    void setPose(const dgMatrix& pose, const dgVector& up);

    // ---- overridden geometry, all in the stretched shape's frame ----

    // The convex base's box of the stretched shape (kept by the
    // constructor from the stretched support).
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // The unit shape's faces stretched, then placed by offset x body matrix.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // The support cast on the stretched support: hit parameter and outward
    // unit normal of the stretched surface itself.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // S p(S d / |S d|) with S = diag(width, radius, radius) and p the exact
    // support of the unit shape (its core disc's rim point towards the
    // direction plus the rounding radius along it), not the chamfer
    // cylinder's angle-grid one.
    dgVector supportVertex(const dgVector& direction) const override;
    // The unit shape's section by the plane carried into unit space
    // (normal S n, point S^-1 p), its points stretched back.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;
    // Not filed in the cache: a signature no cached shape has.
    uint32_t calcSignature() const override { return 0; }

    // ---- fields, in record order (after the chamfer cylinder's) ----

    // (width, radius, radius, 0) and its reciprocals.
    dgVector m_scale;
    dgVector m_invScale;
    dgWorld* m_world;
    // Along the vehicle's up, added to the pose's position (metres).
    float m_suspensionOffset;
    // (0.75 x radius)^2: a contact farther than this from the axis lies on
    // the tread.
    float m_contactDistanceLimit;
    // Contacts kept this sub-step, candidates seen, distinct body pairs.
    int32_t m_contactCount;
    int32_t m_candidateCount;
    int32_t m_pairCount;
    Contact m_contacts[kMaxContacts];
    // The distinct (tire-side body, other body) pairs of the kept contacts.
    dgBody* m_pairs[kMaxContacts][2];
    dgVehicleTire* m_tire;
};
