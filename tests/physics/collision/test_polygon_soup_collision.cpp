// The polygon-soup shape and its face object over a brute-force face list:
// gathering and its limits, ray casts under the shape contract, the polygon
// walk, the loaded face against brute force, the face size limit, memory.
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

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// A soup's faces: five floats a vertex (byte and float strides both differ
// from a packed triple), index lists one after another.
struct FaceList {
    static constexpr int32_t kStride = 5;
    static constexpr int32_t kStrideBytes = kStride * 4;
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
    const int32_t* face(int32_t f) const { return &indices[size_t(first[f])]; }
    dgVector vertex(int32_t f, int32_t k) const {
        const float* v = &vertices[size_t(face(f)[k]) * kStride];
        return dgVector(v[0], v[1], v[2], 1.0f);
    }
    bool overlaps(int32_t f, const dgVector& boxMin, const dgVector& boxMax) const {
        dgVector lo(vertex(f, 0)), hi(lo);
        for (int32_t k = 1; k < counts[f]; k++) {
            for (int32_t j = 0; j < 3; j++) {
                lo[j] = std::min(lo[j], vertex(f, k)[j]);
                hi[j] = std::max(hi[j], vertex(f, k)[j]);
            }
        }
        return dgBoxOverlap(lo, hi, boxMin, boxMax);
    }
};

void collideByBox(dgPolygonSoupCollideDesc* desc) {
    const FaceList& list = *static_cast<const FaceList*>(desc->m_userData);
    for (int32_t f = 0; f < list.size(); f++) {
        if (list.overlaps(f, dgDescVector(desc->m_boxMin), dgDescVector(desc->m_boxMax)) &&
            !dgCollideDescAddFace(*desc, list.vertices.data(), FaceList::kStrideBytes, list.face(f),
                                  list.counts[f], list.attributes[f])) {
            return;
        }
    }
}

void walkAll(dgPolygonSoupCollideDesc* desc) {
    const FaceList& list = *static_cast<const FaceList*>(desc->m_userData);
    for (int32_t f = 0; f < list.size(); f++) {
        dgCollideDescWalkFace(*desc, list.vertices.data(), FaceList::kStrideBytes, list.face(f),
                              list.counts[f], list.attributes[f]);
    }
}

// n vertices on a circle in the xy plane of pose, counter-clockwise about its
// z axis (the front).
std::vector<dgVector> convexFace(std::mt19937& rng, int32_t n, const dgMatrix& pose, float radius) {
    std::uniform_real_distribution<double> jitter(0.0, 0.5);
    std::vector<dgVector> points;
    for (int32_t i = 0; i < n; i++) {
        const double a = 2.0 * kPi * (i + jitter(rng)) / n;
        const dgVector p(float(radius * std::cos(a)), float(radius * std::sin(a)), 0.0f, 1.0f);
        points.push_back(pose.transformVector(p));
        points.back().w = 1.0f;
    }
    return points;
}

FaceList randomSoup(std::mt19937& rng, int32_t faces) {
    std::uniform_int_distribution<int32_t> sides(3, 8);
    FaceList list;
    for (int32_t f = 0; f < faces; f++) {
        list.add(convexFace(rng, sides(rng), randomPose(rng, 8.0f), 2.0f), int32_t(0x80000000u) + f);
    }
    return list;
}

// Answers the scripted t with the scripted normal and attribute 0x80000001.
struct ScriptedRay {
    float t;
    dgVector normal;
    int32_t calls;
};
ScriptedRay g_script;

float scriptedRay(dgPolygonSoupRayDesc* desc) {
    g_script.calls++;
    dgSetDescVector(desc->m_normal, g_script.normal);
    desc->m_attribute = int32_t(0x80000001u);
    return g_script.t;
}

SoupHolder makeSoup(FaceList& list, dgPolygonSoupRayCastCallback ray = scriptedRay,
                    dgPolygonSoupDestroyCallback destroy = nullptr) {
    SoupHolder soup = SoupHolder::adopt(new dgCollisionPolygonalSoup(&list, collideByBox, ray, destroy));
    soup->setCollisionBBox(dgVector(100, 100, 100, 0), dgVector(-100, -100, -100, 0));
    return soup;
}

// Everything gathered; returns where each face's indices start.
std::vector<int32_t> gatherAll(const dgCollisionPolygonalSoup& soup, dgPolygonSoupCollideDesc& desc) {
    dgSetDescVector(desc.m_boxMin, dgVector(-1e6f, -1e6f, -1e6f, 1));
    dgSetDescVector(desc.m_boxMax, dgVector(1e6f, 1e6f, 1e6f, 1));
    std::vector<int32_t> offsets;
    for (int32_t f = 0, at = 0; f < soup.gatherFaces(desc); at += desc.m_faceIndexCounts[f++]) {
        offsets.push_back(at);
    }
    return offsets;
}

void loadGathered(Face& face, const dgPolygonSoupCollideDesc& desc, int32_t offset, int32_t count) {
    face.setFace(desc.m_vertexArray, desc.m_vertexStrideInBytes / int32_t(sizeof(float)),
                 desc.m_faceIndices + offset, count);
}

dgContactPoint staleContact() {
    dgContactPoint c;
    c.normal = dgVector(7, 7, 7, 7);
    c.userId = -5;
    return c;
}

}  // namespace

TEST(PolygonSoup, IdentitiesBoxAndInertSlots) {
    FaceList list;
    SoupHolder soup = makeSoup(list);
    EXPECT_EQ(soup->getClassId(), dgHashConstText("dgCollisionPolygonalSoup"));
    EXPECT_TRUE(soup->isClass(dgCollision::kClassId) && !soup->isClass(dgConvexCollision::kClassId));
    EXPECT_EQ(soup->getShapeType(), uint32_t(dgShapePolygonSoup));
    EXPECT_EQ(soup->getUserData(), &list);
    EXPECT_EQ(soup->getUserId(), uint32_t(uintptr_t(&list)));
    EXPECT_EQ(soup->getVolume() + soup->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr).w, 0.0f);
    dgVector lo, hi, lo2, hi2;
    soup->calcAABB(turnedAndMoved(), lo, hi);
    turnedAndMoved().transformBox(dgVector(-100, -100, -100, 1), dgVector(100, 100, 100, 1), lo2, hi2);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(lo[j], lo2[j], 1e-3f);
        EXPECT_NEAR(hi[j], hi2[j], 1e-3f);
    }

    Face* face = soup->getFace();
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->getClassId(), dgHashConstText("dgCollisionPolygonalSoup::dgCollisionConvexPolygon"));
    EXPECT_TRUE(face->isClass(dgConvexCollision::kClassId));
    EXPECT_EQ(face->getShapeType(), uint32_t(dgShapeSoupFace));
    EXPECT_EQ(face->calcSignature(), 0x12341234u);
    // Nothing loaded, and the convex base's own queries on a face without an
    // edge table: every slot answers empty.
    dgBody body = placedBody(turnedAndMoved());
    dgVector points[dgPlaneIntersectionMaxPoints], inertia(1, 1, 1, 0), origin(1, 1, 1, 0);
    dgContactPoint contact = staleContact();
    const dgVector up(0, 1, 0, 0), down(0, -1, 0, 1);
    EXPECT_EQ(face->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) { FAIL(); }), 0);
    EXPECT_EQ(face->rayCast(up, down, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(face->dgConvexCollision::rayCast(up, down, contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(face->calcPlaneIntersection(up, down, points), 0);
    EXPECT_EQ(face->dgConvexCollision::calcPlaneIntersection(up, down, points), 0);
    EXPECT_EQ(face->supportVertex(up) % up + face->dgConvexCollision::supportVertex(up) % up, 0.0f);
    EXPECT_EQ(face->getVolume() + face->dgConvexCollision::getVolume(), 0.0f);
    EXPECT_EQ(face->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr).w, 0.0f);
    face->calcInertia(inertia, origin);
    EXPECT_EQ(inertia % inertia + origin % origin, 0.0f);
    face->calcAABB(turnedAndMoved(), lo, hi);
    EXPECT_TRUE(lo.x == hi.x && lo.y == turnedAndMoved().position.y);
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
        dgSetDescVector(desc.m_boxMin, c - h);
        dgSetDescVector(desc.m_boxMax, c + h);
        const int32_t count = soup->gatherFaces(desc);
        std::vector<int32_t> expected, got;
        for (int32_t f = 0; f < list.size(); f++) {
            if (list.overlaps(f, dgDescVector(desc.m_boxMin), dgDescVector(desc.m_boxMax))) {
                expected.insert(expected.end(), {list.attributes[f], list.counts[f]});
                expected.insert(expected.end(), list.face(f), list.face(f) + list.counts[f]);
            }
        }
        for (int32_t f = 0, at = 0; f < count; at += desc.m_faceIndexCounts[f++]) {
            got.insert(got.end(), {desc.m_faceAttributes[f], desc.m_faceIndexCounts[f]});
            got.insert(got.end(), desc.m_faceIndices + at,
                       desc.m_faceIndices + at + desc.m_faceIndexCounts[f]);
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(int32_t(got.size()), desc.m_indexCount + 2 * count);
        EXPECT_EQ(desc.m_vertexArray, count ? list.vertices.data() : nullptr);
        EXPECT_EQ(desc.m_vertexStrideInBytes, count ? FaceList::kStrideBytes : 0);
    }
    // Boxes that are not a number or inverted end the query with no face.
    for (const dgVector& lo :
         {dgVector(kNaN, -1, -1, 1), dgVector(-1, 1e7f, -1, 1), dgVector(-1, -1, kNaN, 1)}) {
        dgSetDescVector(desc.m_boxMin, lo);
        dgSetDescVector(desc.m_boxMax, dgVector(1e6f, 1e6f, 1e6f, 1));
        EXPECT_EQ(soup->gatherFaces(desc) + desc.m_indexCount, 0);
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
    gatherAll(*soup, desc);
    EXPECT_EQ(desc.m_faceCount, c.expectFaces);
    EXPECT_EQ(desc.m_indexCount, c.expectFaces * c.sides);
    EXPECT_EQ(desc.m_faceAttributes[c.expectFaces - 1], c.expectFaces - 1);
}

INSTANTIATE_TEST_SUITE_P(Capacity, PolygonSoupLimits,
                         testing::Values(LimitCase{3, 2049, 2048}, LimitCase{3, 2048, 2048},
                                         LimitCase{100, 90, 81}, LimitCase{4096, 2, 1}));

// ---- ray casts ----

class PolygonSoupRayContract : public testing::TestWithParam<float> {};

// Whatever the callback answers reaches the caller as a hit in [0, 1] with
// the unit normal and zero-extended attribute of that hit, or as kRayMiss.
TEST_P(PolygonSoupRayContract, CallbackResultsFollowTheShapeContract) {
    const float answer = GetParam();
    FaceList list;
    SoupHolder soup = makeSoup(list, scriptedRay);
    g_script = ScriptedRay{answer, dgVector(0.0f, 3.0f, 4.0f, 1.0f), 0};
    dgContactPoint contact = staleContact();
    const float t =
        soup->rayCast(dgVector(0, 5, 0, 1), dgVector(0, -5, 0, 1), contact, nullptr, nullptr, nullptr);
    EXPECT_EQ(g_script.calls, 1);
    if (!(answer >= 0.0f && answer <= 1.0f)) {
        EXPECT_EQ(t, dgCollision::kRayMiss);
        return;
    }
    EXPECT_EQ(t, answer);
    EXPECT_EQ(contact.normal.x, 0.0f);
    EXPECT_NEAR(contact.normal.y, 0.6f, 1e-6f);
    EXPECT_NEAR(contact.normal.z, 0.8f, 1e-6f);
    EXPECT_EQ(contact.userId, int64_t(0x80000001u));
}

INSTANTIATE_TEST_SUITE_P(Answers, PolygonSoupRayContract,
                         testing::Values(0.0f, 0.5f, 0.999f, 1.0f, std::nextafter(1.0f, 2.0f), 1.1f, 2.0f,
                                         -0.25f, kNaN, kInf, -kInf));

TEST(PolygonSoup, RaysThatCannotHitMiss) {
    FaceList list;
    const dgVector a(0, 5, 0, 1), b(0, -5, 0, 1);
    dgContactPoint contact = staleContact();
    int32_t vetoes = 0;
    SoupHolder soup = makeSoup(list, scriptedRay);
    SoupHolder blind = makeSoup(list, nullptr);
    g_script = ScriptedRay{0.5f, dgVector(0, 1, 0, 0), 0};
    EXPECT_EQ(soup->rayCast(a, b, contact, vetoAll, nullptr, &vetoes), dgCollision::kRayMiss);
    EXPECT_EQ(soup->rayCast(dgVector(0, kNaN, 0, 1), b, contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(soup->rayCast(a, dgVector(kInf, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(blind->rayCast(a, b, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    EXPECT_EQ(vetoes + g_script.calls, 1);
    // A hit without a usable normal cannot be reported.
    g_script.normal = dgVector(0, 0, 0, 0);
    EXPECT_EQ(soup->rayCast(a, b, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
}

// ---- polygon walk ----

std::vector<std::vector<float>> g_walked;

TEST(PolygonSoup, PolygonWalkPlacesEveryFaceByTheBodyMatrix) {
    std::mt19937 rng(51);
    FaceList list = randomSoup(rng, 20);
    list.add(convexFace(rng, 300, randomPose(rng, 5.0f), 2.0f), 77);
    SoupHolder soup = makeSoup(list);
    soup->setCollideCallback(walkAll);  // as the interface does around a walk
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix pose(randomPose(rng, 1000.0f));
        dgBody body = placedBody(pose);
        g_walked.clear();
        const int32_t walked =
            soup->forEachPolygon(&body, [](const dgBody*, int32_t n, const float* v, int32_t id) {
                g_walked.push_back(std::vector<float>(v, v + 3 * n));
                g_walked.back().push_back(float(id));
            });
        ASSERT_EQ(walked, list.size());
        ASSERT_EQ(int32_t(g_walked.size()), list.size());
        for (int32_t f = 0; f < list.size(); f++) {
            ASSERT_EQ(int32_t(g_walked[f].size()), 3 * list.counts[f] + 1);
            EXPECT_EQ(g_walked[f].back(), float(list.attributes[f]));
            for (int32_t k = 0; k < 3 * list.counts[f]; k++) {
                EXPECT_NEAR(g_walked[f][k], pose.transformVector(list.vertex(f, k / 3))[k % 3], 1e-3f);
            }
        }
    }
}

// ---- the face object ----

namespace {
// The face's part on the normal's side of the plane (m, d), projected onto
// the plane: its kept vertices and the crossings of its edges.
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
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    BoxHolder box = BoxHolder::adopt(new dgCollisionBox(1u, 1.5f, 0.8f, 2.5f, dgGetIdentityMatrix()));
    const dgVector& h = box->getHalfExtents();
    for (int32_t trial = 0; trial < 150; trial++) {
        const dgMatrix pose(randomPose(rng, 3.0f));
        const dgVector front(pose.right.x, pose.right.y, pose.right.z, 0.0f);
        FaceList list;
        list.add(convexFace(rng, n, pose, 0.5f + 2.0f * std::fabs(u(rng))), 5);
        std::vector<dgVector> verts;
        for (int32_t k = 0; k < n; k++) {
            verts.push_back(list.vertex(0, k));
        }
        SoupHolder soup = makeSoup(list);
        dgPolygonSoupCollideDesc desc;
        ASSERT_EQ(gatherAll(*soup, desc).size(), 1u);
        Face& face = *soup->getFace();
        loadGathered(face, desc, 0, n);

        // The box's reach along the face normal; the matrix carries soup
        // directions into the box's frame.
        const dgMatrix boxPose(randomPose(rng, 4.0f)), toBox(boxPose.inverse());
        double high = -1e30, low = 1e30;
        for (int32_t c = 0; c < 8; c++) {
            const dgVector corner((c & 1) ? h.x : -h.x, (c & 2) ? h.y : -h.y, (c & 4) ? h.z : -h.z, 1.0f);
            const double s = dot(toD3(boxPose.transformVector(corner)) - toD3(verts[0]), toD3(front));
            high = std::max(high, s);
            low = std::min(low, s);
        }
        const int32_t slab = face.quickTestSlab(*box, toBox);
        EXPECT_NEAR(face.getFaceNormal() % front, -1.0f, 1e-4f);
        if ((std::fabs(high + 0.1) > 1e-3) && (std::fabs(low - 0.1) > 1e-3)) {
            EXPECT_EQ(slab, ((high + 0.1) * (low - 0.1) < 0.0) ? 1 : 0);
        }
        // Swept: the box counts where its motion brings it into the slab from
        // the front; motion away from the front, or from behind, adds nothing.
        const dgVector sweep(randomUnit(rng).scale(3.0f * u(rng)));
        const double towards = std::min(dot(toD3(sweep), toD3(front)), 0.0);
        const int32_t swept = face.quickTestSlab(*box, toBox, sweep);
        if ((std::fabs(high + 0.1) > 1e-3) && (std::fabs(low + towards - 0.1) > 1e-3)) {
            EXPECT_EQ(swept, ((high + 0.1) * (low + towards - 0.1) < 0.0) ? 1 : 0);
        }
        const int32_t quick = face.quickTest(*box, toBox);
        ASSERT_EQ(face.getStoredCount(), n);
        EXPECT_NEAR(face.getFaceNormal() % front, 1.0f, 1e-4f);
        if (std::fabs(high) > 1e-3) {
            EXPECT_EQ(quick, (high >= 0.0) ? 1 : 0);
        }

        // Contacts turned from the face are dropped, those off its normal
        // flagged; three face the face head on.
        dgContactPoint contacts[12];
        uint8_t flags[12];
        const dgVector normal(toBox.rotateVector(front));
        int32_t kept = 0;
        for (int32_t i = 0; i < 12; i++) {
            contacts[i].normal = (i < 3) ? normal : randomUnit(rng);
            kept += ((normal % contacts[i].normal) >= 0.1f) ? 1 : 0;
        }
        ASSERT_EQ(face.filterContacts(12, contacts, toBox, flags), kept);
        for (int32_t i = 0; i < kept; i++) {
            const float c = normal % contacts[i].normal;
            EXPECT_TRUE(c >= 0.1f && flags[i] == ((c < 0.999f) ? 1 : 0));
        }

        const dgVector centre(verts[0].scale(0.5f) + verts[size_t(n / 2)].scale(0.5f));
        for (int32_t i = 0; i < 8; i++) {
            const dgVector dir(randomUnit(rng));
            float expect = -1e30f;
            for (const dgVector& v : verts) {
                expect = std::max(expect, v % dir);
            }
            EXPECT_EQ(face.supportVertex(dir) % dir, expect);

            // Rays across the face from either side, against the face test
            // on the soup's own vertices.
            const dgVector off(u(rng), u(rng), u(rng), 0.0f);
            const dgVector p0(centre + front.scale((i & 1) ? -2.0f : 2.0f) + off), p1(centre + centre - p0);
            float expectT = dgCollision::kRayMiss;
            dgVector faceNormal;
            dgRayFaceTest(p0, p1, list.vertices.data(), FaceList::kStrideBytes, list.face(0), n, expectT,
                          faceNormal);
            dgContactPoint contact = staleContact();
            EXPECT_EQ(face.rayCast(p0, p1, contact, nullptr, nullptr, nullptr), expectT);
            if (expectT <= 1.0f) {
                EXPECT_NEAR(contact.normal % front, 1.0f, 1e-4f);
            }

            // A point straight above the centre is as far as its height.
            dgVector out;
            const float height = 2.0f * u(rng), radius = 2.0f * std::fabs(u(rng));
            if (std::fabs(std::fabs(height) - radius) > 1e-3f) {
                EXPECT_EQ(face.closestPointToPoint(centre + front.scale(height), radius, out),
                          std::fabs(height) <= radius);
            }

            // The plane cut (planes parallel to the face below).
            const D3 m(toD3(randomUnit(rng)));
            if (std::fabs(dot(m, toD3(front))) > 0.999) {
                continue;
            }
            const double d = -dot(m, toD3(centre + off));
            const std::vector<D3> expected(projectedCut(verts, m, d));
            dgVector points[dgPlaneIntersectionMaxPoints];
            const int32_t count = face.calcPlaneIntersection(
                dgVector(float(m.x), float(m.y), float(m.z), 0.0f), centre + off, points);
            std::vector<D3> got;
            for (int32_t k = 0; k < count; k++) {
                got.push_back(toD3(points[k]));
                EXPECT_NEAR(dot(m, got.back()) + d, 0.0, 1e-4);
                EXPECT_LT(nearestOf(got.back(), expected), 1e-3);
            }
            for (const D3& q : expected) {
                EXPECT_LT(nearestOf(q, got), 1e-3);
            }
            // The same plane crossed by the soup's own face: one point per
            // edge that changes side.
            const dgPlane plane(float(m.x), float(m.y), float(m.z), float(d));
            int32_t changes = 0;
            for (int32_t k = 0; k < n; k++) {
                changes += (plane.evaluate(verts[size_t(k)]) < 0.0f) !=
                           (plane.evaluate(verts[size_t((k + n - 1) % n)]) < 0.0f);
            }
            ASSERT_EQ(dgPolygonPlaneCrossings(list.vertices.data(), list.face(0), n, FaceList::kStride, plane,
                                              points),
                      changes);
            for (int32_t k = 0; k < changes; k++) {
                EXPECT_NEAR(plane.evaluate(points[k]), 0.0f, 1e-4f);
            }
        }
        dgVector points[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(face.calcPlaneIntersection(front.scale(-1.0f), verts[0], points), n);
        EXPECT_EQ(points[n - 1] % front, verts[size_t(n - 1)] % front);

        const dgMatrix placed(randomPose(rng, 50.0f));
        dgVector lo, hi, blo, bhi;
        face.calcAABB(placed, lo, hi);
        placedBounds(placed, verts, blo, bhi);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(lo[j], blo[j], 1e-4f);
            EXPECT_NEAR(hi[j], bhi[j], 1e-4f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, PolygonSoupFace, testing::Values(3, 4, 7, 16, 64));

// A face out of reach writes nothing: neither the point nor the normal of
// the face loaded before it changes.
TEST(PolygonSoup, FaceOutOfReachLeavesPointAndNormal) {
    const float vertices[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const int32_t floor[] = {0, 1, 2};
    const int32_t wall[] = {0, 3, 1};
    FaceList list;
    SoupHolder soup = makeSoup(list);
    Face& face = *soup->getFace();
    dgVector out;
    face.setFace(vertices, 3, floor, 3);
    ASSERT_TRUE(face.closestPointToPoint(dgVector(0.2f, 0.2f, 0.5f, 1), 1.0f, out));
    const dgVector normal(face.getFaceNormal()), point(out);
    ASSERT_EQ(normal.z, 1.0f);
    face.setFace(vertices, 3, wall, 3);
    EXPECT_FALSE(face.closestPointToPoint(dgVector(0.2f, 5.0f, 0.2f, 1), 1.0f, out));
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_EQ(face.getFaceNormal()[j], normal[j]);
        EXPECT_EQ(out[j], point[j]);
    }
    // The same face within reach sets its own normal.
    EXPECT_TRUE(face.closestPointToPoint(dgVector(0.2f, 0.5f, 0.2f, 1), 1.0f, out));
    EXPECT_EQ(face.getFaceNormal().y, 1.0f);
}

class PolygonSoupFaceSize : public testing::TestWithParam<int32_t> {};

// The face object holds 64 vertices: a larger gathered face is skipped whole,
// and nothing of the face loaded before it answers in its place.
TEST_P(PolygonSoupFaceSize, FacesAboveTheStorageAreSkipped) {
    const int32_t n = GetParam();
    const bool fits = (n <= Face::kMaxVertices);
    std::mt19937 rng(71);
    FaceList list;
    list.add({dgVector(0, 0, 0, 1), dgVector(1, 0, 0, 1), dgVector(0, 1, 0, 1)}, 1);
    list.add(convexFace(rng, n, dgGetIdentityMatrix(), 5.0f), 2);
    SoupHolder soup = makeSoup(list);
    dgPolygonSoupCollideDesc desc;
    const std::vector<int32_t> offsets(gatherAll(*soup, desc));
    ASSERT_EQ(offsets.size(), 2u);
    BoxHolder box = BoxHolder::adopt(new dgCollisionBox(1u, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix()));
    const dgMatrix toBox(translation(0, 0, -0.25f));
    Face& face = *soup->getFace();
    loadGathered(face, desc, offsets[0], 3);
    ASSERT_EQ(face.quickTest(*box, toBox), 1);
    loadGathered(face, desc, offsets[1], desc.m_faceIndexCounts[1]);

    dgVector out, lo, hi, points[dgPlaneIntersectionMaxPoints];
    dgContactPoint contact = staleContact();
    EXPECT_EQ(face.quickTest(*box, toBox), fits ? 1 : 0);
    EXPECT_EQ(face.getStoredCount(), fits ? n : 0);
    EXPECT_EQ(face.quickTestSlab(*box, toBox), fits ? 1 : 0);
    EXPECT_EQ(face.closestPointToPoint(dgVector(0, 0, 1, 1), 2.0f, out), fits);
    EXPECT_EQ(face.rayCast(dgVector(0.5f, 0.5f, 3, 1), dgVector(0.5f, 0.5f, -1, 1), contact, nullptr, nullptr,
                           nullptr),
              fits ? 0.75f : dgCollision::kRayMiss);
    EXPECT_EQ(face.calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0, 0, 0, 1), points) > 0, fits);
    EXPECT_EQ(face.supportVertex(dgVector(1, 0, 0, 0)).x > 4.0f, fits);
    face.calcAABB(dgGetIdentityMatrix(), lo, hi);
    EXPECT_EQ(hi.x - lo.x > 9.0f, fits);
}

INSTANTIATE_TEST_SUITE_P(Vertices, PolygonSoupFaceSize, testing::Values(64, 65, 300, 3000));

// ---- memory ----

int32_t g_destroyed = 0;

TEST(PolygonSoup, CountingHooksBalanceAndDestroyRunsOnce) {
    std::mt19937 rng(81);
    FaceList list = randomSoup(rng, 20);
    list.add(convexFace(rng, 300, dgGetIdentityMatrix(), 2.0f), 9);
    dgBody body = placedBody(turnedAndMoved());
    g_destroyed = 0;
    const dgPolygonSoupDestroyCallback destroy = [](void* userData) { g_destroyed += (userData != nullptr); };
    makeSoup(list);
    MemoryBalance hooks;
    for (int32_t round = 0; round < 4; round++) {
        // The last round starves the face object: the soup still works.
        if (round == 3) {
            dgMemoryCacheFlush();
            hooks.failAfter(1);
        }
        SoupHolder soup = makeSoup(list, scriptedRay, destroy);
        hooks.failAfter(-1);
        ASSERT_NE(soup.get(), nullptr);
        EXPECT_EQ(soup->getFace() == nullptr, round == 3);
        dgPolygonSoupCollideDesc desc;
        gatherAll(*soup, desc);
        EXPECT_EQ(desc.m_faceCount, list.size());
        dgContactPoint contact;
        soup->rayCast(dgVector(0, 9, 0, 1), dgVector(0, -9, 0, 1), contact, nullptr, nullptr, nullptr);
        soup->setCollideCallback(walkAll);
        EXPECT_EQ(soup->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) {}),
                  list.size());
    }
    EXPECT_EQ(g_destroyed, 4);
}
