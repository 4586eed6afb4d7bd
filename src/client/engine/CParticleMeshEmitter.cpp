#include "client/engine/CParticleMeshEmitter.h"

#include "client/engine/Finite.h"
#include "client/engine/RandomSource.h"

using namespace irr;

namespace tarnwell {
namespace scene {

CParticleMeshEmitter::CParticleMeshEmitter(irr::scene::IMesh* mesh, bool useNormalDirection,
                                           f32 normalDirectionModifier, s32 meshBufferNumber,
                                           bool everyMeshVertex, const ParticleEmissionSettings& settings)
    : ParticleEmitterBase(settings),
      useNormalDirection(useNormalDirection),
      meshBufferNumber(meshBufferNumber),
      everyMeshVertex(everyMeshVertex) {
    setMesh(mesh);
    setNormalDirectionModifier(normalDirectionModifier);
}

void CParticleMeshEmitter::setMesh(irr::scene::IMesh* newMesh) {
    mesh = newMesh;
    bufferCount = mesh != nullptr ? mesh->getMeshBufferCount() : 0;
    totalVertexCount = 0;
    for (u32 i = 0; i < bufferCount; ++i) {
        if (const irr::scene::IMeshBuffer* buffer = mesh->getMeshBuffer(i)) {
            totalVertexCount += buffer->getVertexCount();
        }
    }
}

void CParticleMeshEmitter::setUseNormalDirection(bool use) {
    useNormalDirection = use;
}

void CParticleMeshEmitter::setNormalDirectionModifier(f32 modifier) {
    // The normal is divided by it: 0 would send particles off at infinite
    // speed.
    if (isFinite(modifier) && modifier != 0.0f && isFinite(1.0f / modifier)) {
        normalDirectionModifier = modifier;
    }
}

void CParticleMeshEmitter::setEveryMeshVertex(bool every) {
    everyMeshVertex = every;
}

irr::scene::IMesh* CParticleMeshEmitter::getMesh() const {
    return mesh;
}

const bool& CParticleMeshEmitter::isUsingNormalDirection() const {
    return useNormalDirection;
}

const f32& CParticleMeshEmitter::getNormalDirectionModifier() const {
    return normalDirectionModifier;
}

const bool& CParticleMeshEmitter::getEveryMeshVertex() const {
    return everyMeshVertex;
}

void CParticleMeshEmitter::addVertexParticle(u32 nowMs, const irr::scene::IMeshBuffer& buffer, u32 vertex) {
    const core::vector3df vector =
        useNormalDirection ? buffer.getNormal(vertex) * (1.0f / normalDirectionModifier) : settings.direction;
    addParticle(nowMs, buffer.getPosition(vertex), vector, false);
}

void CParticleMeshEmitter::buildParticles(u32 nowMs, u32 amount) {
    if (mesh == nullptr || totalVertexCount == 0) {
        return;
    }
    // The mesh may have lost buffers since it was counted, and a mesh's
    // getMeshBuffer need not check its index.
    const u32 liveBuffers = mesh->getMeshBufferCount();
    if (everyMeshVertex) {
        for (u32 n = 0; n < amount; ++n) {
            for (u32 b = 0; b < bufferCount && b < liveBuffers; ++b) {
                const irr::scene::IMeshBuffer* buffer = mesh->getMeshBuffer(b);
                for (u32 v = 0; buffer != nullptr && v < buffer->getVertexCount(); ++v) {
                    addVertexParticle(nowMs, *buffer, v);
                }
            }
        }
        return;
    }
    for (u32 n = 0; n < amount; ++n) {
        const u32 b = meshBufferNumber >= 0 ? static_cast<u32>(meshBufferNumber) : random() % bufferCount;
        const irr::scene::IMeshBuffer* buffer = b < liveBuffers ? mesh->getMeshBuffer(b) : nullptr;
        // An empty buffer has no vertex to draw from.
        if (buffer == nullptr || buffer->getVertexCount() == 0) {
            continue;
        }
        addVertexParticle(nowMs, *buffer, random() % buffer->getVertexCount());
    }
}

}  // namespace scene
}  // namespace tarnwell
