#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ContactTestWorld.h"
#include "CountingHooks.h"
#include "dgBodyPairContacts.h"
#include "dgCompoundCollision.h"
#include "dgIntersections.h"
#include "dgTreeCollision.h"

namespace {

using namespace contacttest;

// Top face of the ground box at y = 0.5.
constexpr float kGroundTop = 0.5f;

// A unit box resting on a static ground box, overlapping it by `overlap`.
struct RestingBox {
    ContactWorld scene;
    dgBody* ground;
    dgBody* box;
    dgMaterialPair* material;
    explicit RestingBox(float overlap = 0.005f)
        : ground(scene.addBox(10.0f, 1.0f, 10.0f, translation(0.0f, 0.0f, 0.0f), 0.0f)),
          box(scene.addBox(1.0f, 1.0f, 1.0f, translation(0.0f, kGroundTop + 0.5f - overlap, 0.0f), 1.0f)),
          material(dgWorldGetMaterialPair(scene.world(), 0, 0)) {}
    dgWorld* world() const { return scene.world(); }
};

// count boxes in a row along x, spacing apart, centred on the origin.
std::vector<dgCollision*> rowOfBoxes(dgWorld* world, int32_t count, float spacing, float size) {
    std::vector<dgCollision*> boxes;
    for (int32_t i = 0; i < count; ++i) {
        const dgMatrix offset = translation(spacing * (float(i) - 0.5f * float(count - 1)), 0.0f, 0.0f);
        boxes.push_back(dgWorldCreateBox(world, size, size, size, offset));
    }
    return boxes;
}

// A compound of the children; the caller's references pass to it.
dgCollision* compoundOf(dgWorld* world, const std::vector<dgCollision*>& children) {
    dgCollision* compound = new dgCompoundCollision(int32_t(children.size()), children.data(), world);
    for (dgCollision* child : children) {
        dgReleaseCollision(world, child);
    }
    return compound;
}

dgCollision* boxRow(dgWorld* world, int32_t count, float spacing, float size = 0.8f) {
    return compoundOf(world, rowOfBoxes(world, count, spacing, size));
}

// A flat square soup of two triangles at height y.
dgCollision* flatSoup(dgWorld* world, float half, float y) {
    dgCollision* soup = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(soup);
    const float t0[9] = {-half, y, -half, -half, y, half, half, y, -half};
    const float t1[9] = {half, y, -half, -half, y, half, half, y, half};
    dgTreeCollisionAddFace(soup, 3, t0, 12, 1);
    dgTreeCollisionAddFace(soup, 3, t1, 12, 2);
    dgTreeCollisionEndBuild(soup, 0);
    return soup;
}

// ---- who is asked, in what order ----

struct OrderCase {
    const char* name;
    int32_t beginAnswer;
    bool collidable;
    // Lifts the box clear of the ground.
    bool apart;
    // The box's material group is one never created.
    bool unknownGroup;
    const char* expected;
};
void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.name;
}

class BodyPairOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(BodyPairOrder, BeginThenEachPointThenEnd) {
    const OrderCase& c = GetParam();
    for (int32_t groundFirst = 0; groundFirst < 2; ++groundFirst) {
        RestingBox s;
        Script script;
        scriptAll(s.material);
        script.beginAnswer = c.beginAnswer;
        if (!c.collidable) {
            s.material->m_flags &= ~uint32_t(dgMaterialFlagCollidable);
        }
        if (c.apart) {
            dgBodySetMatrixInternal(s.box, translation(0.0f, 3.0f, 0.0f));
        }
        if (c.unknownGroup) {
            s.box->m_materialGroupId = 3;
        }
        dgWorldCollideBodyPair(s.world(), groundFirst ? s.ground : s.box, groundFirst ? s.box : s.ground);
        EXPECT_EQ(script.folded(), c.expected);
        dgContact* joint = contactOf(s.box, s.ground);
        ASSERT_EQ(joint != nullptr, std::string(c.expected).find("process") != std::string::npos);
        if (joint) {
            // A face on the ground: four points, one call each; the moving
            // body is body0 whichever came first.
            EXPECT_EQ(script.processCalls, 4);
            EXPECT_EQ(joint->m_pointCount, 4);
            EXPECT_EQ(joint->m_body0, s.box);
            for (dgMaterialPair* p : pointsOf(joint, 4)) {
                EXPECT_NEAR(p->normal.y, 1.0f, 1e-5f);
                EXPECT_EQ(p->collision0, s.box->m_collision);
                EXPECT_NEAR(p->point.y, kGroundTop, 0.01f);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pass, BodyPairOrder,
                         testing::Values(OrderCase{"Touching", 1, true, false, false, "begin,process,end"},
                                         OrderCase{"Apart", 1, true, true, false, "begin,end"},
                                         OrderCase{"BeginVetoes", 0, true, false, false, "begin"},
                                         OrderCase{"NotCollidable", 1, false, false, false, ""},
                                         OrderCase{"UnknownGroup", 1, true, false, true, ""}),
                         [](const testing::TestParamInfo<OrderCase>& i) { return i.param.name; });

TEST(BodyPair, BadPairsAreSkipped) {
    RestingBox s;
    Script script;
    scriptAll(s.material);
    dgBody* shapeless = s.scene.addBody(nullptr, translation(0.0f, 1.0f, 0.0f), 1.0f);
    const std::pair<dgBody*, dgBody*> pairs[] = {{s.box, s.box},         {s.box, nullptr},     {nullptr, s.box},
                                                 {shapeless, s.ground}, {s.ground, shapeless}};
    for (const auto& pair : pairs) {
        dgWorldCollideBodyPair(s.world(), pair.first, pair.second);
    }
    EXPECT_TRUE(script.log.empty());
    EXPECT_EQ(s.world()->m_contactList.getCount(), 0);
}

// ---- continuous mode gated by the pair ----

struct ContinuousCase {
    bool boxBit;
    bool groundBit;
    bool pairBit;
};

class BodyPairContinuous : public testing::TestWithParam<ContinuousCase> {};

TEST_P(BodyPairContinuous, Bit5IsTheBodysAndThePairsForThePassOnly) {
    const ContinuousCase& c = GetParam();
    RestingBox s;
    Script script;
    scriptAll(s.material);
    script.watch0 = s.box;
    script.watch1 = s.ground;
    if (!c.pairBit) {
        s.material->m_flags &= ~uint32_t(dgMaterialFlagContinuous);
    }
    const uint32_t other = dgBodyFlagAutoFreeze;
    s.box->m_flags = other | (c.boxBit ? uint32_t(dgBodyFlagContinuous) : 0u);
    s.ground->m_flags = other | (c.groundBit ? uint32_t(dgBodyFlagContinuous) : 0u);
    const uint32_t boxBefore = s.box->m_flags;
    const uint32_t groundBefore = s.ground->m_flags;
    dgWorldCollideBodyPair(s.world(), s.box, s.ground);
    ASSERT_EQ(script.log.back(), "end");
    EXPECT_EQ((script.endFlags0 & dgBodyFlagContinuous) != 0, c.boxBit && c.pairBit);
    EXPECT_EQ((script.endFlags1 & dgBodyFlagContinuous) != 0, c.groundBit && c.pairBit);
    // Bit 5 comes back; the joint's attachment may have changed the rest bit.
    const uint32_t keep = ~uint32_t(dgBodyFlagEquilibrium);
    EXPECT_EQ(s.box->m_flags & keep, boxBefore & keep);
    EXPECT_EQ(s.ground->m_flags & keep, groundBefore & keep);
}

INSTANTIATE_TEST_SUITE_P(Pass, BodyPairContinuous,
                         testing::Values(ContinuousCase{true, false, true}, ContinuousCase{true, true, false},
                                         ContinuousCase{false, true, true}, ContinuousCase{false, false, true},
                                         ContinuousCase{true, true, true}));

// ---- joints between the bodies ----

enum class Link { none, direct, chain, groundDirect };

struct JointCase {
    const char* name;
    Link link;
    // Direct-link mode on the box, and the joint's collision switch.
    bool directMode;
    uint8_t collisionState;
    bool collides;
};
void PrintTo(const JointCase& c, std::ostream* os) {
    *os << c.name;
}

class BodyPairJoints : public testing::TestWithParam<JointCase> {};

TEST_P(BodyPairJoints, JointedBodiesKeepClear) {
    const JointCase& c = GetParam();
    RestingBox s;
    Script script;
    scriptAll(s.material);
    dgBody* middle = s.scene.addBox(1.0f, 1.0f, 1.0f, translation(20.0f, 0.0f, 0.0f), 1.0f);
    TestJoint j0;
    TestJoint j1;
    std::vector<TestJoint*> attached;
    if (c.link == Link::direct) {
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &j0, s.box, s.ground));
        attached = {&j0};
    } else if (c.link == Link::groundDirect) {
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &j0, s.ground, s.box));
        attached = {&j0};
    } else if (c.link == Link::chain) {
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &j0, s.box, middle));
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &j1, middle, s.ground));
        attached = {&j0, &j1};
    }
    for (TestJoint* joint : attached) {
        joint->m_collisionState = c.collisionState;
    }
    if (c.directMode) {
        s.box->m_flags |= dgBodyFlagDirectLink;
    }
    // Both orders: the static ground first runs the test from the box.
    dgWorldCollideBodyPair(s.world(), s.ground, s.box);
    dgWorldCollideBodyPair(s.world(), s.box, s.ground);
    EXPECT_EQ(script.folded() == "", !c.collides);
    EXPECT_EQ(contactOf(s.box, s.ground) != nullptr, c.collides);
    for (TestJoint* joint : attached) {
        detachJoint(s.world(), joint);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pass, BodyPairJoints,
    testing::Values(JointCase{"NoJoint", Link::none, false, 0, true},
                    JointCase{"Direct", Link::direct, false, 0, false},
                    JointCase{"DirectFromTheGround", Link::groundDirect, false, 0, false},
                    JointCase{"DirectSwitchOnStillExcludedByTheGroup", Link::direct, false, 1, false},
                    JointCase{"ThroughAThirdBody", Link::chain, false, 0, false},
                    JointCase{"ThroughAThirdBodyInDirectMode", Link::chain, true, 0, true},
                    JointCase{"DirectModeSwitchOff", Link::direct, true, 0, false},
                    JointCase{"DirectModeSwitchOn", Link::direct, true, 1, true},
                    JointCase{"DirectModeFromTheGroundSwitchOff", Link::groundDirect, true, 0, false}),
    [](const testing::TestParamInfo<JointCase>& info) { return std::string(info.param.name); });

// ---- persistence through the pass ----

struct KeepCase {
    const char* name;
    float overlap;
    // Lifted clear before the second pass: only kept points can come back.
    bool lifted;
    bool resting;
    bool kept;
};
void PrintTo(const KeepCase& c, std::ostream* os) {
    *os << c.name;
}

class BodyPairKeep : public testing::TestWithParam<KeepCase> {};

TEST_P(BodyPairKeep, StillShallowOrRestingPatchesAreKept) {
    const KeepCase& c = GetParam();
    RestingBox s(c.overlap);
    Script script;
    s.material->m_process = &Script::process;
    dgWorldCollideBodyPair(s.world(), s.box, s.ground);
    dgContact* joint = contactOf(s.box, s.ground);
    ASSERT_NE(joint, nullptr);
    const std::vector<dgMaterialPair*> first = pointsOf(joint, joint->m_pointCount);
    if (c.lifted) {
        dgBodySetMatrixInternal(s.box, translation(0.0f, 2.0f, 0.0f));
    }
    if (c.resting) {
        s.box->m_flags |= dgBodyFlagEquilibrium;
    }
    script.processed.clear();
    s.world()->m_stepStamp = 77;
    dgWorldCollideBodyPair(s.world(), s.box, s.ground);
    // Kept points are refreshed in list order; new ones arrive as made.
    EXPECT_EQ(script.processed == first, c.kept);
    EXPECT_EQ(joint->m_refreshStamp == 77u, c.kept || !c.lifted);
    EXPECT_EQ(joint->m_pointCount, 4);
    EXPECT_EQ(joint->m_points.getCount(), 4);
}

// 0.005 overlap leaves depth 0 after the skin; 0.015 leaves 0.0072.
INSTANTIATE_TEST_SUITE_P(Pass, BodyPairKeep,
                         testing::Values(KeepCase{"Still", 0.005f, false, false, true},
                                         KeepCase{"Deep", 0.015f, false, false, false},
                                         KeepCase{"DeepResting", 0.015f, false, true, true},
                                         KeepCase{"Lifted", 0.005f, true, false, false},
                                         KeepCase{"LiftedResting", 0.005f, true, true, true}),
                         [](const testing::TestParamInfo<KeepCase>& i) { return i.param.name; });

TEST(BodyPair, SteadyPassAllocatesNothing) {
    const float overlaps[2] = {0.005f, 0.015f};
    for (float overlap : overlaps) {
        RestingBox s(overlap);
        Script script;
        scriptAll(s.material);
        for (int32_t i = 0; i < 3; ++i) {
            dgWorldCollideBodyPair(s.world(), s.box, s.ground);
        }
        CountingHooks hooks(false);
        for (int32_t i = 0; i < 20; ++i) {
            dgWorldCollideBodyPair(s.world(), i & 1 ? s.ground : s.box, i & 1 ? s.box : s.ground);
        }
        EXPECT_EQ(hooks.allocCalls(), 0) << "overlap " << overlap;
        EXPECT_EQ(contactOf(s.box, s.ground)->m_pointCount, 4);
    }
}

// ---- compounds ----

enum class Other { box, compound, soup };

struct CompoundCase {
    const char* name;
    Other other;
    int32_t compoundAnswer;
    bool expectPoints;
};
void PrintTo(const CompoundCase& c, std::ostream* os) {
    *os << c.name;
}

class CompoundPass : public testing::TestWithParam<CompoundCase> {};

TEST_P(CompoundPass, ConvexChildrenStandInAndTheCompoundComesBack) {
    const CompoundCase& c = GetParam();
    ContactWorld scene;
    dgWorld* world = scene.world();
    // Five boxes, and a compound child and a soup child that make no
    // contacts: all reach down to the ground's top.
    std::vector<dgCollision*> children = rowOfBoxes(world, 5, 1.0f, 0.8f);
    children.push_back(boxRow(world, 2, 1.0f));
    children.push_back(flatSoup(world, 1.0f, -0.4f));
    dgCollision* mixed = compoundOf(world, children);
    dgBody* body = scene.addBody(mixed, turned(0.0f, 0.3f, 0.0f, dgVector(0, 0.895f, 0, 1)), 1.0f);
    dgBody* other = nullptr;
    if (c.other == Other::box) {
        other = scene.addBox(10.0f, 1.0f, 10.0f, translation(0.0f, 0.0f, 0.0f), 0.0f);
    } else if (c.other == Other::compound) {
        other = scene.addBody(boxRow(world, 7, 1.0f, 1.0f), turned(0.0f, 1.2f, 0.0f, dgVector(0, 0, 0, 1)), 0.0f);
    } else {
        other = scene.addBody(flatSoup(world, 10.0f, 0.5f), translation(0.0f, 0.0f, 0.0f), 0.0f);
    }
    const dgCompoundCollision* compound = static_cast<dgCompoundCollision*>(body->m_collision);
    dgCollision* otherShape = other->m_collision;
    dgMatrix matrix;
    dgMatrix otherMatrix;
    std::memcpy(&matrix, &body->m_collisionMatrix, sizeof(dgMatrix));
    std::memcpy(&otherMatrix, &other->m_collisionMatrix, sizeof(dgMatrix));

    Script script;
    scriptAll(dgWorldGetMaterialPair(world, 0, 0));
    script.compoundAnswer = c.compoundAnswer;
    for (int32_t order = 0; order < 2; ++order) {
        dgWorldCollideBodyPair(world, order ? other : body, order ? body : other);
        EXPECT_EQ(body->m_collision, compound);
        EXPECT_EQ(other->m_collision, otherShape);
        EXPECT_EQ(std::memcmp(&matrix, &body->m_collisionMatrix, sizeof(dgMatrix)), 0);
        EXPECT_EQ(std::memcmp(&otherMatrix, &other->m_collisionMatrix, sizeof(dgMatrix)), 0);
    }
    // Callbacks met convex children in place of the compounds.
    for (const dgCollision* shape : script.compoundShapes0) {
        EXPECT_NE(shape, compound);
        EXPECT_TRUE(shape->isClass(world->m_convexClassId));
    }
    for (size_t i = 0; i < script.compoundShapes1.size(); ++i) {
        if (c.other == Other::compound) {
            EXPECT_TRUE(script.compoundShapes1[i]->isClass(world->m_convexClassId));
        } else {
            EXPECT_EQ(script.compoundShapes1[i], otherShape);
        }
    }
    for (dgMaterialPair* p : script.processed) {
        EXPECT_TRUE(p->collision0->isClass(world->m_convexClassId));
    }
    EXPECT_EQ(c.other != Other::soup, !script.compoundShapes0.empty());
    dgContact* joint = contactOf(body, other);
    EXPECT_EQ(joint != nullptr, c.expectPoints);
    if (joint) {
        EXPECT_EQ(joint->m_body0, body);
        EXPECT_GT(joint->m_pointCount, 0);
        EXPECT_LE(joint->m_pointCount, 16);
        for (dgMaterialPair* p : pointsOf(joint, joint->m_pointCount)) {
            EXPECT_NEAR(p->normal.y, 1.0f, 1e-3f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pass, CompoundPass,
                         testing::Values(CompoundCase{"OnABox", Other::box, 1, true},
                                         CompoundCase{"OnABoxAllRefused", Other::box, 0, false},
                                         CompoundCase{"OnACompound", Other::compound, 1, true},
                                         CompoundCase{"OnACompoundAllRefused", Other::compound, 0, false},
                                         CompoundCase{"OnASoup", Other::soup, 0, true}),
                         [](const testing::TestParamInfo<CompoundCase>& i) { return i.param.name; });

// Random children of two compounds: the sweep meets every overlapping
// child pair exactly once, also with more children than the heaps start with.
TEST(CompoundPass, SweepPairsExactlyTheOverlappingChildren) {
    const int32_t counts[][2] = {{1, 1}, {3, 17}, {40, 25}, {600, 700}};
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> place(-6.0f, 6.0f);
    std::uniform_real_distribution<float> size(0.05f, 0.6f);
    for (const auto& count : counts) {
        ContactWorld scene;
        dgWorld* world = scene.world();
        dgBody* bodies[2];
        for (int32_t side = 0; side < 2; ++side) {
            std::vector<dgCollision*> children;
            for (int32_t i = 0; i < count[side]; ++i) {
                // Spread widest along a different axis per trial.
                const float spread = (count[0] % 3 == 0) ? 3.0f : 1.0f;
                const dgMatrix offset = translation(place(rng) * spread, place(rng) * 0.3f, place(rng));
                children.push_back(dgWorldCreateBox(world, size(rng), size(rng), size(rng), offset));
            }
            bodies[side] = scene.addBody(compoundOf(world, children), translation(0.0f, 0.0f, 0.0f), 1.0f);
        }
        const dgCompoundCollision* a = static_cast<dgCompoundCollision*>(bodies[0]->m_collision);
        const dgCompoundCollision* b = static_cast<dgCompoundCollision*>(bodies[1]->m_collision);
        std::set<std::pair<const dgCollision*, const dgCollision*>> expected;
        for (int32_t i = 0; i < a->getChildCount(); ++i) {
            for (int32_t j = 0; j < b->getChildCount(); ++j) {
                if (dgBoxOverlap(a->getChildBoxMin(i), a->getChildBoxMax(i), b->getChildBoxMin(j),
                                 b->getChildBoxMax(j))) {
                    expected.insert({a->getChild(i), b->getChild(j)});
                }
            }
        }
        Script script;
        scriptAll(dgWorldGetMaterialPair(world, 0, 0));
        // Refusing every pairing keeps the generators out of it.
        script.compoundAnswer = 0;
        dgWorldContactsCompound(world, bodies[0], bodies[1], dgWorldGetMaterialPair(world, 0, 0));
        std::set<std::pair<const dgCollision*, const dgCollision*>> seen;
        for (size_t i = 0; i < script.compoundShapes0.size(); ++i) {
            EXPECT_TRUE(seen.insert({script.compoundShapes0[i], script.compoundShapes1[i]}).second);
        }
        EXPECT_EQ(seen, expected) << count[0] << " + " << count[1] << " children";
        EXPECT_EQ(bodies[0]->m_collision, a);
        EXPECT_EQ(bodies[1]->m_collision, b);
    }
}

TEST(CompoundPass, ManyChildrenOnTheGroundKeepSixteenPoints) {
    ContactWorld scene;
    dgWorld* world = scene.world();
    dgBody* ground = scene.addBox(100.0f, 1.0f, 100.0f, translation(0.0f, 0.0f, 0.0f), 0.0f);
    // 40 boxes of 4 points each: the gathered points are thinned on the way.
    dgBody* body = scene.addBody(boxRow(world, 40, 1.0f), translation(0.0f, 0.5f + 0.4f - 0.005f, 0.0f), 1.0f);
    dgWorldCollideBodyPair(world, ground, body);
    dgContact* joint = contactOf(body, ground);
    ASSERT_NE(joint, nullptr);
    EXPECT_EQ(joint->m_pointCount, 16);
    EXPECT_EQ(joint->m_maxRows, 48);
}

TEST(CompoundPass, VehiclesAreQueuedForTheirTires) {
    for (int32_t vehicle = 0; vehicle < 2; ++vehicle) {
        ContactWorld scene;
        dgWorld* world = scene.world();
        dgBody* ground = scene.addBox(10.0f, 1.0f, 10.0f, translation(0.0f, 0.0f, 0.0f), 0.0f);
        dgBody* body = scene.addBody(boxRow(world, 2, 1.0f), translation(0.0f, 0.895f, 0.0f), 1.0f);
        if (vehicle) {
            body->m_collision->setFlagBits(dgShapeFlagVehicle);
        }
        dgWorldCollideBodyPair(world, ground, body);
        ASSERT_NE(contactOf(body, ground), nullptr);
        EXPECT_EQ(world->m_vehicleWorkList.getCount(), vehicle);
        if (vehicle) {
            EXPECT_EQ(world->m_vehicleWorkList.getRoot()->getPayload(), body);
            // Never kept as resting: the next pass generates again.
            body->m_flags |= dgBodyFlagEquilibrium;
            world->m_stepStamp = 99;
            dgWorldCollideBodyPair(world, ground, body);
            EXPECT_FALSE(body->m_flags & dgBodyFlagEquilibrium);
            EXPECT_EQ(world->m_vehicleWorkList.getCount(), 1);
            EXPECT_EQ(contactOf(body, ground)->m_refreshStamp, 99u);
        }
    }
}

}  // namespace
