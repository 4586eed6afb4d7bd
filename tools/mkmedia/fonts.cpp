// Bitmap fonts in the engine's image font format. The loader reads three
// colours from the top row: (0, 0) upper-left marker, (1, 0) lower-right
// marker, (2, 0) background. Pixel (0, 0) is itself the first marker, so the
// space's box starts there. A glyph's box runs from its upper-left marker to
// an exclusive lower-right marker; boxes are numbered from the space in scan
// order, and each row's boxes share one height so that the k-th lower-right
// marker met in the scan closes the k-th box.
#include "paint.h"
#include "platform/assertion.h"
#include "textures.h"

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
};

void put(Image& image, int32_t x, int32_t y, Colour colour) {
    TW_ASSERT(x >= 0 && y >= 0 && x < image.width && y < image.height);
    image.set(x, y, colour.r, colour.g, colour.b, 255);
}

void writeFont(const MediaOut& out, const FontLayout& layout) {
    const int32_t glyphHeight = layout.tall ? kTallGlyphHeight : kGlyphHeight;
    // A blank top row and left column keep the marker pixel off the ink.
    const int32_t boxWidth = layout.glyphWidth + 1;
    const int32_t boxHeight = glyphHeight + 1;
    // One spare row under each band holds the lower-right markers.
    const int32_t bandHeight = boxHeight + 1;
    Image image(layout.imageWidth, layout.imageHeight);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            put(image, x, y, kBackground);
        }
    }
    for (int32_t index = 0; index < 95; ++index) {
        const char c = static_cast<char>(32 + index);
        const int32_t left = (index % layout.perRow) * boxWidth;
        const int32_t top = (index / layout.perRow) * bandHeight;
        for (int32_t y = 0; y < glyphHeight; ++y) {
            for (int32_t x = 0; x < layout.glyphWidth; ++x) {
                // Six columns widen the five-column design by doubling its middle.
                const int32_t sourceX = layout.glyphWidth == kGlyphWidth ? x : (x <= 2 ? x : x - 1);
                if (glyphPixel(c, sourceX, y, layout.tall)) {
                    put(image, left + 1 + x, top + 1 + y, kInk);
                }
            }
        }
        put(image, left, top, kUpperLeft);
        put(image, left + boxWidth, top + boxHeight, kLowerRight);
    }
    // The loader takes the marker colours from the space's blank top row.
    put(image, 1, 0, kLowerRight);
    put(image, 2, 0, kBackground);
    out.writeImage(layout.path, image);
}

}  // namespace

void writeFonts(const MediaOut& out) {
    writeFont(out, FontLayout{"fonts/font8.png", 128, 64, 5, false, 16});
    writeFont(out, FontLayout{"fonts/font10.png", 128, 128, 6, true, 16});
}

}  // namespace mkmedia
