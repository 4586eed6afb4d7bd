// The public world, material and contact-callback functions with bodies in
// the world: the clamps as stored, the contact accessors, the callbacks of a
// falling scene, destruction inside walks and what an update refuses. Bodies
// and shapes are made through the engine's own headers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ShapeTestUtils.h"
#include "WorldTestUtils.h"
#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCollision.h"
#include "dgContact.h"
#include "dgMaterialPair.h"
#include "dgPhysics.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace {

using shapetest::HookGuard;
using shapetest::translation;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kSixtieth = 0.016666668f;

void gravity(dgBody* body) {
    body->m_force = dgVector(0.0f, -9.8f * body->m_mass.w, 0.0f, 0.0f);
}

struct Scene : public ::testing::Test {
    void SetUp() override {
        world = dgWorldCreate(nullptr, nullptr);
        box = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
    }
    void TearDown() override {
        dgReleaseCollision(world, box);
        dgWorldDestroy(world);
    }
    // A unit box of mass 1 at (x, y, z) falling under gravity.
    dgBody* addBox(float x, float y, float z, uint32_t group = 0) {
        dgBody* body = dgCreateBody(world, box);
        dgBodyStoreMassMatrix(body, 1.0f, 1.0f / 6.0f, 1.0f / 6.0f, 1.0f / 6.0f, 1.0f / 6.0f, 1.0f / 6.0f,
                              1.0f / 6.0f);
        dgWorldSetBodyMatrix(world, body, translation(x, y, z));
        body->m_forceAndTorque = gravity;
        body->m_materialGroupId = group;
        return body;
    }
    // A static tree floor: the square -20..20 at y = 0, in two faces.
    dgBody* addFloor(uint32_t group = 0) {
        dgCollision* tree = dgCreateTreeCollision(world, nullptr);
        const float faces[2][9] = {{-20, 0, -20, -20, 0, 20, 20, 0, 20},
                                   {-20, 0, -20, 20, 0, 20, 20, 0, -20}};
        dgTreeCollisionBeginBuild(tree);
        for (const auto& face : faces) {
            dgTreeCollisionAddFace(tree, 3, face, 3 * int32_t(sizeof(float)), 5);
        }
        dgTreeCollisionEndBuild(tree, 0);
        dgBody* floor = dgCreateBody(world, tree);
        dgReleaseCollision(world, tree);
        floor->m_materialGroupId = group;
        return floor;
    }
    HookGuard hooks;
    dgWorld* world = nullptr;
    dgCollision* box = nullptr;
};

// ---- clamps, as stored ----

enum class Setter {
    PairElasticity,
    PairSoftness,
    ContactSoftness,
    ContactElasticity,
    ContactStatic0,
    ContactStatic1,
    ContactKinetic0,
    ContactKinetic1,
};

struct ClampCase {
    const char* name;
    Setter setter;
    float value;
    float stored;
};

float storedValue(const dgMaterialPair& m, Setter setter) {
    switch (setter) {
        case Setter::PairElasticity:
        case Setter::ContactElasticity:
            return m.m_elasticity;
        case Setter::PairSoftness:
        case Setter::ContactSoftness:
            return m.m_softness;
        case Setter::ContactStatic0:
            return m.m_staticFriction0;
        case Setter::ContactStatic1:
            return m.m_staticFriction1;
        case Setter::ContactKinetic0:
            return m.m_kineticFriction0;
        case Setter::ContactKinetic1:
            return m.m_kineticFriction1;
    }
    return 0.0f;
}

class MaterialClamp : public Scene, public ::testing::WithParamInterface<ClampCase> {};

// Pair setters go to the default pair; contact setters to a contact point's
// copy of it (static 0.9, kinetic 0.5 in both directions).
TEST_P(MaterialClamp, StoresTheBoundedValue) {
    const ClampCase& c = GetParam();
    dgMaterialPair* pair = dgWorldGetMaterialPair(world, 0, 0);
    dgMaterialPair point = *pair;
    switch (c.setter) {
        case Setter::PairElasticity:
            dgMaterialSetDefaultElasticity(world, 0, 0, c.value);
            break;
        case Setter::PairSoftness:
            dgMaterialSetDefaultSoftness(world, 0, 0, c.value);
            break;
        case Setter::ContactSoftness:
            dgMaterialSetContactSoftness(&point, c.value);
            break;
        case Setter::ContactElasticity:
            dgMaterialSetContactElasticity(&point, c.value);
            break;
        case Setter::ContactStatic0:
        case Setter::ContactStatic1:
            dgMaterialSetContactStaticFriction(&point, c.value, c.setter == Setter::ContactStatic1);
            break;
        case Setter::ContactKinetic0:
        case Setter::ContactKinetic1:
            dgMaterialSetContactKineticFriction(&point, c.value, c.setter == Setter::ContactKinetic1);
            break;
    }
    const bool onPair = (c.setter == Setter::PairElasticity) || (c.setter == Setter::PairSoftness);
    EXPECT_EQ(storedValue(onPair ? *pair : point, c.setter), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    PhysicsWorld, MaterialClamp,
    ::testing::Values(ClampCase{"pairElasticityBelow", Setter::PairElasticity, 0.001f, 0.01f},
                      ClampCase{"pairElasticityIn", Setter::PairElasticity, 0.3f, 0.3f},
                      ClampCase{"pairElasticityAbove", Setter::PairElasticity, 5.0f, 2.0f},
                      ClampCase{"pairElasticityNaN", Setter::PairElasticity, kNaN, 0.4f},
                      ClampCase{"pairElasticityInfinity", Setter::PairElasticity, kInf, 0.4f},
                      ClampCase{"pairSoftnessBelow", Setter::PairSoftness, 0.0f, 0.01f},
                      ClampCase{"pairSoftnessIn", Setter::PairSoftness, 0.05f, 0.05f},
                      ClampCase{"pairSoftnessAboveContactCap", Setter::PairSoftness, 0.9f, 0.9f},
                      ClampCase{"pairSoftnessAbove", Setter::PairSoftness, 3.0f, 1.0f},
                      ClampCase{"pairSoftnessNaN", Setter::PairSoftness, kNaN, 0.1f},
                      ClampCase{"contactSoftnessBelow", Setter::ContactSoftness, -1.0f, 0.01f},
                      ClampCase{"contactSoftnessIn", Setter::ContactSoftness, 0.5f, 0.5f},
                      ClampCase{"contactSoftnessAbove", Setter::ContactSoftness, 0.9f, 0.7f},
                      ClampCase{"contactSoftnessNaN", Setter::ContactSoftness, kNaN, 0.1f},
                      ClampCase{"contactElasticityBelow", Setter::ContactElasticity, 0.0f, 0.01f},
                      ClampCase{"contactElasticityIn", Setter::ContactElasticity, 1.5f, 1.5f},
                      ClampCase{"contactElasticityAbove", Setter::ContactElasticity, 2.5f, 2.0f},
                      ClampCase{"contactElasticityNaN", Setter::ContactElasticity, kNaN, 0.4f},
                      // Static friction: at least the kinetic 0.5, at most 2.
                      ClampCase{"staticBelowKinetic", Setter::ContactStatic0, 0.2f, 0.5f},
                      ClampCase{"staticIn", Setter::ContactStatic1, 1.2f, 1.2f},
                      ClampCase{"staticAbove", Setter::ContactStatic0, 7.0f, 2.0f},
                      ClampCase{"staticNaN", Setter::ContactStatic1, kNaN, 0.9f},
                      ClampCase{"staticInfinity", Setter::ContactStatic0, kInf, 0.9f},
                      // Kinetic friction: at least 0.01, at most the static 0.9.
                      ClampCase{"kineticBelow", Setter::ContactKinetic1, 0.001f, 0.01f},
                      ClampCase{"kineticIn", Setter::ContactKinetic0, 0.7f, 0.7f},
                      ClampCase{"kineticAboveStatic", Setter::ContactKinetic1, 1.5f, 0.9f},
                      ClampCase{"kineticNaN", Setter::ContactKinetic0, kNaN, 0.5f}),
    [](const ::testing::TestParamInfo<ClampCase>& info) { return std::string(info.param.name); });

struct FrictionCase {
    const char* name;
    float staticIn;
    float kineticIn;
    float staticStored;
    float kineticStored;
    bool frictionOn;
};

class DefaultFriction : public Scene, public ::testing::WithParamInterface<FrictionCase> {};

TEST_P(DefaultFriction, BothDirectionsGetTheBoundedPair) {
    const FrictionCase& c = GetParam();
    dgMaterialSetDefaultFriction(world, 0, 0, c.staticIn, c.kineticIn);
    const dgMaterialPair& pair = *dgWorldGetMaterialPair(world, 0, 0);
    EXPECT_EQ(pair.m_staticFriction0, c.staticStored);
    EXPECT_EQ(pair.m_staticFriction1, c.staticStored);
    EXPECT_EQ(pair.m_kineticFriction0, c.kineticStored);
    EXPECT_EQ(pair.m_kineticFriction1, c.kineticStored);
    const uint32_t bits = dgMaterialFlagFriction0 | dgMaterialFlagFriction1;
    EXPECT_EQ(pair.m_flags & bits, c.frictionOn ? bits : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PhysicsWorld, DefaultFriction,
    ::testing::Values(FrictionCase{"game", 0.8f, 0.4f, 0.8f, 0.4f, true},
                      FrictionCase{"staticRaisedToKinetic", 0.3f, 0.9f, 0.9f, 0.9f, true},
                      FrictionCase{"absoluteValues", -0.6f, 0.8f, 0.8f, 0.8f, true},
                      FrictionCase{"staticBelowTurnsFrictionOff", 0.005f, 0.4f, 0.9f, 0.5f, false},
                      FrictionCase{"above", 3.0f, 5.0f, 2.0f, 2.0f, true},
                      FrictionCase{"kineticBelow", 1.0f, 0.0f, 1.0f, 0.01f, true},
                      FrictionCase{"staticNaN", kNaN, 0.4f, 0.9f, 0.5f, true},
                      FrictionCase{"kineticInfinity", 0.8f, kInf, 0.9f, 0.5f, true}),
    [](const ::testing::TestParamInfo<FrictionCase>& info) { return std::string(info.param.name); });

TEST_F(Scene, NewPairsStartFromTheDefaultsNotFromPairZero) {
    dgMaterialSetDefaultElasticity(world, 0, 0, 0.3f);
    dgMaterialSetDefaultSoftness(world, 0, 0, 0.05f);
    dgMaterialSetDefaultCollidable(world, 0, 0, 0);
    const uint32_t group = dgMaterialCreateGroupId(world);
    const dgMaterialPair& fresh = *dgWorldGetMaterialPair(world, group, 0);
    EXPECT_EQ(fresh.m_elasticity, 0.4f);
    EXPECT_EQ(fresh.m_softness, 0.1f);
    EXPECT_EQ(fresh.m_flags, dgMaterialDefaultFlags);
    EXPECT_EQ(dgWorldGetMaterialPair(world, 0, 0)->m_flags & dgMaterialFlagCollidable, 0u);
    // A pair record describes no contact: the contact accessors read 0.
    EXPECT_EQ(dgMaterialGetContactTimeStep(&fresh), 0.0f);
    EXPECT_EQ(dgMaterialGetContactNormalSpeed(&fresh, nullptr), 0.0f);
}

// ---- contact accessors ----

// body0 at the origin moving (1, 0, 0) turning (0, 0, 1); body1 at (0, 2, 0)
// moving (0, -3, 0) turning (0, 0, 2); the point (1, 1, 0), normal up.
// At the point body0 moves (1, 0, 0) + (0, 0, 1) x (1, 1, 0) = (0, 1, 0) and
// body1 (0, -3, 0) + (0, 0, 2) x (1, -1, 0) = (2, -1, 0): body1 - body0 =
// (2, -2, 0).
TEST_F(Scene, ContactAccessorsAgainstHandComputation) {
    dgBody* body0 = addBox(0.0f, 0.0f, 0.0f);
    dgBody* body1 = addBox(0.0f, 2.0f, 0.0f);
    dgBody* other = addBox(5.0f, 0.0f, 0.0f);
    body0->m_veloc = dgVector(1.0f, 0.0f, 0.0f, 0.0f);
    body0->m_omega = dgVector(0.0f, 0.0f, 1.0f, 0.0f);
    body1->m_veloc = dgVector(0.0f, -3.0f, 0.0f, 0.0f);
    body1->m_omega = dgVector(0.0f, 0.0f, 2.0f, 0.0f);
    dgCollision* tagged = dgCreateBox(world, 1.0f, 2.0f, 1.0f, nullptr);
    tagged->setUserId(77);
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);

    dgMaterialPair point = *dgWorldGetMaterialPair(world, 0, 0);
    point.point = dgVector(1.0f, 1.0f, 0.0f, 1.0f);
    point.normal = dgVector(0.0f, 1.0f, 0.0f, 0.0f);
    point.body0 = body0;
    point.body1 = body1;
    point.collision0 = tagged;
    point.collision1 = tree;
    point.userId = dgContactUserId(0x80000001u);
    point.m_tangentDir0 = dgVector(1.0f, 0.0f, 0.0f, 0.0f);
    point.m_tangentDir1 = dgVector(0.0f, 0.0f, -1.0f, 0.0f);
    // Only passed along; it goes with its bodies.
    dgContact* contact = dgNewContact(world);
    ASSERT_NE(contact, nullptr);
    ASSERT_TRUE(dgWorldAttachConstraint(world, contact, body0, body1));

    EXPECT_EQ(dgMaterialGetContactNormalSpeed(&point, contact), -2.0f);
    // Opposite sign: body0's minus body1's.
    EXPECT_EQ(dgMaterialGetContactTangentSpeed(&point, contact, 0), -2.0f);
    EXPECT_EQ(dgMaterialGetContactTangentSpeed(&point, contact, 1), 0.0f);
    EXPECT_EQ(dgMaterialGetContactTangentSpeed(&point, contact, 2), 0.0f);
    EXPECT_EQ(dgMaterialGetContactAttribute(&point), 0x80000001u);
    EXPECT_EQ(dgMaterialGetBodyCollisionId(&point, body0), 77u);
    // A tree is no convex shape; other is not in the contact.
    EXPECT_EQ(dgMaterialGetBodyCollisionId(&point, body1), 0u);
    EXPECT_EQ(dgMaterialGetBodyCollisionId(&point, other), 0u);
    dgWorldUpdate(world, 0.01f);
    EXPECT_EQ(dgMaterialGetContactTimeStep(&point), 0.01f);

    // The force: normal * n + dir0 * t0 + dir1 * t1 from the three slots.
    dgMaterialSetContactNormalAcceleration(&point, 3.0f);
    dgMaterialSetContactTangentAcceleration(&point, 5.0f, 0);
    dgMaterialSetContactTangentAcceleration(&point, 7.0f, 1);
    dgMaterialSetContactTangentAcceleration(&point, 9.0f, 2);
    const uint32_t given =
        dgMaterialFlagNormalAccel | dgMaterialFlagTangentAccel0 | dgMaterialFlagTangentAccel1;
    EXPECT_EQ(point.m_flags & given, given);
    float force[3];
    dgMaterialGetContactForce(&point, force);
    EXPECT_EQ(force[0], 5.0f);
    EXPECT_EQ(force[1], 3.0f);
    EXPECT_EQ(force[2], -7.0f);

    // Friction directions: turned to the given direction; one along the
    // normal, or not finite, is ignored.
    const float across[3] = {0.0f, 0.0f, 4.0f};
    dgMaterialSetContactTangentDirection(&point, across);
    float dir0[3], dir1[3];
    dgMaterialGetContactTangentDirections(&point, dir0, dir1);
    EXPECT_EQ(dir1[0], 1.0f);
    EXPECT_EQ(dir1[1], 0.0f);
    EXPECT_EQ(dir1[2], 0.0f);
    EXPECT_EQ(dir0[0], 0.0f);
    EXPECT_EQ(dir0[1], 0.0f);
    EXPECT_EQ(dir0[2], 1.0f);
    const float refused[2][3] = {{0.0f, -2.0f, 0.0f}, {kNaN, 0.0f, 1.0f}};
    for (const auto& direction : refused) {
        dgMaterialSetContactTangentDirection(&point, direction);
        EXPECT_EQ(point.m_tangentDir0.z, 1.0f);
        EXPECT_EQ(point.m_tangentDir1.x, 1.0f);
    }

    // Friction state: a direction other than 0 or 1 is refused.
    dgMaterialSetContactFrictionState(&point, 0, 1);
    dgMaterialSetContactFrictionState(&point, 0, -1);
    dgMaterialSetContactFrictionState(&point, 0, 2);
    EXPECT_EQ(point.m_flags & (dgMaterialFlagFriction0 | dgMaterialFlagFriction1),
              uint32_t(dgMaterialFlagFriction0));
    dgMaterialDisableContact(&point);
    EXPECT_EQ(point.m_flags & dgMaterialFlagCollidable, 0u);

    dgReleaseCollision(world, tagged);
    dgReleaseCollision(world, tree);
}

// ---- the callbacks of a falling scene ----

struct Event {
    char kind;  // 'b' begin, 'p' process, 'e' end
    const dgMaterialPair* pair;
    uint64_t step;
};

struct CallbackLog {
    dgWorld* world = nullptr;
    std::vector<Event> events;
    bool timeStepsRight = true;
    bool pairUserDataRight = true;
    bool geometryRight = true;
};
CallbackLog* g_log = nullptr;

int32_t logBegin(dgMaterialPair* material, dgBody*, dgBody*) {
    g_log->events.push_back({'b', material, g_log->world->m_stepStamp});
    // Group 1 meets the floor: vetoed.
    return dgMaterialGetPairUserData(material) != reinterpret_cast<void*>(1);
}

int32_t logProcess(dgMaterialPair* material, dgContact*) {
    g_log->events.push_back({'p', nullptr, g_log->world->m_stepStamp});
    g_log->timeStepsRight =
        g_log->timeStepsRight && (dgMaterialGetContactTimeStep(material) == dgWorldGetTimeStep(g_log->world));
    // Box against the floor's faces (attribute 5): the normal points from
    // the floor (body1) up to the box, the point lies near the floor.
    float position[3], normal[3];
    dgMaterialGetContactPositionAndNormal(material, position, normal);
    g_log->geometryRight = g_log->geometryRight && (dgMaterialGetContactAttribute(material) == 5u) &&
                           (normal[1] > 0.999f) && (std::fabs(position[1]) < 0.1f);
    const uintptr_t tag = reinterpret_cast<uintptr_t>(dgMaterialGetPairUserData(material));
    g_log->pairUserDataRight = g_log->pairUserDataRight && (tag >= 1) && (tag <= 4);
    // Group 2 drops its points by the answer, group 3 through the
    // collidable bit.
    if (tag == 3) {
        dgMaterialDisableContact(material);
    }
    return tag != 2;
}

void logEnd(dgMaterialPair* material) {
    g_log->events.push_back({'e', material, g_log->world->m_stepStamp});
}

bool finiteBody(const dgBody* body) {
    for (int32_t i = 0; i < 4; ++i) {
        for (int32_t j = 0; j < 4; ++j) {
            if (!std::isfinite(body->m_matrix[i][j])) {
                return false;
            }
        }
    }
    return std::isfinite(body->m_veloc.x + body->m_veloc.y + body->m_veloc.z);
}

// Boxes in four groups over a tree floor: group 1 vetoed by its begin
// callback, 2 and 3 dropping every point, 4 kept. Every begin that lets its
// pair through has one end in the same step, every process lies between the
// two, and only the kept group rests on the floor.
TEST_F(Scene, BeginVetoesProcessDropsAndEachPairEndsOncePerStep) {
    CallbackLog log;
    log.world = world;
    g_log = &log;
    const uint32_t floorGroup = dgMaterialGetDefaultGroupId(world);
    dgBody* floor = addFloor(floorGroup);
    std::vector<dgBody*> boxes[5];
    for (uint32_t g = 1; g <= 4; ++g) {
        ASSERT_EQ(dgMaterialCreateGroupId(world), g);
        dgMaterialSetCollisionCallback(world, g, floorGroup, reinterpret_cast<void*>(uintptr_t(g)), logBegin,
                                       logProcess, logEnd);
        for (int32_t i = 0; i < 3; ++i) {
            boxes[g].push_back(
                addBox(float(4 * int32_t(g) - 10), 1.0f + 2.0f * float(i), float(4 * i - 4), g));
        }
    }
    ASSERT_NE(floor, nullptr);
    for (int32_t step = 0; step < 150; ++step) {
        dgWorldUpdate(world, 0.02f);
    }
    g_log = nullptr;

    EXPECT_TRUE(log.timeStepsRight);
    EXPECT_TRUE(log.pairUserDataRight);
    EXPECT_TRUE(log.geometryRight);
    std::set<const dgMaterialPair*> vetoedEnds;
    const dgMaterialPair* vetoed = dgWorldGetMaterialPair(world, 1, floorGroup);
    const dgMaterialPair* open = nullptr;
    int32_t begins = 0;
    int32_t ends = 0;
    uint64_t stamp = 0;
    for (const Event& e : log.events) {
        switch (e.kind) {
            case 'b':
                ++begins;
                EXPECT_EQ(open, nullptr) << "a begin inside another pair";
                open = (e.pair == vetoed) ? nullptr : e.pair;
                stamp = e.step;
                break;
            case 'p':
                ASSERT_NE(open, nullptr) << "a process outside its pair";
                EXPECT_EQ(e.step, stamp);
                break;
            default:
                ++ends;
                EXPECT_EQ(e.pair, open);
                EXPECT_NE(e.pair, vetoed);
                EXPECT_EQ(e.step, stamp);
                open = nullptr;
                break;
        }
    }
    EXPECT_EQ(open, nullptr);
    EXPECT_GT(begins, ends);
    EXPECT_GT(ends, 0);
    for (uint32_t g = 1; g <= 4; ++g) {
        for (dgBody* body : boxes[g]) {
            ASSERT_TRUE(finiteBody(body));
            const float y = body->m_matrix.position.y;
            if (g == 4) {
                EXPECT_GT(y, 0.4f) << "group " << g;
                EXPECT_LT(y, 0.6f) << "group " << g;
            } else {
                EXPECT_LT(y, -1.0f) << "group " << g;
            }
        }
    }
}

// ---- walks ----

// Every body once, in the body tree's order; the box walk finds exactly the
// bodies whose boxes overlap the query, against brute force.
TEST_F(Scene, WalksVisitWhatBruteForceFinds) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> where(-40.0f, 40.0f);
    for (int32_t i = 0; i < 60; ++i) {
        addBox(where(rng), where(rng) * 0.2f, where(rng))->m_forceAndTorque = nullptr;
    }
    static std::vector<dgBody*> seen;
    seen.clear();
    dgWorldForEachBodyDo(world, [](dgBody* body) { seen.push_back(body); });
    std::vector<dgBody*> all;
    for (dgBodyTree::Node* node = world->m_bodyTree.getFirst(); node; node = node->getNext()) {
        all.push_back(node->getPayload());
    }
    EXPECT_EQ(seen, all);
    for (int32_t trial = 0; trial < 200; ++trial) {
        const float low[3] = {where(rng), where(rng) * 0.2f, where(rng)};
        const float high[3] = {low[0] + 15.0f, low[1] + 5.0f, low[2] + 15.0f};
        seen.clear();
        dgWorldForEachBodyInAABB(world, low, high, [](dgBody* body) { seen.push_back(body); });
        std::set<dgBody*> expected;
        for (dgBody* body : all) {
            bool overlap = true;
            for (int32_t k = 0; k < 3; ++k) {
                overlap = overlap && (body->m_minAABB[k] < high[k]) && (body->m_maxAABB[k] > low[k]);
            }
            if (overlap) {
                expected.insert(body);
            }
        }
        EXPECT_EQ(std::set<dgBody*>(seen.begin(), seen.end()), expected);
        EXPECT_EQ(seen.size(), expected.size());
    }
}

// ---- what an update or a walk refuses ----

enum class Change { DestroyGroups, DestroyWorld, DestroyAllBodies, SetSize, Update };

struct RefusalScript {
    dgWorld* world = nullptr;
    Change change = Change::DestroyGroups;
    int32_t attempts = 0;
};
RefusalScript* g_refusal = nullptr;

void attemptChange() {
    dgWorld* world = g_refusal->world;
    ++g_refusal->attempts;
    const float low[3] = {-5.0f, -5.0f, -5.0f};
    const float high[3] = {5.0f, 5.0f, 5.0f};
    switch (g_refusal->change) {
        case Change::DestroyGroups:
            dgMaterialDestroyAllGroups(world);
            break;
        case Change::DestroyWorld:
            dgWorldDestroy(world);
            break;
        case Change::DestroyAllBodies:
            dgWorldDestroyAllBodies(world);
            break;
        case Change::SetSize:
            dgWorldSetSize(world, low, high);
            break;
        case Change::Update:
            dgWorldUpdate(world, kSixtieth);
            break;
    }
}

void changeFromForce(dgBody* body) {
    attemptChange();
    gravity(body);
}
int32_t changeFromProcess(dgMaterialPair* material, dgContact*) {
    attemptChange();
    // The record the callback holds is still the pair's.
    return dgMaterialGetPairUserData(material) == g_refusal;
}
void changeFromWalk(dgBody*) {
    attemptChange();
}

std::string changeName(Change change) {
    switch (change) {
        case Change::DestroyGroups:
            return "destroyGroups";
        case Change::DestroyWorld:
            return "destroyWorld";
        case Change::DestroyAllBodies:
            return "destroyAllBodies";
        case Change::SetSize:
            return "setSize";
        case Change::Update:
            return "update";
    }
    return "?";
}

class RefusedChange : public Scene, public ::testing::WithParamInterface<Change> {};

// Tried from a force callback, a process callback (holding its material)
// and a body walk: the world, its bodies, its box and its pairs stay.
TEST_P(RefusedChange, DuringAnUpdateOrAWalk) {
    RefusalScript script;
    script.world = world;
    script.change = GetParam();
    g_refusal = &script;
    ASSERT_EQ(dgMaterialCreateGroupId(world), 1u);
    dgMaterialSetCollisionCallback(world, 1, 0, &script, nullptr, changeFromProcess, nullptr);
    addFloor(0);
    dgBody* falling = addBox(0.0f, 0.45f, 0.0f, 1);
    falling->m_forceAndTorque = changeFromForce;
    dgVector sizeMin, sizeMax;
    dgBroadPhaseGetWorldSize(&world->m_broadPhase, sizeMin, sizeMax);

    for (int32_t i = 0; i < 3; ++i) {
        dgWorldUpdate(world, kSixtieth);
    }
    dgWorldForEachBodyDo(world, changeFromWalk);
    const float low[3] = {-50.0f, -50.0f, -50.0f};
    const float high[3] = {50.0f, 50.0f, 50.0f};
    dgWorldForEachBodyInAABB(world, low, high, changeFromWalk);

    // Force callbacks, process callbacks and the walks all tried.
    EXPECT_GT(script.attempts, 3 + 2 + 2);
    EXPECT_EQ(world->m_bodyCount, 2u);
    EXPECT_EQ(dgMaterialGetUserData(world, 1, 0), &script);
    EXPECT_EQ(world->m_materialGroupCount, 2u);
    dgVector afterMin, afterMax;
    dgBroadPhaseGetWorldSize(&world->m_broadPhase, afterMin, afterMax);
    EXPECT_EQ(afterMin.x, sizeMin.x);
    EXPECT_EQ(afterMax.x, sizeMax.x);
    // The box still rests on the floor: the process callbacks kept its points.
    EXPECT_GT(falling->m_matrix.position.y, 0.4f);
    g_refusal = nullptr;
}

INSTANTIATE_TEST_SUITE_P(PhysicsWorld, RefusedChange,
                         ::testing::Values(Change::DestroyGroups, Change::DestroyWorld,
                                           Change::DestroyAllBodies, Change::SetSize),
                         [](const ::testing::TestParamInfo<Change>& info) { return changeName(info.param); });

// The world's destruction calls every body's destructor callback and, for
// the awake ones, the activation callback: tried from there, each change is
// refused as during an update, an update too, so that nothing is filed,
// stepped or destroyed twice in a world that is going. Every block it took
// comes back.
class RefusedWhileDestroyed : public ::testing::TestWithParam<Change> {};

TEST_P(RefusedWhileDestroyed, FromTheLastCallbacksOfItsBodies) {
    const Change change = GetParam();
    expectEveryBlockBack([change](dgWorld* world) {
        RefusalScript script;
        script.world = world;
        script.change = change;
        g_refusal = &script;
        dgCollision* shape = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
        // One body: the last to go is the one whose filing and stepping a
        // change would bring back.
        for (int32_t i = 0; i < 1; ++i) {
            dgBody* body = dgCreateBody(world, shape);
            dgBodySetMassMatrix(body, 1.0f, 1.0f, 1.0f, 1.0f);
            const float place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3.0f * float(i), 0, 0, 1};
            dgBodySetMatrix(body, place);
            dgBodySetDestructorCallback(body, [](dgBody*) { attemptChange(); });
            dgBodySetActivationCallback(body, [](dgBody*, uint32_t state) {
                if (state == 0) {
                    attemptChange();
                }
            });
        }
        dgReleaseCollision(world, shape);
        dgWorldDestroy(world);
        EXPECT_EQ(script.attempts, 2);
        g_refusal = nullptr;
    });
}

INSTANTIATE_TEST_SUITE_P(PhysicsWorld, RefusedWhileDestroyed,
                         ::testing::Values(Change::DestroyGroups, Change::DestroyWorld,
                                           Change::DestroyAllBodies, Change::SetSize, Change::Update),
                         [](const ::testing::TestParamInfo<Change>& info) { return changeName(info.param); });

// Outside an update: every body goes with its destructor callback (also one
// that asks for the same again) and the world box is back to +-100.
int32_t g_destroyAllCalls = 0;
void destroyAllAgain(dgBody* body) {
    ++g_destroyAllCalls;
    dgWorldDestroyAllBodies(body->m_world);
}

TEST_F(Scene, DestroyAllBodiesEmptiesTheWorldAndResetsItsBox) {
    const float low[3] = {-500.0f, -50.0f, -500.0f};
    const float high[3] = {500.0f, 50.0f, 500.0f};
    dgWorldSetSize(world, low, high);
    g_destroyAllCalls = 0;
    for (int32_t i = 0; i < 6; ++i) {
        addBox(float(i) * 2.0f, 0.0f, 0.0f)->m_destructor = destroyAllAgain;
    }
    dgWorldDestroyAllBodies(world);
    EXPECT_EQ(g_destroyAllCalls, 6);
    EXPECT_EQ(world->m_bodyCount, 0u);
    dgVector sizeMin, sizeMax;
    dgBroadPhaseGetWorldSize(&world->m_broadPhase, sizeMin, sizeMax);
    EXPECT_EQ(sizeMin.x, -100.0f);
    EXPECT_EQ(sizeMin.y, -100.0f);
    EXPECT_EQ(sizeMax.y, 100.0f);
}

TEST_F(Scene, AnotherWorldsBodyIsNotFrozenOrWoken) {
    dgBody* body = addBox(0.0f, 0.0f, 0.0f);
    dgWorld* other = dgWorldCreate(nullptr, nullptr);
    dgWorldFreezeBody(other, body);
    EXPECT_NE(body->m_activeNode, nullptr);
    dgWorldFreezeBody(world, body);
    EXPECT_EQ(body->m_activeNode, nullptr);
    dgWorldUnfreezeBody(other, body);
    EXPECT_EQ(body->m_activeNode, nullptr);
    dgWorldDestroy(other);
}

}  // namespace
