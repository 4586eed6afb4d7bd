#include <gtest/gtest.h>

#include "dgMath.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

const int32_t kStride = int32_t(3 * sizeof(float));

std::vector<float> boxCorners(const dgMatrix& frame, const float half[3]) {
    std::vector<float> points;
    for (int corner = 0; corner < 8; corner++) {
        const dgVector local((corner & 1) ? half[0] : -half[0], (corner & 2) ? half[1] : -half[1],
                             (corner & 4) ? half[2] : -half[2], 1.0f);
        const dgVector p(frame.transformVector(local));
        points.insert(points.end(), {p.x, p.y, p.z});
    }
    return points;
}

dgMatrix rotatedOffsetFrame() {
    const dgVector axis(dgVector(1.0f, -2.0f, 0.5f, 0.0f).scale(1.0f / std::sqrt(5.25f)));
    return dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(axis, 0.9f),
                                    dgVector(5.0f, -3.0f, 2.0f, 1.0f));
}

// Every point inside the box (with a little slack), orthonormal axes, finite
// non-negative sizes and a consistent radius.
void expectValidBoxAround(const dgOrientedBox& box, const std::vector<float>& points) {
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(box.frame[i].dot(box.frame[i]), 1.0f, 1.0e-5f);
        EXPECT_NEAR(box.frame[i].dot(box.frame[(i + 1) % 3]), 0.0f, 1.0e-5f);
        EXPECT_TRUE(std::isfinite(box.size[i]));
        EXPECT_GE(box.size[i], 0.002f);
    }
    EXPECT_FLOAT_EQ(box.radius, std::sqrt(box.size[0] * box.size[0] + box.size[1] * box.size[1] +
                                          box.size[2] * box.size[2]));
    for (size_t k = 0; k < points.size(); k += 3) {
        const dgVector p(dgVector::dgVector3(&points[k]));
        const dgVector local(box.frame.inverseTransformVector(p));
        for (int i = 0; i < 3; i++) {
            EXPECT_LE(std::fabs(local[i]), box.size[i] + 1.0e-4f) << "point " << k / 3 << " axis " << i;
        }
    }
}

}  // namespace

// The corners of random boxes (distinct half extents, turned and moved)
// give back the box's centre, its axes in some order and its half extents
// plus the 0.002 padding, as a right-handed frame; the same corners spread
// through a larger array (22-byte stride used as five floats) and fitted by
// index give the same box.
TEST(OrientedBox, FitRecoversRandomBoxesStridedAndIndexed) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int trial = 0; trial < 100; trial++) {
        const dgVector axis(dgVector(u(rng), u(rng), u(rng), 0.0f));
        const float length = std::sqrt(axis.dot(axis));
        if (length < 0.1f) {
            continue;
        }
        const dgMatrix frame(
            dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(axis.scale(1.0f / length), 3.0f * u(rng)),
                                     dgVector(5.0f * u(rng), 5.0f * u(rng), 5.0f * u(rng), 1.0f)));
        const float half[3] = {1.0f + 0.2f * u(rng), 2.0f + 0.2f * u(rng), 3.0f + 0.2f * u(rng)};
        const std::vector<float> points(boxCorners(frame, half));
        dgOrientedBox box;
        box.fitPoints(points.data(), kStride, 8);
        for (int j = 0; j < 3; j++) {
            EXPECT_NEAR(box.frame.position[j], frame.position[j], 1.0e-4f);
        }
        EXPECT_EQ(box.frame.position.w, 1.0f);
        bool used[3] = {false, false, false};
        for (int i = 0; i < 3; i++) {
            int match = -1;
            for (int j = 0; j < 3; j++) {
                if (std::fabs(std::fabs(box.frame[i].dot(frame[j])) - 1.0f) < 1.0e-4f) {
                    match = j;
                }
            }
            ASSERT_GE(match, 0) << "axis " << i;
            EXPECT_FALSE(used[match]);
            used[match] = true;
            EXPECT_NEAR(box.size[i], half[match] + 0.002f, 1.0e-4f);
        }
        EXPECT_NEAR(box.frame.front.dot(box.frame.up.cross(box.frame.right)), 1.0f, 1.0e-5f);

        std::vector<float> pool(5 * 20, 1000.0f);
        std::vector<uint32_t> indices;
        for (uint32_t k = 0; k < 8; k++) {
            const uint32_t slot = 19 - 2 * k;
            for (uint32_t j = 0; j < 3; j++) {
                pool[5 * slot + j] = points[3 * k + j];
            }
            indices.push_back(slot);
        }
        dgOrientedBox indexed;
        indexed.fitIndexedPoints(pool.data(), 22, indices.data(), int32_t(indices.size()));
        for (int i = 0; i < 4; i++) {
            for (int j = 0; j < 4; j++) {
                EXPECT_NEAR(indexed.frame[i][j], box.frame[i][j], 1.0e-5f);
            }
        }
        for (int i = 0; i < 3; i++) {
            EXPECT_NEAR(indexed.size[i], box.size[i], 1.0e-5f);
        }
    }
}

TEST(OrientedBox, GivenFrameIsCentredOnThePoints) {
    const float points[6] = {9.0f, 0.0f, 0.0f, 11.0f, 0.0f, 0.0f};
    dgMatrix frame(dgGetIdentityMatrix());
    frame.position = dgVector(10.0f, 0.0f, 0.0f, 1.0f);

    dgOrientedBox box;
    dgVector lo;
    dgVector hi;
    box.setMatrix(frame);
    box.calcBounds(points, kStride, 2, lo, hi);
    EXPECT_FLOAT_EQ(lo.x, -1.0f);
    EXPECT_FLOAT_EQ(hi.x, 1.0f);

    box.fitPoints(points, kStride, 2, &frame);
    EXPECT_FLOAT_EQ(box.frame.position.x, 10.0f);
    EXPECT_FLOAT_EQ(box.size[0], 1.002f);
    EXPECT_FLOAT_EQ(box.size[1], 0.002f);

    // A rotated frame placed away from the points keeps its axes and moves to
    // their centre.
    const dgMatrix boxFrame(rotatedOffsetFrame());
    const float half[3] = {1.0f, 1.0f, 1.0f};
    const std::vector<float> corners(boxCorners(boxFrame, half));
    dgMatrix given(boxFrame);
    given.position = dgVector(-7.0f, 4.0f, 1.0f, 1.0f);
    box.fitPoints(corners.data(), kStride, 8, &given);
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_EQ(box.frame[i][j], given[i][j]);
        }
        EXPECT_NEAR(box.frame.position[i], boxFrame.position[i], 1.0e-4f);
        EXPECT_NEAR(box.size[i], 1.002f, 1.0e-4f);
    }
}

// No points leave the empty box, like the shared default one.
TEST(OrientedBox, ZeroPointsLeaveAnEmptyBox) {
    const dgOrientedBox* shared = dgGetDefaultOrientedBox();
    EXPECT_EQ(shared, dgGetDefaultOrientedBox());
    dgOrientedBox box;
    box.setSize(3.0f, 3.0f, 3.0f);
    box.fitPoints(nullptr, kStride, 0);
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_EQ(box.frame[i][j], dgGetIdentityMatrix()[i][j]);
            EXPECT_EQ(shared->frame[i][j], dgGetIdentityMatrix()[i][j]);
        }
    }
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(box.size[i], 0.0f);
        EXPECT_EQ(shared->size[i], 0.0f);
    }
    EXPECT_EQ(box.radius, 0.0f);
    EXPECT_EQ(shared->radius, 0.0f);

    const dgMatrix frame(rotatedOffsetFrame());
    box.fitIndexedPoints(nullptr, kStride, nullptr, 0, &frame);
    EXPECT_EQ(box.frame.position.x, frame.position.x);
    EXPECT_EQ(box.size[2], 0.0f);

    dgVector spreads;
    box.fitAxes(dgVector(1.0f, 1.0f, 1.0f, 1.0f), spreads, nullptr, kStride, 0);
    EXPECT_EQ(spreads.x, 0.0f);
    EXPECT_EQ(box.frame.front.x, 1.0f);
}

TEST(OrientedBox, DegenerateSetsStillGetAValidBox) {
    std::mt19937 rng(71);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    const dgMatrix frame(rotatedOffsetFrame());
    auto place = [&frame](std::vector<float>& out, float x, float y, float z) {
        const dgVector p(frame.transformVector(dgVector(x, y, z, 1.0f)));
        out.insert(out.end(), {p.x, p.y, p.z});
    };

    std::vector<float> collinear;
    std::vector<float> coplanar;
    std::vector<float> square;
    std::vector<float> cube;
    for (int k = 0; k < 17; k++) {
        place(collinear, u(rng), 0.0f, 0.0f);
        place(coplanar, u(rng), u(rng), 0.0f);
    }
    for (int corner = 0; corner < 8; corner++) {
        const float x = (corner & 1) ? 1.0f : -1.0f;
        const float y = (corner & 2) ? 1.0f : -1.0f;
        const float z = (corner & 4) ? 1.0f : -1.0f;
        if (corner < 4) {
            place(square, x, y, 0.0f);
        }
        place(cube, x, y, z);
    }

    for (const std::vector<float>* points : {&collinear, &coplanar, &square, &cube}) {
        dgOrientedBox box;
        box.fitPoints(points->data(), kStride, int32_t(points->size() / 3));
        expectValidBoxAround(box, *points);
    }
    // One point five times over: padding only.
    const std::vector<float> single = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
    dgOrientedBox box;
    box.fitPoints(single.data(), kStride, 5);
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(box.frame.position[i], single[size_t(i)], 1.0e-6f);
        EXPECT_FLOAT_EQ(box.size[i], 0.002f);
    }
    expectValidBoxAround(box, single);
}

TEST(OrientedBox, EqualSpreadsTriggerBoundedRefits) {
    // Square corners in the xy plane: the covariance is isotropic in the plane,
    // so the x weight doubles until the spreads separate.
    const float square[12] = {1.0f, 1.0f, 0.0f, -1.0f, 1.0f, 0.0f, 1.0f, -1.0f, 0.0f, -1.0f, -1.0f, 0.0f};
    dgOrientedBox probe;
    dgVector spreads;
    probe.fitAxes(dgVector(1.0f, 1.0f, 1.0f, 1.0f), spreads, square, kStride, 4);
    EXPECT_GT(dgOrientedBoxSpreadRatio(spreads.x, spreads.y), 0.9f);
    probe.fitAxes(dgVector(2.0f, 1.0f, 1.0f, 1.0f), spreads, square, kStride, 4);
    EXPECT_FLOAT_EQ(spreads.x, 4.0f);
    EXPECT_FLOAT_EQ(spreads.y, 1.0f);

    dgOrientedBox box;
    box.fitPoints(square, kStride, 4);
    EXPECT_NEAR(std::fabs(box.frame.front.x), 1.0f, 1.0e-6f);
    EXPECT_FLOAT_EQ(box.size[0], 1.002f);
    EXPECT_FLOAT_EQ(box.size[1], 1.002f);
    EXPECT_FLOAT_EQ(box.size[2], 0.002f);
}

TEST(OrientedBox, SpreadRatio) {
    EXPECT_FLOAT_EQ(dgOrientedBoxSpreadRatio(2.0f, -4.0f), 0.5f);
    EXPECT_FLOAT_EQ(dgOrientedBoxSpreadRatio(-4.0f, 2.0f), 0.5f);
    EXPECT_EQ(dgOrientedBoxSpreadRatio(3.0f, 3.0f), 1.0f);
    EXPECT_EQ(dgOrientedBoxSpreadRatio(0.0f, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(dgOrientedBoxSpreadRatio(1.0e-13f, 1.0e-13f), 0.1f);
}

TEST(OrientedBox, SetSizeDropsSigns) {
    dgOrientedBox box;
    box.setSize(-1.0f, 2.0f, -2.0f);
    EXPECT_EQ(box.size[0], 1.0f);
    EXPECT_EQ(box.size[1], 2.0f);
    EXPECT_EQ(box.size[2], 2.0f);
    EXPECT_EQ(box.radius, 3.0f);

    const dgOrientedBox placed(dgQuaternion(0.0f, 0.0f, 0.0f, 1.0f), dgVector(1.0f, 2.0f, 3.0f, 1.0f),
                               dgVector(-1.0f, 2.0f, -2.0f, 0.0f));
    EXPECT_EQ(placed.frame.position.y, 2.0f);
    EXPECT_EQ(placed.frame.position.w, 1.0f);
    EXPECT_EQ(placed.size[2], 2.0f);
    EXPECT_EQ(placed.radius, 3.0f);
}
