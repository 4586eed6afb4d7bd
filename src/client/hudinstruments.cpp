// The flight instruments: compass strip, pitch ladder, horizon and gauges.
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/hud.h"
#include "client/hudcanvas.h"
#include "client/ship.h"

void Hud::drawCompass() {
    sprite(hudmath::compassStrip(heading, centre(), layout()));
    sprite(hudmath::compassIndex(centre(), layout()));
}

void Hud::drawPitchLadder() {
    sprite(hudmath::pitchLadder(pitch, centre(), layout()));
    sprite(hudmath::pitchIndex(centre(), layout()));
}

void Hud::drawHorizon() {
    for (const hudmath::Line& line : hudmath::horizonLines(roll, pitch, centre())) {
        canvas->line(line.from, line.to, hudmath::kGreen);
    }
}

void Hud::drawGauges() {
    const Ship& player = *globals.playerShip;
    hudmath::GaugeInput input;
    input.position = player.getPosition();
    if (globals.heightMap != nullptr) {
        input.groundHeight = globals.heightMap->getHeight(input.position);
    }
    input.velocity = player.getVelocity();
    input.direction = player.getDirection();
    input.mass = player.getMass();
    input.thrustInput = player.getThrustInput();
    input.engineOn = player.isEngineOn();
    input.maxForwardThrust = player.getShipTuning().maxForwardThrust;
    for (const hudmath::HudText& gauge : hudmath::gaugeTexts(input, centre(), layout())) {
        text(gauge);
    }
}
