// The terrain node from a raw height file of 16-bit unsigned little-endian
// samples, at the samples' own heights. The engine's own raw loader divides
// 16-bit samples by 256; this one hands it the samples as 32-bit floats, so
// that vertex (i, j) of the node's mesh holds the height raw(i, j) and a
// height scale applies to the raw value itself: with the game's scale
// (20, 0.25, 20) at (0, -12000, 0) the node's height at (20 i, 20 j) is
// raw(i, j) * 0.25 - 12000, as the game's height map answers there.
//
// File layout: side x side samples, no header; row i of the file is the
// grid's x index and sample j within it the z index, so sample (i, j) sits at
// byte 2 (side i + j). The engine keeps that layout: mesh vertex i * side + j
// stands at (i, raw(i, j), j) before the node's scale, with no mirroring.
#pragma once

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

// Adds the node to `manager` (the scene keeps it; do not drop it), with the
// arguments of the engine's addTerrainSceneNode. Null when the file cannot
// be opened or is not a square grid of at least 2 x 2 whole 16-bit samples;
// nothing is added then.
irr::scene::ITerrainSceneNode* addRawTerrainSceneNode(irr::scene::ISceneManager* manager,
                                                      const irr::io::path& path,
                                                      irr::scene::ISceneNode* parent, irr::s32 id,
                                                      const irr::core::vector3df& position,
                                                      const irr::core::vector3df& rotation,
                                                      const irr::core::vector3df& scale,
                                                      irr::video::SColor vertexColor, irr::s32 maxLOD,
                                                      irr::scene::E_TERRAIN_PATCH_SIZE patchSize);

}  // namespace scene
}  // namespace tarnwell
