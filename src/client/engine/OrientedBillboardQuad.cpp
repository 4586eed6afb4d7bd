#include "client/engine/OrientedBillboardQuad.h"

#include <cmath>

using namespace irr;

namespace tarnwell {
namespace scene {

namespace {

// Squared lengths at or below this share of the reference have no usable
// direction.
constexpr f32 kNoDirection = 1e-10f;

// A unit vector at right angles to the unit vector v.
core::vector3df anyPerpendicular(const core::vector3df& v) {
    const core::vector3df axis = std::fabs(v.X) < 0.9f ? core::vector3df(1, 0, 0) : core::vector3df(0, 1, 0);
    return v.crossProduct(axis).normalize();
}

}  // namespace

OrientedBillboardQuad orientedBillboardQuad(const core::vector3df& center, const core::vector3df& view,
                                            const core::vector3df& cameraUp, f32 width, f32 topWidth,
                                            f32 height, f32 rollDegrees, bool ownUp,
                                            const core::matrix4& orientation) {
    core::vector3df v = view;
    if (v.getLengthSQ() <= kNoDirection) {
        v.set(0, 0, 1);
    }
    v.normalize();

    // The camera's screen axes in a left-handed frame: right = up x view,
    // up = view x right.
    core::vector3df right = cameraUp.crossProduct(v);
    if (right.getLengthSQ() <= kNoDirection * cameraUp.getLengthSQ() || right.getLengthSQ() == 0.0f) {
        right = anyPerpendicular(v);
    } else {
        right.normalize();
    }
    const f32 roll = rollDegrees * core::DEGTORAD;
    const f32 sine = std::sin(roll);
    const f32 cosine = std::cos(roll);
    core::vector3df up = v.crossProduct(right) * cosine + right * sine;

    if (ownUp) {
        core::vector3df own(sine, cosine, 0.0f);
        orientation.rotateVect(own);
        // Only the part across the view can turn the quad.
        const core::vector3df across = own - v * own.dotProduct(v);
        if (across.getLengthSQ() > kNoDirection * own.getLengthSQ() && across.getLengthSQ() > 0.0f) {
            up = across;
        }
    }
    up.normalize();
    right = up.crossProduct(v);

    const core::vector3df top = center + up * (0.5f * height);
    const core::vector3df bottom = center - up * (0.5f * height);
    OrientedBillboardQuad quad;
    quad.corners[0] = top - right * (0.5f * topWidth);
    quad.corners[1] = top + right * (0.5f * topWidth);
    quad.corners[2] = bottom + right * (0.5f * width);
    quad.corners[3] = bottom - right * (0.5f * width);
    quad.normal = -v;
    return quad;
}

}  // namespace scene
}  // namespace tarnwell
