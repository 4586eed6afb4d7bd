// The grass arithmetic without a device: atlas, growth, sway, the culling
// and thinning decisions, and the quads.
#include "GrassTestSupport.h"

#include <algorithm>
#include <set>

namespace gs = tarnwell::scene;
using grasstest::vector3df;
using irr::core::vector2df;

namespace {

// Counts the places tried, whatever the ground says.
class CountingGround : public gs::GrassGround {
public:
    explicit CountingGround(gs::GrassGround& inner) : inner(inner) {}
    bool sample(const vector3df& world, irr::f32& height, irr::video::SColor& top,
                irr::video::SColor& bottom) override {
        ++tried;
        return inner.sample(world, height, top, bottom);
    }
    gs::GrassGround& inner;
    irr::u32 tried = 0;
};

}  // namespace

TEST(GrassAtlas, CellsOfFourByTwoTileTheTexture) {
    const gs::GrassAtlas atlas = gs::buildGrassAtlas(4, 2);
    struct Cell {
        irr::s32 column, row;
        irr::f32 left, right, upper, lower;
    };
    // Out-of-atlas cells take the nearest cell.
    for (const Cell& c : {Cell{0, 0, 0.0f, 0.25f, 0.0f, 0.5f}, Cell{1, 0, 0.25f, 0.5f, 0.0f, 0.5f},
                          Cell{3, 1, 0.75f, 1.0f, 0.5f, 1.0f}, Cell{9, -4, 0.75f, 1.0f, 0.0f, 0.5f},
                          Cell{-1, 5, 0.0f, 0.25f, 0.5f, 1.0f}}) {
        const irr::u32 cell = atlas.cellOf(c.column, c.row);
        EXPECT_EQ(atlas.leftU[cell], c.left) << c.column << "," << c.row;
        EXPECT_EQ(atlas.rightU[cell], c.right) << c.column << "," << c.row;
        EXPECT_EQ(atlas.upperV[cell], c.upper) << c.column << "," << c.row;
        EXPECT_EQ(atlas.lowerV[cell], c.lower) << c.column << "," << c.row;
    }
    EXPECT_EQ(atlas.leftU.size(), 8u);
}

TEST(GrassGrowth, BladesStandOnTheGroundInTuftsOfEightWithinThePatch) {
    grasstest::PlaneHeights heights(257);
    const vector3df patch(3 * 1024.0f, 0.0f, 4 * 1024.0f);
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        grasstest::SeededRandom random(seed);
        grasstest::SeededRandom firstDraw(seed);
        const gs::ScopedRandomSource scoped(random);
        gs::HeightSourceGround plane(&heights, vector3df(20.0f, 0.25f, 20.0f));
        CountingGround ground(plane);
        irr::core::array<gs::GrassElement> blades;
        irr::core::aabbox3df box;
        gs::growGrassBlades(patch, ground, 2.5f, blades, box);

        // Nothing falls off this ground: the first draw alone sets the count.
        ASSERT_EQ(blades.size(), firstDraw.next() % 10000 + 40000);
        EXPECT_EQ(ground.tried, blades.size());
        EXPECT_TRUE(box.isPointInside(vector3df(0.0f, 0.0f, 0.0f)));
        const irr::core::aabbox3df expected = gs::grassBladeBox(blades);
        EXPECT_EQ(box.MinEdge, expected.MinEdge);
        EXPECT_EQ(box.MaxEdge, expected.MaxEdge);
        for (irr::u32 i = 0; i < blades.size(); ++i) {
            const gs::GrassElement& b = blades[i];
            const vector3df& p = b.position;
            const irr::f32 ground = grasstest::PlaneHeights::at(patch.X + p.X, patch.Z + p.Z) + 2.5f;
            const irr::f32 height = b.corners[1].Y - b.corners[0].Y;
            const irr::f32 width =
                vector2df(b.corners[0].X - b.corners[3].X, b.corners[0].Z - b.corners[3].Z).getLength();
            const gs::GrassElement& tuft = blades[i - i % 8];
            const bool sane =
                p.X >= -512.0f && p.X <= 512.0f && p.Z >= -512.0f && p.Z <= 512.0f &&
                std::abs(p.X - tuft.position.X) < 0.1f && std::abs(p.Z - tuft.position.Z) < 0.1f &&
                std::abs(b.corners[0].Y - ground) < 1e-3f && std::abs(b.corners[3].Y - ground) < 1e-3f &&
                std::abs(b.corners[2].Y - b.corners[1].Y) < 1e-3f &&
                std::abs(p.Y - (ground + height * 0.5f)) < 1e-3f &&
                (std::abs(height - 4.0f) < 1e-3f || std::abs(height - 5.0f) < 1e-3f ||
                 std::abs(height - 6.0f) < 1e-3f) &&
                (std::abs(width - 2.0f) < 1e-3f || std::abs(width - 3.0f) < 1e-3f) &&
                (b.corners[0] + b.corners[2] - p * 2.0f).getLength() < 1e-3f &&
                (b.corners[1] + b.corners[3] - p * 2.0f).getLength() < 1e-3f && b.phase >= 0.0f &&
                b.phase <= 0.99f && b.atlasColumn == 1 && b.atlasRow == 0 &&
                b.topColor == gs::kGrassTopColor && b.bottomColor == gs::kGrassBottomColor;
            ASSERT_TRUE(sane) << "blade " << i << " at " << p.X << " " << p.Y << " " << p.Z << " height "
                              << height << " width " << width;
        }
    }
}

TEST(GrassGrowth, DropsBladesOffTheHeightDataAndNeverReadsPastIt) {
    // 40 samples 20 apart: ground from 0 to 780 on X and Z. The height
    // source fails the test when asked beyond its last whole cell.
    grasstest::PlaneHeights heights(40);
    for (irr::s32 patch : {0, 1}) {
        grasstest::SeededRandom random(40u + static_cast<unsigned>(patch));
        grasstest::SeededRandom firstDraw(40u + static_cast<unsigned>(patch));
        const gs::ScopedRandomSource scoped(random);
        gs::HeightSourceGround edge(&heights, vector3df(20.0f, 0.25f, 20.0f));
        CountingGround ground(edge);
        irr::core::array<gs::GrassElement> blades;
        irr::core::aabbox3df box;
        const vector3df at(patch * 1024.0f, 0.0f, patch * 1024.0f);
        gs::growGrassBlades(at, ground, 0.0f, blades, box);

        EXPECT_EQ(ground.tried, firstDraw.next() % 10000 + 40000) << patch;
        for (irr::u32 i = 0; i < blades.size(); ++i) {
            const vector3df world = at + blades[i].position;
            ASSERT_TRUE(world.X >= 0.0f && world.X < 780.0f && world.Z >= 0.0f && world.Z < 780.0f) << i;
        }
        // A dropped blade's place is drawn again: with a share p of the patch
        // on the ground, a tuft of 8 costs on average (1 - p) / p failed
        // draws of its first blade.
        const double p = patch == 0 ? 0.25 : (268.0 / 1024.0) * (268.0 / 1024.0);
        EXPECT_NEAR(static_cast<double>(blades.size()) / ground.tried, 8.0 / (8.0 + (1.0 - p) / p), 0.03)
            << patch;
    }
    // No height data: nothing grows.
    irr::core::array<gs::GrassElement> blades;
    irr::core::aabbox3df box;
    gs::HeightSourceGround none(nullptr, vector3df(20.0f, 0.25f, 20.0f));
    gs::growGrassBlades(vector3df(0, 0, 0), none, 0.0f, blades, box);
    EXPECT_EQ(blades.size(), 0u);
}

TEST(GrassSway, GridOfSixBySixPointsBlendsToTheTideAnywhereOnThePatch) {
    grasstest::LinearTide tide;
    const vector3df patch(2048.0f, 0.0f, 3072.0f);
    irr::core::array<vector2df> grid;
    gs::sampleGrassSwayGrid(tide, patch, 5, 1234u, grid);

    ASSERT_EQ(grid.size(), 36u);
    std::set<irr::f32> xs, zs;
    for (size_t k = 0; k < tide.points.size(); ++k) {
        xs.insert(tide.points[k].X - patch.X);
        zs.insert(tide.points[k].Z - patch.Z);
        EXPECT_EQ(tide.points[k].Y, 0.0f);
        EXPECT_EQ(tide.times[k], 1234u);
    }
    for (const std::set<irr::f32>* axis : {&xs, &zs}) {
        ASSERT_EQ(axis->size(), 6u);
        irr::f32 expected = -512.0f;
        for (irr::f32 value : *axis) {
            EXPECT_NEAR(value, expected, 1e-3f);
            expected += 204.8f;
        }
    }
    // A linear tide is blended back exactly; beyond the patch, the edge.
    std::mt19937 random(5);
    std::uniform_real_distribution<irr::f32> local(-700.0f, 700.0f);
    for (int k = 0; k < 2000; ++k) {
        const irr::f32 x = local(random);
        const irr::f32 z = local(random);
        const vector2df expected =
            grasstest::LinearTide::at(patch + vector3df(irr::core::clamp(x, -512.0f, 512.0f), 0.0f,
                                                        irr::core::clamp(z, -512.0f, 512.0f)));
        const vector2df blended = gs::grassSwayAt(grid, 5, x, z);
        ASSERT_NEAR(blended.X, expected.X, 1e-4f) << x << " " << z;
        ASSERT_NEAR(blended.Y, expected.Y, 1e-4f) << x << " " << z;
    }
    EXPECT_EQ(gs::grassSwayAt(grid, 4, 0.0f, 0.0f), vector2df(0.0f, 0.0f));  // a grid of another size
}

TEST(GrassDecisions, CullingRebuildsBudgetAndThinningFollowTheWorkedExamples) {
    struct Registered {
        irr::s32 camera;
        irr::f32 distance, drawDistance;
        bool registered, tide;
    };
    for (const Registered& r :
         {Registered{-1, 0.0f, 1536.0f, true, true}, Registered{-1, 2302.5f, 1536.0f, true, true},
          Registered{-1, 2303.5f, 1536.0f, true, false}, Registered{-1, 2304.0f, 1536.0f, false, false},
          Registered{3, 10.0f, 1536.0f, false, true}, Registered{-1, 100.0f, 50.0f, false, false}}) {
        EXPECT_EQ(gs::grassPatchRegistered(r.camera, r.distance, r.drawDistance), r.registered) << r.distance;
        EXPECT_EQ(gs::grassTideSampled(r.distance, r.drawDistance), r.tide) << r.distance;
    }
    struct Due {
        irr::u32 time, interval, last;
        bool due;
    };
    for (const Due& d : {Due{0, 50, 0, true}, Due{30, 50, 10, true}, Due{1050, 50, 1000, false},
                         Due{1051, 50, 1000, true}, Due{999, 50, 1000, false}}) {
        EXPECT_EQ(gs::grassRebuildDue(d.time, d.interval, d.last), d.due) << d.time << " " << d.last;
    }
    struct Limit {
        irr::u32 count, budget;
        irr::f32 distance;
        irr::u32 limit;
    };
    for (const Limit& l : {Limit{45000, 100000, 1000.0f, 45000}, Limit{45000, 100000, 3072.0f, 22500},
                           Limit{45000, 30000, 100.0f, 30000}, Limit{45000, 100000, 4608.0f, 15000},
                           Limit{7, 100000, 3072.0f, 4}, Limit{0, 100000, 9000.0f, 0}}) {
        EXPECT_EQ(gs::grassBladeLimit(l.count, l.budget, l.distance), l.limit)
            << l.count << " " << l.distance;
    }
    struct Kept {
        irr::u32 i, limit;
        irr::f32 distance;
        irr::s32 row;
        bool kept;
    };
    // Draw distance 1536: thinning starts beyond 768, a row-0 blade of the
    // first (distance / 1536) / 2 of the list is left out.
    for (const Kept& k :
         {Kept{0, 100, 700.0f, 0, true}, Kept{10, 100, 921.6f, 0, false}, Kept{40, 100, 921.6f, 0, true},
          Kept{10, 100, 921.6f, 1, true}, Kept{99, 100, 1537.0f, 1, false}, Kept{49, 100, 1536.0f, 0, false},
          Kept{50, 100, 1536.0f, 0, true}}) {
        EXPECT_EQ(gs::grassBladeKept(k.i, k.limit, k.distance, 1536.0f, k.row), k.kept)
            << k.i << " " << k.distance << " " << k.row;
    }
}

TEST(GrassQuads, TipsSwayAndEveryQuadShowsBothSidesPastSixteenBitIndices) {
    gs::GrassElement blade{};
    blade.topColor = irr::video::SColor(200, 101, 57, 9);
    blade.position.set(10.0f, 5.0f, -20.0f);
    const vector3df corners[4] = {{9, 3, -20}, {9, 7, -20}, {11, 7, -20}, {11, 3, -20}};
    std::copy(corners, corners + 4, blade.corners);
    blade.atlasColumn = 2;
    blade.atlasRow = 1;
    blade.phase = 0.5f;
    irr::video::S3DVertex v[4];
    gs::buildGrassBladeVertices(blade, vector2df(3.0f, -2.0f), gs::buildGrassAtlas(4, 2), v);

    const vector3df tip(1.5f, 0.0f, -1.0f);
    const vector3df positions[4] = {corners[0], corners[1] + tip, corners[2] + tip, corners[3]};
    const vector2df uv[4] = {{0.5f, 1.0f}, {0.5f, 0.5f}, {0.75f, 0.5f}, {0.75f, 1.0f}};
    const irr::video::SColor lower(200, 80, 45, 7);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(v[k].Pos, positions[k]) << k;
        EXPECT_EQ(v[k].TCoords, uv[k]) << k;
        EXPECT_EQ(v[k].Normal, vector3df(0.0f, 1.0f, 0.0f)) << k;
        EXPECT_EQ(v[k].Color, (k == 1 || k == 2) ? blade.topColor : lower) << k;
    }

    // The last blade of a full patch: its vertices lie beyond 65535.
    const irr::u32 k = 49999;
    irr::u32 indices[12];
    gs::buildGrassBladeIndices(k, 1, indices);
    std::set<std::vector<irr::u32>> triangles;
    std::set<irr::u32> used;
    for (int t = 0; t < 4; ++t) {
        std::vector<irr::u32> tri(indices + 3 * t, indices + 3 * t + 3);
        std::rotate(tri.begin(), std::min_element(tri.begin(), tri.end()), tri.end());
        triangles.insert(tri);
        used.insert(tri.begin(), tri.end());
    }
    ASSERT_EQ(triangles.size(), 4u);
    EXPECT_EQ(used, (std::set<irr::u32>{4 * k, 4 * k + 1, 4 * k + 2, 4 * k + 3}));
    for (const std::vector<irr::u32>& tri : triangles) {
        std::vector<irr::u32> reversed = {tri[0], tri[2], tri[1]};
        EXPECT_EQ(triangles.count(reversed), 1u);  // the other side
        // Quad 0-1-2-3: its two triangles share the diagonal 0-2.
        EXPECT_EQ(std::count(tri.begin(), tri.end(), 4 * k) + std::count(tri.begin(), tri.end(), 4 * k + 2),
                  2);
    }
}
