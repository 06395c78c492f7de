// A component library loaded from disk by the runtime tests.
#include "kiv/runtime/activation.hpp"

namespace {

class Probe final : public kiv::runtime::Object {};

const kiv::runtime::ClassRegistration probeRegistration{"KivRuntimeTestComponents", "KivRuntimeTestComponents.Probe",
                                                        kiv::runtime::ClassRegistration::FactoryOf<Probe>()};

}  // namespace
