// Closed triangle shells for the generated models and their text .x form.
// Every shell is built as an indexed surface, checked closed, turned so that
// (b - a) x (c - a) points out of it (clockwise seen from outside in the
// engine's left-handed frame, the order its back-face culling keeps), then
// shaded with crease-aware normals and box-projected texture coordinates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkmedia {

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(const Vec3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalized(const Vec3& v);

using Ring = std::vector<Vec3>;

// An indexed surface under construction; closed shells only, except where a
// caller asks for an open sheet (ring, cone).
struct Shell {
    std::vector<Vec3> points;
    std::vector<uint32_t> triangles;  // three point indices each
    double creaseDegrees = 35.0;      // faces meeting at a sharper angle are shaded apart

    uint32_t add(const Vec3& p);
    void triangle(uint32_t a, uint32_t b, uint32_t c);
    void quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
    double signedVolume() const;
    void flip();
};

// Shell builders. Rings must be convex, ordered the same way round, and of
// equal size; a ring of one point closes the end as a tip.
Shell loft(const std::vector<Ring>& rings);
// A tube with a hollow core: outer and inner rings pairwise, ends closed by
// flat annular faces.
Shell hollowLoft(const std::vector<Ring>& outer, const std::vector<Ring>& inner);
Shell box(const Vec3& center, const Vec3& halfExtent);
// Axis-aligned cylinder along z (segments round, open ends capped).
Shell cylinderZ(const Vec3& center, double radiusX, double radiusY, double halfLength, int segments);
Shell cylinderY(const Vec3& center, double radius, double halfHeight, int segments);
Shell ellipsoid(const Vec3& center, const Vec3& radii, int segments, int rings);
// A convex polygon given in the y-z plane (x = 0), thickened to +-halfThickness
// along x, then placed at `at`.
Shell finX(const std::vector<Vec3>& outlineYZ, double halfThickness, const Vec3& at);
// The same in the x-z plane, thickened along y (wings).
Shell finY(const std::vector<Vec3>& outlineXZ, double halfThickness, const Vec3& at);
// A rough rock: an icosphere, its corners pushed in and out at random.
Shell jaggedChunk(uint64_t seed, const Vec3& radii, double roughness);

// Ring helpers: superellipse in the x-y plane at depth z (exponent 2 is an
// ellipse, larger is boxier), centred at (cx, cy).
Ring superEllipse(double cx, double cy, double z, double rx, double ry, double exponent, int segments);

struct MeshVertex {
    Vec3 position;
    Vec3 normal;
    double u = 0.0;
    double v = 0.0;
};

struct Material {
    double r = 1.0, g = 1.0, b = 1.0, a = 1.0;
    double power = 16.0;
    double specular = 0.3;
    double emissive = 0.0;
    std::string texture;  // bare file name beside the mesh
};

class MeshModel {
public:
    // uvScale: texture repeats per metre of the box projection.
    void add(Shell shell, double uvScale, bool closed = true);
    // Vertex colours written for every vertex (MeshVertexColors).
    void setVertexColor(double r, double g, double b, double a);
    // Explicit geometry with its own normals and texture coordinates (open sheets).
    void addRaw(const std::vector<MeshVertex>& vertices, const std::vector<uint32_t>& triangles);
    // Text .x ("xof 0303txt 0032") with one material.
    std::string toX(const std::string& name, const Material& material) const;
    size_t triangleCount() const { return indices.size() / 3; }

private:
    std::vector<MeshVertex> vertices;
    std::vector<uint32_t> indices;
    bool hasColor = false;
    double color[4] = {1.0, 1.0, 1.0, 1.0};
};

}  // namespace mkmedia
