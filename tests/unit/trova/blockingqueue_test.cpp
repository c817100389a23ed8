// The scan's work queue: LIFO order, runs that drain, runs that push
// nothing, stops (from outside, while paused, twice, from a worker), restart,
// and workers ended by exceptions. Every wait is bounded: a deadlock fails
// the program instead of hanging it.
#include "trova/blockingqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Trova {
template <>
struct BlockingQueueName<int> {
    static constexpr const char* value = "BlockingQueue<int>";
};
}  // namespace Trova

namespace {

using Queue = Trova::BlockingQueue<int>;
using Trova::BlockingQueueStopped;

constexpr auto kLimit = std::chrono::seconds(30);

// Runs `step` on its own thread and waits at most kLimit. A hung step cannot
// be cancelled, so the program ends rather than hang the whole run.
template <typename Step>
auto Bounded(const char* what, Step step) -> decltype(step()) {
    auto future = std::async(std::launch::async, std::move(step));
    if (future.wait_for(kLimit) != std::future_status::ready) {
        std::fprintf(stderr, "blockingqueue_test: %s did not finish in time (deadlock?)\n", what);
        std::fflush(stderr);
        std::_Exit(3);
    }
    return future.get();
}

// Polls `condition` for at most kLimit.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Counts work functions still running, so a test can see that Stop left none.
struct AliveGuard {
    explicit AliveGuard(std::atomic<int>& count) : count(count) { ++count; }
    ~AliveGuard() { --count; }
    std::atomic<int>& count;
};

class BlockingQueueTest : public ::testing::Test {
protected:
    void TearDown() override {
        Bounded("Stop in TearDown", [] { Queue::Instance().Stop(1, nullptr); });
    }
    Queue& queue = Queue::Instance();
    std::atomic<int> alive{0};
};

TEST_F(BlockingQueueTest, PopTakesTheNewestItemFirst) {
    // One consumer (this thread) makes the order observable.
    ASSERT_TRUE(queue.Reset(1, true));
    queue.Push(1);
    queue.Push(2);
    queue.Push(3);
    EXPECT_EQ(queue.Pop(), 3);
    queue.Push(4);
    EXPECT_EQ(queue.Pop(), 4);
    EXPECT_EQ(queue.Pop(), 2);
    EXPECT_EQ(queue.Pop(), 1);
    ASSERT_TRUE(queue.Reset(1, true));
}

TEST_F(BlockingQueueTest, WorkPushedByWorkersIsDoneExactlyOnce) {
    // A tree of 1,000 nodes in heap order: node n has children 2n+1, 2n+2.
    constexpr int kNodes = 1000;
    auto seen = std::make_shared<std::vector<std::atomic<int>>>(kNodes);
    for (int round = 0; round < 2; ++round) {  // the second round restarts the queue
        for (auto& count : *seen)
            count = 0;
        queue.Start([this, seen] {
            AliveGuard guard(alive);
            for (;;) {
                const int node = queue.Pop();
                ++(*seen)[node];
                for (int child : {2 * node + 1, 2 * node + 2}) {
                    if (child < kNodes)
                        queue.Push(child);
                }
            }
        });
        queue.Push(0);
        EXPECT_EQ(Bounded("WaitDone", [this] { return queue.WaitDone(); }), 1);
        for (int node = 0; node < kNodes; ++node)
            ASSERT_EQ((*seen)[node].load(), 1) << "node " << node << ", round " << round;
    }
    Bounded("Stop", [this] { queue.Stop(1, nullptr); });
    EXPECT_EQ(alive.load(), 0);
}

TEST_F(BlockingQueueTest, RunWithNothingPushedEndsAndStopsCleanly) {
    queue.Start([this] {
        AliveGuard guard(alive);
        for (;;)
            queue.Pop();
    });
    EXPECT_EQ(Bounded("WaitDone with nothing pushed", [this] { return queue.WaitDone(); }), 1);
    // All four workers are blocked in Pop; a window given to Stop changes
    // nothing yet. Twice is harmless, and the code stays after the reset.
    const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1));
    Bounded("Stop of idle workers", [&] { queue.Stop(2, window); });
    Bounded("second Stop", [this] { queue.Stop(2, nullptr); });
    EXPECT_EQ(alive.load(), 0);
    EXPECT_EQ(Bounded("WaitDone after Stop", [this] { return queue.WaitDone(); }), 2);
}

TEST_F(BlockingQueueTest, StopInTheMiddleReturnsTwoAndLeavesNoWorker) {
    std::atomic<int> processed{0};
    queue.Start([this, &processed] {
        AliveGuard guard(alive);
        for (;;) {
            const int n = queue.Pop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++processed;
            queue.Push(n + 1);  // never runs out
        }
    });
    for (int seed = 0; seed < 4; ++seed)
        queue.Push(seed * 1000000);
    // The scan thread is already waiting when the stop comes; the stop's
    // reset must not leave it asleep.
    auto waiter = std::async(std::launch::async, [this] { return queue.WaitDone(); });
    ASSERT_TRUE(Eventually([&] { return processed.load() >= 20; }));
    Bounded("Stop of a busy run", [this] { queue.Stop(2, nullptr); });
    EXPECT_EQ(alive.load(), 0);
    ASSERT_EQ(waiter.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 2);

    // The queue starts again after a stop, with an empty queue.
    std::atomic<int> counted{0};
    queue.Start([this, &counted] {
        for (;;) {
            queue.Pop();
            ++counted;
        }
    });
    for (int i = 0; i < 10; ++i)
        queue.Push(i);
    EXPECT_EQ(Bounded("WaitDone after restart", [this] { return queue.WaitDone(); }), 1);
    EXPECT_EQ(counted.load(), 10);
}

TEST_F(BlockingQueueTest, AnExceptionEndsOnlyItsWorker) {
    std::atomic<int> processed{0};
    queue.Start([this, &processed] {
        AliveGuard guard(alive);
        for (;;) {
            if (queue.Pop() == 0)
                throw std::runtime_error("bad item");
            ++processed;
        }
    });
    for (int i = 1; i <= 100; ++i) {
        queue.Push(i);
        if (i % 25 == 0 && i < 100)
            queue.Push(0);  // up to three of the four workers die on the way
    }
    EXPECT_EQ(Bounded("WaitDone with throwing work", [this] { return queue.WaitDone(); }), 1);
    EXPECT_EQ(processed.load(), 100);

    // When every worker has died the run still ends, with work left over.
    queue.Start([this] { throw std::runtime_error("always"); });
    for (int i = 0; i < 10; ++i)
        queue.Push(i);
    EXPECT_EQ(Bounded("WaitDone with dead workers", [this] { return queue.WaitDone(); }), 1);
}

TEST_F(BlockingQueueTest, StopFromAWorkerEndsTheRunWithoutJoiningItself) {
    queue.Start([this] {
        AliveGuard guard(alive);
        for (;;) {
            if (queue.Pop() == 7)
                queue.Stop(3, nullptr);
        }
    });
    queue.Push(7);
    EXPECT_EQ(Bounded("WaitDone after a worker's Stop", [this] { return queue.WaitDone(); }), 3);
    Bounded("Stop after a worker's Stop", [this] { queue.Stop(2, nullptr); });
    EXPECT_EQ(alive.load(), 0);
}

TEST(BlockingQueueStopText, NamesTheQueueAndTheCall) {
    // Pop on the folder-rule queue, driven by a thread of the test: stop
    // until it has left (it may not have reached Pop at the first stop).
    auto& dirs = Trova::BlockingQueue<Trova::Dir*>::Instance();
    ASSERT_TRUE(dirs.Reset(1, true));
    auto popper = std::async(std::launch::async, [&dirs]() -> std::string {
        try {
            dirs.Pop();
        } catch (const BlockingQueueStopped& stop) {
            return stop.what();
        }
        return "no stop";
    });
    ASSERT_TRUE(Eventually([&] {
        dirs.Stop(2, nullptr);
        return popper.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready;
    }));
    EXPECT_EQ(popper.get(), "BlockingQueue<class Trova::Dir *>::Pop");

    // WaitIfSuspended on the item queue: the pause step must count a worker
    // waiting there, then the stop throws it out.
    auto& items = Trova::BlockingQueue<CItem*>::Instance();
    std::atomic<bool> working{false};
    auto text = std::make_shared<std::string>();
    items.Start([&items, &working, text] {
        items.Pop();
        working = true;
        try {
            for (;;) {
                items.WaitIfSuspended();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const BlockingQueueStopped& stop) {
            *text = stop.what();
            throw;
        }
    });
    items.Push(nullptr);
    ASSERT_TRUE(Eventually([&] { return working.load(); }));
    Bounded("Stop with a worker in WaitIfSuspended", [&items] { items.Stop(2, nullptr); });
    EXPECT_EQ(*text, "BlockingQueue<class CItem *>::WaitIfSuspended");
}

}  // namespace
