// The component runtime's own promises: strings, lists, references, reclamation, finalization,
// keep-alive, activation and fault injection.
#include "kiv/runtime/runtime.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace kiv::runtime {
namespace {

TEST(RuntimeString, NullEmptyAndEmbeddedZeroAreDistinctValues) {
    const String null;
    const String empty = String::Empty();
    const String withZero(std::u16string_view(u"a\0b", 3));
    EXPECT_TRUE(null.IsNull());
    EXPECT_EQ(null.Data(), nullptr);
    EXPECT_FALSE(empty.IsNull());
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_NE(null, empty);
    EXPECT_EQ(withZero.Length(), 3);
    EXPECT_EQ(withZero.View(), std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(withZero.Data()[3], u'\0') << "storage keeps a terminating unit beyond the text";
}

TEST(RuntimeString, CopiesShareStorageAndOutliveTheOriginal) {
    const String* copySource = new String(u"shared");
    const String copy = *copySource;
    EXPECT_EQ(copy.Data(), copySource->Data());
    delete copySource;
    EXPECT_EQ(copy.View(), u"shared");
}

TEST(RuntimeString, CreateWritesInPlaceAndFailedFillKeepsNothing) {
    const String created = String::Create(3, [](char16_t* units) {
        units[0] = u'x';
        units[1] = u'y';
        units[2] = u'z';
    });
    EXPECT_EQ(created.View(), u"xyz");
    EXPECT_THROW(String::Create(2, [](char16_t*) { throw InvalidOperationError("fill failed"); }),
                 InvalidOperationError);
    EXPECT_THROW(String::Create(-1, [](char16_t*) {}), ArgumentOutOfRangeError);
}

TEST(RuntimeString, AllocationFailureRaisesOutOfMemory) {
    testing::FailNextAllocation();
    EXPECT_THROW(String(u"abc"), OutOfMemoryError);
    EXPECT_FALSE(testing::AllocationFailurePending());
    EXPECT_EQ(String(u"abc").View(), u"abc") << "one failure only";
}

TEST(RuntimeString, EmptyStringsNeverAllocate) {
    testing::FailNextAllocation();
    EXPECT_FALSE(String(u"").IsNull());
    EXPECT_TRUE(testing::AllocationFailurePending());
    testing::CancelAllocationFailure();
}

TEST(RuntimeList, KeepsOrderAndDoesNotGrowWithinItsInitialCapacity) {
    auto list = New<List<String>>(3);
    EXPECT_EQ(list->Capacity(), 3);
    list->Add(String(u"a"));
    list->Add(String::Empty());
    list->Add(String());
    testing::FailNextAllocation();  // a growth would allocate and fail
    EXPECT_EQ(list->Count(), 3);
    testing::CancelAllocationFailure();
    EXPECT_EQ((*list)[0].View(), u"a");
    EXPECT_FALSE((*list)[1].IsNull());
    EXPECT_TRUE((*list)[2].IsNull());
    EXPECT_THROW((*list)[3], ArgumentOutOfRangeError);
    list->Add(String(u"d"));
    EXPECT_EQ(list->Count(), 4);
    EXPECT_GE(list->Capacity(), 4);
    EXPECT_EQ((*list)[3].View(), u"d");
}

TEST(RuntimeList, NegativeCapacityRaises) {
    try {
        New<List<String>>(-1);
        FAIL() << "no error raised";
    } catch (const ArgumentOutOfRangeError& error) {
        EXPECT_STREQ(error.what(), "Non-negative number required.");
    }
}

TEST(RuntimeErrors, CarryTheirTextAndFormOneHierarchy) {
    const ArgumentNullError error("text");
    EXPECT_STREQ(error.what(), "text");
    const ComponentError& asComponent = error;
    const ArgumentError& asArgument = error;
    const std::exception& asStd = error;
    EXPECT_EQ(asComponent.Message(), "text");
    EXPECT_STREQ(asArgument.what(), "text");
    EXPECT_STREQ(asStd.what(), "text");
}

struct Counters {
    std::atomic<int> finalized{0};
    std::atomic<int> destroyed{0};
    std::atomic<bool> finalizedOnFinalizerThread{false};
    std::atomic<bool> destroyedOnFinalizerThread{false};
};

class Tracked : public Object {
public:
    Tracked(Counters& counters, bool finalizable) : m_counters(counters) {
        if (finalizable) RegisterForFinalize();
    }
    ~Tracked() override {
        m_counters.destroyedOnFinalizerThread = IsFinalizerThread();
        ++m_counters.destroyed;
    }
    void Suppress() { SuppressFinalize(); }

protected:
    void Finalize() noexcept override {
        m_counters.finalizedOnFinalizerThread = IsFinalizerThread();
        ++m_counters.finalized;
    }

private:
    Counters& m_counters;
};

TEST(RuntimeReference, ObjectLivesExactlyWhileAReferenceExists) {
    Counters counters;
    const auto liveBefore = Object::LiveCount();
    auto first = New<Tracked>(counters, false);
    auto second = first;
    EXPECT_EQ(Object::LiveCount(), liveBefore + 1);
    first.Reset();
    EXPECT_EQ(counters.destroyed, 0);
    second.Reset();
    EXPECT_EQ(counters.destroyed, 1);
    EXPECT_EQ(counters.finalized, 0) << "an object that did not register is not finalized";
    EXPECT_EQ(Object::LiveCount(), liveBefore);
}

TEST(RuntimeReference, ReleasedFromManyThreadsTheObjectIsDeletedOnce) {
    Counters counters;
    auto object = New<Tracked>(counters, false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([copy = object]() mutable {
            for (int i = 0; i < 10000; ++i) {
                auto again = copy;
                again.Reset();
            }
        });
    object.Reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counters.destroyed, 1);
}

TEST(RuntimeReference, CastToAContractTheObjectLacksRaises) {
    Counters counters;
    Ref<Object> object = New<Tracked>(counters, false);
    EXPECT_FALSE(object.As<IDisposable>());
    EXPECT_THROW(object.Cast<IDisposable>(), InvalidCastError);
    EXPECT_TRUE(object.Cast<Tracked>());
    EXPECT_FALSE(Ref<Object>().Cast<IDisposable>()) << "an empty reference stays empty";
}

TEST(RuntimeFinalization, RunsOnTheFinalizerThreadOnlyAfterACollection) {
    Counters counters;
    New<Tracked>(counters, true).Reset();
    EXPECT_EQ(counters.destroyed, 0) << "an unreferenced finalizable object waits for a collection";
    EXPECT_GE(PendingFinalizationCount(), 1u);
    CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(counters.finalized, 1);
    EXPECT_EQ(counters.destroyed, 1);
    EXPECT_TRUE(counters.finalizedOnFinalizerThread);
    EXPECT_TRUE(counters.destroyedOnFinalizerThread);
}

TEST(RuntimeFinalization, SuppressedObjectIsDeletedWithoutFinalizer) {
    Counters counters;
    auto object = New<Tracked>(counters, true);
    object->Suppress();
    object.Reset();
    EXPECT_EQ(counters.destroyed, 1) << "nothing left to finalize: reclaimed at once";
    CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(counters.finalized, 0);
}

TEST(RuntimeFinalization, ManyPendingObjectsAreCollectedWithoutBeingAsked) {
    Counters counters;
    for (int i = 0; i < 1000; ++i) New<Tracked>(counters, true).Reset();
    WaitForPendingFinalizers();
    EXPECT_GE(counters.finalized, 256);
    CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(counters.finalized, 1000);
    EXPECT_EQ(counters.destroyed, 1000);
}

class SelfReleasing : public Object {
public:
    explicit SelfReleasing(Counters& counters) : m_counters(counters) {}
    ~SelfReleasing() override { ++m_counters.destroyed; }
    // Drops the caller's reference mid-call, as a hosted UI may do.
    int CallDroppingHolder(Ref<SelfReleasing>& holder) {
        KeepAlive keepAlive(*this);
        holder.Reset();
        return m_counters.destroyed.load();
    }

private:
    Counters& m_counters;
};

TEST(RuntimeKeepAlive, ObjectSurvivesToTheEndOfTheCall) {
    Counters counters;
    auto holder = New<SelfReleasing>(counters);
    SelfReleasing* raw = holder.Get();
    EXPECT_EQ(raw->CallDroppingHolder(holder), 0) << "deleted while its call was running";
    EXPECT_EQ(counters.destroyed, 1) << "reclaimed once the call ended";
}

class Activatable : public Object {
public:
    static inline std::atomic<int> constructed{0};
    Activatable() { ++constructed; }
};

class RaisingConstructor : public Object {
public:
    RaisingConstructor() { throw InvalidOperationError("constructor refused"); }
};

TEST(RuntimeActivation, CreatesRegisteredClassesByLibraryAndName) {
    const ClassRegistration registration("TestLibrary", "TestLibrary.Activatable",
                                         ClassRegistration::FactoryOf<Activatable>());
    const int before = Activatable::constructed;
    auto object = ActivateAs<Activatable>("TestLibrary", "TestLibrary.Activatable");
    EXPECT_TRUE(object);
    EXPECT_EQ(Activatable::constructed, before + 1);
}

std::string ActivationError(std::string_view library, std::string_view className) {
    try {
        Activate(library, className);
    } catch (const TypeLoadError& error) {
        return error.what();
    }
    return "no error raised";
}

TEST(RuntimeActivation, MissingLibraryRaisesNamingItAndThePathsTried) {
    const std::string message = ActivationError("NoSuchLibrary", "NoSuchLibrary.Thing");
    EXPECT_EQ(message.rfind("Could not load component library 'NoSuchLibrary': libNoSuchLibrary.so was not found "
                            "(tried /",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("/libNoSuchLibrary.so"), std::string::npos) << message;
}

TEST(RuntimeActivation, LoadsComponentLibrariesFromDiskOnFirstUse) {
    // libKivRuntimeTestComponents.so lies beside the runtime library and registers its class as it loads.
    auto object = Activate("KivRuntimeTestComponents", "KivRuntimeTestComponents.Probe");
    EXPECT_TRUE(object);
    EXPECT_EQ(ActivationError("KivRuntimeTestComponents", "KivRuntimeTestComponents.Missing"),
              "Could not load type 'KivRuntimeTestComponents.Missing' from component library "
              "'KivRuntimeTestComponents'.");
}

TEST(RuntimeActivation, UnloadableLibraryRaisesWithTheLoaderReason) {
    const auto folder = std::filesystem::temp_directory_path() / ("kivrt-broken-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "libBrokenComponents.so") << "not a shared object";
    setenv("KIVFLD_COMPONENT_PATH", ("/nonexistent:" + folder.string()).c_str(), 1);
    const std::string message = ActivationError("BrokenComponents", "BrokenComponents.Thing");
    unsetenv("KIVFLD_COMPONENT_PATH");
    std::filesystem::remove_all(folder);
    EXPECT_EQ(message.rfind("Could not load component library 'BrokenComponents' from " + folder.string() +
                                "/libBrokenComponents.so: ",
                            0),
              0u)
        << message;
}

TEST(RuntimeActivation, InProcessRegistrationWins) {
    const ClassRegistration registration("KivRuntimeTestComponents", "KivRuntimeTestComponents.Probe",
                                         ClassRegistration::FactoryOf<Activatable>());
    EXPECT_TRUE(Activate("KivRuntimeTestComponents", "KivRuntimeTestComponents.Probe").As<Activatable>());
}

TEST(RuntimeActivation, RegistrationEndsWithItsLifetimeAndConstructorErrorsPassThrough) {
    {
        const ClassRegistration registration("TestLibrary", "TestLibrary.Raising",
                                             ClassRegistration::FactoryOf<RaisingConstructor>());
        EXPECT_THROW(Activate("TestLibrary", "TestLibrary.Raising"), InvalidOperationError);
    }
    EXPECT_THROW(Activate("TestLibrary", "TestLibrary.Raising"), TypeLoadError);
}

TEST(RuntimeActivation, ObjectAllocationFailureRaisesOutOfMemory) {
    const ClassRegistration registration("TestLibrary", "TestLibrary.Activatable",
                                         ClassRegistration::FactoryOf<Activatable>());
    testing::FailNextAllocation();
    EXPECT_THROW(Activate("TestLibrary", "TestLibrary.Activatable"), OutOfMemoryError);
}

}  // namespace
}  // namespace kiv::runtime
