// Throughput of the hot vector and matrix operations.
#include <benchmark/benchmark.h>

#include "dgMath.h"

#include <vector>

namespace {

dgMatrix makeFrame() {
    dgMatrix m(dgRotationMatrixX(0.3f) * dgRotationMatrixY(-0.7f) * dgRotationMatrixZ(1.1f));
    m.position = dgVector(1.0f, -2.0f, 3.0f, 1.0f);
    return m;
}

void BM_TransformVector(benchmark::State& state) {
    const dgMatrix m(makeFrame());
    dgVector v(0.5f, 0.25f, -1.0f, 1.0f);
    for (auto _ : state) {
        v = m.transformVector(v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_TransformVector);

void BM_RotateVector(benchmark::State& state) {
    const dgMatrix m(makeFrame());
    dgVector v(0.5f, 0.25f, -1.0f, 0.0f);
    for (auto _ : state) {
        v = m.rotateVector(v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RotateVector);

void BM_MatrixMultiply(benchmark::State& state) {
    const dgMatrix a(makeFrame());
    dgMatrix b(makeFrame().inverse());
    for (auto _ : state) {
        benchmark::DoNotOptimize(b);
        dgMatrix c(a * b);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_MatrixMultiply);

void BM_MatrixInverse(benchmark::State& state) {
    dgMatrix m(makeFrame());
    for (auto _ : state) {
        benchmark::DoNotOptimize(m);
        dgMatrix inv(m.inverse());
        benchmark::DoNotOptimize(inv);
    }
}
BENCHMARK(BM_MatrixInverse);

void BM_TransformPoints(benchmark::State& state) {
    const dgMatrix m(makeFrame());
    const int32_t count = int32_t(state.range(0));
    std::vector<dgVector> src(static_cast<size_t>(count), dgVector(1.0f, 2.0f, 3.0f, 1.0f));
    std::vector<dgVector> dst(static_cast<size_t>(count));
    for (auto _ : state) {
        m.transformPoints(&dst[0].x, int32_t(sizeof(dgVector)), &src[0].x, int32_t(sizeof(dgVector)), count);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}
BENCHMARK(BM_TransformPoints)->Arg(8)->Arg(1024);

void BM_EigenVectors(benchmark::State& state) {
    const dgMatrix r(makeFrame());
    dgMatrix d(dgGetIdentityMatrix());
    d.front.x = 3.0f;
    d.up.y = 1.0f;
    d.right.z = 0.25f;
    // A full symmetric matrix, so every sweep has work to do.
    dgMatrix tensor(r.inverse() * d * r);
    tensor.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    for (auto _ : state) {
        dgMatrix m(tensor);
        dgVector values;
        m.eigenVectors(values);
        benchmark::DoNotOptimize(m);
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_EigenVectors);

void BM_ComputeAabb(benchmark::State& state) {
    const int32_t count = int32_t(state.range(0));
    std::vector<float> points(size_t(count) * 3);
    for (size_t i = 0; i < points.size(); i++) {
        points[i] = float((i * 7919) % 1000) * 0.01f;
    }
    for (auto _ : state) {
        dgVector lo;
        dgVector hi;
        dgComputeAabb(lo, hi, points.data(), count, int32_t(3 * sizeof(float)));
        benchmark::DoNotOptimize(lo);
        benchmark::DoNotOptimize(hi);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}
BENCHMARK(BM_ComputeAabb)->Arg(1024);

}  // namespace
