#include "fendrel/uiqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace ui = fendrel::ui;

namespace {

constexpr std::uint32_t kAsk = ui::kApp + 1;
constexpr std::uint32_t kStop = ui::kApp + 2;

using Handler = std::function<std::intptr_t(HWND, std::uint32_t, std::uintptr_t, std::intptr_t)>;

std::intptr_t CallHandler(HWND window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                          void* userData) {
    auto& handler = *static_cast<Handler*>(userData);
    if (message == kStop) {
        ui::PostQuit(0);
        return 0;
    }
    if (message != kAsk)
        return ui::DefaultProc(window, message, wParam, lParam);
    return handler(window, message, wParam, lParam);
}

// A thread that owns one window and runs the message loop until stopped.
class UiThread {
public:
    explicit UiThread(Handler handler) : m_handler(std::move(handler)) {
        std::promise<HWND> created;
        auto future = created.get_future();
        m_thread = std::thread([this, &created] {
            m_id = std::this_thread::get_id();
            HWND window = ui::CreateMessageWindow(CallHandler, &m_handler);
            created.set_value(window);
            ui::Message message;
            while (ui::GetNext(message))
                ui::Dispatch(message);
            ui::DestroyMessageWindow(window);
        });
        m_window = future.get();
    }
    ~UiThread() {
        ui::Post(m_window, kStop, 0, 0);
        m_thread.join();
    }
    HWND window() const { return m_window; }
    std::thread::id id() const { return m_id; }

private:
    Handler m_handler;
    std::thread m_thread;
    std::thread::id m_id;
    HWND m_window = nullptr;
};

// A send that should come back must do so; a hang would otherwise stall the
// whole test run. The limit is a watchdog, not a measurement.
std::intptr_t SendOrFail(HWND window, std::uintptr_t wParam) {
    auto result = std::async(std::launch::async, [=] { return ui::Send(window, kAsk, wParam, 0); });
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "send did not return";
        std::abort();
    }
    return result.get();
}

TEST(UiQueue, SendFromTheOwnerThreadCallsTheProcedureDirectly) {
    std::thread::id ranOn;
    Handler handler = [&](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        ranOn = std::this_thread::get_id();
        return static_cast<std::intptr_t>(wParam * 2);
    };
    HWND window = ui::CreateMessageWindow(CallHandler, &handler);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ui::Send(window, kAsk, 21, 0), 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(ui::DestroyMessageWindow(window));
    EXPECT_FALSE(ui::IsMessageWindow(window));
}

TEST(UiQueue, SendsFromManyThreadsRunOnTheOwnerAndReturnTheirResults) {
    std::mutex mutex;
    std::vector<std::thread::id> ranOn;
    UiThread owner([&](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        std::lock_guard<std::mutex> lock(mutex);
        ranOn.push_back(std::this_thread::get_id());
        return static_cast<std::intptr_t>(wParam + 1000);
    });
    std::atomic<int> wrong{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            for (std::uintptr_t i = 0; i < 50; ++i) {
                std::uintptr_t value = t * 100 + i;
                if (ui::Send(owner.window(), kAsk, value, 0) != static_cast<std::intptr_t>(value + 1000))
                    ++wrong;
            }
        });
    }
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(wrong.load(), 0);
    ASSERT_EQ(ranOn.size(), 200u);
    for (auto id : ranOn)
        EXPECT_EQ(id, owner.id());
}

TEST(UiQueue, SendToAGoneWindowReturnsZeroAtOnce) {
    Handler handler = [](HWND, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{1}; };

    HWND destroyed = ui::CreateMessageWindow(CallHandler, &handler);
    ASSERT_TRUE(ui::DestroyMessageWindow(destroyed));
    EXPECT_EQ(SendOrFail(destroyed, 0), 0);
    EXPECT_FALSE(ui::Post(destroyed, kAsk, 0, 0));

    // The thread ends without destroying its window: the window goes with it.
    HWND orphan = nullptr;
    std::thread([&] { orphan = ui::CreateMessageWindow(CallHandler, &handler); }).join();
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(ui::IsMessageWindow(orphan));
    EXPECT_EQ(SendOrFail(orphan, 0), 0);
}

TEST(UiQueue, OnlyTheOwnerThreadDestroysAWindow) {
    Handler handler = [](HWND, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{1}; };
    HWND window = ui::CreateMessageWindow(CallHandler, &handler);
    bool destroyedElsewhere = true;
    std::thread([&] { destroyedElsewhere = ui::DestroyMessageWindow(window); }).join();
    EXPECT_FALSE(destroyedElsewhere);
    EXPECT_TRUE(ui::IsMessageWindow(window));
    EXPECT_TRUE(ui::DestroyMessageWindow(window));
}

// The owner stops looking at its queue while a sender waits on it: destroying
// the window, or ending the thread, must release the sender with 0. The short
// pause only makes it likely that the send is already queued; if it is not,
// the send meets a gone window and must return 0 just the same.
TEST(UiQueue, AWaitingSenderIsReleasedWhenTheWindowOrItsThreadGoes) {
    for (bool endThread : {false, true}) {
        SCOPED_TRACE(endThread ? "thread ends" : "window destroyed");
        Handler handler = [](HWND, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{1}; };
        std::promise<HWND> created;
        std::promise<void> release;
        auto released = release.get_future();
        std::thread owner([&] {
            HWND window = ui::CreateMessageWindow(CallHandler, &handler);
            created.set_value(window);
            released.wait();
            if (!endThread)
                ui::DestroyMessageWindow(window);
            // Either way this thread never reads its queue again.
        });
        HWND window = created.get_future().get();
        auto sent = std::async(std::launch::async, [=] { return ui::Send(window, kAsk, 0, 0); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        release.set_value();
        owner.join();
        ASSERT_EQ(sent.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "sender hangs";
        EXPECT_EQ(sent.get(), 0);
    }
}

TEST(UiQueue, PostedMessagesArriveInOrderAndQuitComesLast) {
    std::vector<std::uintptr_t> seen;
    Handler handler = [&](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        seen.push_back(wParam);
        return std::intptr_t{0};
    };
    HWND window = ui::CreateMessageWindow(CallHandler, &handler);
    ASSERT_TRUE(ui::Post(window, kAsk, 1, 0));
    ui::PostQuit(7);
    // Posted after the quit request, still delivered before it.
    std::thread([&] { ui::Post(window, kAsk, 2, 0); }).join();
    ASSERT_TRUE(ui::Post(nullptr, kAsk, 3, 0));

    ui::Message message;
    std::vector<std::uintptr_t> threadMessages;
    while (ui::GetNext(message)) {
        if (message.window)
            ui::Dispatch(message);
        else
            threadMessages.push_back(message.wParam);
    }
    EXPECT_EQ(message.message, ui::kQuit);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_EQ(seen, (std::vector<std::uintptr_t>{1, 2}));
    EXPECT_EQ(threadMessages, (std::vector<std::uintptr_t>{3}));
    ui::DestroyMessageWindow(window);
}

// A sends to B, and B's procedure sends back to A before answering: A must
// answer while it waits, or both wait forever.
TEST(UiQueue, ASenderAnswersSendsToItsOwnWindowsWhileItWaits) {
    std::thread::id mainId = std::this_thread::get_id();
    std::thread::id answeredOn;
    Handler mine = [&](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        answeredOn = std::this_thread::get_id();
        return static_cast<std::intptr_t>(wParam + 1);
    };
    HWND myWindow = ui::CreateMessageWindow(CallHandler, &mine);
    UiThread other([&](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        return ui::Send(myWindow, kAsk, wParam * 10, 0) * 2;
    });
    EXPECT_EQ(ui::Send(other.window(), kAsk, 4, 0), 82);
    EXPECT_EQ(answeredOn, mainId);
    ui::DestroyMessageWindow(myWindow);
}

TEST(UiQueue, RunWhileAnsweringSendsLetsTheHelperReachThisThread) {
    Handler handler = [](HWND, std::uint32_t, std::uintptr_t wParam, std::intptr_t) {
        return static_cast<std::intptr_t>(wParam * 3);
    };
    HWND window = ui::CreateMessageWindow(CallHandler, &handler);
    ASSERT_TRUE(ui::Post(window, kAsk, 99, 0));
    std::intptr_t result = 0;
    ui::RunWhileAnsweringSends([&] { result = ui::Send(window, kAsk, 5, 0); });
    EXPECT_EQ(result, 15);

    // The posted message was left in the queue.
    ui::PostQuit(0);
    ui::Message message;
    int posted = 0;
    while (ui::GetNext(message))
        ++posted;
    EXPECT_EQ(posted, 1);
    ui::DestroyMessageWindow(window);
}

}  // namespace
