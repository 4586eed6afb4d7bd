#include "dgBroadPhase.h"

#include <cfloat>
#include <cmath>
#include <new>

#include "dgAssert.h"
#include "dgBodyPairContacts.h"
#include "dgCollision.h"
#include "dgDynamicsServices.h"
#include "dgHeap.h"
#include "dgIntersections.h"
#include "dgMemory.h"

namespace {

// Levels below the root; also bounds every walk up the tree.
constexpr int32_t kMaxLevels = 9;
// Depth-first walks hold at most 3 cells per level plus 4 children.
constexpr int32_t kWalkStackCells = 32;
// Cells a ray usually enters; longer rays through busy worlds grow the heap.
constexpr int32_t kRayHeapCells = 520;
// Bodies gathered from one cell (or one box query) before anything is called.
constexpr int32_t kGatherBodies = 64;
// Change count past which a cell rebuilds its key sums.
constexpr int32_t kMaxChangesBeforeRebuild = 10000;
constexpr uint16_t kAxisUnset = 65535;
constexpr float kRayStartLimit = 1.1f;
constexpr float kRayMiss = 1.2f;
// Vertical reach of a cell's box in the box query: the tree does not divide Y.
constexpr float kCellHalfHeight = 1e10f;
// Extents from here up would shift the grid scale into the sign bit.
constexpr float kMaxWorldExtent = 1073741824.0f;

typedef dgBroadPhaseAxisList::Node AxisNode;
typedef dgHeapEntry<dgBroadPhaseCell*, float> RayCell;

float keyOf(const dgBody* body, int32_t axis) {
    return body->m_minAABB[axis];
}

dgBroadPhaseBox boxOf(const dgBody* body) {
    return dgBroadPhaseBox{{body->m_minAABB.x, body->m_minAABB.y, body->m_minAABB.z},
                           {body->m_maxAABB.x, body->m_maxAABB.y, body->m_maxAABB.z}};
}

bool isFiniteVector(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

// ---- axis lists ----

dgBroadPhaseAxisList::Node* dgBroadPhaseAxisList::insert(dgBody* body, int32_t axis) {
    const float key = keyOf(body, axis);
    Node* const node = m_list.append(dgBroadPhaseAxisEntry{body, key, boxOf(body)});
    DG_ASSERT(node);
    if (!node) {
        return nullptr;
    }
    Node* where = node->getPrev();
    while (where && (key < where->getValue().key)) {
        where = where->getPrev();
    }
    m_list.moveAfter(node, where);
    m_sum += double(key);
    m_sumSquares += double(key) * double(key);
    return node;
}

void dgBroadPhaseAxisList::update(Node* node, const dgBroadPhaseBox& box, int32_t axis) {
    node->getValue().box = box;
    const float key = box.minimum[axis];
    const double oldKey = double(node->getValue().key);
    m_sum += double(key) - oldKey;
    m_sumSquares += double(key) * double(key) - oldKey * oldKey;
    node->getValue().key = key;

    Node* next = node->getNext();
    if (next && (next->getValue().key < key)) {
        Node* last = next;
        for (next = next->getNext(); next && (next->getValue().key < key); next = next->getNext()) {
            last = next;
        }
        m_list.moveAfter(node, last);
        return;
    }
    Node* prev = node->getPrev();
    if (prev && (key < prev->getValue().key)) {
        do {
            prev = prev->getPrev();
        } while (prev && (key < prev->getValue().key));
        m_list.moveAfter(node, prev);
    }
}

void dgBroadPhaseAxisList::remove(Node* node) {
    const double key = double(node->getValue().key);
    m_sum -= key;
    m_sumSquares -= key * key;
    m_list.remove(node);
}

void dgBroadPhaseAxisList::recompute() {
    double sum = 0.0;
    double sumSquares = 0.0;
    for (Node* node = m_list.getFirst(); node; node = node->getNext()) {
        const double key = double(node->getValue().key);
        sum += key;
        sumSquares += key * key;
    }
    m_sum = sum;
    m_sumSquares = sumSquares;
}

// ---- cells ----

dgBroadPhaseCell::dgBroadPhaseCell()
    : m_corner{0.0f, 0.0f, 0.0f},
      m_size(0.0f),
      m_level(0),
      m_bodyCount(0),
      m_childCount(0),
      m_sortAxis(kAxisUnset),
      m_changeCount(0),
      m_nullClassId(0),
      m_axisStamp(0),
      m_axisLists(),
      m_world(nullptr),
      m_parent(nullptr),
      m_children{nullptr, nullptr, nullptr, nullptr} {}

namespace {

dgBroadPhaseCell* newCell() {
    void* memory = dgMalloc(sizeof(dgBroadPhaseCell));
    return memory ? ::new (memory) dgBroadPhaseCell() : nullptr;
}

void deleteCell(dgBroadPhaseCell* cell) {
    cell->~dgBroadPhaseCell();
    dgFree(cell);
}

// A recycled cell when there is one, else a new one; counters cleared, links
// set from the arguments. Corner and size are the caller's.
dgBroadPhaseCell* dgBroadPhaseAllocCell(dgBroadPhase* broadPhase, uint16_t level, dgBroadPhaseCell* parent,
                                        uint32_t nullClassId) {
    dgBroadPhaseCell* cell = nullptr;
    dgBroadPhaseCellPool* pool = broadPhase->m_cellPool;
    if (pool && pool->getFirst()) {
        cell = pool->getFirst()->getValue();
        pool->remove(pool->getFirst());
    } else {
        cell = newCell();
    }
    DG_ASSERT(cell);
    if (!cell) {
        return nullptr;
    }
    DG_ASSERT(!cell->m_axisLists[0].m_list.getFirst());
    cell->m_bodyCount = 0;
    cell->m_childCount = 0;
    cell->m_changeCount = 0;
    cell->m_axisStamp = 0;
    cell->m_sortAxis = kAxisUnset;
    for (dgBroadPhaseCell*& child : cell->m_children) {
        child = nullptr;
    }
    cell->m_level = level;
    cell->m_parent = parent;
    cell->m_world = pool ? pool->m_world : broadPhase->m_world;
    cell->m_nullClassId = nullClassId;
    return cell;
}

void recycleCell(dgBroadPhase* broadPhase, dgBroadPhaseCell* cell) {
    if (!broadPhase->m_cellPool || !broadPhase->m_cellPool->append(cell)) {
        deleteCell(cell);
    }
}

void insertInCell(dgBroadPhaseCell* cell, dgBody* body) {
    cell->m_bodyCount++;
    cell->m_changeCount++;
    for (int32_t axis = 0; axis < 3; axis++) {
        body->m_axisListNodes[axis] = cell->m_axisLists[axis].insert(body, axis);
    }
    body->m_broadPhaseCell = cell;
}

// Sort axis: the axis along which the box minima spread most (the sums give
// n^2 times their variance). Every 10001 changes the sums are rebuilt so that
// their drift stays bounded.
void dgBroadPhaseCellChooseAxis(dgBroadPhaseCell* cell) {
    if (cell->m_changeCount > kMaxChangesBeforeRebuild) {
        cell->m_changeCount = 0;
        for (dgBroadPhaseAxisList& list : cell->m_axisLists) {
            list.recompute();
        }
    }
    const float n = float(cell->m_bodyCount);
    float spread[3];
    for (int32_t axis = 0; axis < 3; axis++) {
        const float sum = float(cell->m_axisLists[axis].m_sum);
        const float sumSquares = float(cell->m_axisLists[axis].m_sumSquares);
        spread[axis] = n * sumSquares - sum * sum;
    }
    if ((spread[0] >= spread[1]) && (spread[0] >= spread[2])) {
        cell->m_sortAxis = 0;
    } else if ((spread[2] >= spread[0]) && (spread[2] >= spread[1])) {
        cell->m_sortAxis = 2;
    } else {
        cell->m_sortAxis = 1;
    }
}

bool moves(const dgBody* body) {
    return (body->m_flags & dgBodyFlagActive) && (body->m_invMass.w > 0.0f);
}

// The pair test past the boxes: one of the two is awake and movable, and
// neither has the null shape.
bool mayPairBodies(const dgBroadPhase* broadPhase, const dgBody* a, const dgBody* b) {
    if (!moves(a) && !moves(b)) {
        return false;
    }
    const uint32_t nullClassId = broadPhase->m_nullClassId;
    return a->m_collision && b->m_collision && !a->m_collision->isClass(nullClassId) &&
           !b->m_collision->isClass(nullClassId);
}

// Pair test up to (not including) the contact pass: the boxes overlap and
// the bodies may pair.
bool mayPair(const dgBroadPhase* broadPhase, const dgBody* a, const dgBody* b) {
    return dgBoxOverlap(a->m_minAABB, a->m_maxAABB, b->m_minAABB, b->m_maxAABB) &&
           mayPairBodies(broadPhase, a, b);
}

bool boxesOverlap(const dgBroadPhaseBox& p, const dgBroadPhaseBox& q) {
    return dgBoxOverlap(p.minimum, p.maximum, q.minimum, q.maximum);
}

// Pairs of the entry's body with the entries from `from` on while their key
// is below the body's box maximum on the axis. The bodies are read only once
// the boxes overlap.
void dgBroadPhaseSweepBody(dgBroadPhase* broadPhase, const dgBroadPhaseAxisEntry& entry, AxisNode* from,
                           int32_t axis) {
    const float limit = entry.box.maximum[axis];
    for (AxisNode* node = from; node && (node->getValue().key < limit); node = node->getNext()) {
        const dgBroadPhaseAxisEntry& other = node->getValue();
        if (boxesOverlap(entry.box, other.box) && mayPairBodies(broadPhase, entry.body, other.body)) {
            broadPhase->m_pairs.push(dgBroadPhasePair{entry.body, other.body});
        }
    }
}

// Sort and sweep inside one cell.
void dgBroadPhaseCellSweep(dgBroadPhase* broadPhase, dgBroadPhaseCell* cell) {
    dgBroadPhaseCellChooseAxis(cell);
    const int32_t axis = cell->m_sortAxis;
    for (AxisNode* node = cell->m_axisLists[axis].m_list.getFirst(); node; node = node->getNext()) {
        dgBroadPhaseSweepBody(broadPhase, node->getValue(), node->getNext(), axis);
    }
}

// Sweep of a cell's bodies against an ancestor's, merging the two lists of
// the ancestor's sort axis: each body is swept over the other list from the
// first entry not before it, so each pair is met once.
void dgBroadPhaseCellCollideAncestor(dgBroadPhase* broadPhase, dgBroadPhaseCell* ancestor,
                                     dgBroadPhaseCell* cell) {
    DG_ASSERT(ancestor->m_sortAxis < 3);
    if (ancestor->m_sortAxis >= 3) {
        dgBroadPhaseCellChooseAxis(ancestor);
    }
    const int32_t axis = ancestor->m_sortAxis;
    AxisNode* i = ancestor->m_axisLists[axis].m_list.getFirst();
    AxisNode* j = cell->m_axisLists[axis].m_list.getFirst();
    // Most bodies reach no entry of the other list: the first entry is
    // tested before the sweep is entered.
    while (i && j) {
        const dgBroadPhaseAxisEntry& a = i->getValue();
        const dgBroadPhaseAxisEntry& b = j->getValue();
        if (a.key < b.key) {
            if (b.key < a.box.maximum[axis]) {
                dgBroadPhaseSweepBody(broadPhase, a, j, axis);
            }
            i = i->getNext();
        } else {
            if (a.key < b.box.maximum[axis]) {
                dgBroadPhaseSweepBody(broadPhase, b, i, axis);
            }
            j = j->getNext();
        }
    }
}

// One queued body against the bodies of one cell. Bodies already searched in
// this update (pair stamp equal to it) met this one from their side.
void dgBroadPhaseCellCollideBody(dgBroadPhase* broadPhase, dgBroadPhaseCell* cell, dgBody* body,
                                 const dgBroadPhaseBox& box, uint64_t stamp) {
    if (cell->m_axisStamp < stamp) {
        dgBroadPhaseCellChooseAxis(cell);
        cell->m_axisStamp = stamp;
    }
    const int32_t axis = cell->m_sortAxis;
    const float limit = box.maximum[axis];
    for (AxisNode* node = cell->m_axisLists[axis].m_list.getFirst(); node && (node->getValue().key < limit);
         node = node->getNext()) {
        const dgBroadPhaseAxisEntry& other = node->getValue();
        if (boxesOverlap(box, other.box) && (other.body != body) && (other.body->m_pairStamp != stamp) &&
            mayPairBodies(broadPhase, body, other.body)) {
            broadPhase->m_pairs.push(dgBroadPhasePair{body, other.body});
        }
    }
}

// The force pass: every awake movable body, and every movable body jointed
// to one, gets its force and torque cleared, its force callback and a new
// box. The seeds are gathered before any callback runs: a body leaving the
// world leaves the awake set, and the out-of-bounds callback may put it back.
void dgBroadPhaseRefreshBodies(dgBroadPhase* broadPhase) {
    dgWorld* const world = broadPhase->m_world;
    const uint64_t stamp = ++world->m_stepStamp;
    dgWorkStack<dgBody*> stack(static_cast<dgBody**>(world->m_solverWorkspace), dgWorld::kMinWorkspaceBodies);
    for (dgBodyTree::Node* node : world->m_activeBodyTree) {
        dgBody* const body = node->getPayload();
        if ((body->m_invMass.w != 0.0f) && (body->m_refreshStamp < stamp)) {
            body->m_refreshStamp = stamp;
            stack.push(body);
        }
    }
    while (stack.getCount()) {
        dgBody* const body = stack.pop();
        body->m_force = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        body->m_torque = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        if (body->m_forceAndTorque) {
            body->m_forceAndTorque(body);
        }
        if (body->m_collision) {
            dgBodyUpdateCollisionMatrix(body, world->m_timeStep);
        }
        dgJointLink* const head = body->m_jointRing;
        if (!head) {
            continue;
        }
        dgJointLink* link = head;
        do {
            dgBody* const other = link->getOtherBody();
            if (other && (other->m_refreshStamp < stamp)) {
                if (other->m_invMass.w > 0.0f) {
                    stack.push(other);
                }
                other->m_refreshStamp = stamp;
            }
            link = link->m_next;
        } while (link && (link != head));
    }
}

// Pairs of the queued bodies only: each against the cells on its path to the
// root and the cells below its own.
void collectIncremental(dgBroadPhase* broadPhase) {
    const uint64_t stamp = broadPhase->m_stamp;
    dgBroadPhaseCell* storage[kWalkStackCells];
    dgWorkStack<dgBroadPhaseCell*> stack(storage, kWalkStackCells);
    while (dgBroadPhaseQueueNode* node = broadPhase->m_queue.getFirst()) {
        dgBody* const body = node->getValue();
        body->m_queueNode = nullptr;
        broadPhase->m_queue.remove(node);
        if (body->m_pairStamp >= stamp) {
            continue;
        }
        body->m_pairStamp = stamp;
        dgBroadPhaseCell* const cell = body->m_broadPhaseCell;
        DG_ASSERT(cell);
        if (!cell) {
            continue;
        }
        const dgBroadPhaseBox box = boxOf(body);
        for (dgBroadPhaseCell* ancestor = cell->m_parent; ancestor; ancestor = ancestor->m_parent) {
            if (ancestor->m_bodyCount) {
                dgBroadPhaseCellCollideBody(broadPhase, ancestor, body, box, stamp);
            }
        }
        stack.push(cell);
        while (stack.getCount()) {
            dgBroadPhaseCell* const current = stack.pop();
            if (current->m_bodyCount) {
                dgBroadPhaseCellCollideBody(broadPhase, current, body, box, stamp);
            }
            for (dgBroadPhaseCell* child : current->m_children) {
                if (child) {
                    stack.push(child);
                }
            }
        }
    }
}

// Every pair: each cell swept on its own, then against each ancestor.
void collectAll(dgBroadPhase* broadPhase) {
    dgBroadPhaseCell* storage[kWalkStackCells];
    dgWorkStack<dgBroadPhaseCell*> stack(storage, kWalkStackCells);
    if (broadPhase->m_root) {
        stack.push(broadPhase->m_root);
    }
    while (stack.getCount()) {
        dgBroadPhaseCell* const cell = stack.pop();
        if (cell->m_bodyCount) {
            dgBroadPhaseCellSweep(broadPhase, cell);
            for (dgBroadPhaseCell* ancestor = cell->m_parent; ancestor; ancestor = ancestor->m_parent) {
                if (ancestor->m_bodyCount) {
                    dgBroadPhaseCellCollideAncestor(broadPhase, ancestor, cell);
                }
            }
        }
        for (dgBroadPhaseCell* child : cell->m_children) {
            if (child) {
                stack.push(child);
            }
        }
    }
    while (dgBroadPhaseQueueNode* node = broadPhase->m_queue.getFirst()) {
        node->getValue()->m_queueNode = nullptr;
        broadPhase->m_queue.remove(node);
    }
}

// Leaving the world: the body stays filed but is put to sleep; the
// out-of-bounds callback may bring it back inside, which wakes it again.
void leaveWorld(dgBroadPhase* broadPhase, dgBody* body) {
    dgWorld* const world = broadPhase->m_world;
    const uint32_t kept = body->m_flags & (dgBodyFlagActive | dgBodyFlagAutoFreeze);
    if (body->m_activeNode) {
        world->m_activeBodyTree.remove(body->m_activeNode);
        body->m_activeNode = nullptr;
    }
    if ((kept & dgBodyFlagActive) && body->m_activation) {
        body->m_activation(body, 0);
    }
    body->m_flags &= ~uint32_t(dgBodyFlagActive | dgBodyFlagAutoFreeze);
    if (!world->m_outOfBounds) {
        return;
    }
    world->m_outOfBounds(body);
    if (dgBoxOverlap(body->m_minAABB, body->m_maxAABB, broadPhase->m_worldMin, broadPhase->m_worldMax)) {
        body->m_flags |= kept;
        if (!body->m_activeNode) {
            body->m_activeNode =
                dgTreeNodeInsertByKey(&world->m_activeBodyTree, body, dgBodyKey(body), nullptr);
        }
    }
}

// Bodies gathered from the tree before any callback runs.
class dgBodyGather {
public:
    dgBodyGather() : m_bodies(m_storage, kGatherBodies) {}
    dgWorkStack<dgBody*> m_bodies;

private:
    dgBody* m_storage[kGatherBodies];
};

}  // namespace

// ---- construction and world size ----

dgBroadPhase::dgBroadPhase()
    : m_worldMin(-1000.0f, -1000.0f, -1000.0f, 0.0f),
      m_worldMax(1000.0f, 1000.0f, 1000.0f, 0.0f),
      m_nullClassId(0),
      m_rootSize(1000.0f),
      m_gridScale(1.0f),
      m_invGridScale(1.0f),
      m_world(nullptr),
      m_root(nullptr),
      m_cellPool(nullptr),
      m_stamp(1),
      m_queueThreshold(1),
      m_queue(),
      m_pairs(nullptr, 0) {
    void* memory = dgMalloc(sizeof(dgBroadPhaseCellPool));
    m_cellPool = memory ? ::new (memory) dgBroadPhaseCellPool() : nullptr;
}

dgBroadPhase::~dgBroadPhase() {
    if (m_cellPool) {
        while (dgBroadPhaseCellPool::Node* node = m_cellPool->getFirst()) {
            deleteCell(node->getValue());
            m_cellPool->remove(node);
        }
        m_cellPool->~dgBroadPhaseCellPool();
        dgFree(m_cellPool);
        m_cellPool = nullptr;
    }
    m_queue.removeAll();
}

void dgBroadPhaseSetWorld(dgBroadPhase* broadPhase, dgWorld* world) {
    broadPhase->m_world = world;
    if (broadPhase->m_cellPool) {
        broadPhase->m_cellPool->m_world = world;
    }
    broadPhase->m_nullClassId = world->m_nullClassId;
    broadPhase->m_stamp = 1;
    broadPhase->m_queueThreshold = 1;
    const dgVector minimum = broadPhase->m_worldMin;
    const dgVector maximum = broadPhase->m_worldMax;
    dgBroadPhaseSetWorldSize(broadPhase, minimum, maximum);
}

void dgBroadPhaseSetWorldSize(dgBroadPhase* broadPhase, const dgVector& minimum, const dgVector& maximum) {
    // A degenerate extent would take the logarithm of 0 or shift by more
    // than the grid scale holds.
    if (!isFiniteVector(minimum) || !isFiniteVector(maximum)) {
        return;
    }
    // Every axis of the box as given must span a normal float. A denormal
    // span reads as 0 wherever the caller runs with denormals flushed, and
    // one below about 3.6e-43 halves nine times to a root of size 0.
    for (int32_t i = 0; i < 3; i++) {
        if (!(maximum[i] - minimum[i] >= FLT_MIN)) {
            return;
        }
    }
    dgVector snappedMin = minimum;
    for (int32_t i = 0; i < 3; i++) {
        snappedMin[i] = std::floor(minimum[i] * 512.0f) / 512.0f;
    }
    float extent = maximum.x - snappedMin.x;
    if ((maximum.z - snappedMin.z) > extent) {
        extent = maximum.z - snappedMin.z;
    }
    if (!isFiniteVector(snappedMin) || !(extent > 0.0f) || !(extent < kMaxWorldExtent)) {
        return;
    }

    broadPhase->m_stamp = 1;
    broadPhase->m_queueThreshold = 1;
    broadPhase->m_worldMin = snappedMin;
    broadPhase->m_worldMax = maximum;

    // The side of a level-9 cell rounded up to 1/512, scaled back: in exact
    // arithmetic the extent rounded up to a whole unit.
    const float levelSize = std::ldexp(extent, -kMaxLevels);
    const float rootSize = std::ceil(levelSize * 512.0f) / 512.0f * 512.0f;
    broadPhase->m_rootSize = rootSize;
    int32_t k = int32_t(std::log(double(rootSize)) / std::log(2.0) + 1.0);
    k = (k < 0) ? 0 : ((k > 30) ? 30 : k);
    broadPhase->m_gridScale = float(uint32_t(1) << k) * 8.0f;
    broadPhase->m_invGridScale = 1.0f / broadPhase->m_gridScale;

    for (int32_t i = 0; i < 3; i++) {
        broadPhase->m_worldMax[i] = broadPhase->m_worldMin[i] + rootSize;
    }
    // The tree does not divide Y: the Y range only bounds the world box.
    broadPhase->m_worldMin.y = minimum.y;
    broadPhase->m_worldMax.y = maximum.y;

    dgWorld* const world = broadPhase->m_world;
    if (!world) {
        return;
    }
    // Re-filing moves bodies, whose callbacks may run: the bodies are
    // gathered first. A body that is not filed is one the world is
    // destroying, past its removal: filing it again would leave it, and the
    // cells that hold it, behind once it is gone.
    dgBodyGather gather;
    for (dgBodyTree::Node* node : world->m_bodyTree) {
        if (node->getPayload()->m_broadPhaseCell) {
            gather.m_bodies.push(node->getPayload());
        }
    }
    const int32_t count = gather.m_bodies.getCount();
    for (int32_t i = 0; i < count; i++) {
        dgBroadPhaseRemoveBody(broadPhase, gather.m_bodies[i]);
    }
    for (int32_t i = 0; i < count; i++) {
        dgBody* const body = gather.m_bodies[i];
        dgBroadPhaseAddBody(broadPhase, body);
        if (body->m_collision) {
            const dgMatrix matrix = body->m_matrix;
            dgBodySetMatrixInternal(body, matrix);
        }
    }
}

void dgBroadPhaseGetWorldSize(const dgBroadPhase* broadPhase, dgVector& minimum, dgVector& maximum) {
    minimum = broadPhase->m_worldMin;
    maximum = broadPhase->m_worldMax;
}

// ---- filing ----

int32_t dgBroadPhaseCellQuadrant(float h, const dgBroadPhaseCell* cell, const dgVector& boxMin,
                                 const dgVector& boxMax) {
    const float x = cell->m_corner[0];
    const float z = cell->m_corner[2];
    const float midX = x + h;
    const float midZ = z + h;
    int32_t code = 0;
    if ((boxMin.x < x) || (x + 2.0f * h < boxMax.x)) {
        code += 8;
    }
    if ((boxMin.z < z) || (z + 2.0f * h < boxMax.z)) {
        code += 8;
    }
    // A box touching a midline counts as crossing it.
    code += (boxMin.x > midX) ? 1 : ((boxMax.x < midX) ? 0 : 8);
    code += (boxMin.z > midZ) ? 2 : ((boxMax.z < midZ) ? 0 : 8);
    return code;
}

void dgBroadPhaseAddBody(dgBroadPhase* broadPhase, dgBody* body) {
    DG_ASSERT(body);
    if (!body || body->m_broadPhaseCell) {
        return;
    }
    if (!broadPhase->m_root) {
        dgBroadPhaseCell* const root = dgBroadPhaseAllocCell(broadPhase, 0, nullptr, broadPhase->m_nullClassId);
        if (!root) {
            return;
        }
        root->m_corner[0] = broadPhase->m_worldMin.x;
        root->m_corner[1] = broadPhase->m_worldMin.y;
        root->m_corner[2] = broadPhase->m_worldMin.z;
        root->m_size = broadPhase->m_rootSize;
        broadPhase->m_root = root;
    }
    insertInCell(broadPhase->m_root, body);
}

void dgBroadPhaseRemoveBody(dgBroadPhase* broadPhase, dgBody* body) {
    DG_ASSERT(body);
    if (!body || !body->m_broadPhaseCell) {
        return;
    }
    if (body->m_queueNode) {
        broadPhase->m_queue.remove(body->m_queueNode);
        body->m_queueNode = nullptr;
    }
    dgBroadPhaseCell* cell = body->m_broadPhaseCell;
    cell->m_bodyCount--;
    cell->m_changeCount++;
    for (int32_t axis = 0; axis < 3; axis++) {
        cell->m_axisLists[axis].remove(body->m_axisListNodes[axis]);
        body->m_axisListNodes[axis] = nullptr;
    }
    body->m_broadPhaseCell = nullptr;

    // Cells left with neither bodies nor children go back to the pool, up to
    // and including the root.
    for (int32_t guard = 0; cell && !cell->m_bodyCount && !cell->m_childCount; guard++) {
        DG_ASSERT(guard <= kMaxLevels);
        dgBroadPhaseCell* const parent = cell->m_parent;
        if (cell == broadPhase->m_root) {
            broadPhase->m_root = nullptr;
        } else if (parent) {
            for (dgBroadPhaseCell*& child : parent->m_children) {
                if (child == cell) {
                    child = nullptr;
                    parent->m_childCount--;
                }
            }
        }
        recycleCell(broadPhase, cell);
        cell = parent;
    }
    body->m_pairStamp = 0;
}

void dgBroadPhaseMoveBody(dgBroadPhase* broadPhase, dgBody* body) {
    DG_ASSERT(body);
    if (!body || !body->m_broadPhaseCell) {
        return;
    }
    dgBroadPhaseCell* target = broadPhase->m_root;
    DG_ASSERT(target);
    if (!target) {
        return;
    }
    float h = broadPhase->m_rootSize * 0.5f;
    uint16_t level = 0;
    for (int32_t quadrant = dgBroadPhaseCellQuadrant(h, target, body->m_minAABB, body->m_maxAABB);
         (quadrant < 4) && (level < kMaxLevels);
         quadrant = dgBroadPhaseCellQuadrant(h, target, body->m_minAABB, body->m_maxAABB)) {
        level++;
        dgBroadPhaseCell* child = target->m_children[quadrant];
        if (!child) {
            child = dgBroadPhaseAllocCell(broadPhase, level, target, broadPhase->m_nullClassId);
            if (!child) {
                break;
            }
            child->m_corner[0] = target->m_corner[0] + float(quadrant & 1) * h;
            child->m_corner[1] = target->m_corner[1];
            child->m_corner[2] = target->m_corner[2] + float((quadrant >> 1) & 1) * h;
            child->m_size = h;
            target->m_children[quadrant] = child;
            target->m_childCount++;
        }
        target = child;
        h *= 0.5f;
    }

    if (target == body->m_broadPhaseCell) {
        target->m_changeCount++;
        const dgBroadPhaseBox box = boxOf(body);
        for (int32_t axis = 0; axis < 3; axis++) {
            target->m_axisLists[axis].update(body->m_axisListNodes[axis], box, axis);
        }
    } else {
        // The extra child keeps the pruning inside the removal off the target
        // and its ancestors.
        target->m_childCount++;
        dgBroadPhaseRemoveBody(broadPhase, body);
        target->m_childCount--;
        insertInCell(target, body);
    }

    if ((broadPhase->m_queue.getCount() < 2 * broadPhase->m_queueThreshold) && !body->m_queueNode) {
        body->m_queueNode = broadPhase->m_queue.append(body);
    }

    if (!dgBoxOverlap(body->m_minAABB, body->m_maxAABB, broadPhase->m_worldMin, broadPhase->m_worldMax)) {
        leaveWorld(broadPhase, body);
    }
}

// ---- the update ----

void dgBroadPhaseUpdate(dgBroadPhase* broadPhase) {
    dgWorld* const world = broadPhase->m_world;
    DG_ASSERT(world);
    if (!world) {
        return;
    }
    broadPhase->m_stamp++;
    dgBroadPhaseRefreshBodies(broadPhase);

    broadPhase->m_pairs.clear();
    if (broadPhase->m_queue.getCount() <= broadPhase->m_queueThreshold) {
        collectIncremental(broadPhase);
    } else {
        collectAll(broadPhase);
    }

    // The contact pass runs the material callbacks, which may move bodies:
    // the pair is tested again with the boxes as they are now.
    for (int32_t i = 0; i < broadPhase->m_pairs.getCount(); i++) {
        const dgBroadPhasePair pair = broadPhase->m_pairs[i];
        if (mayPair(broadPhase, pair.body0, pair.body1)) {
            dgWorldCollideBodyPair(world, pair.body0, pair.body1);
        }
    }
    broadPhase->m_pairs.clear();

    int32_t bits = 0;
    for (uint32_t count = uint32_t(world->m_bodyTree.getCount()); count; count >>= 1) {
        bits++;
    }
    broadPhase->m_queueThreshold = bits ? 2 * (1 + bits) : 2;

    dgVehicleUpdatePending(world);
}

// ---- queries ----

void dgBroadPhaseForEachBodyInBox(dgBroadPhase* broadPhase, const float* minimum, const float* maximum,
                                  dgBodyIteratorCallback callback) {
    if (!callback || !minimum || !maximum || !broadPhase->m_root) {
        return;
    }
    const dgVector boxMin(minimum[0], minimum[1], minimum[2], 0.0f);
    const dgVector boxMax(maximum[0], maximum[1], maximum[2], 0.0f);
    // The overlap test reads a NaN bound as overlapping everything.
    if (!isFiniteVector(boxMin) || !isFiniteVector(boxMax)) {
        return;
    }
    dgBodyGather gather;
    dgBroadPhaseCell* storage[kWalkStackCells];
    dgWorkStack<dgBroadPhaseCell*> stack(storage, kWalkStackCells);
    stack.push(broadPhase->m_root);
    while (stack.getCount()) {
        dgBroadPhaseCell* const cell = stack.pop();
        const dgVector cellMin(cell->m_corner[0], -kCellHalfHeight, cell->m_corner[2], 0.0f);
        const dgVector cellMax(cell->m_corner[0] + cell->m_size, kCellHalfHeight, cell->m_corner[2] + cell->m_size,
                               0.0f);
        if (!dgBoxOverlap(cellMin, cellMax, boxMin, boxMax)) {
            continue;
        }
        if (cell->m_bodyCount) {
            for (AxisNode* node = cell->m_axisLists[0].m_list.getFirst(); node; node = node->getNext()) {
                dgBody* const body = node->getValue().body;
                if (dgBoxOverlap(body->m_minAABB, body->m_maxAABB, boxMin, boxMax)) {
                    gather.m_bodies.push(body);
                }
            }
        }
        for (dgBroadPhaseCell* child : cell->m_children) {
            if (child) {
                stack.push(child);
            }
        }
    }
    for (int32_t i = 0; i < gather.m_bodies.getCount(); i++) {
        callback(gather.m_bodies[i]);
    }
}

float dgBroadPhaseCellRayEntry(const dgBroadPhaseCell* cell, const dgVector& p0, const dgVector& p1) {
    const float h = cell->m_size * 0.5f;
    const float centre[2] = {cell->m_corner[0] + h, cell->m_corner[2] + h};
    const float q0[2] = {p0.x - centre[0], p0.z - centre[1]};
    const float q1[2] = {p1.x - centre[0], p1.z - centre[1]};
    // Parameters of the clipped start and end along the given segment.
    float t0 = 0.0f;
    float t1 = 1.0f;
    for (int32_t i = 0; i < 2; i++) {
        const float d = q1[i] - q0[i];
        // Slabs x <= h then x >= -h (z likewise), as side * coordinate <= h.
        for (int32_t s = 0; s < 2; s++) {
            const float side = s ? -1.0f : 1.0f;
            const float start = side * (q0[i] + d * t0);
            const float end = side * (q0[i] + d * t1);
            if ((start > h) && (end > h)) {
                return kRayMiss;
            }
            if (start > h) {
                t0 = (side * h - q0[i]) / d;
            } else if (end > h) {
                t1 = (side * h - q0[i]) / d;
            }
        }
    }
    return t0;
}

namespace {

// The bodies of one cell list that the ray may reach along the axis, each
// cast in list order; returns the last limit.
float dgBroadPhaseCellRayCast(const dgBroadPhaseAxisList& list, int32_t axis, float limit, const dgVector& p0,
                              const dgVector& p1, dgWorldRayFilterCallback filter, void* userData,
                              dgWorldRayPrefilterCallback prefilter) {
    const float upper = (p0[axis] > p1[axis]) ? p0[axis] : p1[axis];
    // Gathered first: a filter may move bodies.
    dgBodyGather gather;
    for (AxisNode* node = list.m_list.getFirst(); node && (node->getValue().key < upper); node = node->getNext()) {
        gather.m_bodies.push(node->getValue().body);
    }
    for (int32_t i = 0; i < gather.m_bodies.getCount(); i++) {
        dgBody* const body = gather.m_bodies[i];
        if (body->m_collision) {
            limit = dgBodyRayCast(body, p0, p1, filter, userData, prefilter, limit);
        }
    }
    return limit;
}

}  // namespace

void dgBroadPhaseRayCast(dgBroadPhase* broadPhase, const dgVector& p0, const dgVector& p1,
                         dgWorldRayFilterCallback filter, dgWorldRayPrefilterCallback prefilter, void* userData) {
    if (!filter || !broadPhase->m_root || !isFiniteVector(p0) || !isFiniteVector(p1)) {
        return;
    }
    float limit = kRayStartLimit;
    const float dx = std::fabs(p1.x - p0.x);
    const float dy = std::fabs(p1.y - p0.y);
    const float dz = std::fabs(p1.z - p0.z);
    int32_t axis = 2;
    if ((dx <= dy) && (dx <= dz)) {
        axis = 0;
    } else if ((dx > dy) && (dy <= dz)) {
        axis = 1;
    }

    // Every cell the segment enters, gathered first and then ordered in
    // place as a min-heap of entry parameters: no fixed bound on their number.
    RayCell cellStorage[kRayHeapCells];
    dgWorkStack<RayCell> cells(cellStorage, kRayHeapCells);
    dgBroadPhaseCell* walkStorage[kWalkStackCells];
    dgWorkStack<dgBroadPhaseCell*> stack(walkStorage, kWalkStackCells);
    stack.push(broadPhase->m_root);
    while (stack.getCount()) {
        dgBroadPhaseCell* const cell = stack.pop();
        const float t = dgBroadPhaseCellRayEntry(cell, p0, p1);
        if (!(t < 1.0f)) {
            continue;
        }
        if (!cells.push(RayCell{t, cell})) {
            break;
        }
        for (dgBroadPhaseCell* child : cell->m_children) {
            if (child) {
                stack.push(child);
            }
        }
    }
    const int32_t count = cells.getCount();
    if (!count) {
        return;
    }
    // Entry i is copied out before the push, which writes only at or below
    // index i.
    dgMinHeap<dgBroadPhaseCell*, float> heap(&cells[0], count);
    for (int32_t i = 0; i < count; i++) {
        const RayCell entry = cells[i];
        heap.push(entry.value, entry.key);
    }
    // A filter may move bodies: a cell it empties goes to the pool, which
    // keeps it until the broad phase goes, so the heap's cells stay valid.
    while (!heap.isEmpty() && (heap.getTopKey() < limit)) {
        dgBroadPhaseCell* const cell = heap.getTopValue();
        heap.pop();
        limit = dgBroadPhaseCellRayCast(cell->m_axisLists[axis], axis, limit, p0, p1, filter, userData, prefilter);
    }
}
