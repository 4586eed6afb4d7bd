// The broad phase: finds the pairs of bodies whose world boxes overlap and
// hands every pair that can interact to the contact pass
// (dgWorldCollideBodyPair); answers box and ray queries over all bodies.
//
// The world box is a square in the XZ plane (Y is up) divided by a quadtree
// of at most 9 levels below the root. A body is filed in the deepest cell
// whose square wholly contains its box; each cell keeps its bodies in three
// lists, one per axis, sorted by the box minimum on that axis, and pairs are
// found by sort-and-sweep along the cell's most spread-out axis, within a cell
// and between a cell and its ancestors. The world embeds one broad phase.
//
// Callbacks (force, activation, out-of-bounds, the contact pass's material
// callbacks, query callbacks) may move bodies: no walk here holds a list
// node or a tree iterator across one of them. Pairs are gathered first and
// handed to the contact pass once the cell walk is over.
#pragma once

#include <cstdint>

#include "dgPhysicsTypes.h"
#include "dgRefList.h"
#include "dgVector.h"
#include "dgWorkStack.h"

class dgBody;
class dgBroadPhaseCell;
class dgWorld;

// A body's world box, as the axis lists hold it.
struct dgBroadPhaseBox {
    float minimum[3];
    float maximum[3];
};

// One entry of an axis list: a body, its key (its box minimum on the axis
// when last keyed) and its whole box as of then. Every change of a filed
// body's box re-keys it, so the box here is the body's; the sweeps reject on
// it without reading the body, which most candidates in a crowd fail.
struct dgBroadPhaseAxisEntry {
    dgBody* body;
    float key;
    dgBroadPhaseBox box;
};

// One sorted axis list of a cell, with the sum and the sum of squares of its
// keys (kept incrementally, rebuilt every 10001 changes).
class dgBroadPhaseAxisList {
public:
    typedef dgRefList<dgBroadPhaseAxisEntry>::Node Node;

    dgBroadPhaseAxisList() : m_sum(0.0), m_sumSquares(0.0) {}

    // Files body under its box minimum on axis, after any equal keys, and
    // returns its node.
    Node* insert(dgBody* body, int32_t axis);
    // Takes the body's new box and moves the entry to its place for the
    // box minimum on axis.
    void update(Node* node, const dgBroadPhaseBox& box, int32_t axis);
    void remove(Node* node);
    // Rebuilds both sums from the keys.
    void recompute();

    dgRefList<dgBroadPhaseAxisEntry> m_list;
    double m_sum;
    double m_sumSquares;
};

// The counters are 32-bit: 16 bits would wrap past 32,767 bodies or changes.
class dgBroadPhaseCell {
public:
    dgBroadPhaseCell();

    float m_corner[3];
    // Side of the cell's square in X and Z.
    float m_size;
    // 0 for the root.
    uint16_t m_level;
    // Bodies filed in this cell itself.
    int32_t m_bodyCount;
    // Non-null children.
    int32_t m_childCount;
    // 0, 1 or 2; 65535 until first chosen.
    uint16_t m_sortAxis;
    // Insertions, removals and re-keyings since the sums were rebuilt.
    int32_t m_changeCount;
    uint32_t m_nullClassId;
    // Update stamp at which the incremental path last chose the sort axis.
    uint64_t m_axisStamp;
    dgBroadPhaseAxisList m_axisLists[3];
    dgWorld* m_world;
    dgBroadPhaseCell* m_parent;
    // Quadrants: bit 0 the upper half in X, bit 1 the upper half in Z.
    dgBroadPhaseCell* m_children[4];
};

// The recycled cells, and the world that new cells copy.
class dgBroadPhaseCellPool : public dgRefList<dgBroadPhaseCell*> {
public:
    dgBroadPhaseCellPool() : m_world(nullptr) {}

    dgWorld* m_world;
};

// A pair found by the cell walk, waiting for the contact pass.
struct dgBroadPhasePair {
    dgBody* body0;
    dgBody* body1;
};

class dgBroadPhase {
public:
    // World box (-1000, -1000, -1000)..(1000, 1000, 1000), root size 1000,
    // unbound, stamp 1, threshold 1.
    dgBroadPhase();
    // Deletes the recycled cells and empties the queue. Cells still in the
    // tree are not touched: every body must have been removed by then.
    ~dgBroadPhase();
    dgBroadPhase(const dgBroadPhase&) = delete;
    dgBroadPhase& operator=(const dgBroadPhase&) = delete;

    dgVector m_worldMin;
    dgVector m_worldMax;
    // Identity of "dgCollisionNull": bodies of that shape never pair.
    uint32_t m_nullClassId;
    float m_rootSize;
    float m_gridScale;
    float m_invGridScale;
    dgWorld* m_world;
    dgBroadPhaseCell* m_root;
    // Recycled cells; null only when it could not be allocated (cells are
    // then freed instead of recycled).
    dgBroadPhaseCellPool* m_cellPool;
    // Raised once per update.
    uint64_t m_stamp;
    // The incremental path runs while no more than this many bodies moved.
    int32_t m_queueThreshold;
    // Bodies whose box changed since the last update, first in first out.
    dgRefList<dgBody*> m_queue;
    // The update's pairs; its block is kept from update to update.
    dgWorkStack<dgBroadPhasePair> m_pairs;
};

// Binds the broad phase to its world (and copies the world's null class
// identity), then re-applies the current world size.
void dgBroadPhaseSetWorld(dgBroadPhase* broadPhase, dgWorld* world);
// Sets the world box and re-files every filed body of the world (a body the
// world is destroying has left the broad phase for good). A box with a
// zero, negative, denormal or non-finite extent on any axis, or an X or Z
// extent of 2^30 or more, is refused: the old size stays.
void dgBroadPhaseSetWorldSize(dgBroadPhase* broadPhase, const dgVector& minimum, const dgVector& maximum);
void dgBroadPhaseGetWorldSize(const dgBroadPhase* broadPhase, dgVector& minimum, dgVector& maximum);

// Files a body at the root (its first box refresh moves it down). Adding a
// filed body, or removing or moving an unfiled one, does nothing.
void dgBroadPhaseAddBody(dgBroadPhase* broadPhase, dgBody* body);
void dgBroadPhaseRemoveBody(dgBroadPhase* broadPhase, dgBody* body);
// Re-files a body after its box changed (called by dgBodyUpdateCollisionMatrix)
// and queues it for the next update. A body whose box left the world box is
// taken out of the awake set and handed to the out-of-bounds callback.
void dgBroadPhaseMoveBody(dgBroadPhase* broadPhase, dgBody* body);

// One step's pass: refreshes the awake bodies (force callback, box), then
// hands every pair that may interact to dgWorldCollideBodyPair, then the
// pending vehicle work.
void dgBroadPhaseUpdate(dgBroadPhase* broadPhase);

// Calls callback with every body whose box overlaps the box min..max. The
// bodies are gathered before the first call. A box with a non-finite bound
// finds nothing.
void dgBroadPhaseForEachBodyInBox(dgBroadPhase* broadPhase, const float* minimum, const float* maximum,
                                  dgBodyIteratorCallback callback);
// Visits the bodies along p0 -> p1 front to back; each hit below the current
// limit goes to filter, whose result becomes the new limit. A null filter or
// a non-finite end point does nothing.
void dgBroadPhaseRayCast(dgBroadPhase* broadPhase, const dgVector& p0, const dgVector& p1,
                         dgWorldRayFilterCallback filter, dgWorldRayPrefilterCallback prefilter, void* userData);

// Where a box sits in a cell, h being half the cell's side: 0-3 the quadrant
// (bit 0 upper half in X, bit 1 upper half in Z) that wholly holds it; 8 or
// more when it touches or crosses a midline or reaches outside the cell.
int32_t dgBroadPhaseCellQuadrant(float h, const dgBroadPhaseCell* cell, const dgVector& boxMin,
                                 const dgVector& boxMax);
// Parameter along p0 -> p1 at which the segment enters the cell's square in
// XZ: 0 when p0 is inside, 1.2 when the segment misses it.
float dgBroadPhaseCellRayEntry(const dgBroadPhaseCell* cell, const dgVector& p0, const dgVector& p1);
