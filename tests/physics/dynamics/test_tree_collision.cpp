// The tree collision against brute force over the faces it was given: box
// gathering, ray casts, polygon walks, rebuilds and bad faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgIntersections.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace {

typedef std::array<float, 9> Triangle;

// A height map of n x n cells, two triangles a cell, walkable side up.
std::vector<Triangle> heightField(int32_t n, float cell, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> h(0.0f, 3.0f);
    std::vector<float> height(size_t(n + 1) * size_t(n + 1));
    for (float& y : height) {
        y = h(rng);
    }
    auto at = [&](int32_t i, int32_t j, float* out) {
        out[0] = cell * float(i);
        out[1] = height[size_t(j) * size_t(n + 1) + size_t(i)];
        out[2] = cell * float(j);
    };
    std::vector<Triangle> faces;
    for (int32_t j = 0; j < n; j++) {
        for (int32_t i = 0; i < n; i++) {
            Triangle a, b;
            at(i, j, &a[0]);
            at(i, j + 1, &a[3]);
            at(i + 1, j, &a[6]);
            at(i + 1, j, &b[0]);
            at(i, j + 1, &b[3]);
            at(i + 1, j + 1, &b[6]);
            faces.push_back(a);
            faces.push_back(b);
        }
    }
    return faces;
}

// A face as the set of its corners, to compare gathered faces with input.
typedef std::set<std::array<float, 3>> Corners;

Corners cornersOf(const float* v, int32_t stride, const int32_t* indices, int32_t count) {
    Corners c;
    for (int32_t i = 0; i < count; i++) {
        const float* p = v + size_t(indices[i]) * size_t(stride);
        c.insert({p[0], p[1], p[2]});
    }
    return c;
}

Corners cornersOf(const Triangle& t) {
    const int32_t idx[3] = {0, 1, 2};
    return cornersOf(t.data(), 3, idx, 3);
}

class TreeCollisionTest : public ::testing::Test {
protected:
    void SetUp() override { m_world = dgWorldCreate(nullptr, nullptr); }
    void TearDown() override {
        for (dgCollision* shape : m_shapes) {
            dgReleaseCollision(m_world, shape);
        }
        dgWorldDestroy(m_world);
    }

    dgCollision* build(const std::vector<Triangle>& faces, int32_t attribute = 1,
                       dgTreeCollisionCallback callback = nullptr) {
        dgCollision* tree = dgCreateTreeCollision(m_world, callback);
        EXPECT_NE(tree, nullptr);
        m_shapes.push_back(tree);
        rebuild(tree, faces, attribute);
        return tree;
    }
    static void rebuild(dgCollision* tree, const std::vector<Triangle>& faces, int32_t attribute) {
        dgTreeCollisionBeginBuild(tree);
        for (const Triangle& t : faces) {
            dgTreeCollisionAddFace(tree, 3, t.data(), 12, attribute);
        }
        dgTreeCollisionEndBuild(tree, 0);
    }
    static const dgCollisionPolygonalSoup* soupOf(const dgCollision* shape) {
        return static_cast<const dgCollisionPolygonalSoup*>(shape);
    }

    dgWorld* m_world = nullptr;
    shapetest::HookGuard m_hooks;
    std::vector<dgCollision*> m_shapes;
};

TEST_F(TreeCollisionTest, BoxGatheringReportsFacesReachingIntoTheBoxAndNoOthers) {
    const std::vector<Triangle> faces(heightField(12, 2.0f, 3));
    dgCollision* tree = build(faces, 7);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> where(-2.0f, 26.0f), size(0.1f, 6.0f);
    static dgPolygonSoupCollideDesc desc;
    for (int32_t trial = 0; trial < 300; trial++) {
        const dgVector lo(where(rng), where(rng) * 0.2f - 1.0f, where(rng), 1.0f);
        const dgVector hi(lo.x + size(rng), lo.y + size(rng), lo.z + size(rng), 1.0f);
        dgSetDescVector(desc.m_boxMin, lo);
        dgSetDescVector(desc.m_boxMax, hi);
        desc.m_soupBody = nullptr;
        desc.m_otherBody = nullptr;
        const int32_t count = soupOf(tree)->gatherFaces(desc);
        // The walk prunes on the faces' extents along all its directions, so
        // it may skip a face whose box only grazes the query; it must report
        // every face with a corner inside, and nothing whose box misses.
        std::set<Corners> got, touching, inside;
        const int32_t stride = desc.m_vertexStrideInBytes / int32_t(sizeof(float));
        for (int32_t f = 0, at = 0; f < count; at += desc.m_faceIndexCounts[f], f++) {
            EXPECT_EQ(desc.m_faceAttributes[f], 7);
            got.insert(
                cornersOf(desc.m_vertexArray, stride, desc.m_faceIndices + at, desc.m_faceIndexCounts[f]));
        }
        EXPECT_EQ(got.size(), size_t(count));
        for (const Triangle& t : faces) {
            bool overlaps = true;
            bool cornerInside = false;
            for (int32_t k = 0; k < 3; k++) {
                bool in = true;
                for (int32_t j = 0; j < 3; j++) {
                    in = in && (t[3 * k + j] > lo[j]) && (t[3 * k + j] < hi[j]);
                }
                cornerInside = cornerInside || in;
            }
            for (int32_t j = 0; j < 3; j++) {
                const float a = std::min({t[j], t[3 + j], t[6 + j]});
                const float b = std::max({t[j], t[3 + j], t[6 + j]});
                overlaps = overlaps && (a <= hi[j]) && (b >= lo[j]);
            }
            if (overlaps) {
                touching.insert(cornersOf(t));
            }
            if (cornerInside) {
                inside.insert(cornersOf(t));
            }
        }
        for (const Corners& c : inside) {
            ASSERT_EQ(got.count(c), 1u) << "trial " << trial << ": a face with a corner inside is missing";
        }
        for (const Corners& c : got) {
            ASSERT_EQ(touching.count(c), 1u) << "trial " << trial << ": a face outside the box is reported";
        }
    }
}

TEST_F(TreeCollisionTest, NearestRayHitMatchesEveryFaceAlongSeamsAndVertices) {
    const std::vector<Triangle> faces(heightField(8, 2.0f, 9));
    dgCollision* tree = build(faces, 3);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> u(0.0f, 16.0f);
    std::uniform_int_distribution<int32_t> grid(0, 8);
    for (int32_t trial = 0; trial < 600; trial++) {
        // Vertical rays at random points, along grid lines, on diagonals and
        // through vertices; slanted rays from random heights.
        float x = u(rng), z = u(rng);
        switch (trial % 4) {
            case 1:
                x = 2.0f * float(grid(rng));
                break;
            case 2:
                x = z;
                break;
            case 3:
                x = 2.0f * float(grid(rng));
                z = 2.0f * float(grid(rng));
                break;
            default:
                break;
        }
        const float drift = (trial % 5 == 0) ? 3.0f : 0.0f;
        const dgVector p0(x - drift, 10.0f, z, 1.0f);
        const dgVector p1(x + drift, -10.0f, z, 1.0f);
        float best = 2.0f;
        for (const Triangle& t : faces) {
            const int32_t idx[3] = {0, 1, 2};
            float s;
            dgVector n;
            if (dgRayFaceTest(p0, p1, t.data(), 12, idx, 3, s, n) && (s < best)) {
                best = s;
            }
        }
        dgContactPoint contact;
        const float t = tree->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        if (best > 1.0f) {
            EXPECT_GT(t, 1.0f) << "trial " << trial;
            continue;
        }
        ASSERT_LE(t, 1.0f) << "trial " << trial << " at " << x << ", " << z;
        EXPECT_NEAR(t, best, 1e-5f);
        EXPECT_NEAR(contact.normal % contact.normal, 1.0f, 1e-4f);
        EXPECT_GT(contact.normal.y, 0.0f);
        EXPECT_EQ(contact.userId, 3);
    }
}

TEST_F(TreeCollisionTest, WalkPlacesEveryFaceByTheBodyAndSkipsUserMeshes) {
    const std::vector<Triangle> faces(heightField(5, 1.0f, 4));
    dgCollision* tree = build(faces);
    dgBody body(shapetest::placedBody(shapetest::translation(0.0f, -12000.0f, 0.0f)));
    body.m_collision = tree;
    static std::multiset<Corners> walked;
    walked.clear();
    dgBodyForEachPolygonDo(&body, [](const dgBody*, int32_t count, const float* v, int32_t) {
        const int32_t idx[3] = {0, 1, 2};
        ASSERT_EQ(count, 3);
        walked.insert(cornersOf(v, 3, idx, 3));
    });
    std::multiset<Corners> want;
    for (Triangle t : faces) {
        for (int32_t k = 0; k < 3; k++) {
            t[3 * k + 1] -= 12000.0f;
        }
        want.insert(cornersOf(t));
    }
    EXPECT_EQ(walked, want);
    EXPECT_EQ(soupOf(tree)->getCollideCallback(), dgTreeCollisionCollide);

    // A soup over someone else's callbacks is not walked.
    dgCollision* user = dgWorldCreatePolygonSoupCollision(nullptr, dgTreeCollisionCollide, nullptr, nullptr);
    ASSERT_NE(user, nullptr);
    static_cast<dgCollisionPolygonalSoup*>(user)->setCollideCallback(
        [](dgPolygonSoupCollideDesc*) { ADD_FAILURE() << "user mesh walked"; });
    body.m_collision = user;
    dgBodyForEachPolygonDo(&body, [](const dgBody*, int32_t, const float*, int32_t) { ADD_FAILURE(); });
    user->release();
}

TEST_F(TreeCollisionTest, PerFaceCallbackSeesEveryGatheredFaceWithBothBodies) {
    static int32_t calls;
    static const dgBody* seen[2];
    calls = 0;
    dgCollision* tree =
        build(heightField(4, 1.0f, 8), 1,
              [](const dgBody* a, const dgBody* b, const float*, int32_t, int32_t count, const int32_t*) {
                  calls++;
                  seen[0] = a;
                  seen[1] = b;
                  EXPECT_EQ(count, 3);
              });
    dgBody soupBody, other;
    static dgPolygonSoupCollideDesc desc;
    dgSetDescVector(desc.m_boxMin, dgVector(-1.0f, -10.0f, -1.0f, 1.0f));
    dgSetDescVector(desc.m_boxMax, dgVector(10.0f, 10.0f, 10.0f, 1.0f));
    desc.m_soupBody = &soupBody;
    desc.m_otherBody = &other;
    EXPECT_EQ(soupOf(tree)->gatherFaces(desc), 32);
    EXPECT_EQ(calls, 32);
    EXPECT_EQ(seen[0], &soupBody);
    EXPECT_EQ(seen[1], &other);
}

TEST_F(TreeCollisionTest, RebuildReplacesTheSoupAndBadFacesAreDropped) {
    dgCollision* tree = build(heightField(6, 1.0f, 1), 1);
    const float good[9] = {0, 0, 0, 0, 0, 1, 1, 0, 0};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float bad[9] = {0, 0, 0, 0, nan, 1, 1, 0, 0};
    const float padded[12] = {5, 0, 5, 9, 5, 0, 6, 9, 6, 0, 5, 9};
    // Outside a build nothing happens.
    dgTreeCollisionAddFace(tree, 3, good, 12, 9);
    dgTreeCollisionEndBuild(tree, 0);

    dgTreeCollisionBeginBuild(tree);
    dgTreeCollisionBeginBuild(tree);  // the first builder is freed, not leaked
    dgTreeCollisionAddFace(tree, 3, good, 12, 2);
    dgTreeCollisionAddFace(tree, 3, padded, 16, 2);
    dgTreeCollisionAddFace(tree, 3, nullptr, 12, 2);
    dgTreeCollisionAddFace(tree, 2, good, 12, 2);
    dgTreeCollisionAddFace(tree, 3, good, 8, 2);
    dgTreeCollisionAddFace(tree, 3, good, 13, 2);
    dgTreeCollisionAddFace(tree, 3, bad, 12, 2);
    dgTreeCollisionEndBuild(tree, 0);

    static dgPolygonSoupCollideDesc desc;
    dgSetDescVector(desc.m_boxMin, dgVector(-100.0f, -100.0f, -100.0f, 1.0f));
    dgSetDescVector(desc.m_boxMax, dgVector(100.0f, 100.0f, 100.0f, 1.0f));
    desc.m_soupBody = nullptr;
    desc.m_otherBody = nullptr;
    ASSERT_EQ(soupOf(tree)->gatherFaces(desc), 2);
    EXPECT_EQ(desc.m_faceAttributes[0], 2);
    EXPECT_EQ(desc.m_faceAttributes[1], 2);
    dgVector lo, hi;
    tree->calcAABB(dgGetIdentityMatrix(), lo, hi);
    EXPECT_FLOAT_EQ(lo.x, 0.0f);
    EXPECT_FLOAT_EQ(hi.x, 6.0f);
    EXPECT_FLOAT_EQ(hi.z, 6.0f);
}

TEST(TreeCollisionMemory, BuildsRebuildsAndReleasesBalance) {
    shapetest::HookGuard guard;
    const std::vector<Triangle> faces(heightField(10, 1.0f, 6));
    auto cycle = [&](bool leaveBuilder) {
        dgWorld* world = dgWorldCreate(nullptr, nullptr);
        dgCollision* tree = dgCreateTreeCollision(world, nullptr);
        for (int32_t pass = 0; pass < 2; pass++) {
            dgTreeCollisionBeginBuild(tree);
            for (const Triangle& t : faces) {
                dgTreeCollisionAddFace(tree, 3, t.data(), 12, 1);
            }
            dgTreeCollisionEndBuild(tree, pass);
        }
        if (leaveBuilder) {
            dgTreeCollisionBeginBuild(tree);
        }
        dgReleaseCollision(world, tree);
        dgWorldDestroy(world);
    };
    cycle(false);  // warm the pools
    for (bool leaveBuilder : {false, true}) {
        SCOPED_TRACE(leaveBuilder ? "builder left open" : "builder closed");
        MemoryBalance balance;
        cycle(leaveBuilder);
    }
}

}  // namespace
