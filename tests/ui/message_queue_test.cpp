// The window's message queue under concurrent use: posts and waits racing the queue's close.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/HeadlessHost.h"
#include "ui/MessageQueue.h"

namespace {

TEST(MessageQueue, KeepsOrderAndRefusesPostsAfterClose) {
    ui::headless::HeadlessBackend::Install();
    std::atomic<int> wakes{0};
    ui::MessageQueue queue([&] { ++wakes; });
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_TRUE(queue.PostMessage(ui::kWmUser + i, i));
    EXPECT_EQ(wakes.load(), 5);
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(queue.Pop()->wParam, i);
    EXPECT_FALSE(queue.Pop());
    queue.Close();
    EXPECT_FALSE(queue.PostMessage(ui::kWmUser));
    EXPECT_FALSE(queue.Invoke([] {}));
    EXPECT_EQ(wakes.load(), 5);
    // On the UI thread a waiting call runs at once instead of waiting for itself.
    ui::MessageQueue open;
    EXPECT_EQ(open.InvokeAndWait([] { return 7; }), 7);
}

TEST(MessageQueue, WaitingThreadsAreReleasedWhateverTheOrderOfCloseAndPost) {
    ui::headless::HeadlessBackend::Install();
    // Repeated so the close lands before, during and after the workers' posts.
    for (int round = 0; round < 200; ++round) {
        auto queue = std::make_shared<ui::MessageQueue>();
        std::atomic<int> answered{0}, refused{0}, ran{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < 3; ++w) {
            workers.emplace_back([&, queue] {
                for (int i = 0; i < 5; ++i) {
                    auto r = queue->InvokeAndWait([&] { return ++ran; });
                    (r ? answered : refused)++;
                    queue->PostMessage(ui::kWmUser + 1);
                }
            });
        }
        // The UI thread serves a few calls, then the window goes away.
        for (int served = 0; served < round % 7;) {
            if (auto m = queue->Pop()) {
                if (m->task)
                    m->task();
                ++served;
            } else {
                std::this_thread::yield();
            }
        }
        queue->Close();
        for (auto& t : workers)
            t.join();
        EXPECT_EQ(answered + refused, 15);
        EXPECT_EQ(answered.load(), ran.load());
    }
}

}  // namespace
