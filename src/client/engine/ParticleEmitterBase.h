// What the five emitter classes share: the operations IParticleEmitter
// names, over the emission rule of ParticleEmission.h. A kind derives from
// ParticleEmitterBase<its interface> and builds its batch in buildParticles.
#pragma once

#include "client/engine/IParticleEmitter.h"
#include "client/engine/ParticleEmission.h"
#include "client/engine/ParticleMath.h"

namespace tarnwell {
namespace scene {

template <class Interface>
class ParticleEmitterBase : public Interface {
public:
    irr::s32 emitt(irr::u32 nowMs, irr::u32 timeSinceLastCallMs, SParticle*& outArray) override {
        const irr::u32 amount = emissionBatch(accumulatedMs, timeSinceLastCallMs,
                                              settings.minParticlesPerSecond, settings.maxParticlesPerSecond);
        if (amount == 0) {
            return 0;
        }
        particles.set_used(0);
        buildParticles(nowMs, amount);
        outArray = particles.pointer();
        return static_cast<irr::s32>(particles.size());
    }

    void setDirection(const irr::core::vector3df& direction) override {
        if (isFinite(direction)) {
            settings.direction = direction;
        }
    }
    void setMinParticlesPerSecond(irr::u32 perSecond) override { settings.minParticlesPerSecond = perSecond; }
    void setMaxParticlesPerSecond(irr::u32 perSecond) override { settings.maxParticlesPerSecond = perSecond; }
    void setMinStartColor(const irr::video::SColor& color) override { settings.minStartColor = color; }
    void setMaxStartColor(const irr::video::SColor& color) override { settings.maxStartColor = color; }

    const irr::core::vector3df& getDirection() const override { return settings.direction; }
    const irr::u32& getMinParticlesPerSecond() const override { return settings.minParticlesPerSecond; }
    const irr::u32& getMaxParticlesPerSecond() const override { return settings.maxParticlesPerSecond; }
    const irr::video::SColor& getMinStartColor() const override { return settings.minStartColor; }
    const irr::video::SColor& getMaxStartColor() const override { return settings.maxStartColor; }

protected:
    // A non-finite direction starts as (0, 0, 0).
    explicit ParticleEmitterBase(const ParticleEmissionSettings& initial) : settings(initial) {
        settings.direction = irr::core::vector3df();
        setDirection(initial.direction);
    }

    // Appends the batch of `amount` particles emitted at `nowMs`.
    virtual void buildParticles(irr::u32 nowMs, irr::u32 amount) = 0;

    // Appends one particle (emitParticle, ParticleEmission.h).
    void addParticle(irr::u32 nowMs, const irr::core::vector3df& pos, const irr::core::vector3df& vector,
                     bool spread) {
        SParticle particle;
        emitParticle(particle, nowMs, pos, vector, spread, settings);
        particles.push_back(particle);
    }

    ParticleEmissionSettings settings;
    irr::u32 accumulatedMs = 0;             // time gathered towards the next batch
    irr::core::array<SParticle> particles;  // the last batch; cleared by the next
};

}  // namespace scene
}  // namespace tarnwell
