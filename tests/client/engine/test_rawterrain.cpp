// The raw terrain loader on the engine's null device: vertex heights are the
// 16-bit samples themselves, laid out as the file's rows, and a file that is
// no square grid adds nothing.
#include "client/engine/RawTerrain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// A null device and a scratch folder for raw files, both gone at the end.
class RawTerrainTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwell-rawterrain-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        device = irr::createDevice(irr::video::EDT_NULL);
        ASSERT_NE(device, nullptr);
        scene = device->getSceneManager();
    }
    void TearDown() override {
        if (device != nullptr) {
            device->drop();
        }
        std::filesystem::remove_all(folder);
    }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // The game's terrain arguments.
    irr::scene::ITerrainSceneNode* add(const std::string& path) const {
        return tarnwell::scene::addRawTerrainSceneNode(
            scene, path.c_str(), nullptr, -1, irr::core::vector3df(0.0f, -12000.0f, 0.0f),
            irr::core::vector3df(0.0f, 0.0f, 0.0f), irr::core::vector3df(20.0f, 0.25f, 20.0f),
            irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
    }

    std::string folder;
    irr::IrrlichtDevice* device = nullptr;
    irr::scene::ISceneManager* scene = nullptr;
};

// Random samples over the whole 16-bit range, so that a swap of x and z, a
// mirror or a scaled height shows at almost every point.
TEST_F(RawTerrainTest, VertexIJStandsAtTheRawSampleOfRowIColumnJ) {
    constexpr int32_t side = 33;
    std::mt19937 random(257);
    std::vector<uint16_t> samples(side * side);
    std::vector<uint8_t> bytes;
    for (uint16_t& s : samples) {
        s = static_cast<uint16_t>(random());
        bytes.push_back(static_cast<uint8_t>(s & 0xff));
        bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
    irr::scene::ITerrainSceneNode* node = add(write("map.raw", bytes));
    ASSERT_NE(node, nullptr);
    irr::scene::IMeshBuffer* buffer = node->getMesh()->getMeshBuffer(0);
    ASSERT_EQ(buffer->getVertexCount(), samples.size());
    for (int32_t i = 0; i < side; ++i) {
        for (int32_t j = 0; j < side; ++j) {
            const float raw = samples[i * side + j];
            ASSERT_EQ(buffer->getPosition(i * side + j), irr::core::vector3df(i, raw, j)) << i << " " << j;
            // The engine answers inside the grid only, without its last row and column.
            if (i < side - 1 && j < side - 1) {
                ASSERT_EQ(node->getHeight(20.0f * i, 20.0f * j), raw * 0.25f - 12000.0f) << i << " " << j;
            }
        }
    }
}

TEST_F(RawTerrainTest, FilesThatAreNoSquareGridAddNothing) {
    struct Case {
        const char* name;
        size_t bytes;
    };
    const Case cases[] = {{"empty", 0}, {"odd", 9 * 2 + 1}, {"oblong", 2 * 3 * 2}, {"one", 2}, {"prime", 7 * 2}};
    const size_t children = scene->getRootSceneNode()->getChildren().size();
    EXPECT_EQ(add(folder + "/missing.raw"), nullptr);
    for (const Case& c : cases) {
        EXPECT_EQ(add(write(c.name, std::vector<uint8_t>(c.bytes, 0x40))), nullptr) << c.name;
    }
    EXPECT_EQ(scene->getRootSceneNode()->getChildren().size(), children);
}

}  // namespace
