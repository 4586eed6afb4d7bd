// The oriented billboard: its corners against the camera's screen axes read
// from the engine's view matrix, and the node on the null device (render
// pass, culling, box).
#include "client/engine/COrientedBillboardSceneNode.h"
#include "client/engine/OrientedBillboardQuad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using irr::core::matrix4;
using irr::core::vector3df;
namespace ts = tarnwell::scene;

using Vec = irr::core::vector3d<double>;
Vec toVec(const vector3df& v) {
    return Vec(v.X, v.Y, v.Z);
}

// Over random cameras, sizes, rolls and orientations: the quad's up is the
// camera's up turned by the roll towards its right (the screen axes are the
// rows of the engine's view matrix), or the own up (sin a, cos a, 0) turned
// by the orientation and laid into the screen; its edges have their widths
// and height, its right completes the screen's handedness, and it faces the
// camera.
TEST(OrientedBillboardQuad, MatchesTheScreenAxesTurnedByTheRoll) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> place(-500.0f, 500.0f);
    std::uniform_real_distribution<float> angle(-720.0f, 720.0f);
    std::uniform_real_distribution<float> extent(0.5f, 20.0f);
    for (int i = 0; i < 4000; ++i) {
        const vector3df camera(place(random), place(random), place(random));
        const vector3df target = camera + vector3df(place(random), place(random), place(random));
        const vector3df cameraUp(place(random), place(random), place(random));
        const vector3df center = vector3df(place(random), place(random), place(random)) * 0.1f;
        const float width = extent(random), topWidth = extent(random), height = extent(random);
        const float roll = angle(random);
        const bool ownUp = i % 2 == 1;
        matrix4 orientation;
        orientation.setRotationDegrees(vector3df(angle(random), angle(random), angle(random)));

        const ts::OrientedBillboardQuad quad = ts::orientedBillboardQuad(
            center, target - camera, cameraUp, width, topWidth, height, roll, ownUp, orientation);
        matrix4 view;
        view.buildCameraLookAtMatrixLH(camera, target, cameraUp);
        const Vec right0(view[0], view[4], view[8]), up0(view[1], view[5], view[9]);
        const Vec forward(view[2], view[6], view[10]);
        const double a = double(roll) * M_PI / 180.0;
        Vec up = up0 * std::cos(a) + right0 * std::sin(a);
        if (ownUp) {
            vector3df own(float(std::sin(a)), float(std::cos(a)), 0.0f);
            orientation.rotateVect(own);
            const Vec across = toVec(own) - forward * toVec(own).dotProduct(forward);
            if (across.getLengthSQ() < 1e-4) {
                continue;  // nearly along the view: the rows below check that case
            }
            up = Vec(across).normalize();
        }
        const Vec c[4] = {toVec(quad.corners[0]), toVec(quad.corners[1]), toVec(quad.corners[2]),
                          toVec(quad.corners[3])};
        ASSERT_LT(((c[0] + c[1]) * 0.5).getDistanceFrom(toVec(center) + up * (0.5 * height)), 2e-3) << i;
        ASSERT_LT(((c[2] + c[3]) * 0.5).getDistanceFrom(toVec(center) - up * (0.5 * height)), 2e-3) << i;
        ASSERT_NEAR((c[1] - c[0]).getLength(), topWidth, 1e-3) << i;
        ASSERT_NEAR((c[2] - c[3]).getLength(), width, 1e-3) << i;
        const Vec right = (c[2] - c[3]).normalize();
        ASSERT_NEAR(right.dotProduct(up), 0.0, 1e-4) << i;
        ASSERT_NEAR(right.dotProduct(forward), 0.0, 1e-4) << i;
        ASSERT_NEAR(right.dotProduct(up.crossProduct(forward)), right0.dotProduct(up0.crossProduct(forward)),
                    1e-4)
            << i;
        ASSERT_LT(toVec(quad.normal).getDistanceFrom(-forward), 1e-5) << i;
    }
}

struct CornerRow {
    const char* what;
    vector3df view, cameraUp;
    float roll;
    bool ownUp;
    vector3df orientationDegrees;
    vector3df corners[4];  // of a quad 2 wide and 4 high at the origin
};

// clang-format off
const CornerRow kCornerRows[] = {
    {"upright", {0, 0, 1}, {0, 1, 0}, 0, false, {}, {{-1, 2, 0}, {1, 2, 0}, {1, -2, 0}, {-1, -2, 0}}},
    {"a roll of 90 swaps the axes", {0, 0, 1}, {0, 1, 0}, 90, false, {},
     {{2, 1, 0}, {2, -1, 0}, {-2, -1, 0}, {-2, 1, 0}}},
    {"own up keeps world up under a rolled camera", {0, 0, 1}, {1, 1, 0}, 0, true, {},
     {{-1, 2, 0}, {1, 2, 0}, {1, -2, 0}, {-1, -2, 0}}},
    {"own up along the view falls back to the rolled camera", {0, 0, 1}, {0, 1, 0}, 90, true, {0, 90, 0},
     {{2, 1, 0}, {2, -1, 0}, {-2, -1, 0}, {-2, 1, 0}}},
    {"camera up along the view takes any screen axes", {0, -1, 0}, {0, -3, 0}, 0, false, {}, {}},
};
// clang-format on

class OrientedBillboardCorners : public testing::TestWithParam<CornerRow> {};

TEST_P(OrientedBillboardCorners, LieWhereTheRowSays) {
    const CornerRow& row = GetParam();
    matrix4 orientation;
    orientation.setRotationDegrees(row.orientationDegrees);
    const ts::OrientedBillboardQuad quad = ts::orientedBillboardQuad(vector3df(), row.view, row.cameraUp, 2,
                                                                     2, 4, row.roll, row.ownUp, orientation);
    for (int i = 0; i < 4; ++i) {
        const vector3df& corner = quad.corners[i];
        ASSERT_TRUE(std::isfinite(corner.X) && std::isfinite(corner.Y) && std::isfinite(corner.Z));
        if (row.corners[0].getLengthSQ() > 0) {
            EXPECT_TRUE(corner.equals(row.corners[i], 1e-5f))
                << i << ": " << corner.X << " " << corner.Y << " " << corner.Z;
        } else {
            EXPECT_NEAR(corner.getLength(), std::sqrt(5.0f), 1e-5f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, OrientedBillboardCorners, testing::ValuesIn(kCornerRows));

// A blend the driver reports as transparent (the null driver's own renderers
// are all opaque).
class TransparentRenderer : public irr::video::IMaterialRenderer {
public:
    bool isTransparent() const override { return true; }
};

// Notes the pass the scene manager is in when it draws the node.
class PassRecordingBillboard : public ts::COrientedBillboardSceneNode {
public:
    using COrientedBillboardSceneNode::COrientedBillboardSceneNode;
    void render() override {
        passes.push_back(SceneManager->getSceneNodeRenderPass());
        COrientedBillboardSceneNode::render();
    }
    std::vector<irr::scene::E_SCENE_NODE_RENDER_PASS> passes;
};

TEST(COrientedBillboardSceneNode, DrawsInThePassItsMaterialAsksForWhenTheCameraSeesIt) {
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    irr::scene::ISceneManager* scene = device->getSceneManager();
    irr::video::IVideoDriver* driver = device->getVideoDriver();
    scene->addCameraSceneNode(nullptr, vector3df(0, 0, -50), vector3df());
    EXPECT_EQ(ts::addOrientedBillboardSceneNode(nullptr), nullptr);

    PassRecordingBillboard* node = new PassRecordingBillboard(scene->getRootSceneNode(), scene, -1,
                                                              vector3df(), irr::core::dimension2df(2, 4));
    TransparentRenderer* blend = new TransparentRenderer;
    const irr::s32 transparent = driver->addMaterialRenderer(blend);
    blend->drop();
    ASSERT_GE(transparent, 0);
    node->setMaterialType(irr::video::E_MATERIAL_TYPE(transparent));
    const auto frame = [&] {
        driver->beginScene(true, true, irr::video::SColor(0));
        scene->drawAll();
        driver->endScene();
        return driver->getPrimitiveCountDrawn();
    };
    EXPECT_EQ(frame(), 2u);
    node->setMaterialType(irr::video::EMT_SOLID);
    EXPECT_EQ(frame(), 2u);
    node->setVisible(false);
    EXPECT_EQ(frame(), 0u);
    node->setVisible(true);
    node->setPosition(vector3df(0, 0, -80));  // behind the camera
    EXPECT_EQ(frame(), 0u);
    EXPECT_EQ(node->passes, (std::vector<irr::scene::E_SCENE_NODE_RENDER_PASS>{irr::scene::ESNRP_TRANSPARENT,
                                                                               irr::scene::ESNRP_SOLID}));

    // The box holds the quad at any roll; non-finite settings are refused.
    node->setSize(3, 1, 5);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    node->setRollAngle(nan);
    node->setSize(nan, 1, 1);
    matrix4 broken;
    broken[5] = nan;
    node->setOrientation(broken);
    EXPECT_EQ(node->getRollAngle(), 0.0f);
    EXPECT_EQ(node->getSize(), irr::core::dimension2df(1, 3));
    EXPECT_TRUE(node->getOrientation().isIdentity());
    irr::core::aabbox3df box = node->getBoundingBox();
    for (float roll = 0; roll < 360; roll += 7.5f) {
        const ts::OrientedBillboardQuad quad = ts::orientedBillboardQuad(
            vector3df(), vector3df(0.3f, -0.2f, 1), vector3df(0, 1, 0), 1, 5, 3, roll, false, matrix4());
        for (const vector3df& corner : quad.corners) {
            ASSERT_TRUE(box.isPointInside(corner)) << roll;
        }
    }

    node->drop();  // the scene holds it
    device->drop();
}

}  // namespace
