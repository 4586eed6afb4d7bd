// The benchmark's scenes (bench/Scenes.h) as tests: their quality figures
// (settled, fallen, sunk, frozen and tunnelled counts), which repeat exactly,
// against a recorded run, on the scenes' quick or smaller forms; and the
// solver's pass budget on a pyramid too large for the conjugate gradient to
// finish, in its budget and the same in a second world and process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Scenes.h"
#include "dgConstraintSolver.h"
#include "dgWorld.h"

namespace {

using namespace scenes;

// Cubes of a pyramid more than 0.5 m below (or above) their rest height.
int32_t sunkCubes(const Scene& scene, const std::vector<int32_t>& levels, float sign = 1.0f) {
    int32_t sunk = 0;
    for (size_t b = 0; b < scene.bodies.size(); b++) {
        float p[3];
        position(scene.bodies[b], p);
        sunk += (sign * (pyramidRestHeight(levels[b]) - p[1]) > 0.5f) ? 1 : 0;
    }
    return sunk;
}

// A pyramid of ten levels (385 cubes, some 18,000 rows once it stands) built
// as the benchmark's, stepped `steps` times; calls check after each step.
template <class Check>
uint32_t runPyramid(int32_t steps, Check&& check) {
    Scene scene;
    std::vector<int32_t> levels;
    buildPyramid(scene, levels, 10);
    for (int32_t s = 0; s < steps; s++) {
        dgWorldUpdate(scene.world, kTimeStep);
        check(scene, levels, s);
    }
    return hashMatrices(scene);
}

// Every step of the settling pyramid ends within its island's pass budget,
// the projected sweeps finish the solves the conjugate gradient cannot, and
// the pyramid stands: no cube ends half a metre from its rest height.
TEST(SolverBudget, LargeIslandStepsEndWithinTheirPassBudget) {
    int32_t overBudget = 0;
    runPyramid(240, [&](const Scene& scene, const std::vector<int32_t>& levels, int32_t s) {
        const dgConstraintSolver* solver = scene.world->m_solver;
        ASSERT_LE(solver->m_passes, solver->m_passBudget) << "step " << s;
        overBudget += solver->m_overBudget ? 1 : 0;
        if (s == 239) {
            EXPECT_EQ(sunkCubes(scene, levels), 0);
            EXPECT_EQ(sunkCubes(scene, levels, -1.0f), 0);
        }
    });
    EXPECT_GT(overBudget, 0);
}

// The budget's own figures: it grows with the island up to about two
// million row products and never drops below 24 passes.
TEST(SolverBudget, GrowsWithTheIslandUpToItsWork) {
    EXPECT_EQ(dgSolverPassBudget(0), 104);
    EXPECT_EQ(dgSolverPassBudget(100), 464);
    EXPECT_EQ(dgSolverPassBudget(1000), 1328);
    EXPECT_EQ(dgSolverPassBudget(1 << 14), 128);
    EXPECT_EQ(dgSolverPassBudget(1 << 20), 24);
    EXPECT_EQ(dgSolverReservedSweeps(1000), 16);
    EXPECT_EQ(dgSolverReservedSweeps(24), 12);
}

// The islands of a step share one pool of row products. Three pyramids of
// nine levels on one ground are three islands of some 13,000 rows, each
// past its own budget of about two million products once it stands: alone
// they would take three times that a step (6.3 million). Together they take
// the pool, and past it only the 24 passes every island keeps; every
// pyramid still stands. An island within its whole budget is never cut, pool or none.
TEST(SolverBudget, AStepsIslandsShareOnePoolOfProducts) {
    Scene scene;
    const float lo[3] = {-200.0f, -50.0f, -200.0f};
    const float hi[3] = {200.0f, 200.0f, 200.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    addGround(scene.world, 0.0f, 0.0f, 0.0f);
    std::vector<int32_t> levels;
    for (const float ox : {-60.0f, 0.0f, 60.0f}) {
        addPyramid(scene, levels, 9, ox);
    }
    const dgConstraintSolver* solver = scene.world->m_solver;
    int64_t most = 0;
    for (int32_t s = 0; s < 150; s++) {
        dgWorldUpdate(scene.world, kTimeStep);
        const int64_t used = dgSolverStepWork - solver->m_stepWork;
        // The pool, and past it an island's 24 passes (some 300,000 products).
        ASSERT_LE(used, dgSolverStepWork + dgSolverStepWork / 8) << "step " << s;
        most = std::max(most, used);
    }
    EXPECT_GT(most, dgSolverStepWork * 3 / 4);
    EXPECT_EQ(sunkCubes(scene, levels), 0);
    EXPECT_EQ(sunkCubes(scene, levels, -1.0f), 0);

    for (int32_t rows = 1; rows <= 127; rows++) {
        ASSERT_EQ(dgSolverPassBudget(rows, 0), dgSolverPassBudget(rows)) << rows;
    }
    EXPECT_EQ(dgSolverPassBudget(1000, 0), 24);
    EXPECT_EQ(dgSolverPassBudget(1000, 500 * 1000), 500);
    EXPECT_EQ(dgSolverPassBudget(1000, dgSolverStepWork), dgSolverPassBudget(1000));
}

// A pyramid past its budget steps the same, bit for bit, in a second world
// and in a second process.
TEST(SolverBudget, PastTheBudgetAWorldRepeatsInASecondWorldAndProcess) {
    const auto none = [](const Scene&, const std::vector<int32_t>&, int32_t) {};
    const uint32_t first = runPyramid(90, none);
    EXPECT_EQ(runPyramid(90, none), first);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uint32_t hash = runPyramid(90, none);
        _exit((write(pipeEnds[1], &hash, sizeof(hash)) == sizeof(hash)) ? 0 : 1);
    }
    uint32_t other = 0;
    EXPECT_EQ(read(pipeEnds[0], &other, sizeof(other)), ssize_t(sizeof(other)));
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0));
    EXPECT_EQ(other, first);
}

// ---- The scenes' quality figures ----

int32_t stepAll(Scene& scene, int32_t steps) {
    for (int32_t s = 0; s < steps; s++) {
        dgWorldUpdate(scene.world, kTimeStep);
    }
    return steps;
}

// S1's quick form, one stack of ten: cubes within 0.1 m of their start and
// fallen (more than 0.5 m lower).
std::vector<int32_t> stackFigures() {
    Scene scene;
    buildStacks(scene, 1, kStackHeight, 0.0f, 0.0f, 0.0f);
    float start[kStackHeight][3];
    for (int32_t b = 0; b < kStackHeight; b++) {
        position(scene.bodies[size_t(b)], start[b]);
    }
    stepAll(scene, kStacksSteps);
    int32_t within = 0;
    int32_t fallen = 0;
    for (int32_t b = 0; b < kStackHeight; b++) {
        float p[3];
        position(scene.bodies[size_t(b)], p);
        const float dx = p[0] - start[b][0];
        const float dy = p[1] - start[b][1];
        const float dz = p[2] - start[b][2];
        within += (std::sqrt(dx * dx + dy * dy + dz * dz) <= 0.1f) ? 1 : 0;
        fallen += (start[b][1] - p[1] > 0.5f) ? 1 : 0;
    }
    return {within, fallen};
}

void trackFrozen(dgBody* body, uint32_t state) {
    *static_cast<int32_t*>(dgBodyGetUserData(body)) = state ? 0 : 1;
}

// S2 on a 4 x 4 x 8 pile, freezing on and off: cubes below the ground and
// cubes frozen at the end.
std::vector<int32_t> pileFigures(bool freezing) {
    std::vector<int32_t> frozen(4 * 4 * 8, 0);  // outlives the world, which reports bodies leaving
    Scene scene;
    buildPile(scene, freezing, 4, 8);
    for (size_t b = 0; b < scene.bodies.size(); b++) {
        dgBodySetUserData(scene.bodies[b], &frozen[b]);
        dgBodySetActivationCallback(scene.bodies[b], trackFrozen);
    }
    stepAll(scene, kPileSteps);
    int32_t below = 0;
    int32_t frozenCount = 0;
    for (size_t b = 0; b < scene.bodies.size(); b++) {
        float p[3];
        position(scene.bodies[b], p);
        below += (p[1] < 0.0f) ? 1 : 0;
        frozenCount += frozen[b];
    }
    return {below, frozenCount};
}

// S4 on a 7 x 4 x 7 lattice: bodies below the terrain's lowest point.
std::vector<int32_t> latticeFigures() {
    Scene scene;
    buildLattice(scene, 1, 7);
    stepAll(scene, kLatticeSteps);
    int32_t fell = 0;
    for (dgBody* body : scene.bodies) {
        float p[3];
        position(body, p);
        fell += (p[1] < latticeTerrainLowest()) ? 1 : 0;
    }
    return {fell};
}

// S5 against either wall: runs that tunnelled, of 16, per speed, with the
// continuous flag off and then on.
std::vector<int32_t> sweepFigures(bool soupWall) {
    std::vector<int32_t> tunnelled;
    for (int32_t continuous = 0; continuous < 2; continuous++) {
        for (float speed : kSweepSpeeds) {
            int32_t count = 0;
            for (int32_t k = 0; k < kSweepOffsets; k++) {
                Scene scene;
                buildSweep(scene, speed, k, continuous != 0, soupWall);
                stepAll(scene, kSweepSteps);
                float p[3];
                position(scene.bodies[0], p);
                count += (p[0] > sweepWallBack(soupWall)) ? 1 : 0;
            }
            tunnelled.push_back(count);
        }
    }
    return tunnelled;
}

// S7's joint chains.

// Each chain of twenty links, all of 1 kg or with a 100 kg last link,
// stepped at one sub-step as the benchmark steps it, ends with every joint
// within a centimetre of together (a slider's across its pin).
class JointChains : public ::testing::TestWithParam<ChainJoint> {};

TEST_P(JointChains, EveryChainHoldsAtOneSubStep) {
    for (float lastMass : {1.0f, kHeavyLinkMass}) {
        Chain chain;
        buildChain(chain, GetParam(), lastMass);
        stepAll(chain.scene, kChainSteps);
        EXPECT_LT(chainFigures(chain).separation, 0.01) << lastMass;
    }
}

INSTANTIATE_TEST_SUITE_P(Joints, JointChains,
                         ::testing::Values(ChainJoint::Ball, ChainJoint::Hinge, ChainJoint::Slider,
                                           ChainJoint::Universal),
                         [](const ::testing::TestParamInfo<ChainJoint>& info) {
                             return std::string(chainJointName(info.param));
                         });

struct SceneCase {
    const char* name;
    std::function<std::vector<int32_t>()> run;
    std::vector<int32_t> recorded;
};

void PrintTo(const SceneCase& c, std::ostream* os) {
    *os << c.name;
}

class SceneFigures : public ::testing::TestWithParam<SceneCase> {};

TEST_P(SceneFigures, RepeatTheRecordedRun) {
    EXPECT_EQ(GetParam().run(), GetParam().recorded);
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, SceneFigures,
    ::testing::Values(SceneCase{"StackOfTen", stackFigures, {9, 0}},
                      SceneCase{"PileFreezing", [] { return pileFigures(true); }, {0, 128}},
                      SceneCase{"PileAwake", [] { return pileFigures(false); }, {0, 0}},
                      SceneCase{"Lattice", latticeFigures, {0}},
                      SceneCase{"SweepBoxWall", [] { return sweepFigures(false); },
                                {0, 6, 9, 12, 14, 15, 0, 0, 0, 0, 0, 0}},
                      SceneCase{"SweepQuadWall", [] { return sweepFigures(true); },
                                {0, 6, 9, 12, 14, 15, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<SceneCase>& info) { return std::string(info.param.name); });

}  // namespace
