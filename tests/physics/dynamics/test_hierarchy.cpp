// Body hierarchies through the public header: part inertia and placement
// against closed forms, the update callback's order and count per sub-step,
// a hanging chain that stays joined, and rebuilding and destroying an
// assembly from anywhere (run under the sanitizer build).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "JointRig.h"
#include "dgApiWorld.h"
#include "dgAssemblyPart.h"
#include "dgPhysics.h"

namespace {

using jointrig::randomRotation;

struct World {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgCollision* box = nullptr;
    World() {
        const float low[3] = {-500, -500, -500};
        const float high[3] = {500, 500, 500};
        dgWorldSetSize(world, low, high);
        box = dgCreateBox(world, 1.0f, 0.3f, 0.3f, nullptr);
    }
    ~World() {
        dgReleaseCollision(world, box);
        dgWorldDestroy(world);
    }
    uint32_t bodies() const { return world->m_bodyCount; }
};

void expectNear(const dgMatrix& a, const dgMatrix& b, float tolerance) {
    for (int32_t i = 0; i < 4; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
            EXPECT_NEAR(a[i][j], b[i][j], tolerance) << "row " << i << " column " << j;
        }
    }
}

void gravity(dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -9.8f * mass, 0.0f};
    dgBodySetForce(body, force);
}

// Reports go here; the callbacks carry no user word.
std::vector<dgAssemblyPart*> g_reports;
dgWorld* g_world = nullptr;
dgAssembly* g_doomed = nullptr;

void record(dgAssemblyPart* part) {
    g_reports.push_back(part);
}

// Builds root -> (a -> (a1), b) with keys 1..4 and user data = key.
struct Figure {
    dgAssembly* assembly;
    dgAssemblyPart* parts[4];
};

Figure buildFigure(World& w, dgBodyForceAndTorqueCallback force, dgAssemblyUpdateCallback update) {
    Figure f;
    f.assembly = dgCreateAssembly(w.world);
    dgAssemblyBeginBuild(f.assembly);
    dgAssemblySetCallbackA(f.assembly, force);
    dgAssemblySetCallbackB(f.assembly, update);
    const float size[3] = {1.0f, 0.3f, 0.3f};
    dgMatrix m = dgGetIdentityMatrix();
    m.position = dgVector(0.0f, 10.0f, 0.0f, 1.0f);
    f.parts[0] = dgAssemblyAddPart(f.assembly, nullptr, reinterpret_cast<void*>(1), 2.0f, &m.front.x, w.box, size);
    m.position = dgVector(1.0f, 0.0f, 0.0f, 1.0f);
    f.parts[1] = dgAssemblyAddPart(f.assembly, f.parts[0], reinterpret_cast<void*>(2), 1.0f, &m.front.x, w.box, size);
    f.parts[2] = dgAssemblyAddPart(f.assembly, f.parts[1], reinterpret_cast<void*>(3), 1.0f, &m.front.x, w.box, size);
    // Backwards from the root's joint point: clear of the other branch.
    m = jointrig::axisRotation(testsupport::D3{0, 1, 0}, testsupport::kPi);
    m.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    f.parts[3] = dgAssemblyAddPart(f.assembly, f.parts[0], reinterpret_cast<void*>(4), 1.0f, &m.front.x, w.box, size);
    for (uint32_t i = 0; i < 4; ++i) {
        dgAssemblyPartSetUserData(f.parts[i], i + 1);
    }
    dgAssemblyEndBuild(f.assembly);
    return f;
}

// The box's inertia scaled by 0.7, its smaller axes floored at a third of
// the largest: worked examples, then random boxes against the same rule.
TEST(AssemblyInertia, IsTheScaledBoxWithTheSmallerAxesFloored) {
    const struct {
        float mass;
        float size[3];
        float expected[3];
    } examples[] = {{1.0f, {1, 1, 1}, {0.11667f, 0.11667f, 0.11667f}},
                    {1.0f, {10, 1, 1}, {1.9443f, 5.8917f, 5.8917f}},
                    {2.0f, {1, 10, 1}, {11.783f, 3.8886f, 11.783f}}};
    for (const auto& c : examples) {
        const dgVector inertia = dgAssemblyPartInertia(c.mass, c.size);
        for (int32_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(inertia[i], c.expected[i], 1e-3f);
        }
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> size(0.05f, 10.0f);
    std::uniform_real_distribution<float> mass(0.1f, 100.0f);
    for (int32_t n = 0; n < 4000; ++n) {
        const float s[3] = {size(rng), size(rng), size(rng)};
        const float m = mass(rng);
        const double box[3] = {(double(s[1]) * s[1] + double(s[2]) * s[2]) * m * 0.7 / 12.0,
                               (double(s[0]) * s[0] + double(s[2]) * s[2]) * m * 0.7 / 12.0,
                               (double(s[0]) * s[0] + double(s[1]) * s[1]) * m * 0.7 / 12.0};
        const double largest = std::max({box[0], box[1], box[2]});
        const dgVector inertia = dgAssemblyPartInertia(m, s);
        for (int32_t i = 0; i < 3; ++i) {
            const double expected = std::max(box[i], 0.33 * largest);
            EXPECT_NEAR(inertia[i], expected, 1e-5 * largest);
        }
    }
}

TEST(AssemblyBuild, PlacesPartsByTheirParentsFramesAndReadsTheFramesBack) {
    World w;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> offset(-3.0f, 3.0f);
    dgAssembly* assembly = dgCreateAssembly(w.world);
    for (int32_t round = 0; round < 20; ++round) {
        dgAssemblyBeginBuild(assembly);
        const float size[3] = {offset(rng) + 4.0f, 0.4f, 0.5f};
        dgMatrix locals[4];
        dgAssemblyPart* parent = nullptr;
        dgAssemblyPart* parts[4];
        dgMatrix global = dgGetIdentityMatrix();
        for (int32_t i = 0; i < 4; ++i) {
            locals[i] = randomRotation(rng);
            locals[i].position = dgVector(offset(rng), offset(rng), offset(rng), 1.0f);
            parts[i] = dgAssemblyAddPart(assembly, parent, nullptr, 1.0f, &locals[i].front.x, w.box, size);
            ASSERT_NE(parts[i], nullptr);
            global = locals[i].multiply(global);
            // The body's origin sits half the x size along the frame's x axis.
            float body[16];
            dgBodyGetMatrix(dgAssemblyPartGetBody(parts[i]), body);
            const dgVector expected = global.position + global.front.scale(size[0] * 0.5f);
            EXPECT_NEAR(body[12], expected.x, 1e-3f);
            EXPECT_NEAR(body[13], expected.y, 1e-3f);
            EXPECT_NEAR(body[14], expected.z, 1e-3f);
            dgMatrix read;
            dgAssemblyPartGetGlobalMatrix(parts[i], &read.front.x);
            expectNear(read, global, 1e-3f);
            dgAssemblyPartGetLocalMatrix(parts[i], &read.front.x);
            expectNear(read, locals[i], 1e-3f);
            parent = parts[i];
        }
        dgAssemblyEndBuild(assembly);
        EXPECT_EQ(w.bodies(), 4u);
    }
}

TEST(AssemblyUpdate, ReportsEveryPartOncePerSubStepChildrenFirst) {
    World w;
    Figure f = buildFigure(w, gravity, record);
    const std::vector<dgAssemblyPart*> postOrder = {f.parts[2], f.parts[1], f.parts[3], f.parts[0]};
    for (int32_t subSteps = 1; subSteps <= 3; ++subSteps) {
        g_reports.clear();
        dgWorldSetMinimumFrameRate(w.world, 60.0f * float(subSteps));
        dgWorldUpdate(w.world, 1.0f / 60.0f);
        ASSERT_EQ(g_reports.size(), postOrder.size() * size_t(subSteps));
        for (size_t i = 0; i < g_reports.size(); ++i) {
            EXPECT_EQ(g_reports[i], postOrder[i % postOrder.size()]);
        }
    }
    // The keys, user data and search agree.
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(dgAssemblyFindPart(f.assembly, i + 1), f.parts[i]);
        EXPECT_EQ(dgAssemblyGetUserData(f.parts[i]), reinterpret_cast<void*>(uintptr_t(i + 1)));
    }
    EXPECT_EQ(dgAssemblyFindPart(f.assembly, 99), nullptr);
}

TEST(AssemblyUpdate, AnAssemblyAtRestIsNotReported) {
    World w;
    // No force: the bodies never move and come to rest at once.
    buildFigure(w, nullptr, record);
    for (int32_t i = 0; i < 10; ++i) {
        dgWorldUpdate(w.world, 1.0f / 60.0f);
    }
    g_reports.clear();
    dgWorldUpdate(w.world, 1.0f / 60.0f);
    EXPECT_TRUE(g_reports.empty());
}

TEST(AssemblyUpdate, AHangingChainStaysJoinedOverThousandsOfSteps) {
    World w;
    dgAssembly* assembly = dgCreateAssembly(w.world);
    dgAssemblyBeginBuild(assembly);
    dgAssemblySetCallbackA(assembly, gravity);
    const float size[3] = {1.0f, 0.3f, 0.3f};
    dgMatrix m = jointrig::axisRotation(testsupport::D3{0, 0, 1}, -1.2);
    m.position = dgVector(0.0f, 20.0f, 0.0f, 1.0f);
    std::vector<dgAssemblyPart*> chain;
    chain.push_back(dgAssemblyAddPart(assembly, nullptr, nullptr, 1.0f, &m.front.x, w.box, size));
    dgMatrix link = jointrig::axisRotation(testsupport::D3{0, 1, 0}, 0.4);
    link.position = dgVector(1.0f, 0.0f, 0.0f, 1.0f);
    for (int32_t i = 0; i < 6; ++i) {
        chain.push_back(dgAssemblyAddPart(assembly, chain.back(), nullptr, 1.0f, &link.front.x, w.box, size));
    }
    dgAssemblyEndBuild(assembly);
    const float pivot[3] = {0.0f, 20.0f, 0.0f};
    ASSERT_NE(dgCreateBallJoint(w.world, pivot, dgAssemblyPartGetBody(chain[0]), nullptr), nullptr);
    float largestGap = 0.0f;
    double sumGap = 0.0;
    for (int32_t step = 0; step < 3000; ++step) {
        dgWorldUpdate(w.world, 1.0f / 60.0f);
        for (size_t i = 1; i < chain.size(); ++i) {
            // The child's joint point is where the parent's frame ends.
            dgMatrix parent, child;
            dgAssemblyPartGetGlobalMatrix(chain[i - 1], &parent.front.x);
            dgAssemblyPartGetGlobalMatrix(chain[i], &child.front.x);
            const dgVector gap = parent.transformVector(dgVector(1.0f, 0.0f, 0.0f, 1.0f)) - child.position;
            largestGap = std::max(largestGap, std::sqrt(gap.dot(gap)));
            sumGap += std::sqrt(gap.dot(gap));
            ASSERT_TRUE(std::isfinite(child.position.x));
        }
    }
    // A link is 1 m long: the joints give a little while the limits catch a
    // swing, and always close again.
    EXPECT_LT(largestGap, 0.3f);
    EXPECT_LT(sumGap / (3000.0 * double(chain.size() - 1)), 0.02);
}

void destroyAssemblyFromUpdate(dgAssemblyPart* part) {
    record(part);
    dgDestroyAssembly(g_world, g_doomed);
}

void destroyAssemblyFromForce(dgBody* body) {
    gravity(body);
    if (g_doomed) {
        dgDestroyAssembly(g_world, g_doomed);
        g_doomed = nullptr;
    }
}

void rebuildFromForce(dgBody* body) {
    gravity(body);
    if (g_doomed) {
        dgAssembly* assembly = g_doomed;
        g_doomed = nullptr;
        dgAssemblyBeginBuild(assembly);
        dgAssemblyEndBuild(assembly);
    }
}

enum class Ending { FromUpdateCallback, FromForceCallback, RebuildFromForceCallback, BetweenUpdates, WithWorld };

class AssemblyEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(AssemblyEnding, TakesItsBodiesWithoutLeavingAnythingBehind) {
    World w;
    g_world = w.world;
    const Ending ending = GetParam();
    dgBodyForceAndTorqueCallback force = gravity;
    dgAssemblyUpdateCallback update = record;
    if (ending == Ending::FromUpdateCallback) {
        update = destroyAssemblyFromUpdate;
    } else if (ending == Ending::FromForceCallback) {
        force = destroyAssemblyFromForce;
    } else if (ending == Ending::RebuildFromForceCallback) {
        force = rebuildFromForce;
    }
    Figure keep = buildFigure(w, gravity, record);
    Figure f = buildFigure(w, force, update);
    g_doomed = f.assembly;
    g_reports.clear();
    if (ending == Ending::BetweenUpdates) {
        dgDestroyAssembly(w.world, f.assembly);
    }
    if (ending == Ending::WithWorld) {
        dgWorldDestroyAllBodies(w.world);
        EXPECT_EQ(w.bodies(), 0u);
        return;
    }
    for (int32_t i = 0; i < 5; ++i) {
        dgWorldUpdate(w.world, 1.0f / 60.0f);
    }
    // The other figure's parts keep being reported, the doomed one's parts
    // only within the walk that destroyed it.
    EXPECT_EQ(w.bodies(), 4u);
    // Destroyed from its own walk, the figure goes only when the walk has
    // reported all four of its parts.
    const size_t doomedReports = size_t(std::count_if(g_reports.begin(), g_reports.end(), [&](dgAssemblyPart* p) {
        return std::find(std::begin(f.parts), std::end(f.parts), p) != std::end(f.parts);
    }));
    EXPECT_EQ(doomedReports, (ending == Ending::FromUpdateCallback) ? 4u : 0u);
    const size_t mine = size_t(std::count(g_reports.begin(), g_reports.end(), keep.parts[0]));
    EXPECT_EQ(mine, 5u);
    EXPECT_EQ(w.world->m_jointCount, 3u);
    g_doomed = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Ways, AssemblyEnding,
                         ::testing::Values(Ending::FromUpdateCallback, Ending::FromForceCallback,
                                           Ending::RebuildFromForceCallback, Ending::BetweenUpdates,
                                           Ending::WithWorld));

TEST(AssemblyBuild, RefusesWhatWouldLeakOrDangle) {
    World w;
    dgAssembly* assembly = dgCreateAssembly(w.world);
    const float size[3] = {1.0f, 0.3f, 0.3f};
    const float bad[3] = {1.0f, std::nanf(""), 0.3f};
    const dgMatrix m = dgGetIdentityMatrix();
    dgMatrix infinite = m;
    infinite.position.x = INFINITY;
    // Outside a build.
    EXPECT_EQ(dgAssemblyAddPart(assembly, nullptr, nullptr, 1.0f, &m.front.x, w.box, size), nullptr);
    dgAssemblyBeginBuild(assembly);
    dgAssemblyPart* root = dgAssemblyAddPart(assembly, nullptr, nullptr, 1.0f, &m.front.x, w.box, size);
    ASSERT_NE(root, nullptr);
    // A second root, and non-finite or empty input.
    EXPECT_EQ(dgAssemblyAddPart(assembly, nullptr, nullptr, 1.0f, &m.front.x, w.box, size), nullptr);
    EXPECT_EQ(dgAssemblyAddPart(assembly, root, nullptr, std::nanf(""), &m.front.x, w.box, size), nullptr);
    EXPECT_EQ(dgAssemblyAddPart(assembly, root, nullptr, 1.0f, &infinite.front.x, w.box, size), nullptr);
    EXPECT_EQ(dgAssemblyAddPart(assembly, root, nullptr, 1.0f, &m.front.x, w.box, bad), nullptr);
    EXPECT_EQ(dgAssemblyAddPart(assembly, root, nullptr, 0.0f, &m.front.x, w.box, size), nullptr);
    dgAssemblyPart* child = dgAssemblyAddPart(assembly, root, nullptr, 1.0f, &m.front.x, w.box, size);
    ASSERT_NE(child, nullptr);
    dgAssemblyEndBuild(assembly);
    EXPECT_EQ(w.bodies(), 2u);
    const float pin[3] = {0, 0, 0};
    dgAssemblyPartSetLimits(child, pin, -0.5f, 0.5f, 0.3f, 0, 0, 0);

    // The caller destroys the root's body: the parts let go of it and of the
    // joint that went with it.
    dgDestroyBody(w.world, dgAssemblyPartGetBody(root));
    EXPECT_EQ(dgAssemblyPartGetBody(root), nullptr);
    EXPECT_EQ(child->liveJoint(), nullptr);
    const float xAxis[3] = {1, 0, 0};
    dgAssemblyPartSetLimits(child, xAxis, -0.5f, 0.5f, 0.3f, 0, 0, 0);
    dgMatrix read;
    dgAssemblyPartGetGlobalMatrix(root, &read.front.x);
    expectNear(read, dgGetIdentityMatrix(), 0.0f);
    dgWorldUpdate(w.world, 1.0f / 60.0f);
    dgDestroyAssembly(w.world, assembly);
    EXPECT_EQ(w.bodies(), 0u);
}

}  // namespace
