#include "ClientTestSupport.h"
#include "client/camera.h"
#include "client/globals.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using irr::core::vector3df;

// The engine's null device stands in for the 3D device.
class CameraTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(device.get(), nullptr); }

    clienttest::ScopedDevice device{irr::video::EDT_NULL};
};

void expectNear(const vector3df& got, const vector3df& want, float tolerance = 1e-4f) {
    EXPECT_NEAR(got.X, want.X, tolerance);
    EXPECT_NEAR(got.Y, want.Y, tolerance);
    EXPECT_NEAR(got.Z, want.Z, tolerance);
}

TEST_F(CameraTest, NewNodeIsActiveUnderTheRootAndOutlivesTheCamera) {
    Camera* camera = new Camera(3, 300.0f, 1.0f);
    irr::scene::ICameraSceneNode* node = camera->getNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->getID(), 3);
    EXPECT_FLOAT_EQ(node->getFarValue(), 300.0f);
    EXPECT_FLOAT_EQ(node->getAspectRatio(), 1.0f);
    EXPECT_EQ(node->getParent(), globals.sceneManager->getRootSceneNode());
    expectNear(node->getPosition(), vector3df(0, 0, 0));
    expectNear(node->getTarget(), vector3df(0, 0, 100));
    EXPECT_EQ(globals.sceneManager->getActiveCamera(), node);

    // A second camera takes over as the active one.
    Camera second(-1, 250.0f, 0.75f);
    EXPECT_EQ(globals.sceneManager->getActiveCamera(), second.getNode());

    delete camera;
    EXPECT_EQ(globals.sceneManager->getSceneNodeFromId(3), node);
}

TEST_F(CameraTest, WithoutSceneManagerThereIsNoNodeAndUpdateDoesNothing) {
    globals.sceneManager = nullptr;
    Camera camera(2, 2000.0f, 1.0f);
    EXPECT_EQ(camera.getNode(), nullptr);
    camera.update(vector3df(1, 2, 3), vector3df(4, 5, 6), vector3df(7, 8, 9));
}

struct Placement {
    const char* name;
    vector3df rotation;
    vector3df offset;
    vector3df position;
    vector3df eye;
    vector3df forward;
    vector3df up;
};

class CameraPlacement : public CameraTest, public testing::WithParamInterface<Placement> {};

TEST_P(CameraPlacement, FollowsTheEnginesRotation) {
    const Placement& p = GetParam();
    Camera camera(-1, 250.0f, 0.75f);
    const vector3df offset = p.offset;
    camera.update(offset, p.position, p.rotation);
    irr::scene::ICameraSceneNode* node = camera.getNode();
    expectNear(node->getPosition(), p.eye);
    // Absolute at once, before any drawing.
    expectNear(node->getAbsolutePosition(), p.eye);
    expectNear(node->getTarget() - node->getPosition(), p.forward);
    expectNear(node->getUpVector(), p.up);
    EXPECT_TRUE(offset == p.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Camera, CameraPlacement,
    testing::Values(Placement{"Unturned", {0, 0, 0}, {0, 0, 0}, {5, 6, 7}, {5, 6, 7}, {0, 0, 1}, {0, 1, 0}},
                    Placement{
                        "YawRight", {0, 90, 0}, {0, 0, -40}, {0, 0, 0}, {-40, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                    Placement{"YawRightAwayFromOrigin",
                              {0, 90, 0},
                              {0, 3, -40},
                              {10, 20, 30},
                              {-30, 23, 30},
                              {1, 0, 0},
                              {0, 1, 0}},
                    Placement{"Roll", {0, 0, 90}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}},
                    Placement{"Pitch", {90, 0, 0}, {0, 0, 2}, {0, 0, 0}, {0, -2, 0}, {0, -1, 0}, {0, 0, 1}}),
    [](const testing::TestParamInfo<Placement>& info) { return std::string(info.param.name); });

// For any rotation the camera's frame stays orthonormal and the offset is
// carried into it: eye = position + x right + y up + z forward.
TEST_F(CameraTest, OffsetIsCarriedIntoTheTurnedFrame) {
    Camera camera(-1, 250.0f, 0.75f);
    irr::scene::ICameraSceneNode* node = camera.getNode();
    std::mt19937 random(118);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    // Small figures: the forward axis is read back as target - eye, which
    // loses the bits of the eye's magnitude.
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    for (int32_t n = 0; n < 2000; ++n) {
        const vector3df rotation(angle(random), angle(random), angle(random));
        const vector3df offset(coordinate(random), coordinate(random), coordinate(random));
        const vector3df position(coordinate(random), coordinate(random), coordinate(random));
        camera.update(offset, position, rotation);
        const vector3df forward = node->getTarget() - node->getPosition();
        const vector3df up = node->getUpVector();
        ASSERT_NEAR(forward.getLength(), 1.0f, 1e-4f);
        ASSERT_NEAR(up.getLength(), 1.0f, 1e-4f);
        ASSERT_NEAR(forward.dotProduct(up), 0.0f, 1e-4f);
        const vector3df right = up.crossProduct(forward);
        const vector3df eye = position + right * offset.X + up * offset.Y + forward * offset.Z;
        expectNear(node->getPosition(), eye, 1e-4f);
    }
}

}  // namespace
