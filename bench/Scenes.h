// The benchmark scenes, built through the public header alone: S1 resting
// stacks, S2 falling pile, S3 pyramid, S4 convex bodies on terrain (also
// S10's scene), S5 tunnelling sweep, S6 bounce energy, S7 joint chain, S8
// vehicle at rest and braking, S9 stacks far from the origin and S11 the
// game-shaped scene.
//
// Common to every scene: gravity 10 m/s^2 down from each body's force
// callback, friction 0.5 (static and kinetic) and restitution 0 unless the
// scene says otherwise, the engine's damping, one update of 1/60 s a step.
// The engine clamps restitution to at least 0.01, so "0" runs as 0.01.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "GridTree.h"
#include "TerrainMap.h"
#include "dgPhysics.h"

namespace scenes {

constexpr float kGravity = 10.0f;
constexpr float kTimeStep = 1.0f / 60.0f;
constexpr float kFriction = 0.5f;

// ---- building blocks ----

inline void applyGravity(dgBody* body) {
    float mass = 0.0f;
    float ixx = 0.0f;
    float iyy = 0.0f;
    float izz = 0.0f;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kGravity * mass, 0.0f};
    dgBodySetForce(body, force);
}

inline void translation(float x, float y, float z, float* matrix) {
    static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(matrix, identity, sizeof(identity));
    matrix[12] = x;
    matrix[13] = y;
    matrix[14] = z;
}

// A world whose box is lo..hi, with the default pair's friction and
// restitution.
inline dgWorld* newWorld(const float* lo, const float* hi, float restitution, float friction,
                         dgAllocMemoryCallback allocate = nullptr, dgFreeMemoryCallback release = nullptr) {
    dgWorld* world = dgWorldCreate(allocate, release);
    dgWorldSetSize(world, lo, hi);
    const uint32_t group = dgMaterialGetDefaultGroupId(world);
    dgMaterialSetDefaultFriction(world, group, group, friction, friction);
    dgMaterialSetDefaultElasticity(world, group, group, restitution);
    return world;
}

// A body of the shape at (x, y, z). mass 0 leaves it static; a movable body
// gets the shape's own inertia and the gravity callback.
inline dgBody* addBody(dgWorld* world, dgCollision* shape, float mass, float x, float y, float z) {
    dgBody* body = dgCreateBody(world, shape);
    float matrix[16];
    translation(x, y, z, matrix);
    dgBodySetMatrix(body, matrix);
    if (mass > 0.0f) {
        float inertia[3];
        float origin[3];
        dgConvexCollisionCalculateInertialMatrix(shape, inertia, origin);
        dgBodySetMassMatrix(body, mass, mass * inertia[0], mass * inertia[1], mass * inertia[2]);
        dgBodySetForceAndTorqueCallback(body, applyGravity);
        // A body is created at the origin; where that lies outside the world
        // box it was frozen at once, and placing it does not wake it.
        dgWorldUnfreezeBody(world, body);
    }
    return body;
}

// The ground: a static box 400 x 10 x 400 m, its top face at height `top`,
// centred under (x, z).
inline dgBody* addGround(dgWorld* world, float x, float top, float z) {
    dgCollision* box = dgCreateBox(world, 400.0f, 10.0f, 400.0f, nullptr);
    dgBody* ground = addBody(world, box, 0.0f, x, top - 5.0f, z);
    dgReleaseCollision(world, box);
    return ground;
}

inline void position(const dgBody* body, float* xyz) {
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    xyz[0] = matrix[12];
    xyz[1] = matrix[13];
    xyz[2] = matrix[14];
}

// A scene: its world and its movable bodies in creation order.
struct Scene {
    dgWorld* world = nullptr;
    std::vector<dgBody*> bodies;

    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene() {
        if (world) {
            dgWorldDestroy(world);
        }
    }
};

// FNV-1a over the bytes of every body's matrix: equal hashes say that two
// builds or runs of a scene went bit for bit alike.
inline uint32_t hashMatrices(const std::vector<dgBody*>& bodies) {
    uint32_t hash = 2166136261u;
    for (const dgBody* body : bodies) {
        float matrix[16];
        dgBodyGetMatrix(body, matrix);
        unsigned char bytes[sizeof(matrix)];
        std::memcpy(bytes, matrix, sizeof(matrix));
        for (unsigned char c : bytes) {
            hash = (hash ^ c) * 16777619u;
        }
    }
    return hash;
}

inline uint32_t hashMatrices(const Scene& scene) {
    return hashMatrices(scene.bodies);
}

// ---- S1 resting stacks; S9 its 3 x 3 form away from the origin ----
// side x side stacks of `height` unit cubes of mass 1, 1 m gaps, centred on
// (ox, oz), the bottom cubes resting exactly on ground whose top is at oy.
// Freezing off. S1 is 20 x 20 x 10 (the quick form 1 x 1 x 10), S9 3 x 3 x 10.

constexpr int32_t kStacksSide = 20;
constexpr int32_t kStackHeight = 10;
constexpr int32_t kStacksSteps = 600;
constexpr int32_t kFarStacksSide = 3;

inline void buildStacks(Scene& scene, int32_t side, int32_t height, float ox, float oy, float oz) {
    const float margin = 200.0f;
    const float lo[3] = {ox - margin, oy - margin, oz - margin};
    const float hi[3] = {ox + margin, oy + margin, oz + margin};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    addGround(scene.world, ox, oy, oz);
    dgCollision* cube = dgCreateBox(scene.world, 1.0f, 1.0f, 1.0f, nullptr);
    const float first = -float(side - 1);
    for (int32_t ix = 0; ix < side; ix++) {
        for (int32_t iz = 0; iz < side; iz++) {
            for (int32_t k = 0; k < height; k++) {
                dgBody* body = addBody(scene.world, cube, 1.0f, ox + first + 2.0f * float(ix),
                                       oy + 0.5f + float(k), oz + first + 2.0f * float(iz));
                dgBodySetAutoFreeze(body, 0);
                scene.bodies.push_back(body);
            }
        }
    }
    dgReleaseCollision(scene.world, cube);
}

// ---- S2 falling pile ----
// 8 x 8 x 47 cubes of 2 m edge and mass 2 on a 3 m pitch; layer k is moved by
// -0.35 k m in x and in z (each layer 0.35 m short of the one below) and
// centred at height 2 + 3 k. 600 steps, freezing on, and again off. The
// tests build smaller piles the same way.

constexpr int32_t kPileSide = 8;
constexpr int32_t kPileLayers = 47;
constexpr int32_t kPileSteps = 600;

inline void buildPile(Scene& scene, bool freezing, int32_t side = kPileSide, int32_t layers = kPileLayers) {
    const float lo[3] = {-250.0f, -50.0f, -250.0f};
    const float hi[3] = {250.0f, 250.0f, 250.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    addGround(scene.world, 0.0f, 0.0f, 0.0f);
    dgCollision* cube = dgCreateBox(scene.world, 2.0f, 2.0f, 2.0f, nullptr);
    const float first = -1.5f * float(side - 1);
    for (int32_t k = 0; k < layers; k++) {
        const float shift = -0.35f * float(k);
        for (int32_t ix = 0; ix < side; ix++) {
            for (int32_t iz = 0; iz < side; iz++) {
                dgBody* body = addBody(scene.world, cube, 2.0f, first + 3.0f * float(ix) + shift,
                                       2.0f + 3.0f * float(k), first + 3.0f * float(iz) + shift);
                dgBodySetAutoFreeze(body, freezing ? 1 : 0);
                scene.bodies.push_back(body);
            }
        }
    }
    dgReleaseCollision(scene.world, cube);
}

// ---- S3 pyramid ----
// 15 levels of 2 m cubes of mass 1: level i a square of (15 - i)^2 cubes on a
// 2 m pitch centred on the y axis (so odd levels sit half a cube off the even
// ones), centre at 1 + 2.5 i (0.5 m gaps). Freezing off. 500 steps. Rest
// height of level i: 1 + 2 i. The tests build smaller ones the same way.

constexpr int32_t kPyramidLevels = 15;
constexpr int32_t kPyramidSteps = 500;

inline float pyramidRestHeight(int32_t level) {
    return 1.0f + 2.0f * float(level);
}

// Adds a pyramid centred on x = ox to the scene's world; levels gets the level
// of each body in scene.bodies order.
inline void addPyramid(Scene& scene, std::vector<int32_t>& levels, int32_t levelCount, float ox) {
    dgCollision* cube = dgCreateBox(scene.world, 2.0f, 2.0f, 2.0f, nullptr);
    for (int32_t level = 0; level < levelCount; level++) {
        const int32_t n = levelCount - level;
        const float first = -float(n - 1);
        for (int32_t ix = 0; ix < n; ix++) {
            for (int32_t iz = 0; iz < n; iz++) {
                dgBody* body = addBody(scene.world, cube, 1.0f, ox + first + 2.0f * float(ix),
                                       1.0f + 2.5f * float(level), first + 2.0f * float(iz));
                dgBodySetAutoFreeze(body, 0);
                scene.bodies.push_back(body);
                levels.push_back(level);
            }
        }
    }
    dgReleaseCollision(scene.world, cube);
}

inline void buildPyramid(Scene& scene, std::vector<int32_t>& levels, int32_t levelCount = kPyramidLevels) {
    const float lo[3] = {-200.0f, -50.0f, -200.0f};
    const float hi[3] = {200.0f, 200.0f, 200.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    addGround(scene.world, 0.0f, 0.0f, 0.0f);
    addPyramid(scene, levels, levelCount, 0.0f);
}

// ---- S4 convex bodies on terrain (S10 runs it too) ----
// Terrain of 101 x 101 vertices, (i, j) at x = 3i, z = 3j,
// y = 5 sin(50 i / 100) cos(50 j / 100), two triangles a cell. 1764 bodies
// of mass 1 on a 21 x 4 x 21 lattice (x outermost, then the layer, then z):
// x, z = 150 + 7.5 m x (-10 .. 10), y = 15 + 2k, cycling box 1 x 1.5 x 2,
// sphere of radius 0.5, capsule of radius 0.5 with a 1.5 m cylinder (along x)
// and the hull of (0,1,0), (+-1,0,0), (0,0,+-1). Restitution 0.6. 600 steps.

constexpr int32_t kTerrainCells = 100;
constexpr float kTerrainSpacing = 3.0f;
constexpr int32_t kLatticeSide = 21;
constexpr int32_t kLatticeLayers = 4;
constexpr float kLatticePitch = 7.5f;
constexpr float kTerrainCentre = 150.0f;
constexpr int32_t kLatticeSteps = 600;

inline float latticeTerrainY(int32_t i, int32_t j) {
    const float n = float(kTerrainCells);
    return 5.0f * std::sin(50.0f * float(i) / n) * std::cos(50.0f * float(j) / n);
}

inline float latticeTerrainLowest() {
    float lowest = 1.0e30f;
    for (int32_t j = 0; j <= kTerrainCells; j++) {
        for (int32_t i = 0; i <= kTerrainCells; i++) {
            lowest = std::fmin(lowest, latticeTerrainY(i, j));
        }
    }
    return lowest;
}

template <class VertexY>
dgCollision* buildGridTree(dgWorld* world, int32_t cells, float spacing, float ox, float oy, float oz,
                           const VertexY& vertexY) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    addGridFaces(tree, cells, spacing, ox, oy, oz, vertexY);
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

// simd: the solver mode given to dgWorldSetSimdMode (S10 compares them);
// side: the lattice's bodies along x and z (the tests use smaller ones).
inline void buildLattice(Scene& scene, int32_t simd, int32_t side = kLatticeSide) {
    const float lo[3] = {-50.0f, -50.0f, -50.0f};
    const float hi[3] = {350.0f, 100.0f, 350.0f};
    scene.world = newWorld(lo, hi, 0.6f, kFriction);
    dgWorldSetSimdMode(scene.world, simd);
    dgCollision* terrain =
        buildGridTree(scene.world, kTerrainCells, kTerrainSpacing, 0.0f, 0.0f, 0.0f, latticeTerrainY);
    addBody(scene.world, terrain, 0.0f, 0.0f, 0.0f, 0.0f);
    dgReleaseCollision(scene.world, terrain);

    const float hullPoints[5][3] = {
        {0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
    dgCollision* shapes[4] = {
        dgCreateBox(scene.world, 1.0f, 1.5f, 2.0f, nullptr),
        dgCreateSphere(scene.world, 0.5f, 0.5f, 0.5f, nullptr),
        // The capsule's height is its whole length: the cylinder and both caps.
        dgCreateCapsule(scene.world, 0.5f, 2.5f, nullptr),
        dgCreateConvexHull(scene.world, 5, &hullPoints[0][0], int32_t(3 * sizeof(float)), nullptr),
    };
    int32_t serial = 0;
    for (int32_t ix = 0; ix < side; ix++) {
        for (int32_t k = 0; k < kLatticeLayers; k++) {
            for (int32_t iz = 0; iz < side; iz++) {
                const float x = kTerrainCentre + kLatticePitch * float(ix - side / 2);
                const float z = kTerrainCentre + kLatticePitch * float(iz - side / 2);
                scene.bodies.push_back(
                    addBody(scene.world, shapes[serial % 4], 1.0f, x, 15.0f + 2.0f * float(k), z));
                serial++;
            }
        }
    }
    for (dgCollision* shape : shapes) {
        dgReleaseCollision(scene.world, shape);
    }
}

// ---- S5 tunnelling sweep ----
// A sphere of radius 0.1 and mass 1, no gravity, fired along +x at a static
// wall 10 x 10 m across whose front face is at x = 4.9: a box 0.2 m thick, or
// one quad of a tree collision. Start moved back by k/16 of one step's
// travel. 240 steps. Tunnelled: the centre ends beyond the wall's back face
// (the quad's plane).

constexpr float kSweepSpeeds[6] = {10.0f, 20.0f, 30.0f, 50.0f, 100.0f, 200.0f};
constexpr int32_t kSweepOffsets = 16;
constexpr int32_t kSweepSteps = 240;
constexpr float kWallFront = 4.9f;
constexpr float kWallThickness = 0.2f;

inline float sweepWallBack(bool soupWall) {
    return soupWall ? kWallFront : kWallFront + kWallThickness;
}

inline void buildSweep(Scene& scene, float speed, int32_t k, bool continuous, bool soupWall) {
    const float lo[3] = {-100.0f, -100.0f, -100.0f};
    const float hi[3] = {100.0f, 100.0f, 100.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    if (soupWall) {
        dgCollision* tree = dgCreateTreeCollision(scene.world, nullptr);
        dgTreeCollisionBeginBuild(tree);
        // Facing -x, towards the sphere.
        const float quad[12] = {kWallFront, -5.0f, -5.0f, kWallFront, -5.0f, 5.0f,
                                kWallFront, 5.0f,  5.0f,  kWallFront, 5.0f,  -5.0f};
        dgTreeCollisionAddFace(tree, 4, quad, 12, 1);
        dgTreeCollisionEndBuild(tree, 0);
        addBody(scene.world, tree, 0.0f, 0.0f, 0.0f, 0.0f);
        dgReleaseCollision(scene.world, tree);
    } else {
        dgCollision* wall = dgCreateBox(scene.world, kWallThickness, 10.0f, 10.0f, nullptr);
        addBody(scene.world, wall, 0.0f, kWallFront + 0.5f * kWallThickness, 0.0f, 0.0f);
        dgReleaseCollision(scene.world, wall);
    }
    dgCollision* ball = dgCreateSphere(scene.world, 0.1f, 0.1f, 0.1f, nullptr);
    const float start = -(float(k) / float(kSweepOffsets)) * speed * kTimeStep;
    dgBody* body = addBody(scene.world, ball, 1.0f, start, 0.0f, 0.0f);
    dgReleaseCollision(scene.world, ball);
    dgBodySetForceAndTorqueCallback(body, [](dgBody*) {});
    dgBodySetContinuousCollisionMode(body, continuous ? 1 : 0);
    const float velocity[3] = {speed, 0.0f, 0.0f};
    dgBodySetVelocity(body, velocity);
    scene.bodies.push_back(body);
}

// ---- S6 bounce energy ----
// A sphere of radius 0.5 and mass 1, restitution 1, friction 0, damping 0,
// dropped with its centre at 10.5 over the ground. Five bounces take about
// 14 s; 1000 steps.

constexpr int32_t kBounceSteps = 1000;
constexpr int32_t kBounces = 5;

inline void buildBounce(Scene& scene) {
    const float lo[3] = {-100.0f, -100.0f, -100.0f};
    const float hi[3] = {100.0f, 100.0f, 100.0f};
    // Static friction below 0.01 turns friction off.
    scene.world = newWorld(lo, hi, 1.0f, 0.0f);
    addGround(scene.world, 0.0f, 0.0f, 0.0f);
    dgCollision* ball = dgCreateSphere(scene.world, 0.5f, 0.5f, 0.5f, nullptr);
    dgBody* body = addBody(scene.world, ball, 1.0f, 0.0f, 10.5f, 0.0f);
    dgReleaseCollision(scene.world, ball);
    dgBodySetLinearDamping(body, 0.0f);
    const float none[3] = {0.0f, 0.0f, 0.0f};
    dgBodySetAngularDamping(body, none);
    scene.bodies.push_back(body);
}

// ---- S7 joint chain and mass ratio ----
// 20 capsules 0.5 m long (radius 0.1) of 1 kg, or of 100 kg for the last
// one, hanging straight down at rest from a static anchor (the static world
// at (0, 10, 0)), each jointed to the one above at their common end: by ball,
// hinge (pin z), slider (pin x) or universal (pins x and z) joints. 600
// steps. Quality: the largest joint separation at the end (for the slider
// across its pin) and the change of the chain's length (anchor to the last
// link's lower end, 10 m at the start).

constexpr int32_t kChainLinks = 20;
constexpr float kLinkLength = 0.5f;
constexpr float kLinkRadius = 0.1f;
constexpr float kHeavyLinkMass = 100.0f;
constexpr float kAnchorHeight = 10.0f;
constexpr int32_t kChainSteps = 600;

enum class ChainJoint { Ball, Hinge, Slider, Universal };

inline const char* chainJointName(ChainJoint type) {
    switch (type) {
        case ChainJoint::Ball:
            return "ball";
        case ChainJoint::Hinge:
            return "hinge";
        case ChainJoint::Slider:
            return "slider";
        case ChainJoint::Universal:
            return "universal";
    }
    return "";
}

// A chain scene: the links top to bottom and the joint above each.
struct Chain {
    Scene scene;
    std::vector<dgConstraint*> joints;
    ChainJoint type = ChainJoint::Ball;
};

// The upper (k = 0) or lower (k = 1) end of a link in world space: the
// capsule's axis is its body's x axis, pointing down.
inline void linkEnd(const dgBody* link, int32_t k, float* xyz) {
    float m[16];
    dgBodyGetMatrix(link, m);
    const float s = (k == 0) ? -0.5f * kLinkLength : 0.5f * kLinkLength;
    for (int32_t i = 0; i < 3; i++) {
        xyz[i] = m[12 + i] + s * m[i];
    }
}

inline void buildChain(Chain& chain, ChainJoint type, float lastMass) {
    const float lo[3] = {-100.0f, -100.0f, -100.0f};
    const float hi[3] = {100.0f, 100.0f, 100.0f};
    chain.type = type;
    chain.scene.world = newWorld(lo, hi, 0.0f, kFriction);
    dgWorld* world = chain.scene.world;
    dgCollision* capsule = dgCreateCapsule(world, kLinkRadius, kLinkLength, nullptr);
    dgBody* above = nullptr;
    for (int32_t i = 0; i < kChainLinks; i++) {
        const float top = kAnchorHeight - kLinkLength * float(i);
        const float mass = (i == kChainLinks - 1) ? lastMass : 1.0f;
        dgBody* link = addBody(world, capsule, mass, 0.0f, top - 0.5f * kLinkLength, 0.0f);
        // x (the capsule's axis) down, y along world x, z along world z.
        float m[16];
        dgBodyGetMatrix(link, m);
        const float axes[12] = {0.0f, -1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
        std::memcpy(m, axes, sizeof(axes));
        dgBodySetMatrix(link, m);
        dgBodySetAutoFreeze(link, 0);
        const float pivot[3] = {0.0f, top, 0.0f};
        const float pinX[3] = {1.0f, 0.0f, 0.0f};
        const float pinZ[3] = {0.0f, 0.0f, 1.0f};
        dgConstraint* joint = nullptr;
        switch (type) {
            case ChainJoint::Ball:
                joint = dgCreateBallJoint(world, pivot, link, above);
                break;
            case ChainJoint::Hinge:
                joint = dgCreateHingeJoint(world, pivot, pinZ, link, above);
                break;
            case ChainJoint::Slider:
                joint = dgCreateSliderJoint(world, pivot, pinX, link, above);
                break;
            case ChainJoint::Universal:
                joint = dgCreateUniversalJoint(world, pivot, pinX, pinZ, link, above);
                break;
        }
        chain.scene.bodies.push_back(link);
        chain.joints.push_back(joint);
        above = link;
    }
    dgReleaseCollision(world, capsule);
}

struct ChainFigures {
    double separation = 0.0;    // largest, m
    double lengthChange = 0.0;  // m
};

inline ChainFigures chainFigures(const Chain& chain) {
    ChainFigures figures;
    const std::vector<dgBody*>& links = chain.scene.bodies;
    for (size_t i = 0; i < links.size(); i++) {
        float upper[3];
        float lower[3] = {0.0f, kAnchorHeight, 0.0f};
        linkEnd(links[i], 0, upper);
        if (i > 0) {
            linkEnd(links[i - 1], 1, lower);
        }
        double d[3] = {double(upper[0]) - lower[0], double(upper[1]) - lower[1], double(upper[2]) - lower[2]};
        if (chain.type == ChainJoint::Slider) {
            // Free along the pin: world x as the link above carries it (the
            // world's own for the first).
            float m[16] = {0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f};
            if (i > 0) {
                dgBodyGetMatrix(links[i - 1], m);
            }
            const double along = d[0] * m[4] + d[1] * m[5] + d[2] * m[6];
            for (int32_t k = 0; k < 3; k++) {
                d[k] -= along * m[4 + k];
            }
        }
        figures.separation = std::max(figures.separation, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
    }
    float bottom[3];
    linkEnd(links.back(), 1, bottom);
    const double dx = bottom[0];
    const double dy = double(bottom[1]) - kAnchorHeight;
    const double dz = bottom[2];
    figures.lengthChange = std::sqrt(dx * dx + dy * dy + dz * dz) - double(kChainLinks) * kLinkLength;
    return figures;
}

// ---- S8 vehicle at rest and braking ----
// A 4-tire vehicle: chassis 1000 kg, 4 x 1.5 x 2 m (nose along +x), tires of
// radius 0.35 m (0.25 m wide, 20 kg) at (+-1.3, -0.75, +-0.9) in the
// chassis, on flat polygon soup; at rest for 10 s with the brakes on, then
// set moving at 20 m/s along +x and braked to a stop.

constexpr float kCarMass = 1000.0f;
constexpr float kCarTireRadius = 0.35f;
constexpr float kCarTireMass = 20.0f;
// Per kilogram of the suspension's effective mass: about 14 cm of sag under
// a quarter of the car, a little under critical damping.
constexpr float kCarSpring = 3000.0f;
constexpr float kCarShock = 400.0f;
constexpr int32_t kCarRestSteps = 600;
constexpr int32_t kCarBrakeSteps = 600;
constexpr float kCarBrakeSpeed = 20.0f;

struct CarControls {
    bool brake = true;
};

inline CarControls& carControls() {
    static CarControls controls;
    return controls;
}

inline void carGravity(dgBody* body) {
    const float force[3] = {0.0f, -kGravity * kCarMass, 0.0f};
    dgBodySetForce(body, force);
}

inline void carBrakes(dgConstraint* vehicle) {
    if (!carControls().brake) {
        return;
    }
    for (dgVehicleTire* tire = dgVehicleGetFirstTire(vehicle); tire; tire = dgVehicleGetNextTire(vehicle, tire)) {
        dgVehicleTireSetBrake(tire, dgVehicleTireCalculateMaxBrake(tire), 3000.0f);
    }
}

struct Car {
    Scene scene;
    dgBody* chassis = nullptr;
    dgConstraint* vehicle = nullptr;
};

inline void buildCar(Car& car) {
    const float lo[3] = {-500.0f, -50.0f, -500.0f};
    const float hi[3] = {500.0f, 100.0f, 500.0f};
    car.scene.world = newWorld(lo, hi, 0.0f, 1.0f);
    dgWorld* world = car.scene.world;
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const float quad[12] = {-400, 0, -400, -400, 0, 400, 400, 0, 400, 400, 0, -400};
    dgTreeCollisionAddFace(tree, 4, quad, 12, 0);
    dgTreeCollisionEndBuild(tree, 0);
    dgCreateBody(world, tree);
    dgReleaseCollision(world, tree);

    dgCollision* box = dgCreateBox(world, 4.0f, 1.5f, 2.0f, nullptr);
    car.chassis = dgCreateBody(world, box);
    dgReleaseCollision(world, box);
    dgBodySetMassMatrix(car.chassis, kCarMass, kCarMass * (2.25f + 4.0f) / 12.0f, kCarMass * (16.0f + 4.0f) / 12.0f,
                        kCarMass * (16.0f + 2.25f) / 12.0f);
    dgBodySetForceAndTorqueCallback(car.chassis, carGravity);
    dgBodySetAutoFreeze(car.chassis, 0);
    float matrix[16];
    translation(-200.0f, 1.0f, 0.0f, matrix);
    dgBodySetMatrix(car.chassis, matrix);
    const float up[3] = {0.0f, 1.0f, 0.0f};
    car.vehicle = dgCreateVehicle(world, up, car.chassis);
    dgVehicleSetTireCallback(car.vehicle, carBrakes);
    const float at[4][2] = {{1.3f, 0.9f}, {1.3f, -0.9f}, {-1.3f, 0.9f}, {-1.3f, -0.9f}};
    const float pin[4] = {1.0f, 0.0f, 0.0f, 0.0f};
    for (const auto& p : at) {
        // The tire's spin axis (its own x) along the chassis's z.
        const float tire[16] = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, p[0], -0.75f, p[1], 1};
        dgVehicleAddTire(car.vehicle, tire, pin, kCarTireMass, 0.25f, kCarTireRadius, kCarShock, kCarSpring, 0.3f, 0,
                         nullptr);
    }
    dgWorldUnfreezeBody(world, car.chassis);
}

// ---- S11 game-shaped scene ----
// The game's sea floor: the 257 x 257 height map at 20 m horizontally and
// 0.25 m a sample unit vertically, offset by (0, -12000, 0). 30 ships, boxes
// 6 x 3 x 10 m of 2000 kg, in groups A and B (alternating), the floor in
// group F, each of the six pairs of the three groups with begin, process and
// end callbacks. The ships fly circles round the map's middle with thrust
// from the force callback: gravity, a horizontal pull towards their speed
// along the circle, a vertical one towards a height over the floor that dips
// into it every few seconds, and a righting torque. Freezing off. 3000 steps.

constexpr float kSeaFloorY = -12000.0f;
constexpr int32_t kShips = 30;
constexpr float kShipMass = 2000.0f;
constexpr int32_t kGameSteps = 3000;

inline float seaFloorHeight(const std::vector<uint16_t>& map, float x, float z) {
    return kSeaFloorY + benchterrain::gridHeight(
                            x, z, benchterrain::kHorizontalScale, benchterrain::kSide - 1,
                            [&map](int32_t i, int32_t j) { return benchterrain::vertexHeight(map, i, j); });
}

inline float seaFloorMiddle() {
    return 0.5f * benchterrain::kHorizontalScale * float(benchterrain::kSide - 1);
}

// What a ship's force callback reads (the body's user data).
struct Ship {
    const std::vector<uint16_t>* map;
    float radius;     // of its circle round the middle
    float speed;      // along the circle, m/s (sign = direction)
    float cruise;     // height of its centre over the floor
    float dipPeriod;  // steps between dips into the floor
    float phase;      // steps
    int32_t step;
};

inline void shipThrust(dgBody* body) {
    Ship& ship = *static_cast<Ship*>(dgBodyGetUserData(body));
    float matrix[16];
    float velocity[3];
    float omega[3];
    dgBodyGetMatrix(body, matrix);
    dgBodyGetVelocity(body, velocity);
    dgBodyGetOmega(body, omega);
    const float m = seaFloorMiddle();
    const float dx = matrix[12] - m;
    const float dz = matrix[14] - m;
    const float r = std::sqrt(dx * dx + dz * dz) + 1.0e-3f;
    // Along the circle, and back towards it.
    const float wantX = ship.speed * (-dz / r) + 0.2f * (ship.radius - r) * (dx / r);
    const float wantZ = ship.speed * (dx / r) + 0.2f * (ship.radius - r) * (dz / r);
    const float t = float(ship.step) + ship.phase;
    ship.step++;
    const float dip = std::sin(6.2831853f * t / ship.dipPeriod);
    const float wantHeight =
        seaFloorHeight(*ship.map, matrix[12], matrix[14]) + ship.cruise * (0.55f + 0.5f * dip);
    const float lift = kGravity + 2.0f * (wantHeight - matrix[13]) - 2.0f * velocity[1];
    const float force[3] = {kShipMass * 1.5f * (wantX - velocity[0]), kShipMass * lift,
                            kShipMass * 1.5f * (wantZ - velocity[2])};
    dgBodySetForce(body, force);
    // Turns up (row 1) towards +y: about up x (0, 1, 0), damped.
    const float upX = matrix[4];
    const float upZ = matrix[6];
    const float k = 20.0f * kShipMass;
    const float torque[3] = {k * (-upZ - 0.2f * omega[0]), -k * 0.2f * omega[1], k * (upX - 0.2f * omega[2])};
    dgBodySetTorque(body, torque);
}

// Counts of the contact callbacks.
struct CallbackCounts {
    uint64_t begin = 0;
    uint64_t process = 0;
    uint64_t end = 0;
};

inline int32_t countBegin(dgMaterialPair* material, dgBody*, dgBody*) {
    static_cast<CallbackCounts*>(dgMaterialGetPairUserData(material))->begin++;
    return 1;
}
inline int32_t countProcess(dgMaterialPair* material, dgContact*) {
    static_cast<CallbackCounts*>(dgMaterialGetPairUserData(material))->process++;
    return 1;
}
inline void countEnd(dgMaterialPair* material) {
    static_cast<CallbackCounts*>(dgMaterialGetPairUserData(material))->end++;
}

// ships: storage for the ships' user data (kShips entries, kept by the
// caller); counts: the callbacks' counters.
inline void buildGameScene(Scene& scene, const std::vector<uint16_t>& map, std::vector<Ship>& ships,
                           CallbackCounts& counts) {
    const float side = benchterrain::kHorizontalScale * float(benchterrain::kSide - 1);
    const float lo[3] = {-100.0f, kSeaFloorY - 200.0f, -100.0f};
    const float hi[3] = {side + 100.0f, kSeaFloorY + 2000.0f, side + 100.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    dgWorld* world = scene.world;
    const uint32_t floorGroup = dgMaterialGetDefaultGroupId(world);
    const uint32_t groupA = dgMaterialCreateGroupId(world);
    const uint32_t groupB = dgMaterialCreateGroupId(world);
    const uint32_t groups[3] = {floorGroup, groupA, groupB};
    for (int32_t a = 0; a < 3; a++) {
        for (int32_t b = a; b < 3; b++) {
            dgMaterialSetDefaultFriction(world, groups[a], groups[b], kFriction, kFriction);
            dgMaterialSetDefaultElasticity(world, groups[a], groups[b], 0.0f);
            dgMaterialSetCollisionCallback(world, groups[a], groups[b], &counts, countBegin, countProcess,
                                           countEnd);
        }
    }

    dgCollision* floor =
        buildGridTree(world, benchterrain::kSide - 1, benchterrain::kHorizontalScale, 0.0f, kSeaFloorY, 0.0f,
                      [&map](int32_t i, int32_t j) { return benchterrain::vertexHeight(map, i, j); });
    dgBody* floorBody = addBody(world, floor, 0.0f, 0.0f, 0.0f, 0.0f);
    dgBodySetMaterialGroupId(floorBody, floorGroup);
    dgReleaseCollision(world, floor);

    dgCollision* hull = dgCreateBox(world, 6.0f, 3.0f, 10.0f, nullptr);
    ships.assign(size_t(kShips), Ship());
    const float m = seaFloorMiddle();
    for (int32_t s = 0; s < kShips; s++) {
        Ship& ship = ships[size_t(s)];
        ship.map = &map;
        // Three rings of ten, flown both ways, so ships meet.
        ship.radius = 60.0f + 25.0f * float(s % 3);
        ship.speed = ((s % 2) ? -1.0f : 1.0f) * (12.0f + float(s % 5));
        ship.cruise = 6.0f;
        ship.dipPeriod = 240.0f + 40.0f * float(s % 4);
        ship.phase = 37.0f * float(s);
        ship.step = 0;
        const float angle = 6.2831853f * float(s) / float(kShips);
        const float x = m + ship.radius * std::cos(angle);
        const float z = m + ship.radius * std::sin(angle);
        dgBody* body = addBody(world, hull, kShipMass, x, seaFloorHeight(map, x, z) + 8.0f, z);
        dgBodySetUserData(body, &ship);
        dgBodySetForceAndTorqueCallback(body, shipThrust);
        dgBodySetAutoFreeze(body, 0);
        dgBodySetMaterialGroupId(body, (s % 2) ? groupB : groupA);
        scene.bodies.push_back(body);
    }
    dgReleaseCollision(world, hull);
}

}  // namespace scenes
