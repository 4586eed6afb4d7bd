#include "dgCpu.h"
#include "dgWeld.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <fpu_control.h>

namespace {

struct Point {
    float x, y, z;
};

// Widened tolerance the weld compares with (tolerance + 0.0001).
double widened(float tolerance) {
    return double(tolerance) + 0.0001;
}

bool within(const Point& a, const Point& b, double t) {
    return (std::fabs(double(a.x) - double(b.x)) < t) && (std::fabs(double(a.y) - double(b.y)) < t) &&
           (std::fabs(double(a.z) - double(b.z)) < t);
}

bool samePoint(const Point& a, const Point& b) {
    return (a.x == b.x) && (a.y == b.y) && (a.z == b.z);
}

int32_t weld(std::vector<Point>& points, std::vector<int32_t>& indices, float tolerance) {
    indices.assign(points.size(), -7);
    return dgWeldVertices(points.data(), sizeof(Point), 12, 0, int32_t(points.size()), indices.data(),
                          tolerance);
}

// Checks what holds for every weld: each input maps to a unique vertex within
// the tolerance, each unique vertex is one of the inputs and is used.
void expectConsistent(const std::vector<Point>& input, const std::vector<Point>& output,
                      const std::vector<int32_t>& indices, int32_t unique, float tolerance) {
    ASSERT_GT(unique, 0);
    std::vector<bool> used(size_t(unique), false);
    for (size_t i = 0; i < input.size(); i++) {
        ASSERT_GE(indices[i], 0);
        ASSERT_LT(indices[i], unique);
        EXPECT_TRUE(within(input[i], output[size_t(indices[i])], widened(tolerance))) << i;
        used[size_t(indices[i])] = true;
    }
    for (int32_t u = 0; u < unique; u++) {
        EXPECT_TRUE(used[size_t(u)]) << u;
    }
    // The survivors are the inputs that represent themselves.
    for (size_t i = 0; i < input.size(); i++) {
        if (samePoint(input[i], output[size_t(indices[i])])) {
            continue;
        }
        bool isSomeInput = false;
        for (size_t j = 0; (j < input.size()) && !isSomeInput; j++) {
            isSomeInput = (indices[j] == indices[i]) && samePoint(input[j], output[size_t(indices[i])]);
        }
        EXPECT_TRUE(isSomeInput) << i;
    }
}

TEST(Weld, MergesCloseVerticesAndCompacts) {
    std::vector<Point> points = {{0.0f, 0.0f, 0.0f}, {0.0005f, 0.0f, 0.0f}, {5.0f, 0.0f, 0.0f}};
    std::vector<int32_t> indices;
    ASSERT_EQ(weld(points, indices, 0.001f), 2);
    EXPECT_EQ(indices, (std::vector<int32_t>{0, 0, 1}));
    EXPECT_TRUE(samePoint(points[0], {0.0f, 0.0f, 0.0f}));
    EXPECT_TRUE(samePoint(points[1], {5.0f, 0.0f, 0.0f}));
}

TEST(Weld, MergesWithinWidenedToleranceOnly) {
    struct Case {
        float gap;
        int32_t unique;
    };
    const Case cases[] = {{0.0010f, 1}, {0.0012f, 2}};
    for (const Case& c : cases) {
        std::vector<Point> points = {{1.0f, 2.0f, 3.0f}, {1.0f + c.gap, 2.0f, 3.0f}};
        std::vector<int32_t> indices;
        EXPECT_EQ(weld(points, indices, 0.001f), c.unique) << c.gap;
    }
}

TEST(Weld, UniqueVerticesFollowTheWidestAxis) {
    // Spread along z; x and y wander so that no other axis gives the same order.
    std::vector<Point> points;
    for (int k = 0; k < 40; k++) {
        points.push_back(
            {0.1f * std::sin(float(k) * 2.3f), 0.1f * std::cos(float(k) * 1.7f), float((k * 17) % 40)});
    }
    std::vector<int32_t> indices;
    ASSERT_EQ(weld(points, indices, 0.001f), 40);
    for (int k = 1; k < 40; k++) {
        EXPECT_LT(points[size_t(k - 1)].z, points[size_t(k)].z) << k;
    }
}

TEST(Weld, InvalidByteCountsChangeNothing) {
    struct Case {
        int32_t stride, toleranceBytes, exactBytes;
    };
    const Case cases[] = {{8, 8, 0}, {16, 16, 4}, {16, 8, 0}, {16, 4, 4}, {16, -4, 16}};
    float data[16];
    for (int k = 0; k < 16; k++) {
        data[k] = 0.0f;  // all equal: any weld would merge them
    }
    for (const Case& c : cases) {
        int32_t indices[4] = {77, 77, 77, 77};
        EXPECT_EQ(dgWeldVertices(data, c.stride, c.toleranceBytes, c.exactBytes, 4, indices, 0.001f), 0);
        for (int32_t index : indices) {
            EXPECT_EQ(index, 77);
        }
    }
}

struct TaggedPoint {
    float x, y, z;
    int32_t tag;
    float payload;
};

TEST(Weld, ExtraWordsComeFromTheRepresentative) {
    // One group along x: the representative is the first in sorted order.
    std::vector<TaggedPoint> points = {
        {0.0004f, 0.0f, 0.0f, 1, 10.0f},
        {0.0001f, 0.0f, 0.0f, 2, 20.0f},
        {0.0007f, 0.0f, 0.0f, 3, 30.0f},
        {9.0f, 0.0f, 0.0f, 4, 40.0f},
    };
    int32_t indices[4];
    ASSERT_EQ(dgWeldVertices(points.data(), sizeof(TaggedPoint), 12, 0, 4, indices, 0.001f), 2);
    EXPECT_EQ(indices[0], 0);
    EXPECT_EQ(indices[1], 0);
    EXPECT_EQ(indices[2], 0);
    EXPECT_EQ(indices[3], 1);
    EXPECT_EQ(points[0].x, 0.0001f);
    EXPECT_EQ(points[0].tag, 2);
    EXPECT_EQ(points[0].payload, 20.0f);
    EXPECT_EQ(points[1].tag, 4);
    EXPECT_EQ(points[1].payload, 40.0f);
}

TEST(Weld, ExactWordsMustMatchBitwise) {
    std::vector<TaggedPoint> points = {
        {1.0f, 1.0f, 1.0f, 5, 0.0f},
        {1.0f, 1.0f, 1.0f, 6, 0.0f},
        {1.0f, 1.0f, 1.0001f, 5, 1.0f},
    };
    int32_t indices[3];
    ASSERT_EQ(dgWeldVertices(points.data(), sizeof(TaggedPoint), 12, 4, 3, indices, 0.001f), 2);
    EXPECT_EQ(indices[0], indices[2]);
    EXPECT_NE(indices[0], indices[1]);

    // Without tolerance words every compared word is exact.
    std::vector<Point> exact = {
        {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, {std::nextafter(1.0f, 2.0f), 1.0f, 1.0f}};
    int32_t exactIndices[3];
    ASSERT_EQ(dgWeldVertices(exact.data(), sizeof(Point), 0, 12, 3, exactIndices, 0.001f), 2);
    EXPECT_EQ(exactIndices[0], exactIndices[1]);
    EXPECT_NE(exactIndices[0], exactIndices[2]);
}

TEST(Weld, ClusteredCloudMatchesKnownGroups) {
    // Cluster members lie within 0.0008 of each other, clusters at least 0.05
    // apart: the grouping is known independently of the weld's order.
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> noise(-0.0004f, 0.0004f);
    std::uniform_int_distribution<int> cell(0, 30);
    std::uniform_int_distribution<int> members(1, 6);
    std::vector<Point> input;
    std::vector<int> cluster;
    std::vector<int> used(31 * 31 * 31, 0);
    int clusters = 0;
    for (int c = 0; c < 2000; c++) {
        const int ix = cell(rng), iy = cell(rng), iz = cell(rng);
        if (used[size_t((ix * 31 + iy) * 31 + iz)]++) {
            continue;
        }
        const int count = members(rng);
        for (int m = 0; m < count; m++) {
            input.push_back({float(ix) * 0.05f + noise(rng), float(iy) * 0.05f + noise(rng),
                             float(iz) * 0.05f + noise(rng)});
            cluster.push_back(clusters);
        }
        clusters++;
    }
    // Interleave the clusters.
    std::vector<size_t> order(input.size());
    for (size_t i = 0; i < order.size(); i++) {
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<Point> shuffled;
    std::vector<int> shuffledCluster;
    for (size_t i : order) {
        shuffled.push_back(input[i]);
        shuffledCluster.push_back(cluster[i]);
    }

    std::vector<Point> points = shuffled;
    std::vector<int32_t> indices;
    const int32_t unique = weld(points, indices, 0.001f);
    ASSERT_EQ(unique, clusters);
    expectConsistent(shuffled, points, indices, unique, 0.001f);
    std::vector<int32_t> indexOfCluster(size_t(clusters), -1);
    for (size_t i = 0; i < shuffled.size(); i++) {
        int32_t& expected = indexOfCluster[size_t(shuffledCluster[i])];
        if (expected < 0) {
            expected = indices[i];
        }
        EXPECT_EQ(indices[i], expected) << i;
    }
}

TEST(Weld, DenseRandomCloudLeavesNoTwoSurvivorsWithinTolerance) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> coordinate(0.0f, 0.05f);
    std::vector<Point> input(3000);
    for (Point& p : input) {
        p = {coordinate(rng), coordinate(rng) * 0.5f, coordinate(rng) * 0.8f};
    }
    std::vector<Point> points = input;
    std::vector<int32_t> indices;
    const int32_t unique = weld(points, indices, 0.003f);
    ASSERT_GT(unique, 1);
    ASSERT_LT(unique, 3000);
    expectConsistent(input, points, indices, unique, 0.003f);
    // Brute force: no survivor lies within the tolerance of another, and the
    // survivors come out in ascending order of the widest axis (x here).
    for (int32_t a = 0; a < unique; a++) {
        if (a > 0) {
            EXPECT_LE(points[size_t(a - 1)].x, points[size_t(a)].x);
        }
        for (int32_t b = a + 1; b < unique; b++) {
            EXPECT_FALSE(within(points[size_t(a)], points[size_t(b)], widened(0.003f))) << a << " " << b;
        }
    }
}

// Symmetric pairs at +-k along x (mean 0) plus one pair 0.0006 apart straddling
// the mean: welded directly the pair merges, split first it cannot.
std::vector<Point> straddlingCloud(int32_t count) {
    std::vector<Point> points;
    points.push_back({-0.0003f, 0.0f, 0.0f});
    points.push_back({0.0003f, 0.0f, 0.0f});
    for (int32_t k = 1; int32_t(points.size()) + 2 <= count; k++) {
        points.push_back({float(k), 0.0f, 0.0f});
        points.push_back({-float(k), 0.0f, 0.0f});
    }
    if (int32_t(points.size()) < count) {
        points.push_back({0.0f, 0.0f, 1000.0f});
    }
    return points;
}

TEST(Weld, SplitsOnlyAboveThreshold) {
    std::vector<Point> direct = straddlingCloud(dgWeldSplitThreshold);
    ASSERT_EQ(direct.size(), size_t(dgWeldSplitThreshold));
    std::vector<int32_t> indices;
    EXPECT_EQ(weld(direct, indices, 0.001f), dgWeldSplitThreshold - 1);
    EXPECT_EQ(indices[0], indices[1]);

    std::vector<Point> split = straddlingCloud(dgWeldSplitThreshold + 1);
    ASSERT_EQ(split.size(), size_t(dgWeldSplitThreshold + 1));
    EXPECT_EQ(weld(split, indices, 0.001f), dgWeldSplitThreshold + 1);
    EXPECT_NE(indices[0], indices[1]);
}

TEST(Weld, LargeCloudThroughSplitStaysConsistent) {
    // 40000 sites on a 0.01 grid, each repeated three times within 0.0002.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.0001f, 0.0001f);
    std::vector<Point> input;
    for (int s = 0; s < 40000; s++) {
        const float x = float(s % 50) * 0.01f, y = float((s / 50) % 40) * 0.01f, z = float(s / 2000) * 0.01f;
        for (int r = 0; r < 3; r++) {
            input.push_back({x + noise(rng), y + noise(rng), z + noise(rng)});
        }
    }
    std::shuffle(input.begin(), input.end(), rng);
    ASSERT_GT(input.size(), size_t(dgWeldSplitThreshold));
    std::vector<Point> points = input;
    std::vector<int32_t> indices;
    const int32_t unique = weld(points, indices, 0.001f);
    // Only sites cut by a split plane can come out more than once.
    EXPECT_GE(unique, 40000);
    EXPECT_LE(unique, 40000 + 3000);
    std::vector<bool> used(size_t(unique), false);
    for (size_t i = 0; i < input.size(); i++) {
        ASSERT_GE(indices[i], 0);
        ASSERT_LT(indices[i], unique);
        ASSERT_TRUE(within(input[i], points[size_t(indices[i])], widened(0.001f))) << i;
        used[size_t(indices[i])] = true;
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), true), unique);
}

TEST(Weld, IdenticalVerticesAboveThresholdTerminate) {
    const float values[] = {0.1f, 3.3f, -1.0e30f, 0.0f};
    for (float v : values) {
        std::vector<Point> points(size_t(dgWeldSplitThreshold) + 5, Point{v, v, v});
        std::vector<int32_t> indices;
        const int32_t unique = weld(points, indices, 0.001f);
        ASSERT_GE(unique, 1);
        ASSERT_LE(unique, 2);
        for (int32_t index : indices) {
            ASSERT_GE(index, 0);
            ASSERT_LT(index, unique);
        }
        EXPECT_TRUE(samePoint(points[0], Point{v, v, v}));
    }
}

TEST(Weld, NonFiniteCoordinatesNeitherHangNorMerge) {
    // A NaN makes every mean and spread NaN, so the split has no usable value.
    std::vector<Point> points;
    for (int32_t k = 0; k <= dgWeldSplitThreshold; k++) {
        points.push_back({float(k % 1000), float(k / 1000), 0.0f});
    }
    points[10].x = std::nanf("");
    points[20].x = std::nanf("");
    points[30].y = INFINITY;
    std::vector<int32_t> indices;
    const int32_t unique = weld(points, indices, 0.001f);
    ASSERT_GE(unique, 1000);
    ASSERT_LE(unique, dgWeldSplitThreshold + 1);
    for (int32_t index : indices) {
        ASSERT_GE(index, 0);
        ASSERT_LT(index, unique);
    }
    EXPECT_NE(indices[10], indices[20]);
}

TEST(Weld, RestoresCallerFloatingPointControl) {
    fpu_control_t before;
    _FPU_GETCW(before);
    fpu_control_t changed = (before & ~fpu_control_t(_FPU_EXTENDED)) | _FPU_SINGLE;
    _FPU_SETCW(changed);
    std::vector<Point> points = {{0.0f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}};
    std::vector<int32_t> indices;
    weld(points, indices, 0.001f);
    fpu_control_t after;
    _FPU_GETCW(after);
    _FPU_SETCW(before);
    EXPECT_EQ(after, changed);
}

TEST(Cpu, ProbeReportsSse) {
#if defined(__x86_64__)
    EXPECT_EQ(dgProbeSimd(), 1);
#endif
    EXPECT_EQ(dgCpuHasSimd(), dgProbeSimd());
}

}  // namespace
