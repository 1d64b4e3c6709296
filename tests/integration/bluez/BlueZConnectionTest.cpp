// The bus worker against a private dbus-daemon: ordering of tasks, exceptions
// crossing threads, destruction, a dying bus, interrupted polls, and calls
// that would make the worker wait for itself.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PrivateBus.h"
#include "api/ApiException.h"
#include "bluez/BlueZConnection.h"

using Qelt::BLE::ApiException;
using Qelt::BLE::BlueZUtil::BlueZConnection;
using namespace std::chrono_literals;
namespace BlueZUtil = Qelt::BLE::BlueZUtil;

namespace {

void Noop(sd_bus*) {}

// The outcome of one Execute as a text: "ok" or "<code>: <message>".
std::string Outcome(BlueZConnection& connection, const BlueZConnection::Work& work) {
    try {
        connection.Execute(work);
        return "ok";
    } catch (const ApiException& e) {
        return std::to_string(e.code) + ": " + e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
}

std::string Code3(const char* message) {
    return std::string("3: ") + message;
}

// Something the worker does not answer until the bus goes away: a method
// call to its own connection, which cannot reply while it waits.
void CallThatNeverReturns(sd_bus* bus) {
    const char* self = nullptr;
    sd_bus_get_unique_name(bus, &self);
    sd_bus_message* call = nullptr;
    sd_bus_message_new_method_call(bus, &call, self, "/", "org.qelt.Test", "Never");
    sd_bus_error error{nullptr, nullptr, 0};
    const int result = sd_bus_call(bus, call, 120'000'000, &error, nullptr);
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    throw std::runtime_error("call ended: " + std::to_string(result));
}

// Installs a signal handler without SA_RESTART for the test's lifetime.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }

private:
    struct sigaction previous_ {};
};

}  // namespace

TEST(BlueZConnection, OpeningWithoutAReachableBusFails) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qeltble/bus", 1);
    try {
        BlueZConnection connection;
        FAIL() << "opened a bus that does not exist";
    } catch (const ApiException& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_STREQ(e.what(), "Could not connect to the system D-Bus (is bluetoothd running?).");
    }
}

TEST(BlueZConnection, TasksRunInSubmissionOrderAndEachCallerWaitsForItsOwn) {
    QeltTest::PrivateBus bus;
    BlueZConnection connection;

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> blockerRunning;
    std::thread blocker([&] {
        connection.Execute([&](sd_bus*) {
            blockerRunning.set_value();
            released.wait();
        });
    });
    blockerRunning.get_future().wait();

    constexpr int kCallers = 6;
    std::mutex orderMutex;
    std::vector<int> runOrder;
    std::atomic<int> returned{0};
    std::vector<std::string> problems(kCallers);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&, i] {
            bool ran = false;
            connection.Execute([&, i](sd_bus* b) {
                EXPECT_NE(b, nullptr);
                if (i == 0) {
                    std::this_thread::sleep_for(100ms);  // later callers must keep waiting
                }
                std::lock_guard lock(orderMutex);
                runOrder.push_back(i);
                ran = true;
            });
            if (!ran) {
                problems[i] = "returned before its own task ran";
            }
            ++returned;
        });
        std::this_thread::sleep_for(30ms);  // appended in this order
    }
    EXPECT_EQ(returned, 0) << "a caller returned while the worker was busy";
    release.set_value();
    blocker.join();
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(runOrder, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    for (const std::string& problem : problems) {
        EXPECT_EQ(problem, "");
    }
}

TEST(BlueZConnection, TaskExceptionReachesTheCallerUnchanged) {
    QeltTest::PrivateBus bus;
    BlueZConnection connection;

    const void* thrown = nullptr;
    try {
        connection.Execute([&](sd_bus*) {
            try {
                throw ApiException("ReadValue failed: Not connected", 3);
            } catch (const ApiException& e) {
                thrown = &e;
                throw;
            }
        });
        FAIL() << "no exception";
    } catch (const ApiException& e) {
        EXPECT_EQ(&e, thrown) << "not the very object the task threw";
        EXPECT_EQ(e.code, 3);
        EXPECT_STREQ(e.what(), "ReadValue failed: Not connected");
    }
    EXPECT_THROW(connection.Execute([](sd_bus*) { throw std::out_of_range("range"); }),
                 std::out_of_range);
    try {
        connection.Execute([](sd_bus*) { throw 17; });
        FAIL() << "no exception";
    } catch (int value) {
        EXPECT_EQ(value, 17);
    }
    // Still usable, and the bus is the real one.
    std::string name;
    connection.Execute([&](sd_bus* b) {
        const char* unique = nullptr;
        ASSERT_GE(sd_bus_get_unique_name(b, &unique), 0);
        name = unique;
    });
    EXPECT_EQ(name.rfind(":", 0), 0u);
}

TEST(BlueZConnection, DestructionWakesASleepingWorkerAndRunsWhatWasQueued) {
    QeltTest::PrivateBus bus;
    // Idle workers sleep in poll for up to a second; destruction must not
    // wait for that.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        BlueZConnection connection;
        connection.Execute(Noop);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    // Tasks queued before destruction began are run, not failed.
    auto connection = std::make_unique<BlueZConnection>();
    BlueZConnection* raw = connection.get();  // callers must not read the owner being reset
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> blockerRunning;
    std::vector<std::future<std::string>> queued;
    queued.push_back(std::async(std::launch::async, [&] {
        return Outcome(*raw, [&](sd_bus*) {
            blockerRunning.set_value();
            released.wait();
        });
    }));
    blockerRunning.get_future().wait();
    for (int i = 0; i < 3; ++i) {
        queued.push_back(std::async(std::launch::async, [&] { return Outcome(*raw, Noop); }));
    }
    std::this_thread::sleep_for(100ms);
    std::thread destroyer([&] { connection.reset(); });
    std::this_thread::sleep_for(100ms);
    release.set_value();
    destroyer.join();
    for (auto& outcome : queued) {
        EXPECT_EQ(outcome.get(), "ok");
    }
}

TEST(BlueZConnection, DyingBusFailsWaitersAndEveryLaterCallWithoutHanging) {
    QeltTest::PrivateBus bus;
    BlueZConnection connection;

    // The worker is stuck in a call that only the bus's death ends; callers
    // queue behind it, and others keep submitting until they are refused.
    auto stuck =
        std::async(std::launch::async, [&] { return Outcome(connection, CallThatNeverReturns); });
    std::this_thread::sleep_for(100ms);
    std::vector<std::future<std::string>> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(std::async(std::launch::async, [&] { return Outcome(connection, Noop); }));
    }
    std::vector<std::future<std::string>> hammering;
    for (int i = 0; i < 3; ++i) {
        hammering.push_back(std::async(std::launch::async, [&] {
            while (true) {
                const std::string outcome = Outcome(connection, Noop);
                if (outcome != "ok") {
                    return outcome;
                }
            }
        }));
    }
    std::this_thread::sleep_for(100ms);
    bus.Kill();

    ASSERT_EQ(stuck.wait_for(10s), std::future_status::ready) << "the worker hangs";
    EXPECT_EQ(stuck.get().rfind("other: call ended: -", 0), 0u);
    const std::vector<std::string> refusals = {Code3(BlueZUtil::kLostMessage),
                                               Code3(BlueZUtil::kNotRunningMessage)};
    for (auto& outcome : queued) {
        ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready) << "a waiter hangs";
        const std::string text = outcome.get();
        EXPECT_TRUE(text == "ok" || text == refusals[0] || text == refusals[1]) << text;
    }
    for (auto& outcome : hammering) {
        ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready) << "a caller hangs";
        const std::string text = outcome.get();
        EXPECT_TRUE(text == refusals[0] || text == refusals[1]) << text;
    }
    EXPECT_TRUE(connection.IsLost());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Outcome(connection, Noop), refusals[1]);
    }
}

TEST(BlueZConnection, InterruptedPollIsNotAFailure) {
    QeltTest::PrivateBus bus;
    InterruptingSignal signal;
    BlueZConnection connection;
    pthread_t worker{};
    connection.Execute([&](sd_bus*) { worker = pthread_self(); });
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(5ms);
        ASSERT_EQ(pthread_kill(worker, SIGUSR1), 0);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(connection.IsLost());
    EXPECT_EQ(Outcome(connection, Noop), "ok");
}

TEST(BlueZConnection, ExecuteFromItsOwnWorkerThrowsInsteadOfWaitingForItself) {
    QeltTest::PrivateBus bus;
    BlueZConnection connection;
    const std::string refused = Code3(BlueZUtil::kExecuteOnWorkerMessage);

    // From inside a task.
    std::string inner;
    connection.Execute([&](sd_bus*) { inner = Outcome(connection, Noop); });
    EXPECT_EQ(inner, refused);

    // From inside a signal handler: the worker emits a signal to itself.
    struct Context {
        BlueZConnection* connection;
        std::promise<std::string> outcome;
    } context{&connection, {}};
    auto handled = context.outcome.get_future();
    sd_bus_slot* slot = nullptr;
    connection.Execute([&](sd_bus* b) {
        ASSERT_GE(sd_bus_match_signal(
                      b, &slot, nullptr, "/org/qelt/test", "org.qelt.Test", "Ping",
                      [](sd_bus_message*, void* data, sd_bus_error*) {
                          auto* c = static_cast<Context*>(data);
                          c->outcome.set_value(Outcome(*c->connection, Noop));
                          return 0;
                      },
                      &context),
                  0);
        ASSERT_GE(sd_bus_emit_signal(b, "/org/qelt/test", "org.qelt.Test", "Ping", ""), 0);
    });
    ASSERT_EQ(handled.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(handled.get(), refused);
    connection.Execute([&](sd_bus*) { sd_bus_slot_unref(slot); });
    EXPECT_EQ(Outcome(connection, Noop), "ok");
}
