// Volume, centre of mass and inertia of every shape kind, far from the origin
// and small, against an independent double-precision reference: the shape's
// own face walk cut into tetrahedra about one of its points. Also the limits:
// deformations and hulls whose mass properties no float can hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollision> ShapeHolder;

// ---- independent reference ----

struct Reference {
    bool anchored = false;
    double anchor[3] = {0, 0, 0};
    double volume = 0;
    double first[3] = {0, 0, 0};
    double second[3] = {0, 0, 0};
};

void referenceFace(const dgBody* body, int32_t count, const float* v, int32_t) {
    Reference& ref = *static_cast<Reference*>(body->m_userData);
    if (!ref.anchored) {
        for (int32_t j = 0; j < 3; j++) {
            ref.anchor[j] = v[j];
        }
        ref.anchored = true;
    }
    // A fan of tetrahedra from the anchor over the face's triangle fan.
    double p[3][3];
    for (int32_t j = 0; j < 3; j++) {
        p[0][j] = double(v[j]) - ref.anchor[j];
    }
    for (int32_t i = 1; i + 1 < count; i++) {
        for (int32_t j = 0; j < 3; j++) {
            p[1][j] = double(v[3 * i + j]) - ref.anchor[j];
            p[2][j] = double(v[3 * (i + 1) + j]) - ref.anchor[j];
        }
        addTetraMoments(p[0], p[1], p[2], ref.volume, ref.first, ref.second);
    }
}

struct Expected {
    double volume;
    double centre[3];
    double inertia[3];
};

Expected referenceOf(const dgCollision& shape) {
    Reference ref;
    dgBody body(placedBody(dgGetIdentityMatrix()));
    body.m_collisionMatrix = dgGetIdentityMatrix();
    body.m_userData = &ref;
    body.m_collision = const_cast<dgCollision*>(&shape);
    shape.forEachPolygon(&body, referenceFace);
    Expected e;
    e.volume = ref.volume;
    double c[3];
    for (int32_t j = 0; j < 3; j++) {
        c[j] = ref.first[j] / ref.volume;
        e.centre[j] = ref.anchor[j] + c[j];
    }
    for (int32_t j = 0; j < 3; j++) {
        const int32_t a = (j + 1) % 3, b = (j + 2) % 3;
        e.inertia[j] = (ref.second[a] + ref.second[b]) / ref.volume - (c[a] * c[a] + c[b] * c[b]);
    }
    return e;
}

// ---- random shapes of each kind ----

// A shape of size about `size` whose centre lies near `where`, turned at
// random.
typedef std::function<dgCollision*(std::mt19937&, float size, const dgVector& where)> ShapeMaker;

dgMatrix placed(std::mt19937& rng, const dgVector& where) {
    dgMatrix m(randomPose(rng, 1.0f));
    m.position = dgVector(where.x, where.y, where.z, 1.0f);
    return m;
}

float jitter(std::mt19937& rng, float size) {
    return size * std::uniform_real_distribution<float>(0.5f, 1.5f)(rng);
}

dgCollision* randomBox(std::mt19937& rng, float size, const dgVector& where) {
    const dgMatrix m(placed(rng, where));
    const float d[3] = {jitter(rng, size), jitter(rng, size), jitter(rng, size)};
    return new dgCollisionBox(dgShapeSignature(dgShapeBox, d, 3, m), d[0], d[1], d[2], m);
}

dgCollision* randomSphere(std::mt19937& rng, float size, const dgVector& where) {
    const dgMatrix m(placed(rng, where));
    const float r = 0.5f * jitter(rng, size);
    return new dgCollisionSphere(dgShapeSignature(dgShapeSphere, &r, 1, m), r, m);
}

dgCollision* randomEllipse(std::mt19937& rng, float size, const dgVector& where) {
    const dgMatrix m(placed(rng, where));
    const float r[3] = {0.5f * jitter(rng, size), 0.5f * jitter(rng, size), 0.5f * jitter(rng, size)};
    return new dgCollisionEllipse(dgShapeSignature(dgShapeEllipse, r, 3, m), r[0], r[1], r[2], m);
}

template <class Shape, uint32_t kType>
dgCollision* randomRound(std::mt19937& rng, float size, const dgVector& where) {
    const dgMatrix m(placed(rng, where));
    const float d[2] = {0.5f * jitter(rng, size), jitter(rng, size)};
    return new Shape(dgShapeSignature(kType, d, 2, m), d[0], d[1], m);
}

dgCollision* randomHull(std::mt19937& rng, float size, const dgVector& where) {
    // The points themselves lie far away: the hull's own frame is far from it.
    std::vector<float> cloud;
    for (int32_t i = 0; i < 24; i++) {
        const dgVector d(randomUnit(rng));
        const float r = 0.5f * jitter(rng, size);
        cloud.insert(cloud.end(), {where.x + d.x * r, where.y + d.y * r, where.z + d.z * r});
    }
    return new dgCollisionConvexHull(1u, 24, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix());
}

dgCollision* randomModifier(std::mt19937& rng, float size, const dgVector& where) {
    ShapeHolder inner = ShapeHolder::adopt((rng() & 1) ? randomBox(rng, size, dgVector(0, 0, 0, 1))
                                                       : randomSphere(rng, size, dgVector(0, 0, 0, 1)));
    std::uniform_real_distribution<float> s(0.5f, 2.0f);
    std::uniform_real_distribution<float> h(-0.5f, 0.5f);
    dgMatrix m(dgGetIdentityMatrix());
    m.front = dgVector(s(rng), h(rng), h(rng), 0.0f);
    m.up = dgVector(0.0f, s(rng), h(rng), 0.0f);
    m.right = dgVector(0.0f, 0.0f, s(rng), 0.0f);
    m = m.multiply(placed(rng, where));
    dgCollisionConvexModifier* modifier =
        new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(inner.get()), nullptr);
    modifier->setModifierMatrix(m);
    return modifier;
}

dgCollision* randomCompound(std::mt19937& rng, float size, const dgVector& where) {
    std::vector<ShapeHolder> parts;
    std::vector<dgCollision*> children;
    for (int32_t i = 0; i < 3; i++) {
        const dgVector d(randomUnit(rng));
        const dgVector at(where.x + d.x * size, where.y + d.y * size, where.z + d.z * size, 1.0f);
        parts.push_back(
            ShapeHolder::adopt((i == 1) ? randomSphere(rng, size, at) : randomBox(rng, size, at)));
        children.push_back(parts.back().get());
    }
    return new dgCompoundCollision(3, children.data(), nullptr);
}

struct Kind {
    const char* name;
    ShapeMaker make;
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

// ---- one suite over the kinds ----

class MassPropertiesFar : public ::testing::TestWithParam<Kind> {};

TEST_P(MassPropertiesFar, MatchTheReferenceFarAwayAndSmall) {
    std::mt19937 rng(2024);
    // Sizes from 5 cm to 100 m, at 1 to 10^4 sizes from the origin (at most
    // 10^6): the float placement of the faces then still resolves the shape.
    std::uniform_real_distribution<float> logSize(std::log(0.05f), std::log(100.0f));
    std::uniform_real_distribution<float> logRatio(0.0f, std::log(1.0e4f));
    for (int32_t trial = 0; trial < 40; trial++) {
        const float size = std::exp(logSize(rng));
        const float distance = std::min(size * std::exp(logRatio(rng)), 1.0e6f);
        const dgVector dir(randomUnit(rng));
        const dgVector where(dir.x * distance, dir.y * distance, dir.z * distance, 1.0f);
        ShapeHolder shape = ShapeHolder::adopt(GetParam().make(rng, size, where));
        const Expected e = referenceOf(*shape);
        ASSERT_GT(e.volume, 0.0);

        // What rounding the faces to float positions far away leaves of the
        // shape, on top of the walk's own float arithmetic.
        const double grain = double(distance) * double(FLT_EPSILON) / double(size);
        const double tol = 1.0e-4 + 8.0 * grain;
        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << " size " << size << " distance " << distance);

        EXPECT_NEAR(shape->getVolume(), e.volume, tol * e.volume);
        dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
        shape->calcInertia(inertia, origin);
        const double scale = std::max(e.inertia[0], std::max(e.inertia[1], e.inertia[2]));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(origin[j], e.centre[j], tol * size + 2.0 * double(distance) * double(FLT_EPSILON));
            EXPECT_GT(inertia[j], 0.0f);
            EXPECT_NEAR(inertia[j], e.inertia[j], tol * scale);
        }
    }
}

const Kind kKinds[] = {
    {"Box", randomBox},
    {"Sphere", randomSphere},
    {"Ellipse", randomEllipse},
    {"Cone", randomRound<dgCollisionCone, dgShapeCone>},
    {"Capsule", randomRound<dgCollisionCapsule, dgShapeCapsule>},
    {"Cylinder", randomRound<dgCollisionCylinder, dgShapeCylinder>},
    {"ChamferCylinder", randomRound<dgCollisionChamferCylinder, dgShapeChamferCylinder>},
    {"ConvexHull", randomHull},
    {"ConvexModifier", randomModifier},
    {"Compound", randomCompound},
};

INSTANTIATE_TEST_SUITE_P(AllKinds, MassPropertiesFar, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param.name);
                         });

// ---- the reported cases ----

TEST(MassProperties, BoxFarFromTheOriginKeepsItsInertia) {
    // A 1 x 2 x 3 box at (1000, 500, 0): its inertia per unit mass is that of
    // the box at the origin.
    const float d[3] = {1.0f, 2.0f, 3.0f};
    const dgMatrix offset(translation(1000.0f, 500.0f, 0.0f));
    ShapeHolder box =
        ShapeHolder::adopt(new dgCollisionBox(dgShapeSignature(dgShapeBox, d, 3, offset), 1, 2, 3, offset));
    dgVector inertia, origin;
    box->calcInertia(inertia, origin);
    EXPECT_NEAR(origin.x, 1000.0f, 1e-3f);
    EXPECT_NEAR(origin.y, 500.0f, 1e-3f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-3f);
    EXPECT_NEAR(inertia.x, (4.0f + 9.0f) / 12.0f, 1e-4f);
    EXPECT_NEAR(inertia.y, (1.0f + 9.0f) / 12.0f, 1e-4f);
    EXPECT_NEAR(inertia.z, (1.0f + 4.0f) / 12.0f, 1e-4f);
}

TEST(MassProperties, UnitHullAtAMillionKeepsItsVolume) {
    std::mt19937 rng(5);
    ShapeHolder hull = ShapeHolder::adopt(randomHull(rng, 1.0f, dgVector(1.0e6f, 1.0e6f, 1.0e6f, 1.0f)));
    const Expected e = referenceOf(*hull);
    EXPECT_NEAR(hull->getVolume(), e.volume, 1e-4 * e.volume);
    EXPECT_NEAR(static_cast<dgConvexCollision*>(hull.get())->getCentreOfMass().w, e.volume, 1e-4 * e.volume);
    dgVector inertia, origin;
    hull->calcInertia(inertia, origin);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(origin[j], e.centre[j], 0.07);
        EXPECT_NEAR(inertia[j], e.inertia[j], 1e-3 * e.inertia[j]);
    }
}

TEST(MassProperties, FiveCentimetreBoxIsNotWeighedAsALargerOne) {
    const float d[3] = {0.05f, 0.05f, 0.05f};
    const dgMatrix offset(translation(0.5f, 0.0f, 0.0f));
    ShapeHolder box = ShapeHolder::adopt(
        new dgCollisionBox(dgShapeSignature(dgShapeBox, d, 3, offset), d[0], d[1], d[2], offset));
    dgVector inertia, origin;
    box->calcInertia(inertia, origin);
    EXPECT_NEAR(origin.x, 0.5f, 1e-6f);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(inertia[j], 0.05f * 0.05f / 6.0f, 1e-8f);
    }
    EXPECT_NEAR(box->getVolume(), 1.25e-4f, 1e-9f);
}

// ---- limits: never a NaN out ----

bool finiteMass(const dgCollision& shape) {
    dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
    shape.calcInertia(inertia, origin);
    bool finite = std::isfinite(shape.getVolume());
    for (int32_t j = 0; j < 3; j++) {
        finite = finite && std::isfinite(inertia[j]) && std::isfinite(origin[j]);
    }
    return finite;
}

TEST(MassProperties, ModifierRefusesADeformationNoFloatCanWeigh) {
    const float d[3] = {1.0f, 1.0f, 1.0f};
    ShapeHolder box = ShapeHolder::adopt(new dgCollisionBox(
        dgShapeSignature(dgShapeBox, d, 3, dgGetIdentityMatrix()), 1, 1, 1, dgGetIdentityMatrix()));
    dgRefHolder<dgCollisionConvexModifier> modifier = dgRefHolder<dgCollisionConvexModifier>::adopt(
        new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(box.get()), nullptr));
    dgMatrix huge(dgGetIdentityMatrix());
    huge.front.x = 1.0e20f;
    modifier->setModifierMatrix(huge);
    EXPECT_EQ(modifier->getModifierMatrix().front.x, 1.0f);
    EXPECT_TRUE(finiteMass(*modifier));

    // Any scale or shear from 1 to 1e25: accepted with finite answers, or
    // refused with the previous matrix kept.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> exponent(0.0f, 25.0f);
    std::uniform_int_distribution<int32_t> entry(0, 8);
    for (int32_t n = 0; n < 300; n++) {
        dgMatrix m(dgGetIdentityMatrix());
        const int32_t k = entry(rng);
        m[k / 3][k % 3] = std::pow(10.0f, exponent(rng));
        const dgMatrix before(modifier->getModifierMatrix());
        modifier->setModifierMatrix(m);
        const dgMatrix after(modifier->getModifierMatrix());
        const bool kept = (std::memcmp(&after, &m, sizeof(dgMatrix)) == 0);
        EXPECT_TRUE(kept || (std::memcmp(&after, &before, sizeof(dgMatrix)) == 0));
        ASSERT_TRUE(finiteMass(*modifier)) << "entry " << k << " value " << m[k / 3][k % 3];
    }
}

// The fluid plane handed over in the context.
int32_t contextPlane(uint32_t, void* context, const dgMatrix&, dgPlane& plane) {
    plane = *static_cast<const dgPlane*>(context);
    return 1;
}

// Hulls of half size 1e-4 within a metre of the origin: volume, centre and
// inertia (positive) as their own faces give them, and the whole of one
// under the fluid at its centre.
TEST(MassProperties, TenthMillimetreHullsWeighLikeTheirFaces) {
    std::mt19937 rng(400);
    std::uniform_real_distribution<float> reach(0.0f, 1.0f);
    for (int32_t trial = 0; trial < 400; trial++) {
        const dgVector d(randomUnit(rng));
        const float distance = reach(rng);
        const dgVector where(d.x * distance, d.y * distance, d.z * distance, 1.0f);
        ShapeHolder hull = ShapeHolder::adopt(randomHull(rng, 2.0e-4f, where));
        const Expected e = referenceOf(*hull);
        ASSERT_GT(e.volume, 0.0);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " at " << distance);
        const double tol = 1.0e-4 + 8.0 * double(distance) * double(FLT_EPSILON) / 2.0e-4;
        EXPECT_NEAR(hull->getVolume(), e.volume, tol * e.volume);
        EXPECT_NEAR(static_cast<dgConvexCollision*>(hull.get())->getCentreOfMass().w, e.volume, tol * e.volume);
        dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
        hull->calcInertia(inertia, origin);
        const double scale = std::max(e.inertia[0], std::max(e.inertia[1], e.inertia[2]));
        const dgVector wet(hull->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr));
        EXPECT_NEAR(wet.w, e.volume, tol * e.volume);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_GT(inertia[j], 0.0f);
            EXPECT_NEAR(inertia[j], e.inertia[j], tol * scale);
            EXPECT_NEAR(origin[j], e.centre[j], 2e-4 * tol + 2.0 * FLT_EPSILON);
            EXPECT_NEAR(wet[j], e.centre[j], 2e-4 * tol + 2.0 * FLT_EPSILON);
        }
    }
}

TEST(MassProperties, HugeHullsAreWeighedOrRefusedNeverNaN) {
    // A cube of half extent 1e9: volume 8e27 and inertia 6.7e17 are floats.
    for (int32_t e = 0; e <= 19; e++) {
        const float h = std::pow(10.0f, float(e));
        std::vector<float> cloud;
        for (int32_t i = 0; i < 8; i++) {
            cloud.insert(cloud.end(), {(i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? h : -h});
        }
        dgRefHolder<dgCollisionConvexHull> hull =
            dgRefHolder<dgCollisionConvexHull>::adopt(new dgCollisionConvexHull(
                1u, 8, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix()));
        SCOPED_TRACE(::testing::Message() << "half extent " << h);
        EXPECT_TRUE(finiteMass(*hull));
        EXPECT_TRUE(std::isfinite(hull->getCentreOfMass().w));
        // Under a fluid a quarter of the way down from the top: three
        // quarters of the cube, its centroid a quarter of the way down.
        const dgPlane fluid(0.0f, 1.0f, 0.0f, -0.5f * h);
        const dgVector wet(hull->calcSubmergedVolume(dgGetIdentityMatrix(), contextPlane,
                                                     const_cast<dgPlane*>(&fluid)));
        for (int32_t j = 0; j < 4; j++) {
            EXPECT_TRUE(std::isfinite(wet[j])) << j;
        }
        if (hull->getFaceCount() > 0) {
            const double h3 = double(h) * double(h) * double(h);
            EXPECT_NEAR(wet.w, 6.0 * h3, 1e-5 * 6.0 * h3);
            EXPECT_NEAR(wet.y, -0.25 * double(h), 1e-5 * double(h));
        }
        if (e <= 9) {
            ASSERT_EQ(hull->getVertexCount(), 8);
            const double volume = 8.0 * double(h) * double(h) * double(h);
            EXPECT_NEAR(hull->getVolume(), volume, 1e-5 * volume);
            dgVector inertia, origin;
            hull->calcInertia(inertia, origin);
            EXPECT_NEAR(inertia.x, 2.0 / 3.0 * double(h) * double(h), 1e-5 * double(h) * double(h));
        }
    }
}

TEST(MassProperties, ModifierBoxWritesOnlyXyz) {
    const float d[3] = {1.0f, 2.0f, 3.0f};
    ShapeHolder box = ShapeHolder::adopt(new dgCollisionBox(
        dgShapeSignature(dgShapeBox, d, 3, dgGetIdentityMatrix()), 1, 2, 3, dgGetIdentityMatrix()));
    dgRefHolder<dgCollisionConvexModifier> modifier = dgRefHolder<dgCollisionConvexModifier>::adopt(
        new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(box.get()), nullptr));
    dgVector boxMin(0, 0, 0, 7.0f), boxMax(0, 0, 0, -7.0f);
    modifier->calcAABB(turnedAndMoved(), boxMin, boxMax);
    EXPECT_EQ(boxMin.w, 7.0f);
    EXPECT_EQ(boxMax.w, -7.0f);
    EXPECT_LT(boxMin.x, boxMax.x);
}

}  // namespace
