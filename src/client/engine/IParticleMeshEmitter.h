// Emits from the vertices of a mesh; the particles keep their velocity
// unturned.
#pragma once

#include "client/engine/IParticleEmitter.h"

namespace tarnwell {
namespace scene {

class IParticleMeshEmitter : public IParticleEmitter {
public:
    // The mesh is borrowed, not grabbed: it must outlive its use here (the
    // scene manager's mesh cache keeps loaded meshes). Null emits nothing.
    virtual void setMesh(irr::scene::IMesh* mesh) = 0;
    // Whether a particle's velocity is its vertex normal divided by the
    // modifier instead of the direction.
    virtual void setUseNormalDirection(bool useNormalDirection) = 0;
    // Divisor of the vertex normal; 0 and non-finite values are refused.
    virtual void setNormalDirectionModifier(irr::f32 modifier) = 0;
    // Whether each batch repeats a particle at every vertex instead of at
    // drawn vertices.
    virtual void setEveryMeshVertex(bool everyMeshVertex) = 0;
    virtual irr::scene::IMesh* getMesh() const = 0;
    virtual const bool& isUsingNormalDirection() const = 0;
    virtual const irr::f32& getNormalDirectionModifier() const = 0;
    virtual const bool& getEveryMeshVertex() const = 0;
};

}  // namespace scene
}  // namespace tarnwell
