// Contacts between a body with a convex shape and a body whose shape is a
// polygon soup (the terrain). The soup gathers the faces near the convex
// shape with one box query; each face is loaded in turn into the soup's one
// face object and met by the convex solver (a closed form for spheres). A
// face's attribute becomes the zero-extended userId of its contacts.
//
// Every generator returns at most maxCount records (128 at most) and writes
// nothing at or past maxCount; a maxCount below 1 gives 0. Normals point from
// the soup towards the convex body. Null bodies, null shapes, a convex side
// that is not convex or a soup side that is not a soup give 0; so do
// placements that are not finite.
//
// The soup's face object is shared: calls against one soup must not overlap.
// `world` is accepted for the callers' sake and not read.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"

class dgBody;
class dgWorld;

// Largest maxCount honoured; more is taken as this.
constexpr int32_t dgMaxSoupContacts = 128;

// The entry of the contact pipeline. Bit 5 (continuous) on either body takes
// the continuous path (a null convex shape gives 0); otherwise the discrete
// one, where any contact sets timeStep to 0. Every record names the convex
// body and shape as body0 / collision0, the soup's as body1 / collision1.
// The record of the largest penetration comes first (the earliest of equals).
int32_t dgConvexSoupContacts(dgWorld* world, float& timeStep, dgBody* convexBody, dgBody* soupBody,
                             dgContactPoint* contacts, int32_t maxCount);

// By the convex shape's type id: sphere, null (0) or the general path.
int32_t dgConvexSoupContactsDiscrete(dgWorld* world, dgBody* convexBody, dgBody* soupBody,
                                     dgContactPoint* contacts, int32_t maxCount);

// Note the order: the soup body comes first here. A face meets the convex
// shape as a thin plate; where the way out the solver finds for it leaves by
// an edge or a corner the surface does not turn at (a seam to a level or
// rising neighbour), or by the face's back, the face's contacts are made
// along its own normal instead, at the depth of the shape's deepest point
// under its plane. Where that cut misses the face, a round shape's (sphere,
// ellipse, capsule, chamfer cylinder) records are placed at its own section
// just inside its deepest point along the normal, not where the solver met
// the face's rim. On a bowed face (an optimised soup merges faces whose
// corners leave each other's planes) such records go no deeper than the
// solver's overlap allows along the face's normal.
int32_t dgConvexSoupContactsGeneral(dgWorld* world, dgBody* soupBody, dgBody* convexBody,
                                    dgContactPoint* contacts, int32_t maxCount);

// Closed form per face, at most one record a face; when the array is full the
// set is reduced to one point. The soup body comes first. The sphere's
// centre is its body's collision matrix position. A face whose nearest point
// leaves by a seam the surface does not turn at, or by its back, pushes as
// on the general path, along its own normal, from the point where the line
// from the centre along that normal meets its plane. A bowed face is met by
// the solver, as on the general path, and gives its deepest record.
int32_t dgSphereSoupContacts(dgWorld* world, dgBody* soupBody, dgBody* sphereBody, dgContactPoint* contacts,
                             int32_t maxCount);

// timeStep (seconds, in/out) is first limited to 1. A fast body (moving more
// than a quarter of its length along the motion in the step) has its spin
// damped by 10% and its equilibrium bit cleared on every call, sweeps the
// query box along the motion (turned into the soup's frame) and gets the
// contacts at the earliest impact over all faces, written to timeStep (the
// limited step when there is none); no edge filter. A face it already
// overlaps gives its contacts as on the general path (an impact at 0).
// Otherwise timeStep = 0 and the general discrete path runs.
int32_t dgConvexSoupContactsContinuous(dgWorld* world, float& timeStep, dgBody* convexBody, dgBody* soupBody,
                                       dgContactPoint* contacts, int32_t maxCount);

// Edge contacts are the records whose flag is not 0 (normal off its face's
// normal). Records and flags are reordered together, unflagged first; every
// flagged record within 0.2 of an unflagged one is then removed (the last
// record and flag take its place). Returns the new count.
int32_t dgFilterEdgeContacts(int32_t count, dgContactPoint* contacts, uint8_t* edgeFlags);
