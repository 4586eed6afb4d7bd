#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>

#include "CountingHooks.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgCollisionBox.h"
#include "dgMatrix.h"
#include "dgQuaternion.h"
#include "dgWorld.h"

namespace {

// A real box that also records what the body hands it, and answers the
// submerged-volume query with a set value.
class ProbeBox : public dgCollisionBox {
public:
    ProbeBox(const dgVector& half, const dgMatrix& offset)
        : dgCollisionBox(0, 2.0f * half.x, 2.0f * half.y, 2.0f * half.z, offset) {}

    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override {
        m_rayP0 = p0;
        m_rayP1 = p1;
        m_rayBody = body;
        m_rayUserData = userData;
        return dgCollisionBox::rayCast(p0, p1, contact, prefilter, body, userData);
    }

    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override {
        m_submergedMatrix = matrix;
        m_submergedCallback = callback;
        m_submergedContext = context;
        return m_submerged;
    }

    dgVector m_submerged = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    mutable dgVector m_rayP0, m_rayP1;
    mutable const dgBody* m_rayBody = nullptr;
    mutable void* m_rayUserData = nullptr;
    mutable dgMatrix m_submergedMatrix;
    mutable dgCollisionFluidPlaneCallback m_submergedCallback = nullptr;
    mutable void* m_submergedContext = nullptr;
};

dgVector vec(float x, float y, float z, float w = 1.0f) {
    return dgVector(x, y, z, w);
}

// A box of the given half extents; the signature does not matter here.
dgCollisionBox* makeBox(const dgVector& half, const dgMatrix& offset) {
    return new dgCollisionBox(0, 2.0f * half.x, 2.0f * half.y, 2.0f * half.z, offset);
}

dgMatrix rigid(const dgVector& axis, float angle, const dgVector& position) {
    const float len = std::sqrt(axis.dot(axis));
    const dgVector unit = axis.scale(1.0f / len);
    return dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(unit, angle), position);
}

dgMatrix frame(const dgVector& front, const dgVector& up, const dgVector& right, const dgVector& position) {
    return dgMatrix(front, up, right, position);
}

// Quarter turns written out, so the tests do not lean on a rotation
// convention: about y (x -> -z, z -> x) and about z (x -> y, y -> -x).
dgMatrix quarterTurnY(const dgVector& position) {
    return frame(vec(0.0f, 0.0f, -1.0f, 0.0f), vec(0.0f, 1.0f, 0.0f, 0.0f), vec(1.0f, 0.0f, 0.0f, 0.0f),
                 position);
}
dgMatrix quarterTurnZ(const dgVector& position) {
    return frame(vec(0.0f, 1.0f, 0.0f, 0.0f), vec(-1.0f, 0.0f, 0.0f, 0.0f), vec(0.0f, 0.0f, 1.0f, 0.0f),
                 position);
}

dgMatrix randomRigid(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    dgVector axis = vec(u(rng), u(rng), u(rng), 0.0f);
    if (axis.dot(axis) < 1e-4f) {
        axis = vec(0.0f, 1.0f, 0.0f, 0.0f);
    }
    return rigid(axis, 3.14159f * u(rng), vec(10.0f * u(rng), 10.0f * u(rng), 10.0f * u(rng)));
}

// A zeroed body placed by `matrix` carrying `shape`.
struct PlacedBody {
    explicit PlacedBody(dgCollision* shape, const dgMatrix& matrix = dgGetIdentityMatrix()) {
        body.clear();
        body.m_rotation = dgQuaternion(0.0f, 0.0f, 0.0f, 1.0f);
        body.m_collision = shape;
        body.m_matrix = matrix;
    }
    dgBody body;
};

void expectVecNear(const dgVector& a, const dgVector& b, float tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// World box of the eight corners of a local box, placed first by `offset`,
// then by `body`.
void bruteForceBox(const dgVector& half, const dgMatrix& offset, const dgMatrix& body, dgVector& lo,
                   dgVector& hi) {
    lo = vec(1e30f, 1e30f, 1e30f);
    hi = vec(-1e30f, -1e30f, -1e30f);
    for (int corner = 0; corner < 8; ++corner) {
        const dgVector local((corner & 1) ? half.x : -half.x, (corner & 2) ? half.y : -half.y,
                             (corner & 4) ? half.z : -half.z, 1.0f);
        const dgVector world = body.transformVector(offset.transformVector(local));
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], world[i]);
            hi[i] = std::max(hi[i], world[i]);
        }
    }
}

}  // namespace

TEST(Body, ConstructorSetsOnlyTheRotation) {
    alignas(dgBody) unsigned char storage[sizeof(dgBody)];
    std::memset(storage, 0xCD, sizeof(storage));
    dgBody* body = ::new (storage) dgBody();
    const size_t rotationAt = offsetof(dgBody, m_rotation);
    for (size_t i = 0; i < sizeof(dgBody); ++i) {
        if (i >= rotationAt && i < rotationAt + sizeof(dgQuaternion)) {
            continue;
        }
        ASSERT_EQ(storage[i], 0xCD) << "byte " << i;
    }
    EXPECT_EQ(body->m_rotation.x, 0.0f);
    EXPECT_EQ(body->m_rotation.y, 0.0f);
    EXPECT_EQ(body->m_rotation.z, 0.0f);
    EXPECT_EQ(body->m_rotation.w, 1.0f);
    body->~dgBody();
    for (size_t i = 0; i < rotationAt; ++i) {
        ASSERT_EQ(storage[i], 0xCD);
    }
}

TEST(Body, ClearedBodyIsZeroWithIdentityRotation) {
    alignas(dgBody) unsigned char storage[sizeof(dgBody)];
    std::memset(storage, 0xAB, sizeof(storage));
    dgBody* body = dgBody::createCleared(storage);
    ASSERT_EQ(static_cast<void*>(body), static_cast<void*>(storage));
    const size_t rotationW = offsetof(dgBody, m_rotation) + 3 * sizeof(float);
    for (size_t i = 0; i < sizeof(dgBody); ++i) {
        if (i >= rotationW && i < rotationW + sizeof(float)) {
            continue;
        }
        ASSERT_EQ(storage[i], 0) << "byte " << i;
    }
    EXPECT_EQ(body->m_rotation.w, 1.0f);
    EXPECT_EQ(body->m_collision, nullptr);
    EXPECT_EQ(body->m_world, nullptr);
    EXPECT_EQ(body->m_flags, 0u);

    // clear() zeroes everything, the rotation included.
    body->clear();
    for (size_t i = 0; i < sizeof(dgBody); ++i) {
        ASSERT_EQ(storage[i], 0) << "byte " << i;
    }
}

TEST(Body, MatrixIsTheFirstMember) {
    dgBody body;
    EXPECT_EQ(static_cast<void*>(&body), static_cast<void*>(&body.m_matrix));
    EXPECT_EQ(reinterpret_cast<dgMatrix*>(&body), &body.m_matrix);
}

// Random poses of a box with and without an offset: without one the
// collision matrix is the body matrix itself; with one, a point of the shape
// lands where the offset, then the body, put it (the translation row is the
// shape's centre); the box is the brute-force box of the placed corners.
TEST(BodyCollisionMatrix, AppliesTheOffsetFirstAndBoundsThePlacedCorners) {
    std::mt19937 rng(1234);
    dgCollisionBox* plain = makeBox(vec(0.5f, 1.5f, 2.5f), dgGetIdentityMatrix());
    dgCollisionBox* offsetShape = makeBox(vec(2.0f, 0.1f, 1.0f), randomRigid(rng));
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(offsetShape, nullptr);
    ASSERT_FALSE(plain->hasOffset());
    ASSERT_TRUE(offsetShape->hasOffset());
    const dgVector probes[] = {vec(0.0f, 0.0f, 0.0f), vec(1.0f, 0.0f, 0.0f), vec(0.3f, -2.0f, 5.0f)};
    for (int i = 0; i < 200; ++i) {
        dgCollisionBox* shape = (i & 1) ? offsetShape : plain;
        const dgMatrix bodyMatrix = randomRigid(rng);
        PlacedBody t(shape, bodyMatrix);
        dgBodyUpdateCollisionMatrix(&t.body, 0.02f);
        const dgMatrix& offset = shape->getOffsetMatrix();
        if (shape == plain) {
            ASSERT_EQ(std::memcmp(&t.body.m_collisionMatrix, &t.body.m_matrix, sizeof(dgMatrix)), 0);
        }
        for (const dgVector& p : probes) {
            expectVecNear(t.body.m_collisionMatrix.transformVector(p),
                          bodyMatrix.transformVector(offset.transformVector(p)), 1e-5f);
        }
        dgVector lo, hi;
        bruteForceBox(shape->getHalfExtents(), offset, bodyMatrix, lo, hi);
        expectVecNear(t.body.m_minAABB, lo, 1e-4f);
        expectVecNear(t.body.m_maxAABB, hi, 1e-4f);
    }
    plain->release();
    offsetShape->release();
}

TEST(BodyCollisionMatrix, ContinuousModeStretchesAlongTheMotion) {
    // Unit box (extent 2, margin 0.6) at the origin; inverse mass 0.5.
    struct Case {
        dgVector veloc;
        dgVector force;
        float dt;
        dgVector expectMin;
        dgVector expectMax;
    };
    const Case cases[] = {
        // 10 * 0.1 = 1 along +x: the maximum grows by 1 - 0.6.
        {vec(10.0f, 0.0f, 0.0f, 0.0f), vec(0.0f, 0.0f, 0.0f, 0.0f), 0.1f, vec(-1.0f, -1.0f, -1.0f),
         vec(1.4f, 1.0f, 1.0f)},
        // Along -z: the minimum drops by the same excess.
        {vec(0.0f, 0.0f, -10.0f, 0.0f), vec(0.0f, 0.0f, 0.0f, 0.0f), 0.1f, vec(-1.0f, -1.0f, -1.4f),
         vec(1.0f, 1.0f, 1.0f)},
        // Within the margin: unchanged.
        {vec(5.0f, -5.0f, 5.0f, 0.0f), vec(0.0f, 0.0f, 0.0f, 0.0f), 0.1f, vec(-1.0f, -1.0f, -1.0f),
         vec(1.0f, 1.0f, 1.0f)},
        // Force only: 0.5^2 * 0.5 * 40 = 5 along +y.
        {vec(0.0f, 0.0f, 0.0f, 0.0f), vec(0.0f, 40.0f, 0.0f, 0.0f), 0.5f, vec(-1.0f, -1.0f, -1.0f),
         vec(1.0f, 5.4f, 1.0f)},
        // Velocity and force cancel on x; y moves 2 down.
        {vec(4.0f, -4.0f, 0.0f, 0.0f), vec(-16.0f, 0.0f, 0.0f, 0.0f), 0.5f, vec(-1.0f, -2.4f, -1.0f),
         vec(1.0f, 1.0f, 1.0f)},
    };
    dgCollisionBox* shape = makeBox(vec(1.0f, 1.0f, 1.0f), dgGetIdentityMatrix());
    ASSERT_NE(shape, nullptr);
    for (const Case& c : cases) {
        PlacedBody t(shape);
        t.body.m_veloc = c.veloc;
        t.body.m_force = c.force;
        t.body.m_invMass = vec(1.0f, 1.0f, 1.0f, 0.5f);
        t.body.m_flags = dgBodyFlagContinuous;
        dgBodyUpdateCollisionMatrix(&t.body, c.dt);
        expectVecNear(t.body.m_minAABB, c.expectMin, 1e-5f);
        expectVecNear(t.body.m_maxAABB, c.expectMax, 1e-5f);

        // Without the flag the box is the shape's box whatever the motion.
        t.body.m_flags =
            dgBodyFlagActive | dgBodyFlagAutoFreeze | dgBodyFlagEquilibrium | dgBodyFlagDirectLink;
        dgBodyUpdateCollisionMatrix(&t.body, c.dt);
        expectVecNear(t.body.m_minAABB, vec(-1.0f, -1.0f, -1.0f), 0.0f);
        expectVecNear(t.body.m_maxAABB, vec(1.0f, 1.0f, 1.0f), 0.0f);
    }
    shape->release();
}

TEST(BodySetMatrix, DerivesRotationCentreOfMassAndBoxWithTheWorldStep) {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    world->m_timeStep = 0.1f;
    dgCollisionBox* shape = makeBox(vec(1.0f, 1.0f, 1.0f), dgGetIdentityMatrix());
    ASSERT_NE(shape, nullptr);
    PlacedBody t(shape);
    t.body.m_world = world;
    t.body.m_localCentreOfMass = vec(0.5f, 0.0f, -0.25f);
    t.body.m_veloc = vec(10.0f, 0.0f, 0.0f, 0.0f);
    t.body.m_flags = dgBodyFlagContinuous;

    const dgMatrix matrix = quarterTurnY(vec(2.0f, 3.0f, 4.0f));
    dgBodySetMatrixInternal(&t.body, matrix);
    EXPECT_EQ(std::memcmp(&t.body.m_matrix, &matrix, sizeof(dgMatrix)), 0);
    const dgMatrix fromRotation = dgMatrix::fromQuaternion(t.body.m_rotation, matrix.position);
    for (int r = 0; r < 4; ++r) {
        expectVecNear(fromRotation[r], matrix[r], 1e-6f);
    }
    // The quarter turn about y maps the local x axis to -z and z to x.
    expectVecNear(t.body.m_globalCentreOfMass, vec(2.0f + -0.25f, 3.0f, 4.0f - 0.5f), 1e-5f);
    // Box around (2, 3, 4), stretched by 10 * 0.1 - 0.6 along +x.
    expectVecNear(t.body.m_minAABB, vec(1.0f, 2.0f, 3.0f), 1e-5f);
    expectVecNear(t.body.m_maxAABB, vec(3.4f, 4.0f, 5.0f), 1e-5f);

    // A body without a world stretches over no time.
    t.body.m_world = nullptr;
    dgBodySetMatrixInternal(&t.body, matrix);
    expectVecNear(t.body.m_maxAABB, vec(3.0f, 4.0f, 5.0f), 1e-5f);

    shape->release();
    dgWorldDestroy(world);
}

namespace {

struct FilterLog {
    int calls = 0;
    dgBody* body = nullptr;
    float normal[3] = {0.0f, 0.0f, 0.0f};
    uint32_t collisionId = 0;
    void* userData = nullptr;
    float t = 0.0f;
};
FilterLog g_filter;

float recordingFilter(dgBody* body, const float* normal, uint32_t collisionId, void* userData, float t) {
    ++g_filter.calls;
    g_filter.body = body;
    std::memcpy(g_filter.normal, normal, sizeof(g_filter.normal));
    g_filter.collisionId = collisionId;
    g_filter.userData = userData;
    g_filter.t = t;
    return t * 0.5f;
}

int g_prefilterCalls = 0;
uint32_t g_prefilterAnswer = 1;
const dgBody* g_prefilterBody = nullptr;
void* g_prefilterUserData = nullptr;

uint32_t recordingPrefilter(const dgBody* body, const dgCollision*, void* userData) {
    ++g_prefilterCalls;
    g_prefilterBody = body;
    g_prefilterUserData = userData;
    return g_prefilterAnswer;
}

}  // namespace

TEST(BodyRayCast, CastsInShapeSpaceAndReportsTheWorldNormal) {
    // Shape offset a quarter turn about z; body a quarter turn about y at
    // (5, 0, 0). The shape's local z half extent (3) ends up along world x,
    // so the ray along -x meets the face at world x = 8 (t = 0.2) whose
    // normal is world +x.
    ProbeBox* shape = new ProbeBox(vec(2.0f, 0.5f, 3.0f), quarterTurnZ(vec(0.0f, 0.0f, 0.0f)));
    shape->setUserId(0x80000007u);
    PlacedBody t(shape, quarterTurnY(vec(5.0f, 0.0f, 0.0f)));
    dgBodyUpdateCollisionMatrix(&t.body, 0.0f);

    const dgVector p0 = vec(10.0f, 0.25f, 0.1f);
    const dgVector p1 = vec(0.0f, 0.25f, 0.1f);
    int marker = 0;
    g_filter = FilterLog();
    g_prefilterCalls = 0;
    g_prefilterAnswer = 1;
    const float result = dgBodyRayCast(&t.body, p0, p1, recordingFilter, &marker, recordingPrefilter, 1.2f);

    // The shape received the segment in its own space.
    expectVecNear(t.body.m_collisionMatrix.transformVector(shape->m_rayP0), p0, 1e-5f);
    expectVecNear(t.body.m_collisionMatrix.transformVector(shape->m_rayP1), p1, 1e-5f);
    EXPECT_EQ(shape->m_rayBody, &t.body);
    EXPECT_EQ(shape->m_rayUserData, &marker);
    EXPECT_EQ(g_prefilterCalls, 1);
    EXPECT_EQ(g_prefilterBody, &t.body);
    EXPECT_EQ(g_prefilterUserData, &marker);

    ASSERT_EQ(g_filter.calls, 1);
    EXPECT_EQ(g_filter.body, &t.body);
    EXPECT_EQ(g_filter.userData, &marker);
    EXPECT_NEAR(g_filter.t, 0.2f, 1e-5f);
    EXPECT_NEAR(g_filter.normal[0], 1.0f, 1e-6f);
    EXPECT_NEAR(g_filter.normal[1], 0.0f, 1e-6f);
    EXPECT_NEAR(g_filter.normal[2], 0.0f, 1e-6f);
    // The attribute arrives as the 32-bit value, top bit and all.
    EXPECT_EQ(g_filter.collisionId, 0x80000007u);
    EXPECT_EQ(result, g_filter.t * 0.5f);

    // A hit at or beyond the limit leaves the limit and skips the filter.
    const float hitT = g_filter.t;
    g_filter = FilterLog();
    EXPECT_EQ(dgBodyRayCast(&t.body, p0, p1, recordingFilter, &marker, recordingPrefilter, hitT), hitT);
    EXPECT_EQ(dgBodyRayCast(&t.body, p0, p1, recordingFilter, &marker, recordingPrefilter, 0.1f), 0.1f);
    EXPECT_EQ(g_filter.calls, 0);

    // A miss (passing above the box) and a vetoing prefilter leave it too.
    EXPECT_EQ(dgBodyRayCast(&t.body, vec(10.0f, 5.0f, 0.0f), vec(0.0f, 5.0f, 0.0f), recordingFilter, &marker,
                            recordingPrefilter, 1.2f),
              1.2f);
    g_prefilterAnswer = 0;
    EXPECT_EQ(dgBodyRayCast(&t.body, p0, p1, recordingFilter, &marker, recordingPrefilter, 1.2f), 1.2f);
    EXPECT_EQ(g_filter.calls, 0);

    // Without a filter the hit parameter itself comes back.
    EXPECT_EQ(dgBodyRayCast(&t.body, p0, p1, nullptr, nullptr, nullptr, 1.2f), hitT);
    shape->release();
}

TEST(BodyRayCast, HitsOfARealBoxLieOnItsSurfaceWithTheFaceNormal) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const dgVector half = vec(1.5f, 0.5f, 1.0f);
    const dgMatrix offset = rigid(vec(1.0f, -1.0f, 0.5f, 0.0f), 0.8f, vec(0.5f, -1.0f, 0.25f));
    dgCollisionBox* shape = makeBox(half, offset);
    ASSERT_NE(shape, nullptr);
    int hits = 0;
    for (int i = 0; i < 300; ++i) {
        const dgMatrix bodyMatrix = randomRigid(rng);
        PlacedBody t(shape, bodyMatrix);
        dgBodyUpdateCollisionMatrix(&t.body, 0.0f);
        const dgVector centre = t.body.m_collisionMatrix.position;
        const dgVector dir = vec(u(rng), u(rng), u(rng), 0.0f);
        if (dir.dot(dir) < 0.01f) {
            continue;
        }
        const dgVector p0 = centre + dir.scale(10.0f / std::sqrt(dir.dot(dir)));
        const dgVector p1 = centre + vec(u(rng), u(rng), u(rng), 0.0f) - (p0 - centre);

        g_filter = FilterLog();
        const float result = dgBodyRayCast(&t.body, p0, p1, recordingFilter, nullptr, nullptr, 1.2f);
        if (g_filter.calls == 0) {
            EXPECT_EQ(result, 1.2f);
            continue;
        }
        ++hits;
        // Hit point and normal taken back through the body, then the offset.
        const dgVector hit = p0 + (p1 - p0).scale(g_filter.t);
        const dgVector local = offset.inverseTransformVector(bodyMatrix.inverseTransformVector(hit));
        const dgVector worldNormal = vec(g_filter.normal[0], g_filter.normal[1], g_filter.normal[2], 0.0f);
        const dgVector localNormal = offset.inverseRotateVector(bodyMatrix.inverseRotateVector(worldNormal));
        int face = 0;
        for (int k = 1; k < 3; ++k) {
            if (std::fabs(localNormal[k]) > std::fabs(localNormal[face])) {
                face = k;
            }
        }
        EXPECT_NEAR(std::fabs(localNormal[face]), 1.0f, 1e-4f);
        EXPECT_NEAR(local[face], localNormal[face] > 0.0f ? half[face] : -half[face], 1e-3f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(std::fabs(local[k]), half[k] + 1e-3f);
        }
        // The normal faces the incoming ray.
        EXPECT_LT(worldNormal.dot(p1 - p0), 0.0f);
    }
    EXPECT_GT(hits, 100);
    shape->release();
}

TEST(BodyNextVelocities, PredictsWithoutTouchingTheBody) {
    ProbeBox* shape = new ProbeBox(vec(1.0f, 1.0f, 1.0f), dgGetIdentityMatrix());
    // Body x axis along world z: a torque about world z acts on Ixx.
    PlacedBody t(shape, frame(vec(0.0f, 0.0f, 1.0f, 0.0f), vec(0.0f, 1.0f, 0.0f, 0.0f),
                              vec(-1.0f, 0.0f, 0.0f, 0.0f), vec(1.0f, 2.0f, 3.0f)));
    t.body.m_veloc = vec(1.0f, 2.0f, 3.0f, 0.0f);
    t.body.m_omega = vec(0.5f, 0.0f, 0.0f, 0.0f);
    t.body.m_force = vec(0.0f, -20.0f, 4.0f, 0.0f);
    t.body.m_torque = vec(0.0f, 0.0f, 8.0f, 0.0f);
    t.body.m_mass = vec(2.0f, 4.0f, 8.0f, 4.0f);
    t.body.m_invMass = vec(0.5f, 0.25f, 0.125f, 0.25f);

    dgBody before;
    std::memcpy(static_cast<void*>(&before), &t.body, sizeof(dgBody));
    dgVector veloc, omega;
    dgBodyCalculateNextVelocities(&t.body, 0.25f, veloc, omega);
    EXPECT_EQ(std::memcmp(static_cast<void*>(&before), &t.body, sizeof(dgBody)), 0);

    expectVecNear(veloc, vec(1.0f, 2.0f - 1.25f, 3.0f + 0.25f), 1e-6f);
    // 8 / Ixx(2) = 4 about world z, for a quarter second.
    expectVecNear(omega, vec(0.5f, 0.0f, 1.0f), 1e-5f);
    shape->release();
}

namespace {

int32_t noPlane(uint32_t, void*, const dgMatrix&, dgPlane&) {
    return 0;
}

}  // namespace

TEST(BodyBuoyancy, AddsDisplacedWeightAndBoundedDrag) {
    ProbeBox* shape = new ProbeBox(vec(1.0f, 1.0f, 1.0f), dgGetIdentityMatrix());
    // 0.5 of volume submerged, centroid 1 unit along +x of the centre of mass.
    shape->m_submerged = dgVector(3.0f, 2.0f, 0.0f, 0.5f);
    PlacedBody t(shape, rigid(vec(0.0f, 0.0f, 1.0f, 0.0f), 0.3f, vec(2.0f, 2.0f, 0.0f)));
    dgBodyUpdateCollisionMatrix(&t.body, 0.0f);
    t.body.m_mass = vec(1.0f, 1.0f, 1.0f, 5.0f);
    t.body.m_globalCentreOfMass = vec(2.0f, 2.0f, 0.0f);
    int context = 0;
    const dgVector gravity = vec(0.0f, -10.0f, 0.0f, 0.0f);

    struct Case {
        dgVector veloc;
        dgVector omega;
        float linearViscosity;
        float angularViscosity;
        float kv;
        float kw;
    };
    const Case cases[] = {
        // Slow: both factors at their lower bounds.
        {vec(0.1f, 0.0f, 0.0f, 0.0f), vec(0.0f, 0.0f, 0.1f, 0.0f), 0.01f, 0.01f, 1.0f, 0.25f},
        // In range: |v|^2 0.25 * 0.2 * 100 = 5, |w|^2 0.01 * 0.1 * 1000 = 1.
        {vec(0.0f, 0.5f, 0.0f, 0.0f), vec(0.1f, 0.0f, 0.0f, 0.0f), 0.2f, 0.1f, 5.0f, 1.0f},
        // Fast: both at their upper bounds.
        {vec(0.0f, 0.0f, 30.0f, 0.0f), vec(0.0f, 9.0f, 0.0f, 0.0f), 1.0f, 1.0f, 10.0f, 2.0f},
    };
    for (const Case& c : cases) {
        t.body.m_veloc = c.veloc;
        t.body.m_omega = c.omega;
        t.body.m_force = vec(1.0f, 0.0f, 0.0f, 0.0f);
        t.body.m_torque = vec(0.0f, 1.0f, 0.0f, 0.0f);
        dgBodyAccumulateBuoyancy(&t.body, 2.0f, c.linearViscosity, c.angularViscosity, gravity, noPlane,
                                 &context);
        // Lift = 0.5 * 2 * 10 = 10 up; arm (1, 0, 0) x (0, 10, 0) = (0, 0, 10).
        expectVecNear(t.body.m_force, vec(1.0f, 10.0f, 0.0f) - c.veloc.scale(c.kv), 1e-4f);
        expectVecNear(t.body.m_torque, vec(0.0f, 1.0f, 10.0f) - c.omega.scale(c.kw), 1e-4f);
    }
    // The shape was asked under the collision matrix with the caller's plane.
    EXPECT_EQ(std::memcmp(&shape->m_submergedMatrix, &t.body.m_collisionMatrix, sizeof(dgMatrix)), 0);
    EXPECT_EQ(shape->m_submergedCallback, &noPlane);
    EXPECT_EQ(shape->m_submergedContext, &context);

    // Too light, or too little under water: nothing changes.
    t.body.m_force = vec(0.0f, 0.0f, 0.0f, 0.0f);
    t.body.m_torque = vec(0.0f, 0.0f, 0.0f, 0.0f);
    t.body.m_mass.w = 0.01f;
    dgBodyAccumulateBuoyancy(&t.body, 2.0f, 1.0f, 1.0f, gravity, noPlane, &context);
    t.body.m_mass.w = 5.0f;
    shape->m_submerged.w = 0.0001f;
    dgBodyAccumulateBuoyancy(&t.body, 2.0f, 1.0f, 1.0f, gravity, noPlane, &context);
    expectVecNear(t.body.m_force, vec(0.0f, 0.0f, 0.0f), 0.0f);
    expectVecNear(t.body.m_torque, vec(0.0f, 0.0f, 0.0f), 0.0f);
    shape->release();
}

TEST(BodyMemory, OperationsAllocateNothingAndShapesGoBack) {
    {
        // Warm up the block cache's own bookkeeping for this size.
        ProbeBox* warm = new ProbeBox(vec(1.0f, 1.0f, 1.0f), dgGetIdentityMatrix());
        warm->release();
    }
    MemoryBalance hooks;
    {
        ProbeBox* shape =
            new ProbeBox(vec(1.0f, 2.0f, 3.0f), rigid(vec(1.0f, 1.0f, 0.0f, 0.0f), 0.4f, vec(1, 2, 3)));
        ASSERT_NE(shape, nullptr);
        const int64_t afterShape = hooks.allocCalls();
        PlacedBody t(shape, rigid(vec(0.0f, 1.0f, 1.0f, 0.0f), 1.0f, vec(0.0f, 0.0f, 0.0f)));
        t.body.m_flags = dgBodyFlagContinuous;
        t.body.m_veloc = vec(100.0f, 0.0f, 0.0f, 0.0f);
        dgBodySetMatrixInternal(&t.body, t.body.m_matrix);
        dgBodyRayCast(&t.body, vec(10.0f, 0.0f, 0.0f), vec(-10.0f, 0.0f, 0.0f), recordingFilter, nullptr,
                      nullptr, 1.2f);
        dgVector v, w;
        dgBodyCalculateNextVelocities(&t.body, 0.1f, v, w);
        t.body.m_mass.w = 1.0f;
        shape->m_submerged = vec(0.0f, 0.0f, 0.0f, 1.0f);
        dgBodyAccumulateBuoyancy(&t.body, 1.0f, 0.1f, 0.1f, vec(0.0f, -9.8f, 0.0f, 0.0f), nullptr, nullptr);
        EXPECT_EQ(hooks.allocCalls(), afterShape);
        shape->release();
    }
}
