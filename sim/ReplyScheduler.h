#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace irsim {

// Runs tasks (late replies, the second half of a split reply) at their due time on
// one timer thread, in due-time order; tasks due at the same time run in the order
// they were scheduled. The thread starts with the first task.
class ReplyScheduler {
public:
    using Task = std::function<void()>;

    ReplyScheduler() = default;
    ~ReplyScheduler();
    ReplyScheduler(const ReplyScheduler&) = delete;
    ReplyScheduler& operator=(const ReplyScheduler&) = delete;

    using Clock = std::chrono::steady_clock;

    void schedule(double delayMs, Task task);
    // At a point in time rather than after a delay (a line's byte clock).
    void scheduleAt(Clock::time_point due, Task task);
    // Drops every pending task and ends the thread (a later schedule() starts it again).
    void stop();
    size_t pending() const;

private:
    struct Item {
        Clock::time_point due;
        uint64_t seq;
        Task task;
    };
    struct Later {
        bool operator()(const Item& a, const Item& b) const
        {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };
    void run(uint64_t generation);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::priority_queue<Item, std::vector<Item>, Later> m_queue;
    uint64_t m_seq = 0;
    uint64_t m_generation = 0;
    std::thread m_thread;
};

} // namespace irsim
