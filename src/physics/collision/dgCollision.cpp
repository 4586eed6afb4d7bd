#include "dgCollision.h"

#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgDynamicsServices.h"
#include "dgHash.h"

DG_IMPLEMENT_CLASS(dgCollision, dgRef, "dgCollision");

int32_t dgQuantize(float value) {
    const double scaled = double(value) * 1024.0;
    // Converting a NaN or an out-of-range value to an integer is undefined;
    // such dimensions only need to give some stable word.
    if (!(scaled == scaled)) {
        return 0;
    }
    int64_t quantised;
    if (scaled >= 9223372036854775807.0) {
        quantised = INT64_MAX;
    } else if (scaled <= -9223372036854775808.0) {
        quantised = INT64_MIN;
    } else {
        quantised = int64_t(scaled);
    }
    return int32_t(uint32_t(uint64_t(quantised)));
}

uint32_t dgSignatureHash(const void* record, int32_t byteCount) {
    return dgHashBytes(record, byteCount, 0u);
}

uint32_t dgShapeSignature(uint32_t typeId, const float* dimensions, int32_t dimensionCount,
                          const dgMatrix& offsetMatrix) {
    uint32_t record[dgSignatureRecordWords];
    std::memset(record, 0, sizeof(record));
    constexpr int32_t kMatrixWords = int32_t(sizeof(dgMatrix) / sizeof(uint32_t));
    constexpr int32_t kMaxDimensions = dgSignatureRecordWords - 1 - kMatrixWords;
    if (dimensionCount > kMaxDimensions) {
        dimensionCount = kMaxDimensions;
    }
    int32_t word = 0;
    record[word++] = typeId;
    for (int32_t i = 0; i < dimensionCount; i++) {
        record[word++] = uint32_t(dgQuantize(dimensions[i]));
    }
    std::memcpy(&record[word], &offsetMatrix, sizeof(dgMatrix));
    return dgSignatureHash(record, int32_t(sizeof(record)));
}

dgCollision::dgCollision(uint32_t signature, const dgMatrix& offsetMatrix, uint32_t typeId)
    : dgRef(), m_signature(signature), m_shapeType(typeId), m_flags(0) {
    setOffsetMatrix(offsetMatrix);
}

dgCollision::~dgCollision() {}

uint32_t dgCollision::getUserId() const {
    return 0;
}

void dgCollision::setUserId(uint32_t) {}

dgMatrix dgCollision::getModifierMatrix() const {
    return dgGetIdentityMatrix();
}

void dgCollision::setModifierMatrix(const dgMatrix&) {}

bool dgCollision::isIdentityOffset(const dgMatrix& matrix) {
    // Diagonal compared by bit pattern so that a value one ulp off 1.0 still
    // marks an offset; off-diagonal compared by value so -0.0 counts as 0.
    for (int32_t i = 0; i < 4; i++) {
        for (int32_t j = 0; j < 4; j++) {
            const float value = matrix[i][j];
            if (i == j) {
                uint32_t bits;
                std::memcpy(&bits, &value, sizeof(bits));
                if (bits != 0x3F800000u) {
                    return false;
                }
            } else if (!(value == 0.0f)) {
                return false;
            }
        }
    }
    return true;
}

void dgCollision::setOffsetMatrix(const dgMatrix& matrix) {
    m_offsetMatrix = matrix;
    if (isIdentityOffset(matrix)) {
        m_flags &= ~uint32_t(dgShapeFlagOffset);
    } else {
        m_flags |= dgShapeFlagOffset;
    }
}

const dgMatrix& dgPolygonWalkMatrix(const dgBody* body) {
    DG_ASSERT(body);
    return body->m_matrix;
}

dgBodyShapeLend::dgBodyShapeLend(const dgBody* body)
    : m_body(const_cast<dgBody*>(body)), m_saved(nullptr), m_outermost(false) {
    DG_ASSERT(body);
    m_saved = m_body->m_collision;
    m_outermost = !(m_body->m_flags & dgBodyFlagShapeLent);
    m_body->m_flags |= dgBodyFlagShapeLent;
}

dgBodyShapeLend::~dgBodyShapeLend() {
    m_body->m_collision = m_saved;
    if (!m_outermost) {
        return;
    }
    m_body->m_flags &= ~uint32_t(dgBodyFlagShapeLent);
    // The swap asked for meanwhile, with the reference it kept: the body
    // takes a reference of its own, then the waiting one goes back.
    if (dgCollision* swap = m_body->m_lentSwap) {
        m_body->m_lentSwap = nullptr;
        dgBodySetCollision(m_body, swap);
        swap->release();
    }
}

void dgBodyShapeLend::lend(dgCollision* shape) {
    DG_ASSERT(shape);
    m_body->m_collision = shape;
}
