#include "client/engine/COrientedBillboardSceneNode.h"

#include "client/engine/OrientedBillboardQuad.h"
#include "client/engine/ParticleMath.h"

#include <algorithm>
#include <cmath>
#include <new>

using namespace irr;

namespace tarnwell {
namespace scene {

namespace {

// Two triangles over the corners' order (clockwise on screen).
const u16 kIndices[6] = {0, 1, 2, 0, 2, 3};

}  // namespace

COrientedBillboardSceneNode::COrientedBillboardSceneNode(irr::scene::ISceneNode* parent,
                                                         irr::scene::ISceneManager* manager, s32 id,
                                                         const core::vector3df& position,
                                                         const core::dimension2df& size)
    : irr::scene::IBillboardSceneNode(parent, manager, id, position), size(1.0f, 1.0f), topEdgeWidth(1.0f) {
    const core::vector2df uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (u32 i = 0; i < 4; ++i) {
        vertices[i].TCoords = uv[i];
        vertices[i].Color = video::SColor(255, 255, 255, 255);
    }
    setSize(size);
}

COrientedBillboardSceneNode::~COrientedBillboardSceneNode() = default;

void COrientedBillboardSceneNode::setRollAngle(f32 degrees) {
    if (std::isfinite(degrees)) {
        rollAngle = degrees;
    }
}

void COrientedBillboardSceneNode::setOrientation(const core::matrix4& value) {
    if (isFinite(value)) {
        orientation = value;
    }
}

void COrientedBillboardSceneNode::setOwnUp(bool on) {
    ownUp = on;
}

void COrientedBillboardSceneNode::OnRegisterSceneNode() {
    // The automatic pass puts a transparent material into the transparent
    // pass, sorted by distance, as the engine's own billboard is.
    if (IsVisible) {
        SceneManager->registerNodeForRendering(this, irr::scene::ESNRP_AUTOMATIC);
    }
    ISceneNode::OnRegisterSceneNode();
}

void COrientedBillboardSceneNode::render() {
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    irr::scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    if (driver == nullptr || camera == nullptr) {
        return;
    }
    const OrientedBillboardQuad quad = orientedBillboardQuad(
        getAbsolutePosition(), camera->getTarget() - camera->getAbsolutePosition(), camera->getUpVector(),
        size.Width, topEdgeWidth, size.Height, rollAngle, ownUp, orientation);
    for (u32 i = 0; i < 4; ++i) {
        vertices[i].Pos = quad.corners[i];
        vertices[i].Normal = quad.normal;
    }
    driver->setTransform(video::ETS_WORLD, core::IdentityMatrix);
    driver->setMaterial(material);
    driver->drawIndexedTriangleList(vertices, 4, kIndices, 2);
}

const core::aabbox3d<f32>& COrientedBillboardSceneNode::getBoundingBox() const {
    return box;
}

video::SMaterial& COrientedBillboardSceneNode::getMaterial(u32) {
    return material;
}

u32 COrientedBillboardSceneNode::getMaterialCount() const {
    return 1;
}

void COrientedBillboardSceneNode::setSize(const core::dimension2d<f32>& value) {
    setSize(value.Height, value.Width, value.Width);
}

void COrientedBillboardSceneNode::setSize(f32 height, f32 bottomEdgeWidth, f32 top) {
    if (!isFinite(height) || !isFinite(bottomEdgeWidth) || !isFinite(top)) {
        return;
    }
    size = core::dimension2d<f32>(bottomEdgeWidth, height);
    topEdgeWidth = top;
    // The quad may take any roll: the box holds it at every one, a cube as
    // wide as the quad's widest diagonal.
    const f32 wider = std::max(std::fabs(bottomEdgeWidth), std::fabs(top));
    const f32 half = 0.5f * std::sqrt(wider * wider + height * height);
    box = core::aabbox3d<f32>(-half, -half, -half, half, half, half);
}

const core::dimension2d<f32>& COrientedBillboardSceneNode::getSize() const {
    return size;
}

void COrientedBillboardSceneNode::getSize(f32& height, f32& bottomEdgeWidth, f32& top) const {
    height = size.Height;
    bottomEdgeWidth = size.Width;
    top = topEdgeWidth;
}

void COrientedBillboardSceneNode::setColor(const video::SColor& overallColor) {
    setColor(overallColor, overallColor);
}

void COrientedBillboardSceneNode::setColor(const video::SColor& topColor, const video::SColor& bottomColor) {
    vertices[0].Color = topColor;
    vertices[1].Color = topColor;
    vertices[2].Color = bottomColor;
    vertices[3].Color = bottomColor;
}

void COrientedBillboardSceneNode::getColor(video::SColor& topColor, video::SColor& bottomColor) const {
    topColor = vertices[0].Color;
    bottomColor = vertices[3].Color;
}

COrientedBillboardSceneNode* addOrientedBillboardSceneNode(irr::scene::ISceneManager* manager,
                                                           irr::scene::ISceneNode* parent,
                                                           const core::dimension2df& size,
                                                           const core::vector3df& position, s32 id) {
    if (manager == nullptr) {
        return nullptr;
    }
    COrientedBillboardSceneNode* node = new (std::nothrow) COrientedBillboardSceneNode(
        parent != nullptr ? parent : manager->getRootSceneNode(), manager, id, position, size);
    // The parent holds the node from here on.
    if (node != nullptr) {
        node->drop();
    }
    return node;
}

}  // namespace scene
}  // namespace tarnwell
