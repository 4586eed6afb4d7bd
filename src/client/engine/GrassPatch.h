// The arithmetic of a grass patch, apart from the scene node that draws it:
// the texture atlas, the growth of the blades on the terrain, the tide's sway
// grid, the culling and thinning decisions and the quads of the vertex
// buffer. Pure: none of it needs a device (an image ground reads an engine
// image the caller made).
//
// A patch covers one kGrassPatchSize square centred on its node; blade
// positions are relative to the node, in [-512, 512] on X and Z.
#pragma once

#include "client/engine/GrassFile.h"
#include "client/engine/IHeightSource.h"
#include "client/engine/ITideGenerator.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

// Side of a patch, world units; patch (i, j) sits at (i, 0, j) x this.
constexpr irr::f32 kGrassPatchSize = 1024.0f;
// Default draw distance, world units; patches register within 1.5 x it.
constexpr irr::f32 kGrassDrawDistance = 1536.0f;
// Beyond this camera distance a patch considers fewer blades, in proportion.
constexpr irr::f32 kGrassFullDetailDistance = 1536.0f;
// Default most blades considered in one rebuild of the vertex buffer.
constexpr irr::u32 kGrassBladeBudget = 100000;
// Default least time between two rebuilds, milliseconds.
constexpr irr::u32 kGrassUpdateInterval = 50;
// Cells of the sway grid along each side; the grid has (n + 1)^2 points.
constexpr irr::s32 kGrassSwayResolution = 5;
// Only the main camera carries this id; picture-in-picture cameras do not.
constexpr irr::s32 kGrassMainCameraId = -1;
// The growth: blades per patch before drops, and blades per tuft.
constexpr irr::u32 kGrassLeastBlades = 40000;
constexpr irr::u32 kGrassBladeSpread = 10000;
constexpr irr::u32 kGrassTuftBlades = 8;

// Texture coordinates of every cell of a columns x rows atlas, cell (x, y)
// at index columns * y + x. V runs down the texture: upperV < lowerV.
struct GrassAtlas {
    irr::s32 columns = 0;
    irr::s32 rows = 0;
    irr::f32 cellWidth = 0.0f;   // 1 / columns
    irr::f32 cellHeight = 0.0f;  // 1 / rows
    irr::core::array<irr::f32> leftU;
    irr::core::array<irr::f32> lowerV;
    irr::core::array<irr::f32> upperV;
    irr::core::array<irr::f32> rightU;

    // Index of a blade's cell, its column and row clamped into the atlas.
    irr::u32 cellOf(irr::s32 column, irr::s32 row) const;
};

// An atlas of columns x rows cells (each taken as at least 1).
GrassAtlas buildGrassAtlas(irr::s32 columns, irr::s32 rows);

// Where blades may stand: the terrain under a world point, and the colours a
// blade there takes.
class GrassGround {
public:
    virtual ~GrassGround();
    // Ground height under world.X, world.Z (world.Y is not read), and the
    // blade's colours. False when the point lies outside the height data: the
    // blade is dropped.
    virtual bool sample(const irr::core::vector3df& world, irr::f32& height, irr::video::SColor& top,
                        irr::video::SColor& bottom) = 0;
};

// The game's ground: a height source (the game's height map) whose sample
// (i, j) lies at world (i, j) x terrainScale on X and Z, as the height map
// places them. A blade needs the whole cell around it (both samples on each
// side) inside the grid. Every blade takes the game's fixed green.
class HeightSourceGround : public GrassGround {
public:
    // source: borrowed, may be null (nothing grows).
    HeightSourceGround(IHeightSource* source, const irr::core::vector3df& terrainScale);
    bool sample(const irr::core::vector3df& world, irr::f32& height, irr::video::SColor& top,
                irr::video::SColor& bottom) override;

private:
    IHeightSource* source;
    irr::core::vector3df scale;
};

// The menu's ground: an image terrain, read as the engine's terrain node
// reads it so that blades stand on the drawn surface: a pixel's lightness is
// its height, x is mirrored (grid column x is pixel column width - 1 - x),
// and a cell is split into two triangles along its (x, z)-(x + 1, z + 1)
// diagonal. Colours come from the colour image at the cell's pixel.
class ImageGround : public GrassGround {
public:
    // heights, colours: borrowed, may be null (no heights: nothing grows; no
    // colours: the game's green).
    ImageGround(irr::video::IImage* heights, irr::video::IImage* colours,
                const irr::core::vector3df& terrainPosition, const irr::core::vector3df& terrainScale);
    bool sample(const irr::core::vector3df& world, irr::f32& height, irr::video::SColor& top,
                irr::video::SColor& bottom) override;

private:
    irr::video::IImage* heights;
    irr::video::IImage* colours;
    irr::core::vector3df position;
    irr::core::vector3df scale;
};

// Colours of the game's blades, which no image tints.
const irr::video::SColor kGrassTopColor(255, 50, 100, 0);
const irr::video::SColor kGrassBottomColor(255, 10, 30, 0);

// Grows a patch at patchPosition (the node's position) on `ground`, drawing
// every random number from tarnwell::scene::random(): a count of 40000 to
// 49999 blades in tufts of 8, less the blades that fall outside the ground.
// heightOffset is added to every ground height. `box` becomes the box of the
// blade positions and the node's origin.
void growGrassBlades(const irr::core::vector3df& patchPosition, GrassGround& ground, irr::f32 heightOffset,
                     irr::core::array<GrassElement>& blades, irr::core::aabbox3df& box);

// The box of the blade positions and the node's origin.
irr::core::aabbox3df grassBladeBox(const irr::core::array<GrassElement>& blades);

// Sway grid of resolution n over the patch at patchPosition: point (i, j),
// i along X and j along Z, both 0..n, is entry j * (n + 1) + i and lies at
// patchPosition + (i, 0, j) x patchSize / n - patchSize / 2.
irr::core::vector3df grassSwayPoint(const irr::core::vector3df& patchPosition, irr::s32 n, irr::s32 i,
                                    irr::s32 j);

// Fills `grid` ((n + 1)^2 entries) with the tide's offsets at every grid
// point at timeMs.
void sampleGrassSwayGrid(ITideGenerator& tide, const irr::core::vector3df& patchPosition, irr::s32 n,
                         irr::u32 timeMs, irr::core::array<irr::core::vector2df>& grid);

// The sway at a blade's local (x, z), blended bilinearly from the four grid
// points around it; points beyond the patch take the nearest edge.
irr::core::vector2df grassSwayAt(const irr::core::array<irr::core::vector2df>& grid, irr::s32 n,
                                 irr::f32 localX, irr::f32 localZ);

// Whether a patch takes part in a drawAll: only for the main camera, and
// only nearer than 1.5 draw distances (cameraDistance from the camera to the
// middle of the blade box).
bool grassPatchRegistered(irr::s32 cameraId, irr::f32 cameraDistance, irr::f32 drawDistance);

// Whether the tide is sampled for a patch this far away.
bool grassTideSampled(irr::f32 cameraDistance, irr::f32 drawDistance);

// Whether the sway and vertex buffer are due for a rebuild at timeMs.
// Unsigned arithmetic, as the engine's clock wraps: the first frames after
// start (timeMs below the interval) always rebuild.
bool grassRebuildDue(irr::u32 timeMs, irr::u32 interval, irr::u32 lastUpdate);

// Blades considered in one rebuild: at most `budget`, and beyond the full
// detail distance (nodeDistance from the camera to the node) fewer in
// proportion, rounded.
irr::u32 grassBladeLimit(irr::u32 count, irr::u32 budget, irr::f32 nodeDistance);

// Whether blade i of `limit` at `distance` from the camera is drawn: not
// beyond the draw distance, and between half and the whole of it a blade of
// atlas row 0 only when i / limit is at least half its share of the draw
// distance, so the far grass thins out.
bool grassBladeKept(irr::u32 i, irr::u32 limit, irr::f32 distance, irr::f32 drawDistance, irr::s32 atlasRow);

// The four vertices of a blade, corner k to vertex k, its tip corners (1 and
// 2) moved by sway x phase on X and Z. Upper vertices take the top colour,
// lower ones its red, green and blue x 0.8; normals point up.
void buildGrassBladeVertices(const GrassElement& blade, const irr::core::vector2df& sway,
                             const GrassAtlas& atlas, irr::video::S3DVertex* out);

// Twelve indices per blade, for blades first..first + count - 1: its quad
// with both windings, seen from both sides.
void buildGrassBladeIndices(irr::u32 first, irr::u32 count, irr::u32* out);

}  // namespace scene
}  // namespace tarnwell
