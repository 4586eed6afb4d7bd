// One session log line: stamp, format, write and flush.
#include "client/log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

void BM_LogWrite(benchmark::State& state) {
    const std::string name = "/tmp/tarnwell_bench_log_" + std::to_string(getpid()) + ".log";
    const std::string text(static_cast<size_t>(state.range(0)), 'x');
    {
        Log log;
        log.open(name.c_str());
        for (auto _ : state) {
            log.write(text.c_str());
        }
        log.close();
    }
    std::remove(name.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

// A typical logged step, and a long exception line.
BENCHMARK(BM_LogWrite)->Arg(32)->Arg(1000);
