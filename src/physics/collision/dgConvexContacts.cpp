// Contact dispatch for convex pairs and the sphere-sphere and box-sphere
// closed forms, which spare the common pairs the solver's large work object.
#include "dgConvexContacts.h"

#include <algorithm>
#include <cmath>

#include "dgAssert.h"
#include "dgCollisionBox.h"
#include "dgCollisionSphere.h"
#include "dgDynamicsServices.h"
#include "dgMinkowskiSolver.h"
#include "dgSeparationTests.h"

namespace {

// No contact until the overlap reaches this much.
constexpr float kContactSkin = 1.0f / 256.0f;
// Reported penetration is the overlap less this allowance.
constexpr float kPenetrationAllowance = 1.0f / 128.0f;
// Squared distance below which two sphere centres count as one point.
constexpr float kCoincidentCentres2 = 1.0e-4f;
constexpr float kCoincidentPenetration = 0.01f;

bool finiteMatrix(const dgMatrix& m) {
    for (int32_t i = 0; i < 4; i++) {
        const dgVector& row = m[i];
        if (!(std::isfinite(row.x) && std::isfinite(row.y) && std::isfinite(row.z) && std::isfinite(row.w))) {
            return false;
        }
    }
    return true;
}

// The body's shape when it can make contacts: present, convex, not the null
// shape, and placed by a finite matrix.
dgConvexCollision* contactShape(const dgBody* body) {
    if (!body) {
        return nullptr;
    }
    dgConvexCollision* shape = dgRefCast<dgConvexCollision>(body->m_collision);
    if (!shape || (shape->getShapeType() == dgShapeNull) || !finiteMatrix(body->m_collisionMatrix)) {
        return nullptr;
    }
    return shape;
}

// The body's shape when its type id is `type` and it really is a T; the
// type id alone picks the routine, the class test only guards the cast.
template <class T>
const T* typedShape(const dgBody* body, uint32_t type) {
    const dgConvexCollision* shape = contactShape(body);
    if (!shape || (shape->getShapeType() != type)) {
        return nullptr;
    }
    const T* typed = dgRefCast<T>(shape);
    DG_ASSERT(typed);
    return typed;
}

float reportedPenetration(float gap) {
    return std::max(std::fabs(gap) - kPenetrationAllowance, 0.0f);
}

void writeRecord(dgContactPoint& contact, const dgVector& point, const dgVector& normal, float penetration) {
    contact.point = point;
    contact.normal = normal;
    contact.userId = dgContactUserId(0);
    contact.penetration = penetration;
}

int32_t solverRoom(int32_t maxCount) {
    return std::min(maxCount, dgConvexContactsMax);
}

}  // namespace

int32_t dgSphereSphereContacts(dgBody* body0, dgBody* body1, dgContactPoint* contacts, int32_t maxCount) {
    const dgCollisionSphere* sphereA = typedShape<dgCollisionSphere>(body0, dgShapeSphere);
    const dgCollisionSphere* sphereB = typedShape<dgCollisionSphere>(body1, dgShapeSphere);
    if (!contacts || (maxCount < 1) || !sphereA || !sphereB) {
        return 0;
    }
    const float rA = sphereA->getRadius();
    const float rB = sphereB->getRadius();
    const dgVector& pA = body0->m_collisionMatrix.position;
    const dgVector& pB = body1->m_collisionMatrix.position;

    const dgVector delta(pB - pA);
    const float dist2 = delta % delta;
    if (dist2 >= kCoincidentCentres2) {
        const float dist = std::sqrt(dist2);
        const float gap = dist - (rA + rB);
        // Written so that a NaN or overflowed gap is no contact.
        if (!(gap <= -kContactSkin)) {
            return 0;
        }
        const float penetration = reportedPenetration(gap);
        dgVector normal(delta.scale(-1.0f / dist));
        normal.w = 1.0f;
        writeRecord(contacts[0], pA - normal.scale(rA - 0.5f * penetration), normal, penetration);
        return 1;
    }
    const dgVector normal(0.0f, 1.0f, 0.0f, 1.0f);
    writeRecord(contacts[0], pA + normal.scale(rA), normal, kCoincidentPenetration);
    return 1;
}

int32_t dgBoxSphereContacts(dgBody* boxBody, dgBody* sphereBody, dgContactPoint* contacts, int32_t maxCount) {
    const dgCollisionBox* box = typedShape<dgCollisionBox>(boxBody, dgShapeBox);
    const dgCollisionSphere* sphere = typedShape<dgCollisionSphere>(sphereBody, dgShapeSphere);
    if (!contacts || (maxCount < 1) || !box || !sphere) {
        return 0;
    }
    const dgMatrix& matrix = boxBody->m_collisionMatrix;
    const dgVector& h = box->getHalfExtents();
    const float r = sphere->getRadius();
    const dgVector c(matrix.inverseTransformVector(sphereBody->m_collisionMatrix.position));

    // Per axis: 0 inside the slab, -1 below it, +1 above it.
    int32_t side[3];
    int32_t outside = 0;
    int32_t faceAxis = 0;
    for (int32_t k = 0; k < 3; k++) {
        side[k] = (c[k] < -h[k]) ? -1 : ((c[k] > h[k]) ? 1 : 0);
        if (side[k]) {
            outside++;
            faceAxis = k;
        }
    }
    if (outside == 0) {
        // The centre inside the box (or a centre that compares as nothing).
        return dgConvexConvexContacts(boxBody, sphereBody, contacts, maxCount);
    }

    float gap;
    dgVector localNormal(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector localPoint(c);
    if (outside == 1) {
        const int32_t k = faceAxis;
        const float s = float(side[k]);
        gap = s * c[k] - h[k] - r;
        if (!(gap <= -kContactSkin)) {
            return 0;
        }
        localNormal[k] = -s;
        // The box face moved inward by half the overlap.
        localPoint[k] = s * (h[k] + 0.5f * gap);
    } else {
        // Toward the nearest edge or corner, on the outside axes only.
        dgVector toFeature(0.0f, 0.0f, 0.0f, 0.0f);
        for (int32_t k = 0; k < 3; k++) {
            if (side[k]) {
                toFeature[k] = float(side[k]) * h[k] - c[k];
            }
        }
        const float length2 = toFeature % toFeature;
        if (!(length2 > 0.0f)) {
            // The centre sits on the feature to within what a float
            // resolves: no direction to take, so the solver decides.
            return dgConvexConvexContacts(boxBody, sphereBody, contacts, maxCount);
        }
        localNormal = toFeature.scale(1.0f / std::sqrt(length2));
        gap = (localNormal % toFeature) - r;
        if (!(gap <= -kContactSkin)) {
            return 0;
        }
        localPoint = c + localNormal.scale(r + 0.5f * gap);
    }
    localPoint.w = 1.0f;
    writeRecord(contacts[0], matrix.transformVector(localPoint), matrix.rotateVector(localNormal),
                reportedPenetration(gap));
    return 1;
}

int32_t dgConvexConvexContacts(dgBody* body0, dgBody* body1, dgContactPoint* contacts, int32_t maxCount) {
    const dgConvexCollision* shape0 = contactShape(body0);
    const dgConvexCollision* shape1 = contactShape(body1);
    if (!contacts || (maxCount < 1) || !shape0 || !shape1) {
        return 0;
    }
    // Most pairs whose boxes overlap are apart along the line through their
    // centres: no search needed to find them apart.
    if (dgConvexPairApart(*shape0, body0->m_collisionMatrix, *shape1, body1->m_collisionMatrix)) {
        return 0;
    }
    dgMinkowskiSolver solver(body0, body1);
    return solver.calcContacts(contacts, 0, solverRoom(maxCount));
}

int32_t dgConvexConvexContactsContinuous(float& timeStep, dgBody* body0, dgBody* body1,
                                         dgContactPoint* contacts, int32_t maxCount) {
    if (!contacts || (maxCount < 1) || !contactShape(body0) || !contactShape(body1)) {
        return 0;
    }
    dgMinkowskiSolver solver(body0, body1);
    return solver.calcContactsContinuous(timeStep, contacts, 0, solverRoom(maxCount));
}

int32_t dgConvexContacts(float& timeStep, dgBody* body0, dgBody* body1, dgContactPoint* contacts,
                         int32_t maxCount) {
    const dgConvexCollision* shape0 = contactShape(body0);
    const dgConvexCollision* shape1 = contactShape(body1);
    if (!contacts || (maxCount < 1) || !shape0 || !shape1) {
        return 0;
    }

    int32_t count = 0;
    if ((body0->m_flags | body1->m_flags) & dgBodyFlagContinuous) {
        count = dgConvexConvexContactsContinuous(timeStep, body0, body1, contacts, maxCount);
    } else {
        const uint32_t type0 = shape0->getShapeType();
        const uint32_t type1 = shape1->getShapeType();
        if ((type0 == dgShapeBox) && (type1 == dgShapeSphere)) {
            count = dgBoxSphereContacts(body0, body1, contacts, maxCount);
        } else if ((type0 == dgShapeSphere) && (type1 == dgShapeBox)) {
            count = dgBoxSphereContacts(body1, body0, contacts, maxCount);
            for (int32_t i = 0; i < count; i++) {
                dgVector& n = contacts[i].normal;
                n.x = -n.x;
                n.y = -n.y;
                n.z = -n.z;
            }
        } else if ((type0 == dgShapeSphere) && (type1 == dgShapeSphere)) {
            count = dgSphereSphereContacts(body0, body1, contacts, maxCount);
        } else {
            count = dgConvexConvexContacts(body0, body1, contacts, maxCount);
        }
        if (count > 0) {
            timeStep = 0.0f;
        }
    }
    DG_ASSERT((count >= 0) && (count <= solverRoom(maxCount)));

    for (int32_t i = 0; i < count; i++) {
        contacts[i].body0 = body0;
        contacts[i].body1 = body1;
        contacts[i].collision0 = body0->m_collision;
        contacts[i].collision1 = body1->m_collision;
    }
    return count;
}
