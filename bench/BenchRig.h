#pragma once

// The setting every round-trip benchmark shares: the virtual camera in-process over
// real TCP, a logged-in network link made current, a 1 ms poll interval and Pace at
// scale 1. A transaction can never be faster than its polls (the pause comes before
// each read), so figures are reported against that floor, measured in the same run
// (BM_PollFloor): overhead_pct = (time per op - polls x floor) / (polls x floor).

#include "CNetConnect.h"
#include "VirtualCamera.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace irbench_bench {

constexpr double kPollMs = 1.0;

struct CameraRig {
    CameraRig();
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect link;
    double floorMs = 0; // what one nominal 1 ms poll pause really costs
};

// Created on first use; exits the program when the camera cannot be reached.
CameraRig& rig();

void reportAgainstFloor(benchmark::State& state, std::chrono::steady_clock::duration spent, int polls);

} // namespace irbench_bench
