// The common base of everything in the underwater world that has a scene
// node and, mostly, a physics body: the terrain as the level object, ships,
// weapons, torpedoes, the station and debris. Behaviour is chosen by the type
// id (the contact rules, the HUD), never by virtual calls: the destructor is
// the only virtual operation.
#pragma once

#include <irrlicht.h>

#include <cstdint>
#include <string>

class dgBody;
class dgWorld;

// Entity kinds; the contact rules and the HUD choose behaviour by them.
enum ObjectType : int32_t {
    OBJECT_LEVEL = 0,    // the terrain: Object itself
    OBJECT_SHIP = 1,     // Ship, globals.shipList
    OBJECT_WEAPON = 2,   // Weapon, its ship's weapon list
    OBJECT_TORPEDO = 3,  // Torpedo, globals.torpedoList
    OBJECT_STATION = 4,  // Station, globals.stationList
    OBJECT_TRASH = 5,    // Trash (debris), globals.trashList
};

class Object {
public:
    // Node and body null, position and rotation zero, not dead, radius the
    // largest component of size (full extents).
    Object(int32_t type, const std::string& name, const irr::core::vector3df& size);
    // Only releases the name: derived destructors remove their node and body.
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    int32_t getType() const { return type; }
    std::string getName() const { return name; }
    void setName(const std::string& value) { name = value; }
    // The scene owns the node; null until the derived constructor made it, or
    // for good when that failed.
    irr::scene::ISceneNode* getNode() const { return node; }
    // Null for the level object, weapons, and an entity whose node failed.
    dgBody* getBody() const { return body; }
    irr::core::vector3df getPosition() const { return position; }
    // Degrees about x, y and z, as the engine's rotation matrix takes them.
    irr::core::vector3df getRotation() const { return rotation; }
    irr::core::vector3df getSize() const { return size; }
    float getRadius() const { return radius; }
    // Set when the entity is to be deleted by the owner of its list.
    bool isDead() const { return dead; }

    // Stores p and, with a node, moves it and refreshes its absolute position
    // at once, so its transformation is current within the frame. A
    // non-finite p is refused (nothing changes).
    void setPosition(const irr::core::vector3df& p);
    // Stores r (degrees) and, with a node, turns it. A non-finite r is refused.
    void setRotation(const irr::core::vector3df& r);
    // True when point lies within radius of the stored position (the boundary
    // included).
    bool contains(const irr::core::vector3df& point) const;

    // The debris force callback: force (0, -5 × mass, 0), the game's sinking
    // acceleration of 5 units per second squared.
    void applyGravity(const dgWorld* world, dgBody* body);

protected:
    // An animated mesh node of resource `mesh` as the world's entities set
    // it up: under `parent` (null: the scene root) at `offset`, with its own
    // triangle selector from the mesh's frame 0 (the bullets test against
    // it), lighting, fog and anisotropic filtering on, and the solid shader
    // material when shaders are on. Null without a scene, a resource handler
    // or that mesh; the scene owns the node.
    static irr::scene::IAnimatedMeshSceneNode* addMeshNode(irr::s32 mesh, irr::scene::ISceneNode* parent,
                                                           const irr::core::vector3df& offset);

    // The glue clears `body` when it destroys it.
    friend class Physics;

    int32_t type;
    irr::scene::ISceneNode* node = nullptr;
    std::string name;
    dgBody* body = nullptr;
    irr::core::vector3df position;
    irr::core::vector3df rotation;
    irr::core::vector3df size;
    float radius;
    bool dead = false;
};
