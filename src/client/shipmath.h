// The ship's arithmetic, free of the engine's scene and of the globals: the
// tuning values, and (added by the ship's author) the steering and force
// step, the engine pitch, the spin update, the light fade, the destruction
// timeline and the target selection over plain records.
#pragma once

#include <irrlicht.h>

#include <cstdint>

// The thirteen tuning values every ship of the game gets, in constructor
// order. Thrusts in the controls' units, rates the steering inputs'
// magnitudes, limits, bands in degrees.
struct ShipTuning {
    float maxReverseThrust = -500.0f;
    float maxForwardThrust = 1000.0f;
    float pitchRate = 4000.0f;
    float yawRate = 3000.0f;
    float rollRate = 8000.0f;
    float verticalThrust = 50.0f;
    float lateralThrust = 50.0f;
    float pitchLimit = 90.0f;
    float rollLimit = 60.0f;
    float rollLevelFactor = 0.25f;
    float pitchLevelFactor = 0.0f;  // pitch levelling off
    float rollDeadBand = 3.0f;
    float pitchDeadBand = 10.0f;
};
