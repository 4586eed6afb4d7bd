// A scene node drawing one quad over (-1, -1)..(1, 1) with its own material:
// a post-processing pass over the torpedo camera's picture. The creator hands
// it the texture of its material's first layer (the resource handler's
// texture 9, which holds nothing, so the user sets the picture to filter,
// the torpedo view's render target) and, when a shader runs it, fills the
// callback's inverse viewport size. Like every engine addition it knows
// nothing of the game.
#pragma once

#include <irrlicht.h>

class TorpedoCamShaderCallBack : public irr::video::IShaderConstantSetCallBack {
public:
    ~TorpedoCamShaderCallBack() override;
    // "viewport_inv_width" and "viewport_inv_height", one float each.
    void OnSetConstants(irr::video::IMaterialRendererServices* services, irr::s32 userData) override;

    irr::f32 invViewportWidth = 0.0f;
    irr::f32 invViewportHeight = 0.0f;
};

class TorpedoCamPostProcessingFilter : public irr::scene::ISceneNode {
public:
    // texture: layer 0 of the material, borrowed; null by default, as the
    // resource handler's texture 9 is.
    TorpedoCamPostProcessingFilter(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager,
                                   irr::s32 id, irr::video::ITexture* texture = nullptr);
    ~TorpedoCamPostProcessingFilter() override;

    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override;
    // The one material, whatever the index.
    irr::video::SMaterial& getMaterial(irr::u32 index) override;
    irr::u32 getMaterialCount() const override;

    TorpedoCamShaderCallBack* getShaderCallBack() const { return callback; }

private:
    irr::video::SMaterial material;
    irr::core::aabbox3d<irr::f32> box;
    irr::core::array<irr::video::S3DVertex> vertices;
    TorpedoCamShaderCallBack* callback;  // owned
};
