#include "client/physicsrules.h"

#include "client/constants.h"
#include "client/object.h"

#include "physics/dynamics/dgPhysics.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kRadiansToDegrees = 57.295776f;
// From this |row 0's z| on, dgGetEulerAngles takes the pitch for locked and
// pins z to 0; below kLocked row 0 has no direction left in x and z.
constexpr float kGimbalBand = 0.99995f;
constexpr double kLocked = 1e-7;

constexpr uint32_t bit(ObjectType type) { return 1u << static_cast<uint32_t>(type); }

// A rule matches when one object's type is in `one` and the other's in
// `other`; its actions name those two as 0 and 1. The types the rules name
// never overlap, so at most one rule matches a pair.
struct Rule {
    uint32_t one;
    uint32_t other;
    ContactActions actions;
};

constexpr Rule kRules[] = {
    {bit(OBJECT_LEVEL) | bit(OBJECT_STATION), bit(OBJECT_TORPEDO),
     {1, {{ContactEffect::TorpedoExplodesOnStatic, 1}, {}}}},
    {bit(OBJECT_TRASH), bit(OBJECT_TORPEDO),
     {2, {{ContactEffect::TrashHit, 0}, {ContactEffect::TorpedoExplodes, 1}}}},
    {bit(OBJECT_SHIP), bit(OBJECT_TORPEDO),
     {2, {{ContactEffect::ShipDamaged, 0}, {ContactEffect::TorpedoExplodes, 1}}}},
    {bit(OBJECT_SHIP), bit(OBJECT_SHIP),
     {2, {{ContactEffect::ShipCollisionSound, 0}, {ContactEffect::ShipCollisionSound, 1}}}},
    {bit(OBJECT_SHIP), bit(OBJECT_STATION) | bit(OBJECT_LEVEL), {1, {{ContactEffect::ShipCollisionSound, 0}, {}}}},
};

uint32_t typeBit(int32_t type) { return (type >= OBJECT_LEVEL && type <= OBJECT_TRASH) ? 1u << type : 0u; }

}  // namespace

ContactActions contactRules(int32_t typeA, int32_t typeB) {
    ContactActions result;
    const uint32_t a = typeBit(typeA);
    const uint32_t b = typeBit(typeB);
    for (const Rule& rule : kRules) {
        int32_t one = -1;
        if ((rule.one & a) != 0 && (rule.other & b) != 0) {
            one = 0;
        } else if ((rule.one & b) != 0 && (rule.other & a) != 0) {
            one = 1;
        }
        if (one >= 0) {
            result.count = rule.actions.count;
            for (int32_t k = 0; k < result.count; ++k) {
                const ContactAction& action = rule.actions.actions[k];
                result.actions[k] = {action.effect, action.object == 0 ? one : 1 - one};
            }
            break;
        }
    }
    return result;
}

bool debugDrawShows(int32_t mode, int32_t type) { return mode == 2 || (mode == 1 && type != OBJECT_LEVEL); }

irr::core::vector3df boxInertia(float mass, const irr::core::vector3df& size) {
    const float xx = size.X * size.X;
    const float yy = size.Y * size.Y;
    const float zz = size.Z * size.Z;
    return irr::core::vector3df(mass * (yy + zz), mass * (xx + zz), mass * (xx + yy));
}

irr::core::vector3df levelVertex(const irr::core::vector3df& terrainVertex) {
    return irr::core::vector3df(terrainVertex.X * TERRAIN_SCALE_XZ, terrainVertex.Y * TERRAIN_SCALE_Y,
                                terrainVertex.Z * TERRAIN_SCALE_XZ);
}

irr::core::vector3df placeInsideBox(const irr::core::vector3df& centre, const irr::core::vector3df& boxMin,
                                    const irr::core::vector3df& boxMax, const irr::core::vector3df& worldMin,
                                    const irr::core::vector3df& worldMax, float margin) {
    const float c[3] = {centre.X, centre.Y, centre.Z};
    const float lo[3] = {boxMin.X, boxMin.Y, boxMin.Z};
    const float hi[3] = {boxMax.X, boxMax.Y, boxMax.Z};
    const float wlo[3] = {worldMin.X, worldMin.Y, worldMin.Z};
    const float whi[3] = {worldMax.X, worldMax.Y, worldMax.Z};
    float out[3];
    for (int32_t axis = 0; axis < 3; ++axis) {
        // The box's reach below and above its centre.
        const float below = c[axis] - lo[axis];
        const float above = hi[axis] - c[axis];
        const float least = wlo[axis] + margin + below;
        const float most = whi[axis] - margin - above;
        out[axis] = (least <= most) ? std::clamp(c[axis], least, most) : 0.5f * (wlo[axis] + whi[axis]);
    }
    return irr::core::vector3df(out[0], out[1], out[2]);
}

// In the band the pitch comes from the axes (atan2 keeps it exact where asin
// flattens), z from row 0 while it still has a direction (any z will do once
// it has none), and x from the rows' well-sized entries given those two: with
// the engine's set-up, row 1 = (sx sy cz - cx sz, sx sy sz + cx cz, sx cy),
// so cos x = m5 cz - m4 sz and sin x = sy (m4 cz + m5 sz) + cy m6 whatever
// the pitch.
irr::core::vector3df bodyRotationDegrees(const float* m) {
    float angles[3];
    dgGetEulerAngles(m, angles);
    if (std::fabs(m[2]) >= kGimbalBand) {
        const double across = std::hypot(double(m[0]), double(m[1]));
        const double y = std::atan2(-double(m[2]), across);
        const double z = across > kLocked ? std::atan2(double(m[1]), double(m[0])) : 0.0;
        const double sy = std::sin(y);
        const double cy = std::cos(y);
        const double sz = std::sin(z);
        const double cz = std::cos(z);
        const double sx = sy * (m[4] * cz + m[5] * sz) + cy * m[6];
        const double cx = m[5] * cz - m[4] * sz;
        angles[0] = float(std::atan2(sx, cx));
        angles[1] = float(y);
        angles[2] = float(z);
    }
    return irr::core::vector3df(angles[0], angles[1], angles[2]) * kRadiansToDegrees;
}

