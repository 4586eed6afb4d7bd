// The 3-D radar: columns for the player and the contacts in the shadow world
// under the radar terrain, seen by the sonar camera into texture 11.
#include "client/camera.h"
#include "client/constants.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/hud.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/scopedenginestate.h"
#include "client/ship.h"
#include "client/station.h"
#include "client/torpedo.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The frame's markers, removed from the scene when the call ends, on every
// path.
class MarkerNodes {
public:
    MarkerNodes() = default;
    ~MarkerNodes() { removeAll(); }
    MarkerNodes(const MarkerNodes&) = delete;
    MarkerNodes& operator=(const MarkerNodes&) = delete;

    void removeAll() {
        for (irr::scene::ISceneNode* node : nodes) {
            node->remove();
        }
        nodes.clear();
    }

    std::list<irr::scene::ISceneNode*> nodes;
};

irr::scene::ISceneNode* addMarker(irr::s32 meshId) {
    irr::scene::IMesh* mesh =
        globals.resources != nullptr ? globals.resources->getCreatedMesh(meshId) : nullptr;
    if (mesh == nullptr) {
        return nullptr;
    }
    return globals.sceneManager->addMeshSceneNode(mesh, nullptr, -1, irr::core::vector3df(0.0f, 0.0f, 0.0f),
                                                  irr::core::vector3df(0.0f, 0.0f, 0.0f),
                                                  irr::core::vector3df(1.0f, 1.0f, 1.0f));
}

}  // namespace

void Hud::update3D() {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    const ScopedActiveCamera restore(scene, mainCameraNode());
    Camera* sonar = globals.sonarCamera;
    irr::video::ITexture* target = texture(TEXTURE_SONAR_CAM);
    const Ship* player = globals.playerShip;
    HeightMap* heights = globals.heightMap;
    if (sonar == nullptr || sonar->getNode() == nullptr || target == nullptr || player == nullptr ||
        heights == nullptr || scene == nullptr || globals.driver == nullptr) {
        return;
    }
    const irr::core::vector3df p = player->getPosition();
    const float ground = heights->getHeight(p);
    const hudmath::CameraPose pose = hudmath::sonarCameraPose(p, ground, heading);
    sonar->update(pose.offset, pose.position, pose.rotation);
    const hudmath::Column column = hudmath::playerColumn(p, ground);
    radarCylinder->setPosition(column.position);
    radarCylinder->setScale(column.scale);

    MarkerNodes markers;
    for (const Ship* ship : globals.shipList) {
        if (ship == nullptr) {
            return;
        }
        if (ship == player || ship->isPlayer() || !ship->isOnRadar()) {
            continue;
        }
        if (ship->isTargeted()) {
            updateRadarMarker(*ship, addMarker(CREATED_MESH_RADAR_WHITE), markers.nodes, 0.0f);
        } else if (ship->getHull() > 0.0f) {
            updateRadarMarker(*ship, addMarker(CREATED_MESH_RADAR_RED), markers.nodes, 0.0f);
        }
    }
    if (hudmath::torpedoBlinkOn(deviceTime())) {
        for (const Torpedo* torpedo : globals.torpedoList) {
            if (torpedo == nullptr) {
                return;
            }
            updateRadarMarker(*torpedo, addMarker(CREATED_MESH_RADAR_GREEN), markers.nodes, 0.0f);
        }
    }
    for (const Station* station : globals.stationList) {
        if (station == nullptr) {
            return;
        }
        updateRadarMarker(*station, addMarker(CREATED_MESH_RADAR_ORANGE), markers.nodes, 20.0f);
    }

    const ScopedRenderTarget into(globals.driver, target, hudmath::kBlack, globals.clearColor);
    if (into.ok()) {
        scene->setActiveCamera(sonar->getNode());
        scene->drawAll();
    }
    markers.removeAll();
}

void Hud::updateRadarMarker(const Object& object, irr::scene::ISceneNode* node,
                            std::list<irr::scene::ISceneNode*>& markers, float extraHeight) {
    if (node == nullptr) {
        return;
    }
    node->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    node->setMaterialFlag(irr::video::EMF_BACK_FACE_CULLING, false);
    const irr::core::vector3df o = object.getPosition();
    const hudmath::Column column = hudmath::contactColumn(o, globals.heightMap->getHeight(o), extraHeight,
                                                          globals.playerShip->getPosition().Z);
    node->setPosition(column.position);
    node->setScale(column.scale);
    node->updateAbsolutePosition();
    markers.push_back(node);
}

// The radar terrain's image holds every fourth sample of the height map
// (its x and z scale is four samples' spacing), stretched so that the lowest
// of them is black and the highest white. Its height range is therefore
// theirs, and it lies in the shadow world when its floor is the lowest of
// them less the shadow depth.
void Hud::placeRadarTerrain() {
    irr::scene::ITerrainSceneNode* terrain = globals.radarTerrainNode;
    HeightMap* heights = globals.heightMap;
    if (terrain == nullptr || heights == nullptr || heights->getSize() <= 0) {
        return;
    }
    const irr::core::vector3df scale = terrain->getScale();
    const int32_t stride = std::max(1, static_cast<int32_t>(std::lround(scale.X / TERRAIN_SCALE_XZ)));
    float lowest = std::numeric_limits<float>::max();
    float highest = std::numeric_limits<float>::lowest();
    for (int32_t i = 0; i < heights->getSize(); i += stride) {
        for (int32_t j = 0; j < heights->getSize(); j += stride) {
            const float h = heights->getHeight(irr::core::vector3df(
                TERRAIN_SCALE_XZ * static_cast<float>(i), 0.0f, TERRAIN_SCALE_XZ * static_cast<float>(j)));
            lowest = std::min(lowest, h);
            highest = std::max(highest, h);
        }
    }
    const hudmath::ShadowTerrain shadow = hudmath::shadowTerrain(lowest, highest);
    const irr::core::vector3df position = terrain->getPosition();
    terrain->setPosition(irr::core::vector3df(position.X, shadow.positionY, position.Z));
    terrain->setScale(irr::core::vector3df(scale.X, shadow.heightScale, scale.Z));
}
