#include "client/engine/CGrassPatchSceneNode.h"

#include "platform/regularfile.h"

#include <cstdio>

namespace tarnwell {
namespace scene {

using irr::core::vector3df;

namespace {

void grabIfSet(irr::IReferenceCounted* object) {
    if (object != nullptr) {
        object->grab();
    }
}

void dropIfSet(irr::IReferenceCounted* object) {
    if (object != nullptr) {
        object->drop();
    }
}

// A 32-bit index list holds 12 indices a blade up to this many blades.
constexpr irr::u32 kMostMeshBlades = 0xFFFFFFFFu / 12u;

}  // namespace

CGrassPatchSceneNode::CGrassPatchSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager,
                                           const irr::core::vector3d<irr::s32>& index,
                                           const irr::c8* directory, IHeightSource* heights,
                                           irr::video::IImage* heightPicture, irr::video::IImage* colours,
                                           irr::video::IImage* map, irr::scene::ISceneNode* terrainNode,
                                           irr::f32 offset, ITideGenerator* tideGenerator)
    : irr::scene::ISceneNode(parent, manager, -1, vector3df(0.0f, 0.0f, 0.0f), vector3df(0.0f, 0.0f, 0.0f),
                             vector3df(1.0f, 1.0f, 1.0f)),
      patchIndex(index),
      terrain(terrainNode),
      heightImage(heightPicture),
      heightMap(heights),
      colourImage(colours),
      grassMap(map),
      tide(tideGenerator),
      heightOffset(offset) {
    grabIfSet(heightImage);
    grabIfSet(colourImage);
    grabIfSet(grassMap);
    grabIfSet(tide);
    std::snprintf(fileName, sizeof(fileName), "%s/%d.%d.grass", directory != nullptr ? directory : ".",
                  patchIndex.X, patchIndex.Z);
}

CGrassPatchSceneNode::CGrassPatchSceneNode(bool generateAndSave, irr::scene::ISceneNode* parent,
                                           irr::scene::ISceneManager* manager, irr::s32,
                                           const irr::core::vector3d<irr::s32>& index,
                                           const irr::c8* directory, IHeightSource* heights,
                                           irr::video::IImage* colours, irr::video::IImage* map,
                                           irr::scene::ISceneNode* terrainNode, irr::f32 offset,
                                           ITideGenerator* tideGenerator)
    : CGrassPatchSceneNode(parent, manager, index, directory, heights, nullptr, colours, map, terrainNode,
                           offset, tideGenerator) {
    start(generateAndSave);
}

CGrassPatchSceneNode::CGrassPatchSceneNode(bool generateAndSave, irr::scene::ISceneNode* parent,
                                           irr::scene::ISceneManager* manager, irr::s32,
                                           const irr::core::vector3d<irr::s32>& index,
                                           const irr::c8* directory, irr::video::IImage* heightPicture,
                                           irr::video::IImage* colours, irr::video::IImage* map,
                                           irr::scene::ISceneNode* terrainNode, irr::f32 offset,
                                           ITideGenerator* tideGenerator)
    : CGrassPatchSceneNode(parent, manager, index, directory, nullptr, heightPicture, colours, map,
                           terrainNode, offset, tideGenerator) {
    start(generateAndSave);
}

CGrassPatchSceneNode::~CGrassPatchSceneNode() {
    dropIfSet(heightImage);
    dropIfSet(colourImage);
    dropIfSet(grassMap);
    dropIfSet(tide);
}

void CGrassPatchSceneNode::start(bool generateAndSave) {
    setPosition(vector3df(static_cast<irr::f32>(patchIndex.X) * kGrassPatchSize, 0.0f,
                          static_cast<irr::f32>(patchIndex.Z) * kGrassPatchSize));
    // Growth and the sway grid place blades in the world before the first
    // drawAll would update the node.
    updateAbsolutePosition();
    const irr::u32 side = static_cast<irr::u32>(swayResolution + 1);
    swayGrid.reallocate(side * side);
    for (irr::u32 i = 0; i < side * side; ++i) {
        swayGrid.push_back(irr::core::vector2df(0.0f, 0.0f));
    }
    buildAtlasCoords(4, 2);
    if (!load()) {
        generate(generateAndSave);
    }
}

bool CGrassPatchSceneNode::load() {
    // Only a regular file: a FIFO in its place would stop the game for ever.
    std::FILE* file = fopenRegularFile(fileName);
    if (file == nullptr) {
        return false;
    }
    irr::core::array<GrassElement> read;
    const bool ok = readGrassFile(file, atlas.columns, atlas.rows, read);
    std::fclose(file);
    if (!ok) {
        return false;
    }
    blades.swap(read);
    box = grassBladeBox(blades);
    drawnCount = 0;
    return true;
}

bool CGrassPatchSceneNode::save() {
    std::FILE* file = std::fopen(fileName, "wb");
    bool ok = file != nullptr && writeGrassFile(file, blades);
    if (file != nullptr && std::fclose(file) != 0) {
        ok = false;
    }
    if (!ok) {
        std::printf("Couldnt save grass: %s\n", fileName);
    }
    return ok;
}

bool CGrassPatchSceneNode::generate(bool saveFile) {
    blades.clear();
    box.reset(0.0f, 0.0f, 0.0f);
    drawnCount = 0;
    if (terrain != nullptr && heightImage != nullptr) {
        ImageGround ground(heightImage, colourImage, terrain->getPosition(), terrain->getScale());
        growGrassBlades(getAbsolutePosition(), ground, heightOffset, blades, box);
    } else if (terrain != nullptr && heightMap != nullptr) {
        HeightSourceGround ground(heightMap, terrain->getScale());
        growGrassBlades(getAbsolutePosition(), ground, heightOffset, blades, box);
    }
    return saveFile ? save() : true;
}

void CGrassPatchSceneNode::buildAtlasCoords(irr::s32 columns, irr::s32 rows) {
    atlas = buildGrassAtlas(columns, rows);
}

void CGrassPatchSceneNode::createMesh() {
    const irr::u32 count = irr::core::min_(blades.size(), kMostMeshBlades);
    if (vertices.size() >= 4 * count && indices.size() >= 12 * count) {
        return;
    }
    if (vertices.size() < 4 * count) {
        vertices.reallocate(4 * count);
        const irr::video::S3DVertex blank(vector3df(0.0f, 0.0f, 0.0f), vector3df(0.0f, 1.0f, 0.0f),
                                          irr::video::SColor(255, 255, 255, 255),
                                          irr::core::vector2df(0.0f, 0.0f));
        while (vertices.size() < 4 * count) {
            vertices.push_back(blank);
        }
    }
    if (indices.size() < 12 * count) {
        const irr::u32 first = indices.size() / 12;
        indices.reallocate(12 * count);
        indices.set_used(12 * count);
        buildGrassBladeIndices(first, count - first, indices.pointer() + 12 * first);
    }
}

bool CGrassPatchSceneNode::mainCameraActive() const {
    const irr::scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    return camera != nullptr && camera->getID() == kGrassMainCameraId;
}

irr::f32 CGrassPatchSceneNode::distanceTo(const irr::scene::ICameraSceneNode& camera) const {
    return camera.getAbsolutePosition().getDistanceFrom(box.getCenter() + getAbsolutePosition());
}

void CGrassPatchSceneNode::OnRegisterSceneNode() {
    if (!IsVisible || blades.empty()) {
        return;
    }
    const irr::scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    if (camera == nullptr || !grassPatchRegistered(camera->getID(), distanceTo(*camera), drawDistance)) {
        return;
    }
    SceneManager->registerNodeForRendering(this, irr::scene::ESNRP_AUTOMATIC);
    irr::scene::ISceneNode::OnRegisterSceneNode();
}

void CGrassPatchSceneNode::OnAnimate(irr::u32 timeMs) {
    if (!mainCameraActive()) {
        return;
    }
    if (grassRebuildDue(timeMs, updateInterval, lastUpdate)) {
        lastUpdate = timeMs;
        rebuildFlag = true;
        if (tide != nullptr && grassTideSampled(distanceTo(*SceneManager->getActiveCamera()), drawDistance)) {
            sampleGrassSwayGrid(*tide, getAbsolutePosition(), swayResolution, timeMs, swayGrid);
        }
    } else {
        rebuildFlag = false;
    }
    irr::scene::ISceneNode::OnAnimate(timeMs);
}

void CGrassPatchSceneNode::rebuild(const irr::scene::ICameraSceneNode& camera) {
    createMesh();
    const vector3df eye = camera.getAbsolutePosition();
    const vector3df node = getAbsolutePosition();
    const irr::u32 limit = irr::core::min_(
        grassBladeLimit(blades.size(), bladeBudget, node.getDistanceFrom(eye)), vertices.size() / 4);
    const irr::core::aabbox3df& view = camera.getViewFrustum()->getBoundingBox();
    irr::u32 written = 0;
    for (irr::u32 i = 0; i < limit; ++i) {
        const GrassElement& blade = blades[i];
        const vector3df world = blade.position + node;
        if (!view.isPointInside(world) ||
            !grassBladeKept(i, limit, world.getDistanceFrom(eye), drawDistance, blade.atlasRow)) {
            continue;
        }
        const irr::core::vector2df sway =
            grassSwayAt(swayGrid, swayResolution, blade.position.X, blade.position.Z);
        buildGrassBladeVertices(blade, sway, atlas, vertices.pointer() + 4 * written);
        ++written;
    }
    drawnCount = static_cast<irr::s32>(written);
}

void CGrassPatchSceneNode::drawCached(irr::video::IVideoDriver& driver) {
    if (drawnCount <= 0) {
        return;
    }
    const irr::u32 quads = static_cast<irr::u32>(drawnCount);
    driver.setTransform(irr::video::ETS_WORLD, AbsoluteTransformation);
    driver.setMaterial(material);
    // Two triangles a side, both sides: four a blade.
    driver.drawVertexPrimitiveList(vertices.const_pointer(), 4 * quads, indices.const_pointer(), 4 * quads,
                                   irr::video::EVT_STANDARD, irr::scene::EPT_TRIANGLES,
                                   irr::video::EIT_32BIT);
}

void CGrassPatchSceneNode::render() {
    irr::video::IVideoDriver* driver = SceneManager->getVideoDriver();
    const irr::scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    if (driver == nullptr || camera == nullptr) {
        return;
    }
    if (rebuildFlag) {
        rebuild(*camera);
    }
    drawCached(*driver);
    if (DebugDataVisible != 0) {
        driver->setTransform(irr::video::ETS_WORLD, AbsoluteTransformation);
        irr::video::SMaterial plain;
        plain.Lighting = false;
        driver->setMaterial(plain);
        const irr::video::SColor white(0, 255, 255, 255);
        driver->draw3DBox(box, white);
        driver->draw3DBox(irr::core::aabbox3df(vector3df(0.0f, 0.0f, 0.0f), box.MaxEdge * 0.01f), white);
    }
}

irr::video::SMaterial& CGrassPatchSceneNode::getMaterial(irr::u32) {
    return material;
}

}  // namespace scene
}  // namespace tarnwell
