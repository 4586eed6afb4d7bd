// The oriented billboard on OpenGL: a quad three times as tall as wide,
// drawn with the engine's default back-face culling, shows on screen upright
// or turned as its roll and own up say.
#include "ClientTestSupport.h"

#include "client/engine/COrientedBillboardSceneNode.h"

#include <gtest/gtest.h>

#include <algorithm>

using clienttest::ScopedDevice;

namespace {

struct Shape {
    irr::s32 width, height;  // of the lit pixels' bounding rectangle
};

// Draws the scene into a square target and measures what it lit.
Shape drawnShape(irr::video::IVideoDriver* driver, irr::scene::ISceneManager* scene,
                 irr::video::ITexture* target) {
    driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    driver->setRenderTarget(target, true, true, irr::video::SColor(255, 0, 0, 0));
    scene->drawAll();
    driver->setRenderTarget(nullptr);
    driver->endScene();
    const irr::u32* texels = static_cast<const irr::u32*>(target->lock(irr::video::ETLM_READ_ONLY));
    if (texels == nullptr) {
        return {0, 0};
    }
    const irr::s32 side = static_cast<irr::s32>(target->getSize().Width);
    irr::s32 left = side, right = -1, top = side, bottom = -1;
    for (irr::s32 y = 0; y < side; ++y) {
        for (irr::s32 x = 0; x < side; ++x) {
            if (irr::video::SColor(texels[y * side + x]).getGreen() > 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    target->unlock();
    return right < 0 ? Shape{0, 0} : Shape{right - left + 1, bottom - top + 1};
}

TEST(OrientedBillboardOnOpenGl, ShowsUprightOrTurnedAsRollAndOwnUpSay) {
    REQUIRE_OPENGL();
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    irr::scene::ISceneManager* scene = globals.sceneManager;
    irr::scene::ICameraSceneNode* camera =
        scene->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, -50), irr::core::vector3df());
    tarnwell::scene::COrientedBillboardSceneNode* quad =
        tarnwell::scene::addOrientedBillboardSceneNode(scene, nullptr, irr::core::dimension2df(10, 30));
    ASSERT_NE(quad, nullptr);
    quad->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    ASSERT_TRUE(quad->getMaterial(0).BackfaceCulling);
    camera->setAspectRatio(1.0f);
    irr::video::ITexture* target =
        globals.driver->addRenderTargetTexture(irr::core::dimension2d<irr::u32>(128, 128));
    ASSERT_NE(target, nullptr);

    const Shape upright = drawnShape(globals.driver, scene, target);
    EXPECT_GT(upright.height, 2 * upright.width) << upright.width << " x " << upright.height;
    quad->setRollAngle(90);
    const Shape turned = drawnShape(globals.driver, scene, target);
    EXPECT_GT(turned.width, 2 * turned.height) << turned.width << " x " << turned.height;
    // With its own up the quad stands upright in the world; a camera rolled
    // a quarter turn sees it lying.
    quad->setRollAngle(0);
    quad->setOwnUp(true);
    camera->setUpVector(irr::core::vector3df(1, 0, 0));
    const Shape lying = drawnShape(globals.driver, scene, target);
    EXPECT_GT(lying.width, 2 * lying.height) << lying.width << " x " << lying.height;
    quad->setOwnUp(false);
    const Shape withCamera = drawnShape(globals.driver, scene, target);
    EXPECT_GT(withCamera.height, 2 * withCamera.width) << withCamera.width << " x " << withCamera.height;
}

}  // namespace
