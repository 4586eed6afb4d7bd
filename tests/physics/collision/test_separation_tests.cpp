// The tests that call a pair apart before any search, against the full
// convex-convex search over thousands of random pairs near touching: a
// convex pair and a convex over soup faces make the same contacts, bit for
// bit, with the tests as without them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgCollisionSphere.h"
#include "dgConvexContacts.h"
#include "dgMinkowskiSolver.h"
#include "dgSeparationTests.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> Shape;
typedef dgCollisionPolygonalSoup::dgCollisionConvexPolygon Face;

// A random shape of every kind the tests bound, and a cylinder, which they
// never call apart; sizes 0.2 to 2. A kind from 0 to 4 picks the kind.
Shape randomShape(std::mt19937& rng, uint32_t kind = 5) {
    std::uniform_real_distribution<float> size(0.2f, 2.0f);
    const dgMatrix& identity = dgGetIdentityMatrix();
    switch ((kind < 5) ? kind : rng() % 5) {
        case 0:
            return Shape::adopt(new dgCollisionBox(0, size(rng), size(rng), size(rng), identity));
        case 1:
            return Shape::adopt(new dgCollisionSphere(0, 0.5f * size(rng), identity));
        case 2:
            return Shape::adopt(new dgCollisionCapsule(0, 0.5f * size(rng), 2.0f * size(rng), identity));
        case 3: {
            std::vector<float> cloud;
            for (int32_t i = 0; i < 3 * 12; i++) {
                cloud.push_back(0.5f * size(rng) * ((rng() % 2) ? 1.0f : -1.0f));
            }
            return Shape::adopt(new dgCollisionConvexHull(0, 12, 12, cloud.data(), identity));
        }
        default:
            return Shape::adopt(new dgCollisionCylinder(0, 0.5f * size(rng), size(rng), identity));
    }
}

// Count and records equal to the byte in the fields a search writes.
void expectSameRecords(int32_t count, const dgContactPoint* a, int32_t expected, const dgContactPoint* b) {
    ASSERT_EQ(count, expected);
    for (int32_t i = 0; i < count; i++) {
        EXPECT_EQ(std::memcmp(&a[i].point, &b[i].point, sizeof(dgVector)), 0);
        EXPECT_EQ(std::memcmp(&a[i].normal, &b[i].normal, sizeof(dgVector)), 0);
        EXPECT_EQ(std::memcmp(&a[i].penetration, &b[i].penetration, sizeof(float)), 0);
        EXPECT_EQ(a[i].userId, b[i].userId);
    }
}

class SeparationTests : public ::testing::TestWithParam<float> {
protected:
    void SetUp() override { dgInitSearchDirections(); }
};

// Where along a line B starts to touch A by the full search (bisection from
// the centres to 8 m apart), for placing pairs near touching.
float touchingDistance(dgBody& a, dgBody& b, const dgVector& line) {
    float inside = 0.0f;
    float outside = 8.0f;
    const dgVector centre = a.m_matrix.position;
    for (int32_t i = 0; i < 24; i++) {
        const float middle = 0.5f * (inside + outside);
        b.m_matrix.position = centre + line.scale(middle);
        dgBodyUpdateCollisionMatrix(&b, 0.0f);
        dgContactPoint records[dgConvexContactsMax];
        dgMinkowskiSolver solver(&a, &b);
        (solver.calcContacts(records, 0, dgConvexContactsMax) > 0 ? inside : outside) = middle;
    }
    return inside;
}

// Two shapes at random turns, B along a random line from A at a distance
// from 5 mm inside touching to 10 mm beyond it, or anywhere from the centres
// to 3 m apart; the scene sits around (0, offset, 0). A quarter are sphere
// pairs: only round shapes touch right where the line's bounds meet.
TEST_P(SeparationTests, ConvexPairsMakeTheFullSearchsContacts) {
    std::mt19937 rng(2601);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int32_t apart = 0;
    int32_t touching = 0;
    for (int32_t i = 0; i < 1500; i++) {
        Shape a = randomShape(rng, (i % 4 == 1) ? 1 : 5);
        Shape b = randomShape(rng, (i % 4 == 1) ? 1 : 5);
        dgMatrix poseA = randomPose(rng, 5.0f);
        poseA.position.y += GetParam();
        dgBody bodyA = bodyOf(a.get(), poseA);
        dgBody bodyB = bodyOf(b.get(), randomPose(rng, 1.0f));
        const dgVector line = randomPose(rng, 0.0f).front;
        const float distance =
            (i % 2) ? touchingDistance(bodyA, bodyB, line) + 0.015f * unit(rng) - 0.005f : 3.0f * unit(rng);
        bodyB.m_matrix.position = poseA.position + line.scale(distance);
        dgBodyUpdateCollisionMatrix(&bodyB, 0.0f);
        dgContactPoint tested[dgConvexContactsMax];
        dgContactPoint searched[dgConvexContactsMax];
        const int32_t count = dgConvexConvexContacts(&bodyA, &bodyB, tested, dgConvexContactsMax);
        dgMinkowskiSolver solver(&bodyA, &bodyB);
        const int32_t expected = solver.calcContacts(searched, 0, dgConvexContactsMax);
        expectSameRecords(count, tested, expected, searched);
        apart += dgConvexPairApart(*a, bodyA.m_collisionMatrix, *b, bodyB.m_collisionMatrix) ? 1 : 0;
        touching += (expected > 0) ? 1 : 0;
    }
    // Both answers are common: the comparison is not vacuous.
    EXPECT_GT(apart, 150);
    EXPECT_GT(touching, 300);
}

// A convex at random turns over a fan of four random faces around a point,
// walked face after face with one solver as the soup contacts do, against a
// fresh full search for each face. Every other convex is lifted to within
// 5 mm below or 10 mm above where it starts to touch the first face,
// otherwise anywhere from half inside to well above the fan.
TEST_P(SeparationTests, ConvexOverFacesMakesTheFullSearchsContacts) {
    std::mt19937 rng(2602);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> spread(-3.0f, 3.0f);
    dgRefHolder<Face> face = dgRefHolder<Face>::adopt(new Face());
    const dgVector centre(0.0f, GetParam(), 0.0f, 1.0f);
    dgBody soup = placedBody(dgGetIdentityMatrix());
    int32_t apart = 0;
    int32_t touching = 0;
    for (int32_t i = 0; i < 600; i++) {
        Shape convex = randomShape(rng);
        std::vector<float> vertices;
        for (int32_t v = 0; v < 4 * 3; v++) {
            vertices.insert(vertices.end(), {centre.x + spread(rng), centre.y + 0.3f * spread(rng),
                                             centre.z + spread(rng)});
        }
        dgBody body = bodyOf(convex.get(), randomPose(rng, 0.0f));
        auto place = [&](float lift) {
            body.m_matrix.position = centre + dgVector(0.0f, lift, 0.0f, 0.0f);
            dgBodyUpdateCollisionMatrix(&body, 0.0f);
        };
        auto touches = [&](int32_t f, dgContactPoint* records) {
            const int32_t indices[3] = {3 * f, 3 * f + 1, 3 * f + 2};
            face->setFace(vertices.data(), 3, indices, 3);
            dgMinkowskiSolver fresh(&body, &soup, face.get(), body.m_collisionMatrix);
            return face->quickTest(*convex, fresh.m_matrix) ? fresh.calcContacts(records, f, dgConvexContactsMax)
                                                            : -1;
        };
        float lift = 2.0f * unit(rng) - 0.5f;
        if (i % 2) {
            float inside = -1.0f;
            float outside = 3.0f;
            for (int32_t k = 0; k < 24; k++) {
                dgContactPoint records[dgConvexContactsMax];
                place(0.5f * (inside + outside));
                (touches(0, records) > 0 ? inside : outside) = 0.5f * (inside + outside);
            }
            lift = inside + 0.015f * unit(rng) - 0.005f;
        }
        place(lift);
        dgMinkowskiSolver walked(&body, &soup, face.get(), body.m_collisionMatrix);
        for (int32_t f = 0; f < 4; f++) {
            dgContactPoint searched[dgConvexContactsMax];
            const int32_t expected = touches(f, searched);
            if (expected < 0) {
                continue;
            }
            const int32_t indices[3] = {3 * f, 3 * f + 1, 3 * f + 2};
            face->setFace(vertices.data(), 3, indices, 3);
            face->quickTest(*convex, walked.m_matrix);
            dgContactPoint tested[dgConvexContactsMax];
            int32_t count = 0;
            if (dgConvexAboveFace(*convex, body.m_collisionMatrix, face->getStoredVertices(),
                                  face->getStoredCount(), face->getFaceNormal())) {
                apart++;
            } else {
                count = walked.calcContacts(tested, f, dgConvexContactsMax);
            }
            expectSameRecords(count, tested, expected, searched);
            touching += (expected > 0) ? 1 : 0;
        }
    }
    EXPECT_GT(apart, 200);
    EXPECT_GT(touching, 200);
}

// At the origin and 12 km down, as the game's sea floor lies.
INSTANTIATE_TEST_SUITE_P(Offsets, SeparationTests, ::testing::Values(0.0f, -12000.0f));

}  // namespace
