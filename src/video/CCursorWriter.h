#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Sends the core-cursor register writes of the video page off the GUI thread, one
// at a time and in order. Moves that pile up while the link is busy collapse into the
// last one: only where the cursor ends up matters. Results come back on
// signalDone (queued to the receiver's thread).
class CCursorWriter : public QObject {
    Q_OBJECT
public:
    enum Op { EnterMode, Move, Confirm, Revoke, ShowCross, HideCross };

    explicit CCursorWriter(QObject* parent = nullptr);
    ~CCursorWriter() override;

    void post(Op op, int x = 0, int y = 0);
    // Waits (processing nothing) until every posted write is done; false on timeout.
    bool waitIdle(int timeoutMs);

    // The register writes themselves (run on the worker).
    static bool execute(Op op, int x, int y);

signals:
    void signalDone(int op, bool ok);

private:
    struct Item {
        Op op;
        int x;
        int y;
    };
    void run();

    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<Item> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
