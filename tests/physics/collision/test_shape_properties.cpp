// What every convex shape kind must do, checked over thousands of random
// shapes, directions, rays, poses and planes against a description of the
// kind's true shape in double: a 1-Lipschitz bound on the signed distance to
// its surface, its exact support function, its volume, centroid and second
// moments, the exact volume of the face walk it means to give, the corners
// of its coarse polyhedron and the rule its plane sections follow. One row
// per kind; the picked cases that past faults needed are rows of the tables
// at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
#include "dgCollisionPoint.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> ConvexHolder;
typedef dgRefHolder<dgCollision> ShapeHolder;
typedef std::function<double(const D3&)> Field;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

dgVector point(const D3& p) {
    return dgVector(float(p.x), float(p.y), float(p.z), 1.0f);
}
dgVector point(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 1.0f);
}
dgVector direction(const D3& d) {
    return dgVector(float(d.x), float(d.y), float(d.z), 0.0f);
}
D3 unitD3(const D3& v) {
    return v * (1.0 / length(v));
}
double maxOf(const D3& v) {
    return std::max(v.x, std::max(v.y, v.z));
}
double minOf(const D3& v) {
    return std::min(v.x, std::min(v.y, v.z));
}
// x = y M + t for an affine matrix, in double.
D3 apply(const dgMatrix& m, const D3& y) {
    D3 out;
    for (int32_t j = 0; j < 3; j++) {
        out[j] = y.x * m[0][j] + y.y * m[1][j] + y.z * m[2][j] + m[3][j];
    }
    return out;
}
D3 row(const dgMatrix& m, int32_t i) {
    return toD3(m[i]);
}

// The grid step of a round shape of radius r: floor(256 r) steps per turn of
// 6.28318, at least 128 and at most 1024.
double gridStep(double r) {
    const double n = std::min(1024.0, std::max(128.0, double(std::floor(float(r) * 256.0f))));
    return 6.28318 / n;
}

// How far below the true support a support point on a sphere's angle grid of
// radius r may fall: one and a half grid cells away, or the pole for
// directions within 1 - 0.9998 of the x axis.
double gridLoss(double r) {
    return r * std::max(1.0 - std::cos(1.5 * gridStep(r)), 2e-4);
}

// Area of the regular n-gon of circumradius r.
double polygonArea(int32_t n, double r) {
    return 0.5 * n * r * r * std::sin(2.0 * kPi / n);
}

// The coarse corners of a round shape of the given radius: the six axis
// points and, beside each, the two points 45 degrees towards the next axis.
std::vector<D3> roundCorners(double r) {
    std::vector<D3> corners;
    const double s = r / std::sqrt(2.0);
    for (int32_t axis = 0; axis < 3; axis++) {
        for (double side : {-1.0, 1.0}) {
            D3 p{0, 0, 0};
            p[axis] = side * r;
            corners.push_back(p);
            for (double other : {-1.0, 1.0}) {
                D3 q{0, 0, 0};
                q[axis] = side * s;
                q[(axis + 1) % 3] = other * s;
                corners.push_back(q);
            }
        }
    }
    return corners;
}

// Volume of the unit octahedron subdivided `level` times, every new corner
// pushed out onto the unit sphere.
double subdivide(int32_t level, const D3& a, const D3& b, const D3& c) {
    if (level == 0) {
        return dot(a, cross(b, c)) / 6.0;
    }
    const D3 ab = unitD3(a + b), bc = unitD3(b + c), ca = unitD3(c + a);
    return subdivide(level - 1, a, ab, ca) + subdivide(level - 1, b, bc, ab) +
           subdivide(level - 1, c, ca, bc) + subdivide(level - 1, ab, bc, ca);
}
double octahedronVolume(int32_t level) {
    double v = 0.0;
    for (int32_t i = 0; i < 8; i++) {
        const D3 a{(i & 1) ? -1.0 : 1.0, 0, 0}, b{0, (i & 2) ? -1.0 : 1.0, 0}, c{0, 0, (i & 4) ? -1.0 : 1.0};
        const double orientation = ((i & 1) ^ ((i >> 1) & 1) ^ ((i >> 2) & 1)) ? -1.0 : 1.0;
        v += orientation * subdivide(level, a, b, c);
    }
    return v;
}

// Second moments of a shape per unit volume about its centroid (a symmetric
// tensor), with its volume and centroid.
struct Mass {
    double volume = 0.0;
    D3 centre{0, 0, 0};
    double cov[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
};
Mass diagonalMass(double volume, const D3& centre, double xx, double yy, double zz) {
    Mass m;
    m.volume = volume;
    m.centre = centre;
    m.cov[0][0] = xx;
    m.cov[1][1] = yy;
    m.cov[2][2] = zz;
    return m;
}
// The inertia per unit mass about axis j through the centroid.
double inertiaOf(const Mass& m, int32_t j) {
    return m.cov[0][0] + m.cov[1][1] + m.cov[2][2] - m.cov[j][j];
}
// The mass of the shape carried by x = y A + t (A the rows of the matrix).
Mass mapped(const Mass& m, const dgMatrix& a) {
    Mass out;
    const double det = dot(row(a, 0), cross(row(a, 1), row(a, 2)));
    out.volume = m.volume * std::fabs(det);
    out.centre = apply(a, m.centre);
    for (int32_t i = 0; i < 3; i++) {
        for (int32_t j = 0; j < 3; j++) {
            for (int32_t k = 0; k < 3; k++) {
                for (int32_t l = 0; l < 3; l++) {
                    out.cov[i][j] += a[k][i] * m.cov[k][l] * a[l][j];
                }
            }
        }
    }
    return out;
}

// How a kind's plane sections are made.
enum class Section {
    Centre,   // one point, the centre of the section (sphere, ellipsoid)
    Polygon,  // the coarse polyhedron's own section
    Capsule,  // an end ball's centre of section, or the coarse polyhedron's
    Core,     // the flat core's section, or the given point in the rim
    Loose     // on the plane, inside the shape
};
// What bounds a shape's world box.
enum class Box {
    Exact,            // the true extents (less the grid's loss)
    RotatedLocalBox,  // the shape's local box turned by the matrix
    Bounded           // between the true extents and the turned true box
};

struct TestShape {
    ConvexHolder shape;
    ConvexHolder inner;  // a modifier's wrapped shape
    Field bound;         // signed distance bound of the true shape, shape frame
    Field support;       // exact support value along a unit direction
    double size = 1.0;   // largest half extent: the scale of every tolerance
    // How far below the true support the grid's support points may fall
    // (absolute), and how far off the surface any point the shape puts on
    // it may lie (relative to the size).
    double supportLoss = 0.0;
    double surface = 1e-5;
    // How far (relative) a ray's hit may lie from the true surface: the
    // kinds that cast on an angle grid or snap their points lie off it.
    double rayTolerance = 2e-5;
    // Cosine of the largest angle of a ray normal from the true one.
    double normalCos = 0.9999999;
    Mass mass;
    // How far (relative) the walked polyhedron's mass may fall short of the
    // true shape's, and the walk's own exact volume (NaN: not known).
    double massTolerance = 1e-5;
    double walkVolume = kNaN;
    std::map<int32_t, int32_t> walkFaces;  // face size -> count
    bool walkReturnsFaces = false;         // else the corners
    // The coarse polyhedron: whose vertices and edges, mapped into the
    // shape's frame by polyMap; its expected corners in its own frame.
    const dgConvexCollision* poly = nullptr;
    dgMatrix polyMap = dgGetIdentityMatrix();
    std::vector<D3> coarse;
    Section section = Section::Polygon;
    double sectionTolerance = 1e-4;  // relative to the size
    // Polygon sections turn the polyhedron about x to face a normal whose
    // x is below this.
    double turnBelow = -1.0;
    Box box = Box::RotatedLocalBox;
    bool boxWritesW = true;  // else the world box's w is left alone
    // Centre sections: the section's centre of the plane n . x = c.
    std::function<D3(const D3& n, double c)> centreOf;
};

enum class Kind { box, sphere, ellipse, cone, capsule, cylinder, chamfer, hull, modifier };

const Kind kAllKinds[] = {Kind::box,      Kind::sphere,  Kind::ellipse, Kind::cone,    Kind::capsule,
                          Kind::cylinder, Kind::chamfer, Kind::hull,    Kind::modifier};

std::string kindName(const testing::TestParamInfo<Kind>& info) {
    static const char* const names[] = {"Box",      "Sphere",  "Ellipse", "Cone",    "Capsule",
                                        "Cylinder", "Chamfer", "Hull",    "Modifier"};
    return names[int32_t(info.param)];
}

// A size in [0.2, 3] times scale; negative half the time where the kind
// takes the magnitude.
float dim(std::mt19937& rng, float scale, bool mayBeNegative) {
    const float d = scale * std::uniform_real_distribution<float>(0.2f, 3.0f)(rng);
    return (mayBeNegative && (rng() & 1)) ? -d : d;
}

// The hull of a box or an octahedron of half axes (ax, ay, az) along the
// rows of a random rotation, or of a random cloud in a ball.
TestShape makeHull(std::mt19937& rng, float scale, const dgMatrix& offset) {
    const int32_t variant = int32_t(rng() % 3);
    const dgMatrix turn(randomPose(rng, 0.0f));
    const D3 rows[3] = {row(turn, 0), row(turn, 1), row(turn, 2)};
    const double axes[3] = {dim(rng, scale, false), dim(rng, scale, false), dim(rng, scale, false)};
    std::vector<float> points;
    TestShape out;
    auto addPoint = [&](const D3& u) {
        const D3 p = rows[0] * u.x + rows[1] * u.y + rows[2] * u.z;
        points.insert(points.end(), {float(p.x), float(p.y), float(p.z)});
    };
    if (variant == 0) {
        for (int32_t i = 0; i < 8; i++) {
            addPoint(
                D3{(i & 1) ? -axes[0] : axes[0], (i & 2) ? -axes[1] : axes[1], (i & 4) ? -axes[2] : axes[2]});
        }
    } else if (variant == 1) {
        for (int32_t i = 0; i < 6; i++) {
            D3 c{0, 0, 0};
            c[i / 2] = (i & 1) ? -axes[i / 2] : axes[i / 2];
            addPoint(c);
        }
    } else {
        const int32_t n = 20 + int32_t(rng() % 100);
        for (int32_t i = 0; i < n; i++) {
            const D3 d = toD3(randomUnit(rng));
            const double r = std::cbrt(std::uniform_real_distribution<double>(0.05, 1.0)(rng));
            addPoint(D3{d.x * r * axes[0], d.y * r * axes[1], d.z * r * axes[2]});
        }
    }
    auto* hull = new dgCollisionConvexHull(0x1234u, int32_t(points.size() / 3), 3 * int32_t(sizeof(float)),
                                           points.data(), offset);
    out.shape = ConvexHolder::adopt(hull);
    out.poly = hull;
    out.size = std::max(axes[0], std::max(axes[1], axes[2]));
    out.walkReturnsFaces = true;
    out.normalCos = 0.999;
    out.rayTolerance = 2e-3;
    // The hull snaps its points to a grid of 1/2048 of their spread.
    out.supportLoss = 2e-3 * out.size;
    out.surface = 2e-3;
    out.massTolerance = 4e-3;
    for (size_t i = 0; i < points.size(); i += 3) {
        out.coarse.push_back(D3{points[i], points[i + 1], points[i + 2]});
    }
    auto along = [rows](const D3& p, int32_t i) { return dot(p, rows[i]); };
    if (variant == 0) {
        out.bound = [=](const D3& p) {
            double g = -1e300;
            for (int32_t i = 0; i < 3; i++) {
                g = std::max(g, std::fabs(along(p, i)) - axes[i]);
            }
            return g;
        };
        out.support = [=](const D3& d) {
            return axes[0] * std::fabs(along(d, 0)) + axes[1] * std::fabs(along(d, 1)) +
                   axes[2] * std::fabs(along(d, 2));
        };
        out.mass =
            mapped(diagonalMass(8.0 * axes[0] * axes[1] * axes[2], D3{0, 0, 0}, axes[0] * axes[0] / 3.0,
                                axes[1] * axes[1] / 3.0, axes[2] * axes[2] / 3.0),
                   turn);
        out.walkFaces = {{3, 12}};
    } else if (variant == 1) {
        const double norm = length(D3{1.0 / axes[0], 1.0 / axes[1], 1.0 / axes[2]});
        out.bound = [=](const D3& p) {
            double sum = 0.0;
            for (int32_t i = 0; i < 3; i++) {
                sum += std::fabs(along(p, i)) / axes[i];
            }
            return (sum - 1.0) / norm;
        };
        out.support = [=](const D3& d) {
            return std::max(axes[0] * std::fabs(along(d, 0)),
                            std::max(axes[1] * std::fabs(along(d, 1)), axes[2] * std::fabs(along(d, 2))));
        };
        out.mass =
            mapped(diagonalMass(4.0 / 3.0 * axes[0] * axes[1] * axes[2], D3{0, 0, 0},
                                axes[0] * axes[0] / 10.0, axes[1] * axes[1] / 10.0, axes[2] * axes[2] / 10.0),
                   turn);
        out.walkFaces = {{3, 8}};
    } else {
        // A cloud: the hull's own faces are its surface, its points its
        // support, and its mass that of its faces.
        std::vector<std::pair<D3, double>> planes;
        const dgVector* v = hull->getVertices();
        FaceMoments moments;
        for (int32_t i = 0; i < hull->getFaceCount(); i++) {
            const dgConvexEdge* e = hull->getFaceArray()[i];
            const D3 a = toD3(v[e->m_vertex]), b = toD3(v[e->m_next->m_vertex]),
                     c = toD3(v[e->m_prev->m_vertex]);
            const D3 n = unitD3(cross(b - a, c - a));
            planes.push_back(std::make_pair(n, -dot(n, a)));
            const double pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z}, pc[3] = {c.x, c.y, c.z};
            addTetraMoments(pa, pb, pc, moments.volume, moments.first, moments.second);
        }
        out.bound = [planes](const D3& p) {
            double g = -1e300;
            for (const auto& f : planes) {
                g = std::max(g, dot(f.first, p) + f.second);
            }
            return g;
        };
        std::vector<D3> cloud;
        for (int32_t i = 0; i < hull->getVertexCount(); i++) {
            cloud.push_back(toD3(v[i]));
        }
        out.supportLoss = 0.0;
        out.support = [cloud](const D3& d) {
            double best = -1e300;
            for (const D3& p : cloud) {
                best = std::max(best, dot(p, d));
            }
            return best;
        };
        Mass m;
        m.volume = moments.volume;
        for (int32_t j = 0; j < 3; j++) {
            m.centre[j] = moments.first[j] / moments.volume;
            m.cov[j][j] = moments.second[j] / moments.volume - m.centre[j] * m.centre[j];
        }
        out.mass = m;
        out.walkVolume = moments.volume;
        out.walkFaces = {{3, hull->getFaceCount()}};
        out.rayTolerance = 1e-4;
        out.coarse.clear();
        out.size = 0.0;
        for (const D3& p : cloud) {
            out.size = std::max(out.size, length(p));
        }
    }
    return out;
}

TestShape makeShape(Kind kind, std::mt19937& rng, float scale = 1.0f,
                    const dgMatrix& offset = dgGetIdentityMatrix()) {
    TestShape out;
    switch (kind) {
        case Kind::box: {
            const float d[3] = {dim(rng, scale, true), dim(rng, scale, true), dim(rng, scale, true)};
            out.shape = ConvexHolder::adopt(new dgCollisionBox(1u, d[0], d[1], d[2], offset));
            const D3 h{0.5 * std::fabs(d[0]), 0.5 * std::fabs(d[1]), 0.5 * std::fabs(d[2])};
            out.size = maxOf(h);
            out.bound = [=](const D3& p) {
                return std::max(std::fabs(p.x) - h.x, std::max(std::fabs(p.y) - h.y, std::fabs(p.z) - h.z));
            };
            out.support = [=](const D3& u) {
                return std::fabs(u.x) * h.x + std::fabs(u.y) * h.y + std::fabs(u.z) * h.z;
            };
            out.mass = diagonalMass(8.0 * h.x * h.y * h.z, D3{0, 0, 0}, h.x * h.x / 3.0, h.y * h.y / 3.0,
                                    h.z * h.z / 3.0);
            out.walkVolume = out.mass.volume;
            out.walkFaces = {{4, 6}};
            for (int32_t i = 0; i < 8; i++) {
                out.coarse.push_back(D3{(i & 1) ? -h.x : h.x, (i & 2) ? -h.y : h.y, (i & 4) ? -h.z : h.z});
            }
            break;
        }
        case Kind::sphere: {
            const double r = dim(rng, scale, false);
            out.shape = ConvexHolder::adopt(new dgCollisionSphere(1u, float(r), offset));
            out.size = r;
            out.bound = [=](const D3& p) { return length(p) - r; };
            out.support = [=](const D3&) { return r; };
            out.supportLoss = gridLoss(r);
            out.mass =
                diagonalMass(4.0 / 3.0 * kPi * r * r * r, D3{0, 0, 0}, r * r / 5.0, r * r / 5.0, r * r / 5.0);
            out.massTolerance = 0.04;
            out.walkVolume = octahedronVolume(3) * r * r * r;
            out.walkFaces = {{3, 512}};
            out.coarse = roundCorners(r);
            out.section = Section::Centre;
            out.centreOf = [](const D3& n, double c) { return n * c; };
            out.box = Box::Exact;
            break;
        }
        case Kind::ellipse: {
            const float d[3] = {dim(rng, scale, true), dim(rng, scale, true), dim(rng, scale, true)};
            out.shape = ConvexHolder::adopt(new dgCollisionEllipse(1u, d[0], d[1], d[2], offset));
            const D3 r{std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])};
            const double rmin = minOf(r);
            out.size = maxOf(r);
            out.bound = [=](const D3& p) {
                return rmin * (length(D3{p.x / r.x, p.y / r.y, p.z / r.z}) - 1.0);
            };
            out.support = [=](const D3& u) { return length(D3{u.x * r.x, u.y * r.y, u.z * r.z}); };
            out.supportLoss = out.size * gridLoss(1.0);
            out.mass = diagonalMass(4.0 / 3.0 * kPi * r.x * r.y * r.z, D3{0, 0, 0}, r.x * r.x / 5.0,
                                    r.y * r.y / 5.0, r.z * r.z / 5.0);
            out.massTolerance = 0.04;
            out.walkVolume = octahedronVolume(3) * r.x * r.y * r.z;
            out.walkFaces = {{3, 512}};
            out.polyMap = dgMatrix(dgVector(float(r.x), 0, 0, 0), dgVector(0, float(r.y), 0, 0),
                                   dgVector(0, 0, float(r.z), 0), dgVector(0, 0, 0, 1));
            out.coarse = roundCorners(1.0);
            out.section = Section::Centre;
            // Least of sum (x_i / r_i)^2 over the plane: x_i = k n_i r_i^2.
            out.centreOf = [=](const D3& n, double c) {
                const D3 m{n.x * r.x * r.x, n.y * r.y * r.y, n.z * r.z * r.z};
                return m * (c / dot(n, m));
            };
            out.box = Box::Bounded;
            break;
        }
        case Kind::cone: {
            const float radius = dim(rng, scale, true), height = dim(rng, scale, true);
            out.shape = ConvexHolder::adopt(new dgCollisionCone(1u, radius, height, offset));
            const double r = std::fabs(radius), h = 0.5 * std::fabs(height);
            const double slant = length(D3{r, 2.0 * h, 0.0});
            out.size = std::max(r, h);
            out.bound = [=](const D3& p) {
                const double rho = length(D3{0.0, p.y, p.z});
                return std::max(-p.x - h, (2.0 * h * rho + r * (p.x - h)) / slant);
            };
            out.support = [=](const D3& u) {
                return std::max(h * u.x, -h * u.x + r * length(D3{0, u.y, u.z}));
            };
            const double step = gridStep(r);
            out.supportLoss = r * (1.0 - std::cos(1.5 * step));
            out.rayTolerance = 2e-3;
            out.normalCos = std::cos(1.5 * step);
            out.mass = diagonalMass(kPi * r * r * 2.0 * h / 3.0, D3{-0.5 * h, 0, 0}, 3.0 / 80.0 * 4.0 * h * h,
                                    0.15 * r * r, 0.15 * r * r);
            out.massTolerance = 0.012;
            out.walkVolume = polygonArea(24, r) * 2.0 * h / 3.0;
            out.walkFaces = {{3, 24}, {24, 1}};
            for (int32_t k = 0; k < 8; k++) {
                const double a = k * (6.28318 / 8.0);
                out.coarse.push_back(D3{-h, r * std::cos(a), r * std::sin(a)});
            }
            out.coarse.push_back(D3{h, 0, 0});
            out.turnBelow = 0.999;
            break;
        }
        case Kind::capsule: {
            const float radius = dim(rng, scale, true), height = 2.0f * dim(rng, scale, true);
            out.shape = ConvexHolder::adopt(new dgCollisionCapsule(1u, radius, height, offset));
            const double r = std::fabs(radius);
            const double hc =
                std::max(0.5 * std::fabs(height) - r, double(dgCollisionCapsule::kMinHalfLength));
            out.size = r + hc;
            out.bound = [=](const D3& p) {
                return length(D3{std::max(std::fabs(p.x) - hc, 0.0), p.y, p.z}) - r;
            };
            out.support = [=](const D3& u) { return hc * std::fabs(u.x) + r; };
            out.supportLoss = gridLoss(r);
            // A cylinder and a ball, each half ball's moments carried to the
            // middle from its centroid 3r/8 beyond its end.
            const double cylinder = kPi * r * r * 2.0 * hc, ball = 4.0 / 3.0 * kPi * r * r * r;
            const double total = cylinder + ball, reach = hc + 3.0 * r / 8.0;
            const double across = (cylinder * (3.0 * r * r + 4.0 * hc * hc) / 12.0 +
                                   ball * (83.0 / 320.0 * r * r + reach * reach)) /
                                  total;
            const double radial = 0.5 * (cylinder * 0.5 * r * r + ball * 0.4 * r * r) / total;
            out.mass = diagonalMass(total, D3{0, 0, 0}, across - radial, radial, radial);
            out.massTolerance = 0.1;
            out.walkVolume = polygonArea(16, r) * 2.0 * hc + octahedronVolume(2) * r * r * r;
            out.walkFaces = {{4, 16}, {3, 128}};
            for (int32_t k = 0; k < 4; k++) {
                const double a = k * r / 4.0, rho = std::sqrt(r * r - a * a);
                for (int32_t j = 0; j < 6; j++) {
                    const double phi = j * (6.28318 / 6.0);
                    for (double side : {-1.0, 1.0}) {
                        out.coarse.push_back(D3{side * (hc + a), rho * std::cos(phi), rho * std::sin(phi)});
                    }
                }
            }
            out.section = Section::Capsule;
            break;
        }
        case Kind::cylinder: {
            const float radius = dim(rng, scale, true), height = dim(rng, scale, true);
            out.shape = ConvexHolder::adopt(new dgCollisionCylinder(1u, radius, height, offset));
            const double r = std::fabs(radius), h = 0.5 * std::fabs(height);
            out.size = std::max(r, h);
            out.bound = [=](const D3& p) {
                return std::max(std::fabs(p.x) - h, length(D3{0, p.y, p.z}) - r);
            };
            out.support = [=](const D3& u) { return h * std::fabs(u.x) + r * length(D3{0, u.y, u.z}); };
            out.supportLoss = r * (1.0 - std::cos(1.5 * gridStep(r)));
            out.mass =
                diagonalMass(kPi * r * r * 2.0 * h, D3{0, 0, 0}, h * h / 3.0, r * r / 4.0, r * r / 4.0);
            out.massTolerance = 0.012;
            out.walkVolume = polygonArea(24, r) * 2.0 * h;
            out.walkFaces = {{4, 24}, {24, 2}};
            out.walkReturnsFaces = true;
            for (int32_t k = 0; k < 8; k++) {
                const double a = k * (6.28318 / 8.0);
                for (double side : {-1.0, 1.0}) {
                    out.coarse.push_back(D3{side * h, r * std::cos(a), r * std::sin(a)});
                }
            }
            out.turnBelow = 0.999;
            break;
        }
        case Kind::chamfer: {
            const float radius = dim(rng, scale, true), height = dim(rng, scale, true);
            out.shape = ConvexHolder::adopt(new dgCollisionChamferCylinder(1u, radius, height, offset));
            const double h = 0.5 * std::fabs(height);
            const double rc =
                std::max(std::fabs(radius) - h, double(dgCollisionChamferCylinder::kMinCoreRadius));
            out.size = rc + h;
            out.bound = [=](const D3& p) {
                return length(D3{p.x, std::max(length(D3{0, p.y, p.z}) - rc, 0.0), 0}) - h;
            };
            out.support = [=](const D3& u) { return h + rc * length(D3{0, u.y, u.z}); };
            // Near the poles the flat face's rim point answers.
            out.supportLoss = (h + rc) * (1.0 - std::cos(1.5 * gridStep(rc))) + 2e-4 * h;
            out.rayTolerance = 2e-3;
            out.normalCos = 0.995;
            // At radius rho the shape spans |x| <= X(rho): h over the core,
            // sqrt(h^2 - (rho - rc)^2) over the rounded rim.
            double volume = 0.0, rho2 = 0.0, x2 = 0.0;
            const int32_t steps = 4000;
            for (int32_t i = 0; i < steps; i++) {
                const double rho = (i + 0.5) * (rc + h) / steps, u = rho - rc;
                const double x = (u <= 0.0) ? h : std::sqrt(std::max(0.0, h * h - u * u));
                const double ring = 2.0 * kPi * rho * (rc + h) / steps;
                volume += ring * 2.0 * x;
                rho2 += ring * 2.0 * x * rho * rho;
                x2 += ring * 2.0 * x * x * x / 3.0;
            }
            out.mass =
                diagonalMass(volume, D3{0, 0, 0}, x2 / volume, 0.5 * rho2 / volume, 0.5 * rho2 / volume);
            out.massTolerance = 0.03;
            // A stack of twelve 24-gon frustums.
            const double sector = 12.0 * std::sin(2.0 * kPi / 24.0);
            out.walkVolume = 0.0;
            for (int32_t j = 0; j < 12; j++) {
                const double x0 = -h * std::cos(j * kPi / 12.0), x1 = -h * std::cos((j + 1) * kPi / 12.0);
                const double a0 = sector * std::pow(rc + h * std::sin(j * kPi / 12.0), 2.0);
                const double a1 = sector * std::pow(rc + h * std::sin((j + 1) * kPi / 12.0), 2.0);
                out.walkVolume += (x1 - x0) / 3.0 * (a0 + a1 + std::sqrt(a0 * a1));
            }
            out.walkFaces = {{4, 288}, {24, 2}};
            out.walkReturnsFaces = true;
            for (int32_t m = 0; m < 5; m++) {
                const double theta = m * kPi / 4.0, rho = rc + h * std::sin(theta);
                for (int32_t k = 0; k < 8; k++) {
                    const double phi = k * (6.28318 / 8.0);
                    out.coarse.push_back(D3{-h * std::cos(theta), rho * std::sin(phi), rho * std::cos(phi)});
                }
            }
            out.section = Section::Core;
            break;
        }
        case Kind::hull:
            out = makeHull(rng, scale, offset);
            break;
        case Kind::modifier: {
            // A cone, box or capsule stretched, sheared, turned and moved, the
            // offset taken into the modifier's matrix: the wrapped shape's
            // bound read through the inverse map, scaled by a lower bound of
            // the map's least stretch (one over the inverse's Frobenius norm)
            // to stay 1-Lipschitz.
            static const Kind wrappedKinds[] = {Kind::cone, Kind::box, Kind::capsule};
            const Kind wrappedKind = wrappedKinds[rng() % 3];
            TestShape inner = makeShape(wrappedKind, rng, scale);
            std::uniform_real_distribution<float> stretch(0.5f, 2.0f), shearing(-0.6f, 0.6f);
            dgMatrix shear(dgGetIdentityMatrix());
            shear.front = dgVector(stretch(rng), shearing(rng), shearing(rng), 0.0f);
            shear.up = dgVector(0.0f, stretch(rng), shearing(rng), 0.0f);
            shear.right.z = stretch(rng);
            const dgMatrix m(shear.multiply(randomPose(rng, 2.0f * scale)).multiply(offset));
            auto* modifier = new dgCollisionConvexModifier(inner.shape.get(), nullptr);
            modifier->setModifierMatrix(m);
            out = inner;
            out.shape = ConvexHolder::adopt(modifier);
            out.inner = inner.shape;
            const D3 a[3] = {row(m, 0), row(m, 1), row(m, 2)};
            const double det = dot(a[0], cross(a[1], a[2]));
            // Columns of the inverse: y_i = (x - t) . b_i.
            const D3 b[3] = {cross(a[1], a[2]) * (1.0 / det), cross(a[2], a[0]) * (1.0 / det),
                             cross(a[0], a[1]) * (1.0 / det)};
            const double least = 1.0 / std::sqrt(dot(b[0], b[0]) + dot(b[1], b[1]) + dot(b[2], b[2]));
            const double most = std::sqrt(dot(a[0], a[0]) + dot(a[1], a[1]) + dot(a[2], a[2]));
            const D3 t = toD3(m.position);
            out.size = inner.size * most + length(t);
            const Field innerBound = inner.bound, innerSupport = inner.support;
            out.bound = [=](const D3& p) {
                const D3 q = p - t;
                return least * innerBound(D3{dot(q, b[0]), dot(q, b[1]), dot(q, b[2])});
            };
            out.support = [=](const D3& u) {
                const D3 w{dot(u, a[0]), dot(u, a[1]), dot(u, a[2])};
                return length(w) * innerSupport(w * (1.0 / length(w))) + dot(u, t);
            };
            out.supportLoss = inner.supportLoss * most;
            out.rayTolerance = inner.rayTolerance * most / least;
            out.surface = inner.surface * most / least;
            out.normalCos = std::cos(std::min(std::acos(inner.normalCos) * most / least + 1e-3, 1.5));
            out.mass = mapped(inner.mass, m);
            out.walkVolume = inner.walkVolume * det;
            out.polyMap = inner.polyMap.multiply(m);
            out.section = (wrappedKind == Kind::box) ? Section::Polygon : Section::Loose;
            out.sectionTolerance = 1e-4 * most / least;
            out.turnBelow = -1.0;
            out.box = Box::Exact;
            out.boxWritesW = false;
            break;
        }
    }
    if (!out.poly) {
        out.poly = out.inner.get() ? out.inner.get() : out.shape.get();
    }
    return out;
}

// ---- support ----

// Unit directions with the axes, the poles about x and ties among them.
D3 sampleDirection(std::mt19937& rng, int32_t i) {
    if (i % 8 == 0) {
        D3 d{0, 0, 0};
        d[(i / 8) % 3] = ((i / 24) & 1) ? -1.0 : 1.0;
        return d;
    }
    if (i % 8 == 1) {
        static const double nearPole[] = {0.99999, 0.99985, 0.9997, 0.999, 0.99};
        const double x = nearPole[(i / 8) % 5] * (((i / 40) & 1) ? -1.0 : 1.0);
        const double a = std::uniform_real_distribution<double>(0.0, 2.0 * kPi)(rng);
        const double s = std::sqrt(1.0 - x * x);
        return D3{x, s * std::cos(a), s * std::sin(a)};
    }
    return toD3(randomUnit(rng));
}

class ShapeSupport : public testing::TestWithParam<Kind> {};

// Every support point lies on the surface and reaches the true support along
// its direction, less the grid's loss; the zero direction answers a point of
// the surface.
TEST_P(ShapeSupport, ReachesTheTrueExtremeOnTheSurface) {
    std::mt19937 rng(100u + uint32_t(GetParam()));
    for (int32_t n = 0; n < 32; n++) {
        const TestShape s = makeShape(GetParam(), rng);
        const double eps = 1e-5 * s.size;
        for (int32_t i = 0; i < 128; i++) {
            const D3 d = sampleDirection(rng, i);
            const D3 p = toD3(s.shape->supportVertex(direction(d)));
            const double h = s.support(d);
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
            EXPECT_NEAR(s.bound(p), 0.0, s.surface * s.size + eps) << "shape " << n << " direction " << i;
            EXPECT_LE(dot(p, d), h + s.supportLoss + eps) << "shape " << n << " direction " << i;
            EXPECT_GE(dot(p, d), h - s.supportLoss - eps) << "shape " << n << " direction " << i;
        }
        const D3 zero = toD3(s.shape->supportVertex(dgVector(0, 0, 0, 0)));
        EXPECT_NEAR(s.bound(zero), 0.0, s.surface * s.size + eps) << "shape " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeSupport, testing::ValuesIn(kAllKinds), kindName);

// ---- ray cast ----

// First parameter in [0, 1] at which the segment a + t (b - a) enters
// {bound <= level}, or -1. Convex along the line: the minimum is found by
// golden section, the entry by bisection before it.
double firstEntry(const Field& bound, const D3& a, const D3& b, double level) {
    auto at = [&](double t) { return bound(a + (b - a) * t); };
    if (at(0.0) <= level) {
        return 0.0;
    }
    const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
    double lo = 0.0;
    double hi = 1.0;
    for (int32_t i = 0; i < 90; i++) {
        const double m1 = hi - ratio * (hi - lo);
        const double m2 = lo + ratio * (hi - lo);
        if (at(m1) <= at(m2)) {
            hi = m2;
        } else {
            lo = m1;
        }
    }
    double inside = 0.5 * (lo + hi);
    if (at(inside) > level) {
        if (at(1.0) > level) {
            return -1.0;
        }
        inside = 1.0;
    }
    double outside = 0.0;
    for (int32_t i = 0; i < 70; i++) {
        const double mid = 0.5 * (outside + inside);
        if (at(mid) <= level) {
            inside = mid;
        } else {
            outside = mid;
        }
    }
    return inside;
}

// The outward normal of the true surface at p, by central differences,
// where it does not change within a thousandth of the size (away from edges
// and apexes); false elsewhere.
bool smoothNormal(const Field& bound, const D3& p, double size, D3& normal) {
    auto gradient = [&](const D3& q) {
        const double e = 1e-5 * size;
        D3 g;
        for (int32_t j = 0; j < 3; j++) {
            D3 hi = q, lo = q;
            hi[j] += e;
            lo[j] -= e;
            g[j] = bound(hi) - bound(lo);
        }
        return unitD3(g);
    };
    normal = gradient(p);
    for (int32_t j = 0; j < 6; j++) {
        D3 q = p;
        q[j / 2] += ((j & 1) ? -1e-3 : 1e-3) * size;
        if (dot(gradient(q), normal) < 0.99999) {
            return false;
        }
    }
    return true;
}

constexpr uint32_t kUserId = 0x80000005u;

// Checks one ray of local segment p0 -> p1 against the reference; returns
// 1 for a checked hit, 0 otherwise.
int32_t checkRay(const TestShape& s, const dgVector& p0, const dgVector& p1, const std::string& label) {
    char ends[160];
    std::snprintf(ends, sizeof(ends), " (%.9g %.9g %.9g) -> (%.9g %.9g %.9g)", p0.x, p0.y, p0.z, p1.x, p1.y,
                  p1.z);
    const std::string what(label + ends);
    const D3 a = toD3(p0), b = toD3(p1);
    const double e = s.rayTolerance * s.size;
    const double length = testsupport::length(b - a);
    // The float result itself carries a few units in the last place of t.
    const double slack = 4.0 * std::numeric_limits<float>::epsilon() + e / length;
    dgContactPoint contact;
    contact.normal = dgVector(9.0f, 9.0f, 9.0f, 9.0f);
    contact.userId = -1;
    const float t = s.shape->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
    EXPECT_FALSE(std::isnan(t)) << what;
    if (s.bound(a) < -e) {
        EXPECT_EQ(t, dgCollision::kRayMiss) << what << ": start inside";
        return 0;
    }
    if (s.bound(a) <= e) {
        return 0;
    }
    const double outer = firstEntry(s.bound, a, b, e);
    const double inner = firstEntry(s.bound, a, b, -e);
    if (outer < 0.0) {
        EXPECT_GT(t, 1.0f) << what << ": misses the shape by more than " << e;
        return 0;
    }
    if (inner >= 0.0) {
        EXPECT_LE(t, 1.0f) << what << ": enters the shape at " << inner;
    }
    if (!(t <= 1.0f)) {
        return 0;
    }
    EXPECT_GE(t, outer - slack) << what << ": hit before the surface, expected " << inner;
    if (inner >= 0.0) {
        EXPECT_LE(t, inner + slack) << what << ": hit past the surface, expected " << outer;
    }
    const D3 n = toD3(contact.normal);
    EXPECT_NEAR(dot(n, n), 1.0, 1e-4) << what;
    EXPECT_LE(dot(n, b - a), 0.05 * length) << what << ": normal along the ray";
    EXPECT_EQ(contact.userId, dgContactUserId(kUserId)) << what;
    // The normal against the true surface's where it enters, for segments
    // short enough that float positions resolve it.
    D3 expected;
    const double entry = firstEntry(s.bound, a, b, 0.0);
    if ((length < 20.0 * s.size) && (entry > 0.0) &&
        smoothNormal(s.bound, a + (b - a) * entry, s.size, expected)) {
        EXPECT_GE(dot(unitD3(n), expected), s.normalCos) << what << ": normal off the surface's";
    }
    return 1;
}

class ShapeRayCast : public testing::TestWithParam<Kind> {};

// Random shapes at random poses, rays from a twentieth of the size to
// 10,000 units aimed at points of the shape's box or near its extreme
// points (apexes, rims, corners), some ending short of the shape.
TEST_P(ShapeRayCast, FarAndNearStartsAgreeWithTheReference) {
    std::mt19937 rng(1000u + uint32_t(GetParam()));
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int32_t hits = 0;
    int32_t rays = 0;
    for (int32_t shapeIndex = 0; shapeIndex < 32; shapeIndex++) {
        const TestShape s = makeShape(GetParam(), rng);
        s.shape->setUserId(kUserId);
        const dgMatrix pose(randomPose(rng, 100.0f));
        const dgVector centre(s.shape->getBoxCentre());
        const dgVector half(s.shape->getBoxHalfSize());
        for (int32_t i = 0; i < 200; i++, rays++) {
            dgVector target;
            if (i & 1) {
                target = point(centre + dgVector((2.0f * unit(rng) - 1.0f) * 1.2f * half.x,
                                                 (2.0f * unit(rng) - 1.0f) * 1.2f * half.y,
                                                 (2.0f * unit(rng) - 1.0f) * 1.2f * half.z, 0.0f));
            } else {
                target = point(s.shape->supportVertex(randomUnit(rng)) +
                               randomUnit(rng).scale(0.1f * float(s.size)));
            }
            const float distance = ((i % 4) == 3) ? float(s.size) * (0.05f + 2.5f * unit(rng))
                                                  : std::pow(10.0f, 4.0f * unit(rng));
            const dgVector from(randomUnit(rng));
            const dgVector start(point(target + from.scale(distance)));
            const dgVector end(point(target + from.scale(float(s.size) * (4.0f * unit(rng) - 2.0f))));
            // The caller's world ray, brought into the shape's frame as a body
            // does it.
            const dgVector p0(pose.inverseTransformVector(pose.transformVector(start)));
            const dgVector p1(pose.inverseTransformVector(pose.transformVector(end)));
            hits += checkRay(s, point(p0), point(p1),
                             "shape " + std::to_string(shapeIndex) + " ray " + std::to_string(i) + " from " +
                                 std::to_string(distance));
        }
    }
    EXPECT_GT(hits, rays / 8);
}

// Ends that are not finite report no hit; a huge finite start still finds
// the shape.
TEST_P(ShapeRayCast, NonFiniteStartsMissAndHugeStartsHit) {
    std::mt19937 rng(77u + uint32_t(GetParam()));
    const TestShape s = makeShape(GetParam(), rng);
    const dgVector centre(point(s.shape->getBoxCentre()));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const dgVector bad[] = {dgVector(inf, 0.0f, 0.0f, 1.0f), dgVector(-inf, -inf, 0.5f, 1.0f),
                            dgVector(nan, 0.0f, 0.0f, 1.0f), dgVector(0.0f, nan, inf, 1.0f)};
    dgContactPoint contact;
    for (const dgVector& p : bad) {
        EXPECT_EQ(s.shape->rayCast(p, centre, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
        EXPECT_EQ(s.shape->rayCast(centre + dgVector(0.0f, 0.0f, 100.0f, 0.0f), p, contact, nullptr, nullptr,
                                   nullptr),
                  dgCollision::kRayMiss);
    }
    const float big = std::numeric_limits<float>::max();
    const dgVector huge[] = {dgVector(1e30f, 2e29f, -1e29f, 1.0f), dgVector(-big, 0.0f, 0.0f, 1.0f),
                             dgVector(0.0f, big, big, 1.0f), dgVector(3e20f, -3e20f, 1e20f, 1.0f)};
    for (const dgVector& p : huge) {
        const float t = s.shape->rayCast(p, centre, contact, nullptr, nullptr, nullptr);
        EXPECT_GE(t, 0.0f);
        EXPECT_LE(t, 1.0f);
        // Both ends that far away: where the line passes is beyond the
        // precision of any float arithmetic, but the answer is still a number.
        const float across = s.shape->rayCast(p, centre.scale(2.0f) - p, contact, nullptr, nullptr, nullptr);
        EXPECT_TRUE((across == dgCollision::kRayMiss) || (across >= 0.0f && across <= 1.0f)) << across;
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeRayCast, testing::ValuesIn(kAllKinds), kindName);

// Rays skimming the apex of cones from near and far: a hit must lie on the
// cone, a miss must pass outside it.
TEST(ShapeRayCastApex, RaysAroundTheConeApex) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int32_t shapeIndex = 0; shapeIndex < 16; shapeIndex++) {
        const TestShape s = makeShape(Kind::cone, rng, 1.0f + 10.0f * unit(rng));
        s.shape->setUserId(kUserId);
        const float h = static_cast<dgCollisionCone*>(s.shape.get())->getHalfHeight();
        for (int32_t i = 0; i < 300; i++) {
            const dgVector apex(h, 0.0f, 0.0f, 1.0f);
            const dgVector target(point(apex + randomUnit(rng).scale(0.2f * float(s.size) * unit(rng))));
            const float distance = std::pow(10.0f, 3.0f * unit(rng));
            const dgVector from(randomUnit(rng));
            checkRay(s, point(target + from.scale(distance)), point(target - from.scale(float(s.size))),
                     "cone " + std::to_string(shapeIndex) + " ray " + std::to_string(i));
        }
    }
}

// A turned box hull whose first ray simplex is four corners on one diagonal
// plane of the box, flat but for the rounding of the hull's grid: a point of
// that plane well outside the box lies within rounding of all four face
// planes of the simplex and must not count as inside it.
TEST(ShapeRayCastHull, FlatFirstSimplexDoesNotSwallowOutsidePoints) {
    const float corners[] = {0.855304599f,  -2.76942873f,  0.783948183f, -2.48093367f, 0.549007475f,
                             1.59981656f,   0.855507731f,  -2.0899508f,  -1.97890544f, -2.48073053f,
                             1.22848535f,   -1.16303706f,  2.48073053f,  -1.22848535f, 1.16303706f,
                             -0.855507731f, 2.0899508f,    1.97890544f,  2.48093367f,  -0.549007475f,
                             -1.59981656f,  -0.855304599f, 2.76942873f,  -0.783948183f};
    ConvexHolder hull = ConvexHolder::adopt(
        new dgCollisionConvexHull(1u, 8, 3 * int32_t(sizeof(float)), corners, dgGetIdentityMatrix()));
    dgContactPoint contact;
    EXPECT_EQ(hull->rayCast(dgVector(-1.70127463f, -2.75529146f, 0.673842371f, 1.0f),
                            dgVector(4.44131184f, -0.805324793f, 1.54851401f, 1.0f), contact, nullptr,
                            nullptr, nullptr),
              dgCollision::kRayMiss);
}

// ---- mass ----

// Faces of the coarse polyhedron (loops of the edge table) as vertex lists,
// mapped into the shape's frame.
std::vector<std::vector<D3>> coarseFaces(const TestShape& s) {
    const dgConvexEdge* edges = s.poly->getEdges();
    const int32_t count = s.poly->getEdgeCount();
    std::vector<bool> seen(size_t(count), false);
    std::vector<std::vector<D3>> faces;
    for (int32_t i = 0; i < count; i++) {
        if (seen[size_t(i)]) {
            continue;
        }
        std::vector<D3> face;
        const dgConvexEdge* e = &edges[i];
        do {
            seen[size_t(e - edges)] = true;
            face.push_back(apply(s.polyMap, toD3(s.poly->getVertices()[e->m_vertex])));
            e = e->m_next;
        } while ((e != &edges[i]) && (face.size() <= size_t(count)));
        faces.push_back(face);
    }
    return faces;
}

// Volume and centroid of the part of convex faces below the plane
// n . x + d < 0, in double: every face clipped, fanned from a point of the
// plane (the cap then adds nothing), or from a corner when nothing is cut.
struct Part {
    double volume = 0.0;
    D3 centroid{0, 0, 0};
};
Part clipped(const std::vector<std::vector<D3>>& faces, const D3& n, double d) {
    const D3& corner = faces[0][0];
    bool cut = false;
    for (const std::vector<D3>& face : faces) {
        for (const D3& p : face) {
            cut = cut || (dot(n, p) + d > 0.0);
        }
    }
    const D3 o = cut ? corner - n * ((dot(n, corner) + d) / dot(n, n)) : corner;
    Part part;
    D3 moment{0, 0, 0};
    for (const std::vector<D3>& face : faces) {
        std::vector<D3> kept;
        for (size_t i = 0; i < face.size(); i++) {
            const D3& p = face[i];
            const D3& q = face[(i + 1) % face.size()];
            const double sp = dot(n, p) + d, sq = dot(n, q) + d;
            if (sp <= 0.0) {
                kept.push_back(p);
            }
            if ((sp < 0.0 && sq > 0.0) || (sp > 0.0 && sq < 0.0)) {
                kept.push_back(p + (q - p) * (sp / (sp - sq)));
            }
        }
        for (size_t k = 1; k + 1 < kept.size(); k++) {
            const D3 a = kept[0] - o, b = kept[k] - o, c = kept[k + 1] - o;
            const double v = dot(a, cross(b, c)) / 6.0;
            part.volume += v;
            moment = moment + (o * 4.0 + a + b + c) * (v / 4.0);
        }
    }
    if (part.volume > 0.0) {
        part.centroid = moment * (1.0 / part.volume);
    }
    return part;
}

class ShapeMass : public testing::TestWithParam<Kind> {};

// The shape weighs the walk it means to give (its exact volume), which is
// the true shape within the tessellation's deficit: volume, centroid and
// inertia. The stored volume and centroid are the coarse polyhedron's,
// whose corners are where the kind puts them.
TEST_P(ShapeMass, IsTheWalkedPolyhedronOfTheTrueShape) {
    std::mt19937 rng(200u + uint32_t(GetParam()));
    for (int32_t n = 0; n < 24; n++) {
        SCOPED_TRACE(testing::Message() << "shape " << n);
        const TestShape s = makeShape(GetParam(), rng);
        const Mass& m = s.mass;
        const double volume = s.shape->getVolume();
        if (!std::isnan(s.walkVolume)) {
            EXPECT_NEAR(volume, s.walkVolume, 2e-5 * s.walkVolume);
        }
        EXPECT_NEAR(volume, m.volume, s.massTolerance * m.volume);
        if (s.massTolerance > 1e-3) {
            EXPECT_LT(volume, m.volume * (1.0 + 1e-3));
        }
        dgVector inertia(0, 0, 0, 7.0f), origin(0, 0, 0, 5.0f);
        s.shape->calcInertia(inertia, origin);
        EXPECT_EQ(inertia.w, 7.0f);
        EXPECT_EQ(origin.w, 5.0f);
        const double scale = std::max(inertiaOf(m, 0), std::max(inertiaOf(m, 1), inertiaOf(m, 2)));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(origin[j], m.centre[j], (1e-4 + s.massTolerance) * s.size);
            EXPECT_NEAR(inertia[j], inertiaOf(m, j), s.massTolerance * scale) << j;
        }
        // The coarse polyhedron: its corners, and its volume and centroid as
        // stored.
        if (!s.coarse.empty()) {
            const dgVector* v = s.poly->getVertices();
            ASSERT_EQ(s.poly->getVertexCount(), int32_t(s.coarse.size()));
            for (const D3& c : s.coarse) {
                double nearest = 1e300;
                for (int32_t i = 0; i < s.poly->getVertexCount(); i++) {
                    nearest = std::min(nearest, length(toD3(v[i]) - c));
                }
                EXPECT_LT(nearest, s.surface * s.size + 1e-5 * s.size) << c.x << " " << c.y << " " << c.z;
            }
        }
        TestShape own(s);
        own.polyMap = dgGetIdentityMatrix();
        const Part whole = clipped(coarseFaces(own), D3{0, 1, 0}, -1e30);
        const dgVector& stored = s.poly->getCentreOfMass();
        EXPECT_GT(whole.volume, 0.0) << "coarse faces turned inward";
        EXPECT_NEAR(stored.w, whole.volume, 1e-5 * whole.volume);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(stored[j], whole.centroid[j], 1e-5 * s.size);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeMass, testing::ValuesIn(kAllKinds), kindName);

// The fluid plane handed over in the context, counting its calls.
struct Fluid {
    dgPlane plane;
    int32_t calls;
    uint32_t userId;
};
int32_t fluidPlane(uint32_t userId, void* context, const dgMatrix&, dgPlane& plane) {
    Fluid* fluid = static_cast<Fluid*>(context);
    fluid->calls++;
    fluid->userId = userId;
    plane = fluid->plane;
    return 1;
}
int32_t noFluidPlane(uint32_t, void*, const dgMatrix&, dgPlane& plane) {
    plane = dgPlane(0.0f, 1.0f, 0.0f, 1.0e6f);
    return 0;
}

// Below a fluid plane placed anywhere, or through a corner of the coarse
// polyhedron: the coarse polyhedron's part below it, in the world; the
// parts on either side add up to the whole; without a plane, the whole.
TEST_P(ShapeMass, SubmergedPartIsTheClippedCoarsePolyhedron) {
    std::mt19937 rng(300u + uint32_t(GetParam()));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int32_t shapeIndex = 0; shapeIndex < 12; shapeIndex++) {
        const TestShape s = makeShape(GetParam(), rng);
        s.shape->setUserId(0x9000000Au + uint32_t(shapeIndex));
        const std::vector<std::vector<D3>> faces = coarseFaces(s);
        const Part whole = clipped(faces, D3{0, 1, 0}, -1e30);
        for (int32_t i = 0; i < 24; i++) {
            SCOPED_TRACE(testing::Message() << "shape " << shapeIndex << " plane " << i);
            const bool throughCorner = (i % 3 == 0);
            const dgMatrix matrix(throughCorner ? dgGetIdentityMatrix() : randomPose(rng, 10.0f));
            const D3 normal = sampleDirection(rng, i);
            // A world plane through a point of the shape, or exactly through a
            // corner (the identity leaves the plane as given).
            D3 through = toD3(s.shape->supportVertex(direction(normal))) * unit(rng) +
                         toD3(s.shape->supportVertex(direction(normal * -1.0))) * unit(rng) * 0.5;
            if (throughCorner) {
                // Exactly, or within the snapping distance of the plane.
                through =
                    faces[rng() % faces.size()][0] +
                    normal * ((i % 6 == 3) ? std::uniform_real_distribution<double>(-2e-5, 2e-5)(rng) : 0.0);
            }
            const dgVector n(direction(normal));
            const float d = -(n % matrix.transformVector(point(through)));
            Fluid fluid{dgPlane(n, d), 0, 0};
            const dgVector got(s.shape->calcSubmergedVolume(matrix, fluidPlane, &fluid));
            EXPECT_EQ(fluid.calls, 1);
            EXPECT_EQ(fluid.userId, 0x9000000Au + uint32_t(shapeIndex));
            // The plane in the shape's frame.
            const D3 local{dot(toD3(matrix.front), normal), dot(toD3(matrix.up), normal),
                           dot(toD3(matrix.right), normal)};
            const double localD = double(d) + dot(normal, toD3(matrix.position));
            const Part below = clipped(faces, local, localD);
            const Part above = clipped(faces, local * -1.0, -localD);
            EXPECT_NEAR(got.w, below.volume, 1e-4 * whole.volume);
            if (below.volume > 0.02 * whole.volume) {
                const D3 c = apply(matrix, below.centroid);
                for (int32_t j = 0; j < 3; j++) {
                    EXPECT_NEAR(got[j], c[j], 2e-4 * s.size + 2e-6 * std::fabs(c[j])) << j;
                }
            }
            fluid.plane = dgPlane(n.scale(-1.0f), -d);
            const dgVector other(s.shape->calcSubmergedVolume(matrix, fluidPlane, &fluid));
            EXPECT_NEAR(other.w, above.volume, 1e-4 * whole.volume);
            EXPECT_NEAR(got.w + other.w, whole.volume, 2e-4 * whole.volume);
        }
        const dgMatrix matrix(randomPose(rng, 10.0f));
        for (dgCollisionFluidPlaneCallback callback :
             {dgCollisionFluidPlaneCallback(nullptr), &noFluidPlane}) {
            const dgVector all(s.shape->calcSubmergedVolume(matrix, callback, nullptr));
            EXPECT_NEAR(all.w, whole.volume, 1e-5 * whole.volume);
            const D3 c = apply(matrix, whole.centroid);
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_NEAR(all[j], c[j], 1e-4 * s.size + 1e-6 * std::fabs(c[j]));
            }
        }
    }
}

// ---- face walk ----

class ShapeWalk : public testing::TestWithParam<Kind> {};

// The walk of a shape with an offset, on a body placed anywhere: the kind's
// faces, each planar, on the true surface where the offset and the body's
// matrix put it, outward, closing the solid; the walk names the body and
// leaves the shape's offset alone.
TEST_P(ShapeWalk, IsAClosedOutwardSurfacePlacedByOffsetThenMatrix) {
    std::mt19937 rng(400u + uint32_t(GetParam()));
    for (int32_t n = 0; n < 12; n++) {
        SCOPED_TRACE(testing::Message() << "shape " << n);
        const dgMatrix offset(randomPose(rng, 3.0f));
        const TestShape s = makeShape(GetParam(), rng, 1.0f, offset);
        const dgMatrix body(randomPose(rng, 50.0f));
        const dgMatrix placement(s.shape->getOffsetMatrix().multiply(body));
        const dgMatrix before(s.shape->getOffsetMatrix());
        int32_t reported = 0;
        const WalkedFaces faces = walkFaces(*s.shape, body, &reported);
        EXPECT_EQ(std::memcmp(&before, &s.shape->getOffsetMatrix(), sizeof(before)), 0);
        std::map<int32_t, int32_t> sizes;
        int32_t corners = 0;
        D3 closure{0, 0, 0};
        const double tolerance = s.surface * s.size + 1e-5 * s.size + 4e-6 * 60.0;
        for (const std::vector<dgVector>& face : faces) {
            sizes[int32_t(face.size())]++;
            corners += int32_t(face.size());
            std::vector<D3> local;
            D3 centroid{0, 0, 0};
            for (const dgVector& p : face) {
                local.push_back(toD3(placement.inverseTransformVector(p)));
                centroid = centroid + local.back() * (1.0 / double(face.size()));
                EXPECT_NEAR(s.bound(local.back()), 0.0, tolerance);
            }
            D3 area{0, 0, 0};
            for (size_t i = 0; i < local.size(); i++) {
                area = area + cross(local[i] - centroid, local[(i + 1) % local.size()] - centroid) * 0.5;
            }
            closure = closure + area;
            const D3 unit = unitD3(area);
            for (const D3& p : local) {
                EXPECT_NEAR(dot(p - centroid, unit), 0.0, tolerance);
            }
            EXPECT_GT(dot(area, centroid - s.mass.centre), 0.0);
        }
        EXPECT_EQ(sizes, s.walkFaces);
        EXPECT_EQ(reported, s.walkReturnsFaces ? int32_t(faces.size()) : corners);
        EXPECT_LT(length(closure), 1e-4 * s.size * s.size);
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeWalk, testing::ValuesIn(kAllKinds), kindName);

// ---- bounds ----

class ShapeBounds : public testing::TestWithParam<Kind> {};

// Under any matrix the world box holds the true shape (less the grid's loss)
// and no more than its turned true box; kinds that turn their local box give
// exactly that, and that local box is the support's.
TEST_P(ShapeBounds, HoldTheShapeAndNoMore) {
    std::mt19937 rng(500u + uint32_t(GetParam()));
    for (int32_t n = 0; n < 16; n++) {
        const TestShape s = makeShape(GetParam(), rng);
        const double eps = 1e-5 * s.size;
        D3 trueCentre, trueHalf;
        for (int32_t j = 0; j < 3; j++) {
            D3 axis{0, 0, 0};
            axis[j] = 1.0;
            const double hi = s.support(axis), lo = s.support(axis * -1.0);
            trueCentre[j] = 0.5 * (hi - lo);
            trueHalf[j] = 0.5 * (hi + lo);
        }
        const D3 localCentre = toD3(s.shape->getBoxCentre()), localHalf = toD3(s.shape->getBoxHalfSize());
        if (s.box == Box::RotatedLocalBox) {
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_NEAR(localHalf[j], trueHalf[j], s.supportLoss + eps);
                EXPECT_NEAR(localCentre[j], trueCentre[j], s.supportLoss + eps);
            }
        }
        for (int32_t k = 0; k < 16; k++) {
            SCOPED_TRACE(testing::Message() << "shape " << n << " pose " << k);
            const dgMatrix m(randomPose(rng, 20.0f));
            dgVector lo(0, 0, 0, 7.0f), hi(0, 0, 0, -7.0f);
            s.shape->calcAABB(m, lo, hi);
            EXPECT_EQ(lo.w, s.boxWritesW ? 1.0f : 7.0f);
            EXPECT_EQ(hi.w, s.boxWritesW ? 1.0f : -7.0f);
            const double placed = 1e-6 * 20.0;
            for (int32_t j = 0; j < 3; j++) {
                // World axis j in the shape's frame.
                const D3 axis{m[0][j], m[1][j], m[2][j]};
                const double up = hi[j] - m.position[j], down = m.position[j] - lo[j];
                EXPECT_GE(up, s.support(axis) - s.supportLoss - eps - placed);
                EXPECT_GE(down, s.support(axis * -1.0) - s.supportLoss - eps - placed);
                const double turned = std::fabs(axis.x) * trueHalf.x + std::fabs(axis.y) * trueHalf.y +
                                      std::fabs(axis.z) * trueHalf.z;
                EXPECT_LE(up, dot(axis, trueCentre) + turned + s.supportLoss + eps + placed);
                EXPECT_LE(down, -dot(axis, trueCentre) + turned + s.supportLoss + eps + placed);
                if (s.box == Box::Exact) {
                    EXPECT_NEAR(up, s.support(axis), s.supportLoss + eps + placed);
                    EXPECT_NEAR(down, s.support(axis * -1.0), s.supportLoss + eps + placed);
                }
                if (s.box == Box::RotatedLocalBox) {
                    const double own = std::fabs(axis.x) * localHalf.x + std::fabs(axis.y) * localHalf.y +
                                       std::fabs(axis.z) * localHalf.z;
                    EXPECT_NEAR(up, dot(axis, localCentre) + own, eps + placed);
                    EXPECT_NEAR(down, -dot(axis, localCentre) + own, eps + placed);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeBounds, testing::ValuesIn(kAllKinds), kindName);

// ---- plane sections ----

// Points where the plane n . x = c crosses the edges of the coarse polyhedron
// (mapped, and turned about x by angle), corners on the plane included.
std::vector<D3> polyhedronSection(const TestShape& s, double angle, const D3& n, double c, bool& clean) {
    const double ca = std::cos(angle), sa = std::sin(angle);
    auto place = [&](const dgVector& v) {
        const D3 p = apply(s.polyMap, toD3(v));
        return D3{p.x, ca * p.y - sa * p.z, sa * p.y + ca * p.z};
    };
    const dgConvexEdge* edges = s.poly->getEdges();
    const dgVector* v = s.poly->getVertices();
    std::vector<D3> out;
    clean = true;
    auto add = [&out, &s, &clean](const D3& p) {
        for (const D3& q : out) {
            if (length(p - q) < 1e-3 * s.size) {
                clean = false;
            }
        }
        out.push_back(p);
    };
    for (int32_t i = 0; i < s.poly->getEdgeCount(); i++) {
        const dgConvexEdge& e = edges[i];
        const D3 a = place(v[e.m_vertex]), b = place(v[e.m_twin->m_vertex]);
        const double sa2 = dot(n, a) - c, sb = dot(n, b) - c;
        // Corners within rounding of the plane, and edges nearly in it, leave
        // the section to rounding.
        if ((std::fabs(sa2) < 1e-4 * s.size) ||
            ((sa2 * sb < 0.0) && (std::fabs(sa2 - sb) < 1e-2 * length(b - a)))) {
            clean = false;
        }
        if (sa2 * sb < 0.0) {
            add(a + (b - a) * (sa2 / (sa2 - sb)));
        }
    }
    return out;
}

// Planes with random, axial and near-axial normals through points of the
// shape's box and a little beyond.
void samplePlane(std::mt19937& rng, int32_t i, const TestShape& s, D3& n, D3& q) {
    if (i % 10 == 0) {
        n = D3{(i & 16) ? -1.0 : 1.0, 0, 0};
    } else if (i % 10 == 1) {
        n = sampleDirection(rng, 1 + 8 * (i / 10));
    } else if (i % 10 == 2) {
        const double a = std::uniform_real_distribution<double>(0.0, 2.0 * kPi)(rng);
        n = D3{0, std::cos(a), std::sin(a)};
    } else {
        n = toD3(randomUnit(rng));
    }
    std::uniform_real_distribution<double> u(-1.1, 1.1);
    const D3 centre = toD3(s.shape->getBoxCentre()), half = toD3(s.shape->getBoxHalfSize());
    q = D3{centre.x + u(rng) * half.x, centre.y + u(rng) * half.y, centre.z + u(rng) * half.z};
}

class ShapeSection : public testing::TestWithParam<Kind> {};

// Every section lies on its plane, at most twelve points turning
// counter-clockwise about the normal, and follows the kind's rule: the
// section's centre, the coarse polyhedron's own section (turned to face the
// normal where the kind does), an end ball's centre of section, the core's
// section, or anything inside the shape. A plane that misses gives nothing.
TEST_P(ShapeSection, FollowsTheKindsRule) {
    std::mt19937 rng(600u + uint32_t(GetParam()));
    int32_t polygons = 0;
    for (int32_t shapeIndex = 0; shapeIndex < 16; shapeIndex++) {
        const TestShape s = makeShape(GetParam(), rng);
        const double tol = s.sectionTolerance * s.size + 1e-5;
        for (int32_t i = 0; i < 200; i++) {
            SCOPED_TRACE(testing::Message() << "shape " << shapeIndex << " plane " << i);
            D3 n, q;
            samplePlane(rng, i, s, n, q);
            const double c = dot(n, q);
            std::vector<dgVector> out(dgPlaneIntersectionMaxPoints);
            const int32_t count = s.shape->calcPlaneIntersection(direction(n), point(q), out.data());
            ASSERT_GE(count, 0);
            ASSERT_LE(count, 12);
            std::vector<D3> points;
            for (int32_t k = 0; k < count; k++) {
                points.push_back(toD3(out[size_t(k)]));
                EXPECT_NEAR(dot(n, points.back()), c, tol) << "point " << k << " off the plane";
            }
            const bool misses = (c > s.support(n) + tol) || (-c > s.support(n * -1.0) + tol);
            if (count >= 3) {
                polygons++;
                D3 area{0, 0, 0};
                for (int32_t k = 0; k < count; k++) {
                    area = area +
                           cross(points[size_t(k)] - points[0], points[size_t((k + 1) % count)] - points[0]);
                    const D3& a = points[size_t((k + count - 1) % count)];
                    const D3& b = points[size_t(k)];
                    const D3& d = points[size_t((k + 1) % count)];
                    EXPECT_GE(dot(cross(b - a, d - b), n), -tol * s.size) << "corner " << k;
                }
                EXPECT_GT(dot(area, n), 0.0);
            }
            Section rule = s.section;
            D3 single{0, 0, 0};
            double angle = 0.0;
            const double radial2 = n.y * n.y + n.z * n.z;
            if (rule == Section::Capsule) {
                const auto* capsule = static_cast<const dgCollisionCapsule*>(s.shape.get());
                const double hc = capsule->getHalfLength(), r = capsule->getRadius();
                rule = Section::Polygon;
                if (std::fabs(n.x) < 0.5) {
                    // Along the axis: the axis points within r of the plane,
                    // projected onto it, -x end first.
                    double lo = -hc, hi = hc;
                    if (std::fabs(n.x) > 1e-6) {
                        const double x0 = (c - r) / n.x, x1 = (c + r) / n.x;
                        lo = std::max(lo, std::min(x0, x1));
                        hi = std::min(hi, std::max(x0, x1));
                    } else if (std::fabs(c) >= r) {
                        hi = lo - 1.0;
                    }
                    const double near = std::max(r - std::fabs(c - n.x * lo), r - std::fabs(c - n.x * hi));
                    if (std::fabs(near) > tol) {
                        ASSERT_EQ(count, (lo > hi) ? 0 : (hi - lo > tol) ? 2 : count);
                    }
                    for (int32_t k = 0; k < count; k++) {
                        const double x = (k == 0) ? lo : hi;
                        EXPECT_LT(length(points[size_t(k)] - (D3{x, 0, 0} + n * (c - n.x * x))), tol)
                            << "point " << k << " not an end of the axis' section";
                    }
                    continue;
                }
                for (double end : {hc, -hc}) {
                    const double delta = c - n.x * end;
                    if ((rule == Section::Polygon) && (std::fabs(delta) < r)) {
                        rule = Section::Centre;
                        single = D3{end, 0, 0} + n * delta;
                    }
                }
                angle = (radial2 > 1e-6) ? std::atan2(n.z, n.y) : 0.0;
            } else if ((rule == Section::Polygon) && (std::fabs(n.x) < s.turnBelow)) {
                angle = std::atan2(n.z, n.y);
            } else if (rule == Section::Centre) {
                single = s.centreOf(n, c);
            }
            switch (rule) {
                case Section::Centre:
                    ASSERT_EQ(count, 1);
                    EXPECT_LT(length(points[0] - single), tol);
                    break;
                case Section::Polygon: {
                    bool clean = true;
                    const std::vector<D3> expected = polyhedronSection(s, angle, n, c, clean);
                    for (const D3& p : points) {
                        double nearest = 1e300;
                        for (const D3& e : expected) {
                            nearest = std::min(nearest, length(p - e));
                        }
                        EXPECT_LT(nearest, tol) << "a point not on the coarse polyhedron's section";
                    }
                    if (clean) {
                        EXPECT_EQ(count, std::min(int32_t(expected.size()), 12));
                    }
                    break;
                }
                case Section::Core: {
                    const auto* chamfer = static_cast<const dgCollisionChamferCylinder*>(s.shape.get());
                    const double h = chamfer->getHalfHeight(), rc = chamfer->getCoreRadius();
                    const double coreHigh = h * std::fabs(n.x) + rc * std::sqrt(radial2);
                    if (std::fabs(c) > coreHigh + tol) {
                        // Only the rim can meet the plane: the given point when
                        // it lies in the shape.
                        if (s.bound(q) < -tol) {
                            ASSERT_EQ(count, 1);
                            EXPECT_LT(length(points[0] - q), tol);
                        } else if (s.bound(q) > tol) {
                            EXPECT_EQ(count, 0);
                        }
                        break;
                    }
                    if (std::fabs(c) > coreHigh - tol) {
                        break;
                    }
                    for (int32_t k = 0; k < count; k++) {
                        const D3& p = points[size_t(k)];
                        const double rho = length(D3{0, p.y, p.z});
                        EXPECT_LE(std::fabs(p.x), h + tol);
                        EXPECT_LE(rho, rc + tol);
                        EXPECT_TRUE((std::fabs(std::fabs(p.x) - h) < tol) || (std::fabs(rho - rc) < tol))
                            << "point " << k << " inside the core";
                        if (k > 0) {
                            EXPECT_GT(
                                length(p - points[size_t(k - 1)]),
                                std::sqrt(double(dgCollisionChamferCylinder::kSectionMergeDist2)) - tol);
                        }
                    }
                    // Points closer than the merge distance are one: only a
                    // wide section keeps three.
                    if ((coreHigh - std::fabs(c) > 0.25) && (std::min(h, rc) > 0.15)) {
                        EXPECT_GE(count, 3);
                    }
                    break;
                }
                case Section::Loose:
                    for (const D3& p : points) {
                        EXPECT_LE(s.bound(p), tol);
                    }
                    break;
                case Section::Capsule:
                    break;
            }
            if (misses && (rule != Section::Centre)) {
                EXPECT_EQ(count, 0);
            }
        }
    }
    // A capsule's polygons are only the planes across its axis.
    if (GetParam() != Kind::sphere && GetParam() != Kind::ellipse) {
        EXPECT_GT(polygons, (GetParam() == Kind::capsule) ? 150 : 600);
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeSection, testing::ValuesIn(kAllKinds), kindName);

// ---- far and small ----

// Volume, centre of mass and inertia of every kind, far from the origin and
// small, against the shape's own face walk cut into tetrahedra about one of
// its points in double.
struct WalkMoments {
    bool anchored = false;
    double anchor[3] = {0, 0, 0};
    FaceMoments sums;
};

void momentsFace(const dgBody* body, int32_t count, const float* v, int32_t) {
    WalkMoments& ref = *static_cast<WalkMoments*>(body->m_userData);
    if (!ref.anchored) {
        for (int32_t j = 0; j < 3; j++) {
            ref.anchor[j] = v[j];
        }
        ref.anchored = true;
    }
    double p[3][3];
    for (int32_t j = 0; j < 3; j++) {
        p[0][j] = double(v[j]) - ref.anchor[j];
    }
    for (int32_t i = 1; i + 1 < count; i++) {
        for (int32_t j = 0; j < 3; j++) {
            p[1][j] = double(v[3 * i + j]) - ref.anchor[j];
            p[2][j] = double(v[3 * (i + 1) + j]) - ref.anchor[j];
        }
        addTetraMoments(p[0], p[1], p[2], ref.sums.volume, ref.sums.first, ref.sums.second);
    }
}

Mass walkedMass(const dgCollision& shape) {
    WalkMoments ref;
    dgBody body(placedBody(dgGetIdentityMatrix()));
    body.m_collisionMatrix = dgGetIdentityMatrix();
    body.m_userData = &ref;
    body.m_collision = const_cast<dgCollision*>(&shape);
    shape.forEachPolygon(&body, momentsFace);
    Mass m;
    m.volume = ref.sums.volume;
    for (int32_t j = 0; j < 3; j++) {
        const double c = ref.sums.first[j] / ref.sums.volume;
        m.centre[j] = ref.anchor[j] + c;
        m.cov[j][j] = ref.sums.second[j] / ref.sums.volume - c * c;
    }
    return m;
}

dgMatrix placedAt(std::mt19937& rng, const dgVector& where) {
    dgMatrix m(randomPose(rng, 1.0f));
    m.position = dgVector(where.x, where.y, where.z, 1.0f);
    return m;
}

// A compound of two boxes and a sphere a size apart around `where`.
ShapeHolder randomCompound(std::mt19937& rng, float size, const dgVector& where) {
    std::vector<ConvexHolder> parts;
    std::vector<dgCollision*> children;
    for (int32_t i = 0; i < 3; i++) {
        const dgVector d(randomUnit(rng));
        const dgVector at(where.x + d.x * size, where.y + d.y * size, where.z + d.z * size, 1.0f);
        parts.push_back(
            makeShape((i == 1) ? Kind::sphere : Kind::box, rng, 0.3f * size, placedAt(rng, at)).shape);
        children.push_back(parts.back().get());
    }
    return ShapeHolder::adopt(new dgCompoundCollision(3, children.data(), nullptr));
}

// The hull of 24 points about `size` from `where`, its own frame far from
// it.
ConvexHolder farHull(std::mt19937& rng, float size, const dgVector& where) {
    std::vector<float> cloud;
    for (int32_t i = 0; i < 24; i++) {
        const dgVector d(randomUnit(rng));
        const float r = 0.5f * size * std::uniform_real_distribution<float>(0.5f, 1.5f)(rng);
        cloud.insert(cloud.end(), {where.x + d.x * r, where.y + d.y * r, where.z + d.z * r});
    }
    return ConvexHolder::adopt(
        new dgCollisionConvexHull(1u, 24, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix()));
}

class MassPropertiesFar : public testing::TestWithParam<int32_t> {};

TEST_P(MassPropertiesFar, MatchTheWalkFarAwayAndSmall) {
    std::mt19937 rng(2024);
    // Sizes from 5 cm to 100 m, at 1 to 10^4 sizes from the origin (at most
    // 10^6): the float placement of the faces then still resolves the shape.
    std::uniform_real_distribution<float> logSize(std::log(0.05f), std::log(100.0f));
    std::uniform_real_distribution<float> logRatio(0.0f, std::log(1.0e4f));
    for (int32_t trial = 0; trial < 40; trial++) {
        const float size = std::exp(logSize(rng));
        const float distance = std::min(size * std::exp(logRatio(rng)), 1.0e6f);
        const dgVector dir(randomUnit(rng));
        const dgVector where(dir.x * distance, dir.y * distance, dir.z * distance, 1.0f);
        ShapeHolder shape;
        if (GetParam() < int32_t(sizeof(kAllKinds) / sizeof(kAllKinds[0]))) {
            const Kind kind = kAllKinds[GetParam()];
            // A hull's points themselves lie far away: its own frame is far
            // from it.
            const dgMatrix at(placedAt(rng, where));
            TestShape s =
                makeShape(kind, rng, 0.3f * size, (kind == Kind::hull) ? dgGetIdentityMatrix() : at);
            if (kind == Kind::hull) {
                s.shape = farHull(rng, size, where);
            }
            shape = ShapeHolder(s.shape.get());
        } else {
            shape = randomCompound(rng, size, where);
        }
        const Mass e = walkedMass(*shape);
        ASSERT_GT(e.volume, 0.0);
        // What rounding the faces to float positions far away leaves of the
        // shape, on top of the walk's own float arithmetic.
        const double grain = double(distance) * double(FLT_EPSILON) / double(size);
        const double tol = 1.0e-4 + 8.0 * grain;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " size " << size << " distance " << distance);
        EXPECT_NEAR(shape->getVolume(), e.volume, tol * e.volume);
        dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
        shape->calcInertia(inertia, origin);
        const double scale = std::max(inertiaOf(e, 0), std::max(inertiaOf(e, 1), inertiaOf(e, 2)));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(origin[j], e.centre[j], tol * size + 2.0 * double(distance) * double(FLT_EPSILON));
            EXPECT_GT(inertia[j], 0.0f);
            EXPECT_NEAR(inertia[j], inertiaOf(e, j), tol * scale);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, MassPropertiesFar, testing::Range(0, 10),
                         [](const testing::TestParamInfo<int32_t>& info) {
                             return (info.param < 9) ? kindName(testing::TestParamInfo<Kind>(
                                                           kAllKinds[info.param], size_t(info.param)))
                                                     : std::string("Compound");
                         });

// ---- picked cases ----

// A shape of the picked cases at the identity: 'b' a box (sizes), 's' a
// sphere, 'e' an ellipsoid (radii), 'k' a cone, 'c' a capsule, 'y' a
// cylinder, 'f' a chamfer cylinder (radius, height), 'h' a box hull of the
// convex base's own queries (half sizes).
struct ShapeRecipe {
    ShapeRecipe(char kind_, float a_, float b_ = 0.0f, float c_ = 0.0f) : kind(kind_), a(a_), b(b_), c(c_) {}
    char kind;
    float a, b, c;
};
ConvexHolder build(const ShapeRecipe& s) {
    const dgMatrix& id = dgGetIdentityMatrix();
    switch (s.kind) {
        case 'b':
            return ConvexHolder::adopt(new dgCollisionBox(1u, s.a, s.b, s.c, id));
        case 's':
            return ConvexHolder::adopt(new dgCollisionSphere(1u, s.a, id));
        case 'e':
            return ConvexHolder::adopt(new dgCollisionEllipse(1u, s.a, s.b, s.c, id));
        case 'k':
            return ConvexHolder::adopt(new dgCollisionCone(1u, s.a, s.b, id));
        case 'c':
            return ConvexHolder::adopt(new dgCollisionCapsule(1u, s.a, s.b, id));
        case 'y':
            return ConvexHolder::adopt(new dgCollisionCylinder(1u, s.a, s.b, id));
        case 'f':
            return ConvexHolder::adopt(new dgCollisionChamferCylinder(1u, s.a, s.b, id));
        default:
            return ConvexHolder::adopt(new TestHull(boxCorners(s.a, s.b, s.c), boxFaces()));
    }
}
template <typename Shape>
const Shape* as(const ConvexHolder& shape) {
    return static_cast<const Shape*>(shape.get());
}

struct F3 {
    float x, y, z;
};
const float M = std::numeric_limits<float>::quiet_NaN();
const F3 N{M, M, M};
dgVector at(const F3& p) {
    return dgVector(p.x, p.y, p.z, 1.0f);
}
dgVector v3(float x, float y, float z) {
    return dgVector(x, y, z, 1.0f);
}

// A segment and what it must give: t (M: a miss) within tol (0: exactly),
// and the normal's components (M: not checked).
struct RayRow {
    const char* what;
    ShapeRecipe shape;
    F3 p0;
    F3 p1;
    float t;
    float tol;
    F3 normal;
};

std::vector<RayRow> rayRows() {
    const float s2 = std::sqrt(0.5f);
    const float ey = std::sqrt(0.75f), en = std::sqrt(1.0f / 16.0f + 0.75f);
    const float chamferX = std::sqrt(0.0625f - 0.04f);
    // Diagonal past the edge (x = 1, z = 3) of a box hull, a thousandth out.
    const F3 pastA{1 - 3 * s2 + 1e-3f * s2, 0.5f, 3 + 3 * s2 + 1e-3f * s2};
    const F3 pastB{1 + 3 * s2 + 1e-3f * s2, 0.5f, 3 - 3 * s2 + 1e-3f * s2};
    // clang-format off
    std::vector<RayRow> rows = {
        {"box along x", {'b', 2, 2, 2}, {-5, 0, 0}, {5, 0, 0}, 0.4f, 1e-6f, {-1, 0, 0}},
        {"box from inside", {'b', 2, 2, 2}, {0, 0, 0}, {5, 0, 0}, M, 0, N},
        {"box inside to inside", {'b', 2, 2, 2}, {0.5f, 0.2f, -0.3f}, {0.1f, 0, 0}, M, 0, N},
        {"box from a face outward", {'b', 2, 2, 2}, {-1, 0, 0}, {5, 0, 0}, M, 0, N},
        {"box crossing the slab above", {'b', 2, 2, 2}, {-5, 3, 0}, {5, 3, 0}, M, 0, N},
        {"box parallel inside the slab",
         {'b', 2, 2, 2}, {0.3f, 0.9f, 4}, {0.3f, 0.9f, -4}, 0.375f, 1e-6f, {0, 0, 1}},
        {"box parallel outside the slab", {'b', 2, 2, 2}, {0.3f, 1.1f, 4}, {0.3f, 1.1f, -4}, M, 0, N},
        {"box grazing a face", {'b', 2, 2, 2}, {-5, 1, 0}, {5, 1, 0}, M, 0, N},
        {"box grazing an edge", {'b', 2, 2, 2}, {-5, 1, 1}, {5, 1, 1}, M, 0, N},
        {"box zero length", {'b', 2, 2, 2}, {2, 2, 2}, {2, 2, 2}, M, 0, N},
        {"box hull parallel just outside", {'h', 1, 2, 3}, {-5, 2.001f, 0}, {5, 2.001f, 0}, M, 0, N},
        {"box hull parallel just inside",
         {'h', 1, 2, 3}, {-5, 1.999f, 0}, {5, 1.999f, 0}, 0.4f, 1e-5f, {-1, 0, 0}},
        {"box hull past an edge", {'h', 1, 2, 3}, pastA, pastB, M, 0, N},
        {"box hull zero length", {'h', 1, 2, 3}, {5, 0, 0}, {5, 0, 0}, M, 0, N},
        {"flat hull", {'h', 1, 1, 0}, {0.2f, 0.1f, -5}, {0.2f, 0.1f, 5}, M, 0, N},
        {"sphere along x", {'s', 1}, {-5, 0, 0}, {5, 0, 0}, 0.4f, 1e-6f, {-1, 0, 0}},
        {"sphere from inside", {'s', 1}, {0.2f, 0, 0}, {5, 0, 0}, M, 0, N},
        {"sphere tangent", {'s', 1}, {-5, 1, 0}, {5, 1, 0}, M, 0, N},
        {"sphere zero length", {'s', 1}, {3, 0, 0}, {3, 0, 0}, M, 0, N},
        {"sphere pointing away", {'s', 1}, {3, 0, 0}, {5, 0, 0}, M, 0, N},
        {"sphere short", {'s', 1}, {-3, 0, 0}, {-2, 0, 0}, M, 0, N},
        {"ellipse along the long axis", {'e', 2, 1, 0.5f}, {-5, 0, 0}, {5, 0, 0}, 0.3f, 1e-6f, {-1, 0, 0}},
        {"ellipse across the thin axis",
         {'e', 2, 1, 0.5f}, {0, 0, 3}, {0, 0, -3}, 2.5f / 6.0f, 1e-6f, {0, 0, 1}},
        {"ellipse oblique",
         {'e', 2, 1, 0.5f}, {1, 5, 0}, {1, -5, 0}, (5.0f - ey) / 10.0f, 1e-6f, {0.25f / en, ey / en, 0}},
        {"ellipse from inside", {'e', 2, 1, 0.5f}, {1.5f, 0, 0}, {5, 0, 0}, M, 0, N},
        {"ellipse grazing the long end", {'e', 2, 1, 0.5f}, {2, -3, 0}, {2, 3, 0}, M, 0, N},
        {"ellipse parallel outside", {'e', 2, 1, 0.5f}, {-5, 0, 0.6f}, {5, 0, 0.6f}, M, 0, N},
        {"ellipse short", {'e', 2, 1, 0.5f}, {-5, 0, 0}, {-2.5f, 0, 0}, M, 0, N},
        {"cone into the base", {'k', 1, 2}, {-5, 0, 0}, {5, 0, 0}, 0.4f, 1e-5f, {-1, 0, 0}},
        {"cone parallel within the base", {'k', 1, 2}, {-5, 0.5f, 0}, {5, 0.5f, 0}, 0.4f, 1e-5f, {-1, 0, 0}},
        {"cone parallel outside", {'k', 1, 2}, {-5, 1.2f, 0}, {5, 1.2f, 0}, M, 0, N},
        // Between two facets of the tessellated side, half a step off either way.
        {"cone across the side",
         {'k', 1, 2}, {0, 5, 0}, {0,
         -5, 0}, 0.45f, 1e-4f, {1.0f / std::sqrt(5.0f), 2.0f / std::sqrt(5.0f), M}},
        {"cone grazing the side line", {'k', 1, 2}, {-1, 1.01f, 0}, {1, 0.01f, 0}, M, 0, N},
        {"cone from inside", {'k', 1, 2}, {-0.5f, 0, 0}, {5, 5, 0}, M, 0, N},
        {"cone short of the base", {'k', 1, 2}, {-5, 0, 0}, {-1.5f, 0, 0}, M, 0, N},
        {"capsule across the side", {'c', 1, 4}, {0, 3, 0}, {0, -3, 0}, 2.0f / 6.0f, 1e-6f, {0, 1, 0}},
        {"capsule along the axis", {'c', 1, 4}, {3, 0, 0}, {0, 0, 0}, 1.0f / 3.0f, 1e-6f, {1, 0, 0}},
        {"capsule parallel into an end",
         {'c', 1, 4}, {-5, 0, 0.6f}, {5, 0, 0.6f}, 0.32f, 1e-6f, {-0.8f, 0, 0.6f}},
        {"capsule oblique into an end",
         {'c', 1, 4}, {-1 - 3 * s2, 3 * s2, 0}, {-1, 0, 0}, 2.0f / 3.0f, 1e-6f, {-s2, s2, 0}},
        {"capsule ending on the side", {'c', 1, 4}, {0.5f, 0, 3}, {0.5f, 0, 1}, 1.0f, 0, {0, 0, 1}},
        {"capsule from the middle", {'c', 1, 4}, {0.5f, 0.2f, 0}, {5, 5, 5}, M, 0, N},
        {"capsule from an end ball", {'c', 1, 4}, {1.5f, 0.2f, 0}, {5, 0, 0}, M, 0, N},
        {"capsule from the surface", {'c', 1, 4}, {0, 1, 0}, {0, 5, 0}, M, 0, N},
        {"capsule grazing the side", {'c', 1, 4}, {0, 1, -3}, {0, 1, 3}, M, 0, N},
        {"capsule grazing a pole", {'c', 1, 4}, {2, -3, 0}, {2, 3, 0}, M, 0, N},
        {"capsule parallel outside", {'c', 1, 4}, {-5, 1.2f, 0}, {5, 1.2f, 0}, M, 0, N},
        {"capsule past a ball's corner", {'c', 1, 4}, {1.5f, 3, 0.9f}, {1.5f, -3, 0.9f}, M, 0, N},
        {"capsule short of the side", {'c', 1, 4}, {0, 3, 0}, {0, 1.5f, 0}, M, 0, N},
        {"capsule short of an end ball", {'c', 1, 4}, {1.9f, 3, 0}, {1.9f, 0.8f, 0}, M, 0, N},
        {"capsule short along the axis", {'c', 1, 4}, {4, 0, 0}, {2.5f, 0, 0}, M, 0, N},
        {"capsule zero length", {'c', 1, 4}, {4, 0, 0}, {4, 0, 0}, M, 0, N},
        {"cylinder across the side", {'y', 1, 4}, {0, 3, 0}, {0, -3, 0}, 1.0f / 3.0f, 1e-6f, {0, 1, 0}},
        {"cylinder onto an end", {'y', 1, 4}, {4, 0, 0}, {0, 0, 0}, 0.5f, 0, {1, 0, 0}},
        {"cylinder onto the other end",
         {'y', 1, 4}, {-4, 0.5f, 0.5f}, {0, 0.5f, 0.5f}, 0.5f, 1e-6f, {-1, 0, 0}},
        {"cylinder into an end from outside the radius",
         {'y', 1, 4}, {3, 1.6f, 0}, {1, 0, 0}, 0.5f, 1e-6f, {1, 0, 0}},
        {"cylinder pointing away", {'y', 1, 4}, {0, 3, 0}, {0, 6, 0}, M, 0, N},
        {"cylinder from inside", {'y', 1, 4}, {0, 0.5f, 0}, {0, 6, 0}, M, 0, N},
        {"cylinder from the centre along the axis", {'y', 1, 4}, {0, 0, 0}, {10, 0, 0}, M, 0, N},
        {"cylinder beyond an end going away", {'y', 1, 4}, {3, 0, 0}, {5, 0, 0}, M, 0, N},
        {"cylinder parallel outside", {'y', 1, 4}, {-10, 1.5f, 0}, {10, 1.5f, 0}, M, 0, N},
        {"cylinder crossing the end plane outside the rim", {'y', 1, 4}, {3, 0.5f, 0}, {1, 1.5f, 3}, M, 0, N},
        {"cylinder parallel inside the radius",
         {'y', 1, 4}, {-10, 0.9f, 0}, {10, 0.9f, 0}, 0.4f, 1e-6f, {-1, 0, 0}},
        {"cylinder tangent", {'y', 1, 4}, {0, 1, -5}, {0, 1, 5}, M, 0, N},
        {"cylinder just outside", {'y', 1, 4}, {0, 1.001f, -5}, {0, 1.001f, 5}, M, 0, N},
        {"cylinder just inside",
         {'y', 1, 4}, {0, 0.999f, -5}, {0,
         0.999f, 5}, (5.0f - std::sqrt(1.0f - 0.999f * 0.999f)) / 10.0f, 1e-5f, {M, 0.999f, M}},
        {"cylinder beyond an end across", {'y', 1, 4}, {2.5f, 3, 0}, {2.5f, -3, 0}, M, 0, N},
        {"cylinder zero length", {'y', 1, 4}, {0, 3, 0}, {0, 3, 0}, M, 0, N},
        {"chamfer onto a flat face", {'f', 1, 0.5f}, {1, 0, 0}, {0, 0, 0}, 0.75f, 1e-6f, {1, 0, 0}},
        {"chamfer onto the other flat face",
         {'f', 1, 0.5f}, {-1, 0.5f, 0.2f}, {1, 0.5f, 0.2f}, 0.375f, 1e-6f, {-1, 0, 0}},
        {"chamfer ending on a flat face", {'f', 1, 0.5f}, {1, 0.1f, 0}, {0.25f, 0.1f, 0}, 1.0f, 0, {1, 0, 0}},
        {"chamfer across the rim", {'f', 1, 0.5f}, {0, 3, 0}, {0, -3, 0}, 2.0f / 6.0f, 2e-4f, {M, 1, M}},
        {"chamfer past a flat face onto the rim",
         {'f', 1, 0.5f}, {1, 0.95f, 0}, {-1,
         0.95f, 0}, (1.0f - chamferX) / 2.0f, 2e-3f, {chamferX / 0.25f, 0.8f, M}},
        {"chamfer from inside", {'f', 1, 0.5f}, {0, 0.2f, 0}, {3, 0.2f, 0}, M, 0, N},
        {"chamfer pointing away", {'f', 1, 0.5f}, {0, 2, 0}, {0, 4, 0}, M, 0, N},
        {"chamfer beyond the rim", {'f', 1, 0.5f}, {-3, 1.05f, 0}, {3, 1.05f, 0}, M, 0, N},
        {"chamfer passing the rim", {'f', 1, 0.5f}, {0.5f, 3, 0}, {0.5f, -3, 0}, M, 0, N},
    };
    // clang-format on
    // Ending exactly on a face of a box, a box hull or an end of a cylinder:
    // a hit at 1 with the face's normal; ending short of it, a miss.
    for (const ShapeRecipe& shape : {ShapeRecipe{'b', 2, 4, 6}, ShapeRecipe{'h', 1, 2, 3}, ShapeRecipe{'y', 1, 2}}) {
        for (int32_t axis = 0; axis < ((shape.kind == 'y') ? 1 : 3); axis++) {
            for (float side : {-1.0f, 1.0f}) {
                F3 end = (shape.kind == 'y') ? F3{0, 0.2f, 0} : F3{0.25f, -0.5f, 0.75f};
                F3 start = end, shortEnd = end, normal{0, 0, 0};
                (&end.x)[axis] = side * float(axis + 1);
                (&start.x)[axis] = side * float(axis + 4);
                (&shortEnd.x)[axis] = side * float(axis + 1) * 1.001f;
                (&normal.x)[axis] = side;
                rows.push_back({"ending on a face", shape, start, end, 1.0f, 0, normal});
                rows.push_back({"ending short of a face", shape, start, shortEnd, M, 0, N});
            }
        }
    }
    rows.push_back({"cylinder ending on the side", {'y', 1, 2}, {0, 3, 0}, {0, 1, 0}, 1.0f, 0, {0, 1, 0}});
    rows.push_back({"cylinder ending short of the side", {'y', 1, 2}, {0, 3, 0}, {0, 1.01f, 0}, M, 0, N});
    rows.push_back({"sphere ending on the surface", {'s', 1}, {-3, 0, 0}, {-1, 0, 0}, 1.0f, 0, {-1, 0, 0}});
    rows.push_back(
        {"ellipse ending on the surface", {'e', 2, 1, 0.5f}, {0, 4, 0}, {0, 1, 0}, 1.0f, 0, {0, 1, 0}});
    return rows;
}

TEST(ShapeRayCastCases, PickedSegmentsGiveTheirAnswers) {
    for (const RayRow& row : rayRows()) {
        SCOPED_TRACE(row.what);
        ConvexHolder shape = build(row.shape);
        shape->setUserId(0x80000001u);
        dgContactPoint contact;
        std::memset(static_cast<void*>(&contact), 0x5a, sizeof(contact));
        const float t = shape->rayCast(at(row.p0), at(row.p1), contact, nullptr, nullptr, nullptr);
        if (std::isnan(row.t)) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        if (row.tol == 0.0f) {
            EXPECT_EQ(t, row.t);
        } else {
            EXPECT_NEAR(t, row.t, row.tol);
        }
        EXPECT_NEAR(contact.normal % contact.normal, 1.0f, 1e-5f);
        for (int32_t j = 0; j < 3; j++) {
            if (!std::isnan((&row.normal.x)[j])) {
                EXPECT_NEAR(contact.normal[j], (&row.normal.x)[j],
                            (row.tol == 0.0f) ? 0.0f : std::min(std::max(10.0f * row.tol, 1e-5f), 0.02f))
                    << j;
            }
        }
        EXPECT_EQ(contact.userId, int64_t(0x80000001u));
    }
}

// A direction and the support point it must give (within tol).
struct SupportRow {
    const char* what;
    ShapeRecipe shape;
    F3 direction;
    F3 expected;
    float tol;
};

TEST(ShapeSupportCases, PickedDirectionsGiveTheirPoints) {
    const float y4 = std::sqrt(1.0f - 0.9999f * 0.9999f), y3 = std::sqrt(1.0f - 0.9997f * 0.9997f);
    const float a4 = y4;
    // The chamfer's surface point whose outward normal is u.
    const dgVector u(dgVector(0.3f, -0.5f, 0.7f, 0.0f).scale(1.0f / std::sqrt(0.83f)));
    const float across = std::sqrt(u.y * u.y + u.z * u.z);
    const F3 onRim{0.25f * u.x, (0.25f + 0.75f / across) * u.y, (0.25f + 0.75f / across) * u.z};
    // clang-format off
    const SupportRow rows[] = {
        {"box, zero direction", {'b', 1, 3, 5}, {0, 0, 0}, {0.5f, 1.5f, 2.5f}, 0},
        {"sphere at the +x pole", {'s', 2}, {0.9999f, y4, 0}, {2, 0, 0}, 0},
        {"sphere at the -x pole", {'s', 2}, {-0.9999f, 0, y4}, {-2, 0, 0}, 0},
        {"sphere just off the pole",
         {'s', 2}, {0.9997f, y3, 0}, {2 * 0.9997f, 2 * y3, 0}, 1.5f * 2.0f * 6.28318f / 512.0f},
        {"sphere, zero direction", {'s', 2}, {0, 0, 0}, {0, 0, 2}, 0},
        {"round ellipse, zero direction", {'e', 3, 3, 3}, {0, 0, 0}, {0, 0, 3}, 0},
        {"cone apex", {'k', 1, 2}, {0.5f, 0.866f, 0}, {1, 0, 0}, 0},
        {"cone rim below the apex", {'k', 1, 2}, {0.4f, 0.9165f, 0}, {-1, 1, 0}, 1e-4f},
        {"cone along the axis away from the apex", {'k', 1, 2}, {-1, 0, 0}, {-1, 0, 1}, 0},
        {"cone, zero direction", {'k', 1, 2}, {0, 0, 0}, {-1, 0, 1}, 0},
        {"capsule side", {'c', 1, 4}, {0, 1, 0}, {1, 1, 0}, 2e-6f},
        {"capsule side below", {'c', 1, 4}, {0, -1, 0}, {1, -1, 0}, 2e-6f},
        {"capsule +x pole", {'c', 1, 4}, {0.9999f, a4, 0}, {2, 0, 0}, 0},
        {"capsule -x pole", {'c', 1, 4}, {-0.9999f, 0, a4}, {-2, 0, 0}, 0},
        {"capsule end ball",
         {'c', 1, 4}, {-0.3f, 0, -std::sqrt(0.91f)}, {-1.3f, 0, -std::sqrt(0.91f)}, 1.5f * 6.28318f / 256.0f},
        {"cylinder rim across", {'y', 2, 3}, {0, 0, 1}, {-1.5f, 0, 2}, 0},
        {"cylinder rim", {'y', 2, 3}, {0.1f, 0, 1}, {1.5f, 0, 2}, 0},
        {"chamfer along +x", {'f', 1, 0.5f}, {1, 0, 0}, {0.25f, 0, 0.75f}, 0},
        {"chamfer along -x", {'f', 1, 0.5f}, {-1, 0, 0}, {-0.25f, 0, 0.75f}, 0},
        {"chamfer across", {'f', 1, 0.5f}, {0, 1, 0}, {0, 1, 0}, 0.02f},
        // Near a pole, the rim point toward the direction's azimuth.
        {"chamfer near +x", {'f', 1, 0.5f}, {0.9999f, 0, -a4}, {0.25f, 0, -0.75f}, 1e-6f},
        {"chamfer near -x", {'f', 1, 0.5f}, {-0.9999f, -0.6f * a4, 0.8f * a4}, {-0.25f, -0.45f, 0.6f}, 1e-6f},
        // The length of the direction does not matter.
        {"chamfer, long direction",
         {'f', 1, 0.5f}, {7 * u.x, 7 * u.y, 7 * u.z}, onRim, 1.5f * 6.28318f / 192.0f},
    };
    // clang-format on
    for (const SupportRow& row : rows) {
        SCOPED_TRACE(row.what);
        ConvexHolder shape = build(row.shape);
        const dgVector d(row.direction.x, row.direction.y, row.direction.z, 0.0f);
        const dgVector p(shape->supportVertex(d));
        const dgVector miss(p - at(row.expected));
        EXPECT_LE(std::sqrt(miss % miss), row.tol) << p.x << " " << p.y << " " << p.z;
    }
}

// Sections of a box and of a box hull through corners, along edges, on
// faces and touching: the exact section (integer corners keep every plane
// value exact), counter-clockwise.
TEST(ShapeSectionCases, BoxesThroughCornersEdgesAndFaces) {
    for (const ConvexHolder& shape : {build({'b', 2, 4, 8}), build({'h', 1, 2, 4})}) {
        const dgVector* c = shape->getVertices();
        // The plane through q with normal n (integer corners and normals
        // keep every plane value exact).
        auto expectSection = [&](const dgVector& n, const dgVector& q) {
            // Corners on the plane and crossings of edges whose ends lie on
            // opposite sides.
            std::vector<dgVector> expected;
            auto add = [&expected](const dgVector& p) {
                for (const dgVector& e : expected) {
                    if (((p - e) % (p - e)) < 1e-8f) {
                        return;
                    }
                }
                expected.push_back(p);
            };
            for (int32_t i = 0; i < 8; i++) {
                const double si = dot(toD3(n), toD3(c[i]) - toD3(q));
                if (si == 0.0) {
                    add(c[i]);
                }
                for (int32_t bit = 1; bit < 8; bit <<= 1) {
                    const int32_t j = i | bit;
                    const double sj = dot(toD3(n), toD3(c[j]) - toD3(q));
                    if ((j != i) && (si * sj < 0.0)) {
                        add(point(toD3(c[i]) + (toD3(c[j]) - toD3(c[i])) * (si / (si - sj))));
                    }
                }
            }
            dgVector points[dgPlaneIntersectionMaxPoints];
            const int32_t count = shape->calcPlaneIntersection(n, q, points);
            ASSERT_EQ(count, int32_t(expected.size()))
                << n.x << " " << n.y << " " << n.z << " at " << q.x << " " << q.y << " " << q.z;
            for (const dgVector& e : expected) {
                float nearest = 1e30f;
                for (int32_t i = 0; i < count; i++) {
                    nearest = std::min(nearest, std::sqrt((points[i] - e) % (points[i] - e)));
                }
                EXPECT_LT(nearest, 1e-5f) << e.x << " " << e.y << " " << e.z;
            }
            for (int32_t i = 0; (count >= 3) && (i < count); i++) {
                const dgVector& a = points[i];
                const dgVector& b = points[(i + 1) % count];
                const dgVector& d = points[(i + 2) % count];
                EXPECT_GT(((b - a).cross(d - b)) % n, -1e-5f) << "corner " << i;
            }
        };
        // Every plane through three corners, both ways round.
        for (int32_t i = 0; i < 8; i++) {
            for (int32_t j = i + 1; j < 8; j++) {
                for (int32_t k = j + 1; k < 8; k++) {
                    const dgVector n((c[j] - c[i]).cross(c[k] - c[i]));
                    if ((n % n) > 0.0f) {
                        expectSection(n, c[i]);
                        expectSection(n.scale(-1.0f), c[i]);
                    }
                }
            }
        }
        // Planes through one corner in general directions; touching a
        // corner, an edge and a face, and missing, from either side.
        std::mt19937 rng(9);
        std::uniform_int_distribution<int32_t> pick(-3, 3);
        for (int32_t n = 0; n < 500; n++) {
            const dgVector normal(float(pick(rng)), float(pick(rng)), float(pick(rng)), 0.0f);
            if ((normal % normal) > 0.0f) {
                expectSection(normal, c[n % 8]);
            }
        }
        expectSection(dgVector(1, 1, 1, 0), v3(1, 2, 4));
        expectSection(dgVector(-1, -1, -1, 0), v3(-1, -2, -4));
        expectSection(dgVector(0, 1, 1, 0), v3(0, 2, 4));
        expectSection(dgVector(0, 0, 1, 0), v3(0, 0, 4));
        expectSection(dgVector(0, 0, -1, 0), v3(0, 0, 4));
        expectSection(dgVector(1, 1, 1, 0), v3(1, 2, 4.5f));
    }
}

// A plane and how many points its section has (at least `least`), each
// checked against the kind's rule by the section property; `first` is the
// first point where given.
struct SectionRow {
    const char* what;
    ShapeRecipe shape;
    dgVector normal;
    dgVector point;
    int32_t least;
    int32_t most;
    dgVector first;
};

TEST(ShapeSectionCases, PickedPlanesGiveTheirSections) {
    const dgVector none(M, M, M, 1.0f);
    const dgVector tilted(0.6f, 0, 0.8f, 0);
    const dgVector diagonal(dgVector(1, 1, 0, 0).scale(std::sqrt(0.5f)));
    // clang-format off
    const SectionRow rows[] = {
        {"capsule across through an end centre",
         {'c', 1, 4}, dgVector(1, 0, 0, 0), v3(1, 0, 0), 1, 1, v3(1, 0, 0)},
        {"capsule tilted across an end ball",
         {'c', 1, 4}, tilted, v3(1.5f, 0, 0), 1, 1, v3(1, 0, 0) + tilted.scale(0.3f)},
        {"capsule across the other end ball",
         {'c', 1, 4}, dgVector(-1, 0, 0, 0), v3(-1.5f, 0, 0), 1, 1, v3(-1.5f, 0, 0)},
        {"capsule across the middle", {'c', 1, 4}, dgVector(1, 0, 0, 0), v3(0, 0, 0), 6, 6, none},
        {"capsule beyond a tip", {'c', 1, 4}, dgVector(1, 0, 0, 0), v3(2.5f, 0, 0), 0, 0, none},
        {"capsule beside", {'c', 1, 4}, dgVector(0, 1, 0, 0), v3(0, 1.5f, 0), 0, 0, none},
        {"cone across the axis", {'k', 1, 2}, dgVector(1, 0, 0, 0), v3(0, 0, 0), 8, 8, none},
        {"cylinder across the axis", {'y', 1, 3}, dgVector(1, 0, 0, 0), v3(0.5f, 0, 0), 8, 8, none},
        {"chamfer across the axis", {'f', 1, 0.5f}, dgVector(1, 0, 0, 0), v3(0.1f, 0, 0), 8, 8, none},
        {"chamfer plane in the rim",
         {'f', 1, 0.5f}, dgVector(0, 1, 0, 0), v3(0.05f, 0.9f, 0), 1, 1, v3(0.05f, 0.9f, 0)},
        {"chamfer plane beside", {'f', 1, 0.5f}, dgVector(0, 1, 0, 0), v3(0, 2, 0), 0, 0, none},
        {"chamfer beyond a flat face", {'f', 1, 0.5f}, dgVector(1, 0, 0, 0), v3(0.3f, 0, 0), 0, 0, none},
        // Both extreme points of the core pushed onto a plane through the
        // middle leave the core: a long core cut at a slant, and a flat one.
        {"long chamfer cut deep",
         {'f', 5.5f, 10}, dgVector(0.3f, 0.954f, 0,
         0).scale(1.0f / std::sqrt(0.09f + 0.954f * 0.954f)), v3(0, 0, 0), 4, 12, none},
        {"flat chamfer cut deep", {'f', 1.25f, 0.5f}, tilted, v3(0, 0, 0), 4, 12, none},
        // Just inside the corner of the +x face and the core's side:
        // nearby points merge.
        {"chamfer thin section",
         {'f', 1, 0.5f}, diagonal, point(v3(0.25f, 0.75f, 0) - diagonal.scale(0.03f)), 1, 7, none},
    };
    // clang-format on
    for (const SectionRow& row : rows) {
        SCOPED_TRACE(row.what);
        ConvexHolder shape = build(row.shape);
        dgVector points[dgPlaneIntersectionMaxPoints];
        const int32_t count = shape->calcPlaneIntersection(row.normal, row.point, points);
        EXPECT_GE(count, row.least);
        EXPECT_LE(count, row.most);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((points[i] - row.point) % row.normal, 0.0f, 1e-5f);
        }
        if ((count > 0) && !std::isnan(row.first.x)) {
            const dgVector miss(points[0] - row.first);
            EXPECT_LT(std::sqrt(miss % miss), 1e-5f);
        }
    }
}

// The core's extreme points lie on its end planes for a normal across the
// axis, and pushed onto the plane they stay there: the section must still be
// found, the full length of the core.
TEST(ShapeSectionCases, ChamferPlaneAlongTheAxisCutsTheWholeCore) {
    ConvexHolder shape = build({'f', 1, 0.5f});
    for (float azimuth : {0.0f, 0.7f, 2.0f}) {
        const dgVector n(0.0f, std::cos(azimuth), std::sin(azimuth), 0.0f);
        dgVector points[dgPlaneIntersectionMaxPoints];
        const int32_t count = shape->calcPlaneIntersection(n, point(n.scale(0.2f)), points);
        ASSERT_GE(count, 4) << azimuth;
        float lo = 1e9f, hi = -1e9f;
        for (int32_t i = 0; i < count; i++) {
            lo = std::min(lo, points[i].x);
            hi = std::max(hi, points[i].x);
        }
        EXPECT_NEAR(lo, -0.25f, 1e-5f);
        EXPECT_NEAR(hi, 0.25f, 1e-5f);
    }
}

// Support points of a sphere lie on its angle grid (elevation and azimuth
// multiples of the step), within a cell of the exact point.
TEST(ShapeSupportCases, SpherePointsLieOnTheAngleGrid) {
    for (float r : {0.3f, 1.0f, 5.0f}) {
        ConvexHolder s = build({'s', r});
        const double step = gridStep(r);
        std::mt19937 rng(17);
        for (int32_t n = 0; n < 3000; n++) {
            const dgVector d(randomUnit(rng));
            const dgVector p(s->supportVertex(d));
            if (std::fabs(d.x) > 0.9998f) {
                continue;
            }
            const double elevation = std::asin(double(p.x) / r) / step;
            EXPECT_NEAR(elevation, std::round(elevation), 1e-3);
            // atan2 wraps at pi, which the 6.28318 grid does not reach.
            const double azimuth = std::atan2(double(p.y), double(p.z)) / step;
            const double turn = 2.0 * kPi / step;
            EXPECT_TRUE(std::fabs(azimuth - std::round(azimuth)) < 1e-3 ||
                        std::fabs(azimuth + turn - std::round(azimuth + turn)) < 1e-3)
                << azimuth;
        }
    }
}

// A round ellipse keeps the unit sphere's grid (256 steps), not the one a
// sphere of its radius would take.
TEST(ShapeSupportCases, RoundEllipseUsesTheUnitSphereGrid) {
    ConvexHolder e = build({'e', 3, 3, 3});
    ConvexHolder unit = build({'s', 1});
    std::mt19937 rng(7);
    for (int32_t n = 0; n < 500; n++) {
        const dgVector d(randomUnit(rng));
        const dgVector p(e->supportVertex(d)), u(unit->supportVertex(d));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(p[j], 3.0f * u[j], 1e-5f);
        }
    }
}

// The exact support of a cylinder and the surface point of a chamfer
// cylinder whose normal is a direction.
TEST(ShapeSupportCases, ExactCylinderSupportAndChamferSurfacePoints) {
    std::mt19937 rng(3);
    for (int32_t n = 0; n < 200; n++) {
        const TestShape c = makeShape(Kind::cylinder, rng);
        const TestShape f = makeShape(Kind::chamfer, rng);
        const D3 d = toD3(randomUnit(rng));
        const dgVector exact(
            static_cast<dgCollisionCylinder*>(c.shape.get())->supportVertexExact(direction(d)));
        EXPECT_NEAR(dot(toD3(exact), d), c.support(d), 1e-5 * c.size);
        EXPECT_NEAR(c.bound(toD3(exact)), 0.0, 1e-5 * c.size);
        const auto* chamfered = static_cast<dgCollisionChamferCylinder*>(f.shape.get());
        const D3 q = toD3(chamfered->surfacePoint(direction(d)));
        D3 normal;
        EXPECT_NEAR(f.bound(q), 0.0, 1e-5 * f.size);
        if (smoothNormal(f.bound, q, f.size, normal)) {
            EXPECT_GT(dot(normal, d), 0.99999);
        }
        const D3 core = toD3(chamfered->coreSupport(direction(d)));
        EXPECT_NEAR(dot(core, d),
                    chamfered->getHalfHeight() * std::fabs(d.x) +
                        chamfered->getCoreRadius() * length(D3{0, d.y, d.z}),
                    1e-5 * f.size);
    }
}

// The grid's tabulated sines and cosines are the floats the snapped angle's
// own sin and cos give, for every step count the radii can make and every
// azimuth and elevation a direction can snap to (the ends +-pi included).
TEST(ShapeSizes, GridTablesGiveTheSnappedAnglesSinesBitForBit) {
    std::mt19937 rng(26);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int32_t n = 127; n <= 1025; n++) {
        const dgAngleStep grid(float(n) / 256.0f);
        std::vector<float> angles = {3.14159265f, -3.14159265f, 1.5707964f, -1.5707964f, 0.0f};
        for (int32_t i = 0; i < 40; i++) {
            angles.push_back(std::atan2(unit(rng), unit(rng)));
            angles.push_back(std::asin(unit(rng)));
        }
        for (const float angle : angles) {
            const float snapped = std::floor(angle * grid.m_invStep) * grid.m_step;
            float sine = 0.0f;
            float cosine = 0.0f;
            grid.cellSinCos(grid.snappedCell(angle), sine, cosine);
            const float expected[2] = {std::sin(snapped), std::cos(snapped)};
            const float got[2] = {sine, cosine};
            ASSERT_EQ(std::memcmp(expected, got, sizeof(got)), 0) << n << " " << angle;
        }
    }
}

// The sizes each kind derives from the ones it is given.
TEST(ShapeSizes, DerivedSizesAndGridSteps) {
    const float step = 6.28318f;
    EXPECT_EQ(as<dgCollisionSphere>(build({'s', 2}))->getAngleStep().m_step, step / 512.0f);
    const dgAngleStep grid(0.4f);
    EXPECT_FLOAT_EQ(grid.m_invStep, 128.0f / step);
    EXPECT_FLOAT_EQ(grid.m_cos, std::cos(step / 128.0f));
    EXPECT_FLOAT_EQ(grid.m_sin, std::sin(step / 128.0f));
    // An ellipse is the unit sphere stretched, with its grid.
    ConvexHolder e = build({'e', -1, 2, -3});
    const auto* ellipsoid = static_cast<dgCollisionEllipse*>(e.get());
    EXPECT_EQ(ellipsoid->getRadius(), 1.0f);
    EXPECT_EQ(ellipsoid->getAngleStep().m_step, step / 256.0f);
    EXPECT_EQ(ellipsoid->getRadii().z, 3.0f);
    EXPECT_FLOAT_EQ(ellipsoid->getInverseRadii().z, 1.0f / 3.0f);
    // The cone's half angle, also for sizes of zero.
    const auto sinHalfAngle = [](float r, float h) {
        return as<dgCollisionCone>(build({'k', r, h}))->getSinHalfAngle();
    };
    EXPECT_FLOAT_EQ(sinHalfAngle(-1.5f, -4.0f), 1.5f / std::sqrt(1.5f * 1.5f + 16.0f));
    EXPECT_EQ(sinHalfAngle(1.0f, 0.0f), 1.0f);
    EXPECT_EQ(sinHalfAngle(0.0f, 2.0f), 0.0f);
    EXPECT_EQ(sinHalfAngle(0.0f, 0.0f), 0.0f);
    EXPECT_EQ(as<dgCollisionCone>(build({'k', -1.5f, -4.0f}))->getAngleStep().m_step, step / 384.0f);
    // A capsule's straight part never drops below 0.05.
    const auto halfLength = [](float r, float h) {
        return as<dgCollisionCapsule>(build({'c', r, h}))->getHalfLength();
    };
    EXPECT_EQ(halfLength(1.0f, 2.0f), 0.05f);
    EXPECT_EQ(halfLength(1.0f, 2.1f), 0.05f);
    EXPECT_EQ(halfLength(1.0f, 0.5f), 0.05f);
    EXPECT_EQ(halfLength(-0.5f, -3.0f), 1.0f);
    EXPECT_EQ(as<dgCollisionCapsule>(build({'c', -0.5f, -3.0f}))->getAngleStep().m_step, step / 128.0f);
    // A cylinder's grid follows its radius.
    EXPECT_EQ(as<dgCollisionCylinder>(build({'y', -2, -3}))->getAngleStep().m_step, step / 512.0f);
    EXPECT_EQ(as<dgCollisionCylinder>(build({'y', 0.2f, 1}))->getAngleStep().m_step, step / 128.0f);
    // A chamfer cylinder's core radius is at least 0.1 (0.3 - 0.5 is not),
    // and its grid follows the core.
    const auto core = [](float r, float h) {
        return as<dgCollisionChamferCylinder>(build({'f', r, h}))->getCoreRadius();
    };
    EXPECT_EQ(core(1.0f, 0.5f), 0.75f);
    EXPECT_EQ(core(-0.3f, -1.0f), 0.1f);
    EXPECT_EQ(core(0.55f, 1.0f), 0.1f);
    EXPECT_FLOAT_EQ(core(0.65f, 1.0f), 0.15f);
    EXPECT_EQ(core(0.3f, 1.0f), core(0.35f, 1.0f));
    EXPECT_EQ(as<dgCollisionChamferCylinder>(build({'f', 1, 0.5f}))->getAngleStep().m_step, step / 192.0f);
}

// Ellipses and spheres share the sphere's tables: the last of either kind
// takes them.
TEST(ShapeTables, SphereTablesGoWithTheLastShapeOfEitherKind) {
    ASSERT_EQ(dgCollisionSphere::dgSphereLiveCount(), 0);
    {
        ConvexHolder a = build({'e', 1, 2, 3});
        {
            ConvexHolder s = build({'s', 2});
            EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 2);
        }
        EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 1);
        EXPECT_EQ(a->getEdges(), dgCollisionSphere::dgSphereEdgeTable());
    }
    EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 0);
    EXPECT_EQ(dgCollisionSphere::dgSphereEdgeTable(), nullptr);
}

// The world's contact point: a unit sphere without volume or extent.
TEST(ShapeSizes, PointIsAUnitSphereWithoutVolumeOrExtent) {
    ConvexHolder p = ConvexHolder::adopt(new dgCollisionPoint());
    EXPECT_EQ(static_cast<dgCollisionPoint*>(p.get())->getRadius(), 1.0f);
    EXPECT_EQ(p->getVolume(), 0.0f);
    dgVector inertia(5, 5, 5, 6), origin(5, 5, 5, 7);
    p->calcInertia(inertia, origin);
    EXPECT_EQ(inertia % inertia, 0.0f);
    EXPECT_EQ(origin % origin, 0.0f);
    EXPECT_EQ(inertia.w, 6.0f);
    EXPECT_EQ(origin.w, 7.0f);
    std::mt19937 rng(41);
    for (int32_t n = 0; n < 50; n++) {
        const dgVector s(p->supportVertex(randomUnit(rng)));
        EXPECT_EQ(s % s, 0.0f);
    }
    // Everything else is the unit sphere's.
    dgContactPoint contact;
    EXPECT_FLOAT_EQ(p->rayCast(v3(0, -3, 0), v3(0, 3, 0), contact, nullptr, nullptr, nullptr), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(contact.normal.y, -1.0f);
    dgVector lo, hi;
    p->calcAABB(translation(1, 1, 1), lo, hi);
    EXPECT_EQ(lo.x, 0.0f);
    EXPECT_EQ(hi.z, 2.0f);
}

// A null shape takes no room: its box is the matrix's origin, nothing hits
// or touches it, and it weighs nothing.
TEST(ShapeSizes, NullShapeTakesNoRoom) {
    ConvexHolder shape = ConvexHolder::adopt(new dgCollisionNull(0xABCD1234u));
    EXPECT_EQ(shape->getVertexCount(), 0);
    EXPECT_EQ(shape->getVertices(), nullptr);
    EXPECT_EQ(shape->getEdges(), nullptr);
    shape->setUserId(77u);
    EXPECT_EQ(shape->getUserId(), 77u);
    dgMatrix m(dgRotationMatrixY(0.9f));
    m.position = dgVector(3.0f, 4.0f, 5.0f, 0.5f);
    dgVector lo, hi;
    shape->calcAABB(m, lo, hi);
    EXPECT_EQ(std::memcmp(&lo, &hi, sizeof(lo)), 0);
    EXPECT_EQ(lo.x, 3.0f);
    EXPECT_EQ(lo.z, 5.0f);
    EXPECT_EQ(lo.w, 1.0f);
    dgContactPoint contact;
    std::memset(static_cast<void*>(&contact), 0x3c, sizeof(contact));
    const dgContactPoint before(contact);
    EXPECT_EQ(shape->rayCast(v3(0, 0, 0), v3(0, 0, 0), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(shape->rayCast(v3(-1, 0, 0), v3(1, 0, 0), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(std::memcmp(&contact, &before, sizeof(contact)), 0);
    int32_t faces = 0;
    EXPECT_EQ(walkFaces(*shape, dgGetIdentityMatrix(), &faces).size(), 0u);
    EXPECT_EQ(faces, 0);
    EXPECT_EQ(shape->getVolume(), 0.0f);
    dgVector inertia(1, 2, 3, 4), origin(5, 6, 7, 8);
    shape->calcInertia(inertia, origin);
    EXPECT_EQ(inertia % inertia, 0.0f);
    EXPECT_EQ(origin % origin, 0.0f);
    EXPECT_EQ(inertia.w, 4.0f);
    EXPECT_EQ(origin.w, 8.0f);
    Fluid fluid{dgPlane(0, 1, 0, 0), 0, 0};
    const dgVector wet(shape->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, &fluid));
    EXPECT_EQ(wet % wet + wet.w, 0.0f);
    // Nothing calls these on a null shape; they stay harmless.
    const dgVector support(shape->supportVertex(dgVector(1, 0, 0, 0)));
    EXPECT_EQ(support % support, 0.0f);
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(shape->calcPlaneIntersection(dgVector(0, 1, 0, 0), v3(0, 0, 0), points), 0);
    EXPECT_EQ(shape->getModifierMatrix().position.w, 1.0f);
}

// Shaped like the vehicle's tire: no class name of its own, every operation
// overridden by calling the chamfer cylinder's, which it answers the same as
// a plain chamfer cylinder; its volume and inertia go through its walk.
class TireLike : public dgCollisionChamferCylinder {
public:
    TireLike(float radius, float height, uint32_t userId)
        : dgCollisionChamferCylinder(1u, radius, height, dgGetIdentityMatrix()) {
        setFlagBits(dgShapeFlagOffset);
        setUserId(userId);
    }
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override {
        calls++;
        dgCollisionChamferCylinder::calcAABB(matrix, boxMin, boxMax);
    }
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override {
        calls++;
        return dgCollisionChamferCylinder::forEachPolygon(body, callback);
    }
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override {
        calls++;
        return dgCollisionChamferCylinder::rayCast(p0, p1, contact, prefilter, body, userData);
    }
    dgVector supportVertex(const dgVector& direction) const override {
        calls++;
        return dgCollisionChamferCylinder::supportVertex(direction);
    }
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override {
        calls++;
        return dgCollisionChamferCylinder::calcPlaneIntersection(normal, point, points);
    }
    mutable int32_t calls = 0;
};

TEST(ShapeSizes, DerivedTireShapeReusesTheOperations) {
    ConvexHolder plain = build({'f', 0.45f, 0.2f});
    dgRefHolder<TireLike> tire = dgRefHolder<TireLike>::adopt(new TireLike(0.45f, 0.2f, 0x1234u));
    EXPECT_EQ(tire->getClassId(), dgCollisionChamferCylinder::kClassId);
    EXPECT_TRUE(tire->hasOffset());
    EXPECT_EQ(tire->getUserId(), 0x1234u);
    EXPECT_EQ(tire->calcSignature(), plain->calcSignature());
    const dgCollision* shape = tire.operator->();
    dgVector lo0, hi0, lo1, hi1;
    const dgMatrix m(turned(0.3f, 0.2f, 0.1f, v3(1, 2, 3)));
    shape->calcAABB(m, lo0, hi0);
    plain->calcAABB(m, lo1, hi1);
    EXPECT_EQ(std::memcmp(&hi0, &hi1, sizeof(hi0)), 0);
    dgContactPoint c0, c1;
    EXPECT_EQ(shape->rayCast(v3(0, 2, 0), v3(0, -2, 0), c0, nullptr, nullptr, nullptr),
              plain->rayCast(v3(0, 2, 0), v3(0, -2, 0), c1, nullptr, nullptr, nullptr));
    EXPECT_EQ(c0.userId, int64_t(0x1234u));
    const dgVector d(0.2f, 0.5f, -0.3f, 0.0f);
    const dgVector s0(tire->supportVertex(d)), s1(plain->supportVertex(d));
    EXPECT_EQ(std::memcmp(&s0, &s1, sizeof(s0)), 0);
    dgVector out0[dgPlaneIntersectionMaxPoints], out1[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(tire->calcPlaneIntersection(dgVector(0.6f, 0.8f, 0, 0), v3(0, 0, 0), out0),
              plain->calcPlaneIntersection(dgVector(0.6f, 0.8f, 0, 0), v3(0, 0, 0), out1));
    EXPECT_EQ(walkFaces(*shape, dgGetIdentityMatrix()).size(), size_t(12 * 24 + 2));
    EXPECT_NEAR(tire->getVolume(), plain->getVolume(), 1e-7f);
    EXPECT_GE(tire->calls, 6);
    // Another tire weighed and released gives every block back.
    MemoryBalance balance;
    dgRefHolder<TireLike> other = dgRefHolder<TireLike>::adopt(new TireLike(0.4f, 0.2f, 1u));
    dgVector inertia, origin;
    other->calcInertia(inertia, origin);
    EXPECT_GT(balance.liveBlocks(), 0);
}

// ---- mass: the reported cases and the limits ----

// Capsules far thinner than long, moved off the origin: the walk's moments
// in double, tetrahedra about one of its points, on every axis, about the
// axis too (a capsule of radius 1e-6 and length 1 once weighed -1.6e-11
// there). Turned, a radius below the float grain of the placed walk leaves
// no capsule to weigh; 0.01 still does.
TEST(ShapeMassCases, ThinCapsulesWeighTheirWalkOnEveryAxis) {
    std::mt19937 rng(77);
    for (const float radius : {1.0e-6f, 1.0e-4f, 0.01f}) {
        for (const float height : {0.1f, 1.0f, 10.0f}) {
            for (const bool turn : {false, true}) {
                if (turn && (radius < 0.01f)) {
                    continue;
                }
                dgMatrix pose(randomPose(rng, 1.0f));
                if (!turn) {
                    pose = translation(pose.position.x, pose.position.y, pose.position.z);
                }
                ConvexHolder capsule = ConvexHolder::adopt(new dgCollisionCapsule(1u, radius, height, pose));
                const Mass e = walkedMass(*capsule);
                dgVector inertia, origin;
                capsule->calcInertia(inertia, origin);
                const double scale = std::max({inertiaOf(e, 0), inertiaOf(e, 1), inertiaOf(e, 2)});
                SCOPED_TRACE(testing::Message()
                             << "radius " << radius << " height " << height << " " << turn);
                for (int32_t j = 0; j < 3; j++) {
                    EXPECT_GT(inertia[j], 0.0f);
                    EXPECT_NEAR(inertia[j], inertiaOf(e, j), 1e-4 * scale) << "axis " << j;
                    EXPECT_NEAR(origin[j], e.centre[j], 1e-5 * height);
                }
                // About the axis of a long one: r^2 / 2 times the share of
                // the true disc the walk's 16-gon keeps, to 4 %.
                const double axial = 0.5 * double(radius) * radius;
                if (!turn && (height >= 100.0f * radius)) {
                    EXPECT_NEAR(inertia.x, axial, 0.04 * axial);
                }
            }
        }
    }
}

TEST(ShapeMassCases, FarAndSmallBoxesKeepTheirClosedForms) {
    // A 1 x 2 x 3 box at (1000, 500, 0) has the inertia of the box at the
    // origin; a 5 cm box is not weighed as a larger one.
    ConvexHolder far =
        ConvexHolder::adopt(new dgCollisionBox(1u, 1, 2, 3, translation(1000.0f, 500.0f, 0.0f)));
    dgVector inertia, origin;
    far->calcInertia(inertia, origin);
    EXPECT_NEAR(origin.x, 1000.0f, 1e-3f);
    EXPECT_NEAR(origin.y, 500.0f, 1e-3f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-3f);
    EXPECT_NEAR(inertia.x, (4.0f + 9.0f) / 12.0f, 1e-4f);
    EXPECT_NEAR(inertia.y, (1.0f + 9.0f) / 12.0f, 1e-4f);
    EXPECT_NEAR(inertia.z, (1.0f + 4.0f) / 12.0f, 1e-4f);
    ConvexHolder small =
        ConvexHolder::adopt(new dgCollisionBox(1u, 0.05f, 0.05f, 0.05f, translation(0.5f, 0.0f, 0.0f)));
    small->calcInertia(inertia, origin);
    EXPECT_NEAR(origin.x, 0.5f, 1e-6f);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(inertia[j], 0.05f * 0.05f / 6.0f, 1e-8f);
    }
    EXPECT_NEAR(small->getVolume(), 1.25e-4f, 1e-9f);
}

// Hulls a million units out and a tenth of a millimetre across weigh like
// their faces, under a fluid too.
TEST(ShapeMassCases, FarAndTinyHullsWeighLikeTheirFaces) {
    std::mt19937 rng(5);
    ConvexHolder far = farHull(rng, 1.0f, dgVector(1.0e6f, 1.0e6f, 1.0e6f, 1.0f));
    const Mass e = walkedMass(*far);
    EXPECT_NEAR(far->getVolume(), e.volume, 1e-4 * e.volume);
    EXPECT_NEAR(far->getCentreOfMass().w, e.volume, 1e-4 * e.volume);
    dgVector inertia, origin;
    far->calcInertia(inertia, origin);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(origin[j], e.centre[j], 0.07);
        EXPECT_NEAR(inertia[j], inertiaOf(e, j), 1e-3 * inertiaOf(e, j));
    }
    std::uniform_real_distribution<float> reach(0.0f, 1.0f);
    for (int32_t trial = 0; trial < 400; trial++) {
        const dgVector d(randomUnit(rng));
        const float distance = reach(rng);
        ConvexHolder hull =
            farHull(rng, 2.0e-4f, dgVector(d.x * distance, d.y * distance, d.z * distance, 1.0f));
        const Mass m = walkedMass(*hull);
        ASSERT_GT(m.volume, 0.0);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " at " << distance);
        const double tol = 1.0e-4 + 8.0 * double(distance) * double(FLT_EPSILON) / 2.0e-4;
        EXPECT_NEAR(hull->getVolume(), m.volume, tol * m.volume);
        EXPECT_NEAR(hull->getCentreOfMass().w, m.volume, tol * m.volume);
        hull->calcInertia(inertia, origin);
        const dgVector wet(hull->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr));
        EXPECT_NEAR(wet.w, m.volume, tol * m.volume);
        const double scale = std::max(inertiaOf(m, 0), std::max(inertiaOf(m, 1), inertiaOf(m, 2)));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_GT(inertia[j], 0.0f);
            EXPECT_NEAR(inertia[j], inertiaOf(m, j), tol * scale);
            EXPECT_NEAR(origin[j], m.centre[j], 2e-4 * tol + 2.0 * FLT_EPSILON);
            EXPECT_NEAR(wet[j], m.centre[j], 2e-4 * tol + 2.0 * FLT_EPSILON);
        }
    }
}

bool finiteMass(const dgCollision& shape) {
    dgVector inertia(0, 0, 0, 0), origin(0, 0, 0, 0);
    shape.calcInertia(inertia, origin);
    bool finite = std::isfinite(shape.getVolume());
    for (int32_t j = 0; j < 3; j++) {
        finite = finite && std::isfinite(inertia[j]) && std::isfinite(origin[j]);
    }
    return finite;
}

TEST(ShapeMassCases, HugeHullsAreWeighedOrRefusedNeverNaN) {
    // A cube of half extent 1e9: volume 8e27 and inertia 6.7e17 are floats.
    for (int32_t e = 0; e <= 19; e++) {
        const float h = std::pow(10.0f, float(e));
        std::vector<float> cloud;
        for (int32_t i = 0; i < 8; i++) {
            cloud.insert(cloud.end(), {(i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? h : -h});
        }
        dgRefHolder<dgCollisionConvexHull> hull =
            dgRefHolder<dgCollisionConvexHull>::adopt(new dgCollisionConvexHull(
                1u, 8, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix()));
        SCOPED_TRACE(testing::Message() << "half extent " << h);
        EXPECT_TRUE(finiteMass(*hull));
        EXPECT_TRUE(std::isfinite(hull->getCentreOfMass().w));
        // Under a fluid a quarter of the way down from the top: three
        // quarters of the cube, its centroid a quarter of the way down.
        Fluid fluid{dgPlane(0.0f, 1.0f, 0.0f, -0.5f * h), 0, 0};
        const dgVector wet(hull->calcSubmergedVolume(dgGetIdentityMatrix(), fluidPlane, &fluid));
        for (int32_t j = 0; j < 4; j++) {
            EXPECT_TRUE(std::isfinite(wet[j])) << j;
        }
        if (hull->getFaceCount() > 0) {
            const double h3 = double(h) * double(h) * double(h);
            EXPECT_NEAR(wet.w, 6.0 * h3, 1e-5 * 6.0 * h3);
            EXPECT_NEAR(wet.y, -0.25 * double(h), 1e-5 * double(h));
        }
        if (e <= 9) {
            ASSERT_EQ(hull->getVertexCount(), 8);
            const double volume = 8.0 * double(h) * double(h) * double(h);
            EXPECT_NEAR(hull->getVolume(), volume, 1e-5 * volume);
            dgVector inertia, origin;
            hull->calcInertia(inertia, origin);
            EXPECT_NEAR(inertia.x, 2.0 / 3.0 * double(h) * double(h), 1e-5 * double(h) * double(h));
        }
    }
}

TEST(ShapeMassCases, ModifierRefusesADeformationNoFloatCanWeigh) {
    ConvexHolder unit = build({'b', 1, 1, 1});
    dgRefHolder<dgCollisionConvexModifier> modifier =
        dgRefHolder<dgCollisionConvexModifier>::adopt(new dgCollisionConvexModifier(unit.get(), nullptr));
    dgMatrix huge(dgGetIdentityMatrix());
    huge.front.x = 1.0e20f;
    modifier->setModifierMatrix(huge);
    EXPECT_EQ(modifier->getModifierMatrix().front.x, 1.0f);
    EXPECT_TRUE(finiteMass(*modifier));
    // Any scale or shear from 1 to 1e25: accepted with finite answers, or
    // refused with the previous matrix kept.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> exponent(0.0f, 25.0f);
    std::uniform_int_distribution<int32_t> entry(0, 8);
    for (int32_t n = 0; n < 300; n++) {
        dgMatrix m(dgGetIdentityMatrix());
        const int32_t k = entry(rng);
        m[k / 3][k % 3] = std::pow(10.0f, exponent(rng));
        const dgMatrix before(modifier->getModifierMatrix());
        modifier->setModifierMatrix(m);
        const dgMatrix after(modifier->getModifierMatrix());
        const bool kept = (std::memcmp(&after, &m, sizeof(dgMatrix)) == 0);
        EXPECT_TRUE(kept || (std::memcmp(&after, &before, sizeof(dgMatrix)) == 0));
        ASSERT_TRUE(finiteMass(*modifier)) << "entry " << k << " value " << m[k / 3][k % 3];
    }
}

}  // namespace
