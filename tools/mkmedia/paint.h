// Painting helpers shared by the texture and terrain generators: byte
// clamping, smooth steps, tileable fractal noise and a clipped canvas with the
// generator's own pixel font.
#pragma once

#include "MediaOut.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mkmedia {

struct Colour {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

// Pixel rectangle, right and bottom exclusive.
struct Rect {
    int32_t x1;
    int32_t y1;
    int32_t x2;
    int32_t y2;
    bool contains(int32_t x, int32_t y) const { return x >= x1 && x < x2 && y >= y1 && y < y2; }
};

uint8_t toByte(double value);
double clamp01(double value);
double smoothstep(double edge0, double edge1, double x);

// Fractal value noise that repeats with period 1 in u and v, so that images
// sampled over [0, 1) tile without a seam. Octave k has basePeriod << k
// lattice cells across the tile and weight gain^k; results lie in [0, 1].
class TileNoise {
public:
    TileNoise(Random& random, int32_t basePeriod, int32_t octaves, double gain);
    double at(double u, double v) const;

private:
    double octave(int32_t k, double u, double v) const;

    std::vector<int32_t> periods;
    std::vector<std::vector<double>> lattices;
    std::vector<double> weights;
    double weightSum = 0.0;
};

// Glyphs of the generator's pixel font: 5 columns by 7 rows above the
// baseline. Tall glyphs add two rows below the baseline, where descenders
// go; the short set folds descenders into the seven rows.
constexpr int32_t kGlyphWidth = 5;
constexpr int32_t kGlyphHeight = 7;
constexpr int32_t kTallGlyphHeight = 9;
bool glyphPixel(char c, int32_t x, int32_t y, bool tall);

// Opaque painting into an image, restricted to a clip rectangle.
class Canvas {
public:
    explicit Canvas(Image& image) : image(image), clip{0, 0, image.width, image.height} {}

    void setClip(const Rect& rect) { clip = rect; }
    void plot(int32_t x, int32_t y, Colour colour);
    void hline(int32_t x1, int32_t x2, int32_t y, Colour colour);  // x1..x2 inclusive
    void vline(int32_t x, int32_t y1, int32_t y2, Colour colour);  // y1..y2 inclusive
    // Text in the short glyphs, advancing 6 pixels a character.
    void text(int32_t x, int32_t y, const std::string& text, Colour colour);
    static int32_t textWidth(const std::string& text);

private:
    Image& image;
    Rect clip;
};

}  // namespace mkmedia
