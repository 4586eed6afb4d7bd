// The tide: a small horizontal sway offset for a world position at a game
// time, shared by every grass patch of a scene so that neighbouring patches
// sway in phase.
#pragma once

#include <IReferenceCounted.h>
#include <irrTypes.h>
#include <vector2d.h>
#include <vector3d.h>

namespace tarnwell {
namespace scene {

class ITideGenerator : public irr::IReferenceCounted {
public:
    // The largest sway distance, world units.
    virtual void setAmplitude(irr::f32 amplitude) = 0;
    // Stretches the noise along the slow time-and-position coordinate.
    virtual void setWaveLength(irr::f32 waveLength) = 0;
    // The sway at `position` (its X and Z; Y is not read) at `timeMs`, the
    // engine's time in milliseconds: (along world X, along world Z), never
    // longer than the amplitude.
    virtual irr::core::vector2df getOffset(const irr::core::vector3df& position, irr::u32 timeMs) = 0;
};

// A generator with both values set, reference count 1: the caller drops it.
ITideGenerator* createTideGenerator(irr::f32 amplitude, irr::f32 waveLength);

}  // namespace scene
}  // namespace tarnwell
