#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionBox.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionNull.h"
#include "dgCompoundCollision.h"
#include "dgQuaternion.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> ConvexHolder;
typedef dgRefHolder<dgCollisionConvexModifier> ModifierHolder;

ConvexHolder makeBox(float dx, float dy, float dz, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[3] = {std::fabs(dx) * 0.5f, std::fabs(dy) * 0.5f, std::fabs(dz) * 0.5f};
    return ConvexHolder::adopt(
        new dgCollisionBox(dgShapeSignature(dgShapeBox, dims, 3, offset), dx, dy, dz, offset));
}

ModifierHolder makeModifier(dgConvexCollision* wrapped, const dgMatrix& m, dgWorld* world = nullptr) {
    ModifierHolder modifier = ModifierHolder::adopt(new dgCollisionConvexModifier(wrapped, world));
    modifier->setModifierMatrix(m);
    return modifier;
}

dgMatrix scaling(float x, float y, float z) {
    dgMatrix m(dgGetIdentityMatrix());
    m.front.x = x;
    m.up.y = y;
    m.right.z = z;
    return m;
}

// Scale, then shear, then a turn and a shift: a general orientation-keeping
// affine map.
dgMatrix randomAffine(std::mt19937& rng) {
    std::uniform_real_distribution<float> s(0.5f, 2.0f);
    std::uniform_real_distribution<float> h(-0.6f, 0.6f);
    dgMatrix shear(dgGetIdentityMatrix());
    shear.front.y = h(rng);
    shear.front.z = h(rng);
    shear.up.z = h(rng);
    return scaling(s(rng), s(rng), s(rng)).multiply(shear).multiply(randomPose(rng, 2.0f));
}

double det3(const dgMatrix& m) {
    const double a = m[0][0], b = m[0][1], c = m[0][2];
    const double d = m[1][0], e = m[1][1], f = m[1][2];
    const double g = m[2][0], h = m[2][1], i = m[2][2];
    return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
}

struct FaceVertices {
    std::vector<dgVector> points;
};

void collectFaces(const dgBody* body, int32_t count, const float* v, int32_t) {
    FaceVertices* out = static_cast<FaceVertices*>(body->m_userData);
    for (int32_t i = 0; i < count; i++) {
        out->points.push_back(dgVector(v[3 * i], v[3 * i + 1], v[3 * i + 2], 1.0f));
    }
}

std::vector<dgVector> walk(const dgCollision& shape) {
    FaceVertices faces;
    dgBody body;
    body.clear();
    body.m_matrix = dgGetIdentityMatrix();
    body.m_userData = &faces;
    body.m_collision = const_cast<dgCollision*>(&shape);
    shape.forEachPolygon(&body, collectFaces);
    EXPECT_EQ(body.m_collision, &shape);
    return faces.points;
}

const dgCollision* g_seenOwner = nullptr;
void recordOwner(const dgBody* body, int32_t, const float*, int32_t) {
    g_seenOwner = body->m_collision;
}

// World plane for the submerged volume, passed as the context.
int32_t givenPlane(uint32_t, void* context, const dgMatrix&, dgPlane& plane) {
    plane = *static_cast<const dgPlane*>(context);
    return 1;
}

}  // namespace

TEST(ConvexModifier, ConstructionHoldsTheWrappedShapeAndTheIdentity) {
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f);
    box->setUserId(0xCAFEu);
    ModifierHolder modifier = ModifierHolder::adopt(new dgCollisionConvexModifier(box.get(), nullptr));
    EXPECT_EQ(modifier->getUserId(), 0xCAFEu);
    EXPECT_EQ(modifier->getVolumeScale(), 1.0f);
    const dgMatrix stored(modifier->getModifierMatrix());
    EXPECT_EQ(std::memcmp(&stored, &dgGetIdentityMatrix(), sizeof(dgMatrix)), 0);
    EXPECT_EQ(modifier->getVertices(), nullptr);
    EXPECT_EQ(box->getRefCount(), 2);
    modifier.reset();
    EXPECT_EQ(box->getRefCount(), 1);
}

TEST(ConvexModifier, IdentityAnswersAsTheWrappedShapeWithoutItsOffset) {
    ConvexHolder box = makeBox(1.0f, 2.0f, 3.0f, translation(5.0f, 0.0f, 0.0f));
    ModifierHolder modifier = makeModifier(box.get(), dgGetIdentityMatrix());
    const dgMatrix matrix(translation(1.0f, 1.0f, 1.0f));
    dgVector boxMin, boxMax;
    modifier->calcAABB(matrix, boxMin, boxMax);
    EXPECT_FLOAT_EQ(boxMin.x, 0.5f);
    EXPECT_FLOAT_EQ(boxMax.x, 1.5f);
    EXPECT_FLOAT_EQ(boxMax.z, 2.5f);
    EXPECT_FLOAT_EQ(modifier->getVolume(), box->getVolume());
    const dgVector s(modifier->supportVertex(dgVector(0.3f, -0.4f, 0.5f, 0.0f)));
    EXPECT_FLOAT_EQ(s.x, 0.5f);
    EXPECT_FLOAT_EQ(s.y, -1.0f);
    EXPECT_FLOAT_EQ(s.z, 1.5f);
    dgContactPoint a, b;
    const dgVector p0(-3.0f, 0.2f, 0.1f, 1.0f), p1(3.0f, 0.2f, 0.1f, 1.0f);
    EXPECT_EQ(modifier->rayCast(p0, p1, a, nullptr, nullptr, nullptr),
              box->rayCast(p0, p1, b, nullptr, nullptr, nullptr));
}

TEST(ConvexModifier, StretchAlongXDoublesVolumeBoundsAndSupport) {
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f);
    ModifierHolder modifier = makeModifier(box.get(), scaling(2.0f, 1.0f, 1.0f));
    EXPECT_FLOAT_EQ(modifier->getVolumeScale(), 2.0f);
    EXPECT_NEAR(modifier->getVolume(), 2.0f, 1.0e-5f);
    dgVector boxMin, boxMax;
    modifier->calcAABB(dgGetIdentityMatrix(), boxMin, boxMax);
    EXPECT_FLOAT_EQ(boxMin.x, -1.0f);
    EXPECT_FLOAT_EQ(boxMax.x, 1.0f);
    EXPECT_FLOAT_EQ(boxMax.y, 0.5f);
    EXPECT_FLOAT_EQ(modifier->supportVertex(dgVector(1.0f, 0.0f, 0.0f, 0.0f)).x, 1.0f);
    // A stretched shape keeps the geometric ray parameter.
    dgContactPoint contact;
    const float t = modifier->rayCast(dgVector(-3.0f, 0.1f, 0.0f, 1.0f), dgVector(3.0f, 0.1f, 0.0f, 1.0f),
                                      contact, nullptr, nullptr, nullptr);
    EXPECT_NEAR(t, 2.0f / 6.0f, 1.0e-6f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1.0e-6f);
}

TEST(ConvexModifier, InverseAndDeterminantMatchTheMatrix) {
    std::mt19937 rng(3);
    for (int32_t trial = 0; trial < 200; trial++) {
        const dgMatrix m(randomAffine(rng));
        dgMatrix inverse;
        float det = 0.0f;
        ASSERT_TRUE(dgCollisionConvexModifier::invertAffine(m, inverse, det));
        EXPECT_NEAR(det, det3(m), 1.0e-4 * std::fabs(det3(m)));
        const dgMatrix product(m.multiply(inverse));
        for (int32_t i = 0; i < 4; i++) {
            for (int32_t j = 0; j < 4; j++) {
                EXPECT_NEAR(product[i][j], (i == j) ? 1.0f : 0.0f, 5.0e-5f);
            }
        }
    }
    // No usable pivot in the first place: rows are combined, not swapped.
    dgMatrix turned(dgGetIdentityMatrix());
    turned.front = dgVector(0.0f, 2.0f, 0.0f, 0.0f);
    turned.up = dgVector(-1.0f, 0.0f, 0.0f, 0.0f);
    turned.position = dgVector(1.0f, 2.0f, 3.0f, 1.0f);
    dgMatrix inverse;
    float det = 0.0f;
    ASSERT_TRUE(dgCollisionConvexModifier::invertAffine(turned, inverse, det));
    EXPECT_FLOAT_EQ(det, 2.0f);
    const dgMatrix product(turned.multiply(inverse));
    for (int32_t i = 0; i < 4; i++) {
        for (int32_t j = 0; j < 4; j++) {
            EXPECT_NEAR(product[i][j], (i == j) ? 1.0f : 0.0f, 1.0e-6f);
        }
    }
}

TEST(ConvexModifier, SingularMirroringOrNonAffineMatricesAreHandled) {
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f);
    ModifierHolder modifier = makeModifier(box.get(), scaling(2.0f, 1.0f, 1.0f));
    // Any map with one axis turned back (negative determinant) is refused:
    // the previous matrix, its determinant and a positive volume stay.
    std::mt19937 rng(9);
    for (int32_t trial = 0; trial < 200; trial++) {
        dgMatrix mirrored(randomAffine(rng));
        mirrored[trial % 3] = mirrored[trial % 3].scale(-1.0f);
        ASSERT_LT(det3(mirrored), 0.0);
        const dgMatrix before(modifier->getModifierMatrix());
        modifier->setModifierMatrix(mirrored);
        const dgMatrix after(modifier->getModifierMatrix());
        EXPECT_EQ(std::memcmp(&after, &before, sizeof(dgMatrix)), 0) << "trial " << trial;
        EXPECT_FLOAT_EQ(modifier->getVolumeScale(), 2.0f);
        EXPECT_NEAR(modifier->getVolume(), 2.0f, 1.0e-5f);
    }
    dgMatrix flat(scaling(1.0f, 0.0f, 1.0f));
    modifier->setModifierMatrix(flat);
    EXPECT_FLOAT_EQ(modifier->getModifierMatrix().front.x, 2.0f);
    EXPECT_FLOAT_EQ(modifier->getVolumeScale(), 2.0f);
    dgMatrix broken(dgGetIdentityMatrix());
    broken.up.y = std::nanf("");
    modifier->setModifierMatrix(broken);
    EXPECT_FLOAT_EQ(modifier->getVolumeScale(), 2.0f);

    // The w column is not part of an affine deformation.
    dgMatrix projective(scaling(3.0f, 1.0f, 1.0f));
    projective.front.w = 0.5f;
    projective.position.w = 2.0f;
    modifier->setModifierMatrix(projective);
    const dgMatrix stored(modifier->getModifierMatrix());
    EXPECT_EQ(stored.front.w, 0.0f);
    EXPECT_EQ(stored.position.w, 1.0f);
    EXPECT_FLOAT_EQ(modifier->getVolumeScale(), 3.0f);

    // A zero direction reaches the wrapped shape as zero, not as NaN.
    const dgVector s(modifier->supportVertex(dgVector(0.0f, 0.0f, 0.0f, 0.0f)));
    EXPECT_TRUE(std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z));
}

TEST(ConvexModifier, PolygonWalkPlacesByTheMatrixAndRestoresTheWrappedShape) {
    const dgMatrix offset(translation(9.0f, 0.0f, 0.0f));
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f, offset);
    const dgMatrix m(scaling(2.0f, 3.0f, 4.0f).multiply(translation(1.0f, 0.0f, 0.0f)));
    ModifierHolder modifier = makeModifier(box.get(), m);
    const std::vector<dgVector> points(walk(*modifier));
    ASSERT_EQ(points.size(), 24u);
    for (const dgVector& p : points) {
        EXPECT_FLOAT_EQ(std::fabs(p.x - 1.0f), 1.0f);
        EXPECT_FLOAT_EQ(std::fabs(p.y), 1.5f);
        EXPECT_FLOAT_EQ(std::fabs(p.z), 2.0f);
    }
    EXPECT_EQ(std::memcmp(&box->getOffsetMatrix(), &offset, sizeof(dgMatrix)), 0);
    EXPECT_TRUE(box->hasOffset());

    ConvexHolder plain = makeBox(1.0f, 1.0f, 1.0f);
    ModifierHolder other = makeModifier(plain.get(), m);
    dgBody body;
    body.clear();
    body.m_matrix = dgGetIdentityMatrix();
    body.m_collision = other.get();
    other->forEachPolygon(&body, recordOwner);
    EXPECT_EQ(g_seenOwner, plain.get());
    EXPECT_EQ(body.m_collision, other.get());
    EXPECT_FALSE(plain->hasOffset());
    EXPECT_EQ(std::memcmp(&plain->getOffsetMatrix(), &dgGetIdentityMatrix(), sizeof(dgMatrix)), 0);
}

TEST(ConvexModifier, NestedModifiersComposeInnerFirst) {
    std::mt19937 rng(71);
    ConvexHolder box = makeBox(1.0f, 2.0f, 3.0f);
    for (int32_t trial = 0; trial < 10; trial++) {
        const dgMatrix inner(randomAffine(rng));
        const dgMatrix outer(randomAffine(rng));
        ModifierHolder first = makeModifier(box.get(), inner);
        ModifierHolder nested = makeModifier(first.get(), outer);
        ModifierHolder single = makeModifier(box.get(), inner.multiply(outer));

        EXPECT_NEAR(nested->getVolume(), single->getVolume(), 1.0e-4f * single->getVolume());
        dgVector i0, o0, i1, o1;
        nested->calcInertia(i0, o0);
        single->calcInertia(i1, o1);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(i0[j], i1[j], 1.0e-3f * (1.0f + std::fabs(i1[j])));
            EXPECT_NEAR(o0[j], o1[j], 1.0e-3f * (1.0f + std::fabs(o1[j])));
        }
        const std::vector<dgVector> a(walk(*nested)), b(walk(*single));
        ASSERT_EQ(a.size(), b.size());
        for (size_t k = 0; k < a.size(); k++) {
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_NEAR(a[k][j], b[k][j], 1.0e-4f * (1.0f + std::fabs(b[k][j])));
            }
        }
        // The inner modifier is itself restored after lending its offset.
        EXPECT_FALSE(first->hasOffset());

        const dgMatrix matrix(randomPose(rng, 3.0f));
        dgVector min0, max0, min1, max1;
        nested->calcAABB(matrix, min0, max0);
        single->calcAABB(matrix, min1, max1);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(min0[j], min1[j], 1.0e-4f * (1.0f + std::fabs(min1[j])));
            EXPECT_NEAR(max0[j], max1[j], 1.0e-4f * (1.0f + std::fabs(max1[j])));
        }
        dgPlane plane(0.0f, 1.0f, 0.0f, -matrix.transformVector(single->getModifierMatrix().position).y);
        const dgVector s0(nested->calcSubmergedVolume(matrix, givenPlane, &plane));
        const dgVector s1(single->calcSubmergedVolume(matrix, givenPlane, &plane));
        for (int32_t j = 0; j < 4; j++) {
            EXPECT_NEAR(s0[j], s1[j], 2.0e-3f * (1.0f + std::fabs(s1[j])));
        }
        const dgVector centre(single->getModifierMatrix().position);
        for (int32_t k = 0; k < 20; k++) {
            const dgVector p0(centre + randomUnit(rng).scale(10.0f));
            const dgVector p1(centre + randomUnit(rng).scale(0.05f));
            dgContactPoint c0, c1;
            const float t0 = nested->rayCast(p0, p1, c0, nullptr, nullptr, nullptr);
            const float t1 = single->rayCast(p0, p1, c1, nullptr, nullptr, nullptr);
            ASSERT_LE(t1, 1.0f);
            EXPECT_NEAR(t0, t1, 1.0e-4f);
            EXPECT_NEAR(c0.normal % c1.normal, 1.0f, 1.0e-3f);
        }
    }
}

TEST(ConvexModifier, FactoryAcceptsOnlyConvexShapesOtherThanTheNullShape) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f);
    dgRefHolder<dgCollisionNull> null = dgRefHolder<dgCollisionNull>::adopt(new dgCollisionNull(0u));
    dgCollision* children[1] = {box.get()};
    dgRefHolder<dgCompoundCollision> compound =
        dgRefHolder<dgCompoundCollision>::adopt(new dgCompoundCollision(1, children, nullptr));
    EXPECT_EQ(dgWorldCreateConvexModifier(world, nullptr), nullptr);
    EXPECT_EQ(dgWorldCreateConvexModifier(world, null.get()), nullptr);
    EXPECT_EQ(dgWorldCreateConvexModifier(world, compound.get()), nullptr);

    dgCollision* modifier = dgWorldCreateConvexModifier(world, box.get());
    ASSERT_NE(modifier, nullptr);
    EXPECT_TRUE(modifier->isClass(dgCollisionConvexModifier::kClassId));
    EXPECT_EQ(static_cast<dgCollisionConvexModifier*>(modifier)->getWorld(), world);
    EXPECT_EQ(box->getRefCount(), 3);
    // A modifier wraps another modifier.
    dgCollision* outer = dgWorldCreateConvexModifier(world, modifier);
    ASSERT_NE(outer, nullptr);
    dgWorldReleaseCollision(world, modifier);
    EXPECT_EQ(box->getRefCount(), 3);
    dgWorldReleaseCollision(world, outer);
    EXPECT_EQ(box->getRefCount(), 2);
    compound.reset();
    EXPECT_EQ(box->getRefCount(), 1);
    dgWorldDestroy(world);
}
