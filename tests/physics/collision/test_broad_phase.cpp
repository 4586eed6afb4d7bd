#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ContactTestWorld.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgIntersections.h"
#include "dgMaterialPair.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef std::pair<dgBody*, dgBody*> BodyPair;

BodyPair unordered(dgBody* a, dgBody* b) {
    return (a < b) ? BodyPair(a, b) : BodyPair(b, a);
}

dgMatrix at(float x, float y, float z) {
    return translation(x, y, z);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// What the callbacks saw. Pairs reach the test through the begin callback of
// material pair (0, 0), which records them and refuses the contacts.
std::vector<BodyPair> g_begun;
std::map<dgBody*, int32_t> g_forceCalls;
std::vector<std::pair<dgBody*, uint32_t>> g_activations;
std::vector<dgBody*> g_outOfBounds;
std::vector<dgBody*> g_visited;
std::mt19937 g_callbackRng;

int32_t recordBegin(dgMaterialPair*, dgBody* a, dgBody* b) {
    g_begun.push_back(unordered(a, b));
    return 0;
}
void countForce(dgBody* body) {
    ++g_forceCalls[body];
}
void recordActivation(dgBody* body, uint32_t state) {
    g_activations.emplace_back(body, state);
}
void leaveOutside(dgBody* body) {
    g_outOfBounds.push_back(body);
}
// Brings a body that left the world back to a random place inside.
void returnInside(dgBody* body) {
    g_outOfBounds.push_back(body);
    std::uniform_real_distribution<float> u(-80.0f, 80.0f);
    const float x = u(g_callbackRng);
    dgBodySetMatrixInternal(body, at(x, 0.0f, u(g_callbackRng)));
}
// Counts the call, and now and then nudges the body or throws it out.
void forceThatMoves(dgBody* body) {
    ++g_forceCalls[body];
    const int32_t roll = std::uniform_int_distribution<int32_t>(0, 99)(g_callbackRng);
    dgMatrix pose = body->m_matrix;
    pose.position.x += (roll < 6) ? 1.5f : 0.0f;
    pose.position.z = (roll >= 6 && roll < 9) ? 150.0f : pose.position.z;
    dgBodySetMatrixInternal(body, pose);
}
void visit(dgBody* body) {
    g_visited.push_back(body);
}
float keepGoing(dgBody* body, const float*, uint32_t, void*, float) {
    g_visited.push_back(body);
    return 1.1f;
}
float stopAtHit(dgBody* body, const float*, uint32_t, void*, float t) {
    g_visited.push_back(body);
    return t;
}

struct alignas(16) BodyStorage {
    unsigned char bytes[sizeof(dgBody)];
};

// A world whose bodies are filed the way body creation files them; every
// body leaves the broad phase and the trees before the world goes.
class Scene {
public:
    Scene() : m_world(dgWorldCreate(nullptr, nullptr)) {
        dgWorldGetMaterialPair(m_world, 0, 0)->m_begin = recordBegin;
        g_begun.clear();
        g_forceCalls.clear();
        g_activations.clear();
        g_outOfBounds.clear();
        g_visited.clear();
        g_callbackRng.seed(5);
    }
    ~Scene() {
        while (!m_bodies.empty()) {
            destroy(m_bodies.back());
        }
        for (dgCollision* shape : m_shapes) {
            dgReleaseCollision(m_world, shape);
        }
        dgWorldDestroy(m_world);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    dgWorld* world() const { return m_world; }
    dgBroadPhase* broadPhase() const { return &m_world->m_broadPhase; }
    const std::vector<dgBody*>& bodies() const { return m_bodies; }

    // A box, or the null shape for a zero size.
    dgCollision* box(float dx, float dy, float dz) {
        m_shapes.push_back(dx > 0.0f ? dgCreateBox(m_world, dx, dy, dz, nullptr) : dgCreateNull(m_world));
        return m_shapes.back();
    }
    // A cleared body holding shape, in the body tree (and the active tree
    // when awake), filed, then placed.
    dgBody* add(dgCollision* shape, const dgMatrix& pose, float invMass, bool awake) {
        dgBody* body = make(shape, invMass, awake);
        dgBroadPhaseAddBody(broadPhase(), body);
        dgBodySetMatrixInternal(body, pose);
        return body;
    }
    dgBody* make(dgCollision* shape, float invMass, bool awake) {
        m_storage.emplace_back(new BodyStorage);
        dgBody* body = dgBody::createCleared(m_storage.back().get());
        body->m_world = m_world;
        body->m_collision = shape;
        shape->addRef();
        body->m_invMass = dgVector(invMass, invMass, invMass, invMass);
        body->m_flags = dgBodyFlagAutoFreeze;
        body->m_serial = ++m_world->m_bodySerial;
        m_world->m_bodyTree.insert(body, dgBodyKey(body));
        if (awake) {
            wake(body);
        }
        m_bodies.push_back(body);
        return body;
    }
    void wake(dgBody* body) {
        body->m_flags |= dgBodyFlagActive;
        if (!body->m_activeNode) {
            body->m_activeNode = m_world->m_activeBodyTree.insert(body, dgBodyKey(body));
        }
    }
    void sleep(dgBody* body) {
        body->m_flags &= ~uint32_t(dgBodyFlagActive);
        if (body->m_activeNode) {
            m_world->m_activeBodyTree.remove(body->m_activeNode);
            body->m_activeNode = nullptr;
        }
    }
    void destroy(dgBody* body) {
        dgBroadPhaseRemoveBody(broadPhase(), body);
        sleep(body);
        m_world->m_bodyTree.removeKey(dgBodyKey(body));
        dgReleaseCollision(m_world, body->m_collision);
        m_bodies.erase(std::find(m_bodies.begin(), m_bodies.end(), body));
    }
    void attach(dgBody* body0, dgBody* body1) {
        m_joints.emplace_back(new contacttest::TestJoint);
        ASSERT_TRUE(dgWorldAttachConstraint(m_world, m_joints.back().get(), body0, body1));
    }

    // The pair test: boxes overlap, one of the two is awake and movable,
    // neither has the null shape.
    bool mayInteract(const dgBody* a, const dgBody* b) const {
        const auto moves = [](const dgBody* body) {
            return (body->m_flags & dgBodyFlagActive) && (body->m_invMass.w > 0.0f);
        };
        const uint32_t nullId = m_world->m_nullClassId;
        return dgBoxOverlap(a->m_minAABB, a->m_maxAABB, b->m_minAABB, b->m_maxAABB) && (moves(a) || moves(b)) &&
               !a->m_collision->isClass(nullId) && !b->m_collision->isClass(nullId);
    }
    std::set<BodyPair> expectedPairs() const {
        std::set<BodyPair> pairs;
        for (size_t i = 0; i < m_bodies.size(); i++) {
            for (size_t j = i + 1; j < m_bodies.size(); j++) {
                if (m_bodies[i]->m_broadPhaseCell && m_bodies[j]->m_broadPhaseCell &&
                    mayInteract(m_bodies[i], m_bodies[j])) {
                    pairs.insert(unordered(m_bodies[i], m_bodies[j]));
                }
            }
        }
        return pairs;
    }

private:
    dgWorld* m_world;
    std::vector<dgCollision*> m_shapes;
    std::vector<std::unique_ptr<BodyStorage>> m_storage;
    std::vector<std::unique_ptr<contacttest::TestJoint>> m_joints;
    std::vector<dgBody*> m_bodies;
};

std::vector<dgBroadPhaseCell*> treeCells(const dgBroadPhase* bp) {
    std::vector<dgBroadPhaseCell*> cells;
    if (bp->m_root) {
        cells.push_back(bp->m_root);
    }
    for (size_t i = 0; i < cells.size(); i++) {
        for (dgBroadPhaseCell* child : cells[i]->m_children) {
            if (child) {
                cells.push_back(child);
            }
        }
    }
    return cells;
}

// Every filing invariant against a recount: the tree's shape, each filed body
// in one cell (the deepest that holds it) and in its three lists, the lists
// sorted by the current box minima, each entry holding its body's current
// box bit for bit, counts and sums, the queue, no empty cell left in the
// tree and none holding bodies in the pool.
::testing::AssertionResult filingHolds(const Scene& scene) {
    const dgBroadPhase* bp = scene.broadPhase();
    const auto fail = [](const char* what) { return ::testing::AssertionFailure() << what; };
    std::map<const dgBody*, int32_t> seen;
    if (bp->m_root && (bp->m_root->m_parent || bp->m_root->m_size != bp->m_rootSize ||
                       bp->m_root->m_corner[0] != bp->m_worldMin.x || bp->m_root->m_corner[2] != bp->m_worldMin.z)) {
        return fail("root misplaced");
    }
    for (const dgBroadPhaseCell* cell : treeCells(bp)) {
        const float h = cell->m_size * 0.5f;
        int32_t children = 0;
        for (int32_t q = 0; q < 4; q++) {
            const dgBroadPhaseCell* child = cell->m_children[q];
            children += child ? 1 : 0;
            if (child && (child->m_parent != cell || child->m_level != cell->m_level + 1 || child->m_size != h ||
                          child->m_corner[0] != cell->m_corner[0] + float(q & 1) * h ||
                          child->m_corner[2] != cell->m_corner[2] + float(q >> 1) * h)) {
                return fail("child misplaced");
            }
        }
        if (children != cell->m_childCount || (!children && !cell->m_bodyCount)) {
            return fail("child count wrong or empty cell kept");
        }
        for (int32_t axis = 0; axis < 3; axis++) {
            const dgBroadPhaseAxisList& list = cell->m_axisLists[axis];
            int32_t count = 0;
            double sum = 0.0;
            double squares = 0.0;
            float previous = -kInf;
            for (dgBroadPhaseAxisList::Node* node = list.m_list.getFirst(); node; node = node->getNext()) {
                const dgBroadPhaseAxisEntry& entry = node->getValue();
                const dgBody* body = entry.body;
                const float key = entry.key;
                if (body->m_broadPhaseCell != cell || body->m_axisListNodes[axis] != node ||
                    key != body->m_minAABB[axis] || key < previous) {
                    return fail("entry stale, unsorted or not named by its body");
                }
                for (int32_t i = 0; i < 3; i++) {
                    if (std::memcmp(&entry.box.minimum[i], &body->m_minAABB[i], sizeof(float)) ||
                        std::memcmp(&entry.box.maximum[i], &body->m_maxAABB[i], sizeof(float))) {
                        return fail("entry box differs from the body's");
                    }
                }
                previous = key;
                count++;
                sum += key;
                squares += double(key) * key;
                seen[body] += (axis == 0) ? 1 : 0;
                const dgBroadPhaseCell* parent = cell->m_parent;
                if ((cell->m_level < 9 && dgBroadPhaseCellQuadrant(h, cell, body->m_minAABB, body->m_maxAABB) < 4) ||
                    (parent && parent->m_children[std::min(3, dgBroadPhaseCellQuadrant(parent->m_size * 0.5f, parent,
                                                                                       body->m_minAABB,
                                                                                       body->m_maxAABB))] != cell)) {
                    return fail("body not in the deepest cell that holds it");
                }
            }
            if (count != cell->m_bodyCount || std::fabs(list.m_sum - sum) > 1e-9 * (1.0 + squares) ||
                std::fabs(list.m_sumSquares - squares) > 1e-9 * (1.0 + squares)) {
                return fail("body count or sums differ from a recount");
            }
        }
    }
    for (const dgBody* body : scene.bodies()) {
        if (seen[body] != (body->m_broadPhaseCell ? 1 : 0) ||
            (body->m_queueNode && body->m_queueNode->getValue() != body)) {
            return fail("body filed or queued wrongly");
        }
    }
    std::set<const dgBody*> queued;
    for (dgBroadPhaseQueueNode* node = bp->m_queue.getFirst(); node; node = node->getNext()) {
        if (node->getValue()->m_queueNode != node || !queued.insert(node->getValue()).second) {
            return fail("queue entry inconsistent");
        }
    }
    if (bp->m_queue.getCount() > 2 * bp->m_queueThreshold || seen.size() > scene.bodies().size()) {
        return fail("queue too long or a stranger filed");
    }
    for (dgBroadPhaseCellPool::Node* node = bp->m_cellPool->getFirst(); node; node = node->getNext()) {
        if (node->getValue()->m_axisLists[0].m_list.getCount()) {
            return fail("recycled cell holds bodies");
        }
    }
    return ::testing::AssertionSuccess();
}

// One update: the contact pass must be handed each expected pair once.
::testing::AssertionResult updateHandsExactlyThePairs(Scene& scene, int32_t* pairCount = nullptr) {
    g_begun.clear();
    dgBroadPhaseUpdate(scene.broadPhase());
    std::vector<BodyPair> handed = g_begun;
    std::sort(handed.begin(), handed.end());
    const std::set<BodyPair> expected = scene.expectedPairs();
    if (std::adjacent_find(handed.begin(), handed.end()) != handed.end() ||
        std::set<BodyPair>(handed.begin(), handed.end()) != expected) {
        return ::testing::AssertionFailure() << "handed " << handed.size() << " pairs, expected " << expected.size();
    }
    if (pairCount) {
        *pairCount += int32_t(handed.size());
    }
    return ::testing::AssertionSuccess();
}

// The incremental path stamps the cells it chooses an axis for.
bool incrementalRan(const dgBroadPhase* bp) {
    for (const dgBroadPhaseCell* cell : treeCells(bp)) {
        if (cell->m_axisStamp == bp->m_stamp) {
            return true;
        }
    }
    return false;
}

// ---- filing and pairs against brute force over random operations ----

struct Scenario {
    const char* name;
    float awakeChance;
    dgBodyOutOfBoundsCallback outOfBounds;
    dgBodyForceAndTorqueCallback force;
    // Updates that must have taken each path.
    int32_t minIncremental;
    int32_t minFull;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

class BroadPhaseRandom : public ::testing::TestWithParam<Scenario> {};

TEST_P(BroadPhaseRandom, EveryUpdateHandsExactlyThePairsThatPassThePairTest) {
    const Scenario& scenario = GetParam();
    HookGuard hooks;
    Scene scene;
    dgWorldSetOutOfBoundsCallback(scene.world(), scenario.outOfBounds);
    dgCollision* shapes[] = {scene.box(0.3f, 0.3f, 0.3f),   scene.box(2.0f, 1.0f, 3.0f),  scene.box(6.0f, 2.0f, 5.0f),
                             scene.box(15.0f, 3.0f, 12.0f), scene.box(45.0f, 2.0f, 30.0f), scene.box(0, 0, 0)};
    // Kept out of the world's body set, so that no re-filing picks it up.
    dgBody* unfiled = scene.make(shapes[1], 1.0f, false);
    scene.world()->m_bodyTree.removeKey(dgBodyKey(unfiled));

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> inside(-90.0f, 90.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto place = [&](float jitter) {
        return dgVector(inside(rng) * jitter, (unit(rng) - 0.5f) * 6.0f * jitter, inside(rng) * jitter, 0.0f);
    };
    const auto anyBody = [&]() {
        return scene.bodies()[std::uniform_int_distribution<size_t>(1, scene.bodies().size() - 1)(rng)];
    };
    const auto addAny = [&]() {
        const dgVector p = place(1.0f);
        scene.add(shapes[std::uniform_int_distribution<int32_t>(0, 5)(rng)], at(p.x, p.y, p.z),
                  (unit(rng) < 0.25f) ? 0.0f : 1.0f, unit(rng) < scenario.awakeChance)
            ->m_forceAndTorque = scenario.force;
    };
    for (int32_t i = 0; i < 60; i++) {
        addAny();
    }
    int32_t updates = 0;
    int32_t incremental = 0;
    int32_t pairCount = 0;
    for (int32_t step = 0; step < 2500; step++) {
        const float roll = unit(rng);
        if (scene.bodies().size() < 3 || (roll < 0.10f && scene.bodies().size() < 140)) {
            addAny();
        } else if (roll < 0.17f) {
            scene.destroy(anyBody());
        } else if (roll < 0.52f) {
            // Small moves, and large ones anywhere in the world.
            dgBody* body = anyBody();
            const dgVector p = (roll < 0.40f) ? body->m_matrix.position + place(1.0f / 90.0f) : place(1.0f);
            dgBodySetMatrixInternal(body, at(p.x, p.y, p.z));
        } else if (roll < 0.57f) {
            // Out of the world across one face.
            dgVector p = place(1.0f);
            p[std::uniform_int_distribution<int32_t>(0, 2)(rng)] = (unit(rng) < 0.5f) ? -160.0f : 160.0f;
            dgBodySetMatrixInternal(anyBody(), at(p.x, p.y, p.z));
        } else if (roll < 0.62f) {
            dgBody* body = anyBody();
            if (body->m_flags & dgBodyFlagActive) {
                scene.sleep(body);
            } else {
                scene.wake(body);
            }
        } else if (roll < 0.635f) {
            const float lo = -100.0f - 20.0f * unit(rng);
            dgBroadPhaseSetWorldSize(scene.broadPhase(), dgVector(lo, -100.0f, lo, 0.0f),
                                     dgVector(100.0f, 100.0f, 100.0f, 0.0f));
        } else if (roll < 0.65f) {
            // Filing a filed body again, removing or moving an unfiled one.
            dgBroadPhaseAddBody(scene.broadPhase(), anyBody());
            dgBroadPhaseRemoveBody(scene.broadPhase(), unfiled);
            dgBroadPhaseMoveBody(scene.broadPhase(), unfiled);
            ASSERT_EQ(unfiled->m_broadPhaseCell, nullptr);
        } else {
            g_forceCalls.clear();
            std::map<dgBody*, int32_t> toRefresh;
            for (dgBodyTree::Node* node : scene.world()->m_activeBodyTree) {
                if (node->getPayload()->m_invMass.w != 0.0f && scenario.force) {
                    toRefresh[node->getPayload()] = 1;
                }
            }
            ASSERT_TRUE(updateHandsExactlyThePairs(scene, &pairCount)) << "update " << updates;
            updates++;
            incremental += incrementalRan(scene.broadPhase()) ? 1 : 0;
            // Each awake movable body's force callback ran once.
            ASSERT_EQ(g_forceCalls, toRefresh);
        }
        ASSERT_TRUE(filingHolds(scene)) << "step " << step;
    }
    EXPECT_GE(incremental, scenario.minIncremental);
    EXPECT_GE(updates - incremental, scenario.minFull);
    EXPECT_GT(pairCount, 5 * updates);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BroadPhaseRandom,
                         ::testing::Values(Scenario{"Quiet", 0.08f, nullptr, nullptr, 100, 10},
                                           Scenario{"Busy", 0.5f, nullptr, countForce, 0, 100},
                                           Scenario{"CallbacksMoveBodies", 0.15f, returnInside, forceThatMoves, 20, 20}),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

int32_t g_staleHanded = 0;
Scene* g_scene = nullptr;

// Throws the first body of every pair elsewhere while the update still hands
// out pairs: cells empty and are recycled, lists reorder.
int32_t scatterBegin(dgMaterialPair*, dgBody* a, dgBody* b) {
    g_begun.push_back(unordered(a, b));
    g_staleHanded += g_scene->mayInteract(a, b) ? 0 : 1;
    std::uniform_real_distribution<float> u(-40.0f, 40.0f);
    const float x = u(g_callbackRng);
    dgBodySetMatrixInternal(a, at(x, 0.0f, u(g_callbackRng)));
    return 0;
}

TEST(BroadPhasePairs, CallbacksThatMoveBodiesDuringThePassLeaveTheFilingIntact) {
    HookGuard hooks;
    Scene scene;
    g_scene = &scene;
    g_staleHanded = 0;
    dgWorldGetMaterialPair(scene.world(), 0, 0)->m_begin = scatterBegin;
    dgCollision* shapes[] = {scene.box(0.4f, 1.0f, 0.4f), scene.box(3.0f, 1.0f, 3.0f), scene.box(12.0f, 1.0f, 9.0f)};
    std::mt19937 rng(61);
    std::uniform_real_distribution<float> inside(-40.0f, 40.0f);
    for (int32_t i = 0; i < 150; i++) {
        scene.add(shapes[i % 3], at(inside(rng), 0.0f, inside(rng)), (i % 5) ? 1.0f : 0.0f, (i % 4) == 0);
    }
    for (int32_t update = 0; update < 20; update++) {
        dgBroadPhaseUpdate(scene.broadPhase());
        ASSERT_TRUE(filingHolds(scene)) << "update " << update;
    }
    EXPECT_GT(g_begun.size(), 100u);
    // Each pair is tested again with the boxes as they are when it is handed.
    EXPECT_EQ(g_staleHanded, 0);
}

// ---- the force pass and leaving the world ----

// The first body refreshed throws itself out of the world.
void throwOut(dgBody* body) {
    ++g_forceCalls[body];
    if (g_forceCalls.size() == 1) {
        dgBodySetMatrixInternal(body, at(0.0f, 0.0f, 500.0f));
    }
}

class BroadPhaseLeavingWorld : public ::testing::TestWithParam<dgBodyOutOfBoundsCallback> {};

// The body that leaves is put to sleep until the callback brings it back,
// and every other awake body is still refreshed, once.
TEST_P(BroadPhaseLeavingWorld, DuringTheRefreshSleepsTheBodyAndRefreshesTheOthers) {
    HookGuard hooks;
    Scene scene;
    dgWorldSetOutOfBoundsCallback(scene.world(), GetParam());
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    for (int32_t i = 0; i < 8; i++) {
        dgBody* body = scene.add(shape, at(-60.0f + 15.0f * float(i), 0.0f, 0.0f), 1.0f, true);
        body->m_forceAndTorque = throwOut;
        body->m_activation = recordActivation;
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    ASSERT_EQ(g_forceCalls.size(), 8u);
    for (const auto& call : g_forceCalls) {
        EXPECT_EQ(call.second, 1);
    }
    ASSERT_EQ(g_activations.size(), 1u);
    dgBody* thrown = g_activations[0].first;
    EXPECT_EQ(g_activations[0].second, 0u);
    EXPECT_NE(thrown->m_broadPhaseCell, nullptr);
    const bool back = GetParam() == returnInside;
    // Left outside, it meets the callback again when its box is refreshed.
    EXPECT_EQ(g_outOfBounds.size(), GetParam() ? (back ? 1u : 2u) : 0u);
    if (!back) {
        // Without a callback that brings it back it sleeps, even back inside.
        dgBodySetMatrixInternal(thrown, at(0.0f, 0.0f, 0.0f));
    }
    const uint32_t awakeBits = dgBodyFlagActive | dgBodyFlagAutoFreeze;
    EXPECT_EQ(thrown->m_flags & awakeBits, back ? awakeBits : 0u);
    EXPECT_EQ(thrown->m_activeNode, scene.world()->m_activeBodyTree.find(dgBodyKey(thrown)));
    EXPECT_EQ(scene.world()->m_activeBodyTree.getCount(), back ? 8 : 7);
    EXPECT_TRUE(scene.world()->m_activeBodyTree.sanityCheck());
    EXPECT_TRUE(filingHolds(scene));
}

INSTANTIATE_TEST_SUITE_P(OutOfBounds, BroadPhaseLeavingWorld, ::testing::Values(nullptr, leaveOutside, returnInside));

class BroadPhaseRefreshPile : public ::testing::TestWithParam<bool> {};

// More movable bodies than the 512-pointer workspace holds: awake seeds, or
// one awake body whose joint ring reaches the whole sleeping pile.
TEST_P(BroadPhaseRefreshPile, GrowsPastTheWorkspaceAndRefreshesEachMovableBodyOnce) {
    const bool awake = GetParam();
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.2f, 0.2f, 0.2f);
    dgBody* hub = scene.add(shape, at(0.5f, 0.0f, 0.5f), 1.0f, true);
    std::map<dgBody*, int32_t> expected{{hub, 1}};
    for (int32_t i = 0; i < 700; i++) {
        const float invMass = (i % 7) ? 1.0f : 0.0f;
        dgBody* body = scene.add(shape, at(-70.0f + 0.5f * float(i % 280), 0.0f, -70.0f + 2.0f * float(i / 280)),
                                 invMass, awake);
        if (invMass > 0.0f) {
            expected[body] = 1;
        }
        if (!awake) {
            scene.attach(hub, body);
        }
    }
    for (dgBody* body : scene.bodies()) {
        body->m_forceAndTorque = countForce;
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(g_forceCalls, expected);
    EXPECT_TRUE(filingHolds(scene));
}

INSTANTIATE_TEST_SUITE_P(Piles, BroadPhaseRefreshPile, ::testing::Bool());

// ---- world size ----

struct SizeCase {
    dgVector minimum, maximum;
    // Expected corners and root size; a root size of 0 expects the old size kept.
    dgVector worldMin, worldMax;
    float rootSize;
};

class BroadPhaseWorldSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BroadPhaseWorldSize, SnapsTheCornerRoundsTheSquareUpAndRefusesDegenerateExtents) {
    const SizeCase& c = GetParam();
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.5f, 0.5f, 0.5f);
    for (int32_t i = 0; i < 20; i++) {
        scene.add(shape, at(-45.0f + 4.5f * float(i), 0.0f, 20.0f - 2.0f * float(i)), 1.0f, true);
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    const uint64_t stamp = scene.broadPhase()->m_stamp;
    dgBroadPhaseSetWorldSize(scene.broadPhase(), c.minimum, c.maximum);
    const bool refused = c.rootSize == 0.0f;
    dgVector lo;
    dgVector hi;
    dgBroadPhaseGetWorldSize(scene.broadPhase(), lo, hi);
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_EQ(lo[i], refused ? -100.0f : c.worldMin[i]) << i;
        EXPECT_EQ(hi[i], refused ? 100.0f : c.worldMax[i]) << i;
    }
    EXPECT_EQ(scene.broadPhase()->m_rootSize, refused ? 200.0f : c.rootSize);
    EXPECT_EQ(scene.broadPhase()->m_stamp, refused ? stamp : 1u);
    EXPECT_TRUE(filingHolds(scene));
    EXPECT_TRUE(updateHandsExactlyThePairs(scene));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BroadPhaseWorldSize,
    ::testing::Values(
        SizeCase{{-100, -100, -100, 0}, {100, 100, 100, 0}, {-100, -100, -100, 0}, {100, 100, 100, 0}, 200.0f},
        // 0.001 x 512 floors to 0, 0.003 x 512 to 1.
        SizeCase{{0.001f, -5, 0.003f, 0}, {10, 5, 10, 0}, {0, -5, 1.0f / 512, 0}, {10, 5, 10 + 1.0f / 512, 0}, 10.0f},
        SizeCase{{0, 0, 0, 0}, {10.3f, 1, 10.3f, 0}, {0, 0, 0, 0}, {11, 1, 11, 0}, 11.0f},
        // The larger of the X and Z extents makes the square.
        SizeCase{{0, 0, 0, 0}, {5, 1, 7, 0}, {0, 0, 0, 0}, {7, 1, 7, 0}, 7.0f},
        SizeCase{{-30, -10, -20, 0}, {30, 10, 20, 0}, {-30, -10, -20, 0}, {30, 10, 40, 0}, 60.0f},
        // Zero, negative, not a number (the Z extent alone too), infinite, 2^30.
        SizeCase{{5, -1, 5, 0}, {5, 1, 5, 0}, {}, {}, 0.0f}, SizeCase{{5, -1, 5, 0}, {-5, 1, -5, 0}, {}, {}, 0.0f},
        SizeCase{{kNaN, -1, 0, 0}, {10, 1, 10, 0}, {}, {}, 0.0f}, SizeCase{{0, -1, 0, 0}, {10, 1, kNaN, 0}, {}, {}, 0.0f},
        SizeCase{{-kInf, -1, 0, 0}, {10, 1, 10, 0}, {}, {}, 0.0f},
        SizeCase{{0, -1, 0, 0}, {1073741824.0f, 1, 10, 0}, {}, {}, 0.0f},
        SizeCase{{-3e38f, -1, -3e38f, 0}, {3e38f, 1, 3e38f, 0}, {}, {}, 0.0f},
        // Denormal extents: one that halves to a root of size 0, one that
        // would round up to a whole unit, and one on Y alone; an inverted Y
        // range and a flat Z range, each with the other axes sound.
        SizeCase{{0, -1, 0, 0}, {1e-44f, 1, 1e-44f, 0}, {}, {}, 0.0f},
        SizeCase{{0, -1, 0, 0}, {1e-40f, 1, 1e-40f, 0}, {}, {}, 0.0f},
        SizeCase{{0, 0, 0, 0}, {10, 1e-40f, 10, 0}, {}, {}, 0.0f}, SizeCase{{0, 1, 0, 0}, {10, -1, 10, 0}, {}, {}, 0.0f},
        SizeCase{{0, -1, 3, 0}, {10, 1, 3, 0}, {}, {}, 0.0f}));

TEST(BroadPhaseWorldSize, GridScaleFollowsTheRootSize) {
    HookGuard hooks;
    Scene scene;
    EXPECT_EQ(scene.broadPhase()->m_gridScale, 2048.0f);
    EXPECT_EQ(scene.broadPhase()->m_invGridScale, 1.0f / 2048.0f);
}

// ---- filing edge cases ----

TEST(BroadPhaseFiling, BodiesStopAtTheFirstMidlineTheyTouchAndNineLevelsDown) {
    HookGuard hooks;
    Scene scene;
    // The root's midlines are x = 0 and z = 0: min.x = 0 touches one.
    dgBody* onMidline = scene.add(scene.box(2.0f, 1.0f, 2.0f), at(1.0f, 0.0f, 50.0f), 0.0f, false);
    EXPECT_EQ(onMidline->m_broadPhaseCell, scene.broadPhase()->m_root);
    dgBody* tiny = scene.add(scene.box(0.01f, 0.01f, 0.01f), at(37.3f, 0.0f, -61.7f), 0.0f, false);
    EXPECT_EQ(tiny->m_broadPhaseCell->m_level, 9);
    EXPECT_EQ(tiny->m_broadPhaseCell->m_size, 200.0f / 512.0f);
    // A new body starts at the root; its first box refresh moves it down.
    dgBody* fresh = scene.make(scene.box(0.01f, 0.01f, 0.01f), 0.0f, false);
    dgBroadPhaseAddBody(scene.broadPhase(), fresh);
    EXPECT_EQ(fresh->m_broadPhaseCell, scene.broadPhase()->m_root);
    dgBodySetMatrixInternal(fresh, at(37.3f, 0.0f, -61.7f));
    EXPECT_EQ(fresh->m_broadPhaseCell, tiny->m_broadPhaseCell);
    EXPECT_TRUE(filingHolds(scene));
}

TEST(BroadPhaseFiling, EmptiedCellsAreRecycledUpToTheRootAndReusedFirst) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.05f, 0.05f, 0.05f);
    for (int32_t i = 0; i < 12; i++) {
        scene.add(shape, at(-83.0f + 14.1f * float(i), 0.0f, 71.0f - 12.7f * float(i)), 0.0f, false);
    }
    std::vector<dgMatrix> poses;
    for (const dgBody* body : scene.bodies()) {
        poses.push_back(body->m_matrix);
    }
    const int32_t cells = int32_t(treeCells(scene.broadPhase()).size());
    const int32_t pooled = scene.broadPhase()->m_cellPool->getCount();
    ASSERT_GE(cells, 40);
    while (!scene.bodies().empty()) {
        scene.destroy(scene.bodies().back());
        ASSERT_TRUE(filingHolds(scene));
    }
    EXPECT_EQ(scene.broadPhase()->m_root, nullptr);
    EXPECT_EQ(scene.broadPhase()->m_cellPool->getCount(), pooled + cells);
    for (const dgMatrix& pose : poses) {
        scene.add(shape, pose, 0.0f, false);
    }
    EXPECT_EQ(int32_t(treeCells(scene.broadPhase()).size()), cells);
    EXPECT_EQ(scene.broadPhase()->m_cellPool->getCount(), pooled);
}

TEST(BroadPhaseQueue, TenBodiesGiveThresholdTenAndElevenMovedBodiesTheFullSweep) {
    HookGuard hooks;
    Scene scene;
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(scene.broadPhase()->m_queueThreshold, 2);
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    const auto moveAll = [&]() {
        for (dgBody* body : scene.bodies()) {
            dgBodySetMatrixInternal(body, at(body->m_matrix.position.x, body->m_matrix.position.y + 0.5f,
                                             body->m_matrix.position.z));
        }
    };
    for (int32_t i = 0; i < 25; i++) {
        scene.add(shape, at(-45.0f + 4.0f * float(i), 0.0f, 3.0f * float(i) - 30.0f), 0.0f, false);
        if (i == 9) {
            dgBroadPhaseUpdate(scene.broadPhase());
            ASSERT_EQ(scene.broadPhase()->m_queueThreshold, 10);
        }
    }
    // The queue takes up to twice the threshold.
    moveAll();
    EXPECT_EQ(scene.broadPhase()->m_queue.getCount(), 20);
    while (scene.bodies().size() > 10) {
        scene.destroy(scene.bodies().back());
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    for (int32_t moved = 10; moved <= 11; moved++) {
        if (moved == 11) {
            scene.add(shape, at(0.0f, 0.0f, -80.0f), 0.0f, false);
            dgBroadPhaseUpdate(scene.broadPhase());
        }
        ASSERT_EQ(scene.broadPhase()->m_queueThreshold, 10);
        moveAll();
        ASSERT_EQ(scene.broadPhase()->m_queue.getCount(), moved);
        dgBroadPhaseUpdate(scene.broadPhase());
        EXPECT_EQ(incrementalRan(scene.broadPhase()), moved == 10);
        EXPECT_EQ(scene.broadPhase()->m_queue.getCount(), 0);
    }
}

// The sums are rebuilt on the first axis choice after more than 10000
// changes, however many more: 32767 of them would wrap a 16-bit counter.
TEST(BroadPhaseSortAxis, SumsAreRebuiltOnTheChoiceAfterMoreThan10000Changes) {
    HookGuard hooks;
    Scene scene;
    // Astride both root midlines: both bodies stay in the root.
    dgBody* awake = scene.add(scene.box(4.0f, 1.0f, 4.0f), at(0.0f, 0.0f, 0.0f), 1.0f, true);
    dgBody* resting = scene.add(scene.box(4.0f, 1.0f, 4.0f), at(1.0f, 0.0f, 1.0f), 0.0f, false);
    dgBroadPhaseCell* root = scene.broadPhase()->m_root;
    ASSERT_EQ(awake->m_broadPhaseCell, root);
    const double truth = root->m_axisLists[0].m_sum;
    root->m_axisLists[0].m_sum = truth + 1000.0;
    // The update re-keys the awake body once before choosing the axis.
    root->m_changeCount = 9999;
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(root->m_axisLists[0].m_sum, truth + 1000.0);
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(root->m_changeCount, 0);
    EXPECT_EQ(root->m_axisLists[0].m_sum, truth);

    root->m_axisLists[2].m_sum += 1000.0;
    for (int32_t i = 0; i < 40000; i++) {
        dgBodySetMatrixInternal(resting, at(1.0f, 0.0f, float(i & 1) * 0.5f));
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_TRUE(filingHolds(scene));
}

// ---- queries ----

void fillRandomly(Scene& scene, int32_t count, uint32_t seed) {
    dgCollision* shapes[] = {scene.box(0.2f, 0.2f, 0.2f), scene.box(3.0f, 2.0f, 1.0f), scene.box(9.0f, 4.0f, 7.0f),
                             scene.box(40.0f, 2.0f, 25.0f)};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> inside(-95.0f, 95.0f);
    for (int32_t i = 0; i < count; i++) {
        const dgMatrix pose = randomPose(rng, 1.0f).multiply(at(inside(rng), inside(rng) / 25.0f, inside(rng)));
        scene.add(shapes[i % 4], pose, 0.0f, false);
    }
}

std::vector<dgBody*> sorted(std::vector<dgBody*> bodies) {
    std::sort(bodies.begin(), bodies.end());
    return bodies;
}

// Moves every body it is given elsewhere inside the world.
void visitAndMove(dgBody* body) {
    g_visited.push_back(body);
    dgBodySetMatrixInternal(body, at(-95.0f, 0.0f, -95.0f + 0.1f * float(g_visited.size())));
}

TEST(BroadPhaseBoxQuery, FindsExactlyTheOverlappingBodiesOnce) {
    HookGuard hooks;
    Scene scene;
    const float all[2][3] = {{-100.0f, -100.0f, -100.0f}, {100.0f, 100.0f, 100.0f}};
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), all[0], all[1], visit);
    fillRandomly(scene, 200, 21);
    std::mt19937 rng(22);
    std::uniform_real_distribution<float> inside(-90.0f, 90.0f);
    std::uniform_real_distribution<float> extent(0.0f, 30.0f);
    for (int32_t query = 0; query < 400; query++) {
        const float lo[3] = {inside(rng), inside(rng) * 0.05f, inside(rng)};
        const float hi[3] = {lo[0] + extent(rng), lo[1] + extent(rng) * 0.2f, lo[2] + extent(rng)};
        g_visited.clear();
        dgBroadPhaseForEachBodyInBox(scene.broadPhase(), lo, hi, visit);
        std::vector<dgBody*> expected;
        for (dgBody* body : scene.bodies()) {
            if (dgBoxOverlap(body->m_minAABB, body->m_maxAABB, dgVector(lo[0], lo[1], lo[2], 0),
                             dgVector(hi[0], hi[1], hi[2], 0))) {
                expected.push_back(body);
            }
        }
        ASSERT_EQ(sorted(g_visited), sorted(expected)) << "query " << query;
    }
    // Inverted, not a number, no callback: nothing.
    g_visited.clear();
    const float nan3[3] = {kNaN, kNaN, kNaN};
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), all[1], all[0], visit);
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), nan3, all[1], visit);
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), all[0], all[1], nullptr);
    EXPECT_TRUE(g_visited.empty());
    // A callback that re-files each body it gets still gets each once.
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), all[0], all[1], visitAndMove);
    EXPECT_EQ(sorted(g_visited), sorted(scene.bodies()));
    EXPECT_TRUE(filingHolds(scene));
}

// The nearest hit and every hit, against casting every body.
TEST(BroadPhaseRayCast, FindsTheNearestHitAndEveryHitOfABruteForceCast) {
    HookGuard hooks;
    Scene scene;
    fillRandomly(scene, 300, 41);
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> inside(-98.0f, 98.0f);
    int32_t hitRays = 0;
    for (int32_t ray = 0; ray < 300; ray++) {
        const dgVector p0(inside(rng), inside(rng) / 16.0f, inside(rng), 1.0f);
        // Every third ray nearly vertical: another search axis.
        const dgVector p1 = (ray % 3) ? dgVector(inside(rng), inside(rng) / 16.0f, inside(rng), 1.0f)
                                      : p0 + dgVector(0.3f, 20.0f, -0.2f, 0.0f);
        float nearest = 1.1f;
        std::vector<dgBody*> expected;
        for (dgBody* body : scene.bodies()) {
            const float t = dgBodyRayCast(body, p0, p1, nullptr, nullptr, nullptr, 1.1f);
            if (t < 1.1f) {
                expected.push_back(body);
                nearest = std::min(nearest, t);
            }
        }
        g_visited.clear();
        dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
        ASSERT_EQ(sorted(g_visited), sorted(expected)) << "ray " << ray;
        struct Nearest {
            static float filter(dgBody*, const float*, uint32_t, void* best, float t) {
                *static_cast<float*>(best) = std::min(*static_cast<float*>(best), t);
                return t;
            }
        };
        float found = 1.1f;
        dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, Nearest::filter, nullptr, &found);
        ASSERT_EQ(found, nearest) << "ray " << ray;
        hitRays += expected.empty() ? 0 : 1;
    }
    EXPECT_GT(hitRays, 100);
}

TEST(BroadPhaseRayCast, StopsBeforeCellsPastTheHitAndIgnoresMissesAndBadInput) {
    HookGuard hooks;
    Scene scene;
    const dgVector p0(-90.0f, 0.0f, 20.7f, 1.0f);
    const dgVector p1(90.0f, 0.0f, 20.7f, 1.0f);
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    dgBody* nearBody = scene.add(shape, at(-50.3f, 0.0f, 20.7f), 0.0f, false);
    dgBody* farBody = scene.add(shape, at(50.3f, 0.0f, 20.7f), 0.0f, false);
    // Filed at the root but outside its square: a ray that misses the square
    // does not reach it.
    scene.add(shape, at(0.0f, 0.0f, 130.0f), 0.0f, false);
    dgBroadPhaseRayCast(scene.broadPhase(), dgVector(-90, 0, 130, 1), dgVector(90, 0, 130, 1), keepGoing, nullptr,
                        nullptr);
    int32_t prefilterCalls = 0;
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, nullptr, vetoAll, &prefilterCalls);
    dgBroadPhaseRayCast(scene.broadPhase(), dgVector(kNaN, 0, 0, 1), p1, keepGoing, vetoAll, &prefilterCalls);
    dgBroadPhaseRayCast(scene.broadPhase(), p0, dgVector(90, kInf, 0, 1), keepGoing, vetoAll, &prefilterCalls);
    EXPECT_EQ(prefilterCalls, 0);
    EXPECT_TRUE(g_visited.empty());
    // The far body's cell starts past the near hit.
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, stopAtHit, nullptr, nullptr);
    EXPECT_EQ(g_visited, std::vector<dgBody*>{nearBody});
    g_visited.clear();
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    EXPECT_EQ(g_visited, (std::vector<dgBody*>{nearBody, farBody}));
}

// A long ray through a busy diagonal enters far more cells than the 520 a ray
// usually needs.
TEST(BroadPhaseRayCast, ALongRayThroughManyCellsFindsEveryHit) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.05f, 0.05f, 0.05f);
    for (int32_t i = 0; i < 640; i++) {
        const float s = -95.0f + 0.297f * float(i);
        scene.add(shape, at(s, 0.0f, s), 0.0f, false);
    }
    const dgVector p0(-99.0f, 0.0f, -99.0f, 1.0f);
    const dgVector p1(99.0f, 0.0f, 99.0f, 1.0f);
    int32_t entered = 0;
    for (const dgBroadPhaseCell* cell : treeCells(scene.broadPhase())) {
        entered += (dgBroadPhaseCellRayEntry(cell, p0, p1) < 1.0f) ? 1 : 0;
    }
    ASSERT_GT(entered, 520);
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    EXPECT_EQ(sorted(g_visited), sorted(scene.bodies()));
}

}  // namespace
