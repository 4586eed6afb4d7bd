// The polygon-soup shape and its convex face over a brute-force face list:
// box gathering and its limits, ray casts under the shape contract, the
// polygon walk, the face object against brute force, the face size limit and
// memory balance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgIntersections.h"

namespace {

using namespace shapetest;

typedef dgCollisionPolygonalSoup::dgCollisionConvexPolygon Face;
typedef dgRefHolder<dgCollisionPolygonalSoup> SoupHolder;
typedef dgRefHolder<dgCollisionBox> BoxHolder;

// Faces kept as a soup keeps them: one vertex array, five floats a vertex (so
// the byte and float strides both differ from a packed triple), the faces'
// index lists one after another.
struct FaceList {
    static constexpr int32_t kStride = 5;
    static constexpr int32_t kStrideBytes = kStride * int32_t(sizeof(float));
    std::vector<float> vertices;
    std::vector<int32_t> indices, first, counts, attributes;

    void add(const std::vector<dgVector>& points, int32_t attribute) {
        first.push_back(int32_t(indices.size()));
        counts.push_back(int32_t(points.size()));
        attributes.push_back(attribute);
        for (const dgVector& p : points) {
            indices.push_back(int32_t(vertices.size() / kStride));
            vertices.insert(vertices.end(), {p.x, p.y, p.z, 9.0f, 9.0f});
        }
    }
    int32_t size() const { return int32_t(counts.size()); }
    const int32_t* faceIndices(int32_t f) const { return &indices[size_t(first[f])]; }
    dgVector vertex(int32_t f, int32_t k) const {
        const float* v = &vertices[size_t(faceIndices(f)[k]) * kStride];
        return dgVector(v[0], v[1], v[2], 1.0f);
    }
    void box(int32_t f, dgVector& lo, dgVector& hi) const {
        lo = hi = vertex(f, 0);
        for (int32_t k = 1; k < counts[f]; k++) {
            const dgVector p(vertex(f, k));
            for (int32_t j = 0; j < 3; j++) {
                lo[j] = std::min(lo[j], p[j]);
                hi[j] = std::max(hi[j], p[j]);
            }
        }
    }
};

void collideByBox(dgPolygonSoupCollideDesc* desc) {
    const FaceList& list = *static_cast<const FaceList*>(desc->m_userData);
    for (int32_t f = 0; f < list.size(); f++) {
        dgVector lo, hi;
        list.box(f, lo, hi);
        if (dgBoxOverlap(lo, hi, desc->m_boxMin, desc->m_boxMax) &&
            !desc->addFace(list.vertices.data(), FaceList::kStrideBytes, list.faceIndices(f), list.counts[f],
                           list.attributes[f])) {
            return;
        }
    }
}

void walkAll(dgPolygonSoupCollideDesc* desc) {
    const FaceList& list = *static_cast<const FaceList*>(desc->m_userData);
    for (int32_t f = 0; f < list.size(); f++) {
        if (!desc->walkFace(list.vertices.data(), FaceList::kStrideBytes, list.faceIndices(f), list.counts[f],
                            list.attributes[f])) {
            return;
        }
    }
}

// The nearest face along the ray; its normal unnormalised, misses at 2.0.
float nearestFace(dgPolygonSoupRayDesc* desc) {
    const FaceList& list = *static_cast<const FaceList*>(desc->m_userData);
    float best = 2.0f;
    for (int32_t f = 0; f < list.size(); f++) {
        float t;
        dgVector n;
        if (dgRayFaceTest(desc->m_p0, desc->m_p1, list.vertices.data(), FaceList::kStrideBytes,
                          list.faceIndices(f), list.counts[f], t, n) &&
            (t < best)) {
            best = t;
            desc->m_normal = n;
            desc->m_attribute = list.attributes[f];
        }
    }
    return best;
}

// A convex face of n vertices on a circle of the given radius in the xy plane
// of pose, counter-clockwise about its z axis (the face's front).
std::vector<dgVector> convexFace(std::mt19937& rng, int32_t n, const dgMatrix& pose, float radius) {
    std::uniform_real_distribution<float> jitter(0.0f, 0.5f);
    std::vector<dgVector> points;
    for (int32_t i = 0; i < n; i++) {
        const double a = 2.0 * kPi * (double(i) + double(jitter(rng))) / double(n);
        dgVector p(
            pose.transformVector(dgVector(radius * float(std::cos(a)), radius * float(std::sin(a)), 0, 1)));
        p.w = 1.0f;
        points.push_back(p);
    }
    return points;
}

FaceList randomSoup(std::mt19937& rng, int32_t faces) {
    std::uniform_int_distribution<int32_t> sides(3, 8);
    std::uniform_real_distribution<float> radius(0.5f, 3.0f);
    FaceList list;
    for (int32_t f = 0; f < faces; f++) {
        list.add(convexFace(rng, sides(rng), randomPose(rng, 8.0f), radius(rng)), int32_t(0x80000000u) + f);
    }
    return list;
}

SoupHolder makeSoup(FaceList& list, dgPolygonSoupRayCastCallback ray = nearestFace,
                    dgPolygonSoupDestroyCallback destroy = nullptr) {
    SoupHolder soup = SoupHolder::adopt(new dgCollisionPolygonalSoup(&list, collideByBox, ray, destroy));
    dgVector lo(1e30f, 1e30f, 1e30f, 1), hi(-1e30f, -1e30f, -1e30f, 1), a, b;
    for (int32_t f = 0; f < list.size(); f++) {
        list.box(f, a, b);
        for (int32_t j = 0; j < 3; j++) {
            lo[j] = std::min(lo[j], a[j]);
            hi[j] = std::max(hi[j], b[j]);
        }
    }
    soup->setCollisionBBox(hi, lo);
    return soup;
}

// The whole soup gathered; face f of the record starts at offsets[f].
void gatherAll(const dgCollisionPolygonalSoup& soup, dgPolygonSoupCollideDesc& desc,
               std::vector<int32_t>& offsets) {
    desc.m_boxMin = dgVector(-1e6f, -1e6f, -1e6f, 1);
    desc.m_boxMax = dgVector(1e6f, 1e6f, 1e6f, 1);
    soup.gatherFaces(desc);
    offsets.clear();
    for (int32_t f = 0, at = 0; f < desc.m_faceCount; at += desc.m_faceIndexCounts[f++]) {
        offsets.push_back(at);
    }
}

dgContactPoint staleContact() {
    dgContactPoint c;
    c.normal = dgVector(7, 7, 7, 7);
    c.userId = -5;
    return c;
}

}  // namespace

// ---- identities and the slots with nothing to answer ----

TEST(PolygonSoup, IdentitiesAndInertSlotsAreSafe) {
    FaceList list;
    SoupHolder soup = makeSoup(list);
    EXPECT_EQ(soup->getClassId(), dgHashConstText("dgCollisionPolygonalSoup"));
    EXPECT_TRUE(soup->isClass(dgCollision::kClassId) && soup->isClass(dgRef::kClassId));
    EXPECT_EQ(soup->getShapeType(), uint32_t(dgShapePolygonSoup));
    EXPECT_EQ(soup->calcSignature(), 0u);
    EXPECT_EQ(soup->getUserData(), &list);
    EXPECT_EQ(soup->getUserId(), uint32_t(uintptr_t(&list)));
    soup->setUserId(3u);
    EXPECT_EQ(soup->getUserData(), &list);
    EXPECT_EQ(soup->getVolume(), 0.0f);
    EXPECT_EQ(soup->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr).w, 0.0f);

    Face* face = soup->getFace();
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->getClassId(), dgHashConstText("dgCollisionPolygonalSoup::dgCollisionConvexPolygon"));
    EXPECT_TRUE(face->isClass(dgConvexCollision::kClassId) && face->isClass(dgCollision::kClassId));
    EXPECT_EQ(face->getShapeType(), uint32_t(dgShapeSoupFace));
    EXPECT_EQ(face->calcSignature(), 0x12341234u);
    // No face loaded, and the convex base's own queries over an empty
    // polyhedron: everything answers empty.
    dgBody body = placedBody(turnedAndMoved());
    dgVector points[dgPlaneIntersectionMaxPoints], lo, hi, inertia(1, 1, 1, 0), origin(1, 1, 1, 0);
    dgContactPoint contact = staleContact();
    const dgVector up(0, 1, 0, 0), down(0, -1, 0, 1);
    EXPECT_EQ(face->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) { FAIL(); }), 0);
    EXPECT_EQ(face->rayCast(up, down, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(face->dgConvexCollision::rayCast(up, down, contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(face->calcPlaneIntersection(up, down, points), 0);
    EXPECT_EQ(face->dgConvexCollision::calcPlaneIntersection(up, down, points), 0);
    EXPECT_EQ(face->dgConvexCollision::supportVertex(up) % up, 0.0f);
    EXPECT_EQ(face->supportVertex(up) % up, 0.0f);
    EXPECT_EQ(face->dgConvexCollision::getVolume(), 0.0f);
    EXPECT_EQ(face->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr).w, 0.0f);
    face->calcInertia(inertia, origin);
    EXPECT_EQ(inertia % inertia + origin % origin, 0.0f);
    face->calcAABB(turnedAndMoved(), lo, hi);
    EXPECT_EQ(lo.x, hi.x);
    EXPECT_EQ(lo.y, turnedAndMoved().position.y);
}

// ---- box ----

TEST(PolygonSoup, BoxIsTheSameEitherCornerOrderAndPlacesTightly) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    FaceList list;
    SoupHolder soup = makeSoup(list);
    for (int32_t i = 0; i < 1000; i++) {
        const dgVector a(u(rng), u(rng), u(rng), 0), b(u(rng), u(rng), u(rng), 0);
        const dgMatrix pose(randomPose(rng, 100.0f));
        dgVector lo1, hi1, lo2, hi2, lo3, hi3;
        soup->setCollisionBBox(a, b);
        soup->calcAABB(pose, lo1, hi1);
        soup->setCollisionBBox(b, a);
        soup->calcAABB(pose, lo2, hi2);
        pose.transformBox(soup->getBoxMin(), soup->getBoxMax(), lo3, hi3);
        for (int32_t j = 0; j < 4; j++) {
            EXPECT_EQ(lo1[j], lo2[j]);
            EXPECT_EQ(hi1[j], hi2[j]);
            EXPECT_NEAR(lo1[j], lo3[j], 1e-3f);
            EXPECT_NEAR(hi1[j], hi3[j], 1e-3f);
        }
    }
}

// ---- gathering ----

TEST(PolygonSoup, GatheringReportsExactlyTheOverlappingFaces) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> u(-10.0f, 10.0f), e(0.0f, 6.0f);
    FaceList list = randomSoup(rng, 60);
    SoupHolder soup = makeSoup(list);
    dgPolygonSoupCollideDesc desc;
    for (int32_t i = 0; i < 300; i++) {
        const dgVector c(u(rng), u(rng), u(rng), 1), h(e(rng), e(rng), e(rng), 0);
        desc.m_boxMin = c - h;
        desc.m_boxMax = c + h;
        const int32_t count = soup->gatherFaces(desc);
        ASSERT_EQ(count, desc.m_faceCount);
        int32_t at = 0, face = 0;
        for (int32_t f = 0; f < list.size(); f++) {
            dgVector lo, hi;
            list.box(f, lo, hi);
            if (!dgBoxOverlap(lo, hi, desc.m_boxMin, desc.m_boxMax)) {
                continue;
            }
            ASSERT_LT(face, count);
            EXPECT_EQ(desc.m_faceAttributes[face], list.attributes[f]);
            ASSERT_EQ(desc.m_faceIndexCounts[face], list.counts[f]);
            for (int32_t k = 0; k < list.counts[f]; k++) {
                EXPECT_EQ(desc.m_faceIndices[at + k], list.faceIndices(f)[k]);
            }
            at += list.counts[f];
            face++;
        }
        EXPECT_EQ(face, count);
        EXPECT_EQ(at, desc.m_indexCount);
        EXPECT_EQ(desc.m_vertexArray, count ? list.vertices.data() : nullptr);
        EXPECT_EQ(desc.m_vertexStrideInBytes, count ? FaceList::kStrideBytes : 0);
    }
    // Boxes that are not a number or inverted end the query with no face.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const dgVector bad[3] = {dgVector(nan, -1e6f, -1e6f, 1), dgVector(-1e6f, 1e7f, -1e6f, 1),
                             dgVector(-1e6f, -1e6f, nan, 1)};
    for (const dgVector& lo : bad) {
        desc.m_boxMin = lo;
        desc.m_boxMax = dgVector(1e6f, 1e6f, 1e6f, 1);
        EXPECT_EQ(soup->gatherFaces(desc), 0);
        EXPECT_EQ(desc.m_indexCount, 0);
    }
}

struct LimitCase {
    int32_t sides, faces, expectFaces;
};
class PolygonSoupLimits : public testing::TestWithParam<LimitCase> {};

TEST_P(PolygonSoupLimits, GatheringStopsAtTheRecordCapacity) {
    const LimitCase& c = GetParam();
    std::mt19937 rng(31);
    FaceList list;
    for (int32_t f = 0; f < c.faces; f++) {
        list.add(convexFace(rng, c.sides, dgGetIdentityMatrix(), 1.0f), f);
    }
    SoupHolder soup = makeSoup(list);
    dgPolygonSoupCollideDesc desc;
    std::vector<int32_t> offsets;
    gatherAll(*soup, desc, offsets);
    EXPECT_EQ(desc.m_faceCount, c.expectFaces);
    EXPECT_EQ(desc.m_indexCount, c.expectFaces * c.sides);
    EXPECT_LT(desc.m_indexCount, dgPolygonSoupCollideDesc::kMaxIndices);
    EXPECT_EQ(desc.m_faceAttributes[c.expectFaces - 1], c.expectFaces - 1);
}

INSTANTIATE_TEST_SUITE_P(Capacity, PolygonSoupLimits,
                         testing::Values(LimitCase{3, 2049, 2048}, LimitCase{3, 2048, 2048},
                                         LimitCase{100, 90, 81}, LimitCase{4096, 2, 1}));

// ---- ray casts ----

struct ScriptedRay {
    float t;
    dgVector normal;
    int32_t calls;
};
ScriptedRay g_script;

float scriptedRay(dgPolygonSoupRayDesc* desc) {
    g_script.calls++;
    desc->m_normal = g_script.normal;
    desc->m_attribute = int32_t(0x80000001u);
    return g_script.t;
}

struct RayCase {
    float t;
    bool hit;
};
class PolygonSoupRayContract : public testing::TestWithParam<RayCase> {};

// Every value the callback may return reaches the caller as a hit in [0, 1]
// with a unit normal and the zero-extended attribute, or as kRayMiss.
TEST_P(PolygonSoupRayContract, CallbackResultsFollowTheShapeContract) {
    FaceList list;
    SoupHolder soup = makeSoup(list, scriptedRay);
    g_script = ScriptedRay{GetParam().t, dgVector(0.0f, 3.0f, 4.0f, 1.0f), 0};
    dgContactPoint contact = staleContact();
    const float t =
        soup->rayCast(dgVector(0, 5, 0, 1), dgVector(0, -5, 0, 1), contact, nullptr, nullptr, nullptr);
    EXPECT_EQ(g_script.calls, 1);
    if (!GetParam().hit) {
        EXPECT_EQ(t, dgCollision::kRayMiss);
        return;
    }
    EXPECT_EQ(t, GetParam().t);
    EXPECT_NEAR(contact.normal.y, 0.6f, 1e-6f);
    EXPECT_NEAR(contact.normal.z, 0.8f, 1e-6f);
    EXPECT_EQ(contact.normal.x, 0.0f);
    EXPECT_EQ(contact.userId, int64_t(0x80000001u));
}

const float kInf = std::numeric_limits<float>::infinity();
INSTANTIATE_TEST_SUITE_P(Values, PolygonSoupRayContract,
                         testing::Values(RayCase{0.0f, true}, RayCase{0.5f, true}, RayCase{0.999f, true},
                                         RayCase{1.0f, true}, RayCase{std::nextafter(1.0f, 2.0f), false},
                                         RayCase{1.1f, false}, RayCase{2.0f, false}, RayCase{-0.25f, false},
                                         RayCase{std::numeric_limits<float>::quiet_NaN(), false},
                                         RayCase{kInf, false}, RayCase{-kInf, false}));

TEST(PolygonSoup, RaysThatCannotHitNeverReachTheCallback) {
    FaceList list;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const dgVector a(0, 5, 0, 1), b(0, -5, 0, 1), bad(0, nan, 0, 1);
    dgContactPoint contact = staleContact();
    int32_t vetoes = 0;
    SoupHolder soup = makeSoup(list, scriptedRay);
    SoupHolder blind = makeSoup(list, nullptr);
    g_script = ScriptedRay{0.5f, dgVector(0, 1, 0, 0), 0};
    EXPECT_EQ(soup->rayCast(a, b, contact, vetoAll, nullptr, &vetoes), dgCollision::kRayMiss);
    EXPECT_EQ(soup->rayCast(bad, b, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(soup->rayCast(a, dgVector(kInf, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(blind->rayCast(a, b, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(vetoes, 1);
    EXPECT_EQ(g_script.calls, 0);
    // A hit without a usable normal cannot be reported.
    g_script.normal = dgVector(0, 0, 0, 0);
    EXPECT_EQ(soup->rayCast(a, b, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
}

TEST(PolygonSoup, RayCastsAnswerTheNearestFace) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> u(-12.0f, 12.0f);
    FaceList list = randomSoup(rng, 40);
    SoupHolder soup = makeSoup(list);
    int32_t hits = 0;
    for (int32_t i = 0; i < 3000; i++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1), p1(u(rng), u(rng), u(rng), 1);
        float best = 2.0f;
        int32_t bestFace = -1;
        for (int32_t f = 0; f < list.size(); f++) {
            float t;
            dgVector n;
            if (dgRayFaceTest(p0, p1, list.vertices.data(), FaceList::kStrideBytes, list.faceIndices(f),
                              list.counts[f], t, n) &&
                (t < best)) {
                best = t;
                bestFace = f;
            }
        }
        dgContactPoint contact = staleContact();
        const float t = soup->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        if (bestFace < 0) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        hits++;
        ASSERT_EQ(t, best);
        const dgVector f0(list.vertex(bestFace, 0));
        dgVector n((list.vertex(bestFace, 1) - f0).cross(list.vertex(bestFace, 2) - f0));
        n = n.scale(1.0f / std::sqrt(n % n));
        EXPECT_NEAR(contact.normal % n, 1.0f, 1e-5f);
        EXPECT_EQ(contact.userId, int64_t(uint32_t(list.attributes[bestFace])));
    }
    EXPECT_GT(hits, 100);
}

// ---- polygon walk ----

struct WalkedFace {
    std::vector<float> points;
    int32_t id;
};
std::vector<WalkedFace> g_walked;

TEST(PolygonSoup, PolygonWalkPlacesEveryFaceByTheBodyMatrix) {
    std::mt19937 rng(51);
    FaceList list = randomSoup(rng, 20);
    list.add(convexFace(rng, 300, randomPose(rng, 5.0f), 2.0f), 77);
    SoupHolder soup = makeSoup(list);
    // What the interface does around a walk.
    soup->setCollideCallback(walkAll);
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix pose(randomPose(rng, 1000.0f));
        dgBody body = placedBody(pose);
        g_walked.clear();
        const int32_t walked =
            soup->forEachPolygon(&body, [](const dgBody*, int32_t n, const float* v, int32_t id) {
                g_walked.push_back(WalkedFace{std::vector<float>(v, v + 3 * n), id});
            });
        ASSERT_EQ(walked, list.size());
        ASSERT_EQ(int32_t(g_walked.size()), list.size());
        for (int32_t f = 0; f < list.size(); f++) {
            EXPECT_EQ(g_walked[f].id, list.attributes[f]);
            ASSERT_EQ(int32_t(g_walked[f].points.size()), 3 * list.counts[f]);
            for (int32_t k = 0; k < list.counts[f]; k++) {
                const dgVector p(pose.transformVector(list.vertex(f, k)));
                for (int32_t j = 0; j < 3; j++) {
                    EXPECT_NEAR(g_walked[f].points[3 * k + j], p[j], 1e-3f);
                }
            }
        }
    }
    soup->setCollideCallback(collideByBox);
}

// ---- the face object ----

namespace {

// Distance from p to the convex planar polygon, in double.
double polygonDistance(const dgVector& p, const std::vector<dgVector>& face, const dgVector& normal) {
    const D3 q(toD3(p)), n(toD3(normal)), f0(toD3(face[0]));
    const D3 projected(q - n * dot(q - f0, n));
    bool inside = true;
    double best = 1e30;
    for (size_t i = 0; i < face.size(); i++) {
        const D3 a(toD3(face[i])), b(toD3(face[(i + 1) % face.size()]));
        inside = inside && (dot(cross(b - a, projected - a), n) >= 0.0);
        const D3 ab(b - a);
        const double s = std::max(0.0, std::min(1.0, dot(q - a, ab) / dot(ab, ab)));
        best = std::min(best, length(q - (a + ab * s)));
    }
    return inside ? std::fabs(dot(q - f0, n)) : best;
}

// The part of the face on the normal's side of the plane (m, d), projected
// onto the plane: its kept vertices and its edges' crossings.
std::vector<D3> projectedCut(const std::vector<dgVector>& face, const D3& m, double d) {
    std::vector<D3> out;
    for (size_t i = 0; i < face.size(); i++) {
        const D3 a(toD3(face[(i + face.size() - 1) % face.size()])), b(toD3(face[i]));
        const double sa = dot(m, a) + d, sb = dot(m, b) + d;
        if (sa > 0.0) {
            out.push_back(a - m * sa);
        }
        if ((sa > 0.0) != (sb > 0.0)) {
            out.push_back(a + (b - a) * (sa / (sa - sb)));
        }
    }
    return out;
}

double nearestOf(const D3& p, const std::vector<D3>& set) {
    double best = 1e30;
    for (const D3& q : set) {
        best = std::min(best, length(p - q));
    }
    return best;
}

}  // namespace

class PolygonSoupFace : public testing::TestWithParam<int32_t> {};

// Faces gathered through the record (byte stride), loaded into the face
// object (float stride) and asked everything it answers.
TEST_P(PolygonSoupFace, LoadedFaceAnswersLikeBruteForce) {
    const int32_t n = GetParam();
    std::mt19937 rng(61 + n);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f), size(0.2f, 3.0f);
    BoxHolder box = BoxHolder::adopt(new dgCollisionBox(1u, 1.5f, 0.8f, 2.5f, dgGetIdentityMatrix()));
    const dgVector& h = box->getHalfExtents();
    for (int32_t trial = 0; trial < 150; trial++) {
        const dgMatrix pose(randomPose(rng, 3.0f));
        const dgVector front(pose.right.x, pose.right.y, pose.right.z, 0.0f);
        FaceList list;
        list.add(convexFace(rng, n, pose, size(rng)), 5);
        std::vector<dgVector> verts;
        for (int32_t k = 0; k < n; k++) {
            verts.push_back(list.vertex(0, k));
        }
        SoupHolder soup = makeSoup(list);
        dgPolygonSoupCollideDesc desc;
        std::vector<int32_t> offsets;
        gatherAll(*soup, desc, offsets);
        ASSERT_EQ(desc.m_faceCount, 1);
        Face& face = *soup->getFace();
        face.setFace(desc.m_vertexArray, desc.m_vertexStrideInBytes / int32_t(sizeof(float)),
                     desc.m_faceIndices + offsets[0], desc.m_faceIndexCounts[0]);

        // The box's reach along the face normal, corner by corner.
        const dgMatrix boxPose(randomPose(rng, 4.0f));
        double highest = -1e30, lowest = 1e30;
        for (int32_t c = 0; c < 8; c++) {
            const dgVector corner((c & 1) ? h.x : -h.x, (c & 2) ? h.y : -h.y, (c & 4) ? h.z : -h.z, 1.0f);
            const double s = dot(toD3(boxPose.transformVector(corner)) - toD3(verts[0]), toD3(front));
            highest = std::max(highest, s);
            lowest = std::min(lowest, s);
        }
        const int32_t quick = face.quickTest(*box, boxPose.inverse());
        ASSERT_EQ(face.getStoredCount(), n);
        EXPECT_NEAR(face.getFaceNormal() % front, 1.0f, 1e-4f);
        if (std::fabs(highest) > 1e-3) {
            EXPECT_EQ(quick, (highest >= 0.0) ? 1 : 0);
        }

        // Contacts turned away from the face are dropped, those off its
        // normal flagged; the matrix carries the normal into the box's frame.
        dgContactPoint contacts[12];
        uint8_t flags[12];
        const dgVector rotated(boxPose.inverse().rotateVector(front));
        int32_t kept = 0;
        for (int32_t i = 0; i < 12; i++) {
            contacts[i].normal = (i < 3) ? rotated : randomUnit(rng);
            contacts[i].penetration = float(i);
            kept += ((rotated % contacts[i].normal) >= 0.1f) ? 1 : 0;
        }
        ASSERT_EQ(face.filterContacts(12, contacts, boxPose.inverse(), flags), kept);
        for (int32_t i = 0; i < kept; i++) {
            const float c = rotated % contacts[i].normal;
            EXPECT_GE(c, 0.1f);
            EXPECT_EQ(flags[i], (c < 0.999f) ? 1 : 0);
        }

        for (int32_t i = 0; i < 8; i++) {
            const dgVector dir(randomUnit(rng));
            float expect = -1e30f;
            for (const dgVector& v : verts) {
                expect = std::max(expect, v % dir);
            }
            EXPECT_EQ(face.supportVertex(dir) % dir, expect);

            // Rays through the plane near the face, from either side.
            const dgVector c(verts[0].scale(0.5f) + verts[size_t(n / 2)].scale(0.5f));
            const dgVector off(u(rng), u(rng), u(rng), 0.0f);
            const float side = (i & 1) ? -2.0f : 2.0f;
            const dgVector p0(c + front.scale(side) + off), p1(c - front.scale(side) - off);
            float expectT = dgCollision::kRayMiss;
            dgVector normal;
            dgRayFaceTest(p0, p1, list.vertices.data(), FaceList::kStrideBytes, list.faceIndices(0), n,
                          expectT, normal);
            dgContactPoint contact = staleContact();
            const float t = face.rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
            EXPECT_EQ(t, expectT);
            if (t <= 1.0f) {
                EXPECT_NEAR(contact.normal % front, 1.0f, 1e-4f);
            }

            // Nearest point within a radius.
            const dgVector p(c + dgVector(u(rng), u(rng), u(rng), 0.0f).scale(3.0f));
            const float radius = 2.0f * std::fabs(u(rng));
            const double dist = polygonDistance(p, verts, front);
            dgVector out(0, 0, 0, 0);
            const bool near = face.closestPointToPoint(p, radius, out);
            if (std::fabs(dist - radius) > 1e-3) {
                EXPECT_EQ(near, dist <= radius);
            }
            if (near) {
                EXPECT_NEAR(length(toD3(out) - toD3(p)), dist, 1e-3);
            }

            // The plane cut (planes parallel to the face below).
            const D3 m(toD3(randomUnit(rng)));
            if (std::fabs(dot(m, toD3(front))) > 0.999) {
                continue;
            }
            const double d = -dot(m, toD3(c + off));
            const std::vector<D3> expected(projectedCut(verts, m, d));
            dgVector points[dgPlaneIntersectionMaxPoints];
            const int32_t count = face.calcPlaneIntersection(
                dgVector(float(m.x), float(m.y), float(m.z), 0.0f), c + off, points);
            std::vector<D3> got;
            for (int32_t k = 0; k < count; k++) {
                got.push_back(toD3(points[k]));
                EXPECT_NEAR(dot(m, got.back()) + d, 0.0, 1e-4);
                EXPECT_LT(nearestOf(got.back(), expected), 1e-3);
            }
            for (const D3& q : expected) {
                EXPECT_LT(nearestOf(q, got), 1e-3);
            }
        }
        // A plane parallel to the face gives the face itself.
        dgVector points[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(face.calcPlaneIntersection(front.scale(-1.0f), verts[0], points), n);
        for (int32_t k = 0; k < n; k++) {
            EXPECT_EQ(points[k] % front, verts[size_t(k)] % front);
        }

        const dgMatrix placed(randomPose(rng, 50.0f));
        dgVector lo, hi, blo, bhi;
        face.calcAABB(placed, lo, hi);
        placedBounds(placed, verts, blo, bhi);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(lo[j], blo[j], 1e-4f);
            EXPECT_NEAR(hi[j], bhi[j], 1e-4f);
        }

        // The slab test, with the normal stored reversed.
        const int32_t slab = face.quickTestSlab(*box, boxPose.inverse());
        EXPECT_NEAR(face.getFaceNormal() % front, -1.0f, 1e-4f);
        if ((std::fabs(highest + 0.1) > 1e-3) && (std::fabs(lowest - 0.1) > 1e-3)) {
            EXPECT_EQ(slab, ((highest + 0.1) * (lowest - 0.1) < 0.0) ? 1 : 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, PolygonSoupFace, testing::Values(3, 4, 7, 16, 64));

class PolygonSoupFaceSize : public testing::TestWithParam<int32_t> {};

// The face object holds 64 vertices: a larger gathered face is skipped whole,
// and nothing of the face loaded before it is answered in its place.
TEST_P(PolygonSoupFaceSize, FacesAboveTheStorageAreSkipped) {
    const int32_t n = GetParam();
    const bool fits = (n <= Face::kMaxVertices);
    std::mt19937 rng(71);
    FaceList list;
    list.add({dgVector(0, 0, 0, 1), dgVector(1, 0, 0, 1), dgVector(0, 1, 0, 1)}, 1);
    list.add(convexFace(rng, n, dgGetIdentityMatrix(), 5.0f), 2);
    SoupHolder soup = makeSoup(list);
    dgPolygonSoupCollideDesc desc;
    std::vector<int32_t> offsets;
    gatherAll(*soup, desc, offsets);
    ASSERT_EQ(desc.m_faceCount, 2);
    BoxHolder box = BoxHolder::adopt(new dgCollisionBox(1u, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix()));
    Face& face = *soup->getFace();
    const int32_t stride = desc.m_vertexStrideInBytes / int32_t(sizeof(float));
    face.setFace(desc.m_vertexArray, stride, desc.m_faceIndices + offsets[0], 3);
    ASSERT_EQ(face.quickTest(*box, translation(0, 0, -0.25f)), 1);
    face.setFace(desc.m_vertexArray, stride, desc.m_faceIndices + offsets[1], desc.m_faceIndexCounts[1]);

    dgVector out, lo, hi, points[dgPlaneIntersectionMaxPoints];
    dgContactPoint contact = staleContact();
    EXPECT_EQ(face.quickTest(*box, translation(0, 0, -0.25f)), fits ? 1 : 0);
    EXPECT_EQ(face.getStoredCount(), fits ? n : 0);
    EXPECT_EQ(face.quickTestSlab(*box, translation(0, 0, -0.25f)), fits ? 1 : 0);
    EXPECT_EQ(face.closestPointToPoint(dgVector(0, 0, 1, 1), 2.0f, out), fits);
    const float t = face.rayCast(dgVector(0.5f, 0.5f, 3, 1), dgVector(0.5f, 0.5f, -1, 1), contact, nullptr,
                                 nullptr, nullptr);
    EXPECT_EQ(t, fits ? 0.75f : dgCollision::kRayMiss);
    EXPECT_EQ(face.calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0, 0, 0, 1), points) > 0, fits);
    EXPECT_EQ(face.supportVertex(dgVector(1, 0, 0, 0)).x > 4.0f, fits);
    face.calcAABB(dgGetIdentityMatrix(), lo, hi);
    EXPECT_EQ(hi.x - lo.x > 9.0f, fits);
}

INSTANTIATE_TEST_SUITE_P(Vertices, PolygonSoupFaceSize, testing::Values(64, 65, 300, 3000));

// ---- memory ----

namespace {
int32_t g_destroyed = 0;
void countDestroy(void* userData) {
    EXPECT_NE(userData, nullptr);
    g_destroyed++;
}
}  // namespace

TEST(PolygonSoup, CountingHooksBalanceAndDestroyRunsOnce) {
    std::mt19937 rng(81);
    FaceList list = randomSoup(rng, 20);
    list.add(convexFace(rng, 300, dgGetIdentityMatrix(), 2.0f), 9);
    dgBody body = placedBody(turnedAndMoved());
    g_destroyed = 0;
    makeSoup(list);
    CountingHooks hooks;
    for (int32_t round = 0; round < 4; round++) {
        // The last round starves the face object: the soup still gathers.
        if (round == 3) {
            dgMemoryCacheFlush();
            hooks.failAfter(1);
        }
        dgCollisionPolygonalSoup* soup =
            new dgCollisionPolygonalSoup(&list, collideByBox, nearestFace, countDestroy);
        hooks.failAfter(-1);
        ASSERT_NE(soup, nullptr);
        EXPECT_EQ(soup->getFace() == nullptr, round == 3);
        soup->setCollisionBBox(dgVector(-20, -20, -20, 1), dgVector(20, 20, 20, 1));
        dgPolygonSoupCollideDesc desc;
        std::vector<int32_t> offsets;
        gatherAll(*soup, desc, offsets);
        EXPECT_EQ(desc.m_faceCount, list.size());
        dgContactPoint contact;
        soup->rayCast(dgVector(0, 9, 0, 1), dgVector(0, -9, 0, 1), contact, nullptr, nullptr, nullptr);
        soup->setCollideCallback(walkAll);
        EXPECT_EQ(soup->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) {}),
                  list.size());
        EXPECT_EQ(soup->release(), 0);
    }
    dgMemoryCacheFlush();
    EXPECT_EQ(g_destroyed, 4);
    EXPECT_EQ(hooks.liveBlocks(), 0);
    EXPECT_EQ(hooks.foreignReleases(), 0);
    EXPECT_EQ(hooks.sizeMismatches(), 0);
}
