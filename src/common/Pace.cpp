#include "Pace.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/prctl.h>

namespace {
std::atomic<double> g_scale{1.0};
}

void Pace::setScale(double scale)
{
    g_scale.store(scale < 0.0 ? 0.0 : scale);
}

double Pace::scale()
{
    return g_scale.load();
}

double Pace::scaledMs(double ms)
{
    double v = ms * g_scale.load();
    return v < 0.0 ? 0.0 : v;
}

void Pace::sleepMs(double ms)
{
    const double v = scaledMs(ms);
    if (v <= 0.0)
        return;
    // The kernel may stretch a sleep by the thread's timer slack (50 us by default);
    // with short poll intervals that is several percent of every transaction.
    thread_local const bool tightSlack = ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    (void)tightSlack;
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(v));
}
