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
