#include "client/engine/COrientedBillboardSceneNode.h"

using namespace irr;

namespace tarnwell {
namespace scene {

COrientedBillboardSceneNode::COrientedBillboardSceneNode(irr::scene::ISceneNode* parent,
                                                         irr::scene::ISceneManager* manager, s32 id,
                                                         const core::vector3df& position,
                                                         const core::dimension2df& size)
    : irr::scene::IBillboardSceneNode(parent, manager, id, position), size(size), topEdgeWidth(size.Width) {}

COrientedBillboardSceneNode::~COrientedBillboardSceneNode() = default;

void COrientedBillboardSceneNode::setRollAngle(f32 degrees) { rollAngle = degrees; }
void COrientedBillboardSceneNode::setOrientation(const core::matrix4& value) { orientation = value; }
void COrientedBillboardSceneNode::setOwnUp(bool on) { ownUp = on; }
void COrientedBillboardSceneNode::OnRegisterSceneNode() { ISceneNode::OnRegisterSceneNode(); }
void COrientedBillboardSceneNode::render() {}
const core::aabbox3d<f32>& COrientedBillboardSceneNode::getBoundingBox() const { return box; }
video::SMaterial& COrientedBillboardSceneNode::getMaterial(u32) { return material; }
u32 COrientedBillboardSceneNode::getMaterialCount() const { return 1; }
void COrientedBillboardSceneNode::setSize(const core::dimension2d<f32>& value) { size = value; }
void COrientedBillboardSceneNode::setSize(f32 height, f32 bottomEdgeWidth, f32 top) {
    size = core::dimension2d<f32>(bottomEdgeWidth, height);
    topEdgeWidth = top;
}
const core::dimension2d<f32>& COrientedBillboardSceneNode::getSize() const { return size; }
void COrientedBillboardSceneNode::getSize(f32& height, f32& bottomEdgeWidth, f32& top) const {
    height = size.Height;
    bottomEdgeWidth = size.Width;
    top = topEdgeWidth;
}
void COrientedBillboardSceneNode::setColor(const video::SColor&) {}
void COrientedBillboardSceneNode::setColor(const video::SColor&, const video::SColor&) {}
void COrientedBillboardSceneNode::getColor(video::SColor& top, video::SColor& bottom) const {
    top = vertices[0].Color;
    bottom = vertices[1].Color;
}

COrientedBillboardSceneNode* addOrientedBillboardSceneNode(irr::scene::ISceneManager* manager,
                                                           irr::scene::ISceneNode* parent,
                                                           const core::dimension2df& size,
                                                           const core::vector3df& position, s32 id) {
    if (manager == nullptr) {
        return nullptr;
    }
    COrientedBillboardSceneNode* node = new COrientedBillboardSceneNode(
        parent != nullptr ? parent : manager->getRootSceneNode(), manager, id, position, size);
    node->drop();
    return node;
}

}  // namespace scene
}  // namespace tarnwell
