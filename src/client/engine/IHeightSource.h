// Terrain heights as the grass growth asks for them, so that a grass patch
// can stand on the game's height map without the engine additions knowing
// the game: the game's HeightMap implements it.
#pragma once

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class IHeightSource {
public:
    virtual ~IHeightSource() = default;
    // World height of the terrain under position.X, position.Z (Y is not read).
    virtual irr::f32 getHeight(const irr::core::vector3df& position) = 0;
    // Side of the square sample grid; 0 for an empty source.
    virtual irr::s32 getSize() const = 0;
};

}  // namespace scene
}  // namespace tarnwell
