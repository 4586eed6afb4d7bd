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

// Every face of the soup, as its corners, by the public polygon walk.
inline Faces allFaces(dgCollision* soup) {
    Faces faces;
    dgBody body = shapetest::bodyOf(soup, dgGetIdentityMatrix());
    body.m_userData = &faces;
    dgBodyForEachPolygonDo(&body, [](const dgBody* walked, int32_t count, const float* v, int32_t) {
        std::vector<dgVector> corners;
        for (int32_t i = 0; i < count; i++) {
            corners.push_back(dgVector(v[3 * i], v[3 * i + 1], v[3 * i + 2], 1.0f));
        }
        static_cast<Faces*>(walked->m_userData)->push_back(corners);
    });
    return faces;
}

// Height along n of the top of the corners over the point p (on the line
// through p along n), over every triangle of corners whose shadow along n
// holds it: the heights of the triangle's corners weighed by p's barycentric
// coordinates in that shadow, each the signed area about n across from its
// corner.
inline double topAlong(const std::vector<dgVector>& f, const dgVector& n, const dgVector& p) {
    struct D3 {
        double x, y, z;
    };
    auto from = [&](const dgVector& q) {
        return D3{double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
    };
    auto dot = [](const D3& a, const D3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    auto cross = [](const D3& a, const D3& b) {
        return D3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    };
    const D3 along{n.x, n.y, n.z};
    double top = -1e30;
    for (size_t i = 0; i < f.size(); i++) {
        for (size_t j = i + 1; j < f.size(); j++) {
            for (size_t k = j + 1; k < f.size(); k++) {
                const D3 a = from(f[i]), b = from(f[j]), c = from(f[k]);
                const double wa = dot(cross(b, c), along), wb = dot(cross(c, a), along);
                const double wc = dot(cross(a, b), along), area = wa + wb + wc;
                if ((std::fabs(area) >= 1e-12) && (wa / area >= 0.0) && (wb / area >= 0.0) &&
                    (wc / area >= 0.0)) {
                    top =
                        std::max(top, (wa * dot(a, along) + wb * dot(b, along) + wc * dot(c, along)) / area);
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
        // The unit normal as the soup's face shape takes it.
        dgVector n((face[1] - face[0]).cross(face[2] - face[1]));
        n = n.scale(1.0f / std::sqrt(n % n));
        n.w = 0.0f;
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
        pose.position = pose.position + (lowest - gridsoup::lowestPoint(*shape, pose, n));
        pose.position.w = 1.0f;

        dgContactPoint contacts[dgMaxSoupContacts];
        const int32_t count = gridsoup::soupContacts(world, shape, pose, grid, contacts);
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
