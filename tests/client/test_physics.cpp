// The physics glue in a real world: the game's sea floor as the level body,
// box bodies of every kind, the world box, the contact rules between real
// bodies, the transform round trip and the debug drawing, on the null device
// with the generated media.
#include "GameTerrain.h"
#include "GlueWorld.h"

#include "client/constants.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/object.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/physicsmaterialpairhandler.h"
#include "client/ship.h"
#include "client/station.h"
#include "client/torpedo.h"
#include "client/trash.h"
#include "client/engine/RawTerrain.h"

#include "physics/dynamics/dgPhysics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using irr::core::vector3df;

namespace {

using namespace gluetest;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- set-up ----

TEST(PhysicsGlue, InitMakesThreeGroupsWithOneHandlerOnTheGamePairs) {
    {
        Physics physics;
        ASSERT_TRUE(physics.init());
        ASSERT_NE(physicsWorld, nullptr);
        EXPECT_EQ(physics.getDefaultGroup(), 0);
        EXPECT_EQ(physics.getShipGroup(), 1);
        EXPECT_EQ(physics.getTorpedoGroup(), 2);
        EXPECT_EQ(physics.getLevelGroup(), 3);
        void* handler = dgMaterialGetUserData(physicsWorld, 2, 1);
        EXPECT_NE(handler, nullptr);
        for (uint32_t a = 0; a < 4; ++a) {
            for (uint32_t b = a; b < 4; ++b) {
                const bool game = (a == 1 && b >= 1) || (a == 2 && b == 3);
                EXPECT_EQ(dgMaterialGetUserData(physicsWorld, a, b), game ? handler : nullptr) << a << " " << b;
            }
        }
        physics.update(kNaN);  // the world takes its shortest step
    }
    EXPECT_EQ(physicsWorld, nullptr);
}

// Every kind as its row of the body table says; the inertia is twelve times
// the engine's own for a solid box of that mass.
TEST_F(GlueWorld, BodiesAreMadeAsTheirKindSays) {
    const vector3df at(2500, -3700, 3800);
    const vector3df turn(10, 80, 0);
    const vector3df size(6, 3, 10);
    const vector3df angular(0.05f, 0.1f, 0.2f);
    struct Row {
        const char* kind;
        dgBody* body;
        int32_t group;
        float mass;
        float linear;
        vector3df angular;
    };
    Object owner(OBJECT_TRASH, "owner", size);
    const Row rows[] = {
        {"ship", physics.createShipBody(&owner, at, turn, size, 30, 0.5f, angular), physics.getShipGroup(), 30,
         0.5f, angular},
        {"torpedo", physics.createTorpedoBody(&owner, at, turn, size), physics.getTorpedoGroup(), 1, 0.9f,
         vector3df(0.95f, 0.95f, 0.95f)},
        {"static", physics.createStaticBody(&owner, at, turn, size), physics.getLevelGroup(), 0, 0, vector3df()},
        {"trash", physics.createTrashBody(&owner, at, turn, size, 2, 0.7f, angular), physics.getLevelGroup(), 2,
         0.7f, angular},
    };
    float unit[3];
    float centre[3];
    dgConvexCollisionCalculateInertialMatrix(dgBodyGetCollision(rows[0].body), unit, centre);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        ASSERT_NE(row.body, nullptr);
        EXPECT_EQ(dgBodyGetMaterialGroupId(row.body), uint32_t(row.group));
        EXPECT_EQ(dgBodyGetUserData(row.body), &owner);
        float mass, inertia[3];
        dgBodyGetMassMatrix(row.body, &mass, &inertia[0], &inertia[1], &inertia[2]);
        EXPECT_FLOAT_EQ(mass, row.mass);
        for (int32_t a = 0; a < 3; ++a) {
            EXPECT_NEAR(inertia[a], 12.0f * row.mass * unit[a], 1e-3f * inertia[a] + 1e-6f);
        }
        EXPECT_NEAR(dgBodyGetLinearDamping(row.body), row.linear, 1e-6f);
        float damping[3];
        dgBodyGetAngularDamping(row.body, damping);
        EXPECT_NEAR(damping[0], row.angular.X, 1e-6f);
        EXPECT_NEAR(damping[1], row.angular.Y, 1e-6f);
        EXPECT_NEAR(damping[2], row.angular.Z, 1e-6f);
        const bool dynamic = row.mass > 0;
        EXPECT_EQ(dgBodyGetForceAndTorqueCallback(row.body) != nullptr, dynamic);
        EXPECT_EQ(dgBodyGetAutoFreeze(row.body), dynamic ? 0 : 1);
        float m[16];
        dgBodyGetMatrix(row.body, m);
        EXPECT_LT(rotationGap(turn, m), 1e-5f);
        EXPECT_EQ(bodyPosition(row.body), at);
    }
}

// No argument that is NaN or infinite reaches the world; nor does one given
// to the object setters reach its node.
TEST_F(GlueWorld, NonFiniteInputMakesNoBodyAndMovesNothing) {
    const int32_t before = bodyCount();
    Object owner(OBJECT_TRASH, "owner", vector3df(1, 1, 1));
    for (const float bad : {kNaN, kInf, -kInf}) {
        for (int32_t slot = 0; slot < 12; ++slot) {
            float v[12] = {2500, -3700, 3800, 0, 0, 0, 1, 1, 1, 1, 0.5f, 0.1f};
            v[slot] = bad;
            const vector3df p(v[0], v[1], v[2]), r(v[3], v[4], v[5]), s(v[6], v[7], v[8]);
            const vector3df angular(v[11], v[11], v[11]);
            const bool inBox = slot < 9;
            EXPECT_EQ(physics.createShipBody(&owner, p, r, s, v[9], v[10], angular), nullptr) << slot;
            EXPECT_EQ(physics.createTrashBody(&owner, p, r, s, v[9], v[10], angular), nullptr) << slot;
            if (inBox) {
                EXPECT_EQ(physics.createTorpedoBody(&owner, p, r, s), nullptr) << slot;
                EXPECT_EQ(physics.createStaticBody(&owner, p, r, s), nullptr) << slot;
            }
        }
    }
    EXPECT_EQ(bodyCount(), before);
}

// ---- the level body and the world box ----

float g_hit = 2.0f;
float nearestHit(dgBody*, const float*, uint32_t, void*, float t) {
    g_hit = std::min(g_hit, t);
    return t;
}

// Height of whatever the world has under (x, z), by a ray cast down.
float groundAt(float x, float z) {
    const float top[3] = {x, -100.0f, z};
    const float bottom[3] = {x, -6100.0f, z};
    g_hit = 2.0f;
    dgWorldRayCast(physicsWorld, top, bottom, nearestHit, nullptr, nullptr);
    return -100.0f - 6000.0f * g_hit;
}

// The level body's own copy of the terrain: its surface over every grid
// point stands where the height map says (raw x 0.25 - 12000), also after
// the terrain node is gone; between the grid points it is the physics tests'
// copy of the sea floor (the same two triangles a cell).
TEST_F(GlueWorld, LevelSurfaceStandsAtTheHeightMapsHeights) {
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(dgBodyGetUserData(level), &terrain);
    EXPECT_EQ(dgBodyGetMaterialGroupId(level), uint32_t(physics.getLevelGroup()));
    globals.terrainNode->remove();
    HeightMap map("media/terrain/map257x257.raw", 16);
    ASSERT_EQ(map.getSize(), 257);
    int32_t differing = 0;
    for (int32_t i = 0; i < 257; ++i) {
        for (int32_t j = 0; j < 257; ++j) {
            // A ray exactly in the world box's lowest x face misses: 1 mm in.
            const vector3df at(std::max(TERRAIN_SCALE_XZ * float(i), 0.001f), 0.0f, TERRAIN_SCALE_XZ * float(j));
            differing += std::fabs(groundAt(at.X, at.Z) - map.getHeight(at)) > 0.01f ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    const std::vector<uint16_t> raw = gameterrain::loadHeightMap("media/terrain/map257x257.raw");
    std::mt19937 random(8);
    std::uniform_real_distribution<float> across(1.0f, 5119.0f);
    for (int32_t n = 0; n < 2000; ++n) {
        const float x = across(random);
        const float z = across(random);
        ASSERT_NEAR(groundAt(x, z), gameterrain::surfaceHeight(raw, x, z), 0.01f) << x << ", " << z;
    }
}

// The world box spans the terrain and reaches up to y = 0: debris wholly
// outside it stays frozen where it is; debris inside sinks. A ship that
// leaves it is put back just inside with its outward speed gone.
TEST_F(GlueWorld, DebrisOutsideTheWorldBoxFreezesAndAShipIsPutBack) {
    const vector3df places[] = {{2560, 2, 3760},   {2560, -2, 3760},   {-2, -3000, 3760},
                                {5122, -3000, 3760}, {2560, -3000, -2}, {2560, -3000, 5122}};
    const bool inside[] = {false, true, false, false, false, false};
    const ShipTuning tuning;
    for (size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        const vector3df p = places[k];
        Adopting<Trash> debris("trash", p, vector3df(), vector3df(2.5f, 2.5f, 2.5f), -1);
        debris.adopt(physics.createTrashBody(&debris, p, vector3df(), vector3df(2.5f, 2.5f, 2.5f), 1.0f, 0.7f,
                                            vector3df(0.25f, 0.25f, 0.25f)));
        step(30);
        const vector3df piece = bodyPosition(debris.getBody());
        EXPECT_EQ(piece == p, !inside[k]);
        EXPECT_EQ(piece.Y < p.Y, inside[k]);
        physics.destroyTrashBody(&debris);

        Adopting<Ship> ship(false, "Enemy", L"", L"", p, vector3df(), vector3df(6, 3, 10), 10.0f, 0.5f,
                            SCOUT_ANGULAR_DAMPING, tuning, -1);
        ship.adopt(physics.createShipBody(&ship, p, vector3df(), vector3df(6, 3, 10), 10.0f, 0.5f,
                                          SCOUT_ANGULAR_DAMPING));
        dgBodySetForceAndTorqueCallback(ship.getBody(), coast);
        const float outward[3] = {p.X < 0 ? -10.0f : p.X > 5120 ? 10.0f : 0.0f, p.Y > 0 ? 10.0f : 0.0f,
                                  p.Z < 0 ? -10.0f : p.Z > 5120 ? 10.0f : 0.0f};
        dgBodySetVelocity(ship.getBody(), outward);
        step(30);
        float lo[3], hi[3], v[3];
        dgBodyGetAABB(ship.getBody(), lo, hi);
        dgBodyGetVelocity(ship.getBody(), v);
        EXPECT_TRUE(lo[0] >= 0.0f && hi[0] <= 5120.0f && hi[1] <= 0.0f && lo[2] >= 0.0f && hi[2] <= 5120.0f);
        EXPECT_EQ(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 0.0f);
        EXPECT_EQ(ship.getPosition(), bodyPosition(ship.getBody()));
        const float down[3] = {0.0f, -1.0f, 0.0f};
        dgBodySetVelocity(ship.getBody(), down);
        step(1);
        EXPECT_LT(bodyPosition(ship.getBody()).Y, ship.getPosition().Y + 1e-3f) << "awake again";
        EXPECT_LT(bodyPosition(ship.getBody()).Y, hi[1] - 1.5f);
        physics.destroyShipBody(&ship);
    }
}

// The player's ship flying straight up at full thrust (the ship's force
// step: thrust x mass x step while submerged; a sinking force of 5 x mass
// once above y = -60, until below y = -70) peaks far below the surface, so it
// never leaves the world box there.
struct Climb {
    bool surfaced = false;
    float peak = -1.0e9f;
};
Climb g_climb;

void fullThrust(dgBody* body) {
    float m[16];
    dgBodyGetMatrix(body, m);
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    g_climb.surfaced = m[13] > -60.0f || (g_climb.surfaced && m[13] >= -70.0f);
    g_climb.peak = std::max(g_climb.peak, m[13]);
    const float thrust = 1000.0f * mass * dgWorldGetTimeStep(dgBodyGetWorld(body));
    const float sinking[3] = {0.0f, -5.0f * mass, 0.0f};
    const float ahead[3] = {m[8] * thrust, m[9] * thrust, m[10] * thrust};
    dgBodySetForce(body, g_climb.surfaced ? sinking : ahead);
}

TEST_F(GlueWorld, ShipAtFullThrustStaysBelowTheSurface) {
    const ShipTuning tuning;
    const vector3df up(-90, 0, 0);
    Adopting<Ship> ship(true, "Scout", L"SX271", L"Scout", vector3df(2560, -2000, 3760), up, vector3df(6, 3, 10),
                        10.0f, 0.5f, SCOUT_ANGULAR_DAMPING, tuning, -1);
    ship.adopt(physics.createShipBody(&ship, vector3df(2560, -2000, 3760), up, vector3df(6, 3, 10), 10.0f, 0.5f,
                                      SCOUT_ANGULAR_DAMPING));
    dgBodySetForceAndTorqueCallback(ship.getBody(), fullThrust);
    g_climb = Climb();
    step(60 * 200);
    EXPECT_LT(g_climb.peak, -30.0f);
    EXPECT_GT(g_climb.peak, -60.0f) << "it surfaced";
}

// ---- transforms ----

// The entity's angles, through the engine's rotation set-up, give back the
// body's rotation: at (10, 80, 0), where a ship of the game starts, and at
// random rotations; the node follows within the same step.
TEST_F(GlueWorld, TransformCallbacksReproduceTheBodysRotation) {
    Marker marker(globals.sceneManager->addEmptySceneNode());
    dgBody* body = physics.createTrashBody(&marker, vector3df(2560, -3000, 3760), vector3df(10, 80, 0),
                                           vector3df(1, 1, 1), 1, 0.7f, vector3df(0.25f, 0.25f, 0.25f));
    const float omega[3] = {0.3f, -1.1f, 0.7f};
    dgBodySetOmega(body, omega);
    std::mt19937 random(23);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    float worst = 0.0f;
    for (int32_t k = 0; k < 3000; ++k) {
        if (k > 0) {
            // Every fourth pitch within a degree of +-90, where Euler angles lock.
            const float pitch = (k % 4 == 0) ? 90.0f * float(k % 8 == 0 ? 1 : -1) + angle(random) / 360.0f
                                             : angle(random);
            const vector3df turn(angle(random), pitch, angle(random));
            dgBodySetMatrix(body, irr::core::matrix4().setRotationDegrees(turn).setTranslation(marker.getPosition())
                                      .pointer());
        }
        step(1);
        float m[16];
        dgBodyGetMatrix(body, m);
        worst = std::max(worst, rotationGap(marker.getRotation(), m));
        const irr::core::matrix4& shown = marker.getNode()->getAbsoluteTransformation();
        ASSERT_EQ(shown.getTranslation(), bodyPosition(body));
        ASSERT_EQ(marker.getNode()->getRotation(), marker.getRotation());
        ASSERT_EQ(marker.getPosition(), bodyPosition(body));
    }
    EXPECT_LT(worst, 1e-4f);
}

// ---- contacts ----

// One scripted meeting: A flies into B (placed at rest). After the step in
// which they first touch, the pair's rules have run once; the dead are taken
// out as their owners would, and a movable B is pushed on: the contact held.
enum Kind { SHIP, TORPEDO, TRASH, STATION, LEVEL, ORPHAN };

struct Meeting {
    Kind a;
    Kind b;
    bool aDead;
    bool bDead;
    float hullLost;    // of whichever is a ship
    bool passesLevel;  // A sinks through the sea floor
};

class Meetings : public GlueWorld, public ::testing::WithParamInterface<Meeting> {};

TEST_P(Meetings, RulesRunOncePerPairAndTheContactHolds) {
    const Meeting meeting = GetParam();
    const ShipTuning tuning;
    const vector3df floor(2600, -4000, 3800);  // the flat valley floor
    const vector3df atB = floor + vector3df(0, 8, 0);
    const vector3df atA = (meeting.b == LEVEL) ? floor + vector3df(0, 3, 0) : atB + vector3df(0, 0, -7);
    const vector3df size(2, 2, 2);
    std::vector<Object*> objects;
    auto make = [&](Kind kind, const vector3df& at) -> Object* {
        const vector3df still;
        dgBody* made = nullptr;
        if (kind == SHIP || kind == ORPHAN) {
            auto* ship = new Adopting<Ship>(false, "Enemy", L"", L"", at, still, size, 10, 0, still, tuning, -1);
            ship->adopt(made = physics.createShipBody(ship, at, still, size, 10.0f, 0.0f, still));
            objects.push_back(ship);
        } else if (kind == TORPEDO) {
            auto* torpedo = new Adopting<Torpedo>(at, still, 30000, -1, size, nullptr, -1);
            torpedo->adopt(made = physics.createTorpedoBody(torpedo, at, still, size));
            objects.push_back(torpedo);
        } else if (kind == TRASH) {
            auto* trash = new Adopting<Trash>("trash", at, still, size, -1);
            trash->adopt(made = physics.createTrashBody(trash, at, still, size, 1.0f, 0.0f, still));
            objects.push_back(trash);
        } else if (kind == STATION) {
            auto* station = new Adopting<Station>("X10", at, still, size, -1);
            station->adopt(physics.createStaticBody(station, at, still, size));
            objects.push_back(station);
        } else {
            return &terrain;
        }
        if (made != nullptr) {
            dgBodySetForceAndTorqueCallback(made, coast);
            dgBodySetLinearDamping(made, 0.0f);
            dgBodySetUserData(made, kind == ORPHAN ? nullptr : objects.back());
        }
        return objects.back();
    };
    Object* b = make(meeting.b, atB);
    Object* a = make(meeting.a, atA);
    dgBody* bodyA = a->getBody();
    const vector3df towards = (meeting.b == LEVEL) ? vector3df(0, -10, 0) : vector3df(0, 0, 10);
    const float velocity[3] = {towards.X, towards.Y, towards.Z};
    dgBodySetVelocity(bodyA, velocity);
    bool touched = false;
    for (int32_t k = 0; k < 120 && !touched; ++k) {
        step(1);
        touched = a->isDead() || b->isDead() || (meeting.a == SHIP && static_cast<Ship*>(a)->getHull() < 1000) ||
                  (meeting.b == SHIP && static_cast<Ship*>(b)->getHull() < 1000);
    }
    EXPECT_EQ(a->isDead(), meeting.aDead);
    EXPECT_EQ(b->isDead(), meeting.bDead);
    for (Object* o : {a, b}) {
        if (o->getType() == OBJECT_SHIP) {
            EXPECT_EQ(static_cast<Ship*>(o)->getHull(), 1000.0f - meeting.hullLost);
        }
        if (o->isDead()) {
            physics.destroyTorpedoBody(o);
        }
    }
    step(60);
    if (b->getBody() != nullptr && dgBodyGetForceAndTorqueCallback(b->getBody()) != nullptr) {
        float v[3];
        dgBodyGetVelocity(b->getBody(), v);
        EXPECT_GT(v[0] * towards.X + v[1] * towards.Y + v[2] * towards.Z, 0.0f) << "B pushed on";
    }
    if (bodyA != nullptr && a->getBody() != nullptr) {
        EXPECT_EQ(bodyPosition(bodyA).Y < floor.Y - 5.0f, meeting.passesLevel);
    }
    for (Object* o : objects) {
        delete o;
    }
}

INSTANTIATE_TEST_SUITE_P(
    GlueWorld, Meetings,
    ::testing::Values(Meeting{TORPEDO, SHIP, true, false, 600, false}, Meeting{TORPEDO, LEVEL, true, false, 0, false},
                      Meeting{TORPEDO, STATION, true, false, 0, false}, Meeting{TORPEDO, TRASH, true, true, 0, false},
                      Meeting{TORPEDO, TORPEDO, false, false, 0, false}, Meeting{SHIP, TRASH, false, false, 0, false},
                      Meeting{SHIP, SHIP, false, false, 0, false}, Meeting{ORPHAN, LEVEL, false, false, 0, true}));

// Every contact point of a pair is kept, while the rules run once per pair
// and pass: a torpedo pressed flat on a ship costs it 600 per pass it
// touches, however many points hold it.
struct PassLog {
    int32_t passes = 0;      // passes with a point
    int32_t points = 0;      // points offered
    int32_t kept = 0;        // points kept
    int32_t inPass = 0;      // points of the current pass
    int32_t mostInPass = 0;  // the most points of one pass
};
PassLog g_pass;

int32_t countBegin(dgMaterialPair* pair, dgBody* a, dgBody* b) {
    g_pass.inPass = 0;
    return Physics::contactBegin(pair, a, b);
}
int32_t countProcess(dgMaterialPair* material, dgContact* contact) {
    ++g_pass.points;
    ++g_pass.inPass;
    const int32_t keep = Physics::contactProcess(material, contact);
    g_pass.kept += keep;
    return keep;
}
void countEnd(dgMaterialPair* pair) {
    g_pass.passes += g_pass.inPass > 0 ? 1 : 0;
    g_pass.mostInPass = std::max(g_pass.mostInPass, g_pass.inPass);
    Physics::contactEnd(pair);
}

TEST_F(GlueWorld, EveryContactPointIsKeptAndRulesRunOncePerPass) {
    const uint32_t ships = uint32_t(physics.getShipGroup());
    const uint32_t torpedoes = uint32_t(physics.getTorpedoGroup());
    auto* handler = static_cast<PhysicsMaterialPairHandler*>(dgMaterialGetUserData(physicsWorld, torpedoes, ships));
    dgMaterialSetCollisionCallback(physicsWorld, torpedoes, ships, handler, countBegin, countProcess, countEnd);
    const ShipTuning tuning;
    const vector3df at(2600, -3000, 3800);
    Adopting<Ship> ship(false, "Enemy 3", L"", L"", at, vector3df(), vector3df(36, 10, 16), 100.0f, 0.5f,
                        SCOUT_ANGULAR_DAMPING, tuning, -1);
    ship.adopt(physics.createShipBody(&ship, at, vector3df(), vector3df(36, 10, 16), 100.0f, 0.5f,
                                      SCOUT_ANGULAR_DAMPING));
    Adopting<Torpedo> torpedo(at, vector3df(), 30000, -1, vector3df(4, 1, 4), nullptr, -1);
    torpedo.adopt(physics.createTorpedoBody(&torpedo, at + vector3df(0, 5.45f, 0), vector3df(), vector3df(4, 1, 4)));
    dgBodySetForceAndTorqueCallback(ship.getBody(), coast);
    dgBodySetForceAndTorqueCallback(torpedo.getBody(), coast);
    const float down[3] = {0.0f, -1.0f, 0.0f};
    dgBodySetVelocity(torpedo.getBody(), down);
    g_pass = PassLog();
    step(10);
    EXPECT_GT(g_pass.passes, 0);
    EXPECT_GE(g_pass.mostInPass, 2);
    EXPECT_EQ(g_pass.kept, g_pass.points);
    EXPECT_EQ(ship.getHull(), 1000.0f - 600.0f * float(g_pass.passes));
    EXPECT_TRUE(torpedo.isDead());
    EXPECT_EQ(handler->objectA, nullptr);
}

// ---- debug drawing ----

struct Line {
    vector3df start, end;
    irr::video::SColor colour;
};
std::vector<Line> g_lines;
size_t g_draws = 0;
void recordLines(const irr::video::S3DVertex* vertices, irr::u32 vertexCount, const irr::u32* indices,
                 irr::u32 lineCount) {
    ++g_draws;
    for (irr::u32 k = 0; k < 2 * lineCount; k += 2) {
        ASSERT_LT(indices[k], vertexCount);
        ASSERT_LT(indices[k + 1], vertexCount);
        const irr::video::S3DVertex& a = vertices[indices[k]];
        const irr::video::S3DVertex& b = vertices[indices[k + 1]];
        g_lines.push_back({a.Pos, b.Pos, a.Color == b.Color ? a.Color : irr::video::SColor(0)});
    }
}

// Mode 1 outlines every body but the level, mode 2 the level too (two
// triangles a cell), 0 and 3 nothing; every outline is yellow and closed.
// The lines go to the driver as one list for the moving bodies and one for
// the level, which is made once and drawn the same every frame.
TEST_F(GlueWorld, DebugDrawingOutlinesTheBodiesTheModeShowsInOneListEach) {
    Object owner(OBJECT_TRASH, "owner", vector3df(1, 1, 1));
    physics.createTrashBody(&owner, vector3df(2560, -3000, 3760), vector3df(10, 20, 30), vector3df(2, 3, 4), 1, 0.7f,
                            vector3df(0.25f, 0.25f, 0.25f));
    Physics::setDebugLineSink(recordLines);
    std::vector<size_t> counts;
    std::vector<size_t> draws;
    std::vector<std::vector<Line>> levels;  // mode 2's frames
    for (int32_t mode : {0, 1, 2, 0, 2, 3}) {
        globals.debugDrawMode = mode;
        g_lines.clear();
        g_draws = 0;
        physics.update(1.0f / 60.0f);
        counts.push_back(g_lines.size());
        draws.push_back(g_draws);
        // Outlines run in order: a polygon closes where it started.
        size_t first = 0;
        int32_t open = 0;
        for (size_t k = 0; k < g_lines.size(); ++k) {
            open += g_lines[k].colour != irr::video::SColor(255, 255, 255, 0) ? 1 : 0;
            if (g_lines[k].end == g_lines[first].start) {
                first = k + 1;
            } else if (k + 1 == g_lines.size() || !(g_lines[k].end == g_lines[k + 1].start)) {
                ++open;
            }
        }
        EXPECT_EQ(open, 0) << mode;
        EXPECT_EQ(first, g_lines.size());
        if (mode == 2) {
            // The level's list comes first; the box sinks between frames.
            levels.emplace_back(g_lines.begin(), g_lines.begin() + 3 * 2 * 256 * 256);
        }
    }
    Physics::setDebugLineSink(nullptr);
    EXPECT_TRUE(std::equal(levels[0].begin(), levels[0].end(), levels[1].begin(),
                           [](const Line& a, const Line& b) { return a.start == b.start && a.end == b.end; }));
    // No list drawn, no line: modes 0 and 3 outline nothing.
    EXPECT_EQ(draws, (std::vector<size_t>{0, 1, 2, 0, 2, 0}));
    EXPECT_GE(counts[1], 12u);  // the box's edges, each face's at least once
    EXPECT_EQ(counts[2], counts[1] + 3u * 2u * 256u * 256u);
    EXPECT_EQ(counts[4], counts[2]);
}

}  // namespace
