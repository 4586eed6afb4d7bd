// Helpers shared by the shape and world tests: random directions and poses,
// fixed placements, a vetoing ray prefilter, edge table snapshots, double
// precision tetrahedron moments, placed bounds, the faces of a polygon walk
// and their mass sums, a convex polyhedron given by its faces, and an
// allocator hook guard.
// Header-only; each test file pulls the names in with a using-directive.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dgBody.h"
#include "dgCollision.h"
#include "dgConvexCollision.h"
#include "dgEdgeMesh.h"
#include "dgMemory.h"
#include "dgQuaternion.h"
#include "TestSupport.h"

namespace shapetest {

using namespace testsupport;

// A uniformly random rotation placed at a random point of [-reach, reach]^3.
inline dgMatrix randomPose(std::mt19937& rng, float reach) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::uniform_real_distribution<float> u(-reach, reach);
    float q[4] = {g(rng), g(rng), g(rng), g(rng)};
    const float len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    return dgMatrix::fromQuaternion(dgQuaternion(q[0] / len, q[1] / len, q[2] / len, q[3] / len),
                                    dgVector(u(rng), u(rng), u(rng), 1.0f));
}

// A pure translation.
inline dgMatrix translation(float x, float y, float z) {
    dgMatrix m(dgGetIdentityMatrix());
    m.position = dgVector(x, y, z, 1.0f);
    return m;
}

// Turned about x, then y, then z (radians) and placed at position.
inline dgMatrix turned(float ax, float ay, float az, const dgVector& position) {
    dgMatrix m(dgRotationMatrixX(ax).multiply(dgRotationMatrixY(ay)).multiply(dgRotationMatrixZ(az)));
    m.position = position;
    return m;
}

// A fixed placement turned about all three axes and moved off the origin.
inline dgMatrix turnedAndMoved() {
    dgMatrix m(dgRotationMatrixX(0.7f).multiply(dgRotationMatrixY(-1.1f)).multiply(dgRotationMatrixZ(0.4f)));
    m.position = dgVector(1.0f, -2.0f, 3.0f, 1.0f);
    return m;
}

// Ray prefilter that rejects every shape and counts its calls in *userData
// (an int32_t).
inline uint32_t vetoAll(const dgBody*, const dgCollision*, void* userData) {
    ++*static_cast<int32_t*>(userData);
    return 0;
}

// Appends an edge table as (vertex, twin, next, prev) with the links as
// indices, so tables built at different addresses compare equal.
inline void snapshotEdges(const dgConvexEdge* e, int32_t count, std::vector<int64_t>& out) {
    for (int32_t i = 0; i < count; i++) {
        out.insert(out.end(), {int64_t(e[i].m_vertex), e[i].m_twin - e, e[i].m_next - e, e[i].m_prev - e});
    }
}

// Adds the tetrahedron (origin, a, b, c) to running mass sums, in double:
// signed volume, first moments and the second moments about the origin
// (integrals of x^2, y^2, z^2).
inline void addTetraMoments(const double* a, const double* b, const double* c, double& volume, double* first,
                            double* second) {
    const double det = a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                       a[2] * (b[0] * c[1] - b[1] * c[0]);
    const double vol = det / 6.0;
    volume += vol;
    for (int32_t j = 0; j < 3; j++) {
        first[j] += vol * (a[j] + b[j] + c[j]) / 4.0;
        second[j] +=
            vol / 10.0 * (a[j] * a[j] + b[j] * b[j] + c[j] * c[j] + a[j] * b[j] + a[j] * c[j] + b[j] * c[j]);
    }
}

// Smallest box around points placed by m (w of both corners 0).
inline void placedBounds(const dgMatrix& m, const std::vector<dgVector>& points, dgVector& lo, dgVector& hi) {
    lo = dgVector(1e30f, 1e30f, 1e30f, 0);
    hi = dgVector(-1e30f, -1e30f, -1e30f, 0);
    for (const dgVector& q : points) {
        const dgVector p(m.transformVector(q));
        for (int32_t j = 0; j < 3; j++) {
            lo[j] = std::min(lo[j], p[j]);
            hi[j] = std::max(hi[j], p[j]);
        }
    }
}

// A cleared body placed by matrix, to walk a shape's faces with. Keep it
// non-const: a compound's walk names each child in the body's collision.
inline dgBody placedBody(const dgMatrix& matrix) {
    dgBody body;
    body.clear();
    body.m_matrix = matrix;
    return body;
}

// A cleared body holding shape at pose with its collision matrix updated, as
// the contact code expects (the body does not reference the shape).
inline dgBody bodyOf(dgCollision* shape, const dgMatrix& pose) {
    dgBody body(placedBody(pose));
    body.m_collision = shape;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
    return body;
}

// The faces of a shape's polygon walk for a cleared body placed by matrix, as
// points. Each face must come with id 0 and the walked body; *reported gets
// what the walk returns.
typedef std::vector<std::vector<dgVector>> WalkedFaces;
inline WalkedFaces walkFaces(const dgCollision& shape, const dgMatrix& matrix, int32_t* reported = nullptr) {
    struct Walk {
        const dgBody* body;
        WalkedFaces faces;
    } walk;
    dgBody body(placedBody(matrix));
    walk.body = &body;
    body.m_userData = &walk;
    const int32_t count =
        shape.forEachPolygon(&body, [](const dgBody* b, int32_t corners, const float* v, int32_t faceId) {
            Walk& w = *static_cast<Walk*>(b->m_userData);
            EXPECT_EQ(b, w.body);
            EXPECT_EQ(faceId, 0);
            std::vector<dgVector> face;
            for (int32_t i = 0; i < corners; i++) {
                face.push_back(dgVector::dgVector3(&v[3 * i]));
            }
            w.faces.push_back(face);
        });
    if (reported) {
        *reported = count;
    }
    return walk.faces;
}

// Mass sums of a closed face list, in double, by fans of tetrahedra from the
// origin: the volume, the first moments and the second moments about the
// origin (integrals of x^2, y^2, z^2).
struct FaceMoments {
    double volume = 0.0;
    double first[3] = {0, 0, 0};
    double second[3] = {0, 0, 0};
};
inline FaceMoments faceMoments(const WalkedFaces& faces) {
    FaceMoments m;
    for (const std::vector<dgVector>& face : faces) {
        const double a[3] = {face[0].x, face[0].y, face[0].z};
        for (size_t k = 1; k + 1 < face.size(); k++) {
            const double b[3] = {face[k].x, face[k].y, face[k].z};
            const double c[3] = {face[k + 1].x, face[k + 1].y, face[k + 1].z};
            addTetraMoments(a, b, c, m.volume, m.first, m.second);
        }
    }
    return m;
}

// A convex polyhedron from explicit vertices and outward faces, owning its
// arrays (dgMalloc) the way a convex hull does: the convex base's own support,
// ray cast, walk, mass, section and submerged volume, without a derived
// shape's overrides.
class TestHull : public dgConvexCollision {
public:
    TestHull(const std::vector<dgVector>& vertices, const std::vector<std::vector<int32_t>>& faces,
             const dgMatrix& offset = dgGetIdentityMatrix())
        : dgConvexCollision(0x5151u, offset, dgShapeConvexHull), m_faces(faces) {
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
    uint32_t calcSignature() const override {
        return dgShapeSignature(getShapeType(), nullptr, 0, m_offsetMatrix);
    }

    const std::vector<std::vector<int32_t>>& faces() const { return m_faces; }

private:
    std::vector<std::vector<int32_t>> m_faces;
};

// Corners of the box [-h, h] (corner i takes -h along axis k when bit k is
// set) and its six outward quads.
inline std::vector<dgVector> boxCorners(float hx, float hy, float hz) {
    std::vector<dgVector> v;
    for (int32_t i = 0; i < 8; i++) {
        v.push_back(dgVector((i & 1) ? -hx : hx, (i & 2) ? -hy : hy, (i & 4) ? -hz : hz, 1.0f));
    }
    return v;
}
inline const std::vector<std::vector<int32_t>>& boxFaces() {
    static const std::vector<std::vector<int32_t>> faces = {{0, 4, 5, 1}, {0, 1, 3, 2}, {1, 5, 7, 3},
                                                            {5, 4, 6, 7}, {4, 0, 2, 6}, {6, 2, 3, 7}};
    return faces;
}

// Restores the allocator hooks that dgWorldCreate (or a test) replaces.
class HookGuard {
public:
    HookGuard() { dgGetAllocatorHooks(&m_allocate, &m_release); }
    ~HookGuard() { dgSetAllocatorHooks(m_allocate, m_release); }

private:
    dgAllocHook m_allocate;
    dgReleaseHook m_release;
};

}  // namespace shapetest
