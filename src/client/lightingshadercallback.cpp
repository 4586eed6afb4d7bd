#include "client/lightingshadercallback.h"

#include "client/globals.h"

using irr::core::matrix4;
using irr::core::vector3df;

LightingShaderCallback::~LightingShaderCallback() = default;

void LightingShaderCallback::OnSetConstants(irr::video::IMaterialRendererServices* services, irr::s32) {
    irr::video::IVideoDriver* driver = globals.driver;
    if (services == nullptr || driver == nullptr) {
        return;
    }
    const matrix4& world = driver->getTransform(irr::video::ETS_WORLD);
    const matrix4& view = driver->getTransform(irr::video::ETS_VIEW);

    matrix4 viewProjection = driver->getTransform(irr::video::ETS_PROJECTION);
    viewProjection *= view;
    viewProjection *= world;
    services->setVertexShaderConstant("matViewProjection", viewProjection.pointer(), 16);
    services->setVertexShaderConstant("matWorld", world.pointer(), 16);
    matrix4 viewInverse = world;
    viewInverse *= view;
    viewInverse.makeInverse();
    services->setVertexShaderConstant("matViewInverse", viewInverse.pointer(), 16);

    vector3df position;
    vector3df direction(0.0f, 0.0f, 1.0f);
    irr::scene::ICameraSceneNode* camera =
        globals.sceneManager != nullptr ? globals.sceneManager->getActiveCamera() : nullptr;
    if (camera != nullptr) {
        position = camera->getAbsolutePosition();
        direction = (camera->getTarget() - position).normalize();
    }
    const float attenuation[4] = {0.00001f, 0.00001f, 0.00001f, 0.00001f};
    const float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    services->setVertexShaderConstant("light1Position", &position.X, 3);
    services->setVertexShaderConstant("cameraPosition", &position.X, 3);
    services->setVertexShaderConstant("lightAttenuation", attenuation, 4);
    services->setVertexShaderConstant("light1Color", color, 4);
    services->setVertexShaderConstant("light1Direction", &direction.X, 3);
}
