#include "client/engine/SoftwareRenderer.h"

#include <gtest/gtest.h>

namespace {

// Renderer names as the drivers give them; the hardware ones include Mesa's
// own drivers, which name LLVM too.
TEST(SoftwareRenderer, KnowsTheProcessorOnlyRenderersByName) {
    const struct {
        const char* name;
        bool software;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"LLVMPIPE", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa DRI swrast", true},
        {"GDI Generic", true},
        {"Microsoft Basic Render Driver", true},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", false},
        {"virgl", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tarnwell::video::isSoftwareRenderer(c.name), c.software) << c.name;
    }
}

TEST(SoftwareRenderer, OnlyAnOpenGlDriverHasARendererName) {
    irr::SIrrlichtCreationParameters params;
    params.DriverType = irr::video::EDT_NULL;
    params.LoggingLevel = irr::ELL_NONE;
    irr::IrrlichtDevice* device = irr::createDeviceEx(params);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(tarnwell::video::rendererName(device->getVideoDriver()), "");
    EXPECT_EQ(tarnwell::video::rendererName(nullptr), "");
    device->drop();
}

}  // namespace
