// Linux message queues: one per thread, all guarded by one process-wide
// mutex (messages are few; one lock keeps the send/destroy/thread-end races
// simple). Each thread has one condition variable, woken for anything that
// concerns it: a message sent or posted to it, a reply to its own send.
#include "fendrel/uiqueue.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace fendrel::ui {
namespace {

struct ThreadQueue;

struct SentCall {
    HWND window;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::intptr_t result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

struct ThreadQueue {
    std::condition_variable wake;
    std::deque<Message> posted;
    std::deque<std::shared_ptr<SentCall>> sent;
    bool quitPending = false;
    int quitCode = 0;
    bool alive = true;
};

struct WindowRecord {
    WindowProc proc;
    void* userData;
    std::shared_ptr<ThreadQueue> owner;
    bool destroying = false;
};

struct State {
    std::mutex mutex;
    std::unordered_map<HWND, WindowRecord> windows;
    std::uintptr_t nextHandle = 0x10000;
};

// Never destroyed: threads may still end (and clean up here) while static
// objects are being destroyed at exit.
State& Shared() {
    static State* state = new State;
    return *state;
}

void Complete(SentCall& call, std::intptr_t result) {
    call.result = result;
    call.done = true;
    call.sender->wake.notify_all();
}

// A thread that ends takes its windows with it and releases every sender
// still waiting on them, as Windows does.
void EndThread(const std::shared_ptr<ThreadQueue>& queue) {
    State& state = Shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    queue->alive = false;
    for (auto it = state.windows.begin(); it != state.windows.end();) {
        if (it->second.owner == queue)
            it = state.windows.erase(it);
        else
            ++it;
    }
    for (auto& call : queue->sent)
        Complete(*call, 0);
    queue->sent.clear();
    queue->posted.clear();
}

struct ThreadHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadHolder() {
        if (queue)
            EndThread(queue);
    }
};
thread_local ThreadHolder t_thread;

const std::shared_ptr<ThreadQueue>& Current() {
    if (!t_thread.queue)
        t_thread.queue = std::make_shared<ThreadQueue>();
    return t_thread.queue;
}

// Runs the oldest message sent to this thread, if any. Called with the lock
// held; the procedure runs without it.
bool AnswerOneSent(std::unique_lock<std::mutex>& lock, ThreadQueue& queue) {
    if (queue.sent.empty())
        return false;
    std::shared_ptr<SentCall> call = queue.sent.front();
    queue.sent.pop_front();
    auto it = Shared().windows.find(call->window);
    if (it == Shared().windows.end()) {
        Complete(*call, 0);
        return true;
    }
    WindowProc proc = it->second.proc;
    void* userData = it->second.userData;
    lock.unlock();
    std::intptr_t result = proc(call->window, call->message, call->wParam, call->lParam, userData);
    lock.lock();
    Complete(*call, result);
    return true;
}

}  // namespace

HWND CreateMessageWindow(WindowProc proc, void* userData) {
    if (!proc)
        return nullptr;
    const auto& queue = Current();
    State& state = Shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    HWND window = reinterpret_cast<HWND>(state.nextHandle);
    state.nextHandle += 4;
    state.windows.emplace(window, WindowRecord{proc, userData, queue});
    return window;
}

bool DestroyMessageWindow(HWND window) {
    const auto& queue = Current();
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    auto it = state.windows.find(window);
    if (it == state.windows.end() || it->second.owner != queue || it->second.destroying)
        return false;
    it->second.destroying = true;
    WindowProc proc = it->second.proc;
    void* userData = it->second.userData;
    lock.unlock();
    proc(window, kDestroy, 0, 0, userData);
    lock.lock();
    state.windows.erase(window);
    // Senders waiting on this window get 0 now rather than whenever this
    // thread next looks at its queue (it may never do so again).
    for (auto call = queue->sent.begin(); call != queue->sent.end();) {
        if ((*call)->window == window) {
            Complete(**call, 0);
            call = queue->sent.erase(call);
        } else {
            ++call;
        }
    }
    for (auto posted = queue->posted.begin(); posted != queue->posted.end();) {
        if (posted->window == window)
            posted = queue->posted.erase(posted);
        else
            ++posted;
    }
    return true;
}

bool IsMessageWindow(HWND window) {
    State& state = Shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.windows.count(window) != 0;
}

std::intptr_t Send(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto& me = Current();
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    auto it = state.windows.find(window);
    if (it == state.windows.end())
        return 0;
    std::shared_ptr<ThreadQueue> owner = it->second.owner;
    if (owner == me) {
        WindowProc proc = it->second.proc;
        void* userData = it->second.userData;
        lock.unlock();
        return proc(window, message, wParam, lParam, userData);
    }
    if (!owner->alive)
        return 0;
    auto call = std::make_shared<SentCall>(SentCall{window, message, wParam, lParam, 0, false, me});
    owner->sent.push_back(call);
    owner->wake.notify_all();
    while (!call->done) {
        if (AnswerOneSent(lock, *me))
            continue;
        me->wake.wait(lock);
    }
    return call->result;
}

bool Post(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::shared_ptr<ThreadQueue> target = window ? nullptr : Current();
    State& state = Shared();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (window) {
        auto it = state.windows.find(window);
        if (it == state.windows.end())
            return false;
        target = it->second.owner;
    }
    if (!target->alive)
        return false;
    target->posted.push_back(Message{window, message, wParam, lParam});
    target->wake.notify_all();
    return true;
}

void PostQuit(int exitCode) {
    const auto& me = Current();
    std::lock_guard<std::mutex> lock(Shared().mutex);
    me->quitPending = true;
    me->quitCode = exitCode;
    me->wake.notify_all();
}

bool GetNext(Message& message) {
    const auto& me = Current();
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
        if (AnswerOneSent(lock, *me))
            continue;
        if (!me->posted.empty()) {
            message = me->posted.front();
            me->posted.pop_front();
            return true;
        }
        // Quit comes after everything posted before it, as on Windows.
        if (me->quitPending) {
            me->quitPending = false;
            message = Message{nullptr, kQuit, static_cast<std::uintptr_t>(me->quitCode), 0};
            return false;
        }
        me->wake.wait(lock);
    }
}

std::intptr_t Dispatch(const Message& message) {
    if (!message.window)
        return 0;
    WindowProc proc;
    void* userData;
    {
        State& state = Shared();
        std::lock_guard<std::mutex> lock(state.mutex);
        auto it = state.windows.find(message.window);
        if (it == state.windows.end())
            return 0;
        proc = it->second.proc;
        userData = it->second.userData;
    }
    return proc(message.window, message.message, message.wParam, message.lParam, userData);
}

std::intptr_t DefaultProc(HWND, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

void RunWhileAnsweringSends(const std::function<void()>& work) {
    const auto& me = Current();
    State& state = Shared();
    bool finished = false;
    std::exception_ptr error;
    std::thread helper([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        finished = true;
        me->wake.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        while (!finished) {
            if (AnswerOneSent(lock, *me))
                continue;
            me->wake.wait(lock);
        }
    }
    helper.join();
    if (error)
        std::rethrow_exception(error);
}

}  // namespace fendrel::ui
