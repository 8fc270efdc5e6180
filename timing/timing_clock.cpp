#include "timing_clock.h"

double MillisecondsBetween(const timespec& a, const timespec& b) {
    // In double before subtracting: with a 32-bit long (ARM) the difference of
    // two nanosecond fields that are not normalised may not fit.
    return ((static_cast<double>(a.tv_nsec) - static_cast<double>(b.tv_nsec)) / 1e9 +
            static_cast<double>(a.tv_sec - b.tv_sec)) *
           1000.0;
}

void PrintMilliseconds(FILE* out, double milliseconds) { fprintf(out, "%10.3f", milliseconds); }
