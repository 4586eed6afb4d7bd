#include "dgVolumeIntegrals.h"

#include <cmath>
#include <cstring>

dgVolumeIntegrals::dgVolumeIntegrals() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
}

void dgVolumeIntegrals::selectAxes(const dgVector& normal) {
    const float nx = std::fabs(normal.x);
    const float ny = std::fabs(normal.y);
    const float nz = std::fabs(normal.z);
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
    P1 = Pa = Pb = Paa = Pbb = Pab = Paaa = Pbbb = Paab = Pabb = 0.0f;
    const float* prev = points + (count - 1) * strideFloats;
    for (int32_t i = 0; i < count; i++) {
        const float* cur = points + i * strideFloats;
        const float a0 = prev[A];
        const float b0 = prev[B];
        const float a1 = cur[A];
        const float b1 = cur[B];
        prev = cur;

        const float da = a1 - a0;
        const float db = b1 - b0;
        const float a0_2 = a0 * a0;
        const float a0_3 = a0_2 * a0;
        const float b0_2 = b0 * b0;
        const float b0_3 = b0_2 * b0;
        const float a1_2 = a1 * a1;

        const float C1 = a1 + a0;
        const float Ca = a1 * C1 + a0_2;
        const float Caa = a1 * Ca + a0_3;
        const float Cb = b1 * (b1 + b0) + b0_2;
        const float Cbb = b1 * Cb + b0_3;
        const float Cab = 3.0f * a1_2 + 2.0f * a1 * a0 + a0_2;
        const float Kab = a1_2 + 2.0f * a1 * a0 + 3.0f * a0_2;

        P1 += db * C1;
        Pa += db * Ca;
        Paa += db * Caa;
        Pb += da * Cb;
        Pbb += da * Cbb;
        Pab += db * (b1 * Cab + b0 * Kab);

        if (thirdOrder) {
            const float a0_4 = a0_3 * a0;
            const float b0_4 = b0_3 * b0;
            const float a1_3 = a1_2 * a1;
            const float b1_2 = b1 * b1;
            const float b1_3 = b1_2 * b1;
            const float Caaa = a1 * Caa + a0_4;
            const float Cbbb = b1 * Cbb + b0_4;
            const float Caab = a0 * Cab + 4.0f * a1_3;
            const float Kaab = a1 * Kab + 4.0f * a0_3;
            const float Cabb = 4.0f * b1_3 + 3.0f * b1_2 * b0 + 2.0f * b1 * b0_2 + b0_3;
            const float Kabb = b1_3 + 2.0f * b1_2 * b0 + 3.0f * b1 * b0_2 + 4.0f * b0_3;
            Paaa += db * Caaa;
            Pbbb += da * Cbbb;
            Paab += db * (b1 * Caab + b0 * Kaab);
            Pabb += da * (a1 * Cabb + a0 * Kabb);
        }
    }
    P1 *= 1.0f / 2.0f;
    Pa *= 1.0f / 6.0f;
    Pb *= -1.0f / 6.0f;
    Paa *= 1.0f / 12.0f;
    Pbb *= -1.0f / 12.0f;
    Pab *= 1.0f / 24.0f;
    Paaa *= 1.0f / 20.0f;
    Pbbb *= -1.0f / 20.0f;
    Paab *= 1.0f / 60.0f;
    Pabb *= -1.0f / 60.0f;
}

void dgVolumeIntegrals::addFace(int32_t count, const dgPlane& plane, const dgVector* points) {
    if ((count < 3) || ((plane % plane) <= 1.0e-8f)) {
        return;
    }
    selectAxes(plane);
    projectionIntegrals(count, &points[0].x, int32_t(sizeof(dgVector) / sizeof(float)), false);

    const float n[3] = {plane.x, plane.y, plane.z};
    const float w = plane.w;
    const float k1 = 1.0f / n[C];
    const float k2 = k1 * k1;
    const float k3 = k2 * k1;
    const float nA = n[A];
    const float nB = n[B];

    Fa = k1 * Pa;
    Fb = k1 * Pb;
    Fc = -k2 * (nA * Pa + nB * Pb + w * P1);
    Faa = k1 * Paa;
    Fbb = k1 * Pbb;
    Fcc = k3 *
          (nA * nA * Paa + 2.0f * nA * nB * Pab + nB * nB * Pbb + w * (2.0f * (nA * Pa + nB * Pb) + w * P1));

    T0 += n[0] * ((A == 0) ? Fa : ((B == 0) ? Fb : Fc));
    T1[A] += nA * Faa;
    T1[B] += nB * Fbb;
    T1[C] += n[C] * Fcc;
}

void dgVolumeIntegrals::addFaceWithInertia(int32_t count, const float* points) {
    if (count < 3) {
        return;
    }
    dgPlane plane(dgVector::dgVector3(&points[0]), dgVector::dgVector3(&points[3]),
                  dgVector::dgVector3(&points[6]));
    const float scale = 1.0f / std::sqrt((plane % plane) + 1.0e-8f);
    plane = dgPlane(plane.x * scale, plane.y * scale, plane.z * scale, plane.w * scale);
    if ((plane % plane) <= 1.0e-8f) {
        return;
    }
    selectAxes(plane);
    projectionIntegrals(count, points, 3, true);

    const float n[3] = {plane.x, plane.y, plane.z};
    const float w = plane.w;
    const float k1 = 1.0f / n[C];
    const float k2 = k1 * k1;
    const float k3 = k2 * k1;
    const float k4 = k3 * k1;
    const float nA = n[A];
    const float nB = n[B];
    const float nA2 = nA * nA;
    const float nB2 = nB * nB;

    Fa = k1 * Pa;
    Fb = k1 * Pb;
    Fc = -k2 * (nA * Pa + nB * Pb + w * P1);
    Faa = k1 * Paa;
    Fbb = k1 * Pbb;
    Fcc = k3 * (nA2 * Paa + 2.0f * nA * nB * Pab + nB2 * Pbb + w * (2.0f * (nA * Pa + nB * Pb) + w * P1));
    Faaa = k1 * Paaa;
    Fbbb = k1 * Pbbb;
    Fccc = -k4 * (nA2 * nA * Paaa + 3.0f * nA2 * nB * Paab + 3.0f * nA * nB2 * Pabb + nB2 * nB * Pbbb +
                  3.0f * w * (nA2 * Paa + 2.0f * nA * nB * Pab + nB2 * Pbb) +
                  w * w * (3.0f * (nA * Pa + nB * Pb) + w * P1));
    Faab = k1 * Paab;
    Fbbc = -k2 * (nA * Pabb + nB * Pbbb + w * Pbb);
    Fcca =
        k3 * (nA2 * Paaa + 2.0f * nA * nB * Paab + nB2 * Pabb + w * (2.0f * (nA * Paa + nB * Pab) + w * Pa));

    T0 += n[0] * ((A == 0) ? Fa : ((B == 0) ? Fb : Fc));
    T1[A] += nA * Faa;
    T1[B] += nB * Fbb;
    T1[C] += n[C] * Fcc;
    T2[A] += nA * Faaa;
    T2[B] += nB * Fbbb;
    T2[C] += n[C] * Fccc;
    TP[A] += nA * Faab;
    TP[B] += nB * Fbbc;
    TP[C] += n[C] * Fcca;
}
