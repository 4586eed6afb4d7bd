// Every generated model read back as the game reads it (the engine's .x
// loader on the null device): closed and outward hulls inside their bodies'
// boxes, under the triangle budget, each with its texture beside it.
#include "MeshReadBack.h"

#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/stat.h>

using meshcheck::LoadedMesh;
using meshcheck::P3;

namespace {

const std::string kMedia = TARNWELL_MEDIA_DIR;

struct MeshCase {
    const char* path;
    P3 lo, hi;    // the body's box (or the model's place) it must stay inside
    bool closed;  // hull; the shock wave and the light beam are open sheets
};

// Boxes: scout 6 x 3 x 10, bombers 8 x 3 x 10 and 36 x 10 x 16, torpedo
// 0.5 x 0.5 x 2, debris 2.5, station 60 x 115 x 80 (its doors inside it).
const MeshCase kMeshes[] = {
    {"mesh/cockpit/cockpit_spielerschiff01.x", {-3, -3, 1.0}, {3, 3, 4}, true},
    {"mesh/cockpit/cockpit_spielerschiff01_gun_left.x", {-2.0, -1.5, -0.5}, {-1.0, -0.5, 3.0}, true},
    {"mesh/cockpit/cockpit_spielerschiff01_gun_right.x", {1.0, -1.5, -0.5}, {2.0, -0.5, 3.0}, true},
    {"mesh/mantis1/mantis_scout01.X", {-3, -1.5, -5}, {3, 1.5, 5}, true},
    {"mesh/bomber1/bomber.x", {-4, -1.5, -5}, {4, 1.5, 5}, true},
    {"mesh/bomber2/bomber_02.x", {-18, -5, -8}, {18, 5, 8}, true},
    {"mesh/trash/trash_small_01.x", {-1.25, -1.25, -1.25}, {1.25, 1.25, 1.25}, true},
    {"mesh/trash/trash_small_02.x", {-1.25, -1.25, -1.25}, {1.25, 1.25, 1.25}, true},
    {"mesh/trash/trash_small_03.x", {-1.25, -1.25, -1.25}, {1.25, 1.25, 1.25}, true},
    {"mesh/torpedo/torp_hellshark.x", {-0.25, -0.25, -1}, {0.25, 0.25, 1}, true},
    {"mesh/station1/station_01.x", {-30, -57.5, -40}, {30, 57.5, 40}, true},
    {"mesh/station1/station_01_door_01.x", {-30, -57.5, -40}, {30, 57.5, 40}, true},
    {"mesh/station1/station_01_door_02.x", {-30, -57.5, -40}, {30, 57.5, 40}, true},
    {"mesh/shockwave/shockwave01.x", {-1.1, -0.01, -1.1}, {1.1, 0.01, 1.1}, false},
    {"mesh/spotlight/spotlight_01.x", {-2.6, -2.6, -0.01}, {2.6, 2.6, 10.01}, false},
};

void PrintTo(const MeshCase& c, std::ostream* os) {
    *os << c.path;
}

bool isPowerOfTwo(irr::u32 v) {
    return v != 0 && (v & (v - 1)) == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

class MeshFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        irr::SIrrlichtCreationParameters params;
        params.DriverType = irr::video::EDT_NULL;
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
    }
    static void TearDownTestSuite() {
        device->drop();
        device = nullptr;
    }
    static LoadedMesh load(const std::string& path) {
        return meshcheck::loadMesh(device->getSceneManager(), kMedia + "/" + path);
    }
    static irr::IrrlichtDevice* device;
};

irr::IrrlichtDevice* MeshFiles::device = nullptr;

class EveryMesh : public MeshFiles, public ::testing::WithParamInterface<MeshCase> {};

TEST_P(EveryMesh, ReadsBackWithinItsBoxAndBudget) {
    const MeshCase& c = GetParam();
    const std::string text = readFile(kMedia + "/" + c.path);
    ASSERT_EQ(text.rfind("xof 0303txt 0032", 0), 0u) << c.path;
    for (const char* part : {"MeshNormals", "MeshTextureCoords", "MeshMaterialList", "TextureFilename"}) {
        EXPECT_NE(text.find(part), std::string::npos) << c.path << " lacks " << part;
    }
    const LoadedMesh mesh = load(c.path);
    ASSERT_TRUE(mesh.ok) << c.path;
    EXPECT_GT(mesh.tris.size(), 10u) << c.path;
    EXPECT_LT(mesh.tris.size(), 2000u) << c.path;
    const double eps = 1e-3;
    EXPECT_GE(mesh.lo.x, c.lo.x - eps) << c.path;
    EXPECT_GE(mesh.lo.y, c.lo.y - eps) << c.path;
    EXPECT_GE(mesh.lo.z, c.lo.z - eps) << c.path;
    EXPECT_LE(mesh.hi.x, c.hi.x + eps) << c.path;
    EXPECT_LE(mesh.hi.y, c.hi.y + eps) << c.path;
    EXPECT_LE(mesh.hi.z, c.hi.z + eps) << c.path;
    if (c.closed) {
        EXPECT_TRUE(mesh.closed()) << c.path;
        EXPECT_GT(mesh.signedVolume(), 0.0) << c.path << ": faces must turn clockwise seen from outside";
    } else {
        EXPECT_GT(mesh.borderEdges(), 0u) << c.path << " should be an open sheet";
    }
}

TEST_P(EveryMesh, TextureSitsBesideIt) {
    const MeshCase& c = GetParam();
    const LoadedMesh mesh = load(c.path);
    ASSERT_TRUE(mesh.ok) << c.path;
    ASSERT_FALSE(mesh.textures.empty()) << c.path;
    const std::string folder = folderOf(kMedia + "/" + c.path);
    for (const std::string& texture : mesh.textures) {
        ASSERT_FALSE(texture.empty()) << c.path << " has no texture";
        EXPECT_EQ(folderOf(texture), folder) << texture;
        irr::video::IImage* image = device->getVideoDriver()->createImageFromFile(texture.c_str());
        ASSERT_NE(image, nullptr) << texture;
        EXPECT_TRUE(isPowerOfTwo(image->getDimension().Width)) << texture;
        EXPECT_TRUE(isPowerOfTwo(image->getDimension().Height)) << texture;
        image->drop();
    }
    // The file names it bare: the engine finds it by the mesh's folder.
    const std::string text = readFile(kMedia + "/" + c.path);
    const size_t quote = text.find('"', text.find("TextureFilename"));
    ASSERT_NE(quote, std::string::npos);
    const std::string named = text.substr(quote + 1, text.find('"', quote + 1) - quote - 1);
    EXPECT_EQ(named.find('/'), std::string::npos) << named;
    struct stat info {};
    EXPECT_EQ(stat((folder + "/" + named).c_str(), &info), 0) << named;
}

std::string testName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Generated, EveryMesh, ::testing::ValuesIn(kMeshes),
                         [](const ::testing::TestParamInfo<MeshCase>& info) {
                             return testName(info.param.path);
                         });

// The pilot's eye sits at (0, 0, 3) of the scout, inside its hull: beyond
// the near plane (1.0 ahead of the eye) no face of the hull may turn its
// front to the eye, or the pilot would look at his own craft from inside.
TEST_F(MeshFiles, ScoutShowsNoFaceToItsPilot) {
    const LoadedMesh mesh = load("mesh/mantis1/mantis_scout01.X");
    ASSERT_TRUE(mesh.ok);
    const P3 eye{0.0, 0.0, 3.0};
    size_t seen = 0, ahead = 0;
    for (const auto& t : mesh.tris) {
        const P3 a = mesh.points[t[0]], b = mesh.points[t[1]], c = mesh.points[t[2]];
        if (std::fmax(a.z, std::fmax(b.z, c.z)) <= eye.z + 1.0) {
            continue;
        }
        ++ahead;
        const P3 n = meshcheck::cross(b - a, c - a);
        if (meshcheck::dot(eye - a, n) > 1e-9) {
            ++seen;
        }
    }
    EXPECT_GT(ahead, 0u);
    EXPECT_EQ(seen, 0u);
}

// The cockpit frame is drawn around the eye at its origin: all of it must lie
// beyond the near plane, and the guns hang at (-1.5, -1) and (1.5, -1).
TEST_F(MeshFiles, CockpitBeyondNearPlaneGunsAtTheirMounts) {
    const LoadedMesh cockpit = load("mesh/cockpit/cockpit_spielerschiff01.x");
    ASSERT_TRUE(cockpit.ok);
    for (const P3& p : cockpit.points) {
        EXPECT_GT(p.z, 1.0);
        EXPECT_GT(std::sqrt(meshcheck::dot(p, p)), 1.0);
    }
    struct Gun {
        const char* path;
        double x;
    };
    for (const Gun& gun : {Gun{"mesh/cockpit/cockpit_spielerschiff01_gun_left.x", -1.5},
                           Gun{"mesh/cockpit/cockpit_spielerschiff01_gun_right.x", 1.5}}) {
        const LoadedMesh mesh = load(gun.path);
        ASSERT_TRUE(mesh.ok) << gun.path;
        EXPECT_NEAR((mesh.lo.x + mesh.hi.x) / 2.0, gun.x, 0.1) << gun.path;
        EXPECT_NEAR((mesh.lo.y + mesh.hi.y) / 2.0, -1.0, 0.15) << gun.path;
        EXPECT_NEAR(mesh.lo.z, 0.0, 0.2) << gun.path;
        EXPECT_GT(mesh.hi.z, 1.5) << gun.path << ": the barrel reaches past the near plane";
    }
}

// Each door fills an opening of the station: from the door's middle the way
// out along its face normal is open in the station alone, while the station
// closes round the door's edges on every side.
TEST_F(MeshFiles, DoorsFillOpeningsOfTheStation) {
    const LoadedMesh station = load("mesh/station1/station_01.x");
    ASSERT_TRUE(station.ok);
    P3 mouths[2];
    int index = 0;
    for (const char* path : {"mesh/station1/station_01_door_01.x", "mesh/station1/station_01_door_02.x"}) {
        const LoadedMesh door = load(path);
        ASSERT_TRUE(door.ok) << path;
        const P3 middle = (door.lo + door.hi) * 0.5, size = door.hi - door.lo;
        mouths[index++] = middle;
        // The door's thin axis is its face normal.
        P3 normal{1, 0, 0}, side1{0, 1, 0}, side2{0, 0, 1};
        double half1 = size.y / 2.0, half2 = size.z / 2.0;
        if (size.y <= size.x && size.y <= size.z) {
            normal = {0, 1, 0};
            side1 = {1, 0, 0};
            half1 = size.x / 2.0;
        } else if (size.z <= size.x && size.z <= size.y) {
            normal = {0, 0, 1};
            side2 = {1, 0, 0};
            half2 = size.x / 2.0;
        }
        const bool outwardOpen = meshcheck::rayHit(station, middle, normal) < 0.0 ||
                                 meshcheck::rayHit(station, middle, normal * -1.0) < 0.0;
        EXPECT_TRUE(outwardOpen) << path << " does not sit in an opening";
        for (const auto& pair : {std::make_pair(side1, half1), std::make_pair(side2, half2)}) {
            for (double sign : {-1.0, 1.0}) {
                const double hit = meshcheck::rayHit(station, middle, pair.first * sign);
                EXPECT_GT(hit, 0.0) << path;
                EXPECT_LT(hit, pair.second + 0.1) << path << ": a gap between the door and the station";
            }
        }
        EXPECT_TRUE(door.closed()) << path;
    }
    const P3 apart = mouths[0] - mouths[1];
    EXPECT_GT(meshcheck::dot(apart, apart), 1.0) << "the two doors close the same opening";
}

// The shock wave is a flat ring of radius about 1 with vertex colours the
// particle system fades; the light beam an open cone along +z, 10 long and
// 2.5 wide at its end.
TEST_F(MeshFiles, RingAndBeamShapes) {
    const LoadedMesh ring = load("mesh/shockwave/shockwave01.x");
    ASSERT_TRUE(ring.ok);
    double inner = 1e9, outer = 0.0;
    for (const P3& p : ring.points) {
        const double r = std::hypot(p.x, p.z);
        inner = std::fmin(inner, r);
        outer = std::fmax(outer, r);
    }
    EXPECT_NEAR(outer, 1.0, 0.1);
    EXPECT_GT(inner, 0.2);
    EXPECT_NE(readFile(kMedia + "/mesh/shockwave/shockwave01.x").find("MeshVertexColors"), std::string::npos);
    EXPECT_FALSE(ring.colours.empty());

    const LoadedMesh beam = load("mesh/spotlight/spotlight_01.x");
    ASSERT_TRUE(beam.ok);
    EXPECT_NEAR(beam.hi.z - beam.lo.z, 10.0, 0.5);
    double endRadius = 0.0, startRadius = 1e9;
    for (const P3& p : beam.points) {
        const double r = std::hypot(p.x, p.y);
        if (p.z > beam.hi.z - 0.01) {
            endRadius = std::fmax(endRadius, r);
        }
        if (p.z < beam.lo.z + 0.01) {
            startRadius = std::fmin(startRadius, r);
        }
    }
    EXPECT_NEAR(endRadius, 2.5, 0.1);
    EXPECT_LT(startRadius, 0.5);
    // Open at the far end: the rim's edges belong to one triangle each.
    EXPECT_GE(beam.borderEdges(), 16u);
}

// Three different chunks, not one copied: their volumes differ.
TEST_F(MeshFiles, DebrisChunksDiffer) {
    double volumes[3];
    int i = 0;
    for (const char* path :
         {"mesh/trash/trash_small_01.x", "mesh/trash/trash_small_02.x", "mesh/trash/trash_small_03.x"}) {
        const LoadedMesh mesh = load(path);
        ASSERT_TRUE(mesh.ok) << path;
        volumes[i++] = mesh.signedVolume();
    }
    EXPECT_GT(std::fabs(volumes[0] - volumes[1]), 0.01);
    EXPECT_GT(std::fabs(volumes[1] - volumes[2]), 0.01);
    EXPECT_GT(std::fabs(volumes[0] - volumes[2]), 0.01);
}

}  // namespace
