// Invariant checks for the fuzz targets. A broken invariant must stop the
// run at once so that libFuzzer saves the input; a trap does that in every
// build, whatever sanitizers are on.
#pragma once

#include <cstdio>

#define QEL_FUZZ_CHECK(condition)                                                               \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (0)
