#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <map>
#include <memory>
#include <set>
#include <random>
#include <vector>

#include "FlatFloorCheck.h"
#include "PressedFaceCheck.h"
#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
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
            return height(i, j) + (height(i + 1, j) - height(i, j)) * fx +
                   (height(i, j + 1) - height(i, j)) * fz;
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
        // Two triangles sharing the diagonal x = -z, the second attribute
        // negative.
        pair = dgCreateTreeCollision(world, nullptr);
        dgTreeCollisionBeginBuild(pair);
        const float a[9] = {-10, 0, -10, -10, 0, 10, 10, 0, -10}, b[9] = {10, 0, -10, -10, 0, 10, 10, 0, 10};
        dgTreeCollisionAddFace(pair, 3, a, 12, 7);
        dgTreeCollisionAddFace(pair, 3, b, 12, -3);
        dgTreeCollisionEndBuild(pair, 0);
        cube = ShapeHolder::adopt(new dgCollisionBox(0, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix()));
        box = ShapeHolder::adopt(new dgCollisionBox(0, 2.0f, 1.0f, 3.0f, dgGetIdentityMatrix()));
        ball = ShapeHolder::adopt(new dgCollisionSphere(0, 0.7f, dgGetIdentityMatrix()));
    }
    void TearDown() override {
        dgReleaseCollision(world, hills->shape);
        dgReleaseCollision(world, flat->shape);
        dgReleaseCollision(world, pair);
        dgWorldDestroy(world);
    }
    int32_t collide(dgBody& convex, dgBody& soup, Buffer& out, float& timeStep) {
        return dgConvexSoupContacts(world, timeStep, &convex, &soup, out.records.data(), out.max);
    }
    int32_t collide(dgBody& convex, dgBody& soup, Buffer& out) {
        float timeStep = 0.0f;
        return collide(convex, soup, out, timeStep);
    }

    HookGuard hooks;
    dgWorld* world = nullptr;
    std::unique_ptr<Terrain> hills, flat;
    dgCollision* pair = nullptr;
    ShapeHolder box, ball, cube;
};

// No face contact keeps an edge contact within 0.2 of it; flags are
// recomputed from each record's own face.
void expectNoHiddenEdgeContact(const Terrain& t, const dgMatrix& soupPose, const dgContactPoint* c,
                               int32_t n) {
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
            // The deepest first, for callers that keep one point.
            EXPECT_LE(c.penetration, out.records[0].penetration);
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
            const float inside = param.sphere
                                     ? std::sqrt(local % dgVector(local.x, local.y, local.z, 0.0f)) - 0.7f
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

// ---- a box resting on two triangles, in any of its orientations ----

struct RestCase {
    float ax, ay, az;
    float soupY;
};
class ConvexSoupResting : public ConvexSoupTest, public ::testing::WithParamInterface<RestCase> {};

// The face normal must meet the contact normals in world space: a box turned
// on its side keeps its contacts.
TEST_P(ConvexSoupResting, EveryOrientationKeepsFaceContactsFromBothTriangles) {
    const RestCase param = GetParam();
    dgMatrix pose(turned(param.ax, param.ay, param.az, dgVector(0, 0, 0, 1)));
    const float half =
        std::fabs(pose.front.y) * 1.0f + std::fabs(pose.up.y) * 0.5f + std::fabs(pose.right.y) * 1.5f;
    pose.position = dgVector(0.0f, param.soupY + half - 0.05f, 0.0f, 1.0f);
    dgBody convex = bodyOf(box.get(), pose), soup = bodyOf(pair, translation(0, param.soupY, 0));
    Buffer out(16);
    const int32_t n = collide(convex, soup, out);
    ASSERT_GE(n, 4);
    std::set<int64_t> ids;
    for (int32_t i = 0; i < n; i++) {
        const dgContactPoint& c = out.records[size_t(i)];
        EXPECT_NEAR(c.normal.y, 1.0f, 1e-3f);
        EXPECT_NEAR(c.penetration, 0.05f - 1.0f / 128.0f, 0.01f);
        ids.insert(c.userId);
    }
    EXPECT_EQ(ids, (std::set<int64_t>{7, int64_t(0xFFFFFFFDu)}));
}

INSTANTIATE_TEST_SUITE_P(Orientations, ConvexSoupResting,
                         ::testing::Values(RestCase{0, 0, 0, 0}, RestCase{1.5707963f, 0, 0, 0},
                                           RestCase{0, 0, 1.5707963f, 0}, RestCase{3.1415927f, 0, 0, 0},
                                           RestCase{0, 0.5f, 0, 0}, RestCase{1.5707963f, 0, 0, -12000.0f}));

// ---- shapes resting on a flat sea floor of 20 m cells, and pressed into
// the faces of an optimised rolling grid ----

// A shape of the given sizes at the identity, for a row of a table.
template <class Shape, class... Sizes>
std::function<dgConvexCollision*()> maker(Sizes... sizes) {
    return [=] { return new Shape(0, float(sizes)..., dgGetIdentityMatrix()); };
}

// On the rolling grid only the placement's depth counts: the shallowest
// press.
struct GroundCase {
    const char* name;
    std::function<dgConvexCollision*()> make;
    flatfloor::Placement place;
};
class ConvexSoupGround : public ConvexSoupTest, public ::testing::WithParamInterface<GroundCase> {
protected:
    ShapeHolder shape = ShapeHolder::adopt(GetParam().make());
};
class ConvexSoupFlatFloor : public ConvexSoupGround {};
class ConvexSoupPressed : public ConvexSoupGround {};

std::string groundName(const ::testing::TestParamInfo<GroundCase>& info) {
    return info.param.name;
}

// However the shape straddles the seams, and turned as a resting body may
// be, the floor pushes along its own normal, by the depth of the shape's
// lowest point where it is deepest and by no more anywhere: a seam to a level
// neighbour is no edge to slide off. Ships are tilted a degree at most; round
// shapes lie any way up, half of them near a cell's corner, where a sphere's
// own closed form once pushed them up to 25 degrees off the vertical.
TEST_P(ConvexSoupFlatFloor, EveryContactHasTheFloorNormalAndTheDeepestTheLowestPointsDepth) {
    dgCollision* floor = flatfloor::buildFloor(world);
    float worstCos = 1.0f;
    EXPECT_EQ(flatfloor::badPlacements(world, floor, shape.get(), GetParam().place, 2000, 11, worstCos), 0)
        << "worst cosine " << worstCos;
    dgReleaseCollision(world, floor);
}

// The grid's merged faces bow by up to a few centimetres off their planes: a
// shape pressed into one, however shallow, is pushed out along about its
// normal, never left without a contact.
TEST_P(ConvexSoupPressed, EveryPressGetsAContactAlongTheFaceNormal) {
    dgCollision* grid = pressedface::buildRollingGrid(world);
    float worstCos = 1.0f;
    EXPECT_EQ(
        pressedface::missedPresses(world, grid, shape.get(), 2000, 17, worstCos, GetParam().place.depth), 0)
        << "worst cosine " << worstCos;
    dgReleaseCollision(world, grid);
}

const float kDegree = float(kPi / 180.0);

INSTANTIATE_TEST_SUITE_P(
    Shapes, ConvexSoupFlatFloor,
    ::testing::Values(
        GroundCase{"SmallShip", maker<dgCollisionBox>(6, 3, 10), {0.05f, kDegree, false, 0.0f}},
        GroundCase{"LargeShip", maker<dgCollisionBox>(36, 10, 16), {0.2f, kDegree, false, 0.0f}},
        GroundCase{"Sphere", maker<dgCollisionSphere>(1.0f), {0.1f, 0.0f, false, 2.0f}},
        GroundCase{"LargeSphere", maker<dgCollisionSphere>(5.0f), {0.25f, 0.0f, false, 10.0f}},
        GroundCase{"Capsule", maker<dgCollisionCapsule>(1.0f, 4.0f), {0.1f, 0.0f, true, 4.0f}},
        GroundCase{"Ellipse", maker<dgCollisionEllipse>(1.0f, 0.6f, 1.4f), {0.1f, 0.0f, true, 3.0f}},
        GroundCase{"Chamfer", maker<dgCollisionChamferCylinder>(1.0f, 0.5f), {0.1f, 0.0f, true, 2.0f}}),
    groundName);

INSTANTIATE_TEST_SUITE_P(
    Shapes, ConvexSoupPressed,
    ::testing::Values(GroundCase{"Box", maker<dgCollisionBox>(0.6f, 0.4f, 0.8f), {1.0e-4f}},
                      // The sphere's closed form counts overlaps past 1/256 only.
                      GroundCase{"Sphere", maker<dgCollisionSphere>(0.4f), {1.0f / 256.0f + 1.0e-4f}},
                      GroundCase{"Capsule", maker<dgCollisionCapsule>(0.3f, 1.2f), {1.0e-4f}},
                      GroundCase{"Ellipse", maker<dgCollisionEllipse>(0.5f, 0.3f, 0.7f), {1.0e-4f}},
                      GroundCase{"Chamfer", maker<dgCollisionChamferCylinder>(0.35f, 0.25f), {1.0e-4f}}),
    groundName);

// ---- maxima on every path ----

enum Path { kBoxPath, kSpherePath, kFastPath };
struct MaxCase {
    Path path;
    int32_t maxCount;
};
class ConvexSoupMaxima : public ConvexSoupTest, public ::testing::WithParamInterface<MaxCase> {};

TEST_P(ConvexSoupMaxima, NothingIsWrittenPastTheMaximum) {
    const MaxCase param = GetParam();
    ShapeHolder big = ShapeHolder::adopt(
        param.path == kSpherePath
            ? static_cast<dgConvexCollision*>(new dgCollisionSphere(0, 3.0f, dgGetIdentityMatrix()))
            : new dgCollisionBox(0, 9.0f, 1.0f, 9.0f, dgGetIdentityMatrix()));
    dgCollision* ground = (param.path == kFastPath) ? flat->shape : hills->shape;
    const float y = (param.path == kFastPath) ? 0.55f : (param.path == kSpherePath) ? 2.0f : 0.3f;
    dgBody convex = bodyOf(big.get(), turned(0, 0.3f, 0, dgVector(0.5f, y, 0.5f, 1)));
    dgBody soup = bodyOf(ground, dgGetIdentityMatrix());
    float timeStep = 1.0f / 60.0f;
    if (param.path == kFastPath) {
        convex.m_flags |= dgBodyFlagContinuous;
        convex.m_veloc = dgVector(0, -50.0f, 0, 0);
    }
    Buffer out(param.maxCount);
    const int32_t n = collide(convex, soup, out, timeStep);
    EXPECT_TRUE(out.canariesIntact());
    EXPECT_LE(n, std::min(std::max(param.maxCount, 0), dgMaxSoupContacts));
    EXPECT_EQ(n > 0, param.maxCount > 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConvexSoupMaxima, ::testing::ValuesIn([] {
                             std::vector<MaxCase> cases;
                             for (Path path : {kBoxPath, kSpherePath, kFastPath}) {
                                 for (int32_t m : {-1, 0, 1, 2, 16, 200}) {
                                     cases.push_back({path, m});
                                 }
                             }
                             return cases;
                         }()));

// ---- the continuous path ----

struct MotionCase {
    const char* name;
    float soupTurn;  // about z: 90 degrees stands the floor up as a wall
    float gap;       // between cube and floor, along the floor's normal
    float speed;     // towards the floor
    float timeStep;
    bool contacts;
    float expectedStep;  // -1: the time of impact gap / speed
};
// The continuous set-up test takes a face only once the body reaches within
// 0.1 of its plane: the hits start 0.05 away.
class ConvexSoupMotion : public ConvexSoupTest, public ::testing::WithParamInterface<MotionCase> {};

TEST_P(ConvexSoupMotion, StepAndSpinFollowTheMotion) {
    const MotionCase param = GetParam();
    const dgMatrix soupPose(turned(0, 0, param.soupTurn, dgVector(0, 0, 0, 1)));
    const dgVector up(soupPose.up);
    dgMatrix pose(soupPose);
    pose.position = up.scale(0.5f + param.gap);
    pose.position.w = 1.0f;
    dgBody convex = bodyOf(cube.get(), pose), soup = bodyOf(pair, soupPose);
    convex.m_flags = dgBodyFlagContinuous | dgBodyFlagEquilibrium;
    convex.m_veloc = up.scale(-param.speed);
    convex.m_omega = dgVector(1, 2, 3, 0);
    const dgMatrix soupMatrix(soup.m_collisionMatrix);
    Buffer out(16);
    float timeStep = param.timeStep;
    const int32_t n = collide(convex, soup, out, timeStep);
    EXPECT_EQ(n > 0, param.contacts);
    EXPECT_NEAR(timeStep, (param.expectedStep < 0.0f) ? param.gap / param.speed : param.expectedStep, 3e-4f);
    const bool fast = param.speed * std::min(param.timeStep, 1.0f) > 0.25f;
    EXPECT_FLOAT_EQ(convex.m_omega.x, fast ? 0.9f : 1.0f);
    EXPECT_FLOAT_EQ(convex.m_omega.z, fast ? 2.7f : 3.0f);
    EXPECT_EQ((convex.m_flags & dgBodyFlagEquilibrium) == 0, fast);
    EXPECT_EQ(std::memcmp(&soupMatrix, &soup.m_collisionMatrix, sizeof(dgMatrix)), 0);
    for (int32_t i = 0; i < n; i++) {
        EXPECT_GT(out.records[size_t(i)].normal % up, 0.99f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvexSoupMotion,
    ::testing::Values(MotionCase{"slowAndApart", 0, 1.0f, 0.1f, 1.0f / 60, false, 0},
                      MotionCase{"slowAndTouching", 0, -0.05f, 0.1f, 1.0f / 60, true, 0},
                      MotionCase{"fastHit", 0, 0.05f, 50.0f, 1.0f / 60, true, -1},
                      MotionCase{"fastMiss", 0, 5.0f, 50.0f, 1.0f / 60, false, 1.0f / 60},
                      MotionCase{"stepAboveOne", 0, 80.0f, 50.0f, 5.0f, false, 1.0f},
                      MotionCase{"fastIntoAWall", 1.5707963f, 0.05f, 50.0f, 1.0f / 60, true, -1}),
    [](const ::testing::TestParamInfo<MotionCase>& info) { return info.param.name; });

// A body already more than halfway through the floor leaves it the short
// way by the floor's back; the floor must push it back up by its depth, on
// the discrete path and on the swept one alike.
TEST_F(ConvexSoupTest, BodyHalfwayThroughTheFloorIsPushedBackUp) {
    for (const float speed : {0.0f, 50.0f}) {
        for (const float y : {-0.1f, -0.3f, -0.45f}) {
            dgBody convex = bodyOf(cube.get(), translation(0.3f, y, -0.2f)),
                   soup = bodyOf(pair, dgGetIdentityMatrix());
            convex.m_flags = (speed > 0.0f) ? dgBodyFlagContinuous : 0u;
            convex.m_veloc = dgVector(0, -speed, 0, 0);
            Buffer out(16);
            float timeStep = 1.0f / 60.0f;
            const int32_t n = collide(convex, soup, out, timeStep);
            EXPECT_GE(n, 3) << speed << " " << y;
            for (int32_t i = 0; i < n; i++) {
                EXPECT_NEAR(out.records[size_t(i)].normal.y, 1.0f, 1e-6f) << speed << " " << y;
                EXPECT_NEAR(out.records[size_t(i)].penetration, 0.5f - y - 1.0f / 128.0f, 1e-5f);
            }
        }
    }
}

// ---- spheres ----

TEST_F(ConvexSoupTest, SphereGetsOneRecordPerFaceZeroExtendedAndOneWhenFull) {
    // Centre (x, y, 0) over the two triangles: both faces in reach over the
    // diagonal, or with the centre on the floor beside it (the neighbour
    // continues level: pushed along its own normal), one face beside it.
    const struct {
        float x, y;
        int32_t maxCount, expected;
    } cases[] = {{0.01f, 0.6f, 16, 2}, {0.01f, 0.6f, 2, 1},   {0.01f, 0.6f, 1, 1}, {0.5f, 0.0f, 16, 2},
                 {3.0f, 0.5f, 16, 1},  {3.0f, 0.698f, 16, 0}, {0.01f, 0.6f, 0, 0}};
    for (const auto& c : cases) {
        dgBody convex = bodyOf(ball.get(), translation(c.x, c.y, 0.0f)),
               soup = bodyOf(pair, dgGetIdentityMatrix());
        Buffer out(c.maxCount);
        const int32_t n = dgSphereSoupContacts(world, &soup, &convex, out.records.data(), c.maxCount);
        EXPECT_EQ(n, c.expected) << c.x << " " << c.y << " " << c.maxCount;
        std::set<int64_t> ids;
        for (int32_t i = 0; i < n; i++) {
            EXPECT_NEAR(out.records[size_t(i)].normal.y, 1.0f, 1e-4f);
            EXPECT_NEAR(out.records[size_t(i)].penetration, 0.7f - c.y - 1.0f / 128.0f, 1e-4f);
            ids.insert(out.records[size_t(i)].userId);
        }
        if (n == 2) {
            EXPECT_EQ(ids, (std::set<int64_t>{7, int64_t(0xFFFFFFFDu)}));
        }
        EXPECT_TRUE(out.canariesIntact());
    }
}

// A soup of one face holds it twice (its tree needs two leaves); the face
// gives its contacts once, not a copy of each.
TEST_F(ConvexSoupTest, OneFaceSoupGivesEachContactOnce) {
    dgCollision* single = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(single);
    const float quad[12] = {-10, 0, -10, -10, 0, 10, 10, 0, 10, 10, 0, -10};
    dgTreeCollisionAddFace(single, 4, quad, 12, 5);
    dgTreeCollisionEndBuild(single, 0);
    dgBody soup = bodyOf(single, dgGetIdentityMatrix());
    dgBody sphere = bodyOf(ball.get(), translation(0.3f, 0.6f, -0.2f));
    Buffer out(16);
    EXPECT_EQ(dgSphereSoupContacts(world, &soup, &sphere, out.records.data(), out.max), 1);
    dgBody cubeBody = bodyOf(cube.get(), translation(0.3f, 0.45f, -0.2f));
    const int32_t n = collide(cubeBody, soup, out);
    EXPECT_EQ(n, 4);
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = i + 1; j < n; j++) {
            const dgVector d(out.records[size_t(i)].point - out.records[size_t(j)].point);
            EXPECT_GT(d % d, 0.01f) << i << " " << j;
        }
    }
    dgReleaseCollision(world, single);
}

// ---- the edge contact filter ----

TEST(ConvexSoupEdgeFilter, EdgeContactsNearFaceContactsGoAndFlagsMoveWithRecords) {
    // x of each record and its flag; the survivors by x.
    const struct {
        std::vector<float> x;
        std::vector<uint8_t> flags;
        std::vector<float> kept;
    } cases[] = {
        {{0.1f, 0.0f, 1.0f}, {1, 0, 1}, {0.0f, 1.0f}},
        {{0.0f, 0.19f, 0.21f, 5.0f, 5.1f}, {0, 1, 1, 0, 1}, {0.0f, 0.21f, 5.0f}},
        {{0.0f, 0.1f}, {1, 1}, {0.0f, 0.1f}},
        {{0.0f, 0.1f}, {0, 0}, {0.0f, 0.1f}},
        {{3.0f, 0.05f, 0.0f, 2.9f}, {1, 1, 0, 0}, {0.0f, 2.9f}},
    };
    for (const auto& c : cases) {
        std::vector<dgContactPoint> records(c.x.size());
        std::vector<uint8_t> flags(c.flags);
        for (size_t i = 0; i < c.x.size(); i++) {
            records[i].point = dgVector(c.x[i], 0, 0, 1);
            records[i].userId = c.flags[i];
        }
        const int32_t n = dgFilterEdgeContacts(int32_t(records.size()), records.data(), flags.data());
        std::vector<float> kept;
        for (int32_t i = 0; i < n; i++) {
            EXPECT_EQ(records[size_t(i)].userId, flags[size_t(i)]);
            EXPECT_TRUE(i == 0 || flags[size_t(i)] >= flags[size_t(i - 1)] || n == int32_t(c.x.size()));
            kept.push_back(records[size_t(i)].point.x);
        }
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, c.kept);
    }
}

// ---- bad input ----

TEST_F(ConvexSoupTest, BadInputGivesNothing) {
    dgRefHolder<dgCollisionNull> none = dgRefHolder<dgCollisionNull>::adopt(new dgCollisionNull(0));
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (int32_t k = 0; k < 9; k++) {
        dgBody convex = bodyOf(box.get(), translation(0, 0.4f, 0)),
               soup = bodyOf(pair, dgGetIdentityMatrix());
        dgBody* a = &convex;
        dgBody* b = &soup;
        switch (k) {
            case 0:
                a = nullptr;
                break;
            case 1:
                b = nullptr;
                break;
            case 2:
                convex.m_collision = nullptr;
                break;
            case 3:
                soup.m_collision = nullptr;
                break;
            case 4:
                soup.m_collision = box.get();
                break;
            case 5:
                convex.m_collision = pair;
                break;
            case 6:
                convex.m_collisionMatrix.position.y = nan;
                break;
            case 7:
                soup.m_collisionMatrix.front.x = inf;
                break;
            default:
                convex.m_collision = none.get();
                convex.m_flags = dgBodyFlagContinuous;
                break;
        }
        for (bool continuous : {false, true}) {
            if (a && k != 8) {
                convex.m_flags = continuous ? dgBodyFlagContinuous : 0u;
                convex.m_veloc = dgVector(0, continuous ? -50.0f : 0.0f, 0, 0);
            }
            Buffer out(0);
            out.records.resize(20, out.records[0]);
            float step = 1.0f / 60.0f;
            int32_t counts[5] = {dgConvexSoupContacts(world, step, a, b, out.records.data(), 16),
                                 dgConvexSoupContactsDiscrete(world, a, b, out.records.data(), 16),
                                 dgConvexSoupContactsGeneral(world, b, a, out.records.data(), 16),
                                 dgSphereSoupContacts(world, b, a, out.records.data(), 16),
                                 dgConvexSoupContactsContinuous(world, step, a, b, out.records.data(), 16)};
            for (int32_t n : counts) {
                EXPECT_EQ(n, 0) << "case " << k;
            }
            EXPECT_TRUE(out.canariesIntact()) << "case " << k;
        }
    }
}
