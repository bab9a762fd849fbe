#include "CCursorWriter.h"

#include "CoreCommands.h"
#include "DataExchange.h"

#include <chrono>

namespace {
// Core registers of the cursor (0xF03D is shared with the core's own detection).
constexpr int kCursorModeValue = 15;
constexpr int kRegCrossShow = 0x7012; // 2: crosshair shown, 1: hidden
constexpr int kShortCursorPos = 0x33;  // (x << 16) + y
constexpr int kShortCursorCmd = 0x30;  // 13: take as bad, 14: take back
} // namespace

CCursorWriter::CCursorWriter(QObject* parent)
    : QObject(parent)
{
    m_thread = std::thread([this] { run(); });
}

CCursorWriter::~CCursorWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_cv.notify_all();
    m_thread.join();
}

void CCursorWriter::post(Op op, int x, int y)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (op == Move && !m_queue.empty() && m_queue.back().op == Move)
            m_queue.back() = Item{op, x, y};
        else
            m_queue.push_back(Item{op, x, y});
    }
    m_cv.notify_all();
}

bool CCursorWriter::waitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return m_queue.empty() && !m_busy; });
}

bool CCursorWriter::execute(Op op, int x, int y)
{
    DataExchange* dx = DataExchange::instance();
    int value = 0;
    switch (op) {
    case EnterMode:
        return dx->writeRegister(corecmd::kBadPixelRegister, kCursorModeValue);
    case Move:
        value = int((uint32_t(x) << 16) + uint32_t(y & 0xFFFF));
        return dx->writeRegisterSized(kShortCursorPos, &value, 4);
    case Confirm:
        value = 13;
        return dx->writeRegisterSized(kShortCursorCmd, &value, 1);
    case Revoke:
        value = 14;
        return dx->writeRegisterSized(kShortCursorCmd, &value, 1);
    case ShowCross:
        return dx->writeRegister(kRegCrossShow, 2);
    case HideCross:
        return dx->writeRegister(kRegCrossShow, 1);
    }
    return false;
}

void CCursorWriter::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        const Item item = m_queue.front();
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        const bool ok = execute(item.op, item.x, item.y);
        emit signalDone(int(item.op), ok);
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}
