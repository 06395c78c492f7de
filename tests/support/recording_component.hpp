// Recording test components for the facade tests: a record of the calls a component received,
// a fixture that registers the recording class under its contract's name, and the checks that
// every facade shares (invalid handles, failed allocations, a raising constructor).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/memory.hpp"

namespace kiv::fld::testing {

/// What a recording component received, and how the test wants it to behave.
template <class Call>
struct ComponentRecord {
    using CallType = Call;

    std::vector<Call> calls;
    /// Every call raises after it has been recorded while this is set.
    bool raise = false;
    /// The constructor raises InvalidOperationError with this text while it is set.
    std::optional<std::string> constructorError;
    int constructed = 0;
    int destroyed = 0;
};

/// The text a recording component raises with while `raise` is set.
inline constexpr const char* kRecordedCallRefused = "the component refused the call";

/// Base of a recording component: reports into the record that the running fixture installed.
template <class Record>
class Recording {
public:
    using RecordType = Record;

    /// WARNING: one record per record type at a time; tests of one program run one after another.
    static inline Record* record = nullptr;

protected:
    Recording() {
        if (record->constructorError) throw kiv::runtime::InvalidOperationError(*record->constructorError);
        ++record->constructed;
    }
    ~Recording() {
        if (record) ++record->destroyed;
    }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    /// Records `call`, then raises IoError if the test asked for it.
    void Note(typename Record::CallType call) {
        record->calls.push_back(std::move(call));
        if (record->raise) throw kiv::runtime::IoError(kRecordedCallRefused);
    }
};

/// Fixture: `Component` is the class of `Contract` (under the contract's library and class name)
/// for the duration of each test, reporting into `m_record`.
template <class Contract, class Component>
class RecordingComponentTest : public ::testing::Test {
protected:
    RecordingComponentTest() { Component::record = &m_record; }
    ~RecordingComponentTest() override { Component::record = nullptr; }

    typename Component::RecordType m_record;
    kiv::runtime::ClassRegistration m_registration{std::string(Contract::kLibrary), std::string(Contract::kClassName),
                                                   kiv::runtime::ClassRegistration::FactoryOf<Component>()};
};

template <class Handle>
struct NamedHandle {
    const char* name;
    Handle handle;
};

/// One handle of each invalid kind: default-constructed, moved-from, null wrapper, empty root.
template <class Handle, class Wrapper>
std::vector<NamedHandle<Handle>> InvalidHandles() {
    Handle source = Handle::CreateInstance();
    const Handle target = std::move(source);
    std::vector<NamedHandle<Handle>> handles;
    handles.push_back({"default-constructed", Handle()});
    handles.push_back({"moved-from", std::move(source)});
    handles.push_back({"null wrapper", Handle(std::shared_ptr<Wrapper>())});
    handles.push_back({"empty root", Handle(std::make_shared<Wrapper>(nullptr))});
    return handles;
}

/// Runs `run` once with the first runtime allocation of the calling thread failing, once with the
/// second failing, and so on, until a run no longer reaches its failed allocation. `run` answers
/// whether the operation reported success: every run with a failed allocation must report
/// failure, the last run success. Returns the number of allocations a full run makes.
template <class Run>
std::uint32_t ExpectEveryFailedAllocationReported(Run&& run) {
    constexpr std::uint32_t kLimit = 64;
    for (std::uint32_t succeeding = 0; succeeding < kLimit; ++succeeding) {
        SCOPED_TRACE(::testing::Message() << "allocation " << succeeding + 1 << " fails");
        kiv::runtime::testing::FailAllocationAfter(succeeding);
        const bool succeeded = run();
        if (kiv::runtime::testing::AllocationFailurePending()) {
            kiv::runtime::testing::CancelAllocationFailure();
            EXPECT_TRUE(succeeded) << "the run without a failed allocation reported failure";
            return succeeding;
        }
        EXPECT_FALSE(succeeded) << "a failed allocation was reported as success";
    }
    ADD_FAILURE() << "the operation made more than " << kLimit << " allocations";
    return kLimit;
}

/// Expects Handle::CreateInstance to raise `Error` with the text `message`.
template <class Handle, class Error>
void ExpectCreateInstanceRaises(const std::string& message) {
    try {
        const Handle handle = Handle::CreateInstance();
        ADD_FAILURE() << "CreateInstance returned a handle";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), message);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "CreateInstance raised another error: " << error.what();
    }
}

}  // namespace kiv::fld::testing
