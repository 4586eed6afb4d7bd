// The physics glue's rules as plain functions of plain values, callable
// without a world or a device: what a contact between two entity kinds sets
// off, which bodies the debug drawing outlines, a box body's inertia, where a
// terrain vertex lands in the level body, and where a ship that left the
// world box is put back.
#pragma once

#include <irrlicht.h>

#include <cstdint>

// Hull a ship loses to a torpedo that touches it.
constexpr float TORPEDO_HIT_DAMAGE = 600.0f;

// What a contact does to one object of the pair.
enum class ContactEffect : int32_t {
    TorpedoExplodesOnStatic,  // Torpedo::explode(true): with the static-hit impact
    TorpedoExplodes,          // Torpedo::explode(false)
    TrashHit,                 // Trash::hit
    ShipDamaged,              // Ship::damage(TORPEDO_HIT_DAMAGE)
    ShipCollisionSound,       // Ship::playCollisionSound
};

struct ContactAction {
    ContactEffect effect;
    int32_t object;  // 0: the pair's first object, 1: its second
};

// The actions of one contact, to be carried out in array order.
struct ContactActions {
    int32_t count = 0;  // 0 to 2
    ContactAction actions[2];
};

// The game's contact rules for a pair of entity types (ObjectType values, in
// the order the pair's objects come). Orientation does not matter: swapping
// the types swaps the objects the actions name and nothing else. At most one
// rule matches a pair:
//   level or station + torpedo: the torpedo explodes on a static object;
//   trash + torpedo: the trash is hit, then the torpedo explodes;
//   ship + torpedo: the ship loses TORPEDO_HIT_DAMAGE, then the torpedo
//     explodes;
//   ship + ship, station or level: every ship of the pair plays its
//     collision sound (the first object's first).
// Every other pair, and any type outside 0..5, gives no action.
ContactActions contactRules(int32_t typeA, int32_t typeB);

// Whether the debug drawing outlines a body whose object has the given type:
// mode 1 every body but the level (type 0), mode 2 every body, any other
// mode none.
bool debugDrawShows(int32_t mode, int32_t type);

// The diagonal inertia the glue gives a dynamic box of full extents `size`:
// mass times the sum of the other two squared extents per axis (twelve
// times a solid box's; the game's ships and torpedoes are tuned on it).
irr::core::vector3df boxInertia(float mass, const irr::core::vector3df& size);

// A vertex of the terrain node's level-0 mesh (unscaled: x and z the grid
// indices, y the raw height sample) in the level body's frame: x and z times
// TERRAIN_SCALE_XZ, y times TERRAIN_SCALE_Y. The body stands at
// TERRAIN_POSITION, so the surface over grid point (i, j) lies at
// raw(i, j) * 0.25 - 12000, where the height map puts it.
irr::core::vector3df levelVertex(const irr::core::vector3df& terrainVertex);

// A body's centre moved just enough that its box (boxMin..boxMax, centred
// where the body is or not) lies within margin inside the world box on
// every axis where it fits; on an axis where it does not fit, the centre
// goes to the middle of the world box.
irr::core::vector3df placeInsideBox(const irr::core::vector3df& centre, const irr::core::vector3df& boxMin,
                                    const irr::core::vector3df& boxMax, const irr::core::vector3df& worldMin,
                                    const irr::core::vector3df& worldMax, float margin);

// The Euler angles in degrees (the engine's rotation set-up order: x, then
// y, then z) of a body's 16-float matrix: dgGetEulerAngles times 57.295776.
// Within about 0.57 degrees of a pitch of +-90 degrees dgGetEulerAngles pins
// z to 0, which would turn an entity up to a degree away from its body; there
// the angles are taken from the matrix's axes so that the engine's
// setRotationDegrees of the result gives the body's rotation back everywhere.
irr::core::vector3df bodyRotationDegrees(const float* matrix);

