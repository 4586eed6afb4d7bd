// Fuzzes the grass file reader on arbitrary bytes, checked against a plain
// reading of the same bytes: the count is trusted only as far as whole
// records follow it, a record with a non-finite float is refused, every
// other record is kept in order with its atlas cell clamped into the atlas
// and nothing else changed, and what is kept writes back and reads again
// bit for bit.
//
// Input: byte 0: bits 0-2 = atlas columns, bits 3-4 = atlas rows (0 taken as
// 1); the rest is the file.
#include "client/engine/GrassFile.h"
#include "FuzzCheck.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using tarnwell::scene::GrassElement;
using tarnwell::scene::kGrassRecordBytes;

uint32_t u32At(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Every float of a record (position, corners, phase) has an exponent below
// all ones.
bool finiteRecord(const uint8_t* record) {
    static const size_t kFloats[] = {8, 12, 16, 28, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76};
    for (size_t offset : kFloats) {
        if ((u32At(record + offset) & 0x7f800000u) == 0x7f800000u) {
            return false;
        }
    }
    return true;
}

int32_t clampCell(int32_t index, int32_t cells) {
    const int32_t most = (cells < 1 ? 1 : cells) - 1;
    return index < 0 ? 0 : (index > most ? most : index);
}

std::vector<uint8_t> writtenBytes(const irr::core::array<GrassElement>& blades) {
    char* buffer = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    FUZZ_CHECK(out);
    FUZZ_CHECK(tarnwell::scene::writeGrassFile(out, blades));
    std::fclose(out);
    std::vector<uint8_t> bytes(buffer, buffer + length);
    std::free(buffer);
    return bytes;
}

bool read(const uint8_t* data, size_t size, int32_t columns, int32_t rows,
          irr::core::array<GrassElement>& blades, tarnwell::scene::GrassFileReport& report) {
    // An empty memory stream cannot be opened: an empty file then.
    std::FILE* file = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::tmpfile();
    FUZZ_CHECK(file);
    const bool ok = tarnwell::scene::readGrassFile(file, columns, rows, blades, &report);
    std::fclose(file);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int32_t columns = data[0] & 7;
    const int32_t rows = (data[0] >> 3) & 3;
    const uint8_t* file = data + 1;
    const size_t fileSize = size - 1;

    irr::core::array<GrassElement> blades;
    tarnwell::scene::GrassFileReport report;
    const bool ok = read(file, fileSize, columns, rows, blades, report);
    FUZZ_CHECK(ok == (fileSize >= 4));
    if (!ok) {
        FUZZ_CHECK(blades.empty());
        return 0;
    }
    const uint32_t declared = u32At(file);
    const size_t present = (fileSize - 4) / kGrassRecordBytes;
    FUZZ_CHECK(report.declared == declared);
    FUZZ_CHECK(report.whole == (declared < present ? declared : present));
    FUZZ_CHECK(blades.allocated_size() <= present);

    size_t kept = 0;
    for (uint32_t r = 0; r < report.whole; ++r) {
        const uint8_t* record = file + 4 + r * kGrassRecordBytes;
        if (!finiteRecord(record)) {
            continue;
        }
        FUZZ_CHECK(kept < blades.size());
        const GrassElement& blade = blades[kept++];
        uint8_t again[kGrassRecordBytes];
        tarnwell::scene::encodeGrassElement(blade, again);
        FUZZ_CHECK(std::memcmp(again, record, 20) == 0 && std::memcmp(again + 28, record + 28, 52) == 0);
        FUZZ_CHECK(blade.atlasColumn == clampCell(int32_t(u32At(record + 20)), columns));
        FUZZ_CHECK(blade.atlasRow == clampCell(int32_t(u32At(record + 24)), rows));
    }
    FUZZ_CHECK(kept == blades.size());
    FUZZ_CHECK(report.refused == report.whole - kept);

    const std::vector<uint8_t> written = writtenBytes(blades);
    FUZZ_CHECK(written.size() == 4 + kept * kGrassRecordBytes);
    irr::core::array<GrassElement> reread;
    FUZZ_CHECK(read(written.data(), written.size(), columns, rows, reread, report));
    FUZZ_CHECK(reread.size() == blades.size() && report.refused == 0);
    FUZZ_CHECK(writtenBytes(reread) == written);
    return 0;
}
