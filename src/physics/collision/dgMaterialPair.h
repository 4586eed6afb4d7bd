// Material pairs: for every unordered pair of material group ids the world
// keeps one record of whether bodies of the two groups collide, the surface
// values their contacts start with, the friction and continuous switches, a
// user data word and the game's four collision callbacks.
//
// The same record is the live material of every contact point inside a
// contact joint: the contact pass copies the pair's values into it and the
// process callback may change them for that point alone. It begins with the
// members of dgContactPoint, in order, so a generated point is copied in
// member for member.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"
#include "dgPhysicsTypes.h"
#include "dgRbTree.h"
#include "dgVector.h"

class dgBody;
class dgContact;
class dgWorld;
struct dgMaterialPair;

// Bits of dgMaterialPair::m_flags.
enum dgMaterialFlags : uint32_t {
    dgMaterialFlagCollidable = 1u << 0,
    dgMaterialFlagFriction0 = 1u << 1,
    dgMaterialFlagFriction1 = 1u << 2,
    // The tangent and normal accelerations were given by a process callback.
    dgMaterialFlagTangentAccel0 = 1u << 3,
    dgMaterialFlagTangentAccel1 = 1u << 4,
    dgMaterialFlagNormalAccel = 1u << 5,
    // Bodies of the pair may use their continuous contact path.
    dgMaterialFlagContinuous = 1u << 6,
};

// Flags of a new pair: collidable, friction in both directions, continuous.
constexpr uint32_t dgMaterialDefaultFlags = 0x47u;

// The four callbacks (dgMaterialBeginCallback, dgMaterialProcessCallback,
// dgMaterialEndCallback, dgMaterialCompoundCallback) are the public header's.

struct dgMaterialPair : public dgContactPoint {
    // Point x, y, z = 0, the accelerations 0, softness 0.1, elasticity 0.4,
    // static frictions 0.9, kinetic frictions 0.5, flags 0x47. Everything else
    // is left unset (the table's records clear user data and callbacks).
    dgMaterialPair();

    // First friction direction, and the second (normal x first).
    dgVector m_tangentDir0;
    dgVector m_tangentDir1;
    // Copied into every contact of the pair.
    void* m_userData;
    float m_softness;
    // Restitution.
    float m_elasticity;
    float m_staticFriction0;
    float m_staticFriction1;
    float m_kineticFriction0;
    float m_kineticFriction1;
    // Accelerations a process callback gives (with flag bits 5, 3, 4); after
    // the solve the forces of the contact's rows.
    float m_normalAcceleration;
    float m_tangentAcceleration0;
    float m_tangentAcceleration1;
    // dgMaterialFlags.
    uint32_t m_flags;
    dgMaterialEndCallback m_end;
    dgMaterialBeginCallback m_begin;
    dgMaterialProcessCallback m_process;
    dgMaterialCompoundCallback m_compound;
};

// The world's pair table: records keyed by dgMaterialPairKey.
typedef dgRbTree<dgMaterialPair, uint32_t> dgMaterialPairTree;

// (larger id << 16) + smaller id, in 32-bit unsigned arithmetic: the pair is
// unordered; ids are meaningful up to 65535.
inline uint32_t dgMaterialPairKey(uint32_t group0, uint32_t group1) {
    return (group0 > group1) ? ((group0 << 16) + group1) : ((group1 << 16) + group0);
}

// Inserts a copy of record under key. A key already present keeps its record:
// that node is returned and *existed set to 1 (else 0); existed may be null.
// Null only when the node cannot be allocated.
dgMaterialPairTree::Node* dgMaterialPairInsert(dgMaterialPairTree* table, uint32_t key,
                                               const dgMaterialPair& record, int32_t* existed);

// A new group g (the world's group counter, which then grows by one) with a
// pair record of constructor defaults (null user data and callbacks, flags
// exactly 0x47; the contact members zero, so the contact accessors read 0
// from a pair record) for every group 0 .. g. Existing pairs keep their values. The
// 65,537th group is refused: nothing is inserted and the default group id is
// returned.
uint32_t dgWorldCreateMaterialGroup(dgWorld* world);

// The record of the two groups, in either order; null when the pair does not
// exist (a group never created).
dgMaterialPair* dgWorldGetMaterialPair(dgWorld* world, uint32_t group0, uint32_t group1);

// Removes every pair, sets the group counter to 0 and creates the default
// group again, unconditionally: the world's teardown, and the public
// dgMaterialDestroyAllGroups once it found the world not updating.
void dgMaterialTableReset(dgWorld* world);
