// A grass patch's blades as they are kept in memory and in a grass file.
//
// A grass file is a u32 blade count followed by that many 80-byte blade
// records laid out exactly as GrassElement, all little-endian, floats IEEE
// single precision. The reader trusts nothing in it: the count is weighed
// against the bytes that are there, only whole records are kept, records with
// a non-finite float are refused and atlas cells out of the atlas are clamped
// into it. Pure: no device is needed.
#pragma once

#include <SColor.h>
#include <irrArray.h>
#include <irrTypes.h>
#include <vector3d.h>

#include <cstddef>
#include <cstdio>

namespace tarnwell {
namespace scene {

// One blade: a textured quad standing on the sea floor. Every field is
// written by the growth or read from a file, and fixed afterwards; a blade
// made otherwise starts all zero.
struct GrassElement {
    // Engine colour of the two upper vertices; the lower two take it darkened.
    irr::video::SColor topColor{0u};
    // Engine colour grown and stored with the blade; drawing does not use it.
    irr::video::SColor bottomColor{0u};
    // Centre of the quad, world units, relative to the patch node.
    irr::core::vector3df position;
    // Cell of the blade's picture in the texture atlas; row 0 blades thin out
    // with distance.
    irr::s32 atlasColumn = 0;
    irr::s32 atlasRow = 0;
    // The quad in the patch's local space (position already added): 0 lower
    // and 1 upper on one side, 2 upper and 3 lower on the other. The lower
    // corners stand on the ground.
    irr::core::vector3df corners[4];
    // Share of the tide's sway the blade's tip takes, 0 to 0.99.
    irr::f32 phase = 0.0f;
};

// The file record is this struct, byte for byte.
static_assert(sizeof(GrassElement) == 80, "a grass file record is 80 bytes");
static_assert(offsetof(GrassElement, topColor) == 0 && offsetof(GrassElement, bottomColor) == 4 &&
                  offsetof(GrassElement, position) == 8 && offsetof(GrassElement, atlasColumn) == 20 &&
                  offsetof(GrassElement, atlasRow) == 24 && offsetof(GrassElement, corners) == 28 &&
                  offsetof(GrassElement, phase) == 76,
              "grass file record layout");

constexpr size_t kGrassRecordBytes = 80;
constexpr size_t kGrassCountBytes = 4;

// Decodes one 80-byte record. False (and `out` unspecified) for a record
// with a non-finite position, corner or phase. The atlas cell is clamped to
// columns x rows (each taken as at least 1).
bool decodeGrassElement(const irr::u8* bytes, irr::s32 atlasColumns, irr::s32 atlasRows, GrassElement& out);

// Encodes one record into 80 bytes.
void encodeGrassElement(const GrassElement& blade, irr::u8* bytes);

// What a read found.
struct GrassFileReport {
    irr::u32 declared = 0;  // the count the file gives
    irr::u32 whole = 0;     // records present whole (at most declared)
    irr::u32 refused = 0;   // whole records refused as non-finite
};

// Reads a grass file from the current position of `file` into `blades`
// (replacing what they held; the kept records in file order). False when not
// even the count can be read; then `blades` is left empty. A file shorter
// than its count gives the records that are there; it never allocates more
// than the bytes present call for.
bool readGrassFile(std::FILE* file, irr::s32 atlasColumns, irr::s32 atlasRows,
                   irr::core::array<GrassElement>& blades, GrassFileReport* report = nullptr);

// Writes the count and every record. False when any write fails.
bool writeGrassFile(std::FILE* file, const irr::core::array<GrassElement>& blades);

}  // namespace scene
}  // namespace tarnwell
