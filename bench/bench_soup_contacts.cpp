// A ship-sized box (6 x 3 x 10) and a sphere resting on the game's sea floor,
// at random places and headings, and the ship at 50 m/s diving into it with
// the continuous path. The terrain body sits at (0, -12000, 0) as in the
// game.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "BenchTerrain.h"
#include "dgBody.h"
#include "dgCollisionBox.h"
#include "dgCollisionSphere.h"
#include "dgConvexSoupContacts.h"

namespace {

using namespace benchterrain;

constexpr float kSeaFloorY = -12000.0f;

dgBody placedBody(dgCollision* shape, const dgMatrix& pose) {
    dgBody body;
    body.clear();
    body.m_collision = shape;
    body.m_matrix = pose;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
    return body;
}

// Poses resting on the floor, sunk by `sink`, turned about y at random.
std::vector<dgMatrix> restingPoses(float halfHeight, float sink, float lift) {
    Terrain& t = terrain();
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> yaw(0.0f, 6.2831853f);
    std::vector<dgMatrix> poses;
    for (int32_t k = 0; k < 256; k++) {
        const dgVector p(t.surfacePoint(rng));
        dgMatrix pose(dgRotationMatrixY(yaw(rng)));
        pose.position = dgVector(p.x, p.y + kSeaFloorY + halfHeight - sink + lift, p.z, 1.0f);
        poses.push_back(pose);
    }
    return poses;
}

void contactBench(benchmark::State& state, dgCollision* shape, float halfHeight, float sink, float lift,
                  float speed) {
    Terrain& t = terrain();
    dgMatrix floorPose(dgGetIdentityMatrix());
    floorPose.position = dgVector(0.0f, kSeaFloorY, 0.0f, 1.0f);
    dgBody floor = placedBody(t.shape, floorPose);
    const std::vector<dgMatrix> poses(restingPoses(halfHeight, sink, lift));
    dgContactPoint contacts[dgMaxSoupContacts];
    int64_t total = 0;
    size_t k = 0;
    for (auto _ : state) {
        dgBody body = placedBody(shape, poses[k]);
        if (speed > 0.0f) {
            body.m_flags = dgBodyFlagContinuous;
            body.m_veloc = dgVector(0.0f, -speed, 0.0f, 0.0f);
        }
        float timeStep = 1.0f / 60.0f;
        total += dgConvexSoupContacts(t.world, timeStep, &body, &floor, contacts, dgMaxSoupContacts);
        benchmark::DoNotOptimize(contacts);
        k = (k + 1) % poses.size();
    }
    state.counters["contactsPerCall"] = double(total) / double(state.iterations());
}

void BM_SoupShipBoxResting(benchmark::State& state) {
    dgRefHolder<dgCollisionBox> ship =
        dgRefHolder<dgCollisionBox>::adopt(new dgCollisionBox(0, 6.0f, 3.0f, 10.0f, dgGetIdentityMatrix()));
    contactBench(state, ship.get(), 1.5f, 0.3f, 0.0f, 0.0f);
}
BENCHMARK(BM_SoupShipBoxResting);

void BM_SoupSphereResting(benchmark::State& state) {
    dgRefHolder<dgCollisionSphere> ball =
        dgRefHolder<dgCollisionSphere>::adopt(new dgCollisionSphere(0, 2.0f, dgGetIdentityMatrix()));
    contactBench(state, ball.get(), 2.0f, 0.3f, 0.0f, 0.0f);
}
BENCHMARK(BM_SoupSphereResting);

// Within the set-up slab of the floor under it, closing at 50 m/s.
void BM_SoupShipBoxDiving(benchmark::State& state) {
    dgRefHolder<dgCollisionBox> ship =
        dgRefHolder<dgCollisionBox>::adopt(new dgCollisionBox(0, 6.0f, 3.0f, 10.0f, dgGetIdentityMatrix()));
    contactBench(state, ship.get(), 1.5f, 0.0f, 0.05f, 50.0f);
}
BENCHMARK(BM_SoupShipBoxDiving);

}  // namespace
