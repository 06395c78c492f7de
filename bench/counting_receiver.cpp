// The counting frame receiver of the frame-path benchmarks.
#include "counting_receiver.hpp"

namespace kivfld::bench {
namespace {

class CountingReceiver : public KivFldCommon::IKivCameraProviderCallback {
public:
    void HandleFrame(std::int32_t frameDataLength, kiv::runtime::PointerValue frameData) override {
        frames += frameDataLength != 0 || frameData != 0;
    }
    void HandleError(const kiv::runtime::String&) override {}
    std::int64_t frames = 0;
};

}  // namespace

kiv::runtime::Ref<KivFldCommon::IKivCameraProviderCallback> NewCountingReceiver() {
    return kiv::runtime::New<CountingReceiver>();
}

std::int64_t CountedFrames(const KivFldCommon::IKivCameraProviderCallback& receiver) {
    return dynamic_cast<const CountingReceiver&>(receiver).frames;
}

}  // namespace kivfld::bench
