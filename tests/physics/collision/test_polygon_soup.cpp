#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "TestSupport.h"
#include "dgBuildBspPolygonSoup.h"
#include "dgDoublePlaneBSPPolygonSoup.h"
#include "dgIntersections.h"

namespace {

// Faces as a soup builder hands them over: per face its entry count, then
// attribute and vertex indices; x, y, z per vertex.
struct SoupInput {
    std::vector<int32_t> faces, indices;
    std::vector<float> xyz;

    int32_t vertex(float x, float y, float z) {
        xyz.insert(xyz.end(), {x, y, z});
        return int32_t(xyz.size() / 3) - 1;
    }
    void face(int32_t attribute, const std::vector<int32_t>& v) {
        faces.push_back(int32_t(v.size()) + 1);
        indices.push_back(attribute);
        indices.insert(indices.end(), v.begin(), v.end());
    }
    int32_t getFaceCount() const { return int32_t(faces.size()); }
    int32_t getIndexCount() const { return int32_t(indices.size()); }
    int32_t getVertexCount() const { return int32_t(xyz.size() / 3); }
    const int32_t* getFaceData() const { return faces.data(); }
    const int32_t* getIndexData() const { return indices.data(); }
    const float* getVertexData() const { return xyz.data(); }
};

typedef dgRefHolder<dgDoublePlaneBSPPolygonSoup> SoupHolder;

SoupHolder makeSoup() {
    return SoupHolder::adopt(new dgDoublePlaneBSPPolygonSoup());
}

// Height map of n x n cells one unit wide, walkable side up; triangles, or
// quads when flat.
SoupInput heightMap(std::mt19937& rng, int n, bool quads) {
    SoupInput in;
    std::uniform_int_distribution<int> h(0, 3);
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            in.vertex(float(i), quads ? 0.0f : 0.5f * float(h(rng)), float(j));
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int32_t a = i * (n + 1) + j, b = a + 1, c = b + n + 1, d = a + n + 1;
            if (quads) {
                in.face(a, {a, b, c, d});
            } else {
                in.face(2 * a, {a, b, c});
                in.face(2 * a + 1, {a, c, d});
            }
        }
    }
    return in;
}

// Scattered triangles and planar quads of many sizes, facing anywhere.
SoupInput randomSoup(std::mt19937& rng, int count) {
    SoupInput in;
    std::uniform_real_distribution<float> at(-20.0f, 20.0f), size(0.05f, 6.0f);
    for (int f = 0; f < count; ++f) {
        const dgVector o(at(rng), at(rng), at(rng), 0.0f), u(testsupport::randomUnit(rng)),
            w(testsupport::randomUnit(rng).cross(u));
        const float su = size(rng), sw = size(rng);
        const dgVector corners[4] = {o, o + u * su, o + u * su + w * sw, o + w * sw};
        std::vector<int32_t> v;
        for (int k = 0; k < 3 + f % 2; ++k) {
            v.push_back(in.vertex(corners[k].x, corners[k].y, corners[k].z));
        }
        in.face(f, v);
    }
    return in;
}

dgVector pt(float x, float y, float z) {
    return dgVector(x, y, z, 1.0f);
}

const float* vertexOf(const dgDoublePlaneBSPPolygonSoup& soup, int32_t index) {
    return soup.getVertexArray() + 3 * index;
}

// Positions of the faces' first vertex indices, in index-array order.
std::vector<int32_t> facePositions(const dgDoublePlaneBSPPolygonSoup& soup,
                                   const std::vector<int32_t>& counts) {
    std::vector<int32_t> out;
    int32_t at = 0;
    for (const int32_t n : counts) {
        out.push_back(at + 3);
        at += n + 3;
    }
    EXPECT_EQ(at, soup.getIndexCount());
    return out;
}

// Every face in exactly one leaf; along each node's direction the left
// faces lie at or below the left maximum, the right ones at or above the
// right minimum; the stored boxes hold their faces (corners welded within
// about 1e-4); the depth is the one reported.
void checkTree(const dgDoublePlaneBSPPolygonSoup& soup, const std::vector<int32_t>& positions) {
    std::vector<int> seen(size_t(soup.getIndexCount()), 0);
    int depth = 0;
    // Returns the leaves of the subtree.
    struct Walk {
        const dgDoublePlaneBSPPolygonSoup& soup;
        std::vector<int>& seen;
        int& depth;
        std::vector<uint32_t> leaves(uint32_t ref, int level) {
            if (dgBspIsLeaf(ref)) {
                ++seen[size_t(dgBspLeafPosition(ref))];
                return {ref};
            }
            depth = std::max(depth, level);
            const dgBspNode& node = soup.getNodeArray()[dgBspNodeIndex(ref)];
            const std::vector<uint32_t> left = leaves(node.m_left, level + 1);
            const std::vector<uint32_t> right = leaves(node.m_right, level + 1);
            for (int side = 0; side < 2; ++side) {
                for (const uint32_t leaf : side ? right : left) {
                    const int32_t* face = soup.getIndexArray() + dgBspLeafPosition(leaf);
                    for (int32_t k = 0; k < dgBspLeafCount(leaf); ++k) {
                        const float* v = soup.getVertexArray() + 3 * face[k];
                        const float p = dgBspProject(node.m_direction, v[0], v[1], v[2]);
                        EXPECT_TRUE(side ? (p >= node.m_rightMin) : (p <= node.m_leftMax));
                    }
                }
            }
            std::vector<uint32_t> all(left);
            all.insert(all.end(), right.begin(), right.end());
            return all;
        }
    } walk{soup, seen, depth};
    ASSERT_GT(soup.getNodeCount(), 0);
    const std::vector<uint32_t> leaves = walk.leaves(dgBspMakeNode(0), 1);
    EXPECT_EQ(leaves.size(), positions.size());
    EXPECT_EQ(soup.getNodeCount() + 1, int32_t(positions.size()));
    EXPECT_EQ(soup.getTreeDepth(), depth);
    for (const int32_t p : positions) {
        ASSERT_EQ(seen[size_t(p)], 1) << "face at " << p;
    }
    for (const uint32_t leaf : leaves) {
        const int32_t* face = soup.getIndexArray() + dgBspLeafPosition(leaf);
        for (int32_t k = 0; k < dgBspLeafCount(leaf); ++k) {
            for (int axis = 0; axis < 3; ++axis) {
                const float c = vertexOf(soup, face[k])[axis];
                EXPECT_GE(c, vertexOf(soup, face[-3])[axis] - 2e-4f);
                EXPECT_LE(c, vertexOf(soup, face[-2])[axis] + 2e-4f);
            }
        }
    }
}

struct Reported {
    std::vector<const int32_t*> faces;
    std::vector<int32_t> counts;
    int32_t stopAfter = -1;
};
int32_t collect(void* context, const float*, int32_t stride, const int32_t* indices, int32_t count) {
    Reported& r = *static_cast<Reported*>(context);
    EXPECT_EQ(stride, 12);
    r.faces.push_back(indices);
    r.counts.push_back(count);
    return (int32_t(r.faces.size()) == r.stopAfter) ? 0 : 1;
}

// Box queries against all faces: reported faces have boxes touching the
// query, each once; a face whose 24 slabs all overlap the query's by a
// margin is reported.
void checkBoxQueries(const dgDoublePlaneBSPPolygonSoup& soup, const std::vector<int32_t>& positions,
                     const std::vector<int32_t>& counts, std::mt19937& rng, float reach, float extent) {
    std::uniform_real_distribution<float> at(-reach, reach), size(0.01f, extent);
    for (int q = 0; q < 300; ++q) {
        const dgVector lo(at(rng), at(rng), at(rng), 0.0f);
        const dgVector hi(lo + dgVector(size(rng), size(rng), size(rng), 0.0f));
        Reported r;
        soup.getFacesInAABB(lo, hi, collect, &r);
        std::sort(r.faces.begin(), r.faces.end());
        ASSERT_TRUE(std::adjacent_find(r.faces.begin(), r.faces.end()) == r.faces.end());
        for (size_t f = 0; f < positions.size(); ++f) {
            const int32_t* face = soup.getIndexArray() + positions[f];
            bool touches = true, inside = true;
            for (int axis = 0; axis < 3; ++axis) {
                touches = touches && vertexOf(soup, face[-2])[axis] >= lo[axis] &&
                          vertexOf(soup, face[-3])[axis] <= hi[axis];
            }
            for (int32_t d = 0; d < dgBspDirectionCount; ++d) {
                float fmin = 1e30f, fmax = -1e30f;
                for (int32_t k = 0; k < counts[f]; ++k) {
                    const float* v = vertexOf(soup, face[k]);
                    fmin = std::min(fmin, dgBspProject(d, v[0], v[1], v[2]));
                    fmax = std::max(fmax, dgBspProject(d, v[0], v[1], v[2]));
                }
                float qmin = 1e30f, qmax = -1e30f;
                for (int corner = 0; corner < 8; ++corner) {
                    const float p = dgBspProject(d, (corner & 1) ? hi.x : lo.x, (corner & 2) ? hi.y : lo.y,
                                                 (corner & 4) ? hi.z : lo.z);
                    qmin = std::min(qmin, p);
                    qmax = std::max(qmax, p);
                }
                inside = inside && (fmin < qmax - 1e-3f) && (fmax > qmin + 1e-3f);
            }
            const bool reported = std::binary_search(r.faces.begin(), r.faces.end(), face);
            ASSERT_TRUE(!reported || touches) << "query " << q << " face " << f;
            ASSERT_TRUE(reported || !inside) << "query " << q << " face " << f;
        }
    }
}

// Nearest hit by the tree against the face test over every face.
void checkRay(const dgDoublePlaneBSPPolygonSoup& soup, const std::vector<int32_t>& positions,
              const std::vector<int32_t>& counts, const dgVector& p0, const dgVector& p1) {
    dgRayHitRecord brute(p0, p1);
    for (size_t f = 0; f < positions.size(); ++f) {
        dgRayHitClosestCallback(&brute, soup.getVertexArray(), 12, soup.getIndexArray() + positions[f],
                                counts[f]);
    }
    const float t = soup.rayHit(p0, p1);
    ASSERT_EQ(t < 1.1f, brute.t < 1.1f)
        << p0.x << " " << p0.y << " " << p0.z << " to " << p1.x << " " << p1.y << " " << p1.z;
    EXPECT_NEAR(t, brute.t, 1e-5f);
    EXPECT_EQ(soup.rayHitAny(p0, p1), brute.t < 1.1f);
}

std::vector<int32_t> vertexCounts(const SoupInput& in) {
    std::vector<int32_t> counts;
    for (const int32_t e : in.faces) {
        counts.push_back(e - 1);
    }
    return counts;
}

std::vector<uint8_t> save(const dgDoublePlaneBSPPolygonSoup& soup) {
    std::vector<uint8_t> bytes;
    soup.serialize(
        [](void* context, const void* buffer, size_t count) {
            auto& out = *static_cast<std::vector<uint8_t>*>(context);
            out.insert(out.end(), static_cast<const uint8_t*>(buffer),
                       static_cast<const uint8_t*>(buffer) + count);
        },
        &bytes);
    return bytes;
}

struct Stream {
    const std::vector<uint8_t>& bytes;
    size_t at;
};
bool load(dgDoublePlaneBSPPolygonSoup& soup, const std::vector<uint8_t>& bytes) {
    Stream stream{bytes, 0};
    return soup.deserialize(
        [](void* context, void* buffer, size_t count) {
            Stream& s = *static_cast<Stream*>(context);
            const size_t n = std::min(count, s.bytes.size() - s.at);
            if (n > 0) {
                memcpy(buffer, s.bytes.data() + s.at, n);
            }
            s.at += n;
            return n;
        },
        &stream);
}

void expectEmpty(const dgDoublePlaneBSPPolygonSoup& soup) {
    EXPECT_EQ(soup.getNodeCount(), 0);
    EXPECT_EQ(soup.getNodeArray(), nullptr);
    EXPECT_EQ(soup.getIndexArray(), nullptr);
    EXPECT_EQ(soup.getVertexArray(), nullptr);
    Reported r;
    soup.getFacesInAABB(pt(-1e9f, -1e9f, -1e9f), pt(1e9f, 1e9f, 1e9f), collect, &r);
    EXPECT_TRUE(r.faces.empty());
}

// ---- built soups against brute force -----------------------------------

struct SoupCase {
    const char* name;
    int kind;  // 0 random soup, 1 height map, 2 flat quad map
    int size;
};

void PrintTo(const SoupCase& c, std::ostream* os) {
    *os << c.name;
}

class BuiltSoup : public ::testing::TestWithParam<SoupCase> {};

TEST_P(BuiltSoup, TreeQueriesAndSavedFormMatchBruteForce) {
    const SoupCase& c = GetParam();
    std::mt19937 rng(1234 + c.size);
    const SoupInput in = (c.kind == 0) ? randomSoup(rng, c.size) : heightMap(rng, c.size, c.kind == 2);
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), in));
    const std::vector<int32_t> counts = vertexCounts(in);
    const std::vector<int32_t> positions = facePositions(*soup, counts);
    checkTree(*soup, positions);

    // Faces kept in order with their attributes; the mesh's vertices first.
    ASSERT_GE(soup->getVertexCount(), in.getVertexCount());
    EXPECT_EQ(0, memcmp(soup->getVertexArray(), in.xyz.data(), in.xyz.size() * sizeof(float)));
    for (size_t f = 0, at = 0; f < positions.size(); at += size_t(counts[f]) + 1, ++f) {
        EXPECT_EQ(0, memcmp(soup->getIndexArray() + positions[f] - 1, &in.indices[at],
                            (size_t(counts[f]) + 1) * sizeof(int32_t)));
    }

    const float reach = (c.kind == 0) ? 22.0f : float(c.size);
    checkBoxQueries(*soup, positions, counts, rng, reach, (c.kind == 0) ? 8.0f : 3.0f);

    std::uniform_real_distribution<float> at(-reach, reach), unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> line(1, std::max(1, c.size - 1));
    for (int q = 0; q < 400; ++q) {
        if (c.kind == 0) {
            checkRay(*soup, positions, counts, pt(at(rng), at(rng), at(rng)), pt(at(rng), at(rng), at(rng)));
            continue;
        }
        // Vertical rays on grid lines, diagonals and vertices, then slanted.
        const float i = float(line(rng)), j = float(line(rng)), f = unit(rng) * 0.98f + 0.01f;
        const float xz[5][2] = {
            {i, j}, {i, j - 1 + f}, {i - 1 + f, j}, {i - 1 + f, j - 1 + f}, {i - f, j - f}};
        const float* p = xz[q % 5];
        checkRay(*soup, positions, counts, pt(p[0], 10, p[1]), pt(p[0], -10, p[1]));
        checkRay(*soup, positions, counts, pt(p[0], 4, p[1]), pt(p[0] + unit(rng), -3, p[1] - unit(rng)));
    }

    // Saved, loaded and saved again: the same bytes and the same answers.
    const std::vector<uint8_t> bytes = save(*soup);
    const size_t expected = 12 + 32 + 12 * size_t(soup->getVertexCount()) +
                            4 * size_t(soup->getIndexCount()) + 20 * size_t(soup->getNodeCount());
    ASSERT_EQ(bytes.size(), expected);
    SoupHolder loaded(makeSoup());
    ASSERT_TRUE(load(*loaded, bytes));
    EXPECT_EQ(save(*loaded), bytes);
    EXPECT_EQ(loaded->getTreeDepth(), soup->getTreeDepth());
    for (int q = 0; q < 50; ++q) {
        const dgVector p0(pt(at(rng), 10, at(rng))), p1(pt(at(rng), -10, at(rng)));
        EXPECT_EQ(loaded->rayHit(p0, p1), soup->rayHit(p0, p1));
    }
    // A second build of the same faces replaces the soup by equal bytes.
    ASSERT_TRUE(dgBuildBspPolygonSoup(loaded.get(), in));
    EXPECT_EQ(save(*loaded), bytes);
}

INSTANTIATE_TEST_SUITE_P(Soups, BuiltSoup,
                         ::testing::Values(SoupCase{"two_faces", 0, 2}, SoupCase{"random_60", 0, 60},
                                           SoupCase{"random_700", 0, 700}, SoupCase{"heights_4", 1, 4},
                                           SoupCase{"heights_16", 1, 16}, SoupCase{"flat_quads_20", 2, 20}),
                         [](const ::testing::TestParamInfo<SoupCase>& info) { return info.param.name; });

// ---- edges and seams ---------------------------------------------------

TEST(SoupSeams, SegmentsAlongAnyEdgeOfAFanTriangleHit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> at(-5.0f, 5.0f), f(0.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        // Triangle a b c facing +y; a point on one of its three edges.
        const float v[9] = {at(rng), 0, at(rng), at(rng), 0, at(rng), at(rng), 0, at(rng)};
        const dgVector a(pt(v[0], 0, v[2])), b(pt(v[3], 0, v[5])), c(pt(v[6], 0, v[8]));
        const int32_t idx[2][3] = {{0, 1, 2}, {0, 2, 1}};
        const int32_t* order = ((b - a).cross(c - a).y > 0.0f) ? idx[0] : idx[1];
        const dgVector ends[3][2] = {{a, b}, {b, c}, {c, a}};
        const dgVector& e0 = ends[i % 3][0];
        const dgVector q(e0 + (ends[i % 3][1] - e0) * f(rng));
        float t;
        dgVector n;
        // Slivers aside: there rounding outweighs the tolerance.
        const dgVector ab(b - a), bc(c - b), ca(a - c), cr(ab.cross(bc));
        if (std::sqrt(cr % cr) < 0.2f * ((ab % ab) + (bc % bc) + (ca % ca))) {
            continue;
        }
        ASSERT_TRUE(dgRayFaceTest(pt(q.x, 1, q.z), pt(q.x, -1, q.z), v, 12, order, 3, t, n)) << i;
    }
}

TEST(SoupSeams, VerticalRayOnTheSplitBetweenTwoFacesHits) {
    // Two triangles side by side, split at x = 1 along direction 0.
    SoupInput in;
    for (const float x : {0.0f, 1.0f, 2.0f}) {
        in.vertex(x, 0, 0);
        in.vertex(x, 0, 1);
    }
    in.face(5, {0, 1, 3, 2});
    in.face(6, {2, 3, 5});
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), in));
    const dgBspNode& root = soup->getNodeArray()[0];
    ASSERT_EQ(root.m_direction, 0);
    ASSERT_EQ(root.m_leftMax, 1.0f);
    ASSERT_EQ(root.m_rightMin, 1.0f);
    EXPECT_FLOAT_EQ(soup->rayHit(pt(1, 1, 0.25f), pt(1, -1, 0.25f)), 0.5f);
    EXPECT_FLOAT_EQ(soup->rayHit(pt(1, 1, 0.75f), pt(1, -1, 0.75f)), 0.5f);
    // Just left of the split only the left face; nothing hit reads 1.1.
    EXPECT_FLOAT_EQ(soup->rayHit(pt(0.999f, 1, 0.1f), pt(0.999f, -1, 0.1f)), 0.5f);
    EXPECT_FLOAT_EQ(soup->rayHit(pt(1.5f, 1, 0.1f), pt(1.5f, -1, 0.1f)), 1.1f);
    EXPECT_FALSE(soup->rayHitAny(pt(1, -1, 0.5f), pt(1, 1, 0.5f)));
}

// ---- large faces, deep trees -------------------------------------------

class LargeFace : public ::testing::TestWithParam<int> {};

TEST_P(LargeFace, IsCutIntoLeavesThatCoverIt) {
    const int n = GetParam();
    SoupInput in;
    std::vector<int32_t> ring;
    for (int k = 0; k < n; ++k) {
        const double a = -2.0 * testsupport::kPi * k / n;
        ring.push_back(in.vertex(float(10 * std::cos(a)), 0.0f, float(10 * std::sin(a))));
    }
    in.face(77, ring);
    in.face(78, {in.vertex(30, 0, 0), in.vertex(30, 0, 1), in.vertex(31, 0, 0)});
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), in));
    // The leaves cover the polygon: same area, same attribute, each within
    // what a leaf holds.
    Reported r;
    soup->getFacesInAABB(pt(-11, -1, -11), pt(11, 1, 11), collect, &r);
    double area = 0.0;
    for (size_t i = 0; i < r.faces.size(); ++i) {
        const int32_t* face = r.faces[i];
        const int32_t count = r.counts[i];
        EXPECT_EQ(face[-1], 77);
        ASSERT_GE(count, 3);
        ASSERT_LE(count, dgBspMaxLeafVertices);
        for (int32_t k = 2; k < count; ++k) {
            const float *a = vertexOf(*soup, face[0]), *b = vertexOf(*soup, face[k - 1]),
                        *c = vertexOf(*soup, face[k]);
            area += 0.5 * ((double(b[2]) - a[2]) * (double(c[0]) - a[0]) -
                           (double(b[0]) - a[0]) * (double(c[2]) - a[2]));
        }
    }
    EXPECT_NEAR(area, 0.5 * n * 100.0 * std::sin(2.0 * testsupport::kPi / n), 1e-2);
    EXPECT_EQ(int(r.faces.size()), (n - 2 + 124) / 125);
    // Rays across the cut lines hit as the face test over the pieces says;
    // all of them do while the fan's triangles are not slivers.
    std::vector<int32_t> positions;
    for (const int32_t* face : r.faces) {
        positions.push_back(int32_t(face - soup->getIndexArray()));
    }
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> at(-6.9f, 6.9f);
    for (int q = 0; q < 500; ++q) {
        const float x = at(rng), z = at(rng);
        checkRay(*soup, positions, r.counts, pt(x, 1, z), pt(x, -1, z));
        if (n <= 300) {
            ASSERT_FLOAT_EQ(soup->rayHit(pt(x, 1, z), pt(x, -1, z)), 0.5f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeFace, ::testing::Values(65, 127, 128, 300, 3000));

// A saved soup written by hand: triangle i at x = i, and a tree of 2m nodes
// that the walks must follow to depth m + 1: a chain whose other children
// are small inner nodes, so that a walk keeps one pending per level. The
// chain runs right for the box walk (left taken first) and left for the
// segment walk. The planes let everything through.
std::vector<uint8_t> chainStream(int32_t m, bool chainOnRight) {
    const int32_t faces = 2 * m + 1;
    std::vector<float> xyz;
    std::vector<int32_t> indices;
    for (int32_t f = 0; f < faces; ++f) {
        const float x = float(f);
        const int32_t v = int32_t(xyz.size() / 3);
        xyz.insert(xyz.end(), {x, 0, 0, x + 0.5f, 0, 1, x, 0, 0, x, 0, 1, x + 0.5f, 0, 0});
        indices.insert(indices.end(), {v, v + 1, 100 + f, v + 2, v + 3, v + 4});
    }
    std::vector<dgBspNode> nodes(size_t(2 * m));
    auto leaf = [](int32_t f) { return dgBspMakeLeaf(6 * f + 3, 3); };
    for (int32_t k = 0; k < m; ++k) {
        const uint32_t next = (k + 1 < m) ? dgBspMakeNode(k + 1) : leaf(2 * m);
        const uint32_t small = dgBspMakeNode(m + k);
        nodes[size_t(k)] =
            dgBspNode{-1e30f, 1e30f, 0, chainOnRight ? small : next, chainOnRight ? next : small};
        nodes[size_t(m + k)] = dgBspNode{-1e30f, 1e30f, 0, leaf(2 * k), leaf(2 * k + 1)};
    }
    const int32_t counts[3] = {int32_t(xyz.size() / 3), int32_t(indices.size()), int32_t(nodes.size())};
    const float box[8] = {0, 0, 0, 0, float(faces), 0, 1, 0};
    std::vector<uint8_t> bytes;
    auto put = [&bytes](const void* data, size_t count) {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(data),
                     static_cast<const uint8_t*>(data) + count);
    };
    put(counts, sizeof(counts));
    put(box, sizeof(box));
    put(xyz.data(), xyz.size() * 4);
    put(indices.data(), indices.size() * 4);
    put(nodes.data(), nodes.size() * sizeof(dgBspNode));
    return bytes;
}

TEST(SoupWalks, DeepTreesAreWalkedToTheEnd) {
    for (const bool chainOnRight : {true, false}) {
        SoupHolder soup(makeSoup());
        ASSERT_TRUE(load(*soup, chainStream(300, chainOnRight)));
        EXPECT_EQ(soup->getTreeDepth(), 301);
        Reported box, ray;
        soup->getFacesInAABB(pt(-1, -1, -1), pt(700, 1, 2), collect, &box);
        soup->getFacesOnRay(pt(-1, 1, 0.1f), pt(700, -1, 0.1f), collect, &ray);
        for (Reported* r : {&box, &ray}) {
            ASSERT_EQ(r->faces.size(), 601u);
            std::sort(r->faces.begin(), r->faces.end());
            EXPECT_TRUE(std::adjacent_find(r->faces.begin(), r->faces.end()) == r->faces.end());
        }
        EXPECT_FLOAT_EQ(soup->rayHit(pt(599.1f, 1, 0.1f), pt(599.1f, -1, 0.1f)), 0.5f);
        // A callback answering 0 ends the walk at once.
        Reported first;
        first.stopAfter = 1;
        soup->getFacesInAABB(pt(-1, -1, -1), pt(700, 1, 2), collect, &first);
        EXPECT_EQ(first.faces.size(), 1u);
    }
}

TEST(SoupWalks, NonFiniteOrInvertedQueriesReportNothing) {
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(load(*soup, chainStream(3, true)));
    const float nan = std::nanf(""), inf = INFINITY;
    const dgVector boxes[][2] = {{pt(nan, 0, 0), pt(9, 1, 1)},
                                 {pt(0, 0, 0), pt(9, nan, 1)},
                                 {pt(5, 0, 0), pt(1, 1, 1)},
                                 {pt(0, 1, 0), pt(9, -1, 1)}};
    const dgVector rays[][2] = {{pt(nan, 1, 0.1f), pt(0.1f, -1, 0.1f)},
                                {pt(0.1f, 1, 0.1f), pt(0.1f, -inf, 0.1f)}};
    Reported r;
    for (const auto& b : boxes) {
        soup->getFacesInAABB(b[0], b[1], collect, &r);
    }
    for (const auto& q : rays) {
        soup->getFacesOnRay(q[0], q[1], collect, &r);
        EXPECT_FLOAT_EQ(soup->rayHit(q[0], q[1]), 1.1f);
    }
    EXPECT_TRUE(r.faces.empty());
}

// ---- damaged saved forms -----------------------------------------------

struct Damage {
    const char* name;
    // Word to overwrite: 0..2 counts, else an offset into the part named.
    enum Part { kCount, kIndex, kNode } part;
    int32_t word;
    int64_t value;
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

class DamagedStream : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedStream, LeavesTheSoupEmpty) {
    const Damage& d = GetParam();
    std::vector<uint8_t> bytes = chainStream(2, true);
    int32_t counts[3];
    memcpy(counts, bytes.data(), sizeof(counts));
    const size_t indexStart = 44 + 12 * size_t(counts[0]);
    const size_t nodeStart = indexStart + 4 * size_t(counts[1]);
    const size_t at = (d.part == Damage::kCount)   ? 4 * size_t(d.word)
                      : (d.part == Damage::kIndex) ? indexStart + 4 * size_t(d.word)
                                                   : nodeStart + 4 * size_t(d.word);
    const int32_t value = int32_t(d.value);
    memcpy(&bytes[at], &value, 4);
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(load(*soup, chainStream(2, false)));
    EXPECT_FALSE(load(*soup, bytes));
    expectEmpty(*soup);
}

// Stream of chainStream(2): 25 vertices, 30 indices, 4 nodes (5 words each:
// right min, left max, direction, left, right); node 0's left is node 2.
INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedStream,
    ::testing::Values(Damage{"negative_vertices", Damage::kCount, 0, -1},
                      Damage{"negative_indices", Damage::kCount, 1, -5},
                      Damage{"negative_nodes", Damage::kCount, 2, -1},
                      Damage{"huge_vertices", Damage::kCount, 0, (1 << 24) + 1},
                      Damage{"huge_indices", Damage::kCount, 1, 0x7fffffff},
                      Damage{"nodes_beyond_faces", Damage::kCount, 2, 6},
                      Damage{"no_nodes_but_faces", Damage::kCount, 2, 0},
                      Damage{"direction_out_of_range", Damage::kNode, 2, 24},
                      Damage{"node_past_array", Damage::kNode, 3, 8},
                      Damage{"node_reached_twice", Damage::kNode, 3, 0},
                      Damage{"node_never_reached", Damage::kNode, 3, 1},
                      Damage{"leaf_past_indices", Damage::kNode, 8, int64_t(dgBspMakeLeaf(29, 3))},
                      Damage{"leaf_of_two_vertices", Damage::kNode, 8, int64_t(dgBspMakeLeaf(3, 2))},
                      Damage{"leaf_before_its_box", Damage::kNode, 8, int64_t(dgBspMakeLeaf(1, 3))},
                      Damage{"vertex_past_vertices", Damage::kIndex, 4, 25},
                      Damage{"negative_vertex", Damage::kIndex, 3, -1},
                      Damage{"box_corner_past_vertices", Damage::kIndex, 1, 1000}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST(SoupSavedForm, TruncatedAndBitFlippedStreamsLoadSafely) {
    std::mt19937 rng(99);
    const SoupInput in = heightMap(rng, 3, false);
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), in));
    const std::vector<uint8_t> bytes = save(*soup);
    for (size_t n = 0; n < bytes.size(); ++n) {
        SoupHolder cut(makeSoup());
        ASSERT_FALSE(load(*cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)))) << n;
        expectEmpty(*cut);
    }
    int loaded = 0;
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> flipped(bytes);
        flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
        SoupHolder damaged(makeSoup());
        if (!load(*damaged, flipped)) {
            expectEmpty(*damaged);
            continue;
        }
        ++loaded;
        Reported r;
        damaged->getFacesInAABB(pt(-1e6f, -1e6f, -1e6f), pt(1e6f, 1e6f, 1e6f), collect, &r);
        damaged->getFacesOnRay(pt(1.5f, 9, 1.5f), pt(1.3f, -9, 1.6f), collect, &r);
        for (size_t f = 0; f < r.faces.size(); ++f) {
            for (int32_t k = -3; k < r.counts[f]; ++k) {
                ASSERT_TRUE(k == -1 || (r.faces[f][k] >= 0 && r.faces[f][k] < damaged->getVertexCount()));
            }
        }
    }
    EXPECT_GT(loaded, 1000);
    // The empty soup saves as counts and box only, and loads with no arrays.
    SoupHolder empty(makeSoup());
    const std::vector<uint8_t> nothing = save(*empty);
    EXPECT_EQ(nothing.size(), 44u);
    EXPECT_TRUE(load(*soup, nothing));
    expectEmpty(*soup);
}

// ---- refused builds, memory ---------------------------------------------

TEST(SoupBuild, RefusesDamagedInputAndLeavesOutUnusableFaces) {
    std::mt19937 rng(5);
    const SoupInput good = heightMap(rng, 2, false);
    SoupHolder soup(makeSoup());
    const int32_t *fa = good.faces.data(), *ia = good.indices.data();
    const float* va = good.xyz.data();
    const int32_t fc = good.getFaceCount(), ic = good.getIndexCount(), vc = good.getVertexCount();
    const std::vector<int32_t> zeroEntry{4, 0, 4, 4, 4, 4, 4, 4};
    const std::vector<int32_t> pastEnd{4, 4, 4, 4, 4, 4, 4, 5};
    struct Refusal {
        int32_t faces, indices, vertices;
        const int32_t *faceArray, *indexArray;
        const float* vertexArray;
    } refusals[] = {{-1, ic, vc, fa, ia, va},
                    {fc, -1, vc, fa, ia, va},
                    {fc, ic, -1, fa, ia, va},
                    {fc, ic, vc, nullptr, ia, va},
                    {fc, ic, vc, fa, nullptr, va},
                    {fc, ic, vc, fa, ia, nullptr},
                    {fc, ic, vc, zeroEntry.data(), ia, va},
                    {fc, ic, vc, pastEnd.data(), ia, va}};
    for (const Refusal& r : refusals) {
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), good));
        EXPECT_FALSE(dgBuildBspPolygonSoup(soup.get(), r.faces, r.faceArray, r.indices, r.indexArray,
                                           r.vertices, r.vertexArray));
        expectEmpty(*soup);
    }

    // Beyond what a leaf addresses: refused without wrapping.
    std::vector<int32_t> huge(size_t(1) << 24, 0);
    const int32_t hugeFaces[2] = {(1 << 24) - 4, 4};
    EXPECT_FALSE(dgBuildBspPolygonSoup(soup.get(), 2, hugeFaces, 1 << 24, huge.data(), vc, va));
    expectEmpty(*soup);

    // A face with an index out of range, a non-finite vertex or two vertices
    // is left out; the others build. One face alone builds nothing.
    SoupInput bad(good);
    bad.indices[2] = vc;
    bad.face(1, {0, 1});
    bad.face(2, {0, 1, bad.vertex(std::nanf(""), 0, 0)});
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), bad));
    EXPECT_EQ(soup->getNodeCount(), fc - 2);
    SoupInput single;
    single.face(3, {single.vertex(0, 0, 0), single.vertex(0, 0, 1), single.vertex(1, 0, 0)});
    EXPECT_FALSE(dgBuildBspPolygonSoup(soup.get(), single));
    expectEmpty(*soup);
}

TEST(SoupBuild, CountingHooksBalanceOverBuildsRebuildsLoadsAndReleases) {
    std::mt19937 rng(3);
    const SoupInput a = heightMap(rng, 12, false), b = randomSoup(rng, 200);
    {
        SoupHolder warm(makeSoup());
        dgBuildBspPolygonSoup(warm.get(), a);
    }
    CountingHooks hooks;
    {
        SoupHolder soup(makeSoup()), copy(makeSoup());
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), a));
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), b));
        ASSERT_TRUE(load(*copy, save(*soup)));
        ASSERT_TRUE(load(*copy, chainStream(40, true)));
        EXPECT_FALSE(load(*copy, std::vector<uint8_t>(10, 0)));
    }
    dgMemoryCacheFlush();
    EXPECT_EQ(hooks.liveBlocks(), 0);
    EXPECT_EQ(hooks.foreignReleases(), 0);
    EXPECT_EQ(hooks.sizeMismatches(), 0);
}

}  // namespace
