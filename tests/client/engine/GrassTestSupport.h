// Stand-ins for what a grass patch reads: random numbers, heights, a tide,
// and a null device with a main camera and a clock the test sets.
#pragma once

#include "client/engine/CGrassPatchSceneNode.h"
#include "client/engine/RandomSource.h"

#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace grasstest {

using irr::core::vector3df;

// A fixed stream of 31-bit numbers.
class SeededRandom : public tarnwell::scene::RandomSource {
public:
    explicit SeededRandom(unsigned seed) : engine(seed) {}
    irr::u32 next() override { return static_cast<irr::u32>(engine() >> 1); }

private:
    std::mt19937 engine;
};

// A square height grid of `size` samples 20 apart whose height is a plane;
// it fails the test when asked for a cell it does not have whole.
class PlaneHeights : public tarnwell::scene::IHeightSource {
public:
    explicit PlaneHeights(irr::s32 side) : side(side) {}
    irr::f32 getHeight(const vector3df& p) override {
        const irr::s32 ix = static_cast<irr::s32>(std::floor(p.X / 20.0f));
        const irr::s32 iz = static_cast<irr::s32>(std::floor(p.Z / 20.0f));
        EXPECT_TRUE(ix >= 0 && iz >= 0 && ix + 1 <= side - 1 && iz + 1 <= side - 1) << p.X << " " << p.Z;
        return at(p.X, p.Z);
    }
    irr::s32 getSize() const override { return side; }
    static irr::f32 at(irr::f32 x, irr::f32 z) { return 0.25f * x - 0.125f * z - 300.0f; }
    irr::s32 side;
};

// A tide that is a linear function of the position, recording its queries.
class LinearTide : public tarnwell::scene::ITideGenerator {
public:
    void setAmplitude(irr::f32) override {}
    void setWaveLength(irr::f32) override {}
    irr::core::vector2df getOffset(const vector3df& p, irr::u32 timeMs) override {
        points.push_back(p);
        times.push_back(timeMs);
        return at(p);
    }
    static irr::core::vector2df at(const vector3df& p) {
        return irr::core::vector2df(0.002f * p.X - 0.001f * p.Z + 1.0f, 0.003f * p.Z + 0.001f * p.X - 2.0f);
    }
    std::vector<vector3df> points;
    std::vector<irr::u32> times;
};

// Counts its draws.
class CountingGrass : public tarnwell::scene::CGrassPatchSceneNode {
public:
    using tarnwell::scene::CGrassPatchSceneNode::CGrassPatchSceneNode;
    void render() override {
        ++rendered;
        CGrassPatchSceneNode::render();
    }
    int rendered = 0;
};

// A null device, a stopped clock, a main camera (id -1) far-sighted enough
// for every patch, and a stand-in terrain node with the game's scale.
class NullScene {
public:
    NullScene() {
        device = irr::createDevice(irr::video::EDT_NULL);
        driver = device->getVideoDriver();
        scene = device->getSceneManager();
        device->getTimer()->stop();
        camera = scene->addCameraSceneNode(nullptr, vector3df(0, 500, -500), vector3df(0, 0, 0), -1);
        camera->setFarValue(20000.0f);
        terrain = scene->addEmptySceneNode();
        terrain->setScale(vector3df(20.0f, 0.25f, 20.0f));
    }
    ~NullScene() { device->drop(); }
    NullScene(const NullScene&) = delete;
    NullScene& operator=(const NullScene&) = delete;

    // One frame at timeMs; the primitives drawn.
    irr::u32 frame(irr::u32 timeMs) {
        device->getTimer()->setTime(timeMs);
        driver->beginScene();
        scene->drawAll();
        driver->endScene();
        return driver->getPrimitiveCountDrawn();
    }
    // The camera at `eye`, looking at `target`, with the given id.
    void look(const vector3df& eye, const vector3df& target, irr::s32 id = -1) {
        camera->setPosition(eye);
        camera->setTarget(target);
        camera->setID(id);
        camera->updateAbsolutePosition();
    }
    // A game patch on `heights` (borrowed), the caller holding one reference.
    CountingGrass* gamePatch(irr::s32 x, irr::s32 z, tarnwell::scene::IHeightSource* heights,
                             tarnwell::scene::ITideGenerator* tide, const char* directory = "grass",
                             bool save = false) {
        return new CountingGrass(save, scene->getRootSceneNode(), scene, 5,
                                 irr::core::vector3d<irr::s32>(x, 0, z), directory, heights, nullptr, nullptr,
                                 terrain, 0.0f, tide);
    }

    irr::IrrlichtDevice* device;
    irr::video::IVideoDriver* driver;
    irr::scene::ISceneManager* scene;
    irr::scene::ICameraSceneNode* camera;
    irr::scene::ISceneNode* terrain;
};

// A fresh folder made the working directory for a test; removed after it.
struct ScratchFolder {
    ScratchFolder() : previous(std::filesystem::current_path()) {
        char pattern[] = "/tmp/tarnwell-grass-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        folder = pattern;
        std::filesystem::current_path(folder);
    }
    ~ScratchFolder() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path previous;
    std::filesystem::path folder;
};

// A blade's bytes as its file record.
inline std::vector<irr::u8> recordOf(const tarnwell::scene::GrassElement& blade) {
    std::vector<irr::u8> bytes(tarnwell::scene::kGrassRecordBytes);
    tarnwell::scene::encodeGrassElement(blade, bytes.data());
    return bytes;
}

}  // namespace grasstest
