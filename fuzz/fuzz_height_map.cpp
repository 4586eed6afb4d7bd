// Fuzzes the game's height map reader: the input is written as the height
// file, read with 8, 16 or an unsupported number of bits per sample, and
// queried at every grid point of the rows the file reaches, at the input's
// own coordinate pairs (NaN, infinities and far-off points included) and at
// the map's corners. Checked: the side the sample width sets (0 for an empty
// map); every answer finite and within the samples' range x 0.25 - 12000
// (exactly -12000 on an empty map); grid points exactly sample x 0.25 -
// 12000, the samples decoded here with the missing ones 0; every answer the
// bilinear blend of the point clamped onto the map (NaN read as 0), whatever
// the query before it, so the one-entry cache changes nothing.
//
// Input: byte 0 bits 0-2 choose the sample width (16, 8, 16, 8, 24, 32, 0,
// 12), bit 3 leaves the file out; byte 1 = count k of coordinate pairs; 8k
// bytes of pairs (x, z as floats); the rest is the file.
#include "client/heightmap.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// One scratch file for the process, memory-backed where possible.
struct Scratch {
    std::string path;
    Scratch() {
        const char* const base = (access("/dev/shm", W_OK) == 0) ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/twFuzzHeightMapXXXXXX";
        const int fd = mkstemp(&pattern[0]);
        FUZZ_CHECK(fd >= 0);
        close(fd);
        path = pattern;
    }
    ~Scratch() { unlink(path.c_str()); }
};

Scratch& scratch() {
    static Scratch instance;
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static const int32_t kBits[8] = {16, 8, 16, 8, 24, 32, 0, 12};
    const int32_t bits = kBits[data[0] & 7];
    const bool noFile = (data[0] & 8) != 0;
    const size_t pairs = std::min<size_t>(data[1], (size - 2) / 8);
    const uint8_t* file = data + 2 + 8 * pairs;
    const size_t fileSize = size - 2 - 8 * pairs;

    const Scratch& s = scratch();
    if (noFile) {
        unlink(s.path.c_str());
    } else {
        FILE* out = fopen(s.path.c_str(), "wb");
        FUZZ_CHECK(out);
        FUZZ_CHECK(fwrite(file, 1, fileSize, out) == fileSize);
        fclose(out);
    }

    // Only the samples the file holds are decoded; every other one is 0.
    const int32_t width = bits / 8;
    const int32_t side = (noFile || (width != 1 && width != 2)) ? 0 : (width == 1 ? 363 : 257);
    const size_t count = static_cast<size_t>(side) * side;
    std::vector<uint16_t> samples(std::min(count, side == 0 ? 0 : (fileSize + width - 1) / width), 0);
    for (size_t k = 0; k < samples.size(); ++k) {
        for (int32_t b = 0; b < width; ++b) {
            const size_t at = k * width + b;
            samples[k] = static_cast<uint16_t>(samples[k] | ((at < fileSize ? file[at] : 0) << (8 * b)));
        }
    }
    const auto sample = [&](size_t k) { return k < samples.size() ? samples[k] : uint16_t(0); };
    float lowest = -12000.0f;
    float highest = -12000.0f;
    if (!samples.empty()) {
        const uint16_t low = samples.size() < count ? 0 : *std::min_element(samples.begin(), samples.end());
        lowest = low * 0.25f - 12000.0f;
        highest = *std::max_element(samples.begin(), samples.end()) * 0.25f - 12000.0f;
    }

    struct Query {
        irr::core::vector3df p;
        float exact;  // NaN unless a grid point
    };
    std::vector<Query> queries;
    const float nan = std::nanf("");
    queries.push_back({irr::core::vector3df(0.0f, 0.0f, 0.0f), sample(0) * 0.25f - 12000.0f});
    const int32_t rows = side == 0 ? 0 : std::min<int32_t>(side, static_cast<int32_t>(fileSize / (width * side)) + 1);
    for (int32_t i = 0; i < rows; ++i) {
        for (int32_t j = 0; j < side; ++j) {
            queries.push_back({irr::core::vector3df(20.0f * i, 1.0f, 20.0f * j),
                               sample(static_cast<size_t>(i) * side + j) * 0.25f - 12000.0f});
        }
    }
    for (size_t k = 0; k < pairs; ++k) {
        float xz[2];
        memcpy(xz, data + 2 + 8 * k, sizeof(xz));
        queries.push_back({irr::core::vector3df(xz[0], 0.0f, xz[1]), nan});
        // The same x and z at another height: the cache's answer.
        queries.push_back({irr::core::vector3df(xz[0], 100.0f, xz[1]), nan});
    }
    const float far = 20.0f * std::max(side - 1, 0);
    for (float x : {0.0f, far}) {
        for (float z : {0.0f, far}) {
            queries.push_back({irr::core::vector3df(x, 0.0f, z), nan});
        }
    }

    // The blend along z, then along x, of the point clamped onto the map.
    const auto reference = [&](float x, float z) {
        if (side == 0) {
            return -12000.0;
        }
        const auto grid = [side](float c) {
            return std::clamp(std::isnan(c) ? 0.0 : static_cast<double>(c) / 20.0, 0.0, side - 1.0);
        };
        const double u = grid(x);
        const double v = grid(z);
        const size_t i = std::min<size_t>(static_cast<size_t>(u), side - 2);
        const size_t j = std::min<size_t>(static_cast<size_t>(v), side - 2);
        const auto alongZ = [&](size_t row) {
            return sample(row * side + j) + (v - j) * (sample(row * side + j + 1) - sample(row * side + j));
        };
        return (alongZ(i) + (u - i) * (alongZ(i + 1) - alongZ(i))) * 0.25 - 12000.0;
    };

    HeightMap map(s.path.c_str(), bits);
    FUZZ_CHECK(map.getSize() == side);
    for (const Query& q : queries) {
        const float h = map.getHeight(q.p);
        FUZZ_CHECK(std::isfinite(h));
        FUZZ_CHECK(h >= lowest && h <= highest);
        FUZZ_CHECK(std::isnan(q.exact) || h == q.exact);
        FUZZ_CHECK(std::abs(h - reference(q.p.X, q.p.Z)) <= 1e-3);
    }
    return 0;
}
