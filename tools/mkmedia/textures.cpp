// Sprites, particles and the menu button; the HUD atlas and the fonts have
// their own files. Sprites that the game colour-keys lie on pure black.
#include "paint.h"
#include "textures.h"

#include <algorithm>
#include <cmath>

namespace mkmedia {

namespace {

// Bullet: a bright plasma bolt. Its glow is cut off hard so that the key
// (black) leaves no dark halo: every painted texel is clearly lit.
void writeShot(const MediaOut& out) {
    Image image(32, 32);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const double dx = (x + 0.5 - 16.0) / 11.0;
            const double dy = (y + 0.5 - 16.0) / 11.0;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r >= 1.0) {
                image.set(x, y, 0, 0, 0);
                continue;
            }
            const double core = std::exp(-r * r * 6.0);
            image.set(x, y, toByte(90.0 + 165.0 * core), toByte(200.0 + 55.0 * core), 255);
        }
    }
    out.writeImage("graphics/sprites/shot1.png", image);
}

// Muzzle flash: a star of spikes around a hot core, kept inside the central
// 32 x 32 so that whole JPEG blocks around it stay exactly black.
void writeMuzzle(const MediaOut& out) {
    Image image(64, 64);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const double dx = x + 0.5 - 32.0;
            const double dy = y + 0.5 - 32.0;
            const double r = std::sqrt(dx * dx + dy * dy) / 14.0;
            double intensity = 0.0;
            if (r < 1.0) {
                const double angle = std::atan2(dy, dx);
                const double spikes = std::pow(std::fabs(std::cos(angle * 3.0)), 8.0);
                const double reach = 0.45 + 0.55 * spikes;
                intensity = clamp01(1.0 - r / reach) + 0.8 * std::exp(-r * r * 30.0);
                intensity = clamp01(intensity) * smoothstep(1.0, 0.85, r);
            }
            if (intensity < 0.08) {
                image.set(x, y, 0, 0, 0);
            } else {
                image.set(x, y, toByte(255.0 * std::sqrt(intensity)), toByte(230.0 * intensity),
                          toByte(140.0 * intensity * intensity));
            }
        }
    }
    out.writeImage("graphics/sprites/gun_muzzle.jpg", image);
}

// Particle textures are drawn additively and tinted by their vertex colours,
// so they are light and fade to exactly black at their rims.
void writeFire(const MediaOut& out) {
    Random random(0xF12E);
    const TileNoise noise(random, 4, 3, 0.5);
    Image image(64, 64);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const double dx = (x + 0.5 - 32.0) / 30.0;
            const double dy = (y + 0.5 - 32.0) / 30.0;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double flicker = 0.55 + 0.9 * noise.at(x / 64.0, y / 64.0);
            const double intensity = clamp01((1.0 - r) * flicker) * smoothstep(1.0, 0.8, r);
            image.set(x, y, toByte(255.0 * std::sqrt(intensity)), toByte(235.0 * intensity),
                      toByte(190.0 * intensity * intensity));
        }
    }
    out.writeImage("graphics/particles/fire.png", image);
}

void writeBubble(const MediaOut& out) {
    Image image(32, 32);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const double dx = x + 0.5 - 16.0;
            const double dy = y + 0.5 - 16.0;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double rim = std::exp(-std::pow((r - 12.5) / 1.4, 2.0));
            const double inside = r < 12.5 ? 0.12 : 0.0;
            const double shine = std::exp(-(std::pow(dx + 5.0, 2.0) + std::pow(dy + 5.0, 2.0)) / 6.0);
            const double intensity = clamp01(rim + inside + shine) * smoothstep(15.0, 14.0, r);
            image.set(x, y, toByte(200.0 * intensity), toByte(235.0 * intensity), toByte(255.0 * intensity));
        }
    }
    out.writeImage("graphics/particles/bubble.png", image);
}

// Floating specks: a soft round mote and a small irregular fleck.
void writeSpecks(const MediaOut& out) {
    Image mote(16, 16);
    for (int32_t y = 0; y < mote.height; ++y) {
        for (int32_t x = 0; x < mote.width; ++x) {
            const double r = std::hypot(x + 0.5 - 8.0, y + 0.5 - 8.0) / 7.0;
            const double intensity = clamp01(std::exp(-r * r * 3.0) * smoothstep(1.0, 0.7, r));
            mote.set(x, y, toByte(220.0 * intensity), toByte(235.0 * intensity), toByte(255.0 * intensity));
        }
    }
    out.writeImage("graphics/particles/particle1.png", mote);

    Random random(0x5BEC);
    const TileNoise noise(random, 4, 2, 0.5);
    Image fleck(16, 16);
    for (int32_t y = 0; y < fleck.height; ++y) {
        for (int32_t x = 0; x < fleck.width; ++x) {
            const double dx = x + 0.5 - 8.0;
            const double dy = y + 0.5 - 8.0;
            const double r = std::hypot(dx * 1.4, dy) / 7.0;
            const double lumpy = 0.5 + noise.at(x / 16.0, y / 16.0);
            const double intensity = clamp01((1.0 - r) * lumpy * 1.6) * smoothstep(1.0, 0.75, r);
            fleck.set(x, y, toByte(235.0 * intensity), toByte(240.0 * intensity), toByte(225.0 * intensity));
        }
    }
    out.writeImage("graphics/particles/particle2.png", fleck);
}

// Menu button: a brushed steel-blue plate with a bevelled rim.
void writeMenuButton(const MediaOut& out) {
    Random random(0xB077);
    Image image(128, 32);
    for (int32_t y = 0; y < image.height; ++y) {
        const double brush = random.range(-6.0, 6.0);
        for (int32_t x = 0; x < image.width; ++x) {
            const double shade = 0.55 + 0.35 * (1.0 - std::fabs(y - 12.0) / 20.0) + brush / 255.0;
            double r = 70.0 * shade;
            double g = 110.0 * shade;
            double b = 150.0 * shade;
            const int32_t edge =
                std::min(std::min(x, image.width - 1 - x), std::min(y, image.height - 1 - y));
            if (edge < 2) {
                const double light = (x < 2 || y < 2) ? 1.6 : 0.55;
                r *= light;
                g *= light;
                b *= light;
            }
            image.set(x, y, toByte(r), toByte(g), toByte(b));
        }
    }
    out.writeImage("graphics/gui/menubutton.jpg", image);
}

}  // namespace

void writeTextures(const MediaOut& out) {
    writeShot(out);
    writeMuzzle(out);
    writeFire(out);
    writeBubble(out);
    writeSpecks(out);
    writeMenuButton(out);
    writeHudAtlas(out);
    writeFonts(out);
}

}  // namespace mkmedia
