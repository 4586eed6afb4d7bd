// A billboard that can turn its quad about the view direction and take its
// up vector from an orientation of its own instead of the camera's: the
// spinning bullet sprites and the floating particles around the player need
// both, which the engine's own billboard lacks.
#pragma once

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class COrientedBillboardSceneNode : public irr::scene::IBillboardSceneNode {
public:
    COrientedBillboardSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager, irr::s32 id,
                                const irr::core::vector3df& position, const irr::core::dimension2df& size);
    ~COrientedBillboardSceneNode() override;

    // Degrees about the view direction.
    void setRollAngle(irr::f32 degrees);
    irr::f32 getRollAngle() const { return rollAngle; }
    // The rotation that turns the own up vector (sin a, cos a, 0) when the
    // own-up flag is on.
    void setOrientation(const irr::core::matrix4& orientation);
    const irr::core::matrix4& getOrientation() const { return orientation; }
    // On: the up vector is (sin a, cos a, 0) for the roll angle a, turned by
    // the orientation; off: the camera's up vector turned by a about the view
    // direction.
    void setOwnUp(bool on);
    bool getOwnUp() const { return ownUp; }

    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override;
    irr::video::SMaterial& getMaterial(irr::u32 index) override;
    irr::u32 getMaterialCount() const override;

    void setSize(const irr::core::dimension2d<irr::f32>& size) override;
    void setSize(irr::f32 height, irr::f32 bottomEdgeWidth, irr::f32 topEdgeWidth) override;
    const irr::core::dimension2d<irr::f32>& getSize() const override;
    void getSize(irr::f32& height, irr::f32& bottomEdgeWidth, irr::f32& topEdgeWidth) const override;
    void setColor(const irr::video::SColor& overallColor) override;
    void setColor(const irr::video::SColor& topColor, const irr::video::SColor& bottomColor) override;
    void getColor(irr::video::SColor& topColor, irr::video::SColor& bottomColor) const override;

private:
    irr::core::dimension2d<irr::f32> size;
    irr::f32 topEdgeWidth;
    irr::core::aabbox3d<irr::f32> box;
    irr::video::SMaterial material;
    irr::video::S3DVertex vertices[4];
    irr::f32 rollAngle = 0.0f;
    irr::core::matrix4 orientation;
    bool ownUp = false;
};

// Adds one to the scene below `parent` (null: the root); the scene owns it
// (do not drop it). Null without a scene manager.
COrientedBillboardSceneNode* addOrientedBillboardSceneNode(
    irr::scene::ISceneManager* manager, irr::scene::ISceneNode* parent = nullptr,
    const irr::core::dimension2df& size = irr::core::dimension2df(10.0f, 10.0f),
    const irr::core::vector3df& position = irr::core::vector3df(), irr::s32 id = -1);

}  // namespace scene
}  // namespace tarnwell
