#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "dgCollisionBox.h"
#include "dgConvexCollision.h"
#include "dgEdgeMesh.h"
#include "dgMemory.h"
#include "TestSupport.h"

namespace {

using testsupport::kPi;
using testsupport::randomUnit;

// A convex polyhedron from explicit vertices and outward faces, owning its
// arrays the way a convex hull does.
class QueryHull : public dgConvexCollision {
    DG_DECLARE_CLASS(QueryHull, dgConvexCollision)

public:
    QueryHull(const std::vector<dgVector>& vertices, const std::vector<std::vector<int32_t>>& faces)
        : dgConvexCollision(0x7171u, dgGetIdentityMatrix(), dgShapeConvexHull), m_faces(faces) {
        m_vertexCount = uint16_t(vertices.size());
        m_vertices = static_cast<dgVector*>(dgMalloc(sizeof(dgVector) * vertices.size()));
        for (size_t i = 0; i < vertices.size(); i++) {
            m_vertices[i] = vertices[i];
            m_vertices[i].w = 1.0f;
        }
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (const std::vector<int32_t>& face : faces) {
            mesh.dgEdgeMeshAddFace(int32_t(face.size()), face.data());
        }
        mesh.dgEdgeMeshEndFace();
        const int32_t count = mesh.getEdgeCount();
        m_edges = static_cast<dgConvexEdge*>(dgMalloc(sizeof(dgConvexEdge) * size_t(count)));
        m_edgeCount = uint16_t(fillEdgeTable(mesh, m_edges, count));
        initMassAndBox();
    }

    void setCollisionBBox(const dgVector&, const dgVector&) override {}
    uint32_t calcSignature() const override { return 0x7171u; }

    const std::vector<std::vector<int32_t>>& faces() const { return m_faces; }

private:
    std::vector<std::vector<int32_t>> m_faces;
};

typedef dgRefHolder<QueryHull> HullRef;

std::vector<dgVector> boxCorners(float hx, float hy, float hz) {
    std::vector<dgVector> v;
    for (int32_t i = 0; i < 8; i++) {
        v.push_back(dgVector((i & 1) ? -hx : hx, (i & 2) ? -hy : hy, (i & 4) ? -hz : hz, 1.0f));
    }
    return v;
}

HullRef makeBoxHull(float hx, float hy, float hz) {
    return HullRef::adopt(
        new QueryHull(boxCorners(hx, hy, hz),
                      {{0, 4, 5, 1}, {0, 1, 3, 2}, {1, 5, 7, 3}, {5, 4, 6, 7}, {4, 0, 2, 6}, {6, 2, 3, 7}}));
}

// Prism along x over a regular polygon of `sides` corners and radius r.
HullRef makePrism(int32_t sides, float hx, float r) {
    std::vector<dgVector> v;
    for (int32_t i = 0; i < sides; i++) {
        const double a = 2.0 * kPi * i / sides;
        v.push_back(dgVector(hx, float(r * std::cos(a)), float(r * std::sin(a)), 1.0f));
        v.push_back(dgVector(-hx, float(r * std::cos(a)), float(r * std::sin(a)), 1.0f));
    }
    std::vector<std::vector<int32_t>> f;
    std::vector<int32_t> capPlus;
    std::vector<int32_t> capMinus;
    for (int32_t i = 0; i < sides; i++) {
        const int32_t j = (i + 1) % sides;
        f.push_back({2 * i, 2 * i + 1, 2 * j + 1, 2 * j});
        capPlus.push_back(2 * i);
        capMinus.insert(capMinus.begin(), 2 * i + 1);
    }
    f.push_back(capPlus);
    f.push_back(capMinus);
    return HullRef::adopt(new QueryHull(v, f));
}

dgVector unit(const dgVector& v) {
    const float s = 1.0f / std::sqrt(v % v);
    return dgVector(v.x * s, v.y * s, v.z * s, 0.0f);
}

void subdivide(int32_t level, const dgVector& p0, const dgVector& p1, const dgVector& p2,
               std::vector<dgVector>& out) {
    if (level == 0) {
        out.push_back(p0);
        out.push_back(p1);
        out.push_back(p2);
        return;
    }
    const dgVector m01(unit(p0 + p1));
    const dgVector m12(unit(p1 + p2));
    const dgVector m20(unit(p2 + p0));
    subdivide(level - 1, p0, m01, m20, out);
    subdivide(level - 1, p1, m12, m01, out);
    subdivide(level - 1, p2, m20, m12, out);
    subdivide(level - 1, m01, m12, m20, out);
}

// The unit octahedron subdivided `level` times, welded, scaled by r.
HullRef makeRoundHull(int32_t level, float r) {
    const dgVector px(1, 0, 0, 0), nx(-1, 0, 0, 0), py(0, 1, 0, 0), ny(0, -1, 0, 0), pz(0, 0, 1, 0),
        nz(0, 0, -1, 0);
    const dgVector tris[8][3] = {{pz, px, py}, {pz, py, nx}, {pz, nx, ny}, {pz, ny, px},
                                 {nz, py, px}, {nz, nx, py}, {nz, ny, nx}, {nz, px, ny}};
    std::vector<dgVector> corners;
    for (const auto& t : tris) {
        subdivide(level, t[0], t[1], t[2], corners);
    }
    std::vector<dgVector> v;
    std::vector<int32_t> index;
    for (const dgVector& c : corners) {
        const dgVector p(c.x * r, c.y * r, c.z * r, 1.0f);
        int32_t found = -1;
        for (size_t j = 0; j < v.size(); j++) {
            if (v[j].x == p.x && v[j].y == p.y && v[j].z == p.z) {
                found = int32_t(j);
            }
        }
        if (found < 0) {
            found = int32_t(v.size());
            v.push_back(p);
        }
        index.push_back(found);
    }
    std::vector<std::vector<int32_t>> f;
    for (size_t i = 0; i < index.size(); i += 3) {
        f.push_back({index[i], index[i + 1], index[i + 2]});
    }
    return HullRef::adopt(new QueryHull(v, f));
}

dgMatrix randomRigid(std::mt19937& rng) {
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    std::uniform_real_distribution<float> shift(-5.0f, 5.0f);
    dgMatrix m(dgRotationMatrixX(angle(rng)) * dgRotationMatrixY(angle(rng)) * dgRotationMatrixZ(angle(rng)));
    m.position = dgVector(shift(rng), shift(rng), shift(rng), 1.0f);
    return m;
}

// ---- independent references ----

struct RayReference {
    bool hit;
    double t;
    // Hits: lead of the entering plane over the runner-up; misses: by how
    // much the entering parameter passes the leaving one. Small near edges.
    double margin;
    dgVector normal;
};

// Segment against every face plane of a hull, in double; a start inside is
// no hit.
RayReference referenceRay(const QueryHull& hull, const dgVector& p0, const dgVector& p1) {
    RayReference r = {false, 0.0, 1e30, dgVector(0, 0, 0, 0)};
    const dgVector* v = hull.getVertices();
    double enter = -1e30;
    double second = -1e30;
    double leave = 1.0;
    bool outside = false;
    bool parallelOutside = false;
    for (const std::vector<int32_t>& f : hull.faces()) {
        double n[3] = {0, 0, 0};
        for (size_t i = 0; i < f.size(); i++) {
            const dgVector& a = v[f[i]];
            const dgVector& b = v[f[(i + 1) % f.size()]];
            n[0] += (double(a.y) - b.y) * (double(a.z) + b.z);
            n[1] += (double(a.z) - b.z) * (double(a.x) + b.x);
            n[2] += (double(a.x) - b.x) * (double(a.y) + b.y);
        }
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const dgVector& a = v[f[0]];
        const double s0 =
            (n[0] * (double(p0.x) - a.x) + n[1] * (double(p0.y) - a.y) + n[2] * (double(p0.z) - a.z)) / len;
        const double den =
            (n[0] * (double(p1.x) - p0.x) + n[1] * (double(p1.y) - p0.y) + n[2] * (double(p1.z) - p0.z)) /
            len;
        outside = outside || (s0 > 0.0);
        if (den == 0.0) {
            parallelOutside = parallelOutside || (s0 > 0.0);
        } else if (den < 0.0) {
            const double t = -s0 / den;
            if (t > enter) {
                second = enter;
                enter = t;
                r.normal = dgVector(float(n[0] / len), float(n[1] / len), float(n[2] / len), 0.0f);
            } else {
                second = std::max(second, t);
            }
        } else {
            leave = std::min(leave, -s0 / den);
        }
    }
    r.hit = outside && !parallelOutside && (enter >= 0.0) && (enter <= leave);
    r.t = enter;
    r.margin = r.hit ? enter - second : ((outside && !parallelOutside) ? enter - leave : 1e30);
    return r;
}

struct ClipReference {
    double volume;
    double centroid[3];
};

// Volume and centroid of the box [-h, h] below the plane n . p + d < 0, by a
// midpoint rule over the two axes the normal leans on least and the exact
// interval along the third.
ClipReference referenceClippedBox(const double h[3], const double n[3], double d, int32_t cells = 500) {
    int32_t c = 0;
    for (int32_t i = 1; i < 3; i++) {
        if (std::fabs(n[i]) > std::fabs(n[c])) {
            c = i;
        }
    }
    const int32_t a = (c + 1) % 3;
    const int32_t b = (c + 2) % 3;
    const double da = 2.0 * h[a] / cells;
    const double db = 2.0 * h[b] / cells;
    double volume = 0.0;
    double moment[3] = {0, 0, 0};
    for (int32_t i = 0; i < cells; i++) {
        const double pa = -h[a] + (i + 0.5) * da;
        for (int32_t j = 0; j < cells; j++) {
            const double pb = -h[b] + (j + 0.5) * db;
            const double rest = -(d + n[a] * pa + n[b] * pb);
            double lo = -h[c];
            double hi = h[c];
            if (n[c] > 0.0) {
                hi = std::min(hi, rest / n[c]);
            } else if (n[c] < 0.0) {
                lo = std::max(lo, rest / n[c]);
            } else if (rest <= 0.0) {
                hi = lo;
            }
            if (hi <= lo) {
                continue;
            }
            const double len = (hi - lo) * da * db;
            volume += len;
            moment[a] += pa * len;
            moment[b] += pb * len;
            moment[c] += 0.5 * (hi * hi - lo * lo) * da * db;
        }
    }
    ClipReference r;
    r.volume = volume;
    for (int32_t i = 0; i < 3; i++) {
        r.centroid[i] = volume > 0.0 ? moment[i] / volume : 0.0;
    }
    return r;
}

// ---- fluid plane callbacks ----

struct FluidPlane {
    dgPlane plane;
    int32_t calls;
    uint32_t lastUserId;
};

int32_t fluidPlane(uint32_t userId, void* context, const dgMatrix&, dgPlane& plane) {
    FluidPlane* fluid = static_cast<FluidPlane*>(context);
    fluid->calls++;
    fluid->lastUserId = userId;
    plane = fluid->plane;
    return 1;
}

int32_t noFluidPlane(uint32_t, void*, const dgMatrix&, dgPlane& plane) {
    plane = dgPlane(0.0f, 1.0f, 0.0f, 1.0e6f);
    return 0;
}

uint32_t vetoEverything(const dgBody*, const dgCollision*, void* userData) {
    (*static_cast<int32_t*>(userData))++;
    return 0;
}

dgContactPoint poisonedContact() {
    dgContactPoint c;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    c.point = dgVector(nan, nan, nan, nan);
    c.normal = dgVector(nan, nan, nan, nan);
    c.userId = -77;
    c.penetration = nan;
    return c;
}

void expectUnitNormal(const dgContactPoint& c) {
    const float len2 = c.normal % c.normal;
    ASSERT_TRUE(std::isfinite(len2));
    EXPECT_NEAR(len2, 1.0f, 1e-5f);
}

// ---- contour checks ----

// Points on the plane, on the surface of the box [-h, h] and in convex order,
// turning counter-clockwise about n.
void expectBoxContour(const dgVector* points, int32_t count, const dgVector& n, const dgVector& q,
                      const float h[3]) {
    const float offset = n % q;
    for (int32_t i = 0; i < count; i++) {
        const dgVector& p = points[i];
        EXPECT_NEAR(p % n, offset, 2e-5f) << "point " << i << " off the plane";
        float outermost = 0.0f;
        for (int32_t k = 0; k < 3; k++) {
            EXPECT_LE(std::fabs(p[k]), h[k] + 2e-5f) << "point " << i << " outside the box";
            outermost = std::max(outermost, std::fabs(p[k]) - h[k]);
        }
        EXPECT_GT(outermost, -2e-5f) << "point " << i << " inside the box";
    }
    if (count < 3) {
        return;
    }
    double winding = 0.0;
    for (int32_t i = 0; i < count; i++) {
        const dgVector& a = points[(i + count - 1) % count];
        const dgVector& b = points[i];
        const dgVector& c = points[(i + 1) % count];
        const dgVector e0(b - a);
        const dgVector e1(c - b);
        const float turn = e0.cross(e1) % n;
        EXPECT_GE(turn, -1e-5f) << "reflex or clockwise corner at " << i;
        winding += std::atan2(double(turn), double(e0 % e1));
    }
    EXPECT_NEAR(winding, 2.0 * kPi, 1e-3) << "contour does not wind once";
}

// Undirected edges of the box cut strictly or touched at a corner: the number
// of contour points of a plane in general position.
int32_t crossingEdgeCount(const QueryHull& hull, const dgVector& n, const dgVector& q) {
    const dgVector* v = hull.getVertices();
    const dgConvexEdge* e = hull.getEdges();
    int32_t count = 0;
    for (int32_t i = 0; i < hull.getEdgeCount(); i++) {
        const float a = (v[e[i].m_vertex] - q) % n;
        const float b = (v[e[i].m_twin->m_vertex] - q) % n;
        if (a > 0.0f && b < 0.0f) {
            count++;
        }
    }
    return count;
}

}  // namespace

// ---------------------------------------------------------------- ray cast

TEST(ConvexRayCast, SegmentBoxTestCountsTouching) {
    HullRef box = makeBoxHull(1, 2, 3);
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(-1, 0, 0, 1)));
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(-1.01f, 0, 0, 1)));
    // Along a face plane: touching.
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 2, 0, 1), dgVector(5, 2, 0, 1)));
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 2.01f, 0, 1), dgVector(5, 2.01f, 0, 1)));
    // Crosses the x slab above the box.
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 3, 0, 1), dgVector(5, 3, 0, 1)));
    // Diagonal past a corner.
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(0, 3.1f, 0, 1), dgVector(2, 1.1f, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(0, 3, 0, 1), dgVector(2, 1, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(0, 2.9f, 0, 1), dgVector(1.5f, 0.5f, 0, 1)));
}

TEST(ConvexRayCast, BoxHullMatchesSlabReferenceFromOutside) {
    HullRef box = makeBoxHull(1, 2, 3);
    box->setUserId(0x80000005u);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-6.0f, 6.0f);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 3000; trial++) {
        const dgVector p0(coord(rng), coord(rng), coord(rng), 1.0f);
        const dgVector p1(coord(rng), coord(rng), coord(rng), 1.0f);
        const RayReference ref = referenceRay(*box, p0, p1);
        dgContactPoint contact = poisonedContact();
        const float t = box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        if (!ref.hit) {
            // Rays passing an edge within rounding may go either way.
            if (ref.margin > 1e-4) {
                EXPECT_EQ(t, dgCollision::kRayMiss) << "trial " << trial;
            }
            continue;
        }
        hits++;
        ASSERT_LE(t, 1.0f) << "trial " << trial;
        EXPECT_NEAR(t, ref.t, 2e-4) << "trial " << trial;
        expectUnitNormal(contact);
        EXPECT_EQ(contact.userId, int64_t(0x80000005u));
        if (ref.margin > 1e-3) {
            EXPECT_GT(contact.normal % ref.normal, 0.9999f) << "trial " << trial;
        }
    }
    EXPECT_GT(hits, 300);
}

// A ball whose support function is the exact sphere: the ray cast must
// converge on a curved surface, where the simplex collapses into slivers.
class SmoothBall : public QueryHull {
    DG_DECLARE_CLASS(SmoothBall, QueryHull)

public:
    SmoothBall(const std::vector<dgVector>& v, const std::vector<std::vector<int32_t>>& f, float radius)
        : QueryHull(v, f), m_radius(radius) {}
    dgVector supportVertex(const dgVector& d) const override {
        const float len2 = d % d;
        if (len2 == 0.0f) {
            return dgVector(m_radius, 0.0f, 0.0f, 1.0f);
        }
        const float s = m_radius / std::sqrt(len2);
        return dgVector(d.x * s, d.y * s, d.z * s, 1.0f);
    }

private:
    float m_radius;
};

TEST(ConvexRayCast, SmoothSupportMatchesAnalyticSphere) {
    const float r = 2.0f;
    HullRef coarse = makeRoundHull(0, r);
    std::vector<dgVector> v(coarse->getVertices(), coarse->getVertices() + coarse->getVertexCount());
    dgRefHolder<SmoothBall> ball = dgRefHolder<SmoothBall>::adopt(new SmoothBall(v, coarse->faces(), r));
    std::mt19937 rng(15);
    std::normal_distribution<float> spread(0.0f, 1.0f);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 4000; trial++) {
        const dgVector p0(spread(rng) * 4.0f, spread(rng) * 4.0f, spread(rng) * 4.0f, 1.0f);
        const dgVector p1(spread(rng), spread(rng), spread(rng), 1.0f);
        if ((p0 % p0) <= r * r) {
            continue;
        }
        const dgVector d(p1 - p0);
        const double a = d % d;
        const double b = 2.0 * (p0 % d);
        const double c = double(p0 % p0) - double(r) * r;
        const double disc = b * b - 4.0 * a * c;
        const double expected = disc >= 0.0 ? (-b - std::sqrt(disc)) / (2.0 * a) : 2.0;
        // Closest approach within 1e-4 of the surface, or ending within 1e-4
        // of it: either answer is right.
        const double clearance = std::fabs(disc) / (4.0 * a);
        const bool ambiguous =
            (clearance < 4.0 * r * 1e-4) || (std::fabs(expected - 1.0) * std::sqrt(a) < 1e-4);
        dgContactPoint contact = poisonedContact();
        const float t = ball->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        if (ambiguous) {
            continue;
        }
        if (disc < 0.0 || expected > 1.0) {
            EXPECT_EQ(t, dgCollision::kRayMiss) << "trial " << trial;
            continue;
        }
        hits++;
        ASSERT_LE(t, 1.0f) << "trial " << trial;
        EXPECT_NEAR(t * std::sqrt(a), expected * std::sqrt(a), 1e-3) << "trial " << trial;
        expectUnitNormal(contact);
        const dgVector hit(p0 + d.scale(float(expected)));
        EXPECT_GT(contact.normal % unit(hit), 0.999f) << "trial " << trial;
    }
    EXPECT_GT(hits, 1500);
}

TEST(ConvexRayCast, StartInsideReportsNoHit) {
    HullRef box = makeBoxHull(1, 2, 3);
    HullRef ball = makeRoundHull(2, 1.0f);
    std::mt19937 rng(14);
    std::uniform_real_distribution<float> inside(-0.5f, 0.5f);
    for (int32_t trial = 0; trial < 200; trial++) {
        const dgVector p0(inside(rng), inside(rng), inside(rng), 1.0f);
        const dgVector p1(p0 + randomUnit(rng).scale(10.0f));
        dgContactPoint contact = poisonedContact();
        EXPECT_EQ(box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
        EXPECT_EQ(ball->rayCast(p0, p1, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    }
}

TEST(ConvexRayCast, HitExactlyAtEndCountsAndStoppingShortMisses) {
    HullRef box = makeBoxHull(1, 2, 3);
    for (int32_t axis = 0; axis < 3; axis++) {
        for (float side : {-1.0f, 1.0f}) {
            const float h = box->getBoxHalfSize()[axis];
            dgVector p0(0.25f, -0.5f, 0.75f, 1.0f);
            dgVector p1(p0);
            p0[axis] = side * (h + 4.0f);
            p1[axis] = side * h;
            dgContactPoint contact = poisonedContact();
            const float t = box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
            EXPECT_EQ(t, 1.0f) << "axis " << axis << " side " << side;
            expectUnitNormal(contact);
            EXPECT_NEAR(contact.normal[axis], side, 1e-6f);

            p1[axis] = side * (h + 0.001f);
            EXPECT_EQ(box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
        }
    }
}

TEST(ConvexRayCast, ParallelAndGrazingRays) {
    HullRef box = makeBoxHull(1, 2, 3);
    dgContactPoint contact = poisonedContact();
    // Parallel to the x axis, outside in y: misses.
    EXPECT_EQ(box->rayCast(dgVector(-5, 2.001f, 0, 1), dgVector(5, 2.001f, 0, 1), contact, nullptr, nullptr,
                           nullptr),
              dgCollision::kRayMiss);
    // Parallel, just inside: enters through x = -1 at t = 0.4.
    contact = poisonedContact();
    float t = box->rayCast(dgVector(-5, 1.999f, 0, 1), dgVector(5, 1.999f, 0, 1), contact, nullptr, nullptr,
                           nullptr);
    EXPECT_NEAR(t, 0.4f, 1e-5f);
    expectUnitNormal(contact);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1e-5f);
    // Diagonal rays passing a vertical edge (x = 1, z = 3) just outside and
    // just inside.
    const dgVector dir(unit(dgVector(1, 0, -1, 0)));
    const dgVector side(unit(dgVector(1, 0, 1, 0)));
    const dgVector edge(1, 0.5f, 3, 1);
    EXPECT_EQ(box->rayCast(edge + side.scale(1e-3f) - dir.scale(3.0f),
                           edge + side.scale(1e-3f) + dir.scale(3.0f), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    contact = poisonedContact();
    const dgVector p0(edge - side.scale(1e-3f) - dir.scale(3.0f));
    const dgVector p1(edge - side.scale(1e-3f) + dir.scale(3.0f));
    t = box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
    ASSERT_LE(t, 1.0f);
    const RayReference ref = referenceRay(*box, p0, p1);
    ASSERT_TRUE(ref.hit);
    EXPECT_NEAR(t, ref.t, 1e-4);
    expectUnitNormal(contact);
    // Zero-length segment outside: no hit.
    EXPECT_EQ(box->rayCast(dgVector(5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
}

TEST(ConvexRayCast, PrefilterVetoLeavesContactUntouched) {
    HullRef box = makeBoxHull(1, 1, 1);
    dgContactPoint contact = poisonedContact();
    int32_t calls = 0;
    EXPECT_EQ(
        box->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, vetoEverything, nullptr, &calls),
        dgCollision::kRayMiss);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(std::isnan(contact.normal.x));
    EXPECT_EQ(contact.userId, -77);
}

TEST(ConvexRayCast, FlatShapeReportsNoHit) {
    HullRef flat = makeBoxHull(1, 1, 0);
    dgContactPoint contact = poisonedContact();
    EXPECT_EQ(flat->rayCast(dgVector(0.2f, 0.1f, -5, 1), dgVector(0.2f, 0.1f, 5, 1), contact, nullptr,
                            nullptr, nullptr),
              dgCollision::kRayMiss);
}

// ---------------------------------------------------------- submerged volume

TEST(SubmergedVolume, NoPlaneGivesWholeShapeInWorld) {
    HullRef box = makeBoxHull(1, 2, 3);
    std::mt19937 rng(21);
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix m(randomRigid(rng));
        for (dgCollisionFluidPlaneCallback cb : {dgCollisionFluidPlaneCallback(nullptr), &noFluidPlane}) {
            const dgVector r(box->calcSubmergedVolume(m, cb, nullptr));
            EXPECT_NEAR(r.w, 48.0f, 1e-3f);
            EXPECT_NEAR(r.x, m.position.x, 1e-4f);
            EXPECT_NEAR(r.y, m.position.y, 1e-4f);
            EXPECT_NEAR(r.z, m.position.z, 1e-4f);
        }
    }
    // A fluid plane below the shape leaves nothing submerged: the matrix origin
    // with volume 0.
    FluidPlane fluid = {dgPlane(0, 1, 0, 100.0f), 0, 0};
    box->setUserId(0x9000000Au);
    const dgVector r(box->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, &fluid));
    EXPECT_EQ(r.w, 0.0f);
    EXPECT_EQ(fluid.calls, 1);
    EXPECT_EQ(fluid.lastUserId, 0x9000000Au);
}

// Box (1, 2, 3), volume 48, cut through corners and along edges.
TEST(SubmergedVolume, PlanesThroughCornersAndEdgesMatchAnalytic) {
    HullRef box = makeBoxHull(1, 2, 3);
    const float h[3] = {1, 2, 3};
    struct Case {
        dgPlane plane;
        double volume;
        double centroid[3];
    };
    const float inv = 1.0f / std::sqrt(1.0f + 0.25f + 1.0f / 9.0f);
    const float invXY = 1.0f / std::sqrt(1.0f + 0.25f);
    const std::vector<Case> cases = {
        // Through three corners: the corner tetrahedron at (+, +, +) below.
        {dgPlane(-inv, -0.5f * inv, -inv / 3.0f, inv), 8.0, {1.0 - 0.5, 2.0 - 1.0, 3.0 - 1.5}},
        // ...and its complement.
        {dgPlane(inv, 0.5f * inv, inv / 3.0f, -inv), 40.0, {-0.1, -0.2, -0.3}},
        // Through two opposite vertical edges (four corners): half the box.
        {dgPlane(invXY, -0.5f * invXY, 0, 0), 24.0, {-1.0 / 3.0, 2.0 / 3.0, 0.0}},
        // Touching one corner from below / above: nothing / everything.
        {dgPlane(inv, 0.5f * inv, inv / 3.0f, 3.0f * inv), 0.0, {0, 0, 0}},
        {dgPlane(inv, 0.5f * inv, inv / 3.0f, -3.0f * inv), 48.0, {0, 0, 0}},
        // Containing one edge only.
        {dgPlane(invXY, 0.5f * invXY, 0, -2.0f * invXY), 48.0, {0, 0, 0}},
        {dgPlane(-invXY, -0.5f * invXY, 0, 2.0f * invXY), 0.0, {0, 0, 0}},
        // Coinciding with a face.
        {dgPlane(0, 1, 0, -2), 48.0, {0, 0, 0}},
        {dgPlane(0, -1, 0, 2), 0.0, {0, 0, 0}},
        // Through the middle of four parallel edges.
        {dgPlane(0, 0, 1, 0), 24.0, {0, 0, -1.5}},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        const Case& c = cases[i];
        FluidPlane fluid = {c.plane, 0, 0};
        const dgVector r(box->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, &fluid));
        EXPECT_NEAR(r.w, c.volume, 1e-3) << "case " << i;
        if (c.volume > 0.0) {
            for (int32_t k = 0; k < 3; k++) {
                EXPECT_NEAR(r[k], c.centroid[k], 1e-4) << "case " << i << " axis " << k;
            }
        }
        // Independent cross-check of the table above.
        const double n[3] = {c.plane.x, c.plane.y, c.plane.z};
        const double hd[3] = {h[0], h[1], h[2]};
        const ClipReference ref = referenceClippedBox(hd, n, c.plane.w, 600);
        EXPECT_NEAR(ref.volume, c.volume, 2e-3) << "case " << i;
    }
}

TEST(SubmergedVolume, RandomPlanesMatchIntegratedClippedBox) {
    const float h[3] = {1.0f, 2.0f, 3.0f};
    const double hd[3] = {1.0, 2.0, 3.0};
    HullRef hull = makeBoxHull(h[0], h[1], h[2]);
    dgRefHolder<dgCollisionBox> box = dgRefHolder<dgCollisionBox>::adopt(
        new dgCollisionBox(0x1111u, 2.0f * h[0], 2.0f * h[1], 2.0f * h[2], dgGetIdentityMatrix()));
    const std::vector<dgVector> corners(boxCorners(h[0], h[1], h[2]));
    std::mt19937 rng(22);
    std::uniform_real_distribution<float> inside(-0.9f, 0.9f);
    std::uniform_real_distribution<float> nearVertex(-2e-5f, 2e-5f);
    std::uniform_int_distribution<int32_t> pick(0, 7);
    for (int32_t trial = 0; trial < 90; trial++) {
        const dgVector n(randomUnit(rng));
        float d;
        switch (trial % 3) {
            case 0:  // general position
                d = -(n % dgVector(inside(rng) * h[0], inside(rng) * h[1], inside(rng) * h[2], 1));
                break;
            case 1:  // exactly through a corner
                d = -(n % corners[size_t(pick(rng))]);
                break;
            default:  // within the snapping distance of a corner
                d = -(n % corners[size_t(pick(rng))]) + nearVertex(rng);
                break;
        }
        const double nd[3] = {n.x, n.y, n.z};
        const ClipReference ref = referenceClippedBox(hd, nd, d);
        for (const dgConvexCollision* shape : {static_cast<const dgConvexCollision*>(hull.get()),
                                               static_cast<const dgConvexCollision*>(box.get())}) {
            const dgVector r(shape->calcSubmergedVolumeLocal(dgPlane(n, d)));
            EXPECT_NEAR(r.w, ref.volume, 48.0 * 2e-4) << "trial " << trial;
            if (ref.volume > 0.05) {
                for (int32_t k = 0; k < 3; k++) {
                    EXPECT_NEAR(r[k], ref.centroid[k], 2e-3)
                        << "trial " << trial << " axis " << k;
                }
            }
        }
    }
}

TEST(SubmergedVolume, WorldPlaneThroughPlacedShape) {
    const double hd[3] = {0.5, 1.5, 2.5};
    HullRef box = makeBoxHull(0.5f, 1.5f, 2.5f);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> depth(-1.5f, 1.5f);
    for (int32_t trial = 0; trial < 20; trial++) {
        const dgMatrix m(randomRigid(rng));
        const dgVector n(randomUnit(rng));
        // A world plane passing near the shape's centre.
        const float d = -(n % m.position) + depth(rng);
        FluidPlane fluid = {dgPlane(n, d), 0, 0};
        const dgVector r(box->calcSubmergedVolume(m, fluidPlane, &fluid));
        // The same plane in the shape's frame, in double.
        double nl[3];
        for (int32_t k = 0; k < 3; k++) {
            nl[k] = double(m[k].x) * n.x + double(m[k].y) * n.y + double(m[k].z) * n.z;
        }
        const double dl =
            double(d) + double(n.x) * m.position.x + double(n.y) * m.position.y + double(n.z) * m.position.z;
        const ClipReference ref = referenceClippedBox(hd, nl, dl, 800);
        EXPECT_NEAR(r.w, ref.volume, 7.5 * 3e-4) << "trial " << trial;
        if (ref.volume > 0.05) {
            const dgVector c(m.transformVector(
                dgVector(float(ref.centroid[0]), float(ref.centroid[1]), float(ref.centroid[2]), 1.0f)));
            EXPECT_NEAR(r.x, c.x, 3e-3f);
            EXPECT_NEAR(r.y, c.y, 3e-3f);
            EXPECT_NEAR(r.z, c.z, 3e-3f);
        }
    }
}

TEST(SubmergedVolume, PlanesThroughEveryVertexOfARoundHullStayFinite) {
    // Many vertices, every one of them put on the plane in turn, with the
    // plane turned in several directions: the cut must stay exact.
    HullRef ball = makeRoundHull(2, 1.0f);
    const double full = ball->getCentreOfMass().w;
    std::mt19937 rng(24);
    for (int32_t i = 0; i < ball->getVertexCount(); i++) {
        const dgVector& v = ball->getVertices()[i];
        for (int32_t k = 0; k < 3; k++) {
            const dgVector n(randomUnit(rng));
            const dgVector below(ball->calcSubmergedVolumeLocal(dgPlane(n, -(n % v))));
            const dgVector above(ball->calcSubmergedVolumeLocal(dgPlane(n.scale(-1.0f), n % v)));
            ASSERT_TRUE(std::isfinite(below.w) && std::isfinite(above.w));
            EXPECT_GE(below.w, -1e-5f);
            EXPECT_GE(above.w, -1e-5f);
            EXPECT_NEAR(below.w + above.w, full, 1e-4) << "vertex " << i;
            // First moments of the two parts add up to the whole's.
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_NEAR(below.w * below[j] + above.w * above[j], full * ball->getCentreOfMass()[j], 0.5e-4);
            }
        }
    }
}

TEST(SubmergedVolume, AllocationsBalanced) {
    HullRef big = makePrism(200, 1.0f, 1.0f);
    MemoryBalance balance;
    FluidPlane fluid = {dgPlane(unit(dgVector(0.3f, 1, 0.2f, 0)), 0.1f), 0, 0};
    const dgVector r(big->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, &fluid));
    EXPECT_GT(r.w, 0.0f);
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_GT(big->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0, 0, 0, 1), points), 0);
}

// ------------------------------------------------------------ plane contour

TEST(PlaneContour, BoxHullPlanesInGeneralPosition) {
    const float h[3] = {1.0f, 2.0f, 3.0f};
    HullRef box = makeBoxHull(h[0], h[1], h[2]);
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> inside(-0.95f, 0.95f);
    for (int32_t trial = 0; trial < 2000; trial++) {
        const dgVector n(randomUnit(rng));
        const dgVector q(inside(rng) * h[0], inside(rng) * h[1], inside(rng) * h[2], 1.0f);
        dgVector points[dgPlaneIntersectionMaxPoints];
        const int32_t count = box->calcPlaneIntersection(n, q, points);
        ASSERT_EQ(count, crossingEdgeCount(*box, n, q)) << "trial " << trial;
        ASSERT_GE(count, 3);
        ASSERT_LE(count, 6);
        expectBoxContour(points, count, n, q, h);
    }
    // Planes that miss.
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(box->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 2.5f, 0, 1), points), 0);
    EXPECT_EQ(box->calcPlaneIntersection(unit(dgVector(1, 1, 1, 0)), dgVector(-2, -3, -4, 1), points), 0);
}

TEST(PlaneContour, PlanesThroughCorners) {
    const float h[3] = {1.0f, 2.0f, 3.0f};
    HullRef box = makeBoxHull(h[0], h[1], h[2]);
    const std::vector<dgVector> c(boxCorners(h[0], h[1], h[2]));
    dgVector points[dgPlaneIntersectionMaxPoints];
    auto contour = [&](const dgVector& n, const dgVector& q) {
        return box->calcPlaneIntersection(n, q, points);
    };
    // Through three corners around (+, +, +): a triangle of those corners.
    const dgVector n3(unit(dgVector(1.0f, 0.5f, 1.0f / 3.0f, 0)));
    for (float sign : {1.0f, -1.0f}) {
        const dgVector n(n3.scale(sign));
        const int32_t count = contour(n, c[1]);
        ASSERT_EQ(count, 3);
        expectBoxContour(points, count, n, c[1], h);
        for (int32_t i = 0; i < 3; i++) {
            float nearest = 1e30f;
            for (int32_t k : {1, 2, 4}) {
                const dgVector g(points[i] - c[size_t(k)]);
                nearest = std::min(nearest, g % g);
            }
            EXPECT_LT(nearest, 1e-10f);
        }
    }
    // Through two opposite edges: a rectangle of four corners.
    const dgVector nd(unit(dgVector(1.0f, -0.5f, 0, 0)));
    for (float sign : {1.0f, -1.0f}) {
        const int32_t count = contour(nd.scale(sign), c[0]);
        ASSERT_EQ(count, 4);
        expectBoxContour(points, count, nd.scale(sign), c[0], h);
    }
    // Through the vertex the contour search starts from (an extreme corner
    // along the normal's dominant axis): the corner is part of the contour.
    std::mt19937 rng(32);
    int32_t cutting = 0;
    for (int32_t trial = 0; trial < 400; trial++) {
        const dgVector n(randomUnit(rng));
        int32_t axis = 0;
        for (int32_t k = 1; k < 3; k++) {
            axis = (std::fabs(n[k]) > std::fabs(n[axis])) ? k : axis;
        }
        const dgVector q(box->getVertices()[box->getStartEdge(2 * axis + (trial & 1))->m_vertex]);
        float lowest = 0.0f;
        float highest = 0.0f;
        for (const dgVector& v : c) {
            lowest = std::min(lowest, (v - q) % n);
            highest = std::max(highest, (v - q) % n);
        }
        const int32_t count = contour(n, q);
        if ((lowest > -1e-4f) || (highest < 1e-4f)) {
            // Only touching: the corner itself.
            ASSERT_EQ(count, 1) << "trial " << trial;
            const dgVector g(points[0] - q);
            EXPECT_LT(g % g, 1e-10f);
            continue;
        }
        cutting++;
        ASSERT_GE(count, 3) << "trial " << trial;
        ASSERT_LE(count, 6);
        expectBoxContour(points, count, n, q, h);
        float nearest = 1e30f;
        for (int32_t i = 0; i < count; i++) {
            const dgVector g(points[i] - q);
            nearest = std::min(nearest, g % g);
        }
        EXPECT_LT(nearest, 1e-10f) << "the corner on the plane is not a contour point";
    }
    EXPECT_GT(cutting, 100);
    // Touching one corner, from either side: that corner.
    const dgVector nt(unit(dgVector(1.0f, 0.5f, 1.0f / 3.0f, 0)));
    for (float sign : {1.0f, -1.0f}) {
        const dgVector& q = (sign > 0.0f) ? c[0] : c[7];
        ASSERT_EQ(contour(nt.scale(sign), q), 1);
        const dgVector g(points[0] - q);
        EXPECT_LT(g % g, 1e-10f);
    }
    // Coinciding with a face, from either side: the face.
    for (float sign : {1.0f, -1.0f}) {
        const int32_t count = contour(dgVector(0, sign, 0, 0), dgVector(0, 2.0f * sign, 0, 1));
        ASSERT_EQ(count, 4);
        expectBoxContour(points, count, dgVector(0, sign, 0, 0), dgVector(0, 2.0f * sign, 0, 1), h);
    }
}

TEST(PlaneContour, ManySidedPrismIsReducedToTwelveConvexPoints) {
    const int32_t sides = 200;
    HullRef prism = makePrism(sides, 1.0f, 1.0f);
    EXPECT_NEAR(prism->getCentreOfMass().w, 2.0 * sides * std::sin(2.0 * kPi / sides) * 0.5, 1e-3);
    std::mt19937 rng(33);
    for (int32_t trial = 0; trial < 50; trial++) {
        // Across the axis, tilted a little: up to 200 crossings.
        const dgVector n(unit(dgVector(1.0f, 0.2f * randomUnit(rng).y, 0.2f * randomUnit(rng).z, 0)));
        const dgVector q(0.1f * randomUnit(rng).x, 0, 0, 1);
        // Heap storage of exactly the documented size, so a write past it is
        // caught under the address sanitizer.
        std::vector<dgVector> points(dgPlaneIntersectionMaxPoints);
        const int32_t count = prism->calcPlaneIntersection(n, q, points.data());
        ASSERT_EQ(count, 12) << "trial " << trial;
        double winding = 0.0;
        for (int32_t i = 0; i < count; i++) {
            const dgVector& a = points[size_t((i + count - 1) % count)];
            const dgVector& b = points[size_t(i)];
            const dgVector& c = points[size_t((i + 1) % count)];
            EXPECT_NEAR(b % n, q % n, 1e-5f);
            EXPECT_NEAR(b.y * b.y + b.z * b.z, 1.0f, 2e-3f);
            const float turn = (b - a).cross(c - b) % n;
            EXPECT_GT(turn, 0.0f);
            winding += std::atan2(double(turn), double((b - a) % (c - b)));
        }
        EXPECT_NEAR(winding, 2.0 * kPi, 1e-3);
    }
    // Lengthwise: a rectangle.
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(prism->calcPlaneIntersection(dgVector(0, 0, 1, 0), dgVector(0, 0, 0.3f, 1), points), 4);
}

TEST(PlaneContour, ReducePolygonDropsFlattestCornersNeverTwoNeighboursInOnePass) {
    // Twelve corners of a regular polygon with a nearly straight extra point
    // in eight of the twelve sides.
    std::vector<dgVector> points;
    std::vector<bool> flat;
    const int32_t corners = 12;
    for (int32_t i = 0; i < corners; i++) {
        const double a0 = 2.0 * kPi * i / corners;
        const double a1 = 2.0 * kPi * (i + 1) / corners;
        points.push_back(dgVector(float(std::cos(a0)), float(std::sin(a0)), 0, 1));
        flat.push_back(false);
        if (i % 3 != 2) {
            // Slightly out of the side, more or less flat.
            const double bulge = 1.0 + 0.002 * (i + 1);
            const double am = 0.5 * (a0 + a1);
            const double rm = std::cos(0.5 * (a1 - a0)) * bulge;
            points.push_back(dgVector(float(rm * std::cos(am)), float(rm * std::sin(am)), 0, 1));
            flat.push_back(true);
        }
    }
    ASSERT_EQ(points.size(), 20u);
    std::vector<dgVector> work(points);
    const int32_t count =
        dgConvexCollision::reducePolygon(int32_t(work.size()), dgVector(0, 0, 1, 0), work.data(), 12);
    ASSERT_EQ(count, 12);
    size_t k = 0;
    for (size_t i = 0; i < points.size(); i++) {
        if (!flat[i]) {
            ASSERT_LT(k, size_t(count));
            EXPECT_EQ(work[k].x, points[i].x);
            EXPECT_EQ(work[k].y, points[i].y);
            k++;
        }
    }

    // Twenty equal corners: one pass can take at most every other one, so the
    // first pass removes 8 that are pairwise apart.
    std::vector<dgVector> ring;
    for (int32_t i = 0; i < 20; i++) {
        const double a = 2.0 * kPi * i / 20;
        ring.push_back(dgVector(float(std::cos(a)), float(std::sin(a)), 0, 1));
    }
    std::vector<dgVector> reduced(ring);
    ASSERT_EQ(dgConvexCollision::reducePolygon(20, dgVector(0, 0, 1, 0), reduced.data(), 12), 12);
    std::vector<bool> kept(20, false);
    size_t r = 0;
    for (int32_t i = 0; i < 20 && r < 12; i++) {
        if (reduced[r].x == ring[size_t(i)].x && reduced[r].y == ring[size_t(i)].y) {
            kept[size_t(i)] = true;
            r++;
        }
    }
    ASSERT_EQ(r, 12u) << "kept points are not an ordered subset";
    for (int32_t i = 0; i < 20; i++) {
        EXPECT_TRUE(kept[size_t(i)] || kept[size_t((i + 1) % 20)]) << "two neighbours removed at " << i;
    }
    // Nothing to do at or below the maximum.
    EXPECT_EQ(dgConvexCollision::reducePolygon(5, dgVector(0, 0, 1, 0), reduced.data(), 12), 5);
}
