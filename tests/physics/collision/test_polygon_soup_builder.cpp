// Polygon soup builder: every build is checked against brute force over its
// input (faces convex and planar, 3 to 64 vertices, attributes and area per
// attribute kept, sample points of every input face still covered), over
// random soups, height maps, oversized faces, stalled splits, merge
// leftovers and bad calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "CountingHooks.h"
#include "TestSupport.h"
#include "dgArenaAllocator.h"
#include "dgAttributeSet.h"
#include "dgBuildBspPolygonSoup.h"
#include "dgPolygonSoupBuilder.h"

namespace {

using testsupport::cross;
using testsupport::D3;
using testsupport::dot;
using testsupport::length;

typedef std::vector<D3> Polygon;

struct Face {
    int32_t attribute;
    Polygon points;
};

D3 areaVector(const Polygon& p) {
    D3 n = {0, 0, 0};
    for (size_t i = 1; i + 1 < p.size(); ++i) {
        n = n + cross(p[i] - p[0], p[i + 1] - p[0]);
    }
    return n;
}

double area(const Polygon& p) {
    return 0.5 * length(areaVector(p));
}

// Faces read back through the public arrays; the layout is checked on the way.
std::vector<Face> readFaces(const dgPolygonSoupBuilder& builder) {
    std::vector<Face> faces;
    const int32_t* const counts = builder.getFaceData();
    const int32_t* const entries = builder.getIndexData();
    const float* const vertices = builder.getVertexData();
    int32_t read = 0;
    for (int32_t f = 0; f < builder.m_faceCount; ++f) {
        const int32_t n = counts[f] - 1;
        EXPECT_GE(n, 3);
        EXPECT_LE(n, dgPolygonSoupBuilder::kMaxFaceVertices);
        Face face = {entries[read], {}};
        for (int32_t i = 1; i <= n; ++i) {
            const int32_t v = entries[read + i];
            EXPECT_TRUE((v >= 0) && (v < builder.m_vertexCount));
            if ((v < 0) || (v >= builder.m_vertexCount)) {
                return faces;
            }
            face.points.push_back({vertices[3 * v], vertices[3 * v + 1], vertices[3 * v + 2]});
        }
        faces.push_back(face);
        read += counts[f];
    }
    EXPECT_EQ(read, builder.m_indexCount);
    return faces;
}

// Planar within tolerance and every corner turning the same way as the area
// vector, by more than a sliver.
void expectConvexPlanar(const Face& face) {
    const D3 a = areaVector(face.points);
    const double twiceArea = length(a);
    ASSERT_GT(twiceArea, 0.0);
    const D3 n = a * (1.0 / twiceArea);
    const size_t count = face.points.size();
    for (size_t i = 0; i < count; ++i) {
        const D3& p = face.points[(i + count - 1) % count];
        const D3& q = face.points[i];
        const D3& r = face.points[(i + 1) % count];
        EXPECT_NEAR(dot(q - face.points[0], n), 0.0, 1e-3);
        const D3 in = q - p;
        const D3 out = r - q;
        EXPECT_GT(dot(cross(in, out), n), 1e-7 * length(in) * length(out))
            << "corner " << i << " of " << count;
    }
}

std::map<int32_t, double> areaByAttribute(const std::vector<Face>& faces) {
    std::map<int32_t, double> areas;
    for (const Face& f : faces) {
        areas[f.attribute] += area(f.points);
    }
    return areas;
}

// p lies on a face of the attribute (in its plane and inside its outline).
bool covered(const std::vector<Face>& faces, int32_t attribute, const D3& p) {
    for (const Face& f : faces) {
        if (f.attribute != attribute) {
            continue;
        }
        const D3 a = areaVector(f.points);
        const D3 n = a * (1.0 / length(a));
        if (std::fabs(dot(p - f.points[0], n)) > 2e-3) {
            continue;
        }
        bool inside = true;
        const size_t count = f.points.size();
        for (size_t i = 0; (i < count) && inside; ++i) {
            const D3 edge = f.points[(i + 1) % count] - f.points[i];
            inside = dot(cross(edge, p - f.points[i]), n) >= -1e-4 * length(edge);
        }
        if (inside) {
            return true;
        }
    }
    return false;
}

// Adds the faces one call each, three floats per vertex, like the tree
// collision does.
void addEach(dgPolygonSoupBuilder& builder, const std::vector<Face>& faces) {
    for (const Face& face : faces) {
        std::vector<float> xyz;
        std::vector<int32_t> indices;
        for (const D3& p : face.points) {
            indices.push_back(int32_t(indices.size()));
            xyz.insert(xyz.end(), {float(p.x), float(p.y), float(p.z)});
        }
        const int32_t count = int32_t(indices.size());
        EXPECT_TRUE(builder.addMesh(xyz.data(), count, 12, 1, &count, indices.data(), &face.attribute,
                                    dgGetIdentityMatrix()));
    }
}

// Builds, then checks the output against the input: shape of every face,
// area per attribute, and random points of the sampling faces (the input
// unless given) still covered. Sampling is done on fan triangles about the
// first point, so a sampling face must be star-shaped about that point.
std::vector<Face> buildAndCheck(const std::vector<Face>& input, bool optimise, std::mt19937& rng,
                                int32_t samplesPerFace, const std::vector<Face>* sampling = nullptr) {
    dgPolygonSoupBuilder builder;
    builder.begin();
    addEach(builder, input);
    builder.end(optimise);
    const std::vector<Face> output = readFaces(builder);
    for (const Face& f : output) {
        expectConvexPlanar(f);
    }
    const std::map<int32_t, double> expected = areaByAttribute(input);
    const std::map<int32_t, double> actual = areaByAttribute(output);
    EXPECT_EQ(expected.size(), actual.size());
    for (const auto& entry : expected) {
        EXPECT_NEAR(actual.count(entry.first) ? actual.at(entry.first) : 0.0, entry.second,
                    1e-3 * entry.second)
            << "attribute " << entry.first;
    }
    std::uniform_real_distribution<double> unit(0.05, 0.95);
    for (const Face& f : sampling ? *sampling : input) {
        for (int32_t s = 0; s < samplesPerFace; ++s) {
            const size_t i = 1 + size_t(rng() % (f.points.size() - 2));
            double u = unit(rng);
            double v = unit(rng);
            if (u + v > 1.0) {
                u = 1.0 - u;
                v = 1.0 - v;
            }
            const D3 p = f.points[0] + (f.points[i] - f.points[0]) * u + (f.points[i + 1] - f.points[0]) * v;
            EXPECT_TRUE(covered(output, f.attribute, p))
                << "lost part of a face of attribute " << f.attribute;
        }
    }
    return output;
}

// --- inputs ---

struct Frame {
    D3 origin, u, v;
};

Frame randomFrame(std::mt19937& rng, const D3& origin) {
    const dgVector n = testsupport::randomUnit(rng);
    const D3 w = testsupport::toD3(n);
    const D3 helper = (std::fabs(w.x) < 0.7) ? D3{1, 0, 0} : D3{0, 1, 0};
    D3 u = cross(w, helper);
    u = u * (1.0 / length(u));
    return {origin, u, cross(w, u)};
}

// Polygon of n corners about the frame's origin: convex (corners jittered
// in angle when rng is given), or a star whose odd corners sit at half the
// radius (concave; sample it through samplingFan).
Polygon polygonIn(const Frame& frame, int32_t n, double radius, bool star, std::mt19937* rng = nullptr) {
    Polygon p;
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    for (int32_t i = 0; i < n; ++i) {
        const double t = (i + (rng ? jitter(*rng) : 0.0)) * 2.0 * testsupport::kPi / n;
        const double r = (star && (i % 2)) ? 0.5 * radius : radius;
        p.push_back(frame.origin + frame.u * (r * std::cos(t)) + frame.v * (r * std::sin(t)));
    }
    return p;
}

// A star is sampled about its centre: the centre goes first so that the
// fan-based sampling stays inside (the centre itself is no input vertex).
Polygon samplingFan(const Frame& frame, const Polygon& outline) {
    Polygon fan = {frame.origin};
    fan.insert(fan.end(), outline.begin(), outline.end());
    fan.push_back(outline.front());
    return fan;
}

// Height map of g x g cells of size 1, heights in steps of 0.5 (so that flat
// patches exist to merge), two triangles a cell, attribute by 4 x 4 block.
std::vector<Face> heightMap(int32_t g, std::mt19937& rng, int32_t attributes) {
    std::uniform_int_distribution<int32_t> step(0, 2);
    std::vector<double> h(size_t((g + 1) * (g + 1)));
    for (double& x : h) {
        x = (step(rng) == 0) ? 0.5 : 0.0;
    }
    auto at = [&](int32_t i, int32_t j) { return D3{double(i), h[size_t(i * (g + 1) + j)], double(j)}; };
    std::vector<Face> faces;
    for (int32_t i = 0; i < g; ++i) {
        for (int32_t j = 0; j < g; ++j) {
            const int32_t attribute = (i / 4 + j / 4) % attributes;
            faces.push_back({attribute, {at(i, j), at(i, j + 1), at(i + 1, j + 1)}});
            faces.push_back({attribute, {at(i, j), at(i + 1, j + 1), at(i + 1, j)}});
        }
    }
    return faces;
}

// --- random soups and height maps ---

class SoupBuild : public testing::TestWithParam<bool> {};

TEST_P(SoupBuild, RandomSoupsKeepEveryFaceConvexWithItsAttributeAndArea) {
    std::mt19937 rng(2026);
    std::uniform_int_distribution<int32_t> corners(3, 12);
    std::uniform_int_distribution<int32_t> attribute(-2, 3);
    for (int32_t trial = 0; trial < 60; ++trial) {
        std::vector<Face> input;
        std::vector<Face> sampling;
        for (int32_t k = 0; k < 12; ++k) {
            const Frame frame = randomFrame(rng, {50.0 * (k % 4), 50.0 * (k / 4), 10.0 * trial});
            const bool star = (k % 3) == 0;
            const int32_t n = star ? 2 * corners(rng) : corners(rng);
            const Polygon outline = polygonIn(frame, n, 1.0 + k % 5, star, star ? nullptr : &rng);
            const int32_t a = attribute(rng);
            input.push_back({a, outline});
            sampling.push_back({a, star ? samplingFan(frame, outline) : outline});
        }
        SCOPED_TRACE(trial);
        buildAndCheck(input, GetParam(), rng, 3, &sampling);
    }
}

TEST_P(SoupBuild, HeightMapsKeepTheirSurface) {
    std::mt19937 rng(7);
    for (int32_t g : {1, 5, 12}) {
        const std::vector<Face> input = heightMap(g, rng, 3);
        const std::vector<Face> output = buildAndCheck(input, GetParam(), rng, 2);
        EXPECT_LE(output.size(), input.size());
    }
}

// Above the split size the optimised build cuts the set in two and merges
// each half; the surface still comes out whole.
TEST_P(SoupBuild, HeightMapAboveTheSplitSize) {
    std::mt19937 rng(11);
    const std::vector<Face> input = heightMap(46, rng, 2);
    ASSERT_GT(int32_t(input.size()), dgPolygonSoupBuilder::kSplitFaceCount);
    const std::vector<Face> output = buildAndCheck(input, GetParam(), rng, 1);
    if (GetParam()) {
        EXPECT_LT(output.size(), input.size());
    }
}

// Every convex face admission takes, however many corners it has, ends up
// in the soup: segments through its interior (kept clear of the corners
// that cleaning may cut as collinear) hit from its front side.
TEST_P(SoupBuild, AdmittedConvexFacesOfAnyLengthAreHitByRays) {
    std::mt19937 rng(1025);
    std::uniform_int_distribution<int32_t> corners(3, dgPolygonSoupBuilder::kMaxAdmitIndices);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int32_t trial = 0; trial < 24; ++trial) {
        std::vector<Face> input;
        std::vector<Frame> frames;
        for (int32_t k = 0; k < 4; ++k) {
            frames.push_back(randomFrame(rng, {300.0 * k, 0.0, 300.0 * trial}));
            const int32_t n = (k == 0) ? dgPolygonSoupBuilder::kMaxAdmitIndices : corners(rng);
            input.push_back({k, polygonIn(frames.back(), n, 0.05 * n + 1.0, false, &rng)});
        }
        dgPolygonSoupBuilder builder;
        builder.begin();
        addEach(builder, input);
        ASSERT_EQ(builder.m_faceCount, int32_t(input.size()));
        builder.end(GetParam());
        dgRefHolder<dgDoublePlaneBSPPolygonSoup> soup =
            dgRefHolder<dgDoublePlaneBSPPolygonSoup>::adopt(new dgDoublePlaneBSPPolygonSoup());
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), builder));
        for (size_t k = 0; k < input.size(); ++k) {
            const Polygon& p = input[k].points;
            const D3 w = cross(frames[k].u, frames[k].v);
            for (int32_t r = 0; r < 40; ++r) {
                const size_t i = size_t(rng() % p.size());
                const double a = unit(rng);
                const double b = unit(rng) * (1.0 - a);
                const D3 q = frames[k].origin + ((p[i] - frames[k].origin) * a +
                                                 (p[(i + 1) % p.size()] - frames[k].origin) * b) *
                                                    0.98;
                const D3 p0 = q + w;
                const D3 p1 = q - w;
                ASSERT_TRUE(soup->rayHitAny(dgVector(float(p0.x), float(p0.y), float(p0.z), 1.0f),
                                            dgVector(float(p1.x), float(p1.y), float(p1.z), 1.0f)))
                    << "trial " << trial << ", face of " << p.size() << " corners";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndOptimised, SoupBuild, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Optimised" : "Plain";
                         });

// --- face sizes ---

struct SizeCase {
    const char* name;
    int32_t corners;
    bool star;
    bool admitted;
};

const SizeCase kSizeCases[] = {
    {"Convex65", 65, false, true},
    {"Convex300", 300, false, true},
    {"Convex3000", 3000, false, false},
    {"Star200", 200, true, true},
    // 300 spikes need more convex pieces than admission keeps.
    {"Star600", 600, true, false},
};

class FaceSize : public testing::TestWithParam<std::tuple<SizeCase, bool>> {};

TEST_P(FaceSize, LargeFacesLeaveInPiecesOfAtMost64OrAreRefused) {
    const SizeCase& c = std::get<0>(GetParam());
    const bool optimise = std::get<1>(GetParam());
    std::mt19937 rng(c.corners);
    const Frame frame = randomFrame(rng, {1, 2, 3});
    // Radius so that edges stay well above the weld and short-edge bounds.
    const Polygon outline = polygonIn(frame, c.corners, 0.05 * c.corners, c.star);
    dgPolygonSoupBuilder builder;
    builder.begin();
    addEach(builder, {{9, outline}});
    builder.end(optimise);
    const std::vector<Face> output = readFaces(builder);
    if (!c.admitted) {
        EXPECT_EQ(builder.m_faceCount, 0);
        return;
    }
    ASSERT_GT(output.size(), 0u);
    double total = 0.0;
    for (const Face& f : output) {
        expectConvexPlanar(f);
        EXPECT_EQ(f.attribute, 9);
        total += area(f.points);
    }
    EXPECT_NEAR(total, area(outline), 1e-4 * area(outline));
    EXPECT_TRUE(covered(output, 9, frame.origin + frame.u * (0.01 * c.corners)));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FaceSize, testing::Combine(testing::ValuesIn(kSizeCases), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<SizeCase, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Optimised" : "Plain");
                         });

// The index list taken at admission ends at 2048: a face whose repeats
// would shrink to a square is admitted below that and refused above it.
TEST(SoupBuilderAdmission, IndexListBeyondItsLengthIsRefused) {
    const float square[] = {0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 0};
    for (int32_t length : {1100, 2048, 2049}) {
        std::vector<int32_t> indices;
        for (int32_t i = 0; i < length; ++i) {
            indices.push_back(i % 4);
        }
        dgPolygonSoupBuilder builder;
        builder.begin();
        const int32_t attribute = 1;
        EXPECT_TRUE(
            builder.addMesh(square, 4, 12, 1, &length, indices.data(), &attribute, dgGetIdentityMatrix()));
        EXPECT_EQ(builder.m_faceCount, (length <= dgPolygonSoupBuilder::kMaxAdmitIndices) ? 1 : 0) << length;
    }
}

// The arena keeps every block inside its buffer and turns to the heap when
// full; heap blocks go back one by one.
TEST(SoupBuilderArena, BlocksStayInsideTheBufferThenComeFromTheHeap) {
    for (size_t size : {1u, 16u, 100u, 112u, 4000u, 40000u}) {
        dgArenaAllocator arena;
        std::vector<unsigned char*> blocks;
        // Until the heap has handed out a few blocks.
        for (int32_t i = 0; (i < 5000) && (arena.getHeapBlocks() < 3); ++i) {
            unsigned char* const p = static_cast<unsigned char*>(arena.alloc(size));
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
            if (arena.ownsBlock(p)) {
                EXPECT_TRUE(arena.ownsBlock(p + size - 1)) << size;
                for (unsigned char* q : blocks) {
                    EXPECT_TRUE(!arena.ownsBlock(q) || (q + size <= p) || (p + size <= q));
                }
            }
            std::memset(p, 0xAB, size);
            blocks.push_back(p);
        }
        EXPECT_GT(arena.getHeapBlocks(), 0);
        for (unsigned char* p : blocks) {
            arena.free(p);
        }
        EXPECT_EQ(arena.getHeapBlocks(), 0);
    }
}

// --- stalled split and merge leftovers ---

struct RepeatCase {
    const char* name;
    int32_t copies;      // faces laid on one another per attribute
    int32_t attributes;  // distinct attributes, each with its own copies
    bool straddle;       // long slivers all across one line instead of copies
};

const RepeatCase kRepeatCases[] = {
    // More copies than the merge's passes: the rest used to vanish.
    {"SeventyCopies", 70, 1, false},
    // Leftovers of the first attribute must survive the second's pass.
    {"TwoCopiesTwoAttributes", 2, 2, false},
    // Above the split size with every face on one side of every split.
    {"IdenticalAboveSplitSize", 4100, 1, false},
    {"StraddlingSliversAboveSplitSize", 4100, 1, true},
};

class SoupRepeats : public testing::TestWithParam<RepeatCase> {};

TEST_P(SoupRepeats, NoFaceIsLostAndTheBuildEnds) {
    const RepeatCase& c = GetParam();
    std::vector<Face> input;
    for (int32_t a = 0; a < c.attributes; ++a) {
        for (int32_t k = 0; k < c.copies; ++k) {
            const double z = c.straddle ? 0.002 * k : 0.0;
            input.push_back({a, {{-10.0, 0.0, z}, {10.0, 0.0, z + 0.5}, {10.0, 0.0, z}}});
            if (!c.straddle) {
                input.back().points = {{0.0, double(a), 0.0}, {0.0, double(a), 1.0}, {1.0, double(a), 0.0}};
            }
        }
    }
    std::mt19937 rng(5);
    buildAndCheck(input, true, rng, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SoupRepeats, testing::ValuesIn(kRepeatCases),
                         [](const testing::TestParamInfo<RepeatCase>& info) { return info.param.name; });

// --- cleaning of single faces ---

struct CleanCase {
    const char* name;
    std::vector<float> xyz;
    std::vector<int32_t> indices;
    int32_t faces;     // faces after end
    double area;       // their total area
    int32_t vertices;  // vertices of the first face (0: not checked)
};

const CleanCase kCleanCases[] = {
    {"RepeatDropsLaterCopy", {0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 0}, {0, 1, 2, 1, 3}, 1, 1.0, 4},
    {"TriangleWithRepeatDropped", {0, 0, 0, 0, 0, 1, 1, 0, 1}, {0, 1, 1}, 0, 0.0, 0},
    {"ZeroEdgeQuadBecomesTriangle", {0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0}, {0, 1, 2, 3}, 1, 0.5, 3},
    {"CoincidentFaceDropped", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 1, 2, 3}, 0, 0.0, 0},
    {"CollinearMiddleDropped", {0, 0, 0, 0, 0, 1, 0, 0, 2, 2, 0, 0}, {0, 1, 2, 3}, 1, 2.0, 3},
    {"ConcaveLShapeSplit",
     {0, 0, 0, 0, 0, 2, 1, 0, 2, 1, 0, 1, 2, 0, 1, 2, 0, 0},
     {0, 1, 2, 3, 4, 5},
     -2,
     3.0,
     0},
    {"RightCornerComesSecond", {0, 0, 0, 1, 0, 3, 4, 0, 3, 4, 0, 1}, {0, 1, 2, 3}, 1, 8.5, 4},
    // Squared lengths and cross products of such coordinates overflow: no
    // float test can tell these faces have no area to speak of.
    {"SliverNearTheFloatLimitDropped", {-3.0e38f, 0, 0, 0, 1, 0, 3.0e38f, 0, 0}, {0, 1, 2}, 0, 0.0, 0},
    {"StripNearTheFloatLimitDropped",
     {-3.0e38f, 0, 0, 3.0e38f, 0, 0, 3.0e38f, 0, 1, -3.0e38f, 0, 1},
     {0, 1, 2, 3},
     0,
     0.0,
     0},
    // Far out, but of a size floats measure: kept.
    {"SquareNearTheFloatLimitKept",
     {3.0e38f, 1, 0, 3.0e38f, 1, 1, 3.0e38f, 2, 1, 3.0e38f, 2, 0},
     {0, 1, 2, 3},
     1,
     1.0,
     4},
};

class SoupClean : public testing::TestWithParam<CleanCase> {};

TEST_P(SoupClean, SingleFaceComesOutAsExpected) {
    const CleanCase& c = GetParam();
    dgPolygonSoupBuilder builder;
    builder.begin();
    const int32_t count = int32_t(c.indices.size());
    const int32_t attribute = -7;
    ASSERT_TRUE(builder.addMesh(c.xyz.data(), int32_t(c.xyz.size() / 3), 12, 1, &count, c.indices.data(),
                                &attribute, dgGetIdentityMatrix()));
    builder.end(false);
    const std::vector<Face> output = readFaces(builder);
    if (c.faces >= 0) {
        ASSERT_EQ(int32_t(output.size()), c.faces);
    } else {
        ASSERT_GE(int32_t(output.size()), -c.faces);
    }
    double total = 0.0;
    for (const Face& f : output) {
        expectConvexPlanar(f);
        EXPECT_EQ(f.attribute, attribute);
        total += area(f.points);
    }
    if (c.area > 0.0) {
        EXPECT_NEAR(total, c.area, 1e-6);
    }
    if (c.vertices) {
        EXPECT_EQ(int32_t(output[0].points.size()), c.vertices);
    }
    if (std::string(c.name) == "RightCornerComesSecond") {
        // Corner (4, 0, 3) is the only right angle.
        EXPECT_EQ(output[0].points[1].x, 4.0);
        EXPECT_EQ(output[0].points[1].z, 3.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SoupClean, testing::ValuesIn(kCleanCases),
                         [](const testing::TestParamInfo<CleanCase>& info) { return info.param.name; });

TEST(SoupBuilderWeld, NearVerticesBecomeOneAndSingleFacesAreDoubled) {
    dgPolygonSoupBuilder builder;
    builder.begin();
    const std::vector<Face> input = {{1, {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}}},
                                     {1, {{1.0004, 0, 0}, {0, 0, 1.0004}, {1, 0, 1}}}};
    addEach(builder, input);
    builder.end(false);
    ASSERT_EQ(builder.m_faceCount, 2);
    EXPECT_EQ(builder.m_vertexCount, 4);
    builder.duplicateSingleFace();
    EXPECT_EQ(builder.m_faceCount, 2);

    for (int32_t faces : {0, 1}) {
        dgPolygonSoupBuilder single;
        single.begin();
        addEach(single, std::vector<Face>(input.begin(), input.begin() + faces));
        single.end(false);
        single.duplicateSingleFace();
        ASSERT_EQ(single.m_faceCount, 2 * faces);
        if (faces) {
            EXPECT_EQ(single.m_indexCount, 8);
            for (int32_t i = 0; i < 4; ++i) {
                EXPECT_EQ(single.getIndexData()[i], single.getIndexData()[4 + i]);
            }
        }
    }
}

// --- bad calls ---

struct Call {
    std::vector<float> xyz = {0, 0, 0, 0, 0, 1, 1, 0, 0, 5, 0, 5, 5, 0, 6, 6, 0, 5};
    int32_t vertexCount = 6;
    int32_t stride = 12;
    int32_t faceCount = 2;
    std::vector<int32_t> counts = {3, 3};
    std::vector<int32_t> indices = {0, 1, 2, 3, 4, 5};
    std::vector<int32_t> attributes = {1, 2};
    bool nullVertices = false, nullCounts = false, nullIndices = false, nullAttributes = false;
};

struct BadCase {
    const char* name;
    std::function<void(Call&)> spoil;
    bool accepted;  // the call as a whole
    int32_t faces;  // faces it leaves
};

const BadCase kBadCases[] = {
    {"Valid", [](Call&) {}, true, 2},
    {"NegativeVertexCount", [](Call& c) { c.vertexCount = -1; }, false, 0},
    {"NegativeFaceCount", [](Call& c) { c.faceCount = -2; }, false, 0},
    {"NegativeIndexCount", [](Call& c) { c.counts[1] = -3; }, false, 0},
    {"NullVertices", [](Call& c) { c.nullVertices = true; }, false, 0},
    {"NullCounts", [](Call& c) { c.nullCounts = true; }, false, 0},
    {"NullIndices", [](Call& c) { c.nullIndices = true; }, false, 0},
    {"NullAttributes", [](Call& c) { c.nullAttributes = true; }, false, 0},
    {"ShortStride", [](Call& c) { c.stride = 8; }, false, 0},
    {"UnalignedStride", [](Call& c) { c.stride = 13; }, false, 0},
    {"IndexPastTheCallsVertices", [](Call& c) { c.indices[4] = 6; }, true, 1},
    {"NegativeIndex", [](Call& c) { c.indices[0] = -1; }, true, 1},
    {"IndexAtInt32Max", [](Call& c) { c.indices[4] = INT32_MAX; }, true, 1},
    {"FewerVerticesThanUsed", [](Call& c) { c.vertexCount = 4; }, true, 1},
    {"NonFiniteVertex", [](Call& c) { c.xyz[13] = std::nanf(""); }, true, 1},
    {"InfiniteVertex", [](Call& c) { c.xyz[2] = INFINITY; }, true, 1},
};

class SoupBadCall : public testing::TestWithParam<BadCase> {};

TEST_P(SoupBadCall, RefusedWithoutChangingTheBuilder) {
    Call c;
    GetParam().spoil(c);
    dgPolygonSoupBuilder builder;
    builder.begin();
    // An earlier face must survive whatever the bad call does.
    addEach(builder, {{0, {{20, 0, 0}, {20, 0, 1}, {21, 0, 0}}}});
    const int32_t vertices = builder.m_vertexCount;
    const bool accepted =
        builder.addMesh(c.nullVertices ? nullptr : c.xyz.data(), c.vertexCount, c.stride, c.faceCount,
                        c.nullCounts ? nullptr : c.counts.data(), c.nullIndices ? nullptr : c.indices.data(),
                        c.nullAttributes ? nullptr : c.attributes.data(), dgGetIdentityMatrix());
    EXPECT_EQ(accepted, GetParam().accepted);
    EXPECT_EQ(builder.m_faceCount, 1 + GetParam().faces);
    if (!accepted) {
        EXPECT_EQ(builder.m_vertexCount, vertices);
    }
    builder.end(false);
    for (const Face& f : readFaces(builder)) {
        expectConvexPlanar(f);
    }
    // What the faces dropped leaves no vertex the soup cannot measure.
    const float* v = builder.getVertexData();
    for (int32_t i = 0; i < 3 * builder.m_vertexCount; ++i) {
        EXPECT_TRUE(std::isfinite(v[i])) << "coordinate " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SoupBadCall, testing::ValuesIn(kBadCases),
                         [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

// --- memory ---

TEST(SoupBuilderMemory, BuildsGiveBackEverythingTheyTake) {
    std::mt19937 rng(3);
    const std::vector<Face> map = heightMap(8, rng, 2);
    const Frame frame = randomFrame(rng, {0, 0, 0});
    const std::vector<Face> big = {{4, polygonIn(frame, 300, 15.0, true)}};
    auto build = [&](bool optimise) {
        dgPolygonSoupBuilder builder;
        builder.begin();
        addEach(builder, map);
        addEach(builder, big);
        builder.end(optimise);
        builder.begin();
        addEach(builder, map);
        builder.end(optimise);
    };
    build(true);  // pools exist from here on
    {
        dgAttributeSet set;
        set.insertIfAbsent(1);
    }
    MemoryBalance balance;
    build(true);
    build(false);
}

TEST(SoupBuilderAttributeSet, InsertReportsWhatWasThere) {
    dgAttributeSet set;
    bool present = true;
    dgAttributeSet::Node* const first = set.insert(-5, present);
    EXPECT_FALSE(present);
    EXPECT_EQ(set.insert(-5, present), first);
    EXPECT_TRUE(present);
    EXPECT_EQ(set.insertIfAbsent(-5), nullptr);
    EXPECT_NE(set.insertIfAbsent(7), nullptr);
    EXPECT_EQ(set.find(7)->getKey(), 7);
    set.clear();
    EXPECT_EQ(set.getCount(), 0);
    EXPECT_EQ(set.find(-5), nullptr);
}

}  // namespace
