// Scoped control of the floating-point environment.
#pragma once

// Mantissa width the x87 unit rounds to while a guard is alive.
enum dgFpuPrecision { dgFpuPrecision24, dgFpuPrecision53, dgFpuPrecision64 };

// Sets x87 precision, round-to-nearest and SSE flush-to-zero / denormals-are-
// zero (on when flushToZero, off otherwise) for the lifetime of the object,
// then restores exactly the x87 control word, MXCSR (status flags included)
// and rounding mode it found. Guards nest when scoped (destroyed in reverse
// order of construction). The state is per thread.
// On x86-64 gcc evaluates float/double in SSE, so the precision setting only
// affects long double and x87 code; the flush-to-zero bits affect SSE math.
//
// The world step, and the plan of an update's sub-steps, run under a guard of
// 24-bit precision with flushToZero off. The precision is the step's own
// setting; the rounding and flushing are set for determinism: the program
// around the engine (an audio or graphics library, another module of the
// game) may leave other rounding, flush-to-zero or denormals-are-zero on the
// thread, and one scene must give the same results bit for bit whatever ran
// before the update. Inside the step only the SIMD solver turns flush-to-zero
// on, for its own part and the same way every step.
class dgFpuGuard {
public:
    explicit dgFpuGuard(dgFpuPrecision precision, bool flushToZero = false);
    ~dgFpuGuard();

    dgFpuGuard(const dgFpuGuard&) = delete;
    dgFpuGuard& operator=(const dgFpuGuard&) = delete;

private:
    unsigned short m_x87Control;
    unsigned int m_mxcsr;
    int m_rounding;
};
