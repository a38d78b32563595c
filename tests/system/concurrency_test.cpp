// Objects in threads of one process, each on its own system of one pool, and
// long runs that must give back what they take.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/trace.h"
#include "support/test_support.h"

namespace kel::test {
namespace {

// Rounds of changes on an existing system, each by a new object that opens it
// and resets it first (its work directories reserved while other threads
// reserve theirs). Returns what went wrong.
std::vector<std::string> Work(const WString& path, int rounds) {
    std::vector<std::string> failures;
    const auto step = [&](const char* what, HRESULT hr) {
        if (hr != S_OK) failures.push_back(std::string(what) + " " + std::to_string(hr));
        return hr == S_OK;
    };
    const WString arc = SampleRelease(u"arcwelding-1.2");
    for (int round = 0; round < rounds; ++round) {
        const ComPtr<IKelInstallSystem> object = NewSystemObject();
        if (!object) return {"no object"};
        if (!step("open", object->InitSystem(B(path).get())) || !step("reset", object->ResetSystem())) return failures;
        UniqueBstr text;
        step("add drive", object->AddDriveModule(B(kDriveKey).get(), 1));
        step("add arc", object->AddAdditionalOption(B(kArcKey).get(), B(arc).get()));
        if (step("get options", object->GetSystemOptions(text.Put()))) {
            WString options(text.View());
            if (!SelectGerman(options)) failures.push_back("no language group");
            step("set options", object->SetSystemOptions(B(options).get()));
        }
        step("remove arc", object->RemoveAdditionalOption(B(u"ArcWelding").get()));
        step("remove drive", object->RemoveDriveModule(1));
    }
    return failures;
}

HRESULT Create(const WString& path) {
    const ComPtr<IKelInstallSystem> object = NewSystemObject();
    return object ? object->CreateSystem(B(path).get(), B(kMainKey).get(), B(SampleRelease(u"zendara-6.0")).get())
                  : E_FAIL;
}

TEST(Concurrency, ObjectsOnSystemsOfOnePoolDoNotInterfereAndGiveBackWhatTheyTake) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 3;
    // Every system.xml on a thread of its own too, small as the systems are.
    struct Restore {
        std::size_t from;
        ~Restore() { os::SetBesideFromNodes(from); }
    } restore{os::BesideFromNodes()};
    os::SetBesideFromNodes(0);
    TempDir pool;
    const std::set<WString> work = WorkDirectories();
    std::vector<std::vector<std::string>> failures(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const WString path = pool / (u"Sys" + U(std::to_string(i)));
            failures[i] = Create(path) == S_OK ? Work(path, kRounds) : std::vector<std::string>{"create"};
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE("thread " + std::to_string(i));
        EXPECT_EQ(failures[i], std::vector<std::string>{});
        EXPECT_EQ(Verify(pool / (u"Sys" + U(std::to_string(i)))), "clean\n");
    }
    EXPECT_EQ(WorkDirectories(), work);

    // Then a long run on one of them gives back its handles. One round first:
    // what is made once per process is not a leak.
    const WString path = pool / u"Sys0";
    ASSERT_EQ(Work(path, 1), std::vector<std::string>{});
    const long handles = os::OpenHandleCount();
    {
        const File file(os::OpenFile(path + u"\\system.xml", "rb"));
        ASSERT_TRUE(file);
        ASSERT_EQ(os::OpenHandleCount(), handles + 1);  // the count sees an open file
    }
    ASSERT_EQ(Work(path, 10), std::vector<std::string>{});
    EXPECT_EQ(os::OpenHandleCount(), handles);
    EXPECT_EQ(WorkDirectories(), work);
    EXPECT_EQ(Verify(path), "clean\n");
}

// A receiver may go as soon as its removal returns, while another thread traces.
TEST(Concurrency, ARemovedTraceReceiverIsCalledNoMore) {
    struct Receiver {
        std::atomic<int> calls{0};
        std::atomic<bool> removed{false};
        std::atomic<int> late{0};
    };
    const auto sink = [](const char16_t*, void* context) {
        auto& receiver = *static_cast<Receiver*>(context);
        ++receiver.calls;
        // Still in the call while the other thread removes the receiver.
        for (int i = 0; i < 1000 && !receiver.removed; ++i) std::this_thread::yield();
        if (receiver.removed) ++receiver.late;
    };
    std::atomic<bool> stop{false};
    std::thread tracer([&] {
        while (!stop) Trace(u"Concurrency", u"tick");
    });
    std::vector<std::unique_ptr<Receiver>> receivers;  // kept, so that a late call stays harmless
    for (int i = 0; i < 100; ++i) {
        Receiver& receiver = *receivers.emplace_back(std::make_unique<Receiver>());
        SetTraceSink(sink, &receiver);
        while (receiver.calls == 0) std::this_thread::yield();
        SetTraceSink(nullptr, nullptr);
        receiver.removed = true;
    }
    stop = true;
    tracer.join();
    int late = 0;
    for (const auto& receiver : receivers) late += receiver->late;
    EXPECT_EQ(late, 0);
}

// Work beside a call traces through the calling thread, after what that
// thread traced before.
TEST(Concurrency, HeldTracesReachTheReceiverOnTheCallingThread) {
    std::vector<std::pair<std::thread::id, std::u16string>> seen;
    SetTraceSink([](const char16_t* piece, void* context) {
        static_cast<decltype(seen)*>(context)->emplace_back(std::this_thread::get_id(), piece);
    }, &seen);
    HeldTraces held;
    std::thread([&] { held.Hold([] { TraceShort(u"Beside", u"one"); }); }).join();
    EXPECT_TRUE(seen.empty());
    TraceShort(u"Caller", u"two");
    held.Release();
    held.Release();
    SetTraceSink(nullptr, nullptr);
    const std::vector<std::u16string> order = {u"Caller", u"two", u"Beside", u"one"};
    ASSERT_EQ(seen.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(seen[i].first, std::this_thread::get_id());
        EXPECT_EQ(seen[i].second, order[i]);
    }
}

}  // namespace
}  // namespace kel::test
