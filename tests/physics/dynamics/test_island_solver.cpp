// The island solver's step: lone bodies against semi-implicit Euler with
// damping, the rest test's island scale, stale contacts, immovable bodies in
// the active tree, workspace growth, callbacks that freeze the next body, the
// reachable-joint walk, the flush-to-zero mode and the vehicle sub-steps.
// Resting on a floor and the two variants on stacks are in
// test_world_simulation.cpp.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "IslandScene.h"
#include "ShapeTestUtils.h"
#include "dgConstraintSolver.h"
#include "dgContact.h"

using namespace islandtest;

namespace {

const Variant kVariants[] = {Variant::Scalar, Variant::Simd};

std::string variantParamName(const ::testing::TestParamInfo<Variant>& info) {
    return variantName(info.param);
}

bool inActiveTree(dgWorld* world, dgBody* body) {
    return world->m_activeBodyTree.find(dgBodyKey(body)) != nullptr;
}

class IslandVariant : public ::testing::TestWithParam<Variant> {};

}  // namespace

// ---- lone bodies: free fall and damping against closed forms ----

namespace {

struct LoneCase {
    const char* name;
    bool gravity;
    float velocity;
    float spin;
    // The body axis it spins about.
    int32_t axis;
};

const LoneCase kLoneCases[] = {
    {"FreeFall", true, 0.0f, 0.0f, 0},
    {"ThrownUp", true, 7.0f, 0.0f, 0},
    {"DriftingAndSpinningAboutX", false, 3.0f, 2.0f, 0},
    {"DriftingAndSpinningAboutY", false, 3.0f, 2.0f, 1},
    {"DriftingAndSpinningAboutZ", false, 3.0f, -1.5f, 2},
};

// Angular damping per body axis, each its own so that one axis damped by
// another's coefficient, or in the world's frame, shows.
const float kSpinDamping[3] = {0.05f, 0.1045f, 0.2f};

class LoneBody : public ::testing::TestWithParam<std::tuple<Variant, LoneCase>> {};

}  // namespace

// Per step: v = v (1 - d) + g h, then y += v h; omega about a principal axis
// = omega (1 - d_w), d_w that axis's damping. Closed forms of those
// recurrences, in double. The body is turned so that its x, y, z axes lie
// along the world's y, z, x.
TEST_P(LoneBody, FollowsSemiImplicitEulerWithDamping) {
    const Variant variant = std::get<0>(GetParam());
    const LoneCase& c = std::get<1>(GetParam());
    Scene scene;
    const dgMatrix pose(dgVector(0, 1, 0, 0), dgVector(0, 0, 1, 0), dgVector(1, 0, 0, 0), dgVector(0, 10, 0, 1));
    dgBody* body = scene.addBox(1.0f, 1.0f, 1.0f, pose, 2.0f);
    if (!c.gravity) {
        body->m_forceAndTorque = nullptr;
    }
    dgBodyStoreAngularDamping(body, dgVector(kSpinDamping[0], kSpinDamping[1], kSpinDamping[2], 0.0f));
    body->m_veloc = dgVector(0.0f, c.velocity, 0.0f, 0.0f);
    const int32_t worldAxis = (c.axis + 1) % 3;
    float spinIn[3] = {0.0f, 0.0f, 0.0f};
    spinIn[worldAxis] = c.spin;
    body->m_omega = dgVector(spinIn[0], spinIn[1], spinIn[2], 0.0f);

    const int32_t steps = 90;
    for (int32_t i = 0; i < steps; ++i) {
        scene.step(variant, kStep, false);
    }

    const double q = 1.0 - double(kDamping);
    const double h = double(kStep);
    const double g = c.gravity ? double(kGravity) : 0.0;
    const double qn = std::pow(q, steps);
    // v_n = v0 q^n + g h (1 - q^n) / (1 - q); y_n = y0 + h sum v_k.
    const double v = double(c.velocity) * qn + g * h * (1.0 - qn) / (1.0 - q);
    const double sumQ = q * (1.0 - qn) / (1.0 - q);
    const double y = 10.0 + h * (double(c.velocity) * sumQ + g * h / (1.0 - q) * (steps - sumQ));
    const double spin = double(c.spin) * std::pow(1.0 - double(kSpinDamping[c.axis]) * 0.02, steps);

    EXPECT_NEAR(body->m_veloc.y, v, 1e-4 * (1.0 + std::fabs(v)));
    EXPECT_NEAR(body->m_matrix.position.y, y, 1e-4 * (1.0 + std::fabs(y)));
    const float spinOut[3] = {body->m_omega.x, body->m_omega.y, body->m_omega.z};
    for (int32_t a = 0; a < 3; ++a) {
        EXPECT_NEAR(spinOut[a], (a == worldAxis) ? spin : 0.0, 1e-4 * std::fabs(spin) + 1e-7) << "axis " << a;
    }
    EXPECT_EQ(body->m_veloc.x, 0.0f);
    // A lone body stays the root of its own island.
    EXPECT_TRUE(inActiveTree(scene.world(), body));
    EXPECT_EQ(body->m_islandStamp, scene.world()->m_stepStamp);
}

INSTANTIATE_TEST_SUITE_P(Island, LoneBody,
                         ::testing::Combine(::testing::ValuesIn(kVariants), ::testing::ValuesIn(kLoneCases)),
                         [](const ::testing::TestParamInfo<LoneBody::ParamType>& info) {
                             return std::string(variantName(std::get<0>(info.param))) +
                                    std::get<1>(info.param).name;
                         });

// ---- the rest test's island scale ----

namespace {

struct RestCase {
    const char* name;
    int32_t bodies;
    // s of the island (the reference value), and whether the speed or the
    // acceleration is put at factor x its bound.
    float scale;
    bool acceleration;
    float factor;
};

// s = min(1.1^(slots - 1), 5) x 0.2, sF = 12 s.
const RestCase kRestCases[] = {
    {"OneBodySpeedBelow", 1, 0.22f, false, 0.98f},
    {"OneBodySpeedAbove", 1, 0.22f, false, 1.02f},
    {"TenBodiesSpeedBelow", 10, 0.518748f, false, 0.98f},
    {"TenBodiesSpeedAbove", 10, 0.518748f, false, 1.02f},
    {"ThirtyBodiesSpeedBelow", 30, 1.0f, false, 0.98f},
    {"ThirtyBodiesSpeedAbove", 30, 1.0f, false, 1.02f},
    {"ThirtyBodiesAccelBelow", 30, 1.0f, true, 0.98f},
    {"ThirtyBodiesAccelAbove", 30, 1.0f, true, 1.02f},
    {"FortyBodiesSpeedBelow", 40, 1.0f, false, 0.98f},
    {"FortyBodiesSpeedAbove", 40, 1.0f, false, 1.02f},
};

class RestScale : public ::testing::TestWithParam<RestCase> {};

}  // namespace

TEST_P(RestScale, IslandsRestAtThresholdsScaledByTheirSize) {
    const RestCase& c = GetParam();
    Scene scene;
    std::vector<dgBody*> chain;
    for (int32_t i = 0; i < c.bodies; ++i) {
        dgBody* body =
            scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(2.0f * float(i), 0.0f, 0.0f), 1.0f);
        body->m_linearDamping = 0.0f;
        if (c.acceleration) {
            const float accel = std::sqrt(c.factor * 12.0f * c.scale * body->m_freezeThresholds[0]);
            body->m_forceAndTorque = [](dgBody* b) { b->m_force = b->m_netForce; };
            body->m_netForce = dgVector(accel, 0.0f, 0.0f, 0.0f);
        } else {
            body->m_forceAndTorque = nullptr;
            body->m_veloc =
                dgVector(std::sqrt(c.factor * c.scale * body->m_freezeThresholds[2]), 0.0f, 0.0f, 0.0f);
        }
        if (i > 0) {
            scene.join(chain.back(), body, 0);
        }
        chain.push_back(body);
    }
    scene.step(Variant::Scalar, kStep, false);

    const bool rest = c.factor < 1.0f;
    for (dgBody* body : chain) {
        EXPECT_EQ((body->m_flags & dgBodyFlagEquilibrium) != 0, rest);
        // A resting island freezes whole.
        EXPECT_EQ((body->m_flags & dgBodyFlagActive) != 0, !rest);
    }
    // The active tree walks bodies by creation serial: the first made is the
    // island's root.
    EXPECT_EQ(inActiveTree(scene.world(), chain.front()), !rest);
}

INSTANTIATE_TEST_SUITE_P(Island, RestScale, ::testing::ValuesIn(kRestCases),
                         [](const ::testing::TestParamInfo<RestCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- stale contacts ----

TEST_P(IslandVariant, StaleContactTakesNoPartIsDestroyedAndStillJoinsItsBodies) {
    Scene scene;
    dgWorld* world = scene.world();
    // Two boxes overlapping by 0.2: the contact pushes them apart.
    dgBody* a = scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(0.0f, 0.0f, 0.0f), 1.0f);
    dgBody* b = scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(0.0f, 0.8f, 0.0f), 1.0f);
    a->m_forceAndTorque = nullptr;
    b->m_forceAndTorque = nullptr;
    scene.step(GetParam());
    ASSERT_EQ(world->m_jointCount, 1u);
    ASSERT_GT(b->m_veloc.y, 0.0f);
    // a, made first, is the island's root and stays in the active tree.
    ASSERT_TRUE(inActiveTree(world, a));
    ASSERT_FALSE(inActiveTree(world, b));
    const dgVector va = a->m_veloc;
    const dgVector vb = b->m_veloc;

    // No contact pass: the joint was not refreshed in this step.
    scene.step(GetParam(), kStep, false);
    EXPECT_EQ(world->m_jointCount, 0u);
    EXPECT_EQ(world->m_contactList.getCount(), 0);
    EXPECT_EQ(world->m_staleContacts.getCount(), 0);
    EXPECT_EQ(a->m_jointRing, nullptr);
    // Both bodies were solved in this step, the one out of the active tree
    // only through the stale contact; no row acted on them.
    EXPECT_EQ(a->m_islandStamp, world->m_stepStamp);
    EXPECT_EQ(b->m_islandStamp, world->m_stepStamp);
    EXPECT_FLOAT_EQ(a->m_veloc.y, va.y * (1.0f - kDamping));
    EXPECT_FLOAT_EQ(b->m_veloc.y, vb.y * (1.0f - kDamping));
}

// ---- immovable bodies in the active tree ----

namespace {

struct ActivationLog {
    static std::vector<uint32_t>& states() {
        static std::vector<uint32_t> s;
        return s;
    }
    static void record(dgBody*, uint32_t state) { states().push_back(state); }
};

}  // namespace

TEST_P(IslandVariant, ImmovableBodyLeavesTheActiveTree) {
    for (const bool active : {true, false}) {
        Scene scene;
        dgBody* body = scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(0.0f, 0.0f, 0.0f), 0.0f);
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
        if (!active) {
            body->m_flags &= ~uint32_t(dgBodyFlagActive);
        }
        body->m_activation = &ActivationLog::record;
        ActivationLog::states().clear();
        const int32_t count = scene.world()->m_activeBodyTree.getCount();
        scene.step(GetParam());
        EXPECT_EQ(scene.world()->m_activeBodyTree.getCount(), count - 1);
        EXPECT_EQ(body->m_activeNode, nullptr);
        EXPECT_EQ(body->m_flags & dgBodyFlagActive, 0u);
        EXPECT_NE(body->m_flags & dgBodyFlagEquilibrium, 0u);
        EXPECT_EQ(ActivationLog::states(), active ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
    }
}

// ---- workspace capacity ----

namespace {

struct CapacityCase {
    const char* name;
    int32_t bodies;
    int32_t rowsPerJoint;
    // Allocations fail from the step on.
    bool noMemory;
};

const CapacityCase kCapacityCases[] = {
    {"SlotsGrow", 700, 1, false},
    {"RowsGrow", 450, 40, false},
    {"NoMemoryLeavesOutWhatDoesNotFit", 700, 40, true},
};

class IslandCapacity : public ::testing::TestWithParam<CapacityCase> {};

// Counts a body's integrations in its user data.
void countIntegration(dgBody* body, const float*) {
    body->m_userData = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(body->m_userData) + 1);
}

}  // namespace

TEST_P(IslandCapacity, IslandsBeyondTheWorkspaceGrowItOrLeaveTheRestOut) {
    const CapacityCase& c = GetParam();
    Scene scene;
    dgWorld* world = scene.world();
    world->m_solverIterationMode = 2;
    std::vector<dgBody*> chain;
    for (int32_t i = 0; i < c.bodies; ++i) {
        dgBody* body =
            scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(2.0f * float(i), 0.0f, 0.0f), 1.0f);
        body->m_veloc = dgVector(1.0f, 0.0f, 0.0f, 0.0f);
        body->m_transform = &countIntegration;
        if (i > 0) {
            scene.join(chain.back(), body, c.rowsPerJoint);
        }
        chain.push_back(body);
    }
    const dgConstraintSolver* solver = world->m_solver;
    const int32_t slots = solver->m_slotCapacity;
    const int32_t rows = solver->m_rowCapacity;
    {
        CountingHooks hooks;
        if (c.noMemory) {
            hooks.failAfter(0);
        }
        scene.step(Variant::Scalar, kStep, false);
    }
    // Every body solved exactly once: what one island could not hold became
    // islands of its own, cut where the workspace ran out.
    int32_t once = 0;
    for (dgBody* body : chain) {
        once += (reinterpret_cast<uintptr_t>(body->m_userData) == 1) ? 1 : 0;
    }
    EXPECT_EQ(once, c.bodies);
    if (c.noMemory) {
        EXPECT_EQ(solver->m_slotCapacity, slots);
        EXPECT_EQ(solver->m_rowCapacity, rows);
    } else {
        EXPECT_GE(solver->m_slotCapacity, c.bodies + 1);
        EXPECT_GE(solver->m_rowCapacity, (c.bodies - 1) * c.rowsPerJoint);
        // Grown once, kept.
        const int32_t grown = solver->m_slotCapacity;
        scene.step(Variant::Scalar, kStep, false);
        EXPECT_EQ(solver->m_slotCapacity, grown);
    }
}

INSTANTIATE_TEST_SUITE_P(Island, IslandCapacity, ::testing::ValuesIn(kCapacityCases),
                         [](const ::testing::TestParamInfo<CapacityCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- callbacks that freeze the body after the current one ----

namespace {

struct FreezeNext {
    static dgBody*& victim() {
        static dgBody* v = nullptr;
        return v;
    }
    static void freeze() {
        if (victim()) {
            dgWorldFreezeBody(victim()->m_world, victim());
            victim() = nullptr;
        }
    }
    static void onTransform(dgBody*, const float*) { freeze(); }
    static void onActivation(dgBody*, uint32_t state) {
        if (state == 1) {
            freeze();
        }
    }
};

class CallbackFreeze : public ::testing::TestWithParam<std::tuple<Variant, bool>> {};

}  // namespace

// Bodies a, b, c in the active tree in creation order; a's callback freezes b, whose node
// the walk would have taken as the next one. c must still be solved and b
// not.
TEST_P(CallbackFreeze, WalkResumesAfterTheCurrentBody) {
    const Variant variant = std::get<0>(GetParam());
    const bool viaActivation = std::get<1>(GetParam());
    Scene scene;
    std::vector<dgBody*> bodies;
    for (int32_t i = 0; i < 3; ++i) {
        bodies.push_back(
            scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(3.0f * float(i), 5.0f, 0.0f), 1.0f));
    }
    dgBody* a = bodies[0];
    dgBody* b = bodies[1];
    dgBody* c = bodies[2];
    if (viaActivation) {
        a->m_flags &= ~uint32_t(dgBodyFlagActive);
        a->m_activation = &FreezeNext::onActivation;
    } else {
        a->m_transform = &FreezeNext::onTransform;
    }
    FreezeNext::victim() = b;
    const uint64_t before = b->m_islandStamp;
    scene.step(variant, kStep, false);
    dgWorld* world = scene.world();
    EXPECT_EQ(FreezeNext::victim(), nullptr);
    EXPECT_EQ(a->m_islandStamp, world->m_stepStamp);
    EXPECT_EQ(b->m_islandStamp, before);
    EXPECT_EQ(c->m_islandStamp, world->m_stepStamp);
    EXPECT_FALSE(inActiveTree(world, b));
    EXPECT_TRUE(world->m_activeBodyTree.sanityCheck());
}

INSTANTIATE_TEST_SUITE_P(Island, CallbackFreeze,
                         ::testing::Combine(::testing::ValuesIn(kVariants), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<CallbackFreeze::ParamType>& info) {
                             return std::string(variantName(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) ? "Activation" : "Transform");
                         });

// ---- the reachable-joint walk ----

// A chain of joints j0 .. j5 over bodies b0 .. b6 where b3 is immovable: the
// walk from j0 reaches j0, j1, j2 (b3 stops it). A joint from b0 to the world
// is reached as well.
TEST(ReachableJoints, StopsAtImmovableBodiesAndAtItsCountAndClearsEveryMark) {
    Scene scene;
    std::vector<dgBody*> chain;
    for (int32_t i = 0; i < 7; ++i) {
        chain.push_back(scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(2.0f * float(i), 0.0f, 0.0f),
                                     (i == 3) ? 0.0f : 1.0f));
    }
    std::vector<dgConstraint*> joints;
    for (int32_t i = 0; i < 6; ++i) {
        joints.push_back(scene.join(chain[size_t(i)], chain[size_t(i + 1)], 0));
    }
    joints.push_back(scene.join(chain[0], nullptr, 0));
    for (dgConstraint* joint : joints) {
        joint->m_islandStamp = 77;
    }
    const std::vector<dgConstraint*> reachable = {joints[0], joints[1], joints[2], joints[6]};
    for (int32_t maxCount : {0, 1, 2, 3, 4, 5, 100}) {
        std::vector<dgConstraint*> out(size_t(std::max(maxCount, 1)), nullptr);
        const int32_t count = dgWorldGetReachableJoints(joints[0], out.data(), maxCount);
        EXPECT_EQ(count, std::min<int32_t>(maxCount, int32_t(reachable.size()))) << maxCount;
        if (count > 0) {
            EXPECT_EQ(out[0], joints[0]);
        }
        for (int32_t i = 0; i < count; ++i) {
            EXPECT_NE(std::find(reachable.begin(), reachable.end(), out[size_t(i)]), reachable.end());
            EXPECT_EQ(std::count(out.begin(), out.begin() + count, out[size_t(i)]), 1);
        }
        for (dgConstraint* joint : joints) {
            EXPECT_EQ(joint->m_islandStamp, 77u) << maxCount;
        }
    }
}

// ---- flush-to-zero ----

namespace {

struct CsrProbe {
    static unsigned int& seen() {
        static unsigned int s = 0;
        return s;
    }
    static void record(dgBody*, const float*) { seen() = _mm_getcsr(); }
};

}  // namespace

TEST_P(IslandVariant, OnlyTheSimdVariantFlushesToZeroAndRestoresTheControlWord) {
    Scene scene;
    dgBody* body = scene.addBox(1.0f, 1.0f, 1.0f, shapetest::translation(0.0f, 0.0f, 0.0f), 1.0f);
    body->m_transform = &CsrProbe::record;
    const unsigned int saved = _mm_getcsr();
    _mm_setcsr(saved & ~0x8040u);
    const unsigned int before = _mm_getcsr();
    scene.step(GetParam(), kStep, false);
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(after & ~0x3fu, before & ~0x3fu);
    EXPECT_EQ(CsrProbe::seen() & 0x8000u, (GetParam() == Variant::Simd) ? 0x8000u : 0u);
    EXPECT_EQ(CsrProbe::seen() & 0x0040u, 0u);
}

INSTANTIATE_TEST_SUITE_P(Island, IslandVariant, ::testing::ValuesIn(kVariants), variantParamName);

// ---- vehicle sub-steps ----

namespace {

struct SubStepLog {
    static int32_t& forces() {
        static int32_t n = 0;
        return n;
    }
    static int32_t& transforms() {
        static int32_t n = 0;
        return n;
    }
    static void onForce(dgBody* body) {
        ++forces();
        applyGravity(body);
    }
    static void onTransform(dgBody*, const float*) { ++transforms(); }
};

}  // namespace

// 1/60 s at 179 sub-steps per second: three sub-steps of 1/180 s; forces are
// asked again after each but the last, the transform reported once.
TEST(VehicleSubSteps, StepTheVehiclesIslandAtTheSetsRate) {
    Scene scene;
    dgWorld* world = scene.world();
    dgBody* chassis = scene.addBox(2.0f, 1.0f, 4.0f, shapetest::translation(0.0f, 10.0f, 0.0f), 100.0f);
    chassis->m_linearDamping = 0.0f;
    chassis->m_forceAndTorque = &SubStepLog::onForce;
    chassis->m_transform = &SubStepLog::onTransform;
    dgConstraint* vehicle = scene.join(chassis, nullptr, 0, dgJointTypeVehicle);
    world->m_vehicleSet.m_entries.append(dgVehicleSetEntry{vehicle, 0, nullptr});
    SubStepLog::forces() = 0;
    SubStepLog::transforms() = 0;

    scene.step(Variant::Scalar, kStep, false);
    EXPECT_EQ(SubStepLog::forces(), 3);
    EXPECT_EQ(SubStepLog::transforms(), 1);
    EXPECT_EQ(world->m_timeStep, kStep);
    EXPECT_EQ(chassis->m_islandStamp, world->m_stepStamp);
    EXPECT_EQ(world->m_vehicleSet.m_entries.getFirst()->getValue().vehicleStamp, world->m_stepStamp - 1);
    // Three sub-steps of gravity.
    EXPECT_NEAR(chassis->m_veloc.y, kGravity * kStep, 1e-5f);
    world->m_vehicleSet.m_entries.removeAll();
}
