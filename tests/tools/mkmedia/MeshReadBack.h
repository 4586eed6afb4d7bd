// Reads a generated model back through the engine's null device and gives
// its triangles with positions welded, for shape checks.
#pragma once

#include <irrlicht.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace meshcheck {

struct P3 {
    double x = 0.0, y = 0.0, z = 0.0;
};
inline P3 operator-(const P3& a, const P3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline P3 operator+(const P3& a, const P3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline P3 operator*(const P3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double dot(const P3& a, const P3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline P3 cross(const P3& a, const P3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

struct LoadedMesh {
    std::vector<P3> points;                     // welded positions
    std::vector<std::array<uint32_t, 3>> tris;  // in the loaded index order
    std::vector<irr::video::SColor> colours;    // per loaded vertex
    std::vector<std::string> textures;          // texture names of layer 0, per buffer
    P3 lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30};
    bool ok = false;

    double signedVolume() const {
        double sum = 0.0;
        for (const auto& t : tris) {
            sum += dot(points[t[0]], cross(points[t[1]], points[t[2]]));
        }
        return sum / 6.0;
    }
    // Every directed edge once and its reverse once.
    bool closed() const {
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (const auto& t : tris) {
            for (int k = 0; k < 3; ++k) {
                ++edges[{t[k], t[(k + 1) % 3]}];
            }
        }
        for (const auto& e : edges) {
            const auto r = edges.find({e.first.second, e.first.first});
            if (e.second != 1 || r == edges.end() || r->second != 1) {
                return false;
            }
        }
        return !tris.empty();
    }
    // Edges used by one triangle only (the rim of an open sheet).
    size_t borderEdges() const {
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (const auto& t : tris) {
            for (int k = 0; k < 3; ++k) {
                const uint32_t a = t[k], b = t[(k + 1) % 3];
                ++edges[{a < b ? a : b, a < b ? b : a}];
            }
        }
        size_t count = 0;
        for (const auto& e : edges) {
            count += e.second == 1 ? 1 : 0;
        }
        return count;
    }
};

inline LoadedMesh loadMesh(irr::scene::ISceneManager* scene, const std::string& path) {
    LoadedMesh out;
    irr::scene::IAnimatedMesh* animated = scene->getMesh(path.c_str());
    if (animated == nullptr) {
        return out;
    }
    irr::scene::IMesh* mesh = animated->getMesh(0);
    std::map<std::tuple<long, long, long>, uint32_t> weld;
    for (irr::u32 b = 0; b < mesh->getMeshBufferCount(); ++b) {
        irr::scene::IMeshBuffer* buffer = mesh->getMeshBuffer(b);
        irr::video::ITexture* texture = buffer->getMaterial().getTexture(0);
        out.textures.push_back(texture != nullptr ? std::string(texture->getName().getPath().c_str()) : "");
        std::vector<uint32_t> ids;
        for (irr::u32 v = 0; v < buffer->getVertexCount(); ++v) {
            const irr::core::vector3df& q = buffer->getPosition(v);
            const P3 p{q.X, q.Y, q.Z};
            const auto key = std::make_tuple(std::lround(p.x * 1000.0), std::lround(p.y * 1000.0),
                                             std::lround(p.z * 1000.0));
            auto found = weld.find(key);
            if (found == weld.end()) {
                found = weld.emplace(key, static_cast<uint32_t>(out.points.size())).first;
                out.points.push_back(p);
            }
            ids.push_back(found->second);
            if (buffer->getVertexType() == irr::video::EVT_STANDARD) {
                out.colours.push_back(
                    static_cast<const irr::video::S3DVertex*>(buffer->getVertices())[v].Color);
            }
            out.lo = {std::fmin(out.lo.x, p.x), std::fmin(out.lo.y, p.y), std::fmin(out.lo.z, p.z)};
            out.hi = {std::fmax(out.hi.x, p.x), std::fmax(out.hi.y, p.y), std::fmax(out.hi.z, p.z)};
        }
        for (irr::u32 i = 0; i + 2 < buffer->getIndexCount(); i += 3) {
            std::array<uint32_t, 3> t{};
            for (int k = 0; k < 3; ++k) {
                // The engine types its index array as 16-bit whatever it holds.
                const void* indices = buffer->getIndices();
                const irr::u32 index = buffer->getIndexType() == irr::video::EIT_16BIT
                                           ? static_cast<const irr::u16*>(indices)[i + k]
                                           : static_cast<const irr::u32*>(indices)[i + k];
                t[k] = ids[index];
            }
            out.tris.push_back(t);
        }
    }
    out.ok = true;
    return out;
}

// Distance along the ray to the nearest triangle hit, or a negative value.
inline double rayHit(const LoadedMesh& mesh, const P3& origin, const P3& dir) {
    double best = -1.0;
    for (const auto& t : mesh.tris) {
        const P3 a = mesh.points[t[0]], e1 = mesh.points[t[1]] - a, e2 = mesh.points[t[2]] - a;
        const P3 p = cross(dir, e2);
        const double det = dot(e1, p);
        if (std::fabs(det) < 1e-12) {
            continue;
        }
        const P3 s = origin - a;
        const double u = dot(s, p) / det;
        const P3 q = cross(s, e1);
        const double v = dot(dir, q) / det;
        const double d = dot(e2, q) / det;
        if (u >= 0.0 && v >= 0.0 && u + v <= 1.0 && d > 1e-6 && (best < 0.0 || d < best)) {
            best = d;
        }
    }
    return best;
}

}  // namespace meshcheck
