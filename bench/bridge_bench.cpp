// The costs a host pays per call besides text: the list conversion (against copying the same
// bytes and converting each element with iconv), a frame through KivCameraProviderCallback
// (against calling the receiver directly), and a handle copy (against a std::shared_ptr copy).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_registry.hpp"
#include "camera/camera_callback_wrapper.hpp"
#include "corpus.hpp"
#include "counting_receiver.hpp"
#include "foundation/marshal.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/string.hpp"

namespace kivfld::bench {
namespace {

const CodePage kUtf8 = {"UTF-8", "UTF-8", "en_US.UTF-8"};

std::vector<std::string> Attachments(std::size_t count) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < count; ++i) {
        std::string number = std::to_string(1000 + i);
        paths.push_back(i % 4 == 3 ? "/home/jörg/Überweisungen/Beleg-" + number + ".pdf"
                                   : "/home/anna/Documents/attachment-" + number + ".pdf");
    }
    return paths;
}

std::size_t TotalBytes(const std::vector<std::string>& items) {
    std::size_t total = 0;
    for (const std::string& item : items) total += item.size();
    return total;
}

void ListOurs(benchmark::State& state, std::size_t count) {
    ScopedCodePage codePage(kUtf8);
    if (!codePage.Active()) return state.SkipWithError("locale not installed");
    const std::vector<std::string> items = Attachments(count);
    for (auto _ : state) {
        auto list = zul::marshal::marshal_as<zul::marshal::ComponentStringList>(items);
        benchmark::DoNotOptimize(list.Get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(items)));
}

void ListMemcpy(benchmark::State& state, std::size_t count) {
    const std::vector<std::string> items = Attachments(count);
    std::vector<char> out(TotalBytes(items));
    for (auto _ : state) {
        char* at = out.data();
        for (const std::string& item : items) {
            std::memcpy(at, item.data(), item.size());
            at += item.size();
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(items)));
}

// Each element counted into scratch, then converted into a result of its own.
void ListIconv(benchmark::State& state, std::size_t count) {
    const std::vector<std::string> items = Attachments(count);
    const iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::vector<std::unique_ptr<char[]>> results(items.size());
    for (auto _ : state) {
        for (std::size_t k = 0; k < items.size(); ++k) {
            const std::string& item = items[k];
            char scratch[512];
            char* inPtr = const_cast<char*>(item.data());
            std::size_t inLeft = item.size();
            char* outPtr = scratch;
            std::size_t outLeft = sizeof scratch;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
            std::size_t room = sizeof scratch - outLeft;
            results[k].reset(new char[room + sizeof(char16_t)]);
            char* at = results[k].get();
            inPtr = const_cast<char*>(item.data());
            inLeft = item.size();
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            iconv(cd, &inPtr, &inLeft, &at, &room);
        }
        benchmark::ClobberMemory();
        for (auto& result : results) result.reset();
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(items)));
}

unsigned char g_frame[64];

void FrameOurs(benchmark::State& state) {
    const auto receiver = NewCountingReceiver();
    kiv::fld::KivCameraProviderCallback callback(
        std::make_shared<kiv::fld::KivCameraProviderCallbackWrapper>(receiver));
    for (auto _ : state) callback.HandleFrame(sizeof g_frame, g_frame);
    if (CountedFrames(*receiver) != static_cast<std::int64_t>(state.iterations()))
        state.SkipWithError("frames were lost");
}

// The receiver called through its contract, as the bridge itself calls it.
void FrameDirect(benchmark::State& state) {
    const auto receiver = NewCountingReceiver();
    KivFldCommon::IKivCameraProviderCallback* target = receiver.Get();
    for (auto _ : state) target->HandleFrame(sizeof g_frame, reinterpret_cast<kiv::runtime::PointerValue>(g_frame));
    if (CountedFrames(*receiver) != static_cast<std::int64_t>(state.iterations()))
        state.SkipWithError("frames were lost");
}

void HandleOurs(benchmark::State& state) {
    const kiv::fld::KivCameraProviderCallback callback(
        std::make_shared<kiv::fld::KivCameraProviderCallbackWrapper>(NewCountingReceiver()));
    for (auto _ : state) {
        kiv::fld::KivCameraProviderCallback copy(callback);
        benchmark::DoNotOptimize(copy);
    }
}

void HandleSharedPtr(benchmark::State& state) {
    const auto wrapper = std::make_shared<kiv::fld::KivCameraProviderCallbackWrapper>(NewCountingReceiver());
    for (auto _ : state) {
        std::shared_ptr<kiv::fld::KivCameraProviderCallbackWrapper> copy(wrapper);
        benchmark::DoNotOptimize(copy);
    }
}

// What a 64-byte conversion cannot avoid: its result. A component string of 64 units made and
// dropped (one runtime allocation, an atomic count), and a std::string of 64 bytes, beside
// malloc and free of the same size.
void ResultString(benchmark::State& state) {
    for (auto _ : state) {
        const kiv::runtime::String s =
            kiv::runtime::String::Create(64, [](char16_t* units) { std::memset(units, 'a', 64 * sizeof(char16_t)); });
        benchmark::DoNotOptimize(s.Data());
    }
}

void ResultStdString(benchmark::State& state) {
    for (auto _ : state) {
        std::string s(64, 'a');
        benchmark::DoNotOptimize(s.data());
    }
}

void ResultMalloc(benchmark::State& state, std::size_t size) {
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::memset(p, 'a', size);
        std::free(p);
    }
}

}  // namespace

void RegisterBridgeBenchmarks() {
    for (std::size_t count : {8, 1000}) {
        const std::string stem = "list/" + std::to_string(count) + "_attachments/";
        benchmark::RegisterBenchmark((stem + "ours").c_str(), ListOurs, count);
        benchmark::RegisterBenchmark((stem + "memcpy").c_str(), ListMemcpy, count);
        benchmark::RegisterBenchmark((stem + "iconv").c_str(), ListIconv, count);
    }
    benchmark::RegisterBenchmark("frame/HandleFrame/ours", FrameOurs);
    benchmark::RegisterBenchmark("frame/HandleFrame/direct", FrameDirect);
    benchmark::RegisterBenchmark("handle/copy_destroy/ours", HandleOurs);
    benchmark::RegisterBenchmark("handle/copy_destroy/shared_ptr", HandleSharedPtr);
    benchmark::RegisterBenchmark("result/String_64_units/ours", ResultString);
    benchmark::RegisterBenchmark("result/String_64_units/malloc", ResultMalloc, 64 * sizeof(char16_t) + 16);
    benchmark::RegisterBenchmark("result/std_string_64_bytes/ours", ResultStdString);
    benchmark::RegisterBenchmark("result/std_string_64_bytes/malloc", ResultMalloc, 65);
}

}  // namespace kivfld::bench
