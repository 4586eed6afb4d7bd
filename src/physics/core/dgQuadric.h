// Symmetric error quadric of one or more planes, in double precision: the
// mesh simplification measures how far a vertex moves off the planes of the
// faces around it by the sum of squared plane values at the new position.
#pragma once

#include "dgPlane.h"

class dgQuadric {
public:
    // Terms of (a x + b y + c z + d)^2 summed over the planes.
    double m_aa;
    double m_bb;
    double m_cc;
    double m_dd;
    double m_2ab;
    double m_2ac;
    double m_2ad;
    double m_2bc;
    double m_2bd;
    double m_2cd;

    // Left uninitialised, so that arrays of quadrics cost nothing to declare.
    dgQuadric() = default;
    // The quadric of one plane (a, b, c, d) = (x, y, z, w).
    explicit dgQuadric(const dgPlane64& plane) {
        clear();
        addPlane(plane);
    }

    void clear() {
        m_aa = m_bb = m_cc = m_dd = 0.0;
        m_2ab = m_2ac = m_2ad = m_2bc = m_2bd = m_2cd = 0.0;
    }

    void addPlane(const dgPlane64& plane) {
        const double a = plane.x;
        const double b = plane.y;
        const double c = plane.z;
        const double d = plane.w;
        m_aa += a * a;
        m_bb += b * b;
        m_cc += c * c;
        m_dd += d * d;
        m_2ab += 2.0 * a * b;
        m_2ac += 2.0 * a * c;
        m_2ad += 2.0 * a * d;
        m_2bc += 2.0 * b * c;
        m_2bd += 2.0 * b * d;
        m_2cd += 2.0 * c * d;
    }

    dgQuadric& operator+=(const dgQuadric& other) {
        m_aa += other.m_aa;
        m_bb += other.m_bb;
        m_cc += other.m_cc;
        m_dd += other.m_dd;
        m_2ab += other.m_2ab;
        m_2ac += other.m_2ac;
        m_2ad += other.m_2ad;
        m_2bc += other.m_2bc;
        m_2bd += other.m_2bd;
        m_2cd += other.m_2cd;
        return *this;
    }

    // Sum of the squared plane values at (x, y, z).
    double evaluate(double x, double y, double z) const {
        return (m_aa * x + m_2ab * y + m_2ac * z + m_2ad) * x + (m_2bc * y + m_cc * z + m_2cd) * z +
               (m_bb * y + m_2bd) * y + m_dd;
    }
};
