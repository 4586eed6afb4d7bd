// Geometric queries on shapes that belong to no body: the closest points of
// two shapes, the closest point of a shape to a point, the contacts of two
// shapes at rest and the contacts and time of impact of two moving shapes.
//
// Each query puts the two shapes on two temporary bodies (cleared, then
// filled: matrix, shape, collision matrix = shape offset x matrix; the
// contact queries add the world, the continuous bit and the velocities) and
// runs the same contact generators as the simulation, compounds child by
// child. Matrices are world poses (rows front, up, right, position).
//
// Bad input answers 0 with no output written: a null world, shape or output,
// a shape of a kind no path handles, the null shape, a matrix, point or
// velocity that is not finite. Point distance also needs the world's point
// shape.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"
#include "dgMatrix.h"
#include "dgVector.h"

class dgBody;
class dgCollision;
class dgWorld;

// Most records a contact query gathers, and its largest maximum.
constexpr int32_t dgWorldQueryMaxContacts = 128;
// Time of impact reported when the continuous query finds nothing.
constexpr float dgWorldQueryNoImpact = 1.0e10f;

// Closest points of two separated shapes (convex or compound; a compound
// answers with its nearest convex child): 1 with pointA on A, pointB on B
// (w = 1) and the unit normal from pointA towards pointB (w = 0); 0 for
// touching or overlapping shapes, with the outputs untouched. With only B a
// compound the pair is solved as (B, A) and the normal negated back.
int32_t dgWorldCollisionClosestPoints(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA,
                                      dgCollision* shapeB, const dgMatrix& matrixB, dgVector& pointA,
                                      dgVector& pointB, dgVector& normal);

// Closest point of the shape to the point (3 floats): 1 with contact on the
// shape and the unit normal from it towards the point; 0 when the point
// touches or lies inside, or the world has no point shape.
int32_t dgWorldCollisionPointDistance(dgWorld* world, const float* point, dgCollision* shape,
                                      const dgMatrix& matrix, dgVector& contact, dgVector& normal);

// Contacts of the two shapes at rest: at most min(maxCount, 128) points
// (3 floats each), normals (3 floats each, unit) and penetrations (1 float
// each); the count is returned and nothing is written past it. A maxCount
// below 1 gives 0. Larger sets are thinned by the reduction.
//
// The normal points from the second body of the pair as computed towards the
// first. The pair is computed compound first, else convex first; when that
// puts B first (B a compound, or A a soup) the normals are those of (B, A)
// and are NOT negated: they then point from A towards B.
int32_t dgWorldCollide(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA, dgCollision* shapeB,
                       const dgMatrix& matrixB, float* points, float* normals, float* penetrations,
                       int32_t maxCount);

// Contacts of the two shapes moving at constant velocity and angular velocity
// over one second (x, y, z of each used), with the same outputs, order rule
// and maximum as dgWorldCollide; larger sets are thinned by the filter.
// *timeOfImpact gets the time the generators found (0 when the shapes
// already touch) or dgWorldQueryNoImpact when there are no contacts; it is
// written whenever timeOfImpact is not null, bad input included.
int32_t dgWorldCollideContinuous(dgWorld* world, dgCollision* shapeA, const dgMatrix& matrixA,
                                 const dgVector& velocityA, const dgVector& omegaA, dgCollision* shapeB,
                                 const dgMatrix& matrixB, const dgVector& velocityB, const dgVector& omegaB,
                                 float* timeOfImpact, float* points, float* normals, float* penetrations,
                                 int32_t maxCount);

// ---- the steps the queries are built from ----

// Closest points of each convex child of the compound body against the other
// body's shape, or against each convex child of it when that is a compound
// too: the nearest pairing's points and normal (as dgClosestPoints gives
// them, from the compound's point towards the other's). An other body that
// is neither convex nor compound gives 0. Both bodies' shape and collision
// matrix are restored.
int32_t dgWorldCompoundClosestPoints(dgWorld* world, dgBody* compound, dgBody* other, dgVector& pointOnCompound,
                                     dgVector& pointOnOther, dgVector& normal);

// Contacts of each convex child of the compound body with the other body
// (convex, compound child by child, or a soup), boxes tested first except
// against a soup. time (in/out) is handed to every generator as given and
// ends as the least time any of them left. Sets of 64 or more are halved by
// the reduction as they grow. Returns at most maxCount; both bodies' shape
// and collision matrix are restored (the boxes are left refreshed).
int32_t dgWorldCompoundContacts(dgWorld* world, float& time, dgBody* compound, dgBody* other,
                                dgContactPoint* contacts, int32_t maxCount);

// Contacts of the convex body with a convex or soup body, filtered of
// near-duplicates; at most maxCount.
int32_t dgWorldConvexQueryContacts(dgWorld* world, float& time, dgBody* convex, dgBody* other,
                                   dgContactPoint* contacts, int32_t maxCount);
