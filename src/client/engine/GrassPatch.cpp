#include "client/engine/GrassPatch.h"

#include "client/engine/RandomSource.h"

#include <cmath>

namespace tarnwell {
namespace scene {

namespace {

// Grid coordinate g of a cell grid with `cells` cells along a side: the cell
// index and the fraction within it, or false when g lies outside (NaN, from
// a zero or broken terrain scale, included).
bool cellOf(irr::f32 g, irr::s32 cells, irr::s32& index, irr::f32& fraction) {
    if (!(g >= 0.0f && g < static_cast<irr::f32>(cells))) {
        return false;
    }
    index = static_cast<irr::s32>(g);
    fraction = g - static_cast<irr::f32>(index);
    return true;
}

irr::f32 clampGrid(irr::f32 g, irr::s32 n) {
    if (!(g > 0.0f)) {
        return 0.0f;
    }
    return irr::core::min_(g, static_cast<irr::f32>(n));
}

}  // namespace

irr::u32 GrassAtlas::cellOf(irr::s32 column, irr::s32 row) const {
    const irr::s32 x = irr::core::clamp(column, 0, irr::core::max_(columns, 1) - 1);
    const irr::s32 y = irr::core::clamp(row, 0, irr::core::max_(rows, 1) - 1);
    return static_cast<irr::u32>(columns * y + x);
}

GrassAtlas buildGrassAtlas(irr::s32 columns, irr::s32 rows) {
    GrassAtlas atlas;
    atlas.columns = irr::core::max_(columns, 1);
    atlas.rows = irr::core::max_(rows, 1);
    atlas.cellWidth = 1.0f / static_cast<irr::f32>(atlas.columns);
    atlas.cellHeight = 1.0f / static_cast<irr::f32>(atlas.rows);
    const irr::u32 cells = static_cast<irr::u32>(atlas.columns * atlas.rows);
    atlas.leftU.reallocate(cells);
    atlas.lowerV.reallocate(cells);
    atlas.upperV.reallocate(cells);
    atlas.rightU.reallocate(cells);
    for (irr::s32 y = 0; y < atlas.rows; ++y) {
        for (irr::s32 x = 0; x < atlas.columns; ++x) {
            atlas.leftU.push_back(static_cast<irr::f32>(x) / static_cast<irr::f32>(atlas.columns));
            atlas.rightU.push_back(static_cast<irr::f32>(x + 1) / static_cast<irr::f32>(atlas.columns));
            atlas.upperV.push_back(static_cast<irr::f32>(y) / static_cast<irr::f32>(atlas.rows));
            atlas.lowerV.push_back(static_cast<irr::f32>(y + 1) / static_cast<irr::f32>(atlas.rows));
        }
    }
    return atlas;
}

GrassGround::~GrassGround() = default;

HeightSourceGround::HeightSourceGround(IHeightSource* heightSource, const irr::core::vector3df& terrainScale)
    : source(heightSource), scale(terrainScale) {}

bool HeightSourceGround::sample(const irr::core::vector3df& world, irr::f32& height, irr::video::SColor& top,
                                irr::video::SColor& bottom) {
    if (source == nullptr) {
        return false;
    }
    // The height source reads the samples on both sides of the cell, so the
    // last cell starts at sample size - 2.
    const irr::s32 cells = source->getSize() - 1;
    irr::s32 ix, iz;
    irr::f32 fx, fz;
    if (!cellOf(world.X / scale.X, cells, ix, fx) || !cellOf(world.Z / scale.Z, cells, iz, fz)) {
        return false;
    }
    height = source->getHeight(world);
    top = kGrassTopColor;
    bottom = kGrassBottomColor;
    return true;
}

ImageGround::ImageGround(irr::video::IImage* heightImage, irr::video::IImage* colourImage,
                         const irr::core::vector3df& terrainPosition,
                         const irr::core::vector3df& terrainScale)
    : heights(heightImage), colours(colourImage), position(terrainPosition), scale(terrainScale) {}

bool ImageGround::sample(const irr::core::vector3df& world, irr::f32& height, irr::video::SColor& top,
                         irr::video::SColor& bottom) {
    if (heights == nullptr) {
        return false;
    }
    const irr::core::dimension2d<irr::u32> size = heights->getDimension();
    irr::s32 ix, iz;
    irr::f32 fx, fz;
    if (!cellOf((world.X - position.X) / scale.X, static_cast<irr::s32>(size.Width) - 1, ix, fx) ||
        !cellOf((world.Z - position.Z) / scale.Z, static_cast<irr::s32>(size.Height) - 1, iz, fz)) {
        return false;
    }
    const irr::u32 mirror = size.Width - 1;
    auto at = [&](irr::s32 x, irr::s32 z) {
        return heights->getPixel(mirror - static_cast<irr::u32>(x), static_cast<irr::u32>(z)).getLightness();
    };
    const irr::f32 a = at(ix, iz);
    const irr::f32 b = at(ix + 1, iz);
    const irr::f32 c = at(ix, iz + 1);
    const irr::f32 d = at(ix + 1, iz + 1);
    // The terrain's two triangles of the cell, (a, b, d) and (a, c, d).
    const irr::f32 h = fx > fz ? a + (b - a) * fx + (d - b) * fz : a + (c - a) * fz + (d - c) * fx;
    height = h * scale.Y + position.Y;
    if (colours != nullptr) {
        top = bottom = colours->getPixel(static_cast<irr::u32>(ix), static_cast<irr::u32>(iz));
    } else {
        top = kGrassTopColor;
        bottom = kGrassBottomColor;
    }
    return true;
}

void growGrassBlades(const irr::core::vector3df& patchPosition, GrassGround& ground, irr::f32 heightOffset,
                     irr::core::array<GrassElement>& blades, irr::core::aabbox3df& box) {
    irr::u32 count = random() % kGrassBladeSpread + kGrassLeastBlades;
    blades.clear();
    blades.reallocate(count);
    box.reset(0.0f, 0.0f, 0.0f);
    irr::f64 cx = 0.0;
    irr::f64 cz = 0.0;
    // A blade that falls outside the ground is dropped and its place drawn
    // again, so the patch ends with count less the drops.
    for (irr::u32 i = 0; i < count;) {
        if (i % kGrassTuftBlades == 0) {
            cx = (random() % 10240) / 10.0 - 512.0;
            cz = (random() % 10240) / 10.0 - 512.0;
        }
        GrassElement blade;
        blade.position.X = static_cast<irr::f32>(cx + (random() % 100) / 1000.0);
        blade.position.Z = static_cast<irr::f32>(cz + (random() % 100) / 1000.0);
        blade.position.Y = 0.0f;
        blade.phase = static_cast<irr::f32>((random() % 100) / 100.0);
        blade.atlasColumn = 1;
        blade.atlasRow = 0;
        irr::f32 groundHeight = 0.0f;
        if (!ground.sample(patchPosition + blade.position, groundHeight, blade.topColor, blade.bottomColor)) {
            --count;
            continue;
        }
        groundHeight += heightOffset;
        const irr::f32 height = static_cast<irr::f32>(random() % 3 + 4);
        const irr::f32 width = static_cast<irr::f32>(random() % 2 + 2);
        blade.position.Y = groundHeight + height * 0.5f;
        box.addInternalPoint(blade.position);
        const irr::f64 angle = (random() % 3600) / 10.0;
        irr::core::vector3df r(width * 0.5f, -height * 0.5f, 0.0f);
        r.rotateXZBy(angle);
        const irr::core::vector3df flipped(r.X, -r.Y, r.Z);
        blade.corners[0] = blade.position + r;
        blade.corners[1] = blade.position + flipped;
        blade.corners[2] = blade.position - r;
        blade.corners[3] = blade.position - flipped;
        blades.push_back(blade);
        ++i;
    }
}

irr::core::aabbox3df grassBladeBox(const irr::core::array<GrassElement>& blades) {
    irr::core::aabbox3df box(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    for (irr::u32 i = 0; i < blades.size(); ++i) {
        box.addInternalPoint(blades[i].position);
    }
    return box;
}

irr::core::vector3df grassSwayPoint(const irr::core::vector3df& patchPosition, irr::s32 n, irr::s32 i,
                                    irr::s32 j) {
    const irr::f32 step = kGrassPatchSize / static_cast<irr::f32>(n);
    const irr::f32 half = kGrassPatchSize * 0.5f;
    return irr::core::vector3df(patchPosition.X + static_cast<irr::f32>(i) * step - half, 0.0f,
                                patchPosition.Z + static_cast<irr::f32>(j) * step - half);
}

void sampleGrassSwayGrid(ITideGenerator& tide, const irr::core::vector3df& patchPosition, irr::s32 n,
                         irr::u32 timeMs, irr::core::array<irr::core::vector2df>& grid) {
    const irr::u32 side = static_cast<irr::u32>(n + 1);
    grid.set_used(0);
    grid.reallocate(side * side);
    for (irr::s32 j = 0; j <= n; ++j) {
        for (irr::s32 i = 0; i <= n; ++i) {
            grid.push_back(tide.getOffset(grassSwayPoint(patchPosition, n, i, j), timeMs));
        }
    }
}

irr::core::vector2df grassSwayAt(const irr::core::array<irr::core::vector2df>& grid, irr::s32 n,
                                 irr::f32 localX, irr::f32 localZ) {
    const irr::u32 side = static_cast<irr::u32>(n + 1);
    if (n < 1 || grid.size() != side * side) {
        return irr::core::vector2df(0.0f, 0.0f);
    }
    const irr::f32 cell = kGrassPatchSize / static_cast<irr::f32>(n);
    const irr::f32 middle = static_cast<irr::f32>(n) * 0.5f;
    const irr::f32 gx = clampGrid(localX / cell + middle, n);
    const irr::f32 gz = clampGrid(localZ / cell + middle, n);
    const irr::s32 ix = irr::core::min_(static_cast<irr::s32>(gx), n - 1);
    const irr::s32 iz = irr::core::min_(static_cast<irr::s32>(gz), n - 1);
    const irr::f32 fx = gx - static_cast<irr::f32>(ix);
    const irr::f32 fz = gz - static_cast<irr::f32>(iz);
    const irr::u32 at = static_cast<irr::u32>(iz) * side + static_cast<irr::u32>(ix);
    return grid[at] * ((1.0f - fx) * (1.0f - fz)) + grid[at + 1] * (fx * (1.0f - fz)) +
           grid[at + side] * ((1.0f - fx) * fz) + grid[at + side + 1] * (fx * fz);
}

bool grassPatchRegistered(irr::s32 cameraId, irr::f32 cameraDistance, irr::f32 drawDistance) {
    return cameraId == kGrassMainCameraId && cameraDistance < drawDistance * 1.5f;
}

bool grassTideSampled(irr::f32 cameraDistance, irr::f32 drawDistance) {
    return cameraDistance + 1.0f < drawDistance * 1.5f;
}

bool grassRebuildDue(irr::u32 timeMs, irr::u32 interval, irr::u32 lastUpdate) {
    return timeMs - interval > lastUpdate;
}

irr::u32 grassBladeLimit(irr::u32 count, irr::u32 budget, irr::f32 nodeDistance) {
    const irr::u32 limit = irr::core::min_(count, budget);
    const irr::f32 d = nodeDistance / kGrassFullDetailDistance;
    if (d > 1.0f) {
        return static_cast<irr::u32>(std::floor(static_cast<irr::f32>(limit) / d + 0.5f));
    }
    return limit;
}

bool grassBladeKept(irr::u32 i, irr::u32 limit, irr::f32 distance, irr::f32 drawDistance, irr::s32 atlasRow) {
    if (!(distance <= drawDistance)) {
        return false;
    }
    if (atlasRow == 0 && distance > drawDistance * 0.5f) {
        const irr::f32 share = static_cast<irr::f32>(i) / static_cast<irr::f32>(limit);
        return !(share < distance / drawDistance * 0.5f);
    }
    return true;
}

void buildGrassBladeVertices(const GrassElement& blade, const irr::core::vector2df& sway,
                             const GrassAtlas& atlas, irr::video::S3DVertex* out) {
    const irr::u32 cell = atlas.cellOf(blade.atlasColumn, blade.atlasRow);
    const irr::core::vector3df tip(sway.X * blade.phase, 0.0f, sway.Y * blade.phase);
    const irr::video::SColor top = blade.topColor;
    const irr::video::SColor low(top.getAlpha(),
                                 static_cast<irr::u32>(static_cast<irr::f32>(top.getRed()) * 0.8f),
                                 static_cast<irr::u32>(static_cast<irr::f32>(top.getGreen()) * 0.8f),
                                 static_cast<irr::u32>(static_cast<irr::f32>(top.getBlue()) * 0.8f));
    const irr::core::vector3df up(0.0f, 1.0f, 0.0f);
    out[0] = irr::video::S3DVertex(blade.corners[0], up, low,
                                   irr::core::vector2df(atlas.leftU[cell], atlas.lowerV[cell]));
    out[1] = irr::video::S3DVertex(blade.corners[1] + tip, up, top,
                                   irr::core::vector2df(atlas.leftU[cell], atlas.upperV[cell]));
    out[2] = irr::video::S3DVertex(blade.corners[2] + tip, up, top,
                                   irr::core::vector2df(atlas.rightU[cell], atlas.upperV[cell]));
    out[3] = irr::video::S3DVertex(blade.corners[3], up, low,
                                   irr::core::vector2df(atlas.rightU[cell], atlas.lowerV[cell]));
}

void buildGrassBladeIndices(irr::u32 first, irr::u32 count, irr::u32* out) {
    for (irr::u32 k = first; k < first + count; ++k) {
        const irr::u32 b = 4 * k;
        const irr::u32 quad[12] = {b, b + 2, b + 1, b, b + 3, b + 2, b + 1, b + 2, b, b + 2, b + 3, b};
        for (irr::u32 q = 0; q < 12; ++q) {
            *out++ = quad[q];
        }
    }
}

}  // namespace scene
}  // namespace tarnwell
