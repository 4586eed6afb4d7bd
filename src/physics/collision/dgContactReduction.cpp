#include "dgContactReduction.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "dgAssert.h"
#include "dgHeap.h"
#include "dgMathUtils.h"
#include "dgMemory.h"

namespace {

// Two points nearer than 0.005 are one contact for the filter.
constexpr float dgFilterWindow = 0.005f;
constexpr float dgFilterDistanceSq = 2.5e-5f;
// Below this count the filter compares every pair instead of sweeping.
constexpr int32_t dgFilterSmallCount = 9;
// The tolerance doubles per pass: after 40 passes from 0.01 it spans about
// 1e10 units, far beyond anything one pair of bodies can touch, so only
// non-finite arithmetic (or a near-zero start) gets that far.
constexpr int32_t dgReduceMaxPasses = 40;
// Contact arrays hold 128 records; work for that many stays on the stack.
constexpr int32_t dgInlineRecords = 128;

typedef dgMinHeap<int32_t, float> dgSweepHeap;

// A NaN key would break the heap order for every other entry; such a point is
// never near anything, so it may as well wait at the far end.
inline float dgSweepKey(const dgVector& p) {
    return std::isnan(p.x) ? INFINITY : p.x;
}

inline float dgDistanceSq(const dgVector& a, const dgVector& b) {
    const dgVector d(a - b);
    return d % d;
}

// The two heaps and the removed flags for one thinning of up to `count`
// records: inline for a full contact array, one dgMalloc block beyond.
class dgSweepWork {
public:
    explicit dgSweepWork(int32_t count)
        : m_block(count > dgInlineRecords ? bytesFor(count) : 0),
          m_capacity(count <= dgInlineRecords ? count : (m_block.get() ? count : 0)),
          m_pending(entries(0), m_capacity),
          m_kept(entries(1), m_capacity) {
        if (m_capacity > 0) {
            std::memset(flags(), 0, size_t(m_capacity));
        }
    }
    dgSweepWork(const dgSweepWork&) = delete;
    dgSweepWork& operator=(const dgSweepWork&) = delete;

    // False when the block for a large set could not be had.
    bool isValid(int32_t count) const { return m_capacity >= count; }

    dgSweepHeap& pending() { return m_pending; }
    dgSweepHeap& kept() { return m_kept; }
    uint8_t* flags() {
        return m_block.get() ? static_cast<uint8_t*>(m_block.get()) + flagOffset() : m_inlineFlags;
    }

private:
    typedef dgSweepHeap::Entry Entry;

    static size_t bytesFor(int32_t count) { return 2 * dgSweepHeap::bytesFor(count) + size_t(count); }
    size_t flagOffset() const { return 2 * dgSweepHeap::bytesFor(m_capacity); }
    Entry* entries(int32_t heap) {
        Entry* base = m_block.get() ? static_cast<Entry*>(m_block.get()) : m_inlineEntries;
        return base + size_t(heap) * size_t(m_capacity);
    }

    dgBlockHolder m_block;
    int32_t m_capacity;
    Entry m_inlineEntries[2 * dgInlineRecords];
    uint8_t m_inlineFlags[dgInlineRecords];
    dgSweepHeap m_pending;
    dgSweepHeap m_kept;
};

// One sweep along x over the records not yet removed: each is compared with
// the records kept before it whose x lies within `window` below its own, and
// removed when one of them is nearer than the square root of distanceSq.
// Stops after `limit` removals; returns how many it removed.
int32_t dgSweepContacts(const dgContactPoint* contacts, int32_t count, dgSweepWork& work, float window,
                        float distanceSq, int32_t limit) {
    dgSweepHeap& pending = work.pending();
    dgSweepHeap& kept = work.kept();
    uint8_t* removed = work.flags();
    pending.clear();
    kept.clear();
    for (int32_t i = 0; i < count; i++) {
        if (!removed[i]) {
            pending.push(i, dgSweepKey(contacts[i].point));
        }
    }
    int32_t removedCount = 0;
    while (!pending.isEmpty() && (removedCount < limit)) {
        const int32_t i = pending.getTopValue();
        const float x = pending.getTopKey();
        pending.pop();
        while (!kept.isEmpty() && (kept.getTopKey() < x - window)) {
            kept.pop();
        }
        bool close = false;
        for (int32_t k = 0; k < kept.getCount(); k++) {
            if (dgDistanceSq(contacts[i].point, contacts[kept[k].value].point) < distanceSq) {
                close = true;
                break;
            }
        }
        if (close) {
            removed[i] = 1;
            removedCount++;
        } else {
            kept.push(i, x);
        }
    }
    return removedCount;
}

// Marks records removed until `target` remain (see dgWorldReduceContacts).
void dgMarkReduction(const dgContactPoint* contacts, int32_t count, dgSweepWork& work, int32_t target,
                     float tolerance) {
    DG_ASSERT((target >= 1) && (target < count));
    uint8_t* removed = work.flags();
    int32_t toRemove = count - target;
    // Points that no distance can pair would survive every pass at the cost
    // of real contacts.
    for (int32_t i = count - 1; (i >= 0) && (toRemove > 0); i--) {
        if (!dgIsFinite3(contacts[i].point)) {
            removed[i] = 1;
            toRemove--;
        }
    }
    float t = (tolerance > 0.0f) ? tolerance : dgContactReduceTolerance;
    for (int32_t pass = 0; (pass < dgReduceMaxPasses) && (toRemove > 0); pass++) {
        toRemove -= dgSweepContacts(contacts, count, work, t, t * t, toRemove);
        t *= 2.0f;
    }
    if (toRemove > 0) {
        // Too far apart for any pass: the points with the largest x go.
        dgSweepHeap& pending = work.pending();
        pending.clear();
        for (int32_t i = 0; i < count; i++) {
            if (!removed[i]) {
                pending.push(i, -contacts[i].point.x);
            }
        }
        for (; toRemove > 0; toRemove--) {
            DG_ASSERT(!pending.isEmpty());
            if (pending.isEmpty()) {
                break;
            }
            removed[pending.getTopValue()] = 1;
            pending.pop();
        }
    }
}

// Moves the records not removed to the front in their order; returns their count.
int32_t dgCompactContacts(dgContactPoint* contacts, int32_t count, const uint8_t* removed) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++) {
        if (!removed[i]) {
            if (kept != i) {
                contacts[kept] = contacts[i];
            }
            kept++;
        }
    }
    return kept;
}

// Every pair compared; a record found near an earlier one is replaced by the
// last record, which is then compared in its place.
int32_t dgFilterSmallSet(dgContactPoint* contacts, int32_t count) {
    for (int32_t i = 0; i < count - 1; i++) {
        for (int32_t j = i + 1; j < count;) {
            if (dgDistanceSq(contacts[i].point, contacts[j].point) < dgFilterDistanceSq) {
                count--;
                if (j != count) {
                    contacts[j] = contacts[count];
                }
            } else {
                j++;
            }
        }
    }
    return count;
}

}  // namespace

int32_t dgWorldReduceContacts(int32_t count, dgContactPoint* contacts, int32_t maxCount, float tolerance) {
    const int32_t target = (maxCount < 1) ? 1 : maxCount;
    if (count <= target) {
        return (count > 0) ? count : 0;
    }
    DG_ASSERT(contacts);
    if (!contacts) {
        return 0;
    }
    dgSweepWork work(count);
    if (!work.isValid(count)) {
        // No room to sort: the first records stand for the set.
        return target;
    }
    dgMarkReduction(contacts, count, work, target, tolerance);
    const int32_t kept = dgCompactContacts(contacts, count, work.flags());
    DG_ASSERT(kept == target);
    return kept;
}

int32_t dgWorldFilterContacts(int32_t count, dgContactPoint* contacts, int32_t maxCount) {
    if ((maxCount < 1) || (count < 1)) {
        return 0;
    }
    DG_ASSERT(contacts);
    if (!contacts) {
        return 0;
    }
    if (count < dgFilterSmallCount) {
        count = dgFilterSmallSet(contacts, count);
        return (count > maxCount) ? dgWorldReduceContacts(count, contacts, maxCount, dgContactReduceTolerance)
                                  : count;
    }
    dgSweepWork work(count);
    if (!work.isValid(count)) {
        return (count > maxCount) ? maxCount : count;
    }
    if (count > maxCount) {
        dgMarkReduction(contacts, count, work, maxCount, dgContactReduceTolerance);
    }
    dgSweepContacts(contacts, count, work, dgFilterWindow, dgFilterDistanceSq, count);
    return dgCompactContacts(contacts, count, work.flags());
}
