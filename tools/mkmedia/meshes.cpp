// The game's models: ships, cockpit, torpedo, station with its doors, debris,
// the shock-wave ring and the light beam, each with a painted texture beside
// it. Units are metres, +y up, the nose along +z; every hull is a union of
// closed, outward-facing shells, so the cockpit camera inside the player's
// hull sees none of it.
#include "MediaOut.h"
#include "MeshBuilder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace mkmedia {

namespace {

const double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------- textures

struct Rgb {
    double r, g, b;
};

// Tileable value noise: a random lattice, smoothly interpolated, wrapping.
class Noise {
public:
    Noise(Random& random, int cells) : cells(cells), lattice(static_cast<size_t>(cells) * cells) {
        for (double& v : lattice) {
            v = random.uniform();
        }
    }
    // x, y in [0, 1) of the tile.
    double at(double x, double y) const {
        const double fx = x * cells, fy = y * cells;
        const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
        const double tx = smooth(fx - x0), ty = smooth(fy - y0);
        const double a = cell(x0, y0), b = cell(x0 + 1, y0), c = cell(x0, y0 + 1), d = cell(x0 + 1, y0 + 1);
        return (a + (b - a) * tx) * (1.0 - ty) + (c + (d - c) * tx) * ty;
    }

private:
    static double smooth(double t) { return t * t * (3.0 - 2.0 * t); }
    double cell(int x, int y) const {
        const int cx = ((x % cells) + cells) % cells, cy = ((y % cells) + cells) % cells;
        return lattice[static_cast<size_t>(cy) * cells + cx];
    }
    int cells;
    std::vector<double> lattice;
};

uint8_t clampByte(double v) {
    return static_cast<uint8_t>(std::min(255.0, std::max(6.0, v)));
}

struct HullStyle {
    Rgb base;
    Rgb glow;
    int panel;       // pixels per panel cell
    int glowStrips;  // lit strips (windows, running lights)
    double grime;    // 0..1 darkening streaks
};

// Plated metal: mottled base, panels of slightly different tone, recessed
// seams with a lit edge, rivet rows, grime streaks and a few glowing strips.
Image paintHull(uint64_t seed, int size, const HullStyle& style) {
    Random random(seed);
    Noise coarse(random, 4), medium(random, 16), streaks(random, 32);
    const int panels = size / style.panel;
    std::vector<double> panelTone(static_cast<size_t>(panels) * panels);
    for (double& t : panelTone) {
        t = random.range(0.88, 1.1);
    }
    Image image(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double u = static_cast<double>(x) / size, v = static_cast<double>(y) / size;
            const int px = x / style.panel, py = y / style.panel;
            const int ix = x % style.panel, iy = y % style.panel;
            double shade = 0.7 + 0.25 * coarse.at(u, v) + 0.12 * medium.at(u, v);
            shade *= panelTone[static_cast<size_t>(py) * panels + px];
            shade *= 1.0 - style.grime * 0.35 * std::pow(streaks.at(u * 0.25, v), 2.0);
            if (ix == 0 || iy == 0) {
                shade *= 0.45;  // seam
            } else if (ix == 1 || iy == 1) {
                shade *= 1.18;  // lit lip of the seam
            } else if ((ix == 3 || iy == 3) && ((x + y) % 6 == 0)) {
                shade *= 0.7;  // rivet
            }
            shade += random.range(-0.03, 0.03);
            image.set(x, y, clampByte(style.base.r * shade), clampByte(style.base.g * shade),
                      clampByte(style.base.b * shade));
        }
    }
    for (int s = 0; s < style.glowStrips; ++s) {
        const int px = static_cast<int>(random.uniform() * panels),
                  py = static_cast<int>(random.uniform() * panels);
        const int x0 = px * style.panel + 4, x1 = (px + 1) * style.panel - 4;
        const int yc = py * style.panel + style.panel / 2;
        for (int y = yc - 4; y <= yc + 4; ++y) {
            for (int x = x0 - 2; x <= x1 + 2; ++x) {
                const int dy = y - yc;
                const int dx = x < x0 ? x0 - x : (x > x1 ? x - x1 : 0);
                const double w = std::exp(-0.35 * (dy * dy + dx * dx));
                uint8_t* p = image.at(((x % size) + size) % size, ((y % size) + size) % size);
                p[0] = clampByte(p[0] + style.glow.r * w);
                p[1] = clampByte(p[1] + style.glow.g * w);
                p[2] = clampByte(p[2] + style.glow.b * w);
            }
        }
    }
    return image;
}

// A soft band across v (v = 0 at the inner edge or the beam's source): the
// additive materials add it to the scene, black adding nothing.
Image paintGlow(uint64_t seed, int size, const Rgb& colour, bool ring) {
    Random random(seed);
    Noise wisps(random, 8);
    Image image(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double u = static_cast<double>(x) / size, v = (y + 0.5) / size;
            double w;
            if (ring) {
                const double d = (v - 0.55) / 0.28;
                w = std::exp(-d * d) * (0.75 + 0.35 * wisps.at(u, v));
            } else {
                w = std::pow(1.0 - v, 1.6) * (0.8 + 0.3 * wisps.at(u, v * 0.5));
            }
            image.set(x, y, clampByte(colour.r * w), clampByte(colour.g * w), clampByte(colour.b * w));
        }
    }
    return image;
}

// ---------------------------------------------------------------- models

Ring rectRing(double cx, double cy, double z, double hx, double hy) {
    return {{cx - hx, cy - hy, z}, {cx + hx, cy - hy, z}, {cx + hx, cy + hy, z}, {cx - hx, cy + hy, z}};
}

// Fuselage rings from a profile (z, half width, half height, centre height).
struct ProfileStep {
    double z, rx, ry, cy;
};

Shell fuselage(const std::vector<ProfileStep>& profile, double exponent, int segments) {
    std::vector<Ring> rings;
    for (const ProfileStep& s : profile) {
        if (s.rx <= 0.0) {
            rings.push_back({{0.0, s.cy, s.z}});
        } else {
            rings.push_back(superEllipse(0.0, s.cy, s.z, s.rx, s.ry, exponent, segments));
        }
    }
    Shell shell = loft(rings);
    shell.creaseDegrees = 50.0;
    return shell;
}

std::vector<Vec3> mirrorX(const std::vector<Vec3>& outline) {
    std::vector<Vec3> mirrored;
    for (auto it = outline.rbegin(); it != outline.rend(); ++it) {
        mirrored.push_back({-it->x, it->y, it->z});
    }
    return mirrored;
}

std::vector<Vec3> mirrorY(const std::vector<Vec3>& outline) {
    std::vector<Vec3> mirrored;
    for (auto it = outline.rbegin(); it != outline.rend(); ++it) {
        mirrored.push_back({it->x, -it->y, it->z});
    }
    return mirrored;
}

// Scout, 6 x 3 x 10. The fuselage is convex and holds the cockpit eye
// (0, 0, 3), and so does the canopy; everything else lies behind z = 4,
// inside the near plane, so the pilot never sees his own craft.
MeshModel scout() {
    MeshModel m;
    const double uv = 0.35;
    m.add(fuselage({{-4.7, 0.0, 0.0, 0.0},
                    {-4.5, 0.45, 0.35, 0.0},
                    {-3.5, 0.9, 0.7, 0.0},
                    {-2.0, 1.15, 0.9, 0.0},
                    {0.0, 1.25, 1.0, 0.0},
                    {2.0, 1.15, 0.95, 0.0},
                    {3.4, 0.9, 0.75, 0.0},
                    {4.3, 0.55, 0.45, 0.0},
                    {4.9, 0.0, 0.0, 0.0}},
                   2.6, 16),
          uv);
    m.add(ellipsoid({0.0, 0.5, 2.0}, {0.65, 0.85, 1.6}, 16, 8), uv);
    const std::vector<Vec3> wing = {{0.8, 0.0, 0.6}, {2.95, 0.0, -1.4}, {2.95, 0.0, -2.6}, {0.8, 0.0, -2.4}};
    m.add(finY(wing, 0.07, {0.0, -0.2, 0.0}), uv);
    m.add(finY(mirrorX(wing), 0.07, {0.0, -0.2, 0.0}), uv);
    m.add(finX({{0.0, 0.5, -1.9}, {0.0, 1.45, -4.0}, {0.0, 1.45, -4.55}, {0.0, 0.5, -4.3}}, 0.06, {}), uv);
    for (double side : {-1.0, 1.0}) {
        m.add(cylinderZ({side * 1.35, -0.35, -2.8}, 0.38, 0.38, 1.6, 12), uv);
        m.add(finX({{0.0, -0.4, 0.0}, {0.0, -0.4, -1.5}, {0.0, -1.45, -1.9}, {0.0, -1.45, -1.2}}, 0.05,
                   {side * 0.6, 0.0, 0.0}),
              uv);
    }
    return m;
}

// First bomber, 8 x 3 x 10: a flat manta body with a broad delta wing.
MeshModel bomber1() {
    MeshModel m;
    const double uv = 0.3;
    m.add(fuselage({{-4.8, 0.0, 0.0, 0.0},
                    {-4.4, 0.9, 0.35, 0.0},
                    {-2.5, 1.6, 0.75, 0.0},
                    {0.5, 1.7, 0.85, 0.1},
                    {3.0, 1.3, 0.7, 0.1},
                    {4.4, 0.7, 0.4, 0.0},
                    {4.9, 0.0, 0.0, 0.0}},
                   3.0, 16),
          uv);
    m.add(finY({{1.2, 0.0, 2.8}, {3.95, 0.0, -2.8}, {3.95, 0.0, -4.0}, {1.2, 0.0, -3.6}}, 0.12,
               {0.0, 0.0, 0.0}),
          uv);
    m.add(finY({{-1.2, 0.0, -3.6}, {-3.95, 0.0, -4.0}, {-3.95, 0.0, -2.8}, {-1.2, 0.0, 2.8}}, 0.12, {}), uv);
    m.add(ellipsoid({0.0, -0.75, 0.0}, {0.8, 0.6, 2.6}, 12, 8), uv);
    m.add(ellipsoid({0.0, 0.75, 1.6}, {0.7, 0.6, 1.5}, 12, 8), uv);
    for (double side : {-1.0, 1.0}) {
        m.add(cylinderZ({side * 2.5, -0.55, -1.6}, 0.45, 0.45, 2.0, 12), uv);
        m.add(finX({{0.0, 0.3, -2.2}, {0.0, 1.45, -3.8}, {0.0, 1.45, -4.5}, {0.0, 0.3, -4.3}}, 0.07,
                   {side * 1.3, 0.0, 0.0}),
              uv);
    }
    return m;
}

// Second bomber, 36 x 10 x 16: a heavy hull, long wings, four engines.
MeshModel bomber2() {
    MeshModel m;
    const double uv = 0.12;
    m.add(fuselage({{-7.8, 0.0, 0.0, 0.3},
                    {-7.4, 1.6, 1.6, 0.3},
                    {-5.0, 3.0, 2.8, 0.0},
                    {0.0, 3.4, 3.2, 0.0},
                    {4.5, 3.0, 2.8, 0.0},
                    {6.8, 2.0, 1.8, -0.2},
                    {7.7, 0.9, 0.8, -0.3},
                    {7.95, 0.0, 0.0, -0.3}},
                   3.0, 16),
          uv);
    m.add(ellipsoid({0.0, 2.6, 4.2}, {1.6, 1.2, 2.4}, 14, 8), uv);
    m.add(ellipsoid({0.0, -3.2, 0.5}, {1.3, 1.0, 1.3}, 12, 6), uv);
    const std::vector<Vec3> wing = {{2.5, 0.0, 3.0}, {17.8, 0.0, -0.5}, {17.8, 0.0, -3.0}, {2.5, 0.0, -3.5}};
    m.add(finY(wing, 0.35, {0.0, -0.3, 0.0}), uv);
    m.add(finY(mirrorX(wing), 0.35, {0.0, -0.3, 0.0}), uv);
    for (double x : {-12.0, -7.0, 7.0, 12.0}) {
        m.add(cylinderZ({x, -1.3, 0.2}, 1.1, 1.1, 3.2, 12), uv);
        m.add(ellipsoid({x, -1.3, 3.3}, {1.0, 1.0, 0.9}, 12, 4), uv);
    }
    m.add(finX({{0.0, 2.0, -3.5}, {0.0, 4.9, -6.4}, {0.0, 4.9, -7.9}, {0.0, 2.0, -7.4}}, 0.25, {}), uv);
    const std::vector<Vec3> tail = {{1.5, 0.0, -5.5}, {6.5, 0.0, -7.0}, {6.5, 0.0, -7.9}, {1.5, 0.0, -7.6}};
    m.add(finY(tail, 0.2, {0.0, 0.8, 0.0}), uv);
    m.add(finY(mirrorX(tail), 0.2, {0.0, 0.8, 0.0}), uv);
    return m;
}

// Torpedo, 0.5 x 0.5 x 2: a round body with an ogive nose and cross fins.
MeshModel torpedo() {
    MeshModel m;
    const double uv = 2.0;
    m.add(fuselage({{-0.97, 0.0, 0.0, 0.0},
                    {-0.95, 0.07, 0.07, 0.0},
                    {-0.85, 0.13, 0.13, 0.0},
                    {-0.6, 0.19, 0.19, 0.0},
                    {0.5, 0.2, 0.2, 0.0},
                    {0.75, 0.17, 0.17, 0.0},
                    {0.9, 0.11, 0.11, 0.0},
                    {0.99, 0.0, 0.0, 0.0}},
                   2.0, 16),
          uv);
    const std::vector<Vec3> fin = {
        {0.0, 0.1, -0.45}, {0.0, 0.245, -0.72}, {0.0, 0.245, -0.93}, {0.0, 0.1, -0.9}};
    m.add(finX(fin, 0.015, {}), uv);
    m.add(finX(mirrorY(fin), 0.015, {}), uv);
    std::vector<Vec3> side;
    for (const Vec3& p : fin) {
        side.push_back({p.y, 0.0, p.z});
    }
    m.add(finY(side, 0.015, {}), uv);
    m.add(finY(mirrorX(side), 0.015, {}), uv);
    m.add(cylinderZ({0.0, 0.0, -0.96}, 0.04, 0.04, 0.03, 8), uv);  // propeller hub
    return m;
}

// The station: a 60 x 115 x 80 tower with a habitat ring, tanks, side
// modules and a hangar tube whose two mouths the door models close.
const double kHangarX = 17.0, kHangarY = -30.0, kHangarHalfLength = 38.0;
const double kHangarInnerX = 5.5, kHangarInnerY = 3.5;

MeshModel station() {
    MeshModel m;
    const double uv = 0.06;
    m.add(cylinderY({0.0, -5.0, 0.0}, 9.0, 45.0, 24), uv);
    m.add(ellipsoid({0.0, 40.0, 0.0}, {9.0, 6.0, 9.0}, 16, 8), uv);
    m.add(cylinderY({0.0, 50.0, 0.0}, 0.8, 7.0, 8), uv);
    m.add(ellipsoid({0.0, 56.2, 0.0}, {1.2, 1.2, 1.2}, 8, 4), uv);
    // Habitat ring with four spokes.
    std::vector<Ring> outer, inner;
    for (double y : {8.0, 16.0}) {
        Ring o, i;
        for (int k = 0; k < 32; ++k) {
            const double a = 2.0 * kPi * k / 32;
            o.push_back({28.0 * std::cos(a), y, 28.0 * std::sin(a)});
            i.push_back({21.0 * std::cos(a), y, 21.0 * std::sin(a)});
        }
        outer.push_back(o);
        inner.push_back(i);
    }
    m.add(hollowLoft(outer, inner), uv);
    m.add(box({0.0, 12.0, 0.0}, {22.0, 1.5, 1.5}), uv);
    m.add(box({0.0, 12.0, 0.0}, {1.5, 1.5, 22.0}), uv);
    // Hangar tube along z, open at both ends, and its link to the tower.
    std::vector<Ring> hangarOuter, hangarInner;
    for (double z : {-kHangarHalfLength, kHangarHalfLength}) {
        hangarOuter.push_back(rectRing(kHangarX, kHangarY, z, 8.0, 6.0));
        hangarInner.push_back(rectRing(kHangarX, kHangarY, z, kHangarInnerX, kHangarInnerY));
    }
    Shell hangar = hollowLoft(hangarOuter, hangarInner);
    hangar.creaseDegrees = 20.0;
    m.add(hangar, uv);
    m.add(box({8.0, -30.0, 0.0}, {3.0, 3.0, 10.0}), uv);
    // Tanks, side modules and the base.
    m.add(ellipsoid({-17.0, -32.0, 12.0}, {6.5, 6.5, 11.0}, 12, 8), uv);
    m.add(ellipsoid({-17.0, -32.0, -14.0}, {5.5, 5.5, 9.0}, 12, 8), uv);
    m.add(box({-10.0, -32.0, 0.0}, {4.0, 2.0, 14.0}), uv);
    m.add(box({-19.0, 28.0, -14.0}, {6.0, 5.0, 11.0}), uv);
    m.add(box({-10.0, 28.0, -8.0}, {3.0, 2.0, 2.0}), uv);
    m.add(box({14.0, 30.0, 16.0}, {5.0, 4.0, 8.0}), uv);
    m.add(box({8.0, 30.0, 10.0}, {2.0, 1.5, 2.0}), uv);
    m.add(cylinderY({0.0, -52.0, 0.0}, 16.0, 3.0, 24), uv);
    for (int k = 0; k < 4; ++k) {
        const double a = kPi / 4.0 + kPi / 2.0 * k;
        m.add(box({24.0 * std::cos(a), -51.0, 24.0 * std::sin(a)}, {2.0, 5.5, 2.0}), uv);
    }
    return m;
}

// A door closes one mouth of the hangar tube (z > 0 for the first).
MeshModel stationDoor(double side) {
    MeshModel m;
    m.add(box({kHangarX, kHangarY, side * (kHangarHalfLength - 0.6)},
              {kHangarInnerX - 0.02, kHangarInnerY - 0.02, 0.5}),
          0.12);
    m.add(box({kHangarX, kHangarY, side * (kHangarHalfLength - 0.05)}, {0.25, kHangarInnerY - 0.3, 0.05}),
          0.12);
    return m;
}

MeshModel debris(uint64_t seed, const Vec3& radii) {
    MeshModel m;
    m.add(jaggedChunk(seed, radii, 0.45), 0.5);
    return m;
}

// Cockpit frame around the eye at the origin, everything beyond the near
// plane (1.0): window pillars, the top beam with a short rib and the
// instrument panel. The rib ends at z 2.05, short of hanging over the HUD's
// compass, which at 800 x 600 stands only 108 pixels from the top (the
// cockpit is drawn over the HUD).
MeshModel cockpit() {
    MeshModel m;
    const double uv = 0.5;
    m.add(box({0.0, -1.12, 1.8}, {1.1, 0.2, 0.4}), uv);
    m.add(box({0.0, -0.86, 2.0}, {0.45, 0.07, 0.2}), uv);
    for (double side : {-1.0, 1.0}) {
        m.add(box({side * 1.3, 0.0, 1.6}, {0.1, 1.15, 0.12}), uv);
    }
    m.add(box({0.0, 1.1, 1.6}, {1.4, 0.08, 0.12}), uv);
    m.add(box({0.0, 1.03, 1.875}, {0.05, 0.05, 0.175}), uv);
    return m;
}

// A gun, barrel along +z, mounted at (x, -1, 0) of the cockpit frame.
MeshModel gun(double x) {
    MeshModel m;
    const double uv = 1.5;
    m.add(box({x, -1.05, 0.5}, {0.2, 0.18, 0.45}), uv);
    m.add(cylinderZ({x, -1.0, 1.45}, 0.09, 0.09, 0.9, 10), uv);
    m.add(cylinderZ({x, -1.0, 2.25}, 0.13, 0.13, 0.1, 10), uv);
    m.add(cylinderZ({x, -1.0, 1.1}, 0.12, 0.12, 0.06, 10), uv);
    return m;
}

// A flat ring in the x-z plane, radius 1, faces up; its colours are faded by
// the particle system.
MeshModel shockwave() {
    const int segments = 32;
    const double radii[] = {0.45, 0.75, 1.0};
    std::vector<MeshVertex> vertices;
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k <= segments; ++k) {
            const double a = 2.0 * kPi * k / segments;
            MeshVertex v;
            v.position = {radii[r] * std::cos(a), 0.0, radii[r] * std::sin(a)};
            v.normal = {0.0, 1.0, 0.0};
            v.u = 4.0 * k / segments;
            v.v = r * 0.5;
            vertices.push_back(v);
        }
    }
    std::vector<uint32_t> triangles;
    const uint32_t row = segments + 1;
    for (uint32_t r = 0; r < 2; ++r) {
        for (uint32_t k = 0; k < static_cast<uint32_t>(segments); ++k) {
            const uint32_t a = r * row + k, b = a + 1, c = a + row + 1, d = a + row;
            // (b - a) x (c - a) points up: clockwise seen from above.
            triangles.insert(triangles.end(), {a, c, b, a, d, c});
        }
    }
    MeshModel m;
    m.addRaw(vertices, triangles);
    m.setVertexColor(1.0, 1.0, 1.0, 1.0);
    return m;
}

// An open cone from the lamp along +z: 10 long, 2.5 wide at its end.
MeshModel spotlight() {
    const int segments = 24, rows = 5;
    std::vector<MeshVertex> vertices;
    for (int r = 0; r < rows; ++r) {
        const double z = 10.0 * r / (rows - 1);
        const double radius = 0.15 + (2.5 - 0.15) * r / (rows - 1);
        for (int k = 0; k <= segments; ++k) {
            const double a = 2.0 * kPi * k / segments;
            MeshVertex v;
            v.position = {radius * std::cos(a), radius * std::sin(a), z};
            v.normal = normalized({std::cos(a), std::sin(a), -0.235});
            v.u = static_cast<double>(k) / segments;
            v.v = z / 10.0;
            vertices.push_back(v);
        }
    }
    std::vector<uint32_t> triangles;
    const uint32_t row = segments + 1;
    for (uint32_t r = 0; r + 1 < static_cast<uint32_t>(rows); ++r) {
        for (uint32_t k = 0; k < static_cast<uint32_t>(segments); ++k) {
            const uint32_t a = r * row + k, b = a + 1, c = a + row + 1, d = a + row;
            triangles.insert(triangles.end(), {a, b, c, a, c, d});
        }
    }
    MeshModel m;
    m.addRaw(vertices, triangles);
    m.setVertexColor(80.0 / 255.0, 96.0 / 255.0, 96.0 / 255.0, 64.0 / 255.0);
    return m;
}

void writeModel(const MediaOut& out, const std::string& folder, const std::string& file,
                const MeshModel& model, const std::string& texture, const std::string& name) {
    if (model.triangleCount() >= 2000) {
        throw std::runtime_error(file + " is over the triangle budget");
    }
    Material material;
    material.texture = texture;
    out.writeText(folder + "/" + file, model.toX(name, material));
}

}  // namespace

void writeMeshes(const MediaOut& out) {
    const HullStyle cockpitStyle{{70, 78, 92}, {40, 160, 220}, 32, 6, 0.3};
    const HullStyle scoutStyle{{70, 120, 112}, {60, 230, 200}, 32, 5, 0.5};
    const HullStyle bomber1Style{{108, 100, 78}, {255, 150, 50}, 32, 4, 0.7};
    const HullStyle bomber2Style{{88, 86, 104}, {255, 80, 60}, 32, 8, 0.6};
    const HullStyle torpedoStyle{{80, 82, 86}, {230, 40, 30}, 64, 3, 0.4};
    const HullStyle trashStyle{{96, 80, 66}, {255, 110, 20}, 32, 2, 1.0};
    const HullStyle stationStyle{{132, 136, 128}, {255, 220, 120}, 16, 40, 0.6};
    const HullStyle doorStyle{{150, 128, 52}, {120, 200, 255}, 64, 2, 0.4};

    out.writeImage("mesh/cockpit/cockpit.jpg", paintHull(701, 256, cockpitStyle), 85);
    writeModel(out, "mesh/cockpit", "cockpit_spielerschiff01.x", cockpit(), "cockpit.jpg", "Cockpit");
    writeModel(out, "mesh/cockpit", "cockpit_spielerschiff01_gun_left.x", gun(-1.5), "cockpit.jpg",
               "GunLeft");
    writeModel(out, "mesh/cockpit", "cockpit_spielerschiff01_gun_right.x", gun(1.5), "cockpit.jpg",
               "GunRight");

    out.writeImage("mesh/mantis1/mantis_scout01.jpg", paintHull(702, 256, scoutStyle), 85);
    writeModel(out, "mesh/mantis1", "mantis_scout01.X", scout(), "mantis_scout01.jpg", "Scout");
    out.writeImage("mesh/bomber1/bomber.jpg", paintHull(703, 256, bomber1Style), 85);
    writeModel(out, "mesh/bomber1", "bomber.x", bomber1(), "bomber.jpg", "Bomber");
    out.writeImage("mesh/bomber2/bomber_02.jpg", paintHull(704, 256, bomber2Style), 85);
    writeModel(out, "mesh/bomber2", "bomber_02.x", bomber2(), "bomber_02.jpg", "Bomber02");

    out.writeImage("mesh/trash/trash.jpg", paintHull(705, 128, trashStyle), 85);
    writeModel(out, "mesh/trash", "trash_small_01.x", debris(7101, {1.2, 0.8, 1.05}), "trash.jpg", "Trash01");
    writeModel(out, "mesh/trash", "trash_small_02.x", debris(7102, {0.9, 0.6, 1.15}), "trash.jpg", "Trash02");
    writeModel(out, "mesh/trash", "trash_small_03.x", debris(7103, {0.7, 0.55, 0.8}), "trash.jpg", "Trash03");

    out.writeImage("mesh/torpedo/torp_hellshark.jpg", paintHull(706, 128, torpedoStyle), 85);
    writeModel(out, "mesh/torpedo", "torp_hellshark.x", torpedo(), "torp_hellshark.jpg", "Torpedo");

    out.writeImage("mesh/station1/station_01.jpg", paintHull(707, 256, stationStyle), 85);
    out.writeImage("mesh/station1/station_01_door.jpg", paintHull(708, 128, doorStyle), 85);
    writeModel(out, "mesh/station1", "station_01.x", station(), "station_01.jpg", "Station");
    writeModel(out, "mesh/station1", "station_01_door_01.x", stationDoor(1.0), "station_01_door.jpg",
               "Door01");
    writeModel(out, "mesh/station1", "station_01_door_02.x", stationDoor(-1.0), "station_01_door.jpg",
               "Door02");

    out.writeImage("mesh/shockwave/shockwave01.png", paintGlow(709, 64, {255, 230, 190}, true));
    writeModel(out, "mesh/shockwave", "shockwave01.x", shockwave(), "shockwave01.png", "Shockwave");
    out.writeImage("mesh/spotlight/spotlight_01.png", paintGlow(710, 64, {200, 230, 255}, false));
    writeModel(out, "mesh/spotlight", "spotlight_01.x", spotlight(), "spotlight_01.png", "Spotlight");
}

}  // namespace mkmedia
