#include "client/camera.h"

#include "client/globals.h"

Camera::Camera(int32_t id, float farValue, float aspectRatio) : node(nullptr) {
    if (!globals.sceneManager) {
        return;
    }
    node = globals.sceneManager->addCameraSceneNode(nullptr, irr::core::vector3df(0.0f, 0.0f, 0.0f),
                                                    irr::core::vector3df(0.0f, 0.0f, 100.0f), id);
    if (node) {
        node->setFarValue(farValue);
        node->setAspectRatio(aspectRatio);
    }
}

Camera::~Camera() = default;

irr::scene::ICameraSceneNode* Camera::getNode() const {
    return node;
}

void Camera::update(const irr::core::vector3df& offset, const irr::core::vector3df& position,
                    const irr::core::vector3df& rotation) {
    if (!node) {
        return;
    }
    irr::core::matrix4 turn;
    turn.setRotationDegrees(rotation);

    irr::core::vector3df up(0.0f, 1.0f, 0.0f);
    irr::core::vector3df forward(0.0f, 0.0f, 1.0f);
    irr::core::vector3df turnedOffset;
    turn.rotateVect(up);
    turn.rotateVect(forward);
    turn.rotateVect(turnedOffset, offset);

    const irr::core::vector3df eye = position + turnedOffset;
    node->setPosition(eye);
    node->setUpVector(up);
    node->setTarget(eye + forward);
    node->updateAbsolutePosition();
}
