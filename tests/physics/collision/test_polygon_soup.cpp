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

typedef dgDoublePlaneBSPPolygonSoup Soup;
typedef dgRefHolder<Soup> SoupHolder;

SoupHolder makeSoup() {
    return SoupHolder::adopt(new Soup());
}
dgVector pt(float x, float y, float z) {
    return dgVector(x, y, z, 1.0f);
}

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

// n x n unit cells, walkable side up: two triangles each, or a flat quad.
SoupInput heightMap(std::mt19937& rng, int n, bool quads) {
    SoupInput in;
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            in.vertex(float(i), quads ? 0.0f : 0.5f * float(rng() % 4), float(j));
        }
    }
    for (int32_t a = 0; a < n * (n + 1); ++a) {
        const int32_t b = a + 1, c = b + n + 1, d = a + n + 1;
        if (a % (n + 1) == n) {
            continue;
        }
        if (quads) {
            in.face(a, {a, b, c, d});
        } else {
            in.face(2 * a, {a, b, c});
            in.face(2 * a + 1, {a, c, d});
        }
    }
    return in;
}

// Scattered triangles and planar quads of many sizes, facing anywhere.
SoupInput randomSoup(std::mt19937& rng, int count) {
    SoupInput in;
    std::uniform_real_distribution<float> at(-20.0f, 20.0f), size(0.05f, 6.0f);
    for (int f = 0; f < count; ++f) {
        const dgVector o(at(rng), at(rng), at(rng), 0.0f), u(testsupport::randomUnit(rng) * size(rng));
        const dgVector w(testsupport::randomUnit(rng).cross(u) * size(rng));
        const dgVector corners[4] = {o, o + u, o + u + w, o + w};
        std::vector<int32_t> v;
        for (int k = 0; k < 3 + f % 2; ++k) {
            v.push_back(in.vertex(corners[k].x, corners[k].y, corners[k].z));
        }
        in.face(f, v);
    }
    return in;
}

struct Faces {
    std::vector<const int32_t*> faces;
    std::vector<int32_t> counts;
    int32_t stopAfter = -1;
};
int32_t collect(void* context, const float*, int32_t stride, const int32_t* indices, int32_t count) {
    Faces& r = *static_cast<Faces*>(context);
    EXPECT_EQ(stride, 12);
    r.faces.push_back(indices);
    r.counts.push_back(count);
    return (int32_t(r.faces.size()) == r.stopAfter) ? 0 : 1;
}

float project(const Soup& soup, int32_t d, int32_t vertex) {
    const float* v = soup.getVertexArray() + 3 * vertex;
    return dgBspProject(d, v[0], v[1], v[2]);
}

// Appends the subtree's leaves, checking that along each node's direction
// the left faces lie at or below its left maximum and the right ones at or
// above its right minimum. Returns the subtree's depth.
int walkTree(const Soup& soup, uint32_t ref, Faces& out) {
    if (dgBspIsLeaf(ref)) {
        out.faces.push_back(soup.getIndexArray() + dgBspLeafPosition(ref));
        out.counts.push_back(dgBspLeafCount(ref));
        return 0;
    }
    const dgBspNode& node = soup.getNodeArray()[dgBspNodeIndex(ref)];
    const size_t first = out.faces.size();
    const int left = walkTree(soup, node.m_left, out);
    const size_t mid = out.faces.size();
    const int right = walkTree(soup, node.m_right, out);
    for (size_t f = first; f < out.faces.size(); ++f) {
        for (int32_t k = 0; k < out.counts[f]; ++k) {
            const float p = project(soup, node.m_direction, out.faces[f][k]);
            EXPECT_TRUE((f < mid) ? (p <= node.m_leftMax) : (p >= node.m_rightMin));
        }
    }
    return 1 + std::max(left, right);
}

// Box queries against every face: each reported once, only with a stored
// box touching the query, and surely when all 24 of the face's slabs overlap
// the query's by a margin.
void checkBoxQueries(const Soup& soup, const Faces& all, std::mt19937& rng, float reach, float extent) {
    std::uniform_real_distribution<float> at(-reach, reach), size(0.01f, extent);
    for (int q = 0; q < 300; ++q) {
        const dgVector lo(at(rng), at(rng), at(rng), 0.0f);
        const dgVector hi(lo + dgVector(size(rng), size(rng), size(rng), 0.0f));
        Faces r;
        soup.getFacesInAABB(lo, hi, collect, &r);
        std::sort(r.faces.begin(), r.faces.end());
        ASSERT_TRUE(std::adjacent_find(r.faces.begin(), r.faces.end()) == r.faces.end());
        for (size_t f = 0; f < all.faces.size(); ++f) {
            const int32_t* face = all.faces[f];
            bool touches = true, inside = true;
            for (int32_t d = 0; d < dgBspDirectionCount; ++d) {
                float fmin = 1e30f, fmax = -1e30f, qmin = 1e30f, qmax = -1e30f;
                for (int32_t k = 0; k < all.counts[f]; ++k) {
                    fmin = std::min(fmin, project(soup, d, face[k]));
                    fmax = std::max(fmax, project(soup, d, face[k]));
                }
                for (int c = 0; c < 8; ++c) {
                    const float p =
                        dgBspProject(d, (c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z);
                    qmin = std::min(qmin, p);
                    qmax = std::max(qmax, p);
                }
                inside = inside && (fmin < qmax - 1e-3f) && (fmax > qmin + 1e-3f);
                touches = touches && ((d > 2) || ((project(soup, d, face[-2]) >= qmin) &&
                                                  (project(soup, d, face[-3]) <= qmax)));
            }
            const bool reported = std::binary_search(r.faces.begin(), r.faces.end(), face);
            ASSERT_TRUE(reported ? touches : !inside) << "query " << q << " face " << f;
        }
    }
}

// The tree's nearest hit against the face test over every face.
void checkRay(const Soup& soup, const Faces& all, const dgVector& p0, const dgVector& p1) {
    dgRayHitRecord brute(p0, p1);
    for (size_t f = 0; f < all.faces.size(); ++f) {
        dgRayHitClosestCallback(&brute, soup.getVertexArray(), 12, all.faces[f], all.counts[f]);
    }
    const float t = soup.rayHit(p0, p1);
    ASSERT_EQ(t < 1.1f, brute.t < 1.1f) << p0.x << " " << p0.z << " to " << p1.x << " " << p1.z;
    EXPECT_NEAR(t, brute.t, 1e-5f);
    EXPECT_EQ(soup.rayHitAny(p0, p1), brute.t < 1.1f);
}

std::vector<uint8_t> save(const Soup& soup) {
    std::vector<uint8_t> bytes;
    soup.serialize(
        [](void* out, const void* data, uint32_t count) {
            const uint8_t* b = static_cast<const uint8_t*>(data);
            static_cast<std::vector<uint8_t>*>(out)->insert(static_cast<std::vector<uint8_t>*>(out)->end(), b,
                                                            b + count);
        },
        &bytes);
    return bytes;
}

struct Stream {
    const std::vector<uint8_t>& bytes;
    size_t at;
};
bool load(Soup& soup, const std::vector<uint8_t>& bytes) {
    Stream stream{bytes, 0};
    return soup.deserialize(
        [](void* context, void* buffer, uint32_t count) -> uint32_t {
            Stream& s = *static_cast<Stream*>(context);
            const size_t n = std::min(size_t(count), s.bytes.size() - s.at);
            if (n > 0) {
                memcpy(buffer, s.bytes.data() + s.at, n);
            }
            s.at += n;
            return n;
        },
        &stream);
}

void expectEmpty(const Soup& soup) {
    EXPECT_TRUE(!soup.getNodeArray() && !soup.getIndexArray() && !soup.getVertexArray());
    EXPECT_EQ(soup.getNodeCount() + soup.getIndexCount() + soup.getVertexCount(), 0);
    Faces r;
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

    // Every face in one leaf, in the builder's order with its attribute, the
    // stored box holding it (corners welded within about 1e-4).
    Faces all;
    EXPECT_EQ(walkTree(*soup, dgBspMakeNode(0), all), soup->getTreeDepth());
    ASSERT_EQ(all.faces.size(), in.faces.size());
    std::vector<std::pair<const int32_t*, int32_t>> leaves;
    for (size_t f = 0; f < all.faces.size(); ++f) {
        leaves.emplace_back(all.faces[f], all.counts[f]);
    }
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(0, memcmp(soup->getVertexArray(), in.xyz.data(), in.xyz.size() * sizeof(float)));
    for (size_t f = 0, at = 0, position = 3; f < in.faces.size(); at += size_t(in.faces[f]), ++f) {
        all.faces[f] = leaves[f].first;
        all.counts[f] = leaves[f].second;
        ASSERT_EQ(all.faces[f], soup->getIndexArray() + position);
        ASSERT_EQ(all.counts[f], in.faces[f] - 1);
        position += size_t(in.faces[f]) + 2;
        ASSERT_EQ(0, memcmp(all.faces[f] - 1, &in.indices[at], size_t(in.faces[f]) * sizeof(int32_t)));
        for (int32_t k = 0; k < all.counts[f]; ++k) {
            for (int32_t axis = 0; axis < 3; ++axis) {
                EXPECT_GE(project(*soup, axis, all.faces[f][k]),
                          project(*soup, axis, all.faces[f][-3]) - 2e-4f);
                EXPECT_LE(project(*soup, axis, all.faces[f][k]),
                          project(*soup, axis, all.faces[f][-2]) + 2e-4f);
            }
        }
    }

    const float reach = (c.kind == 0) ? 22.0f : float(c.size);
    checkBoxQueries(*soup, all, rng, reach, (c.kind == 0) ? 8.0f : 3.0f);
    std::uniform_real_distribution<float> at(-reach, reach), unit(0.0f, 1.0f);
    for (int q = 0; q < 400; ++q) {
        if (c.kind == 0) {
            checkRay(*soup, all, pt(at(rng), at(rng), at(rng)), pt(at(rng), at(rng), at(rng)));
            continue;
        }
        // Vertical rays through vertices, along grid lines and diagonals,
        // then slanted, all inside the map.
        const float i = float(1 + rng() % (c.size - 1)), j = float(1 + rng() % (c.size - 1));
        const float f = unit(rng) * 0.98f + 0.01f;
        const float xz[5][2] = {{i, j}, {i, j - f}, {i - f, j}, {i - f, j - f}, {i - 1 + f, j - f}};
        const float* p = xz[q % 5];
        checkRay(*soup, all, pt(p[0], 10, p[1]), pt(p[0], -10, p[1]));
        checkRay(*soup, all, pt(p[0], 4, p[1]), pt(p[0] + unit(rng), -3, p[1] - unit(rng)));
    }

    // Saved (counts, box, 12-byte vertices, indices, 20-byte nodes), loaded
    // and saved again: the same bytes and answers. Rebuilding replaces the
    // soup by equal bytes.
    const std::vector<uint8_t> bytes = save(*soup);
    ASSERT_EQ(bytes.size(), 44 + 12 * size_t(soup->getVertexCount()) + 4 * size_t(soup->getIndexCount()) +
                                20 * size_t(soup->getNodeCount()));
    SoupHolder loaded(makeSoup());
    ASSERT_TRUE(load(*loaded, bytes));
    EXPECT_EQ(save(*loaded), bytes);
    EXPECT_EQ(loaded->getTreeDepth(), soup->getTreeDepth());
    for (int q = 0; q < 50; ++q) {
        const dgVector p0(pt(at(rng), 10, at(rng))), p1(pt(at(rng), -10, at(rng)));
        EXPECT_EQ(loaded->rayHit(p0, p1), soup->rayHit(p0, p1));
    }
    ASSERT_TRUE(dgBuildBspPolygonSoup(loaded.get(), in));
    EXPECT_EQ(save(*loaded), bytes);
}

INSTANTIATE_TEST_SUITE_P(Soups, BuiltSoup,
                         ::testing::Values(SoupCase{"two_faces", 0, 2}, SoupCase{"random_60", 0, 60},
                                           SoupCase{"random_700", 0, 700}, SoupCase{"heights_4", 1, 4},
                                           SoupCase{"heights_16", 1, 16}, SoupCase{"flat_quads_20", 2, 20}),
                         [](const ::testing::TestParamInfo<SoupCase>& info) { return info.param.name; });

// ---- edges, seams, large faces --------------------------------------------

TEST(SoupSeams, SegmentsAlongAnyEdgeOfATriangleHit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> at(-5.0f, 5.0f), f(0.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        const float v[9] = {at(rng), 0, at(rng), at(rng), 0, at(rng), at(rng), 0, at(rng)};
        const dgVector a(pt(v[0], 0, v[2])), b(pt(v[3], 0, v[5])), c(pt(v[6], 0, v[8]));
        const dgVector ab(b - a), bc(c - b), ca(a - c), n(ab.cross(bc));
        // Slivers aside: there rounding outweighs the tolerance.
        if (std::fabs(n.y) < 0.2f * ((ab % ab) + (bc % bc) + (ca % ca))) {
            continue;
        }
        const int32_t order[2][3] = {{0, 1, 2}, {0, 2, 1}};
        const dgVector ends[4] = {a, b, c, a};
        const dgVector q(ends[i % 3] + (ends[i % 3 + 1] - ends[i % 3]) * f(rng));
        float t;
        dgVector normal;
        ASSERT_TRUE(dgRayFaceTest(pt(q.x, 1, q.z), pt(q.x, -1, q.z), v, 12, order[n.y < 0.0f], 3, t, normal));
    }
}

TEST(SoupSeams, VerticalRayOnTheSplitBetweenTwoFacesHits) {
    // A quad and a triangle split at x = 1 along direction 0.
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
    ASSERT_TRUE(root.m_direction == 0 && root.m_leftMax == 1.0f && root.m_rightMin == 1.0f);
    EXPECT_FLOAT_EQ(soup->rayHit(pt(1, 1, 0.25f), pt(1, -1, 0.25f)), 0.5f);
    EXPECT_FLOAT_EQ(soup->rayHit(pt(0.999f, 1, 0.1f), pt(0.999f, -1, 0.1f)), 0.5f);
    // A miss reads 1.1; faces are one-sided.
    EXPECT_FLOAT_EQ(soup->rayHit(pt(1.5f, 1, 0.1f), pt(1.5f, -1, 0.1f)), 1.1f);
    EXPECT_FALSE(soup->rayHitAny(pt(1, -1, 0.5f), pt(1, 1, 0.5f)));
}

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
    // Fan pieces with the attribute, each within a leaf, of the same area.
    Faces r;
    soup->getFacesInAABB(pt(-11, -1, -11), pt(11, 1, 11), collect, &r);
    EXPECT_EQ(int(r.faces.size()), (n - 2 + 124) / 125);
    double area = 0.0;
    for (size_t i = 0; i < r.faces.size(); ++i) {
        const int32_t* face = r.faces[i];
        EXPECT_EQ(face[-1], 77);
        ASSERT_TRUE(r.counts[i] >= 3 && r.counts[i] <= dgBspMaxLeafVertices);
        for (int32_t k = 2; k < r.counts[i]; ++k) {
            const float *a = soup->getVertexArray() + 3 * face[0],
                        *b = soup->getVertexArray() + 3 * face[k - 1],
                        *c = soup->getVertexArray() + 3 * face[k];
            area += 0.5 * ((double(b[2]) - a[2]) * (double(c[0]) - a[0]) -
                           (double(b[0]) - a[0]) * (double(c[2]) - a[2]));
        }
    }
    EXPECT_NEAR(area, 0.5 * n * 100.0 * std::sin(2.0 * testsupport::kPi / n), 1e-2);
    // Rays across the cuts hit as the face test over the pieces says; all
    // of them while the fan's triangles are not slivers.
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> at(-6.9f, 6.9f);
    for (int q = 0; q < 500; ++q) {
        const float x = at(rng), z = at(rng);
        checkRay(*soup, r, pt(x, 1, z), pt(x, -1, z));
        ASSERT_TRUE(n > 300 || soup->rayHit(pt(x, 1, z), pt(x, -1, z)) == 0.5f);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeFace, ::testing::Values(65, 127, 128, 300, 3000));

// ---- deep trees, saved forms ----------------------------------------------

// A saved soup written by hand: triangle f at x = f, and a tree of 2m nodes
// of depth m + 1: a chain whose other children are small inner nodes, so a
// walk keeps one pending node per level. The chain runs right for the box
// walk (left taken first), left for the segment walk. Planes let all pass.
std::vector<uint8_t> chainStream(int32_t m, bool chainOnRight) {
    std::vector<float> xyz;
    std::vector<int32_t> indices;
    for (int32_t f = 0; f <= 2 * m; ++f) {
        const float x = float(f);
        const int32_t v = int32_t(xyz.size() / 3);
        xyz.insert(xyz.end(), {x, 0, 0, x + 0.5f, 0, 1, x, 0, 0, x, 0, 1, x + 0.5f, 0, 0});
        indices.insert(indices.end(), {v, v + 1, 100 + f, v + 2, v + 3, v + 4});
    }
    std::vector<dgBspNode> nodes(size_t(2 * m));
    for (int32_t k = 0; k < m; ++k) {
        const uint32_t next = (k + 1 < m) ? dgBspMakeNode(k + 1) : dgBspMakeLeaf(12 * m + 3, 3);
        const uint32_t small = dgBspMakeNode(m + k);
        nodes[size_t(k)] =
            dgBspNode{-1e30f, 1e30f, 0, chainOnRight ? small : next, chainOnRight ? next : small};
        nodes[size_t(m + k)] =
            dgBspNode{-1e30f, 1e30f, 0, dgBspMakeLeaf(12 * k + 3, 3), dgBspMakeLeaf(12 * k + 9, 3)};
    }
    const int32_t counts[3] = {int32_t(xyz.size() / 3), int32_t(indices.size()), int32_t(nodes.size())};
    const float box[8] = {0, 0, 0, 0, float(2 * m + 1), 0, 1, 0};
    std::vector<uint8_t> bytes(44);
    memcpy(bytes.data(), counts, 12);
    memcpy(bytes.data() + 12, box, 32);
    const uint8_t* parts[3] = {reinterpret_cast<const uint8_t*>(xyz.data()),
                               reinterpret_cast<const uint8_t*>(indices.data()),
                               reinterpret_cast<const uint8_t*>(nodes.data())};
    const size_t sizes[3] = {xyz.size() * 4, indices.size() * 4, nodes.size() * sizeof(dgBspNode)};
    for (int p = 0; p < 3; ++p) {
        bytes.insert(bytes.end(), parts[p], parts[p] + sizes[p]);
    }
    return bytes;
}

TEST(SoupWalks, DeepTreesAreWalkedToTheEndAndBadQueriesReportNothing) {
    for (const bool chainOnRight : {true, false}) {
        SoupHolder soup(makeSoup());
        ASSERT_TRUE(load(*soup, chainStream(300, chainOnRight)));
        EXPECT_EQ(soup->getTreeDepth(), 301);
        Faces box, ray, first;
        soup->getFacesInAABB(pt(-1, -1, -1), pt(700, 1, 2), collect, &box);
        soup->getFacesOnRay(pt(-1, 1, 0.1f), pt(700, -1, 0.1f), collect, &ray);
        for (Faces* r : {&box, &ray}) {
            std::sort(r->faces.begin(), r->faces.end());
            EXPECT_EQ(std::unique(r->faces.begin(), r->faces.end()) - r->faces.begin(), 601);
        }
        EXPECT_FLOAT_EQ(soup->rayHit(pt(599.1f, 1, 0.1f), pt(599.1f, -1, 0.1f)), 0.5f);
        // A callback answering 0 ends the walk at once.
        first.stopAfter = 1;
        soup->getFacesInAABB(pt(-1, -1, -1), pt(700, 1, 2), collect, &first);
        EXPECT_EQ(first.faces.size(), 1u);
    }
    // NaN or inverted boxes, NaN or infinite segments.
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(load(*soup, chainStream(3, true)));
    const float nan = std::nanf(""), inf = INFINITY;
    const dgVector boxes[4][2] = {{pt(nan, 0, 0), pt(9, 1, 1)},
                                  {pt(0, 0, 0), pt(9, nan, 1)},
                                  {pt(5, 0, 0), pt(1, 1, 1)},
                                  {pt(0, 1, 0), pt(9, -1, 1)}};
    const dgVector rays[2][2] = {{pt(nan, 1, 0.1f), pt(0.1f, -1, 0.1f)},
                                 {pt(0.1f, 1, 0.1f), pt(0.1f, -inf, 0.1f)}};
    Faces r;
    for (const auto& b : boxes) {
        soup->getFacesInAABB(b[0], b[1], collect, &r);
    }
    for (const auto& q : rays) {
        soup->getFacesOnRay(q[0], q[1], collect, &r);
    }
    EXPECT_TRUE(r.faces.empty());
}

struct Damage {
    const char* name;
    size_t word;  // 32-bit word of chainStream(2): 25 vertices, 30 indices, 4 nodes
    int64_t value;
};
// Word offsets of the parts: counts 0, indices 86, nodes 116 (five words
// each: right min, left max, direction, left, right).
const size_t kIndexWord = 11 + 75, kNodeWord = kIndexWord + 30;

class DamagedStream : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedStream, LeavesTheSoupEmpty) {
    std::vector<uint8_t> bytes = chainStream(2, true);
    const int32_t value = int32_t(GetParam().value);
    memcpy(&bytes[4 * GetParam().word], &value, 4);
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(load(*soup, chainStream(2, false)));
    EXPECT_FALSE(load(*soup, bytes));
    expectEmpty(*soup);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedStream,
    ::testing::Values(Damage{"negative_vertices", 0, -1}, Damage{"negative_indices", 1, -5},
                      Damage{"negative_nodes", 2, -1}, Damage{"huge_vertices", 0, (1 << 24) + 1},
                      Damage{"huge_indices", 1, 0x7fffffff}, Damage{"nodes_beyond_faces", 2, 6},
                      Damage{"no_nodes_but_faces", 2, 0}, Damage{"direction_out_of_range", kNodeWord + 2, 24},
                      Damage{"node_past_array", kNodeWord + 3, 8},
                      Damage{"node_reached_twice", kNodeWord + 3, 0},
                      Damage{"node_never_reached", kNodeWord + 3, int64_t(dgBspMakeLeaf(3, 3))},
                      Damage{"leaf_past_indices", kNodeWord + 8, int64_t(dgBspMakeLeaf(29, 3))},
                      Damage{"leaf_of_two_vertices", kNodeWord + 8, int64_t(dgBspMakeLeaf(3, 2))},
                      Damage{"leaf_before_its_box", kNodeWord + 8, int64_t(dgBspMakeLeaf(1, 3))},
                      Damage{"vertex_past_vertices", kIndexWord + 4, 25},
                      Damage{"negative_vertex", kIndexWord + 3, -1},
                      Damage{"box_corner_past_vertices", kIndexWord + 1, 1000}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

TEST(SoupSavedForm, TruncatedAndBitFlippedStreamsLoadSafely) {
    std::mt19937 rng(99);
    SoupHolder soup(makeSoup());
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), heightMap(rng, 3, false)));
    const std::vector<uint8_t> bytes = save(*soup);
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_FALSE(load(*soup, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)))) << n;
        expectEmpty(*soup);
    }
    int loaded = 0;
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> flipped(bytes);
        flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
        if (!load(*soup, flipped)) {
            expectEmpty(*soup);
            continue;
        }
        ++loaded;
        Faces r;
        soup->getFacesInAABB(pt(-1e6f, -1e6f, -1e6f), pt(1e6f, 1e6f, 1e6f), collect, &r);
        soup->getFacesOnRay(pt(1.5f, 9, 1.5f), pt(1.3f, -9, 1.6f), collect, &r);
        for (size_t f = 0; f < r.faces.size(); ++f) {
            for (int32_t k = -3; k < r.counts[f]; ++k) {
                ASSERT_TRUE(k == -1 || (r.faces[f][k] >= 0 && r.faces[f][k] < soup->getVertexCount()));
            }
        }
    }
    EXPECT_GT(loaded, 1000);
    // The empty soup saves as counts and box, and loads with no arrays.
    const std::vector<uint8_t> nothing = save(*makeSoup());
    EXPECT_EQ(nothing.size(), 44u);
    EXPECT_TRUE(load(*soup, nothing));
    expectEmpty(*soup);
}

// ---- refused builds, memory -------------------------------------------------

TEST(SoupBuild, RefusesDamagedInputAndLeavesOutUnusableFaces) {
    std::mt19937 rng(5);
    const SoupInput good = heightMap(rng, 2, false);
    const int32_t *fa = good.faces.data(), *ia = good.indices.data();
    const float* va = good.xyz.data();
    const int32_t fc = good.getFaceCount(), ic = good.getIndexCount(), vc = good.getVertexCount();
    const int32_t zeroEntry[8] = {4, 0, 4, 4, 4, 4, 4, 4}, pastEnd[8] = {4, 4, 4, 4, 4, 4, 4, 5};
    std::vector<int32_t> huge(size_t(1) << 24, 0);
    const int32_t hugeFaces[2] = {(1 << 24) - 4, 4};
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
                    {fc, ic, vc, zeroEntry, ia, va},
                    {fc, ic, vc, pastEnd, ia, va},
                    // Beyond what a leaf addresses: refused, not wrapped.
                    {2, 1 << 24, vc, hugeFaces, huge.data(), va}};
    SoupHolder soup(makeSoup());
    for (const Refusal& r : refusals) {
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), good));
        EXPECT_FALSE(dgBuildBspPolygonSoup(soup.get(), r.faces, r.faceArray, r.indices, r.indexArray,
                                           r.vertices, r.vertexArray));
        expectEmpty(*soup);
    }
    // Faces with an index out of range, a non-finite vertex or two vertices
    // are left out; one face alone builds nothing.
    SoupInput bad(good), single;
    bad.indices[2] = vc;
    bad.face(1, {0, 1});
    bad.face(2, {0, 1, bad.vertex(std::nanf(""), 0, 0)});
    ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), bad));
    EXPECT_EQ(soup->getNodeCount(), fc - 2);
    single.face(3, {single.vertex(0, 0, 0), single.vertex(0, 0, 1), single.vertex(1, 0, 0)});
    EXPECT_FALSE(dgBuildBspPolygonSoup(soup.get(), single));
    expectEmpty(*soup);
}

TEST(SoupBuild, CountingHooksBalanceOverBuildsRebuildsLoadsAndReleases) {
    std::mt19937 rng(3);
    const SoupInput a = heightMap(rng, 12, false), b = randomSoup(rng, 200);
    dgBuildBspPolygonSoup(makeSoup().get(), a);
    MemoryBalance hooks;
    {
        SoupHolder soup(makeSoup()), copy(makeSoup());
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), a));
        ASSERT_TRUE(dgBuildBspPolygonSoup(soup.get(), b));
        ASSERT_TRUE(load(*copy, save(*soup)));
        ASSERT_TRUE(load(*copy, chainStream(40, true)));
        EXPECT_FALSE(load(*copy, std::vector<uint8_t>(10, 0)));
        EXPECT_TRUE(copy->isClass(dgPolygonSoupDatabase::kClassId) && copy->isClass(dgRef::kClassId));
    }
    // An allocation failing anywhere in a build leaves a whole soup or none.
    for (int64_t k = 0; k < 40; ++k) {
        SoupHolder soup(makeSoup());
        hooks.failAfter(k);
        const bool built = dgBuildBspPolygonSoup(soup.get(), a);
        hooks.failAfter(-1);
        if (!built) {
            expectEmpty(*soup);
            continue;
        }
        Faces all;
        EXPECT_EQ(walkTree(*soup, dgBspMakeNode(0), all), soup->getTreeDepth());
        EXPECT_EQ(all.faces.size(), a.faces.size());
    }
}

}  // namespace
