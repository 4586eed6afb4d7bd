// Grass patches as scene nodes on the engine's null device: which drawAll
// they take part in, their files, their sway and their footing on the
// engine's own terrain.
#include "FileDamage.h"
#include "GrassTestSupport.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace gs = tarnwell::scene;
using grasstest::CountingGrass;
using grasstest::NullScene;
using grasstest::vector3df;

TEST(GrassPatchNode, FileNamedByItsPatchIndexAndCountZeroIsNeverDrawn) {
    grasstest::ScratchFolder scratch;
    ASSERT_EQ(system("mkdir grass && printf '\\0\\0\\0\\0' > grass/2.3.grass"), 0);
    NullScene s;
    grasstest::PlaneHeights heights(257);
    CountingGrass* patch = s.gamePatch(2, 3, &heights, nullptr);
    EXPECT_STREQ(patch->getFileName(), "grass/2.3.grass");
    EXPECT_EQ(patch->getPosition(), vector3df(2048.0f, 0.0f, 3072.0f));
    EXPECT_EQ(patch->getID(), -1);
    EXPECT_EQ(patch->getBlades().size(), 0u);  // read, not grown
    s.look(vector3df(2048, 50, 2900), vector3df(2048, 0, 3072));
    EXPECT_EQ(s.frame(100), 0u);
    EXPECT_EQ(patch->rendered, 0);
    patch->drop();
}

struct Viewpoint {
    const char* name;
    irr::s32 camera;
    irr::f32 distance;  // from the middle of the blade box
    bool drawn;
    bool swayed;
};

class GrassPatchViewpoints : public testing::TestWithParam<Viewpoint> {};

TEST_P(GrassPatchViewpoints, DrawAndSwayOnlyForTheMainCameraWithinReach) {
    grasstest::LinearTide tide;  // the patch holds it to the end of the scene
    NullScene s;
    grasstest::PlaneHeights heights(257);
    CountingGrass* patch = s.gamePatch(2, 2, &heights, &tide);
    const vector3df middle = patch->getBoundingBox().getCenter() + patch->getPosition();
    s.look(middle + vector3df(0.0f, 0.6f, -0.8f) * GetParam().distance, middle, GetParam().camera);
    const irr::u32 primitives = s.frame(1000);
    EXPECT_EQ(patch->rendered, GetParam().drawn ? 1 : 0);
    EXPECT_EQ(tide.points.size(), GetParam().swayed ? 36u : 0u);
    EXPECT_EQ(primitives, 4u * static_cast<irr::u32>(patch->getDrawnCount()));
    EXPECT_EQ(patch->getDrawnCount() > 0, GetParam().drawn && GetParam().distance < 1700.0f);
    patch->drop();
}

INSTANTIATE_TEST_SUITE_P(Cameras, GrassPatchViewpoints,
                         testing::Values(Viewpoint{"MainNear", -1, 300.0f, true, true},
                                         Viewpoint{"MainFar", -1, 2300.0f, true, true},
                                         Viewpoint{"MainAtTheEdgeOfTheTide", -1, 2303.5f, true, false},
                                         Viewpoint{"MainBeyondReach", -1, 2310.0f, false, false},
                                         Viewpoint{"PictureInPicture", 3, 300.0f, false, false}),
                         [](const testing::TestParamInfo<Viewpoint>& info) {
                             return std::string(info.param.name);
                         });

TEST(GrassPatchNode, BladeTipsSwayByTheTideEveryFiftyMillisecondsAndStandStillWithout) {
    grasstest::PlaneHeights heights(257);
    for (bool withTide : {false, true}) {
        SCOPED_TRACE(withTide);
        grasstest::LinearTide tide;
        NullScene s;
        CountingGrass* patch = s.gamePatch(1, 1, &heights, withTide ? &tide : nullptr);
        patch->setDrawDistance(5000.0f);  // every blade drawn
        s.look(patch->getPosition() + vector3df(0, 300, -1), patch->getPosition());
        for (irr::u32 time : {1000u, 1030u, 1051u}) {
            s.frame(time);
        }
        // Sampled at 1000 and 1051; the frame at 1030 drew the cached quads.
        EXPECT_EQ(tide.times.size(), withTide ? 72u : 0u);
        EXPECT_EQ(patch->rendered, 3);
        const irr::core::array<gs::GrassElement>& blades = patch->getBlades();
        ASSERT_EQ(static_cast<irr::u32>(patch->getDrawnCount()), blades.size());
        ASSERT_GE(patch->getIndices().size(), 12u * blades.size());
        for (irr::u32 i = 0; i < blades.size(); ++i) {
            const gs::GrassElement& b = blades[i];
            const irr::core::vector2df sway =
                withTide ? grasstest::LinearTide::at(patch->getPosition() + b.position) * b.phase
                         : irr::core::vector2df(0.0f, 0.0f);
            const vector3df tip(sway.X, 0.0f, sway.Y);
            const irr::video::S3DVertex* v = &patch->getVertices()[4 * i];
            ASSERT_TRUE(v[0].Pos == b.corners[0] && v[3].Pos == b.corners[3] &&
                        v[1].Pos.equals(b.corners[1] + tip, 1e-3f) &&
                        v[2].Pos.equals(b.corners[2] + tip, 1e-3f))
                << i;
        }
        patch->drop();
    }
}

TEST(GrassPatchNode, SavesWhatItGrowsAndReadsItBackButTheGameNeverWrites) {
    grasstest::ScratchFolder scratch;
    ASSERT_EQ(system("mkdir grass"), 0);
    NullScene s;
    grasstest::PlaneHeights heights(257);
    grasstest::SeededRandom first(11);
    grasstest::SeededRandom second(12);
    {
        const gs::ScopedRandomSource scoped(first);
        CountingGrass* game = s.gamePatch(1, 2, &heights, nullptr, "grass", false);
        EXPECT_FALSE(std::ifstream("grass/1.2.grass").good());
        game->drop();
    }
    const gs::ScopedRandomSource scoped(first);
    CountingGrass* grown = s.gamePatch(1, 2, &heights, nullptr, "grass", true);
    std::ifstream file("grass/1.2.grass", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), 4u + 80u * grown->getBlades().size());
    {
        const gs::ScopedRandomSource other(second);
        CountingGrass* read = s.gamePatch(1, 2, &heights, nullptr, "grass", false);
        ASSERT_EQ(read->getBlades().size(), grown->getBlades().size());
        for (irr::u32 i = 0; i < grown->getBlades().size(); ++i) {
            ASSERT_EQ(grasstest::recordOf(read->getBlades()[i]), grasstest::recordOf(grown->getBlades()[i]))
                << i;
        }
        EXPECT_EQ(read->getBoundingBox().MaxEdge, grown->getBoundingBox().MaxEdge);
        read->drop();
    }
    grown->drop();

    testing::internal::CaptureStdout();
    CountingGrass* unsaved = s.gamePatch(0, 4, &heights, nullptr, "no/such/folder", true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldnt save grass: no/such/folder/0.4.grass\n");
    EXPECT_GT(unsaved->getBlades().size(), 0u);
    unsaved->drop();
}

// A grass file is read only when it is a regular file (a symbolic link to
// one will do): a FIFO, /dev/zero or a folder in its place is passed over at
// once and the patch grows its blades as without a file. The file here holds
// a count of 0, so a patch that read it has no blades.
TEST(GrassPatchNode, AnythingButARegularFileIsPassedOverAndTheBladesGrow) {
    grasstest::ScratchFolder scratch;
    ASSERT_EQ(system("mkdir grass"), 0);
    NullScene s;
    grasstest::PlaneHeights heights(257);
    for (const testsupport::FileDamage damage : testsupport::kEveryFileDamage) {
        SCOPED_TRACE(testsupport::damageName(damage));
        testsupport::damageFile("grass/0.0.grass", std::string(4, '\0'), damage);
        const int grown = testsupport::runBounded(10, [&] {
            CountingGrass* patch = s.gamePatch(0, 0, &heights, nullptr);
            const bool blades = patch->getBlades().size() > 0;
            patch->drop();
            return blades ? 1 : 0;
        });
        const bool read = damage == testsupport::FileDamage::Linked || damage == testsupport::FileDamage::Grown;
        EXPECT_EQ(grown, read ? 0 : 1);
        testsupport::restoreFile("grass/0.0.grass", "");
    }
}

TEST(GrassPatchNode, WithoutGroundOrTideNothingGrowsAndNothingBreaks) {
    NullScene s;
    s.look(vector3df(0, 100, -100), vector3df(0, 0, 0));
    gs::CGrassPatchSceneNode* bare[] = {
        s.gamePatch(0, 0, nullptr, nullptr, nullptr),
        new gs::CGrassPatchSceneNode(
            false, s.scene->getRootSceneNode(), s.scene, 0, irr::core::vector3d<irr::s32>(0, 0, 0), "grass",
            static_cast<irr::video::IImage*>(nullptr), nullptr, nullptr, s.terrain, 0.0f, nullptr),
        new gs::CGrassPatchSceneNode(
            false, s.scene->getRootSceneNode(), s.scene, 0, irr::core::vector3d<irr::s32>(0, 0, 0), "grass",
            static_cast<gs::IHeightSource*>(nullptr), nullptr, nullptr, nullptr, 0.0f, nullptr)};
    EXPECT_EQ(s.frame(0), 0u);
    for (gs::CGrassPatchSceneNode* patch : bare) {
        EXPECT_EQ(patch->getBlades().size(), 0u);
        EXPECT_STREQ(patch->getFileName() + std::strlen(patch->getFileName()) - 10, "/0.0.grass");
        patch->drop();
    }
}

// The menu's grass on an image terrain, against the engine's terrain node
// built from the same image: every blade's foot at the terrain's height, and
// blades only where there is terrain. The menu's image is symmetric; the
// second image is not, so the terrain's mirror shows.
TEST(GrassPatchNode, MenuBladesStandOnTheEngineTerrainBuiltFromTheSameImage) {
    grasstest::ScratchFolder scratch;
    NullScene s;
    irr::video::IImage* lopsided =
        s.driver->createImage(irr::video::ECF_A8R8G8B8, irr::core::dimension2d<irr::u32>(9, 9));
    std::mt19937 random(9);
    for (irr::u32 x = 0; x < 9; ++x) {
        for (irr::u32 z = 0; z < 9; ++z) {
            const irr::u32 v = 20 + random() % 200;
            lopsided->setPixel(x, z, irr::video::SColor(255, v, (v * 7) % 256, v / 2));
        }
    }
    ASSERT_TRUE(s.driver->writeImageToFile(lopsided, "lopsided.png"));
    lopsided->drop();
    struct Terrain {
        std::string path;
        vector3df position, scale;
        irr::s32 patches;
    };
    for (const Terrain& t :
         {Terrain{TARNWELL_MEDIA_DIR "/terrain/t33x33.jpg", vector3df(0, 0, 0), vector3df(80, 5, 80), 5},
          Terrain{"lopsided.png", vector3df(-300, 40, 200), vector3df(150, 3, 150), 2}}) {
        SCOPED_TRACE(t.path);
        irr::scene::ITerrainSceneNode* terrain =
            s.scene->addTerrainSceneNode(t.path.c_str(), nullptr, -1, t.position, vector3df(0, 0, 0), t.scale,
                                         irr::video::SColor(255, 255, 255, 255), 3, irr::scene::ETPS_9);
        irr::video::IImage* image = s.driver->createImageFromFile(t.path.c_str());
        ASSERT_TRUE(terrain != nullptr && image != nullptr);
        irr::u32 grown = 0;
        for (irr::s32 i = 0; i < t.patches; ++i) {
            for (irr::s32 j = 0; j < t.patches; ++j) {
                gs::CGrassPatchSceneNode* patch = new gs::CGrassPatchSceneNode(
                    false, s.scene->getRootSceneNode(), s.scene, -1, irr::core::vector3d<irr::s32>(i, 0, j),
                    "grass", image, image, image, terrain, 0.0f, nullptr);
                const irr::core::array<gs::GrassElement>& blades = patch->getBlades();
                grown += blades.size();
                for (irr::u32 k = 0; k < blades.size(); ++k) {
                    const gs::GrassElement& b = blades[k];
                    const vector3df world = patch->getPosition() + b.position;
                    const irr::f32 foot = b.position.Y - (b.corners[1].Y - b.corners[0].Y) * 0.5f;
                    const vector3df pixel = (world - t.position) / t.scale;
                    const irr::video::SColor colour =
                        image->getPixel(static_cast<irr::u32>(pixel.X), static_cast<irr::u32>(pixel.Z));
                    ASSERT_NEAR(foot, terrain->getHeight(world.X, world.Z), 2e-3f)
                        << i << " " << j << " " << k;
                    ASSERT_EQ(b.topColor, colour);
                }
                patch->drop();
            }
        }
        EXPECT_GT(grown, 50000u);
        // Beyond the terrain nothing grows.
        gs::CGrassPatchSceneNode* beyond =
            new gs::CGrassPatchSceneNode(false, s.scene->getRootSceneNode(), s.scene, -1,
                                         irr::core::vector3d<irr::s32>(t.patches + 2, 0, 0), "grass", image,
                                         image, image, terrain, 0.0f, nullptr);
        EXPECT_EQ(beyond->getBlades().size(), 0u);
        beyond->drop();
        image->drop();
        terrain->remove();
    }
}
