// Joint rings, the jointed-body walk, contact joints and the pages they live
// on.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "CountingHooks.h"
#include "WorldTestUtils.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgConstraint.h"
#include "dgContact.h"
#include "dgContactPersistence.h"
#include "dgPageList.h"
#include "dgWorld.h"

namespace {

using shapetest::HookGuard;

// A joint that ties its bodies together (or, with bilateral false, one that
// does not, as a contact); lives in test storage.
class TestJoint : public dgConstraint {
public:
    explicit TestJoint(bool bilateral = true) : m_bilateral(bilateral) {}
    void setDestructorCallback(dgConstraintDestructorCallback) override {}
    void release() override {}
    bool isBilateral() const override { return m_bilateral; }
    int32_t submitRows(dgJointRowBlock&) override { return 0; }

private:
    bool m_bilateral;
};

// Cleared bodies in one block, dynamic unless made static.
std::unique_ptr<dgBody[]> makeBodies(dgWorld* world, int32_t count) {
    std::unique_ptr<dgBody[]> bodies(new dgBody[size_t(count)]);
    for (int32_t i = 0; i < count; ++i) {
        dgBody::createCleared(&bodies[size_t(i)]);
        bodies[size_t(i)].m_world = world;
        bodies[size_t(i)].m_serial = ++world->m_bodySerial;
        bodies[size_t(i)].m_invMass = dgVector(1.0f, 1.0f, 1.0f, 1.0f);
    }
    return bodies;
}

// The links of a body's ring in ring order, checking that next and prev agree
// and the ring closes.
std::vector<dgJointLink*> ringOf(const dgBody* body) {
    std::vector<dgJointLink*> links;
    dgJointLink* head = body->m_jointRing;
    if (!head) {
        return links;
    }
    dgJointLink* link = head;
    do {
        EXPECT_EQ(link->m_next->m_prev, link);
        EXPECT_EQ(link->m_body, body);
        links.push_back(link);
        link = link->m_next;
    } while ((link != head) && (links.size() < 100000));
    return links;
}

struct WorldFixture : public ::testing::Test {
    void SetUp() override { world = dgWorldCreate(nullptr, nullptr); }
    void TearDown() override { dgWorldDestroy(world); }
    HookGuard guard;
    dgWorld* world = nullptr;
};

}  // namespace

TEST(PageList, HandsOutSlotsPageByPageAndReusesReturnedOnesFirst) {
    dgPageList<dgContact> pages;
    std::vector<void*> taken;
    for (int32_t i = 0; i < 130; ++i) {
        taken.push_back(pages.take());
        ASSERT_NE(taken.back(), nullptr);
    }
    EXPECT_EQ(pages.getPageCount(), 3);
    EXPECT_EQ(pages.getInUse(), 130);
    EXPECT_EQ(std::set<void*>(taken.begin(), taken.end()).size(), taken.size());

    pages.give(taken[5]);
    pages.give(taken[70]);
    EXPECT_EQ(pages.getInUse(), 128);
    EXPECT_EQ(pages.take(), taken[70]);
    EXPECT_EQ(pages.take(), taken[5]);
    // Only now a fresh slot; no page is added before the third is full.
    EXPECT_NE(pages.take(), nullptr);
    EXPECT_EQ(pages.getPageCount(), 3);
}

TEST_F(WorldFixture, AttachBuildsCircularRingsAndTheFindsWalkThemOnce) {
    auto bodies = makeBodies(world, 4);
    dgBody* a = &bodies[0];
    dgBody* b = &bodies[1];
    dgBody* c = &bodies[2];
    a->m_invMass = dgVector(0.0f, 0.0f, 0.0f, 0.0f);  // static
    b->m_flags = dgBodyFlagEquilibrium;

    // a-b three times, a-c once, a with the world once, b-c once.
    TestJoint joints[6];
    dgBody* pairs[6][2] = {{a, b}, {a, c}, {b, a}, {a, nullptr}, {a, b}, {b, c}};
    for (int32_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(dgWorldAttachConstraint(world, &joints[i], pairs[i][0], pairs[i][1]));
        EXPECT_EQ(joints[i].m_body0, pairs[i][0]);
        EXPECT_EQ(joints[i].m_body1, pairs[i][1]);
        EXPECT_EQ(joints[i].m_link->m_joint, &joints[i]);
        EXPECT_EQ(joints[i].m_link->m_partner->m_partner, joints[i].m_link);
    }
    EXPECT_EQ(world->m_jointCount, 6u);
    EXPECT_EQ(ringOf(a).size(), 5u);
    EXPECT_EQ(ringOf(b).size(), 4u);
    EXPECT_EQ(ringOf(c).size(), 2u);
    // Attach order is ring order.
    EXPECT_EQ(ringOf(a).front()->m_joint, &joints[0]);
    EXPECT_EQ(ringOf(a).back()->m_joint, &joints[4]);
    EXPECT_NE(a->m_flags & dgBodyFlagEquilibrium, 0u);
    EXPECT_EQ(b->m_flags & dgBodyFlagEquilibrium, 0u);

    struct Case {
        dgBody* from;
        dgBody* to;
        std::vector<dgConstraint*> expected;
    };
    const Case cases[] = {
        {a, b, {&joints[0], &joints[2], &joints[4]}},
        {b, a, {&joints[0], &joints[2], &joints[4]}},
        {a, c, {&joints[1]}},
        {a, nullptr, {&joints[3]}},
        {c, a, {&joints[1]}},
        {c, &bodies[3], {}},
        {&bodies[3], a, {}},
    };
    for (const Case& k : cases) {
        std::vector<dgConstraint*> found;
        for (dgJointLink* link = dgWorldFindJointLink(k.from, k.to); link && (found.size() < 100);
             link = dgWorldFindBodyLink(link, k.to)) {
            EXPECT_EQ(link->getOtherBody(), k.to);
            found.push_back(link->m_joint);
        }
        EXPECT_EQ(found, k.expected);
    }
}

TEST_F(WorldFixture, AttachRefusesANullFirstBodyAndABodyJointedToItself) {
    auto bodies = makeBodies(world, 1);
    TestJoint joint;
    EXPECT_FALSE(dgWorldAttachConstraint(world, &joint, nullptr, &bodies[0]));
    EXPECT_FALSE(dgWorldAttachConstraint(world, &joint, &bodies[0], &bodies[0]));
    EXPECT_EQ(world->m_jointCount, 0u);
    EXPECT_EQ(bodies[0].m_jointRing, nullptr);
    EXPECT_EQ(world->m_linkPages.getInUse(), 0);
}

// Random groups of bodies tied by joints and touching by contacts, against a
// breadth-first search over the tying joints alone.
TEST_F(WorldFixture, JointedBodiesMatchAReferenceWalkAndLeaveNoMark) {
    std::mt19937 rng(1234);
    for (int32_t round = 0; round < 300; ++round) {
        const int32_t n = 2 + int32_t(rng() % 40);
        auto bodies = makeBodies(world, n);
        const int32_t jointCount = int32_t(rng() % uint32_t(2 * n));
        std::vector<std::unique_ptr<TestJoint>> joints;
        std::vector<std::vector<int32_t>> tied(static_cast<size_t>(n));
        for (int32_t j = 0; j < jointCount; ++j) {
            const int32_t i0 = int32_t(rng() % uint32_t(n));
            const int32_t i1 = int32_t(rng() % uint32_t(n));
            if (i0 == i1) {
                continue;
            }
            const bool bilateral = (rng() % 3) != 0;
            joints.emplace_back(new TestJoint(bilateral));
            ASSERT_TRUE(dgWorldAttachConstraint(world, joints.back().get(), &bodies[size_t(i0)],
                                                &bodies[size_t(i1)]));
            if (bilateral) {
                tied[size_t(i0)].push_back(i1);
                tied[size_t(i1)].push_back(i0);
            }
        }
        const int32_t start = int32_t(rng() % uint32_t(n));
        std::set<int32_t> reached{start};
        std::vector<int32_t> queue{start};
        while (!queue.empty()) {
            const int32_t i = queue.back();
            queue.pop_back();
            for (int32_t k : tied[size_t(i)]) {
                if (reached.insert(k).second) {
                    queue.push_back(k);
                }
            }
        }
        reached.erase(start);

        const int32_t maxCount = (round % 4 == 0) ? 1 + int32_t(rng() % 4) : 512;
        dgBody* out[512];
        const int32_t count = dgWorldGetJointedBodies(&bodies[size_t(start)], out, maxCount);
        std::set<int32_t> listed;
        for (int32_t i = 0; i < count; ++i) {
            listed.insert(int32_t(out[i] - &bodies[0]));
        }
        EXPECT_EQ(listed.size(), size_t(count)) << "a body listed twice";
        if (int32_t(reached.size()) <= maxCount) {
            EXPECT_EQ(listed, reached);
        } else {
            EXPECT_EQ(count, maxCount);
            EXPECT_TRUE(std::includes(reached.begin(), reached.end(), listed.begin(), listed.end()));
        }
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_EQ(bodies[size_t(i)].m_refreshStamp & dgBody::kJointWalkMark, 0u);
        }
    }
}

// Joints and contacts attached and destroyed at random, the ground among
// the bodies: each body's tie count is its ring's links to joints other than
// contacts, and the pair pass finds each pair's one contact, or none, from
// either side.
TEST_F(WorldFixture, TieCountsAndPairContactsFollowRandomAttachAndDestroy) {
    std::mt19937 rng(77);
    const int32_t n = 12;
    auto bodies = makeBodies(world, n);
    bodies[0].m_invMass = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    std::vector<std::unique_ptr<TestJoint>> ties;
    std::vector<dgConstraint*> live;
    std::vector<std::vector<dgContact*>> contactOf(size_t(n), std::vector<dgContact*>(size_t(n), nullptr));
    for (int32_t op = 0; op < 2000; ++op) {
        const int32_t i0 = int32_t(rng() % uint32_t(n));
        const int32_t i1 = int32_t(rng() % uint32_t(n));
        if ((rng() % 3 == 0) && !live.empty()) {
            const size_t k = rng() % live.size();
            dgConstraint* joint = live[k];
            live.erase(live.begin() + std::ptrdiff_t(k));
            if (joint->m_typeId == dgJointTypeContact) {
                const auto a = size_t(joint->m_body0 - &bodies[0]);
                const auto b = size_t(joint->m_body1 - &bodies[0]);
                contactOf[a][b] = contactOf[b][a] = nullptr;
            }
            dgWorldDestroyConstraint(world, joint);
        } else if ((i0 != i1) && (rng() % 2 == 0) && !contactOf[size_t(i0)][size_t(i1)]) {
            dgContact* contact = dgNewContact(world);
            ASSERT_TRUE(dgWorldAttachConstraint(world, contact, &bodies[size_t(i0)], &bodies[size_t(i1)]));
            contactOf[size_t(i0)][size_t(i1)] = contactOf[size_t(i1)][size_t(i0)] = contact;
            live.push_back(contact);
        } else if (i0 != i1) {
            ties.emplace_back(new TestJoint(rng() % 2 == 0));
            ASSERT_TRUE(dgWorldAttachConstraint(world, ties.back().get(), &bodies[size_t(i0)], &bodies[size_t(i1)]));
            live.push_back(ties.back().get());
        }
        for (int32_t i = 0; i < n; ++i) {
            const std::vector<dgJointLink*> ring = ringOf(&bodies[size_t(i)]);
            const auto tying = std::count_if(ring.begin(), ring.end(), [](const dgJointLink* link) {
                return link->m_joint->m_typeId != dgJointTypeContact;
            });
            ASSERT_EQ(bodies[size_t(i)].m_tieCount, int32_t(tying)) << "body " << i << " after step " << op;
            for (int32_t j = 0; j < n; ++j) {
                dgContact* found = nullptr;
                if (i != j) {
                    dgWorldReuseContacts(&bodies[size_t(i)], &bodies[size_t(j)], &found);
                }
                ASSERT_EQ(found, contactOf[size_t(i)][size_t(j)]) << i << "-" << j << " after step " << op;
            }
        }
    }
    for (dgConstraint* joint : live) {
        dgWorldDestroyConstraint(world, joint);
    }
}

// A pile far past the workspace's 512 bodies: the walk's stacks grow and the
// result stops at the maximum; bad arguments give 0 and leave no mark.
TEST_F(WorldFixture, JointedBodiesOfALongChainStopAtTheMaximum) {
    const int32_t n = 2000;
    auto bodies = makeBodies(world, n);
    std::vector<TestJoint> joints(static_cast<size_t>(n - 1));
    for (int32_t i = 0; i + 1 < n; ++i) {
        ASSERT_TRUE(dgWorldAttachConstraint(world, &joints[size_t(i)], &bodies[size_t(i)], &bodies[size_t(i + 1)]));
    }
    std::vector<dgBody*> out(static_cast<size_t>(n));
    EXPECT_EQ(dgWorldGetJointedBodies(&bodies[size_t(n / 2)], out.data(), n), n - 1);
    EXPECT_EQ(dgWorldGetJointedBodies(&bodies[0], out.data(), 512), 512);
    EXPECT_EQ(dgWorldGetJointedBodies(&bodies[0], out.data(), 0), 0);
    EXPECT_EQ(dgWorldGetJointedBodies(&bodies[0], nullptr, 512), 0);
    for (int32_t i = 0; i < n; ++i) {
        ASSERT_EQ(bodies[size_t(i)].m_refreshStamp & dgBody::kJointWalkMark, 0u);
    }
}

TEST_F(WorldFixture, NewContactsStartEmptyAndReleaseLeavesTheWorldsList) {
    auto bodies = makeBodies(world, 2);
    dgContact* contact = dgNewContact(world);
    ASSERT_NE(contact, nullptr);
    EXPECT_EQ(contact->m_typeId, dgJointTypeContact);
    EXPECT_EQ(contact->m_maxRows, 3);
    EXPECT_EQ(contact->m_refreshStamp, 0u);
    EXPECT_EQ(contact->m_collisionState, 1);
    EXPECT_EQ(contact->m_pointCount, 0);
    EXPECT_EQ(contact->m_points.getCount(), 0);
    EXPECT_FALSE(contact->isBilateral());
    EXPECT_EQ(world->m_contactList.getCount(), 1);
    EXPECT_EQ(contact->m_worldEntry->getValue(), contact);

    ASSERT_TRUE(dgWorldAttachConstraint(world, contact, &bodies[0], &bodies[1]));
    contact->m_points.prepend();
    contact->m_points.prepend();
    contact->m_pointCount = 2;
    contact->release();
    EXPECT_EQ(contact->m_points.getCount(), 0);
    EXPECT_EQ(world->m_contactList.getCount(), 0);
}

// Contacts with points, left in the world, go with it: every block the world
// took comes back.
TEST(WorldTeardown, ReleasesContactJointsPointsAndPages) {
    HookGuard guard;
    expectEveryBlockBack([](dgWorld* world) {
        auto bodies = makeBodies(world, 2);
        for (int32_t i = 0; i < 150; ++i) {
            dgContact* contact = dgNewContact(world);
            ASSERT_NE(contact, nullptr);
            ASSERT_TRUE(dgWorldAttachConstraint(world, contact, &bodies[0], &bodies[1]));
            for (int32_t k = 0; k < 5; ++k) {
                contact->m_points.prepend();
            }
        }
        dgWorldDestroy(world);
    });
}

namespace {

std::vector<std::pair<const dgBody*, uint32_t>> g_activations;
void recordActivation(dgBody* body, uint32_t state) {
    g_activations.emplace_back(body, state);
}

}  // namespace

// Destroying joints (directly and through the stale queue) unhooks exactly
// their links, wakes frozen auto-freeze bodies at either end and gives
// links and contacts back to their pages.
TEST_F(WorldFixture, DestroyedJointsLeaveTheRingsAndWakeTheirBodies) {
    auto bodies = makeBodies(world, 3);
    dgBody* a = &bodies[0];
    dgBody* b = &bodies[1];
    dgBody* ground = &bodies[2];
    ground->m_invMass = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t i = 0; i < 3; ++i) {
        bodies[size_t(i)].m_flags = dgBodyFlagAutoFreeze;
        bodies[size_t(i)].m_activation = recordActivation;
    }
    TestJoint hinge;
    dgContact* touch = dgNewContact(world);
    dgContact* resting = dgNewContact(world);
    ASSERT_TRUE(dgWorldAttachConstraint(world, &hinge, a, b));
    ASSERT_TRUE(dgWorldAttachConstraint(world, touch, a, b));
    ASSERT_TRUE(dgWorldAttachConstraint(world, resting, b, ground));
    resting->m_points.prepend();

    g_activations.clear();
    dgWorldDestroyConstraint(world, touch);
    EXPECT_EQ(ringOf(a).size(), 1u);
    EXPECT_EQ(ringOf(b).size(), 2u);
    EXPECT_EQ(dgWorldFindJointLink(a, b)->m_joint, &hinge);
    // Both frozen ends woke, each once.
    EXPECT_EQ(g_activations.size(), 2u);
    EXPECT_NE(a->m_activeNode, nullptr);
    EXPECT_NE(b->m_flags & dgBodyFlagActive, 0u);
    EXPECT_EQ(a->m_flags & dgBodyFlagEquilibrium, 0u);

    dgWorldQueueStaleContact(world, resting);
    dgWorldDestroyStaleContacts(world);
    EXPECT_EQ(world->m_staleContacts.getCount(), 0);
    EXPECT_EQ(ringOf(b).size(), 1u);
    EXPECT_EQ(ground->m_jointRing, nullptr);
    EXPECT_NE(ground->m_flags & dgBodyFlagEquilibrium, 0u);
    EXPECT_EQ(world->m_contactPages.getInUse(), 0);
    EXPECT_EQ(world->m_contactList.getCount(), 0);
    EXPECT_EQ(world->m_jointCount, 1u);

    dgWorldDestroyConstraint(world, &hinge);
    EXPECT_EQ(a->m_jointRing, nullptr);
    EXPECT_EQ(b->m_jointRing, nullptr);
    EXPECT_EQ(world->m_linkPages.getInUse(), 0);

    g_activations.clear();
    dgWorldFreezeBody(world, a);
    dgWorldFreezeBody(world, a);
    dgWorldUnfreezeBody(world, a);
    const std::vector<std::pair<const dgBody*, uint32_t>> expected = {{a, 0u}, {a, 1u}};
    EXPECT_EQ(g_activations, expected);
    dgWorldFreezeBody(world, a);
    dgWorldFreezeBody(world, b);
    dgWorldFreezeBody(world, ground);
}
