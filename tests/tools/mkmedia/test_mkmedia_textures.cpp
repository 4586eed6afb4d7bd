// The generated textures, fonts and terrain files read back: formats and
// sizes, repeatable bytes, the HUD atlas against the HUD's own strip
// arithmetic, and the fonts through the engine's font loader.
#include "TextureTestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

using irr::video::ECF_A8R8G8B8;
using irr::video::ECF_R8G8B8;
using texturetest::loadPixels;
using texturetest::Pixels;

namespace {

struct OwnFile {
    const char* path;
    int32_t width;  // 0: not an image
    int32_t height;
    irr::video::ECOLOR_FORMAT format;
    bool texture;  // loaded as a texture, so powers of two
};

const OwnFile kOwnFiles[] = {
    {"graphics/sprites/shot1.png", 32, 32, ECF_A8R8G8B8, true},
    {"graphics/sprites/gun_muzzle.jpg", 64, 64, ECF_R8G8B8, true},
    {"graphics/particles/fire.png", 64, 64, ECF_A8R8G8B8, true},
    {"graphics/particles/bubble.png", 32, 32, ECF_A8R8G8B8, true},
    {"graphics/particles/particle1.png", 16, 16, ECF_A8R8G8B8, true},
    {"graphics/particles/particle2.png", 16, 16, ECF_A8R8G8B8, true},
    {"graphics/gui/menubutton.jpg", 128, 32, ECF_R8G8B8, true},
    {"graphics/hud/hud.png", 512, 512, ECF_A8R8G8B8, true},
    {"fonts/font8.png", 128, 64, ECF_A8R8G8B8, true},
    {"fonts/font10.png", 128, 128, ECF_A8R8G8B8, true},
    {"terrain/map257x257.raw", 0, 0, irr::video::ECF_UNKNOWN, false},
    {"terrain/t33x33.jpg", 33, 33, ECF_R8G8B8, false},
    {"terrain/t65x65.jpg", 65, 65, ECF_R8G8B8, false},
    {"terrain/t257x257.jpg", 257, 257, ECF_R8G8B8, false},
    {"terrain/g257x257.jpg", 257, 257, ECF_R8G8B8, false},
    {"terrain/rockground.jpg", 256, 256, ECF_R8G8B8, true},
    {"terrain/detailmap3.jpg", 256, 256, ECF_R8G8B8, true},
    {"terrain/grass.png", 256, 128, ECF_A8R8G8B8, true},
};

class MkmediaOwnFiles : public testing::TestWithParam<OwnFile> {};

bool powerOfTwo(int32_t n) {
    return n > 0 && (n & (n - 1)) == 0;
}

TEST_P(MkmediaOwnFiles, LoadsWithItsSizeAndFormat) {
    const OwnFile& file = GetParam();
    if (file.width == 0) {
        EXPECT_FALSE(texturetest::readFile(texturetest::mediaPath(file.path)).empty());
        return;
    }
    const Pixels pixels = loadPixels(file.path);
    EXPECT_EQ(pixels.width, file.width);
    EXPECT_EQ(pixels.height, file.height);
    EXPECT_EQ(pixels.format, file.format);
    if (file.texture) {
        EXPECT_TRUE(powerOfTwo(pixels.width) && powerOfTwo(pixels.height));
    }
}

INSTANTIATE_TEST_SUITE_P(All, MkmediaOwnFiles, testing::ValuesIn(kOwnFiles),
                         [](const testing::TestParamInfo<OwnFile>& info) {
                             return texturetest::testName(info.param.path);
                         });

// ---- HUD atlas -------------------------------------------------------------

struct Sprite {
    const char* name;
    int32_t x1, y1, x2, y2;  // exclusive right and bottom
    // Whether the paint reaches both ends of the rectangle across and down:
    // a sprite drawn a pixel short or a pixel over shows as a gap or a
    // stray. Strips reach the ends the HUD scrolls over; the lead ring is
    // round inside its square.
    bool spansX, spansY;
};

// Every source rectangle the HUD draws from.
const Sprite kSprites[] = {
    {"compass row 0", 0, 0, 480, 33, true, false},
    {"compass row 1", 0, 33, 480, 66, true, false},
    {"compass row 2", 0, 66, 384, 99, true, false},
    {"pitch column 0", 0, 100, 42, 389, false, true},
    {"pitch column 1", 42, 100, 84, 389, false, true},
    {"pitch column 2", 84, 100, 126, 389, false, true},
    {"pitch column 3", 126, 100, 168, 389, false, true},
    {"centre cross", 168, 99, 201, 132, true, true},
    {"compass index mark", 482, 0, 497, 8, true, true},
    {"pitch index mark", 486, 14, 494, 29, true, true},
    {"contact bracket", 385, 66, 417, 98, true, true},
    {"target bracket locked", 202, 100, 248, 146, true, true},
    {"target bracket not locked", 249, 100, 295, 146, true, true},
    {"hull bar", 498, 0, 500, 39, true, true},
    {"lead indicator", 482, 40, 498, 56, false, false},
    {"torpedo crosshair", 482, 56, 493, 67, true, true},
    {"steering dot", 494, 58, 501, 65, true, true},
    {"frame corner top left", 482, 68, 488, 74, true, true},
    {"frame corner top right", 489, 68, 495, 74, true, true},
    {"frame corner bottom left", 482, 75, 488, 81, true, true},
    {"frame corner bottom right", 489, 75, 495, 81, true, true},
};

class MkmediaHudAtlas : public testing::Test {
protected:
    static void SetUpTestSuite() { atlas = new Pixels(loadPixels("graphics/hud/hud.png")); }
    static void TearDownTestSuite() {
        delete atlas;
        atlas = nullptr;
    }
    static Pixels* atlas;
};

Pixels* MkmediaHudAtlas::atlas = nullptr;

TEST_F(MkmediaHudAtlas, EverySpritePaintedAndNothingOutsideThem) {
    ASSERT_EQ(atlas->width, 512);
    for (const Sprite& s : kSprites) {
        int32_t painted = 0;
        for (int32_t y = s.y1; y < s.y2; ++y) {
            for (int32_t x = s.x1; x < s.x2; ++x) {
                painted += atlas->painted(x, y) ? 1 : 0;
            }
        }
        EXPECT_GT(painted, 0) << s.name;
        auto columnPainted = [&](int32_t x) {
            bool any = false;
            for (int32_t y = s.y1; y < s.y2; ++y) {
                any = any || atlas->painted(x, y);
            }
            return any;
        };
        auto rowPainted = [&](int32_t y) {
            bool any = false;
            for (int32_t x = s.x1; x < s.x2; ++x) {
                any = any || atlas->painted(x, y);
            }
            return any;
        };
        if (s.spansX) {
            EXPECT_TRUE(columnPainted(s.x1) && columnPainted(s.x2 - 1)) << s.name;
        }
        if (s.spansY) {
            EXPECT_TRUE(rowPainted(s.y1) && rowPainted(s.y2 - 1)) << s.name;
        }
    }
    int32_t strays = 0;
    for (int32_t y = 0; y < atlas->height; ++y) {
        for (int32_t x = 0; x < atlas->width; ++x) {
            bool inside = false;
            for (const Sprite& s : kSprites) {
                inside = inside || (x >= s.x1 && x < s.x2 && y >= s.y1 && y < s.y2);
            }
            strays += (atlas->painted(x, y) && !inside) ? 1 : 0;
        }
    }
    EXPECT_EQ(strays, 0);
}

TEST_F(MkmediaHudAtlas, NoPaintedPixelIsBlack) {
    // The HUD keys black out: a painted black pixel would vanish.
    int32_t blackPainted = 0;
    for (int32_t y = 0; y < atlas->height; ++y) {
        for (int32_t x = 0; x < atlas->width; ++x) {
            blackPainted += (atlas->painted(x, y) && atlas->black(x, y)) ? 1 : 0;
        }
    }
    EXPECT_EQ(blackPainted, 0);
}

// The HUD's compass: the row and shift by heading, the column from the
// heading at 2.1333334 pixels a degree, and the index mark under screen
// x 96 of the 193-pixel window. Returns the atlas pixel under the mark.
int32_t compassPixel(float heading, int32_t* row) {
    int32_t shift = 0;
    if (heading <= 45.0f) {
        *row = 2;
        shift = 0;
    } else if (heading <= 90.0f) {
        *row = 0;
        shift = -96;
    } else if (heading <= 135.0f) {
        *row = 0;
        shift = 0;
    } else if (heading <= 180.0f) {
        *row = 0;
        shift = 96;
    } else if (heading <= 225.0f) {
        *row = 1;
        shift = -96;
    } else if (heading <= 270.0f) {
        *row = 1;
        shift = 0;
    } else if (heading <= 315.0f) {
        *row = 1;
        shift = 96;
    } else {
        *row = 2;
        shift = -96;
    }
    const int32_t column = static_cast<int32_t>(heading * 2.1333334f) % 96;
    return 96 + column + shift + 96;
}

// The pitch ladder likewise: the column by pitch, the row shift, and the
// index mark 96 pixels down the window. Returns the atlas row under the mark.
int32_t pitchPixel(float pitch, int32_t* column) {
    if ((pitch > 0.0f && pitch <= 45.0f) || (pitch > -180.0f && pitch <= -135.0f)) {
        *column = 1;
    } else if ((pitch > 45.0f && pitch <= 90.0f) || (pitch > -135.0f && pitch <= -90.0f)) {
        *column = 2;
    } else if ((pitch > -90.0f && pitch <= -45.0f) || (pitch > 90.0f && pitch <= 135.0f)) {
        *column = 3;
    } else {
        *column = 0;
    }
    const int32_t row = static_cast<int32_t>(pitch * 2.1333334f) % 96;
    const int32_t k = pitch > 0.0f ? -96 : 0;
    return 196 + row + k + 96;
}

// Ticks reach at least 4 rows above each compass row's base line (row 30).
constexpr int32_t kCompassTickRow = 27;
// Rungs reach at least 5 pixels in from each pitch column's left edge.
constexpr int32_t kPitchRungColumn = 4;

TEST_F(MkmediaHudAtlas, CompassTickUnderTheIndexMarkAtEveryFiveDegrees) {
    // At exact multiples of 45 the HUD's modulo wraps to the next strip's
    // start and shows the heading 45 degrees off; those are left out.
    for (int32_t m = 0; m < 72; ++m) {
        if (m % 9 == 0 && m != 0) {
            continue;
        }
        int32_t row = 0;
        const int32_t x = compassPixel(5.0f * m, &row);
        EXPECT_TRUE(atlas->painted(x, 33 * row + kCompassTickRow)) << "heading " << 5 * m;
        const int32_t between = compassPixel(5.0f * m + 2.5f, &row);
        EXPECT_FALSE(atlas->painted(between, 33 * row + kCompassTickRow)) << "heading " << 5 * m + 2.5;
    }
}

TEST_F(MkmediaHudAtlas, CompassLabelsAboveMajorTicks) {
    for (int32_t m = 0; m < 24; ++m) {
        int32_t row = 0;
        const int32_t x = compassPixel(15.0f * m + 1.0f, &row);
        int32_t ink = 0;
        for (int32_t y = 33 * row + 8; y < 33 * row + 18; ++y) {
            for (int32_t dx = -6; dx <= 6; ++dx) {
                ink += atlas->painted(x + dx, y) ? 1 : 0;
            }
        }
        EXPECT_GT(ink, 0) << "heading " << 15 * m;
    }
}

TEST_F(MkmediaHudAtlas, PitchRungUnderTheIndexMarkAtEveryFiveDegrees) {
    // Pitch runs from -90 to 90; the HUD wraps at 45, 90 and -90 as above.
    for (int32_t m = -17; m <= 17; ++m) {
        if (m == 9 || m == -18 || m == 18) {
            continue;
        }
        int32_t column = 0;
        const int32_t y = pitchPixel(5.0f * m, &column);
        EXPECT_TRUE(atlas->painted(42 * column + kPitchRungColumn, y)) << "pitch " << 5 * m;
        const float halfway = 5.0f * m + (m < 0 ? -2.5f : 2.5f);
        const int32_t between = pitchPixel(halfway, &column);
        EXPECT_FALSE(atlas->painted(42 * column + kPitchRungColumn, between)) << "pitch " << halfway;
    }
}

TEST_F(MkmediaHudAtlas, HullBarShowsWholeSegments) {
    for (int32_t y = 0; y < 39; ++y) {
        const bool lit = (38 - y) % 4 != 3;
        EXPECT_EQ(atlas->painted(498, y), lit) << y;
        EXPECT_EQ(atlas->painted(499, y), lit) << y;
    }
    // The HUD draws rows 39 - h to 38 with h = 4 n - 1: n whole segments.
    for (int32_t n = 1; n <= 10; ++n) {
        const int32_t top = 39 - (4 * n - 1);
        EXPECT_TRUE(atlas->painted(498, top)) << n;
        if (top > 0) {
            EXPECT_FALSE(atlas->painted(498, top - 1)) << n;
        }
    }
}

// ---- Sprites on black ------------------------------------------------------

struct KeyedSprite {
    const char* path;
    int32_t blackBorder;  // rows and columns at each edge that must be pure black
    int32_t minimumLit;   // smallest brightest channel of any lit texel (0: any)
};

const KeyedSprite kKeyedSprites[] = {
    {"graphics/sprites/shot1.png", 4, 80},      {"graphics/sprites/gun_muzzle.jpg", 8, 0},
    {"graphics/particles/fire.png", 1, 0},      {"graphics/particles/bubble.png", 1, 0},
    {"graphics/particles/particle1.png", 1, 0}, {"graphics/particles/particle2.png", 1, 0},
};

class MkmediaKeyedSprites : public testing::TestWithParam<KeyedSprite> {};

TEST_P(MkmediaKeyedSprites, LitMiddleOnPureBlack) {
    const KeyedSprite& sprite = GetParam();
    const Pixels pixels = loadPixels(sprite.path);
    ASSERT_GT(pixels.width, 0);
    EXPECT_TRUE(pixels.black(0, 0));
    int32_t borderLit = 0;
    int32_t dim = 0;
    for (int32_t y = 0; y < pixels.height; ++y) {
        for (int32_t x = 0; x < pixels.width; ++x) {
            const bool border = x < sprite.blackBorder || y < sprite.blackBorder ||
                                x >= pixels.width - sprite.blackBorder ||
                                y >= pixels.height - sprite.blackBorder;
            borderLit += (border && !pixels.black(x, y)) ? 1 : 0;
            const irr::video::SColor c = pixels.at(x, y);
            const uint32_t brightest = std::max({c.getRed(), c.getGreen(), c.getBlue()});
            dim += (brightest > 0 && brightest < static_cast<uint32_t>(sprite.minimumLit)) ? 1 : 0;
        }
    }
    EXPECT_EQ(borderLit, 0);
    EXPECT_EQ(dim, 0);
    EXPECT_FALSE(pixels.black(pixels.width / 2, pixels.height / 2));
}

INSTANTIATE_TEST_SUITE_P(All, MkmediaKeyedSprites, testing::ValuesIn(kKeyedSprites),
                         [](const testing::TestParamInfo<KeyedSprite>& info) {
                             return texturetest::testName(info.param.path);
                         });

// ---- Fonts -----------------------------------------------------------------

struct FontFile {
    const char* path;
    int32_t boxWidth;   // glyph plus one blank column; a proportional font's digits and space
    int32_t boxHeight;  // glyph plus one blank row
    bool proportional;  // every other box one blank column and the glyph's inked columns
};

const FontFile kFonts[] = {
    {"fonts/font8.png", 6, 8, true},
    {"fonts/font10.png", 7, 10, false},
};

class MkmediaFonts : public testing::TestWithParam<FontFile> {};

TEST_P(MkmediaFonts, EveryPrintableGlyphWithItsBox) {
    const FontFile& font = GetParam();
    irr::gui::IGUIFont* loaded =
        texturetest::nullDevice()->getGUIEnvironment()->getFont(texturetest::mediaPath(font.path).c_str());
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->getType(), irr::gui::EGFT_BITMAP);
    auto* bitmap = static_cast<irr::gui::IGUIFontBitmap*>(loaded);
    irr::gui::IGUISpriteBank* bank = bitmap->getSpriteBank();
    ASSERT_EQ(bank->getPositions().size(), 95u);
    const Pixels pixels = loadPixels(font.path);
    ASSERT_GT(pixels.width, 0);
    const auto inked = [&](const irr::core::rect<irr::s32>& box, int32_t column) {
        for (int32_t y = box.UpperLeftCorner.Y + 1; y < box.LowerRightCorner.Y; ++y) {
            const irr::video::SColor c = pixels.at(box.UpperLeftCorner.X + column, y);
            if (c.getRed() == 255 && c.getGreen() == 255 && c.getBlue() == 255) {
                return true;
            }
        }
        return false;
    };
    std::set<irr::u32> sprites;
    for (wchar_t c = 32; c <= 126; ++c) {
        const irr::u32 sprite = bitmap->getSpriteNoFromChar(&c);
        ASSERT_LT(sprite, bank->getPositions().size());
        sprites.insert(sprite);
        const irr::core::rect<irr::s32>& box = bank->getPositions()[sprite];
        EXPECT_EQ(box.getHeight(), font.boxHeight) << static_cast<char>(c);
        EXPECT_FALSE(inked(box, 0)) << static_cast<char>(c);
        const bool tabular = c == L' ' || (c >= L'0' && c <= L'9');
        if (!font.proportional || tabular) {
            EXPECT_EQ(box.getWidth(), font.boxWidth) << static_cast<char>(c);
        } else {
            // The ink reaches the box's right edge: nothing but the blank column is spare.
            EXPECT_TRUE(box.getWidth() >= 2 && box.getWidth() <= font.boxWidth) << static_cast<char>(c);
            EXPECT_TRUE(inked(box, box.getWidth() - 1)) << static_cast<char>(c);
        }
    }
    EXPECT_EQ(sprites.size(), 95u);  // unknown characters would share the space's
    EXPECT_EQ(loaded->getDimension(L"Tarnwell").Height, static_cast<irr::u32>(font.boxHeight));
}

TEST_P(MkmediaFonts, GlyphsAreInkedAndAllDifferent) {
    const FontFile& font = GetParam();
    const Pixels pixels = loadPixels(font.path);
    irr::gui::IGUIFontBitmap* bitmap = static_cast<irr::gui::IGUIFontBitmap*>(
        texturetest::nullDevice()->getGUIEnvironment()->getFont(texturetest::mediaPath(font.path).c_str()));
    ASSERT_NE(bitmap, nullptr);
    const irr::video::SColor ink(255, 255, 255, 255);
    std::set<std::vector<bool>> shapes;
    for (wchar_t c = 33; c <= 126; ++c) {
        const irr::core::rect<irr::s32>& box =
            bitmap->getSpriteBank()->getPositions()[bitmap->getSpriteNoFromChar(&c)];
        std::vector<bool> shape;
        int32_t inked = 0;
        for (int32_t y = box.UpperLeftCorner.Y; y < box.LowerRightCorner.Y; ++y) {
            for (int32_t x = box.UpperLeftCorner.X; x < box.LowerRightCorner.X; ++x) {
                const bool on = pixels.at(x, y) == ink;
                shape.push_back(on);
                inked += on ? 1 : 0;
            }
        }
        EXPECT_GT(inked, 0) << static_cast<char>(c);
        EXPECT_TRUE(shapes.insert(shape).second) << "'" << static_cast<char>(c) << "' repeats another glyph";
    }
}

INSTANTIATE_TEST_SUITE_P(All, MkmediaFonts, testing::ValuesIn(kFonts),
                         [](const testing::TestParamInfo<FontFile>& info) {
                             return texturetest::testName(info.param.path);
                         });

}  // namespace
