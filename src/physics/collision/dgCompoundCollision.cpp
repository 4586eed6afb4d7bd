#include "dgCompoundCollision.h"

#include <cstring>

#include "dgAssert.h"
#include "dgCollisionConvexModifier.h"
#include "dgConvexCollision.h"
#include "dgDynamicsServices.h"
#include "dgMemory.h"
#include "dgWorkStack.h"
#include "dgVolumeIntegrals.h"

DG_IMPLEMENT_CLASS(dgCompoundCollision, dgCollision, "dgCompoundCollision");

namespace {

// Containers the reach test keeps on the stack before it takes a block.
constexpr int32_t kReachStackSlots = 64;

}  // namespace

bool dgCompoundCollision::reaches(const dgCollision* shape, const dgCollision* target, bool* complete) {
    DG_ASSERT(shape && target);
    *complete = true;
    // Depth-first over the shapes that hold other shapes. A container met
    // twice (one child shared by several compounds) is expanded once, so a
    // deep lattice of shared compounds costs its size, not its path count.
    // The walk itself never recurses: the nesting it checks may be deep.
    const dgCollision* pendingSlots[kReachStackSlots];
    const dgCollision* expandedSlots[kReachStackSlots];
    dgWorkStack<const dgCollision*> pending(pendingSlots, kReachStackSlots);
    dgWorkStack<const dgCollision*> expanded(expandedSlots, kReachStackSlots);
    if (!pending.push(shape)) {
        *complete = false;
        return false;
    }
    while (pending.getCount() > 0) {
        const dgCollision* current = pending.pop();
        if (current == target) {
            return true;
        }
        const dgCompoundCollision* compound = dgRefCast<dgCompoundCollision>(current);
        const dgCollisionConvexModifier* modifier = dgRefCast<dgCollisionConvexModifier>(current);
        if (!compound && !modifier) {
            continue;
        }
        bool seen = false;
        for (int32_t i = 0; (i < expanded.getCount()) && !seen; i++) {
            seen = (expanded[i] == current);
        }
        if (seen) {
            continue;
        }
        if (!expanded.push(current)) {
            *complete = false;
            return false;
        }
        if (modifier) {
            // Modifiers wrap convex shapes only, so none leads back to a
            // compound today; following them keeps the test whole should that
            // change.
            if (!pending.push(modifier->getWrapped())) {
                *complete = false;
                return false;
            }
            continue;
        }
        for (int32_t i = 0; i < compound->m_count; i++) {
            DG_ASSERT(compound->m_children[i]);
            if (!pending.push(compound->m_children[i])) {
                *complete = false;
                return false;
            }
        }
    }
    return false;
}

dgCompoundCollision::dgCompoundCollision(int32_t count, dgCollision* const* children, dgWorld* world)
    : dgCollision(0u, dgGetIdentityMatrix(), dgShapeCompound),
      m_count(0),
      m_capacity(0),
      m_boxes(nullptr),
      m_world(world),
      m_children(nullptr),
      m_matrices(nullptr) {
    if (!children || (count <= 0) || !reserve(count)) {
        return;
    }
    for (int32_t i = 0; i < count; i++) {
        dgCollision* child = children[i];
        if (child && (child != this)) {
            initSlot(m_count, child);
            child->addRef();
            m_count++;
        }
    }
}

dgCompoundCollision::~dgCompoundCollision() {
    for (int32_t i = 0; i < m_count; i++) {
        releaseChild(m_children[i]);
    }
    m_count = 0;
    dgFree(m_matrices);
    m_matrices = nullptr;
    m_boxes = nullptr;
    m_children = nullptr;
}

void dgCompoundCollision::releaseChild(dgCollision* child) const {
    DG_ASSERT(child);
    if (m_world) {
        // Through the world, so that a child held otherwise only by the
        // collision cache leaves the cache with this reference.
        dgWorldReleaseCollision(m_world, child);
    } else {
        child->release();
    }
}

bool dgCompoundCollision::reserve(int32_t newCapacity) {
    if (newCapacity <= m_capacity) {
        return true;
    }
    // dgMalloc refuses what its 32-bit hook cannot express; this only keeps
    // the product itself from overflowing.
    if (size_t(newCapacity) > (SIZE_MAX / kSlotBytes)) {
        return false;
    }
    void* block = dgMalloc(size_t(newCapacity) * kSlotBytes);
    if (!block) {
        return false;
    }
    dgMatrix* matrices = static_cast<dgMatrix*>(block);
    dgVector* boxes = reinterpret_cast<dgVector*>(matrices + newCapacity);
    dgCollision** children = reinterpret_cast<dgCollision**>(boxes + 2 * size_t(newCapacity));
    if (m_count > 0) {
        std::memcpy(static_cast<void*>(matrices), m_matrices, size_t(m_count) * sizeof(dgMatrix));
        std::memcpy(static_cast<void*>(boxes), m_boxes, 2 * size_t(m_count) * sizeof(dgVector));
        std::memcpy(static_cast<void*>(children), m_children, size_t(m_count) * sizeof(dgCollision*));
    }
    dgFree(m_matrices);
    m_matrices = matrices;
    m_boxes = boxes;
    m_children = children;
    m_capacity = newCapacity;
    return true;
}

void dgCompoundCollision::initSlot(int32_t index, dgCollision* child) {
    // The contact pipeline reads the slots as flat arrays; until the first
    // calcAABB they describe the compound standing at the origin rather than
    // whatever the block held.
    m_children[index] = child;
    m_matrices[index] = child->getOffsetMatrix();
    child->calcAABB(m_matrices[index], m_boxes[2 * index], m_boxes[2 * index + 1]);
}

bool dgCompoundCollision::addChild(dgCollision* child) {
    if (!child || (child == this)) {
        return false;
    }
    // A child that holds this compound, at any depth, would close a loop:
    // every walk over the children would recurse without end and the
    // references around the loop would keep each other alive. When the test
    // cannot finish (out of memory) the child is refused as well.
    bool complete = false;
    if (reaches(child, this, &complete) || !complete) {
        return false;
    }
    if (m_count >= m_capacity) {
        int32_t newCapacity = kFirstCapacity;
        if (m_capacity > 0) {
            if (m_capacity > INT32_MAX / 2) {
                return false;
            }
            newCapacity = m_capacity * 2;
        }
        if (!reserve(newCapacity)) {
            return false;
        }
    }
    initSlot(m_count, child);
    child->addRef();
    m_count++;
    return true;
}

bool dgCompoundCollision::removeChild(dgCollision* child) {
    for (int32_t i = 0; i < m_count; i++) {
        if (m_children[i] != child) {
            continue;
        }
        releaseChild(child);
        const int32_t last = m_count - 1;
        m_boxes[2 * i] = m_boxes[2 * last];
        m_boxes[2 * i + 1] = m_boxes[2 * last + 1];
        m_children[i] = m_children[last];
        m_matrices[i] = m_matrices[last];
        m_count = last;
        return true;
    }
    return false;
}

void dgCompoundCollision::setCollisionBBox(const dgVector&, const dgVector&) {}

void dgCompoundCollision::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    dgVector low(matrix.position);
    dgVector high(matrix.position);
    for (int32_t i = 0; i < m_count; i++) {
        const dgCollision* child = m_children[i];
        m_matrices[i] = child->getOffsetMatrix().multiply(matrix);
        dgVector& childMin = m_boxes[2 * i];
        dgVector& childMax = m_boxes[2 * i + 1];
        child->calcAABB(m_matrices[i], childMin, childMax);
        for (int32_t j = 0; j < 3; j++) {
            low[j] = (childMin[j] < low[j]) ? childMin[j] : low[j];
            high[j] = (childMax[j] > high[j]) ? childMax[j] : high[j];
        }
    }
    boxMin = low;
    boxMax = high;
}

int32_t dgCompoundCollision::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    DG_ASSERT(callback);
    dgBodyShapeLend owner(body);
    int32_t walked = 0;
    for (int32_t i = 0; i < m_count; i++) {
        owner.lend(m_children[i]);
        walked += m_children[i]->forEachPolygon(body, callback);
    }
    return walked;
}

float dgCompoundCollision::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                   dgCollisionRayPrefilter prefilter, const dgBody* body,
                                   void* userData) const {
    float best = kRayMiss;
    for (int32_t i = 0; i < m_count; i++) {
        if (prefilter && !prefilter(body, this, userData)) {
            continue;
        }
        const dgCollision* child = m_children[i];
        const dgMatrix& offset = child->getOffsetMatrix();
        const dgVector local0(offset.inverseTransformVector(p0));
        const dgVector local1(offset.inverseTransformVector(p1));
        dgContactPoint local;
        std::memset(static_cast<void*>(&local), 0, sizeof(local));
        const float t = child->rayCast(local0, local1, local, nullptr, nullptr, nullptr);
        // Only hits compete: a child answering some other value above 1 is a
        // miss, whatever it is below the current best.
        if ((t < best) && (t <= 1.0f)) {
            contact = local;
            contact.normal = offset.rotateVector(local.normal);
            best = t;
        }
    }
    return best;
}

float dgCompoundCollision::getVolume() const {
    float volume = 0.0f;
    for (int32_t i = 0; i < m_count; i++) {
        DG_ASSERT(m_children[i]);
        volume += m_children[i]->getVolume();
    }
    return volume;
}

void dgCompoundCollision::calcInertia(dgVector& inertia, dgVector& origin) const {
    // One accumulator over the compound's own face walk is the sum of the
    // children's integrals, each child's faces already in the compound's
    // space; nested compounds and modifiers integrate the same way. Taken
    // about a point of the first face, so a compound far from its frame's
    // origin keeps its precision.
    dgVolumeIntegrals integrals;
    integrals.addShapeFaces(*this);
    integrals.massProperties(inertia, origin);
}

dgVector dgCompoundCollision::calcSubmergedVolume(const dgMatrix& matrix,
                                                  dgCollisionFluidPlaneCallback callback,
                                                  void* context) const {
    // Children are placed from the matrix given rather than from the slots:
    // the slots may be older than the body's pose, or never refreshed.
    dgVector weighted(0.0f, 0.0f, 0.0f, 0.0f);
    float volume = 0.0f;
    for (int32_t i = 0; i < m_count; i++) {
        const dgCollision* child = m_children[i];
        const dgMatrix childMatrix(child->getOffsetMatrix().multiply(matrix));
        const dgVector part(child->calcSubmergedVolume(childMatrix, callback, context));
        weighted += part.scale(part.w);
        volume += part.w;
    }
    if (m_count == 0) {
        return weighted;
    }
    const float scale = 1.0f / (volume + 1.0e-6f);
    return dgVector(weighted.x * scale, weighted.y * scale, weighted.z * scale, volume);
}

uint32_t dgCompoundCollision::calcSignature() const {
    return 0u;
}
