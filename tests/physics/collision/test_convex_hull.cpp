#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionConvexHull.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionConvexHull> HullHolder;
typedef std::vector<float> Cloud;  // x, y, z per point

HullHolder makeHull(const Cloud& cloud, const dgMatrix& offset = dgGetIdentityMatrix()) {
    return HullHolder::adopt(new dgCollisionConvexHull(0x5eedu, int32_t(cloud.size() / 3),
                                                       3 * int32_t(sizeof(float)), cloud.data(), offset));
}

D3 pointOf(const Cloud& c, size_t i) {
    return D3{c[3 * i], c[3 * i + 1], c[3 * i + 2]};
}

// Outward unit plane of every hull face, from the shape's own face array.
struct FacePlane {
    D3 normal;
    double offset;  // normal . p + offset = signed distance
};
std::vector<FacePlane> facePlanes(const dgCollisionConvexHull& hull) {
    std::vector<FacePlane> planes;
    const dgVector* v = hull.getVertices();
    for (int32_t i = 0; i < hull.getFaceCount(); i++) {
        const dgConvexEdge* e = hull.getFaceArray()[i];
        const D3 a = toD3(v[e->m_vertex]), b = toD3(v[e->m_next->m_vertex]), c = toD3(v[e->m_prev->m_vertex]);
        D3 n = cross(sub(b, a), sub(c, a));
        const double len = length(n);
        n = D3{n.x / len, n.y / len, n.z / len};
        planes.push_back(FacePlane{n, -dot(n, a)});
    }
    return planes;
}

double farthestOutside(const std::vector<FacePlane>& planes, const D3& p) {
    double worst = -1e300;
    for (const FacePlane& f : planes) {
        worst = std::max(worst, dot(f.normal, p) + f.offset);
    }
    return worst;
}

// Closed two-manifold of triangles: links agree, every face is a triangle,
// every vertex is used and Euler's formula holds.
void expectClosedTriangleMesh(const dgCollisionConvexHull& hull) {
    const int32_t edges = hull.getEdgeCount();
    const int32_t vertices = hull.getVertexCount();
    const dgConvexEdge* table = hull.getEdges();
    ASSERT_GT(edges, 0);
    ASSERT_EQ(edges % 3, 0);
    std::vector<int32_t> used(size_t(vertices), 0);
    for (int32_t i = 0; i < edges; i++) {
        const dgConvexEdge* e = &table[i];
        ASSERT_LT(int32_t(e->m_vertex), vertices);
        used[e->m_vertex] = 1;
        ASSERT_EQ(e->m_twin->m_twin, e);
        ASSERT_NE(e->m_twin, e);
        ASSERT_EQ(e->m_next->m_prev, e);
        ASSERT_EQ(e->m_prev->m_next, e);
        ASSERT_EQ(e->m_next->m_next->m_next, e);
        ASSERT_EQ(e->m_twin->m_vertex, e->m_next->m_vertex);
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), 1), vertices);
    EXPECT_EQ(hull.getFaceCount(), edges / 3);
    EXPECT_EQ(vertices - edges / 2 + hull.getFaceCount(), 2);
}

// Every face outward and the solid convex: no hull vertex above any face.
// The centre of the vertices lies below every face (by rounding at most).
void expectConvexOutward(const dgCollisionConvexHull& hull, double tolerance, double centreRounding = 0.0) {
    const std::vector<FacePlane> planes = facePlanes(hull);
    const dgVector* v = hull.getVertices();
    for (int32_t i = 0; i < hull.getVertexCount(); i++) {
        ASSERT_LE(farthestOutside(planes, toD3(v[i])), tolerance) << "vertex " << i;
    }
    // Outward: the faces' signed volume about any point is positive.
    D3 centre{0, 0, 0};
    for (int32_t i = 0; i < hull.getVertexCount(); i++) {
        centre = D3{centre.x + v[i].x, centre.y + v[i].y, centre.z + v[i].z};
    }
    const double inv = 1.0 / hull.getVertexCount();
    centre = D3{centre.x * inv, centre.y * inv, centre.z * inv};
    EXPECT_LT(farthestOutside(planes, centre), centreRounding);
}

// Distance by which the construction may leave an input point outside: the
// grid snap (1/2048 per axis), the face tolerance 0.001 and the weld
// tolerance 0.01, all in normalised units of the narrowest axis.
double hullTolerance(const Cloud& cloud) {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (size_t i = 0; i < cloud.size(); i++) {
        lo[i % 3] = std::min(lo[i % 3], cloud[i]);
        hi[i % 3] = std::max(hi[i % 3], cloud[i]);
    }
    double smallest = 1e30;
    for (int a = 0; a < 3; a++) {
        const double h = (double(hi[a]) - lo[a]) * 0.5;
        const double s = h < 1.0 ? 1.0 / (h + 1e-6) : (h > 128.0 ? 128.0 / h : h);
        smallest = std::min(smallest, s);
    }
    return (std::sqrt(3.0) * (1.0 / 2048.0 + 0.0101) + 0.001) / smallest;
}

// Independent hull volume by brute force over all triples (points in general
// position): a triple is a facet when every other point lies on one side.
double bruteForceVolume(const Cloud& cloud, double* area) {
    const size_t n = cloud.size() / 3;
    D3 c{0, 0, 0};
    for (size_t i = 0; i < n; i++) {
        c = D3{c.x + cloud[3 * i], c.y + cloud[3 * i + 1], c.z + cloud[3 * i + 2]};
    }
    c = D3{c.x / n, c.y / n, c.z / n};
    double volume = 0.0;
    *area = 0.0;
    for (size_t i = 0; i < n; i++) {
        for (size_t j = i + 1; j < n; j++) {
            for (size_t k = j + 1; k < n; k++) {
                const D3 a = pointOf(cloud, i);
                const D3 nrm = cross(sub(pointOf(cloud, j), a), sub(pointOf(cloud, k), a));
                const double len = length(nrm);
                if (len < 1e-12) {
                    continue;
                }
                bool above = false, below = false;
                for (size_t m = 0; m < n && !(above && below); m++) {
                    const double s = dot(nrm, sub(pointOf(cloud, m), a)) / len;
                    above = above || s > 1e-9;
                    below = below || s < -1e-9;
                }
                if (above && below) {
                    continue;
                }
                const D3 ca = sub(a, c), cb = sub(pointOf(cloud, j), c), cc = sub(pointOf(cloud, k), c);
                volume += std::fabs(dot(ca, cross(cb, cc))) / 6.0;
                *area += 0.5 * len;
            }
        }
    }
    return volume;
}

// Signed volume of the triangles handed to the face walk.
struct WalkSum {
    int32_t triangles = 0;
    double volume = 0.0;
};
WalkSum walkHull(const dgCollision& shape, const dgMatrix& placement = dgGetIdentityMatrix()) {
    const shapetest::WalkedFaces faces = shapetest::walkFaces(shape, placement);
    for (const std::vector<dgVector>& face : faces) {
        EXPECT_EQ(face.size(), 3u);
    }
    return WalkSum{int32_t(faces.size()), shapetest::faceMoments(faces).volume};
}

Cloud uniformCube(std::mt19937& rng, int n, float sx, float sy, float sz, float cx = 0, float cy = 0,
                  float cz = 0) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Cloud c;
    for (int i = 0; i < n; i++) {
        c.push_back(cx + sx * u(rng));
        c.push_back(cy + sy * u(rng));
        c.push_back(cz + sz * u(rng));
    }
    return c;
}

Cloud uniformBall(std::mt19937& rng, int n, float radius) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Cloud c;
    while (int(c.size()) < 3 * n) {
        const float x = u(rng), y = u(rng), z = u(rng);
        if (x * x + y * y + z * z > 1.0f) {
            continue;
        }
        c.insert(c.end(), {radius * x, radius * y, radius * z});
    }
    return c;
}

Cloud fibonacciSphere(int n, float radius) {
    Cloud c;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < n; i++) {
        const double y = 1.0 - (i + 0.5) * 2.0 / n;
        const double r = std::sqrt(1.0 - y * y);
        c.push_back(float(radius * r * std::cos(golden * i)));
        c.push_back(float(radius * y));
        c.push_back(float(radius * r * std::sin(golden * i)));
    }
    return c;
}

Cloud cubeCorners(float h) {
    Cloud c;
    for (int i = 0; i < 8; i++) {
        c.insert(c.end(), {(i & 1) ? -h : h, (i & 2) ? -h : h, (i & 4) ? -h : h});
    }
    return c;
}

void expectEmpty(const dgCollisionConvexHull& hull) {
    EXPECT_EQ(hull.getVertexCount(), 0);
    EXPECT_EQ(hull.getEdgeCount(), 0);
    EXPECT_EQ(hull.getVertices(), nullptr);
    EXPECT_EQ(hull.getEdges(), nullptr);
    EXPECT_EQ(hull.getFaceCount(), 0);
    EXPECT_EQ(hull.getFaceArray(), nullptr);
}

// Everything a hull stores, as integers: the counts, the vertex array bit for
// bit, the edge table and the face array with links as indices.
std::vector<int64_t> hullImage(const dgCollisionConvexHull& hull) {
    std::vector<int64_t> image = {hull.getVertexCount(), hull.getEdgeCount(), hull.getFaceCount()};
    for (int32_t i = 0; i < hull.getVertexCount(); i++) {
        uint32_t bits[4];
        std::memcpy(bits, &hull.getVertices()[i], sizeof(bits));
        image.insert(image.end(), {bits[0], bits[1], bits[2], bits[3]});
    }
    shapetest::snapshotEdges(hull.getEdges(), hull.getEdgeCount(), image);
    for (int32_t i = 0; i < hull.getFaceCount(); i++) {
        image.push_back(hull.getFaceArray()[i] - hull.getEdges());
    }
    return image;
}

// Random clouds for the property check: each axis has its own half-size
// (from 0.0005 to 500, so every scale regime of the normalisation and mixes of
// them occur) and the cloud sits off the origin by up to ten half-sizes, or
// now and then three hundred.
enum class CloudKind { Cube, Ball, Sphere, TiltedSlab, TiltedPlane, Line };

Cloud randomCloud(CloudKind kind, std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_real_distribution<float> logHalf(std::log(0.0005f), std::log(500.0f));
    std::uniform_int_distribution<int> sizes(4, 150);
    const int n = sizes(rng);
    // One cloud in eight sits far out, up to three hundred half-sizes.
    const float reach = (rng() % 8 == 0) ? 300.0f : 10.0f;
    float half[3], centre[3];
    for (int a = 0; a < 3; a++) {
        half[a] = std::exp(logHalf(rng));
        centre[a] = reach * half[a] * u(rng);
    }
    // Flat kinds live in a turned frame, so that no axis of the normalisation
    // stretches their thin direction.
    const dgMatrix frame(shapetest::randomPose(rng, 0.0f));
    const float thickness =
        std::exp(std::uniform_real_distribution<float>(std::log(1e-3f), std::log(0.1f))(rng));
    Cloud cloud;
    for (int i = 0; i < n; i++) {
        dgVector p(u(rng), u(rng), u(rng), 0.0f);
        switch (kind) {
            case CloudKind::Cube:
                break;
            case CloudKind::Ball:
                p = p.scale(std::cbrt((u(rng) + 1.0f) * 0.5f) / std::sqrt(p % p + 1e-12f));
                break;
            case CloudKind::Sphere:
                p = p.scale(1.0f / std::sqrt(p % p + 1e-12f));
                break;
            case CloudKind::TiltedSlab:
                p = frame.rotateVector(dgVector(p.x, p.y, thickness * p.z, 0.0f));
                break;
            case CloudKind::TiltedPlane:
                p = frame.rotateVector(dgVector(p.x, p.y, 0.0f, 0.0f));
                break;
            case CloudKind::Line:
                p = frame.rotateVector(dgVector(p.x, 0.0f, 0.0f, 0.0f));
                break;
        }
        for (int a = 0; a < 3; a++) {
            cloud.push_back(centre[a] + half[a] * p[a]);
        }
    }
    return cloud;
}

}  // namespace

TEST(ConvexHullIdentity, LocalBoxIsNotTheCollisionBox) {
    HullHolder hull = makeHull(cubeCorners(1.0f));
    const dgVector before = hull->getBoxHalfSize();
    hull->setCollisionBBox(dgVector(-9, -9, -9, 1), dgVector(9, 9, 9, 1));
    EXPECT_EQ(hull->getBoxHalfSize().x, before.x);
}

TEST(ConvexHullSupportIndex, MatchesLinearScanAndFirstMaximumWins) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-3, 3);  // small integers: many ties
    for (int count = 0; count <= 11; count++) {
        std::vector<dgVector> points;
        for (int i = 0; i < count; i++) {
            points.push_back(dgVector(float(coord(rng)), float(coord(rng)), float(coord(rng)), 0));
        }
        for (int trial = 0; trial < 20; trial++) {
            const dgVector d(float(coord(rng)), float(coord(rng)), float(coord(rng)), 0);
            int expected = -1;
            float best = -1e10f;
            for (int i = 0; i < count; i++) {
                const float v = points[i] % d;
                if (v > best) {
                    best = v;
                    expected = i;
                }
            }
            EXPECT_EQ(dgConvexHullSupportIndex(count, points.data(), d), expected);
        }
    }
    const dgVector far(0, 0, -1e11f, 0);
    EXPECT_EQ(dgConvexHullSupportIndex(1, &far, dgVector(0, 0, 1, 0)), -1);
}

// Pending faces are keyed by a counter taken when the face is made, never by
// an address: 32-bit keys, and a key already present inserts nothing.
TEST(ConvexHullPendingFaces, KeysAreFaceCounters) {
    static_assert(std::is_same<decltype(std::declval<dgConvexHullFaceNode>().getKey()), uint32_t>::value,
                  "face keys are 32-bit counters");
    dgConvexHullFaceTree tree;
    dgEdge* a = reinterpret_cast<dgEdge*>(uintptr_t(0x1000u));
    dgEdge* b = reinterpret_cast<dgEdge*>(uintptr_t(0x2000u));
    ASSERT_NE(tree.insert(a, 7u), nullptr);
    ASSERT_NE(tree.insert(b, 8u), nullptr);
    EXPECT_EQ(tree.getCount(), 2);
    EXPECT_EQ(tree.insert(b, 7u), nullptr);  // a key already present inserts nothing
    EXPECT_TRUE(tree.removeKey(8u));
    ASSERT_NE(tree.find(7u), nullptr);
    EXPECT_EQ(tree.find(7u)->getPayload(), a);
}

TEST(ConvexHullKnownShapes, CubeCornersGivenTwice) {
    Cloud cloud = cubeCorners(1.0f);
    const Cloud again = cubeCorners(1.0f);
    cloud.insert(cloud.end(), again.begin(), again.end());
    HullHolder hull = makeHull(cloud);
    EXPECT_EQ(hull->getVertexCount(), 8);
    EXPECT_EQ(hull->getEdgeCount(), 36);
    EXPECT_EQ(hull->getFaceCount(), 12);
    expectClosedTriangleMesh(*hull);
    expectConvexOutward(*hull, 1e-6);
    for (int32_t i = 0; i < 8; i++) {
        const dgVector& v = hull->getVertices()[i];
        EXPECT_EQ(std::fabs(v.x), 1.0f);
        EXPECT_EQ(std::fabs(v.y), 1.0f);
        EXPECT_EQ(std::fabs(v.z), 1.0f);
        EXPECT_EQ(v.w, 0.0f);
    }
    EXPECT_NEAR(hull->getVolume(), 8.0f, 1e-4f);
    EXPECT_NEAR(hull->getCentreOfMass().w, 8.0f, 1e-4f);
    dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
    hull->calcInertia(inertia, origin);
    for (int a = 0; a < 3; a++) {
        EXPECT_NEAR(inertia[a], 2.0f / 3.0f, 1e-4f);  // (2^2 + 2^2) / 12
        EXPECT_NEAR(origin[a], 0.0f, 1e-5f);
    }
    EXPECT_NEAR(hull->getBoxHalfSize().x, 1.0f, 1e-6f);
}

// Points on the faces, edges and inside of a cube, and inside an octahedron.
// Ties along a face normal go to the first candidate, so a surface point met
// before the cube is complete may stay as a vertex on a face or an edge; the
// solid is the same in every order.
TEST(ConvexHullKnownShapes, CubeAndOctahedronWithInteriorAndSurfacePoints) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-0.999f, 0.999f);
    Cloud cube = cubeCorners(1.0f);
    for (int i = 0; i < 200; i++) {
        cube.insert(cube.end(), {u(rng), u(rng), u(rng)});
    }
    for (int i = 0; i < 60; i++) {
        const float s = (i & 1) ? 1.0f : -1.0f;
        const float a = std::round(u(rng) * 8.0f) / 8.0f, b = std::round(u(rng) * 8.0f) / 8.0f;
        if (i % 3 == 0) {
            cube.insert(cube.end(), {s, a, b});
        }
        if (i % 3 == 1) {
            cube.insert(cube.end(), {a, s, b});
        }
        if (i % 3 == 2) {
            cube.insert(cube.end(), {s, s, a});  // on an edge
        }
    }
    for (int round = 0; round < 6; round++) {
        std::vector<int> order(cube.size() / 3);
        for (size_t i = 0; i < order.size(); i++) {
            order[i] = int(i);
        }
        if (round > 0) {
            std::shuffle(order.begin(), order.end(), rng);
        }
        Cloud shuffled;
        for (int i : order) {
            shuffled.insert(shuffled.end(), {cube[3 * i], cube[3 * i + 1], cube[3 * i + 2]});
        }
        HullHolder hull = makeHull(shuffled);
        expectClosedTriangleMesh(*hull);
        expectConvexOutward(*hull, 1e-6);
        EXPECT_NEAR(hull->getVolume(), 8.0f, 1e-4f);
        int corners = 0;
        for (int32_t i = 0; i < hull->getVertexCount(); i++) {
            const dgVector& v = hull->getVertices()[i];
            EXPECT_EQ(std::max(std::fabs(v.x), std::max(std::fabs(v.y), std::fabs(v.z))), 1.0f);
            corners += (std::fabs(v.x) == 1.0f && std::fabs(v.y) == 1.0f && std::fabs(v.z) == 1.0f) ? 1 : 0;
        }
        EXPECT_EQ(corners, 8);
    }

    const float r = 2.0f;
    Cloud octa = {r, 0, 0, -r, 0, 0, 0, r, 0, 0, -r, 0, 0, 0, r, 0, 0, -r};
    while (octa.size() < 3 * 200) {
        const float x = u(rng), y = u(rng), z = u(rng);
        if (std::fabs(x) + std::fabs(y) + std::fabs(z) < 0.99f) {
            octa.insert(octa.end(), {r * x, r * y, r * z});
        }
    }
    HullHolder octaHull = makeHull(octa);
    EXPECT_EQ(octaHull->getVertexCount(), 6);
    EXPECT_EQ(octaHull->getFaceCount(), 8);
    EXPECT_NEAR(octaHull->getVolume(), 4.0f / 3.0f * r * r * r, 1e-4f);
    expectClosedTriangleMesh(*octaHull);
    expectConvexOutward(*octaHull, 1e-6);
}

// Each axis is scaled by its own half-size, and the weld tolerance 0.01 is
// applied in those units. The cloud is a tetrahedron of cube corners, the
// opposite corner and a second point next to corner (+, +, +) along one
// axis; both near points are vertices unless they are welded.
TEST(ConvexHullNormalisation, WeldToleranceFollowsEachAxisScale) {
    const float regimes[3][2] = {{0.5f, 1.0f / (0.5f + 1e-6f)}, {10.0f, 10.0f}, {1000.0f, 0.128f}};
    for (int mixed = 0; mixed < 4; mixed++) {
        // Half-sizes per axis: one regime on all axes, or one per axis.
        float half[3], scale[3];
        for (int a = 0; a < 3; a++) {
            const int r = (mixed < 3) ? mixed : a;
            half[a] = regimes[r][0];
            scale[a] = regimes[r][1];
        }
        for (int axis = 0; axis < 3; axis++) {
            for (float factor : {0.4f, 3.0f}) {
                const float hx = half[0], hy = half[1], hz = half[2];
                Cloud cloud = {hx, hy, hz, -hx, -hy, hz, -hx, hy, -hz, hx, -hy, -hz, -hx, -hy, -hz};
                Cloud near = {hx, hy, hz};
                near[axis] -= factor * 0.01f / scale[axis];
                cloud.insert(cloud.end(), near.begin(), near.end());
                HullHolder hull = makeHull(cloud);
                SCOPED_TRACE(testing::Message() << "halves " << hx << " " << hy << " " << hz << " axis "
                                                << axis << " factor " << factor);
                // Across mixed regimes the normalised hull is so stretched
                // that an unwelded near point also lies within the face
                // tolerance: only the weld is checked there.
                if (factor < 1.0f || mixed < 3) {
                    EXPECT_EQ(hull->getVertexCount(), factor < 1.0f ? 5 : 6);
                }
                expectClosedTriangleMesh(*hull);
            }
        }
    }
    // Vertices come back close to the input corners in every regime.
    Cloud box;
    for (int i = 0; i < 8; i++) {
        box.insert(box.end(),
                   {(i & 1) ? -0.5f : 0.5f, (i & 2) ? -10.0f : 10.0f, (i & 4) ? -1000.0f : 1000.0f});
    }
    HullHolder hull = makeHull(box);
    ASSERT_EQ(hull->getVertexCount(), 8);
    for (int32_t i = 0; i < 8; i++) {
        const dgVector& v = hull->getVertices()[i];
        EXPECT_NEAR(std::fabs(v.x), 0.5f, 1.0f / 2048.0f);
        EXPECT_EQ(std::fabs(v.y), 10.0f);
        EXPECT_NEAR(std::fabs(v.z), 1000.0f, 1.0f / (2048.0f * 0.128f) + 1e-3f);
    }
    EXPECT_NEAR(hull->getVolume(), 1.0f * 20.0f * 2000.0f, 40000.0f * 0.002f);
}

// A point within 0.001 of a face adds no vertex; one clearly above it does.
TEST(ConvexHullKnownShapes, PointNearAFaceAddsNoVertex) {
    for (float lift : {0.0005f, 0.02f}) {
        Cloud cloud = cubeCorners(1.0f);
        cloud.insert(cloud.end(), {0.25f, 1.0f + lift, -0.125f});
        HullHolder hull = makeHull(cloud);
        EXPECT_EQ(hull->getVertexCount(), lift < 0.001f ? 8 : 9) << "lift " << lift;
        expectClosedTriangleMesh(*hull);
    }
}

// Lattice points: every plane and line of the lattice is full of exactly
// coplanar and collinear points, and points repeat. The hull's vertices must be
// input points and hold every input point exactly, which makes it the true
// hull; its volume is checked against the brute force on the distinct points
// nudged into general position.
TEST(ConvexHullRandomClouds, LatticeSubsetsMatchBruteForceHull) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> coord(0, 4);
    std::uniform_real_distribution<float> nudge(-1e-3f, 1e-3f);
    Cloud full;
    for (int i = 0; i < 125; i++) {
        full.insert(full.end(), {float(i % 5), float(i / 5 % 5), float(i / 25)});
    }
    HullHolder cube = makeHull(full);
    EXPECT_NEAR(cube->getVolume(), 64.0f, 1e-3f);
    expectClosedTriangleMesh(*cube);

    for (int round = 0; round < 12; round++) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        Cloud cloud, distinct;
        bool seen[125] = {};
        for (int i = 0; i < 8 + 4 * round; i++) {
            const int x = coord(rng), y = coord(rng), z = coord(rng);
            cloud.insert(cloud.end(), {float(x), float(y), float(z)});
            if (!seen[x + 5 * y + 25 * z]) {
                seen[x + 5 * y + 25 * z] = true;
                distinct.insert(distinct.end(), {x + nudge(rng), y + nudge(rng), z + nudge(rng)});
            }
        }
        HullHolder hull = makeHull(cloud);
        double area = 0.0;
        const double volume = bruteForceVolume(distinct, &area);
        if (volume < 0.05) {
            expectEmpty(*hull);
            continue;
        }
        expectClosedTriangleMesh(*hull);
        expectConvexOutward(*hull, 1e-5);
        const std::vector<FacePlane> planes = facePlanes(*hull);
        for (size_t i = 0; i < cloud.size() / 3; i++) {
            ASSERT_LE(farthestOutside(planes, pointOf(cloud, i)), 1e-5) << "point " << i;
        }
        for (int32_t i = 0; i < hull->getVertexCount(); i++) {
            const dgVector& v = hull->getVertices()[i];
            EXPECT_TRUE(seen[int(v.x) + 5 * int(v.y) + 25 * int(v.z)] && v.x == std::floor(v.x) &&
                        v.y == std::floor(v.y) && v.z == std::floor(v.z));
        }
        EXPECT_NEAR(hull->getVolume(), volume, 2e-3 * area);
    }
}

// Points on a sphere: the inscribed hull approaches the ball from below. With
// 2000 points the table has about 12000 half-edges, far past the 2048 that the
// fixed per-call tables of the convex queries hold and past the initial size of
// the construction's work stacks.
TEST(ConvexHullLargeInput, SphereApproachesBallAndEveryTableGrows) {
    const int n = 2000;
    const Cloud cloud = fibonacciSphere(n, 1.0f);
    HullHolder hull = makeHull(cloud);
    ASSERT_EQ(hull->getVertexCount(), n);
    EXPECT_EQ(hull->getEdgeCount(), 6 * n - 12);
    EXPECT_EQ(hull->getFaceCount(), 2 * n - 4);
    expectClosedTriangleMesh(*hull);
    expectConvexOutward(*hull, 1e-5);

    const double ball = 4.0 / 3.0 * kPi;
    const WalkSum walk = walkHull(*hull);
    EXPECT_EQ(walk.triangles, 2 * n - 4);
    EXPECT_LT(walk.volume, ball);
    EXPECT_GT(walk.volume, 0.995 * ball);
    EXPECT_NEAR(hull->getVolume(), walk.volume, 1e-4 * ball);

    // The parts below and above any plane add up to the whole, and so do
    // their first moments.
    struct Plane {
        static int32_t below(uint32_t, void* context, const dgMatrix&, dgPlane& plane) {
            plane = *static_cast<const dgPlane*>(context);
            return 1;
        }
    };
    const dgMatrix identity(dgGetIdentityMatrix());
    for (const dgPlane& cut : {dgPlane(0, 1, 0, 0), dgPlane(0.6f, 0, 0.8f, -0.3f)}) {
        dgPlane down = cut;
        dgPlane up(-cut.x, -cut.y, -cut.z, -cut.w);
        const dgVector a = hull->calcSubmergedVolume(identity, Plane::below, &down);
        const dgVector b = hull->calcSubmergedVolume(identity, Plane::below, &up);
        EXPECT_NEAR(a.w + b.w, walk.volume, 1e-3 * ball);
        EXPECT_GT(a.w, 0.1f);
        EXPECT_GT(b.w, 0.1f);
        for (int axis = 0; axis < 3; axis++) {
            EXPECT_NEAR(a[axis] * a.w + b[axis] * b.w, 0.0f, 2e-3f);
        }
    }
}

// More hull vertices than the 16-bit counts of the convex base can hold:
// refused, giving the empty hull. (The radius keeps the points far enough
// apart in normalised units that every one is a vertex.)
TEST(ConvexHullLargeInput, HullPastSixteenBitCountsIsRefused) {
    const int n = 11000;  // 6n - 12 = 65988 half-edges
    HullHolder hull = makeHull(fibonacciSphere(n, 50.0f));
    expectEmpty(*hull);
}

// The construction stops as soon as the growing hull passes the 16-bit counts:
// a sphere four times too big takes no more blocks (edge pages, grown work
// lists) than one just too big. Every point of these spheres is a vertex.
TEST(ConvexHullLargeInput, HullPastSixteenBitCountsStopsEarly) {
    std::vector<int64_t> blocks;
    for (int n : {11000, 44000}) {
        const Cloud cloud = fibonacciSphere(n, 50.0f);
        CountingHooks hooks;
        HullHolder hull = makeHull(cloud);
        expectEmpty(*hull);
        blocks.push_back(hooks.allocCalls());
    }
    EXPECT_LT(blocks[1], blocks[0] + blocks[0] / 4) << blocks[0] << " blocks for the smaller sphere";
}

// The same cloud gives the same hull, bit for bit, wherever its half-edges
// and nodes are allocated: built again into a second shape while the first
// lives, with blocks of other sizes taken in between.
TEST(ConvexHullDeterminism, SameCloudSameHullWhereverItIsBuilt) {
    std::mt19937 rng(8);
    Cloud cube = uniformCube(rng, 3000, 1.0f, 1.0f, 1.0f);
    for (int i = 0; i < 600; i++) {
        // Points on the cube's faces: many equally valid triangulations.
        const float s = (i & 1) ? 1.0f : -1.0f;
        const int axis = i % 3;
        Cloud p = {std::round(8.0f * cube[3 * i]) / 8.0f, std::round(8.0f * cube[3 * i + 1]) / 8.0f,
                   std::round(8.0f * cube[3 * i + 2]) / 8.0f};
        p[axis] = s;
        cube.insert(cube.end(), p.begin(), p.end());
    }
    const std::vector<Cloud> clouds = {fibonacciSphere(3000, 1.0f), uniformBall(rng, 3000, 1.0f), cube};
    for (size_t k = 0; k < clouds.size(); k++) {
        SCOPED_TRACE(testing::Message() << "cloud " << k);
        HullHolder first = makeHull(clouds[k]);
        ASSERT_GT(first->getFaceCount(), 0);
        const std::vector<int64_t> image = hullImage(*first);
        std::vector<void*> taken;
        for (int i = 0; i < 64; i++) {
            taken.push_back(dgMalloc(size_t(48 + 40 * i)));
        }
        HullHolder second = makeHull(clouds[k]);
        for (void* block : taken) {
            dgFree(block);
        }
        EXPECT_TRUE(hullImage(*second) == image);
    }
}

// Property over many random clouds of every kind: the hull is a closed,
// outward, convex triangle mesh; every input point lies inside it or within
// the construction's tolerance of it; every vertex is an input point up to
// that tolerance. Clouds without volume give the empty hull.
class ConvexHullProperty : public testing::TestWithParam<CloudKind> {};

TEST_P(ConvexHullProperty, EveryPointInsideAndHullConvex) {
    const CloudKind kind = GetParam();
    std::mt19937 rng(1000 + uint32_t(kind));
    int built = 0;
    for (int round = 0; round < 300; round++) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const Cloud cloud = randomCloud(kind, rng);
        const size_t n = cloud.size() / 3;
        HullHolder hull = makeHull(cloud);
        if ((kind == CloudKind::Cube || kind == CloudKind::Ball || kind == CloudKind::Sphere) && n >= 20) {
            ASSERT_GT(hull->getFaceCount(), 0);
        }
        if (hull->getFaceCount() == 0) {
            expectEmpty(*hull);
            continue;
        }
        built++;
        ASSERT_NO_FATAL_FAILURE(expectClosedTriangleMesh(*hull));
        // The vertices come back to the caller's units in floats: a flat or
        // thin hull far from the origin is convex up to their rounding.
        double reach = 0.0;
        for (float c : cloud) {
            reach = std::max(reach, double(std::fabs(c)));
        }
        const double rounding = 8.0 * FLT_EPSILON * reach;
        const double tolerance = hullTolerance(cloud) + rounding;
        ASSERT_NO_FATAL_FAILURE(expectConvexOutward(*hull, 1e-4 * tolerance + rounding, rounding));
        const std::vector<FacePlane> planes = facePlanes(*hull);
        for (size_t i = 0; i < n; i++) {
            ASSERT_LE(farthestOutside(planes, pointOf(cloud, i)), tolerance) << "point " << i;
        }
        for (int32_t i = 0; i < hull->getVertexCount(); i++) {
            double nearest = 1e300;
            for (size_t j = 0; j < n; j++) {
                nearest = std::min(nearest, length(sub(toD3(hull->getVertices()[i]), pointOf(cloud, j))));
            }
            ASSERT_LE(nearest, tolerance) << "vertex " << i;
        }
        // Small clouds: the volume of the true hull, by brute force over
        // every triple of points, within the tolerance over its surface.
        if (n <= 24) {
            double area = 0.0;
            const double volume = bruteForceVolume(cloud, &area);
            EXPECT_NEAR(hull->getVolume(), volume, area * tolerance) << "brute force " << volume;
            EXPECT_NEAR(hull->getCentreOfMass().w, volume, area * tolerance);
            EXPECT_NEAR(walkHull(*hull).volume, volume, area * tolerance);
        }
    }
    if (kind != CloudKind::Line && kind != CloudKind::TiltedPlane) {
        EXPECT_GT(built, 250);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConvexHullProperty,
                         testing::Values(CloudKind::Cube, CloudKind::Ball, CloudKind::Sphere,
                                         CloudKind::TiltedSlab, CloudKind::TiltedPlane, CloudKind::Line));

TEST(ConvexHullDegenerate, RefusedCloudsGiveTheEmptyHullSafely) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<Cloud> clouds;
    clouds.push_back({});
    clouds.push_back({1, 2, 3});
    clouds.push_back({0, 0, 0, 1, 0, 0});
    clouds.push_back({0, 0, 0, 1, 0, 0, 0, 1, 0});
    clouds.push_back({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0});  // four coplanar
    Cloud same, line, plane, tilted, cross;
    for (int i = 0; i < 50; i++) {
        same.insert(same.end(), {3, -2, 7});
        const float t = u(rng);
        line.insert(line.end(), {1 + 2 * t, -3 * t, 0.5f * t});
        plane.insert(plane.end(), {5 * u(rng), 5 * u(rng), 2.0f});
        const float a = u(rng), b = u(rng);
        tilted.insert(tilted.end(), {a, b, 0.3f * a - 0.7f * b});
        cross.insert(cross.end(), {(i % 2) ? u(rng) : 0.0f, (i % 2) ? 0.0f : u(rng), 0.0f});
    }
    for (const Cloud& c : {same, line, plane, tilted, cross}) {
        clouds.push_back(c);
    }
    // A tilted plane with noise far under the tolerances. (An axis-aligned
    // one is not degenerate: its thin axis is scaled up to unit size.)
    Cloud noisy = tilted;
    for (size_t i = 2; i < noisy.size(); i += 3) {
        noisy[i] += 0.0002f * u(rng);
    }
    clouds.push_back(noisy);
    Cloud nan = cubeCorners(1.0f);
    nan[4] = std::nanf("");
    clouds.push_back(nan);
    Cloud inf = cubeCorners(1.0f);
    inf[0] = INFINITY;
    clouds.push_back(inf);

    CountingHooks hooks;
    for (size_t k = 0; k < clouds.size(); k++) {
        SCOPED_TRACE(testing::Message() << "cloud " << k);
        HullHolder hull = makeHull(clouds[k]);
        expectEmpty(*hull);
        // Every query of the convex base survives the empty hull.
        dgContactPoint contact;
        EXPECT_GT(
            hull->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
            1.0f);
        dgVector boxMin, boxMax, inertia, origin;
        hull->calcAABB(dgGetIdentityMatrix(), boxMin, boxMax);
        EXPECT_EQ(hull->getVolume(), 0.0f);
        hull->calcInertia(inertia, origin);
        EXPECT_EQ(walkHull(*hull).triangles, 0);
        const dgVector s = hull->supportVertex(dgVector(1, 0, 0, 0));
        EXPECT_EQ(s.x, 0.0f);
        dgVector points[dgPlaneIntersectionMaxPoints];
        EXPECT_EQ(hull->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 0, 0, 1), points), 0);
        EXPECT_EQ(hull->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr).w, 0.0f);
    }
    // Bad arguments.
    const Cloud cube = cubeCorners(1.0f);
    HullHolder nullPoints =
        HullHolder::adopt(new dgCollisionConvexHull(1, 8, 12, nullptr, dgGetIdentityMatrix()));
    expectEmpty(*nullPoints);
    HullHolder negativeCount =
        HullHolder::adopt(new dgCollisionConvexHull(1, -8, 12, cube.data(), dgGetIdentityMatrix()));
    expectEmpty(*negativeCount);
    HullHolder negativeStride =
        HullHolder::adopt(new dgCollisionConvexHull(1, 8, -12, cube.data(), dgGetIdentityMatrix()));
    expectEmpty(*negativeStride);
    HullHolder zeroStride =
        HullHolder::adopt(new dgCollisionConvexHull(1, 8, 3, cube.data(), dgGetIdentityMatrix()));
    expectEmpty(*zeroStride);  // every point read at the first one
    EXPECT_EQ(hooks.foreignReleases(), 0);
}

// Strides: padding words are skipped and a remainder of the stride modulo 4 is
// dropped.
TEST(ConvexHullInput, StrideSkipsPaddingAndDropsRemainder) {
    const Cloud cube = cubeCorners(2.0f);
    std::vector<float> padded;
    for (int i = 0; i < 8; i++) {
        padded.insert(padded.end(), {cube[3 * i], cube[3 * i + 1], cube[3 * i + 2], 99.0f, -99.0f});
    }
    HullHolder a =
        HullHolder::adopt(new dgCollisionConvexHull(1, 8, 20, padded.data(), dgGetIdentityMatrix()));
    HullHolder b =
        HullHolder::adopt(new dgCollisionConvexHull(1, 8, 23, padded.data(), dgGetIdentityMatrix()));
    for (const HullHolder* h : {&a, &b}) {
        EXPECT_EQ((*h)->getVertexCount(), 8);
        EXPECT_NEAR((*h)->getVolume(), 64.0f, 1e-3f);
    }
}

// Clusters of near-duplicate points at a cube's corners, the cube 770 times
// its size from the origin: the support point must reach the extreme of the
// input points along every direction (brute force in double), up to the
// construction's tolerance and the rounding of coordinates that far out.
TEST(ConvexHullQueries, SupportOfFarClustersReachesTheExtremeInput) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    int32_t shortClouds = 0;
    double worst = 0.0;
    for (int cloudIndex = 0; cloudIndex < 300; cloudIndex++) {
        const double size = 2.0 + 254.0 * 0.5 * (u(rng) + 1.0);
        const D3 away = toD3(randomUnit(rng));
        Cloud cloud;
        for (int corner = 0; corner < 8; corner++) {
            for (int copy = 1 + int(rng() % 6); copy > 0; copy--) {
                for (int a = 0; a < 3; a++) {
                    const double side = ((corner >> a) & 1) ? 0.5 : -0.5;
                    cloud.push_back(float(770.0 * size * away[a] + side * size + 1e-4 * u(rng)));
                }
            }
        }
        HullHolder hull = makeHull(cloud);
        ASSERT_GT(hull->getFaceCount(), 0);
        double reach = 0.0;
        for (float c : cloud) {
            reach = std::max(reach, double(std::fabs(c)));
        }
        const double tolerance = hullTolerance(cloud) + 8.0 * FLT_EPSILON * reach;
        double cloudWorst = 0.0;
        for (int trial = 0; trial < 200; trial++) {
            const D3 r{g(rng), g(rng), g(rng)};
            const D3 d = r * (1.0 / length(r));
            double best = -1e300;
            for (size_t i = 0; i < cloud.size() / 3; i++) {
                best = std::max(best, dot(pointOf(cloud, i), d));
            }
            const dgVector s = hull->supportVertex(dgVector(float(d.x), float(d.y), float(d.z), 0.0f));
            cloudWorst = std::max(cloudWorst, best - dot(toD3(s), d) - tolerance);
        }
        shortClouds += (cloudWorst > 0.0);
        worst = std::max(worst, (cloudWorst + tolerance) / size);
    }
    EXPECT_EQ(shortClouds, 0) << "worst shortfall " << worst << " of the size";
}
