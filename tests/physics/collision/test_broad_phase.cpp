#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCollision.h"
#include "dgConstraint.h"
#include "dgIntersections.h"
#include "dgMaterialPair.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef std::pair<dgBody*, dgBody*> BodyPair;

BodyPair unordered(dgBody* a, dgBody* b) {
    return (a < b) ? BodyPair(a, b) : BodyPair(b, a);
}

// What the callbacks saw. Pairs reach the test through the begin callback of
// material pair (0, 0), which records them and refuses the contacts.
std::vector<BodyPair> g_begun;
std::map<dgBody*, int32_t> g_forceCalls;
std::vector<std::pair<dgBody*, uint32_t>> g_activations;
std::vector<dgBody*> g_outOfBounds;
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

dgMatrix at(float x, float y, float z) {
    return translation(x, y, z);
}

// Brings a body that left the world back to a random place inside.
void returnInside(dgBody* body) {
    g_outOfBounds.push_back(body);
    std::uniform_real_distribution<float> u(-80.0f, 80.0f);
    const float x = u(g_callbackRng);
    const float z = u(g_callbackRng);
    dgBodySetMatrixInternal(body, at(x, 0.0f, z));
}

void leaveOutside(dgBody* body) {
    g_outOfBounds.push_back(body);
}

// Counts the call, then now and then nudges the body or throws it out of
// the world.
void forceThatMoves(dgBody* body) {
    ++g_forceCalls[body];
    std::uniform_int_distribution<int32_t> pick(0, 99);
    const int32_t roll = pick(g_callbackRng);
    dgMatrix pose = body->m_matrix;
    if (roll < 6) {
        pose.position.x += 1.5f;
        dgBodySetMatrixInternal(body, pose);
    } else if (roll < 9) {
        pose.position.z = 150.0f;
        dgBodySetMatrixInternal(body, pose);
    }
}

// A joint that only links two bodies.
class TestJoint : public dgConstraint {
public:
    void setDestructorCallback(dgConstraintDestructorCallback) override {}
    void release() override {}
};

struct alignas(16) BodyStorage {
    unsigned char bytes[sizeof(dgBody)];
};

// A world whose bodies are filed the way body creation files them. Every
// body is removed from the broad phase and the trees before the world goes.
class Scene {
public:
    Scene() : m_world(dgWorldCreate(nullptr, nullptr)) {
        dgWorldGetMaterialPair(m_world, 0, 0)->m_begin = recordBegin;
        g_begun.clear();
        g_forceCalls.clear();
        g_activations.clear();
        g_outOfBounds.clear();
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

    dgCollision* box(float dx, float dy, float dz) {
        m_shapes.push_back(dgCreateBox(m_world, dx, dy, dz, nullptr));
        return m_shapes.back();
    }
    dgCollision* nullShape() {
        m_shapes.push_back(dgCreateNull(m_world));
        return m_shapes.back();
    }

    // A cleared body holding shape, in the body tree (and the active tree
    // when active), filed, then placed.
    dgBody* add(dgCollision* shape, const dgMatrix& pose, float invMass, bool active) {
        dgBody* body = make(shape, invMass, active);
        dgBroadPhaseAddBody(broadPhase(), body);
        dgBodySetMatrixInternal(body, pose);
        return body;
    }
    // The same, left unfiled.
    dgBody* make(dgCollision* shape, float invMass, bool active) {
        m_storage.emplace_back(new BodyStorage);
        dgBody* body = dgBody::createCleared(m_storage.back().get());
        body->m_world = m_world;
        body->m_collision = shape;
        shape->addRef();
        body->m_invMass = dgVector(invMass, invMass, invMass, invMass);
        body->m_flags = dgBodyFlagAutoFreeze;
        m_world->m_bodyTree.insert(body, uintptr_t(body));
        if (active) {
            wake(body);
        }
        m_bodies.push_back(body);
        return body;
    }
    void wake(dgBody* body) {
        body->m_flags |= dgBodyFlagActive;
        if (!body->m_activeNode) {
            body->m_activeNode = m_world->m_activeBodyTree.insert(body, uintptr_t(body));
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
        m_world->m_bodyTree.removeKey(uintptr_t(body));
        dgReleaseCollision(m_world, body->m_collision);
        body->m_collision = nullptr;
        m_bodies.erase(std::find(m_bodies.begin(), m_bodies.end(), body));
    }
    void attach(dgBody* body0, dgBody* body1) {
        m_joints.emplace_back(new TestJoint);
        ASSERT_TRUE(dgWorldAttachConstraint(m_world, m_joints.back().get(), body0, body1));
    }

    // The pair test over every two bodies.
    std::set<BodyPair> expectedPairs() const {
        std::set<BodyPair> pairs;
        std::vector<dgBody*> filed;
        for (dgBody* body : m_bodies) {
            if (body->m_broadPhaseCell) {
                filed.push_back(body);
            }
        }
        for (size_t i = 0; i < filed.size(); i++) {
            for (size_t j = i + 1; j < filed.size(); j++) {
                if (mayInteract(filed[i], filed[j])) {
                    pairs.insert(unordered(filed[i], filed[j]));
                }
            }
        }
        return pairs;
    }
    bool mayInteract(const dgBody* a, const dgBody* b) const {
        const auto moves = [](const dgBody* body) {
            return (body->m_flags & dgBodyFlagActive) && (body->m_invMass.w > 0.0f);
        };
        return dgBoxOverlap(a->m_minAABB, a->m_maxAABB, b->m_minAABB, b->m_maxAABB) && (moves(a) || moves(b)) &&
               !a->m_collision->isClass(m_world->m_nullClassId) && !b->m_collision->isClass(m_world->m_nullClassId);
    }

private:
    dgWorld* m_world;
    std::vector<dgCollision*> m_shapes;
    std::vector<std::unique_ptr<BodyStorage>> m_storage;
    std::vector<std::unique_ptr<TestJoint>> m_joints;
    std::vector<dgBody*> m_bodies;
};

int32_t poolCount(const dgBroadPhase* bp) {
    return bp->m_cellPool->getCount();
}

std::vector<dgBroadPhaseCell*> treeCells(const dgBroadPhase* bp) {
    std::vector<dgBroadPhaseCell*> cells;
    std::vector<dgBroadPhaseCell*> stack;
    if (bp->m_root) {
        stack.push_back(bp->m_root);
    }
    while (!stack.empty()) {
        dgBroadPhaseCell* cell = stack.back();
        stack.pop_back();
        cells.push_back(cell);
        for (dgBroadPhaseCell* child : cell->m_children) {
            if (child) {
                stack.push_back(child);
            }
        }
    }
    return cells;
}

// Every filing invariant, checked against a recount: the tree's shape, each
// body in exactly one cell (the deepest that holds it) and in its three
// lists, lists sorted by the current box minima, counts and sums, the queue,
// and the recycled cells.
::testing::AssertionResult filingHolds(const Scene& scene) {
    const dgBroadPhase* bp = scene.broadPhase();
    std::map<const dgBody*, int32_t> seen;
    if (bp->m_root) {
        const dgBroadPhaseCell* root = bp->m_root;
        if (root->m_parent || root->m_level || root->m_size != bp->m_rootSize ||
            root->m_corner[0] != bp->m_worldMin.x || root->m_corner[2] != bp->m_worldMin.z) {
            return ::testing::AssertionFailure() << "root cell misplaced";
        }
    }
    for (const dgBroadPhaseCell* cell : treeCells(bp)) {
        if (!cell->m_bodyCount && !cell->m_childCount) {
            return ::testing::AssertionFailure() << "an empty cell stayed in the tree";
        }
        const float h = cell->m_size * 0.5f;
        int32_t children = 0;
        for (int32_t q = 0; q < 4; q++) {
            const dgBroadPhaseCell* child = cell->m_children[q];
            if (!child) {
                continue;
            }
            children++;
            if (child->m_parent != cell || child->m_level != cell->m_level + 1 || child->m_size != h ||
                child->m_corner[0] != cell->m_corner[0] + float(q & 1) * h ||
                child->m_corner[2] != cell->m_corner[2] + float(q >> 1) * h) {
                return ::testing::AssertionFailure() << "child " << q << " misplaced at level " << cell->m_level;
            }
        }
        if (children != cell->m_childCount) {
            return ::testing::AssertionFailure() << "child count " << cell->m_childCount << " for " << children;
        }
        for (int32_t axis = 0; axis < 3; axis++) {
            const dgBroadPhaseAxisList& list = cell->m_axisLists[axis];
            int32_t count = 0;
            double sum = 0.0;
            double sumSquares = 0.0;
            double scale = 1.0;
            float previous = -std::numeric_limits<float>::infinity();
            for (dgBroadPhaseAxisList::Node* node = list.m_list.getFirst(); node; node = node->getNext()) {
                const dgBody* body = node->getValue().body;
                const float key = node->getValue().key;
                if (body->m_broadPhaseCell != cell || body->m_axisListNodes[axis] != node) {
                    return ::testing::AssertionFailure() << "a body does not name its cell or entry";
                }
                if (key != body->m_minAABB[axis] || key < previous) {
                    return ::testing::AssertionFailure() << "axis " << axis << " list unsorted or stale";
                }
                previous = key;
                count++;
                sum += key;
                sumSquares += double(key) * key;
                scale += double(key) * key;
                if (axis == 0) {
                    seen[body]++;
                }
            }
            if (count != cell->m_bodyCount || list.m_list.getCount() != count) {
                return ::testing::AssertionFailure() << "body count " << cell->m_bodyCount << " for " << count;
            }
            if (std::fabs(list.m_sum - sum) > 1e-9 * scale || std::fabs(list.m_sumSquares - sumSquares) > 1e-9 * scale) {
                return ::testing::AssertionFailure() << "axis sums drifted from a recount";
            }
        }
        // The deepest cell that wholly holds the box.
        for (dgBroadPhaseAxisList::Node* node = cell->m_axisLists[0].m_list.getFirst(); node;
             node = node->getNext()) {
            const dgBody* body = node->getValue().body;
            if (cell->m_level < 9 && dgBroadPhaseCellQuadrant(h, cell, body->m_minAABB, body->m_maxAABB) < 4) {
                return ::testing::AssertionFailure() << "a body fits a child of its cell";
            }
            const dgBroadPhaseCell* parent = cell->m_parent;
            if (parent) {
                const int32_t q = dgBroadPhaseCellQuadrant(parent->m_size * 0.5f, parent, body->m_minAABB,
                                                           body->m_maxAABB);
                if (q >= 4 || parent->m_children[q] != cell) {
                    return ::testing::AssertionFailure() << "a body is filed outside its box's quadrant";
                }
            }
        }
    }
    for (const dgBody* body : scene.bodies()) {
        const int32_t expected = body->m_broadPhaseCell ? 1 : 0;
        if (seen[body] != expected) {
            return ::testing::AssertionFailure() << "a body is filed " << seen[body] << " times";
        }
    }
    if (seen.size() > scene.bodies().size()) {
        return ::testing::AssertionFailure() << "a stranger is filed";
    }
    std::set<const dgBody*> queued;
    for (dgBroadPhaseQueueNode* node = bp->m_queue.getFirst(); node; node = node->getNext()) {
        const dgBody* body = node->getValue();
        if (body->m_queueNode != node || !body->m_broadPhaseCell || !queued.insert(body).second) {
            return ::testing::AssertionFailure() << "queue entry inconsistent";
        }
    }
    if (bp->m_queue.getCount() > 2 * bp->m_queueThreshold) {
        return ::testing::AssertionFailure() << "queue holds " << bp->m_queue.getCount();
    }
    for (const dgBody* body : scene.bodies()) {
        if (body->m_queueNode && !queued.count(body)) {
            return ::testing::AssertionFailure() << "a body names a queue node it does not have";
        }
    }
    for (dgBroadPhaseCellPool::Node* node = bp->m_cellPool->getFirst(); node; node = node->getNext()) {
        if (node->getValue()->m_axisLists[0].m_list.getCount() || node->getValue()->m_axisLists[2].m_list.getCount()) {
            return ::testing::AssertionFailure() << "a recycled cell holds bodies";
        }
    }
    return ::testing::AssertionSuccess();
}

// One update; the pairs the contact pass was handed, each once.
::testing::AssertionResult updateHandsExactlyThePairs(Scene& scene, int32_t* pairCount = nullptr) {
    g_begun.clear();
    dgBroadPhaseUpdate(scene.broadPhase());
    std::vector<BodyPair> handed = g_begun;
    std::sort(handed.begin(), handed.end());
    if (std::adjacent_find(handed.begin(), handed.end()) != handed.end()) {
        return ::testing::AssertionFailure() << "a pair was handed twice";
    }
    const std::set<BodyPair> expected = scene.expectedPairs();
    if (std::set<BodyPair>(handed.begin(), handed.end()) != expected) {
        return ::testing::AssertionFailure() << "handed " << handed.size() << " pairs, expected " << expected.size();
    }
    if (pairCount) {
        *pairCount += int32_t(handed.size());
    }
    return ::testing::AssertionSuccess();
}

bool incrementalRan(const dgBroadPhase* bp) {
    for (const dgBroadPhaseCell* cell : treeCells(bp)) {
        if (cell->m_axisStamp == bp->m_stamp) {
            return true;
        }
    }
    return false;
}

// ---- filing against brute force over random operation sequences ----

struct Scenario {
    const char* name;
    // Chance that a new body is awake.
    float awakeChance;
    // Out-of-bounds callback (null: none) and force callback of awake bodies.
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
    dgCollision* shapes[] = {scene.box(0.3f, 0.3f, 0.3f), scene.box(2.0f, 1.0f, 3.0f), scene.box(6.0f, 2.0f, 5.0f),
                             scene.box(15.0f, 3.0f, 12.0f), scene.box(45.0f, 2.0f, 30.0f), scene.nullShape()};
    // Kept out of the world's body set, so that no re-filing picks it up.
    dgBody* unfiled = scene.make(shapes[1], 1.0f, false);
    scene.world()->m_bodyTree.removeKey(uintptr_t(unfiled));

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> inside(-90.0f, 90.0f);
    std::uniform_real_distribution<float> height(-3.0f, 3.0f);
    std::uniform_real_distribution<float> jitter(-1.0f, 1.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int32_t> pickShape(0, 5);
    const auto randomBody = [&]() {
        return scene.bodies()[std::uniform_int_distribution<size_t>(1, scene.bodies().size() - 1)(rng)];
    };
    const auto addRandom = [&]() {
        const float invMass = (unit(rng) < 0.25f) ? 0.0f : 1.0f;
        dgBody* body = scene.add(shapes[pickShape(rng)], at(inside(rng), height(rng), inside(rng)), invMass,
                                 unit(rng) < scenario.awakeChance);
        body->m_forceAndTorque = scenario.force;
    };
    for (int32_t i = 0; i < 60; i++) {
        addRandom();
    }

    int32_t updates = 0;
    int32_t incremental = 0;
    int32_t pairCount = 0;
    for (int32_t step = 0; step < 2500; step++) {
        const float roll = unit(rng);
        const bool any = scene.bodies().size() > 1;
        if (roll < 0.10f && scene.bodies().size() < 140) {
            addRandom();
        } else if (roll < 0.17f && any) {
            scene.destroy(randomBody());
        } else if (roll < 0.40f && any) {
            dgBody* body = randomBody();
            dgMatrix pose = body->m_matrix;
            pose.position += dgVector(jitter(rng), 0.2f * jitter(rng), jitter(rng), 0.0f);
            dgBodySetMatrixInternal(body, pose);
        } else if (roll < 0.52f && any) {
            dgBodySetMatrixInternal(randomBody(), at(inside(rng), height(rng), inside(rng)));
        } else if (roll < 0.57f && any) {
            // Out of the world on one side, in any axis.
            const float far = (unit(rng) < 0.5f) ? -160.0f : 160.0f;
            const int32_t axis = std::uniform_int_distribution<int32_t>(0, 2)(rng);
            dgVector position(inside(rng), height(rng), inside(rng), 1.0f);
            position[axis] = far;
            dgBodySetMatrixInternal(randomBody(), at(position.x, position.y, position.z));
        } else if (roll < 0.62f && any) {
            // The world's wake and sleep.
            dgBody* body = randomBody();
            if (body->m_flags & dgBodyFlagActive) {
                scene.sleep(body);
            } else {
                scene.wake(body);
            }
        } else if (roll < 0.635f) {
            const float lo = -100.0f - 20.0f * unit(rng);
            dgBroadPhaseSetWorldSize(scene.broadPhase(), dgVector(lo, -100.0f, lo, 0.0f),
                                     dgVector(100.0f, 100.0f, 100.0f, 0.0f));
        } else if (roll < 0.65f && any) {
            // Bad input: filing twice, and the unfiled body.
            dgBroadPhaseAddBody(scene.broadPhase(), randomBody());
            dgBroadPhaseRemoveBody(scene.broadPhase(), unfiled);
            dgBroadPhaseMoveBody(scene.broadPhase(), unfiled);
            ASSERT_EQ(unfiled->m_broadPhaseCell, nullptr);
        } else {
            g_forceCalls.clear();
            std::set<dgBody*> toRefresh;
            for (dgBodyTree::Node* node : scene.world()->m_activeBodyTree) {
                if (node->getPayload()->m_invMass.w != 0.0f) {
                    toRefresh.insert(node->getPayload());
                }
            }
            ASSERT_TRUE(updateHandsExactlyThePairs(scene, &pairCount)) << "update " << updates;
            updates++;
            incremental += incrementalRan(scene.broadPhase()) ? 1 : 0;
            if (scenario.force) {
                // Each awake movable body's force callback ran once.
                ASSERT_EQ(g_forceCalls.size(), toRefresh.size());
                for (const auto& call : g_forceCalls) {
                    ASSERT_TRUE(toRefresh.count(call.first));
                    ASSERT_EQ(call.second, 1);
                }
            }
        }
        ASSERT_TRUE(filingHolds(scene)) << "step " << step;
    }
    // Both the incremental path and the full sweep ran, over real pairs.
    EXPECT_GE(incremental, scenario.minIncremental);
    EXPECT_GE(updates - incremental, scenario.minFull);
    EXPECT_GT(pairCount, 5 * updates);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BroadPhaseRandom,
                         ::testing::Values(Scenario{"Quiet", 0.08f, nullptr, nullptr, 100, 10},
                                           Scenario{"Busy", 0.5f, nullptr, countForce, 0, 100},
                                           Scenario{"CallbacksMoveBodies", 0.15f, returnInside, forceThatMoves, 20, 20}),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

// Handed pairs that had stopped overlapping, and a scene to throw bodies in.
int32_t g_staleHanded = 0;
Scene* g_scene = nullptr;

// Throws the first body of every pair elsewhere: cells empty and are
// recycled, lists reorder, while the update is still handing out pairs.
int32_t scatterBegin(dgMaterialPair*, dgBody* a, dgBody* b) {
    g_begun.push_back(unordered(a, b));
    g_staleHanded += g_scene->mayInteract(a, b) ? 0 : 1;
    std::uniform_real_distribution<float> u(-40.0f, 40.0f);
    dgBodySetMatrixInternal(a, at(u(g_callbackRng), 0.0f, u(g_callbackRng)));
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
    g_scene = nullptr;
}

// ---- the force pass ----

// The first awake body in the set's order throws itself out of the world.
void throwOut(dgBody* body) {
    ++g_forceCalls[body];
    if (g_forceCalls.size() == 1) {
        dgBodySetMatrixInternal(body, at(0.0f, 0.0f, 500.0f));
    }
}

class BroadPhaseRefreshLeavingWorld : public ::testing::TestWithParam<dgBodyOutOfBoundsCallback> {};

TEST_P(BroadPhaseRefreshLeavingWorld, EveryOtherAwakeBodyIsStillRefreshedOnce) {
    HookGuard hooks;
    Scene scene;
    dgWorldSetOutOfBoundsCallback(scene.world(), GetParam());
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    for (int32_t i = 0; i < 8; i++) {
        scene.add(shape, at(-60.0f + 15.0f * float(i), 0.0f, 0.0f), 1.0f, true)->m_forceAndTorque = throwOut;
    }
    g_forceCalls.clear();
    dgBroadPhaseUpdate(scene.broadPhase());
    ASSERT_EQ(g_forceCalls.size(), 8u);
    for (const auto& call : g_forceCalls) {
        EXPECT_EQ(call.second, 1);
    }
    // Left outside, the body meets the callback again when the pass
    // refreshes its box.
    EXPECT_EQ(g_outOfBounds.size(), GetParam() == nullptr ? 0u : (GetParam() == returnInside ? 1u : 2u));
    // Brought back inside it is awake again; left outside it sleeps.
    EXPECT_EQ(scene.world()->m_activeBodyTree.getCount(), GetParam() == returnInside ? 8 : 7);
    EXPECT_TRUE(scene.world()->m_activeBodyTree.sanityCheck());
    EXPECT_TRUE(filingHolds(scene));
}

INSTANTIATE_TEST_SUITE_P(OutOfBounds, BroadPhaseRefreshLeavingWorld,
                         ::testing::Values(nullptr, leaveOutside, returnInside));

enum class Pile { awake, jointedToOne };

class BroadPhaseRefreshPile : public ::testing::TestWithParam<Pile> {};

// More bodies than the 512-pointer workspace: many awake seeds, or one awake
// body whose joint ring holds the whole pile.
TEST_P(BroadPhaseRefreshPile, GrowsPastTheWorkspaceAndRefreshesEachMovableBodyOnce) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.2f, 0.2f, 0.2f);
    dgBody* hub = scene.add(shape, at(0.5f, 0.0f, 0.5f), 1.0f, true);
    hub->m_forceAndTorque = countForce;
    int32_t movable = 1;
    for (int32_t i = 0; i < 700; i++) {
        const bool isStatic = (i % 7) == 0;
        const bool awake = GetParam() == Pile::awake;
        dgBody* body = scene.add(shape, at(-70.0f + 0.5f * float(i % 280), 0.0f, -70.0f + 2.0f * float(i / 280)),
                                 isStatic ? 0.0f : 1.0f, awake);
        body->m_forceAndTorque = countForce;
        movable += isStatic ? 0 : 1;
        if (!awake) {
            scene.attach(hub, body);
        }
    }
    g_forceCalls.clear();
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(int32_t(g_forceCalls.size()), movable);
    for (const auto& call : g_forceCalls) {
        EXPECT_EQ(call.second, 1);
        EXPECT_GT(call.first->m_invMass.w, 0.0f);
    }
    EXPECT_TRUE(filingHolds(scene));
}

INSTANTIATE_TEST_SUITE_P(Piles, BroadPhaseRefreshPile, ::testing::Values(Pile::awake, Pile::jointedToOne));

// ---- leaving the world ----

class BroadPhaseLeavingWorld : public ::testing::TestWithParam<dgBodyOutOfBoundsCallback> {};

TEST_P(BroadPhaseLeavingWorld, PutsTheBodyToSleepUntilTheCallbackBringsItBack) {
    HookGuard hooks;
    Scene scene;
    dgWorldSetOutOfBoundsCallback(scene.world(), GetParam());
    dgBody* body = scene.add(scene.box(2.0f, 2.0f, 2.0f), at(10.0f, 0.0f, 10.0f), 1.0f, true);
    body->m_activation = recordActivation;
    const uint32_t awakeBits = dgBodyFlagActive | dgBodyFlagAutoFreeze;
    ASSERT_EQ(body->m_flags & awakeBits, awakeBits);

    dgBodySetMatrixInternal(body, at(10.0f, 300.0f, 10.0f));
    ASSERT_EQ(g_activations.size(), 1u);
    EXPECT_EQ(g_activations[0], std::make_pair(body, 0u));
    EXPECT_NE(body->m_broadPhaseCell, nullptr);
    if (GetParam() == returnInside) {
        EXPECT_EQ(body->m_flags & awakeBits, awakeBits);
        EXPECT_EQ(body->m_activeNode, scene.world()->m_activeBodyTree.find(uintptr_t(body)));
        EXPECT_NE(body->m_activeNode, nullptr);
    } else {
        EXPECT_EQ(body->m_flags & awakeBits, 0u);
        EXPECT_EQ(body->m_activeNode, nullptr);
        EXPECT_EQ(scene.world()->m_activeBodyTree.getCount(), 0);
        // Back inside, nothing wakes it.
        dgBodySetMatrixInternal(body, at(0.0f, 0.0f, 0.0f));
        EXPECT_EQ(body->m_flags & awakeBits, 0u);
        EXPECT_EQ(body->m_activeNode, nullptr);
    }
    EXPECT_TRUE(filingHolds(scene));
}

INSTANTIATE_TEST_SUITE_P(OutOfBounds, BroadPhaseLeavingWorld, ::testing::Values(nullptr, leaveOutside, returnInside));

// ---- world size ----

struct SizeCase {
    dgVector minimum;
    dgVector maximum;
    dgVector worldMin;
    dgVector worldMax;
    float rootSize;
};

class BroadPhaseWorldSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BroadPhaseWorldSize, SnapsTheCornerAndRoundsTheSquareUp) {
    const SizeCase& c = GetParam();
    HookGuard hooks;
    Scene scene;
    dgBroadPhaseSetWorldSize(scene.broadPhase(), c.minimum, c.maximum);
    dgVector lo;
    dgVector hi;
    dgBroadPhaseGetWorldSize(scene.broadPhase(), lo, hi);
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_EQ(lo[i], c.worldMin[i]) << i;
        EXPECT_EQ(hi[i], c.worldMax[i]) << i;
    }
    EXPECT_EQ(scene.broadPhase()->m_rootSize, c.rootSize);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BroadPhaseWorldSize,
    ::testing::Values(SizeCase{dgVector(-100, -100, -100, 0), dgVector(100, 100, 100, 0), dgVector(-100, -100, -100, 0),
                               dgVector(100, 100, 100, 0), 200.0f},
                      // 0.001 x 512 floors to 0; 0.003 x 512 to 1.
                      SizeCase{dgVector(0.001f, -5, 0.003f, 0), dgVector(10, 5, 10, 0), dgVector(0, -5, 1.0f / 512, 0),
                               dgVector(10, 5, 10 + 1.0f / 512, 0), 10.0f},
                      SizeCase{dgVector(0, 0, 0, 0), dgVector(10.3f, 1, 10.3f, 0), dgVector(0, 0, 0, 0),
                               dgVector(11, 1, 11, 0), 11.0f},
                      // The larger of the X and Z extents makes the square.
                      SizeCase{dgVector(0, 0, 0, 0), dgVector(5, 1, 7, 0), dgVector(0, 0, 0, 0), dgVector(7, 1, 7, 0),
                               7.0f}));

TEST(BroadPhaseWorldSize, GridScaleFollowsTheRootSize) {
    HookGuard hooks;
    Scene scene;
    EXPECT_EQ(scene.broadPhase()->m_gridScale, 2048.0f);
    EXPECT_EQ(scene.broadPhase()->m_invGridScale, 1.0f / 2048.0f);
}

class BroadPhaseDegenerateWorldSize : public ::testing::TestWithParam<std::pair<dgVector, dgVector>> {};

TEST_P(BroadPhaseDegenerateWorldSize, IsRefusedAndTheBodiesStayFiled) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.5f, 0.5f, 0.5f);
    for (int32_t i = 0; i < 20; i++) {
        scene.add(shape, at(-45.0f + 4.5f * float(i), 0.0f, 20.0f - 2.0f * float(i)), 1.0f, true);
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    dgVector lo0;
    dgVector hi0;
    dgBroadPhaseGetWorldSize(scene.broadPhase(), lo0, hi0);
    const float root0 = scene.broadPhase()->m_rootSize;
    const float grid0 = scene.broadPhase()->m_gridScale;
    const uint64_t stamp0 = scene.broadPhase()->m_stamp;

    dgBroadPhaseSetWorldSize(scene.broadPhase(), GetParam().first, GetParam().second);
    dgVector lo;
    dgVector hi;
    dgBroadPhaseGetWorldSize(scene.broadPhase(), lo, hi);
    for (int32_t i = 0; i < 4; i++) {
        EXPECT_EQ(lo[i], lo0[i]);
        EXPECT_EQ(hi[i], hi0[i]);
    }
    EXPECT_EQ(scene.broadPhase()->m_rootSize, root0);
    EXPECT_EQ(scene.broadPhase()->m_gridScale, grid0);
    EXPECT_EQ(scene.broadPhase()->m_stamp, stamp0);
    EXPECT_TRUE(filingHolds(scene));
    for (const dgBody* body : scene.bodies()) {
        EXPECT_NE(body->m_activeNode, nullptr);
    }
    EXPECT_TRUE(updateHandsExactlyThePairs(scene));
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Extents, BroadPhaseDegenerateWorldSize,
    ::testing::Values(std::make_pair(dgVector(5, -1, 5, 0), dgVector(5, 1, 5, 0)),
                      std::make_pair(dgVector(5, -1, 5, 0), dgVector(-5, 1, -5, 0)),
                      std::make_pair(dgVector(kNaN, -1, 0, 0), dgVector(10, 1, 10, 0)),
                      // The Z extent alone is not a number: X alone would pass.
                      std::make_pair(dgVector(0, -1, 0, 0), dgVector(10, 1, kNaN, 0)),
                      std::make_pair(dgVector(0, -1, 0, 0), dgVector(10, 1, kInf, 0)),
                      std::make_pair(dgVector(-kInf, -1, 0, 0), dgVector(10, 1, 10, 0)),
                      std::make_pair(dgVector(0, -1, 0, 0), dgVector(1073741824.0f, 1, 10, 0)),
                      std::make_pair(dgVector(-3e38f, -1, -3e38f, 0), dgVector(3e38f, 1, 3e38f, 0))));

TEST(BroadPhaseWorldSize, ReFilesEveryBodyUnderTheNewSquare) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.5f, 0.5f, 0.5f);
    for (int32_t i = 0; i < 30; i++) {
        scene.add(shape, at(-40.0f + 3.0f * float(i), 0.0f, 25.0f - 1.5f * float(i)), 0.0f, false);
    }
    dgBroadPhaseSetWorldSize(scene.broadPhase(), dgVector(-50, -10, -50, 0), dgVector(50, 10, 50, 0));
    EXPECT_EQ(scene.broadPhase()->m_rootSize, 100.0f);
    EXPECT_EQ(scene.broadPhase()->m_stamp, 1u);
    EXPECT_TRUE(filingHolds(scene));
    // A body now outside the world box leaves it.
    scene.wake(scene.bodies()[0]);
    dgBroadPhaseSetWorldSize(scene.broadPhase(), dgVector(0, -10, 0, 0), dgVector(60, 10, 60, 0));
    EXPECT_EQ(scene.bodies()[0]->m_activeNode, nullptr);
    EXPECT_TRUE(filingHolds(scene));
}

// ---- the quadrant rule ----

TEST(BroadPhaseQuadrant, ABoxTouchingAMidlineStaysInTheCell) {
    dgBroadPhaseCell cell;
    cell.m_corner[0] = 0.0f;
    cell.m_corner[2] = 0.0f;
    cell.m_size = 8.0f;
    struct Case {
        float minX, maxX, minZ, maxZ;
        int32_t quadrant;  // -1: stays in the cell
    };
    const Case cases[] = {
        {1, 2, 1, 2, 0},  {5, 6, 1, 2, 1},  {1, 2, 5, 6, 2},  {5, 6, 5, 6, 3},
        {4, 5, 1, 2, -1},  // touches midX from above
        {3, 4, 1, 2, -1},  // touches midX from below
        {1, 2, 3, 4, -1},  // touches midZ
        {3, 5, 5, 6, -1},  // crosses midX
        {-1, 2, 1, 2, -1}, {5, 9, 5, 6, -1}, {5, 6, 5, 8.5f, -1},  // reaches outside
        {0, 4 - 1e-3f, 0, 4 - 1e-3f, 0},                           // fills a quadrant to its corner
        {4 + 1e-3f, 8, 4 + 1e-3f, 8, 3},
    };
    for (const Case& c : cases) {
        const int32_t q = dgBroadPhaseCellQuadrant(4.0f, &cell, dgVector(c.minX, 0, c.minZ, 0),
                                                   dgVector(c.maxX, 1, c.maxZ, 0));
        if (c.quadrant < 0) {
            EXPECT_GE(q, 4) << c.minX << " " << c.maxX << " " << c.minZ << " " << c.maxZ;
        } else {
            EXPECT_EQ(q, c.quadrant) << c.minX << " " << c.maxX << " " << c.minZ << " " << c.maxZ;
        }
    }
}

TEST(BroadPhaseFiling, BodiesStopAtTheFirstMidlineTheyTouchAndNineLevelsDown) {
    HookGuard hooks;
    Scene scene;
    // The root's midlines are x = 0 and z = 0 in the world -100..100.
    dgBody* onMidline = scene.add(scene.box(2.0f, 1.0f, 2.0f), at(1.0f, 0.0f, 50.0f), 0.0f, false);
    EXPECT_EQ(onMidline->m_broadPhaseCell, scene.broadPhase()->m_root);
    dgBody* tiny = scene.add(scene.box(0.01f, 0.01f, 0.01f), at(37.3f, 0.0f, -61.7f), 0.0f, false);
    EXPECT_EQ(tiny->m_broadPhaseCell->m_level, 9);
    EXPECT_EQ(tiny->m_broadPhaseCell->m_size, 200.0f / 512.0f);
    // A new body starts at the root until its box is refreshed.
    dgBody* fresh = scene.make(scene.box(0.01f, 0.01f, 0.01f), 0.0f, false);
    dgBroadPhaseAddBody(scene.broadPhase(), fresh);
    EXPECT_EQ(fresh->m_broadPhaseCell, scene.broadPhase()->m_root);
    dgBodySetMatrixInternal(fresh, at(37.3f, 0.0f, -61.7f));
    EXPECT_EQ(fresh->m_broadPhaseCell, tiny->m_broadPhaseCell);
    EXPECT_TRUE(filingHolds(scene));
}

// ---- recycling and the queue ----

TEST(BroadPhaseFiling, EmptiedCellsAreRecycledUpToTheRootAndReusedFirst) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(0.05f, 0.05f, 0.05f);
    std::vector<dgMatrix> poses;
    for (int32_t i = 0; i < 12; i++) {
        poses.push_back(at(-83.0f + 14.1f * float(i), 0.0f, 71.0f - 12.7f * float(i)));
        scene.add(shape, poses.back(), 0.0f, false);
    }
    const int32_t cells = int32_t(treeCells(scene.broadPhase()).size());
    ASSERT_GE(cells, 12 * 5);
    const int32_t pooled = poolCount(scene.broadPhase());
    while (!scene.bodies().empty()) {
        scene.destroy(scene.bodies().back());
        ASSERT_TRUE(filingHolds(scene));
    }
    EXPECT_EQ(scene.broadPhase()->m_root, nullptr);
    EXPECT_EQ(poolCount(scene.broadPhase()), pooled + cells);
    // Filing the same bodies again takes every cell back from the pool.
    for (const dgMatrix& pose : poses) {
        scene.add(shape, pose, 0.0f, false);
    }
    EXPECT_EQ(int32_t(treeCells(scene.broadPhase()).size()), cells);
    EXPECT_EQ(poolCount(scene.broadPhase()), pooled);
}

TEST(BroadPhaseQueue, TenBodiesGiveThresholdTenAndElevenMovedBodiesTheFullSweep) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    for (int32_t i = 0; i < 10; i++) {
        scene.add(shape, at(-45.0f + 10.0f * float(i), 0.0f, 7.0f * float(i) - 30.0f), 0.0f, false);
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    ASSERT_EQ(scene.broadPhase()->m_queueThreshold, 10);

    // The queue takes up to twice the threshold.
    for (int32_t i = 0; i < 15; i++) {
        scene.add(shape, at(-45.0f + 6.0f * float(i), 0.0f, 40.0f), 0.0f, false);
    }
    for (dgBody* body : scene.bodies()) {
        dgBodySetMatrixInternal(body, body->m_matrix);
    }
    EXPECT_EQ(scene.broadPhase()->m_queue.getCount(), 20);
    EXPECT_TRUE(filingHolds(scene));
    while (scene.bodies().size() > 10) {
        scene.destroy(scene.bodies().back());
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    ASSERT_EQ(scene.broadPhase()->m_queueThreshold, 10);

    // Ten moved bodies take the incremental path, eleven the full sweep.
    for (int32_t moved = 10; moved <= 11; moved++) {
        if (moved == 11) {
            scene.add(shape, at(0.0f, 0.0f, -80.0f), 0.0f, false);
            dgBroadPhaseUpdate(scene.broadPhase());
            ASSERT_EQ(scene.broadPhase()->m_queueThreshold, 10);
        }
        for (dgBody* body : scene.bodies()) {
            dgMatrix pose = body->m_matrix;
            pose.position.y += 0.5f;
            dgBodySetMatrixInternal(body, pose);
        }
        ASSERT_EQ(scene.broadPhase()->m_queue.getCount(), moved);
        dgBroadPhaseUpdate(scene.broadPhase());
        EXPECT_EQ(incrementalRan(scene.broadPhase()), moved == 10);
        EXPECT_EQ(scene.broadPhase()->m_queue.getCount(), 0);
    }
}

TEST(BroadPhaseQueue, NoBodiesGiveThresholdTwo) {
    HookGuard hooks;
    Scene scene;
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(scene.broadPhase()->m_queueThreshold, 2);
}

// ---- sort axis and sums ----

TEST(BroadPhaseSortAxis, SumsAreRebuiltOnTheChoiceAfterMoreThan10000Changes) {
    HookGuard hooks;
    Scene scene;
    // Astride both root midlines: the body stays in the root.
    dgBody* body = scene.add(scene.box(4.0f, 1.0f, 4.0f), at(0.0f, 0.0f, 0.0f), 1.0f, true);
    scene.add(scene.box(4.0f, 1.0f, 4.0f), at(1.0f, 0.0f, 1.0f), 0.0f, false);
    dgBroadPhaseCell* root = scene.broadPhase()->m_root;
    ASSERT_EQ(body->m_broadPhaseCell, root);
    const double truth = root->m_axisLists[0].m_sum;
    // Each update re-keys the awake body once before the axis is chosen.
    root->m_axisLists[0].m_sum = truth + 1000.0;
    root->m_changeCount = 9999;
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(root->m_changeCount, 10000);
    EXPECT_EQ(root->m_axisLists[0].m_sum, truth + 1000.0);
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_EQ(root->m_changeCount, 0);
    EXPECT_EQ(root->m_axisLists[0].m_sum, truth);
}

TEST(BroadPhaseSortAxis, MoreThan32767ChangesBetweenChoicesStillRebuildTheSums) {
    HookGuard hooks;
    Scene scene;
    dgBody* body = scene.add(scene.box(4.0f, 1.0f, 4.0f), at(0.0f, 0.0f, 0.0f), 0.0f, false);
    scene.add(scene.box(4.0f, 1.0f, 4.0f), at(1.0f, 0.0f, 1.0f), 1.0f, true);
    dgBroadPhaseCell* root = scene.broadPhase()->m_root;
    ASSERT_EQ(body->m_broadPhaseCell, root);
    root->m_axisLists[2].m_sum += 1000.0;
    for (int32_t i = 0; i < 40000; i++) {
        dgBodySetMatrixInternal(body, at(0.0f, 0.0f, float(i & 1) * 0.5f));
    }
    dgBroadPhaseUpdate(scene.broadPhase());
    EXPECT_TRUE(filingHolds(scene));
}

// ---- queries ----

std::vector<dgBody*> g_visited;

void visit(dgBody* body) {
    g_visited.push_back(body);
}

// Moves every body it is given far away (inside the world).
void visitAndMove(dgBody* body) {
    g_visited.push_back(body);
    dgBodySetMatrixInternal(body, at(-95.0f, 0.0f, -95.0f + 0.1f * float(g_visited.size())));
}

float keepGoing(dgBody* body, const float*, uint32_t, void*, float) {
    g_visited.push_back(body);
    return 1.1f;
}

float stopAtHit(dgBody* body, const float*, uint32_t, void*, float t) {
    g_visited.push_back(body);
    return t;
}

void fillRandomly(Scene& scene, int32_t count, uint32_t seed) {
    dgCollision* shapes[] = {scene.box(0.2f, 0.2f, 0.2f), scene.box(3.0f, 2.0f, 1.0f), scene.box(9.0f, 4.0f, 7.0f),
                             scene.box(40.0f, 2.0f, 25.0f)};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> inside(-95.0f, 95.0f);
    std::uniform_real_distribution<float> height(-4.0f, 4.0f);
    for (int32_t i = 0; i < count; i++) {
        scene.add(shapes[i % 4], randomPose(rng, 1.0f).multiply(at(inside(rng), height(rng), inside(rng))), 0.0f,
                  false);
    }
}

TEST(BroadPhaseBoxQuery, FindsExactlyTheOverlappingBodiesOnce) {
    HookGuard hooks;
    Scene scene;
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
        std::sort(g_visited.begin(), g_visited.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(g_visited, expected) << "query " << query;
    }
}

TEST(BroadPhaseBoxQuery, BadInputAndMovingCallbacksDoNoHarm) {
    HookGuard hooks;
    Scene scene;
    const float lo[3] = {-100.0f, -100.0f, -100.0f};
    const float hi[3] = {100.0f, 100.0f, 100.0f};
    g_visited.clear();
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), lo, hi, visit);
    EXPECT_TRUE(g_visited.empty());
    fillRandomly(scene, 60, 23);
    // Inverted, not a number, no callback.
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), hi, lo, visit);
    const float nan3[3] = {kNaN, kNaN, kNaN};
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), nan3, hi, visit);
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), lo, hi, nullptr);
    EXPECT_TRUE(g_visited.empty());
    // A callback that re-files each body it gets still gets each once.
    dgBroadPhaseForEachBodyInBox(scene.broadPhase(), lo, hi, visitAndMove);
    std::sort(g_visited.begin(), g_visited.end());
    EXPECT_EQ(std::adjacent_find(g_visited.begin(), g_visited.end()), g_visited.end());
    EXPECT_EQ(g_visited.size(), scene.bodies().size());
    EXPECT_TRUE(filingHolds(scene));
}

// Entry of the segment into the square [x0, x0 + size] x [z0, z0 + size] by
// slab clipping in double; 1.2 for a miss.
double referenceEntry(double x0, double z0, double size, const dgVector& p0, const dgVector& p1) {
    double t0 = 0.0;
    double t1 = 1.0;
    const double lo[2] = {x0, z0};
    const double a[2] = {p0.x, p0.z};
    const double d[2] = {double(p1.x) - p0.x, double(p1.z) - p0.z};
    for (int32_t i = 0; i < 2; i++) {
        if (d[i] == 0.0) {
            if (a[i] < lo[i] || a[i] > lo[i] + size) {
                return 1.2;
            }
            continue;
        }
        double ta = (lo[i] - a[i]) / d[i];
        double tb = (lo[i] + size - a[i]) / d[i];
        if (ta > tb) {
            std::swap(ta, tb);
        }
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
    }
    return (t0 <= t1) ? t0 : 1.2;
}

TEST(BroadPhaseRayEntry, MatchesSlabClippingAndIsZeroFromInside) {
    dgBroadPhaseCell cell;
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> u(-20.0f, 20.0f);
    std::uniform_real_distribution<float> side(0.5f, 10.0f);
    int32_t hits = 0;
    for (int32_t i = 0; i < 20000; i++) {
        cell.m_corner[0] = u(rng);
        cell.m_corner[2] = u(rng);
        cell.m_size = side(rng);
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        const double x = cell.m_corner[0];
        const double z = cell.m_corner[2];
        const double size = cell.m_size;
        // The square shrunk and grown by a rounding margin.
        const double inner = referenceEntry(x + 1e-3, z + 1e-3, size - 2e-3, p0, p1);
        const double outer = referenceEntry(x - 1e-3, z - 1e-3, size + 2e-3, p0, p1);
        const float t = dgBroadPhaseCellRayEntry(&cell, p0, p1);
        if (outer > 1.0) {
            EXPECT_EQ(t, 1.2f) << i;
        } else if (inner <= 1.0) {
            hits++;
            EXPECT_GE(t, outer - 1e-5) << i;
            EXPECT_LE(t, inner + 1e-5) << i;
            if (inner == 0.0) {
                EXPECT_EQ(t, 0.0f) << i;
            }
        }
    }
    EXPECT_GT(hits, 1500);
}

// The first hit along the ray and every hit, against casting every body.
TEST(BroadPhaseRayCast, FindsTheNearestHitAndEveryHitOfABruteForceCast) {
    HookGuard hooks;
    Scene scene;
    fillRandomly(scene, 300, 41);
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> inside(-98.0f, 98.0f);
    std::uniform_real_distribution<float> height(-6.0f, 6.0f);
    int32_t hitRays = 0;
    for (int32_t ray = 0; ray < 300; ray++) {
        const dgVector p0(inside(rng), height(rng), inside(rng), 1.0f);
        dgVector p1(inside(rng), height(rng), inside(rng), 1.0f);
        if (ray % 3 == 0) {
            // Nearly vertical rays search along Y or a short axis.
            p1 = p0 + dgVector(0.3f, 20.0f, -0.2f, 0.0f);
        }
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
        std::sort(g_visited.begin(), g_visited.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(g_visited, expected) << "ray " << ray;

        struct Nearest {
            static float filter(dgBody*, const float*, uint32_t, void* userData, float t) {
                float& best = *static_cast<float*>(userData);
                best = std::min(best, t);
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

TEST(BroadPhaseRayCast, StopsBeforeCellsThatStartPastTheHit) {
    HookGuard hooks;
    Scene scene;
    dgCollision* shape = scene.box(1.0f, 1.0f, 1.0f);
    dgBody* nearBody = scene.add(shape, at(-50.3f, 0.0f, 20.7f), 0.0f, false);
    dgBody* farBody = scene.add(shape, at(50.3f, 0.0f, 20.7f), 0.0f, false);
    const dgVector p0(-90.0f, 0.0f, 20.7f, 1.0f);
    const dgVector p1(90.0f, 0.0f, 20.7f, 1.0f);
    g_visited.clear();
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, stopAtHit, nullptr, nullptr);
    EXPECT_EQ(g_visited, std::vector<dgBody*>{nearBody});
    g_visited.clear();
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    EXPECT_EQ(g_visited, (std::vector<dgBody*>{nearBody, farBody}));
}

TEST(BroadPhaseRayCast, MissesOfTheRootSquareAndBadInputVisitNothing) {
    HookGuard hooks;
    Scene scene;
    const dgVector p0(-90.0f, 0.0f, 0.0f, 1.0f);
    const dgVector p1(90.0f, 0.0f, 0.0f, 1.0f);
    g_visited.clear();
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    // A body outside the world is filed at the root; a ray that misses the
    // root square does not reach it.
    scene.add(scene.box(4.0f, 4.0f, 4.0f), at(0.0f, 0.0f, 130.0f), 0.0f, false);
    scene.add(scene.box(4.0f, 4.0f, 4.0f), at(0.0f, 0.0f, 0.0f), 0.0f, false);
    dgBroadPhaseRayCast(scene.broadPhase(), dgVector(-90, 0, 130, 1), dgVector(90, 0, 130, 1), keepGoing, nullptr,
                        nullptr);
    EXPECT_TRUE(g_visited.empty());
    int32_t prefilterCalls = 0;
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, nullptr, vetoAll, &prefilterCalls);
    const dgVector nan(kNaN, 0.0f, 0.0f, 1.0f);
    dgBroadPhaseRayCast(scene.broadPhase(), nan, p1, keepGoing, vetoAll, &prefilterCalls);
    dgBroadPhaseRayCast(scene.broadPhase(), p0, dgVector(90.0f, kNaN, 0.0f, 1.0f), keepGoing, vetoAll,
                        &prefilterCalls);
    EXPECT_EQ(prefilterCalls, 0);
    EXPECT_TRUE(g_visited.empty());
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    EXPECT_EQ(g_visited.size(), 1u);
}

// A long ray through a busy diagonal enters far more cells than the 520 a
// ray usually needs.
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
    g_visited.clear();
    dgBroadPhaseRayCast(scene.broadPhase(), p0, p1, keepGoing, nullptr, nullptr);
    std::vector<dgBody*> expected = scene.bodies();
    std::sort(g_visited.begin(), g_visited.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(g_visited, expected);
}

}  // namespace
