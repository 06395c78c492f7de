// The benchmark families, registered at start-up so that their inputs are made once.
#pragma once

namespace kivfld::bench {

/// conv/...: text conversions against memcpy and iconv (conversion_bench.cpp).
void RegisterConversionBenchmarks();
/// list/..., frame/..., handle/...: the list conversion, the frame path and handle copies
/// (bridge_bench.cpp).
void RegisterBridgeBenchmarks();

}  // namespace kivfld::bench
