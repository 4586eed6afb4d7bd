#include "dgVolumeIntegrals.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgConvexCollision.h"
#include "dgDynamicsServices.h"

namespace {

// Stands in for a volume that cannot divide (zero, or not finite).
constexpr double kDegenerateVolume = 0.001;

inline bool fitsFloat(double value) {
    return std::fabs(value) <= double(FLT_MAX);
}

}  // namespace

dgVolumeIntegrals::dgVolumeIntegrals() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
}

dgVolumeIntegrals::dgVolumeIntegrals(const dgVector& point) : dgVolumeIntegrals() {
    origin[0] = point.x;
    origin[1] = point.y;
    origin[2] = point.z;
}

void dgVolumeIntegrals::anchorAtFirstPoint() {
    // Moving the reference point under integrals already summed would
    // silently shift them.
    DG_ASSERT(T0 == 0.0 && T1[0] == 0.0 && T1[1] == 0.0 && T1[2] == 0.0);
    m_anchorPending = true;
}

void dgVolumeIntegrals::anchor(const float* point) {
    if (!m_anchorPending) {
        return;
    }
    origin[0] = point[0];
    origin[1] = point[1];
    origin[2] = point[2];
    m_anchorPending = false;
}

void dgVolumeIntegrals::selectAxes(const double* normal) {
    const double nx = std::fabs(normal[0]);
    const double ny = std::fabs(normal[1]);
    const double nz = std::fabs(normal[2]);
    if ((nx > ny) && (nx > nz)) {
        C = 0;
    } else {
        C = (ny <= nz) ? 2 : 1;
    }
    A = (C + 1) % 3;
    B = (A + 1) % 3;
}

// Integrals over the face's projection onto the A-B plane, edge by edge,
// starting with the closing edge from the last point to the first.
void dgVolumeIntegrals::projectionIntegrals(int32_t count, const float* points, int32_t strideFloats,
                                            bool thirdOrder) {
    P1 = Pa = Pb = Paa = Pbb = Pab = Paaa = Pbbb = Paab = Pabb = 0.0;
    const double originA = origin[A];
    const double originB = origin[B];
    const float* last = points + (count - 1) * strideFloats;
    double a0 = double(last[A]) - originA;
    double b0 = double(last[B]) - originB;
    for (int32_t i = 0; i < count; i++) {
        const float* cur = points + i * strideFloats;
        const double a1 = double(cur[A]) - originA;
        const double b1 = double(cur[B]) - originB;

        const double da = a1 - a0;
        const double db = b1 - b0;
        const double a0_2 = a0 * a0;
        const double a0_3 = a0_2 * a0;
        const double b0_2 = b0 * b0;
        const double b0_3 = b0_2 * b0;
        const double a1_2 = a1 * a1;

        const double C1 = a1 + a0;
        const double Ca = a1 * C1 + a0_2;
        const double Caa = a1 * Ca + a0_3;
        const double Cb = b1 * (b1 + b0) + b0_2;
        const double Cbb = b1 * Cb + b0_3;
        const double Cab = 3.0 * a1_2 + 2.0 * a1 * a0 + a0_2;
        const double Kab = a1_2 + 2.0 * a1 * a0 + 3.0 * a0_2;

        P1 += db * C1;
        Pa += db * Ca;
        Paa += db * Caa;
        Pb += da * Cb;
        Pbb += da * Cbb;
        Pab += db * (b1 * Cab + b0 * Kab);

        if (thirdOrder) {
            const double a0_4 = a0_3 * a0;
            const double b0_4 = b0_3 * b0;
            const double a1_3 = a1_2 * a1;
            const double b1_2 = b1 * b1;
            const double b1_3 = b1_2 * b1;
            const double Caaa = a1 * Caa + a0_4;
            const double Cbbb = b1 * Cbb + b0_4;
            const double Caab = a0 * Cab + 4.0 * a1_3;
            const double Kaab = a1 * Kab + 4.0 * a0_3;
            const double Cabb = 4.0 * b1_3 + 3.0 * b1_2 * b0 + 2.0 * b1 * b0_2 + b0_3;
            const double Kabb = b1_3 + 2.0 * b1_2 * b0 + 3.0 * b1 * b0_2 + 4.0 * b0_3;
            Paaa += db * Caaa;
            Pbbb += da * Cbbb;
            Paab += db * (b1 * Caab + b0 * Kaab);
            Pabb += da * (a1 * Cabb + a0 * Kabb);
        }
        a0 = a1;
        b0 = b1;
    }
    P1 *= 1.0 / 2.0;
    Pa *= 1.0 / 6.0;
    Pb *= -1.0 / 6.0;
    Paa *= 1.0 / 12.0;
    Pbb *= -1.0 / 12.0;
    Pab *= 1.0 / 24.0;
    Paaa *= 1.0 / 20.0;
    Pbbb *= -1.0 / 20.0;
    Paab *= 1.0 / 60.0;
    Pabb *= -1.0 / 60.0;
}

void dgVolumeIntegrals::addFaceIntegrals(const double* n, double w, bool thirdOrder) {
    const double k1 = 1.0 / n[C];
    const double k2 = k1 * k1;
    const double k3 = k2 * k1;
    const double nA = n[A];
    const double nB = n[B];
    const double nA2 = nA * nA;
    const double nB2 = nB * nB;

    Fa = k1 * Pa;
    Fb = k1 * Pb;
    Fc = -k2 * (nA * Pa + nB * Pb + w * P1);
    Faa = k1 * Paa;
    Fbb = k1 * Pbb;
    Fcc = k3 * (nA2 * Paa + 2.0 * nA * nB * Pab + nB2 * Pbb + w * (2.0 * (nA * Pa + nB * Pb) + w * P1));

    T0 += n[0] * ((A == 0) ? Fa : ((B == 0) ? Fb : Fc));
    T1[A] += nA * Faa;
    T1[B] += nB * Fbb;
    T1[C] += n[C] * Fcc;
    if (!thirdOrder) {
        return;
    }

    const double k4 = k3 * k1;
    Faaa = k1 * Paaa;
    Fbbb = k1 * Pbbb;
    Fccc = -k4 * (nA2 * nA * Paaa + 3.0 * nA2 * nB * Paab + 3.0 * nA * nB2 * Pabb + nB2 * nB * Pbbb +
                  3.0 * w * (nA2 * Paa + 2.0 * nA * nB * Pab + nB2 * Pbb) +
                  w * w * (3.0 * (nA * Pa + nB * Pb) + w * P1));
    Faab = k1 * Paab;
    Fbbc = -k2 * (nA * Pabb + nB * Pbbb + w * Pbb);
    Fcca = k3 * (nA2 * Paaa + 2.0 * nA * nB * Paab + nB2 * Pabb + w * (2.0 * (nA * Paa + nB * Pab) + w * Pa));

    T2[A] += nA * Faaa;
    T2[B] += nB * Fbbb;
    T2[C] += n[C] * Fccc;
    TP[A] += nA * Faab;
    TP[B] += nB * Fbbc;
    TP[C] += n[C] * Fcca;
}

void dgVolumeIntegrals::addFace(int32_t count, const dgPlane& plane, const dgVector* points) {
    if ((count < 3) || ((plane % plane) <= 1.0e-8f)) {
        return;
    }
    DG_ASSERT(points);
    anchor(&points[0].x);
    const double n[3] = {plane.x, plane.y, plane.z};
    selectAxes(n);
    projectionIntegrals(count, &points[0].x, int32_t(sizeof(dgVector) / sizeof(float)), false);
    addFaceIntegrals(n, plane.w, false);
}

void dgVolumeIntegrals::addFaceWithInertia(int32_t count, const float* points) {
    if (count < 3) {
        return;
    }
    DG_ASSERT(points);
    anchor(points);
    // The face's plane from all its points (Newell's sums), taken about the
    // reference point: for a planar face it is the plane through any three
    // of them, and it stays well-conditioned on a many-sided face whose
    // first corners are nearly in line or whose float positions lie slightly
    // off one plane. For a triangle the sums are its cross product.
    double n[3] = {0.0, 0.0, 0.0};
    double mean[3] = {0.0, 0.0, 0.0};
    const float* last = points + 3 * (count - 1);
    double q0[3] = {double(last[0]) - origin[0], double(last[1]) - origin[1], double(last[2]) - origin[2]};
    for (int32_t i = 0; i < count; i++) {
        const double q1[3] = {double(points[3 * i + 0]) - origin[0], double(points[3 * i + 1]) - origin[1],
                              double(points[3 * i + 2]) - origin[2]};
        n[0] += (q0[1] - q1[1]) * (q0[2] + q1[2]);
        n[1] += (q0[2] - q1[2]) * (q0[0] + q1[0]);
        n[2] += (q0[0] - q1[0]) * (q0[1] + q1[1]);
        for (int32_t j = 0; j < 3; j++) {
            mean[j] += q1[j];
            q0[j] = q1[j];
        }
    }
    // Made a unit normal whatever the face's size: a threshold in absolute
    // units drops every face of a small shape and leaves its surface open.
    // A face without area adds nothing; one nearly without adds next to
    // nothing, its projections being as thin as itself.
    const double n2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    if (!(n2 > 0.0) || !std::isfinite(n2)) {
        return;
    }
    const double scale = 1.0 / std::sqrt(n2);
    n[0] *= scale;
    n[1] *= scale;
    n[2] *= scale;
    const double w = -(n[0] * mean[0] + n[1] * mean[1] + n[2] * mean[2]) / double(count);
    selectAxes(n);
    projectionIntegrals(count, points, 3, true);
    addFaceIntegrals(n, w, true);
}

void dgVolumeIntegrals::addShapeFaces(const dgCollision& shape) {
    // The walk hands faces to a callback that only sees the body it was
    // given, so a zeroed temporary body at the origin carries the
    // accumulator.
    dgBody body;
    body.clear();
    body.m_matrix = dgGetIdentityMatrix();
    body.m_collisionMatrix = dgGetIdentityMatrix();
    body.m_userData = this;
    body.m_collision = const_cast<dgCollision*>(&shape);
    anchorAtFirstPoint();
    shape.forEachPolygon(&body, dgConvexCollision::inertiaFaceCallback);
}

void dgVolumeIntegrals::momentsAboutOrigin(double first[3], double second[3], double products[3]) const {
    for (int32_t i = 0; i < 3; i++) {
        const double r = origin[i];
        first[i] = T1[i] + 2.0 * r * T0;
        second[i] = T2[i] + 3.0 * r * T1[i] + 3.0 * r * r * T0;
        const int32_t j = (i + 1) % 3;
        const double s = origin[j];
        products[i] = TP[i] + r * T1[j] + s * T1[i] + 2.0 * r * s * T0;
    }
}

void dgVolumeIntegrals::addPart(const dgVolumeIntegrals& part) {
    DG_ASSERT(!m_anchorPending);
    double d[3];
    for (int32_t i = 0; i < 3; i++) {
        d[i] = part.origin[i] - origin[i];
    }
    // As momentsAboutOrigin, with the offset of the part's point from ours.
    for (int32_t i = 0; i < 3; i++) {
        const int32_t j = (i + 1) % 3;
        T1[i] += part.T1[i] + 2.0 * d[i] * part.T0;
        T2[i] += part.T2[i] + 3.0 * d[i] * part.T1[i] + 3.0 * d[i] * d[i] * part.T0;
        TP[i] += part.TP[i] + d[i] * part.T1[j] + d[j] * part.T1[i] + 2.0 * d[i] * d[j] * part.T0;
    }
    T0 += part.T0;
}

void dgVolumeIntegrals::centroid(double centre[3]) const {
    const double volume = ((T0 != 0.0) && std::isfinite(T0)) ? T0 : kDegenerateVolume;
    for (int32_t i = 0; i < 3; i++) {
        centre[i] = origin[i] + T1[i] * 0.5 / volume;
    }
}

bool dgVolumeIntegrals::massProperties(dgVector& inertia, dgVector& centre) const {
    const double volume = ((T0 != 0.0) && std::isfinite(T0)) ? T0 : kDegenerateVolume;
    // About the reference point first, then shifted once to the centroid:
    // both terms are of the shape's own size.
    double c[3];
    double s[3];
    for (int32_t i = 0; i < 3; i++) {
        c[i] = T1[i] * 0.5 / volume;
        s[i] = T2[i] / (3.0 * volume);
    }
    const double diagonal[3] = {s[1] + s[2] - (c[1] * c[1] + c[2] * c[2]),
                                s[0] + s[2] - (c[0] * c[0] + c[2] * c[2]),
                                s[0] + s[1] - (c[0] * c[0] + c[1] * c[1])};
    bool finite = fitsFloat(T0);
    for (int32_t i = 0; i < 3; i++) {
        const double at = origin[i] + c[i];
        finite = finite && fitsFloat(at) && fitsFloat(diagonal[i]);
        centre[i] = float(at);
        inertia[i] = float(diagonal[i]);
    }
    return finite;
}
