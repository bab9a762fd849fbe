#pragma once

// Process-wide clock for every fixed wait and poll interval of the system.
// Production runs at scale 1; tests shrink every pause by setting a smaller scale.
class Pace {
public:
    static void setScale(double scale);
    static double scale();

    // The given nominal pause in milliseconds after scaling (never negative).
    static double scaledMs(double ms);

    // Sleeps for the nominal pause `ms` times the scale.
    static void sleepMs(double ms);
};
