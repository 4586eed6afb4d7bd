// The collision family of the public header, used the way a game uses it:
// this file includes dgPhysics.h and nothing else of the engine, which also
// proves that the header stands on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "FlatCountingHooks.h"
#include "dgPhysics.h"

namespace {

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const float kNaN = std::numeric_limits<float>::quiet_NaN();

using namespace flatcounting;

// ---- a terrain ----

// n x n cells of a bumpy height field, two triangles a cell, walkable side
// up; face k carries attribute 100 + k.
void buildTerrain(dgCollision* tree, int32_t n) {
    auto height = [](float x, float z) { return 0.4f * std::sin(1.3f * x) * std::cos(0.7f * z) + 0.05f * x; };
    dgTreeCollisionBeginBuild(tree);
    int32_t attribute = 100;
    for (int32_t j = 0; j < n; j++) {
        for (int32_t i = 0; i < n; i++) {
            const float x0 = float(i);
            const float x1 = float(i + 1);
            const float z0 = float(j);
            const float z1 = float(j + 1);
            const float a[9] = {x0, height(x0, z0), z0, x0, height(x0, z1), z1, x1, height(x1, z1), z1};
            const float b[9] = {x0, height(x0, z0), z0, x1, height(x1, z1), z1, x1, height(x1, z0), z0};
            dgTreeCollisionAddFace(tree, 3, a, 12, attribute++);
            dgTreeCollisionAddFace(tree, 3, b, 12, attribute++);
        }
    }
    dgTreeCollisionEndBuild(tree, 0);
}

std::vector<uint8_t> save(const dgCollision* tree) {
    std::vector<uint8_t> bytes;
    dgTreeCollisionSerialize(
        tree,
        [](void* user, const void* buffer, uint32_t size) {
            std::vector<uint8_t>& out = *static_cast<std::vector<uint8_t>*>(user);
            const uint8_t* b = static_cast<const uint8_t*>(buffer);
            out.insert(out.end(), b, b + size);
        },
        &bytes);
    return bytes;
}

struct Reader {
    const uint8_t* bytes;
    size_t size;
    size_t at;
};
uint32_t readPiece(void* user, void* buffer, uint32_t size) {
    Reader& r = *static_cast<Reader*>(user);
    const size_t n = std::min(size_t(size), r.size - r.at);
    if (n > 0) {
        std::memcpy(buffer, r.bytes + r.at, n);
    }
    r.at += n;
    return uint32_t(n);
}
dgCollision* load(dgWorld* world, const uint8_t* bytes, size_t size) {
    Reader reader{bytes, size, 0};
    return dgCreateTreeCollisionFromSerialization(world, nullptr, readPiece, &reader);
}

struct Hit {
    float t;
    float normal[3];
    int32_t attribute;
};
Hit cast(const dgCollision* shape, const float* p0, const float* p1) {
    Hit hit{0.0f, {0, 0, 0}, -1};
    hit.t = dgCollisionRayCast(shape, p0, p1, hit.normal, &hit.attribute);
    return hit;
}

class PhysicsCollision : public ::testing::Test {
protected:
    void SetUp() override {
        resetCounts();
        m_world = dgWorldCreate(countingAllocate, countingRelease);
        ASSERT_NE(m_world, nullptr);
    }
    void TearDown() override {
        dgWorldDestroy(m_world);
        // Back to the engine's default hooks for whoever runs next.
        dgWorldDestroy(dgWorldCreate(nullptr, nullptr));
    }
    dgWorld* m_world = nullptr;
};

// ---- save and read back ----

TEST_F(PhysicsCollision, TreeReadBackAnswersRaysAlike) {
    dgCollision* tree = dgCreateTreeCollision(m_world, nullptr);
    buildTerrain(tree, 12);
    const std::vector<uint8_t> bytes = save(tree);
    ASSERT_FALSE(bytes.empty());
    dgCollision* copy = load(m_world, bytes.data(), bytes.size());
    ASSERT_NE(copy, nullptr);

    float lo0[3], hi0[3], lo1[3], hi1[3];
    dgCollisionCalculateAABB(tree, kIdentity, lo0, hi0);
    dgCollisionCalculateAABB(copy, kIdentity, lo1, hi1);
    for (int32_t k = 0; k < 3; k++) {
        EXPECT_EQ(lo0[k], lo1[k]);
        EXPECT_EQ(hi0[k], hi1[k]);
    }

    std::mt19937 rng(13);
    std::uniform_real_distribution<float> across(-1.0f, 13.0f);
    std::uniform_real_distribution<float> up(-3.0f, 3.0f);
    int32_t hits = 0;
    for (int32_t i = 0; i < 3000; i++) {
        const float p0[3] = {across(rng), 3.0f + up(rng), across(rng)};
        const float p1[3] = {across(rng), -3.0f + up(rng), across(rng)};
        const Hit a = cast(tree, p0, p1);
        const Hit b = cast(copy, p0, p1);
        ASSERT_EQ(a.t, b.t) << i;
        if (a.t <= 1.0f) {
            hits++;
            EXPECT_EQ(a.attribute, b.attribute);
            EXPECT_GE(a.attribute, 100);
            EXPECT_LT(a.attribute, 100 + 2 * 12 * 12);
            for (int32_t k = 0; k < 3; k++) {
                EXPECT_EQ(a.normal[k], b.normal[k]);
            }
            EXPECT_GT(a.normal[1], 0.0f);
        }
    }
    EXPECT_GT(hits, 1000);
    dgReleaseCollision(m_world, copy);
    dgReleaseCollision(m_world, tree);
}

TEST_F(PhysicsCollision, EveryTruncatedStreamGivesNullAndLeaksNothing) {
    dgCollision* tree = dgCreateTreeCollision(m_world, nullptr);
    buildTerrain(tree, 4);
    const std::vector<uint8_t> bytes = save(tree);
    dgReleaseCollision(m_world, tree);
    ASSERT_GT(bytes.size(), 64u);

    // The first pass fills the engine's block cache, which keeps released
    // objects; the second must leave the counts where they stood.
    for (int32_t pass = 0; pass < 2; pass++) {
        const size_t blocksBefore = counts().live.size();
        const int64_t bytesBefore = counts().liveBytes;
        for (size_t length = 0; length < bytes.size(); length++) {
            dgCollision* refused = load(m_world, bytes.data(), length);
            EXPECT_EQ(refused, nullptr) << length;
            dgReleaseCollision(m_world, refused);
        }
        dgCollision* whole = load(m_world, bytes.data(), bytes.size());
        EXPECT_NE(whole, nullptr);
        dgReleaseCollision(m_world, whole);
        if (pass == 1) {
            EXPECT_EQ(counts().live.size(), blocksBefore);
            EXPECT_EQ(counts().liveBytes, bytesBefore);
        }
    }
}

TEST_F(PhysicsCollision, TreeWithoutFacesTouchesNothing) {
    dgCollision* tree = dgCreateTreeCollision(m_world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    dgTreeCollisionEndBuild(tree, 1);
    dgCollision* copy = nullptr;
    {
        const std::vector<uint8_t> bytes = save(tree);
        copy = load(m_world, bytes.data(), bytes.size());
    }
    ASSERT_NE(copy, nullptr);
    dgCollision* box = dgCreateBox(m_world, 2, 2, 2, nullptr);
    for (dgCollision* shape : {tree, copy}) {
        const float p0[3] = {0.5f, 5.0f, 0.25f};
        const float p1[3] = {0.0f, -5.0f, 0.0f};
        EXPECT_GT(cast(shape, p0, p1).t, 1.0f);
        float points[3 * 8], normals[3 * 8], depths[8];
        EXPECT_EQ(dgCollisionCollide(m_world, 8, box, kIdentity, shape, kIdentity, points, normals, depths),
                  0);
        EXPECT_EQ(dgCollisionCollide(m_world, 8, shape, kIdentity, box, kIdentity, points, normals, depths),
                  0);
    }
    dgReleaseCollision(m_world, box);
    dgReleaseCollision(m_world, copy);
    dgReleaseCollision(m_world, tree);
}

// ---- face attributes by pointer ----

struct SeenFace {
    const int32_t* indices;
    int32_t count;
    float centre[3];
};
std::vector<SeenFace> g_seen;

void recordFace(const dgBody*, const dgBody*, const float* xyz, int32_t stride, int32_t count,
                const int32_t* indices) {
    SeenFace face{indices, count, {0, 0, 0}};
    for (int32_t i = 0; i < count; i++) {
        const float* v =
            reinterpret_cast<const float*>(reinterpret_cast<const char*>(xyz) + indices[i] * stride);
        for (int32_t k = 0; k < 3; k++) {
            face.centre[k] += v[k] / float(count);
        }
    }
    g_seen.push_back(face);
}

TEST_F(PhysicsCollision, FaceAttributeOnlyThroughTheTreesOwnIndexLists) {
    dgCollision* tree = dgCreateTreeCollision(m_world, recordFace);
    buildTerrain(tree, 3);
    dgCollision* box = dgCreateBox(m_world, 20, 1, 20, nullptr);
    g_seen.clear();
    float points[3 * 64], normals[3 * 64], depths[64];
    const float place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1.5f, 0.2f, 1.5f, 1};
    dgCollisionCollide(m_world, 64, box, place, tree, kIdentity, points, normals, depths);
    ASSERT_EQ(g_seen.size(), 18u);

    // Every face's own list reaches its attribute; a set one answers the ray.
    const int32_t* lowest = g_seen[0].indices;
    const SeenFace* last = &g_seen[0];
    for (const SeenFace& face : g_seen) {
        const int32_t attribute = dgTreeCollisionGetFaceAttribute(tree, face.indices);
        EXPECT_GE(attribute, 100);
        EXPECT_LT(attribute, 118);
        dgTreeCollisionSetFaceAttribute(tree, face.indices, attribute + 1000);
        const float p0[3] = {face.centre[0], 5.0f, face.centre[2]};
        const float p1[3] = {face.centre[0], -5.0f, face.centre[2]};
        EXPECT_EQ(cast(tree, p0, p1).attribute, attribute + 1000);
        lowest = std::min(lowest, face.indices);
        if (face.indices > last->indices) {
            last = &face;
        }
    }

    // Pointers whose attribute word lies outside the index array: nothing is
    // read or written there.
    int32_t foreign[4] = {0x5eed, 1, 2, 3};
    struct Case {
        const char* name;
        const dgCollision* shape;
        const int32_t* indices;
    };
    const Case cases[] = {
        {"foreign array", tree, foreign + 1},
        {"start of the index array", tree, lowest - 3},
        {"end of the index array", tree, last->indices + last->count},
        {"null pointer", tree, nullptr},
        {"null tree", nullptr, g_seen[0].indices},
        {"not a tree", box, g_seen[0].indices},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dgTreeCollisionGetFaceAttribute(c.shape, c.indices), 0) << c.name;
        dgTreeCollisionSetFaceAttribute(const_cast<dgCollision*>(c.shape), c.indices, 7);
        EXPECT_EQ(foreign[0], 0x5eed) << c.name;
    }
    // The refused pointers changed no face either.
    for (const SeenFace& face : g_seen) {
        EXPECT_GE(dgTreeCollisionGetFaceAttribute(tree, face.indices), 1100);
    }
    dgReleaseCollision(m_world, box);
    dgReleaseCollision(m_world, tree);
}

// ---- user mesh ----

// One upward square of side 4 centred at the origin, as two triangles.
struct UserMesh {
    float vertices[12] = {-2, 0, -2, -2, 0, 2, 2, 0, 2, 2, 0, -2};
    int32_t destroyed = 0;
    int32_t rays = 0;
};
void userCollide(dgPolygonSoupCollideDesc* desc) {
    UserMesh& mesh = *static_cast<UserMesh*>(desc->m_userData);
    static const int32_t indices[6] = {0, 1, 2, 0, 2, 3};
    desc->m_vertexArray = mesh.vertices;
    desc->m_vertexStrideInBytes = 12;
    desc->m_faceCount = 2;
    desc->m_indexCount = 6;
    for (int32_t f = 0; f < 2; f++) {
        desc->m_faceAttributes[f] = 40 + f;
        desc->m_faceIndexCounts[f] = 3;
    }
    std::memcpy(desc->m_faceIndices, indices, sizeof(indices));
}
float userRay(dgPolygonSoupRayDesc* desc) {
    UserMesh& mesh = *static_cast<UserMesh*>(desc->m_userData);
    mesh.rays++;
    const float dy = desc->m_p1[1] - desc->m_p0[1];
    if (dy == 0.0f) {
        return 2.0f;
    }
    const float t = -desc->m_p0[1] / dy;
    const float x = desc->m_p0[0] + t * (desc->m_p1[0] - desc->m_p0[0]);
    const float z = desc->m_p0[2] + t * (desc->m_p1[2] - desc->m_p0[2]);
    if ((t < 0.0f) || (t > 1.0f) || (std::fabs(x) > 2.0f) || (std::fabs(z) > 2.0f)) {
        return 2.0f;
    }
    desc->m_normal[0] = 0.0f;
    desc->m_normal[1] = 3.0f;
    desc->m_normal[2] = 0.0f;
    desc->m_attribute = 41;
    return t;
}
void userDestroy(void* user) {
    static_cast<UserMesh*>(user)->destroyed++;
}

TEST_F(PhysicsCollision, UserMeshAnswersThroughItsCallbacks) {
    UserMesh mesh;
    const float lo[3] = {2, 0, 2};
    const float hi[3] = {-2, 0, -2};
    dgCollision* soup = dgCreateUserMeshCollision(m_world, lo, hi, &mesh, userCollide, userRay, userDestroy);
    ASSERT_NE(soup, nullptr);

    float boxMin[3], boxMax[3];
    dgCollisionCalculateAABB(soup, kIdentity, boxMin, boxMax);
    EXPECT_FLOAT_EQ(boxMin[0], -2.0f);
    EXPECT_FLOAT_EQ(boxMax[2], 2.0f);

    const float p0[3] = {0.5f, 2.0f, 0.5f};
    const float p1[3] = {0.5f, -2.0f, 0.5f};
    const Hit hit = cast(soup, p0, p1);
    EXPECT_FLOAT_EQ(hit.t, 0.5f);
    EXPECT_FLOAT_EQ(hit.normal[1], 1.0f);
    EXPECT_EQ(hit.attribute, 41);
    EXPECT_EQ(mesh.rays, 1);

    // A cube sunk 0.1 into the square rests on it, pushed up.
    dgCollision* box = dgCreateBox(m_world, 1, 1, 1, nullptr);
    const float place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.3f, 0.4f, -0.2f, 1};
    float points[3 * 16], normals[3 * 16], depths[16];
    const int32_t count =
        dgCollisionCollide(m_world, 16, box, place, soup, kIdentity, points, normals, depths);
    ASSERT_GT(count, 0);
    for (int32_t i = 0; i < count; i++) {
        EXPECT_NEAR(std::fabs(normals[3 * i + 1]), 1.0f, 1e-3f);
        EXPECT_NEAR(depths[i], 0.1f, 0.02f);
    }
    dgReleaseCollision(m_world, box);
    dgReleaseCollision(m_world, soup);
    EXPECT_EQ(mesh.destroyed, 1);
}

// ---- shapes and queries ----

TEST_F(PhysicsCollision, ModifierAndCompoundFromTheWorld) {
    dgCollision* sphere = dgCreateSphere(m_world, 1, 1, 1, nullptr);
    dgCollision* modifier = dgCreateConvexModifier(m_world, sphere);
    ASSERT_NE(modifier, nullptr);
    const float scale[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    dgConvexModifierSetMatrix(modifier, scale);
    float read[16];
    dgConvexModifierGetMatrix(modifier, read);
    EXPECT_EQ(0, std::memcmp(read, scale, sizeof(read)));
    EXPECT_NEAR(dgConvexCollisionCalculateVolume(modifier), 2.0f * dgConvexCollisionCalculateVolume(sphere),
                0.02f * dgConvexCollisionCalculateVolume(sphere));
    float boxMin[3], boxMax[3];
    dgCollisionCalculateAABB(modifier, kIdentity, boxMin, boxMax);
    EXPECT_NEAR(boxMax[0], 2.0f, 1e-3f);
    EXPECT_NEAR(boxMax[1], 1.0f, 1e-3f);

    const float left[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -3, 0, 0, 1};
    dgCollision* a = dgCreateBox(m_world, 1, 1, 1, nullptr);
    dgCollision* b = dgCreateBox(m_world, 1, 1, 1, left);
    dgCollision* parts[3] = {a, nullptr, b};
    dgCollision* compound = dgCreateCompoundCollision(m_world, 3, parts);
    ASSERT_NE(compound, nullptr);
    dgCollisionCalculateAABB(compound, kIdentity, boxMin, boxMax);
    EXPECT_NEAR(boxMin[0], -3.5f, 1e-3f);
    EXPECT_NEAR(boxMax[0], 0.5f, 1e-3f);
    // Neither wraps a compound, a soup or the null shape.
    dgCollision* tree = dgCreateTreeCollision(m_world, nullptr);
    dgCollision* none = dgCreateNull(m_world);
    for (dgCollision* refused : {compound, tree, none}) {
        EXPECT_EQ(dgCreateConvexModifier(m_world, refused), nullptr);
    }
    for (dgCollision* shape : {none, tree, compound, a, b, modifier, sphere}) {
        dgReleaseCollision(m_world, shape);
    }
}

TEST_F(PhysicsCollision, QueriesForwardTheirOutputs) {
    dgCollision* sphere = dgCreateSphere(m_world, 1, 1, 1, nullptr);
    const float far[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 0, 1};
    float a[3], b[3], n[3];
    ASSERT_EQ(dgCollisionClosestPoint(m_world, sphere, kIdentity, sphere, far, a, b, n), 1);
    EXPECT_NEAR(a[0], 1.0f, 1e-3f);
    EXPECT_NEAR(b[0], 9.0f, 1e-3f);
    EXPECT_NEAR(n[0], 1.0f, 1e-3f);
    const float point[3] = {0, 4, 0};
    ASSERT_EQ(dgCollisionPointDistance(m_world, point, sphere, kIdentity, a, n), 1);
    EXPECT_NEAR(a[1], 1.0f, 1e-3f);
    EXPECT_NEAR(n[1], 1.0f, 1e-3f);

    float points[3 * 4], normals[3 * 4], depths[4];
    const float near[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1.9f, 0, 0, 1};
    EXPECT_GT(dgCollisionCollide(m_world, 4, sphere, kIdentity, sphere, near, points, normals, depths), 0);
    const float still[3] = {0, 0, 0};
    const float towards[3] = {20, 0, 0};
    float impact = -1.0f;
    EXPECT_EQ(dgCollisionCollideContinuous(m_world, 0, 0.5f, sphere, kIdentity, still, still, sphere, far,
                                           still, still, &impact, points, normals, depths),
              0);
    EXPECT_EQ(impact, 1e10f);
    const int32_t count =
        dgCollisionCollideContinuous(m_world, 4, 0.5f, sphere, kIdentity, towards, still, sphere, far, still,
                                     still, &impact, points, normals, depths);
    EXPECT_GT(count, 0);
    EXPECT_NEAR(impact, 0.4f, 0.01f);
    dgReleaseCollision(m_world, sphere);
}

// ---- refused input ----

// Each case runs an action that must change nothing: it answers true when it
// saw no change.
struct Refusal {
    const char* name;
    std::function<bool(dgWorld*, dgCollision* box, dgCollision* tree)> unchanged;
};

class PhysicsCollisionRefusal : public PhysicsCollision, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PhysicsCollisionRefusal, ChangesNothing) {
    dgCollision* box = dgCreateBox(m_world, 1, 1, 1, nullptr);
    dgCollision* tree = dgCreateTreeCollision(m_world, nullptr);
    buildTerrain(tree, 2);
    EXPECT_TRUE(GetParam().unchanged(m_world, box, tree));
    dgReleaseCollision(m_world, tree);
    dgReleaseCollision(m_world, box);
}

bool untouched(const float* values, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        if (values[i] != -7.0f) {
            return false;
        }
    }
    return true;
}

const float kNaNMatrix[16] = {1, 0, 0, 0, 0, kNaN, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const float kHere[3] = {0, 0, 0};
const float kThere[3] = {1, 1, 1};

const Refusal kRefusals[] = {
    {"compound with a negative count",
     [](dgWorld* w, dgCollision* box, dgCollision*) { return !dgCreateCompoundCollision(w, -1, &box); }},
    {"compound with no array",
     [](dgWorld* w, dgCollision*, dgCollision*) { return !dgCreateCompoundCollision(w, 2, nullptr); }},
    {"user mesh without a collide callback",
     [](dgWorld* w, dgCollision*, dgCollision*) {
         return !dgCreateUserMeshCollision(w, kHere, kThere, nullptr, nullptr, nullptr, nullptr);
     }},
    {"user mesh with a NaN box",
     [](dgWorld* w, dgCollision*, dgCollision*) {
         const float bad[3] = {0, kNaN, 0};
         return !dgCreateUserMeshCollision(w, bad, kThere, nullptr, userCollide, nullptr, nullptr);
     }},
    {"modifier of nothing",
     [](dgWorld* w, dgCollision*, dgCollision*) { return !dgCreateConvexModifier(w, nullptr); }},
    {"modifier matrix NaN",
     [](dgWorld* w, dgCollision* box, dgCollision*) {
         dgCollision* modifier = dgCreateConvexModifier(w, box);
         dgConvexModifierSetMatrix(modifier, kNaNMatrix);
         float read[16];
         dgConvexModifierGetMatrix(modifier, read);
         dgReleaseCollision(w, modifier);
         return std::memcmp(read, kIdentity, sizeof(read)) == 0;
     }},
    {"modifier matrix mirroring",
     [](dgWorld* w, dgCollision* box, dgCollision*) {
         dgCollision* modifier = dgCreateConvexModifier(w, box);
         const float stretch[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
         const float mirror[16] = {2, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
         dgConvexModifierSetMatrix(modifier, stretch);
         dgConvexModifierSetMatrix(modifier, mirror);
         float read[16];
         dgConvexModifierGetMatrix(modifier, read);
         const float volume = dgConvexCollisionCalculateVolume(modifier);
         dgReleaseCollision(w, modifier);
         return (std::memcmp(read, stretch, sizeof(read)) == 0) && (std::fabs(volume - 2.0f) < 1e-5f);
     }},
    {"user id of a tree",
     [](dgWorld*, dgCollision*, dgCollision* tree) {
         const uint32_t before = dgCollisionGetUserId(tree);
         dgCollisionSetUserId(tree, 99);
         return dgCollisionGetUserId(tree) == before;
     }},
    {"getters of a null shape",
     [](dgWorld*, dgCollision*, dgCollision*) {
         float inertia[3] = {-7, -7, -7};
         float origin[3] = {-7, -7, -7};
         dgConvexCollisionCalculateInertialMatrix(nullptr, inertia, origin);
         return (dgCollisionGetUserId(nullptr) == 0) && (dgConvexCollisionCalculateVolume(nullptr) == 0.0f) &&
                untouched(inertia, 3) && untouched(origin, 3);
     }},
    {"box under a NaN matrix",
     [](dgWorld*, dgCollision* box, dgCollision*) {
         float lo[3] = {-7, -7, -7};
         float hi[3] = {-7, -7, -7};
         dgCollisionCalculateAABB(box, kNaNMatrix, lo, hi);
         return untouched(lo, 3) && untouched(hi, 3);
     }},
    {"ray from NaN",
     [](dgWorld*, dgCollision* box, dgCollision* tree) {
         const float bad[3] = {kNaN, 0, 0};
         float normal[3] = {-7, -7, -7};
         return (dgCollisionRayCast(box, bad, kThere, normal, nullptr) > 1.0f) &&
                (dgCollisionRayCast(tree, kThere, bad, normal, nullptr) > 1.0f) &&
                (dgCollisionRayCast(nullptr, kHere, kThere, normal, nullptr) > 1.0f) && untouched(normal, 3);
     }},
    {"collide with a negative maximum",
     [](dgWorld* w, dgCollision* box, dgCollision*) {
         float points[3] = {-7, -7, -7};
         float normals[3] = {-7, -7, -7};
         float depth = -7;
         return (dgCollisionCollide(w, -1, box, kIdentity, box, kIdentity, points, normals, &depth) == 0) &&
                untouched(points, 3) && untouched(normals, 3) && (depth == -7.0f);
     }},
    {"closest points under a NaN matrix",
     [](dgWorld* w, dgCollision* box, dgCollision*) {
         float a[3] = {-7, -7, -7};
         float b[3] = {-7, -7, -7};
         float n[3] = {-7, -7, -7};
         return (dgCollisionClosestPoint(w, box, kIdentity, box, kNaNMatrix, a, b, n) == 0) &&
                untouched(a, 3) && untouched(b, 3) && untouched(n, 3);
     }},
    {"continuous with a NaN velocity",
     [](dgWorld* w, dgCollision* box, dgCollision*) {
         const float bad[3] = {0, kNaN, 0};
         float toi = -7;
         float points[3], normals[3], depth;
         return (dgCollisionCollideContinuous(w, 1, 0.1f, box, kIdentity, bad, kHere, box, kIdentity, kHere,
                                              kHere, &toi, points, normals, &depth) == 0) &&
                (toi == -7.0f);
     }},
    {"everything that takes a world, without one",
     [](dgWorld* w, dgCollision* box, dgCollision* tree) {
         const float cube[24] = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1,
                                 -1, -1, 1,  1, -1, 1,  -1, 1, 1,  1, 1, 1};
         const std::vector<uint8_t> stream = save(tree);
         Reader reader{stream.data(), stream.size(), 0};
         const bool noShape =
             !dgCreateNull(nullptr) && !dgCreateBox(nullptr, 1, 1, 1, nullptr) &&
             !dgCreateSphere(nullptr, 1, 1, 1, nullptr) && !dgCreateSphere(nullptr, 1, 2, 3, kIdentity) &&
             !dgCreateCone(nullptr, 1, 2, nullptr) && !dgCreateCapsule(nullptr, 1, 2, nullptr) &&
             !dgCreateCylinder(nullptr, 1, 2, nullptr) && !dgCreateChamferCylinder(nullptr, 1, 2, nullptr) &&
             !dgCreateConvexHull(nullptr, 8, cube, 12, nullptr) && !dgCreateConvexModifier(nullptr, box) &&
             !dgCreateCompoundCollision(nullptr, 1, &box) &&
             !dgCreateUserMeshCollision(nullptr, kHere, kThere, nullptr, userCollide, nullptr, nullptr) &&
             !dgCreateTreeCollision(nullptr, nullptr) &&
             !dgCreateTreeCollisionFromSerialization(nullptr, nullptr, readPiece, &reader);
         float a[3] = {-7, -7, -7};
         float b[3] = {-7, -7, -7};
         float n[3] = {-7, -7, -7};
         float depth = -7;
         float toi = -7;
         const float far[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1};
         const bool noAnswer =
             (dgCollisionPointDistance(nullptr, kThere, box, far, a, n) == 0) &&
             (dgCollisionClosestPoint(nullptr, box, kIdentity, box, far, a, b, n) == 0) &&
             (dgCollisionCollide(nullptr, 4, box, kIdentity, box, kIdentity, a, n, &depth) == 0) &&
             (dgCollisionCollideContinuous(nullptr, 4, 0.1f, box, kIdentity, kHere, kHere, box, far, kHere,
                                           kHere, &toi, a, n, &depth) == 0);
         // Still cached afterwards: the next equal request shares it.
         dgCollisionRemoveFromCache(nullptr, box);
         dgCollision* again = dgCreateBox(w, 1, 1, 1, nullptr);
         const bool shared = (again == box);
         dgReleaseCollision(w, again);
         return noShape && noAnswer && shared && untouched(a, 3) && untouched(b, 3) && untouched(n, 3) &&
                (depth == -7.0f) && (toi == -7.0f);
     }},
    {"read back without a reader",
     [](dgWorld* w, dgCollision*, dgCollision*) {
         return !dgCreateTreeCollisionFromSerialization(w, nullptr, nullptr, nullptr);
     }},
    {"save of a box", [](dgWorld*, dgCollision* box, dgCollision*) { return save(box).empty(); }},
    {"face with a negative count",
     [](dgWorld*, dgCollision*, dgCollision* tree) {
         const float p0[3] = {0.5f, 5, 0.5f};
         const float p1[3] = {0.5f, -5, 0.5f};
         const Hit before = cast(tree, p0, p1);
         const float face[9] = {0, 2, 0, 0, 2, 2, 2, 2, 2};
         dgTreeCollisionBeginBuild(tree);
         dgTreeCollisionAddFace(tree, -3, face, 12, 5);
         dgTreeCollisionEndBuild(tree, 0);
         // The rebuild holds no face at all now.
         return (before.t <= 1.0f) && (cast(tree, p0, p1).t > 1.0f);
     }},
};

INSTANTIATE_TEST_SUITE_P(All, PhysicsCollisionRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; c++) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

}  // namespace
