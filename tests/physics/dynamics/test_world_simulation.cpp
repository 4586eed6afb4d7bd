// Whole worlds stepped through dgWorldUpdate under gravity of 10 m/s^2 on a
// static floor box: rest depth and freezing, bounce apex against elasticity,
// stopping distance against kinetic friction, the stale contact of a moved
// box, the two solver variants against each other, and a heap of boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgCpu.h"
#include "dgWorld.h"

namespace {

using shapetest::translation;

constexpr float kGravity = 10.0f;
constexpr float kFrame = 1.0f / 60.0f;
// Penetration is reported as the overlap less this: a resting box sinks by
// up to it.
constexpr float kContactMargin = 1.0f / 128.0f;

void gravity(dgBody* body) {
    dgBodyAccumulateForce(body, dgVector(0.0f, -kGravity * body->m_mass.w, 0.0f, 0.0f));
}

// A world with a 40 x 1 x 40 immovable floor box whose top face is y = 0, on
// the default material pair, stepped a frame of 1/60 s per update.
class SimWorld {
public:
    explicit SimWorld(int32_t simdMode = 1) : m_world(dgWorldCreate(nullptr, nullptr)) {
        dgWorldSetSimdMode(m_world, simdMode);
        m_floor = add(dgCreateBox(m_world, 40.0f, 1.0f, 40.0f, nullptr), translation(0.0f, -0.5f, 0.0f), 0.0f,
                      0.0f);
    }
    ~SimWorld() { dgWorldDestroy(m_world); }
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    // A cube of edge `size`, falling under gravity.
    dgBody* box(float size, const dgMatrix& pose, float mass = 1.0f) {
        return add(dgCreateBox(m_world, size, size, size, nullptr), pose, mass, mass * size * size / 6.0f);
    }
    dgBody* sphere(float radius, const dgMatrix& pose, float mass = 1.0f) {
        return add(dgCreateSphere(m_world, radius, radius, radius, nullptr), pose, mass,
                   0.4f * mass * radius * radius);
    }
    void run(int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) {
            dgWorldUpdate(m_world, kFrame);
        }
    }
    dgWorld* world() const { return m_world; }
    dgMaterialPair& material() const {
        return *dgWorldGetMaterialPair(m_world, m_world->m_defaultMaterialGroup,
                                       m_world->m_defaultMaterialGroup);
    }
    int32_t contacts() const { return m_world->m_contactList.getCount(); }

private:
    dgBody* add(dgCollision* shape, const dgMatrix& pose, float mass, float inertia) {
        dgBody* body = dgCreateBody(m_world, shape);
        dgReleaseCollision(m_world, shape);
        if (mass > 0.0f) {
            dgBodyStoreMassMatrix(body, mass, inertia, inertia, inertia, inertia, inertia, inertia);
            body->m_forceAndTorque = &gravity;
        }
        dgWorldSetBodyMatrix(m_world, body, pose);
        return body;
    }

    shapetest::HookGuard m_guard;
    dgWorld* m_world;
    dgBody* m_floor;
};

// Height of a cube's lowest corner above the floor.
float lowestCorner(const dgBody* body, float size) {
    const dgMatrix& m = body->m_matrix;
    return m.position.y - 0.5f * size * (std::fabs(m.front.y) + std::fabs(m.up.y) + std::fabs(m.right.y));
}

bool finite(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

// ---- a box on the floor: rest depth and freezing ----

class RestingBox : public ::testing::TestWithParam<std::tuple<int32_t, float>> {};

// Either solver variant, any mass: the box comes to rest within the contact
// margin, upright, freezes, and then stays put bit for bit (no force pass, no
// integration). Mass scales every force of the contact alike: it rests where
// a 1 kg box does.
TEST_P(RestingBox, SinksWithinTheContactMarginWhateverItsMassAndFreezes) {
    const int32_t simd = std::get<0>(GetParam());
    SimWorld sim(simd);
    dgBody* box = sim.box(1.0f, translation(0.0f, 0.55f, 0.0f), std::get<1>(GetParam()));
    int32_t frames = 0;
    while ((frames < 300) && box->m_activeNode) {
        sim.run(1);
        ++frames;
    }
    ASSERT_EQ(box->m_activeNode, nullptr) << "never froze";
    EXPECT_EQ(box->m_flags & dgBodyFlagActive, 0u);
    EXPECT_EQ(sim.world()->m_activeBodyTree.getCount(), 0);
    EXPECT_EQ(sim.contacts(), 1);
    const float depth = 0.5f - box->m_matrix.position.y;
    EXPECT_GE(depth, 0.0f);
    EXPECT_LE(depth, kContactMargin);
    RecordProperty("depth", std::to_string(depth));
    RecordProperty("frozenAfter", frames);
    EXPECT_NEAR(box->m_matrix.up.y, 1.0f, 1e-5f);
    const dgMatrix frozen = box->m_matrix;
    sim.run(10);
    EXPECT_EQ(std::memcmp(&frozen, &box->m_matrix, sizeof(dgMatrix)), 0);
    SimWorld reference(simd);
    dgBody* light = reference.box(1.0f, translation(0.0f, 0.55f, 0.0f), 1.0f);
    reference.run(frames);
    EXPECT_NEAR(box->m_matrix.position.y, light->m_matrix.position.y, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(WorldSimulation, RestingBox,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(1.0f, 10.0f, 100.0f)),
                         [](const ::testing::TestParamInfo<RestingBox::ParamType>& info) {
                             return std::string(std::get<0>(info.param) ? "Simd" : "Scalar") + "Mass" +
                                    std::to_string(int(std::get<1>(info.param)));
                         });

// ---- bounce apex against elasticity ----

struct BounceCase {
    const char* name;
    bool sphere;
    float elasticity;
    float height;
};

class Bounce : public ::testing::TestWithParam<BounceCase> {};

// Without damping a rebound at e |v| climbs e^2 h. The contact acts only at
// the step after the body reached the floor, so it turns from up to one
// frame of travel below the surface, and the semi-implicit step misses the
// apex by less than that again: |apex - e^2 h| <= |v| dt.
TEST_P(Bounce, FirstApexIsTheSquareOfTheElasticityTimesTheDropHeight) {
    const BounceCase& c = GetParam();
    SimWorld sim;
    sim.material().m_elasticity = c.elasticity;
    const dgMatrix pose = translation(0.0f, 0.5f + c.height, 0.0f);
    dgBody* body = c.sphere ? sim.sphere(0.5f, pose) : sim.box(1.0f, pose);
    body->m_linearDamping = 0.0f;

    float impact = 0.0f;
    float apex = -1.0f;
    bool rising = false;
    for (int32_t i = 0; i < 240; ++i) {
        const float before = body->m_veloc.y;
        sim.run(1);
        if (!rising && (body->m_veloc.y > 0.0f)) {
            rising = true;
            impact = before;
        }
        if (rising) {
            if (body->m_veloc.y < 0.0f) {
                break;
            }
            apex = std::max(apex, body->m_matrix.position.y - 0.5f);
        }
    }
    ASSERT_TRUE(rising) << "never bounced";
    EXPECT_NEAR(impact, -std::sqrt(2.0f * kGravity * c.height), 2.0f * kGravity * kFrame);
    EXPECT_NEAR(apex, c.elasticity * c.elasticity * c.height, std::fabs(impact) * kFrame)
        << "apex / h = " << apex / c.height;
    RecordProperty("apexOverE2H", std::to_string(apex / (c.elasticity * c.elasticity * c.height)));
    EXPECT_NEAR(body->m_matrix.up.y, 1.0f, 1e-4f);
}

INSTANTIATE_TEST_SUITE_P(
    WorldSimulation, Bounce,
    ::testing::Values(BounceCase{"SphereSoft", true, 0.3f, 1.0f}, BounceCase{"SphereHalf", true, 0.5f, 2.0f},
                      BounceCase{"SphereLively", true, 0.8f, 3.0f}, BounceCase{"BoxHalf", false, 0.5f, 1.0f},
                      BounceCase{"BoxLively", false, 0.8f, 2.0f}),
    [](const ::testing::TestParamInfo<BounceCase>& info) { return std::string(info.param.name); });

// ---- stopping distance against kinetic friction ----

struct SlideCase {
    const char* name;
    float kineticFriction;
    float speed;
};

class Slide : public ::testing::TestWithParam<SlideCase> {};

// Friction mu m g decelerates at mu g: the box stops after v^2 / (2 mu g).
// Stepped semi-implicitly it covers about v dt / 2 less; below 0.3 m/s the
// static coefficient (the default 0.9) takes over and shortens the rest by
// at most 0.3^2 / (2 mu g): within one frame of travel, v dt.
TEST_P(Slide, StopsAfterTheSquareOfItsSpeedOverTwiceMuG) {
    const SlideCase& c = GetParam();
    SimWorld sim;
    dgMaterialPair& material = sim.material();
    material.m_kineticFriction0 = c.kineticFriction;
    material.m_kineticFriction1 = c.kineticFriction;
    dgBody* box = sim.box(1.0f, translation(0.0f, 0.5f, 0.0f));
    box->m_linearDamping = 0.0f;
    sim.run(30);
    ASSERT_EQ(box->m_activeNode, nullptr) << "not at rest yet";

    const dgVector start = box->m_matrix.position;
    box->m_veloc = dgVector(c.speed, 0.0f, 0.0f, 0.0f);
    dgWorldUnfreezeBody(sim.world(), box);
    const float stopTime = c.speed / (c.kineticFriction * kGravity);
    int32_t frames = 0;
    while ((frames < int32_t(stopTime / kFrame) + 10) && (std::fabs(box->m_veloc.x) > 1e-3f)) {
        sim.run(1);
        ++frames;
    }
    EXPECT_LE(std::fabs(box->m_veloc.x), 1e-3f) << "still sliding";
    const float expected = c.speed * c.speed / (2.0f * c.kineticFriction * kGravity);
    const float distance = box->m_matrix.position.x - start.x;
    EXPECT_NEAR(distance, expected, c.speed * kFrame) << "ratio " << distance / expected;
    RecordProperty("distanceRatio", std::to_string(distance / expected));
    EXPECT_NEAR(box->m_matrix.position.z, start.z, 1e-4f);
    EXPECT_NEAR(box->m_matrix.up.y, 1.0f, 1e-4f) << "tipped over";
    EXPECT_NEAR(box->m_matrix.position.y, start.y, kContactMargin);
}

INSTANTIATE_TEST_SUITE_P(WorldSimulation, Slide,
                         ::testing::Values(SlideCase{"Slippery", 0.2f, 5.0f},
                                           SlideCase{"Default", 0.5f, 3.0f}, SlideCase{"Rough", 0.8f, 2.0f}),
                         [](const ::testing::TestParamInfo<SlideCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- a resting box moved away: its stale contact ----

class MovedBox : public ::testing::TestWithParam<bool> {};

// The box rests on the floor (kept awake, or frozen and woken after the
// move); moved 10 m up by dgBodySetMatrixInternal, the next update finds its
// contact stale and destroys it, and the box falls freely from there:
// v <- v (1 - d) - g dt, y <- y + v dt per frame.
TEST_P(MovedBox, LosesItsStaleContactAndFallsFreely) {
    const bool frozen = GetParam();
    SimWorld sim;
    dgBody* box = sim.box(1.0f, translation(0.0f, 0.5f, 0.0f));
    if (!frozen) {
        box->m_flags &= ~uint32_t(dgBodyFlagAutoFreeze);
    }
    sim.run(60);
    ASSERT_EQ(box->m_activeNode == nullptr, frozen);
    ASSERT_EQ(sim.contacts(), 1);
    ASSERT_NE(box->m_jointRing, nullptr);

    dgBodySetMatrixInternal(box, translation(0.0f, 10.0f, 0.0f));
    if (frozen) {
        // Nothing walks a frozen box: its contact stays until it is woken.
        sim.run(1);
        EXPECT_EQ(sim.contacts(), 1);
        EXPECT_EQ(box->m_matrix.position.y, 10.0f);
        dgWorldUnfreezeBody(sim.world(), box);
    }
    double v = box->m_veloc.y;
    double y = box->m_matrix.position.y;
    sim.run(1);
    EXPECT_EQ(sim.contacts(), 0);
    EXPECT_EQ(sim.world()->m_jointCount, 0u);
    EXPECT_EQ(box->m_jointRing, nullptr);

    const double damping = box->m_linearDamping;
    for (int32_t i = 0; i < 30; ++i) {
        if (i > 0) {
            sim.run(1);
        }
        v = v * (1.0 - damping) - double(kGravity) * double(kFrame);
        y += v * double(kFrame);
    }
    EXPECT_NEAR(box->m_veloc.y, v, 1e-4);
    EXPECT_NEAR(box->m_matrix.position.y, y, 1e-4);
    EXPECT_NE(box->m_activeNode, nullptr);
}

INSTANTIATE_TEST_SUITE_P(WorldSimulation, MovedBox, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Frozen" : "Awake";
                         });

// ---- SIMD against scalar ----

struct VariantScene {
    const char* name;
    bool pile;
    // Box i weighs 1 + i kg (else 1 kg).
    bool heavierUp;
    float elasticity;
    int32_t boxes;
    int32_t frames;
    float tolerance;
};

class SolverVariants : public ::testing::TestWithParam<VariantScene> {};

namespace {

// Poses after the frames: a straight stack of cubes, or cubes dropped turned
// at random (fixed seed) over a 5-wide row in layers.
std::vector<dgMatrix> runScene(const VariantScene& scene, int32_t simdMode) {
    SimWorld sim(simdMode);
    sim.material().m_elasticity = scene.elasticity;
    EXPECT_EQ(sim.world()->m_simdFlag, simdMode ? dgCpuHasSimd() : 0);
    std::mt19937 rng(7u);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<dgBody*> boxes;
    for (int32_t i = 0; i < scene.boxes; ++i) {
        if (scene.pile) {
            const float layer = float(i / 5);
            const dgVector at(1.2f * float(i % 5 - 2) + 0.2f * u(rng), 1.0f + 1.25f * layer,
                              0.3f * float(i / 5 % 2) + 0.2f * u(rng), 1.0f);
            boxes.push_back(
                sim.box(1.0f, shapetest::turned(3.0f * u(rng), 3.0f * u(rng), 3.0f * u(rng), at)));
        } else {
            boxes.push_back(sim.box(1.0f, translation(0.0f, 0.52f + 1.04f * float(i), 0.0f),
                                    scene.heavierUp ? 1.0f + float(i) : 1.0f));
        }
    }
    sim.run(scene.frames);
    std::vector<dgMatrix> poses;
    for (dgBody* box : boxes) {
        poses.push_back(box->m_matrix);
    }
    return poses;
}

}  // namespace

// Each variant repeats itself bit for bit. The two sum reductions in a
// different order (four lanes, then the lanes), and bouncing boxes amplify
// that through restitution and the rows that enter and leave the bounds: a
// stack of elastic boxes may settle apart within the contact margin, a
// plastic one agrees closely. A tumbling pile diverges chaotically, hence
// its short run.
TEST_P(SolverVariants, AgreeWithinTheContactMarginAndRepeatBitForBit) {
    const VariantScene& scene = GetParam();
    const std::vector<dgMatrix> scalar = runScene(scene, 0);
    const std::vector<dgMatrix> simd = runScene(scene, 1);
    const size_t bytes = scalar.size() * sizeof(dgMatrix);
    EXPECT_EQ(std::memcmp(scalar.data(), runScene(scene, 0).data(), bytes), 0);
    EXPECT_EQ(std::memcmp(simd.data(), runScene(scene, 1).data(), bytes), 0);
    float largest = 0.0f;
    for (size_t i = 0; i < scalar.size(); ++i) {
        for (int32_t r = 0; r < 4; ++r) {
            for (int32_t k = 0; k < 3; ++k) {
                largest = std::max(largest, std::fabs(scalar[i][r][k] - simd[i][r][k]));
            }
        }
    }
    EXPECT_LE(largest, scene.tolerance);
    RecordProperty("largestDifference", std::to_string(largest));
}

INSTANTIATE_TEST_SUITE_P(
    WorldSimulation, SolverVariants,
    ::testing::Values(VariantScene{"Stack", false, false, 0.4f, 5, 120, kContactMargin},
                      VariantScene{"PlasticStack", false, false, 0.0f, 5, 120, 1e-4f},
                      VariantScene{"PlasticStackHeavierUpwards", false, true, 0.0f, 4, 120, 1e-4f},
                      VariantScene{"Pile", true, false, 0.4f, 10, 30, kContactMargin}),
    [](const ::testing::TestParamInfo<VariantScene>& info) { return std::string(info.param.name); });

// ---- a heap of boxes ----

// 300 cubes turned at random in two 15 x 10 layers fall into one heap.
// States stay finite, nothing sinks below the floor by more than a frame of
// the fastest fall, and (in the sanitizer build) nothing is written past the
// solver's workspace.
TEST(WorldSimulationHeap, SeveralHundredBoxesPileUpSoundly) {
    SimWorld sim;
    std::mt19937 rng(11u);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<dgBody*> boxes;
    for (int32_t i = 0; i < 300; ++i) {
        const dgVector at(1.1f * (float(i % 15) - 7.0f) + 0.1f * u(rng), 0.9f + 1.2f * float(i / 150),
                          1.1f * (float(i / 15 % 10) - 4.5f) + 0.1f * u(rng), 1.0f);
        boxes.push_back(sim.box(1.0f, shapetest::turned(3.0f * u(rng), 3.0f * u(rng), 3.0f * u(rng), at)));
    }
    // The upper layer lands within the first half second; then the heap
    // settles (30 frames keep the test fast in the sanitizer build).
    const float fastest = std::sqrt(2.0f * kGravity * 3.0f);
    for (int32_t frame = 0; frame < 30; ++frame) {
        sim.run(1);
        for (const dgBody* box : boxes) {
            ASSERT_TRUE(finite(box->m_matrix.position) && finite(box->m_veloc) && finite(box->m_omega))
                << "frame " << frame;
            ASSERT_GE(lowestCorner(box, 1.0f), -fastest * kFrame) << "frame " << frame;
        }
    }
    float lowest = 0.0f;
    for (const dgBody* box : boxes) {
        lowest = std::min(lowest, lowestCorner(box, 1.0f));
    }
    RecordProperty("lowestCorner", std::to_string(lowest));
    EXPECT_GE(sim.contacts(), 300);
    EXPECT_EQ(sim.world()->m_bodyCount, 301u);
}
