// A grass patch: one kGrassPatchSize square of sea floor covered with tens of
// thousands of small textured quads (blades) that stand on the terrain and
// sway in the tide. Patch (i, j) sits at (i, 0, j) x 1024 and takes its
// blades from the grass file "<directory>/<i>.<j>.grass" when there is one,
// else grows them from the terrain's heights and the random source.
//
// The caller sets the texture (an atlas of 4 x 2 cells) and material flags,
// typically transparent alpha channel: the node registers in the automatic
// pass, so it is drawn with the transparent nodes. It acts only in a drawAll
// whose active camera is the main camera (id -1), so the picture-in-picture
// views of a frame neither draw it nor move its sway (nor its animators and
// children). Its box is the box of
// its blade positions and its origin; besides the engine's box culling it
// skips itself beyond 1.5 draw distances, and the blades it draws thin out
// with distance.
#pragma once

#include "client/engine/GrassFile.h"
#include "client/engine/GrassPatch.h"
#include "client/engine/IHeightSource.h"
#include "client/engine/ITideGenerator.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class CGrassPatchSceneNode : public irr::scene::ISceneNode {
public:
    // The game's patch: heights from `heightMap` (the game's height map),
    // blades in the game's green. The menu's patch (below) stands on an
    // image terrain instead. Both:
    //   generateAndSave: a grown patch is written to its grass file;
    //   id: not used, the node's id is -1;
    //   patchIndex: X and Z place the patch (Y is kept, unused);
    //   directory: of the grass files (null: the working directory);
    //   colourImage: the menu's blade colours (unused by the game's patch);
    //   grassMap: kept with the patch, unused;
    //   terrain: its scale (and, for an image, its position) maps world
    //     points to height samples; null grows nothing;
    //   heightOffset: added to every ground height;
    //   tide: moves the blades; null keeps them still.
    // Images and the tide generator are grabbed for the node's life; the
    // height map is borrowed and read only while the node is constructed.
    CGrassPatchSceneNode(bool generateAndSave, irr::scene::ISceneNode* parent,
                         irr::scene::ISceneManager* manager, irr::s32 id,
                         const irr::core::vector3d<irr::s32>& patchIndex, const irr::c8* directory,
                         IHeightSource* heightMap, irr::video::IImage* colourImage,
                         irr::video::IImage* grassMap, irr::scene::ISceneNode* terrain, irr::f32 heightOffset,
                         ITideGenerator* tide);
    // The menu's patch: heights from the lightness of `heightImage`, read as
    // the engine's image terrain reads it; colours from `colourImage`.
    CGrassPatchSceneNode(bool generateAndSave, irr::scene::ISceneNode* parent,
                         irr::scene::ISceneManager* manager, irr::s32 id,
                         const irr::core::vector3d<irr::s32>& patchIndex, const irr::c8* directory,
                         irr::video::IImage* heightImage, irr::video::IImage* colourImage,
                         irr::video::IImage* grassMap, irr::scene::ISceneNode* terrain, irr::f32 heightOffset,
                         ITideGenerator* tide);
    ~CGrassPatchSceneNode() override;

    // Reads the grass file: false when it is not a regular file (a FIFO or a
    // folder is never opened), cannot be opened or holds not even a count
    // (the blades stay as they were); otherwise the blades are the
    // file's whole, finite records and the box is theirs.
    bool load();
    // Writes the grass file; on failure prints "Couldnt save grass: <file>"
    // to standard output and returns false.
    bool save();
    // Grows the blades on the node's ground; with `saveFile`, saves them and
    // returns save()'s result, else true.
    bool generate(bool saveFile);
    // The texture atlas: columns x rows cells of the material's texture.
    void buildAtlasCoords(irr::s32 columns, irr::s32 rows);
    // Makes room in the vertex and index buffers for every blade.
    void createMesh();

    void setDrawDistance(irr::f32 distance) { drawDistance = distance; }
    irr::f32 getDrawDistance() const { return drawDistance; }
    void setBladeBudget(irr::u32 budget) { bladeBudget = budget; }
    irr::u32 getBladeBudget() const { return bladeBudget; }
    void setUpdateInterval(irr::u32 intervalMs) { updateInterval = intervalMs; }
    irr::u32 getUpdateInterval() const { return updateInterval; }
    // Columns and rows of the atlas.
    irr::core::dimension2d<irr::s32> getAtlasSize() const {
        return irr::core::dimension2d<irr::s32>(atlas.columns, atlas.rows);
    }

    const irr::core::array<GrassElement>& getBlades() const { return blades; }
    const irr::c8* getFileName() const { return fileName; }
    // The sway grid, (n + 1)^2 offsets, entry j * (n + 1) + i (see
    // grassSwayPoint).
    const irr::core::array<irr::core::vector2df>& getSwayGrid() const { return swayGrid; }
    // The cached quads: drawn count x 4 vertices valid after a render.
    const irr::core::array<irr::video::S3DVertex>& getVertices() const { return vertices; }
    const irr::core::array<irr::u32>& getIndices() const { return indices; }
    irr::s32 getDrawnCount() const { return drawnCount; }

    void OnRegisterSceneNode() override;
    void OnAnimate(irr::u32 timeMs) override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override { return box; }
    // The one material, whatever the index.
    irr::video::SMaterial& getMaterial(irr::u32 index) override;
    irr::u32 getMaterialCount() const override { return 1; }

private:
    CGrassPatchSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager,
                         const irr::core::vector3d<irr::s32>& patchIndex, const irr::c8* directory,
                         IHeightSource* heightMap, irr::video::IImage* heightImage,
                         irr::video::IImage* colourImage, irr::video::IImage* grassMap,
                         irr::scene::ISceneNode* terrain, irr::f32 heightOffset, ITideGenerator* tide);
    void start(bool generateAndSave);
    // True when the scene's active camera is the main camera.
    bool mainCameraActive() const;
    // Distance from the camera to the middle of the blade box.
    irr::f32 distanceTo(const irr::scene::ICameraSceneNode& camera) const;
    void rebuild(const irr::scene::ICameraSceneNode& camera);
    void drawCached(irr::video::IVideoDriver& driver);

    irr::core::array<GrassElement> blades;
    irr::core::vector3d<irr::s32> patchIndex;
    irr::c8 fileName[256];
    irr::f32 drawDistance = kGrassDrawDistance;
    irr::u32 bladeBudget = kGrassBladeBudget;
    GrassAtlas atlas;
    irr::scene::ISceneNode* terrain;  // borrowed
    irr::video::IImage* heightImage;  // grabbed, menu's patch only
    IHeightSource* heightMap;         // borrowed, game's patch only
    irr::video::IImage* colourImage;  // grabbed
    irr::video::IImage* grassMap;     // grabbed
    ITideGenerator* tide;             // grabbed
    irr::core::array<irr::core::vector2df> swayGrid;
    irr::s32 swayResolution = kGrassSwayResolution;
    irr::u32 updateInterval = kGrassUpdateInterval;
    irr::u32 lastUpdate = 0;
    bool rebuildFlag = true;
    irr::s32 drawnCount = 0;
    irr::video::SMaterial material;
    irr::core::array<irr::video::S3DVertex> vertices;
    // 32-bit: a patch's quads run past the 65536 vertices 16-bit indices reach.
    irr::core::array<irr::u32> indices;
    irr::core::aabbox3d<irr::f32> box;
    irr::f32 heightOffset;
};

}  // namespace scene
}  // namespace tarnwell
