// Fuzzes loading a saved polygon soup: the input is the byte stream itself,
// delivered through the read callback in pieces as asked. A stream that loads
// must answer queries with faces inside its arrays and save back to exactly
// the bytes it was read from; one that does not must leave the soup empty.
#include "dgDoublePlaneBSPPolygonSoup.h"
#include "dgIntersections.h"
#include "FuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

uint32_t readPiece(void* context, void* buffer, uint32_t count) {
    Input& in = *static_cast<Input*>(context);
    const size_t n = (count < in.size - in.at) ? count : in.size - in.at;
    if (n > 0) {
        memcpy(buffer, in.data + in.at, n);
    }
    in.at += n;
    return uint32_t(n);
}

void writePiece(void* context, const void* buffer, uint32_t count) {
    auto& out = *static_cast<std::vector<uint8_t>*>(context);
    out.insert(out.end(), static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + count);
}

struct Check {
    const dgDoublePlaneBSPPolygonSoup* soup;
    int32_t faces;
};

// Every entry of a reported face lies in the arrays and names a vertex.
int32_t checkFace(void* context, const float* vertices, int32_t stride, const int32_t* indices,
                  int32_t count) {
    Check& check = *static_cast<Check*>(context);
    const dgDoublePlaneBSPPolygonSoup& soup = *check.soup;
    FUZZ_CHECK((vertices == soup.getVertexArray()) && (stride == 12));
    FUZZ_CHECK((count >= 3) && (count <= dgBspMaxLeafVertices));
    const int32_t position = int32_t(indices - soup.getIndexArray());
    FUZZ_CHECK((position >= 3) && (position + count <= soup.getIndexCount()));
    for (int32_t k = -3; k < count; ++k) {
        FUZZ_CHECK((k == -1) || ((indices[k] >= 0) && (indices[k] < soup.getVertexCount())));
    }
    ++check.faces;
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size, 0};
    dgDoublePlaneBSPPolygonSoup* soup = new dgDoublePlaneBSPPolygonSoup();
    if (!soup->deserialize(readPiece, &in)) {
        FUZZ_CHECK(!soup->getNodeArray() && !soup->getIndexArray() && !soup->getVertexArray());
        soup->release();
        return 0;
    }
    std::vector<uint8_t> saved;
    soup->serialize(writePiece, &saved);
    FUZZ_CHECK((saved.size() == in.at) && (memcmp(saved.data(), data, in.at) == 0));

    Check check{soup, 0};
    const dgVector everything[2] = {dgVector(-1e30f, -1e30f, -1e30f, 0), dgVector(1e30f, 1e30f, 1e30f, 0)};
    soup->getFacesInAABB(everything[0], everything[1], checkFace, &check);
    FUZZ_CHECK(check.faces <= soup->getNodeCount() + 1);
    dgVector boxMin, boxMax;
    soup->getAABB(boxMin, boxMax);
    soup->getFacesInAABB(boxMin, boxMax, checkFace, &check);
    soup->getFacesOnRay(boxMax, boxMin, checkFace, &check);
    soup->getFacesOnRay(dgVector(0, 1e4f, 0, 1), dgVector(0, -1e4f, 0, 1), checkFace, &check);
    soup->rayHit(boxMax, boxMin);
    soup->release();
    return 0;
}
