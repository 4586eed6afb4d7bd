#include "MeshBuilder.h"

#include "MediaOut.h"

#include <cmath>
#include <map>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace mkmedia {

namespace {

const double kPi = 3.14159265358979323846;

Vec3 centroid(const Ring& ring) {
    Vec3 sum;
    for (const Vec3& p : ring) {
        sum = sum + p;
    }
    return sum * (1.0 / static_cast<double>(ring.size()));
}

// Every directed edge must be met once, and its reverse once: a closed,
// consistently wound surface.
void requireClosed(const Shell& shell) {
    std::map<std::pair<uint32_t, uint32_t>, int> edges;
    for (size_t t = 0; t + 2 < shell.triangles.size(); t += 3) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t a = shell.triangles[t + k];
            const uint32_t b = shell.triangles[t + (k + 1) % 3];
            ++edges[{a, b}];
        }
    }
    for (const auto& edge : edges) {
        const auto reverse = edges.find({edge.first.second, edge.first.first});
        if (edge.second != 1 || reverse == edges.end() || reverse->second != 1) {
            throw std::runtime_error("mesh shell is not closed");
        }
    }
}

long quantize(double v) {
    return std::lround(v * 10000.0);
}

}  // namespace

Vec3 normalized(const Vec3& v) {
    const double length = std::sqrt(dot(v, v));
    return length > 0.0 ? v * (1.0 / length) : Vec3{0.0, 1.0, 0.0};
}

uint32_t Shell::add(const Vec3& p) {
    points.push_back(p);
    return static_cast<uint32_t>(points.size() - 1);
}

void Shell::triangle(uint32_t a, uint32_t b, uint32_t c) {
    if (a == b || b == c || c == a) {
        return;
    }
    triangles.insert(triangles.end(), {a, b, c});
}

void Shell::quad(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    triangle(a, b, c);
    triangle(a, c, d);
}

double Shell::signedVolume() const {
    double sum = 0.0;
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        sum += dot(points[triangles[t]], cross(points[triangles[t + 1]], points[triangles[t + 2]]));
    }
    return sum / 6.0;
}

void Shell::flip() {
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        std::swap(triangles[t + 1], triangles[t + 2]);
    }
}

namespace {

// Adds the rings' points; a one-point ring stands for its whole ring.
std::vector<std::vector<uint32_t>> addRings(Shell& shell, const std::vector<Ring>& rings, size_t n) {
    std::vector<std::vector<uint32_t>> ids;
    for (const Ring& ring : rings) {
        std::vector<uint32_t> row;
        if (ring.size() == 1) {
            row.assign(n, shell.add(ring[0]));
        } else {
            if (ring.size() != n) {
                throw std::runtime_error("loft rings differ in size");
            }
            for (const Vec3& p : ring) {
                row.push_back(shell.add(p));
            }
        }
        ids.push_back(row);
    }
    return ids;
}

size_t ringSize(const std::vector<Ring>& rings) {
    size_t n = 1;
    for (const Ring& ring : rings) {
        n = ring.size() > n ? ring.size() : n;
    }
    return n;
}

void sides(Shell& shell, const std::vector<std::vector<uint32_t>>& ids, bool reversed) {
    const size_t n = ids[0].size();
    for (size_t i = 0; i + 1 < ids.size(); ++i) {
        for (size_t k = 0; k < n; ++k) {
            const size_t k1 = (k + 1) % n;
            if (reversed) {
                shell.quad(ids[i][k], ids[i + 1][k], ids[i + 1][k1], ids[i][k1]);
            } else {
                shell.quad(ids[i][k], ids[i][k1], ids[i + 1][k1], ids[i + 1][k]);
            }
        }
    }
}

void orientOutward(Shell& shell) {
    if (shell.signedVolume() < 0.0) {
        shell.flip();
    }
}

}  // namespace

Shell loft(const std::vector<Ring>& rings) {
    Shell shell;
    const size_t n = ringSize(rings);
    const auto ids = addRings(shell, rings, n);
    sides(shell, ids, false);
    if (rings.front().size() > 1) {
        const uint32_t c = shell.add(centroid(rings.front()));
        for (size_t k = 0; k < n; ++k) {
            shell.triangle(c, ids.front()[(k + 1) % n], ids.front()[k]);
        }
    }
    if (rings.back().size() > 1) {
        const uint32_t c = shell.add(centroid(rings.back()));
        for (size_t k = 0; k < n; ++k) {
            shell.triangle(c, ids.back()[k], ids.back()[(k + 1) % n]);
        }
    }
    orientOutward(shell);
    return shell;
}

Shell hollowLoft(const std::vector<Ring>& outer, const std::vector<Ring>& inner) {
    Shell shell;
    const size_t n = outer[0].size();
    const auto o = addRings(shell, outer, n);
    const auto in = addRings(shell, inner, n);
    sides(shell, o, false);
    sides(shell, in, true);
    for (size_t k = 0; k < n; ++k) {
        const size_t k1 = (k + 1) % n;
        shell.quad(o.front()[k1], o.front()[k], in.front()[k], in.front()[k1]);
        shell.quad(o.back()[k], o.back()[k1], in.back()[k1], in.back()[k]);
    }
    orientOutward(shell);
    return shell;
}

Ring superEllipse(double cx, double cy, double z, double rx, double ry, double exponent, int segments) {
    Ring ring;
    for (int i = 0; i < segments; ++i) {
        const double a = 2.0 * kPi * i / segments;
        const double c = std::cos(a);
        const double s = std::sin(a);
        const double e = 2.0 / exponent;
        const double px = (c < 0 ? -1.0 : 1.0) * std::pow(std::fabs(c), e);
        const double py = (s < 0 ? -1.0 : 1.0) * std::pow(std::fabs(s), e);
        ring.push_back({cx + rx * px, cy + ry * py, z});
    }
    return ring;
}

Shell box(const Vec3& center, const Vec3& h) {
    const Ring back = {{center.x - h.x, center.y - h.y, center.z - h.z},
                       {center.x + h.x, center.y - h.y, center.z - h.z},
                       {center.x + h.x, center.y + h.y, center.z - h.z},
                       {center.x - h.x, center.y + h.y, center.z - h.z}};
    Ring front = back;
    for (Vec3& p : front) {
        p.z = center.z + h.z;
    }
    return loft({back, front});
}

Shell cylinderZ(const Vec3& center, double radiusX, double radiusY, double halfLength, int segments) {
    return loft({superEllipse(center.x, center.y, center.z - halfLength, radiusX, radiusY, 2.0, segments),
                 superEllipse(center.x, center.y, center.z + halfLength, radiusX, radiusY, 2.0, segments)});
}

Shell cylinderY(const Vec3& center, double radius, double halfHeight, int segments) {
    std::vector<Ring> rings;
    for (double dy : {-halfHeight, halfHeight}) {
        Ring ring;
        for (int i = 0; i < segments; ++i) {
            const double a = 2.0 * kPi * i / segments;
            ring.push_back({center.x + radius * std::cos(a), center.y + dy, center.z + radius * std::sin(a)});
        }
        rings.push_back(ring);
    }
    return loft(rings);
}

Shell ellipsoid(const Vec3& center, const Vec3& radii, int segments, int rings) {
    std::vector<Ring> list;
    list.push_back({{center.x, center.y, center.z - radii.z}});
    for (int i = 1; i < rings; ++i) {
        const double t = -kPi / 2.0 + kPi * i / rings;
        list.push_back(superEllipse(center.x, center.y, center.z + radii.z * std::sin(t),
                                    radii.x * std::cos(t), radii.y * std::cos(t), 2.0, segments));
    }
    list.push_back({{center.x, center.y, center.z + radii.z}});
    Shell shell = loft(list);
    shell.creaseDegrees = 60.0;
    return shell;
}

Shell finX(const std::vector<Vec3>& outlineYZ, double halfThickness, const Vec3& at) {
    Ring left;
    Ring right;
    for (const Vec3& p : outlineYZ) {
        left.push_back({at.x - halfThickness, at.y + p.y, at.z + p.z});
        right.push_back({at.x + halfThickness, at.y + p.y, at.z + p.z});
    }
    return loft({left, right});
}

Shell finY(const std::vector<Vec3>& outlineXZ, double halfThickness, const Vec3& at) {
    Ring lower;
    Ring upper;
    for (const Vec3& p : outlineXZ) {
        lower.push_back({at.x + p.x, at.y - halfThickness, at.z + p.z});
        upper.push_back({at.x + p.x, at.y + halfThickness, at.z + p.z});
    }
    return loft({lower, upper});
}

Shell jaggedChunk(uint64_t seed, const Vec3& radii, double roughness) {
    // Icosahedron, split once: 42 corners, 80 faces.
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Vec3> p = {{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                           {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    std::vector<uint32_t> f = {0, 11, 5,  0, 5,  1, 0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                               4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                               6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> middles;
    auto middle = [&](uint32_t a, uint32_t b) {
        const auto key = std::make_pair(a < b ? a : b, a < b ? b : a);
        const auto found = middles.find(key);
        if (found != middles.end()) {
            return found->second;
        }
        p.push_back((p[a] + p[b]) * 0.5);
        const uint32_t id = static_cast<uint32_t>(p.size() - 1);
        middles[key] = id;
        return id;
    };
    std::vector<uint32_t> split;
    for (size_t i = 0; i < f.size(); i += 3) {
        const uint32_t a = f[i], b = f[i + 1], c = f[i + 2];
        const uint32_t ab = middle(a, b), bc = middle(b, c), ca = middle(c, a);
        split.insert(split.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
    }
    Random random(seed);
    Shell shell;
    for (const Vec3& q : p) {
        const Vec3 n = normalized(q);
        const double r = 1.0 - roughness * random.uniform();
        shell.add({n.x * radii.x * r, n.y * radii.y * r, n.z * radii.z * r});
    }
    shell.triangles = split;
    shell.creaseDegrees = 18.0;
    orientOutward(shell);
    return shell;
}

void MeshModel::add(Shell shell, double uvScale, bool closed) {
    if (closed) {
        requireClosed(shell);
        if (shell.signedVolume() <= 0.0) {
            throw std::runtime_error("mesh shell faces inward");
        }
    }
    const size_t faceCount = shell.triangles.size() / 3;
    std::vector<Vec3> faceNormal(faceCount);
    std::vector<std::vector<size_t>> facesAt(shell.points.size());
    for (size_t f = 0; f < faceCount; ++f) {
        const Vec3& a = shell.points[shell.triangles[f * 3]];
        const Vec3& b = shell.points[shell.triangles[f * 3 + 1]];
        const Vec3& c = shell.points[shell.triangles[f * 3 + 2]];
        faceNormal[f] = cross(b - a, c - a);
        for (int k = 0; k < 3; ++k) {
            facesAt[shell.triangles[f * 3 + k]].push_back(f);
        }
    }
    const double creaseCos = std::cos(shell.creaseDegrees * kPi / 180.0);
    std::map<std::tuple<uint32_t, long, long, long, long, long>, uint32_t> known;
    for (size_t f = 0; f < faceCount; ++f) {
        const Vec3 own = normalized(faceNormal[f]);
        const double ax = std::fabs(own.x), ay = std::fabs(own.y), az = std::fabs(own.z);
        for (int k = 0; k < 3; ++k) {
            const uint32_t point = shell.triangles[f * 3 + k];
            Vec3 sum;
            for (size_t other : facesAt[point]) {
                if (dot(normalized(faceNormal[other]), own) >= creaseCos) {
                    sum = sum + faceNormal[other];
                }
            }
            MeshVertex vertex;
            vertex.position = shell.points[point];
            vertex.normal = normalized(sum);
            const Vec3& q = vertex.position;
            if (ax >= ay && ax >= az) {
                vertex.u = q.z * uvScale;
                vertex.v = -q.y * uvScale;
            } else if (ay >= az) {
                vertex.u = q.x * uvScale;
                vertex.v = q.z * uvScale;
            } else {
                vertex.u = q.x * uvScale;
                vertex.v = -q.y * uvScale;
            }
            const auto key =
                std::make_tuple(point, quantize(vertex.normal.x), quantize(vertex.normal.y),
                                quantize(vertex.normal.z), quantize(vertex.u), quantize(vertex.v));
            const auto found = known.find(key);
            if (found != known.end()) {
                indices.push_back(found->second);
            } else {
                vertices.push_back(vertex);
                const uint32_t id = static_cast<uint32_t>(vertices.size() - 1);
                known[key] = id;
                indices.push_back(id);
            }
        }
    }
}

void MeshModel::addRaw(const std::vector<MeshVertex>& rawVertices, const std::vector<uint32_t>& triangles) {
    const uint32_t base = static_cast<uint32_t>(vertices.size());
    vertices.insert(vertices.end(), rawVertices.begin(), rawVertices.end());
    for (uint32_t i : triangles) {
        indices.push_back(base + i);
    }
}

void MeshModel::setVertexColor(double r, double g, double b, double a) {
    hasColor = true;
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = a;
}

std::string MeshModel::toX(const std::string& name, const Material& material) const {
    const size_t nv = vertices.size();
    const size_t nf = indices.size() / 3;
    auto sep = [](size_t i, size_t count) { return i + 1 < count ? ",\n" : ";\n"; };
    std::string x = "xof 0303txt 0032\n\nMesh " + name + " {\n " + std::to_string(nv) + ";\n";
    for (size_t i = 0; i < nv; ++i) {
        const Vec3& p = vertices[i].position;
        x += " " + fixed(p.x, 4) + ";" + fixed(p.y, 4) + ";" + fixed(p.z, 4) + ";" + sep(i, nv);
    }
    std::string faces = " " + std::to_string(nf) + ";\n";
    for (size_t i = 0; i < nf; ++i) {
        faces += " 3;" + std::to_string(indices[i * 3]) + "," + std::to_string(indices[i * 3 + 1]) + "," +
                 std::to_string(indices[i * 3 + 2]) + ";" + sep(i, nf);
    }
    x += faces + "\n MeshNormals {\n " + std::to_string(nv) + ";\n";
    for (size_t i = 0; i < nv; ++i) {
        const Vec3& n = vertices[i].normal;
        x += " " + fixed(n.x, 4) + ";" + fixed(n.y, 4) + ";" + fixed(n.z, 4) + ";" + sep(i, nv);
    }
    x += faces + " }\n\n MeshTextureCoords {\n " + std::to_string(nv) + ";\n";
    for (size_t i = 0; i < nv; ++i) {
        x += " " + fixed(vertices[i].u, 4) + ";" + fixed(vertices[i].v, 4) + ";" + sep(i, nv);
    }
    x += " }\n";
    if (hasColor) {
        x += "\n MeshVertexColors {\n " + std::to_string(nv) + ";\n";
        const std::string rgba = fixed(color[0], 4) + ";" + fixed(color[1], 4) + ";" + fixed(color[2], 4) +
                                 ";" + fixed(color[3], 4) + ";;";
        for (size_t i = 0; i < nv; ++i) {
            x += " " + std::to_string(i) + ";" + rgba + sep(i, nv);
        }
        x += " }\n";
    }
    x += "\n MeshMaterialList {\n 1;\n " + std::to_string(nf) + ";\n";
    for (size_t i = 0; i < nf; ++i) {
        x += i + 1 < nf ? " 0,\n" : " 0;\n";
    }
    const std::string e = fixed(material.emissive, 4);
    const std::string s = fixed(material.specular, 4);
    x += "\n  Material {\n   " + fixed(material.r, 4) + ";" + fixed(material.g, 4) + ";" +
         fixed(material.b, 4) + ";" + fixed(material.a, 4) + ";;\n   " + fixed(material.power, 4) + ";\n   " +
         s + ";" + s + ";" + s + ";;\n   " + e + ";" + e + ";" + e + ";;\n\n   TextureFilename {\n    \"" +
         material.texture + "\";\n   }\n  }\n }\n}\n";
    return x;
}

}  // namespace mkmedia
