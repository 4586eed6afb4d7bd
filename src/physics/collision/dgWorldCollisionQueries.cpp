#include "dgWorldCollisionQueries.h"

#include <algorithm>
#include <cmath>

#include "dgAssert.h"
#include "dgCollision.h"
#include "dgCollisionPoint.h"
#include "dgCompoundCollision.h"
#include "dgContactReduction.h"
#include "dgConvexCollision.h"
#include "dgConvexContacts.h"
#include "dgConvexSoupContacts.h"
#include "dgDynamicsServices.h"
#include "dgIntersections.h"
#include "dgMathUtils.h"
#include "dgMinkowskiSolver.h"

namespace {

// Compound sets are halved once they reach this many records, so a pair of
// large compounds never runs out of room.
constexpr int32_t kCompoundReduceAt = 64;
// Far beyond any squared distance the solver can report.
constexpr float kNoDistance2 = 1.0e10f;

bool finiteMatrix(const dgMatrix& m) {
    for (int32_t i = 0; i < 4; i++) {
        if (!dgIsFinite3(m[i]) || !std::isfinite(m[i].w)) {
            return false;
        }
    }
    return true;
}

bool isCompound(const dgWorld* world, const dgCollision* shape) {
    return shape->isClass(world->m_compoundClassId);
}

// A convex shape with geometry: the null shape has none and must not pass
// for a point.
bool isSolidConvex(const dgWorld* world, const dgCollision* shape) {
    return shape && shape->isClass(world->m_convexClassId) && (shape->getShapeType() != dgShapeNull);
}

dgMatrix collisionMatrixOf(const dgCollision* shape, const dgMatrix& matrix) {
    return shape->hasOffset() ? shape->getOffsetMatrix().multiply(matrix) : matrix;
}

// The body record is cleared first: the box update reads the broad-phase
// cell and the continuous paths read force, torque and inverse mass.
void placeTemporary(dgBody& body, dgCollision* shape, const dgMatrix& matrix) {
    body.clear();
    body.m_matrix = matrix;
    body.m_collision = shape;
    body.m_collisionMatrix = collisionMatrixOf(shape, matrix);
}

void placeForContacts(dgBody& body, dgWorld* world, dgCollision* shape, const dgMatrix& matrix,
                      const dgVector* velocity, const dgVector* omega) {
    placeTemporary(body, shape, matrix);
    body.m_world = world;
    if (velocity) {
        body.m_flags = dgBodyFlagContinuous;
        body.m_veloc = dgVector(velocity->x, velocity->y, velocity->z, 0.0f);
        body.m_omega = dgVector(omega->x, omega->y, omega->z, 0.0f);
    }
}

// One child placement of a compound body for the closest points.
void placeChild(dgBody& body, dgCollision* child, const dgMatrix& parentCollisionMatrix) {
    body.m_collision = child;
    body.m_collisionMatrix = collisionMatrixOf(child, parentCollisionMatrix);
}

dgVector pointOf(const float* p) {
    return dgVector(p[0], p[1], p[2], 1.0f);
}

// Compound first, then convex first, in the order given before the swapped
// one; 0 for pairs no path handles.
int32_t dispatchContacts(dgWorld* world, float& time, dgBody& a, dgBody& b, dgContactPoint* records,
                         int32_t maxCount) {
    if (isCompound(world, a.m_collision)) {
        return dgWorldCompoundContacts(world, time, &a, &b, records, maxCount);
    }
    if (isCompound(world, b.m_collision)) {
        return dgWorldCompoundContacts(world, time, &b, &a, records, maxCount);
    }
    if (a.m_collision->isClass(world->m_convexClassId)) {
        return dgWorldConvexQueryContacts(world, time, &a, &b, records, maxCount);
    }
    if (b.m_collision->isClass(world->m_convexClassId)) {
        return dgWorldConvexQueryContacts(world, time, &b, &a, records, maxCount);
    }
    return 0;
}

void copyOut(int32_t count, const dgContactPoint* records, float* points, float* normals, float* penetrations) {
    for (int32_t i = 0; i < count; i++) {
        for (int32_t j = 0; j < 3; j++) {
            points[3 * i + j] = records[i].point[j];
            normals[3 * i + j] = records[i].normal[j];
        }
        penetrations[i] = records[i].penetration;
    }
}

bool contactInputUsable(const dgWorld* world, const dgCollision* shapeA, const dgMatrix& matrixA,
                        const dgCollision* shapeB, const dgMatrix& matrixB, const float* points,
                        const float* normals, const float* penetrations) {
    return world && shapeA && shapeB && points && normals && penetrations && finiteMatrix(matrixA) &&
           finiteMatrix(matrixB);
}

}  // namespace

int32_t dgWorldCompoundClosestPoints(dgWorld* world, dgBody* compound, dgBody* other, dgVector& pointOnCompound,
                                     dgVector& pointOnOther, dgVector& normal) {
    if (!world || !compound || !other) {
        return 0;
    }
    dgCollision* const savedX = compound->m_collision;
    const dgCompoundCollision* shapeX = dgRefCast<dgCompoundCollision>(savedX);
    dgCollision* const shapeY = other->m_collision;
    if (!shapeX || !shapeY) {
        return 0;
    }
    const dgCompoundCollision* compoundY = nullptr;
    if (!isSolidConvex(world, shapeY)) {
        compoundY = dgRefCast<dgCompoundCollision>(shapeY);
        // A soup is no list of children, and the null shape has no points.
        if (!compoundY) {
            return 0;
        }
    }
    const dgMatrix matrixX(compound->m_collisionMatrix);
    const dgMatrix matrixY(other->m_collisionMatrix);

    int32_t found = 0;
    float best = kNoDistance2;
    float pX[3], pY[3], n[3];
    const int32_t countY = compoundY ? compoundY->getChildCount() : 1;
    for (int32_t i = 0; i < shapeX->getChildCount(); i++) {
        dgCollision* const c = shapeX->getChild(i);
        if (!isSolidConvex(world, c)) {
            continue;
        }
        placeChild(*compound, c, matrixX);
        for (int32_t j = 0; j < countY; j++) {
            if (compoundY) {
                dgCollision* const d = compoundY->getChild(j);
                if (!isSolidConvex(world, d)) {
                    continue;
                }
                placeChild(*other, d, matrixY);
            }
            if (!dgClosestPoints(compound, other, pX, pY, n)) {
                continue;
            }
            const dgVector a(pointOf(pX)), b(pointOf(pY));
            const dgVector gap(a - b);
            const float dist2 = gap.x * gap.x + gap.y * gap.y + gap.z * gap.z;
            found = 1;
            if (dist2 < best) {
                best = dist2;
                pointOnCompound = a;
                pointOnOther = b;
                normal = dgVector(n[0], n[1], n[2], 0.0f);
            }
        }
    }
    compound->m_collision = savedX;
    compound->m_collisionMatrix = matrixX;
    other->m_collision = shapeY;
    other->m_collisionMatrix = matrixY;
    return found;
}

int32_t dgWorldCollisionClosestPoints(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA,
                                      dgCollision* shapeB, const dgMatrix& matrixB, dgVector& pointA,
                                      dgVector& pointB, dgVector& normal) {
    if (!world || !shapeA || !shapeB || !finiteMatrix(matrixA) || !finiteMatrix(matrixB)) {
        return 0;
    }
    dgBody a;
    dgBody b;
    placeTemporary(a, shapeA, matrixA);
    placeTemporary(b, shapeB, matrixB);

    if (isCompound(world, shapeA)) {
        return dgWorldCompoundClosestPoints(world, &a, &b, pointA, pointB, normal);
    }
    if (isCompound(world, shapeB)) {
        if (!dgWorldCompoundClosestPoints(world, &b, &a, pointB, pointA, normal)) {
            return 0;
        }
        normal.x = -normal.x;
        normal.y = -normal.y;
        normal.z = -normal.z;
        return 1;
    }
    if (!isSolidConvex(world, shapeA) || !isSolidConvex(world, shapeB)) {
        return 0;
    }
    float pA[3], pB[3], n[3];
    if (!dgClosestPoints(&a, &b, pA, pB, n)) {
        return 0;
    }
    pointA = pointOf(pA);
    pointB = pointOf(pB);
    normal = dgVector(n[0], n[1], n[2], 0.0f);
    return 1;
}

int32_t dgWorldCollisionPointDistance(dgWorld* world, const float* point, dgCollision* shape,
                                      const dgMatrix& matrix, dgVector& contact, dgVector& normal) {
    if (!world || !world->m_pointCollision || !point) {
        return 0;
    }
    const dgVector p(pointOf(point));
    if (!dgIsFinite3(p)) {
        return 0;
    }
    dgMatrix pointMatrix(dgGetIdentityMatrix());
    pointMatrix.position = p;
    dgVector scratch;
    return dgWorldCollisionClosestPoints(world, shape, matrix, world->m_pointCollision, pointMatrix, contact,
                                         scratch, normal);
}

int32_t dgWorldConvexQueryContacts(dgWorld* world, float& time, dgBody* convex, dgBody* other,
                                   dgContactPoint* contacts, int32_t maxCount) {
    if (!world || !convex || !other || !other->m_collision || !contacts || (maxCount < 1)) {
        return 0;
    }
    int32_t count = 0;
    if (other->m_collision->isClass(world->m_convexClassId)) {
        count = dgConvexContacts(time, convex, other, contacts, maxCount);
    } else {
        count = dgConvexSoupContacts(world, time, convex, other, contacts, maxCount);
    }
    DG_ASSERT((count >= 0) && (count <= maxCount));
    if (count > 0) {
        count = dgWorldFilterContacts(count, contacts, maxCount);
    }
    return count;
}

int32_t dgWorldCompoundContacts(dgWorld* world, float& time, dgBody* compound, dgBody* other,
                                dgContactPoint* contacts, int32_t maxCount) {
    if (!world || !compound || !other || !other->m_collision || !contacts || (maxCount < 1)) {
        return 0;
    }
    dgCollision* const savedX = compound->m_collision;
    const dgCompoundCollision* shapeX = dgRefCast<dgCompoundCollision>(savedX);
    if (!shapeX) {
        return 0;
    }
    dgCollision* const savedY = other->m_collision;
    const dgMatrix matrixX(compound->m_collisionMatrix);
    const dgMatrix matrixY(other->m_collisionMatrix);
    const bool convexY = savedY->isClass(world->m_convexClassId);
    const dgCompoundCollision* compoundY = convexY ? nullptr : dgRefCast<dgCompoundCollision>(savedY);

    const float entryTime = time;
    dgBodyUpdateCollisionMatrix(other, entryTime);
    int32_t count = 0;
    for (int32_t i = 0; (i < shapeX->getChildCount()) && (count < maxCount); i++) {
        dgCollision* const c = shapeX->getChild(i);
        // Nested compounds and other non-convex children have no generator.
        if (!c->isClass(world->m_convexClassId)) {
            continue;
        }
        compound->m_collision = c;
        dgBodyUpdateCollisionMatrix(compound, entryTime);
        const int32_t countY = compoundY ? compoundY->getChildCount() : 1;
        for (int32_t j = 0; (j < countY) && (count < maxCount); j++) {
            float t = entryTime;
            int32_t added = 0;
            if (compoundY) {
                dgCollision* const d = compoundY->getChild(j);
                if (!d->isClass(world->m_convexClassId)) {
                    continue;
                }
                other->m_collision = d;
                dgBodyUpdateCollisionMatrix(other, entryTime);
            }
            if (convexY || compoundY) {
                if (dgBoxOverlap(compound->m_minAABB, compound->m_maxAABB, other->m_minAABB, other->m_maxAABB)) {
                    added = dgConvexContacts(t, compound, other, contacts + count, maxCount - count);
                }
            } else {
                added = dgConvexSoupContacts(world, t, compound, other, contacts + count, maxCount - count);
            }
            DG_ASSERT((added >= 0) && (added <= maxCount - count));
            count += added;
            time = std::min(time, t);
            if (count >= kCompoundReduceAt) {
                count = dgWorldReduceContacts(count, contacts, count / 2, dgContactReduceTolerance);
            }
        }
    }
    compound->m_collision = savedX;
    compound->m_collisionMatrix = matrixX;
    other->m_collision = savedY;
    other->m_collisionMatrix = matrixY;
    DG_ASSERT(count <= maxCount);
    return std::min(count, maxCount);
}

int32_t dgWorldCollide(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA, dgCollision* shapeB,
                       const dgMatrix& matrixB, float* points, float* normals, float* penetrations,
                       int32_t maxCount) {
    const int32_t maximum = std::min(maxCount, dgWorldQueryMaxContacts);
    if ((maximum < 1) ||
        !contactInputUsable(world, shapeA, matrixA, shapeB, matrixB, points, normals, penetrations)) {
        return 0;
    }
    dgBody a;
    dgBody b;
    placeForContacts(a, world, shapeA, matrixA, nullptr, nullptr);
    placeForContacts(b, world, shapeB, matrixB, nullptr, nullptr);

    dgContactPoint records[dgWorldQueryMaxContacts];
    float time = 0.0f;
    int32_t count = dispatchContacts(world, time, a, b, records, dgWorldQueryMaxContacts);
    if (count > maximum) {
        count = dgWorldReduceContacts(count, records, maximum, dgContactReduceTolerance);
    }
    DG_ASSERT((count >= 0) && (count <= maximum));
    count = std::min(count, maximum);
    copyOut(count, records, points, normals, penetrations);
    return count;
}

int32_t dgWorldCollideContinuous(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA,
                                 const dgVector& velocityA, const dgVector& omegaA, dgCollision* shapeB,
                                 const dgMatrix& matrixB, const dgVector& velocityB, const dgVector& omegaB,
                                 float* timeOfImpact, float* points, float* normals, float* penetrations,
                                 int32_t maxCount) {
    if (timeOfImpact) {
        *timeOfImpact = dgWorldQueryNoImpact;
    }
    const int32_t maximum = std::min(maxCount, dgWorldQueryMaxContacts);
    if ((maximum < 1) || !timeOfImpact ||
        !contactInputUsable(world, shapeA, matrixA, shapeB, matrixB, points, normals, penetrations) ||
        !dgIsFinite3(velocityA) || !dgIsFinite3(omegaA) || !dgIsFinite3(velocityB) || !dgIsFinite3(omegaB)) {
        return 0;
    }
    dgBody a;
    dgBody b;
    placeForContacts(a, world, shapeA, matrixA, &velocityA, &omegaA);
    placeForContacts(b, world, shapeB, matrixB, &velocityB, &omegaB);

    dgContactPoint records[dgWorldQueryMaxContacts];
    float time = 1.0f;
    int32_t count = dispatchContacts(world, time, a, b, records, maximum);
    if (count > maximum) {
        count = dgWorldFilterContacts(count, records, maximum);
    }
    DG_ASSERT((count >= 0) && (count <= maximum));
    count = std::min(count, maximum);
    if (count > 0) {
        *timeOfImpact = time;
    }
    copyOut(count, records, points, normals, penetrations);
    return count;
}
