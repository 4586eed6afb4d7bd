#include "dgFpuGuard.h"

#include <fenv.h>
#include <fpu_control.h>
#include <xmmintrin.h>

namespace {

const unsigned short kX87PrecisionMask = 0x0300;
const unsigned int kMxcsrFlushToZero = 0x8000;
const unsigned int kMxcsrDenormalsAreZero = 0x0040;

unsigned short precisionBits(dgFpuPrecision precision) {
    switch (precision) {
        case dgFpuPrecision24:
            return 0x0000;
        case dgFpuPrecision53:
            return 0x0200;
        case dgFpuPrecision64:
        default:
            return 0x0300;
    }
}

unsigned short readX87Control() {
    fpu_control_t cw;
    _FPU_GETCW(cw);
    return static_cast<unsigned short>(cw);
}

void writeX87Control(unsigned short value) {
    fpu_control_t cw = value;
    _FPU_SETCW(cw);
}

}  // namespace

dgFpuGuard::dgFpuGuard(dgFpuPrecision precision, bool flushToZero)
    : m_x87Control(readX87Control()), m_mxcsr(_mm_getcsr()), m_rounding(fegetround()) {
    // Rounding first: fesetround rewrites the rounding fields of both units.
    fesetround(FE_TONEAREST);

    const unsigned short cw = readX87Control();
    writeX87Control(static_cast<unsigned short>((cw & ~kX87PrecisionMask) | precisionBits(precision)));

    unsigned int csr = _mm_getcsr();
    if (flushToZero) {
        csr |= kMxcsrFlushToZero | kMxcsrDenormalsAreZero;
    } else {
        csr &= ~(kMxcsrFlushToZero | kMxcsrDenormalsAreZero);
    }
    _mm_setcsr(csr);
}

dgFpuGuard::~dgFpuGuard() {
    // fesetround touches both units at once, so it goes first and the saved
    // words then put back each unit's own fields bit for bit (the two units'
    // rounding modes may have differed).
    fesetround(m_rounding);
    writeX87Control(m_x87Control);
    _mm_setcsr(m_mxcsr);
}
