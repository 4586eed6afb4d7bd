// Emits from the vertices of a mesh: one drawn vertex per particle, or every
// vertex once per particle of the batch. Velocities are the vertex normals
// divided by the modifier, or the direction; neither is turned (the maximum
// angle is stored, not applied).
#pragma once

#include "client/engine/IParticleMeshEmitter.h"
#include "client/engine/ParticleEmitterBase.h"

namespace tarnwell {
namespace scene {

class CParticleMeshEmitter : public ParticleEmitterBase<IParticleMeshEmitter> {
public:
    // meshBufferNumber: the one buffer to emit from, negative for a drawn
    // buffer at each particle; it has no setter. A refused modifier starts
    // as 100.
    CParticleMeshEmitter(irr::scene::IMesh* mesh, bool useNormalDirection, irr::f32 normalDirectionModifier,
                         irr::s32 meshBufferNumber, bool everyMeshVertex,
                         const ParticleEmissionSettings& settings);

    // Also counts the mesh's buffers and vertices.
    void setMesh(irr::scene::IMesh* mesh) override;
    void setUseNormalDirection(bool useNormalDirection) override;
    void setNormalDirectionModifier(irr::f32 modifier) override;
    void setEveryMeshVertex(bool everyMeshVertex) override;
    irr::scene::IMesh* getMesh() const override;
    const bool& isUsingNormalDirection() const override;
    const irr::f32& getNormalDirectionModifier() const override;
    const bool& getEveryMeshVertex() const override;

protected:
    // Builds nothing for a particle whose buffer does not exist or has no
    // vertices; a batch can then hold fewer particles than due.
    void buildParticles(irr::u32 nowMs, irr::u32 amount) override;

private:
    void addVertexParticle(irr::u32 nowMs, const irr::scene::IMeshBuffer& buffer, irr::u32 vertex);

    irr::scene::IMesh* mesh = nullptr;  // borrowed
    bool useNormalDirection;
    irr::f32 normalDirectionModifier = 100.0f;
    irr::s32 meshBufferNumber;
    bool everyMeshVertex;
    irr::u32 bufferCount = 0;       // counted when the mesh was set
    irr::u32 totalVertexCount = 0;  // all buffers; 0 emits nothing
};

}  // namespace scene
}  // namespace tarnwell
