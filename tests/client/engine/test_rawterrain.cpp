// The raw terrain loader on the engine's null device: a file that is no
// square grid of 16-bit samples adds nothing. Its heights and layout are
// checked against the game's height map on the generated sea floor
// (client_tests, HeightMap.GameTerrainNodeStandsAtTheHeightMapsHeights).
#include "client/engine/RawTerrain.h"

#include "FileTestUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

TEST(RawTerrain, FilesThatAreNoSquareGridAddNothing) {
    char pattern[] = "/tmp/tarnwell-rawterrain-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    irr::scene::ISceneManager* scene = device->getSceneManager();
    const auto add = [&](const std::string& path) {
        return tarnwell::scene::addRawTerrainSceneNode(
            scene, path.c_str(), nullptr, -1, irr::core::vector3df(0.0f, -12000.0f, 0.0f),
            irr::core::vector3df(0.0f, 0.0f, 0.0f), irr::core::vector3df(20.0f, 0.25f, 20.0f),
            irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
    };
    const size_t children = scene->getRootSceneNode()->getChildren().size();
    EXPECT_EQ(add(std::string(pattern) + "/missing.raw"), nullptr);
    EXPECT_EQ(add(pattern), nullptr);
    // Empty, odd, 2 x 3, one sample, a prime count.
    for (size_t length : {0, 9 * 2 + 1, 2 * 3 * 2, 2, 7 * 2}) {
        const std::string path = std::string(pattern) + "/" + std::to_string(length) + ".raw";
        testsupport::writeFile(path, std::string(length, '\x40'));
        EXPECT_EQ(add(path), nullptr) << length;
    }
    EXPECT_EQ(scene->getRootSceneNode()->getChildren().size(), children);
    // The smallest grid loads.
    testsupport::writeFile(std::string(pattern) + "/2x2.raw", std::string(8, '\x40'));
    EXPECT_NE(add(std::string(pattern) + "/2x2.raw"), nullptr);
    device->drop();
    std::filesystem::remove_all(pattern);
}
