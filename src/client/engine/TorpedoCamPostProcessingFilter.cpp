#include "client/engine/TorpedoCamPostProcessingFilter.h"

using namespace irr;

TorpedoCamShaderCallBack::~TorpedoCamShaderCallBack() = default;

void TorpedoCamShaderCallBack::OnSetConstants(video::IMaterialRendererServices* services, s32) {
    if (services == nullptr) {
        return;
    }
    services->setVertexShaderConstant("viewport_inv_width", &invViewportWidth, 1);
    services->setVertexShaderConstant("viewport_inv_height", &invViewportHeight, 1);
}

TorpedoCamPostProcessingFilter::TorpedoCamPostProcessingFilter(scene::ISceneNode* parent,
                                                               scene::ISceneManager* manager, s32 id,
                                                               video::ITexture* texture)
    : scene::ISceneNode(parent, manager, id), callback(new TorpedoCamShaderCallBack()) {
    material.Lighting = false;
    material.Wireframe = false;
    material.setTexture(0, texture);
    // A screen quad is never outside the view.
    setAutomaticCulling(scene::EAC_OFF);

    const core::vector3df normal(1.0f, 1.0f, 0.0f);
    const video::SColor color(255, 0, 255, 255);
    vertices.push_back(video::S3DVertex(core::vector3df(-1, -1, 0), normal, color, core::vector2df(0, 1)));
    vertices.push_back(video::S3DVertex(core::vector3df(-1, 1, 0), normal, color, core::vector2df(0, 0)));
    vertices.push_back(video::S3DVertex(core::vector3df(1, 1, 0), normal, color, core::vector2df(1, 0)));
    vertices.push_back(video::S3DVertex(core::vector3df(1, -1, 0), normal, color, core::vector2df(1, 1)));
}

TorpedoCamPostProcessingFilter::~TorpedoCamPostProcessingFilter() {
    callback->drop();
}

void TorpedoCamPostProcessingFilter::OnRegisterSceneNode() {
    if (IsVisible) {
        SceneManager->registerNodeForRendering(this, scene::ESNRP_AUTOMATIC);
        ISceneNode::OnRegisterSceneNode();
    }
}

void TorpedoCamPostProcessingFilter::render() {
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    if (driver == nullptr) {
        return;
    }
    static const u16 indices[6] = {0, 1, 2, 3, 0, 2};
    driver->setMaterial(material);
    driver->setTransform(video::ETS_WORLD, core::IdentityMatrix);
    driver->drawIndexedTriangleList(vertices.const_pointer(), 4, indices, 2);
}

const core::aabbox3d<f32>& TorpedoCamPostProcessingFilter::getBoundingBox() const {
    return box;
}

video::SMaterial& TorpedoCamPostProcessingFilter::getMaterial(u32) {
    return material;
}

u32 TorpedoCamPostProcessingFilter::getMaterialCount() const {
    return 1;
}
