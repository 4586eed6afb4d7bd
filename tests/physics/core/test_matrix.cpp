#include <gtest/gtest.h>

#include "TestSupport.h"
#include "dgMath.h"

#include <cmath>
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

TEST(Matrix, QuarterTurnAboutZMapsXToY) {
    const dgVector v(dgRotationMatrixZ(kPi * 0.5f).rotateVector(dgVector(1.0f, 0.0f, 0.0f, 0.0f)));
    expectNearVector(v, dgVector(0.0f, 1.0f, 0.0f, 1.0f), 1.0e-6f);
}

TEST(Matrix, AxisRotationsAreRightHanded) {
    // Quarter turns cycle x -> y -> z -> x about z, x and y respectively.
    expectNearVector(dgRotationMatrixX(kPi * 0.5f).rotateVector(dgVector(0.0f, 1.0f, 0.0f, 0.0f)),
                     dgVector(0.0f, 0.0f, 1.0f, 1.0f), 1.0e-6f);
    expectNearVector(dgRotationMatrixY(kPi * 0.5f).rotateVector(dgVector(0.0f, 0.0f, 1.0f, 0.0f)),
                     dgVector(1.0f, 0.0f, 0.0f, 1.0f), 1.0e-6f);
    for (const dgMatrix& m : {dgRotationMatrixX(0.7f), dgRotationMatrixY(0.7f), dgRotationMatrixZ(0.7f)}) {
        EXPECT_NEAR(determinant3(m), 1.0f, 1.0e-6f);
    }
}

TEST(Matrix, ProductAppliesLeftOperandFirst) {
    dgMatrix shift(dgGetIdentityMatrix());
    shift.position = dgVector(1.0f, 0.0f, 0.0f, 1.0f);
    const dgMatrix turn(dgRotationMatrixZ(kPi * 0.5f));
    const dgVector origin(0.0f, 0.0f, 0.0f, 1.0f);
    // Shift then turn carries the origin to (0, 1, 0); turn then shift to (1, 0, 0).
    expectNearVector((shift * turn).transformVector(origin), dgVector(0.0f, 1.0f, 0.0f, 1.0f), 1.0e-6f);
    expectNearVector((turn * shift).transformVector(origin), dgVector(1.0f, 0.0f, 0.0f, 1.0f), 1.0e-6f);

    std::mt19937 rng(3);
    for (int i = 0; i < 50; i++) {
        const dgMatrix a(randomFrame(rng));
        const dgMatrix b(randomFrame(rng));
        const dgVector p(1.5f, -2.0f, 0.5f, 1.0f);
        expectNearVector(a.multiply(b).transformVector(p), b.transformVector(a.transformVector(p)), 1.0e-4f);
    }
}

TEST(Matrix, MultiplyIsTheFullFourByFourProduct) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    dgMatrix a;
    dgMatrix b;
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            a[i][j] = value(rng);
            b[i][j] = value(rng);
        }
    }
    const dgMatrix c(a.multiply(b));
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            double expected = 0.0;
            for (int k = 0; k < 4; k++) {
                expected += double(a[i][k]) * b[k][j];
            }
            EXPECT_NEAR(c[i][j], expected, 1.0e-5);
        }
    }
}

TEST(Matrix, RigidInverseMatchesHandComputedFrame) {
    // Quarter turn about z placed at (1, 2, 3).
    dgMatrix m(dgRotationMatrixZ(kPi * 0.5f));
    m.position = dgVector(1.0f, 2.0f, 3.0f, 1.0f);
    const dgMatrix expected(dgVector(0.0f, -1.0f, 0.0f, 0.0f), dgVector(1.0f, 0.0f, 0.0f, 0.0f),
                            dgVector(0.0f, 0.0f, 1.0f, 0.0f), dgVector(-2.0f, 1.0f, -3.0f, 1.0f));
    expectNearMatrix(m.inverse(), expected, 1.0e-6f);

    std::mt19937 rng(9);
    for (int i = 0; i < 50; i++) {
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

TEST(Matrix, TransformBoxBoundsEveryCorner) {
    dgVector lo;
    dgVector hi;
    dgMatrix turn(dgRotationMatrixZ(kPi * 0.25f));
    turn.position = dgVector(1.0f, 2.0f, 3.0f, 1.0f);
    turn.transformBox(dgVector(-1.0f, -1.0f, -1.0f, 0.0f), dgVector(1.0f, 1.0f, 1.0f, 0.0f), lo, hi);
    const float r = std::sqrt(2.0f);
    expectNearVector(lo, dgVector(1.0f - r, 2.0f - r, 2.0f, 1.0f), 1.0e-5f);
    expectNearVector(hi, dgVector(1.0f + r, 2.0f + r, 4.0f, 1.0f), 1.0e-5f);

    std::mt19937 rng(19);
    const dgMatrix m(randomFrame(rng));
    const dgVector boxMin(-1.0f, -2.0f, 0.5f, 0.0f);
    const dgVector boxMax(3.0f, 1.0f, 4.0f, 0.0f);
    m.transformBox(boxMin, boxMax, lo, hi);
    for (int corner = 0; corner < 8; corner++) {
        const dgVector c(
            m.transformVector(dgVector((corner & 4) ? boxMax.x : boxMin.x, (corner & 2) ? boxMax.y : boxMin.y,
                                       (corner & 1) ? boxMax.z : boxMin.z, 1.0f)));
        for (int j = 0; j < 3; j++) {
            EXPECT_LE(lo[j], c[j]);
            EXPECT_GE(hi[j], c[j]);
        }
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

TEST(Matrix, EigenVectorsRecoverPrincipalAxes) {
    std::mt19937 rng(29);
    const float diag[3] = {5.0f, 2.0f, 0.5f};
    for (int trial = 0; trial < 20; trial++) {
        dgMatrix r(randomFrame(rng));
        r.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
        // S = R^T D R has the rows of R as eigenvectors.
        const dgMatrix s(r.inverse() * diagonal(diag[0], diag[1], diag[2]) * r);
        dgMatrix frame(s);
        dgVector values;
        frame.eigenVectors(values);

        EXPECT_NEAR(determinant3(frame), 1.0f, 1.0e-5f);
        expectNearVector(frame.position, dgVector(0.0f, 0.0f, 0.0f, 1.0f), 0.0f);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(frame[i].w, 0.0f);
            int match = -1;
            for (int k = 0; k < 3; k++) {
                if (std::fabs(values[i] - diag[k]) < 1.0e-4f) {
                    match = k;
                }
            }
            ASSERT_GE(match, 0) << values[i];
            EXPECT_NEAR(std::fabs(frame[i].dot(r[match])), 1.0f, 1.0e-5f);
        }
    }
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
