// One contact point between two bodies, and the out record of every ray cast.
//
// Contact generation fills point, normal, userId and penetration; the entry
// operations fill the four pointers afterwards; the two local points are left
// alone until the record is copied into a contact joint. The material record
// of a contact inside a joint begins with the same members in the same order,
// so the two are copied member for member.
#pragma once

#include <cstdint>

#include "dgVector.h"

class dgBody;
class dgCollision;

struct dgContactPoint {
    // World-space position of the contact.
    dgVector point;
    // Unit world-space normal pointing from body1 towards body0. A ray cast
    // writes the unit surface normal at the hit here (w is unspecified).
    dgVector normal;
    // The point in body0's / body1's space; written only by the contact merge.
    dgVector localPoint0;
    dgVector localPoint1;
    dgBody* body0;
    dgBody* body1;
    // The shapes of body0 and body1 (not referenced: the bodies hold them).
    dgCollision* collision0;
    dgCollision* collision1;
    // Face attribute of the soup face that made the contact or the ray hit:
    // the 32-bit attribute in the low word, the high word always 0 (use
    // dgContactUserId). 0 between two primitives.
    int64_t userId;
    // Overlap depth, never negative.
    float penetration;
};

// The 64-bit user id word for a 32-bit face attribute or shape user id:
// always zero-extended, so an attribute with its top bit set never turns into
// a negative id.
inline int64_t dgContactUserId(uint32_t attribute) {
    return int64_t(uint64_t(attribute));
}
