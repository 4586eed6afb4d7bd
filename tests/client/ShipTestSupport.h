// Pieces the ship and control tests share: the game's four ships as the
// game creates them, a frame of the ship updates as the frame loop runs it,
// and a scripted random source.
#pragma once

#include "ScriptedClock.h"

#include "client/constants.h"
#include "client/engine/RandomSource.h"
#include "client/globals.h"
#include "client/resourceids.h"
#include "client/ship.h"

#include <irrlicht.h>

#include <algorithm>
#include <vector>

namespace shiptest {

struct ShipRow {
    bool player;
    const char* name;
    const wchar_t* registration;
    const wchar_t* className;
    irr::s32 mesh;
    irr::core::vector3df position, rotation, size;
    float mass;
};

// The content table: the player first.
inline const ShipRow kFleet[4] = {
    {true, "Scout", L"SX271", L"Scout", MESH_SCOUT, {2560, -3780, 3760}, {0, 0, 0}, {6, 3, 10}, 10},
    {false, "Enemy 1", L"SB373", L"Bomber1", MESH_BOMBER1, {2560, -3790, 3830}, {10, 80, 0}, {8, 3, 10}, 30},
    {false, "Enemy 2", L"SX271", L"Scout", MESH_SCOUT, {2585, -3750, 3835}, {0, 0, 0}, {8, 3, 10}, 10},
    {false, "Enemy 3", L"TA575", L"Bomber2", MESH_BOMBER2, {2590, -3800, 3820}, {0, 0, 0}, {36, 10, 16}, 100},
};

inline Ship* makeShip(const ShipRow& row) {
    return new Ship(row.player, row.name, row.registration, row.className, row.position, row.rotation, row.size,
                    row.mass, 0.5f, SCOUT_ANGULAR_DAMPING, ShipTuning{}, row.mesh);
}

// The four ships in globals.shipList, the player's also in
// globals.playerShip with its gun, gun and launcher. Deletes the ships left
// at the end, each forgotten first.
class Fleet {
public:
    Fleet() {
        for (const ShipRow& row : kFleet) {
            globals.shipList.push_back(makeShip(row));
        }
        globals.playerShip = globals.shipList.front();
        globals.playerShip->addWeapon(0, irr::core::vector3df(-1.5f, -1, 3));
        globals.playerShip->addWeapon(0, irr::core::vector3df(1.5f, -1, 3));
        globals.playerShip->addWeapon(1, irr::core::vector3df(0, -4, 3));
    }
    ~Fleet() {
        while (!globals.shipList.empty()) {
            Ship* ship = globals.shipList.front();
            forgetShip(ship);
            globals.shipList.pop_front();
            delete ship;
        }
    }
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // The ship of that table row while it lives, else null.
    static Ship* find(const char* name) {
        for (Ship* ship : globals.shipList) {
            if (ship->getName() == name) return ship;
        }
        return nullptr;
    }
    // One frame of the frame loop's ship pass: `ms` of real time, every ship
    // updated, the dead ones forgotten and deleted.
    static void frame(ScriptedClock& clock, uint32_t ms = 20) {
        clock.advance(ms);
        for (auto it = globals.shipList.begin(); it != globals.shipList.end();) {
            Ship* ship = *it;
            ship->update(ms / 1000.0f);
            if (ship->isDead()) {
                forgetShip(ship);
                it = globals.shipList.erase(it);
                delete ship;
            } else {
                ++it;
            }
        }
    }
};

// Gives the values in turn, round and round.
class ScriptedRandom : public tarnwell::scene::RandomSource {
public:
    explicit ScriptedRandom(std::vector<irr::u32> values) : values(std::move(values)) {}
    irr::u32 next() override { return values[drawn++ % values.size()]; }
    std::vector<irr::u32> values;
    size_t drawn = 0;
};

}  // namespace shiptest
