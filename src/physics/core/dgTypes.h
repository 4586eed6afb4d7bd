// Shared scalar types and small helpers used throughout the physics core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cmath>

// Scalar helpers. Arguments are compared with '<' / '>' only, so they work for
// any ordered type. dgMax / dgMin return the first argument unless the second
// is strictly greater / smaller (ties and NaN in b keep a). dgClamp returns
// `value` itself when it lies inside [lo, hi] (either end included); the
// caller must pass lo <= hi.
template <class T>
inline T dgMax(T a, T b) {
    return (b > a) ? b : a;
}

template <class T>
inline T dgMin(T a, T b) {
    return (b < a) ? b : a;
}

template <class T>
inline T dgMax(T a, T b, T c) {
    return dgMax(dgMax(a, b), c);
}

template <class T>
inline T dgMin(T a, T b, T c) {
    return dgMin(dgMin(a, b), c);
}

template <class T>
inline T dgClamp(T value, T lo, T hi) {
    return (value < lo) ? lo : ((value <= hi) ? value : hi);
}

template <class T>
inline T dgAbs(T a) {
    return (a < T(0)) ? -a : a;
}

template <class T>
inline T dgSign(T a) {
    return (a < T(0)) ? T(-1) : T(1);
}

template <class T>
inline void dgSwap(T& a, T& b) {
    T tmp(a);
    a = b;
    b = tmp;
}
