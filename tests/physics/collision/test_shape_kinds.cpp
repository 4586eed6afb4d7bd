// What every shape kind shares, one table row per kind: its place in the
// class hierarchy, the key the world's cache files it under, the tables it
// shares with the other shapes of its kind (built with the first, freed with
// the last, the same every time), its mass properties moved by an offset, a
// ray prefilter's veto, and every block back after a life of queries. What a
// convex kind's geometry must satisfy (support, rays, mass, walk, box,
// sections) is the shape properties' suite's (test_shape_properties.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
#include "dgCollisionPoint.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollision> ShapeHolder;
typedef std::vector<float> Dims;

// Builds the shape of `dims` placed by `offset`, filed under the key the
// world's factory gives it; `world` is the one a compound or a modifier
// releases through (may be null).
typedef dgCollision* (*Maker)(const Dims& dims, const dgMatrix& offset, dgWorld* world);

// Two sizes (the second placed by an offset) and whether the factory must
// give them one key.
struct KeyPair {
    Dims a;
    Dims b;
    dgMatrix offsetB;
    bool same;
};

// A key of another kind that must differ from the key of a shape of `own`.
struct ForeignKey {
    Dims own;
    dgShapeType type;
    Dims dims;
};

struct ShapeKind {
    const char* name = "";
    const char* className = "";
    dgShapeType type = dgShapeNull;
    Maker make = nullptr;
    Dims dims;   // a reference size
    Dims other;  // a second size sharing the kind's tables
    std::vector<uint32_t> is;
    std::vector<uint32_t> isNot;
    // Kinds that do not key by size carry one fixed key; the others list
    // sizes that keep or change it and keys of other kinds it must not take.
    bool fixedKey = false;
    uint32_t key = 0;
    bool keyComputed = true;  // false: the fixed key is not what calcSignature gives
    std::vector<KeyPair> keys;
    std::vector<ForeignKey> foreign;
    // The kind's shared tables (none for kinds without).
    int32_t (*liveCount)() = nullptr;
    const dgConvexEdge* (*edgeTable)() = nullptr;
    int32_t edgeCount = 0;
    std::map<int32_t, int32_t> faceSizes;  // face size -> count, when fixed
    const dgVector* (*vectorTable)() = nullptr;
    int32_t vectorCount = 0;
    // Whether the shape has a volume, and whether its own offset moves it.
    bool massive = true;
    bool offsetMoves = true;
    // Inertia tolerance of the turned copy, relative to the largest moment.
    float inertiaTolerance = 2e-4f;
    // Prefilter calls of one ray through the middle (negative: no ray test).
    int32_t prefilterCalls = 1;
    // Kind-specific work for the balance test, on the reference shape.
    void (*exercise)(dgCollision* shape, dgWorld* world) = nullptr;
};

void PrintTo(const ShapeKind& kind, std::ostream* os) {
    *os << kind.name;
}

uint32_t key(dgShapeType type, const float* dims, int32_t count, const dgMatrix& offset) {
    return dgShapeSignature(type, dims, count, offset);
}

dgCollision* makeBox(const Dims& d, const dgMatrix& offset, dgWorld*) {
    const float half[3] = {std::fabs(d[0]) * 0.5f, std::fabs(d[1]) * 0.5f, std::fabs(d[2]) * 0.5f};
    return new dgCollisionBox(key(dgShapeBox, half, 3, offset), d[0], d[1], d[2], offset);
}

dgCollision* makeSphere(const Dims& d, const dgMatrix& offset, dgWorld*) {
    return new dgCollisionSphere(key(dgShapeSphere, &d[0], 1, offset), d[0], offset);
}

dgCollision* makePoint(const Dims&, const dgMatrix&, dgWorld*) {
    return new dgCollisionPoint();
}

dgCollision* makeEllipse(const Dims& d, const dgMatrix& offset, dgWorld*) {
    const float radii[3] = {std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])};
    return new dgCollisionEllipse(key(dgShapeEllipse, radii, 3, offset), d[0], d[1], d[2], offset);
}

// Radius and height, keyed by |radius| and half the |height|.
template <typename Shape, dgShapeType kType>
dgCollision* makeRound(const Dims& d, const dgMatrix& offset, dgWorld*) {
    const float dims[2] = {std::fabs(d[0]), std::fabs(d[1]) * 0.5f};
    return new Shape(key(kType, dims, 2, offset), d[0], d[1], offset);
}

dgCollision* makeHull(const std::vector<float>& cloud, const dgMatrix& offset) {
    return new dgCollisionConvexHull(0x5eedu, int32_t(cloud.size() / 3), 3 * int32_t(sizeof(float)),
                                     cloud.data(), offset);
}

dgCollision* makeCubeHull(const Dims&, const dgMatrix& offset, dgWorld*) {
    std::vector<float> c;
    for (int32_t i = 0; i < 8; i++) {
        c.insert(c.end(), {(i & 1) ? -1.0f : 1.0f, (i & 2) ? -1.0f : 1.0f, (i & 4) ? -1.0f : 1.0f});
    }
    return makeHull(c, offset);
}

dgCollision* makeBallHull(const Dims&, const dgMatrix& offset, dgWorld*) {
    std::mt19937 rng(77);
    std::vector<float> c;
    while (c.size() < 3 * 500) {
        const dgVector p(randomUnit(rng));
        const float r = std::cbrt(std::uniform_real_distribution<float>(0.0f, 1.0f)(rng));
        c.insert(c.end(), {p.x * r, p.y * r, p.z * r});
    }
    return makeHull(c, offset);
}

dgCollision* makeSphereHull(const Dims&, const dgMatrix& offset, dgWorld*) {
    std::vector<float> c;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (int32_t i = 0; i < 700; i++) {
        const double y = 1.0 - (i + 0.5) * 2.0 / 700;
        const double r = std::sqrt(1.0 - y * y);
        c.insert(c.end(), {float(3.0 * r * std::cos(golden * i)), float(3.0 * y),
                           float(3.0 * r * std::sin(golden * i))});
    }
    return makeHull(c, offset);
}

// Flat clouds: four corners of a square, and 300 points of one.
dgCollision* makeSquareHull(const Dims&, const dgMatrix& offset, dgWorld*) {
    return makeHull({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, offset);
}

dgCollision* makeSlabHull(const Dims&, const dgMatrix& offset, dgWorld*) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> c;
    for (int32_t i = 0; i < 300; i++) {
        c.insert(c.end(), {u(rng), u(rng), 0.0f});
    }
    return makeHull(c, offset);
}

// A box of `dims` and a sphere beside it, released through `world`.
dgCollision* makeCompound(const Dims& d, const dgMatrix& offset, dgWorld* world) {
    ShapeHolder box = ShapeHolder::adopt(makeBox(d, offset, nullptr));
    ShapeHolder sphere = ShapeHolder::adopt(makeSphere({0.5f}, translation(-1.0f, 0.0f, 0.0f), nullptr));
    dgCollision* children[2] = {box.get(), sphere.get()};
    return new dgCompoundCollision(2, children, world);
}

// The identity around a box of `dims`: the box's offset is its own.
dgCollision* makeModifier(const Dims& d, const dgMatrix& offset, dgWorld* world) {
    ShapeHolder box = ShapeHolder::adopt(makeBox(d, offset, nullptr));
    return new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(box.get()), world);
}

dgCollision* makeNull(const Dims&, const dgMatrix&, dgWorld*) {
    return new dgCollisionNull(0xABCD1234u);
}

// Children added and removed past the first growth of the slot block.
void growAndShrink(dgCollision* shape, dgWorld*) {
    dgCompoundCollision* compound = static_cast<dgCompoundCollision*>(shape);
    dgCollision* a = compound->getChild(0);
    dgCollision* b = compound->getChild(1);
    for (int32_t i = 0; i < 40; i++) {
        compound->addChild((i & 1) ? a : b);
    }
    a->addRef();
    while (compound->removeChild(a)) {
    }
    a->release();
}

// A stretched modifier wrapped in another one, both from the world.
void wrapTwice(dgCollision* shape, dgWorld* world) {
    dgCollision* inner = dgWorldCreateConvexModifier(world, shape);
    dgCollision* outer = dgWorldCreateConvexModifier(world, inner);
    ASSERT_TRUE(inner && outer);
    dgMatrix stretch(dgGetIdentityMatrix());
    stretch.front = dgVector(2.0f, 0.0f, 0.0f, 0.0f);
    stretch.right = dgVector(0.0f, 0.0f, 0.5f, 0.0f);
    outer->setModifierMatrix(stretch);
    dgVector inertia, origin;
    outer->calcInertia(inertia, origin);
    dgContactPoint contact;
    outer->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr);
    dgWorldReleaseCollision(world, inner);
    dgWorldReleaseCollision(world, outer);
    EXPECT_EQ(shape->getRefCount(), 1);
}

ShapeKind kindOf(const char* name, const char* className, dgShapeType type, Maker make, const Dims& dims,
                 const Dims& other) {
    ShapeKind kind;
    kind.name = name;
    kind.className = className;
    kind.type = type;
    kind.make = make;
    kind.dims = dims;
    kind.other = other;
    return kind;
}

const uint32_t kConvex = dgConvexCollision::kClassId;
const uint32_t kCollision = dgCollision::kClassId;
const uint32_t kRef = dgRef::kClassId;
const dgMatrix kId = dgGetIdentityMatrix();

std::vector<ShapeKind> kinds() {
    std::vector<ShapeKind> k;
    {
        ShapeKind s = kindOf("Box", "dgCollisionBox", dgShapeBox, makeBox, {2, 2, 2}, {1, 2, 3});
        s.is = {dgCollisionBox::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionSphere::kClassId};
        // Sizes are halved and made positive before quantising.
        s.keys = {{{2, 2, 2}, {2.0008f, 2, 2}, kId, true},
                  {{2, 2, 2}, {-2, 2, -2}, kId, true},
                  {{2, 2, 2}, {2.002f, 2, 2}, kId, false},
                  {{2, 2, 2}, {2, 2, 2}, dgRotationMatrixZ(0.5f), false}};
        s.foreign = {{{2, 2, 2}, dgShapeSphere, {1}}};
        s.liveCount = dgCollisionBox::dgBoxLiveCount;
        s.edgeTable = dgCollisionBox::dgBoxEdgeTable;
        s.edgeCount = 24;
        s.faceSizes = {{4, 6}};
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("Sphere", "dgCollisionSphere", dgShapeSphere, makeSphere, {1}, {3});
        s.is = {dgCollisionSphere::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId, dgCollisionEllipse::kClassId};
        s.keys = {{{1}, {1.0004f}, kId, true}, {{1}, {1.001f}, kId, false}};
        s.liveCount = dgCollisionSphere::dgSphereLiveCount;
        s.edgeTable = dgCollisionSphere::dgSphereEdgeTable;
        s.edgeCount = 96;
        s.faceSizes = {{3, 32}};
        s.vectorTable = dgCollisionSphere::dgSphereUnitVertices;
        s.vectorCount = dgCollisionSphere::kVertexCount;
        // The walk's grid does not turn with the offset.
        s.inertiaTolerance = 3e-3f;
        k.push_back(s);
    }
    {
        // The world's contact point: a unit sphere without volume or extent.
        ShapeKind s = kindOf("Point", "dgCollisionSphere", dgShapeSphere, makePoint, {}, {});
        s.is = {dgCollisionSphere::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        s.fixedKey = true;
        s.key = 0x12344321u;
        s.keyComputed = false;
        s.liveCount = dgCollisionSphere::dgSphereLiveCount;
        s.edgeTable = dgCollisionSphere::dgSphereEdgeTable;
        s.edgeCount = 96;
        s.massive = false;
        k.push_back(s);
    }
    {
        ShapeKind s =
            kindOf("Ellipse", "dgCollisionEllipse", dgShapeEllipse, makeEllipse, {1, 2, 3}, {3, 1, 2});
        s.is = {dgCollisionEllipse::kClassId, dgCollisionSphere::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        s.keys = {{{1, 2, 3}, {1.0004f, 2, 3}, kId, true},
                  {{1, 2, 3}, {-1, 2, -3}, kId, true},
                  {{1, 2, 3}, {1.001f, 2, 3}, kId, false},
                  {{1, 2, 3}, {3, 2, 1}, kId, false}};
        // The type word tells a round ellipse from the sphere of that radius.
        s.foreign = {{{1, 1, 1}, dgShapeSphere, {1}}};
        s.liveCount = dgCollisionSphere::dgSphereLiveCount;
        s.edgeTable = dgCollisionSphere::dgSphereEdgeTable;
        s.edgeCount = 96;
        s.vectorTable = dgCollisionSphere::dgSphereUnitVertices;
        s.vectorCount = dgCollisionSphere::kVertexCount;
        s.inertiaTolerance = 3e-3f;
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("Cone", "dgCollisionCone", dgShapeCone, makeRound<dgCollisionCone, dgShapeCone>,
                             {1, 2}, {3, 1});
        s.is = {dgCollisionCone::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        s.keys = {{{1, 2}, {-1.0004f, 2}, kId, true},
                  {{1, 2}, {1.001f, 2}, kId, false},
                  {{1, 2}, {1, 2.002f}, kId, false},
                  {{1, 2}, {2, 1}, kId, false}};
        // The type word tells it from the cylinder of the same size.
        s.foreign = {{{1, 2}, dgShapeCylinder, {1, 1}}};
        s.liveCount = dgCollisionCone::dgConeLiveCount;
        s.edgeTable = dgCollisionCone::dgConeEdgeTable;
        s.edgeCount = dgCollisionCone::kEdgeCount;
        s.faceSizes = {{3, 8}, {8, 1}};
        s.inertiaTolerance = 2e-3f;
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("Capsule", "dgCollisionCapsule", dgShapeCapsule,
                             makeRound<dgCollisionCapsule, dgShapeCapsule>, {1, 4}, {0.2f, 1});
        s.is = {dgCollisionCapsule::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        // A length clamped to the minimum keeps the key of its requested
        // height.
        s.keys = {{{1, 4}, {-1.0004f, -4}, kId, true},
                  {{1, 4}, {1, 4.001f}, kId, true},
                  {{1, 4}, {1, 4.002f}, kId, false},
                  {{1, 4}, {1.001f, 4}, kId, false},
                  {{1, 1}, {1, 1.5f}, kId, false}};
        s.foreign = {{{1, 4}, dgShapeCylinder, {1, 2}}, {{1, 4}, dgShapeCone, {1, 2}}};
        s.liveCount = dgCollisionCapsule::dgCapsuleLiveCount;
        s.edgeTable = dgCollisionCapsule::dgCapsuleEdgeTable;
        s.edgeCount = dgCollisionCapsule::kEdgeCount;
        s.faceSizes = {{4, 42}, {6, 2}};
        s.inertiaTolerance = 2e-3f;
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("Cylinder", "dgCollisionCylinder", dgShapeCylinder,
                             makeRound<dgCollisionCylinder, dgShapeCylinder>, {1, 2}, {2, 3});
        s.is = {dgCollisionCylinder::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionSphere::kClassId, dgCollisionBox::kClassId,
                   dgCollisionChamferCylinder::kClassId};
        // Radius and height are not interchangeable.
        s.keys = {{{1, 2}, {-1, -2}, kId, true},
                  {{1, 2}, {1.0004f, 2}, kId, true},
                  {{1, 2}, {1.001f, 2}, kId, false},
                  {{1, 2}, {1, 2.002f}, kId, false},
                  {{2, 1}, {0.5f, 4}, kId, false}};
        s.liveCount = dgCollisionCylinder::dgCylinderLiveCount;
        s.edgeTable = dgCollisionCylinder::dgCylinderEdgeTable;
        s.edgeCount = 48;
        s.faceSizes = {{4, 8}, {8, 2}};
        k.push_back(s);
    }
    {
        ShapeKind s =
            kindOf("ChamferCylinder", "dgCollisionChamferCylinder", dgShapeChamferCylinder,
                   makeRound<dgCollisionChamferCylinder, dgShapeChamferCylinder>, {1, 0.5f}, {2, 0.2f});
        s.is = {dgCollisionChamferCylinder::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionCylinder::kClassId};
        // The clamped core radius (equal for 0.3 and 0.35) does not merge
        // keys the factory keeps apart.
        s.keys = {{{1, 0.5f}, {-1, -0.5f}, kId, true},
                  {{1, 0.5f}, {1.0004f, 0.5f}, kId, true},
                  {{1, 0.5f}, {1.001f, 0.5f}, kId, false},
                  {{0.3f, 1}, {0.35f, 1}, kId, false}};
        s.foreign = {{{1, 0.5f}, dgShapeCylinder, {1, 0.25f}}};
        s.liveCount = dgCollisionChamferCylinder::dgChamferCylinderLiveCount;
        s.edgeTable = dgCollisionChamferCylinder::dgChamferCylinderEdgeTable;
        s.edgeCount = 144;
        s.faceSizes = {{4, 32}, {8, 2}};
        s.vectorTable = dgCollisionChamferCylinder::dgChamferDirections;
        s.vectorCount = dgChamferCylinderTables::kDirectionCount;
        s.inertiaTolerance = 1e-3f;
        k.push_back(s);
    }
    const Maker hulls[5] = {makeCubeHull, makeBallHull, makeSphereHull, makeSquareHull, makeSlabHull};
    const char* hullNames[5] = {"HullOfACube", "HullOfABall", "HullOfASphere", "HullOfASquare",
                                "HullOfASlab"};
    for (int32_t i = 0; i < 5; i++) {
        ShapeKind s = kindOf(hullNames[i], "dgCollisionConvexHull", dgShapeConvexHull, hulls[i], {}, {});
        s.is = {dgCollisionConvexHull::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionSphere::kClassId};
        s.fixedKey = true;
        s.key = 0x5eedu;
        // Flat clouds give the empty hull: no mass, nothing for a ray.
        s.massive = (i < 3);
        s.prefilterCalls = (i < 3) ? 1 : -1;
        // A random cloud's tensor is not quite diagonal in its own axes.
        s.inertiaTolerance = (i == 1) ? 4e-3f : 2e-4f;
        k.push_back(s);
    }
    {
        ShapeKind s =
            kindOf("Compound", "dgCompoundCollision", dgShapeCompound, makeCompound, {1, 2, 3}, {2, 1, 1});
        s.is = {dgCompoundCollision::kClassId, kCollision, kRef};
        s.isNot = {kConvex};
        s.fixedKey = true;
        s.key = 0;
        s.offsetMoves = false;
        s.prefilterCalls = 2;  // asked once per child the ray reaches
        s.exercise = growAndShrink;
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("ConvexModifier", "dgCollisionConvexModifier", dgShapeConvexModifier,
                             makeModifier, {1, 2, 3}, {2, 1, 1});
        s.is = {dgCollisionConvexModifier::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        s.fixedKey = true;
        s.key = 0;
        s.offsetMoves = false;
        s.exercise = wrapTwice;
        k.push_back(s);
    }
    {
        ShapeKind s = kindOf("Null", "dgCollisionNull", dgShapeNull, makeNull, {}, {});
        s.is = {dgCollisionNull::kClassId, kConvex, kCollision, kRef};
        s.isNot = {dgCollisionBox::kClassId};
        s.fixedKey = true;
        s.key = 0xABCD1234u;
        s.massive = false;
        s.prefilterCalls = 0;  // nothing to hit, nothing to ask
        k.push_back(s);
    }
    return k;
}

class ShapeKinds : public ::testing::TestWithParam<ShapeKind> {
protected:
    ShapeHolder make(const Dims& dims, const dgMatrix& offset = kId, dgWorld* world = nullptr) const {
        return ShapeHolder::adopt(GetParam().make(dims, offset, world));
    }
};
// The same over the kinds with shared tables, with a mass their offset moves,
// and with something for a ray to reach.
class ShapeKindTables : public ShapeKinds {};
class ShapeKindMass : public ShapeKinds {};
class ShapeKindRays : public ShapeKinds {};

template <typename Keep>
std::vector<ShapeKind> kindsWhere(Keep keep) {
    std::vector<ShapeKind> out;
    for (const ShapeKind& kind : kinds()) {
        if (keep(kind)) {
            out.push_back(kind);
        }
    }
    return out;
}

std::string kindName(const ::testing::TestParamInfo<ShapeKind>& info) {
    return info.param.name;
}

// A horizontal fluid surface at y = 0.1.
int32_t fluidPlane(uint32_t, void*, const dgMatrix&, dgPlane& plane) {
    plane = dgPlane(0.0f, 1.0f, 0.0f, -0.1f);
    return 1;
}

}  // namespace

TEST_P(ShapeKinds, ClassIdentityAlongTheHierarchy) {
    const ShapeKind& kind = GetParam();
    ShapeHolder shape = make(kind.dims);
    EXPECT_EQ(shape->getClassId(), dgHashConstText(kind.className));
    EXPECT_EQ(shape->getShapeType(), uint32_t(kind.type));
    for (uint32_t id : kind.is) {
        EXPECT_TRUE(shape->isClass(id)) << std::hex << id;
    }
    for (uint32_t id : kind.isNot) {
        EXPECT_FALSE(shape->isClass(id)) << std::hex << id;
    }
    EXPECT_EQ(dgRefCast<dgCollision>(static_cast<dgRef*>(shape.get())), shape.get());
    EXPECT_EQ(shape->getRefCount(), 1);
    EXPECT_EQ(shape->getRefWord(), 257u);
    EXPECT_FALSE(shape->hasOffset());
    EXPECT_EQ(shape->getUserId(), 0u);
}

TEST_P(ShapeKinds, KeyIsTheOneTheFactoryFilesItUnder) {
    const ShapeKind& kind = GetParam();
    ShapeHolder reference = make(kind.dims);
    if (kind.fixedKey) {
        EXPECT_EQ(reference->getSignature(), kind.key);
        if (kind.keyComputed) {
            EXPECT_EQ(reference->calcSignature(), kind.key);
        }
        return;
    }
    EXPECT_EQ(reference->calcSignature(), reference->getSignature());
    // An offset always makes another key.
    ShapeHolder moved = make(kind.dims, translation(0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(moved->hasOffset());
    EXPECT_EQ(moved->calcSignature(), moved->getSignature());
    EXPECT_NE(moved->calcSignature(), reference->calcSignature());
    for (const KeyPair& pair : kind.keys) {
        ShapeHolder a = make(pair.a);
        ShapeHolder b = make(pair.b, pair.offsetB);
        SCOPED_TRACE(::testing::Message() << pair.a[0] << " against " << pair.b[0]);
        EXPECT_EQ(a->calcSignature(), a->getSignature());
        EXPECT_EQ(b->calcSignature(), b->getSignature());
        EXPECT_EQ(a->calcSignature() == b->calcSignature(), pair.same);
    }
    for (const ForeignKey& f : kind.foreign) {
        EXPECT_NE(make(f.own)->calcSignature(),
                  dgShapeSignature(f.type, f.dims.data(), int32_t(f.dims.size()), kId));
    }
}

TEST_P(ShapeKindTables, ComeWithTheFirstShapeAndGoWithTheLast) {
    const ShapeKind& kind = GetParam();
    ASSERT_EQ(kind.liveCount(), 0);
    EXPECT_EQ(kind.edgeTable(), nullptr);
    if (kind.vectorTable) {
        EXPECT_EQ(kind.vectorTable(), nullptr);
    }
    // The tables as indices and values, so that tables built at different
    // addresses compare equal.
    auto snapshot = [&kind]() {
        std::vector<int64_t> edges;
        snapshotEdges(kind.edgeTable(), kind.edgeCount, edges);
        std::vector<float> vectors;
        for (int32_t i = 0; i < kind.vectorCount; i++) {
            const dgVector& v = kind.vectorTable()[i];
            vectors.insert(vectors.end(), {v.x, v.y, v.z, v.w});
        }
        return std::make_pair(edges, vectors);
    };
    std::pair<std::vector<int64_t>, std::vector<float>> first;
    {
        ShapeHolder a = make(kind.dims);
        ShapeHolder b = make(kind.other);
        EXPECT_EQ(kind.liveCount(), 2);
        const dgConvexEdge* table = kind.edgeTable();
        ASSERT_NE(table, nullptr);
        const dgConvexCollision* convex = static_cast<const dgConvexCollision*>(b.get());
        EXPECT_EQ(static_cast<const dgConvexCollision*>(a.get())->getEdges(), table);
        EXPECT_EQ(convex->getEdges(), table);
        EXPECT_EQ(convex->getEdgeCount(), kind.edgeCount);
        // A closed half-edge structure, with the faces of the kind.
        std::map<int32_t, int32_t> faceSizes;
        std::vector<bool> seen(size_t(kind.edgeCount), false);
        for (int32_t i = 0; i < kind.edgeCount; i++) {
            const dgConvexEdge& e = table[i];
            EXPECT_EQ(e.m_twin->m_twin, &e);
            EXPECT_EQ(e.m_next->m_prev, &e);
            EXPECT_EQ(e.m_next->m_vertex, e.m_twin->m_vertex);
            if (!seen[size_t(i)]) {
                int32_t size = 0;
                const dgConvexEdge* f = &e;
                do {
                    seen[size_t(f - table)] = true;
                    size++;
                    f = f->m_next;
                } while ((f != &e) && (size <= kind.edgeCount));
                ASSERT_LE(size, kind.edgeCount);
                faceSizes[size]++;
            }
        }
        if (!kind.faceSizes.empty()) {
            EXPECT_EQ(faceSizes, kind.faceSizes);
        }
        // Entries run by destination, then origin: the contact code relies on
        // the order.
        for (int32_t i = 1; i < kind.edgeCount; i++) {
            const int64_t before = int64_t(table[i - 1].m_twin->m_vertex) * 65536 + table[i - 1].m_vertex;
            EXPECT_LT(before, int64_t(table[i].m_twin->m_vertex) * 65536 + table[i].m_vertex) << i;
        }
        first = snapshot();
    }
    EXPECT_EQ(kind.liveCount(), 0);
    EXPECT_EQ(kind.edgeTable(), nullptr);
    if (kind.vectorTable) {
        EXPECT_EQ(kind.vectorTable(), nullptr);
    }
    ShapeHolder again = make(kind.other);
    EXPECT_EQ(kind.liveCount(), 1);
    EXPECT_EQ(snapshot(), first);
}

// Turned and moved by its offset: the centre is placed by the offset, the
// volume and the shape's own centre stay, the diagonal of the turned inertia
// is I_jj = sum_i R_ij^2 I_i, and the second moments about the body origin
// add the squared distances of the centre.
TEST_P(ShapeKindMass, OffsetMassPropertiesFollowTheParallelAxisTheorem) {
    const ShapeKind& kind = GetParam();
    const dgMatrix offset(turned(0.3f, -0.5f, 0.9f, dgVector(1.0f, -2.0f, 0.5f, 1.0f)));
    // The second size: the reference box is a cube, whose axes a swap hides.
    ShapeHolder centred = make(kind.other);
    ShapeHolder moved = make(kind.other, offset);
    EXPECT_TRUE(moved->hasOffset());
    dgVector local, localOrigin, inertia, origin;
    centred->calcInertia(local, localOrigin);
    moved->calcInertia(inertia, origin);
    const dgVector centre(offset.transformVector(localOrigin));
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(origin[j], centre[j], 1e-4f);
    }
    EXPECT_NEAR(moved->getVolume(), centred->getVolume(), 1e-4f * centred->getVolume());
    const dgConvexCollision& convex = static_cast<const dgConvexCollision&>(*moved);
    const dgConvexCollision& plain = static_cast<const dgConvexCollision&>(*centred);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(convex.getCentreOfMass()[j], plain.getCentreOfMass()[j], 1e-5f);
    }
    const float scale = std::max(local.x, std::max(local.y, local.z));
    dgVector sums, products, moments;
    const float volume = convex.calcVolumeIntegrals(sums, products, moments);
    const dgVector& p = centre;
    const float distance2[3] = {p.y * p.y + p.z * p.z, p.x * p.x + p.z * p.z, p.x * p.x + p.y * p.y};
    for (int32_t j = 0; j < 3; j++) {
        const float expected = offset[0][j] * offset[0][j] * local.x + offset[1][j] * offset[1][j] * local.y +
                               offset[2][j] * offset[2][j] * local.z;
        EXPECT_NEAR(inertia[j], expected, kind.inertiaTolerance * scale) << j;
        EXPECT_NEAR(sums[j] / 3.0f / volume, inertia[j] + distance2[j], 2e-3f * (scale + distance2[j])) << j;
    }
}

TEST_P(ShapeKindRays, PrefilterVetoLeavesTheContactAlone) {
    const ShapeKind& kind = GetParam();
    ShapeHolder shape = make(kind.dims);
    dgContactPoint contact;
    std::memset(&contact, 0x5a, sizeof(contact));
    const dgContactPoint before(contact);
    int32_t calls = 0;
    EXPECT_EQ(shape->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, vetoAll, nullptr, &calls),
              dgCollision::kRayMiss);
    EXPECT_EQ(shape->rayCast(dgVector(0, 5, 0, 1), dgVector(0, -5, 0, 1), contact, vetoAll, nullptr, &calls),
              dgCollision::kRayMiss);
    EXPECT_EQ(calls, 2 * kind.prefilterCalls);
    EXPECT_EQ(std::memcmp(&contact, &before, sizeof(contact)), 0);
}

// Two shapes, one turned and moved, built, weighed, cast at, cut, sunk and
// walked, in a world that a compound or a modifier releases through, give
// every block back; the kind's tables go with them.
TEST_P(ShapeKinds, AllocationsBalance) {
    const ShapeKind& kind = GetParam();
    HookGuard guard;
    expectBalancedOnSecondRun([&] {
        dgAllocHook allocate;
        dgReleaseHook release;
        dgGetAllocatorHooks(&allocate, &release);
        dgWorld* world = dgWorldCreate(allocate, release);
        ASSERT_NE(world, nullptr);
        {
            ShapeHolder a = make(kind.dims, kId, world);
            ShapeHolder b = make(kind.other, turnedAndMoved(), world);
            for (dgCollision* shape : {a.get(), b.get()}) {
                dgVector inertia, origin;
                shape->calcInertia(inertia, origin);
                dgContactPoint contact;
                shape->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr,
                               nullptr);
                shape->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, nullptr);
                dgBody body(placedBody(turnedAndMoved()));
                shape->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) {});
                if (shape->isClass(dgConvexCollision::kClassId)) {
                    dgVector out[dgPlaneIntersectionMaxPoints];
                    static_cast<dgConvexCollision*>(shape)->calcPlaneIntersection(dgVector(0, 1, 0, 0),
                                                                                  dgVector(0, 0, 0, 1), out);
                }
            }
            if (kind.exercise) {
                kind.exercise(a.get(), world);
            }
        }
        dgWorldDestroy(world);
        if (kind.liveCount) {
            EXPECT_EQ(kind.liveCount(), 0);
            EXPECT_EQ(kind.edgeTable(), nullptr);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(AllKinds, ShapeKinds, ::testing::ValuesIn(kinds()), kindName);
INSTANTIATE_TEST_SUITE_P(AllKinds, ShapeKindTables, ::testing::ValuesIn(kindsWhere([](const ShapeKind& k) {
                             return k.liveCount != nullptr;
                         })),
                         kindName);
INSTANTIATE_TEST_SUITE_P(AllKinds, ShapeKindMass, ::testing::ValuesIn(kindsWhere([](const ShapeKind& k) {
                             return k.massive && k.offsetMoves;
                         })),
                         kindName);
INSTANTIATE_TEST_SUITE_P(AllKinds, ShapeKindRays, ::testing::ValuesIn(kindsWhere([](const ShapeKind& k) {
                             return k.prefilterCalls >= 0;
                         })),
                         kindName);
