#include "client/engine/SoftwareRenderer.h"

#include <gtest/gtest.h>

namespace {

// Renderer names as the drivers give them; the hardware ones include Mesa's
// own drivers, which name LLVM too.
TEST(SoftwareRenderer, KnowsTheProcessorOnlyRenderersByName) {
    for (const char* software : {"llvmpipe (LLVM 15.0.6, 256 bits)", "LLVMPIPE", "softpipe", "Software Rasterizer",
                                 "Mesa DRI swrast", "GDI Generic", "Microsoft Basic Render Driver"}) {
        EXPECT_TRUE(tarnwell::video::isSoftwareRenderer(software)) << software;
    }
    for (const char* hardware : {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)",
                                 "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2",
                                 "virgl", ""}) {
        EXPECT_FALSE(tarnwell::video::isSoftwareRenderer(hardware)) << hardware;
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
