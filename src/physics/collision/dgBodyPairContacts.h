// The contact pass of one pair of bodies whose boxes overlap: pair
// exclusion by joints, the material pair and its begin callback, contact
// generation by shape class (or reuse of last step's points), at most 16
// points merged into the pair's contact joint, the end callback.
#pragma once

#include <cstdint>

class dgBody;
class dgWorld;
struct dgMaterialPair;

// The whole pass for bodies a and b (either order). A pair of a body with
// itself, a null body or a body without a shape is skipped.
void dgWorldCollideBodyPair(dgWorld* world, dgBody* a, dgBody* b);
// Contacts of a convex body with a convex or polygon-soup body.
void dgWorldContactsConvex(dgWorld* world, dgBody* convexBody, dgBody* other, dgMaterialPair* material);
// Contacts of a compound body with any other body, child by child; children
// that are not convex make none.
void dgWorldContactsCompound(dgWorld* world, dgBody* compoundBody, dgBody* other, dgMaterialPair* material);
