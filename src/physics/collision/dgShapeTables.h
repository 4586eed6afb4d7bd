// What every analytic convex primitive (box, sphere, cone, capsule, cylinder,
// chamfer cylinder) shares: its unit tables held once per class for the live
// shapes of that class, the tessellation angle step of its curved surface, and
// the building of an edge table from a list of faces.
//
// Shared tables. A primitive class keeps one static dgShapeTables<T> whose T
// holds the class's tables (edge records, unit vertices...) and knows how to
// build them. Each constructor calls acquire(): the first live shape of the
// class allocates and builds the tables, every shape counts itself. Each
// destructor calls release() after it has let go of the tables (set its
// array pointers to null): the last shape frees them, and the next shape
// after that builds them again with identical content. The tables live in
// one dgMalloc block, so the engine's allocation hooks see them come and go.
//
// Not synchronised: shapes are created and destroyed on the thread that runs
// the physics engine.
#pragma once

#include <cmath>
#include <cstdint>
#include <new>
#include <type_traits>

#include "dgConvexCollision.h"
#include "dgMemory.h"

// Tables is a trivially destructible type with a member
//     bool build();   // fills the tables; false when it could not
// run on a value-initialised instance.
template <class Tables>
class dgShapeTables {
    static_assert(std::is_trivially_destructible<Tables>::value,
                  "shared tables are freed without destruction");

public:
    constexpr dgShapeTables() : m_tables(nullptr), m_liveCount(0) {}
    dgShapeTables(const dgShapeTables&) = delete;
    dgShapeTables& operator=(const dgShapeTables&) = delete;

    // Counts one more live shape, building the tables first when it is the
    // only one. Returns the tables, or null when they could not be allocated
    // or built (the shape must then stay empty); the shape counts either way
    // and must call release() once.
    Tables* acquire() {
        if (m_liveCount == 0) {
            freeTables();
            void* block = dgMalloc(sizeof(Tables));
            if (block) {
                m_tables = new (block) Tables();
                if (!m_tables->build()) {
                    freeTables();
                }
            }
        }
        m_liveCount++;
        return m_tables;
    }

    // Counts one shape less; the last one frees the tables. Every pointer
    // into them must already be dropped.
    void release() {
        m_liveCount--;
        if (m_liveCount <= 0) {
            m_liveCount = 0;
            freeTables();
        }
    }

    // Number of live shapes of the class.
    int32_t getLiveCount() const { return m_liveCount; }
    // The current tables; null while no shape of the class lives.
    Tables* getTables() const { return m_tables; }

private:
    void freeTables() {
        dgFree(m_tables);
        m_tables = nullptr;
    }

    Tables* m_tables;
    int32_t m_liveCount;
};

// Tessellation step of a curved surface of radius r and the values derived
// from it, in the order the curved primitives keep them: step
// (dgCalcAngleStep(r), radians), its inverse, its cosine and its sine. Angles
// one step apart are reached by the angle-addition formulas with the cosine
// and sine, without further trigonometric calls.
//
// The support functions snap a direction's angles down to whole steps, so
// they only ever take the sine and cosine of k x step for integer k: a table
// of those, made with the same float expressions, gives the same values
// without the trigonometric calls. It is owned (one dgMalloc block of the
// object's own) and covers every k a snapped angle in [-pi, pi] can have.
struct dgAngleStep {
    float m_step;
    float m_invStep;
    float m_cos;
    float m_sin;

    dgAngleStep() : m_step(0.0f), m_invStep(0.0f), m_cos(1.0f), m_sin(0.0f), m_table(nullptr), m_tableHalf(0) {}
    explicit dgAngleStep(float radius);
    ~dgAngleStep();
    dgAngleStep(const dgAngleStep&) = delete;
    dgAngleStep& operator=(const dgAngleStep&) = delete;

    // The whole number of steps an angle (radians) is snapped down to.
    float snappedCell(float angle) const { return std::floor(angle * m_invStep); }
    // Sine and cosine of cell x step for a cell from snappedCell: from the
    // table, or (a cell outside it, NaN, or no table) computed, alike to the
    // bit either way.
    void cellSinCos(float cell, float& sine, float& cosine) const {
        if ((cell >= -float(m_tableHalf)) && (cell <= float(m_tableHalf)) && m_table) {
            const float* entry = m_table + 2 * (int32_t(cell) + m_tableHalf);
            sine = entry[0];
            cosine = entry[1];
            return;
        }
        const float angle = cell * m_step;
        sine = std::sin(angle);
        cosine = std::cos(angle);
    }

    // The four unit directions (w = 0) at the corners of the grid cell that
    // holds a direction: azimuth about x from +z toward +y (from direction's
    // y and z), elevation toward +x (asin of sinElevation), both snapped down
    // to the grid; the cell's other corners are one step up.
    void gridCell(const dgVector& direction, float sinElevation, dgVector* corners) const;

private:
    // Sine and cosine of k x step for k = -m_tableHalf .. m_tableHalf, in
    // pairs; null when the block could not be had.
    float* m_table;
    int32_t m_tableHalf;
};

// Edge table of a tube of `rings` rings of ringPoints vertices each (vertex
// ring * ringPoints + k), closed by a flat cap on the first and the last ring:
// the quads between consecutive rings, then the first ring's cap, then the
// last's. With reversed clear the faces are outward for rings advancing along
// +x with points turning from +y toward +z; reversed turns every face over
// (the outward order for points turning from +z toward +y).
// Returns the half-edge count as dgBuildShapeEdgeTable does.
int32_t dgBuildRingEdgeTable(int32_t rings, int32_t ringPoints, bool reversed, dgConvexEdge* table,
                             int32_t capacity);

// Builds the edge table of a closed polyhedron given as faces of vertex
// indices (outward, counter-clockwise seen from outside): faceCount faces,
// face i having faceIndexCount[i] indices taken in turn from indices. The
// faces go through a temporary half-edge mesh and the table is filled in the
// mesh's edge order (dgConvexCollision::fillEdgeTable). Returns the half-edge
// count, or 0 (table contents unspecified) when a face is refused, the
// polyhedron is not closed, or the table would exceed capacity.
int32_t dgBuildShapeEdgeTable(int32_t faceCount, const int32_t* faceIndexCount, const int32_t* indices,
                              dgConvexEdge* table, int32_t capacity);
