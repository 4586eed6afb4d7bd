// The station: a static structure with two door models and a massless box
// body that blocks ships and torpedoes; bullets stop at it. Lives in
// globals.stationList; its body stays in the world until the physics glue
// goes.
#pragma once

#include "client/object.h"

class Station : public Object {
public:
    // mesh: a resource id; the doors are meshes 18 and 19.
    Station(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
            const irr::core::vector3df& size, irr::s32 mesh);
    // Removes the station node with its doors. The body stays in the world
    // until the glue goes, its user data cleared.
    ~Station() override;

    irr::scene::IAnimatedMeshSceneNode* getDoorNode1() const { return door1; }
    irr::scene::IAnimatedMeshSceneNode* getDoorNode2() const { return door2; }

private:
    irr::scene::IAnimatedMeshSceneNode* door1 = nullptr;
    irr::scene::IAnimatedMeshSceneNode* door2 = nullptr;
};
