#include "ui/MessageQueue.h"

#include <condition_variable>
#include <memory>

#include "ui/Host.h"

namespace ui {
namespace {

struct SyncCall {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
};

// Signals the waiting caller when the task that owns it is destroyed: after it ran, or when
// the queue dropped it unrun.
struct SyncFinisher {
    std::shared_ptr<SyncCall> call;
    ~SyncFinisher() {
        std::lock_guard lock(call->mutex);
        call->done = true;
        call->cv.notify_all();
    }
};

}  // namespace

bool MessageQueue::Invoke(std::function<void()> task) {
    if (!task)
        return false;
    return Post({0, 0, 0, std::move(task)});
}

bool MessageQueue::InvokeSync(std::function<void()> task) {
    if (IsUiThread()) {
        task();
        return true;
    }
    auto call = std::make_shared<SyncCall>();
    {
        std::shared_ptr<SyncFinisher> finisher(new SyncFinisher{call});
        auto wrapped = [finisher, task = std::move(task)] {
            task();
            std::lock_guard lock(finisher->call->mutex);
            finisher->call->ran = true;
        };
        if (!Post({0, 0, 0, std::move(wrapped)}))
            return false;
    }
    std::unique_lock lock(call->mutex);
    call->cv.wait(lock, [&] { return call->done; });
    return call->ran;
}

bool MessageQueue::Post(Message message) {
    std::function<void()> wake;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        m_messages.push_back(std::move(message));
        wake = m_wake;
    }
    if (wake)
        wake();
    return true;
}

std::optional<MessageQueue::Message> MessageQueue::Pop() {
    std::lock_guard lock(m_mutex);
    if (m_messages.empty())
        return std::nullopt;
    Message m = std::move(m_messages.front());
    m_messages.pop_front();
    return m;
}

void MessageQueue::Close() {
    std::deque<Message> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        dropped.swap(m_messages);
        m_wake = nullptr;
    }
    // Destroyed outside the lock: a dropped task's destructor wakes the thread waiting on it.
}

bool MessageQueue::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

size_t MessageQueue::Size() const {
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

}  // namespace ui
