#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bluez/CallbackDispatcher.h"

using Qelt::BLE::BlueZUtil::CallbackDispatcher;
using namespace std::chrono_literals;

namespace {

// Waits until every closure posted to `dispatcher` so far has run.
void Flush(CallbackDispatcher& dispatcher) {
    std::promise<void> done;
    dispatcher.Post([&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

}  // namespace

TEST(CallbackDispatcher, RunsClosuresInPostOrderOnItsOwnThread) {
    CallbackDispatcher dispatcher;
    std::vector<int> order;  // written only on the dispatcher thread
    std::atomic<bool> onDispatcherThread{true};
    for (int i = 0; i < 200; ++i) {
        dispatcher.Post([&, i] {
            order.push_back(i);
            if (!dispatcher.IsDispatcherThread()) {
                onDispatcherThread = false;
            }
        });
    }
    Flush(dispatcher);
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_TRUE(onDispatcherThread);
    EXPECT_FALSE(dispatcher.IsDispatcherThread());
}

TEST(CallbackDispatcher, ThrowingClosuresDoNotStopIt) {
    CallbackDispatcher dispatcher;
    std::atomic<int> ran{0};
    dispatcher.Post([] { throw std::runtime_error("callback failed"); });
    dispatcher.Post([] { throw 42; });
    dispatcher.Post([&] { ++ran; });
    Flush(dispatcher);
    EXPECT_EQ(ran, 1);
}

TEST(CallbackDispatcher, DropsWhatIsPostedAfterStopOrStillQueued) {
    auto dispatcher = std::make_unique<CallbackDispatcher>();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> blocking;
    std::atomic<bool> queuedRan{false};
    std::atomic<bool> lateRan{false};

    dispatcher->Post([&] {
        blocking.set_value();
        released.wait();
    });
    dispatcher->Post([&] { queuedRan = true; });
    blocking.get_future().wait();

    // Stop waits for the closure that runs; the one queued behind it is dropped.
    std::thread stopper([&] { dispatcher->Stop(); });
    std::this_thread::sleep_for(200ms);
    release.set_value();
    stopper.join();
    dispatcher->Post([&] { lateRan = true; });
    dispatcher.reset();

    EXPECT_FALSE(queuedRan);
    EXPECT_FALSE(lateRan);
}

TEST(CallbackDispatcher, DestructionWhileIdleIsPrompt) {
    const auto start = std::chrono::steady_clock::now();
    {
        CallbackDispatcher dispatcher;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}
