#include "dgBodyPairContacts.h"

#include "dgCollision.h"
#include "dgCompoundCollision.h"
#include "dgContactPersistence.h"
#include "dgContactReduction.h"
#include "dgConvexContacts.h"
#include "dgConvexSoupContacts.h"
#include "dgDynamicsServices.h"
#include "dgHeap.h"
#include "dgIntersections.h"
#include "dgMaterialPair.h"
#include "dgMemory.h"

namespace {

// Records one pass gathers, and the points a joint keeps.
constexpr int32_t kPassContacts = 128;
constexpr int32_t kJointContacts = 16;
// Beyond this many gathered points a compound pass thins its records so that
// the next child always finds room.
constexpr int32_t kCompoundReduceAt = 96;
// Children of both compounds the sweep sorts without taking memory.
constexpr int32_t kSweepLocalEntries = 1024;
// Marks a sweep entry as a child of the second compound.
constexpr uint32_t kSecondCompound = 0x80000000u;

typedef dgMinHeap<uint32_t, float> dgChildHeap;

bool isCompound(const dgWorld* world, const dgCollision* shape) {
    return shape->isClass(world->m_compoundClassId);
}

bool isConvex(const dgWorld* world, const dgCollision* shape) {
    return shape->isClass(world->m_convexClassId);
}

bool isVehicle(const dgBody* body) {
    return (body->m_collision->getFlags() & dgShapeFlagVehicle) != 0;
}

// Vehicles gather their tire contacts at the end of the broad-phase update.
void registerVehicles(dgWorld* world, dgBody* a, dgBody* b) {
    if (isVehicle(a)) {
        dgTreeNodeInsertByKey(&world->m_vehicleWorkList, a, dgBodyKey(a), nullptr);
    }
    if (isVehicle(b)) {
        dgTreeNodeInsertByKey(&world->m_vehicleWorkList, b, dgBodyKey(b), nullptr);
    }
}

// True when the pair must not collide because of the joints between them.
bool excludedByJoints(dgWorld* world, dgBody* a, dgBody* b, bool aStatic) {
    dgBody* from = aStatic ? b : a;
    if (!from->m_tieCount) {
        // Contacts alone exclude nothing.
        return false;
    }
    if ((a->m_flags | b->m_flags) & dgBodyFlagDirectLink) {
        // Only joints linking the two directly, each by its own switch.
        dgBody* to = aStatic ? a : b;
        for (dgJointLink* link = dgWorldFindJointLink(from, to); link; link = dgWorldFindBodyLink(link, to)) {
            const dgConstraint* joint = link->m_joint;
            if ((joint->m_typeId != dgJointTypeContact) && !joint->m_collisionState) {
                return true;
            }
        }
        return false;
    }
    // The whole group jointed to the moving body keeps clear of itself.
    dgBody* other = aStatic ? a : b;
    dgBody* localJointed[dgWorld::kMinWorkspaceBodies];
    dgBody** jointed = world->m_solverWorkspace ? static_cast<dgBody**>(world->m_solverWorkspace) : localJointed;
    const int32_t count = dgWorldGetJointedBodies(from, jointed, dgWorld::kMinWorkspaceBodies);
    for (int32_t i = 0; i < count; ++i) {
        if (jointed[i] == other) {
            return true;
        }
    }
    return false;
}

// A compound body's own shape and matrix, put back on every way out of the
// pass that placed its children. The shape is lent (dgBodyShapeLend), so a
// compound callback that gives the body a new shape meanwhile has it once the
// pass is over.
class dgPlacedCompound {
public:
    explicit dgPlacedCompound(dgBody* body)
        : m_body(body),
          m_compound(static_cast<dgCompoundCollision*>(body->m_collision)),
          m_matrix(body->m_collisionMatrix),
          m_lend(body) {}
    // The matrix first: the lend's end may put a new shape in, with its own.
    ~dgPlacedCompound() { m_body->m_collisionMatrix = m_matrix; }
    dgPlacedCompound(const dgPlacedCompound&) = delete;
    dgPlacedCompound& operator=(const dgPlacedCompound&) = delete;

    const dgCompoundCollision* getCompound() const { return m_compound; }
    // Child index's shape and global matrix stand in for the compound.
    void place(int32_t index) {
        m_lend.lend(m_compound->getChild(index));
        m_body->m_collisionMatrix = m_compound->getChildMatrix(index);
    }

private:
    dgBody* m_body;
    dgCompoundCollision* m_compound;
    dgMatrix m_matrix;
    dgBodyShapeLend m_lend;
};

// The contact records of one pass and their count.
struct dgPassContacts {
    dgContactPoint records[kPassContacts];
    int32_t count = 0;
};

// Appends the records of one convex pair and thins the set once it gets
// near the end of the array.
void addConvexContacts(dgWorld* world, dgBody* a, dgBody* b, dgPassContacts& pass) {
    DG_ASSERT(pass.count <= kCompoundReduceAt);
    float time = world->m_timeStep;
    pass.count += dgConvexContacts(time, a, b, pass.records + pass.count, kPassContacts - pass.count);
    if (pass.count > kCompoundReduceAt) {
        pass.count = dgWorldReduceContacts(pass.count, pass.records, kJointContacts, dgContactReduceTolerance);
    }
}

void addSoupContacts(dgWorld* world, dgBody* a, dgBody* b, dgPassContacts& pass) {
    DG_ASSERT(pass.count <= kCompoundReduceAt);
    float time = world->m_timeStep;
    pass.count += dgConvexSoupContacts(world, time, a, b, pass.records + pass.count, kPassContacts - pass.count);
    if (pass.count > kCompoundReduceAt) {
        pass.count = dgWorldReduceContacts(pass.count, pass.records, kJointContacts, dgContactReduceTolerance);
    }
}

// The compound callback's say on one child pairing.
bool childPairAllowed(dgMaterialPair* material, dgBody* a, dgBody* b) {
    return !material->m_compound || material->m_compound(material, a, b);
}

// Axis (0 x, 1 y, 2 z) along which the children's box centres spread most.
int32_t sweepAxis(const dgCompoundCollision* first, const dgCompoundCollision* second) {
    float sum[3] = {0.0f, 0.0f, 0.0f};
    float sum2[3] = {0.0f, 0.0f, 0.0f};
    const dgCompoundCollision* compounds[2] = {first, second};
    for (const dgCompoundCollision* compound : compounds) {
        for (int32_t i = 0; i < compound->getChildCount(); ++i) {
            const dgVector& lo = compound->getChildBoxMin(i);
            const dgVector& hi = compound->getChildBoxMax(i);
            for (int32_t axis = 0; axis < 3; ++axis) {
                const float centre = (lo[axis] + hi[axis]) * 0.5f;
                sum[axis] += centre;
                sum2[axis] += centre * centre;
            }
        }
    }
    const float n = float(first->getChildCount() + second->getChildCount());
    float spread[3];
    for (int32_t axis = 0; axis < 3; ++axis) {
        spread[axis] = n * sum2[axis] - sum[axis] * sum[axis];
    }
    if ((spread[0] >= spread[1]) && (spread[0] >= spread[2])) {
        return 0;
    }
    if ((spread[2] >= spread[0]) && (spread[2] >= spread[1])) {
        return 2;
    }
    return 1;
}

// Children of two compounds paired by a sweep along one axis: each child,
// in order of its box minimum, meets the children of the other compound
// whose box maximum it has not yet passed.
void sweepCompoundPair(dgWorld* world, dgBody* a, dgBody* b, dgPlacedCompound& placedA,
                       dgPlacedCompound& placedB, dgMaterialPair* material, dgPassContacts& pass) {
    const dgCompoundCollision* compoundA = placedA.getCompound();
    const dgCompoundCollision* compoundB = placedB.getCompound();
    const int32_t countA = compoundA->getChildCount();
    const int32_t countB = compoundB->getChildCount();
    const int32_t total = countA + countB;
    const int32_t axis = sweepAxis(compoundA, compoundB);

    // Large compounds take their heaps from the allocator.
    dgChildHeap::Entry localStart[kSweepLocalEntries];
    dgChildHeap::Entry localOpen[kSweepLocalEntries];
    const bool local = total <= kSweepLocalEntries;
    dgScratchArray<dgChildHeap::Entry> bigStart(local ? 0 : total);
    dgScratchArray<dgChildHeap::Entry> bigOpen(local ? 0 : total);
    if (!local && (!bigStart.getData() || !bigOpen.getData())) {
        return;
    }
    dgChildHeap starts(local ? localStart : bigStart.getData(), local ? kSweepLocalEntries : total);
    dgChildHeap open(local ? localOpen : bigOpen.getData(), local ? kSweepLocalEntries : total);

    // Only convex children make contacts.
    for (int32_t i = 0; i < countA; ++i) {
        if (isConvex(world, compoundA->getChild(i))) {
            starts.push(uint32_t(i), compoundA->getChildBoxMin(i)[axis]);
        }
    }
    for (int32_t i = 0; i < countB; ++i) {
        if (isConvex(world, compoundB->getChild(i))) {
            starts.push(uint32_t(i) | kSecondCompound, compoundB->getChildBoxMin(i)[axis]);
        }
    }

    while (!starts.isEmpty()) {
        const uint32_t child = starts.getTopValue();
        const float start = starts.getTopKey();
        starts.pop();
        while (!open.isEmpty() && (open.getTopKey() < start)) {
            open.pop();
        }
        const bool childOfB = (child & kSecondCompound) != 0;
        const int32_t index = int32_t(child & ~kSecondCompound);
        for (int32_t j = 0; j < open.getCount(); ++j) {
            const uint32_t other = open[j].value;
            if (((other & kSecondCompound) != 0) == childOfB) {
                continue;
            }
            const int32_t indexA = childOfB ? int32_t(other) : index;
            const int32_t indexB = childOfB ? index : int32_t(other & ~kSecondCompound);
            placedA.place(indexA);
            placedB.place(indexB);
            if (dgBoxOverlap(compoundA->getChildBoxMin(indexA), compoundA->getChildBoxMax(indexA),
                             compoundB->getChildBoxMin(indexB), compoundB->getChildBoxMax(indexB)) &&
                childPairAllowed(material, a, b)) {
                addConvexContacts(world, a, b, pass);
            }
        }
        const dgCompoundCollision* owner = childOfB ? compoundB : compoundA;
        open.push(child, owner->getChildBoxMax(index)[axis]);
    }
}

}  // namespace

void dgWorldCollideBodyPair(dgWorld* world, dgBody* a, dgBody* b) {
    DG_ASSERT(world);
    if (!a || !b || (a == b) || !a->m_collision || !b->m_collision) {
        return;
    }
    const bool aStatic = a->m_invMass.w == 0.0f;
    if (excludedByJoints(world, a, b, aStatic)) {
        return;
    }
    dgMaterialPair* material = dgWorldGetMaterialPair(world, a->m_materialGroupId, b->m_materialGroupId);
    if (!material || !(material->m_flags & dgMaterialFlagCollidable)) {
        return;
    }
    if (material->m_begin && !material->m_begin(material, a, b)) {
        return;
    }

    // The pair decides whether its bodies may use their continuous paths.
    const uint32_t continuousA = a->m_flags & dgBodyFlagContinuous;
    const uint32_t continuousB = b->m_flags & dgBodyFlagContinuous;
    if (!(material->m_flags & dgMaterialFlagContinuous)) {
        a->m_flags &= ~uint32_t(dgBodyFlagContinuous);
        b->m_flags &= ~uint32_t(dgBodyFlagContinuous);
    }

    if (isCompound(world, a->m_collision)) {
        dgWorldContactsCompound(world, a, b, material);
    } else if (isCompound(world, b->m_collision)) {
        dgWorldContactsCompound(world, b, a, material);
    } else if (isConvex(world, a->m_collision)) {
        dgWorldContactsConvex(world, a, b, material);
    } else if (isConvex(world, b->m_collision)) {
        dgWorldContactsConvex(world, b, a, material);
    }

    if (material->m_end) {
        material->m_end(material);
    }
    a->m_flags = (a->m_flags & ~uint32_t(dgBodyFlagContinuous)) | continuousA;
    b->m_flags = (b->m_flags & ~uint32_t(dgBodyFlagContinuous)) | continuousB;
}

void dgWorldContactsConvex(dgWorld* world, dgBody* convexBody, dgBody* other, dgMaterialPair* material) {
    DG_ASSERT(world && convexBody && other && (convexBody != other) && material);
    dgContact* joint = nullptr;
    const int32_t kept = dgWorldReuseContacts(convexBody, other, &joint);
    if (kept > 0) {
        dgWorldRefreshContacts(world, joint, material, kept);
        return;
    }
    dgWorldPrefetchContacts(joint);

    dgPassContacts pass;
    float time = world->m_timeStep;
    if (isConvex(world, other->m_collision)) {
        pass.count = dgConvexContacts(time, convexBody, other, pass.records, kPassContacts);
    } else {
        pass.count = dgConvexSoupContacts(world, time, convexBody, other, pass.records, kPassContacts);
    }
    if (pass.count > 0) {
        pass.count = dgWorldFilterContacts(pass.count, pass.records, kJointContacts);
        dgWorldProcessContacts(world, joint, convexBody, other, material, pass.count, pass.records);
    }
}

void dgWorldContactsCompound(dgWorld* world, dgBody* compoundBody, dgBody* other, dgMaterialPair* material) {
    DG_ASSERT(world && compoundBody && other && (compoundBody != other) && material);
    DG_ASSERT(isCompound(world, compoundBody->m_collision));
    if (!isCompound(world, compoundBody->m_collision)) {
        return;
    }
    dgContact* joint = nullptr;
    const int32_t kept = dgWorldReuseContacts(compoundBody, other, &joint);
    if (kept > 0) {
        dgWorldRefreshContacts(world, joint, material, kept);
        registerVehicles(world, compoundBody, other);
        return;
    }

    dgPassContacts pass;
    {
        // Children stand in for their compounds until the end of this block.
        dgPlacedCompound placedA(compoundBody);
        const dgCompoundCollision* compound = placedA.getCompound();
        if (isCompound(world, other->m_collision)) {
            dgPlacedCompound placedB(other);
            sweepCompoundPair(world, compoundBody, other, placedA, placedB, material, pass);
        } else if (isConvex(world, other->m_collision)) {
            for (int32_t i = 0; i < compound->getChildCount(); ++i) {
                // A compound or soup child has no convex contacts to give.
                if (!isConvex(world, compound->getChild(i))) {
                    continue;
                }
                placedA.place(i);
                if (dgBoxOverlap(compound->getChildBoxMin(i), compound->getChildBoxMax(i), other->m_minAABB,
                                 other->m_maxAABB) &&
                    childPairAllowed(material, compoundBody, other)) {
                    addConvexContacts(world, compoundBody, other, pass);
                }
            }
        } else {
            for (int32_t i = 0; i < compound->getChildCount(); ++i) {
                // A child clear of the soup's box meets none of its faces
                // (a vehicle's chassis above the tires that carry it).
                if (!isConvex(world, compound->getChild(i)) ||
                    !dgBoxOverlap(compound->getChildBoxMin(i), compound->getChildBoxMax(i), other->m_minAABB,
                                  other->m_maxAABB)) {
                    continue;
                }
                placedA.place(i);
                addSoupContacts(world, compoundBody, other, pass);
            }
        }
    }

    if (pass.count > 0) {
        pass.count = dgWorldFilterContacts(pass.count, pass.records, kJointContacts);
        dgWorldProcessContacts(world, joint, compoundBody, other, material, pass.count, pass.records);
        if (pass.count > 0) {
            registerVehicles(world, compoundBody, other);
        }
    }
}
