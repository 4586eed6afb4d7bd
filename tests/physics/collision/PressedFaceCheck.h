// The pressed-face property of the convex-against-soup contacts: a convex
// shape pressed into a face of an optimised rolling grid (cells of 3 m, the
// vehicles' rolling test ground, whose merged faces are not quite flat) gets
// a contact pushing it out along about the face's normal. The depth is taken
// against the top of the face's corners where the shape's lowest point lies,
// worked out by brute force in double over every triangle of corners. Shared
// by the shape tests and the tire's, a shape of the dynamics layer.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "GridSoup.h"
#include "ShapeTestUtils.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgConvexSoupContacts.h"

namespace pressedface {

constexpr int32_t kCells = 30;
constexpr float kCell = 3.0f;
constexpr float kOrigin = -45.0f;

// The rolling grid, y = 0.3 sin(x / 7) cos(z / 9), built optimised; the
// caller releases it.
inline dgCollision* buildRollingGrid(dgWorld* world) {
    return gridsoup::gridSoup(
        world, kCells,
        [](int32_t i, int32_t j, float* out) {
            out[0] = kOrigin + kCell * float(i);
            out[2] = kOrigin + kCell * float(j);
            out[1] = 0.3f * std::sin(out[0] / 7.0f) * std::cos(out[2] / 9.0f);
        },
        1);
}

typedef std::vector<std::vector<dgVector>> Faces;

// Every face of the soup, as its corners.
inline Faces allFaces(dgCollision* soup) {
    dgBody soupBody = shapetest::bodyOf(soup, dgGetIdentityMatrix());
    dgBody other = shapetest::bodyOf(soup, dgGetIdentityMatrix());
    static dgPolygonSoupCollideDesc desc;
    const float extent = -kOrigin + 1.0f;
    dgSetDescVector(desc.m_boxMin, dgVector(-extent, -extent, -extent, 1.0f));
    dgSetDescVector(desc.m_boxMax, dgVector(extent, extent, extent, 1.0f));
    desc.m_otherBody = &other;
    desc.m_soupBody = &soupBody;
    desc.m_polygonCallback = nullptr;
    const int32_t count = dgRefCast<dgCollisionPolygonalSoup>(soup)->gatherFaces(desc);
    Faces faces;
    int32_t offset = 0;
    for (int32_t f = 0; f < count; f++) {
        std::vector<dgVector> corners;
        for (int32_t i = 0; i < desc.m_faceIndexCounts[f]; i++) {
            const float* v =
                reinterpret_cast<const float*>(reinterpret_cast<const char*>(desc.m_vertexArray) +
                                               desc.m_faceIndices[offset + i] * desc.m_vertexStrideInBytes);
            corners.push_back(dgVector(v[0], v[1], v[2], 1.0f));
        }
        offset += desc.m_faceIndexCounts[f];
        faces.push_back(corners);
    }
    return faces;
}

// The face's unit normal as the soup's face shape takes it.
inline dgVector faceNormal(const std::vector<dgVector>& f) {
    dgVector n((f[1] - f[0]).cross(f[2] - f[1]));
    n = n.scale(1.0f / std::sqrt(n % n));
    n.w = 0.0f;
    return n;
}

// Height along n of the top of the corners over the point p (on the line
// through p along n), over every triangle of corners whose shadow holds it.
inline double topAlong(const std::vector<dgVector>& f, const dgVector& n, const dgVector& p) {
    const double nx = n.x, ny = n.y, nz = n.z;
    // A frame across n.
    double ux = -nz, uy = 0.0, uz = nx;
    if (std::fabs(ny) < 0.5) {
        ux = ny, uy = -nx, uz = 0.0;
    }
    const double ul = std::sqrt(ux * ux + uy * uy + uz * uz);
    ux /= ul, uy /= ul, uz /= ul;
    const double vx = ny * uz - nz * uy, vy = nz * ux - nx * uz, vz = nx * uy - ny * ux;
    auto project = [&](const dgVector& q, double* out) {
        const double x = double(q.x) - p.x, y = double(q.y) - p.y, z = double(q.z) - p.z;
        out[0] = x * ux + y * uy + z * uz;
        out[1] = x * vx + y * vy + z * vz;
        out[2] = x * nx + y * ny + z * nz;
    };
    double top = -1e30;
    const size_t count = f.size();
    for (size_t i = 0; i < count; i++) {
        for (size_t j = i + 1; j < count; j++) {
            for (size_t k = j + 1; k < count; k++) {
                double a[3], b[3], c[3];
                project(f[i], a);
                project(f[j], b);
                project(f[k], c);
                const double area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
                if (std::fabs(area) < 1e-12) {
                    continue;
                }
                const double wa = (b[0] * c[1] - b[1] * c[0]) / area;
                const double wb = (c[0] * a[1] - c[1] * a[0]) / area;
                const double wc = 1.0 - wa - wb;
                if ((wa >= 0.0) && (wb >= 0.0) && (wc >= 0.0)) {
                    top = std::max(top, wa * a[2] + wb * b[2] + wc * c[2]);
                }
            }
        }
    }
    return top;
}

// Of `trials` random poses of the shape, each turned at random and pressed
// between `shallowest` and 5 cm into a random face at a random point at least
// halfway from its rim to its middle, those without a contact whose normal
// is within 3 degrees of the face's, or with one deeper than the press (less
// the contacts' skin) by more than 3 mm and what the face's creases may add
// under the shape's reach; worstCos gets the lowest best cosine.
inline int32_t missedPresses(dgWorld* world, dgCollision* grid, dgConvexCollision* shape, int32_t trials,
                             uint32_t seed, float& worstCos, float shallowest = 1.0e-4f) {
    const Faces faces = allFaces(grid);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    // A merged face's top creases by about a degree where its corners leave
    // its plane: elsewhere under the shape it may rise above the press by
    // 1/50 of the shape's reach.
    float reach = 0.0f;
    for (int32_t axis = 0; axis < 3; axis++) {
        dgVector d(0.0f, 0.0f, 0.0f, 0.0f);
        d[axis] = 1.0f;
        reach = std::max(reach, std::sqrt(shape->supportVertex(d) % shape->supportVertex(d)));
    }
    const float slack = 3.0e-3f + 0.02f * reach;
    worstCos = 1.0f;
    int32_t missed = 0;
    for (int32_t trial = 0; trial < trials; trial++) {
        const std::vector<dgVector>& face = faces[size_t(u(rng) * float(faces.size())) % faces.size()];
        const dgVector n = faceNormal(face);
        // A point of a fan triangle, moved halfway to the corners' middle.
        const size_t fan = 1 + size_t(u(rng) * float(face.size() - 2)) % (face.size() - 2);
        float wa = u(rng), wb = u(rng);
        if (wa + wb > 1.0f) {
            wa = 1.0f - wa, wb = 1.0f - wb;
        }
        dgVector middle(0.0f, 0.0f, 0.0f, 0.0f);
        for (const dgVector& c : face) {
            middle += c.scale(1.0f / float(face.size()));
        }
        dgVector p(face[0].scale(1.0f - wa - wb) + face[fan].scale(wa) + face[fan + 1].scale(wb));
        p = (p + middle).scale(0.5f);
        p.w = 1.0f;
        const float press = shallowest + 0.05f * u(rng) * u(rng);
        const dgVector lowest(p + n.scale(float(topAlong(face, n, p)) - press));

        dgMatrix pose = shapetest::randomPose(rng, 0.0f);
        const dgMatrix placed(shape->getOffsetMatrix().multiply(pose));
        dgVector down(placed.inverseRotateVector(n.scale(-1.0f)));
        down.w = 0.0f;
        const dgVector support(placed.transformVector(shape->supportVertex(down)));
        pose.position = pose.position + (lowest - support);
        pose.position.w = 1.0f;

        dgBody convex = shapetest::bodyOf(shape, pose), soup = shapetest::bodyOf(grid, dgGetIdentityMatrix());
        dgContactPoint contacts[dgMaxSoupContacts];
        float timeStep = 0.0f;
        const int32_t count =
            dgConvexSoupContacts(world, timeStep, &convex, &soup, contacts, dgMaxSoupContacts);
        float best = -1.0f;
        bool deeper = false;
        for (int32_t i = 0; i < count; i++) {
            best = std::max(best, contacts[i].normal % n);
            deeper = deeper || !(contacts[i].penetration < std::max(press - 1.0f / 128.0f, 0.0f) + slack);
        }
        worstCos = std::min(worstCos, best);
        missed += ((best < std::cos(3.0f * 3.1415927f / 180.0f)) || deeper) ? 1 : 0;
    }
    return missed;
}

}  // namespace pressedface
