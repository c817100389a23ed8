// The one road from worker threads to the page: a worker packs a closure
// (and a payload) into a task record, sends the record to the window's
// thread and waits until that thread has run it. Only the UI thread touches
// the web view.
//
//   PostUiTask([&] { page call }, window);             // runs on the UI thread, then returns
//   RunAsync(work, [] { page call }, window);           // work on a new thread, then the UI part
//   RunAsyncForBytes(readFile, [](const Bytes& b) { page call with b }, window);
//
// A window that is gone (or goes while the task waits) never runs the task
// and never keeps the worker waiting: the post gives up with one log line.
// An exception thrown by a closure is kept in the record and logged.
#pragma once

#include "fendrel/platform.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace uitask {

constexpr std::uint32_t kTaskBytes = 0x46B;  // lParam: TaskData<Bytes>*
constexpr std::uint32_t kTaskData = 0x46C;   // wParam: payload kind, lParam: TaskData<T>*
constexpr std::uint32_t kTask = 0x46D;       // lParam: TaskNoData*

using Bytes = std::vector<std::uint8_t>;

struct TaskNoData {
    std::function<void()> closure;
    std::exception_ptr error;
    std::atomic<std::uint8_t> wait{0};
    std::atomic<std::uint8_t> done{0};

    void Run();
};

template <typename T>
struct TaskData {
    T payload{};
    std::function<void(const T&)> closure;
    std::exception_ptr error;
    std::atomic<std::uint8_t> wait{0};
    std::atomic<std::uint8_t> done{0};

    void Run();
};

// Sends the record's message and waits for its done flag while the window
// lives; false when the task did not run.
bool SendAndWait(HWND window, std::uint32_t message, std::uintptr_t wParam, void* record,
                 const std::atomic<std::uint8_t>& done);
// Logs an exception a closure threw (the UI thread goes on).
void ReportError(const char* what, std::exception_ptr error);

// Runs the closure on the window's thread and waits for it.
bool PostUiTask(std::function<void()> closure, HWND window, std::uintptr_t wParam = 0);

template <typename T>
bool PostUiData(T payload, std::function<void(const T&)> closure, HWND window, std::uintptr_t kind) {
    auto record = std::make_shared<TaskData<T>>();
    record->payload = std::move(payload);
    record->closure = std::move(closure);
    record->wait = 1;
    return SendAndWait(window, kTaskData, kind, record.get(), record->done);
}

// Runs work on a new detached thread, then ui on the window's thread, then
// `finished` (if any) on the worker thread.
void RunAsync(std::function<void()> work, std::function<void()> ui, HWND window, std::uintptr_t wParam = 0,
              std::function<void()> finished = nullptr);
// The same with the work's bytes handed to ui.
void RunAsyncForBytes(std::function<Bytes()> work, std::function<void(const Bytes&)> ui, HWND window);

// For the window procedures: run the record a task message carries.
// Returns true when the message was a task message this function handles
// (kTask and kTaskBytes; kTaskData belongs to the window that posts it).
bool HandleTaskMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

template <typename T>
void TaskData<T>::Run() {
    try {
        closure(payload);
    } catch (...) {
        error = std::current_exception();
        ReportError("a UI task", error);
    }
    done.exchange(1);
}

}  // namespace uitask
