// The emission rule and the five emitter kinds, over scripted and sequence
// random sources: no device.
#include "ParticleTestSupport.h"

#include "client/engine/CParticleBoxEmitter.h"
#include "client/engine/CParticleMeshEmitter.h"
#include "client/engine/CParticlePointEmitter.h"
#include "client/engine/CParticleRingEmitter.h"
#include "client/engine/CParticleSphereEmitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

using namespace particletest;
using irr::core::vector3df;
using irr::video::SColor;
namespace ts = tarnwell::scene;

namespace {

struct BatchRun {
    const char* name;
    u32 minPerSecond;
    u32 maxPerSecond;
    u32 r;  // every draw
    std::vector<u32> elapsed;
    std::vector<u32> batches;
};

class EmissionBatches : public testing::TestWithParam<BatchRun> {};

TEST_P(EmissionBatches, FollowTheRateAndTheCap) {
    const BatchRun& run = GetParam();
    ScriptedRandom random({run.r});
    ts::ScopedRandomSource scoped(random);
    u32 accumulated = 0;
    for (size_t i = 0; i < run.elapsed.size(); ++i) {
        EXPECT_EQ(ts::emissionBatch(accumulated, run.elapsed[i], run.minPerSecond, run.maxPerSecond),
                  run.batches[i])
            << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rule, EmissionBatches,
    testing::Values(
        BatchRun{"OneSecondAtFiftyGivesFifty", 50, 50, 0, {1000}, {50}},
        // Interval 100 ms: 40, 80, then 120 ms gives 1.7, truncated.
        BatchRun{
            "FortyMsStepsAtTenGiveOneEveryThird", 10, 10, 0, {40, 40, 40, 40, 40, 40}, {0, 0, 1, 0, 0, 1}},
        BatchRun{"ZeroPerSecondNeverEmits", 0, 0, 0, {1000, 100000, 4000000000u}, {0, 0, 0}},
        BatchRun{"ADrawnRateOfZeroEmitsNothingYet", 0, 10, 20, {1000}, {0}},
        BatchRun{"BatchIsCappedAtTwiceTheMaximum", 5, 10, 0, {60000}, {20}},
        BatchRun{"DrawnRateLiesBetween", 10, 20, 5, {1000}, {15}},
        // Interval 1/3 ms: a whole-millisecond interval would be 0.
        BatchRun{"FastRatesEmitSeveralPerMillisecond", 3000, 3000, 0, {1}, {3}},
        // 10 + 45 mod 90 = 55 per second; a wrapped difference
        // would give 145 capped at 20.
        BatchRun{"ReversedRatesDrawBetweenThem", 100, 10, 45, {1000}, {55}},
        BatchRun{"HugeRatesStayInRange", 0x80000000u, 0x80000000u, 0, {1000}, {INT32_MAX}}),
    [](const testing::TestParamInfo<BatchRun>& info) { return std::string(info.param.name); });

TEST(EmissionBatches, KeepGatheringUntilAnIntervalPassesThenStartAgain) {
    SequenceRandom random(7);
    ts::ScopedRandomSource scoped(random);
    SequenceRandom inputs(99);
    for (int i = 0; i < 20000; ++i) {
        u32 accumulated = inputs.next() % 5000;
        const u32 before = accumulated;
        const u32 elapsed = inputs.next() % 300;
        const u32 low = inputs.next() % 200;
        const u32 high = low + inputs.next() % 200;
        const u32 batch = ts::emissionBatch(accumulated, elapsed, low, high);
        ASSERT_LE(batch, 2 * high);
        if (batch == 0) {
            ASSERT_EQ(accumulated, before + elapsed);
        } else {
            ASSERT_EQ(accumulated, 0u);
            // A batch comes only once more than one interval of the fastest
            // rate has gathered.
            ASSERT_GT(static_cast<double>(before + elapsed) * high, 1000.0 * (1.0 - 1e-6));
        }
    }
}

// Every kind of emitter over every setting, checked particle by particle.
enum class Velocity {
    KEEPS,    // the direction
    SPREADS,  // the direction turned by up to the maximum angle
    OWN,      // the kind's own (mesh normals), checked by `placed`
};

struct EmitterKind {
    const char* name;
    std::function<ts::IParticleEmitter*(const ParticleEmissionSettings&)> make;
    // Whether the particle starts where its kind puts particles.
    std::function<bool(const SParticle&)> placed;
    Velocity velocity;
};

irr::scene::SMesh* threeBufferMesh() {
    irr::scene::SMesh* mesh = new irr::scene::SMesh();
    irr::scene::SMeshBuffer* standard = new irr::scene::SMeshBuffer();
    standard->Vertices.push_back(irr::video::S3DVertex(1, 2, 3, 0, 0, 1, SColor(0), 0, 0));
    standard->Vertices.push_back(irr::video::S3DVertex(-4, 0, 2, 1, 0, 0, SColor(0), 0, 0));
    irr::scene::SMeshBufferLightMap* twoCoords = new irr::scene::SMeshBufferLightMap();
    twoCoords->Vertices.push_back(irr::video::S3DVertex2TCoords(5, 5, 5, SColor(0), 0, 0, 0, 0));
    twoCoords->Vertices[0].Normal = vector3df(0, 1, 0);
    irr::scene::SMeshBufferTangents* tangents = new irr::scene::SMeshBufferTangents();
    tangents->Vertices.push_back(irr::video::S3DVertexTangents(-7, 8, -9, 0, -1, 0));
    for (irr::scene::IMeshBuffer* buffer :
         std::initializer_list<irr::scene::IMeshBuffer*>{standard, twoCoords, tangents}) {
        mesh->addMeshBuffer(buffer);
        buffer->drop();
    }
    return mesh;
}

bool atMeshVertex(const SParticle& p) {
    static const vector3df vertices[][2] = {
        {{1, 2, 3}, {0, 0, 1}}, {{-4, 0, 2}, {1, 0, 0}}, {{5, 5, 5}, {0, 1, 0}}, {{-7, 8, -9}, {0, -1, 0}}};
    return std::any_of(std::begin(vertices), std::end(vertices), [&p](const vector3df(&v)[2]) {
        return p.pos == v[0] && p.vector.equals(v[1] / 100.0f);
    });
}

bool onRing(const SParticle& p, f32 radius, f32 thickness) {
    const double out = std::hypot(p.pos.X - 1.0, p.pos.Z - 2.0) / std::sqrt(2.0);
    return p.pos.Y == 3.0f && out >= radius - thickness / 2 - 1e-4 && out <= radius + thickness / 2 + 1e-4;
}

irr::scene::SMesh* const kMesh = threeBufferMesh();
const vector3df kCenter(1, 2, 3);

const EmitterKind kKinds[] = {
    {"Point", [](const ParticleEmissionSettings& s) { return new ts::CParticlePointEmitter(s); },
     [](const SParticle& p) { return p.pos == vector3df(); }, Velocity::SPREADS},
    {"Box",
     [](const ParticleEmissionSettings& s) {
         return new ts::CParticleBoxEmitter(irr::core::aabbox3df(-20, -50, 10, 20, 0, 150), s);
     },
     [](const SParticle& p) { return irr::core::aabbox3df(-20, -50, 10, 20, 0, 150).isPointInside(p.pos); },
     Velocity::SPREADS},
    {"FlatBox",
     [](const ParticleEmissionSettings& s) {
         return new ts::CParticleBoxEmitter(irr::core::aabbox3df(0, 4, 0, 3, 4, 1), s);
     },
     [](const SParticle& p) {
         return p.pos.Y == 4.0f && p.pos.X >= 0 && p.pos.X < 3 && p.pos.Z >= 0 && p.pos.Z < 1;
     },
     Velocity::SPREADS},
    {"Sphere",
     [](const ParticleEmissionSettings& s) { return new ts::CParticleSphereEmitter(kCenter, 2.0f, s); },
     [](const SParticle& p) { return p.pos.getDistanceFrom(kCenter) <= 2.0f * std::sqrt(3.0f) + 1e-4f; },
     Velocity::KEEPS},
    {"PointSphere",
     [](const ParticleEmissionSettings& s) { return new ts::CParticleSphereEmitter(kCenter, 0.0f, s); },
     [](const SParticle& p) { return p.pos == kCenter; }, Velocity::KEEPS},
    {"Ring",
     [](const ParticleEmissionSettings& s) {
         return new ts::CParticleRingEmitter(vector3df(1, 3, 2), 5.0f, 2.0f, s);
     },
     [](const SParticle& p) { return onRing(p, 5.0f, 2.0f); }, Velocity::SPREADS},
    {"ThinRing",
     [](const ParticleEmissionSettings& s) {
         return new ts::CParticleRingEmitter(vector3df(1, 3, 2), 5.0f, 0.0f, s);
     },
     [](const SParticle& p) { return onRing(p, 5.0f, 0.0f); }, Velocity::SPREADS},
    {"MeshVertices",
     [](const ParticleEmissionSettings& s) {
         return new ts::CParticleMeshEmitter(kMesh, true, 100.0f, -1, false, s);
     },
     atMeshVertex, Velocity::OWN},
};

struct SettingsCase {
    const char* name;
    ParticleEmissionSettings settings;
};

const SettingsCase kSettings[] = {
    {"Spread", settings(500, 1000, 300, 900, vector3df(0, 0.01f, 0.02f), 20)},
    {"FixedRateAndLife", settings(700, 700, 500, 500, vector3df(0.03f, 0, 0))},
    {"ReversedRatesAndLives", settings(1000, 500, 3000, 1000, vector3df(0, 0, -0.01f), 90)},
};

bool channelBetween(u32 value, u32 a, u32 b) {
    return value >= std::min(a, b) && value <= std::max(a, b);
}

class EmitterParticles : public testing::TestWithParam<std::tuple<EmitterKind, SettingsCase>> {};

TEST_P(EmitterParticles, StartWhereTheirKindSaysWithDrawnLivesColoursAndSpreads) {
    const EmitterKind& kind = std::get<0>(GetParam());
    const ParticleEmissionSettings& s = std::get<1>(GetParam()).settings;
    SequenceRandom random(3);
    ts::ScopedRandomSource scoped(random);
    ts::IParticleEmitter* emitter = kind.make(s);
    const u32 lifeLow = std::min(s.minLifeTime, s.maxLifeTime);
    const u32 lifeHigh = std::max(s.minLifeTime, s.maxLifeTime);
    size_t total = 0;
    for (u32 step = 0; step < 40; ++step) {
        SParticle* batch = nullptr;
        const u32 now = 5000 + step * 250;
        const irr::s32 count = emitter->emitt(now, 250, batch);
        ASSERT_LE(count,
                  static_cast<irr::s32>(2 * std::max(s.minParticlesPerSecond, s.maxParticlesPerSecond)));
        total += static_cast<size_t>(count);
        for (irr::s32 i = 0; i < count; ++i) {
            const SParticle& p = batch[i];
            SCOPED_TRACE(testing::Message() << "step " << step << " particle " << i);
            ASSERT_TRUE(kind.placed(p)) << p.pos.X << " " << p.pos.Y << " " << p.pos.Z;
            ASSERT_EQ(p.startTime, now);
            const u32 life = p.endTime - p.startTime;
            ASSERT_TRUE(life == lifeLow || (life > lifeLow && life < lifeHigh)) << life;
            ASSERT_EQ(p.startColor, p.color);
            ASSERT_TRUE(
                channelBetween(p.color.getAlpha(), s.minStartColor.getAlpha(), s.maxStartColor.getAlpha()));
            ASSERT_TRUE(channelBetween(p.color.getRed(), s.minStartColor.getRed(), s.maxStartColor.getRed()));
            ASSERT_TRUE(
                channelBetween(p.color.getGreen(), s.minStartColor.getGreen(), s.maxStartColor.getGreen()));
            ASSERT_TRUE(
                channelBetween(p.color.getBlue(), s.minStartColor.getBlue(), s.maxStartColor.getBlue()));
            ASSERT_EQ(p.startVector, p.vector);
            if (kind.velocity == Velocity::OWN) {
                continue;
            }
            if (kind.velocity == Velocity::KEEPS || s.maxAngleDegrees == 0) {
                ASSERT_EQ(p.vector, s.direction);
            } else {
                // Three turns of at most m degrees each turn it by at most 3m.
                ASSERT_NEAR(p.vector.getLength(), s.direction.getLength(), 1e-6);
                const double cosine = p.vector.dotProduct(s.direction) / s.direction.getLengthSQ();
                ASSERT_GE(cosine, std::cos(std::min(180.0, 3.0 * s.maxAngleDegrees) * M_PI / 180.0) - 1e-5);
            }
        }
    }
    EXPECT_GT(total, 1000u);
    emitter->drop();
}

INSTANTIATE_TEST_SUITE_P(Kinds, EmitterParticles,
                         testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kSettings)),
                         [](const testing::TestParamInfo<std::tuple<EmitterKind, SettingsCase>>& info) {
                             return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

// Start positions from scripted draws, worked by hand.
struct StartCase {
    const char* name;
    std::function<vector3df()> start;
    std::vector<u32> draws;
    vector3df expected;
};

class StartPositions : public testing::TestWithParam<StartCase> {};

TEST_P(StartPositions, FollowTheirDraws) {
    ScriptedRandom random(GetParam().draws);
    ts::ScopedRandomSource scoped(random);
    const vector3df pos = GetParam().start();
    EXPECT_TRUE(pos.equals(GetParam().expected, 1e-5f)) << pos.X << " " << pos.Y << " " << pos.Z;
    EXPECT_EQ(random.draws, GetParam().draws.size());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StartPositions,
    testing::Values(StartCase{"BoxWrapsEachAxisIntoItsExtent",
                              [] {
                                  return ts::boxStartPosition(irr::core::aabbox3df(-20, -50, 10, 20, 0, 150));
                              },
                              {45, 45, 45},
                              vector3df(-15, -5, 55)},
                    // 1.999 along each axis, unturned: 1.999 x sqrt(3) = 3.46 out, past
                    // the radius of 2.
                    StartCase{"SphereReachesBeyondItsRadius",
                              [] { return ts::sphereStartPosition(vector3df(1, 1, 1), 2.0f); },
                              {1999, 0, 360, 720},
                              vector3df(2.999f, 2.999f, 2.999f)},
                    StartCase{"SphereTurnsAboutItsCentre",
                              [] { return ts::sphereStartPosition(vector3df(0, 0, 5), 1.0f); },
                              {500, 90, 0, 0},
                              vector3df(-0.5f, 0.5f, 5.5f)},
                    // 4 mod 1.5 = 1, negated by the odd draw: 5 - 1 = 4; a quarter turn
                    // about Y carries (4, 0, 4) to (-4, 0, 4).
                    StartCase{"RingOffsetSignAndTurn",
                              [] { return ts::ringStartPosition(vector3df(), 5.0f, 3.0f); },
                              {4, 1, 900},
                              vector3df(-4, 0, 4)}),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST(EmittedColours, BlendTheTwoStartColoursByTheDrawnHundredths) {
    // Blue impact colours; one particle per call.
    ParticleEmissionSettings s = settings(1, 1, 400, 400);
    s.minStartColor = SColor(0, 0, 100, 200);
    s.maxStartColor = SColor(0, 50, 100, 255);
    const struct {
        u32 draw;
        SColor expected;
    } cases[] = {{0, SColor(0, 50, 100, 255)},
                 {50, SColor(0, 25, 100, 227)},
                 {99, SColor(0, 0, 100, 200)},
                 {150, SColor(0, 25, 100, 227)}};
    for (const auto& c : cases) {
        ScriptedRandom random({c.draw});
        ts::ScopedRandomSource scoped(random);
        ts::CParticlePointEmitter emitter(s);
        SParticle* batch = nullptr;
        ASSERT_EQ(emitter.emitt(0, 1001, batch), 1);
        EXPECT_EQ(batch[0].color, c.expected) << c.draw;
        EXPECT_EQ(batch[0].endTime, 400u);
        // Fixed rate and life, no spread: the colour is the only draw.
        EXPECT_EQ(random.draws, 1u);
    }
}

struct MeshCase {
    const char* name;
    std::function<irr::scene::IMesh*()> mesh;
    irr::s32 bufferNumber;
    bool everyVertex;
    std::vector<vector3df> positions;  // of one batch of two, in order; empty: drawn
    size_t count;
};

irr::scene::IMesh* emptyBufferFirst() {
    irr::scene::SMesh* mesh = new irr::scene::SMesh();
    irr::scene::SMeshBuffer* empty = new irr::scene::SMeshBuffer();
    mesh->addMeshBuffer(empty);
    empty->drop();
    irr::scene::SMeshBuffer* one = new irr::scene::SMeshBuffer();
    one->Vertices.push_back(irr::video::S3DVertex(6, 6, 6, 0, 1, 0, SColor(0), 0, 0));
    mesh->addMeshBuffer(one);
    one->drop();
    return mesh;
}

class MeshEmitterBatches : public testing::TestWithParam<MeshCase> {};

TEST_P(MeshEmitterBatches, TakeOnlyVerticesThatExist) {
    const MeshCase& c = GetParam();
    // Draws alternate between even and odd: buffer 0 then 1 of a drawn pair.
    // Drawn buffers: 1 (then vertex 0 and a colour), then 0.
    ScriptedRandom random({1, 0, 0, 2});
    ts::ScopedRandomSource scoped(random);
    irr::scene::IMesh* mesh = c.mesh();
    ts::CParticleMeshEmitter emitter(mesh, false, 0.0f, c.bufferNumber, c.everyVertex,
                                     settings(2, 2, 100, 100, vector3df(0, 0, 1)));
    EXPECT_EQ(emitter.getNormalDirectionModifier(), 100.0f);
    SParticle* batch = nullptr;
    const irr::s32 count = emitter.emitt(0, 1000, batch);
    ASSERT_EQ(static_cast<size_t>(count), c.count);
    for (size_t i = 0; i < c.positions.size(); ++i) {
        EXPECT_EQ(batch[i].pos, c.positions[i]) << i;
        EXPECT_EQ(batch[i].vector, vector3df(0, 0, 1));
    }
    if (mesh != nullptr) {
        mesh->drop();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Guards, MeshEmitterBatches,
    testing::Values(
        MeshCase{"NullMeshEmitsNothing", [] { return nullptr; }, -1, false, {}, 0},
        MeshCase{"MeshWithoutBuffersEmitsNothing", [] { return new irr::scene::SMesh(); }, -1, false, {}, 0},
        MeshCase{"EmptyBufferGivesNoParticle", emptyBufferFirst, -1, false, {{6, 6, 6}}, 1},
        MeshCase{"BufferNumberBeyondTheMeshEmitsNothing", emptyBufferFirst, 5, false, {}, 0},
        MeshCase{"ChosenEmptyBufferEmitsNothing", emptyBufferFirst, 0, false, {}, 0},
        MeshCase{
            "EveryVertexOfEveryBufferPerParticle",
            [] {
                kMesh->grab();
                return kMesh;
            },
            0,
            true,
            {{1, 2, 3}, {-4, 0, 2}, {5, 5, 5}, {-7, 8, -9}, {1, 2, 3}, {-4, 0, 2}, {5, 5, 5}, {-7, 8, -9}},
            8}),
    [](const testing::TestParamInfo<MeshCase>& info) { return std::string(info.param.name); });

TEST(MeshEmitter, RefusesANormalModifierOfZero) {
    ts::CParticleMeshEmitter emitter(kMesh, true, 4.0f, -1, false, settings(1, 1, 1, 1));
    emitter.setNormalDirectionModifier(0.0f);
    emitter.setNormalDirectionModifier(std::nanf(""));
    EXPECT_EQ(emitter.getNormalDirectionModifier(), 4.0f);
    emitter.setNormalDirectionModifier(-2.0f);
    EXPECT_EQ(emitter.getNormalDirectionModifier(), -2.0f);
}

}  // namespace
