// Sets the lighting shader's constants from the driver's transformations and
// the scene's active camera: the camera carries the light.
#pragma once

#include <irrlicht.h>

class LightingShaderCallback : public irr::video::IShaderConstantSetCallBack {
public:
    ~LightingShaderCallback() override;
    void OnSetConstants(irr::video::IMaterialRendererServices* services, irr::s32 userData) override;
};
