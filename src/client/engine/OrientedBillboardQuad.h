// Where the corners of an oriented billboard lie: the quad faces the camera
// (its plane is the screen's), turned by a roll angle about the view
// direction, and takes its up direction either from the camera or from an
// up vector of its own turned by an orientation matrix.
#pragma once

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

struct OrientedBillboardQuad {
    // Top left, top right, bottom right, bottom left as the quad's own up
    // and right directions see them: clockwise on screen, the engine's front
    // face.
    irr::core::vector3df corners[4];
    // Unit vector back towards the camera, against the view direction.
    irr::core::vector3df normal;
};

// center: world position of the quad's middle. view: the camera's viewing
// direction (target minus position, any length; a zero vector counts as +z).
// cameraUp: the camera's up vector (any length).
// width: bottom edge, topWidth: top edge, height: world units.
// rollDegrees: the quad's turn about the view direction; with the camera's
// up, roll a puts the quad's up at up x cos a + right x sin a of the
// camera's screen axes (90 degrees: up becomes the screen's right).
// ownUp: the up vector is (sin a, cos a, 0) turned by `orientation`
// (rotateVect) instead; it is then tilted into the screen plane, and where
// it lies along the view the camera's up (rolled) stands in.
// Degenerate camera vectors fall back to any screen axes; the corners are
// finite for finite input.
OrientedBillboardQuad orientedBillboardQuad(const irr::core::vector3df& center,
                                            const irr::core::vector3df& view,
                                            const irr::core::vector3df& cameraUp, irr::f32 width,
                                            irr::f32 topWidth, irr::f32 height, irr::f32 rollDegrees,
                                            bool ownUp, const irr::core::matrix4& orientation);

}  // namespace scene
}  // namespace tarnwell
