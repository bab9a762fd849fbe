#include "Pace.h"

#include <atomic>
#include <chrono>
#include <thread>

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
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(v));
}
