// Single- and double-precision four-component vectors.
//
// Points carry w = 1 and directions usually w = 0, but no operation infers w:
// each one documents the w it produces. Two-operand operations keep the left
// operand's w unless stated otherwise; dot products use x, y, z only.
#pragma once

#include "dgTypes.h"

// Four floats on a 16-byte boundary, so arrays of vectors and every structure
// embedding one keep SIMD alignment.
struct alignas(16) dgVector {
    float x;
    float y;
    float z;
    float w;

    // Trivial: left uninitialised, so large arrays cost nothing to declare.
    dgVector() = default;

    dgVector(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    // (a[0], a[1], a[2], 1): a point read from a packed float triple.
    static dgVector dgVector3(const float* a) { return dgVector(a[0], a[1], a[2], 1.0f); }

    static dgVector dgVector4(float x_, float y_, float z_, float w_) { return dgVector(x_, y_, z_, w_); }

    // i in [0, 3]: x, y, z, w.
    float& operator[](int i) { return reinterpret_cast<float*>(this)[i]; }

    const float& operator[](int i) const { return reinterpret_cast<const float*>(this)[i]; }

    // (x*s, y*s, z*s, w)
    dgVector scale(float s) const { return dgVector(x * s, y * s, z * s, w); }

    // (x*s, y*s, z*s, w*s): all four components.
    dgVector scale4(float s) const { return dgVector(x * s, y * s, z * s, w * s); }

    // (x+b.x, y+b.y, z+b.z, w)
    dgVector add(const dgVector& b) const { return dgVector(x + b.x, y + b.y, z + b.z, w); }

    // (x-b.x, y-b.y, z-b.z, w)
    dgVector sub(const dgVector& b) const { return dgVector(x - b.x, y - b.y, z - b.z, w); }

    // Adds b's x, y, z; w unchanged.
    void addInPlace(const dgVector& b) {
        x += b.x;
        y += b.y;
        z += b.z;
    }

    float dot(const dgVector& b) const { return x * b.x + y * b.y + z * b.z; }

    // Keeps this vector's w.
    dgVector cross(const dgVector& b) const {
        return dgVector(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x, w);
    }

    // Component-wise product of x, y, z; takes b's w.
    dgVector compProduct(const dgVector& b) const { return dgVector(x * b.x, y * b.y, z * b.z, b.w); }

    dgVector operator+(const dgVector& b) const { return add(b); }
    dgVector operator-(const dgVector& b) const { return sub(b); }
    dgVector operator*(float s) const { return scale(s); }
    // Dot product of x, y, z.
    float operator%(const dgVector& b) const { return dot(b); }

    dgVector& operator+=(const dgVector& b) {
        addInPlace(b);
        return *this;
    }

    dgVector& operator-=(const dgVector& b) {
        x -= b.x;
        y -= b.y;
        z -= b.z;
        return *this;
    }

    dgVector& operator*=(float s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
};

static_assert(sizeof(dgVector) == 16 && alignof(dgVector) == 16,
              "dgVector must be four packed floats on 16 bytes");

// Four doubles, for the builders that accumulate sums and areas. Same w rules as
// dgVector: sums, differences and cross products keep the left operand's w, the
// component product keeps the right operand's w.
struct alignas(16) dgVector64 {
    double x;
    double y;
    double z;
    double w;

    dgVector64() = default;

    dgVector64(double x_, double y_, double z_, double w_) : x(x_), y(y_), z(z_), w(w_) {}

    explicit dgVector64(const dgVector& v) : x(v.x), y(v.y), z(v.z), w(v.w) {}

    // Rounds each component to float.
    dgVector toVector() const { return dgVector(float(x), float(y), float(z), float(w)); }

    double& operator[](int i) { return reinterpret_cast<double*>(this)[i]; }

    const double& operator[](int i) const { return reinterpret_cast<const double*>(this)[i]; }

    dgVector64 scale(double s) const { return dgVector64(x * s, y * s, z * s, w); }

    dgVector64 add(const dgVector64& b) const { return dgVector64(x + b.x, y + b.y, z + b.z, w); }

    dgVector64 sub(const dgVector64& b) const { return dgVector64(x - b.x, y - b.y, z - b.z, w); }

    void addInPlace(const dgVector64& b) {
        x += b.x;
        y += b.y;
        z += b.z;
    }

    double dot(const dgVector64& b) const { return x * b.x + y * b.y + z * b.z; }

    dgVector64 cross(const dgVector64& b) const {
        return dgVector64(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x, w);
    }

    dgVector64 compProduct(const dgVector64& b) const { return dgVector64(x * b.x, y * b.y, z * b.z, b.w); }

    dgVector64 operator+(const dgVector64& b) const { return add(b); }
    dgVector64 operator-(const dgVector64& b) const { return sub(b); }
    dgVector64 operator*(double s) const { return scale(s); }
    double operator%(const dgVector64& b) const { return dot(b); }

    dgVector64& operator+=(const dgVector64& b) {
        addInPlace(b);
        return *this;
    }

    dgVector64& operator-=(const dgVector64& b) {
        x -= b.x;
        y -= b.y;
        z -= b.z;
        return *this;
    }

    dgVector64& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
};

static_assert(sizeof(dgVector64) == 32, "dgVector64 must be four packed doubles");
