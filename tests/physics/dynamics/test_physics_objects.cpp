// Every object of the public header, made, used and let go the way a game
// does it, one table row each: a world, each collision kind, bodies,
// material groups and a stepped scene. Made twice on a world under counting
// hooks, the second time must give every block back. Includes dgPhysics.h and
// nothing else of the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "FlatCountingHooks.h"
#include "dgPhysics.h"

namespace {

using namespace flatcounting;

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const float kMoved[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0.5f, -1, 2, 1};

// A shape's life: weighed, bounded, cast at and collided with a box, then
// released.
void use(dgWorld* world, dgCollision* shape) {
    ASSERT_NE(shape, nullptr);
    float inertia[3], origin[3], lo[3], hi[3], normal[3];
    dgConvexCollisionCalculateVolume(shape);
    dgConvexCollisionCalculateInertialMatrix(shape, inertia, origin);
    dgCollisionCalculateAABB(shape, kMoved, lo, hi);
    const float p0[3] = {-5, 0.1f, 0.2f};
    const float p1[3] = {5, 0.1f, 0.2f};
    int32_t attribute = 0;
    dgCollisionRayCast(shape, p0, p1, normal, &attribute);
    dgCollision* box = dgCreateBox(world, 1, 1, 1, nullptr);
    float points[3 * 8], normals[3 * 8], depths[8];
    dgCollisionCollide(world, 8, box, kMoved, shape, kIdentity, points, normals, depths);
    dgReleaseCollision(world, box);
    dgReleaseCollision(world, shape);
}

// A tree of a 4 x 4 grid of cells, two triangles each.
void build(dgCollision* tree) {
    dgTreeCollisionBeginBuild(tree);
    for (int32_t j = 0; j < 4; j++) {
        for (int32_t i = 0; i < 4; i++) {
            const float x0 = float(i), x1 = float(i + 1), z0 = float(j), z1 = float(j + 1);
            const float a[9] = {x0, 0, z0, x0, 0, z1, x1, 0, z1};
            const float b[9] = {x0, 0, z0, x1, 0.2f, z1, x1, 0, z0};
            dgTreeCollisionAddFace(tree, 3, a, 12, 1);
            dgTreeCollisionAddFace(tree, 3, b, 12, 2);
        }
    }
    dgTreeCollisionEndBuild(tree, 1);
}

int32_t g_userMeshesDestroyed = 0;

void gravity(dgBody* body) {
    const float force[3] = {0.0f, -9.8f, 0.0f};
    dgBodyAddForce(body, force);
}

struct ObjectCase {
    const char* name;
    void (*life)(dgWorld* world);
};

const ObjectCase kObjects[] = {
    {"World", [](dgWorld*) {}},
    {"Null", [](dgWorld* w) { use(w, dgCreateNull(w)); }},
    {"Box",
     [](dgWorld* w) {
         // Equal requests share one shape: two references, two releases.
         dgCollision* a = dgCreateBox(w, 1, 2, 3, kMoved);
         EXPECT_EQ(dgCreateBox(w, 1, 2, 3, kMoved), a);
         dgReleaseCollision(w, a);
         use(w, a);
     }},
    {"Sphere", [](dgWorld* w) { use(w, dgCreateSphere(w, 1, 1, 1, kMoved)); }},
    {"Ellipse", [](dgWorld* w) { use(w, dgCreateSphere(w, 1, 2, 0.5f, nullptr)); }},
    {"Cone", [](dgWorld* w) { use(w, dgCreateCone(w, 1, 2, kMoved)); }},
    {"Capsule", [](dgWorld* w) { use(w, dgCreateCapsule(w, 0.5f, 3, nullptr)); }},
    {"Cylinder", [](dgWorld* w) { use(w, dgCreateCylinder(w, 1, 2, kMoved)); }},
    {"ChamferCylinder", [](dgWorld* w) { use(w, dgCreateChamferCylinder(w, 1, 0.5f, nullptr)); }},
    {"ConvexHull",
     [](dgWorld* w) {
         std::vector<float> points;
         for (int32_t i = 0; i < 60; i++) {
             const float a = 0.7f * float(i), y = float(i % 7) / 3.0f - 1.0f;
             points.insert(points.end(), {std::cos(a), y, std::sin(a)});
         }
         use(w, dgCreateConvexHull(w, 60, points.data(), 12, kMoved));
     }},
    {"ConvexModifier",
     [](dgWorld* w) {
         dgCollision* box = dgCreateBox(w, 1, 2, 3, nullptr);
         dgCollision* modifier = dgCreateConvexModifier(w, box);
         dgReleaseCollision(w, box);
         const float stretch[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1};
         dgConvexModifierSetMatrix(modifier, stretch);
         use(w, modifier);
     }},
    {"Compound",
     [](dgWorld* w) {
         dgCollision* parts[2] = {dgCreateBox(w, 1, 1, 1, kMoved),
                                  dgCreateSphere(w, 0.5f, 0.5f, 0.5f, nullptr)};
         dgCollision* compound = dgCreateCompoundCollision(w, 2, parts);
         dgReleaseCollision(w, parts[0]);
         dgReleaseCollision(w, parts[1]);
         use(w, compound);
     }},
    {"UserMesh",
     [](dgWorld* w) {
         const float lo[3] = {-2, 0, -2};
         const float hi[3] = {2, 0, 2};
         const int32_t before = g_userMeshesDestroyed;
         use(w, dgCreateUserMeshCollision(
                    w, lo, hi, nullptr, [](dgPolygonSoupCollideDesc*) {},
                    [](dgPolygonSoupRayDesc*) { return 2.0f; }, [](void*) { g_userMeshesDestroyed++; }));
         EXPECT_EQ(g_userMeshesDestroyed, before + 1);
     }},
    {"TreeCollision",
     [](dgWorld* w) {
         dgCollision* tree = dgCreateTreeCollision(w, nullptr);
         build(tree);
         build(tree);  // a rebuild lets the first tree go
         use(w, tree);
     }},
    {"TreeCollisionReadBack",
     [](dgWorld* w) {
         dgCollision* tree = dgCreateTreeCollision(w, nullptr);
         build(tree);
         std::vector<uint8_t> bytes;
         dgTreeCollisionSerialize(
             tree,
             [](void* out, const void* buffer, uint32_t size) {
                 const uint8_t* b = static_cast<const uint8_t*>(buffer);
                 static_cast<std::vector<uint8_t>*>(out)->insert(
                     static_cast<std::vector<uint8_t>*>(out)->end(), b, b + size);
             },
             &bytes);
         dgReleaseCollision(w, tree);
         struct Reader {
             const std::vector<uint8_t>* bytes;
             size_t at;
         } reader{&bytes, 0};
         use(w, dgCreateTreeCollisionFromSerialization(
                    w, nullptr,
                    [](void* user, void* buffer, uint32_t size) {
                        Reader& r = *static_cast<Reader*>(user);
                        const size_t n = std::min(size_t(size), r.bytes->size() - r.at);
                        std::copy(r.bytes->begin() + ptrdiff_t(r.at), r.bytes->begin() + ptrdiff_t(r.at + n),
                                  static_cast<uint8_t*>(buffer));
                        r.at += n;
                        return uint32_t(n);
                    },
                    &reader));
     }},
    {"ShapeLeftInTheCache",
     [](dgWorld* w) {
         // Released without a world: the cache keeps it until the world goes.
         dgReleaseCollision(nullptr, dgCreateBox(w, 4, 5, 6, nullptr));
     }},
    {"Bodies",
     [](dgWorld* w) {
         dgCollision* box = dgCreateBox(w, 1, 1, 1, nullptr);
         dgBody* destroyed = dgCreateBody(w, box);
         dgBody* kept = dgCreateBody(w, box);  // the world's destruction takes it
         dgReleaseCollision(w, box);
         dgBodySetMassMatrix(destroyed, 1, 1, 1, 1);
         dgBodySetMassMatrix(kept, 2, 1, 1, 1);
         dgDestroyBody(w, destroyed);
         EXPECT_NE(kept, nullptr);
     }},
    {"MaterialGroups",
     [](dgWorld* w) {
         const uint32_t a = dgMaterialCreateGroupId(w);
         const uint32_t b = dgMaterialCreateGroupId(w);
         dgMaterialSetDefaultFriction(w, a, b, 0.8f, 0.5f);
         dgMaterialSetDefaultElasticity(w, a, a, 0.3f);
         dgMaterialSetDefaultCollidable(w, b, b, 0);
         dgMaterialSetCollisionCallback(w, a, b, nullptr, nullptr, nullptr, nullptr);
         dgMaterialDestroyAllGroups(w);
         dgMaterialCreateGroupId(w);  // left for the world's destruction
     }},
    {"SteppedScene",
     [](dgWorld* w) {
         // Boxes dropped on a floor: contacts, islands and the solver's
         // workspace come and go.
         dgCollision* floor = dgCreateBox(w, 20, 1, 20, nullptr);
         dgCollision* box = dgCreateBox(w, 1, 1, 1, nullptr);
         dgCreateBody(w, floor);
         for (int32_t i = 0; i < 4; i++) {
             dgBody* body = dgCreateBody(w, box);
             const float place[16] = {
                 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.3f * float(i), 1.0f + 1.1f * float(i), 0, 1};
             dgBodySetMatrix(body, place);
             dgBodySetMassMatrix(body, 1, 1, 1, 1);
             dgBodySetForceAndTorqueCallback(body, gravity);
         }
         dgReleaseCollision(w, floor);
         dgReleaseCollision(w, box);
         for (int32_t step = 0; step < 60; step++) {
             dgWorldUpdate(w, 1.0f / 60.0f);
         }
         dgWorldDestroyAllBodies(w);
     }},
};

void PrintTo(const ObjectCase& object, std::ostream* os) {
    *os << object.name;
}

class PhysicsObjects : public ::testing::TestWithParam<ObjectCase> {};

}  // namespace

TEST_P(PhysicsObjects, GiveEveryBlockBack) {
    expectWorldBalance(GetParam().life);
}

INSTANTIATE_TEST_SUITE_P(PhysicsWorld, PhysicsObjects, ::testing::ValuesIn(kObjects),
                         [](const ::testing::TestParamInfo<ObjectCase>& info) {
                             return std::string(info.param.name);
                         });
