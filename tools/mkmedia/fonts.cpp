// Bitmap fonts in the engine's image font format. The loader reads three
// colours from the top row: (0, 0) upper-left marker, (1, 0) lower-right
// marker, (2, 0) background. Pixel (0, 0) is itself the first marker, so the
// space's box starts there. A glyph's box runs from its upper-left marker to
// an exclusive lower-right marker; boxes are numbered from the space in scan
// order, and each row's boxes share one height so that the k-th lower-right
// marker met in the scan closes the k-th box.
//
// The HUD's font (font8) is proportional: each box is one blank column and
// the glyph's inked columns, so that the target panel's labels ("Dist:",
// "Vel:") end before the values printed 24 and 18 pixels from them. Digits
// and the space keep the whole design width, so that numbers that "%5.1f"
// pads with blanks still line up in columns; i, l, t and the colon have
// narrow forms.
#include "paint.h"
#include "platform/assertion.h"
#include "textures.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mkmedia {

namespace {

const Colour kUpperLeft{255, 255, 0};
const Colour kLowerRight{255, 0, 0};
const Colour kBackground{0, 0, 0};
const Colour kInk{255, 255, 255};

struct FontLayout {
    const char* path;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t glyphWidth;  // inked columns; the box adds one blank column on the left
    bool tall;           // 9 rows with descenders instead of 7
    int32_t perRow;
    bool proportional;  // boxes as wide as each glyph's ink (short glyphs only)
};

// The proportional font's narrow forms, 7 rows of `width` columns each,
// rows separated by spaces.
struct NarrowGlyph {
    char c;
    int32_t width;
    const char* rows;
};

const NarrowGlyph kNarrowGlyphs[] = {
    {'i', 1, "# . # # # # #"},
    {'l', 2, "## .# .# .# .# .# .#"},
    {'t', 3, ".#. .#. ### .#. .#. .#. ..#"},
    {':', 1, ". . # . . # ."},
};

// The columns of one glyph as the font draws them (columnPixel, x in
// [0, width)).
struct GlyphColumns {
    int32_t first = 0;  // design column drawn first
    int32_t width = 0;
    const NarrowGlyph* narrow = nullptr;
};

GlyphColumns glyphColumns(char c, const FontLayout& layout) {
    GlyphColumns columns;
    columns.width = layout.glyphWidth;
    if (!layout.proportional || c == ' ' || (c >= '0' && c <= '9')) {
        return columns;
    }
    for (const NarrowGlyph& glyph : kNarrowGlyphs) {
        if (glyph.c == c) {
            columns.narrow = &glyph;
            columns.width = glyph.width;
            return columns;
        }
    }
    int32_t lowest = layout.glyphWidth;
    int32_t highest = -1;
    for (int32_t x = 0; x < layout.glyphWidth; ++x) {
        for (int32_t y = 0; y < kGlyphHeight; ++y) {
            if (glyphPixel(c, x, y, false)) {
                lowest = std::min(lowest, x);
                highest = std::max(highest, x);
            }
        }
    }
    if (highest >= lowest) {
        columns.first = lowest;
        columns.width = highest - lowest + 1;
    }
    return columns;
}

bool columnPixel(char c, const GlyphColumns& columns, const FontLayout& layout, int32_t x, int32_t y) {
    if (columns.narrow != nullptr) {
        const size_t index =
            static_cast<size_t>(y) * static_cast<size_t>(columns.width + 1) + static_cast<size_t>(x);
        return index < std::strlen(columns.narrow->rows) && columns.narrow->rows[index] == '#';
    }
    const int32_t designX = columns.first + x;
    // Six columns widen the five-column design by doubling its middle.
    const int32_t sourceX =
        layout.glyphWidth == kGlyphWidth ? designX : (designX <= 2 ? designX : designX - 1);
    return glyphPixel(c, sourceX, y, layout.tall);
}

void put(Image& image, int32_t x, int32_t y, Colour colour) {
    TW_ASSERT(x >= 0 && y >= 0 && x < image.width && y < image.height);
    image.set(x, y, colour.r, colour.g, colour.b, 255);
}

void writeFont(const MediaOut& out, const FontLayout& layout) {
    TW_ASSERT(!layout.proportional || (!layout.tall && layout.glyphWidth == kGlyphWidth));
    const int32_t glyphHeight = layout.tall ? kTallGlyphHeight : kGlyphHeight;
    // A blank top row and left column keep the marker pixel off the ink.
    const int32_t boxHeight = glyphHeight + 1;
    // One spare row under each band holds the lower-right markers.
    const int32_t bandHeight = boxHeight + 1;
    Image image(layout.imageWidth, layout.imageHeight);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            put(image, x, y, kBackground);
        }
    }
    int32_t left = 0;
    for (int32_t index = 0; index < 95; ++index) {
        const char c = static_cast<char>(32 + index);
        if (index % layout.perRow == 0) {
            left = 0;
        }
        const int32_t top = (index / layout.perRow) * bandHeight;
        const GlyphColumns columns = glyphColumns(c, layout);
        const int32_t boxWidth = columns.width + 1;
        for (int32_t y = 0; y < glyphHeight; ++y) {
            for (int32_t x = 0; x < columns.width; ++x) {
                if (columnPixel(c, columns, layout, x, y)) {
                    put(image, left + 1 + x, top + 1 + y, kInk);
                }
            }
        }
        put(image, left, top, kUpperLeft);
        put(image, left + boxWidth, top + boxHeight, kLowerRight);
        left += boxWidth;
    }
    // The loader takes the marker colours from the space's blank top row.
    put(image, 1, 0, kLowerRight);
    put(image, 2, 0, kBackground);
    out.writeImage(layout.path, image);
}

}  // namespace

void writeFonts(const MediaOut& out) {
    writeFont(out, FontLayout{"fonts/font8.png", 128, 64, 5, false, 16, true});
    writeFont(out, FontLayout{"fonts/font10.png", 128, 128, 6, true, 16, false});
}

}  // namespace mkmedia
