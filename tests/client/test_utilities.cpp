#include "client/globals.h"
#include "ClientTestSupport.h"
#include "client/utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using irr::core::vector3df;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

// ---- Intercept point ------------------------------------------------------

struct InterceptCase {
    const char* name;
    vector3df shooter;
    vector3df target;
    vector3df velocity;
    float speed;
};

class InterceptGivesTheTarget : public testing::TestWithParam<InterceptCase> {};

TEST_P(InterceptGivesTheTarget, Exactly) {
    const InterceptCase& c = GetParam();
    const vector3df aim = computeInterceptPoint(c.shooter, c.target, c.velocity, c.speed);
    EXPECT_EQ(aim.X, c.target.X);
    EXPECT_EQ(aim.Y, c.target.Y);
    EXPECT_EQ(aim.Z, c.target.Z);
}

INSTANTIATE_TEST_SUITE_P(
    Intercept, InterceptGivesTheTarget,
    testing::Values(InterceptCase{"TargetAtRest", {1, 2, 3}, {40, -5, 7}, {0, 0, 0}, 30},
                    // |d x v| > |d| s: no real root.
                    InterceptCase{"NoRealRoot", {0, 0, 0}, {10, 0, 0}, {0, 50, 0}, 1},
                    // s = |v|: the divisor is zero.
                    InterceptCase{"EqualSpeeds", {0, 0, 0}, {10, 0, 0}, {0, 3, 4}, 5},
                    InterceptCase{"EqualSpeedsClosingIn", {0, 0, 0}, {10, 0, 0}, {-5, 0, 0}, 5},
                    InterceptCase{"NaNSpeed", {0, 0, 0}, {10, 0, 0}, {0, 1, 0}, NaN},
                    InterceptCase{"NaNShooter", {NaN, 0, 0}, {10, 0, 0}, {0, 1, 0}, 5},
                    InterceptCase{"InfiniteSpeed", {0, 0, 0}, {10, 0, 0}, {0, 1, 0}, Inf},
                    InterceptCase{"InfiniteVelocity", {0, 0, 0}, {10, 0, 0}, {Inf, 0, 0}, 5}),
    [](const testing::TestParamInfo<InterceptCase>& info) { return std::string(info.param.name); });

// Wherever a root exists, the aim lies on the target's path at some time t
// and the projectile covers |aim - shooter| = s |t| in that time. A
// projectile faster than the target meets it ahead, never at a point the
// target passed (t >= 0).
TEST(Intercept, AimSolvesTheMeetingEquation) {
    std::mt19937 random(1407);
    std::uniform_real_distribution<float> coordinate(-500.0f, 500.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> speed(1.0f, 100.0f);
    int32_t checked = 0;
    for (int32_t n = 0; n < 5000; ++n) {
        const vector3df shooter(coordinate(random), coordinate(random), coordinate(random));
        const vector3df target(coordinate(random), coordinate(random), coordinate(random));
        const vector3df velocity = vector3df(unit(random), unit(random), unit(random)) * speed(random);
        const float s = speed(random);
        const vector3df d = target - shooter;
        const double disc =
            static_cast<double>(d.getLengthSQ()) * s * s - d.crossProduct(velocity).getLengthSQ();
        const double divisor = static_cast<double>(s) * s - velocity.getLengthSQ();
        const vector3df aim = computeInterceptPoint(shooter, target, velocity, s);
        if (disc < 0.0) {
            EXPECT_TRUE(aim == target);
            continue;
        }
        // Near-equal speeds put the meeting point near infinity; float cannot
        // place it well there.
        if (std::fabs(divisor) < 0.05 * s * s) {
            continue;
        }
        const vector3df travel = aim - target;
        const double t = static_cast<double>(travel.dotProduct(velocity)) / velocity.getLengthSQ();
        // On the path: nothing of the travel across the velocity.
        EXPECT_LE(travel.crossProduct(velocity).getLength(),
                  1e-3 * (travel.getLength() + 1.0) * velocity.getLength());
        const double flown = (aim - shooter).getLength();
        EXPECT_NEAR(flown, s * std::fabs(t), 1e-3 * (flown + 1.0)) << "case " << n;
        if (divisor > 0.0) {
            EXPECT_GE(t, -1e-4 * (flown + 1.0) / s) << "case " << n;
        }
        ++checked;
    }
    EXPECT_GT(checked, 2000);
}

// ---- Cylinder mesh --------------------------------------------------------

irr::scene::SMeshBuffer* onlyBuffer(irr::scene::IMesh* mesh) {
    EXPECT_EQ(mesh->getMeshBufferCount(), 1u);
    return static_cast<irr::scene::SMeshBuffer*>(mesh->getMeshBuffer(0));
}

TEST(CylinderMesh, ThirteenSegmentsTwoRings) {
    const irr::video::SColor color(255, 10, 20, 30);
    irr::scene::IMesh* mesh = createCylinderMesh(color, 13, 2, 4.0f);
    ASSERT_NE(mesh, nullptr);
    irr::scene::SMeshBuffer* buffer = onlyBuffer(mesh);
    EXPECT_EQ(buffer->getIndexType(), irr::video::EIT_16BIT);
    ASSERT_EQ(buffer->getVertexCount(), 26u);
    ASSERT_EQ(buffer->getIndexCount(), 72u);

    const irr::u16 firstQuad[6] = {0, 1, 3, 3, 2, 0};
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(buffer->Indices[i], firstQuad[i]);
    }
    for (irr::u32 i = 0; i < buffer->getIndexCount(); ++i) {
        EXPECT_LT(buffer->Indices[i], 26u);
    }

    for (irr::u32 j = 0; j < 2; ++j) {
        const irr::video::S3DVertex& first = buffer->Vertices[j];
        const irr::video::S3DVertex& last = buffer->Vertices[24 + j];
        // The seam: same place, texture u 1 on the first column, 0 on the last.
        EXPECT_TRUE(first.Pos.equals(last.Pos));
        EXPECT_FLOAT_EQ(first.Pos.Z, 4.0f);
        EXPECT_FLOAT_EQ(first.TCoords.X, 1.0f);
        EXPECT_FLOAT_EQ(last.TCoords.X, 0.0f);
        // The radius leaves the height alone: +1 on the top ring, -1 below.
        EXPECT_FLOAT_EQ(first.Pos.Y, j == 0 ? 1.0f : -1.0f);
        EXPECT_FLOAT_EQ(first.TCoords.Y, j == 0 ? -1.0f : 0.0f);
        EXPECT_EQ(first.Color, color);
    }
    for (irr::u32 k = 0; k < 24; ++k) {
        const vector3df& p = buffer->Vertices[k].Pos;
        EXPECT_NEAR(std::sqrt(p.X * p.X + p.Z * p.Z), 4.0f, 1e-4f);
    }
    mesh->drop();
}

TEST(CylinderMesh, LargestMeshStillReachesEveryVertex) {
    irr::scene::IMesh* mesh = createCylinderMesh(irr::video::SColor(255, 255, 255, 255), 256, 256, 1.0f);
    ASSERT_NE(mesh, nullptr);
    irr::scene::SMeshBuffer* buffer = onlyBuffer(mesh);
    ASSERT_EQ(buffer->getVertexCount(), 65536u);
    EXPECT_EQ(buffer->getIndexCount(), 255u * 255u * 6u);
    irr::u16 highest = 0;
    for (irr::u32 i = 0; i < buffer->getIndexCount(); ++i) {
        highest = std::max(highest, buffer->Indices[i]);
    }
    EXPECT_EQ(highest, 65535);
    mesh->drop();
}

struct CylinderSize {
    int32_t segments;
    int32_t rings;
};

class CylinderMeshRefused : public testing::TestWithParam<CylinderSize> {};

TEST_P(CylinderMeshRefused, GivesNull) {
    EXPECT_EQ(
        createCylinderMesh(irr::video::SColor(255, 0, 0, 0), GetParam().segments, GetParam().rings, 1.0f),
        nullptr);
}

// Below two segments or rings the steps divide by zero; past 65536 vertices
// the 16-bit indices would wrap.
INSTANTIATE_TEST_SUITE_P(CylinderMesh, CylinderMeshRefused,
                         testing::Values(CylinderSize{1, 2}, CylinderSize{2, 1}, CylinderSize{0, 0},
                                         CylinderSize{-4, 8}, CylinderSize{257, 256}, CylinderSize{65537, 2},
                                         CylinderSize{2147483647, 2147483647}));

// ---- Pixel buffer ---------------------------------------------------------

TEST(PixelBuffer, SetWritesBlueGreenRedAlphaAndClearZeroesOnlyTheImage) {
    const irr::core::dimension2d<irr::s32> size(5, 3);
    std::vector<uint8_t> bytes(5 * 3 * 4 + 1, 0xAB);
    setPixel(bytes.data(), size, 4, 2, irr::video::SColor(255, 1, 2, 3));
    const size_t at = (2 * 5 + 4) * 4;
    EXPECT_EQ(bytes[at + 0], 3);
    EXPECT_EQ(bytes[at + 1], 2);
    EXPECT_EQ(bytes[at + 2], 1);
    EXPECT_EQ(bytes[at + 3], 255);
    EXPECT_EQ(bytes[at - 1], 0xAB);
    EXPECT_EQ(bytes[at + 4], 0xAB);

    clearPixelBuffer(bytes.data(), size);
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(bytes.back(), 0xAB);

    // Null buffers are left alone.
    clearPixelBuffer(nullptr, size);
    setPixel(nullptr, size, 0, 0, irr::video::SColor(0));
}

// A locked engine image is passed with the unsigned size it reports, and
// the bytes written are the pixels the engine reads back.
TEST(PixelBuffer, EngineImageTakesItsOwnSizeAndReadsBackTheColour) {
    clienttest::ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    irr::video::IImage* image =
        globals.driver->createImage(irr::video::ECF_A8R8G8B8, irr::core::dimension2du(5, 3));
    ASSERT_NE(image, nullptr);
    void* pixels = image->lock();
    std::memset(pixels, 0xAB, image->getImageDataSizeInBytes());
    clearPixelBuffer(pixels, image->getDimension());
    setPixel(pixels, image->getDimension(), 4, 2, irr::video::SColor(255, 1, 2, 3));
    image->unlock();
    EXPECT_EQ(image->getPixel(4, 2), irr::video::SColor(255, 1, 2, 3));
    EXPECT_EQ(image->getPixel(0, 0), irr::video::SColor(0));
    EXPECT_EQ(image->getPixel(4, 1), irr::video::SColor(0));
    image->drop();
}

// ---- Loading text ---------------------------------------------------------

TEST(LoadingText, DrawsOnlyWithEverythingPresent) {
    clienttest::ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    globals.infoText = nullptr;

    showLoadingText(L"before the text exists");

    globals.infoText = globals.gui->addStaticText(L"", irr::core::rect<irr::s32>(0, 0, 100, 20));
    showLoadingText(L"Loading...");
    EXPECT_STREQ(globals.infoText->getText(), L"Loading...");
    showLoadingText(nullptr);
    EXPECT_STREQ(globals.infoText->getText(), L"Loading...");
    globals.driver = nullptr;
    showLoadingText(L"no driver");
    EXPECT_STREQ(globals.infoText->getText(), L"Loading...");
}

}  // namespace
