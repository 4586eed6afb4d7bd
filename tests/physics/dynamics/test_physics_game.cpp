// The game's use of the engine, through the public header alone: a tree
// floor, boxes in three material groups with begin, process and end
// callbacks and force callbacks, stepped 1,000 times by 0.02 s.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dgPhysics.h"

namespace {

constexpr float kGravity = 10.0f;
constexpr int32_t kSide = 8;
constexpr float kCell = 5.0f;

void applyGravity(dgBody* body) {
    float mass;
    float ixx;
    float iyy;
    float izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kGravity * mass, 0.0f};
    dgBodySetForce(body, force);
}

// The order of callbacks of one pair within a step: begin, processes, end.
struct CallbackLog {
    int32_t begins = 0;
    int32_t processes = 0;
    int32_t ends = 0;
    int32_t open = 0;
    int32_t outOfOrder = 0;
    int32_t badNormals = 0;
};
CallbackLog g_log;

int32_t onBegin(dgMaterialPair* material, dgBody*, dgBody*) {
    ++g_log.begins;
    if (g_log.open != 0 || dgMaterialGetPairUserData(material) != &g_log) {
        ++g_log.outOfOrder;
    }
    g_log.open = 1;
    return 1;
}

int32_t onProcess(dgMaterialPair* material, dgContact*) {
    ++g_log.processes;
    if (g_log.open != 1) {
        ++g_log.outOfOrder;
    }
    float position[3];
    float normal[3];
    dgMaterialGetContactPositionAndNormal(material, position, normal);
    const float length2 = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
    if (!(std::fabs(length2 - 1.0f) < 1e-3f)) {
        ++g_log.badNormals;
    }
    return 1;
}

void onEnd(dgMaterialPair*) {
    ++g_log.ends;
    if (g_log.open != 1) {
        ++g_log.outOfOrder;
    }
    g_log.open = 0;
}

// A gently rolling floor of two triangles a cell, centred on the origin.
float floorHeight(float x, float z) {
    return 0.5f * std::sin(0.2f * x) * std::cos(0.15f * z);
}

dgCollision* buildFloor(dgWorld* world) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const float origin = -0.5f * kSide * kCell;
    auto vertex = [origin](int32_t i, int32_t j, float* out) {
        out[0] = origin + kCell * float(i);
        out[2] = origin + kCell * float(j);
        out[1] = floorHeight(out[0], out[2]);
    };
    for (int32_t j = 0; j < kSide; ++j) {
        for (int32_t i = 0; i < kSide; ++i) {
            float face[9];
            vertex(i, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 3 * sizeof(float), 1);
            vertex(i + 1, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j + 1, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 3 * sizeof(float), 1);
        }
    }
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

bool finite3(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

TEST(GameScene, DebrisFallsSettlesAboveTheFloorAndCallbacksComeInOrder) {
    g_log = CallbackLog();
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    dgWorldSetMinimumFrameRate(world, 30.0f);
    const uint32_t ground = dgMaterialGetDefaultGroupId(world);
    dgMaterialSetDefaultFriction(world, ground, ground, 0.8f, 0.4f);
    dgMaterialSetDefaultElasticity(world, ground, ground, 0.3f);
    dgMaterialSetDefaultSoftness(world, ground, ground, 0.05f);
    uint32_t groups[3];
    for (uint32_t& group : groups) {
        group = dgMaterialCreateGroupId(world);
    }
    for (uint32_t a : groups) {
        dgMaterialSetCollisionCallback(world, a, ground, &g_log, onBegin, onProcess, onEnd);
        for (uint32_t b : groups) {
            dgMaterialSetCollisionCallback(world, a, b, &g_log, onBegin, onProcess, onEnd);
        }
    }

    dgCollision* floorShape = buildFloor(world);
    dgBody* floor = dgCreateBody(world, floorShape);
    dgReleaseCollision(world, floorShape);
    ASSERT_NE(floor, nullptr);

    std::vector<dgBody*> debris;
    dgCollision* box = dgCreateBox(world, 1.0f, 0.6f, 1.4f, nullptr);
    for (int32_t i = 0; i < 24; ++i) {
        dgBody* body = dgCreateBody(world, box);
        dgBodySetMassMatrix(body, 2.0f, 0.4f, 0.5f, 0.25f);
        dgBodySetMaterialGroupId(body, groups[i % 3]);
        dgBodySetForceAndTorqueCallback(body, applyGravity);
        const float x = -6.0f + 3.0f * float(i % 5);
        const float z = -6.0f + 3.0f * float((i / 5) % 5);
        const float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, 3.0f + 1.5f * float(i % 4), z, 1};
        dgBodySetMatrix(body, matrix);
        const float spin[3] = {0.3f * float(i % 3), 0.0f, 0.2f};
        dgBodySetOmega(body, spin);
        debris.push_back(body);
    }
    dgReleaseCollision(world, box);

    for (int32_t step = 0; step < 1000; ++step) {
        dgWorldUpdate(world, 0.02f);
        ASSERT_EQ(g_log.open, 0) << "a pair's end callback is missing in step " << step;
    }

    EXPECT_GT(g_log.begins, 0);
    EXPECT_GT(g_log.processes, 0);
    EXPECT_EQ(g_log.begins, g_log.ends);
    EXPECT_EQ(g_log.outOfOrder, 0);
    EXPECT_EQ(g_log.badNormals, 0);
    for (dgBody* body : debris) {
        float matrix[16];
        float velocity[3];
        dgBodyGetMatrix(body, matrix);
        dgBodyGetVelocity(body, velocity);
        ASSERT_TRUE(finite3(matrix + 12) && finite3(velocity));
        // Resting on the floor: the centre above the surface by at most the
        // box's half diagonal, and below it by nothing.
        const float surface = floorHeight(matrix[12], matrix[14]);
        EXPECT_GT(matrix[13], surface + 0.2f);
        EXPECT_LT(matrix[13], surface + 3.0f);
        EXPECT_LT(velocity[0] * velocity[0] + velocity[1] * velocity[1] + velocity[2] * velocity[2], 0.01f);
    }
    dgWorldDestroy(world);
}
