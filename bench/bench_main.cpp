// The benchmark program: registers every family, records the machine, runs what the flags select.
#include <benchmark/benchmark.h>

#include "bench_registry.hpp"

int main(int argc, char** argv) {
    kivfld::bench::RegisterConversionBenchmarks();
    kivfld::bench::RegisterBridgeBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
