// One camera scene node of the engine, placed each frame like a camera fixed
// to a moving object: at an offset in the object's own frame, looking along
// its forward axis, with its up axis as the up vector.
#pragma once

#include <irrlicht.h>

#include <cstdint>

class Camera {
public:
    // Adds a camera node at the origin looking at (0, 0, 100) to the scene,
    // under its root, with the given id, far value and aspect ratio. The engine
    // makes the new camera the active one; the menu relies on that.
    Camera(int32_t id, float farValue, float aspectRatio);
    // Leaves the node in the scene: whoever tears the scene down removes it.
    virtual ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Owned by the scene manager; null when there was no scene manager.
    irr::scene::ICameraSceneNode* getNode() const;

    // Rotation in degrees about x, y and z, as the engine's rotation matrix
    // takes them. The node's absolute position is updated at once, so the view
    // is right within the same frame.
    void update(const irr::core::vector3df& offset, const irr::core::vector3df& position,
                const irr::core::vector3df& rotation);

private:
    irr::scene::ICameraSceneNode* node;
};
