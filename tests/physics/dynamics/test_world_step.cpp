// The interface world: sub-steps of an update, body creation and
// destruction (immediate and deferred to the end of a sub-step), moving
// jointed bodies together, and a random sequence of world operations.
#include <gtest/gtest.h>

#include <fenv.h>
#include <fpu_control.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "WorldTestUtils.h"
#include "ShapeTestUtils.h"
#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgConstraint.h"
#include "dgWorld.h"

namespace {

using shapetest::HookGuard;
using shapetest::translation;
using shapetest::turned;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kSixtieth = 0.016666668f;

// What the callbacks saw, in order.
std::vector<std::string> g_log;

const char* nameOf(const dgBody* body) {
    return body->m_userData ? static_cast<const char*>(body->m_userData) : "?";
}

// A joint owned by the test; its release is logged and marks it dead.
class LoggedJoint : public dgConstraint {
public:
    explicit LoggedJoint(const char* name, bool bilateral = true) : m_name(name), m_bilateral(bilateral) {}
    void setDestructorCallback(dgConstraintDestructorCallback) override {}
    void release() override {
        g_log.push_back(std::string("release ") + m_name);
        ++m_releases;
        if (m_onRelease) {
            m_onRelease(this);
        }
    }
    bool isBilateral() const override { return m_bilateral; }
    int32_t submitRows(dgJointRowBlock&) override { return 0; }

    const char* m_name;
    bool m_bilateral;
    int32_t m_releases = 0;
    void (*m_onRelease)(LoggedJoint*) = nullptr;
};

void logDestructor(dgBody* body) {
    g_log.push_back(std::string("destroy ") + nameOf(body));
}
void logActivation(dgBody* body, uint32_t state) {
    g_log.push_back(std::string("activation ") + nameOf(body) + " " + std::to_string(state));
}

// Sets the world's sub-step state as a callback inside a running sub-step
// sees it.
class InsideSubStep {
public:
    explicit InsideSubStep(dgWorld* world) : m_world(dgApiWorldOf(world)) {
        m_world->m_updating |= dgApiWorld::kUpdatingStep | dgApiWorld::kUpdatingCall;
    }
    ~InsideSubStep() { m_world->m_updating = 0; }

private:
    dgApiWorld* m_world;
};

struct ApiWorld : public ::testing::Test {
    void SetUp() override {
        world = dgWorldCreate(nullptr, nullptr);
        shape = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
        g_log.clear();
    }
    void TearDown() override {
        dgReleaseCollision(world, shape);
        dgWorldDestroy(world);
    }
    dgBody* body(const char* name) {
        dgBody* b = dgCreateBody(world, shape);
        b->m_userData = const_cast<char*>(name);
        return b;
    }
    // Joints outlive the world, which destroys those still attached.
    LoggedJoint& joint(const char* name, bool bilateral = true) {
        joints.emplace_back(new LoggedJoint(name, bilateral));
        return *joints.back();
    }
    HookGuard guard;
    std::vector<std::unique_ptr<LoggedJoint>> joints;
    dgWorld* world = nullptr;
    dgCollision* shape = nullptr;
};

}  // namespace

// ---- sub-steps ----

struct PlanCase {
    const char* name;
    float elapsed;
    // Set first (0: none), then the rate under test (0: the default
    // maximum sub-step).
    float before;
    float minimumFrameRate;
    int32_t count;
    float subStep;
};

class UpdatePlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(UpdatePlan, StepsTheClampedTimeInEqualSubSteps) {
    const PlanCase& c = GetParam();
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    if (c.before != 0.0f) {
        dgWorldSetMinimumFrameRate(world, c.before);
    }
    if (c.minimumFrameRate != 0.0f) {
        dgWorldSetMinimumFrameRate(world, c.minimumFrameRate);
    }
    float subStep = 0.0f;
    EXPECT_EQ(dgWorldPlanUpdate(c.elapsed, dgApiWorldOf(world)->m_maxSubStep, &subStep), c.count);
    EXPECT_EQ(subStep, c.subStep);
    // Whatever rounding the caller left.
    for (const int rounding : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        const int saved = fegetround();
        fesetround(rounding);
        float other = 0.0f;
        const int32_t count = dgWorldPlanUpdate(c.elapsed, dgApiWorldOf(world)->m_maxSubStep, &other);
        fesetround(saved);
        EXPECT_EQ(count, c.count) << "rounding " << rounding;
        EXPECT_EQ(other, c.subStep) << "rounding " << rounding;
    }
    dgWorldUpdate(world, c.elapsed);
    EXPECT_EQ(dgWorldGetTimeStep(world), c.subStep);
    EXPECT_EQ(world->m_invTimeStep, 1.0f / c.subStep);
    EXPECT_EQ(world->m_busy, 0u);
    EXPECT_EQ(dgApiWorldOf(world)->m_updating, 0u);
    dgWorldDestroy(world);
}

INSTANTIATE_TEST_SUITE_P(
    World, UpdatePlan,
    ::testing::Values(PlanCase{"zero", 0.0f, 0.0f, 0.0f, 1, 0.001f},
                      PlanCase{"oneSecond", 1.0f, 0.0f, 0.0f, 1, kSixtieth},
                      PlanCase{"oneFrame", kSixtieth, 0.0f, 0.0f, 1, kSixtieth},
                      PlanCase{"nan", kNaN, 0.0f, 0.0f, 1, 0.001f},
                      PlanCase{"negative", -1.0f, 0.0f, 0.0f, 1, 0.001f},
                      PlanCase{"infinity", kInf, 0.0f, 0.0f, 1, kSixtieth},
                      // The game's 30 becomes 60: one sub-step per frame.
                      PlanCase{"rate30", kSixtieth, 0.0f, 30.0f, 1, kSixtieth},
                      PlanCase{"rate30AfterRate120", kSixtieth, 120.0f, 30.0f, 1, kSixtieth},
                      PlanCase{"rate120", kSixtieth, 0.0f, 120.0f, 2, kSixtieth / 2.0f},
                      PlanCase{"rate120ShortFrame", 0.008f, 0.0f, 120.0f, 1, 0.008f},
                      PlanCase{"rate1000", kSixtieth, 0.0f, 1000.0f, 17, kSixtieth / 17.0f},
                      PlanCase{"rate2000IsRate1000", 0.01f, 0.0f, 2000.0f, 10, 0.01f / 10.0f},
                      PlanCase{"nanRateChangesNothing", kSixtieth, 120.0f, kNaN, 2, kSixtieth / 2.0f},
                      PlanCase{"infiniteRateChangesNothing", kSixtieth, 120.0f, kInf, 2, kSixtieth / 2.0f},
                      PlanCase{"negativeRateIsRate60", kSixtieth, 120.0f, -5.0f, 1, kSixtieth}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

// ---- creation ----

TEST_F(ApiWorld, ANewBodyIsAwakeImmovableAndAtTheOrigin) {
    const int32_t shapeRefs = shape->getRefCount();
    dgBody* a = body("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(body("b")->m_serial, 2u);
    EXPECT_EQ(shape->getRefCount(), shapeRefs + 2);
    EXPECT_EQ(a->m_flags, uint32_t(dgBodyFlagActive | dgBodyFlagAutoFreeze | dgBodyFlagEquilibrium |
                                   dgBodyFlagDirectLink));
    EXPECT_EQ(world->m_activeBodyTree.find(dgBodyKey(a)), a->m_activeNode);
    EXPECT_EQ(a->m_linearDamping, 0.00209f);
    EXPECT_EQ(dgBodyReadAngularDamping(a).z, 0.1045f);
    EXPECT_EQ(a->m_freezeThresholds[2], 0.001f);
    EXPECT_EQ(a->m_matrix.position.x, 0.0f);
    EXPECT_EQ(a->m_matrix[0].x, 1.0f);
    // Immovable (mass 2e15): nothing it is given moves it.
    EXPECT_EQ(a->m_invMass.w, 0.0f);
    EXPECT_EQ(a->m_invMass.x, 0.0f);
    // No shape, no body.
    EXPECT_EQ(dgCreateBody(world, nullptr), nullptr);
    EXPECT_EQ(world->m_bodyCount, 2u);
    EXPECT_EQ(world->m_bodySerial, 2u);
}

// ---- destruction ----

namespace {

// How the destruction of the body under test is asked for.
enum class Ask { Once, Twice, AgainFromDestructor, AgainFromActivation };

struct DestroyCase {
    const char* name;
    bool insideSubStep;
    Ask ask;
};

dgWorld* g_world = nullptr;
void destroyAgainFromDestructor(dgBody* body) {
    logDestructor(body);
    dgDestroyBody(g_world, body);
}
void destroyAgainOnSleep(dgBody* body, uint32_t state) {
    logActivation(body, state);
    if (state == 0) {
        dgDestroyBody(g_world, body);
    }
}

}  // namespace

class BodyDestruction : public ApiWorld, public ::testing::WithParamInterface<DestroyCase> {};

// The destructor callback first, then every joint (waking frozen auto-freeze
// bodies at the other end), then the body leaves the trees; once, whoever
// asks again, and during a sub-step only at its end.
TEST_P(BodyDestruction, RunsOnceJointsFirstAndAfterTheSubStep) {
    const DestroyCase& c = GetParam();
    g_world = world;
    dgBody* a = body("a");
    dgBody* b = body("b");
    dgBody* c2 = body("c");
    c2->m_flags &= ~uint32_t(dgBodyFlagAutoFreeze);
    dgWorldFreezeBody(world, b);
    dgWorldFreezeBody(world, c2);
    LoggedJoint& j1 = joint("j1");
    LoggedJoint& j2 = joint("j2");
    LoggedJoint& j3 = joint("j3", false);
    ASSERT_TRUE(dgWorldAttachConstraint(world, &j1, a, b));
    ASSERT_TRUE(dgWorldAttachConstraint(world, &j2, c2, a));
    ASSERT_TRUE(dgWorldAttachConstraint(world, &j3, a, nullptr));
    for (dgBody* x : {a, b, c2}) {
        x->m_activation = logActivation;
        x->m_destructor = logDestructor;
    }
    if (c.ask == Ask::AgainFromDestructor) {
        a->m_destructor = destroyAgainFromDestructor;
    } else if (c.ask == Ask::AgainFromActivation) {
        a->m_activation = destroyAgainOnSleep;
    }
    const int32_t pagesInUse = world->m_bodyPages.getInUse();
    g_log.clear();

    if (c.insideSubStep) {
        InsideSubStep inside(world);
        dgDestroyBody(world, a);
        if (c.ask == Ask::Twice) {
            dgDestroyBody(world, a);
        }
        // Still whole until the sub-step ends.
        EXPECT_TRUE(g_log.empty());
        EXPECT_EQ(world->m_bodyCount, 3u);
        EXPECT_EQ(a->m_jointRing->m_joint, &j1);
        EXPECT_EQ(dgApiWorldOf(world)->m_deferredBodies.getCount(), 1);
    }
    if (c.insideSubStep) {
        dgApiWorldOf(world)->destroyDeferred();
    } else {
        dgDestroyBody(world, a);
        if (c.ask == Ask::Twice) {
            dgDestroyBody(world, a);
        }
    }

    const std::vector<std::string> expected = {"destroy a",  "activation b 1", "release j1",
                                               "release j2", "release j3",     "activation a 0"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(world->m_bodyCount, 2u);
    EXPECT_EQ(world->m_bodyTree.getCount(), 2);
    EXPECT_EQ(world->m_jointCount, 0u);
    EXPECT_EQ(world->m_bodyPages.getInUse(), pagesInUse - 1);
    EXPECT_EQ(world->m_linkPages.getInUse(), 0);
    EXPECT_EQ(dgApiWorldOf(world)->m_deferredBodies.getCount(), 0);
    // b woke, c (no auto-freeze) did not.
    EXPECT_NE(b->m_activeNode, nullptr);
    EXPECT_EQ(c2->m_activeNode, nullptr);
    EXPECT_EQ(world->m_activeBodyTree.getCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    World, BodyDestruction,
    ::testing::Values(DestroyCase{"now", false, Ask::Once}, DestroyCase{"nowTwice", false, Ask::Twice},
                      DestroyCase{"nowAgainFromDestructor", false, Ask::AgainFromDestructor},
                      DestroyCase{"nowAgainFromActivation", false, Ask::AgainFromActivation},
                      DestroyCase{"deferred", true, Ask::Once},
                      DestroyCase{"deferredTwice", true, Ask::Twice},
                      DestroyCase{"deferredAgainFromDestructor", true, Ask::AgainFromDestructor},
                      DestroyCase{"deferredAgainFromActivation", true, Ask::AgainFromActivation}),
    [](const ::testing::TestParamInfo<DestroyCase>& info) { return std::string(info.param.name); });

namespace {

dgBody* g_victim = nullptr;
void destroyVictim(LoggedJoint*) {
    dgDestroyBody(g_world, g_victim);
}

}  // namespace

// Deferred joints go before deferred bodies; a deferred joint that an earlier
// destruction takes with its body is not destroyed a second time.
TEST_F(ApiWorld, DeferredJointsGoFirstAndOnlyOnce) {
    g_world = world;
    dgBody* a = body("a");
    dgBody* b = body("b");
    dgBody* c = body("c");
    dgBody* d = body("d");
    d->m_destructor = logDestructor;
    a->m_destructor = logDestructor;
    // Two joints; the one the drain meets first (lower address) destroys a,
    // which takes the other one along.
    struct Pair {
        LoggedJoint first{"first"};
        LoggedJoint second{"second"};
    } pair;
    LoggedJoint& first = pair.first;
    LoggedJoint& second = pair.second;
    ASSERT_TRUE(dgWorldAttachConstraint(world, &first, b, c));
    ASSERT_TRUE(dgWorldAttachConstraint(world, &second, a, b));
    g_victim = a;
    first.m_onRelease = destroyVictim;
    {
        InsideSubStep inside(world);
        dgDestroyBody(world, d);
        dgDestroyJoint(world, &second);
        dgDestroyJoint(world, &first);
        dgDestroyJoint(world, &first);
        EXPECT_EQ(dgApiWorldOf(world)->m_deferredJoints.getCount(), 2);
        EXPECT_EQ(world->m_jointCount, 2u);
    }
    g_log.clear();
    dgApiWorldOf(world)->destroyDeferred();
    const std::vector<std::string> expected = {"release first", "destroy a", "release second", "destroy d"};
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(first.m_releases, 1);
    EXPECT_EQ(second.m_releases, 1);
    EXPECT_EQ(world->m_jointCount, 0u);
    EXPECT_EQ(world->m_bodyCount, 2u);
    EXPECT_EQ(dgApiWorldOf(world)->m_deferredJoints.getCount(), 0);
}

// ---- destruction asked for from inside a walk or a sub-step ----

namespace {

// The bodies a callback asks to destroy (each twice), what their destructor
// callbacks saw and whether the walk or update that ran the callback was
// still going on.
struct Deferral {
    dgWorld* world = nullptr;
    std::vector<dgBody*> bodies;
    int32_t requests = 0;
    int32_t destructions = 0;
    int32_t endCalls = 0;
    // Set while the requests are made; a destruction then, or seen by any
    // later call from inside the same walk or sub-step, is too early.
    bool running = false;
    bool destroyedWhileRunning = false;
    bool wholeWhileRunning = true;
    bool busyAndLowPrecision = true;
    int32_t facesAtDestruction = -1;
    int32_t faces = 0;
};
Deferral* g_deferral = nullptr;

// Every call comes from inside the walk or sub-step: no body may be gone.
void destroyAllOnce() {
    Deferral& d = *g_deferral;
    d.destroyedWhileRunning = d.destroyedWhileRunning || (d.destructions > 0);
    if (d.requests++ == 0) {
        d.running = true;
        for (dgBody* body : d.bodies) {
            dgDestroyBody(d.world, body);
            dgDestroyBody(d.world, body);
        }
        d.running = false;
    }
    for (dgBody* body : d.bodies) {
        d.wholeWhileRunning = d.wholeWhileRunning && (body->m_collision != nullptr);
    }
}
void countDestruction(dgBody*) {
    Deferral& d = *g_deferral;
    ++d.destructions;
    d.destroyedWhileRunning = d.destroyedWhileRunning || d.running;
    d.facesAtDestruction = d.faces;
}
void walkBody(dgBody*) {
    destroyAllOnce();
}
float walkHit(dgBody*, const float*, uint32_t, void*, float) {
    destroyAllOnce();
    return 1.0f;
}

struct DeferralCase {
    const char* name;
    // Bodies made (in a row along x, the last a box resting on a floor
    // when `floor`), then the walk or update that asks from inside.
    int32_t bodies;
    bool floor;
    void (*run)(dgWorld* world);
    // Calls of the asking callback, where fixed (-1: any): a walk visits
    // nothing after the request, a face walk hands out every face.
    int32_t requests;
};

const DeferralCase kDeferrals[] = {
    {"EachBodyWalk", 5, false, [](dgWorld* w) { dgWorldForEachBodyDo(w, walkBody); }, 1},
    {"BoxWalk", 5, false,
     [](dgWorld* w) {
         const float low[3] = {-10.0f, -10.0f, -10.0f};
         const float high[3] = {10.0f, 10.0f, 10.0f};
         dgWorldForEachBodyInAABB(w, low, high, walkBody);
     },
     1},
    {"RayWalk", 5, false,
     [](dgWorld* w) {
         const float from[3] = {-10.0f, 0.0f, 0.0f};
         const float to[3] = {10.0f, 0.0f, 0.0f};
         dgWorldRayCast(w, from, to, walkHit, nullptr, nullptr);
     },
     1},
    // The face walk also refuses the world's destruction.
    {"FaceWalk", 1, false,
     [](dgWorld*) {
         dgBodyForEachPolygonDo(g_deferral->bodies[0], [](const dgBody*, int32_t, const float*, int32_t) {
             ++g_deferral->faces;
             destroyAllOnce();
             dgWorldDestroy(g_deferral->world);
         });
         EXPECT_EQ(g_deferral->facesAtDestruction, 6);
     },
     6},
    // Inside a sub-step, also from a walk started there, destruction waits
    // for the sub-step's end; the callback runs busy at 24-bit precision, and
    // an update asked for from it, or from the destruction after it, is
    // refused.
    {"ForceCallback", 3, false,
     [](dgWorld* w) {
         for (dgBody* body : g_deferral->bodies) {
             dgBodySetForceAndTorqueCallback(body, [](dgBody*) {
                 fpu_control_t cw;
                 _FPU_GETCW(cw);
                 g_deferral->busyAndLowPrecision = g_deferral->busyAndLowPrecision && ((cw & 0x0300) == 0) &&
                                                   (g_deferral->world->m_busy == 1);
                 destroyAllOnce();
                 dgWorldUpdate(g_deferral->world, 0.001f);
             });
             dgBodySetDestructorCallback(body, [](dgBody* self) {
                 countDestruction(self);
                 dgWorldUpdate(g_deferral->world, 0.001f);
             });
         }
         dgWorldUpdate(w, kSixtieth);
         EXPECT_EQ(dgWorldGetTimeStep(w), kSixtieth);
         EXPECT_TRUE(g_deferral->busyAndLowPrecision);
     },
     -1},
    {"WalkInsideAnUpdate", 3, false,
     [](dgWorld* w) {
         for (dgBody* body : g_deferral->bodies) {
             dgBodySetForceAndTorqueCallback(
                 body, [](dgBody*) { dgWorldForEachBodyDo(g_deferral->world, walkBody); });
         }
         dgWorldUpdate(w, kSixtieth);
     },
     1},
    // A contact's process callback: its end callback still finds the body.
    {"ProcessCallback", 1, true,
     [](dgWorld* w) {
         dgMaterialPair* pair = dgWorldGetMaterialPair(w, 0, 0);
         pair->m_process = [](dgMaterialPair*, dgContact*) -> int32_t {
             destroyAllOnce();
             return 1;
         };
         pair->m_end = [](dgMaterialPair*) {
             ++g_deferral->endCalls;
             g_deferral->destroyedWhileRunning =
                 g_deferral->destroyedWhileRunning || (g_deferral->destructions > 0);
         };
         for (int32_t frame = 0; (frame < 120) && (g_deferral->requests == 0); ++frame) {
             dgWorldUpdate(w, kSixtieth);
         }
         EXPECT_EQ(g_deferral->endCalls, 1);
         EXPECT_EQ(w->m_contactList.getCount(), 0);
     },
     -1},
};

class DestructionFromACallback : public ::testing::TestWithParam<DeferralCase> {};

}  // namespace

// Bodies whose destruction is asked for (twice) from inside a walk or a
// sub-step stay whole until it ends, are visited no more, and are destroyed
// once each by the time it returns; every block goes back with the world.
TEST_P(DestructionFromACallback, WaitsForTheWalkOrSubStepToEnd) {
    const DeferralCase& c = GetParam();
    expectEveryBlockBack([&c](dgWorld* world) {
        Deferral deferral;
        deferral.world = world;
        g_deferral = &deferral;
        dgCollision* box = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
        if (c.floor) {
            dgCollision* floor = dgCreateBox(world, 20.0f, 1.0f, 20.0f, nullptr);
            dgBody* ground = dgCreateBody(world, floor);
            dgReleaseCollision(world, floor);
            const float below[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.5f, 0, 1};
            dgBodySetMatrix(ground, below);
        }
        for (int32_t i = 0; i < c.bodies; ++i) {
            dgBody* body = dgCreateBody(world, box);
            const float place[16] = {1,
                                     0,
                                     0,
                                     0,
                                     0,
                                     1,
                                     0,
                                     0,
                                     0,
                                     0,
                                     1,
                                     0,
                                     c.floor ? 0.0f : 3.0f * float(i) - 6.0f,
                                     c.floor ? 0.505f : 0.0f,
                                     0,
                                     1};
            dgBodySetMatrix(body, place);
            dgBodySetMassMatrix(body, 1.0f, 1.0f, 1.0f, 1.0f);
            dgBodySetForceAndTorqueCallback(body, [](dgBody* self) {
                const float weight[3] = {0.0f, -9.8f, 0.0f};
                dgBodySetForce(self, weight);
            });
            dgBodySetDestructorCallback(body, countDestruction);
            deferral.bodies.push_back(body);
        }
        dgReleaseCollision(world, box);
        const uint32_t count = world->m_bodyCount;
        c.run(world);
        EXPECT_GT(deferral.requests, 0);
        EXPECT_TRUE(deferral.wholeWhileRunning);
        EXPECT_FALSE(deferral.destroyedWhileRunning);
        EXPECT_EQ(deferral.destructions, c.bodies);
        EXPECT_EQ(world->m_bodyCount, count - uint32_t(c.bodies));
        EXPECT_EQ(dgApiWorldOf(world)->m_updating, 0u);
        if (c.requests >= 0) {
            EXPECT_EQ(deferral.requests, c.requests);
        }
        dgWorldUpdate(world, kSixtieth);
        EXPECT_EQ(deferral.destructions, c.bodies);
        dgWorldDestroy(world);
        g_deferral = nullptr;
    });
}

INSTANTIATE_TEST_SUITE_P(World, DestructionFromACallback, ::testing::ValuesIn(kDeferrals),
                         [](const ::testing::TestParamInfo<DeferralCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- moving jointed bodies ----

namespace {

int32_t g_outOfBoundsCalls = 0;
void countOutOfBounds(dgBody*) {
    ++g_outOfBoundsCalls;
}

float distance(const dgVector& p, const dgVector& q) {
    const dgVector d(p.x - q.x, p.y - q.y, p.z - q.z, 0.0f);
    return std::sqrt(d.dot(d));
}

}  // namespace

// A chain a - b - c of two-body joints moves rigidly with a; d, touching c
// only, stays. Every moved body is awake, at rest and was not told.
TEST_F(ApiWorld, SetMatrixMovesTheJointedBodiesRigidly) {
    dgBody* a = body("a");
    dgBody* b = body("b");
    dgBody* c = body("c");
    dgBody* d = body("d");
    const dgMatrix start[4] = {translation(0, 0, 0), turned(0.3f, 0, 0, dgVector(2, 0, 0, 1)),
                               turned(0, 0.5f, 0.2f, dgVector(2, 3, 0, 1)), translation(2, 3, 4)};
    dgBody* bodies[4] = {a, b, c, d};
    for (int32_t i = 0; i < 4; ++i) {
        dgBodyStoreMassMatrix(bodies[i], 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
        dgBodySetMatrixInternal(bodies[i], start[i]);
        bodies[i]->m_veloc = dgVector(1, 2, 3, 0);
        bodies[i]->m_omega = dgVector(1, 0, 0, 0);
    }
    LoggedJoint& ab = joint("ab");
    LoggedJoint& bc = joint("bc");
    LoggedJoint& touch = joint("touch", false);
    ASSERT_TRUE(dgWorldAttachConstraint(world, &ab, a, b));
    ASSERT_TRUE(dgWorldAttachConstraint(world, &bc, c, b));
    ASSERT_TRUE(dgWorldAttachConstraint(world, &touch, c, d));
    dgWorldFreezeBody(world, c);
    c->m_flags &= ~uint32_t(dgBodyFlagAutoFreeze);
    for (dgBody* x : bodies) {
        x->m_activation = logActivation;
    }
    dgWorldSetOutOfBoundsCallback(world, countOutOfBounds);
    g_log.clear();

    const dgMatrix target = turned(-0.4f, 1.2f, 0.1f, dgVector(-5, 1, 7, 1));
    dgWorldSetBodyMatrix(world, a, target);

    // Relative poses to a are kept.
    const dgMatrix toA = target.inverse();
    for (int32_t i = 1; i < 3; ++i) {
        const dgMatrix before = start[i].multiply(start[0].inverse());
        const dgMatrix after = bodies[i]->m_matrix.multiply(toA);
        for (int32_t r = 0; r < 4; ++r) {
            EXPECT_LT(distance(before[r], after[r]), 1e-5f) << i << " row " << r;
        }
        EXPECT_EQ(bodies[i]->m_veloc.x, 0.0f);
        EXPECT_EQ(bodies[i]->m_omega.x, 0.0f);
        EXPECT_EQ(bodies[i]->m_flags & dgBodyFlagEquilibrium, 0u);
        EXPECT_NE(bodies[i]->m_activeNode, nullptr);
    }
    EXPECT_EQ(a->m_matrix.position.x, -5.0f);
    EXPECT_EQ(distance(d->m_matrix.position, start[3].position), 0.0f);
    EXPECT_EQ(d->m_veloc.x, 1.0f);
    // c keeps its cleared bits although it is in the active tree now.
    EXPECT_EQ(c->m_flags & (dgBodyFlagActive | dgBodyFlagAutoFreeze), 0u);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(world->m_outOfBounds, countOutOfBounds);
    EXPECT_EQ(g_outOfBoundsCalls, 0);
    EXPECT_TRUE(world->m_activeBodyTree.sanityCheck());
}

// ---- a random sequence of world operations ----

namespace {

// Destructor calls by body serial (storage is reused, serials are not).
std::map<uint32_t, int32_t> g_destroyed;
std::map<const dgBody*, uint32_t> g_reported;
void recordDestroyed(dgBody* body) {
    ++g_destroyed[body->m_serial];
}
void recordDestroyedAndAskAgain(dgBody* body) {
    ++g_destroyed[body->m_serial];
    dgDestroyBody(g_world, body);
}
void recordActivation(dgBody* body, uint32_t state) {
    g_reported[body] = state;
}

class RandomWorld {
public:
    RandomWorld(dgWorld* world, uint32_t seed) : m_world(world), m_rng(seed) {
        m_shapes[0] = dgCreateBox(world, 1.0f, 2.0f, 1.0f, nullptr);
        m_shapes[1] = dgCreateSphere(world, 0.5f, 0.5f, 0.5f, nullptr);
    }
    // The world goes before the joints the test owns.
    void destroyWorld() {
        for (dgCollision* shape : m_shapes) {
            dgReleaseCollision(m_world, shape);
        }
        dgWorldDestroy(m_world);
        m_world = nullptr;
    }

    void run(int32_t steps) {
        for (int32_t step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
            operate();
            check(step);
        }
    }

private:
    int32_t pick(int32_t n) { return std::uniform_int_distribution<int32_t>(0, n - 1)(m_rng); }
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(m_rng); }
    dgBody* anyBody() {
        return m_bodies.empty() ? nullptr : m_bodies[size_t(pick(int32_t(m_bodies.size())))];
    }

    void forget(dgBody* body) {
        for (size_t i = 0; i < m_bodies.size(); ++i) {
            if (m_bodies[i] == body) {
                m_bodies[i] = m_bodies.back();
                m_bodies.pop_back();
                break;
            }
        }
        m_expectDestroyed[body->m_serial] += 1;
        g_reported.erase(body);
    }

    void operate() {
        dgBody* body = anyBody();
        switch (pick(11)) {
            case 0:
            case 1:
            case 10: {
                if (m_bodies.size() >= 150) {
                    break;
                }
                dgBody* created = dgCreateBody(m_world, m_shapes[pick(2)]);
                ASSERT_NE(created, nullptr);
                created->m_destructor = pick(4) ? recordDestroyed : recordDestroyedAndAskAgain;
                created->m_activation = recordActivation;
                g_reported[created] = created->m_flags & dgBodyFlagActive;
                if (pick(2)) {
                    dgBodyStoreMassMatrix(created, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
                }
                dgWorldSetBodyMatrix(m_world, created,
                                     translation(uniform(-50, 50), uniform(-50, 50), uniform(-50, 50)));
                m_bodies.push_back(created);
                break;
            }
            case 2:
                if (body) {
                    forget(body);
                    dgDestroyBody(m_world, body);
                }
                break;
            case 3:
                // Asked for inside a sub-step, twice: destroyed once at its end.
                if (body) {
                    forget(body);
                    {
                        InsideSubStep inside(m_world);
                        dgDestroyBody(m_world, body);
                        dgDestroyBody(m_world, body);
                        EXPECT_EQ(g_destroyed[body->m_serial], 0);
                    }
                    dgApiWorldOf(m_world)->destroyDeferred();
                }
                break;
            case 4:
                if (body) {
                    // A body the solver took out of the tree as a member of
                    // another's island keeps its active bit: freezing it
                    // changes nothing.
                    const bool inTree = body->m_activeNode != nullptr;
                    dgWorldFreezeBody(m_world, body);
                    EXPECT_EQ(body->m_activeNode, nullptr);
                    if (inTree) {
                        EXPECT_EQ(body->m_flags & dgBodyFlagActive, 0u);
                    }
                }
                break;
            case 5:
                if (body) {
                    dgWorldUnfreezeBody(m_world, body);
                    EXPECT_NE(body->m_activeNode, nullptr);
                }
                break;
            case 6:
                if (body) {
                    dgWorldSetBodyMatrix(m_world, body, shapetest::randomPose(m_rng, 50.0f));
                }
                break;
            case 7: {
                const float times[] = {0.0f, kSixtieth, 1.0f, kNaN, -1.0f, kInf, uniform(0.0f, 0.05f)};
                dgWorldUpdate(m_world, times[pick(7)]);
                break;
            }
            case 8: {
                dgBody* other = anyBody();
                if (body && (other != body) && (m_joints.size() < 200)) {
                    m_joints.emplace_back(new LoggedJoint("j"));
                    ASSERT_TRUE(dgWorldAttachConstraint(m_world, m_joints.back().get(), body,
                                                        pick(4) ? other : nullptr));
                }
                break;
            }
            case 9:
                if (!m_joints.empty()) {
                    LoggedJoint* joint = m_joints[size_t(pick(int32_t(m_joints.size())))].get();
                    if (joint->m_releases == 0) {
                        dgDestroyJoint(m_world, joint);
                    }
                }
                break;
        }
    }

    void check(int32_t step) {
        SCOPED_TRACE(step);
        dgApiWorld* world = dgApiWorldOf(m_world);
        ASSERT_EQ(world->m_bodyCount, uint32_t(m_bodies.size()));
        ASSERT_EQ(world->m_bodyTree.getCount(), int32_t(m_bodies.size()));
        ASSERT_EQ(world->m_bodyPages.getInUse(), int32_t(m_bodies.size()));
        ASSERT_EQ(world->m_deferredBodies.getCount(), 0);
        ASSERT_EQ(world->m_deferredJoints.getCount(), 0);
        int32_t awake = 0;
        for (dgBody* body : m_bodies) {
            ASSERT_NE(world->m_bodyTree.find(dgBodyKey(body)), nullptr);
            ASSERT_EQ(body->m_flags & dgBodyFlagDestroying, 0u);
            if (body->m_activeNode) {
                ++awake;
                ASSERT_EQ(world->m_activeBodyTree.find(dgBodyKey(body)), body->m_activeNode);
            } else {
                ASSERT_EQ(world->m_activeBodyTree.find(dgBodyKey(body)), nullptr);
            }
            // Every change of the active bit was told, and nothing else.
            ASSERT_EQ(g_reported[body], body->m_flags & dgBodyFlagActive);
        }
        ASSERT_EQ(world->m_activeBodyTree.getCount(), awake);
        ASSERT_TRUE(world->m_activeBodyTree.sanityCheck());
        int32_t liveJoints = 0;
        for (const auto& joint : m_joints) {
            ASSERT_LE(joint->m_releases, 1);
            liveJoints += (joint->m_releases == 0) ? 1 : 0;
        }
        ASSERT_EQ(world->m_jointCount, uint32_t(liveJoints + world->m_contactList.getCount()));
        ASSERT_EQ(g_destroyed, m_expectDestroyed);
    }

    dgWorld* m_world;
    std::mt19937 m_rng;
    dgCollision* m_shapes[2];
    std::vector<dgBody*> m_bodies;
    std::vector<std::unique_ptr<LoggedJoint>> m_joints;
    std::map<uint32_t, int32_t> m_expectDestroyed;
};

}  // namespace

// Create, destroy (also inside a sub-step and from destructor callbacks),
// freeze, wake, move, join, part and update at random; the trees, counts and
// callbacks agree after every operation, and the world gives every block
// back. The first round builds the shared pools the second one counts
// without.
TEST(WorldSequence, RandomOperationsKeepTheWorldConsistent) {
    HookGuard guard;
    expectEveryBlockBack([](dgWorld* world) {
        g_world = world;
        g_destroyed.clear();
        g_reported.clear();
        g_log.clear();
        RandomWorld random(world, 20261209u);
        random.run(3000);
        const uint32_t created = world->m_bodySerial;
        random.destroyWorld();
        // The world's teardown destroyed the rest: every body once.
        EXPECT_EQ(g_destroyed.size(), size_t(created));
        for (const auto& entry : g_destroyed) {
            EXPECT_EQ(entry.second, 1);
        }
    });
}

// A contact asked to be destroyed during the sub-step that the solver then
// destroys as stale leaves no request behind: its storage goes to the next
// contact, which must survive the end of the sub-step.
TEST_F(ApiWorld, AStaleContactTakesItsDeferredDestructionWithIt) {
    dgBody* a = body("a");
    dgBody* b = body("b");
    dgContact* stale = dgNewContact(world);
    ASSERT_TRUE(dgWorldAttachConstraint(world, stale, a, b));
    {
        InsideSubStep inside(world);
        dgDestroyJoint(world, stale);
        dgWorldQueueStaleContact(world, stale);
        dgWorldDestroyStaleContacts(world);
        dgContact* next = dgNewContact(world);
        ASSERT_EQ(next, stale) << "the pages hand the freed slot out first";
        ASSERT_TRUE(dgWorldAttachConstraint(world, next, a, b));
    }
    dgApiWorldOf(world)->destroyDeferred();
    EXPECT_EQ(world->m_contactList.getCount(), 1);
    EXPECT_NE(dgWorldFindJointLink(a, b), nullptr);
}
