// A four-tire car on the ground, built through the public header, and the
// driver's controls its tire callback applies: the car of the vehicle tests
// (chassis 1000 kg, 4 x 1.5 x 2 m, tires of radius 0.35 m).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "GameTerrain.h"
#include "GridSoup.h"
#include "dgPhysics.h"

namespace vehiclerig {

constexpr float kStep = 1.0f / 60.0f;
constexpr float kChassisMass = 1000.0f;
constexpr float kTireMass = 20.0f;
constexpr float kTireRadius = 0.35f;
constexpr float kTireWidth = 0.25f;
// Spring per unit of relative acceleration and a critical shock for it.
constexpr float kSpring = 3000.0f;
constexpr float kShock = 400.0f;
constexpr float kGravity = 9.8f;

// What the tire callback applies this sub-step: drive torque on the rear
// tires, full brakes on all four, steer angle of the front ones (radians).
struct Controls {
    float torque = 0.0f;
    bool brake = false;
    float steer = 0.0f;
};

inline Controls& controls() {
    static Controls c;
    return c;
}

inline void chassisGravity(dgBody* body) {
    const float force[3] = {0.0f, -kGravity * kChassisMass, 0.0f};
    dgBodySetForce(body, force);
}

inline void drive(dgConstraint* vehicle) {
    int32_t index = 0;
    for (dgVehicleTire* tire = dgVehicleGetFirstTire(vehicle); tire; tire = dgVehicleGetNextTire(vehicle, tire)) {
        const bool front = index < 2;
        if (front) {
            dgVehicleSetTireSteerAngle(vehicle, tire, controls().steer);
        } else {
            dgVehicleTireSetTorque(tire, controls().torque);
        }
        if (controls().brake) {
            dgVehicleTireSetBrake(tire, dgVehicleTireCalculateMaxBrake(tire), 3000.0f);
        }
        ++index;
    }
}

// A flat square of polygon soup, 2 x half wide, its top at y = 0.
inline dgCollision* flatGround(dgWorld* world, float half) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const float quad[12] = {-half, 0, -half, -half, 0, half, half, 0, half, half, 0, -half};
    dgTreeCollisionAddFace(tree, 4, quad, 12, 0);
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

// The optimised grid soup of n x n cells, vertex(i, j, xyz) placing the
// grid's vertices.
template <class Vertex>
dgCollision* gridGround(dgWorld* world, int32_t n, Vertex&& vertex) {
    return gridsoup::gridSoup(world, n, vertex, 1);
}

// A rolling soup: y = 0.3 sin(x / 7) cos(z / 9) over cells of 3 m.
inline dgCollision* rollingGround(dgWorld* world, float half) {
    return gridGround(world, int32_t(2.0f * half / 3.0f), [half](int32_t i, int32_t j, float* out) {
        out[0] = 3.0f * float(i) - half;
        out[2] = 3.0f * float(j) - half;
        out[1] = 0.3f * std::sin(out[0] / 7.0f) * std::cos(out[2] / 9.0f);
    });
}

// The scene benchmarks' S4 terrain: 101 x 101 vertices 3 m apart,
// y = 5 sin(i / 2) cos(j / 2), shifted so that the pit at i = 15 pi,
// j = 16 pi lies under the origin.
inline dgCollision* s4Terrain(dgWorld* world) {
    return gridGround(world, 100, [](int32_t i, int32_t j, float* out) {
        out[0] = 3.0f * float(i) - 3.0f * 15.0f * 3.14159265f;
        out[1] = 5.0f * std::sin(float(i) * 0.5f) * std::cos(float(j) * 0.5f) + 5.0f;
        out[2] = 3.0f * float(j) - 3.0f * 16.0f * 3.14159265f;
    });
}

// A plane rising along +x at the given angle (radians), through the origin.
inline dgCollision* slopeGround(dgWorld* world, float angle) {
    const float rise = std::tan(angle);
    return gridGround(world, 40, [rise](int32_t i, int32_t j, float* out) {
        out[0] = 10.0f * float(i) - 200.0f;
        out[2] = 10.0f * float(j) - 200.0f;
        out[1] = rise * out[0];
    });
}

// The game's generated sea floor (empty where the media were not built).
inline const std::vector<uint16_t>& seaFloor() {
    static const std::vector<uint16_t> map =
        gameterrain::loadHeightMap(TARNWELL_MEDIA_DIR "/terrain/map257x257.raw");
    return map;
}

// Slope: slopeGround at the Car's angle; Game: seaFloor(), the car at its
// middle.
enum class Ground { Flat, Rolling, S4, Slope, Game };

inline std::string groundName(Ground ground) {
    const char* names[] = {"Flat", "Rolling", "S4", "Slope", "Game"};
    return names[int(ground)];
}

struct Car {
    dgWorld* world = nullptr;
    dgBody* chassis = nullptr;
    dgConstraint* vehicle = nullptr;
    std::vector<dgVehicleTire*> tires;

    // The car's chassis at height y above the origin (above the sea floor's
    // middle), nose along +x; on a slope turned to lie along it.
    Car(Ground kind, float y, float angle = 0.0f) {
        controls() = Controls();
        world = dgWorldCreate(nullptr, nullptr);
        const float lo[3] = {-400, -100, -400};
        const float hi[3] = {400, 300, 400};
        dgWorldSetSize(world, lo, hi);
        float x = 0.0f;
        float z = 0.0f;
        if (kind == Ground::Game) {
            gameterrain::createLevelBody(world, seaFloor());
            x = z = 2560.0f;
            y += gameterrain::surfaceHeight(seaFloor(), x, z);
        } else {
            dgCollision* ground = (kind == Ground::Rolling) ? rollingGround(world, 150.0f)
                                  : (kind == Ground::S4)    ? s4Terrain(world)
                                  : (kind == Ground::Slope) ? slopeGround(world, angle)
                                                            : flatGround(world, 300.0f);
            dgCreateBody(world, ground);
            dgReleaseCollision(world, ground);
        }

        dgCollision* box = dgCreateBox(world, 4.0f, 1.5f, 2.0f, nullptr);
        chassis = dgCreateBody(world, box);
        dgReleaseCollision(world, box);
        dgBodySetMassMatrix(chassis, kChassisMass, kChassisMass * (1.5f * 1.5f + 4.0f) / 12.0f,
                            kChassisMass * (16.0f + 4.0f) / 12.0f, kChassisMass * (16.0f + 2.25f) / 12.0f);
        dgBodySetForceAndTorqueCallback(chassis, chassisGravity);
        dgBodySetAutoFreeze(chassis, 0);
        const float c = std::cos(angle);
        const float s = std::sin(angle);
        const float pose[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1};
        dgBodySetMatrix(chassis, pose);
        const float up[3] = {-s, c, 0};
        vehicle = dgCreateVehicle(world, up, chassis);
        dgVehicleSetTireCallback(vehicle, drive);
        // Front pair first. The tire's own x axis (its spin axis) lies along
        // the chassis's z.
        const float at[4][2] = {{1.3f, 0.9f}, {1.3f, -0.9f}, {-1.3f, 0.9f}, {-1.3f, -0.9f}};
        const float pin[4] = {1, 0, 0, 0};
        for (const auto& p : at) {
            const float matrix[16] = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, p[0], -0.75f, p[1], 1};
            tires.push_back(dgVehicleAddTire(vehicle, matrix, pin, kTireMass, kTireWidth, kTireRadius, kShock,
                                             kSpring, 0.3f, 0, nullptr));
        }
    }
    ~Car() { dgWorldDestroy(world); }
    Car(const Car&) = delete;
    Car& operator=(const Car&) = delete;

    void step(int32_t count = 1) {
        for (int32_t i = 0; i < count; ++i) {
            dgWorldUpdate(world, kStep);
        }
    }
    float matrix(int32_t k) const {
        float m[16];
        dgBodyGetMatrix(chassis, m);
        return m[k];
    }
    float velocity(int32_t k) const {
        float v[3];
        dgBodyGetVelocity(chassis, v);
        return v[k];
    }
    float speed() const {
        float v[3];
        dgBodyGetVelocity(chassis, v);
        return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
};

inline bool allFinite(const float* v, int32_t count) {
    return std::all_of(v, v + count, [](float x) { return std::isfinite(x); });
}

// The chassis's pose, velocity and spin and every tire's matrix finite.
inline bool carIsFinite(const Car& car) {
    float m[16], v[3], w[3];
    dgBodyGetMatrix(car.chassis, m);
    dgBodyGetVelocity(car.chassis, v);
    dgBodyGetOmega(car.chassis, w);
    bool ok = allFinite(m, 16) && allFinite(v, 3) && allFinite(w, 3);
    for (dgVehicleTire* tire : car.tires) {
        dgVehicleGetTireMatrix(car.vehicle, tire, m);
        ok = ok && allFinite(m, 16);
    }
    return ok;
}

// The largest error of the rotation rows' dot products against the identity.
inline double orthonormalError(const float* m) {
    double error = 0.0;
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
            const double dot = double(m[4 * i]) * m[4 * j] + double(m[4 * i + 1]) * m[4 * j + 1] +
                               double(m[4 * i + 2]) * m[4 * j + 2];
            error = std::max(error, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    }
    return error;
}

}  // namespace vehiclerig
