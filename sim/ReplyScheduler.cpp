#include "ReplyScheduler.h"

namespace irsim {

ReplyScheduler::~ReplyScheduler()
{
    stop();
}

void ReplyScheduler::schedule(double delayMs, Task task)
{
    if (!task)
        return;
    if (delayMs < 0)
        delayMs = 0;
    scheduleAt(Clock::now() + std::chrono::microseconds(int64_t(delayMs * 1000.0)), std::move(task));
}

void ReplyScheduler::scheduleAt(Clock::time_point due, Task task)
{
    if (!task)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable())
        m_thread = std::thread(&ReplyScheduler::run, this, m_generation);
    m_queue.push(Item{due, m_seq++, std::move(task)});
    m_wake.notify_one();
}

void ReplyScheduler::stop()
{
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_queue = decltype(m_queue)();
        worker = std::move(m_thread);
        m_wake.notify_all();
    }
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id())
        worker.join();
    else if (worker.joinable())
        worker.detach();
}

size_t ReplyScheduler::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

void ReplyScheduler::run(uint64_t generation)
{
    // A stop() followed by a new schedule() starts a new thread; this one then leaves.
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_generation == generation) {
        if (m_queue.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const auto due = m_queue.top().due;
        if (Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        Task task = std::move(const_cast<Item&>(m_queue.top()).task);
        m_queue.pop();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace irsim
