// Text conversions through marshal_as, in both directions, beside the same bytes copied by memcpy
// and converted by glibc iconv in two passes. Names: conv/<direction>/<code page>/<corpus>/<size>/
// <implementation>, where the direction is to_utf16 (narrow to component string) or to_narrow,
// and the implementation is ours (marshal_as, allocation of the result included), kernel (the
// code page layer alone: size, then write into a buffer made beforehand), memcpy (of the input
// bytes into a buffer made beforehand: the limit) or iconv (a descriptor opened beforehand; count
// into scratch, allocate the result, convert into it). Throughput counts input bytes: the narrow
// text one way, the UTF-16 text the other.
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <iconv.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_registry.hpp"
#include "corpus.hpp"
#include "foundation/marshal.hpp"
#include "foundation/narrow_codepage.hpp"

namespace kivfld::bench {
namespace {

using zul::marshal::ComponentString;
using zul::marshal::marshal_as;

const CodePage kCodePages[] = {
    {"UTF-8", "UTF-8", "en_US.UTF-8"},
    {"ISO-8859-1", "ISO-8859-1", "de_DE.ISO-8859-1"},
    {"CP1252", "CP1252", nullptr},
    {"GBK", "GBK", "zh_CN.GBK"},
};

struct SizeLabel {
    std::size_t bytes;
    const char* label;
};
const SizeLabel kSizes[] = {{16, "16B"}, {64, "64B"}, {4096, "4KiB"}, {1u << 20, "1MiB"}};

// An iconv descriptor opened once, as a host that converts often would keep it.
class IconvDescriptor {
public:
    IconvDescriptor(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    }
    ~IconvDescriptor() { iconv_close(m_cd); }
    IconvDescriptor(const IconvDescriptor&) = delete;
    IconvDescriptor& operator=(const IconvDescriptor&) = delete;

    // The counting pass: converts into scratch again and again, keeps only the count.
    std::size_t Count(const char* in, std::size_t inBytes) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        std::size_t inLeft = inBytes;
        std::size_t produced = 0;
        char scratch[4096];
        for (;;) {
            char* outPtr = scratch;
            std::size_t outLeft = sizeof scratch;
            const std::size_t result = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            produced += sizeof scratch - outLeft;
            if (result != static_cast<std::size_t>(-1)) break;
            if (errno != E2BIG) return static_cast<std::size_t>(-1);
        }
        char* outPtr = scratch;
        std::size_t outLeft = sizeof scratch;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        return produced + (sizeof scratch - outLeft);
    }

    // The write pass, into room of exactly the counted size.
    std::size_t Write(const char* in, std::size_t inBytes, char* out, std::size_t outBytes) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        std::size_t inLeft = inBytes;
        char* outPtr = out;
        std::size_t outLeft = outBytes;
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return 0;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        return outBytes - outLeft;
    }

private:
    iconv_t m_cd;
};

struct Case {
    CodePage codePage;
    Sample sample;
};

void SetCounters(benchmark::State& state, const Case& c, std::size_t inputBytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes));
    state.counters["non_ascii_chars"] = c.sample.nonAsciiShare;
}

// narrow -> UTF-16

void ToUtf16Ours(benchmark::State& state, const Case& c) {
    ScopedCodePage codePage(c.codePage);
    if (!codePage.Active()) return state.SkipWithError("locale not installed");
    if (marshal_as<ComponentString>(c.sample.narrow).View() != c.sample.units)
        return state.SkipWithError("marshal_as disagrees with iconv");
    for (auto _ : state) {
        ComponentString converted = marshal_as<ComponentString>(c.sample.narrow);
        benchmark::DoNotOptimize(converted.Data());
    }
    SetCounters(state, c, c.sample.narrow.size());
}

void ToUtf16Kernel(benchmark::State& state, const Case& c) {
    ScopedCodePage codePage(c.codePage);
    if (!codePage.Active()) return state.SkipWithError("locale not installed");
    std::vector<char16_t> out(c.sample.units.size() + 1);
    const std::span<const char> in(c.sample.narrow);
    for (auto _ : state) {
        zul::text::NarrowCodePage& page = zul::text::NarrowCodePage::ForCallingThread();
        const std::size_t m = page.Utf16Length(in);
        benchmark::DoNotOptimize(page.ToUtf16(in, {out.data(), m}));
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, c.sample.narrow.size());
}

// A host converting with iconv: count into scratch, allocate the result, convert into it.
void ToUtf16Iconv(benchmark::State& state, const Case& c) {
    IconvDescriptor cd("UTF-16LE", c.codePage.codeset);
    const auto convert = [&] {
        const std::size_t bytes = cd.Count(c.sample.narrow.data(), c.sample.narrow.size());
        std::unique_ptr<char[]> out(new char[bytes + sizeof(char16_t)]);
        cd.Write(c.sample.narrow.data(), c.sample.narrow.size(), out.get(), bytes);
        return out;
    };
    const std::unique_ptr<char[]> check = convert();
    if (std::memcmp(check.get(), c.sample.units.data(), c.sample.units.size() * sizeof(char16_t)) != 0)
        return state.SkipWithError("iconv result differs");
    for (auto _ : state) {
        std::unique_ptr<char[]> out = convert();
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, c.sample.narrow.size());
}

void ToUtf16Memcpy(benchmark::State& state, const Case& c) {
    std::vector<char> out(c.sample.narrow.size() + 1);
    for (auto _ : state) {
        std::memcpy(out.data(), c.sample.narrow.data(), c.sample.narrow.size());
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, c.sample.narrow.size());
}

// UTF-16 -> narrow

void ToNarrowOurs(benchmark::State& state, const Case& c) {
    ScopedCodePage codePage(c.codePage);
    if (!codePage.Active()) return state.SkipWithError("locale not installed");
    const ComponentString input(c.sample.units);
    if (marshal_as<std::string>(input) != c.sample.narrow)
        return state.SkipWithError("marshal_as disagrees with iconv");
    for (auto _ : state) {
        std::string converted = marshal_as<std::string>(input);
        benchmark::DoNotOptimize(converted.data());
    }
    SetCounters(state, c, c.sample.units.size() * sizeof(char16_t));
}

void ToNarrowKernel(benchmark::State& state, const Case& c) {
    ScopedCodePage codePage(c.codePage);
    if (!codePage.Active()) return state.SkipWithError("locale not installed");
    std::vector<char> out(c.sample.narrow.size() + 1);
    const std::span<const char16_t> in(c.sample.units);
    for (auto _ : state) {
        zul::text::NarrowCodePage& page = zul::text::NarrowCodePage::ForCallingThread();
        const std::size_t r = page.NarrowLength(in);
        benchmark::DoNotOptimize(page.ToNarrow(in, {out.data(), r}));
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, c.sample.units.size() * sizeof(char16_t));
}

void ToNarrowIconv(benchmark::State& state, const Case& c) {
    IconvDescriptor cd(c.codePage.codeset, "UTF-16LE");
    const auto* in = reinterpret_cast<const char*>(c.sample.units.data());
    const std::size_t inBytes = c.sample.units.size() * sizeof(char16_t);
    const auto convert = [&] {
        const std::size_t bytes = cd.Count(in, inBytes);
        std::unique_ptr<char[]> out(new char[bytes + 1]);
        cd.Write(in, inBytes, out.get(), bytes);
        return out;
    };
    const std::unique_ptr<char[]> check = convert();
    if (std::memcmp(check.get(), c.sample.narrow.data(), c.sample.narrow.size()) != 0)
        return state.SkipWithError("iconv result differs");
    for (auto _ : state) {
        std::unique_ptr<char[]> out = convert();
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, inBytes);
}

void ToNarrowMemcpy(benchmark::State& state, const Case& c) {
    const std::size_t inBytes = c.sample.units.size() * sizeof(char16_t);
    std::vector<char> out(inBytes + 1);
    for (auto _ : state) {
        std::memcpy(out.data(), c.sample.units.data(), inBytes);
        benchmark::ClobberMemory();
    }
    SetCounters(state, c, inBytes);
}

// The floor under the 1 MiB ASCII case to UTF-16: only the stores of its 2 MiB result (each
// byte widened, nothing counted or checked), beside memset of the same 2 MiB, which the CPU
// writes without reading the lines first.
void FloorWidenStores(benchmark::State& state) {
    const std::size_t bytes = 1u << 20;
    const std::vector<char> in(bytes, 'a');
    std::vector<char16_t> out(bytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < bytes; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + i), _mm_unpacklo_epi8(v, _mm_setzero_si128()));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + i + 8), _mm_unpackhi_epi8(v, _mm_setzero_si128()));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void FloorMemset(benchmark::State& state) {
    const std::size_t bytes = 1u << 20;
    std::vector<char16_t> out(bytes);
    for (auto _ : state) {
        std::memset(out.data(), 'a', bytes * sizeof(char16_t));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

using CaseFunction = void (*)(benchmark::State&, const Case&);

void Register(const std::string& name, CaseFunction function, const std::shared_ptr<const Case>& c) {
    benchmark::RegisterBenchmark(name.c_str(), [function, c](benchmark::State& state) { function(state, *c); });
}

}  // namespace

void RegisterConversionBenchmarks() {
    benchmark::RegisterBenchmark("floor/to_utf16/ascii/1MiB/result_stores_only/ours", FloorWidenStores);
    benchmark::RegisterBenchmark("floor/to_utf16/ascii/1MiB/result_stores_only/memset", FloorMemset);
    for (const CodePage& codePage : kCodePages) {
        for (Corpus corpus : {Corpus::Ascii, Corpus::Latin, Corpus::Cjk, Corpus::Emoji}) {
            // A corpus is measured in a code page only when the code page has all its characters.
            if (!MakeSample(corpus, codePage, kSizes[std::size(kSizes) - 1].bytes)) continue;
            for (const SizeLabel& size : kSizes) {
                auto c = std::make_shared<const Case>(Case{codePage, *MakeSample(corpus, codePage, size.bytes)});
                const std::string stem = std::string(codePage.label) + "/" + CorpusName(corpus) + "/" + size.label;
                Register("conv/to_utf16/" + stem + "/ours", ToUtf16Ours, c);
                Register("conv/to_utf16/" + stem + "/kernel", ToUtf16Kernel, c);
                Register("conv/to_utf16/" + stem + "/memcpy", ToUtf16Memcpy, c);
                Register("conv/to_utf16/" + stem + "/iconv", ToUtf16Iconv, c);
                Register("conv/to_narrow/" + stem + "/ours", ToNarrowOurs, c);
                Register("conv/to_narrow/" + stem + "/kernel", ToNarrowKernel, c);
                Register("conv/to_narrow/" + stem + "/memcpy", ToNarrowMemcpy, c);
                Register("conv/to_narrow/" + stem + "/iconv", ToNarrowIconv, c);
            }
        }
    }
}

}  // namespace kivfld::bench
