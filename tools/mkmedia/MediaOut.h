// Shared pieces of the media generator: the output tree, a seeded random
// sequence, and the writers every generator module uses. Everything written
// must come out byte-identical on every run: no clock, no rand(), numbers
// printed in the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace irr {
class IrrlichtDevice;
}

namespace mkmedia {

// A small deterministic generator (xorshift64*); each module seeds its own so
// that changing one file never shifts another's bytes.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed != 0 ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }

private:
    uint64_t state;
};

// An RGBA image, rows top to bottom, 4 bytes a pixel (r, g, b, a).
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;

    Image(int32_t w, int32_t h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {}
    uint8_t* at(int32_t x, int32_t y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    void set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
        uint8_t* p = at(x, y);
        p[0] = r;
        p[1] = g;
        p[2] = b;
        p[3] = a;
    }
};

// The tree being written (a temporary folder the driver renames when done).
class MediaOut {
public:
    MediaOut(const std::string& root, irr::IrrlichtDevice* nullDevice) : root(root), device(nullDevice) {}

    // Paths are relative to the tree ("mesh/torpedo/torp_hellshark.x");
    // folders are made as needed. Each throws std::runtime_error on failure.
    void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) const;
    void writeText(const std::string& path, const std::string& text) const;
    // PNG or JPG by the extension, through the engine's own image writers
    // (jpgQuality applies to JPG only).
    void writeImage(const std::string& path, const Image& image, int32_t jpgQuality = 95) const;
    // 16-bit PCM WAV.
    void writeWav(const std::string& path, int32_t sampleRate, int32_t channels,
                  const std::vector<int16_t>& samples) const;

    std::string fullPath(const std::string& path) const;

private:
    std::string root;
    irr::IrrlichtDevice* device;
};

// Formats with "%.6f"-style fixed decimals in the C locale, whatever the
// process locale is.
std::string fixed(double value, int decimals = 6);

// The generator modules, each writing its own files.
void writeMeshes(const MediaOut& out);    // mesh/**: .x files and their textures
void writeSounds(const MediaOut& out);    // audio/sound/*.wav, audio/music/intro.ogg
void writeShaders(const MediaOut& out);   // shader/*
void writeTextures(const MediaOut& out);  // graphics/**, fonts/*
void writeTerrain(const MediaOut& out);   // terrain/*

}  // namespace mkmedia
