// Contact points that live from step to step in a pair's contact joint.
//
// Each step the body-pair pass first asks whether last step's points can
// stand as they are (a resting stack keeps its patch without running the
// contact generators); otherwise it merges the new points into the joint,
// reusing the nearest old node for each, so that a steady pair allocates
// nothing.
//
// A joint's list holds its current points first (most recently accepted
// first), then inactive nodes of earlier steps kept for reuse. Everything
// stored in a point follows the joint's body0 and body1: the normal points
// from body1 towards body0, localPoint0 and tangent frame belong to body0's
// side, and the body and shape pointers are in the joint's order.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"

class dgBody;
class dgContact;
class dgWorld;
struct dgMaterialPair;

// Solver rows one contact point takes.
constexpr int32_t dgContactRowsPerPoint = 3;

// The pair's contact joint (first one linking a and b) goes to *outJoint, or
// null when the pair has none. Returns how many of its first points may be
// kept as this step's points without generating new ones, 0 when they must
// be generated anew: a joint of fewer than three points only while both
// bodies rest; otherwise every point still touching on both bodies (depth at
// most 0.0005, the two bodies' copies within 0.001; each point is moved to
// their midpoint) and the points not all within 0.01 of one line, nor
// within a quarter of the smaller body's largest box extent of it, or all of
// them while both bodies rest. A vehicle body (its shape has
// dgShapeFlagVehicle) never reuses and has its equilibrium bit cleared.
// Never more than the list holds.
int32_t dgWorldReuseContacts(dgBody* a, dgBody* b, dgContact** outJoint);

// Asks for the last of the joint's point nodes (null asks for nothing): the
// merge of new points reads the nodes from the tail once the contact
// generators are done, and that first read would otherwise wait on memory.
void dgWorldPrefetchContacts(const dgContact* joint);

// Makes the joint's first count points this step's points again with the
// material's current values (friction and collidable bits copied, the given
// accelerations cleared); the process callback sees each point but cannot
// drop it here.
void dgWorldRefreshContacts(dgWorld* world, dgContact* joint, dgMaterialPair* material, int32_t count);

// Merges count new points of bodies a and b (normals from b towards a, as
// the contact generators give them) into joint, or into a new joint made
// and linked to both bodies when joint is null (body0 then being the moving
// body when one is static). Each point takes the nearest inactive node (a
// new node only when none is left), gets the material's values and its
// friction frame, and is kept when the process callback and the collidable
// bit let it through; refused points stay inactive. count below 1 does
// nothing.
void dgWorldProcessContacts(dgWorld* world, dgContact* joint, dgBody* a, dgBody* b, dgMaterialPair* material,
                            int32_t count, const dgContactPoint* points);
