#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "dgContactReduction.h"

namespace {

constexpr int32_t kCanaries = 4;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// userId is the input index; the other members follow it, so a record that
// moved only in part shows.
dgContactPoint tagged(int64_t id, const dgVector& point) {
    dgContactPoint c;
    std::memset(&c, 0, sizeof(c));
    c.point = point;
    c.normal = dgVector(float(id), 1.0f, 2.0f, 0.0f);
    c.body1 = reinterpret_cast<dgBody*>(uintptr_t(16 * (id + 1)));
    c.userId = id;
    c.penetration = 0.5f * float(id);
    return c;
}

bool sameRecord(const dgContactPoint& a, const dgContactPoint& b) {
    return !std::memcmp(&a.point, &b.point, sizeof(dgVector)) && a.normal.x == b.normal.x &&
           a.body1 == b.body1 && a.userId == b.userId && a.penetration == b.penetration;
}

bool isFinite(const dgVector& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

double distance(const dgVector& a, const dgVector& b) {
    return testsupport::length(testsupport::toD3(a) - testsupport::toD3(b));
}

// A contact array, its input kept aside, canary records behind it.
struct ContactSet {
    std::vector<dgContactPoint> input;
    std::vector<dgContactPoint> records;

    explicit ContactSet(const std::vector<dgVector>& points) {
        for (size_t i = 0; i < points.size(); i++) {
            input.push_back(tagged(int64_t(i), points[i]));
        }
        records = input;
        for (int32_t i = 0; i < kCanaries; i++) {
            records.push_back(tagged(-1 - i, dgVector(1e3f, 2e3f, 3e3f, 1.0f)));
        }
    }
    int32_t count() const { return int32_t(input.size()); }
    dgContactPoint* data() { return records.data(); }
    bool survived(int64_t id, int32_t kept) const {
        for (int32_t i = 0; i < kept; i++) {
            if (records[size_t(i)].userId == id) {
                return true;
            }
        }
        return false;
    }
    // The first `kept` records are whole, distinct input records (in input
    // order when `ordered`: with kept == count, the input untouched); the
    // canaries are untouched.
    void expectSurvivors(int32_t kept, bool ordered) const {
        for (int32_t i = 0; i < kept; i++) {
            const int64_t id = records[size_t(i)].userId;
            ASSERT_TRUE(id >= 0 && id < count() && sameRecord(records[size_t(i)], input[size_t(id)])) << i;
            EXPECT_FALSE(survived(id, i)) << "input " << id << " twice";
            EXPECT_TRUE(!ordered || i == 0 || id > records[size_t(i - 1)].userId) << "out of order at " << i;
        }
        for (int32_t i = 0; i < kCanaries; i++) {
            EXPECT_TRUE(sameRecord(records[input.size() + size_t(i)],
                                   tagged(-1 - i, dgVector(1e3f, 2e3f, 3e3f, 1.0f))));
        }
    }
};

std::vector<dgVector> alongX(int32_t count, float spacing) {
    std::vector<dgVector> points;
    for (int32_t i = 0; i < count; i++) {
        points.push_back(dgVector(float(i) * spacing, 0.0f, 0.0f, 1.0f));
    }
    return points;
}

// Up to 160 points in clusters of near-duplicates at one of four scales; one
// set in six carries NaN or infinite coordinates, one in six lies so far
// apart that squared distances overflow.
std::vector<dgVector> randomSet(std::mt19937& rng) {
    std::uniform_int_distribution<int32_t> pick(0, 1 << 20);
    const float scales[] = {0.002f, 0.02f, 0.3f, 5.0f};
    std::uniform_real_distribution<float> u(-scales[pick(rng) % 4], scales[pick(rng) % 4] + 1e-3f);
    std::uniform_real_distribution<float> jitter(-0.004f, 0.004f);
    const int32_t kind = pick(rng) % 6;
    const int32_t count = pick(rng) % 161;
    std::vector<dgVector> centres(size_t(1 + count / 4));
    for (dgVector& c : centres) {
        c = dgVector(u(rng), u(rng), u(rng), 1.0f);
    }
    std::vector<dgVector> points;
    for (int32_t i = 0; i < count; i++) {
        const dgVector& c = centres[size_t(pick(rng)) % centres.size()];
        dgVector p(c.x + jitter(rng), c.y + jitter(rng), c.z + jitter(rng), 1.0f);
        if ((kind == 4) && (pick(rng) % 3 == 0)) {
            const float odd[] = {kNaN, kInf, -kInf};
            p[pick(rng) % 3] = odd[pick(rng) % 3];
        } else if (kind == 5) {
            p = p.scale((pick(rng) % 2) ? 1e30f : 3e37f);
        }
        points.push_back(p);
    }
    return points;
}

}  // namespace

// Properties over random contact sets, per maximum.
class ContactThinning : public testing::TestWithParam<int32_t> {};

TEST_P(ContactThinning, ReductionKeepsExactlyTheMaximumOfInputRecordsInOrder) {
    const int32_t maximum = GetParam();
    std::mt19937 rng(1357u + uint32_t(maximum + 5));
    for (int32_t trial = 0; trial < 600; trial++) {
        ContactSet set(randomSet(rng));
        const int32_t kept =
            dgWorldReduceContacts(set.count(), set.data(), maximum, dgContactReduceTolerance);
        ASSERT_EQ(kept, std::min(set.count(), std::max(maximum, 1))) << "trial " << trial;
        set.expectSurvivors(kept, true);
    }
}

TEST_P(ContactThinning, FilterRemovesOnlyNearDuplicatesAndHonoursItsMaximum) {
    const int32_t maximum = GetParam();
    std::mt19937 rng(2468u + uint32_t(maximum + 5));
    for (int32_t trial = 0; trial < 600; trial++) {
        ContactSet set(randomSet(rng));
        const int32_t kept = dgWorldFilterContacts(set.count(), set.data(), maximum);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << set.count() << " points");
        if (maximum < 1) {
            ASSERT_EQ(kept, 0);
            set.expectSurvivors(set.count(), true);
            continue;
        }
        ASSERT_TRUE(kept >= std::min(set.count(), 1) && kept <= std::min(set.count(), maximum)) << kept;
        // The small path fills a gap with the last record; the sweep keeps order.
        set.expectSurvivors(kept, set.count() >= 9);
        for (int32_t i = 0; i < kept; i++) {
            for (int32_t j = i + 1; j < kept; j++) {
                const dgVector& a = set.records[size_t(i)].point;
                const dgVector& b = set.records[size_t(j)].point;
                EXPECT_TRUE(!isFinite(a) || !isFinite(b) || distance(a, b) >= 0.005 * (1.0 - 1e-4))
                    << i << " " << j;
            }
        }
        // With room for all, a point goes only for a survivor within 0.005.
        for (const dgContactPoint& c : set.input) {
            bool covered = (set.count() > maximum) || set.survived(c.userId, kept);
            for (int32_t i = 0; (i < kept) && !covered && isFinite(c.point); i++) {
                covered = distance(c.point, set.records[size_t(i)].point) < 0.005 * (1.0 + 1e-4);
            }
            EXPECT_TRUE(covered) << "input " << c.userId;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Maxima, ContactThinning, testing::Values(-5, 0, 1, 2, 16, 128));

// The reduction ends with the clamped maximum whatever it is given.
struct EndingCase {
    const char* name;
    int32_t count, maximum;
    float tolerance;
    int32_t kind;  // points 0.1 apart along x; 1 all NaN; 2 huge and far apart; 3 coincident
    int32_t expected;
};

class ReductionEnds : public testing::TestWithParam<EndingCase> {};

TEST_P(ReductionEnds, ReturnsTheClampedMaximum) {
    const EndingCase& c = GetParam();
    std::vector<dgVector> points = alongX(c.count, 0.1f);
    for (int32_t i = 0; i < c.count; i++) {
        const dgVector odd[] = {points[size_t(i)], dgVector(kNaN, kNaN, kNaN, 1.0f),
                                dgVector(float(i) * 2e37f - 1e38f, 0.0f, 0.0f, 1.0f),
                                dgVector(1.0f, 2.0f, 3.0f, 1.0f)};
        points[size_t(i)] = odd[c.kind];
    }
    ContactSet set(points);
    const int32_t kept = dgWorldReduceContacts(set.count(), set.data(), c.maximum, c.tolerance);
    ASSERT_EQ(kept, c.expected);
    set.expectSurvivors(kept, true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReductionEnds,
    testing::Values(
        EndingCase{"maximumZero", 10, 0, 0.01f, 0, 1}, EndingCase{"maximumNegative", 10, -5, 0.01f, 0, 1},
        EndingCase{"countAtMaximum", 6, 6, 0.01f, 0, 6}, EndingCase{"emptySet", 0, 4, 0.01f, 0, 0},
        EndingCase{"allNaN", 20, 4, 0.01f, 1, 4}, EndingCase{"hugeAndFarApart", 10, 3, 0.01f, 2, 3},
        EndingCase{"zeroTolerance", 20, 16, 0.0f, 0, 16}, EndingCase{"nanTolerance", 20, 16, kNaN, 0, 16},
        EndingCase{"infiniteTolerance", 20, 5, kInf, 0, 5}, EndingCase{"coincident", 12, 1, 0.01f, 3, 1},
        EndingCase{"pastAFullArray", 300, 16, 0.01f, 0, 16}),
    [](const testing::TestParamInfo<EndingCase>& info) { return std::string(info.param.name); });

TEST(ContactReduction, LaterOfEachClosePairGoesOnceTheToleranceReachesIt) {
    // 0.1 apart: nothing within 0.01 ... 0.08; at 0.16 four later points go.
    ContactSet set(alongX(20, 0.1f));
    ASSERT_EQ(dgWorldReduceContacts(set.count(), set.data(), 16, dgContactReduceTolerance), 16);
    for (int64_t id : {1, 3, 5, 7}) {
        EXPECT_FALSE(set.survived(id, 16)) << id;
    }
}

TEST(ContactReduction, NonFinitePointsGoBeforeRealContacts) {
    std::vector<dgVector> points = alongX(12, 1.0f);
    points[3].y = kNaN;
    points[7].x = kInf;
    ContactSet set(points);
    ASSERT_EQ(dgWorldReduceContacts(set.count(), set.data(), 10, dgContactReduceTolerance), 10);
    EXPECT_FALSE(set.survived(3, 10) || set.survived(7, 10));
}

// The filter's fixed cases.
TEST(ContactFilter, SmallSetFillsTheGapWithTheLastRecord) {
    std::vector<dgVector> points = alongX(8, 1.0f);
    points[5] = points[2].add(dgVector(0.0f, 0.001f, 0.0f, 0.0f));
    ContactSet set(points);
    ASSERT_EQ(dgWorldFilterContacts(set.count(), set.data(), 16), 7);
    EXPECT_EQ(set.records[5].userId, 7);
}

TEST(ContactFilter, PointsExactlyTheToleranceApartAreBothKept) {
    ContactSet set({dgVector(0.0f, 0.0f, 0.0f, 1.0f), dgVector(0.005f, 0.0f, 0.0f, 1.0f)});
    EXPECT_EQ(dgWorldFilterContacts(set.count(), set.data(), 16), 2);
}

TEST(ContactFilter, CoincidentPointsLeaveOne) {
    // Which one stays is open (equal x): only the count is pinned.
    for (size_t count : {5, 10, 40}) {
        ContactSet set(std::vector<dgVector>(count, dgVector(0.5f, -1.0f, 2.0f, 1.0f)));
        EXPECT_EQ(dgWorldFilterContacts(set.count(), set.data(), 16), 1) << count;
    }
}
