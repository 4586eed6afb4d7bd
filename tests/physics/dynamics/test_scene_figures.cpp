// The benchmark's scenes (bench/Scenes.h) as tests: their quality figures,
// which repeat exactly, against what the engine is known to reach; and the
// solver's pass budget on a pyramid too large for the conjugate gradient to
// finish, in its budget and the same in a second world and process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Scenes.h"
#include "dgConstraintSolver.h"
#include "dgWorld.h"

namespace {

using namespace scenes;

// FNV-1a over the bytes of every body's matrix.
uint32_t hashMatrices(const Scene& scene) {
    uint32_t hash = 2166136261u;
    for (dgBody* body : scene.bodies) {
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

}  // namespace
