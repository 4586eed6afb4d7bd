#include "client/engine/Finite.h"
#include "client/utilities.h"

#include "client/globals.h"
#include "platform/assertion.h"

#include <cmath>
#include <cstddef>
#include <cstring>

using tarnwell::isFinite;

namespace {

// 16-bit indices reach vertices 0 to 65535.
constexpr int64_t MAX_CYLINDER_VERTICES = 65536;

}  // namespace

irr::scene::IMesh* createCylinderMesh(irr::video::SColor color, int32_t segments, int32_t rings,
                                      float radius) {
    if (segments < 2 || rings < 2) {
        return nullptr;
    }
    const int64_t vertexCount = static_cast<int64_t>(segments) * rings;
    if (vertexCount > MAX_CYLINDER_VERTICES) {
        return nullptr;
    }

    irr::scene::SMesh* mesh = new irr::scene::SMesh();
    irr::scene::SMeshBuffer* buffer = new irr::scene::SMeshBuffer();
    mesh->addMeshBuffer(buffer);
    buffer->drop();
    buffer->Vertices.reallocate(static_cast<irr::u32>(vertexCount));
    buffer->Indices.reallocate(static_cast<irr::u32>((segments - 1) * (rings - 1) * 6));

    const float step = 6.28318f / static_cast<float>(segments - 1);
    const irr::core::vector3df normal(0.0f, 0.0f, 0.0f);
    irr::u16 k = 0;
    for (int32_t i = 0; i < segments; ++i) {
        const bool seam = i == segments - 1;
        // The last column goes back to angle 0 to close the seam.
        const float angle = seam ? 0.0f : static_cast<float>(i) * step;
        const float u = 1.0f - static_cast<float>(i) / static_cast<float>(segments - 1);
        for (int32_t j = 0; j < rings; ++j) {
            const float ringFraction = static_cast<float>(j) / static_cast<float>(rings - 1);
            const float y = 2.0f * (0.5f - ringFraction);
            const irr::core::vector3df position(std::sin(angle) * radius, y, std::cos(angle) * radius);
            buffer->Vertices.push_back(
                irr::video::S3DVertex(position, normal, color, irr::core::vector2df(u, ringFraction - 1.0f)));
            if (!seam && j < rings - 1) {
                const irr::u16 r = static_cast<irr::u16>(rings);
                buffer->Indices.push_back(k);
                buffer->Indices.push_back(static_cast<irr::u16>(k + 1));
                buffer->Indices.push_back(static_cast<irr::u16>(k + 1 + r));
                buffer->Indices.push_back(static_cast<irr::u16>(k + 1 + r));
                buffer->Indices.push_back(static_cast<irr::u16>(k + r));
                buffer->Indices.push_back(k);
            }
            // Wraps only after the last vertex of a 65536-vertex mesh.
            k = static_cast<irr::u16>(k + 1);
        }
    }
    return mesh;
}

void clearPixelBuffer(void* buffer, irr::core::dimension2d<irr::s32> size) {
    if (!buffer || size.Width <= 0 || size.Height <= 0) {
        return;
    }
    std::memset(buffer, 0, static_cast<size_t>(size.Width) * static_cast<size_t>(size.Height) * 4);
}

void setPixel(void* buffer, irr::core::dimension2d<irr::s32> size, irr::u16 x, irr::u16 y,
              irr::video::SColor color) {
    if (!buffer) {
        return;
    }
    TW_ASSERT(x < size.Width && y < size.Height);
    irr::u8* pixel =
        static_cast<irr::u8*>(buffer) + (static_cast<size_t>(y) * static_cast<size_t>(size.Width) + x) * 4;
    pixel[0] = static_cast<irr::u8>(color.getBlue());
    pixel[1] = static_cast<irr::u8>(color.getGreen());
    pixel[2] = static_cast<irr::u8>(color.getRed());
    pixel[3] = static_cast<irr::u8>(color.getAlpha());
}

void showLoadingText(const wchar_t* text) {
    if (!globals.driver || !globals.infoText || !globals.gui || !text) {
        return;
    }
    globals.driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    globals.infoText->setText(text);
    globals.gui->drawAll();
    globals.driver->endScene();
}

void finishGrassPatch(irr::scene::ISceneNode* patch, irr::video::ITexture* grass, bool lit) {
    patch->setMaterialFlag(irr::video::EMF_LIGHTING, lit);
    patch->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
    patch->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, true);
    patch->setMaterialType(irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
    patch->setMaterialTexture(0, grass);
    patch->drop();
}
