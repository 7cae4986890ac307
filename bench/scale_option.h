#pragma once
// The benchmarks' --scale S option (or the environment's VELMORA_BENCH_SCALE): every case runs at
// 100 % and at S in the same run, as the benchmark argument 100 x scale (names end in /100 and, for
// S = 2, /200), so the ratio of the two rows reads the same on any machine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bench {

struct ScaleOption {
    std::vector<std::int64_t> percents{100};  // benchmark arguments
    std::vector<char*> arguments;             // argv without --scale S
};

// Takes --scale S out of the arguments.
inline ScaleOption takeScaleOption(int argc, char** argv) {
    ScaleOption o;
    const char* fromEnvironment = std::getenv("VELMORA_BENCH_SCALE");
    double asked = fromEnvironment != nullptr ? std::atof(fromEnvironment) : 0.0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
            asked = std::atof(argv[++i]);
            continue;
        }
        o.arguments.push_back(argv[i]);
    }
    if (asked > 0.0 && std::lround(asked * 100.0) != 100) o.percents.push_back(std::lround(asked * 100.0));
    return o;
}

inline float scaleOf(const benchmark::State& state) {
    return static_cast<float>(state.range(0)) / 100.0f;
}

// Registers fn once per scale, in milliseconds.
inline benchmark::internal::Benchmark* addScaled(const ScaleOption& o, const char* name,
                                                 void (*fn)(benchmark::State&)) {
    auto* b = benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond);
    for (const std::int64_t p : o.percents) b->Arg(p);
    return b;
}

// Runs what was registered with the remaining arguments.
inline int runBenchmarks(ScaleOption& o) {
    int count = static_cast<int>(o.arguments.size());
    benchmark::Initialize(&count, o.arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
