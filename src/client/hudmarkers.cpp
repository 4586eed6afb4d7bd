// Contact markers, the target's lock, hull bar and lead indicator, and the
// arrow towards a target off the screen.
#include "client/camera.h"
#include "client/engine/Finite.h"
#include "client/globals.h"
#include "client/hud.h"
#include "client/hudcanvas.h"
#include "client/ship.h"
#include "client/utilities.h"
#include "client/weapon.h"

#include <cmath>

using tarnwell::isFinite;

namespace {

// No terrain between the two points; without a terrain or its selector
// everything is in sight.
bool inSight(const irr::core::vector3df& from, const irr::core::vector3df& to) {
    irr::scene::ITriangleSelector* selector =
        globals.terrainNode != nullptr ? globals.terrainNode->getTriangleSelector() : nullptr;
    if (selector == nullptr || globals.sceneManager == nullptr || !isFinite(from) || !isFinite(to)) {
        return true;
    }
    irr::core::vector3df hit;
    irr::core::triangle3df triangle;
    irr::scene::ISceneNode* node = nullptr;
    return !globals.sceneManager->getSceneCollisionManager()->getCollisionPoint(
        irr::core::line3df(from, to), selector, hit, triangle, node);
}

}  // namespace

hudmath::LauncherState Hud::launcherState(const std::list<Weapon*>& weapons) {
    hudmath::LauncherState state;
    for (const Weapon* weapon : weapons) {
        if (weapon == nullptr) {
            state.complete = false;
            return state;
        }
        if (weapon->getType() == WEAPON_TORPEDO_LAUNCHER) {
            state.hasLauncher = true;
            state.locked = weapon->isLocked();
            return state;
        }
    }
    return state;
}

void Hud::drawContactMarkers() {
    if (playerWeapons == nullptr) {
        return;
    }
    const hudmath::LauncherState launcher = launcherState(*playerWeapons);
    if (!launcher.complete) {
        return;
    }
    currentTarget = nullptr;

    Ship* player = globals.playerShip;
    // Projected as the engine's getScreenCoordinatesFrom3DPosition would with
    // the main camera over the back buffer.
    irr::scene::ICameraSceneNode* camera = mainCameraNode();
    irr::core::matrix4 viewProjection;
    if (camera != nullptr) {
        viewProjection = camera->getProjectionMatrix();
        viewProjection *= camera->getViewMatrix();
    }
    const irr::core::dimension2d<irr::u32> screen(static_cast<irr::u32>(screenWidth),
                                                  static_cast<irr::u32>(screenHeight));
    const auto project = [&](const irr::core::vector3df& point) {
        return camera != nullptr ? hudmath::projectToScreen(viewProjection, point, screen)
                                 : irr::core::position2di(hudmath::kNotOnScreen, hudmath::kNotOnScreen);
    };
    const irr::core::vector3df p = player->getPosition();

    for (Ship* ship : globals.shipList) {
        if (ship == nullptr) {
            return;
        }
        if (ship == player || ship->isPlayer()) {
            continue;
        }
        const bool targeted = ship->isTargeted();
        if (targeted) {
            currentTarget = ship;
        }
        const irr::core::vector3df s = ship->getPosition();
        const irr::core::position2di at = project(s);
        const float distanceSquared = (s - p).getLengthSQ();
        switch (hudmath::contactMark(at, targeted, distanceSquared, radarRangeSquared, screenWidth,
                                     screenHeight, launcher.hasLauncher, [&] { return inSight(p, s); })) {
            case hudmath::ContactMark::None:
                break;
            case hudmath::ContactMark::Arrow:
                for (const hudmath::Line& line :
                     hudmath::offScreenArrow(playerRotationInverse, p, s, centre())) {
                    canvas->line(line.from, line.to, hudmath::kGreen);
                }
                break;
            case hudmath::ContactMark::OffRadar:
                ship->setOnRadar(false);
                if (targeted) {
                    player->selectNextTarget();
                }
                break;
            case hudmath::ContactMark::Bracket:
                ship->setOnRadar(true);
                sprite(hudmath::contactBracket(at));
                break;
            case hudmath::ContactMark::TargetBracket: {
                ship->setOnRadar(true);
                sprite(hudmath::targetBracket(at, launcher.locked));
                if (const std::optional<hudmath::Sprite> bar =
                        hudmath::hullBar(at, ship->getHull(), ship->getMaxHull())) {
                    sprite(*bar);
                }
                const irr::core::vector3df aim = computeInterceptPoint(
                    p, s, ship->getVelocity(), static_cast<float>(player->getGunSpeed()));
                sprite(hudmath::leadIndicator(project(aim)));
                break;
            }
        }
    }
}
