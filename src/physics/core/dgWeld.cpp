#include "dgWeld.h"

#include "dgFpuGuard.h"
#include "dgMemory.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

int32_t dgWeldSortAxisWord = dgWeldDataWord;

namespace {

inline float dgRecordFloat(const int32_t* record, int32_t word) {
    float value;
    memcpy(&value, record + word, sizeof(value));
    return value;
}

// Sums and spreads in double: single-precision sums over 10^5 records lose the
// digits the axis choice depends on.
void dgAxisSpreads(const int32_t* records, int32_t recordWords, int32_t count, double* mean, double* spread) {
    double sum[3] = {0.0, 0.0, 0.0};
    double sumSquares[3] = {0.0, 0.0, 0.0};
    for (int32_t i = 0; i < count; i++) {
        const int32_t* record = records + size_t(i) * size_t(recordWords);
        for (int32_t a = 0; a < 3; a++) {
            const double value = dgRecordFloat(record, dgWeldDataWord + a);
            sum[a] += value;
            sumSquares[a] += value * value;
        }
    }
    for (int32_t a = 0; a < 3; a++) {
        mean[a] = sum[a] / double(count);
        spread[a] = double(count) * sumSquares[a] - sum[a] * sum[a];
    }
}

void dgSwapRecords(int32_t* a, int32_t* b, int32_t recordWords) {
    for (int32_t k = 0; k < recordWords; k++) {
        const int32_t tmp = a[k];
        a[k] = b[k];
        b[k] = tmp;
    }
}

}  // namespace

int dgCompareAxis(const void* recordA, const void* recordB) {
    const float a = dgRecordFloat(static_cast<const int32_t*>(recordA), dgWeldSortAxisWord);
    const float b = dgRecordFloat(static_cast<const int32_t*>(recordB), dgWeldSortAxisWord);
    if (a < b) {
        return -1;
    }
    if (a > b) {
        return 1;
    }
    return int(std::isnan(a)) - int(std::isnan(b));
}

int32_t dgWeldVerticesSorted(int32_t* records, int32_t recordWords, int32_t toleranceWords,
                             int32_t exactWords, int32_t count, float tolerance) {
    if (count <= 0) {
        return 0;
    }
    const size_t stride = size_t(recordWords);
    const size_t dataBytes = (stride - dgWeldDataWord) * sizeof(int32_t);

    double mean[3];
    double spread[3];
    dgAxisSpreads(records, recordWords, count, mean, spread);
    int32_t axis = 0;
    if ((spread[1] >= spread[0]) && (spread[1] >= spread[2])) {
        axis = 1;
    } else if ((spread[2] >= spread[0]) && (spread[2] >= spread[1])) {
        axis = 2;
    }
    const int32_t axisWord = dgWeldDataWord + axis;
    dgWeldSortAxisWord = axisWord;

    // Widened by 0.0001 so that points exactly `tolerance` apart still merge
    // through float rounding; the window holds every candidate on the sort axis.
    const double t = double(tolerance) + 0.0001;
    const double window = 2.0 * t + 0.0001;

    qsort(records, size_t(count), stride * sizeof(int32_t), dgCompareAxis);

    const int32_t exactBegin = dgWeldDataWord + toleranceWords;
    const int32_t exactEnd = exactBegin + exactWords;
    int32_t unique = 0;
    for (int32_t i = 0; i < count; i++) {
        int32_t* const base = records + size_t(i) * stride;
        if (base[dgWeldMergedIndexWord] != -1) {
            continue;
        }
        const double end = double(dgRecordFloat(base, axisWord)) + window;
        for (int32_t j = i + 1; j < count; j++) {
            int32_t* const other = records + size_t(j) * stride;
            if (other[dgWeldMergedIndexWord] != -1) {
                continue;
            }
            // Inclusive: far from the origin the window can vanish in rounding
            // (end == coordinate), and equal vertices must still merge there.
            // Negated so that a NaN coordinate ends the window instead of
            // dragging it to the end of the array.
            if (!(double(dgRecordFloat(other, axisWord)) <= end)) {
                break;
            }
            bool match = true;
            for (int32_t k = dgWeldDataWord; match && (k < dgWeldDataWord + toleranceWords); k++) {
                const double difference = double(dgRecordFloat(base, k)) - double(dgRecordFloat(other, k));
                match = std::fabs(difference) < t;
            }
            for (int32_t k = exactBegin; match && (k < exactEnd); k++) {
                match = (base[k] == other[k]);
            }
            if (match) {
                other[dgWeldMergedIndexWord] = unique;
            }
        }
        // Records before i are all settled, so record `unique` (<= i) is free to
        // take the representative's data.
        int32_t* const target = records + size_t(unique) * stride;
        if (target != base) {
            memcpy(target + dgWeldDataWord, base + dgWeldDataWord, dataBytes);
        }
        base[dgWeldMergedIndexWord] = unique;
        unique++;
    }
    return unique;
}

int32_t dgWeldVerticesSplit(int32_t* records, int32_t recordWords, int32_t toleranceWords, int32_t exactWords,
                            int32_t count, float tolerance) {
    if (count <= dgWeldSplitThreshold) {
        return dgWeldVerticesSorted(records, recordWords, toleranceWords, exactWords, count, tolerance);
    }
    const size_t stride = size_t(recordWords);

    double mean[3];
    double spread[3];
    dgAxisSpreads(records, recordWords, count, mean, spread);
    int32_t axis = 0;
    if ((spread[1] > spread[0]) && (spread[1] > spread[2])) {
        axis = 1;
    }
    if ((spread[2] > spread[0]) && (spread[2] > spread[1])) {
        axis = 2;
    }
    const int32_t axisWord = dgWeldDataWord + axis;
    const double split = mean[axis];

    auto coordinate = [&](int32_t index) {
        return double(dgRecordFloat(records + size_t(index) * stride, axisWord));
    };
    int32_t i = 0;
    int32_t j = count - 1;
    while (i <= j) {
        // The bounds matter when rounding puts the mean outside the coordinates.
        while ((i < count) && (coordinate(i) < split)) {
            i++;
        }
        while ((j >= 0) && (coordinate(j) > split)) {
            j--;
        }
        if (i > j) {
            break;
        }
        dgSwapRecords(records + size_t(i) * stride, records + size_t(j) * stride, recordWords);
        i++;
        j--;
    }
    if ((i <= 0) || (i >= count)) {
        // Everything fell on one side: recursing on it would never end. Any cut
        // is as good as another here.
        i = count / 2;
    }

    const int32_t left = dgWeldVerticesSplit(records, recordWords, toleranceWords, exactWords, i, tolerance);
    int32_t* const rightRecords = records + size_t(i) * stride;
    const int32_t right =
        dgWeldVerticesSplit(rightRecords, recordWords, toleranceWords, exactWords, count - i, tolerance);

    const size_t dataBytes = (stride - dgWeldDataWord) * sizeof(int32_t);
    for (int32_t k = 0; k < right; k++) {
        int32_t* const source = rightRecords + size_t(k) * stride;
        int32_t* const target = records + size_t(left + k) * stride;
        if (source != target) {
            memmove(target + dgWeldDataWord, source + dgWeldDataWord, dataBytes);
        }
    }
    for (int32_t k = 0; k < count - i; k++) {
        rightRecords[size_t(k) * stride + dgWeldMergedIndexWord] += left;
    }
    return left + right;
}

int32_t dgWeldVertices(void* vertices, int32_t strideInBytes, int32_t toleranceBytes, int32_t exactBytes,
                       int32_t vertexCount, int32_t* outIndices, float tolerance) {
    if ((strideInBytes < 12) || (toleranceBytes < 0) || (exactBytes < 0) ||
        (toleranceBytes + exactBytes < 12) || (toleranceBytes + exactBytes > strideInBytes)) {
        return 0;
    }
    if (!vertices || !outIndices || (vertexCount <= 0)) {
        return 0;
    }

    dgFpuGuard guard(dgFpuPrecision64);

    const size_t vertexWords = size_t(strideInBytes) / sizeof(int32_t);
    const size_t recordWords = vertexWords + dgWeldDataWord;
    dgScratchBuffer scratch(size_t(vertexCount) * recordWords * sizeof(int32_t));
    int32_t* const records = static_cast<int32_t*>(scratch.getData());
    if (!records) {
        return 0;
    }

    unsigned char* const bytes = static_cast<unsigned char*>(vertices);
    const size_t vertexBytes = vertexWords * sizeof(int32_t);
    for (int32_t i = 0; i < vertexCount; i++) {
        int32_t* const record = records + size_t(i) * recordWords;
        record[dgWeldMergedIndexWord] = -1;
        record[dgWeldInputIndexWord] = i;
        memcpy(record + dgWeldDataWord, bytes + size_t(i) * size_t(strideInBytes), vertexBytes);
    }

    const int32_t unique = dgWeldVerticesSplit(records, int32_t(recordWords), toleranceBytes / 4,
                                               exactBytes / 4, vertexCount, tolerance);

    for (int32_t i = 0; i < unique; i++) {
        memcpy(bytes + size_t(i) * size_t(strideInBytes), records + size_t(i) * recordWords + dgWeldDataWord,
               vertexBytes);
    }
    for (int32_t i = 0; i < vertexCount; i++) {
        const int32_t* const record = records + size_t(i) * recordWords;
        outIndices[record[dgWeldInputIndexWord]] = record[dgWeldMergedIndexWord];
    }
    return unique;
}
