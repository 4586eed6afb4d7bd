#include "client/game.h"

#include "client/globals.h"
#include "client/lightingshadercallback.h"
#include "client/log.h"

namespace {

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

const char* const kVertexShader = "media/shader/lights-vertex.hlsl";
const char* const kPixelShader = "media/shader/lights-pixel.hlsl";

}  // namespace

Game::Game() : initialized(false), caption(nullptr) {
    // The crash handler is installed before the game object exists and must
    // stay reachable for shutdown.
    CrashHandler* crashHandler = globals.crashHandler;
    globals = GameGlobals{};
    globals.crashHandler = crashHandler;
    globals.drawCockpit = true;
}

Game::~Game() = default;

bool Game::initShaders() {
    irr::IrrlichtDevice* device = globals.device;
    if (device == nullptr) {
        return false;
    }
    irr::video::IVideoDriver* driver = globals.driver != nullptr ? globals.driver : device->getVideoDriver();
    logLine("Initialize shader...");
    // A driver without programming services has no shader support at all.
    irr::video::IGPUProgrammingServices* gpu = driver->getGPUProgrammingServices();
    const char* pixelProgram = kPixelShader;
    const char* vertexProgram = kVertexShader;

    globals.shadersEnabled = true;
    if (gpu == nullptr || (!driver->queryFeature(irr::video::EVDF_PIXEL_SHADER_2_0) &&
                           !driver->queryFeature(irr::video::EVDF_ARB_FRAGMENT_PROGRAM_1))) {
        globals.shadersEnabled = false;
        device->getLogger()->log(
            "WARNING: Pixel shaders (V2.0) disabled because of missing driver/hardware support.",
            irr::ELL_INFORMATION);
        pixelProgram = nullptr;
    }
    if (gpu == nullptr || (!driver->queryFeature(irr::video::EVDF_VERTEX_SHADER_2_0) &&
                           !driver->queryFeature(irr::video::EVDF_ARB_VERTEX_PROGRAM_1))) {
        globals.shadersEnabled = false;
        device->getLogger()->log(
            "WARNING: Vertex shaders (V2.0) disabled because of missing driver/hardware support.",
            irr::ELL_INFORMATION);
        vertexProgram = nullptr;
    }
    // A missing program file makes no material: the engine would otherwise
    // quietly give the bare base material an id of its own.
    irr::io::IFileSystem* files = device->getFileSystem();
    const bool programsPresent = (vertexProgram == nullptr || files->existFile(vertexProgram)) &&
                                 (pixelProgram == nullptr || files->existFile(pixelProgram));
    if (globals.shadersEnabled && !programsPresent) {
        globals.solidShaderMaterial = -1;
        globals.detailShaderMaterial = -1;
        globals.alphaShaderMaterial = -1;
    } else if (globals.shadersEnabled) {
        // One callback per game: the block holds its reference, the cleanup
        // drops it; a leftover from a game that never cleaned up goes first.
        if (globals.lightingCallback != nullptr) {
            globals.lightingCallback->drop();
        }
        globals.lightingCallback = new LightingShaderCallback();
        const auto add = [&](irr::video::E_MATERIAL_TYPE base) {
            return gpu->addHighLevelShaderMaterialFromFiles(
                vertexProgram, "vertexMain", irr::video::EVST_VS_2_0, pixelProgram, "pixelMain",
                irr::video::EPST_PS_2_0, globals.lightingCallback, base, 0);
        };
        globals.solidShaderMaterial = add(irr::video::EMT_SOLID);
        globals.detailShaderMaterial = add(irr::video::EMT_DETAIL_MAP);
        add(irr::video::EMT_TRANSPARENT_ADD_COLOR);
        add(irr::video::EMT_TRANSPARENT_VERTEX_ALPHA);
        globals.alphaShaderMaterial = add(irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
    }
    // The game runs on fixed-function lighting and its six light nodes.
    globals.shadersEnabled = false;
    logLine("...shader initialization done");
    return true;
}
