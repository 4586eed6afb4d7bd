#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionSphere.h"
#include "dgConvexSoupContacts.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> ShapeHolder;

constexpr int32_t kCells = 12;
constexpr float kCell = 2.0f;
constexpr float kOrigin = -12.0f;
constexpr float kCanary = -777.0f;

dgBody bodyOf(dgCollision* shape, const dgMatrix& pose) {
    dgBody body;
    body.clear();
    body.m_collision = shape;
    body.m_matrix = pose;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
    return body;
}

// Height map soup: two triangles a cell, each with its own attribute, a
// third of them negative. The map's triangles are kept for reference.
struct Terrain {
    float height(int32_t i, int32_t j) const {
        const float x = kOrigin + kCell * float(i), z = kOrigin + kCell * float(j);
        return bumps * (0.6f * std::sin(0.7f * x) * std::cos(0.5f * z) + 0.3f * std::sin(1.3f * z + 0.4f));
    }
    Terrain(dgWorld* world, float bumpScale) : bumps(bumpScale) {
        shape = dgCreateTreeCollision(world, nullptr);
        dgTreeCollisionBeginBuild(shape);
        int32_t k = 0;
        for (int32_t j = 0; j < kCells; j++) {
            for (int32_t i = 0; i < kCells; i++) {
                const int32_t corners[2][3][2] = {{{i, j}, {i, j + 1}, {i + 1, j}},
                                                  {{i + 1, j}, {i, j + 1}, {i + 1, j + 1}}};
                for (const auto& tri : corners) {
                    std::vector<float> v;
                    for (const auto& c : tri) {
                        v.insert(v.end(), {kOrigin + kCell * float(c[0]), height(c[0], c[1]),
                                           kOrigin + kCell * float(c[1])});
                    }
                    k++;
                    const int32_t attribute = (k % 3 == 0) ? -k : k;
                    dgTreeCollisionAddFace(shape, 3, v.data(), 12, attribute);
                    faces[dgContactUserId(uint32_t(attribute))] = v;
                }
            }
        }
        dgTreeCollisionEndBuild(shape, 0);
    }
    // Surface height below (x, z), map frame.
    float surface(float x, float z) const {
        const float u = (x - kOrigin) / kCell, w = (z - kOrigin) / kCell;
        const int32_t i = std::clamp(int32_t(std::floor(u)), 0, kCells - 1);
        const int32_t j = std::clamp(int32_t(std::floor(w)), 0, kCells - 1);
        const float fx = u - float(i), fz = w - float(j);
        if (fx + fz <= 1.0f) {
            return height(i, j) + (height(i + 1, j) - height(i, j)) * fx + (height(i, j + 1) - height(i, j)) * fz;
        }
        return height(i + 1, j + 1) + (height(i, j + 1) - height(i + 1, j + 1)) * (1.0f - fx) +
               (height(i + 1, j) - height(i + 1, j + 1)) * (1.0f - fz);
    }
    float bumps;
    dgCollision* shape;
    std::map<int64_t, std::vector<float>> faces;
};

dgVector vertexOf(const std::vector<float>& f, int32_t k) {
    return dgVector(f[size_t(3 * k)], f[size_t(3 * k + 1)], f[size_t(3 * k + 2)], 1.0f);
}

// Contact array with canaries past maxCount.
struct Buffer {
    explicit Buffer(int32_t maxCount) : max(std::max(maxCount, 0)), records(size_t(max + 4)) {
        for (dgContactPoint& c : records) {
            std::memset(static_cast<void*>(&c), 0, sizeof(c));
            c.penetration = kCanary;
        }
    }
    bool canariesIntact() const {
        return std::all_of(records.begin() + max, records.end(),
                           [](const dgContactPoint& c) { return c.penetration == kCanary; });
    }
    int32_t max;
    std::vector<dgContactPoint> records;
};

class ConvexSoupTest : public ::testing::Test {
protected:
    void SetUp() override {
        world = dgWorldCreate(nullptr, nullptr);
        hills.reset(new Terrain(world, 1.0f));
        flat.reset(new Terrain(world, 0.0f));
        box = ShapeHolder::adopt(new dgCollisionBox(0, 2.0f, 1.0f, 3.0f, dgGetIdentityMatrix()));
        ball = ShapeHolder::adopt(new dgCollisionSphere(0, 0.7f, dgGetIdentityMatrix()));
    }
    void TearDown() override {
        dgReleaseCollision(world, hills->shape);
        dgReleaseCollision(world, flat->shape);
        dgWorldDestroy(world);
    }
    int32_t collide(dgBody& convex, dgBody& soup, Buffer& out, float timeStep = 0.0f) {
        return dgConvexSoupContacts(world, timeStep, &convex, &soup, out.records.data(), out.max);
    }

    HookGuard hooks;
    dgWorld* world = nullptr;
    std::unique_ptr<Terrain> hills, flat;
    ShapeHolder box, ball;
};

// No face contact keeps an edge contact within 0.2 of it; flags are
// recomputed from each record's own face.
void expectNoHiddenEdgeContact(const Terrain& t, const dgMatrix& soupPose, const dgContactPoint* c, int32_t n) {
    std::vector<bool> edge(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) {
        const std::vector<float>& f = t.faces.at(c[i].userId);
        const dgVector a(vertexOf(f, 0)), b(vertexOf(f, 1)), d(vertexOf(f, 2));
        dgVector normal((b - a).cross(d - b));
        normal = soupPose.rotateVector(normal.scale(1.0f / std::sqrt(normal % normal)));
        edge[size_t(i)] = (normal % c[i].normal) < 0.999f;
        EXPECT_GE(normal % c[i].normal, 0.1f);
    }
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) {
            const dgVector d(c[i].point - c[j].point);
            EXPECT_FALSE(!edge[size_t(i)] && edge[size_t(j)] && (d % d) < 0.04f) << i << " hides " << j;
        }
    }
}

}  // namespace

// ---- random poses on the height map, at the origin and 12 km down ----

struct PoseCase {
    bool sphere;
    int32_t maxCount;
};
class ConvexSoupPoses : public ConvexSoupTest, public ::testing::WithParamInterface<PoseCase> {};

TEST_P(ConvexSoupPoses, ContactsLieOnTheirFacesAndMatchFarFromTheOrigin) {
    const PoseCase param = GetParam();
    const dgVector far(0.0f, -12000.0f, 0.0f, 0.0f);
    std::mt19937 rng(param.sphere ? 3 : 4);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int32_t touching = 0;
    int32_t mismatched = 0;
    for (int32_t trial = 0; trial < 300; trial++) {
        dgMatrix pose = param.sphere ? dgGetIdentityMatrix() : randomPose(rng, 0.0f);
        // Every fourth pose sits on a seam between cells.
        pose.position.x = (trial % 4 == 0) ? kCell * std::round(4.0f * u(rng)) : 8.0f * u(rng);
        pose.position.z = (trial % 4 == 1) ? kCell * std::round(4.0f * u(rng)) : 8.0f * u(rng);
        const float ground = hills->surface(pose.position.x, pose.position.z);
        pose.position.y = ground + (param.sphere ? 0.45f + 0.4f * u(rng) : 0.8f + 0.7f * u(rng));
        dgCollision* shape = param.sphere ? ball.get() : box.get();
        Buffer out(param.maxCount), outFar(param.maxCount);
        dgBody convex = bodyOf(shape, pose), soup = bodyOf(hills->shape, dgGetIdentityMatrix());
        const int32_t n = collide(convex, soup, out);
        dgMatrix poseFar(pose);
        poseFar.position += far;
        dgBody convexFar = bodyOf(shape, poseFar), soupFar = bodyOf(hills->shape, translation(0, far.y, 0));
        const int32_t nFar = collide(convexFar, soupFar, outFar);

        ASSERT_TRUE(out.canariesIntact() && outFar.canariesIntact());
        ASSERT_LE(n, param.maxCount);
        // Overlap by more than a skin must be found: the sphere's lowest
        // point, or the box's lowest corner, under the ground.
        float lowest = pose.position.y - 0.7f;
        float lowX = pose.position.x, lowZ = pose.position.z;
        for (int32_t c = 0; !param.sphere && c < 8; c++) {
            const dgVector p(convex.m_collisionMatrix.transformVector(
                dgVector((c & 1) ? 1.0f : -1.0f, (c & 2) ? 0.5f : -0.5f, (c & 4) ? 1.5f : -1.5f, 1.0f)));
            if (p.y < lowest) {
                lowest = p.y, lowX = p.x, lowZ = p.z;
            }
        }
        if (lowest < hills->surface(lowX, lowZ) - 0.05f) {
            EXPECT_GT(n, 0) << "trial " << trial;
        }
        touching += (n > 0) ? 1 : 0;
        for (int32_t i = 0; i < n; i++) {
            const dgContactPoint& c = out.records[size_t(i)];
            ASSERT_EQ(hills->faces.count(c.userId), 1u);
            EXPECT_NEAR(c.normal % c.normal, 1.0f, 1e-4f);
            EXPECT_TRUE(c.body0 == &convex && c.body1 == &soup && c.collision0 == shape &&
                        c.collision1 == hills->shape);
            // On its face: within the penetration of the face's plane, and
            // inside the convex shape by no more than that.
            const std::vector<float>& f = hills->faces.at(c.userId);
            const dgVector a(vertexOf(f, 0));
            dgVector fn((vertexOf(f, 1) - a).cross(vertexOf(f, 2) - vertexOf(f, 1)));
            fn = fn.scale(1.0f / std::sqrt(fn % fn));
            EXPECT_LE(std::fabs(fn % (c.point - a)), c.penetration + 0.02f);
            const dgVector local(convex.m_collisionMatrix.inverseTransformVector(c.point));
            const float inside = param.sphere ? std::sqrt(local % dgVector(local.x, local.y, local.z, 0.0f)) - 0.7f
                                              : std::max({std::fabs(local.x) - 1.0f, std::fabs(local.y) - 0.5f,
                                                          std::fabs(local.z) - 1.5f});
            EXPECT_LE(inside, c.penetration + 0.02f);
        }
        expectNoHiddenEdgeContact(*hills, dgGetIdentityMatrix(), out.records.data(), n);
        // Far from the origin: the same contacts relative to the body, up to
        // the odd borderline decision the coarser floats turn (reductions
        // keep either of two near points: only unreduced sets compare).
        bool same = (nFar == n);
        for (int32_t i = 0; i < nFar && same; i++) {
            float nearest = 1e30f;
            for (int32_t j = 0; j < n; j++) {
                const dgVector d(outFar.records[size_t(i)].point - far - out.records[size_t(j)].point);
                nearest = std::min(nearest, d % d);
            }
            same = (nearest < 4e-4f);
        }
        mismatched += same ? 0 : 1;
    }
    EXPECT_GT(touching, 100);
    if (param.maxCount == 16) {
        EXPECT_LE(mismatched, 6);
    }
}

INSTANTIATE_TEST_SUITE_P(ShapesAndMaxima, ConvexSoupPoses,
                         ::testing::Values(PoseCase{false, 16}, PoseCase{false, 6}, PoseCase{true, 16},
                                           PoseCase{true, 2}));
