#include "paint.h"

#include <cmath>

namespace mkmedia {

uint8_t toByte(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= 255.0) {
        return 255;
    }
    return static_cast<uint8_t>(std::lround(value));
}

double clamp01(double value) {
    return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

TileNoise::TileNoise(Random& random, int32_t basePeriod, int32_t octaves, double gain) {
    double weight = 1.0;
    for (int32_t k = 0; k < octaves; ++k) {
        const int32_t period = basePeriod << k;
        std::vector<double> lattice(static_cast<size_t>(period) * period);
        for (double& value : lattice) {
            value = random.uniform();
        }
        periods.push_back(period);
        lattices.push_back(std::move(lattice));
        weights.push_back(weight);
        weightSum += weight;
        weight *= gain;
    }
}

double TileNoise::octave(int32_t k, double u, double v) const {
    const int32_t period = periods[k];
    const std::vector<double>& lattice = lattices[k];
    const double x = u * period;
    const double y = v * period;
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    // Quintic fade: continuous slope across lattice cells, so no creases.
    auto fade = [](double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); };
    const double tx = fade(x - fx);
    const double ty = fade(y - fy);
    auto wrap = [period](double c) {
        const int32_t i = static_cast<int32_t>(c) % period;
        return i < 0 ? i + period : i;
    };
    const int32_t x0 = wrap(fx);
    const int32_t y0 = wrap(fy);
    const int32_t x1 = (x0 + 1) % period;
    const int32_t y1 = (y0 + 1) % period;
    auto cell = [&](int32_t cx, int32_t cy) { return lattice[static_cast<size_t>(cy) * period + cx]; };
    const double top = cell(x0, y0) + (cell(x1, y0) - cell(x0, y0)) * tx;
    const double bottom = cell(x0, y1) + (cell(x1, y1) - cell(x0, y1)) * tx;
    return top + (bottom - top) * ty;
}

double TileNoise::at(double u, double v) const {
    double sum = 0.0;
    for (size_t k = 0; k < periods.size(); ++k) {
        sum += weights[k] * octave(static_cast<int32_t>(k), u, v);
    }
    return sum / weightSum;
}

void Canvas::plot(int32_t x, int32_t y, Colour colour) {
    if (!clip.contains(x, y) || x < 0 || y < 0 || x >= image.width || y >= image.height) {
        return;
    }
    image.set(x, y, colour.r, colour.g, colour.b, 255);
}

void Canvas::hline(int32_t x1, int32_t x2, int32_t y, Colour colour) {
    for (int32_t x = x1; x <= x2; ++x) {
        plot(x, y, colour);
    }
}

void Canvas::vline(int32_t x, int32_t y1, int32_t y2, Colour colour) {
    for (int32_t y = y1; y <= y2; ++y) {
        plot(x, y, colour);
    }
}

void Canvas::text(int32_t x, int32_t y, const std::string& text, Colour colour) {
    for (size_t i = 0; i < text.size(); ++i) {
        const int32_t left = x + static_cast<int32_t>(i) * (kGlyphWidth + 1);
        for (int32_t gy = 0; gy < kGlyphHeight; ++gy) {
            for (int32_t gx = 0; gx < kGlyphWidth; ++gx) {
                if (glyphPixel(text[i], gx, gy, false)) {
                    plot(left + gx, y + gy, colour);
                }
            }
        }
    }
}

int32_t Canvas::textWidth(const std::string& text) {
    return text.empty() ? 0 : static_cast<int32_t>(text.size()) * (kGlyphWidth + 1) - 1;
}

}  // namespace mkmedia
