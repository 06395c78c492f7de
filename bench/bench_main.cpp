// The benchmark program: registers every family, records the machine, runs what the flags select.
#include <benchmark/benchmark.h>

#include "bench_registry.hpp"
#include "foundation/text_utf8.hpp"

int main(int argc, char** argv) {
    namespace utf8 = zul::text::utf8;
    benchmark::AddCustomContext("utf8_kernel", utf8::KernelFor(utf8::ActiveKernel()).name);
    benchmark::AddCustomContext("compiler", __VERSION__);
    benchmark::AddCustomContext("build", KIVFLD_BENCH_BUILD);
    kivfld::bench::RegisterConversionBenchmarks();
    kivfld::bench::RegisterBridgeBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
