// The convex solver: closest points of two separated hulls, the four-point
// manifold of a box resting on a box, and the time-of-impact contacts of a
// box at 50 m/s hitting a wall within one 1/60 s step, and the pyramid hull
// resting on a box through the dispatch. One query per
// iteration; the figures are per query.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dgCollisionBox.h"
#include "dgCollisionConvexHull.h"
#include "dgConvexContacts.h"
#include "dgDynamicsServices.h"
#include "dgMinkowskiSolver.h"

namespace {

// A hull of count random points on a sphere of the given radius.
dgCollisionConvexHull* makeHull(uint32_t seed, int32_t count, float radius) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<float> points;
    for (int32_t i = 0; i < count; i++) {
        dgVector d(g(rng), g(rng), g(rng), 0.0f);
        d = d.scale(radius / std::sqrt(d % d));
        points.insert(points.end(), {d.x, d.y, d.z});
    }
    return new dgCollisionConvexHull(0, count, 3 * int32_t(sizeof(float)), points.data(),
                                     dgGetIdentityMatrix());
}

dgMatrix placed(const dgMatrix& rotation, float x, float y, float z) {
    dgMatrix m(rotation);
    m.position = dgVector(x, y, z, 1.0f);
    return m;
}

void setBody(dgBody& body, dgCollision* shape, const dgMatrix& matrix) {
    body.clear();
    body.m_collision = shape;
    body.m_matrix = matrix;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
}

void BM_ClosestPointsOfTwoHulls(benchmark::State& state) {
    dgInitSearchDirections();
    dgCollisionConvexHull* a = makeHull(1, 64, 1.0f);
    dgCollisionConvexHull* b = makeHull(2, 64, 0.7f);
    dgBody b0;
    dgBody b1;
    setBody(b0, a, dgGetIdentityMatrix());
    setBody(b1, b, placed(dgRotationMatrixY(0.4f).multiply(dgRotationMatrixX(0.9f)), 2.2f, 0.6f, -0.3f));
    float p0[3];
    float p1[3];
    float n[3];
    if (!dgClosestPoints(&b0, &b1, p0, p1, n)) {
        state.SkipWithError("the hulls are not apart");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dgClosestPoints(&b0, &b1, p0, p1, n));
        benchmark::DoNotOptimize(p0[0]);
    }
    a->release();
    b->release();
}
BENCHMARK(BM_ClosestPointsOfTwoHulls);

void BM_BoxRestingOnBoxManifold(benchmark::State& state) {
    dgInitSearchDirections();
    dgCollisionBox* top = new dgCollisionBox(0, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix());
    dgCollisionBox* floor = new dgCollisionBox(0, 10.0f, 1.0f, 10.0f, dgGetIdentityMatrix());
    dgBody b0;
    dgBody b1;
    setBody(b0, top, placed(dgRotationMatrixY(0.3f), 0.2f, 0.98f, -0.1f));
    setBody(b1, floor, dgGetIdentityMatrix());
    dgContactPoint contacts[16];
    {
        dgMinkowskiSolver solver(&b0, &b1);
        if (solver.calcContacts(contacts, 0, 16) != 4) {
            state.SkipWithError("the box does not rest on its four corners");
        }
    }
    for (auto _ : state) {
        dgMinkowskiSolver solver(&b0, &b1);
        benchmark::DoNotOptimize(solver.calcContacts(contacts, 0, 16));
        benchmark::DoNotOptimize(contacts[0].point.x);
    }
    top->release();
    floor->release();
}
BENCHMARK(BM_BoxRestingOnBoxManifold);

// The 5-point pyramid hull of the convex-bodies-on-terrain scene, (0, 1, 0),
// (+-1, 0, 0), (0, 0, +-1), resting a little into a box, through the
// contact dispatch the body-pair pass will call.
void BM_PyramidHullOnBox(benchmark::State& state) {
    dgInitSearchDirections();
    const float points[15] = {0, 1, 0, 1, 0, 0, -1, 0, 0, 0, 0, 1, 0, 0, -1};
    dgCollisionConvexHull* pyramid =
        new dgCollisionConvexHull(0, 5, 3 * int32_t(sizeof(float)), points, dgGetIdentityMatrix());
    dgCollisionBox* floor = new dgCollisionBox(0, 10.0f, 1.0f, 10.0f, dgGetIdentityMatrix());
    dgBody b0;
    dgBody b1;
    setBody(b0, pyramid, placed(dgRotationMatrixY(0.2f), 0.1f, 0.49f, 0.3f));
    setBody(b1, floor, dgGetIdentityMatrix());
    dgContactPoint contacts[16];
    float timeStep = 1.0f / 60.0f;
    if (dgConvexContacts(timeStep, &b0, &b1, contacts, 16) == 0) {
        state.SkipWithError("the pyramid does not touch the box");
    }
    for (auto _ : state) {
        timeStep = 1.0f / 60.0f;
        benchmark::DoNotOptimize(dgConvexContacts(timeStep, &b0, &b1, contacts, 16));
        benchmark::DoNotOptimize(contacts[0].point.x);
    }
    pyramid->release();
    floor->release();
}
BENCHMARK(BM_PyramidHullOnBox);

void BM_BoxHitsWallTimeOfImpact(benchmark::State& state) {
    dgInitSearchDirections();
    dgCollisionBox* box = new dgCollisionBox(0, 0.5f, 0.5f, 0.5f, dgGetIdentityMatrix());
    dgCollisionBox* wall = new dgCollisionBox(0, 1.0f, 20.0f, 20.0f, dgGetIdentityMatrix());
    dgBody b0;
    dgBody b1;
    setBody(b0, box, placed(dgRotationMatrixZ(0.5f).multiply(dgRotationMatrixX(0.3f)), -1.2f, 0.3f, 0.2f));
    setBody(b1, wall, dgGetIdentityMatrix());
    b0.m_veloc = dgVector(50.0f, 0.0f, 0.0f, 0.0f);
    dgContactPoint contacts[16];
    {
        dgMinkowskiSolver solver(&b0, &b1);
        float step = 1.0f / 60.0f;
        if (solver.calcContactsContinuous(step, contacts, 0, 16) == 0) {
            state.SkipWithError("the box misses the wall");
        }
    }
    for (auto _ : state) {
        dgMinkowskiSolver solver(&b0, &b1);
        float step = 1.0f / 60.0f;
        benchmark::DoNotOptimize(solver.calcContactsContinuous(step, contacts, 0, 16));
        benchmark::DoNotOptimize(step);
    }
    box->release();
    wall->release();
}
BENCHMARK(BM_BoxHitsWallTimeOfImpact);

}  // namespace
