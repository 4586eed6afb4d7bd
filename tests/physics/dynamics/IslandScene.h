// A world of box bodies made by hand (cleared bodies in the world's body and
// active trees, filed with the broad phase) and a step that does the broad
// phase's part itself: stamp + 1, gravity on the awake bodies, the contact
// pass on every overlapping pair, then one solver variant at 24-bit precision.
// Shared by the island solver's tests and benchmarks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dgBody.h"
#include "dgBodyPairContacts.h"
#include "dgBroadPhase.h"
#include "dgConstraint.h"
#include "dgFpuGuard.h"
#include "dgIslandSolver.h"
#include "dgJointRows.h"
#include "dgWorld.h"

namespace islandtest {

enum class Variant { Scalar, Simd };

inline const char* variantName(Variant variant) {
    return (variant == Variant::Simd) ? "Simd" : "Scalar";
}

inline void runSolver(dgWorld* world, Variant variant) {
    dgFpuGuard fpu(dgFpuPrecision24);
    if (variant == Variant::Simd) {
        dgSimdSolverUpdate(world);
    } else {
        dgScalarSolverUpdate(world);
    }
}

constexpr float kGravity = -9.8f;
constexpr float kStep = 1.0f / 60.0f;
// What a new body gets: 0.1045 stored x 0.02.
constexpr float kDamping = 0.00209f;

inline void applyGravity(dgBody* body) {
    body->m_force = dgVector(0.0f, kGravity * body->m_mass.w, 0.0f, 0.0f);
}

// A joint in test storage writing `rows` rows that tie the two bodies' x
// velocities (or none).
class RowJoint : public dgConstraint {
public:
    explicit RowJoint(int32_t rows = 0, uint16_t type = dgJointTypeDefault) : m_rows(rows), m_forces() {
        m_typeId = type;
        m_maxRows = uint16_t(rows > 6 ? rows : 6);
    }
    void setDestructorCallback(dgConstraintDestructorCallback) override {}
    void release() override {}
    bool isBilateral() const override { return true; }
    int32_t submitRows(dgJointRowBlock& block) override {
        const float j0[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        const float j1[6] = {-1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        for (int32_t r = 0; r < m_rows; ++r) {
            dgJointAddGeneralRow(this, r, block, j0, j1, &m_forces[r]);
        }
        return m_rows;
    }

private:
    int32_t m_rows;
    float m_forces[dgJointRowBlock::kMaxRows];
};

class Scene {
public:
    Scene() : m_world(dgWorldCreate(nullptr, nullptr)) {}
    ~Scene() {
        for (dgBody* body : m_bodies) {
            while (body->m_jointRing) {
                dgWorldDestroyConstraint(m_world, body->m_jointRing->m_joint);
            }
        }
        for (dgBody* body : m_bodies) {
            if (body->m_activeNode) {
                m_world->m_activeBodyTree.remove(body->m_activeNode);
            }
            m_world->m_bodyTree.removeKey(dgBodyKey(body));
            --m_world->m_bodyCount;
            dgBroadPhaseRemoveBody(&m_world->m_broadPhase, body);
            dgReleaseCollision(m_world, body->m_collision);
        }
        dgWorldDestroy(m_world);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    dgWorld* world() const { return m_world; }
    const std::vector<dgBody*>& bodies() const { return m_bodies; }

    // A box of the given size at pose; mass 0 makes it immovable. Awake,
    // auto-freeze, default thresholds and damping, gravity as its force.
    dgBody* addBox(float dx, float dy, float dz, const dgMatrix& pose, float mass) {
        m_storage.emplace_back(new Slot());
        dgBody* body = dgBody::createCleared(m_storage.back().get());
        body->m_world = m_world;
        body->m_collision = dgCreateBox(m_world, dx, dy, dz, nullptr);
        body->m_flags =
            dgBodyFlagActive | dgBodyFlagAutoFreeze | dgBodyFlagEquilibrium | dgBodyFlagDirectLink;
        body->m_localCentreOfMass = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
        for (int32_t i = 0; i < 4; ++i) {
            body->m_freezeThresholds[i] = m_world->m_defaultFreezeThresholds[i];
        }
        body->m_linearDamping = kDamping;
        dgBodyStoreAngularDamping(body, dgVector(0.1045f, 0.1045f, 0.1045f, 0.0f));
        if (mass > 0.0f) {
            const float ixx = mass * (dy * dy + dz * dz) / 12.0f;
            const float iyy = mass * (dx * dx + dz * dz) / 12.0f;
            const float izz = mass * (dx * dx + dy * dy) / 12.0f;
            dgBodyStoreMassMatrix(body, mass, ixx, iyy, izz, ixx, iyy, izz);
            body->m_forceAndTorque = &applyGravity;
        } else {
            dgBodyStoreMassMatrix(body, 2.0e15f, 1.0e15f, 1.0e15f, 1.0e15f, 1.0e15f, 1.0e15f, 1.0e15f);
        }
        dgBodySetMatrixInternal(body, pose);
        body->m_serial = ++m_world->m_bodySerial;
        ++m_world->m_bodyCount;
        dgTreeNodeInsertByKey(&m_world->m_bodyTree, body, dgBodyKey(body), nullptr);
        body->m_activeNode =
            dgTreeNodeInsertByKey(&m_world->m_activeBodyTree, body, dgBodyKey(body), nullptr);
        dgBroadPhaseAddBody(&m_world->m_broadPhase, body);
        m_bodies.push_back(body);
        return body;
    }

    // Ties body0 and body1 with a test joint of `rows` rows.
    RowJoint* join(dgBody* body0, dgBody* body1, int32_t rows, uint16_t type = dgJointTypeDefault) {
        m_joints.emplace_back(new RowJoint(rows, type));
        dgWorldAttachConstraint(m_world, m_joints.back().get(), body0, body1);
        return m_joints.back().get();
    }

    // The broad phase's part of a step, then the solver.
    void step(Variant variant, float timestep = kStep, bool collide = true) {
        forcePass(timestep);
        if (collide) {
            contactPass();
        }
        runSolver(m_world, variant);
    }

    void forcePass(float timestep) {
        m_world->m_stepStamp += 1;
        m_world->m_timeStep = timestep;
        m_world->m_invTimeStep = 1.0f / timestep;
        for (dgBody* body : m_bodies) {
            if ((body->m_flags & dgBodyFlagActive) && (body->m_invMass.w != 0.0f)) {
                body->m_force = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
                body->m_torque = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
                if (body->m_forceAndTorque) {
                    body->m_forceAndTorque(body);
                }
            }
        }
    }

    // Every pair with an awake body whose boxes overlap.
    void contactPass() {
        const size_t count = m_bodies.size();
        for (size_t i = 0; i < count; ++i) {
            dgBody* a = m_bodies[i];
            for (size_t j = i + 1; j < count; ++j) {
                dgBody* b = m_bodies[j];
                if (!((a->m_flags | b->m_flags) & dgBodyFlagActive) || !overlap(a, b)) {
                    continue;
                }
                dgWorldCollideBodyPair(m_world, a, b);
            }
        }
    }

    static bool overlap(const dgBody* a, const dgBody* b) {
        for (int i = 0; i < 3; ++i) {
            if ((a->m_minAABB[i] > b->m_maxAABB[i]) || (b->m_minAABB[i] > a->m_maxAABB[i])) {
                return false;
            }
        }
        return true;
    }

private:
    struct alignas(16) Slot {
        unsigned char bytes[sizeof(dgBody)];
    };

    dgWorld* m_world;
    std::vector<std::unique_ptr<Slot>> m_storage;
    std::vector<dgBody*> m_bodies;
    std::vector<std::unique_ptr<RowJoint>> m_joints;
};

}  // namespace islandtest
