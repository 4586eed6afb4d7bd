#include <gtest/gtest.h>

#include "TestSupport.h"
#include "dgMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

const float kPi = float(testsupport::kPi);

void expectNearVector(const dgVector& v, const dgVector& expected, float tol) {
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(v[i], expected[i], tol) << "component " << i;
    }
}

void expectNearMatrix(const dgMatrix& m, const dgMatrix& expected, float tol) {
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_NEAR(m[i][j], expected[i][j], tol) << "element " << i << "," << j;
        }
    }
}

dgMatrix randomFrame(std::mt19937& rng) {
    std::uniform_real_distribution<float> angle(-kPi, kPi);
    std::uniform_real_distribution<float> coord(-10.0f, 10.0f);
    dgMatrix m(dgRotationMatrixX(angle(rng)) * dgRotationMatrixY(angle(rng)) * dgRotationMatrixZ(angle(rng)));
    m.position = dgVector(coord(rng), coord(rng), coord(rng), 1.0f);
    return m;
}

dgMatrix diagonal(float a, float b, float c) {
    dgMatrix m(dgGetIdentityMatrix());
    m[0][0] = a;
    m[1][1] = b;
    m[2][2] = c;
    return m;
}

float determinant3(const dgMatrix& m) {
    return m.front.dot(m.up.cross(m.right));
}

}  // namespace

TEST(Matrix, SharedConstantsAreBuiltOnce) {
    const dgMatrix& identity = dgGetIdentityMatrix();
    EXPECT_EQ(&identity, &dgGetIdentityMatrix());
    EXPECT_EQ(&dgGetZeroMatrix(), &dgGetZeroMatrix());
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_EQ(identity[i][j], (i == j) ? 1.0f : 0.0f);
            EXPECT_EQ(dgGetZeroMatrix()[i][j], 0.0f);
        }
    }
}

// Every axis rotation against its closed form in double (row vectors: a
// point turns as p R), right-handed: a quarter turn about z carries x to y.
TEST(Matrix, AxisRotationsAreRightHandedClosedForms) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> angle(-kPi, kPi);
    for (int i = 0; i < 200; i++) {
        const float a = (i == 0) ? 0.5f * kPi : angle(rng);
        const double c = std::cos(double(a)), s = std::sin(double(a));
        const double expected[3][3][3] = {{{1, 0, 0}, {0, c, s}, {0, -s, c}},
                                          {{c, 0, -s}, {0, 1, 0}, {s, 0, c}},
                                          {{c, s, 0}, {-s, c, 0}, {0, 0, 1}}};
        const dgMatrix m[3] = {dgRotationMatrixX(a), dgRotationMatrixY(a), dgRotationMatrixZ(a)};
        for (int k = 0; k < 3; k++) {
            for (int r = 0; r < 4; r++) {
                for (int j = 0; j < 4; j++) {
                    const double want = (r < 3 && j < 3) ? expected[k][r][j] : ((r == j) ? 1.0 : 0.0);
                    ASSERT_NEAR(m[k][r][j], want, 1.0e-6) << "axis " << k << " angle " << a;
                }
            }
        }
    }
}

// The product is the full four-by-four one, left operand first (a point goes
// through a, then b), and it and the transforms give the bits of the scalar
// sums taken left to right, signed zeros included: recorded runs of whole
// scenes repeat only while they do. Entries are drawn with zeros of either
// sign often, so that sums of zero products of mixed signs come up.
TEST(Matrix, ProductAndTransformsAreTheScalarSumsLeftOperandFirst) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    std::uniform_int_distribution<int> pick(0, 3);
    auto entry = [&]() {
        const int k = pick(rng);
        return (k == 0) ? 0.0f : ((k == 1) ? -0.0f : value(rng));
    };
    auto same = [](const dgVector& a, float x, float y, float z, float w) {
        const float e[4] = {x, y, z, w};
        return std::memcmp(&a.x, e, sizeof(e)) == 0;
    };
    for (int trial = 0; trial < 2000; trial++) {
        dgMatrix a;
        dgMatrix b;
        dgVector v;
        for (int i = 0; i < 4; i++) {
            v[i] = entry();
            for (int j = 0; j < 4; j++) {
                a[i][j] = entry();
                b[i][j] = entry();
            }
        }
        const dgMatrix c(a.multiply(b));
        const dgMatrix d(a * b);
        for (int i = 0; i < 4; i++) {
            float e[4];
            for (int j = 0; j < 4; j++) {
                double expected = 0.0;
                for (int k = 0; k < 4; k++) {
                    expected += double(a[i][k]) * b[k][j];
                }
                ASSERT_NEAR(c[i][j], expected, 1.0e-5);
                ASSERT_EQ(d[i][j], c[i][j]);
                e[j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
            }
            ASSERT_TRUE(same(c[i], e[0], e[1], e[2], e[3])) << "trial " << trial << " row " << i;
        }
        float r[3];
        for (int j = 0; j < 3; j++) {
            r[j] = v.x * a.front[j] + v.y * a.up[j] + v.z * a.right[j];
        }
        ASSERT_TRUE(same(a.rotateVector(v), r[0], r[1], r[2], 1.0f)) << "trial " << trial;
        ASSERT_TRUE(same(a.transformVector(v), r[0] + a.position.x, r[1] + a.position.y, r[2] + a.position.z,
                         a.position.w))
            << "trial " << trial;
    }
}

TEST(Matrix, RigidInverseUndoesTheFrame) {
    std::mt19937 rng(9);
    for (int i = 0; i < 200; i++) {
        const dgMatrix frame(randomFrame(rng));
        expectNearMatrix(frame * frame.inverse(), dgGetIdentityMatrix(), 1.0e-5f);
        expectNearMatrix(frame.inverse() * frame, dgGetIdentityMatrix(), 1.0e-5f);
    }
}

TEST(Matrix, VectorTransformsProduceDocumentedW) {
    std::mt19937 rng(13);
    dgMatrix m(randomFrame(rng));
    m.position.w = 3.0f;
    const dgVector p(0.5f, -1.5f, 2.0f, 0.0f);

    const dgVector rotated(m.rotateVector(p));
    EXPECT_EQ(rotated.w, 1.0f);
    expectNearVector(m.inverseRotateVector(rotated), dgVector(p.x, p.y, p.z, 1.0f), 1.0e-5f);

    const dgVector moved(m.transformVector(p));
    EXPECT_EQ(moved.w, 3.0f);
    const dgVector sum(rotated + m.position);
    expectNearVector(moved, dgVector(sum.x, sum.y, sum.z, 3.0f), 1.0e-5f);
    expectNearVector(m.inverseTransformVector(moved), dgVector(p.x, p.y, p.z, 1.0f), 1.0e-5f);
}

TEST(Matrix, TransformPointsHonoursStridesAndInPlace) {
    std::mt19937 rng(17);
    const dgMatrix m(randomFrame(rng));
    std::uniform_real_distribution<float> coord(-5.0f, 5.0f);
    for (int32_t count = 0; count <= 9; count++) {
        // Source five floats apart, destination four apart with a sentinel.
        std::vector<float> src(size_t(5 * count + 1));
        for (float& f : src) {
            f = coord(rng);
        }
        std::vector<float> dst(size_t(4 * count + 1), -99.0f);
        m.transformPoints(dst.data(), 16, src.data(), 20, count);

        std::vector<float> inPlace(src);
        m.transformPoints(inPlace.data(), 20, inPlace.data(), 20, count);

        for (int32_t k = 0; k < count; k++) {
            const dgVector expected(m.transformVector(dgVector::dgVector3(&src[size_t(5 * k)])));
            for (int j = 0; j < 3; j++) {
                EXPECT_FLOAT_EQ(dst[size_t(4 * k + j)], expected[j]);
                EXPECT_FLOAT_EQ(inPlace[size_t(5 * k + j)], expected[j]);
            }
            EXPECT_EQ(dst[size_t(4 * k + 3)], -99.0f);
            EXPECT_EQ(inPlace[size_t(5 * k + 3)], src[size_t(5 * k + 3)]);
        }
        EXPECT_EQ(dst.back(), -99.0f);
    }
}

// The box is the tightest around the eight transformed corners.
TEST(Matrix, TransformBoxIsTheTightestAroundEveryCorner) {
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> coord(-4.0f, 4.0f);
    for (int trial = 0; trial < 200; trial++) {
        const dgMatrix m(randomFrame(rng));
        const dgVector a(coord(rng), coord(rng), coord(rng), 0.0f);
        const dgVector b(coord(rng), coord(rng), coord(rng), 0.0f);
        const dgVector boxMin(std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z), 0.0f);
        const dgVector boxMax(std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z), 0.0f);
        dgVector lo;
        dgVector hi;
        m.transformBox(boxMin, boxMax, lo, hi);
        double expectLo[3] = {1e30, 1e30, 1e30};
        double expectHi[3] = {-1e30, -1e30, -1e30};
        for (int corner = 0; corner < 8; corner++) {
            const double p[3] = {(corner & 4) ? boxMax.x : boxMin.x, (corner & 2) ? boxMax.y : boxMin.y,
                                 (corner & 1) ? boxMax.z : boxMin.z};
            for (int j = 0; j < 3; j++) {
                const double c = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
                expectLo[j] = std::min(expectLo[j], c);
                expectHi[j] = std::max(expectHi[j], c);
            }
        }
        for (int j = 0; j < 3; j++) {
            ASSERT_NEAR(lo[j], expectLo[j], 1.0e-5);
            ASSERT_NEAR(hi[j], expectHi[j], 1.0e-5);
        }
        ASSERT_EQ(lo.w, 1.0f);
        ASSERT_EQ(hi.w, 1.0f);
    }
}

TEST(Matrix, SymmetricInverseInvertsAnInertiaTensor) {
    std::mt19937 rng(23);
    const dgMatrix r(randomFrame(rng));
    dgMatrix rotation(r);
    rotation.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    dgMatrix tensor(rotation.inverse() * diagonal(4.0f, 0.5f, 2.0f) * rotation);
    // Only the upper triangle may be read.
    tensor[1][0] = 1000.0f;
    tensor[2][0] = -1000.0f;
    tensor[2][1] = 1000.0f;

    const dgMatrix inv(tensor.symmetricInverse());
    dgMatrix clean(tensor);
    clean[1][0] = clean[0][1];
    clean[2][0] = clean[0][2];
    clean[2][1] = clean[1][2];
    expectNearMatrix(clean * inv, dgGetIdentityMatrix(), 1.0e-5f);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(inv[i].w, 0.0f);
    }
    expectNearVector(inv.position, dgVector(0.0f, 0.0f, 0.0f, 1.0f), 0.0f);
}

TEST(Matrix, EigenVectorsOfDiagonalReturnAtOnce) {
    dgMatrix m(diagonal(3.0f, 1.0f, 2.0f));
    dgVector values;
    m.eigenVectors(values);
    expectNearVector(values, dgVector(3.0f, 1.0f, 2.0f, 1.0f), 0.0f);
    expectNearMatrix(m, dgGetIdentityMatrix(), 0.0f);
}

TEST(Matrix, EigenVectorsDiagonaliseAnySymmetricMatrix) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> value(-4.0f, 4.0f);
    for (int trial = 0; trial < 200; trial++) {
        dgMatrix s(dgGetIdentityMatrix());
        for (int i = 0; i < 3; i++) {
            for (int j = i; j < 3; j++) {
                s[i][j] = value(rng);
                s[j][i] = s[i][j];
            }
        }
        // Repeated eigenvalues too.
        if (trial % 4 == 0) {
            s = diagonal(2.0f, 2.0f, -1.0f);
            dgMatrix r(randomFrame(rng));
            r.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
            s = r.inverse() * s * r;
        }
        dgMatrix frame(s);
        dgVector values;
        frame.eigenVectors(values);
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(frame[i].dot(frame[i]), 1.0f, 1.0e-5f);
            EXPECT_NEAR(frame[i].dot(frame[(i + 1) % 3]), 0.0f, 1.0e-5f);
            // Symmetric, so v*S = S*v; rotateVector computes v*S.
            const dgVector image(s.rotateVector(frame[i]));
            const dgVector expected(frame[i].scale(values[i]));
            for (int j = 0; j < 3; j++) {
                EXPECT_NEAR(image[j], expected[j], 1.0e-4f);
            }
        }
        EXPECT_NEAR(determinant3(frame), 1.0f, 1.0e-5f);
        expectNearVector(frame.position, dgVector(0.0f, 0.0f, 0.0f, 1.0f), 0.0f);
        EXPECT_EQ(frame[0].w + frame[1].w + frame[2].w, 0.0f);
    }
}

TEST(Matrix, EulerAnglesRoundTripAwayFromGimbal) {
    std::mt19937 rng(37);
    std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
    std::uniform_real_distribution<float> narrow(-1.4f, 1.4f);
    for (int i = 0; i < 200; i++) {
        const float ax = wide(rng);
        const float ay = narrow(rng);
        const float az = wide(rng);
        dgVector angles;
        (dgRotationMatrixX(ax) * dgRotationMatrixY(ay) * dgRotationMatrixZ(az)).getEulerAngles(angles);
        expectNearVector(angles, dgVector(ax, ay, az, 0.0f), 2.0e-4f);
    }
}

TEST(Matrix, EulerAnglesPinZAtGimbalLock) {
    dgMatrix m(dgGetIdentityMatrix());
    m[0][2] = 0.99996f;
    dgVector angles;
    m.getEulerAngles(angles);
    EXPECT_EQ(angles.z, 0.0f);
    EXPECT_FLOAT_EQ(angles.y, std::asin(-0.99996f));
    EXPECT_EQ(angles.w, 0.0f);

    // Straight up and straight down: the recovered angles still rebuild the
    // same matrix, with the whole twist carried by ax.
    for (const float ay : {-kPi * 0.5f, kPi * 0.5f}) {
        const dgMatrix original(dgRotationMatrixX(0.5f) * dgRotationMatrixY(ay) * dgRotationMatrixZ(0.2f));
        original.getEulerAngles(angles);
        EXPECT_EQ(angles.z, 0.0f);
        const dgMatrix rebuilt(dgRotationMatrixX(angles.x) * dgRotationMatrixY(angles.y) *
                               dgRotationMatrixZ(angles.z));
        expectNearMatrix(rebuilt, original, 2.0e-3f);
    }
}

TEST(MatrixPlane, UntransformedPlaneAgreesWithGlobalPlaneAtEveryPoint) {
    const dgMatrix matrix(
        dgRotationMatrixX(0.3f).multiply(dgRotationMatrixY(-1.1f)).multiply(dgRotationMatrixZ(0.7f)));
    dgMatrix placed(matrix);
    placed.position = dgVector(3.0f, -2.0f, 5.0f, 1.0f);
    // Plane through three points given in global space.
    const dgPlane global(dgVector(1.0f, 0.0f, 0.0f, 1.0f), dgVector(0.0f, 2.0f, 1.0f, 1.0f),
                         dgVector(-1.0f, 1.0f, 3.0f, 1.0f));
    for (int k = 0; k < 3; k++) {
        const dgVector on(k == 0 ? 1.0f : (k == 1 ? 0.0f : -1.0f), k == 0 ? 0.0f : (k == 1 ? 2.0f : 1.0f),
                          k == 0 ? 0.0f : (k == 1 ? 1.0f : 3.0f), 1.0f);
        EXPECT_NEAR(global.evaluate(on), 0.0f, 1e-5f);
    }
    const dgPlane local(placed.untransformPlane(global));
    for (int i = 0; i < 20; i++) {
        const dgVector p(float(i) * 0.37f - 3.0f, float(i % 5) - 2.0f, float(i % 3) * 1.5f, 1.0f);
        EXPECT_NEAR(local.evaluate(p), global.evaluate(placed.transformVector(p)), 1e-4f);
    }
}
