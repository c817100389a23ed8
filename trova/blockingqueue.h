// The process-wide LIFO work queue of a scan: one per element type, four
// worker threads fed from the front of a deque (the newest item is taken
// first, so a walk goes depth-first across folders), a manager thread that
// waits for the queue to drain, and a stop that pauses, then shuts down.
//
//   Start(work)      stops the previous run, then 4 workers run `work`
//   Push(x), Pop()   front in, front out: Push 1, 2, 3 => Pop 3, 2, 1
//   WaitDone()       1 when the work ran out, or the code Stop was given
//   Stop(2, window)  workers leave through the stop exception; WaitDone => 2
//                    and every item still queued goes to the run's discard
//
// A work function is the worker loop: it calls Pop until Pop throws
// BlockingQueueStopped. Whatever it throws ends that worker only.
#pragma once

#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CItem;

namespace Trova {

class Dir;

// The queue's name in its stop texts ("<name>::Pop"). Each element type
// specializes it; an unnamed type does not compile.
template <typename T>
struct BlockingQueueName;

template <>
struct BlockingQueueName<Dir*> {
    static constexpr const char* value = "BlockingQueue<class Trova::Dir *>";
};

template <>
struct BlockingQueueName<::CItem*> {
    static constexpr const char* value = "BlockingQueue<class CItem *>";
};

// Thrown by Pop and WaitIfSuspended when the queue is stopped; what() is
// e.g. "BlockingQueue<class Trova::Dir *>::Pop".
class BlockingQueueStopped : public std::exception {
public:
    explicit BlockingQueueStopped(std::string text) : text(std::move(text)) {}
    const char* what() const noexcept override { return text.c_str(); }

private:
    std::string text;
};

template <typename T>
class BlockingQueue {
public:
    using Work = std::function<void()>;
    // Told about each item a stop leaves in the queue (it will never be
    // popped), so items the work owns can be freed.
    using Discard = std::function<void(T&)>;

    static constexpr std::uint32_t kWorkers = 4;

    // Created on first use and never destroyed: worker threads may still be
    // blocked in Pop when the process exits.
    static BlockingQueue& Instance() {
        static BlockingQueue* const queue = new BlockingQueue();
        return *queue;
    }

    // A queue of its own (the large-file walk has one per volume). Stop it
    // before it goes: its threads must be joined.
    static std::unique_ptr<BlockingQueue> Create() { return std::unique_ptr<BlockingQueue>(new BlockingQueue()); }

    // Clears the counters and flags (not the result) for `count` workers,
    // and the queue when asked. Refuses (false, logged) while the worker list
    // still holds a thread: that thread would be lost unjoined.
    bool Reset(std::uint32_t count, bool clearQueue) {
        std::lock_guard<std::mutex> lock(mutex);
        return ResetLocked(count, clearQueue);
    }

    void Push(T item) {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_front(std::move(item));
        notEmpty.notify_one();
    }

    // The newest item; blocks while the queue is empty or paused. Throws
    // BlockingQueueStopped once the queue is stopped.
    T Pop() {
        std::unique_lock<std::mutex> lock(mutex);
        const std::uint64_t seen = stopEpoch;
        ++waiting;
        idle.notify_all();
        notEmpty.wait(lock, [&] { return stopped || stopEpoch != seen || (!paused && !queue.empty()); });
        --waiting;
        // The epoch catches a stop whose reset has already cleared `stopped`
        // (a caller that is not one of the joined workers may wake that late).
        if (stopped || stopEpoch != seen)
            throw BlockingQueueStopped(std::string(Name()) + "::Pop");
        started = true;
        T item = std::move(queue.front());
        queue.pop_front();
        return item;
    }

    // For long work items: blocks while the queue is paused, throws
    // BlockingQueueStopped once it is stopped. Counts as waiting, so a pause
    // does not wait for a worker that is itself waiting here.
    void WaitIfSuspended() {
        std::unique_lock<std::mutex> lock(mutex);
        const std::uint64_t seen = stopEpoch;
        if (paused && !stopped) {
            ++waiting;
            idle.notify_all();
            notEmpty.wait(lock, [&] { return !paused || stopped || stopEpoch != seen; });
            --waiting;
        }
        if (stopped || stopEpoch != seen)
            throw BlockingQueueStopped(std::string(Name()) + "::WaitIfSuspended");
    }

    // The body of a worker thread. Catches everything `work` throws; the
    // worker then counts as waiting for good, so the run can still finish.
    void Run(const Work& work) {
        try {
            work();
        } catch (const BlockingQueueStopped&) {
            // The normal way out of a stopped run.
        } catch (const std::exception& error) {
            LOG_ERROR("%s: a worker ended by an exception: %s", Name(), error.what());
        } catch (...) {
            LOG_ERROR("%s: a worker ended by an unknown exception", Name());
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++waiting;
        ++ended;
        if (ended == threadCount && !stopped && !queue.empty())
            LOG_ERROR("%s: every worker has ended; %zu items are left undone", Name(), queue.size());
        idle.notify_all();
    }

    // Stops the previous run (code 1), then a manager thread starts the
    // workers and waits for the work to run out. Push after Start: the stop
    // clears the queue. Refused (logged) on one of the queue's own threads.
    void Start(Work work, Discard discardItem = nullptr) {
        if (OnQueueThread()) {
            LOG_ERROR("%s: Start called from one of the queue's own threads; refused", Name());
            return;
        }
        std::lock_guard<std::mutex> control(controlMutex);
        StopSteps(1, nullptr);
        std::lock_guard<std::mutex> lock(mutex);
        discard = std::move(discardItem);
        active = true;
        try {
            manager = std::thread([this, work = std::move(work)] { Manage(work); });
        } catch (const std::exception& error) {
            active = false;
            LOG_ERROR("%s: cannot start the manager thread: %s", Name(), error.what());
        }
    }

    // Blocks until the run is done: every worker waits in Pop with nothing
    // left (also when nothing was ever pushed, once all workers are up), or
    // every worker has ended, or the run was stopped, or none is running.
    // Call it after pushing the first work. Returns the result: 1 ran to the
    // end, else the code given to Stop.
    std::uint8_t WaitDone() {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, [this] { return DoneLocked(); });
        return result;
    }

    // Pauses the workers, shuts them down with result `code`, joins them and
    // the manager. Safe while workers are blocked in Pop, while paused, and
    // twice. Called on a worker thread it cannot join (that would be the
    // thread joining itself): it records the code and tells the workers to
    // leave, and the next Stop or Start from outside joins them.
    void Stop(std::uint8_t code, HWND window) {
        if (OnQueueThread()) {
            RequestStop(code);
            return;
        }
        std::lock_guard<std::mutex> control(controlMutex);
        StopSteps(code, window);
    }

    // Runs one step of Stop for the thread that owns `window`. With a window
    // that thread (the UI thread) must keep answering the messages sent to
    // it while the step runs, since a worker may be waiting for it to run a
    // task: the step runs on a helper thread meanwhile. Without a window it
    // runs directly.
    static void RunWhilePumping(const std::function<void()>& step, HWND window) {
        if (window == nullptr) {
            step();
            return;
        }
        fendrel::ui::RunWhileAnsweringSends(step);
    }

private:
    BlockingQueue() = default;

    static const char* Name() { return BlockingQueueName<T>::value; }

    // Marks the manager and the workers, which must not join themselves.
    static bool& OnQueueThread() {
        thread_local bool mark = false;
        return mark;
    }

    bool ResetLocked(std::uint32_t count, bool clearQueue) {
        for (const std::thread& worker : workers) {
            if (worker.joinable()) {
                LOG_CRITICAL("%s: reset refused, a worker thread is still running", Name());
                return false;
            }
        }
        waiting = 0;
        ended = 0;
        started = paused = stopped = running = false;
        threadCount = count;
        workers.clear();
        workers.reserve(count);
        if (clearQueue)
            queue.clear();
        // Nobody may stay asleep on a pause that no longer exists.
        notEmpty.notify_all();
        return true;
    }

    // `started` alone cannot say "done": a run that pushes nothing never pops.
    // All workers up and waiting on an empty queue is done either way.
    bool DoneLocked() const {
        if (!active || stopped)
            return true;
        if (!running || paused)
            return false;
        return (waiting == threadCount && queue.empty()) || ended == threadCount;
    }

    void Manage(const Work& work) {
        OnQueueThread() = true;
        std::unique_lock<std::mutex> lock(mutex);
        if (!active)
            return;  // a Stop came before this thread did
        ResetLocked(kWorkers, false);
        // The workers are created under the mutex, so nobody sees the run
        // "up" before all of them exist.
        for (std::uint32_t i = 0; i < kWorkers; ++i) {
            try {
                workers.emplace_back([this, work] {
                    OnQueueThread() = true;
                    Run(work);
                });
            } catch (const std::exception& error) {
                LOG_ERROR("%s: cannot start worker %u: %s", Name(), static_cast<unsigned>(i), error.what());
                break;
            }
        }
        threadCount = static_cast<std::uint32_t>(workers.size());
        running = true;
        idle.wait(lock, [this] { return DoneLocked(); });
        const int code = result;
        lock.unlock();
        // On glibc a wide write to a stream with no orientation yet makes it
        // wide for good, and every later narrow line is lost; a narrow
        // stream still takes this wide write.
        std::fwide(stdout, -1);
        std::wcout << code << std::endl;
    }

    void StopSteps(std::uint8_t code, HWND window) {
        RunWhilePumping([this] { Pause(); }, window);
        RunWhilePumping([this, code] { ShutDown(code); }, window);
        RunWhilePumping([this] { JoinManager(); }, window);
    }

    void Pause() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!started || !running)
            return;
        paused = true;
        idle.notify_all();
        idle.wait(lock, [this] { return waiting >= threadCount; });
    }

    void ShutDown(std::uint8_t code) {
        std::vector<std::thread> leaving;
        {
            std::lock_guard<std::mutex> lock(mutex);
            // The result is set before the reset below and survives it, so a
            // WaitDone that wakes late still returns this code.
            result = code;
            stopped = true;
            active = false;
            ++stopEpoch;
            idle.notify_all();
            notEmpty.notify_all();
            leaving.swap(workers);
        }
        for (std::thread& worker : leaving) {
            if (worker.joinable())
                worker.join();
        }
        std::deque<T> left;
        Discard discardItem;
        {
            std::lock_guard<std::mutex> lock(mutex);
            left.swap(queue);
            discardItem = discard;
            ResetLocked(threadCount, true);
        }
        // Outside the mutex: freeing an item may report through callbacks.
        if (discardItem) {
            for (T& item : left)
                discardItem(item);
        }
    }

    void JoinManager() {
        std::thread leaving;
        {
            std::lock_guard<std::mutex> lock(mutex);
            leaving.swap(manager);
        }
        if (leaving.joinable())
            leaving.join();
    }

    void RequestStop(std::uint8_t code) {
        LOG_WARN("%s: Stop called from one of the queue's own threads; the workers leave, "
                 "the next Stop or Start joins them", Name());
        std::lock_guard<std::mutex> lock(mutex);
        result = code;
        stopped = true;
        idle.notify_all();
        notEmpty.notify_all();
    }

    std::thread manager;
    std::vector<std::thread> workers;
    std::deque<T> queue;
    Discard discard;
    std::mutex mutex;
    std::condition_variable notEmpty;
    std::condition_variable idle;
    std::uint32_t threadCount = 1;
    std::uint32_t waiting = 0;
    std::uint8_t result = 0;
    bool started = false;
    bool paused = false;
    bool stopped = false;

    // Serializes Start and Stop, so two stops never join the same thread and
    // a reset never clears `stopped` under a worker that has yet to see it.
    std::mutex controlMutex;
    std::uint32_t ended = 0;      // workers whose Run has returned
    bool running = false;         // the manager has started this run's workers
    bool active = false;          // a run was started and not yet stopped
    std::uint64_t stopEpoch = 0;  // counts shut-downs
};

}  // namespace Trova
