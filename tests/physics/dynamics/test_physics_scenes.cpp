// Whole worlds built and stepped through the public header alone: a perfectly
// elastic bounce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgPhysics.h"

namespace {

constexpr float kGravity = 10.0f;

void gravity(dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kGravity * mass, 0.0f};
    dgBodySetForce(body, force);
}

void placeAt(dgBody* body, float x, float y, float z) {
    float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
    dgBodySetMatrix(body, matrix);
}

float height(const dgBody* body) {
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    return matrix[13];
}

// A world of the default material with the given restitution and friction.
class World {
public:
    World(float restitution, float friction) : m_world(dgWorldCreate(nullptr, nullptr)) {
        const uint32_t group = dgMaterialGetDefaultGroupId(m_world);
        dgMaterialSetDefaultElasticity(m_world, group, group, restitution);
        dgMaterialSetDefaultFriction(m_world, group, group, friction, friction);
    }
    ~World() { dgWorldDestroy(m_world); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    dgWorld* get() const { return m_world; }

    // Takes over the caller's reference to shape. Mass 0 leaves it static.
    dgBody* add(dgCollision* shape, float mass, float x, float y, float z) {
        dgBody* body = dgCreateBody(m_world, shape);
        placeAt(body, x, y, z);
        if (mass > 0.0f) {
            float inertia[3], origin[3];
            dgConvexCollisionCalculateInertialMatrix(shape, inertia, origin);
            dgBodySetMassMatrix(body, mass, mass * inertia[0], mass * inertia[1], mass * inertia[2]);
            dgBodySetForceAndTorqueCallback(body, gravity);
            dgWorldUnfreezeBody(m_world, body);
        }
        dgReleaseCollision(m_world, shape);
        return body;
    }
    // A static box floor whose top face is y = 0.
    void floor() { add(dgCreateBox(m_world, 100.0f, 2.0f, 100.0f, nullptr), 0.0f, 0.0f, -1.0f, 0.0f); }

private:
    shapetest::HookGuard m_guard;
    dgWorld* m_world;
};

// ---- a perfectly elastic bounce ----

struct BounceCase {
    float drop;  // height of the sphere's lowest point above the floor
    int32_t stepsPerFrame;
};

void PrintTo(const BounceCase& c, std::ostream* os) {
    *os << c.drop << " m, " << c.stepsPerFrame << " steps a frame";
}

class ElasticBounce : public ::testing::TestWithParam<BounceCase> {};

// At restitution 1 without damping or friction nothing should add energy:
// each apex may fall a little short of the drop height but never climb past
// it. The tolerance is far below what a push out of the floor adds to a
// rebound (centimetres at these heights).
TEST_P(ElasticBounce, ApexesNeverClimbAboveTheDropHeight) {
    const BounceCase& c = GetParam();
    World world(1.0f, 0.0f);
    world.floor();
    const float radius = 0.5f;
    dgBody* ball = world.add(dgCreateSphere(world.get(), radius, radius, radius, nullptr), 1.0f, 0.0f,
                             c.drop + radius, 0.0f);
    dgBodySetLinearDamping(ball, 0.0f);
    const float none[3] = {0.0f, 0.0f, 0.0f};
    dgBodySetAngularDamping(ball, none);
    dgBodySetAutoFreeze(ball, 0);
    dgWorldSetMinimumFrameRate(world.get(), 60.0f * float(c.stepsPerFrame));

    std::vector<float> apexes;
    float highest = -1.0f;
    float previousVy = 0.0f;
    const float flight = 2.0f * std::sqrt(2.0f * c.drop / kGravity);
    const int32_t frames = int32_t(std::ceil(3.5f * flight * 60.0f));
    for (int32_t i = 0; (i < frames) && (apexes.size() < 3); ++i) {
        dgWorldUpdate(world.get(), 1.0f / 60.0f);
        float v[3];
        dgBodyGetVelocity(ball, v);
        if (v[1] > 0.0f) {
            highest = std::max(highest, height(ball) - radius);
        } else if (previousVy > 0.0f) {
            apexes.push_back(highest);
            highest = -1.0f;
        }
        previousVy = v[1];
    }
    ASSERT_EQ(apexes.size(), 3u) << "fewer than three bounces";
    for (size_t i = 0; i < apexes.size(); ++i) {
        EXPECT_LE(apexes[i], c.drop + 0.002f) << "apex " << i;
        EXPECT_GE(apexes[i], 0.95f * c.drop) << "apex " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(PhysicsScenes, ElasticBounce,
                         ::testing::Values(BounceCase{1.0f, 1}, BounceCase{4.0f, 1}, BounceCase{10.0f, 1},
                                           BounceCase{4.0f, 2}, BounceCase{10.0f, 2}),
                         [](const ::testing::TestParamInfo<BounceCase>& info) {
                             return "Drop" + std::to_string(int(info.param.drop)) + "mSteps" +
                                    std::to_string(int(info.param.stepsPerFrame));
                         });

}  // namespace
