// mkmedia OUTPUT_DIR: writes the game's media tree (meshes, textures, fonts,
// sounds, music, terrain, shaders) into OUTPUT_DIR, the same bytes on every
// run. The tree is written beside the target and renamed into place when
// complete, so a failed run never leaves a half-made tree behind.
#include "MediaOut.h"

#include <irrlicht.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace {

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkmedia OUTPUT_DIR\n");
        return 2;
    }
    std::string target = argv[1];
    // "media/" must not put the temporary tree inside the target.
    while (target.size() > 1 && target.back() == '/') {
        target.pop_back();
    }
    const std::string temp = target + ".tmp";
    irr::SIrrlichtCreationParameters params;
    params.DriverType = irr::video::EDT_NULL;
    params.LoggingLevel = irr::ELL_NONE;
    irr::IrrlichtDevice* device = irr::createDeviceEx(params);
    if (device == nullptr) {
        std::fprintf(stderr, "mkmedia: cannot create the engine's null device\n");
        return 1;
    }
    int status = 0;
    try {
        removeTree(temp);
        if (mkdir(temp.c_str(), 0755) != 0) {
            throw std::runtime_error("cannot create '" + temp + "'");
        }
        const mkmedia::MediaOut out(temp, device);
        mkmedia::writeMeshes(out);
        mkmedia::writeSounds(out);
        mkmedia::writeShaders(out);
        mkmedia::writeTextures(out);
        mkmedia::writeTerrain(out);
        removeTree(target);
        if (std::rename(temp.c_str(), target.c_str()) != 0) {
            throw std::runtime_error("cannot rename '" + temp + "' to '" + target + "'");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkmedia: %s\n", e.what());
        removeTree(temp);
        status = 1;
    }
    device->drop();
    return status;
}
