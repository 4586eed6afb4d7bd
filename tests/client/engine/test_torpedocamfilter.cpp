// The torpedo camera filter as a scene node, on the engine's null device
// alone: this binary links the engine additions without the game.
#include "client/engine/TorpedoCamPostProcessingFilter.h"

#include <gtest/gtest.h>

namespace {

// Counts what the scene manager asks of a node.
class CountingNode : public irr::scene::ISceneNode {
public:
    CountingNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager)
        : irr::scene::ISceneNode(parent, manager, -1) {}
    void OnRegisterSceneNode() override {
        ++registered;
        if (IsVisible) {
            SceneManager->registerNodeForRendering(this);
        }
        ISceneNode::OnRegisterSceneNode();
    }
    void render() override {}
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override { return box; }
    int registered = 0;
    irr::core::aabbox3d<irr::f32> box;
};

class CountingFilter : public TorpedoCamPostProcessingFilter {
public:
    using TorpedoCamPostProcessingFilter::TorpedoCamPostProcessingFilter;
    void render() override {
        ++rendered;
        TorpedoCamPostProcessingFilter::render();
    }
    int rendered = 0;
};

}  // namespace

TEST(TorpedoCamFilter, OneMaterialOverTheGivenTextureAndNothingDrawnWhileHidden) {
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    irr::video::IVideoDriver* driver = device->getVideoDriver();
    irr::scene::ISceneManager* scene = device->getSceneManager();
    scene->addCameraSceneNode();
    irr::video::ITexture* picture = driver->addTexture(irr::core::dimension2d<irr::u32>(4, 4), "picture");
    ASSERT_NE(picture, nullptr);
    CountingFilter* filter = new CountingFilter(scene->getRootSceneNode(), scene, 7, picture);
    CountingNode* child = new CountingNode(filter, scene);

    EXPECT_EQ(filter->getMaterialCount(), 1u);
    EXPECT_EQ(&filter->getMaterial(0), &filter->getMaterial(5));
    EXPECT_FALSE(filter->getMaterial(0).Lighting);
    EXPECT_EQ(filter->getMaterial(0).getTexture(0), picture);
    EXPECT_EQ(filter->getMaterial(0).getTexture(1), nullptr);
    EXPECT_EQ(filter->getShaderCallBack()->invViewportWidth, 0.0f);

    driver->beginScene();
    scene->drawAll();
    driver->endScene();
    EXPECT_EQ(filter->rendered, 1);
    EXPECT_EQ(child->registered, 1);

    filter->setVisible(false);
    driver->beginScene();
    scene->drawAll();
    driver->endScene();
    EXPECT_EQ(filter->rendered, 1);
    EXPECT_EQ(child->registered, 1);

    child->drop();
    filter->drop();
    device->drop();
}
