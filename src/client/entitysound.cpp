#include "client/engine/Finite.h"
#include "client/entitysound.h"

#include "client/globals.h"
#include "client/resourcehandler.h"
#include "client/weaponmath.h"
#include "platform/sound/fsound.h"

using tarnwell::isFinite;

namespace {

SoundLookup installedLookup = nullptr;

FSOUND_SAMPLE* sampleOf(irr::s32 sound) {
    if (installedLookup != nullptr) {
        return installedLookup(sound);
    }
    return globals.resources != nullptr ? globals.resources->getSound(sound) : nullptr;
}

}  // namespace

SoundLookup setSoundLookup(SoundLookup lookup) {
    const SoundLookup previous = installedLookup;
    installedLookup = lookup;
    return previous;
}

int32_t playSound(irr::s32 sound) {
    FSOUND_SAMPLE* sample = sampleOf(sound);
    if (sample == nullptr) {
        return -1;
    }
    return FSOUND_PlaySound(FSOUND_FREE, sample);
}

int32_t playSoundAt(irr::s32 sound, const irr::core::vector3df& at) {
    if (!isFinite(at)) {
        return -1;
    }
    const int32_t channel = playSound(sound);
    placeSound(channel, at);
    return channel;
}

void placeSound(int32_t channel, const irr::core::vector3df& at) {
    if (channel < 0 || !isFinite(at)) {
        return;
    }
    const float position[3] = {at.X, at.Y, at.Z};
    FSOUND_3D_SetAttributes(channel, position, nullptr);
}
