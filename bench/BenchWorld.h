// A world with bodies for the benchmarks of the world-level passes, while the
// world has no body creation of its own: bodies are filed as body creation
// will file them (cleared storage, the body and active trees, the broad
// phase, then the pose). Also the per-step timing every scene prints.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include <benchmark/benchmark.h>

#include "StepStats.h"
#include "TerrainMap.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgContact.h"
#include "dgMaterialPair.h"
#include "dgWorld.h"

namespace benchworld {

constexpr float kTimeStep = 1.0f / 60.0f;

// Owns a world and up to `capacity` bodies in one block, as a body page
// would hold them. The bodies leave the broad phase and the trees, and give
// back their shape references, before the world is destroyed.
class BenchWorld {
public:
    BenchWorld(size_t capacity, const dgVector& worldMin, const dgVector& worldMax)
        : m_world(dgWorldCreate(nullptr, nullptr)), m_storage(new Storage[capacity]), m_capacity(capacity) {
        m_world->m_timeStep = kTimeStep;
        m_world->m_invTimeStep = 1.0f / kTimeStep;
        dgBroadPhaseSetWorldSize(&m_world->m_broadPhase, worldMin, worldMax);
        m_bodies.reserve(capacity);
    }
    ~BenchWorld() {
        for (dgBody* body : m_bodies) {
            dgBroadPhaseRemoveBody(&m_world->m_broadPhase, body);
            m_world->m_bodyTree.removeKey(uintptr_t(body));
            if (body->m_activeNode) {
                m_world->m_activeBodyTree.remove(body->m_activeNode);
                body->m_activeNode = nullptr;
            }
            dgReleaseCollision(m_world, body->m_collision);
            body->~dgBody();
            m_world->m_bodyCount--;
        }
        dgWorldDestroy(m_world);
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    dgWorld* world() const { return m_world; }
    const std::vector<dgBody*>& bodies() const { return m_bodies; }

    // A body of the shape (the body takes a reference of its own) at pose.
    // mass 0 makes it static. A movable body gets the inertia of a solid box
    // the size of its shape's box: nothing before the solver reads more than
    // that it is movable. An awake body is active and in the active tree; a
    // resting one is neither, as a frozen body.
    dgBody* add(dgCollision* shape, float mass, const dgMatrix& pose, uint32_t group, bool awake) {
        if (m_bodies.size() >= m_capacity) {
            return nullptr;
        }
        dgBody* body = dgBody::createCleared(&m_storage[m_bodies.size()]);
        body->m_world = m_world;
        shape->addRef();
        body->m_collision = shape;
        body->m_materialGroupId = group;
        body->m_serial = ++m_world->m_bodySerial;
        m_world->m_bodyCount++;
        body->m_flags = dgBodyFlagAutoFreeze;
        // The identity pose first, while the body is unfiled, to size the
        // shape's box for the inertia: a filed body placed outside the world
        // box would be deactivated for good.
        dgBodySetMatrixInternal(body, dgGetIdentityMatrix());
        if (mass > 0.0f) {
            const dgVector size(body->m_maxAABB.sub(body->m_minAABB));
            const float k = mass / 12.0f;
            const dgVector inertia(k * (size.y * size.y + size.z * size.z), k * (size.x * size.x + size.z * size.z),
                                   k * (size.x * size.x + size.y * size.y), mass);
            body->m_mass = inertia;
            body->m_requestedMass = inertia;
            body->m_invMass = dgVector(1.0f / inertia.x, 1.0f / inertia.y, 1.0f / inertia.z, 1.0f / mass);
        } else {
            const float immovable = 1.0e15f;
            body->m_requestedMass = dgVector(immovable, immovable, immovable, immovable);
        }
        dgTreeNodeInsertByKey(&m_world->m_bodyTree, body, uintptr_t(body), nullptr);
        if (awake) {
            body->m_flags |= dgBodyFlagActive;
            body->m_activeNode = dgTreeNodeInsertByKey(&m_world->m_activeBodyTree, body, uintptr_t(body), nullptr);
        }
        dgBroadPhaseAddBody(&m_world->m_broadPhase, body);
        dgBodySetMatrixInternal(body, pose);
        m_bodies.push_back(body);
        return body;
    }

private:
    struct alignas(dgBody) Storage {
        unsigned char bytes[sizeof(dgBody)];
    };

    dgWorld* m_world;
    std::unique_ptr<Storage[]> m_storage;
    size_t m_capacity;
    std::vector<dgBody*> m_bodies;
};

// One step as the world's step will run it before the solver exists: the
// script has moved its bodies (set-matrix path), then the broad phase
// refreshes the awake bodies and hands the pairs to the contact pass.
inline void step(dgWorld* world) {
    dgBroadPhaseUpdate(&world->m_broadPhase);
}

// The surface values every pair of a scene starts with.
inline void setDefaultMaterial(dgWorld* world, float restitution, float friction) {
    const uint32_t group = world->m_defaultMaterialGroup;
    dgMaterialPair* pair = dgWorldGetMaterialPair(world, group, group);
    pair->m_elasticity = restitution;
    pair->m_staticFriction0 = friction;
    pair->m_staticFriction1 = friction;
    pair->m_kineticFriction0 = friction;
    pair->m_kineticFriction1 = friction;
}

// Contact joints holding points, and the points they hold.
struct ContactCount {
    int32_t joints = 0;
    int32_t points = 0;
};

inline ContactCount countContacts(dgWorld* world) {
    ContactCount count;
    for (dgContactList::Node* node = world->m_contactList.getFirst(); node; node = node->getNext()) {
        const int32_t points = node->getValue()->m_pointCount;
        if (points > 0) {
            count.joints++;
            count.points += points;
        }
    }
    return count;
}

using benchterrain::gridHeight;

// Per-step wall times of one run of a scene.
class StepTimer {
public:
    using Clock = std::chrono::steady_clock;

    explicit StepTimer(size_t steps) { m_ms.reserve(steps); }
    void start() { m_start = Clock::now(); }
    void stop() { m_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - m_start).count()); }
    const std::vector<double>& times() const { return m_ms; }

private:
    Clock::time_point m_start;
    std::vector<double> m_ms;
};

// Counters in milliseconds; the benchmark's own time is the mean step
// (manual time).
inline void reportStepStats(const StepStats& stats, benchmark::State& state) {
    state.SetIterationTime(stats.mean * 1.0e-3);
    state.counters["mean_ms"] = stats.mean;
    state.counters["p50_ms"] = stats.p50;
    state.counters["p95_ms"] = stats.p95;
    state.counters["max_ms"] = stats.max;
}

// Runs of each scene: every figure printed is the minimum over them.
constexpr int32_t kRuns = 3;

}  // namespace benchworld
