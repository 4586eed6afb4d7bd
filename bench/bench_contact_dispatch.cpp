// Contact dispatch: the sphere-sphere and box-sphere closed forms (aim: well
// under a microsecond) and a capsule lying across a box through the general
// solver. One dgConvexContacts call per iteration.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionSphere.h"
#include "dgConvexContacts.h"
#include "dgDynamicsServices.h"
#include "dgMinkowskiSolver.h"

namespace {

void setBody(dgBody& body, dgCollision* shape, const dgMatrix& matrix) {
    body.clear();
    body.m_collision = shape;
    body.m_matrix = matrix;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
}

dgMatrix placed(const dgMatrix& rotation, float x, float y, float z) {
    dgMatrix m(rotation);
    m.position = dgVector(x, y, z, 1.0f);
    return m;
}

void runPair(benchmark::State& state, dgCollision* a, const dgMatrix& poseA, dgCollision* b,
             const dgMatrix& poseB) {
    dgInitSearchDirections();
    dgBody b0;
    dgBody b1;
    setBody(b0, a, poseA);
    setBody(b1, b, poseB);
    dgContactPoint contacts[dgConvexContactsMax];
    float step = 1.0f / 60.0f;
    if (dgConvexContacts(step, &b0, &b1, contacts, dgConvexContactsMax) == 0) {
        state.SkipWithError("the pair does not touch");
    }
    for (auto _ : state) {
        step = 1.0f / 60.0f;
        benchmark::DoNotOptimize(dgConvexContacts(step, &b0, &b1, contacts, dgConvexContactsMax));
        benchmark::DoNotOptimize(contacts[0].point.x);
    }
    a->release();
    b->release();
}

void BM_SphereSphereContacts(benchmark::State& state) {
    runPair(state, new dgCollisionSphere(0, 1.0f, dgGetIdentityMatrix()), dgGetIdentityMatrix(),
            new dgCollisionSphere(0, 0.8f, dgGetIdentityMatrix()),
            placed(dgGetIdentityMatrix(), 1.2f, 1.0f, 0.3f));
}
BENCHMARK(BM_SphereSphereContacts);

// The sphere's centre beyond one edge of a turned box.
void BM_BoxSphereEdgeContacts(benchmark::State& state) {
    const dgMatrix boxPose(
        placed(dgRotationMatrixY(0.6f).multiply(dgRotationMatrixX(0.2f)), 0.3f, -0.2f, 0.1f));
    const dgVector centre(boxPose.transformVector(dgVector(1.2f, 0.6f, 0.0f, 1.0f)));
    runPair(state, new dgCollisionBox(0, 2.0f, 1.0f, 1.5f, dgGetIdentityMatrix()), boxPose,
            new dgCollisionSphere(0, 0.5f, dgGetIdentityMatrix()),
            placed(dgGetIdentityMatrix(), centre.x, centre.y, centre.z));
}
BENCHMARK(BM_BoxSphereEdgeContacts);

void BM_CapsuleOnBoxContacts(benchmark::State& state) {
    runPair(state, new dgCollisionCapsule(0, 0.3f, 2.0f, dgGetIdentityMatrix()),
            placed(dgRotationMatrixY(0.4f), 0.2f, 0.78f, -0.1f),
            new dgCollisionBox(0, 10.0f, 1.0f, 10.0f, dgGetIdentityMatrix()), dgGetIdentityMatrix());
}
BENCHMARK(BM_CapsuleOnBoxContacts);

}  // namespace
