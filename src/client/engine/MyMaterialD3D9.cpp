#include "client/engine/MyMaterialD3D9.h"

using namespace irr;

MyMaterialD3D9::MyMaterialD3D9(IDirect3DDevice9* device_, video::IVideoDriver* driver_)
    : device(device_), driver(driver_) {}

MyMaterialD3D9::~MyMaterialD3D9() = default;

MyMaterialD3D9_ALPHA::MyMaterialD3D9_ALPHA(IDirect3DDevice9* device_, video::IVideoDriver* driver_)
    : MyMaterialD3D9(device_, driver_) {}

video::IMaterialRenderer* MyMaterialD3D9_ALPHA::blendRenderer() const {
    return driver != nullptr ? driver->getMaterialRenderer(video::EMT_ONETEXTURE_BLEND) : nullptr;
}

void MyMaterialD3D9_ALPHA::OnSetMaterial(const video::SMaterial& material,
                                         const video::SMaterial& lastMaterial, bool resetAllRenderstates,
                                         video::IMaterialRendererServices* services) {
    video::SMaterial additive = material;
    additive.ZWriteEnable = false;
    const bool setBlend = material.MaterialType != lastMaterial.MaterialType || resetAllRenderstates;
    video::IMaterialRenderer* blend = blendRenderer();
    if (setBlend && blend != nullptr) {
        // Texture times diffuse, source and destination factors one.
        additive.MaterialType = video::EMT_ONETEXTURE_BLEND;
        additive.MaterialTypeParam =
            video::pack_textureBlendFunc(video::EBF_ONE, video::EBF_ONE, video::EMFN_MODULATE_1X,
                                         video::EAS_TEXTURE | video::EAS_VERTEX_COLOR);
        video::SMaterial last = lastMaterial;
        blend->OnSetMaterial(additive, last, true, services);
        return;
    }
    if (services != nullptr) {
        services->setBasicRenderStates(additive, lastMaterial, resetAllRenderstates);
    }
}

void MyMaterialD3D9_ALPHA::OnUnsetMaterial() {
    video::IMaterialRenderer* blend = blendRenderer();
    if (blend != nullptr) {
        blend->OnUnsetMaterial();
    }
}

s32 registerAdditiveMaterial(video::IVideoDriver* driver) {
    if (driver == nullptr) {
        return -1;
    }
    MyMaterialD3D9_ALPHA* renderer = new MyMaterialD3D9_ALPHA(nullptr, driver);
    const s32 id = driver->addMaterialRenderer(renderer, "MyMaterialD3D9_ALPHA");
    renderer->drop();
    return id;
}
