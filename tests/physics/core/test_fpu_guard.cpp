#include <gtest/gtest.h>

#include "dgFpuGuard.h"

#include <fenv.h>
#include <fpu_control.h>
#include <xmmintrin.h>

namespace {

const unsigned short kPrecisionMask = 0x0300;
const unsigned short kX87RoundingMask = 0x0C00;
const unsigned int kFlushBits = 0x8040;
const unsigned int kSseRoundingMask = 0x6000;

unsigned short x87Control() {
    fpu_control_t cw;
    _FPU_GETCW(cw);
    return static_cast<unsigned short>(cw);
}

void setX87Control(unsigned short value) {
    fpu_control_t cw = value;
    _FPU_SETCW(cw);
}

// Puts the process state back whatever a test did to it.
class FpuStateKeeper {
public:
    FpuStateKeeper() : m_cw(x87Control()), m_csr(_mm_getcsr()) {}
    ~FpuStateKeeper() {
        setX87Control(m_cw);
        _mm_setcsr(m_csr);
    }

private:
    unsigned short m_cw;
    unsigned int m_csr;
};

long double addTinyInX87(long double tiny) {
    volatile long double one = 1.0L;
    volatile long double sum = one + tiny;
    return sum - one;
}

float multiplyToDenormal() {
    volatile float a = 1.0e-30f;
    volatile float b = 1.0e-10f;
    return a * b;
}

}  // namespace

TEST(FpuGuard, SetsPrecisionAndRestoresControlWord) {
    FpuStateKeeper keeper;
    const struct {
        dgFpuPrecision precision;
        unsigned short bits;
    } cases[] = {{dgFpuPrecision24, 0x0000}, {dgFpuPrecision53, 0x0200}, {dgFpuPrecision64, 0x0300}};
    for (const auto& c : cases) {
        const unsigned short cwBefore = x87Control();
        const unsigned int csrBefore = _mm_getcsr();
        {
            dgFpuGuard guard(c.precision);
            EXPECT_EQ(x87Control() & kPrecisionMask, c.bits);
            EXPECT_EQ(x87Control() & ~kPrecisionMask, cwBefore & ~kPrecisionMask);
        }
        EXPECT_EQ(x87Control(), cwBefore);
        EXPECT_EQ(_mm_getcsr(), csrBefore);
    }
}

TEST(FpuGuard, RestoresUnusualStateExactly) {
    FpuStateKeeper keeper;
    // 24-bit x87 rounding upward; SSE rounding toward zero with flush-to-zero,
    // denormals-are-zero and a sticky inexact flag: the two units disagree.
    const unsigned short oddCw =
        static_cast<unsigned short>((x87Control() & ~(kPrecisionMask | kX87RoundingMask)) | 0x0800);
    const unsigned int oddCsr = (_mm_getcsr() & ~kSseRoundingMask) | 0x6000 | kFlushBits | 0x0020;
    setX87Control(oddCw);
    _mm_setcsr(oddCsr);
    {
        dgFpuGuard guard(dgFpuPrecision64);
        EXPECT_EQ(x87Control() & kPrecisionMask, 0x0300);
        EXPECT_EQ(x87Control() & kX87RoundingMask, 0);
        EXPECT_EQ(_mm_getcsr() & kSseRoundingMask, 0u);
        EXPECT_EQ(_mm_getcsr() & kFlushBits, 0u);
        EXPECT_EQ(fegetround(), FE_TONEAREST);
    }
    EXPECT_EQ(x87Control(), oddCw);
    EXPECT_EQ(_mm_getcsr(), oddCsr);
}

TEST(FpuGuard, NestedGuardsUnwindInOrder) {
    FpuStateKeeper keeper;
    const unsigned short cw = x87Control();
    const unsigned int csr = _mm_getcsr();
    {
        dgFpuGuard outer(dgFpuPrecision64);
        const unsigned short outerCw = x87Control();
        const unsigned int outerCsr = _mm_getcsr();
        {
            dgFpuGuard inner(dgFpuPrecision24, true);
            EXPECT_EQ(_mm_getcsr() & kFlushBits, kFlushBits);
        }
        EXPECT_EQ(x87Control(), outerCw);
        EXPECT_EQ(_mm_getcsr(), outerCsr);
    }
    EXPECT_EQ(x87Control(), cw);
    EXPECT_EQ(_mm_getcsr(), csr);
}

TEST(FpuGuard, FlushToZeroDropsDenormalResults) {
    FpuStateKeeper keeper;
    {
        dgFpuGuard guard(dgFpuPrecision24, false);
        EXPECT_NE(multiplyToDenormal(), 0.0f);
    }
    {
        dgFpuGuard guard(dgFpuPrecision24, true);
        EXPECT_EQ(multiplyToDenormal(), 0.0f);
    }
}

TEST(FpuGuard, PrecisionLimitsX87Arithmetic) {
    FpuStateKeeper keeper;
    const long double tiny = 1.0L / (1ULL << 40);
    {
        dgFpuGuard guard(dgFpuPrecision24);
        EXPECT_EQ(addTinyInX87(tiny), 0.0L);
    }
    {
        dgFpuGuard guard(dgFpuPrecision64);
        EXPECT_EQ(addTinyInX87(tiny), tiny);
    }
}
