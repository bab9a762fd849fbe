#pragma once

#include <QString>

#include <atomic>
#include <functional>

class CFindFrame;

// The two long runs of the calibration page that follow the FPA temperature: the
// drift sweep's sampling and the stabilisation collections. Plain blocking functions
// for a worker thread; they never read a widget: everything comes in the job, and
// everything goes out through the hooks (called on the worker's thread).

constexpr int kDriftShortRegister = 0x13;      // one byte 0: the core stops compensating
constexpr int kStableStateRegister = 0x201048; // classes 1 and 2: 2 while collecting, 1 after
constexpr int kStableNumberRegister = 0xF050;  // the collection number just taken

struct DriftSamplingJob {
    CFindFrame* frames = nullptr;
    QString dataDir;
    bool clear = false;
    double step = 100;   // FPA change between samples, add-info units
    int frameCount = 10; // frames averaged per sample, 1..128
    const std::atomic<bool>* running = nullptr;
};

struct DriftSamplingHooks {
    std::function<void(int number, float temperature, int mean)> sampled;
    std::function<void(float temperature)> watched; // each look at the FPA
    std::function<void(const QString& text)> failed; // the run ends
};

// Short register 0x13 <- 0, a sample at once, then one whenever the FPA has moved by
// more than the step outside the 2550..2650 band, until `running` clears (looked at
// every 200 ms). Returns the samples taken.
int runDriftSampling(const DriftSamplingJob& job, const DriftSamplingHooks& hooks);

struct StableJob {
    CFindFrame* frames = nullptr;
    QString stableDir;   // StableFPA of the core
    bool clear = false;  // empty the data directory first
    double diff = 5;     // FPA step D
    int startNumber = 0; // first collection number
    int coreClass = 0;
    const std::atomic<bool>* running = nullptr;
    const std::atomic<bool>* judging = nullptr;
};

struct StableHooks {
    std::function<void(double seconds, double fpa)> watched;
    std::function<void(int k, double fpa, int mean)> collected;
    std::function<void(int next)> nextNumber;
    std::function<void(const QString& text)> warning; // the run goes on
    std::function<void(const QString& text)> failed;  // the run ends
};

// Classes 1 and 2: 0x201048 <- 1 and a second's wait first; around each collection
// 0x201048 <- 2, a second, the capture, 0x201048 <- 1, a second; then 0xF050 <- k.
// A collection at once and one whenever the FPA has moved by more than D, until
// `running` clears (looked at every 100 ms). Returns the collections taken.
int runStableJudging(const StableJob& job, const StableHooks& hooks);
