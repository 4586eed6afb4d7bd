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
#include "dgCollisionSphere.h"
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

ConvexHolder makeSphere(float radius) {
    const dgMatrix& offset = dgGetIdentityMatrix();
    return ConvexHolder::adopt(
        new dgCollisionSphere(dgShapeSignature(dgShapeSphere, &radius, 1, offset), radius, offset));
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

// p * M in double (M affine).
D3 apply(const dgMatrix& m, const D3& p) {
    D3 out;
    for (int32_t j = 0; j < 3; j++) {
        out[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
    }
    return out;
}

// The box of half extents h deformed by M, as six outward planes built from
// its transformed corners.
struct Parallelepiped {
    D3 corners[8];
    D3 normals[6];
    double offsets[6];

    Parallelepiped(const dgVector& h, const dgMatrix& m) {
        for (int32_t k = 0; k < 8; k++) {
            const D3 c{(k & 1) ? -h.x : h.x, (k & 2) ? -h.y : h.y, (k & 4) ? -h.z : h.z};
            corners[k] = apply(m, c);
        }
        const D3 centre = apply(m, D3{0.0, 0.0, 0.0});
        int32_t f = 0;
        for (int32_t axis = 0; axis < 3; axis++) {
            for (int32_t side = 0; side < 2; side++) {
                const int32_t base = side ? (1 << axis) : 0;
                const int32_t b = (axis + 1) % 3;
                const int32_t c = (axis + 2) % 3;
                const D3& c0 = corners[base];
                const D3& c1 = corners[base | (1 << b)];
                const D3& c2 = corners[base | (1 << c)];
                D3 n = cross(sub(c1, c0), sub(c2, c0));
                const double len = std::sqrt(dot(n, n));
                for (int32_t j = 0; j < 3; j++) {
                    n[j] /= len;
                }
                if (dot(n, sub(centre, c0)) > 0.0) {
                    for (int32_t j = 0; j < 3; j++) {
                        n[j] = -n[j];
                    }
                }
                normals[f] = n;
                offsets[f] = -dot(n, c0);
                f++;
            }
        }
    }

    // Entry parameter and face of a segment that starts outside; -1 when it
    // misses or starts inside. margin > 0 reports how far from a tie the
    // answer is (entering planes close together, entry close to the exit).
    double ray(const D3& p0, const D3& p1, D3& normal, double& margin) const {
        double tEnter = 0.0;
        double tExit = 1.0;
        double secondEnter = -1.0;
        int32_t face = -1;
        const D3 d = sub(p1, p0);
        for (int32_t f = 0; f < 6; f++) {
            const double num = dot(normals[f], p0) + offsets[f];
            const double den = dot(normals[f], d);
            if (den == 0.0) {
                if (num > 0.0) {
                    return -1.0;
                }
                continue;
            }
            const double t = -num / den;
            if (den < 0.0) {
                if (t > tEnter) {
                    secondEnter = std::max(secondEnter, tEnter);
                    tEnter = t;
                    face = f;
                } else {
                    secondEnter = std::max(secondEnter, t);
                }
            } else {
                tExit = std::min(tExit, t);
            }
        }
        margin = std::min(tEnter - secondEnter, std::fabs(tExit - tEnter));
        if ((face < 0) || (tEnter > tExit)) {
            return -1.0;
        }
        normal = normals[face];
        return tEnter;
    }
};

dgVector cornerOf(const dgVector& h, int32_t k) {
    return dgVector((k & 1) ? -h.x : h.x, (k & 2) ? -h.y : h.y, (k & 4) ? -h.z : h.z, 1.0f);
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

int32_t noPlane(uint32_t, void*, const dgMatrix&, dgPlane&) {
    return 0;
}

// Submerged part of the box of half extents h deformed by M and placed by
// matrix, under the world plane: the plane is linear in the box's own
// coordinates, so each column along x is cut exactly and the columns are
// summed over a fine grid in y and z.
dgVector referenceSubmerged(const dgVector& h, const dgMatrix& m, const dgMatrix& matrix,
                            const dgPlane& plane) {
    auto value = [&](const D3& y) {
        const D3 w = apply(matrix, apply(m, y));
        return plane.x * w[0] + plane.y * w[1] + plane.z * w[2] + plane.w;
    };
    const double b = value(D3{0.0, 0.0, 0.0});
    const double a0 = value(D3{1.0, 0.0, 0.0}) - b;
    const double a1 = value(D3{0.0, 1.0, 0.0}) - b;
    const double a2 = value(D3{0.0, 0.0, 1.0}) - b;
    constexpr int32_t kCells = 600;
    const double dy = 2.0 * h.y / kCells;
    const double dz = 2.0 * h.z / kCells;
    double volume = 0.0;
    double moment[3] = {0.0, 0.0, 0.0};
    for (int32_t i = 0; i < kCells; i++) {
        const double y = -h.y + (i + 0.5) * dy;
        for (int32_t j = 0; j < kCells; j++) {
            const double z = -h.z + (j + 0.5) * dz;
            const double c = a1 * y + a2 * z + b;
            double lo = -h.x;
            double hi = h.x;
            // a0 x + c < 0.
            if (a0 > 0.0) {
                hi = std::min(hi, -c / a0);
            } else if (a0 < 0.0) {
                lo = std::max(lo, -c / a0);
            } else if (c >= 0.0) {
                hi = lo;
            }
            if (hi <= lo) {
                continue;
            }
            const double len = (hi - lo) * dy * dz;
            volume += len;
            moment[0] += len * 0.5 * (hi + lo);
            moment[1] += len * y;
            moment[2] += len * z;
        }
    }
    if (volume <= 0.0) {
        return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    const D3 centroid =
        apply(matrix, apply(m, D3{moment[0] / volume, moment[1] / volume, moment[2] / volume}));
    return dgVector(float(centroid[0]), float(centroid[1]), float(centroid[2]), float(volume * det3(m)));
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

TEST(ConvexModifier, BoundsAndSupportMatchTheTransformedBox) {
    std::mt19937 rng(7);
    const dgVector half(0.5f, 1.0f, 1.5f, 0.0f);
    ConvexHolder box = makeBox(1.0f, 2.0f, 3.0f);
    for (int32_t trial = 0; trial < 100; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(box.get(), m);
        const dgMatrix matrix(randomPose(rng, 10.0f));
        dgVector boxMin, boxMax;
        modifier->calcAABB(matrix, boxMin, boxMax);
        D3 low{1e30, 1e30, 1e30}, high{-1e30, -1e30, -1e30};
        std::vector<D3> corners;
        for (int32_t k = 0; k < 8; k++) {
            const D3 local = apply(m, toD3(cornerOf(half, k)));
            corners.push_back(local);
            const D3 w = apply(matrix, local);
            for (int32_t j = 0; j < 3; j++) {
                low[j] = std::min(low[j], w[j]);
                high[j] = std::max(high[j], w[j]);
            }
        }
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(boxMin[j], low[j], 1.0e-4 * (1.0 + std::fabs(low[j])));
            EXPECT_NEAR(boxMax[j], high[j], 1.0e-4 * (1.0 + std::fabs(high[j])));
        }
        for (int32_t k = 0; k < 20; k++) {
            const dgVector d(randomUnit(rng));
            const dgVector s(modifier->supportVertex(d));
            double best = -1e30;
            for (const D3& c : corners) {
                best = std::max(best, dot(c, toD3(d)));
            }
            EXPECT_NEAR(dot(toD3(s), toD3(d)), best, 1.0e-4 * (1.0 + std::fabs(best)));
        }
    }
}

TEST(ConvexModifier, RayCastsHitTheTransformedBoxWithItsFaceNormal) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const dgVector half(0.5f, 1.0f, 0.75f, 0.0f);
    ConvexHolder box = makeBox(1.0f, 2.0f, 1.5f);
    box->setUserId(0x80000001u);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 60; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(box.get(), m);
        const Parallelepiped model(half, m);
        const dgVector centre(m.position);
        for (int32_t k = 0; k < 50; k++) {
            const dgVector p0(centre + randomUnit(rng).scale(8.0f));
            const dgVector target(centre.x + 2.0f * u(rng), centre.y + 2.0f * u(rng),
                                  centre.z + 2.0f * u(rng), 1.0f);
            dgVector p1(p0 + (target - p0).scale(1.2f));
            p1.w = 1.0f;
            D3 normal{0.0, 0.0, 0.0};
            double margin = 0.0;
            const double expected = model.ray(toD3(p0), toD3(p1), normal, margin);
            if (margin < 1.0e-4) {
                continue;
            }
            dgContactPoint contact;
            const float t = modifier->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
            if (expected < 0.0) {
                EXPECT_GT(t, 1.0f);
                continue;
            }
            hits++;
            ASSERT_LE(t, 1.0f);
            EXPECT_NEAR(t, expected, 1.0e-4);
            EXPECT_NEAR(contact.normal.x, normal[0], 1.0e-4);
            EXPECT_NEAR(contact.normal.y, normal[1], 1.0e-4);
            EXPECT_NEAR(contact.normal.z, normal[2], 1.0e-4);
            EXPECT_EQ(contact.userId, dgContactUserId(0x80000001u));
        }
    }
    EXPECT_GT(hits, 500);
}

TEST(ConvexModifier, QuarterTurnReportsTheTurnedFaceNormal) {
    ConvexHolder box = makeBox(2.0f, 2.0f, 2.0f);
    // x maps to y: the wrapped +y face now faces -x.
    ModifierHolder modifier = makeModifier(box.get(), dgRotationMatrixZ(float(M_PI) * 0.5f));
    dgContactPoint contact;
    const float t = modifier->rayCast(dgVector(-3.0f, 0.2f, 0.3f, 1.0f), dgVector(3.0f, 0.2f, 0.3f, 1.0f),
                                      contact, nullptr, nullptr, nullptr);
    EXPECT_NEAR(t, 2.0f / 6.0f, 1.0e-5f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1.0e-5f);
    EXPECT_NEAR(contact.normal.y, 0.0f, 1.0e-5f);
    EXPECT_NEAR(contact.normal.z, 0.0f, 1.0e-5f);
}

TEST(ConvexModifier, RayCastsThroughAnEllipsoidFollowTheQuadratic) {
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    ConvexHolder sphere = makeSphere(1.0f);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 30; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(sphere.get(), m);
        // Implicit surface f(x) = |(x - c) A^-1|^2 - 1 with A^-1 by cofactors.
        const double det = det3(m);
        double inv[3][3];
        for (int32_t i = 0; i < 3; i++) {
            for (int32_t j = 0; j < 3; j++) {
                const int32_t i1 = (j + 1) % 3, i2 = (j + 2) % 3;
                const int32_t j1 = (i + 1) % 3, j2 = (i + 2) % 3;
                inv[i][j] = (double(m[i1][j1]) * m[i2][j2] - double(m[i1][j2]) * m[i2][j1]) / det;
            }
        }
        auto f = [&](const D3& x) {
            const D3 d{x[0] - m.position.x, x[1] - m.position.y, x[2] - m.position.z};
            double s = 0.0;
            for (int32_t j = 0; j < 3; j++) {
                const double y = d[0] * inv[0][j] + d[1] * inv[1][j] + d[2] * inv[2][j];
                s += y * y;
            }
            return s - 1.0;
        };
        for (int32_t k = 0; k < 40; k++) {
            const dgVector p0(m.position + randomUnit(rng).scale(6.0f));
            const dgVector target(m.position.x + u(rng), m.position.y + u(rng), m.position.z + u(rng), 1.0f);
            dgVector p1(p0 + (target - p0).scale(1.1f));
            p1.w = 1.0f;
            // f along the segment is a quadratic a t^2 + b t + c.
            const D3 a0 = toD3(p0), a1 = toD3(p1);
            const double c = f(a0);
            const double fm = f(D3{0.5 * (a0[0] + a1[0]), 0.5 * (a0[1] + a1[1]), 0.5 * (a0[2] + a1[2])});
            const double f1 = f(a1);
            const double qa = 2.0 * (f1 + c - 2.0 * fm);
            const double qb = f1 - c - qa;
            const double disc = qb * qb - 4.0 * qa * c;
            if (disc < 1.0e-3) {
                continue;
            }
            const double expected = (-qb - std::sqrt(disc)) / (2.0 * qa);
            if (std::fabs(expected - 1.0) < 1.0e-3) {
                continue;
            }
            dgContactPoint contact;
            const float t = modifier->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
            if (expected > 1.0) {
                EXPECT_GT(t, 1.0f);
                continue;
            }
            hits++;
            ASSERT_LE(t, 1.0f);
            EXPECT_NEAR(t, expected, 1.0e-4);
            // The normal is the gradient of f, taken by central differences.
            D3 hit{a0[0] + expected * (a1[0] - a0[0]), a0[1] + expected * (a1[1] - a0[1]),
                      a0[2] + expected * (a1[2] - a0[2])};
            D3 grad;
            for (int32_t j = 0; j < 3; j++) {
                D3 hi = hit, lo = hit;
                hi[j] += 1.0e-5;
                lo[j] -= 1.0e-5;
                grad[j] = (f(hi) - f(lo)) / 2.0e-5;
            }
            const double len = std::sqrt(dot(grad, grad));
            EXPECT_NEAR(contact.normal.x, grad[0] / len, 1.0e-3);
            EXPECT_NEAR(contact.normal.y, grad[1] / len, 1.0e-3);
            EXPECT_NEAR(contact.normal.z, grad[2] / len, 1.0e-3);
        }
    }
    EXPECT_GT(hits, 200);
}

TEST(ConvexModifier, PrefilterVetoesTheCast) {
    ConvexHolder box = makeBox(1.0f, 1.0f, 1.0f);
    ModifierHolder modifier = makeModifier(box.get(), scaling(2.0f, 1.0f, 1.0f));
    int32_t asked = 0;
    auto veto = [](const dgBody*, const dgCollision*, void* userData) -> uint32_t {
        ++*static_cast<int32_t*>(userData);
        return 0;
    };
    dgContactPoint contact;
    EXPECT_EQ(modifier->rayCast(dgVector(-3.0f, 0.0f, 0.0f, 1.0f), dgVector(3.0f, 0.0f, 0.0f, 1.0f), contact,
                                veto, nullptr, &asked),
              dgCollision::kRayMiss);
    EXPECT_EQ(asked, 1);
}

TEST(ConvexModifier, InertiaOfTheDeformedBoxMatchesItsCovariance) {
    std::mt19937 rng(41);
    const dgVector half(0.5f, 0.75f, 0.25f, 0.0f);
    ConvexHolder box = makeBox(1.0f, 1.5f, 0.5f);
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(box.get(), m);
        dgVector inertia(0.0f, 0.0f, 0.0f, 0.0f), origin(0.0f, 0.0f, 0.0f, 0.0f);
        modifier->calcInertia(inertia, origin);
        // Covariance of x = y A with y uniform in the box: A^T diag(h^2/3) A.
        double cov[3][3];
        for (int32_t i = 0; i < 3; i++) {
            for (int32_t j = 0; j < 3; j++) {
                cov[i][j] = 0.0;
                for (int32_t k = 0; k < 3; k++) {
                    cov[i][j] += double(m[k][i]) * m[k][j] * double(half[k]) * half[k] / 3.0;
                }
            }
        }
        EXPECT_NEAR(inertia.x, cov[1][1] + cov[2][2], 1.0e-4);
        EXPECT_NEAR(inertia.y, cov[0][0] + cov[2][2], 1.0e-4);
        EXPECT_NEAR(inertia.z, cov[0][0] + cov[1][1], 1.0e-4);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(origin[j], m.position[j], 1.0e-4);
        }
        EXPECT_NEAR(modifier->getVolume(), 8.0 * half.x * half.y * half.z * det3(m), 1.0e-4);
    }
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

TEST(ConvexModifier, SubmergedVolumeFollowsTheDeformedShape) {
    std::mt19937 rng(53);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const dgVector half(1.0f, 0.5f, 0.75f, 0.0f);
    ConvexHolder box = makeBox(2.0f, 1.0f, 1.5f);
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(box.get(), m);
        const dgMatrix matrix(randomPose(rng, 3.0f));
        const dgVector centre(matrix.transformVector(m.position));
        dgVector n(u(rng), 1.0f, u(rng), 0.0f);
        n = n.scale(1.0f / std::sqrt(n % n));
        dgPlane plane(n, -(n % centre) - 0.3f * u(rng));
        const dgVector got(modifier->calcSubmergedVolume(matrix, givenPlane, &plane));
        const dgVector expected(referenceSubmerged(half, m, matrix, plane));
        const float whole = float(8.0 * half.x * half.y * half.z * det3(m));
        EXPECT_NEAR(got.w, expected.w, 1.0e-3f * whole);
        if (expected.w > 0.05f * whole) {
            EXPECT_NEAR(got.x, expected.x, 2.0e-3f);
            EXPECT_NEAR(got.y, expected.y, 2.0e-3f);
            EXPECT_NEAR(got.z, expected.z, 2.0e-3f);
        }
    }
    // Without a plane, or when the callback has none, the whole shape.
    const dgMatrix m(scaling(2.0f, 1.0f, 3.0f).multiply(translation(1.0f, 2.0f, 3.0f)));
    ModifierHolder modifier = makeModifier(box.get(), m);
    const dgMatrix matrix(translation(10.0f, 0.0f, 0.0f));
    for (const dgVector& all : {modifier->calcSubmergedVolume(matrix, nullptr, nullptr),
                                modifier->calcSubmergedVolume(matrix, noPlane, nullptr)}) {
        EXPECT_NEAR(all.w, 3.0f * 2.0f * 3.0f, 1.0e-4f);
        EXPECT_NEAR(all.x, 11.0f, 1.0e-4f);
        EXPECT_NEAR(all.y, 2.0f, 1.0e-4f);
        EXPECT_NEAR(all.z, 3.0f, 1.0e-4f);
    }
}

TEST(ConvexModifier, PlaneContourLiesOnThePlaneAndTheDeformedSurface) {
    std::mt19937 rng(61);
    const dgVector half(0.5f, 1.0f, 0.75f, 0.0f);
    ConvexHolder box = makeBox(1.0f, 2.0f, 1.5f);
    for (int32_t trial = 0; trial < 50; trial++) {
        const dgMatrix m(randomAffine(rng));
        ModifierHolder modifier = makeModifier(box.get(), m);
        const dgVector n(randomUnit(rng));
        const dgVector point(m.position);
        dgVector points[dgPlaneIntersectionMaxPoints];
        const int32_t count = modifier->calcPlaneIntersection(n, point, points);
        EXPECT_GE(count, 3);
        EXPECT_LE(count, 6);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((points[i] - point) % n, 0.0f, 1.0e-4f);
            const dgVector y(modifier->getInverseMatrix().transformVector(points[i]));
            float worst = 0.0f;
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_LE(std::fabs(y[j]), half[j] + 1.0e-4f);
                worst = std::max(worst, std::fabs(y[j]) / half[j]);
            }
            EXPECT_NEAR(worst, 1.0f, 1.0e-4f);
        }
    }
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
