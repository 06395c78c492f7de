// The one place where a failure on the component side becomes the result an exported operation
// reports instead: false, an empty string, an absent value, or nothing.
#pragma once

#include <cxxabi.h>

#include <utility>

namespace kiv::fld {

/// Runs `call` and returns its result; when anything raises on the way (a conversion, the
/// component, the runtime, or a host exception that a component let travel on), returns
/// `failure` instead. Thread cancellation still unwinds.
template <class Result, class Call>
Result ResultOrOnFailure(Result failure, Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return failure;
    }
}

/// The same for operations that report nothing.
template <class Call>
void IgnoringFailure(Call&& call) {
    try {
        std::forward<Call>(call)();
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

}  // namespace kiv::fld
