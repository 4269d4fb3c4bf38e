#pragma once
// A window's private message queue: messages (kWmUser + n, system commands, timers) and tasks
// that other threads hand to the UI thread, handled there one at a time in the order posted.
//
// Post, Invoke, InvokeAndWait and Close may be called from any thread; Pop from the UI thread.
// After Close (the window is gone) posts are refused and pending entries are dropped, which
// releases any thread waiting for a task's answer. A thread that talks to a window keeps a
// shared_ptr to its queue rather than a pointer to the window: the queue outlives it safely.

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>

#include "ui/Messages.h"

namespace ui {

class MessageQueue {
public:
    struct Message {
        unsigned id = 0;
        WParam wParam = 0;
        LParam lParam = 0;
        std::function<void()> task;  // set: run it instead of handling `id`
    };

    // `wake` is called (outside the lock, on the posting thread) after every accepted post.
    explicit MessageQueue(std::function<void()> wake = {}) : m_wake(std::move(wake)) {}

    bool Post(Message message);
    bool PostMessage(unsigned id, WParam wParam = 0, LParam lParam = 0) {
        return Post({id, wParam, lParam, nullptr});
    }
    // Queues a task for the UI thread; false once the queue is closed.
    bool Invoke(std::function<void()> task);
    // Runs `fn` on the UI thread and returns its result, blocking the caller until then (on the
    // UI thread it runs at once); nullopt when the queue closed before it ran.
    template <typename F>
    auto InvokeAndWait(F&& fn) -> std::optional<std::invoke_result_t<F>>;
    // The same without a result; false when it did not run.
    bool InvokeSync(std::function<void()> task);
    std::optional<Message> Pop();
    void Close();
    bool IsClosed() const;
    size_t Size() const;

private:
    mutable std::mutex m_mutex;
    std::deque<Message> m_messages;
    bool m_closed = false;
    std::function<void()> m_wake;
};

template <typename F>
auto MessageQueue::InvokeAndWait(F&& fn) -> std::optional<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    static_assert(!std::is_void_v<R>, "InvokeAndWait needs a result; use InvokeSync");
    std::optional<R> result;
    if (!InvokeSync([&] { result.emplace(fn()); }))
        return std::nullopt;
    return result;
}

}  // namespace ui
