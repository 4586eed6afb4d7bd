// Contacts between two bodies whose shapes are both convex: the entry the
// contact pipeline and the collision queries call, the closed forms it takes
// for sphere-sphere and box-sphere pairs, and the general solver for the rest.
//
// Every generator writes at most maxCount records (a maximum below 1, null
// bodies, null contacts, a shape that is missing, not convex, of the wrong
// kind or the null shape: 0 and nothing written), and never more than
// dgConvexContactsMax. Each record gets point (world), normal (world, unit,
// from body1 towards body0), userId 0 and penetration (the overlap less
// 1/128, never below 0); only dgConvexContacts also fills the two body and
// the two shape pointers. Non-finite placements give 0.
//
// A pair starts to touch once the overlap reaches 1/256: a gap of exactly
// -1/256 is a contact, for spheres and in every box region alike.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"

class dgBody;

// Most records one convex pair yields.
constexpr int32_t dgConvexContactsMax = 16;

// The contacts of body0 and body1. With the continuous flag on either body
// the general continuous solver runs whatever the shapes; otherwise a
// box-sphere or sphere-sphere pair takes its closed form, and any other pair
// the general solver. Shapes are told apart by their type id, not their
// class, so an ellipse takes the general solver. timeStep (in/out, seconds)
// is set to 0 when a discrete path finds contacts, to the time of impact
// when the continuous path finds contacts before timeStep, and is left alone
// otherwise. Every record written is stamped with body0, body1 and their
// shapes, whichever order a closed form took them in.
int32_t dgConvexContacts(float& timeStep, dgBody* body0, dgBody* body1, dgContactPoint* contacts,
                         int32_t maxCount);

// Two spheres (type id sphere on both sides): 0 or 1. Centres within 0.01 of
// each other give normal +y and penetration 0.01 at the top of body0's
// sphere; otherwise the point lies on the line of centres, penetration / 2
// inside body0's surface.
int32_t dgSphereSphereContacts(dgBody* body0, dgBody* body1, dgContactPoint* contacts, int32_t maxCount);

// A box (boxBody, which plays body0) and a sphere (sphereBody, body1): one
// record from the box feature nearest the sphere's centre (face, edge or
// corner), or the general solver's records when the centre lies inside the
// box. The normal points from the sphere into the box.
int32_t dgBoxSphereContacts(dgBody* boxBody, dgBody* sphereBody, dgContactPoint* contacts, int32_t maxCount);

// The general solver on the pair at rest.
int32_t dgConvexConvexContacts(dgBody* body0, dgBody* body1, dgContactPoint* contacts, int32_t maxCount);

// The general solver with the bodies' motion over timeStep (in/out, as for
// dgConvexContacts).
int32_t dgConvexConvexContactsContinuous(float& timeStep, dgBody* body0, dgBody* body1,
                                         dgContactPoint* contacts, int32_t maxCount);
