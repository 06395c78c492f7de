// A frame receiver that only counts, defined in a file of its own: callers see the contract and
// nothing else, as a host or the bridge sees a component's receiver, so that every call to it
// stays a virtual call.
#pragma once

#include <cstdint>

#include "KivFldCommon/IKivCameraProviderCallback.hpp"
#include "kiv/runtime/object.hpp"

namespace kivfld::bench {

/// A new receiver whose HandleFrame counts the frames it gets.
kiv::runtime::Ref<KivFldCommon::IKivCameraProviderCallback> NewCountingReceiver();
/// Frames that `receiver` (made by NewCountingReceiver) has counted.
std::int64_t CountedFrames(const KivFldCommon::IKivCameraProviderCallback& receiver);

}  // namespace kivfld::bench
