#include "host/uitask.h"

#include "fendrel/logger.h"
#include "fendrel/uiqueue.h"

#include <chrono>
#include <thread>

namespace uitask {

namespace {
constexpr const char* kSource = "host/uitask";
}

void TaskNoData::Run() {
    try {
        closure();
    } catch (...) {
        error = std::current_exception();
        ReportError("a UI task", error);
    }
    done.exchange(1);
}

void ReportError(const char* what, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        Logger_ErrorF(kSource, __LINE__, "%s threw: %s", what, e.what());
    } catch (...) {
        Logger_ErrorF(kSource, __LINE__, "%s threw an unknown exception", what);
    }
}

bool SendAndWait(HWND window, std::uint32_t message, std::uintptr_t wParam, void* record,
                 const std::atomic<std::uint8_t>& done) {
    fendrel::ui::Send(window, message, wParam, reinterpret_cast<std::intptr_t>(record));
    // The send returns once the handler has run, so this normally finds the
    // flag set; it only waits on while the window still exists.
    while (done.load() == 0) {
        if (!fendrel::ui::IsMessageWindow(window)) {
            Logger_WarnF(kSource, __LINE__, "task 0x%X dropped: its window is gone", message);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool PostUiTask(std::function<void()> closure, HWND window, std::uintptr_t wParam) {
    auto record = std::make_shared<TaskNoData>();
    record->closure = std::move(closure);
    record->wait = 1;
    return SendAndWait(window, kTask, wParam, record.get(), record->done);
}

void RunAsync(std::function<void()> work, std::function<void()> ui, HWND window, std::uintptr_t wParam,
              std::function<void()> finished) {
    std::thread([work = std::move(work), ui = std::move(ui), window, wParam, finished = std::move(finished)] {
        try {
            work();
        } catch (...) {
            ReportError("an asynchronous task", std::current_exception());
        }
        PostUiTask(ui, window, wParam);
        if (finished)
            finished();
    }).detach();
}

void RunAsyncForBytes(std::function<Bytes()> work, std::function<void(const Bytes&)> ui, HWND window) {
    auto record = std::make_shared<TaskData<Bytes>>();
    record->closure = std::move(ui);
    std::thread([record, work = std::move(work), window] {
        try {
            record->payload = work();
        } catch (...) {
            ReportError("an asynchronous task", std::current_exception());
        }
        record->wait = 1;
        SendAndWait(window, kTaskBytes, 0, record.get(), record->done);
    }).detach();
}

bool HandleTaskMessage(std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
    if (message == kTask) {
        if (auto* record = reinterpret_cast<TaskNoData*>(lParam))
            record->Run();
        return true;
    }
    if (message == kTaskBytes) {
        if (auto* record = reinterpret_cast<TaskData<Bytes>*>(lParam))
            record->Run();
        return true;
    }
    return false;
}

}  // namespace uitask
