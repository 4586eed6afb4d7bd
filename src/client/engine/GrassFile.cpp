#include "client/engine/GrassFile.h"

#include <cmath>
#include <cstring>

namespace tarnwell {
namespace scene {

namespace {

// Fields are assembled byte by byte, so the file stays little-endian
// whatever the host.
irr::u32 readU32(const irr::u8* p) {
    return static_cast<irr::u32>(p[0]) | (static_cast<irr::u32>(p[1]) << 8) |
           (static_cast<irr::u32>(p[2]) << 16) | (static_cast<irr::u32>(p[3]) << 24);
}

void writeU32(irr::u32 value, irr::u8* p) {
    p[0] = static_cast<irr::u8>(value);
    p[1] = static_cast<irr::u8>(value >> 8);
    p[2] = static_cast<irr::u8>(value >> 16);
    p[3] = static_cast<irr::u8>(value >> 24);
}

irr::f32 readF32(const irr::u8* p) {
    const irr::u32 bits = readU32(p);
    irr::f32 value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

void writeF32(irr::f32 value, irr::u8* p) {
    irr::u32 bits;
    std::memcpy(&bits, &value, sizeof(bits));
    writeU32(bits, p);
}

bool readVector(const irr::u8* p, irr::core::vector3df& out) {
    out.set(readF32(p), readF32(p + 4), readF32(p + 8));
    return std::isfinite(out.X) && std::isfinite(out.Y) && std::isfinite(out.Z);
}

void writeVector(const irr::core::vector3df& v, irr::u8* p) {
    writeF32(v.X, p);
    writeF32(v.Y, p + 4);
    writeF32(v.Z, p + 8);
}

// Atlas indices pick texture coordinates out of per-cell tables, so one out
// of range would read past them.
irr::s32 clampCell(irr::s32 index, irr::s32 cells) {
    return irr::core::clamp(index, 0, irr::core::max_(cells, 1) - 1);
}

// The bytes from the current position to the end, or -1 when the stream
// cannot tell (a pipe).
long bytesLeft(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0) {
        return -1;
    }
    return end >= here ? end - here : -1;
}

}  // namespace

bool decodeGrassElement(const irr::u8* bytes, irr::s32 atlasColumns, irr::s32 atlasRows, GrassElement& out) {
    out.topColor.color = readU32(bytes);
    out.bottomColor.color = readU32(bytes + 4);
    bool finite = readVector(bytes + 8, out.position);
    out.atlasColumn = clampCell(static_cast<irr::s32>(readU32(bytes + 20)), atlasColumns);
    out.atlasRow = clampCell(static_cast<irr::s32>(readU32(bytes + 24)), atlasRows);
    for (int corner = 0; corner < 4; ++corner) {
        finite = readVector(bytes + 28 + 12 * corner, out.corners[corner]) && finite;
    }
    out.phase = readF32(bytes + 76);
    return finite && std::isfinite(out.phase);
}

void encodeGrassElement(const GrassElement& blade, irr::u8* bytes) {
    writeU32(blade.topColor.color, bytes);
    writeU32(blade.bottomColor.color, bytes + 4);
    writeVector(blade.position, bytes + 8);
    writeU32(static_cast<irr::u32>(blade.atlasColumn), bytes + 20);
    writeU32(static_cast<irr::u32>(blade.atlasRow), bytes + 24);
    for (int corner = 0; corner < 4; ++corner) {
        writeVector(blade.corners[corner], bytes + 28 + 12 * corner);
    }
    writeF32(blade.phase, bytes + 76);
}

bool readGrassFile(std::FILE* file, irr::s32 atlasColumns, irr::s32 atlasRows,
                   irr::core::array<GrassElement>& blades, GrassFileReport* report) {
    GrassFileReport found;
    blades.clear();
    irr::u8 record[kGrassRecordBytes];
    if (file == nullptr || std::fread(record, 1, kGrassCountBytes, file) != kGrassCountBytes) {
        if (report != nullptr) {
            *report = found;
        }
        return false;
    }
    found.declared = readU32(record);
    // A corrupt count must not turn into a huge allocation: room is made for
    // the records the file can hold, and a stream of unknown length grows as
    // it is read.
    const long left = bytesLeft(file);
    const irr::u32 room =
        left < 0
            ? 0u
            : static_cast<irr::u32>(irr::core::min_(static_cast<unsigned long>(found.declared),
                                                    static_cast<unsigned long>(left) / kGrassRecordBytes));
    blades.reallocate(room);
    GrassElement blade;
    while (found.whole < found.declared &&
           std::fread(record, 1, kGrassRecordBytes, file) == kGrassRecordBytes) {
        ++found.whole;
        if (decodeGrassElement(record, atlasColumns, atlasRows, blade)) {
            blades.push_back(blade);
        } else {
            ++found.refused;
        }
    }
    if (report != nullptr) {
        *report = found;
    }
    return true;
}

bool writeGrassFile(std::FILE* file, const irr::core::array<GrassElement>& blades) {
    if (file == nullptr) {
        return false;
    }
    irr::u8 record[kGrassRecordBytes];
    writeU32(blades.size(), record);
    if (std::fwrite(record, 1, kGrassCountBytes, file) != kGrassCountBytes) {
        return false;
    }
    for (irr::u32 i = 0; i < blades.size(); ++i) {
        encodeGrassElement(blades[i], record);
        if (std::fwrite(record, 1, kGrassRecordBytes, file) != kGrassRecordBytes) {
            return false;
        }
    }
    return std::fflush(file) == 0;
}

}  // namespace scene
}  // namespace tarnwell
