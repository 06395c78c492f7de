// Component errors: what a component, a conversion or the runtime raises.
#pragma once

#include <exception>
#include <string>

#include "kiv/runtime/export.hpp"

namespace kiv::runtime {

/// Base of every error the component side raises. The text is UTF-8.
class KIV_RUNTIME_API ComponentError : public std::exception {
public:
    explicit ComponentError(std::string message);
    ~ComponentError() override;
    ComponentError(const ComponentError&) = default;
    ComponentError& operator=(const ComponentError&) = default;

    /// The message text, as given to the constructor.
    const char* what() const noexcept override;
    const std::string& Message() const noexcept { return m_message; }

private:
    std::string m_message;
};

#define KIV_RUNTIME_DECLARE_ERROR(Name, Base)  \
    class KIV_RUNTIME_API Name : public Base { \
    public:                                    \
        using Base::Base;                      \
        ~Name() override;                      \
    }

/// An argument has a value the callee cannot work with.
KIV_RUNTIME_DECLARE_ERROR(ArgumentError, ComponentError);
/// A null argument where null is not accepted.
KIV_RUNTIME_DECLARE_ERROR(ArgumentNullError, ArgumentError);
/// An argument outside the range the callee accepts (sizes and lengths among them).
KIV_RUNTIME_DECLARE_ERROR(ArgumentOutOfRangeError, ArgumentError);
/// The runtime could not allocate memory.
KIV_RUNTIME_DECLARE_ERROR(OutOfMemoryError, ComponentError);
/// The call is not valid in the object's current state.
KIV_RUNTIME_DECLARE_ERROR(InvalidOperationError, ComponentError);
/// An object does not implement the contract it was asked for.
KIV_RUNTIME_DECLARE_ERROR(InvalidCastError, ComponentError);
/// A component class or its component library could not be found or loaded.
KIV_RUNTIME_DECLARE_ERROR(TypeLoadError, ComponentError);
/// A file a component needs does not exist.
KIV_RUNTIME_DECLARE_ERROR(FileNotFoundError, ComponentError);
/// An input/output operation of a component failed.
KIV_RUNTIME_DECLARE_ERROR(IoError, ComponentError);

#undef KIV_RUNTIME_DECLARE_ERROR

}  // namespace kiv::runtime
