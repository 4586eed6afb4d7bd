// Material renderers of our own. `MyMaterialD3D9` holds the Direct3D device
// (none here: null) and the driver, and keeps the interface's defaults.
// `MyMaterialD3D9_ALPHA` blends additively (one, one) with the texture
// modulated by the diffuse colour and z-writes off; it reaches that state
// through the engine's one-texture blend renderer, so it works on whatever
// driver runs.
#pragma once

#include "platform/d3d9.h"

#include <irrlicht.h>

class MyMaterialD3D9 : public irr::video::IMaterialRenderer {
public:
    MyMaterialD3D9(IDirect3DDevice9* device, irr::video::IVideoDriver* driver);
    ~MyMaterialD3D9() override;

protected:
    IDirect3DDevice9* device;          // borrowed; null on this platform
    irr::video::IVideoDriver* driver;  // borrowed
};

class MyMaterialD3D9_ALPHA : public MyMaterialD3D9 {
public:
    MyMaterialD3D9_ALPHA(IDirect3DDevice9* device, irr::video::IVideoDriver* driver);

    void OnSetMaterial(const irr::video::SMaterial& material, const irr::video::SMaterial& lastMaterial,
                       bool resetAllRenderstates, irr::video::IMaterialRendererServices* services) override;
    // Gives the blend state back, so that the next material does not inherit it.
    void OnUnsetMaterial() override;

private:
    irr::video::IMaterialRenderer* blendRenderer() const;
};

// Makes an additive renderer over the driver and adds it to the driver's
// renderers; the new material id (negative on failure).
irr::s32 registerAdditiveMaterial(irr::video::IVideoDriver* driver);
